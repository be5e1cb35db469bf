// The context-menu command runs the real Change Icon dialog (under Xvfb). The test plays
// Explorer on the main thread, whose InvokeCommand blocks in the dialog's modal loop, and
// plays the user from a second thread.
#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>

#include "ChangeIconDialog.h"
#include "ServerTestSupport.h"
#include "resource.h"

namespace orvane::test {
namespace {

// The dialog of this process, once it is shown; null when none appears in time.
HWND WaitForDialog(DWORD timeoutMs = 20000)
{
    const DWORD start = GetTickCount();
    do {
        HWND window = nullptr;
        while ((window = FindWindowExA(nullptr, window, "#32770", "Orvane")) != nullptr) {
            DWORD process = 0;
            GetWindowThreadProcessId(window, &process);
            if (process == GetCurrentProcessId() && IsWindowVisible(window))
                return window;
        }
        Sleep(20);
    } while (GetTickCount() - start < timeoutMs);
    return nullptr;
}

// The user's side: waits for the dialog, hands it to `act`, and leaves it closed.
class DialogUser {
public:
    explicit DialogUser(std::function<void(HWND)> act)
        : thread_([this, act = std::move(act)] {
              HWND dialog = WaitForDialog();
              found_ = dialog != nullptr;
              if (dialog == nullptr)
                  return;
              act(dialog);
              // Whatever the actions did, the dialog must not stay open.
              for (int i = 0; i < 100 && IsWindow(dialog); ++i) {
                  if (i % 25 == 0)
                      PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
                  Sleep(20);
              }
          })
    {
    }
    ~DialogUser()
    {
        if (thread_.joinable())
            thread_.join();
    }
    bool Found()
    {
        thread_.join();
        return found_;
    }

private:
    bool found_ = false;
    std::thread thread_;
};

CMINVOKECOMMANDINFO CommandOffset(UINT offset)
{
    CMINVOKECOMMANDINFO info = {};
    info.cbSize = sizeof info;
    info.lpVerb = MAKEINTRESOURCEA(offset);
    info.nShow = SW_SHOWNORMAL;
    return info;
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
        DialogUser user([&](HWND dialog) {
            dialogThread = GetWindowThreadProcessId(dialog, nullptr);
            // The dialog procedure keeps its record with the window.
            auto* record = reinterpret_cast<ChangeIconDialog*>(GetWindowLongPtrA(dialog, DWLP_USER));
            if (record != nullptr)
                target = record->TargetPath;
            EXPECT_EQ(nullptr, GetWindow(dialog, GW_OWNER)) << "the dialog has no owner window";
            PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        });
        CMINVOKECOMMANDINFO info = CommandOffset(0);
        EXPECT_EQ(S_OK, menu->InvokeCommand(&info));
        ASSERT_TRUE(user.Found()) << "no dialog appeared";
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
    char system[MAX_PATH] = {};
    ASSERT_NE(0u, GetSystemDirectoryA(system, MAX_PATH));
    const std::string library = std::string(system) + "\\shell32.dll";

    ComPtr<IContextMenu> menu = MenuFor(file);
    ASSERT_TRUE(menu);
    DialogUser user([&](HWND dialog) {
        HWND sources = GetDlgItem(dialog, IDC_SOURCES);
        HWND icons = GetDlgItem(dialog, IDC_ICONLIST);
        ASSERT_NE(nullptr, sources);
        ASSERT_NE(nullptr, icons);
        // A single file of a type with an icon of its own starts in single-file mode.
        EXPECT_EQ(BST_UNCHECKED, SendMessageA(GetDlgItem(dialog, IDC_ALLOFTYPE), BM_GETCHECK, 0, 0));
        // Pick the library in the source list as a user would.
        SendMessageA(sources, CB_INSERTSTRING, 0, reinterpret_cast<LPARAM>(library.c_str()));
        SendMessageA(sources, CB_SETCURSEL, 0, 0);
        SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_SOURCES, CBN_SELCHANGE), reinterpret_cast<LPARAM>(sources));
        ASSERT_GT(SendMessageA(icons, LVM_GETITEMCOUNT, 0, 0), 4);
        LVITEMA item = {};
        item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        item.state = 0;
        SendMessageA(icons, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&item));
        item.state = LVIS_SELECTED | LVIS_FOCUSED;
        SendMessageA(icons, LVM_SETITEMSTATE, 3, reinterpret_cast<LPARAM>(&item));
        SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
    });
    CMINVOKECOMMANDINFO info = CommandOffset(0);
    EXPECT_EQ(S_OK, menu->InvokeCommand(&info));
    ASSERT_TRUE(user.Found()) << "no dialog appeared";
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
