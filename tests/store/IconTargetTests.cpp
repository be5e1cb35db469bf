#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstring>
#include <functional>
#include <string>

#include "DriveIcons.h"
#include "ExtensionIdentity.h"
#include "FileIconTable.h"
#include "FileTypeIcons.h"
#include "FolderIcons.h"
#include "IconTarget.h"
#include "Registry.h"
#include "RemoveAll.h"
#include "ScratchRegistry.h"
#include "TestSupport.h"

using namespace orvane;
using test::ProductRoot;
using test::FolderClassIconKey;
using test::FolderClassIconText;
using test::Contains;
using test::ReadFileText;
using test::Lower;
using test::ShellIconLocation;
using test::ValueText;

namespace {


// What the dialog does when it opens on a path: classify, read the current icon, keep a
// copy, and clear AllOfType for anything but a file.
IconTarget OpenDialog(const std::string& path)
{
    IconTarget target(path.c_str());
    target.RememberOriginal(target.ReadCurrentIcon());
    if (target.Kind() != TargetKind::File)
        target.SetAllOfType(false);
    return target;
}

// The same with "all files of this type" ticked.
IconTarget OpenDialogForType(const std::string& path)
{
    IconTarget target = OpenDialog(path);
    target.SetAllOfType(true);
    return target;
}

// What the dialog does on OK: the chosen source and index, then ApplyIcon.
ChangeResult Choose(IconTarget& target, const std::string& iconPath, std::int32_t index)
{
    if (!target.SetCurrentIconPath(iconPath.c_str()))
        return ChangeResult::PathTooLong;
    target.SetCurrentIndex(index);
    return target.ApplyIcon();
}

// The dialog opened on a path and closed with OK on the chosen icon.
ChangeResult ApplyTo(const std::string& path, const std::string& iconPath, std::int32_t index)
{
    IconTarget target = OpenDialog(path);
    return Choose(target, iconPath, index);
}

// The same with "all files of this type" ticked.
ChangeResult ApplyToType(const std::string& path, const std::string& iconPath, std::int32_t index)
{
    IconTarget target = OpenDialogForType(path);
    return Choose(target, iconPath, index);
}

std::string Upper(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    return text;
}

// A file type of the test's own (extension and the class the system would derive from
// it), the product's keys, the Folder class icon and the shell's DriveIcons key, all put
// back afterwards; a temporary folder for files and icon libraries.
class IconTargetTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(test::DeleteKeyTree(HKEY_LOCAL_MACHINE, ProductRoot));
        ASSERT_TRUE(test::DeleteKeyTree(HKEY_LOCAL_MACHINE, DriveIconsKey));
        ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, FolderClassIconKey, "", FolderClassIconText));
        typeIcon_ = test::WriteIconFile(dir_.Path() + "\\type.ico", 8);
        library_ = test::WriteIconFile(dir_.Path() + "\\library.ico", 12);
    }

    // The extension names the class, whose DefaultIcon holds `icon` (none: no DefaultIcon).
    void MakeType(const std::string& icon)
    {
        ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, ext_, "", class_));
        if (!icon.empty()) {
            ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, class_ + "\\DefaultIcon", "", icon));
        }
    }

    std::string File(const std::string& stem) { return dir_.MakeFile(stem + ext_); }
    std::string ClassValue(const std::string& subkey, const char* name = "")
    {
        return ValueText(HKEY_CLASSES_ROOT, class_ + (subkey.empty() ? "" : "\\" + subkey), name);
    }
    std::string TableValue(const std::string& file) { return ValueText(HKEY_LOCAL_MACHINE, FileIconsKey, file.c_str()); }
    IconLocation ClassRecord() { return test::LocationOf(type_); }

    test::ScratchType type_{false};
    const std::string& ext_ = type_.Extension;
    const std::string& class_ = type_.Class;
    test::TempDir dir_;
    std::string typeIcon_;
    std::string library_;

private:
    test::KeyGuard product_{HKEY_LOCAL_MACHINE, ProductRoot};
    test::KeyGuard drives_{HKEY_LOCAL_MACHINE, DriveIconsKey};
    test::KeyGuard folderClass_{HKEY_CLASSES_ROOT, FolderClassIconKey};
};

} // namespace

// ---------------------------------------------------------------------------------------
// Kinds and results

TEST(ClassifyTarget, KindsFromThePlatformsAttributes)
{
    test::TempDir dir;
    const std::string file = dir.MakeFile("a.txt");
    const std::string folder = dir.MakeFolder("sub.dir");
    struct Case {
        std::string Path;
        TargetKind Kind;
    };
    const Case cases[] = {
        {"C:\\", TargetKind::Drive},
        {"C:\\windows", TargetKind::Folder},
        {file, TargetKind::File},
        {folder, TargetKind::Folder},
        {folder + "\\", TargetKind::Folder},
        {dir.Path() + "\\missing.txt", TargetKind::Folder}, // no attributes: counts as a directory
        {"Q:\\", TargetKind::Drive},                          // a drive that is not there
        {"\\\\srv\\share\\", TargetKind::Folder},
        {"", TargetKind::Folder},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Path);
        EXPECT_EQ(c.Kind, ClassifyTarget(c.Path.c_str()));
    }
}

TEST(IconTarget, KindIsClassifiedOnceAndKept)
{
    test::TempDir dir;
    const std::string file = dir.MakeFile("a.txt");
    IconTarget target(file.c_str());
    EXPECT_STREQ(file.c_str(), target.Path());
    EXPECT_TRUE(target.AllOfType());
    EXPECT_FALSE(target.Current);
    EXPECT_EQ(TargetKind::File, target.Kind());
    DeleteFileA(file.c_str());
    EXPECT_EQ(TargetKind::File, target.Kind());

    // The kind is the path's when the target is made, not when it is first asked for.
    const std::string later = dir.Path() + "\\later.txt";
    const IconTarget early(later.c_str());
    dir.MakeFile("later.txt");
    EXPECT_EQ(TargetKind::Folder, early.Kind());
    EXPECT_EQ(TargetKind::File, IconTarget(later.c_str()).Kind());

    // A path that fills the field without its terminator is never handed to the platform.
    char field[TextCapacity];
    std::memset(field, 'a', sizeof field);
    IconTarget unterminated(field);
    EXPECT_EQ(TargetKind::Unclassified, unterminated.Kind());
    EXPECT_STREQ("", unterminated.Path());
    EXPECT_FALSE(unterminated.ReadCurrentIcon());
    EXPECT_FALSE(unterminated.HasBackup());
    unterminated.SetCurrentIconPath("C:\\a.ico");
    EXPECT_EQ(ChangeResult::Done, unterminated.ApplyIcon());
}

// What the stores report for real refusals and failures, and the result a change then
// gives: the platform's and the stores' own statuses, not a copy of the mapping.
TEST(ResultFromStatus, StatusesTheStoresReport)
{
    test::TempDir dir;
    test::KeyGuard product(HKEY_LOCAL_MACHINE, ProductRoot);
    const std::string file = dir.MakeFile("a.txt");
    const std::string folder = dir.MakeFolder("Locked");
    const std::string profile = dir.MakeFile("Locked\\Desktop.ini", "[.ShellClassInfo]\r\n");
    IconLocation entry("C:\\a.ico", "", 1);
    entry.SetTypeKey("txtfile");
    IconLocation folderIcon("C:\\a.ico", folder.c_str(), 1);
    IconLocation noDrive("C:\\a.ico", "\\", 1);
    IconLocation goneFolder("C:\\a.ico", (dir.Path() + "\\gone").c_str(), 1);

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
        {"a file path too long for the table", [&] { return WriteFileIcon(entry, (file + std::string(260, 'x')).c_str()); },
         ERROR_FILENAME_EXCED_RANGE, ChangeResult::PathTooLong},
        {"a profile another program holds open",
         [&] {
             HANDLE holder = CreateFileA(profile.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
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
        {"a type without a class", [&] { return WriteTypeDefaultIcon(IconLocation("C:\\a.ico", ".txt", 1)); },
         ERROR_INVALID_PARAMETER, ChangeResult::WriteFailed},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Name);
        const LONG status = row.Operation();
        EXPECT_EQ(row.Status, status);
        EXPECT_EQ(row.Result, ResultFromStatus(status));
    }
    // The platform's word for a name that does not fit the buffer given is a path too long.
    char name[1];
    DWORD size = sizeof name;
    EXPECT_FALSE(GetComputerNameA(name, &size));
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
    EXPECT_STREQ("", target.CurrentIconPath());
    EXPECT_STREQ("", target.Current->Owner);

    IconTarget other(nullptr);
    EXPECT_FALSE(other.SetCurrentIconPath(std::string(260, 'p').c_str()));
    ASSERT_TRUE(other.Current);
    EXPECT_STREQ("", other.CurrentIconPath());
    EXPECT_EQ(0, other.CurrentIndex());
    EXPECT_TRUE(other.SetCurrentIconPath("C:\\a.ico"));
    EXPECT_STREQ("C:\\a.ico", other.CurrentIconPath());

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
    MakeType("C:\\icons\\type.ico,2");
    const auto target = OpenDialog(File("report"));
    ASSERT_TRUE(target.Current);
    EXPECT_FALSE(target.AllOfType());
    EXPECT_STREQ("C:\\icons\\type.ico", target.Current->IconPath);
    EXPECT_EQ(2, target.Current->Index);
    EXPECT_EQ(class_, target.Current->TypeKey);
    EXPECT_EQ(ext_, target.Current->Owner);
    ASSERT_TRUE(target.Original());
    EXPECT_STREQ("C:\\icons\\type.ico", target.Original()->IconPath);
}

TEST_F(IconTargetTest, FileWithAnEntryOfItsOwnStartsAsSingleFile)
{
    MakeType(""); // the type itself has no icon
    const std::string file = File("own");
    IconLocation entry("C:\\icons\\own.ico", "", 5);
    entry.SetTypeKey(class_.c_str());
    ASSERT_EQ(ERROR_SUCCESS, WriteFileIcon(entry, file.c_str()));

    const auto target = OpenDialog(file);
    ASSERT_TRUE(target.Current);
    EXPECT_FALSE(target.AllOfType());
    EXPECT_STREQ("C:\\icons\\own.ico", target.Current->IconPath);
    EXPECT_EQ(5, target.Current->Index);
    EXPECT_EQ(class_, target.Current->TypeKey);
    EXPECT_EQ(ext_, target.Current->Owner);
}

TEST_F(IconTargetTest, FileOfATypeWithoutIconStartsAsTypeWithNothing)
{
    MakeType("");
    const auto target = OpenDialog(File("bare"));
    EXPECT_TRUE(target.AllOfType());
    EXPECT_FALSE(target.Current);
    EXPECT_FALSE(target.Original());

    const auto unknown = OpenDialog(dir_.MakeFile("x" + Upper(ext_) + "z"));
    EXPECT_TRUE(unknown.AllOfType());
    EXPECT_FALSE(unknown.Current);
}

TEST_F(IconTargetTest, TypeServedByAHandlerStartsAsTypeWithItsHandlerIcon)
{
    MakeType("");
    ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, class_ + "\\DefaultIcon", HandlerIconValue, "C:\\icons\\h.ico,6"));
    ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, class_ + "\\shellex\\IconHandler", "",
                                  "{00000000-1111-2222-3333-444444444444}"));
    const auto target = OpenDialog(File("handled"));
    ASSERT_TRUE(target.Current);
    EXPECT_TRUE(target.AllOfType());
    EXPECT_STREQ("C:\\icons\\h.ico", target.Current->IconPath);
    EXPECT_EQ(6, target.Current->Index);
    EXPECT_EQ(ext_, target.Current->Owner);
}

TEST_F(IconTargetTest, FolderAndDriveReadTheirStores)
{
    const std::string folder = dir_.MakeFolder("Data");
    auto target = OpenDialog(folder);
    EXPECT_EQ(TargetKind::Folder, target.Kind());
    EXPECT_FALSE(target.AllOfType());
    ASSERT_TRUE(target.Current);
    EXPECT_STREQ("C:\\icons\\folder-class.ico", target.Current->IconPath);
    EXPECT_STREQ("Folder", target.Current->TypeKey);
    EXPECT_EQ(folder, target.Current->Owner);

    // Without any DriveIcons key no icon is known for a drive.
    auto drive = OpenDialog("C:\\");
    EXPECT_EQ(TargetKind::Drive, drive.Kind());
    EXPECT_FALSE(drive.Current);
    ASSERT_TRUE(test::WriteString(HKEY_LOCAL_MACHINE, std::string(DriveIconsKey) + "\\C\\DefaultIcon", "", "C:\\c.ico,3"));
    drive = OpenDialog("C:\\");
    ASSERT_TRUE(drive.Current);
    EXPECT_STREQ("C:\\c.ico", drive.Current->IconPath);
    EXPECT_STREQ("C", drive.Current->Owner);
}

TEST_F(IconTargetTest, HasBackupByKind)
{
    MakeType("C:\\icons\\type.ico,2");
    // A drive and a single file can always be restored.
    EXPECT_TRUE(OpenDialog("C:\\").HasBackup());
    auto file = OpenDialog(File("one"));
    EXPECT_TRUE(file.HasBackup());

    // A type only once it has a backup; without a current icon never.
    file.SetAllOfType(true);
    EXPECT_FALSE(file.HasBackup());
    ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, class_ + "\\DefaultIcon", BackupIconValue, "C:\\old.ico,1"));
    EXPECT_TRUE(file.HasBackup());
    file.Current.reset();
    EXPECT_FALSE(file.HasBackup());

    const std::string folder = dir_.MakeFolder("Data");
    EXPECT_FALSE(OpenDialog(folder).HasBackup());
    ASSERT_EQ(ERROR_SUCCESS, WriteFolderBackup(IconLocation("C:\\b.ico", "", 1), folder.c_str()));
    EXPECT_TRUE(OpenDialog(folder).HasBackup());

    IconTarget unclassified(nullptr);
    EXPECT_FALSE(unclassified.HasBackup());
}

// Only a file stands for all files of its type; a folder or drive target whose flag was
// never cleared is changed all the same (a folder used to get only its backup written,
// and the change reported done).
TEST_F(IconTargetTest, AllOfTypeMeansNothingForAFolderOrADrive)
{
    const std::string folder = dir_.MakeFolder("Data");
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
    SHFILEINFOA shown = {};
    ASSERT_NE(0u, SHGetFileInfoA(folder.c_str(), 0, &shown, sizeof shown, SHGFI_ICONLOCATION));
    EXPECT_EQ(3, shown.iIcon);

    IconTarget drive("G:\\");
    drive.SetAllOfType(true);
    EXPECT_FALSE(drive.AllOfType());
    ASSERT_EQ(ChangeResult::Done, Choose(drive, library_, 2));
    EXPECT_EQ(library_ + ",2", ValueText(HKEY_LOCAL_MACHINE, std::string(DriveIconsKey) + "\\G\\DefaultIcon"));
}

// What restoring would change, as the command line reports it before it restores.
TEST_F(IconTargetTest, WhatRestoreWouldDoByKind)
{
    MakeType(typeIcon_ + ",1");
    const std::string a = File("a");
    const std::string plain = File("plain");
    EXPECT_EQ(RestoreOutcome::NothingToRestore, OpenDialog(plain).WhatRestoreWouldDo()); // the type's icon, no entry
    EXPECT_EQ(RestoreOutcome::NothingToRestore, OpenDialogForType(plain).WhatRestoreWouldDo());
    ASSERT_EQ(ChangeResult::Done, ApplyTo(a, library_, 3));
    EXPECT_EQ(RestoreOutcome::Restores, OpenDialog(a).WhatRestoreWouldDo());
    ASSERT_EQ(ChangeResult::Done, ApplyToType(plain, library_, 4));
    EXPECT_EQ(RestoreOutcome::Restores, OpenDialogForType(plain).WhatRestoreWouldDo());
    ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, class_ + "\\shellex\\IconHandler", "", test::OtherClsid));
    EXPECT_EQ(RestoreOutcome::HandlerReplaced, OpenDialog(a).WhatRestoreWouldDo());

    const std::string folder = dir_.MakeFolder("Data");
    EXPECT_EQ(RestoreOutcome::NothingToRestore, OpenDialog(folder).WhatRestoreWouldDo());
    ASSERT_EQ(ChangeResult::Done, ApplyTo(folder, library_, 3));
    EXPECT_EQ(RestoreOutcome::Restores, OpenDialog(folder).WhatRestoreWouldDo());

    // A drive only with an entry of its own, which restoring deletes; the Drive class's
    // icon, reported once the DriveIcons key exists, is nothing to restore.
    test::KeyGuard driveClass(HKEY_CLASSES_ROOT, "Drive\\DefaultIcon");
    ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, "Drive\\DefaultIcon", "", "C:\\drive.ico,1"));
    ASSERT_TRUE(test::WriteString(HKEY_LOCAL_MACHINE, std::string(DriveIconsKey) + "\\H\\DefaultIcon", "", "C:\\h.ico,1"));
    EXPECT_EQ(RestoreOutcome::Restores, OpenDialog("H:\\").WhatRestoreWouldDo());
    const auto other = OpenDialog("J:\\");
    ASSERT_TRUE(other.Current);
    EXPECT_EQ(RestoreOutcome::NothingToRestore, other.WhatRestoreWouldDo());
    // Only a letter names a drive's entry: "1:\" addresses none, even where a key of
    // that name is there.
    ASSERT_TRUE(test::WriteString(HKEY_LOCAL_MACHINE, std::string(DriveIconsKey) + "\\1\\DefaultIcon", "", "C:\\1.ico,1"));
    IconTarget notADrive("1:\\");
    ASSERT_EQ(TargetKind::Drive, notADrive.Kind());
    ASSERT_TRUE(notADrive.SetCurrentIconPath("C:\\1.ico"));
    EXPECT_EQ(RestoreOutcome::NothingToRestore, notADrive.WhatRestoreWouldDo());

    EXPECT_EQ(RestoreOutcome::NothingToRestore, IconTarget(nullptr).WhatRestoreWouldDo());
}

// ---------------------------------------------------------------------------------------
// Folders

TEST_F(IconTargetTest, FolderApplyTwiceThenRestoreGoesBackOneStep)
{
    const std::string folder = dir_.MakeFolder("Data");
    const std::string profile = folder + "\\Desktop.ini";

    ASSERT_EQ(ChangeResult::Done, ApplyTo(folder, library_, 3));
    EXPECT_EQ("C:\\icons\\folder-class.ico,7", ValueText(HKEY_LOCAL_MACHINE, FolderBackupKey, folder.c_str()));

    auto second = OpenDialog(folder);
    EXPECT_TRUE(second.HasBackup());
    ASSERT_EQ(ChangeResult::Done, Choose(second, library_, 5));
    // The backup is replaced by what the folder had when the second dialog opened.
    EXPECT_EQ(library_ + ",3", ValueText(HKEY_LOCAL_MACHINE, FolderBackupKey, folder.c_str()));
    EXPECT_EQ(5, ReadFolderIcon(folder.c_str())->Index);

    auto third = OpenDialog(folder);
    ASSERT_EQ(ChangeResult::Done, third.RestoreDefault());
    const auto restored = ReadFolderIcon(folder.c_str());
    ASSERT_TRUE(restored);
    EXPECT_EQ(library_, restored->IconPath);
    EXPECT_EQ(3, restored->Index);
    EXPECT_EQ("<none>", ValueText(HKEY_LOCAL_MACHINE, FolderBackupKey, folder.c_str()));
    EXPECT_TRUE(test::KeyExists(HKEY_LOCAL_MACHINE, FolderBackupKey));
    EXPECT_FALSE(OpenDialog(folder).HasBackup());

    // A second restore has nothing to go back to and changes nothing.
    const std::string before = ReadFileText(profile);
    EXPECT_EQ(ChangeResult::Done, OpenDialog(folder).RestoreDefault());
    EXPECT_EQ(before, ReadFileText(profile));
}

TEST_F(IconTargetTest, RestoringAFolderWritesTheFolderClassIconExplicitly)
{
    const std::string folder = dir_.MakeFolder("Data");
    ASSERT_EQ(ChangeResult::Done, ApplyTo(folder, library_, 3));
    ASSERT_EQ(ChangeResult::Done, OpenDialog(folder).RestoreDefault());
    const std::string text = ReadFileText(folder + "\\Desktop.ini");
    EXPECT_TRUE(Contains(text, "IconFile=C:\\icons\\folder-class.ico"));
    EXPECT_TRUE(Contains(text, "IconIndex=7"));
}

TEST_F(IconTargetTest, ShellReportsTheFolderIconWritten)
{
    const std::string folder = dir_.MakeFolder("Shown");
    SHFILEINFOA before = {};
    SHGetFileInfoA(folder.c_str(), 0, &before, sizeof before, SHGFI_ICONLOCATION);
    ASSERT_NE(9, before.iIcon);
    ASSERT_EQ(ChangeResult::Done, ApplyTo(folder, library_, 9));
    SHFILEINFOA after = {};
    ASSERT_NE(0u, SHGetFileInfoA(folder.c_str(), 0, &after, sizeof after, SHGFI_ICONLOCATION));
    EXPECT_EQ(9, after.iIcon);
}

TEST_F(IconTargetTest, FolderWritesThatFailAreReported)
{
    // A folder that is not there: the shell handed over a path that has gone since.
    const std::string missing = dir_.Path() + "\\gone";
    EXPECT_EQ(ChangeResult::WriteFailed, ApplyTo(missing, library_, 3));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(missing.c_str()));

    // A profile file that another program holds open.
    const std::string folder = dir_.MakeFolder("Locked");
    const std::string profile = dir_.MakeFile("Locked\\Desktop.ini", "[.ShellClassInfo]\r\nIconFile=C:\\old.ico\r\nIconIndex=1\r\n");
    auto locked = OpenDialog(folder);
    HANDLE holder = CreateFileA(profile.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, holder);
    const ChangeResult applied = Choose(locked, library_, 3);
    CloseHandle(holder);
    EXPECT_EQ(ChangeResult::WriteFailed, applied);
    EXPECT_STREQ("C:\\old.ico", ReadFolderIcon(folder.c_str())->IconPath);

    // Restoring through a locked file keeps the backup for a later try.
    ASSERT_EQ(ChangeResult::Done, Choose(locked, library_, 4));
    holder = CreateFileA(profile.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    const ChangeResult restored = OpenDialog(folder).RestoreDefault();
    CloseHandle(holder);
    EXPECT_EQ(ChangeResult::WriteFailed, restored);
    EXPECT_TRUE(OpenDialog(folder).HasBackup());
    EXPECT_EQ(ChangeResult::Done, OpenDialog(folder).RestoreDefault());
    EXPECT_STREQ("C:\\old.ico", ReadFolderIcon(folder.c_str())->IconPath);
}

TEST_F(IconTargetTest, FolderBackupRefusedByTheRegistryStopsTheChange)
{
    const std::string folder = dir_.MakeFolder("Data");
    ASSERT_TRUE(test::WriteString(HKEY_LOCAL_MACHINE, FolderBackupKey, "other", "C:\\x.ico,1"));
    test::ReadOnlyKey readOnly(HKEY_LOCAL_MACHINE, FolderBackupKey);
    ASSERT_TRUE(readOnly.Applied());
    EXPECT_EQ(ChangeResult::AccessDenied, ApplyTo(folder, library_, 3));
    EXPECT_EQ("<none>", ReadFileText(folder + "\\Desktop.ini"));
    EXPECT_FALSE(GetFileAttributesA(folder.c_str()) & FILE_ATTRIBUTE_SYSTEM);
}

TEST_F(IconTargetTest, FolderPathsAndTextsTooLongAreRefusedWithNothingWritten)
{
    // A folder path with no room for "\Desktop.ini": no icon is known, none is written.
    std::string longFolder = dir_.Path() + "\\";
    longFolder += std::string(250 - longFolder.size(), 'd');
    auto tooLong = OpenDialog(longFolder);
    EXPECT_FALSE(tooLong.Current);
    EXPECT_EQ(ChangeResult::PathTooLong, Choose(tooLong, library_, 3));
    EXPECT_FALSE(test::KeyExists(HKEY_LOCAL_MACHINE, FolderBackupKey));

    // An icon path that "IconFile" could not give back whole.
    const std::string folder = dir_.MakeFolder("Data");
    auto longIcon = OpenDialog(folder);
    EXPECT_EQ(ChangeResult::PathTooLong, Choose(longIcon, "C:\\" + std::string(256, 'i'), 3));
    EXPECT_FALSE(test::KeyExists(HKEY_LOCAL_MACHINE, FolderBackupKey));
    EXPECT_EQ("<none>", ReadFileText(folder + "\\Desktop.ini"));

    // A current icon whose backup text does not fit: the backup is refused first and the
    // folder keeps its icon.
    const std::string old = "C:\\" + std::string(250, 'o');
    dir_.MakeFile("Data\\Desktop.ini", "[.ShellClassInfo]\r\nIconFile=" + old + "\r\nIconIndex=-1\r\n");
    auto unbacked = OpenDialog(folder);
    ASSERT_TRUE(unbacked.Current);
    EXPECT_EQ(ChangeResult::PathTooLong, Choose(unbacked, library_, 3));
    EXPECT_EQ(old, ReadFolderIcon(folder.c_str())->IconPath);
}

// ---------------------------------------------------------------------------------------
// All files of a type

TEST_F(IconTargetTest, TypeApplyTwiceKeepsTheFirstBackupAndRestoreBringsItBack)
{
    const std::string original = typeIcon_ + ",2";
    MakeType(original);
    const std::string file = File("doc");
    EXPECT_EQ(Lower(typeIcon_ + ",2"), Lower(ShellIconLocation(file)));

    auto first = OpenDialogForType(file);
    EXPECT_FALSE(first.HasBackup());
    ASSERT_EQ(ChangeResult::Done, Choose(first, library_, 4));
    EXPECT_EQ(library_ + ",4", ClassValue("DefaultIcon"));
    EXPECT_EQ(original, ClassValue("DefaultIcon", BackupIconValue));
    EXPECT_EQ(Lower(library_ + ",4"), Lower(ShellIconLocation(file)));

    auto second = OpenDialogForType(file);
    EXPECT_TRUE(second.HasBackup());
    ASSERT_EQ(ChangeResult::Done, Choose(second, library_, 6));
    EXPECT_EQ(library_ + ",6", ClassValue("DefaultIcon"));
    EXPECT_EQ(original, ClassValue("DefaultIcon", BackupIconValue));

    auto restore = OpenDialogForType(file);
    ASSERT_EQ(ChangeResult::Done, restore.RestoreDefault());
    EXPECT_EQ(original, ClassValue("DefaultIcon"));
    EXPECT_EQ("<none>", ClassValue("DefaultIcon", BackupIconValue));
    auto reopened = OpenDialogForType(file);
    EXPECT_FALSE(reopened.HasBackup());
    EXPECT_EQ(Lower(typeIcon_ + ",2"), Lower(ShellIconLocation(file)));

    // Nothing left to restore: nothing changes.
    auto again = OpenDialogForType(file);
    EXPECT_EQ(ChangeResult::Done, again.RestoreDefault());
    EXPECT_EQ(original, ClassValue("DefaultIcon"));
}

TEST_F(IconTargetTest, UnknownTypeIsRegisteredUnderTheExtensionsNameWithItsCase)
{
    // REPORT.ABC gives ABCfile: the extension's letter case is kept.
    const std::string upperExt = Upper(ext_);
    const std::string derived = upperExt.substr(1) + "file";
    const std::string file = dir_.MakeFile("REPORT" + upperExt);
    auto target = OpenDialog(file);
    ASSERT_FALSE(target.Current);
    ASSERT_TRUE(target.AllOfType());
    ASSERT_EQ(ChangeResult::Done, Choose(target, library_, 2));
    ASSERT_TRUE(target.Current);
    EXPECT_EQ(derived, target.Current->TypeKey);
    EXPECT_EQ(upperExt, target.Current->Owner);
    EXPECT_EQ(derived, ValueText(HKEY_CLASSES_ROOT, upperExt));
    EXPECT_EQ(library_ + ",2", ValueText(HKEY_CLASSES_ROOT, derived + "\\DefaultIcon"));
    // There was no icon before, so there is nothing to back up.
    EXPECT_EQ("<none>", ValueText(HKEY_CLASSES_ROOT, derived + "\\DefaultIcon", BackupIconValue));
}

TEST_F(IconTargetTest, SingleFileOfAnUnknownTypeNamesTheClassAfterItsExtension)
{
    // report.abc with no icon known anywhere: stored with TypeKey abcfile and Owner .abc.
    const std::string file = File("report");
    auto target = OpenDialog(file);
    ASSERT_FALSE(target.Current);
    target.SetAllOfType(false);
    ASSERT_EQ(ChangeResult::Done, Choose(target, library_, 3));
    EXPECT_EQ(class_, target.Current->TypeKey);
    EXPECT_EQ(ext_, target.Current->Owner);
    EXPECT_EQ(library_ + ",3," + class_, TableValue(file));
    EXPECT_EQ(class_, ValueText(HKEY_CLASSES_ROOT, ext_));
    EXPECT_TRUE(IsOwnIconHandler(ClassRecord()));

    ASSERT_EQ(ChangeResult::Done, OpenDialog(file).RestoreDefault());
    EXPECT_EQ("<none>", TableValue(file));
    EXPECT_FALSE(IsOwnIconHandler(ClassRecord()));
}

TEST_F(IconTargetTest, SetTypeIconWritesBesideTheHandlerOnlyWhenItIsThisExtension)
{
    MakeType("%1");
    IconLocation location("C:\\t.ico", ext_.c_str(), 3);
    location.SetTypeKey(class_.c_str());

    ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, class_ + "\\shellex\\IconHandler", "", ExtensionClsidText));
    ASSERT_EQ(ERROR_SUCCESS, SetTypeIcon(location));
    EXPECT_EQ("%1", ClassValue("DefaultIcon"));
    EXPECT_EQ("C:\\t.ico,3", ClassValue("DefaultIcon", HandlerIconValue));

    // The same identifier in lower case is not this extension.
    std::string lower = ExtensionClsidText;
    for (char& c : lower)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, class_ + "\\shellex\\IconHandler", "", lower));
    location.SetIndex(4);
    ASSERT_EQ(ERROR_SUCCESS, SetTypeIcon(location));
    EXPECT_EQ("C:\\t.ico,4", ClassValue("DefaultIcon"));
    EXPECT_EQ("C:\\t.ico,3", ClassValue("DefaultIcon", HandlerIconValue));
}

TEST_F(IconTargetTest, TypeWritesRefusedByTheRegistryAreReported)
{
    MakeType("C:\\old.ico,1");
    const std::string file = File("doc");
    test::ReadOnlyKey readOnly(HKEY_CLASSES_ROOT, class_ + "\\DefaultIcon");
    ASSERT_TRUE(readOnly.Applied());
    EXPECT_EQ(ChangeResult::AccessDenied, ApplyToType(file, library_, 4));
    EXPECT_EQ("C:\\old.ico,1", ClassValue("DefaultIcon"));
    EXPECT_EQ("<none>", ClassValue("DefaultIcon", BackupIconValue));
}

TEST_F(IconTargetTest, TypeTextsTooLongAreRefusedBeforeTheBackup)
{
    MakeType("C:\\old.ico,1");
    auto target = OpenDialog(File("doc"));
    target.SetAllOfType(true);
    // 255 characters, a comma and "12345" make more than 259.
    EXPECT_EQ(ChangeResult::PathTooLong, Choose(target, "C:\\" + std::string(252, 'p'), 12345));
    EXPECT_EQ("C:\\old.ico,1", ClassValue("DefaultIcon"));
    EXPECT_EQ("<none>", ClassValue("DefaultIcon", BackupIconValue));
}

// ---------------------------------------------------------------------------------------
// Single files

TEST_F(IconTargetTest, OneFileGetsItsOwnIconAndRestoreGivesTheClassBackExactly)
{
    const std::string original = typeIcon_ + ",1";
    MakeType(original);
    const std::string a = File("a");
    const std::string sibling = File("b");

    auto target = OpenDialog(a);
    ASSERT_FALSE(target.AllOfType());
    ASSERT_EQ(ChangeResult::Done, Choose(target, library_, 3));

    const auto entry = ReadFileIcon(a.c_str());
    ASSERT_TRUE(entry);
    EXPECT_EQ(library_, entry->IconPath);
    EXPECT_EQ(3, entry->Index);
    EXPECT_EQ(class_, entry->TypeKey);
    EXPECT_EQ(library_ + ",3," + class_, TableValue(a));
    // The class is now served by this extension; its icon waits in DefaultIconBAK.
    EXPECT_TRUE(IsOwnIconHandler(ClassRecord()));
    EXPECT_EQ("%1", ClassValue("DefaultIcon"));
    EXPECT_EQ(original, ClassValue("DefaultIconBAK"));
    EXPECT_EQ("<none>", ClassValue("DefaultIcon", BackupIconValue));
    EXPECT_EQ("<none>", ClassValue("DefaultIcon", HandlerIconValue));
    EXPECT_FALSE(test::KeyExists(HKEY_CLASSES_ROOT, class_ + "\\shellex\\IconHandlerBAK"));
    EXPECT_FALSE(ReadFileIcon(sibling.c_str()));
    // The sibling's dialog finds the type's icon behind the handler's "%1".
    const auto siblingTarget = OpenDialog(sibling);
    ASSERT_TRUE(siblingTarget.Current);
    EXPECT_EQ(typeIcon_, siblingTarget.Current->IconPath);
    EXPECT_EQ(1, siblingTarget.Current->Index);
    EXPECT_EQ(class_, siblingTarget.Current->TypeKey);
    EXPECT_EQ(ext_, siblingTarget.Current->Owner);
    EXPECT_FALSE(siblingTarget.AllOfType());

    auto restore = OpenDialog(a);
    ASSERT_TRUE(restore.Current);
    EXPECT_EQ(3, restore.Current->Index);
    ASSERT_EQ(ChangeResult::Done, restore.RestoreDefault());
    EXPECT_FALSE(ReadFileIcon(a.c_str()));
    EXPECT_EQ(original, ClassValue("DefaultIcon"));
    EXPECT_FALSE(test::KeyExists(HKEY_CLASSES_ROOT, class_ + "\\DefaultIconBAK"));
    EXPECT_FALSE(test::KeyExists(HKEY_CLASSES_ROOT, class_ + "\\shellex\\IconHandlerBAK"));
    EXPECT_FALSE(test::KeyExists(HKEY_CLASSES_ROOT, class_ + "\\shellex\\IconHandler"));
    EXPECT_FALSE(IsOwnIconHandler(ClassRecord()));
    EXPECT_FALSE(HasIconHandler(ext_.c_str()));
    EXPECT_EQ(Lower(typeIcon_ + ",1"), Lower(ShellIconLocation(sibling)));
}

TEST_F(IconTargetTest, HandlerStaysUntilTheLastFileOfTheClassIsRestored)
{
    const std::string original = typeIcon_ + ",1";
    MakeType(original);
    const std::string a = File("a");
    const std::string b = File("b");
    ASSERT_EQ(ChangeResult::Done, ApplyTo(a, library_, 3));
    ASSERT_EQ(ChangeResult::Done, ApplyTo(b, library_, 5));
    EXPECT_EQ(original, ClassValue("DefaultIconBAK"));

    ASSERT_EQ(ChangeResult::Done, OpenDialog(a).RestoreDefault());
    EXPECT_FALSE(ReadFileIcon(a.c_str()));
    EXPECT_EQ(5, ReadFileIcon(b.c_str())->Index);
    EXPECT_TRUE(IsOwnIconHandler(ClassRecord()));
    EXPECT_EQ("%1", ClassValue("DefaultIcon"));

    ASSERT_EQ(ChangeResult::Done, OpenDialog(b).RestoreDefault());
    EXPECT_FALSE(ReadFileIcon(b.c_str()));
    EXPECT_FALSE(IsOwnIconHandler(ClassRecord()));
    EXPECT_EQ(original, ClassValue("DefaultIcon"));
    EXPECT_FALSE(test::KeyExists(HKEY_CLASSES_ROOT, class_ + "\\DefaultIconBAK"));
}

TEST_F(IconTargetTest, EntriesOfAnotherExtensionOfTheSameClassKeepTheHandler)
{
    // Two extensions name one class: the count goes by the class stored in each entry,
    // not by the extension text in the file names.
    MakeType(typeIcon_ + ",1");
    const std::string otherExt = ext_ + "x";
    test::KeyGuard otherGuard(HKEY_CLASSES_ROOT, otherExt);
    ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, otherExt, "", class_));
    const std::string a = File("a");
    const std::string b = dir_.MakeFile("b" + otherExt);
    ASSERT_EQ(ChangeResult::Done, ApplyTo(a, library_, 3));
    ASSERT_EQ(ChangeResult::Done, ApplyTo(b, library_, 4));

    ASSERT_EQ(ChangeResult::Done, OpenDialog(a).RestoreDefault());
    EXPECT_TRUE(IsOwnIconHandler(ClassRecord()));
    ASSERT_EQ(ChangeResult::Done, OpenDialog(b).RestoreDefault());
    EXPECT_FALSE(IsOwnIconHandler(ClassRecord()));
    EXPECT_EQ(typeIcon_ + ",1", ClassValue("DefaultIcon"));
}

TEST_F(IconTargetTest, RestoringWhileAnotherHandlerServesTheClassChangesNothing)
{
    MakeType(typeIcon_ + ",1");
    const std::string a = File("a");
    ASSERT_EQ(ChangeResult::Done, ApplyTo(a, library_, 3));
    const std::string foreign = "{00000000-1111-2222-3333-444444444444}";
    ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, class_ + "\\shellex\\IconHandler", "", foreign));

    EXPECT_EQ(ChangeResult::Done, OpenDialog(a).RestoreDefault());
    EXPECT_EQ(library_ + ",3," + class_, TableValue(a));
    EXPECT_EQ("%1", ClassValue("DefaultIcon"));
    EXPECT_EQ(foreign, ClassValue("shellex\\IconHandler"));
    EXPECT_EQ(typeIcon_ + ",1", ClassValue("DefaultIconBAK"));
}

TEST_F(IconTargetTest, TypeThenOneOfItsFilesThenRestoreFileAndType)
{
    const std::string original = typeIcon_ + ",1";
    MakeType(original);
    const std::string a = File("a");
    const std::string b = File("b");

    ASSERT_EQ(ChangeResult::Done, ApplyToType(a, library_, 2));
    auto single = OpenDialog(b);
    ASSERT_FALSE(single.AllOfType());
    ASSERT_EQ(ChangeResult::Done, Choose(single, library_, 7));
    EXPECT_EQ(library_ + ",2", ClassValue("DefaultIconBAK"));
    EXPECT_EQ(original, ClassValue("DefaultIcon", BackupIconValue));

    ASSERT_EQ(ChangeResult::Done, OpenDialog(b).RestoreDefault());
    EXPECT_EQ(library_ + ",2", ClassValue("DefaultIcon"));
    EXPECT_FALSE(IsOwnIconHandler(ClassRecord()));

    auto restoreType = OpenDialogForType(a);
    ASSERT_TRUE(restoreType.HasBackup());
    ASSERT_EQ(ChangeResult::Done, restoreType.RestoreDefault());
    EXPECT_EQ(original, ClassValue("DefaultIcon"));
    EXPECT_EQ("<none>", ClassValue("DefaultIcon", BackupIconValue));
    EXPECT_FALSE(test::KeyExists(HKEY_CLASSES_ROOT, class_ + "\\DefaultIconBAK"));
}

TEST_F(IconTargetTest, SingleFileTextsTooLongAreRefusedWithNothingWritten)
{
    MakeType("C:\\old.ico,1");
    auto target = OpenDialog(File("a"));
    // Path, index and class together exceed the 259 characters of an entry.
    EXPECT_EQ(ChangeResult::PathTooLong, Choose(target, "C:\\" + std::string(240, 'p'), 3));
    EXPECT_FALSE(test::KeyExists(HKEY_LOCAL_MACHINE, FileIconsKey));
    EXPECT_EQ("C:\\old.ico,1", ClassValue("DefaultIcon"));
    EXPECT_FALSE(test::KeyExists(HKEY_CLASSES_ROOT, class_ + "\\shellex"));
}

TEST_F(IconTargetTest, SingleFileWriteRefusedByTheRegistryIsReported)
{
    MakeType("C:\\old.ico,1");
    const std::string a = File("a");
    IconLocation other("C:\\x.ico", "", 1);
    other.SetTypeKey(class_.c_str());
    ASSERT_EQ(ERROR_SUCCESS, WriteFileIcon(other, "C:\\elsewhere.txt"));
    test::ReadOnlyKey readOnly(HKEY_LOCAL_MACHINE, FileIconsKey);
    ASSERT_TRUE(readOnly.Applied());
    EXPECT_EQ(ChangeResult::AccessDenied, ApplyTo(a, library_, 3));
    EXPECT_EQ("<none>", TableValue(a));
    EXPECT_EQ("C:\\old.ico,1", ClassValue("DefaultIcon"));
    EXPECT_FALSE(IsOwnIconHandler(ClassRecord()));
}

TEST_F(IconTargetTest, FileWithoutExtensionIsRefusedWithNothingWritten)
{
    // A dot in a folder name is no extension of the file.
    const std::string file = dir_.MakeFile("v1.2\\README");
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
    dir_.MakeFile("notes");
    IconTarget dotted((dir_.Path() + "\\notes.").c_str());
    ASSERT_EQ(TargetKind::File, dotted.Kind());
    EXPECT_EQ(ChangeResult::NoExtension, Choose(dotted, library_, 3));
    EXPECT_FALSE(test::KeyExists(HKEY_LOCAL_MACHINE, ProductRoot));
}

// ---------------------------------------------------------------------------------------
// Drives

TEST_F(IconTargetTest, DriveApplyAndRestore)
{
    auto target = OpenDialog("D:\\");
    ASSERT_FALSE(target.Current);
    EXPECT_TRUE(target.HasBackup());
    ASSERT_EQ(ChangeResult::Done, Choose(target, library_, 2));
    EXPECT_STREQ("D:\\", target.Current->Owner);
    const std::string entry = std::string(DriveIconsKey) + "\\D\\DefaultIcon";
    EXPECT_EQ(library_ + ",2", ValueText(HKEY_LOCAL_MACHINE, entry));

    auto reopened = OpenDialog("D:\\");
    ASSERT_TRUE(reopened.Current);
    EXPECT_STREQ("D", reopened.Current->Owner);
    ASSERT_EQ(ChangeResult::Done, Choose(reopened, library_, NoIndex));
    EXPECT_EQ(library_ + ",4294967197", ValueText(HKEY_LOCAL_MACHINE, entry));

    ASSERT_EQ(ChangeResult::Done, OpenDialog("d:\\").RestoreDefault());
    EXPECT_FALSE(test::KeyExists(HKEY_LOCAL_MACHINE, entry));
    EXPECT_TRUE(test::KeyExists(HKEY_LOCAL_MACHINE, std::string(DriveIconsKey) + "\\D"));
}

TEST_F(IconTargetTest, DriveEntryOfAnotherProgramIsOverwrittenWithoutBackupAndRestoreDeletesIt)
{
    const std::string entry = std::string(DriveIconsKey) + "\\E\\DefaultIcon";
    ASSERT_TRUE(test::WriteString(HKEY_LOCAL_MACHINE, entry, "", "C:\\vendor\\usb.ico,0"));
    auto target = OpenDialog("E:\\");
    ASSERT_EQ(ChangeResult::Done, Choose(target, library_, 1));
    EXPECT_EQ(library_ + ",1", ValueText(HKEY_LOCAL_MACHINE, entry));
    ASSERT_EQ(ChangeResult::Done, OpenDialog("E:\\").RestoreDefault());
    EXPECT_FALSE(test::KeyExists(HKEY_LOCAL_MACHINE, entry));
}

TEST_F(IconTargetTest, DriveWritesThatFailAreReported)
{
    const std::string entry = std::string(DriveIconsKey) + "\\F\\DefaultIcon";
    ASSERT_TRUE(test::WriteString(HKEY_LOCAL_MACHINE, entry, "", "C:\\old.ico,0"));
    {
        test::ReadOnlyKey readOnly(HKEY_LOCAL_MACHINE, entry);
        ASSERT_TRUE(readOnly.Applied());
        auto target = OpenDialog("F:\\");
        EXPECT_EQ(ChangeResult::AccessDenied, Choose(target, library_, 1));
        EXPECT_EQ("C:\\old.ico,0", ValueText(HKEY_LOCAL_MACHINE, entry));
    }
    auto tooLong = OpenDialog("F:\\");
    EXPECT_EQ(ChangeResult::PathTooLong, Choose(tooLong, "C:\\" + std::string(252, 'p'), 12345));
    EXPECT_EQ("C:\\old.ico,0", ValueText(HKEY_LOCAL_MACHINE, entry));
}

// ---------------------------------------------------------------------------------------
// Removing all settings, then restoring

TEST_F(IconTargetTest, RemoveAllThenRestore)
{
    const std::string original = typeIcon_ + ",1";
    MakeType(original);
    const std::string a = File("a");
    const std::string folder = dir_.MakeFolder("Data");

    ASSERT_EQ(ChangeResult::Done, ApplyTo(a, library_, 3));
    ASSERT_EQ(ChangeResult::Done, ApplyTo(folder, library_, 4));
    auto drive = OpenDialog("G:\\");
    ASSERT_EQ(ChangeResult::Done, Choose(drive, library_, 5));

    ASSERT_EQ(ERROR_SUCCESS, RemoveAllSettings());
    EXPECT_EQ(original, ClassValue("DefaultIcon"));
    EXPECT_FALSE(IsOwnIconHandler(ClassRecord()));
    EXPECT_FALSE(ReadFileIcon(a.c_str()));
    EXPECT_FALSE(OpenDialog(folder).HasBackup());
    EXPECT_EQ(library_ + ",5", ValueText(HKEY_LOCAL_MACHINE, std::string(DriveIconsKey) + "\\G\\DefaultIcon"));

    // The file now shows its type's icon; restoring it finds nothing of this extension's.
    auto file = OpenDialog(a);
    ASSERT_TRUE(file.Current);
    EXPECT_EQ(original, std::string(file.Current->IconPath) + "," + std::to_string(file.Current->Index));
    EXPECT_EQ(ChangeResult::Done, file.RestoreDefault());
    EXPECT_EQ(original, ClassValue("DefaultIcon"));
    EXPECT_FALSE(test::KeyExists(HKEY_CLASSES_ROOT, class_ + "\\shellex"));

    // The folder keeps the icon it was given; with its backup gone there is nothing to restore.
    const std::string profile = ReadFileText(folder + "\\Desktop.ini");
    EXPECT_EQ(ChangeResult::Done, OpenDialog(folder).RestoreDefault());
    EXPECT_EQ(profile, ReadFileText(folder + "\\Desktop.ini"));
    EXPECT_EQ(4, ReadFolderIcon(folder.c_str())->Index);
}

TEST_F(IconTargetTest, TypeIconAndItsBackupSurviveRemoveAll)
{
    const std::string original = typeIcon_ + ",1";
    MakeType(original);
    const std::string a = File("a");
    ASSERT_EQ(ChangeResult::Done, ApplyToType(a, library_, 2));

    ASSERT_EQ(ERROR_SUCCESS, RemoveAllSettings());
    EXPECT_EQ(library_ + ",2", ClassValue("DefaultIcon"));
    EXPECT_EQ(original, ClassValue("DefaultIcon", BackupIconValue));

    auto restore = OpenDialogForType(a);
    ASSERT_EQ(ChangeResult::Done, restore.RestoreDefault());
    EXPECT_EQ(original, ClassValue("DefaultIcon"));
}
