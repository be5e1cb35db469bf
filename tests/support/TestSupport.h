// Helpers that let every test put back what it changed: a registry key snapshot that is
// restored whole when the guard goes, and a temporary folder removed with its contents.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

namespace orvane::test {

// The product's own key, under HKEY_LOCAL_MACHINE (tables) and HKEY_CURRENT_USER (dialog state).
inline constexpr char ProductRoot[] = "Software\\Brindlewick Software";

// Captures root\path (values and subkeys, recursively) and on destruction deletes the key
// and writes the captured tree back; a key that did not exist is deleted.
class KeyGuard {
public:
    KeyGuard(HKEY root, std::string path);
    ~KeyGuard();
    KeyGuard(const KeyGuard&) = delete;
    KeyGuard& operator=(const KeyGuard&) = delete;

    struct Value {
        std::string Name;
        DWORD Type = 0;
        std::vector<BYTE> Data;
    };
    struct Tree {
        std::vector<Value> Values;
        std::vector<std::pair<std::string, std::unique_ptr<Tree>>> Subkeys;
    };

private:
    HKEY root_;
    std::string path_;
    std::unique_ptr<Tree> saved_; // null: the key did not exist
};

// Deletes root\path with everything below it; true when it is gone afterwards.
bool DeleteKeyTree(HKEY root, const std::string& path);
bool KeyExists(HKEY root, const std::string& path);
// Reads a value's data exactly as stored (a string's terminators included); false when
// the value cannot be read.
bool ReadRaw(HKEY root, const std::string& path, const char* name, std::vector<BYTE>* data, DWORD* type);
// Reads a value as raw text, without the terminators of a string; false when it cannot
// be read.
bool ReadValue(HKEY root, const std::string& path, const char* name, std::string* text, DWORD* type = nullptr);
// Writes raw bytes of any type, creating the key.
bool WriteValue(HKEY root, const std::string& path, const char* name, DWORD type, const void* data, DWORD size);
bool WriteString(HKEY root, const std::string& path, const char* name, const std::string& text);
// The value as text (see ReadValue), or "<none>" when it cannot be read.
std::string ValueText(HKEY root, const std::string& path, const char* name = nullptr, DWORD* type = nullptr);

// The whole tree below root\path as text (names, types and raw data, sorted the way the
// registry compares names); "(missing)" when the key does not exist.
std::string DumpKey(HKEY root, const std::string& path);

// Gives a key a DACL that lets everyone read it and nobody write it, as a class under
// HKEY_LOCAL_MACHINE is for a user without administrator rights (or another DACL given
// in SDDL). Wine checks registry access against the key's DACL; the key's own DACL is
// put back when the object goes (the owner may always change it).
class ReadOnlyKey {
public:
    ReadOnlyKey(HKEY root, std::string path, const char* dacl = "D:P(A;;KR;;;WD)", REGSAM view = 0);
    ~ReadOnlyKey();
    ReadOnlyKey(const ReadOnlyKey&) = delete;
    ReadOnlyKey& operator=(const ReadOnlyKey&) = delete;
    bool Applied() const { return applied_ && !saved_.empty(); }

private:
    HKEY root_;
    std::string path_;
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
    explicit StandardUser(const std::vector<std::string>& classes = {});
    ~StandardUser();
    StandardUser(const StandardUser&) = delete;
    StandardUser& operator=(const StandardUser&) = delete;
    // Every lock took hold.
    bool Applied() const { return applied_; }

private:
    void LockTree(HKEY root, const std::string& path, REGSAM view);
    std::vector<std::unique_ptr<ReadOnlyKey>> locks_;
    std::vector<std::string> created_;
    bool applied_ = true;
};

// A fresh folder under the temporary directory, removed with all its contents (and any
// attributes the test gave them) when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return path_; }
    // Creates a file (and its parent folders) below the folder; returns its full path.
    std::string MakeFile(const std::string& relative, const std::string& content = "x");
    std::string MakeFolder(const std::string& relative);

private:
    std::string path_;
};

// A name no other test uses, such as ".orvt1a2b3c" for an extension or "orvt1a2b3cfile".
std::string UniqueName(const char* prefix);

// A file extension and the class the system would name for it ("<extension>file") that
// no other test uses; both keys are put back (that is, removed) when the test ends.
// Registered: the extension names the class, which has a description.
struct ScratchType {
    std::string Extension = UniqueName(".");
    std::string Class = Extension.substr(1) + "file";
    KeyGuard ExtensionGuard{HKEY_CLASSES_ROOT, Extension};
    KeyGuard ClassGuard{HKEY_CLASSES_ROOT, Class};
    // The same keys in this user's classes, and this user's choice of class for the
    // extension, so that what a test (or a change made for this user) puts there goes.
    KeyGuard UserExtensionGuard{HKEY_CURRENT_USER, "Software\\Classes\\" + Extension};
    KeyGuard UserClassGuard{HKEY_CURRENT_USER, "Software\\Classes\\" + Class};
    KeyGuard UserChoiceGuard{HKEY_CURRENT_USER,
                             "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\" + Extension};

    explicit ScratchType(bool registered = true, const char* description = "Scratch document");
    ScratchType(const ScratchType&) = delete;
    ScratchType& operator=(const ScratchType&) = delete;
    std::string Key(const char* subkey) const { return Class + "\\" + subkey; }
    void SetDefaultIcon(const std::string& text, DWORD type = REG_SZ) const;
    void SetHandler(const std::string& text) const;
    std::string Dump() const { return DumpKey(HKEY_CLASSES_ROOT, Class); }
};

// A file's whole content, or "<none>" when it cannot be opened.
std::string ReadFileText(const std::string& path);
inline bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The text with ASCII letters in lower case, for paths that compare without regard to case.
std::string Lower(std::string text);

// What the platform's shell reports as the icon of a path: "path,index" with the path as
// the shell gives it, or "<none>". With `announce` the shell is first told that file
// associations changed, as Explorer is after a type's icon changes.
std::string ShellIconLocation(const std::string& path, bool announce = true);

// Path of the system's shell32.dll (184 icons in Wine's), an icon library every
// prefix has.
std::string Shell32Path();

// Writes a small .ico file with `count` images (16x16, 32 bpp) and returns its path.
std::string WriteIconFile(const std::string& path, int count = 1);

} // namespace orvane::test
