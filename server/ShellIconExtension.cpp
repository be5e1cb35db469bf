#include "ShellIconExtension.h"

#include <new>

#include "LiveObjects.h"

namespace orvane {

ShellIconExtension::ShellIconExtension() { ObjectCreated(); }

ShellIconExtension::~ShellIconExtension()
{
    if (dataObject_ != nullptr)
        dataObject_->Release();
    ObjectDestroyed();
}

HRESULT ShellIconExtension::Create(REFIID riid, void** ppv)
{
    auto* object = new (std::nothrow) ShellIconExtension();
    if (object == nullptr)
        return E_OUTOFMEMORY;
    // The query gives the new object its first reference; the AddRef/Release pair
    // around it deletes the object when the query fails.
    object->AddRef();
    const HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
}

IFACEMETHODIMP ShellIconExtension::QueryInterface(REFIID riid, void** ppv)
{
    if (ppv == nullptr)
        return E_POINTER;
    *ppv = nullptr;
    // IUnknown is answered with the IShellExtInit table, so that identity comparisons
    // give the same pointer whichever interface they start from.
    if (IsEqualIID(riid, IID_IShellExtInit) || IsEqualIID(riid, IID_IUnknown))
        *ppv = static_cast<IShellExtInit*>(this);
    else if (IsEqualIID(riid, IID_IContextMenu))
        *ppv = static_cast<IContextMenu*>(this);
    else if (IsEqualIID(riid, IID_IExtractIconA))
        *ppv = static_cast<IExtractIconA*>(this);
    else if (IsEqualIID(riid, IID_IPersistFile))
        *ppv = static_cast<IPersistFile*>(this);
    else
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

IFACEMETHODIMP_(ULONG) ShellIconExtension::AddRef()
{
    return static_cast<ULONG>(InterlockedIncrement(&refCount_));
}

IFACEMETHODIMP_(ULONG) ShellIconExtension::Release()
{
    const LONG remaining = InterlockedDecrement(&refCount_);
    if (remaining == 0)
        delete this;
    return static_cast<ULONG>(remaining);
}

// Explorer may call Initialize more than once on the same object; each call replaces the
// selection held before. The selection itself is read only when the menu is built.
IFACEMETHODIMP ShellIconExtension::Initialize(PCIDLIST_ABSOLUTE, IDataObject* dataObject, HKEY)
{
    if (dataObject != nullptr)
        dataObject->AddRef();
    IDataObject* previous = dataObject_;
    dataObject_ = dataObject;
    if (previous != nullptr)
        previous->Release();
    return S_OK;
}

} // namespace orvane
