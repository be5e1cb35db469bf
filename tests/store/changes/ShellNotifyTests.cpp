// What the shell hears after each kind of change, witnessed by a window registered for
// its notifications: the item that changed, and an association change only where a file
// type's own data (or a drive's icon setting) changed.
#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "FolderIcons.h"
#include "IconTarget.h"
#include "Registry.h"
#include "RegistryNames.h"
#include "ScratchRegistry.h"
#include "ShellNotify.h"
#include "ShellWitness.h"
#include "TestSupport.h"

using namespace orvane;
using test::Expected;
using test::ShellEvent;

namespace {

// The drive whose icon the rows change: one the prefix has, so that the shell can name
// its root.
const wchar_t Drive[] = L"C:\\";

// A folder, two files of a type of the test's own (its class with an icon of its own)
// and a drive, with every key a change writes put back when it goes.
class Scene {
public:
    Scene()
    {
        EXPECT_TRUE(test::DeleteKeyTree(HKEY_LOCAL_MACHINE, test::ProductRoot));
        EXPECT_TRUE(test::DeleteKeyTree(HKEY_LOCAL_MACHINE, DriveIconsKey));
        EXPECT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, test::FolderClassIconKey, L"", test::FolderClassIconText));
        EXPECT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, type_.Extension, L"", type_.Class));
        type_.SetDefaultIcon(test::WriteIconFile(dir_.Path() + L"\\type.ico", 2) + L",1");
        Icon = test::WriteIconFile(dir_.Path() + L"\\library.ico", 4);
        Folder = dir_.MakeFolder(L"folder");
        First = dir_.MakeFile(L"first" + type_.Extension);
        Second = dir_.MakeFile(L"second" + type_.Extension);
        NoExtension = dir_.MakeFile(L"noextension");
    }
    Scene(const Scene&) = delete;
    Scene& operator=(const Scene&) = delete;

private:
    test::KeyGuard product_{HKEY_LOCAL_MACHINE, test::ProductRoot};
    test::KeyGuard drives_{HKEY_LOCAL_MACHINE, DriveIconsKey};
    test::KeyGuard userDrives_{HKEY_CURRENT_USER, std::wstring(L"Software\\Classes\\") + UserDriveIconsKey};
    test::KeyGuard folderClass_{HKEY_CLASSES_ROOT, test::FolderClassIconKey};
    test::ScratchType type_{false};
    test::TempDir dir_;

public:
    std::wstring Icon;
    std::wstring Folder;
    std::wstring First;
    std::wstring Second;
    std::wstring NoExtension;
};

// A change as the dialog makes it, without telling the shell.
IconTarget Change(const std::wstring& path, const std::wstring& icon, int index, bool allOfType = false)
{
    IconTarget target = OpenTarget(path.c_str());
    target.SetAllOfType(allOfType);
    target.SetCurrentIconPath(icon.c_str());
    target.SetCurrentIndex(index);
    EXPECT_EQ(ChangeResult::Done, target.ApplyIcon()) << test::Utf8(path);
    return target;
}

IconTarget Restore(const std::wstring& path, bool allOfType = false)
{
    IconTarget target = OpenTarget(path.c_str());
    target.SetAllOfType(allOfType);
    EXPECT_EQ(ChangeResult::Done, target.RestoreDefault()) << test::Utf8(path);
    return target;
}

std::vector<ShellEvent> ItemOnly(const std::wstring& item) { return {Expected(SHCNE_UPDATEITEM, item)}; }
std::vector<ShellEvent> TypeAndItem(const std::wstring& item)
{
    return {Expected(SHCNE_ASSOCCHANGED), Expected(SHCNE_UPDATEITEM, item)};
}
std::vector<ShellEvent> TypeOnly() { return {Expected(SHCNE_ASSOCCHANGED)}; }

} // namespace

TEST(ShellNotify, EachKindOfChangeNamesWhatChanged)
{
    struct Row {
        const char* Name;
        // What is there before: changes made without telling the shell.
        void (*Prepare)(Scene&);
        // The change the shell is told about.
        IconTarget (*Act)(Scene&);
        std::vector<ShellEvent> (*Expect)(const Scene&);
    };
    const auto nothing = [](Scene&) {};
    const Row rows[] = {
        {"a folder: the folder itself, not its parent", nothing, [](Scene& s) { return Change(s.Folder, s.Icon, 1); },
         [](const Scene& s) { return ItemOnly(s.Folder); }},
        {"a folder restored", [](Scene& s) { Change(s.Folder, s.Icon, 1); }, [](Scene& s) { return Restore(s.Folder); },
         [](const Scene& s) { return ItemOnly(s.Folder); }},
        {"a file whose type gets the handler now", nothing, [](Scene& s) { return Change(s.First, s.Icon, 1); },
         [](const Scene& s) { return TypeAndItem(s.First); }},
        {"a file whose type the handler already serves: that file only", [](Scene& s) { Change(s.Second, s.Icon, 2); },
         [](Scene& s) { return Change(s.First, s.Icon, 1); }, [](const Scene& s) { return ItemOnly(s.First); }},
        {"a file changed again", [](Scene& s) { Change(s.First, s.Icon, 2); },
         [](Scene& s) { return Change(s.First, s.Icon, 3); }, [](const Scene& s) { return ItemOnly(s.First); }},
        {"a file restored while another keeps the handler",
         [](Scene& s) {
             Change(s.First, s.Icon, 1);
             Change(s.Second, s.Icon, 2);
         },
         [](Scene& s) { return Restore(s.First); }, [](const Scene& s) { return ItemOnly(s.First); }},
        {"the last file restored: the handler goes", [](Scene& s) { Change(s.First, s.Icon, 1); },
         [](Scene& s) { return Restore(s.First); }, [](const Scene& s) { return TypeAndItem(s.First); }},
        {"a type: no single item", nothing, [](Scene& s) { return Change(s.First, s.Icon, 1, true); },
         [](const Scene&) { return TypeOnly(); }},
        {"a type the handler serves", [](Scene& s) { Change(s.Second, s.Icon, 2); },
         [](Scene& s) { return Change(s.First, s.Icon, 1, true); }, [](const Scene&) { return TypeOnly(); }},
        {"a type restored", [](Scene& s) { Change(s.First, s.Icon, 1, true); },
         [](Scene& s) { return Restore(s.First, true); }, [](const Scene&) { return TypeOnly(); }},
        {"a drive: its root and its icon setting", nothing, [](Scene& s) { return Change(Drive, s.Icon, 1); },
         [](const Scene&) { return TypeAndItem(Drive); }},
        {"a drive restored", [](Scene& s) { Change(Drive, s.Icon, 1); }, [](Scene&) { return Restore(Drive); },
         [](const Scene&) { return TypeAndItem(Drive); }},
        {"a refused change: nothing", nothing,
         [](Scene& s) {
             IconTarget target = OpenTarget(s.NoExtension.c_str());
             target.SetCurrentIconPath(s.Icon.c_str());
             target.SetCurrentIndex(1);
             EXPECT_EQ(ChangeResult::NoExtension, target.ApplyIcon());
             return target;
         },
         [](const Scene&) { return std::vector<ShellEvent>{}; }},
    };
    test::ShellWitness witness;
    ASSERT_TRUE(witness.Registered());
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Name);
        Scene scene;
        row.Prepare(scene);
        witness.Take(0, 0);
        const IconTarget target = row.Act(scene);
        NotifyChange(target);
        const std::vector<ShellEvent> expected = row.Expect(scene);
        const std::vector<ShellEvent> seen = witness.Take(expected.size());
        EXPECT_EQ(expected, seen) << "expected " << test::Utf8(test::Describe(expected)) << "\n    seen "
                                  << test::Utf8(test::Describe(seen));
    }
}
