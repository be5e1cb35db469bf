#include "IconTarget.h"

#include <cstring>
#include <string_view>

#include "DriveIcons.h"
#include "FileIconTable.h"
#include "FileTypeIcons.h"
#include "FolderIcons.h"
#include "PathText.h"
#include "Registry.h"

namespace orvane {

namespace {

// "IconFile" is read back through 259 bytes, so a longer path would return as another one.
constexpr std::size_t FolderIconPathLimit = TextCapacity - 2;

// The extension of the file name in path, dot included. False when the name has none,
// or only a dot: then there is no class name to derive from it.
bool ExtensionOf(const char* path, char (&extension)[TextCapacity])
{
    extension[0] = '\0';
    const std::string_view found = FileExtension(std::string_view(path, strnlen(path, TextCapacity)));
    return NamesFileClass(found) && CopyText(extension, sizeof extension, found);
}

// The longest key path the type and handler stores compose below a class is
// "<class>\shellex\IconHandlerBAK"; a class name that leaves no room for it is refused
// before anything is written.
bool ClassPathsFit(const char* typeKey)
{
    char path[TextCapacity];
    return FormatKeyPath(path, sizeof path, "%s\\shellex\\IconHandlerBAK", typeKey);
}

bool TextFormFits(const IconLocation& location, bool withTypeKey)
{
    char text[TextCapacity];
    return FormatIconLocation(location, withTypeKey, text, sizeof text);
}

// The type's icon as the files of the type without an entry of their own show it, and as
// the class keeps it once this extension's handler is uninstalled again. While the handler
// is installed DefaultIcon only says "%1": a backup taken of that and later written back
// would leave every file of the type without an icon.
std::optional<IconLocation> ReadTypeIconOfFiles(const char* extension)
{
    std::optional<IconLocation> typeIcon = ReadTypeDefaultIcon(extension);
    if (typeIcon && IsOwnHandlerPlaceholder(*typeIcon))
        return ReadTypeIconBehindHandler(*typeIcon);
    return typeIcon;
}

// Where a change of a folder's or a drive's icon goes. A scope chosen on purpose is kept
// (whether it accepts the write is asked afterwards). Automatic stays with this user
// while the target's icon is set for this user: a change for all users would stay hidden
// behind it (a drive's) or be made over it (a folder's); otherwise all users when this
// process may write all users' place of the kind, this user when it may not.
template <class MayWriteAllUsers>
Scope ScopeOfChange(ScopeChoice choice, bool setForThisUser, MayWriteAllUsers mayWriteAllUsers)
{
    switch (choice) {
    case ScopeChoice::AllUsers:
        return Scope::AllUsers;
    case ScopeChoice::ThisUser:
        return Scope::ThisUser;
    case ScopeChoice::Automatic:
        break;
    }
    if (setForThisUser)
        return Scope::ThisUser;
    return mayWriteAllUsers() ? Scope::AllUsers : Scope::ThisUser;
}

// The scope whose setting a restore takes back: a chosen one, or the one the user sees
// (this user's first). The scopes that hold a setting are asked through `holds`.
template <class Holds>
std::optional<Scope> ScopeOfRestore(ScopeChoice choice, Holds holds)
{
    switch (choice) {
    case ScopeChoice::AllUsers:
        return holds(Scope::AllUsers) ? std::optional<Scope>(Scope::AllUsers) : std::nullopt;
    case ScopeChoice::ThisUser:
        return holds(Scope::ThisUser) ? std::optional<Scope>(Scope::ThisUser) : std::nullopt;
    case ScopeChoice::Automatic:
        break;
    }
    for (const Scope scope : {Scope::ThisUser, Scope::AllUsers}) {
        if (holds(scope))
            return scope;
    }
    return std::nullopt;
}

bool HoldsFolderBackup(const char* folder, Scope scope) { return ReadFolderBackupOf(scope, folder).has_value(); }

Scope ScopeOfFolderChange(ScopeChoice choice, const char* folder)
{
    return ScopeOfChange(choice, HoldsFolderBackup(folder, Scope::ThisUser),
                         [] { return MayUseFolderBackups(Scope::AllUsers); });
}

// The folder's backup, taken in the scope of a change. One folder has one Desktop.ini for
// both scopes, so its backups form one chain, this user's change (when there is one)
// last: a change for all users made over this user's change takes this user's backup
// over (the icon from before this user's change) and this user's backup goes.
LONG SaveFolderBackup(const IconLocation& original, const char* folder, Scope scope)
{
    const std::optional<IconLocation> userBackup =
        scope == Scope::AllUsers ? ReadFolderBackupOf(Scope::ThisUser, folder) : std::nullopt;
    const LONG status = WriteFolderBackup(userBackup ? *userBackup : original, folder, scope);
    if (status != ERROR_SUCCESS || !userBackup)
        return status;
    return DeleteFolderBackup(folder, Scope::ThisUser);
}

// Restores a folder's change of one scope. All users' change under this user's one is
// taken out of the chain only: the folder keeps showing this user's icon, whose backup
// now holds what all users' change had replaced.
LONG RestoreFolderBackup(const IconLocation& backup, const char* folder, Scope scope)
{
    if (scope == Scope::AllUsers && HoldsFolderBackup(folder, Scope::ThisUser)) {
        const LONG status = WriteFolderBackup(backup, folder, Scope::ThisUser);
        if (status != ERROR_SUCCESS)
            return status;
        return DeleteFolderBackup(folder, Scope::AllUsers);
    }
    // The backup goes only once the folder holds it again.
    const LONG status = WriteFolderIcon(backup);
    if (status != ERROR_SUCCESS)
        return status;
    return DeleteFolderBackup(folder, scope);
}

} // namespace

TargetKind ClassifyTarget(const char* path)
{
    const DWORD attributes = path != nullptr ? GetFileAttributesA(path) : INVALID_FILE_ATTRIBUTES;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        return TargetKind::File;
    if (path != nullptr && strnlen(path, 4) == 3 && path[2] == '\\')
        return TargetKind::Drive;
    return TargetKind::Folder;
}

ChangeResult ResultFromStatus(LONG status)
{
    switch (status) {
    case ERROR_SUCCESS:
        return ChangeResult::Done;
    case ERROR_ACCESS_DENIED:
        return ChangeResult::AccessDenied;
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_BUFFER_OVERFLOW:
        return ChangeResult::PathTooLong;
    default:
        return ChangeResult::WriteFailed;
    }
}

LONG SetTypeIcon(const IconLocation& location)
{
    if (!IsOwnIconHandler(location))
        return WriteTypeDefaultIcon(location);
    // While this extension serves the class's icons, DefaultIcon must stay "%1". The icon
    // handler answers the type's icon from "HandlerIconInfo"; uninstalling puts
    // DefaultIconBAK back into DefaultIcon, so it must hold the same icon, or the type
    // would fall back to whatever it had when the handler was installed.
    const LONG status = WriteTypeHandlerIcon(location);
    if (status != ERROR_SUCCESS)
        return status;
    return WriteDefaultIconBackup(location);
}

IconTarget::IconTarget(const char* path)
{
    // A path without its terminator within the field is never handed to the platform.
    if (path == nullptr || !CopyText(path_, sizeof path_, path))
        return;
    kind_ = ClassifyTarget(path_);
}

const std::optional<IconLocation>& IconTarget::ReadCurrentIcon()
{
    switch (Kind()) {
    case TargetKind::Folder: {
        Current = ReadFolderIcon(path_);
        // The icon itself is in the folder for both scopes; it is set for the scope whose
        // backup says that this product changed it.
        Scope backupScope = Scope::AllUsers;
        currentScope_.reset();
        if (ReadFolderBackup(path_, &backupScope))
            currentScope_ = backupScope;
        break;
    }
    case TargetKind::File: {
        char extension[TextCapacity];
        const bool hasExtension = ExtensionOf(path_, extension);
        std::optional<IconLocation> found = ReadFileIcon(path_);
        if (!found && hasExtension)
            found = ReadTypeIconOfFiles(extension);
        if (found) {
            Current = found;
            allOfType_ = false;
        } else if (hasExtension && HasIconHandler(extension)) {
            Current = ReadTypeHandlerIcon(extension);
        }
        break;
    }
    case TargetKind::Drive: {
        currentScope_.reset();
        Current = ReadDriveIcon(path_, &currentScope_);
        break;
    }
    case TargetKind::Unclassified:
        break;
    }
    return Current;
}

void IconTarget::RememberOriginal(const std::optional<IconLocation>& location)
{
    if (location)
        original_ = location;
}

bool IconTarget::HasBackup() const
{
    switch (Kind()) {
    case TargetKind::Folder:
        return ScopeOfRestore(scopeChoice_, [&](Scope scope) { return HoldsFolderBackup(path_, scope); }).has_value();
    case TargetKind::File:
        if (!allOfType_)
            return true;
        return Current && Current->Owner[0] != '\0' && ReadTypeBackupIcon(Current->Owner).has_value();
    case TargetKind::Drive:
        return true;
    case TargetKind::Unclassified:
        break;
    }
    return false;
}

ChangeResult IconTarget::SaveBackup() const
{
    switch (Kind()) {
    case TargetKind::Folder: {
        // A scope whose backup place refuses takes no change, even one without a backup.
        const Scope scope = ScopeOfFolderChange(scopeChoice_, path_);
        if (!MayWriteFolderBackup(scope))
            return ChangeResult::AccessDenied;
        // Replaced on every change, so it holds the icon the folder had when the dialog
        // opened.
        if (original_)
            return ResultFromStatus(SaveFolderBackup(*original_, path_, scope));
        break;
    }
    case TargetKind::File: {
        // The type's backup is written once and keeps the icon from before the first
        // change; a single file never needs one.
        if (HasBackup() || !original_)
            break;
        // A file with an entry of its own started the dialog from that entry, which is
        // not the type's icon: the type's own is backed up instead.
        char extension[TextCapacity];
        if (ReadFileIcon(path_) && ExtensionOf(path_, extension)) {
            const std::optional<IconLocation> typeIcon = ReadTypeIconOfFiles(extension);
            if (!typeIcon)
                break;
            return ResultFromStatus(WriteTypeBackupIcon(*typeIcon));
        }
        return ResultFromStatus(WriteTypeBackupIcon(*original_));
    }
    case TargetKind::Drive:
    case TargetKind::Unclassified:
        break;
    }
    return ChangeResult::Done;
}

ChangeResult IconTarget::ApplyIcon()
{
    const TargetKind kind = Kind();

    if (kind == TargetKind::Folder) {
        changedScope_ = ScopeOfFolderChange(scopeChoice_, path_);
        if (!Current)
            return SaveBackup();
        IconLocation location = *Current;
        if (location.Owner[0] == '\0')
            location.SetOwner(path_);
        char profile[TextCapacity];
        if (!FormatProfilePath(location.Owner, profile) ||
            strnlen(location.IconPath, TextCapacity) > FolderIconPathLimit)
            return ChangeResult::PathTooLong;
        const ChangeResult backup = SaveBackup();
        if (backup != ChangeResult::Done)
            return backup;
        Current = location;
        return ResultFromStatus(WriteFolderIcon(*Current));
    }

    if (kind == TargetKind::File) {
        char extension[TextCapacity];
        if (!ExtensionOf(path_, extension))
            return ChangeResult::NoExtension;
        IconLocation location = Current ? *Current : IconLocation();
        if (!Current || location.Owner[0] == '\0') {
            // The class is named after the extension, letter case kept: REPORT.ABC gives
            // ABCfile.
            char typeKey[TextCapacity];
            if (!FormatKeyPath(typeKey, sizeof typeKey, "%sfile", extension + 1) ||
                !location.SetTypeKey(typeKey) || !location.SetOwner(extension))
                return ChangeResult::PathTooLong;
        }
        if (location.TypeKey[0] == '\0')
            return ChangeResult::WriteFailed;
        // Everything that could be refused for its length is refused before the backup
        // is written, so that a refusal leaves nothing behind.
        if (!ClassPathsFit(location.TypeKey) || !TextFormFits(location, !allOfType_))
            return ChangeResult::PathTooLong;
        const ChangeResult backup = SaveBackup();
        if (backup != ChangeResult::Done)
            return backup;
        Current = location;

        if (allOfType_)
            return ResultFromStatus(SetTypeIcon(*Current));
        const LONG status = WriteFileIcon(*Current, path_);
        if (status != ERROR_SUCCESS)
            return ResultFromStatus(status);
        if (IsOwnIconHandler(*Current))
            return ChangeResult::Done;
        return ResultFromStatus(InstallIconHandler(*Current));
    }

    if (kind == TargetKind::Drive) {
        if (!Current)
            return ChangeResult::Done;
        if (Current->Owner[0] == '\0')
            Current->SetOwner(path_);
        const char* drive = Current->Owner;
        const Scope scope = ScopeOfChange(scopeChoice_, DriveEntryScope(drive) == Scope::ThisUser,
                                          [] { return MayUseDriveIcons(Scope::AllUsers); });
        changedScope_ = scope;
        // Asked before anything is written; what names no drive is refused as ever below.
        if (NamesDrive(drive) && !MayWriteDriveIcon(scope, drive))
            return ChangeResult::AccessDenied;
        return ResultFromStatus(WriteDriveIcon(*Current, scope));
    }

    return ChangeResult::Done;
}

ChangeResult IconTarget::RestoreDefault()
{
    switch (Kind()) {
    case TargetKind::Folder: {
        const std::optional<Scope> scope =
            ScopeOfRestore(scopeChoice_, [&](Scope s) { return HoldsFolderBackup(path_, s); });
        changedScope_ = scope;
        if (!scope)
            return ChangeResult::Done;
        const auto backup = ReadFolderBackupOf(*scope, path_);
        if (!backup)
            return ChangeResult::Done;
        // Refused before the folder is touched: the backup could not be taken out after.
        if (!MayWriteFolderBackup(*scope))
            return ChangeResult::AccessDenied;
        return ResultFromStatus(RestoreFolderBackup(*backup, path_, *scope));
    }
    case TargetKind::File: {
        char extension[TextCapacity];
        if (allOfType_) {
            if (!ExtensionOf(path_, extension))
                return ChangeResult::NoExtension;
            if (!Current || Current->Owner[0] == '\0')
                return ChangeResult::Done;
            const auto backup = ReadTypeBackupIcon(Current->Owner);
            if (!backup)
                return ChangeResult::Done;
            const LONG status = SetTypeIcon(*backup);
            if (status != ERROR_SUCCESS)
                return ResultFromStatus(status);
            return ResultFromStatus(DeleteTypeBackupIcon(*backup));
        }
        // Only while this extension serves the class: a handler that another program has
        // put in its place since keeps the table entry in use.
        if (!Current || !IsOwnIconHandler(*Current))
            return ChangeResult::Done;
        const LONG status = DeleteFileIcon(path_);
        if (status != ERROR_SUCCESS)
            return ResultFromStatus(status);
        if (CountFileIconsOfType(Current->TypeKey) != 0)
            return ChangeResult::Done;
        return ResultFromStatus(UninstallIconHandler(*Current));
    }
    case TargetKind::Drive: {
        if (!Current)
            return ChangeResult::Done;
        const char* drive = Current->Owner;
        if (!NamesDrive(drive))
            return ResultFromStatus(DeleteDriveIcon(*Current));
        const std::optional<Scope> scope =
            ScopeOfRestore(scopeChoice_, [drive](Scope s) { return HasDriveEntryIn(s, drive); });
        changedScope_ = scope;
        if (!scope)
            return ChangeResult::Done;
        // Wine grants DELETE on a key whose rights allow reading only (checked); the
        // value's write access is what a standard user is refused on every system.
        if (!MayWriteDriveIcon(*scope, drive, KEY_SET_VALUE | DELETE))
            return ChangeResult::AccessDenied;
        return ResultFromStatus(DeleteDriveIcon(*Current, *scope));
    }
    case TargetKind::Unclassified:
        break;
    }
    return ChangeResult::Done;
}

RestoreOutcome IconTarget::WhatRestoreWouldDo() const
{
    if (!Current)
        return RestoreOutcome::NothingToRestore;
    switch (kind_) {
    case TargetKind::Folder:
        return HasBackup() ? RestoreOutcome::Restores : RestoreOutcome::NothingToRestore;
    case TargetKind::File:
        if (allOfType_)
            return HasBackup() ? RestoreOutcome::Restores : RestoreOutcome::NothingToRestore;
        if (!ReadFileIcon(path_))
            return RestoreOutcome::NothingToRestore;
        return IsOwnIconHandler(*Current) ? RestoreOutcome::Restores : RestoreOutcome::HandlerReplaced;
    case TargetKind::Drive: {
        const char* drive = path_;
        return ScopeOfRestore(scopeChoice_, [drive](Scope s) { return HasDriveEntryIn(s, drive); })
                   ? RestoreOutcome::Restores
                   : RestoreOutcome::NothingToRestore;
    }
    case TargetKind::Unclassified:
        break;
    }
    return RestoreOutcome::NothingToRestore;
}

bool IconTarget::SetCurrentIconPath(const char* path)
{
    if (!Current)
        Current.emplace();
    return Current->SetIconPath(path);
}

void IconTarget::SetCurrentIndex(std::int32_t index)
{
    if (!Current)
        Current.emplace();
    Current->SetIndex(index);
}

} // namespace orvane
