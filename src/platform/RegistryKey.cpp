#include "platform/RegistryKey.h"

#include <cstdio>
#include <cstring>

namespace {
// One open key, closed when it goes.
class OpenKey {
public:
    OpenKey() = default;
    ~OpenKey() {
        if (key) RegCloseKey(key);
    }
    OpenKey(const OpenKey&) = delete;
    OpenKey& operator=(const OpenKey&) = delete;
    bool open(HKEY root, const char* subkey, REGSAM access) {
        return RegOpenKeyExA(root, subkey, 0, access, &key) == ERROR_SUCCESS;
    }
    bool create(HKEY root, const char* subkey, REGSAM access) {
        return RegCreateKeyExA(root, subkey, 0, nullptr, 0, access, nullptr, &key, nullptr) == ERROR_SUCCESS;
    }
    HKEY get() const { return key; }

private:
    HKEY key = nullptr;
};
}  // namespace

bool RegistryKey::readText(const char* subkey, const char* valueName, char* buffer, uint32_t size) const {
    if (!subkey || !buffer || size == 0) return false;
    OpenKey key;
    if (!key.open(root, subkey, KEY_QUERY_VALUE)) return false;
    DWORD type = 0;
    DWORD bytes = size;
    if (RegQueryValueExA(key.get(), valueName, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes) !=
        ERROR_SUCCESS)
        return false;
    if (type != REG_SZ || bytes > size) return false;
    if (bytes == 0) {
        buffer[0] = 0;
        return true;
    }
    // The caller is promised terminated text.
    return buffer[bytes - 1] == 0;
}

bool RegistryKey::writeText(const char* subkey, const char* valueName, const char* text) const {
    if (!subkey || !text) return false;
    OpenKey key;
    if (!key.open(root, subkey, KEY_WRITE) && !key.create(root, subkey, KEY_WRITE)) return false;
    const DWORD bytes = DWORD(std::strlen(text) + 1);
    return RegSetValueExA(key.get(), valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), bytes) ==
           ERROR_SUCCESS;
}

bool RegistryKey::readInt(const char* subkey, const char* valueName, int32_t* value) const {
    if (!value) return false;
    char text[100];
    std::memset(text, 0, sizeof text);
    if (!readText(subkey, valueName, text, sizeof text)) return false;
    int number = 0;
    if (std::sscanf(text, "%d", &number) != 1) return false;
    *value = number;
    return true;
}

bool RegistryKey::writeInt(const char* subkey, const char* valueName, int32_t value) const {
    char text[100];
    std::snprintf(text, sizeof text, "%d", int(value));
    return writeText(subkey, valueName, text);
}

int32_t RegistryKey::countSubkeys(const char* subkey) const {
    if (!subkey) return 0;
    OpenKey key;
    if (!key.open(root, subkey, KEY_QUERY_VALUE)) return 0;
    DWORD count = 0;
    if (RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr) != ERROR_SUCCESS)
        return 0;
    return int32_t(count);
}

bool RegistryKey::enumSubkey(const char* subkey, uint32_t index, char* name, uint32_t size) const {
    if (!subkey || !name || size == 0) return false;
    OpenKey key;
    if (!key.open(root, subkey, KEY_ENUMERATE_SUB_KEYS)) return false;
    DWORD length = size;
    return RegEnumKeyExA(key.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}
