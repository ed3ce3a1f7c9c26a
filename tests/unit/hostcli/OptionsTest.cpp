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
    ASSERT_TRUE(parseOptions(words("live --filter Transpose 90 3C 64 803C00"), o, error)) << error;
    EXPECT_EQ(o.bytes, (std::vector<uint8_t>{0x90, 0x3C, 0x64, 0x80, 0x3C, 0x00}));
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
