/* Resource-only libraries for the icon list's tests: their icon groups come from the
   numbered_icons<count>.rc scripts that make_numbered_icons.py writes. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)instance;
    (void)reason;
    (void)reserved;
    return TRUE;
}
