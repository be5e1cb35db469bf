// Changes for all files of a type interleaved with single-file icons of the same type.
// While a single file has its own icon, this extension is the class's icon handler and
// DefaultIcon only says "%1": the type's icon then lives in "HandlerIconInfo" and in
// DefaultIconBAK, which uninstalling puts back. Every sequence of applying and restoring
// must leave the class with the icon the user last gave it, and after restoring all of
// it, with the icon it had at the start, as the platform's shell reports it.
#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <string>

#include "FileIconTable.h"
#include "FileTypeIcons.h"
#include "IconTarget.h"
#include "OwnIdentity.h"
#include "Registry.h"
#include "ScratchRegistry.h"
#include "TestSupport.h"

using namespace orvane;
using test::ProductRoot;
using test::Lower;
using test::ShellIconLocation;
using test::ValueText;
using test::OtherClsid;
using test::OwnClsid;

namespace {


// A key tree dump without the lines of one value: "HandlerIconInfo" has meaning only while
// the handler is installed, and nothing deletes it when the handler goes.
std::string DumpWithout(const std::string& dump, const std::string& valueName)
{
    const std::string marker = "value [" + valueName + "]";
    std::string out;
    std::size_t start = 0;
    while (start < dump.size()) {
        std::size_t end = dump.find('\n', start);
        end = end == std::string::npos ? dump.size() : end + 1;
        const std::string line = dump.substr(start, end - start);
        if (line.find(marker) == std::string::npos)
            out += line;
        start = end;
    }
    return out;
}

// What the dialog does when it opens on a file: classify, read the current icon, keep a
// copy. `allOfType` is the check box as the user leaves it.
IconTarget OpenDialog(const std::string& path, bool allOfType)
{
    IconTarget target(path.c_str());
    target.RememberOriginal(target.ReadCurrentIcon());
    target.SetAllOfType(allOfType);
    return target;
}

ChangeResult Apply(const std::string& file, bool allOfType, const std::string& iconPath, std::int32_t index)
{
    IconTarget target = OpenDialog(file, allOfType);
    if (!target.SetCurrentIconPath(iconPath.c_str()))
        return ChangeResult::PathTooLong;
    target.SetCurrentIndex(index);
    return target.ApplyIcon();
}

ChangeResult Restore(const std::string& file, bool allOfType)
{
    IconTarget target = OpenDialog(file, allOfType);
    return target.RestoreDefault();
}

constexpr bool Type = true;
constexpr bool Single = false;

// A file type of the test's own, named as the system names classes it registers, with
// real icon files; the type's keys and the product's keys are put back afterwards.
class HandlerAndTypeTest : public testing::Test {
protected:
    void SetUp() override
    {
        typeIcon_ = test::WriteIconFile(dir_.Path() + "\\type.ico", 8);
        library_ = test::WriteIconFile(dir_.Path() + "\\library.ico", 12);
        original_ = typeIcon_ + ",1";
        ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, ext_, "", class_));
        ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, class_, "", "Test document"));
        ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, class_ + "\\DefaultIcon", "", original_));
        a_ = dir_.MakeFile("a" + ext_);
        b_ = dir_.MakeFile("b" + ext_);
        witness_ = dir_.MakeFile("witness" + ext_);
        before_ = test::DumpKey(HKEY_CLASSES_ROOT, class_);
        ASSERT_EQ(Lower(original_), Lower(ShellIconLocation(witness_)));
    }

    std::string ClassValue(const std::string& subkey, const char* name = "")
    {
        return ValueText(HKEY_CLASSES_ROOT, class_ + (subkey.empty() ? "" : "\\" + subkey), name);
    }
    bool ClassKeyExists(const std::string& subkey) { return test::KeyExists(HKEY_CLASSES_ROOT, class_ + "\\" + subkey); }
    IconLocation ClassRecord() const
    {
        IconLocation record;
        record.SetTypeKey(class_.c_str());
        record.SetOwner(ext_.c_str());
        return record;
    }
    std::string Icon(std::int32_t index) const { return library_ + "," + std::to_string(index); }

    // The class as it was before the sequence: its DefaultIcon text, no backup of the
    // type, no backups of the installation, no handler of this extension's, and no entry
    // left in the table; the shell shows the original icon for a file of the type.
    void ExpectClassAsBefore()
    {
        EXPECT_EQ(original_, ClassValue("DefaultIcon"));
        EXPECT_EQ("<none>", ClassValue("DefaultIcon", BackupIconValue));
        EXPECT_FALSE(ClassKeyExists("DefaultIconBAK"));
        EXPECT_FALSE(ClassKeyExists("shellex\\IconHandlerBAK"));
        EXPECT_FALSE(ClassKeyExists("shellex\\IconHandler"));
        EXPECT_FALSE(IsOwnIconHandler(ClassRecord()));
        EXPECT_EQ(0, CountFileIconsOfType(class_.c_str()));
        EXPECT_EQ(DumpWithout(before_, HandlerIconValue), DumpWithout(test::DumpKey(HKEY_CLASSES_ROOT, class_), HandlerIconValue));
        EXPECT_EQ(Lower(original_), Lower(ShellIconLocation(witness_)));
    }

    test::ScratchType type_{false};
    const std::string& ext_ = type_.Extension;
    const std::string& class_ = type_.Class;
    test::TempDir dir_;
    std::string typeIcon_;
    std::string library_;
    std::string original_;
    std::string a_;
    std::string b_;
    std::string witness_;
    std::string before_;

private:
    test::KeyGuard product_{HKEY_LOCAL_MACHINE, ProductRoot};
};

} // namespace

// ---------------------------------------------------------------------------------------
// Sequences through the dialog's operations

TEST_F(HandlerAndTypeTest, TypeThenFileThenRestoreTypeThenRestoreFile)
{
    ASSERT_EQ(ChangeResult::Done, Apply(a_, Type, library_, 2));
    ASSERT_EQ(ChangeResult::Done, Apply(b_, Single, library_, 7));
    EXPECT_EQ(Icon(2), ClassValue("DefaultIconBAK"));

    ASSERT_EQ(ChangeResult::Done, Restore(a_, Type));
    // The handler is still installed: the type's icon goes beside it, and into the text
    // that uninstalling puts back.
    EXPECT_EQ("%1", ClassValue("DefaultIcon"));
    EXPECT_EQ(original_, ClassValue("DefaultIcon", HandlerIconValue));
    EXPECT_EQ(original_, ClassValue("DefaultIconBAK"));
    EXPECT_EQ("<none>", ClassValue("DefaultIcon", BackupIconValue));
    const IconTarget sibling = OpenDialog(witness_, Type);
    ASSERT_TRUE(sibling.Current);
    EXPECT_EQ(original_, std::string(sibling.Current->IconPath) + "," + std::to_string(sibling.Current->Index));

    ASSERT_EQ(ChangeResult::Done, Restore(b_, Single));
    ExpectClassAsBefore();
}

TEST_F(HandlerAndTypeTest, FileThenTypeThenRestoreFileThenRestoreType)
{
    ASSERT_EQ(ChangeResult::Done, Apply(b_, Single, library_, 7));

    // A file of the type without an entry sees the type's icon, not the handler's "%1".
    const IconTarget typeTarget = OpenDialog(a_, Type);
    ASSERT_TRUE(typeTarget.Current);
    EXPECT_STRCASEEQ(typeIcon_.c_str(), typeTarget.Current->IconPath);
    EXPECT_EQ(1, typeTarget.Current->Index);
    EXPECT_EQ(class_, typeTarget.Current->TypeKey);
    EXPECT_EQ(ext_, typeTarget.Current->Owner);

    ASSERT_EQ(ChangeResult::Done, Apply(a_, Type, library_, 2));
    EXPECT_EQ(original_, ClassValue("DefaultIcon", BackupIconValue));
    EXPECT_EQ("%1", ClassValue("DefaultIcon"));
    EXPECT_EQ(Icon(2), ClassValue("DefaultIcon", HandlerIconValue));
    EXPECT_EQ(Icon(2), ClassValue("DefaultIconBAK"));

    ASSERT_EQ(ChangeResult::Done, Restore(b_, Single));
    EXPECT_EQ(Icon(2), ClassValue("DefaultIcon"));
    EXPECT_EQ(Lower(Icon(2)), Lower(ShellIconLocation(witness_)));

    ASSERT_EQ(ChangeResult::Done, Restore(a_, Type));
    ExpectClassAsBefore();
}

TEST_F(HandlerAndTypeTest, TypeChangedWhileInstalledStaysWhenTheLastFileIsRestored)
{
    ASSERT_EQ(ChangeResult::Done, Apply(b_, Single, library_, 7));
    ASSERT_EQ(ChangeResult::Done, Apply(a_, Type, library_, 2));
    // A second change of the type while installed replaces the first one in both places.
    ASSERT_EQ(ChangeResult::Done, Apply(a_, Type, library_, 4));
    EXPECT_EQ(Icon(4), ClassValue("DefaultIcon", HandlerIconValue));
    EXPECT_EQ(Icon(4), ClassValue("DefaultIconBAK"));
    EXPECT_EQ(original_, ClassValue("DefaultIcon", BackupIconValue));

    ASSERT_EQ(ChangeResult::Done, Restore(b_, Single));
    EXPECT_EQ(Icon(4), ClassValue("DefaultIcon"));
    EXPECT_FALSE(ClassKeyExists("DefaultIconBAK"));
    EXPECT_FALSE(IsOwnIconHandler(ClassRecord()));
    EXPECT_EQ(Lower(Icon(4)), Lower(ShellIconLocation(witness_)));
    EXPECT_EQ(Lower(Icon(4)), Lower(ShellIconLocation(b_)));
}

TEST_F(HandlerAndTypeTest, TypeChangedFromTheFileWithItsOwnIconBacksUpTheTypesIcon)
{
    // The dialog on a file with an entry of its own starts from that entry; ticking "all
    // files of that type" must still back up the type's icon, not the file's.
    ASSERT_EQ(ChangeResult::Done, Apply(b_, Single, library_, 7));
    ASSERT_EQ(ChangeResult::Done, Apply(b_, Type, library_, 2));
    EXPECT_EQ(original_, ClassValue("DefaultIcon", BackupIconValue));
    EXPECT_EQ(Icon(7) + "," + class_, ValueText(HKEY_LOCAL_MACHINE, FileIconsKey, b_.c_str()));

    ASSERT_EQ(ChangeResult::Done, Restore(b_, Type));
    EXPECT_EQ(original_, ClassValue("DefaultIconBAK"));
    ASSERT_EQ(ChangeResult::Done, Restore(b_, Single));
    ExpectClassAsBefore();
}

TEST_F(HandlerAndTypeTest, SequencesRepeatedEndWhereTheyStarted)
{
    // Each sequence may leave "HandlerIconInfo" behind; a later installation must not take
    // it for the type's icon. B: file, type, restore file, restore type. A: type, file,
    // restore type, restore file.
    const char order[] = "BBABAAB";
    for (int round = 0; order[round] != '\0'; ++round) {
        SCOPED_TRACE(std::string("round ") + std::to_string(round) + " " + order[round]);
        const std::int32_t typeIndex = 2 + round;
        if (order[round] == 'B') {
            ASSERT_EQ(ChangeResult::Done, Apply(b_, Single, library_, 1));
            ASSERT_EQ(ChangeResult::Done, Apply(a_, Type, library_, typeIndex));
            EXPECT_EQ(original_, ClassValue("DefaultIcon", BackupIconValue));
            ASSERT_EQ(ChangeResult::Done, Restore(b_, Single));
            EXPECT_EQ(Icon(typeIndex), ClassValue("DefaultIcon"));
            ASSERT_EQ(ChangeResult::Done, Restore(a_, Type));
        } else {
            ASSERT_EQ(ChangeResult::Done, Apply(a_, Type, library_, typeIndex));
            ASSERT_EQ(ChangeResult::Done, Apply(b_, Single, library_, 1));
            ASSERT_EQ(ChangeResult::Done, Restore(a_, Type));
            ASSERT_EQ(ChangeResult::Done, Restore(b_, Single));
        }
        ExpectClassAsBefore();
    }
}

TEST_F(HandlerAndTypeTest, InterleavedOnTwoFilesWithTheirOwnIcons)
{
    ASSERT_EQ(ChangeResult::Done, Apply(a_, Single, library_, 3));
    ASSERT_EQ(ChangeResult::Done, Apply(witness_, Type, library_, 2));
    ASSERT_EQ(ChangeResult::Done, Apply(b_, Single, library_, 5));
    ASSERT_EQ(ChangeResult::Done, Apply(witness_, Type, library_, 6));
    ASSERT_EQ(ChangeResult::Done, Restore(a_, Single));
    EXPECT_TRUE(IsOwnIconHandler(ClassRecord()));
    ASSERT_EQ(ChangeResult::Done, Restore(witness_, Type));
    EXPECT_EQ(original_, ClassValue("DefaultIcon", HandlerIconValue));
    EXPECT_EQ(original_, ClassValue("DefaultIconBAK"));
    ASSERT_EQ(ChangeResult::Done, Restore(b_, Single));
    ExpectClassAsBefore();
}

TEST_F(HandlerAndTypeTest, InstalledOnAClassWithoutIconGivesNoTypeIconToBackUp)
{
    ASSERT_TRUE(test::DeleteKeyTree(HKEY_CLASSES_ROOT, class_ + "\\DefaultIcon"));
    ASSERT_EQ(ChangeResult::Done, Apply(b_, Single, library_, 7));
    EXPECT_EQ("", ClassValue("DefaultIconBAK"));

    // DefaultIcon says "%1" and nothing stands behind it: no current icon, so nothing to
    // back up for the type.
    IconTarget target = OpenDialog(a_, Type);
    EXPECT_FALSE(target.Current);
    ASSERT_TRUE(target.SetCurrentIconPath(library_.c_str()));
    target.SetCurrentIndex(2);
    ASSERT_EQ(ChangeResult::Done, target.ApplyIcon());
    EXPECT_EQ("<none>", ClassValue("DefaultIcon", BackupIconValue));

    ASSERT_EQ(ChangeResult::Done, Restore(b_, Single));
    EXPECT_EQ(Icon(2), ClassValue("DefaultIcon"));
    EXPECT_FALSE(ClassKeyExists("DefaultIconBAK"));
}

TEST_F(HandlerAndTypeTest, TypeWriteRefusedBesideTheHandlerIsReported)
{
    ASSERT_EQ(ChangeResult::Done, Apply(b_, Single, library_, 7));
    {
        // DefaultIconBAK cannot be written: the change is reported, and the icon the type
        // falls back to when uninstalled stays the one from before.
        test::ReadOnlyKey readOnly(HKEY_CLASSES_ROOT, class_ + "\\DefaultIconBAK");
        ASSERT_TRUE(readOnly.Applied());
        EXPECT_EQ(ChangeResult::AccessDenied, Apply(a_, Type, library_, 2));
        EXPECT_EQ(original_, ClassValue("DefaultIconBAK"));
        EXPECT_EQ(original_, ClassValue("DefaultIcon", BackupIconValue));
    }
    {
        // HandlerIconInfo cannot be written: nothing of the change is written.
        test::ReadOnlyKey readOnly(HKEY_CLASSES_ROOT, class_ + "\\DefaultIcon");
        ASSERT_TRUE(readOnly.Applied());
        IconLocation location = ClassRecord();
        ASSERT_TRUE(location.SetIconPath(library_.c_str()));
        location.SetIndex(4);
        const std::string handlerIcon = ClassValue("DefaultIcon", HandlerIconValue);
        EXPECT_EQ(ERROR_ACCESS_DENIED, SetTypeIcon(location));
        EXPECT_EQ(handlerIcon, ClassValue("DefaultIcon", HandlerIconValue));
        EXPECT_EQ(original_, ClassValue("DefaultIconBAK"));
    }
}

// ---------------------------------------------------------------------------------------
// The type's icon behind this extension's "%1"

struct BehindCase {
    const char* Name;
    const char* DefaultIcon;
    const char* Handler;       // null: no shellex\IconHandler
    const char* HandlerIcon;   // null: no "HandlerIconInfo"
    const char* IconBackup;    // null: no DefaultIconBAK key
    bool Placeholder;
    const char* Expected;      // "path,index", or null for none
};

const BehindCase BehindCases[] = {
    {"chosen since installing", "%1", OwnClsid, "C:\\h.ico,6", "C:\\b.ico,2", true, "C:\\h.ico,6"},
    {"only the text from before", "%1", OwnClsid, nullptr, "C:\\b.ico,2", true, "C:\\b.ico,2"},
    {"empty HandlerIconInfo", "%1", OwnClsid, "", "C:\\b.ico,2", true, "C:\\b.ico,2"},
    {"HandlerIconInfo without a path", "%1", OwnClsid, ",5", "C:\\b.ico,2", true, "C:\\b.ico,2"},
    {"no icon before installing", "%1", OwnClsid, nullptr, "", true, nullptr},
    {"no backups at all", "%1", OwnClsid, nullptr, nullptr, true, nullptr},
    {"backup without an index", "%1", OwnClsid, nullptr, "C:\\b.ico", true, "C:\\b.ico,-99"},
    {"quoted %1", "\"%1\"", OwnClsid, nullptr, "C:\\b.ico,2", true, "C:\\b.ico,2"},
    {"another handler", "%1", OtherClsid, "C:\\h.ico,6", "C:\\b.ico,2", false, nullptr},
    {"own identifier in lower case", "%1", test::OwnClsidInLowerCase.Text, "C:\\h.ico,6", "C:\\b.ico,2",
     false, nullptr},
    {"no handler", "%1", nullptr, "C:\\h.ico,6", "C:\\b.ico,2", false, nullptr},
    {"an icon of its own", "C:\\t.ico,1", OwnClsid, "C:\\h.ico,6", "C:\\b.ico,2", false, nullptr},
};

TEST(TypeIconBehindHandler, Table)
{
    for (const auto& c : BehindCases) {
        SCOPED_TRACE(c.Name);
        test::ScratchType type;
        type.SetDefaultIcon(c.DefaultIcon);
        if (c.Handler != nullptr)
            type.SetHandler(c.Handler);
        if (c.HandlerIcon != nullptr) {
            ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, type.Key("DefaultIcon"), HandlerIconValue, c.HandlerIcon));
        }
        if (c.IconBackup != nullptr) {
            ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, type.Key("DefaultIconBAK"), nullptr, c.IconBackup));
        }

        const auto typeIcon = ReadTypeDefaultIcon(type.Extension.c_str());
        ASSERT_TRUE(typeIcon);
        EXPECT_EQ(c.Placeholder, IsOwnHandlerPlaceholder(*typeIcon));
        const auto behind = ReadTypeIconBehindHandler(*typeIcon);
        if (c.Expected == nullptr) {
            EXPECT_FALSE(behind);
            continue;
        }
        ASSERT_TRUE(behind);
        EXPECT_EQ(c.Expected, std::string(behind->IconPath) + "," + std::to_string(behind->Index));
        EXPECT_EQ(type.Class, behind->TypeKey);
        EXPECT_EQ(type.Extension, behind->Owner);
    }
}

TEST(TypeIconBehindHandler, HostileBackupData)
{
    struct Case {
        const char* Name;
        DWORD Type;
        std::string Data; // stored as is, no terminator added
        const char* Expected;
    };
    const Case cases[] = {
        {"unterminated text", REG_SZ, "C:\\b.ico,2", "C:\\b.ico,2"},
        {"binary", REG_BINARY, "C:\\b.ico,3", "C:\\b.ico,3"},
        {"expandable, taken literally", REG_EXPAND_SZ, std::string("%SystemRoot%\\b.ico,4") + '\0',
         "%SystemRoot%\\b.ico,4"},
        {"path of 300 characters", REG_SZ, "C:\\" + std::string(297, 'p') + ",1" + '\0', nullptr},
        {"more than the read limit", REG_BINARY, std::string(2000, 'x'), nullptr},
        {"no data", REG_SZ, "", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        test::ScratchType type;
        type.SetDefaultIcon("%1");
        type.SetHandler(OwnClsid);
        ASSERT_TRUE(test::WriteValue(HKEY_CLASSES_ROOT, type.Key("DefaultIconBAK"), nullptr, c.Type, c.Data.data(),
                                     static_cast<DWORD>(c.Data.size())));
        const auto typeIcon = ReadTypeDefaultIcon(type.Extension.c_str());
        ASSERT_TRUE(typeIcon);
        const auto behind = ReadTypeIconBehindHandler(*typeIcon);
        if (c.Expected == nullptr) {
            EXPECT_FALSE(behind);
            continue;
        }
        ASSERT_TRUE(behind);
        EXPECT_EQ(c.Expected, std::string(behind->IconPath) + "," + std::to_string(behind->Index));
    }
}

TEST(TypeIconBehindHandler, FoundThroughCurVerInTheClassThatHoldsTheHandler)
{
    test::ScratchType type;
    const std::string versioned = type.Class + ".2";
    test::KeyGuard versionedGuard(HKEY_CLASSES_ROOT, versioned);
    ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, type.Key("CurVer"), nullptr, versioned));
    ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, versioned + "\\DefaultIcon", nullptr, "%1"));
    ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, versioned + "\\shellex\\IconHandler", nullptr, OwnClsid));
    ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, versioned + "\\DefaultIconBAK", nullptr, "C:\\v.ico,3"));
    // Backups in the class the extension names are not the ones of the installation.
    ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, type.Key("DefaultIconBAK"), nullptr, "C:\\wrong.ico,1"));

    const auto typeIcon = ReadTypeDefaultIcon(type.Extension.c_str());
    ASSERT_TRUE(typeIcon);
    ASSERT_TRUE(IsOwnHandlerPlaceholder(*typeIcon));
    const auto behind = ReadTypeIconBehindHandler(*typeIcon);
    ASSERT_TRUE(behind);
    EXPECT_STREQ("C:\\v.ico", behind->IconPath);
    EXPECT_EQ(3, behind->Index);
    EXPECT_EQ(versioned, behind->TypeKey);
}

TEST(TypeIconBehindHandler, ClassNameOfTheLongestKeyNameLength)
{
    // "<class>\DefaultIconBAK" is longer than the 8-bit registry calls take in one path.
    std::string name = test::UniqueName("");
    name += std::string(255 - name.size(), 'c');
    test::KeyGuard guard(HKEY_CLASSES_ROOT, name);
    ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, name, nullptr, "long"));
    HKEY classKey = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CLASSES_ROOT, name.c_str(), 0, KEY_ALL_ACCESS, &classKey));
    ASSERT_TRUE(test::WriteString(classKey, "DefaultIcon", nullptr, "%1"));
    ASSERT_TRUE(test::WriteString(classKey, "shellex\\IconHandler", nullptr, OwnClsid));
    RegCloseKey(classKey);

    IconLocation typeIcon("%1", ".x", NoIndex);
    ASSERT_TRUE(typeIcon.SetTypeKey(name.c_str()));
    IconLocation location("C:\\l.ico", ".x", 5);
    ASSERT_TRUE(location.SetTypeKey(name.c_str()));
    ASSERT_EQ(ERROR_SUCCESS, WriteDefaultIconBackup(location));
    const auto behind = ReadTypeIconBehindHandler(typeIcon);
    ASSERT_TRUE(behind);
    EXPECT_STREQ("C:\\l.ico", behind->IconPath);
    EXPECT_EQ(5, behind->Index);
}

// ---------------------------------------------------------------------------------------
// SetTypeIcon and the backup of the installation

TEST(SetTypeIconBesideTheHandler, WritesBothPlacesOnlyWhileThisExtensionIsTheHandler)
{
    test::ScratchType type;
    type.SetDefaultIcon("%1");
    IconLocation location = LocationOf(type);
    ASSERT_TRUE(location.SetIconPath("C:\\t.ico"));
    location.SetIndex(NoIndex);

    // Not installed: DefaultIcon itself, no backup of an installation is made up.
    ASSERT_EQ(ERROR_SUCCESS, SetTypeIcon(location));
    EXPECT_EQ("C:\\t.ico,4294967197", ValueText(HKEY_CLASSES_ROOT, type.Key("DefaultIcon")));
    EXPECT_FALSE(test::KeyExists(HKEY_CLASSES_ROOT, type.Key("DefaultIconBAK")));

    // Another handler (or this identifier in another case) is not this extension.
    type.SetDefaultIcon("%1");
    type.SetHandler(OtherClsid);
    ASSERT_EQ(ERROR_SUCCESS, SetTypeIcon(location));
    EXPECT_EQ("C:\\t.ico,4294967197", ValueText(HKEY_CLASSES_ROOT, type.Key("DefaultIcon")));
    EXPECT_FALSE(test::KeyExists(HKEY_CLASSES_ROOT, type.Key("DefaultIconBAK")));

    // Installed, even with DefaultIconBAK gone: both are written, the backup created as
    // REG_SZ in the short form.
    type.SetDefaultIcon("%1");
    type.SetHandler(OwnClsid);
    ASSERT_EQ(ERROR_SUCCESS, SetTypeIcon(location));
    EXPECT_EQ("%1", ValueText(HKEY_CLASSES_ROOT, type.Key("DefaultIcon")));
    EXPECT_EQ("C:\\t.ico,4294967197", ValueText(HKEY_CLASSES_ROOT, type.Key("DefaultIcon"), HandlerIconValue));
    std::string text;
    DWORD valueType = 0;
    ASSERT_TRUE(test::ReadValue(HKEY_CLASSES_ROOT, type.Key("DefaultIconBAK"), nullptr, &text, &valueType));
    EXPECT_EQ("C:\\t.ico,4294967197", text);
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), valueType);

    // Uninstalling now leaves the class on that icon.
    ASSERT_EQ(ERROR_SUCCESS, UninstallIconHandler(LocationOf(type)));
    EXPECT_EQ("C:\\t.ico,4294967197", ValueText(HKEY_CLASSES_ROOT, type.Key("DefaultIcon")));
    EXPECT_FALSE(IsOwnIconHandler(LocationOf(type)));
}

TEST(SetTypeIconBesideTheHandler, BackupTextTooLongIsRefused)
{
    test::ScratchType type;
    type.SetDefaultIcon("%1");
    type.SetHandler(OwnClsid);
    IconLocation location = LocationOf(type);
    ASSERT_TRUE(location.SetIconPath(("C:\\" + std::string(252, 'p')).c_str()));
    location.SetIndex(12345);
    EXPECT_EQ(ERROR_FILENAME_EXCED_RANGE, WriteDefaultIconBackup(location));
    EXPECT_FALSE(test::KeyExists(HKEY_CLASSES_ROOT, type.Key("DefaultIconBAK")));
    IconLocation noClass("C:\\a.ico", ".x", 1);
    EXPECT_EQ(ERROR_INVALID_PARAMETER, WriteDefaultIconBackup(noClass));
}

// ---------------------------------------------------------------------------------------
// A "HandlerIconInfo" left from an earlier installation

TEST(HandlerIconLeftover, DroppedWhenANewInstallationBegins)
{
    test::ScratchType type;
    type.SetDefaultIcon("C:\\now.ico,3");
    ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, type.Key("DefaultIcon"), HandlerIconValue, "C:\\stale.ico,1"));

    ASSERT_EQ(ERROR_SUCCESS, InstallIconHandler(LocationOf(type)));
    EXPECT_EQ("<none>", ValueText(HKEY_CLASSES_ROOT, type.Key("DefaultIcon"), HandlerIconValue));
    const auto typeIcon = ReadTypeDefaultIcon(type.Extension.c_str());
    ASSERT_TRUE(typeIcon);
    const auto behind = ReadTypeIconBehindHandler(*typeIcon);
    ASSERT_TRUE(behind);
    EXPECT_STREQ("C:\\now.ico", behind->IconPath);

    // A second installation over this extension's own keeps what was chosen since.
    ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, type.Key("DefaultIcon"), HandlerIconValue, "C:\\chosen.ico,2"));
    ASSERT_EQ(ERROR_SUCCESS, InstallIconHandler(LocationOf(type)));
    EXPECT_EQ("C:\\chosen.ico,2", ValueText(HKEY_CLASSES_ROOT, type.Key("DefaultIcon"), HandlerIconValue));

    ASSERT_EQ(ERROR_SUCCESS, UninstallIconHandler(LocationOf(type)));
    EXPECT_EQ("C:\\now.ico,3", ValueText(HKEY_CLASSES_ROOT, type.Key("DefaultIcon")));
}
