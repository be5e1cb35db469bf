// What the dialog tests share: guards for every key the dialog and the stores may touch,
// a temporary folder, fresh file types, and keys made read-only the way Wine enforces it.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "ChangeIconDialog.h"
#include "DrivenDialog.h"
#include "DriveIcons.h"
#include "RegistryNames.h"
#include "TestSupport.h"

namespace orvane::test {

constexpr const wchar_t UserProductKey[] = L"Software\\Brindlewick Software\\Orvane";
constexpr const wchar_t UserLruKey[] = L"Software\\Brindlewick Software\\Orvane\\LRU";

class DialogTest : public ::testing::Test {
protected:
    // A new extension and its class ("<ext without dot>file"), both guarded. With an
    // icon text the class gets it as DefaultIcon.
    std::wstring NewType(const wchar_t* defaultIcon, std::wstring* className = nullptr);
    // A file "<stem><extension>" of a new type whose class's icon is icon 0 of a fresh
    // one-icon .ico file; its extension, class and icon file where asked for.
    std::wstring FileOfNewType(const std::wstring& stem, std::wstring* extension, std::wstring* className = nullptr,
                               std::wstring* icon = nullptr);
    // A record for the path, as the context menu makes it.
    static void SetTarget(ChangeIconDialog& record, const std::wstring& path);
    // The record set to `path`, and the dialog run on it while `script` drives it.
    static DialogRun RunOn(ChangeIconDialog& record, const std::wstring& path,
                           const std::function<void(DialogDriver&)>& script);
    // An .ico file with one icon in the temporary folder.
    std::wstring IconFile(const wchar_t* name = L"one.ico");
    // The folder's icon as the folder store reads it, "path,index", or "<none>".
    static std::wstring FolderIconText(const std::wstring& folder);
    // The window rectangle as "DlgSize" states it.
    static std::wstring RectText(HWND window);
    // The recent list as stored: entries "0".. in order, and CurSel (-2 when absent).
    static std::vector<std::wstring> StoredSources(DWORD* selection);
    // Writes the recent list key: the entries and a selection.
    static void StoreSources(const std::vector<std::wstring>& entries, DWORD selection);

    KeyGuard userKey_{HKEY_CURRENT_USER, ProductRoot};
    KeyGuard machineKey_{HKEY_LOCAL_MACHINE, ProductRoot};
    KeyGuard drives_{HKEY_LOCAL_MACHINE, DriveIconsKey};
    TempDir dir_;
    std::wstring shell32_ = Shell32Path();
    std::vector<std::unique_ptr<ScratchType>> types_;
};

} // namespace orvane::test
