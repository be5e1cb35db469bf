// How soon the Change Icon dialog shows its icons: from the dialog's start until the icon
// list has first been drawn with the source's items, against the same dialog opened on a
// source without icons; then until every item's image has been asked of the list (and so
// extracted), and the process's peak working set at that point. Each measurement runs in
// a process of its own, so that no run profits from another's caches or counts its
// memory. A round measures the source and then the empty dialog; a source's ratio is the
// median of its rounds' ratios, so that a moment of load on a shared machine moves one
// round rather than the figure, and the lowest and highest show how far rounds strayed.
// All of it at 96 and at 144 DPI: a process takes the system DPI from the registry as it
// starts, so each DPI is measured by a process started with LogPixels set to it, and the
// value is put back as it was once that process has ended.
//
// Each step runs under a time limit of its own (BenchStep.h), in every process: one
// dialog, one source at one DPI, one DPI.
//
//   orvane_dialog_bench.exe [rounds]           both DPIs; 7 rounds, never fewer
//   orvane_dialog_bench.exe --dpi D rounds     one DPI, with LogPixels already D
//   orvane_dialog_bench.exe --one SOURCE N     one measurement
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

#include "BenchStep.h"
#include "ChangeIconDialog.h"
#include "FolderIcons.h"
#include "LogPixels.h"
#include "Scaling.h"

namespace {

using orvane::ChangeIconDialog;

constexpr UINT_PTR WatchdogTimer = 0x0BE7;
constexpr UINT WatchdogMs = 300000;
// One dialog shows all of 10,000 icons in about 4 s here; the limit lets the list's own
// timer close a dialog that never finishes first, and catches one that never shows its
// list.
constexpr DWORD DialogLimitSeconds = WatchdogMs / 1000 + 120;
// A round (two dialogs) takes 2 to 6 s here.
DWORD SourceLimitSeconds(int rounds) { return 120 + static_cast<DWORD>(rounds) * 60; }
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

// Explorer is per-monitor aware, and so is every process of the benchmark: Windows shows
// a process that is not aware a 96-DPI screen whatever the system DPI, and stretches its
// windows. The second version of per-monitor awareness came with Windows 10 1703, the
// first with 8.1, before that only the system-wide awareness of Vista. Wine 8 knows no
// second version and makes every process per-monitor aware from its start, so that there
// each of these calls fails and changes nothing.
void BecomeDpiAware()
{
    using SetContext = BOOL(WINAPI*)(DPI_AWARENESS_CONTEXT);
    const HMODULE user32 = GetModuleHandleW(L"user32.dll");
    const auto setContext = user32 == nullptr ? nullptr
                                              : reinterpret_cast<SetContext>(reinterpret_cast<void (*)()>(
                                                    GetProcAddress(user32, "SetProcessDpiAwarenessContext")));
    if (setContext != nullptr && (setContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2) ||
                                  setContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE)))
        return;
    SetProcessDPIAware();
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
    UINT Dpi = 0;
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
        watch.Dpi = orvane::WindowDpi(GetAncestor(list, GA_ROOT));
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

// One measurement: prints "<first screen ms> <all images ms> <peak working set bytes>
// <the dialog's DPI>".
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
    std::printf("%.1f %.1f %llu %u\n", Milliseconds(watch.Start, watch.FirstScreen),
                Milliseconds(watch.Start, watch.AllImages), static_cast<unsigned long long>(PeakWorkingSet()),
                watch.Dpi);
    return 0;
}

struct Sample {
    double FirstScreen = 0;
    double AllImages = 0;
    unsigned long long Peak = 0;
    unsigned Dpi = 0;
};

// Runs this program with ARGUMENTS and waits for it to end. What it prints is kept in
// OUTPUT and, when RELAY, passed on to this program's own output as it comes. Returns its
// exit code, or -1 when it could not be started.
int RunChild(const std::wstring& self, const std::wstring& arguments, std::string& output, bool relay)
{
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0))
        return -1;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    std::wstring command = L"\"" + self + L"\" " + arguments;
    PROCESS_INFORMATION process{};
    std::fflush(stdout);
    const BOOL started = CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                        &startup, &process);
    CloseHandle(writeEnd);
    DWORD code = static_cast<DWORD>(-1);
    if (started) {
        char buffer[256];
        DWORD got = 0;
        while (ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got > 0) {
            output.append(buffer, got);
            if (relay) {
                std::fwrite(buffer, 1, got, stdout);
                std::fflush(stdout);
            }
        }
        WaitForSingleObject(process.hProcess, INFINITE);
        if (!GetExitCodeProcess(process.hProcess, &code))
            code = static_cast<DWORD>(-1);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    CloseHandle(readEnd);
    return static_cast<int>(code);
}

bool Measure(const std::wstring& self, const std::wstring& source, UINT count, Sample* sample)
{
    std::string output;
    return RunChild(self, L"--one \"" + source + L"\" " + std::to_wstring(count), output, false) == 0 &&
           std::sscanf(output.c_str(), "%lf %lf %llu %u", &sample->FirstScreen, &sample->AllImages, &sample->Peak,
                       &sample->Dpi) == 4;
}

double Median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 != 0 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

double MiB(unsigned long long bytes) { return static_cast<double>(bytes) / 1048576.0; }

constexpr int MinimumRounds = 7;
constexpr UINT Dpis[] = {96, 144};
constexpr double RatioGoal = 1.25;
constexpr double PeakGoalMiB = 10;
// A DPI process's exit codes.
constexpr int GoalMet = 0;
constexpr int MeasurementFailed = 1;
constexpr int GoalNotMet = 3;

// One DPI's figures, in a process that started with LogPixels set to it.
int MeasureAtDpi(const std::wstring& self, UINT dpi, int rounds)
{
    BecomeDpiAware();
    if (HDC screen = GetDC(nullptr)) {
        const int seen = GetDeviceCaps(screen, LOGPIXELSY);
        ReleaseDC(nullptr, screen);
        if (seen != static_cast<int>(dpi))
            std::printf("dpi %u asked, but the screen reports %d (LOGPIXELSY)\n", dpi, seen);
    }
    wchar_t system[MAX_PATH] = {};
    const UINT systemLength = GetSystemDirectoryW(system, static_cast<UINT>(std::size(system)));
    if (systemLength == 0 || systemLength >= std::size(system)) {
        std::fprintf(stderr, "the system folder's path is too long\n");
        return MeasurementFailed;
    }
    std::wstring folder(self);
    folder.erase(folder.find_last_of(L'\\'));
    // The peak is held to its goal where it matters, with the most icons.
    const struct {
        std::wstring Path;
        bool PeakGoal;
    } sources[] = {{std::wstring(system) + L"\\shell32.dll", false},
                   {folder + L"\\bench_icons1000.dll", false},
                   {folder + L"\\bench_icons10000.dll", true}};
    // The source without icons: a text file beside the program.
    const std::wstring empty = folder + L"\\bench_no_icons.txt";
    HANDLE file = CreateFileW(empty.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "cannot write %s\n", Utf8(empty).c_str());
        return MeasurementFailed;
    }
    DWORD written = 0;
    const bool filled = WriteFile(file, "no icons in here\r\n", 18, &written, nullptr) && written == 18;
    CloseHandle(file);
    if (!filled) {
        std::fprintf(stderr, "cannot write %s\n", Utf8(empty).c_str());
        DeleteFileW(empty.c_str());
        return MeasurementFailed;
    }

    int status = GoalMet;
    for (const auto& source : sources) {
        const std::string name = Utf8(source.Path.substr(source.Path.find_last_of(L'\\') + 1));
        const orvane::bench::BenchStep step("source " + name + " dpi " + std::to_string(dpi), SourceLimitSeconds(rounds));
        const UINT n = ExtractIconExW(source.Path.c_str(), -1, nullptr, nullptr, 0);
        if (n == 0 || n == static_cast<UINT>(-1)) {
            std::printf("source %s dpi %u: no icons found in %s\n", name.c_str(), dpi, Utf8(source.Path).c_str());
            status = MeasurementFailed;
            continue;
        }
        std::vector<double> first, none, ratios, all;
        unsigned long long peak = 0, nonePeak = 0;
        unsigned otherDpi = 0;
        for (int i = 0; i < rounds; ++i) {
            Sample a, b;
            // A round counts only whole: a ratio of two measurements taken side by side.
            if (!Measure(self, source.Path, n, &a) || !Measure(self, empty, 0, &b) || b.FirstScreen <= 0)
                continue;
            first.push_back(a.FirstScreen);
            none.push_back(b.FirstScreen);
            ratios.push_back(a.FirstScreen / b.FirstScreen);
            all.push_back(a.AllImages);
            peak = std::max(peak, a.Peak);
            nonePeak = std::max(nonePeak, b.Peak);
            for (const unsigned seen : {a.Dpi, b.Dpi})
                if (seen != dpi)
                    otherDpi = seen;
        }
        if (ratios.size() < static_cast<std::size_t>(rounds)) {
            std::printf("source %s icons %u dpi %u: %d of %d rounds failed\n", name.c_str(), n, dpi,
                        rounds - static_cast<int>(ratios.size()), rounds);
            status = MeasurementFailed;
            if (ratios.empty())
                continue;
        }
        const double ratio = Median(ratios);
        const auto [lowest, highest] = std::minmax_element(ratios.begin(), ratios.end());
        std::printf("source %s icons %u dpi %u: first screen %.1f ms, empty dialog %.1f ms, ratio %.2f (spread "
                    "%.2f-%.2f), all icons %.1f ms, peak %.1f MiB\n",
                    name.c_str(), n, dpi, Median(first), Median(none), ratio, *lowest, *highest, Median(all),
                    MiB(peak));
        if (otherDpi != 0)
            std::printf("  the dialog was drawn at %u DPI, not %u\n", otherDpi, dpi);
        const bool ratioMet = ratio <= RatioGoal;
        std::printf("  goal: median ratio at most %.2f: %s", RatioGoal, ratioMet ? "met" : "not met");
        bool peakMet = true;
        if (source.PeakGoal) {
            const double above = MiB(peak) - MiB(nonePeak);
            peakMet = above <= PeakGoalMiB;
            std::printf("; peak at most %.0f MiB above the empty dialog's %.1f MiB: %s (%+.1f MiB)", PeakGoalMiB,
                        MiB(nonePeak), peakMet ? "met" : "not met", above);
        }
        std::printf("\n");
        if ((!ratioMet || !peakMet) && status == GoalMet)
            status = GoalNotMet;
        std::fflush(stdout);
    }
    DeleteFileW(empty.c_str());
    return status;
}

// LogPixels as it was before the benchmark, put back also when the benchmark is stopped
// with Ctrl+C while a DPI is being measured.
const orvane::bench::LogPixels* savedLogPixels = nullptr;

void PutLogPixelsBack()
{
    if (savedLogPixels != nullptr)
        savedLogPixels->Restore();
}

BOOL WINAPI OnConsoleStop(DWORD)
{
    PutLogPixelsBack();
    return FALSE;
}

int Run(int argc, wchar_t** argv)
{
    if (argc >= 2 && std::wcscmp(argv[1], L"--one") == 0) {
        BecomeDpiAware();
        if (argc < 4)
            return 2;
        return orvane::bench::RunStep("dialog of " + std::to_string(std::wcstol(argv[3], nullptr, 10)) + " icons",
                                      DialogLimitSeconds, [&] { return MeasureOne(argv[2], std::wcstol(argv[3], nullptr, 10)); });
    }
    wchar_t self[MAX_PATH] = {};
    const DWORD selfLength = GetModuleFileNameW(nullptr, self, static_cast<DWORD>(std::size(self)));
    if (selfLength == 0 || selfLength >= std::size(self)) {
        std::fprintf(stderr, "the program's path is too long\n");
        return 1;
    }
    if (argc >= 2 && std::wcscmp(argv[1], L"--dpi") == 0) {
        if (argc < 4)
            return 2;
        return MeasureAtDpi(self, static_cast<UINT>(std::wcstoul(argv[2], nullptr, 10)),
                            std::max(MinimumRounds, static_cast<int>(std::wcstol(argv[3], nullptr, 10))));
    }
    const int rounds =
        argc >= 2 ? std::max(MinimumRounds, static_cast<int>(std::wcstol(argv[1], nullptr, 10))) : MinimumRounds;

    std::printf("Change Icon dialog: from its start until the icon list's first screen is drawn, against the "
                "same dialog on a source without icons, and until every item's image has been asked of it; "
                "medians of %d rounds (each measurement in its own process), ratio with the lowest and highest "
                "round, peak working set the highest\n",
                rounds);
    orvane::bench::LogPixels logPixels;
    if (!logPixels.Save()) {
        std::fprintf(stderr, "cannot read LogPixels of HKCU\\Control Panel\\Desktop\n");
        return 1;
    }
    savedLogPixels = &logPixels;
    SetConsoleCtrlHandler(OnConsoleStop, TRUE);
    orvane::bench::OnStepTimeout(PutLogPixelsBack);
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    bool failed = false, notMet = false;
    for (const UINT dpi : Dpis) {
        if (!logPixels.Set(dpi)) {
            std::fprintf(stderr, "cannot set LogPixels to %u\n", dpi);
            failed = true;
            continue;
        }
        std::string output;
        // The three sources' limits and a start.
        const int code = orvane::bench::RunStep("dpi " + std::to_string(dpi), 60 + 3 * SourceLimitSeconds(rounds), [&] {
            return RunChild(self, L"--dpi " + std::to_wstring(dpi) + L" " + std::to_wstring(rounds), output, true);
        });
        if (!logPixels.Restore()) {
            std::fprintf(stderr, "cannot put LogPixels of HKCU\\Control Panel\\Desktop back\n");
            failed = true;
            break;
        }
        failed = failed || (code != GoalMet && code != GoalNotMet);
        notMet = notMet || code == GoalNotMet;
    }
    SetConsoleCtrlHandler(OnConsoleStop, FALSE);
    orvane::bench::OnStepTimeout(nullptr);
    savedLogPixels = nullptr;
    QueryPerformanceCounter(&end);
    std::printf("goal (median ratio at most %.2f for every source, peak at most %.0f MiB above the empty dialog "
                "with 10,000 icons) at 96 and 144 DPI: %s; %.0f s in all\n",
                RatioGoal, PeakGoalMiB, failed ? "not known, a measurement failed" : notMet ? "not met" : "met",
                Milliseconds(start, end) / 1000);
    return failed ? 1 : 0;
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
