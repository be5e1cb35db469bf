#include "DialogDriver.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "resource.h"

namespace orvane::test {

namespace {

constexpr DWORD PollMs = 20;

std::string WindowText(HWND window)
{
    char text[1024] = {};
    // WM_GETTEXT rather than GetWindowText: the latter does not ask windows of other
    // threads for their text.
    SendMessageA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
    text[sizeof text - 1] = '\0';
    return text;
}

bool IsDialogClass(HWND window)
{
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    return std::string(name) == "#32770";
}

BOOL CALLBACK CollectDialog(HWND window, LPARAM param)
{
    if (IsDialogClass(window))
        reinterpret_cast<std::vector<HWND>*>(param)->push_back(window);
    return TRUE;
}

std::vector<HWND> ThreadDialogs(DWORD thread)
{
    std::vector<HWND> windows;
    EnumThreadWindows(thread, CollectDialog, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

// The file name box of the open-file dialog: the edit inside the Explorer-style
// dialog's combo box cmb13 (0x47C).
BOOL CALLBACK FindFileNameEdit(HWND window, LPARAM param)
{
    char name[32] = {};
    GetClassNameA(window, name, sizeof name);
    if (GetDlgCtrlID(window) == 0x47C && lstrcmpiA(name, "Edit") == 0) {
        *reinterpret_cast<HWND*>(param) = window;
        return FALSE;
    }
    return TRUE;
}

// Ends every modal window of the thread, innermost first: message boxes and the
// open-file dialog with Cancel or No, then the Change Icon dialog with Cancel.
void CloseAll(DWORD thread)
{
    for (HWND window : ThreadDialogs(thread)) {
        if (WindowText(window) == "Orvane")
            continue;
        PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
        PostMessageA(window, WM_COMMAND, IDNO, 0);
        PostMessageA(window, WM_COMMAND, IDOK, 0);
    }
    for (HWND window : ThreadDialogs(thread))
        if (WindowText(window) == "Orvane")
            PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
}

INT_PTR CALLBACK BareProc(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

void InitControls()
{
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
}

} // namespace

std::string DialogDriver::Text(int id) const { return WindowText(Item(id)); }
bool DialogDriver::Visible(int id) const { return IsWindowVisible(Item(id)) != FALSE; }
bool DialogDriver::Enabled(int id) const { return IsWindowEnabled(Item(id)) != FALSE; }

void DialogDriver::Command(int id, int code)
{
    SendMessageA(dialog_, WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(Item(id)));
}

void DialogDriver::PostCommand(int id, int code)
{
    PostMessageA(dialog_, WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(Item(id)));
}

void DialogDriver::PressKey(UINT key)
{
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    HWND target = dialog_;
    if (GetGUIThreadInfo(thread_, &info) && info.hwndFocus != nullptr)
        target = info.hwndFocus;
    const LPARAM scan = static_cast<LPARAM>(MapVirtualKeyA(key, 0)) << 16;
    PostMessageA(target, WM_KEYDOWN, key, scan | 1);
    PostMessageA(target, WM_KEYUP, key, scan | 1 | (1u << 30) | (1u << 31));
}

void DialogDriver::Click(int id) { SendMessageA(Item(id), BM_CLICK, 0, 0); }

HWND DialogDriver::WaitWindow(const char* caption, DWORD timeoutMs) const
{
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    do {
        for (HWND window : ThreadDialogs(thread_))
            if (window != dialog_ && IsWindowVisible(window) && WindowText(window) == caption)
                return window;
        Sleep(PollMs);
    } while (GetTickCount64() < end);
    return nullptr;
}

std::vector<HWND> DialogDriver::OtherWindows() const
{
    std::vector<HWND> others;
    for (HWND window : ThreadDialogs(thread_))
        if (window != dialog_ && IsWindowVisible(window))
            others.push_back(window);
    return others;
}

std::string DialogDriver::MessageText(HWND box) { return WindowText(GetDlgItem(box, 0xFFFF)); }

void DialogDriver::Answer(HWND box, int id) { PostMessageA(box, WM_COMMAND, id, 0); }

bool DialogDriver::WaitClosed(DWORD timeoutMs) const
{
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    while (IsWindow(dialog_)) {
        if (GetTickCount64() >= end)
            return false;
        Sleep(PollMs);
    }
    return true;
}

bool DialogDriver::WaitGone(HWND window, DWORD timeoutMs)
{
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    while (IsWindow(window) && GetTickCount64() < end)
        Sleep(PollMs);
    return !IsWindow(window);
}

int DialogDriver::IconCount() const
{
    return static_cast<int>(SendMessageA(Item(IDC_ICONLIST), LVM_GETITEMCOUNT, 0, 0));
}

std::string DialogDriver::IconText(int item) const
{
    char text[64] = {};
    LVITEMA lv{};
    lv.iSubItem = 0;
    lv.pszText = text;
    lv.cchTextMax = sizeof text;
    SendMessageA(Item(IDC_ICONLIST), LVM_GETITEMTEXTA, item, reinterpret_cast<LPARAM>(&lv));
    return text;
}

std::vector<int> DialogDriver::SelectedIcons() const
{
    std::vector<int> items;
    int item = -1;
    while ((item = static_cast<int>(SendMessageA(Item(IDC_ICONLIST), LVM_GETNEXTITEM, item,
                                                 MAKELPARAM(LVNI_SELECTED, 0)))) != -1)
        items.push_back(item);
    return items;
}

int DialogDriver::FocusedIcon() const
{
    return static_cast<int>(SendMessageA(Item(IDC_ICONLIST), LVM_GETNEXTITEM, static_cast<WPARAM>(-1),
                                         MAKELPARAM(LVNI_FOCUSED, 0)));
}

void DialogDriver::SelectIcons(const std::vector<int>& items)
{
    LVITEMA state{};
    state.stateMask = LVIS_SELECTED;
    state.state = 0;
    SendMessageA(Item(IDC_ICONLIST), LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&state));
    for (int item : items) {
        state.state = LVIS_SELECTED;
        SendMessageA(Item(IDC_ICONLIST), LVM_SETITEMSTATE, item, reinterpret_cast<LPARAM>(&state));
    }
}

std::vector<std::string> DialogDriver::Sources() const
{
    std::vector<std::string> entries;
    const LRESULT count = SendMessageA(Item(IDC_SOURCES), CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        char text[1024] = {};
        if (SendMessageA(Item(IDC_SOURCES), CB_GETLBTEXTLEN, i, 0) < static_cast<LRESULT>(sizeof text))
            SendMessageA(Item(IDC_SOURCES), CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
        entries.emplace_back(text);
    }
    return entries;
}

int DialogDriver::SourceSelection() const
{
    return static_cast<int>(SendMessageA(Item(IDC_SOURCES), CB_GETCURSEL, 0, 0));
}

void DialogDriver::ChooseSource(int index)
{
    SendMessageA(Item(IDC_SOURCES), CB_SETCURSEL, index, 0);
    Command(IDC_SOURCES, CBN_SELCHANGE);
}

HWND DialogDriver::FileNameBox(HWND fileDialog)
{
    // The older style of the dialog has the plain edit edt1 (0x480) instead.
    HWND found = nullptr;
    EnumChildWindows(fileDialog, FindFileNameEdit, reinterpret_cast<LPARAM>(&found));
    return found != nullptr ? found : GetDlgItem(fileDialog, 0x480);
}

HWND DialogDriver::PressBrowse()
{
    PostCommand(IDC_BROWSE);
    return WaitWindow("Select Iconfile or Library");
}

bool DialogDriver::OpenInFileDialog(HWND fileDialog, const std::string& path) const
{
    HWND name = FileNameBox(fileDialog);
    if (name == nullptr)
        return false;
    SendMessageA(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
    PostMessageA(fileDialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(fileDialog, IDOK)));
    WaitGone(fileDialog);
    // Back in the dialog's own loop once this returns.
    SendMessageA(dialog_, WM_NULL, 0, 0);
    return !IsWindow(fileDialog);
}

RECT DialogDriver::ControlRect(int id) const
{
    RECT r{};
    GetWindowRect(Item(id), &r);
    MapWindowPoints(nullptr, dialog_, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

bool DialogDriver::Attach(DWORD timeoutMs)
{
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    do {
        for (HWND window : ThreadDialogs(thread_)) {
            if (IsWindowVisible(window) && WindowText(window) == "Orvane") {
                dialog_ = window;
                // Answered once the dialog's modal loop runs.
                SendMessageA(dialog_, WM_NULL, 0, 0);
                return true;
            }
        }
        Sleep(PollMs);
    } while (GetTickCount64() < end);
    return false;
}

DialogRun RunDriven(ChangeIconDialog& record, const std::function<void(DialogDriver&)>& script, DWORD timeoutMs)
{
    DialogRun run;
    const DWORD self = GetCurrentThreadId();
    HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::atomic<bool> finished{false};

    std::thread driver([&] {
        DialogDriver d(self);
        const ULONGLONG end = GetTickCount64() + 20000;
        while (!finished && !d.Attach(200))
            if (GetTickCount64() >= end)
                return;
        if (finished)
            return;
        run.Opened = true;
        script(d);
        if (!d.WaitClosed(3000)) {
            run.LeftOpen = true;
            while (!finished) {
                CloseAll(self);
                Sleep(100);
            }
        }
    });
    std::thread watchdog([&] {
        if (WaitForSingleObject(done, timeoutMs) != WAIT_TIMEOUT)
            return;
        run.TimedOut = true;
        while (WaitForSingleObject(done, 200) == WAIT_TIMEOUT)
            CloseAll(self);
    });

    run.Result = RunChangeIconDialog(OwnResources(), record);
    finished = true;
    SetEvent(done);
    driver.join();
    watchdog.join();
    CloseHandle(done);

    EXPECT_TRUE(run.Opened) << "the dialog did not open (result " << run.Result << ")";
    EXPECT_FALSE(run.TimedOut) << "the dialog hung and was closed by the watchdog";
    return run;
}

BareDialog::BareDialog()
{
    InitControls();
    window_ = CreateDialogParamA(OwnResources(), MAKEINTRESOURCEA(IDD_CHANGEICON), nullptr, BareProc, 0);
}

BareDialog::~BareDialog()
{
    if (window_ != nullptr)
        DestroyWindow(window_);
}

std::string Shell32Path()
{
    char dir[MAX_PATH] = {};
    GetSystemDirectoryA(dir, sizeof dir);
    return std::string(dir) + "\\shell32.dll";
}

bool ReadRaw(HKEY root, const std::string& path, const char* name, std::vector<BYTE>* data, DWORD* type)
{
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return false;
    DWORD size = 0;
    LONG status = RegQueryValueExA(key, name, nullptr, type, nullptr, &size);
    if (status == ERROR_SUCCESS) {
        data->assign(size, 0);
        status = RegQueryValueExA(key, name, nullptr, type, data->data(), &size);
        data->resize(size);
    }
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

} // namespace orvane::test
