// Folders whose Desktop.ini Windows wrote: read as Windows shows them (IconResource over
// IconFile/IconIndex), and changed and restored through the target as the dialog does it,
// with all three entries naming the icon and every other line of the file kept.
#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "FolderIcons.h"
#include "IconTarget.h"
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
        EXPECT_EQ(folder, read->Owner);
    }
}

TEST_F(WindowsWrittenFolder, ApplyAndRestoreNameTheIconInAllThreeEntriesAndKeepEveryOtherLine)
{
    for (const test::WindowsDesktopIni* ini : test::WindowsDesktopInis) {
        SCOPED_TRACE(ini->Name);
        const std::wstring folder = FolderWith(*ini);
        const std::wstring profile = folder + L"\\Desktop.ini";
        const std::vector<std::string> before = test::DesktopIniLines(test::ReadFileText(profile));

        IconTarget target = Opened(folder);
        ASSERT_TRUE(target.SetCurrentIconPath(library_.c_str()));
        target.SetCurrentIndex(3);
        ASSERT_EQ(ChangeResult::Done, target.ApplyIcon());
        bool utf16 = false;
        std::vector<std::string> after = test::DesktopIniLines(test::ReadFileText(profile), &utf16);
        EXPECT_EQ(ini->Utf16, utf16);
        EXPECT_EQ(ExpectedEntries(library_ + L",3"), IconEntriesOf(after));
        EXPECT_EQ(test::OtherEntries(before), test::OtherEntries(after));
        // Wine's shell reads IconFile/IconIndex (not IconResource) and so sees the change.
        SHFILEINFOW info = {};
        ASSERT_NE(0u, SHGetFileInfoW(folder.c_str(), 0, &info, sizeof info, SHGFI_ICONLOCATION));
        EXPECT_EQ(3, info.iIcon);

        // The backup holds what Windows showed; restoring writes it into all three entries.
        ASSERT_EQ(ChangeResult::Done, Opened(folder).RestoreDefault());
        after = test::DesktopIniLines(test::ReadFileText(profile), &utf16);
        EXPECT_EQ(ini->Utf16, utf16);
        EXPECT_EQ(ExpectedEntries(ini->Icon), IconEntriesOf(after));
        EXPECT_EQ(test::OtherEntries(before), test::OtherEntries(after));
        const auto restored = ReadFolderIcon(folder.c_str());
        ASSERT_TRUE(restored);
        EXPECT_EQ(ini->Icon, std::wstring(restored->IconPath) + L"," + std::to_wstring(restored->Index));
    }
}

// The same files given an icon whose path code page 1252 cannot hold: an ANSI one becomes
// UTF-16 LE with every other entry kept, the one that is UTF-16 stays so, the file keeps
// its attributes and the folder is a system folder; restoring writes what Windows showed into the
// UTF-16 file. (Entries are compared, not empty lines: Wine's profile writer drops those.)
TEST_F(WindowsWrittenFolder, AnIconOfAnyNameTurnsTheFileIntoUtf16AndIsRestored)
{
    const std::wstring wide =
        test::WriteIconFile(dir_.MakeFolder(L"\u5199\u771F \u05E9") + L"\\\U0001F4C1 \u014Daq.ico", 12);
    for (const test::WindowsDesktopIni* ini : test::WindowsDesktopInis) {
        SCOPED_TRACE(ini->Name);
        const std::wstring folder = FolderWith(*ini);
        const std::wstring profile = folder + L"\\Desktop.ini";
        const std::vector<std::string> before = test::DesktopIniLines(test::ReadFileText(profile));
        const DWORD attributes = GetFileAttributesW(profile.c_str());

        IconTarget target = Opened(folder);
        ASSERT_TRUE(target.SetCurrentIconPath(wide.c_str()));
        target.SetCurrentIndex(5);
        ASSERT_EQ(ChangeResult::Done, target.ApplyIcon());
        bool utf16 = false;
        std::vector<std::string> after = test::DesktopIniLines(test::ReadFileText(profile), &utf16);
        EXPECT_TRUE(utf16);
        EXPECT_EQ(test::EntriesNaming(wide + L",5"), test::IconEntries(folder));
        EXPECT_EQ(test::OtherEntries(before), test::OtherEntries(after));
        EXPECT_EQ(attributes, GetFileAttributesW(profile.c_str()));
        EXPECT_TRUE(GetFileAttributesW(folder.c_str()) & FILE_ATTRIBUTE_SYSTEM);
        SHFILEINFOW info = {};
        ASSERT_NE(0u, SHGetFileInfoW(folder.c_str(), 0, &info, sizeof info, SHGFI_ICONLOCATION));
        EXPECT_EQ(5, info.iIcon);

        ASSERT_EQ(ChangeResult::Done, Opened(folder).RestoreDefault());
        after = test::DesktopIniLines(test::ReadFileText(profile), &utf16);
        EXPECT_TRUE(utf16);
        EXPECT_EQ(test::EntriesNaming(ini->Icon), test::IconEntries(folder));
        EXPECT_EQ(test::OtherEntries(before), test::OtherEntries(after));
        EXPECT_EQ(attributes, GetFileAttributesW(profile.c_str()));
        EXPECT_FALSE(ReadFolderBackup(folder.c_str()));
    }
}
