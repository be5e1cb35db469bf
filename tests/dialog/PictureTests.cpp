// Pictures as icon sources in the dialog: the list shows the one icon a picture gives,
// OK writes it into the folder and names it relative to the folder, reopening shows it
// and keeps it relative; a file that is not a usable picture is explained and never
// becomes the source.
#include <windows.h>
#include <shlobj.h>
#include <wincodec.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "ComInitialization.h"
#include "DialogFixture.h"
#include "FolderColourIcon.h"
#include "FileIconTable.h"
#include "Fnv1a.h"
#include "IconGroupFile.h"
#include "FolderIcons.h"
#include "MadeIconFile.h"
#include "MadeIconPlaces.h"
#include "PictureFiles.h"
#include "resource.h"

namespace orvane::test {
namespace {

constexpr wchar_t PictureFailedCaption[] = L"Orvane - Picture not used";

class PictureDialogTest : public DialogTest {
protected:
    ComInitialization com_;
    // The made icons a folder holds, by name.
    static std::vector<std::wstring> MadeIcons(const std::wstring& folder)
    {
        std::vector<std::wstring> names;
        for (const std::wstring& name : FolderContent(folder))
            if (IsMadeIconFile(folder.c_str(), name.c_str()))
                names.push_back(name);
        return names;
    }
};

TEST_F(PictureDialogTest, PictureChosenForAFolderIsMadeInsideItAndStaysRelative)
{
    const std::wstring folder = dir_.MakeFolder(L"Photos");
    const std::wstring picture = dir_.Path() + L"\\logo.png";
    ASSERT_TRUE(SavePicture(Gradient(64, 48), GUID_ContainerFormatPng, picture));
    ChangeIconDialog record;
    const test::DialogRun first = RunOn(record, folder, [&](DialogDriver& d) {
        HWND fileDialog = d.PressBrowse();
        ASSERT_NE(fileDialog, nullptr);
        ASSERT_TRUE(d.OpenInFileDialog(fileDialog, picture));
        EXPECT_EQ(d.IconCount(), 1);
        EXPECT_EQ(d.SelectedIcons(), std::vector<int>{0});
        EXPECT_EQ(d.Sources().at(static_cast<std::size_t>(d.SourceSelection())), picture);
        d.Command(IDOK);
    });
    EXPECT_EQ(first.Result, IDOK);
    const std::vector<std::wstring> made = MadeIcons(folder);
    ASSERT_EQ(made.size(), 1u);
    EXPECT_EQ(FolderIconText(folder), made[0] + L",0");
    const DWORD attributes = GetFileAttributesW((folder + L"\\" + made[0]).c_str());
    EXPECT_EQ(attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM), DWORD(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    // The copy the list showed is gone from the temporary folder.
    wchar_t temporary[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH, temporary);
    EXPECT_EQ(GetFileAttributesW((std::wstring(temporary) + made[0]).c_str()), INVALID_FILE_ATTRIBUTES);

    // Reopened: the made icon is shown, not offered as a source, and OK keeps it relative.
    ChangeIconDialog again;
    const test::DialogRun second = RunOn(again, folder, [&](DialogDriver& d) {
        EXPECT_EQ(d.IconCount(), 1);
        EXPECT_EQ(d.SelectedIcons(), std::vector<int>{0});
        for (const std::wstring& source : d.Sources())
            EXPECT_EQ(source.find(L".orvane-"), std::wstring::npos) << Utf8(source);
        d.Command(IDOK);
    });
    EXPECT_EQ(second.Result, IDOK);
    EXPECT_EQ(FolderIconText(folder), made[0] + L",0");
    EXPECT_EQ(MadeIcons(folder), made);
}

// A colour from the palette, then any colour through the platform's colour dialog: each
// shows the one coloured folder, and OK writes the last one into the folder.
TEST_F(PictureDialogTest, ColourChosenForAFolderIsTheColouredFolderWrittenInsideIt)
{
    const std::wstring folder = dir_.MakeFolder(L"Projects");
    StoreSources({IconFile()}, 0);
    const std::vector<NamedColour>& palette = FolderPalette();
    std::size_t teal = 0;
    while (teal < palette.size() && std::wstring(palette[teal].Name) != L"teal")
        ++teal;
    ASSERT_LT(teal, palette.size());
    const std::wstring tealIcon = MadeIconName(
        Fnv1a64(FolderColourIconBytes(palette[teal].Colour).data(), FolderColourIconBytes(palette[teal].Colour).size()));
    std::wstring afterTeal;
    ChangeIconDialog record;
    const test::DialogRun run = RunOn(record, folder, [&](DialogDriver& d) {
        d.ChooseSource(0);
        d.Command(IDM_COLOUR_FIRST + static_cast<int>(teal));
        EXPECT_EQ(d.IconCount(), 1);
        EXPECT_EQ(d.SelectedIcons(), std::vector<int>{0});
        EXPECT_EQ(d.SourceSelection(), -1);
        d.Command(IDOK);
    });
    EXPECT_EQ(run.Result, IDOK);
    EXPECT_EQ(FolderIconText(folder), tealIcon + L",0");

    ChangeIconDialog again;
    const test::DialogRun other = RunOn(again, folder, [&](DialogDriver& d) {
        d.PostCommand(IDM_COLOUR_OTHER);
        HWND colours = d.OtherWindows().empty() ? nullptr : d.OtherWindows().front();
        for (int i = 0; colours == nullptr && i < 100; ++i) {
            Sleep(50);
            if (!d.OtherWindows().empty())
                colours = d.OtherWindows().front();
        }
        ASSERT_NE(colours, nullptr);
        DialogDriver::Answer(colours, IDOK);
        ASSERT_TRUE(DialogDriver::WaitGone(colours));
        EXPECT_EQ(d.IconCount(), 1);
        d.Command(IDOK);
    });
    EXPECT_EQ(other.Result, IDOK);
    // The backup is of the folder before its first change, which never named the teal
    // folder: only the new colour's made file is left.
    const std::vector<std::wstring> made = MadeIcons(folder);
    ASSERT_EQ(made.size(), 1u) << Utf8(Joined(made));
    EXPECT_NE(made[0], tealIcon);
    EXPECT_EQ(FolderIconText(folder), made[0] + L",0");
}

// "Keep a copy with the folder" starts as the source suggests; checked, OK writes the
// source's icon into the folder and names it relative to it.
TEST_F(PictureDialogTest, KeepACopyStartsAsTheSourceSuggestsAndCopiesIntoTheFolder)
{
    const std::wstring network = DriveRootOfType(DRIVE_REMOTE);
    if (network.empty())
        GTEST_SKIP() << "the prefix maps no network drive (scripts/common.sh maps R:)";
    TempDir onShare(network);
    struct Row {
        const char* Label;
        std::wstring Source;
        bool CheckedAtFirst;
        bool Check;
    };
    const Row table[] = {
        {"Windows' own library", shell32_, false, false},
        {"a local icon file, copied on request", IconFile(L"local.ico"), false, true},
        {"an icon file on a share", WriteIconFile(onShare.Path() + L"\\shared.ico", 2), true, true},
    };
    int n = 0;
    for (const Row& row : table) {
        SCOPED_TRACE(row.Label);
        const std::wstring folder = dir_.MakeFolder(L"Copy" + std::to_wstring(n++));
        StoreSources({row.Source}, 0);
        bool checkedAtFirst = !row.CheckedAtFirst;
        ChangeIconDialog record;
        const test::DialogRun run = RunOn(record, folder, [&](DialogDriver& d) {
            d.ChooseSource(0);
            checkedAtFirst = d.Checked(IDC_KEEPCOPY);
            d.SetChecked(IDC_KEEPCOPY, row.Check);
            d.SelectIcons({0});
            d.Command(IDOK);
        });
        EXPECT_EQ(run.Result, IDOK);
        EXPECT_EQ(checkedAtFirst, row.CheckedAtFirst);
        const std::vector<std::wstring> made = MadeIcons(folder);
        if (!row.Check) {
            EXPECT_TRUE(made.empty());
            EXPECT_EQ(FolderIconText(folder), row.Source + L",0");
            continue;
        }
        ASSERT_EQ(made.size(), 1u);
        EXPECT_EQ(FolderIconText(folder), made[0] + L",0");
        std::vector<std::uint8_t> copied;
        ASSERT_TRUE(CopyIconBytes(row.Source.c_str(), 0, copied));
        EXPECT_EQ(made[0], MadeIconName(Fnv1a64(copied.data(), copied.size())));
    }
}

// A file given a picture: the made icon lives in the scope's folder of made icons, and
// Restore takes it away with the file's own icon.
TEST_F(PictureDialogTest, PictureChosenForAFileLivesInTheScopesFolderOfMadeIcons)
{
    std::wstring ext;
    const std::wstring file = FileOfNewType(L"plan", &ext);
    const std::wstring picture = dir_.Path() + L"\\plan.bmp";
    ASSERT_TRUE(SavePicture(Gradient(40, 40), GUID_ContainerFormatBmp, picture));
    ChangeIconDialog record;
    const test::DialogRun run = RunOn(record, file, [&](DialogDriver& d) {
        HWND fileDialog = d.PressBrowse();
        ASSERT_NE(fileDialog, nullptr);
        ASSERT_TRUE(d.OpenInFileDialog(fileDialog, picture));
        EXPECT_EQ(d.IconCount(), 1);
        d.Command(IDOK);
    });
    EXPECT_EQ(run.Result, IDOK);
    const auto entry = ReadFileIcon(file.c_str());
    ASSERT_TRUE(entry.has_value());
    const std::wstring made = entry->IconPath;
    const std::optional<Scope> scope = record.Target.ChangedScope();
    ASSERT_TRUE(scope.has_value());
    const std::optional<std::wstring> folder = MadeIconFolder(*scope, false);
    ASSERT_TRUE(folder.has_value());
    ASSERT_EQ(made.rfind(*folder + L"\\", 0), 0u) << Utf8(made);
    EXPECT_NE(GetFileAttributesW(made.c_str()), INVALID_FILE_ATTRIBUTES);

    ChangeIconDialog again;
    const test::DialogRun restore = RunOn(again, file, [&](DialogDriver& d) {
        HWND box = d.PostCommandFor(IDC_RESTORE, L"Orvane - Restore default Icon");
        ASSERT_NE(box, nullptr);
        DialogDriver::Answer(box, IDYES);
        EXPECT_TRUE(d.WaitClosed());
    });
    EXPECT_EQ(restore.Result, IDCANCEL);
    EXPECT_FALSE(ReadFileIcon(file.c_str()).has_value());
    EXPECT_EQ(GetFileAttributesW(made.c_str()), INVALID_FILE_ATTRIBUTES);
}

// What the shell's drop machinery hands a window that accepts files: WM_DROPFILES with a
// drop list in global memory, which the window finishes.
HGLOBAL DropList(const std::wstring& path)
{
    const std::size_t bytes = sizeof(DROPFILES) + (path.size() + 2) * sizeof(wchar_t);
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes);
    if (memory == nullptr)
        return nullptr;
    auto* drop = static_cast<DROPFILES*>(GlobalLock(memory));
    drop->pFiles = sizeof(DROPFILES);
    drop->fWide = TRUE;
    std::memcpy(drop + 1, path.c_str(), path.size() * sizeof(wchar_t));
    GlobalUnlock(memory);
    return memory;
}

// A file dropped onto the dialog becomes the source as the "..." button would make it: a
// library fills the list, a picture gives its one icon, a file without icons changes
// nothing.
TEST_F(PictureDialogTest, ADroppedFileBecomesTheSource)
{
    const std::wstring folder = dir_.MakeFolder(L"Dropped");
    const std::wstring picture = dir_.Path() + L"\\drop.png";
    ASSERT_TRUE(SavePicture(Gradient(48, 48), GUID_ContainerFormatPng, picture));
    const std::wstring text = dir_.MakeFile(L"notes.txt", "no icons here");
    ChangeIconDialog record;
    const test::DialogRun run = RunOn(record, folder, [&](DialogDriver& d) {
        EXPECT_NE(GetWindowLongW(d.Dialog(), GWL_EXSTYLE) & WS_EX_ACCEPTFILES, 0);
        SendMessageW(d.Dialog(), WM_DROPFILES, reinterpret_cast<WPARAM>(DropList(shell32_)), 0);
        EXPECT_GT(d.IconCount(), 100);
        EXPECT_EQ(d.Sources().at(static_cast<std::size_t>(d.SourceSelection())), shell32_);
        SendMessageW(d.Dialog(), WM_DROPFILES, reinterpret_cast<WPARAM>(DropList(text)), 0);
        EXPECT_GT(d.IconCount(), 100);
        EXPECT_EQ(d.Sources().at(static_cast<std::size_t>(d.SourceSelection())), shell32_);
        SendMessageW(d.Dialog(), WM_DROPFILES, reinterpret_cast<WPARAM>(DropList(picture)), 0);
        EXPECT_EQ(d.IconCount(), 1);
        EXPECT_EQ(d.Sources().at(static_cast<std::size_t>(d.SourceSelection())), picture);
        d.Command(IDOK);
    });
    EXPECT_EQ(run.Result, IDOK);
    EXPECT_EQ(MadeIcons(folder).size(), 1u);
}

TEST_F(PictureDialogTest, FileThatIsNoUsablePictureIsExplainedAndNeverBecomesTheSource)
{
    const std::wstring folder = dir_.MakeFolder(L"Kept");
    const std::wstring ico = IconFile();
    using namespace std::string_literals;
    struct Row {
        const wchar_t* Name;
        std::string Content;
        const wchar_t* Says;
    };
    const Row table[] = {
        {L"text.png", "this is no picture at all", L"not a picture"},
        {L"cut.png", "\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\0\x40"s, L"truncated or damaged"},
        {L"empty.jpg", "", L"not a picture"},
    };
    for (const Row& row : table) {
        SCOPED_TRACE(Utf8(row.Name));
        const std::wstring bad = dir_.MakeFile(row.Name, row.Content);
        StoreSources({ico, bad}, 0);
        ChangeIconDialog record;
        std::wstring said;
        const test::DialogRun run = RunOn(record, folder, [&](DialogDriver& d) {
            d.ChooseSource(0);
            ASSERT_EQ(d.IconCount(), 1);
            SendMessageW(d.Item(IDC_SOURCES), CB_SETCURSEL, 1, 0);
            d.PostCommand(IDC_SOURCES, CBN_SELCHANGE);
            HWND box = d.WaitWindow(PictureFailedCaption);
            ASSERT_NE(box, nullptr);
            said = DialogDriver::MessageText(box);
            DialogDriver::Answer(box, IDOK);
            ASSERT_TRUE(DialogDriver::WaitGone(box));
            EXPECT_EQ(d.SourceSelection(), 0);
            EXPECT_EQ(d.IconCount(), 1);
            d.Command(IDCANCEL);
        });
        EXPECT_EQ(run.Result, IDCANCEL);
        EXPECT_NE(said.find(row.Says), std::wstring::npos) << Utf8(said);
        EXPECT_NE(said.find(bad), std::wstring::npos) << Utf8(said);
        EXPECT_EQ(FolderIconText(folder), L"<none>");
        EXPECT_TRUE(MadeIcons(folder).empty());
    }
}

} // namespace
} // namespace orvane::test
