#include "common/ClassFactory.h"

#include <new>

#include "common/ServerModule.h"
#include "interfaces/ComExtras.h"

namespace {
const GUID kIClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
}

ClassFactory::ClassFactory(CreateFunction create) : create_(create) { server::objectCreated(); }
ClassFactory::~ClassFactory() { server::objectDestroyed(); }

HRESULT STDMETHODCALLTYPE ClassFactory::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    if (sameId(&iid, &comid::IUnknown) || sameId(&iid, &kIClassFactory)) {
        *out = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE ClassFactory::AddRef() { return InterlockedIncrement(&refCount_); }

ULONG STDMETHODCALLTYPE ClassFactory::Release() {
    LONG n = InterlockedDecrement(&refCount_);
    if (n == 0) delete this;
    return n;
}

HRESULT STDMETHODCALLTYPE ClassFactory::CreateInstance(IUnknown* outer, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    return create_(iid, out);
}

HRESULT STDMETHODCALLTYPE ClassFactory::LockServer(BOOL lock) {
    server::lock(lock != FALSE);
    return S_OK;
}

HRESULT getClassFactory(CreateFunction create, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    ClassFactory* factory = new (std::nothrow) ClassFactory(create);
    if (!factory) return E_OUTOFMEMORY;
    HRESULT hr = factory->QueryInterface(iid, out);
    factory->Release();
    return hr;
}
