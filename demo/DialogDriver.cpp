#include "DialogDriver.h"

#include <commctrl.h>

#include "Screenshot.h"

namespace orvane::demo {

namespace {

// Control ids of the Change Icon dialog.
constexpr int SourceCombo = 1010;
constexpr int IconList = 1002;
constexpr int AllOfTypeCheck = 1011;

struct DialogSearch {
    HWND Found = nullptr;
};

BOOL CALLBACK FindDialog(HWND window, LPARAM param)
{
    char className[32] = {};
    GetClassNameA(window, className, sizeof className);
    if (lstrcmpA(className, "#32770") == 0 && IsWindowVisible(window) && GetDlgItem(window, IconList) != nullptr) {
        reinterpret_cast<DialogSearch*>(param)->Found = window;
        return FALSE;
    }
    return TRUE;
}

template <class Condition>
bool WaitFor(Condition condition, DWORD milliseconds)
{
    const ULONGLONG end = GetTickCount64() + milliseconds;
    while (!condition()) {
        if (GetTickCount64() > end)
            return false;
        Sleep(50);
    }
    return true;
}

} // namespace

DialogDriver::~DialogDriver()
{
    if (thread_ != nullptr) {
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
    }
}

bool DialogDriver::Start()
{
    thread_ = CreateThread(nullptr, 0, ThreadProc, this, 0, nullptr);
    return thread_ != nullptr;
}

bool DialogDriver::Finish()
{
    if (thread_ == nullptr)
        return false;
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
    thread_ = nullptr;
    return succeeded_;
}

DWORD WINAPI DialogDriver::ThreadProc(void* self)
{
    auto* driver = static_cast<DialogDriver*>(self);
    driver->succeeded_ = driver->Drive();
    return 0;
}

bool DialogDriver::Drive()
{
    DialogSearch search;
    const bool opened = WaitFor([&] {
        EnumThreadWindows(plan_.DialogThread, FindDialog, reinterpret_cast<LPARAM>(&search));
        return search.Found != nullptr;
    }, 30000);
    if (!opened) {
        Note("driver: the Change Icon dialog did not open");
        return false;
    }
    HWND dialog = search.Found;
    char title[128] = {};
    GetWindowTextA(dialog, title, sizeof title);
    Note(std::string("driver: dialog \"") + title + "\" is open");

    // Whatever goes wrong below, the dialog is closed with Cancel so that the modal loop
    // in InvokeCommand returns.
    auto cancel = [&](const std::string& why) {
        Note("driver: " + why + "; pressing Cancel");
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        WaitFor([&] { return !IsWindow(dialog); }, 10000);
        return false;
    };

    HWND combo = GetDlgItem(dialog, SourceCombo);
    HWND list = GetDlgItem(dialog, IconList);
    if (combo == nullptr || list == nullptr)
        return cancel("combo box 1010 or list view 1002 is missing");

    // Choosing an entry of the drop-down list: select it, and the combo box tells its
    // dialog with CBN_SELCHANGE. A source that is not listed yet is added first, as the
    // browse button adds what the open-file dialog returns.
    LRESULT entry = SendMessageA(combo, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                 reinterpret_cast<LPARAM>(plan_.Source.c_str()));
    if (entry == CB_ERR)
        entry = SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(plan_.Source.c_str()));
    if (entry == CB_ERR || entry == CB_ERRSPACE)
        return cancel("could not list the icon source in the combo box");
    SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(entry), 0);
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(SourceCombo, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
    Note("driver: chose icon source " + plan_.Source);

    const bool filled = WaitFor([&] { return SendMessageA(list, LVM_GETITEMCOUNT, 0, 0) > plan_.Index; }, 10000);
    if (!filled)
        return cancel("the icon list did not show icon " + std::to_string(plan_.Index));
    Note("driver: the icon list shows " + std::to_string(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0)) + " icons");

    HWND check = GetDlgItem(dialog, AllOfTypeCheck);
    if (check != nullptr && IsWindowVisible(check) && IsWindowEnabled(check)) {
        const bool checked = SendMessageA(check, BM_GETCHECK, 0, 0) == BST_CHECKED;
        if (checked != plan_.AllOfType)
            SendMessageA(check, BM_CLICK, 0, 0);
        Note(std::string("driver: \"all files of that type\" is ") +
             (SendMessageA(check, BM_GETCHECK, 0, 0) == BST_CHECKED ? "checked" : "unchecked"));
    }

    LVITEMA item = {};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = 0;
    SendMessageA(list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&item));
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(list, LVM_SETITEMSTATE, static_cast<WPARAM>(plan_.Index), reinterpret_cast<LPARAM>(&item));
    SendMessageA(list, LVM_ENSUREVISIBLE, static_cast<WPARAM>(plan_.Index), FALSE);
    Note("driver: selected icon " + std::to_string(plan_.Index));

    if (!plan_.Screenshot.empty()) {
        RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
        Sleep(700); // let the dialog's thread paint before the screen is read
        Note(SaveWindowScreenshot(dialog, plan_.Screenshot.c_str()) ? "driver: screenshot saved to " + plan_.Screenshot
                                                                     : "driver: screenshot failed");
    }

    HWND ok = GetDlgItem(dialog, IDOK);
    if (ok == nullptr)
        return cancel("the OK button is missing");
    SendMessageA(ok, BM_CLICK, 0, 0);
    if (!WaitFor([&] { return !IsWindow(dialog); }, 15000))
        return cancel("the dialog stayed open after OK");
    Note("driver: pressed OK; the dialog closed");
    return true;
}

} // namespace orvane::demo
