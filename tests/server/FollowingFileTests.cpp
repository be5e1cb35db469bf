// A file's own icon follows the file, asked of the icon handler as Explorer asks it: the
// entry is written as a change of the command line writes it (with the file's identity),
// then the file is handled as a user handles it in Explorer, which tells the handler
// nothing of it, and the handler is asked for the file at its new path once it has
// looked for moved files (it looks on the thread pool, a few seconds apart, and at once
// after a change of the table).
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "FileIconTable.h"
#include "IconLocation.h"
#include "Scope.h"
#include "ServerTestSupport.h"
#include "ShellWitness.h"

namespace orvane::test {
namespace {

constexpr auto LookingTime = std::chrono::seconds(15);

enum class Handling { Rename, MoveToFolder, MoveBack, MoveToRemovable, Copy, DeleteThenNewFile, SaveByRename, NoIdentity };

class FollowingFile : public IconHandlerTest {
protected:
    KeyGuard userProduct_{HKEY_CURRENT_USER, ProductRoot};
    const std::wstring typeIcon_ = L"shell32.dll";
    static constexpr int TypeIndex = 4;
    static constexpr int LookIndex = 99;

    void SetIcon(const std::wstring& file, Scope scope, int index)
    {
        IconLocation location(L"C:\\icons\\set.icl", nullptr, index);
        location.SetTypeKey(className_.c_str());
        ASSERT_EQ(ERROR_SUCCESS, WriteFileIcon(location, file.c_str(), scope));
    }
    void ExpectOwnIcon(const std::wstring& file, int index) { ExpectAnswer(AskIconHandler(file), L"C:\\icons\\set.icl", index); }
    void ExpectTypeIcon(const std::wstring& file) { ExpectAnswer(AskIconHandler(file), typeIcon_, TypeIndex); }
    // Asks until the file has its own icon, as Explorer asks again when the shell tells it
    // the item changed; the last answer is checked.
    void ExpectOwnIconOnceLooked(const std::wstring& file, int index)
    {
        const auto until = std::chrono::steady_clock::now() + LookingTime;
        IconAnswer answer = AskIconHandler(file);
        while ((answer.File != L"C:\\icons\\set.icl" || answer.Index != index) && std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            answer = AskIconHandler(file);
        }
        ExpectAnswer(answer, L"C:\\icons\\set.icl", index);
    }
    // Returns once the handler has looked for moved files since the call: a file of its
    // own, given an icon (a change of the table) and renamed now, is found at its new name.
    // The file is made beforehand: a file system that numbers files by inode alone (Wine's)
    // gives a deleted file's number to the next new file, which would then be the deleted
    // file's own.
    void WaitForTheHandlerToLook()
    {
        const std::wstring watched = lookout_;
        const std::wstring renamed = dir_.Path() + L"\\look" + std::to_wstring(looks_) + L"-renamed" + extension_;
        SetIcon(watched, Scope::AllUsers, LookIndex);
        ASSERT_TRUE(MoveFileW(watched.c_str(), renamed.c_str()));
        ExpectOwnIconOnceLooked(renamed, LookIndex);
        ASSERT_EQ(ERROR_SUCCESS, DeleteFileIcon(watched.c_str(), Scope::AllUsers));
        ASSERT_TRUE(DeleteFileW(renamed.c_str()));
        lookout_ = File(L"look" + std::to_wstring(++looks_));
    }

    int looks_ = 0;
    std::wstring lookout_ = File(L"look0");

    // Handles the file as a user does; `follower` is the file that should or should not
    // have its icon now: the file at its new path, or the new file at its old path.
    void Handle(Handling how, Scope scope, const std::wstring& stem, int index, const std::wstring& removable,
                std::wstring& follower)
    {
        const std::wstring file = dir_.Path() + L"\\" + stem + extension_;
        follower = dir_.Path() + L"\\" + stem + L"-new" + extension_;
        switch (how) {
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
            ExpectOwnIconOnceLooked(follower, index);
            ASSERT_TRUE(MoveFileW(follower.c_str(), file.c_str()));
            follower = file;
            break;
        case Handling::MoveToRemovable:
            follower = removable + L"\\" + stem + extension_;
            ASSERT_TRUE(MoveFileExW(file.c_str(), follower.c_str(), MOVEFILE_COPY_ALLOWED));
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
            // The handler sees the path gone.
            WaitForTheHandlerToLook();
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
    }
};


TEST_F(FollowingFile, WhatFollowsTheFileAndWhatDoesNot)
{
    InstallHandler(L"shell32.dll,4");
    // The test prefix's U: is a removable drive.
    TempDir removable(L"U:\\");
    struct Row {
        const char* What;
        Handling How;
        bool FollowerHasIcon; // the file at its new path, or the new file at the old path
    };
    const Row rows[] = {
        {"renamed", Handling::Rename, true},
        {"moved to another folder of the volume", Handling::MoveToFolder, true},
        {"moved away and back", Handling::MoveBack, true},
        {"moved to another drive (a removable one)", Handling::MoveToRemovable, false},
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
            std::wstring follower;
            Handle(row.How, scope, stem, index, removable.Path(), follower);
            if (HasFatalFailure())
                return;
            WaitForTheHandlerToLook();
            // Asked twice, with no change in between: the same.
            for (int ask = 0; ask < 2; ++ask) {
                if (row.FollowerHasIcon)
                    ExpectOwnIcon(follower, index);
                else
                    ExpectTypeIcon(follower);
                ExpectTypeIcon(other);
            }
            ASSERT_EQ(ERROR_SUCCESS, DeleteFileIcon(file.c_str(), scope));
            ExpectTypeIcon(follower);
        }
    }
}

// A file renamed while Explorer shows it: Explorer asks at once, before the handler has
// looked, and is told by the shell when the handler has found the file at its new name;
// it asks again and gets the file's own icon. The entry taken out is out of the next
// answer, whatever the handler found before.
TEST_F(FollowingFile, TheShellIsToldOfARenamedFileAndAnEntryTakenOutIsOutAtOnce)
{
    InstallHandler(L"shell32.dll,4");
    const std::wstring a = File(L"a");
    SetIcon(a, Scope::ThisUser, 6);
    ExpectOwnIcon(a, 6);
    ShellWitness shell;
    ASSERT_TRUE(shell.Registered());
    const std::wstring renamed = dir_.Path() + L"\\renamed" + extension_;
    ASSERT_TRUE(MoveFileW(a.c_str(), renamed.c_str()));
    EXPECT_EQ(S_OK, AskIconHandler(renamed).Result);
    const std::vector<ShellEvent> events = shell.Take(1, 15000);
    EXPECT_NE(events.end(), std::find(events.begin(), events.end(), Expected(SHCNE_UPDATEITEM, renamed)))
        << Describe(events);
    ExpectOwnIcon(renamed, 6);
    ASSERT_EQ(ERROR_SUCCESS, DeleteFileIcon(a.c_str(), Scope::ThisUser));
    ExpectTypeIcon(renamed);
}

} // namespace
} // namespace orvane::test
