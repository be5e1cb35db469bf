#include "ConsoleText.h"

#include <windows.h>

#include <algorithm>
#include <string>

#include "PathText.h"

namespace orvane::cli {

namespace {

// Pieces of at most this many UTF-16 units keep every count within a DWORD and an int.
constexpr std::size_t PieceLength = 4096;

// The length of the next piece of text: at most PieceLength units, and never ending
// between the two halves of a surrogate pair.
std::size_t NextPiece(std::wstring_view text) { return UnitsThatFit(text, PieceLength); }

void WriteToConsole(HANDLE console, std::wstring_view text)
{
    while (!text.empty()) {
        const std::size_t length = NextPiece(text);
        DWORD written = 0;
        if (!WriteConsoleW(console, text.data(), static_cast<DWORD>(length), &written, nullptr) || written == 0 ||
            written > length)
            return;
        text.remove_prefix(written);
    }
}

void WriteBytes(HANDLE file, const char* bytes, std::size_t size)
{
    while (size > 0) {
        DWORD written = 0;
        if (!WriteFile(file, bytes, static_cast<DWORD>(size), &written, nullptr) || written == 0 || written > size)
            return;
        bytes += written;
        size -= written;
    }
}

// UTF-8 with "\r\n" line ends. A surrogate that has lost its other half (a file name
// may hold one) becomes U+FFFD, as the platform's conversion makes it.
void WriteToFile(HANDLE file, std::wstring_view text)
{
    std::wstring lines;
    lines.reserve(text.size() + text.size() / 16);
    for (const wchar_t c : text) {
        if (c == L'\n')
            lines += L'\r';
        lines += c;
    }
    std::wstring_view rest = lines;
    std::string bytes;
    while (!rest.empty()) {
        const std::size_t length = NextPiece(rest);
        const int units = static_cast<int>(length);
        const int size = WideCharToMultiByte(CP_UTF8, 0, rest.data(), units, nullptr, 0, nullptr, nullptr);
        if (size <= 0)
            return;
        bytes.resize(static_cast<std::size_t>(size));
        if (WideCharToMultiByte(CP_UTF8, 0, rest.data(), units, bytes.data(), size, nullptr, nullptr) != size)
            return;
        WriteBytes(file, bytes.data(), bytes.size());
        rest.remove_prefix(length);
    }
}

void Write(DWORD which, std::wstring_view text)
{
    const HANDLE handle = GetStdHandle(which);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE || text.empty())
        return;
    // GetConsoleMode succeeds only for a console's handle.
    DWORD mode = 0;
    if (GetConsoleMode(handle, &mode))
        WriteToConsole(handle, text);
    else
        WriteToFile(handle, text);
}

} // namespace

void WriteOut(std::wstring_view text) { Write(STD_OUTPUT_HANDLE, text); }

void WriteErr(std::wstring_view text) { Write(STD_ERROR_HANDLE, text); }

} // namespace orvane::cli
