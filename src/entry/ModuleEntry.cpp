#include "entry/ModuleEntry.h"

#include "entry/Catalogue.h"

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
