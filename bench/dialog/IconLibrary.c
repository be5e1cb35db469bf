/* A resource-only library for the dialog benchmark: its icon groups (1,000 or 10,000)
   come from icons<count>.rc. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)instance;
    (void)reason;
    (void)reserved;
    return TRUE;
}
