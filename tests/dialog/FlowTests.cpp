// The dialog driven as a user drives it: choosing sources in the recent list and in the
// platform's open-file dialog, selecting icons, OK, Cancel (button, Esc, close box),
// Restore and Remove with their confirmations; and what the stores, the registry and
// the shell hold afterwards.
#include <windows.h>

#include <shellapi.h>

#include <gtest/gtest.h>

#include <string>

#include "DrivenDialog.h"
#include "DialogFixture.h"
#include "ExtensionIdentity.h"
#include "FileIconTable.h"
#include "FolderIcons.h"
#include "Registry.h"
#include "resource.h"

namespace orvane {
namespace {

using test::DialogDriver;

class FlowTest : public test::DialogTest {
protected:
    std::string RawUserState()
    {
        std::string state;
        std::vector<BYTE> data;
        DWORD type = 0;
        if (test::ReadRaw(HKEY_CURRENT_USER, test::UserProductKey, "DlgSize", &data, &type))
            state += "DlgSize:" + std::to_string(type) + ":" + std::string(data.begin(), data.end()) + "|";
        DWORD selection = 0;
        for (const std::string& entry : StoredSources(&selection))
            state += entry + "|";
        return state + std::to_string(selection);
    }
    void SetDialogRect(const char* text)
    {
        char data[260] = {};
        strcpy(data, text);
        ASSERT_TRUE(test::WriteValue(HKEY_CURRENT_USER, test::UserProductKey, "DlgSize", REG_SZ, data, sizeof data));
    }
};

TEST_F(FlowTest, TypeIconFromTheRecentListIsAppliedAndTheShellReportsIt)
{
    std::string cls;
    const std::string ext = NewType(nullptr, &cls);
    const std::string file = dir_.MakeFile("table" + ext);
    StoreSources({"C:\\x.icl", shell32_}, 0);
    ChangeIconDialog record;
    SetTarget(record, file);
    std::string rect;
    const test::DialogRun run = test::RunDriven(record, [&](DialogDriver& d) {
        ASSERT_EQ(d.IconCount(), 0);
        d.ChooseSource(1);
        ASSERT_GT(d.IconCount(), 100);
        d.SelectIcons({7});
        rect = RectText(d.Dialog());
        d.Command(IDOK);
    });
    EXPECT_EQ(run.Result, IDOK);
    EXPECT_EQ(test::ValueText(HKEY_CLASSES_ROOT, cls + "\\DefaultIcon", nullptr), shell32_ + ",7");
    EXPECT_EQ(test::Lower(test::ShellIconLocation(file, false)), test::Lower(shell32_) + ",7");
    DWORD selection = 0;
    EXPECT_EQ(StoredSources(&selection), (std::vector<std::string>{"C:\\x.icl", shell32_}));
    EXPECT_EQ(selection, 1u);
    std::vector<BYTE> data;
    DWORD type = 0;
    ASSERT_TRUE(test::ReadRaw(HKEY_CURRENT_USER, test::UserProductKey, "DlgSize", &data, &type));
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    ASSERT_EQ(data.size(), 260u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(data.data())), rect);
    for (size_t i = rect.size(); i < data.size(); ++i)
        ASSERT_EQ(data[i], 0) << "byte " << i;
}

TEST_F(FlowTest, SingleFileIconFromTheOpenFileDialog)
{
    std::string ico, ext, cls;
    const std::string file = FileOfNewType("letter", &ext, &cls, &ico);
    ChangeIconDialog record;
    SetTarget(record, file);
    std::string initialName;
    const test::DialogRun run = test::RunDriven(record, [&](DialogDriver& d) {
        ASSERT_EQ(d.Sources(), std::vector<std::string>{ico});
        HWND fileDialog = d.PressBrowse();
        ASSERT_NE(fileDialog, nullptr);
        // It opens on the current icon's file.
        HWND name = DialogDriver::FileNameBox(fileDialog);
        char text[MAX_PATH] = {};
        SendMessageA(name, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
        initialName = text;
        ASSERT_TRUE(d.OpenInFileDialog(fileDialog, shell32_));
        ASSERT_GT(d.IconCount(), 100);
        EXPECT_EQ(d.Sources(), (std::vector<std::string>{shell32_, ico}));
        EXPECT_EQ(d.SourceSelection(), 0);
        EXPECT_TRUE(d.SelectedIcons().empty());
        d.SelectIcons({12});
        d.Command(IDOK);
    });
    EXPECT_EQ(run.Result, IDOK);
    EXPECT_NE(initialName.find("one.ico"), std::string::npos) << initialName;
    const auto entry = ReadFileIcon(file.c_str());
    ASSERT_TRUE(entry.has_value());
    EXPECT_EQ(std::string(entry->IconPath), shell32_);
    EXPECT_EQ(entry->Index, 12);
    EXPECT_EQ(std::string(entry->TypeKey), cls);
    char handler[TextCapacity] = {};
    ASSERT_TRUE(ReadIconHandlerText(cls.c_str(), HandlerSlot::Current, handler));
    EXPECT_STREQ(handler, ExtensionClsidText);
    // The type itself keeps its icon, now behind the handler.
    EXPECT_EQ(test::ValueText(HKEY_CLASSES_ROOT, cls + "\\DefaultIconBAK", nullptr), ico + ",0");
    DWORD selection = 0;
    EXPECT_EQ(StoredSources(&selection), (std::vector<std::string>{shell32_, ico}));
    EXPECT_EQ(selection, 0u);
}

TEST_F(FlowTest, CancelEscAndCloseBoxWriteNothing)
{
    struct Way {
        const char* Name;
        void (*Close)(DialogDriver&);
    } ways[] = {
        {"Cancel button", [](DialogDriver& d) { d.Click(IDCANCEL); }},
        {"Esc", [](DialogDriver& d) { d.PressKey(VK_ESCAPE); }},
        {"close box", [](DialogDriver& d) { PostMessageA(d.Dialog(), WM_SYSCOMMAND, SC_CLOSE, 0); }},
    };
    const std::string folder = dir_.MakeFolder("Untouched");
    StoreSources({shell32_}, 0xFFFFFFFF);
    SetDialogRect("1,2,3,4");
    const std::string before = RawUserState();
    for (const Way& way : ways) {
        SCOPED_TRACE(way.Name);
        ChangeIconDialog record;
        const test::DialogRun run = RunOn(record, folder, [&](DialogDriver& d) {
            d.ChooseSource(0);
            d.SelectIcons({5});
            SetWindowPos(d.Dialog(), nullptr, 10, 10, 400, 420, SWP_NOZORDER);
            way.Close(d);
            EXPECT_TRUE(d.WaitClosed());
        });
        EXPECT_EQ(run.Result, IDCANCEL);
        EXPECT_FALSE(run.LeftOpen);
        EXPECT_EQ(RawUserState(), before);
        EXPECT_EQ(GetFileAttributesA((folder + "\\Desktop.ini").c_str()), INVALID_FILE_ATTRIBUTES);
        EXPECT_FALSE(ReadFolderBackup(folder.c_str()).has_value());
    }
}

TEST_F(FlowTest, OkWithoutSelectionAppliesNothingButRecordsTheRectangle)
{
    const std::string folder = dir_.MakeFolder("Plain");
    ASSERT_TRUE(test::WriteString(HKEY_CURRENT_USER, test::UserProductKey, "other", "kept"));
    test::TempDir sources;
    ChangeIconDialog record;
    SetTarget(record, folder);
    std::string rect;
    const test::DialogRun run = test::RunDriven(record, [&](DialogDriver& d) {
        HWND fileDialog = d.PressBrowse();
        ASSERT_NE(fileDialog, nullptr);
        ASSERT_TRUE(d.OpenInFileDialog(fileDialog, shell32_));
        ASSERT_GT(d.IconCount(), 100);
        rect = RectText(d.Dialog());
        d.Command(IDOK);
    });
    EXPECT_EQ(run.Result, IDOK);
    EXPECT_EQ(GetFileAttributesA((folder + "\\Desktop.ini").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_FALSE(test::KeyExists(HKEY_CURRENT_USER, test::UserLruKey));
    EXPECT_EQ(test::ValueText(HKEY_CURRENT_USER, test::UserProductKey, "DlgSize"), rect);
}

TEST_F(FlowTest, SeveralSelectedIconsApplyTheLowest)
{
    const std::string folder = dir_.MakeFolder("Several");
    StoreSources({shell32_}, 0);
    ChangeIconDialog record;
    const test::DialogRun run = RunOn(record, folder, [&](DialogDriver& d) {
        d.ChooseSource(0);
        d.SelectIcons({30, 4, 12});
        ASSERT_EQ(d.SelectedIcons(), (std::vector<int>{4, 12, 30}));
        d.Command(IDOK);
    });
    EXPECT_EQ(run.Result, IDOK);
    EXPECT_EQ(FolderIconText(folder), shell32_ + ",4");
    // Wine's shell reports a folder's icon index from its Desktop.ini, not the file.
    SHFILEINFOA info{};
    ASSERT_TRUE(SHGetFileInfoA(folder.c_str(), 0, &info, sizeof info, SHGFI_ICONLOCATION));
    EXPECT_EQ(info.iIcon, 4);
}

TEST_F(FlowTest, PreselectedIconIsAppliedWithoutTouchingTheList)
{
    const std::string folder = dir_.MakeFolder("Kept");
    ASSERT_EQ(WriteFolderIcon(IconLocation(shell32_.c_str(), folder.c_str(), 2)), ERROR_SUCCESS);
    ChangeIconDialog record;
    const test::DialogRun run = RunOn(record, folder, [&](DialogDriver& d) { d.PressKey(VK_RETURN); });
    EXPECT_EQ(run.Result, IDOK);
    const auto icon = ReadFolderIcon(folder.c_str());
    ASSERT_TRUE(icon.has_value());
    EXPECT_EQ(icon->Index, 2);
    // The backup holds what the folder had when the dialog opened.
    const auto backup = ReadFolderBackup(folder.c_str());
    ASSERT_TRUE(backup.has_value());
    EXPECT_EQ(backup->Index, 2);
    EXPECT_EQ(StoredSources(nullptr), std::vector<std::string>{shell32_});
}

TEST_F(FlowTest, CheckBoxSwitchesTheHeadlineAtOnceAndStoresNothing)
{
    std::string ico, ext, cls;
    const std::string file = FileOfNewType("sheet", &ext, &cls, &ico);
    ChangeIconDialog record;
    const test::DialogRun run = RunOn(record, file, [&](DialogDriver& d) {
        const std::string prefix = "if you press the OK Button,the Icon for ";
        EXPECT_EQ(d.Text(IDC_HEADLINE), prefix + "File 'sheet" + ext + "' will be changed");
        d.Click(IDC_ALLOFTYPE);
        EXPECT_EQ(d.Text(IDC_HEADLINE), prefix + "Type '*" + ext + "' will be changed");
        EXPECT_TRUE(record.AllOfType());
        d.Click(IDC_ALLOFTYPE);
        EXPECT_EQ(d.Text(IDC_HEADLINE), prefix + "File 'sheet" + ext + "' will be changed");
        EXPECT_FALSE(record.AllOfType());
        d.Click(IDC_ALLOFTYPE);
        d.Command(IDCANCEL);
    });
    EXPECT_EQ(run.Result, IDCANCEL);
    EXPECT_EQ(test::ValueText(HKEY_CLASSES_ROOT, cls + "\\DefaultIcon", nullptr), ico + ",0");
    EXPECT_EQ(test::ValueText(HKEY_CLASSES_ROOT, cls + "\\DefaultIcon", "BAKIconInfo"), "<none>");
    EXPECT_FALSE(test::KeyExists(HKEY_LOCAL_MACHINE, FileIconsKey));
}

TEST_F(FlowTest, RestoreAnsweredNoThenYes)
{
    const std::string folder = dir_.MakeFolder("Restored");
    const std::string ico = IconFile();
    ASSERT_EQ(WriteFolderIcon(IconLocation(shell32_.c_str(), folder.c_str(), 9)), ERROR_SUCCESS);
    ASSERT_EQ(WriteFolderBackup(IconLocation(ico.c_str(), folder.c_str(), 0), folder.c_str()), ERROR_SUCCESS);
    ASSERT_TRUE(test::WriteString(HKEY_CURRENT_USER, test::UserProductKey, "other", "kept"));
    ChangeIconDialog record;
    SetTarget(record, folder);
    std::string rect;
    const test::DialogRun run = test::RunDriven(record, [&](DialogDriver& d) {
        ASSERT_TRUE(d.Visible(IDC_RESTORE));
        HWND box = d.PostCommandFor(IDC_RESTORE, "Orvane - Restore default Icon");
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(DialogDriver::MessageText(box), "The Windows default icon will be used.\nContinue?");
        DialogDriver::Answer(box, IDNO);
        SendMessageA(d.Dialog(), WM_NULL, 0, 0);
        EXPECT_TRUE(d.IsOpen());
        EXPECT_TRUE(d.Visible(IDC_RESTORE));
        EXPECT_EQ(ReadFolderIcon(folder.c_str())->Index, 9);

        rect = RectText(d.Dialog());
        box = d.PostCommandFor(IDC_RESTORE, "Orvane - Restore default Icon");
        ASSERT_NE(box, nullptr);
        DialogDriver::Answer(box, IDYES);
        EXPECT_TRUE(d.WaitClosed());
    });
    EXPECT_EQ(run.Result, IDCANCEL);
    EXPECT_EQ(FolderIconText(folder), ico + ",0");
    EXPECT_FALSE(ReadFolderBackup(folder.c_str()).has_value());
    EXPECT_EQ(test::ValueText(HKEY_CURRENT_USER, test::UserProductKey, "DlgSize"), rect);
    EXPECT_FALSE(test::KeyExists(HKEY_CURRENT_USER, test::UserLruKey));
}

TEST_F(FlowTest, RemoveAnsweredNoThenYesAndOkStillApplies)
{
    const std::string folder = dir_.MakeFolder("AfterRemove");
    const std::string other = dir_.MakeFile("other.txt");
    ASSERT_TRUE(test::WriteString(HKEY_LOCAL_MACHINE, FileIconsKey, other.c_str(), shell32_ + ",1,txtfile"));
    StoreSources({shell32_}, 0);
    ChangeIconDialog record;
    const test::DialogRun run = RunOn(record, folder, [&](DialogDriver& d) {
        d.ChooseSource(0);
        d.SelectIcons({6});
        HWND box = d.PostCommandFor(IDM_REMOVEALL, "Orvane - Remove Orvane");
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(DialogDriver::MessageText(box), "All Orvane Information will be cleared.\nContinue?");
        DialogDriver::Answer(box, IDNO);
        SendMessageA(d.Dialog(), WM_NULL, 0, 0);
        EXPECT_TRUE(test::KeyExists(HKEY_LOCAL_MACHINE, FileIconsKey));

        box = d.PostCommandFor(IDM_REMOVEALL, "Orvane - Remove Orvane");
        ASSERT_NE(box, nullptr);
        DialogDriver::Answer(box, IDYES);
        DialogDriver::WaitGone(box, 20000);
        SendMessageA(d.Dialog(), WM_NULL, 0, 0);
        EXPECT_TRUE(d.IsOpen());
        EXPECT_TRUE(d.OtherWindows().empty());
        EXPECT_FALSE(test::KeyExists(HKEY_LOCAL_MACHINE, FileIconsKey));
        EXPECT_EQ(d.SelectedIcons(), std::vector<int>{6});
        d.Command(IDOK);
    });
    EXPECT_EQ(run.Result, IDOK);
    const auto icon = ReadFolderIcon(folder.c_str());
    ASSERT_TRUE(icon.has_value());
    EXPECT_EQ(icon->Index, 6);
}

TEST_F(FlowTest, CancelledOpenFileDialogChangesNothing)
{
    const std::string folder = dir_.MakeFolder("Browse");
    ASSERT_EQ(WriteFolderIcon(IconLocation(shell32_.c_str(), folder.c_str(), 3)), ERROR_SUCCESS);
    ChangeIconDialog record;
    const test::DialogRun run = RunOn(record, folder, [&](DialogDriver& d) {
        const int count = d.IconCount();
        HWND fileDialog = d.PressBrowse();
        ASSERT_NE(fileDialog, nullptr);
        d.CancelFileDialog(fileDialog);
        EXPECT_EQ(d.IconCount(), count);
        EXPECT_EQ(d.SelectedIcons(), std::vector<int>{3});
        EXPECT_EQ(d.Sources(), std::vector<std::string>{shell32_});
        EXPECT_EQ(std::string(record.CurrentIconPath()), shell32_);
        d.Command(IDCANCEL);
    });
    EXPECT_EQ(run.Result, IDCANCEL);
}

} // namespace
} // namespace orvane
