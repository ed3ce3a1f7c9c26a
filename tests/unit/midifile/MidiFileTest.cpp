#include <gtest/gtest.h>
#include <windows.h>

#include "MidiFileTestUtil.h"

using namespace midifile;
using namespace mft;

namespace {

Song parsed(const std::vector<uint8_t>& bytes) {
    Song song;
    std::string error;
    EXPECT_TRUE(parse(bytes.data(), bytes.size(), song, error)) << error;
    return song;
}

TEST(MidiFileRead, PairsNotesFirstInFirstOutUnderRunningStatus) {
    // Key 60 twice on channel 0, overlapping; the offs come as 0x80 and as note-on velocity 0.
    Song song = parsed(smf(0, 96, {{0x00, 0x90, 60, 100,  // on A
                                    0x10, 60, 80,         // on B (running status)
                                    0x10, 0x80, 60, 33,   // off -> A
                                    0x10, 0x90, 60, 0,    // off -> B, release 64
                                    0x00, 0xFF, 0x2F, 0x00}}));
    ASSERT_EQ(song.tracks.size(), 1u);
    std::vector<EventView> expected = {view(noteEvent(0, 0, 60, 100, 32, 33)), view(noteEvent(16, 0, 60, 80, 32, 64))};
    EXPECT_EQ(views(song.tracks[0]), expected);
    EXPECT_EQ(song.tracks[0].endTick, 48u);
    EXPECT_EQ(song.division, 96);
    EXPECT_EQ(song.format, 0);
}

TEST(MidiFileRead, KeepsChannelSysexAndMetaEventsAndGathersTempoAndMeter) {
    Song song = parsed(smf(1, 480, {{0x00, 0xFF, 0x51, 3, 0x07, 0xA1, 0x20,     // tempo 500000
                                     0x00, 0xFF, 0x58, 4, 6, 3, 24, 8,          // 6/8
                                     0x00, 0xFF, 0x03, 2, 'h', 'i',             // track name
                                     0x00, 0xFF, 0x2F, 0x00},
                                    {0x00, 0xC3, 5,                              // program, one data byte
                                     0x00, 0xF0, 3, 0x43, 0x10, 0xF7,            // sysex
                                     0x05, 0xE3, 0x00, 0x40,                     // pitch wheel centre
                                     0x05, 0x7F, 0x7F,                           // running status
                                     0x00, 0xF7, 2, 0x01, 0x02,                  // escape packet
                                     0x01, 0x83, 70, 5,                          // note-off without a note
                                     0x01, 0x93, 72, 90,                         // never released
                                     0x00, 0xFF, 0x51, 3, 0x06, 0x1A, 0x80,      // tempo in a later track
                                     0x20, 0xFF, 0x2F, 0x00}}));
    ASSERT_EQ(song.tracks.size(), 2u);
    std::vector<EventView> first = {view(blockEvent(0, EventKind::Meta, 0xFF, 0x03, {'h', 'i'}))};
    EXPECT_EQ(views(song.tracks[0]), first);
    std::vector<EventView> second = {
        view(channelEvent(0, 0xC3, 5)),
        view(blockEvent(0, EventKind::Sysex, 0xF0, 0, {0xF0, 0x43, 0x10, 0xF7})),
        view(channelEvent(5, 0xE3, 0x00, 0x40)),
        view(channelEvent(10, 0xE3, 0x7F, 0x7F)),
        view(blockEvent(10, EventKind::Sysex, 0xF7, 0, {0x01, 0x02})),
        view(channelEvent(11, 0x83, 70, 5)),
        view(noteEvent(12, 3, 72, 90, 32, 64)),  // ends with the track
    };
    EXPECT_EQ(views(song.tracks[1]), second);
    ASSERT_EQ(song.tempos.size(), 2u);
    EXPECT_EQ(song.tempos[0].microsPerQuarter, 500000u);
    EXPECT_EQ(song.tempos[1].tick, 12u);
    EXPECT_EQ(song.tempos[1].microsPerQuarter, 400000u);
    ASSERT_EQ(song.meters.size(), 1u);
    EXPECT_EQ(song.meters[0].numerator, 6);
    EXPECT_EQ(song.meters[0].denominatorPower, 3);
    EXPECT_EQ(song.lastTick(), 44u);
}

TEST(MidiFileRead, BadInputGivesAClearErrorAndLeavesTheSongAlone) {
    std::vector<uint8_t> good = smf(0, 96, {{0x00, 0x90, 60, 100, 0x10, 0x80, 60, 0, 0x00, 0xFF, 0x2F, 0x00}});
    std::vector<uint8_t> chunkTooLong = good;
    chunkTooLong[21] += 1;
    std::vector<uint8_t> truncated(good.begin(), good.end() - 3);
    std::vector<uint8_t> wrongMagic = good;
    wrongMagic[0] = 'X';
    std::vector<uint8_t> smpte = good;
    smpte[12] = 0xE7;
    smpte[13] = 40;
    std::vector<uint8_t> longDeltas;  // nine of the largest delta times pass 2^31
    for (int i = 0; i < 9; ++i) longDeltas.insert(longDeltas.end(), {0xFF, 0xFF, 0xFF, 0x7F, 0xB0, 1, 1});
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        const char* message;
    } cases[] = {
        {"empty", {}, "not a Standard MIDI File"},
        {"wrong magic", wrongMagic, "not a Standard MIDI File"},
        {"header cut", std::vector<uint8_t>(good.begin(), good.begin() + 13), "not a Standard MIDI File"},
        {"SMPTE division", smpte, "SMPTE time division is not supported"},
        {"division 0", smf(0, 0, {{0x00, 0xFF, 0x2F, 0x00}}), "time division of 0"},
        {"format 2", smf(2, 96, {{0x00, 0xFF, 0x2F, 0x00}}), "format 2 is not supported"},
        {"format 0 with two tracks", smf(0, 96, {{0x00, 0xFF, 0x2F, 0x00}, {0x00, 0xFF, 0x2F, 0x00}}), "declares 2 tracks"},
        {"chunk longer than the file", chunkTooLong, "past the end of the file"},
        {"truncated file", truncated, "past the end of the file"},
        {"missing track", std::vector<uint8_t>(good.begin(), good.begin() + 14), "file ends after 0 of 1 tracks"},
        {"event cut by the chunk", smf(0, 96, {{0x00, 0x90, 60}}), "track 1: event at byte 0 runs past the end"},
        {"meta cut", smf(0, 96, {{0x00, 0xFF, 0x01, 9, 'a'}}), "meta event at byte 0 runs past the end"},
        {"meta type above 0x7F", smf(0, 96, {{0x00, 0xFF, 0xFF, 0x00}}), "track 1: meta event at byte 0 has type 0xFF"},
        {"sysex cut", smf(0, 96, {{0x00, 0xF0, 9, 1}}), "sysex event at byte 0 runs past the end"},
        {"data without status", smf(0, 96, {{0x00, 60, 100}}), "without a status byte"},
        {"data byte with top bit", smf(0, 96, {{0x00, 0x90, 60, 0xC0}}), "has its top bit set"},
        {"system common status", smf(0, 96, {{0x00, 0xF2, 1, 2}}), "is not allowed in a MIDI file"},
        {"variable number too long", smf(0, 96, {{0xFF, 0xFF, 0xFF, 0xFF, 0x00}}), "longer than four bytes"},
        {"variable number cut", smf(0, 96, {{0x00, 0xFF, 0x01, 0x81}}), "variable-length number runs past"},
        {"times past 32 bits", smf(0, 96, {longDeltas}), "exceed the 32-bit range"},
    };
    for (const Case& c : cases) {
        Song song;
        song.division = 1234;
        std::string error;
        EXPECT_FALSE(parse(c.bytes.data(), c.bytes.size(), song, error)) << c.what;
        EXPECT_NE(error.find(c.message), std::string::npos) << c.what << ": " << error;
        EXPECT_EQ(song.division, 1234) << c.what;
        EXPECT_TRUE(song.tracks.empty()) << c.what;
    }
    Song song;
    std::string error;
    EXPECT_FALSE(parse(nullptr, 10, song, error));
    EXPECT_FALSE(read("no such folder\\missing.mid", song, error));
    EXPECT_EQ(error, "cannot open no such folder\\missing.mid");
}

TEST(MidiFileRead, SkipsUnknownChunksAndAcceptsATrackWithoutEnd) {
    std::vector<uint8_t> bytes = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0, 96,
                                  'X', 'Y', 'Z', 'W', 0, 0, 0, 2, 0xAA, 0xBB,
                                  'M', 'T', 'r', 'k', 0, 0, 0, 4, 0x07, 0xB0, 7, 99};
    Song song = parsed(bytes);
    ASSERT_EQ(song.tracks.size(), 1u);
    EXPECT_EQ(views(song.tracks[0]), (std::vector<EventView>{view(channelEvent(7, 0xB0, 7, 99))}));
    EXPECT_EQ(song.tracks[0].endTick, 7u);
}

Song sampleSong(uint16_t format) {
    Song song;
    song.format = format;
    song.division = 960;
    song.tempos = {{0, 500000}, {1920, 300000}};
    song.meters = {{0, 3, 2, 24, 8}};
    Track a, b;
    a.events = {noteEvent(0, 0, 60, 100, 960, 20), channelEvent(10, 0xB0, 1, 64), noteEvent(100, 0, 61, 90, 0, 7),
                blockEvent(200, EventKind::Sysex, 0xF0, 0, {0xF0, 1, 2, 3, 0xF7}),
                blockEvent(300, EventKind::Meta, 0xFF, 0x01, {'t', 'x', 't'})};
    a.endTick = 5000;
    b.events = {channelEvent(0, 0xD5, 70), noteEvent(960, 5, 40, 1, 200000000, 127),
                blockEvent(961, EventKind::Sysex, 0xF7, 0, {0xF8})};
    song.tracks = {a, b};
    return song;
}

TEST(MidiFileWrite, RoundTripKeepsEveryEventOfBothFormats) {
    for (uint16_t format : {uint16_t(0), uint16_t(1)}) {
        Song song = sampleSong(format);
        std::vector<uint8_t> bytes;
        std::string error;
        ASSERT_TRUE(serialize(song, bytes, error)) << error;
        Song back = parsed(bytes);
        EXPECT_EQ(back.format, format);
        EXPECT_EQ(back.division, 960);
        ASSERT_EQ(back.tempos.size(), 2u);
        EXPECT_EQ(back.tempos[1].tick, 1920u);
        EXPECT_EQ(back.tempos[1].microsPerQuarter, 300000u);
        ASSERT_EQ(back.meters.size(), 1u);
        EXPECT_EQ(back.meters[0].numerator, 3);
        if (format == 1) {
            ASSERT_EQ(back.tracks.size(), 2u);
            EXPECT_EQ(views(back.tracks[0]), views(song.tracks[0]));
            EXPECT_EQ(views(back.tracks[1]), views(song.tracks[1]));
            EXPECT_EQ(back.tracks[0].endTick, 5000u);
        } else {
            ASSERT_EQ(back.tracks.size(), 1u);
            EXPECT_EQ(back.tracks[0].events.size(), song.tracks[0].events.size() + song.tracks[1].events.size());
            EXPECT_EQ(back.tracks[0].endTick, 960u + 200000000u);
        }
    }
}

TEST(MidiFileWrite, NoteOffsPrecedeNoteOnsOfTheSameTickExceptForZeroLengthNotes) {
    Song song;
    song.format = 0;
    song.division = 96;
    Track t;
    t.events = {noteEvent(0, 1, 60, 100, 10, 20), noteEvent(10, 1, 60, 90, 0, 30), noteEvent(10, 1, 62, 80, 5, 40)};
    song.tracks = {t};
    std::vector<uint8_t> bytes;
    std::string error;
    ASSERT_TRUE(serialize(song, bytes, error)) << error;
    std::vector<uint8_t> body(bytes.begin() + 22, bytes.end());
    std::vector<uint8_t> expected = {0x00, 0x91, 60, 100,  // no running status is written
                                     0x0A, 0x81, 60, 20,   // the sounding note ends first
                                     0x00, 0x91, 60, 90,   0x00, 0x91, 62, 80,
                                     0x00, 0x81, 60, 30,   // the zero-length note ends after its start
                                     0x05, 0x81, 62, 40,   0x00, 0xFF, 0x2F, 0x00};
    EXPECT_EQ(body, expected);
}

TEST(MidiFileWrite, RefusesWhatAFileCannotHold) {
    struct Case {
        const char* what;
        Event event;
        uint16_t format, division;
        const char* message;
    } cases[] = {
        {"data above 127", channelEvent(0, 0xB0, 128, 0), 1, 96, "data byte above 127"},
        {"status without top bit", channelEvent(0, 0x30, 1, 1), 1, 96, "has status 0x30"},
        {"note of velocity 0", noteEvent(0, 0, 60, 0, 10, 0), 1, 96, "velocity 0"},
        {"sysex without F0", blockEvent(0, EventKind::Sysex, 0xF0, 0, {1, 2}), 1, 96, "does not start with F0"},
        {"end-of-track meta", blockEvent(0, EventKind::Meta, 0xFF, 0x2F, {}), 1, 96, "type 0x2F"},
        {"note past 32 bits", noteEvent(0x7FFFFFF0, 0, 60, 1, 0x100, 0), 1, 96, "beyond the 32-bit range"},
        {"format 2", channelEvent(0, 0xB0, 1, 1), 2, 96, "cannot write MIDI file format 2"},
        {"SMPTE division", channelEvent(0, 0xB0, 1, 1), 1, 0xE728, "cannot write time division"},
    };
    for (const Case& c : cases) {
        Song song;
        song.format = c.format;
        song.division = c.division;
        Track t;
        t.events = {c.event};
        song.tracks = {t};
        std::vector<uint8_t> bytes = {0xCA, 0xFE};
        std::string error;
        EXPECT_FALSE(serialize(song, bytes, error)) << c.what;
        EXPECT_NE(error.find(c.message), std::string::npos) << c.what << ": " << error;
        EXPECT_EQ(bytes, (std::vector<uint8_t>{0xCA, 0xFE})) << c.what;
    }
}

TEST(MidiFileWrite, WritesThroughATemporaryNameAndLeavesNothingOnFailure) {
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    std::string path = std::string(folder) + "midifile-write-test.mid";
    DeleteFileA(path.c_str());
    std::string error;
    ASSERT_TRUE(write(path, sampleSong(1), error)) << error;
    Song back;
    ASSERT_TRUE(read(path, back, error)) << error;
    EXPECT_EQ(back.tracks.size(), 2u);
    EXPECT_EQ(GetFileAttributesA((path + ".partial").c_str()), INVALID_FILE_ATTRIBUTES);
    // Writing again replaces the file.
    Song small;
    small.tracks.resize(1);
    ASSERT_TRUE(write(path, small, error)) << error;
    ASSERT_TRUE(read(path, back, error)) << error;
    EXPECT_EQ(back.tracks.size(), 1u);
    // A song the writer refuses leaves the earlier file as it was.
    Song bad = sampleSong(1);
    bad.tracks[0].events[0].data1 = 200;
    EXPECT_FALSE(write(path, bad, error));
    ASSERT_TRUE(read(path, back, error)) << error;
    EXPECT_EQ(back.tracks.size(), 1u);
    EXPECT_FALSE(write(std::string(folder) + "no such folder\\x.mid", small, error));
    EXPECT_NE(error.find("cannot create"), std::string::npos) << error;
    DeleteFileA(path.c_str());
}

}  // namespace
