// What the target does is chosen once by its kind, in one unit per kind; this file only
// dispatches to it.
#include "IconTarget.h"

#include <cwchar>
#include <iterator>

#include "FileIconFollow.h"
#include "FileIconTable.h"
#include "FolderIcons.h"
#include "MadeIconPlaces.h"
#include "ShellPath.h"
#include "KindOperations.h"
#include "MadeIconSweep.h"
#include "TypeAsShown.h"

namespace orvane {

namespace {

// A target that names nothing (a null path, or one too long to be handed to the
// platform) reads nothing and has nothing to restore; a change of it is refused.
void ReadNothing(IconTarget&) {}
RestoreOutcome NothingToRestore(const IconTarget&) { return RestoreOutcome::NothingToRestore; }
ChangeResult NothingToDo(const IconTarget&) { return ChangeResult::Done; }
ChangeResult RefuseChange(IconTarget&) { return ChangeResult::PathTooLong; }
ChangeResult NothingToRestoreDone(IconTarget&) { return ChangeResult::Done; }
ChangeResult RefuseScope(const IconTarget&, ScopeDecision&) { return ChangeResult::PathTooLong; }

const KindOperations NoTargetOperations = {ReadNothing, NothingToRestore, NothingToDo, RefuseChange,
                                           NothingToRestoreDone, RefuseScope};

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
    case DesktopIniIsLinkStatus:
        return ChangeResult::DesktopIniIsLink;
    case DesktopIniIsFolderStatus:
        return ChangeResult::DesktopIniIsFolder;
    case ERROR_EXE_MACHINE_TYPE_MISMATCH:
        return ChangeResult::HandlerNotLoadable;
    default:
        return ChangeResult::WriteFailed;
    }
}

bool IsRefusedWrite(ChangeResult result)
{
    return result == ChangeResult::AccessDenied || result == ChangeResult::WriteFailed ||
           result == ChangeResult::PathTooLong;
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
    pathKind_ = ClassifyTargetOrGoneFile(path_);
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

ChangeResult IconTarget::ScopeOfChange(ScopeDecision& decision) const
{
    return OperationsOf(Kind()).ScopeOfChange(*this, decision);
}

ChangeResult IconTarget::ApplyIcon() { return RecordChange(OperationsOf(Kind()).Apply); }

ChangeResult IconTarget::RestoreDefault() { return RecordChange(OperationsOf(Kind()).Restore); }

ChangeResult IconTarget::RecordChange(ChangeResult (*change)(IconTarget&))
{
    lastChange_ = ShownChange();
    refusal_.reset();
    const TargetKind kind = Kind();
    const bool ofType = kind == TargetKind::File || kind == TargetKind::Type;
    const TypeAsShown before = ofType ? ReadTypeAsShown(path_) : TypeAsShown();
    const ChangeResult result = change(*this);
    // A Desktop.ini that is a link or a folder is its own result, not a refused write.
    if (!IsRefusedWrite(result))
        refusal_.reset();
    if (result != ChangeResult::Done || kind == TargetKind::Unclassified)
        return result;
    // A type's change is one of the type's data alone: no single item names it.
    lastChange_.Item = kind != TargetKind::Type;
    // Explorer keeps a drive's icon setting as it keeps a type's data (Windows 2000 kept
    // it among the classes, under Applications\Explorer.exe\Drives): the drive's
    // item alone does not make it read the setting again.
    lastChange_.Associations = kind == TargetKind::Drive || (ofType && !SameAsShown(before, ReadTypeAsShown(path_)));
    // A made icon that the change replaced or took back may be named by nothing now.
    if (kind != TargetKind::Folder)
        DeleteUnnamedStoredMadeIcons();
    return result;
}

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
    // A file renamed or moved since its icon was set takes its entry along before it is
    // read (the icon handler, which never writes, only answers from the entry left behind).
    if (target.PathKind() == TargetKind::File)
        FollowMovedFile(target.Path());
    target.SetScopeChoice(choice);
    target.RememberOriginal(target.ReadCurrentIcon());
    return target;
}

} // namespace orvane
