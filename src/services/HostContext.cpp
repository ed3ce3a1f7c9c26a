#include "services/HostContext.h"

#include <new>

#include "host/UniqueId.h"
#include "services/NameTableList.h"
#include "platform/WrapInt.h"

namespace {
const int32_t DefaultTimerPeriod = 20;
const int32_t HostRealTimePerUnit = 1000;
const int32_t CurrentPosition = 3;  // the one host property
}  // namespace

HostContext::HostContext(IUnknown* hostObject) {
    if (!hostObject) return;
    hostObject_.share(hostObject);
    hostObject->QueryInterface(hostid::IHostEventServices.guid(), events_.putVoid());
    hostObject->QueryInterface(hostid::IHostTimeConversion.guid(), timeConversion_.putVoid());
    hostObject->QueryInterface(hostid::IHostTransport.guid(), transport_.putVoid());
    converter_.setEvents(events_.get());
}

HostContext::~HostContext() {
    converter_.setEvents(nullptr);
    events_.reset();
    timeConversion_.reset();
    transport_.reset();
    hostObject_.reset();
}

const InterfaceEntry* HostContext::interfaceTable() {
    static const InterfaceEntry table[] = {
        entry<IMfxTempoQuery>(&comid::IUnknown),
        entry<IMfxTempoQuery>(&mfxid::IMfxTempoQuery),
        entry<IMfxMeterQuery>(&mfxid::IMfxMeterQuery),
        entry<IMfxKeyQuery>(&mfxid::IMfxKeyQuery),
        entry<IMfxNameProvider>(&mfxid::IMfxNameProvider),
        entry<IMfxTimerControl>(&mfxid::IMfxTimerControl),
        entry<IMfxEventOutput>(&mfxid::IMfxEventOutput),
        entry<IMfxHostProperties>(&mfxid::IMfxHostProperties),
        end(),
    };
    return table;
}

// ---- tempo ----------------------------------------------------------------

int32_t STDMETHODCALLTYPE HostContext::fromRealTime(int32_t realTime) {
    if (!timeConversion_) return 0;
    return timeConversion_->realTimeToTime(int32_t(uint32_t(realTime) * uint32_t(HostRealTimePerUnit)));
}

int32_t STDMETHODCALLTYPE HostContext::toRealTime(int32_t time) {
    if (!timeConversion_) return 0;
    return timeConversion_->timeToRealTime(time) / HostRealTimePerUnit;  // C++ rounds toward zero
}

int32_t STDMETHODCALLTYPE HostContext::timeBase() { return timeConversion_ ? timeConversion_->timeBase() : 0; }

int32_t STDMETHODCALLTYPE HostContext::tempoIndexAt(int32_t time) {
    return timeConversion_ ? timeConversion_->tempoIndexAt(time) : 0;
}

int32_t STDMETHODCALLTYPE HostContext::tempoCount() { return timeConversion_ ? timeConversion_->tempoCount() : 0; }

HRESULT STDMETHODCALLTYPE HostContext::tempoEntry(int32_t index, int32_t* time, int32_t* tempo) {
    if (!time || !tempo) return E_POINTER;
    if (!timeConversion_) return E_UNEXPECTED;
    if (index == -1) {
        if (!transport_ || !events_) return E_UNEXPECTED;
        const int32_t position = transport_->position();
        SongInfo song = {};
        events_->songInfo(position, &song);
        *time = position;
        *tempo = song.tempo;
        return S_OK;
    }
    int32_t t = 0, v = 0;
    if (timeConversion_->tempoEntry(index, &t, &v) != 0) return E_UNEXPECTED;
    *time = t;
    *tempo = v;
    return S_OK;
}

// ---- meter ----------------------------------------------------------------

HRESULT STDMETHODCALLTYPE HostContext::timeToMeasure(int32_t time, int32_t* measure, int32_t* beat,
                                                     int32_t* tick) {
    if (!measure || !beat || !tick) return E_POINTER;
    if (!timeConversion_) return E_UNEXPECTED;
    int32_t m = 0, b = 0, t = 0;
    if (timeConversion_->timeToMeasure(time, &m, &b, &t) != 0) return E_UNEXPECTED;
    // The filter counts measures and beats from 1, the host from 0.
    *measure = wrap::add(m, 1);
    *beat = wrap::add(b, 1);
    *tick = t;
    return S_OK;
}

int32_t STDMETHODCALLTYPE HostContext::measureToTime(int32_t measure, int32_t beat, int32_t tick) {
    if (!timeConversion_) return 0;
    return timeConversion_->measureToTime(wrap::sub(measure, 1), wrap::sub(beat, 1), tick);
}

int32_t STDMETHODCALLTYPE HostContext::meterIndexAt(int32_t time) { return 0; }

int32_t STDMETHODCALLTYPE HostContext::meterCount() { return 1; }

HRESULT STDMETHODCALLTYPE HostContext::meterEntry(int32_t index, int32_t* time, int32_t* numerator,
                                                  int32_t* denominator) {
    if (!events_) return E_UNEXPECTED;
    SongInfo song = {};
    events_->songInfo(index, &song);  // the index serves as the time
    if (time) *time = 0;
    if (numerator) *numerator = song.meterNumerator;
    if (denominator) *denominator = song.meterDenominator >> 1;
    return S_OK;
}

// ---- key ------------------------------------------------------------------

int32_t STDMETHODCALLTYPE HostContext::keyIndexAt(int32_t time) { return 0; }

int32_t STDMETHODCALLTYPE HostContext::keyCount() { return 1; }

HRESULT STDMETHODCALLTYPE HostContext::keyEntry(int32_t index, int32_t* first, int32_t* second) {
    if (!first || !second) return E_POINTER;
    *first = 0;
    *second = 0;
    return S_OK;
}

// ---- names ----------------------------------------------------------------

HRESULT HostContext::newNameTableList(int32_t kind, IMfxNameTableList** out) {
    if (!out) return E_POINTER;
    *out = new (std::nothrow) NameTableList(kind);
    return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT STDMETHODCALLTYPE HostContext::numberNameTables(IMfxNameTableList** out) { return newNameTableList(0, out); }

HRESULT STDMETHODCALLTYPE HostContext::numberNameTables2(IMfxNameTableList** out) {
    return newNameTableList(2, out);
}

HRESULT STDMETHODCALLTYPE HostContext::controllerNameTables(IMfxNameTableList** out) {
    return newNameTableList(1, out);
}

// ---- timer ----------------------------------------------------------------

HRESULT STDMETHODCALLTYPE HostContext::timerPeriod(int32_t* period) {
    if (!period) return E_POINTER;
    const int32_t p = events_ ? events_->timerPeriod() : DefaultTimerPeriod;
    *period = p == 0 ? DefaultTimerPeriod : p;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE HostContext::startTimer() {
    timerRequested_ = 1;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE HostContext::stopTimer() {
    timerRequested_ = 0;
    return S_OK;
}

// ---- direct output --------------------------------------------------------

HRESULT STDMETHODCALLTYPE HostContext::sendEvent(uint32_t ignored, const MfxEvent* event) {
    if (!event) return E_POINTER;
    if (!events_) return E_UNEXPECTED;
    const MfxEvent copy = *event;
    HostEvent handles[4] = {};
    int32_t count = 0;
    if (copy.route == 0xFF) {
        // Unsplit: the host takes the event over as it is.
        if (!converter_.fromMfxEvent(copy, handles, &count, false)) return E_UNEXPECTED;
        for (int32_t i = 0; i < count; ++i) {
            events_->setLive(handles[i], 1);
            events_->handOverEvent(handles[i]);
        }
    } else {
        if (!converter_.fromMfxEvent(copy, handles, &count, true)) return E_UNEXPECTED;
        for (int32_t i = 0; i < count; ++i) {
            events_->setLive(handles[i], 1);
            events_->outputEventNow(handles[i]);
            events_->releaseEvent(handles[i]);
        }
    }
    return S_OK;
}

// ---- properties -----------------------------------------------------------

HRESULT STDMETHODCALLTYPE HostContext::reserved3(uint32_t a, uint32_t b) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE HostContext::reserved4(uint32_t a, uint32_t b) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE HostContext::reserved5(uint32_t a, uint32_t b) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE HostContext::getProperty(uint32_t flags, int32_t* record) {
    if (!record || record[0] != CurrentPosition || flags != 0) return E_NOTIMPL;
    if (!transport_) return E_UNEXPECTED;
    record[2] = transport_->position();
    return S_OK;
}
