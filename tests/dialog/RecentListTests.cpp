// The recent list of icon sources on the dialog's real combo box, and its registry form
// under HKEY_CURRENT_USER, including data that another program may have left there.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#include "DrivenDialog.h"
#include "DialogFixture.h"
#include "RecentList.h"
#include "UnicodeNames.h"
#include "resource.h"

namespace orvane {
namespace {

class RecentListTest : public test::DialogTest {
protected:
    HWND Combo() const { return dialog_.Item(IDC_SOURCES); }
    std::vector<std::wstring> Entries() const
    {
        std::vector<std::wstring> entries;
        const LRESULT count = SendMessageW(Combo(), CB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; i < count; ++i) {
            wchar_t text[1024] = {};
            if (SendMessageW(Combo(), CB_GETLBTEXTLEN, i, 0) < static_cast<LRESULT>(std::size(text)))
                SendMessageW(Combo(), CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
            entries.emplace_back(text);
        }
        return entries;
    }
    int Selection() const { return static_cast<int>(SendMessageW(Combo(), CB_GETCURSEL, 0, 0)); }
    static std::wstring Path(int i) { return L"C:\\icons\\source" + std::to_wstring(i) + L".icl"; }
    void WriteRaw(const wchar_t* name, DWORD type, const void* data, DWORD size)
    {
        ASSERT_TRUE(test::WriteValue(HKEY_CURRENT_USER, test::UserLruKey, name, type, data, size));
    }

    test::BareDialog dialog_;
};

TEST_F(RecentListTest, ElevenSourcesKeepTheTenNewest)
{
    for (int i = 0; i < 11; ++i)
        AddRecentEntry(Combo(), Path(i).c_str());
    std::vector<std::wstring> expected;
    for (int i = 10; i >= 1; --i)
        expected.push_back(Path(i));
    EXPECT_EQ(Entries(), expected);
    EXPECT_EQ(Selection(), 0);
}

TEST_F(RecentListTest, AnEntryAlreadyPresentIsSelectedWhereItStands)
{
    for (int i = 0; i < 10; ++i)
        AddRecentEntry(Combo(), Path(i).c_str());
    const std::vector<std::wstring> before = Entries();
    // Full list, entry present: nothing is deleted, nothing moves.
    AddRecentEntry(Combo(), Path(3).c_str());
    EXPECT_EQ(Entries(), before);
    EXPECT_EQ(Selection(), 6);
    // Letter case counts: D:\ICONS\A.ICO and d:\icons\a.ico are two entries.
    SendMessageW(Combo(), CB_RESETCONTENT, 0, 0);
    AddRecentEntry(Combo(), L"D:\\ICONS\\A.ICO");
    AddRecentEntry(Combo(), L"d:\\icons\\a.ico");
    EXPECT_EQ(Entries(), (std::vector<std::wstring>{L"d:\\icons\\a.ico", L"D:\\ICONS\\A.ICO"}));
    AddRecentEntry(Combo(), L"D:\\ICONS\\A.ICO");
    EXPECT_EQ(Entries().size(), 2u);
    EXPECT_EQ(Selection(), 1);
}

TEST_F(RecentListTest, SavedListHasNumberedTextsAndTheSelection)
{
    AddRecentEntry(Combo(), Path(1).c_str());
    AddRecentEntry(Combo(), Path(2).c_str());
    AddRecentEntry(Combo(), Path(3).c_str());
    SendMessageW(Combo(), CB_SETCURSEL, 1, 0);
    // What an earlier save or another program left is replaced whole.
    test::WriteString(HKEY_CURRENT_USER, test::UserLruKey, L"7", L"stale");
    test::WriteString(HKEY_CURRENT_USER, std::wstring(test::UserLruKey) + L"\\sub", L"x", L"y");
    ASSERT_EQ(SaveRecentList(Combo()), ERROR_SUCCESS);

    DWORD selection = 0;
    EXPECT_EQ(StoredSources(&selection), (std::vector<std::wstring>{Path(3), Path(2), Path(1)}));
    EXPECT_EQ(selection, 1u);
    std::vector<BYTE> data;
    DWORD type = 0;
    ASSERT_TRUE(test::ReadRaw(HKEY_CURRENT_USER, test::UserLruKey, L"0", &data, &type));
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(data.size(), (Path(3).size() + 1) * sizeof(wchar_t)); // the terminator is counted
    EXPECT_EQ(test::ValueText(HKEY_CURRENT_USER, test::UserLruKey, L"7"), L"<none>");
    EXPECT_FALSE(test::KeyExists(HKEY_CURRENT_USER, std::wstring(test::UserLruKey) + L"\\sub"));

    // Enumeration gives the values in the order they were written: "0", "1", "2", "CurSel".
    HKEY key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, test::UserLruKey, 0, KEY_READ, &key), ERROR_SUCCESS);
    std::vector<std::wstring> names;
    for (DWORD i = 0;; ++i) {
        wchar_t name[64];
        DWORD length = static_cast<DWORD>(std::size(name));
        if (RegEnumValueW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.emplace_back(name);
    }
    RegCloseKey(key);
    EXPECT_EQ(names, (std::vector<std::wstring>{L"0", L"1", L"2", L"CurSel"}));

    // No selection is stored as 0xFFFFFFFF; an empty list leaves no key at all.
    SendMessageW(Combo(), CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
    ASSERT_EQ(SaveRecentList(Combo()), ERROR_SUCCESS);
    StoredSources(&selection);
    EXPECT_EQ(selection, 0xFFFFFFFFu);
    SendMessageW(Combo(), CB_RESETCONTENT, 0, 0);
    ASSERT_EQ(SaveRecentList(Combo()), ERROR_SUCCESS);
    EXPECT_FALSE(test::KeyExists(HKEY_CURRENT_USER, test::UserLruKey));
    EXPECT_TRUE(test::KeyExists(HKEY_CURRENT_USER, test::UserProductKey));
}

TEST_F(RecentListTest, LoadingShowsTheSavedListAndSelection)
{
    std::vector<std::wstring> saved;
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
        SendMessageW(Combo(), CB_RESETCONTENT, 0, 0);
        LoadRecentList(Combo());
        EXPECT_EQ(Entries().size(), 2u);
        EXPECT_EQ(Selection(), CB_ERR);
    }
}

TEST_F(RecentListTest, HostileValuesNeitherOverrunNorBecomeEntries)
{
    const std::wstring a = Path(0);
    const DWORD aBytes = static_cast<DWORD>((a.size() + 1) * sizeof(wchar_t));
    WriteRaw(L"0", REG_SZ, a.c_str(), aBytes);
    // Unterminated text: the entry is the data's characters, nothing read past them. (The
    // unit after the data is no zero, so the registry keeps the data as given.)
    const wchar_t unterminated[] = {L'C', L':', L'\\', L'u', L'.', L'i', L'c', L'o', L'#'};
    WriteRaw(L"1", REG_SZ, unterminated, 8 * sizeof(wchar_t));
    // Other types are no entries; a DWORD of the wrong size is no selection.
    WriteRaw(L"2", REG_BINARY, L"C:\\bin.ico", 11 * sizeof(wchar_t));
    WriteRaw(L"3", REG_EXPAND_SZ, L"%SystemRoot%\\x.ico", 19 * sizeof(wchar_t));
    WriteRaw(L"CurSel", REG_QWORD, "\1\0\0\0\0\0\0\0", 8);
    // Data that ends in half a UTF-16 unit: the entry is its whole units.
    const wchar_t odd[] = {L'C', L':', L'\\', L'v', L'.', L'i', L'c', L'o', L'#'};
    WriteRaw(L"4", REG_SZ, odd, 8 * sizeof(wchar_t) + 1);
    LoadRecentList(Combo());
    EXPECT_EQ(Entries(), (std::vector<std::wstring>{a, L"C:\\u.ico", L"C:\\v.ico"}));
    EXPECT_EQ(Selection(), CB_ERR);

    // 260 characters without a terminator are no path of at most 259: no entry is made
    // of them, and nothing after them is read.
    test::DeleteKeyTree(HKEY_CURRENT_USER, test::UserLruKey);
    WriteRaw(L"0", REG_SZ, a.c_str(), aBytes);
    const std::wstring full(261, L'x');
    WriteRaw(L"1", REG_SZ, full.c_str(), 260 * sizeof(wchar_t));
    WriteRaw(L"2", REG_SZ, a.c_str(), aBytes);
    SendMessageW(Combo(), CB_RESETCONTENT, 0, 0);
    LoadRecentList(Combo());
    EXPECT_EQ(Entries(), (std::vector<std::wstring>{a, a}));
}

TEST_F(RecentListTest, OversizedValueEndsLoadingAndTheListNeverExceedsTen)
{
    for (int i = 0; i < 3; ++i)
        test::WriteString(HKEY_CURRENT_USER, test::UserLruKey, std::to_wstring(i).c_str(), Path(i));
    const std::wstring huge(5000, L'y');
    test::WriteString(HKEY_CURRENT_USER, test::UserLruKey, L"3", huge);
    test::WriteString(HKEY_CURRENT_USER, test::UserLruKey, L"4", Path(4));
    LoadRecentList(Combo());
    EXPECT_EQ(Entries(), (std::vector<std::wstring>{Path(0), Path(1), Path(2)}));

    test::DeleteKeyTree(HKEY_CURRENT_USER, test::UserLruKey);
    std::vector<std::wstring> many;
    for (int i = 0; i < 15; ++i)
        many.push_back(Path(i));
    StoreSources(many, 12);
    SendMessageW(Combo(), CB_RESETCONTENT, 0, 0);
    LoadRecentList(Combo());
    // Which ten depends on the registry's enumeration order (Wine's sorts by name).
    const std::vector<std::wstring> loaded = Entries();
    EXPECT_EQ(loaded.size(), 10u);
    for (const std::wstring& entry : loaded)
        EXPECT_NE(std::find(many.begin(), many.end(), entry), many.end()) << test::Utf8(entry);
    EXPECT_EQ(Selection(), CB_ERR);
}

TEST_F(RecentListTest, SelectedEntryIsCopiedWhole)
{
    wchar_t buffer[TextCapacity];
    std::fill(std::begin(buffer), std::end(buffer), L'#');
    EXPECT_FALSE(SelectedRecentEntry(Combo(), buffer));
    EXPECT_EQ(buffer[0], L'#');
    const std::wstring longest = L"C:\\" + std::wstring(252, L'l') + L".ico"; // 259 characters
    AddRecentEntry(Combo(), longest.c_str());
    ASSERT_TRUE(SelectedRecentEntry(Combo(), buffer));
    EXPECT_EQ(std::wstring(buffer), longest);
}

// Paths of any name: each entry is kept unit for unit through the combo box and the
// registry, a surrogate pair included, up to 259 UTF-16 units; one of 260 is refused.
TEST_F(RecentListTest, NamesOutsideTheAnsiCodePageAreKeptExactly)
{
    std::vector<std::wstring> added;
    for (const test::UnicodeName& name : test::UnicodeNames())
        added.push_back(L"C:\\icons\\" + name.Text + L"\\" + name.Text + L".icl");
    const std::wstring longest = test::PathOfLength(L"C:\\icons", 259, L".ico");
    ASSERT_EQ(longest.size(), 259u);
    added.push_back(longest);
    for (const std::wstring& path : added)
        AddRecentEntry(Combo(), path.c_str());
    const std::vector<std::wstring> expected(added.rbegin(), added.rend());
    EXPECT_EQ(Entries(), expected);

    wchar_t buffer[TextCapacity];
    for (int i = 0; i < static_cast<int>(expected.size()); ++i) {
        SCOPED_TRACE(i);
        SendMessageW(Combo(), CB_SETCURSEL, i, 0);
        ASSERT_TRUE(SelectedRecentEntry(Combo(), buffer));
        EXPECT_EQ(std::wstring(buffer), expected[i]);
    }

    SendMessageW(Combo(), CB_SETCURSEL, 0, 0);
    ASSERT_EQ(SaveRecentList(Combo()), ERROR_SUCCESS);
    DWORD selection = 0;
    EXPECT_EQ(StoredSources(&selection), expected);
    EXPECT_EQ(selection, 0u);
    std::vector<BYTE> data;
    DWORD type = 0;
    ASSERT_TRUE(test::ReadRaw(HKEY_CURRENT_USER, test::UserLruKey, L"0", &data, &type));
    EXPECT_EQ(data.size(), 260 * sizeof(wchar_t));

    SendMessageW(Combo(), CB_RESETCONTENT, 0, 0);
    LoadRecentList(Combo());
    EXPECT_EQ(Entries(), expected);
    EXPECT_EQ(Selection(), 0);

    // One unit more does not fit: it is not handed out, and not stored.
    const std::wstring tooLong = test::PathOfLength(L"C:\\icons", 260, L".ico");
    ASSERT_EQ(tooLong.size(), 260u);
    SendMessageW(Combo(), CB_RESETCONTENT, 0, 0);
    AddRecentEntry(Combo(), added[0].c_str());
    AddRecentEntry(Combo(), tooLong.c_str());
    std::fill(std::begin(buffer), std::end(buffer), L'#');
    EXPECT_FALSE(SelectedRecentEntry(Combo(), buffer));
    EXPECT_EQ(buffer[0], L'#');
    ASSERT_EQ(SaveRecentList(Combo()), ERROR_SUCCESS);
    EXPECT_EQ(test::ValueText(HKEY_CURRENT_USER, test::UserLruKey, L"0"), L"<none>");
    EXPECT_EQ(test::ValueText(HKEY_CURRENT_USER, test::UserLruKey, L"1"), added[0]);
}

// The list as an 8-bit build stored it, through the ANSI calls in code page 1252: read,
// and saved back as the same texts.
TEST_F(RecentListTest, ListStoredByAnEightBitBuildIsLoaded)
{
    // The test prefix runs with code page 1252 (LANG=C.UTF-8); the 8-bit texts below
    // mean what they say only there.
    ASSERT_EQ(GetACP(), 1252u);
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Brindlewick Software\\Orvane\\LRU", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    // 0xF4 and 0xE9 are o with circumflex and e with acute in code page 1252.
    const char first[] = "C:\\Ic\xF4nes\\caf\xE9.icl";
    const char second[] = "C:\\icons\\plain.ico";
    const DWORD selected = 1;
    RegSetValueExA(key, "0", 0, REG_SZ, reinterpret_cast<const BYTE*>(first), sizeof first);
    RegSetValueExA(key, "1", 0, REG_SZ, reinterpret_cast<const BYTE*>(second), sizeof second);
    RegSetValueExA(key, "CurSel", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&selected), sizeof selected);
    RegCloseKey(key);

    const std::vector<std::wstring> expected{L"C:\\Ic\u00F4nes\\caf\u00E9.icl", L"C:\\icons\\plain.ico"};
    LoadRecentList(Combo());
    EXPECT_EQ(Entries(), expected);
    EXPECT_EQ(Selection(), 1);
    ASSERT_EQ(SaveRecentList(Combo()), ERROR_SUCCESS);
    DWORD selection = 0;
    EXPECT_EQ(StoredSources(&selection), expected);
    EXPECT_EQ(selection, 1u);

    // And what the 8-bit build reads back of it is what it wrote.
    char text[64] = {};
    DWORD size = sizeof text - 1;
    ASSERT_EQ(RegGetValueA(HKEY_CURRENT_USER, "Software\\Brindlewick Software\\Orvane\\LRU", "0", RRF_RT_REG_SZ,
                           nullptr, text, &size),
              ERROR_SUCCESS);
    EXPECT_STREQ(text, first);
}

} // namespace
} // namespace orvane
