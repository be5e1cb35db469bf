#include "MadeIconChanges.h"

#include <new>
#include <optional>

#include "IconGroupFile.h"
#include "IconSources.h"
#include "MadeIconFile.h"
#include "MadeIconPlaces.h"
#include "MadeIconSweep.h"
#include "PathText.h"
#include "WholeFile.h"

namespace orvane {

namespace {

ChangeResult ApplyMade(IconTarget& target, const std::vector<std::uint8_t>& bytes)
{
    target.SetRefusal(std::nullopt);
    if (target.Kind() == TargetKind::Folder || target.Kind() == TargetKind::Unclassified)
        return ChangeResult::WriteFailed;
    ScopeDecision scope;
    const ChangeResult decided = target.ScopeOfChange(scope);
    if (decided != ChangeResult::Done)
        return decided;
    if (scope.Refused) {
        target.SetChangedScope(scope.Where);
        return ChangeResult::AccessDenied;
    }
    const std::optional<std::wstring> folder = MadeIconFolder(scope.Where, true);
    std::wstring name;
    if (!folder) {
        target.SetChangedScope(scope.Where);
        return ChangeResult::WriteFailed;
    }
    if (!WriteMadeIcon(folder->c_str(), bytes, &name)) {
        const LONG status = LastErrorOr(ERROR_WRITE_FAULT);
        target.SetChangedScope(scope.Where);
        target.SetRefusal(Refusal{RefusingPlace::MadeIcon, status});
        return ResultFromStatus(status);
    }
    ChangeResult result = ChangeResult::PathTooLong;
    if (target.SetCurrentIconPath(InFolder(folder->c_str(), name).c_str())) {
        target.SetCurrentIndex(0);
        result = target.ApplyIcon();
    }
    // A change that failed before it was made leaves its file named by nothing (a made
    // change cleans up after itself).
    if (result != ChangeResult::Done)
        DeleteUnnamedStoredMadeIcons();
    return result;
}

} // namespace

ChangeResult ApplyMadeFolderIcon(IconTarget& target, const std::wstring& name)
{
    ChangeResult result = ChangeResult::PathTooLong;
    if (target.SetCurrentIconPath(name.c_str())) {
        target.SetCurrentIndex(0);
        result = target.ApplyIcon();
    }
    if (result != ChangeResult::Done)
        DeleteUnnamedMadeIcons(target.Path());
    return result;
}

ChangeResult ApplyMadeFolderBytes(IconTarget& target, const std::vector<std::uint8_t>& bytes)
{
    target.SetRefusal(std::nullopt);
    if (target.Kind() != TargetKind::Folder)
        return ChangeResult::WriteFailed;
    std::wstring name;
    if (!WriteMadeIcon(target.Path(), bytes, &name)) {
        const LONG status = LastErrorOr(ERROR_WRITE_FAULT);
        target.SetRefusal(Refusal{RefusingPlace::MadeIcon, status});
        return ResultFromStatus(status);
    }
    return ApplyMadeFolderIcon(target, name);
}

ChangeResult ApplyMadeIcon(IconTarget& target, const std::vector<std::uint8_t>& bytes)
{
    try {
        return ApplyMade(target, bytes);
    } catch (const std::bad_alloc&) {
        DeleteUnnamedStoredMadeIcons();
        return ChangeResult::WriteFailed;
    }
}

ChangeResult KeepCopyWithFolder(IconTarget& target, const wchar_t* source, std::int32_t index)
{
    target.SetRefusal(std::nullopt);
    if (target.Kind() != TargetKind::Folder)
        return ChangeResult::WriteFailed;
    try {
        std::vector<std::uint8_t> bytes;
        if (!CopyIconBytes(source, index, bytes)) {
            wchar_t file[TextCapacity];
            const LONG unreadable = ExpandIconPath(source, file) ? SourceReadStatus(file) : ERROR_SUCCESS;
            if (unreadable != ERROR_SUCCESS)
                target.SetRefusal(Refusal{RefusingPlace::Source, unreadable});
            return ChangeResult::WriteFailed;
        }
        return ApplyMadeFolderBytes(target, bytes);
    } catch (const std::bad_alloc&) {
        return ChangeResult::WriteFailed;
    }
}

ChangeResult ApplyMadeBytes(IconTarget& target, const std::vector<std::uint8_t>& bytes)
{
    if (target.Kind() == TargetKind::Folder)
        return ApplyMadeFolderBytes(target, bytes);
    return ApplyMadeIcon(target, bytes);
}

} // namespace orvane
