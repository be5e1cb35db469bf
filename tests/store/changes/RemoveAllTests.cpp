#include <windows.h>

#include <gtest/gtest.h>

#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "ClassIconHandler.h"
#include "FileIconTable.h"
#include "FileTypeIcons.h"
#include "FolderIcons.h"
#include "IconHandlerInstall.h"
#include "IconLocation.h"
#include "Registry.h"
#include "RegistryNames.h"
#include "RemoveAll.h"
#include "ScratchRegistry.h"
#include "TestSupport.h"

using namespace orvane;
using test::ProductRoot;
using test::OtherClsid;
using test::OwnClsid;
using test::ReadOnlyKey;
using test::ScratchType;
using test::ValueText;

namespace {

// RemoveAllSettings walks all of HKEY_CLASSES_ROOT and deletes the product's tables
// under HKEY_LOCAL_MACHINE; the product key is put back after each test, and every class
// a test touches is a scratch class of its own.
class RemoveAllTest : public ::testing::Test {
protected:
    test::KeyGuard product_{HKEY_LOCAL_MACHINE, ProductRoot};

    // Gives a file of the type its own icon the way a single-file change does.
    static void GiveFileIcon(const ScratchType& type, const std::wstring& file)
    {
        IconLocation location(L"C:\\icons\\set.icl", type.Extension.c_str(), 7);
        location.SetTypeKey(type.Class.c_str());
        ASSERT_EQ(ERROR_SUCCESS, WriteFileIcon(location, file.c_str()));
        if (!IsOwnIconHandler(location)) {
            ASSERT_EQ(ERROR_SUCCESS, InstallIconHandler(location));
        }
    }
};

// The names of HKEY_CLASSES_ROOT's keys in the order the registry lists them.
std::vector<std::wstring> ClassesRootNames()
{
    std::vector<std::wstring> names;
    for (DWORD index = 0;; ++index) {
        wchar_t name[512];
        DWORD size = static_cast<DWORD>(std::size(name));
        if (RegEnumKeyExW(HKEY_CLASSES_ROOT, index, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.emplace_back(name, size);
    }
    return names;
}

// Every key that RemoveAllSettings may visit: the keys up to the end of the run of
// extensions, and the class that each extension names.
std::wstring DumpWalkedKeys()
{
    std::wstring out;
    bool inExtensions = false;
    for (const auto& name : ClassesRootNames()) {
        if (name[0] != L'.' && inExtensions)
            break;
        inExtensions = inExtensions || name[0] == L'.';
        out += L"[" + name + L"]\n" + test::DumpKey(HKEY_CLASSES_ROOT, name);
        std::wstring className;
        if (name[0] == L'.' && test::ReadValue(HKEY_CLASSES_ROOT, name, nullptr, &className) && !className.empty() &&
            className.size() < 256)
            out += L"class [" + className + L"]\n" + test::DumpKey(HKEY_CLASSES_ROOT, className);
    }
    return out;
}

TEST_F(RemoveAllTest, EveryInstalledClassGetsItsIconAndHandlerBack)
{
    ScratchType plain;
    plain.SetDefaultIcon(L"shell32.dll,1");
    ScratchType withHandler;
    withHandler.SetDefaultIcon(L"shell32.dll,2");
    withHandler.SetHandler(OtherClsid);
    ScratchType registered(false); // a class the installation had to create

    GiveFileIcon(plain, L"C:\\docs\\a" + plain.Extension);
    GiveFileIcon(plain, L"C:\\docs\\b" + plain.Extension);
    GiveFileIcon(withHandler, L"C:\\docs\\c" + withHandler.Extension);
    GiveFileIcon(registered, L"C:\\docs\\d" + registered.Extension);
    ASSERT_TRUE(IsOwnIconHandler(LocationOf(plain)));
    ASSERT_TRUE(IsOwnIconHandler(LocationOf(withHandler)));
    ASSERT_TRUE(IsOwnIconHandler(LocationOf(registered)));

    EXPECT_EQ(ERROR_SUCCESS, RemoveAllSettings());

    EXPECT_EQ(L"shell32.dll,1", ValueText(HKEY_CLASSES_ROOT, plain.Key(L"DefaultIcon")));
    EXPECT_FALSE(test::KeyExists(HKEY_CLASSES_ROOT, plain.Key(L"DefaultIconBAK")));
    EXPECT_FALSE(test::KeyExists(HKEY_CLASSES_ROOT, plain.Key(L"shellex"))) << "no handler of this extension's is left";

    EXPECT_EQ(L"shell32.dll,2", ValueText(HKEY_CLASSES_ROOT, withHandler.Key(L"DefaultIcon")));
    EXPECT_EQ(OtherClsid, ValueText(HKEY_CLASSES_ROOT, withHandler.Key(L"shellex\\IconHandler")));
    EXPECT_FALSE(test::KeyExists(HKEY_CLASSES_ROOT, withHandler.Key(L"DefaultIconBAK")));
    EXPECT_FALSE(test::KeyExists(HKEY_CLASSES_ROOT, withHandler.Key(L"shellex\\IconHandlerBAK")));

    EXPECT_FALSE(IsOwnIconHandler(LocationOf(registered)));
    EXPECT_FALSE(test::KeyExists(HKEY_CLASSES_ROOT, registered.Key(L"DefaultIcon")));
    EXPECT_EQ(registered.Class, ValueText(HKEY_CLASSES_ROOT, registered.Extension)) << "the registration stays";
}

TEST_F(RemoveAllTest, TheTablesGoAndTheProductKeyStays)
{
    ScratchType type;
    GiveFileIcon(type, L"C:\\docs\\a" + type.Extension);
    IconLocation folderBackup(L"C:\\icons\\folder.ico", L"C:\\docs", 3);
    ASSERT_EQ(ERROR_SUCCESS, WriteFolderBackup(folderBackup, L"C:\\docs"));
    ASSERT_TRUE(ReadFolderBackup(L"C:\\docs").has_value());
    test::WriteString(HKEY_LOCAL_MACHINE, ProductKey, L"Other", L"kept");

    EXPECT_EQ(ERROR_SUCCESS, RemoveAllSettings());

    EXPECT_FALSE(ReadFileIcon((L"C:\\docs\\a" + type.Extension).c_str()).has_value());
    EXPECT_FALSE(ReadFolderBackup(L"C:\\docs").has_value());
    EXPECT_FALSE(test::KeyExists(HKEY_LOCAL_MACHINE, FileIconsKey));
    EXPECT_FALSE(test::KeyExists(HKEY_LOCAL_MACHINE, FolderBackupKey));
    EXPECT_EQ(L"kept", ValueText(HKEY_LOCAL_MACHINE, ProductKey, L"Other"));
}

TEST_F(RemoveAllTest, TablesThatGainedSubkeysGoWhole)
{
    test::WriteString(HKEY_LOCAL_MACHINE, std::wstring(FileIconsKey) + L"\\stray\\deeper", nullptr, L"x");
    test::WriteString(HKEY_LOCAL_MACHINE, std::wstring(FolderBackupKey) + L"\\stray", nullptr, L"x");

    EXPECT_EQ(ERROR_SUCCESS, RemoveAllSettings());
    EXPECT_FALSE(test::KeyExists(HKEY_LOCAL_MACHINE, FileIconsKey));
    EXPECT_FALSE(test::KeyExists(HKEY_LOCAL_MACHINE, FolderBackupKey));
}

TEST_F(RemoveAllTest, WithNothingInstalledItSucceedsAndChangesNothing)
{
    test::DeleteKeyTree(HKEY_LOCAL_MACHINE, FileIconsKey);
    test::DeleteKeyTree(HKEY_LOCAL_MACHINE, FolderBackupKey);
    test::DeleteKeyTree(HKEY_LOCAL_MACHINE, FolderStateKey);
    ScratchType type;
    type.SetDefaultIcon(L"%1");
    type.SetHandler(OtherClsid);
    const std::wstring before = DumpWalkedKeys();

    EXPECT_EQ(ERROR_SUCCESS, RemoveAllSettings());
    EXPECT_EQ(before, DumpWalkedKeys());
}

TEST_F(RemoveAllTest, EveryVisitedKeyIsAsBeforeInstallationAndASecondRunChangesNothing)
{
    ScratchType plain;
    plain.SetDefaultIcon(L"%SystemRoot%\\system32\\shell32.dll,-3", REG_EXPAND_SZ);
    ScratchType withHandler;
    withHandler.SetDefaultIcon(L"shell32.dll,2");
    withHandler.SetHandler(OtherClsid);
    test::WriteString(HKEY_CLASSES_ROOT, withHandler.Key(L"shellex\\ContextMenuHandlers\\Other"), nullptr, OtherClsid);
    ScratchType withoutIcon;
    test::WriteString(HKEY_LOCAL_MACHINE, ProductKey, L"Other", L"kept");
    test::DeleteKeyTree(HKEY_LOCAL_MACHINE, FileIconsKey);
    test::DeleteKeyTree(HKEY_LOCAL_MACHINE, FolderBackupKey);
    test::DeleteKeyTree(HKEY_LOCAL_MACHINE, FolderStateKey);
    const std::wstring before = DumpWalkedKeys();
    const std::wstring productBefore = test::DumpKey(HKEY_LOCAL_MACHINE, ProductRoot);

    GiveFileIcon(plain, L"C:\\a" + plain.Extension);
    GiveFileIcon(withHandler, L"C:\\b" + withHandler.Extension);
    GiveFileIcon(withoutIcon, L"C:\\c" + withoutIcon.Extension);
    ASSERT_NE(before, DumpWalkedKeys());

    EXPECT_EQ(ERROR_SUCCESS, RemoveAllSettings());
    const std::wstring after = DumpWalkedKeys();
    EXPECT_EQ(before, after);
    const std::wstring productAfter = test::DumpKey(HKEY_LOCAL_MACHINE, ProductRoot);

    EXPECT_EQ(ERROR_SUCCESS, RemoveAllSettings());
    EXPECT_EQ(after, DumpWalkedKeys());
    EXPECT_EQ(productAfter, test::DumpKey(HKEY_LOCAL_MACHINE, ProductRoot));
    EXPECT_EQ(productBefore, productAfter);
}

TEST_F(RemoveAllTest, AClassWhoseHandlerAnotherProgramTookIsLeftToThatProgram)
{
    test::KeyGuard userProduct(HKEY_CURRENT_USER, ProductRoot);
    struct Case {
        const char* Label;
        Scope In;
        const wchar_t* Previous; // the handler before this extension's, if any
    };
    const Case cases[] = {
        {"all users', no handler before", Scope::AllUsers, nullptr},
        {"all users', over another handler", Scope::AllUsers, L"{11111111-2222-4333-8444-555555555555}"},
        {"this user's", Scope::ThisUser, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Label);
        ScratchType type;
        type.SetDefaultIcon(L"shell32.dll,4");
        if (c.Previous != nullptr)
            type.SetHandler(c.Previous);
        IconLocation location(L"C:\\icons\\set.icl", type.Extension.c_str(), 7);
        location.SetTypeKey(type.Class.c_str());
        ASSERT_EQ(ERROR_SUCCESS, WriteFileIcon(location, (L"C:\\docs\\a" + type.Extension).c_str(), c.In));
        ASSERT_EQ(ERROR_SUCCESS, InstallIconHandler(location, c.In));
        // Another program installs its own icon handler in this extension's place.
        const HKEY root = c.In == Scope::AllUsers ? HKEY_CLASSES_ROOT : HKEY_CURRENT_USER;
        const std::wstring classPath = (c.In == Scope::AllUsers ? L"" : L"Software\\Classes\\") + type.Class;
        ASSERT_TRUE(test::WriteString(root, classPath + L"\\shellex\\IconHandler", nullptr, OtherClsid));
        const std::wstring before = test::DumpKey(root, classPath);
        ASSERT_EQ(L"%1", ValueText(root, classPath + L"\\DefaultIcon"));

        EXPECT_EQ(ERROR_SUCCESS, RemoveAllSettings());
        EXPECT_EQ(before, test::DumpKey(root, classPath)) << "DefaultIcon stays \"%1\", which that handler needs";
        EXPECT_FALSE(ReadFileIcon((L"C:\\docs\\a" + type.Extension).c_str()));
    }
}

TEST_F(RemoveAllTest, ATypeWhoseIconWasChangedKeepsItAndItsBackup)
{
    ScratchType changed;
    changed.SetDefaultIcon(L"C:\\icons\\new.ico,3");
    test::WriteString(HKEY_CLASSES_ROOT, changed.Key(L"DefaultIcon"), BackupIconValue, L"shell32.dll,1");

    // Changed for all files while the handler was installed: the icon went to
    // HandlerIconInfo and the type's first icon to BAKIconInfo.
    ScratchType installed;
    installed.SetDefaultIcon(L"shell32.dll,4");
    GiveFileIcon(installed, L"C:\\a" + installed.Extension);
    test::WriteString(HKEY_CLASSES_ROOT, installed.Key(L"DefaultIcon"), BackupIconValue, L"shell32.dll,4");
    test::WriteString(HKEY_CLASSES_ROOT, installed.Key(L"DefaultIcon"), HandlerIconValue, L"C:\\icons\\new.ico,5");

    EXPECT_EQ(ERROR_SUCCESS, RemoveAllSettings());

    EXPECT_EQ(L"C:\\icons\\new.ico,3", ValueText(HKEY_CLASSES_ROOT, changed.Key(L"DefaultIcon")));
    EXPECT_EQ(L"shell32.dll,1", ValueText(HKEY_CLASSES_ROOT, changed.Key(L"DefaultIcon"), BackupIconValue));
    const auto backup = ReadTypeBackupIcon(changed.Extension.c_str());
    ASSERT_TRUE(backup.has_value());
    EXPECT_STREQ(L"shell32.dll", backup->IconPath);

    EXPECT_EQ(L"shell32.dll,4", ValueText(HKEY_CLASSES_ROOT, installed.Key(L"DefaultIcon")));
    EXPECT_EQ(L"shell32.dll,4", ValueText(HKEY_CLASSES_ROOT, installed.Key(L"DefaultIcon"), BackupIconValue));
    EXPECT_EQ(L"C:\\icons\\new.ico,5", ValueText(HKEY_CLASSES_ROOT, installed.Key(L"DefaultIcon"), HandlerIconValue));
}

TEST_F(RemoveAllTest, KeysListedBeforeTheFirstExtensionArePassedOver)
{
    test::KeyGuard allFiles(HKEY_CLASSES_ROOT, L"*");
    test::WriteString(HKEY_CLASSES_ROOT, L"*\\DefaultIconBAK", nullptr, L"shell32.dll,9");
    test::WriteString(HKEY_CLASSES_ROOT, L"*\\shellex\\IconHandler", nullptr, OwnClsid);

    // A key whose name sorts before the dot, naming an installed class the way an
    // extension would: it is no extension, so its class is not visited.
    ScratchType installed;
    installed.SetDefaultIcon(L"shell32.dll,1");
    ASSERT_EQ(ERROR_SUCCESS, InstallIconHandler(LocationOf(installed)));
    const std::wstring early = L"-" + installed.Class;
    test::KeyGuard earlyGuard(HKEY_CLASSES_ROOT, early);
    test::WriteString(HKEY_CLASSES_ROOT, early, nullptr, installed.Class);
    test::DeleteKeyTree(HKEY_CLASSES_ROOT, installed.Extension);

    const auto names = ClassesRootNames();
    ASSERT_FALSE(names.empty());
    EXPECT_EQ(L"*", names.front());
    std::size_t firstExtension = 0;
    while (firstExtension < names.size() && names[firstExtension][0] != L'.')
        ++firstExtension;
    std::size_t earlyIndex = 0;
    while (earlyIndex < names.size() && names[earlyIndex] != early)
        ++earlyIndex;
    ASSERT_LT(earlyIndex, firstExtension) << "the test key must be listed before the extensions";

    const std::wstring allFilesBefore = test::DumpKey(HKEY_CLASSES_ROOT, L"*");
    const std::wstring installedBefore = installed.Dump();

    EXPECT_EQ(ERROR_SUCCESS, RemoveAllSettings());
    EXPECT_EQ(allFilesBefore, test::DumpKey(HKEY_CLASSES_ROOT, L"*"));
    EXPECT_EQ(installedBefore, installed.Dump());
}

TEST_F(RemoveAllTest, ExtensionsWithoutAUsableClassNameAreSkippedAndTheWalkGoesOn)
{
    // Named so that they are listed between the other extensions and the installed one.
    ScratchType installed;
    const std::wstring base = installed.Extension;
    installed.SetDefaultIcon(L"shell32.dll,1");
    const std::wstring extension = base + L"z";
    test::KeyGuard extensionGuard(HKEY_CLASSES_ROOT, extension);
    test::WriteString(HKEY_CLASSES_ROOT, extension, nullptr, installed.Class);

    std::vector<std::unique_ptr<test::KeyGuard>> guards;
    auto hostile = [&](const std::wstring& suffix) {
        guards.push_back(std::make_unique<test::KeyGuard>(HKEY_CLASSES_ROOT, base + suffix));
        return base + suffix;
    };
    test::WriteString(HKEY_CLASSES_ROOT, hostile(L"a"), L"other", L"no default value");
    test::WriteString(HKEY_CLASSES_ROOT, hostile(L"b"), nullptr, std::wstring(300, L'c'));
    const DWORD number = 0x41414141;
    test::WriteValue(HKEY_CLASSES_ROOT, hostile(L"c"), nullptr, REG_DWORD, &number, sizeof number);
    test::WriteString(HKEY_CLASSES_ROOT, hostile(L"d"), nullptr, L"");
    test::WriteString(HKEY_CLASSES_ROOT, hostile(L"e"), nullptr, test::UniqueName(L"missingclass"));
    test::WriteString(HKEY_CLASSES_ROOT, hostile(L"f"), nullptr, std::wstring(258, L'c'));
    const std::wstring unterminated(260, L'u');
    test::WriteValue(HKEY_CLASSES_ROOT, hostile(L"g"), nullptr, REG_SZ, unterminated.data(),
                     static_cast<DWORD>(unterminated.size() * sizeof(wchar_t)));

    IconLocation location = LocationOf(installed);
    location.SetTargetName(extension.c_str());
    test::DeleteKeyTree(HKEY_CLASSES_ROOT, installed.Extension);
    ASSERT_EQ(ERROR_SUCCESS, InstallIconHandler(location));

    EXPECT_EQ(ERROR_SUCCESS, RemoveAllSettings());
    EXPECT_EQ(L"shell32.dll,1", ValueText(HKEY_CLASSES_ROOT, installed.Key(L"DefaultIcon")));
    EXPECT_FALSE(IsOwnIconHandler(LocationOf(installed)));
}

TEST_F(RemoveAllTest, AFailureIsReportedAndTheRestIsStillRemoved)
{
    // The first class (by extension name) cannot be written; the second must be
    // restored and the tables deleted all the same.
    ScratchType first;
    ScratchType second;
    const std::wstring firstExtension = first.Extension + L"a";
    const std::wstring secondExtension = first.Extension + L"b";
    test::KeyGuard firstGuard(HKEY_CLASSES_ROOT, firstExtension);
    test::KeyGuard secondGuard(HKEY_CLASSES_ROOT, secondExtension);
    test::WriteString(HKEY_CLASSES_ROOT, firstExtension, nullptr, first.Class);
    test::WriteString(HKEY_CLASSES_ROOT, secondExtension, nullptr, second.Class);
    test::DeleteKeyTree(HKEY_CLASSES_ROOT, first.Extension);
    test::DeleteKeyTree(HKEY_CLASSES_ROOT, second.Extension);
    first.SetDefaultIcon(L"shell32.dll,1");
    second.SetDefaultIcon(L"shell32.dll,2");
    ASSERT_EQ(ERROR_SUCCESS, InstallIconHandler(LocationOf(first)));
    ASSERT_EQ(ERROR_SUCCESS, InstallIconHandler(LocationOf(second)));
    GiveFileIcon(second, L"C:\\b" + secondExtension);

    {
        ReadOnlyKey readOnly(HKEY_CLASSES_ROOT, first.Key(L"DefaultIcon"));
        ASSERT_TRUE(readOnly.Applied());

        EXPECT_EQ(ERROR_ACCESS_DENIED, RemoveAllSettings());
        EXPECT_EQ(L"%1", ValueText(HKEY_CLASSES_ROOT, first.Key(L"DefaultIcon")));
        EXPECT_EQ(L"shell32.dll,1", ValueText(HKEY_CLASSES_ROOT, first.Key(L"DefaultIconBAK"))) << "kept for a retry";
        EXPECT_EQ(L"shell32.dll,2", ValueText(HKEY_CLASSES_ROOT, second.Key(L"DefaultIcon")));
        EXPECT_FALSE(IsOwnIconHandler(LocationOf(second)));
        EXPECT_FALSE(test::KeyExists(HKEY_LOCAL_MACHINE, FileIconsKey));
    }

    EXPECT_EQ(ERROR_SUCCESS, RemoveAllSettings());
    EXPECT_EQ(L"shell32.dll,1", ValueText(HKEY_CLASSES_ROOT, first.Key(L"DefaultIcon")));
    EXPECT_FALSE(test::KeyExists(HKEY_CLASSES_ROOT, first.Key(L"DefaultIconBAK")));
}

TEST_F(RemoveAllTest, ATableThatCannotBeDeletedIsReported)
{
    // The platform lets the key's owner delete it whatever its DACL says, but a subkey
    // that nobody may open keeps the table from being deleted.
    ScratchType type;
    GiveFileIcon(type, L"C:\\a" + type.Extension);
    const std::wstring locked = std::wstring(FileIconsKey) + L"\\locked";
    test::WriteString(HKEY_LOCAL_MACHINE, locked, nullptr, L"x");
    ReadOnlyKey noAccess(HKEY_LOCAL_MACHINE, locked, L"D:P");
    ASSERT_TRUE(noAccess.Applied());

    EXPECT_EQ(ERROR_ACCESS_DENIED, RemoveAllSettings());
    EXPECT_TRUE(test::KeyExists(HKEY_LOCAL_MACHINE, FileIconsKey));
    EXPECT_FALSE(IsOwnIconHandler(LocationOf(type))) << "the classes are restored all the same";
}

} // namespace
