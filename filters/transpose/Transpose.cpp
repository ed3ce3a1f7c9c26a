#include "transpose/Transpose.h"

namespace {

const ParameterInfo kParameters[] = {{"Semitones", -48, 48, 0}};

const FilterDescription kDescription = {CLSID_Transpose, CLSID_TransposePage, Transpose::kStateMagic, 1,
                                        kParameters, 1};

bool shiftKey(uint8_t& key, int32_t shift) {
    int32_t k = key + shift;
    if (k < 0 || k > 127) return false;
    key = static_cast<uint8_t>(k);
    return true;
}

bool isKeyKind(uint8_t kind) { return kind == 0x80 || kind == 0x90 || kind == 0xA0; }

}  // namespace

const FilterDescription& Transpose::description() { return kDescription; }

Transpose::Transpose() : SampleFilter(kDescription) {}

HRESULT STDMETHODCALLTYPE Transpose::beginPlayback(int32_t, IMfxEventList*) { return S_OK; }
HRESULT STDMETHODCALLTYPE Transpose::loopPlayback(int32_t, int32_t, IMfxEventList*) { return S_OK; }
HRESULT STDMETHODCALLTYPE Transpose::endPlayback(int32_t, IMfxEventList*) { return S_OK; }

HRESULT STDMETHODCALLTYPE Transpose::filterEvents(int32_t, int32_t, IMfxEventList* in, IMfxEventList* out) {
    if (!in || !out) return E_POINTER;
    int32_t count = 0;
    if (FAILED(in->count(&count))) return E_FAIL;
    for (int32_t i = 0; i < count; ++i) {
        MfxEvent e;
        if (in->get(i, &e) != S_OK) continue;
        if (transposeRecord(e)) out->add(&e);
    }
    return S_OK;
}

bool Transpose::transposeRecord(MfxEvent& e) {
    const int32_t shift = parameter(Semitones);
    switch (e.type) {
    case MfxNote:
    case MfxKeyAftertouch:
        return shiftKey(e.data[0], shift);
    case MfxShortMessage: {
        uint8_t status = e.data[0];
        if (status >= 0x80) {
            runningStatus_ = status;
        } else {
            if (!isKeyKind(runningStatus_ & 0xF0)) return true;
            // Written out with its status, so that dropping it or an earlier record
            // cannot change the status the following records run under.
            e.data[2] = e.data[1];
            e.data[1] = e.data[0];
            e.data[0] = runningStatus_;
        }
        if (!isKeyKind(e.data[0] & 0xF0)) return true;
        return shiftKey(e.data[1], shift);
    }
    default:
        return true;  // everything else, sysex handles included, passes as it is
    }
}

HRESULT STDMETHODCALLTYPE Transpose::filterLiveEvents(IMfxShortEventList* in, IMfxShortEventList* out) {
    if (!in || !out) return E_POINTER;
    int32_t count = 0;
    if (FAILED(in->count(&count))) return E_FAIL;
    for (int32_t i = 0; i < count; ++i) {
        MfxShortEvent e;
        if (in->get(i, &e) != S_OK) continue;
        if (transposeLive(e)) out->add(&e);
    }
    return S_OK;
}

bool Transpose::transposeLive(MfxShortEvent& e) {
    const uint8_t kind = e.status & 0xF0;
    if (!isKeyKind(kind) || e.data1 > 127) return true;
    const int ch = e.status & 0x0F;
    const uint8_t key = e.data1;
    int32_t shift = parameter(Semitones);
    if (kind == 0x90 && e.data2 > 0) {
        held_[ch][key] = true;
        heldShift_[ch][key] = static_cast<int8_t>(shift);
    } else if (held_[ch][key]) {
        shift = heldShift_[ch][key];
        if (kind != 0xA0) held_[ch][key] = false;
    }
    return shiftKey(e.data1, shift);
}
