#include "persist/FilterState.h"

#include <cstring>
#include <new>

#include "guard/Guard.h"
#include "persist/MemoryStream.h"

int32_t restoreFilterState(IPersistStream* persist, const void* data, int32_t size) {
    if (!persist || !data || size <= 0) return 1;
    MemoryStream stream;
    ULONG written = 0;
    if (stream.Write(data, ULONG(size), &written) != S_OK || written != ULONG(size)) return 1;
    stream.rewind();
    HRESULT hr = E_UNEXPECTED;
    if (!guard::call([&] { hr = persist->Load(&stream); })) return 1;
    return hr == S_OK ? 0 : 1;
}

int32_t saveStateSnapshot(IPersistStream* persist, MemoryStream*& snapshot, int32_t* size) {
    if (!persist || !size) return 1;
    *size = 0;
    delete snapshot;
    snapshot = new (std::nothrow) MemoryStream();
    if (!snapshot) return 1;
    HRESULT hr = E_UNEXPECTED;
    MemoryStream* target = snapshot;
    if (!guard::call([&] { hr = persist->Save(target, TRUE); }) || hr != S_OK) return 1;
    *size = snapshot->size();
    return 0;
}

int32_t copyStateSnapshot(IPersistStream* persist, MemoryStream*& snapshot, void* buffer, int32_t* size) {
    if (!persist || !size || !snapshot) return 1;
    int32_t answer = 1;
    if (snapshot->data() && snapshot->size() >= 1 && snapshot->size() <= *size) {
        std::memcpy(buffer, snapshot->data(), size_t(snapshot->size()));
        *size = snapshot->size();
        answer = 0;
    }
    delete snapshot;
    snapshot = nullptr;
    return answer;
}
