// After a fault: the instance still passes a note through the next range of playback.
#pragma once

#include "unit/instance/ModuleFixture.h"

inline void expectStillProcessing(IMidiModule* instance, ReferenceHost* host, int32_t* now) {
    EventStore& events = host->events();
    events.takeOutput();
    HostEvent note = events.newNote(*now + 20, 0, 61, 100, 5);
    instance->onEvent(note);
    events.discard(note);
    EXPECT_EQ(S_OK, instance->process(*now, *now + 480, 0));
    *now += 480;
    auto out = events.takeOutput();
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].event.data1, 61u);
}
