// orvane.exe given a picture for a folder: the icon made inside the folder and named in
// Desktop.ini by its file name alone, shown as written and as found, and gone again on
// restore; a bad picture gets the picture's own message, exit code 1, nothing written.
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

} // namespace
} // namespace orvane::test
