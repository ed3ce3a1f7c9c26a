#include "services/EventListObject.h"

#include <algorithm>
#include <vector>

#include <new>

#include "interfaces/ComExtras.h"
#include "services/SysexAllocator.h"

struct EventListObject::Node : ListNode {
    explicit Node(const MfxEvent& e) : record(e) {}
    MfxEvent record;
};

EventListObject* EventListObject::createCounted() {
    auto* list = new (std::nothrow) EventListObject();
    if (list) list->destroyedByRelease_ = true;
    return list;
}

namespace {
const int32_t kMaxSpare = 4096;
}

EventListObject::~EventListObject() {
    clear();
    while (spare_) {
        ListNode* n = spare_;
        spare_ = n->next;
        delete static_cast<Node*>(n);
    }
}

HRESULT STDMETHODCALLTYPE EventListObject::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    if (sameGuid(&iid, comid::IUnknown) || sameGuid(&iid, IID_IMfxEventList) ||
        sameGuid(&iid, IID_IMfxEventList2)) {
        *out = static_cast<IMfxEventList*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE EventListObject::AddRef() { return ULONG(++refCount_); }

ULONG STDMETHODCALLTYPE EventListObject::Release() {
    if (--refCount_ > 0) return ULONG(refCount_);
    // An owned list outlives a filter that releases it once too often.
    if (destroyedByRelease_) delete this;
    return 0;
}

HRESULT STDMETHODCALLTYPE EventListObject::add(const MfxEvent* event) {
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
    return S_OK;
}

HRESULT STDMETHODCALLTYPE EventListObject::count(int32_t* out) {
    if (!out) return E_POINTER;
    *out = records_.count();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE EventListObject::get(int32_t index, MfxEvent* out) {
    if (!out) return E_POINTER;
    const Node* node = nodeAt(index);
    if (!node) return E_UNEXPECTED;
    *out = node->record;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE EventListObject::allocator(IMfxSysexAllocator** out) {
    if (!out) return E_POINTER;
    SysexAllocator& allocator = sysexAllocator();
    allocator.AddRef();
    *out = &allocator;
    return S_OK;
}

const EventListObject::Node* EventListObject::nodeAt(int32_t index) {
    if (index < 0 || index >= records_.count()) return nullptr;
    if (cursorNode_ && index == cursorIndex_ + 1) {
        cursorNode_ = static_cast<const Node*>(cursorNode_->next);
    } else if (!(cursorNode_ && index == cursorIndex_)) {
        cursorNode_ = static_cast<const Node*>(records_.nodeAt(index));
    }
    cursorIndex_ = index;
    return cursorNode_;
}

void EventListObject::clear() {
    // Each block once: freeing a handle twice in one clear could free another thread's
    // new block that the heap placed at the same address in between.
    std::vector<SysexHandle> blocks;
    for (ListNode* n = records_.first(); n; n = n->next) {
        const MfxEvent& e = static_cast<Node*>(n)->record;
        if (e.type == MfxSysex || e.type == MfxBlock9 || e.type == MfxBlock10) blocks.push_back(mfxdata::blockHandle(e));
    }
    if (!blocks.empty()) {
        std::sort(blocks.begin(), blocks.end());
        blocks.erase(std::unique(blocks.begin(), blocks.end()), blocks.end());
        SysexAllocator& allocator = sysexAllocator();
        for (SysexHandle h : blocks) allocator.free(h);  // an already freed block is left alone
    }
    while (ListNode* n = records_.first()) {
        records_.remove(n);
        if (spareCount_ < kMaxSpare) {
            n->next = spare_;
            spare_ = n;
            ++spareCount_;
        } else {
            delete static_cast<Node*>(n);
        }
    }
    cursorNode_ = nullptr;
    cursorIndex_ = -1;
}
