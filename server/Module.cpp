// The module's entry points: the attach notification that keeps the instance handle, and
// the two exports through which COM creates objects of its two classes and asks whether
// it may unload.
#include <windows.h>
#include <unknwn.h>

#include "ClassFactory.h"
#include "ExplorerCommand.h"
#include "ExtensionIdentity.h"
#include "LiveObjects.h"
#include "ModuleInstance.h"
#include "ShellIconExtension.h"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        orvane::SetModuleInstance(instance);
        // Explorer starts and ends threads all the time; the module keeps nothing per thread.
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

// Each call creates a factory of its own for the class asked for; none is shared or cached.
STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv)
{
    using namespace orvane;
    if (ppv == nullptr)
        return E_POINTER;
    *ppv = nullptr;
    ClassFactory::CreateFunction createObject = nullptr;
    if (IsEqualCLSID(clsid, CLSID_ShellIconExtension))
        createObject = &ShellIconExtension::Create;
    else if (IsEqualCLSID(clsid, CLSID_ExplorerCommand))
        createObject = &ExplorerCommand::Create;
    else
        return CLASS_E_CLASSNOTAVAILABLE;
    return ClassFactory::Create(createObject, riid, ppv);
}

// Only live factories and objects keep the module loaded; server locks do not.
STDAPI DllCanUnloadNow()
{
    return orvane::LiveObjectCount() == 0 ? S_OK : S_FALSE;
}
