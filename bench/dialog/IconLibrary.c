/* A resource-only library for the dialog benchmark: its 1,000 icon groups come from
   icons1000.rc. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)instance;
    (void)reason;
    (void)reserved;
    return TRUE;
}
