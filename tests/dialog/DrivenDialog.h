// Runs the real Change Icon dialog modally on the test's thread while the demo's driver
// plays the user from a second thread; a run that does not open or hangs fails the test.
// Also the dialog's template created without its procedure, for the units that work on
// its controls.
#pragma once

#include <windows.h>

#include <functional>

#include "ChangeIconDialog.h"
#include "DialogDriver.h"

namespace orvane::test {

using demo::DialogDriver;
using demo::DialogRun;

// The test program itself: it links the dialog with resources/orvane.rc.
inline HINSTANCE OwnResources() { return GetModuleHandleW(nullptr); }

// Runs the dialog for the record on this thread while `script` drives it. After the
// script, a dialog that is still open is cancelled (LeftOpen). The run fails the test
// if the dialog does not open or the watchdog has to end it.
DialogRun RunDriven(ChangeIconDialog& record, const std::function<void(DialogDriver&)>& script,
                    DWORD timeoutMs = 60000);

// The Change Icon dialog created modeless from its template, with a procedure that
// does nothing, for tests of the units that work on its controls.
class BareDialog {
public:
    BareDialog();
    ~BareDialog();
    BareDialog(const BareDialog&) = delete;
    BareDialog& operator=(const BareDialog&) = delete;
    HWND Window() const { return window_; }
    HWND Item(int id) const { return GetDlgItem(window_, id); }

private:
    HWND window_ = nullptr;
};

} // namespace orvane::test
