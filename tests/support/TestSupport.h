// Helpers that let every test put back what it changed: a registry key snapshot that is
// restored whole when the guard goes, and a temporary folder removed with its contents.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

namespace orvane::test {

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
// Reads a value as raw text (no limit beyond 64 KiB); empty optional-like: found false.
bool ReadValue(HKEY root, const std::string& path, const char* name, std::string* text, DWORD* type = nullptr);
// Writes raw bytes of any type, creating the key.
bool WriteValue(HKEY root, const std::string& path, const char* name, DWORD type, const void* data, DWORD size);
bool WriteString(HKEY root, const std::string& path, const char* name, const std::string& text);

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

// Writes a small .ico file with `count` images (16x16, 32 bpp) and returns its path.
std::string WriteIconFile(const std::string& path, int count = 1);

} // namespace orvane::test
