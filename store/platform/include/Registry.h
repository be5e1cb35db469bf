// Small owned registry key and bounded value access. Registry data is never trusted to
// be terminated, to be text, or to fit.
#pragma once

#include <windows.h>

#include <cstdarg>
#include <cstddef>
#include <cwchar>
#include <optional>
#include <string>
#include <vector>

#include "IconLocation.h"

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
// Whether a text may name a key: one to 255 characters.
inline bool CanNameKey(const wchar_t* name)
{
    return name != nullptr && name[0] != L'\0' && wcsnlen(name, MaxKeyNameLength + 1) <= MaxKeyNameLength;
}

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

// Reads a value that WriteIconLocationValue (or the shell) wrote and parses it as the
// short or long form. A named value is one this system keeps beside the shell's own and
// is only ever a string: one of another type is none, since its bytes read as text would
// name an icon nobody chose. A key's default value (DefaultIcon's, or a backup of one) is
// read as text whatever its type, as the shell reads it. None when there is no such
// value, it does not fit into 259 characters, or it does not parse.
std::optional<IconLocation> ReadIconLocationValue(HKEY key, const wchar_t* valueName, bool withTypeKey);

// Creates (or opens) root\path and sets one of its values (null: the default value),
// as WriteTextValue stores it.
LONG CreateKeyWithText(HKEY root, const wchar_t* path, const wchar_t* valueName, const wchar_t* text,
                       DWORD type = REG_SZ);

// Whether root\path opens for reading its values; view adds KEY_WOW64_32KEY or
// KEY_WOW64_64KEY to look at the other program view's keys.
bool KeyExists(HKEY root, const wchar_t* path, REGSAM view = 0);
// Whether root\path may be there: only ERROR_FILE_NOT_FOUND says it is not, and a key
// that refuses to open counts as there. For a check whose wrong "missing" would overwrite
// or delete something of this system's.
bool KeyMayExist(HKEY root, const wchar_t* path);

// The names of a key's values, in the registry's order, each shorter than TextCapacity: a
// longer name names no path of ours and is skipped. Empty when the key cannot be opened;
// the names read so far when the registry fails part way.
std::vector<std::wstring> ReadValueNames(HKEY root, const wchar_t* path);

// The numbers of subkeys and values of an open key: RegQueryInfoKeyW's status, the counts
// set only when it succeeds.
LONG CountKeyContents(HKEY key, DWORD& subkeys, DWORD& values);
// Whether an open key holds neither values nor subkeys; a key that cannot be asked holds
// something.
bool IsEmptyKey(HKEY key);

enum class KeyContent { Missing, Empty, Held };
// What root\path holds, asked through a handle opened for KEY_QUERY_VALUE. A key that
// is not there (nor its parent) is Missing with ERROR_SUCCESS; a key that cannot be
// opened or asked for another reason gives that failure, with content Held.
LONG QueryKeyContent(HKEY root, const wchar_t* path, KeyContent& content);

// Deletes root\path when it holds nothing at all (opened with KEY_READ); a key that is
// not there counts as deleted, and one that holds anything (or cannot be asked) stays.
LONG DeleteKeyIfEmpty(HKEY root, const wchar_t* path);

// Deletes a value of root\path; a key or value that is not there counts as deleted.
LONG DeleteKeyValue(HKEY root, const wchar_t* path, const wchar_t* valueName);

// Deletes root\path with everything below it; a key that is not there counts as deleted.
LONG DeleteKeyTree(HKEY root, const wchar_t* path);

// Deletes root\base\path and then each of its parents up to (not including) root\base,
// as long as the key has neither values nor subkeys: what a change made for this user
// created around its one value goes with it, and a key that holds anything else stays.
// A key that is already gone counts as removed; the walk goes on to its parent, unless
// walk says that a missing key ends it. At most walk.MostKeys keys are asked.
struct EmptyKeysWalk {
    DWORD MostKeys = MAXDWORD;
    bool MissingEnds = false;
};
LONG RemoveEmptyKeys(HKEY root, const wchar_t* base, const wchar_t* path, EmptyKeysWalk walk = {});

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
