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

#include <cstdio>
#include <cstring>
#include <string>

#include "ComInitialization.h"
#include "IconChoice.h"
#include "IconPick.h"
#include "ShellRoad.h"

using namespace orvane::cli;
using namespace orvane::demo;

namespace {

int Probe()
{
    ComRef<IShellExtInit> init;
    const HRESULT hr = CreateExtension(IID_IShellExtInit, init.putVoid());
    if (FAILED(hr)) {
        std::fprintf(stderr, "CoCreateInstance of the Orvane extension failed: 0x%08lX\n", static_cast<unsigned long>(hr));
        return 1;
    }
    ComRef<IContextMenu> menu;
    const HRESULT menuHr = init->QueryInterface(IID_IContextMenu, menu.putVoid());
    std::printf("Orvane extension created through COM: IShellExtInit ok, IContextMenu %s\n",
                SUCCEEDED(menuHr) ? "ok" : "missing");
    return SUCCEEDED(menuHr) ? 0 : 1;
}

bool HasChangeIconEntry(const ContextMenuRoad& road)
{
    for (const std::string& text : road.MenuTexts()) {
        if (text == "&Change Icon...")
            return true;
    }
    return false;
}

int Menu(const char* path)
{
    ContextMenuRoad road;
    const HRESULT hr = road.Open(path);
    if (FAILED(hr)) {
        std::fprintf(stderr, "context menu for %s failed: 0x%08lX\n", path, static_cast<unsigned long>(hr));
        return 1;
    }
    std::printf("context menu of %s: %u command(s) added\n", path, road.CommandsUsed());
    for (const std::string& text : road.MenuTexts())
        std::printf("  %s\n", text.empty() ? "----" : text.c_str());
    return HasChangeIconEntry(road) ? 0 : 1;
}

std::string Expected(const IconChoice& choice)
{
    return std::string(choice.Source) + "," + std::to_string(choice.Index);
}

bool Same(const std::string& reported, const IconChoice& choice)
{
    return lstrcmpiA(reported.c_str(), Expected(choice).c_str()) == 0;
}

// What Explorer would show for the target, as far as this platform's shell can tell.
void PrintShellView(const char* when, const char* path, bool isFile)
{
    std::printf("  shell's icon location %s %s\n", when, ShellIconLocation(path, !isFile).Text().c_str());
    if (isFile)
        std::printf("  icon handler's answer %s %s\n", when, IconHandlerAnswer(path).c_str());
    else
        std::printf("  Desktop.ini icon %s      %s\n", when, FolderIniIcon(path).c_str());
}

int Invoke(const char* path, const char* pick, bool allOfType, const char* screenshot)
{
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        std::fprintf(stderr, "no such file or folder: %s\n", path);
        return 1;
    }
    const bool isFile = (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    IconChoice choice;
    if (pick != nullptr) {
        std::string error;
        if (!ParseIconChoice(pick, &choice, &error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
    }

    std::printf("target: %s\n", path);
    PrintShellView("before:", path, isFile);

    ContextMenuRoad road;
    HRESULT hr = road.Open(path);
    if (FAILED(hr) || !HasChangeIconEntry(road)) {
        std::fprintf(stderr, "the context menu of %s has no \"&Change Icon...\" (0x%08lX)\n", path,
                     static_cast<unsigned long>(hr));
        return 1;
    }
    std::printf("  context menu: \"&Change Icon...\" added; invoking it\n");
    std::fflush(stdout);

    bool driven = true;
    if (pick == nullptr && screenshot == nullptr) {
        hr = road.InvokeChangeIcon(nullptr);
    } else {
        IconPick plan;
        plan.Source = choice.Source;
        plan.Index = choice.Index;
        plan.AllOfType = allOfType;
        plan.Screenshot = screenshot != nullptr ? screenshot : "";
        std::string log;
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
            log += "driver: the Change Icon dialog did not open\n";
        if (run.TimedOut)
            log += "driver: the dialog hung and was closed\n";
        driven = run.Opened && played && !run.TimedOut;
        std::fputs(log.c_str(), stdout);
    }
    std::printf("  InvokeCommand returned 0x%08lX\n", static_cast<unsigned long>(hr));

    PrintShellView("after: ", path, isFile);
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
    std::printf("  result: %s\n", seen ? ("the new icon " + Expected(choice) + " is in place").c_str()
                                       : "THE NEW ICON IS NOT WHERE EXPECTED");
    return seen ? 0 : 1;
}

int Icons(int count, char** paths)
{
    int status = 0;
    for (int i = 0; i < count; ++i) {
        const DWORD attributes = GetFileAttributesA(paths[i]);
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            std::fprintf(stderr, "no such file or folder: %s\n", paths[i]);
            status = 1;
            continue;
        }
        std::printf("%s\n", paths[i]);
        PrintShellView("now:   ", paths[i], (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0);
    }
    return status;
}

int Usage()
{
    std::fprintf(stderr,
                 "usage: orvane_demo probe\n"
                 "       orvane_demo menu PATH\n"
                 "       orvane_demo icon PATH...\n"
                 "       orvane_demo invoke PATH [--pick SOURCE,INDEX [--all-of-type]] [--screenshot FILE.bmp]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    orvane::ComInitialization apartment;
    if (argc >= 2 && std::strcmp(argv[1], "probe") == 0 && argc == 2)
        return Probe();
    if (argc == 3 && std::strcmp(argv[1], "menu") == 0)
        return Menu(argv[2]);
    if (argc >= 3 && std::strcmp(argv[1], "icon") == 0)
        return Icons(argc - 2, argv + 2);
    if (argc >= 3 && std::strcmp(argv[1], "invoke") == 0) {
        const char* pick = nullptr;
        const char* screenshot = nullptr;
        bool allOfType = false;
        for (int i = 3; i < argc; ++i) {
            if (std::strcmp(argv[i], "--pick") == 0 && i + 1 < argc)
                pick = argv[++i];
            else if (std::strcmp(argv[i], "--screenshot") == 0 && i + 1 < argc)
                screenshot = argv[++i];
            else if (std::strcmp(argv[i], "--all-of-type") == 0)
                allOfType = true;
            else
                return Usage();
        }
        return Invoke(argv[2], pick, allOfType, screenshot);
    }
    return Usage();
}
