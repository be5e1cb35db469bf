// How soon the Change Icon dialog shows its icons: from the dialog's start until the icon
// list has first been drawn with the source's items, against the same dialog opened on a
// source without icons; then until every item's image has been asked of the list (and so
// extracted), and the process's peak working set at that point. Each measurement runs in
// a process of its own, so that no run profits from another's caches or counts its
// memory; the rounds alternate between the source and the empty one.
//
//   orvane_dialog_bench.exe [repetitions]
#include <windows.h>

#include <commctrl.h>
#include <psapi.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <iterator>
#include <string>
#include <vector>

#include "ChangeIconDialog.h"
#include "FolderIcons.h"

namespace {

using orvane::ChangeIconDialog;

constexpr UINT_PTR WatchdogTimer = 0x0BE7;
constexpr UINT WatchdogMs = 300000;
// Posted to the list once its first screen has been drawn: asks it for every image.
const UINT AskAllImages = RegisterWindowMessageW(L"OrvaneBenchAskAllImages");

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

// What one measuring process observes of the dialog's list, on the dialog's own thread:
// the list is subclassed as it is created (a CBT hook), so its first WM_PAINT is seen
// from inside, when it has been drawn rather than when another thread polls it.
struct Watch {
    LONG_PTR Expected = 0;
    HWND List = nullptr;
    WNDPROC ListProc = nullptr;
    HHOOK Hook = nullptr;
    LARGE_INTEGER Start{};
    LARGE_INTEGER FirstScreen{};
    LARGE_INTEGER AllImages{};
    bool Drawn = false;
    bool Asked = false;
    long WithoutImage = 0;
};
Watch watch;

void CloseDialog()
{
    PostMessageW(GetParent(watch.List), WM_COMMAND, IDCANCEL, 0);
}

LRESULT CALLBACK ListProc(HWND list, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == AskAllImages) {
        for (LONG_PTR i = 0; i < watch.Expected; ++i) {
            LVITEMW item{};
            item.mask = LVIF_IMAGE;
            item.iItem = static_cast<int>(i);
            item.iImage = -1;
            if (!SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item)) || item.iImage < 0)
                ++watch.WithoutImage;
        }
        QueryPerformanceCounter(&watch.AllImages);
        watch.Asked = true;
        CloseDialog();
        return 0;
    }
    if (message == WM_TIMER && wParam == WatchdogTimer) {
        CloseDialog();
        return 0;
    }
    const LRESULT result = CallWindowProcW(watch.ListProc, list, message, wParam, lParam);
    if (message == WM_PAINT && !watch.Drawn && IsWindowVisible(list) &&
        SendMessageW(list, LVM_GETITEMCOUNT, 0, 0) == watch.Expected) {
        QueryPerformanceCounter(&watch.FirstScreen);
        watch.Drawn = true;
        PostMessageW(list, AskAllImages, 0, 0);
    }
    return result;
}

LRESULT CALLBACK OnCreateWindow(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_CREATEWND && watch.List == nullptr) {
        HWND window = reinterpret_cast<HWND>(wParam);
        wchar_t name[32] = {};
        GetClassNameW(window, name, static_cast<int>(std::size(name)));
        if (lstrcmpiW(name, WC_LISTVIEWW) == 0) {
            watch.List = window;
            watch.ListProc = reinterpret_cast<WNDPROC>(
                SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ListProc)));
            SetTimer(window, WatchdogTimer, WatchdogMs, nullptr);
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// One measurement: prints "<first screen ms> <all images ms> <peak working set bytes>".
int MeasureOne(const wchar_t* source, LONG_PTR count)
{
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);

    // A folder whose icon comes from the source: the dialog lists it when it opens.
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
    if (orvane::WriteFolderIcon(orvane::IconLocation(source, folder, 0)) != ERROR_SUCCESS) {
        std::fprintf(stderr, "cannot prepare %s\n", Utf8(folder).c_str());
        return 1;
    }
    ChangeIconDialog record;
    orvane::CopyText(record.TargetPath, std::size(record.TargetPath), folder);
    watch.Expected = count;
    watch.Hook = SetWindowsHookExW(WH_CBT, OnCreateWindow, nullptr, GetCurrentThreadId());
    QueryPerformanceCounter(&watch.Start);
    // The program links the dialog with its resources.
    orvane::RunChangeIconDialog(GetModuleHandleW(nullptr), record);
    UnhookWindowsHookEx(watch.Hook);
    const std::wstring ini = std::wstring(folder) + L"\\Desktop.ini";
    SetFileAttributesW(ini.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(ini.c_str());
    SetFileAttributesW(folder, FILE_ATTRIBUTE_DIRECTORY);
    RemoveDirectoryW(folder);

    if (!watch.Drawn || !watch.Asked) {
        std::fprintf(stderr, "%s: the list was never drawn with %ld items\n", Utf8(source).c_str(),
                     static_cast<long>(count));
        return 1;
    }
    if (watch.WithoutImage != 0)
        std::fprintf(stderr, "%s: %ld items without an image\n", Utf8(source).c_str(), watch.WithoutImage);
    std::printf("%.1f %.1f %llu\n", Milliseconds(watch.Start, watch.FirstScreen),
                Milliseconds(watch.Start, watch.AllImages), static_cast<unsigned long long>(PeakWorkingSet()));
    return 0;
}

struct Sample {
    double FirstScreen = 0;
    double AllImages = 0;
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
    return started &&
           std::sscanf(output.c_str(), "%lf %lf %llu", &sample->FirstScreen, &sample->AllImages, &sample->Peak) == 3;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

double MiB(unsigned long long bytes) { return static_cast<double>(bytes) / 1048576.0; }

int Run(int argc, wchar_t** argv)
{
    if (argc >= 2 && std::wcscmp(argv[1], L"--one") == 0)
        return argc >= 4 ? MeasureOne(argv[2], std::wcstol(argv[3], nullptr, 10)) : 2;
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
    const std::wstring sources[] = {std::wstring(system) + L"\\shell32.dll", folder + L"\\bench_icons1000.dll",
                                    folder + L"\\bench_icons10000.dll"};
    // The source without icons: a text file beside the program.
    const std::wstring empty = folder + L"\\bench_no_icons.txt";
    HANDLE file = CreateFileW(empty.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "cannot write %s\n", Utf8(empty).c_str());
        return 1;
    }
    DWORD written = 0;
    WriteFile(file, "no icons in here\r\n", 18, &written, nullptr);
    CloseHandle(file);

    std::printf("Change Icon dialog: from its start until the icon list's first screen is drawn, and until "
                "every item's image has been asked of it (median of %d runs, each in its own process)\n",
                repetitions);
    int status = 0;
    for (const std::wstring& source : sources) {
        const std::string name = Utf8(source.substr(source.find_last_of(L'\\') + 1));
        const UINT n = ExtractIconExW(source.c_str(), -1, nullptr, nullptr, 0);
        if (n == 0 || n == static_cast<UINT>(-1)) {
            std::printf("source %s: no icons found in %s\n", name.c_str(), Utf8(source).c_str());
            status = 1;
            continue;
        }
        std::vector<double> first, all, none;
        unsigned long long peak = 0, nonePeak = 0;
        for (int i = 0; i < repetitions; ++i) {
            Sample a, b;
            if (RunChild(self, L"--one \"" + source + L"\" " + std::to_wstring(n), &a)) {
                first.push_back(a.FirstScreen);
                all.push_back(a.AllImages);
                peak = std::max(peak, a.Peak);
            }
            if (RunChild(self, L"--one \"" + empty + L"\" 0", &b)) {
                none.push_back(b.FirstScreen);
                nonePeak = std::max(nonePeak, b.Peak);
            }
        }
        if (first.empty() || none.empty()) {
            std::printf("source %s icons %u: measurement failed\n", name.c_str(), n);
            status = 1;
            continue;
        }
        const double x = Median(first), y = Median(none);
        std::printf("source %s icons %u: first screen %.1f ms, empty dialog %.1f ms, ratio %.2f, all icons %.1f ms, "
                    "peak %.1f MiB (empty dialog peak %.1f MiB, %+.1f MiB)\n",
                    name.c_str(), n, x, y, x / y, Median(all), MiB(peak), MiB(nonePeak),
                    MiB(peak) - MiB(nonePeak));
        std::fflush(stdout);
    }
    DeleteFileW(empty.c_str());
    return status;
}

} // namespace

// The arguments in UTF-16, as the system keeps them: a source or folder of any name
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
