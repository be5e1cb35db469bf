// set and restore with --recurse as a person runs them: a tree with a link out of it and
// a folder whose Desktop.ini another program holds, and progress on a console only.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ErrorText.h"
#include "FolderBackups.h"
#include "FolderIcons.h"
#include "IconTarget.h"
#include "FolderLink.h"
#include "RunTool.h"
#include "TestSupport.h"

using namespace orvane;
using namespace orvane::test;

namespace {

std::wstring FolderIconText(const std::wstring& folder)
{
    const std::optional<IconLocation> icon = ReadFolderIcon(folder.c_str());
    if (!icon || icon->IconPath[0] == L'\0')
        return L"";
    return std::wstring(icon->IconPath) + L"," + std::to_wstring(icon->Index);
}

// Gives a folder an icon as if it had had it before this product (no backup of it): a
// folder's change keeps a backup only of an icon the folder had.
void GiveEarlierIcon(const std::wstring& folder, const std::wstring& icon, int index)
{
    IconTarget target = OpenTarget(folder.c_str());
    target.SetCurrentIconPath(icon.c_str());
    target.SetCurrentIndex(index);
    EXPECT_EQ(ChangeResult::Done, target.ApplyIcon()) << Utf8(folder);
    EXPECT_EQ(ERROR_SUCCESS, DeleteFolderBackup(folder.c_str(), Scope::AllUsers));
    EXPECT_EQ(ERROR_SUCCESS, DeleteFolderBackup(folder.c_str(), Scope::ThisUser));
}

class BatchCliTest : public testing::Test {
protected:
    KeyGuard machine_{HKEY_LOCAL_MACHINE, ProductRoot};
    KeyGuard user_{HKEY_CURRENT_USER, ProductRoot};
    TempDir dir_;
    // An icon library with many icons: the system's shell32.dll, by its full path.
    std::wstring icon_ = Shell32Path();
};

} // namespace

TEST_F(BatchCliTest, RecurseChangesAndRestoresTheTreeAndListsTheFolderThatRefused)
{
    const std::wstring root = dir_.MakeFolder(L"tree");
    const std::vector<std::wstring> changeable = {root, dir_.MakeFolder(L"tree\\a"), dir_.MakeFolder(L"tree\\a\\b"),
                                                  dir_.MakeFolder(L"tree\\c")};
    const std::wstring held = dir_.MakeFolder(L"tree\\held");
    const std::wstring outside = dir_.MakeFolder(L"outside");
    const std::wstring inner = dir_.MakeFolder(L"outside\\inner");
    const FolderLink link(root + L"\\link", outside);
    ASSERT_TRUE(link.Made());
    for (const std::wstring& folder : changeable)
        GiveEarlierIcon(folder, icon_, 1);

    HANDLE holder = CreateFileW((held + L"\\Desktop.ini").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, holder);
    const ToolRun set = RunTool({L"set", icon_ + L",2", L"--recurse", root});
    CloseHandle(holder);
    EXPECT_EQ(1u, set.ExitCode) << set.Out << set.Err;
    EXPECT_TRUE(Contains(set.Out, L"4 of 5 targets given the icon")) << set.Out;
    EXPECT_TRUE(Contains(set.Err, L"orvane: " + held + L": its Desktop.ini refused the write: " +
                                      SystemErrorText(ERROR_SHARING_VIOLATION))) << set.Err;
    // One failure, listed once.
    EXPECT_EQ(set.Err.find(L"orvane: "), set.Err.rfind(L"orvane: ")) << set.Err;
    for (const std::wstring& folder : changeable)
        EXPECT_EQ(icon_ + L",2", FolderIconText(folder)) << Utf8(folder);
    for (const std::wstring& folder : {held, outside, inner})
        EXPECT_EQ(L"", FolderIconText(folder)) << Utf8(folder);
    EXPECT_EQ(L"inner|", Joined(FolderContent(outside)));

    const ToolRun restore = RunTool({L"restore", L"--recurse", root});
    EXPECT_EQ(0u, restore.ExitCode) << restore.Out << restore.Err;
    EXPECT_TRUE(Contains(restore.Out, L"4 of 5 targets restored, 1 had nothing to restore")) << restore.Out;
    EXPECT_EQ(L"", restore.Err);
    for (const std::wstring& folder : changeable)
        EXPECT_EQ(icon_ + L",1", FolderIconText(folder)) << Utf8(folder);
    EXPECT_EQ(L"", FolderIconText(held));
}

// A console shows the progress line, rewritten in place; a file or pipe gets none of it.
TEST_F(BatchCliTest, ProgressShowsOnAConsoleOnly)
{
    const std::wstring root = dir_.MakeFolder(L"tree");
    for (const std::wstring& folder : {root, dir_.MakeFolder(L"tree\\a"), dir_.MakeFolder(L"tree\\b")})
        GiveEarlierIcon(folder, icon_, 1);
    struct Row {
        const char* Name;
        std::vector<std::wstring> Args;
        bool Console;
        std::wstring Summary;
    } const rows[] = {
        {"set on a console", {L"set", icon_, L"--recurse", root}, true, L"3 of 3 targets given the icon"},
        {"restore on a console", {L"restore", L"--recurse", root}, true, L"3 of 3 targets restored"},
        {"set into a file", {L"set", icon_, L"--recurse", root}, false, L"3 of 3 targets given the icon"},
        {"restore into a file", {L"restore", L"--recurse", root}, false, L"3 of 3 targets restored"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Name);
        const ToolRun run = row.Console ? RunToolOnConsole(row.Args) : RunTool(row.Args);
        EXPECT_EQ(0u, run.ExitCode) << run.Out << run.Err;
        if (row.Console)
            EXPECT_EQ(L"progress: 3 of 3 targets\n" + row.Summary + L"\n", run.Out);
        else
            EXPECT_EQ(row.Summary + L"\n", run.Out);
        EXPECT_EQ(L"", run.Err);
    }
}
