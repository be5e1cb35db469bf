#include "ClassFactory.h"

#include "ShellIconExtension.h"

namespace orvane {

IFACEMETHODIMP ExtensionClassFactory::QueryInterface(REFIID riid, void** ppv)
{
    static const InterfaceEntry<ExtensionClassFactory> interfaces[] = {
        Entry<ExtensionClassFactory, IClassFactory>(IID_IClassFactory),
    };
    return QueryTable(this, interfaces, riid, ppv);
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
