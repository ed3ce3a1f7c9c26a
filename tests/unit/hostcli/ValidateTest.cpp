#include <gtest/gtest.h>

#include "HostEvents.h"
#include "Validate.h"

namespace {

EventData event(uint32_t kind, int32_t channel, uint32_t d1, uint32_t d2, uint32_t duration = 0,
                std::vector<uint8_t> sysex = {}) {
    EventData e = hostEvent(0, kind, channel, d1, d2, duration);
    e.sysex = sysex;
    return e;
}

TEST(Validate, OutputEventsAreJudgedWellFormedOrNot) {
    struct Row {
        EventData e;
        const char* fault;  // part of the reason, "" when well-formed
    } rows[] = {
        {event(0x90, 15, 127, 127, 10), ""},
        {event(0x80, 0, 60, 0), ""},
        {event(0xC3, 3, 5, 200), ""},  // one data byte: the second is not looked at
        {event(0xF0, -1, 0, 0, 0, {0xF0, 0x7D, 0x01, 0xF7}), ""},
        {event(0xB0, -1, 7, 100), "on channel -1"},
        {event(0xB0, 16, 7, 100), "on channel 16"},
        {event(0x90, 0, 128, 1), "with data 128 1"},
        {event(0xE0, 0, 0, 200), "with data 0 200"},
        {event(0x00, 0, 1, 2), "unknown kind 0x00"},
        {event(0xF0, -1, 0, 0, 0, {}), "no sysex message"},
        {event(0xF0, -1, 0, 0, 0, {0xF0, 0x90, 0xF7}), "no sysex message"},
        {event(0xF0, -1, 0, 0, 0, {0x7D, 0xF7}), "no sysex message"},
    };
    for (const Row& row : rows) {
        std::string why = malformedEvent(row.e);
        if (*row.fault)
            EXPECT_NE(why.find(row.fault), std::string::npos) << why;
        else
            EXPECT_EQ(why, "");
    }
}

TEST(Validate, NotesLeftSoundingAreCounted) {
    struct Row {
        std::vector<EventData> events;
        int32_t sounding;
    } rows[] = {
        {{event(0x90, 0, 60, 100, 120)}, 0},                                      // a note with its duration
        {{event(0x90, 0, 60, 100), event(0x80, 0, 60, 0)}, 0},                   // on, off
        {{event(0x90, 0, 60, 100), event(0x90, 0, 60, 0)}, 0},                   // on, on at velocity 0
        {{event(0x90, 0, 60, 100)}, 1},                                          // on alone
        {{event(0x90, 0, 60, 100), event(0x80, 1, 60, 0)}, 1},                   // off on another channel
        {{event(0x90, 2, 60, 100), event(0x90, 2, 60, 90), event(0x80, 2, 60, 0)}, 1},
        {{event(0x80, 0, 60, 0), event(0x90, 0, 60, 100)}, 1},                   // an off before its on ends nothing
    };
    for (const Row& row : rows) {
        NoteBalance balance;
        for (const EventData& e : row.events) balance.add(e);
        EXPECT_EQ(balance.sounding(), row.sounding);
        EXPECT_EQ(balance.first().empty(), row.sounding == 0);
    }
}

TEST(Validate, TheHostsAccountNamesEveryFault) {
    struct Row {
        void (*act)(EventStore&);
        const char* problem;  // "" for a clean account
    } rows[] = {
        {[](EventStore& s) { s.releaseEvent(s.createEvent(0x90, 60, 100, 0)); }, ""},
        {[](EventStore& s) { s.createEvent(0x90, 60, 100, 0); }, "1 events the module made were never given back"},
        {[](EventStore& s) {
             HostEvent h = s.copyEvent(s.newNote(0, 0, 60, 100, 10));
             s.releaseEvent(h);
             s.releaseEvent(h);
         },
         "1 given back twice"},
        {[](EventStore& s) { s.releaseEvent(s.newNote(0, 0, 60, 100, 10)); }, "1 host events given back by the module"},
        {[](EventStore& s) { s.outputEvent(0x7777); }, "uses of handles the host never issued"},
    };
    for (const Row& row : rows) {
        EventStore store;
        row.act(store);
        std::string problems = accountingProblems(store);
        if (*row.problem)
            EXPECT_NE(problems.find(row.problem), std::string::npos) << problems;
        else
            EXPECT_EQ(problems, "");
    }
}

}  // namespace
