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
    case TargetKind::Folder:
        Current = ReadFolderIcon(path_);
        break;
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
    case TargetKind::Drive:
        Current = ReadDriveIcon(path_);
        break;
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
        return ReadFolderBackup(path_).has_value();
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
    case TargetKind::Folder:
        // Replaced on every change, so it holds the icon the folder had when the dialog
        // opened.
        if (original_)
            return ResultFromStatus(WriteFolderBackup(*original_, path_));
        break;
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
        return ResultFromStatus(WriteDriveIcon(*Current));
    }

    return ChangeResult::Done;
}

ChangeResult IconTarget::RestoreDefault()
{
    switch (Kind()) {
    case TargetKind::Folder: {
        const auto backup = ReadFolderBackup(path_);
        if (!backup)
            return ChangeResult::Done;
        // The backup goes only once the folder holds it again.
        const LONG status = WriteFolderIcon(*backup);
        if (status != ERROR_SUCCESS)
            return ResultFromStatus(status);
        return ResultFromStatus(DeleteFolderBackup(path_));
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
    case TargetKind::Drive:
        if (!Current)
            return ChangeResult::Done;
        return ResultFromStatus(DeleteDriveIcon(*Current));
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
    case TargetKind::Drive:
        return HasDriveEntry(path_) ? RestoreOutcome::Restores : RestoreOutcome::NothingToRestore;
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
