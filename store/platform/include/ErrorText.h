// The system's own words for a Win32 error, for messages that say why a write was
// refused.
#pragma once

#include <windows.h>

#include <string>

namespace orvane {

// The system's message for the error, without its closing full stop and line end, and
// its number: "Access is denied (error 5)". Only the number ("error 1234") when the
// system has no message for it. Throws std::bad_alloc.
std::wstring SystemErrorText(LONG error);

} // namespace orvane
