// Host events as a module outputs them, for the tests of what the host makes of them.
#pragma once

#include "EventStore.h"

inline EventData hostEvent(int32_t time, uint32_t kind, int32_t channel, uint32_t d1, uint32_t d2, uint32_t duration = 0,
                    uint32_t release = 0) {
    EventData e;
    e.status = uint8_t(kind);  // created events carry channel 0 in the status; the channel field decides
    e.kind = kind;
    e.channel = channel;
    e.data1 = d1;
    e.data2 = d2;
    e.time = time;
    e.duration = duration;
    e.releaseVelocity = release;
    return e;
}
