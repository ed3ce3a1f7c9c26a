// A list of name tables as a filter's name provider request receives it: always one table.
#pragma once

#include <windows.h>
#include <cstdint>

#include "host/ComObject.h"
#include "interfaces/MfxInterfaces.h"

class NameTableList : public ComObject<NameTableList, lifetime::Counted, IMfxNameTableList> {
public:
    explicit NameTableList(int32_t kind) : kind_(kind) {}

    static const InterfaceEntry* interfaceTable();
    HRESULT STDMETHODCALLTYPE count(int32_t* out) override;
    // A new table of the list's kind whatever the index; null when out of memory.
    HRESULT STDMETHODCALLTYPE table(int32_t index, IMfxNameTable** out) override;

    int32_t kind() const { return kind_; }

private:
    const int32_t kind_;
};
