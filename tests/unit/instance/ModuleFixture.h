// Drives the real palisander.dll as a host does: registry prepared, LoadLibrary,
// GetPluginFactory, createInstance, initialize with the reference host.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "ReferenceHost.h"
#include "host/UniqueId.h"
#include "interfaces/HostInterfaces.h"
#include "testfilter/TestFilterControl.h"

namespace fixture {

inline const char* kFilters = "Software\\Cakewalk Music Software\\MIDI Filters";
inline const char* kVerified = "Software\\Morlanite\\Palisander\\Verified";

inline std::string besideProgram(const char* file) {
    char buffer[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, buffer, MAX_PATH);
    std::string p(buffer);
    return p.substr(0, p.find_last_of('\\') + 1) + file;
}

inline std::string clsidText(const GUID& g) {
    char t[40];
    std::snprintf(t, sizeof t, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", (unsigned long)g.Data1, g.Data2,
                  g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6],
                  g.Data4[7]);
    return t;
}

inline void setText(const char* path, const char* name, const char* value) {
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr));
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value), DWORD(std::strlen(value) + 1));
    RegCloseKey(key);
}

inline bool readText(const char* path, const char* name, std::string* out) {
    char buffer[256] = {};
    DWORD size = sizeof buffer - 1, type = 0;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
    LONG r = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(key);
    if (r != ERROR_SUCCESS || type != REG_SZ) return false;
    *out = buffer;
    return true;
}

// Removes every MFX registration and the verification cache, before and after a test.
inline void clearRegistrations() {
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kFilters);
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kVerified);
}

// The test filter reset and the registry cleared: the start of a test that registers filters.
inline ::testing::AssertionResult startClean(TestFilterControl& control) {
    if (!control.ok()) return ::testing::AssertionFailure() << "test filter not loaded: " << control.path();
    control.Reset();
    clearRegistrations();
    return ::testing::AssertionSuccess();
}

// Then test filter 1 as the only filter, its verdict cached so that no load probes it.
inline ::testing::AssertionResult startWithVerifiedFilter(TestFilterControl& control) {
    ::testing::AssertionResult clean = startClean(control);
    if (!clean) return clean;
    if (control.Register(&CLSID_TestFilter1, "Test Filter 1", TfRegAll) != S_OK)
        return ::testing::AssertionFailure() << "test filter 1 not registered";
    setText(kVerified, clsidText(CLSID_TestFilter1).c_str(), "1");
    return ::testing::AssertionSuccess();
}

// The end of such a test.
inline void endWithVerifiedFilter(TestFilterControl& control) {
    control.Unregister(&CLSID_TestFilter1);
    clearRegistrations();
}

// The loaded module and its factory; unloads at the end.
class LoadedModule {
public:
    LoadedModule() {
        module_ = LoadLibraryA(besideProgram("palisander.dll").c_str());
        if (!module_) return;
        auto get = reinterpret_cast<IModuleFactory* (*)()>(
            reinterpret_cast<void*>(GetProcAddress(module_, "GetPluginFactory")));
        factory_ = get ? get() : nullptr;
    }
    ~LoadedModule() {
        if (factory_) factory_->Release();
        if (module_) FreeLibrary(module_);
    }
    LoadedModule(const LoadedModule&) = delete;
    LoadedModule& operator=(const LoadedModule&) = delete;

    bool loaded() const { return module_ != nullptr; }
    IModuleFactory* factory() const { return factory_; }

    std::vector<ClassInfo> classes() const {
        std::vector<ClassInfo> all;
        for (int32_t i = 0; factory_ && i < factory_->classCount(); ++i) {
            ClassInfo info;
            std::memset(&info, 0xCA, sizeof info);
            if (factory_->describeClass(i, &info) == S_OK) all.push_back(info);
        }
        return all;
    }

    // A new instance's IMidiModule, or null.
    IMidiModule* create(const GUID& clsid) const {
        void* out = reinterpret_cast<void*>(0xCAFECAFE);
        HRESULT hr = factory_ ? factory_->createInstance(&clsid, &hostid::IMidiModule.guid(), &out) : E_FAIL;
        return hr == S_OK ? static_cast<IMidiModule*>(out) : nullptr;
    }

private:
    HMODULE module_ = nullptr;
    IModuleFactory* factory_ = nullptr;
};

template <class T>
T* query(IUnknown* object, const UniqueId& iid) {
    void* out = nullptr;
    return object->QueryInterface(iid.guid(), &out) == S_OK ? static_cast<T*>(out) : nullptr;
}

// One test filter class registered and cached as verified, the module loaded, one
// instance created and initialised with a fresh reference host.
class InstanceTest : public ::testing::Test {
protected:
    void SetUp() override {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        ASSERT_TRUE(startWithVerifiedFilter(control));
        module = new LoadedModule();
        ASSERT_TRUE(module->loaded());
        host = new ReferenceHost();
        instance = module->create(CLSID_TestFilter1);
        ASSERT_NE(instance, nullptr);
    }
    void TearDown() override {
        if (instance) {
            if (initialised) instance->terminate();
            instance->Release();
        }
        if (host) host->Release();
        delete module;
        endWithVerifiedFilter(control);
        CoUninitialize();
    }
    void init() {
        ASSERT_EQ(S_OK, instance->initialize(host->context()));
        initialised = true;
        control.ClearLog();
    }
    EventStore& events() { return host->events(); }
    // Host-owned note the host gives the module and then drops.
    void send(HostEvent e) {
        instance->onEvent(e);
        events().discard(e);
    }
    std::vector<std::string> calls(std::initializer_list<int32_t> sites) { return control.log(sites); }

    TestFilterControl control;
    LoadedModule* module = nullptr;
    ReferenceHost* host = nullptr;
    IMidiModule* instance = nullptr;
    bool initialised = false;
};

inline MfxEvent noteRecord(int32_t time, uint8_t key, uint8_t velocity, uint32_t duration, uint8_t channel = 0) {
    MfxEvent e = {};
    e.time = time;
    e.channel = channel;
    e.type = MfxNote;
    e.data[0] = key;
    e.data[1] = velocity;
    e.data[2] = 64;
    std::memcpy(&e.data[3], &duration, 4);
    return e;
}

inline MfxEvent controllerRecord(int32_t time, uint8_t number, uint8_t value) {
    MfxEvent e = {};
    e.time = time;
    e.type = MfxController;
    e.data[0] = number;
    e.data[1] = value;
    return e;
}

}  // namespace fixture
