// The context-menu command runs the real Change Icon dialog (under Xvfb). The test plays
// Explorer on the main thread, whose InvokeCommand blocks in the dialog's modal loop, and
// plays the user from a second thread.
#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "ChangeIconDialog.h"
#include "DialogDriver.h"
#include "ServerTestSupport.h"
#include "UnicodeNames.h"
#include "resource.h"

namespace orvane::test {
namespace {

using demo::DialogDriver;
using demo::DialogRun;

// Invokes the menu's command on this thread, as Explorer's menu thread does, while
// `script` plays the user; *result is what InvokeCommand returned.
DialogRun InvokeDriven(IContextMenu* menu, HRESULT* result, const std::function<void(DialogDriver&)>& script,
                       HWND window = nullptr)
{
    return demo::RunWhileDriven(
        [&]() -> INT_PTR {
            CMINVOKECOMMANDINFO info = {};
            info.cbSize = sizeof info;
            info.hwnd = window;
            info.lpVerb = MAKEINTRESOURCEA(0);
            info.nShow = SW_SHOWNORMAL;
            *result = menu->InvokeCommand(&info);
            return 0;
        },
        script);
}

ComPtr<IContextMenu> MenuFor(const std::wstring& path)
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
        return WriteString(HKEY_CLASSES_ROOT, Type.Extension, L"", Type.Class) &&
               WriteString(HKEY_CLASSES_ROOT, Type.Class + L"\\DefaultIcon", L"", L"shell32.dll,4");
    }
};

// The example's answers: the class (under `classes`) has Orvane as its icon handler, and
// the handler answers icon 3 of the library for the file and the type's icon,
// shell32.dll,4, for its sibling.
void ExpectExampleAnswers(HKEY classes, const std::wstring& classKey, const std::wstring& file,
                          const std::wstring& sibling, const std::wstring& library)
{
    std::wstring handler;
    ASSERT_TRUE(ReadValue(classes, classKey + L"\\shellex\\IconHandler", L"", &handler));
    EXPECT_STREQ(ExtensionClsidText, handler.c_str());
    const IconAnswer own = AskIconHandler(file);
    EXPECT_EQ(S_OK, own.Result);
    EXPECT_EQ(0, lstrcmpiW(library.c_str(), own.File.c_str())) << Utf8(own.File);
    EXPECT_EQ(3, own.Index);
    const IconAnswer other = AskIconHandler(sibling);
    EXPECT_EQ(S_OK, other.Result);
    EXPECT_EQ(L"shell32.dll", other.File);
    EXPECT_EQ(4, other.Index);
}

// Presses `id` (answering the question Yes) and expects the dialog to close with no
// message on the way.
void PressAndClose(DialogDriver& d, int id, const wchar_t* question)
{
    d.PostCommand(id, BN_CLICKED);
    if (question != nullptr) {
        HWND box = d.WaitWindow(question);
        ASSERT_NE(nullptr, box) << "no question " << Utf8(question);
        DialogDriver::Answer(box, IDYES);
        DialogDriver::WaitGone(box, 5000);
    }
    const bool closed = d.WaitClosed(10000);
    for (HWND box : d.OtherWindows())
        ADD_FAILURE() << "unexpected message: " << Utf8(DialogDriver::MessageText(box));
    EXPECT_TRUE(closed) << "the dialog stayed open";
}

// The dialog opens for the selected item (file, folder or drive root, of any name that
// Windows allows) with its path exactly as the shell gave it, and the command returns
// S_OK once it is closed.
TEST(ChangeIconCommand, OpensTheDialogForTheSelectedItem)
{
    KeyGuard userState(HKEY_CURRENT_USER, ProductRoot);
    TempDir dir;
    std::vector<std::wstring> paths{dir.MakeFile(L"a.txt"), dir.MakeFolder(L"sub"), L"C:\\"};
    for (const UnicodeName& name : UnicodeNames()) {
        paths.push_back(dir.MakeFile(name.Text + L".txt"));
        paths.push_back(dir.MakeFolder(name.Text));
    }
    const std::wstring longest = PathOfLength(dir.Path(), 259, L".txt");
    paths.push_back(dir.MakeFile(longest.substr(dir.Path().size() + 1)));
    ASSERT_EQ(259u, paths.back().size());
    for (const std::wstring& path : paths) {
        SCOPED_TRACE(Utf8(path));
        ComPtr<IContextMenu> menu = MenuFor(path);
        ASSERT_TRUE(menu);
        std::wstring target;
        TargetKind kind = TargetKind::Unclassified;
        DWORD dialogThread = 0;
        HRESULT invoked = E_UNEXPECTED;
        const DialogRun run = InvokeDriven(menu.Get(), &invoked, [&](DialogDriver& d) {
            dialogThread = GetWindowThreadProcessId(d.Dialog(), nullptr);
            // The dialog procedure keeps its record with the window.
            auto* record = reinterpret_cast<ChangeIconDialog*>(GetWindowLongPtrW(d.Dialog(), DWLP_USER));
            if (record != nullptr) {
                target = record->TargetPath;
                kind = record->Target.PathKind();
            }
            EXPECT_EQ(nullptr, GetWindow(d.Dialog(), GW_OWNER)) << "the dialog has no owner window";
            d.PostCommand(IDCANCEL, BN_CLICKED);
        });
        EXPECT_EQ(S_OK, invoked);
        ASSERT_TRUE(run.Opened) << "no dialog appeared";
        EXPECT_EQ(path, target);
        // A file is a file, whatever its name: a path that lost characters on the way would
        // name nothing, and what names nothing counts as a folder.
        const DWORD attributes = GetFileAttributesW(path.c_str());
        ASSERT_NE(INVALID_FILE_ATTRIBUTES, attributes);
        EXPECT_EQ(path.size() == 3 ? TargetKind::Drive
                                   : (attributes & FILE_ATTRIBUTE_DIRECTORY) ? TargetKind::Folder : TargetKind::File,
                  kind);
        // Modal on the calling thread, as Explorer's menu thread runs it.
        EXPECT_EQ(GetCurrentThreadId(), dialogThread);
        EXPECT_EQ(nullptr, FindWindowW(L"#32770", L"Orvane"));
    }
}

// Invoked from a window (Explorer's, here one of the test's own), the dialog is owned by
// it: it stays in front of it and the window waits while the dialog is open.
TEST(ChangeIconCommand, OwnedByTheWindowThatInvokedIt)
{
    KeyGuard userState(HKEY_CURRENT_USER, ProductRoot);
    TempDir dir;
    ComPtr<IContextMenu> menu = MenuFor(dir.MakeFolder(L"owned"));
    ASSERT_TRUE(menu);
    HWND window = CreateWindowExW(0, L"STATIC", L"Explorer", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40, 40, 500, 400,
                                  nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, window);
    HWND owner = nullptr;
    bool ownerWaits = false;
    HRESULT invoked = E_UNEXPECTED;
    const DialogRun run = InvokeDriven(menu.Get(), &invoked, [&](DialogDriver& d) {
        owner = GetWindow(d.Dialog(), GW_OWNER);
        ownerWaits = IsWindowEnabled(window) == FALSE;
        d.PostCommand(IDCANCEL, BN_CLICKED);
    }, window);
    EXPECT_EQ(S_OK, invoked);
    ASSERT_TRUE(run.Opened);
    EXPECT_EQ(window, owner);
    EXPECT_TRUE(ownerWaits);
    EXPECT_TRUE(IsWindowEnabled(window));
    DestroyWindow(window);
}

// A selection of several items opens one dialog for all of them: the first is the
// record's target, and every item, in the shell's order, is one of its targets.
TEST(ChangeIconCommand, OpensOneDialogForASelection)
{
    KeyGuard userState(HKEY_CURRENT_USER, ProductRoot);
    TempDir dir;
    const std::vector<std::wstring> names{L"a.txt", L"sub", L"b.txt"};
    dir.MakeFile(names[0]);
    dir.MakeFolder(names[1]);
    dir.MakeFile(names[2]);
    ComPtr<IContextMenu> menu;
    ASSERT_EQ(S_OK, CreateExtension(IID_IContextMenu, &menu));
    ComPtr<IShellExtInit> init;
    ASSERT_EQ(S_OK, menu->QueryInterface(IID_IShellExtInit, &init));
    ComPtr<IDataObject> data = ShellDataObject(dir.Path(), names);
    ASSERT_TRUE(data);
    ASSERT_EQ(S_OK, init->Initialize(nullptr, data.Get(), nullptr));
    PopupMenu popup;
    ASSERT_EQ(MAKE_HRESULT(SEVERITY_SUCCESS, 0, 1), menu->QueryContextMenu(popup.get(), 0, 1, 0x7FFF, CMF_NORMAL));
    std::vector<std::wstring> targets;
    std::wstring headline;
    HRESULT invoked = E_UNEXPECTED;
    const DialogRun run = InvokeDriven(menu.Get(), &invoked, [&](DialogDriver& d) {
        auto* record = reinterpret_cast<ChangeIconDialog*>(GetWindowLongPtrW(d.Dialog(), DWLP_USER));
        if (record != nullptr)
            targets = record->Targets;
        headline = d.Text(IDC_HEADLINE);
        d.PostCommand(IDCANCEL, BN_CLICKED);
    });
    EXPECT_EQ(S_OK, invoked);
    ASSERT_TRUE(run.Opened);
    std::vector<std::wstring> expected;
    for (const std::wstring& name : names)
        expected.push_back(dir.Path() + L"\\" + name);
    EXPECT_EQ(expected, targets);
    EXPECT_EQ(L"if you press the OK Button,the Icon for 1 folder and 2 files will be changed", headline);
}

// The example of a single file given icon 3 of an icon library, through the COM roads
// only: the context menu's dialog writes it, the icon handler then answers it for that
// file while the file's siblings keep the type's icon.
TEST(ChangeIconCommand, SingleFileGetsIconThreeOfALibrary)
{
    ExampleType example;
    ASSERT_TRUE(example.Registered());
    const std::wstring& extension = example.Type.Extension;
    const std::wstring& className = example.Type.Class;

    TempDir dir;
    const std::wstring file = dir.MakeFile(L"a" + extension);
    const std::wstring sibling = dir.MakeFile(L"b" + extension);
    // An icon library: a module with many icons. (An .ico file is one icon, however many
    // images it holds.)
    const std::wstring library = Shell32Path();

    ComPtr<IContextMenu> menu = MenuFor(file);
    ASSERT_TRUE(menu);
    HRESULT invoked = E_UNEXPECTED;
    const DialogRun run = InvokeDriven(menu.Get(), &invoked, [&](DialogDriver& d) {
        ASSERT_NE(nullptr, d.Item(IDC_SOURCES));
        ASSERT_NE(nullptr, d.Item(IDC_ICONLIST));
        // A single file of a type with an icon of its own starts in single-file mode.
        EXPECT_EQ(BST_UNCHECKED, SendMessageW(d.Item(IDC_ALLOFTYPE), BM_GETCHECK, 0, 0));
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

// The same example for files named in characters that code page 1252 cannot hold, and
// for one whose path is exactly 259 UTF-16 units long: the dialog's headline names the
// file as it is, the change writes the table entry named by the file's exact path, the
// icon handler answers it through IExtractIconW, and restoring through the dialog takes
// it out again.
TEST(ChangeIconCommand, SingleFileOfAnyNameGetsIconThreeAndIsRestored)
{
    ExampleType example;
    ASSERT_TRUE(example.Registered());
    const std::wstring& extension = example.Type.Extension;
    const std::wstring& className = example.Type.Class;
    TempDir dir;
    std::vector<std::wstring> files;
    for (const UnicodeName& name : UnicodeNames())
        files.push_back(dir.MakeFile(name.Text + extension));
    const std::wstring longest = PathOfLength(dir.Path(), 259, extension);
    files.push_back(dir.MakeFile(longest.substr(dir.Path().size() + 1)));
    ASSERT_EQ(259u, files.back().size());
    const std::wstring sibling = dir.MakeFile(L"b" + extension);
    const std::wstring library = Shell32Path();

    for (const std::wstring& file : files) {
        SCOPED_TRACE(Utf8(file));
        ComPtr<IContextMenu> menu = MenuFor(file);
        ASSERT_TRUE(menu);
        HRESULT invoked = E_UNEXPECTED;
        DialogRun run = InvokeDriven(menu.Get(), &invoked, [&](DialogDriver& d) {
            // The headline names the file (not a folder), unit for unit.
            EXPECT_EQ(L"if you press the OK Button,the Icon for File '" + file.substr(file.rfind(L'\\') + 1) +
                          L"' will be changed",
                      d.Text(IDC_HEADLINE));
            EXPECT_EQ(BST_UNCHECKED, SendMessageW(d.Item(IDC_ALLOFTYPE), BM_GETCHECK, 0, 0));
            d.ChooseSource(d.ListSource(library));
            ASSERT_GT(d.IconCount(), 4);
            d.PickIcon(3);
            PressAndClose(d, IDOK, nullptr);
        });
        EXPECT_EQ(S_OK, invoked);
        ASSERT_TRUE(run.Opened) << "no dialog appeared";
        menu.Reset();

        // The entry's name is the path itself, unit for unit (the registry would find it
        // under another case too).
        EXPECT_TRUE(Contains(DumpKey(HKEY_LOCAL_MACHINE, FileIconsKeyPath), L"value [" + file + L"]"))
            << Utf8(DumpKey(HKEY_LOCAL_MACHINE, FileIconsKeyPath));
        ExpectExampleAnswers(HKEY_CLASSES_ROOT, className, file, sibling, library);

        menu = MenuFor(file);
        ASSERT_TRUE(menu);
        run = InvokeDriven(menu.Get(), &invoked, [&](DialogDriver& d) {
            ASSERT_TRUE(d.Visible(IDC_RESTORE));
            PressAndClose(d, IDC_RESTORE, L"Orvane - Restore default Icon");
        });
        EXPECT_EQ(S_OK, invoked);
        ASSERT_TRUE(run.Opened) << "no dialog appeared";
        menu.Reset();
        std::wstring entry;
        EXPECT_FALSE(ReadValue(HKEY_LOCAL_MACHINE, FileIconsKeyPath, file.c_str(), &entry)) << Utf8(entry);
        ExpectAnswer(AskIconHandler(file), L"shell32.dll", 4);
    }
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
    const std::wstring& extension = example.Type.Extension;
    const std::wstring& className = example.Type.Class;

    const std::wstring notes = L"C:\\notes";
    ASSERT_TRUE(CreateDirectoryW(notes.c_str(), nullptr)) << Utf8(notes) << " is there already";
    const std::wstring file = notes + L"\\a" + extension;
    const std::wstring sibling = notes + L"\\b" + extension;
    struct Notes {
        std::wstring Folder, File, Sibling;
        ~Notes()
        {
            DeleteFileW(File.c_str());
            DeleteFileW(Sibling.c_str());
            RemoveDirectoryW(Folder.c_str());
        }
    } removed{notes, file, sibling};
    for (const std::wstring& path : {file, sibling}) {
        HANDLE made = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, made) << Utf8(path);
        CloseHandle(made);
    }
    const std::wstring library = Shell32Path();

    const std::wstring userClasses = L"Software\\Classes\\";
    const std::wstring lruKey = std::wstring(ProductRoot) + L"\\Orvane\\LRU";
    // This user's places, with the dialog's own state (recent list, rectangle), which OK
    // and Restore save and which is no icon setting, put back to one fixed form first.
    auto userPlaces = [&] {
        DeleteKeyTree(HKEY_CURRENT_USER, lruKey);
        WriteString(HKEY_CURRENT_USER, lruKey, L"0", library);
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, (std::wstring(ProductRoot) + L"\\Orvane").c_str(), 0, KEY_SET_VALUE,
                          &key) == ERROR_SUCCESS) {
            RegDeleteValueW(key, L"DlgSize");
            RegCloseKey(key);
        }
        return DumpKey(HKEY_CURRENT_USER, ProductRoot) + DumpKey(HKEY_CURRENT_USER, userClasses + className) +
               DumpKey(HKEY_CURRENT_USER, userClasses + extension);
    };
    auto allUsersPlaces = [&] {
        return DumpKey(HKEY_LOCAL_MACHINE, ProductRoot) + DumpKey(HKEY_CLASSES_ROOT, className) +
               DumpKey(HKEY_CLASSES_ROOT, extension);
    };
    StandardUser standard({className});
    ASSERT_TRUE(standard.Applied());
    const std::wstring allBefore = allUsersPlaces();
    const std::wstring userBefore = userPlaces();

    ComPtr<IContextMenu> menu = MenuFor(file);
    ASSERT_TRUE(menu);
    HRESULT invoked = E_UNEXPECTED;
    DialogRun run = InvokeDriven(menu.Get(), &invoked, [&](DialogDriver& d) {
        EXPECT_EQ(BST_UNCHECKED, SendMessageW(d.Item(IDC_ALLOFTYPE), BM_GETCHECK, 0, 0));
        d.ChooseSource(d.ListSource(library));
        ASSERT_GT(d.IconCount(), 4);
        d.PickIcon(3);
        PressAndClose(d, IDOK, nullptr);
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
        EXPECT_EQ(BST_UNCHECKED, SendMessageW(d.Item(IDC_ALLOFTYPE), BM_GETCHECK, 0, 0));
        ASSERT_TRUE(d.Visible(IDC_RESTORE));
        PressAndClose(d, IDC_RESTORE, L"Orvane - Restore default Icon");
    });
    EXPECT_EQ(S_OK, invoked);
    ASSERT_TRUE(run.Opened) << "no dialog appeared";
    EXPECT_FALSE(run.LeftOpen);
    menu.Reset();

    EXPECT_EQ(userBefore, userPlaces());
    EXPECT_EQ(allBefore, allUsersPlaces());
    const IconAnswer restored = AskIconHandler(file);
    EXPECT_EQ(S_OK, restored.Result);
    EXPECT_EQ(L"shell32.dll", restored.File);
    EXPECT_EQ(4, restored.Index);
    EXPECT_EQ(S_OK, ServerCanUnloadNow());
}

} // namespace
} // namespace orvane::test
