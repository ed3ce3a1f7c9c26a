// The object the host creates for one class: it owns one MFX filter and carries
// events, editor and state between host and filter.
#pragma once

#include <optional>

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

// The input and output lists of one filter call: the instance's own, kept so that a filter
// that kept one finds it alive at its next call; or, for a call the host makes from inside
// the filter's, lists of that call's own, as the outer call's are still the filter's.
// Emptied at the call's end, a block both lists hold freed once.
template <class List>
class CallLists {
public:
    CallLists(List& input, List& output, int& depth) : depth_(depth) {
        if (depth_ > 0) {
            nestedInput_.emplace();
            nestedOutput_.emplace();
        }
        input_ = nestedInput_ ? &*nestedInput_ : &input;
        output_ = nestedOutput_ ? &*nestedOutput_ : &output;
        ++depth_;
    }
    ~CallLists() {
        List::clearTogether(*output_, *input_);
        --depth_;
    }
    CallLists(const CallLists&) = delete;
    CallLists& operator=(const CallLists&) = delete;

    List& input() { return *input_; }
    List& output() { return *output_; }

private:
    int& depth_;
    std::optional<List> nestedInput_, nestedOutput_;
    List* input_;
    List* output_;
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
    void deliverOutput(IMfxEventList* list);
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
    // A block's lists, emptied at the end of every process call; kept so that their
    // nodes are reused.
    EventListObject blockInput;
    EventListObject blockOutput;
    int processDepth = 0;
    ShortEventListObject liveInput;
    ShortEventListObject liveOutput;
    int liveDepth = 0;
    int32_t stopTime = -1;
    bool started = false;
    bool skipNext = false;
    int32_t lastEnd = 0;
    StateStreams stateStreams;
};

// Creates the filter in process and wraps it; null when either fails, with the reason
// in why when given (E_UNEXPECTED for a fault in the filter's code). Count 1.
FilterInstance* createFilterInstance(FilterEntry* entry, HRESULT* why = nullptr);
