// The dialog driven as a user drives it: choosing sources in the recent list and in the
// platform's open-file dialog, selecting icons, OK, Cancel (button, Esc, close box),
// Restore and Remove with their confirmations; and what the stores, the registry and
// the shell hold afterwards.
#include <windows.h>

#include <shellapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <iterator>
#include <string>

#include "ClassIconHandler.h"
#include "DrivenDialog.h"
#include "DialogFixture.h"
#include "ExtensionIdentity.h"
#include "FileIconTable.h"
#include "FolderIcons.h"
#include "IconIdLibrary.h"
#include "Registry.h"
#include "RegistryNames.h"
#include "resource.h"
#include "UnicodeNames.h"
#include "WindowsDesktopIni.h"

namespace orvane {
namespace {

using test::DialogDriver;

class FlowTest : public test::DialogTest {
protected:
    // The dialog's state as stored: DlgSize's type and bytes, the recent list's entries
    // (in UTF-8) and its selection.
    std::string RawUserState()
    {
        std::string state;
        std::vector<BYTE> data;
        DWORD type = 0;
        if (test::ReadRaw(HKEY_CURRENT_USER, test::UserProductKey, L"DlgSize", &data, &type))
            state += "DlgSize:" + std::to_string(type) + ":" + std::string(data.begin(), data.end()) + "|";
        DWORD selection = 0;
        for (const std::wstring& entry : StoredSources(&selection))
            state += test::Utf8(entry) + "|";
        return state + std::to_string(selection);
    }
    // DlgSize as an earlier build wrote it: the text and zeros up to 260 bytes.
    void SetDialogRect(const wchar_t* text)
    {
        wchar_t data[130] = {};
        static_assert(sizeof data == 260);
        ASSERT_LT(std::wcslen(text), std::size(data));
        std::wcscpy(data, text);
        ASSERT_TRUE(test::WriteValue(HKEY_CURRENT_USER, test::UserProductKey, L"DlgSize", REG_SZ, data, sizeof data));
    }
};

TEST_F(FlowTest, TypeIconFromTheRecentListIsAppliedAndTheShellReportsIt)
{
    std::wstring cls;
    const std::wstring ext = NewType(nullptr, &cls);
    const std::wstring file = dir_.MakeFile(L"table" + ext);
    StoreSources({L"C:\\x.icl", shell32_}, 0);
    ChangeIconDialog record;
    SetTarget(record, file);
    std::wstring rect;
    const test::DialogRun run = test::RunDriven(record, [&](DialogDriver& d) {
        ASSERT_EQ(d.IconCount(), 0);
        d.ChooseSource(1);
        ASSERT_GT(d.IconCount(), 100);
        d.SelectIcons({7});
        rect = RectText(d.Dialog());
        d.Command(IDOK);
    });
    EXPECT_EQ(run.Result, IDOK);
    EXPECT_EQ(test::ValueText(HKEY_CLASSES_ROOT, cls + L"\\DefaultIcon", nullptr), shell32_ + L",7");
    EXPECT_EQ(test::Lower(test::ShellIconLocation(file, false)), test::Lower(shell32_) + L",7");
    DWORD selection = 0;
    EXPECT_EQ(StoredSources(&selection), (std::vector<std::wstring>{L"C:\\x.icl", shell32_}));
    EXPECT_EQ(selection, 1u);
    // 260 characters: the text in UTF-16 and zero bytes after it.
    std::vector<BYTE> data;
    DWORD type = 0;
    ASSERT_TRUE(test::ReadRaw(HKEY_CURRENT_USER, test::UserProductKey, L"DlgSize", &data, &type));
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    ASSERT_EQ(data.size(), 520u);
    const std::size_t textBytes = rect.size() * sizeof(wchar_t);
    ASSERT_LT(textBytes, data.size());
    std::wstring stored(rect.size(), L'\0');
    std::memcpy(&stored[0], data.data(), textBytes);
    EXPECT_EQ(stored, rect);
    for (size_t i = textBytes; i < data.size(); ++i)
        ASSERT_EQ(data[i], 0) << "byte " << i;
}

TEST_F(FlowTest, SingleFileIconFromTheOpenFileDialog)
{
    std::wstring ico, ext, cls;
    const std::wstring file = FileOfNewType(L"letter", &ext, &cls, &ico);
    ChangeIconDialog record;
    SetTarget(record, file);
    std::wstring initialName;
    const test::DialogRun run = test::RunDriven(record, [&](DialogDriver& d) {
        ASSERT_EQ(d.Sources(), std::vector<std::wstring>{ico});
        HWND fileDialog = d.PressBrowse();
        ASSERT_NE(fileDialog, nullptr);
        // It opens on the current icon's file.
        HWND name = DialogDriver::FileNameBox(fileDialog);
        wchar_t text[MAX_PATH] = {};
        SendMessageW(name, WM_GETTEXT, std::size(text), reinterpret_cast<LPARAM>(text));
        initialName = text;
        ASSERT_TRUE(d.OpenInFileDialog(fileDialog, shell32_));
        ASSERT_GT(d.IconCount(), 100);
        EXPECT_EQ(d.Sources(), (std::vector<std::wstring>{shell32_, ico}));
        EXPECT_EQ(d.SourceSelection(), 0);
        EXPECT_TRUE(d.SelectedIcons().empty());
        d.SelectIcons({12});
        d.Command(IDOK);
    });
    EXPECT_EQ(run.Result, IDOK);
    EXPECT_NE(initialName.find(L"one.ico"), std::wstring::npos) << test::Utf8(initialName);
    const auto entry = ReadFileIcon(file.c_str());
    ASSERT_TRUE(entry.has_value());
    EXPECT_EQ(std::wstring(entry->IconPath), shell32_);
    EXPECT_EQ(entry->Index, 12);
    EXPECT_EQ(std::wstring(entry->TypeKey), cls);
    wchar_t handler[TextCapacity] = {};
    ASSERT_TRUE(ReadIconHandlerText(cls.c_str(), HandlerSlot::Current, handler));
    EXPECT_STREQ(handler, ExtensionClsidText);
    // The type itself keeps its icon, now behind the handler.
    EXPECT_EQ(test::ValueText(HKEY_CLASSES_ROOT, cls + L"\\DefaultIconBAK", nullptr), ico + L",0");
    DWORD selection = 0;
    EXPECT_EQ(StoredSources(&selection), (std::vector<std::wstring>{shell32_, ico}));
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
        {"close box", [](DialogDriver& d) { PostMessageW(d.Dialog(), WM_SYSCOMMAND, SC_CLOSE, 0); }},
    };
    const std::wstring folder = dir_.MakeFolder(L"Untouched");
    StoreSources({shell32_}, 0xFFFFFFFF);
    SetDialogRect(L"1,2,3,4");
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
        EXPECT_EQ(GetFileAttributesW((folder + L"\\Desktop.ini").c_str()), INVALID_FILE_ATTRIBUTES);
        EXPECT_FALSE(ReadFolderBackup(folder.c_str()).has_value());
    }
}

TEST_F(FlowTest, OkWithoutSelectionAppliesNothingButRecordsTheRectangle)
{
    const std::wstring folder = dir_.MakeFolder(L"Plain");
    ASSERT_TRUE(test::WriteString(HKEY_CURRENT_USER, test::UserProductKey, L"other", L"kept"));
    test::TempDir sources;
    ChangeIconDialog record;
    SetTarget(record, folder);
    std::wstring rect;
    const test::DialogRun run = test::RunDriven(record, [&](DialogDriver& d) {
        HWND fileDialog = d.PressBrowse();
        ASSERT_NE(fileDialog, nullptr);
        ASSERT_TRUE(d.OpenInFileDialog(fileDialog, shell32_));
        ASSERT_GT(d.IconCount(), 100);
        rect = RectText(d.Dialog());
        d.Command(IDOK);
    });
    EXPECT_EQ(run.Result, IDOK);
    EXPECT_EQ(GetFileAttributesW((folder + L"\\Desktop.ini").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_FALSE(test::KeyExists(HKEY_CURRENT_USER, test::UserLruKey));
    EXPECT_EQ(test::ValueText(HKEY_CURRENT_USER, test::UserProductKey, L"DlgSize"), rect);
}

TEST_F(FlowTest, SeveralSelectedIconsApplyTheLowest)
{
    const std::wstring folder = dir_.MakeFolder(L"Several");
    StoreSources({shell32_}, 0);
    ChangeIconDialog record;
    const test::DialogRun run = RunOn(record, folder, [&](DialogDriver& d) {
        d.ChooseSource(0);
        d.SelectIcons({30, 4, 12});
        ASSERT_EQ(d.SelectedIcons(), (std::vector<int>{4, 12, 30}));
        d.Command(IDOK);
    });
    EXPECT_EQ(run.Result, IDOK);
    EXPECT_EQ(FolderIconText(folder), shell32_ + L",4");
    // Wine's shell reports a folder's icon index from its Desktop.ini, not the file.
    SHFILEINFOW info{};
    ASSERT_TRUE(SHGetFileInfoW(folder.c_str(), 0, &info, sizeof info, SHGFI_ICONLOCATION));
    EXPECT_EQ(info.iIcon, 4);
}

TEST_F(FlowTest, PreselectedIconIsAppliedWithoutTouchingTheList)
{
    const std::wstring folder = dir_.MakeFolder(L"Kept");
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
    EXPECT_EQ(StoredSources(nullptr), std::vector<std::wstring>{shell32_});
}

TEST_F(FlowTest, CheckBoxSwitchesTheHeadlineAtOnceAndStoresNothing)
{
    std::wstring ico, ext, cls;
    const std::wstring file = FileOfNewType(L"sheet", &ext, &cls, &ico);
    ChangeIconDialog record;
    const test::DialogRun run = RunOn(record, file, [&](DialogDriver& d) {
        const std::wstring prefix = L"if you press the OK Button,the Icon for ";
        EXPECT_EQ(d.Text(IDC_HEADLINE), prefix + L"File 'sheet" + ext + L"' will be changed");
        d.Click(IDC_ALLOFTYPE);
        EXPECT_EQ(d.Text(IDC_HEADLINE), prefix + L"Type '*" + ext + L"' will be changed");
        EXPECT_TRUE(record.Target.AllOfType());
        d.Click(IDC_ALLOFTYPE);
        EXPECT_EQ(d.Text(IDC_HEADLINE), prefix + L"File 'sheet" + ext + L"' will be changed");
        EXPECT_FALSE(record.Target.AllOfType());
        d.Click(IDC_ALLOFTYPE);
        d.Command(IDCANCEL);
    });
    EXPECT_EQ(run.Result, IDCANCEL);
    EXPECT_EQ(test::ValueText(HKEY_CLASSES_ROOT, cls + L"\\DefaultIcon", nullptr), ico + L",0");
    EXPECT_EQ(test::ValueText(HKEY_CLASSES_ROOT, cls + L"\\DefaultIcon", L"BAKIconInfo"), L"<none>");
    EXPECT_FALSE(test::KeyExists(HKEY_LOCAL_MACHINE, FileIconsKey));
}

TEST_F(FlowTest, RestoreAnsweredNoThenYes)
{
    const std::wstring folder = dir_.MakeFolder(L"Restored");
    const std::wstring ico = IconFile();
    ASSERT_EQ(WriteFolderIcon(IconLocation(shell32_.c_str(), folder.c_str(), 9)), ERROR_SUCCESS);
    ASSERT_EQ(WriteFolderBackup(IconLocation(ico.c_str(), folder.c_str(), 0), folder.c_str()), ERROR_SUCCESS);
    ASSERT_TRUE(test::WriteString(HKEY_CURRENT_USER, test::UserProductKey, L"other", L"kept"));
    ChangeIconDialog record;
    SetTarget(record, folder);
    std::wstring rect;
    const test::DialogRun run = test::RunDriven(record, [&](DialogDriver& d) {
        ASSERT_TRUE(d.Visible(IDC_RESTORE));
        HWND box = d.PostCommandFor(IDC_RESTORE, L"Orvane - Restore default Icon");
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(DialogDriver::MessageText(box), L"The Windows default icon will be used.\nContinue?");
        DialogDriver::Answer(box, IDNO);
        // The answer is posted: until the box is gone, the next question's box (of the same
        // caption) could not be told from it.
        ASSERT_TRUE(DialogDriver::WaitGone(box));
        SendMessageW(d.Dialog(), WM_NULL, 0, 0);
        EXPECT_TRUE(d.IsOpen());
        EXPECT_TRUE(d.Visible(IDC_RESTORE));
        EXPECT_EQ(ReadFolderIcon(folder.c_str())->Index, 9);

        rect = RectText(d.Dialog());
        box = d.PostCommandFor(IDC_RESTORE, L"Orvane - Restore default Icon");
        ASSERT_NE(box, nullptr);
        DialogDriver::Answer(box, IDYES);
        EXPECT_TRUE(d.WaitClosed());
    });
    EXPECT_EQ(run.Result, IDCANCEL);
    EXPECT_EQ(FolderIconText(folder), ico + L",0");
    EXPECT_FALSE(ReadFolderBackup(folder.c_str()).has_value());
    EXPECT_EQ(test::ValueText(HKEY_CURRENT_USER, test::UserProductKey, L"DlgSize"), rect);
    EXPECT_FALSE(test::KeyExists(HKEY_CURRENT_USER, test::UserLruKey));
}

TEST_F(FlowTest, RemoveAnsweredNoThenYesAndOkStillApplies)
{
    const std::wstring folder = dir_.MakeFolder(L"AfterRemove");
    const std::wstring other = dir_.MakeFile(L"other.txt");
    ASSERT_TRUE(test::WriteString(HKEY_LOCAL_MACHINE, FileIconsKey, other.c_str(), shell32_ + L",1,txtfile"));
    StoreSources({shell32_}, 0);
    ChangeIconDialog record;
    const test::DialogRun run = RunOn(record, folder, [&](DialogDriver& d) {
        d.ChooseSource(0);
        d.SelectIcons({6});
        HWND box = d.PostCommandFor(IDM_REMOVEALL, L"Orvane - Remove Orvane");
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(DialogDriver::MessageText(box), L"All Orvane Information will be cleared.\nContinue?");
        DialogDriver::Answer(box, IDNO);
        // The answer is posted: until the box is gone, the next question's box (of the same
        // caption) could not be told from it.
        ASSERT_TRUE(DialogDriver::WaitGone(box));
        SendMessageW(d.Dialog(), WM_NULL, 0, 0);
        EXPECT_TRUE(test::KeyExists(HKEY_LOCAL_MACHINE, FileIconsKey));

        box = d.PostCommandFor(IDM_REMOVEALL, L"Orvane - Remove Orvane");
        ASSERT_NE(box, nullptr);
        DialogDriver::Answer(box, IDYES);
        DialogDriver::WaitGone(box, 20000);
        SendMessageW(d.Dialog(), WM_NULL, 0, 0);
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
    const std::wstring folder = dir_.MakeFolder(L"Browse");
    ASSERT_EQ(WriteFolderIcon(IconLocation(shell32_.c_str(), folder.c_str(), 3)), ERROR_SUCCESS);
    ChangeIconDialog record;
    const test::DialogRun run = RunOn(record, folder, [&](DialogDriver& d) {
        const int count = d.IconCount();
        HWND fileDialog = d.PressBrowse();
        ASSERT_NE(fileDialog, nullptr);
        d.CancelFileDialog(fileDialog);
        EXPECT_EQ(d.IconCount(), count);
        EXPECT_EQ(d.SelectedIcons(), std::vector<int>{3});
        EXPECT_EQ(d.Sources(), std::vector<std::wstring>{shell32_});
        EXPECT_EQ(std::wstring(record.Target.CurrentIconPath()), shell32_);
        d.Command(IDCANCEL);
    });
    EXPECT_EQ(run.Result, IDCANCEL);
}

// Icon sources whose paths the ANSI code page cannot hold (the test prefix runs with code
// page 1252), each a copy of the four-icon test library: picked from the recent list for
// one file, for all files of a type and for a drive, and through the open-file dialog
// for a folder. The list shows their icons, the recent list keeps each path unit for
// unit, and every store the change writes holds it exactly.
TEST_F(FlowTest, IconSourcesOfAnyNameAreListedKeptAndWritten)
{
    ASSERT_EQ(GetACP(), 1252u);
    const std::wstring library = test::IconIdLibraryPath();
    // Picks entry `source` from the recent list, icon 2, and OK.
    auto pickFromList = [](const std::wstring& source, bool allOfType) {
        return [source, allOfType](DialogDriver& d) {
            if (allOfType)
                d.SetChecked(IDC_ALLOFTYPE, true);
            const std::vector<std::wstring> sources = d.Sources();
            const auto at = std::find(sources.begin(), sources.end(), source);
            ASSERT_NE(at, sources.end());
            d.ChooseSource(static_cast<int>(at - sources.begin()));
            ASSERT_EQ(d.IconCount(), 4);
            d.SelectIcons({2});
            d.Command(IDOK);
        };
    };
    auto expectListed = [](const std::wstring& source) {
        const std::vector<std::wstring> stored = StoredSources(nullptr);
        EXPECT_NE(std::find(stored.begin(), stored.end(), source), stored.end()) << test::Utf8(source);
    };

    for (const test::UnicodeName& name : test::UnicodeNames()) {
        SCOPED_TRACE(name.Label);
        const std::wstring source = dir_.MakeFolder(name.Text) + L"\\" + name.Text + L".dll";
        ASSERT_TRUE(CopyFileW(library.c_str(), source.c_str(), FALSE));

        // One file, from the recent list: its table entry holds the path.
        std::wstring ext, cls;
        const std::wstring file = FileOfNewType(L"one " + name.Text, &ext, &cls);
        test::DeleteKeyTree(HKEY_CURRENT_USER, test::UserLruKey);
        StoreSources({source}, 0);
        ChangeIconDialog single;
        test::DialogRun run = RunOn(single, file, pickFromList(source, false));
        EXPECT_EQ(run.Result, IDOK);
        const auto entry = ReadFileIcon(file.c_str());
        ASSERT_TRUE(entry.has_value());
        EXPECT_EQ(std::wstring(entry->IconPath), source);
        EXPECT_EQ(entry->Index, 2);
        EXPECT_EQ(test::ValueText(HKEY_LOCAL_MACHINE, FileIconsKey, file.c_str()), source + L",2," + cls);
        expectListed(source);

        // A folder, through the platform's open-file dialog: its Desktop.ini names the path.
        const std::wstring folder = dir_.MakeFolder(name.Text + L" folder");
        ChangeIconDialog browsed;
        run = RunOn(browsed, folder, [&](DialogDriver& d) {
            HWND fileDialog = d.PressBrowse();
            ASSERT_NE(fileDialog, nullptr);
            ASSERT_TRUE(d.OpenInFileDialog(fileDialog, source));
            ASSERT_EQ(d.IconCount(), 4);
            // The source is on the list already (the single file's change put it there):
            // it is selected where it stands.
            const std::vector<std::wstring> sources = d.Sources();
            ASSERT_LT(static_cast<std::size_t>(d.SourceSelection()), sources.size());
            EXPECT_EQ(sources[d.SourceSelection()], source);
            EXPECT_EQ(std::wstring(browsed.Target.CurrentIconPath()), source);
            d.SelectIcons({1});
            d.Command(IDOK);
        });
        EXPECT_EQ(run.Result, IDOK);
        EXPECT_EQ(FolderIconText(folder), source + L",1");
        wchar_t resource[600] = {};
        GetPrivateProfileStringW(L".ShellClassInfo", L"IconResource", L"", resource,
                                 static_cast<DWORD>(std::size(resource)), (folder + L"\\Desktop.ini").c_str());
        EXPECT_EQ(std::wstring(resource), source + L",1");
        SHFILEINFOW info{};
        ASSERT_TRUE(SHGetFileInfoW(folder.c_str(), 0, &info, sizeof info, SHGFI_ICONLOCATION));
        EXPECT_EQ(info.iIcon, 1);
        DWORD selection = 0;
        const std::vector<std::wstring> stored = StoredSources(&selection);
        ASSERT_LT(selection, stored.size());
        EXPECT_EQ(stored[selection], source);

        // All files of another type (one whose icon handler this extension is not) and the
        // drive, from the recent list.
        std::wstring typeClass;
        const std::wstring typed = FileOfNewType(L"all " + name.Text, nullptr, &typeClass);
        ChangeIconDialog type;
        run = RunOn(type, typed, pickFromList(source, true));
        EXPECT_EQ(run.Result, IDOK);
        EXPECT_EQ(test::ValueText(HKEY_CLASSES_ROOT, typeClass + L"\\DefaultIcon", nullptr), source + L",2");
        // Not asked of the shell: Wine's shell reads a type's DefaultIcon through the ANSI
        // code page ("\u014D" comes back as "o"), which Windows does not.
        ChangeIconDialog drive;
        run = RunOn(drive, L"C:\\", pickFromList(source, false));
        EXPECT_EQ(run.Result, IDOK);
        EXPECT_EQ(test::ValueText(HKEY_LOCAL_MACHINE, std::wstring(DriveIconsKey) + L"\\C\\DefaultIcon", nullptr),
                  source + L",2");
    }
}

// A source whose path has exactly 259 UTF-16 units, a surrogate pair at its end: listed
// and shown whole, and a folder takes it, as every place holds 259 units: its Desktop.ini
// names it whole.
TEST_F(FlowTest, SourceOfTheLongestPathIsListedWholeAndTaken)
{
    const std::wstring source = test::PathOfLength(dir_.Path(), 259, L".dll");
    ASSERT_EQ(source.size(), 259u);
    ASSERT_EQ(dir_.MakeFile(source.substr(dir_.Path().size() + 1), ""), source);
    ASSERT_TRUE(CopyFileW(test::IconIdLibraryPath().c_str(), source.c_str(), FALSE));
    const std::wstring folder = dir_.MakeFolder(L"Longest");
    StoreSources({source}, 0xFFFFFFFF);
    ChangeIconDialog record;
    const test::DialogRun run = RunOn(record, folder, [&](DialogDriver& d) {
        ASSERT_EQ(d.Sources(), std::vector<std::wstring>{source});
        d.ChooseSource(0);
        EXPECT_EQ(d.IconCount(), 4);
        EXPECT_EQ(d.SourceSelection(), 0);
        EXPECT_EQ(std::wstring(record.Target.CurrentIconPath()), source);
        d.SelectIcons({1});
        d.Command(IDOK);
    });
    EXPECT_EQ(run.Result, IDOK);
    EXPECT_EQ(test::IconEntries(folder), test::EntriesNaming(source + L",1"));
    const auto written = ReadFolderIcon(folder.c_str());
    ASSERT_TRUE(written.has_value());
    EXPECT_EQ(std::wstring(written->IconPath), source);
    EXPECT_EQ(written->Index, 1);
    DWORD selection = 0;
    EXPECT_EQ(StoredSources(&selection), std::vector<std::wstring>{source});
    EXPECT_EQ(selection, 0u);
}

// The menu's Export settings... and Import settings... as a person uses them: the
// save-file dialog, the summary; then, with the folder's icon restored, the open-file
// dialog and the summary of the import, which gives the folder its icon again; and a file
// that is no settings file, told and nothing written.
TEST_F(FlowTest, SettingsExportedAndImportedThroughTheMenu)
{
    const std::wstring folder = dir_.MakeFolder(L"Exported");
    const std::wstring file = dir_.Path() + L"\\settings.json";
    const std::wstring broken = dir_.MakeFile(L"broken.json", "{\"format\": \"orvane-settings\", \"version\": 1,");
    IconTarget target = OpenTarget(folder.c_str());
    ASSERT_TRUE(target.SetCurrentIconPath(shell32_.c_str()));
    target.SetCurrentIndex(8);
    ASSERT_EQ(target.ApplyIcon(), ChangeResult::Done);
    std::wstring exported, imported, refused, iconBetween, iconAfter;
    ChangeIconDialog record;
    const test::DialogRun run = RunOn(record, folder, [&](DialogDriver& d) {
        HWND fileDialog = d.PostCommandFor(IDM_EXPORT, L"Export Orvane Settings");
        ASSERT_NE(fileDialog, nullptr);
        ASSERT_TRUE(d.OpenInFileDialog(fileDialog, file));
        HWND box = d.WaitWindow(L"Orvane - Export settings");
        ASSERT_NE(box, nullptr);
        exported = DialogDriver::MessageText(box);
        DialogDriver::Answer(box, IDOK);
        ASSERT_TRUE(DialogDriver::WaitGone(box));

        IconTarget again = OpenTarget(folder.c_str());
        ASSERT_EQ(again.RestoreDefault(), ChangeResult::Done);
        iconBetween = FolderIconText(folder);
        fileDialog = d.PostCommandFor(IDM_IMPORT, L"Import Orvane Settings");
        ASSERT_NE(fileDialog, nullptr);
        ASSERT_TRUE(d.OpenInFileDialog(fileDialog, file));
        box = d.WaitWindow(L"Orvane - Import settings");
        ASSERT_NE(box, nullptr);
        imported = DialogDriver::MessageText(box);
        DialogDriver::Answer(box, IDOK);
        ASSERT_TRUE(DialogDriver::WaitGone(box));
        iconAfter = FolderIconText(folder);

        fileDialog = d.PostCommandFor(IDM_IMPORT, L"Import Orvane Settings");
        ASSERT_NE(fileDialog, nullptr);
        ASSERT_TRUE(d.OpenInFileDialog(fileDialog, broken));
        box = d.WaitWindow(L"Orvane - Import settings");
        ASSERT_NE(box, nullptr);
        refused = DialogDriver::MessageText(box);
        DialogDriver::Answer(box, IDOK);
        ASSERT_TRUE(DialogDriver::WaitGone(box));
        d.Command(IDCANCEL);
    });
    EXPECT_EQ(run.Result, IDCANCEL);
    EXPECT_EQ(exported, L"1 setting(s) exported to " + file + L".");
    EXPECT_EQ(iconBetween, L"<none>");
    EXPECT_EQ(imported, L"1 setting(s) imported, 0 already set, 0 not imported.");
    EXPECT_EQ(iconAfter, shell32_ + L",8");
    EXPECT_NE(refused.find(L"Nothing was imported: the file is not JSON text"), std::wstring::npos) << test::Utf8(refused);
    EXPECT_EQ(FolderIconText(folder), shell32_ + L",8");
    EXPECT_EQ(target.RestoreDefault(), ChangeResult::Done);
}

} // namespace
} // namespace orvane
