// A host for the services' tests: event operations over a table of events, time
// conversion and transport with set answers, and a record of the calls that change
// something or ask the host to convert.
#pragma once

#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

#include "host/UniqueId.h"
#include "interfaces/ComExtras.h"
#include "interfaces/HostInterfaces.h"

namespace fake {

struct Event {
    uint32_t status = 0;  // as created
    int32_t channel = -1;
    uint32_t data1 = 0, data2 = 0, duration = 0, releaseVelocity = 0;
    int32_t time = 0;
    uint32_t live = 0;
    std::vector<uint8_t> sysex;
};

inline std::string format(const char* name, std::initializer_list<long long> args) {
    std::string s = name;
    s += '(';
    bool first = true;
    for (long long a : args) {
        if (!first) s += ',';
        s += std::to_string(a);
        first = false;
    }
    return s + ')';
}

class Host : public IHostEventServices, public IHostTimeConversion, public IHostTransport {
public:
    // Which interfaces QueryInterface offers.
    bool offersEvents = true, offersTime = true, offersTransport = true;
    LONG refs = 1;

    std::map<HostEvent, Event> events;
    HostEvent nextHandle = 1;
    std::vector<std::string> calls;

    // Set answers.
    int32_t period = 0;
    SongInfo song = {};
    int32_t positionAnswer = 0;
    int32_t timeBaseAnswer = 0, tempoCountAnswer = 0, tempoIndexAnswer = 0;
    int32_t realTimeAnswer = 0, timeAnswer = 0, measureTimeAnswer = 0;
    int32_t tempoEntryResult = 0, tempoEntryTime = 0, tempoEntryTempo = 0;
    int32_t measureResult = 0, measureAnswer[3] = {0, 0, 0};

    // Adds an event as the host would give it to the module.
    HostEvent addEvent(uint32_t status, int32_t channel, uint32_t d1, uint32_t d2, int32_t time = 0,
                       uint32_t duration = 0, uint32_t releaseVelocity = 0) {
        Event e;
        e.status = status;
        e.channel = channel;
        e.data1 = d1;
        e.data2 = d2;
        e.time = time;
        e.duration = duration;
        e.releaseVelocity = releaseVelocity;
        events[nextHandle] = e;
        return nextHandle++;
    }
    HostEvent addSysex(std::vector<uint8_t> bytes, int32_t channel = -1) {
        HostEvent h = addEvent(0xF0, channel, 0, 0);
        events[h].sysex = std::move(bytes);
        return h;
    }
    std::vector<std::string> callsNamed(std::initializer_list<const char*> names) const {
        std::vector<std::string> out;
        for (const auto& c : calls)
            for (const char* n : names)
                if (c.compare(0, std::strlen(n) + 1, std::string(n) + "(") == 0) out.push_back(c);
        return out;
    }

    // IUnknown, shared
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (hostid::IUnknown.equals(&iid))
            *out = static_cast<IHostEventServices*>(this);
        else if (offersEvents && hostid::IHostEventServices.equals(&iid))
            *out = static_cast<IHostEventServices*>(this);
        else if (offersTime && hostid::IHostTimeConversion.equals(&iid))
            *out = static_cast<IHostTimeConversion*>(this);
        else if (offersTransport && hostid::IHostTransport.equals(&iid))
            *out = static_cast<IHostTransport*>(this);
        if (!*out) return E_NOINTERFACE;
        ++refs;
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(++refs); }
    ULONG STDMETHODCALLTYPE Release() override { return ULONG(--refs); }

    IUnknown* unknown() { return static_cast<IHostEventServices*>(this); }

    // IHostEventSet
    HostEvent STDMETHODCALLTYPE createEvent(uint32_t status, uint32_t d1, uint32_t d2, uint32_t duration) override {
        HostEvent h = addEvent(status, (status >= 0x80 && status < 0xF0) ? int32_t(status & 0x0F) : -1, d1, d2, 0,
                               duration);
        calls.push_back(format("createEvent", {status, d1, d2, duration}) + "=" + std::to_string(h));
        return h;
    }
    HostEvent STDMETHODCALLTYPE createSysexEvent(const uint8_t* bytes, uint32_t count) override {
        HostEvent h = addSysex(std::vector<uint8_t>(bytes, bytes + count));
        calls.push_back(format("createSysexEvent", {count}) + "=" + std::to_string(h));
        return h;
    }
    HostEvent STDMETHODCALLTYPE copyEvent(HostEvent e) override { return 0; }
    int32_t STDMETHODCALLTYPE releaseEvent(HostEvent e) override {
        calls.push_back(format("releaseEvent", {e}));
        events.erase(e);
        return 0;
    }
    int32_t STDMETHODCALLTYPE outputEvent(HostEvent e) override {
        calls.push_back(format("outputEvent", {e}));
        return 0;
    }
    int32_t STDMETHODCALLTYPE outputEventNow(HostEvent e) override {
        calls.push_back(format("outputEventNow", {e}));
        return 0;
    }
    int32_t STDMETHODCALLTYPE setEventTime(HostEvent e, int32_t t) override {
        calls.push_back(format("setEventTime", {e, t}));
        events[e].time = t;
        return 0;
    }
    int32_t STDMETHODCALLTYPE eventTime(HostEvent e) override { return events[e].time; }
    int32_t STDMETHODCALLTYPE setEventDuration(HostEvent e, uint32_t d) override {
        events[e].duration = d;
        return 0;
    }
    uint32_t STDMETHODCALLTYPE eventDuration(HostEvent e) override { return events[e].duration; }
    int32_t STDMETHODCALLTYPE setLive(HostEvent e, uint32_t flag) override {
        calls.push_back(format("setLive", {e, flag}));
        events[e].live = flag;
        return 0;
    }
    uint8_t STDMETHODCALLTYPE isLive(HostEvent e) override { return uint8_t(events[e].live); }
    int32_t STDMETHODCALLTYPE setEventChannel(HostEvent e, uint32_t c) override {
        calls.push_back(format("setEventChannel", {e, c}));
        events[e].channel = int32_t(c);
        return 0;
    }
    int32_t STDMETHODCALLTYPE eventChannel(HostEvent e) override { return events[e].channel; }
    uint32_t STDMETHODCALLTYPE eventKind(HostEvent e) override { return events[e].status & 0xF0; }
    int32_t STDMETHODCALLTYPE reserved18() override { return 0; }
    uint32_t STDMETHODCALLTYPE eventData1(HostEvent e) override { return events[e].data1; }
    int32_t STDMETHODCALLTYPE reserved20() override { return 0; }
    uint32_t STDMETHODCALLTYPE eventData2(HostEvent e) override { return events[e].data2; }
    int32_t STDMETHODCALLTYPE reserved22() override { return 0; }
    uint32_t STDMETHODCALLTYPE releaseVelocity(HostEvent e) override { return events[e].releaseVelocity; }
    int32_t STDMETHODCALLTYPE setReleaseVelocity(HostEvent e, uint32_t v) override {
        calls.push_back(format("setReleaseVelocity", {e, v}));
        events[e].releaseVelocity = v;
        return 0;
    }
    int32_t STDMETHODCALLTYPE reserved25() override { return 0; }
    int32_t STDMETHODCALLTYPE reserved26() override { return 0; }
    int32_t STDMETHODCALLTYPE reserved27() override { return 0; }
    int32_t STDMETHODCALLTYPE timerPeriod() override { return period; }
    int32_t STDMETHODCALLTYPE reserved29() override { return 0; }
    int32_t STDMETHODCALLTYPE songInfo(int32_t time, SongInfo* out) override {
        calls.push_back(format("songInfo", {time}));
        *out = song;
        return 0;
    }
    int32_t STDMETHODCALLTYPE setActive(uint32_t) override { return 0; }
    int32_t STDMETHODCALLTYPE handOverEvent(HostEvent e) override {
        calls.push_back(format("handOverEvent", {e}));
        return 0;
    }
    uint32_t STDMETHODCALLTYPE sysexLength(HostEvent e) override { return uint32_t(events[e].sysex.size()); }
    const uint8_t* STDMETHODCALLTYPE sysexData(HostEvent e) override {
        return events[e].sysex.empty() ? nullptr : events[e].sysex.data();
    }

    // IHostTimeConversion
    int32_t STDMETHODCALLTYPE timeBase() override { return timeBaseAnswer; }
    int32_t STDMETHODCALLTYPE timeToRealTime(int32_t t) override {
        calls.push_back(format("timeToRealTime", {t}));
        return realTimeAnswer;
    }
    int32_t STDMETHODCALLTYPE realTimeToTime(int32_t r) override {
        calls.push_back(format("realTimeToTime", {r}));
        return timeAnswer;
    }
    int32_t STDMETHODCALLTYPE tempoCount() override { return tempoCountAnswer; }
    int32_t STDMETHODCALLTYPE tempoEntry(int32_t index, int32_t* t, int32_t* v) override {
        calls.push_back(format("tempoEntry", {index}));
        *t = tempoEntryTime;
        *v = tempoEntryTempo;
        return tempoEntryResult;
    }
    int32_t STDMETHODCALLTYPE tempoIndexAt(int32_t t) override {
        calls.push_back(format("tempoIndexAt", {t}));
        return tempoIndexAnswer;
    }
    int32_t STDMETHODCALLTYPE timeToMeasure(int32_t t, int32_t* m, int32_t* b, int32_t* k) override {
        calls.push_back(format("timeToMeasure", {t}));
        *m = measureAnswer[0];
        *b = measureAnswer[1];
        *k = measureAnswer[2];
        return measureResult;
    }
    int32_t STDMETHODCALLTYPE measureToTime(int32_t m, int32_t b, int32_t k) override {
        calls.push_back(format("measureToTime", {m, b, k}));
        return measureTimeAnswer;
    }

    // IHostTransport
    int32_t STDMETHODCALLTYPE position() override {
        calls.push_back("position()");
        return positionAnswer;
    }
};

// Calls slot n of an interface's table as a filter compiled elsewhere would.
template <class R, class... A>
R callSlot(void* iface, int slot, A... args) {
    using Fn = R(STDMETHODCALLTYPE*)(void*, A...);
    return reinterpret_cast<Fn>((*reinterpret_cast<void***>(iface))[slot])(iface, args...);
}

const uint32_t Sentinel = 0xCAFECAFE;

}  // namespace fake
