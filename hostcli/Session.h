// One filter of the module, created and initialised on a reference host, as a
// sequencer holds a plug-in: everything is given back in the destructor.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ModuleLoader.h"
#include "ReferenceHost.h"
#include "host/UniqueId.h"

class Session {
public:
    Session() = default;
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Loads the module, finds the filter by name or CLSID, creates and initialises it.
    bool open(const std::string& modulePath, const std::string& filter, std::string& error);

    IMidiModule* module() const { return module_; }
    ReferenceHost* host() const { return host_; }
    const PluginClass& filterClass() const { return class_; }
    ModuleLoader& loader() { return loader_; }

    // Terminates and releases the filter, keeping the host and its account of events.
    void close();

    // The module's other interfaces (null when it has none); the caller releases.
    template <class T>
    T* query(const UniqueId& iid) const {
        void* p = nullptr;
        if (!module_ || module_->QueryInterface(iid.guid(), &p) != S_OK) return nullptr;
        return static_cast<T*>(p);
    }

    // The filter's state through IStatePersistence (two calls: size, then copy).
    bool getState(std::vector<uint8_t>& out, std::string& error) const;
    bool setState(const std::vector<uint8_t>& bytes, std::string& error) const;

private:
    ModuleLoader loader_;
    PluginClass class_{};
    ReferenceHost* host_ = nullptr;
    IMidiModule* module_ = nullptr;
    bool initialized_ = false;
};

// Whole files, read and written; writing goes to a temporary name that is renamed at the end.
bool readFileBytes(const std::string& path, std::vector<uint8_t>& out, std::string& error);
bool writeFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes, std::string& error);
