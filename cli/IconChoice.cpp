#include "IconChoice.h"

#include <windows.h>
#include <shellapi.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "IconResources.h"
#include "IconSource.h"

namespace orvane::cli {

namespace {

// True when text is [+-]digits and nothing else; *overflow tells whether the value
// leaves the 32-bit range.
bool IsIntegerText(const char* text, long long* value, bool* overflow)
{
    const char* p = text;
    if (*p == '+' || *p == '-')
        ++p;
    if (*p == '\0')
        return false;
    for (const char* q = p; *q != '\0'; ++q) {
        if (*q < '0' || *q > '9')
            return false;
    }
    errno = 0;
    *value = std::strtoll(text, nullptr, 10);
    *overflow = errno == ERANGE || *value > INT32_MAX || *value < INT32_MIN;
    return true;
}

bool IsExistingFile(const char* path)
{
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// The full path of the source: relative to the current folder if it is there, else
// where the search path finds it (the system folder for "shell32.dll"). A source with
// environment references ("%SystemRoot%\system32\imageres.dll") is kept as written, as
// Windows stores such paths, when its expansion is the full path of an existing file.
bool ResolveSource(const std::string& given, char (&out)[TextCapacity])
{
    char expanded[TextCapacity];
    if (!ExpandIconPath(given.c_str(), expanded))
        return false;
    char full[MAX_PATH + 1] = {};
    DWORD length = GetFullPathNameA(expanded, sizeof full, full, nullptr);
    if (length > 0 && length < TextCapacity && IsExistingFile(full)) {
        const bool written = given != expanded && _stricmp(full, expanded) == 0;
        return CopyText(out, sizeof out, written ? given.c_str() : full);
    }
    length = SearchPathA(nullptr, expanded, nullptr, sizeof full, full, nullptr);
    if (length > 0 && length < TextCapacity && IsExistingFile(full))
        return CopyText(out, sizeof out, full);
    return false;
}

} // namespace

bool ParseIconChoice(const char* text, IconChoice* choice, std::string* error)
{
    std::string source = text;
    std::int32_t index = 0;
    const std::size_t comma = source.rfind(',');
    if (comma != std::string::npos) {
        long long value = 0;
        bool overflow = false;
        if (IsIntegerText(source.c_str() + comma + 1, &value, &overflow)) {
            if (overflow) {
                *error = "icon index " + source.substr(comma + 1) + " is out of range";
                return false;
            }
            index = static_cast<std::int32_t>(value);
            source.resize(comma);
        }
    }
    if (source.empty()) {
        *error = "no icon source given";
        return false;
    }
    if (source.size() >= TextCapacity) {
        *error = "icon source path is too long (at most 259 characters): " + source;
        return false;
    }
    if (!ResolveSource(source, choice->Source)) {
        *error = "icon source not found: " + source;
        return false;
    }
    char file[TextCapacity];
    if (!ExpandIconPath(choice->Source, file)) {
        *error = std::string("icon source path is too long once expanded: ") + choice->Source;
        return false;
    }
    const unsigned count = CountIcons(file);
    if (count == 0) {
        *error = std::string("icon source holds no icons: ") + choice->Source;
        return false;
    }
    // Negative indexes name icon resources by id, which the count says nothing about.
    if (index >= 0 && static_cast<unsigned>(index) >= count) {
        *error = std::string("icon source ") + choice->Source + " holds " + std::to_string(count) +
                 " icons; index " + std::to_string(index) + " is beyond them (0 to " +
                 std::to_string(count - 1) + ")";
        return false;
    }
    // The count comes from the file's directory alone; a damaged file can claim icons it
    // does not hold. The chosen one must really load (a negative index names a resource id).
    HICON icon = nullptr;
    if (ExtractIconExA(file, index, &icon, nullptr, 1) == 0 || icon == nullptr) {
        *error = std::string("icon source ") + choice->Source + ": icon " + std::to_string(index) +
                 " cannot be read";
        return false;
    }
    DestroyIcon(icon);
    choice->Index = index;
    return true;
}

} // namespace orvane::cli
