// A folder's backup value as FolderBAKIcons stores it: the icon before the change
// (location short form), the entries listed behind it, and how the Desktop.ini started.
// Private to the folder room.
#pragma once

#include <windows.h>

#include <cstddef>
#include <optional>

#include "DesktopIni.h"
#include "IconLocation.h"
#include "Registry.h"
#include "Scope.h"

namespace orvane {

// The most units a backup value may hold: its location and three entries.
constexpr std::size_t BackupUnits = 2048;

// A backup value as it is stored.
struct BackupValue {
    DWORD Type = REG_SZ;
    DWORD Size = 0; // bytes
    wchar_t Data[BackupUnits + 1] = {};
};

// The folder's backup value in an open FolderBAKIcons key; bounded, never trusted to be
// terminated.
LONG QueryBackupValue(HKEY key, const wchar_t* folder, BackupValue& value);

// The folder's backup value in the scope's FolderBAKIcons key.
LONG ReadBackupValue(Scope scope, const wchar_t* folder, BackupValue& value);

// The scope's FolderBAKIcons key, made where it is missing, to hold a folder's backup.
LONG CreateBackupKey(Scope scope, const wchar_t* folder, RegKey& key);

// Writes the folder's backup value into the scope's FolderBAKIcons key (CreateBackupKey).
LONG SetBackupValue(Scope scope, const wchar_t* folder, DWORD type, const void* data, DWORD size);

// The location a backup value starts with: the text up to its first terminator.
std::optional<IconLocation> LocationOfBackup(const BackupValue& value, const wchar_t* folder);

// The entries listed behind the location, each "Name=text". False when there are none,
// or when the list holds anything else (then the location alone is restored).
bool ListedEntriesOfBackup(const BackupValue& value, desktop_ini::ListedEntries& listed);

// How the Desktop.ini stood before the change, where the backup keeps it (behind the
// list of entries); nothing differed where it does not.
desktop_ini::DesktopIniStart DesktopIniStartOfBackup(const BackupValue& value);

// The backup value of the folder as it stands, as earlier builds wrote it too: the icon the
// folder shows (the Folder class's where the entries name none; empty where none is
// known), the entries that stand there where they are not the three naming that icon, and
// how the Desktop.ini started. `used` counts its units, terminators included.
// ERROR_FILENAME_EXCED_RANGE when it does not fit.
LONG ComposeBackupValue(const wchar_t* folder, const desktop_ini::FolderNow& now, BackupValue& value, DWORD& type,
                        std::size_t& used);

} // namespace orvane
