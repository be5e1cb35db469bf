// The DLL's own instance handle, stored when it is attached to a process: the module
// whose resources hold the Change Icon dialog the context menu runs.
#pragma once

#include <windows.h>

namespace orvane {

HINSTANCE ModuleInstance();
void SetModuleInstance(HINSTANCE instance);

} // namespace orvane
