// The test filter object: an MFX filter that does what the control state says and logs
// every call.
#pragma once

#include "ControlState.h"
#include "interfaces/ComExtras.h"
#include "interfaces/MfxInterfaces.h"

namespace testfilter {

class TestFilter final : public IMfxFilterPlugin,
                   public IMfxOutputConnect,
                   public ISpecifyPropertyPages,
                   public IPersistStream {
public:
    explicit TestFilter(const GUID& clsid);

    // The filter that was last attached to a host and is still attached; null if none.
    static TestFilter* current();
    // The serial of the live filter whose IUnknown is unknown, 0 when it is none of ours.
    static int32_t serialOf(IUnknown* unknown);

    HRESULT startTimer();
    HRESULT stopTimer();
    HRESULT sendEvent(const MfxEvent* e);
    HRESULT queryHost();

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IMfxFilterPlugin
    HRESULT STDMETHODCALLTYPE attachHost(IUnknown* host) override;
    HRESULT STDMETHODCALLTYPE detachHost() override;
    HRESULT STDMETHODCALLTYPE beginPlayback(int32_t time, IMfxEventList* out) override;
    HRESULT STDMETHODCALLTYPE loopPlayback(int32_t restart, int32_t end, IMfxEventList* out) override;
    HRESULT STDMETHODCALLTYPE endPlayback(int32_t time, IMfxEventList* out) override;
    HRESULT STDMETHODCALLTYPE filterEvents(int32_t first, int32_t last, IMfxEventList* in,
                                           IMfxEventList* out) override;
    HRESULT STDMETHODCALLTYPE filterLiveEvents(IMfxShortEventList* in, IMfxShortEventList* out) override;

    // IMfxOutputConnect
    HRESULT STDMETHODCALLTYPE setEventOutput(IMfxEventOutput* output) override;

    // ISpecifyPropertyPages
    HRESULT STDMETHODCALLTYPE GetPages(CAUUID* pages) override;

    // IPersistStream
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override;
    HRESULT STDMETHODCALLTYPE IsDirty() override;
    HRESULT STDMETHODCALLTYPE Load(IStream* stream) override;
    HRESULT STDMETHODCALLTYPE Save(IStream* stream, BOOL clearDirty) override;
    HRESULT STDMETHODCALLTYPE GetSizeMax(ULARGE_INTEGER* size) override;

private:
    ~TestFilter();
    size_t note(int32_t site, const std::string& text, std::initializer_list<int32_t> args = {});
    // Scripted actions of a site, then its scripted exception.
    // The scripted actions and misbehaviour of a site, given its interface arguments,
    // then its scripted exception.
    void actAndRaise(int32_t site, std::initializer_list<IUnknown*> args = {});
    void reenter();
    void addGarbage(IMfxEventList* out);
    void runActions(int32_t site);
    void addFixedOutput(int32_t site, IMfxEventList* out);
    void readLoad(IStream* stream);

    LONG refs_ = 1;
    GUID clsid_;
    int32_t serial_;
    ComRef<IUnknown> host_;
    ComRef<IMfxEventOutput> output_;
};

}  // namespace testfilter
