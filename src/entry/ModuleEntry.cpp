#include "entry/ModuleEntry.h"

namespace {
HINSTANCE instanceHandle = nullptr;
}

HINSTANCE moduleInstance() { return instanceHandle ? instanceHandle : GetModuleHandleA(nullptr); }
void setModuleInstance(HINSTANCE instance) { instanceHandle = instance; }

bool moduleEntry(HINSTANCE instance, DWORD reason) {
    if (reason == DLL_PROCESS_ATTACH) {
        setModuleInstance(instance);
        return true;  // the catalogue scan comes later
    }
    return true;
}
