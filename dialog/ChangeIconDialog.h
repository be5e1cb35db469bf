// The Change Icon dialog: its record (the target being changed and the dialog's own
// fields), run with RunChangeIconDialog by everyone who opens it.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "IconTarget.h"

namespace orvane {

constexpr int DialogControlCount = 14;

struct ChangeIconDialog {
    // The path the dialog is opened for, set by whoever opens it; Target (and its kind)
    // is made from it when the dialog opens.
    wchar_t TargetPath[TextCapacity] = {};
    // The target being changed: no target until the dialog opens it.
    IconTarget Target{nullptr};
    // Combo box 1010, "..." 1001, list view 1002, OK, Cancel, static 1003, 1007, 1008,
    // check box 1011, Restore 3, static 1009, and the controls added for folders, button
    // 1012 and check boxes 1013 and 1014: the order in which resizing moves them.
    HWND Controls[DialogControlCount] = {};
    int LastClientWidth = 0;
    int LastClientHeight = 0;
    // The recent-list entry whose icons the list shows (CB_ERR: none), selected again
    // when the user picks an entry that holds no icons.
    int ShownSource = -1;
    // The DPI of the monitor the dialog is on, and the one it opened at, for which the
    // dialog manager made its font; the controls' font for another DPI (null: none).
    UINT Dpi = 96;
    UINT OpeningDpi = 96;
    HFONT ScaledFont = nullptr;
    // The window that invoked the dialog (Explorer's), which owns it; null for none.
    HWND Owner = nullptr;
    // The invoking window when it is another process's (Explorer's, for the dialog's own
    // program): the dialog opens over it without being owned by it; null for none. Owner
    // comes first.
    HWND OtherProcessInvoker = nullptr;
    // Every selected item when the dialog is opened for several at once (TargetPath is
    // the first); empty for one.
    std::vector<std::wstring> Targets;
    // While OK or Restore works through several targets: Cancel asks it to stop.
    bool BatchRunning = false;
    std::atomic<bool> CancelBatch{false};
    // An icon made from a picture, waiting for OK: its bytes, and the copy of them in
    // the temporary folder that the list shows (empty: none).
    std::vector<std::uint8_t> MadeBytes;
    std::wstring MadePreview;
    // The module whose resources hold the dialog's template, menu and icon: the DLL, or a
    // program that links the dialog with resources/orvane.rc.
    HINSTANCE Resources = nullptr;
};

// Runs the dialog modally for the record from the template in `resources`, owned by the
// top-level window of record.Owner when there is one; returns the DialogBoxParamW result
// (1 after OK, 2 after Cancel or Restore, -1 when it could not run).
INT_PTR RunChangeIconDialog(HINSTANCE resources, ChangeIconDialog& record);

void UpdateHeadline(ChangeIconDialog& record, HWND dialog);

// Tells the shell that the target's icon changed.
void NotifyShell(ChangeIconDialog& record);

struct ShellVersion {
    unsigned long Major = 0;
    unsigned long Minor = 0;
};
// shell32's DllGetVersion; 0.0 when it cannot be asked, 4.0 when it fails.
ShellVersion GetShellVersion();

} // namespace orvane
