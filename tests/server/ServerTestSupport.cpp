#include "ServerTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <iterator>
#include <ostream>

#include "ExtensionIdentity.h"

namespace orvane::test {

namespace {

// The build writes the paths in UTF-8.
std::wstring WindowsPathOf(const char* builtPath)
{
    std::wstring path = FromUtf8(builtPath);
    for (wchar_t& c : path) {
        if (c == L'/')
            c = L'\\';
    }
    // Wine shows the Unix root as drive Z:.
    if (!path.empty() && path[0] == L'\\')
        path = L"Z:" + path;
    return path;
}

// The whole program runs with the server registered by regsvr32, as an installation
// leaves it, and puts every key back when it ends.
class RegisteredServer : public testing::Environment {
public:
    void SetUp() override
    {
        CoInitialize(nullptr);
        guards_ = std::make_unique<RegistrationGuards>();
        ASSERT_EQ(0, RunRegsvr32(L"/s", ServerDllPath())) << Utf8(ServerDllPath());
    }
    void TearDown() override
    {
        CoFreeUnusedLibraries();
        guards_.reset();
        CoUninitialize();
    }

private:
    std::unique_ptr<RegistrationGuards> guards_;
};

const bool g_registered = (testing::AddGlobalTestEnvironment(new RegisteredServer), true);

} // namespace

const std::wstring& ServerDllPath()
{
    static const std::wstring path = WindowsPathOf(ORVANE_DLL);
    return path;
}

const std::wstring& PreviousHandlerDllPath()
{
    static const std::wstring path = WindowsPathOf(PREVIOUS_HANDLER_DLL);
    return path;
}

int RunProgram(const std::wstring& commandLine)
{
    // CreateProcessW may write into the command line it is given.
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return -1;
    WaitForSingleObject(process.hProcess, 120000);
    DWORD code = static_cast<DWORD>(-1);
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
}

int RunRegsvr32(const wchar_t* options, const std::wstring& dllPath)
{
    return RunProgram(std::wstring(L"regsvr32.exe ") + options + L" \"" + dllPath + L"\"");
}

std::string Ansi(const std::wstring& text)
{
    const int length = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string ansi(static_cast<std::size_t>(length > 0 ? length : 1), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, ansi.data(), length, nullptr, nullptr);
    ansi.resize(ansi.size() - 1);
    return ansi;
}

std::wstring FromAnsi(const std::string& text)
{
    const int length = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length > 0 ? length : 1), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), length);
    wide.resize(wide.size() - 1);
    return wide;
}

std::unique_ptr<KeyGuard> GuardKeyPath(HKEY root, const std::wstring& path)
{
    std::size_t end = 0;
    while (end != std::wstring::npos) {
        end = path.find(L'\\', end + 1);
        const std::wstring prefix = path.substr(0, end);
        if (!KeyExists(root, prefix))
            return std::make_unique<KeyGuard>(root, prefix);
    }
    return std::make_unique<KeyGuard>(root, path);
}

RegistrationGuards::RegistrationGuards()
{
    guards_.push_back(GuardKeyPath(HKEY_CLASSES_ROOT, ClassKeyPath));
    guards_.push_back(GuardKeyPath(HKEY_CLASSES_ROOT, CommandClassKeyPath));
    for (const wchar_t* path : HandlerKeyPaths)
        guards_.push_back(GuardKeyPath(HKEY_CLASSES_ROOT, path));
    guards_.push_back(GuardKeyPath(HKEY_LOCAL_MACHINE, ApprovedKeyPath));
}

HRESULT CreateExtension(REFIID riid, void** ppv)
{
    return CoCreateInstance(CLSID_ShellIconExtension, nullptr, CLSCTX_INPROC_SERVER, riid, ppv);
}

HRESULT CreateExplorerCommand(REFIID riid, void** ppv)
{
    return CoCreateInstance(CLSID_ExplorerCommand, nullptr, CLSCTX_INPROC_SERVER, riid, ppv);
}

ComPtr<IDataObject> ShellDataObject(const std::wstring& path)
{
    ComPtr<IDataObject> data;
    PIDLIST_ABSOLUTE pidl = nullptr;
    if (FAILED(SHParseDisplayName(path.c_str(), nullptr, &pidl, 0, nullptr)))
        return data;
    ComPtr<IShellFolder> parent;
    PCUITEMID_CHILD child = nullptr;
    if (SUCCEEDED(SHBindToParent(pidl, IID_IShellFolder, &parent, &child)))
        parent->GetUIObjectOf(nullptr, 1, &child, IID_IDataObject, nullptr, &data);
    CoTaskMemFree(pidl);
    return data;
}

ComPtr<IDataObject> ShellDataObject(const std::wstring& folder, const std::vector<std::wstring>& names)
{
    ComPtr<IDataObject> data;
    PIDLIST_ABSOLUTE folderPidl = nullptr;
    if (FAILED(SHParseDisplayName(folder.c_str(), nullptr, &folderPidl, 0, nullptr)))
        return data;
    ComPtr<IShellFolder> desktop;
    ComPtr<IShellFolder> shellFolder;
    SHGetDesktopFolder(&desktop);
    if (desktop && SUCCEEDED(desktop->BindToObject(folderPidl, nullptr, IID_IShellFolder, &shellFolder))) {
        std::vector<PITEMID_CHILD> children;
        for (const std::wstring& name : names) {
            // ParseDisplayName takes a writable name.
            std::wstring writable = name;
            PIDLIST_RELATIVE child = nullptr;
            if (SUCCEEDED(shellFolder->ParseDisplayName(nullptr, nullptr, writable.data(), nullptr, &child, nullptr)))
                children.push_back(reinterpret_cast<PITEMID_CHILD>(child));
        }
        if (children.size() == names.size())
            shellFolder->GetUIObjectOf(nullptr, static_cast<UINT>(children.size()),
                                       const_cast<PCUITEMID_CHILD_ARRAY>(children.data()), IID_IDataObject,
                                       nullptr, &data);
        for (PITEMID_CHILD child : children)
            CoTaskMemFree(child);
    }
    CoTaskMemFree(folderPidl);
    return data;
}

// Frees a medium's memory when ReleaseStgMedium releases it, and counts that.
class TestDataObject::MediumOwner final : public IUnknown {
public:
    MediumOwner(HGLOBAL memory, volatile LONG* released) : memory_(memory), released_(released) {}
    IFACEMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown))
            return E_NOINTERFACE;
        *ppv = this;
        AddRef();
        return S_OK;
    }
    IFACEMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refs_); }
    IFACEMETHODIMP_(ULONG) Release() override
    {
        const LONG left = InterlockedDecrement(&refs_);
        if (left == 0) {
            GlobalFree(memory_);
            InterlockedIncrement(released_);
            delete this;
        }
        return left;
    }

private:
    HGLOBAL memory_;
    volatile LONG* released_;
    volatile LONG refs_ = 1;
};

TestDataObject::TestDataObject(std::vector<std::wstring> paths, bool offerDrop, DropText text)
    : paths_(std::move(paths)), offerDrop_(offerDrop), text_(text)
{
}

TestDataObject::~TestDataObject()
{
    EXPECT_EQ(0, refs_) << "a reference on the data object was not released";
    EXPECT_EQ(mediaOut_, mediaReleased_) << "a medium was not released";
}

IFACEMETHODIMP TestDataObject::QueryInterface(REFIID riid, void** ppv)
{
    if (ppv == nullptr)
        return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IDataObject))
        return E_NOINTERFACE;
    *ppv = static_cast<IDataObject*>(this);
    AddRef();
    return S_OK;
}

IFACEMETHODIMP_(ULONG) TestDataObject::AddRef() { return InterlockedIncrement(&refs_); }
IFACEMETHODIMP_(ULONG) TestDataObject::Release() { return InterlockedDecrement(&refs_); }

IFACEMETHODIMP TestDataObject::QueryGetData(FORMATETC* format)
{
    if (!offerDrop_ || format == nullptr || format->cfFormat != CF_HDROP || (format->tymed & TYMED_HGLOBAL) == 0)
        return DV_E_FORMATETC;
    return S_OK;
}

IFACEMETHODIMP TestDataObject::GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out)
{
    if (out != nullptr)
        out->ptd = nullptr;
    return E_NOTIMPL;
}

IFACEMETHODIMP TestDataObject::GetData(FORMATETC* format, STGMEDIUM* medium)
{
    if (format == nullptr || medium == nullptr)
        return E_INVALIDARG;
    if (QueryGetData(format) != S_OK)
        return DV_E_FORMATETC;
    // The paths one after the other, each terminated, and one more zero after the last.
    std::vector<BYTE> list;
    for (const std::wstring& path : paths_) {
        if (text_ == DropText::Wide) {
            const auto* bytes = reinterpret_cast<const BYTE*>(path.c_str());
            list.insert(list.end(), bytes, bytes + (path.size() + 1) * sizeof(wchar_t));
        } else {
            const std::string ansi = Ansi(path);
            list.insert(list.end(), ansi.c_str(), ansi.c_str() + ansi.size() + 1);
        }
    }
    list.resize(list.size() + (text_ == DropText::Wide ? sizeof(wchar_t) : 1), 0);
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(DROPFILES) + list.size());
    if (memory == nullptr)
        return E_OUTOFMEMORY;
    auto* drop = static_cast<DROPFILES*>(GlobalLock(memory));
    drop->pFiles = sizeof(DROPFILES);
    drop->fWide = text_ == DropText::Wide;
    std::memcpy(drop + 1, list.data(), list.size());
    GlobalUnlock(memory);
    medium->tymed = TYMED_HGLOBAL;
    medium->hGlobal = memory;
    medium->pUnkForRelease = new MediumOwner(memory, &mediaReleased_);
    InterlockedIncrement(&mediaOut_);
    return S_OK;
}

std::vector<MenuEntry> ReadMenu(HMENU menu)
{
    std::vector<MenuEntry> entries;
    const int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        MenuEntry entry;
        wchar_t text[256] = {};
        MENUITEMINFOW info = {};
        info.cbSize = sizeof info;
        info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STRING;
        info.dwTypeData = text;
        info.cch = static_cast<UINT>(std::size(text));
        GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &info);
        entry.Type = info.fType;
        entry.Id = info.wID;
        entry.Text = text;
        // The same item read back through the older calls.
        wchar_t again[256] = {};
        GetMenuStringW(menu, static_cast<UINT>(i), again, static_cast<int>(std::size(again)), MF_BYPOSITION);
        EXPECT_EQ(entry.Text, again);
        if ((entry.Type & MFT_SEPARATOR) == 0) {
            EXPECT_EQ(entry.Id, GetMenuItemID(menu, i));
        }
        entries.push_back(entry);
    }
    return entries;
}

void PrintTo(const MenuEntry& entry, std::ostream* os)
{
    *os << "{type " << entry.Type << ", id " << entry.Id << ", \"" << Utf8(entry.Text) << "\"}";
}

PopupMenu::PopupMenu(int count) : menu_(CreatePopupMenu())
{
    for (int i = 0; i < count; ++i)
        AppendMenuW(menu_, MF_STRING, static_cast<UINT_PTR>(i + 1), (L"Item " + std::to_wstring(i)).c_str());
}

PopupMenu::~PopupMenu() { DestroyMenu(menu_); }

IconAnswer AskIconHandler(const std::wstring& path, UINT flags, IconInterface through, std::optional<UINT> outFlags)
{
    IconAnswer answer;
    ComPtr<IPersistFile> persist;
    answer.Result = CreateExtension(IID_IPersistFile, &persist);
    if (FAILED(answer.Result))
        return answer;
    answer.Result = persist->Load(path.c_str(), STGM_READ);
    if (FAILED(answer.Result))
        return answer;
    answer.OutFlags = outFlags.value_or(0);
    UINT* iconFlags = outFlags ? &answer.OutFlags : nullptr;
    if (through == IconInterface::Wide) {
        ComPtr<IExtractIconW> extract;
        answer.Result = persist->QueryInterface(IID_IExtractIconW, &extract);
        if (FAILED(answer.Result))
            return answer;
        wchar_t file[MAX_PATH] = {};
        answer.Result = extract->GetIconLocation(flags, file, MAX_PATH, &answer.Index, iconFlags);
        answer.File = file;
    } else {
        ComPtr<IExtractIconA> extract;
        answer.Result = persist->QueryInterface(IID_IExtractIconA, &extract);
        if (FAILED(answer.Result))
            return answer;
        char file[MAX_PATH] = {};
        answer.Result = extract->GetIconLocation(flags, file, MAX_PATH, &answer.Index, iconFlags);
        answer.File = FromAnsi(file);
    }
    return answer;
}

HRESULT ServerCanUnloadNow()
{
    HMODULE module = GetModuleHandleW(ServerDllPath().c_str());
    if (module == nullptr)
        return E_UNEXPECTED; // not loaded: nothing to ask
    auto canUnload = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
    return canUnload != nullptr ? canUnload() : E_FAIL;
}

void LoadedServerTest::SetUp()
{
    module_ = LoadLibraryW(ServerDllPath().c_str());
    ASSERT_NE(nullptr, module_);
    getClassObject_ = reinterpret_cast<GetClassObjectFunction>(
        reinterpret_cast<void*>(GetProcAddress(module_, "DllGetClassObject")));
    canUnloadNow_ = reinterpret_cast<CanUnloadNowFunction>(
        reinterpret_cast<void*>(GetProcAddress(module_, "DllCanUnloadNow")));
    ASSERT_NE(nullptr, getClassObject_);
    ASSERT_NE(nullptr, canUnloadNow_);
    ASSERT_EQ(S_OK, canUnloadNow_()) << "an object of the module is alive before the test";
}

void LoadedServerTest::TearDown()
{
    if (canUnloadNow_ != nullptr) {
        EXPECT_EQ(S_OK, canUnloadNow_()) << "an object of the module is still alive";
    }
    if (module_ != nullptr)
        FreeLibrary(module_);
}

void ExpectAnswer(const IconAnswer& answer, const std::wstring& file, int index)
{
    EXPECT_EQ(S_OK, answer.Result);
    EXPECT_EQ(file, answer.File);
    EXPECT_EQ(index, answer.Index);
}

void LoadIconHandler(const std::wstring& path, ComPtr<IPersistFile>& persist, ComPtr<IExtractIconW>& extract)
{
    ASSERT_EQ(S_OK, CreateExtension(IID_IPersistFile, &persist));
    ASSERT_EQ(S_OK, persist->Load(path.c_str(), STGM_READ));
    ASSERT_EQ(S_OK, persist->QueryInterface(IID_IExtractIconW, &extract));
}

void LoadIconHandler(const std::wstring& path, ComPtr<IPersistFile>& persist, ComPtr<IExtractIconA>& extract)
{
    ASSERT_EQ(S_OK, CreateExtension(IID_IPersistFile, &persist));
    ASSERT_EQ(S_OK, persist->Load(path.c_str(), STGM_READ));
    ASSERT_EQ(S_OK, persist->QueryInterface(IID_IExtractIconA, &extract));
}

void IconHandlerTest::RegisterClass(const wchar_t* defaultIcon)
{
    ASSERT_TRUE(WriteString(HKEY_CLASSES_ROOT, extension_, L"", className_));
    if (defaultIcon != nullptr) {
        ASSERT_TRUE(WriteString(HKEY_CLASSES_ROOT, className_ + L"\\DefaultIcon", L"", defaultIcon));
    }
}

void IconHandlerTest::InstallHandler(const wchar_t* iconBeforeInstalling)
{
    RegisterClass(L"%1");
    ASSERT_TRUE(WriteString(HKEY_CLASSES_ROOT, className_ + L"\\DefaultIconBAK", L"", iconBeforeInstalling));
    ASSERT_TRUE(WriteString(HKEY_CLASSES_ROOT, className_ + L"\\shellex\\IconHandler", L"", ExtensionClsidText));
}

void IconHandlerTest::WriteTableEntry(const std::wstring& file, const std::wstring& data)
{
    ASSERT_TRUE(WriteString(HKEY_LOCAL_MACHINE, FileIconsKeyPath, file.c_str(), data));
}

} // namespace orvane::test
