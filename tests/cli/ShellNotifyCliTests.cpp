// What the shell hears from the command line's commands, run in this process so that a
// window of its own witnesses them (Wine delivers the shell's notifications only inside
// the process that sends them): a batch of paths tells the shell once per changed item
// and at most once that a type's data changed.
#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <string>
#include <vector>

#include "Commands.h"
#include "IconChoice.h"
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
