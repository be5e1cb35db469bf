// Plays Explorer's part for a path: the shell's own data object for the selection, the
// extension created through COM by its class identifier, the context menu built and its
// command invoked, and the icon-handler questions. Wine's shell loads neither context-menu
// handlers nor icon handlers itself, so this is how the extension is reached there.
#pragma once

#include <windows.h>
#include <shlobj.h>
#include <wrl/client.h>

#include <string>
#include <vector>

namespace orvane::demo {

using Microsoft::WRL::ComPtr;

CLSID ExtensionClsid();

// CoCreateInstance of the extension (in-process server) for the interface.
HRESULT CreateExtension(REFIID iid, void** out);

// SHParseDisplayName + SHBindToParent + IShellFolder::GetUIObjectOf(IID_IDataObject):
// the data object Explorer hands to IShellExtInit::Initialize for a one-item selection.
HRESULT ShellDataObject(const wchar_t* path, IDataObject** out);

// One context menu as Explorer builds it for a selection of one item.
class ContextMenuRoad {
public:
    ContextMenuRoad() = default;
    ~ContextMenuRoad();
    ContextMenuRoad(const ContextMenuRoad&) = delete;
    ContextMenuRoad& operator=(const ContextMenuRoad&) = delete;

    // Initialize with the shell's data object, then QueryContextMenu into a new popup
    // menu at position 0 with command ids from FirstCommand.
    HRESULT Open(const wchar_t* path);
    // The texts of the items the extension inserted ("" for separators).
    std::vector<std::wstring> MenuTexts() const;
    // The number of command ids QueryContextMenu reported.
    UINT CommandsUsed() const { return commandsUsed_; }
    // InvokeCommand with command offset 0 ("&Change Icon..."); returns when the dialog closes.
    HRESULT InvokeChangeIcon(HWND owner);

    static constexpr UINT FirstCommand = 1;

private:
    ComPtr<IContextMenu> menu_;
    HMENU popup_ = nullptr;
    UINT commandsUsed_ = 0;
};

// What the platform's shell reports with SHGetFileInfoW(SHGFI_ICONLOCATION).
struct ShellIcon {
    bool Reported = false;
    std::wstring File; // empty where the shell gives the index alone
    int Index = 0;
    std::wstring Text() const;
};
// For a folder Wine's shell reports the Desktop.ini icon index but leaves the file text
// unfilled (whatever the buffer held), so for folders only the index is taken.
ShellIcon ShellIconLocation(const wchar_t* path, bool isFolder);

// The icon a folder's Desktop.ini names ("IconFile,IconIndex"), or "(none)".
std::wstring FolderIniIcon(const wchar_t* folder);

// The icon handler's answer for a file, asked as Explorer asks: IPersistFile::Load,
// then IExtractIconW::GetIconLocation (the interface Explorer asks for first). "path,index"
// or a description of the failure.
std::wstring IconHandlerAnswer(const wchar_t* path);

} // namespace orvane::demo
