// Every registry access of the module: one open, one read or write, one close.
#pragma once

#include <windows.h>
#include <cstdint>

class RegistryKey {
public:
    explicit RegistryKey(HKEY root) : root(root) {}
    virtual ~RegistryKey() = default;

    // A null value name means the key's default value. Every operation refuses a null
    // subkey path.

    // REG_SZ only. The text is always terminated: a value that doesn't fit the buffer
    // with its terminator, or was stored without one, reads as false.
    bool readText(const char* subkey, const char* valueName, char* buffer, uint32_t size) const;
    // Creates the subkey (and missing parents) when it can't be opened.
    bool writeText(const char* subkey, const char* valueName, const char* text) const;
    // Decimal text as "%d" reads it; *value is written only on true.
    bool readInt(const char* subkey, const char* valueName, int32_t* value) const;
    bool writeInt(const char* subkey, const char* valueName, int32_t value) const;
    // 0 when the key can't be opened.
    int32_t countSubkeys(const char* subkey) const;
    // size counts characters including the terminator.
    bool enumSubkey(const char* subkey, uint32_t index, char* name, uint32_t size) const;

private:
    HKEY root;
};
