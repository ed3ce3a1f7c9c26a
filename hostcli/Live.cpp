#include "Live.h"

#include <cstdio>

#include "ReferenceHost.h"
#include "Session.h"

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

int runLive(const Options& o) {
    std::string error;
    std::vector<MidiMessage> messages;
    if (!splitMessages(o.bytes, messages, error)) {
        std::fprintf(stderr, "palisander-host: %s\n", error.c_str());
        return 1;
    }
    Session session;
    if (!session.open(o.modulePath, o.filter, error)) {
        std::fprintf(stderr, "palisander-host: %s\n", error.c_str());
        return 1;
    }
    EventStore& store = session.host()->events();
    for (const MidiMessage& m : messages) {
        HostEvent h = store.newEvent(0, m.status, m.data1, dataByteCount(m.status) == 2 ? m.data2 : 0);
        store.markLive(h, true);
        EventData in;
        store.get(h, &in);
        std::printf("in:  %s\n", describeOutput(in).c_str());
        session.module()->onEvent(h);
        store.discard(h);
        for (const OutputRecord& r : store.takeOutput()) std::printf("out: %s\n", describeOutput(r.event).c_str());
    }
    // Output of a filter that asked for periodic calls comes at idle calls.
    for (int i = 0; i < 4; ++i) session.module()->process(0, 0, 1);
    for (const OutputRecord& r : store.takeOutput()) std::printf("out: %s\n", describeOutput(r.event).c_str());
    return 0;
}
