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
#include <cwchar>
#include <iterator>
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

// A window's class name; empty when it cannot be read.
std::wstring ClassOf(HWND window)
{
    wchar_t name[32] = {};
    GetClassNameW(window, name, static_cast<int>(std::size(name)));
    return name;
}

// UTF-8 of a text, for what the benchmark prints.
std::string Utf8(const std::wstring& text)
{
    if (text.empty())
        return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string bytes(size > 0 ? static_cast<std::size_t>(size) : 0, '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &bytes[0], size, nullptr,
                            nullptr);
    return bytes;
}

BOOL CALLBACK CollectDialogs(HWND window, LPARAM param)
{
    if (ClassOf(window) == L"#32770" && IsWindowVisible(window))
        reinterpret_cast<std::vector<HWND>*>(param)->push_back(window);
    return TRUE;
}

BOOL CALLBACK FindIconList(HWND window, LPARAM param)
{
    const std::wstring name = ClassOf(window);
    if (lstrcmpiW(name.c_str(), L"ListBox") == 0 || lstrcmpiW(name.c_str(), L"SysListView32") == 0) {
        *reinterpret_cast<HWND*>(param) = window;
        return FALSE;
    }
    return TRUE;
}

LRESULT ItemCount(HWND list)
{
    return SendMessageW(list, lstrcmpiW(ClassOf(list).c_str(), L"ListBox") == 0 ? LB_GETCOUNT : LVM_GETITEMCOUNT, 0,
                        0);
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
                PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
                return;
            }
            Sleep(1);
        }
        if (dialog != nullptr)
            PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    }
};

// One measurement: prints "<milliseconds> <peak working set bytes>".
int MeasureOne(const wchar_t* variant, const wchar_t* library, LRESULT count)
{
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);

    ListWatch watch{GetCurrentThreadId(), count};
    LARGE_INTEGER start;

    if (std::wcscmp(variant, L"ours") == 0) {
        // A folder whose icon comes from the library: the dialog lists it when it opens.
        wchar_t temp[MAX_PATH];
        const DWORD tempLength = GetTempPathW(static_cast<DWORD>(std::size(temp)), temp);
        wchar_t folder[MAX_PATH];
        const int folderLength = tempLength == 0 || tempLength >= std::size(temp)
                                     ? -1
                                     : std::swprintf(folder, std::size(folder), L"%lsorvane-bench-%lu", temp,
                                                     GetCurrentProcessId());
        if (folderLength < 0 || folderLength >= static_cast<int>(std::size(folder))) {
            std::fprintf(stderr, "the temporary folder's path is too long\n");
            return 1;
        }
        CreateDirectoryW(folder, nullptr);
        if (orvane::WriteFolderIcon(orvane::IconLocation(library, folder, 0)) != ERROR_SUCCESS) {
            std::fprintf(stderr, "cannot prepare %s\n", Utf8(folder).c_str());
            return 1;
        }
        ChangeIconDialog record;
        orvane::CopyText(record.TargetPath, std::size(record.TargetPath), folder);
        std::thread watcher([&] { watch.Run(); });
        QueryPerformanceCounter(&start);
        // The program links the dialog with its resources.
        orvane::RunChangeIconDialog(GetModuleHandleW(nullptr), record);
        watch.Done = true;
        watcher.join();
        const std::wstring ini = std::wstring(folder) + L"\\Desktop.ini";
        SetFileAttributesW(ini.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(ini.c_str());
        SetFileAttributesW(folder, FILE_ATTRIBUTE_DIRECTORY);
        RemoveDirectoryW(folder);
    } else if (std::wcscmp(variant, L"platform") == 0) {
        // PickIconDlg is exported by ordinal 62 (and by name on later systems).
        using PickIconDlgProc = int(WINAPI*)(HWND, WCHAR*, UINT, int*);
        HMODULE shell = LoadLibraryW(L"shell32.dll");
        auto pick = reinterpret_cast<PickIconDlgProc>(
            reinterpret_cast<void (*)()>(GetProcAddress(shell, MAKEINTRESOURCEA(62))));
        if (pick == nullptr) {
            std::fprintf(stderr, "PickIconDlg not found\n");
            return 1;
        }
        WCHAR path[MAX_PATH] = {};
        if (!orvane::CopyText(path, std::size(path), library)) {
            std::fprintf(stderr, "the library's path is too long\n");
            return 1;
        }
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
    } else if (std::wcscmp(variant, L"extract") == 0) {
        // The bare work every picker has to do: count the icons and extract them all
        // (Wine's ExtractIconEx hands out only the first of a batch; the rest one by one).
        QueryPerformanceCounter(&start);
        const UINT n = ExtractIconExW(library, -1, nullptr, nullptr, 0);
        std::vector<HICON> icons(n);
        ExtractIconExW(library, 0, icons.data(), nullptr, n);
        for (UINT i = 0; i < n; ++i)
            if (icons[i] == nullptr)
                ExtractIconExW(library, static_cast<int>(i), &icons[i], nullptr, 1);
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
        std::fprintf(stderr, "%s: the list never held %ld items\n", Utf8(variant).c_str(), static_cast<long>(count));
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

bool RunChild(const std::wstring& self, const std::wstring& arguments, Sample* sample)
{
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0))
        return false;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    std::wstring command = L"\"" + self + L"\" " + arguments;
    PROCESS_INFORMATION process{};
    const BOOL started = CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
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

int Run(int argc, wchar_t** argv)
{
    if (argc >= 2 && std::wcscmp(argv[1], L"--one") == 0)
        return argc >= 5 ? MeasureOne(argv[2], argv[3], std::wcstol(argv[4], nullptr, 10))
                         : (argc == 3 ? MeasureOne(argv[2], L"", 0) : 2);
    const int repetitions = argc >= 2 ? std::max(1, static_cast<int>(std::wcstol(argv[1], nullptr, 10))) : 3;

    wchar_t self[MAX_PATH] = {};
    const DWORD selfLength = GetModuleFileNameW(nullptr, self, static_cast<DWORD>(std::size(self)));
    wchar_t system[MAX_PATH] = {};
    const UINT systemLength = GetSystemDirectoryW(system, static_cast<UINT>(std::size(system)));
    if (selfLength == 0 || selfLength >= std::size(self) || systemLength == 0 || systemLength >= std::size(system)) {
        std::fprintf(stderr, "the program's or the system folder's path is too long\n");
        return 1;
    }
    std::wstring folder(self);
    folder.erase(folder.find_last_of(L'\\'));
    const std::wstring libraries[] = {std::wstring(system) + L"\\shell32.dll", folder + L"\\bench_icons1000.dll"};

    Sample baseline;
    RunChild(self, L"--one none", &baseline);
    std::printf("Change Icon dialog: opening until the icon list is filled (median of %d runs, each in its own "
                "process)\n",
                repetitions);
    std::printf("baseline process peak working set: %.1f MiB\n", baseline.Peak / 1048576.0);
    std::printf("%-20s %6s %10s %12s %8s %12s %11s %11s\n", "library", "icons", "ours ms", "platform ms",
                "ratio", "extract ms", "ours peak", "platf. peak");
    int status = 0;
    bool platformMissing = false;
    for (const std::wstring& library : libraries) {
        const std::string name = Utf8(library.substr(library.find_last_of(L'\\') + 1));
        const UINT n = ExtractIconExW(library.c_str(), -1, nullptr, nullptr, 0);
        if (n == 0 || n == static_cast<UINT>(-1)) {
            std::printf("%-20s no icons found in %s\n", name.c_str(), Utf8(library).c_str());
            status = 1;
            continue;
        }
        std::vector<double> ours, platform, extract;
        unsigned long long oursPeak = 0, platformPeak = 0;
        for (int i = 0; i < repetitions; ++i) {
            Sample a, b, c;
            const std::wstring arguments = L"\"" + library + L"\" " + std::to_wstring(n);
            if (RunChild(self, L"--one ours " + arguments, &a)) {
                ours.push_back(a.Ms);
                oursPeak = std::max(oursPeak, a.Peak);
            }
            if (RunChild(self, L"--one platform " + arguments, &b)) {
                if (b.Ms < 0)
                    platformMissing = true;
                else
                    platform.push_back(b.Ms);
                platformPeak = std::max(platformPeak, b.Peak);
            }
            if (RunChild(self, L"--one extract " + arguments, &c))
                extract.push_back(c.Ms);
        }
        if (ours.empty()) {
            std::printf("%-20s %6u measurement failed\n", name.c_str(), n);
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
        std::printf("%-20s %6u %10.1f %12s %8s %12.1f %7.1f MiB %11s\n", name.c_str(), n, a, platformText, ratioText,
                    Median(extract), oursPeak / 1048576.0, platformPeakText);
    }
    if (platformMissing)
        std::printf("platform: PickIconDlg (shell32 ordinal 62) returned -1 without opening a window; this "
                    "shell32 has no icon picker to compare with.\n");
    std::printf("extract: counting and extracting every icon alone, no window (the floor for any picker).\n");
    return status;
}

} // namespace

// The arguments in UTF-16, as the system keeps them: a library or folder of any name
// reaches the measuring processes unchanged.
int main()
{
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv == nullptr)
        return 2;
    const int status = Run(argc, argv);
    LocalFree(argv);
    return status;
}
