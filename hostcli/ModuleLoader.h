// Loads palisander.dll as a host does and finds plug-in classes in its factory.
#pragma once

#include <string>
#include <vector>

#include "interfaces/HostInterfaces.h"

struct PluginClass {
    GUID classId;
    std::string name;
    std::string category;
};

class ModuleLoader {
public:
    ModuleLoader() = default;
    ~ModuleLoader();
    ModuleLoader(const ModuleLoader&) = delete;
    ModuleLoader& operator=(const ModuleLoader&) = delete;

    // path empty: palisander.dll beside this program. False with a message on failure.
    bool load(const std::string& path, std::string* error);

    std::string factoryName() const;
    const std::vector<PluginClass>& classes() const { return classes_; }
    // By exact name, then case-insensitive name, then CLSID text; null when none matches.
    const PluginClass* find(const std::string& nameOrClsid) const;
    // A new instance's IMidiModule with one reference, or null.
    IMidiModule* create(const PluginClass& cls, std::string* error) const;

    IModuleFactory* factory() const { return factory_; }

private:
    HMODULE module_ = nullptr;
    IModuleFactory* factory_ = nullptr;
    std::vector<PluginClass> classes_;
};

std::string guidText(const GUID& id);
bool parseGuid(const std::string& text, GUID* out);
// The folder of this program, with a trailing backslash.
std::string programFolder();
