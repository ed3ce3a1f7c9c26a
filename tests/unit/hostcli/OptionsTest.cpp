#include <gtest/gtest.h>

#include "Options.h"

namespace {

std::vector<std::string> words(const std::string& line) {
    std::vector<std::string> out;
    std::string w;
    for (char c : line) {
        if (c == ' ') {
            if (!w.empty()) out.push_back(w);
            w.clear();
        } else {
            w += c;
        }
    }
    if (!w.empty()) out.push_back(w);
    return out;
}

TEST(Options, RenderTakesItsOptions) {
    Options o;
    std::string error;
    ASSERT_TRUE(parseOptions(words("render in.mid out.mid --filter Echo --block 240 --state a.bin "
                                   "--save-state b.bin --loop 960:1920:3 --module m.dll"),
                             o, error))
        << error;
    EXPECT_EQ(o.command, Command::Render);
    EXPECT_EQ(o.input, "in.mid");
    EXPECT_EQ(o.output, "out.mid");
    EXPECT_EQ(o.filter, "Echo");
    EXPECT_EQ(o.block, 240);
    EXPECT_EQ(o.stateIn, "a.bin");
    EXPECT_EQ(o.stateOut, "b.bin");
    EXPECT_TRUE(o.loop);
    EXPECT_EQ(o.loopStart, 960);
    EXPECT_EQ(o.loopLength, 1920);
    EXPECT_EQ(o.loopTimes, 3);
    EXPECT_EQ(o.modulePath, "m.dll");
}

TEST(Options, DefaultsWhereNothingIsSaid) {
    Options o;
    std::string error;
    ASSERT_TRUE(parseOptions(words("render a.mid b.mid --filter {9903D2BF-28DE-43E5-9BA5-E6F4DA667FB7}"), o, error));
    EXPECT_EQ(o.block, 0);
    EXPECT_FALSE(o.loop);
    EXPECT_FALSE(o.tailSet);
    EXPECT_TRUE(o.stateIn.empty());
    ASSERT_TRUE(parseOptions(words("bench"), o, error));
    EXPECT_EQ(o.filter, "Transpose");
    EXPECT_EQ(o.events, 1000000);
    ASSERT_TRUE(parseOptions(words("list --json"), o, error));
    EXPECT_TRUE(o.json);
    ASSERT_TRUE(parseOptions({}, o, error));
    EXPECT_EQ(o.command, Command::Help);
}

TEST(Options, ValidateScanAndForget) {
    Options o;
    std::string error;
    ASSERT_TRUE(parseOptions(words("validate --filter Echo --level 10 --seed 7 --repeat 3 --timeout-ms 500 --json -"),
                             o, error))
        << error;
    EXPECT_EQ(o.command, Command::Validate);
    EXPECT_EQ(o.level, 10);
    EXPECT_EQ(o.seed, 7u);
    EXPECT_EQ(o.repeat, 3);
    EXPECT_EQ(o.timeoutMs, 500);
    EXPECT_EQ(o.report, "-");
    ASSERT_TRUE(parseOptions(words("validate --filter Echo"), o, error));
    EXPECT_EQ(o.level, 5);
    EXPECT_TRUE(o.report.empty());
    ASSERT_TRUE(parseOptions(words("forget --all"), o, error));
    EXPECT_TRUE(o.all);
    ASSERT_TRUE(parseOptions(words("scan --json"), o, error));
    EXPECT_TRUE(o.json);
}

// Each command tells its own options; the whole program's help lists the commands.
TEST(Options, HelpIsPerCommand) {
    struct Row {
        const char* line;
        const char* says;
    } rows[] = {{"render --help", "--loop"}, {"help validate", "--timeout-ms"}, {"editor -h", "--screenshot"},
                {"", "forget"},              {"--help", "render"}};
    for (const Row& row : rows) {
        Options o;
        std::string error;
        ASSERT_TRUE(parseOptions(words(row.line), o, error)) << row.line;
        EXPECT_EQ(o.command, Command::Help) << row.line;
        EXPECT_NE(o.helpText.find(row.says), std::string::npos) << row.line << ": " << o.helpText;
    }
}

TEST(Options, LiveAndEditor) {
    Options o;
    std::string error;
    struct Timed {
        const char* line;
        std::vector<int64_t> micros;  // of each message
        std::vector<uint8_t> bytes;   // status and data of each, in turn
    } timed[] = {
        {"90 3C 64 803C00", {0, 0}, {0x90, 0x3C, 0x64, 0x80, 0x3C, 0x00}},
        {"@0 90 3C 64 @480ms 80 3C 00", {0, 480000}, {0x90, 0x3C, 0x64, 0x80, 0x3C, 0x00}},
        {"C1 05 @1.5s B0 07 7F @1500 B0 3C 00 E0 00 40", {0, 1500000, 1500000, 1500000},
         {0xC1, 0x05, 0x00, 0xB0, 0x07, 0x7F, 0xB0, 0x3C, 0x00, 0xE0, 0x00, 0x40}},
    };
    for (const Timed& row : timed) {
        ASSERT_TRUE(parseOptions(words(std::string("live --filter Transpose ") + row.line), o, error)) << error;
        std::vector<int64_t> micros;
        std::vector<uint8_t> bytes;
        for (const TimedMessage& m : o.messages) {
            micros.push_back(m.micros);
            bytes.insert(bytes.end(), {m.status, m.data1, m.data2});
        }
        EXPECT_EQ(micros, row.micros) << row.line;
        EXPECT_EQ(bytes, row.bytes) << row.line;
    }
    EXPECT_EQ(o.liveFor, -1);
    EXPECT_FALSE(o.json);
    ASSERT_TRUE(parseOptions(words("live --filter Echo --for 1.5s --json 90 3C 64"), o, error)) << error;
    EXPECT_EQ(o.liveFor, 1500000);
    EXPECT_TRUE(o.json);
    struct Tail {
        const char* text;
        Duration::Unit unit;
        int64_t micros;
        double bars;
    } tails[] = {{"0", Duration::Unit::Micros, 0, 0},
                 {"250ms", Duration::Unit::Micros, 250000, 0},
                 {"2s", Duration::Unit::Micros, 2000000, 0},
                 {"1.5bars", Duration::Unit::Bars, 0, 1.5}};
    for (const Tail& t : tails) {
        ASSERT_TRUE(parseOptions(words(std::string("render a.mid b.mid --filter Echo --tail ") + t.text), o, error))
            << error;
        EXPECT_TRUE(o.tailSet) << t.text;
        EXPECT_EQ(o.tail.unit, t.unit) << t.text;
        EXPECT_EQ(o.tail.micros, t.micros) << t.text;
        EXPECT_EQ(o.tail.bars, t.bars) << t.text;
    }
    ASSERT_TRUE(parseOptions(words("editor --filter Echo --screenshot e.png"), o, error));
    EXPECT_EQ(o.screenshot, "e.png");
}

struct BadLine {
    const char* line;
    const char* errorPart;
};

TEST(Options, BadLinesAreRefusedWithAReason) {
    const BadLine table[] = {
        {"play a.mid", "unknown command"},
        {"render a.mid --filter X", "IN.mid OUT.mid"},
        {"render a.mid b.mid", "--filter"},
        {"render a.mid b.mid --filter X --block 0", "--block"},
        {"render a.mid b.mid --filter X --block 12x", "--block"},
        {"render a.mid b.mid --filter X --loop 5", "--loop"},
        {"render a.mid b.mid --filter X --loop 0:0", "--loop"},
        {"render a.mid b.mid --filter X --loop -1:10", "--loop"},
        {"render a.mid b.mid --filter X --loop 0:10:0", "--loop"},
        {"render a.mid b.mid --filter X --screenshot x.png", "unknown option"},
        {"render a.mid b.mid --filter", "needs a value"},
        {"live --filter X", "MIDI bytes"},
        {"live --filter X 9", "hex"},
        {"live --filter X 9G", "hex"},
        {"live --filter X @-5 90 3C 64", "\"@-5\" is not a message time"},
        {"live --filter X @abc 90 3C 64", "\"@abc\" is not a message time"},
        {"live --filter X @2h 90 3C 64", "\"@2h\" is not a message time"},
        {"live --filter X @500ms 90 3C 64 @200ms 80 3C 00", "may not go backwards"},
        {"live --filter X 90 3C 64 @1s", "@1s is followed by no MIDI bytes"},
        {"live --filter X 90 3C", "missing data bytes"},
        {"live --filter X --for 2bars 90 3C 64", "--for wants a time from 0 up in ms or s"},
        {"live --filter X --for 1x 90 3C 64", "--for wants"},
        {"render a.mid b.mid --filter X --tail 3parsecs", "--tail wants a time from 0 up in ms or s or bars"},
        {"render a.mid b.mid --filter X --tail .", "--tail wants"},
        {"render a.mid b.mid --filter X --tail 1001bars", "--tail wants"},
        {"editor", "--filter"},
        {"list extra", "unexpected argument"},
        {"bench --events 0", "--events"},
        {"validate --level 3", "--filter"},
        {"validate --filter X --level 11", "--level"},
        {"validate --filter X --timeout-ms 5", "--timeout-ms"},
        {"validate --filter X --json", "needs a value"},
        {"scan extra", "unexpected argument"},
        {"forget", "one CLSID or --all"},
        {"forget {A7F1D0C0-5A1B-4E6C-9D3E-0000000000F1} --all", "one CLSID or --all"},
        {"help play", "help wants one command"},
    };
    for (const BadLine& row : table) {
        Options o;
        o.filter = "untouched";
        std::string error;
        EXPECT_FALSE(parseOptions(words(row.line), o, error)) << row.line;
        EXPECT_NE(error.find(row.errorPart), std::string::npos) << row.line << ": " << error;
        EXPECT_EQ(o.filter, "untouched") << row.line;
        EXPECT_EQ(error.find('\n'), std::string::npos) << row.line;
    }
}

TEST(Options, MessagesResolveRunningStatusAndDataCounts) {
    std::vector<MidiMessage> m;
    std::string error;
    ASSERT_TRUE(splitMessages({0x90, 0x3C, 0x64, 0x3E, 0x50, 0xC1, 0x05, 0xE0, 0x00, 0x40}, m, error)) << error;
    ASSERT_EQ(m.size(), 4u);
    EXPECT_EQ(m[1].status, 0x90);
    EXPECT_EQ(m[1].data1, 0x3E);
    EXPECT_EQ(m[1].data2, 0x50);
    EXPECT_EQ(m[2].status, 0xC1);
    EXPECT_EQ(m[2].data1, 0x05);
    EXPECT_EQ(m[3].status, 0xE0);
    EXPECT_EQ(m[3].data2, 0x40);
}

TEST(Options, MessagesThatCannotBeSentAreRefused) {
    const std::vector<std::vector<uint8_t>> table = {
        {0x3C, 0x64},              // data before any status
        {0x90, 0x3C},              // missing a data byte
        {0x90, 0x3C, 0x80, 0x00},  // a status where data belongs
        {0xF0, 0x7E, 0xF7},        // sysex has no live form
        {0xF8},
    };
    for (const auto& bytes : table) {
        std::vector<MidiMessage> m(1);
        std::string error;
        EXPECT_FALSE(splitMessages(bytes, m, error));
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(m.size(), 1u);
    }
}

}  // namespace
