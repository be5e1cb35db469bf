// Folders whose Desktop.ini Windows wrote: read as Windows shows them (IconResource over
// IconFile/IconIndex), and changed and restored through the target as the dialog does it,
// with all three entries naming the icon and every other line of the file kept.
#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include <iterator>
#include <string>
#include <vector>

#include "FolderIcons.h"
#include "IconTarget.h"
#include "Registry.h"
#include "RegistryNames.h"
#include "ScratchRegistry.h"
#include "TestSupport.h"
#include "WindowsDesktopIni.h"

using namespace orvane;

namespace {

constexpr const char* IconEntries[] = {"IconFile=", "IconIndex=", "IconResource="};

// The three entries as they stand in ".ShellClassInfo", in the order IconFile,
// IconIndex, IconResource (each must stand there once).
std::string IconEntriesOf(const std::vector<std::string>& lines)
{
    std::string found;
    for (const char* entry : IconEntries) {
        bool inClassInfo = false;
        for (const std::string& line : lines) {
            if (!line.empty() && line[0] == '[')
                inClassInfo = line == "[.ShellClassInfo]";
            else if (line.rfind(entry, 0) == 0)
                found += (inClassInfo ? "" : "outside:") + line + "|";
        }
    }
    return found;
}

// What IconEntriesOf gives when the three entries name the location "path,index". The
// lines are ASCII (DesktopIniLines narrows UTF-16 to it), so is the location here.
std::string ExpectedEntries(const std::wstring& wideLocation)
{
    const std::string location = test::Utf8(wideLocation);
    const std::size_t comma = location.rfind(',');
    return "IconFile=" + location.substr(0, comma) + "|IconIndex=" + location.substr(comma + 1) +
           "|IconResource=" + location + "|";
}

// A symbolic link at `link` to `target`. Wine's CreateSymbolicLinkW answers success and
// makes nothing (Wine 8); a Unix symbolic link, made by ln through Wine's own way of
// starting a Unix program, is what Wine shows for a link (as a plain file that leads
// elsewhere, not as a reparse point).
bool MakeLink(const std::wstring& link, const std::wstring& target)
{
    if (CreateSymbolicLinkW(link.c_str(), target.c_str(), 0) &&
        GetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES)
        return true;
    using UnixName = char*(CDECL*)(const wchar_t*);
    using Spawn = LONG(CDECL*)(char* const*, int);
    const auto unixName =
        reinterpret_cast<UnixName>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    const auto spawn = reinterpret_cast<Spawn>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "__wine_unix_spawnvp")));
    if (unixName == nullptr || spawn == nullptr)
        return false;
    char* from = unixName(target.c_str());
    char* to = unixName(link.c_str());
    bool made = false;
    if (from != nullptr && to != nullptr) {
        char ln[] = "/bin/ln";
        char option[] = "-s";
        char* const argv[] = {ln, option, from, to, nullptr};
        made = spawn(argv, 1) == 0 && GetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES;
    }
    HeapFree(GetProcessHeap(), 0, from);
    HeapFree(GetProcessHeap(), 0, to);
    return made;
}

// What the dialog does when it opens on a folder, and on OK or Restore.
IconTarget Opened(const std::wstring& folder)
{
    IconTarget target(folder.c_str());
    target.RememberOriginal(target.ReadCurrentIcon());
    target.SetAllOfType(false);
    return target;
}

class WindowsWrittenFolder : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(test::DeleteKeyTree(HKEY_LOCAL_MACHINE, test::ProductRoot));
        ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, test::FolderClassIconKey, L"", test::FolderClassIconText));
        library_ = test::WriteIconFile(dir_.Path() + L"\\library.ico", 12);
    }
    // A folder holding the file as Windows wrote it (hidden, the folder a system folder).
    std::wstring FolderWith(const test::WindowsDesktopIni& ini)
    {
        const std::wstring folder = dir_.MakeFolder(ini.Name);
        test::PlaceDesktopIni(folder, ini);
        return folder;
    }

    test::TempDir dir_;
    std::wstring library_;

private:
    test::KeyGuard product_{HKEY_LOCAL_MACHINE, test::ProductRoot};
    test::KeyGuard folderClass_{HKEY_CLASSES_ROOT, test::FolderClassIconKey};
};

} // namespace

TEST_F(WindowsWrittenFolder, ReadAsWindowsShowsIt)
{
    for (const test::WindowsDesktopIni* ini : test::WindowsDesktopInis) {
        SCOPED_TRACE(ini->Name);
        const std::wstring folder = FolderWith(*ini);
        const auto read = ReadFolderIcon(folder.c_str());
        ASSERT_TRUE(read);
        EXPECT_EQ(ini->Icon, std::wstring(read->IconPath) + L"," + std::to_wstring(read->Index));
        EXPECT_STREQ(L"", read->TypeKey);
        EXPECT_EQ(folder, read->TargetName);
    }
}

TEST_F(WindowsWrittenFolder, ApplyNamesTheIconInAllThreeEntriesRestorePutsBackTheEntriesAndEveryOtherLineStays)
{
    for (const test::WindowsDesktopIni* ini : test::WindowsDesktopInis) {
        SCOPED_TRACE(ini->Name);
        const std::wstring folder = FolderWith(*ini);
        const std::wstring desktopIni = folder + L"\\Desktop.ini";
        const std::vector<std::string> before = test::DesktopIniLines(test::ReadFileText(desktopIni));

        IconTarget target = Opened(folder);
        ASSERT_TRUE(target.SetCurrentIconPath(library_.c_str()));
        target.SetCurrentIndex(3);
        ASSERT_EQ(ChangeResult::Done, target.ApplyIcon());
        bool utf16 = false;
        std::vector<std::string> after = test::DesktopIniLines(test::ReadFileText(desktopIni), &utf16);
        EXPECT_EQ(ini->Utf16, utf16);
        EXPECT_EQ(ExpectedEntries(library_ + L",3"), IconEntriesOf(after));
        EXPECT_EQ(test::OtherEntries(before), test::OtherEntries(after));
        // Wine's shell reads IconFile/IconIndex (not IconResource) and so sees the change.
        SHFILEINFOW info = {};
        ASSERT_NE(0u, SHGetFileInfoW(folder.c_str(), 0, &info, sizeof info, SHGFI_ICONLOCATION));
        EXPECT_EQ(3, info.iIcon);

        // The backup holds what Windows showed and the entries that stood there;
        // restoring writes back exactly those entries.
        ASSERT_EQ(ChangeResult::Done, Opened(folder).RestoreDefault());
        after = test::DesktopIniLines(test::ReadFileText(desktopIni), &utf16);
        EXPECT_EQ(ini->Utf16, utf16);
        EXPECT_EQ(IconEntriesOf(before), IconEntriesOf(after));
        EXPECT_EQ(test::OtherEntries(before), test::OtherEntries(after));
        const auto restored = ReadFolderIcon(folder.c_str());
        ASSERT_TRUE(restored);
        EXPECT_EQ(ini->Icon, std::wstring(restored->IconPath) + L"," + std::to_wstring(restored->Index));
    }
}

// The same files given an icon whose path code page 1252 cannot hold: an ANSI one becomes
// UTF-16 LE with every other entry kept, the one that is UTF-16 stays so, the file keeps
// its attributes and the folder is a system folder; restoring writes back the entries
// Windows wrote, and the ANSI ones are ANSI again. (Entries are compared, not empty
// lines: Wine's profile writer drops those.)
TEST_F(WindowsWrittenFolder, AnIconOfAnyNameTurnsTheFileIntoUtf16AndIsRestored)
{
    const std::wstring wide =
        test::WriteIconFile(dir_.MakeFolder(L"\u5199\u771F \u05E9") + L"\\\U0001F4C1 \u014Daq.ico", 12);
    for (const test::WindowsDesktopIni* ini : test::WindowsDesktopInis) {
        SCOPED_TRACE(ini->Name);
        const std::wstring folder = FolderWith(*ini);
        const std::wstring desktopIni = folder + L"\\Desktop.ini";
        bool startUtf16 = false;
        const std::vector<std::string> before = test::DesktopIniLines(test::ReadFileText(desktopIni), &startUtf16);
        const DWORD attributes = GetFileAttributesW(desktopIni.c_str());
        const std::wstring entriesBefore = test::IconEntries(folder);

        IconTarget target = Opened(folder);
        ASSERT_TRUE(target.SetCurrentIconPath(wide.c_str()));
        target.SetCurrentIndex(5);
        ASSERT_EQ(ChangeResult::Done, target.ApplyIcon());
        bool utf16 = false;
        std::vector<std::string> after = test::DesktopIniLines(test::ReadFileText(desktopIni), &utf16);
        EXPECT_TRUE(utf16);
        EXPECT_EQ(test::EntriesNaming(wide + L",5"), test::IconEntries(folder));
        EXPECT_EQ(test::OtherEntries(before), test::OtherEntries(after));
        EXPECT_EQ(attributes, GetFileAttributesW(desktopIni.c_str()));
        EXPECT_TRUE(GetFileAttributesW(folder.c_str()) & FILE_ATTRIBUTE_SYSTEM);
        SHFILEINFOW info = {};
        ASSERT_NE(0u, SHGetFileInfoW(folder.c_str(), 0, &info, sizeof info, SHGFI_ICONLOCATION));
        EXPECT_EQ(5, info.iIcon);

        ASSERT_EQ(ChangeResult::Done, Opened(folder).RestoreDefault());
        after = test::DesktopIniLines(test::ReadFileText(desktopIni), &utf16);
        EXPECT_EQ(startUtf16, utf16);
        EXPECT_EQ(entriesBefore, test::IconEntries(folder));
        EXPECT_EQ(test::OtherEntries(before), test::OtherEntries(after));
        EXPECT_EQ(attributes, GetFileAttributesW(desktopIni.c_str()));
        EXPECT_FALSE(ReadFolderBackup(folder.c_str()));
    }
}

// Entries written by hand that Windows reads as an icon: each is shown, backed up before
// a change and restored as it stood, byte for byte, whatever the change wrote over it,
// with the attributes the file and the folder had (a file written by hand is not hidden,
// its folder not yet a system folder), and in the ANSI code page again where an icon the
// code page lacks had made the file UTF-16. Earlier builds read the start of the backup
// value alone: that start names the icon.
TEST_F(WindowsWrittenFolder, EntriesWrittenByHandAreShownBackedUpAndRestoredAsTheyStood)
{
    const std::string longest(259, 'l');
    const std::wstring wide = test::WriteIconFile(dir_.MakeFolder(L"\u5199\u771F") + L"\\\U0001F4C1.ico", 12);
    struct Case {
        const wchar_t* Name;
        std::string Content;
        std::wstring Shown; // "path,index" as read, -99 for "no index"
        bool WideIcon = false; // changed to an icon whose path the code page cannot hold
        DWORD DesktopIniAttributes = FILE_ATTRIBUTE_ARCHIVE;
        DWORD FolderAttributes = FILE_ATTRIBUTE_DIRECTORY;
    } cases[] = {
        {L"fileAlone", "[.ShellClassInfo]\r\nIconFile=C:\\icons\\hand.ico\r\nInfoTip=kept\r\n", L"C:\\icons\\hand.ico,-99"},
        {L"emptyIndex", "[.ShellClassInfo]\r\nIconFile=C:\\icons\\hand.ico\r\nIconIndex=\r\n", L"C:\\icons\\hand.ico,-99"},
        {L"resourceAlone", "[.ShellClassInfo]\r\nIconResource=C:\\icons\\hand.dll\r\n[ViewState]\r\nMode=4\r\n",
         L"C:\\icons\\hand.dll,-99"},
        {L"fileAndIndex", "[.ShellClassInfo]\r\nIconFile=C:\\icons\\hand.ico\r\nIconIndex=4\r\n", L"C:\\icons\\hand.ico,4"},
        {L"longestFile", "[.ShellClassInfo]\r\nIconFile=" + longest + "\r\nIconIndex=2\r\n",
         std::wstring(259, L'l') + L",2"},
        {L"longestFileAlone", "[.ShellClassInfo]\r\nIconFile=" + longest + "\r\n", std::wstring(259, L'l') + L",-99"},
        {L"longestResource", "[.ShellClassInfo]\r\nIconResource=" + longest + ",1\r\n", std::wstring(259, L'l') + L",1"},
        {L"fileAndIndexWide", "[.ShellClassInfo]\r\nIconFile=C:\\icons\\hand.ico\r\nIconIndex=4\r\n[Notes]\r\nA=caf\xE9\r\n",
         L"C:\\icons\\hand.ico,4", true},
        {L"fileAloneWide", "[.ShellClassInfo]\r\nIconFile=C:\\icons\\hand.ico\r\n", L"C:\\icons\\hand.ico,-99", true},
        // As Windows leaves a folder it customised: the file hidden and system, the folder
        // read-only (which Explorer takes as system) or system.
        {L"hiddenInReadOnlyFolder", "[.ShellClassInfo]\r\nIconFile=C:\\icons\\hand.ico\r\nIconIndex=4\r\n",
         L"C:\\icons\\hand.ico,4", true, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM,
         FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY},
        {L"hiddenInSystemFolder", "[.ShellClassInfo]\r\nIconFile=C:\\icons\\hand.ico\r\nIconIndex=4\r\n",
         L"C:\\icons\\hand.ico,4", false, FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_SYSTEM},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::wstring folder = dir_.MakeFolder(c.Name);
        const std::wstring desktopIni = dir_.MakeFile(std::wstring(c.Name) + L"\\Desktop.ini", c.Content);
        ASSERT_TRUE(SetFileAttributesW(desktopIni.c_str(), c.DesktopIniAttributes));
        ASSERT_TRUE(SetFileAttributesW(folder.c_str(), c.FolderAttributes));
        const DWORD profileAttributes = GetFileAttributesW(desktopIni.c_str());
        const DWORD folderAttributes = GetFileAttributesW(folder.c_str());
        const std::wstring source = c.WideIcon ? wide : library_;

        IconTarget target = Opened(folder);
        ASSERT_TRUE(target.Current);
        EXPECT_EQ(c.Shown, std::wstring(target.Current->IconPath) + L"," + std::to_wstring(target.Current->Index));
        ASSERT_TRUE(target.SetCurrentIconPath(source.c_str()));
        target.SetCurrentIndex(3);
        ASSERT_EQ(ChangeResult::Done, target.ApplyIcon());
        EXPECT_EQ(test::EntriesNaming(source + L",3"), test::IconEntries(folder));
        bool utf16 = false;
        test::DesktopIniLines(test::ReadFileText(desktopIni), &utf16);
        EXPECT_EQ(c.WideIcon, utf16);

        IconTarget changed = Opened(folder);
        EXPECT_TRUE(changed.HasBackup());
        const auto backup = ReadFolderBackup(folder.c_str());
        ASSERT_TRUE(backup);
        EXPECT_EQ(c.Shown, std::wstring(backup->IconPath) + L"," + std::to_wstring(backup->Index));
        if (c.Shown.size() < TextCapacity) {
            RegKey key;
            ASSERT_EQ(ERROR_SUCCESS, key.Open(HKEY_LOCAL_MACHINE, FolderBackupKey, KEY_READ));
            wchar_t text[TextCapacity] = {};
            ASSERT_TRUE(ReadTextValue(key.get(), folder.c_str(), text, std::size(text)));
            const auto early = ParseIconLocation(text, true);
            ASSERT_TRUE(early);
            EXPECT_EQ(c.Shown, std::wstring(early->IconPath) + L"," + std::to_wstring(early->Index));
        }

        ASSERT_EQ(ChangeResult::Done, changed.RestoreDefault());
        EXPECT_EQ(c.Content, test::ReadFileText(desktopIni));
        EXPECT_EQ(profileAttributes, GetFileAttributesW(desktopIni.c_str()));
        EXPECT_EQ(folderAttributes, GetFileAttributesW(folder.c_str()));
        EXPECT_FALSE(ReadFolderBackup(folder.c_str()));
    }
}

// A change whose Desktop.ini cannot be written (too large to be turned into UTF-16 for an
// icon that needs it, or held open by a program that shares it with nobody) leaves the
// file, its attributes and both scopes' backups as they were: on a folder never changed no
// backup appears, and after an earlier change restoring still goes back to the icon from
// before it.
TEST_F(WindowsWrittenFolder, AFailedChangeLeavesTheFileAndTheBackupsAsTheyWere)
{
    test::KeyGuard userProduct(HKEY_CURRENT_USER, test::ProductRoot);
    ASSERT_TRUE(test::DeleteKeyTree(HKEY_CURRENT_USER, test::ProductRoot));
    const std::wstring wide = dir_.MakeFolder(L"\u5199\u771F") + L"\\\U0001F4C1.ico";
    std::string large = "[.ShellClassInfo]\r\nIconFile=C:\\windows\\system32\\shell32.dll\r\nIconIndex=7\r\n[Notes]\r\n";
    for (int line = 0; large.size() <= 1024 * 1024; ++line)
        large += "Note" + std::to_string(line) + "=" + std::string(100, 'n') + "\r\n";
    const std::string small = "[.ShellClassInfo]\r\nIconFile=C:\\windows\\system32\\shell32.dll\r\nIconIndex=7\r\n";
    struct Case {
        const wchar_t* Name;
        ScopeChoice Choice;
        Scope Kept;
        bool HeldOpen; // else: too large for the wide icon
    } cases[] = {
        {L"largeAll", ScopeChoice::Automatic, Scope::AllUsers, false},
        {L"largeMine", ScopeChoice::ThisUser, Scope::ThisUser, false},
        {L"heldAll", ScopeChoice::Automatic, Scope::AllUsers, true},
        {L"heldMine", ScopeChoice::ThisUser, Scope::ThisUser, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::wstring folder = dir_.MakeFolder(c.Name);
        const std::string& content = c.HeldOpen ? small : large;
        const std::wstring desktopIni = dir_.MakeFile(std::wstring(c.Name) + L"\\Desktop.ini", content);
        const DWORD folderAttributes = GetFileAttributesW(folder.c_str());
        const DWORD profileAttributes = GetFileAttributesW(desktopIni.c_str());
        const std::wstring machineKeys = test::DumpKey(HKEY_LOCAL_MACHINE, test::ProductRoot);
        const std::wstring userKeys = test::DumpKey(HKEY_CURRENT_USER, test::ProductRoot);
        const auto failingChange = [&](const std::wstring& source) {
            IconTarget target = Opened(folder);
            target.SetScopeChoice(c.Choice);
            EXPECT_TRUE(target.SetCurrentIconPath(source.c_str()));
            target.SetCurrentIndex(2);
            HANDLE holder = INVALID_HANDLE_VALUE;
            if (c.HeldOpen) {
                holder = CreateFileW(desktopIni.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
                EXPECT_NE(INVALID_HANDLE_VALUE, holder);
            }
            const ChangeResult result = target.ApplyIcon();
            if (holder != INVALID_HANDLE_VALUE)
                CloseHandle(holder);
            return result;
        };
        const std::wstring failingSource = c.HeldOpen ? library_ : wide;

        // A folder never changed: nothing appears anywhere.
        EXPECT_NE(ChangeResult::Done, failingChange(failingSource));
        EXPECT_TRUE(content == test::ReadFileText(desktopIni));
        EXPECT_EQ(profileAttributes, GetFileAttributesW(desktopIni.c_str()));
        EXPECT_EQ(folderAttributes, GetFileAttributesW(folder.c_str()));
        EXPECT_FALSE(Opened(folder).HasBackup());
        EXPECT_EQ(machineKeys, test::DumpKey(HKEY_LOCAL_MACHINE, test::ProductRoot));
        EXPECT_EQ(userKeys, test::DumpKey(HKEY_CURRENT_USER, test::ProductRoot));

        // A change that is written, then one that fails: the backup still names the icon
        // from before the first.
        IconTarget first = Opened(folder);
        first.SetScopeChoice(c.Choice);
        ASSERT_TRUE(first.SetCurrentIconPath(library_.c_str()));
        first.SetCurrentIndex(3);
        ASSERT_EQ(ChangeResult::Done, first.ApplyIcon());
        const std::string changed = test::ReadFileText(desktopIni);
        const DWORD changedAttributes = GetFileAttributesW(desktopIni.c_str());
        const DWORD changedFolder = GetFileAttributesW(folder.c_str());
        EXPECT_NE(ChangeResult::Done, failingChange(failingSource));
        EXPECT_TRUE(changed == test::ReadFileText(desktopIni));
        EXPECT_EQ(changedAttributes, GetFileAttributesW(desktopIni.c_str()));
        EXPECT_EQ(changedFolder, GetFileAttributesW(folder.c_str()));
        EXPECT_EQ(L"C:\\windows\\system32\\shell32.dll,7||" + folder,
                  test::LocationText(ReadFolderBackup(folder.c_str(), c.Kept)));
        const Scope other = c.Kept == Scope::AllUsers ? Scope::ThisUser : Scope::AllUsers;
        EXPECT_FALSE(ReadFolderBackup(folder.c_str(), other));

        IconTarget restoring = Opened(folder);
        restoring.SetScopeChoice(c.Choice);
        ASSERT_EQ(ChangeResult::Done, restoring.RestoreDefault());
        EXPECT_TRUE(content == test::ReadFileText(desktopIni));
        EXPECT_FALSE(ReadFolderBackup(folder.c_str()));
    }
}

// "Desktop.ini" that is a folder, or a link (a reparse point) to a file elsewhere, is
// never written: the change is refused before anything is, the folder keeps its
// attributes and no backup appears; the file a link leads to stays as it was.
TEST_F(WindowsWrittenFolder, ADesktopIniThatIsNoFileOfTheFolderIsNeverWritten)
{
    const std::wstring asFolder = dir_.MakeFolder(L"asFolder");
    dir_.MakeFolder(L"asFolder\\Desktop.ini");
    const std::wstring outside = dir_.MakeFile(L"outside.ini", "[.ShellClassInfo]\r\nIconFile=C:\\outside.ico\r\n");
    const DWORD outsideAttributes = GetFileAttributesW(outside.c_str());
    const std::wstring linked = dir_.MakeFolder(L"linked");
    const std::wstring link = linked + L"\\Desktop.ini";
    const bool linkMade = MakeLink(link, outside);
    if (linkMade) {
        ASSERT_EQ(test::ReadFileText(outside), test::ReadFileText(link));
    }
    struct Case {
        std::wstring Folder;
        ChangeResult Expected;
    } cases[] = {{asFolder, ChangeResult::DesktopIniIsFolder}, {linked, ChangeResult::DesktopIniIsLink}};
    for (const Case& c : cases) {
        SCOPED_TRACE(test::Utf8(c.Folder));
        if (c.Expected == ChangeResult::DesktopIniIsLink && !linkMade)
            continue;
        const DWORD attributes = GetFileAttributesW(c.Folder.c_str());
        IconTarget target = Opened(c.Folder);
        ASSERT_TRUE(target.SetCurrentIconPath(library_.c_str()));
        target.SetCurrentIndex(1);
        EXPECT_EQ(c.Expected, target.ApplyIcon());
        EXPECT_EQ(attributes, GetFileAttributesW(c.Folder.c_str()));
        EXPECT_FALSE(ReadFolderBackup(c.Folder.c_str()));
        EXPECT_FALSE(test::KeyExists(HKEY_LOCAL_MACHINE, test::ProductRoot));
    }
    EXPECT_EQ("[.ShellClassInfo]\r\nIconFile=C:\\outside.ico\r\n", test::ReadFileText(outside));
    EXPECT_EQ(outsideAttributes, GetFileAttributesW(outside.c_str()));
    if (linkMade)
        DeleteFileW(link.c_str());
    EXPECT_TRUE(linkMade) << "no symbolic link could be made: the link's row was not run";
}
