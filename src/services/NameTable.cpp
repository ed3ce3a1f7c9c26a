#include "services/NameTable.h"

#include <cstdio>
#include <cstring>

#include "interfaces/ComExtras.h"

namespace {
const int32_t KindCount = 3;
const char* const RangeTexts[KindCount] = {"0..127", "0..127", "0..127"};
const char* const ValueFormats[KindCount] = {"%d", "CC %d", "%d"};
bool knownKind(int32_t kind) { return kind >= 0 && kind < KindCount; }
}  // namespace

void copyText(char* destination, const char* source, int32_t capacity) {
    if (!destination || capacity <= 0) return;
    if (!source) source = "";
    size_t n = std::strlen(source) + 1;
    if (n > size_t(capacity)) n = size_t(capacity);
    std::memcpy(destination, source, n);
    destination[n - 1] = 0;
}

const InterfaceEntry* NameTable::interfaceTable() {
    static const InterfaceEntry table[] = {
        entry<IMfxNameTable>(&comid::IUnknown),
        entry<IMfxNameTable>(&mfxid::IMfxNameTable),
        end(),
    };
    return table;
}

HRESULT STDMETHODCALLTYPE NameTable::rangeText(char* buffer, int32_t capacity) {
    if (buffer && knownKind(kind_)) copyText(buffer, RangeTexts[kind_], capacity);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE NameTable::valueCount(int32_t* out) {
    if (out) *out = 128;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE NameTable::valueName(int32_t value, char* buffer, int32_t capacity) {
    if (!buffer) return S_OK;
    char text[256] = {};
    if (knownKind(kind_)) std::snprintf(text, sizeof text, ValueFormats[kind_], int(value));
    copyText(buffer, text, capacity);
    return S_OK;
}
