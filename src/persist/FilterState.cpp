#include "persist/FilterState.h"

#include <cstring>
#include <new>

#include "guard/Guard.h"

// The streams handed to a filter are heap objects holding our own reference for the
// whole call: a filter that keeps or over-releases one never frees memory we still use.

int32_t restoreFilterState(IPersistStream* persist, const void* data, int32_t size) {
    if (!persist || !data || size <= 0) return 1;
    ComRef<MemoryStream> stream(new (std::nothrow) MemoryStream());
    if (!stream) return 1;
    ULONG written = 0;
    if (stream->Write(data, ULONG(size), &written) != S_OK || written != ULONG(size)) return 1;
    stream->rewind();
    IStream* given = stream.get();
    const HRESULT hr = guard::invoke(E_UNEXPECTED, [&] { return persist->Load(given); });
    return hr == S_OK ? 0 : 1;
}

int32_t saveStateSnapshot(IPersistStream* persist, ComRef<MemoryStream>& snapshot, int32_t* size) {
    if (!persist || !size) return 1;
    *size = 0;
    snapshot.attach(new (std::nothrow) MemoryStream());
    if (!snapshot) return 1;
    IStream* target = snapshot.get();
    if (guard::invoke(E_UNEXPECTED, [&] { return persist->Save(target, TRUE); }) != S_OK) return 1;
    *size = snapshot->size();
    return 0;
}

int32_t copyStateSnapshot(IPersistStream* persist, ComRef<MemoryStream>& snapshot, void* buffer, int32_t* size) {
    if (!persist || !size || !snapshot) return 1;
    int32_t answer = 1;
    if (snapshot->data() && snapshot->size() >= 1 && snapshot->size() <= *size) {
        std::memcpy(buffer, snapshot->data(), size_t(snapshot->size()));
        *size = snapshot->size();
        answer = 0;
    }
    snapshot.reset();
    return answer;
}
