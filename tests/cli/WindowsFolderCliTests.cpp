// orvane.exe on folders whose Desktop.ini Windows wrote, and with icon sources written
// with environment references: what `show` prints, and what `set` and `restore` write.
#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <string>

#include "IconIdLibrary.h"
#include "RunTool.h"
#include "ScopedVariable.h"
#include "TestSupport.h"
#include "WindowsDesktopIni.h"

namespace orvane::test {
namespace {

constexpr wchar_t Vendor[] = L"Software\\Brindlewick Software";

constexpr wchar_t NotSet[] = L"(not set)";
constexpr wchar_t AllUsers[] = L"for all users";

std::wstring Shown(const std::wstring& folder, const std::wstring& icon, const wchar_t* scope, bool backup)
{
    return folder + L"\n  kind:   Folder\n  icon:   " + icon + L"\n  scope:  " + scope + L"\n  backup: " +
           (backup ? L"yes" : L"no") + L"\n";
}

class WindowsFolderCliTest : public testing::Test {
protected:
    WindowsFolderCliTest() { DeleteKeyTree(HKEY_LOCAL_MACHINE, Vendor); }

    std::wstring FolderWith(const WindowsDesktopIni& ini)
    {
        const std::wstring folder = dir_.MakeFolder(ini.Name);
        PlaceDesktopIni(folder, ini);
        return folder;
    }

    KeyGuard vendorMachine_{HKEY_LOCAL_MACHINE, Vendor};
    KeyGuard vendorUser_{HKEY_CURRENT_USER, Vendor};
    TempDir dir_;
    std::wstring library_ = IconIdLibraryPath();
};

TEST_F(WindowsFolderCliTest, ShowSetAndRestoreOnFilesAsWindowsWritesThem)
{
    for (const WindowsDesktopIni* ini : WindowsDesktopInis) {
        SCOPED_TRACE(ini->Name);
        const std::wstring folder = FolderWith(*ini);
        const std::wstring entries = IconEntries(folder);
        ToolRun run = RunTool({L"show", folder});
        EXPECT_EQ(0u, run.ExitCode) << run.Err;
        EXPECT_EQ(Shown(folder, ini->Icon, NotSet, false), run.Out);

        const std::wstring chosen = library_ + L",2";
        run = RunTool({L"set", chosen, folder});
        ASSERT_EQ(0u, run.ExitCode) << run.Err;
        EXPECT_EQ(EntriesNaming(chosen), IconEntries(folder));
        run = RunTool({L"show", folder});
        EXPECT_EQ(Shown(folder, chosen, AllUsers, true), run.Out);

        run = RunTool({L"restore", folder});
        ASSERT_EQ(0u, run.ExitCode) << run.Err;
        // The entries as Windows wrote them, not the icon shown written into all three.
        EXPECT_EQ(entries, IconEntries(folder));
        run = RunTool({L"show", folder});
        EXPECT_EQ(Shown(folder, ini->Icon, NotSet, false), run.Out);
    }
}

TEST_F(WindowsFolderCliTest, SourcesWithEnvironmentReferencesAreKeptAsWritten)
{
    const std::wstring libraryFolder = library_.substr(0, library_.find_last_of(L'\\'));
    ScopedVariable icons(L"ORVANE_TEST_ICONS", libraryFolder);
    ScopedVariable relative(L"ORVANE_TEST_RELATIVE", L"orvane_icon_ids.dll");
    const std::wstring folder = dir_.MakeFolder(L"Letters");
    struct Case {
        std::wstring Given;
        std::wstring Stored; // "" : refused
    } cases[] = {
        {L"%ORVANE_TEST_ICONS%\\orvane_icon_ids.dll,-112", L"%ORVANE_TEST_ICONS%\\orvane_icon_ids.dll,-112"},
        {L"%ORVANE_TEST_ICONS%\\orvane_icon_ids.dll,3", L"%ORVANE_TEST_ICONS%\\orvane_icon_ids.dll,3"},
        // A reference that expands to a relative name names no fixed file: the full path
        // it resolves to (here in the tool's working folder) is stored.
        {L"%ORVANE_TEST_RELATIVE%,1", library_ + L",1"},
        {L"%ORVANE_TEST_ICONS%\\orvane_icon_ids.dll,4", L""},
        {L"%ORVANE_TEST_ICONS%\\orvane_icon_ids.dll,-999", L""},
        {L"%ORVANE_TEST_UNSET%\\orvane_icon_ids.dll,1", L""},
    };
    // The folder has an icon of its own to start with, so that each change backs one up.
    ASSERT_EQ(0u, RunTool({L"set", library_ + L",0", folder}).ExitCode);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Given);
        const std::wstring before = IconEntries(folder);
        const ToolRun run = RunTool({L"set", c.Given, folder}, libraryFolder);
        if (c.Stored.empty()) {
            EXPECT_EQ(1u, run.ExitCode);
            EXPECT_FALSE(run.Err.empty());
            EXPECT_EQ(before, IconEntries(folder));
            continue;
        }
        ASSERT_EQ(0u, run.ExitCode) << run.Err;
        EXPECT_EQ(folder + L": Folder icon set to " + c.Stored + L"\n", run.Out);
        EXPECT_EQ(EntriesNaming(c.Stored), IconEntries(folder));
        EXPECT_EQ(Shown(folder, c.Stored, AllUsers, true), RunTool({L"show", folder}).Out);
    }
}

} // namespace
} // namespace orvane::test
