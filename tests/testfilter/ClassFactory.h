// The class factory of one test filter or page class.
#pragma once

#include "ControlState.h"
#include "interfaces/ComExtras.h"

namespace testfilter {

class ClassFactory final : public IClassFactory {
public:
    explicit ClassFactory(const GUID& clsid);

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IClassFactory
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

private:
    ~ClassFactory();
    LONG refs_ = 1;
    GUID clsid_;
};

}  // namespace testfilter
