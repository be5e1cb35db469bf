// The dialog at the scaling of the monitor it is on: the list's images at the large icon
// size for that DPI, and the template's layout scaled, whether the dialog opens at that
// scaling or is moved there (WM_DPICHANGED).
//
// Wine takes the screen's DPI from the prefix's "LogPixels" when a process starts, so each
// scaling runs in a child process of this program; a process that does not say it is DPI
// aware is shown at 96 DPI, and Explorer is per-monitor aware, so the child's thread is too.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "DialogFixture.h"
#include "DrivenDialog.h"
#include "FolderIcons.h"
#include "Scaling.h"
#include "Screenshot.h"
#include "resource.h"

namespace orvane {
namespace {

using test::DialogDriver;

constexpr wchar_t DpiVariable[] = L"ORVANE_TEST_DPI";
constexpr wchar_t DesktopKey[] = L"Control Panel\\Desktop";

// The prefix's "LogPixels", put back as it was (or removed) at the end.
class LogPixelsGuard {
public:
    LogPixelsGuard()
    {
        DWORD size = sizeof saved_;
        had_ = RegGetValueW(HKEY_CURRENT_USER, DesktopKey, L"LogPixels", RRF_RT_REG_DWORD, nullptr, &saved_, &size) ==
               ERROR_SUCCESS;
    }
    ~LogPixelsGuard()
    {
        if (had_)
            Set(saved_);
        else
            RegDeleteKeyValueW(HKEY_CURRENT_USER, DesktopKey, L"LogPixels");
    }
    LogPixelsGuard(const LogPixelsGuard&) = delete;
    LogPixelsGuard& operator=(const LogPixelsGuard&) = delete;
    static bool Set(DWORD dpi)
    {
        return RegSetKeyValueW(HKEY_CURRENT_USER, DesktopKey, L"LogPixels", REG_DWORD, &dpi, sizeof dpi) ==
               ERROR_SUCCESS;
    }

private:
    DWORD saved_ = 0;
    bool had_ = false;
};

std::wstring ProgramFolder()
{
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring folder = self;
    return folder.substr(0, folder.find_last_of(L'\\'));
}

// This program run again with one test, and the DPI it is to find in its environment; its
// exit code.
DWORD RunChild(const wchar_t* test, UINT dpi)
{
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring line = L"\"" + std::wstring(self) + L"\" --gtest_also_run_disabled_tests --gtest_filter=" + test;
    SetEnvironmentVariableW(DpiVariable, std::to_wstring(dpi).c_str());
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    const BOOL started =
        CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process);
    SetEnvironmentVariableW(DpiVariable, nullptr);
    if (!started)
        return GetLastError();
    WaitForSingleObject(process.hProcess, 120000);
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(process.hProcess, &code);
    if (code == STILL_ACTIVE)
        TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

// Explorer's menu thread is per-monitor aware (v2 where Windows has it).
void BecomePerMonitorAware()
{
    using SetContext = HANDLE(WINAPI*)(HANDLE);
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    auto set = reinterpret_cast<SetContext>(
        reinterpret_cast<void (*)()>(GetProcAddress(user32, "SetThreadDpiAwarenessContext")));
    ASSERT_NE(set, nullptr);
    if (set(reinterpret_cast<HANDLE>(-4)) == nullptr) {
        ASSERT_NE(set(reinterpret_cast<HANDLE>(-3)), nullptr);
    }
}

RECT ChildRect(HWND dialog, HWND child)
{
    RECT r{};
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

std::string Show(const RECT& r)
{
    return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) + "," +
           std::to_string(r.bottom);
}

// Every control shown lies wholly inside the client area, none over another.
void ExpectLaidOut(HWND dialog)
{
    RECT client{};
    GetClientRect(dialog, &client);
    std::vector<std::pair<int, RECT>> shown;
    for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT))
        if (IsWindowVisible(child))
            shown.emplace_back(GetDlgCtrlID(child), ChildRect(dialog, child));
    ASSERT_GE(shown.size(), 8u);
    for (std::size_t i = 0; i < shown.size(); ++i) {
        const RECT& r = shown[i].second;
        EXPECT_TRUE(r.left >= 0 && r.top >= 0 && r.right <= client.right && r.bottom <= client.bottom)
            << "control " << shown[i].first << " at " << Show(r) << " in " << Show(client);
        for (std::size_t j = i + 1; j < shown.size(); ++j) {
            RECT both{};
            EXPECT_FALSE(IntersectRect(&both, &r, &shown[j].second))
                << "controls " << shown[i].first << " and " << shown[j].first << " overlap at " << Show(both);
        }
    }
}

// Tab walks every control shown that takes the focus, each once, and comes round.
void ExpectTabReachesEveryControl(HWND dialog)
{
    std::vector<HWND> stops;
    for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT))
        if (IsWindowVisible(child) && IsWindowEnabled(child) && (GetWindowLongPtrW(child, GWL_STYLE) & WS_TABSTOP))
            stops.push_back(child);
    ASSERT_GE(stops.size(), 7u); // the sources, "...", the list, the folder's three, OK, Cancel
    HWND first = GetNextDlgTabItem(dialog, nullptr, FALSE);
    std::vector<HWND> walked;
    HWND at = first;
    for (std::size_t i = 0; i < stops.size(); ++i) {
        walked.push_back(at);
        at = GetNextDlgTabItem(dialog, at, FALSE);
    }
    EXPECT_EQ(at, first);
    std::sort(stops.begin(), stops.end());
    std::sort(walked.begin(), walked.end());
    EXPECT_EQ(walked, stops);
}

int ImageSize(const DialogDriver& d)
{
    int cx = 0, cy = 0;
    ImageList_GetIconSize(d.IconImages(), &cx, &cy);
    EXPECT_EQ(cx, cy);
    return cx;
}

LONG FontHeight(HWND control)
{
    LOGFONTW face{};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)), sizeof face, &face);
    return face.lfHeight < 0 ? -face.lfHeight : face.lfHeight;
}

class ScalingTest : public test::DialogTest {};

// Never run alone (hence DISABLED_): AtEachScalingTheListAndTheLayoutFollowIt runs it in
// a process of its own, at the DPI it names: the dialog for a folder with an icon of shell32.dll, and its picture beside this
// program ("dialog-<dpi>dpi.bmp").
TEST_F(ScalingTest, DISABLED_ChildOfAtEachScaling_OpensAtTheScalingOfItsScreen)
{
    const wchar_t* asked = _wgetenv(DpiVariable);
    ASSERT_NE(asked, nullptr);
    const UINT dpi = static_cast<UINT>(std::wcstoul(asked, nullptr, 10));
    BecomePerMonitorAware();
    const std::wstring folder = dir_.MakeFolder(L"Scaled");
    ASSERT_EQ(WriteFolderIcon(IconLocation(shell32_.c_str(), folder.c_str(), 4)), ERROR_SUCCESS);
    ChangeIconDialog record;
    RunOn(record, folder, [&](DialogDriver& d) {
        EXPECT_EQ(WindowDpi(d.Dialog()), dpi);
        EXPECT_EQ(ImageSize(d), static_cast<int>(dpi) / 3);
        EXPECT_EQ(d.SelectedIcons(), std::vector<int>{4});
        ExpectLaidOut(d.Dialog());
        ExpectTabReachesEveryControl(d.Dialog());
        // The template's font, 8 points, is made for the screen's DPI.
        EXPECT_NEAR(FontHeight(d.Item(IDOK)), 8.0 * dpi / 72, 1.0);
        RedrawWindow(d.Dialog(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
        Sleep(700); // the dialog's thread paints before the screen is read
        const std::wstring picture = ProgramFolder() + L"\\dialog-" + std::to_wstring(dpi) + L"dpi.bmp";
        EXPECT_TRUE(demo::SaveWindowScreenshot(d.Dialog(), picture.c_str()));
        d.Command(IDCANCEL);
    });
}

TEST(ScaledDialog, AtEachScalingTheListAndTheLayoutFollowIt)
{
    LogPixelsGuard guard;
    for (UINT dpi : {96u, 144u, 192u}) {
        SCOPED_TRACE(std::to_string(dpi) + " DPI");
        ASSERT_TRUE(LogPixelsGuard::Set(dpi));
        EXPECT_EQ(RunChild(L"ScalingTest.DISABLED_ChildOfAtEachScaling_OpensAtTheScalingOfItsScreen", dpi), 0u);
    }
}

// Dragged onto a monitor at 150 % and back (the message Windows sends then, sent here, as
// Wine does not send it): the controls, their font and the list's images follow, the
// selection stays, and back at 100 % every control is where it was.
TEST_F(ScalingTest, MovedToAMonitorOfAnotherScalingAndBack)
{
    const std::wstring folder = dir_.MakeFolder(L"Moved");
    ASSERT_EQ(WriteFolderIcon(IconLocation(shell32_.c_str(), folder.c_str(), 5)), ERROR_SUCCESS);
    ChangeIconDialog record;
    const test::DialogRun run = RunOn(record, folder, [&](DialogDriver& d) {
        HWND dialog = d.Dialog();
        const UINT dpi = WindowDpi(dialog);
        ASSERT_EQ(ImageSize(d), LargeIconSize(dpi));
        // Larger than it may be dragged down to at either scaling.
        SetWindowPos(dialog, nullptr, 30, 20, ScaleFrom96(420, dpi), ScaleFrom96(480, dpi), SWP_NOZORDER);
        RECT before{};
        GetWindowRect(dialog, &before);
        std::vector<RECT> places;
        for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT))
            places.push_back(ChildRect(dialog, child));
        const LONG font = FontHeight(d.Item(IDOK));

        const UINT larger = dpi * 3 / 2;
        RECT suggested{20, 10, 20 + (before.right - before.left) * 3 / 2, 10 + (before.bottom - before.top) * 3 / 2};
        SendMessageW(dialog, WM_DPICHANGED, MAKEWPARAM(larger, larger), reinterpret_cast<LPARAM>(&suggested));
        EXPECT_EQ(ImageSize(d), LargeIconSize(larger));
        RECT now{};
        GetWindowRect(dialog, &now);
        EXPECT_TRUE(EqualRect(&now, &suggested)) << Show(now);
        EXPECT_GE(FontHeight(d.Item(IDOK)), font * 3 / 2);
        ExpectLaidOut(dialog);
        EXPECT_EQ(d.SelectedIcons(), std::vector<int>{5});

        SendMessageW(dialog, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&before));
        EXPECT_EQ(ImageSize(d), LargeIconSize(dpi));
        EXPECT_EQ(FontHeight(d.Item(IDOK)), font);
        std::size_t i = 0;
        for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr && i < places.size();
             child = GetWindow(child, GW_HWNDNEXT), ++i) {
            const RECT r = ChildRect(dialog, child);
            const RECT& was = places[i];
            EXPECT_TRUE(std::abs(r.left - was.left) <= 1 && std::abs(r.top - was.top) <= 1 &&
                        std::abs(r.right - was.right) <= 1 && std::abs(r.bottom - was.bottom) <= 1)
                << "control " << GetDlgCtrlID(child) << " at " << Show(r) << ", was " << Show(was);
        }
        d.Command(IDOK);
    });
    EXPECT_EQ(run.Result, IDOK);
    EXPECT_EQ(FolderIconText(folder), shell32_ + L",5");
}

} // namespace
} // namespace orvane
