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

// The example's file type: a class of its own whose icon is shell32.dll,4, with both
// scopes' product keys put back afterwards.
struct ExampleType {
    ScratchType Type{false};
    KeyGuard MachineProduct{HKEY_LOCAL_MACHINE, ProductRoot};
    KeyGuard UserProduct{HKEY_CURRENT_USER, ProductRoot};
    bool Registered() const
    {
        return WriteString(HKEY_CLASSES_ROOT, Type.Extension, "", Type.Class) &&
               WriteString(HKEY_CLASSES_ROOT, Type.Class + "\\DefaultIcon", "", "shell32.dll,4");
    }
};

// The example's answers: the class (under `classes`) has Orvane as its icon handler, and
// the handler answers icon 3 of the library for the file and the type's icon,
// shell32.dll,4, for its sibling.
void ExpectExampleAnswers(HKEY classes, const std::string& classKey, const std::string& file,
                          const std::string& sibling, const std::string& library)
{
    std::string handler;
    ASSERT_TRUE(ReadValue(classes, classKey + "\\shellex\\IconHandler", "", &handler));
    EXPECT_STREQ(ExtensionClsidText, handler.c_str());
    const IconAnswer own = AskIconHandler(file);
    EXPECT_EQ(S_OK, own.Result);
    EXPECT_EQ(0, lstrcmpiA(library.c_str(), own.File.c_str())) << own.File;
    EXPECT_EQ(3, own.Index);
    const IconAnswer other = AskIconHandler(sibling);
    EXPECT_EQ(S_OK, other.Result);
    EXPECT_EQ("shell32.dll", other.File);
    EXPECT_EQ(4, other.Index);
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
    ExampleType example;
    ASSERT_TRUE(example.Registered());
    const std::string& extension = example.Type.Extension;
    const std::string& className = example.Type.Class;

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
    ExpectExampleAnswers(HKEY_CLASSES_ROOT, className, file, sibling, library);
    EXPECT_EQ(S_OK, ServerCanUnloadNow());
}

// The same example as a standard user (every place kept for all users refuses writes):
// the file C:\notes\a.<type>, icon 3 of a library, through the context menu on the
// shell's own data object and the dialog. The change is kept for this user alone, all
// users' places never change, and restoring through the dialog leaves this user's places
// as they were. (This prefix registers no .txt type, so the file's type is one of the
// test's own rather than .txt.)
TEST(ChangeIconCommand, SingleFileGetsIconThreeOfALibraryAsAStandardUser)
{
    ExampleType example;
    ASSERT_TRUE(example.Registered());
    const std::string& extension = example.Type.Extension;
    const std::string& className = example.Type.Class;

    const std::string notes = "C:\\notes";
    ASSERT_TRUE(CreateDirectoryA(notes.c_str(), nullptr)) << notes << " is there already";
    const std::string file = notes + "\\a" + extension;
    const std::string sibling = notes + "\\b" + extension;
    struct Notes {
        std::string Folder, File, Sibling;
        ~Notes()
        {
            DeleteFileA(File.c_str());
            DeleteFileA(Sibling.c_str());
            RemoveDirectoryA(Folder.c_str());
        }
    } removed{notes, file, sibling};
    for (const std::string& path : {file, sibling}) {
        HANDLE made = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, made) << path;
        CloseHandle(made);
    }
    const std::string library = Shell32Path();

    const std::string userClasses = "Software\\Classes\\";
    const std::string lruKey = std::string(ProductRoot) + "\\Orvane\\LRU";
    // This user's places, with the dialog's own state (recent list, rectangle), which OK
    // and Restore save and which is no icon setting, put back to one fixed form first.
    auto userPlaces = [&] {
        DeleteKeyTree(HKEY_CURRENT_USER, lruKey);
        WriteString(HKEY_CURRENT_USER, lruKey, "0", library);
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, (std::string(ProductRoot) + "\\Orvane").c_str(), 0, KEY_SET_VALUE,
                          &key) == ERROR_SUCCESS) {
            RegDeleteValueA(key, "DlgSize");
            RegCloseKey(key);
        }
        return DumpKey(HKEY_CURRENT_USER, ProductRoot) + DumpKey(HKEY_CURRENT_USER, userClasses + className) +
               DumpKey(HKEY_CURRENT_USER, userClasses + extension);
    };
    auto allUsersPlaces = [&] {
        return DumpKey(HKEY_LOCAL_MACHINE, ProductRoot) + DumpKey(HKEY_CLASSES_ROOT, className) +
               DumpKey(HKEY_CLASSES_ROOT, extension);
    };
    // Presses `id` (answering the question Yes) and expects the dialog to close with no
    // message on the way.
    auto pressAndClose = [](DialogDriver& d, int id, const char* question) {
        d.PostCommand(id, BN_CLICKED);
        if (question != nullptr) {
            HWND box = d.WaitWindow(question);
            ASSERT_NE(nullptr, box) << "no question " << question;
            DialogDriver::Answer(box, IDYES);
            DialogDriver::WaitGone(box, 5000);
        }
        const bool closed = d.WaitClosed(10000);
        for (HWND box : d.OtherWindows())
            ADD_FAILURE() << "unexpected message: " << DialogDriver::MessageText(box);
        EXPECT_TRUE(closed) << "the dialog stayed open";
    };

    StandardUser standard({className});
    ASSERT_TRUE(standard.Applied());
    const std::string allBefore = allUsersPlaces();
    const std::string userBefore = userPlaces();

    ComPtr<IContextMenu> menu = MenuFor(file);
    ASSERT_TRUE(menu);
    HRESULT invoked = E_UNEXPECTED;
    DialogRun run = InvokeDriven(menu.Get(), &invoked, [&](DialogDriver& d) {
        EXPECT_EQ(BST_UNCHECKED, SendMessageA(d.Item(IDC_ALLOFTYPE), BM_GETCHECK, 0, 0));
        d.ChooseSource(d.ListSource(library));
        ASSERT_GT(d.IconCount(), 4);
        d.PickIcon(3);
        pressAndClose(d, IDOK, nullptr);
    });
    EXPECT_EQ(S_OK, invoked);
    ASSERT_TRUE(run.Opened) << "no dialog appeared";
    EXPECT_FALSE(run.LeftOpen);
    menu.Reset();

    EXPECT_EQ(allBefore, allUsersPlaces());
    // Orvane is this user's icon handler of the class.
    ExpectExampleAnswers(HKEY_CURRENT_USER, userClasses + className, file, sibling, library);

    menu = MenuFor(file);
    ASSERT_TRUE(menu);
    run = InvokeDriven(menu.Get(), &invoked, [&](DialogDriver& d) {
        // The file's own icon opens it as a single file again.
        EXPECT_EQ(BST_UNCHECKED, SendMessageA(d.Item(IDC_ALLOFTYPE), BM_GETCHECK, 0, 0));
        ASSERT_TRUE(d.Visible(IDC_RESTORE));
        pressAndClose(d, IDC_RESTORE, "Orvane - Restore default Icon");
    });
    EXPECT_EQ(S_OK, invoked);
    ASSERT_TRUE(run.Opened) << "no dialog appeared";
    EXPECT_FALSE(run.LeftOpen);
    menu.Reset();

    EXPECT_EQ(userBefore, userPlaces());
    EXPECT_EQ(allBefore, allUsersPlaces());
    const IconAnswer restored = AskIconHandler(file);
    EXPECT_EQ(S_OK, restored.Result);
    EXPECT_EQ("shell32.dll", restored.File);
    EXPECT_EQ(4, restored.Index);
    EXPECT_EQ(S_OK, ServerCanUnloadNow());
}

} // namespace
} // namespace orvane::test
