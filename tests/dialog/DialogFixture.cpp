#include "DialogFixture.h"

#include "FolderIcons.h"

#include <iterator>

namespace orvane::test {

std::wstring DialogTest::NewType(const wchar_t* defaultIcon, std::wstring* className)
{
    types_.push_back(std::make_unique<ScratchType>(false));
    const std::wstring& ext = types_.back()->Extension;
    const std::wstring& cls = types_.back()->Class;
    if (defaultIcon != nullptr) {
        WriteString(HKEY_CLASSES_ROOT, ext, nullptr, cls);
        WriteString(HKEY_CLASSES_ROOT, cls + L"\\DefaultIcon", nullptr, defaultIcon);
    }
    if (className != nullptr)
        *className = cls;
    return ext;
}

std::wstring DialogTest::FileOfNewType(const std::wstring& stem, std::wstring* extension, std::wstring* className,
                                       std::wstring* icon)
{
    const std::wstring ico = IconFile();
    const std::wstring ext = NewType((ico + L",0").c_str(), className);
    if (extension != nullptr)
        *extension = ext;
    if (icon != nullptr)
        *icon = ico;
    return dir_.MakeFile(stem + ext);
}

void DialogTest::SetTarget(ChangeIconDialog& record, const std::wstring& path)
{
    ASSERT_TRUE(CopyText(record.TargetPath, std::size(record.TargetPath), path.c_str()));
}

DialogRun DialogTest::RunOn(ChangeIconDialog& record, const std::wstring& path,
                            const std::function<void(DialogDriver&)>& script)
{
    SetTarget(record, path);
    return RunDriven(record, script);
}

std::wstring DialogTest::IconFile(const wchar_t* name) { return WriteIconFile(dir_.Path() + L"\\" + name, 1); }

std::wstring DialogTest::FolderIconText(const std::wstring& folder)
{
    const auto icon = ReadFolderIcon(folder.c_str());
    if (!icon)
        return L"<none>";
    return std::wstring(icon->IconPath) + L"," + std::to_wstring(icon->Index);
}

std::wstring DialogTest::RectText(HWND window)
{
    RECT r{};
    GetWindowRect(window, &r);
    return std::to_wstring(r.left) + L"," + std::to_wstring(r.top) + L"," + std::to_wstring(r.right - r.left) + L"," +
           std::to_wstring(r.bottom - r.top);
}

std::vector<std::wstring> DialogTest::StoredSources(DWORD* selection)
{
    std::vector<std::wstring> entries;
    for (int i = 0;; ++i) {
        std::wstring text;
        DWORD type = 0;
        if (!ReadValue(HKEY_CURRENT_USER, UserLruKey, std::to_wstring(i).c_str(), &text, &type))
            break;
        EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
        entries.push_back(text);
    }
    if (selection != nullptr) {
        DWORD type = 0;
        *selection = static_cast<DWORD>(-2);
        HKEY key;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, UserLruKey, 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
            DWORD value = 0, size = sizeof value;
            if (RegQueryValueExW(key, L"CurSel", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) ==
                    ERROR_SUCCESS &&
                type == REG_DWORD && size == sizeof value)
                *selection = value;
            RegCloseKey(key);
        }
    }
    return entries;
}

void DialogTest::StoreSources(const std::vector<std::wstring>& entries, DWORD selection)
{
    for (size_t i = 0; i < entries.size(); ++i)
        WriteString(HKEY_CURRENT_USER, UserLruKey, std::to_wstring(i).c_str(), entries[i]);
    WriteValue(HKEY_CURRENT_USER, UserLruKey, L"CurSel", REG_DWORD, &selection, sizeof selection);
}

} // namespace orvane::test
