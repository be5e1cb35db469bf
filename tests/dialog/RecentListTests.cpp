// The recent list of icon sources on the dialog's real combo box, and its registry form
// under HKEY_CURRENT_USER, including data that another program may have left there.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "DrivenDialog.h"
#include "DialogFixture.h"
#include "RecentList.h"
#include "resource.h"

namespace orvane {
namespace {

class RecentListTest : public test::DialogTest {
protected:
    HWND Combo() const { return dialog_.Item(IDC_SOURCES); }
    std::vector<std::string> Entries() const
    {
        std::vector<std::string> entries;
        const LRESULT count = SendMessageA(Combo(), CB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; i < count; ++i) {
            char text[1024] = {};
            SendMessageA(Combo(), CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
            entries.emplace_back(text);
        }
        return entries;
    }
    int Selection() const { return static_cast<int>(SendMessageA(Combo(), CB_GETCURSEL, 0, 0)); }
    static std::string Path(int i) { return "C:\\icons\\source" + std::to_string(i) + ".icl"; }
    void WriteRaw(const char* name, DWORD type, const void* data, DWORD size)
    {
        ASSERT_TRUE(test::WriteValue(HKEY_CURRENT_USER, test::UserLruKey, name, type, data, size));
    }

    test::BareDialog dialog_;
};

TEST_F(RecentListTest, ElevenSourcesKeepTheTenNewest)
{
    for (int i = 0; i < 11; ++i)
        AddRecentEntry(Combo(), Path(i).c_str());
    std::vector<std::string> expected;
    for (int i = 10; i >= 1; --i)
        expected.push_back(Path(i));
    EXPECT_EQ(Entries(), expected);
    EXPECT_EQ(Selection(), 0);
}

TEST_F(RecentListTest, AnEntryAlreadyPresentIsSelectedWhereItStands)
{
    for (int i = 0; i < 10; ++i)
        AddRecentEntry(Combo(), Path(i).c_str());
    const std::vector<std::string> before = Entries();
    // Full list, entry present: nothing is deleted, nothing moves.
    AddRecentEntry(Combo(), Path(3).c_str());
    EXPECT_EQ(Entries(), before);
    EXPECT_EQ(Selection(), 6);
    // Letter case counts: D:\ICONS\A.ICO and d:\icons\a.ico are two entries.
    SendMessageA(Combo(), CB_RESETCONTENT, 0, 0);
    AddRecentEntry(Combo(), "D:\\ICONS\\A.ICO");
    AddRecentEntry(Combo(), "d:\\icons\\a.ico");
    EXPECT_EQ(Entries(), (std::vector<std::string>{"d:\\icons\\a.ico", "D:\\ICONS\\A.ICO"}));
    AddRecentEntry(Combo(), "D:\\ICONS\\A.ICO");
    EXPECT_EQ(Entries().size(), 2u);
    EXPECT_EQ(Selection(), 1);
}

TEST_F(RecentListTest, SavedListHasNumberedTextsAndTheSelection)
{
    AddRecentEntry(Combo(), Path(1).c_str());
    AddRecentEntry(Combo(), Path(2).c_str());
    AddRecentEntry(Combo(), Path(3).c_str());
    SendMessageA(Combo(), CB_SETCURSEL, 1, 0);
    // What an earlier save or another program left is replaced whole.
    test::WriteString(HKEY_CURRENT_USER, test::UserLruKey, "7", "stale");
    test::WriteString(HKEY_CURRENT_USER, std::string(test::UserLruKey) + "\\sub", "x", "y");
    ASSERT_EQ(SaveRecentList(Combo()), ERROR_SUCCESS);

    DWORD selection = 0;
    EXPECT_EQ(StoredSources(&selection), (std::vector<std::string>{Path(3), Path(2), Path(1)}));
    EXPECT_EQ(selection, 1u);
    std::vector<BYTE> data;
    DWORD type = 0;
    ASSERT_TRUE(test::ReadRaw(HKEY_CURRENT_USER, test::UserLruKey, "0", &data, &type));
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(data.size(), Path(3).size() + 1); // the terminator is counted
    EXPECT_EQ(test::ValueText(HKEY_CURRENT_USER, test::UserLruKey, "7"), "<none>");
    EXPECT_FALSE(test::KeyExists(HKEY_CURRENT_USER, std::string(test::UserLruKey) + "\\sub"));

    // Enumeration gives the values in the order they were written: "0", "1", "2", "CurSel".
    HKEY key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, test::UserLruKey, 0, KEY_READ, &key), ERROR_SUCCESS);
    std::vector<std::string> names;
    for (DWORD i = 0;; ++i) {
        char name[64];
        DWORD length = sizeof name;
        if (RegEnumValueA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.emplace_back(name);
    }
    RegCloseKey(key);
    EXPECT_EQ(names, (std::vector<std::string>{"0", "1", "2", "CurSel"}));

    // No selection is stored as 0xFFFFFFFF; an empty list leaves no key at all.
    SendMessageA(Combo(), CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
    ASSERT_EQ(SaveRecentList(Combo()), ERROR_SUCCESS);
    StoredSources(&selection);
    EXPECT_EQ(selection, 0xFFFFFFFFu);
    SendMessageA(Combo(), CB_RESETCONTENT, 0, 0);
    ASSERT_EQ(SaveRecentList(Combo()), ERROR_SUCCESS);
    EXPECT_FALSE(test::KeyExists(HKEY_CURRENT_USER, test::UserLruKey));
    EXPECT_TRUE(test::KeyExists(HKEY_CURRENT_USER, test::UserProductKey));
}

TEST_F(RecentListTest, LoadingShowsTheSavedListAndSelection)
{
    std::vector<std::string> saved;
    for (int i = 0; i < 10; ++i)
        saved.push_back(Path(i));
    StoreSources(saved, 3);
    LoadRecentList(Combo());
    EXPECT_EQ(Entries(), saved);
    EXPECT_EQ(Selection(), 3);

    // Saving what was loaded gives back the same key.
    ASSERT_EQ(SaveRecentList(Combo()), ERROR_SUCCESS);
    DWORD selection = 0;
    EXPECT_EQ(StoredSources(&selection), saved);
    EXPECT_EQ(selection, 3u);
}

TEST_F(RecentListTest, MissingKeyLeavesTheListEmpty)
{
    LoadRecentList(Combo());
    EXPECT_TRUE(Entries().empty());
    EXPECT_EQ(Selection(), CB_ERR);
}

TEST_F(RecentListTest, SelectionOutsideTheListSelectsNothing)
{
    for (DWORD selection : {0xFFFFFFFFu, 2u, 100u, 0x80000000u}) {
        SCOPED_TRACE(selection);
        test::DeleteKeyTree(HKEY_CURRENT_USER, test::UserLruKey);
        StoreSources({Path(0), Path(1)}, selection);
        SendMessageA(Combo(), CB_RESETCONTENT, 0, 0);
        LoadRecentList(Combo());
        EXPECT_EQ(Entries().size(), 2u);
        EXPECT_EQ(Selection(), CB_ERR);
    }
}

TEST_F(RecentListTest, HostileValuesNeitherOverrunNorBecomeEntries)
{
    const std::string a = Path(0);
    WriteRaw("0", REG_SZ, a.c_str(), static_cast<DWORD>(a.size() + 1));
    // Unterminated text: the entry is the data's bytes, nothing read past them.
    const char unterminated[] = {'C', ':', '\\', 'u', '.', 'i', 'c', 'o'};
    WriteRaw("1", REG_SZ, unterminated, sizeof unterminated);
    // Other types are no entries; a DWORD of the wrong size is no selection.
    WriteRaw("2", REG_BINARY, "C:\\bin.ico", 11);
    WriteRaw("3", REG_EXPAND_SZ, "%SystemRoot%\\x.ico", 19);
    WriteRaw("CurSel", REG_QWORD, "\1\0\0\0\0\0\0\0", 8);
    LoadRecentList(Combo());
    EXPECT_EQ(Entries(), (std::vector<std::string>{a, "C:\\u.ico"}));
    EXPECT_EQ(Selection(), CB_ERR);

    // 260 characters without a terminator are no path of at most 259: no entry is made
    // of them, and nothing after them is read.
    test::DeleteKeyTree(HKEY_CURRENT_USER, test::UserLruKey);
    WriteRaw("0", REG_SZ, a.c_str(), static_cast<DWORD>(a.size() + 1));
    const std::string full(260, 'x');
    WriteRaw("1", REG_SZ, full.c_str(), 260);
    SendMessageA(Combo(), CB_RESETCONTENT, 0, 0);
    LoadRecentList(Combo());
    EXPECT_EQ(Entries(), std::vector<std::string>{a});
}

TEST_F(RecentListTest, OversizedValueEndsLoadingAndTheListNeverExceedsTen)
{
    for (int i = 0; i < 3; ++i)
        test::WriteString(HKEY_CURRENT_USER, test::UserLruKey, std::to_string(i).c_str(), Path(i));
    const std::string huge(5000, 'y');
    test::WriteString(HKEY_CURRENT_USER, test::UserLruKey, "3", huge);
    test::WriteString(HKEY_CURRENT_USER, test::UserLruKey, "4", Path(4));
    LoadRecentList(Combo());
    EXPECT_EQ(Entries(), (std::vector<std::string>{Path(0), Path(1), Path(2)}));

    test::DeleteKeyTree(HKEY_CURRENT_USER, test::UserLruKey);
    std::vector<std::string> many;
    for (int i = 0; i < 15; ++i)
        many.push_back(Path(i));
    StoreSources(many, 12);
    SendMessageA(Combo(), CB_RESETCONTENT, 0, 0);
    LoadRecentList(Combo());
    // Which ten depends on the registry's enumeration order (Wine's sorts by name).
    const std::vector<std::string> loaded = Entries();
    EXPECT_EQ(loaded.size(), 10u);
    for (const std::string& entry : loaded)
        EXPECT_NE(std::find(many.begin(), many.end(), entry), many.end()) << entry;
    EXPECT_EQ(Selection(), CB_ERR);
}

TEST_F(RecentListTest, SelectedEntryIsCopiedWhole)
{
    char buffer[TextCapacity];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_FALSE(SelectedRecentEntry(Combo(), buffer));
    EXPECT_EQ(buffer[0], '#');
    const std::string longest = "C:\\" + std::string(252, 'l') + ".ico"; // 259 characters
    AddRecentEntry(Combo(), longest.c_str());
    ASSERT_TRUE(SelectedRecentEntry(Combo(), buffer));
    EXPECT_EQ(std::string(buffer), longest);
}

} // namespace
} // namespace orvane
