// What a sample filter DLL keeps for its whole life: its instance handle and the
// count of live objects and locks that DllCanUnloadNow answers from.
#pragma once

#include <windows.h>

namespace server {

void setInstance(HINSTANCE instance);
HINSTANCE instance();

// Every COM object of the DLL counts itself for its whole life.
void objectCreated();
void objectDestroyed();
void lock(bool on);
bool canUnload();

}  // namespace server
