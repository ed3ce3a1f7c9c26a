// "Transpose": shifts note keys and key aftertouch by a number of semitones.
#pragma once

#include "common/SampleFilter.h"

// {9903D2BF-28DE-43E5-9BA5-E6F4DA667FB7}
inline const CLSID CLSID_Transpose = {0x9903D2BF, 0x28DE, 0x43E5, {0x9B, 0xA5, 0xE6, 0xF4, 0xDA, 0x66, 0x7F, 0xB7}};
// {6DA5EF56-0669-4546-9AF2-54B9FBF10C9B}
inline const CLSID CLSID_TransposePage = {0x6DA5EF56, 0x0669, 0x4546, {0x9A, 0xF2, 0x54, 0xB9, 0xFB, 0xF1, 0x0C, 0x9B}};

class Transpose : public SampleFilter {
public:
    enum Parameter { Semitones = 0 };
    static constexpr uint32_t kStateMagic = 0x53525450;  // "PTRS"
    static const FilterDescription& description();

    Transpose();

    HRESULT STDMETHODCALLTYPE beginPlayback(int32_t time, IMfxEventList* out) override;
    HRESULT STDMETHODCALLTYPE loopPlayback(int32_t restart, int32_t end, IMfxEventList* out) override;
    HRESULT STDMETHODCALLTYPE endPlayback(int32_t time, IMfxEventList* out) override;
    HRESULT STDMETHODCALLTYPE filterEvents(int32_t first, int32_t last, IMfxEventList* in,
                                           IMfxEventList* out) override;
    HRESULT STDMETHODCALLTYPE filterLiveEvents(IMfxShortEventList* in, IMfxShortEventList* out) override;

private:
    // False when the record is to be dropped.
    bool transposeRecord(MfxEvent& event);
    bool transposeLive(MfxShortEvent& event);

    uint8_t runningStatus_ = 0;
    // Live notes keep the shift they started with, so a change while a key is held leaves no note hanging.
    int8_t heldShift_[16][128];
    bool held_[16][128] = {};
};
