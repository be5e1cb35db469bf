// The shell as witness: a hidden window registered with SHChangeNotifyRegister for the
// events that redraw icons, recording each event and the item it names.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace orvane::test {

struct ShellEvent {
    LONG Event = 0;
    // The first item as a path, lower case ("" when the event names none); a second item
    // is noted as "+second".
    std::wstring Item;
    bool operator==(const ShellEvent& other) const { return Event == other.Event && Item == other.Item; }
};

// Registered for SHCNE_UPDATEITEM, SHCNE_UPDATEDIR, SHCNE_ATTRIBUTES, SHCNE_UPDATEIMAGE
// and SHCNE_ASSOCCHANGED on the whole namespace (the desktop, with its children), with
// the shared-memory delivery Explorer's views use. Wine delivers notifications inside
// the process that sends them, by SendMessage to the window, so the window must belong
// to the thread that pumps (this one).
class ShellWitness {
public:
    ShellWitness();
    ~ShellWitness();
    ShellWitness(const ShellWitness&) = delete;
    ShellWitness& operator=(const ShellWitness&) = delete;
    bool Registered() const { return registration_ != 0; }

    // Pumps this thread's messages until at least `expected` events have arrived or
    // `timeoutMs` passed, then once more for what is already queued; returns every event
    // seen since the last call, in order, and forgets them.
    std::vector<ShellEvent> Take(size_t expected, DWORD timeoutMs = 5000);

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    HWND window_ = nullptr;
    ULONG registration_ = 0;
    std::vector<ShellEvent> events_;
};

// An event as the tests expect it: the path is compared in lower case.
ShellEvent Expected(LONG event, const std::wstring& item = L"");
// "UPDATEITEM c:\x; ASSOCCHANGED" for failure messages.
std::wstring Describe(const std::vector<ShellEvent>& events);

} // namespace orvane::test
