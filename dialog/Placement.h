// Where the Change Icon dialog opens and at what size: on the monitor of the window that
// invoked it (with none, the monitor under the pointer), centred on its work area or where
// it was last closed with OK when that is still wholly there, at the size it had then
// (its "DlgSize"), never smaller than its template and always wholly inside the monitor's
// work area. The choice itself (PlaceDialog) is free of windows, so that it can be
// checked against any arrangement of monitors; what it is given comes from the system
// (Monitors) and from the rectangle the dialog records (LoadDialogRect, SaveDialogRect).
#pragma once

#include <windows.h>

#include <cstddef>
#include <optional>
#include <vector>

namespace orvane {

struct MonitorArea {
    RECT Monitor{};
    RECT Work{};
};

// "DlgSize" holds 260 characters (520 bytes): the 8-bit build wrote 260 bytes, which the
// registry keeps as 260 characters.
constexpr DWORD DialogRectCharacters = 260;
constexpr const wchar_t DialogRectValue[] = L"DlgSize";

// "left,top,width,height" as the dialog records it: whole numbers of at most 6 digits,
// the left and top ones possibly negative, the width and height above 0; then only zero
// characters. None for anything else (text, a negative or huge size, 259 digits).
std::optional<RECT> ParseDialogRect(const wchar_t* text, std::size_t length);

// The window rectangle the dialog opens with. `minimum` is the template's window size;
// `recorded` the rectangle "DlgSize" holds, if any; `owner` the invoking window's, if any.
RECT PlaceDialog(SIZE minimum, const std::optional<RECT>& recorded, const std::optional<RECT>& owner, POINT pointer,
                 const std::vector<MonitorArea>& monitors);

// Every monitor with its work area.
std::vector<MonitorArea> Monitors();
// The rectangle recorded last, of either length; none when there is none or it does not
// parse.
std::optional<RECT> LoadDialogRect();
// Writes the window rectangle as "left,top,width,height" (REG_SZ, 260 characters) into
// the product key under HKEY_CURRENT_USER, if that key exists; it is not created here.
void SaveDialogRect(HWND dialog);

} // namespace orvane
