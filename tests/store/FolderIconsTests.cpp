#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include <string>

#include "FolderIcons.h"
#include "Registry.h"
#include "ScratchRegistry.h"
#include "TestSupport.h"

using namespace orvane;
using test::LocationText;
using test::ProductRoot;
using test::FolderClassIconKey;
using test::FolderClassIconText;
using test::Contains;
using test::ReadFileText;

namespace {


// The Folder class's icon, set to a known text for the test and put back afterwards.
class KnownFolderClassIcon {
public:
    KnownFolderClassIcon() { test::WriteString(HKEY_CLASSES_ROOT, FolderClassIconKey, "", FolderClassIconText); }

private:
    test::KeyGuard guard_{HKEY_CLASSES_ROOT, FolderClassIconKey};
};

void ExpectFolderClassIcon(const std::optional<IconLocation>& location, const std::string& folder)
{
    ASSERT_TRUE(location);
    EXPECT_STREQ("C:\\icons\\folder-class.ico", location->IconPath);
    EXPECT_EQ(7, location->Index);
    EXPECT_STREQ("Folder", location->TypeKey);
    EXPECT_EQ(folder, location->Owner);
}

int CountEntries(const std::string& folder)
{
    int count = 0;
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return 0;
    do {
        if (std::string(data.cFileName) != "." && std::string(data.cFileName) != "..")
            ++count;
    } while (FindNextFileA(find, &data));
    FindClose(find);
    return count;
}

} // namespace

TEST(FormatProfilePath, OneBackslashWhateverTheFolderEndsWith)
{
    char out[TextCapacity];
    ASSERT_TRUE(FormatProfilePath("C:\\Data", out));
    EXPECT_STREQ("C:\\Data\\Desktop.ini", out);
    ASSERT_TRUE(FormatProfilePath("C:\\Data\\", out));
    EXPECT_STREQ("C:\\Data\\Desktop.ini", out);
    ASSERT_TRUE(FormatProfilePath("C:\\", out));
    EXPECT_STREQ("C:\\Desktop.ini", out);
    EXPECT_FALSE(FormatProfilePath("", out));
    EXPECT_FALSE(FormatProfilePath(nullptr, out));
}

TEST(FormatProfilePath, RefusesWhatDoesNotFitInsteadOfCuttingIt)
{
    char out[TextCapacity];
    const std::string fits = "C:\\" + std::string(244, 'f'); // 247 + "\Desktop.ini" = 259
    ASSERT_TRUE(FormatProfilePath(fits.c_str(), out));
    EXPECT_EQ(259u, std::string(out).size());
    const std::string tooLong = fits + "g";
    EXPECT_FALSE(FormatProfilePath(tooLong.c_str(), out));
    EXPECT_STREQ("", out);
    // A trailing backslash takes no extra room.
    EXPECT_TRUE(FormatProfilePath((fits + "\\").c_str(), out));
}

TEST(FolderIcons, WriteAndReadThroughEitherSpellingOfTheFolder)
{
    test::TempDir dir;
    const std::string withSlash = dir.Path() + "\\";
    IconLocation location("C:\\icons\\set.icl", withSlash.c_str(), 3);
    ASSERT_EQ(ERROR_SUCCESS, WriteFolderIcon(location));

    const std::string profile = dir.Path() + "\\Desktop.ini";
    const std::string text = ReadFileText(profile);
    EXPECT_TRUE(Contains(text, "[.ShellClassInfo]"));
    EXPECT_TRUE(Contains(text, "IconFile=C:\\icons\\set.icl"));
    EXPECT_TRUE(Contains(text, "IconIndex=3"));
    EXPECT_TRUE(Contains(text, "IconResource=C:\\icons\\set.icl,3"));

    for (const std::string& folder : {dir.Path(), withSlash}) {
        const auto read = ReadFolderIcon(folder.c_str());
        ASSERT_TRUE(read) << folder;
        EXPECT_STREQ("C:\\icons\\set.icl", read->IconPath);
        EXPECT_EQ(3, read->Index);
        EXPECT_STREQ("", read->TypeKey);
        EXPECT_EQ(folder, read->Owner);
    }

    const DWORD fileAttributes = GetFileAttributesA(profile.c_str());
    const DWORD folderAttributes = GetFileAttributesA(dir.Path().c_str());
    EXPECT_TRUE(fileAttributes & FILE_ATTRIBUTE_HIDDEN);
    EXPECT_FALSE(fileAttributes & (FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY));
    EXPECT_TRUE(folderAttributes & FILE_ATTRIBUTE_SYSTEM);
    EXPECT_FALSE(folderAttributes & FILE_ATTRIBUTE_READONLY);
}

TEST(FolderIcons, NegativeIndexesAreWrittenSigned)
{
    KnownFolderClassIcon folderClass;
    test::TempDir dir;
    ASSERT_EQ(ERROR_SUCCESS, WriteFolderIcon(IconLocation("C:\\a.dll", dir.Path().c_str(), -3)));
    EXPECT_TRUE(Contains(ReadFileText(dir.Path() + "\\Desktop.ini"), "IconIndex=-3"));
    EXPECT_TRUE(Contains(ReadFileText(dir.Path() + "\\Desktop.ini"), "IconResource=C:\\a.dll,-3"));
    auto read = ReadFolderIcon(dir.Path().c_str());
    ASSERT_TRUE(read);
    EXPECT_EQ(-3, read->Index);

    // -99 is the "no entry" default of the read, so it comes back as the Folder class.
    ASSERT_EQ(ERROR_SUCCESS, WriteFolderIcon(IconLocation("C:\\a.dll", dir.Path().c_str(), NoIndex)));
    EXPECT_TRUE(Contains(ReadFileText(dir.Path() + "\\Desktop.ini"), "IconIndex=-99"));
    ExpectFolderClassIcon(ReadFolderIcon(dir.Path().c_str()), dir.Path());
}

TEST(FolderIcons, IndexWithoutFileAndFileWithoutIndex)
{
    KnownFolderClassIcon folderClass;
    test::TempDir dir;
    const std::string indexOnly = dir.MakeFolder("indexOnly");
    const std::string fileOnly = dir.MakeFolder("fileOnly");
    const std::string empty = dir.MakeFolder("empty");
    dir.MakeFile("indexOnly\\Desktop.ini", "[.ShellClassInfo]\r\nIconIndex=5\r\n");
    dir.MakeFile("fileOnly\\Desktop.ini", "[.ShellClassInfo]\r\nIconFile=C:\\x.ico\r\n");

    const auto read = ReadFolderIcon(indexOnly.c_str());
    ASSERT_TRUE(read);
    EXPECT_STREQ("", read->IconPath);
    EXPECT_EQ(5, read->Index);
    ExpectFolderClassIcon(ReadFolderIcon(fileOnly.c_str()), fileOnly);
    ExpectFolderClassIcon(ReadFolderIcon(empty.c_str()), empty);
    const std::string missing = dir.Path() + "\\missing";
    ExpectFolderClassIcon(ReadFolderIcon(missing.c_str()), missing);
}

TEST(FolderIcons, FolderClassWithoutIconReadsAsNone)
{
    test::KeyGuard guard(HKEY_CLASSES_ROOT, FolderClassIconKey);
    test::KeyGuard curVer(HKEY_CLASSES_ROOT, "Folder\\CurVer");
    ASSERT_TRUE(test::DeleteKeyTree(HKEY_CLASSES_ROOT, FolderClassIconKey));
    ASSERT_TRUE(test::DeleteKeyTree(HKEY_CLASSES_ROOT, "Folder\\CurVer"));
    test::TempDir dir;
    EXPECT_FALSE(ReadFolderIcon(dir.Path().c_str()));
}

TEST(FolderIcons, FolderClassIconReachedThroughCurVer)
{
    const std::string versioned = test::UniqueName("Folder");
    test::KeyGuard guard(HKEY_CLASSES_ROOT, FolderClassIconKey);
    test::KeyGuard curVer(HKEY_CLASSES_ROOT, "Folder\\CurVer");
    test::KeyGuard versionedGuard(HKEY_CLASSES_ROOT, versioned);
    ASSERT_TRUE(test::DeleteKeyTree(HKEY_CLASSES_ROOT, FolderClassIconKey));
    test::WriteString(HKEY_CLASSES_ROOT, "Folder\\CurVer", "", versioned);
    test::WriteString(HKEY_CLASSES_ROOT, versioned + "\\DefaultIcon", "", "C:\\v.ico,2");

    test::TempDir dir;
    EXPECT_EQ("C:\\v.ico,2|" + versioned + "|" + dir.Path(), LocationText(ReadFolderIcon(dir.Path().c_str())));
}

TEST(FolderIcons, HiddenProfileKeepsItsAttributesAndFolderGetsSystemOnEveryWrite)
{
    test::TempDir dir;
    const std::string profile = dir.MakeFile("Desktop.ini", "[.ShellClassInfo]\r\nIconIndex=1\r\n");
    ASSERT_TRUE(SetFileAttributesA(profile.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    const DWORD before = GetFileAttributesA(profile.c_str());

    ASSERT_EQ(ERROR_SUCCESS, WriteFolderIcon(IconLocation("C:\\a.ico", dir.Path().c_str(), 1)));
    EXPECT_EQ(before, GetFileAttributesA(profile.c_str()));
    EXPECT_TRUE(GetFileAttributesA(dir.Path().c_str()) & FILE_ATTRIBUTE_SYSTEM);

    // Someone takes the system attribute away; the next write puts it back.
    ASSERT_TRUE(SetFileAttributesA(dir.Path().c_str(), FILE_ATTRIBUTE_NORMAL));
    ASSERT_FALSE(GetFileAttributesA(dir.Path().c_str()) & FILE_ATTRIBUTE_SYSTEM);
    ASSERT_EQ(ERROR_SUCCESS, WriteFolderIcon(IconLocation("C:\\b.ico", dir.Path().c_str(), 2)));
    EXPECT_TRUE(GetFileAttributesA(dir.Path().c_str()) & FILE_ATTRIBUTE_SYSTEM);
    const auto read = ReadFolderIcon(dir.Path().c_str());
    ASSERT_TRUE(read);
    EXPECT_STREQ("C:\\b.ico", read->IconPath);
    EXPECT_EQ(2, read->Index);
}

TEST(FolderIcons, OtherEntriesAndSectionsAreKept)
{
    test::TempDir dir;
    const std::string profile = dir.MakeFile("Desktop.ini",
        "[.ShellClassInfo]\r\nInfoTip=Project files\r\nConfirmFileOp=0\r\n[ViewState]\r\nMode=4\r\n");
    ASSERT_EQ(ERROR_SUCCESS, WriteFolderIcon(IconLocation("C:\\a.ico", dir.Path().c_str(), 4)));
    const std::string text = ReadFileText(profile);
    EXPECT_TRUE(Contains(text, "InfoTip=Project files"));
    EXPECT_TRUE(Contains(text, "ConfirmFileOp=0"));
    EXPECT_TRUE(Contains(text, "[ViewState]"));
    EXPECT_TRUE(Contains(text, "Mode=4"));
    EXPECT_TRUE(Contains(text, "IconIndex=4"));
}

TEST(FolderIcons, HostileProfileEntries)
{
    test::TempDir dir;
    struct Case {
        const char* Name;
        std::string Content;
        bool Found;
        std::string IconPath;
        std::int32_t Index;
    };
    const std::string fits(258, 'p');
    const Case cases[] = {
        // A path longer than the 259-byte read buffer would come back cut into another.
        {"huge", "[.ShellClassInfo]\r\nIconFile=" + std::string(2000, 'h') + "\r\nIconIndex=1\r\n", false, "", 0},
        {"justOver", "[.ShellClassInfo]\r\nIconFile=" + std::string(259, 'j') + "\r\nIconIndex=1\r\n", false, "", 0},
        {"fits", "[.ShellClassInfo]\r\nIconFile=" + fits + "\r\nIconIndex=6\r\n", true, fits, 6},
        {"letters", "[.ShellClassInfo]\r\nIconFile=C:\\a.ico\r\nIconIndex=abc\r\n", true, "C:\\a.ico", 0},
        {"trailing", "[.ShellClassInfo]\r\nIconFile=C:\\a.ico\r\nIconIndex=12abc\r\n", true, "C:\\a.ico", 12},
        {"binary", std::string("[.ShellClassInfo]\r\nIconFile=C:\\a\x01\x7f.ico\r\nIconIndex=2\r\n"), true, "C:\\a\x01\x7f.ico", 2},
        // IconResource, where it names a location, stands over IconFile/IconIndex as in Explorer.
        {"resourceWins", "[.ShellClassInfo]\r\nIconFile=C:\\a.ico\r\nIconIndex=1\r\nIconResource=C:\\r.dll,-7\r\n", true, "C:\\r.dll", -7},
        {"resourceCut", "[.ShellClassInfo]\r\nIconResource=" + std::string(300, 'r') + ",1\r\nIconFile=C:\\a.ico\r\nIconIndex=2\r\n", true, "C:\\a.ico", 2},
        {"resourceNoIndex", "[.ShellClassInfo]\r\nIconResource=C:\\r.dll\r\nIconFile=C:\\a.ico\r\nIconIndex=3\r\n", true, "C:\\a.ico", 3},
        {"resourceLetters", "[.ShellClassInfo]\r\nIconResource=C:\\r.dll,4x\r\nIconFile=C:\\a.ico\r\nIconIndex=4\r\n", true, "C:\\a.ico", 4},
        {"resourceNinetyNine", "[.ShellClassInfo]\r\nIconResource=C:\\r.dll,-99\r\nIconFile=C:\\a.ico\r\nIconIndex=5\r\n", true, "C:\\a.ico", 5},
        {"resourceOtherSection", "[Other]\r\nIconResource=C:\\r.dll,6\r\n[.ShellClassInfo]\r\nIconFile=C:\\a.ico\r\nIconIndex=6\r\n", true, "C:\\a.ico", 6},
        {"resourceLongest", "[.ShellClassInfo]\r\nIconResource=" + std::string(259, 'l') + ",-2147483648\r\n", true, std::string(259, 'l'), INT32_MIN},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string folder = dir.MakeFolder(c.Name);
        dir.MakeFile(std::string(c.Name) + "\\Desktop.ini", c.Content);
        const auto read = ReadFolderIcon(folder.c_str());
        ASSERT_EQ(c.Found, read.has_value());
        if (read) {
            EXPECT_EQ(c.IconPath, read->IconPath);
            EXPECT_EQ(c.Index, read->Index);
        }
    }
}

TEST(FolderIcons, LongIconPathIsRefusedNotCut)
{
    test::TempDir dir;
    const std::string fits(258, 'p');
    const std::string tooLong(259, 'p');
    EXPECT_EQ(ERROR_FILENAME_EXCED_RANGE, WriteFolderIcon(IconLocation(tooLong.c_str(), dir.Path().c_str(), 1)));
    EXPECT_EQ(0, CountEntries(dir.Path()));
    EXPECT_FALSE(GetFileAttributesA(dir.Path().c_str()) & FILE_ATTRIBUTE_SYSTEM);

    ASSERT_EQ(ERROR_SUCCESS, WriteFolderIcon(IconLocation(fits.c_str(), dir.Path().c_str(), 1)));
    const auto read = ReadFolderIcon(dir.Path().c_str());
    ASSERT_TRUE(read);
    EXPECT_EQ(fits, read->IconPath);
}

TEST(FolderIcons, LongFolderPathIsRefusedNotCut)
{
    KnownFolderClassIcon folderClass;
    test::TempDir dir;
    std::string folder = dir.Path() + "\\";
    folder += std::string(248 - folder.size(), 'd'); // 248 + "\Desktop.ini" = 260
    EXPECT_EQ(ERROR_FILENAME_EXCED_RANGE, WriteFolderIcon(IconLocation("C:\\a.ico", folder.c_str(), 1)));
    EXPECT_EQ(0, CountEntries(dir.Path()));
    // Its profile file cannot be named, so nothing is known about its icon, not even
    // the Folder class's.
    EXPECT_FALSE(ReadFolderIcon(folder.c_str()));
}

TEST(FolderIcons, MissingFolderFailsAndIsNotCreated)
{
    test::TempDir dir;
    const std::string missing = dir.Path() + "\\missing";
    const LONG status = WriteFolderIcon(IconLocation("C:\\a.ico", missing.c_str(), 1));
    EXPECT_NE(ERROR_SUCCESS, status);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(missing.c_str()));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, WriteFolderIcon(IconLocation("C:\\a.ico", "", 1)));
}

// A profile file that cannot be written (here: held open without sharing by another
// program, or a folder of that name) is reported, and nothing else changes. The read-only
// attribute cannot stand in for it in this bench: Wine ignores it on folders, and the
// tests run as root, whom the file system lets write read-only files.
TEST(FolderIcons, UnwritableProfileFailsAndChangesNothing)
{
    test::TempDir dir;
    const std::string locked = dir.MakeFolder("locked");
    const std::string content = "[.ShellClassInfo]\r\nIconFile=C:\\old.ico\r\nIconIndex=1\r\n";
    const std::string profile = dir.MakeFile("locked\\Desktop.ini", content);
    HANDLE holder = CreateFileA(profile.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, holder);
    const LONG status = WriteFolderIcon(IconLocation("C:\\new.ico", locked.c_str(), 2));
    CloseHandle(holder);
    EXPECT_NE(ERROR_SUCCESS, status);
    EXPECT_EQ(content, ReadFileText(profile));
    EXPECT_FALSE(GetFileAttributesA(locked.c_str()) & FILE_ATTRIBUTE_SYSTEM);
    EXPECT_FALSE(GetFileAttributesA(profile.c_str()) & FILE_ATTRIBUTE_HIDDEN);

    const std::string blocked = dir.MakeFolder("blocked");
    dir.MakeFolder("blocked\\Desktop.ini");
    EXPECT_NE(ERROR_SUCCESS, WriteFolderIcon(IconLocation("C:\\new.ico", blocked.c_str(), 2)));
    EXPECT_FALSE(GetFileAttributesA(blocked.c_str()) & FILE_ATTRIBUTE_SYSTEM);
}

TEST(FolderIcons, ShellReportsTheWrittenIcon)
{
    // Wine's shell reads Desktop.ini of a system folder and reports its index; it does
    // not hand back the IconFile text for folders, so the index is the witness here.
    test::TempDir icons;
    test::TempDir dir;
    const std::string library = test::WriteIconFile(icons.Path() + "\\set.ico", 50);
    SHFILEINFOA before = {};
    ASSERT_NE(0u, SHGetFileInfoA(dir.Path().c_str(), 0, &before, sizeof before, SHGFI_ICONLOCATION));
    for (int index : {41, 17}) {
        ASSERT_NE(before.iIcon, index);
        ASSERT_EQ(ERROR_SUCCESS, WriteFolderIcon(IconLocation(library.c_str(), dir.Path().c_str(), index)));
        SHFILEINFOA info = {};
        ASSERT_NE(0u, SHGetFileInfoA(dir.Path().c_str(), 0, &info, sizeof info, SHGFI_ICONLOCATION));
        EXPECT_EQ(index, info.iIcon);
    }
}

TEST(FolderBackups, ShortFormStoredPerFolderWithOwnerOnRead)
{
    test::KeyGuard guard(HKEY_LOCAL_MACHINE, ProductRoot);
    IconLocation location("C:\\icons\\a.ico", "ignored", 3);
    location.SetTypeKey("Folder");
    ASSERT_EQ(ERROR_SUCCESS, WriteFolderBackup(location, "C:\\Data"));

    std::string text;
    DWORD type = 0;
    ASSERT_TRUE(test::ReadValue(HKEY_LOCAL_MACHINE, FolderBackupKey, "C:\\Data", &text, &type));
    EXPECT_EQ("C:\\icons\\a.ico,3", text);
    EXPECT_EQ(DWORD(REG_SZ), type);

    EXPECT_EQ("C:\\icons\\a.ico,3||C:\\Data", LocationText(ReadFolderBackup("C:\\Data")));

    ASSERT_EQ(ERROR_SUCCESS, WriteFolderBackup(IconLocation("C:\\b.ico", "", NoIndex), "C:\\Data"));
    ASSERT_TRUE(test::ReadValue(HKEY_LOCAL_MACHINE, FolderBackupKey, "C:\\Data", &text));
    EXPECT_EQ("C:\\b.ico,4294967197", text);
    EXPECT_EQ(NoIndex, ReadFolderBackup("C:\\Data")->Index);
}

TEST(FolderBackups, TrailingBackslashIsAnotherFolderButCaseIsNot)
{
    test::KeyGuard guard(HKEY_LOCAL_MACHINE, ProductRoot);
    ASSERT_EQ(ERROR_SUCCESS, WriteFolderBackup(IconLocation("C:\\a.ico", "", 1), "C:\\Data"));
    EXPECT_FALSE(ReadFolderBackup("C:\\Data\\"));
    const auto other = ReadFolderBackup("c:\\DATA");
    ASSERT_TRUE(other);
    EXPECT_STREQ("c:\\DATA", other->Owner);

    ASSERT_EQ(ERROR_SUCCESS, WriteFolderBackup(IconLocation("C:\\b.ico", "", 2), "C:\\Data\\"));
    EXPECT_EQ(1, ReadFolderBackup("C:\\Data")->Index);
    EXPECT_EQ(2, ReadFolderBackup("C:\\Data\\")->Index);

    ASSERT_EQ(ERROR_SUCCESS, DeleteFolderBackup("C:\\DATA"));
    EXPECT_FALSE(ReadFolderBackup("C:\\Data"));
    EXPECT_TRUE(ReadFolderBackup("C:\\Data\\"));
}

TEST(FolderBackups, LongFormValueGivesItsTypeKey)
{
    test::KeyGuard guard(HKEY_LOCAL_MACHINE, ProductRoot);
    test::WriteString(HKEY_LOCAL_MACHINE, FolderBackupKey, "C:\\Data", "C:\\a.ico,4,Folder");
    const auto read = ReadFolderBackup("C:\\Data");
    ASSERT_TRUE(read);
    EXPECT_STREQ("C:\\a.ico", read->IconPath);
    EXPECT_EQ(4, read->Index);
    EXPECT_STREQ("Folder", read->TypeKey);
}

TEST(FolderBackups, DeletionKeepsTheKeyAndFindsNothingToDeleteFine)
{
    test::KeyGuard guard(HKEY_LOCAL_MACHINE, ProductRoot);
    ASSERT_TRUE(test::DeleteKeyTree(HKEY_LOCAL_MACHINE, ProductRoot));
    EXPECT_EQ(ERROR_SUCCESS, DeleteFolderBackup("C:\\Data"));
    EXPECT_FALSE(ReadFolderBackup("C:\\Data"));

    ASSERT_EQ(ERROR_SUCCESS, WriteFolderBackup(IconLocation("C:\\a.ico", "", 1), "C:\\Data"));
    EXPECT_EQ(ERROR_SUCCESS, DeleteFolderBackup("C:\\Data"));
    EXPECT_EQ(ERROR_SUCCESS, DeleteFolderBackup("C:\\Data"));
    EXPECT_TRUE(test::KeyExists(HKEY_LOCAL_MACHINE, FolderBackupKey));
}

TEST(FolderBackups, HostileValues)
{
    test::KeyGuard guard(HKEY_LOCAL_MACHINE, ProductRoot);
    const std::string big(600, 'b');
    test::WriteString(HKEY_LOCAL_MACHINE, FolderBackupKey, "big", big + ",1");
    const char unterminated[] = {'C', ':', '\\', 'u', ',', '5'};
    test::WriteValue(HKEY_LOCAL_MACHINE, FolderBackupKey, "unterminated", REG_SZ, unterminated, sizeof unterminated);
    test::WriteString(HKEY_LOCAL_MACHINE, FolderBackupKey, "longPath", std::string(300, 'p') + ",1");

    EXPECT_FALSE(ReadFolderBackup("big"));
    EXPECT_FALSE(ReadFolderBackup("longPath"));
    const auto read = ReadFolderBackup("unterminated");
    ASSERT_TRUE(read);
    EXPECT_STREQ("C:\\u", read->IconPath);
    EXPECT_EQ(5, read->Index);
}

TEST(FolderBackups, NoFolderNameNeverAddressesTheDefaultValue)
{
    test::KeyGuard guard(HKEY_LOCAL_MACHINE, ProductRoot);
    test::WriteString(HKEY_LOCAL_MACHINE, FolderBackupKey, "", "C:\\default.ico,1");
    EXPECT_NE(ERROR_SUCCESS, WriteFolderBackup(IconLocation("C:\\a.ico", "", 2), ""));
    EXPECT_FALSE(ReadFolderBackup(""));
    EXPECT_FALSE(ReadFolderBackup(nullptr));
    EXPECT_NE(ERROR_SUCCESS, DeleteFolderBackup(""));
    std::string text;
    ASSERT_TRUE(test::ReadValue(HKEY_LOCAL_MACHINE, FolderBackupKey, "", &text));
    EXPECT_EQ("C:\\default.ico,1", text);
}
