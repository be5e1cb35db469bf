#include "IconChoice.h"

#include <windows.h>
#include <shellapi.h>

#include <cwchar>
#include <iterator>
#include <string_view>

#include "ErrorText.h"
#include "IconSources.h"
#include "PictureIcon.h"

namespace orvane::cli {

namespace {

bool IsExistingFile(const wchar_t* path)
{
    const DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// Paths name the same file whatever the case of their letters, compared as the file
// system compares names (ordinally, every script's letters folded).
bool SamePath(const wchar_t* a, const wchar_t* b)
{
    return CompareStringOrdinal(a, -1, b, -1, TRUE) == CSTR_EQUAL;
}

// The full path of the source: relative to the current folder if it is there, else
// where the search path finds it (the system folder for "shell32.dll"). A source with
// environment references ("%SystemRoot%\system32\imageres.dll") is kept as written, as
// Windows stores such paths, when its expansion is the full path of an existing file.
bool ResolveSource(const std::wstring& given, wchar_t (&out)[TextCapacity])
{
    wchar_t expanded[TextCapacity];
    if (!ExpandIconPath(given.c_str(), expanded))
        return false;
    wchar_t full[MAX_PATH + 1] = {};
    DWORD length = GetFullPathNameW(expanded, static_cast<DWORD>(std::size(full)), full, nullptr);
    if (length > 0 && length < TextCapacity && IsExistingFile(full)) {
        const bool written = given != expanded && SamePath(full, expanded);
        return CopyText(out, std::size(out), written ? given.c_str() : full);
    }
    length = SearchPathW(nullptr, expanded, nullptr, static_cast<DWORD>(std::size(full)), full, nullptr);
    if (length > 0 && length < TextCapacity && IsExistingFile(full))
        return CopyText(out, std::size(out), full);
    return false;
}

// "SOURCE[,INDEX]" split at its last comma when what follows is a whole index.
bool SplitChoiceText(const wchar_t* text, std::wstring* source, std::int32_t* index, std::wstring* error)
{
    *source = text;
    *index = 0;
    const std::size_t comma = source->rfind(L',');
    if (comma != std::wstring::npos) {
        const WholeIndex read = ParseWholeIndex(std::wstring_view(*source).substr(comma + 1), index);
        if (read == WholeIndex::OutOfRange) {
            *error = L"icon index " + source->substr(comma + 1) + L" is out of range";
            return false;
        }
        if (read == WholeIndex::Number)
            source->resize(comma);
    }
    if (source->empty()) {
        *error = L"no icon source given";
        return false;
    }
    if (source->size() >= TextCapacity) {
        *error = L"icon source path is too long (at most 259 characters): " + *source;
        return false;
    }
    return true;
}

// Whether the source (shown as `source`, read from `file`, its expansion) holds a readable
// icon with that index.
bool CheckChosenIcon(const wchar_t* source, const wchar_t* file, std::int32_t index, std::wstring* error)
{
    // A damaged icon file is refused before anything of the platform reads it: its
    // parser trusts the file's directory.
    const IconFileState iconFile = CheckIconFile(file);
    if (iconFile == IconFileState::Damaged) {
        *error = std::wstring(L"icon source ") + source + L" is a damaged icon file: its directory does not fit the file";
        return false;
    }
    const unsigned count = CountIcons(file);
    if (count == 0) {
        *error = std::wstring(L"icon source holds no icons: ") + source;
        return false;
    }
    // Negative indexes name icon resources by id, which the count says nothing about;
    // an icon file holds no resources, so it has no ids.
    if (index < 0 && iconFile == IconFileState::IconFile) {
        *error = std::wstring(L"icon source ") + source + L" is an icon file, which has no resource ids; index " +
                 std::to_wstring(index) + L" names none (give 0 to " + std::to_wstring(count - 1) + L")";
        return false;
    }
    if (index >= 0 && static_cast<unsigned>(index) >= count) {
        *error = std::wstring(L"icon source ") + source + L" holds " + std::to_wstring(count) + L" icons; index " +
                 std::to_wstring(index) + L" is beyond them (0 to " + std::to_wstring(count - 1) + L")";
        return false;
    }
    // The count comes from the file's directory alone; a damaged file can claim icons it
    // does not hold. The chosen one must really load (a negative index names a resource id).
    HICON icon = nullptr;
    if (ExtractIconExW(file, index, &icon, nullptr, 1) == 0 || icon == nullptr) {
        *error = std::wstring(L"icon source ") + source + L": icon " + std::to_wstring(index) + L" cannot be read";
        return false;
    }
    DestroyIcon(icon);
    return true;
}


} // namespace

bool ParseIconChoice(const wchar_t* text, IconChoice* choice, std::wstring* error)
{
    std::wstring source;
    std::int32_t index = 0;
    if (!SplitChoiceText(text, &source, &index, error))
        return false;
    if (!ResolveSource(source, choice->Source)) {
        *error = L"icon source not found: " + source;
        return false;
    }
    wchar_t file[TextCapacity];
    if (!ExpandIconPath(choice->Source, file)) {
        *error = std::wstring(L"icon source path is too long once expanded: ") + choice->Source;
        return false;
    }
    // A file that another program holds open, sharing it with nobody, would read as one
    // that holds no icons (or no picture).
    const LONG readable = SourceReadStatus(file);
    if (readable != ERROR_SUCCESS) {
        *error = std::wstring(L"icon source ") + choice->Source + L" cannot be read: " + SystemErrorText(readable);
        return false;
    }
    if (IsPictureFile(file)) {
        if (index != 0) {
            *error = std::wstring(L"icon source ") + choice->Source + L" is a picture, which gives one icon (index 0)";
            return false;
        }
        choice->IsPicture = true;
        choice->Index = 0;
        return true;
    }
    if (!CheckChosenIcon(choice->Source, file, index, error))
        return false;
    choice->Index = index;
    return true;
}

} // namespace orvane::cli
