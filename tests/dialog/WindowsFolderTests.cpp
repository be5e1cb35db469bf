// The dialog on folders whose Desktop.ini Windows wrote, on sources written with
// environment references, and on icons named by resource id: what it shows as current,
// what OK and Restore write, and what the shell reports afterwards.
#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "DialogDriver.h"
#include "DialogFixture.h"
#include "FolderIcons.h"
#include "IconIdLibrary.h"
#include "IconSources.h"
#include "Registry.h"
#include "RegistryNames.h"
#include "ScopedVariable.h"
#include "WindowsDesktopIni.h"
#include "resource.h"

namespace orvane {
namespace {

using test::DialogDriver;

// Every section and entry of the file but the three icon entries, as written.
std::vector<std::string> OtherLines(const std::wstring& folder)
{
    return test::OtherEntries(test::DesktopIniLines(test::ReadFileText(folder + L"\\Desktop.ini")));
}

// The text as the bytes of an ANSI profile file; the test's paths must fit the code page.
std::string AnsiBytes(const std::wstring& text)
{
    std::string bytes(text.size() * 2 + 1, '\0');
    BOOL lost = FALSE;
    const int size = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.c_str(), static_cast<int>(text.size()),
                                         &bytes[0], static_cast<int>(bytes.size()), nullptr, &lost);
    EXPECT_FALSE(lost) << test::Utf8(text) << " does not fit the ANSI code page";
    bytes.resize(size > 0 ? static_cast<std::size_t>(size) : 0);
    return bytes;
}

int ShellFolderIndex(const std::wstring& folder)
{
    SHFILEINFOW info = {};
    if (SHGetFileInfoW(folder.c_str(), 0, &info, sizeof info, SHGFI_ICONLOCATION) == 0)
        return -1000;
    return info.iIcon;
}

struct Shown {
    std::vector<std::wstring> Sources;
    int SourceSelection = -1;
    int Icons = 0;
    std::vector<int> Selected;
    std::vector<COLORREF> SelectedImage;
};

Shown Look(DialogDriver& d)
{
    Shown shown;
    shown.Sources = d.Sources();
    shown.SourceSelection = d.SourceSelection();
    shown.Icons = d.IconCount();
    shown.Selected = d.SelectedIcons();
    if (shown.Selected.size() == 1) {
        auto images = reinterpret_cast<HIMAGELIST>(
            SendMessageW(d.Item(IDC_ICONLIST), LVM_GETIMAGELIST, LVSIL_NORMAL, 0));
        shown.SelectedImage = test::ImagePixels(images, shown.Selected[0]);
    }
    return shown;
}

class WindowsFolderTest : public test::DialogTest {
protected:
    // The file written into a folder of its name as Windows leaves it: Desktop.ini hidden
    // and system, the folder read-only (which Explorer sets to make it read the file).
    std::wstring FolderWith(const test::WindowsDesktopIni& ini)
    {
        const std::wstring name = std::wstring(ini.Name);
        const std::wstring folder = dir_.MakeFolder(name);
        const std::wstring desktopIni = dir_.MakeFile(name + L"\\Desktop.ini", test::DesktopIniBytes(ini.Text, ini.Utf16));
        SetFileAttributesW(desktopIni.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
        SetFileAttributesW(folder.c_str(), FILE_ATTRIBUTE_READONLY);
        return folder;
    }
    // A folder whose only icon entry is IconResource with the text given, in an ANSI file.
    std::wstring FolderWithResource(const std::wstring& name, const std::wstring& resource)
    {
        const std::wstring folder = dir_.MakeFolder(name);
        dir_.MakeFile(name + L"\\Desktop.ini", "[.ShellClassInfo]\r\nIconResource=" + AnsiBytes(resource) + "\r\n");
        return folder;
    }
    Shown OpenAndCancel(const std::wstring& path)
    {
        ChangeIconDialog record;
        Shown shown;
        const test::DialogRun run = RunOn(record, path, [&](DialogDriver& d) {
            shown = Look(d);
            d.Command(IDCANCEL);
        });
        EXPECT_EQ(run.Result, IDCANCEL);
        return shown;
    }

    std::wstring library_ = test::IconIdLibraryPath();
};

// Wine has no imageres.dll: for the Documents folder %SystemRoot% names a folder of the
// test's own whose system32\imageres.dll is the test library (ids 100, 101, 105, 112), in
// this process only; the other files name Wine's own shell32.dll.
TEST_F(WindowsFolderTest, FilesAsWindowsWritesThemShowApplyAndRestore)
{
    const std::wstring fakeRoot = dir_.MakeFolder(L"root");
    dir_.MakeFolder(L"root\\system32");
    ASSERT_TRUE(CopyFileW(library_.c_str(), (fakeRoot + L"\\system32\\imageres.dll").c_str(), FALSE));
    const int shell32Icons = static_cast<int>(ExtractIconExW(shell32_.c_str(), -1, nullptr, nullptr, 0));
    struct Case {
        const test::WindowsDesktopIni* Ini;
        bool OwnSystemRoot;
        std::wstring Source; // shown as written
        int Icons;
        int Preselected;
        int ExtractIndex; // how the platform itself is asked for the current icon
    } cases[] = {
        {&test::DocumentsIni, true, L"%SystemRoot%\\system32\\imageres.dll", 4, 3, -112},
        {&test::CustomizeTabIni, false, L"C:\\WINDOWS\\System32\\SHELL32.dll", shell32Icons, 3, 3},
        {&test::WindowsXpIni, false, L"%SystemRoot%\\system32\\SHELL32.dll", shell32Icons, 41, 41},
        {&test::UnparsedResourceIni, false, L"%SystemRoot%\\system32\\shell32.dll", shell32Icons, 4, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Ini->Name);
        std::unique_ptr<test::ScopedVariable> root;
        if (c.OwnSystemRoot)
            root = std::make_unique<test::ScopedVariable>(L"SystemRoot", fakeRoot);
        wchar_t expanded[TextCapacity];
        ASSERT_TRUE(ExpandIconPath(c.Source.c_str(), expanded));
        const std::wstring folder = FolderWith(*c.Ini);
        const std::vector<std::string> others = OtherLines(folder);
        const std::wstring entries = test::IconEntries(folder);
        test::DeleteKeyTree(HKEY_CURRENT_USER, test::UserLruKey);
        StoreSources({library_}, 0);

        ChangeIconDialog record;
        Shown shown;
        test::DialogRun run = RunOn(record, folder, [&](DialogDriver& d) {
            shown = Look(d);
            // Another source from the recent list, and one of its icons.
            ASSERT_EQ(d.Sources().size(), 2u);
            d.ChooseSource(1);
            ASSERT_EQ(d.IconCount(), 4);
            d.SelectIcons({2});
            d.Command(IDOK);
        });
        EXPECT_EQ(run.Result, IDOK);
        EXPECT_EQ(shown.Sources, (std::vector<std::wstring>{c.Source, library_}));
        EXPECT_EQ(shown.SourceSelection, 0);
        EXPECT_EQ(shown.Icons, c.Icons);
        EXPECT_EQ(shown.Selected, std::vector<int>{c.Preselected});
        EXPECT_EQ(shown.SelectedImage, test::ExtractedPixels(expanded, c.ExtractIndex));
        EXPECT_EQ(test::IconEntries(folder), test::EntriesNaming(library_ + L",2"));
        EXPECT_EQ(OtherLines(folder), others);
        EXPECT_EQ(ShellFolderIndex(folder), 2);

        ChangeIconDialog again;
        run = RunOn(again, folder, [&](DialogDriver& d) {
            ASSERT_TRUE(d.Visible(IDC_RESTORE));
            d.PostCommand(IDC_RESTORE);
            HWND box = d.WaitWindow(L"Orvane - Restore default Icon");
            ASSERT_NE(box, nullptr);
            DialogDriver::Answer(box, IDYES);
            EXPECT_TRUE(d.WaitClosed());
        });
        EXPECT_EQ(run.Result, IDCANCEL);
        // The entries as Windows wrote them, not the icon shown written into all three.
        EXPECT_EQ(test::IconEntries(folder), entries);
        EXPECT_EQ(OtherLines(folder), others);
        EXPECT_EQ(FolderIconText(folder), c.Ini->Icon);
    }
}

TEST_F(WindowsFolderTest, OkOnTheIconPreselectedByIdWritesItsPositionAndKeepsTheSourceAsWritten)
{
    test::ScopedVariable root(L"SystemRoot", dir_.MakeFolder(L"root"));
    dir_.MakeFolder(L"root\\system32");
    ASSERT_TRUE(CopyFileW(library_.c_str(), (dir_.Path() + L"\\root\\system32\\imageres.dll").c_str(), FALSE));
    const std::wstring folder = FolderWith(test::DocumentsIni);
    ChangeIconDialog record;
    const test::DialogRun run = RunOn(record, folder, [&](DialogDriver& d) {
        ASSERT_EQ(d.SelectedIcons(), std::vector<int>{3});
        d.Command(IDOK);
    });
    EXPECT_EQ(run.Result, IDOK);
    EXPECT_EQ(test::IconEntries(folder), test::EntriesNaming(L"%SystemRoot%\\system32\\imageres.dll,3"));
    DWORD selection = 0;
    EXPECT_EQ(StoredSources(&selection), std::vector<std::wstring>{L"%SystemRoot%\\system32\\imageres.dll"});
    EXPECT_EQ(selection, 0u);
}

TEST_F(WindowsFolderTest, ResourceIdsPreselectTheirGroup)
{
    struct Case {
        int Index;
        int Preselected; // -1: none
    } cases[] = {{-112, 3}, {-105, 2}, {-101, 1}, {-100, 0}, {-999, -1}, {-1, -1}, {3, 3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Index);
        const std::wstring name = L"ids" + std::to_wstring(c.Index < 0 ? -c.Index : c.Index);
        const Shown shown = OpenAndCancel(FolderWithResource(name, library_ + L"," + std::to_wstring(c.Index)));
        EXPECT_EQ(shown.Icons, 4);
        if (c.Preselected < 0) {
            EXPECT_TRUE(shown.Selected.empty());
            continue;
        }
        EXPECT_EQ(shown.Selected, std::vector<int>{c.Preselected});
        EXPECT_EQ(shown.SelectedImage, test::ExtractedPixels(library_, c.Index));
    }

    // A file type's icon named by id in Wine's shell32.dll: the group with id 3.
    const std::wstring ext = NewType((shell32_ + L",-3").c_str());
    const Shown shown = OpenAndCancel(dir_.MakeFile(L"x" + ext));
    const int position = FindIconOfResourceId(shell32_.c_str(), 3);
    ASSERT_GE(position, 0);
    EXPECT_EQ(shown.Selected, std::vector<int>{position});
    EXPECT_EQ(shown.SelectedImage, test::ExtractedPixels(shell32_, -3));
}

TEST_F(WindowsFolderTest, ChoosingTheGroupPreselectedByIdWritesIndexThree)
{
    const std::wstring folder = FolderWithResource(L"chosen", library_ + L",-112");
    ChangeIconDialog record;
    const test::DialogRun run = RunOn(record, folder, [&](DialogDriver& d) {
        d.SelectIcons({0});
        d.SelectIcons({3});
        d.Command(IDOK);
    });
    EXPECT_EQ(run.Result, IDOK);
    EXPECT_EQ(test::IconEntries(folder), test::EntriesNaming(library_ + L",3"));
    EXPECT_EQ(ShellFolderIndex(folder), 3);
    // The backup keeps the id as Windows wrote it, at the start of the value (all that
    // earlier builds read); the entries Windows wrote follow it.
    EXPECT_EQ(std::wstring(test::ValueText(HKEY_LOCAL_MACHINE, FolderBackupKey, folder.c_str()).c_str()),
              library_ + L",-112");
}

TEST_F(WindowsFolderTest, RecentSourceWithAnEnvironmentReferenceListsItsIconsAndStaysAsWritten)
{
    const std::wstring folderOfLibrary = library_.substr(0, library_.find_last_of(L'\\'));
    test::ScopedVariable icons(L"ORVANE_TEST_ICONS", folderOfLibrary);
    const std::wstring written = L"%ORVANE_TEST_ICONS%\\orvane_icon_ids.dll";
    StoreSources({written, L"%ORVANE_TEST_UNSET%\\none.dll"}, 0);
    const std::wstring folder = dir_.MakeFolder(L"Plain");
    ChangeIconDialog record;
    std::vector<std::wstring> sources;
    int icons1 = 0;
    int iconsAfterUnset = 0;
    int selectionAfterUnset = -1;
    const test::DialogRun run = RunOn(record, folder, [&](DialogDriver& d) {
        sources = d.Sources();
        const auto at = std::find(sources.begin(), sources.end(), written);
        ASSERT_NE(at, sources.end());
        const int entry = static_cast<int>(at - sources.begin());
        d.ChooseSource(entry);
        icons1 = d.IconCount();
        // An entry whose reference expands to nothing holds no icons: the list and the
        // shown entry stay.
        d.ChooseSource(entry + 1);
        iconsAfterUnset = d.IconCount();
        selectionAfterUnset = d.SourceSelection();
        EXPECT_EQ(selectionAfterUnset, entry);
        d.SelectIcons({1});
        d.Command(IDOK);
    });
    EXPECT_EQ(run.Result, IDOK);
    EXPECT_EQ(icons1, 4);
    EXPECT_EQ(iconsAfterUnset, 4);
    EXPECT_EQ(test::IconEntries(folder), test::EntriesNaming(written + L",1"));
    EXPECT_EQ(ShellFolderIndex(folder), 1);
    DWORD selection = 0;
    const std::vector<std::wstring> stored = StoredSources(&selection);
    ASSERT_LT(selection, stored.size());
    EXPECT_EQ(stored[selection], written);
    EXPECT_EQ(stored, sources);
}

} // namespace
} // namespace orvane
