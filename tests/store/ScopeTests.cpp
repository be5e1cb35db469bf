// The two scopes: which places accept a write for a standard user (all users' keys made
// to refuse writes, as on Windows with User Account Control), and which class key this
// user's Explorer sees.
#include <gtest/gtest.h>

#include <windows.h>

#include <iterator>
#include <string>

#include "Registry.h"
#include "ScratchRegistry.h"
#include "Scope.h"
#include "TestSupport.h"

namespace orvane::test {
namespace {

TEST(Scope, WhatAStandardUserMayWrite)
{
    ScratchType type;
    const std::wstring missingClass = UniqueName(L"class");
    KeyGuard missing(HKEY_CLASSES_ROOT, missingClass);
    KeyGuard userTable(HKEY_CURRENT_USER, L"Software\\Brindlewick Software\\Orvane");
    struct Case {
        const char* Name;
        bool (*Ask)(const ScratchType&, const std::wstring&);
        bool Administrator;
        bool StandardUser;
    };
    const Case cases[] = {
        {"all users' table",
         [](const ScratchType&, const std::wstring&) { return MayWrite(HKEY_LOCAL_MACHINE, FileIconsKey); }, true, false},
        {"this user's table",
         [](const ScratchType&, const std::wstring&) { return MayWrite(HKEY_CURRENT_USER, FileIconsKey); }, true, true},
        {"all users' class, a key still to be made",
         [](const ScratchType& t, const std::wstring&) { return MayWriteClassKey(Scope::AllUsers, t.Key(L"DefaultIcon").c_str()); },
         true, false},
        {"all users' class itself",
         [](const ScratchType& t, const std::wstring&) { return MayWriteClassKey(Scope::AllUsers, t.Class.c_str()); }, true,
         false},
        {"a class nobody has yet",
         [](const ScratchType&, const std::wstring& m) { return MayWriteClassKey(Scope::AllUsers, m.c_str()); }, true, false},
        {"this user's class",
         [](const ScratchType& t, const std::wstring&) { return MayWriteClassKey(Scope::ThisUser, t.Key(L"DefaultIcon").c_str()); },
         true, true},
        {"all users' drive icons",
         [](const ScratchType&, const std::wstring&) {
             return MayWrite(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\DriveIcons\\Q\\DefaultIcon");
         },
         true, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.Ask(type, missingClass), c.Administrator) << c.Name << ", as administrator";
    StandardUser standard({type.Class});
    ASSERT_TRUE(standard.Applied());
    for (const Case& c : cases)
        EXPECT_EQ(c.Ask(type, missingClass), c.StandardUser) << c.Name << ", as a standard user";
}

TEST(Scope, ThisUsersKeyHidesAllUsersKeyOfTheSamePath)
{
    ScratchType type;
    ASSERT_TRUE(WriteString(HKEY_CLASSES_ROOT, type.Key(L"DefaultIcon"), nullptr, L"C:\\machine.ico,1"));
    RegKey key;
    EXPECT_EQ(OpenVisibleClassKey(type.Key(L"DefaultIcon").c_str(), KEY_READ, key), Scope::AllUsers);
    // A user key without the value still hides the machine's key, as Windows' merged view does.
    ASSERT_TRUE(WriteString(HKEY_CURRENT_USER, L"Software\\Classes\\" + type.Key(L"DefaultIcon"), L"Other", L"x"));
    ASSERT_EQ(OpenVisibleClassKey(type.Key(L"DefaultIcon").c_str(), KEY_READ, key), Scope::ThisUser);
    wchar_t text[TextCapacity];
    EXPECT_FALSE(ReadTextValue(key.get(), nullptr, text, std::size(text)));
    EXPECT_FALSE(OpenVisibleClassKey((type.Class + L"\\NoSuchKey").c_str(), KEY_READ, key).has_value());
}

} // namespace
} // namespace orvane::test
