// How the Change Icon dialog's controls follow its sizing frame, how small it may get, and
// where it opens (Placement.h chooses the place).
#pragma once

#include <windows.h>

#include "ChangeIconDialog.h"

namespace orvane {

// Kept in each control's user data; only the low 16 bits count when read back.
enum AnchorFlags : unsigned {
    FollowRight = 1,   // left and right side move with the right edge
    FollowBottom = 2,  // top and bottom side move with the bottom edge
    StretchWidth = 4,  // right side moves, left side stays
    StretchHeight = 8, // bottom side moves, top side stays
};

struct ControlAnchor {
    int Id;
    unsigned Flags;
};

// The controls in the order of ChangeIconDialog::Controls, which is the order in which
// a resize moves them.
extern const ControlAnchor DialogAnchors[DialogControlCount];

constexpr LONG MinTrackWidth = 300;
constexpr LONG MinTrackHeight = 360;

// Adds the controls a folder gets beyond the template: "Colour...", "Keep a copy with the
// folder" and "Also all subfolders"; shown only for folders. Before InitLayout, which anchors them.
void AddFolderControls(HWND dialog, bool shown);
// Fills Controls, gives every control its anchor flags, and places and sizes the dialog
// (Placement.h): on the invoking window's monitor (record.Owner, else
// record.OtherProcessInvoker) or the pointer's, at the size recorded last.
void InitLayout(ChangeIconDialog& record, HWND dialog);
// Moves every control by the change of the client size since the last call.
void ResizeControls(ChangeIconDialog& record, HWND dialog, int width, int height);
// The smallest the frame may be dragged to: MinTrackWidth by MinTrackHeight at 96 DPI,
// scaled for `dpi`.
void LimitTrackSize(MINMAXINFO* info, UINT dpi);

} // namespace orvane
