// Sources whose icon the dialog makes rather than reads out of a file: a picture (an icon
// file made from it at every size), and a colour for a folder (Windows' folder picture in
// that colour). The made bytes are kept until OK writes them where
// the target's icon lives; meanwhile the list shows them from a copy in the temporary
// folder, so that it reads a made icon exactly as it reads any icon file.
#pragma once

#include <windows.h>

#include "ChangeIconDialog.h"
#include "FolderColour.h"

namespace orvane {

// Makes the picture's icon and shows it in the list, preselected; the picture becomes the
// source. False, with the reason told to the user, when the picture cannot be used: the
// source and the list then stay as they were.
bool ShowPicture(HWND dialog, ChangeIconDialog& record, const wchar_t* picture);

// Makes the folder icon in the colour and shows it in the list, preselected; no recent
// source is selected then. False, with a message, when it cannot be made.
bool ShowColour(HWND dialog, ChangeIconDialog& record, FolderColour colour);

// Forgets a made icon (when another source is chosen, and when the dialog ends) and
// deletes its copy in the temporary folder.
void ForgetMadeIcon(ChangeIconDialog& record);

// Whether OK is to write the made icon: one was made and the list's item 0 is chosen.
bool HasMadeIcon(const ChangeIconDialog& record);

// Writes the made icon where the target's icon lives (inside a folder; the scope's folder
// of made icons for the other kinds) and gives it to the target.
ChangeResult ApplyMadeChoice(ChangeIconDialog& record);

// "Keep a copy with the folder" after the source changed: checked as the source suggests
// (a network share or removable drive: yes; the Windows folder: no), and not offered
// for an icon that is made inside the folder anyway.
void UpdateKeepCopy(HWND dialog, const ChangeIconDialog& record);

// OK's change with the chosen index: the made icon, a copy kept with the folder when
// the box says so, or the source as it is.
ChangeResult ApplyChosenIcon(HWND dialog, ChangeIconDialog& record);

// A folder whose icon is a file the folder holds names it relative to itself (so that
// the icon moves with the folder): the dialog shows that icon by its full path, and
// writes it back by its relative name when it is chosen again.
void ShowFolderIconResolved(ChangeIconDialog& record);
void KeepFolderIconRelative(ChangeIconDialog& record);

} // namespace orvane
