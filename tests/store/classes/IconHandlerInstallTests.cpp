// The icon handler's installation on a class, its uninstallation, and the texts that
// name a class's handler.
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

} // namespace
