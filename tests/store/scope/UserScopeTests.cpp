// Changes of one file and of all files of a type made by a standard user (all users'
// keys refuse writes, as with User Account Control): they go to this user's place, all
// users' place stays byte for byte as it was, and restoring leaves this user's place as
// it was before. Also the merged view of class keys that decides what this user sees,
// the class UserChoice names, changes in both scopes at once, and removing everything.
#include <gtest/gtest.h>

#include <windows.h>

#include <optional>
#include <string>

#include "ClassIconHandler.h"
#include "FileIconResolution.h"
#include "FileIconTable.h"
#include "FileTypeIcons.h"
#include "HostileStates.h"
#include "IconTarget.h"
#include "Registry.h"
#include "RegistryNames.h"
#include "RemoveAll.h"
#include "ScratchRegistry.h"
#include "Scope.h"
#include "TestSupport.h"

namespace orvane::test {
namespace {

constexpr wchar_t MachineIcon[] = L"C:\\icons\\machine.ico,1";
constexpr wchar_t Library[] = L"C:\\icons\\library.icl";
constexpr wchar_t UserClasses[] = L"Software\\Classes\\";

constexpr bool Type = true;
constexpr bool Single = false;

class UserScopeTest : public ::testing::Test {
protected:
    ScratchType type_;
    KeyGuard machineProduct_{HKEY_LOCAL_MACHINE, ProductRoot};
    KeyGuard userProduct_{HKEY_CURRENT_USER, ProductRoot};
    TempDir dir_;
    std::wstring file_ = dir_.MakeFile(L"a" + type_.Extension);
    std::wstring sibling_ = dir_.MakeFile(L"b" + type_.Extension);

    void SetUp() override { type_.SetDefaultIcon(MachineIcon); }

    // All users' places this test can touch, and this user's.
    std::wstring AllUsersPlaces() const
    {
        return DumpKey(HKEY_CLASSES_ROOT, type_.Class) + DumpKey(HKEY_CLASSES_ROOT, type_.Extension) +
               DumpKey(HKEY_LOCAL_MACHINE, ProductRoot);
    }
    std::wstring UserPlaces() const
    {
        return DumpKey(HKEY_CURRENT_USER, UserClasses + type_.Class) +
               DumpKey(HKEY_CURRENT_USER, UserClasses + type_.Extension) + DumpKey(HKEY_CURRENT_USER, ProductRoot);
    }

    // What the dialog does when it opens on the file with "all files of this type" as given.
    static IconTarget Open(const std::wstring& path, bool allOfType, ScopeChoice choice = ScopeChoice::Automatic)
    {
        IconTarget target(path.c_str());
        target.RememberOriginal(target.ReadCurrentIcon());
        target.SetAllOfType(allOfType);
        target.SetScopeChoice(choice);
        return target;
    }
    static ChangeResult Apply(const std::wstring& path, bool allOfType, int index,
                              ScopeChoice choice = ScopeChoice::Automatic, std::optional<Scope>* changed = nullptr)
    {
        IconTarget target = Open(path, allOfType, choice);
        target.SetCurrentIconPath(Library);
        target.SetCurrentIndex(index);
        const ChangeResult result = target.ApplyIcon();
        if (changed != nullptr)
            *changed = target.ChangedScope();
        return result;
    }
    static ChangeResult Restore(const std::wstring& path, bool allOfType, ScopeChoice choice = ScopeChoice::Automatic,
                                std::optional<Scope>* changed = nullptr)
    {
        IconTarget target = Open(path, allOfType, choice);
        const ChangeResult result = target.RestoreDefault();
        if (changed != nullptr)
            *changed = target.ChangedScope();
        return result;
    }
    // What the icon handler answers for a file, as "path,index".
    static std::wstring Answer(const std::wstring& path)
    {
        const FileIconAnswer answer = ResolveFileIcon(path.c_str(), nullptr);
        return std::wstring(answer.IconPath) + L"," + std::to_wstring(answer.Index);
    }
    static std::wstring Seen(const std::wstring& path)
    {
        IconTarget target(path.c_str());
        const auto& current = target.ReadCurrentIcon();
        return current ? std::wstring(current->IconPath) + L"," + std::to_wstring(current->Index) : L"<none>";
    }
    static std::wstring Chosen(int index) { return std::wstring(Library) + L"," + std::to_wstring(index); }
};

TEST_F(UserScopeTest, EachKindAppliedAndRestoredGoesToTheScopeThatAcceptsIt)
{
    struct Case {
        const char* Name;
        bool AllOfType;
        bool Standard;
        Scope Expected;
    };
    const Case cases[] = {
        {"one file, standard user", Single, true, Scope::ThisUser},
        {"all files of the type, standard user", Type, true, Scope::ThisUser},
        {"one file, administrator", Single, false, Scope::AllUsers},
        {"all files of the type, administrator", Type, false, Scope::AllUsers},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        // Snapshots taken as the standard user, whose stand-in makes all users' product
        // key when it is missing so that it cannot be made.
        std::optional<StandardUser> standard;
        if (c.Standard) {
            standard.emplace(std::vector<std::wstring>{type_.Class});
            ASSERT_TRUE(standard->Applied());
        }
        const std::wstring userBefore = UserPlaces();
        const std::wstring allBefore = AllUsersPlaces();
        const std::wstring classBefore = type_.Dump();
        std::optional<Scope> changed;
        ASSERT_EQ(ChangeResult::Done, Apply(file_, c.AllOfType, 3, ScopeChoice::Automatic, &changed));
        EXPECT_EQ(changed, c.Expected);
        if (c.Expected == Scope::ThisUser)
            EXPECT_EQ(allBefore, AllUsersPlaces());
        else
            EXPECT_EQ(userBefore, UserPlaces());

        IconTarget reopened(file_.c_str());
        ASSERT_TRUE(reopened.ReadCurrentIcon());
        EXPECT_EQ(Chosen(3),
                  std::wstring(reopened.Current->IconPath) + L"," + std::to_wstring(reopened.Current->Index));
        EXPECT_EQ(reopened.CurrentScope(), c.Expected);
        EXPECT_EQ(Chosen(3), Answer(file_));
        // One file's change leaves its sibling with the type's icon.
        EXPECT_EQ(c.AllOfType ? Chosen(3) : MachineIcon, Answer(sibling_));

        ASSERT_EQ(ChangeResult::Done, Restore(file_, c.AllOfType, ScopeChoice::Automatic, &changed));
        EXPECT_EQ(changed, c.Expected);
        EXPECT_EQ(userBefore, UserPlaces());
        // All users' table stays when its last entry goes, as it always did.
        if (c.Expected == Scope::ThisUser)
            EXPECT_EQ(allBefore, AllUsersPlaces());
        else
            EXPECT_EQ(classBefore, type_.Dump());
        EXPECT_EQ(MachineIcon, Answer(file_));
        EXPECT_EQ(MachineIcon, Seen(file_));
    }
}

// A type this user's change is the first to register (no extension or class key in either
// scope) is made in this user's classes with the extension key that leads to it; restoring
// takes both out again. An extension key this user had before, beside all users' one, stays.
TEST_F(UserScopeTest, RestoringATypeNewToThisUserLeavesNoKeyOfIt)
{
    struct Case {
        const char* Name;
        bool Registered;    // all users have the extension and its class
        bool OwnExtension;  // this user has an extension key of their own, naming the class
        bool AllOfType;
    };
    const Case cases[] = {
        {"new type, one file", false, false, Single},
        {"new type, all files", false, false, Type},
        {"own extension key over all users' type, one file", true, true, Single},
        {"own extension key over all users' type, all files", true, true, Type},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        ScratchType fresh(c.Registered);
        if (c.Registered)
            fresh.SetDefaultIcon(MachineIcon);
        if (c.OwnExtension) {
            ASSERT_TRUE(WriteString(HKEY_CURRENT_USER, UserClasses + fresh.Extension, nullptr, fresh.Class));
        }
        const std::wstring file = dir_.MakeFile(L"new" + fresh.Extension);
        const auto userPlaces = [&] {
            return DumpKey(HKEY_CURRENT_USER, UserClasses + fresh.Class) +
                   DumpKey(HKEY_CURRENT_USER, UserClasses + fresh.Extension) + DumpKey(HKEY_CURRENT_USER, ProductRoot);
        };
        const std::wstring before = userPlaces();
        std::optional<Scope> changed;
        ASSERT_EQ(ChangeResult::Done, Apply(file, c.AllOfType, 4, ScopeChoice::ThisUser, &changed));
        EXPECT_EQ(changed, Scope::ThisUser);
        EXPECT_EQ(Chosen(4), Answer(file));
        EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, UserClasses + fresh.Extension));
        ASSERT_EQ(ChangeResult::Done, Restore(file, c.AllOfType, ScopeChoice::ThisUser));
        EXPECT_EQ(before, userPlaces());
    }
}

// A scope chosen whose places refuse the write: refused whole, nothing written in either
// scope. This user's keys are asked before writing as all users' are: Wine (like a key
// created through a path on some systems) accepts a key created below one that refuses.
TEST_F(UserScopeTest, ChosenScopeThatRefusesIsRefusedWithNothingWritten)
{
    struct Case {
        const char* Name;
        ScopeChoice Choice;
        bool Standard;   // all users' keys refuse, as for a standard user
        bool UserLocked; // this user's product key and classes refuse
        // This user's handler serves the class already (installed by this user's type
        // change over all users' handler), so that a file's change writes the table only.
        bool Installed;
    };
    const Case cases[] = {
        {"all users chosen without the rights", ScopeChoice::AllUsers, true, false, false},
        {"this user chosen, this user's keys locked", ScopeChoice::ThisUser, false, true, false},
        {"this user chosen, this user's keys locked, this user's handler installed", ScopeChoice::ThisUser, false,
         true, true},
    };
    for (const Case& c : cases) {
        for (const bool allOfType : {Single, Type}) {
            SCOPED_TRACE(std::string(c.Name) + (allOfType ? ", type" : ", one file"));
            if (c.Installed) {
                ASSERT_EQ(ChangeResult::Done, Apply(sibling_, Single, 1, ScopeChoice::AllUsers));
                ASSERT_EQ(ChangeResult::Done, Apply(sibling_, Type, 2, ScopeChoice::ThisUser));
            }
            {
                std::optional<StandardUser> standard;
                if (c.Standard) {
                    standard.emplace(std::vector<std::wstring>{type_.Class});
                    ASSERT_TRUE(standard->Applied());
                }
                std::optional<UserLocks> locks;
                if (c.UserLocked) {
                    // No drive's key: one of this user's that does not exist.
                    locks.emplace(std::vector<std::wstring>{type_.Class, type_.Extension},
                                  UserClasses + type_.Extension + L"-none\\Drive");
                    ASSERT_TRUE(locks->Applied());
                }
                const std::wstring userBefore = UserPlaces();
                const std::wstring allBefore = AllUsersPlaces();
                std::optional<Scope> changed;
                EXPECT_EQ(ChangeResult::AccessDenied, Apply(file_, allOfType, 3, c.Choice, &changed));
                EXPECT_EQ(changed, c.Choice == ScopeChoice::AllUsers ? Scope::AllUsers : Scope::ThisUser);
                EXPECT_EQ(userBefore, UserPlaces());
                EXPECT_EQ(allBefore, AllUsersPlaces());
            }
            if (c.Installed) {
                ASSERT_EQ(ChangeResult::Done, Restore(sibling_, Type, ScopeChoice::ThisUser));
                ASSERT_EQ(ChangeResult::Done, Restore(sibling_, Single, ScopeChoice::AllUsers));
            }
        }
    }
}

TEST_F(UserScopeTest, ThisUserChosenWithTheRightsGoesToThisUsersPlace)
{
    for (const bool allOfType : {Single, Type}) {
        SCOPED_TRACE(allOfType ? "type" : "one file");
        const std::wstring userBefore = UserPlaces();
        const std::wstring allBefore = AllUsersPlaces();
        ASSERT_EQ(ChangeResult::Done, Apply(file_, allOfType, 5, ScopeChoice::ThisUser));
        EXPECT_EQ(allBefore, AllUsersPlaces());
        EXPECT_NE(userBefore, UserPlaces());
        EXPECT_EQ(Chosen(5), Answer(file_));
        ASSERT_EQ(ChangeResult::Done, Restore(file_, allOfType));
        EXPECT_EQ(userBefore, UserPlaces());
        EXPECT_EQ(MachineIcon, Answer(file_));
    }
}

// What this user sees of a class is each key of the path as this user has it, else as
// all users have it; a key of this user's hides all users' key of the same path with all
// its values, and only that key.
TEST_F(UserScopeTest, ClassKeysAreReadKeyByKeyThisUsersFirst)
{
    const std::wstring other = UniqueName(L"orvtclass");
    KeyGuard otherMachine(HKEY_CLASSES_ROOT, other);
    KeyGuard otherUser(HKEY_CURRENT_USER, UserClasses + other);
    const std::wstring userClass = UserClasses + type_.Class;
    struct Case {
        const char* Name;
        void (*Arrange)(const std::wstring& userClass, const std::wstring& cls, const std::wstring& other);
        const wchar_t* Seen; // "path,index|class", or "<none>"
        const wchar_t* Answer;
    };
    const Case cases[] = {
        {"this user's DefaultIcon over all users'",
         [](const std::wstring& u, const std::wstring&, const std::wstring&) {
             WriteString(HKEY_CURRENT_USER, u + L"\\DefaultIcon", nullptr, L"C:\\icons\\user.ico,2");
         },
         L"C:\\icons\\user.ico,2|class", L"C:\\icons\\user.ico,2"},
        {"this user's class key without a DefaultIcon leaves all users' DefaultIcon seen",
         [](const std::wstring& u, const std::wstring&, const std::wstring&) {
             WriteString(HKEY_CURRENT_USER, u + L"\\shell\\open\\command", nullptr, L"notepad %1");
             WriteString(HKEY_CURRENT_USER, u, nullptr, L"This user's document");
         },
         L"C:\\icons\\machine.ico,1|class", MachineIcon},
        {"this user's DefaultIcon without a value hides all users' one",
         [](const std::wstring& u, const std::wstring&, const std::wstring&) {
             WriteString(HKEY_CURRENT_USER, u + L"\\DefaultIcon", L"Other", L"x");
         },
         L"<none>", nullptr},
        {"a CurVer of this user's leads to all users' class",
         [](const std::wstring& u, const std::wstring& cls, const std::wstring& o) {
             DeleteKeyTree(HKEY_CLASSES_ROOT, cls + L"\\DefaultIcon");
             WriteString(HKEY_CURRENT_USER, u + L"\\CurVer", nullptr, o);
             WriteString(HKEY_CLASSES_ROOT, o + L"\\DefaultIcon", nullptr, L"C:\\icons\\next.ico,4");
         },
         L"C:\\icons\\next.ico,4|other", L"C:\\icons\\next.ico,4"},
        {"a CurVer cycle through both scopes ends with none",
         [](const std::wstring& u, const std::wstring& cls, const std::wstring& o) {
             DeleteKeyTree(HKEY_CLASSES_ROOT, cls + L"\\DefaultIcon");
             WriteString(HKEY_CURRENT_USER, u + L"\\CurVer", nullptr, o);
             WriteString(HKEY_CLASSES_ROOT, o + L"\\CurVer", nullptr, cls);
         },
         L"<none>", nullptr},
        {"a CurVer of all users' to a class only this user has",
         [](const std::wstring&, const std::wstring& cls, const std::wstring& o) {
             DeleteKeyTree(HKEY_CLASSES_ROOT, cls + L"\\DefaultIcon");
             WriteString(HKEY_CLASSES_ROOT, cls + L"\\CurVer", nullptr, o);
             WriteString(HKEY_CURRENT_USER, UserClasses + o + L"\\DefaultIcon", nullptr, L"C:\\icons\\own.ico,6");
         },
         L"C:\\icons\\own.ico,6|other", L"C:\\icons\\own.ico,6"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        c.Arrange(userClass, type_.Class, other);
        std::wstring seen = LocationText(ReadTypeIcon(type_.Extension.c_str(), nullptr, true));
        // The class part, named rather than spelled out.
        const std::wstring tail = L"|" + type_.Extension;
        if (Contains(seen, tail))
            seen = seen.substr(0, seen.find(tail));
        if (Contains(seen, L"|" + type_.Class))
            seen.replace(seen.find(L"|" + type_.Class), type_.Class.size() + 1, L"|class");
        if (Contains(seen, L"|" + other))
            seen.replace(seen.find(L"|" + other), other.size() + 1, L"|other");
        EXPECT_EQ(c.Seen, seen);
        EXPECT_EQ(c.Answer != nullptr ? std::wstring(c.Answer) : file_ + L",0", Answer(file_));
        // The class as the system registered it is nobody's setting.
        IconTarget target(file_.c_str());
        target.ReadCurrentIcon();
        EXPECT_FALSE(target.CurrentScope().has_value());

        DeleteKeyTree(HKEY_CURRENT_USER, userClass);
        DeleteKeyTree(HKEY_CURRENT_USER, UserClasses + other);
        DeleteKeyTree(HKEY_CLASSES_ROOT, other);
        type_.SetDefaultIcon(MachineIcon);
    }
}

TEST_F(UserScopeTest, UserChoiceNamesTheClassThatChangesGoTo)
{
    const std::wstring chosen = UniqueName(L"orvtchosen");
    KeyGuard chosenMachine(HKEY_CLASSES_ROOT, chosen);
    KeyGuard chosenUser(HKEY_CURRENT_USER, UserClasses + chosen);
    const std::wstring choiceKey =
        L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\" + type_.Extension + L"\\UserChoice";
    ASSERT_TRUE(WriteString(HKEY_CLASSES_ROOT, chosen + L"\\DefaultIcon", nullptr, L"C:\\icons\\chosen.ico,5"));

    // A choice of a class that does not exist is passed over.
    ASSERT_TRUE(WriteString(HKEY_CURRENT_USER, choiceKey, L"ProgId", UniqueName(L"orvtmissing")));
    EXPECT_EQ(MachineIcon, Answer(file_));
    ASSERT_TRUE(WriteString(HKEY_CURRENT_USER, choiceKey, L"ProgId", chosen));
    wchar_t className[TextCapacity] = {};
    ASSERT_TRUE(ReadExtensionClass(type_.Extension.c_str(), className));
    EXPECT_EQ(chosen, className);
    EXPECT_EQ(L"C:\\icons\\chosen.ico,5", Answer(file_));

    const std::wstring chosenBefore = DumpKey(HKEY_CLASSES_ROOT, chosen);
    const std::wstring classBefore = type_.Dump();
    for (const bool allOfType : {Type, Single}) {
        SCOPED_TRACE(allOfType ? "type" : "one file");
        ASSERT_EQ(ChangeResult::Done, Apply(file_, allOfType, 2));
        EXPECT_EQ(Chosen(2), Answer(file_));
        EXPECT_EQ(classBefore, type_.Dump());
        EXPECT_NE(chosenBefore, DumpKey(HKEY_CLASSES_ROOT, chosen));
        if (!allOfType) {
            EXPECT_TRUE(IsOwnIconHandler(chosen.c_str(), Scope::AllUsers));
            EXPECT_EQ(L"C:\\icons\\chosen.ico,5", Answer(sibling_));
        }
        ASSERT_EQ(ChangeResult::Done, Restore(file_, allOfType));
        EXPECT_EQ(chosenBefore, DumpKey(HKEY_CLASSES_ROOT, chosen));
        EXPECT_EQ(L"C:\\icons\\chosen.ico,5", Answer(file_));
    }

    // A chosen class that only this user has makes the change this user's.
    DeleteKeyTree(HKEY_CLASSES_ROOT, chosen);
    ASSERT_TRUE(
        WriteString(HKEY_CURRENT_USER, UserClasses + chosen + L"\\DefaultIcon", nullptr, L"C:\\icons\\mine.ico,1"));
    const std::wstring allBefore = AllUsersPlaces();
    const std::wstring mineBefore = DumpKey(HKEY_CURRENT_USER, UserClasses + chosen);
    std::optional<Scope> changed;
    ASSERT_EQ(ChangeResult::Done, Apply(file_, Type, 4, ScopeChoice::Automatic, &changed));
    EXPECT_EQ(changed, Scope::ThisUser);
    EXPECT_EQ(allBefore, AllUsersPlaces());
    EXPECT_EQ(Chosen(4), Answer(file_));
    ASSERT_EQ(ChangeResult::Done, Restore(file_, Type));
    EXPECT_EQ(mineBefore, DumpKey(HKEY_CURRENT_USER, UserClasses + chosen));
}

// An all users' change, then this user's of the same target, restored in either order:
// each step shows what it should, and the end is the start.
TEST_F(UserScopeTest, ChangesInBothScopesRestoredInEitherOrder)
{
    struct Case {
        const char* Name;
        bool AllOfType;
        bool ThisUsersFirst;
    };
    const Case cases[] = {
        {"type, this user's restored first", Type, true},
        {"type, all users' restored first", Type, false},
        {"one file, this user's restored first", Single, true},
        {"one file, all users' restored first", Single, false},
    };
    // All users' table stays when its last entry goes, as it always did: it is there from
    // the start.
    RegKey table;
    ASSERT_EQ(ERROR_SUCCESS, table.Create(HKEY_LOCAL_MACHINE, FileIconsKey));
    table.reset();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::wstring userBefore = UserPlaces();
        const std::wstring allBefore = AllUsersPlaces();
        ASSERT_EQ(ChangeResult::Done, Apply(file_, c.AllOfType, 1));
        EXPECT_EQ(Chosen(1), Answer(file_));
        EXPECT_EQ(userBefore, UserPlaces());
        ASSERT_EQ(ChangeResult::Done, Apply(file_, c.AllOfType, 2, ScopeChoice::ThisUser));
        EXPECT_EQ(Chosen(2), Answer(file_));
        EXPECT_EQ(Chosen(2), Seen(file_));
        EXPECT_EQ(c.AllOfType ? Chosen(2) : MachineIcon, Answer(sibling_));

        if (c.ThisUsersFirst) {
            ASSERT_EQ(ChangeResult::Done, Restore(file_, c.AllOfType));
            EXPECT_EQ(Chosen(1), Answer(file_));
            EXPECT_EQ(Chosen(1), Seen(file_));
            EXPECT_EQ(userBefore, UserPlaces());
            ASSERT_EQ(ChangeResult::Done, Restore(file_, c.AllOfType));
        } else {
            {
                // A standard user may not take all users' change back.
                StandardUser standard({type_.Class});
                ASSERT_TRUE(standard.Applied());
                const std::wstring allNow = AllUsersPlaces();
                EXPECT_EQ(ChangeResult::AccessDenied, Restore(file_, c.AllOfType, ScopeChoice::AllUsers));
                EXPECT_EQ(allNow, AllUsersPlaces());
            }
            ASSERT_EQ(ChangeResult::Done, Restore(file_, c.AllOfType, ScopeChoice::AllUsers));
            EXPECT_EQ(allBefore, AllUsersPlaces());
            EXPECT_EQ(Chosen(2), Answer(file_));
            EXPECT_EQ(Chosen(2), Seen(file_));
            ASSERT_EQ(ChangeResult::Done, Restore(file_, c.AllOfType));
        }
        EXPECT_EQ(MachineIcon, Answer(file_));
        EXPECT_EQ(MachineIcon, Answer(sibling_));
        EXPECT_EQ(userBefore, UserPlaces());
        EXPECT_EQ(allBefore, AllUsersPlaces());
    }
}

// All users' file entries keep showing for a standard user who gives the type an icon of
// their own: the class stays "%1" in this user's view, so Explorer keeps asking the handler.
// Restoring the file for this user meanwhile finds no entry of this user's and changes
// nothing: the handler this user's type change installed stays until that is restored.
TEST_F(UserScopeTest, ThisUsersTypeIconKeepsAllUsersFileEntriesShowing)
{
    struct Case {
        const char* Name;
        bool RestoreFileForThisUser; // before the type is restored
    };
    const Case cases[] = {
        {"the type restored", false},
        {"the file restored for this user, then the type", true},
    };
    const std::wstring classBefore = type_.Dump();
    const std::wstring userBefore = UserPlaces();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        ASSERT_EQ(ChangeResult::Done, Apply(file_, Single, 1));
        const std::wstring allChanged = AllUsersPlaces();
        {
            StandardUser standard({type_.Class});
            ASSERT_TRUE(standard.Applied());
            std::optional<Scope> changed;
            ASSERT_EQ(ChangeResult::Done, Apply(sibling_, Type, 2, ScopeChoice::Automatic, &changed));
            EXPECT_EQ(changed, Scope::ThisUser);
            EXPECT_EQ(allChanged, AllUsersPlaces());
            EXPECT_EQ(L"%1", ValueText(HKEY_CURRENT_USER, UserClasses + type_.Key(L"DefaultIcon")));
            EXPECT_EQ(Chosen(1), Answer(file_));
            EXPECT_EQ(Chosen(2), Answer(sibling_));
            EXPECT_EQ(Chosen(2), Seen(sibling_));

            if (c.RestoreFileForThisUser) {
                const std::wstring userChanged = UserPlaces();
                EXPECT_EQ(ChangeResult::Done, Restore(file_, Single, ScopeChoice::ThisUser));
                EXPECT_EQ(userChanged, UserPlaces());
                EXPECT_EQ(allChanged, AllUsersPlaces());
                EXPECT_EQ(Chosen(1), Answer(file_));
                EXPECT_EQ(Chosen(2), Answer(sibling_));
            }

            ASSERT_EQ(ChangeResult::Done, Restore(sibling_, Type));
            EXPECT_EQ(userBefore, UserPlaces());
            EXPECT_EQ(allChanged, AllUsersPlaces());
            EXPECT_EQ(Chosen(1), Answer(file_));
            EXPECT_EQ(MachineIcon, Answer(sibling_));
        }
        ASSERT_EQ(ChangeResult::Done, Restore(file_, Single));
        EXPECT_EQ(classBefore, type_.Dump());
    }
}

TEST_F(UserScopeTest, RemoveAllCoversBothScopesAndReportsWhatIsRefused)
{
    const std::wstring userBefore = UserPlaces();
    const std::wstring classBefore = type_.Dump();
    const std::wstring extensionBefore = DumpKey(HKEY_CLASSES_ROOT, type_.Extension);
    ASSERT_EQ(ChangeResult::Done, Apply(file_, Single, 1));
    ASSERT_EQ(ChangeResult::Done, Apply(sibling_, Single, 2, ScopeChoice::ThisUser));
    const std::wstring allChanged = AllUsersPlaces();
    {
        StandardUser standard({type_.Class});
        ASSERT_TRUE(standard.Applied());
        EXPECT_EQ(ERROR_ACCESS_DENIED, RemoveAllSettings());
        EXPECT_EQ(userBefore, UserPlaces());
        EXPECT_EQ(allChanged, AllUsersPlaces());
        EXPECT_EQ(Chosen(1), Answer(file_));
        EXPECT_EQ(MachineIcon, Answer(sibling_));
        EXPECT_EQ(ERROR_SUCCESS, RemoveAllSettings(Scope::ThisUser));
    }
    EXPECT_EQ(ERROR_SUCCESS, RemoveAllSettings());
    EXPECT_EQ(classBefore, type_.Dump());
    EXPECT_EQ(extensionBefore, DumpKey(HKEY_CLASSES_ROOT, type_.Extension));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, FileIconsKey));
    EXPECT_EQ(userBefore, UserPlaces());
    EXPECT_EQ(MachineIcon, Answer(file_));
}

} // namespace
} // namespace orvane::test
