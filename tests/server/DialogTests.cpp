// The context-menu command runs the real Change Icon dialog (under Xvfb). The test plays
// Explorer on the main thread, whose InvokeCommand blocks in the dialog's modal loop, and
// plays the user from a second thread.
#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "ChangeIconDialog.h"
#include "DialogDriver.h"
#include "ServerTestSupport.h"
#include "resource.h"

namespace orvane::test {
namespace {

using demo::DialogDriver;
using demo::DialogRun;

// Invokes the menu's command on this thread, as Explorer's menu thread does, while
// `script` plays the user; *result is what InvokeCommand returned.
DialogRun InvokeDriven(IContextMenu* menu, HRESULT* result, const std::function<void(DialogDriver&)>& script)
{
    return demo::RunWhileDriven(
        [&]() -> INT_PTR {
            CMINVOKECOMMANDINFO info = {};
            info.cbSize = sizeof info;
            info.lpVerb = MAKEINTRESOURCEA(0);
            info.nShow = SW_SHOWNORMAL;
            *result = menu->InvokeCommand(&info);
            return 0;
        },
        script);
}

ComPtr<IContextMenu> MenuFor(const std::string& path)
{
    ComPtr<IContextMenu> menu;
    EXPECT_EQ(S_OK, CreateExtension(IID_IContextMenu, &menu));
    ComPtr<IShellExtInit> init;
    EXPECT_EQ(S_OK, menu->QueryInterface(IID_IShellExtInit, &init));
    ComPtr<IDataObject> data = ShellDataObject(path);
    EXPECT_TRUE(data);
    EXPECT_EQ(S_OK, init->Initialize(nullptr, data.Get(), nullptr));
    PopupMenu popup;
    EXPECT_EQ(MAKE_HRESULT(SEVERITY_SUCCESS, 0, 1), menu->QueryContextMenu(popup.get(), 0, 1, 0x7FFF, CMF_NORMAL));
    return menu;
}

// The dialog opens for the selected item (file, folder or drive root) and the command
// returns S_OK once it is closed.
TEST(ChangeIconCommand, OpensTheDialogForTheSelectedItem)
{
    KeyGuard userState(HKEY_CURRENT_USER, ProductRoot);
    TempDir dir;
    const std::string file = dir.MakeFile("a.txt");
    const std::string folder = dir.MakeFolder("sub");
    for (const std::string& path : {file, folder, std::string("C:\\")}) {
        SCOPED_TRACE(path);
        ComPtr<IContextMenu> menu = MenuFor(path);
        ASSERT_TRUE(menu);
        std::string target;
        DWORD dialogThread = 0;
        HRESULT invoked = E_UNEXPECTED;
        const DialogRun run = InvokeDriven(menu.Get(), &invoked, [&](DialogDriver& d) {
            dialogThread = GetWindowThreadProcessId(d.Dialog(), nullptr);
            // The dialog procedure keeps its record with the window.
            auto* record = reinterpret_cast<ChangeIconDialog*>(GetWindowLongPtrA(d.Dialog(), DWLP_USER));
            if (record != nullptr)
                target = record->TargetPath;
            EXPECT_EQ(nullptr, GetWindow(d.Dialog(), GW_OWNER)) << "the dialog has no owner window";
            d.PostCommand(IDCANCEL, BN_CLICKED);
        });
        EXPECT_EQ(S_OK, invoked);
        ASSERT_TRUE(run.Opened) << "no dialog appeared";
        EXPECT_EQ(path, target);
        // Modal on the calling thread, as Explorer's menu thread runs it.
        EXPECT_EQ(GetCurrentThreadId(), dialogThread);
        EXPECT_EQ(nullptr, FindWindowA("#32770", "Orvane"));
    }
}

// The example of a single file given icon 3 of an icon library, through the COM roads
// only: the context menu's dialog writes it, the icon handler then answers it for that
// file while the file's siblings keep the type's icon.
TEST(ChangeIconCommand, SingleFileGetsIconThreeOfALibrary)
{
    ScratchType type(false);
    const std::string& extension = type.Extension;
    const std::string& className = type.Class;
    KeyGuard machineGuard(HKEY_LOCAL_MACHINE, ProductRoot);
    KeyGuard userGuard(HKEY_CURRENT_USER, ProductRoot);
    ASSERT_TRUE(WriteString(HKEY_CLASSES_ROOT, extension, "", className));
    ASSERT_TRUE(WriteString(HKEY_CLASSES_ROOT, className + "\\DefaultIcon", "", "shell32.dll,4"));

    TempDir dir;
    const std::string file = dir.MakeFile("a" + extension);
    const std::string sibling = dir.MakeFile("b" + extension);
    // An icon library: a module with many icons. (An .ico file is one icon, however many
    // images it holds.)
    const std::string library = Shell32Path();

    ComPtr<IContextMenu> menu = MenuFor(file);
    ASSERT_TRUE(menu);
    HRESULT invoked = E_UNEXPECTED;
    const DialogRun run = InvokeDriven(menu.Get(), &invoked, [&](DialogDriver& d) {
        ASSERT_NE(nullptr, d.Item(IDC_SOURCES));
        ASSERT_NE(nullptr, d.Item(IDC_ICONLIST));
        // A single file of a type with an icon of its own starts in single-file mode.
        EXPECT_EQ(BST_UNCHECKED, SendMessageA(d.Item(IDC_ALLOFTYPE), BM_GETCHECK, 0, 0));
        // Pick the library in the source list as a user would.
        d.ChooseSource(d.ListSource(library));
        ASSERT_GT(d.IconCount(), 4);
        d.PickIcon(3);
        d.Command(IDOK, BN_CLICKED);
    });
    EXPECT_EQ(S_OK, invoked);
    ASSERT_TRUE(run.Opened) << "no dialog appeared";
    menu.Reset();

    // The class now has Orvane as its icon handler, as the shell will find it.
    std::string handler;
    ASSERT_TRUE(ReadValue(HKEY_CLASSES_ROOT, className + "\\shellex\\IconHandler", "", &handler));
    EXPECT_STREQ(ExtensionClsidText, handler.c_str());

    const IconAnswer own = AskIconHandler(file);
    EXPECT_EQ(S_OK, own.Result);
    EXPECT_EQ(0, lstrcmpiA(library.c_str(), own.File.c_str())) << own.File;
    EXPECT_EQ(3, own.Index);
    const IconAnswer other = AskIconHandler(sibling);
    EXPECT_EQ(S_OK, other.Result);
    EXPECT_EQ("shell32.dll", other.File);
    EXPECT_EQ(4, other.Index);
    EXPECT_EQ(S_OK, ServerCanUnloadNow());
}

} // namespace
} // namespace orvane::test
