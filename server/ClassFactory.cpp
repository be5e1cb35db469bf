#include "ClassFactory.h"

namespace orvane {

IFACEMETHODIMP ClassFactory::QueryInterface(REFIID riid, void** ppv)
{
    static const InterfaceEntry<ClassFactory> interfaces[] = {
        Entry<ClassFactory, IClassFactory>(IID_IClassFactory),
    };
    return QueryTable(this, interfaces, riid, ppv);
}

IFACEMETHODIMP ClassFactory::CreateInstance(IUnknown* outer, REFIID riid, void** ppv)
{
    if (ppv == nullptr)
        return E_POINTER;
    *ppv = nullptr;
    if (outer != nullptr)
        return CLASS_E_NOAGGREGATION;
    return createObject_(riid, ppv);
}

// Server locks never keep the module loaded; only live objects do.
IFACEMETHODIMP ClassFactory::LockServer(BOOL) { return S_OK; }

} // namespace orvane
