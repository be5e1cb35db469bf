// The list of selected items that the Explorer command hands orvane-dialog.exe, as ten
// thousand paths do not fit a command line: a new file directly in this user's temporary
// folder, named as GetTempFileName names it with the prefix "orv" ("orv" and one to four
// hexadecimal digits, ".tmp"), holding one full path a line in UTF-16, each line ended by
// "\n". The program deletes the list once read, and only a file that is provably such a
// list: the name it is given comes from a command line, which anybody can write, and any
// other file named there is read and left exactly as it was.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace orvane {

// Writes the paths as a new list and gives its path. ERROR_SUCCESS, or why it was not
// written (nothing is then left behind).
DWORD WriteSelectionList(const std::vector<std::wstring>& paths, wchar_t (&file)[MAX_PATH]);

// Why a file named as a list was not taken as one.
enum class SelectionListProblem {
    None,
    CannotOpen,           // it cannot be opened or read (Error says why)
    NotInTemporaryFolder, // where it really lies, every link followed, is not directly in the temporary folder
    OtherNames,           // it also has a name elsewhere (a hard link): no new file the command made
    NotListName,          // its name is not one the command gives its lists
    NotList,              // its bytes are not paths one a line, or more than a selection holds
};

struct SelectionListRead {
    SelectionListProblem Problem = SelectionListProblem::CannotOpen;
    DWORD Error = ERROR_SUCCESS;
    // Every path of the list, in its order; empty unless Problem is None.
    std::vector<std::wstring> Paths;
    // The file was deleted: it was a list, checked and deleted through one open handle
    // so that no other file can take its place in between.
    bool Deleted = false;
};

// Opens the file once and, through that handle, finds where it really lies, reads it and,
// when it is a list of this user's temporary folder, deletes it.
SelectionListRead ReadSelectionList(const wchar_t* file);

// Whether `name` (a file name, no folder) has the form of a list's name.
bool IsSelectionListName(const wchar_t* name);

} // namespace orvane
