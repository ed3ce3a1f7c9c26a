#include "entry/Catalogue.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "entry/PluginFactory.h"
#include "platform/RegistryKey.h"
#include "guard/Guard.h"
#include "host/UniqueId.h"
#include "instance/FilterInstance.h"

const char* const kFilterRegistryPath = "Software\\Cakewalk Music Software\\MIDI Filters";
const char* const kVerifiedRegistryPath = "Software\\Morlanite\\Palisander\\Verified";

namespace {
FilterEntry* entries = nullptr;
int32_t entryCount = 0;

IUnknown* createForFactory(void* context) {
    FilterInstance* instance = createFilterInstance(static_cast<FilterEntry*>(context));
    return instance ? static_cast<IMidiModule*>(instance) : nullptr;
}

const int kTransient = -1;

// Creates the filter once and releases it at once; any escaping fault keeps the
// verdict 0. A failure that may pass (this thread has no COM yet, memory ran out)
// gives kTransient, which is not remembered.
int probe(FilterEntry* entry) {
    int verdict = 0;
    HRESULT why = E_FAIL;
    guard::call([&] {
        FilterInstance* instance = createFilterInstance(entry, &why);
        if (instance) {
            verdict = 1;
            static_cast<IMidiModule*>(instance)->Release();
        }
    });
    if (verdict == 0 && (why == CO_E_NOTINITIALIZED || why == E_OUTOFMEMORY)) return kTransient;
    return verdict;
}
}  // namespace

bool scanCatalogue() {
    RegistryKey registry(HKEY_LOCAL_MACHINE);
    int32_t count = registry.countSubkeys(kFilterRegistryPath);
    if (count <= 0) return false;

    entries = static_cast<FilterEntry*>(std::calloc(size_t(count), sizeof(FilterEntry)));
    if (!entries) return false;  // nothing registered without a catalogue
    entryCount = count;

    int registered = 0;
    for (int32_t i = 0; i < count; ++i) {
        char subkey[40] = {};
        if (!registry.enumSubkey(kFilterRegistryPath, i, subkey, sizeof subkey)) continue;
        UniqueId id;
        if (!id.fromString(subkey)) continue;

        char path[128];
        std::snprintf(path, sizeof path, "Software\\Classes\\CLSID\\%s", subkey);
        char displayName[64] = {};
        if (!registry.readText(path, nullptr, displayName, sizeof displayName)) displayName[0] = 0;

        ClassInfo info = {};
        info.classId = id.guid();
        info.cardinality = 0x7FFFFFFF;
        std::strcpy(info.category, "Midi Module Class");
        std::memcpy(info.name, displayName, sizeof displayName);

        FilterEntry& entry = entries[i];
        entry.classId = id.guid();
        std::memcpy(entry.name, displayName, sizeof displayName);

        int verdict = 0;
        if (!registry.readInt(kVerifiedRegistryPath, subkey, &verdict)) {
            verdict = probe(&entry);
            if (verdict == kTransient)
                verdict = 0;  // left out this time, probed again at the next load
            else
                registry.writeInt(kVerifiedRegistryPath, subkey, verdict);
        }
        if (verdict != 0) {
            theFactory().addClass(&info, &createForFactory, &entry);
            ++registered;
        }
    }
    return registered > 0;
}

void freeCatalogue() {
    std::free(entries);
    entries = nullptr;
    entryCount = 0;
}

const FilterEntry* catalogueEntries() { return entries; }
int32_t catalogueCount() { return entryCount; }
