// What every COM class of the module shares: one interlocked reference count, the
// module's count of live objects, creation that hands out the first interface or deletes
// the object at once, QueryInterface as a walk over a table of the class's interfaces,
// and the guard that keeps C++ exceptions from crossing a COM method.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <cstddef>
#include <new>

#include "LiveObjects.h"

namespace orvane {

// One row of a class's interface table: the interface's identifier and how the object
// is seen through it. The first row also answers IUnknown, so that identity comparisons
// give the same pointer whichever interface they start from.
template <class Object>
struct InterfaceEntry {
    const IID* Iid;
    IUnknown* (*Cast)(Object*);
};

template <class Object, class Interface>
IUnknown* CastTo(Object* object)
{
    return static_cast<Interface*>(object);
}

template <class Object, class Interface>
constexpr InterfaceEntry<Object> Entry(const IID& iid)
{
    return {&iid, &CastTo<Object, Interface>};
}

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

class ComObject {
public:
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    // Makes a new Object (from `arguments`) and hands out the requested interface. The
    // query gives the object its first reference; the AddRef/Release pair around it
    // deletes an object whose query fails, so that no unreferenced object keeps the
    // module loaded.
    template <class Object, class... Arguments>
    static HRESULT Create(REFIID riid, void** ppv, Arguments... arguments)
    {
        if (ppv == nullptr)
            return E_POINTER;
        *ppv = nullptr;
        auto* object = new (std::nothrow) Object(arguments...);
        if (object == nullptr)
            return E_OUTOFMEMORY;
        object->AddRef();
        const HRESULT hr = object->QueryInterface(riid, ppv);
        object->Release();
        return hr;
    }

protected:
    ComObject() { ObjectCreated(); }
    virtual ~ComObject() { ObjectDestroyed(); }

    ULONG AddReference() { return static_cast<ULONG>(InterlockedIncrement(&refCount_)); }

    ULONG ReleaseReference()
    {
        const LONG remaining = InterlockedDecrement(&refCount_);
        if (remaining == 0)
            delete this;
        return static_cast<ULONG>(remaining);
    }

    template <class Object, std::size_t N>
    static HRESULT QueryTable(Object* object, const InterfaceEntry<Object> (&table)[N], REFIID riid, void** ppv)
    {
        if (ppv == nullptr)
            return E_POINTER;
        *ppv = nullptr;
        for (std::size_t i = 0; i < N; ++i) {
            if (IsEqualIID(riid, *table[i].Iid) || (i == 0 && IsEqualIID(riid, IID_IUnknown))) {
                IUnknown* found = table[i].Cast(object);
                found->AddRef();
                *ppv = found;
                return S_OK;
            }
        }
        return E_NOINTERFACE;
    }

private:
    volatile LONG refCount_ = 0;
};

} // namespace orvane
