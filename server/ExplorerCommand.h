// "Change Icon..." in Windows 11's own context menu. Explorer's top-level menu takes only
// commands that implement IExplorerCommand and that a package's manifest declares; it
// hands them the selection as a shell item array and a site through IObjectWithSite.
// The command offers the classic entry's words and icon for exactly the selections the
// classic entry serves, and opens the same Change Icon dialog in a process of its own
// (orvane-dialog.exe beside this module), so that Explorer's thread never waits for it.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <shobjidl.h>

#include "ComObject.h"

namespace orvane {

class ExplorerCommand final : public ComObject, public IExplorerCommand, public IObjectWithSite {
public:
    // Creates an object and hands out the requested interface.
    static HRESULT Create(REFIID riid, void** ppv) { return ComObject::Create<ExplorerCommand>(riid, ppv); }

    // IUnknown (shared by both interface tables)
    IFACEMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    IFACEMETHODIMP_(ULONG) AddRef() override { return AddReference(); }
    IFACEMETHODIMP_(ULONG) Release() override { return ReleaseReference(); }

    // IExplorerCommand
    IFACEMETHODIMP GetTitle(IShellItemArray* items, LPWSTR* name) override;
    IFACEMETHODIMP GetIcon(IShellItemArray* items, LPWSTR* icon) override;
    IFACEMETHODIMP GetToolTip(IShellItemArray* items, LPWSTR* infoTip) override;
    IFACEMETHODIMP GetCanonicalName(GUID* name) override;
    IFACEMETHODIMP GetState(IShellItemArray* items, BOOL okToBeSlow, EXPCMDSTATE* state) override;
    IFACEMETHODIMP Invoke(IShellItemArray* items, IBindCtx* bindContext) override;
    IFACEMETHODIMP GetFlags(EXPCMDFLAGS* flags) override;
    IFACEMETHODIMP EnumSubCommands(IEnumExplorerCommand** commands) override;

    // IObjectWithSite
    IFACEMETHODIMP SetSite(IUnknown* site) override;
    IFACEMETHODIMP GetSite(REFIID riid, void** ppv) override;

private:
    friend class ComObject;
    ExplorerCommand() = default;
    ~ExplorerCommand() override;

    // Tells the user that the dialog could not be started, in a message box owned by the
    // site's window when the site has one.
    void ReportStartFailure(const wchar_t* path, const wchar_t* program, DWORD error);

    IUnknown* site_ = nullptr;
};

} // namespace orvane
