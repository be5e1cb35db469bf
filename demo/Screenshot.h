// Saves what the screen shows of a window as a 24-bit BMP file.
#pragma once

#include <windows.h>

namespace orvane::demo {

bool SaveWindowScreenshot(HWND window, const wchar_t* bmpPath);

} // namespace orvane::demo
