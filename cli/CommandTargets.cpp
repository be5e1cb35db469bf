#include "CommandTargets.h"

#include <windows.h>

#include "FileIconTable.h"
#include "Messages.h"
#include "PathText.h"
#include "ShellPath.h"

namespace orvane::cli {

namespace {

// Checks the path and opens the target the way the dialog does, then decides single
// file or all of type as the command line asked.
std::optional<IconTarget> OpenTarget(const wchar_t* path, const Invocation& invocation)
{
    // The empty path names nothing (the platform cannot even complete it).
    if (*path == L'\0') {
        Fail(path, L"no such file, folder or drive");
        return std::nullopt;
    }
    wchar_t shellPath[TextCapacity];
    // Relative paths, short names and device paths ("\\?\C:\x") would otherwise become
    // table entries and backups that no Explorer request ever finds.
    if (!ShellPathOf(path, shellPath)) {
        Fail(path, ResultMessage(ChangeResult::PathTooLong));
        return std::nullopt;
    }
    // A path that does not exist would classify as a folder (its attributes read as all
    // ones, directory bit included), so its existence is checked here first; a file that
    // has gone since its icon was set is opened as the file its entry names.
    if (GetFileAttributesW(shellPath) == INVALID_FILE_ATTRIBUTES && !IsGoneFileWithEntry(shellPath)) {
        Fail(path, L"no such file, folder or drive");
        return std::nullopt;
    }
    IconTarget target = orvane::OpenTarget(shellPath, invocation.Scope);
    target.SetAllOfType(invocation.AllOfType);
    return target;
}

} // namespace

bool HasNoFileType(const IconTarget& target)
{
    return target.PathKind() == TargetKind::File && !NamesFileClass(FileExtension(target.Path()));
}

std::optional<IconTarget> OpenShownTarget(const wchar_t* path, const Invocation& invocation)
{
    return OpenTarget(path, invocation);
}

std::optional<IconTarget> OpenRestorableTarget(const wchar_t* path, const Invocation& invocation)
{
    std::optional<IconTarget> target = OpenTarget(path, invocation);
    if (target && HasNoFileType(*target)) {
        Fail(path, ResultMessage(ChangeResult::NoExtension));
        return std::nullopt;
    }
    return target;
}

} // namespace orvane::cli
