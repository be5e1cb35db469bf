// Text for the person at the command prompt. A console gets the UTF-16 text itself
// (WriteConsoleW), so that it shows every character whatever the console's code page; a
// redirected stream (a file, a pipe) gets UTF-8 without a byte-order mark, lines ended
// with "\r\n" as Windows programs write them. Any character a path can hold survives
// either way, where the C runtime's 8-bit output would turn it into "?".
#pragma once

#include <string_view>

namespace orvane::cli {

void WriteOut(std::wstring_view text);
void WriteErr(std::wstring_view text);

} // namespace orvane::cli
