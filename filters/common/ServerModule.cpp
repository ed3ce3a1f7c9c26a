#include "common/ServerModule.h"

namespace server {
namespace {
HINSTANCE g_instance = nullptr;
volatile LONG g_objects = 0;
volatile LONG g_locks = 0;
}  // namespace

void setInstance(HINSTANCE instance) { g_instance = instance; }
HINSTANCE instance() { return g_instance; }
void objectCreated() { InterlockedIncrement(&g_objects); }
void objectDestroyed() { InterlockedDecrement(&g_objects); }
void lock(bool on) {
    if (on)
        InterlockedIncrement(&g_locks);
    else
        InterlockedDecrement(&g_locks);
}
bool canUnload() { return g_objects == 0 && g_locks == 0; }

}  // namespace server
