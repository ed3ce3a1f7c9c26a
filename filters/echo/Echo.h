// "Echo": repeats each note a number of times, a number of beats apart, each
// repeat softer by a percentage. Repeats later than the processed range are held
// and output in the range they fall in. Live notes are repeated on the wall clock:
// the filter asks its host for periodic calls while repeats wait and hands each one
// out in the first call after its time; a repeat's note-off follows it as long
// after as the played note's.
#pragma once

#include <cstdint>
#include <vector>

#include "common/SampleFilter.h"

// {AE89CF20-A7E9-4496-8EEE-59B33FE93E0B}
inline const CLSID CLSID_Echo = {0xAE89CF20, 0xA7E9, 0x4496, {0x8E, 0xEE, 0x59, 0xB3, 0x3F, 0xE9, 0x3E, 0x0B}};
// {1997BD56-913B-4262-8A58-64349837E369}
inline const CLSID CLSID_EchoPage = {0x1997BD56, 0x913B, 0x4262, {0x8A, 0x58, 0x64, 0x34, 0x98, 0x37, 0xE3, 0x69}};

class Echo : public SampleFilter {
public:
    enum Parameter {
        Repeats = 0,       // 1..8
        StepHundredths,    // distance between repeats in 1/100 beat (quarter note), 1..1600
        DecayPercent,      // velocity lost per repeat, 0..100
    };
    static constexpr uint32_t kStateMagic = 0x48434550;  // "PECH"
    static constexpr int32_t kDefaultTimeBase = 480;
    static const FilterDescription& description();

    Echo();

    HRESULT STDMETHODCALLTYPE beginPlayback(int32_t time, IMfxEventList* out) override;
    HRESULT STDMETHODCALLTYPE loopPlayback(int32_t restart, int32_t end, IMfxEventList* out) override;
    HRESULT STDMETHODCALLTYPE endPlayback(int32_t time, IMfxEventList* out) override;
    HRESULT STDMETHODCALLTYPE filterEvents(int32_t first, int32_t last, IMfxEventList* in,
                                           IMfxEventList* out) override;
    HRESULT STDMETHODCALLTYPE filterLiveEvents(IMfxShortEventList* in, IMfxShortEventList* out) override;

    // Ticks per quarter in use: the host's time base, or 480 without one.
    int32_t timeBase() const { return timeBase_; }

protected:
    void hostChanged() override;

private:
    struct LiveNote {  // a live note still held, waiting for its note-off
        uint8_t status, key;
        int64_t on;                    // microseconds on the filter's clock
        std::vector<int64_t> offsets;  // of its repeats from the note
    };
    struct LiveRepeat {
        int64_t due;
        MfxShortEvent event;
    };

    void queryTimeBase();
    // Velocities of a note's repeats; fewer than Repeats when one would fall below 1.
    std::vector<uint8_t> repeatVelocities(uint8_t velocity) const;
    double stepTicks() const;
    // Microseconds from a live note to each of its repeats, at the host's tempo.
    std::vector<int64_t> repeatOffsets();
    void startRepeats(const MfxShortEvent& note, int64_t now);
    void endRepeats(const MfxShortEvent& off, int64_t now);
    void schedule(int64_t due, const MfxShortEvent& event);
    // Periodic calls on exactly while repeats wait.
    void updateTimer();

    int32_t timeBase_ = kDefaultTimeBase;
    std::vector<MfxEvent> held_;
    std::vector<LiveNote> sounding_;
    std::vector<LiveRepeat> scheduled_;  // in time order
    bool timerOn_ = false;
};
