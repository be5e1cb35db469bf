// The command line of the dialog's own program, which the Explorer command of Windows
// 11's menu writes and the program reads:
//   orvane-dialog.exe [/near HWND] PATH             the dialog for one folder, file or drive
//   orvane-dialog.exe [/near HWND] /selection FILE  for the items listed in FILE
// HWND is the number of a window of another process (Explorer's) in hexadecimal digits:
// a handle names a window alike in every process of the session, and the dialog opens
// over it without being owned by it.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "IconLocation.h"

namespace orvane {

// The name of the program that runs the Change Icon dialog, installed beside the module.
inline constexpr wchar_t DialogProgramName[] = L"orvane-dialog.exe";

// Room for the program's path, a target's (whose trailing backslashes may double), the
// window's number (16 hexadecimal digits at most) and the switches, quotes and spaces.
constexpr std::size_t DialogCommandLineCapacity = MAX_PATH + 2 * TextCapacity + 48;

struct DialogArguments {
    // The number of the window the dialog opens over (/near); 0 for none.
    std::uintptr_t NearWindow = 0;
    // Whether Path is a list of selected items (/selection) rather than the item itself.
    bool Selection = false;
    std::wstring Path;
};

// Writes the program's quoted path and the arguments into `out` (`size` units, always
// terminated), each quoted as CommandLineToArgvW and the C runtime read it back; false
// when it does not fit.
bool WriteDialogCommandLine(const wchar_t* program, const DialogArguments& arguments, wchar_t* out,
                            std::size_t size);

// The arguments of a whole command line as the program is given it (its first argument,
// the program, is passed over); none for one that is not of either form.
std::optional<DialogArguments> ParseDialogCommandLine(const wchar_t* commandLine);

} // namespace orvane
