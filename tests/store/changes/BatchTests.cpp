// Many targets through the store's batch: a folder tree with a link out of it and a
// folder that refuses the change, restore of the tree, cancel between targets, and what
// the shell hears of a batch.
#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "Batch.h"
#include "FolderBackups.h"
#include "FolderIcons.h"
#include "FolderLink.h"
#include "FolderTree.h"
#include "IconTarget.h"
#include "ShellNotify.h"
#include "ShellWitness.h"
#include "TestSupport.h"

using namespace orvane;
using test::Expected;
using test::ShellEvent;

namespace {

// The folder's icon as "path,index", or "" when it shows none of its own.
std::wstring FolderIconText(const std::wstring& folder)
{
    const std::optional<IconLocation> icon = ReadFolderIcon(folder.c_str());
    if (!icon || icon->IconPath[0] == L'\0')
        return L"";
    return std::wstring(icon->IconPath) + L"," + std::to_wstring(icon->Index);
}

bool HasRestore(const std::wstring& folder);

// The icon the folder's backup holds, as "path,index"; "" when it has none.
std::wstring BackupText(const std::wstring& folder)
{
    if (!HasRestore(folder))
        return L"";
    const std::optional<IconLocation> backup = ReadFolderBackup(folder.c_str());
    return backup ? std::wstring(backup->IconPath) + L"," + std::to_wstring(backup->Index) : L"(unreadable)";
}

bool HasRestore(const std::wstring& folder)
{
    return OpenTarget(folder.c_str()).WhatRestoreWouldDo() == RestoreOutcome::Restores;
}

// Gives a folder an icon as if it had had it before this product: no backup of it stays.
// A folder's change keeps a backup only of an icon the folder had, so the folders that
// a batch changes have one first, and their backups can be checked.
void GiveEarlierIcon(const std::wstring& folder, const std::wstring& icon, int index)
{
    IconTarget target = OpenTarget(folder.c_str());
    target.SetCurrentIconPath(icon.c_str());
    target.SetCurrentIndex(index);
    EXPECT_EQ(ChangeResult::Done, target.ApplyIcon()) << test::Utf8(folder);
    EXPECT_EQ(ERROR_SUCCESS, DeleteFolderBackup(folder.c_str(), Scope::AllUsers));
    EXPECT_EQ(ERROR_SUCCESS, DeleteFolderBackup(folder.c_str(), Scope::ThisUser));
}

// The product's keys of both scopes, put back when the test ends.
struct ProductKeys {
    test::KeyGuard Machine{HKEY_LOCAL_MACHINE, test::ProductRoot};
    test::KeyGuard User{HKEY_CURRENT_USER, test::ProductRoot};
};

// A tree in a folder of the test's own, each folder but `blocked` with an earlier icon
// (old.ico, each its own index):
//   tree
//   tree\a
//   tree\a\b
//   tree\blocked      refuses the change (see Blocker)
//   tree\c
//   tree\link         a link out of the tree, to outside
//   outside\inner
struct Tree {
    test::TempDir Dir;
    std::wstring Root = Dir.MakeFolder(L"tree");
    std::wstring A = Dir.MakeFolder(L"tree\\a");
    std::wstring B = Dir.MakeFolder(L"tree\\a\\b");
    std::wstring Blocked = Dir.MakeFolder(L"tree\\blocked");
    std::wstring C = Dir.MakeFolder(L"tree\\c");
    std::wstring Outside = Dir.MakeFolder(L"outside");
    std::wstring Inner = Dir.MakeFolder(L"outside\\inner");
    std::wstring OldIcon = test::WriteIconFile(Dir.Path() + L"\\old.ico", 4);
    std::wstring NewIcon = test::WriteIconFile(Dir.Path() + L"\\new.ico", 4);
    test::FolderLink Link{Root + L"\\link", Outside};

    Tree()
    {
        const std::vector<std::wstring> folders = Changeable();
        for (std::size_t i = 0; i < folders.size(); ++i)
            GiveEarlierIcon(folders[i], OldIcon, static_cast<int>(i));
    }
    std::vector<std::wstring> Changeable() const { return {Root, A, B, C}; }
    std::wstring EarlierIcon(std::size_t i) const { return OldIcon + L"," + std::to_wstring(i); }
};

// What keeps a folder from taking its icon, set up until what Make returns goes.
struct Blocker {
    const char* Name;
    BatchProblem Problem;
    // What the failure names as having refused, with the system's reason; none for a
    // problem that is its own reason.
    std::optional<RefusingPlace> Refused;
    LONG Status;
    std::shared_ptr<void> (*Make)(const std::wstring& folder, const std::wstring& elsewhere);
};

// Held open without sharing by another program, as a Desktop.ini being written is.
std::shared_ptr<void> HeldDesktopIni(const std::wstring& folder, const std::wstring&)
{
    HANDLE file = CreateFileW((folder + L"\\Desktop.ini").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    EXPECT_NE(INVALID_HANDLE_VALUE, file);
    return std::shared_ptr<void>(file, [](void* handle) { CloseHandle(handle); });
}

// A Desktop.ini that leads to a file elsewhere, which a change must not write through.
std::shared_ptr<void> LinkedDesktopIni(const std::wstring& folder, const std::wstring& elsewhere)
{
    HANDLE file = CreateFileW(elsewhere.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    EXPECT_NE(INVALID_HANDLE_VALUE, file);
    CloseHandle(file);
    auto link = std::make_shared<test::FolderLink>(folder + L"\\Desktop.ini", elsewhere);
    EXPECT_TRUE(link->Made());
    return link;
}

const Blocker Blockers[] = {
    {"a Desktop.ini another program holds", BatchProblem::WriteFailed, RefusingPlace::DesktopIni,
     ERROR_SHARING_VIOLATION, HeldDesktopIni},
    {"a Desktop.ini that is a link", BatchProblem::DesktopIniIsLink, std::nullopt, ERROR_SUCCESS, LinkedDesktopIni},
};

// What is outside the tree, where the link leads, listed.
std::wstring OutsideListing(const Tree& tree)
{
    return test::Joined(test::FolderContent(tree.Outside)) + L"/" + test::Joined(test::FolderContent(tree.Inner));
}

BatchRequest TreeRequest(const Tree& tree, BatchOperation operation)
{
    BatchRequest request;
    request.Operation = operation;
    request.IconPath = tree.NewIcon;
    request.Index = 2;
    request.Recurse = true;
    request.Paths = {tree.Root};
    return request;
}

std::vector<std::wstring> Lowered(std::vector<std::wstring> paths)
{
    for (std::wstring& path : paths)
        path = test::Lower(path);
    std::sort(paths.begin(), paths.end());
    return paths;
}

} // namespace

TEST(FolderTree, ListsEveryFolderBelowWithoutFollowingLinks)
{
    Tree tree;
    ASSERT_TRUE(tree.Link.Made());
    std::vector<std::wstring> folders;
    std::vector<TreeProblem> problems;
    ASSERT_TRUE(CollectFolderTree(tree.Root, folders, problems));
    EXPECT_TRUE(problems.empty());
    EXPECT_EQ(Lowered({tree.Root, tree.A, tree.B, tree.Blocked, tree.C}), Lowered(folders));
    // Each folder comes before the folders inside it.
    const auto at = [&](const std::wstring& path) { return std::find(folders.begin(), folders.end(), path); };
    EXPECT_LT(at(tree.Root), at(tree.A));
    EXPECT_LT(at(tree.A), at(tree.B));

    struct Entry {
        DWORD Attributes;
        DWORD Tag;
        bool Link;
    } const entries[] = {
        {FILE_ATTRIBUTE_DIRECTORY, 0, false},
        {FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT, IO_REPARSE_TAG_MOUNT_POINT, true},
        {FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT, IO_REPARSE_TAG_SYMLINK, true},
        {FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT, 0, true},
        // A cloud storage placeholder (IO_REPARSE_TAG_CLOUD_1) is a folder of the tree.
        {FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT, 0x9000101AU, false},
        // A mount point's tag on an entry that is no reparse point: the tag is not read.
        {FILE_ATTRIBUTE_DIRECTORY, IO_REPARSE_TAG_MOUNT_POINT, false},
    };
    for (const Entry& entry : entries)
        EXPECT_EQ(entry.Link, IsLinkEntry(entry.Attributes, entry.Tag)) << std::hex << entry.Attributes << " " << entry.Tag;
}

TEST(Batch, TreeChangesEveryFolderButTheLinkedAndTheRefusingOneAndRestoresIt)
{
    for (const Blocker& blocker : Blockers) {
        SCOPED_TRACE(blocker.Name);
        ProductKeys keys;
        Tree tree;
        ASSERT_TRUE(tree.Link.Made());
        const std::wstring elsewhere = tree.Dir.Path() + L"\\elsewhere.ini";
        std::shared_ptr<void> undo = blocker.Make(tree.Blocked, elsewhere);
        const std::string elsewhereBefore = test::ReadFileText(elsewhere);
        const std::wstring outsideBefore = OutsideListing(tree);

        ShellNotifier notifier;
        std::vector<std::size_t> progress;
        const BatchResult applied = RunBatch(TreeRequest(tree, BatchOperation::Apply), notifier,
                                             [&](std::size_t done, std::size_t total) {
                                                 progress.push_back(done);
                                                 EXPECT_EQ(5U, total);
                                             });
        undo.reset();
        EXPECT_EQ(elsewhereBefore, test::ReadFileText(elsewhere));
        EXPECT_EQ(5U, applied.Total);
        EXPECT_EQ(5U, applied.Done);
        EXPECT_EQ(4U, applied.Changed);
        EXPECT_FALSE(applied.Cancelled);
        EXPECT_EQ((std::vector<std::size_t>{0, 1, 2, 3, 4, 5}), progress);
        ASSERT_EQ(1U, applied.Failures.size());
        EXPECT_EQ(test::Lower(tree.Blocked), test::Lower(applied.Failures[0].Path));
        EXPECT_EQ(blocker.Problem, applied.Failures[0].Problem);
        const std::optional<Refusal>& refused = applied.Failures[0].Refused;
        EXPECT_EQ(blocker.Refused.has_value(), refused.has_value());
        if (blocker.Refused && refused) {
            EXPECT_EQ(*blocker.Refused, refused->Place);
            EXPECT_EQ(blocker.Status, refused->Status);
        }
        const std::vector<std::wstring> changeable = tree.Changeable();
        for (std::size_t i = 0; i < changeable.size(); ++i) {
            EXPECT_EQ(tree.NewIcon + L",2", FolderIconText(changeable[i])) << test::Utf8(changeable[i]);
            EXPECT_EQ(tree.EarlierIcon(i), BackupText(changeable[i])) << test::Utf8(changeable[i]);
        }
        EXPECT_EQ(L"", FolderIconText(tree.Blocked));
        EXPECT_FALSE(HasRestore(tree.Blocked));
        // Nothing reached through the link.
        EXPECT_EQ(outsideBefore, OutsideListing(tree));
        for (const std::wstring& outside : {tree.Outside, tree.Inner}) {
            EXPECT_EQ(L"", FolderIconText(outside));
            EXPECT_FALSE(HasRestore(outside));
        }

        const BatchResult restored = RunBatch(TreeRequest(tree, BatchOperation::Restore), notifier);
        EXPECT_EQ(5U, restored.Total);
        EXPECT_EQ(4U, restored.Changed);
        EXPECT_EQ(1U, restored.NothingToRestore);
        EXPECT_TRUE(restored.Failures.empty());
        for (std::size_t i = 0; i < changeable.size(); ++i) {
            EXPECT_EQ(tree.EarlierIcon(i), FolderIconText(changeable[i])) << test::Utf8(changeable[i]);
            EXPECT_FALSE(HasRestore(changeable[i])) << test::Utf8(changeable[i]);
        }
        EXPECT_EQ(L"", FolderIconText(tree.Blocked));
        EXPECT_EQ(outsideBefore, OutsideListing(tree));
    }
}

TEST(Batch, PathsThatNameNothingAreListedAndTheOthersChange)
{
    ProductKeys keys;
    test::TempDir dir;
    const std::wstring icon = test::WriteIconFile(dir.Path() + L"\\icon.ico", 2);
    const std::wstring first = dir.MakeFolder(L"first");
    const std::wstring second = dir.MakeFolder(L"second");
    const std::wstring missing = dir.Path() + L"\\missing";
    const std::wstring tooLong = dir.Path() + L"\\" + std::wstring(300, L'x');
    BatchRequest request;
    request.IconPath = icon;
    request.Index = 1;
    // The same folder twice (once in other case) is one target.
    request.Paths = {first, missing, test::Lower(first), L"", tooLong, second};
    ShellNotifier notifier;
    const BatchResult result = RunBatch(request, notifier);
    EXPECT_EQ(2U, result.Total);
    EXPECT_EQ(2U, result.Changed);
    const struct {
        std::wstring Path;
        BatchProblem Problem;
    } expected[] = {{missing, BatchProblem::NotFound}, {L"", BatchProblem::NotFound}, {tooLong, BatchProblem::PathTooLong}};
    ASSERT_EQ(std::size(expected), result.Failures.size());
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        EXPECT_EQ(expected[i].Path, result.Failures[i].Path) << i;
        EXPECT_EQ(expected[i].Problem, result.Failures[i].Problem) << i;
    }
    for (const std::wstring& folder : {first, second})
        EXPECT_EQ(icon + L",1", FolderIconText(folder));
}

// Cancel is read between targets only: whatever moment it comes at, each target is
// either changed with its backup or as it was, and exactly the targets before it changed.
TEST(Batch, CancelLeavesEachTargetChangedWithItsBackupOrUntouched)
{
    struct Row {
        const char* Name;
        BatchOperation Operation;
        std::size_t CancelAfter; // targets done when the cancel comes
        bool FromSecondThread;
    } const rows[] = {
        {"apply, before the first", BatchOperation::Apply, 0, false},
        {"apply, in the middle, from another thread", BatchOperation::Apply, 4, true},
        {"apply, in the middle", BatchOperation::Apply, 7, false},
        {"apply, before the last, from another thread", BatchOperation::Apply, 11, true},
        {"restore, in the middle, from another thread", BatchOperation::Restore, 5, true},
        {"restore, before the last", BatchOperation::Restore, 11, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Name);
        ProductKeys keys;
        test::TempDir dir;
        const std::wstring icon = test::WriteIconFile(dir.Path() + L"\\icon.ico", 3);
        const std::wstring earlier = test::WriteIconFile(dir.Path() + L"\\earlier.ico", 1);
        const std::wstring root = dir.MakeFolder(L"root");
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                dir.MakeFolder(L"root\\" + std::to_wstring(i) + L"\\" + std::to_wstring(j));
        BatchRequest request;
        request.IconPath = icon;
        request.Index = 2;
        request.Recurse = true;
        request.Paths = {root};
        std::vector<std::wstring> order;
        std::vector<BatchFailure> failures;
        ASSERT_TRUE(CollectBatchTargets(request, order, failures));
        ASSERT_EQ(13U, order.size());
        for (const std::wstring& folder : order)
            GiveEarlierIcon(folder, earlier, 0);
        ShellNotifier notifier;
        if (row.Operation == BatchOperation::Restore) {
            ASSERT_EQ(13U, RunBatch(request, notifier).Changed);
            request.Operation = BatchOperation::Restore;
        }

        std::atomic<bool> cancel{false};
        HANDLE asked = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        HANDLE set = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        std::thread canceller;
        if (row.FromSecondThread)
            canceller = std::thread([&] {
                WaitForSingleObject(asked, 10000);
                cancel = true;
                SetEvent(set);
            });
        const BatchResult result = RunBatch(request, notifier, [&](std::size_t done, std::size_t) {
            if (done != row.CancelAfter)
                return;
            if (!row.FromSecondThread) {
                cancel = true;
                return;
            }
            // The batch goes on while the other thread cancels; it is waited for here so
            // that the moment is the row's.
            SetEvent(asked);
            WaitForSingleObject(set, 10000);
        }, &cancel);
        if (canceller.joinable())
            canceller.join();
        CloseHandle(asked);
        CloseHandle(set);

        EXPECT_TRUE(result.Cancelled);
        EXPECT_EQ(row.CancelAfter, result.Done);
        EXPECT_EQ(row.CancelAfter, result.Changed);
        EXPECT_TRUE(result.Failures.empty());
        const bool applying = row.Operation == BatchOperation::Apply;
        for (std::size_t i = 0; i < order.size(); ++i) {
            const bool done = i < row.CancelAfter;
            // Changed: the icon with the backup of the earlier one; as it was: the earlier
            // icon and no backup.
            const bool changed = applying == done;
            EXPECT_EQ(changed ? icon + L",2" : earlier + L",0", FolderIconText(order[i])) << i << " " << test::Utf8(order[i]);
            EXPECT_EQ(changed ? earlier + L",0" : L"", BackupText(order[i])) << i << " " << test::Utf8(order[i]);
        }
    }
}

// A batch's changed items are told once each, until more than the limit changed in one
// folder: that folder is then told once instead.
TEST(Batch, NotificationsNameEachFolderOrTheirParentOnce)
{
    const std::size_t limit = ShellNotifier::ItemsPerFolderLimit;
    struct Row {
        const char* Name;
        BatchOperation Operation;
        std::size_t Children;
        bool ParentOnce;
    } const rows[] = {
        {"a few folders", BatchOperation::Apply, 3, false},
        {"as many as the limit", BatchOperation::Apply, limit, false},
        {"one more than the limit", BatchOperation::Apply, limit + 1, true},
        {"restored, one more than the limit", BatchOperation::Restore, limit + 1, true},
        {"restored, as many as the limit", BatchOperation::Restore, limit, false},
    };
    test::ShellWitness witness;
    ASSERT_TRUE(witness.Registered());
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Name);
        ProductKeys keys;
        test::TempDir dir;
        const std::wstring icon = test::WriteIconFile(dir.Path() + L"\\icon.ico", 3);
        const std::wstring root = dir.MakeFolder(L"root");
        std::vector<std::wstring> children;
        for (std::size_t i = 0; i < row.Children; ++i)
            children.push_back(dir.MakeFolder(L"root\\" + std::to_wstring(i)));
        // One folder a level below: its parent holds one changed item.
        const std::wstring deeper = dir.MakeFolder(L"root\\0\\deeper");
        for (const std::wstring& folder : children)
            GiveEarlierIcon(folder, icon, 1);
        GiveEarlierIcon(root, icon, 1);
        GiveEarlierIcon(deeper, icon, 1);
        BatchRequest request;
        request.IconPath = icon;
        request.Recurse = true;
        request.Paths = {root};
        if (row.Operation == BatchOperation::Restore) {
            ShellNotifier quiet;
            ASSERT_EQ(row.Children + 2, RunBatch(request, quiet).Changed);
            request.Operation = BatchOperation::Restore;
        }
        witness.Take(0, 0);
        ShellNotifier notifier;
        ASSERT_EQ(row.Children + 2, RunBatch(request, notifier).Changed);
        notifier.Send();

        std::vector<ShellEvent> expected{Expected(SHCNE_UPDATEITEM, root), Expected(SHCNE_UPDATEITEM, deeper)};
        if (row.ParentOnce)
            expected.push_back(Expected(SHCNE_UPDATEDIR, root));
        else
            for (const std::wstring& child : children)
                expected.push_back(Expected(SHCNE_UPDATEITEM, child));
        std::vector<ShellEvent> seen = witness.Take(expected.size());
        const auto byItem = [](const ShellEvent& a, const ShellEvent& b) {
            return a.Event != b.Event ? a.Event < b.Event : a.Item < b.Item;
        };
        std::sort(expected.begin(), expected.end(), byItem);
        std::sort(seen.begin(), seen.end(), byItem);
        EXPECT_EQ(expected, seen) << "expected " << test::Utf8(test::Describe(expected)) << "\n    seen "
                                  << test::Utf8(test::Describe(seen));
    }
}
