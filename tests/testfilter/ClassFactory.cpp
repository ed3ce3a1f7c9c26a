#include "ClassFactory.h"

#include "TestFilter.h"
#include "TestPropertyPage.h"

#include <new>

namespace testfilter {

ClassFactory::ClassFactory(const GUID& clsid) : clsid_(clsid) { InterlockedIncrement(&state().factoriesAlive); }

ClassFactory::~ClassFactory() { InterlockedDecrement(&state().factoriesAlive); }

HRESULT ClassFactory::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!IsEqualGUID(iid, comid::IUnknown) && !IsEqualGUID(iid, IID_IClassFactory)) return E_NOINTERFACE;
    *out = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
}

ULONG ClassFactory::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }

ULONG ClassFactory::Release() {
    LONG n = InterlockedDecrement(&refs_);
    if (n == 0) delete this;
    return static_cast<ULONG>(n);
}

HRESULT ClassFactory::CreateInstance(IUnknown* outer, REFIID iid, void** out) {
    const bool page = isPageClass(clsid_);
    const int32_t site = page ? TfPageCreate : TfCreate;
    logCall(0, site, clsid_, page ? "page.create" : "create");
    raiseIfScripted(site);
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    HRESULT hr = scriptedResult(site);
    if (hr != S_OK) return hr;
    IUnknown* object = page ? static_cast<IUnknown*>(new (std::nothrow) TestPropertyPage(clsid_))
                            : static_cast<IUnknown*>(static_cast<IMfxFilterPlugin*>(new (std::nothrow) TestFilter(clsid_)));
    if (!object) return E_OUTOFMEMORY;
    hr = object->QueryInterface(iid, out);
    object->Release();
    return hr;
}

HRESULT ClassFactory::LockServer(BOOL lock) {
    if (lock)
        InterlockedIncrement(&state().serverLocks);
    else
        InterlockedDecrement(&state().serverLocks);
    return S_OK;
}

}  // namespace testfilter
