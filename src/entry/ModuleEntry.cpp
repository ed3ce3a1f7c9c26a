#include "entry/ModuleEntry.h"

#include "entry/Catalogue.h"

namespace {
HINSTANCE instanceHandle = nullptr;
}

HINSTANCE moduleInstance() { return instanceHandle ? instanceHandle : GetModuleHandleA(nullptr); }
void setModuleInstance(HINSTANCE instance) { instanceHandle = instance; }

bool moduleEntry(HINSTANCE instance, DWORD reason) {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        setModuleInstance(instance);
        return scanCatalogue();
    case DLL_PROCESS_DETACH:
        freeCatalogue();
        return true;
    default:
        return true;
    }
}
