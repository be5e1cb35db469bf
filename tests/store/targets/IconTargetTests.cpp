// Targets of every kind: opening, reading, what a restore would do, refusals, drives.
#include "IconTargetFixture.h"
#include "RegistryNames.h"

// ---------------------------------------------------------------------------------------
// Kinds and results

TEST(ClassifyTarget, KindsFromThePlatformsAttributes)
{
    test::TempDir dir;
    const std::wstring file = dir.MakeFile(L"a.txt");
    const std::wstring folder = dir.MakeFolder(L"sub.dir");
    struct Case {
        std::wstring Path;
        TargetKind Kind;
    };
    const Case cases[] = {
        {L"C:\\", TargetKind::Drive},
        {L"C:\\windows", TargetKind::Folder},
        {file, TargetKind::File},
        {folder, TargetKind::Folder},
        {folder + L"\\", TargetKind::Folder},
        {dir.Path() + L"\\missing.txt", TargetKind::Folder}, // no attributes: counts as a directory
        {L"Q:\\", TargetKind::Drive},                          // a drive that is not there
        {L"\\\\srv\\share\\", TargetKind::Folder},
        {L"", TargetKind::Folder},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Path);
        EXPECT_EQ(c.Kind, ClassifyTarget(c.Path.c_str()));
    }
}

// Every spelling of an item is taken as the name Explorer gives it, so that a change
// made through one is found through the others and by the icon handler.
TEST(IconTarget, PathsAreTakenAsExplorerNamesThem)
{
    test::TempDir dir;
    const std::wstring file = dir.MakeFile(L"q.txt");
    const std::wstring folder = dir.MakeFolder(L"Long Folder Name");
    wchar_t shortName[MAX_PATH] = {};
    ASSERT_NE(0u, GetShortPathNameW(folder.c_str(), shortName, static_cast<DWORD>(std::size(shortName))));
    struct Case {
        std::wstring Given;
        std::wstring Path;
        TargetKind Kind;
    };
    const Case cases[] = {
        {L"\\\\?\\" + file, file, TargetKind::File},
        {L"\\\\.\\" + file, file, TargetKind::File},
        {L"\\\\?\\" + folder + L"\\", folder, TargetKind::Folder},
        {L"\\\\.\\" + std::wstring(shortName), folder, TargetKind::Folder},
        {std::wstring(shortName) + L"\\..\\Long Folder Name\\.\\", folder, TargetKind::Folder},
        {L"\\\\?\\C:\\", L"C:\\", TargetKind::Drive},
        {L"\\\\.\\C:\\", L"C:\\", TargetKind::Drive},
        {L"\\\\?\\C:", L"C:\\", TargetKind::Drive},
        {L"\\\\?\\UNC\\server\\share\\x", L"\\\\server\\share\\x", TargetKind::Folder},
        {L"\\\\?\\unc\\server\\share\\x.txt", L"\\\\server\\share\\x.txt", TargetKind::Folder},
        {L"\\\\.\\UNC\\server\\share\\", L"\\\\server\\share", TargetKind::Folder},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(test::Utf8(c.Given));
        const IconTarget target(c.Given.c_str());
        EXPECT_EQ(c.Path, target.Path());
        EXPECT_EQ(c.Kind, target.PathKind());
    }
}

TEST(IconTarget, KindIsClassifiedOnceAndKept)
{
    test::TempDir dir;
    const std::wstring file = dir.MakeFile(L"a.txt");
    IconTarget target(file.c_str());
    EXPECT_STREQ(file.c_str(), target.Path());
    EXPECT_TRUE(target.AllOfType());
    EXPECT_FALSE(target.Current);
    EXPECT_EQ(TargetKind::File, target.PathKind());
    // A file stands for all files of its type until told otherwise.
    EXPECT_EQ(TargetKind::Type, target.Kind());
    target.SetAllOfType(false);
    EXPECT_EQ(TargetKind::File, target.Kind());
    DeleteFileW(file.c_str());
    EXPECT_EQ(TargetKind::File, target.PathKind());

    // The kind is the path's when the target is made, not when it is first asked for.
    const std::wstring later = dir.Path() + L"\\later.txt";
    const IconTarget early(later.c_str());
    dir.MakeFile(L"later.txt");
    EXPECT_EQ(TargetKind::Folder, early.Kind());
    EXPECT_EQ(TargetKind::File, IconTarget(later.c_str()).PathKind());

    // A path that fills the field without its terminator is never handed to the platform.
    wchar_t field[TextCapacity];
    std::fill(std::begin(field), std::end(field), L'a');
    IconTarget unterminated(field);
    EXPECT_EQ(TargetKind::Unclassified, unterminated.Kind());
    EXPECT_STREQ(L"", unterminated.Path());
    EXPECT_FALSE(unterminated.ReadCurrentIcon());
    EXPECT_FALSE(unterminated.HasBackup());
    // A change asked of it is refused, not reported as made.
    unterminated.SetCurrentIconPath(L"C:\\a.ico");
    EXPECT_EQ(ChangeResult::PathTooLong, unterminated.ApplyIcon());
}

// What the stores report for real refusals and failures, and the result a change then
// gives: the platform's and the stores' own statuses, not a copy of the mapping.
TEST(ResultFromStatus, StatusesTheStoresReport)
{
    test::TempDir dir;
    test::KeyGuard product(HKEY_LOCAL_MACHINE, ProductRoot);
    const std::wstring file = dir.MakeFile(L"a.txt");
    const std::wstring folder = dir.MakeFolder(L"Locked");
    const std::wstring desktopIni = dir.MakeFile(L"Locked\\Desktop.ini", "[.ShellClassInfo]\r\n");
    IconLocation entry(L"C:\\a.ico", L"", 1);
    entry.SetTypeKey(L"txtfile");
    IconLocation folderIcon(L"C:\\a.ico", folder.c_str(), 1);
    IconLocation noDrive(L"C:\\a.ico", L"\\", 1);
    IconLocation goneFolder(L"C:\\a.ico", (dir.Path() + L"\\gone").c_str(), 1);

    struct Row {
        const char* Name;
        std::function<LONG()> Operation;
        LONG Status;
        ChangeResult Result;
    };
    const Row rows[] = {
        {"a table entry written", [&] { return WriteFileIcon(entry, file.c_str()); }, ERROR_SUCCESS, ChangeResult::Done},
        {"a table refused by its key's DACL",
         [&] {
             test::ReadOnlyKey readOnly(HKEY_LOCAL_MACHINE, FileIconsKey);
             return readOnly.Applied() ? WriteFileIcon(entry, file.c_str()) : ERROR_SUCCESS;
         },
         ERROR_ACCESS_DENIED, ChangeResult::AccessDenied},
        {"a file path too long for the table",
         [&] { return WriteFileIcon(entry, (file + std::wstring(260, L'x')).c_str()); },
         ERROR_FILENAME_EXCED_RANGE, ChangeResult::PathTooLong},
        {"a profile another program holds open",
         [&] {
             HANDLE holder = CreateFileW(desktopIni.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
             const LONG status = WriteFolderIcon(folderIcon);
             if (holder != INVALID_HANDLE_VALUE)
                 CloseHandle(holder);
             return status;
         },
         ERROR_SHARING_VIOLATION, ChangeResult::WriteFailed},
        {"a folder that is gone", [&] { return WriteFolderIcon(goneFolder); }, ERROR_PATH_NOT_FOUND,
         ChangeResult::WriteFailed},
        {"a drive entry for no drive letter", [&] { return WriteDriveIcon(noDrive); }, ERROR_INVALID_DRIVE,
         ChangeResult::WriteFailed},
        {"a type without a class", [&] { return WriteTypeDefaultIcon(IconLocation(L"C:\\a.ico", L".txt", 1), Scope::AllUsers); },
         ERROR_INVALID_PARAMETER, ChangeResult::WriteFailed},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Name);
        const LONG status = row.Operation();
        EXPECT_EQ(row.Status, status);
        EXPECT_EQ(row.Result, ResultFromStatus(status));
    }
    // The platform's word for a name that does not fit the buffer given is a path too long.
    wchar_t name[1];
    DWORD size = static_cast<DWORD>(std::size(name));
    EXPECT_FALSE(GetComputerNameW(name, &size));
    EXPECT_EQ(ERROR_BUFFER_OVERFLOW, static_cast<LONG>(GetLastError()));
    EXPECT_EQ(ChangeResult::PathTooLong, ResultFromStatus(ERROR_BUFFER_OVERFLOW));
}

TEST(IconTarget, AccessorsMakeAnEmptyCurrentFirst)
{
    IconTarget target(nullptr);
    EXPECT_EQ(nullptr, target.CurrentIconPath());
    EXPECT_EQ(-1, target.CurrentIndex());
    target.SetCurrentIndex(4);
    ASSERT_TRUE(target.Current);
    EXPECT_EQ(4, target.CurrentIndex());
    EXPECT_STREQ(L"", target.CurrentIconPath());
    EXPECT_STREQ(L"", target.Current->TargetName);

    IconTarget other(nullptr);
    EXPECT_FALSE(other.SetCurrentIconPath(std::wstring(260, L'p').c_str()));
    ASSERT_TRUE(other.Current);
    EXPECT_STREQ(L"", other.CurrentIconPath());
    EXPECT_EQ(0, other.CurrentIndex());
    EXPECT_TRUE(other.SetCurrentIconPath(L"C:\\a.ico"));
    EXPECT_STREQ(L"C:\\a.ico", other.CurrentIconPath());

    other.RememberOriginal(std::nullopt);
    EXPECT_FALSE(other.Original());
    other.RememberOriginal(other.Current);
    other.SetCurrentIndex(9);
    ASSERT_TRUE(other.Original());
    EXPECT_EQ(0, other.Original()->Index);
}

// ---------------------------------------------------------------------------------------
// Reading the current icon and the starting mode

TEST_F(IconTargetTest, FileWithATypeIconStartsAsSingleFile)
{
    MakeType(L"C:\\icons\\type.ico,2");
    const auto target = OpenDialog(File(L"report"));
    ASSERT_TRUE(target.Current);
    EXPECT_FALSE(target.AllOfType());
    EXPECT_STREQ(L"C:\\icons\\type.ico", target.Current->IconPath);
    EXPECT_EQ(2, target.Current->Index);
    EXPECT_EQ(class_, target.Current->TypeKey);
    EXPECT_EQ(ext_, target.Current->TargetName);
    ASSERT_TRUE(target.Original());
    EXPECT_STREQ(L"C:\\icons\\type.ico", target.Original()->IconPath);
}

TEST_F(IconTargetTest, FileWithAnEntryOfItsOwnStartsAsSingleFile)
{
    MakeType(L""); // the type itself has no icon
    const std::wstring file = File(L"own");
    IconLocation entry(L"C:\\icons\\own.ico", L"", 5);
    entry.SetTypeKey(class_.c_str());
    ASSERT_EQ(ERROR_SUCCESS, WriteFileIcon(entry, file.c_str()));

    const auto target = OpenDialog(file);
    ASSERT_TRUE(target.Current);
    EXPECT_FALSE(target.AllOfType());
    EXPECT_STREQ(L"C:\\icons\\own.ico", target.Current->IconPath);
    EXPECT_EQ(5, target.Current->Index);
    EXPECT_EQ(class_, target.Current->TypeKey);
    EXPECT_EQ(ext_, target.Current->TargetName);
}

TEST_F(IconTargetTest, FileOfATypeWithoutIconStartsAsTypeWithNothing)
{
    MakeType(L"");
    const auto target = OpenDialog(File(L"bare"));
    EXPECT_TRUE(target.AllOfType());
    EXPECT_FALSE(target.Current);
    EXPECT_FALSE(target.Original());

    const auto unknown = OpenDialog(dir_.MakeFile(L"x" + Upper(ext_) + L"z"));
    EXPECT_TRUE(unknown.AllOfType());
    EXPECT_FALSE(unknown.Current);
}

TEST_F(IconTargetTest, TypeServedByAHandlerStartsAsTypeWithItsHandlerIcon)
{
    MakeType(L"");
    ASSERT_TRUE(
        test::WriteString(HKEY_CLASSES_ROOT, class_ + L"\\DefaultIcon", HandlerIconValue, L"C:\\icons\\h.ico,6"));
    ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, class_ + L"\\shellex\\IconHandler", L"",
                                  L"{00000000-1111-2222-3333-444444444444}"));
    const auto target = OpenDialog(File(L"handled"));
    ASSERT_TRUE(target.Current);
    EXPECT_TRUE(target.AllOfType());
    EXPECT_STREQ(L"C:\\icons\\h.ico", target.Current->IconPath);
    EXPECT_EQ(6, target.Current->Index);
    EXPECT_EQ(ext_, target.Current->TargetName);
}

TEST_F(IconTargetTest, FolderAndDriveReadTheirStores)
{
    const std::wstring folder = dir_.MakeFolder(L"Data");
    auto target = OpenDialog(folder);
    EXPECT_EQ(TargetKind::Folder, target.Kind());
    EXPECT_FALSE(target.AllOfType());
    ASSERT_TRUE(target.Current);
    EXPECT_STREQ(L"C:\\icons\\folder-class.ico", target.Current->IconPath);
    EXPECT_STREQ(L"Folder", target.Current->TypeKey);
    EXPECT_EQ(folder, target.Current->TargetName);

    // Without any DriveIcons key no icon is known for a drive.
    auto drive = OpenDialog(L"C:\\");
    EXPECT_EQ(TargetKind::Drive, drive.Kind());
    EXPECT_FALSE(drive.Current);
    ASSERT_TRUE(
        test::WriteString(HKEY_LOCAL_MACHINE, std::wstring(DriveIconsKey) + L"\\C\\DefaultIcon", L"", L"C:\\c.ico,3"));
    drive = OpenDialog(L"C:\\");
    ASSERT_TRUE(drive.Current);
    EXPECT_STREQ(L"C:\\c.ico", drive.Current->IconPath);
    EXPECT_STREQ(L"C", drive.Current->TargetName);
}

TEST_F(IconTargetTest, HasBackupByKind)
{
    MakeType(L"C:\\icons\\type.ico,2");
    // A single file can always go back to its type's icon.
    auto file = OpenDialog(File(L"one"));
    EXPECT_TRUE(file.HasBackup());
    // A drive only once its icon is Orvane's: another program's entry is never taken out.
    EXPECT_FALSE(OpenDialog(L"C:\\").HasBackup());
    const std::wstring entry = std::wstring(DriveIconsKey) + L"\\C\\DefaultIcon";
    ASSERT_TRUE(test::WriteString(HKEY_LOCAL_MACHINE, entry, L"", L"C:\\vendor.ico,1"));
    EXPECT_FALSE(OpenDialog(L"C:\\").HasBackup());
    ASSERT_EQ(ChangeResult::Done, ApplyTo(L"C:\\", library_, 2));
    EXPECT_TRUE(OpenDialog(L"C:\\").HasBackup());

    // A type only once it has a backup; without a current icon never.
    file.SetAllOfType(true);
    EXPECT_FALSE(file.HasBackup());
    ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, class_ + L"\\DefaultIcon", BackupIconValue, L"C:\\old.ico,1"));
    EXPECT_TRUE(file.HasBackup());
    file.Current.reset();
    EXPECT_FALSE(file.HasBackup());

    const std::wstring folder = dir_.MakeFolder(L"Data");
    EXPECT_FALSE(OpenDialog(folder).HasBackup());
    ASSERT_EQ(ERROR_SUCCESS, WriteFolderBackup(IconLocation(L"C:\\b.ico", L"", 1), folder.c_str()));
    EXPECT_TRUE(OpenDialog(folder).HasBackup());

    IconTarget unclassified(nullptr);
    EXPECT_FALSE(unclassified.HasBackup());
}

// Only a file stands for all files of its type; a folder or drive target whose flag was
// never cleared is changed all the same (a folder used to get only its backup written,
// and the change reported done).
TEST_F(IconTargetTest, AllOfTypeMeansNothingForAFolderOrADrive)
{
    const std::wstring folder = dir_.MakeFolder(L"Data");
    IconTarget target(folder.c_str());
    target.RememberOriginal(target.ReadCurrentIcon());
    EXPECT_FALSE(target.AllOfType());
    target.SetAllOfType(true);
    EXPECT_FALSE(target.AllOfType());
    ASSERT_EQ(ChangeResult::Done, Choose(target, library_, 3));
    const auto icon = ReadFolderIcon(folder.c_str());
    ASSERT_TRUE(icon);
    EXPECT_EQ(Lower(library_), Lower(icon->IconPath));
    EXPECT_EQ(3, icon->Index);
    SHFILEINFOW shown = {};
    ASSERT_NE(0u, SHGetFileInfoW(folder.c_str(), 0, &shown, sizeof shown, SHGFI_ICONLOCATION));
    EXPECT_EQ(3, shown.iIcon);

    IconTarget drive(L"G:\\");
    drive.SetAllOfType(true);
    EXPECT_FALSE(drive.AllOfType());
    ASSERT_EQ(ChangeResult::Done, Choose(drive, library_, 2));
    EXPECT_EQ(library_ + L",2", ValueText(HKEY_LOCAL_MACHINE, std::wstring(DriveIconsKey) + L"\\G\\DefaultIcon"));
}

// What restoring would change, as the command line reports it before it restores.
TEST_F(IconTargetTest, WhatRestoreWouldDoByKind)
{
    MakeType(typeIcon_ + L",1");
    const std::wstring a = File(L"a");
    const std::wstring plain = File(L"plain");
    EXPECT_EQ(RestoreOutcome::NothingToRestore, OpenDialog(plain).WhatRestoreWouldDo()); // the type's icon, no entry
    EXPECT_EQ(RestoreOutcome::NothingToRestore, OpenDialogForType(plain).WhatRestoreWouldDo());
    ASSERT_EQ(ChangeResult::Done, ApplyTo(a, library_, 3));
    EXPECT_EQ(RestoreOutcome::Restores, OpenDialog(a).WhatRestoreWouldDo());
    ASSERT_EQ(ChangeResult::Done, ApplyToType(plain, library_, 4));
    EXPECT_EQ(RestoreOutcome::Restores, OpenDialogForType(plain).WhatRestoreWouldDo());
    ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, class_ + L"\\shellex\\IconHandler", L"", test::OtherClsid));
    EXPECT_EQ(RestoreOutcome::HandlerReplaced, OpenDialog(a).WhatRestoreWouldDo());

    const std::wstring folder = dir_.MakeFolder(L"Data");
    EXPECT_EQ(RestoreOutcome::NothingToRestore, OpenDialog(folder).WhatRestoreWouldDo());
    ASSERT_EQ(ChangeResult::Done, ApplyTo(folder, library_, 3));
    EXPECT_EQ(RestoreOutcome::Restores, OpenDialog(folder).WhatRestoreWouldDo());

    // A drive only with an entry this product set, which restoring takes back; another
    // program's entry, and the Drive class's icon reported once the DriveIcons key
    // exists, are nothing to restore.
    test::KeyGuard driveClass(HKEY_CLASSES_ROOT, L"Drive\\DefaultIcon");
    ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, L"Drive\\DefaultIcon", L"", L"C:\\drive.ico,1"));
    ASSERT_TRUE(
        test::WriteString(HKEY_LOCAL_MACHINE, std::wstring(DriveIconsKey) + L"\\H\\DefaultIcon", L"", L"C:\\h.ico,1"));
    EXPECT_EQ(RestoreOutcome::NothingToRestore, OpenDialog(L"H:\\").WhatRestoreWouldDo());
    ASSERT_EQ(ChangeResult::Done, ApplyTo(L"H:\\", library_, 2));
    EXPECT_EQ(RestoreOutcome::Restores, OpenDialog(L"H:\\").WhatRestoreWouldDo());
    const auto other = OpenDialog(L"J:\\");
    ASSERT_TRUE(other.Current);
    EXPECT_EQ(RestoreOutcome::NothingToRestore, other.WhatRestoreWouldDo());
    // Only a letter names a drive's entry: "1:\" addresses none, even where a key of
    // that name is there.
    ASSERT_TRUE(
        test::WriteString(HKEY_LOCAL_MACHINE, std::wstring(DriveIconsKey) + L"\\1\\DefaultIcon", L"", L"C:\\1.ico,1"));
    IconTarget notADrive(L"1:\\");
    ASSERT_EQ(TargetKind::Drive, notADrive.Kind());
    ASSERT_TRUE(notADrive.SetCurrentIconPath(L"C:\\1.ico"));
    EXPECT_EQ(RestoreOutcome::NothingToRestore, notADrive.WhatRestoreWouldDo());

    EXPECT_EQ(RestoreOutcome::NothingToRestore, IconTarget(nullptr).WhatRestoreWouldDo());
}

// ---------------------------------------------------------------------------------------
// Folders

TEST_F(IconTargetTest, DriveApplyAndRestore)
{
    const std::wstring drivesBefore = test::DumpKey(HKEY_LOCAL_MACHINE, DriveIconsKey);
    auto target = OpenDialog(L"D:\\");
    ASSERT_FALSE(target.Current);
    EXPECT_FALSE(target.HasBackup()) << "nothing of Orvane's to take back yet";
    ASSERT_EQ(ChangeResult::Done, Choose(target, library_, 2));
    EXPECT_STREQ(L"D:\\", target.Current->TargetName);
    const std::wstring entry = std::wstring(DriveIconsKey) + L"\\D\\DefaultIcon";
    EXPECT_EQ(library_ + L",2", ValueText(HKEY_LOCAL_MACHINE, entry));

    auto reopened = OpenDialog(L"D:\\");
    ASSERT_TRUE(reopened.Current);
    EXPECT_TRUE(reopened.HasBackup());
    EXPECT_STREQ(L"D", reopened.Current->TargetName);
    ASSERT_EQ(ChangeResult::Done, Choose(reopened, library_, NoIndex));
    EXPECT_EQ(library_, ValueText(HKEY_LOCAL_MACHINE, entry)) << "no index, as such values are written";

    // The keys the change created go with it: the letter's key too.
    ASSERT_EQ(ChangeResult::Done, OpenDialog(L"d:\\").RestoreDefault());
    EXPECT_FALSE(test::KeyExists(HKEY_LOCAL_MACHINE, entry));
    EXPECT_FALSE(test::KeyExists(HKEY_LOCAL_MACHINE, std::wstring(DriveIconsKey) + L"\\D"));
    EXPECT_EQ(drivesBefore, test::DumpKey(HKEY_LOCAL_MACHINE, DriveIconsKey));
}

TEST_F(IconTargetTest, DriveEntryOfAnotherProgramIsBackedUpAndRestored)
{
    const std::wstring entry = std::wstring(DriveIconsKey) + L"\\E\\DefaultIcon";
    ASSERT_TRUE(test::WriteString(HKEY_LOCAL_MACHINE, entry, L"", L"C:\\vendor\\usb.ico,0"));
    const std::wstring before = test::DumpKey(HKEY_LOCAL_MACHINE, std::wstring(DriveIconsKey) + L"\\E");
    EXPECT_EQ(ChangeResult::Done, OpenDialog(L"E:\\").RestoreDefault());
    EXPECT_EQ(before, test::DumpKey(HKEY_LOCAL_MACHINE, std::wstring(DriveIconsKey) + L"\\E"));

    auto target = OpenDialog(L"E:\\");
    ASSERT_EQ(ChangeResult::Done, Choose(target, library_, 1));
    EXPECT_EQ(library_ + L",1", ValueText(HKEY_LOCAL_MACHINE, entry));
    EXPECT_EQ(L"C:\\vendor\\usb.ico,0", ValueText(HKEY_LOCAL_MACHINE, entry, DriveBackupValue));
    ASSERT_EQ(ChangeResult::Done, OpenDialog(L"E:\\").RestoreDefault());
    EXPECT_EQ(before, test::DumpKey(HKEY_LOCAL_MACHINE, std::wstring(DriveIconsKey) + L"\\E"));
}

// ---------------------------------------------------------------------------------------
// Refusals, by kind: nothing of a refused change is written

// A place the change writes refuses it (its key made read-only, as for a standard user).
TEST_F(IconTargetTest, ChangesRefusedByTheRegistryWriteNothing)
{
    MakeType(L"C:\\old.ico,1");
    const std::wstring folder = dir_.MakeFolder(L"Data");
    const std::wstring file = File(L"doc");
    const std::wstring driveEntry = std::wstring(DriveIconsKey) + L"\\F\\DefaultIcon";
    ASSERT_TRUE(test::WriteString(HKEY_LOCAL_MACHINE, driveEntry, L"", L"C:\\old.ico,0"));
    ASSERT_TRUE(test::WriteString(HKEY_LOCAL_MACHINE, FolderBackupKey, L"other", L"C:\\x.ico,1"));
    IconLocation other(L"C:\\x.ico", L"", 1);
    other.SetTypeKey(class_.c_str());
    ASSERT_EQ(ERROR_SUCCESS, WriteFileIcon(other, L"C:\\elsewhere.txt"));
    struct Row {
        TargetKind Kind;
        std::wstring Target;
        HKEY Root;
        std::wstring Locked;
        std::function<void()> Unchanged;
    };
    const Row rows[] = {
        {TargetKind::Folder, folder, HKEY_LOCAL_MACHINE, FolderBackupKey,
         [&] {
             EXPECT_EQ("<none>", ReadFileText(folder + L"\\Desktop.ini"));
             EXPECT_FALSE(GetFileAttributesW(folder.c_str()) & FILE_ATTRIBUTE_SYSTEM);
         }},
        {TargetKind::Type, file, HKEY_CLASSES_ROOT, class_ + L"\\DefaultIcon",
         [&] {
             EXPECT_EQ(L"C:\\old.ico,1", ClassValue(L"DefaultIcon"));
             EXPECT_EQ(L"<none>", ClassValue(L"DefaultIcon", BackupIconValue));
         }},
        {TargetKind::File, file, HKEY_LOCAL_MACHINE, FileIconsKey,
         [&] {
             EXPECT_EQ(L"<none>", TableValue(file));
             EXPECT_EQ(L"C:\\old.ico,1", ClassValue(L"DefaultIcon"));
             EXPECT_FALSE(IsOwnIconHandler(ClassRecord()));
         }},
        {TargetKind::Drive, L"F:\\", HKEY_LOCAL_MACHINE, driveEntry,
         [&] { EXPECT_EQ(L"C:\\old.ico,0", ValueText(HKEY_LOCAL_MACHINE, driveEntry)); }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(static_cast<int>(row.Kind));
        test::ReadOnlyKey readOnly(row.Root, row.Locked);
        ASSERT_TRUE(readOnly.Applied());
        IconTarget target = OpenDialog(row.Target);
        target.SetAllOfType(row.Kind == TargetKind::Type);
        ASSERT_EQ(row.Kind, target.Kind());
        EXPECT_EQ(ChangeResult::AccessDenied, Choose(target, library_, 4));
        row.Unchanged();
    }
}

// Texts that would not fit where they are stored are refused before any backup is taken.
TEST_F(IconTargetTest, ChangesTooLongWriteNothing)
{
    MakeType(L"C:\\old.ico,1");
    const std::wstring driveEntry = std::wstring(DriveIconsKey) + L"\\F\\DefaultIcon";
    ASSERT_TRUE(test::WriteString(HKEY_LOCAL_MACHINE, driveEntry, L"", L"C:\\old.ico,0"));
    // A folder path with no room for "\Desktop.ini": no icon is known, none is written.
    std::wstring longFolder = dir_.Path() + L"\\";
    longFolder += std::wstring(250 - longFolder.size(), L'd');
    struct Row {
        TargetKind Kind;
        std::wstring Target;
        std::wstring Icon;
        std::int32_t Index;
        std::function<void()> Unchanged;
    };
    const Row rows[] = {
        {TargetKind::Folder, longFolder, library_, 3,
         [&] { EXPECT_FALSE(test::KeyExists(HKEY_LOCAL_MACHINE, FolderBackupKey)); }},
        // 255 characters, a comma and "12345" make more than 259.
        {TargetKind::Type, File(L"doc"), L"C:\\" + std::wstring(252, L'p'), 12345,
         [&] {
             EXPECT_EQ(L"C:\\old.ico,1", ClassValue(L"DefaultIcon"));
             EXPECT_EQ(L"<none>", ClassValue(L"DefaultIcon", BackupIconValue));
         }},
        // Path, index and class together exceed the 259 characters of an entry.
        {TargetKind::File, File(L"a"), L"C:\\" + std::wstring(240, L'p'), 3,
         [&] {
             EXPECT_FALSE(test::KeyExists(HKEY_LOCAL_MACHINE, FileIconsKey));
             EXPECT_EQ(L"C:\\old.ico,1", ClassValue(L"DefaultIcon"));
             EXPECT_FALSE(test::KeyExists(HKEY_CLASSES_ROOT, class_ + L"\\shellex"));
         }},
        {TargetKind::Drive, L"F:\\", L"C:\\" + std::wstring(252, L'p'), 12345,
         [&] { EXPECT_EQ(L"C:\\old.ico,0", ValueText(HKEY_LOCAL_MACHINE, driveEntry)); }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(static_cast<int>(row.Kind));
        IconTarget target = OpenDialog(row.Target);
        target.SetAllOfType(row.Kind == TargetKind::Type);
        ASSERT_EQ(row.Kind, target.Kind());
        if (row.Kind == TargetKind::Folder) {
            EXPECT_FALSE(target.Current);
        }
        EXPECT_EQ(ChangeResult::PathTooLong, Choose(target, row.Icon, row.Index));
        row.Unchanged();
    }
}

// ---------------------------------------------------------------------------------------
// Removing all settings, then restoring

TEST_F(IconTargetTest, RemoveAllThenRestore)
{
    const std::wstring original = typeIcon_ + L",1";
    MakeType(original);
    const std::wstring a = File(L"a");
    const std::wstring folder = dir_.MakeFolder(L"Data");

    ASSERT_EQ(ChangeResult::Done, ApplyTo(a, library_, 3));
    ASSERT_EQ(ChangeResult::Done, ApplyTo(folder, library_, 4));
    auto drive = OpenDialog(L"G:\\");
    ASSERT_EQ(ChangeResult::Done, Choose(drive, library_, 5));

    ASSERT_EQ(ERROR_SUCCESS, RemoveAllSettings());
    EXPECT_EQ(original, ClassValue(L"DefaultIcon"));
    EXPECT_FALSE(IsOwnIconHandler(ClassRecord()));
    EXPECT_FALSE(ReadFileIcon(a.c_str()));
    EXPECT_FALSE(OpenDialog(folder).HasBackup());
    EXPECT_EQ(library_ + L",5", ValueText(HKEY_LOCAL_MACHINE, std::wstring(DriveIconsKey) + L"\\G\\DefaultIcon"));

    // The file now shows its type's icon; restoring it finds nothing of this extension's.
    auto file = OpenDialog(a);
    ASSERT_TRUE(file.Current);
    EXPECT_EQ(original, std::wstring(file.Current->IconPath) + L"," + std::to_wstring(file.Current->Index));
    EXPECT_EQ(ChangeResult::Done, file.RestoreDefault());
    EXPECT_EQ(original, ClassValue(L"DefaultIcon"));
    EXPECT_FALSE(test::KeyExists(HKEY_CLASSES_ROOT, class_ + L"\\shellex"));

    // The folder keeps the icon it was given; with its backup gone there is nothing to restore.
    const std::string desktopIni = ReadFileText(folder + L"\\Desktop.ini");
    EXPECT_EQ(ChangeResult::Done, OpenDialog(folder).RestoreDefault());
    EXPECT_EQ(desktopIni, ReadFileText(folder + L"\\Desktop.ini"));
    EXPECT_EQ(4, ReadFolderIcon(folder.c_str())->Index);
}

TEST_F(IconTargetTest, TypeIconAndItsBackupSurviveRemoveAll)
{
    const std::wstring original = typeIcon_ + L",1";
    MakeType(original);
    const std::wstring a = File(L"a");
    ASSERT_EQ(ChangeResult::Done, ApplyToType(a, library_, 2));

    ASSERT_EQ(ERROR_SUCCESS, RemoveAllSettings());
    EXPECT_EQ(library_ + L",2", ClassValue(L"DefaultIcon"));
    EXPECT_EQ(original, ClassValue(L"DefaultIcon", BackupIconValue));

    auto restore = OpenDialogForType(a);
    ASSERT_EQ(ChangeResult::Done, restore.RestoreDefault());
    EXPECT_EQ(original, ClassValue(L"DefaultIcon"));
}

// ---------------------------------------------------------------------------------------
// What a build of 8-bit text wrote

namespace {

// The text in the ANSI code page, as an 8-bit build had it; empty when the code page
// cannot hold it all.
std::string Ansi(const std::wstring& text)
{
    BOOL lost = FALSE;
    const int size = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.c_str(), -1, nullptr, 0, nullptr, &lost);
    if (size <= 1 || lost)
        return {};
    std::string ansi(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.c_str(), -1, &ansi[0], size, nullptr, nullptr);
    ansi.resize(static_cast<std::size_t>(size) - 1);
    return ansi;
}

// A REG_SZ value written through the 8-bit call, named and holding texts of the ANSI code
// page (null name: the default value), as such a build wrote every value.
bool WriteNarrow(HKEY root, const std::wstring& path, const std::wstring* name, const std::wstring& text)
{
    const std::string narrowName = name != nullptr ? Ansi(*name) : std::string();
    const std::string narrowText = Ansi(text);
    if ((name != nullptr && narrowName.empty()) || narrowText.empty())
        return false;
    HKEY key = nullptr;
    if (RegCreateKeyExA(root, Ansi(path).c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    const LONG status = RegSetValueExA(key, name != nullptr ? narrowName.c_str() : nullptr, 0, REG_SZ,
                                       reinterpret_cast<const BYTE*>(narrowText.c_str()),
                                       static_cast<DWORD>(narrowText.size() + 1));
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

} // namespace

// A single file, a type and a folder as an 8-bit build left them, every path and text
// with characters of code page 1252 (the per-file table, the type's icon behind the icon
// handler, the type's and the folder's backups): each is read and restored exactly.
TEST_F(IconTargetTest, WhatAnEightBitBuildWroteIsReadAndRestored)
{
    ASSERT_EQ(1252u, GetACP());
    const std::wstring before = L"C:\\Ic\u00F4nes\\avant.ico,1";
    const std::wstring file = File(L"R\u00E9sum\u00E9");
    ASSERT_TRUE(WriteNarrow(HKEY_CLASSES_ROOT, ext_, nullptr, class_));
    ASSERT_TRUE(WriteNarrow(HKEY_CLASSES_ROOT, class_ + L"\\DefaultIcon", nullptr, L"%1"));
    ASSERT_TRUE(WriteNarrow(HKEY_CLASSES_ROOT, class_ + L"\\DefaultIconBAK", nullptr, before));
    ASSERT_TRUE(WriteNarrow(HKEY_CLASSES_ROOT, class_ + L"\\shellex\\IconHandler", nullptr, ExtensionClsidText));
    ASSERT_TRUE(WriteNarrow(HKEY_LOCAL_MACHINE, FileIconsKey, &file, L"C:\\Ic\u00F4nes\\\u00E0 moi.ico,7," + class_));

    auto single = OpenDialog(file);
    ASSERT_TRUE(single.Current);
    EXPECT_FALSE(single.AllOfType());
    EXPECT_STREQ(L"C:\\Ic\u00F4nes\\\u00E0 moi.ico", single.Current->IconPath);
    EXPECT_EQ(7, single.Current->Index);
    EXPECT_EQ(RestoreOutcome::Restores, single.WhatRestoreWouldDo());
    ASSERT_EQ(ChangeResult::Done, single.RestoreDefault());
    EXPECT_EQ(L"<none>", TableValue(file));
    EXPECT_EQ(before, ClassValue(L"DefaultIcon"));
    EXPECT_FALSE(test::KeyExists(HKEY_CLASSES_ROOT, class_ + L"\\DefaultIconBAK"));
    EXPECT_FALSE(IsOwnIconHandler(ClassRecord()));

    ASSERT_TRUE(WriteNarrow(HKEY_CLASSES_ROOT, class_ + L"\\DefaultIcon", nullptr, L"C:\\Ic\u00F4nes\\apr\u00E8s.ico,4"));
    const std::wstring backupName = BackupIconValue;
    ASSERT_TRUE(WriteNarrow(HKEY_CLASSES_ROOT, class_ + L"\\DefaultIcon", &backupName, before));
    auto type = OpenDialogForType(file);
    ASSERT_TRUE(type.Current);
    EXPECT_STREQ(L"C:\\Ic\u00F4nes\\apr\u00E8s.ico", type.Current->IconPath);
    EXPECT_TRUE(type.HasBackup());
    ASSERT_EQ(ChangeResult::Done, type.RestoreDefault());
    EXPECT_EQ(before, ClassValue(L"DefaultIcon"));
    EXPECT_EQ(L"<none>", ClassValue(L"DefaultIcon", BackupIconValue));

    // The folder's Desktop.ini is ANSI, as the 8-bit profile calls wrote it, and stays so.
    const std::wstring folder = dir_.MakeFolder(L"Donn\u00E9es");
    const std::wstring desktopIni =
        dir_.MakeFile(L"Donn\u00E9es\\Desktop.ini", "[.ShellClassInfo]\r\nIconFile=C:\\Ic\xF4nes\\apr\xE8s.ico\r\nIconIndex=4\r\n");
    ASSERT_TRUE(WriteNarrow(HKEY_LOCAL_MACHINE, FolderBackupKey, &folder, before));
    auto folderTarget = OpenDialog(folder);
    ASSERT_TRUE(folderTarget.Current);
    EXPECT_STREQ(L"C:\\Ic\u00F4nes\\apr\u00E8s.ico", folderTarget.Current->IconPath);
    EXPECT_TRUE(folderTarget.HasBackup());
    ASSERT_EQ(ChangeResult::Done, folderTarget.RestoreDefault());
    const auto restored = ReadFolderIcon(folder.c_str());
    ASSERT_TRUE(restored);
    EXPECT_EQ(before, std::wstring(restored->IconPath) + L"," + std::to_wstring(restored->Index));
    EXPECT_TRUE(Contains(ReadFileText(desktopIni), "IconFile=C:\\Ic\xF4nes\\avant.ico\r\n"));
    EXPECT_EQ(L"<none>", ValueText(HKEY_LOCAL_MACHINE, FolderBackupKey, folder.c_str()));
}
