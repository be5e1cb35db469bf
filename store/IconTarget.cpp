// What the target does is chosen once by its kind, in one unit per kind; this file only
// dispatches to it.
#include "IconTarget.h"

#include <cwchar>
#include <iterator>

#include "FolderIcons.h"
#include "ShellPath.h"
#include "TargetKinds.h"

namespace orvane {

namespace {

// A target that names nothing (a null path, or one too long to be handed to the
// platform) reads nothing and has nothing to restore; a change of it is refused.
void ReadNothing(IconTarget&) {}
RestoreOutcome NothingToRestore(const IconTarget&) { return RestoreOutcome::NothingToRestore; }
ChangeResult NothingToDo(const IconTarget&) { return ChangeResult::Done; }
ChangeResult RefuseChange(IconTarget&) { return ChangeResult::PathTooLong; }
ChangeResult NothingToRestoreDone(IconTarget&) { return ChangeResult::Done; }

const KindOperations NoTargetOperations = {ReadNothing, NothingToRestore, NothingToDo, RefuseChange,
                                           NothingToRestoreDone};

const KindOperations& OperationsOf(TargetKind kind)
{
    switch (kind) {
    case TargetKind::Folder:
        return FolderOperations;
    case TargetKind::File:
        return FileOperations;
    case TargetKind::Type:
        return TypeOperations;
    case TargetKind::Drive:
        return DriveOperations;
    case TargetKind::Unclassified:
        break;
    }
    return NoTargetOperations;
}

} // namespace

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
    case ProfileIsLinkStatus:
        return ChangeResult::ProfileIsLink;
    case ProfileIsFolderStatus:
        return ChangeResult::ProfileIsFolder;
    default:
        return ChangeResult::WriteFailed;
    }
}

IconTarget::IconTarget(const wchar_t* path)
{
    // A path without its terminator within the field is never handed to the platform.
    if (path == nullptr || wcsnlen(path, TextCapacity) == TextCapacity)
        return;
    // Every store keeps and finds a target under the name Explorer gives the item; a
    // path the platform cannot complete (the empty one) is kept as it is.
    if (!ShellPathOf(path, path_))
        CopyText(path_, std::size(path_), path);
    pathKind_ = ClassifyTarget(path_);
}

const std::optional<IconLocation>& IconTarget::ReadCurrentIcon()
{
    OperationsOf(Kind()).Read(*this);
    return Current;
}

void IconTarget::RememberOriginal(const std::optional<IconLocation>& location)
{
    if (location)
        original_ = location;
}

bool IconTarget::HasBackup() const
{
    // A single file can always go back to its type's icon.
    return Kind() == TargetKind::File || OperationsOf(Kind()).WhatRestoreWouldDo(*this) != RestoreOutcome::NothingToRestore;
}

RestoreOutcome IconTarget::WhatRestoreWouldDo() const
{
    if (!Current)
        return RestoreOutcome::NothingToRestore;
    return OperationsOf(Kind()).WhatRestoreWouldDo(*this);
}

ChangeResult IconTarget::SaveBackup() const { return OperationsOf(Kind()).SaveBackup(*this); }

ChangeResult IconTarget::ApplyIcon() { return OperationsOf(Kind()).Apply(*this); }

ChangeResult IconTarget::RestoreDefault() { return OperationsOf(Kind()).Restore(*this); }

bool IconTarget::SetCurrentIconPath(const wchar_t* path)
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

IconTarget OpenTarget(const wchar_t* path, ScopeChoice choice)
{
    IconTarget target(path);
    target.SetScopeChoice(choice);
    target.RememberOriginal(target.ReadCurrentIcon());
    return target;
}

} // namespace orvane
