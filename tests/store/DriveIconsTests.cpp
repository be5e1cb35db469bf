#include <gtest/gtest.h>

#include <string>

#include "DriveIcons.h"
#include "Registry.h"
#include "ScratchRegistry.h"
#include "TestSupport.h"

using namespace orvane;
using test::LocationText;

namespace {

const char DriveClassIconKey[] = "Drive\\DefaultIcon";

std::string EntryKey(char letter) { return std::string(DriveIconsKey) + "\\" + letter + "\\DefaultIcon"; }

// Puts back the shell's DriveIcons key and the Drive class's icon; starts each test
// without a DriveIcons key and with a known Drive class icon.
class DriveIconsTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(test::DeleteKeyTree(HKEY_LOCAL_MACHINE, DriveIconsKey));
        ASSERT_TRUE(test::DeleteKeyTree(HKEY_CLASSES_ROOT, "Drive\\CurVer"));
        ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, DriveClassIconKey, "", "C:\\icons\\drive-class.ico,8"));
    }

    static void ExpectDriveClassIcon(const std::optional<IconLocation>& location, const char* letter)
    {
        ASSERT_TRUE(location);
        EXPECT_STREQ("C:\\icons\\drive-class.ico", location->IconPath);
        EXPECT_EQ(8, location->Index);
        EXPECT_STREQ("Drive", location->TypeKey);
        EXPECT_STREQ(letter, location->Owner);
    }

private:
    test::KeyGuard drives_{HKEY_LOCAL_MACHINE, DriveIconsKey};
    test::KeyGuard driveClassIcon_{HKEY_CLASSES_ROOT, DriveClassIconKey};
    test::KeyGuard driveClassCurVer_{HKEY_CLASSES_ROOT, "Drive\\CurVer"};
};

} // namespace

TEST_F(DriveIconsTest, DriveClassIsConsultedOnlyOnceTheDriveKeyExists)
{
    EXPECT_FALSE(ReadDriveIcon("R:\\"));

    ASSERT_EQ(ERROR_SUCCESS, WriteDriveIcon(IconLocation("C:\\icons\\q.ico", "Q:\\", 1)));
    ExpectDriveClassIcon(ReadDriveIcon("R:\\"), "R");

    EXPECT_EQ("C:\\icons\\q.ico,1|Q|Q", LocationText(ReadDriveIcon("Q:\\")));
}

TEST_F(DriveIconsTest, LetterAndRootPathInEitherCaseAddressOneEntry)
{
    ASSERT_EQ(ERROR_SUCCESS, WriteDriveIcon(IconLocation("C:\\icons\\d.ico", "D", 2)));
    ASSERT_EQ(ERROR_SUCCESS, WriteDriveIcon(IconLocation("C:\\icons\\e.ico", "D:\\", 3)));
    ASSERT_EQ(ERROR_SUCCESS, WriteDriveIcon(IconLocation("C:\\icons\\f.ico", "d:\\", 4)));

    std::string text;
    ASSERT_TRUE(test::ReadValue(HKEY_LOCAL_MACHINE, EntryKey('D'), "", &text));
    EXPECT_EQ("C:\\icons\\f.ico,4", text);
    for (const char* path : {"D:\\", "d:\\", "D"}) {
        const auto read = ReadDriveIcon(path);
        ASSERT_TRUE(read) << path;
        EXPECT_STREQ("C:\\icons\\f.ico", read->IconPath);
        EXPECT_EQ(4, read->Index);
        EXPECT_EQ(std::string(1, path[0]), read->Owner);
    }

    // One letter key below DriveIcons, whatever the spellings.
    RegKey drives;
    ASSERT_EQ(ERROR_SUCCESS, drives.Open(HKEY_LOCAL_MACHINE, DriveIconsKey, KEY_READ));
    DWORD subkeys = 0;
    ASSERT_EQ(ERROR_SUCCESS, RegQueryInfoKeyA(drives.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                                              nullptr, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(1u, subkeys);

    ASSERT_EQ(ERROR_SUCCESS, DeleteDriveIcon(IconLocation("", "d", 0)));
    EXPECT_FALSE(test::KeyExists(HKEY_LOCAL_MACHINE, EntryKey('D')));
}

TEST_F(DriveIconsTest, ShortFormWithUnsignedIndex)
{
    ASSERT_EQ(ERROR_SUCCESS, WriteDriveIcon(IconLocation("C:\\icons\\d.ico", "D:\\", 2)));
    std::string text;
    DWORD type = 0;
    ASSERT_TRUE(test::ReadValue(HKEY_LOCAL_MACHINE, EntryKey('D'), "", &text, &type));
    EXPECT_EQ("C:\\icons\\d.ico,2", text);
    EXPECT_EQ(DWORD(REG_SZ), type);

    IconLocation typed("C:\\icons\\d.ico", "D:\\", NoIndex);
    typed.SetTypeKey("Drive");
    ASSERT_EQ(ERROR_SUCCESS, WriteDriveIcon(typed));
    ASSERT_TRUE(test::ReadValue(HKEY_LOCAL_MACHINE, EntryKey('D'), "", &text));
    EXPECT_EQ("C:\\icons\\d.ico,4294967197", text);
    EXPECT_EQ(NoIndex, ReadDriveIcon("D:\\")->Index);
}

TEST_F(DriveIconsTest, ForeignEntryIsOverwrittenAndDeletionTakesOnlyDefaultIcon)
{
    test::WriteString(HKEY_LOCAL_MACHINE, EntryKey('E'), "", "C:\\vendor\\usb.ico,0");
    test::WriteString(HKEY_LOCAL_MACHINE, std::string(DriveIconsKey) + "\\E\\DefaultLabel", "", "Backup disk");

    const auto foreign = ReadDriveIcon("E:\\");
    ASSERT_TRUE(foreign);
    EXPECT_STREQ("C:\\vendor\\usb.ico", foreign->IconPath);

    ASSERT_EQ(ERROR_SUCCESS, WriteDriveIcon(IconLocation("C:\\icons\\e.ico", "E:\\", 5)));
    EXPECT_EQ(5, ReadDriveIcon("E:\\")->Index);

    ASSERT_EQ(ERROR_SUCCESS, DeleteDriveIcon(IconLocation("", "E:\\", 0)));
    EXPECT_FALSE(test::KeyExists(HKEY_LOCAL_MACHINE, EntryKey('E')));
    EXPECT_TRUE(test::KeyExists(HKEY_LOCAL_MACHINE, std::string(DriveIconsKey) + "\\E\\DefaultLabel"));
    ExpectDriveClassIcon(ReadDriveIcon("E:\\"), "E");

    // Nothing left to delete is not a failure, and the letter's key stays.
    EXPECT_EQ(ERROR_SUCCESS, DeleteDriveIcon(IconLocation("", "E:\\", 0)));
    EXPECT_TRUE(test::KeyExists(HKEY_LOCAL_MACHINE, std::string(DriveIconsKey) + "\\E"));
}

TEST_F(DriveIconsTest, LetterEntriesFollowCurVerAndFallBackToTheDriveClass)
{
    const std::string drives = DriveIconsKey;
    test::WriteString(HKEY_LOCAL_MACHINE, drives + "\\F\\CurVer", "", "G");
    test::WriteString(HKEY_LOCAL_MACHINE, drives + "\\G\\DefaultIcon", "", "C:\\g.ico,6");
    EXPECT_EQ("C:\\g.ico,6|G|F", LocationText(ReadDriveIcon("F:\\")));

    // A letter CurVer that points to itself ends the lookup; the Drive class answers.
    test::WriteString(HKEY_LOCAL_MACHINE, drives + "\\H\\CurVer", "", "H");
    ExpectDriveClassIcon(ReadDriveIcon("H:\\"), "H");

    // An entry without a value, or with one too long to be an icon location.
    test::WriteString(HKEY_LOCAL_MACHINE, drives + "\\J\\DefaultIcon", "other", "x");
    ExpectDriveClassIcon(ReadDriveIcon("J:\\"), "J");
    test::WriteString(HKEY_LOCAL_MACHINE, drives + "\\K\\DefaultIcon", "", std::string(700, 'k') + ",1");
    ExpectDriveClassIcon(ReadDriveIcon("K:\\"), "K");
}

TEST_F(DriveIconsTest, NoIconAnywhereIsNone)
{
    ASSERT_TRUE(test::DeleteKeyTree(HKEY_CLASSES_ROOT, DriveClassIconKey));
    ASSERT_EQ(ERROR_SUCCESS, WriteDriveIcon(IconLocation("C:\\icons\\q.ico", "Q:\\", 1)));
    EXPECT_FALSE(ReadDriveIcon("R:\\"));
}

TEST_F(DriveIconsTest, OnlyALetterNamesADrive)
{
    ASSERT_EQ(ERROR_SUCCESS, WriteDriveIcon(IconLocation("C:\\icons\\q.ico", "Q:\\", 1)));
    for (const char* path : {"\\\\srv\\share\\", "\\", "", "1:\\", ".:\\"}) {
        SCOPED_TRACE(path);
        EXPECT_FALSE(ReadDriveIcon(path));
        EXPECT_EQ(ERROR_INVALID_DRIVE, WriteDriveIcon(IconLocation("C:\\x.ico", path, 1)));
        EXPECT_EQ(ERROR_INVALID_DRIVE, DeleteDriveIcon(IconLocation("", path, 0)));
    }
    EXPECT_FALSE(ReadDriveIcon(nullptr));
    // A backslash as letter would have written DriveIcons\DefaultIcon itself.
    EXPECT_FALSE(test::KeyExists(HKEY_LOCAL_MACHINE, std::string(DriveIconsKey) + "\\DefaultIcon"));
    EXPECT_TRUE(test::KeyExists(HKEY_LOCAL_MACHINE, EntryKey('Q')));
}

TEST_F(DriveIconsTest, TextTooLongIsRefusedWithoutAnEmptyEntry)
{
    const std::string path(255, 'p'); // with ",12345" more than 259 characters
    EXPECT_EQ(ERROR_FILENAME_EXCED_RANGE, WriteDriveIcon(IconLocation(path.c_str(), "D:\\", 12345)));
    EXPECT_FALSE(test::KeyExists(HKEY_LOCAL_MACHINE, EntryKey('D')));

    ASSERT_EQ(ERROR_SUCCESS, WriteDriveIcon(IconLocation("C:\\d.ico", "D:\\", 1)));
    EXPECT_EQ(ERROR_FILENAME_EXCED_RANGE, WriteDriveIcon(IconLocation(path.c_str(), "D:\\", 12345)));
    std::string text;
    ASSERT_TRUE(test::ReadValue(HKEY_LOCAL_MACHINE, EntryKey('D'), "", &text));
    EXPECT_EQ("C:\\d.ico,1", text);
}
