// orvane-dialog.exe PATH: opens the Change Icon dialog on PATH (a folder, a file or a
// drive root) and ends when it closes. The Explorer command of Windows 11's menu starts
// it, so that Explorer's thread never waits for the dialog; it is the same dialog, with
// the same store and backups, as the classic menu's entry runs inside Explorer.
// Exit code: 0 when the dialog ran, 1 when it could not open, 2 for a command line
// without exactly one existing path (each told in a message box, as the program has no
// console).
#include <windows.h>
#include <shellapi.h>

#include <cwchar>
#include <iterator>
#include <new>

#include "ChangeIconDialog.h"
#include "ComInitialization.h"
#include "IconLocation.h"

namespace {

enum ExitCode : int { DialogRan = 0, DialogNotOpened = 1, CommandLineRefused = 2 };

constexpr wchar_t MessageCaption[] = L"Orvane - Change Icon";

void Tell(const wchar_t* first, const wchar_t* second = L"")
{
    wchar_t text[2 * orvane::TextCapacity + 256];
    std::swprintf(text, std::size(text), L"%ls%ls", first, second);
    text[std::size(text) - 1] = L'\0';
    MessageBoxW(nullptr, text, MessageCaption, MB_OK | MB_ICONERROR);
}

// The arguments as the C runtime would split them, freed with the object.
class Arguments {
public:
    Arguments() : values_(CommandLineToArgvW(GetCommandLineW(), &count_)) {}
    ~Arguments()
    {
        if (values_ != nullptr)
            LocalFree(values_);
    }
    Arguments(const Arguments&) = delete;
    Arguments& operator=(const Arguments&) = delete;
    int Count() const { return values_ != nullptr ? count_ : 0; }
    const wchar_t* operator[](int i) const { return values_[i]; }

private:
    int count_ = 0;
    LPWSTR* values_;
};

int Run(HINSTANCE instance)
{
    const Arguments arguments;
    if (arguments.Count() != 2) {
        Tell(L"orvane-dialog.exe opens Orvane's Change Icon dialog for one folder, file or drive; Explorer's "
             L"context menu starts it.\n\nUsage: orvane-dialog.exe PATH");
        return CommandLineRefused;
    }
    const wchar_t* path = arguments[1];
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
