#include "DesktopIniEncoding.h"

#include <cstring>
#include <memory>
#include <new>

#include "WholeFile.h"

namespace orvane {

namespace {

constexpr DWORD DesktopIniSizeLimit = 1024 * 1024;
constexpr BYTE Utf16LeMark[] = {0xFF, 0xFE};

bool FitsCodePage(const wchar_t* text)
{
    if (text == nullptr || text[0] == L'\0')
        return true;
    // The UTF-8 code page holds every character and takes neither the flag nor the report.
    if (GetACP() == CP_UTF8)
        return true;
    BOOL usedDefault = FALSE;
    const int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text, -1, nullptr, 0, nullptr, &usedDefault);
    return length > 0 && !usedDefault;
}

bool WriteAll(HANDLE file, const void* data, DWORD size)
{
    DWORD written = 0;
    return WriteFile(file, data, size, &written, nullptr) && written == size;
}

LONG CreateUtf16DesktopIni(const wchar_t* desktopIni)
{
    FileHandle file(CreateFileW(desktopIni, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid())
        return LastErrorOr(ERROR_ACCESS_DENIED);
    return WriteAll(file.Value, Utf16LeMark, sizeof Utf16LeMark) ? ERROR_SUCCESS : LastErrorOr(ERROR_WRITE_FAULT);
}

bool HasMark(const BYTE* bytes, DWORD count)
{
    return (count >= 2 && ((bytes[0] == 0xFF && bytes[1] == 0xFE) || (bytes[0] == 0xFE && bytes[1] == 0xFF))) ||
           (count >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF);
}


// The file's text in the ANSI code page as UTF-16: every byte of an ANSI file converts.
LONG WidenFromCodePage(const WholeFileBytes& bytes, std::unique_ptr<wchar_t[]>& text, int& units)
{
    units = 0;
    if (bytes.Size != 0) {
        units = MultiByteToWideChar(CP_ACP, 0, bytes.Data.get(), static_cast<int>(bytes.Size), nullptr, 0);
        if (units <= 0)
            return LastErrorOr(ERROR_INVALID_DATA);
    }
    text.reset(new (std::nothrow) wchar_t[static_cast<std::size_t>(units) + 1]);
    if (!text)
        return ERROR_NOT_ENOUGH_MEMORY;
    if (units != 0 &&
        MultiByteToWideChar(CP_ACP, 0, bytes.Data.get(), static_cast<int>(bytes.Size), text.get(), units) != units)
        return LastErrorOr(ERROR_INVALID_DATA);
    return ERROR_SUCCESS;
}

// The UTF-16 text in the ANSI code page, when every character has a form there; false
// (and no failure) when one has none, or when the code page is UTF-8, which takes neither
// the flag nor the report.
bool NarrowToCodePage(const wchar_t* text, int units, std::unique_ptr<char[]>& ansi, int& length, LONG& status)
{
    status = ERROR_SUCCESS;
    length = 0;
    if (units == 0)
        return true;
    if (GetACP() == CP_UTF8)
        return false;
    BOOL usedDefault = FALSE;
    length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text, units, nullptr, 0, nullptr, &usedDefault);
    if (length <= 0 || usedDefault)
        return false;
    ansi.reset(new (std::nothrow) char[static_cast<std::size_t>(length)]);
    if (!ansi) {
        status = ERROR_NOT_ENOUGH_MEMORY;
        return false;
    }
    usedDefault = FALSE;
    return WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text, units, ansi.get(), length, nullptr,
                               &usedDefault) == length &&
           !usedDefault;
}

// One piece of what a file is rewritten with.
struct Piece {
    const void* Data;
    DWORD Size;
};

// Writes the pieces over the file from its start and ends it there. A write that stops
// halfway (a full disk) would leave neither text: the file's own bytes go back as they
// were read.
LONG RewriteFile(HANDLE file, std::initializer_list<Piece> pieces, const WholeFileBytes& original)
{
    LARGE_INTEGER start{};
    bool written = SetFilePointerEx(file, start, nullptr, FILE_BEGIN) != FALSE;
    for (const Piece& piece : pieces)
        written = written && (piece.Size == 0 || WriteAll(file, piece.Data, piece.Size));
    if (written && SetEndOfFile(file))
        return ERROR_SUCCESS;
    const LONG status = LastErrorOr(ERROR_WRITE_FAULT);
    if (SetFilePointerEx(file, start, nullptr, FILE_BEGIN) && WriteAll(file, original.Data.get(), original.Size))
        SetEndOfFile(file);
    return status;
}

// Opens an existing profile to be rewritten. Opening it for writing keeps its hidden and
// system attributes, which creating it anew would have to match. Others may go on reading
// it, as the profile functions let them; nobody may write it between this reading and
// this writing.
LONG OpenToRewrite(const wchar_t* desktopIni, DWORD limit, FileHandle& file, WholeFileBytes& bytes)
{
    file.Value = CreateFileW(desktopIni, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (!file.Valid())
        return LastErrorOr(ERROR_ACCESS_DENIED);
    return ReadWholeFile(file.Value, limit, bytes);
}

} // namespace

bool IsAnsiDesktopIni(const wchar_t* desktopIni)
{
    if (desktopIni == nullptr || desktopIni[0] == L'\0')
        return false;
    FileHandle file(CreateFileW(desktopIni, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                nullptr));
    if (!file.Valid())
        return false;
    BYTE head[3] = {};
    DWORD read = 0;
    if (!ReadFile(file.Value, head, sizeof head, &read, nullptr))
        return false;
    return !HasMark(head, read);
}

LONG ReturnDesktopIniToAnsi(const wchar_t* desktopIni)
{
    if (desktopIni == nullptr || desktopIni[0] == L'\0')
        return ERROR_INVALID_PARAMETER;
    FileHandle file(INVALID_HANDLE_VALUE);
    WholeFileBytes bytes;
    LONG status = OpenToRewrite(desktopIni, 2 * DesktopIniSizeLimit + 2, file, bytes);
    if (status == ERROR_FILE_TOO_LARGE)
        return ERROR_SUCCESS;
    if (status != ERROR_SUCCESS)
        return status;
    const BYTE* head = reinterpret_cast<const BYTE*>(bytes.Data.get());
    if (bytes.Size < 2 || bytes.Size % 2 != 0 || head[0] != 0xFF || head[1] != 0xFE)
        return ERROR_SUCCESS;
    const int units = static_cast<int>((bytes.Size - 2) / sizeof(wchar_t));
    std::unique_ptr<wchar_t[]> text(new (std::nothrow) wchar_t[static_cast<std::size_t>(units) + 1]);
    if (!text)
        return ERROR_NOT_ENOUGH_MEMORY;
    std::memcpy(text.get(), bytes.Data.get() + 2, static_cast<std::size_t>(units) * sizeof(wchar_t));
    std::unique_ptr<char[]> ansi;
    int length = 0;
    if (!NarrowToCodePage(text.get(), units, ansi, length, status))
        return status;
    return RewriteFile(file.Value, {{ansi.get(), static_cast<DWORD>(length)}}, bytes);
}

LONG PrepareDesktopIniFor(const wchar_t* desktopIni, std::initializer_list<const wchar_t*> texts)
{
    if (desktopIni == nullptr || desktopIni[0] == L'\0')
        return ERROR_INVALID_PARAMETER;
    if (GetFileAttributesW(desktopIni) == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND)
            return CreateUtf16DesktopIni(desktopIni);
        return static_cast<LONG>(error != ERROR_SUCCESS ? error : ERROR_FILE_NOT_FOUND);
    }

    bool fits = true;
    for (const wchar_t* text : texts)
        fits = fits && FitsCodePage(text);
    if (fits)
        return ERROR_SUCCESS;

    // Left ANSI, the file would get "?" for what the code page lacks: one too large to be
    // a folder's settings is refused instead (ERROR_FILE_TOO_LARGE).
    FileHandle file(INVALID_HANDLE_VALUE);
    WholeFileBytes bytes;
    LONG status = OpenToRewrite(desktopIni, DesktopIniSizeLimit, file, bytes);
    if (status != ERROR_SUCCESS)
        return status;
    if (HasMark(reinterpret_cast<const BYTE*>(bytes.Data.get()), bytes.Size))
        return ERROR_SUCCESS;
    std::unique_ptr<wchar_t[]> text;
    int units = 0;
    status = WidenFromCodePage(bytes, text, units);
    if (status != ERROR_SUCCESS)
        return status;
    // The text goes back whole behind the mark.
    const DWORD textBytes = static_cast<DWORD>(static_cast<std::size_t>(units) * sizeof(wchar_t));
    return RewriteFile(file.Value, {{Utf16LeMark, sizeof Utf16LeMark}, {text.get(), textBytes}}, bytes);
}

} // namespace orvane
