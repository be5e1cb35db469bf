// orvane.exe choosing the scope of a folder's, a drive's and a file's change: --for-me, --for-all
// and neither, as an administrator and as a standard user (the tool runs as a child
// process in the same prefix, so the keys this process locks refuse its writes too), and
// the scope line of show.
#include <windows.h>

#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <vector>

#include "RunTool.h"
#include "TestSupport.h"

namespace orvane::test {
namespace {

constexpr wchar_t Vendor[] = L"Software\\Brindlewick Software";
constexpr wchar_t FolderBackups[] = L"Software\\Brindlewick Software\\Orvane\\FolderBAKIcons";
constexpr wchar_t DriveIcons[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\DriveIcons";
constexpr wchar_t UserApplications[] = L"Software\\Classes\\Applications";
constexpr wchar_t UserDriveC[] = L"Software\\Classes\\Applications\\Explorer.exe\\Drives\\C\\DefaultIcon";

std::wstring IniIndex(const std::wstring& folder)
{
    wchar_t text[MAX_PATH] = {};
    GetPrivateProfileStringW(L".ShellClassInfo", L"IconIndex", L"", text, static_cast<DWORD>(std::size(text)),
                             (folder + L"\\desktop.ini").c_str());
    return text;
}

class UserScopeCliTest : public testing::Test {
protected:
    UserScopeCliTest()
    {
        wchar_t system[MAX_PATH] = {};
        GetSystemDirectoryW(system, static_cast<UINT>(std::size(system)));
        library_ = std::wstring(system) + L"\\shell32.dll";
        folder_ = dir_.MakeFolder(L"Scoped");
        // The folder starts with an icon of its own, so that a change has a backup.
        const std::wstring desktopIni = folder_ + L"\\desktop.ini";
        WritePrivateProfileStringW(L".ShellClassInfo", L"IconFile", library_.c_str(), desktopIni.c_str());
        WritePrivateProfileStringW(L".ShellClassInfo", L"IconIndex", L"1", desktopIni.c_str());
    }
    std::wstring Icon(int index) const { return library_ + L"," + std::to_wstring(index); }
    static std::wstring AllUsers() { return DumpKey(HKEY_LOCAL_MACHINE, Vendor) + DumpKey(HKEY_LOCAL_MACHINE, DriveIcons); }
    static std::wstring ThisUser() { return DumpKey(HKEY_CURRENT_USER, Vendor) + DumpKey(HKEY_CURRENT_USER, UserApplications); }

    KeyGuard vendorMachine_{HKEY_LOCAL_MACHINE, Vendor};
    KeyGuard vendorUser_{HKEY_CURRENT_USER, Vendor};
    KeyGuard drives_{HKEY_LOCAL_MACHINE, DriveIcons};
    KeyGuard userApplications_{HKEY_CURRENT_USER, UserApplications};
    TempDir dir_;
    std::wstring library_;
    std::wstring folder_;
};

TEST_F(UserScopeCliTest, BothScopesAtOnceOrOnShowIsACommandLineError)
{
    const std::wstring before = AllUsers() + ThisUser();
    const std::vector<std::vector<std::wstring>> lines = {
        {L"set", L"--for-me", Icon(2), folder_, L"--for-all"},
        {L"restore", L"--for-all", folder_, L"--for-me"},
        {L"show", L"--for-me", folder_},
    };
    for (const auto& args : lines) {
        const ToolRun run = RunTool(args);
        EXPECT_EQ(2u, run.ExitCode) << args[0];
        EXPECT_TRUE(Contains(run.Err, L"--for-me")) << run.Err;
        EXPECT_TRUE(Contains(run.Err, L"Usage:")) << run.Err;
    }
    EXPECT_EQ(before, AllUsers() + ThisUser());
    EXPECT_EQ(L"1", IniIndex(folder_));
}

// --for-me with the rights: this user's place, show names it, restore --for-me leaves
// this user's registry as it was; a repeated flag is no error.
TEST_F(UserScopeCliTest, ForMeWithTheRightsUsesThisUsersPlace)
{
    for (const std::wstring& target : {folder_, std::wstring(L"C:\\")}) {
        SCOPED_TRACE(target);
        const std::wstring allBefore = AllUsers();
        const std::wstring userBefore = ThisUser();
        ToolRun run = RunTool({L"set", L"--for-me", Icon(2), target, L"--for-me"});
        ASSERT_EQ(0u, run.ExitCode) << run.Err;
        EXPECT_EQ(allBefore, AllUsers());
        EXPECT_NE(userBefore, ThisUser());
        run = RunTool({L"show", target});
        EXPECT_TRUE(Contains(run.Out, L"  icon:   " + Icon(2) + L"\n  scope:  for this user\n  backup: yes\n")) << run.Out;
        run = RunTool({L"restore", L"--for-all", target});
        EXPECT_EQ(0u, run.ExitCode) << run.Err;
        EXPECT_TRUE(Contains(run.Out, L"nothing to restore")) << run.Out;
        run = RunTool({L"restore", target, L"--for-me"});
        EXPECT_EQ(0u, run.ExitCode) << run.Err;
        EXPECT_TRUE(Contains(run.Out, L"icon restored")) << run.Out;
        EXPECT_EQ(allBefore, AllUsers());
        EXPECT_EQ(userBefore, ThisUser());
    }
    EXPECT_EQ(L"1", IniIndex(folder_));
}

// --for-all with the rights: all users' place, show names it, restore --for-me finds
// nothing of this user's to take back; this user's registry is never touched.
TEST_F(UserScopeCliTest, ForAllWithTheRightsUsesAllUsersPlace)
{
    ScratchType type;
    type.SetDefaultIcon(Icon(1));
    const std::wstring file = dir_.MakeFile(L"one" + type.Extension);
    const std::wstring classBefore = type.Dump();
    const std::wstring userBefore = ThisUser() + DumpKey(HKEY_CURRENT_USER, L"Software\\Classes\\" + type.Class);
    for (const std::wstring& target : {folder_, std::wstring(L"C:\\"), file}) {
        SCOPED_TRACE(target);
        ToolRun run = RunTool({L"set", L"--for-all", Icon(2), target});
        ASSERT_EQ(0u, run.ExitCode) << run.Err;
        run = RunTool({L"show", target});
        EXPECT_TRUE(Contains(run.Out, L"  icon:   " + Icon(2) + L"\n  scope:  for all users\n  backup: yes\n")) << run.Out;
        run = RunTool({L"restore", L"--for-me", target});
        EXPECT_EQ(0u, run.ExitCode) << run.Err;
        EXPECT_TRUE(Contains(run.Out, L"nothing to restore")) << run.Out;
        run = RunTool({L"restore", target, L"--for-all"});
        EXPECT_EQ(0u, run.ExitCode) << run.Err;
        EXPECT_TRUE(Contains(run.Out, L"icon restored")) << run.Out;
        EXPECT_EQ(userBefore, ThisUser() + DumpKey(HKEY_CURRENT_USER, L"Software\\Classes\\" + type.Class));
    }
    EXPECT_EQ(classBefore, type.Dump());
    EXPECT_EQ(L"1", IniIndex(folder_));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, std::wstring(DriveIcons) + L"\\C\\DefaultIcon"));
}

// As a standard user: --for-all is refused with the reason and writes nothing; without a
// flag the change goes to this user; a change made for all users cannot be restored.
TEST_F(UserScopeCliTest, AsAStandardUser)
{
    // A drive's change made for all users beforehand, as an administrator would.
    ToolRun run = RunTool({L"set", Icon(5), L"C:\\"});
    ASSERT_EQ(0u, run.ExitCode) << run.Err;
    run = RunTool({L"show", L"C:\\"});
    EXPECT_TRUE(Contains(run.Out, L"  icon:   " + Icon(5) + L"\n  scope:  for all users\n  backup: yes\n")) << run.Out;
    const std::wstring userBefore = ThisUser();
    StandardUser standard;
    ASSERT_TRUE(standard.Applied());
    const std::wstring allBefore = AllUsers();

    run = RunTool({L"show", folder_, L"C:\\"});
    EXPECT_TRUE(Contains(run.Out, L"  icon:   " + Icon(1) + L"\n  scope:  (not set)\n")) << run.Out;
    EXPECT_TRUE(Contains(run.Out, L"  icon:   " + Icon(5) + L"\n  scope:  for all users\n")) << run.Out;

    for (const std::wstring& target : {folder_, std::wstring(L"C:\\")}) {
        run = RunTool({L"set", Icon(2), target, L"--for-all"});
        EXPECT_EQ(1u, run.ExitCode) << target;
        EXPECT_TRUE(Contains(run.Err, L"--for-all needs administrator rights")) << run.Err;
        EXPECT_TRUE(Contains(run.Err, L"--for-me")) << run.Err;
        EXPECT_FALSE(Contains(run.Out, L"icon set")) << run.Out;
        EXPECT_EQ(allBefore, AllUsers()) << target;
        EXPECT_EQ(userBefore, ThisUser()) << target;
    }
    EXPECT_EQ(L"1", IniIndex(folder_));

    run = RunTool({L"restore", L"C:\\"});
    EXPECT_EQ(1u, run.ExitCode);
    EXPECT_TRUE(Contains(run.Err, L"set for all users, and restoring it needs administrator rights")) << run.Err;
    EXPECT_EQ(allBefore, AllUsers());

    run = RunTool({L"set", Icon(3), folder_, L"C:\\"});
    ASSERT_EQ(0u, run.ExitCode) << run.Err;
    EXPECT_EQ(L"3", IniIndex(folder_));
    EXPECT_EQ(Icon(3), ValueText(HKEY_CURRENT_USER, UserDriveC));
    // The value starts with the icon (all that earlier builds read); the folder's entries,
    // IconFile and IconIndex without IconResource, follow it to be restored as they were.
    EXPECT_EQ(Icon(1), std::wstring(ValueText(HKEY_CURRENT_USER, FolderBackups, folder_.c_str()).c_str()));
    EXPECT_EQ(allBefore, AllUsers());
    run = RunTool({L"show", folder_, L"C:\\"});
    EXPECT_TRUE(Contains(run.Out, L"  icon:   " + Icon(3) + L"\n  scope:  for this user\n  backup: yes\n")) << run.Out;

    run = RunTool({L"restore", folder_, L"C:\\"});
    EXPECT_EQ(0u, run.ExitCode) << run.Err;
    EXPECT_EQ(L"1", IniIndex(folder_));
    EXPECT_EQ(userBefore, ThisUser());
    EXPECT_EQ(allBefore, AllUsers());
    // All users' drive icon shows again.
    run = RunTool({L"show", L"C:\\"});
    EXPECT_TRUE(Contains(run.Out, L"  icon:   " + Icon(5) + L"\n  scope:  for all users\n")) << run.Out;
}

} // namespace
} // namespace orvane::test
