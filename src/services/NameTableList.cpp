#include "services/NameTableList.h"

#include <new>

#include "interfaces/ComExtras.h"
#include "services/NameTable.h"

HRESULT STDMETHODCALLTYPE NameTableList::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    if (sameGuid(&iid, comid::IUnknown) || sameGuid(&iid, IID_IMfxNameTableList)) {
        *out = static_cast<IMfxNameTableList*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE NameTableList::AddRef() { return ULONG(++refCount_); }

ULONG STDMETHODCALLTYPE NameTableList::Release() {
    if (--refCount_ <= 0) {
        delete this;
        return 0;
    }
    return ULONG(refCount_);
}

HRESULT STDMETHODCALLTYPE NameTableList::count(int32_t* out) {
    if (!out) return E_POINTER;
    *out = 1;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE NameTableList::table(int32_t index, IMfxNameTable** out) {
    if (!out) return E_POINTER;
    *out = new (std::nothrow) NameTable(kind_);
    return S_OK;
}
