// The module's own instance handle, stored when the module is attached to a process.
// Programs that link the dialog statically (tests, the demo) set it to their own handle.
#pragma once

#include <windows.h>

namespace orvane {

HINSTANCE ModuleInstance();
void SetModuleInstance(HINSTANCE instance);

} // namespace orvane
