#include "Scan.h"

#include <windows.h>

#include <cstdio>
#include <nlohmann/json.hpp>

#include "ModuleLoader.h"
#include "platform/RegistryKey.h"
#include "host/UniqueId.h"

namespace {

const char* const kFilters = "Software\\Cakewalk Music Software\\MIDI Filters";
const char* const kVerified = "Software\\Morlanite\\Palisander\\Verified";

// A value as it is stored, whatever its type.
bool rawValue(const char* subkey, const char* name, DWORD& type, std::string& text) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, subkey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
    char buffer[1024] = {};
    DWORD bytes = sizeof buffer - 1;
    LONG status = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS && status != ERROR_MORE_DATA) return false;
    if (type == REG_SZ || type == REG_EXPAND_SZ)
        text.assign(buffer, strnlen(buffer, bytes));
    else
        text = "(a value of registry type " + std::to_string(type) + ", not text)";
    return true;
}

bool fileExists(const std::string& path) {
    char expanded[MAX_PATH] = {};
    ExpandEnvironmentStringsA(path.c_str(), expanded, MAX_PATH);
    char found[MAX_PATH] = {};
    // A bare file name is looked for as LoadLibrary would.
    if (!std::strchr(expanded, '\\') && !std::strchr(expanded, '/'))
        return SearchPathA(nullptr, expanded, nullptr, MAX_PATH, found, nullptr) != 0;
    DWORD attributes = GetFileAttributesA(expanded);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

int fail(const std::string& message, int code = 1) {
    std::fprintf(stderr, "palisander-host: %s\n", message.c_str());
    return code;
}

std::string padded(std::string text, size_t width) {
    if (text.size() > width) text = text.substr(0, width - 3) + "...";
    return text + std::string(width - text.size(), ' ');
}

}  // namespace

bool scanFilters(std::vector<ScannedFilter>& out, std::string& error) {
    HKEY probe = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kFilters, 0, KEY_READ, &probe) != ERROR_SUCCESS) {
        error = "no MFX filter is registered (HKLM\\" + std::string(kFilters) + " is missing)";
        return false;
    }
    RegCloseKey(probe);
    RegistryKey registry(HKEY_LOCAL_MACHINE);
    std::vector<ScannedFilter> found;
    int32_t count = registry.countSubkeys(kFilters);
    for (int32_t i = 0; i < count; ++i) {
        char subkey[256] = {};
        if (!registry.enumSubkey(kFilters, uint32_t(i), subkey, sizeof subkey)) continue;
        ScannedFilter f;
        f.clsid = subkey;
        std::string classKey = "Software\\Classes\\CLSID\\" + f.clsid;
        char text[256] = {};
        if (registry.readText(classKey.c_str(), nullptr, text, sizeof text)) f.name = text;
        DWORD type = 0;
        if (rawValue((classKey + "\\InprocServer32").c_str(), nullptr, type, f.server) && (type == REG_SZ || type == REG_EXPAND_SZ))
            f.serverExists = !f.server.empty() && fileExists(f.server);
        else
            f.server.clear();
        f.cached = rawValue(kVerified, subkey, type, f.verdict);
        // As the module decides: a CLSID name (at most 39 characters), then "%d" of the text.
        UniqueId id;
        int32_t verdict = 0;
        if (f.clsid.size() > 39 || !id.fromString(f.clsid.c_str()))
            f.offered = "no (the subkey is no CLSID)";
        else if (!registry.readInt(kVerified, subkey, &verdict))
            f.offered = "probed at the next load";
        else
            f.offered = verdict ? "yes" : "no";
        found.push_back(f);
    }
    out.swap(found);
    return true;
}

int runScan(const Options& o) {
    std::vector<ScannedFilter> filters;
    std::string error;
    if (!scanFilters(filters, error)) return fail(error);
    if (o.json) {
        nlohmann::json list = nlohmann::json::array();
        for (const ScannedFilter& f : filters)
            list.push_back({{"clsid", f.clsid},
                            {"name", f.name},
                            {"server", f.server},
                            {"serverExists", f.serverExists},
                            {"verdict", f.cached ? nlohmann::json(f.verdict) : nlohmann::json(nullptr)},
                            {"offered", f.offered}});
        std::printf("%s\n", nlohmann::json({{"filters", list}}).dump(2).c_str());
        return 0;
    }
    std::printf("%u MFX filter%s registered\n", unsigned(filters.size()), filters.size() == 1 ? "" : "s");
    std::printf("%s  %s  %s  %s  %s\n", padded("CLSID", 38).c_str(), padded("Name", 20).c_str(),
                padded("Verdict", 9).c_str(), padded("Offered", 23).c_str(), "Server");
    for (const ScannedFilter& f : filters) {
        std::string verdict = f.cached ? "\"" + f.verdict + "\"" : "missing";
        std::string server = f.server.empty() ? "(none registered)" : f.server + (f.serverExists ? "" : " (missing)");
        std::printf("%s  %s  %s  %s  %s\n", padded(f.clsid, 38).c_str(), padded(f.name, 20).c_str(),
                    padded(verdict, 9).c_str(), padded(f.offered, 23).c_str(), server.c_str());
    }
    return 0;
}

int runForget(const Options& o) {
    GUID wanted;
    if (!o.all && !parseGuid(o.clsid, &wanted))
        return fail("\"" + o.clsid + "\" is not a CLSID like {A7F1D0C0-5A1B-4E6C-9D3E-0000000000F1}", 2);
    HKEY key = nullptr;
    LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kVerified, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key);
    if (status == ERROR_FILE_NOT_FOUND) {
        if (o.all) {
            std::printf("no verdict is cached\n");
            return 0;
        }
        return fail("no verdict is cached for " + o.clsid);
    }
    if (status != ERROR_SUCCESS)
        return fail("cannot write HKLM\\" + std::string(kVerified) + " (error " + std::to_string(status) + ")");
    // The names first: deleting while enumerating skips values.
    std::vector<std::string> names;
    for (DWORD i = 0;; ++i) {
        char name[256];
        DWORD length = sizeof name;
        if (RegEnumValueA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        GUID id;
        if (o.all || (parseGuid(name, &id) && IsEqualGUID(id, wanted))) names.push_back(name);
    }
    int rc = 0;
    if (names.empty() && !o.all) rc = fail("no verdict is cached for " + o.clsid);
    for (const std::string& name : names) {
        std::string was;
        DWORD type = 0;
        rawValue(kVerified, name.c_str(), type, was);
        status = RegDeleteValueA(key, name.c_str());
        if (status != ERROR_SUCCESS) {
            rc = fail("cannot remove the verdict of " + name + " (error " + std::to_string(status) + ")");
            break;
        }
        std::printf("forgot %s (was \"%s\"): the next load probes it again\n", name.c_str(), was.c_str());
    }
    if (o.all && names.empty()) std::printf("no verdict is cached\n");
    RegCloseKey(key);
    return rc;
}
