// The one base of every object the module hands out as an interface: the object
// lists its interfaces once, and QueryInterface, AddRef and Release are written
// here, with the object's lifetime a policy chosen per class.
#pragma once

#include <windows.h>
#include <climits>

#include "interfaces/ComExtras.h"
#include "platform/Writable.h"

namespace lifetime {

// On the heap, owned by its references: the Release that brings the count to zero
// (or below) destroys it.
struct Counted {
    static constexpr LONG initial = 1;
    static LONG visible(LONG count) { return count; }
    static LONG add(volatile LONG& count) { return ++count; }
    static LONG release(volatile LONG& count, bool& destroy) {
        const LONG now = --count;
        destroy = now <= 0;
        return destroy ? 0 : now;
    }
};

// Part of another object (a member or a local), which destroys it: releases stop at
// the floor, so a caller that releases once too often cannot take the owner's share.
template <LONG Floor = 0>
struct Member {
    static constexpr LONG initial = 1;
    static LONG visible(LONG count) { return count; }
    static LONG add(volatile LONG& count) { return ++count; }
    static LONG release(volatile LONG& count, bool& destroy) {
        destroy = false;
        if (count > Floor) --count;
        return count;
    }
};

// On the heap, made and held by the module and lent to foreign code: the owner's share
// is a mark apart from the count, so releases by others, however many, can't take it.
// The owner lets go with disown (through an Owner<T>); the object goes when the owner
// and everyone who took a reference have let go.
struct Owned {
    static constexpr LONG mark = 0x40000000;
    static constexpr LONG initial = mark;
    // The count as others see it: their references, plus one while the owner holds.
    static LONG visible(LONG count) { return (count & ~mark) + ((count & mark) ? 1 : 0); }
    static LONG add(volatile LONG& count) { return visible(++count); }
    static LONG release(volatile LONG& count, bool& destroy) {
        if ((count & ~mark) > 0) --count;
        destroy = count == 0;
        return visible(count);
    }
    static LONG disown(volatile LONG& count, bool& destroy) {
        count &= ~mark;
        destroy = count == 0;
        return visible(count);
    }
};

// Lives from load to unload and keeps its creator's reference: releases never go
// below the floor.
template <LONG Floor = 1>
struct Static : Member<Floor> {};

// Lives from load to unload and is shared by any thread: counted with interlocked
// operations, starting at 0, and the count governs nothing.
struct SharedStatic {
    static constexpr LONG initial = 0;
    static LONG visible(LONG count) { return count; }
    static LONG add(volatile LONG& count) { return InterlockedIncrement(&count); }
    static LONG release(volatile LONG& count, bool& destroy) {
        destroy = false;
        return InterlockedDecrement(&count);
    }
};

}  // namespace lifetime

// One row of an object's interface table: the identifier (16 bytes) and the cast
// from the object to that interface. A table ends with a row whose id is null.
struct InterfaceEntry {
    const void* id;
    void* (*cast)(void* object);
};

template <class Derived, class Policy, class Primary, class... Others>
class ComObject : public Primary, public Others... {
public:
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;
    // The deleting destructor follows the primary interface's slots.
    virtual ~ComObject() = default;

    // Every interface of the object answers the same identifiers with one count;
    // an out pointer that can't be written is refused untouched.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!platform::writable(out, sizeof(void*))) return E_POINTER;
        Derived* self = static_cast<Derived*>(this);
        for (const InterfaceEntry* e = Derived::interfaceTable(); e->id; ++e) {
            if (!sameId(e->id, &iid) || !self->answers(e->id)) continue;
            AddRef();
            *out = e->cast(self);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(Policy::add(count_)); }
    ULONG STDMETHODCALLTYPE Release() override {
        bool destroy = false;
        const LONG now = Policy::release(count_, destroy);
        if (destroy) static_cast<Derived*>(this)->lastReleased();
        return ULONG(now);
    }

    // What the Release that ends the count does; an object with a second count of its
    // own hides this with its own rule.
    void lastReleased() { delete this; }

    LONG referenceCount() const { return Policy::visible(count_); }

    // The owner's let-go, for objects of the Owned policy.
    void disown() {
        bool destroy = false;
        Policy::disown(count_, destroy);
        if (destroy) static_cast<Derived*>(this)->lastReleased();
    }

protected:
    ComObject() = default;

    // A row of the interface table: the identifier answered with interface I.
    template <class I>
    static InterfaceEntry entry(const void* id) {
        return {id, [](void* object) -> void* { return static_cast<I*>(static_cast<Derived*>(object)); }};
    }
    static InterfaceEntry end() { return {nullptr, nullptr}; }

    // An object may hide a listed interface while it can't serve it.
    bool answers(const void*) const { return true; }

private:
    volatile LONG count_ = Policy::initial;
};

struct DisownObject {
    template <class T>
    static void letGo(T* p) {
        p->disown();
    }
};

// The owner's hold on an object of the Owned policy: letting go disowns it, so the object
// lives on while a filter still holds a reference it took.
template <class T>
using Owner = Held<T, DisownObject>;
