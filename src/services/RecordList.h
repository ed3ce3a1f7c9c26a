// The event lists the module passes to a filter: one object over either record
// format, MfxEvent for sequenced calls and MfxShortEvent for live ones.
#pragma once

#include <windows.h>
#include <cstdint>
#include <new>

#include "host/ComObject.h"
#include "host/ObjectList.h"
#include "interfaces/MfxInterfaces.h"
#include "services/SysexAllocator.h"

// What a list needs to know of its record format.
template <class Record>
struct RecordTraits;

template <>
struct RecordTraits<MfxEvent> {
    static const GUID* firstId() { return &mfxid::IMfxEventList; }
    static const GUID* secondId() { return &mfxid::IMfxEventList2; }
    // Records of types 8, 9 and 10 carry a sysex block.
    static bool blockOf(const MfxEvent& e, SysexHandle* block) {
        if (e.type != MfxSysex && e.type != MfxBlock9 && e.type != MfxBlock10) return false;
        *block = mfxdata::blockHandle(e);
        return true;
    }
};

template <>
struct RecordTraits<MfxShortEvent> {
    static const GUID* firstId() { return &mfxid::IMfxShortEventList; }
    static const GUID* secondId() { return nullptr; }
    static bool blockOf(const MfxShortEvent&, SysexHandle*) { return false; }
};


// A member or local list by default: its owner destroys it and a filter's extra
// Release never does. createCounted gives the heap kind, destroyed by its last Release.
template <class Record, class Interface, class Policy = lifetime::Member<0>>
class RecordList final : public ComObject<RecordList<Record, Interface, Policy>, Policy, Interface> {
    using Base = ComObject<RecordList<Record, Interface, Policy>, Policy, Interface>;
    using Traits = RecordTraits<Record>;

public:
    using Counted = RecordList<Record, Interface, lifetime::Counted>;

    RecordList() = default;
    ~RecordList() override {
        clear();
        while (spare_) {
            ListNode* n = spare_;
            spare_ = n->next;
            delete static_cast<Node*>(n);
        }
    }
    // Count 1, the caller's; null when out of memory.
    static Counted* createCounted() { return new (std::nothrow) Counted(); }

    static const InterfaceEntry* interfaceTable() {
        // A format with one identifier ends the table at its null second one.
        static const InterfaceEntry table[] = {
            Base::template entry<Interface>(&comid::IUnknown),
            Base::template entry<Interface>(Traits::firstId()),
            Base::template entry<Interface>(Traits::secondId()),
            Base::end(),
        };
        return table;
    }

    HRESULT STDMETHODCALLTYPE add(const Record* event) override {
        if (!event) return E_POINTER;
        Node* node = static_cast<Node*>(spare_);
        if (node) {
            spare_ = node->next;
            --spareCount_;
            node->next = nullptr;
            node->record = *event;
        } else {
            node = new (std::nothrow) Node(*event);
            if (!node) return E_OUTOFMEMORY;
        }
        records_.addTail(node);
        SysexHandle block;
        if (Traits::blockOf(node->record, &block)) ++blocks_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE count(int32_t* out) override {
        if (!out) return E_POINTER;
        *out = records_.count();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get(int32_t index, Record* out) override {
        if (!out) return E_POINTER;
        const Node* node = nodeAt(index);
        if (!node) return E_UNEXPECTED;
        *out = node->record;
        return S_OK;
    }
    // Slot 6 of IMfxEventList (overrides it there); a plain member of the short list.
    HRESULT STDMETHODCALLTYPE allocator(IMfxSysexAllocator** out) {
        if (!out) return E_POINTER;
        SysexAllocator& allocator = sysexAllocator();
        allocator.AddRef();
        *out = &allocator;
        return S_OK;
    }

    // Frees the records' sysex blocks (each once), then empties the list.
    void clear() { clearTogether(*this, *this); }

    // Empties both lists; a block that sits in both (a filter that passes a record
    // through) is freed once, in the same step as the others.
    static void clearTogether(RecordList& a, RecordList& b) {
        const size_t n = a.blockCount() + (&b == &a ? 0 : b.blockCount());
        // Out of memory for the handles, the blocks are leaked rather than freed twice.
        SysexHandle* handles = n > 0 ? new (std::nothrow) SysexHandle[n] : nullptr;
        if (handles) {
            const size_t i = a.collectBlocks(handles);
            if (&b != &a) b.collectBlocks(handles + i);
            sysexAllocator().freeEach(handles, n);
            delete[] handles;
        }
        a.dropRecords();
        b.dropRecords();
    }
    int32_t size() const { return records_.count(); }

private:
    struct Node : ListNode {
        explicit Node(const Record& r) : record(r) {}
        Record record;
    };
    // Cleared nodes kept for later adds, so a list used call after call allocates
    // nothing once it has grown.
    static const int32_t maxSpare = 4096;

    size_t blockCount() const { return blocks_; }
    size_t collectBlocks(SysexHandle* out) const {
        size_t n = 0;
        for (ListNode* node = records_.first(); node; node = node->next)
            if (Traits::blockOf(static_cast<Node*>(node)->record, &out[n])) ++n;
        return n;
    }

    void dropRecords() {
        records_.unlinkEach([this](ListNode* n) {
            if (spareCount_ < maxSpare) {
                n->next = spare_;
                spare_ = n;
                ++spareCount_;
            } else {
                delete static_cast<Node*>(n);
            }
        });
        cursorNode_ = nullptr;
        cursorIndex_ = -1;
        blocks_ = 0;
    }

    const Node* nodeAt(int32_t index) {
        if (index < 0 || index >= records_.count()) return nullptr;
        if (cursorNode_ && index == cursorIndex_ + 1) {
            cursorNode_ = static_cast<const Node*>(cursorNode_->next);
        } else if (!(cursorNode_ && index == cursorIndex_)) {
            cursorNode_ = static_cast<const Node*>(records_.nodeAt(index));
        }
        cursorIndex_ = index;
        return cursorNode_;
    }

    ObjectList records_;
    // Where the last get ended, so that reading in order does not walk the list each time.
    const Node* cursorNode_ = nullptr;
    int32_t cursorIndex_ = -1;
    // Records that carry a block, counted as they come, so that emptying a list of
    // plain events walks it once.
    size_t blocks_ = 0;
    ListNode* spare_ = nullptr;
    int32_t spareCount_ = 0;
};

using EventListObject = RecordList<MfxEvent, IMfxEventList>;
using ShortEventListObject = RecordList<MfxShortEvent, IMfxShortEventList>;
