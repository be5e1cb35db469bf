#include "ShellWitness.h"

#include <shlobj.h>

#include "TestSupport.h"

namespace orvane::test {

namespace {

constexpr UINT ChangeMessage = WM_APP + 0x20;
constexpr LONG WatchedEvents = SHCNE_UPDATEITEM | SHCNE_UPDATEDIR | SHCNE_ATTRIBUTES | SHCNE_UPDATEIMAGE | SHCNE_ASSOCCHANGED;
const wchar_t WindowClass[] = L"OrvaneShellWitness";

std::wstring PathOf(PCIDLIST_ABSOLUTE pidl)
{
    if (pidl == nullptr)
        return L"";
    wchar_t path[MAX_PATH] = {};
    if (!SHGetPathFromIDListW(pidl, path))
        return L"<not a path>";
    return Lower(path);
}

} // namespace

ShellWitness::ShellWitness()
{
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = Procedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = WindowClass;
    RegisterClassW(&windowClass); // fails harmlessly once it is registered
    window_ = CreateWindowExW(0, WindowClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (window_ == nullptr)
        return;
    SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    PIDLIST_ABSOLUTE desktop = nullptr;
    if (FAILED(SHGetSpecialFolderLocation(nullptr, CSIDL_DESKTOP, &desktop)))
        return;
    SHChangeNotifyEntry entry = {desktop, TRUE};
    registration_ = SHChangeNotifyRegister(window_, SHCNRF_ShellLevel | SHCNRF_InterruptLevel | SHCNRF_NewDelivery,
                                           WatchedEvents, ChangeMessage, 1, &entry);
    CoTaskMemFree(desktop);
}

ShellWitness::~ShellWitness()
{
    if (registration_ != 0)
        SHChangeNotifyDeregister(registration_);
    if (window_ != nullptr)
        DestroyWindow(window_);
}

LRESULT CALLBACK ShellWitness::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* self = reinterpret_cast<ShellWitness*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message != ChangeMessage || self == nullptr)
        return DefWindowProcW(window, message, wParam, lParam);
    PIDLIST_ABSOLUTE* pidls = nullptr;
    LONG event = 0;
    HANDLE lock = SHChangeNotification_Lock(reinterpret_cast<HANDLE>(wParam), static_cast<DWORD>(lParam), &pidls, &event);
    if (lock == nullptr) {
        self->events_.push_back({0, L"<unreadable notification>"});
        return 0;
    }
    ShellEvent seen;
    seen.Event = event;
    seen.Item = PathOf(pidls[0]);
    if (pidls[1] != nullptr)
        seen.Item += L"+" + PathOf(pidls[1]);
    SHChangeNotification_Unlock(lock);
    self->events_.push_back(seen);
    return 0;
}

std::vector<ShellEvent> ShellWitness::Take(size_t expected, DWORD timeoutMs)
{
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    MSG message;
    for (;;) {
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        const ULONGLONG now = GetTickCount64();
        if (events_.size() >= expected || now >= end)
            break;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(end - now), QS_ALLINPUT);
    }
    std::vector<ShellEvent> taken;
    taken.swap(events_);
    return taken;
}

ShellEvent Expected(LONG event, const std::wstring& item) { return {event, Lower(item)}; }

std::wstring Describe(const std::vector<ShellEvent>& events)
{
    std::wstring text;
    for (const ShellEvent& e : events) {
        if (!text.empty())
            text += L"; ";
        switch (e.Event) {
        case SHCNE_UPDATEITEM: text += L"UPDATEITEM"; break;
        case SHCNE_UPDATEDIR: text += L"UPDATEDIR"; break;
        case SHCNE_ATTRIBUTES: text += L"ATTRIBUTES"; break;
        case SHCNE_UPDATEIMAGE: text += L"UPDATEIMAGE"; break;
        case SHCNE_ASSOCCHANGED: text += L"ASSOCCHANGED"; break;
        default: text += L"event " + std::to_wstring(e.Event); break;
        }
        if (!e.Item.empty())
            text += L" " + e.Item;
    }
    return text.empty() ? L"(none)" : text;
}

} // namespace orvane::test
