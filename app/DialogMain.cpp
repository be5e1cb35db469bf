// orvane-dialog.exe PATH: opens the Change Icon dialog on PATH (a folder, a file or a
// drive root) and ends when it closes. orvane-dialog.exe /selection FILE: opens it for
// several items at once, named one a line (UTF-16) in FILE, which it deletes when FILE is
// a list as the Explorer command writes it (SelectionList.h) and keeps otherwise. Either may
// begin with /near HWND (hexadecimal): the window of another process, Explorer's, that
// the dialog opens over without being owned by it. The Explorer command of Windows 11's
// menu starts it, so that Explorer's thread never waits for the dialog; it is the same
// dialog, with the same store and backups, as the classic menu's entry runs inside
// Explorer.
// Exit code: 0 when the dialog ran, 1 when it could not open, 2 for a command line
// without exactly one existing path (each told in a message box, as the program has no
// console).
#include <windows.h>
#include <shellapi.h>

#include <cwchar>
#include <iterator>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "ChangeIconDialog.h"
#include "ComInitialization.h"
#include "DialogCommandLine.h"
#include "FileIconTable.h"
#include "IconLocation.h"
#include "ManyTargets.h"
#include "SelectionList.h"

namespace {

enum ExitCode : int { DialogRan = 0, DialogNotOpened = 1, CommandLineRefused = 2 };

constexpr wchar_t MessageCaption[] = L"Orvane - Change Icon";

void Tell(const std::wstring& text) { MessageBoxW(nullptr, text.c_str(), MessageCaption, MB_OK | MB_ICONERROR); }

void Tell(const wchar_t* first, const wchar_t* second) { Tell(std::wstring(first) + second); }

// The system's words for an error, or its number.
std::wstring ErrorText(DWORD error)
{
    wchar_t reason[512] = {};
    if (FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, reason,
                       static_cast<DWORD>(std::size(reason)), nullptr) == 0)
        return L"error " + std::to_wstring(error);
    return reason;
}

// Why a file named after /selection is not taken as the list of selected items.
std::wstring ListProblemText(const orvane::SelectionListRead& read)
{
    using orvane::SelectionListProblem;
    switch (read.Problem) {
    case SelectionListProblem::None: break;
    case SelectionListProblem::CannotOpen: return ErrorText(read.Error);
    case SelectionListProblem::NotInTemporaryFolder:
        return L"It does not lie in this user's temporary folder, where Explorer's command writes its lists; it is "
               L"left as it is.";
    case SelectionListProblem::OtherNames:
        return L"It has another name elsewhere (a hard link), so it is no list of Explorer's command; it is left "
               L"as it is.";
    case SelectionListProblem::NotListName:
        return L"Its name is not one that Explorer's command gives its lists; it is left as it is.";
    case SelectionListProblem::NotList:
        return L"It does not hold paths one a line, as Explorer's command writes its lists; it is left as it is.";
    }
    return L"";
}

// The items of a selection list that name something, at most SelectionLimit: a file gone
// since its icon was set still names its entry, for Restore. False, told to the user,
// when the file is no list or names nothing now. Only a list is deleted.
bool ReadSelection(const wchar_t* file, std::vector<std::wstring>& paths)
{
    const orvane::SelectionListRead read = orvane::ReadSelectionList(file);
    if (read.Problem != orvane::SelectionListProblem::None) {
        Tell(std::wstring(L"The list of selected items cannot be read:\n") + file + L"\n\n" + ListProblemText(read));
        return false;
    }
    for (const std::wstring& path : read.Paths) {
        if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES || orvane::IsGoneFileWithEntry(path.c_str()))
            paths.push_back(path);
    }
    if (paths.empty()) {
        Tell(L"None of the selected items exists any more:\n", file);
        return false;
    }
    return true;
}

int Run(HINSTANCE instance)
{
    const std::optional<orvane::DialogArguments> arguments = orvane::ParseDialogCommandLine(GetCommandLineW());
    if (!arguments) {
        Tell(L"orvane-dialog.exe opens Orvane's Change Icon dialog for one folder, file or drive; Explorer's "
             L"context menu starts it.\n\nUsage: orvane-dialog.exe [/near HWND] PATH");
        return CommandLineRefused;
    }
    std::vector<std::wstring> selection;
    if (arguments->Selection && !ReadSelection(arguments->Path.c_str(), selection))
        return CommandLineRefused;
    // A number that names no window (any more) is no reason to refuse the dialog: it
    // opens under the pointer instead.
    const HWND named = reinterpret_cast<HWND>(arguments->NearWindow);
    const HWND nearWindow = IsWindow(named) ? named : nullptr;
    const wchar_t* path = selection.empty() ? arguments->Path.c_str() : selection.front().c_str();
    if (std::wcslen(path) >= orvane::TextCapacity) {
        Tell(L"The path is longer than Windows allows (259 characters):\n", path);
        return CommandLineRefused;
    }
    // A path that names nothing would be taken for a folder (its attributes read as all
    // ones, the directory bit among them).
    if (GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES) {
        Tell(L"There is no such file, folder or drive:\n", path);
        return CommandLineRefused;
    }

    // The open-file dialog and the shell's notifications want a single-threaded apartment,
    // as Explorer's menu thread is.
    orvane::ComInitialization apartment;
    auto* record = new (std::nothrow) orvane::ChangeIconDialog();
    if (record == nullptr) {
        Tell(L"Not enough memory to open the Change Icon dialog for\n", path);
        return DialogNotOpened;
    }
    orvane::CopyText(record->TargetPath, std::size(record->TargetPath), path);
    if (selection.size() > 1)
        record->Targets = selection;
    // Over Explorer's window, never owned by it: a window owned across processes would
    // tie Explorer's input to this program's.
    record->OtherProcessInvoker = nearWindow;
    // The dialog's template, menu and icon are this program's own resources.
    const INT_PTR result = orvane::RunChangeIconDialog(instance, *record);
    delete record;
    if (result == -1) {
        Tell(L"The Change Icon dialog could not be opened for\n", path);
        return DialogNotOpened;
    }
    return DialogRan;
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    try {
        return Run(instance);
    } catch (...) {
        return DialogNotOpened;
    }
}
