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

constexpr char Vendor[] = "Software\\Brindlewick Software";

std::string Shown(const std::string& folder, const std::string& icon, bool backup)
{
    return folder + "\n  kind:   Folder\n  icon:   " + icon + "\n  backup: " + (backup ? "yes" : "no") + "\n";
}

class WindowsFolderCliTest : public testing::Test {
protected:
    WindowsFolderCliTest() { DeleteKeyTree(HKEY_LOCAL_MACHINE, Vendor); }

    std::string FolderWith(const WindowsDesktopIni& ini)
    {
        const std::string folder = dir_.MakeFolder(ini.Name);
        PlaceDesktopIni(folder, ini);
        return folder;
    }

    KeyGuard vendorMachine_{HKEY_LOCAL_MACHINE, Vendor};
    KeyGuard vendorUser_{HKEY_CURRENT_USER, Vendor};
    TempDir dir_;
    std::string library_ = IconIdLibraryPath();
};

TEST_F(WindowsFolderCliTest, ShowSetAndRestoreOnFilesAsWindowsWritesThem)
{
    for (const WindowsDesktopIni* ini : WindowsDesktopInis) {
        SCOPED_TRACE(ini->Name);
        const std::string folder = FolderWith(*ini);
        ToolRun run = RunTool({"show", folder});
        EXPECT_EQ(0u, run.ExitCode) << run.Err;
        EXPECT_EQ(Shown(folder, ini->Icon, false), run.Out);

        const std::string chosen = library_ + ",2";
        run = RunTool({"set", chosen, folder});
        ASSERT_EQ(0u, run.ExitCode) << run.Err;
        EXPECT_EQ(EntriesNaming(chosen), IconEntries(folder));
        run = RunTool({"show", folder});
        EXPECT_EQ(Shown(folder, chosen, true), run.Out);

        run = RunTool({"restore", folder});
        ASSERT_EQ(0u, run.ExitCode) << run.Err;
        EXPECT_EQ(EntriesNaming(ini->Icon), IconEntries(folder));
        run = RunTool({"show", folder});
        EXPECT_EQ(Shown(folder, ini->Icon, false), run.Out);
    }
}

TEST_F(WindowsFolderCliTest, SourcesWithEnvironmentReferencesAreKeptAsWritten)
{
    const std::string libraryFolder = library_.substr(0, library_.find_last_of('\\'));
    ScopedVariable icons("ORVANE_TEST_ICONS", libraryFolder);
    ScopedVariable relative("ORVANE_TEST_RELATIVE", "orvane_icon_ids.dll");
    const std::string folder = dir_.MakeFolder("Letters");
    struct Case {
        std::string Given;
        std::string Stored; // "" : refused
    } cases[] = {
        {"%ORVANE_TEST_ICONS%\\orvane_icon_ids.dll,-112", "%ORVANE_TEST_ICONS%\\orvane_icon_ids.dll,-112"},
        {"%ORVANE_TEST_ICONS%\\orvane_icon_ids.dll,3", "%ORVANE_TEST_ICONS%\\orvane_icon_ids.dll,3"},
        // A reference that expands to a relative name names no fixed file: the full path
        // it resolves to (here in the tool's working folder) is stored.
        {"%ORVANE_TEST_RELATIVE%,1", library_ + ",1"},
        {"%ORVANE_TEST_ICONS%\\orvane_icon_ids.dll,4", ""},
        {"%ORVANE_TEST_ICONS%\\orvane_icon_ids.dll,-999", ""},
        {"%ORVANE_TEST_UNSET%\\orvane_icon_ids.dll,1", ""},
    };
    // The folder has an icon of its own to start with, so that each change backs one up.
    ASSERT_EQ(0u, RunTool({"set", library_ + ",0", folder}).ExitCode);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Given);
        const std::string before = IconEntries(folder);
        const ToolRun run = RunTool({"set", c.Given, folder}, libraryFolder);
        if (c.Stored.empty()) {
            EXPECT_EQ(1u, run.ExitCode);
            EXPECT_FALSE(run.Err.empty());
            EXPECT_EQ(before, IconEntries(folder));
            continue;
        }
        ASSERT_EQ(0u, run.ExitCode) << run.Err;
        EXPECT_EQ(folder + ": Folder icon set to " + c.Stored + "\n", run.Out);
        EXPECT_EQ(EntriesNaming(c.Stored), IconEntries(folder));
        EXPECT_EQ(Shown(folder, c.Stored, true), RunTool({"show", folder}).Out);
    }
}

} // namespace
} // namespace orvane::test
