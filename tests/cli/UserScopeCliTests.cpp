// orvane.exe choosing the scope of a folder's and a drive's change: --for-me, --for-all
// and neither, as an administrator and as a standard user (the tool runs as a child
// process in the same prefix, so the keys this process locks refuse its writes too), and
// the scope line of show.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "RunTool.h"
#include "TestSupport.h"

namespace orvane::test {
namespace {

constexpr char Vendor[] = "Software\\Brindlewick Software";
constexpr char FolderBackups[] = "Software\\Brindlewick Software\\Orvane\\FolderBAKIcons";
constexpr char DriveIcons[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\DriveIcons";
constexpr char UserApplications[] = "Software\\Classes\\Applications";
constexpr char UserDriveC[] = "Software\\Classes\\Applications\\Explorer.exe\\Drives\\C\\DefaultIcon";

std::string IniIndex(const std::string& folder)
{
    char text[MAX_PATH] = {};
    GetPrivateProfileStringA(".ShellClassInfo", "IconIndex", "", text, sizeof text, (folder + "\\desktop.ini").c_str());
    return text;
}

class UserScopeCliTest : public testing::Test {
protected:
    UserScopeCliTest()
    {
        char system[MAX_PATH] = {};
        GetSystemDirectoryA(system, sizeof system);
        library_ = std::string(system) + "\\shell32.dll";
        folder_ = dir_.MakeFolder("Scoped");
        // The folder starts with an icon of its own, so that a change has a backup.
        WritePrivateProfileStringA(".ShellClassInfo", "IconFile", library_.c_str(), (folder_ + "\\desktop.ini").c_str());
        WritePrivateProfileStringA(".ShellClassInfo", "IconIndex", "1", (folder_ + "\\desktop.ini").c_str());
    }
    std::string Icon(int index) const { return library_ + "," + std::to_string(index); }
    static std::string AllUsers() { return DumpKey(HKEY_LOCAL_MACHINE, Vendor) + DumpKey(HKEY_LOCAL_MACHINE, DriveIcons); }
    static std::string ThisUser() { return DumpKey(HKEY_CURRENT_USER, Vendor) + DumpKey(HKEY_CURRENT_USER, UserApplications); }

    KeyGuard vendorMachine_{HKEY_LOCAL_MACHINE, Vendor};
    KeyGuard vendorUser_{HKEY_CURRENT_USER, Vendor};
    KeyGuard drives_{HKEY_LOCAL_MACHINE, DriveIcons};
    KeyGuard userApplications_{HKEY_CURRENT_USER, UserApplications};
    TempDir dir_;
    std::string library_;
    std::string folder_;
};

TEST_F(UserScopeCliTest, BothScopesAtOnceOrOnShowIsACommandLineError)
{
    const std::string before = AllUsers() + ThisUser();
    const std::vector<std::vector<std::string>> lines = {
        {"set", "--for-me", Icon(2), folder_, "--for-all"},
        {"restore", "--for-all", folder_, "--for-me"},
        {"show", "--for-me", folder_},
    };
    for (const auto& args : lines) {
        const ToolRun run = RunTool(args);
        EXPECT_EQ(2u, run.ExitCode) << args[0];
        EXPECT_TRUE(Contains(run.Err, "--for-me")) << run.Err;
        EXPECT_TRUE(Contains(run.Err, "Usage:")) << run.Err;
    }
    EXPECT_EQ(before, AllUsers() + ThisUser());
    EXPECT_EQ("1", IniIndex(folder_));
}

// --for-me with the rights: this user's place, show names it, restore --for-me leaves
// this user's registry as it was; a repeated flag is no error.
TEST_F(UserScopeCliTest, ForMeWithTheRightsUsesThisUsersPlace)
{
    for (const std::string& target : {folder_, std::string("C:\\")}) {
        SCOPED_TRACE(target);
        const std::string allBefore = AllUsers();
        const std::string userBefore = ThisUser();
        ToolRun run = RunTool({"set", "--for-me", Icon(2), target, "--for-me"});
        ASSERT_EQ(0u, run.ExitCode) << run.Err;
        EXPECT_EQ(allBefore, AllUsers());
        EXPECT_NE(userBefore, ThisUser());
        run = RunTool({"show", target});
        EXPECT_TRUE(Contains(run.Out, "  icon:   " + Icon(2) + "\n  scope:  for this user\n  backup: yes\n")) << run.Out;
        run = RunTool({"restore", "--for-all", target});
        EXPECT_EQ(0u, run.ExitCode) << run.Err;
        EXPECT_TRUE(Contains(run.Out, "nothing to restore")) << run.Out;
        run = RunTool({"restore", target, "--for-me"});
        EXPECT_EQ(0u, run.ExitCode) << run.Err;
        EXPECT_TRUE(Contains(run.Out, "icon restored")) << run.Out;
        EXPECT_EQ(allBefore, AllUsers());
        EXPECT_EQ(userBefore, ThisUser());
    }
    EXPECT_EQ("1", IniIndex(folder_));
}

// As a standard user: --for-all is refused with the reason and writes nothing; without a
// flag the change goes to this user; a change made for all users cannot be restored.
TEST_F(UserScopeCliTest, AsAStandardUser)
{
    // A drive's change made for all users beforehand, as an administrator would.
    ToolRun run = RunTool({"set", Icon(5), "C:\\"});
    ASSERT_EQ(0u, run.ExitCode) << run.Err;
    const std::string userBefore = ThisUser();
    StandardUser standard;
    ASSERT_TRUE(standard.Applied());
    const std::string allBefore = AllUsers();

    run = RunTool({"show", folder_, "C:\\"});
    EXPECT_TRUE(Contains(run.Out, "  icon:   " + Icon(1) + "\n  scope:  (not set)\n")) << run.Out;
    EXPECT_TRUE(Contains(run.Out, "  icon:   " + Icon(5) + "\n  scope:  for all users\n")) << run.Out;

    for (const std::string& target : {folder_, std::string("C:\\")}) {
        run = RunTool({"set", Icon(2), target, "--for-all"});
        EXPECT_EQ(1u, run.ExitCode) << target;
        EXPECT_TRUE(Contains(run.Err, "--for-all needs administrator rights")) << run.Err;
        EXPECT_TRUE(Contains(run.Err, "--for-me")) << run.Err;
        EXPECT_FALSE(Contains(run.Out, "icon set")) << run.Out;
        EXPECT_EQ(allBefore, AllUsers()) << target;
        EXPECT_EQ(userBefore, ThisUser()) << target;
    }
    EXPECT_EQ("1", IniIndex(folder_));

    run = RunTool({"restore", "C:\\"});
    EXPECT_EQ(1u, run.ExitCode);
    EXPECT_TRUE(Contains(run.Err, "set for all users, and restoring it needs administrator rights")) << run.Err;
    EXPECT_EQ(allBefore, AllUsers());

    run = RunTool({"set", Icon(3), folder_, "C:\\"});
    ASSERT_EQ(0u, run.ExitCode) << run.Err;
    EXPECT_EQ("3", IniIndex(folder_));
    EXPECT_EQ(Icon(3), ValueText(HKEY_CURRENT_USER, UserDriveC));
    EXPECT_EQ(Icon(1), ValueText(HKEY_CURRENT_USER, FolderBackups, folder_.c_str()));
    EXPECT_EQ(allBefore, AllUsers());
    run = RunTool({"show", folder_, "C:\\"});
    EXPECT_TRUE(Contains(run.Out, "  icon:   " + Icon(3) + "\n  scope:  for this user\n  backup: yes\n")) << run.Out;

    run = RunTool({"restore", folder_, "C:\\"});
    EXPECT_EQ(0u, run.ExitCode) << run.Err;
    EXPECT_EQ("1", IniIndex(folder_));
    EXPECT_EQ(userBefore, ThisUser());
    EXPECT_EQ(allBefore, AllUsers());
    // All users' drive icon shows again.
    run = RunTool({"show", "C:\\"});
    EXPECT_TRUE(Contains(run.Out, "  icon:   " + Icon(5) + "\n  scope:  for all users\n")) << run.Out;
}

} // namespace
} // namespace orvane::test
