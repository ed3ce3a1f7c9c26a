#include "ModuleLoader.h"

#include <cstdio>
#include <cstring>

#include "host/UniqueId.h"

std::string programFolder() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    char* slash = std::strrchr(path, '\\');
    if (slash) slash[1] = 0;
    return path;
}

std::string guidText(const GUID& g) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", (unsigned long)g.Data1,
                  g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6],
                  g.Data4[7]);
    return text;
}

bool parseGuid(const std::string& text, GUID* out) {
    std::string t = text;
    if (t.size() == 36) t = "{" + t + "}";
    if (t.size() != 38 || t[0] != '{' || t[37] != '}') return false;
    for (size_t i = 1; i < 37; ++i) {
        bool dash = i == 9 || i == 14 || i == 19 || i == 24;
        if (dash ? t[i] != '-' : !isxdigit(static_cast<unsigned char>(t[i]))) return false;
    }
    UniqueId id;
    if (!id.fromString(t.c_str())) return false;
    *out = id.guid();
    return true;
}

ModuleLoader::~ModuleLoader() {
    if (factory_) factory_->Release();
    if (module_) FreeLibrary(module_);
}

bool ModuleLoader::load(const std::string& path, std::string* error) {
    std::string file = path.empty() ? programFolder() + "palisander.dll" : path;
    module_ = LoadLibraryA(file.c_str());
    if (!module_) {
        DWORD code = GetLastError();
        if (error) {
            char text[64];
            std::snprintf(text, sizeof text, " (error %lu)", (unsigned long)code);
            *error = "cannot load " + file + text +
                     (code == ERROR_DLL_INIT_FAILED ? ": no usable MFX filter is registered" : "");
        }
        return false;
    }
    typedef IModuleFactory* (*GetFactory)();
    auto get = reinterpret_cast<GetFactory>(reinterpret_cast<void*>(GetProcAddress(module_, "GetPluginFactory")));
    if (!get || !(factory_ = get())) {
        if (error) *error = file + " has no plug-in factory";
        return false;
    }
    int32_t count = factory_->classCount();
    for (int32_t i = 0; i < count; ++i) {
        ClassInfo info = {};
        if (factory_->describeClass(i, &info) != S_OK) continue;
        PluginClass cls;
        cls.classId = info.classId;
        cls.name.assign(info.name, strnlen(info.name, sizeof info.name));
        cls.category.assign(info.category, strnlen(info.category, sizeof info.category));
        classes_.push_back(cls);
    }
    return true;
}

std::string ModuleLoader::factoryName() const {
    FactoryInfo info = {};
    if (!factory_) return "";
    factory_->describeFactory(&info);
    return std::string(info.text, strnlen(info.text, sizeof info.text));
}

const PluginClass* ModuleLoader::find(const std::string& key) const {
    for (const PluginClass& c : classes_)
        if (c.name == key) return &c;
    for (const PluginClass& c : classes_)
        if (_stricmp(c.name.c_str(), key.c_str()) == 0) return &c;
    GUID id;
    if (parseGuid(key, &id))
        for (const PluginClass& c : classes_)
            if (std::memcmp(&c.classId, &id, sizeof id) == 0) return &c;
    return nullptr;
}

IMidiModule* ModuleLoader::create(const PluginClass& cls, std::string* error) const {
    void* object = nullptr;
    HRESULT hr = factory_->createInstance(&cls.classId, &hostid::IMidiModule.guid(), &object);
    if (hr != S_OK || !object) {
        if (error) *error = "the filter \"" + cls.name + "\" could not be created";
        return nullptr;
    }
    return static_cast<IMidiModule*>(object);
}
