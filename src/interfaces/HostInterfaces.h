// The host's component model: records and interfaces, slot for slot.
// Slot numbers count QueryInterface, AddRef and Release as 0 to 2.
#pragma once

#include <windows.h>
#include <unknwn.h>
#include <cstddef>
#include <cstdint>

// Opaque 32-bit handle of one host event.
typedef uint32_t HostEvent;

#pragma pack(push, 1)
struct FactoryInfo {
    char text[448];  // zero-terminated, rest of the range zero
    int32_t value;   // always 1
};
static_assert(sizeof(FactoryInfo) == 452, "FactoryInfo is 452 bytes");
static_assert(offsetof(FactoryInfo, value) == 448, "FactoryInfo value at 448");

struct ClassInfo {
    GUID classId;
    int32_t cardinality;
    char category[32];
    char name[64];
};
static_assert(sizeof(ClassInfo) == 116, "ClassInfo is 116 bytes");
static_assert(offsetof(ClassInfo, cardinality) == 16, "cardinality at 16");
static_assert(offsetof(ClassInfo, category) == 20, "category at 20");
static_assert(offsetof(ClassInfo, name) == 52, "name at 52");

struct ModuleInfo {
    uint32_t size;  // set by the caller
    int32_t hasEditor;
};
static_assert(sizeof(ModuleInfo) == 8, "ModuleInfo is 8 bytes");

// The host's rectangle record, kept in the order the host gives it.
struct ViewRect {
    int32_t left, top, right, bottom;
};
static_assert(sizeof(ViewRect) == 16, "ViewRect is 16 bytes");

// What songInfo fills; the module reads only tempo and the two meter fields.
struct SongInfo {
    int32_t tempo;
    uint8_t other[36];
    int16_t meterNumerator;
    int16_t meterDenominator;  // the module shifts it right by one bit
};
static_assert(sizeof(SongInfo) == 44, "SongInfo is 44 bytes");
static_assert(offsetof(SongInfo, meterNumerator) == 40, "numerator at 40");
static_assert(offsetof(SongInfo, meterDenominator) == 42, "denominator at 42");

struct ParameterEntry {
    uint32_t id;
};
#pragma pack(pop)

class IModuleView;
class IParameterSet;

// ---- implemented by the module -------------------------------------------

class IModuleFactory : public IUnknown {
public:
    virtual HRESULT STDMETHODCALLTYPE describeFactory(FactoryInfo* out) = 0;                 // 3
    virtual int32_t STDMETHODCALLTYPE classCount() = 0;                                     // 4
    virtual HRESULT STDMETHODCALLTYPE describeClass(int32_t index, ClassInfo* out) = 0;     // 5
    virtual HRESULT STDMETHODCALLTYPE createInstance(const GUID* classId, const GUID* iid,
                                                     void** out) = 0;                       // 6
};

class IModuleBase : public IUnknown {
public:
    virtual HRESULT STDMETHODCALLTYPE initialize(IUnknown* context) = 0;  // 3
    virtual HRESULT STDMETHODCALLTYPE terminate() = 0;                    // 4
};

class IMidiModule : public IModuleBase {
public:
    virtual HRESULT STDMETHODCALLTYPE getInfo(ModuleInfo* info) = 0;                      // 5
    virtual HRESULT STDMETHODCALLTYPE setValue(int32_t value) = 0;                        // 6
    virtual HRESULT STDMETHODCALLTYPE onEvent(HostEvent event) = 0;                       // 7
    virtual HRESULT STDMETHODCALLTYPE process(int32_t from, int32_t to, uint8_t idle) = 0; // 8
    virtual HRESULT STDMETHODCALLTYPE reposition(uint32_t ignored) = 0;                   // 9
    virtual HRESULT STDMETHODCALLTYPE cycleJump(int32_t start, int32_t length) = 0;       // 10
    virtual HRESULT STDMETHODCALLTYPE stop(int32_t time) = 0;                             // 11
    virtual HRESULT STDMETHODCALLTYPE start(int32_t time) = 0;                            // 12
};

// 0 done, 1 not done (entryCount returns a count).
class IParameterSet : public IUnknown {
public:
    virtual int32_t STDMETHODCALLTYPE findByName(const char* name, ParameterEntry** out) = 0;  // 3
    virtual int32_t STDMETHODCALLTYPE queryEntry(uint32_t a, uint32_t b) = 0;                 // 4
    virtual int32_t STDMETHODCALLTYPE entryCount() = 0;                                       // 5
    virtual int32_t STDMETHODCALLTYPE nameByIndex(int32_t index, char* buffer128) = 0;        // 6
    virtual int32_t STDMETHODCALLTYPE findById(uint32_t id, ParameterEntry** out) = 0;        // 7
};

class IStatePersistence : public IUnknown {
public:
    virtual int32_t STDMETHODCALLTYPE getClassId(uint8_t* out16) = 0;                   // 3
    virtual int32_t STDMETHODCALLTYPE setState(const void* data, int32_t size) = 0;     // 4
    virtual int32_t STDMETHODCALLTYPE getState(void* buffer, int32_t* size) = 0;        // 5
};

class IEditorDescription : public IUnknown {
public:
    virtual int32_t STDMETHODCALLTYPE getViewParameters(const char* viewName,
                                                        IParameterSet** out) = 0;       // 3
    virtual int32_t STDMETHODCALLTYPE getTemplate(const char* viewName, char* nameOut,
                                                  char* textOut, int32_t* sizeOut) = 0; // 4
    virtual int32_t STDMETHODCALLTYPE getResource(const char* number, void* buffer,
                                                  int32_t* size) = 0;                   // 5
};

class IViewFactory : public IUnknown {
public:
    virtual int32_t STDMETHODCALLTYPE createView(const char* viewName, const ViewRect* rect,
                                                 IModuleView** out) = 0;  // 3
    virtual int32_t STDMETHODCALLTYPE probeView(uint32_t arg) = 0;        // 4
};

class IModuleView : public IUnknown {
public:
    virtual HRESULT STDMETHODCALLTYPE attachToParent(HWND parent) = 0;                        // 3
    virtual HRESULT STDMETHODCALLTYPE detachFromParent() = 0;                                 // 4
    virtual int32_t STDMETHODCALLTYPE reserved5() = 0;                                        // 5
    virtual int32_t STDMETHODCALLTYPE reserved6(uint32_t arg) = 0;                            // 6
    virtual int32_t STDMETHODCALLTYPE forwardKey(int32_t character, int32_t keyCode,
                                                 int32_t modifiers) = 0;                      // 7
    virtual HRESULT STDMETHODCALLTYPE setViewRect(const ViewRect* rect) = 0;                  // 8
};

// ---- implemented by the host ---------------------------------------------

// The event operations that IMidiModuleHost and IHostEventServices offer in the
// same slots. Slots 28 to 32 mean something on one of the two only: timerPeriod,
// songInfo and handOverEvent on IHostEventServices, setActive on IMidiModuleHost.
class IHostEventSet : public IUnknown {
public:
    virtual HostEvent STDMETHODCALLTYPE createEvent(uint32_t status, uint32_t data1, uint32_t data2,
                                                    uint32_t duration) = 0;                 // 3
    virtual HostEvent STDMETHODCALLTYPE createSysexEvent(const uint8_t* bytes, uint32_t count) = 0; // 4
    virtual HostEvent STDMETHODCALLTYPE copyEvent(HostEvent event) = 0;                     // 5
    virtual int32_t STDMETHODCALLTYPE releaseEvent(HostEvent event) = 0;                    // 6
    virtual int32_t STDMETHODCALLTYPE outputEvent(HostEvent event) = 0;                     // 7
    virtual int32_t STDMETHODCALLTYPE outputEventNow(HostEvent event) = 0;                  // 8
    virtual int32_t STDMETHODCALLTYPE setEventTime(HostEvent event, int32_t time) = 0;      // 9
    virtual int32_t STDMETHODCALLTYPE eventTime(HostEvent event) = 0;                       // 10
    virtual int32_t STDMETHODCALLTYPE setEventDuration(HostEvent event, uint32_t duration) = 0; // 11
    virtual uint32_t STDMETHODCALLTYPE eventDuration(HostEvent event) = 0;                  // 12
    virtual int32_t STDMETHODCALLTYPE setLive(HostEvent event, uint32_t flag) = 0;          // 13
    virtual uint8_t STDMETHODCALLTYPE isLive(HostEvent event) = 0;                          // 14
    virtual int32_t STDMETHODCALLTYPE setEventChannel(HostEvent event, uint32_t channel) = 0; // 15
    virtual int32_t STDMETHODCALLTYPE eventChannel(HostEvent event) = 0;                    // 16
    virtual uint32_t STDMETHODCALLTYPE eventKind(HostEvent event) = 0;                      // 17
    virtual int32_t STDMETHODCALLTYPE reserved18() = 0;                                     // 18
    virtual uint32_t STDMETHODCALLTYPE eventData1(HostEvent event) = 0;                     // 19
    virtual int32_t STDMETHODCALLTYPE reserved20() = 0;                                     // 20
    virtual uint32_t STDMETHODCALLTYPE eventData2(HostEvent event) = 0;                     // 21
    virtual int32_t STDMETHODCALLTYPE reserved22() = 0;                                     // 22
    virtual uint32_t STDMETHODCALLTYPE releaseVelocity(HostEvent event) = 0;                // 23
    virtual int32_t STDMETHODCALLTYPE setReleaseVelocity(HostEvent event, uint32_t velocity) = 0; // 24
    virtual int32_t STDMETHODCALLTYPE reserved25() = 0;                                     // 25
    virtual int32_t STDMETHODCALLTYPE reserved26() = 0;                                     // 26
    virtual int32_t STDMETHODCALLTYPE reserved27() = 0;                                     // 27
    virtual int32_t STDMETHODCALLTYPE timerPeriod() = 0;                                    // 28
    virtual int32_t STDMETHODCALLTYPE reserved29() = 0;                                     // 29
    virtual int32_t STDMETHODCALLTYPE songInfo(int32_t time, SongInfo* out) = 0;            // 30
    virtual int32_t STDMETHODCALLTYPE setActive(uint32_t flag) = 0;                         // 31
    virtual int32_t STDMETHODCALLTYPE handOverEvent(HostEvent event) = 0;                   // 32
    virtual uint32_t STDMETHODCALLTYPE sysexLength(HostEvent event) = 0;                    // 33
    virtual const uint8_t* STDMETHODCALLTYPE sysexData(HostEvent event) = 0;                // 34
};

class IMidiModuleHost : public IHostEventSet {};
class IHostEventServices : public IHostEventSet {};

class IHostTimeConversion : public IUnknown {
public:
    virtual int32_t STDMETHODCALLTYPE timeBase() = 0;                                       // 3
    virtual int32_t STDMETHODCALLTYPE timeToRealTime(int32_t time) = 0;                     // 4
    virtual int32_t STDMETHODCALLTYPE realTimeToTime(int32_t realTime) = 0;                 // 5
    virtual int32_t STDMETHODCALLTYPE tempoCount() = 0;                                     // 6
    virtual int32_t STDMETHODCALLTYPE tempoEntry(int32_t index, int32_t* time, int32_t* tempo) = 0; // 7
    virtual int32_t STDMETHODCALLTYPE tempoIndexAt(int32_t time) = 0;                       // 8
    virtual int32_t STDMETHODCALLTYPE timeToMeasure(int32_t time, int32_t* measure, int32_t* beat,
                                                    int32_t* tick) = 0;                     // 9
    virtual int32_t STDMETHODCALLTYPE measureToTime(int32_t measure, int32_t beat, int32_t tick) = 0; // 10
};

class IHostTransport : public IUnknown {
public:
    virtual int32_t STDMETHODCALLTYPE position() = 0;  // 3
};
