#include "DialogFixture.h"

#include "FolderIcons.h"

#include <cstdio>

namespace orvane::test {

std::string DialogTest::NewType(const char* defaultIcon, std::string* className)
{
    types_.push_back(std::make_unique<ScratchType>(false));
    const std::string& ext = types_.back()->Extension;
    const std::string& cls = types_.back()->Class;
    if (defaultIcon != nullptr) {
        WriteString(HKEY_CLASSES_ROOT, ext, nullptr, cls);
        WriteString(HKEY_CLASSES_ROOT, cls + "\\DefaultIcon", nullptr, defaultIcon);
    }
    if (className != nullptr)
        *className = cls;
    return ext;
}

std::string DialogTest::FileOfNewType(const std::string& stem, std::string* extension, std::string* className,
                                      std::string* icon)
{
    const std::string ico = IconFile();
    const std::string ext = NewType((ico + ",0").c_str(), className);
    if (extension != nullptr)
        *extension = ext;
    if (icon != nullptr)
        *icon = ico;
    return dir_.MakeFile(stem + ext);
}

void DialogTest::SetTarget(ChangeIconDialog& record, const std::string& path)
{
    ASSERT_TRUE(CopyText(record.TargetPath, sizeof record.TargetPath, path.c_str()));
}

DialogRun DialogTest::RunOn(ChangeIconDialog& record, const std::string& path,
                            const std::function<void(DialogDriver&)>& script)
{
    SetTarget(record, path);
    return RunDriven(record, script);
}

std::string DialogTest::IconFile(const char* name) { return WriteIconFile(dir_.Path() + "\\" + name, 1); }

std::string DialogTest::FolderIconText(const std::string& folder)
{
    const auto icon = ReadFolderIcon(folder.c_str());
    if (!icon)
        return "<none>";
    return std::string(icon->IconPath) + "," + std::to_string(icon->Index);
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
