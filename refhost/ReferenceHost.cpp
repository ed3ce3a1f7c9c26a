#include "ReferenceHost.h"

#include <cstring>

#include "host/UniqueId.h"

ReferenceHost::ReferenceHost() {
    for (int i = 0; i < kInterfaces; ++i) {
        offered_[i] = true;
        queries_[i] = 0;
    }
}

ReferenceHost::~ReferenceHost() = default;

HRESULT STDMETHODCALLTYPE ReferenceHost::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    struct Answer {
        const UniqueId& id;
        Interface which;
        IUnknown* pointer;
    } answers[] = {
        {hostid::IUnknown, Interface::Unknown, static_cast<IUnknown*>(this)},
        {hostid::IMidiModuleHost, Interface::MidiModuleHost, &midiPort_},
        {hostid::IHostEventServices, Interface::EventServices, &servicesPort_},
        {hostid::IHostTimeConversion, Interface::TimeConversion, &timePort_},
        {hostid::IHostTransport, Interface::Transport, &transportPort_},
    };
    for (const Answer& a : answers) {
        int i = static_cast<int>(a.which);
        if (a.id.equals(&iid) && offered_[i]) {
            ++queries_[i];
            AddRef();
            *out = a.pointer;
            return S_OK;
        }
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE ReferenceHost::AddRef() { return static_cast<ULONG>(++count_); }

ULONG STDMETHODCALLTYPE ReferenceHost::Release() {
    long now = --count_;
    if (now <= 0) {
        delete this;
        return 0;
    }
    return static_cast<ULONG>(now);
}

void ReferenceHost::offer(Interface which, bool on) { offered_[static_cast<int>(which)] = on; }

bool ReferenceHost::offered(Interface which) const { return offered_[static_cast<int>(which)]; }

int32_t ReferenceHost::queryCount(Interface which) const { return queries_[static_cast<int>(which)]; }

bool ReferenceHost::fillSongInfo(int32_t time, SongInfo* out) const {
    if (!out) return false;
    SongInfo info;
    std::memset(&info, 0, sizeof info);
    TimeMap::Meter meter = timeMap_.meterAt(time);
    info.tempo = timeMap_.tempoAt(time);
    info.meterNumerator = static_cast<int16_t>(meter.numerator);
    info.meterDenominator = static_cast<int16_t>(meter.denominator * 2);
    *out = info;
    return true;
}

int32_t ReferenceHost::misdirect(Via via, int32_t slot) {
    ScopedLock g(misdirectedLock_);
    misdirected_.push_back({via, slot});
    return 1;
}

int32_t ReferenceHost::misdirectedCalls() const {
    ScopedLock g(misdirectedLock_);
    return static_cast<int32_t>(misdirected_.size());
}

std::vector<ReferenceHost::Misdirected> ReferenceHost::misdirected() const {
    ScopedLock g(misdirectedLock_);
    return misdirected_;
}

// Slots 28, 30 and 32 belong to the event services, 31 to the module host; a call
// through the other interface is answered "not done" and counted.
int32_t ReferenceHost::timerPeriodVia(Via via) {
    if (via != Via::EventServices) {
        misdirect(via, 28);
        return 0;
    }
    return timerPeriod_;
}

int32_t ReferenceHost::songInfoVia(Via via, int32_t time, SongInfo* out) {
    if (via != Via::EventServices) return misdirect(via, 30);
    return fillSongInfo(time, out) ? 0 : 1;
}

int32_t ReferenceHost::setActiveVia(Via via, uint32_t flag) {
    if (via != Via::MidiModuleHost) return misdirect(via, 31);
    ++setActiveCalls_;
    lastActive_ = flag;
    return 0;
}

int32_t ReferenceHost::handOverVia(Via via, HostEvent event) {
    if (via != Via::EventServices) return misdirect(via, 32);
    return store_.handOverEvent(event, position_, via);
}

// ---- time conversion ----

int32_t STDMETHODCALLTYPE ReferenceHost::TimePort::timeBase() { return host_->timeMap_.timeBase(); }

int32_t STDMETHODCALLTYPE ReferenceHost::TimePort::timeToRealTime(int32_t time) {
    return host_->timeMap_.timeToRealTime(time);
}

int32_t STDMETHODCALLTYPE ReferenceHost::TimePort::realTimeToTime(int32_t realTime) {
    return host_->timeMap_.realTimeToTime(realTime);
}

int32_t STDMETHODCALLTYPE ReferenceHost::TimePort::tempoCount() { return host_->timeMap_.tempoCount(); }

int32_t STDMETHODCALLTYPE ReferenceHost::TimePort::tempoEntry(int32_t index, int32_t* time,
                                                              int32_t* tempo) {
    TimeMap::Tempo entry;
    if (!time || !tempo || !host_->timeMap_.tempoEntry(index, &entry)) return 1;
    *time = entry.time;
    *tempo = entry.tempo;
    return 0;
}

int32_t STDMETHODCALLTYPE ReferenceHost::TimePort::tempoIndexAt(int32_t time) {
    return host_->timeMap_.tempoIndexAt(time);
}

int32_t STDMETHODCALLTYPE ReferenceHost::TimePort::timeToMeasure(int32_t time, int32_t* measure,
                                                                 int32_t* beat, int32_t* tick) {
    if (!measure || !beat || !tick) return 1;
    host_->timeMap_.timeToMeasure(time, measure, beat, tick);
    return 0;
}

int32_t STDMETHODCALLTYPE ReferenceHost::TimePort::measureToTime(int32_t measure, int32_t beat,
                                                                 int32_t tick) {
    return host_->timeMap_.measureToTime(measure, beat, tick);
}
