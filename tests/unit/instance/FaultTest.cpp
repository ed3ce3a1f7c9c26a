// Faults of the filter at every place the module calls it: the host never sees one,
// the results are the documented ones and the instance stays usable.
#include "ModuleFixture.h"
#include "WarningCatcher.h"

namespace {

using namespace fixture;
using Strings = std::vector<std::string>;


class Faults : public InstanceTest {};

TEST_F(Faults, ARefusedOrFaultingAttachShowsTheWarningAndFails) {
    struct Case {
        HRESULT result;
        int32_t raise;
    } cases[] = {{E_FAIL, TfRaiseNone}, {S_FALSE, TfRaiseNone}, {S_OK, TfRaiseAccessViolation}, {S_OK, TfRaiseCxxSeh}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.result << "/" << c.raise);
        control.SetResult(TfAttachHost, c.result);
        control.SetRaise(TfAttachHost, c.raise);
        WarningCatcher catcher;
        EXPECT_EQ(E_FAIL, instance->initialize(host->context()));
        EXPECT_EQ(catcher.boxes, 1);
        EXPECT_EQ(catcher.text, "Could not connect to MFX Event Filter!");
        EXPECT_EQ(catcher.caption, "palisander.dll");
        EXPECT_EQ(host->setActiveCalls(), 0);
        // Not initialised: the host's interfaces are not held.
        EXPECT_EQ(E_UNEXPECTED, instance->onEvent(events().newEvent(0, 0xB0, 1, 1)));
    }
    control.SetResult(TfAttachHost, S_OK);
    control.SetRaise(TfAttachHost, TfRaiseNone);
    init();
    EXPECT_EQ(host->setActiveCalls(), 1);
}

TEST_F(Faults, EveryPlaybackCallSiteIsGuarded) {
    struct Case {
        int32_t site;
        const char* name;
    } sites[] = {{TfBeginPlayback, "beginPlayback"}, {TfLoopPlayback, "loopPlayback"}, {TfEndPlayback, "endPlayback"},
                 {TfFilterEvents, "filterEvents"},   {TfFilterLiveEvents, "filterLiveEvents"}};
    init();
    MfxEvent loop = controllerRecord(0, 2, 2);
    control.AddOutput(TfLoopPlayback, &loop);
    ASSERT_EQ(S_OK, control.StartTimer());
    for (int32_t kind : {TfRaiseAccessViolation, TfRaiseCxxSeh}) {
        for (const Case& c : sites) {
            SCOPED_TRACE(testing::Message() << c.name << " kind " << kind);
            control.SetRaise(c.site, kind);
            HostEvent live = events().newEvent(0, 0x90, 60, 100);
            events().markLive(live, true);
            send(events().newNote(10, 0, 60, 100, 5));
            EXPECT_EQ(S_OK, instance->process(0, 480, 0));
            EXPECT_EQ(S_OK, instance->cycleJump(0, 480));
            EXPECT_EQ(S_OK, instance->process(0, 480, 0));
            EXPECT_EQ(S_OK, instance->onEvent(live));
            events().discard(live);
            EXPECT_EQ(S_OK, instance->process(0, 0, 1));
            EXPECT_EQ(S_OK, instance->stop(480));
            EXPECT_EQ(S_OK, instance->process(0, 0, 1));
            EXPECT_EQ(S_OK, instance->process(0, 480, 0));
            control.SetRaise(c.site, TfRaiseNone);
            EXPECT_TRUE(events().balanced());
            // Usable afterwards: a note passes through in the next range.
            events().takeOutput();
            send(events().newNote(20, 0, 61, 100, 5));
            EXPECT_EQ(S_OK, instance->process(0, 480, 0));
            bool passed = false;
            for (const OutputRecord& r : events().takeOutput()) passed |= r.event.data1 == 61;
            EXPECT_TRUE(passed);
            instance->stop(480);
            instance->process(0, 0, 1);
            instance->process(0, 480, 0);
        }
    }
}

TEST_F(Faults, AFaultingFilterEventsKeepsTheLastEndAndSendsOnlyLoopOutput) {
    init();
    instance->process(0, 480, 0);  // last end 479
    MfxEvent loop = controllerRecord(0, 2, 2);
    control.AddOutput(TfLoopPlayback, &loop);
    instance->cycleJump(0, 480);
    control.SetRaise(TfFilterEvents, TfRaiseAccessViolation);
    events().takeOutput();
    instance->process(480, 960, 0);
    auto out = events().takeOutput();
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].event.data1, 2u);
    control.SetRaise(TfFilterEvents, TfRaiseNone);
    control.ClearLog();
    instance->reposition(0);
    EXPECT_EQ(control.log({TfEndPlayback}), (Strings{"endPlayback(479)"}));
}

TEST_F(Faults, AFaultingLoopPlaybackDiscardsItsOutput) {
    init();
    instance->process(0, 480, 0);
    MfxEvent loop = controllerRecord(0, 2, 2);
    control.AddOutput(TfLoopPlayback, &loop);
    control.SetRaise(TfLoopPlayback, TfRaiseCxxSeh);  // raised before the output is added
    instance->cycleJump(0, 480);
    control.SetRaise(TfLoopPlayback, TfRaiseNone);
    events().takeOutput();
    control.SetMode(TfSwallow, 0);
    instance->process(0, 480, 0);
    EXPECT_TRUE(events().output().empty());
}

TEST_F(Faults, DetachAndSetEventOutputFaultsAreIgnored) {
    for (int32_t kind : {TfRaiseAccessViolation, TfRaiseCxxSeh}) {
        IMidiModule* other = module->create(CLSID_TestFilter1);
        ASSERT_NE(other, nullptr);
        control.SetRaise(TfSetEventOutput, kind);
        EXPECT_EQ(S_OK, other->initialize(host->context()));
        control.SetRaise(TfSetEventOutput, TfRaiseNone);
        control.SetRaise(TfDetachHost, kind);
        EXPECT_EQ(S_OK, other->terminate());
        control.SetRaise(TfDetachHost, TfRaiseNone);
        // The faulted filter kept its host context; it goes with the filter.
        EXPECT_EQ(0u, other->Release());
        EXPECT_EQ(host->refCount(), 1);
    }
    init();
    send(events().newNote(20, 0, 61, 100, 5));
    instance->process(0, 480, 0);
    EXPECT_EQ(events().output().size(), 1u);
}

TEST_F(Faults, AFaultInTheFiltersFinalReleaseStaysInside) {
    for (int32_t kind : {TfRaiseAccessViolation, TfRaiseCxxSeh}) {
        IMidiModule* other = module->create(CLSID_TestFilter1);
        ASSERT_NE(other, nullptr);
        ASSERT_EQ(S_OK, other->initialize(host->context()));
        send(events().newNote(20, 0, 61, 100, 5));
        other->onEvent(events().newNote(30, 0, 62, 100, 5));
        other->terminate();
        control.SetRaise(TfDestroy, kind);
        EXPECT_EQ(0u, other->Release());
        control.SetRaise(TfDestroy, TfRaiseNone);
    }
    // The first instance is unaffected.
    init();
    instance->process(0, 480, 0);
    EXPECT_EQ(control.log({TfFilterEvents}).size(), 1u);
}

}  // namespace
