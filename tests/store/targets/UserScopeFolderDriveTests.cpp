// A folder's and a drive's icon changed and restored through IconTarget for this user:
// as a standard user (all users' keys refuse writes), by choice, and over and under a
// change made for all users. What all users see stays byte for byte; this user's
// registry is as it was once everything is restored.
#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "DriveIcons.h"
#include "FolderIcons.h"
#include "IconTarget.h"
#include "Registry.h"
#include "RegistryNames.h"
#include "ScratchRegistry.h"
#include "TestSupport.h"

namespace orvane::test {
namespace {

constexpr wchar_t UserApplications[] = L"Software\\Classes\\Applications";

// What one user sees of a target: its icon as read, and the scope it is set in.
struct Seen {
    std::wstring Icon;
    std::optional<Scope> In;
};

Seen Look(const std::wstring& path)
{
    IconTarget target(path.c_str());
    const auto& icon = target.ReadCurrentIcon();
    return {icon ? std::wstring(icon->IconPath) + L"," + std::to_wstring(icon->Index) : L"<none>", target.CurrentScope()};
}

// The dialog opened on the path, with a scope chosen, and closed with OK on an icon.
ChangeResult Apply(const std::wstring& path, ScopeChoice choice, const std::wstring& icon, int index,
                   std::optional<Scope>* changed = nullptr)
{
    IconTarget target(path.c_str());
    target.SetScopeChoice(choice);
    target.RememberOriginal(target.ReadCurrentIcon());
    target.SetAllOfType(false);
    target.SetCurrentIconPath(icon.c_str());
    target.SetCurrentIndex(index);
    const ChangeResult result = target.ApplyIcon();
    if (changed != nullptr)
        *changed = target.ChangedScope();
    return result;
}

ChangeResult Restore(const std::wstring& path, ScopeChoice choice, std::optional<Scope>* changed = nullptr)
{
    IconTarget target(path.c_str());
    target.SetScopeChoice(choice);
    target.RememberOriginal(target.ReadCurrentIcon());
    const ChangeResult result = target.RestoreDefault();
    if (changed != nullptr)
        *changed = target.ChangedScope();
    return result;
}

bool MakeKey(HKEY root, const std::wstring& path)
{
    RegKey key;
    return key.Create(root, path.c_str()) == ERROR_SUCCESS;
}

// Every place either scope keeps a folder's or a drive's setting in, guarded; each test
// starts with the Folder and Drive classes' icons known, and with all users' keys that a
// restore for all users leaves behind (as it always has) already there.
class FolderDriveScopeTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(WriteString(HKEY_CLASSES_ROOT, FolderClassIconKey, L"", FolderClassIconText));
        ASSERT_TRUE(WriteString(HKEY_CLASSES_ROOT, L"Drive\\DefaultIcon", L"", L"C:\\icons\\drive-class.ico,8"));
        library_ = WriteIconFile(dir_.Path() + L"\\library.ico", 12);
        folder_ = dir_.MakeFolder(L"Data");
        ASSERT_TRUE(MakeKey(HKEY_LOCAL_MACHINE, FolderBackupKey));
        ASSERT_TRUE(MakeKey(HKEY_LOCAL_MACHINE, std::wstring(DriveIconsKey) + L"\\S"));
    }

    // All users' places, as text.
    static std::wstring AllUsers() { return DumpKey(HKEY_LOCAL_MACHINE, ProductRoot) + DumpKey(HKEY_LOCAL_MACHINE, DriveIconsKey); }
    // This user's places, as text.
    static std::wstring ThisUser()
    {
        return DumpKey(HKEY_CURRENT_USER, ProductRoot) + DumpKey(HKEY_CURRENT_USER, UserApplications);
    }
    // The folder's Desktop.ini as its bytes.
    std::string DesktopIni() const { return ReadFileText(folder_ + L"\\Desktop.ini"); }

    KeyGuard machineProduct_{HKEY_LOCAL_MACHINE, ProductRoot};
    KeyGuard userProduct_{HKEY_CURRENT_USER, ProductRoot};
    KeyGuard drives_{HKEY_LOCAL_MACHINE, DriveIconsKey};
    KeyGuard userApplications_{HKEY_CURRENT_USER, UserApplications};
    KeyGuard folderClass_{HKEY_CLASSES_ROOT, FolderClassIconKey};
    KeyGuard driveClass_{HKEY_CLASSES_ROOT, L"Drive\\DefaultIcon"};
    TempDir dir_;
    std::wstring library_;
    std::wstring folder_;
};

// A folder (its Desktop.ini made first or not) and a drive, applied and restored as a
// standard user with the scope left to the store.
TEST_F(FolderDriveScopeTest, AStandardUsersChangeGoesToThisUserAndRestoreLeavesNoTrace)
{
    struct Case {
        const char* Name;
        std::function<std::wstring()> Target;
        // Where this user's change is kept, as a key and a value below HKEY_CURRENT_USER.
        std::function<std::wstring(const std::wstring&)> UserValue;
    };
    const Case cases[] = {
        {"folder without Desktop.ini", [this] { return folder_; },
         [](const std::wstring& f) { return ValueText(HKEY_CURRENT_USER, FolderBackupKey, f.c_str()); }},
        {"folder with an icon",
         [this] {
             IconLocation start(library_.c_str(), folder_.c_str(), 1);
             EXPECT_EQ(ERROR_SUCCESS, WriteFolderIcon(start));
             return folder_;
         },
         [](const std::wstring& f) { return ValueText(HKEY_CURRENT_USER, FolderBackupKey, f.c_str()); }},
        // Its backup is the value named by the folder's exact path.
        {"folder whose name the code page cannot hold", [this] { return dir_.MakeFolder(L"\u5199\u771F \U0001F4C1"); },
         [](const std::wstring& f) { return ValueText(HKEY_CURRENT_USER, FolderBackupKey, f.c_str()); }},
        {"drive", [] { return std::wstring(L"P:\\"); },
         [](const std::wstring&) {
             return ValueText(HKEY_CURRENT_USER, std::wstring(UserApplications) + L"\\Explorer.exe\\Drives\\P\\DefaultIcon");
         }},
        // Another program's icon for this user: the change stays with this user, backs
        // it up, and restoring gives it back exactly.
        {"drive with another program's icon for this user",
         [] {
             EXPECT_TRUE(WriteString(HKEY_CURRENT_USER, std::wstring(UserApplications) + L"\\Explorer.exe\\Drives\\P\\DefaultIcon",
                                     L"", L"C:\\vendor\\mine.ico,1"));
             return std::wstring(L"P:\\");
         },
         [](const std::wstring&) {
             return ValueText(HKEY_CURRENT_USER, std::wstring(UserApplications) + L"\\Explorer.exe\\Drives\\P\\DefaultIcon",
                              DriveBackupValue);
         }},
        {"drive with an icon for all users",
         [] {
             EXPECT_TRUE(WriteString(HKEY_LOCAL_MACHINE, std::wstring(DriveIconsKey) + L"\\P\\DefaultIcon", L"", L"C:\\all.ico,2"));
             return std::wstring(L"P:\\");
         },
         [](const std::wstring&) {
             return ValueText(HKEY_CURRENT_USER, std::wstring(UserApplications) + L"\\Explorer.exe\\Drives\\P\\DefaultIcon");
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        DeleteKeyTree(HKEY_LOCAL_MACHINE, DriveIconsKey);
        DeleteFileW((folder_ + L"\\Desktop.ini").c_str());
        const std::wstring path = c.Target();
        const std::wstring userBefore = ThisUser();
        const std::string profileBefore = DesktopIni();
        {
            StandardUser standard;
            ASSERT_TRUE(standard.Applied());
            const std::wstring allUsersBefore = AllUsers();
            const Seen before = Look(path);

            std::optional<Scope> changed;
            EXPECT_EQ(ChangeResult::Done, Apply(path, ScopeChoice::Automatic, library_, 3, &changed));
            EXPECT_EQ(Scope::ThisUser, changed);
            EXPECT_EQ(allUsersBefore, AllUsers());
            EXPECT_NE(L"<none>", c.UserValue(path));
            const Seen after = Look(path);
            EXPECT_EQ(library_ + L",3", after.Icon);
            EXPECT_EQ(Scope::ThisUser, after.In);

            IconTarget opened(path.c_str());
            opened.ReadCurrentIcon();
            EXPECT_EQ(RestoreOutcome::Restores, opened.WhatRestoreWouldDo());
            EXPECT_EQ(ChangeResult::Done, Restore(path, ScopeChoice::Automatic, &changed));
            EXPECT_EQ(Scope::ThisUser, changed);
            EXPECT_EQ(allUsersBefore, AllUsers());
            EXPECT_EQ(userBefore, ThisUser());
            EXPECT_EQ(before.Icon, Look(path).Icon);
            EXPECT_EQ(before.In, Look(path).In);
            if (profileBefore != "<none>") {
                EXPECT_EQ(profileBefore, DesktopIni());
            }
        }
    }
}

// All users chosen without the rights: refused, nothing written anywhere; a change made
// for all users cannot be restored either, and the folder keeps its icon.
TEST_F(FolderDriveScopeTest, AllUsersWithoutTheRightsIsRefusedWithNothingChanged)
{
    const std::wstring drive = L"Q:\\";
    ASSERT_EQ(ChangeResult::Done, Apply(folder_, ScopeChoice::Automatic, library_, 2));
    ASSERT_EQ(ChangeResult::Done, Apply(drive, ScopeChoice::Automatic, library_, 2));
    StandardUser standard;
    ASSERT_TRUE(standard.Applied());
    const std::wstring madeForAll = ThisUser() + AllUsers();
    const std::string profileMadeForAll = DesktopIni();
    struct Case {
        const char* Name;
        std::function<ChangeResult(std::optional<Scope>*)> Act;
    };
    const Case cases[] = {
        {"folder, change for all users",
         [&](std::optional<Scope>* s) { return Apply(folder_, ScopeChoice::AllUsers, library_, 5, s); }},
        {"drive, change for all users",
         [&](std::optional<Scope>* s) { return Apply(drive, ScopeChoice::AllUsers, library_, 5, s); }},
        {"folder, restore all users' change", [&](std::optional<Scope>* s) { return Restore(folder_, ScopeChoice::Automatic, s); }},
        {"folder, restore all users' change by choice",
         [&](std::optional<Scope>* s) { return Restore(folder_, ScopeChoice::AllUsers, s); }},
        {"drive, restore all users' change", [&](std::optional<Scope>* s) { return Restore(drive, ScopeChoice::Automatic, s); }},
    };
    for (const Case& c : cases) {
        std::optional<Scope> changed;
        EXPECT_EQ(ChangeResult::AccessDenied, c.Act(&changed)) << c.Name;
        EXPECT_EQ(Scope::AllUsers, changed) << c.Name;
        EXPECT_EQ(madeForAll, ThisUser() + AllUsers()) << c.Name;
        EXPECT_EQ(profileMadeForAll, DesktopIni()) << c.Name;
    }
    EXPECT_EQ(library_ + L",2", Look(folder_).Icon);
    EXPECT_EQ(Scope::AllUsers, Look(folder_).In);
    EXPECT_EQ(library_ + L",2", Look(drive).Icon);
    EXPECT_EQ(Scope::AllUsers, Look(drive).In);
}

// This user chosen with the rights: this user's place, all users' untouched; and once
// this user has a setting, a change left to the store stays with it.
TEST_F(FolderDriveScopeTest, ThisUserByChoiceAndChangesThatFollowIt)
{
    for (const std::wstring& path : {folder_, std::wstring(L"R:\\")}) {
        SCOPED_TRACE(Utf8(path));
        const std::wstring allUsersBefore = AllUsers();
        const std::wstring userBefore = ThisUser();
        std::optional<Scope> changed;
        ASSERT_EQ(ChangeResult::Done, Apply(path, ScopeChoice::ThisUser, library_, 4, &changed));
        EXPECT_EQ(Scope::ThisUser, changed);
        EXPECT_EQ(allUsersBefore, AllUsers());
        ASSERT_EQ(ChangeResult::Done, Apply(path, ScopeChoice::Automatic, library_, 6, &changed));
        EXPECT_EQ(Scope::ThisUser, changed);
        EXPECT_EQ(allUsersBefore, AllUsers());
        EXPECT_EQ(library_ + L",6", Look(path).Icon);
        // Nothing of all users' to restore by choice.
        EXPECT_EQ(ChangeResult::Done, Restore(path, ScopeChoice::AllUsers, &changed));
        EXPECT_FALSE(changed.has_value());
        EXPECT_EQ(library_ + L",6", Look(path).Icon);
        EXPECT_EQ(ChangeResult::Done, Restore(path, ScopeChoice::ThisUser, &changed));
        EXPECT_EQ(Scope::ThisUser, changed);
        EXPECT_EQ(userBefore, ThisUser());
        EXPECT_EQ(allUsersBefore, AllUsers());
    }
}

// A change for all users, then one for this user over it, restored in either order:
// after each step the target shows what the user then sees, and the end is the start.
TEST_F(FolderDriveScopeTest, MixedScopesRestoredInEitherOrder)
{
    struct Order {
        const char* Name;
        ScopeChoice First;
        ScopeChoice Second;
        bool FirstLeavesThisUsersIcon; // restoring all users' change first
    };
    const Order orders[] = {
        {"this user's first, as seen", ScopeChoice::Automatic, ScopeChoice::Automatic, false},
        {"this user's first, by choice", ScopeChoice::ThisUser, ScopeChoice::AllUsers, false},
        {"all users' first", ScopeChoice::AllUsers, ScopeChoice::Automatic, true},
        {"all users' first, then this user's by choice", ScopeChoice::AllUsers, ScopeChoice::ThisUser, true},
    };
    IconLocation start(library_.c_str(), folder_.c_str(), 1);
    for (const Order& order : orders) {
        for (const std::wstring& path : {folder_, std::wstring(L"S:\\")}) {
            SCOPED_TRACE(std::string(order.Name) + ", " + Utf8(path));
            DeleteFileW((folder_ + L"\\Desktop.ini").c_str());
            ASSERT_EQ(ERROR_SUCCESS, WriteFolderIcon(start));
            const std::string profileBefore = DesktopIni();
            const std::wstring allUsersBefore = AllUsers();
            const std::wstring userBefore = ThisUser();
            const Seen before = Look(path);

            std::optional<Scope> changed;
            ASSERT_EQ(ChangeResult::Done, Apply(path, ScopeChoice::Automatic, library_, 7, &changed));
            EXPECT_EQ(Scope::AllUsers, changed);
            EXPECT_EQ(library_ + L",7", Look(path).Icon);
            EXPECT_EQ(Scope::AllUsers, Look(path).In);
            ASSERT_EQ(ChangeResult::Done, Apply(path, ScopeChoice::ThisUser, library_, 9, &changed));
            EXPECT_EQ(Scope::ThisUser, changed);
            EXPECT_EQ(library_ + L",9", Look(path).Icon);
            EXPECT_EQ(Scope::ThisUser, Look(path).In);

            ASSERT_EQ(ChangeResult::Done, Restore(path, order.First, &changed));
            if (order.FirstLeavesThisUsersIcon) {
                EXPECT_EQ(Scope::AllUsers, changed);
                EXPECT_EQ(library_ + L",9", Look(path).Icon);
                EXPECT_EQ(Scope::ThisUser, Look(path).In);
                EXPECT_EQ(allUsersBefore, AllUsers());
            } else {
                EXPECT_EQ(Scope::ThisUser, changed);
                EXPECT_EQ(library_ + L",7", Look(path).Icon);
                EXPECT_EQ(Scope::AllUsers, Look(path).In);
                EXPECT_EQ(userBefore, ThisUser());
            }
            ASSERT_EQ(ChangeResult::Done, Restore(path, order.Second, &changed));
            EXPECT_EQ(order.FirstLeavesThisUsersIcon ? Scope::ThisUser : Scope::AllUsers, changed);
            EXPECT_EQ(before.Icon, Look(path).Icon);
            EXPECT_EQ(before.In, Look(path).In);
            EXPECT_EQ(allUsersBefore, AllUsers());
            EXPECT_EQ(userBefore, ThisUser());
            EXPECT_EQ(profileBefore, DesktopIni());
        }
    }
}

// A change for all users made over this user's: it replaces this user's change, whose
// backup it takes over, so that restoring it shows what was there before either.
TEST_F(FolderDriveScopeTest, AllUsersChangeOverThisUsersFolderChangeTakesItsBackup)
{
    IconLocation start(library_.c_str(), folder_.c_str(), 1);
    ASSERT_EQ(ERROR_SUCCESS, WriteFolderIcon(start));
    const std::string profileBefore = DesktopIni();
    const std::wstring allUsersBefore = AllUsers();
    const std::wstring userBefore = ThisUser();
    ASSERT_EQ(ChangeResult::Done, Apply(folder_, ScopeChoice::ThisUser, library_, 3));
    ASSERT_EQ(ChangeResult::Done, Apply(folder_, ScopeChoice::AllUsers, library_, 5));
    EXPECT_EQ(userBefore, ThisUser());
    EXPECT_EQ(library_ + L",5", Look(folder_).Icon);
    EXPECT_EQ(Scope::AllUsers, Look(folder_).In);
    ASSERT_EQ(ChangeResult::Done, Restore(folder_, ScopeChoice::Automatic));
    EXPECT_EQ(library_ + L",1", Look(folder_).Icon);
    EXPECT_EQ(allUsersBefore, AllUsers());
    EXPECT_EQ(profileBefore, DesktopIni());
}

// A change for all users over this user's that cannot take this user's backup away (this
// user's keys refuse writes, as they may for a program another policy restricts) is
// refused, and leaves both scopes' backups and the folder as they were.
TEST_F(FolderDriveScopeTest, AllUsersChangeOverThisUsersThatCannotTakeItsBackupChangesNothing)
{
    struct Case {
        const char* Name;
        bool AllUsersFirst; // all users' change under this user's, or this user's alone
        std::vector<std::wstring> Locked; // below HKEY_CURRENT_USER
    };
    const Case cases[] = {
        {"this user's backups locked", true, {FolderBackupKey}},
        {"this user's product keys locked", true, {ProductRoot, ProductKey, FolderBackupKey}},
        {"this user's backups locked, no change of all users'", false, {FolderBackupKey}},
        {"this user's product keys locked, no change of all users'", false, {ProductRoot, ProductKey, FolderBackupKey}},
    };
    IconLocation start(library_.c_str(), folder_.c_str(), 1);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        ASSERT_EQ(ERROR_SUCCESS, WriteFolderIcon(start));
        if (c.AllUsersFirst) {
            ASSERT_EQ(ChangeResult::Done, Apply(folder_, ScopeChoice::AllUsers, library_, 2));
        }
        ASSERT_EQ(ChangeResult::Done, Apply(folder_, ScopeChoice::ThisUser, library_, 3));
        const std::wstring allUsersBefore = AllUsers();
        const std::wstring userBefore = ThisUser();
        const std::string profileBefore = DesktopIni();
        {
            std::vector<std::unique_ptr<ReadOnlyKey>> locks;
            for (const std::wstring& path : c.Locked) {
                locks.push_back(std::make_unique<ReadOnlyKey>(HKEY_CURRENT_USER, path));
                ASSERT_TRUE(locks.back()->Applied());
            }
            EXPECT_NE(ChangeResult::Done, Apply(folder_, ScopeChoice::AllUsers, library_, 5));
            EXPECT_EQ(allUsersBefore, AllUsers());
            EXPECT_EQ(userBefore, ThisUser());
            EXPECT_EQ(profileBefore, DesktopIni());
        }
        ASSERT_EQ(ChangeResult::Done, Restore(folder_, ScopeChoice::Automatic));
        ASSERT_EQ(ChangeResult::Done, Restore(folder_, ScopeChoice::Automatic));
        EXPECT_EQ(library_ + L",1", Look(folder_).Icon);
        EXPECT_FALSE(Look(folder_).In.has_value());
    }
}

// This user's drive icon is read before all users', which shows again once it goes; the
// keys made for it go with it, up to this user's classes.
TEST_F(FolderDriveScopeTest, ThisUsersDriveEntryHidesAllUsersAndGoesWithItsKeys)
{
    const std::wstring all = std::wstring(DriveIconsKey) + L"\\T\\DefaultIcon";
    const std::wstring user = std::wstring(UserApplications) + L"\\Explorer.exe\\Drives\\T\\DefaultIcon";
    ASSERT_TRUE(WriteString(HKEY_LOCAL_MACHINE, all, L"", L"C:\\all.ico,2"));
    ASSERT_TRUE(DeleteKeyTree(HKEY_CURRENT_USER, UserApplications));
    ASSERT_EQ(ERROR_SUCCESS, WriteDriveIcon(IconLocation(L"C:\\mine.ico", L"T", 4), Scope::ThisUser));
    EXPECT_EQ(L"C:\\mine.ico,4", ValueText(HKEY_CURRENT_USER, user));
    std::optional<Scope> found;
    EXPECT_EQ(L"C:\\mine.ico,4|T|T", LocationText(ReadDriveIcon(L"T:\\", &found)));
    EXPECT_EQ(Scope::ThisUser, found);
    EXPECT_EQ(Scope::ThisUser, DriveEntryScope(L"t:\\"));
    // Something else of this user's below Applications keeps the keys it needs.
    ASSERT_TRUE(WriteString(HKEY_CURRENT_USER, std::wstring(UserApplications) + L"\\Explorer.exe", L"Other", L"x"));
    ASSERT_EQ(ERROR_SUCCESS, DeleteDriveIcon(IconLocation(L"", L"T", 0), Scope::ThisUser));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, std::wstring(UserApplications) + L"\\Explorer.exe\\Drives"));
    EXPECT_EQ(L"x", ValueText(HKEY_CURRENT_USER, std::wstring(UserApplications) + L"\\Explorer.exe", L"Other"));
    found.reset();
    EXPECT_EQ(L"C:\\all.ico,2|T|T", LocationText(ReadDriveIcon(L"T:\\", &found)));
    EXPECT_EQ(Scope::AllUsers, found);
    // A letter's key that is no letter is refused in this user's place as in all users'.
    EXPECT_EQ(ERROR_INVALID_DRIVE, WriteDriveIcon(IconLocation(L"C:\\mine.ico", L"\\", 4), Scope::ThisUser));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, std::wstring(UserApplications) + L"\\Explorer.exe\\Drives"));
}

} // namespace
} // namespace orvane::test
