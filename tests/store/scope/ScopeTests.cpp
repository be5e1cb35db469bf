// The two scopes: which places accept a write for a standard user (all users' keys made
// to refuse writes, as on Windows with User Account Control), and which class key this
// user's Explorer sees.
#include <gtest/gtest.h>

#include <windows.h>

#include <iterator>
#include <optional>
#include <string>

#include "Registry.h"
#include "RegistryNames.h"
#include "ScratchRegistry.h"
#include "Scope.h"
#include "ScopeRule.h"
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
    {
        // A batch keeps the answers it was given first, whatever changes while it runs...
        const WriteAnswersKept batch;
        for (const Case& c : cases)
            EXPECT_EQ(c.Ask(type, missingClass), c.Administrator) << c.Name << ", as administrator";
        StandardUser standard({type.Class});
        ASSERT_TRUE(standard.Applied());
        for (const Case& c : cases)
            EXPECT_EQ(c.Ask(type, missingClass), c.Administrator) << c.Name << ", kept by the batch";
    }
    // ...and once it has ended, the registry is asked again.
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

// The rule that decides where a change goes, for each kind of target as its unit states
// the facts: the user's choice x the rights of each scope x where the target's setting
// stands today. A refusal names the scope that refused, so the user is told which.
TEST(ScopeRule, WhereAChangeGoes)
{
    constexpr ScopeChoice Auto = ScopeChoice::Automatic;
    constexpr ScopeChoice Everyone = ScopeChoice::AllUsers;
    constexpr ScopeChoice Me = ScopeChoice::ThisUser;
    constexpr Scope All = Scope::AllUsers;
    constexpr Scope User = Scope::ThisUser;
    struct Row {
        const char* Case;
        ScopeChoice Choice;
        ChangeFacts Facts; // SetForThisUser, AllUsersPreferred, AllUsersAccepts, ThisUserAccepts
        Scope Where;
        bool Refused;
    };
    const Row rows[] = {
        {"folder, administrator", Auto, {false, true, true, true}, All, false},
        {"folder, standard user", Auto, {false, false, false, true}, User, false},
        {"folder set for this user, administrator", Auto, {true, true, true, true}, User, false},
        {"folder, all users chosen by a standard user", Everyone, {false, false, false, true}, All, true},
        {"folder, this user chosen by an administrator", Me, {false, true, true, true}, User, false},
        {"folder, this user's keys locked too", Auto, {false, false, false, false}, User, true},
        {"drive set for this user, all users chosen", Everyone, {true, true, true, true}, All, false},
        {"drive, standard user", Auto, {false, false, false, true}, User, false},
        {"file, administrator, nothing of this user's hides it", Auto, {false, true, true, true}, All, false},
        {"file, administrator, this user's class key hides it", Auto, {false, false, true, true}, User, false},
        {"file, standard user", Auto, {false, false, false, true}, User, false},
        {"type, all users chosen and accepted though hidden", Everyone, {false, false, true, true}, All, false},
        {"type, this user chosen, this user's class locked", Me, {false, true, true, false}, User, true},
        {"type, standard user, both refuse", Auto, {false, false, false, false}, User, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Case);
        const ScopeDecision decision = DecideChangeScope(row.Choice, row.Facts);
        EXPECT_EQ(row.Where, decision.Where);
        EXPECT_EQ(row.Refused, decision.Refused);
    }
}

// Which scope's setting a restore takes back: the one chosen, or the one the user sees.
TEST(ScopeRule, WhatARestoreTakesBack)
{
    struct Row {
        ScopeChoice Choice;
        bool ThisUserHolds;
        bool AllUsersHolds;
        std::optional<Scope> Expected;
    };
    const Row rows[] = {
        {ScopeChoice::Automatic, true, true, Scope::ThisUser}, // this user's hides all users'
        {ScopeChoice::Automatic, false, true, Scope::AllUsers},
        {ScopeChoice::Automatic, false, false, std::nullopt},
        {ScopeChoice::AllUsers, true, false, std::nullopt}, // this user's stays
        {ScopeChoice::AllUsers, true, true, Scope::AllUsers},
        {ScopeChoice::ThisUser, false, true, std::nullopt}, // all users' stays
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << static_cast<int>(row.Choice) << row.ThisUserHolds << row.AllUsersHolds);
        EXPECT_EQ(row.Expected, DecideRestoreScope(row.Choice, row.ThisUserHolds, row.AllUsersHolds));
        // Asked scope by scope, the same answer, and a scope that cannot matter is not asked.
        int asked = 0;
        const auto holds = [&](Scope scope) {
            ++asked;
            return scope == Scope::ThisUser ? row.ThisUserHolds : row.AllUsersHolds;
        };
        EXPECT_EQ(row.Expected, DecideRestoreScope(row.Choice, holds));
        EXPECT_EQ(row.Choice == ScopeChoice::Automatic && !row.ThisUserHolds ? 2 : 1, asked);
    }
}


} // namespace
} // namespace orvane::test
