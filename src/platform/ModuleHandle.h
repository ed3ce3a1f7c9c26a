// The module's own instance handle, set at process attach.
#pragma once

#include <windows.h>

// Instance handle of the module (the test executable's when linked statically).
HINSTANCE moduleInstance();
void setModuleInstance(HINSTANCE instance);
