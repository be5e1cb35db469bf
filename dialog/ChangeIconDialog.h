// The Change Icon dialog: its record (the target being changed followed by the dialog's
// own fields) and its dialog procedure. Run it with RunChangeIconDialog, or with
// DialogBoxParamA(ModuleInstance(), MAKEINTRESOURCEA(IDD_CHANGEICON), nullptr,
// ChangeIconDialogProc, reinterpret_cast<LPARAM>(&record)).
#pragma once

#include <windows.h>

#include "IconTarget.h"

namespace orvane {

constexpr int DialogControlCount = 11;

struct ChangeIconDialog : IconTarget {
    // Combo box 1010, "..." 1001, list view 1002, OK, Cancel, static 1003, 1007, 1008,
    // check box 1011, Restore 3, static 1009: the order in which resizing moves them.
    HWND Controls[DialogControlCount] = {};
    int LastClientWidth = 0;
    int LastClientHeight = 0;
};

INT_PTR CALLBACK ChangeIconDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Runs the dialog modally for the record, without an owner window; returns the
// DialogBoxParamA result (1 after OK, 2 after Cancel or Restore, -1 when it could not run).
INT_PTR RunChangeIconDialog(ChangeIconDialog& record);

} // namespace orvane
