// The object the host creates for one class: it owns one MFX filter and carries
// events, editor and state between host and filter.
#pragma once

#include <memory>
#include <new>

#include "editor/EditorTemplate.h"
#include "interfaces/FilterEntry.h"
#include "host/ModuleObject.h"
#include "host/TimedEventList.h"
#include "interfaces/ComExtras.h"
#include "interfaces/MfxInterfaces.h"
#include "persist/FilterState.h"
#include "persist/MemoryStream.h"
#include "services/EventConverter.h"
#include "services/HostContext.h"
#include "services/RecordList.h"

// The lists of one call path (sequenced or live): the instance's own, and a pair for
// each depth of call the host makes from inside the filter's, where the outer call's
// lists are still the filter's. All live as long as the instance, so a filter that kept
// one finds it alive at its next call.
template <class List>
struct CallPath {
    static const int kMaxDepth = 16;
    List input, output;
    int depth = 0;
    std::unique_ptr<List> nested[2 * kMaxDepth];
};

// The lists of one filter call, emptied at its end, a block both hold freed once.
// Not ok when calls nest too deep or memory runs out: the call then leaves the filter out.
template <class List>
class CallLists {
public:
    explicit CallLists(CallPath<List>& path) : path_(path) {
        const int d = path.depth++;
        if (d == 0) {
            input_ = &path.input;
            output_ = &path.output;
        } else if (d <= CallPath<List>::kMaxDepth) {
            std::unique_ptr<List>& in = path.nested[2 * (d - 1)];
            std::unique_ptr<List>& out = path.nested[2 * (d - 1) + 1];
            if (!in) in.reset(new (std::nothrow) List);
            if (!out) out.reset(new (std::nothrow) List);
            if (in && out) {
                input_ = in.get();
                output_ = out.get();
            }
        }
    }
    ~CallLists() {
        if (input_) List::clearTogether(*output_, *input_);
        --path_.depth;
    }
    CallLists(const CallLists&) = delete;
    CallLists& operator=(const CallLists&) = delete;

    bool ok() const { return input_ != nullptr; }
    List& input() { return *input_; }
    List& output() { return *output_; }

private:
    CallPath<List>& path_;
    List* input_ = nullptr;
    List* output_ = nullptr;
};

class FilterInstance : public ModuleObject {
public:
    // Adopts the caller's references on the filter and its two optional interfaces.
    FilterInstance(IMfxFilterPlugin* filter, ISpecifyPropertyPages* pages, IPersistStream* persist,
                   FilterEntry* entry);
    ~FilterInstance() override;

    // IMidiModule
    HRESULT STDMETHODCALLTYPE initialize(IUnknown* context) override;
    HRESULT STDMETHODCALLTYPE terminate() override;
    HRESULT STDMETHODCALLTYPE onEvent(HostEvent event) override;
    HRESULT STDMETHODCALLTYPE process(int32_t from, int32_t to, uint8_t idle) override;
    HRESULT STDMETHODCALLTYPE reposition(uint32_t ignored) override;
    HRESULT STDMETHODCALLTYPE cycleJump(int32_t start, int32_t length) override;
    HRESULT STDMETHODCALLTYPE stop(int32_t time) override;
    HRESULT STDMETHODCALLTYPE start(int32_t time) override;

    // IStatePersistence
    int32_t STDMETHODCALLTYPE getClassId(uint8_t* out16) override;
    int32_t STDMETHODCALLTYPE setState(const void* data, int32_t size) override;
    int32_t STDMETHODCALLTYPE getState(void* buffer, int32_t* size) override;

    // IEditorDescription / IViewFactory
    int32_t STDMETHODCALLTYPE getTemplate(const char* viewName, char* nameOut, char* textOut,
                                          int32_t* sizeOut) override;
    int32_t STDMETHODCALLTYPE createView(const char* viewName, const ViewRect* rect,
                                         IModuleView** out) override;

    // For tests and the host's benchmark: the transport state.
    bool isStarted() const { return started; }
    bool isSkippingNext() const { return skipNext; }
    int32_t pendingStopTime() const { return stopTime; }
    int32_t lastProcessedEnd() const { return lastEnd; }
    int32_t pendingCount() const { return pending.count(); }

private:
    void deliverOutput(EventListObject& list);
    void sendLiveOutput(ShortEventListObject& output, bool zeroDuration);
    // One filterLiveEvents call: with the record as input, or none for an idle call.
    void runLive(const MfxShortEvent* record, bool zeroDuration);
    bool initialised() const { return moduleHost.get() != nullptr; }

    FilterEntry* entry;
    // The filter's own objects; given back under the guard.
    ComRef<IMfxFilterPlugin> filter;
    ComRef<ISpecifyPropertyPages> pages;
    ComRef<IPersistStream> persist;
    EditorTemplateText templateText;
    TimedEventList pending;
    EventConverter converter;
    Owner<HostContext> hostContext;
    EventListObject loopOutput;
    EventListObject stopOutput;
    // A block's lists and the live lists, emptied at the end of every call; kept so
    // that their nodes are reused.
    CallPath<EventListObject> blockLists;
    CallPath<ShortEventListObject> liveLists;
    int32_t stopTime = -1;
    bool started = false;
    bool skipNext = false;
    int32_t lastEnd = 0;
    StateStreams stateStreams;
};

// Creates the filter in process and wraps it; null when either fails, with the reason
// in why when given (E_UNEXPECTED for a fault in the filter's code). Count 1.
FilterInstance* createFilterInstance(FilterEntry* entry, HRESULT* why = nullptr);
