// The dialog's texts: its headline and the messages that say why a change was not
// written. Free of windows, so that each text can be checked on its own.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

#include "ChangeIconDialog.h"
#include "FolderTrust.h"

namespace orvane {

// False for a file without an extension: the system keeps icons per file type (and per
// file under the type's class), so such a file cannot be given one.
bool CanTakeIcon(ChangeIconDialog& record);

// The headline "if you press the OK Button,the Icon for <kind> '<name>' will be changed",
// or the explanation for a target that cannot take an icon. Always terminated.
void FormatHeadline(ChangeIconDialog& record, wchar_t* out, std::size_t outSize);

// The message shown when a change was not written: what could not be changed and why.
// `action` is what was tried ("changed", "restored").
void FormatChangeFailure(ChangeIconDialog& record, ChangeResult result, const wchar_t* action, wchar_t* out,
                         std::size_t outSize);
void FormatRemoveFailure(LONG status, wchar_t* out, std::size_t outSize);

// What refused a change beside the registry, with the system's reason, as words that
// follow a target's name: "its Desktop.ini could not be read or written: Access is
// denied (error 5)". `folder`: the target is a folder; `tooLong`: the change was refused as too
// long. Throws std::bad_alloc.
std::wstring RefusalWords(const Refusal& refusal, bool folder, bool tooLong);

// The message after a folder's icon was written where Windows may not show it: each
// finding on a line of its own and, for a Desktop.ini with the mark of the web, the
// question whether to remove that mark.
void FormatTrustFindings(ChangeIconDialog& record, const TrustFindings& findings, wchar_t* out, std::size_t outSize);

} // namespace orvane
