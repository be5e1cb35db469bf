// orvane.exe given a picture or a colour for a folder: the icon made inside the folder and
// named in Desktop.ini by its file name alone, shown as written and as found, and gone
// again on restore; a bad picture or colour gets its own message, exit code 1, nothing
// written.
#include <windows.h>
#include <wincodec.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#include "ComInitialization.h"
#include "FolderPicture.h"
#include "PictureDecoder.h"
#include "PictureFiles.h"
#include "RunTool.h"
#include "TestSupport.h"

namespace orvane::test {
namespace {

constexpr wchar_t Vendor[] = L"Software\\Brindlewick Software";

std::wstring IniText(const std::wstring& folder, const wchar_t* key)
{
    wchar_t text[MAX_PATH] = {};
    GetPrivateProfileStringW(L".ShellClassInfo", key, L"", text, static_cast<DWORD>(std::size(text)),
                             (folder + L"\\desktop.ini").c_str());
    return text;
}

std::wstring Content(const std::wstring& folder) { return Joined(FolderContent(folder)); }

// The product's keys and the Folder class, put back afterwards.
class PictureCliTest : public testing::Test {
protected:
    PictureCliTest() { DeleteKeyTree(HKEY_LOCAL_MACHINE, Vendor); }

    std::wstring Png(const wchar_t* name, Colour colour)
    {
        const std::wstring path = pictures_.Path() + L"\\" + name;
        EXPECT_TRUE(SavePicture(SolidPicture(48, 32, colour), GUID_ContainerFormatPng, path));
        return path;
    }

    KeyGuard vendorMachine_{HKEY_LOCAL_MACHINE, Vendor};
    KeyGuard vendorUser_{HKEY_CURRENT_USER, Vendor};
    KeyGuard folderClass_{HKEY_CLASSES_ROOT, L"Folder"};
    ComInitialization com_;
    TempDir pictures_;
    TempDir dir_;
};

TEST_F(PictureCliTest, APictureForAFolderIsMadeInsideItAndGoesOnRestore)
{
    const std::wstring folder = dir_.MakeFolder(L"Photos");
    const std::wstring red = Png(L"red.png", {0, 0, 255, 255});
    ToolRun run = RunTool({L"set", red, folder});
    ASSERT_EQ(0u, run.ExitCode) << run.Err;
    const std::wstring name = IniText(folder, L"IconFile");
    ASSERT_TRUE(IsMadeIconName(name.c_str())) << name;
    EXPECT_EQ(name + L",0", IniText(folder, L"IconResource"));
    EXPECT_EQ(Joined({L"Desktop.ini", name}), Content(folder));
    EXPECT_TRUE(Contains(run.Out, folder + L": Folder icon set to " + name + L",0, made from " + red)) << run.Out;

    // Moved elsewhere, `show` prints the path as written and where it is found now.
    const std::wstring moved = dir_.Path() + L"\\Photos moved";
    ASSERT_TRUE(MoveFileW(folder.c_str(), moved.c_str()));
    run = RunTool({L"show", moved});
    EXPECT_EQ(0u, run.ExitCode) << run.Err;
    EXPECT_TRUE(Contains(run.Out, L"  icon:   " + name + L",0\n  file:   " + moved + L"\\" + name + L"\n")) << run.Out;

    // A second picture: a new name; the first stays while the backup names it, and
    // restore goes back to it and deletes the second.
    run = RunTool({L"set", Png(L"blue.png", {255, 0, 0, 255}), moved});
    ASSERT_EQ(0u, run.ExitCode) << run.Err;
    const std::wstring second = IniText(moved, L"IconFile");
    EXPECT_NE(name, second);
    EXPECT_TRUE(IsMadeIconName(second.c_str())) << second;
    EXPECT_EQ(Joined({L"Desktop.ini", name, second}), Content(moved));
    run = RunTool({L"restore", moved});
    EXPECT_EQ(0u, run.ExitCode) << run.Err;
    EXPECT_EQ(name, IniText(moved, L"IconFile"));
    EXPECT_EQ(Joined({L"Desktop.ini", name}), Content(moved));
}

TEST_F(PictureCliTest, BadPicturesAreRefusedWithTheirReasonAndWriteNothing)
{
    const std::wstring folder = dir_.MakeFolder(L"Photos");
    const std::vector<std::uint8_t> png = FileBytes(Png(L"good.png", {0, 0, 255, 255}));
    ASSERT_GT(png.size(), 40u);
    const struct {
        const wchar_t* Name;
        std::vector<std::uint8_t> Bytes;
        PictureProblem Problem;
    } rows[] = {
        {L"text.png", {'h', 'e', 'l', 'l', 'o'}, PictureProblem::NotAPicture},
        {L"truncated.png", std::vector<std::uint8_t>(png.begin(), png.begin() + png.size() / 2),
         PictureProblem::Damaged},
        {L"huge.png", WithPngSize(png, 40000, 40000), PictureProblem::TooLarge},
        {L"zero.png", WithPngSize(png, 0, 32), PictureProblem::NoPixels},
    };
    for (const auto& row : rows) {
        const std::wstring path = pictures_.Path() + L"\\" + row.Name;
        ASSERT_TRUE(WriteBytes(path, row.Bytes));
        const ToolRun run = RunTool({L"set", path, folder});
        EXPECT_EQ(1u, run.ExitCode) << row.Name;
        EXPECT_TRUE(Contains(run.Err, PictureProblemText(row.Problem))) << row.Name << L": " << run.Err;
        EXPECT_EQ(L"", Content(folder)) << row.Name;
    }
    // No backup of either scope was taken.
    const ToolRun show = RunTool({L"show", folder});
    EXPECT_TRUE(Contains(show.Out, L"  backup: no\n")) << show.Out;
}

TEST_F(PictureCliTest, APictureForAFileIsRefused)
{
    const std::wstring file = dir_.MakeFile(L"notes.txt");
    const ToolRun run = RunTool({L"set", Png(L"red.png", {0, 0, 255, 255}), file});
    EXPECT_EQ(1u, run.ExitCode);
    EXPECT_TRUE(Contains(run.Err, L"a picture can be given to folders only")) << run.Err;
    EXPECT_EQ(L"notes.txt|", Content(dir_.Path()));
}

TEST_F(PictureCliTest, AColourForAFolderIsMadeInsideItAndGoesOnRestore)
{
    const std::wstring folder = dir_.MakeFolder(L"Work");
    const std::wstring previous = Shell32Path() + L",3";
    ToolRun run = RunTool({L"set", previous, folder});
    ASSERT_EQ(0u, run.ExitCode) << run.Err;
    const std::wstring before = IniText(folder, L"IconResource");

    run = RunTool({L"set", L"--colour", L"Teal", folder});
    ASSERT_EQ(0u, run.ExitCode) << run.Err;
    const std::wstring teal = IniText(folder, L"IconFile");
    ASSERT_TRUE(IsMadeIconName(teal.c_str())) << teal;
    EXPECT_TRUE(IsMadeIconFile(folder.c_str(), teal.c_str())) << teal;
    EXPECT_EQ(teal + L",0", IniText(folder, L"IconResource"));
    EXPECT_EQ(Joined({L"Desktop.ini", teal}), Content(folder));
    EXPECT_TRUE(Contains(run.Out, folder + L": Folder icon set to " + teal + L",0, coloured Teal")) << run.Out;

    // Restore: the icon before the colour, and the made file gone.
    run = RunTool({L"restore", folder});
    EXPECT_EQ(0u, run.ExitCode) << run.Err;
    EXPECT_EQ(before, IniText(folder, L"IconResource"));
    EXPECT_EQ(Joined({L"Desktop.ini"}), Content(folder));

    // The same colour again makes the same file; another colour, given as hex, a new name.
    run = RunTool({L"set", L"--colour", L"teal", folder});
    ASSERT_EQ(0u, run.ExitCode) << run.Err;
    EXPECT_EQ(teal, IniText(folder, L"IconFile"));
    run = RunTool({L"set", folder, L"--colour", L"#3366cc"});
    ASSERT_EQ(0u, run.ExitCode) << run.Err;
    const std::wstring blue = IniText(folder, L"IconFile");
    EXPECT_NE(teal, blue);
    EXPECT_TRUE(IsMadeIconName(blue.c_str())) << blue;
    EXPECT_EQ(Joined({L"Desktop.ini", teal, blue}), Content(folder));
    run = RunTool({L"restore", folder});
    EXPECT_EQ(0u, run.ExitCode) << run.Err;
    EXPECT_EQ(teal, IniText(folder, L"IconFile"));
    EXPECT_EQ(Joined({L"Desktop.ini", teal}), Content(folder));
}

TEST_F(PictureCliTest, BadColoursAndTargetsOtherThanFoldersAreRefusedAndWriteNothing)
{
    const std::wstring folder = dir_.MakeFolder(L"Work");
    const std::wstring file = dir_.MakeFile(L"notes.txt");
    // Should the drive take a colour after all, its key and its made file go again.
    const KeyGuard driveIcons(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\DriveIcons");
    const std::wstring drive = L"C:\\";
    const std::vector<std::wstring> driveFiles = FolderContent(drive);
    struct MadeFilesGo {
        const std::wstring& Drive;
        const std::vector<std::wstring>& Before;
        ~MadeFilesGo()
        {
            for (const std::wstring& name : FolderContent(Drive))
                if (IsMadeIconName(name.c_str()) && std::find(Before.begin(), Before.end(), name) == Before.end()) {
                    SetFileAttributesW((Drive + name).c_str(), FILE_ATTRIBUTE_NORMAL);
                    DeleteFileW((Drive + name).c_str());
                }
        }
    } madeFilesGo{drive, driveFiles};
    const std::wstring driveBefore = Joined(driveFiles);
    const std::wstring driveShown = RunTool({L"show", drive}).Out;
    const struct {
        std::vector<std::wstring> Args;
        unsigned long ExitCode;
        const wchar_t* Message;
    } rows[] = {
        {{L"set", L"--colour", L"reddish", folder}, 1, L"reddish is not a colour"},
        {{L"set", L"--colour", L"#12345", folder}, 1, L"#12345 is not a colour"},
        {{L"set", L"--colour", L"#GGGGGG", folder}, 1, L"#GGGGGG is not a colour"},
        {{L"set", L"--colour", L"", folder}, 1, L"orvane:  is not a colour; give one of red, orange"},
        {{L"set", L"--colour", L"red", file}, 1, L"a colour can be given to folders only"},
        {{L"set", L"--colour", L"red", drive}, 1, L"a colour can be given to folders only"},
        {{L"set", L"--colour", L"red", L"--all-of-type", file}, 2, L"--all-of-type is for files"},
        {{L"set", L"--colour", folder}, 2, L"set --colour needs at least one PATH"},
        {{L"set", L"--colour", L"red", L"--colour", L"blue", folder}, 2, L"--colour needs one NAME or #RRGGBB"},
        {{L"restore", L"--colour", L"red", folder}, 2, L"--colour is for set"},
    };
    for (const auto& row : rows) {
        const std::wstring args = Joined(row.Args);
        const ToolRun run = RunTool(row.Args);
        EXPECT_EQ(row.ExitCode, run.ExitCode) << args;
        EXPECT_TRUE(Contains(run.Err, row.Message)) << args << L": " << run.Err;
        EXPECT_EQ(L"", Content(folder)) << args;
        EXPECT_EQ(L"Work|notes.txt|", Content(dir_.Path())) << args;
        EXPECT_EQ(driveBefore, Content(drive)) << args;
    }
    EXPECT_EQ(driveShown, RunTool({L"show", drive}).Out);
    const ToolRun show = RunTool({L"show", folder, file});
    EXPECT_FALSE(Contains(show.Out, L"backup: yes")) << show.Out;
}

} // namespace
} // namespace orvane::test
