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
#include <vector>

#include "ClassIconHandler.h"
#include "FileIconTable.h"
#include "FileTypeIcons.h"
#include "HandlerPlaceholder.h"
#include "IconHandlerInstall.h"
#include "IconHandlerUninstall.h"
#include "IconTarget.h"
#include "OwnIdentity.h"
#include "Registry.h"
#include "RegistryNames.h"
#include "RemoveAll.h"
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
std::wstring DumpWithout(const std::wstring& dump, const std::wstring& valueName)
{
    const std::wstring marker = L"value [" + valueName + L"]";
    std::wstring out;
    std::size_t start = 0;
    while (start < dump.size()) {
        std::size_t end = dump.find(L'\n', start);
        end = end == std::wstring::npos ? dump.size() : end + 1;
        const std::wstring line = dump.substr(start, end - start);
        if (line.find(marker) == std::wstring::npos)
            out += line;
        start = end;
    }
    return out;
}

// What the dialog does when it opens on a file: classify, read the current icon, keep a
// copy. `allOfType` is the check box as the user leaves it.
IconTarget OpenDialog(const std::wstring& path, bool allOfType)
{
    IconTarget target(path.c_str());
    target.RememberOriginal(target.ReadCurrentIcon());
    target.SetAllOfType(allOfType);
    return target;
}

ChangeResult Apply(const std::wstring& file, bool allOfType, const std::wstring& iconPath, std::int32_t index)
{
    IconTarget target = OpenDialog(file, allOfType);
    if (!target.SetCurrentIconPath(iconPath.c_str()))
        return ChangeResult::PathTooLong;
    target.SetCurrentIndex(index);
    return target.ApplyIcon();
}

ChangeResult Restore(const std::wstring& file, bool allOfType)
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
        typeIcon_ = test::WriteIconFile(dir_.Path() + L"\\type.ico", 8);
        library_ = test::WriteIconFile(dir_.Path() + L"\\library.ico", 12);
        original_ = typeIcon_ + L",1";
        ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, ext_, L"", class_));
        ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, class_, L"", L"Test document"));
        ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, class_ + L"\\DefaultIcon", L"", original_));
        a_ = dir_.MakeFile(L"a" + ext_);
        b_ = dir_.MakeFile(L"b" + ext_);
        witness_ = dir_.MakeFile(L"witness" + ext_);
        before_ = test::DumpKey(HKEY_CLASSES_ROOT, class_);
        ASSERT_EQ(Lower(original_), Lower(ShellIconLocation(witness_)));
    }

    std::wstring ClassValue(const std::wstring& subkey, const wchar_t* name = L"")
    {
        return ValueText(HKEY_CLASSES_ROOT, class_ + (subkey.empty() ? L"" : L"\\" + subkey), name);
    }
    bool ClassKeyExists(const std::wstring& subkey)
    {
        return test::KeyExists(HKEY_CLASSES_ROOT, class_ + L"\\" + subkey);
    }
    IconLocation ClassRecord() const
    {
        IconLocation record;
        record.SetTypeKey(class_.c_str());
        record.SetTargetName(ext_.c_str());
        return record;
    }
    std::wstring Icon(std::int32_t index) const { return library_ + L"," + std::to_wstring(index); }

    // The class as it was before the sequence: its DefaultIcon text, no backup of the
    // type, no backups of the installation, no handler of this extension's, and no entry
    // left in the table; the shell shows the original icon for a file of the type.
    void ExpectClassAsBefore()
    {
        EXPECT_EQ(original_, ClassValue(L"DefaultIcon"));
        EXPECT_EQ(L"<none>", ClassValue(L"DefaultIcon", BackupIconValue));
        EXPECT_FALSE(ClassKeyExists(L"DefaultIconBAK"));
        EXPECT_FALSE(ClassKeyExists(L"shellex\\IconHandlerBAK"));
        EXPECT_FALSE(ClassKeyExists(L"shellex\\IconHandler"));
        EXPECT_FALSE(IsOwnIconHandler(ClassRecord()));
        EXPECT_EQ(0, CountFileIconsOfType(class_.c_str()));
        EXPECT_EQ(DumpWithout(before_, HandlerIconValue), DumpWithout(test::DumpKey(HKEY_CLASSES_ROOT, class_), HandlerIconValue));
        EXPECT_EQ(Lower(original_), Lower(ShellIconLocation(witness_)));
    }

    test::ScratchType type_{false};
    const std::wstring& ext_ = type_.Extension;
    const std::wstring& class_ = type_.Class;
    test::TempDir dir_;
    std::wstring typeIcon_;
    std::wstring library_;
    std::wstring original_;
    std::wstring a_;
    std::wstring b_;
    std::wstring witness_;
    std::wstring before_;

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
    EXPECT_EQ(Icon(2), ClassValue(L"DefaultIconBAK"));

    ASSERT_EQ(ChangeResult::Done, Restore(a_, Type));
    // The handler is still installed: the type's icon goes beside it, and into the text
    // that uninstalling puts back.
    EXPECT_EQ(L"%1", ClassValue(L"DefaultIcon"));
    EXPECT_EQ(original_, ClassValue(L"DefaultIcon", HandlerIconValue));
    EXPECT_EQ(original_, ClassValue(L"DefaultIconBAK"));
    EXPECT_EQ(L"<none>", ClassValue(L"DefaultIcon", BackupIconValue));
    const IconTarget sibling = OpenDialog(witness_, Type);
    ASSERT_TRUE(sibling.Current);
    EXPECT_EQ(original_, std::wstring(sibling.Current->IconPath) + L"," + std::to_wstring(sibling.Current->Index));

    ASSERT_EQ(ChangeResult::Done, Restore(b_, Single));
    ExpectClassAsBefore();
}

TEST_F(HandlerAndTypeTest, FileThenTypeThenRestoreFileThenRestoreType)
{
    ASSERT_EQ(ChangeResult::Done, Apply(b_, Single, library_, 7));

    // A file of the type without an entry sees the type's icon, not the handler's "%1".
    const IconTarget typeTarget = OpenDialog(a_, Type);
    ASSERT_TRUE(typeTarget.Current);
    EXPECT_EQ(Lower(typeIcon_), Lower(typeTarget.Current->IconPath));
    EXPECT_EQ(1, typeTarget.Current->Index);
    EXPECT_EQ(class_, typeTarget.Current->TypeKey);
    EXPECT_EQ(ext_, typeTarget.Current->TargetName);

    ASSERT_EQ(ChangeResult::Done, Apply(a_, Type, library_, 2));
    EXPECT_EQ(original_, ClassValue(L"DefaultIcon", BackupIconValue));
    EXPECT_EQ(L"%1", ClassValue(L"DefaultIcon"));
    EXPECT_EQ(Icon(2), ClassValue(L"DefaultIcon", HandlerIconValue));
    EXPECT_EQ(Icon(2), ClassValue(L"DefaultIconBAK"));

    ASSERT_EQ(ChangeResult::Done, Restore(b_, Single));
    EXPECT_EQ(Icon(2), ClassValue(L"DefaultIcon"));
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
    EXPECT_EQ(Icon(4), ClassValue(L"DefaultIcon", HandlerIconValue));
    EXPECT_EQ(Icon(4), ClassValue(L"DefaultIconBAK"));
    EXPECT_EQ(original_, ClassValue(L"DefaultIcon", BackupIconValue));

    ASSERT_EQ(ChangeResult::Done, Restore(b_, Single));
    EXPECT_EQ(Icon(4), ClassValue(L"DefaultIcon"));
    EXPECT_FALSE(ClassKeyExists(L"DefaultIconBAK"));
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
    EXPECT_EQ(original_, ClassValue(L"DefaultIcon", BackupIconValue));
    EXPECT_EQ(Icon(7) + L"," + class_, ValueText(HKEY_LOCAL_MACHINE, FileIconsKey, b_.c_str()));

    ASSERT_EQ(ChangeResult::Done, Restore(b_, Type));
    EXPECT_EQ(original_, ClassValue(L"DefaultIconBAK"));
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
            EXPECT_EQ(original_, ClassValue(L"DefaultIcon", BackupIconValue));
            ASSERT_EQ(ChangeResult::Done, Restore(b_, Single));
            EXPECT_EQ(Icon(typeIndex), ClassValue(L"DefaultIcon"));
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
    EXPECT_EQ(original_, ClassValue(L"DefaultIcon", HandlerIconValue));
    EXPECT_EQ(original_, ClassValue(L"DefaultIconBAK"));
    ASSERT_EQ(ChangeResult::Done, Restore(b_, Single));
    ExpectClassAsBefore();
}

TEST_F(HandlerAndTypeTest, InstalledOnAClassWithoutIconGivesNoTypeIconToBackUp)
{
    ASSERT_TRUE(test::DeleteKeyTree(HKEY_CLASSES_ROOT, class_ + L"\\DefaultIcon"));
    ASSERT_EQ(ChangeResult::Done, Apply(b_, Single, library_, 7));
    EXPECT_EQ(L"", ClassValue(L"DefaultIconBAK"));

    // DefaultIcon says "%1" and nothing stands behind it: no current icon, and the type's
    // backup says that the class had none (empty).
    IconTarget target = OpenDialog(a_, Type);
    EXPECT_FALSE(target.Current);
    ASSERT_TRUE(target.SetCurrentIconPath(library_.c_str()));
    target.SetCurrentIndex(2);
    ASSERT_EQ(ChangeResult::Done, target.ApplyIcon());
    EXPECT_EQ(L"", ClassValue(L"DefaultIcon", BackupIconValue));

    ASSERT_EQ(ChangeResult::Done, Restore(b_, Single));
    EXPECT_EQ(Icon(2), ClassValue(L"DefaultIcon"));
    EXPECT_FALSE(ClassKeyExists(L"DefaultIconBAK"));
    // Restoring the type then takes its icon away: the class has no DefaultIcon again.
    ASSERT_EQ(ChangeResult::Done, Restore(a_, Type));
    EXPECT_FALSE(ClassKeyExists(L"DefaultIcon"));
}

TEST_F(HandlerAndTypeTest, TypeWriteRefusedBesideTheHandlerIsReported)
{
    ASSERT_EQ(ChangeResult::Done, Apply(b_, Single, library_, 7));
    {
        // DefaultIconBAK cannot be written: the change is reported, and the icon the type
        // falls back to when uninstalled stays the one from before.
        test::ReadOnlyKey readOnly(HKEY_CLASSES_ROOT, class_ + L"\\DefaultIconBAK");
        ASSERT_TRUE(readOnly.Applied());
        EXPECT_EQ(ChangeResult::AccessDenied, Apply(a_, Type, library_, 2));
        EXPECT_EQ(original_, ClassValue(L"DefaultIconBAK"));
        EXPECT_EQ(original_, ClassValue(L"DefaultIcon", BackupIconValue));
    }
    {
        // HandlerIconInfo cannot be written: nothing of the change is written.
        test::ReadOnlyKey readOnly(HKEY_CLASSES_ROOT, class_ + L"\\DefaultIcon");
        ASSERT_TRUE(readOnly.Applied());
        IconLocation location = ClassRecord();
        ASSERT_TRUE(location.SetIconPath(library_.c_str()));
        location.SetIndex(4);
        const std::wstring handlerIcon = ClassValue(L"DefaultIcon", HandlerIconValue);
        EXPECT_EQ(ERROR_ACCESS_DENIED, SetTypeIcon(location, Scope::AllUsers));
        EXPECT_EQ(handlerIcon, ClassValue(L"DefaultIcon", HandlerIconValue));
        EXPECT_EQ(original_, ClassValue(L"DefaultIconBAK"));
    }
}

// ---------------------------------------------------------------------------------------
// The type's icon behind this extension's "%1"

struct BehindCase {
    const char* Name;
    const wchar_t* DefaultIcon;
    const wchar_t* Handler;     // null: no shellex\IconHandler
    const wchar_t* HandlerIcon; // null: no "HandlerIconInfo"
    const wchar_t* IconBackup;  // null: no DefaultIconBAK key
    bool Placeholder;
    const wchar_t* Expected;    // "path,index", or null for none
};

const BehindCase BehindCases[] = {
    {"chosen since installing", L"%1", OwnClsid, L"C:\\h.ico,6", L"C:\\b.ico,2", true, L"C:\\h.ico,6"},
    {"only the text from before", L"%1", OwnClsid, nullptr, L"C:\\b.ico,2", true, L"C:\\b.ico,2"},
    {"empty HandlerIconInfo", L"%1", OwnClsid, L"", L"C:\\b.ico,2", true, L"C:\\b.ico,2"},
    {"HandlerIconInfo without a path", L"%1", OwnClsid, L",5", L"C:\\b.ico,2", true, L"C:\\b.ico,2"},
    {"no icon before installing", L"%1", OwnClsid, nullptr, L"", true, nullptr},
    {"no backups at all", L"%1", OwnClsid, nullptr, nullptr, true, nullptr},
    {"backup without an index", L"%1", OwnClsid, nullptr, L"C:\\b.ico", true, L"C:\\b.ico,-99"},
    {"quoted %1", L"\"%1\"", OwnClsid, nullptr, L"C:\\b.ico,2", true, L"C:\\b.ico,2"},
    {"another handler", L"%1", OtherClsid, L"C:\\h.ico,6", L"C:\\b.ico,2", false, nullptr},
    {"own identifier in lower case", L"%1", test::OwnClsidInLowerCase.Text, L"C:\\h.ico,6", L"C:\\b.ico,2",
     false, nullptr},
    {"no handler", L"%1", nullptr, L"C:\\h.ico,6", L"C:\\b.ico,2", false, nullptr},
    {"an icon of its own", L"C:\\t.ico,1", OwnClsid, L"C:\\h.ico,6", L"C:\\b.ico,2", false, nullptr},
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
            ASSERT_TRUE(
                test::WriteString(HKEY_CLASSES_ROOT, type.Key(L"DefaultIcon"), HandlerIconValue, c.HandlerIcon));
        }
        if (c.IconBackup != nullptr) {
            ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, type.Key(L"DefaultIconBAK"), nullptr, c.IconBackup));
        }

        const auto typeIcon = ReadTypeIcon(type.Extension.c_str(), nullptr, true);
        ASSERT_TRUE(typeIcon);
        EXPECT_EQ(c.Placeholder, IsOwnHandlerPlaceholder(*typeIcon));
        const auto behind = ReadTypeIconBehindHandler(*typeIcon);
        if (c.Expected == nullptr) {
            EXPECT_FALSE(behind);
            continue;
        }
        ASSERT_TRUE(behind);
        EXPECT_EQ(c.Expected, std::wstring(behind->IconPath) + L"," + std::to_wstring(behind->Index));
        EXPECT_EQ(type.Class, behind->TypeKey);
        EXPECT_EQ(type.Extension, behind->TargetName);
    }
}

TEST(TypeIconBehindHandler, HostileBackupData)
{
    struct Case {
        const char* Name;
        DWORD Type;
        std::wstring Data; // stored as is, no terminator added
        const wchar_t* Expected;
    };
    const Case cases[] = {
        {"unterminated text", REG_SZ, L"C:\\b.ico,2", L"C:\\b.ico,2"},
        {"binary", REG_BINARY, L"C:\\b.ico,3", L"C:\\b.ico,3"},
        {"expandable, taken literally", REG_EXPAND_SZ, std::wstring(L"%SystemRoot%\\b.ico,4") + L'\0',
         L"%SystemRoot%\\b.ico,4"},
        {"path of 300 characters", REG_SZ, L"C:\\" + std::wstring(297, L'p') + L",1" + L'\0', nullptr},
        {"more than the read limit", REG_BINARY, std::wstring(2000, L'x'), nullptr},
        {"no data", REG_SZ, L"", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        test::ScratchType type;
        type.SetDefaultIcon(L"%1");
        type.SetHandler(OwnClsid);
        ASSERT_TRUE(test::WriteValue(HKEY_CLASSES_ROOT, type.Key(L"DefaultIconBAK"), nullptr, c.Type, c.Data.data(),
                                     static_cast<DWORD>(c.Data.size() * sizeof(wchar_t))));
        const auto typeIcon = ReadTypeIcon(type.Extension.c_str(), nullptr, true);
        ASSERT_TRUE(typeIcon);
        const auto behind = ReadTypeIconBehindHandler(*typeIcon);
        if (c.Expected == nullptr) {
            EXPECT_FALSE(behind);
            continue;
        }
        ASSERT_TRUE(behind);
        EXPECT_EQ(c.Expected, std::wstring(behind->IconPath) + L"," + std::to_wstring(behind->Index));
    }
}

TEST(TypeIconBehindHandler, FoundThroughCurVerInTheClassThatHoldsTheHandler)
{
    test::ScratchType type;
    const std::wstring versioned = type.Class + L".2";
    test::KeyGuard versionedGuard(HKEY_CLASSES_ROOT, versioned);
    ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, type.Key(L"CurVer"), nullptr, versioned));
    ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, versioned + L"\\DefaultIcon", nullptr, L"%1"));
    ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, versioned + L"\\shellex\\IconHandler", nullptr, OwnClsid));
    ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, versioned + L"\\DefaultIconBAK", nullptr, L"C:\\v.ico,3"));
    // Backups in the class the extension names are not the ones of the installation.
    ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, type.Key(L"DefaultIconBAK"), nullptr, L"C:\\wrong.ico,1"));

    const auto typeIcon = ReadTypeIcon(type.Extension.c_str(), nullptr, true);
    ASSERT_TRUE(typeIcon);
    ASSERT_TRUE(IsOwnHandlerPlaceholder(*typeIcon));
    const auto behind = ReadTypeIconBehindHandler(*typeIcon);
    ASSERT_TRUE(behind);
    EXPECT_STREQ(L"C:\\v.ico", behind->IconPath);
    EXPECT_EQ(3, behind->Index);
    EXPECT_EQ(versioned, behind->TypeKey);
}

TEST(TypeIconBehindHandler, ClassNameOfTheLongestKeyNameLength)
{
    // "<class>\DefaultIconBAK" is longer than the 260 characters of a composed key path.
    std::wstring name = test::UniqueName(L"");
    name += std::wstring(255 - name.size(), L'c');
    test::KeyGuard guard(HKEY_CLASSES_ROOT, name);
    ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, name, nullptr, L"long"));
    HKEY classKey = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CLASSES_ROOT, name.c_str(), 0, KEY_ALL_ACCESS, &classKey));
    ASSERT_TRUE(test::WriteString(classKey, L"DefaultIcon", nullptr, L"%1"));
    ASSERT_TRUE(test::WriteString(classKey, L"shellex\\IconHandler", nullptr, OwnClsid));
    RegCloseKey(classKey);

    IconLocation typeIcon(L"%1", L".x", NoIndex);
    ASSERT_TRUE(typeIcon.SetTypeKey(name.c_str()));
    IconLocation location(L"C:\\l.ico", L".x", 5);
    ASSERT_TRUE(location.SetTypeKey(name.c_str()));
    ASSERT_EQ(ERROR_SUCCESS, WriteDefaultIconBackup(location));
    const auto behind = ReadTypeIconBehindHandler(typeIcon);
    ASSERT_TRUE(behind);
    EXPECT_STREQ(L"C:\\l.ico", behind->IconPath);
    EXPECT_EQ(5, behind->Index);
}

// ---------------------------------------------------------------------------------------
// SetTypeIcon and the backup of the installation

TEST(SetTypeIconBesideTheHandler, WritesBothPlacesOnlyWhileThisExtensionIsTheHandler)
{
    test::ScratchType type;
    type.SetDefaultIcon(L"%1");
    IconLocation location = LocationOf(type);
    ASSERT_TRUE(location.SetIconPath(L"C:\\t.ico"));
    location.SetIndex(NoIndex);

    // Not installed: DefaultIcon itself, no backup of an installation is made up.
    ASSERT_EQ(ERROR_SUCCESS, SetTypeIcon(location, Scope::AllUsers));
    EXPECT_EQ(L"C:\\t.ico", ValueText(HKEY_CLASSES_ROOT, type.Key(L"DefaultIcon")));
    EXPECT_FALSE(test::KeyExists(HKEY_CLASSES_ROOT, type.Key(L"DefaultIconBAK")));

    // Another handler (or this identifier in another case) is not this extension.
    type.SetDefaultIcon(L"%1");
    type.SetHandler(OtherClsid);
    ASSERT_EQ(ERROR_SUCCESS, SetTypeIcon(location, Scope::AllUsers));
    EXPECT_EQ(L"C:\\t.ico", ValueText(HKEY_CLASSES_ROOT, type.Key(L"DefaultIcon")));
    EXPECT_FALSE(test::KeyExists(HKEY_CLASSES_ROOT, type.Key(L"DefaultIconBAK")));

    // Installed, even with DefaultIconBAK gone: both are written, the backup created as
    // REG_SZ in the short form.
    type.SetDefaultIcon(L"%1");
    type.SetHandler(OwnClsid);
    ASSERT_EQ(ERROR_SUCCESS, SetTypeIcon(location, Scope::AllUsers));
    EXPECT_EQ(L"%1", ValueText(HKEY_CLASSES_ROOT, type.Key(L"DefaultIcon")));
    EXPECT_EQ(L"C:\\t.ico", ValueText(HKEY_CLASSES_ROOT, type.Key(L"DefaultIcon"), HandlerIconValue));
    std::wstring text;
    DWORD valueType = 0;
    ASSERT_TRUE(test::ReadValue(HKEY_CLASSES_ROOT, type.Key(L"DefaultIconBAK"), nullptr, &text, &valueType));
    EXPECT_EQ(L"C:\\t.ico", text);
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), valueType);

    // Uninstalling now leaves the class on that icon.
    ASSERT_EQ(ERROR_SUCCESS, UninstallIconHandler(LocationOf(type)));
    EXPECT_EQ(L"C:\\t.ico", ValueText(HKEY_CLASSES_ROOT, type.Key(L"DefaultIcon")));
    EXPECT_FALSE(IsOwnIconHandler(LocationOf(type)));
}

TEST(SetTypeIconBesideTheHandler, BackupTextTooLongIsRefused)
{
    test::ScratchType type;
    type.SetDefaultIcon(L"%1");
    type.SetHandler(OwnClsid);
    IconLocation location = LocationOf(type);
    ASSERT_TRUE(location.SetIconPath((L"C:\\" + std::wstring(252, L'p')).c_str()));
    location.SetIndex(12345);
    EXPECT_EQ(ERROR_FILENAME_EXCED_RANGE, WriteDefaultIconBackup(location));
    EXPECT_FALSE(test::KeyExists(HKEY_CLASSES_ROOT, type.Key(L"DefaultIconBAK")));
    IconLocation noClass(L"C:\\a.ico", L".x", 1);
    EXPECT_EQ(ERROR_INVALID_PARAMETER, WriteDefaultIconBackup(noClass));
}

// ---------------------------------------------------------------------------------------
// A "HandlerIconInfo" left from an earlier installation

TEST(HandlerIconLeftover, DroppedWhenANewInstallationBegins)
{
    test::ScratchType type;
    type.SetDefaultIcon(L"C:\\now.ico,3");
    ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, type.Key(L"DefaultIcon"), HandlerIconValue, L"C:\\stale.ico,1"));

    ASSERT_EQ(ERROR_SUCCESS, InstallIconHandler(LocationOf(type)));
    EXPECT_EQ(L"<none>", ValueText(HKEY_CLASSES_ROOT, type.Key(L"DefaultIcon"), HandlerIconValue));
    const auto typeIcon = ReadTypeIcon(type.Extension.c_str(), nullptr, true);
    ASSERT_TRUE(typeIcon);
    const auto behind = ReadTypeIconBehindHandler(*typeIcon);
    ASSERT_TRUE(behind);
    EXPECT_STREQ(L"C:\\now.ico", behind->IconPath);

    // A second installation over this extension's own keeps what was chosen since.
    ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, type.Key(L"DefaultIcon"), HandlerIconValue, L"C:\\chosen.ico,2"));
    ASSERT_EQ(ERROR_SUCCESS, InstallIconHandler(LocationOf(type)));
    EXPECT_EQ(L"C:\\chosen.ico,2", ValueText(HKEY_CLASSES_ROOT, type.Key(L"DefaultIcon"), HandlerIconValue));

    ASSERT_EQ(ERROR_SUCCESS, UninstallIconHandler(LocationOf(type)));
    EXPECT_EQ(L"C:\\now.ico,3", ValueText(HKEY_CLASSES_ROOT, type.Key(L"DefaultIcon")));
}

// ---------------------------------------------------------------------------------------
// The class a file's own icon goes to: the one Explorer takes the file's icon from, never
// a new one the extension is pointed at

namespace {

constexpr wchar_t FileExtsPrefix[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\";

// Every key a change of a file of `extension` may touch, in both scopes, as text.
std::wstring DumpTypeKeys(const std::wstring& extension, const std::vector<std::wstring>& classes)
{
    std::wstring out;
    for (const std::wstring& name : [&] {
             std::vector<std::wstring> names{extension};
             names.insert(names.end(), classes.begin(), classes.end());
             return names;
         }()) {
        out += L"[HKCR\\" + name + L"]\n" + test::DumpKey(HKEY_CLASSES_ROOT, name);
        out += L"[HKCU\\" + name + L"]\n" + test::DumpKey(HKEY_CURRENT_USER, L"Software\\Classes\\" + name);
    }
    out += L"[UserChoice]\n" + test::DumpKey(HKEY_CURRENT_USER, FileExtsPrefix + extension);
    return out;
}

ChangeResult ApplyOwnIcon(const std::wstring& file, ScopeChoice scope, const std::wstring& icon, std::int32_t index,
                          bool allOfType = false)
{
    IconTarget target(file.c_str());
    target.SetScopeChoice(scope);
    target.RememberOriginal(target.ReadCurrentIcon());
    target.SetAllOfType(allOfType);
    if (!target.SetCurrentIconPath(icon.c_str()))
        return ChangeResult::PathTooLong;
    target.SetCurrentIndex(index);
    return target.ApplyIcon();
}

ChangeResult RestoreOwnIcon(const std::wstring& file, ScopeChoice scope, bool allOfType = false)
{
    IconTarget target(file.c_str());
    target.SetScopeChoice(scope);
    target.RememberOriginal(target.ReadCurrentIcon());
    target.SetAllOfType(allOfType);
    return target.RestoreDefault();
}

} // namespace

TEST(ClassOfAFilesOwnIcon, IsTheClassExplorerUsesAndEverythingGoesBackExactly)
{
    // Wine's own .jpg names jpegfile, a class without DefaultIcon.
    test::KeyGuard product[] = {{HKEY_LOCAL_MACHINE, ProductRoot}, {HKEY_CURRENT_USER, ProductRoot}};
    test::KeyGuard jpeg[] = {{HKEY_CLASSES_ROOT, L".jpg"},
                             {HKEY_CLASSES_ROOT, L"jpegfile"},
                             {HKEY_CLASSES_ROOT, L"jpgfile"},
                             {HKEY_CURRENT_USER, L"Software\\Classes\\.jpg"},
                             {HKEY_CURRENT_USER, L"Software\\Classes\\jpegfile"},
                             {HKEY_CURRENT_USER, L"Software\\Classes\\jpgfile"},
                             {HKEY_CURRENT_USER, std::wstring(FileExtsPrefix) + L".jpg"}};

    struct Case {
        const char* Label;
        bool WinesJpeg;     // the prefix's own .jpg instead of the scratch extension
        ScopeChoice Scope;
        // Prepares the scratch type `t` (its extension unregistered) and names the class
        // the icon handler must serve.
        std::wstring (*Prepare)(const test::ScratchType& t, const std::wstring& b, const std::wstring& c);
    };
    const Case cases[] = {
        {"Wine's .jpg names jpegfile, which has no DefaultIcon", true, ScopeChoice::AllUsers,
         [](const test::ScratchType&, const std::wstring&, const std::wstring&) { return std::wstring(L"jpegfile"); }},
        {"a CurVer cycle ends at the last class not yet seen", false, ScopeChoice::AllUsers,
         [](const test::ScratchType& t, const std::wstring& b, const std::wstring&) {
             test::WriteString(HKEY_CLASSES_ROOT, t.Extension, nullptr, t.Class);
             test::WriteString(HKEY_CLASSES_ROOT, t.Class, nullptr, L"Cycle A");
             test::WriteString(HKEY_CLASSES_ROOT, t.Class + L"\\CurVer", nullptr, b);
             test::WriteString(HKEY_CLASSES_ROOT, b, nullptr, L"Cycle B");
             test::WriteString(HKEY_CLASSES_ROOT, b + L"\\CurVer", nullptr, t.Class);
             return b;
         }},
        {"a class whose CurVer names itself", false, ScopeChoice::AllUsers,
         [](const test::ScratchType& t, const std::wstring&, const std::wstring&) {
             test::WriteString(HKEY_CLASSES_ROOT, t.Extension, nullptr, t.Class);
             test::WriteString(HKEY_CLASSES_ROOT, t.Class, nullptr, L"Self");
             test::WriteString(HKEY_CLASSES_ROOT, t.Class + L"\\CurVer", nullptr, t.Class);
             return t.Class;
         }},
        {"a CurVer naming a class that does not exist is not followed", false, ScopeChoice::AllUsers,
         [](const test::ScratchType& t, const std::wstring&, const std::wstring& c) {
             test::WriteString(HKEY_CLASSES_ROOT, t.Extension, nullptr, t.Class);
             test::WriteString(HKEY_CLASSES_ROOT, t.Class, nullptr, L"Versioned");
             test::WriteString(HKEY_CLASSES_ROOT, t.Class + L"\\CurVer", nullptr, c);
             return t.Class;
         }},
        {"this user's change of all users' class without DefaultIcon", false, ScopeChoice::ThisUser,
         [](const test::ScratchType& t, const std::wstring&, const std::wstring&) {
             test::WriteString(HKEY_CLASSES_ROOT, t.Extension, nullptr, t.Class);
             test::WriteString(HKEY_CLASSES_ROOT, t.Class, nullptr, L"Shared");
             return t.Class;
         }},
        {"this user's change of a class that all users' CurVer leads to", false, ScopeChoice::ThisUser,
         [](const test::ScratchType& t, const std::wstring& b, const std::wstring&) {
             test::WriteString(HKEY_CLASSES_ROOT, t.Extension, nullptr, t.Class);
             test::WriteString(HKEY_CLASSES_ROOT, t.Class, nullptr, L"Versioned");
             test::WriteString(HKEY_CLASSES_ROOT, t.Class + L"\\CurVer", nullptr, b);
             test::WriteString(HKEY_CLASSES_ROOT, b, nullptr, L"Current version");
             test::WriteString(HKEY_CLASSES_ROOT, b + L"\\DefaultIcon", nullptr, L"shell32.dll,3");
             return b;
         }},
        {"UserChoice names an existing class without DefaultIcon", false, ScopeChoice::AllUsers,
         [](const test::ScratchType& t, const std::wstring& b, const std::wstring&) {
             test::WriteString(HKEY_CLASSES_ROOT, t.Extension, nullptr, t.Class);
             test::WriteString(HKEY_CLASSES_ROOT, t.Class, nullptr, L"Registered");
             test::WriteString(HKEY_CLASSES_ROOT, t.Class + L"\\DefaultIcon", nullptr, L"shell32.dll,3");
             test::WriteString(HKEY_CLASSES_ROOT, b, nullptr, L"Chosen");
             test::WriteString(HKEY_CURRENT_USER, FileExtsPrefix + t.Extension + L"\\UserChoice", L"ProgId", b);
             return b;
         }},
        {"this user's change of an extension that names no class", false, ScopeChoice::ThisUser,
         [](const test::ScratchType& t, const std::wstring&, const std::wstring&) { return t.Class; }},
    };
    test::TempDir dir;
    const std::wstring icon = test::WriteIconFile(dir.Path() + L"\\own.ico", 4);
    for (const Case& k : cases) {
        SCOPED_TRACE(k.Label);
        // Two scratch classes (and their extensions, unused but for the guards) besides
        // the type under test.
        test::ScratchType type(false);
        test::ScratchType second(false);
        test::ScratchType third(false);
        const std::wstring& b = second.Class;
        const std::wstring& c = third.Class;
        const std::wstring served = k.Prepare(type, b, c);
        const std::wstring extension = k.WinesJpeg ? L".jpg" : type.Extension;
        if (k.WinesJpeg && !test::KeyExists(HKEY_CLASSES_ROOT, L".jpg")) {
            // As Wine registers it with its HTML engine (which the test prefix leaves out).
            test::WriteString(HKEY_CLASSES_ROOT, L".jpg", nullptr, L"jpegfile");
            test::WriteString(HKEY_CLASSES_ROOT, L".jpg", L"Content Type", L"image/jpeg");
            test::WriteString(HKEY_CLASSES_ROOT, L"jpegfile", nullptr, L"JPEG Image");
            test::WriteString(HKEY_CLASSES_ROOT, L"jpegfile\\shell\\open\\command", nullptr,
                              L"\"C:\\Program Files\\Internet Explorer\\iexplore.exe\" %1");
        }
        if (k.WinesJpeg) {
            ASSERT_EQ(L"jpegfile", ValueText(HKEY_CLASSES_ROOT, L".jpg"));
            ASSERT_FALSE(test::KeyExists(HKEY_CLASSES_ROOT, L"jpegfile\\DefaultIcon"));
        }
        const std::vector<std::wstring> classes{type.Class, b, c, L"jpegfile", L"jpgfile", extension.substr(1) + L"file"};
        const std::wstring before = DumpTypeKeys(extension, classes);
        const std::wstring file = dir.MakeFile(L"photo" + extension);
        const std::wstring sibling = dir.MakeFile(L"other" + extension);
        const Scope scope = k.Scope == ScopeChoice::ThisUser ? Scope::ThisUser : Scope::AllUsers;

        // The type's icon goes to the same class, and its restore takes away what the
        // change wrote there: the class had no icon, and has none again. Over this user's
        // change of a type all users have, all users' change backs up all users' icon,
        // not the one this user sees.
        enum class TypeRoad { Alone, OverOwnIcon, AllUsersOverThisUsers };
        for (const TypeRoad road : {TypeRoad::Alone, TypeRoad::OverOwnIcon, TypeRoad::AllUsersOverThisUsers}) {
            if (road == TypeRoad::AllUsersOverThisUsers &&
                (scope != Scope::ThisUser || !test::KeyExists(HKEY_CLASSES_ROOT, extension)))
                continue;
            SCOPED_TRACE(road == TypeRoad::Alone         ? "the type's icon, restored"
                         : road == TypeRoad::OverOwnIcon ? "the type's icon over the file's own, restored"
                                                         : "all users' type icon over this user's, restored");
            if (road == TypeRoad::OverOwnIcon) {
                ASSERT_EQ(ChangeResult::Done, ApplyOwnIcon(file, k.Scope, icon, 2));
            }
            ASSERT_EQ(ChangeResult::Done, ApplyOwnIcon(sibling, k.Scope, icon, 3, true));
            IconTarget other(sibling.c_str());
            ASSERT_TRUE(other.ReadCurrentIcon());
            EXPECT_EQ(icon + L",3", std::wstring(other.Current->IconPath) + L"," + std::to_wstring(other.Current->Index));
            EXPECT_EQ(Lower(served), Lower(other.Current->TypeKey));
            EXPECT_EQ(other.CurrentScope(), scope);
            if (road == TypeRoad::AllUsersOverThisUsers) {
                ASSERT_EQ(ChangeResult::Done, ApplyOwnIcon(sibling, ScopeChoice::AllUsers, icon, 4, true));
                EXPECT_EQ(ChangeResult::Done, RestoreOwnIcon(sibling, ScopeChoice::AllUsers, true));
            }
            EXPECT_EQ(ChangeResult::Done, RestoreOwnIcon(sibling, k.Scope, true));
            if (road == TypeRoad::OverOwnIcon) {
                EXPECT_EQ(ChangeResult::Done, RestoreOwnIcon(file, k.Scope));
            }
            EXPECT_EQ(before, DumpTypeKeys(extension, classes));
        }

        for (const bool removeAll : {false, true}) {
            SCOPED_TRACE(removeAll ? "then remove-all" : "then restore");
            ASSERT_EQ(ChangeResult::Done, ApplyOwnIcon(file, k.Scope, icon, 2));
            EXPECT_TRUE(IsOwnIconHandler(served.c_str(), scope));
            const auto entry = ReadFileIcon(file.c_str());
            ASSERT_TRUE(entry);
            EXPECT_EQ(Lower(served), Lower(entry->TypeKey));
            // What Explorer reads through the extension is this extension's "%1".
            wchar_t seen[TextCapacity] = {};
            ASSERT_TRUE(ReadExtensionClass(extension.c_str(), seen));
            const auto typeIcon = LookupVisibleClassIcon(seen, nullptr, nullptr);
            ASSERT_TRUE(typeIcon);
            EXPECT_STREQ(L"%1", typeIcon->IconPath);
            EXPECT_EQ(Lower(served), Lower(typeIcon->TypeKey));
            IconTarget other(sibling.c_str());
            other.ReadCurrentIcon();
            EXPECT_FALSE(other.CurrentScope()) << "a sibling's icon is no setting of its own";

            if (removeAll) {
                EXPECT_EQ(ERROR_SUCCESS, RemoveAllSettings());
            } else {
                EXPECT_EQ(ChangeResult::Done, RestoreOwnIcon(file, k.Scope));
            }
            EXPECT_EQ(before, DumpTypeKeys(extension, classes));
        }
    }
}

// ---------------------------------------------------------------------------------------
// A type's icon comes back exactly as it was written; a backup that is not text is none

namespace {

ChangeResult ApplyTypeIcon(const std::wstring& file, const std::wstring& icon, std::int32_t index)
{
    IconTarget target(file.c_str());
    target.SetScopeChoice(ScopeChoice::AllUsers);
    target.RememberOriginal(target.ReadCurrentIcon());
    target.SetAllOfType(true);
    target.SetCurrentIconPath(icon.c_str());
    target.SetCurrentIndex(index);
    return target.ApplyIcon();
}

ChangeResult RestoreTypeIcon(const std::wstring& file)
{
    IconTarget target(file.c_str());
    target.SetScopeChoice(ScopeChoice::AllUsers);
    target.RememberOriginal(target.ReadCurrentIcon());
    target.SetAllOfType(true);
    return target.RestoreDefault();
}

} // namespace

TEST(TypeIconText, RestoredExactlyAsItWasWritten)
{
    struct Case {
        const wchar_t* Text; // the type's DefaultIcon as another program wrote it
        DWORD Type;
    };
    // Wine registers Msi.Package with "msiexec.exe"; resource ids are negative.
    const Case cases[] = {
        {L"msiexec.exe", REG_SZ},
        {L"%SystemRoot%\\system32\\msiexec.exe", REG_EXPAND_SZ},
        {L"C:\\icons\\lib.dll,-5", REG_SZ},
        {L"%SystemRoot%\\system32\\imageres.dll,-102", REG_EXPAND_SZ},
        {L"C:\\icons\\lib.dll,7", REG_SZ},
    };
    test::KeyGuard product(HKEY_LOCAL_MACHINE, ProductRoot);
    test::TempDir dir;
    const std::wstring icon = test::WriteIconFile(dir.Path() + L"\\new.ico", 3);
    for (const Case& c : cases) {
        SCOPED_TRACE(test::Utf8(c.Text));
        test::ScratchType type;
        type.SetDefaultIcon(c.Text, c.Type);
        const std::wstring file = dir.MakeFile(L"a" + type.Extension);
        const std::wstring before = type.Dump();

        ASSERT_EQ(ChangeResult::Done, ApplyTypeIcon(file, icon, 1));
        EXPECT_EQ(c.Text, ValueText(HKEY_CLASSES_ROOT, type.Key(L"DefaultIcon"), BackupIconValue));
        const auto backup = ReadTypeBackupIcon(type.Extension.c_str());
        ASSERT_TRUE(backup);
        const auto written = ParseIconLocation(c.Text, false);
        ASSERT_TRUE(written);
        EXPECT_EQ(written->Index, backup->Index);

        // A file's own icon meanwhile keeps the type's icon behind the handler as written.
        ASSERT_EQ(ChangeResult::Done, ApplyOwnIcon(dir.MakeFile(L"b" + type.Extension), ScopeChoice::AllUsers, icon, 2));
        ASSERT_EQ(ChangeResult::Done, RestoreTypeIcon(file));
        EXPECT_EQ(c.Text, ValueText(HKEY_CLASSES_ROOT, type.Key(L"DefaultIcon"), HandlerIconValue));
        EXPECT_EQ(c.Text, ValueText(HKEY_CLASSES_ROOT, type.Key(L"DefaultIconBAK")));
        ASSERT_EQ(ERROR_SUCCESS, RemoveAllSettings(Scope::AllUsers));
        EXPECT_EQ(c.Text, ValueText(HKEY_CLASSES_ROOT, type.Key(L"DefaultIcon")));

        // And without the handler in between.
        type.SetDefaultIcon(c.Text, c.Type);
        ASSERT_EQ(ChangeResult::Done, ApplyTypeIcon(file, icon, 1));
        ASSERT_EQ(ChangeResult::Done, RestoreTypeIcon(file));
        EXPECT_EQ(c.Text, ValueText(HKEY_CLASSES_ROOT, type.Key(L"DefaultIcon")));
        EXPECT_EQ(L"<none>", ValueText(HKEY_CLASSES_ROOT, type.Key(L"DefaultIcon"), BackupIconValue));
    }
}

TEST(TypeIconText, ABackupThatIsNotTextIsNoBackup)
{
    test::KeyGuard product(HKEY_LOCAL_MACHINE, ProductRoot);
    test::TempDir dir;
    const std::wstring icon = test::WriteIconFile(dir.Path() + L"\\new.ico", 3);
    const DWORD number = 1;
    const BYTE binary[] = {'x', 0, ',', 0, '3', 0};
    struct Case {
        const char* Label;
        DWORD Type;
        const void* Data;
        DWORD Size;
    };
    const Case cases[] = {
        {"dword", REG_DWORD, &number, sizeof number},
        {"binary", REG_BINARY, binary, sizeof binary},
        {"qword", REG_QWORD, "\x01\0\0\0\0\0\0\0", 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Label);
        test::ScratchType type;
        type.SetDefaultIcon(L"C:\\icons\\type.ico,4");
        ASSERT_TRUE(test::WriteValue(HKEY_CLASSES_ROOT, type.Key(L"DefaultIcon"), BackupIconValue, c.Type, c.Data,
                                     c.Size));
        const std::wstring file = dir.MakeFile(L"a" + type.Extension);
        EXPECT_FALSE(ReadTypeBackupIcon(type.Extension.c_str()));
        // A file's own icon puts the handler in; the type's backup must not reach its
        // "HandlerIconInfo", its DefaultIconBAK or, through remove-all, its DefaultIcon.
        ASSERT_EQ(ChangeResult::Done, ApplyOwnIcon(dir.MakeFile(L"b" + type.Extension), ScopeChoice::AllUsers, icon, 2));
        const std::wstring installed = type.Dump();
        EXPECT_EQ(ChangeResult::Done, RestoreTypeIcon(file));
        EXPECT_EQ(installed, type.Dump()) << "nothing to restore from";
        EXPECT_EQ(L"<none>", ValueText(HKEY_CLASSES_ROOT, type.Key(L"DefaultIcon"), HandlerIconValue));
        ASSERT_EQ(ERROR_SUCCESS, RemoveAllSettings(Scope::AllUsers));
        EXPECT_EQ(L"C:\\icons\\type.ico,4", ValueText(HKEY_CLASSES_ROOT, type.Key(L"DefaultIcon")));
        // Also a "HandlerIconInfo" that is not text is no icon chosen.
        ASSERT_EQ(ChangeResult::Done, ApplyOwnIcon(dir.MakeFile(L"c" + type.Extension), ScopeChoice::AllUsers, icon, 2));
        ASSERT_TRUE(test::WriteValue(HKEY_CLASSES_ROOT, type.Key(L"DefaultIcon"), HandlerIconValue, c.Type, c.Data,
                                     c.Size));
        IconTarget sibling(file.c_str());
        ASSERT_TRUE(sibling.ReadCurrentIcon());
        EXPECT_STREQ(L"C:\\icons\\type.ico", sibling.Current->IconPath);
        EXPECT_EQ(4, sibling.Current->Index);
        ASSERT_EQ(ERROR_SUCCESS, RemoveAllSettings(Scope::AllUsers));
    }
}
