// Pictures given to folders: the icon made inside the folder and named relative to it, so
// that it goes where the folder goes; the made file deleted once nothing names it, and
// never a file the product did not make; a bad picture leaves the folder as it was.
#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>
#include <wincodec.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ComInitialization.h"
#include "Fnv1a.h"
#include "FolderIcons.h"
#include "MadeIconSweep.h"
#include "FolderIconMaker.h"
#include "IconTarget.h"
#include "PictureFiles.h"
#include "RemoveAll.h"
#include "ScratchRegistry.h"
#include "TestSupport.h"

using namespace orvane;
using namespace orvane::test;

namespace {

// The product's keys (where folder backups live) and the Folder class icon, put back
// afterwards; COM for the imaging component; a folder for pictures and one to change.
class FolderPictureTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(test::DeleteKeyTree(HKEY_LOCAL_MACHINE, ProductRoot));
        ASSERT_TRUE(test::DeleteKeyTree(HKEY_CURRENT_USER, ProductRoot));
        ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, FolderClassIconKey, L"", FolderClassIconText));
        folder_ = place_.MakeFolder(L"Holiday");
    }

    std::wstring Picture(const wchar_t* name, Colour colour)
    {
        const std::wstring path = pictures_.Path() + L"\\" + name;
        EXPECT_TRUE(SavePicture(SolidPicture(40, 30, colour), GUID_ContainerFormatPng, path));
        return path;
    }

    // Makes the icon from the picture in the folder and sets it as the folder's.
    ChangeResult Give(const std::wstring& folder, const std::wstring& picture, std::wstring* name)
    {
        if (MakeFolderPictureIcon(folder.c_str(), picture.c_str(), name) != PictureProblem::None)
            return ChangeResult::WriteFailed;
        IconTarget target = OpenTarget(folder.c_str());
        target.SetCurrentIconPath(name->c_str());
        target.SetCurrentIndex(0);
        return target.ApplyIcon();
    }

    ChangeResult Restore(const std::wstring& folder)
    {
        IconTarget target = OpenTarget(folder.c_str());
        return target.RestoreDefault();
    }

    ComInitialization com_;
    TempDir pictures_;
    TempDir place_;
    std::wstring folder_;

private:
    KeyGuard machine_{HKEY_LOCAL_MACHINE, ProductRoot};
    KeyGuard user_{HKEY_CURRENT_USER, ProductRoot};
    KeyGuard folderClass_{HKEY_CLASSES_ROOT, FolderClassIconKey};
};

} // namespace

TEST(MadeIconName, FormAndHash)
{
    EXPECT_EQ(L".orvane-cbf29ce484222325.ico", MadeIconName(Fnv1a64(nullptr, 0)));
    const std::uint8_t a[] = {'a'};
    EXPECT_EQ(L".orvane-af63dc4c8601ec8c.ico", MadeIconName(Fnv1a64(a, 1)));
    const struct {
        const wchar_t* Name;
        bool Made;
    } rows[] = {
        {L".orvane-0123456789abcdef.ico", true},   {L".orvane-0123456789ABCDEF.ico", false},
        {L".orvane-0123456789abcde.ico", false},   {L".orvane-0123456789abcdef0.ico", false},
        {L".orvane-0123456789abcdeg.ico", false},  {L".orvane-0123456789abcdef.icon", false},
        {L"orvane-0123456789abcdef.ico", false},   {L".orvane-making-12.ico", false},
        {L"", false},                              {nullptr, false},
    };
    for (const auto& row : rows)
        EXPECT_EQ(row.Made, IsMadeIconName(row.Name)) << (row.Name ? row.Name : L"(null)");
}

TEST(ResolveFolderIconPath, RelativePathsAreTakenAgainstTheFolder)
{
    const struct {
        const wchar_t* Folder;
        const wchar_t* Written;
        const wchar_t* Resolved;
    } rows[] = {
        {L"C:\\a\\b", L".orvane-x.ico", L"C:\\a\\b\\.orvane-x.ico"},
        {L"C:\\a\\b\\", L"icons\\x.ico", L"C:\\a\\b\\icons\\x.ico"},
        {L"C:\\", L"x.ico", L"C:\\x.ico"},
        {L"C:\\a", L"C:\\icons\\x.ico", L"C:\\icons\\x.ico"},
        {L"C:\\a", L"\\\\server\\share\\x.ico", L"\\\\server\\share\\x.ico"},
        {L"C:\\a", L"%SystemRoot%\\system32\\shell32.dll", L"%SystemRoot%\\system32\\shell32.dll"},
        {L"C:\\a", L"", L""},
    };
    for (const auto& row : rows) {
        wchar_t out[TextCapacity];
        const bool resolved = ResolveFolderIconPath(row.Folder, row.Written, out);
        EXPECT_TRUE(resolved) << row.Written;
        EXPECT_STREQ(row.Resolved, out) << row.Written;
    }
    // A folder at the path limit leaves no room for the name: refused, not cut.
    const std::wstring deep = L"C:\\" + std::wstring(TextCapacity - 6, L'a');
    wchar_t out[TextCapacity];
    EXPECT_FALSE(ResolveFolderIconPath(deep.c_str(), L"x.ico", out));
}

TEST_F(FolderPictureTest, MadeIconIsNamedRelativeAndTravelsWithTheFolder)
{
    std::wstring name;
    ASSERT_EQ(ChangeResult::Done, Give(folder_, Picture(L"red.png", {0, 0, 255, 255}), &name));
    ASSERT_TRUE(IsMadeIconName(name.c_str())) << name;
    const DWORD attributes = GetFileAttributesW((folder_ + L"\\" + name).c_str());
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, attributes);
    EXPECT_EQ(DWORD(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM),
              attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    EXPECT_EQ(MadeIconName(Fnv1a64(FileBytes(folder_ + L"\\" + name).data(), FileBytes(folder_ + L"\\" + name).size())),
              name);
    const std::wstring desktopIni = DesktopIniText(folder_ + L"\\Desktop.ini");
    EXPECT_TRUE(Contains(desktopIni, L"IconResource=" + name + L",0")) << desktopIni;
    EXPECT_TRUE(Contains(desktopIni, L"IconFile=" + name)) << desktopIni;

    // Renamed, then moved into another folder, then copied: read there, the icon still
    // resolves.
    const std::wstring renamed = place_.Path() + L"\\Holiday 2026";
    const std::wstring moved = place_.MakeFolder(L"Archive") + L"\\Holiday 2026";
    ASSERT_TRUE(MoveFileW(folder_.c_str(), renamed.c_str()));
    ASSERT_TRUE(MoveFileW(renamed.c_str(), moved.c_str()));
    const std::optional<IconLocation> read = ReadFolderIcon(moved.c_str());
    ASSERT_TRUE(read);
    EXPECT_EQ(name, read->IconPath);
    wchar_t resolved[TextCapacity];
    ASSERT_TRUE(ResolveFolderIconPath(moved.c_str(), read->IconPath, resolved));
    EXPECT_EQ(moved + L"\\" + name, resolved);
    HICON icon = nullptr;
    EXPECT_EQ(1u, ExtractIconExW(resolved, 0, &icon, nullptr, 1));
    if (icon)
        DestroyIcon(icon);
    // Copied as Explorer copies a folder (its hidden and system files with it): the copy
    // names and finds its own made file.
    const std::wstring copy = place_.MakeFolder(L"Copy of Holiday");
    for (const std::wstring& file : {std::wstring(L"Desktop.ini"), name})
        ASSERT_TRUE(CopyFileW((moved + L"\\" + file).c_str(), (copy + L"\\" + file).c_str(), TRUE));
    const std::optional<IconLocation> copied = ReadFolderIcon(copy.c_str());
    ASSERT_TRUE(copied);
    ASSERT_TRUE(ResolveFolderIconPath(copy.c_str(), copied->IconPath, resolved));
    EXPECT_EQ(copy + L"\\" + name, resolved);
    EXPECT_TRUE(IsMadeIconFile(copy.c_str(), name.c_str()));

    // Moved so deep that the folder's path and the made file's name (29 characters) no
    // longer fit into 259, and given another icon: the backup names the made file by its
    // name still, so the file stays, and restoring there gives it back.
    std::wstring parent = place_.Path();
    while (parent.size() < 226) {
        const std::size_t room = 226 - parent.size() - 1;
        parent += L"\\" + std::wstring(room > 52 ? 50 : room, L'd');
        ASSERT_TRUE(CreateDirectoryW(parent.c_str(), nullptr));
    }
    const std::wstring deep = parent + L"\\Holiday 2026";
    ASSERT_TRUE(MoveFileW(moved.c_str(), deep.c_str()));
    {
        IconTarget target = OpenTarget(deep.c_str());
        target.SetCurrentIconPath(Shell32Path().c_str());
        target.SetCurrentIndex(4);
        ASSERT_EQ(ChangeResult::Done, target.ApplyIcon());
    }
    EXPECT_TRUE(IsMadeIconFile(deep.c_str(), name.c_str()));
    ASSERT_EQ(ChangeResult::Done, Restore(deep));
    const std::optional<IconLocation> restored = ReadFolderIcon(deep.c_str());
    ASSERT_TRUE(restored);
    EXPECT_EQ(name, restored->IconPath);
    EXPECT_TRUE(IsMadeIconFile(deep.c_str(), name.c_str()));
    ASSERT_TRUE(MoveFileW(deep.c_str(), moved.c_str()));

    // The backup is kept by the folder's path and does not follow it: moved, the folder
    // has nothing to restore and keeps its icon. Moved back, restoring puts the folder
    // back as it was (no Desktop.ini: the Folder class's icon) and deletes the made file.
    EXPECT_EQ(RestoreOutcome::NothingToRestore, OpenTarget(moved.c_str()).WhatRestoreWouldDo());
    ASSERT_TRUE(MoveFileW(moved.c_str(), folder_.c_str()));
    ASSERT_EQ(ChangeResult::Done, Restore(folder_));
    const std::optional<IconLocation> back = ReadFolderIcon(folder_.c_str());
    ASSERT_TRUE(back);
    EXPECT_STREQ(L"C:\\icons\\folder-class.ico", back->IconPath); // FolderClassIconText
    EXPECT_EQ(7, back->Index);
    EXPECT_EQ(L"", Joined(FolderContent(folder_)));
}

// The backup holds how the folder stood before the first change, so a made file goes as
// soon as neither Desktop.ini nor the backup names it.
TEST_F(FolderPictureTest, EachPictureGetsANewNameAndFilesGoOnceNothingNamesThem)
{
    std::wstring red, blue, green;
    ASSERT_EQ(ChangeResult::Done, Give(folder_, Picture(L"red.png", {0, 0, 255, 255}), &red));
    ASSERT_EQ(ChangeResult::Done, Give(folder_, Picture(L"blue.png", {255, 0, 0, 255}), &blue));
    EXPECT_NE(red, blue);
    EXPECT_EQ(Joined({L"Desktop.ini", blue}), Joined(FolderContent(folder_)));
    ASSERT_EQ(ChangeResult::Done, Give(folder_, Picture(L"green.png", {0, 160, 0, 255}), &green));
    EXPECT_NE(blue, green);
    EXPECT_EQ(Joined({L"Desktop.ini", green}), Joined(FolderContent(folder_)));
    // The same picture again keeps the same file.
    std::wstring again;
    ASSERT_EQ(ChangeResult::Done, Give(folder_, pictures_.Path() + L"\\green.png", &again));
    EXPECT_EQ(green, again);
    EXPECT_EQ(Joined({L"Desktop.ini", green}), Joined(FolderContent(folder_)));

    // Over an icon of a library elsewhere, then a picture again, and restored: the folder
    // as it was before the first change, and no made file left.
    const std::wstring library = WriteIconFile(pictures_.Path() + L"\\library.ico", 3);
    {
        IconTarget target = OpenTarget(folder_.c_str());
        target.SetCurrentIconPath(library.c_str());
        target.SetCurrentIndex(2);
        ASSERT_EQ(ChangeResult::Done, target.ApplyIcon());
    }
    EXPECT_EQ(L"Desktop.ini|", Joined(FolderContent(folder_)));
    std::wstring yellow;
    ASSERT_EQ(ChangeResult::Done, Give(folder_, Picture(L"yellow.png", {0, 220, 230, 255}), &yellow));
    EXPECT_EQ(Joined({L"Desktop.ini", yellow}), Joined(FolderContent(folder_)));
    ASSERT_EQ(ChangeResult::Done, Restore(folder_));
    const std::optional<IconLocation> back = ReadFolderIcon(folder_.c_str());
    ASSERT_TRUE(back);
    EXPECT_STREQ(L"C:\\icons\\folder-class.ico", back->IconPath); // FolderClassIconText
    EXPECT_EQ(L"", Joined(FolderContent(folder_)));
}

// A backup of a folder whose icon was relative (a picture made before the backup was
// taken: its backup went with remove-all) stays relative; the earlier made file stays
// while the backup names it, and restoring names it again.
TEST_F(FolderPictureTest, RestoringPutsBackTheEarlierPictureAsWritten)
{
    std::wstring red, blue;
    ASSERT_EQ(ChangeResult::Done, Give(folder_, Picture(L"red.png", {0, 0, 255, 255}), &red));
    ASSERT_EQ(ERROR_SUCCESS, RemoveAllSettings());
    ASSERT_EQ(ChangeResult::Done, Give(folder_, Picture(L"blue.png", {255, 0, 0, 255}), &blue));
    EXPECT_EQ(Joined({L"Desktop.ini", red, blue}), Joined(FolderContent(folder_)));
    const std::optional<IconLocation> backup = ReadFolderBackup(folder_.c_str());
    ASSERT_TRUE(backup);
    EXPECT_EQ(red, backup->IconPath);
    ASSERT_EQ(ChangeResult::Done, Restore(folder_));
    const std::optional<IconLocation> back = ReadFolderIcon(folder_.c_str());
    ASSERT_TRUE(back);
    EXPECT_EQ(red, back->IconPath);
    EXPECT_EQ(Joined({L"Desktop.ini", red}), Joined(FolderContent(folder_)));
}

// Removing every setting deletes the backups, and with them the made files only they
// named; the one Desktop.ini names stays, as the folder keeps showing it.
TEST_F(FolderPictureTest, RemoveAllDeletesMadeFilesOnlyTheBackupsNamed)
{
    std::wstring red, blue;
    ASSERT_EQ(ChangeResult::Done, Give(folder_, Picture(L"red.png", {0, 0, 255, 255}), &red));
    ASSERT_EQ(ERROR_SUCCESS, RemoveAllSettings());
    ASSERT_EQ(ChangeResult::Done, Give(folder_, Picture(L"blue.png", {255, 0, 0, 255}), &blue));
    ASSERT_EQ(Joined({L"Desktop.ini", red, blue}), Joined(FolderContent(folder_)));
    ASSERT_EQ(ERROR_SUCCESS, RemoveAllSettings());
    EXPECT_FALSE(ReadFolderBackup(folder_.c_str()));
    EXPECT_EQ(Joined({L"Desktop.ini", blue}), Joined(FolderContent(folder_)));
    const std::optional<IconLocation> shown = ReadFolderIcon(folder_.c_str());
    ASSERT_TRUE(shown);
    EXPECT_EQ(blue, shown->IconPath);
}

TEST_F(FolderPictureTest, FilesTheProductDidNotMakeStay)
{
    // Named like a made icon, but its bytes do not hash to its name: a user's file.
    const std::wstring user = place_.MakeFile(L"Holiday\\.orvane-0123456789abcdef.ico", "mine");
    const std::wstring other = place_.MakeFile(L"Holiday\\photo.ico", "mine too");
    std::wstring name;
    ASSERT_EQ(ChangeResult::Done, Give(folder_, Picture(L"red.png", {0, 0, 255, 255}), &name));
    ASSERT_EQ(ChangeResult::Done, Restore(folder_));
    EXPECT_EQ(L".orvane-0123456789abcdef.ico|photo.ico|", Joined(FolderContent(folder_)));
    EXPECT_EQ("mine", ReadFileText(user));
}

TEST_F(FolderPictureTest, AChangeThatFailsLeavesNoMadeFile)
{
    // Desktop.ini is a folder: the change is refused after the icon was made.
    ASSERT_TRUE(CreateDirectoryW((folder_ + L"\\Desktop.ini").c_str(), nullptr));
    std::wstring name;
    EXPECT_EQ(ChangeResult::DesktopIniIsFolder, Give(folder_, Picture(L"red.png", {0, 0, 255, 255}), &name));
    EXPECT_EQ(L"Desktop.ini|", Joined(FolderContent(folder_)));
    EXPECT_FALSE(ReadFolderBackup(folder_.c_str()));
}

TEST_F(FolderPictureTest, BadPicturesWriteNothing)
{
    const std::wstring good = Picture(L"good.png", {0, 0, 255, 255});
    const std::vector<std::uint8_t> png = FileBytes(good);
    ASSERT_GT(png.size(), 40u);
    const struct {
        const wchar_t* Name;
        std::vector<std::uint8_t> Bytes;
    } rows[] = {
        {L"text.png", {'h', 'e', 'l', 'l', 'o'}},
        {L"empty.png", {}},
        {L"truncated.png", std::vector<std::uint8_t>(png.begin(), png.begin() + png.size() / 2)},
        {L"zero.png", WithPngSize(png, 0, 30)},
        {L"huge.png", WithPngSize(png, 40000, 40000)},
    };
    for (const auto& row : rows) {
        const std::wstring path = pictures_.Path() + L"\\" + row.Name;
        ASSERT_TRUE(WriteBytes(path, row.Bytes));
        std::wstring name;
        EXPECT_NE(PictureProblem::None, MakeFolderPictureIcon(folder_.c_str(), path.c_str(), &name)) << row.Name;
        EXPECT_EQ(L"", Joined(FolderContent(folder_))) << row.Name;
    }
    EXPECT_FALSE(ReadFolderBackup(folder_.c_str()));
}
