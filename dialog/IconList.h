// The dialog's list view 1002: every icon of one source file as a large icon labelled
// "Icon i" with its index, which a screen reader reads. Item i always stands for icon i
// of the file.
//
// The list is virtual (LVS_OWNERDATA): it holds only the number of icons, and asks its
// owner for an item's text and image as it draws the item. An icon is extracted when the
// list first asks for it, and ahead of what the list shows while the dialog is idle, into
// a bounded set of image list slots: a library of any size shows its first screen at once
// and keeps a few megabytes of images.
#pragma once

#include <windows.h>

namespace orvane {

// (Re)fills the list from the file and selects and focuses the item `preselect` (none
// when it is negative or not below the number of icons) and scrolls it into view. False
// when the file holds no icon or none can be extracted; the list then keeps what it
// showed. The dialog answers the list's requests from then on through
// HandleIconListMessage.
bool FillIconList(HWND dialog, const wchar_t* path, int preselect);

// The dialog procedure hands every message to this first: the list's requests for items
// (WM_NOTIFY), its idle work (WM_TIMER) and the end of the dialog (WM_NCDESTROY). True
// when the message was the list's and is answered with *result.
bool HandleIconListMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);

// The images' size from now on: the large icon size of the dialog's DPI. A list that
// shows icons gets them again at that size, its items, selection and scroll place kept.
void SetIconListImageSize(HWND dialog, int size);
// The size of the images the list shows; 0 when it shows none.
int IconListImageSize(HWND dialog);

// Around the dialog's resizing of its controls: the list is arranged anew once, not
// redrawn for every item it moves.
void SuspendIconListDrawing(HWND dialog);
void ResumeIconListDrawing(HWND dialog);

} // namespace orvane
