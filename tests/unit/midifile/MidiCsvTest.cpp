// Driven by midicsv_check.sh, which makes the input files with csvmidi and reads the
// outputs back with midicsv; skipped when run on its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>

#include "MidiFileTestUtil.h"

using namespace midifile;
using namespace mft;

namespace {

std::vector<std::string> caseNames() {
    std::vector<std::string> names;
    const char* list = getenv("PAL_MIDICSV_CASES");
    if (!list) return names;
    std::istringstream in(list);
    for (std::string name; in >> name;) names.push_back(name);
    return names;
}

Song readCase(const std::string& name) {
    Song song;
    std::string error;
    EXPECT_TRUE(read(name + ".mid", song, error)) << error;
    return song;
}

TEST(MidiCsv, EveryFileFromCsvmidiIsReadAndWrittenBack) {
    std::vector<std::string> names = caseNames();
    if (names.empty()) GTEST_SKIP() << "run by midicsv_check.sh";
    for (const std::string& name : names) {
        Song song = readCase(name);
        std::string error;
        EXPECT_TRUE(write(name + ".out.mid", song, error)) << name << ": " << error;
    }
}

TEST(MidiCsv, NotesFromCsvmidiArePairedWithDurationsAndReleaseVelocities) {
    std::vector<std::string> names = caseNames();
    if (std::find(names.begin(), names.end(), "notes") == names.end()) GTEST_SKIP() << "run by midicsv_check.sh";
    Song song = readCase("notes");
    EXPECT_EQ(song.format, 1);
    EXPECT_EQ(song.division, 480);
    ASSERT_EQ(song.tracks.size(), 2u);
    std::vector<EventView> expected = {
        view(channelEvent(0, 0xC2, 41)),
        view(noteEvent(0, 2, 60, 100, 480, 33)),
        view(noteEvent(0, 2, 64, 90, 480, 64)),
        view(noteEvent(240, 2, 60, 80, 360, 44)),
        view(noteEvent(600, 2, 67, 70, 0, 10)),
        view(channelEvent(700, 0x82, 70, 5)),
        view(channelEvent(720, 0xB2, 7, 100)),
        view(channelEvent(730, 0xE2, 0, 0)),
        view(channelEvent(740, 0xE2, 0x7F, 0x7F)),
        view(channelEvent(750, 0xD2, 77)),
        view(channelEvent(760, 0xA2, 64, 12)),
        view(noteEvent(800, 9, 36, 127, 0, 0)),
        view(blockEvent(1000, EventKind::Meta, 0xFF, 0x06, {'e', 'n', 'd'})),
    };
    EXPECT_EQ(views(song.tracks[1]), expected);
    EXPECT_EQ(song.tracks[0].endTick, 2000u);
    EXPECT_EQ(song.tracks[1].endTick, 1200u);
    ASSERT_EQ(song.tempos.size(), 2u);
    EXPECT_EQ(song.tempos[1].tick, 960u);
    EXPECT_EQ(song.tempos[1].microsPerQuarter, 400000u);
    ASSERT_EQ(song.meters.size(), 2u);
    EXPECT_EQ(song.meters[1].tick, 1920u);
    EXPECT_EQ(song.meters[1].numerator, 6);
    EXPECT_EQ(song.meters[1].denominatorPower, 3);
    EXPECT_EQ(song.meters[1].clocksPerClick, 36);
}

TEST(MidiCsv, SysexAndLongTimesFromCsvmidi) {
    std::vector<std::string> names = caseNames();
    if (std::find(names.begin(), names.end(), "everything0") == names.end()) GTEST_SKIP() << "run by midicsv_check.sh";
    Song song = readCase("everything0");
    ASSERT_EQ(song.tracks.size(), 1u);
    const std::vector<Event>& e = song.tracks[0].events;
    ASSERT_EQ(e.size(), 7u);
    EXPECT_EQ(view(e[0]), view(blockEvent(0, EventKind::Meta, 0xFF, 0x59, {0xFE, 0x00})));
    EXPECT_EQ(view(e[1]), view(blockEvent(0, EventKind::Sysex, 0xF0, 0, {0xF0, 126, 127, 9, 1, 247})));
    EXPECT_EQ(view(e[2]), view(blockEvent(10, EventKind::Sysex, 0xF7, 0, {1, 2, 3})));
    EXPECT_EQ(view(e[3]), view(noteEvent(12, 0, 48, 64, 12, 64)));
    EXPECT_EQ(view(e[4]), view(noteEvent(12, 15, 48, 64, 24, 64)));
    EXPECT_EQ(view(e[6]), view(channelEvent(200000000, 0xB0, 64, 127)));
}

TEST(MidiCsv, ASongBuiltInCodeIsWrittenForMidicsv) {
    if (caseNames().empty()) GTEST_SKIP() << "run by midicsv_check.sh";
    Song song;
    song.format = 1;
    song.division = 240;
    song.tempos = {{0, 500000}, {480, 750000}};
    song.meters = {{0, 4, 2, 24, 8}};
    Track names, music;
    names.events = {blockEvent(0, EventKind::Meta, 0xFF, 0x03, {'b', 'u', 'i', 'l', 't'})};
    music.events = {noteEvent(0, 1, 60, 100, 240, 50), channelEvent(0, 0xB1, 7, 90),
                    blockEvent(120, EventKind::Sysex, 0xF0, 0, {0xF0, 0x43, 0x10, 0xF7}),
                    noteEvent(240, 1, 62, 80, 0, 0), channelEvent(480, 0xC1, 5),
                    blockEvent(480, EventKind::Meta, 0xFF, 0x06, {'m'})};
    music.endTick = 960;
    song.tracks = {names, music};
    std::string error;
    EXPECT_TRUE(write("built.out.mid", song, error)) << error;
}

}  // namespace
