// The module's entry points: the attach notification that keeps the instance handle, and
// the two exports through which COM creates objects and asks whether it may unload.
#include <windows.h>
#include <unknwn.h>

#include "ClassFactory.h"
#include "ExtensionIdentity.h"
#include "LiveObjects.h"
#include "ModuleInstance.h"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        orvane::SetModuleInstance(instance);
        // Explorer starts and ends threads all the time; the module keeps nothing per thread.
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

// Each call creates a factory of its own; none is shared or cached.
STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv)
{
    if (ppv == nullptr)
        return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualCLSID(clsid, orvane::CLSID_ShellIconExtension))
        return CLASS_E_CLASSNOTAVAILABLE;
    return orvane::ExtensionClassFactory::Create(riid, ppv);
}

// Only live factories and objects keep the module loaded; server locks do not.
STDAPI DllCanUnloadNow()
{
    return orvane::LiveObjectCount() == 0 ? S_OK : S_FALSE;
}
