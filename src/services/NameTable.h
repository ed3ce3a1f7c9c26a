// One generated table of 128 value names, handed to a filter that asks for names.
#pragma once

#include <windows.h>
#include <cstdint>

#include "host/ComObject.h"
#include "interfaces/MfxInterfaces.h"

// Copies source into destination, cut to capacity - 1 characters and always
// terminated; a capacity of 0 or less (or a null destination) writes nothing.
void copyText(char* destination, const char* source, int32_t capacity);

class NameTable : public ComObject<NameTable, lifetime::Counted, IMfxNameTable> {
public:
    // Kinds 0 and 2 name values by number, kind 1 by controller number.
    explicit NameTable(int32_t kind) : kind_(kind) {}

    static const InterfaceEntry* interfaceTable();
    HRESULT STDMETHODCALLTYPE rangeText(char* buffer, int32_t capacity) override;
    HRESULT STDMETHODCALLTYPE valueCount(int32_t* out) override;
    HRESULT STDMETHODCALLTYPE valueName(int32_t value, char* buffer, int32_t capacity) override;

    int32_t kind() const { return kind_; }

private:
    const int32_t kind_;
};
