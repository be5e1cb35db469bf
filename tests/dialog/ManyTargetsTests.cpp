// The dialog for several selected items: its headline, OK giving every target the icon
// with its own backup while a target that cannot be written is listed and the others
// still change, and Restore taking each back (a file deleted in between too).
#include <windows.h>

#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ClassIconHandler.h"
#include "DialogFixture.h"
#include "FileIconTable.h"
#include "FolderLink.h"
#include "FolderBackups.h"
#include "FolderIcons.h"
#include "resource.h"

namespace orvane::test {
namespace {

constexpr wchar_t NotAllChangedCaption[] = L"Orvane - Not every icon changed";

class ManyTargetsTest : public DialogTest {};

TEST_F(ManyTargetsTest, OkChangesEachTargetListsWhatFailedAndRestoreTakesEachBack)
{
    const std::wstring earlier = IconFile(L"earlier.ico");
    std::vector<std::wstring> folders;
    for (const wchar_t* name : {L"One", L"Two", L"Held"}) {
        folders.push_back(dir_.MakeFolder(name));
        ASSERT_EQ(WriteFolderIcon(IconLocation(earlier.c_str(), folders.back().c_str(), 0)), ERROR_SUCCESS);
    }
    std::wstring ext, typeKey;
    const std::wstring first = FileOfNewType(L"first", &ext, &typeKey);
    const std::wstring second = dir_.MakeFile(L"second" + ext);
    std::vector<std::wstring> targets = folders;
    targets.push_back(first);
    targets.push_back(second);
    StoreSources({shell32_}, 0);

    // Another program holds the last folder's Desktop.ini open without sharing it.
    HANDLE held = CreateFileW((folders[2] + L"\\Desktop.ini").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    ChangeIconDialog record;
    SetTarget(record, targets[0]);
    record.Targets = targets;
    std::wstring headline, listed;
    const test::DialogRun run = test::RunDriven(record, [&](DialogDriver& d) {
        headline = d.Text(IDC_HEADLINE);
        EXPECT_TRUE(d.Visible(IDC_ALLOFTYPE));
        EXPECT_FALSE(d.Checked(IDC_ALLOFTYPE));
        EXPECT_FALSE(d.Visible(IDC_COLOUR));
        d.SetChecked(IDC_ALLOFTYPE, true);
        EXPECT_NE(d.Text(IDC_HEADLINE).find(L"3 folders and 1 file type"), std::wstring::npos);
        d.SetChecked(IDC_ALLOFTYPE, false);
        d.ChooseSource(d.ListSource(shell32_));
        ASSERT_GT(d.IconCount(), 5);
        d.SelectIcons({5});
        d.PostCommand(IDOK);
        HWND box = d.WaitWindow(NotAllChangedCaption);
        ASSERT_NE(box, nullptr);
        listed = DialogDriver::MessageText(box);
        DialogDriver::Answer(box, IDOK);
        EXPECT_TRUE(d.WaitClosed());
    });
    CloseHandle(held);
    EXPECT_EQ(run.Result, IDOK);
    EXPECT_EQ(headline, L"if you press the OK Button,the Icon for 3 folders and 2 files will be changed");
    EXPECT_NE(listed.find(L"4 of 5 items were changed"), std::wstring::npos) << Utf8(listed);
    EXPECT_NE(listed.find(folders[2] + L": "), std::wstring::npos) << Utf8(listed);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(FolderIconText(folders[i]), shell32_ + L",5");
        EXPECT_TRUE(ReadFolderBackup(folders[i].c_str()).has_value());
    }
    EXPECT_EQ(FolderIconText(folders[2]), earlier + L",0");
    EXPECT_FALSE(ReadFolderBackup(folders[2].c_str()).has_value());
    for (const std::wstring& file : {first, second}) {
        const auto entry = ReadFileIcon(file.c_str());
        ASSERT_TRUE(entry.has_value()) << Utf8(file);
        EXPECT_EQ(std::wstring(entry->IconPath) + L"," + std::to_wstring(entry->Index), shell32_ + L",5");
    }

    // A file deleted since: its entry is still taken back, and the type's icon handler with
    // the last entry of the type.
    ASSERT_TRUE(IsOwnIconHandler(typeKey.c_str(), Scope::AllUsers));
    ASSERT_TRUE(DeleteFileW(second.c_str()));
    ChangeIconDialog again;
    SetTarget(again, targets[0]);
    again.Targets = targets;
    const test::DialogRun restore = test::RunDriven(again, [&](DialogDriver& d) {
        ASSERT_TRUE(d.Visible(IDC_RESTORE));
        HWND box = d.PostCommandFor(IDC_RESTORE, L"Orvane - Restore default Icon");
        ASSERT_NE(box, nullptr);
        DialogDriver::Answer(box, IDYES);
        EXPECT_TRUE(d.WaitClosed());
        EXPECT_TRUE(d.OtherWindows().empty());
    });
    EXPECT_EQ(restore.Result, IDCANCEL);
    for (const std::wstring& folder : folders) {
        EXPECT_EQ(FolderIconText(folder), earlier + L",0");
        EXPECT_FALSE(ReadFolderBackup(folder.c_str()).has_value());
    }
    EXPECT_FALSE(ReadFileIcon(first.c_str()).has_value());
    EXPECT_FALSE(ReadFileIcon(second.c_str()).has_value());
    EXPECT_FALSE(IsOwnIconHandler(typeKey.c_str(), Scope::AllUsers));
}

// A long batch shows its progress in the list's place; Cancel, pressed from the driver's
// thread while it runs, stops it between targets: each folder is either changed with its
// backup or untouched.
TEST_F(ManyTargetsTest, CancelStopsBetweenTargetsAndEachIsWholeOrUntouched)
{
    const std::wstring earlier = IconFile(L"earlier.ico");
    std::vector<std::wstring> folders;
    for (int i = 0; i < 400; ++i) {
        folders.push_back(dir_.MakeFolder(L"F" + std::to_wstring(i)));
        ASSERT_EQ(WriteFolderIcon(IconLocation(earlier.c_str(), folders.back().c_str(), 0)), ERROR_SUCCESS);
    }
    StoreSources({shell32_}, 0);
    ChangeIconDialog record;
    SetTarget(record, folders[0]);
    record.Targets = folders;
    bool progressShown = false;
    std::wstring told;
    const test::DialogRun run = test::RunDriven(record, [&](DialogDriver& d) {
        d.ChooseSource(d.ListSource(shell32_));
        d.SelectIcons({3});
        d.PostCommand(IDOK);
        for (int i = 0; i < 3000 && !progressShown; ++i) {
            progressShown = FindWindowExW(d.Dialog(), nullptr, PROGRESS_CLASSW, nullptr) != nullptr;
            Sleep(10);
        }
        // Cancelled in the middle: once the first folder has its new icon (on a loaded
        // machine the bar may show before any target is done).
        for (int i = 0; i < 3000 && FolderIconText(folders.front()) != shell32_ + L",3"; ++i)
            Sleep(10);
        d.PostCommand(IDCANCEL);
        HWND box = d.WaitWindow(L"Orvane - Not every icon changed", 60000);
        ASSERT_NE(box, nullptr);
        told = DialogDriver::MessageText(box);
        DialogDriver::Answer(box, IDOK);
        EXPECT_TRUE(d.WaitClosed());
    });
    EXPECT_EQ(run.Result, IDOK);
    EXPECT_TRUE(progressShown);
    EXPECT_NE(told.find(L"Cancelled"), std::wstring::npos) << Utf8(told);
    std::size_t changed = 0;
    for (const std::wstring& folder : folders) {
        SCOPED_TRACE(Utf8(folder));
        const bool backup = ReadFolderBackup(folder.c_str()).has_value();
        if (FolderIconText(folder) == shell32_ + L",3") {
            ++changed;
            EXPECT_TRUE(backup);
        } else {
            EXPECT_EQ(FolderIconText(folder), earlier + L",0");
            EXPECT_FALSE(backup);
        }
    }
    EXPECT_GT(changed, 0u);
    EXPECT_LT(changed, folders.size());
    EXPECT_NE(told.find(std::to_wstring(changed) + L" of 400 items were changed"), std::wstring::npos) << Utf8(told);
}

// "Also all subfolders": one folder, OK and Restore reach every folder below it, never
// through a link out of the tree.
TEST_F(ManyTargetsTest, AlsoAllSubfoldersChangesAndRestoresTheTreeButNotThroughALink)
{
    TempDir outside;
    const std::wstring earlier = IconFile(L"earlier.ico");
    const std::wstring root = dir_.MakeFolder(L"Tree");
    const std::vector<std::wstring> tree{root, dir_.MakeFolder(L"Tree\\A"), dir_.MakeFolder(L"Tree\\A\\B"),
                                         dir_.MakeFolder(L"Tree\\C")};
    const std::wstring away = outside.MakeFolder(L"Away");
    for (const std::wstring& folder : tree)
        ASSERT_EQ(WriteFolderIcon(IconLocation(earlier.c_str(), folder.c_str(), 0)), ERROR_SUCCESS);
    ASSERT_EQ(WriteFolderIcon(IconLocation(earlier.c_str(), away.c_str(), 0)), ERROR_SUCCESS);
    FolderLink link(root + L"\\Link", away);
    ASSERT_TRUE(link.Made());
    StoreSources({shell32_}, 0);
    for (const bool restore : {false, true}) {
        SCOPED_TRACE(restore ? "restore" : "apply");
        ChangeIconDialog record;
        const test::DialogRun run = RunOn(record, root, [&](DialogDriver& d) {
            ASSERT_TRUE(d.Visible(IDC_SUBFOLDERS));
            d.SetChecked(IDC_SUBFOLDERS, true);
            if (restore) {
                HWND box = d.PostCommandFor(IDC_RESTORE, L"Orvane - Restore default Icon");
                ASSERT_NE(box, nullptr);
                DialogDriver::Answer(box, IDYES);
            } else {
                d.ChooseSource(d.ListSource(shell32_));
                d.SelectIcons({4});
                d.PostCommand(IDOK);
            }
            EXPECT_TRUE(d.WaitClosed());
            EXPECT_TRUE(d.OtherWindows().empty());
        });
        EXPECT_EQ(run.Result, restore ? IDCANCEL : IDOK);
        for (const std::wstring& folder : tree) {
            EXPECT_EQ(FolderIconText(folder), restore ? earlier + L",0" : shell32_ + L",4") << Utf8(folder);
            EXPECT_EQ(ReadFolderBackup(folder.c_str()).has_value(), !restore) << Utf8(folder);
        }
        EXPECT_EQ(FolderIconText(away), earlier + L",0");
        EXPECT_FALSE(ReadFolderBackup(away.c_str()).has_value());
    }
}

} // namespace
} // namespace orvane::test
