#include "entry/PluginFactory.h"

#include <cstring>

#include "host/UniqueId.h"

namespace {
void copyText(char* to, size_t size, const char* text) {
    std::memset(to, 0, size);
    if (text) std::strncpy(to, text, size - 1);
}
}  // namespace

FactoryInfo makeFactoryInfo(const char* text, int32_t value) {
    FactoryInfo info;
    copyText(info.text, sizeof info.text, text);
    info.value = value;
    return info;
}

ClassInfo makeClassInfo(const GUID& classId, const char* name) {
    ClassInfo info;
    std::memset(&info, 0, sizeof info);
    info.classId = classId;
    info.cardinality = 0x7FFFFFFF;
    copyText(info.category, sizeof info.category, "Midi Module Class");
    copyText(info.name, sizeof info.name, name);
    return info;
}

PluginFactory::PluginFactory(const FactoryInfo& info) : factoryInfo(info) { std::memset(rows, 0, sizeof rows); }

const InterfaceEntry* PluginFactory::interfaceTable() {
    static const InterfaceEntry table[] = {
        entry<IModuleFactory>(hostid::IUnknown.bytes()),
        entry<IModuleFactory>(hostid::IModuleFactory.bytes()),
        end(),
    };
    return table;
}

HRESULT STDMETHODCALLTYPE PluginFactory::describeFactory(FactoryInfo* out) {
    if (out) std::memcpy(out, &factoryInfo, sizeof factoryInfo);
    return S_OK;
}

int32_t STDMETHODCALLTYPE PluginFactory::classCount() { return rowCount; }

HRESULT STDMETHODCALLTYPE PluginFactory::describeClass(int32_t index, ClassInfo* out) {
    if (!out || index < 0 || index >= rowCount) return E_INVALIDARG;
    std::memcpy(out, &rows[index].info, sizeof(ClassInfo));
    return S_OK;
}

HRESULT STDMETHODCALLTYPE PluginFactory::createInstance(const GUID* classId, const GUID* iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!classId || !iid) return E_POINTER;
    const UniqueId wanted(classId);
    const Row* row = nullptr;
    for (int32_t i = 0; i < rowCount && !row; ++i)
        if (wanted.equals(&rows[i].info.classId)) row = &rows[i];
    if (!row) return E_NOINTERFACE;
    IUnknown* object = row->create(row->context);
    if (!object) return E_NOINTERFACE;
    void* answer = nullptr;
    const HRESULT hr = object->QueryInterface(*iid, &answer);
    object->Release();
    if (hr == S_OK && answer) {
        *out = answer;
        return S_OK;
    }
    return E_NOINTERFACE;
}

bool PluginFactory::addClass(const ClassInfo* info, CreateFunction create, void* context) {
    if (!info || !create) return false;
    if (rowCount + 1 >= maxRows) return false;
    Row& row = rows[rowCount];
    std::memcpy(&row.info, info, sizeof(ClassInfo));
    row.create = create;
    row.context = context;
    ++rowCount;
    return true;
}

PluginFactory& theFactory() {
    static PluginFactory factory(makeFactoryInfo("Cakewalk MIDI Filter", 1));
    return factory;
}
