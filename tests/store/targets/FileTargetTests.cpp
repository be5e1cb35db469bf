// File and type targets: one file's icon, all files of a type, and the icon handler.
#include "IconHandlerInstall.h"
#include "IconTargetFixture.h"
#include "Machine.h"
#include "RegistryNames.h"

TEST_F(IconTargetTest, TypeApplyTwiceKeepsTheFirstBackupAndRestoreBringsItBack)
{
    const std::wstring original = typeIcon_ + L",2";
    MakeType(original);
    const std::wstring file = File(L"doc");
    EXPECT_EQ(Lower(typeIcon_ + L",2"), Lower(ShellIconLocation(file)));

    auto first = OpenDialogForType(file);
    EXPECT_FALSE(first.HasBackup());
    ASSERT_EQ(ChangeResult::Done, Choose(first, library_, 4));
    EXPECT_EQ(library_ + L",4", ClassValue(L"DefaultIcon"));
    EXPECT_EQ(original, ClassValue(L"DefaultIcon", BackupIconValue));
    EXPECT_EQ(Lower(library_ + L",4"), Lower(ShellIconLocation(file)));

    auto second = OpenDialogForType(file);
    EXPECT_TRUE(second.HasBackup());
    ASSERT_EQ(ChangeResult::Done, Choose(second, library_, 6));
    EXPECT_EQ(library_ + L",6", ClassValue(L"DefaultIcon"));
    EXPECT_EQ(original, ClassValue(L"DefaultIcon", BackupIconValue));

    auto restore = OpenDialogForType(file);
    ASSERT_EQ(ChangeResult::Done, restore.RestoreDefault());
    EXPECT_EQ(original, ClassValue(L"DefaultIcon"));
    EXPECT_EQ(L"<none>", ClassValue(L"DefaultIcon", BackupIconValue));
    auto reopened = OpenDialogForType(file);
    EXPECT_FALSE(reopened.HasBackup());
    EXPECT_EQ(Lower(typeIcon_ + L",2"), Lower(ShellIconLocation(file)));

    // Nothing left to restore: nothing changes.
    auto again = OpenDialogForType(file);
    EXPECT_EQ(ChangeResult::Done, again.RestoreDefault());
    EXPECT_EQ(original, ClassValue(L"DefaultIcon"));
}

TEST_F(IconTargetTest, UnknownTypeIsRegisteredUnderTheExtensionsNameWithItsCase)
{
    // REPORT.ABC gives ABCfile: the extension's letter case is kept.
    const std::wstring upperExt = Upper(ext_);
    const std::wstring derived = upperExt.substr(1) + L"file";
    const std::wstring file = dir_.MakeFile(L"REPORT" + upperExt);
    auto target = OpenDialog(file);
    ASSERT_FALSE(target.Current);
    ASSERT_TRUE(target.AllOfType());
    ASSERT_EQ(ChangeResult::Done, Choose(target, library_, 2));
    ASSERT_TRUE(target.Current);
    EXPECT_EQ(derived, target.Current->TypeKey);
    EXPECT_EQ(upperExt, target.Current->TargetName);
    EXPECT_EQ(derived, ValueText(HKEY_CLASSES_ROOT, upperExt));
    EXPECT_EQ(library_ + L",2", ValueText(HKEY_CLASSES_ROOT, derived + L"\\DefaultIcon"));
    // There was no icon before: the backup says so (empty), and restoring takes the icon away.
    EXPECT_EQ(L"", ValueText(HKEY_CLASSES_ROOT, derived + L"\\DefaultIcon", BackupIconValue));
    auto reopened = OpenDialog(file);
    reopened.SetAllOfType(true);
    ASSERT_EQ(ChangeResult::Done, reopened.RestoreDefault());
    EXPECT_FALSE(test::KeyExists(HKEY_CLASSES_ROOT, derived + L"\\DefaultIcon"));
}

TEST_F(IconTargetTest, SingleFileOfAnUnknownTypeNamesTheClassAfterItsExtension)
{
    // report.abc with no icon known anywhere: stored with TypeKey abcfile and TargetName .abc.
    const std::wstring file = File(L"report");
    auto target = OpenDialog(file);
    ASSERT_FALSE(target.Current);
    target.SetAllOfType(false);
    ASSERT_EQ(ChangeResult::Done, Choose(target, library_, 3));
    EXPECT_EQ(class_, target.Current->TypeKey);
    EXPECT_EQ(ext_, target.Current->TargetName);
    EXPECT_EQ(library_ + L",3," + class_, TableValue(file));
    EXPECT_EQ(class_, ValueText(HKEY_CLASSES_ROOT, ext_));
    EXPECT_TRUE(IsOwnIconHandler(ClassRecord()));

    ASSERT_EQ(ChangeResult::Done, OpenDialog(file).RestoreDefault());
    EXPECT_EQ(L"<none>", TableValue(file));
    EXPECT_FALSE(IsOwnIconHandler(ClassRecord()));
}

TEST_F(IconTargetTest, SetTypeIconWritesBesideTheHandlerOnlyWhenItIsThisExtension)
{
    MakeType(L"%1");
    IconLocation location(L"C:\\t.ico", ext_.c_str(), 3);
    location.SetTypeKey(class_.c_str());

    ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, class_ + L"\\shellex\\IconHandler", L"", ExtensionClsidText));
    ASSERT_EQ(ERROR_SUCCESS, SetTypeIcon(location, Scope::AllUsers));
    EXPECT_EQ(L"%1", ClassValue(L"DefaultIcon"));
    EXPECT_EQ(L"C:\\t.ico,3", ClassValue(L"DefaultIcon", HandlerIconValue));

    // The same identifier in lower case is not this extension.
    std::wstring lower = ExtensionClsidText;
    for (wchar_t& c : lower)
        c = static_cast<wchar_t>(c >= L'A' && c <= L'Z' ? c - L'A' + L'a' : c);
    ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, class_ + L"\\shellex\\IconHandler", L"", lower));
    location.SetIndex(4);
    ASSERT_EQ(ERROR_SUCCESS, SetTypeIcon(location, Scope::AllUsers));
    EXPECT_EQ(L"C:\\t.ico,4", ClassValue(L"DefaultIcon"));
    EXPECT_EQ(L"C:\\t.ico,3", ClassValue(L"DefaultIcon", HandlerIconValue));
}

// ---------------------------------------------------------------------------------------
// Single files

TEST_F(IconTargetTest, OneFileGetsItsOwnIconAndRestoreGivesTheClassBackExactly)
{
    const std::wstring original = typeIcon_ + L",1";
    MakeType(original);
    const std::wstring a = File(L"a");
    const std::wstring sibling = File(L"b");

    auto target = OpenDialog(a);
    ASSERT_FALSE(target.AllOfType());
    ASSERT_EQ(ChangeResult::Done, Choose(target, library_, 3));

    const auto entry = ReadFileIcon(a.c_str());
    ASSERT_TRUE(entry);
    EXPECT_EQ(library_, entry->IconPath);
    EXPECT_EQ(3, entry->Index);
    EXPECT_EQ(class_, entry->TypeKey);
    EXPECT_EQ(library_ + L",3," + class_, TableValue(a));
    // The class is now served by this extension; its icon waits in DefaultIconBAK.
    EXPECT_TRUE(IsOwnIconHandler(ClassRecord()));
    EXPECT_EQ(L"%1", ClassValue(L"DefaultIcon"));
    EXPECT_EQ(original, ClassValue(L"DefaultIconBAK"));
    EXPECT_EQ(L"<none>", ClassValue(L"DefaultIcon", BackupIconValue));
    EXPECT_EQ(L"<none>", ClassValue(L"DefaultIcon", HandlerIconValue));
    EXPECT_FALSE(test::KeyExists(HKEY_CLASSES_ROOT, class_ + L"\\shellex\\IconHandlerBAK"));
    EXPECT_FALSE(ReadFileIcon(sibling.c_str()));
    // The sibling's dialog finds the type's icon behind the handler's "%1".
    const auto siblingTarget = OpenDialog(sibling);
    ASSERT_TRUE(siblingTarget.Current);
    EXPECT_EQ(typeIcon_, siblingTarget.Current->IconPath);
    EXPECT_EQ(1, siblingTarget.Current->Index);
    EXPECT_EQ(class_, siblingTarget.Current->TypeKey);
    EXPECT_EQ(ext_, siblingTarget.Current->TargetName);
    EXPECT_FALSE(siblingTarget.AllOfType());

    auto restore = OpenDialog(a);
    ASSERT_TRUE(restore.Current);
    EXPECT_EQ(3, restore.Current->Index);
    ASSERT_EQ(ChangeResult::Done, restore.RestoreDefault());
    EXPECT_FALSE(ReadFileIcon(a.c_str()));
    EXPECT_EQ(original, ClassValue(L"DefaultIcon"));
    EXPECT_FALSE(test::KeyExists(HKEY_CLASSES_ROOT, class_ + L"\\DefaultIconBAK"));
    EXPECT_FALSE(test::KeyExists(HKEY_CLASSES_ROOT, class_ + L"\\shellex\\IconHandlerBAK"));
    EXPECT_FALSE(test::KeyExists(HKEY_CLASSES_ROOT, class_ + L"\\shellex\\IconHandler"));
    EXPECT_FALSE(IsOwnIconHandler(ClassRecord()));
    EXPECT_FALSE(HasIconHandler(ext_.c_str()));
    EXPECT_EQ(Lower(typeIcon_ + L",1"), Lower(ShellIconLocation(sibling)));
}

TEST_F(IconTargetTest, HandlerStaysUntilTheLastFileOfTheClassIsRestored)
{
    const std::wstring original = typeIcon_ + L",1";
    MakeType(original);
    const std::wstring a = File(L"a");
    const std::wstring b = File(L"b");
    ASSERT_EQ(ChangeResult::Done, ApplyTo(a, library_, 3));
    ASSERT_EQ(ChangeResult::Done, ApplyTo(b, library_, 5));
    EXPECT_EQ(original, ClassValue(L"DefaultIconBAK"));

    ASSERT_EQ(ChangeResult::Done, OpenDialog(a).RestoreDefault());
    EXPECT_FALSE(ReadFileIcon(a.c_str()));
    EXPECT_EQ(5, ReadFileIcon(b.c_str())->Index);
    EXPECT_TRUE(IsOwnIconHandler(ClassRecord()));
    EXPECT_EQ(L"%1", ClassValue(L"DefaultIcon"));

    ASSERT_EQ(ChangeResult::Done, OpenDialog(b).RestoreDefault());
    EXPECT_FALSE(ReadFileIcon(b.c_str()));
    EXPECT_FALSE(IsOwnIconHandler(ClassRecord()));
    EXPECT_EQ(original, ClassValue(L"DefaultIcon"));
    EXPECT_FALSE(test::KeyExists(HKEY_CLASSES_ROOT, class_ + L"\\DefaultIconBAK"));
}

TEST_F(IconTargetTest, EntriesOfAnotherExtensionOfTheSameClassKeepTheHandler)
{
    // Two extensions name one class: the count goes by the class stored in each entry,
    // not by the extension text in the file names.
    MakeType(typeIcon_ + L",1");
    const std::wstring otherExt = ext_ + L"x";
    test::KeyGuard otherGuard(HKEY_CLASSES_ROOT, otherExt);
    ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, otherExt, L"", class_));
    const std::wstring a = File(L"a");
    const std::wstring b = dir_.MakeFile(L"b" + otherExt);
    ASSERT_EQ(ChangeResult::Done, ApplyTo(a, library_, 3));
    ASSERT_EQ(ChangeResult::Done, ApplyTo(b, library_, 4));

    ASSERT_EQ(ChangeResult::Done, OpenDialog(a).RestoreDefault());
    EXPECT_TRUE(IsOwnIconHandler(ClassRecord()));
    ASSERT_EQ(ChangeResult::Done, OpenDialog(b).RestoreDefault());
    EXPECT_FALSE(IsOwnIconHandler(ClassRecord()));
    EXPECT_EQ(typeIcon_ + L",1", ClassValue(L"DefaultIcon"));
}

TEST_F(IconTargetTest, RestoringWhileAnotherHandlerServesTheClassChangesNothing)
{
    MakeType(typeIcon_ + L",1");
    const std::wstring a = File(L"a");
    ASSERT_EQ(ChangeResult::Done, ApplyTo(a, library_, 3));
    const std::wstring foreign = L"{00000000-1111-2222-3333-444444444444}";
    ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, class_ + L"\\shellex\\IconHandler", L"", foreign));

    EXPECT_EQ(ChangeResult::Done, OpenDialog(a).RestoreDefault());
    EXPECT_EQ(library_ + L",3," + class_, TableValue(a));
    EXPECT_EQ(L"%1", ClassValue(L"DefaultIcon"));
    EXPECT_EQ(foreign, ClassValue(L"shellex\\IconHandler"));
    EXPECT_EQ(typeIcon_ + L",1", ClassValue(L"DefaultIconBAK"));
}

TEST_F(IconTargetTest, TypeThenOneOfItsFilesThenRestoreFileAndType)
{
    const std::wstring original = typeIcon_ + L",1";
    MakeType(original);
    const std::wstring a = File(L"a");
    const std::wstring b = File(L"b");

    ASSERT_EQ(ChangeResult::Done, ApplyToType(a, library_, 2));
    auto single = OpenDialog(b);
    ASSERT_FALSE(single.AllOfType());
    ASSERT_EQ(ChangeResult::Done, Choose(single, library_, 7));
    EXPECT_EQ(library_ + L",2", ClassValue(L"DefaultIconBAK"));
    EXPECT_EQ(original, ClassValue(L"DefaultIcon", BackupIconValue));

    ASSERT_EQ(ChangeResult::Done, OpenDialog(b).RestoreDefault());
    EXPECT_EQ(library_ + L",2", ClassValue(L"DefaultIcon"));
    EXPECT_FALSE(IsOwnIconHandler(ClassRecord()));

    auto restoreType = OpenDialogForType(a);
    ASSERT_TRUE(restoreType.HasBackup());
    ASSERT_EQ(ChangeResult::Done, restoreType.RestoreDefault());
    EXPECT_EQ(original, ClassValue(L"DefaultIcon"));
    EXPECT_EQ(L"<none>", ClassValue(L"DefaultIcon", BackupIconValue));
    EXPECT_FALSE(test::KeyExists(HKEY_CLASSES_ROOT, class_ + L"\\DefaultIconBAK"));
}

TEST_F(IconTargetTest, AFailedSingleFileChangeWritesNothing)
{
    struct Case {
        const char* Label;
        std::wstring DefaultIcon; // a legal text the installation cannot back up whole
        bool RefuseHandlerKey;    // the last write of the installation is refused
    };
    const Case cases[] = {
        {"259-character path and ,0", L"C:\\" + std::wstring(256, L'p') + L",0", false},
        {"258-character path and ,0", L"C:\\" + std::wstring(255, L'p') + L",0", false},
        {"4 KB text", std::wstring(4096, L't'), false},
        {"handler key refuses the write", L"C:\\old.ico,1", true},
    };
    const std::wstring a = File(L"a");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Label);
        ASSERT_TRUE(test::DeleteKeyTree(HKEY_LOCAL_MACHINE, ProductRoot));
        ASSERT_TRUE(test::DeleteKeyTree(HKEY_CLASSES_ROOT, class_));
        MakeType(c.DefaultIcon);
        std::unique_ptr<test::ReadOnlyKey> refused;
        if (c.RefuseHandlerKey) {
            ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, class_ + L"\\shellex\\IconHandler", L"", L""));
            refused = std::make_unique<test::ReadOnlyKey>(HKEY_CLASSES_ROOT, class_ + L"\\shellex\\IconHandler");
            ASSERT_TRUE(refused->Applied());
        }
        const std::wstring before = test::DumpKey(HKEY_CLASSES_ROOT, class_);

        IconTarget target = OpenDialog(a);
        target.SetScopeChoice(ScopeChoice::AllUsers);
        target.SetAllOfType(false);
        EXPECT_NE(ChangeResult::Done, Choose(target, library_, 3));
        EXPECT_EQ(L"<none>", TableValue(a));
        EXPECT_FALSE(ReadFileIcon(a.c_str()));
        EXPECT_EQ(before, test::DumpKey(HKEY_CLASSES_ROOT, class_));
        EXPECT_EQ(RestoreOutcome::NothingToRestore, OpenDialog(a).WhatRestoreWouldDo());
        if (!c.RefuseHandlerKey) {
            EXPECT_FALSE(test::KeyExists(HKEY_LOCAL_MACHINE, FileIconsKey)) << "refused before the first write";
        }
    }
}

namespace {

// The first bytes of a PE file built for `machine`: as much as tells its machine.
std::string PeHead(USHORT machine)
{
    std::string bytes(64 + 4 + sizeof(IMAGE_FILE_HEADER), '\0');
    bytes[0] = 'M';
    bytes[1] = 'Z';
    bytes[0x3C] = 64; // e_lfanew
    bytes.replace(64, 4, std::string("PE\0\0", 4));
    bytes[68] = static_cast<char>(machine & 0xFF);
    bytes[69] = static_cast<char>(machine >> 8);
    return bytes;
}

// The system's processor as the store sees it, played for one test.
struct NativeMachinePlayed {
    explicit NativeMachinePlayed(USHORT machine) { SetNativeMachineForTesting(machine); }
    ~NativeMachinePlayed() { SetNativeMachineForTesting(IMAGE_FILE_MACHINE_UNKNOWN); }
};

} // namespace

// A file's own icon is shown by the icon handler: Explorer loads only a DLL of its own
// processor (an x64 or x86 one does not load on Windows on Arm).
TEST_F(IconTargetTest, WhichIconHandlerExplorerLoads)
{
    struct Case {
        const char* Label;
        USHORT Native;
        USHORT Registered; // none (IMAGE_FILE_MACHINE_UNKNOWN): nothing registered, or no PE file
        bool Loads;
    };
    const Case cases[] = {
        {"x64 or Arm64EC DLL (its header says x64) on Windows on Arm", IMAGE_FILE_MACHINE_ARM64, IMAGE_FILE_MACHINE_AMD64, false},
        {"x86 DLL on Windows on Arm", IMAGE_FILE_MACHINE_ARM64, IMAGE_FILE_MACHINE_I386, false},
        {"arm64 DLL on Windows on Arm", IMAGE_FILE_MACHINE_ARM64, IMAGE_FILE_MACHINE_ARM64, true},
        {"x86 DLL for an x64 Explorer", IMAGE_FILE_MACHINE_AMD64, IMAGE_FILE_MACHINE_I386, false},
        {"x64 DLL for an x64 Explorer", IMAGE_FILE_MACHINE_AMD64, IMAGE_FILE_MACHINE_AMD64, true},
        {"arm64 DLL for an x64 Explorer", IMAGE_FILE_MACHINE_AMD64, IMAGE_FILE_MACHINE_ARM64, false},
        {"nothing on Windows on Arm", IMAGE_FILE_MACHINE_ARM64, IMAGE_FILE_MACHINE_UNKNOWN,
         BuiltMachine() == IMAGE_FILE_MACHINE_ARM64},
        {"nothing on an x64 system", IMAGE_FILE_MACHINE_AMD64, IMAGE_FILE_MACHINE_UNKNOWN, true},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Label);
        const std::wstring dll = dir_.MakeFile(L"server" + std::to_wstring(n++) + L".dll",
                                               c.Registered != IMAGE_FILE_MACHINE_UNKNOWN ? PeHead(c.Registered) : "MZ");
        EXPECT_EQ(c.Loads, ExplorerLoadsServer(c.Native, dll.c_str()));
        EXPECT_EQ(c.Loads, ExplorerLoadsServer(c.Native, c.Registered != IMAGE_FILE_MACHINE_UNKNOWN ? dll.c_str() : nullptr));
    }
}

// On Windows on Arm, where no DLL of this build loads into Explorer, a file's own icon is
// refused before anything is written, and the handler is never installed.
TEST_F(IconTargetTest, OnWindowsOnArmAnX64HandlerIsNeverInstalled)
{
    if (BuiltMachine() == IMAGE_FILE_MACHINE_ARM64)
        GTEST_SKIP() << "an arm64 build's handler loads there";
    const std::wstring a = File(L"a");
    MakeType(L"C:\\old.ico,1");
    const std::wstring before = test::DumpKey(HKEY_CLASSES_ROOT, class_);
    const NativeMachinePlayed native(IMAGE_FILE_MACHINE_ARM64);
    for (const bool allOfType : {false, true}) {
        IconTarget target = OpenDialog(a);
        target.SetScopeChoice(ScopeChoice::AllUsers);
        target.SetAllOfType(allOfType);
        const ChangeResult result = Choose(target, library_, 3);
        if (allOfType) {
            // A type's icon is its DefaultIcon alone: Explorer shows it without the handler.
            EXPECT_EQ(ChangeResult::Done, result);
            IconTarget restoring = OpenDialog(a);
            restoring.SetAllOfType(true);
            EXPECT_EQ(ChangeResult::Done, restoring.RestoreDefault());
        } else {
            EXPECT_EQ(ChangeResult::HandlerNotLoadable, result);
            EXPECT_FALSE(test::KeyExists(HKEY_LOCAL_MACHINE, FileIconsKey)) << "refused before the first write";
        }
        EXPECT_EQ(before, test::DumpKey(HKEY_CLASSES_ROOT, class_));
        EXPECT_FALSE(ReadFileIcon(a.c_str()));
    }
}

TEST_F(IconTargetTest, FileWithoutExtensionIsRefusedWithNothingWritten)
{
    // A dot in a folder name is no extension of the file.
    const std::wstring file = dir_.MakeFile(L"v1.2\\README");
    auto single = OpenDialog(file);
    EXPECT_FALSE(single.Current);
    single.SetAllOfType(false);
    EXPECT_EQ(ChangeResult::NoExtension, Choose(single, library_, 3));
    auto type = OpenDialog(file);
    EXPECT_EQ(ChangeResult::NoExtension, Choose(type, library_, 3));
    EXPECT_EQ(ChangeResult::NoExtension, type.RestoreDefault());
    EXPECT_FALSE(test::KeyExists(HKEY_LOCAL_MACHINE, ProductRoot));

    // A name that ends in a dot has no extension text either (the platform finds the
    // file without the dot).
    dir_.MakeFile(L"notes");
    IconTarget dotted((dir_.Path() + L"\\notes.").c_str());
    ASSERT_EQ(TargetKind::File, dotted.PathKind());
    EXPECT_EQ(ChangeResult::NoExtension, Choose(dotted, library_, 3));
    EXPECT_FALSE(test::KeyExists(HKEY_LOCAL_MACHINE, ProductRoot));
}

// ---------------------------------------------------------------------------------------
// Drives
