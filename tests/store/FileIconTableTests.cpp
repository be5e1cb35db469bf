#include <windows.h>
#include <sddl.h>
#include <shellapi.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstring>
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

// Raw bytes of a value, terminator included, to check what was stored exactly.
std::string RawValue(HKEY root, const std::string& path, const char* name = nullptr)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return "(none)";
    std::vector<char> data(4096);
    DWORD size = static_cast<DWORD>(data.size());
    const LONG status = RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(data.data()), &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? std::string(data.data(), size) : "(none)";
}

// The product's key under HKEY_LOCAL_MACHINE, put back when the test ends.
class ProductKeyTest : public ::testing::Test {
protected:
    test::KeyGuard product_{HKEY_LOCAL_MACHINE, ProductRoot};

    void PutEntry(const std::string& path, const std::string& text)
    {
        ASSERT_TRUE(test::WriteString(HKEY_LOCAL_MACHINE, FileIconsKey, path.c_str(), text));
    }
};

// ---------------------------------------------------------------- the per-file table

TEST_F(ProductKeyTest, WriteFileIconCreatesTheTableAndTheProductKey)
{
    test::DeleteKeyTree(HKEY_LOCAL_MACHINE, ProductRoot);
    IconLocation location("C:\\icons\\set.icl", nullptr, 7);
    location.SetTypeKey("jpegfile");

    ASSERT_EQ(ERROR_SUCCESS, WriteFileIcon(location, "C:\\dir\\photo.jpg"));

    EXPECT_TRUE(test::KeyExists(HKEY_LOCAL_MACHINE, ProductKey));
    DWORD type = 0;
    EXPECT_EQ("C:\\icons\\set.icl,7,jpegfile", ValueText(HKEY_LOCAL_MACHINE, FileIconsKey, "C:\\dir\\photo.jpg", &type));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_EQ(std::string("C:\\icons\\set.icl,7,jpegfile", 28), RawValue(HKEY_LOCAL_MACHINE, FileIconsKey, "C:\\dir\\photo.jpg"));
}

TEST_F(ProductKeyTest, ReadFileIconOfAPathWithoutAnEntryIsNone)
{
    test::DeleteKeyTree(HKEY_LOCAL_MACHINE, FileIconsKey);
    EXPECT_FALSE(ReadFileIcon("C:\\dir\\photo.jpg").has_value()) << "no table";

    PutEntry("C:\\dir\\other.jpg", "C:\\icons\\set.icl,7,jpegfile");
    EXPECT_FALSE(ReadFileIcon("C:\\dir\\photo.jpg").has_value());
    EXPECT_FALSE(ReadFileIcon("").has_value());
    EXPECT_FALSE(ReadFileIcon(nullptr).has_value());
}

TEST_F(ProductKeyTest, TheTableKeysDefaultValueIsNoEntry)
{
    PutEntry("", "C:\\icons\\set.icl,7,jpegfile");
    EXPECT_FALSE(ReadFileIcon("").has_value());
    EXPECT_EQ(ERROR_INVALID_PARAMETER, DeleteFileIcon(""));
    EXPECT_EQ("C:\\icons\\set.icl,7,jpegfile", ValueText(HKEY_LOCAL_MACHINE, FileIconsKey, ""));
}

struct ReadCase {
    const char* FilePath;
    const char* Data;
    const char* IconPath;
    std::int32_t Index;
    const char* TypeKey;
    const char* Owner;
};

const ReadCase ReadCases[] = {
    {"C:\\dir\\photo.jpg", "C:\\icons\\set.icl,7,jpegfile", "C:\\icons\\set.icl", 7, "jpegfile", ".jpg"},
    {"C:\\dir\\archive.tar.gz", "a.dll,4294967293,gzfile", "a.dll", -3, "gzfile", ".gz"},
    {"C:\\dir.d\\README", "a.dll,1,k", "a.dll", 1, "k", ""},
    {"C:\\dir\\.profile", "a.dll,2,k", "a.dll", 2, "k", ".profile"},
    {"C:\\dir\\x.txt", "a.dll,3", "a.dll", 3, "", ".txt"},
    {"C:\\dir\\y.txt", "a.dll,,txtfile", "a.dll", NoIndex, "", ".txt"},
    {"C:\\dir\\z.txt", "%SystemRoot%\\a.dll,4294967197,x,y", "%SystemRoot%\\a.dll", NoIndex, "x,y", ".txt"},
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
        EXPECT_STREQ(c.Owner, location->Owner);
    }
}

TEST_F(ProductKeyTest, WrittenEntriesReadBackAndReplaceEarlierOnes)
{
    IconLocation first("C:\\icons\\a.ico", nullptr, 2);
    first.SetTypeKey("txtfile");
    IconLocation second("C:\\icons\\b.dll", nullptr, -7);
    second.SetTypeKey("txtfile");

    ASSERT_EQ(ERROR_SUCCESS, WriteFileIcon(first, "C:\\notes\\a.txt"));
    ASSERT_EQ(ERROR_SUCCESS, WriteFileIcon(second, "C:\\notes\\a.txt"));

    // The registry compares value names without regard to case, so one file has one entry.
    EXPECT_EQ("C:\\icons\\b.dll,-7|txtfile|.TXT", LocationText(ReadFileIcon("c:\\NOTES\\A.TXT")));
    EXPECT_EQ(1, CountFileIconsOfType("txtfile"));
}

TEST_F(ProductKeyTest, PathsOf260CharactersOrMoreAreRefusedWithNothingWritten)
{
    test::DeleteKeyTree(HKEY_LOCAL_MACHINE, FileIconsKey);
    IconLocation location("C:\\icons\\a.ico", nullptr, 1);
    location.SetTypeKey("txtfile");

    const std::string longest = "C:\\" + std::string(252, 'd') + ".txt"; // 259 characters
    ASSERT_EQ(259u, longest.size());
    const std::string tooLong = "C:\\" + std::string(253, 'd') + ".txt";
    const std::string muchTooLong = "C:\\" + std::string(2000, 'd') + ".txt";

    EXPECT_EQ(ERROR_FILENAME_EXCED_RANGE, WriteFileIcon(location, tooLong.c_str()));
    EXPECT_EQ(ERROR_FILENAME_EXCED_RANGE, WriteFileIcon(location, muchTooLong.c_str()));
    EXPECT_FALSE(test::KeyExists(HKEY_LOCAL_MACHINE, FileIconsKey)) << "a refused write creates nothing";

    ASSERT_EQ(ERROR_SUCCESS, WriteFileIcon(location, longest.c_str()));
    const auto read = ReadFileIcon(longest.c_str());
    ASSERT_TRUE(read.has_value());
    EXPECT_STREQ(".txt", read->Owner);
    // The 259-character prefix of the refused path names the entry just written; the
    // refused path itself must never be taken for it.
    EXPECT_FALSE(ReadFileIcon(tooLong.c_str()).has_value());
    EXPECT_FALSE(ReadFileIcon(muchTooLong.c_str()).has_value());
}

TEST_F(ProductKeyTest, AnEntryTooLongForItsTextIsRefusedAndTheOldOneKept)
{
    IconLocation old("C:\\icons\\a.ico", nullptr, 1);
    old.SetTypeKey("txtfile");
    ASSERT_EQ(ERROR_SUCCESS, WriteFileIcon(old, "C:\\a.txt"));

    IconLocation huge(("C:\\" + std::string(200, 'i') + ".ico").c_str(), nullptr, -99);
    huge.SetTypeKey(std::string(60, 'c').c_str());
    EXPECT_EQ(ERROR_FILENAME_EXCED_RANGE, WriteFileIcon(huge, "C:\\a.txt"));
    EXPECT_EQ("C:\\icons\\a.ico,1,txtfile", ValueText(HKEY_LOCAL_MACHINE, FileIconsKey, "C:\\a.txt"));

    IconLocation noClass("C:\\icons\\a.ico", nullptr, 1);
    EXPECT_EQ(ERROR_INVALID_PARAMETER, WriteFileIcon(noClass, "C:\\b.txt")) << "an entry must name its class";
    EXPECT_EQ(ERROR_INVALID_PARAMETER, WriteFileIcon(old, ""));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, WriteFileIcon(old, nullptr));
}

TEST_F(ProductKeyTest, ReadFileIconOfAnExtensionTooLongForAKeyNameLeavesTheOwnerEmpty)
{
    const std::string path = "C:." + std::string(256, 'e'); // extension of 257 characters
    PutEntry(path, "a.dll,1,k");
    const auto location = ReadFileIcon(path.c_str());
    ASSERT_TRUE(location.has_value());
    EXPECT_STREQ("", location->Owner);

    const std::string fits = "C:\\x." + std::string(254, 'e'); // 255 characters with the dot
    PutEntry(fits, "a.dll,1,k");
    const auto fitting = ReadFileIcon(fits.c_str());
    ASSERT_TRUE(fitting.has_value());
    EXPECT_EQ(255u, std::strlen(fitting->Owner));
}

TEST_F(ProductKeyTest, HostileTableDataReadsAsNoneOrAsBoundedText)
{
    const std::string oversized = "C:\\i.ico,1," + std::string(600, 'k');
    PutEntry("C:\\over.txt", oversized);
    EXPECT_FALSE(ReadFileIcon("C:\\over.txt").has_value()) << "data over 520 bytes";

    const std::string unterminated(520, 'u');
    ASSERT_TRUE(test::WriteValue(HKEY_LOCAL_MACHINE, FileIconsKey, "C:\\unterminated.txt", REG_SZ, unterminated.data(), 520));
    EXPECT_FALSE(ReadFileIcon("C:\\unterminated.txt").has_value()) << "520 bytes without a terminator";

    const char shortUnterminated[] = {'a', '.', 'd', 'l', 'l', ',', '5', ',', 'k'};
    ASSERT_TRUE(test::WriteValue(HKEY_LOCAL_MACHINE, FileIconsKey, "C:\\short.txt", REG_BINARY, shortUnterminated,
                                 sizeof shortUnterminated));
    const auto shortRead = ReadFileIcon("C:\\short.txt");
    ASSERT_TRUE(shortRead.has_value());
    EXPECT_STREQ("a.dll", shortRead->IconPath);
    EXPECT_EQ(5, shortRead->Index);
    EXPECT_STREQ("k", shortRead->TypeKey);

    const DWORD number = 0x00003141; // the bytes "A1\0\0"
    ASSERT_TRUE(test::WriteValue(HKEY_LOCAL_MACHINE, FileIconsKey, "C:\\dword.txt", REG_DWORD, &number, sizeof number));
    const auto dword = ReadFileIcon("C:\\dword.txt");
    ASSERT_TRUE(dword.has_value());
    EXPECT_STREQ("A1", dword->IconPath);
    EXPECT_EQ(NoIndex, dword->Index);

    // A path component over 259 characters fits the 520-byte read but not the record.
    PutEntry("C:\\longpath.txt", std::string(300, 'p') + ",1,txtfile");
    EXPECT_FALSE(ReadFileIcon("C:\\longpath.txt").has_value());
}

TEST_F(ProductKeyTest, DeleteFileIconRemovesOnlyThatEntryAndMissingIsSuccess)
{
    PutEntry("C:\\a.txt", "a.dll,1,txtfile");
    PutEntry("C:\\b.txt", "a.dll,2,txtfile");

    EXPECT_EQ(ERROR_SUCCESS, DeleteFileIcon("c:\\A.TXT"));
    EXPECT_FALSE(ReadFileIcon("C:\\a.txt").has_value());
    EXPECT_TRUE(ReadFileIcon("C:\\b.txt").has_value());

    EXPECT_EQ(ERROR_SUCCESS, DeleteFileIcon("C:\\a.txt")) << "already gone";
    test::DeleteKeyTree(HKEY_LOCAL_MACHINE, FileIconsKey);
    EXPECT_EQ(ERROR_SUCCESS, DeleteFileIcon("C:\\b.txt")) << "no table at all";
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
    IconLocation location("C:\\i.ico", nullptr, 1);
    location.SetTypeKey("txtfile");
    ASSERT_EQ(ERROR_SUCCESS, WriteFileIcon(location, "C:\\view.txt"));

    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, FileIconsKey, 0, KEY_QUERY_VALUE | ownView, &key));
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "C:\\view.txt", nullptr, nullptr, nullptr, nullptr));
    RegCloseKey(key);
}

// ---------------------------------------------------------------- counting by class

struct CountCase {
    const char* TypeKey;
    int Count;
};

TEST_F(ProductKeyTest, CountFileIconsOfTypeCountsTheEntriesOfTheClass)
{
    // The first three are the classic case: the count goes by each entry's class, so
    // b.TXT keeps txtfile's handler and notes.txt.old (another class) does not.
    PutEntry("C:\\a.txt", "C:\\i.ico,1,txtfile");
    PutEntry("C:\\b.TXT", "C:\\i.ico,2,txtfile");
    PutEntry("C:\\notes.txt.old", "C:\\i.ico,3,oldfile");
    PutEntry("C:\\readme.log", "C:\\i.ico,4,TXTFILE");
    PutEntry("C:\\c.txt", "C:\\i.ico,5,txtfile.bak");
    PutEntry("C:\\d.txt", "C:\\i.ico,6");
    PutEntry("C:\\e.txt", "C:\\i.ico,,txtfile");

    const CountCase cases[] = {
        {"txtfile", 3}, {"TxtFile", 3}, {"oldfile", 1}, {"txtfile.bak", 1},
        {".txt", 0},    {"txt", 0},     {"file", 0},    {"", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.TypeKey);
        EXPECT_EQ(c.Count, CountFileIconsOfType(c.TypeKey));
    }
    EXPECT_EQ(0, CountFileIconsOfType(nullptr));

    test::DeleteKeyTree(HKEY_LOCAL_MACHINE, FileIconsKey);
    EXPECT_EQ(0, CountFileIconsOfType("txtfile")) << "no table";
}

TEST_F(ProductKeyTest, CountFileIconsOfTypeWalksPastLongNamesAndHostileData)
{
    // Written first and named to sort first, so that the registry lists them before the
    // ordinary entries whether it lists values in order of writing or of name.
    PutEntry("C:\\0" + std::string(300, 'n') + ".txt", "C:\\i.ico,1,txtfile");
    PutEntry("C:\\0" + std::string(16000, 'm') + ".txt", "C:\\i.ico,1,txtfile");
    PutEntry("C:\\1over.txt", "C:\\i.ico,1,txtfile" + std::string(600, ' '));
    const std::string unterminated = "C:\\i.ico,1,txtfile" + std::string(520 - 18, 'x');
    ASSERT_TRUE(test::WriteValue(HKEY_LOCAL_MACHINE, FileIconsKey, "C:\\1unterminated.txt", REG_SZ, unterminated.data(),
                                 static_cast<DWORD>(unterminated.size())));
    const DWORD number = 7;
    ASSERT_TRUE(test::WriteValue(HKEY_LOCAL_MACHINE, FileIconsKey, "C:\\1dword.txt", REG_DWORD, &number, sizeof number));
    const char unterminatedShort[] = {'C', ':', '\\', 'i', '.', 'i', 'c', 'o', ',', '1', ',', 't', 'x', 't', 'f', 'i', 'l', 'e'};
    ASSERT_TRUE(test::WriteValue(HKEY_LOCAL_MACHINE, FileIconsKey, "C:\\1binary.txt", REG_BINARY, unterminatedShort,
                                 sizeof unterminatedShort));
    PutEntry("C:\\1longclass.txt", "C:\\i.ico,1," + std::string(300, 'c'));
    PutEntry("C:\\a.txt", "C:\\i.ico,1,txtfile");
    PutEntry("C:\\b.txt", "C:\\i.ico,1,txtfile");

    // The two long names, the short unterminated data and a.txt, b.txt; the oversized,
    // the 520-byte unterminated, the number and the over-long class are no entries.
    EXPECT_EQ(5, CountFileIconsOfType("txtfile"));
}

// ---------------------------------------------------------------- handler texts

TEST(IconHandlerText, IsOwnIconHandlerOnlyForTheExactClassIdentifier)
{
    ScratchType type;
    const IconLocation location = LocationOf(type);
    EXPECT_FALSE(IsOwnIconHandler(location)) << "no shellex\\IconHandler";

    test::WriteString(HKEY_CLASSES_ROOT, type.Key("shellex\\IconHandler"), "other", "x");
    EXPECT_FALSE(IsOwnIconHandler(location)) << "key without a default value";

    struct Case {
        std::string Text;
        bool Own;
    };
    const Case cases[] = {
        {OwnClsid, true},
        {test::OwnClsidInLowerCase.Text, false},
        {std::string(OwnClsid) + " ", false},
        {std::string(" ") + OwnClsid, false},
        {std::string(OwnClsid).substr(0, 37), false},
        {OtherClsid, false},
        {"", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Text);
        type.SetHandler(c.Text);
        EXPECT_EQ(c.Own, IsOwnIconHandler(location));
    }

    const std::string oversized = std::string(OwnClsid) + std::string(400, ' ');
    type.SetHandler(oversized);
    EXPECT_FALSE(IsOwnIconHandler(location));

    IconLocation noClass;
    EXPECT_FALSE(IsOwnIconHandler(noClass));
}

TEST(IconHandlerText, ReadersLeaveTheBufferUntouchedWhenThereIsNothing)
{
    ScratchType type;
    char buffer[TextCapacity] = "untouched";
    EXPECT_FALSE(ReadIconHandlerText(type.Class.c_str(), HandlerSlot::Current, buffer));
    EXPECT_FALSE(ReadExtensionIconHandlerText(type.Extension.c_str(), HandlerSlot::Backup, buffer));
    EXPECT_FALSE(ReadExtensionIconHandlerText(test::UniqueName(".").c_str(), HandlerSlot::Current, buffer));
    EXPECT_FALSE(ReadIconHandlerText("", HandlerSlot::Current, buffer));
    EXPECT_FALSE(ReadIconHandlerText(nullptr, HandlerSlot::Current, buffer));
    EXPECT_FALSE(ReadIconHandlerText(std::string(600, 'c').c_str(), HandlerSlot::Current, buffer));

    type.SetHandler(std::string(260, 'h')); // 261 bytes with its terminator
    EXPECT_FALSE(ReadIconHandlerText(type.Class.c_str(), HandlerSlot::Current, buffer));
    EXPECT_STREQ("untouched", buffer);

    type.SetHandler(OtherClsid);
    test::WriteString(HKEY_CLASSES_ROOT, type.Key("shellex\\IconHandlerBAK"), nullptr, OwnClsid);
    EXPECT_TRUE(ReadExtensionIconHandlerText(type.Extension.c_str(), HandlerSlot::Current, buffer));
    EXPECT_STREQ(OtherClsid, buffer);
    EXPECT_TRUE(ReadIconHandlerText(type.Class.c_str(), HandlerSlot::Backup, buffer));
    EXPECT_STREQ(OwnClsid, buffer);
}

TEST(IconHandlerText, HasIconHandlerNeedsAHandlerTextOfTwoCharacters)
{
    ScratchType unregistered(false);
    EXPECT_FALSE(HasIconHandler(unregistered.Extension.c_str())) << "no extension key";
    test::WriteString(HKEY_CLASSES_ROOT, unregistered.Extension, "other", "x");
    EXPECT_FALSE(HasIconHandler(unregistered.Extension.c_str())) << "extension without a class";

    ScratchType type;
    EXPECT_FALSE(HasIconHandler(type.Extension.c_str())) << "class without shellex\\IconHandler";
    type.SetHandler("x");
    EXPECT_FALSE(HasIconHandler(type.Extension.c_str())) << "one character";
    type.SetHandler("xy");
    EXPECT_TRUE(HasIconHandler(type.Extension.c_str()));
    type.SetHandler(OtherClsid);
    EXPECT_TRUE(HasIconHandler(type.Extension.c_str())) << "another program's handler counts too";
    EXPECT_FALSE(HasIconHandler(""));
    EXPECT_FALSE(HasIconHandler(nullptr));
}

// ---------------------------------------------------------------- installation

TEST(IconHandlerInstall, InstallBacksUpTheIconAndNamesThisExtension)
{
    ScratchType type;
    type.SetDefaultIcon("shell32.dll,1");

    ASSERT_EQ(ERROR_SUCCESS, InstallIconHandler(LocationOf(type)));

    EXPECT_EQ("shell32.dll,1", ValueText(HKEY_CLASSES_ROOT, type.Key("DefaultIconBAK")));
    EXPECT_EQ(std::string("%1", 3), RawValue(HKEY_CLASSES_ROOT, type.Key("DefaultIcon")));
    EXPECT_EQ(std::string(OwnClsid, 39), RawValue(HKEY_CLASSES_ROOT, type.Key("shellex\\IconHandler")));
    EXPECT_FALSE(test::KeyExists(HKEY_CLASSES_ROOT, type.Key("shellex\\IconHandlerBAK")));
    EXPECT_TRUE(IsOwnIconHandler(LocationOf(type)));
    EXPECT_TRUE(HasIconHandler(type.Extension.c_str()));
}

TEST(IconHandlerInstall, TheShellSeesEachFileAsItsOwnIconWhileInstalled)
{
    ScratchType type;
    type.SetDefaultIcon("shell32.dll,1");
    test::TempDir dir;
    const std::string file = dir.MakeFile("sample" + type.Extension);
    ASSERT_EQ("shell32.dll,1", ShellIconLocation(file));

    ASSERT_EQ(ERROR_SUCCESS, InstallIconHandler(LocationOf(type)));
    EXPECT_EQ(file + ",0", ShellIconLocation(file)) << "\"%1\": the shell takes the icon per file";

    ASSERT_EQ(ERROR_SUCCESS, UninstallIconHandler(LocationOf(type)));
    EXPECT_EQ("shell32.dll,1", ShellIconLocation(file));
}

// Starting states of a class; installing and uninstalling must leave each exactly as it was.
struct ClassState {
    const char* Name;
    void (*Prepare)(const ScratchType&);
};

const ClassState ClassStates[] = {
    {"DefaultIcon shell32.dll,1", [](const ScratchType& t) { t.SetDefaultIcon("shell32.dll,1"); }},
    {"expandable DefaultIcon",
     [](const ScratchType& t) { t.SetDefaultIcon("%SystemRoot%\\system32\\shell32.dll,-3", REG_EXPAND_SZ); }},
    {"DefaultIcon %1", [](const ScratchType& t) { t.SetDefaultIcon("%1"); }},
    {"DefaultIcon of 259 characters", [](const ScratchType& t) { t.SetDefaultIcon(std::string(257, 'p') + ",1"); }},
    {"no DefaultIcon key", [](const ScratchType&) {}},
    // A "HandlerIconInfo" from an earlier installation is dropped when the next one begins
    // (HandlerIconLeftover tests), so it is no state that comes back whole.
    {"DefaultIcon with only the type's backup",
     [](const ScratchType& t) {
         test::WriteString(HKEY_CLASSES_ROOT, t.Key("DefaultIcon"), BackupIconValue, "C:\\old.ico,4294967197");
     }},
    {"another handler",
     [](const ScratchType& t) {
         t.SetDefaultIcon("shell32.dll,1");
         t.SetHandler(OtherClsid);
     }},
    {"own identifier in lower case",
     [](const ScratchType& t) {
         t.SetDefaultIcon("shell32.dll,1");
         t.SetHandler(test::OwnClsidInLowerCase.Text);
     }},
    {"shellex with other handlers",
     [](const ScratchType& t) {
         t.SetDefaultIcon("shell32.dll,1");
         test::WriteString(HKEY_CLASSES_ROOT, t.Key("shellex\\ContextMenuHandlers\\Other"), nullptr, OtherClsid);
     }},
    {"empty shellex\\IconHandler key with a named value",
     [](const ScratchType& t) {
         t.SetDefaultIcon("shell32.dll,1");
         test::WriteString(HKEY_CLASSES_ROOT, t.Key("shellex\\IconHandler"), "note", "kept");
     }},
};

TEST(IconHandlerInstall, InstallThenUninstallLeavesTheClassExactlyAsItWas)
{
    for (const auto& state : ClassStates) {
        SCOPED_TRACE(state.Name);
        ScratchType type;
        state.Prepare(type);
        const std::string before = type.Dump();

        ASSERT_EQ(ERROR_SUCCESS, InstallIconHandler(LocationOf(type)));
        EXPECT_EQ("%1", ValueText(HKEY_CLASSES_ROOT, type.Key("DefaultIcon")));
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
        type.SetDefaultIcon("shell32.dll,1");
        if (otherHandler)
            type.SetHandler(OtherClsid);
        const std::string before = type.Dump();

        ASSERT_EQ(ERROR_SUCCESS, InstallIconHandler(LocationOf(type)));
        const std::string installed = type.Dump();
        ASSERT_EQ(ERROR_SUCCESS, InstallIconHandler(LocationOf(type)));
        EXPECT_EQ(installed, type.Dump()) << "the second installation changes nothing";
        EXPECT_EQ("shell32.dll,1", ValueText(HKEY_CLASSES_ROOT, type.Key("DefaultIconBAK")));

        ASSERT_EQ(ERROR_SUCCESS, UninstallIconHandler(LocationOf(type)));
        EXPECT_EQ(before, type.Dump());
    }
}

TEST(IconHandlerInstall, InstallOverAnotherHandlerBacksItUpAndUninstallPutsItBack)
{
    ScratchType type;
    type.SetDefaultIcon("shell32.dll,1");
    type.SetHandler(OtherClsid);

    ASSERT_EQ(ERROR_SUCCESS, InstallIconHandler(LocationOf(type)));
    EXPECT_EQ(OtherClsid, ValueText(HKEY_CLASSES_ROOT, type.Key("shellex\\IconHandlerBAK")));
    EXPECT_EQ(OwnClsid, ValueText(HKEY_CLASSES_ROOT, type.Key("shellex\\IconHandler")));
    EXPECT_TRUE(HasIconHandler(type.Extension.c_str()));

    ASSERT_EQ(ERROR_SUCCESS, UninstallIconHandler(LocationOf(type)));
    EXPECT_EQ(OtherClsid, ValueText(HKEY_CLASSES_ROOT, type.Key("shellex\\IconHandler")));
    EXPECT_FALSE(test::KeyExists(HKEY_CLASSES_ROOT, type.Key("shellex\\IconHandlerBAK")));
    EXPECT_EQ("shell32.dll,1", ValueText(HKEY_CLASSES_ROOT, type.Key("DefaultIcon")));
    EXPECT_FALSE(test::KeyExists(HKEY_CLASSES_ROOT, type.Key("DefaultIconBAK")));
}

// Another program takes over shellex\IconHandler while DefaultIcon stays "%1"; installing
// again (as a new per-file icon does, since the handler is no longer this extension)
// must not take that "%1" for the class's icon.
TEST(IconHandlerInstall, ReinstallAfterAnotherProgramTookTheHandlerKeepsTheIconBackup)
{
    ScratchType type;
    type.SetDefaultIcon("shell32.dll,1");
    ASSERT_EQ(ERROR_SUCCESS, InstallIconHandler(LocationOf(type)));
    type.SetHandler(OtherClsid);
    ASSERT_FALSE(IsOwnIconHandler(LocationOf(type)));

    ASSERT_EQ(ERROR_SUCCESS, InstallIconHandler(LocationOf(type)));
    EXPECT_EQ("shell32.dll,1", ValueText(HKEY_CLASSES_ROOT, type.Key("DefaultIconBAK")));
    EXPECT_EQ(OtherClsid, ValueText(HKEY_CLASSES_ROOT, type.Key("shellex\\IconHandlerBAK")));

    ASSERT_EQ(ERROR_SUCCESS, UninstallIconHandler(LocationOf(type)));
    EXPECT_EQ("shell32.dll,1", ValueText(HKEY_CLASSES_ROOT, type.Key("DefaultIcon")));
    EXPECT_EQ(OtherClsid, ValueText(HKEY_CLASSES_ROOT, type.Key("shellex\\IconHandler")));
    EXPECT_FALSE(test::KeyExists(HKEY_CLASSES_ROOT, type.Key("DefaultIconBAK")));
    EXPECT_FALSE(test::KeyExists(HKEY_CLASSES_ROOT, type.Key("shellex\\IconHandlerBAK")));
}

TEST(IconHandlerInstall, UninstallTakesOutOnlyThisExtensionsOwnHandler)
{
    ScratchType type;
    type.SetDefaultIcon("shell32.dll,1");
    ASSERT_EQ(ERROR_SUCCESS, InstallIconHandler(LocationOf(type)));
    ASSERT_EQ(ERROR_SUCCESS, UninstallIconHandler(LocationOf(type)));
    EXPECT_FALSE(test::KeyExists(HKEY_CLASSES_ROOT, type.Key("shellex"))) << "the class had no handler before";
    EXPECT_FALSE(IsOwnIconHandler(LocationOf(type)));
    EXPECT_FALSE(HasIconHandler(type.Extension.c_str()));

    // Installed without a handler before, then another program took the handler key.
    ASSERT_EQ(ERROR_SUCCESS, InstallIconHandler(LocationOf(type)));
    type.SetHandler(OtherClsid);
    ASSERT_EQ(ERROR_SUCCESS, UninstallIconHandler(LocationOf(type)));
    EXPECT_EQ(OtherClsid, ValueText(HKEY_CLASSES_ROOT, type.Key("shellex\\IconHandler")));

    for (const char* text : {test::OwnClsidInLowerCase.Text, "{7DFE5A1E-6382-4105-8133-F1D53ACA35A0} "}) {
        SCOPED_TRACE(text);
        type.SetHandler(text);
        ASSERT_EQ(ERROR_SUCCESS, UninstallIconHandler(LocationOf(type)));
        EXPECT_EQ(text, ValueText(HKEY_CLASSES_ROOT, type.Key("shellex\\IconHandler")));
    }
}

TEST(IconHandlerInstall, AClassWithoutDefaultIconGetsOneSoThatTheHandlerTakesEffect)
{
    ScratchType type;
    test::TempDir dir;
    const std::string file = dir.MakeFile("sample" + type.Extension);
    const std::string generic = ShellIconLocation(file);
    const std::string before = type.Dump();

    ASSERT_EQ(ERROR_SUCCESS, InstallIconHandler(LocationOf(type)));
    EXPECT_EQ("%1", ValueText(HKEY_CLASSES_ROOT, type.Key("DefaultIcon")));
    EXPECT_EQ("", ValueText(HKEY_CLASSES_ROOT, type.Key("DefaultIconBAK")));
    EXPECT_EQ(file + ",0", ShellIconLocation(file));

    ASSERT_EQ(ERROR_SUCCESS, UninstallIconHandler(LocationOf(type)));
    EXPECT_FALSE(test::KeyExists(HKEY_CLASSES_ROOT, type.Key("DefaultIcon")));
    EXPECT_EQ(before, type.Dump());
    EXPECT_EQ(generic, ShellIconLocation(file));
}

TEST(IconHandlerInstall, InstallRegistersAMissingClassAndUninstallLeavesTheRegistration)
{
    ScratchType type(false);
    ASSERT_EQ(ERROR_SUCCESS, InstallIconHandler(LocationOf(type)));

    EXPECT_EQ(type.Class, ValueText(HKEY_CLASSES_ROOT, type.Extension)) << "the extension points at the new class";
    EXPECT_EQ("%1", ValueText(HKEY_CLASSES_ROOT, type.Key("DefaultIcon")));
    EXPECT_EQ("", ValueText(HKEY_CLASSES_ROOT, type.Key("DefaultIconBAK")));
    EXPECT_TRUE(IsOwnIconHandler(LocationOf(type)));
    EXPECT_TRUE(HasIconHandler(type.Extension.c_str()));

    ASSERT_EQ(ERROR_SUCCESS, UninstallIconHandler(LocationOf(type)));
    EXPECT_TRUE(test::KeyExists(HKEY_CLASSES_ROOT, type.Class));
    EXPECT_EQ(type.Class, ValueText(HKEY_CLASSES_ROOT, type.Extension));
    EXPECT_EQ("", type.Dump()) << "a class key with nothing in it";
}

// An empty DefaultIcon text and a missing one both mean "no icon" to the shell; the
// empty backup stands for both, and uninstalling takes the default value away.
TEST(IconHandlerInstall, AnEmptyDefaultIconTextComesBackAsNoValue)
{
    ScratchType type;
    type.SetDefaultIcon("");
    test::WriteString(HKEY_CLASSES_ROOT, type.Key("DefaultIcon"), BackupIconValue, "a.dll,1");

    ASSERT_EQ(ERROR_SUCCESS, InstallIconHandler(LocationOf(type)));
    ASSERT_EQ(ERROR_SUCCESS, UninstallIconHandler(LocationOf(type)));
    EXPECT_EQ("<none>", ValueText(HKEY_CLASSES_ROOT, type.Key("DefaultIcon")));
    EXPECT_EQ("a.dll,1", ValueText(HKEY_CLASSES_ROOT, type.Key("DefaultIcon"), BackupIconValue));
}

TEST(IconHandlerInstall, ATextThatCannotBeBackedUpWholeStopsTheInstallationUntouched)
{
    for (const bool inHandler : {false, true}) {
        SCOPED_TRACE(inHandler ? "handler text" : "DefaultIcon text");
        ScratchType type;
        type.SetDefaultIcon(inHandler ? "shell32.dll,1" : std::string(300, 'p') + ",1");
        if (inHandler)
            type.SetHandler(std::string(300, 'h'));
        const std::string before = type.Dump();

        EXPECT_NE(ERROR_SUCCESS, InstallIconHandler(LocationOf(type)));
        EXPECT_EQ(before, type.Dump());
    }
}

TEST(IconHandlerInstall, ARecordWithoutAClassNamesNothing)
{
    IconLocation location;
    location.SetOwner(".txt");
    EXPECT_EQ(ERROR_INVALID_PARAMETER, InstallIconHandler(location));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, UninstallIconHandler(location));
}

// Opens a class first and its subkey below it: the 8-bit registry calls refuse paths of
// more than 260 characters, which a long class name and its subkey make.
std::string SubkeyValue(const std::string& className, const char* subkey)
{
    HKEY classKey = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, className.c_str(), 0, KEY_READ, &classKey) != ERROR_SUCCESS)
        return "(none)";
    HKEY key = nullptr;
    char data[TextCapacity] = {};
    LONG status = RegOpenKeyExA(classKey, subkey, 0, KEY_READ, &key);
    if (status == ERROR_SUCCESS) {
        DWORD size = sizeof data - 1;
        status = RegQueryValueExA(key, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size);
        RegCloseKey(key);
    }
    RegCloseKey(classKey);
    return status == ERROR_SUCCESS ? data : "(none)";
}

void SetSubkeyValue(const std::string& className, const char* subkey, const char* text)
{
    HKEY classKey = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CLASSES_ROOT, className.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                             nullptr, &classKey, nullptr));
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(classKey, subkey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
    RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), static_cast<DWORD>(std::strlen(text) + 1));
    RegCloseKey(key);
    RegCloseKey(classKey);
}

TEST(IconHandlerInstall, LongClassNamesWork)
{
    // 255 characters is the longest key name; with its subkeys it makes paths of more
    // than 260 characters.
    ScratchType type;
    const std::string longClass = type.Class + std::string(255 - type.Class.size(), 'L');
    test::KeyGuard guard(HKEY_CLASSES_ROOT, longClass);
    IconLocation location;
    ASSERT_TRUE(location.SetTypeKey(longClass.c_str()));
    location.SetOwner(type.Extension.c_str());
    SetSubkeyValue(longClass, "DefaultIcon", "shell32.dll,1");
    SetSubkeyValue(longClass, "shellex\\IconHandler", OtherClsid);
    const std::string before = test::DumpKey(HKEY_CLASSES_ROOT, longClass);

    ASSERT_EQ(ERROR_SUCCESS, InstallIconHandler(location));
    EXPECT_EQ("%1", SubkeyValue(longClass, "DefaultIcon"));
    EXPECT_EQ("shell32.dll,1", SubkeyValue(longClass, "DefaultIconBAK"));
    EXPECT_TRUE(IsOwnIconHandler(location));
    char backup[TextCapacity] = {};
    EXPECT_TRUE(ReadIconHandlerText(longClass.c_str(), HandlerSlot::Backup, backup));
    EXPECT_STREQ(OtherClsid, backup);

    ASSERT_EQ(ERROR_SUCCESS, UninstallIconHandler(location));
    EXPECT_EQ(before, test::DumpKey(HKEY_CLASSES_ROOT, longClass));

    IconLocation tooLong;
    ASSERT_TRUE(tooLong.SetTypeKey((longClass + "XXXX").c_str()));
    EXPECT_EQ(ERROR_FILENAME_EXCED_RANGE, InstallIconHandler(tooLong)) << "no key name has 259 characters";
    EXPECT_EQ(ERROR_SUCCESS, UninstallIconHandler(tooLong)) << "nothing of this extension's can be there";
    EXPECT_FALSE(IsOwnIconHandler(tooLong));
}

// ---------------------------------------------------------------- uninstallation

TEST(IconHandlerUninstall, AClassWithoutBackupsOrOwnHandlerIsLeftAlone)
{
    ScratchType type;
    type.SetDefaultIcon("%1");
    type.SetHandler(OtherClsid);
    const std::string before = type.Dump();
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
             test::WriteString(HKEY_CLASSES_ROOT, t.Key("DefaultIconBAK"), nullptr, std::string(400, 'b'));
         }},
        {"no default value", [](const ScratchType& t) {
             test::WriteString(HKEY_CLASSES_ROOT, t.Key("DefaultIconBAK"), "other", "x");
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        ScratchType type;
        type.SetDefaultIcon("%1");
        c.Prepare(type);

        EXPECT_EQ(ERROR_INVALID_DATA, UninstallIconHandler(LocationOf(type)));
        EXPECT_EQ("%1", ValueText(HKEY_CLASSES_ROOT, type.Key("DefaultIcon"))) << "nothing to restore from";
        EXPECT_FALSE(test::KeyExists(HKEY_CLASSES_ROOT, type.Key("DefaultIconBAK")));
        EXPECT_EQ(ERROR_SUCCESS, UninstallIconHandler(LocationOf(type)));
    }
}

TEST(IconHandlerUninstall, BackupsOfOtherTypesAreRestoredAsText)
{
    ScratchType type;
    type.SetDefaultIcon("%1");
    const char bytes[] = {'a', '.', 'd', 'l', 'l', ',', '2'}; // unterminated
    test::WriteValue(HKEY_CLASSES_ROOT, type.Key("DefaultIconBAK"), nullptr, REG_BINARY, bytes, sizeof bytes);

    EXPECT_EQ(ERROR_SUCCESS, UninstallIconHandler(LocationOf(type)));
    DWORD valueType = 0;
    EXPECT_EQ("a.dll,2", ValueText(HKEY_CLASSES_ROOT, type.Key("DefaultIcon"), nullptr, &valueType));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), valueType);
}

TEST(IconHandlerUninstall, AnUnreadableHandlerBackupIsDeletedAndOwnHandlerTakenOut)
{
    ScratchType type;
    type.SetDefaultIcon("shell32.dll,1");
    ASSERT_EQ(ERROR_SUCCESS, InstallIconHandler(LocationOf(type)));
    test::WriteString(HKEY_CLASSES_ROOT, type.Key("shellex\\IconHandlerBAK"), nullptr, std::string(300, 'h'));

    EXPECT_EQ(ERROR_INVALID_DATA, UninstallIconHandler(LocationOf(type)));
    EXPECT_EQ("shell32.dll,1", ValueText(HKEY_CLASSES_ROOT, type.Key("DefaultIcon"))) << "the icon still comes back";
    EXPECT_FALSE(test::KeyExists(HKEY_CLASSES_ROOT, type.Key("shellex")));
    EXPECT_EQ(ERROR_SUCCESS, UninstallIconHandler(LocationOf(type)));
}

TEST(IconHandlerUninstall, AHostileBackupKeyGoesWithItsSubkeys)
{
    ScratchType type;
    type.SetDefaultIcon("shell32.dll,1");
    ASSERT_EQ(ERROR_SUCCESS, InstallIconHandler(LocationOf(type)));
    test::WriteString(HKEY_CLASSES_ROOT, type.Key("DefaultIconBAK\\deeper\\still"), nullptr, "x");

    EXPECT_EQ(ERROR_SUCCESS, UninstallIconHandler(LocationOf(type)));
    EXPECT_FALSE(test::KeyExists(HKEY_CLASSES_ROOT, type.Key("DefaultIconBAK")));
    EXPECT_EQ("shell32.dll,1", ValueText(HKEY_CLASSES_ROOT, type.Key("DefaultIcon")));
}

// ---------------------------------------------------------------- reported failures

TEST(IconHandlerStatus, InstallReportsAccessDeniedAndWritesNothing)
{
    ScratchType type;
    type.SetDefaultIcon("shell32.dll,1");
    const std::string before = type.Dump();
    ReadOnlyKey readOnly(HKEY_CLASSES_ROOT, type.Key("DefaultIcon"));
    ASSERT_TRUE(readOnly.Applied());

    EXPECT_EQ(ERROR_ACCESS_DENIED, InstallIconHandler(LocationOf(type)));
    EXPECT_EQ(before, type.Dump());
    EXPECT_FALSE(IsOwnIconHandler(LocationOf(type)));
}

TEST(IconHandlerStatus, UninstallReportsAFailedRestoreAndKeepsItsBackup)
{
    ScratchType type;
    type.SetDefaultIcon("shell32.dll,1");
    type.SetHandler(OtherClsid);
    ASSERT_EQ(ERROR_SUCCESS, InstallIconHandler(LocationOf(type)));
    {
        ReadOnlyKey readOnly(HKEY_CLASSES_ROOT, type.Key("DefaultIcon"));
        ASSERT_TRUE(readOnly.Applied());

        EXPECT_EQ(ERROR_ACCESS_DENIED, UninstallIconHandler(LocationOf(type)));
        EXPECT_EQ("%1", ValueText(HKEY_CLASSES_ROOT, type.Key("DefaultIcon")));
        EXPECT_EQ("shell32.dll,1", ValueText(HKEY_CLASSES_ROOT, type.Key("DefaultIconBAK"))) << "kept for a retry";
        EXPECT_EQ(OtherClsid, ValueText(HKEY_CLASSES_ROOT, type.Key("shellex\\IconHandler")))
            << "the handler is restored all the same";
    }
    EXPECT_EQ(ERROR_SUCCESS, UninstallIconHandler(LocationOf(type)));
    EXPECT_EQ("shell32.dll,1", ValueText(HKEY_CLASSES_ROOT, type.Key("DefaultIcon")));
    EXPECT_FALSE(test::KeyExists(HKEY_CLASSES_ROOT, type.Key("DefaultIconBAK")));
}

TEST_F(ProductKeyTest, TableWritesReportAccessDenied)
{
    IconLocation location("C:\\i.ico", nullptr, 1);
    location.SetTypeKey("txtfile");
    ASSERT_EQ(ERROR_SUCCESS, WriteFileIcon(location, "C:\\a.txt"));
    ReadOnlyKey readOnly(HKEY_LOCAL_MACHINE, FileIconsKey);
    ASSERT_TRUE(readOnly.Applied());

    EXPECT_EQ(ERROR_ACCESS_DENIED, WriteFileIcon(location, "C:\\b.txt"));
    EXPECT_EQ(ERROR_ACCESS_DENIED, DeleteFileIcon("C:\\a.txt"));
    EXPECT_TRUE(ReadFileIcon("C:\\a.txt").has_value()) << "reading needs no write access";
    EXPECT_EQ(1, CountFileIconsOfType("txtfile")) << "counting needs no write access";
}

} // namespace
