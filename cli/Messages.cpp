#include "Messages.h"

#include <iterator>
#include <optional>

#include "ConsoleText.h"
#include "ErrorText.h"
#include "MadeIconFile.h"
#include "PathText.h"

namespace orvane::cli {

namespace {

// A file's own icon needs the icon handler, which Explorer must be able to load.
constexpr wchar_t HandlerNotLoadableText[] =
    L"Explorer on this machine cannot load the installed icon handler, which is built for another processor "
    L"(on Windows on Arm, install Orvane-arm64.msi, or Orvane-arm64-user.msi for you alone); nothing written";

// Why a change or restore was refused, by the scope that refused it and how that scope
// was chosen; a registry key refused it (RefusalText names any other place).
std::wstring AccessDeniedMessage(const IconTarget& target, bool restoring)
{
    const std::optional<Scope> refused = target.ChangedScope();
    if (!refused)
        return ResultMessage(ChangeResult::AccessDenied);
    if (*refused == Scope::AllUsers) {
        if (restoring)
            return L"access denied; the icon was set for all users, and restoring it needs administrator rights: "
                   L"all users' settings are machine-wide (HKEY_LOCAL_MACHINE, HKEY_CLASSES_ROOT)";
        if (target.GetScopeChoice() == ScopeChoice::AllUsers)
            return L"access denied; --for-all needs administrator rights: all users' settings are machine-wide "
                   L"(HKEY_LOCAL_MACHINE, HKEY_CLASSES_ROOT); --for-me changes it for this user only";
        return ResultMessage(ChangeResult::AccessDenied);
    }
    if (target.GetScopeChoice() == ScopeChoice::ThisUser)
        return L"access denied; this user's settings (HKEY_CURRENT_USER) or the target itself refused the change";
    return L"access denied; all users' settings need administrator rights, and this user's settings "
           L"(HKEY_CURRENT_USER) or the target itself refused the change too";
}

} // namespace

void Fail(const wchar_t* path, const std::wstring& message)
{
    WriteErr(std::wstring(L"orvane: ") + path + L": " + message + L"\n");
}

const wchar_t* KindWord(const IconTarget& target)
{
    switch (target.Kind()) {
    case TargetKind::Folder: return L"Folder";
    case TargetKind::File: return L"File";
    case TargetKind::Type: return L"Type";
    case TargetKind::Drive: return L"Drive";
    case TargetKind::Unclassified: break;
    }
    return L"Unknown";
}

std::wstring LocationText(const wchar_t* path, std::int32_t index)
{
    wchar_t text[PathIndexCapacity];
    return FormatPathIndex(path, index, text, std::size(text)) ? text : L"";
}

std::wstring ResultMessage(ChangeResult result)
{
    switch (result) {
    case ChangeResult::Done: return L"done";
    case ChangeResult::NoExtension:
        return L"has no extension; a file's icon belongs to the file type of its extension";
    case ChangeResult::PathTooLong: return L"a path or icon source is too long (at most 259 characters)";
    case ChangeResult::AccessDenied:
        return L"access denied; a key of all users' settings (HKEY_LOCAL_MACHINE, HKEY_CLASSES_ROOT) refused "
               L"the write";
    case ChangeResult::WriteFailed: return L"the icon could not be written";
    case ChangeResult::DesktopIniIsLink:
        return L"the folder's Desktop.ini is a link to another place, not a file of the folder's own; "
               L"nothing is written through it";
    case ChangeResult::DesktopIniIsFolder:
        return L"the folder holds a folder named Desktop.ini where Windows reads the folder's icon from a file "
               L"of that name; nothing written";
    case ChangeResult::HandlerNotLoadable: return HandlerNotLoadableText;
    }
    return L"failed";
}

std::wstring RefusalText(const wchar_t* path, const Refusal& refusal, bool tooLong)
{
    const std::wstring reason = SystemErrorText(refusal.Status);
    const bool folder = ClassifyTarget(path) == TargetKind::Folder;
    switch (refusal.Place) {
    case RefusingPlace::Folder: return L"the folder refused the write: " + reason;
    case RefusingPlace::DesktopIni: return L"its Desktop.ini refused the write: " + reason;
    case RefusingPlace::Source: return L"the icon source cannot be read: " + reason;
    case RefusingPlace::MadeIcon:
        if (tooLong && folder)
            return L"the made icon's path would be too long: the folder's path with "
                   L"\\.orvane-<16 hex digits>.ico is " +
                   std::to_wstring(InFolder(path, MadeIconName(0)).size()) +
                   L" characters, and at most 259 fit; nothing written";
        if (tooLong)
            return L"the made icon's path would be too long (at most 259 characters); nothing written";
        return std::wstring(folder ? L"the made icon could not be written into the folder: "
                                   : L"the made icon could not be written into Orvane's folder of made icons: ") +
               reason;
    }
    return reason;
}

bool ReportChange(const wchar_t* path, const IconTarget& target, ChangeResult result, bool restoring)
{
    if (result == ChangeResult::Done)
        return true;
    if (target.LastRefusal() && IsRefusedWrite(result))
        Fail(path, RefusalText(target.Path(), *target.LastRefusal(), result == ChangeResult::PathTooLong));
    else
        Fail(path, result == ChangeResult::AccessDenied ? AccessDeniedMessage(target, restoring) : ResultMessage(result));
    return false;
}

std::wstring ProblemText(const BatchFailure& failure, bool restoring)
{
    // A place other than the registry refused: the scope, and so --for-me, has no part in it.
    if (failure.Refused)
        return RefusalText(failure.Path.c_str(), *failure.Refused, failure.Problem == BatchProblem::PathTooLong);
    switch (failure.Problem) {
    case BatchProblem::NotFound: return L"no such file, folder or drive";
    case BatchProblem::SubfoldersUnreadable: return L"its subfolders could not be listed; they were left as they are";
    case BatchProblem::NoExtension:
        return L"has no extension; a file's icon belongs to the file type of its extension";
    case BatchProblem::PathTooLong: return L"a path or icon source is too long (at most 259 characters)";
    case BatchProblem::AccessDenied:
        if (failure.RefusedScope == Scope::AllUsers)
            return restoring ? L"access denied; the icon was set for all users, and restoring it needs administrator "
                               L"rights"
                             : L"access denied; all users' settings need administrator rights (--for-me changes it "
                               L"for this user only)";
        return L"access denied; this user's settings (HKEY_CURRENT_USER) or the target itself refused the change";
    case BatchProblem::WriteFailed: return L"the icon could not be written (the folder or its Desktop.ini refused it)";
    case BatchProblem::DesktopIniIsLink:
        return L"the folder's Desktop.ini is a link to another place; nothing is written through it";
    case BatchProblem::DesktopIniIsFolder: return L"the folder holds a folder named Desktop.ini; nothing written";
    case BatchProblem::HandlerReplaced: return L"the icon handler of its class is no longer Orvane; its entry is kept";
    case BatchProblem::HandlerNotLoadable: return HandlerNotLoadableText;
    }
    return L"failed";
}

} // namespace orvane::cli
