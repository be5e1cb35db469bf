// A file's own icon follows the file, asked of the icon handler as Explorer asks it: the
// entry is written as a change of the command line writes it (with the file's identity),
// then the file is handled as a user handles it in Explorer, which tells the handler
// nothing of it, and the handler is asked for the file at its new path.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "FileIconTable.h"
#include "IconLocation.h"
#include "Scope.h"
#include "ServerTestSupport.h"

namespace orvane::test {
namespace {

class FollowingFile : public IconHandlerTest {
protected:
    KeyGuard userProduct_{HKEY_CURRENT_USER, ProductRoot};
    const std::wstring typeIcon_ = L"shell32.dll";
    static constexpr int TypeIndex = 4;

    void SetIcon(const std::wstring& file, Scope scope, int index)
    {
        IconLocation location(L"C:\\icons\\set.icl", nullptr, index);
        location.SetTypeKey(className_.c_str());
        ASSERT_EQ(ERROR_SUCCESS, WriteFileIcon(location, file.c_str(), scope));
    }
    void ExpectOwnIcon(const std::wstring& file, int index) { ExpectAnswer(AskIconHandler(file), L"C:\\icons\\set.icl", index); }
    void ExpectTypeIcon(const std::wstring& file) { ExpectAnswer(AskIconHandler(file), typeIcon_, TypeIndex); }
};

enum class Handling { Rename, MoveToFolder, MoveBack, Copy, DeleteThenNewFile, SaveByRename, NoIdentity };

TEST_F(FollowingFile, WhatFollowsTheFileAndWhatDoesNot)
{
    InstallHandler(L"shell32.dll,4");
    struct Row {
        const char* What;
        Handling How;
        bool FollowerHasIcon; // the file at its new path, or the new file at the old path
    };
    const Row rows[] = {
        {"renamed", Handling::Rename, true},
        {"moved to another folder of the volume", Handling::MoveToFolder, true},
        {"moved away and back", Handling::MoveBack, true},
        {"copied: the copy", Handling::Copy, false},
        {"deleted, then a new file at its path", Handling::DeleteThenNewFile, false},
        {"saved by writing a new file and renaming it over the old", Handling::SaveByRename, true},
        {"renamed, the entry from before identities", Handling::NoIdentity, false},
    };
    int index = 10;
    for (Scope scope : {Scope::ThisUser, Scope::AllUsers}) {
        for (const Row& row : rows) {
            SCOPED_TRACE(std::string(scope == Scope::ThisUser ? "this user: " : "all users: ") + row.What);
            ++index;
            const std::wstring stem = L"f" + std::to_wstring(index);
            const std::wstring file = File(stem);
            const std::wstring other = File(stem + L"-other");
            SetIcon(file, scope, index);
            std::wstring follower = dir_.Path() + L"\\" + stem + L"-new" + extension_;
            switch (row.How) {
            case Handling::Rename:
                ASSERT_TRUE(MoveFileW(file.c_str(), follower.c_str()));
                break;
            case Handling::MoveToFolder:
                dir_.MakeFolder(stem);
                follower = dir_.Path() + L"\\" + stem + L"\\" + stem + extension_;
                ASSERT_TRUE(MoveFileW(file.c_str(), follower.c_str()));
                break;
            case Handling::MoveBack:
                ASSERT_TRUE(MoveFileW(file.c_str(), follower.c_str()));
                // The handler sees the path gone.
                ExpectOwnIcon(follower, index);
                ASSERT_TRUE(MoveFileW(follower.c_str(), file.c_str()));
                follower = file;
                break;
            case Handling::Copy:
                ASSERT_TRUE(CopyFileW(file.c_str(), follower.c_str(), TRUE));
                ExpectOwnIcon(file, index);
                break;
            case Handling::DeleteThenNewFile: {
                // Made while the first file is there, so that the file system cannot give
                // it the first one's number again.
                const std::wstring replacement = dir_.MakeFile(stem + L".new", "new");
                ASSERT_TRUE(DeleteFileW(file.c_str()));
                // Explorer shows another file while the path is gone.
                ExpectTypeIcon(other);
                ASSERT_TRUE(MoveFileW(replacement.c_str(), file.c_str()));
                follower = file;
                break;
            }
            case Handling::SaveByRename: {
                const std::wstring saved = dir_.MakeFile(stem + L".tmp", "saved");
                ASSERT_TRUE(MoveFileExW(saved.c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING));
                follower = file;
                break;
            }
            case Handling::NoIdentity:
                ASSERT_TRUE(DeleteKeyTree(ProductKeyRoot(scope), L"Software\\Brindlewick Software\\Orvane\\FileIconIds"));
                ASSERT_TRUE(MoveFileW(file.c_str(), follower.c_str()));
                break;
            }
            if (row.FollowerHasIcon)
                ExpectOwnIcon(follower, index);
            else
                ExpectTypeIcon(follower);
            ExpectTypeIcon(other);
            // Asked again, with no change in between: the same.
            if (row.FollowerHasIcon)
                ExpectOwnIcon(follower, index);
            else
                ExpectTypeIcon(follower);
            ASSERT_EQ(ERROR_SUCCESS, DeleteFileIcon(file.c_str(), scope));
            ExpectTypeIcon(follower);
        }
    }
}

// A moved file's entry is found as soon as it is asked for, however recently the
// handler looked for orphans, once the table has changed since.
TEST_F(FollowingFile, ARenameRightAfterAChangeIsInTheNextAnswer)
{
    InstallHandler(L"shell32.dll,4");
    const std::wstring a = File(L"a");
    const std::wstring b = File(L"b");
    ExpectTypeIcon(a);
    SetIcon(a, Scope::AllUsers, 5);
    SetIcon(b, Scope::ThisUser, 6);
    ExpectOwnIcon(a, 5);
    const std::wstring renamed = dir_.Path() + L"\\renamed" + extension_;
    ASSERT_TRUE(MoveFileW(b.c_str(), renamed.c_str()));
    // A change of the table (another file's entry) makes the next request look again.
    SetIcon(a, Scope::AllUsers, 8);
    ExpectOwnIcon(renamed, 6);
    ExpectOwnIcon(a, 8);
    // Its entry taken out: the renamed file has none any more.
    ASSERT_EQ(ERROR_SUCCESS, DeleteFileIcon(b.c_str(), Scope::ThisUser));
    ExpectTypeIcon(renamed);
}

} // namespace
} // namespace orvane::test
