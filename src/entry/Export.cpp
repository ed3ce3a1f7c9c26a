#include "entry/PluginFactory.h"

// The module's one export; the caller owns the reference it gets.
extern "C" IModuleFactory* GetPluginFactory() {
    PluginFactory& factory = theFactory();
    factory.AddRef();
    return &factory;
}
