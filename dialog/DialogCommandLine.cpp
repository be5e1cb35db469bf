#include "DialogCommandLine.h"

#include <shellapi.h>

#include <cstring>
#include <cwchar>
#include <iterator>

#include "PathText.h"

namespace orvane {

namespace {

constexpr wchar_t NearSwitch[] = L"/near";
constexpr wchar_t SelectionSwitch[] = L"/selection";

bool AppendBackslashes(wchar_t* out, std::size_t size, std::size_t& at, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        if (!AppendText(out, size, at, L"\\", 1))
            return false;
    }
    return true;
}

// Appends text as one quoted argument. Backslashes count only before a quote: those
// before a quote of the text, and before the closing quote (the "\" of a drive root,
// "C:\"), are doubled, and the text's own quotes escaped.
bool AppendQuoted(wchar_t* out, std::size_t size, std::size_t& at, const wchar_t* text)
{
    if (!AppendText(out, size, at, L"\"", 1))
        return false;
    for (std::size_t i = 0;; ++i) {
        std::size_t backslashes = 0;
        while (text[i] == L'\\') {
            ++backslashes;
            ++i;
        }
        if (text[i] == L'\0')
            return AppendBackslashes(out, size, at, 2 * backslashes) && AppendText(out, size, at, L"\"", 1);
        if (text[i] == L'"') {
            if (!AppendBackslashes(out, size, at, 2 * backslashes + 1))
                return false;
        } else if (!AppendBackslashes(out, size, at, backslashes)) {
            return false;
        }
        if (!AppendText(out, size, at, text + i, 1))
            return false;
    }
}

// Appends a number in hexadecimal digits (upper case, no prefix, no leading zeros).
bool AppendHex(wchar_t* out, std::size_t size, std::size_t& at, std::uintptr_t value)
{
    wchar_t digits[2 * sizeof value];
    std::size_t count = 0;
    do {
        digits[std::size(digits) - 1 - count++] = L"0123456789ABCDEF"[value & 0xF];
        value >>= 4;
    } while (value != 0 && count < std::size(digits));
    return AppendText(out, size, at, digits + std::size(digits) - count, count);
}

// The window a "/near" argument names: one to 16 hexadecimal digits and nothing else.
// False for anything else (a sign, a "0x", a space, text, more digits than a handle has).
bool ParseWindowNumber(const wchar_t* text, std::uintptr_t& value)
{
    constexpr std::size_t MostDigits = 16;
    value = 0;
    std::size_t digits = 0;
    for (; text[digits] != L'\0'; ++digits) {
        const wchar_t c = text[digits];
        unsigned digit = 0;
        if (c >= L'0' && c <= L'9')
            digit = static_cast<unsigned>(c - L'0');
        else if (c >= L'A' && c <= L'F')
            digit = static_cast<unsigned>(c - L'A' + 10);
        else if (c >= L'a' && c <= L'f')
            digit = static_cast<unsigned>(c - L'a' + 10);
        else
            return false;
        if (digits >= MostDigits)
            return false;
        // A 32-bit program keeps the low 32 bits of a 64-bit process's handle, which are
        // all that a window handle holds.
        value = (value << 4) | digit;
    }
    return digits > 0;
}

// The arguments as the C runtime would split them, freed with the object.
class SplitArguments {
public:
    explicit SplitArguments(const wchar_t* commandLine) : values_(CommandLineToArgvW(commandLine, &count_)) {}
    ~SplitArguments()
    {
        if (values_ != nullptr)
            LocalFree(values_);
    }
    SplitArguments(const SplitArguments&) = delete;
    SplitArguments& operator=(const SplitArguments&) = delete;
    int Count() const { return values_ != nullptr ? count_ : 0; }
    const wchar_t* operator[](int i) const { return values_[i]; }

private:
    int count_ = 0;
    LPWSTR* values_;
};

} // namespace

bool WriteDialogCommandLine(const wchar_t* program, const DialogArguments& arguments, wchar_t* out,
                            std::size_t size)
{
    if (out == nullptr || size == 0)
        return false;
    std::size_t at = 0;
    out[0] = L'\0';
    const bool written =
        AppendQuoted(out, size, at, program) &&
        (arguments.NearWindow == 0 || (AppendText(out, size, at, L" ") && AppendText(out, size, at, NearSwitch) &&
                                       AppendText(out, size, at, L" ") && AppendHex(out, size, at, arguments.NearWindow))) &&
        (!arguments.Selection || (AppendText(out, size, at, L" ") && AppendText(out, size, at, SelectionSwitch))) &&
        AppendText(out, size, at, L" ") && AppendQuoted(out, size, at, arguments.Path.c_str());
    if (!written)
        out[0] = L'\0';
    return written;
}

std::optional<DialogArguments> ParseDialogCommandLine(const wchar_t* commandLine)
{
    if (commandLine == nullptr)
        return std::nullopt;
    const SplitArguments values(commandLine);
    DialogArguments arguments;
    int first = 1;
    if (values.Count() >= 2 && std::wcscmp(values[1], NearSwitch) == 0) {
        if (values.Count() < 3 || !ParseWindowNumber(values[2], arguments.NearWindow))
            return std::nullopt;
        first = 3;
    }
    const int rest = values.Count() - first;
    if (rest == 2 && std::wcscmp(values[first], SelectionSwitch) == 0) {
        arguments.Selection = true;
        arguments.Path = values[first + 1];
    } else if (rest == 1) {
        arguments.Path = values[first];
    } else {
        return std::nullopt;
    }
    return arguments;
}

} // namespace orvane
