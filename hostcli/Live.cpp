#include "Live.h"

#include <windows.h>
#include <mmsystem.h>

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "ReferenceHost.h"
#include "Session.h"

namespace {

// Waits on a waitable timer for sub-millisecond wake-ups, dispatching the thread's
// messages meanwhile (the module's shared timer is a thread timer).
class Waiter {
public:
    explicit Waiter(EventStore& clock) : clock_(clock), timer_(CreateWaitableTimerA(nullptr, FALSE, nullptr)) {
        timeBeginPeriod(1);
    }
    ~Waiter() {
        timeEndPeriod(1);
        if (timer_) CloseHandle(timer_);
    }
    Waiter(const Waiter&) = delete;
    Waiter& operator=(const Waiter&) = delete;

    void until(int64_t micros) {
        for (;;) {
            const int64_t left = micros - clock_.clockMicros();
            if (left <= 0) return;
            DWORD r;
            if (timer_) {
                LARGE_INTEGER due;
                due.QuadPart = -left * 10;  // relative, in 100 ns
                SetWaitableTimer(timer_, &due, 0, nullptr, nullptr, FALSE);
                r = MsgWaitForMultipleObjects(1, &timer_, FALSE, INFINITE, QS_ALLINPUT);
            } else {
                r = MsgWaitForMultipleObjects(0, nullptr, FALSE, DWORD((left + 999) / 1000), QS_ALLINPUT);
            }
            if (r == WAIT_FAILED) Sleep(1);
            MSG msg;
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
        }
    }

private:
    EventStore& clock_;
    HANDLE timer_;
};

std::string jsonLine(const LiveLine& line) {
    return nlohmann::ordered_json{{"ms", line.micros / 1000},
                                  {"dir", line.input ? "in" : "out"},
                                  {"bytes", describeOutput(line.event)}}
        .dump();
}

}  // namespace

std::string describeOutput(const EventData& e) {
    char text[8];
    std::string out;
    auto put = [&](unsigned v) {
        std::snprintf(text, sizeof text, out.empty() ? "%02X" : " %02X", v & 0xFF);
        out += text;
    };
    if (e.kind == 0xF0) {
        for (uint8_t b : e.sysex) put(b);
        return out;
    }
    // Created events may carry the channel in their status or only in the channel field.
    unsigned status = e.channel >= 0 ? (e.kind | unsigned(e.channel)) : e.status;
    put(status);
    put(e.data1);
    if (status < 0xF0 && dataByteCount(uint8_t(status)) == 2) put(e.data2);
    return out;
}

void playLive(IMidiModule* module, ReferenceHost& host, const LiveSettings& settings,
              const std::function<void(const LiveLine&)>& show, LiveResult& result) {
    result = LiveResult();
    EventStore& store = host.events();
    const std::vector<TimedMessage>& messages = settings.messages;
    const int64_t period = int64_t(std::max(settings.periodMs, 1)) * 1000;
    const int64_t lastMessage = messages.empty() ? 0 : messages.back().micros;
    host.setTimerPeriod(settings.periodMs);
    Waiter wait(store);
    store.startClock();

    int64_t lastSound = lastMessage;  // the last message sent or event output
    auto showOutput = [&]() {
        for (OutputRecord& r : store.takeOutput()) {
            show({r.clockMicros, false, std::move(r.event)});
            ++result.eventsOut;
            lastSound = std::max(lastSound, r.clockMicros);
        }
    };
    size_t next = 0;
    int64_t nextIdle = period;
    for (;;) {
        for (; next < messages.size() && messages[next].micros <= store.clockMicros(); ++next) {
            const TimedMessage& m = messages[next];
            HostEvent h = store.newEvent(0, m.status, m.data1, m.data2);
            store.markLive(h, true);
            LiveLine line{store.clockMicros(), true, {}};
            store.get(h, &line.event);
            show(line);
            module->onEvent(h);
            store.discard(h);
            showOutput();
        }
        int64_t now = store.clockMicros();
        if (now >= nextIdle) {
            module->process(0, 0, 1);
            ++result.idleCalls;
            showOutput();
            nextIdle += period * ((now - nextIdle) / period + 1);  // late ticks are skipped, not bunched
        }
        int64_t wake = nextIdle;
        if (next < messages.size()) {
            wake = std::min(wake, messages[next].micros);
        } else {
            const bool byQuiet = settings.forMicros < 0 && lastSound + settings.quietMicros <= lastMessage + settings.longestMicros;
            const int64_t end = settings.forMicros >= 0 ? lastMessage + settings.forMicros
                                                        : std::min(lastSound + settings.quietMicros,
                                                                   lastMessage + settings.longestMicros);
            now = store.clockMicros();
            if (now >= end) {
                result.endMicros = now;
                result.quiet = byQuiet;
                return;
            }
            wake = std::min(wake, end);
        }
        wait.until(wake);
    }
}

int runLive(const Options& o) {
    std::string error;
    Session session;
    if (!session.open(o.modulePath, o.filter, error)) {
        std::fprintf(stderr, "palisander-host: %s\n", error.c_str());
        return 1;
    }
    LiveSettings settings;
    settings.messages = o.messages;
    settings.forMicros = o.liveFor;
    const std::string name = session.filterClass().name;
    bool first = true;
    // The JSON is one object whose events are printed as they happen; a name from the
    // registry may not be UTF-8.
    if (o.json)
        std::printf("{\"filter\": %s, \"timer_ms\": %d, \"events\": [", nlohmann::json(name).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace).c_str(),
                    settings.periodMs);
    else
        std::printf("live through \"%s\", idle calls every %d ms\n", name.c_str(), settings.periodMs);
    std::fflush(stdout);
    auto show = [&](const LiveLine& line) {
        if (o.json)
            std::printf("%s\n  %s", first ? "" : ",", jsonLine(line).c_str());
        else
            std::printf("%6lld ms  %s %s\n", (long long)(line.micros / 1000), line.input ? "in: " : "out:",
                        describeOutput(line.event).c_str());
        first = false;
        std::fflush(stdout);
    };
    LiveResult result;
    playLive(session.module(), *session.host(), settings, show, result);

    const EventStore& store = session.host()->events();
    const bool balanced = store.balanced();
    const long long endMs = result.endMicros / 1000;
    if (o.json) {
        std::printf("\n], \"end_ms\": %lld, \"out\": %llu, \"idle_calls\": %llu, \"given_back\": %s}\n", endMs,
                    (unsigned long long)result.eventsOut, (unsigned long long)result.idleCalls,
                    balanced ? "true" : "false");
    } else {
        std::printf("%6lld ms  end: %s; %llu event%s out, %s\n", endMs,
                    result.quiet ? "quiet for 1 s" : o.liveFor >= 0 ? "--for ran out" : "10 s after the last message",
                    (unsigned long long)result.eventsOut, result.eventsOut == 1 ? "" : "s",
                    balanced ? "every host event given back" : "host events NOT given back");
    }
    if (!balanced) {
        std::fprintf(stderr, "palisander-host: the module did not give back %d host event(s) (%d double, %d stale)\n",
                     store.liveHandles(), store.doubleReleases(), store.staleHandleUses() + store.unknownHandleUses());
        return 1;
    }
    return 0;
}
