// Entries that know their file: the identity recorded beside each entry, the entries
// whose file is gone, and where a moved file is found again. The files are real files of
// a temporary folder; under Wine a file's identity is its inode on the Unix file system.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "FileIconFollow.h"
#include "FileIconTable.h"
#include "FileIdentity.h"
#include "IconLocation.h"
#include "RegistryNames.h"
#include "RemoveAll.h"
#include "Scope.h"
#include "TestSupport.h"

using namespace orvane;

namespace {

constexpr Scope BothScopes[] = {Scope::ThisUser, Scope::AllUsers};

const char* ScopeName(Scope scope) { return scope == Scope::ThisUser ? "this user" : "all users"; }

// Both scopes' product keys put back, a folder of files, and a class for their entries.
class FollowTest : public ::testing::Test {
protected:
    test::KeyGuard machine_{HKEY_LOCAL_MACHINE, test::ProductRoot};
    test::KeyGuard user_{HKEY_CURRENT_USER, test::ProductRoot};
    test::TempDir dir_;
    test::ScratchType type_;

    std::wstring File(const std::wstring& stem) { return dir_.MakeFile(stem + type_.Extension); }
    std::wstring PathOf(const std::wstring& stem) const { return dir_.Path() + L"\\" + stem + type_.Extension; }

    IconLocation Location(int index) const
    {
        IconLocation location(L"C:\\icons\\set.icl", nullptr, index);
        location.SetTypeKey(type_.Class.c_str());
        return location;
    }

    void SetIcon(const std::wstring& file, Scope scope, int index = 7)
    {
        ASSERT_EQ(ERROR_SUCCESS, WriteFileIcon(Location(index), file.c_str(), scope));
    }
};

TEST_F(FollowTest, TheIdentityIsWrittenWithTheEntryAndGoesWithIt)
{
    for (Scope scope : BothScopes) {
        SCOPED_TRACE(ScopeName(scope));
        const std::wstring file = File(L"a");
        const std::optional<FileIdentity> identity = ReadFileIdentity(file.c_str());
        ASSERT_TRUE(identity.has_value()) << "the platform gives no identity";
        SetIcon(file, scope);
        std::vector<BYTE> data;
        DWORD type = 0;
        ASSERT_TRUE(test::ReadRaw(ProductKeyRoot(scope), FileIconIdsKey, file.c_str(), &data, &type));
        EXPECT_EQ(static_cast<DWORD>(REG_BINARY), type);
        EXPECT_EQ(FileIdentityBytes, data.size());
        EXPECT_EQ(identity, ReadFileIconIdentity(file.c_str(), scope));
        // The entry's own text is as it was before identities.
        EXPECT_EQ(L"C:\\icons\\set.icl,7," + type_.Class, test::ValueText(ProductKeyRoot(scope), FileIconsKey, file.c_str()));

        ASSERT_EQ(ERROR_SUCCESS, DeleteFileIcon(file.c_str(), scope));
        EXPECT_FALSE(ReadFileIconIdentity(file.c_str(), scope).has_value());
        EXPECT_FALSE(test::ReadRaw(ProductKeyRoot(scope), FileIconIdsKey, file.c_str(), &data, &type));
    }
    // This user's keys go with the last entry, as they came.
    EXPECT_FALSE(test::KeyExists(HKEY_CURRENT_USER, FileIconIdsKey));
    EXPECT_FALSE(test::KeyExists(HKEY_CURRENT_USER, FileIconsKey));
}

TEST_F(FollowTest, AnEntryForAPathWithoutAFileKeepsNoIdentityOfAFileBefore)
{
    const std::wstring file = File(L"a");
    SetIcon(file, Scope::AllUsers);
    ASSERT_TRUE(DeleteFileW(file.c_str()));
    SetIcon(file, Scope::AllUsers, 3);
    EXPECT_FALSE(ReadFileIconIdentity(file.c_str(), Scope::AllUsers).has_value());
    EXPECT_TRUE(ReadFileIcon(file.c_str(), Scope::AllUsers).has_value());
}

TEST_F(FollowTest, RemoveAllTakesTheIdentitiesToo)
{
    for (Scope scope : BothScopes)
        SetIcon(File(scope == Scope::ThisUser ? L"mine" : L"ours"), scope);
    ASSERT_EQ(ERROR_SUCCESS, RemoveAllSettings());
    EXPECT_FALSE(test::KeyExists(HKEY_CURRENT_USER, FileIconIdsKey));
    EXPECT_FALSE(test::KeyExists(HKEY_LOCAL_MACHINE, FileIconIdsKey));
}

// What the platform keeps of a file's identity, which everything else here rests on.
TEST_F(FollowTest, ARenameKeepsTheIdentityACopyAndASaveByRenameDoNot)
{
    const std::wstring file = File(L"a");
    const std::optional<FileIdentity> identity = ReadFileIdentity(file.c_str());
    ASSERT_TRUE(identity.has_value());
    EXPECT_EQ(identity, ReadFileIdentity(file.c_str())) << "asked twice";

    ASSERT_TRUE(MoveFileW(file.c_str(), PathOf(L"b").c_str()));
    EXPECT_EQ(identity, ReadFileIdentity(PathOf(L"b").c_str()));
    dir_.MakeFolder(L"sub");
    const std::wstring moved = dir_.Path() + L"\\sub\\b" + type_.Extension;
    ASSERT_TRUE(MoveFileW(PathOf(L"b").c_str(), moved.c_str()));
    EXPECT_EQ(identity, ReadFileIdentity(moved.c_str()));

    ASSERT_TRUE(CopyFileW(moved.c_str(), PathOf(L"copy").c_str(), TRUE));
    EXPECT_NE(identity, ReadFileIdentity(PathOf(L"copy").c_str()));

    const std::wstring saved = dir_.MakeFile(L"saved.tmp", "new content");
    ASSERT_TRUE(MoveFileExW(saved.c_str(), moved.c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_NE(identity, ReadFileIdentity(moved.c_str()));
    EXPECT_FALSE(ReadFileIdentity(PathOf(L"none").c_str()).has_value());
    EXPECT_FALSE(ReadFileIdentity(L"").has_value());
    EXPECT_FALSE(ReadFileIdentity(nullptr).has_value());
}

TEST_F(FollowTest, HostileIdentityValuesAreNoIdentity)
{
    const std::wstring file = File(L"a");
    SetIcon(file, Scope::AllUsers);
    const std::optional<FileIdentity> identity = ReadFileIdentity(file.c_str());
    ASSERT_TRUE(identity.has_value());
    std::vector<BYTE> good;
    DWORD goodType = 0;
    ASSERT_TRUE(test::ReadRaw(HKEY_LOCAL_MACHINE, FileIconIdsKey, file.c_str(), &good, &goodType));
    ASSERT_EQ(FileIdentityBytes, good.size());
    std::vector<BYTE> longer = good;
    longer.push_back(0);
    struct Row {
        const char* What;
        DWORD Type;
        std::vector<BYTE> Data;
    };
    const Row rows[] = {
        {"a string of the right size", REG_SZ, good},
        {"a number", REG_DWORD, {1, 0, 0, 0}},
        {"a quad word", REG_QWORD, std::vector<BYTE>(good.begin(), good.begin() + 8)},
        {"one byte short", REG_BINARY, std::vector<BYTE>(good.begin(), good.end() - 1)},
        {"one byte over", REG_BINARY, longer},
        {"empty", REG_BINARY, {}},
        {"a multi-string", REG_MULTI_SZ, good},
        {"no type", REG_NONE, good},
    };
    const std::wstring renamed = PathOf(L"renamed");
    ASSERT_TRUE(MoveFileW(file.c_str(), renamed.c_str()));
    for (const Row& row : rows) {
        SCOPED_TRACE(row.What);
        ASSERT_TRUE(test::WriteValue(HKEY_LOCAL_MACHINE, FileIconIdsKey, file.c_str(), row.Type,
                                     row.Data.empty() ? nullptr : row.Data.data(), static_cast<DWORD>(row.Data.size())));
        EXPECT_FALSE(ReadFileIconIdentity(file.c_str(), Scope::AllUsers).has_value());
        EXPECT_FALSE(FileIdentityFromValue(row.Type, row.Data.data(), static_cast<DWORD>(row.Data.size())).has_value());
        std::vector<OrphanEntry> orphans;
        ASSERT_TRUE(ReadOrphanEntries(Scope::AllUsers, OrphansOf::WithIdentity, orphans));
        EXPECT_TRUE(orphans.empty());
        EXPECT_FALSE(FollowMovedFile(renamed.c_str()).has_value());
        EXPECT_TRUE(ReadFileIcon(file.c_str(), Scope::AllUsers).has_value()) << "the entry stays";
    }
    // The same bytes as REG_BINARY are the identity again, and the entry follows.
    ASSERT_TRUE(test::WriteValue(HKEY_LOCAL_MACHINE, FileIconIdsKey, file.c_str(), REG_BINARY, good.data(),
                                 static_cast<DWORD>(good.size())));
    EXPECT_EQ(identity, ReadFileIconIdentity(file.c_str(), Scope::AllUsers));
    const std::optional<MovedFileIcon> moved = FollowMovedFile(renamed.c_str());
    ASSERT_TRUE(moved.has_value());
    EXPECT_EQ(file, moved->From);
}

TEST_F(FollowTest, OrphansAreTheEntriesWhosePathIsGone)
{
    const std::wstring kept = File(L"kept");
    const std::wstring renamed = File(L"renamed");
    const std::wstring old = File(L"old");
    for (const std::wstring& file : {kept, renamed, old})
        SetIcon(file, Scope::AllUsers);
    // An entry written before identities, and one for a path in a folder that is gone.
    ASSERT_TRUE(test::WriteString(HKEY_LOCAL_MACHINE, FileIconsKey, old.c_str(), L"C:\\icons\\set.icl,1," + type_.Class));
    ASSERT_EQ(ERROR_SUCCESS, WriteFileIconIdentity(old.c_str(), Scope::AllUsers, std::nullopt));
    const std::wstring noFolder = dir_.Path() + L"\\gone\\x" + type_.Extension;
    ASSERT_EQ(ERROR_SUCCESS, WriteFileIcon(Location(2), noFolder.c_str(), Scope::AllUsers));
    ASSERT_TRUE(MoveFileW(renamed.c_str(), PathOf(L"renamed2").c_str()));
    ASSERT_TRUE(DeleteFileW(old.c_str()));

    std::vector<OrphanEntry> withIdentity;
    ASSERT_TRUE(ReadOrphanEntries(Scope::AllUsers, OrphansOf::WithIdentity, withIdentity));
    ASSERT_EQ(1u, withIdentity.size());
    EXPECT_EQ(renamed, withIdentity[0].Path);
    EXPECT_EQ(L"C:\\icons\\set.icl,7," + type_.Class, withIdentity[0].Text);

    std::vector<OrphanEntry> all;
    ASSERT_TRUE(ReadOrphanEntries(Scope::AllUsers, OrphansOf::All, all));
    std::vector<std::wstring> paths;
    for (const OrphanEntry& orphan : all)
        paths.push_back(orphan.Path + (orphan.Identity ? L" (known)" : L""));
    std::sort(paths.begin(), paths.end());
    std::vector<std::wstring> expected = {noFolder, old, renamed + L" (known)"};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, paths);

    std::vector<OrphanEntry> none;
    EXPECT_TRUE(ReadOrphanEntries(Scope::ThisUser, OrphansOf::All, none));
    EXPECT_TRUE(none.empty());
}

TEST_F(FollowTest, FollowMovedFileMovesTheEntryOfTheFilesOwnIdentityOnly)
{
    for (Scope scope : BothScopes) {
        SCOPED_TRACE(ScopeName(scope));
        test::TempDir dir;
        const std::wstring file = dir.MakeFile(L"a" + type_.Extension);
        SetIcon(file, scope);
        const std::wstring copy = dir.Path() + L"\\copy" + type_.Extension;
        const std::wstring otherType = dir.Path() + L"\\a.other";
        const std::wstring renamed = dir.Path() + L"\\b" + type_.Extension;
        ASSERT_TRUE(CopyFileW(file.c_str(), copy.c_str(), TRUE));
        EXPECT_FALSE(FollowMovedFile(copy.c_str()).has_value()) << "the original is still there";
        EXPECT_FALSE(FollowMovedFile(file.c_str()).has_value()) << "it has its own entry";

        ASSERT_TRUE(MoveFileW(file.c_str(), otherType.c_str()));
        EXPECT_FALSE(FollowMovedFile(copy.c_str()).has_value()) << "a copy is another file";
        EXPECT_FALSE(FollowMovedFile(otherType.c_str()).has_value()) << "another extension is another class";
        ASSERT_TRUE(MoveFileW(otherType.c_str(), renamed.c_str()));

        const std::optional<MovedFileIcon> moved = FollowMovedFile(renamed.c_str());
        ASSERT_TRUE(moved.has_value());
        EXPECT_EQ(file, moved->From);
        EXPECT_EQ(scope, moved->Where);
        EXPECT_FALSE(ReadFileIcon(file.c_str()).has_value());
        const std::optional<IconLocation> entry = ReadFileIcon(renamed.c_str(), scope);
        ASSERT_TRUE(entry.has_value());
        EXPECT_EQ(7, entry->Index);
        EXPECT_EQ(ReadFileIdentity(renamed.c_str()), ReadFileIconIdentity(renamed.c_str(), scope));
        EXPECT_FALSE(ReadFileIconIdentity(file.c_str(), scope).has_value());
        EXPECT_FALSE(FollowMovedFile(renamed.c_str()).has_value()) << "moved once";
        ASSERT_EQ(ERROR_SUCCESS, DeleteFileIcon(renamed.c_str(), scope));
    }
}

TEST_F(FollowTest, MoveFileIconMovesNothingOverAnEntryNorFromNone)
{
    const std::wstring a = File(L"a");
    const std::wstring b = File(L"b");
    SetIcon(a, Scope::AllUsers, 1);
    SetIcon(b, Scope::AllUsers, 2);
    EXPECT_EQ(ERROR_ALREADY_EXISTS, MoveFileIcon(a.c_str(), b.c_str(), Scope::AllUsers));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, MoveFileIcon(PathOf(L"c").c_str(), a.c_str(), Scope::AllUsers));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, MoveFileIcon(a.c_str(), PathOf(L"c").c_str(), Scope::ThisUser));
    EXPECT_EQ(1, ReadFileIcon(a.c_str())->Index);
    EXPECT_EQ(2, ReadFileIcon(b.c_str())->Index);
    EXPECT_EQ(ERROR_INVALID_PARAMETER, MoveFileIcon(nullptr, a.c_str(), Scope::AllUsers));
}

TEST_F(FollowTest, AMovedFileIsFoundByItsIdentity)
{
    const std::wstring file = File(L"a");
    const std::optional<FileIdentity> identity = ReadFileIdentity(file.c_str());
    ASSERT_TRUE(identity.has_value());
    dir_.MakeFolder(L"sub");
    const std::wstring moved = dir_.Path() + L"\\sub\\moved" + type_.Extension;
    ASSERT_TRUE(MoveFileW(file.c_str(), moved.c_str()));
    const std::optional<std::wstring> found = FindFileByIdentity(*identity);
    ASSERT_TRUE(found.has_value()) << "the platform does not open files by id";
    EXPECT_EQ(test::Lower(moved), test::Lower(*found));

    ASSERT_TRUE(DeleteFileW(moved.c_str()));
    EXPECT_FALSE(FindFileByIdentity(*identity).has_value());
    FileIdentity elsewhere = *identity;
    elsewhere.Volume ^= 0x5a5a5a5a;
    EXPECT_FALSE(FindFileByIdentity(elsewhere).has_value());
}

} // namespace
