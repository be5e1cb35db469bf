// orvane_demo.exe: drives the installed extension the way Explorer does.
//   orvane_demo probe                  create the extension through COM (IShellExtInit)
//   orvane_demo menu PATH              build PATH's context menu and list what was added
//   orvane_demo icon PATH...           what the shell (and, for files, the icon handler)
//                                      reports as each PATH's icon
//   orvane_demo invoke PATH [--pick SOURCE,INDEX [--all-of-type]] [--screenshot FILE.bmp]
//       build the context menu, pick "Change Icon...", and let the person at the screen
//       use the dialog, or (with --pick) choose the icon and press OK from a second
//       thread; the screenshot is taken just before OK, or (without --pick) as the dialog
//       opened, and the dialog is then cancelled. Prints the shell's icon location for
//       PATH before and after.
#include <windows.h>

#include <cwchar>
#include <iterator>
#include <string>

#include "ComInitialization.h"
#include "ConsoleText.h"
#include "IconChoice.h"
#include "IconPick.h"
#include "ShellRoad.h"

using namespace orvane::cli;
using namespace orvane::demo;

namespace {

std::wstring HrCode(HRESULT hr)
{
    wchar_t code[16];
    std::swprintf(code, std::size(code), L"0x%08lX", static_cast<unsigned long>(hr));
    return code;
}

int Probe()
{
    ComPtr<IShellExtInit> init;
    const HRESULT hr = CreateExtension(IID_IShellExtInit, &init);
    if (FAILED(hr)) {
        WriteErr(L"CoCreateInstance of the Orvane extension failed: " + HrCode(hr) + L"\n");
        return 1;
    }
    ComPtr<IContextMenu> menu;
    const HRESULT menuHr = init->QueryInterface(IID_IContextMenu, &menu);
    WriteOut(std::wstring(L"Orvane extension created through COM: IShellExtInit ok, IContextMenu ") +
             (SUCCEEDED(menuHr) ? L"ok" : L"missing") + L"\n");
    return SUCCEEDED(menuHr) ? 0 : 1;
}

bool HasChangeIconEntry(const ContextMenuRoad& road)
{
    for (const std::wstring& text : road.MenuTexts()) {
        if (text == L"&Change Icon...")
            return true;
    }
    return false;
}

int Menu(const wchar_t* path)
{
    ContextMenuRoad road;
    const HRESULT hr = road.Open(path);
    if (FAILED(hr)) {
        WriteErr(std::wstring(L"context menu for ") + path + L" failed: " + HrCode(hr) + L"\n");
        return 1;
    }
    WriteOut(std::wstring(L"context menu of ") + path + L": " + std::to_wstring(road.CommandsUsed()) +
             L" command(s) added\n");
    for (const std::wstring& text : road.MenuTexts())
        WriteOut(L"  " + (text.empty() ? std::wstring(L"----") : text) + L"\n");
    return HasChangeIconEntry(road) ? 0 : 1;
}

std::wstring Expected(const IconChoice& choice)
{
    return std::wstring(choice.Source) + L"," + std::to_wstring(choice.Index);
}

bool Same(const std::wstring& reported, const IconChoice& choice)
{
    return lstrcmpiW(reported.c_str(), Expected(choice).c_str()) == 0;
}

// What Explorer would show for the target, as far as this platform's shell can tell.
void PrintShellView(const wchar_t* when, const wchar_t* path, bool isFile)
{
    WriteOut(std::wstring(L"  shell's icon location ") + when + L" " + ShellIconLocation(path, !isFile).Text() + L"\n");
    if (isFile)
        WriteOut(std::wstring(L"  icon handler's answer ") + when + L" " + IconHandlerAnswer(path) + L"\n");
    else
        WriteOut(std::wstring(L"  Desktop.ini icon ") + when + L"      " + FolderIniIcon(path) + L"\n");
}

int Invoke(const wchar_t* path, const wchar_t* pick, bool allOfType, const wchar_t* screenshot)
{
    const DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        WriteErr(std::wstring(L"no such file or folder: ") + path + L"\n");
        return 1;
    }
    const bool isFile = (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    IconChoice choice;
    if (pick != nullptr) {
        std::wstring error;
        if (!ParseIconChoice(pick, &choice, &error)) {
            WriteErr(error + L"\n");
            return 1;
        }
    }

    WriteOut(std::wstring(L"target: ") + path + L"\n");
    PrintShellView(L"before:", path, isFile);

    ContextMenuRoad road;
    HRESULT hr = road.Open(path);
    if (FAILED(hr) || !HasChangeIconEntry(road)) {
        WriteErr(std::wstring(L"the context menu of ") + path + L" has no \"&Change Icon...\" (" + HrCode(hr) + L")\n");
        return 1;
    }
    WriteOut(L"  context menu: \"&Change Icon...\" added; invoking it\n");

    bool driven = true;
    if (pick == nullptr && screenshot == nullptr) {
        hr = road.InvokeChangeIcon(nullptr);
    } else {
        IconPick plan;
        plan.Source = choice.Source;
        plan.Index = choice.Index;
        plan.AllOfType = allOfType;
        plan.Screenshot = screenshot != nullptr ? screenshot : L"";
        std::wstring log;
        bool played = false;
        const DialogRun run = RunWhileDriven(
            [&]() -> INT_PTR {
                hr = road.InvokeChangeIcon(nullptr);
                return 0;
            },
            [&](DialogDriver& driver) {
                played = pick != nullptr ? PlayPick(driver, plan, &log) : PlayPicture(driver, plan.Screenshot, &log);
            },
            120000);
        if (!run.Opened)
            log += L"driver: the Change Icon dialog did not open\n";
        if (run.TimedOut)
            log += L"driver: the dialog hung and was closed\n";
        driven = run.Opened && played && !run.TimedOut;
        WriteOut(log);
    }
    WriteOut(L"  InvokeCommand returned " + HrCode(hr) + L"\n");

    PrintShellView(L"after: ", path, isFile);
    if (FAILED(hr) || !driven)
        return 1;
    if (pick == nullptr)
        return 0;
    // A type's icon is what the shell itself reports; a folder's shows in its index and
    // its Desktop.ini; a single file's comes from the icon handler, which Explorer asks
    // and Wine's shell does not.
    bool seen = false;
    const ShellIcon shell = ShellIconLocation(path, !isFile);
    if (!isFile)
        seen = shell.Reported && shell.Index == choice.Index && Same(FolderIniIcon(path), choice);
    else if (allOfType)
        seen = Same(shell.Text(), choice);
    else
        seen = Same(IconHandlerAnswer(path), choice);
    WriteOut(L"  result: " + (seen ? L"the new icon " + Expected(choice) + L" is in place"
                                   : std::wstring(L"THE NEW ICON IS NOT WHERE EXPECTED")) +
             L"\n");
    return seen ? 0 : 1;
}

int Icons(int count, wchar_t** paths)
{
    int status = 0;
    for (int i = 0; i < count; ++i) {
        const DWORD attributes = GetFileAttributesW(paths[i]);
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            WriteErr(std::wstring(L"no such file or folder: ") + paths[i] + L"\n");
            status = 1;
            continue;
        }
        WriteOut(std::wstring(paths[i]) + L"\n");
        PrintShellView(L"now:   ", paths[i], (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0);
    }
    return status;
}

int Usage()
{
    WriteErr(L"usage: orvane_demo probe\n"
             L"       orvane_demo menu PATH\n"
             L"       orvane_demo icon PATH...\n"
             L"       orvane_demo invoke PATH [--pick SOURCE,INDEX [--all-of-type]] [--screenshot FILE.bmp]\n");
    return 2;
}

bool Is(const wchar_t* arg, const wchar_t* word) { return std::wcscmp(arg, word) == 0; }

} // namespace

// The wide entry point, so that paths keep every character the ANSI code page lacks.
int wmain(int argc, wchar_t** argv)
{
    orvane::ComInitialization apartment;
    if (argc >= 2 && Is(argv[1], L"probe") && argc == 2)
        return Probe();
    if (argc == 3 && Is(argv[1], L"menu"))
        return Menu(argv[2]);
    if (argc >= 3 && Is(argv[1], L"icon"))
        return Icons(argc - 2, argv + 2);
    if (argc >= 3 && Is(argv[1], L"invoke")) {
        const wchar_t* pick = nullptr;
        const wchar_t* screenshot = nullptr;
        bool allOfType = false;
        for (int i = 3; i < argc; ++i) {
            if (Is(argv[i], L"--pick") && i + 1 < argc)
                pick = argv[++i];
            else if (Is(argv[i], L"--screenshot") && i + 1 < argc)
                screenshot = argv[++i];
            else if (Is(argv[i], L"--all-of-type"))
                allOfType = true;
            else
                return Usage();
        }
        return Invoke(argv[2], pick, allOfType, screenshot);
    }
    return Usage();
}
