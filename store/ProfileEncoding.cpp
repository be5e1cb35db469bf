#include "ProfileEncoding.h"

#include <cstring>
#include <memory>
#include <new>

namespace orvane {

namespace {

constexpr DWORD ProfileSizeLimit = 1024 * 1024;
constexpr BYTE Utf16LeMark[] = {0xFF, 0xFE};

LONG LastErrorOr(LONG fallback)
{
    const DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? static_cast<LONG>(error) : fallback;
}

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

LONG CreateUtf16Profile(const wchar_t* profile)
{
    FileHandle file(CreateFileW(profile, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid())
        return LastErrorOr(ERROR_ACCESS_DENIED);
    return WriteAll(file.Value, Utf16LeMark, sizeof Utf16LeMark) ? ERROR_SUCCESS : LastErrorOr(ERROR_WRITE_FAULT);
}

bool HasMark(const BYTE* bytes, DWORD count)
{
    return (count >= 2 && ((bytes[0] == 0xFF && bytes[1] == 0xFE) || (bytes[0] == 0xFE && bytes[1] == 0xFF))) ||
           (count >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF);
}

} // namespace

bool IsAnsiProfile(const wchar_t* profile)
{
    if (profile == nullptr || profile[0] == L'\0')
        return false;
    FileHandle file(CreateFileW(profile, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                nullptr));
    if (!file.Valid())
        return false;
    BYTE head[3] = {};
    DWORD read = 0;
    if (!ReadFile(file.Value, head, sizeof head, &read, nullptr))
        return false;
    return !HasMark(head, read);
}

LONG ReturnProfileToAnsi(const wchar_t* profile)
{
    if (profile == nullptr || profile[0] == L'\0')
        return ERROR_INVALID_PARAMETER;
    FileHandle file(
        CreateFileW(profile, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file.Valid())
        return LastErrorOr(ERROR_ACCESS_DENIED);
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.Value, &size))
        return LastErrorOr(ERROR_READ_FAULT);
    if (size.QuadPart > 2 * static_cast<LONGLONG>(ProfileSizeLimit) + 2 || size.QuadPart < 2 || size.QuadPart % 2 != 0)
        return ERROR_SUCCESS;
    const DWORD byteCount = static_cast<DWORD>(size.QuadPart);
    std::unique_ptr<BYTE[]> bytes(new (std::nothrow) BYTE[byteCount]);
    if (!bytes)
        return ERROR_NOT_ENOUGH_MEMORY;
    DWORD read = 0;
    if (!ReadFile(file.Value, bytes.get(), byteCount, &read, nullptr) || read != byteCount)
        return LastErrorOr(ERROR_READ_FAULT);
    if (bytes[0] != 0xFF || bytes[1] != 0xFE)
        return ERROR_SUCCESS;
    const int units = static_cast<int>((byteCount - 2) / sizeof(wchar_t));
    std::unique_ptr<wchar_t[]> text(new (std::nothrow) wchar_t[static_cast<std::size_t>(units) + 1]);
    if (!text)
        return ERROR_NOT_ENOUGH_MEMORY;
    std::memcpy(text.get(), bytes.get() + 2, static_cast<std::size_t>(units) * sizeof(wchar_t));
    int length = 0;
    std::unique_ptr<char[]> ansi;
    if (units != 0) {
        // The UTF-8 code page takes neither the flag nor the report: the file stays UTF-16.
        if (GetACP() == CP_UTF8)
            return ERROR_SUCCESS;
        BOOL usedDefault = FALSE;
        length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.get(), units, nullptr, 0, nullptr,
                                     &usedDefault);
        if (length <= 0 || usedDefault)
            return ERROR_SUCCESS;
        ansi.reset(new (std::nothrow) char[static_cast<std::size_t>(length)]);
        if (!ansi)
            return ERROR_NOT_ENOUGH_MEMORY;
        usedDefault = FALSE;
        if (WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.get(), units, ansi.get(), length, nullptr,
                                &usedDefault) != length ||
            usedDefault)
            return ERROR_SUCCESS;
    }
    LARGE_INTEGER start{};
    if (SetFilePointerEx(file.Value, start, nullptr, FILE_BEGIN) &&
        (length == 0 || WriteAll(file.Value, ansi.get(), static_cast<DWORD>(length))) && SetEndOfFile(file.Value))
        return ERROR_SUCCESS;
    // Stopped halfway: the UTF-16 bytes go back as they were read.
    const LONG status = LastErrorOr(ERROR_WRITE_FAULT);
    if (SetFilePointerEx(file.Value, start, nullptr, FILE_BEGIN) && WriteAll(file.Value, bytes.get(), byteCount))
        SetEndOfFile(file.Value);
    return status;
}

LONG PrepareProfileFor(const wchar_t* profile, std::initializer_list<const wchar_t*> texts)
{
    if (profile == nullptr || profile[0] == L'\0')
        return ERROR_INVALID_PARAMETER;
    if (GetFileAttributesW(profile) == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND)
            return CreateUtf16Profile(profile);
        return static_cast<LONG>(error != ERROR_SUCCESS ? error : ERROR_FILE_NOT_FOUND);
    }

    bool fits = true;
    for (const wchar_t* text : texts)
        fits = fits && FitsCodePage(text);
    if (fits)
        return ERROR_SUCCESS;

    // Opening an existing file for writing keeps its hidden and system attributes, which
    // creating it anew would have to match. Others may go on reading it, as the profile
    // functions let them; nobody may write it between this reading and this writing.
    FileHandle file(
        CreateFileW(profile, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file.Valid())
        return LastErrorOr(ERROR_ACCESS_DENIED);
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.Value, &size))
        return LastErrorOr(ERROR_READ_FAULT);
    // Left ANSI, the file would get "?" for what the code page lacks: refused instead.
    if (size.QuadPart > ProfileSizeLimit)
        return ERROR_FILE_TOO_LARGE;
    const DWORD byteCount = static_cast<DWORD>(size.QuadPart);
    std::unique_ptr<char[]> bytes(new (std::nothrow) char[byteCount + 1]);
    if (!bytes)
        return ERROR_NOT_ENOUGH_MEMORY;
    DWORD read = 0;
    if (byteCount != 0 && (!ReadFile(file.Value, bytes.get(), byteCount, &read, nullptr) || read != byteCount))
        return LastErrorOr(ERROR_READ_FAULT);
    if (HasMark(reinterpret_cast<const BYTE*>(bytes.get()), byteCount))
        return ERROR_SUCCESS;

    // Every byte of an ANSI file converts; the text goes back whole behind the mark.
    int units = 0;
    if (byteCount != 0) {
        units = MultiByteToWideChar(CP_ACP, 0, bytes.get(), static_cast<int>(byteCount), nullptr, 0);
        if (units <= 0)
            return LastErrorOr(ERROR_INVALID_DATA);
    }
    std::unique_ptr<wchar_t[]> text(new (std::nothrow) wchar_t[static_cast<std::size_t>(units) + 1]);
    if (!text)
        return ERROR_NOT_ENOUGH_MEMORY;
    if (units != 0 &&
        MultiByteToWideChar(CP_ACP, 0, bytes.get(), static_cast<int>(byteCount), text.get(), units) != units)
        return LastErrorOr(ERROR_INVALID_DATA);

    LARGE_INTEGER start{};
    if (SetFilePointerEx(file.Value, start, nullptr, FILE_BEGIN) &&
        WriteAll(file.Value, Utf16LeMark, sizeof Utf16LeMark) &&
        WriteAll(file.Value, text.get(), static_cast<DWORD>(units) * sizeof(wchar_t)) && SetEndOfFile(file.Value))
        return ERROR_SUCCESS;
    // A write that stopped halfway (a full disk) would leave neither text: the file's own
    // bytes go back as they were read.
    const LONG status = LastErrorOr(ERROR_WRITE_FAULT);
    if (SetFilePointerEx(file.Value, start, nullptr, FILE_BEGIN) && WriteAll(file.Value, bytes.get(), byteCount))
        SetEndOfFile(file.Value);
    return status;
}

} // namespace orvane
