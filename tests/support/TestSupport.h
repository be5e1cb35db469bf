// Helpers that let every test put back what it changed: a registry key snapshot that is
// restored whole when the guard goes, and a temporary folder removed with its contents.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

namespace orvane::test {

// The product's own key, under HKEY_LOCAL_MACHINE (tables) and HKEY_CURRENT_USER (dialog state).
inline constexpr wchar_t ProductRoot[] = L"Software\\Brindlewick Software";

// Captures root\path (values and subkeys, recursively) and on destruction deletes the key
// and writes the captured tree back; a key that did not exist is deleted.
class KeyGuard {
public:
    KeyGuard(HKEY root, std::wstring path);
    ~KeyGuard();
    KeyGuard(const KeyGuard&) = delete;
    KeyGuard& operator=(const KeyGuard&) = delete;

    struct Value {
        std::wstring Name;
        DWORD Type = 0;
        std::vector<BYTE> Data;
    };
    struct Tree {
        std::vector<Value> Values;
        std::vector<std::pair<std::wstring, std::unique_ptr<Tree>>> Subkeys;
    };

private:
    HKEY root_;
    std::wstring path_;
    std::unique_ptr<Tree> saved_; // null: the key did not exist
};

// Deletes root\path with everything below it; true when it is gone afterwards.
bool DeleteKeyTree(HKEY root, const std::wstring& path);
bool KeyExists(HKEY root, const std::wstring& path);
// Reads a value's data exactly as stored (a string's terminators included); false when
// the value cannot be read.
bool ReadRaw(HKEY root, const std::wstring& path, const wchar_t* name, std::vector<BYTE>* data, DWORD* type);
// Reads a value as raw text, without the terminators of a string; false when it cannot
// be read.
bool ReadValue(HKEY root, const std::wstring& path, const wchar_t* name, std::wstring* text, DWORD* type = nullptr);
// Writes raw bytes of any type, creating the key.
bool WriteValue(HKEY root, const std::wstring& path, const wchar_t* name, DWORD type, const void* data, DWORD size);
bool WriteString(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& text);
// The value as text (see ReadValue), or "<none>" when it cannot be read.
std::wstring ValueText(HKEY root, const std::wstring& path, const wchar_t* name = nullptr, DWORD* type = nullptr);

// The whole tree below root\path as text (names, types and raw data, sorted the way the
// registry compares names); "(missing)" when the key does not exist.
std::wstring DumpKey(HKEY root, const std::wstring& path);

// Gives a key a DACL that lets everyone read it and nobody write it, as a class under
// HKEY_LOCAL_MACHINE is for a user without administrator rights (or another DACL given
// in SDDL). Wine checks registry access against the key's DACL; the key's own DACL is
// put back when the object goes (the owner may always change it).
class ReadOnlyKey {
public:
    ReadOnlyKey(HKEY root, std::wstring path, const wchar_t* dacl = L"D:P(A;;KR;;;WD)", REGSAM view = 0);
    ~ReadOnlyKey();
    ReadOnlyKey(const ReadOnlyKey&) = delete;
    ReadOnlyKey& operator=(const ReadOnlyKey&) = delete;
    bool Applied() const { return applied_ && !saved_.empty(); }

private:
    HKEY root_;
    std::wstring path_;
    REGSAM view_;
    std::vector<BYTE> saved_;
    bool applied_ = false;
};

// Stands in for a standard user, for as long as it lives: every existing key of all
// users' places refuses writes (Wine runs every program as an administrator). Locked are
// the product's key under HKEY_LOCAL_MACHINE (made first when missing, so that it cannot
// be made either), the shell's DriveIcons key, HKLM\Software\Classes itself (so that no
// class can be added) and, below it, each of the given class keys with every key
// beneath them. The platform checks a key's rights only when that key is opened, so
// product code must ask before it writes; this is what such asking meets on Windows.
class StandardUser {
public:
    explicit StandardUser(const std::vector<std::wstring>& classes = {});
    ~StandardUser();
    StandardUser(const StandardUser&) = delete;
    StandardUser& operator=(const StandardUser&) = delete;
    // Every lock took hold.
    bool Applied() const { return applied_; }

private:
    void LockTree(HKEY root, const std::wstring& path, REGSAM view);
    std::vector<std::unique_ptr<ReadOnlyKey>> locks_;
    std::vector<std::wstring> created_;
    bool applied_ = true;
};

// A fresh folder under the temporary directory, removed with all its contents (and any
// attributes the test gave them) when the object goes.
class TempDir {
public:
    // Below the temporary folder, or below `base` (a drive's root, say) when one is given.
    explicit TempDir(const std::wstring& base = L"");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::wstring& Path() const { return path_; }
    // Creates a file (and its parent folders) below the folder; returns its full path.
    // The content is written as the bytes given.
    std::wstring MakeFile(const std::wstring& relative, const std::string& content = "x");
    std::wstring MakeFolder(const std::wstring& relative);

private:
    std::wstring path_;
};

// A mark of the web on a file: its "Zone.Identifier" stream with `content`, taken away
// again when the mark goes.
class ZoneMark {
public:
    explicit ZoneMark(const std::wstring& file, const std::string& content = "[ZoneTransfer]\r\nZoneId=3\r\n");
    ~ZoneMark();
    ZoneMark(const ZoneMark&) = delete;
    ZoneMark& operator=(const ZoneMark&) = delete;
    bool Written() const { return written_; }

private:
    std::wstring stream_;
    bool written_ = false;
};
bool HasZoneStream(const std::wstring& file);

// The root ("R:\") of a drive that Wine reports as `driveType` (DRIVE_REMOTE,
// DRIVE_REMOVABLE) and that takes files; empty when the prefix has none. The test prefix
// maps one of each (scripts/common.sh).
std::wstring DriveRootOfType(UINT driveType);

// A name no other test uses, such as ".orvt1a2b3c" for an extension or "orvt1a2b3cfile".
std::wstring UniqueName(const wchar_t* prefix);

// A file extension and the class the system would name for it ("<extension>file") that
// no other test uses; both keys are put back (that is, removed) when the test ends.
// Registered: the extension names the class, which has a description.
struct ScratchType {
    std::wstring Extension = UniqueName(L".");
    std::wstring Class = Extension.substr(1) + L"file";
    KeyGuard ExtensionGuard{HKEY_CLASSES_ROOT, Extension};
    KeyGuard ClassGuard{HKEY_CLASSES_ROOT, Class};
    // The same keys in this user's classes, and this user's choice of class for the
    // extension, so that what a test (or a change made for this user) puts there goes.
    KeyGuard UserExtensionGuard{HKEY_CURRENT_USER, L"Software\\Classes\\" + Extension};
    KeyGuard UserClassGuard{HKEY_CURRENT_USER, L"Software\\Classes\\" + Class};
    KeyGuard UserChoiceGuard{HKEY_CURRENT_USER,
                             L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\" + Extension};

    explicit ScratchType(bool registered = true, const wchar_t* description = L"Scratch document");
    ScratchType(const ScratchType&) = delete;
    ScratchType& operator=(const ScratchType&) = delete;
    std::wstring Key(const wchar_t* subkey) const { return Class + L"\\" + subkey; }
    void SetDefaultIcon(const std::wstring& text, DWORD type = REG_SZ) const;
    void SetHandler(const std::wstring& text) const;
    std::wstring Dump() const { return DumpKey(HKEY_CLASSES_ROOT, Class); }
};

// A file's whole content as its bytes, or "<none>" when it cannot be opened.
std::string ReadFileText(const std::wstring& path);
inline bool Contains(const std::wstring& text, const std::wstring& part) { return text.find(part) != std::wstring::npos; }
inline bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// A Desktop.ini's text as the platform's profile functions read it: UTF-16 LE after a
// byte order mark, else in the ANSI code page.
std::wstring DesktopIniText(const std::wstring& path);

// UTF-8 of a text, for messages and byte comparisons; and back.
std::string Utf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);

// The text with ASCII letters in lower case, for paths that compare without regard to case.
std::wstring Lower(std::wstring text);

// What the platform's shell reports as the icon of a path: "path,index" with the path as
// the shell gives it, or "<none>". With `announce` the shell is first told that file
// associations changed, as Explorer is after a type's icon changes.
std::wstring ShellIconLocation(const std::wstring& path, bool announce = true);

// Path of the system's shell32.dll (184 icons in Wine's), an icon library every
// prefix has.
std::wstring Shell32Path();

// Writes a small .ico file with `count` images (16x16, 32 bpp) and returns its path.
std::wstring WriteIconFile(const std::wstring& path, int count = 1);

// The names of the files and folders in a folder, sorted; none when it cannot be listed.
std::vector<std::wstring> FolderContent(const std::wstring& folder);
// Names sorted and joined, each followed by "|": a listing that reads in a failure message.
std::wstring Joined(std::vector<std::wstring> names);

} // namespace orvane::test
