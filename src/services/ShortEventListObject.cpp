#include "services/ShortEventListObject.h"

#include <new>

#include "interfaces/ComExtras.h"

struct ShortEventListObject::Node : ListNode {
    explicit Node(const MfxShortEvent& e) : record(e) {}
    MfxShortEvent record;
};

ShortEventListObject* ShortEventListObject::createCounted() {
    auto* list = new (std::nothrow) ShortEventListObject();
    if (list) list->destroyedByRelease_ = true;
    return list;
}

ShortEventListObject::~ShortEventListObject() { clear(); }

HRESULT STDMETHODCALLTYPE ShortEventListObject::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    if (sameGuid(&iid, comid::IUnknown) || sameGuid(&iid, IID_IMfxShortEventList)) {
        *out = static_cast<IMfxShortEventList*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE ShortEventListObject::AddRef() { return ULONG(++refCount_); }

ULONG STDMETHODCALLTYPE ShortEventListObject::Release() {
    if (--refCount_ > 0) return ULONG(refCount_);
    // An owned list outlives a filter that releases it once too often.
    if (destroyedByRelease_) delete this;
    return 0;
}

HRESULT STDMETHODCALLTYPE ShortEventListObject::add(const MfxShortEvent* event) {
    if (!event) return E_POINTER;
    Node* node = new (std::nothrow) Node(*event);
    if (!node) return E_OUTOFMEMORY;
    records_.addTail(node);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ShortEventListObject::count(int32_t* out) {
    if (!out) return E_POINTER;
    *out = records_.count();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ShortEventListObject::get(int32_t index, MfxShortEvent* out) {
    if (!out) return E_POINTER;
    const Node* node = nodeAt(index);
    if (!node) return E_UNEXPECTED;
    *out = node->record;
    return S_OK;
}

const ShortEventListObject::Node* ShortEventListObject::nodeAt(int32_t index) {
    if (index < 0 || index >= records_.count()) return nullptr;
    if (cursorNode_ && index == cursorIndex_ + 1) {
        cursorNode_ = static_cast<const Node*>(cursorNode_->next);
    } else if (!(cursorNode_ && index == cursorIndex_)) {
        cursorNode_ = static_cast<const Node*>(records_.nodeAt(index));
    }
    cursorIndex_ = index;
    return cursorNode_;
}

void ShortEventListObject::clear() {
    records_.clear();
    cursorNode_ = nullptr;
    cursorIndex_ = -1;
}
