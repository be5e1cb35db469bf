#include "LiveObjects.h"

namespace orvane {

namespace {
volatile LONG g_liveObjectCount = 0;
}

LONG LiveObjectCount() { return InterlockedCompareExchange(&g_liveObjectCount, 0, 0); }
void ObjectCreated() { InterlockedIncrement(&g_liveObjectCount); }
void ObjectDestroyed() { InterlockedDecrement(&g_liveObjectCount); }

} // namespace orvane
