// What the tests of targets share: the dialog's steps on a target, and a fixture with a
// file type of its own, the product's keys, the Folder class icon and the shell's
// DriveIcons key, all put back afterwards.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <iterator>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ClassIconHandler.h"
#include "DriveIcons.h"
#include "ExtensionIdentity.h"
#include "FileIconTable.h"
#include "FileTypeIcons.h"
#include "FolderIcons.h"
#include "IconTarget.h"
#include "Registry.h"
#include "RegistryNames.h"
#include "RemoveAll.h"
#include "ScratchRegistry.h"
#include "TestSupport.h"
#include "UnicodeNames.h"

using namespace orvane;
using test::ProductRoot;
using test::DesktopIniText;
using test::FolderClassIconKey;
using test::FolderClassIconText;
using test::Contains;
using test::ReadFileText;
using test::Lower;
using test::ShellIconLocation;
using test::ValueText;


inline bool WriteWhole(const std::wstring& path, const std::string& bytes)
{
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const bool done = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                      written == bytes.size();
    CloseHandle(file);
    return done;
}

// What the dialog does when it opens on a path.
inline IconTarget OpenDialog(const std::wstring& path) { return OpenTarget(path.c_str()); }

// The same with "all files of this type" ticked.
inline IconTarget OpenDialogForType(const std::wstring& path)
{
    IconTarget target = OpenDialog(path);
    target.SetAllOfType(true);
    return target;
}

// What the dialog does on OK: the chosen source and index, then ApplyIcon.
inline ChangeResult Choose(IconTarget& target, const std::wstring& iconPath, std::int32_t index)
{
    if (!target.SetCurrentIconPath(iconPath.c_str()))
        return ChangeResult::PathTooLong;
    target.SetCurrentIndex(index);
    return target.ApplyIcon();
}

// The dialog opened on a path and closed with OK on the chosen icon.
inline ChangeResult ApplyTo(const std::wstring& path, const std::wstring& iconPath, std::int32_t index)
{
    IconTarget target = OpenDialog(path);
    return Choose(target, iconPath, index);
}

// The same with "all files of this type" ticked.
inline ChangeResult ApplyToType(const std::wstring& path, const std::wstring& iconPath, std::int32_t index)
{
    IconTarget target = OpenDialogForType(path);
    return Choose(target, iconPath, index);
}

inline std::wstring Upper(std::wstring text)
{
    for (wchar_t& c : text)
        c = static_cast<wchar_t>(c >= L'a' && c <= L'z' ? c - L'a' + L'A' : c);
    return text;
}

// A file type of the test's own (extension and the class the system would derive from
// it), the product's keys, the Folder class icon and the shell's DriveIcons key, all put
// back afterwards; a temporary folder for files and icon libraries.
class IconTargetTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(test::DeleteKeyTree(HKEY_LOCAL_MACHINE, ProductRoot));
        ASSERT_TRUE(test::DeleteKeyTree(HKEY_LOCAL_MACHINE, DriveIconsKey));
        ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, FolderClassIconKey, L"", FolderClassIconText));
        typeIcon_ = test::WriteIconFile(dir_.Path() + L"\\type.ico", 8);
        library_ = test::WriteIconFile(dir_.Path() + L"\\library.ico", 12);
    }

    // The extension names the class, whose DefaultIcon holds `icon` (none: no DefaultIcon).
    void MakeType(const std::wstring& icon)
    {
        ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, ext_, L"", class_));
        if (!icon.empty()) {
            ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, class_ + L"\\DefaultIcon", L"", icon));
        }
    }

    std::wstring File(const std::wstring& stem) { return dir_.MakeFile(stem + ext_); }
    std::wstring ClassValue(const std::wstring& subkey, const wchar_t* name = L"")
    {
        return ValueText(HKEY_CLASSES_ROOT, class_ + (subkey.empty() ? L"" : L"\\" + subkey), name);
    }
    std::wstring TableValue(const std::wstring& file)
    {
        return ValueText(HKEY_LOCAL_MACHINE, FileIconsKey, file.c_str());
    }
    IconLocation ClassRecord() { return test::LocationOf(type_); }

    test::ScratchType type_{false};
    const std::wstring& ext_ = type_.Extension;
    const std::wstring& class_ = type_.Class;
    test::TempDir dir_;
    std::wstring typeIcon_;
    std::wstring library_;

private:
    test::KeyGuard product_{HKEY_LOCAL_MACHINE, ProductRoot};
    test::KeyGuard drives_{HKEY_LOCAL_MACHINE, DriveIconsKey};
    test::KeyGuard folderClass_{HKEY_CLASSES_ROOT, FolderClassIconKey};
};
