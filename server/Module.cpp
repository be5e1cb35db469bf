#include <windows.h>

#include "ModuleInstance.h"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        orvane::SetModuleInstance(instance);
    return TRUE;
}
