// Small owned registry key and bounded value access. Registry data is never trusted to
// be terminated, to be text, or to fit.
#pragma once

#include <windows.h>

#include <cstdarg>
#include <cstddef>

#include "IconLocation.h"
#include "RegistryNames.h"

namespace orvane {

class RegKey {
public:
    RegKey() = default;
    explicit RegKey(HKEY key) : key_(key) {}
    ~RegKey() { reset(); }
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;
    RegKey(RegKey&& other) noexcept : key_(other.release()) {}
    RegKey& operator=(RegKey&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }

    HKEY get() const { return key_; }
    explicit operator bool() const { return key_ != nullptr; }
    HKEY release()
    {
        HKEY key = key_;
        key_ = nullptr;
        return key;
    }
    void reset(HKEY key = nullptr)
    {
        if (key_ != nullptr)
            RegCloseKey(key_);
        key_ = key;
    }

    // RegOpenKeyExW; the key held before is closed first.
    LONG Open(HKEY root, const wchar_t* path, REGSAM access);
    // RegCreateKeyExW with an empty class, non-volatile, KEY_ALL_ACCESS, default security.
    LONG Create(HKEY root, const wchar_t* path);

private:
    HKEY key_ = nullptr;
};

// Registry key names have at most 255 characters; a longer name never names a key.
constexpr std::size_t MaxKeyNameLength = 255;

// Reads a value (null or "" names the default value) as text whatever its type, at
// most outSize characters of data (and never more than RegistryTextLimit bytes), with its registry
// type when type is given. ERROR_FILE_NOT_FOUND when there is no value; ERROR_MORE_DATA
// when it does not fit with a terminating zero; out and type are untouched unless the
// read succeeds. Environment references stay as they are.
LONG QueryTextValue(HKEY key, const wchar_t* valueName, wchar_t* out, std::size_t outSize, DWORD* type = nullptr);
// The same, true when the read succeeds.
bool ReadTextValue(HKEY key, const wchar_t* valueName, wchar_t* out, std::size_t outSize);
// The same for a value that must be a string (REG_SZ or REG_EXPAND_SZ), as icon locations,
// their backups and the per-file table's entries are: a value of any other type is none
// (out untouched), since its bytes read as text would name an icon nobody chose.
bool ReadStringValue(HKEY key, const wchar_t* valueName, wchar_t* out, std::size_t outSize);
// Whether a value of this registry type holds text.
inline bool IsStringType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ; }

// Stores text with its terminating zero counted: as REG_EXPAND_SZ when type says so, so
// that a text read from an expandable value goes back expandable (%SystemRoot%...), and
// as REG_SZ for any other type (what is no string is written back as the text it was
// read as).
LONG WriteTextValue(HKEY key, const wchar_t* valueName, const wchar_t* text, DWORD type = REG_SZ);

// Writes the short (or long) text form of a location as a REG_SZ value. Refuses with
// ERROR_FILENAME_EXCED_RANGE, writing nothing, when the text would exceed 259 characters.
LONG WriteIconLocationValue(HKEY key, const IconLocation& location, const wchar_t* valueName, bool withTypeKey);

// Formats a key path into out; false (out empty) when it would not fit, so that a long
// name never turns into a truncated path that names another key.
bool FormatKeyPath(wchar_t* out, std::size_t outSize, const wchar_t* format, ...);

// True when two names are the same to the registry: compared ordinally without regard to
// case, as the registry compares key names (and as class identifiers and paths compare).
// Texts too long to convert are never the same.
bool SameKeyName(const wchar_t* a, const wchar_t* b);

// A status that means "there was nothing to delete" counts as success for deletions.
inline LONG DeletionStatus(LONG status)
{
    return status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND ? ERROR_SUCCESS : status;
}

} // namespace orvane
