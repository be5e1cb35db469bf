// The dialog for several selected items at once: its headline names what will change
// ("3 folders and 2 files"), and OK or Restore changes every target as if it were alone,
// each with its own backup and scope, through the store's batch. Past half a second a
// progress bar takes the icon list's place and Cancel stops between targets; what could
// not be changed is listed at the end, and everything else stays changed.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

#include "ChangeIconDialog.h"

namespace orvane {

// The most items one selection may hold for the entry to be offered.
constexpr std::size_t SelectionLimit = 10000;

bool IsForMany(const ChangeIconDialog& record);
// Whether OK and Restore go through the batch: several targets, or a folder with all
// its subfolders ("Also all subfolders").
bool UsesBatch(HWND dialog, const ChangeIconDialog& record);

// "3 folders and 2 files", "1 drive, 2 folders and 4 file types" (with allOfType each
// file stands for its type, and each type counts once).
std::wstring SelectionWords(const std::vector<std::wstring>& paths, bool allOfType);
void FormatManyHeadline(const ChangeIconDialog& record, bool allOfType, wchar_t* out, std::size_t outSize);

// Whether any target has something to restore; whether the targets are folders only;
// whether any is a file.
bool AnyRestores(const std::vector<std::wstring>& paths);
bool OnlyFolders(const std::vector<std::wstring>& paths);
bool AnyFile(const std::vector<std::wstring>& paths);

// OK (the chosen icon, made icon or copy) or Restore for every target, and with "Also
// all subfolders" for every folder below each folder target (links not followed). The dialog ends
// afterwards; false when nothing was tried (the user cancelled before the first target).
void ChangeMany(HWND dialog, ChangeIconDialog& record, bool restore);

// While a batch runs, Cancel stops it between targets rather than closing the dialog.
bool CancelRunningBatch(ChangeIconDialog& record);

} // namespace orvane
