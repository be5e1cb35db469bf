// The recent list of icon sources: the content of the dialog's combo box, newest first,
// kept between runs under HKEY_CURRENT_USER\<ProductKey>\LRU as REG_SZ values "0", "1",
// ... and the REG_DWORD "CurSel" (0xFFFFFFFF when no entry is selected).
#pragma once

#include <windows.h>

#include "IconLocation.h"

namespace orvane {

constexpr int RecentListCapacity = 10;
constexpr const wchar_t RecentSelectionValue[] = L"CurSel";

// Fills an empty combo box from the registry; a missing key leaves it empty. Loading
// does not notify the dialog, so it does not fill the icon list.
void LoadRecentList(HWND combo);
// Replaces the registry key by the combo box's entries and selection. An empty list
// leaves no key. Returns the status of creating the key.
LONG SaveRecentList(HWND combo);
// Selects the entry equal to path (byte for byte), or inserts it at the top, dropping the
// oldest entry when the list is full.
void AddRecentEntry(HWND combo, const wchar_t* path);
// Copies the selected entry; false (buffer untouched) when none is selected or it does
// not fit.
bool SelectedRecentEntry(HWND combo, wchar_t (&buffer)[TextCapacity]);

} // namespace orvane
