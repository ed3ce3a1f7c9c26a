// The library entry point; the DLL's only file that the unit-test library leaves out.
#include <windows.h>

#include "entry/ModuleEntry.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    return moduleEntry(instance, reason) ? TRUE : FALSE;
}
