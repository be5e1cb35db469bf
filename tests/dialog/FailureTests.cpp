// Changes that cannot be written are said so, once, and the dialog stays open with
// nothing reported as done; sources without icons never become the current source; a
// file without an extension is not offered an icon it cannot keep.
#include <windows.h>
#include <wincodec.h>

#include <gtest/gtest.h>

#include <string>

#include "ComInitialization.h"
#include "DrivenDialog.h"
#include "DialogFixture.h"
#include "ErrorText.h"
#include "ExtensionIdentity.h"
#include "FileIconTable.h"
#include "FolderIcons.h"
#include "PictureFiles.h"
#include "Registry.h"
#include "RegistryNames.h"
#include "resource.h"

namespace orvane {
namespace {

using test::DialogDriver;

class FailureTest : public test::DialogTest {
protected:
    // Presses `id` (OK, or Restore/Remove answered Yes), expects one message box with
    // `caption` whose text holds every one of `phrases`, answers it, and checks that the
    // dialog is still open with no second box.
    void ExpectOneFailureBox(DialogDriver& d, int id, const wchar_t* confirmCaption, const wchar_t* caption,
                             std::initializer_list<const wchar_t*> phrases)
    {
        d.PostCommand(id);
        if (confirmCaption != nullptr) {
            HWND confirm = d.WaitWindow(confirmCaption);
            ASSERT_NE(confirm, nullptr);
            DialogDriver::Answer(confirm, IDYES);
        }
        HWND box = d.WaitWindow(caption);
        ASSERT_NE(box, nullptr) << "no message box " << test::Utf8(caption);
        const std::wstring text = DialogDriver::MessageText(box);
        for (const wchar_t* phrase : phrases)
            EXPECT_NE(text.find(phrase), std::wstring::npos)
                << "missing \"" << test::Utf8(phrase) << "\" in: " << test::Utf8(text);
        DialogDriver::Answer(box, IDOK);
        DialogDriver::WaitGone(box, 5000);
        Sleep(300);
        SendMessageW(d.Dialog(), WM_NULL, 0, 0);
        EXPECT_TRUE(d.IsOpen());
        EXPECT_TRUE(d.OtherWindows().empty()) << "a second window appeared";
        lastText_ = text;
    }

    std::wstring lastText_;
};

TEST_F(FailureTest, FolderWhoseDesktopIniPathIsTooLongReportsIt)
{
    // A folder of 248 characters: "\Desktop.ini" does not fit into 259 behind it.
    std::wstring relative;
    while (dir_.Path().size() + 1 + relative.size() < 200)
        relative += std::wstring(40, L'd') + L"\\";
    const std::wstring folder =
        dir_.MakeFolder(relative + std::wstring(247 - dir_.Path().size() - relative.size(), L'f'));
    ASSERT_EQ(folder.size(), 248u);
    ASSERT_NE(GetFileAttributesW(folder.c_str()), INVALID_FILE_ATTRIBUTES);
    StoreSources({shell32_}, 0);
    const std::wstring userBefore = test::ValueText(HKEY_CURRENT_USER, test::UserLruKey, L"0");
    ChangeIconDialog record;
    const test::DialogRun run = RunOn(record, folder, [&](DialogDriver& d) {
        d.ChooseSource(0);
        d.SelectIcons({3});
        ExpectOneFailureBox(d, IDOK, nullptr, L"Orvane - Icon not changed",
                            {L"The icon of the folder 'f", L"could not be changed", L"too long"});
        d.Command(IDCANCEL);
    });
    EXPECT_EQ(run.Result, IDCANCEL);
    EXPECT_FALSE(run.LeftOpen);
    EXPECT_FALSE(ReadFolderBackup(folder.c_str()).has_value());
    // Nothing of a finished OK happened: neither the list nor the rectangle was saved.
    EXPECT_EQ(test::ValueText(HKEY_CURRENT_USER, test::UserProductKey, L"DlgSize"), L"<none>");
    DWORD selection = 0;
    EXPECT_EQ(StoredSources(&selection), std::vector<std::wstring>{shell32_});
    EXPECT_EQ(selection, 0u);
}

// A picture's icon is made inside the folder, where the folder's path and the made
// file's name (29 characters) must fit into 259: for a folder of 240, where Desktop.ini
// would still fit, OK says why it cannot and writes nothing.
TEST_F(FailureTest, FolderWithoutRoomForAMadeIconRefusesItAndWritesNothing)
{
    ComInitialization com;
    std::wstring folder = dir_.Path();
    while (folder.size() < 240) {
        const std::size_t room = 240 - folder.size() - 1;
        folder += L"\\" + std::wstring(room > 52 ? 50 : room, L'm');
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    }
    const std::wstring picture = dir_.Path() + L"\\logo.png";
    ASSERT_TRUE(test::SavePicture(test::Gradient(64, 48), GUID_ContainerFormatPng, picture));
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    ChangeIconDialog record;
    const test::DialogRun run = RunOn(record, folder, [&](DialogDriver& d) {
        HWND fileDialog = d.PressBrowse();
        ASSERT_NE(fileDialog, nullptr);
        ASSERT_TRUE(d.OpenInFileDialog(fileDialog, picture));
        ASSERT_EQ(d.IconCount(), 1);
        ExpectOneFailureBox(d, IDOK, nullptr, L"Orvane - Icon not changed",
                            {L"could not be changed", L"path longer than 259 characters", L"nothing was written"});
        d.Command(IDCANCEL);
    });
    EXPECT_EQ(run.Result, IDCANCEL);
    EXPECT_EQ(test::Joined(test::FolderContent(folder)), L"");
    EXPECT_EQ(attributes, GetFileAttributesW(folder.c_str()));
    EXPECT_FALSE(ReadFolderBackup(folder.c_str()).has_value());
}

// "Desktop.ini" that is a folder cannot hold the icon: said so as it is (not as a
// question of rights), with nothing written.
TEST_F(FailureTest, FolderWhoseDesktopIniIsAFolderSaysSoAndWritesNothing)
{
    const std::wstring folder = dir_.MakeFolder(L"Blocked");
    dir_.MakeFolder(L"Blocked\\Desktop.ini");
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    StoreSources({shell32_}, 0);
    ChangeIconDialog record;
    const test::DialogRun run = RunOn(record, folder, [&](DialogDriver& d) {
        d.ChooseSource(0);
        d.SelectIcons({3});
        ExpectOneFailureBox(d, IDOK, nullptr, L"Orvane - Icon not changed",
                            {L"The icon of the folder 'Blocked", L"folder named Desktop.ini", L"Nothing was written"});
        d.Command(IDCANCEL);
    });
    EXPECT_EQ(run.Result, IDCANCEL);
    EXPECT_EQ(lastText_.find(L"administrator"), std::wstring::npos);
    EXPECT_FALSE(ReadFolderBackup(folder.c_str()).has_value());
    EXPECT_EQ(attributes, GetFileAttributesW(folder.c_str()));
}

TEST_F(FailureTest, DriveIconRefusedByTheRegistryNeedsAdministratorRights)
{
    // The drive's entry exists and may be read but not written, as for a user without
    // administrator rights.
    const std::wstring entry = std::wstring(DriveIconsKey) + L"\\C\\DefaultIcon";
    ASSERT_TRUE(test::WriteString(HKEY_LOCAL_MACHINE, entry, nullptr, shell32_ + L",8"));
    test::ReadOnlyKey readOnly(HKEY_LOCAL_MACHINE, entry);
    ASSERT_TRUE(readOnly.Applied());
    ChangeIconDialog record;
    const test::DialogRun run = RunOn(record, L"C:\\", [&](DialogDriver& d) {
        ASSERT_EQ(d.SelectedIcons(), std::vector<int>{8});
        d.SelectIcons({3});
        ExpectOneFailureBox(d, IDOK, nullptr, L"Orvane - Icon not changed",
                            {L"The icon of the drive C:\\ could not be changed", L"administrator rights"});
        // The user may try again: the same answer, still open.
        ExpectOneFailureBox(d, IDOK, nullptr, L"Orvane - Icon not changed", {L"administrator rights"});
        d.Command(IDCANCEL);
    });
    EXPECT_EQ(run.Result, IDCANCEL);
    EXPECT_EQ(test::ValueText(HKEY_LOCAL_MACHINE, entry, nullptr), shell32_ + L",8");
    EXPECT_FALSE(test::KeyExists(HKEY_CURRENT_USER, test::UserProductKey));
}

TEST_F(FailureTest, TypeIconRefusedByTheRegistryIsReported)
{
    std::wstring ico, ext, cls;
    const std::wstring file = FileOfNewType(L"locked", &ext, &cls, &ico);
    test::ReadOnlyKey readOnly(HKEY_CLASSES_ROOT, cls + L"\\DefaultIcon");
    ASSERT_TRUE(readOnly.Applied());
    StoreSources({shell32_}, 0);
    ChangeIconDialog record;
    const test::DialogRun run = RunOn(record, file, [&](DialogDriver& d) {
        d.Click(IDC_ALLOFTYPE);
        d.ChooseSource(1);
        ASSERT_GT(d.IconCount(), 100);
        d.SelectIcons({20});
        ExpectOneFailureBox(d, IDOK, nullptr, L"Orvane - Icon not changed",
                            {L"all files of type '*", L"could not be changed", L"administrator rights"});
        d.Command(IDCANCEL);
    });
    EXPECT_EQ(run.Result, IDCANCEL);
    EXPECT_EQ(test::ValueText(HKEY_CLASSES_ROOT, cls + L"\\DefaultIcon", nullptr), ico + L",0");
}

TEST_F(FailureTest, RestoreRefusedKeepsTheDialogAndItsButton)
{
    // The type has a backup to go back to, but its DefaultIcon may not be written.
    std::wstring ico, ext, cls;
    const std::wstring file = FileOfNewType(L"restore", &ext, &cls, &ico);
    ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, cls + L"\\DefaultIcon", L"BAKIconInfo", shell32_ + L",4"));
    test::ReadOnlyKey readOnly(HKEY_CLASSES_ROOT, cls + L"\\DefaultIcon");
    ASSERT_TRUE(readOnly.Applied());
    ASSERT_TRUE(test::WriteString(HKEY_CURRENT_USER, test::UserProductKey, L"other", L"kept"));
    ChangeIconDialog record;
    const test::DialogRun run = RunOn(record, file, [&](DialogDriver& d) {
        ASSERT_TRUE(d.Visible(IDC_RESTORE));
        d.Click(IDC_ALLOFTYPE);
        ExpectOneFailureBox(d, IDC_RESTORE, L"Orvane - Restore default Icon", L"Orvane - Icon not restored",
                            {L"all files of type '*", L"could not be restored", L"administrator rights"});
        EXPECT_TRUE(d.Visible(IDC_RESTORE));
        d.Command(IDCANCEL);
    });
    EXPECT_EQ(run.Result, IDCANCEL);
    EXPECT_EQ(test::ValueText(HKEY_CLASSES_ROOT, cls + L"\\DefaultIcon", nullptr), ico + L",0");
    EXPECT_EQ(test::ValueText(HKEY_CLASSES_ROOT, cls + L"\\DefaultIcon", L"BAKIconInfo"), shell32_ + L",4");
    EXPECT_EQ(test::ValueText(HKEY_CURRENT_USER, test::UserProductKey, L"DlgSize"), L"<none>");
}

TEST_F(FailureTest, RemoveRefusedIsReported)
{
    // A class on which this extension is the icon handler, locked against changes.
    std::wstring cls;
    NewType(L"%1", &cls);
    ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, cls + L"\\shellex\\IconHandler", nullptr, ExtensionClsidText));
    test::ReadOnlyKey readOnly(HKEY_CLASSES_ROOT, cls);
    ASSERT_TRUE(readOnly.Applied());
    const std::wstring folder = dir_.MakeFolder(L"Remove");
    ChangeIconDialog record;
    const test::DialogRun run = RunOn(record, folder, [&](DialogDriver& d) {
        ExpectOneFailureBox(d, IDM_REMOVEALL, L"Orvane - Remove Orvane", L"Orvane - Settings not removed",
                            {L"Not all Orvane settings could be removed", L"administrator rights"});
        d.Command(IDCANCEL);
    });
    EXPECT_EQ(run.Result, IDCANCEL);
    EXPECT_EQ(test::ValueText(HKEY_CLASSES_ROOT, cls + L"\\shellex\\IconHandler", nullptr), ExtensionClsidText);
}

TEST_F(FailureTest, RecentEntryWithoutIconsNeverBecomesTheSource)
{
    const std::wstring folder = dir_.MakeFolder(L"Guarded");
    ASSERT_EQ(WriteFolderIcon(IconLocation(shell32_.c_str(), folder.c_str(), 5)), ERROR_SUCCESS);
    const std::wstring text = dir_.MakeFile(L"notes.txt", "no icons");
    const std::wstring missing = dir_.Path() + L"\\gone.icl";
    // Held open by another program that shares it with nobody: it holds icons, and cannot
    // be read now, which is said with the system's reason (not as "no icons").
    const std::wstring locked = IconFile(L"locked.ico");
    const HANDLE holder = CreateFileW(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    StoreSources({text, missing, shell32_, locked}, 0);
    ChangeIconDialog record;
    const test::DialogRun run = RunOn(record, folder, [&](DialogDriver& d) {
        ASSERT_EQ(d.SourceSelection(), 2);
        const int count = d.IconCount();
        for (int entry : {0, 1, 3}) {
            if (entry == 3) {
                SendMessageW(d.Item(IDC_SOURCES), CB_SETCURSEL, entry, 0);
                d.PostCommand(IDC_SOURCES, CBN_SELCHANGE);
                HWND box = d.WaitWindow(L"Orvane - Icon source not read");
                ASSERT_NE(box, nullptr);
                const std::wstring said = DialogDriver::MessageText(box);
                EXPECT_NE(said.find(L"cannot be read: " + SystemErrorText(ERROR_SHARING_VIOLATION)), std::wstring::npos)
                    << test::Utf8(said);
                DialogDriver::Answer(box, IDOK);
                DialogDriver::WaitGone(box, 5000);
                SendMessageW(d.Dialog(), WM_NULL, 0, 0);
            } else {
                d.ChooseSource(entry);
            }
            EXPECT_EQ(d.SourceSelection(), 2) << "entry " << entry;
            EXPECT_EQ(d.IconCount(), count);
            EXPECT_EQ(d.SelectedIcons(), std::vector<int>{5});
            EXPECT_EQ(std::wstring(record.Target.CurrentIconPath()), shell32_);
        }
        d.Command(IDOK);
    });
    CloseHandle(holder);
    EXPECT_EQ(run.Result, IDOK);
    EXPECT_EQ(FolderIconText(folder), shell32_ + L",5");
    DWORD selection = 0;
    EXPECT_EQ(StoredSources(&selection), (std::vector<std::wstring>{text, missing, shell32_, locked}));
    EXPECT_EQ(selection, 2u);
}

TEST_F(FailureTest, BrowsedFileWithoutIconsNeverBecomesTheSource)
{
    const std::wstring folder = dir_.MakeFolder(L"Browsed");
    ASSERT_EQ(WriteFolderIcon(IconLocation(shell32_.c_str(), folder.c_str(), 5)), ERROR_SUCCESS);
    const std::wstring text = dir_.MakeFile(L"readme.txt", "no icons");
    ChangeIconDialog record;
    const test::DialogRun run = RunOn(record, folder, [&](DialogDriver& d) {
        const int count = d.IconCount();
        HWND fileDialog = d.PressBrowse();
        ASSERT_NE(fileDialog, nullptr);
        ASSERT_TRUE(d.OpenInFileDialog(fileDialog, text));
        EXPECT_EQ(d.IconCount(), count);
        EXPECT_EQ(d.SelectedIcons(), std::vector<int>{5});
        EXPECT_EQ(d.Sources(), std::vector<std::wstring>{shell32_});
        EXPECT_EQ(std::wstring(record.Target.CurrentIconPath()), shell32_);
        d.Command(IDOK);
    });
    EXPECT_EQ(run.Result, IDOK);
    EXPECT_EQ(FolderIconText(folder), shell32_ + L",5");
    EXPECT_EQ(StoredSources(nullptr), std::vector<std::wstring>{shell32_});
}

TEST_F(FailureTest, FileWithoutExtensionTakesNoIconFromOkOrEnter)
{
    const std::wstring file = dir_.MakeFile(L"Makefile");
    StoreSources({shell32_}, 0);
    ChangeIconDialog record;
    const test::DialogRun run = RunOn(record, file, [&](DialogDriver& d) {
        EXPECT_FALSE(d.Enabled(IDOK));
        d.ChooseSource(0);
        d.SelectIcons({2});
        d.Command(IDOK);
        d.PressKey(VK_RETURN);
        SendMessageW(d.Dialog(), WM_NULL, 0, 0);
        Sleep(200);
        SendMessageW(d.Dialog(), WM_NULL, 0, 0);
        EXPECT_TRUE(d.IsOpen());
        EXPECT_TRUE(d.OtherWindows().empty());
        d.Command(IDCANCEL);
    });
    EXPECT_EQ(run.Result, IDCANCEL);
    EXPECT_FALSE(ReadFileIcon(file.c_str()).has_value());
    EXPECT_FALSE(test::KeyExists(HKEY_LOCAL_MACHINE, FileIconsKey));
    EXPECT_EQ(test::ValueText(HKEY_CURRENT_USER, test::UserProductKey, L"DlgSize"), L"<none>");
}

} // namespace
} // namespace orvane
