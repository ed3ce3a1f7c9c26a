#include "common/Registration.h"

#include <olectl.h>
#include <cstdio>
#include <string>

const char* const kMfxFiltersKey = "Software\\Cakewalk Music Software\\MIDI Filters";

namespace {

class RegKey {
public:
    RegKey() = default;
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;
    ~RegKey() {
        if (key_) RegCloseKey(key_);
    }
    bool create(HKEY parent, const std::string& path) {
        return RegCreateKeyExA(parent, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key_, nullptr) ==
               ERROR_SUCCESS;
    }
    bool setText(const char* name, const std::string& value) {
        return RegSetValueExA(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                              static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
    }

private:
    HKEY key_ = nullptr;
};

std::string classKey(const GUID& id) {
    char text[39];
    guidText(id, text);
    return std::string("Software\\Classes\\CLSID\\") + text;
}

std::string filterKey(const GUID& id) {
    char text[39];
    guidText(id, text);
    return std::string(kMfxFiltersKey) + "\\" + text;
}

bool deleteKey(const std::string& path) {
    LONG rc = RegDeleteKeyA(HKEY_LOCAL_MACHINE, path.c_str());
    return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND;
}

bool registerOne(const std::string& modulePath, const ServerClass& c) {
    RegKey key, server;
    if (!key.create(HKEY_LOCAL_MACHINE, classKey(c.clsid)) || !key.setText(nullptr, c.name)) return false;
    if (!server.create(HKEY_LOCAL_MACHINE, classKey(c.clsid) + "\\InprocServer32") ||
        !server.setText(nullptr, modulePath) || !server.setText("ThreadingModel", c.threading))
        return false;
    if (c.mfxFilter) {
        RegKey filter;
        if (!filter.create(HKEY_LOCAL_MACHINE, filterKey(c.clsid)) || !filter.setText(nullptr, c.name)) return false;
    }
    return true;
}

}  // namespace

void guidText(const GUID& id, char (&text)[39]) {
    snprintf(text, sizeof text, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
             static_cast<unsigned long>(id.Data1), id.Data2, id.Data3, id.Data4[0], id.Data4[1], id.Data4[2],
             id.Data4[3], id.Data4[4], id.Data4[5], id.Data4[6], id.Data4[7]);
}

HRESULT registerClasses(HINSTANCE module, const ServerClass* classes, int count) {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(module, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return SELFREG_E_CLASS;
    for (int i = 0; i < count; ++i) {
        if (!registerOne(path, classes[i])) {
            unregisterClasses(classes, count);
            return SELFREG_E_CLASS;
        }
    }
    return S_OK;
}

HRESULT unregisterClasses(const ServerClass* classes, int count) {
    bool ok = true;
    for (int i = 0; i < count; ++i) {
        const ServerClass& c = classes[i];
        ok &= deleteKey(classKey(c.clsid) + "\\InprocServer32");
        ok &= deleteKey(classKey(c.clsid));
        if (c.mfxFilter) ok &= deleteKey(filterKey(c.clsid));
    }
    return ok ? S_OK : SELFREG_E_CLASS;
}
