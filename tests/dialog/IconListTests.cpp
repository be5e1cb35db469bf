// FillIconList on the dialog's real list view (the template created modeless), against
// real icon files and Wine's shell32.dll.
#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <iterator>
#include <string>

#include "DialogFixture.h"
#include "DrivenDialog.h"
#include "FolderIcons.h"
#include "IconIdLibrary.h"
#include "IconList.h"
#include "IconSources.h"
#include "TestSupport.h"
#include "UnicodeNames.h"
#include "resource.h"

namespace orvane {
namespace {

using test::DialogDriver;

// A library of `count` icons that show their indexes, beside the test program.
std::wstring NumberedIcons(int count)
{
    std::wstring self(32768, L'\0');
    self.resize(GetModuleFileNameW(nullptr, &self[0], static_cast<DWORD>(self.size())));
    return self.substr(0, self.find_last_of(L'\\') + 1) + L"numbered_icons" + std::to_wstring(count) + L".dll";
}

// Each item the list shows once it has scrolled to `item` and drawn: its text is its
// index, and its image, as the list gives it for drawing, is that icon of the library.
void ExpectShownItemsShowTheirIcons(DialogDriver& d, const std::wstring& library, int item)
{
    SCOPED_TRACE("scrolled to " + std::to_string(item));
    d.ScrollToIcon(item);
    const std::vector<int> shown = d.ShownIcons(item);
    ASSERT_GE(shown.size(), 2u);
    for (int i : shown) {
        ASSERT_EQ(d.IconText(i), L"Icon " + std::to_wstring(i));
        const int image = d.IconImage(i);
        ASSERT_GE(image, 0) << i;
        ASSERT_EQ(test::ImagePixels(d.IconImages(), image), test::ExtractedPixels(library, i)) << i;
    }
}

class IconListTest : public ::testing::Test {
protected:
    HWND List() const { return dialog_.Item(IDC_ICONLIST); }
    int Count() const { return static_cast<int>(SendMessageW(List(), LVM_GETITEMCOUNT, 0, 0)); }
    HIMAGELIST Images() const
    {
        return reinterpret_cast<HIMAGELIST>(SendMessageW(List(), LVM_GETIMAGELIST, LVSIL_NORMAL, 0));
    }
    LVITEMW Item(int i, wchar_t (&text)[32]) const
    {
        LVITEMW item{};
        item.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_STATE;
        item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        item.iItem = i;
        item.pszText = text;
        item.cchTextMax = static_cast<int>(std::size(text));
        SendMessageW(List(), LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
        return item;
    }
    std::vector<int> Selected() const
    {
        std::vector<int> items;
        int i = -1;
        while ((i = static_cast<int>(SendMessageW(List(), LVM_GETNEXTITEM, i, MAKELPARAM(LVNI_SELECTED, 0)))) != -1)
            items.push_back(i);
        return items;
    }

    test::BareDialog dialog_;
    test::TempDir dir_;
};

TEST_F(IconListTest, IcoFileGivesOneItemNamedIconZero)
{
    ASSERT_NE(dialog_.Window(), nullptr);
    const std::wstring ico = test::WriteIconFile(dir_.Path() + L"\\a.ico", 1);
    ASSERT_TRUE(FillIconList(dialog_.Window(), ico.c_str(), -1));
    ASSERT_EQ(Count(), 1);
    wchar_t text[32];
    const LVITEMW item = Item(0, text);
    EXPECT_STREQ(text, L"Icon 0");
    EXPECT_EQ(item.iImage, 0);
    EXPECT_EQ(item.state & LVIS_SELECTED, 0u);
    // One image of the system's large-icon size, in an image list that is not shared.
    ASSERT_NE(Images(), nullptr);
    EXPECT_EQ(ImageList_GetImageCount(Images()), 1);
    int cx = 0, cy = 0;
    ImageList_GetIconSize(Images(), &cx, &cy);
    EXPECT_EQ(cx, GetSystemMetrics(SM_CXICON));
    EXPECT_EQ(cy, GetSystemMetrics(SM_CYICON));
    EXPECT_EQ(GetWindowLongW(List(), GWL_STYLE) & LVS_SHAREIMAGELISTS, 0);
}

TEST_F(IconListTest, LibraryGivesEveryIconInIndexOrderArrangedFromTheLeft)
{
    const std::wstring shell32 = test::Shell32Path();
    const UINT n = ExtractIconExW(shell32.c_str(), -1, nullptr, nullptr, 0);
    ASSERT_GE(n, 100u);
    ASSERT_TRUE(FillIconList(dialog_.Window(), shell32.c_str(), -1));
    ASSERT_EQ(Count(), static_cast<int>(n));
    EXPECT_EQ(ImageList_GetImageCount(Images()), static_cast<int>(n));
    for (int i = 0; i < Count(); ++i) {
        wchar_t text[32];
        const LVITEMW item = Item(i, text);
        ASSERT_EQ(std::wstring(text), L"Icon " + std::to_wstring(i));
        ASSERT_EQ(item.iImage, i);
    }
    EXPECT_TRUE(Selected().empty());
    // The view keeps its template style: auto-arranged icons.
    const LONG style = GetWindowLongW(List(), GWL_STYLE);
    EXPECT_EQ(style & LVS_TYPEMASK, LVS_ICON);
    EXPECT_NE(style & LVS_AUTOARRANGE, 0);
    POINT first{}, second{};
    SendMessageW(List(), LVM_GETITEMPOSITION, 0, reinterpret_cast<LPARAM>(&first));
    SendMessageW(List(), LVM_GETITEMPOSITION, 1, reinterpret_cast<LPARAM>(&second));
    EXPECT_EQ(first.y, second.y);
    EXPECT_LT(first.x, second.x);
}

TEST_F(IconListTest, EachImageIsTheIconOfThatIndex)
{
    // The image of item i, as the list gives it when it draws the item, looks like icon i
    // extracted on its own: compare a few.
    const std::wstring shell32 = test::Shell32Path();
    ASSERT_TRUE(FillIconList(dialog_.Window(), shell32.c_str(), -1));
    std::vector<std::vector<COLORREF>> images;
    for (int index : {3, 4, 40}) {
        wchar_t text[32];
        const auto fromList = test::ImagePixels(Images(), Item(index, text).iImage);
        const auto fromFile = test::ExtractedPixels(shell32, index);
        ASSERT_FALSE(fromFile.empty()) << "icon " << index;
        EXPECT_EQ(fromList, fromFile) << "icon " << index;
        images.push_back(fromList);
    }
    EXPECT_NE(images[0], images[1]);
}

TEST_F(IconListTest, PreselectionSelectsAndFocusesOnlyAnItemOfTheFile)
{
    const std::wstring shell32 = test::Shell32Path();
    const int n = static_cast<int>(ExtractIconExW(shell32.c_str(), -1, nullptr, nullptr, 0));
    struct Case {
        int Preselect;
        int Expected; // -1: none
    } cases[] = {{2, 2}, {0, 0}, {n - 1, n - 1}, {n, -1}, {n + 5, -1}, {-1, -1}, {-5, -1}, {-99, -1}};
    for (const Case& c : cases) {
        SCOPED_TRACE("preselect " + std::to_string(c.Preselect));
        ASSERT_TRUE(FillIconList(dialog_.Window(), shell32.c_str(), c.Preselect));
        if (c.Expected < 0) {
            EXPECT_TRUE(Selected().empty());
            continue;
        }
        EXPECT_EQ(Selected(), std::vector<int>{c.Expected});
        EXPECT_EQ(SendMessageW(List(), LVM_GETNEXTITEM, static_cast<WPARAM>(-1), MAKELPARAM(LVNI_FOCUSED, 0)),
                  c.Expected);
    }
    // An .ico file has one icon: 5 is out of range.
    const std::wstring ico = test::WriteIconFile(dir_.Path() + L"\\three.ico", 3);
    ASSERT_TRUE(FillIconList(dialog_.Window(), ico.c_str(), 5));
    EXPECT_EQ(Count(), 1);
    EXPECT_TRUE(Selected().empty());
}

TEST_F(IconListTest, RefillingReplacesItemsAndImageList)
{
    const std::wstring shell32 = test::Shell32Path();
    ASSERT_TRUE(FillIconList(dialog_.Window(), shell32.c_str(), 7));
    const HIMAGELIST first = Images();
    const std::wstring ico = test::WriteIconFile(dir_.Path() + L"\\a.ico", 1);
    ASSERT_TRUE(FillIconList(dialog_.Window(), ico.c_str(), 0));
    EXPECT_EQ(Count(), 1);
    EXPECT_NE(Images(), first);
    EXPECT_EQ(ImageList_GetImageCount(Images()), 1);
    wchar_t text[32];
    const LVITEMW item = Item(0, text);
    EXPECT_STREQ(text, L"Icon 0");
    EXPECT_EQ(item.iImage, 0);
    EXPECT_EQ(Selected(), std::vector<int>{0});
}

TEST_F(IconListTest, SourceWithoutIconsLeavesTheListAsItWas)
{
    const std::wstring shell32 = test::Shell32Path();
    ASSERT_TRUE(FillIconList(dialog_.Window(), shell32.c_str(), 9));
    const int count = Count();
    const HIMAGELIST images = Images();
    const std::wstring text = dir_.MakeFile(L"notes.txt", "no icons in here");
    const std::wstring empty = dir_.MakeFile(L"empty.dll", "");
    const std::wstring missing = dir_.Path() + L"\\missing.dll";
    // Icon files whose directory does not fit the file: 65,535 images claimed, an image at
    // 0x7FFFFFFF. The platform's parser, run on them inside Explorer, would read far
    // beyond the file; they are refused before it sees them.
    const std::string entry = std::string("\x10\x10\0\0\1\0\x20\0\x28\0\0\0", 12);
    const std::wstring many =
        dir_.MakeFile(L"many.ico", std::string("\0\0\1\0\xFF\xFF", 6) + entry + std::string("\x16\0\0\0", 4) +
                                       std::string(40, '\0'));
    const std::wstring farImage =
        dir_.MakeFile(L"far.ico", std::string("\0\0\1\0\1\0", 6) + entry + std::string("\xFF\xFF\xFF\x7F", 4) +
                                      std::string(40, '\0'));
    for (const std::wstring& path : {missing, text, empty, std::wstring(L"%1"), std::wstring(L""), many, farImage}) {
        SCOPED_TRACE(test::Utf8(path));
        EXPECT_FALSE(FillIconList(dialog_.Window(), path.c_str(), 0));
        EXPECT_EQ(Count(), count);
        EXPECT_EQ(Images(), images);
        EXPECT_EQ(Selected(), std::vector<int>{9});
    }
    EXPECT_FALSE(FillIconList(dialog_.Window(), nullptr, 0));
    EXPECT_EQ(Count(), count);
}

// A source under a path that the ANSI code page cannot hold, and one whose path has
// exactly 259 UTF-16 units (a surrogate pair at its end): every icon is listed, each the
// icon of its index.
TEST_F(IconListTest, SourceOfAnyNameFillsTheList)
{
    const std::wstring library = test::IconIdLibraryPath();
    std::vector<std::wstring> sources;
    for (const test::UnicodeName& name : test::UnicodeNames())
        sources.push_back(dir_.MakeFolder(name.Text) + L"\\" + name.Text + L".dll");
    const std::wstring longest = test::PathOfLength(dir_.Path(), 259, L".dll");
    ASSERT_EQ(longest.size(), 259u);
    ASSERT_EQ(dir_.MakeFile(longest.substr(dir_.Path().size() + 1), ""), longest);
    sources.push_back(longest);
    for (const std::wstring& source : sources) {
        SCOPED_TRACE(test::Utf8(source));
        ASSERT_TRUE(CopyFileW(library.c_str(), source.c_str(), FALSE));
        ASSERT_TRUE(FillIconList(dialog_.Window(), source.c_str(), 3));
        ASSERT_EQ(Count(), 4);
        EXPECT_EQ(Selected(), std::vector<int>{3});
        for (int index : {0, 3})
            EXPECT_EQ(test::ImagePixels(Images(), index), test::ExtractedPixels(library, index)) << index;
    }
}

// A source with more icons than the list keeps images of: wherever the list is scrolled,
// also after every item has been drawn once (as scrolling through it all does) and after
// items far apart have been asked for one after another, each item shows its own icon,
// and the image list keeps the number of images it started with.
TEST_F(IconListTest, LargeSourceShowsEachItemsIconFromABoundedImageList)
{
    const std::wstring library = NumberedIcons(3000);
    ASSERT_EQ(CountIcons(library.c_str()), 3000u);
    ShowWindow(dialog_.Window(), SW_SHOWNA);
    DialogDriver d(GetCurrentThreadId());
    ASSERT_TRUE(d.Attach(5000));
    ASSERT_TRUE(FillIconList(dialog_.Window(), library.c_str(), -1));
    ASSERT_EQ(Count(), 3000);
    const int slots = ImageList_GetImageCount(Images());
    EXPECT_LT(slots, 3000);
    for (int item : {0, 2999, 1500})
        ExpectShownItemsShowTheirIcons(d, library, item);
    for (int i = 0; i < Count(); ++i)
        ASSERT_GE(d.IconImage(i), 0) << i;
    for (int item : {0, 1500, 2999})
        ExpectShownItemsShowTheirIcons(d, library, item);
    for (int i = 0; i < Count(); i += 211)
        ASSERT_EQ(test::ImagePixels(Images(), d.IconImage(i)), test::ExtractedPixels(library, i)) << i;
    EXPECT_EQ(ImageList_GetImageCount(Images()), slots);
}

class IconListDialogTest : public test::DialogTest {};

// The dialog opened on the start, the middle and the end of a library of 1,000 icons: the
// current icon is selected, focused and shown; while the dialog is idle it extracts the
// icons it does not show yet; each item shown shows its own icon, there and wherever the
// list is scrolled; the arrow keys, Home and End and a typed number move the selection,
// and OK applies the item they selected.
TEST_F(IconListDialogTest, EveryPartOfALargeLibraryShowsItsOwnIcons)
{
    const std::wstring library = NumberedIcons(1000);
    ASSERT_EQ(CountIcons(library.c_str()), 1000u);
    struct Row {
        int Current;
        std::vector<UINT> Keys;
        int Picked;
    } rows[] = {{0, {VK_RIGHT}, 1}, {500, {VK_END}, 999}, {999, {VK_HOME, VK_RIGHT}, 1}, {3, {'6', '4', '2'}, 642}};
    for (const Row& row : rows) {
        SCOPED_TRACE("current icon " + std::to_string(row.Current));
        const std::wstring folder = dir_.MakeFolder(L"Part" + std::to_wstring(row.Current));
        ASSERT_EQ(WriteFolderIcon(IconLocation(library.c_str(), folder.c_str(), row.Current)), ERROR_SUCCESS);
        ChangeIconDialog record;
        const test::DialogRun run = RunOn(record, folder, [&](DialogDriver& d) {
            ASSERT_EQ(d.IconCount(), 1000);
            EXPECT_EQ(d.SelectedIcons(), std::vector<int>{row.Current});
            EXPECT_EQ(d.FocusedIcon(), row.Current);
            EXPECT_FALSE(d.ShownIcons(row.Current).empty());
            // Every icon of a library this size has an image of its own, the one of its
            // index: the one half the library away fills in without being drawn.
            const int away = (row.Current + 500) % 1000;
            ASSERT_TRUE(d.ShownIcons(away).empty());
            const std::vector<COLORREF> awayIcon = test::ExtractedPixels(library, away);
            const ULONGLONG idleEnd = GetTickCount64() + 20000;
            while (test::ImagePixels(d.IconImages(), away) != awayIcon && GetTickCount64() < idleEnd)
                Sleep(50);
            EXPECT_EQ(test::ImagePixels(d.IconImages(), away), awayIcon);
            for (int item : {row.Current, 0, 500, 999})
                ExpectShownItemsShowTheirIcons(d, library, item);
            for (UINT key : row.Keys)
                d.PressKey(key);
            const ULONGLONG end = GetTickCount64() + 10000;
            while (d.FocusedIcon() != row.Picked && GetTickCount64() < end)
                Sleep(20);
            ASSERT_EQ(d.SelectedIcons(), std::vector<int>{row.Picked});
            EXPECT_FALSE(d.ShownIcons(row.Picked).empty());
            d.Command(IDOK);
        });
        EXPECT_EQ(run.Result, IDOK);
        EXPECT_EQ(FolderIconText(folder), library + L"," + std::to_wstring(row.Picked));
    }
}

// The count the dialog, the command line and the demo share: the shell's answer, except
// that its answer for a file it cannot read (all bits set) means none.
TEST(CountIcons, FollowsTheShellButCountsAnUnreadableFileAsNone)
{
    test::TempDir dir;
    const std::wstring shell32 = test::Shell32Path();
    const UINT inShell32 = ExtractIconExW(shell32.c_str(), -1, nullptr, nullptr, 0);
    ASSERT_GE(inShell32, 100u);
    struct Row {
        std::wstring Source;
        UINT ShellSays;
        unsigned Count;
    } rows[] = {
        {shell32, inShell32, inShell32},
        {test::WriteIconFile(dir.Path() + L"\\three.ico", 3), 1, 1},
        {dir.MakeFile(L"notes.txt", "no icons in here"), 0, 0},
        {dir.MakeFile(L"empty.dll", ""), 0xFFFFFFFFu, 0},
        {dir.Path() + L"\\missing.dll", 0xFFFFFFFFu, 0},
        {L"%1", 0xFFFFFFFFu, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(test::Utf8(row.Source));
        EXPECT_EQ(ExtractIconExW(row.Source.c_str(), -1, nullptr, nullptr, 0), row.ShellSays);
        EXPECT_EQ(CountIcons(row.Source.c_str()), row.Count);
    }
    EXPECT_EQ(CountIcons(L""), 0u);
    EXPECT_EQ(CountIcons(nullptr), 0u);
}

} // namespace
} // namespace orvane
