// Changes of one file and of all files of a type made by a standard user (all users'
// keys refuse writes, as with User Account Control): they go to this user's place, all
// users' place stays byte for byte as it was, and restoring leaves this user's place as
// it was before. Also the merged view of class keys that decides what this user sees,
// the class UserChoice names, changes in both scopes at once, and removing everything.
#include <gtest/gtest.h>

#include <windows.h>

#include <optional>
#include <string>

#include "FileIconResolution.h"
#include "FileIconTable.h"
#include "FileTypeIcons.h"
#include "IconTarget.h"
#include "Registry.h"
#include "RemoveAll.h"
#include "ScratchRegistry.h"
#include "Scope.h"
#include "TestSupport.h"

namespace orvane::test {
namespace {

constexpr char MachineIcon[] = "C:\\icons\\machine.ico,1";
constexpr char Library[] = "C:\\icons\\library.icl";
constexpr char UserClasses[] = "Software\\Classes\\";

constexpr bool Type = true;
constexpr bool Single = false;

class UserScopeTest : public ::testing::Test {
protected:
    ScratchType type_;
    KeyGuard machineProduct_{HKEY_LOCAL_MACHINE, ProductRoot};
    KeyGuard userProduct_{HKEY_CURRENT_USER, ProductRoot};
    TempDir dir_;
    std::string file_ = dir_.MakeFile("a" + type_.Extension);
    std::string sibling_ = dir_.MakeFile("b" + type_.Extension);

    void SetUp() override { type_.SetDefaultIcon(MachineIcon); }

    // All users' places this test can touch, and this user's.
    std::string AllUsersPlaces() const
    {
        return DumpKey(HKEY_CLASSES_ROOT, type_.Class) + DumpKey(HKEY_CLASSES_ROOT, type_.Extension) +
               DumpKey(HKEY_LOCAL_MACHINE, ProductRoot);
    }
    std::string UserPlaces() const
    {
        return DumpKey(HKEY_CURRENT_USER, UserClasses + type_.Class) +
               DumpKey(HKEY_CURRENT_USER, UserClasses + type_.Extension) + DumpKey(HKEY_CURRENT_USER, ProductRoot);
    }

    // What the dialog does when it opens on the file with "all files of this type" as given.
    static IconTarget Open(const std::string& path, bool allOfType, ScopeChoice choice = ScopeChoice::Automatic)
    {
        IconTarget target(path.c_str());
        target.RememberOriginal(target.ReadCurrentIcon());
        target.SetAllOfType(allOfType);
        target.SetScopeChoice(choice);
        return target;
    }
    static ChangeResult Apply(const std::string& path, bool allOfType, int index,
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
    static ChangeResult Restore(const std::string& path, bool allOfType, ScopeChoice choice = ScopeChoice::Automatic,
                                std::optional<Scope>* changed = nullptr)
    {
        IconTarget target = Open(path, allOfType, choice);
        const ChangeResult result = target.RestoreDefault();
        if (changed != nullptr)
            *changed = target.ChangedScope();
        return result;
    }
    // What the icon handler answers for a file, as "path,index".
    static std::string Answer(const std::string& path)
    {
        const FileIconAnswer answer = ResolveFileIcon(path.c_str(), nullptr);
        return std::string(answer.IconPath) + "," + std::to_string(answer.Index);
    }
    static std::string Seen(const std::string& path)
    {
        IconTarget target(path.c_str());
        const auto& current = target.ReadCurrentIcon();
        return current ? std::string(current->IconPath) + "," + std::to_string(current->Index) : "<none>";
    }
    static std::string Chosen(int index) { return std::string(Library) + "," + std::to_string(index); }
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
            standard.emplace(std::vector<std::string>{type_.Class});
            ASSERT_TRUE(standard->Applied());
        }
        const std::string userBefore = UserPlaces();
        const std::string allBefore = AllUsersPlaces();
        const std::string classBefore = type_.Dump();
        std::optional<Scope> changed;
        ASSERT_EQ(ChangeResult::Done, Apply(file_, c.AllOfType, 3, ScopeChoice::Automatic, &changed));
        EXPECT_EQ(changed, c.Expected);
        if (c.Expected == Scope::ThisUser)
            EXPECT_EQ(allBefore, AllUsersPlaces());
        else
            EXPECT_EQ(userBefore, UserPlaces());

        IconTarget reopened(file_.c_str());
        ASSERT_TRUE(reopened.ReadCurrentIcon());
        EXPECT_EQ(Chosen(3), std::string(reopened.Current->IconPath) + "," + std::to_string(reopened.Current->Index));
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

TEST_F(UserScopeTest, AllUsersChosenWithoutTheRightsIsRefusedWithNothingWritten)
{
    for (const bool allOfType : {Single, Type}) {
        SCOPED_TRACE(allOfType ? "type" : "one file");
        StandardUser standard({type_.Class});
        ASSERT_TRUE(standard.Applied());
        const std::string userBefore = UserPlaces();
        const std::string allBefore = AllUsersPlaces();
        std::optional<Scope> changed;
        EXPECT_EQ(ChangeResult::AccessDenied, Apply(file_, allOfType, 3, ScopeChoice::AllUsers, &changed));
        EXPECT_EQ(changed, Scope::AllUsers);
        EXPECT_EQ(userBefore, UserPlaces());
        EXPECT_EQ(allBefore, AllUsersPlaces());
    }
}

TEST_F(UserScopeTest, ThisUserChosenWithTheRightsGoesToThisUsersPlace)
{
    for (const bool allOfType : {Single, Type}) {
        SCOPED_TRACE(allOfType ? "type" : "one file");
        const std::string userBefore = UserPlaces();
        const std::string allBefore = AllUsersPlaces();
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
    const std::string other = UniqueName("orvtclass");
    KeyGuard otherMachine(HKEY_CLASSES_ROOT, other);
    KeyGuard otherUser(HKEY_CURRENT_USER, UserClasses + other);
    const std::string userClass = UserClasses + type_.Class;
    struct Case {
        const char* Name;
        void (*Arrange)(const std::string& userClass, const std::string& cls, const std::string& other);
        const char* Seen; // "path,index|class", or "<none>"
        const char* Answer;
    };
    const Case cases[] = {
        {"this user's DefaultIcon over all users'",
         [](const std::string& u, const std::string&, const std::string&) {
             WriteString(HKEY_CURRENT_USER, u + "\\DefaultIcon", nullptr, "C:\\icons\\user.ico,2");
         },
         "C:\\icons\\user.ico,2|class", "C:\\icons\\user.ico,2"},
        {"this user's class key without a DefaultIcon leaves all users' DefaultIcon seen",
         [](const std::string& u, const std::string&, const std::string&) {
             WriteString(HKEY_CURRENT_USER, u + "\\shell\\open\\command", nullptr, "notepad %1");
             WriteString(HKEY_CURRENT_USER, u, nullptr, "This user's document");
         },
         "C:\\icons\\machine.ico,1|class", MachineIcon},
        {"this user's DefaultIcon without a value hides all users' one",
         [](const std::string& u, const std::string&, const std::string&) {
             WriteString(HKEY_CURRENT_USER, u + "\\DefaultIcon", "Other", "x");
         },
         "<none>", nullptr},
        {"a CurVer of this user's leads to all users' class",
         [](const std::string& u, const std::string& cls, const std::string& o) {
             DeleteKeyTree(HKEY_CLASSES_ROOT, cls + "\\DefaultIcon");
             WriteString(HKEY_CURRENT_USER, u + "\\CurVer", nullptr, o);
             WriteString(HKEY_CLASSES_ROOT, o + "\\DefaultIcon", nullptr, "C:\\icons\\next.ico,4");
         },
         "C:\\icons\\next.ico,4|other", "C:\\icons\\next.ico,4"},
        {"a CurVer cycle through both scopes ends with none",
         [](const std::string& u, const std::string& cls, const std::string& o) {
             DeleteKeyTree(HKEY_CLASSES_ROOT, cls + "\\DefaultIcon");
             WriteString(HKEY_CURRENT_USER, u + "\\CurVer", nullptr, o);
             WriteString(HKEY_CLASSES_ROOT, o + "\\CurVer", nullptr, cls);
         },
         "<none>", nullptr},
        {"a CurVer of all users' to a class only this user has",
         [](const std::string&, const std::string& cls, const std::string& o) {
             DeleteKeyTree(HKEY_CLASSES_ROOT, cls + "\\DefaultIcon");
             WriteString(HKEY_CLASSES_ROOT, cls + "\\CurVer", nullptr, o);
             WriteString(HKEY_CURRENT_USER, UserClasses + o + "\\DefaultIcon", nullptr, "C:\\icons\\own.ico,6");
         },
         "C:\\icons\\own.ico,6|other", "C:\\icons\\own.ico,6"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        c.Arrange(userClass, type_.Class, other);
        std::string seen = LocationText(ReadTypeDefaultIcon(type_.Extension.c_str()));
        // The class part, named rather than spelled out.
        const std::string tail = "|" + type_.Extension;
        if (Contains(seen, tail))
            seen = seen.substr(0, seen.find(tail));
        if (Contains(seen, "|" + type_.Class))
            seen.replace(seen.find("|" + type_.Class), type_.Class.size() + 1, "|class");
        if (Contains(seen, "|" + other))
            seen.replace(seen.find("|" + other), other.size() + 1, "|other");
        EXPECT_EQ(c.Seen, seen);
        EXPECT_EQ(c.Answer != nullptr ? std::string(c.Answer) : file_ + ",0", Answer(file_));
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
    const std::string chosen = UniqueName("orvtchosen");
    KeyGuard chosenMachine(HKEY_CLASSES_ROOT, chosen);
    KeyGuard chosenUser(HKEY_CURRENT_USER, UserClasses + chosen);
    const std::string choiceKey =
        "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\" + type_.Extension + "\\UserChoice";
    ASSERT_TRUE(WriteString(HKEY_CLASSES_ROOT, chosen + "\\DefaultIcon", nullptr, "C:\\icons\\chosen.ico,5"));

    // A choice of a class that does not exist is passed over.
    ASSERT_TRUE(WriteString(HKEY_CURRENT_USER, choiceKey, "ProgId", UniqueName("orvtmissing")));
    EXPECT_EQ(MachineIcon, Answer(file_));
    ASSERT_TRUE(WriteString(HKEY_CURRENT_USER, choiceKey, "ProgId", chosen));
    char className[TextCapacity] = {};
    ASSERT_TRUE(ReadExtensionClass(type_.Extension.c_str(), className));
    EXPECT_EQ(chosen, className);
    EXPECT_EQ("C:\\icons\\chosen.ico,5", Answer(file_));

    const std::string chosenBefore = DumpKey(HKEY_CLASSES_ROOT, chosen);
    const std::string classBefore = type_.Dump();
    for (const bool allOfType : {Type, Single}) {
        SCOPED_TRACE(allOfType ? "type" : "one file");
        ASSERT_EQ(ChangeResult::Done, Apply(file_, allOfType, 2));
        EXPECT_EQ(Chosen(2), Answer(file_));
        EXPECT_EQ(classBefore, type_.Dump());
        EXPECT_NE(chosenBefore, DumpKey(HKEY_CLASSES_ROOT, chosen));
        if (!allOfType) {
            EXPECT_TRUE(IsOwnIconHandlerIn(Scope::AllUsers, chosen.c_str()));
            EXPECT_EQ("C:\\icons\\chosen.ico,5", Answer(sibling_));
        }
        ASSERT_EQ(ChangeResult::Done, Restore(file_, allOfType));
        EXPECT_EQ(chosenBefore, DumpKey(HKEY_CLASSES_ROOT, chosen));
        EXPECT_EQ("C:\\icons\\chosen.ico,5", Answer(file_));
    }

    // A chosen class that only this user has makes the change this user's.
    DeleteKeyTree(HKEY_CLASSES_ROOT, chosen);
    ASSERT_TRUE(WriteString(HKEY_CURRENT_USER, UserClasses + chosen + "\\DefaultIcon", nullptr, "C:\\icons\\mine.ico,1"));
    const std::string allBefore = AllUsersPlaces();
    const std::string mineBefore = DumpKey(HKEY_CURRENT_USER, UserClasses + chosen);
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
        const std::string userBefore = UserPlaces();
        const std::string allBefore = AllUsersPlaces();
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
                const std::string allNow = AllUsersPlaces();
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

TEST_F(UserScopeTest, RemoveAllCoversBothScopesAndReportsWhatIsRefused)
{
    const std::string userBefore = UserPlaces();
    const std::string classBefore = type_.Dump();
    const std::string extensionBefore = DumpKey(HKEY_CLASSES_ROOT, type_.Extension);
    ASSERT_EQ(ChangeResult::Done, Apply(file_, Single, 1));
    ASSERT_EQ(ChangeResult::Done, Apply(sibling_, Single, 2, ScopeChoice::ThisUser));
    const std::string allChanged = AllUsersPlaces();
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
