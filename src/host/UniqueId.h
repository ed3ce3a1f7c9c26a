// 16-byte interface and class identifiers in COM GUID layout.
#pragma once

#include <windows.h>
#include <cstdint>

class UniqueId {
public:
    UniqueId();
    UniqueId(uint32_t w0, uint32_t w1, uint32_t w2, uint32_t w3);
    // A missing source gives all zeros.
    explicit UniqueId(const void* bytes16);
    virtual ~UniqueId() = default;

    // Registry form "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"; false leaves the value unchanged.
    bool fromString(const char* text);

    bool operator==(const UniqueId& other) const;
    bool operator!=(const UniqueId& other) const { return !(*this == other); }
    // Equality with a raw 16-byte record; a null record never matches.
    bool equals(const void* bytes16) const;

    const GUID& guid() const { return *reinterpret_cast<const GUID*>(bytes_); }
    const uint8_t* bytes() const { return bytes_; }

private:
    alignas(4) uint8_t bytes_[16];
};

// The host interface identifiers.
namespace hostid {
extern const UniqueId IUnknown;
extern const UniqueId IMidiModule;
extern const UniqueId IModuleBase;
extern const UniqueId IModuleFactory;
extern const UniqueId IParameterSet;
extern const UniqueId IParameterSet2;
extern const UniqueId IStatePersistence;
extern const UniqueId IEditorDescription;
extern const UniqueId IEditorDescription2;
extern const UniqueId IViewFactory;
extern const UniqueId IModuleView;
extern const UniqueId IMidiModuleHost;
extern const UniqueId IHostEventServices;
extern const UniqueId IHostTimeConversion;
extern const UniqueId IHostTransport;
}  // namespace hostid
