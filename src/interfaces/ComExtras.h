// COM identifiers the module compares byte for byte, and small COM helpers.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <ocidl.h>
#include <olectl.h>
#include <cstdint>
#include <cstring>
#include <utility>

namespace comid {
inline const GUID IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline const GUID IStream = {0x0000000C, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline const GUID ISequentialStream = {0x0C733A30, 0x2A1C, 0x11CE, {0xAD, 0xE5, 0x00, 0xAA, 0x00, 0x44, 0x77, 0x3D}};
inline const GUID IPersistStream = {0x00000109, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline const GUID ISpecifyPropertyPages = {0xB196B28B, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
inline const GUID IPropertyPageSite = {0xB196B28C, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
inline const GUID IPropertyPage = {0xB196B28D, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
inline const GUID Null = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
}  // namespace comid

// The one comparison of 16-byte identifiers: four 32-bit words, first to last. A
// missing identifier never matches.
inline bool sameId(const void* a, const void* b) {
    if (!a || !b) return false;
    uint32_t x[4], y[4];
    std::memcpy(x, a, sizeof x);
    std::memcpy(y, b, sizeof y);
    for (int i = 0; i < 4; ++i)
        if (x[i] != y[i]) return false;
    return true;
}

// A pointer held with one hold that LetGo::letGo gives back when the holder goes or
// is reset. Moves hand the hold on; copies are the holder kind's own business.
template <class T, class LetGo>
class Held {
public:
    Held() = default;
    // Adopts the caller's hold.
    explicit Held(T* adopt) : p_(adopt) {}
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
    Held(Held&& o) noexcept : p_(o.detach()) {}
    Held& operator=(Held&& o) noexcept {
        if (this != &o) reset(o.detach());
        return *this;
    }
    ~Held() { reset(); }

    // Gives back what was held, then adopts the caller's hold (or holds nothing).
    // The pointer is cleared before the let-go, so a let-go that faults or calls
    // back finds the holder already empty.
    void reset(T* adopt = nullptr) {
        T* old = p_;
        p_ = adopt;
        if (old) LetGo::letGo(old);
    }
    void attach(T* adopt) { reset(adopt); }
    // Hands the hold to the caller.
    T* detach() {
        T* p = p_;
        p_ = nullptr;
        return p;
    }

    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }

protected:
    T* p_ = nullptr;
};

struct ReleaseReference {
    template <class T>
    static void letGo(T* p) {
        p->Release();
    }
};

// One counted COM reference, given back when the holder goes. Copies take a
// reference of their own.
template <class T>
class ComRef : public Held<T, ReleaseReference> {
    using Base = Held<T, ReleaseReference>;

public:
    ComRef() = default;
    explicit ComRef(T* adopt) : Base(adopt) {}
    ComRef(const ComRef& o) : Base(o.get()) {
        if (this->p_) this->p_->AddRef();
    }
    ComRef& operator=(const ComRef& o) {
        ComRef copy(o);
        std::swap(this->p_, copy.p_);
        return *this;
    }
    ComRef(ComRef&&) noexcept = default;
    ComRef& operator=(ComRef&&) noexcept = default;

    // Takes a reference of its own on p.
    void share(T* p) {
        if (p) p->AddRef();
        this->reset(p);
    }
    // For out-arguments: releases what was held first.
    T** put() {
        this->reset();
        return &this->p_;
    }
    void** putVoid() { return reinterpret_cast<void**>(put()); }
};
