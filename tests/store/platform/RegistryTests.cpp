#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "IconLocation.h"
#include "Registry.h"
#include "RegistryNames.h"
#include "Scope.h"
#include "ScratchRegistry.h"
#include "TestSupport.h"

using namespace orvane;
using test::LocationText;

namespace {

// A scratch key below HKCU\Software, put back (that is, removed) when the test ends.
class ScratchKeyTest : public ::testing::Test {
protected:
    const std::wstring base_ = L"Software\\" + test::UniqueName(L"Orvane");
    test::KeyGuard guard_{HKEY_CURRENT_USER, base_};

    std::wstring Below(const std::wstring& path) const { return base_ + L"\\" + path; }
};

// The keys of a chain a\b\c\d below the scratch key that still exist, as "abcd" with
// '-' for each one gone.
std::wstring ChainLeft(const std::wstring& base)
{
    std::wstring left;
    std::wstring path = base;
    for (const wchar_t* name : {L"a", L"b", L"c", L"d"}) {
        path += L"\\";
        path += name;
        left += test::KeyExists(HKEY_CURRENT_USER, path) ? name : L"-";
    }
    return left;
}

} // namespace

// A named value is one of this system's own and is read only as a string; a key's
// default value is the shell's (or a backup of it) and is read as text whatever its type.
TEST_F(ScratchKeyTest, ReadIconLocationValueTakesNamedValuesOnlyAsStrings)
{
    const wchar_t text[] = L"C:\\icons\\a.ico,4";
    const wchar_t longForm[] = L"C:\\icons\\a.ico,4,txtfile";
    const std::wstring over(300, L'o');
    struct Case {
        const char* Label;
        const wchar_t* Name;
        DWORD Type;
        const void* Data;
        DWORD Size;
        bool WithTypeKey;
        const wchar_t* Expected;
    };
    const Case cases[] = {
        {"named string", L"Info", REG_SZ, text, sizeof text, false, L"C:\\icons\\a.ico,4||"},
        {"named expandable string", L"Info", REG_EXPAND_SZ, text, sizeof text, false, L"C:\\icons\\a.ico,4||"},
        {"named binary", L"Info", REG_BINARY, text, sizeof text, false, L"<none>"},
        {"default binary", nullptr, REG_BINARY, text, sizeof text, false, L"C:\\icons\\a.ico,4||"},
        {"default string, long form", nullptr, REG_SZ, longForm, sizeof longForm, true,
         L"C:\\icons\\a.ico,4|txtfile|"},
        {"named string over 259 characters", L"Info", REG_SZ, over.c_str(),
         DWORD((over.size() + 1) * sizeof(wchar_t)), false, L"<none>"},
        {"no such value", L"Missing", REG_NONE, nullptr, 0, false, L"<none>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Label);
        test::DeleteKeyTree(HKEY_CURRENT_USER, base_);
        RegKey key;
        ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_CURRENT_USER, base_.c_str()));
        if (c.Data != nullptr) {
            ASSERT_TRUE(test::WriteValue(HKEY_CURRENT_USER, base_, c.Name, c.Type, c.Data, c.Size));
        }
        EXPECT_EQ(std::wstring(c.Expected), LocationText(ReadIconLocationValue(key.get(), c.Name, c.WithTypeKey)));
    }
}

// Only "not found" says a key is missing to KeyMayExist; KeyExists needs it to open.
TEST_F(ScratchKeyTest, KeyMayExistCountsAKeyThatRefusesToOpen)
{
    ASSERT_TRUE(test::WriteString(HKEY_CURRENT_USER, Below(L"locked"), L"v", L"x"));
    test::ReadOnlyKey locked(HKEY_CURRENT_USER, Below(L"locked"), L"D:P");
    ASSERT_TRUE(locked.Applied());
    RegKey root;
    ASSERT_EQ(ERROR_SUCCESS, root.Open(HKEY_CURRENT_USER, base_.c_str(), KEY_READ));

    EXPECT_FALSE(KeyExists(root.get(), L"locked"));
    EXPECT_TRUE(KeyMayExist(root.get(), L"locked"));
    EXPECT_FALSE(KeyExists(root.get(), L"missing"));
    EXPECT_FALSE(KeyMayExist(root.get(), L"missing"));
    ASSERT_TRUE(test::WriteString(HKEY_CURRENT_USER, Below(L"open"), nullptr, L"x"));
    EXPECT_TRUE(KeyExists(root.get(), L"open"));
    EXPECT_TRUE(KeyMayExist(root.get(), L"open"));
}

// The walk upwards from a\b\c\d: it deletes while keys are empty, stops below the first
// key that holds anything, and (unless told otherwise) walks on past a key already gone.
TEST_F(ScratchKeyTest, RemoveEmptyKeysWalksUpWhileKeysHoldNothing)
{
    struct Case {
        const char* Label;
        const wchar_t* ValueIn; // a key of the chain that holds a value, or null
        const wchar_t* Gone;    // a key of the chain deleted before the walk, or null
        EmptyKeysWalk Walk;
        const wchar_t* Left;
    };
    const Case cases[] = {
        {"all empty", nullptr, nullptr, {}, L"----"},
        {"a value in b", L"a\\b", nullptr, {}, L"ab--"},
        {"a value in d itself", L"a\\b\\c\\d", nullptr, {}, L"abcd"},
        {"at most two keys", nullptr, nullptr, {2, false}, L"ab--"},
        {"d already gone", nullptr, L"a\\b\\c\\d", {}, L"----"},
        {"d already gone, which ends the walk", nullptr, L"a\\b\\c\\d", {MAXDWORD, true}, L"abc-"},
        {"no keys at all", nullptr, nullptr, {0, false}, L"abcd"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Label);
        test::DeleteKeyTree(HKEY_CURRENT_USER, base_);
        RegKey chain;
        ASSERT_EQ(ERROR_SUCCESS, chain.Create(HKEY_CURRENT_USER, Below(L"a\\b\\c\\d").c_str()));
        chain.reset();
        if (c.ValueIn != nullptr) {
            ASSERT_TRUE(test::WriteString(HKEY_CURRENT_USER, Below(c.ValueIn), L"kept", L"x"));
        }
        if (c.Gone != nullptr) {
            ASSERT_TRUE(test::DeleteKeyTree(HKEY_CURRENT_USER, Below(c.Gone)));
        }
        EXPECT_EQ(ERROR_SUCCESS, RemoveEmptyKeys(HKEY_CURRENT_USER, base_.c_str(), L"a\\b\\c\\d", c.Walk));
        EXPECT_EQ(std::wstring(c.Left), ChainLeft(base_));
        EXPECT_TRUE(test::KeyExists(HKEY_CURRENT_USER, base_));
    }
}

// This user's product keys go from the one named upwards while they hold nothing; the
// vendor key is the last one asked, and no key outside it is ever touched.
TEST(RemoveEmptyUserProductKeys, TakesOutThisUsersEmptiedProductKeysUpToTheVendorKey)
{
    test::KeyGuard company(HKEY_CURRENT_USER, CompanyKey);
    struct Case {
        const char* Label;
        const wchar_t* ValueIn; // a key that holds a value, or null
        const wchar_t* Path;
        LONG Status;
        bool TableLeft;
        bool ProductLeft;
        bool CompanyLeft;
    };
    const Case cases[] = {
        {"all empty", nullptr, FileIconsKey, ERROR_SUCCESS, false, false, false},
        {"the product key holds a value", ProductKey, FileIconsKey, ERROR_SUCCESS, false, true, true},
        {"the vendor key holds a value", CompanyKey, FileIconsKey, ERROR_SUCCESS, false, false, true},
        {"from the product key", nullptr, ProductKey, ERROR_SUCCESS, true, true, true},
        {"a key outside the vendor's", nullptr, L"Software\\Brindlewick SoftwareX", ERROR_INVALID_PARAMETER, true,
         true, true},
        {"the software key", nullptr, L"Software", ERROR_INVALID_PARAMETER, true, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Label);
        test::DeleteKeyTree(HKEY_CURRENT_USER, CompanyKey);
        RegKey table;
        ASSERT_EQ(ERROR_SUCCESS, table.Create(HKEY_CURRENT_USER, FileIconsKey));
        table.reset();
        if (c.ValueIn != nullptr) {
            ASSERT_TRUE(test::WriteString(HKEY_CURRENT_USER, c.ValueIn, L"kept", L"x"));
        }
        EXPECT_EQ(c.Status, RemoveEmptyUserProductKeys(c.Path));
        EXPECT_EQ(c.TableLeft, test::KeyExists(HKEY_CURRENT_USER, FileIconsKey));
        EXPECT_EQ(c.ProductLeft, test::KeyExists(HKEY_CURRENT_USER, ProductKey));
        EXPECT_EQ(c.CompanyLeft, test::KeyExists(HKEY_CURRENT_USER, CompanyKey));
    }
}

TEST(WriteIconLocationValue, StoresRegSzWithTerminatorCounted)
{
    const std::wstring path = L"Software\\" + test::UniqueName(L"Orvane");
    test::KeyGuard guard(HKEY_CURRENT_USER, path);
    RegKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_CURRENT_USER, path.c_str()));

    IconLocation location(L"C:\\i.ico", L"", NoIndex);
    location.SetTypeKey(L"txtfile");
    EXPECT_EQ(ERROR_SUCCESS, WriteIconLocationValue(key.get(), location, L"long", true));
    EXPECT_EQ(ERROR_SUCCESS, WriteIconLocationValue(key.get(), location, nullptr, false));

    DWORD type = 0;
    DWORD size = 0;
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(key.get(), L"long", nullptr, &type, nullptr, &size));
    EXPECT_EQ(DWORD(REG_SZ), type);
    EXPECT_EQ(sizeof L"C:\\i.ico,-99,txtfile", size);
    std::wstring text;
    ASSERT_TRUE(test::ReadValue(HKEY_CURRENT_USER, path, L"", &text));
    EXPECT_EQ(L"C:\\i.ico", text);

    IconLocation tooLong(std::wstring(255, L'p').c_str(), L"", 12345);
    EXPECT_EQ(ERROR_FILENAME_EXCED_RANGE, WriteIconLocationValue(key.get(), tooLong, L"big", false));
    EXPECT_FALSE(test::ReadValue(HKEY_CURRENT_USER, path, L"big", &text));
}

TEST(ReadTextValue, HostileData)
{
    const std::wstring path = L"Software\\" + test::UniqueName(L"Orvane");
    test::KeyGuard guard(HKEY_CURRENT_USER, path);
    RegKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_CURRENT_USER, path.c_str()));

    const std::wstring big(600, L'b');
    const std::wstring exact(260, L'e'); // 520 bytes and no terminator: cannot fit with one
    const std::wstring full(259, L'f');  // with its terminator 520 bytes, the most that is read
    const wchar_t unterminated[] = {L'a', L'b', L'c'};
    const DWORD number = 0x00000061; // "a" and its terminator in memory
    const BYTE binary[] = {'x', 0, 0, 0, 'y', 0}; // "x", a zero, "y"
    const wchar_t expand[] = L"%SystemRoot%\\x.dll,2";
    test::WriteValue(HKEY_CURRENT_USER, path, L"big", REG_SZ, big.c_str(), DWORD((big.size() + 1) * sizeof(wchar_t)));
    test::WriteValue(HKEY_CURRENT_USER, path, L"exact", REG_SZ, exact.data(), DWORD(exact.size() * sizeof(wchar_t)));
    test::WriteValue(HKEY_CURRENT_USER, path, L"full", REG_SZ, full.c_str(), DWORD((full.size() + 1) * sizeof(wchar_t)));
    test::WriteValue(HKEY_CURRENT_USER, path, L"unterminated", REG_SZ, unterminated, sizeof unterminated);
    test::WriteValue(HKEY_CURRENT_USER, path, L"expand", REG_EXPAND_SZ, expand, sizeof expand);
    test::WriteValue(HKEY_CURRENT_USER, path, L"dword", REG_DWORD, &number, sizeof number);
    test::WriteValue(HKEY_CURRENT_USER, path, L"binary", REG_BINARY, binary, sizeof binary);
    test::WriteValue(HKEY_CURRENT_USER, path, L"empty", REG_SZ, L"", 0);
    // A name and a text that the ANSI code page cannot hold, a surrogate pair among them.
    const wchar_t unicode[] = L"C:\\\U0001F4C1 \u5199\u771F\\a.ico,3";
    test::WriteValue(HKEY_CURRENT_USER, path, L"\u041F\u0440\u043E", REG_SZ, unicode, sizeof unicode);
    // Values as the 8-bit call stores them, as earlier builds of this extension wrote
    // them: the registry keeps UTF-16, each character of the ANSI code page converted, so
    // that 260 of them are 522 bytes and over the limit.
    const char narrow[] = "C:\\Ic\xF4nes\\a.ico,3";
    const std::string narrowOver(260, 'n');
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key.get(), "narrow", 0, REG_SZ, reinterpret_cast<const BYTE*>(narrow),
                                            sizeof narrow));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key.get(), "narrowOver", 0, REG_SZ,
                                            reinterpret_cast<const BYTE*>(narrowOver.c_str()),
                                            DWORD(narrowOver.size() + 1)));

    struct Case {
        const wchar_t* Name;
        std::size_t Limit;
        bool Found;
        const wchar_t* Text;
    };
    const Case cases[] = {
        {L"big", 520, false, nullptr},
        {L"exact", 520, false, nullptr},
        {L"full", 520, true, full.c_str()},
        {L"full", 260, true, full.c_str()},
        {L"full", 259, false, nullptr},
        {L"unterminated", 520, true, L"abc"},
        {L"unterminated", 3, false, nullptr},
        {L"unterminated", 4, true, L"abc"},
        {L"expand", 520, true, L"%SystemRoot%\\x.dll,2"},
        {L"dword", 520, true, L"a"},
        {L"binary", 520, true, L"x"},
        {L"empty", 520, true, L""},
        {L"missing", 520, false, nullptr},
        {L"\u041F\u0440\u043E", 520, true, unicode},
        {L"narrow", 520, true, L"C:\\Ic\u00F4nes\\a.ico,3"},
        {L"narrowOver", 520, false, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        wchar_t out[RegistryTextLimit];
        std::fill(std::begin(out), std::end(out), L'#');
        out[std::size(out) - 1] = L'\0';
        const bool found = ReadTextValue(key.get(), c.Name, out, c.Limit);
        EXPECT_EQ(c.Found, found);
        if (c.Found) {
            EXPECT_STREQ(c.Text, out);
        } else {
            EXPECT_EQ(L'#', out[0]) << "a failed read leaves the buffer untouched";
        }
    }
}
