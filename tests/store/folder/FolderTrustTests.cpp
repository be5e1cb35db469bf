// Where Windows may not show a folder's icon: the mark of the web on Desktop.ini and on
// the icon source, read from real "Zone.Identifier" streams (Wine keeps them, as files of
// their own beside the file), and folders on drives that Wine reports as a network share
// or a removable drive (the test prefix maps one of each).
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cwchar>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "FolderIcons.h"
#include "FolderTrust.h"
#include "ShellPath.h"
#include "TestSupport.h"

using namespace orvane;

namespace {

std::string Utf16Bytes(const std::wstring& text)
{
    std::string bytes = "\xFF\xFE";
    for (const wchar_t unit : text) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    return bytes;
}

std::wstring DesktopIniOf(const std::wstring& folder) { return folder + L"\\Desktop.ini"; }

TEST(FolderTrust, ZoneOfTheMarkTable)
{
    struct Row {
        const char* Label;
        std::optional<std::string> Stream; // none: no stream at all
        std::optional<DWORD> Zone;
        bool Marked;
    };
    const Row table[] = {
        {"no stream", std::nullopt, std::nullopt, false},
        {"internet", std::string("[ZoneTransfer]\r\nZoneId=3\r\n"), 3, true},
        {"restricted, with addresses",
         std::string("[ZoneTransfer]\r\nZoneId=4\r\nReferrerUrl=https://a.example/\r\nHostUrl=https://a.example/x.zip\r\n"),
         4, true},
        {"trusted sites", std::string("[ZoneTransfer]\r\nZoneId=2\r\n"), 2, false},
        {"local machine", std::string("[ZoneTransfer]\nZoneId=0"), 0, false},
        {"any case, blanks", std::string("  [zonetransfer]  \r\n zoneid = 3 \r\n"), 3, true},
        {"another section", std::string("[Other]\r\nZoneId=3\r\n"), std::nullopt, false},
        {"after another section", std::string("[Other]\r\nZoneId=1\r\n[ZoneTransfer]\r\nZoneId=3\r\n"), 3, true},
        {"not a number", std::string("[ZoneTransfer]\r\nZoneId=three\r\n"), std::nullopt, false},
        {"too long a number", std::string("[ZoneTransfer]\r\nZoneId=99999999999\r\n"), std::nullopt, false},
        {"empty stream", std::string(), std::nullopt, false},
        {"utf-16", Utf16Bytes(L"[ZoneTransfer]\r\nZoneId=3\r\n"), 3, true},
    };
    test::TempDir dir;
    for (const Row& row : table) {
        SCOPED_TRACE(row.Label);
        const std::wstring file = dir.MakeFile(L"a.ico");
        std::optional<test::ZoneMark> mark;
        if (row.Stream) {
            mark.emplace(file, *row.Stream);
            ASSERT_TRUE(mark->Written());
        }
        EXPECT_EQ(row.Zone, ReadZoneId(file.c_str()));
        EXPECT_EQ(row.Marked, CarriesMarkOfTheWeb(file.c_str()));
    }
}

// The findings for a folder on the local disk, by where the mark is.
TEST(FolderTrust, MarksOnDesktopIniAndSourceTable)
{
    struct Row {
        const char* Label;
        bool MarkDesktopIni;
        bool MarkSource;
        bool MarkFolderItself;
        bool MarkOtherFile;
        std::uint32_t Findings;
    };
    const Row table[] = {
        {"nothing marked", false, false, false, false, 0},
        {"Desktop.ini marked", true, false, false, false, std::uint32_t(TrustFinding::DesktopIniMarked)},
        {"source marked", false, true, false, false, std::uint32_t(TrustFinding::SourceMarked)},
        {"both", true, true, false, false,
         std::uint32_t(TrustFinding::DesktopIniMarked) | std::uint32_t(TrustFinding::SourceMarked)},
        {"the folder's other files only", false, false, true, true, 0},
    };
    for (const Row& row : table) {
        SCOPED_TRACE(row.Label);
        test::TempDir dir;
        const std::wstring folder = dir.MakeFolder(L"Marked");
        const std::wstring source = dir.MakeFile(L"icons\\set.ico");
        ASSERT_EQ(ERROR_SUCCESS, WriteFolderIcon(IconLocation(source.c_str(), folder.c_str(), 0)));
        const std::wstring other = dir.MakeFile(L"Marked\\readme.txt");
        std::optional<test::ZoneMark> marks[4];
        if (row.MarkDesktopIni)
            marks[0].emplace(DesktopIniOf(folder));
        if (row.MarkSource)
            marks[1].emplace(source);
        if (row.MarkFolderItself)
            marks[2].emplace(folder);
        if (row.MarkOtherFile)
            marks[3].emplace(other);
        EXPECT_EQ(row.Findings, CheckFolderIconTrust(folder.c_str(), source.c_str()).Bits);
    }
}

// A source named without a folder is found on the system's search path; one named through
// an environment reference is checked where the reference leads.
TEST(FolderTrust, SourcesAreCheckedWhereTheyLie)
{
    test::TempDir dir;
    const std::wstring folder = dir.MakeFolder(L"F");
    const std::wstring source = dir.MakeFile(L"set.ico");
    test::ZoneMark mark(source);
    ASSERT_TRUE(mark.Written());
    EXPECT_EQ(0u, CheckFolderIconTrust(folder.c_str(), L"shell32.dll").Bits);
    EXPECT_EQ(0u, CheckFolderIconTrust(folder.c_str(), L"").Bits);
    EXPECT_EQ(0u, CheckFolderIconTrust(folder.c_str(), nullptr).Bits);
    EXPECT_EQ(std::uint32_t(TrustFinding::SourceMarked), CheckFolderIconTrust(folder.c_str(), source.c_str()).Bits);
    wchar_t temp[MAX_PATH] = {};
    ASSERT_NE(0u, GetEnvironmentVariableW(L"TEMP", temp, MAX_PATH));
    const std::wstring viaTemp = L"%TEMP%" + source.substr(source.find(L"\\orvt"));
    wchar_t expanded[MAX_PATH] = {};
    ExpandEnvironmentStringsW(viaTemp.c_str(), expanded, MAX_PATH);
    if (GetFileAttributesW(expanded) == INVALID_FILE_ATTRIBUTES)
        GTEST_SKIP() << "TEMP is not the folder the test's files are in";
    EXPECT_EQ(std::uint32_t(TrustFinding::SourceMarked), CheckFolderIconTrust(folder.c_str(), viaTemp.c_str()).Bits);
}

// Folders and sources on drives that Wine reports as a network share or a removable
// drive, and UNC paths, which name a share whatever the drives are.
TEST(FolderTrust, NetworkAndRemovablePlaces)
{
    EXPECT_EQ(PlaceKind::Network, PlaceOf(L"\\\\server\\share\\folder"));
    EXPECT_EQ(PlaceKind::Network, PlaceOf(L"\\\\?\\UNC\\server\\share\\folder"));
    EXPECT_EQ(PlaceKind::Local, PlaceOf(L"C:\\windows"));
    EXPECT_EQ(PlaceKind::Local, PlaceOf(L"\\\\?\\C:\\windows"));
    EXPECT_EQ(PlaceKind::Local, PlaceOf(L"shell32.dll"));

    const std::wstring network = test::DriveRootOfType(DRIVE_REMOTE);
    const std::wstring removable = test::DriveRootOfType(DRIVE_REMOVABLE);
    if (network.empty() || removable.empty())
        GTEST_SKIP() << "the prefix maps no network or removable drive (scripts/common.sh maps R: and U:)";
    test::TempDir local;
    test::TempDir onShare(network);
    test::TempDir onStick(removable);
    const std::wstring localSource = local.MakeFile(L"set.ico");
    const std::wstring shareSource = onShare.MakeFile(L"set.ico");
    struct Row {
        std::wstring Folder;
        std::wstring Source;
        std::uint32_t Findings;
    };
    const Row table[] = {
        {local.MakeFolder(L"F"), localSource, 0},
        {onShare.MakeFolder(L"F"), localSource, std::uint32_t(TrustFinding::FolderOnNetwork)},
        {onStick.MakeFolder(L"F"), localSource, std::uint32_t(TrustFinding::FolderOnRemovable)},
        {local.MakeFolder(L"G"), shareSource, std::uint32_t(TrustFinding::SourceOnNetwork)},
        {onStick.MakeFolder(L"G"), shareSource,
         std::uint32_t(TrustFinding::FolderOnRemovable) | std::uint32_t(TrustFinding::SourceOnNetwork)},
    };
    for (const Row& row : table) {
        SCOPED_TRACE(test::Utf8(row.Folder + L" " + row.Source));
        EXPECT_EQ(row.Findings, CheckFolderIconTrust(row.Folder.c_str(), row.Source.c_str()).Bits);
    }
    EXPECT_EQ(PlaceKind::Network, PlaceOf(onShare.Path().c_str()));
    EXPECT_EQ(PlaceKind::Removable, PlaceOf(onStick.Path().c_str()));
}

// Removing the mark takes it from Desktop.ini alone: the icon source, the folder's other
// files and Desktop.ini's text and attributes stay as they were.
TEST(FolderTrust, RemovingTheMarkTouchesDesktopIniOnly)
{
    test::TempDir dir;
    const std::wstring folder = dir.MakeFolder(L"Downloaded");
    const std::wstring source = dir.MakeFile(L"set.ico");
    ASSERT_EQ(ERROR_SUCCESS, WriteFolderIcon(IconLocation(source.c_str(), folder.c_str(), 2)));
    const std::wstring desktopIni = DesktopIniOf(folder);
    const std::wstring other = dir.MakeFile(L"Downloaded\\readme.txt");
    ASSERT_TRUE(SetFileAttributesW(desktopIni.c_str(), GetFileAttributesW(desktopIni.c_str()) | FILE_ATTRIBUTE_READONLY));
    const DWORD attributes = GetFileAttributesW(desktopIni.c_str());
    const std::string text = test::ReadFileText(desktopIni);
    test::ZoneMark profileMark(desktopIni);
    test::ZoneMark sourceMark(source);
    test::ZoneMark otherMark(other);
    ASSERT_TRUE(profileMark.Written() && sourceMark.Written() && otherMark.Written());

    EXPECT_EQ(ERROR_SUCCESS, RemoveDesktopIniMark(folder.c_str()));
    EXPECT_FALSE(test::HasZoneStream(desktopIni));
    EXPECT_FALSE(CarriesMarkOfTheWeb(desktopIni.c_str()));
    EXPECT_TRUE(CarriesMarkOfTheWeb(source.c_str()));
    EXPECT_TRUE(CarriesMarkOfTheWeb(other.c_str()));
    EXPECT_EQ(text, test::ReadFileText(desktopIni));
    EXPECT_EQ(attributes, GetFileAttributesW(desktopIni.c_str()));
    EXPECT_EQ(std::uint32_t(TrustFinding::SourceMarked), CheckFolderIconTrust(folder.c_str(), source.c_str()).Bits);
    // Once more, with no mark left: nothing to do.
    EXPECT_EQ(ERROR_SUCCESS, RemoveDesktopIniMark(folder.c_str()));
    SetFileAttributesW(desktopIni.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(FolderTrust, RemovingTheMarkRefusesWhatIsNoDesktopIniOfTheFolder)
{
    test::TempDir dir;
    const std::wstring bare = dir.MakeFolder(L"Bare");
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RemoveDesktopIniMark(bare.c_str()));
    const std::wstring blocked = dir.MakeFolder(L"Blocked");
    const std::wstring inner = dir.MakeFolder(L"Blocked\\Desktop.ini");
    test::ZoneMark mark(inner);
    ASSERT_TRUE(mark.Written());
    EXPECT_EQ(DesktopIniIsFolderStatus, RemoveDesktopIniMark(blocked.c_str()));
    EXPECT_TRUE(test::HasZoneStream(inner));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, RemoveDesktopIniMark(L""));
}

// A Desktop.ini this store creates carries no mark; one that carries a mark keeps it
// through a change, which never takes it away unasked.
TEST(FolderTrust, WritingTheIconNeverAddsOrTakesAMark)
{
    test::TempDir dir;
    const std::wstring fresh = dir.MakeFolder(L"Fresh");
    ASSERT_EQ(ERROR_SUCCESS, WriteFolderIcon(IconLocation(L"C:\\icons\\a.ico", fresh.c_str(), 1)));
    EXPECT_FALSE(test::HasZoneStream(DesktopIniOf(fresh)));
    EXPECT_EQ(0u, CheckFolderIconTrust(fresh.c_str(), nullptr).Bits);

    const std::wstring downloaded = dir.MakeFolder(L"Downloaded");
    dir.MakeFile(L"Downloaded\\Desktop.ini", "[.ShellClassInfo]\r\nInfoTip=from a zip\r\n");
    test::ZoneMark mark(DesktopIniOf(downloaded));
    ASSERT_TRUE(mark.Written());
    ASSERT_EQ(ERROR_SUCCESS, WriteFolderIcon(IconLocation(L"C:\\icons\\a.ico", downloaded.c_str(), 1)));
    EXPECT_TRUE(CarriesMarkOfTheWeb(DesktopIniOf(downloaded).c_str()));
    EXPECT_EQ(std::uint32_t(TrustFinding::DesktopIniMarked), CheckFolderIconTrust(downloaded.c_str(), nullptr).Bits);
}

// Each finding has a sentence of its own that names its cause, and what of the folder's
// icon it concerns: two findings that shared a sentence, or a sentence that named the
// wrong cause, would tell the user of another problem than the one found.
TEST(FolderTrust, EveryFindingHasItsSentence)
{
    const struct {
        TrustFinding Finding;
        const wchar_t* Cause;
        const wchar_t* Concerns;
    } cases[] = {
        {TrustFinding::DesktopIniMarked, L"mark of the web", L"Desktop.ini"},
        {TrustFinding::FolderOnNetwork, L"network share", L"Desktop.ini"},
        {TrustFinding::FolderOnRemovable, L"removable drive", L"Desktop.ini"},
        {TrustFinding::SourceMarked, L"mark of the web", L"icon source"},
        {TrustFinding::SourceOnNetwork, L"network share", L"icon source"},
    };
    ASSERT_EQ(std::size(cases), std::size(AllTrustFindings));
    std::vector<std::wstring> seen;
    for (const auto& c : cases) {
        const std::wstring text = TrustFindingText(c.Finding);
        EXPECT_GT(text.size(), 20u) << static_cast<int>(c.Finding);
        EXPECT_NE(text.find(c.Cause), std::wstring::npos) << static_cast<int>(c.Finding);
        EXPECT_NE(text.find(c.Concerns), std::wstring::npos) << static_cast<int>(c.Finding);
        EXPECT_EQ(std::find(seen.begin(), seen.end(), text), seen.end()) << static_cast<int>(c.Finding);
        seen.push_back(text);
    }
}

} // namespace
