// The one COM object of the module. As a context-menu handler it receives the selection
// through IShellExtInit and offers "&Change Icon..." through IContextMenu; as the icon
// handler of a file type it receives a file's path through IPersistFile and answers
// IExtractIconW (which Explorer asks for first) and IExtractIconA. One reference count
// serves all five interfaces.
#pragma once

#include <windows.h>

#include <string>
#include <vector>
#include <objidl.h>
#include <shlobj.h>
#include <wrl/client.h>

#include <cstddef>

#include "ComObject.h"
#include "IconLocation.h"

namespace orvane {

class ShellIconExtension final : public ComObject,
                                 public IContextMenu,
                                 public IShellExtInit,
                                 public IExtractIconW,
                                 public IExtractIconA,
                                 public IPersistFile {
public:
    // Creates an object and hands out the requested interface.
    static HRESULT Create(REFIID riid, void** ppv) { return ComObject::Create<ShellIconExtension>(riid, ppv); }

    // IUnknown (shared by all five interface tables)
    IFACEMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    IFACEMETHODIMP_(ULONG) AddRef() override { return AddReference(); }
    IFACEMETHODIMP_(ULONG) Release() override { return ReleaseReference(); }

    // IShellExtInit
    IFACEMETHODIMP Initialize(PCIDLIST_ABSOLUTE folder, IDataObject* dataObject, HKEY classKey) override;

    // IContextMenu (ContextMenu.cpp)
    IFACEMETHODIMP QueryContextMenu(HMENU menu, UINT indexMenu, UINT idCmdFirst, UINT idCmdLast, UINT flags) override;
    IFACEMETHODIMP InvokeCommand(CMINVOKECOMMANDINFO* info) override;
    IFACEMETHODIMP GetCommandString(UINT_PTR idCmd, UINT type, UINT* reserved, CHAR* name, UINT cchMax) override;

    // IExtractIconW (IconHandler.cpp)
    IFACEMETHODIMP GetIconLocation(UINT flags, LPWSTR iconFile, UINT cchMax, int* index, UINT* iconFlags) override;
    IFACEMETHODIMP Extract(LPCWSTR iconFile, UINT index, HICON* large, HICON* small, UINT iconSizes) override;

    // IExtractIconA (IconHandler.cpp)
    IFACEMETHODIMP GetIconLocation(UINT flags, LPSTR iconFile, UINT cchMax, int* index, UINT* iconFlags) override;
    IFACEMETHODIMP Extract(LPCSTR iconFile, UINT index, HICON* large, HICON* small, UINT iconSizes) override;

    // IPersistFile (IconHandler.cpp)
    IFACEMETHODIMP GetClassID(CLSID* classId) override;
    IFACEMETHODIMP IsDirty() override;
    IFACEMETHODIMP Load(LPCOLESTR fileName, DWORD mode) override;
    IFACEMETHODIMP Save(LPCOLESTR fileName, BOOL remember) override;
    IFACEMETHODIMP SaveCompleted(LPCOLESTR fileName) override;
    IFACEMETHODIMP GetCurFile(LPOLESTR* fileName) override;

private:
    friend class ComObject;
    ShellIconExtension() = default;
    ~ShellIconExtension() override;

    // Reads the selection from the data object's CF_HDROP data: its first path into
    // itemPath_ and, when it holds several items, every path into selection_. A path that
    // does not fit is left out; itemPath_ is left empty for no item, a selection past
    // SelectionLimit, or no path that fits.
    void ReadSelectedPath();

    Microsoft::WRL::ComPtr<IDataObject> dataObject_;
    // The selected item's path, or the file that Load named: UTF-16, as the shell has it.
    wchar_t itemPath_[TextCapacity] = {};
    std::vector<std::wstring> selection_;
};

// Bytes enough for the ANSI form of a text of TextCapacity UTF-16 units in any code page
// (the UTF-8 one takes at most three bytes for each unit).
constexpr std::size_t AnsiTextCapacity = 3 * TextCapacity;

// Converts count UTF-16 units of text (-1: up to and with its terminating zero) into the
// ANSI code page, only when every character has a form of its own there: no best-fit
// stand-in (which turns "\u0101" into "a", and so a path into another file's name) and no
// default character ("?", a wildcard). The number of bytes written into out (outSize
// bytes), or 0 when the text does not convert exactly or does not fit.
int ConvertToExactAnsi(const wchar_t* text, int count, char* out, std::size_t outSize);

} // namespace orvane
