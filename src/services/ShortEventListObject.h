// A list of MfxShortEvent records for a filter's live processing calls.
#pragma once

#include <windows.h>
#include <cstdint>

#include "host/ObjectList.h"
#include "interfaces/MfxInterfaces.h"

class ShortEventListObject : public IMfxShortEventList {
public:
    // A member or stack object: its owner destroys it; Release never does.
    ShortEventListObject() = default;
    // A heap object that its last Release destroys (count 1, the caller's).
    static ShortEventListObject* createCounted();
    virtual ~ShortEventListObject();
    ShortEventListObject(const ShortEventListObject&) = delete;
    ShortEventListObject& operator=(const ShortEventListObject&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE add(const MfxShortEvent* event) override;
    HRESULT STDMETHODCALLTYPE count(int32_t* out) override;
    HRESULT STDMETHODCALLTYPE get(int32_t index, MfxShortEvent* out) override;

    void clear();
    int32_t size() const { return records_.count(); }
    LONG refCount() const { return refCount_; }

private:
    struct Node;
    const Node* nodeAt(int32_t index);

    LONG refCount_ = 1;
    bool destroyedByRelease_ = false;
    ObjectList records_;
    // Where the last get ended, so that reading in order does not walk the list each time.
    const Node* cursorNode_ = nullptr;
    int32_t cursorIndex_ = -1;
};
