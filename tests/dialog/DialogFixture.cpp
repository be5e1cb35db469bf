#include "DialogFixture.h"

#include <aclapi.h>

#include <cstdio>

namespace orvane::test {

ReadOnlyKey::ReadOnlyKey(HKEY root, std::string path) : root_(root), path_(std::move(path))
{
    HKEY key;
    if (RegOpenKeyExA(root_, path_.c_str(), 0, READ_CONTROL | WRITE_DAC, &key) != ERROR_SUCCESS)
        return;
    PACL dacl = nullptr;
    if (GetSecurityInfo(key, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                        &original_) == ERROR_SUCCESS) {
        originalDacl_ = dacl;
        BYTE sid[SECURITY_MAX_SID_SIZE];
        DWORD sidSize = sizeof sid;
        EXPLICIT_ACCESS_A access{};
        access.grfAccessPermissions = KEY_READ;
        access.grfAccessMode = SET_ACCESS;
        access.grfInheritance = NO_INHERITANCE;
        access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
        access.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
        access.Trustee.ptstrName = reinterpret_cast<char*>(sid);
        PACL readOnly = nullptr;
        if (CreateWellKnownSid(WinWorldSid, nullptr, sid, &sidSize) &&
            SetEntriesInAclA(1, &access, nullptr, &readOnly) == ERROR_SUCCESS) {
            applied_ = SetSecurityInfo(key, SE_REGISTRY_KEY,
                                       DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                                       nullptr, readOnly, nullptr) == ERROR_SUCCESS;
            LocalFree(readOnly);
        }
    }
    RegCloseKey(key);
}

ReadOnlyKey::~ReadOnlyKey()
{
    HKEY key;
    if (applied_ && RegOpenKeyExA(root_, path_.c_str(), 0, WRITE_DAC, &key) == ERROR_SUCCESS) {
        SetSecurityInfo(key, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION,
                        nullptr, nullptr, originalDacl_, nullptr);
        RegCloseKey(key);
    }
    if (original_ != nullptr)
        LocalFree(original_);
}

std::string DialogTest::NewType(const char* defaultIcon, std::string* className)
{
    const std::string ext = UniqueName(".");
    const std::string cls = ext.substr(1) + "file";
    typeGuards_.push_back(std::make_unique<KeyGuard>(HKEY_CLASSES_ROOT, ext));
    typeGuards_.push_back(std::make_unique<KeyGuard>(HKEY_CLASSES_ROOT, cls));
    if (defaultIcon != nullptr) {
        WriteString(HKEY_CLASSES_ROOT, ext, nullptr, cls);
        WriteString(HKEY_CLASSES_ROOT, cls + "\\DefaultIcon", nullptr, defaultIcon);
    }
    if (className != nullptr)
        *className = cls;
    return ext;
}

void DialogTest::SetTarget(ChangeIconDialog& record, const std::string& path)
{
    ASSERT_TRUE(CopyText(record.TargetPath, sizeof record.TargetPath, path.c_str()));
}

std::string DialogTest::IconFile(const char* name) { return WriteIconFile(dir_.Path() + "\\" + name, 1); }

std::string DialogTest::Value(HKEY root, const std::string& path, const char* name)
{
    std::string text;
    if (!ReadValue(root, path, name, &text))
        return "<none>";
    return text;
}

std::string DialogTest::RectText(HWND window)
{
    RECT r{};
    GetWindowRect(window, &r);
    char text[64];
    std::snprintf(text, sizeof text, "%ld,%ld,%ld,%ld", r.left, r.top, r.right - r.left, r.bottom - r.top);
    return text;
}

std::vector<std::string> DialogTest::StoredSources(DWORD* selection)
{
    std::vector<std::string> entries;
    for (int i = 0;; ++i) {
        std::string text;
        DWORD type = 0;
        if (!ReadValue(HKEY_CURRENT_USER, UserLruKey, std::to_string(i).c_str(), &text, &type))
            break;
        EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
        entries.push_back(text);
    }
    if (selection != nullptr) {
        std::vector<BYTE> data;
        DWORD type = 0;
        *selection = static_cast<DWORD>(-2);
        HKEY key;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, UserLruKey, 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
            DWORD value = 0, size = sizeof value;
            if (RegQueryValueExA(key, "CurSel", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) ==
                    ERROR_SUCCESS &&
                type == REG_DWORD && size == sizeof value)
                *selection = value;
            RegCloseKey(key);
        }
    }
    return entries;
}

void DialogTest::StoreSources(const std::vector<std::string>& entries, DWORD selection)
{
    for (size_t i = 0; i < entries.size(); ++i)
        WriteString(HKEY_CURRENT_USER, UserLruKey, std::to_string(i).c_str(), entries[i]);
    WriteValue(HKEY_CURRENT_USER, UserLruKey, "CurSel", REG_DWORD, &selection, sizeof selection);
}

} // namespace orvane::test
