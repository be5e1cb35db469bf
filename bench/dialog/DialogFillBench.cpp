// Time from the start of the Change Icon dialog until its icon list holds every icon of
// the source, against the platform's own icon picker (shell32's PickIconDlg) on the same
// file, with each process's peak working set. Each measurement runs in a process of its
// own, so that no run profits from another's caches or counts its memory.
//
//   orvane_dialog_bench.exe [repetitions]
#include <windows.h>

#include <commctrl.h>
#include <psapi.h>
#include <shellapi.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "ChangeIconDialog.h"
#include "FolderIcons.h"

namespace {

using orvane::ChangeIconDialog;

constexpr DWORD TimeoutMs = 300000;

double Milliseconds(LARGE_INTEGER from, LARGE_INTEGER to)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

SIZE_T PeakWorkingSet()
{
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return counters.PeakWorkingSetSize;
}

BOOL CALLBACK CollectDialogs(HWND window, LPARAM param)
{
    char name[32] = {};
    GetClassNameA(window, name, sizeof name);
    if (std::strcmp(name, "#32770") == 0 && IsWindowVisible(window))
        reinterpret_cast<std::vector<HWND>*>(param)->push_back(window);
    return TRUE;
}

BOOL CALLBACK FindIconList(HWND window, LPARAM param)
{
    char name[32] = {};
    GetClassNameA(window, name, sizeof name);
    if (lstrcmpiA(name, "ListBox") == 0 || lstrcmpiA(name, "SysListView32") == 0) {
        *reinterpret_cast<HWND*>(param) = window;
        return FALSE;
    }
    return TRUE;
}

LRESULT ItemCount(HWND list)
{
    char name[32] = {};
    GetClassNameA(list, name, sizeof name);
    return SendMessageA(list, lstrcmpiA(name, "ListBox") == 0 ? LB_GETCOUNT : LVM_GETITEMCOUNT, 0, 0);
}

// Waits on a second thread until a dialog of `thread` shows `count` items in its icon
// list, notes the time and cancels the dialog.
struct ListWatch {
    DWORD Thread;
    LRESULT Count;
    LARGE_INTEGER Filled{};
    std::atomic<bool> Done{false};
    bool Seen = false;

    void Run()
    {
        const ULONGLONG end = GetTickCount64() + TimeoutMs;
        HWND dialog = nullptr;
        HWND list = nullptr;
        while (!Done && GetTickCount64() < end) {
            if (list == nullptr) {
                std::vector<HWND> dialogs;
                EnumThreadWindows(Thread, CollectDialogs, reinterpret_cast<LPARAM>(&dialogs));
                for (HWND d : dialogs) {
                    HWND found = nullptr;
                    EnumChildWindows(d, FindIconList, reinterpret_cast<LPARAM>(&found));
                    if (found != nullptr) {
                        dialog = d;
                        list = found;
                        break;
                    }
                }
            }
            if (list != nullptr && ItemCount(list) >= Count) {
                QueryPerformanceCounter(&Filled);
                Seen = true;
                PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
                return;
            }
            Sleep(1);
        }
        if (dialog != nullptr)
            PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    }
};

// One measurement: prints "<milliseconds> <peak working set bytes>".
int MeasureOne(const char* variant, const char* library, LRESULT count)
{
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);

    ListWatch watch{GetCurrentThreadId(), count};
    LARGE_INTEGER start;

    if (std::strcmp(variant, "ours") == 0) {
        // A folder whose icon comes from the library: the dialog lists it when it opens.
        char temp[MAX_PATH];
        GetTempPathA(sizeof temp, temp);
        char folder[MAX_PATH];
        std::snprintf(folder, sizeof folder, "%sorvane-bench-%lu", temp, GetCurrentProcessId());
        CreateDirectoryA(folder, nullptr);
        if (orvane::WriteFolderIcon(orvane::IconLocation(library, folder, 0)) != ERROR_SUCCESS) {
            std::fprintf(stderr, "cannot prepare %s\n", folder);
            return 1;
        }
        ChangeIconDialog record;
        orvane::CopyText(record.TargetPath, sizeof record.TargetPath, folder);
        std::thread watcher([&] { watch.Run(); });
        QueryPerformanceCounter(&start);
        // The program links the dialog with its resources.
        orvane::RunChangeIconDialog(GetModuleHandleA(nullptr), record);
        watch.Done = true;
        watcher.join();
        const std::string ini = std::string(folder) + "\\Desktop.ini";
        SetFileAttributesA(ini.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(ini.c_str());
        SetFileAttributesA(folder, FILE_ATTRIBUTE_DIRECTORY);
        RemoveDirectoryA(folder);
    } else if (std::strcmp(variant, "platform") == 0) {
        // PickIconDlg is exported by ordinal 62 (and by name on later systems).
        using PickIconDlgProc = int(WINAPI*)(HWND, WCHAR*, UINT, int*);
        HMODULE shell = LoadLibraryA("shell32.dll");
        auto pick = reinterpret_cast<PickIconDlgProc>(
            reinterpret_cast<void (*)()>(GetProcAddress(shell, MAKEINTRESOURCEA(62))));
        if (pick == nullptr) {
            std::fprintf(stderr, "PickIconDlg not found\n");
            return 1;
        }
        WCHAR path[MAX_PATH] = {};
        MultiByteToWideChar(CP_ACP, 0, library, -1, path, MAX_PATH);
        int index = 0;
        std::thread watcher([&] { watch.Run(); });
        QueryPerformanceCounter(&start);
        const int picked = pick(nullptr, path, MAX_PATH, &index);
        watch.Done = true;
        watcher.join();
        if (picked == -1 && !watch.Seen) {
            // The dialog could not be made at all (Wine 8's shell32 has no template for
            // it and answers -1 at once): reported as unavailable, not as a time.
            std::printf("-1 %llu\n", static_cast<unsigned long long>(PeakWorkingSet()));
            return 0;
        }
    } else if (std::strcmp(variant, "extract") == 0) {
        // The bare work every picker has to do: count the icons and extract them all
        // (Wine's ExtractIconEx hands out only the first of a batch; the rest one by one).
        QueryPerformanceCounter(&start);
        const UINT n = ExtractIconExA(library, -1, nullptr, nullptr, 0);
        std::vector<HICON> icons(n);
        ExtractIconExA(library, 0, icons.data(), nullptr, n);
        for (UINT i = 0; i < n; ++i)
            if (icons[i] == nullptr)
                ExtractIconExA(library, static_cast<int>(i), &icons[i], nullptr, 1);
        LARGE_INTEGER end;
        QueryPerformanceCounter(&end);
        for (HICON icon : icons)
            if (icon != nullptr)
                DestroyIcon(icon);
        std::printf("%.1f %llu\n", Milliseconds(start, end), static_cast<unsigned long long>(PeakWorkingSet()));
        return 0;
    } else {
        // Only the process itself with the common controls loaded: the baseline.
        std::printf("0 %llu\n", static_cast<unsigned long long>(PeakWorkingSet()));
        return 0;
    }
    if (!watch.Seen) {
        std::fprintf(stderr, "%s: the list never held %ld items\n", variant, static_cast<long>(count));
        return 1;
    }
    std::printf("%.1f %llu\n", Milliseconds(start, watch.Filled),
                static_cast<unsigned long long>(PeakWorkingSet()));
    return 0;
}

struct Sample {
    double Ms = 0;
    unsigned long long Peak = 0;
};

bool RunChild(const std::string& self, const std::string& arguments, Sample* sample)
{
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0))
        return false;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    std::string command = "\"" + self + "\" " + arguments;
    PROCESS_INFORMATION process{};
    const BOOL started = CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                        &startup, &process);
    CloseHandle(writeEnd);
    std::string output;
    if (started) {
        char buffer[256];
        DWORD got = 0;
        while (ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got > 0)
            output.append(buffer, got);
        WaitForSingleObject(process.hProcess, INFINITE);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    CloseHandle(readEnd);
    return started && std::sscanf(output.c_str(), "%lf %llu", &sample->Ms, &sample->Peak) == 2;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 2 && std::strcmp(argv[1], "--one") == 0)
        return argc >= 5 ? MeasureOne(argv[2], argv[3], std::atol(argv[4]))
                         : (argc == 3 ? MeasureOne(argv[2], "", 0) : 2);
    const int repetitions = argc >= 2 ? std::max(1, std::atoi(argv[1])) : 3;

    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, sizeof self);
    std::string folder(self);
    folder.erase(folder.find_last_of('\\'));
    char system[MAX_PATH] = {};
    GetSystemDirectoryA(system, sizeof system);
    const std::string libraries[] = {std::string(system) + "\\shell32.dll", folder + "\\bench_icons1000.dll"};

    Sample baseline;
    RunChild(self, "--one none", &baseline);
    std::printf("Change Icon dialog: opening until the icon list is filled (median of %d runs, each in its own "
                "process)\n",
                repetitions);
    std::printf("baseline process peak working set: %.1f MiB\n", baseline.Peak / 1048576.0);
    std::printf("%-20s %6s %10s %12s %8s %12s %11s %11s\n", "library", "icons", "ours ms", "platform ms",
                "ratio", "extract ms", "ours peak", "platf. peak");
    int status = 0;
    bool platformMissing = false;
    for (const std::string& library : libraries) {
        const char* name = library.c_str() + library.find_last_of('\\') + 1;
        const UINT n = ExtractIconExA(library.c_str(), -1, nullptr, nullptr, 0);
        if (n == 0 || n == static_cast<UINT>(-1)) {
            std::printf("%-20s no icons found in %s\n", name, library.c_str());
            status = 1;
            continue;
        }
        std::vector<double> ours, platform, extract;
        unsigned long long oursPeak = 0, platformPeak = 0;
        for (int i = 0; i < repetitions; ++i) {
            Sample a, b, c;
            const std::string arguments = "\"" + library + "\" " + std::to_string(n);
            if (RunChild(self, "--one ours " + arguments, &a)) {
                ours.push_back(a.Ms);
                oursPeak = std::max(oursPeak, a.Peak);
            }
            if (RunChild(self, "--one platform " + arguments, &b)) {
                if (b.Ms < 0)
                    platformMissing = true;
                else
                    platform.push_back(b.Ms);
                platformPeak = std::max(platformPeak, b.Peak);
            }
            if (RunChild(self, "--one extract " + arguments, &c))
                extract.push_back(c.Ms);
        }
        if (ours.empty()) {
            std::printf("%-20s %6u measurement failed\n", name, n);
            status = 1;
            continue;
        }
        const double a = Median(ours);
        char platformText[32] = "n/a", ratioText[32] = "n/a", platformPeakText[32] = "n/a";
        if (!platform.empty()) {
            std::snprintf(platformText, sizeof platformText, "%.1f", Median(platform));
            std::snprintf(ratioText, sizeof ratioText, "%.2f", a / Median(platform));
            std::snprintf(platformPeakText, sizeof platformPeakText, "%.1f MiB", platformPeak / 1048576.0);
        }
        std::printf("%-20s %6u %10.1f %12s %8s %12.1f %7.1f MiB %11s\n", name, n, a, platformText, ratioText,
                    Median(extract), oursPeak / 1048576.0, platformPeakText);
    }
    if (platformMissing)
        std::printf("platform: PickIconDlg (shell32 ordinal 62) returned -1 without opening a window; this "
                    "shell32 has no icon picker to compare with.\n");
    std::printf("extract: counting and extracting every icon alone, no window (the floor for any picker).\n");
    return status;
}
