// Runs the real Change Icon dialog modally on the test's thread and drives it from a
// second thread the way a user's input reaches it: window messages to its controls,
// message boxes found and answered, the open-file dialog filled in and confirmed.
// A watchdog closes everything when a run takes too long, and the test fails.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "ChangeIconDialog.h"

namespace orvane::test {

class DialogDriver {
public:
    explicit DialogDriver(DWORD dialogThread) : thread_(dialogThread) {}

    HWND Dialog() const { return dialog_; }
    HWND Item(int id) const { return GetDlgItem(dialog_, id); }
    std::string Text(int id) const;
    bool Visible(int id) const;
    bool Enabled(int id) const;
    bool IsOpen() const { return IsWindow(dialog_) != FALSE; }

    // WM_COMMAND from the control (or menu item) `id`, waiting until it is handled.
    void Command(int id, int code = 0);
    // The same without waiting, for commands that open a modal window.
    void PostCommand(int id, int code = 0);
    // A key as the dialog's message loop gets it (Esc, Enter).
    void PressKey(UINT key);
    // A click on a check box or button (BM_CLICK), waiting until it is handled.
    void Click(int id);

    // A top-level window of the dialog's thread with this caption (class #32770), other
    // than the dialog itself; null when none appears within the time.
    HWND WaitWindow(const char* caption, DWORD timeoutMs = 10000) const;
    // All top-level dialog windows of the dialog's thread but the Change Icon dialog.
    std::vector<HWND> OtherWindows() const;
    static std::string MessageText(HWND box);
    static void Answer(HWND box, int id);
    bool WaitClosed(DWORD timeoutMs = 5000) const;
    // Waits until a window is gone; false when it is still there after the time.
    static bool WaitGone(HWND window, DWORD timeoutMs = 10000);

    // Icon list 1002.
    int IconCount() const;
    std::string IconText(int item) const;
    std::vector<int> SelectedIcons() const;
    int FocusedIcon() const;
    void SelectIcons(const std::vector<int>& items);

    // Combo box 1010.
    std::vector<std::string> Sources() const;
    int SourceSelection() const;
    // Selects an entry as the user does: the selection changes and the dialog is notified.
    void ChooseSource(int index);

    // Presses Browse and waits for the platform's open-file dialog (null: none came).
    HWND PressBrowse();
    // Fills in the open-file dialog's file name and presses its Open button.
    bool OpenInFileDialog(HWND fileDialog, const std::string& path) const;
    static HWND FileNameBox(HWND fileDialog);

    // A control's rectangle in the dialog's client coordinates.
    RECT ControlRect(int id) const;

    bool Attach(DWORD timeoutMs);

private:
    DWORD thread_;
    HWND dialog_ = nullptr;
};

struct DialogRun {
    INT_PTR Result = 0;
    bool Opened = false;
    bool TimedOut = false;
    bool LeftOpen = false; // the script ended with the dialog open; it was cancelled
};

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

// The test program itself: it links the dialog with resources/orvane.rc.
inline HINSTANCE OwnResources() { return GetModuleHandleA(nullptr); }

// Path of the system's shell32.dll (184 icons in Wine's).
std::string Shell32Path();

// Reads "DlgSize"; empty when absent.
bool ReadRaw(HKEY root, const std::string& path, const char* name, std::vector<BYTE>* data, DWORD* type);

} // namespace orvane::test
