// A list of MfxEvent records that the module passes to a filter's processing calls.
#pragma once

#include <windows.h>
#include <cstdint>

#include "host/ObjectList.h"
#include "interfaces/MfxInterfaces.h"

class EventListObject : public IMfxEventList {
public:
    // A member or stack object: its owner destroys it; Release never does.
    EventListObject() = default;
    // A heap object that its last Release destroys (count 1, the caller's).
    static EventListObject* createCounted();
    virtual ~EventListObject();
    EventListObject(const EventListObject&) = delete;
    EventListObject& operator=(const EventListObject&) = delete;

    // Answers IMfxEventList and IMfxEventList2 with the same interface.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE add(const MfxEvent* event) override;
    HRESULT STDMETHODCALLTYPE count(int32_t* out) override;
    HRESULT STDMETHODCALLTYPE get(int32_t index, MfxEvent* out) override;
    HRESULT STDMETHODCALLTYPE allocator(IMfxSysexAllocator** out) override;

    // Frees the blocks of type 8, 9 and 10 records (each block once, even when
    // another list holds it too), then empties the list.
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
    // Nodes of cleared records kept for later adds (chained through next), so a list
    // used call after call allocates nothing once it has grown.
    ListNode* spare_ = nullptr;
    int32_t spareCount_ = 0;
};
