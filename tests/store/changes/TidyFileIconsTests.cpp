// Tidying the per-file tables: entries whose file moved follow it, entries whose file is
// gone are taken out as a restore takes them, and a dry run only tells.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "ClassIconHandler.h"
#include "FileIconTable.h"
#include "FileIdentity.h"
#include "IconHandlerInstall.h"
#include "IconLocation.h"
#include "RegistryNames.h"
#include "Scope.h"
#include "TestSupport.h"
#include "TidyFileIcons.h"

using namespace orvane;

namespace {

class TidyTest : public ::testing::Test {
protected:
    test::KeyGuard machine_{HKEY_LOCAL_MACHINE, test::ProductRoot};
    test::KeyGuard user_{HKEY_CURRENT_USER, test::ProductRoot};
    test::TempDir dir_;
    // Keeps an entry that stays; only gone entries of its own.
    test::ScratchType kept_;
    test::ScratchType gone_;

    void GiveIcon(const test::ScratchType& type, const std::wstring& file, Scope scope)
    {
        IconLocation location(L"C:\\icons\\set.icl", nullptr, 7);
        location.SetTypeKey(type.Class.c_str());
        ASSERT_EQ(ERROR_SUCCESS, WriteFileIcon(location, file.c_str(), scope));
        if (!IsOwnIconHandler(type.Class.c_str(), scope)) {
            ASSERT_EQ(ERROR_SUCCESS, InstallIconHandler(location, scope));
        }
    }

    std::wstring Dump() const
    {
        return test::DumpKey(HKEY_LOCAL_MACHINE, test::ProductRoot) + test::DumpKey(HKEY_CURRENT_USER, test::ProductRoot) +
               kept_.Dump() + gone_.Dump() + test::DumpKey(HKEY_CURRENT_USER, L"Software\\Classes\\" + kept_.Class) +
               test::DumpKey(HKEY_CURRENT_USER, L"Software\\Classes\\" + gone_.Class);
    }
};

// A volume's Recycle Bin folder (made for the test where the volume has none) and a
// folder of the test's own in it, as Explorer keeps a user's deleted files there.
class RecycleBin {
public:
    explicit RecycleBin(wchar_t drive) : root_(std::wstring(1, drive) + L":\\$Recycle.Bin")
    {
        made_ = CreateDirectoryW(root_.c_str(), nullptr) != FALSE;
        folder_.emplace(root_ + L"\\");
    }
    ~RecycleBin()
    {
        folder_.reset();
        if (made_)
            RemoveDirectoryW(root_.c_str());
    }
    RecycleBin(const RecycleBin&) = delete;
    RecycleBin& operator=(const RecycleBin&) = delete;
    const std::wstring& Path() const { return folder_->Path(); }

private:
    std::wstring root_;
    bool made_ = false;
    std::optional<test::TempDir> folder_;
};

std::vector<std::wstring> Lines(const TidyReport& report)
{
    std::vector<std::wstring> lines;
    for (const TidiedEntry& entry : report.Entries) {
        lines.push_back(std::wstring(entry.Where == Scope::ThisUser ? L"mine " : L"ours ") + entry.Path + L" -> " +
                        (entry.InRecycleBin ? L"(in the Recycle Bin)"
                                            : entry.NewPath.empty() ? L"(taken out)" : entry.NewPath) +
                        (entry.Status == ERROR_SUCCESS ? L"" : L" failed"));
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

TEST_F(TidyTest, MovedEntriesFollowGoneOnesGoAndADryRunOnlyTells)
{
    struct Files {
        std::wstring Kept, Renamed, NewName, Deleted, OldStyle, OtherType, Binned, Away;
    };
    // The test prefix's U: is a removable drive: a file moved there is another drive's.
    test::TempDir removable(L"U:\\");
    // Deleted in Explorer: the file waits in the Recycle Bin, and so does its entry.
    RecycleBin bin(dir_.Path()[0]);
    std::vector<std::wstring> expected;
    Files files[2];
    for (Scope scope : {Scope::ThisUser, Scope::AllUsers}) {
        const std::wstring who = scope == Scope::ThisUser ? L"mine" : L"ours";
        Files& f = files[scope == Scope::ThisUser ? 0 : 1];
        f.Kept = dir_.MakeFile(who + L"-kept" + kept_.Extension);
        f.Renamed = dir_.MakeFile(who + L"-renamed" + kept_.Extension);
        f.NewName = dir_.Path() + L"\\sub-" + who + L"\\renamed" + kept_.Extension;
        f.Deleted = dir_.MakeFile(who + L"-deleted" + gone_.Extension);
        f.OldStyle = dir_.MakeFile(who + L"-old" + gone_.Extension);
        f.OtherType = dir_.MakeFile(who + L"-type" + kept_.Extension);
        f.Binned = dir_.MakeFile(who + L"-binned" + kept_.Extension);
        f.Away = dir_.MakeFile(who + L"-away" + gone_.Extension);
        for (const std::wstring& file : {f.Kept, f.Renamed, f.OtherType, f.Binned})
            GiveIcon(kept_, file, scope);
        for (const std::wstring& file : {f.Deleted, f.OldStyle, f.Away})
            GiveIcon(gone_, file, scope);
        // An entry from before identities.
        ASSERT_EQ(ERROR_SUCCESS, WriteFileIconIdentity(f.OldStyle.c_str(), scope, std::nullopt));

        dir_.MakeFolder(L"sub-" + who);
        ASSERT_TRUE(MoveFileW(f.Renamed.c_str(), f.NewName.c_str()));
        ASSERT_TRUE(DeleteFileW(f.Deleted.c_str()));
        ASSERT_TRUE(DeleteFileW(f.OldStyle.c_str()));
        // Moved to another extension: the class is another, the entry goes.
        ASSERT_TRUE(MoveFileW(f.OtherType.c_str(), (f.OtherType + L".txt").c_str()));
        ASSERT_TRUE(MoveFileW(f.Binned.c_str(), (bin.Path() + L"\\$R" + who + kept_.Extension).c_str()));
        expected.push_back(who + L" " + f.Renamed + L" -> " + f.NewName);
        expected.push_back(who + L" " + f.Binned + L" -> (in the Recycle Bin)");
        ASSERT_TRUE(MoveFileExW(f.Away.c_str(), (removable.Path() + L"\\" + who + gone_.Extension).c_str(),
                                MOVEFILE_COPY_ALLOWED));
        for (const std::wstring& file : {f.Deleted, f.OldStyle, f.OtherType, f.Away})
            expected.push_back(who + L" " + file + L" -> (taken out)");
    }
    std::sort(expected.begin(), expected.end());

    const std::wstring before = Dump();
    const TidyReport dryRun = TidyFileIcons(true);
    EXPECT_EQ(ERROR_SUCCESS, dryRun.Status);
    EXPECT_EQ(expected, Lines(dryRun));
    EXPECT_FALSE(dryRun.HandlerRemoved);
    EXPECT_EQ(before, Dump()) << "a dry run changes nothing";

    const TidyReport tidied = TidyFileIcons(false);
    EXPECT_EQ(ERROR_SUCCESS, tidied.Status);
    EXPECT_EQ(expected, Lines(tidied));
    EXPECT_TRUE(tidied.HandlerRemoved);
    for (Scope scope : {Scope::ThisUser, Scope::AllUsers}) {
        SCOPED_TRACE(scope == Scope::ThisUser ? "this user" : "all users");
        const Files& f = files[scope == Scope::ThisUser ? 0 : 1];
        EXPECT_TRUE(ReadFileIcon(f.Kept.c_str(), scope).has_value());
        EXPECT_TRUE(ReadFileIcon(f.Binned.c_str(), scope).has_value()) << "kept for the file's return";
        EXPECT_TRUE(ReadFileIcon(f.NewName.c_str(), scope).has_value());
        EXPECT_EQ(ReadFileIdentity(f.NewName.c_str()), ReadFileIconIdentity(f.NewName.c_str(), scope));
        for (const std::wstring& file : {f.Renamed, f.Deleted, f.OldStyle, f.OtherType, f.Away}) {
            EXPECT_FALSE(ReadFileIcon(file.c_str(), scope).has_value());
            EXPECT_FALSE(ReadFileIconIdentity(file.c_str(), scope).has_value());
        }
        // The type whose last entries went loses the handler; the other keeps it.
        EXPECT_TRUE(IsOwnIconHandler(kept_.Class.c_str(), scope));
        EXPECT_FALSE(IsOwnIconHandler(gone_.Class.c_str(), scope));
    }

    const TidyReport again = TidyFileIcons(false);
    EXPECT_EQ(2u, again.Entries.size()) << "only the entries whose file is in the Recycle Bin";
    EXPECT_EQ(ERROR_SUCCESS, again.Status);
}

TEST_F(TidyTest, AnEntryDoesNotMoveOverTheNewPathsOwnEntry)
{
    const std::wstring file = dir_.MakeFile(L"a" + kept_.Extension);
    const std::wstring other = dir_.Path() + L"\\b" + kept_.Extension;
    GiveIcon(kept_, file, Scope::AllUsers);
    ASSERT_TRUE(MoveFileW(file.c_str(), other.c_str()));
    IconLocation own(L"C:\\icons\\own.ico", nullptr, 2);
    own.SetTypeKey(kept_.Class.c_str());
    ASSERT_EQ(ERROR_SUCCESS, WriteFileIcon(own, other.c_str(), Scope::AllUsers));

    const TidyReport report = TidyFileIcons(false);
    EXPECT_EQ((std::vector<std::wstring>{L"ours " + file + L" -> (taken out)"}), Lines(report));
    const std::optional<IconLocation> entry = ReadFileIcon(other.c_str(), Scope::AllUsers);
    ASSERT_TRUE(entry.has_value());
    EXPECT_EQ(2, entry->Index);
    EXPECT_TRUE(IsOwnIconHandler(kept_.Class.c_str(), Scope::AllUsers)) << "the type still has an entry";
}

} // namespace
