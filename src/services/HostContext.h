// What a filter sees as its host: tempo, meter, key, names, timer switch, direct
// output and the current position, all answered from the host's own services.
#pragma once

#include <windows.h>
#include <cstdint>

#include "host/ComObject.h"
#include "interfaces/ComExtras.h"
#include "interfaces/HostInterfaces.h"
#include "interfaces/MfxInterfaces.h"
#include "services/EventConverter.h"

class HostContext : public ComObject<HostContext, lifetime::Owned, IMfxTempoQuery, IMfxMeterQuery, IMfxKeyQuery,
                                      IMfxNameProvider, IMfxTimerControl, IMfxEventOutput, IMfxHostProperties> {
public:
    // Heap only, count 1 (the creator's); the last Release destroys it. A null
    // host object, or one that lacks an interface, leaves that service missing.
    explicit HostContext(IUnknown* hostObject);
    ~HostContext() override;

    static const InterfaceEntry* interfaceTable();

    // IMfxTempoQuery
    int32_t STDMETHODCALLTYPE fromRealTime(int32_t realTime) override;
    int32_t STDMETHODCALLTYPE toRealTime(int32_t time) override;
    int32_t STDMETHODCALLTYPE timeBase() override;
    int32_t STDMETHODCALLTYPE tempoIndexAt(int32_t time) override;
    int32_t STDMETHODCALLTYPE tempoCount() override;
    HRESULT STDMETHODCALLTYPE tempoEntry(int32_t index, int32_t* time, int32_t* tempo) override;
    // IMfxMeterQuery
    HRESULT STDMETHODCALLTYPE timeToMeasure(int32_t time, int32_t* measure, int32_t* beat,
                                            int32_t* tick) override;
    int32_t STDMETHODCALLTYPE measureToTime(int32_t measure, int32_t beat, int32_t tick) override;
    int32_t STDMETHODCALLTYPE meterIndexAt(int32_t time) override;
    int32_t STDMETHODCALLTYPE meterCount() override;
    HRESULT STDMETHODCALLTYPE meterEntry(int32_t index, int32_t* time, int32_t* numerator,
                                         int32_t* denominator) override;
    // IMfxKeyQuery
    int32_t STDMETHODCALLTYPE keyIndexAt(int32_t time) override;
    int32_t STDMETHODCALLTYPE keyCount() override;
    HRESULT STDMETHODCALLTYPE keyEntry(int32_t index, int32_t* first, int32_t* second) override;
    // IMfxNameProvider
    HRESULT STDMETHODCALLTYPE numberNameTables(IMfxNameTableList** out) override;
    HRESULT STDMETHODCALLTYPE numberNameTables2(IMfxNameTableList** out) override;
    HRESULT STDMETHODCALLTYPE controllerNameTables(IMfxNameTableList** out) override;
    // IMfxTimerControl
    HRESULT STDMETHODCALLTYPE timerPeriod(int32_t* period) override;
    HRESULT STDMETHODCALLTYPE startTimer() override;
    HRESULT STDMETHODCALLTYPE stopTimer() override;
    // IMfxEventOutput
    HRESULT STDMETHODCALLTYPE sendEvent(uint32_t ignored, const MfxEvent* event) override;
    // IMfxHostProperties
    HRESULT STDMETHODCALLTYPE reserved3(uint32_t a, uint32_t b) override;
    HRESULT STDMETHODCALLTYPE reserved4(uint32_t a, uint32_t b) override;
    HRESULT STDMETHODCALLTYPE reserved5(uint32_t a, uint32_t b) override;
    HRESULT STDMETHODCALLTYPE getProperty(uint32_t flags, int32_t* record) override;

    // What the filter instance uses.
    IMfxTempoQuery* primary() { return static_cast<IMfxTempoQuery*>(this); }
    IMfxEventOutput* eventOutput() { return static_cast<IMfxEventOutput*>(this); }
    bool timerRequested() const { return timerRequested_ != 0; }

private:
    HRESULT newNameTableList(int32_t kind, IMfxNameTableList** out);

    ComRef<IHostTransport> transport_;
    ComRef<IUnknown> hostObject_;
    ComRef<IHostEventServices> events_;
    ComRef<IHostTimeConversion> timeConversion_;
    EventConverter converter_;
    int32_t timerRequested_ = 0;
};
