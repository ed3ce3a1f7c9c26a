#include <gtest/gtest.h>

#include "HostEvents.h"
#include "Render.h"

namespace {

TEST(OutputTrack, NotesWithDurationStayNotes) {
    midifile::Track t = outputTrack({hostEvent(100, 0x90, 3, 60, 90, 240, 33)}, 0);
    ASSERT_EQ(t.events.size(), 1u);
    const midifile::Event& e = t.events[0];
    EXPECT_EQ(e.kind, midifile::EventKind::Note);
    EXPECT_EQ(e.status, 0x93);
    EXPECT_EQ(e.tick, 100u);
    EXPECT_EQ(e.duration, 240u);
    EXPECT_EQ(e.releaseVelocity, 33);
    EXPECT_EQ(t.endTick, 340u);
}

TEST(OutputTrack, VelocityZeroEndsTheOldestOpenNoteOfItsKeyAndChannel) {
    midifile::Track t = outputTrack({hostEvent(0, 0x90, 0, 60, 90), hostEvent(10, 0x90, 0, 60, 80),
                                     hostEvent(20, 0x90, 1, 60, 70), hostEvent(50, 0x90, 0, 60, 0, 0, 12),
                                     hostEvent(70, 0x80, 0, 60, 44), hostEvent(90, 0x90, 1, 60, 0, 0, 5)},
                                    0);
    ASSERT_EQ(t.events.size(), 3u);
    EXPECT_EQ(t.events[0].duration, 50u);
    EXPECT_EQ(t.events[0].releaseVelocity, 12);
    EXPECT_EQ(t.events[1].duration, 60u);
    EXPECT_EQ(t.events[1].releaseVelocity, 44);  // a 0x80 event carries its velocity in data 2
    EXPECT_EQ(t.events[2].status, 0x91);
    EXPECT_EQ(t.events[2].duration, 70u);
    EXPECT_EQ(t.endTick, 90u);
}

TEST(OutputTrack, AnUnpairedNoteOffIsKeptAsNoteOff) {
    midifile::Track t = outputTrack({hostEvent(30, 0x90, 2, 64, 0, 0, 9)}, 0);
    ASSERT_EQ(t.events.size(), 1u);
    EXPECT_EQ(t.events[0].kind, midifile::EventKind::Channel);
    EXPECT_EQ(t.events[0].status, 0x82);
    EXPECT_EQ(t.events[0].data2, 9);
}

TEST(OutputTrack, OtherKindsAreOrderedByTimeAndNegativeTimesClampToZero) {
    EventData sysex = hostEvent(5, 0xF0, -1, 0, 0);
    sysex.sysex = {0xF0, 0x7E, 0x01, 0xF7};
    midifile::Track t = outputTrack({hostEvent(40, 0xB0, 1, 7, 100), hostEvent(-20, 0xC0, 4, 11, 99),
                                     hostEvent(40, 0xE0, 0, 0x00, 0x40), sysex, hostEvent(8, 0xD0, 9, 50, 77),
                                     hostEvent(9, 0xF8, -1, 0, 0)},
                                    1000);
    ASSERT_EQ(t.events.size(), 5u);
    EXPECT_EQ(t.events[0].status, 0xC4);
    EXPECT_EQ(t.events[0].tick, 0u);
    EXPECT_EQ(t.events[0].data2, 0);  // one data byte only
    EXPECT_EQ(t.events[1].kind, midifile::EventKind::Sysex);
    EXPECT_EQ(t.events[1].bytes, sysex.sysex);
    EXPECT_EQ(t.events[2].status, 0xD9);
    EXPECT_EQ(t.events[3].status, 0xB1);  // same time: output order kept
    EXPECT_EQ(t.events[4].status, 0xE0);
    EXPECT_EQ(t.events[4].data2, 0x40);
    EXPECT_EQ(t.endTick, 1000u);
}

TEST(OutputTrack, OutputSongKeepsDivisionTempoMapAndTempoTrackMetas) {
    midifile::Song in;
    in.division = 96;
    in.tempos = {{0, 500000}, {384, 600000}};
    in.meters = {{0, 3, 2, 24, 8}};
    in.tracks.resize(2);
    midifile::Event title;
    title.kind = midifile::EventKind::Meta;
    title.status = 0xFF;
    title.data1 = 0x03;
    title.bytes = {'x'};
    midifile::Event cc;
    cc.status = 0xB0;
    in.tracks[0].events = {title, cc};
    in.tracks[0].endTick = 768;
    midifile::Song out = outputSong(in, midifile::Track());
    EXPECT_EQ(out.division, 96);
    EXPECT_EQ(out.tempos.size(), 2u);
    EXPECT_EQ(out.tempos[1].microsPerQuarter, 600000u);
    ASSERT_EQ(out.meters.size(), 1u);
    EXPECT_EQ(out.meters[0].numerator, 3);
    ASSERT_EQ(out.tracks.size(), 2u);
    ASSERT_EQ(out.tracks[0].events.size(), 1u);  // metas only: channel events go through the filter
    EXPECT_EQ(out.tracks[0].events[0].data1, 0x03);
    EXPECT_EQ(out.tracks[0].endTick, 768u);
}

}  // namespace
