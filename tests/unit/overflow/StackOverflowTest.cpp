// A filter that overflows its stack on every call: each overflow is caught, not only
// the first, and the host plays on with its accounting clean.
#include "unit/instance/ModuleFixture.h"

namespace {

using namespace fixture;

class StackOverflow : public InstanceTest {
protected:
    // One note through the sequenced path or as live input.
    void play(bool live, int32_t time, uint8_t key) {
        if (!live) {
            send(events().newNote(time, 0, key, 100, 10));
            instance->process(time, time + 480, 0);
            return;
        }
        HostEvent e = events().newEvent(time, 0x90, key, 100);
        events().markLive(e, true);
        send(e);
    }
};

TEST_F(StackOverflow, EveryOverflowIsCaughtAndTheHostPlaysOn) {
    init();
    struct Row {
        int32_t site;
        const char* name;
        bool live;
    } rows[] = {{TfFilterEvents, "filterEvents", false}, {TfFilterLiveEvents, "filterLiveEvents", true}};
    int32_t time = 0;
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        control.SetMisbehave(r.site, TfMisOverflow);
        for (int overflow = 0; overflow < 3; ++overflow, time += 480) {
            play(r.live, time, 60);
            EXPECT_EQ(events().liveHandles(), 0) << "overflow " << overflow;
        }
        control.SetMisbehave(r.site, TfMisNone);
        events().takeOutput();
        play(r.live, time, 61);
        time += 480;
        const std::vector<OutputRecord> out = events().takeOutput();
        ASSERT_EQ(out.size(), 1u) << "the filter works again once it stops overflowing";
        EXPECT_EQ(out[0].event.data1, 61u);
        EXPECT_EQ(events().liveHandles(), 0);
    }
}

}  // namespace
