// What the shell hears from the command line's commands, run in this process so that a
// window of its own witnesses them (Wine delivers the shell's notifications only inside
// the process that sends them): a batch of paths tells the shell once per changed item
// and at most once that a type's data changed; a refused file tells it nothing.
#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <string>
#include <vector>

#include "Commands.h"
#include "IconChoice.h"
#include "Machine.h"
#include "ShellWitness.h"
#include "TestSupport.h"

using namespace orvane;
using test::Expected;
using test::ShellEvent;

namespace {

long CountOf(const std::vector<ShellEvent>& events, LONG event)
{
    return static_cast<long>(std::count_if(events.begin(), events.end(), [event](const ShellEvent& e) { return e.Event == event; }));
}

// The items of the SHCNE_UPDATEITEM events, in order.
std::vector<std::wstring> UpdatedItems(const std::vector<ShellEvent>& events)
{
    std::vector<std::wstring> items;
    for (const ShellEvent& e : events) {
        if (e.Event == SHCNE_UPDATEITEM)
            items.push_back(e.Item);
    }
    return items;
}

// A registered type of the test's own with an icon, and the product's keys, put back.
class CommandNotifyTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, type_.Extension, L"", type_.Class));
        type_.SetDefaultIcon(test::WriteIconFile(dir_.Path() + L"\\type.ico", 2) + L",1");
        const std::wstring library = test::WriteIconFile(dir_.Path() + L"\\library.ico", 4);
        ASSERT_LT(library.size(), std::size(choice_.Source));
        std::copy(library.begin(), library.end(), choice_.Source);
        choice_.Index = 2;
        ASSERT_TRUE(witness_.Registered());
    }

    test::ScratchType type_{false};
    test::TempDir dir_;
    test::ShellWitness witness_;
    cli::IconChoice choice_;

private:
    test::KeyGuard machineProduct_{HKEY_LOCAL_MACHINE, test::ProductRoot};
    test::KeyGuard userProduct_{HKEY_CURRENT_USER, test::ProductRoot};
};

} // namespace

TEST_F(CommandNotifyTest, FiftyFilesOfOneTypeSendOneAssociationChangeEachWay)
{
    std::vector<std::wstring> files;
    std::vector<std::wstring> expectedItems;
    cli::Invocation targets;
    for (int i = 0; i < 50; ++i)
        files.push_back(dir_.MakeFile(L"file" + std::to_wstring(i) + type_.Extension));
    for (const std::wstring& file : files) {
        targets.Paths.push_back(file.c_str());
        expectedItems.push_back(Expected(SHCNE_UPDATEITEM, file).Item);
    }
    witness_.Take(0, 0);

    // The first file installs the handler (the type's data changed); the others change
    // one file's answer each.
    ASSERT_EQ(0, cli::SetIcon(choice_, targets));
    std::vector<ShellEvent> seen = witness_.Take(51);
    EXPECT_EQ(1, CountOf(seen, SHCNE_ASSOCCHANGED)) << test::Utf8(test::Describe(seen));
    EXPECT_EQ(expectedItems, UpdatedItems(seen));
    EXPECT_EQ(seen.size(), 51u);

    // The last file restored takes the handler out again.
    ASSERT_EQ(0, cli::RestoreTargets(targets));
    seen = witness_.Take(51);
    EXPECT_EQ(1, CountOf(seen, SHCNE_ASSOCCHANGED)) << test::Utf8(test::Describe(seen));
    EXPECT_EQ(expectedItems, UpdatedItems(seen));
    EXPECT_EQ(seen.size(), 51u);

    // Nothing left to restore: nothing changed, nothing told.
    ASSERT_EQ(0, cli::RestoreTargets(targets));
    seen = witness_.Take(0);
    EXPECT_TRUE(seen.empty()) << test::Utf8(test::Describe(seen));
}

TEST_F(CommandNotifyTest, RemoveAllSendsOneAssociationChange)
{
    const std::wstring file = dir_.MakeFile(L"one" + type_.Extension);
    cli::Invocation targets;
    targets.Paths.push_back(file.c_str());
    ASSERT_EQ(0, cli::SetIcon(choice_, targets));
    witness_.Take(2);

    ASSERT_EQ(0, cli::RemoveAll());
    const std::vector<ShellEvent> seen = witness_.Take(1);
    EXPECT_EQ(std::vector<ShellEvent>{Expected(SHCNE_ASSOCCHANGED)}, seen) << test::Utf8(test::Describe(seen));
}

// On Windows on Arm (the machine played), whose Explorer loads no x64 or x86 extension, set
// refuses a file's own icon: it says why and names the arm64 package, writes nothing of
// the type's or the table's, and the shell hears only of the folder given in the same run.
TEST_F(CommandNotifyTest, OnWindowsOnArmAFilesOwnIconIsRefusedAndTheShellHearsOfTheFolderAlone)
{
    if (BuiltMachine() == IMAGE_FILE_MACHINE_ARM64)
        GTEST_SKIP() << "an arm64 build's handler loads there";
    const std::wstring file = dir_.MakeFile(L"refused" + type_.Extension);
    const std::wstring folder = dir_.MakeFolder(L"given");
    const std::wstring typeBefore = type_.Dump();
    cli::Invocation targets;
    targets.Paths = {file.c_str(), folder.c_str()};
    witness_.Take(0, 0);

    const std::wstring errors = dir_.Path() + L"\\errors.txt";
    const HANDLE errorFile = CreateFileW(errors.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, errorFile);
    const HANDLE standardError = GetStdHandle(STD_ERROR_HANDLE);
    SetStdHandle(STD_ERROR_HANDLE, errorFile);
    SetNativeMachineForTesting(IMAGE_FILE_MACHINE_ARM64);
    const int code = cli::SetIcon(choice_, targets);
    SetNativeMachineForTesting(IMAGE_FILE_MACHINE_UNKNOWN);
    SetStdHandle(STD_ERROR_HANDLE, standardError);
    CloseHandle(errorFile);

    EXPECT_EQ(1, code);
    const std::string said = test::ReadFileText(errors);
    EXPECT_TRUE(test::Contains(said, "Orvane-arm64.msi") && test::Contains(said, "nothing written")) << said;
    EXPECT_EQ(typeBefore, type_.Dump());
    const std::wstring table = std::wstring(test::ProductRoot) + L"\\Orvane\\FileIcons";
    for (const HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER})
        EXPECT_EQ(L"<none>", test::ValueText(root, table, file.c_str()));
    const std::vector<ShellEvent> seen = witness_.Take(1);
    EXPECT_EQ(0, CountOf(seen, SHCNE_ASSOCCHANGED)) << test::Utf8(test::Describe(seen));
    EXPECT_EQ(std::vector<std::wstring>{Expected(SHCNE_UPDATEITEM, folder).Item}, UpdatedItems(seen))
        << test::Utf8(test::Describe(seen));
    EXPECT_EQ(0, cli::RestoreTargets(targets));
}
