#include "ClassFactory.h"

#include <new>

#include "LiveObjects.h"
#include "ShellIconExtension.h"

namespace orvane {

ExtensionClassFactory::ExtensionClassFactory() { ObjectCreated(); }

ExtensionClassFactory::~ExtensionClassFactory() { ObjectDestroyed(); }

HRESULT ExtensionClassFactory::Create(REFIID riid, void** ppv)
{
    auto* factory = new (std::nothrow) ExtensionClassFactory();
    if (factory == nullptr)
        return E_OUTOFMEMORY;
    // The query gives the new factory its first reference; the AddRef/Release pair
    // around it deletes the factory when the query fails.
    factory->AddRef();
    const HRESULT hr = factory->QueryInterface(riid, ppv);
    factory->Release();
    return hr;
}

IFACEMETHODIMP ExtensionClassFactory::QueryInterface(REFIID riid, void** ppv)
{
    if (ppv == nullptr)
        return E_POINTER;
    *ppv = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
        *ppv = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    return E_NOINTERFACE;
}

IFACEMETHODIMP_(ULONG) ExtensionClassFactory::AddRef()
{
    return static_cast<ULONG>(InterlockedIncrement(&refCount_));
}

IFACEMETHODIMP_(ULONG) ExtensionClassFactory::Release()
{
    const LONG remaining = InterlockedDecrement(&refCount_);
    if (remaining == 0)
        delete this;
    return static_cast<ULONG>(remaining);
}

IFACEMETHODIMP ExtensionClassFactory::CreateInstance(IUnknown* outer, REFIID riid, void** ppv)
{
    if (ppv == nullptr)
        return E_POINTER;
    *ppv = nullptr;
    if (outer != nullptr)
        return CLASS_E_NOAGGREGATION;
    return ShellIconExtension::Create(riid, ppv);
}

// Server locks never keep the module loaded; only live objects do.
IFACEMETHODIMP ExtensionClassFactory::LockServer(BOOL) { return S_OK; }

} // namespace orvane
