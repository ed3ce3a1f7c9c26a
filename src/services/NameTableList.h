// A list of name tables as a filter's name provider request receives it: always one table.
#pragma once

#include <windows.h>
#include <cstdint>

#include "interfaces/MfxInterfaces.h"

class NameTableList : public IMfxNameTableList {
public:
    explicit NameTableList(int32_t kind) : kind_(kind) {}
    virtual ~NameTableList() = default;
    NameTableList(const NameTableList&) = delete;
    NameTableList& operator=(const NameTableList&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE count(int32_t* out) override;
    // A new table of the list's kind whatever the index; null when out of memory.
    HRESULT STDMETHODCALLTYPE table(int32_t index, IMfxNameTable** out) override;

    int32_t kind() const { return kind_; }

private:
    LONG refCount_ = 1;
    const int32_t kind_;
};
