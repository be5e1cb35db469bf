#include <windows.h>
#include <sddl.h>
#include <shellapi.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cwchar>
#include <iterator>
#include <string>
#include <vector>

#include "ClassIconHandler.h"
#include "FileIconTable.h"
#include "FileTypeIcons.h"
#include "IconHandlerInstall.h"
#include "IconHandlerUninstall.h"
#include "IconLocation.h"
#include "OwnIdentity.h"
#include "Registry.h"
#include "RegistryNames.h"
#include "ScratchRegistry.h"
#include "TestSupport.h"

using namespace orvane;
using test::LocationText;
using test::ProductRoot;
using test::RawValue;
using test::OtherClsid;
using test::OwnClsid;
using test::ReadOnlyKey;
using test::ScratchType;
using test::ShellIconLocation;
using test::ValueText;

namespace {

// The product's key under HKEY_LOCAL_MACHINE, put back when the test ends.
class ProductKeyTest : public ::testing::Test {
protected:
    test::KeyGuard product_{HKEY_LOCAL_MACHINE, ProductRoot};

    void PutEntry(const std::wstring& path, const std::wstring& text)
    {
        ASSERT_TRUE(test::WriteString(HKEY_LOCAL_MACHINE, FileIconsKey, path.c_str(), text));
    }
};

// ---------------------------------------------------------------- the per-file table

TEST_F(ProductKeyTest, WriteFileIconCreatesTheTableAndTheProductKey)
{
    test::DeleteKeyTree(HKEY_LOCAL_MACHINE, ProductRoot);
    IconLocation location(L"C:\\icons\\set.icl", nullptr, 7);
    location.SetTypeKey(L"jpegfile");

    ASSERT_EQ(ERROR_SUCCESS, WriteFileIcon(location, L"C:\\dir\\photo.jpg"));

    EXPECT_TRUE(test::KeyExists(HKEY_LOCAL_MACHINE, ProductKey));
    DWORD type = 0;
    EXPECT_EQ(L"C:\\icons\\set.icl,7,jpegfile",
              ValueText(HKEY_LOCAL_MACHINE, FileIconsKey, L"C:\\dir\\photo.jpg", &type));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_EQ(std::wstring(L"C:\\icons\\set.icl,7,jpegfile", 28),
              RawValue(HKEY_LOCAL_MACHINE, FileIconsKey, L"C:\\dir\\photo.jpg"));
}

TEST_F(ProductKeyTest, ReadFileIconOfAPathWithoutAnEntryIsNone)
{
    test::DeleteKeyTree(HKEY_LOCAL_MACHINE, FileIconsKey);
    EXPECT_FALSE(ReadFileIcon(L"C:\\dir\\photo.jpg").has_value()) << "no table";

    PutEntry(L"C:\\dir\\other.jpg", L"C:\\icons\\set.icl,7,jpegfile");
    EXPECT_FALSE(ReadFileIcon(L"C:\\dir\\photo.jpg").has_value());
    EXPECT_FALSE(ReadFileIcon(L"").has_value());
    EXPECT_FALSE(ReadFileIcon(nullptr).has_value());
}

TEST_F(ProductKeyTest, TheTableKeysDefaultValueIsNoEntry)
{
    PutEntry(L"", L"C:\\icons\\set.icl,7,jpegfile");
    EXPECT_FALSE(ReadFileIcon(L"").has_value());
    EXPECT_EQ(ERROR_INVALID_PARAMETER, DeleteFileIcon(L""));
    EXPECT_EQ(L"C:\\icons\\set.icl,7,jpegfile", ValueText(HKEY_LOCAL_MACHINE, FileIconsKey, L""));
}

struct ReadCase {
    const wchar_t* FilePath;
    const wchar_t* Data;
    const wchar_t* IconPath;
    std::int32_t Index;
    const wchar_t* TypeKey;
    const wchar_t* TargetName;
};

const ReadCase ReadCases[] = {
    {L"C:\\dir\\photo.jpg", L"C:\\icons\\set.icl,7,jpegfile", L"C:\\icons\\set.icl", 7, L"jpegfile", L".jpg"},
    {L"C:\\dir\\archive.tar.gz", L"a.dll,4294967293,gzfile", L"a.dll", -3, L"gzfile", L".gz"},
    {L"C:\\dir.d\\README", L"a.dll,1,k", L"a.dll", 1, L"k", L""},
    {L"C:\\dir\\.profile", L"a.dll,2,k", L"a.dll", 2, L"k", L".profile"},
    {L"C:\\dir\\x.txt", L"a.dll,3", L"a.dll", 3, L"", L".txt"},
    {L"C:\\dir\\y.txt", L"a.dll,,txtfile", L"a.dll", NoIndex, L"", L".txt"},
    {L"C:\\dir\\z.txt", L"%SystemRoot%\\a.dll,4294967197,x,y", L"%SystemRoot%\\a.dll", NoIndex, L"x,y", L".txt"},
};

TEST_F(ProductKeyTest, ReadFileIconParsesTheLongFormAndTakesTheOwnerFromThePath)
{
    for (const auto& c : ReadCases) {
        SCOPED_TRACE(c.FilePath);
        PutEntry(c.FilePath, c.Data);
        const auto location = ReadFileIcon(c.FilePath);
        ASSERT_TRUE(location.has_value());
        EXPECT_STREQ(c.IconPath, location->IconPath);
        EXPECT_EQ(c.Index, location->Index);
        EXPECT_STREQ(c.TypeKey, location->TypeKey);
        EXPECT_STREQ(c.TargetName, location->TargetName);
    }
}

TEST_F(ProductKeyTest, WrittenEntriesReadBackAndReplaceEarlierOnes)
{
    IconLocation first(L"C:\\icons\\a.ico", nullptr, 2);
    first.SetTypeKey(L"txtfile");
    IconLocation second(L"C:\\icons\\b.dll", nullptr, -7);
    second.SetTypeKey(L"txtfile");

    ASSERT_EQ(ERROR_SUCCESS, WriteFileIcon(first, L"C:\\notes\\a.txt"));
    ASSERT_EQ(ERROR_SUCCESS, WriteFileIcon(second, L"C:\\notes\\a.txt"));

    // The registry compares value names without regard to case, so one file has one entry.
    EXPECT_EQ(L"C:\\icons\\b.dll,-7|txtfile|.TXT", LocationText(ReadFileIcon(L"c:\\NOTES\\A.TXT")));
    EXPECT_EQ(1, CountFileIconsOfType(L"txtfile"));
}

TEST_F(ProductKeyTest, PathsOf260CharactersOrMoreAreRefusedWithNothingWritten)
{
    test::DeleteKeyTree(HKEY_LOCAL_MACHINE, FileIconsKey);
    IconLocation location(L"C:\\icons\\a.ico", nullptr, 1);
    location.SetTypeKey(L"txtfile");

    const std::wstring longest = L"C:\\" + std::wstring(252, L'd') + L".txt"; // 259 characters
    ASSERT_EQ(259u, longest.size());
    const std::wstring tooLong = L"C:\\" + std::wstring(253, L'd') + L".txt";
    const std::wstring muchTooLong = L"C:\\" + std::wstring(2000, L'd') + L".txt";

    EXPECT_EQ(ERROR_FILENAME_EXCED_RANGE, WriteFileIcon(location, tooLong.c_str()));
    EXPECT_EQ(ERROR_FILENAME_EXCED_RANGE, WriteFileIcon(location, muchTooLong.c_str()));
    EXPECT_FALSE(test::KeyExists(HKEY_LOCAL_MACHINE, FileIconsKey)) << "a refused write creates nothing";

    ASSERT_EQ(ERROR_SUCCESS, WriteFileIcon(location, longest.c_str()));
    const auto read = ReadFileIcon(longest.c_str());
    ASSERT_TRUE(read.has_value());
    EXPECT_STREQ(L".txt", read->TargetName);
    // The 259-character prefix of the refused path names the entry just written; the
    // refused path itself must never be taken for it.
    EXPECT_FALSE(ReadFileIcon(tooLong.c_str()).has_value());
    EXPECT_FALSE(ReadFileIcon(muchTooLong.c_str()).has_value());
}

TEST_F(ProductKeyTest, AnEntryTooLongForItsTextIsRefusedAndTheOldOneKept)
{
    IconLocation old(L"C:\\icons\\a.ico", nullptr, 1);
    old.SetTypeKey(L"txtfile");
    ASSERT_EQ(ERROR_SUCCESS, WriteFileIcon(old, L"C:\\a.txt"));

    IconLocation huge((L"C:\\" + std::wstring(200, L'i') + L".ico").c_str(), nullptr, -99);
    huge.SetTypeKey(std::wstring(60, L'c').c_str());
    EXPECT_EQ(ERROR_FILENAME_EXCED_RANGE, WriteFileIcon(huge, L"C:\\a.txt"));
    EXPECT_EQ(L"C:\\icons\\a.ico,1,txtfile", ValueText(HKEY_LOCAL_MACHINE, FileIconsKey, L"C:\\a.txt"));

    IconLocation noClass(L"C:\\icons\\a.ico", nullptr, 1);
    EXPECT_EQ(ERROR_INVALID_PARAMETER, WriteFileIcon(noClass, L"C:\\b.txt")) << "an entry must name its class";
    EXPECT_EQ(ERROR_INVALID_PARAMETER, WriteFileIcon(old, L""));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, WriteFileIcon(old, nullptr));
}

TEST_F(ProductKeyTest, ReadFileIconOfAnExtensionTooLongForAKeyNameLeavesTheOwnerEmpty)
{
    const std::wstring path = L"C:." + std::wstring(256, L'e'); // extension of 257 characters
    PutEntry(path, L"a.dll,1,k");
    const auto location = ReadFileIcon(path.c_str());
    ASSERT_TRUE(location.has_value());
    EXPECT_STREQ(L"", location->TargetName);

    const std::wstring fits = L"C:\\x." + std::wstring(254, L'e'); // 255 characters with the dot
    PutEntry(fits, L"a.dll,1,k");
    const auto fitting = ReadFileIcon(fits.c_str());
    ASSERT_TRUE(fitting.has_value());
    EXPECT_EQ(255u, std::wcslen(fitting->TargetName));
}

TEST_F(ProductKeyTest, HostileTableDataReadsAsNoneOrAsBoundedText)
{
    const std::wstring oversized = L"C:\\i.ico,1," + std::wstring(600, L'k');
    PutEntry(L"C:\\over.txt", oversized);
    EXPECT_FALSE(ReadFileIcon(L"C:\\over.txt").has_value()) << "data over 520 bytes";

    const std::wstring unterminated(260, L'u'); // 520 bytes
    ASSERT_TRUE(test::WriteValue(HKEY_LOCAL_MACHINE, FileIconsKey, L"C:\\unterminated.txt", REG_SZ, unterminated.data(),
                                 static_cast<DWORD>(unterminated.size() * sizeof(wchar_t))));
    EXPECT_FALSE(ReadFileIcon(L"C:\\unterminated.txt").has_value()) << "520 bytes without a terminator";

    const wchar_t shortUnterminated[] = {L'a', L'.', L'd', L'l', L'l', L',', L'5', L',', L'k'};
    ASSERT_TRUE(test::WriteValue(HKEY_LOCAL_MACHINE, FileIconsKey, L"C:\\short.txt", REG_SZ, shortUnterminated,
                                 sizeof shortUnterminated));
    const auto shortRead = ReadFileIcon(L"C:\\short.txt");
    ASSERT_TRUE(shortRead.has_value());
    EXPECT_STREQ(L"a.dll", shortRead->IconPath);
    EXPECT_EQ(5, shortRead->Index);
    EXPECT_STREQ(L"k", shortRead->TypeKey);

    // Values that are not strings are no entries: their bytes read as text would be an
    // icon path nobody chose.
    ASSERT_TRUE(test::WriteValue(HKEY_LOCAL_MACHINE, FileIconsKey, L"C:\\binary.txt", REG_BINARY, shortUnterminated,
                                 sizeof shortUnterminated));
    EXPECT_FALSE(ReadFileIcon(L"C:\\binary.txt").has_value());
    const DWORD number = 0x00310041; // the UTF-16 units "A1", no terminator
    ASSERT_TRUE(
        test::WriteValue(HKEY_LOCAL_MACHINE, FileIconsKey, L"C:\\dword.txt", REG_DWORD, &number, sizeof number));
    EXPECT_FALSE(ReadFileIcon(L"C:\\dword.txt").has_value());

    // An index beyond 32 bits would otherwise wrap to another icon.
    PutEntry(L"C:\\huge.txt", L"C:\\i.ico,99999999999999999,txtfile");
    EXPECT_FALSE(ReadFileIcon(L"C:\\huge.txt").has_value());

    // A path component over 259 characters, which no record holds (nor, in UTF-16, the
    // 520-byte read).
    PutEntry(L"C:\\longpath.txt", std::wstring(300, L'p') + L",1,txtfile");
    EXPECT_FALSE(ReadFileIcon(L"C:\\longpath.txt").has_value());
}

TEST_F(ProductKeyTest, DeleteFileIconRemovesOnlyThatEntryAndMissingIsSuccess)
{
    PutEntry(L"C:\\a.txt", L"a.dll,1,txtfile");
    PutEntry(L"C:\\b.txt", L"a.dll,2,txtfile");

    EXPECT_EQ(ERROR_SUCCESS, DeleteFileIcon(L"c:\\A.TXT"));
    EXPECT_FALSE(ReadFileIcon(L"C:\\a.txt").has_value());
    EXPECT_TRUE(ReadFileIcon(L"C:\\b.txt").has_value());

    EXPECT_EQ(ERROR_SUCCESS, DeleteFileIcon(L"C:\\a.txt")) << "already gone";
    test::DeleteKeyTree(HKEY_LOCAL_MACHINE, FileIconsKey);
    EXPECT_EQ(ERROR_SUCCESS, DeleteFileIcon(L"C:\\b.txt")) << "no table at all";
    EXPECT_FALSE(test::KeyExists(HKEY_LOCAL_MACHINE, FileIconsKey)) << "deleting creates nothing";
}

// A 32-bit process sees HKEY_LOCAL_MACHINE\Software redirected; the table must live in
// the view of the process that wrote it, so that its own icon handler finds it.
TEST_F(ProductKeyTest, TheTableLivesInTheProcesssOwnRegistryView)
{
#ifdef _WIN64
    const REGSAM ownView = KEY_WOW64_64KEY;
#else
    const REGSAM ownView = KEY_WOW64_32KEY;
#endif
    IconLocation location(L"C:\\i.ico", nullptr, 1);
    location.SetTypeKey(L"txtfile");
    ASSERT_EQ(ERROR_SUCCESS, WriteFileIcon(location, L"C:\\view.txt"));

    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, FileIconsKey, 0, KEY_QUERY_VALUE | ownView, &key));
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, L"C:\\view.txt", nullptr, nullptr, nullptr, nullptr));
    RegCloseKey(key);
}

// ---------------------------------------------------------------- counting by class

struct CountCase {
    const wchar_t* TypeKey;
    int Count;
};

TEST_F(ProductKeyTest, CountFileIconsOfTypeCountsTheEntriesOfTheClass)
{
    // The first three are the classic case: the count goes by each entry's class, so
    // b.TXT keeps txtfile's handler and notes.txt.old (another class) does not.
    PutEntry(L"C:\\a.txt", L"C:\\i.ico,1,txtfile");
    PutEntry(L"C:\\b.TXT", L"C:\\i.ico,2,txtfile");
    PutEntry(L"C:\\notes.txt.old", L"C:\\i.ico,3,oldfile");
    PutEntry(L"C:\\readme.log", L"C:\\i.ico,4,TXTFILE");
    PutEntry(L"C:\\c.txt", L"C:\\i.ico,5,txtfile.bak");
    PutEntry(L"C:\\d.txt", L"C:\\i.ico,6");
    PutEntry(L"C:\\e.txt", L"C:\\i.ico,,txtfile");

    const CountCase cases[] = {
        {L"txtfile", 3}, {L"TxtFile", 3}, {L"oldfile", 1}, {L"txtfile.bak", 1},
        {L".txt", 0},    {L"txt", 0},     {L"file", 0},    {L"", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.TypeKey);
        EXPECT_EQ(c.Count, CountFileIconsOfType(c.TypeKey));
    }
    EXPECT_EQ(0, CountFileIconsOfType(nullptr));

    test::DeleteKeyTree(HKEY_LOCAL_MACHINE, FileIconsKey);
    EXPECT_EQ(0, CountFileIconsOfType(L"txtfile")) << "no table";
}

TEST_F(ProductKeyTest, CountFileIconsOfTypeWalksPastLongNamesAndHostileData)
{
    // Written first and named to sort first, so that the registry lists them before the
    // ordinary entries whether it lists values in order of writing or of name.
    PutEntry(L"C:\\0" + std::wstring(300, L'n') + L".txt", L"C:\\i.ico,1,txtfile");
    PutEntry(L"C:\\0" + std::wstring(16000, L'm') + L".txt", L"C:\\i.ico,1,txtfile");
    PutEntry(L"C:\\1over.txt", L"C:\\i.ico,1,txtfile" + std::wstring(600, L' '));
    const std::wstring unterminated = L"C:\\i.ico,1,txtfile" + std::wstring(260 - 18, L'x'); // 520 bytes
    ASSERT_TRUE(test::WriteValue(HKEY_LOCAL_MACHINE, FileIconsKey, L"C:\\1unterminated.txt", REG_SZ,
                                 unterminated.data(), static_cast<DWORD>(unterminated.size() * sizeof(wchar_t))));
    const DWORD number = 7;
    ASSERT_TRUE(
        test::WriteValue(HKEY_LOCAL_MACHINE, FileIconsKey, L"C:\\1dword.txt", REG_DWORD, &number, sizeof number));
    const wchar_t unterminatedShort[] = {L'C', L':', L'\\', L'i', L'.', L'i', L'c', L'o', L',',
                                         L'1', L',', L't', L'x', L't', L'f', L'i', L'l', L'e'};
    ASSERT_TRUE(test::WriteValue(HKEY_LOCAL_MACHINE, FileIconsKey, L"C:\\1binary.txt", REG_BINARY, unterminatedShort,
                                 sizeof unterminatedShort));
    PutEntry(L"C:\\1longclass.txt", L"C:\\i.ico,1," + std::wstring(300, L'c'));
    PutEntry(L"C:\\a.txt", L"C:\\i.ico,1,txtfile");
    PutEntry(L"C:\\b.txt", L"C:\\i.ico,1,txtfile");

    // The two long names and a.txt, b.txt; the oversized, the 520-byte unterminated, the
    // number, the binary data and the over-long class are no entries.
    EXPECT_EQ(4, CountFileIconsOfType(L"txtfile"));
}

TEST_F(ProductKeyTest, TableWritesReportAccessDenied)
{
    IconLocation location(L"C:\\i.ico", nullptr, 1);
    location.SetTypeKey(L"txtfile");
    ASSERT_EQ(ERROR_SUCCESS, WriteFileIcon(location, L"C:\\a.txt"));
    ReadOnlyKey readOnly(HKEY_LOCAL_MACHINE, FileIconsKey);
    ASSERT_TRUE(readOnly.Applied());

    EXPECT_EQ(ERROR_ACCESS_DENIED, WriteFileIcon(location, L"C:\\b.txt"));
    EXPECT_EQ(ERROR_ACCESS_DENIED, DeleteFileIcon(L"C:\\a.txt"));
    EXPECT_TRUE(ReadFileIcon(L"C:\\a.txt").has_value()) << "reading needs no write access";
    EXPECT_EQ(1, CountFileIconsOfType(L"txtfile")) << "counting needs no write access";
}

} // namespace
