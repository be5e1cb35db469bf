// The Explorer command as Windows 11's Explorer plays it: created through its
// registration, given a site, asked for its state with shell item arrays that the shell
// itself makes (from a shell item, or from the shell's own data object), asked for its
// texts and icon, and invoked. Invoke starts orvane-dialog.exe, whose Change Icon dialog
// (under Xvfb) the test drives from outside that process as a user would.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <shlguid.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <winternl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cwchar>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "DialogDriver.h"
#include "FolderLink.h"
#include "IconTarget.h"
#include "ManyTargets.h"
#include "ServerTestSupport.h"
#include "UnicodeNames.h"
#include "resource.h"

namespace orvane::test {
namespace {

using demo::DialogDriver;

const void* const Garbage = reinterpret_cast<void*>(0x0BADF00D);

// The window that Explorer's site hands out through IOleWindow.
class TestSite final : public IOleWindow {
public:
    explicit TestSite(HWND window) : window_(window) {}
    LONG References() const { return refs_; }
    IFACEMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (ppv == nullptr)
            return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IOleWindow))
            return E_NOINTERFACE;
        *ppv = static_cast<IOleWindow*>(this);
        AddRef();
        return S_OK;
    }
    IFACEMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refs_); }
    IFACEMETHODIMP_(ULONG) Release() override { return InterlockedDecrement(&refs_); }
    IFACEMETHODIMP GetWindow(HWND* window) override
    {
        if (window == nullptr)
            return E_POINTER;
        *window = window_;
        return window_ != nullptr ? S_OK : E_FAIL;
    }
    IFACEMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

private:
    HWND window_;
    volatile LONG refs_ = 0;
};

// A site without a window of its own (as a view's site may be), which hands out the
// window of the browser that hosts it as the shell's top-level browser service.
class BrowserSite final : public IServiceProvider {
public:
    explicit BrowserSite(IOleWindow* browser) : browser_(browser) {}
    LONG References() const { return refs_; }
    IFACEMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (ppv == nullptr)
            return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IServiceProvider))
            return E_NOINTERFACE;
        *ppv = static_cast<IServiceProvider*>(this);
        AddRef();
        return S_OK;
    }
    IFACEMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refs_); }
    IFACEMETHODIMP_(ULONG) Release() override { return InterlockedDecrement(&refs_); }
    IFACEMETHODIMP QueryService(REFGUID service, REFIID riid, void** ppv) override
    {
        if (ppv == nullptr)
            return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualGUID(service, SID_STopLevelBrowser))
            return E_NOINTERFACE;
        return browser_->QueryInterface(riid, ppv);
    }

private:
    IOleWindow* browser_;
    volatile LONG refs_ = 0;
};

// A top-level window of the test's own that stands for Explorer's, away from the
// screen's centre.
class OwnerWindow {
public:
    OwnerWindow()
        : window_(CreateWindowExW(0, L"STATIC", L"Explorer stand-in", WS_OVERLAPPEDWINDOW, 40, 30, 200, 100, nullptr,
                                  nullptr, nullptr, nullptr))
    {
    }
    ~OwnerWindow() { DestroyWindow(window_); }
    OwnerWindow(const OwnerWindow&) = delete;
    OwnerWindow& operator=(const OwnerWindow&) = delete;
    HWND get() const { return window_; }

private:
    HWND window_;
};

ComPtr<IExplorerCommand> NewCommand()
{
    ComPtr<IExplorerCommand> command;
    EXPECT_EQ(S_OK, CreateExplorerCommand(IID_IExplorerCommand, &command));
    return command;
}

// Shell item arrays as the shell makes them.
ComPtr<IShellItemArray> ArrayOfItem(ComPtr<IShellItem> item)
{
    ComPtr<IShellItemArray> items;
    if (item) {
        EXPECT_EQ(S_OK, SHCreateShellItemArrayFromShellItem(item.Get(), IID_IShellItemArray, &items));
    }
    return items;
}

ComPtr<IShellItemArray> ArrayFromPath(const std::wstring& path)
{
    ComPtr<IShellItem> item;
    EXPECT_EQ(S_OK, SHCreateItemFromParsingName(path.c_str(), nullptr, IID_IShellItem, &item)) << Utf8(path);
    return ArrayOfItem(item);
}

ComPtr<IShellItemArray> ArrayFromDataObject(ComPtr<IDataObject> data)
{
    ComPtr<IShellItemArray> items;
    EXPECT_TRUE(data);
    if (data) {
        EXPECT_EQ(S_OK, SHCreateShellItemArrayFromDataObject(data.Get(), IID_IShellItemArray, &items));
    }
    return items;
}

// The same item `count` times over, as the shell's array of ID lists holds a selection.
ComPtr<IShellItemArray> ArrayOfCopies(const std::wstring& path, UINT count)
{
    PIDLIST_ABSOLUTE pidl = nullptr;
    EXPECT_EQ(S_OK, SHParseDisplayName(path.c_str(), nullptr, &pidl, 0, nullptr));
    ComPtr<IShellItemArray> items;
    if (pidl != nullptr) {
        std::vector<LPCITEMIDLIST> lists(count, pidl);
        EXPECT_EQ(S_OK, SHCreateShellItemArrayFromIDLists(count, lists.data(), &items));
        CoTaskMemFree(pidl);
    }
    return items;
}

ComPtr<IShellItemArray> ArrayOfSpecialFolder(int csidl)
{
    PIDLIST_ABSOLUTE pidl = nullptr;
    EXPECT_EQ(S_OK, SHGetSpecialFolderLocation(nullptr, csidl, &pidl));
    ComPtr<IShellItem> item;
    if (pidl != nullptr) {
        EXPECT_EQ(S_OK, SHCreateItemFromIDList(pidl, IID_IShellItem, &item));
        CoTaskMemFree(pidl);
    }
    return ArrayOfItem(item);
}

// An array without items. Wine's shell makes none (SHCreateShellItemArray with no items
// answers E_FAIL), so one of the test's own stands for it.
class EmptyItemArray final : public IShellItemArray {
public:
    IFACEMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (ppv == nullptr)
            return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IShellItemArray))
            return E_NOINTERFACE;
        *ppv = static_cast<IShellItemArray*>(this);
        AddRef();
        return S_OK;
    }
    IFACEMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refs_); }
    IFACEMETHODIMP_(ULONG) Release() override
    {
        const LONG left = InterlockedDecrement(&refs_);
        if (left == 0)
            delete this;
        return left;
    }
    IFACEMETHODIMP BindToHandler(IBindCtx*, REFGUID, REFIID, void** ppv) override
    {
        *ppv = nullptr;
        return E_NOTIMPL;
    }
    IFACEMETHODIMP GetPropertyStore(GETPROPERTYSTOREFLAGS, REFIID, void** ppv) override
    {
        *ppv = nullptr;
        return E_NOTIMPL;
    }
    IFACEMETHODIMP GetPropertyDescriptionList(REFPROPERTYKEY, REFIID, void** ppv) override
    {
        *ppv = nullptr;
        return E_NOTIMPL;
    }
    IFACEMETHODIMP GetAttributes(SIATTRIBFLAGS, SFGAOF, SFGAOF* attributes) override
    {
        *attributes = 0;
        return E_NOTIMPL;
    }
    IFACEMETHODIMP GetCount(DWORD* count) override
    {
        *count = 0;
        return S_OK;
    }
    IFACEMETHODIMP GetItemAt(DWORD, IShellItem** item) override
    {
        *item = nullptr;
        return E_INVALIDARG;
    }
    IFACEMETHODIMP EnumItems(IEnumShellItems** items) override
    {
        *items = nullptr;
        return E_NOTIMPL;
    }

private:
    volatile LONG refs_ = 1;
};

ComPtr<IShellItemArray> EmptyArray()
{
    ComPtr<IShellItemArray> items;
    items.Attach(new EmptyItemArray());
    return items;
}

// The classic entry's text and help text, as its context menu offers them for a folder.
void ClassicEntryTexts(const std::wstring& folder, std::wstring* text, std::wstring* help)
{
    ComPtr<IContextMenu> menu;
    ASSERT_EQ(S_OK, CreateExtension(IID_IContextMenu, &menu));
    ComPtr<IShellExtInit> init;
    ASSERT_EQ(S_OK, menu.As(&init));
    ComPtr<IDataObject> data = ShellDataObject(folder);
    ASSERT_TRUE(data);
    ASSERT_EQ(S_OK, init->Initialize(nullptr, data.Get(), nullptr));
    PopupMenu popup;
    ASSERT_EQ(MAKE_HRESULT(SEVERITY_SUCCESS, 0, 1), menu->QueryContextMenu(popup.get(), 0, 1, 0x7FFF, CMF_NORMAL));
    for (const MenuEntry& entry : ReadMenu(popup.get())) {
        if (entry.Id == 1)
            *text = entry.Text;
    }
    wchar_t buffer[256] = {};
    ASSERT_EQ(S_OK, menu->GetCommandString(0, GCS_HELPTEXTW, nullptr, reinterpret_cast<char*>(buffer),
                                           static_cast<UINT>(std::size(buffer))));
    *help = buffer;
}

std::wstring TakeText(LPWSTR text)
{
    std::wstring copy = text != nullptr ? text : L"(null)";
    CoTaskMemFree(text);
    return copy;
}

std::wstring FolderOf(const std::wstring& path) { return path.substr(0, path.rfind(L'\\')); }

// orvane-dialog.exe as the build places it: beside orvane.dll.
std::wstring DialogProgramPath() { return FolderOf(ServerDllPath()) + L"\\orvane-dialog.exe"; }

TEST(ExplorerCommand, CreatedThroughItsRegistrationAndCounted)
{
    {
        ComPtr<IExplorerCommand> command;
        ASSERT_EQ(S_OK, CreateExplorerCommand(IID_IExplorerCommand, &command));
        ComPtr<IObjectWithSite> withSite;
        ASSERT_EQ(S_OK, command.As(&withSite));
        ComPtr<IUnknown> first;
        ComPtr<IUnknown> second;
        ASSERT_EQ(S_OK, command.As(&first));
        ASSERT_EQ(S_OK, withSite.As(&second));
        EXPECT_EQ(first.Get(), second.Get());
        void* out = const_cast<void*>(Garbage);
        EXPECT_EQ(E_NOINTERFACE, command->QueryInterface(IID_IContextMenu, &out));
        EXPECT_EQ(nullptr, out);
        // A live command keeps the module loaded.
        EXPECT_EQ(S_FALSE, ServerCanUnloadNow());
    }
    EXPECT_EQ(S_OK, ServerCanUnloadNow());
}

TEST(ExplorerCommand, KeepsTheSiteItIsGiven)
{
    OwnerWindow owner;
    TestSite site(owner.get());
    {
        ComPtr<IExplorerCommand> command = NewCommand();
        ComPtr<IObjectWithSite> withSite;
        ASSERT_EQ(S_OK, command.As(&withSite));
        void* out = const_cast<void*>(Garbage);
        EXPECT_EQ(E_FAIL, withSite->GetSite(IID_IUnknown, &out));
        EXPECT_EQ(nullptr, out);

        ASSERT_EQ(S_OK, withSite->SetSite(&site));
        EXPECT_EQ(1, site.References());
        ComPtr<IOleWindow> window;
        ASSERT_EQ(S_OK, withSite->GetSite(IID_IOleWindow, &window));
        EXPECT_EQ(static_cast<IOleWindow*>(&site), window.Get());
        window.Reset();
        out = const_cast<void*>(Garbage);
        EXPECT_EQ(E_NOINTERFACE, withSite->GetSite(IID_IShellFolder, &out));
        EXPECT_EQ(nullptr, out);
        EXPECT_EQ(E_POINTER, withSite->GetSite(IID_IUnknown, nullptr));

        ASSERT_EQ(S_OK, withSite->SetSite(nullptr));
        EXPECT_EQ(0, site.References());
        EXPECT_EQ(E_FAIL, withSite->GetSite(IID_IUnknown, &out));
        // The site is released with the command too.
        ASSERT_EQ(S_OK, withSite->SetSite(&site));
    }
    EXPECT_EQ(0, site.References());
    EXPECT_EQ(S_OK, ServerCanUnloadNow());
}

// Enabled for exactly what the classic entry serves: one file-system folder, file or
// drive root, whichever way the shell made the array; hidden for anything else.
TEST(ExplorerCommand, StateFollowsTheSelection)
{
    TempDir dir;
    const std::wstring file = dir.MakeFile(L"a.txt");
    const std::wstring folder = dir.MakeFolder(L"sub folder");
    const std::wstring unicode = dir.MakeFile(L"\u5199\u771F 2024.txt");
    const std::wstring longest = PathOfLength(dir.Path(), 259, L".txt");
    dir.MakeFile(longest.substr(dir.Path().size() + 1));
    dir.MakeFile(L"b.txt");
    struct Row {
        const char* Label;
        std::function<ComPtr<IShellItemArray>()> Items;
        EXPCMDSTATE Expected;
    };
    const Row table[] = {
        {"file", [&] { return ArrayFromPath(file); }, ECS_ENABLED},
        {"file, data object", [&] { return ArrayFromDataObject(ShellDataObject(file)); }, ECS_ENABLED},
        {"folder", [&] { return ArrayFromPath(folder); }, ECS_ENABLED},
        {"folder, data object", [&] { return ArrayFromDataObject(ShellDataObject(folder)); }, ECS_ENABLED},
        {"drive root", [&] { return ArrayFromPath(L"C:\\"); }, ECS_ENABLED},
        {"drive root, data object", [&] { return ArrayFromDataObject(ShellDataObject(L"C:\\")); }, ECS_ENABLED},
        {"name beyond code page 1252", [&] { return ArrayFromPath(unicode); }, ECS_ENABLED},
        {"path of 259 units", [&] { return ArrayFromPath(longest); }, ECS_ENABLED},
        {"two files", [&] { return ArrayFromDataObject(ShellDataObject(dir.Path(), {L"a.txt", L"b.txt"})); },
         ECS_ENABLED},
        {"file and folder",
         [&] { return ArrayFromDataObject(ShellDataObject(dir.Path(), {L"a.txt", L"sub folder"})); }, ECS_ENABLED},
        {"ten items, files and folders", [&] { return ArrayOfCopies(folder, 10); }, ECS_ENABLED},
        {"as many items as a selection may hold", [&] { return ArrayOfCopies(file, SelectionLimit); }, ECS_ENABLED},
        {"one item more", [&] { return ArrayOfCopies(file, SelectionLimit + 1); }, ECS_HIDDEN},
        {"My Computer", [&] { return ArrayOfSpecialFolder(CSIDL_DRIVES); }, ECS_HIDDEN},
        {"Control Panel", [&] { return ArrayOfSpecialFolder(CSIDL_CONTROLS); }, ECS_HIDDEN},
        {"no item", [&] { return EmptyArray(); }, ECS_HIDDEN},
        {"folder background (no array)", [&] { return ComPtr<IShellItemArray>(); }, ECS_HIDDEN},
    };
    ComPtr<IExplorerCommand> command = NewCommand();
    ASSERT_TRUE(command);
    for (const Row& row : table) {
        SCOPED_TRACE(row.Label);
        ComPtr<IShellItemArray> items = row.Items();
        if (std::string(row.Label) != "folder background (no array)") {
            ASSERT_TRUE(items);
        }
        for (BOOL okToBeSlow : {FALSE, TRUE}) {
            EXPCMDSTATE state = 0xBAD;
            EXPECT_EQ(S_OK, command->GetState(items.Get(), okToBeSlow, &state));
            EXPECT_EQ(row.Expected, state);
        }
    }
    EXPECT_EQ(E_POINTER, command->GetState(ArrayFromPath(file).Get(), FALSE, nullptr));
}

// The classic entry's words, Orvane's own icon from the DLL, a fixed canonical name, a
// plain command without subcommands.
TEST(ExplorerCommand, DescribesItselfAsTheClassicEntry)
{
    TempDir dir;
    const std::wstring folder = dir.MakeFolder(L"f");
    std::wstring classicText;
    std::wstring classicHelp;
    ClassicEntryTexts(folder, &classicText, &classicHelp);
    ASSERT_EQ(L"&Change Icon...", classicText);

    ComPtr<IExplorerCommand> command = NewCommand();
    ASSERT_TRUE(command);
    ComPtr<IShellItemArray> items = ArrayFromPath(folder);
    LPWSTR text = static_cast<LPWSTR>(const_cast<void*>(Garbage));
    ASSERT_EQ(S_OK, command->GetTitle(items.Get(), &text));
    EXPECT_EQ(classicText, TakeText(text));
    ASSERT_EQ(S_OK, command->GetToolTip(items.Get(), &text));
    EXPECT_EQ(classicHelp, TakeText(text));
    ASSERT_EQ(S_OK, command->GetTitle(nullptr, &text));
    EXPECT_EQ(classicText, TakeText(text));

    ASSERT_EQ(S_OK, command->GetIcon(items.Get(), &text));
    const std::wstring icon = TakeText(text);
    const std::size_t comma = icon.rfind(L',');
    ASSERT_NE(std::wstring::npos, comma) << Utf8(icon);
    EXPECT_EQ(0, lstrcmpiW(ServerDllPath().c_str(), icon.substr(0, comma).c_str())) << Utf8(icon);
    EXPECT_EQ(L"-" + std::to_wstring(IDI_ORVANE), icon.substr(comma + 1));
    // The location names an icon the shell can extract, and it is the DLL's own.
    HICON large = nullptr;
    ASSERT_EQ(1u, ExtractIconExW(icon.substr(0, comma).c_str(), std::stoi(icon.substr(comma + 1)), &large, nullptr, 1));
    ASSERT_NE(nullptr, large);
    ICONINFO info{};
    EXPECT_TRUE(GetIconInfo(large, &info));
    BITMAP bitmap{};
    EXPECT_NE(0, GetObjectW(info.hbmColor != nullptr ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap));
    EXPECT_GT(bitmap.bmWidth, 0);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    DestroyIcon(large);

    GUID name = {};
    ASSERT_EQ(S_OK, command->GetCanonicalName(&name));
    wchar_t nameText[64] = {};
    ASSERT_EQ(39, StringFromGUID2(name, nameText, static_cast<int>(std::size(nameText))));
    EXPECT_STREQ(L"{7E512DF0-F7DA-47B3-8436-732F57939538}", nameText);
    EXPECT_FALSE(IsEqualGUID(name, CLSID_ExplorerCommand));

    EXPCMDFLAGS flags = 0xBAD;
    ASSERT_EQ(S_OK, command->GetFlags(&flags));
    EXPECT_EQ(static_cast<EXPCMDFLAGS>(ECF_DEFAULT), flags);
    IEnumExplorerCommand* commands = static_cast<IEnumExplorerCommand*>(const_cast<void*>(Garbage));
    EXPECT_EQ(E_NOTIMPL, command->EnumSubCommands(&commands));
    EXPECT_EQ(nullptr, commands);

    for (auto call : std::initializer_list<std::function<HRESULT()>>{
             [&] { return command->GetTitle(items.Get(), nullptr); },
             [&] { return command->GetToolTip(items.Get(), nullptr); },
             [&] { return command->GetIcon(items.Get(), nullptr); },
             [&] { return command->GetCanonicalName(nullptr); },
             [&] { return command->GetFlags(nullptr); },
         })
        EXPECT_EQ(E_POINTER, call());
}

// The Change Icon dialog that another process shows: the window, its thread and process.
struct OtherDialog {
    HWND Window = nullptr;
    DWORD Thread = 0;
    DWORD Process = 0;
};

BOOL CALLBACK CollectOtherDialog(HWND window, LPARAM param)
{
    DWORD process = 0;
    const DWORD thread = GetWindowThreadProcessId(window, &process);
    wchar_t className[16] = {};
    wchar_t title[16] = {};
    GetClassNameW(window, className, static_cast<int>(std::size(className)));
    GetWindowTextW(window, title, static_cast<int>(std::size(title)));
    if (process != GetCurrentProcessId() && IsWindowVisible(window) && std::wstring(className) == L"#32770" &&
        std::wstring(title) == L"Orvane" && GetDlgItem(window, IDC_ICONLIST) != nullptr) {
        *reinterpret_cast<OtherDialog*>(param) = {window, thread, process};
        return FALSE;
    }
    return TRUE;
}

OtherDialog WaitOtherDialog(DWORD timeoutMs)
{
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    OtherDialog found;
    while (found.Window == nullptr && GetTickCount64() < end) {
        EnumWindows(CollectOtherDialog, reinterpret_cast<LPARAM>(&found));
        if (found.Window == nullptr)
            Sleep(50);
    }
    return found;
}

// A process the test caused to start, ended at the latest when the object goes, so that
// a failed test leaves no dialog behind for the next one.
class OtherProcess {
public:
    explicit OtherProcess(DWORD id)
        : handle_(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_TERMINATE | PROCESS_VM_OPERATION |
                                  PROCESS_VM_READ | PROCESS_VM_WRITE,
                              FALSE, id))
    {
    }
    explicit OtherProcess(HANDLE handle) : handle_(handle) {}
    ~OtherProcess()
    {
        if (handle_ == nullptr)
            return;
        if (WaitForSingleObject(handle_, 0) == WAIT_TIMEOUT) {
            TerminateProcess(handle_, 99);
            WaitForSingleObject(handle_, 5000);
        }
        CloseHandle(handle_);
    }
    OtherProcess(const OtherProcess&) = delete;
    OtherProcess& operator=(const OtherProcess&) = delete;
    HANDLE get() const { return handle_; }
    // The exit code once the process has ended within the time; -1 while it runs.
    int ExitCode(DWORD timeoutMs) const
    {
        if (WaitForSingleObject(handle_, timeoutMs) != WAIT_OBJECT_0)
            return -1;
        DWORD code = 0;
        GetExitCodeProcess(handle_, &code);
        return static_cast<int>(code);
    }

private:
    HANDLE handle_;
};

// The command line another process (of this program's bitness) was started with, read
// from its process parameters as the system keeps them; empty when it cannot be read.
std::wstring CommandLineOf(HANDLE process)
{
    using Query = NTSTATUS(NTAPI*)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);
    const auto query = reinterpret_cast<Query>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess")));
    PROCESS_BASIC_INFORMATION basic{};
    ULONG size = 0;
    if (query == nullptr || query(process, ProcessBasicInformation, &basic, sizeof basic, &size) < 0)
        return {};
    PEB peb{};
    RTL_USER_PROCESS_PARAMETERS parameters{};
    if (!ReadProcessMemory(process, basic.PebBaseAddress, &peb, sizeof peb, nullptr) ||
        !ReadProcessMemory(process, peb.ProcessParameters, &parameters, sizeof parameters, nullptr))
        return {};
    std::wstring text(parameters.CommandLine.Length / sizeof(wchar_t), L'\0');
    if (!ReadProcessMemory(process, parameters.CommandLine.Buffer, text.data(), parameters.CommandLine.Length, nullptr))
        return {};
    return text;
}

// The argument that names `window` to orvane-dialog.exe, as the Explorer command writes it.
std::wstring NearSwitch(HWND window)
{
    wchar_t number[32] = {};
    std::swprintf(number, std::size(number), L"%llX",
                  static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(window)));
    return L"/near " + std::wstring(number);
}

// Selects and focuses one icon of the dialog's list in another process. The list view's
// messages carry a pointer that is not carried across processes: the item state is
// written into the dialog's process, as tools that drive other programs do.
bool PickIconInOtherProcess(const OtherProcess& process, HWND list, int item)
{
    void* remote = VirtualAllocEx(process.get(), nullptr, sizeof(LVITEMW), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (remote == nullptr)
        return false;
    bool written = true;
    for (const int target : {-1, item}) {
        LVITEMW state{};
        state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        state.state = target == -1 ? 0 : LVIS_SELECTED | LVIS_FOCUSED;
        written = written && WriteProcessMemory(process.get(), remote, &state, sizeof state, nullptr);
        if (written)
            SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(target), reinterpret_cast<LPARAM>(remote));
    }
    VirtualFreeEx(process.get(), remote, 0, MEM_RELEASE);
    return written;
}

// The message box in which orvane-dialog.exe refuses its command line: of the process
// given, or (0) of any other process.
BOOL CALLBACK CollectProcessBox(HWND window, LPARAM param)
{
    auto* wanted = reinterpret_cast<std::pair<DWORD, HWND>*>(param);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    wchar_t title[64] = {};
    GetWindowTextW(window, title, static_cast<int>(std::size(title)));
    if ((wanted->first == 0 ? process != GetCurrentProcessId() : process == wanted->first) &&
        IsWindowVisible(window) && std::wstring(title) == L"Orvane - Change Icon") {
        wanted->second = window;
        return FALSE;
    }
    return TRUE;
}

HWND WaitRefusal(DWORD process, DWORD timeoutMs)
{
    std::pair<DWORD, HWND> box{process, nullptr};
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    do {
        EnumWindows(CollectProcessBox, reinterpret_cast<LPARAM>(&box));
        if (box.second == nullptr)
            Sleep(50);
    } while (box.second == nullptr && GetTickCount64() < end);
    return box.second;
}

// Why no dialog appeared when the program refused its command line instead; the
// refusal is answered, so that the program ends.
std::string RefusalSeen()
{
    HWND box = WaitRefusal(0, 0);
    if (box == nullptr)
        return "no message either";
    const std::string text = Utf8(DialogDriver::MessageText(box));
    DialogDriver::Answer(box, IDOK);
    return "orvane-dialog.exe refused: " + text;
}

// Presses a button of the dialog and expects it to close with no message on the way.
void PressAndExpectClosed(DialogDriver& d, int id)
{
    d.PostCommand(id, BN_CLICKED);
    const bool closed = d.WaitClosed(10000);
    for (HWND box : d.OtherWindows())
        ADD_FAILURE() << "unexpected message: " << Utf8(DialogDriver::MessageText(box));
    EXPECT_TRUE(closed) << "the dialog stayed open";
}

// Invoke on a folder, a file and a drive root (with names that need quoting) starts
// orvane-dialog.exe and returns while its dialog is open; the dialog is the Change Icon
// dialog on that path, and OK there writes the icon where the classic entry writes it:
// the folder's Desktop.ini, the file's entry in the per-file table with Orvane as the
// type's icon handler. The program is told the top-level window of Explorer's site
// (/near), which it opens over without being owned by it; without one, nothing.
TEST(ExplorerCommand, InvokeOpensTheDialogInAProcessOfItsOwn)
{
    KeyGuard machineProduct(HKEY_LOCAL_MACHINE, ProductRoot);
    KeyGuard userProduct(HKEY_CURRENT_USER, ProductRoot);
    ScratchType type{false};
    ASSERT_TRUE(WriteString(HKEY_CLASSES_ROOT, type.Extension, L"", type.Class));
    ASSERT_TRUE(WriteString(HKEY_CLASSES_ROOT, type.Class + L"\\DefaultIcon", L"", L"shell32.dll,4"));
    TempDir dir;
    const std::wstring folder = dir.MakeFolder(L"\u041F\u0440\u043E\u0435\u043A\u0442\u044B 2024");
    const std::wstring file = dir.MakeFile(L"\u5199\u771F a" + type.Extension);
    const std::wstring sibling = dir.MakeFile(L"b" + type.Extension);
    const std::wstring library = Shell32Path();

    // The sites Explorer may give: its window, a child of it, a site that only knows its
    // browser, one without a window.
    OwnerWindow explorer;
    const HWND view = CreateWindowExW(0, L"STATIC", L"view", WS_CHILD, 0, 0, 50, 50, explorer.get(), nullptr,
                                      nullptr, nullptr);
    ASSERT_NE(nullptr, view);
    TestSite topSite(explorer.get());
    TestSite viewSite(view);
    BrowserSite browserSite(&viewSite);
    TestSite windowless(nullptr);

    struct Row {
        std::wstring Path;
        std::wstring Headline;
        bool Change;
        const char* SiteKind;
        IUnknown* Site;
        HWND Near; // the window named to the program; null for none
    };
    const std::wstring start = L"if you press the OK Button,the Icon for ";
    const std::wstring driveHeadline = start + L"Drive 'C:\\' will be changed";
    const Row table[] = {
        {folder, start + L"Folder '" + folder.substr(folder.rfind(L'\\') + 1) + L"' will be changed", true, "no site",
         nullptr, nullptr},
        {file, start + L"File '" + file.substr(file.rfind(L'\\') + 1) + L"' will be changed", true, "Explorer's window",
         &topSite, explorer.get()},
        {L"C:\\", driveHeadline, false, "a child of it", &viewSite, explorer.get()},
        {L"C:\\", driveHeadline, false, "its browser's", &browserSite, explorer.get()},
        {L"C:\\", driveHeadline, false, "no window", &windowless, nullptr},
    };
    for (const Row& row : table) {
        SCOPED_TRACE(Utf8(row.Path) + ", site: " + row.SiteKind);
        ComPtr<IExplorerCommand> command = NewCommand();
        ASSERT_TRUE(command);
        if (row.Site != nullptr) {
            ComPtr<IObjectWithSite> withSite;
            ASSERT_EQ(S_OK, command.As(&withSite));
            ASSERT_EQ(S_OK, withSite->SetSite(row.Site));
        }
        ComPtr<IShellItemArray> items = ArrayFromPath(row.Path);
        ASSERT_TRUE(items);
        ASSERT_EQ(S_OK, command->Invoke(items.Get(), nullptr));
        // Invoke has returned: the dialog opens in another process, on a thread that is
        // not Explorer's.
        const OtherDialog shown = WaitOtherDialog(20000);
        ASSERT_NE(nullptr, shown.Window) << "no dialog appeared; " << RefusalSeen();
        OtherProcess process(shown.Process);
        ASSERT_NE(nullptr, process.get());
        EXPECT_NE(GetCurrentThreadId(), shown.Thread);
        // Over Explorer's top-level window, named to the program, never owned by it.
        const std::wstring commandLine = CommandLineOf(process.get());
        ASSERT_FALSE(commandLine.empty());
        if (row.Near != nullptr) {
            EXPECT_TRUE(Contains(commandLine, L" " + NearSwitch(row.Near) + L" \"")) << Utf8(commandLine);
        } else {
            EXPECT_FALSE(Contains(commandLine, L"/near")) << Utf8(commandLine);
        }
        EXPECT_EQ(nullptr, GetWindow(shown.Window, GW_OWNER));
        command.Reset();
        // The module is not kept loaded by the dialog.
        EXPECT_EQ(S_OK, ServerCanUnloadNow());

        DialogDriver d(shown.Thread);
        ASSERT_TRUE(d.Attach(5000));
        EXPECT_EQ(row.Headline, d.Text(IDC_HEADLINE));
        if (row.Change) {
            d.ChooseSource(d.ListSource(library));
            ASSERT_GT(d.IconCount(), 4);
            ASSERT_TRUE(PickIconInOtherProcess(process, d.Item(IDC_ICONLIST), 3));
            PressAndExpectClosed(d, IDOK);
        } else {
            PressAndExpectClosed(d, IDCANCEL);
        }
        // The program ends with its dialog.
        EXPECT_EQ(0, process.ExitCode(10000));
    }

    // The folder: its Desktop.ini names the icon, as the shell reads it.
    IconTarget folderTarget(folder.c_str());
    const auto& folderIcon = folderTarget.ReadCurrentIcon();
    ASSERT_TRUE(folderIcon.has_value());
    EXPECT_EQ(0, lstrcmpiW(library.c_str(), folderIcon->IconPath)) << Utf8(folderIcon->IconPath);
    EXPECT_EQ(3, folderIcon->Index);
    EXPECT_TRUE(Contains(DesktopIniText(folder + L"\\Desktop.ini"), L"IconResource=" + library + L",3"))
        << Utf8(DesktopIniText(folder + L"\\Desktop.ini"));
    // The file: an entry named by its exact path, and the icon handler answers it while its
    // sibling keeps the type's icon.
    EXPECT_TRUE(Contains(DumpKey(HKEY_LOCAL_MACHINE, FileIconsKeyPath), L"value [" + file + L"]"))
        << Utf8(DumpKey(HKEY_LOCAL_MACHINE, FileIconsKeyPath));
    EXPECT_EQ(ExtensionClsidText, ValueText(HKEY_CLASSES_ROOT, type.Class + L"\\shellex\\IconHandler"));
    const IconAnswer own = AskIconHandler(file);
    EXPECT_EQ(S_OK, own.Result);
    EXPECT_EQ(0, lstrcmpiW(library.c_str(), own.File.c_str())) << Utf8(own.File);
    EXPECT_EQ(3, own.Index);
    ExpectAnswer(AskIconHandler(sibling), L"shell32.dll", 4);
    EXPECT_EQ(S_OK, ServerCanUnloadNow());
}

// A selection of several items opens one dialog for all of them in the program's own
// process; the list of paths it is handed through the temporary folder is gone
// afterwards.
TEST(ExplorerCommand, InvokeOpensOneDialogForASelection)
{
    KeyGuard userProduct(HKEY_CURRENT_USER, ProductRoot);
    TempDir dir;
    dir.MakeFile(L"a.txt");
    dir.MakeFolder(L"sub folder");
    const auto selectionFiles = [] {
        wchar_t folder[MAX_PATH];
        GetTempPathW(MAX_PATH, folder);
        std::size_t n = 0;
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW((std::wstring(folder) + L"orv*.tmp").c_str(), &found);
        for (bool more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found))
            ++n;
        if (search != INVALID_HANDLE_VALUE)
            FindClose(search);
        return n;
    };
    const std::size_t before = selectionFiles();
    OwnerWindow explorer;
    TestSite site(explorer.get());
    ComPtr<IExplorerCommand> command = NewCommand();
    ASSERT_TRUE(command);
    ComPtr<IObjectWithSite> withSite;
    ASSERT_EQ(S_OK, command.As(&withSite));
    ASSERT_EQ(S_OK, withSite->SetSite(&site));
    ASSERT_EQ(S_OK,
              command->Invoke(ArrayFromDataObject(ShellDataObject(dir.Path(), {L"a.txt", L"sub folder"})).Get(), nullptr));
    const OtherDialog shown = WaitOtherDialog(20000);
    ASSERT_NE(nullptr, shown.Window) << "no dialog appeared; " << RefusalSeen();
    OtherProcess process(shown.Process);
    const std::wstring commandLine = CommandLineOf(process.get());
    EXPECT_TRUE(Contains(commandLine, L" " + NearSwitch(explorer.get()) + L" /selection \"")) << Utf8(commandLine);
    DialogDriver d(shown.Thread);
    ASSERT_TRUE(d.Attach(5000));
    EXPECT_EQ(L"if you press the OK Button,the Icon for 1 folder and 1 file will be changed", d.Text(IDC_HEADLINE));
    PressAndExpectClosed(d, IDCANCEL);
    EXPECT_EQ(0, process.ExitCode(10000));
    EXPECT_EQ(before, selectionFiles());
}

// What Explorer never offers (the command is hidden for it) is refused without starting
// anything.
TEST(ExplorerCommand, InvokeRefusesWhatItIsHiddenFor)
{
    TempDir dir;
    dir.MakeFile(L"a.txt");
    dir.MakeFile(L"b.txt");
    ComPtr<IExplorerCommand> command = NewCommand();
    ASSERT_TRUE(command);
    EXPECT_EQ(E_INVALIDARG, command->Invoke(nullptr, nullptr));
    EXPECT_EQ(E_INVALIDARG, command->Invoke(EmptyArray().Get(), nullptr));
    EXPECT_EQ(E_INVALIDARG, command->Invoke(ArrayOfSpecialFolder(CSIDL_DRIVES).Get(), nullptr));
    EXPECT_EQ(nullptr, WaitOtherDialog(1000).Window);
}

// A copy of the DLL without orvane-dialog.exe beside it: Invoke reports that the dialog
// could not be started, to the user in a message box owned by the site's window (or
// without an owner when the site has none) and to Explorer in its result.
TEST(ExplorerCommand, InvokeReportsAProgramThatDoesNotStart)
{
    TempDir dir;
    const std::wstring folder = dir.MakeFolder(L"target");
    const std::wstring copy = dir.Path() + L"\\orvane.dll";
    ASSERT_TRUE(CopyFileW(ServerDllPath().c_str(), copy.c_str(), TRUE));
    HMODULE module = LoadLibraryW(copy.c_str());
    ASSERT_NE(nullptr, module);
    auto getClassObject = reinterpret_cast<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
    auto canUnloadNow = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
    ASSERT_NE(nullptr, getClassObject);
    ASSERT_NE(nullptr, canUnloadNow);

    OwnerWindow owner;
    for (const bool withWindow : {true, false}) {
        SCOPED_TRACE(withWindow ? "site with a window" : "no site");
        TestSite site(owner.get());
        {
            ComPtr<IClassFactory> factory;
            ASSERT_EQ(S_OK, getClassObject(CLSID_ExplorerCommand, IID_IClassFactory, &factory));
            ComPtr<IExplorerCommand> command;
            ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IExplorerCommand, &command));
            if (withWindow) {
                ComPtr<IObjectWithSite> withSite;
                ASSERT_EQ(S_OK, command.As(&withSite));
                ASSERT_EQ(S_OK, withSite->SetSite(&site));
            }
            ComPtr<IShellItemArray> items = ArrayFromPath(folder);
            ASSERT_TRUE(items);

            // The message box runs on this thread, as it would on Explorer's; a second
            // thread reads and answers it.
            const DWORD self = GetCurrentThreadId();
            std::atomic<bool> done{false};
            HWND boxOwner = reinterpret_cast<HWND>(const_cast<void*>(Garbage));
            std::wstring boxText;
            std::thread user([&] {
                DialogDriver d(self);
                while (!done) {
                    HWND box = d.WaitWindow(L"Orvane - Dialog not opened", 200);
                    if (box != nullptr) {
                        boxOwner = GetWindow(box, GW_OWNER);
                        boxText = DialogDriver::MessageText(box);
                        DialogDriver::Answer(box, IDOK);
                        return;
                    }
                }
            });
            const HRESULT invoked = command->Invoke(items.Get(), nullptr);
            done = true;
            user.join();
            EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), invoked);
            EXPECT_EQ(withWindow ? owner.get() : nullptr, boxOwner);
            EXPECT_TRUE(Contains(boxText, folder)) << Utf8(boxText);
            EXPECT_TRUE(Contains(boxText, dir.Path() + L"\\orvane-dialog.exe")) << Utf8(boxText);
        }
        EXPECT_EQ(0, site.References());
    }
    EXPECT_EQ(S_OK, canUnloadNow());
    EXPECT_TRUE(FreeLibrary(module));
}

// orvane-dialog.exe refuses a command line that does not name exactly one existing path
// that fits, or whose /near is not a window's number alone, in a message box of its own
// (it has no console), and ends with exit code 2. A /selection names a list of paths that
// the program deletes once read, but only a list as the Explorer command writes it: a
// file directly in the temporary folder, of a list's name, holding paths one a line. Any
// other file named there (through "/" and "..", through a link, or plainly) keeps every
// byte.
TEST(DialogProgram, RefusesACommandLineWithoutOneExistingPath)
{
    TempDir dir;
    const std::wstring program = L"\"" + DialogProgramPath() + L"\"";
    const std::wstring quoted = L" \"" + dir.Path() + L"\"";
    const std::wstring usage = L"Usage: orvane-dialog.exe [/near HWND] PATH";
    wchar_t tempFolder[MAX_PATH] = {};
    ASSERT_NE(0u, GetTempPathW(MAX_PATH, tempFolder));
    const std::wstring temp = tempFolder;
    // Files made directly in the temporary folder go again however the program left them.
    struct MadeInTemp {
        std::vector<std::wstring> Paths;
        ~MadeInTemp()
        {
            for (const std::wstring& path : Paths)
                DeleteFileW(path.c_str());
        }
    } madeInTemp;
    const auto write = [](const std::wstring& path, const std::string& bytes) {
        HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD written = 0;
        EXPECT_TRUE(file != INVALID_HANDLE_VALUE && WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()),
                                                               &written, nullptr));
        CloseHandle(file);
        return path;
    };
    // A new name of a list's form, as the Explorer command takes one.
    const auto listName = [&] {
        wchar_t name[MAX_PATH] = {};
        EXPECT_NE(0u, GetTempFileNameW(temp.c_str(), L"orv", 0, name));
        DeleteFileW(name);
        madeInTemp.Paths.push_back(name);
        return std::wstring(name);
    };
    const auto listOf = [](const std::vector<std::wstring>& paths) {
        std::wstring text;
        for (const std::wstring& path : paths)
            text += path + L"\n";
        return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
    };
    // A list that would open the dialog, so that only where it lies or what it is called refuses it.
    const std::string usable = listOf({dir.Path()});
    const std::wstring victim = dir.MakeFile(L"victim.tmp", "data");
    // From the temporary folder up to the root and down again, with "/" alone.
    std::wstring traversal = temp + L"orv/../";
    for (wchar_t c : temp.substr(3))
        traversal += c == L'\\' ? L"../" : L"";
    for (wchar_t c : victim.substr(3))
        traversal += c == L'\\' ? L'/' : c;
    const std::wstring outside = dir.MakeFile(L"orv1A2B.tmp", usable);
    const std::wstring notListName = write(temp + UniqueName(L"") + L".tmp", usable);
    madeInTemp.Paths.push_back(notListName);
    const std::wstring noList = write(listName(), "data");
    const std::wstring goneItems = write(listName(), listOf({dir.Path() + L"\\gone", dir.Path() + L"\\gone too"}));
    const std::wstring elsewhere = dir.MakeFile(L"elsewhere\\orv5.tmp", usable);
    FolderLink linked(listName(), elsewhere);
    ASSERT_TRUE(linked.Made());
    const std::wstring linkedName = madeInTemp.Paths.back();
    madeInTemp.Paths.pop_back();
    const std::wstring secondName = listName();
    const std::wstring firstName = dir.MakeFile(L"elsewhere\\orv6.tmp", usable);
    ASSERT_TRUE(CreateHardLinkW(secondName.c_str(), firstName.c_str(), nullptr));
    const std::wstring notInTemp = L"does not lie in this user's temporary folder";
    struct Kept {
        std::wstring Path;
        std::string Bytes;
    };
    struct Row {
        const char* Label;
        std::wstring Arguments;
        std::wstring Told;
        std::vector<Kept> Keeps = {};
        std::wstring Deletes = L"";
    };
    const Row table[] = {
        {"no path", L"", usage},
        {"two paths", quoted + L" \"C:\\\\\"", usage},
        {"near: text", L" /near window" + quoted, usage},
        {"near: 0x before the digits", L" /near 0x1A" + quoted, usage},
        {"near: a sign", L" /near -1A" + quoted, usage},
        {"near: 17 digits", L" /near 10000000000000000" + quoted, usage},
        {"near: empty", L" /near \"\"" + quoted, usage},
        {"near alone", L" /near", usage},
        {"near without a path", L" /near 1A", usage},
        {"near twice", L" /near 1A /near 1A" + quoted, usage},
        {"near after the path", quoted + L" /near 1A", usage},
        {"near, then a selection file missing", L" /near 1A /selection \"" + dir.Path() + L"\\orv1.tmp\"",
         L"cannot be read"},
        {"missing path", L" \"" + dir.Path() + L"\\missing\"", dir.Path() + L"\\missing"},
        {"path too long", L" \"" + dir.Path() + L"\\" + std::wstring(260, L'a') + L"\"", L"259 characters"},
        {"selection file missing", L" /selection \"" + dir.Path() + L"\\orv1.tmp\"", L"cannot be read"},
        {"selection naming nothing", L" /selection \"" + dir.MakeFile(L"list.txt", "x") + L"\"", L"cannot be read"},
        {"a list's name that leads out of the temporary folder", L" /selection \"" + traversal + L"\"", notInTemp,
         {{victim, "data"}}},
        {"a list outside the temporary folder", L" /selection \"" + outside + L"\"", notInTemp, {{outside, usable}}},
        {"a link of a list's name to a list outside", L" /selection \"" + linkedName + L"\"", notInTemp,
         {{linkedName, usable}, {elsewhere, usable}}},
        {"a second name of a list outside", L" /selection \"" + secondName + L"\"", L"another name",
         {{secondName, usable}, {firstName, usable}}},
        {"a list in the temporary folder without a list's name", L" /selection \"" + notListName + L"\"",
         L"Its name is not", {{notListName, usable}}},
        {"a list's name over bytes that are no list", L" /selection \"" + noList + L"\"", L"paths one a line",
         {{noList, "data"}}},
        {"a list whose items are gone", L" /selection \"" + goneItems + L"\"", L"exists any more", {}, goneItems},
    };
    for (const Row& row : table) {
        SCOPED_TRACE(row.Label);
        std::wstring line = program + row.Arguments;
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION started = {};
        ASSERT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                   &started));
        CloseHandle(started.hThread);
        OtherProcess process(started.hProcess);
        HWND box = WaitRefusal(started.dwProcessId, 20000);
        ASSERT_NE(nullptr, box) << "no message";
        const std::wstring told = DialogDriver::MessageText(box);
        EXPECT_TRUE(Contains(told, row.Told)) << Utf8(told);
        DialogDriver::Answer(box, IDOK);
        EXPECT_EQ(2, process.ExitCode(10000));
        for (const Kept& kept : row.Keeps)
            EXPECT_EQ(kept.Bytes, ReadFileText(kept.Path)) << Utf8(kept.Path);
        if (!row.Deletes.empty()) {
            EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(row.Deletes.c_str())) << Utf8(row.Deletes);
        }
    }
}

// orvane-dialog.exe asks to be per-monitor DPI aware (v2, else v1) where the system reads
// it: its embedded manifest, as the loader's activation context answers for the process.
// Wine 8 reports the same awareness for every window, so the dialog's own cannot tell.
TEST(DialogProgram, ManifestAsksForPerMonitorAwareness)
{
    const std::wstring program = DialogProgramPath();
    ACTCTXW request{};
    request.cbSize = sizeof request;
    request.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
    request.lpSource = program.c_str();
    request.lpResourceName = CREATEPROCESS_MANIFEST_RESOURCE_ID;
    HANDLE context = CreateActCtxW(&request);
    ASSERT_NE(INVALID_HANDLE_VALUE, context) << GetLastError();
    struct Row {
        const wchar_t* Namespace;
        const wchar_t* Name;
        std::wstring Expected;
    };
    const Row table[] = {
        {L"http://schemas.microsoft.com/SMI/2016/WindowsSettings", L"dpiAwareness", L"PerMonitorV2, PerMonitor"},
        {L"http://schemas.microsoft.com/SMI/2005/WindowsSettings", L"dpiAware", L"true/pm"},
    };
    for (const Row& row : table) {
        SCOPED_TRACE(Utf8(row.Name));
        wchar_t value[64] = {};
        SIZE_T written = 0;
        ASSERT_TRUE(QueryActCtxSettingsW(0, context, row.Namespace, row.Name, value, std::size(value), &written))
            << GetLastError();
        EXPECT_EQ(row.Expected, value);
    }
    ReleaseActCtx(context);
}

// orvane-dialog.exe /near HWND PATH opens its dialog centred on the work area of that
// window's monitor, without being owned by it (a window of another process). A number
// that names no window is no reason to refuse: the dialog opens under the pointer.
TEST(DialogProgram, OpensOverTheNearWindowWithoutBeingOwnedByIt)
{
    KeyGuard userProduct(HKEY_CURRENT_USER, ProductRoot);
    // No rectangle recorded from an earlier OK: the dialog is centred.
    RegDeleteKeyValueW(HKEY_CURRENT_USER, (std::wstring(ProductRoot) + L"\\Orvane").c_str(), L"DlgSize");
    TempDir dir;
    const std::wstring folder = dir.MakeFolder(L"target");
    OwnerWindow explorer;
    ASSERT_NE(nullptr, explorer.get());
    HWND gone = nullptr;
    {
        OwnerWindow closed;
        gone = closed.get();
    }
    ASSERT_FALSE(IsWindow(gone));
    POINT pointer{};
    GetCursorPos(&pointer);

    struct Row {
        const char* Label;
        HWND Near;
        HMONITOR Monitor;
    };
    const Row table[] = {
        {"a window of another process", explorer.get(), MonitorFromWindow(explorer.get(), MONITOR_DEFAULTTONEAREST)},
        {"a number that names no window", gone, MonitorFromPoint(pointer, MONITOR_DEFAULTTONEAREST)},
    };
    for (const Row& row : table) {
        SCOPED_TRACE(row.Label);
        std::wstring line = L"\"" + DialogProgramPath() + L"\" " + NearSwitch(row.Near) + L" \"" + folder + L"\"";
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION started = {};
        ASSERT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                   &started));
        CloseHandle(started.hThread);
        OtherProcess process(started.hProcess);
        const OtherDialog shown = WaitOtherDialog(20000);
        ASSERT_NE(nullptr, shown.Window) << "no dialog appeared; " << RefusalSeen();
        EXPECT_EQ(started.dwProcessId, shown.Process);
        EXPECT_EQ(nullptr, GetWindow(shown.Window, GW_OWNER));

        MONITORINFO monitor{};
        monitor.cbSize = sizeof monitor;
        ASSERT_TRUE(GetMonitorInfoW(row.Monitor, &monitor));
        const RECT& work = monitor.rcWork;
        RECT placed{};
        ASSERT_TRUE(GetWindowRect(shown.Window, &placed));
        EXPECT_TRUE(placed.left >= work.left && placed.top >= work.top && placed.right <= work.right &&
                    placed.bottom <= work.bottom);
        EXPECT_LE(std::abs((placed.left + placed.right) - (work.left + work.right)), 1);
        EXPECT_LE(std::abs((placed.top + placed.bottom) - (work.top + work.bottom)), 1);

        DialogDriver d(shown.Thread);
        ASSERT_TRUE(d.Attach(5000));
        PressAndExpectClosed(d, IDCANCEL);
        EXPECT_EQ(0, process.ExitCode(10000));
    }
}

} // namespace
} // namespace orvane::test
