// Registry scaffolding for the store's tests: a key tree written out as text, a scratch
// file class, and a key made read-only as for a user without administrator rights.
#pragma once

#include <windows.h>
#include <sddl.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "IconLocation.h"
#include "TestSupport.h"

namespace orvane::test {

inline constexpr char OwnClsid[] = "{7DFE5A1E-6382-4105-8133-F1D53ACA35A0}";
inline constexpr char OtherClsid[] = "{0A1B2C3D-4E5F-4061-8273-94A5B6C7D8E9}";

inline bool LessIgnoringCase(const std::string& a, const std::string& b)
{
    return _stricmp(a.c_str(), b.c_str()) < 0;
}

inline void DumpOpenKey(HKEY key, const std::string& indent, std::string& out)
{
    std::vector<std::string> values;
    for (DWORD i = 0;; ++i) {
        char name[16384];
        DWORD nameSize = sizeof name;
        DWORD type = 0;
        DWORD dataSize = 0;
        if (RegEnumValueA(key, i, name, &nameSize, nullptr, &type, nullptr, &dataSize) != ERROR_SUCCESS)
            break;
        std::vector<BYTE> data(dataSize + 1);
        DWORD size = dataSize;
        RegQueryValueExA(key, name, nullptr, &type, data.data(), &size);
        std::string line = indent + "value [" + std::string(name, nameSize) + "] type " + std::to_string(type) + " data";
        for (DWORD b = 0; b < size && b < dataSize; ++b) {
            char hex[4];
            std::snprintf(hex, sizeof hex, " %02x", data[b]);
            line += hex;
        }
        values.push_back(line + "\n");
    }
    std::sort(values.begin(), values.end(), LessIgnoringCase);
    for (const auto& line : values)
        out += line;

    std::vector<std::string> subkeys;
    for (DWORD i = 0;; ++i) {
        char name[512];
        DWORD nameSize = sizeof name;
        if (RegEnumKeyExA(key, i, name, &nameSize, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        subkeys.emplace_back(name, nameSize);
    }
    std::sort(subkeys.begin(), subkeys.end(), LessIgnoringCase);
    for (const auto& name : subkeys) {
        out += indent + "key [" + name + "]\n";
        HKEY sub = nullptr;
        if (RegOpenKeyExA(key, name.c_str(), 0, KEY_READ, &sub) == ERROR_SUCCESS) {
            DumpOpenKey(sub, indent + "  ", out);
            RegCloseKey(sub);
        } else {
            out += indent + "  (cannot open)\n";
        }
    }
}

// The whole tree below root\path as text (names, types and raw data, sorted the way
// the registry compares names); "(missing)" when the key does not exist.
inline std::string DumpKey(HKEY root, const std::string& path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return "(missing)\n";
    std::string out;
    DumpOpenKey(key, "", out);
    RegCloseKey(key);
    return out;
}

// A file class and its extension that no other test uses; both keys are put back
// (that is, removed) when the test ends.
struct ScratchType {
    std::string Extension = UniqueName(".");
    std::string Class = UniqueName("") + "file";
    KeyGuard ExtensionGuard{HKEY_CLASSES_ROOT, Extension};
    KeyGuard ClassGuard{HKEY_CLASSES_ROOT, Class};

    explicit ScratchType(bool registered = true)
    {
        if (registered) {
            WriteString(HKEY_CLASSES_ROOT, Extension, nullptr, Class);
            WriteString(HKEY_CLASSES_ROOT, Class, nullptr, "Scratch document");
        }
    }
    orvane::IconLocation Location() const
    {
        orvane::IconLocation location;
        location.SetTypeKey(Class.c_str());
        location.SetOwner(Extension.c_str());
        return location;
    }
    std::string Key(const char* subkey) const { return Class + "\\" + subkey; }
    void SetDefaultIcon(const std::string& text, DWORD type = REG_SZ) const
    {
        WriteValue(HKEY_CLASSES_ROOT, Key("DefaultIcon"), nullptr, type, text.c_str(), static_cast<DWORD>(text.size() + 1));
    }
    void SetHandler(const std::string& text) const
    {
        WriteString(HKEY_CLASSES_ROOT, Key("shellex\\IconHandler"), nullptr, text);
    }
    std::string Dump() const { return DumpKey(HKEY_CLASSES_ROOT, Class); }
};

// Gives a key a DACL that lets everyone read it and nobody write it, as a class under
// HKEY_LOCAL_MACHINE is for a user without administrator rights (or another DACL given
// in SDDL); the key's own DACL is put back when the object goes (the owner may always
// change it).
class ReadOnlyKey {
public:
    ReadOnlyKey(HKEY root, const std::string& path, const char* dacl = "D:P(A;;KR;;;WD)") : root_(root), path_(path)
    {
        HKEY key = nullptr;
        if (RegOpenKeyExA(root_, path_.c_str(), 0, READ_CONTROL | WRITE_DAC, &key) != ERROR_SUCCESS)
            return;
        DWORD size = 0;
        RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, nullptr, &size);
        saved_.resize(size);
        if (size == 0 || RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, saved_.data(), &size) != ERROR_SUCCESS)
            saved_.clear();
        PSECURITY_DESCRIPTOR readOnly = nullptr;
        if (ConvertStringSecurityDescriptorToSecurityDescriptorA(dacl, SDDL_REVISION_1, &readOnly, nullptr)) {
            applied_ = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, readOnly) == ERROR_SUCCESS;
            LocalFree(readOnly);
        }
        RegCloseKey(key);
    }
    ~ReadOnlyKey()
    {
        HKEY key = nullptr;
        if (RegOpenKeyExA(root_, path_.c_str(), 0, WRITE_DAC, &key) != ERROR_SUCCESS)
            return;
        if (!saved_.empty()) {
            RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, saved_.data());
        } else if (applied_) {
            PSECURITY_DESCRIPTOR open = nullptr;
            if (ConvertStringSecurityDescriptorToSecurityDescriptorA("D:(A;;KA;;;WD)", SDDL_REVISION_1, &open, nullptr)) {
                RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, open);
                LocalFree(open);
            }
        }
        RegCloseKey(key);
    }
    ReadOnlyKey(const ReadOnlyKey&) = delete;
    ReadOnlyKey& operator=(const ReadOnlyKey&) = delete;
    bool Applied() const { return applied_ && !saved_.empty(); }

private:
    HKEY root_;
    std::string path_;
    std::vector<BYTE> saved_;
    bool applied_ = false;
};

} // namespace orvane::test
