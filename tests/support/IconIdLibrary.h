// The icon library the tests build beside their programs (orvane_icon_ids.dll): four icon
// groups with the resource ids 100, 101, 105 and 112, so that an id is never its position,
// each icon a colour of its own. And the pixels of an icon, to tell which one a list or a
// lookup gave.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

namespace orvane::test {

inline constexpr unsigned IconIdLibraryIds[] = {100, 101, 105, 112};

// Full path of orvane_icon_ids.dll, in the folder above the test program's own.
std::wstring IconIdLibraryPath();

// The icon drawn at the system's large-icon size on the window colour, sampled on a grid.
std::vector<COLORREF> IconPixels(HICON icon);
// Image `index` of an image list, drawn and sampled the same way.
std::vector<COLORREF> ImagePixels(HIMAGELIST images, int index);
// The large icon that ExtractIconExW gives for the index (a negative one names a resource
// id), drawn as above; empty when none is extracted.
std::vector<COLORREF> ExtractedPixels(const std::wstring& path, int index);

} // namespace orvane::test
