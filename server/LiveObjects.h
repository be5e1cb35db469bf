// The module-wide count of live class factories and objects of both classes. The module may be
// unloaded only while it is 0. Explorer creates icon handlers on several threads at once,
// so the count changes only through interlocked operations.
#pragma once

#include <windows.h>

namespace orvane {

LONG LiveObjectCount();
void ObjectCreated();
void ObjectDestroyed();

} // namespace orvane
