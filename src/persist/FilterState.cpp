#include "persist/FilterState.h"

#include <cstring>
#include <new>
#include <utility>

#include "guard/Guard.h"

// The streams handed to a filter are owned heap objects: a filter that over-releases
// one can't take the module's share. A new stream replaces the instance's one only after
// the filter's call, so a stream the filter kept is still alive when that call uses it.

int32_t restoreFilterState(IPersistStream* persist, StateStreams& streams, const void* data, int32_t size) {
    if (!persist || !data || size <= 0) return 1;
    Owner<MemoryStream> stream(new (std::nothrow) MemoryStream());
    if (!stream) return 1;
    ULONG written = 0;
    if (stream->Write(data, ULONG(size), &written) != S_OK || written != ULONG(size)) return 1;
    stream->rewind();
    IStream* given = stream.get();
    const HRESULT hr = guard::invoke(E_UNEXPECTED, [&] { return persist->Load(given); });
    streams.lent = std::move(stream);
    return hr == S_OK ? 0 : 1;
}

int32_t saveStateSnapshot(IPersistStream* persist, StateStreams& streams, int32_t* size) {
    if (!persist || !size) return 1;
    *size = 0;
    Owner<MemoryStream> snapshot(new (std::nothrow) MemoryStream());
    if (!snapshot) return 1;
    IStream* target = snapshot.get();
    const HRESULT hr = guard::invoke(E_UNEXPECTED, [&] { return persist->Save(target, TRUE); });
    streams.snapshot = std::move(snapshot);
    if (hr != S_OK) return 1;
    *size = streams.snapshot->size();
    return 0;
}

int32_t copyStateSnapshot(IPersistStream* persist, StateStreams& streams, void* buffer, int32_t* size) {
    if (!persist || !size || !streams.snapshot) return 1;
    MemoryStream* snapshot = streams.snapshot.get();
    int32_t answer = 1;
    if (snapshot->data() && snapshot->size() >= 1 && snapshot->size() <= *size) {
        std::memcpy(buffer, snapshot->data(), size_t(snapshot->size()));
        *size = snapshot->size();
        answer = 0;
    }
    streams.lent = std::move(streams.snapshot);
    return answer;
}
