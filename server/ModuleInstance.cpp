#include "ModuleInstance.h"

namespace orvane {

namespace {
HINSTANCE g_moduleInstance = nullptr;
}

HINSTANCE ModuleInstance() { return g_moduleInstance; }
void SetModuleInstance(HINSTANCE instance) { g_moduleInstance = instance; }

} // namespace orvane
