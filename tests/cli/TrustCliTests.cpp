// orvane.exe where Windows may not show a folder's icon: a Desktop.ini or an icon source
// with the mark of the web (real "Zone.Identifier" streams), folders on the drives the test
// prefix maps as a network share (R:) and a removable drive (U:). The icon is set all the
// same, with a warning on standard error and the exit code of the write; `show` names the
// findings; --trust-desktop-ini takes the mark from Desktop.ini alone.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "RunTool.h"
#include "TestSupport.h"

namespace orvane::test {
namespace {

constexpr wchar_t Vendor[] = L"Software\\Brindlewick Software";

bool Contains(const std::wstring& text, const std::wstring& part) { return text.find(part) != std::wstring::npos; }

std::wstring DesktopIniOf(const std::wstring& folder) { return folder + L"\\Desktop.ini"; }

class TrustCliTest : public testing::Test {
protected:
    TrustCliTest() : source_(WriteIconFile(dir_.Path() + L"\\set.ico", 1)) { DeleteKeyTree(HKEY_LOCAL_MACHINE, Vendor); }

    // A folder with a Desktop.ini of its own, as one taken out of a downloaded archive has.
    std::wstring FolderWithDesktopIni(TempDir& where, const wchar_t* name)
    {
        const std::wstring folder = where.MakeFolder(name);
        where.MakeFile(std::wstring(name) + L"\\Desktop.ini", "[.ShellClassInfo]\r\nInfoTip=from a zip\r\n");
        return folder;
    }

    KeyGuard vendorMachine_{HKEY_LOCAL_MACHINE, Vendor};
    KeyGuard vendorUser_{HKEY_CURRENT_USER, Vendor};
    KeyGuard folderClass_{HKEY_CLASSES_ROOT, L"Folder"};
    TempDir dir_;
    std::wstring source_;
};

constexpr wchar_t MarkedIniWarning[] = L"Windows may not show this folder's icon: its Desktop.ini carries the mark of the web";
constexpr wchar_t TrustHint[] = L"--trust-desktop-ini removes its mark";
constexpr wchar_t SourceWarning[] = L"the icon source carries the mark of the web";
constexpr wchar_t NetworkWarning[] = L"it is on a network share, where Windows may ignore Desktop.ini";
constexpr wchar_t RemovableWarning[] = L"it is on a removable drive, where Windows may ignore Desktop.ini";

TEST_F(TrustCliTest, SetWarnsAndShowNamesEveryFindingTheWriteStillSucceeds)
{
    const std::wstring network = DriveRootOfType(DRIVE_REMOTE);
    const std::wstring removable = DriveRootOfType(DRIVE_REMOVABLE);
    if (network.empty() || removable.empty())
        GTEST_SKIP() << "the prefix maps no network or removable drive (scripts/common.sh maps R: and U:)";
    TempDir onShare(network);
    TempDir onStick(removable);
    struct Row {
        const char* Label;
        TempDir* Where;
        bool MarkDesktopIni;
        bool MarkSource;
        std::vector<const wchar_t*> Warnings;
    };
    const Row table[] = {
        {"plain", &dir_, false, false, {}},
        {"Desktop.ini marked", &dir_, true, false, {MarkedIniWarning, TrustHint}},
        {"source marked", &dir_, false, true, {SourceWarning}},
        {"on a share", &onShare, false, false, {NetworkWarning}},
        {"on a removable drive, marked", &onStick, true, false, {RemovableWarning, MarkedIniWarning, TrustHint}},
    };
    const std::vector<const wchar_t*> every = {MarkedIniWarning, TrustHint, SourceWarning, NetworkWarning,
                                               RemovableWarning};
    int n = 0;
    for (const Row& row : table) {
        SCOPED_TRACE(row.Label);
        const std::wstring folder = FolderWithDesktopIni(*row.Where, (L"F" + std::to_wstring(n++)).c_str());
        std::optional<ZoneMark> iniMark, sourceMark;
        if (row.MarkDesktopIni)
            iniMark.emplace(DesktopIniOf(folder));
        if (row.MarkSource)
            sourceMark.emplace(source_);

        const ToolRun set = RunTool({L"set", source_, folder});
        EXPECT_EQ(0u, set.ExitCode) << Utf8(set.Err);
        EXPECT_TRUE(Contains(set.Out, folder + L": Folder icon set to " + source_ + L",0")) << Utf8(set.Out);
        for (const wchar_t* warning : every) {
            const bool expected = std::find(row.Warnings.begin(), row.Warnings.end(), warning) != row.Warnings.end();
            EXPECT_EQ(expected, Contains(set.Err, warning)) << Utf8(warning) << "\n" << Utf8(set.Err);
        }
        if (row.Warnings.empty()) {
            EXPECT_EQ(L"", set.Err);
        }
        EXPECT_EQ(row.MarkDesktopIni, HasZoneStream(DesktopIniOf(folder)));

        const ToolRun show = RunTool({L"show", folder});
        EXPECT_EQ(0u, show.ExitCode);
        for (const wchar_t* warning : every) {
            const bool expected = warning != TrustHint &&
                                  std::find(row.Warnings.begin(), row.Warnings.end(), warning) != row.Warnings.end();
            EXPECT_EQ(expected, Contains(show.Out, warning)) << Utf8(warning) << "\n" << Utf8(show.Out);
        }
        EXPECT_EQ(!row.Warnings.empty(), Contains(show.Out, L"  warning: ")) << Utf8(show.Out);
    }
}

// The option takes the mark from the folder's Desktop.ini and from nothing else: the icon
// source keeps its own, and the warning about it stays.
TEST_F(TrustCliTest, TrustOptionRemovesTheMarkFromDesktopIniOnly)
{
    const std::wstring folder = FolderWithDesktopIni(dir_, L"Downloaded");
    const std::wstring other = dir_.MakeFile(L"Downloaded\\readme.txt");
    ZoneMark iniMark(DesktopIniOf(folder));
    ZoneMark sourceMark(source_);
    ZoneMark otherMark(other);
    ASSERT_TRUE(iniMark.Written() && sourceMark.Written() && otherMark.Written());

    const ToolRun set = RunTool({L"set", source_, folder, L"--trust-desktop-ini"});
    EXPECT_EQ(0u, set.ExitCode) << Utf8(set.Err);
    EXPECT_TRUE(Contains(set.Out, folder + L": mark of the web removed from Desktop.ini")) << Utf8(set.Out);
    EXPECT_FALSE(HasZoneStream(DesktopIniOf(folder)));
    EXPECT_TRUE(HasZoneStream(source_));
    EXPECT_TRUE(HasZoneStream(other));
    EXPECT_FALSE(Contains(set.Err, MarkedIniWarning)) << Utf8(set.Err);
    EXPECT_TRUE(Contains(set.Err, SourceWarning)) << Utf8(set.Err);
    EXPECT_NE(std::string::npos, ReadFileText(DesktopIniOf(folder)).find("InfoTip=from a zip"));

    const ToolRun show = RunTool({L"show", folder});
    EXPECT_FALSE(Contains(show.Out, MarkedIniWarning)) << Utf8(show.Out);
    EXPECT_TRUE(Contains(show.Out, SourceWarning)) << Utf8(show.Out);
}

// Only set takes the option; show and restore never change a mark.
TEST_F(TrustCliTest, TrustOptionIsForSetOnly)
{
    const std::wstring folder = FolderWithDesktopIni(dir_, L"Downloaded");
    ZoneMark iniMark(DesktopIniOf(folder));
    ASSERT_TRUE(iniMark.Written());
    for (const wchar_t* command : {L"show", L"restore"}) {
        const ToolRun run = RunTool({command, folder, L"--trust-desktop-ini"});
        EXPECT_EQ(2u, run.ExitCode);
        EXPECT_TRUE(Contains(run.Err, L"--trust-desktop-ini is for set")) << Utf8(run.Err);
        EXPECT_TRUE(HasZoneStream(DesktopIniOf(folder)));
    }
}

} // namespace
} // namespace orvane::test
