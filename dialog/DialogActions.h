// What the Change Icon dialog's OK and Restore buttons and its menu's "Remove Orvane" do:
// the change through the store (or the batch, for several targets or a tree), the
// questions asked first, the failures told after, and for a folder what may keep Windows
// from showing its new icon.
#pragma once

#include <windows.h>

#include "ChangeIconDialog.h"

namespace orvane {

// OK: applies the icon chosen in the list (or the made one) and closes the dialog; a
// change that fails is told and the dialog stays open.
void OnOk(HWND dialog, ChangeIconDialog& record);
// Restore: after the user agrees, restores the Windows default icon and closes the dialog;
// a restore that fails is told and the dialog stays open.
void OnRestore(HWND dialog, ChangeIconDialog& record);
// Remove Orvane: after the user agrees, clears every setting of this product.
void OnRemoveAll(HWND dialog);

} // namespace orvane
