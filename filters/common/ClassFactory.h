// The class factory that DllGetClassObject hands out: one per request, creating
// objects through the function it was made with.
#pragma once

#include <windows.h>
#include <unknwn.h>

typedef HRESULT (*CreateFunction)(REFIID iid, void** out);

class ClassFactory : public IClassFactory {
public:
    explicit ClassFactory(CreateFunction create);
    virtual ~ClassFactory();

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

private:
    volatile LONG refCount_ = 1;
    CreateFunction create_;
};

// A new factory for create, queried for iid (the caller's reference only).
HRESULT getClassFactory(CreateFunction create, REFIID iid, void** out);
