#include "Registration.h"

namespace testfilter {
namespace {

const char classesRoot[] = "Software\\Classes\\CLSID\\";
const char filtersRoot[] = "Software\\Cakewalk Music Software\\MIDI Filters\\";

// One open registry key, closed when the holder goes.
class RegKey {
public:
    RegKey() = default;
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;
    ~RegKey() {
        if (key_) RegCloseKey(key_);
    }
    LONG create(HKEY parent, const std::string& path) {
        return RegCreateKeyExA(parent, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_, nullptr);
    }
    LONG setText(const char* name, const std::string& value) {
        return RegSetValueExA(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                              static_cast<DWORD>(value.size() + 1));
    }
    HKEY get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

std::string modulePath() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(moduleInstance(), path, MAX_PATH);
    return path;
}

HRESULT fromRegistry(LONG status) { return status == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(status); }

}  // namespace

const FixedClass fixedClasses[5] = {
    {&CLSID_TestFilter1, TfRegAll},
    {&CLSID_TestFilter2, TfRegAll},
    {&CLSID_TestFilter3, TfRegAll},
    {&CLSID_TestFilterPage1, TfRegClassKey | TfRegName | TfRegInproc},
    {&CLSID_TestFilterPage2, TfRegClassKey | TfRegName | TfRegInproc},
};

HRESULT registerClass(const GUID& clsid, const char* name, int32_t flags) {
    const std::string id = guidText(clsid);
    if (flags & (TfRegClassKey | TfRegName | TfRegInproc)) {
        RegKey key;
        LONG status = key.create(HKEY_LOCAL_MACHINE, classesRoot + id);
        if (status != ERROR_SUCCESS) return fromRegistry(status);
        if ((flags & TfRegName) && (status = key.setText(nullptr, name ? name : "")) != ERROR_SUCCESS)
            return fromRegistry(status);
        if (flags & TfRegInproc) {
            RegKey server;
            if ((status = server.create(key.get(), "InprocServer32")) != ERROR_SUCCESS ||
                (status = server.setText(nullptr, modulePath())) != ERROR_SUCCESS ||
                (status = server.setText("ThreadingModel", "Both")) != ERROR_SUCCESS)
                return fromRegistry(status);
        }
    }
    if (flags & TfRegMfxKey) {
        RegKey key;
        LONG status = key.create(HKEY_LOCAL_MACHINE, filtersRoot + id);
        if (status != ERROR_SUCCESS) return fromRegistry(status);
    }
    return S_OK;
}

HRESULT unregisterClass(const GUID& clsid) {
    const std::string id = guidText(clsid);
    LONG a = RegDeleteTreeA(HKEY_LOCAL_MACHINE, (classesRoot + id).c_str());
    LONG b = RegDeleteTreeA(HKEY_LOCAL_MACHINE, (filtersRoot + id).c_str());
    // Deleting what is not there is no failure.
    if (a == ERROR_FILE_NOT_FOUND) a = ERROR_SUCCESS;
    if (b == ERROR_FILE_NOT_FOUND) b = ERROR_SUCCESS;
    return fromRegistry(a != ERROR_SUCCESS ? a : b);
}

}  // namespace testfilter
