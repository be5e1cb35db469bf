// The dialog's list view 1002: every icon of one source file as a large icon labelled
// with its index. Item i always stands for icon i of the file.
#pragma once

#include <windows.h>

namespace orvane {

// (Re)fills the list from the file and selects and focuses the item `preselect` (none
// when it is negative or not below the number of icons). False when the file holds no
// icon or cannot be read; the list then keeps what it showed.
bool FillIconList(HWND dialog, const wchar_t* path, int preselect);

} // namespace orvane
