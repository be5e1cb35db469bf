// Every registry key and value name this product reads or writes, in one place. Paths are
// relative to the root named beside them; class data is relative to a scope's classes
// (HKEY_LOCAL_MACHINE\Software\Classes or HKEY_CURRENT_USER\Software\Classes).
#pragma once

namespace orvane {

// The product's own key, under HKEY_LOCAL_MACHINE for all users (the per-file table and
// the folder backups) and under HKEY_CURRENT_USER for this user (the same, and the
// dialog's own state).
constexpr const wchar_t SoftwareKey[] = L"Software";
constexpr const wchar_t CompanyKey[] = L"Software\\Brindlewick Software";
constexpr const wchar_t ProductKey[] = L"Software\\Brindlewick Software\\Orvane";
constexpr const wchar_t FileIconsKey[] = L"Software\\Brindlewick Software\\Orvane\\FileIcons";
// Beside the per-file table, in the same scope: the identity on its volume of the file
// each entry was written for (FileIdentity.h), one REG_BINARY value under the entry's name.
constexpr const wchar_t FileIconIdsKey[] = L"Software\\Brindlewick Software\\Orvane\\FileIconIds";
constexpr const wchar_t FolderBackupKey[] = L"Software\\Brindlewick Software\\Orvane\\FolderBAKIcons";
// Beside each folder backup, how the folder stood before the first change (FolderFirstState.h).
constexpr const wchar_t FolderStateKey[] = L"Software\\Brindlewick Software\\Orvane\\FolderBAKStates";

// A scope's classes: all users' relative to HKEY_LOCAL_MACHINE, this user's relative to
// HKEY_CURRENT_USER. HKLM\Software\Classes is opened by this name, so that its own
// rights are the ones asked: opening HKEY_CLASSES_ROOT with an empty path answers for the
// predefined key instead.
constexpr const wchar_t MachineClassesKey[] = L"Software\\Classes";
constexpr const wchar_t UserClassesKey[] = L"Software\\Classes";

// Below a class: its icon, and what this extension kept of it while it is the class's
// icon handler.
constexpr const wchar_t DefaultIconKey[] = L"DefaultIcon";
constexpr const wchar_t DefaultIconBackupKey[] = L"DefaultIconBAK";
constexpr const wchar_t ShellexKey[] = L"shellex";
constexpr const wchar_t IconHandlerKey[] = L"shellex\\IconHandler";
constexpr const wchar_t IconHandlerBackupKey[] = L"shellex\\IconHandlerBAK";
constexpr const wchar_t CurVerKey[] = L"CurVer";
// What DefaultIcon holds while an icon handler serves the class: the shell then asks the
// handler for every file instead of using one icon for the whole class.
constexpr const wchar_t HandlerIconText[] = L"%1";
// Values beside DefaultIcon's default value: the first icon the system replaced, and the
// type's icon chosen while this extension is the class's icon handler.
constexpr const wchar_t BackupIconValue[] = L"BAKIconInfo";
constexpr const wchar_t HandlerIconValue[] = L"HandlerIconInfo";

// The class this user chose for an extension: "ProgId" of
// HKCU\<FileExtsKey>\<extension>\UserChoice.
constexpr const wchar_t FileExtsKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts";
constexpr const wchar_t UserChoiceKey[] = L"UserChoice";
constexpr const wchar_t ProgIdValue[] = L"ProgId";

// Drive icons: a letter's DefaultIcon key below HKLM\<DriveIconsKey> for all users, and
// below HKCU\Software\Classes\<UserDriveIconsKey> for this user, which Explorer reads
// first.
// The Drive class, whose DefaultIcon every drive without an icon of its own shows.
constexpr const wchar_t DriveClassKey[] = L"Drive";
constexpr const wchar_t ExplorerKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer";
constexpr const wchar_t DriveIconsKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\DriveIcons";
constexpr const wchar_t UserDriveIconsKey[] = L"Applications\\Explorer.exe\\Drives";
// Beside the icon in a letter's DefaultIcon key that this product set: the icon the
// drive had before its first change, a copy of that default value (its registry type
// and bytes as they were; REG_SZ "path,index" as a rule), present only when there was
// one; and the number of keys that change created, from DefaultIcon upwards (a
// REG_DWORD), which marks the entry as this product's. An entry without it was set by
// someone else: it is backed up when changed and never taken out.
constexpr const wchar_t DriveBackupValue[] = L"BAKIconInfo";
constexpr const wchar_t DriveCreatedKeysValue[] = L"BAKKeysCreated";

} // namespace orvane
