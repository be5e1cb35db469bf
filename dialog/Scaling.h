// The dialog at its monitor's scaling. Explorer runs per-monitor aware, so the dialog on
// its thread gets the DPI of the monitor it is on, and a WM_DPICHANGED when it is dragged
// to a monitor of another scaling. The dialog answers that itself, the same way on every
// Windows: the dialog manager's own rescaling (Windows 10 1703 on) is turned off, as it
// knows nothing of the icon list's images or of the controls' anchors.
//
// The calls that know of DPI are looked up at run time: the module runs on Windows 7 too,
// which has none of them and one DPI for every monitor.
#pragma once

#include <windows.h>

#include "ChangeIconDialog.h"

namespace orvane {

constexpr UINT DefaultDpi = 96;
#ifndef WM_DPICHANGED
constexpr UINT WM_DPICHANGED = 0x02E0;
#endif

// The window's DPI (GetDpiForWindow); without that call, the screen's.
UINT WindowDpi(HWND window);
// A system metric at a DPI (GetSystemMetricsForDpi); without that call, the system's
// metric scaled from the screen's DPI.
int MetricForDpi(int index, UINT dpi);
// The large icon's size at a DPI: 32 pixels at 96, 48 at 144, 64 at 192.
int LargeIconSize(UINT dpi);
// A length given at 96 DPI, at `dpi`.
int ScaleFrom96(int length, UINT dpi);

// At WM_INITDIALOG, before the icon list is filled: records the dialog's DPI, sizes the
// list's images for it and keeps the dialog manager from rescaling on its own.
void BeginScaling(ChangeIconDialog& record, HWND dialog);
// WM_DPICHANGED: every control's place and font scaled by the change, the list's images
// made at the new large icon size, and the window moved to `suggested` (the rectangle
// Windows proposes; null: the window's own, scaled about its centre). The anchors then
// fit the controls to the new client size as any resize does.
void RescaleDialog(ChangeIconDialog& record, HWND dialog, UINT dpi, const RECT* suggested);
// When the dialog has ended: the font made for a scaling is deleted.
void EndScaling(ChangeIconDialog& record);

} // namespace orvane
