#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "IconLocation.h"
#include "Registry.h"
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
