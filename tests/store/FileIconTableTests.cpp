#include <windows.h>
#include <sddl.h>
#include <shellapi.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cwchar>
#include <iterator>
#include <string>
#include <vector>

#include "FileIconTable.h"
#include "FileTypeIcons.h"
#include "IconLocation.h"
#include "OwnIdentity.h"
#include "Registry.h"
#include "ScratchRegistry.h"
#include "TestSupport.h"

using namespace orvane;
using test::LocationText;
using test::ProductRoot;
using test::OtherClsid;
using test::OwnClsid;
using test::ReadOnlyKey;
using test::ScratchType;
using test::ShellIconLocation;
using test::ValueText;

namespace {

// A value's data exactly as stored, as UTF-16 units with the terminator included, to
// check what was stored exactly; data of an odd number of bytes is no such text.
std::wstring RawValue(HKEY root, const std::wstring& path, const wchar_t* name = nullptr)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return L"(none)";
    std::vector<wchar_t> data(4096);
    DWORD size = static_cast<DWORD>(data.size() * sizeof(wchar_t));
    const LONG status = RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(data.data()), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS)
        return L"(none)";
    if (size % sizeof(wchar_t) != 0)
        return L"(odd size)";
    return std::wstring(data.data(), size / sizeof(wchar_t));
}

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

// ---------------------------------------------------------------- handler texts

TEST(IconHandlerText, IsOwnIconHandlerOnlyForTheExactClassIdentifier)
{
    ScratchType type;
    const IconLocation location = LocationOf(type);
    EXPECT_FALSE(IsOwnIconHandler(location)) << "no shellex\\IconHandler";

    test::WriteString(HKEY_CLASSES_ROOT, type.Key(L"shellex\\IconHandler"), L"other", L"x");
    EXPECT_FALSE(IsOwnIconHandler(location)) << "key without a default value";

    struct Case {
        std::wstring Text;
        bool Own;
    };
    const Case cases[] = {
        {OwnClsid, true},
        {test::OwnClsidInLowerCase.Text, false},
        {std::wstring(OwnClsid) + L" ", false},
        {std::wstring(L" ") + OwnClsid, false},
        {std::wstring(OwnClsid).substr(0, 37), false},
        {OtherClsid, false},
        {L"", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Text);
        type.SetHandler(c.Text);
        EXPECT_EQ(c.Own, IsOwnIconHandler(location));
    }

    const std::wstring oversized = std::wstring(OwnClsid) + std::wstring(400, L' ');
    type.SetHandler(oversized);
    EXPECT_FALSE(IsOwnIconHandler(location));

    IconLocation noClass;
    EXPECT_FALSE(IsOwnIconHandler(noClass));
}

TEST(IconHandlerText, ReadersLeaveTheBufferUntouchedWhenThereIsNothing)
{
    ScratchType type;
    wchar_t buffer[TextCapacity] = L"untouched";
    EXPECT_FALSE(ReadIconHandlerText(type.Class.c_str(), HandlerSlot::Current, buffer));
    EXPECT_FALSE(ReadExtensionIconHandlerText(type.Extension.c_str(), HandlerSlot::Backup, buffer));
    EXPECT_FALSE(ReadExtensionIconHandlerText(test::UniqueName(L".").c_str(), HandlerSlot::Current, buffer));
    EXPECT_FALSE(ReadIconHandlerText(L"", HandlerSlot::Current, buffer));
    EXPECT_FALSE(ReadIconHandlerText(nullptr, HandlerSlot::Current, buffer));
    EXPECT_FALSE(ReadIconHandlerText(std::wstring(600, L'c').c_str(), HandlerSlot::Current, buffer));

    type.SetHandler(std::wstring(260, L'h')); // 261 units with its terminator, 522 bytes
    EXPECT_FALSE(ReadIconHandlerText(type.Class.c_str(), HandlerSlot::Current, buffer));
    EXPECT_STREQ(L"untouched", buffer);

    type.SetHandler(OtherClsid);
    test::WriteString(HKEY_CLASSES_ROOT, type.Key(L"shellex\\IconHandlerBAK"), nullptr, OwnClsid);
    EXPECT_TRUE(ReadExtensionIconHandlerText(type.Extension.c_str(), HandlerSlot::Current, buffer));
    EXPECT_STREQ(OtherClsid, buffer);
    EXPECT_TRUE(ReadIconHandlerText(type.Class.c_str(), HandlerSlot::Backup, buffer));
    EXPECT_STREQ(OwnClsid, buffer);
}

TEST(IconHandlerText, HasIconHandlerNeedsAHandlerTextOfTwoCharacters)
{
    ScratchType unregistered(false);
    EXPECT_FALSE(HasIconHandler(unregistered.Extension.c_str())) << "no extension key";
    test::WriteString(HKEY_CLASSES_ROOT, unregistered.Extension, L"other", L"x");
    EXPECT_FALSE(HasIconHandler(unregistered.Extension.c_str())) << "extension without a class";

    ScratchType type;
    EXPECT_FALSE(HasIconHandler(type.Extension.c_str())) << "class without shellex\\IconHandler";
    type.SetHandler(L"x");
    EXPECT_FALSE(HasIconHandler(type.Extension.c_str())) << "one character";
    type.SetHandler(L"xy");
    EXPECT_TRUE(HasIconHandler(type.Extension.c_str()));
    type.SetHandler(OtherClsid);
    EXPECT_TRUE(HasIconHandler(type.Extension.c_str())) << "another program's handler counts too";
    EXPECT_FALSE(HasIconHandler(L""));
    EXPECT_FALSE(HasIconHandler(nullptr));
}

// ---------------------------------------------------------------- installation

TEST(IconHandlerInstall, InstallBacksUpTheIconAndNamesThisExtension)
{
    ScratchType type;
    type.SetDefaultIcon(L"shell32.dll,1");

    ASSERT_EQ(ERROR_SUCCESS, InstallIconHandler(LocationOf(type)));

    EXPECT_EQ(L"shell32.dll,1", ValueText(HKEY_CLASSES_ROOT, type.Key(L"DefaultIconBAK")));
    EXPECT_EQ(std::wstring(L"%1", 3), RawValue(HKEY_CLASSES_ROOT, type.Key(L"DefaultIcon")));
    EXPECT_EQ(std::wstring(OwnClsid, 39), RawValue(HKEY_CLASSES_ROOT, type.Key(L"shellex\\IconHandler")));
    EXPECT_FALSE(test::KeyExists(HKEY_CLASSES_ROOT, type.Key(L"shellex\\IconHandlerBAK")));
    EXPECT_TRUE(IsOwnIconHandler(LocationOf(type)));
    EXPECT_TRUE(HasIconHandler(type.Extension.c_str()));
}

TEST(IconHandlerInstall, TheShellSeesEachFileAsItsOwnIconWhileInstalled)
{
    ScratchType type;
    type.SetDefaultIcon(L"shell32.dll,1");
    test::TempDir dir;
    const std::wstring file = dir.MakeFile(L"sample" + type.Extension);
    ASSERT_EQ(L"shell32.dll,1", ShellIconLocation(file));

    ASSERT_EQ(ERROR_SUCCESS, InstallIconHandler(LocationOf(type)));
    EXPECT_EQ(file + L",0", ShellIconLocation(file)) << "\"%1\": the shell takes the icon per file";

    ASSERT_EQ(ERROR_SUCCESS, UninstallIconHandler(LocationOf(type)));
    EXPECT_EQ(L"shell32.dll,1", ShellIconLocation(file));
}

// Starting states of a class; installing and uninstalling must leave each exactly as it was.
struct ClassState {
    const char* Name;
    void (*Prepare)(const ScratchType&);
};

const ClassState ClassStates[] = {
    {"DefaultIcon shell32.dll,1", [](const ScratchType& t) { t.SetDefaultIcon(L"shell32.dll,1"); }},
    {"expandable DefaultIcon",
     [](const ScratchType& t) { t.SetDefaultIcon(L"%SystemRoot%\\system32\\shell32.dll,-3", REG_EXPAND_SZ); }},
    {"DefaultIcon %1", [](const ScratchType& t) { t.SetDefaultIcon(L"%1"); }},
    {"DefaultIcon of 259 characters", [](const ScratchType& t) { t.SetDefaultIcon(std::wstring(257, L'p') + L",1"); }},
    {"no DefaultIcon key", [](const ScratchType&) {}},
    // A "HandlerIconInfo" from an earlier installation is dropped when the next one begins
    // (HandlerIconLeftover tests), so it is no state that comes back whole.
    {"DefaultIcon with only the type's backup",
     [](const ScratchType& t) {
         test::WriteString(HKEY_CLASSES_ROOT, t.Key(L"DefaultIcon"), BackupIconValue, L"C:\\old.ico,4294967197");
     }},
    {"another handler",
     [](const ScratchType& t) {
         t.SetDefaultIcon(L"shell32.dll,1");
         t.SetHandler(OtherClsid);
     }},
    {"own identifier in lower case",
     [](const ScratchType& t) {
         t.SetDefaultIcon(L"shell32.dll,1");
         t.SetHandler(test::OwnClsidInLowerCase.Text);
     }},
    {"shellex with other handlers",
     [](const ScratchType& t) {
         t.SetDefaultIcon(L"shell32.dll,1");
         test::WriteString(HKEY_CLASSES_ROOT, t.Key(L"shellex\\ContextMenuHandlers\\Other"), nullptr, OtherClsid);
     }},
    {"empty shellex\\IconHandler key with a named value",
     [](const ScratchType& t) {
         t.SetDefaultIcon(L"shell32.dll,1");
         test::WriteString(HKEY_CLASSES_ROOT, t.Key(L"shellex\\IconHandler"), L"note", L"kept");
     }},
};

TEST(IconHandlerInstall, InstallThenUninstallLeavesTheClassExactlyAsItWas)
{
    for (const auto& state : ClassStates) {
        SCOPED_TRACE(state.Name);
        ScratchType type;
        state.Prepare(type);
        const std::wstring before = type.Dump();

        ASSERT_EQ(ERROR_SUCCESS, InstallIconHandler(LocationOf(type)));
        EXPECT_EQ(L"%1", ValueText(HKEY_CLASSES_ROOT, type.Key(L"DefaultIcon")));
        EXPECT_TRUE(IsOwnIconHandler(LocationOf(type)));

        ASSERT_EQ(ERROR_SUCCESS, UninstallIconHandler(LocationOf(type)));
        EXPECT_EQ(before, type.Dump());
        EXPECT_FALSE(IsOwnIconHandler(LocationOf(type)));
    }
}

TEST(IconHandlerInstall, InstallingTwiceKeepsTheFirstBackups)
{
    for (const bool otherHandler : {false, true}) {
        SCOPED_TRACE(otherHandler ? "with another handler before" : "without a handler before");
        ScratchType type;
        type.SetDefaultIcon(L"shell32.dll,1");
        if (otherHandler)
            type.SetHandler(OtherClsid);
        const std::wstring before = type.Dump();

        ASSERT_EQ(ERROR_SUCCESS, InstallIconHandler(LocationOf(type)));
        const std::wstring installed = type.Dump();
        ASSERT_EQ(ERROR_SUCCESS, InstallIconHandler(LocationOf(type)));
        EXPECT_EQ(installed, type.Dump()) << "the second installation changes nothing";
        EXPECT_EQ(L"shell32.dll,1", ValueText(HKEY_CLASSES_ROOT, type.Key(L"DefaultIconBAK")));

        ASSERT_EQ(ERROR_SUCCESS, UninstallIconHandler(LocationOf(type)));
        EXPECT_EQ(before, type.Dump());
    }
}

TEST(IconHandlerInstall, InstallOverAnotherHandlerBacksItUpAndUninstallPutsItBack)
{
    ScratchType type;
    type.SetDefaultIcon(L"shell32.dll,1");
    type.SetHandler(OtherClsid);

    ASSERT_EQ(ERROR_SUCCESS, InstallIconHandler(LocationOf(type)));
    EXPECT_EQ(OtherClsid, ValueText(HKEY_CLASSES_ROOT, type.Key(L"shellex\\IconHandlerBAK")));
    EXPECT_EQ(OwnClsid, ValueText(HKEY_CLASSES_ROOT, type.Key(L"shellex\\IconHandler")));
    EXPECT_TRUE(HasIconHandler(type.Extension.c_str()));

    ASSERT_EQ(ERROR_SUCCESS, UninstallIconHandler(LocationOf(type)));
    EXPECT_EQ(OtherClsid, ValueText(HKEY_CLASSES_ROOT, type.Key(L"shellex\\IconHandler")));
    EXPECT_FALSE(test::KeyExists(HKEY_CLASSES_ROOT, type.Key(L"shellex\\IconHandlerBAK")));
    EXPECT_EQ(L"shell32.dll,1", ValueText(HKEY_CLASSES_ROOT, type.Key(L"DefaultIcon")));
    EXPECT_FALSE(test::KeyExists(HKEY_CLASSES_ROOT, type.Key(L"DefaultIconBAK")));
}

// Another program takes over shellex\IconHandler while DefaultIcon stays "%1"; installing
// again (as a new per-file icon does, since the handler is no longer this extension)
// must not take that "%1" for the class's icon.
TEST(IconHandlerInstall, ReinstallAfterAnotherProgramTookTheHandlerKeepsTheIconBackup)
{
    ScratchType type;
    type.SetDefaultIcon(L"shell32.dll,1");
    ASSERT_EQ(ERROR_SUCCESS, InstallIconHandler(LocationOf(type)));
    type.SetHandler(OtherClsid);
    ASSERT_FALSE(IsOwnIconHandler(LocationOf(type)));

    ASSERT_EQ(ERROR_SUCCESS, InstallIconHandler(LocationOf(type)));
    EXPECT_EQ(L"shell32.dll,1", ValueText(HKEY_CLASSES_ROOT, type.Key(L"DefaultIconBAK")));
    EXPECT_EQ(OtherClsid, ValueText(HKEY_CLASSES_ROOT, type.Key(L"shellex\\IconHandlerBAK")));

    ASSERT_EQ(ERROR_SUCCESS, UninstallIconHandler(LocationOf(type)));
    EXPECT_EQ(L"shell32.dll,1", ValueText(HKEY_CLASSES_ROOT, type.Key(L"DefaultIcon")));
    EXPECT_EQ(OtherClsid, ValueText(HKEY_CLASSES_ROOT, type.Key(L"shellex\\IconHandler")));
    EXPECT_FALSE(test::KeyExists(HKEY_CLASSES_ROOT, type.Key(L"DefaultIconBAK")));
    EXPECT_FALSE(test::KeyExists(HKEY_CLASSES_ROOT, type.Key(L"shellex\\IconHandlerBAK")));
}

TEST(IconHandlerInstall, UninstallTakesOutOnlyThisExtensionsOwnHandler)
{
    ScratchType type;
    type.SetDefaultIcon(L"shell32.dll,1");
    ASSERT_EQ(ERROR_SUCCESS, InstallIconHandler(LocationOf(type)));
    ASSERT_EQ(ERROR_SUCCESS, UninstallIconHandler(LocationOf(type)));
    EXPECT_FALSE(test::KeyExists(HKEY_CLASSES_ROOT, type.Key(L"shellex"))) << "the class had no handler before";
    EXPECT_FALSE(IsOwnIconHandler(LocationOf(type)));
    EXPECT_FALSE(HasIconHandler(type.Extension.c_str()));

    // Installed without a handler before, then another program took the handler key.
    ASSERT_EQ(ERROR_SUCCESS, InstallIconHandler(LocationOf(type)));
    type.SetHandler(OtherClsid);
    ASSERT_EQ(ERROR_SUCCESS, UninstallIconHandler(LocationOf(type)));
    EXPECT_EQ(OtherClsid, ValueText(HKEY_CLASSES_ROOT, type.Key(L"shellex\\IconHandler")));

    for (const wchar_t* text : {test::OwnClsidInLowerCase.Text, L"{7DFE5A1E-6382-4105-8133-F1D53ACA35A0} "}) {
        SCOPED_TRACE(text);
        type.SetHandler(text);
        ASSERT_EQ(ERROR_SUCCESS, UninstallIconHandler(LocationOf(type)));
        EXPECT_EQ(text, ValueText(HKEY_CLASSES_ROOT, type.Key(L"shellex\\IconHandler")));
    }
}

TEST(IconHandlerInstall, AClassWithoutDefaultIconGetsOneSoThatTheHandlerTakesEffect)
{
    ScratchType type;
    test::TempDir dir;
    const std::wstring file = dir.MakeFile(L"sample" + type.Extension);
    const std::wstring generic = ShellIconLocation(file);
    const std::wstring before = type.Dump();

    ASSERT_EQ(ERROR_SUCCESS, InstallIconHandler(LocationOf(type)));
    EXPECT_EQ(L"%1", ValueText(HKEY_CLASSES_ROOT, type.Key(L"DefaultIcon")));
    EXPECT_EQ(L"", ValueText(HKEY_CLASSES_ROOT, type.Key(L"DefaultIconBAK")));
    EXPECT_EQ(file + L",0", ShellIconLocation(file));

    ASSERT_EQ(ERROR_SUCCESS, UninstallIconHandler(LocationOf(type)));
    EXPECT_FALSE(test::KeyExists(HKEY_CLASSES_ROOT, type.Key(L"DefaultIcon")));
    EXPECT_EQ(before, type.Dump());
    EXPECT_EQ(generic, ShellIconLocation(file));
}

TEST(IconHandlerInstall, InstallRegistersAMissingClassAndUninstallLeavesTheRegistration)
{
    ScratchType type(false);
    ASSERT_EQ(ERROR_SUCCESS, InstallIconHandler(LocationOf(type)));

    EXPECT_EQ(type.Class, ValueText(HKEY_CLASSES_ROOT, type.Extension)) << "the extension points at the new class";
    EXPECT_EQ(L"%1", ValueText(HKEY_CLASSES_ROOT, type.Key(L"DefaultIcon")));
    EXPECT_EQ(L"", ValueText(HKEY_CLASSES_ROOT, type.Key(L"DefaultIconBAK")));
    EXPECT_TRUE(IsOwnIconHandler(LocationOf(type)));
    EXPECT_TRUE(HasIconHandler(type.Extension.c_str()));

    ASSERT_EQ(ERROR_SUCCESS, UninstallIconHandler(LocationOf(type)));
    EXPECT_TRUE(test::KeyExists(HKEY_CLASSES_ROOT, type.Class));
    EXPECT_EQ(type.Class, ValueText(HKEY_CLASSES_ROOT, type.Extension));
    EXPECT_EQ(L"", type.Dump()) << "a class key with nothing in it";
}

// An empty DefaultIcon text and a missing one both mean "no icon" to the shell; the
// empty backup stands for both, and uninstalling takes the default value away.
TEST(IconHandlerInstall, AnEmptyDefaultIconTextComesBackAsNoValue)
{
    ScratchType type;
    type.SetDefaultIcon(L"");
    test::WriteString(HKEY_CLASSES_ROOT, type.Key(L"DefaultIcon"), BackupIconValue, L"a.dll,1");

    ASSERT_EQ(ERROR_SUCCESS, InstallIconHandler(LocationOf(type)));
    ASSERT_EQ(ERROR_SUCCESS, UninstallIconHandler(LocationOf(type)));
    EXPECT_EQ(L"<none>", ValueText(HKEY_CLASSES_ROOT, type.Key(L"DefaultIcon")));
    EXPECT_EQ(L"a.dll,1", ValueText(HKEY_CLASSES_ROOT, type.Key(L"DefaultIcon"), BackupIconValue));
}

TEST(IconHandlerInstall, ATextThatCannotBeBackedUpWholeStopsTheInstallationUntouched)
{
    for (const bool inHandler : {false, true}) {
        SCOPED_TRACE(inHandler ? "handler text" : "DefaultIcon text");
        ScratchType type;
        type.SetDefaultIcon(inHandler ? L"shell32.dll,1" : std::wstring(300, L'p') + L",1");
        if (inHandler)
            type.SetHandler(std::wstring(300, L'h'));
        const std::wstring before = type.Dump();

        EXPECT_NE(ERROR_SUCCESS, InstallIconHandler(LocationOf(type)));
        EXPECT_EQ(before, type.Dump());
    }
}

TEST(IconHandlerInstall, ARecordWithoutAClassNamesNothing)
{
    IconLocation location;
    location.SetTargetName(L".txt");
    EXPECT_EQ(ERROR_INVALID_PARAMETER, InstallIconHandler(location));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, UninstallIconHandler(location));
}

// Opens a class first and its subkey below it, as the store does: a long class name and
// its subkey make a path of more than 260 characters.
std::wstring SubkeyValue(const std::wstring& className, const wchar_t* subkey)
{
    HKEY classKey = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, className.c_str(), 0, KEY_READ, &classKey) != ERROR_SUCCESS)
        return L"(none)";
    HKEY key = nullptr;
    wchar_t data[TextCapacity] = {};
    LONG status = RegOpenKeyExW(classKey, subkey, 0, KEY_READ, &key);
    if (status == ERROR_SUCCESS) {
        DWORD size = static_cast<DWORD>((std::size(data) - 1) * sizeof(wchar_t));
        status = RegQueryValueExW(key, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size);
        RegCloseKey(key);
    }
    RegCloseKey(classKey);
    return status == ERROR_SUCCESS ? data : L"(none)";
}

void SetSubkeyValue(const std::wstring& className, const wchar_t* subkey, const wchar_t* text)
{
    HKEY classKey = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CLASSES_ROOT, className.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                             nullptr, &classKey, nullptr));
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(classKey, subkey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
    RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                   static_cast<DWORD>((std::wcslen(text) + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    RegCloseKey(classKey);
}

TEST(IconHandlerInstall, LongClassNamesWork)
{
    // 255 characters is the longest key name; with its subkeys it makes paths of more
    // than 260 characters.
    ScratchType type;
    const std::wstring longClass = type.Class + std::wstring(255 - type.Class.size(), L'L');
    test::KeyGuard guard(HKEY_CLASSES_ROOT, longClass);
    IconLocation location;
    ASSERT_TRUE(location.SetTypeKey(longClass.c_str()));
    location.SetTargetName(type.Extension.c_str());
    SetSubkeyValue(longClass, L"DefaultIcon", L"shell32.dll,1");
    SetSubkeyValue(longClass, L"shellex\\IconHandler", OtherClsid);
    const std::wstring before = test::DumpKey(HKEY_CLASSES_ROOT, longClass);

    ASSERT_EQ(ERROR_SUCCESS, InstallIconHandler(location));
    EXPECT_EQ(L"%1", SubkeyValue(longClass, L"DefaultIcon"));
    EXPECT_EQ(L"shell32.dll,1", SubkeyValue(longClass, L"DefaultIconBAK"));
    EXPECT_TRUE(IsOwnIconHandler(location));
    wchar_t backup[TextCapacity] = {};
    EXPECT_TRUE(ReadIconHandlerText(longClass.c_str(), HandlerSlot::Backup, backup));
    EXPECT_STREQ(OtherClsid, backup);

    ASSERT_EQ(ERROR_SUCCESS, UninstallIconHandler(location));
    EXPECT_EQ(before, test::DumpKey(HKEY_CLASSES_ROOT, longClass));

    IconLocation tooLong;
    ASSERT_TRUE(tooLong.SetTypeKey((longClass + L"XXXX").c_str()));
    EXPECT_EQ(ERROR_FILENAME_EXCED_RANGE, InstallIconHandler(tooLong)) << "no key name has 259 characters";
    EXPECT_EQ(ERROR_SUCCESS, UninstallIconHandler(tooLong)) << "nothing of this extension's can be there";
    EXPECT_FALSE(IsOwnIconHandler(tooLong));
}

// ---------------------------------------------------------------- uninstallation

TEST(IconHandlerUninstall, AClassWithoutBackupsOrOwnHandlerIsLeftAlone)
{
    ScratchType type;
    type.SetDefaultIcon(L"%1");
    type.SetHandler(OtherClsid);
    const std::wstring before = type.Dump();
    EXPECT_EQ(ERROR_SUCCESS, UninstallIconHandler(LocationOf(type)));
    EXPECT_EQ(before, type.Dump());

    ScratchType missing(false);
    EXPECT_EQ(ERROR_SUCCESS, UninstallIconHandler(LocationOf(missing))) << "no class key";
    EXPECT_FALSE(test::KeyExists(HKEY_CLASSES_ROOT, missing.Class));
}

TEST(IconHandlerUninstall, AnUnreadableIconBackupIsDeletedAndReported)
{
    struct Case {
        const char* Name;
        void (*Prepare)(const ScratchType&);
    };
    const Case cases[] = {
        {"oversized", [](const ScratchType& t) {
             test::WriteString(HKEY_CLASSES_ROOT, t.Key(L"DefaultIconBAK"), nullptr, std::wstring(400, L'b'));
         }},
        {"no default value", [](const ScratchType& t) {
             test::WriteString(HKEY_CLASSES_ROOT, t.Key(L"DefaultIconBAK"), L"other", L"x");
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        ScratchType type;
        type.SetDefaultIcon(L"%1");
        c.Prepare(type);

        EXPECT_EQ(ERROR_INVALID_DATA, UninstallIconHandler(LocationOf(type)));
        EXPECT_EQ(L"%1", ValueText(HKEY_CLASSES_ROOT, type.Key(L"DefaultIcon"))) << "nothing to restore from";
        EXPECT_FALSE(test::KeyExists(HKEY_CLASSES_ROOT, type.Key(L"DefaultIconBAK")));
        EXPECT_EQ(ERROR_SUCCESS, UninstallIconHandler(LocationOf(type)));
    }
}

TEST(IconHandlerUninstall, BackupsOfOtherTypesAreRestoredAsText)
{
    ScratchType type;
    type.SetDefaultIcon(L"%1");
    const wchar_t text[] = {L'a', L'.', L'd', L'l', L'l', L',', L'2'}; // unterminated
    test::WriteValue(HKEY_CLASSES_ROOT, type.Key(L"DefaultIconBAK"), nullptr, REG_BINARY, text, sizeof text);

    EXPECT_EQ(ERROR_SUCCESS, UninstallIconHandler(LocationOf(type)));
    DWORD valueType = 0;
    EXPECT_EQ(L"a.dll,2", ValueText(HKEY_CLASSES_ROOT, type.Key(L"DefaultIcon"), nullptr, &valueType));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), valueType);
}

TEST(IconHandlerUninstall, AnUnreadableHandlerBackupIsDeletedAndOwnHandlerTakenOut)
{
    ScratchType type;
    type.SetDefaultIcon(L"shell32.dll,1");
    ASSERT_EQ(ERROR_SUCCESS, InstallIconHandler(LocationOf(type)));
    test::WriteString(HKEY_CLASSES_ROOT, type.Key(L"shellex\\IconHandlerBAK"), nullptr, std::wstring(300, L'h'));

    EXPECT_EQ(ERROR_INVALID_DATA, UninstallIconHandler(LocationOf(type)));
    EXPECT_EQ(L"shell32.dll,1", ValueText(HKEY_CLASSES_ROOT, type.Key(L"DefaultIcon"))) << "the icon still comes back";
    EXPECT_FALSE(test::KeyExists(HKEY_CLASSES_ROOT, type.Key(L"shellex")));
    EXPECT_EQ(ERROR_SUCCESS, UninstallIconHandler(LocationOf(type)));
}

TEST(IconHandlerUninstall, AHostileBackupKeyGoesWithItsSubkeys)
{
    ScratchType type;
    type.SetDefaultIcon(L"shell32.dll,1");
    ASSERT_EQ(ERROR_SUCCESS, InstallIconHandler(LocationOf(type)));
    test::WriteString(HKEY_CLASSES_ROOT, type.Key(L"DefaultIconBAK\\deeper\\still"), nullptr, L"x");

    EXPECT_EQ(ERROR_SUCCESS, UninstallIconHandler(LocationOf(type)));
    EXPECT_FALSE(test::KeyExists(HKEY_CLASSES_ROOT, type.Key(L"DefaultIconBAK")));
    EXPECT_EQ(L"shell32.dll,1", ValueText(HKEY_CLASSES_ROOT, type.Key(L"DefaultIcon")));
}

// ---------------------------------------------------------------- reported failures

TEST(IconHandlerStatus, InstallReportsAccessDeniedAndWritesNothing)
{
    ScratchType type;
    type.SetDefaultIcon(L"shell32.dll,1");
    const std::wstring before = type.Dump();
    ReadOnlyKey readOnly(HKEY_CLASSES_ROOT, type.Key(L"DefaultIcon"));
    ASSERT_TRUE(readOnly.Applied());

    EXPECT_EQ(ERROR_ACCESS_DENIED, InstallIconHandler(LocationOf(type)));
    EXPECT_EQ(before, type.Dump());
    EXPECT_FALSE(IsOwnIconHandler(LocationOf(type)));
}

TEST(IconHandlerStatus, UninstallReportsAFailedRestoreAndKeepsItsBackup)
{
    ScratchType type;
    type.SetDefaultIcon(L"shell32.dll,1");
    type.SetHandler(OtherClsid);
    ASSERT_EQ(ERROR_SUCCESS, InstallIconHandler(LocationOf(type)));
    {
        ReadOnlyKey readOnly(HKEY_CLASSES_ROOT, type.Key(L"DefaultIcon"));
        ASSERT_TRUE(readOnly.Applied());

        EXPECT_EQ(ERROR_ACCESS_DENIED, UninstallIconHandler(LocationOf(type)));
        EXPECT_EQ(L"%1", ValueText(HKEY_CLASSES_ROOT, type.Key(L"DefaultIcon")));
        EXPECT_EQ(L"shell32.dll,1", ValueText(HKEY_CLASSES_ROOT, type.Key(L"DefaultIconBAK"))) << "kept for a retry";
        // The installation stays whole for the retry: with the previous handler back
        // beside "%1", the class would look taken over by that handler.
        EXPECT_TRUE(IsOwnIconHandler(LocationOf(type)));
    }
    EXPECT_EQ(ERROR_SUCCESS, UninstallIconHandler(LocationOf(type)));
    EXPECT_EQ(L"shell32.dll,1", ValueText(HKEY_CLASSES_ROOT, type.Key(L"DefaultIcon")));
    EXPECT_FALSE(test::KeyExists(HKEY_CLASSES_ROOT, type.Key(L"DefaultIconBAK")));
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
