// Process attach and detach of the module, callable from tests without a DLL.
#pragma once

#include <windows.h>

#include "platform/ModuleHandle.h"

// The library entry point's work for one reason code; true for success.
bool moduleEntry(HINSTANCE instance, DWORD reason);
