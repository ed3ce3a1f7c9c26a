// The module's one IModuleFactory: the plug-in classes it offers and their creation.
#pragma once

#include <cstdint>

#include "host/ComObject.h"
#include "interfaces/HostInterfaces.h"

// Makes a new object for one class: its primary interface with the count 1, or null.
typedef IUnknown* (*CreateFunction)(void* context);

// A FactoryInfo holding text (truncated to fit) and value, every other byte zero.
FactoryInfo makeFactoryInfo(const char* text, int32_t value);
// A ClassInfo of the "Midi Module Class" category with unlimited cardinality; the
// name is truncated to fit and may be null (empty).
ClassInfo makeClassInfo(const GUID& classId, const char* name);

// A static object: a host that releases more than it obtained never takes the
// creator's reference.
class PluginFactory : public ComObject<PluginFactory, lifetime::Static<1>, IModuleFactory> {
public:
    static const int32_t maxRows = 100;

    explicit PluginFactory(const FactoryInfo& info);

    static const InterfaceEntry* interfaceTable();
    HRESULT STDMETHODCALLTYPE describeFactory(FactoryInfo* out) override;
    int32_t STDMETHODCALLTYPE classCount() override;
    HRESULT STDMETHODCALLTYPE describeClass(int32_t index, ClassInfo* out) override;
    HRESULT STDMETHODCALLTYPE createInstance(const GUID* classId, const GUID* iid, void** out) override;

    // False for a missing record or function, or when 99 classes are offered already.
    bool addClass(const ClassInfo* info, CreateFunction create, void* context);

private:
    struct Row {
        ClassInfo info;
        CreateFunction create;
        void* context;
    };

    FactoryInfo factoryInfo;
    Row rows[maxRows];
    int32_t rowCount = 0;
};

// The static factory that GetPluginFactory hands out.
PluginFactory& theFactory();
