#include "host/ModuleObject.h"

#include <cstdio>
#include <cstring>
#include <utility>

#include "platform/ModuleHandle.h"
#include "host/SharedTimer.h"

ModuleObject::ModuleObject(const void* classId16)
    : classId(classId16), parameters(static_cast<IParameterSet*>(this)) {}

ModuleObject::~ModuleObject() {
    // A host that never called terminate must not keep the timer running.
    if (timerHeld) releaseTimer();
}

const InterfaceEntry* ModuleObject::interfaceTable() {
    static const InterfaceEntry table[] = {
        entry<IMidiModule>(hostid::IUnknown.bytes()),
        entry<IMidiModule>(hostid::IMidiModule.bytes()),
        entry<IMidiModule>(hostid::IModuleBase.bytes()),
        entry<IParameterSet>(hostid::IParameterSet.bytes()),
        entry<IParameterSet>(hostid::IParameterSet2.bytes()),
        entry<IEditorDescription>(hostid::IEditorDescription.bytes()),
        entry<IEditorDescription>(hostid::IEditorDescription2.bytes()),
        entry<IViewFactory>(hostid::IViewFactory.bytes()),
        entry<IStatePersistence>(hostid::IStatePersistence.bytes()),
        end(),
    };
    return table;
}

bool ModuleObject::answers(const void* id) const {
    return persistenceExposed || !hostid::IStatePersistence.equals(id);
}

HRESULT STDMETHODCALLTYPE ModuleObject::initialize(IUnknown* context) {
    if (!context) return E_INVALIDARG;
    ComRef<IMidiModuleHost> host;
    if (context->QueryInterface(hostid::IMidiModuleHost.guid(), host.putVoid()) != S_OK || !host)
        return E_INVALIDARG;
    // A second initialize without terminate replaces the references and keeps one timer use.
    moduleHost = std::move(host);
    initContext.share(context);
    if (!timerHeld) {
        acquireTimer();
        timerHeld = true;
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ModuleObject::terminate() {
    // Only a use this object took is given back, so a stray terminate can't stop
    // another object's timer.
    if (timerHeld) {
        releaseTimer();
        timerHeld = false;
    }
    moduleHost.reset();
    initContext.reset();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ModuleObject::getInfo(ModuleInfo* info) {
    if (!info) return E_POINTER;
    if (info->size >= sizeof(ModuleInfo)) info->hasEditor = hasEditor;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ModuleObject::setValue(int32_t newValue) {
    value = newValue;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ModuleObject::onEvent(HostEvent event) {
    if (!moduleHost) return E_UNEXPECTED;
    return HRESULT(moduleHost->outputEventNow(event));
}

HRESULT STDMETHODCALLTYPE ModuleObject::process(int32_t, int32_t, uint8_t) { return S_OK; }
HRESULT STDMETHODCALLTYPE ModuleObject::reposition(uint32_t) { return S_OK; }
HRESULT STDMETHODCALLTYPE ModuleObject::cycleJump(int32_t, int32_t) { return S_OK; }

HRESULT STDMETHODCALLTYPE ModuleObject::stop(int32_t) {
    running = false;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ModuleObject::start(int32_t) {
    running = true;
    return S_OK;
}

int32_t STDMETHODCALLTYPE ModuleObject::findByName(const char* name, ParameterEntry** out) {
    if (!out) return 1;
    *out = parameters.findByName(name);
    return *out ? 0 : 1;
}

int32_t STDMETHODCALLTYPE ModuleObject::queryEntry(uint32_t, uint32_t) { return 1; }

int32_t STDMETHODCALLTYPE ModuleObject::entryCount() { return parameters.count(); }

int32_t STDMETHODCALLTYPE ModuleObject::nameByIndex(int32_t index, char* buffer128) {
    const char* name = parameters.nameAt(index);
    if (!name || !buffer128) return 1;
    std::strncpy(buffer128, name, ParameterRegistry::nameSize);
    buffer128[ParameterRegistry::nameSize - 1] = 0;
    return 0;
}

int32_t STDMETHODCALLTYPE ModuleObject::findById(uint32_t id, ParameterEntry** out) {
    if (!out) return 1;
    *out = parameters.findById(id);
    return *out ? 0 : 1;
}

int32_t STDMETHODCALLTYPE ModuleObject::getClassId(uint8_t* out16) {
    if (!out16) return 1;
    std::memcpy(out16, classId.bytes(), 16);
    return 0;
}

int32_t STDMETHODCALLTYPE ModuleObject::setState(const void*, int32_t) { return 1; }

int32_t STDMETHODCALLTYPE ModuleObject::getState(void*, int32_t* size) {
    if (size) *size = 0;
    return 1;
}

bool ModuleObject::isEditorView(const char* viewName) {
    return viewName && (std::strcmp(viewName, "editor") == 0 || std::strcmp(viewName, "inspector") == 0);
}

int32_t STDMETHODCALLTYPE ModuleObject::getViewParameters(const char* viewName, IParameterSet** out) {
    if (!out) return 1;
    *out = nullptr;
    if (!isEditorView(viewName)) return 1;
    AddRef();
    *out = static_cast<IParameterSet*>(this);
    return 0;
}

int32_t STDMETHODCALLTYPE ModuleObject::getTemplate(const char* viewName, char* nameOut, char* textOut,
                                                    int32_t* sizeOut) {
    if (!isEditorView(viewName)) return 1;
    if (nameOut) std::strcpy(nameOut, viewName);
    return loadResource(templateResourceId, textOut, sizeOut) ? 0 : 1;
}

int32_t STDMETHODCALLTYPE ModuleObject::getResource(const char* number, void* buffer, int32_t* size) {
    int id = 0;
    if (!number || std::sscanf(number, "%d", &id) != 1) id = 0;
    return loadResource(id, buffer, size) ? 0 : 1;
}

bool ModuleObject::loadResource(int32_t id, void* buffer, int32_t* size) {
    // Above 0xFFFF the number would be taken for a resource name pointer.
    if (id <= 0 || id > 0xFFFF) return false;
    HMODULE module = moduleInstance();
    HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(10));
    if (!resource) return false;
    const DWORD bytes = SizeofResource(module, resource);
    if (size) *size = int32_t(bytes);
    if (buffer) {
        HGLOBAL loaded = LoadResource(module, resource);
        const void* data = loaded ? LockResource(loaded) : nullptr;
        if (!data) return false;
        std::memcpy(buffer, data, bytes);
    }
    return true;
}

int32_t STDMETHODCALLTYPE ModuleObject::createView(const char*, const ViewRect*, IModuleView** out) {
    if (out) *out = nullptr;
    return 1;
}

int32_t STDMETHODCALLTYPE ModuleObject::probeView(uint32_t) { return 1; }
