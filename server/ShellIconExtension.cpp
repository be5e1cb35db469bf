#include "ShellIconExtension.h"

#include <climits>
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
    else if (IsEqualIID(riid, IID_IExtractIconW))
        *ppv = static_cast<IExtractIconW*>(this);
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

int ConvertToExactAnsi(const wchar_t* text, int count, char* out, std::size_t outSize)
{
    if (text == nullptr || out == nullptr || outSize == 0 || count == 0)
        return 0;
    const int room = outSize < static_cast<std::size_t>(INT_MAX) ? static_cast<int>(outSize) : INT_MAX;
    // The UTF-8 code page has a form for every character and takes neither the best-fit
    // flag nor the default-character report; WC_ERR_INVALID_CHARS makes it refuse a lone
    // surrogate rather than write a replacement character.
    const bool utf8 = GetACP() == CP_UTF8;
    BOOL usedDefault = FALSE;
    const int written = WideCharToMultiByte(CP_ACP, utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS, text, count,
                                            out, room, nullptr, utf8 ? nullptr : &usedDefault);
    if (written <= 0 || usedDefault)
        return 0;
    // A terminated text converts with its terminator, or not at all.
    if (count < 0 && out[written - 1] != '\0')
        return 0;
    return written;
}

} // namespace orvane
