// The class factory that DllGetClassObject hands out: one new factory per call, each
// creating new ShellIconExtension objects.
#pragma once

#include <windows.h>
#include <unknwn.h>

namespace orvane {

class ExtensionClassFactory final : public IClassFactory {
public:
    ExtensionClassFactory();
    ExtensionClassFactory(const ExtensionClassFactory&) = delete;
    ExtensionClassFactory& operator=(const ExtensionClassFactory&) = delete;

    // Creates a factory and hands out the requested interface. A factory that cannot
    // hand it out is deleted at once, so that no unreferenced factory keeps the module
    // loaded.
    static HRESULT Create(REFIID riid, void** ppv);

    IFACEMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    IFACEMETHODIMP_(ULONG) AddRef() override;
    IFACEMETHODIMP_(ULONG) Release() override;
    IFACEMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;
    IFACEMETHODIMP LockServer(BOOL lock) override;

private:
    ~ExtensionClassFactory();

    volatile LONG refCount_ = 0;
};

} // namespace orvane
