#include "ExplorerCommand.h"

#include <shlguid.h>
#include <shlwapi.h>

#include <cstdint>
#include <cstring>
#include <cwchar>
#include <iterator>
#include <string>
#include <vector>

#include <wrl/client.h>

#include "DialogCommandLine.h"
#include "ExtensionIdentity.h"
#include "IconLocation.h"
#include "ManyTargets.h"
#include "MenuText.h"
#include "ModuleInstance.h"
#include "PathText.h"
#include "SelectionList.h"
#include "resource.h"

namespace orvane {

namespace {

using Microsoft::WRL::ComPtr;

constexpr wchar_t StartFailedCaption[] = L"Orvane - Dialog not opened";

// A copy of text in memory from CoTaskMemAlloc, which the caller frees: how
// IExplorerCommand hands out its texts.
HRESULT DuplicateText(const wchar_t* text, LPWSTR* out)
{
    if (out == nullptr)
        return E_POINTER;
    *out = nullptr;
    const std::size_t bytes = (std::wcslen(text) + 1) * sizeof(wchar_t);
    auto* copy = static_cast<wchar_t*>(CoTaskMemAlloc(bytes));
    if (copy == nullptr)
        return E_OUTOFMEMORY;
    std::memcpy(copy, text, bytes);
    *out = copy;
    return S_OK;
}

// One selected item's file-system path, as the classic entry gets it from CF_HDROP: a
// folder, a file or a drive root. False for an item the shell keeps outside the file
// system (Control Panel, a library, an item inside an archive) and a path that does not
// fit. Only what the item's ID list already holds is read: the attributes asked for are
// the ones the shell answers from it, and the parsing path is made from it, so a slow
// network share is never touched.
bool ItemPath(IShellItem* item, wchar_t (&path)[TextCapacity])
{
    path[0] = L'\0';
    SFGAOF attributes = 0;
    if (item == nullptr || FAILED(item->GetAttributes(SFGAO_FILESYSTEM | SFGAO_FOLDER | SFGAO_STREAM, &attributes)))
        return false;
    if ((attributes & SFGAO_FILESYSTEM) == 0 || (attributes & (SFGAO_FOLDER | SFGAO_STREAM)) == 0)
        return false;
    PWSTR name = nullptr;
    if (FAILED(item->GetDisplayName(SIGDN_FILESYSPATH, &name)) || name == nullptr)
        return false;
    // A path that does not fit is left out rather than cut into the name of another item.
    const bool copied = name[0] != L'\0' && std::wcslen(name) < std::size(path) && CopyText(path, std::size(path), name);
    CoTaskMemFree(name);
    if (!copied)
        path[0] = L'\0';
    return copied;
}

// The selection's paths: one to SelectionLimit items, every one of them a file-system
// item whose path fits (the classic entry's selections); false for anything else.
bool ReadSelection(IShellItemArray* items, std::vector<std::wstring>& paths)
{
    paths.clear();
    DWORD count = 0;
    if (items == nullptr || FAILED(items->GetCount(&count)) || count == 0 || count > SelectionLimit)
        return false;
    paths.reserve(count);
    for (DWORD i = 0; i < count; ++i) {
        ComPtr<IShellItem> item;
        wchar_t path[TextCapacity];
        if (FAILED(items->GetItemAt(i, &item)) || !ItemPath(item.Get(), path)) {
            paths.clear();
            return false;
        }
        paths.emplace_back(path);
    }
    return true;
}

// Whether the command serves the selection, answered without reading every item: one
// item as ReadSelection reads it, several when the array says every one of them is a
// file-system item (a single question, which the array answers from its ID lists).
// Invoke reads each path and refuses what turns out not to serve.
bool MayServe(IShellItemArray* items)
{
    DWORD count = 0;
    if (items == nullptr || FAILED(items->GetCount(&count)) || count == 0 || count > SelectionLimit)
        return false;
    if (count == 1) {
        std::vector<std::wstring> paths;
        return ReadSelection(items, paths);
    }
    SFGAOF attributes = 0;
    return SUCCEEDED(items->GetAttributes(SIATTRIBFLAGS_AND, SFGAO_FILESYSTEM, &attributes)) &&
           (attributes & SFGAO_FILESYSTEM) != 0;
}

// The full path of this module (not of the program that loaded it).
bool ModulePath(wchar_t (&path)[MAX_PATH])
{
    // A path that fills the buffer has been cut to fit.
    const DWORD length = GetModuleFileNameW(ModuleInstance(), path, static_cast<DWORD>(std::size(path)));
    return length > 0 && length < std::size(path);
}

// orvane-dialog.exe in the folder of this module.
bool DialogProgramPath(wchar_t (&program)[MAX_PATH])
{
    if (!ModulePath(program))
        return false;
    wchar_t* name = std::wcsrchr(program, L'\\');
    if (name == nullptr)
        return false;
    std::size_t at = static_cast<std::size_t>(name + 1 - program);
    return AppendText(program, std::size(program), at, DialogProgramName, std::size(DialogProgramName) - 1);
}

// The top-level window of Explorer's that the command was invoked from: the site's own
// window (IOleWindow, or what IUnknown_GetWindow finds besides), else the window of the
// browser that hosts the site; null when the site has none. The dialog opens over it.
HWND SiteWindow(IUnknown* site)
{
    if (site == nullptr)
        return nullptr;
    HWND window = nullptr;
    if (FAILED(IUnknown_GetWindow(site, &window)) || window == nullptr) {
        window = nullptr;
        ComPtr<IOleWindow> browser;
        if (FAILED(IUnknown_QueryService(site, SID_STopLevelBrowser, IID_PPV_ARGS(&browser))) || !browser ||
            FAILED(browser->GetWindow(&window)))
            window = nullptr;
    }
    if (window == nullptr || !IsWindow(window))
        return nullptr;
    const HWND root = GetAncestor(window, GA_ROOT);
    return root != nullptr ? root : window;
}

// Starts `program [/near HWND] "path"` (or `program [/near HWND] /selection "file"`) and
// does not wait for it: the program opens its dialog over `window` (a window of
// Explorer's, which a handle names alike in every process of the session) without
// being owned by it. ERROR_SUCCESS, or why it did not start.
DWORD StartDialogProgram(const wchar_t* program, const wchar_t* path, HWND window, bool selection = false)
{
    DialogArguments arguments;
    arguments.NearWindow = reinterpret_cast<std::uintptr_t>(window);
    arguments.Selection = selection;
    arguments.Path = path;
    wchar_t commandLine[DialogCommandLineCapacity];
    if (!WriteDialogCommandLine(program, arguments, commandLine, std::size(commandLine)))
        return ERROR_FILENAME_EXCED_RANGE;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(program, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        const DWORD error = GetLastError();
        return error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE;
    }
    // Explorer holds the foreground while its menu runs: the dialog may take it.
    AllowSetForegroundWindow(process.dwProcessId);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return ERROR_SUCCESS;
}

} // namespace

ExplorerCommand::~ExplorerCommand()
{
    if (site_ != nullptr)
        site_->Release();
}

IFACEMETHODIMP ExplorerCommand::QueryInterface(REFIID riid, void** ppv)
{
    static const InterfaceEntry<ExplorerCommand> interfaces[] = {
        Entry<ExplorerCommand, IExplorerCommand>(IID_IExplorerCommand),
        Entry<ExplorerCommand, IObjectWithSite>(IID_IObjectWithSite),
    };
    return QueryTable(this, interfaces, riid, ppv);
}

IFACEMETHODIMP ExplorerCommand::GetTitle(IShellItemArray*, LPWSTR* name)
{
    return GuardedCall([&] { return DuplicateText(MenuText, name); });
}

IFACEMETHODIMP ExplorerCommand::GetToolTip(IShellItemArray*, LPWSTR* infoTip)
{
    return GuardedCall([&] { return DuplicateText(HelpText, infoTip); });
}

// The module's own icon as "path,-id": a negative index names the icon resource by id.
IFACEMETHODIMP ExplorerCommand::GetIcon(IShellItemArray*, LPWSTR* icon)
{
    return GuardedCall([&]() -> HRESULT {
        if (icon == nullptr)
            return E_POINTER;
        *icon = nullptr;
        wchar_t path[MAX_PATH];
        if (!ModulePath(path))
            return E_FAIL;
        wchar_t location[MAX_PATH + 16];
        if (std::swprintf(location, std::size(location), L"%ls,-%d", path, IDI_ORVANE) < 0)
            return E_FAIL;
        return DuplicateText(location, icon);
    });
}

IFACEMETHODIMP ExplorerCommand::GetCanonicalName(GUID* name)
{
    if (name == nullptr)
        return E_POINTER;
    *name = ExplorerCommandCanonicalName;
    return S_OK;
}

// Explorer asks on its UI thread for every menu it builds: the answer comes from the
// item's ID list alone, at once, whether or not it may be slow.
IFACEMETHODIMP ExplorerCommand::GetState(IShellItemArray* items, BOOL, EXPCMDSTATE* state)
{
    if (state == nullptr)
        return E_POINTER;
    *state = ECS_HIDDEN;
    return GuardedCall([&]() -> HRESULT {
        if (MayServe(items))
            *state = ECS_ENABLED;
        return S_OK;
    });
}

// The dialog runs in a process of its own: Explorer's thread returns at once, no console
// appears (the program has none), and the module can unload while the dialog is open.
// A program that does not start is reported to the user and in the result. Several items
// go to it as a list in the temporary folder, which it deletes once read; a list whose
// program did not start is deleted here.
IFACEMETHODIMP ExplorerCommand::Invoke(IShellItemArray* items, IBindCtx*)
{
    return GuardedCall([&]() -> HRESULT {
        std::vector<std::wstring> paths;
        if (!ReadSelection(items, paths))
            return E_INVALIDARG;
        wchar_t program[MAX_PATH] = {};
        wchar_t list[MAX_PATH] = {};
        DWORD error = ERROR_FILENAME_EXCED_RANGE;
        const HWND window = SiteWindow(site_);
        if (!DialogProgramPath(program))
            program[0] = L'\0';
        else if (paths.size() == 1)
            error = StartDialogProgram(program, paths.front().c_str(), window);
        else if ((error = WriteSelectionList(paths, list)) == ERROR_SUCCESS &&
                 (error = StartDialogProgram(program, list, window, true)) != ERROR_SUCCESS)
            DeleteFileW(list);
        if (error == ERROR_SUCCESS)
            return S_OK;
        ReportStartFailure(paths.front().c_str(), program, error);
        return HRESULT_FROM_WIN32(error);
    });
}

IFACEMETHODIMP ExplorerCommand::GetFlags(EXPCMDFLAGS* flags)
{
    if (flags == nullptr)
        return E_POINTER;
    *flags = ECF_DEFAULT;
    return S_OK;
}

IFACEMETHODIMP ExplorerCommand::EnumSubCommands(IEnumExplorerCommand** commands)
{
    if (commands != nullptr)
        *commands = nullptr;
    return E_NOTIMPL;
}

IFACEMETHODIMP ExplorerCommand::SetSite(IUnknown* site)
{
    if (site != nullptr)
        site->AddRef();
    IUnknown* previous = site_;
    site_ = site;
    if (previous != nullptr)
        previous->Release();
    return S_OK;
}

IFACEMETHODIMP ExplorerCommand::GetSite(REFIID riid, void** ppv)
{
    if (ppv == nullptr)
        return E_POINTER;
    *ppv = nullptr;
    if (site_ == nullptr)
        return E_FAIL;
    return site_->QueryInterface(riid, ppv);
}

void ExplorerCommand::ReportStartFailure(const wchar_t* path, const wchar_t* program, DWORD error)
{
    wchar_t reason[512] = {};
    if (FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, reason,
                       static_cast<DWORD>(std::size(reason)), nullptr) == 0)
        std::swprintf(reason, std::size(reason), L"error %lu", static_cast<unsigned long>(error));
    reason[std::size(reason) - 1] = L'\0';
    wchar_t text[2 * TextCapacity + std::size(reason) + 128];
    std::swprintf(text, std::size(text), L"The Change Icon dialog for\n%ls\ncould not be opened.\n\n%ls:\n%ls", path,
                  program[0] != L'\0' ? program : DialogProgramName, reason);
    text[std::size(text) - 1] = L'\0';
    HWND owner = nullptr;
    if (site_ == nullptr || FAILED(IUnknown_GetWindow(site_, &owner)))
        owner = nullptr;
    MessageBoxW(owner, text, StartFailedCaption, MB_OK | MB_ICONERROR);
}

} // namespace orvane
