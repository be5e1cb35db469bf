// What the Change Icon dialog's OK and Restore buttons and its menu's "Tidy File Icons",
// "Export settings...", "Import settings..." and "Remove Orvane" do: the change through the store (or the batch, for several
// targets or a tree), the questions asked first, the failures told after, and for a
// folder what may keep Windows from showing its new icon.
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
// Tidy File Icons: entries whose file moved follow it, entries whose file is gone go; a
// summary of what was done is shown.
void OnTidy(HWND dialog);
// Export settings...: the save-file dialog, then every setting Orvane holds into the file
// chosen, and what was written told.
void OnExportSettings(HWND dialog);
// Import settings...: the open-file dialog, then each setting of the file chosen given to
// its target in the scope the usual rule gives, and a summary of what was done and what
// was skipped.
void OnImportSettings(HWND dialog);

} // namespace orvane
