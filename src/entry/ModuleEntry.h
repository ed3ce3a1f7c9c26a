// Process attach and detach of the module, callable from tests without a DLL.
#pragma once

#include <windows.h>

// Instance handle of the module (the test executable's when linked statically).
HINSTANCE moduleInstance();
void setModuleInstance(HINSTANCE instance);

// The library entry point's work for one reason code; true for success.
bool moduleEntry(HINSTANCE instance, DWORD reason);
