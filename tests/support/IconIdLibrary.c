/* A resource-only library for the tests: four icon groups whose resource ids (100, 101,
   105, 112) are not their positions, each a single colour (see icon_ids.rc). */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)instance;
    (void)reason;
    (void)reserved;
    return TRUE;
}
