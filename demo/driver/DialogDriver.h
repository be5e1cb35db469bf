// Plays the person at the screen for the Change Icon dialog: from a second thread it
// finds the dialog of the thread that runs it, and reaches it the way a user's input
// does, with window messages to its controls, message boxes found and answered, the
// open-file dialog filled in and confirmed. The demo picks icons with it where nobody
// sits at the screen; the dialog and server tests drive every road of the dialog with it.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <functional>
#include <string>
#include <vector>

namespace orvane::demo {

class DialogDriver {
public:
    explicit DialogDriver(DWORD dialogThread) : thread_(dialogThread) {}

    // Waits until the thread shows the Change Icon dialog and its modal loop runs.
    bool Attach(DWORD timeoutMs);

    HWND Dialog() const { return dialog_; }
    std::wstring Title() const;
    HWND Item(int id) const { return GetDlgItem(dialog_, id); }
    std::wstring Text(int id) const;
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
    // Clicks the check box when it is not in the wanted state.
    void SetChecked(int id, bool checked);
    bool Checked(int id) const;

    // A top-level window of the dialog's thread with this caption (class #32770), other
    // than the dialog itself; null when none appears within the time.
    HWND WaitWindow(const wchar_t* caption, DWORD timeoutMs = 10000) const;
    // Posts the command and waits for the window it opens (a message box), by caption.
    HWND PostCommandFor(int id, const wchar_t* caption);
    // All top-level dialog windows of the dialog's thread but the Change Icon dialog.
    std::vector<HWND> OtherWindows() const;
    static std::wstring MessageText(HWND box);
    static void Answer(HWND box, int id);
    bool WaitClosed(DWORD timeoutMs = 5000) const;
    // Waits until a window is gone; false when it is still there after the time.
    static bool WaitGone(HWND window, DWORD timeoutMs = 10000);

    // The icon list.
    int IconCount() const;
    std::wstring IconText(int item) const;
    std::vector<int> SelectedIcons() const;
    int FocusedIcon() const;
    // Selects exactly these items (the focus stays where it is).
    void SelectIcons(const std::vector<int>& items);
    // Selects and focuses this item alone and scrolls it into view, as a click does.
    void PickIcon(int item);
    // The list's image list, and the image it shows for the item: the index the list
    // gives when it draws the item (it asks the dialog, which extracts the icon then if it
    // has not yet); -1 for none.
    HIMAGELIST IconImages() const;
    int IconImage(int item) const;
    // Scrolls the item into view as the scroll bar does, and has the list draw what it
    // then shows.
    void ScrollToIcon(int item);
    // The items whose icons the list shows, in order, found from one of them.
    std::vector<int> ShownIcons(int shownItem) const;

    // The recent icon sources.
    std::vector<std::wstring> Sources() const;
    int SourceSelection() const;
    // Selects an entry as the user does: the selection changes and the dialog is notified.
    void ChooseSource(int index);
    // The entry for the path, added at the end when it is not listed yet, as the browse
    // button lists what the open-file dialog returns; -1 when it cannot be listed.
    int ListSource(const std::wstring& path);

    // Presses Browse and waits for the platform's open-file dialog (null: none came).
    HWND PressBrowse();
    // Fills in the open-file dialog's file name and presses its Open button.
    bool OpenInFileDialog(HWND fileDialog, const std::wstring& path) const;
    // Presses the open-file dialog's Cancel button.
    bool CancelFileDialog(HWND fileDialog) const;
    static HWND FileNameBox(HWND fileDialog);

    // A control's rectangle in the dialog's client coordinates.
    RECT ControlRect(int id) const;

private:
    bool FileDialogGone(HWND fileDialog) const;

    DWORD thread_;
    HWND dialog_ = nullptr;
};

struct DialogRun {
    INT_PTR Result = 0;
    bool Opened = false;
    bool TimedOut = false;
    bool LeftOpen = false; // the script ended with the dialog open; it was cancelled
};

// Calls `runDialog` on this thread (it opens the dialog modally and returns when it
// closes) while `script` drives the dialog from a second thread. After the script, a
// dialog that is still open is cancelled (LeftOpen), with whatever window it has opened;
// a watchdog does the same when the whole run takes longer than `timeoutMs` (TimedOut).
DialogRun RunWhileDriven(const std::function<INT_PTR()>& runDialog,
                         const std::function<void(DialogDriver&)>& script, DWORD timeoutMs = 60000);

} // namespace orvane::demo
