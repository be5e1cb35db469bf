#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DriveIcons.h"
#include "Registry.h"
#include "RegistryNames.h"
#include "ScratchRegistry.h"
#include "TestSupport.h"
#include "UnicodeNames.h"

using namespace orvane;
using test::LocationText;

namespace {

const wchar_t DriveClassIconKey[] = L"Drive\\DefaultIcon";

std::wstring EntryKey(wchar_t letter) { return std::wstring(DriveIconsKey) + L"\\" + letter + L"\\DefaultIcon"; }

// Puts back the shell's DriveIcons key and the Drive class's icon; starts each test
// without a DriveIcons key and with a known Drive class icon.
class DriveIconsTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(test::DeleteKeyTree(HKEY_LOCAL_MACHINE, DriveIconsKey));
        ASSERT_TRUE(test::DeleteKeyTree(HKEY_CLASSES_ROOT, L"Drive\\CurVer"));
        ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, DriveClassIconKey, L"", L"C:\\icons\\drive-class.ico,8"));
    }

    static void ExpectDriveClassIcon(const std::optional<IconLocation>& location, const wchar_t* letter)
    {
        ASSERT_TRUE(location);
        EXPECT_STREQ(L"C:\\icons\\drive-class.ico", location->IconPath);
        EXPECT_EQ(8, location->Index);
        EXPECT_STREQ(L"Drive", location->TypeKey);
        EXPECT_STREQ(letter, location->TargetName);
    }

private:
    test::KeyGuard drives_{HKEY_LOCAL_MACHINE, DriveIconsKey};
    test::KeyGuard driveClassIcon_{HKEY_CLASSES_ROOT, DriveClassIconKey};
    test::KeyGuard driveClassCurVer_{HKEY_CLASSES_ROOT, L"Drive\\CurVer"};
};

} // namespace

TEST_F(DriveIconsTest, DriveClassIsConsultedOnlyOnceTheDriveKeyExists)
{
    EXPECT_FALSE(ReadDriveIcon(L"R:\\"));

    ASSERT_EQ(ERROR_SUCCESS, WriteDriveIcon(IconLocation(L"C:\\icons\\q.ico", L"Q:\\", 1)));
    ExpectDriveClassIcon(ReadDriveIcon(L"R:\\"), L"R");

    EXPECT_EQ(L"C:\\icons\\q.ico,1|Q|Q", LocationText(ReadDriveIcon(L"Q:\\")));
}

TEST_F(DriveIconsTest, LetterAndRootPathInEitherCaseAddressOneEntry)
{
    ASSERT_EQ(ERROR_SUCCESS, WriteDriveIcon(IconLocation(L"C:\\icons\\d.ico", L"D", 2)));
    ASSERT_EQ(ERROR_SUCCESS, WriteDriveIcon(IconLocation(L"C:\\icons\\e.ico", L"D:\\", 3)));
    ASSERT_EQ(ERROR_SUCCESS, WriteDriveIcon(IconLocation(L"C:\\icons\\f.ico", L"d:\\", 4)));

    std::wstring text;
    ASSERT_TRUE(test::ReadValue(HKEY_LOCAL_MACHINE, EntryKey(L'D'), L"", &text));
    EXPECT_EQ(L"C:\\icons\\f.ico,4", text);
    for (const wchar_t* path : {L"D:\\", L"d:\\", L"D"}) {
        const auto read = ReadDriveIcon(path);
        ASSERT_TRUE(read) << path;
        EXPECT_STREQ(L"C:\\icons\\f.ico", read->IconPath);
        EXPECT_EQ(4, read->Index);
        EXPECT_EQ(std::wstring(1, path[0]), read->TargetName);
    }

    // One letter key below DriveIcons, whatever the spellings.
    RegKey drives;
    ASSERT_EQ(ERROR_SUCCESS, drives.Open(HKEY_LOCAL_MACHINE, DriveIconsKey, KEY_READ));
    DWORD subkeys = 0;
    ASSERT_EQ(ERROR_SUCCESS, RegQueryInfoKeyW(drives.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                                              nullptr, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(1u, subkeys);

    ASSERT_EQ(ERROR_SUCCESS, DeleteDriveIcon(IconLocation(L"", L"d", 0)));
    EXPECT_FALSE(test::KeyExists(HKEY_LOCAL_MACHINE, EntryKey(L'D')));
}

TEST_F(DriveIconsTest, ShortFormWithUnsignedIndex)
{
    ASSERT_EQ(ERROR_SUCCESS, WriteDriveIcon(IconLocation(L"C:\\icons\\d.ico", L"D:\\", 2)));
    std::wstring text;
    DWORD type = 0;
    ASSERT_TRUE(test::ReadValue(HKEY_LOCAL_MACHINE, EntryKey(L'D'), L"", &text, &type));
    EXPECT_EQ(L"C:\\icons\\d.ico,2", text);
    EXPECT_EQ(DWORD(REG_SZ), type);

    IconLocation typed(L"C:\\icons\\d.ico", L"D:\\", NoIndex);
    typed.SetTypeKey(L"Drive");
    ASSERT_EQ(ERROR_SUCCESS, WriteDriveIcon(typed));
    ASSERT_TRUE(test::ReadValue(HKEY_LOCAL_MACHINE, EntryKey(L'D'), L"", &text));
    EXPECT_EQ(L"C:\\icons\\d.ico", text);
    EXPECT_EQ(NoIndex, ReadDriveIcon(L"D:\\")->Index);
}

// What another program set for a drive, in the states it can be in: a change backs up
// the icon (exactly, its type and bytes kept), a second change keeps that backup, and
// restoring puts the keys back byte for byte; restoring before any change, or once
// restored, leaves the other program's entry alone.
TEST_F(DriveIconsTest, ForeignEntryIsBackedUpAndRestoredExactly)
{
    const std::wstring letterKey = std::wstring(DriveIconsKey) + L"\\E";
    const wchar_t expandable[] = L"%SystemRoot%\\system32\\shell32.dll,8";
    const DWORD number = 1;
    struct Row {
        const char* Name;
        const wchar_t* Icon; // the default value's text, or null
        DWORD Type;
        const void* Data;    // raw data for another type
        DWORD Size;
        bool OtherValue;     // a value of the other program's own beside the icon
    };
    const Row table[] = {
        {"text", L"C:\\vendor\\usb.ico,0", REG_SZ, nullptr, 0, false},
        {"with a value of its own", L"shell32.dll,8", REG_SZ, nullptr, 0, true},
        {"expandable", nullptr, REG_EXPAND_SZ, expandable, sizeof expandable, false},
        {"not text", nullptr, REG_DWORD, &number, sizeof number, false},
        {"no icon, a value of its own", nullptr, REG_NONE, nullptr, 0, true},
    };
    for (const Row& row : table) {
        SCOPED_TRACE(row.Name);
        ASSERT_TRUE(test::DeleteKeyTree(HKEY_LOCAL_MACHINE, letterKey));
        if (row.Icon != nullptr) {
            ASSERT_TRUE(test::WriteString(HKEY_LOCAL_MACHINE, EntryKey(L'E'), L"", row.Icon));
        }
        if (row.Data != nullptr) {
            ASSERT_TRUE(test::WriteValue(HKEY_LOCAL_MACHINE, EntryKey(L'E'), L"", row.Type, row.Data, row.Size));
        }
        if (row.OtherValue) {
            ASSERT_TRUE(test::WriteString(HKEY_LOCAL_MACHINE, EntryKey(L'E'), L"Vendor", L"Backup disk"));
        }
        ASSERT_TRUE(test::WriteString(HKEY_LOCAL_MACHINE, letterKey + L"\\DefaultLabel", L"", L"Backup disk"));
        const std::wstring before = test::DumpKey(HKEY_LOCAL_MACHINE, letterKey);
        const std::wstring read = LocationText(ReadDriveIcon(L"E:\\"));
        EXPECT_FALSE(HasOwnDriveEntry(L"E:\\", Scope::AllUsers));

        // Never set by this product: restoring takes nothing.
        EXPECT_EQ(ERROR_SUCCESS, DeleteDriveIcon(IconLocation(L"", L"E:\\", 0)));
        EXPECT_EQ(before, test::DumpKey(HKEY_LOCAL_MACHINE, letterKey));

        ASSERT_EQ(ERROR_SUCCESS, WriteDriveIcon(IconLocation(L"C:\\icons\\e.ico", L"E:\\", 5)));
        ASSERT_EQ(ERROR_SUCCESS, WriteDriveIcon(IconLocation(L"C:\\icons\\f.ico", L"E:\\", 6)));
        EXPECT_EQ(L"C:\\icons\\f.ico,6|E|E", LocationText(ReadDriveIcon(L"E:\\")));
        EXPECT_TRUE(HasOwnDriveEntry(L"E:\\", Scope::AllUsers));
        std::vector<BYTE> backup;
        DWORD backupType = 0;
        const bool hadIcon = row.Icon != nullptr || row.Data != nullptr;
        EXPECT_EQ(hadIcon, test::ReadRaw(HKEY_LOCAL_MACHINE, EntryKey(L'E'), DriveBackupValue, &backup, &backupType));
        if (row.Icon != nullptr) {
            EXPECT_EQ(DWORD(REG_SZ), backupType);
            EXPECT_EQ(row.Icon, test::ValueText(HKEY_LOCAL_MACHINE, EntryKey(L'E'), DriveBackupValue));
        } else if (row.Data != nullptr) {
            EXPECT_EQ(row.Type, backupType);
            EXPECT_EQ(std::vector<BYTE>(static_cast<const BYTE*>(row.Data), static_cast<const BYTE*>(row.Data) + row.Size),
                      backup);
        }

        ASSERT_EQ(ERROR_SUCCESS, DeleteDriveIcon(IconLocation(L"", L"E:\\", 0)));
        EXPECT_EQ(before, test::DumpKey(HKEY_LOCAL_MACHINE, letterKey));
        EXPECT_EQ(read, LocationText(ReadDriveIcon(L"E:\\")));
        EXPECT_FALSE(HasOwnDriveEntry(L"E:\\", Scope::AllUsers));
        EXPECT_EQ(ERROR_SUCCESS, DeleteDriveIcon(IconLocation(L"", L"E:\\", 0)));
        EXPECT_EQ(before, test::DumpKey(HKEY_LOCAL_MACHINE, letterKey));
    }
}

// A drive icon set where there was none goes on restore with exactly the keys its change
// created, each only while empty: the letter's key holding another entry stays.
TEST_F(DriveIconsTest, RestoringTakesTheKeysTheChangeCreated)
{
    const std::wstring drives = DriveIconsKey;
    struct Row {
        const char* Name;
        bool DrivesKey;   // DriveIcons existed
        bool LetterKey;   // the letter's key existed
        bool EmptyEntry;  // an empty DefaultIcon existed
        bool AddedLater;  // another entry appears below the letter after the change
        DWORD Count = 0;  // a count of created keys written over the change's own
    };
    const Row table[] = {
        {"no DriveIcons key", false, false, false, false},
        {"DriveIcons only", true, false, false, false},
        {"letter key", true, true, false, false},
        {"empty DefaultIcon", true, true, true, false},
        {"letter key gets a label meanwhile", true, false, false, true},
        {"a count far beyond the keys there are", false, false, false, false, 1000000},
    };
    for (const Row& row : table) {
        SCOPED_TRACE(row.Name);
        ASSERT_TRUE(test::DeleteKeyTree(HKEY_LOCAL_MACHINE, drives));
        RegKey key;
        if (row.DrivesKey) {
            ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_LOCAL_MACHINE, drives.c_str()));
        }
        if (row.LetterKey) {
            ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_LOCAL_MACHINE, (drives + L"\\P").c_str()));
        }
        if (row.EmptyEntry) {
            ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_LOCAL_MACHINE, EntryKey(L'P').c_str()));
        }
        key.reset();
        const std::wstring before = test::DumpKey(HKEY_LOCAL_MACHINE, drives);

        ASSERT_EQ(ERROR_SUCCESS, WriteDriveIcon(IconLocation(L"C:\\icons\\p.ico", L"P:\\", 1)));
        std::vector<BYTE> backup;
        DWORD type = 0;
        EXPECT_FALSE(test::ReadRaw(HKEY_LOCAL_MACHINE, EntryKey(L'P'), DriveBackupValue, &backup, &type));
        if (row.AddedLater) {
            ASSERT_TRUE(test::WriteString(HKEY_LOCAL_MACHINE, drives + L"\\P\\DefaultLabel", L"", L"Photos"));
        }
        // A hostile count takes no more than the keys below the Explorer key.
        if (row.Count != 0) {
            ASSERT_TRUE(test::WriteValue(HKEY_LOCAL_MACHINE, EntryKey(L'P'), DriveCreatedKeysValue, REG_DWORD,
                                         &row.Count, sizeof row.Count));
        }
        ASSERT_EQ(ERROR_SUCCESS, DeleteDriveIcon(IconLocation(L"", L"P:\\", 0)));
        if (row.AddedLater) {
            EXPECT_FALSE(test::KeyExists(HKEY_LOCAL_MACHINE, EntryKey(L'P')));
            EXPECT_EQ(L"Photos", test::ValueText(HKEY_LOCAL_MACHINE, drives + L"\\P\\DefaultLabel"));
        } else {
            EXPECT_EQ(before, test::DumpKey(HKEY_LOCAL_MACHINE, drives));
        }
    }
}

TEST_F(DriveIconsTest, LetterEntriesFollowCurVerAndFallBackToTheDriveClass)
{
    const std::wstring drives = DriveIconsKey;
    test::WriteString(HKEY_LOCAL_MACHINE, drives + L"\\F\\CurVer", L"", L"G");
    test::WriteString(HKEY_LOCAL_MACHINE, drives + L"\\G\\DefaultIcon", L"", L"C:\\g.ico,6");
    EXPECT_EQ(L"C:\\g.ico,6|G|F", LocationText(ReadDriveIcon(L"F:\\")));

    // A letter CurVer that points to itself ends the lookup; the Drive class answers.
    test::WriteString(HKEY_LOCAL_MACHINE, drives + L"\\H\\CurVer", L"", L"H");
    ExpectDriveClassIcon(ReadDriveIcon(L"H:\\"), L"H");

    // An entry without a value, or with one too long to be an icon location.
    test::WriteString(HKEY_LOCAL_MACHINE, drives + L"\\J\\DefaultIcon", L"other", L"x");
    ExpectDriveClassIcon(ReadDriveIcon(L"J:\\"), L"J");
    test::WriteString(HKEY_LOCAL_MACHINE, drives + L"\\K\\DefaultIcon", L"", std::wstring(700, L'k') + L",1");
    ExpectDriveClassIcon(ReadDriveIcon(L"K:\\"), L"K");
}

TEST_F(DriveIconsTest, NoIconAnywhereIsNone)
{
    ASSERT_TRUE(test::DeleteKeyTree(HKEY_CLASSES_ROOT, DriveClassIconKey));
    ASSERT_EQ(ERROR_SUCCESS, WriteDriveIcon(IconLocation(L"C:\\icons\\q.ico", L"Q:\\", 1)));
    EXPECT_FALSE(ReadDriveIcon(L"R:\\"));
}

TEST_F(DriveIconsTest, OnlyALetterNamesADrive)
{
    ASSERT_EQ(ERROR_SUCCESS, WriteDriveIcon(IconLocation(L"C:\\icons\\q.ico", L"Q:\\", 1)));
    // Drive letters are the ASCII ones: other letters of Unicode name no drive.
    for (const wchar_t* path : {L"\\\\srv\\share\\", L"\\", L"", L"1:\\", L".:\\", L"\u00C4:\\", L"\uFF21:\\", L"\u0416"}) {
        SCOPED_TRACE(test::Utf8(path));
        EXPECT_FALSE(ReadDriveIcon(path));
        EXPECT_EQ(ERROR_INVALID_DRIVE, WriteDriveIcon(IconLocation(L"C:\\x.ico", path, 1)));
        EXPECT_EQ(ERROR_INVALID_DRIVE, DeleteDriveIcon(IconLocation(L"", path, 0)));
    }
    EXPECT_FALSE(ReadDriveIcon(nullptr));
    // A backslash as letter would have written DriveIcons\DefaultIcon itself.
    EXPECT_FALSE(test::KeyExists(HKEY_LOCAL_MACHINE, std::wstring(DriveIconsKey) + L"\\DefaultIcon"));
    EXPECT_TRUE(test::KeyExists(HKEY_LOCAL_MACHINE, EntryKey(L'Q')));
}

TEST_F(DriveIconsTest, TextTooLongIsRefusedWithoutAnEmptyEntry)
{
    const std::wstring path(255, L'p'); // with ",12345" more than 259 characters
    EXPECT_EQ(ERROR_FILENAME_EXCED_RANGE, WriteDriveIcon(IconLocation(path.c_str(), L"D:\\", 12345)));
    EXPECT_FALSE(test::KeyExists(HKEY_LOCAL_MACHINE, EntryKey(L'D')));

    ASSERT_EQ(ERROR_SUCCESS, WriteDriveIcon(IconLocation(L"C:\\d.ico", L"D:\\", 1)));
    EXPECT_EQ(ERROR_FILENAME_EXCED_RANGE, WriteDriveIcon(IconLocation(path.c_str(), L"D:\\", 12345)));
    std::wstring text;
    ASSERT_TRUE(test::ReadValue(HKEY_LOCAL_MACHINE, EntryKey(L'D'), L"", &text));
    EXPECT_EQ(L"C:\\d.ico,1", text);
}

TEST_F(DriveIconsTest, IconPathsTheCodePageCannotHoldAreStoredExactly)
{
    for (const auto& name : test::UnicodeNames()) {
        SCOPED_TRACE(name.Label);
        const std::wstring icon = L"C:\\" + name.Text + L"\\" + name.Text + L".ico";
        ASSERT_EQ(ERROR_SUCCESS, WriteDriveIcon(IconLocation(icon.c_str(), L"D:\\", 2)));
        EXPECT_EQ(icon + L",2", test::ValueText(HKEY_LOCAL_MACHINE, EntryKey(L'D')));
        EXPECT_EQ(icon + L",2|D|D", LocationText(ReadDriveIcon(L"D:\\")));
    }
    // 257 UTF-16 units of path, a surrogate pair last, and ",1": the longest text there is.
    const std::wstring longest = L"C:\\" + std::wstring(252, L'\u0436') + L"\U0001F4C1";
    ASSERT_EQ(ERROR_SUCCESS, WriteDriveIcon(IconLocation(longest.c_str(), L"D:\\", 1)));
    EXPECT_EQ(longest + L",1", test::ValueText(HKEY_LOCAL_MACHINE, EntryKey(L'D')));
    EXPECT_EQ(longest + L",1|D|D", LocationText(ReadDriveIcon(L"D:\\")));
    EXPECT_EQ(ERROR_FILENAME_EXCED_RANGE, WriteDriveIcon(IconLocation((longest + L"x").c_str(), L"D:\\", 1)));
    EXPECT_EQ(longest + L",1", test::ValueText(HKEY_LOCAL_MACHINE, EntryKey(L'D')));
}
