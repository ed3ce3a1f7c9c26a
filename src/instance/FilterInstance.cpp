#include "instance/FilterInstance.h"

#include <cstring>
#include <initializer_list>
#include <new>

#include "editor/EditorTemplate.h"
#include "guard/Guard.h"
#include "persist/FilterState.h"
#include "platform/ComUnload.h"
#include "platform/Warning.h"
#include "platform/WrapInt.h"

namespace {
// Gives back what the filter handed out; each release on its own, as any may fault.
void releaseEach(std::initializer_list<IUnknown*> objects) {
    for (IUnknown* object : objects)
        if (object) guard::call([&] { object->Release(); });
}
}  // namespace

FilterInstance* createFilterInstance(FilterEntry* entry, HRESULT* why) {
    HRESULT ignored = S_OK;
    HRESULT& result = why ? *why : ignored;
    result = E_POINTER;
    if (!entry) return nullptr;
    GUID clsid;
    std::memcpy(&clsid, entry, sizeof clsid);
    IMfxFilterPlugin* filter = nullptr;
    // The filter's class factory runs its own code: a fault there fails the creation.
    result = guard::invoke(E_UNEXPECTED, [&] {
        return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, mfxid::IMfxFilterPlugin,
                                reinterpret_cast<void**>(&filter));
    });
    if (FAILED(result) || !filter) {
        if (SUCCEEDED(result)) result = E_NOINTERFACE;
        return nullptr;
    }
    ISpecifyPropertyPages* pages = nullptr;
    IPersistStream* persist = nullptr;
    const bool asked = guard::call([&] {
        if (FAILED(filter->QueryInterface(comid::ISpecifyPropertyPages, reinterpret_cast<void**>(&pages))))
            pages = nullptr;
        if (FAILED(filter->QueryInterface(comid::IPersistStream, reinterpret_cast<void**>(&persist))))
            persist = nullptr;
    });
    // A filter that faults while it is being made is not offered half made (without
    // its editor or its state).
    FilterInstance* instance = asked ? new (std::nothrow) FilterInstance(filter, pages, persist, entry) : nullptr;
    if (!instance) {
        result = asked ? E_OUTOFMEMORY : E_UNEXPECTED;
        releaseEach({pages, persist, filter});
        return nullptr;
    }
    result = S_OK;
    return instance;
}

FilterInstance::FilterInstance(IMfxFilterPlugin* adopted, ISpecifyPropertyPages* adoptedPages,
                               IPersistStream* adoptedPersist, FilterEntry* entry)
    : ModuleObject(entry), entry(entry), filter(adopted), pending(nullptr), converter(nullptr) {
    persistenceExposed = true;
    pages.attach(adoptedPages);
    persist.attach(adoptedPersist);
    if (pages) hasEditor = 1;
}

FilterInstance::~FilterInstance() {
    // Our own streams go whatever the filter's releases do.
    stateStreams.snapshot.reset();
    stateStreams.lent.reset();
    guard::call([&] {
        pages.reset();
        persist.reset();
        filter.reset();
        freeUnusedComLibraries(INFINITE);
    });
    // After a fault in one of those releases, what is left is not touched again.
    pages.detach();
    persist.detach();
    filter.detach();
    stopOutput.clear();
    loopOutput.clear();
    hostContext.reset();
    pending.clearReleasing();
}

HRESULT FilterInstance::initialize(IUnknown* context) {
    hostContext.attach(new (std::nothrow) HostContext(context));

    IUnknown* hostObject = hostContext ? hostContext->primary() : nullptr;
    IMfxFilterPlugin* f = filter.get();
    if (guard::invoke(E_UNEXPECTED, [&] { return f->attachHost(hostObject); }) != S_OK) {
        showWarning("Could not connect to MFX Event Filter!");
        return E_FAIL;
    }

    HRESULT hr = ModuleObject::initialize(context);
    if (hr != S_OK) return hr;

    IMfxEventOutput* output = hostContext ? hostContext->eventOutput() : nullptr;
    IMfxOutputConnect* connect = nullptr;
    guard::call([&] {
        if (SUCCEEDED(f->QueryInterface(mfxid::IMfxOutputConnect, reinterpret_cast<void**>(&connect))) && connect)
            connect->setEventOutput(output);
    });
    if (connect) guard::call([&] { connect->Release(); });

    pending.setTimeSource(moduleHost.get());
    converter.setEvents(moduleHost.get());
    moduleHost.get()->setActive(1);
    return S_OK;
}

HRESULT FilterInstance::terminate() {
    IMfxFilterPlugin* f = filter.get();
    guard::call([&] { f->detachHost(); });
    // Copies still waiting would otherwise outlive the host interface that can give them back.
    pending.clearReleasing();
    pending.setTimeSource(nullptr);
    converter.setEvents(nullptr);
    hostContext.reset();
    ModuleObject::terminate();
    return S_OK;
}

HRESULT FilterInstance::start(int32_t) { return S_OK; }

void FilterInstance::deliverOutput(EventListObject& list) {
    // By index, not by node: a call the host makes from inside outputEvent may empty the list.
    const int32_t count = list.size();
    for (int32_t i = 0; i < count; ++i) {
        MfxEvent record;
        if (list.get(i, &record) != S_OK) continue;
        HostEvent made[4] = {};
        int32_t madeCount = 0;
        if (!converter.fromMfxEvent(record, made, &madeCount, false)) continue;
        for (int32_t k = 0; k < madeCount && k < 4; ++k) {
            moduleHost.get()->outputEvent(made[k]);
            moduleHost.get()->releaseEvent(made[k]);
        }
    }
}

void FilterInstance::sendLiveOutput(ShortEventListObject& output, bool zeroDuration) {
    int32_t count = 0;
    output.count(&count);
    for (int32_t i = 0; i < count; ++i) {
        MfxShortEvent record;
        if (output.get(i, &record) != S_OK) continue;
        HostEvent h = converter.fromShortEvent(record);
        if (!h) continue;
        moduleHost.get()->setLive(h, 1);
        if (zeroDuration) moduleHost.get()->setEventDuration(h, 0);
        moduleHost.get()->outputEventNow(h);
        moduleHost.get()->releaseEvent(h);
    }
}

HRESULT FilterInstance::onEvent(HostEvent event) {
    if (!initialised()) return E_UNEXPECTED;
    if (moduleHost.get()->isLive(event) == 0) {
        HostEvent copy = moduleHost.get()->copyEvent(event);
        if (copy && !pending.insert(copy)) moduleHost.get()->releaseEvent(copy);
        return S_OK;
    }
    MfxShortEvent record = {};
    converter.toShortEvent(&record, event);
    runLive(&record, true);
    return S_OK;
}

void FilterInstance::runLive(const MfxShortEvent* record, bool zeroDuration) {
    CallLists<ShortEventListObject> lists(liveLists);
    if (!lists.ok()) return;
    ShortEventListObject& input = lists.input();
    ShortEventListObject& output = lists.output();
    if (record) input.add(record);
    IMfxFilterPlugin* f = filter.get();
    if (guard::invoke(E_UNEXPECTED, [&] { return f->filterLiveEvents(&input, &output); }) == S_OK)
        sendLiveOutput(output, zeroDuration);
}

HRESULT FilterInstance::process(int32_t from, int32_t to, uint8_t idle) {
    if (!initialised()) return S_OK;
    if (idle) {
        if (hostContext && hostContext->timerRequested()) runLive(nullptr, false);
        if (stopTime != -1) {
            IMfxEventOutput* out = hostContext ? hostContext->eventOutput() : nullptr;
            int32_t count = 0;
            stopOutput.count(&count);
            for (int32_t i = 0; out && i < count; ++i) {
                MfxEvent record;
                if (stopOutput.get(i, &record) != S_OK) continue;
                record.time = wrap::sub(record.time, stopTime);
                out->sendEvent(0, &record);
            }
            stopOutput.clear();
            stopTime = -1;
        }
        return S_OK;
    }

    CallLists<EventListObject> lists(blockLists);
    if (!lists.ok()) return S_OK;
    EventListObject& input = lists.input();
    EventListObject& output = lists.output();
    if (!skipNext && to > from) {
        if (!started) {
            guard::call([&] { filter->beginPlayback(from, &output); });
            deliverOutput(output);
            started = true;
            output.clear();
        }
        for (HostEvent h = pending.takeBefore(to); h; h = pending.takeBefore(to)) {
            MfxEvent record = {};
            if (converter.toMfxEvent(&record, h)) input.add(&record);
            moduleHost.get()->releaseEvent(h);
        }
        HRESULT hr = E_UNEXPECTED;
        if (guard::call([&] { hr = filter->filterEvents(from, to - 1, &input, &output); })) lastEnd = to - 1;
        int32_t loopCount = 0;
        loopOutput.count(&loopCount);
        if (loopCount > 0) {
            deliverOutput(loopOutput);
            loopOutput.clear();
        }
        if (hr == S_OK) deliverOutput(output);
    }
    skipNext = false;
    return S_OK;
}

HRESULT FilterInstance::stop(int32_t time) {
    if (!initialised()) return S_OK;
    pending.clearReleasing();
    started = false;
    skipNext = true;
    guard::call([&] { filter->endPlayback(time, &stopOutput); });
    stopTime = time;
    return S_OK;
}

HRESULT FilterInstance::reposition(uint32_t) {
    if (!initialised()) return S_OK;
    if (started && !skipNext) static_cast<IMidiModule*>(this)->stop(lastEnd);
    skipNext = true;
    return S_OK;
}

HRESULT FilterInstance::cycleJump(int32_t start, int32_t length) {
    if (!initialised()) return S_OK;
    int32_t loopCount = 0;
    loopOutput.count(&loopCount);
    if (loopCount > 0) loopOutput.clear();
    pending.shiftBack(start, length, true);
    if (started) {
        if (!guard::call([&] { filter->loopPlayback(start, wrap::add(start, length), &loopOutput); })) loopOutput.clear();
    }
    return S_OK;
}

int32_t FilterInstance::getClassId(uint8_t* out16) {
    if (!out16) return 1;
    std::memcpy(out16, &entry->classId, 16);
    return 0;
}

int32_t FilterInstance::setState(const void* data, int32_t size) {
    return restoreFilterState(persist.get(), stateStreams, data, size);
}

int32_t FilterInstance::getState(void* buffer, int32_t* size) {
    return buffer ? copyStateSnapshot(persist.get(), stateStreams, buffer, size)
                  : saveStateSnapshot(persist.get(), stateStreams, size);
}

int32_t FilterInstance::getTemplate(const char* viewName, char* nameOut, char* textOut, int32_t* sizeOut) {
    return editorGetTemplate(pages.get(), templateText, viewName, nameOut, textOut, sizeOut);
}

int32_t FilterInstance::createView(const char* viewName, const ViewRect* rect, IModuleView** out) {
    return editorCreateView(pages.get(), viewName, rect, out);
}
