#include "services/NameTableList.h"

#include <new>

#include "interfaces/ComExtras.h"
#include "services/NameTable.h"

const InterfaceEntry* NameTableList::interfaceTable() {
    static const InterfaceEntry table[] = {
        entry<IMfxNameTableList>(&comid::IUnknown),
        entry<IMfxNameTableList>(&mfxid::IMfxNameTableList),
        end(),
    };
    return table;
}

HRESULT STDMETHODCALLTYPE NameTableList::count(int32_t* out) {
    if (!out) return E_POINTER;
    *out = 1;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE NameTableList::table(int32_t index, IMfxNameTable** out) {
    if (!out) return E_POINTER;
    *out = new (std::nothrow) NameTable(kind_);
    return *out ? S_OK : E_OUTOFMEMORY;
}
