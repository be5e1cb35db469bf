#include "DialogDriver.h"

#include <commctrl.h>
#include <dlgs.h>

#include <atomic>
#include <iterator>
#include <thread>

#include "resource.h"

namespace orvane::demo {

namespace {

constexpr DWORD PollMs = 20;
// How long a run waits for the dialog to show.
constexpr DWORD OpenWaitMs = 20000;

std::wstring WindowText(HWND window)
{
    wchar_t text[1024] = {};
    // WM_GETTEXT rather than GetWindowText: the latter does not ask windows of other
    // threads for their text.
    SendMessageW(window, WM_GETTEXT, std::size(text), reinterpret_cast<LPARAM>(text));
    text[std::size(text) - 1] = L'\0';
    return text;
}

bool IsDialogClass(HWND window)
{
    wchar_t name[64] = {};
    GetClassNameW(window, name, static_cast<int>(std::size(name)));
    return std::wstring(name) == L"#32770";
}

// The Change Icon dialog rather than one of the windows it opens (message boxes, whose
// captions start with "Orvane - ", and the open-file dialog).
bool IsChangeIconDialog(HWND window)
{
    return WindowText(window) == L"Orvane" && GetDlgItem(window, IDC_ICONLIST) != nullptr;
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
// dialog's combo box cmb13.
BOOL CALLBACK FindFileNameEdit(HWND window, LPARAM param)
{
    wchar_t name[32] = {};
    GetClassNameW(window, name, static_cast<int>(std::size(name)));
    if (GetDlgCtrlID(window) == cmb13 && lstrcmpiW(name, L"Edit") == 0) {
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
        if (IsChangeIconDialog(window))
            continue;
        PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
        PostMessageW(window, WM_COMMAND, IDNO, 0);
        PostMessageW(window, WM_COMMAND, IDOK, 0);
    }
    for (HWND window : ThreadDialogs(thread))
        if (IsChangeIconDialog(window))
            PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
}

} // namespace

std::wstring DialogDriver::Title() const { return WindowText(dialog_); }
std::wstring DialogDriver::Text(int id) const { return WindowText(Item(id)); }
bool DialogDriver::Visible(int id) const { return IsWindowVisible(Item(id)) != FALSE; }
bool DialogDriver::Enabled(int id) const { return IsWindowEnabled(Item(id)) != FALSE; }

void DialogDriver::Command(int id, int code)
{
    SendMessageW(dialog_, WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(Item(id)));
}

void DialogDriver::PostCommand(int id, int code)
{
    PostMessageW(dialog_, WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(Item(id)));
}

void DialogDriver::PressKey(UINT key)
{
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    HWND target = dialog_;
    if (GetGUIThreadInfo(thread_, &info) && info.hwndFocus != nullptr)
        target = info.hwndFocus;
    const LPARAM scan = static_cast<LPARAM>(MapVirtualKeyW(key, 0)) << 16;
    PostMessageW(target, WM_KEYDOWN, key, scan | 1);
    PostMessageW(target, WM_KEYUP, key, scan | 1 | (1u << 30) | (1u << 31));
}

void DialogDriver::Click(int id) { SendMessageW(Item(id), BM_CLICK, 0, 0); }

bool DialogDriver::Checked(int id) const { return SendMessageW(Item(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }

void DialogDriver::SetChecked(int id, bool checked)
{
    if (Checked(id) != checked)
        Click(id);
}

HWND DialogDriver::WaitWindow(const wchar_t* caption, DWORD timeoutMs) const
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

HWND DialogDriver::PostCommandFor(int id, const wchar_t* caption)
{
    PostCommand(id);
    return WaitWindow(caption);
}

std::vector<HWND> DialogDriver::OtherWindows() const
{
    std::vector<HWND> others;
    for (HWND window : ThreadDialogs(thread_))
        if (window != dialog_ && IsWindowVisible(window))
            others.push_back(window);
    return others;
}

// The message box's text is the static control with id 0xFFFF.
std::wstring DialogDriver::MessageText(HWND box) { return WindowText(GetDlgItem(box, 0xFFFF)); }

void DialogDriver::Answer(HWND box, int id) { PostMessageW(box, WM_COMMAND, id, 0); }

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
    return static_cast<int>(SendMessageW(Item(IDC_ICONLIST), LVM_GETITEMCOUNT, 0, 0));
}

std::wstring DialogDriver::IconText(int item) const
{
    wchar_t text[64] = {};
    LVITEMW lv{};
    lv.iSubItem = 0;
    lv.pszText = text;
    lv.cchTextMax = static_cast<int>(std::size(text));
    SendMessageW(Item(IDC_ICONLIST), LVM_GETITEMTEXTW, item, reinterpret_cast<LPARAM>(&lv));
    text[std::size(text) - 1] = L'\0';
    return text;
}

std::vector<int> DialogDriver::SelectedIcons() const
{
    std::vector<int> items;
    int item = -1;
    while ((item = static_cast<int>(SendMessageW(Item(IDC_ICONLIST), LVM_GETNEXTITEM, item,
                                                 MAKELPARAM(LVNI_SELECTED, 0)))) != -1)
        items.push_back(item);
    return items;
}

int DialogDriver::FocusedIcon() const
{
    return static_cast<int>(SendMessageW(Item(IDC_ICONLIST), LVM_GETNEXTITEM, static_cast<WPARAM>(-1),
                                         MAKELPARAM(LVNI_FOCUSED, 0)));
}

void DialogDriver::SelectIcons(const std::vector<int>& items)
{
    LVITEMW state{};
    state.stateMask = LVIS_SELECTED;
    state.state = 0;
    SendMessageW(Item(IDC_ICONLIST), LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&state));
    for (int item : items) {
        state.state = LVIS_SELECTED;
        SendMessageW(Item(IDC_ICONLIST), LVM_SETITEMSTATE, item, reinterpret_cast<LPARAM>(&state));
    }
}

void DialogDriver::PickIcon(int item)
{
    LVITEMW state{};
    state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    state.state = 0;
    SendMessageW(Item(IDC_ICONLIST), LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&state));
    state.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(Item(IDC_ICONLIST), LVM_SETITEMSTATE, item, reinterpret_cast<LPARAM>(&state));
    SendMessageW(Item(IDC_ICONLIST), LVM_ENSUREVISIBLE, item, FALSE);
}

HIMAGELIST DialogDriver::IconImages() const
{
    return reinterpret_cast<HIMAGELIST>(SendMessageW(Item(IDC_ICONLIST), LVM_GETIMAGELIST, LVSIL_NORMAL, 0));
}

int DialogDriver::IconImage(int item) const
{
    LVITEMW lv{};
    lv.mask = LVIF_IMAGE;
    lv.iItem = item;
    lv.iImage = -1;
    if (!SendMessageW(Item(IDC_ICONLIST), LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&lv)))
        return -1;
    return lv.iImage >= 0 ? lv.iImage : -1;
}

void DialogDriver::ScrollToIcon(int item)
{
    SendMessageW(Item(IDC_ICONLIST), LVM_ENSUREVISIBLE, item, FALSE);
    RedrawWindow(Item(IDC_ICONLIST), nullptr, nullptr, RDW_UPDATENOW);
}

std::vector<int> DialogDriver::ShownIcons(int shownItem) const
{
    HWND list = Item(IDC_ICONLIST);
    RECT client{};
    GetClientRect(list, &client);
    const int count = IconCount();
    // The view lays its items out in rows in index order: those shown follow each other.
    auto shown = [&](int item) {
        RECT icon{};
        icon.left = LVIR_ICON;
        RECT both{};
        return item >= 0 && item < count &&
               SendMessageW(list, LVM_GETITEMRECT, item, reinterpret_cast<LPARAM>(&icon)) &&
               IntersectRect(&both, &icon, &client);
    };
    if (!shown(shownItem))
        return {};
    int first = shownItem;
    while (shown(first - 1))
        --first;
    std::vector<int> items;
    for (int item = first; shown(item); ++item)
        items.push_back(item);
    return items;
}

std::vector<std::wstring> DialogDriver::Sources() const
{
    std::vector<std::wstring> entries;
    const LRESULT count = SendMessageW(Item(IDC_SOURCES), CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        wchar_t text[1024] = {};
        if (SendMessageW(Item(IDC_SOURCES), CB_GETLBTEXTLEN, i, 0) < static_cast<LRESULT>(std::size(text)))
            SendMessageW(Item(IDC_SOURCES), CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
        entries.emplace_back(text);
    }
    return entries;
}

int DialogDriver::SourceSelection() const
{
    return static_cast<int>(SendMessageW(Item(IDC_SOURCES), CB_GETCURSEL, 0, 0));
}

void DialogDriver::ChooseSource(int index)
{
    SendMessageW(Item(IDC_SOURCES), CB_SETCURSEL, index, 0);
    Command(IDC_SOURCES, CBN_SELCHANGE);
}

int DialogDriver::ListSource(const std::wstring& path)
{
    LRESULT entry = SendMessageW(Item(IDC_SOURCES), CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                 reinterpret_cast<LPARAM>(path.c_str()));
    if (entry == CB_ERR)
        entry = SendMessageW(Item(IDC_SOURCES), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(path.c_str()));
    return entry == CB_ERR || entry == CB_ERRSPACE ? -1 : static_cast<int>(entry);
}

HWND DialogDriver::FileNameBox(HWND fileDialog)
{
    // The older style of the dialog has the plain edit edt1 instead.
    HWND found = nullptr;
    EnumChildWindows(fileDialog, FindFileNameEdit, reinterpret_cast<LPARAM>(&found));
    return found != nullptr ? found : GetDlgItem(fileDialog, edt1);
}

HWND DialogDriver::PressBrowse()
{
    PostCommand(IDC_BROWSE);
    return WaitWindow(L"Select Iconfile or Library");
}

bool DialogDriver::OpenInFileDialog(HWND fileDialog, const std::wstring& path) const
{
    HWND name = FileNameBox(fileDialog);
    if (name == nullptr)
        return false;
    SendMessageW(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
    PostMessageW(fileDialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(fileDialog, IDOK)));
    return FileDialogGone(fileDialog);
}

bool DialogDriver::CancelFileDialog(HWND fileDialog) const
{
    PostMessageW(fileDialog, WM_COMMAND, IDCANCEL, 0);
    return FileDialogGone(fileDialog);
}

bool DialogDriver::FileDialogGone(HWND fileDialog) const
{
    WaitGone(fileDialog);
    // Back in the dialog's own loop once this returns.
    SendMessageW(dialog_, WM_NULL, 0, 0);
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
            if (IsWindowVisible(window) && IsChangeIconDialog(window)) {
                dialog_ = window;
                // Answered once the dialog's modal loop runs.
                SendMessageW(dialog_, WM_NULL, 0, 0);
                return true;
            }
        }
        Sleep(PollMs);
    } while (GetTickCount64() < end);
    return false;
}

DialogRun RunWhileDriven(const std::function<INT_PTR()>& runDialog,
                         const std::function<void(DialogDriver&)>& script, DWORD timeoutMs)
{
    DialogRun run;
    const DWORD self = GetCurrentThreadId();
    HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atomic<bool> finished{false};

    std::thread driver([&] {
        DialogDriver d(self);
        const ULONGLONG end = GetTickCount64() + OpenWaitMs;
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

    run.Result = runDialog();
    finished = true;
    SetEvent(done);
    driver.join();
    watchdog.join();
    CloseHandle(done);
    return run;
}

} // namespace orvane::demo
