// The one COM object of the module. As a context-menu handler it receives the selection
// through IShellExtInit and offers "&Change Icon..." through IContextMenu; as the icon
// handler of a file type it receives a file's path through IPersistFile and answers
// IExtractIconA. One reference count serves all four interfaces.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <shlobj.h>

#include "IconLocation.h"

namespace orvane {

class ShellIconExtension final : public IContextMenu,
                                 public IShellExtInit,
                                 public IExtractIconA,
                                 public IPersistFile {
public:
    ShellIconExtension();
    ShellIconExtension(const ShellIconExtension&) = delete;
    ShellIconExtension& operator=(const ShellIconExtension&) = delete;

    // Creates an object and hands out the requested interface; an object that cannot
    // hand it out is deleted at once.
    static HRESULT Create(REFIID riid, void** ppv);

    // IUnknown (shared by all four interface tables)
    IFACEMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    IFACEMETHODIMP_(ULONG) AddRef() override;
    IFACEMETHODIMP_(ULONG) Release() override;

    // IShellExtInit
    IFACEMETHODIMP Initialize(PCIDLIST_ABSOLUTE folder, IDataObject* dataObject, HKEY classKey) override;

    // IContextMenu (ContextMenu.cpp)
    IFACEMETHODIMP QueryContextMenu(HMENU menu, UINT indexMenu, UINT idCmdFirst, UINT idCmdLast, UINT flags) override;
    IFACEMETHODIMP InvokeCommand(CMINVOKECOMMANDINFO* info) override;
    IFACEMETHODIMP GetCommandString(UINT_PTR idCmd, UINT type, UINT* reserved, CHAR* name, UINT cchMax) override;

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
    ~ShellIconExtension();

    // Reads the one selected path from the data object's CF_HDROP data into ItemPath;
    // ItemPath is left empty for no item, several items or a path that does not fit.
    void ReadSelectedPath();

    volatile LONG refCount_ = 0;
    IDataObject* dataObject_ = nullptr;
    char itemPath_[TextCapacity] = {};
};

// Runs body and turns any C++ exception into E_UNEXPECTED, so that none reaches the shell.
template <class Body>
HRESULT GuardedCall(Body&& body) noexcept
{
    try {
        return body();
    } catch (...) {
        return E_UNEXPECTED;
    }
}

} // namespace orvane
