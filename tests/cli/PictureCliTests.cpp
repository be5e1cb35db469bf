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
#include <utility>
#include <vector>

#include "ComInitialization.h"
#include "MadeIconSweep.h"
#include "MadeIconPlaces.h"
#include "PictureDecoder.h"
#include "PictureFiles.h"
#include "RunTool.h"
#include "TestSupport.h"

namespace orvane::test {
namespace {

constexpr wchar_t Vendor[] = L"Software\\Brindlewick Software";
constexpr wchar_t FolderBackups[] = L"Software\\Brindlewick Software\\Orvane\\FolderBAKIcons";

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
        // A tree's folders are refused as one folder is, the picture's reason told once.
        for (const bool tree : {false, true}) {
            const ToolRun run = tree ? RunTool({L"set", path, L"--recurse", folder}) : RunTool({L"set", path, folder});
            EXPECT_EQ(1u, run.ExitCode) << row.Name;
            EXPECT_EQ(L"orvane: " + folder + L": " + path + L": " + PictureProblemText(row.Problem) + L"\n", run.Err)
                << row.Name;
            EXPECT_EQ(L"", run.Out) << row.Name;
            EXPECT_EQ(L"", Content(folder)) << row.Name;
        }
    }
    // No backup of either scope was taken.
    const ToolRun show = RunTool({L"show", folder});
    EXPECT_TRUE(Contains(show.Out, L"  backup: no\n")) << show.Out;
}

// A folder of exactly `length` characters below `base`, made of folders of up to 100
// characters named with `letter`.
std::wstring FolderOfLength(const std::wstring& base, std::size_t length, wchar_t letter)
{
    std::wstring path = base;
    while (path.size() < length) {
        const std::size_t room = length - path.size() - 1;
        std::size_t part = std::min<std::size_t>(room, 100);
        // What is left must hold a backslash and at least one letter.
        if (room > part && room - part < 2)
            part = room - 2;
        path += L"\\" + std::wstring(part, letter);
        CreateDirectoryW(path.c_str(), nullptr);
    }
    return path;
}

// A folder's made icon is named by its file name, but Windows finds it by the folder's
// path and its name (\.orvane-<16 hex digits>.ico, 29 characters), which must fit into 259:
// up to a folder of 230 characters a picture, a colour and a copy are made and named;
// beyond, Desktop.ini (12 characters behind the folder) would still fit and name a file
// that cannot be written, so the change is refused and writes nothing: Desktop.ini and
// the attributes as they were, no backup, no file in the folder.
TEST_F(PictureCliTest, AMadeIconWhosePathWouldNotFitIsRefusedAndWritesNothing)
{
    const std::wstring red = Png(L"red.png", {0, 0, 255, 255});
    const struct {
        const char* Name;
        wchar_t Letter;
        std::vector<std::wstring> Before, After; // the arguments around the folder
    } sources[] = {
        {"picture", L'p', {L"set", red}, {}},
        {"colour", L'c', {L"set", L"--colour", L"teal"}, {}},
        {"copy", L'k', {L"set", Shell32Path() + L",3"}, {L"--copy"}},
    };
    const std::string own = "[.ShellClassInfo]\r\nIconResource=" + Utf8(Shell32Path()) + ",1\r\nInfoTip=mine\r\n";
    for (const std::size_t length : {230u, 231u, 240u, 247u}) {
        for (const auto& source : sources) {
            SCOPED_TRACE(std::string(source.Name) + " in a folder of " + std::to_string(length) + " characters");
            const std::wstring folder = FolderOfLength(dir_.Path(), length, source.Letter);
            ASSERT_EQ(length, folder.size());
            const std::wstring desktopIni = folder + L"\\Desktop.ini";
            ASSERT_TRUE(WriteBytes(desktopIni, std::vector<std::uint8_t>(own.begin(), own.end())));
            ASSERT_TRUE(SetFileAttributesW(desktopIni.c_str(), FILE_ATTRIBUTE_HIDDEN));
            ASSERT_TRUE(SetFileAttributesW(folder.c_str(), FILE_ATTRIBUTE_SYSTEM));
            const DWORD profileAttributes = GetFileAttributesW(desktopIni.c_str());
            const DWORD folderAttributes = GetFileAttributesW(folder.c_str());
            std::vector<std::wstring> args = source.Before;
            args.push_back(folder);
            args.insert(args.end(), source.After.begin(), source.After.end());
            const ToolRun run = RunTool(args);
            const ToolRun show = RunTool({L"show", folder});

            if (length + 29 <= 259) {
                ASSERT_EQ(0u, run.ExitCode) << run.Err;
                const std::wstring name = IniText(folder, L"IconFile");
                ASSERT_TRUE(IsMadeIconName(name.c_str())) << name;
                EXPECT_TRUE(IsMadeIconFile(folder.c_str(), name.c_str())) << name;
                EXPECT_TRUE(Contains(IcotoolListing(folder + L"\\" + name), "--icon --index=1")) << name;
                EXPECT_TRUE(Contains(show.Out, L"  file:   " + folder + L"\\" + name + L"\n")) << show.Out;
                EXPECT_EQ(Joined({L"Desktop.ini", name}), Content(folder));
                continue;
            }
            EXPECT_EQ(1u, run.ExitCode) << run.Out;
            EXPECT_EQ(L"", run.Out);
            EXPECT_TRUE(Contains(run.Err, folder + L": the made icon's path would be too long")) << run.Err;
            EXPECT_TRUE(Contains(run.Err, L".ico is " + std::to_wstring(length + 29) + L" characters")) << run.Err;
            EXPECT_TRUE(FileBytes(desktopIni) == std::vector<std::uint8_t>(own.begin(), own.end()));
            EXPECT_EQ(profileAttributes, GetFileAttributesW(desktopIni.c_str()));
            EXPECT_EQ(folderAttributes, GetFileAttributesW(folder.c_str()));
            EXPECT_EQ(L"Desktop.ini|", Content(folder));
            std::wstring backup;
            EXPECT_FALSE(ReadValue(HKEY_LOCAL_MACHINE, FolderBackups, folder.c_str(), &backup)) << backup;
            EXPECT_FALSE(ReadValue(HKEY_CURRENT_USER, FolderBackups, folder.c_str(), &backup)) << backup;
            EXPECT_TRUE(Contains(show.Out, L"  backup: no\n")) << show.Out;
        }
    }
}

// The made icons that appear in both scopes' folders of made icons while a test runs,
// deleted when it ends.
class NewMadeIcons {
public:
    NewMadeIcons()
    {
        for (const Scope scope : {Scope::ThisUser, Scope::AllUsers})
            before_.push_back({MadeIconFolder(scope, false).value_or(L""), {}});
        for (auto& folder : before_)
            folder.second = FolderContent(folder.first);
    }
    ~NewMadeIcons()
    {
        for (const auto& folder : before_) {
            for (const std::wstring& name : FolderContent(folder.first)) {
                if (std::find(folder.second.begin(), folder.second.end(), name) != folder.second.end())
                    continue;
                const std::wstring path = folder.first + L"\\" + name;
                SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(path.c_str());
            }
        }
    }
    NewMadeIcons(const NewMadeIcons&) = delete;
    NewMadeIcons& operator=(const NewMadeIcons&) = delete;

private:
    std::vector<std::pair<std::wstring, std::vector<std::wstring>>> before_;
};

TEST_F(PictureCliTest, APictureForAFileATypeOrADriveIsMadeInTheFolderOfMadeIcons)
{
    ScratchType type;
    KeyGuard drives{HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\DriveIcons"};
    KeyGuard userDrives{HKEY_CURRENT_USER, L"Software\\Classes\\Applications\\Explorer.exe"};
    NewMadeIcons made;
    const std::wstring file = dir_.MakeFile(L"notes" + type.Extension);
    // Files deleted once their icon is set: show and restore need nothing of the file.
    const std::wstring gone = dir_.MakeFile(L"gone" + type.Extension);
    const std::wstring goneForMe = dir_.MakeFile(L"gone for me" + type.Extension);
    const auto classes = [&type] {
        return type.Dump() + DumpKey(HKEY_CURRENT_USER, L"Software\\Classes\\" + type.Class);
    };
    const struct {
        const char* Name;
        std::vector<std::wstring> Target;
        const wchar_t* Kind;
        const wchar_t* Option;
        Scope Where;
        bool Deleted = false;
    } rows[] = {
        {"file", {file}, L"File", nullptr, Scope::AllUsers},
        {"file for this user", {file}, L"File", L"--for-me", Scope::ThisUser},
        {"file deleted", {gone}, L"File", nullptr, Scope::AllUsers, true},
        {"file for this user deleted", {goneForMe}, L"File", L"--for-me", Scope::ThisUser, true},
        {"type", {file, L"--all-of-type"}, L"Type", nullptr, Scope::AllUsers},
        {"drive", {L"C:\\"}, L"Drive", nullptr, Scope::AllUsers},
        {"drive for this user", {L"C:\\"}, L"Drive", L"--for-me", Scope::ThisUser},
    };
    int n = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Name);
        const std::wstring classesBefore = classes();
        const std::wstring picture = Png((std::to_wstring(++n) + L".png").c_str(), {0, static_cast<BYTE>(40 * n), 255, 255});
        std::vector<std::wstring> args = {L"set", picture};
        args.insert(args.end(), row.Target.begin(), row.Target.end());
        if (row.Option)
            args.push_back(row.Option);
        ToolRun run = RunTool(args);
        ASSERT_EQ(0u, run.ExitCode) << run.Err;
        const std::wstring folder = MadeIconFolder(row.Where, false).value_or(L"<none>");
        const std::size_t at = run.Out.find(L" icon set to " + folder + L"\\.orvane-");
        ASSERT_NE(std::wstring::npos, at) << run.Out;
        EXPECT_TRUE(Contains(run.Out, std::wstring(L": ") + row.Kind + L" icon set to ")) << run.Out;
        const std::wstring made = run.Out.substr(at + 13, run.Out.find(L",0, made from " + picture) - at - 13);
        EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(made.c_str())) << made;
        if (row.Deleted) {
            ASSERT_TRUE(DeleteFileW(row.Target[0].c_str()));
        }

        std::vector<std::wstring> target = {L"show"};
        target.insert(target.end(), row.Target.begin(), row.Target.end());
        run = RunTool(target);
        EXPECT_EQ(0u, run.ExitCode) << run.Err;
        EXPECT_TRUE(Contains(run.Out, std::wstring(L"  kind:   ") + row.Kind + L"\n")) << run.Out;
        EXPECT_TRUE(Contains(run.Out, L"  icon:   " + made + L",0\n")) << run.Out;
        EXPECT_TRUE(Contains(run.Out, L"  backup: yes\n")) << run.Out;
        target[0] = L"restore";
        run = RunTool(target);
        EXPECT_EQ(0u, run.ExitCode) << run.Err;
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(made.c_str())) << made;
        // The entry is gone from both tables, and the class is as it was: the icon handler
        // went with the type's last entry.
        for (const HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER})
            EXPECT_FALSE(ReadValue(root, std::wstring(Vendor) + L"\\Orvane\\FileIcons", row.Target[0].c_str(), nullptr));
        EXPECT_EQ(classesBefore, classes());
    }
    EXPECT_EQ(L"notes" + type.Extension + L"|", Content(dir_.Path()));
}

TEST_F(PictureCliTest, CopyKeepsTheIconInsideTheFolderAndIsForFoldersOnly)
{
    const std::wstring icon = WriteIconFile(pictures_.Path() + L"\\two.ico", 2);
    const struct {
        const char* Name;
        std::wstring Source;
    } rows[] = {
        {"icon file", icon},
        {"library index", Shell32Path() + L",3"},
    };
    int n = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Name);
        const std::wstring folder = dir_.MakeFolder(L"Copied " + std::to_wstring(++n));
        const ToolRun run = RunTool({L"set", row.Source, folder, L"--copy"});
        ASSERT_EQ(0u, run.ExitCode) << run.Err;
        const std::wstring name = IniText(folder, L"IconFile");
        EXPECT_TRUE(IsMadeIconName(name.c_str())) << name;
        EXPECT_EQ(Joined({L"Desktop.ini", name}), Content(folder));
        EXPECT_TRUE(Contains(run.Out, L"Folder icon set to " + name + L",0, a copy of ")) << run.Out;
    }
    const std::wstring file = dir_.MakeFile(L"notes.txt");
    ToolRun run = RunTool({L"set", icon, file, L"--copy"});
    EXPECT_EQ(1u, run.ExitCode);
    EXPECT_TRUE(Contains(run.Err, L"for folders only")) << run.Err;
    run = RunTool({L"set", icon, L"--recurse", file, L"--copy"});
    EXPECT_EQ(1u, run.ExitCode);
    EXPECT_TRUE(Contains(run.Out, L"0 of 1 targets given the icon")) << run.Out;
    EXPECT_TRUE(Contains(run.Err, file + L": --copy keeps a copy of the icon inside a folder")) << run.Err;
    run = RunTool({L"show", file, L"--copy"});
    EXPECT_EQ(2u, run.ExitCode);
    EXPECT_TRUE(Contains(run.Err, L"--copy is for set")) << run.Err;
}

TEST_F(PictureCliTest, AColourForAFolderIsMadeInsideItAndGoesOnRestore)
{
    const std::wstring folder = dir_.MakeFolder(L"Work");
    // The folder's own icon, as Explorer's Customize tab writes it.
    const std::wstring previous = Shell32Path() + L",3";
    ASSERT_TRUE(WritePrivateProfileStringW(L".ShellClassInfo", L"IconResource", previous.c_str(),
                                           (folder + L"\\Desktop.ini").c_str()));
    const std::wstring before = IniText(folder, L"IconResource");

    ToolRun run = RunTool({L"set", L"--colour", L"Teal", folder});
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
    // The backup is of the folder before its first change, which names neither colour.
    EXPECT_EQ(Joined({L"Desktop.ini", blue}), Content(folder));
    run = RunTool({L"restore", folder});
    EXPECT_EQ(0u, run.ExitCode) << run.Err;
    EXPECT_EQ(before, IniText(folder, L"IconResource"));
    EXPECT_EQ(Joined({L"Desktop.ini"}), Content(folder));
}

// What a folder is made of, to see that restore puts it back exactly: its listing, its
// attributes, and its Desktop.ini's bytes and attributes.
std::wstring FolderState(const std::wstring& folder)
{
    const std::wstring profile = folder + L"\\Desktop.ini";
    const std::vector<std::uint8_t> bytes = FileBytes(profile);
    return Content(folder) + L" folder " + std::to_wstring(GetFileAttributesW(folder.c_str())) + L" Desktop.ini " +
           std::to_wstring(GetFileAttributesW(profile.c_str())) + L" " + FromUtf8(std::string(bytes.begin(), bytes.end()));
}

// A tree coloured, given a picture or given a copy: each folder takes its own made icon
// inside itself, named relative to it, so that each folder keeps its icon when moved out
// of the tree; restore of the tree puts each folder back as it was, made icons gone.
TEST_F(PictureCliTest, ATreeIsColouredOrGivenAPictureOrACopyFolderByFolderAndRestoredExactly)
{
    const std::wstring picture = Png(L"tree.png", {0, 160, 0, 255});
    const struct {
        const char* Name;
        std::vector<std::wstring> Set; // the arguments before the tree's root
    } rows[] = {
        {"colour", {L"set", L"--colour", L"teal", L"--recurse"}},
        {"picture", {L"set", picture, L"--recurse"}},
        {"copy", {L"set", Shell32Path() + L",3", L"--copy", L"--recurse"}},
    };
    int n = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Name);
        const std::wstring root = dir_.MakeFolder(L"tree " + std::to_wstring(++n));
        const std::vector<std::wstring> folders = {root, dir_.MakeFolder(L"tree " + std::to_wstring(n) + L"\\a"),
                                                   dir_.MakeFolder(L"tree " + std::to_wstring(n) + L"\\a\\b")};
        // The middle folder has an icon of its own, as Explorer's Customize tab writes it.
        ASSERT_TRUE(WritePrivateProfileStringW(L".ShellClassInfo", L"IconResource", (Shell32Path() + L",1").c_str(),
                                               (folders[1] + L"\\Desktop.ini").c_str()));
        std::vector<std::wstring> before;
        std::vector<std::vector<std::wstring>> listings;
        for (const std::wstring& folder : folders) {
            before.push_back(FolderState(folder));
            listings.push_back(FolderContent(folder));
        }

        std::vector<std::wstring> args = row.Set;
        args.push_back(root);
        ToolRun run = RunTool(args);
        EXPECT_EQ(0u, run.ExitCode) << run.Out << run.Err;
        EXPECT_EQ(L"3 of 3 targets given the icon\n", run.Out);
        EXPECT_EQ(L"", run.Err);
        std::vector<std::wstring> names;
        for (std::size_t i = 0; i < folders.size(); ++i) {
            const std::wstring& folder = folders[i];
            const std::wstring name = IniText(folder, L"IconFile");
            names.push_back(name);
            EXPECT_TRUE(IsMadeIconName(name.c_str())) << Utf8(folder) << ": " << name;
            EXPECT_TRUE(IsMadeIconFile(folder.c_str(), name.c_str())) << Utf8(folder) << ": " << name;
            EXPECT_EQ(name + L",0", IniText(folder, L"IconResource")) << Utf8(folder);
            // The made icon, and a Desktop.ini where there was none, beside what was there.
            std::vector<std::wstring> expected = listings[i];
            expected.push_back(name);
            if (std::find(expected.begin(), expected.end(), L"Desktop.ini") == expected.end())
                expected.push_back(L"Desktop.ini");
            EXPECT_EQ(Joined(expected), Content(folder)) << Utf8(folder);
        }
        // One icon made once: the same bytes, so the same name, in each folder.
        EXPECT_EQ(names[0], names[1]);
        EXPECT_EQ(names[0], names[2]);

        run = RunTool({L"restore", L"--recurse", root});
        EXPECT_EQ(0u, run.ExitCode) << run.Out << run.Err;
        EXPECT_EQ(L"3 of 3 targets restored\n", run.Out);
        EXPECT_EQ(L"", run.Err);
        for (std::size_t i = 0; i < folders.size(); ++i)
            EXPECT_EQ(before[i], FolderState(folders[i])) << Utf8(folders[i]);
    }
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
        {{L"set", L"--colour", L"red", L"--recurse", file}, 1, L"a colour can be given to folders only"},
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
