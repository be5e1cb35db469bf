// How the Change Icon dialog's controls follow its sizing frame, how small it may get,
// where it opens, and the window rectangle it records ("DlgSize").
#pragma once

#include <windows.h>

#include "ChangeIconDialog.h"
#include "Placement.h"

#include <optional>
#include <vector>

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
// "DlgSize" holds 260 characters (520 bytes): the 8-bit build wrote 260 bytes, which the
// registry keeps as 260 characters.
constexpr DWORD DialogRectCharacters = 260;
constexpr const wchar_t DialogRectValue[] = L"DlgSize";

// Adds the controls a folder gets beyond the template: "Colour...", "Keep a copy with the
// folder" and "Also all subfolders"; shown only for folders. Before InitLayout, which anchors them.
void AddFolderControls(HWND dialog, bool shown);
// Fills Controls, gives every control its anchor flags, and places and sizes the dialog
// (Placement.h): on the invoking window's monitor (record.Owner, else record.Near) or the pointer's, at the size
// recorded last.
void InitLayout(ChangeIconDialog& record, HWND dialog);
// Moves every control by the change of the client size since the last call.
void ResizeControls(ChangeIconDialog& record, HWND dialog, int width, int height);
// The smallest the frame may be dragged to: MinTrackWidth by MinTrackHeight at 96 DPI,
// scaled for `dpi`.
void LimitTrackSize(MINMAXINFO* info, UINT dpi);
// Writes the window rectangle as "left,top,width,height" (REG_SZ, 260 characters) into
// the product key under HKEY_CURRENT_USER, if that key exists; it is not created here.
void SaveDialogRect(HWND dialog);
// The rectangle recorded last, of either length; none when there is none or it does not
// parse.
std::optional<RECT> LoadDialogRect();
// Every monitor with its work area.
std::vector<MonitorArea> Monitors();

} // namespace orvane
