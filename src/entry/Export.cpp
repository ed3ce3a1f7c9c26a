#include "interfaces/HostInterfaces.h"

// Filled in with the factory.
extern "C" IModuleFactory* GetPluginFactory() { return nullptr; }
