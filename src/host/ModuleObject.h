// Base of every object the host creates from the module's classes: the five host
// interfaces, one count, interface lookup and a default for every operation.
#pragma once

#include <cstdint>

#include "host/ComObject.h"
#include "host/ParameterRegistry.h"
#include "host/UniqueId.h"
#include "interfaces/ComExtras.h"
#include "interfaces/HostInterfaces.h"

class ModuleObject : public ComObject<ModuleObject, lifetime::Counted, IMidiModule, IParameterSet,
                                       IStatePersistence, IEditorDescription, IViewFactory> {
public:
    // A null class identifier gives all zeros. The creator holds the one reference.
    explicit ModuleObject(const void* classId16);
    ~ModuleObject() override;

    static const InterfaceEntry* interfaceTable();
    // IStatePersistence only while the persistence flag is set.
    bool answers(const void* id) const;

    // IMidiModule
    HRESULT STDMETHODCALLTYPE initialize(IUnknown* context) override;
    HRESULT STDMETHODCALLTYPE terminate() override;
    HRESULT STDMETHODCALLTYPE getInfo(ModuleInfo* info) override;
    HRESULT STDMETHODCALLTYPE setValue(int32_t value) override;
    HRESULT STDMETHODCALLTYPE onEvent(HostEvent event) override;
    HRESULT STDMETHODCALLTYPE process(int32_t from, int32_t to, uint8_t idle) override;
    HRESULT STDMETHODCALLTYPE reposition(uint32_t ignored) override;
    HRESULT STDMETHODCALLTYPE cycleJump(int32_t start, int32_t length) override;
    HRESULT STDMETHODCALLTYPE stop(int32_t time) override;
    HRESULT STDMETHODCALLTYPE start(int32_t time) override;

    // IParameterSet
    int32_t STDMETHODCALLTYPE findByName(const char* name, ParameterEntry** out) override;
    int32_t STDMETHODCALLTYPE queryEntry(uint32_t a, uint32_t b) override;
    int32_t STDMETHODCALLTYPE entryCount() override;
    int32_t STDMETHODCALLTYPE nameByIndex(int32_t index, char* buffer128) override;
    int32_t STDMETHODCALLTYPE findById(uint32_t id, ParameterEntry** out) override;

    // IStatePersistence
    int32_t STDMETHODCALLTYPE getClassId(uint8_t* out16) override;
    int32_t STDMETHODCALLTYPE setState(const void* data, int32_t size) override;
    int32_t STDMETHODCALLTYPE getState(void* buffer, int32_t* size) override;

    // IEditorDescription
    int32_t STDMETHODCALLTYPE getViewParameters(const char* viewName, IParameterSet** out) override;
    int32_t STDMETHODCALLTYPE getTemplate(const char* viewName, char* nameOut, char* textOut,
                                          int32_t* sizeOut) override;
    int32_t STDMETHODCALLTYPE getResource(const char* number, void* buffer, int32_t* size) override;

    // IViewFactory
    int32_t STDMETHODCALLTYPE createView(const char* viewName, const ViewRect* rect, IModuleView** out) override;
    int32_t STDMETHODCALLTYPE probeView(uint32_t arg) override;

protected:
    // "editor" or "inspector", compared exactly.
    static bool isEditorView(const char* viewName);
    // The module's RT_RCDATA resource number id: its size through size (when given)
    // and its bytes into buffer (when given; unbounded, ask for the size first).
    static bool loadResource(int32_t id, void* buffer, int32_t* size);

    int32_t hasEditor = 0;
    bool persistenceExposed = false;
    UniqueId classId;
    int32_t templateResourceId = 0;
    int32_t value = 0;
    bool running = false;
    ComRef<IUnknown> initContext;
    ComRef<IMidiModuleHost> moduleHost;
    ParameterRegistry parameters;

private:
    bool timerHeld = false;  // one use of the shared timer between initialize and terminate
};
