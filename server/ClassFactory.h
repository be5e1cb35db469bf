// The class factory that DllGetClassObject hands out: one new factory per call, each
// creating new ShellIconExtension objects.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include "ComObject.h"

namespace orvane {

class ExtensionClassFactory final : public ComObject, public IClassFactory {
public:
    // Creates a factory and hands out the requested interface.
    static HRESULT Create(REFIID riid, void** ppv) { return ComObject::Create<ExtensionClassFactory>(riid, ppv); }

    IFACEMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    IFACEMETHODIMP_(ULONG) AddRef() override { return AddReference(); }
    IFACEMETHODIMP_(ULONG) Release() override { return ReleaseReference(); }
    IFACEMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;
    IFACEMETHODIMP LockServer(BOOL lock) override;

private:
    friend class ComObject;
    ExtensionClassFactory() = default;
    ~ExtensionClassFactory() override = default;
};

} // namespace orvane
