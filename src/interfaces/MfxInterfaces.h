// The MFX filter interfaces and records, slot for slot, with their identifiers.
#pragma once

#include <windows.h>
#include <unknwn.h>
#include <cstddef>
#include <cstdint>
#include <cstring>

// Address of byte 0 of a sysex block, as a 32-bit value.
typedef uint32_t SysexHandle;

#pragma pack(push, 1)
struct MfxEvent {
    int32_t time;
    uint8_t route;    // 0xFF in a sent record selects the unsplit path
    uint8_t channel;  // 0-15, 0xFF for none
    int32_t type;
    uint8_t data[7];
};
static_assert(sizeof(MfxEvent) == 17, "MfxEvent is 17 bytes");
static_assert(offsetof(MfxEvent, route) == 4, "route at 4");
static_assert(offsetof(MfxEvent, channel) == 5, "channel at 5");
static_assert(offsetof(MfxEvent, type) == 6, "type at 6");
static_assert(offsetof(MfxEvent, data) == 10, "data at 10");

struct MfxShortEvent {
    int32_t time;
    uint8_t status;
    uint8_t data1;
    uint8_t data2;
    uint8_t unused;
};
static_assert(sizeof(MfxShortEvent) == 8, "MfxShortEvent is 8 bytes");
#pragma pack(pop)

// MfxEvent type codes.
enum MfxEventType : int32_t {
    MfxNote = 0,
    MfxKeyAftertouch = 1,
    MfxController = 2,
    MfxProgramChange = 3,
    MfxChannelPressure = 4,
    MfxPitchWheel = 5,
    MfxSysex = 8,
    MfxBlock9 = 9,
    MfxBlock10 = 10,
    MfxShortMessage = 16,
};

// Record data as the types lay it out (byte offsets are from the record's start).
namespace mfxdata {
inline uint32_t readU32(const MfxEvent& e, int at) {
    uint32_t v;
    memcpy(&v, reinterpret_cast<const uint8_t*>(&e) + at, 4);
    return v;
}
inline void writeU32(MfxEvent& e, int at, uint32_t v) { memcpy(reinterpret_cast<uint8_t*>(&e) + at, &v, 4); }
inline uint16_t readU16(const MfxEvent& e, int at) {
    uint16_t v;
    memcpy(&v, reinterpret_cast<const uint8_t*>(&e) + at, 2);
    return v;
}
inline void writeU16(MfxEvent& e, int at, uint16_t v) { memcpy(reinterpret_cast<uint8_t*>(&e) + at, &v, 2); }
inline uint8_t& byteAt(MfxEvent& e, int at) { return reinterpret_cast<uint8_t*>(&e)[at]; }
inline uint8_t byteAt(const MfxEvent& e, int at) { return reinterpret_cast<const uint8_t*>(&e)[at]; }
// Note: key 10, velocity 11, release velocity 12, duration 13-16.
inline uint32_t noteDuration(const MfxEvent& e) { return readU32(e, 13); }
inline void setNoteDuration(MfxEvent& e, uint32_t d) { writeU32(e, 13, d); }
// Types 8, 9, 10: block handle at 10-13.
inline SysexHandle blockHandle(const MfxEvent& e) { return readU32(e, 10); }
inline void setBlockHandle(MfxEvent& e, SysexHandle h) { writeU32(e, 10, h); }
}  // namespace mfxdata

// The MFX interface identifiers, compared with sameId like every COM identifier.
namespace mfxid {
// {8D7FDE01-1B1B-11D2-A8E0-0000A0090DAF}
inline const GUID IMfxFilterPlugin = {0x8D7FDE01, 0x1B1B, 0x11D2, {0xA8, 0xE0, 0x00, 0x00, 0xA0, 0x09, 0x0D, 0xAF}};
// {49C2EE08-7DCA-4DF3-9A41-35CFDB44F12E}
inline const GUID IMfxOutputConnect = {0x49C2EE08, 0x7DCA, 0x4DF3, {0x9A, 0x41, 0x35, 0xCF, 0xDB, 0x44, 0xF1, 0x2E}};
// {C779B641-EDE2-11D2-A8E0-0000A0090DAF}
inline const GUID IMfxSysexAllocator = {0xC779B641, 0xEDE2, 0x11D2, {0xA8, 0xE0, 0x00, 0x00, 0xA0, 0x09, 0x0D, 0xAF}};
// {FF76F7C2-F166-11D1-A8E0-0000A0090DAF}
inline const GUID IMfxEventList = {0xFF76F7C2, 0xF166, 0x11D1, {0xA8, 0xE0, 0x00, 0x00, 0xA0, 0x09, 0x0D, 0xAF}};
// {C51273A1-F0EA-11D2-A8E0-0000A0090DAF}
inline const GUID IMfxEventList2 = {0xC51273A1, 0xF0EA, 0x11D2, {0xA8, 0xE0, 0x00, 0x00, 0xA0, 0x09, 0x0D, 0xAF}};
// {7A37A621-1B1B-11D2-A8E0-0000A0090DAF}
inline const GUID IMfxShortEventList = {0x7A37A621, 0x1B1B, 0x11D2, {0xA8, 0xE0, 0x00, 0x00, 0xA0, 0x09, 0x0D, 0xAF}};
// {FF76F7C3-F166-11D1-A8E0-0000A0090DAF}
inline const GUID IMfxTempoQuery = {0xFF76F7C3, 0xF166, 0x11D1, {0xA8, 0xE0, 0x00, 0x00, 0xA0, 0x09, 0x0D, 0xAF}};
// {FF76F7C4-F166-11D1-A8E0-0000A0090DAF}
inline const GUID IMfxMeterQuery = {0xFF76F7C4, 0xF166, 0x11D1, {0xA8, 0xE0, 0x00, 0x00, 0xA0, 0x09, 0x0D, 0xAF}};
// {A489E601-0247-11D2-A8E0-0000A0090B97}
inline const GUID IMfxKeyQuery = {0xA489E601, 0x0247, 0x11D2, {0xA8, 0xE0, 0x00, 0x00, 0xA0, 0x09, 0x0B, 0x97}};
// {6BFCA001-043D-11D2-A8E0-0000A0090DAF}
inline const GUID IMfxNameProvider = {0x6BFCA001, 0x043D, 0x11D2, {0xA8, 0xE0, 0x00, 0x00, 0xA0, 0x09, 0x0D, 0xAF}};
// {F5C46121-3C4A-11D2-A8E0-0000A0090DAF}
inline const GUID IMfxTimerControl = {0xF5C46121, 0x3C4A, 0x11D2, {0xA8, 0xE0, 0x00, 0x00, 0xA0, 0x09, 0x0D, 0xAF}};
// {FA1B1A27-8B1E-4C4C-9EAE-F8C60E05381D}
inline const GUID IMfxEventOutput = {0xFA1B1A27, 0x8B1E, 0x4C4C, {0x9E, 0xAE, 0xF8, 0xC6, 0x0E, 0x05, 0x38, 0x1D}};
// {B1B5DBD1-6E24-4522-BEB3-AE016D1D31DF}
inline const GUID IMfxHostProperties = {0xB1B5DBD1, 0x6E24, 0x4522, {0xBE, 0xB3, 0xAE, 0x01, 0x6D, 0x1D, 0x31, 0xDF}};
// {24385AC1-02A8-11D2-A8E0-0000A0090B97}
inline const GUID IMfxNameTableList = {0x24385AC1, 0x02A8, 0x11D2, {0xA8, 0xE0, 0x00, 0x00, 0xA0, 0x09, 0x0B, 0x97}};
// {857F3281-02A9-11D2-A8E0-0000A0090B97}
inline const GUID IMfxNameTable = {0x857F3281, 0x02A9, 0x11D2, {0xA8, 0xE0, 0x00, 0x00, 0xA0, 0x09, 0x0B, 0x97}};
}  // namespace mfxid

class IMfxEventList;
class IMfxShortEventList;
class IMfxEventOutput;
class IMfxNameTableList;
class IMfxNameTable;

class IMfxSysexAllocator : public IUnknown {
public:
    virtual HRESULT STDMETHODCALLTYPE create(uint32_t size, SysexHandle* out) = 0;                     // 3
    virtual HRESULT STDMETHODCALLTYPE resize(SysexHandle old, uint32_t size, SysexHandle* out) = 0;    // 4
    virtual HRESULT STDMETHODCALLTYPE getData(SysexHandle block, uint8_t** data, uint32_t* size) = 0;  // 5
};

class IMfxEventList : public IUnknown {
public:
    virtual HRESULT STDMETHODCALLTYPE add(const MfxEvent* event) = 0;               // 3
    virtual HRESULT STDMETHODCALLTYPE count(int32_t* out) = 0;                      // 4
    virtual HRESULT STDMETHODCALLTYPE get(int32_t index, MfxEvent* out) = 0;        // 5
    virtual HRESULT STDMETHODCALLTYPE allocator(IMfxSysexAllocator** out) = 0;      // 6
};

class IMfxShortEventList : public IUnknown {
public:
    virtual HRESULT STDMETHODCALLTYPE add(const MfxShortEvent* event) = 0;          // 3
    virtual HRESULT STDMETHODCALLTYPE count(int32_t* out) = 0;                      // 4
    virtual HRESULT STDMETHODCALLTYPE get(int32_t index, MfxShortEvent* out) = 0;   // 5
};

class IMfxFilterPlugin : public IUnknown {
public:
    virtual HRESULT STDMETHODCALLTYPE attachHost(IUnknown* host) = 0;                                   // 3
    virtual HRESULT STDMETHODCALLTYPE detachHost() = 0;                                                 // 4
    virtual HRESULT STDMETHODCALLTYPE beginPlayback(int32_t time, IMfxEventList* out) = 0;              // 5
    virtual HRESULT STDMETHODCALLTYPE loopPlayback(int32_t restart, int32_t end, IMfxEventList* out) = 0; // 6
    virtual HRESULT STDMETHODCALLTYPE endPlayback(int32_t time, IMfxEventList* out) = 0;                // 7
    virtual HRESULT STDMETHODCALLTYPE filterEvents(int32_t first, int32_t last, IMfxEventList* in,
                                                   IMfxEventList* out) = 0;                             // 8
    virtual HRESULT STDMETHODCALLTYPE filterLiveEvents(IMfxShortEventList* in, IMfxShortEventList* out) = 0; // 9
};

class IMfxOutputConnect : public IUnknown {
public:
    virtual HRESULT STDMETHODCALLTYPE setEventOutput(IMfxEventOutput* output) = 0;  // 3
};

class IMfxTempoQuery : public IUnknown {
public:
    virtual int32_t STDMETHODCALLTYPE fromRealTime(int32_t realTime) = 0;                          // 3
    virtual int32_t STDMETHODCALLTYPE toRealTime(int32_t time) = 0;                                // 4
    virtual int32_t STDMETHODCALLTYPE timeBase() = 0;                                              // 5
    virtual int32_t STDMETHODCALLTYPE tempoIndexAt(int32_t time) = 0;                              // 6
    virtual int32_t STDMETHODCALLTYPE tempoCount() = 0;                                            // 7
    virtual HRESULT STDMETHODCALLTYPE tempoEntry(int32_t index, int32_t* time, int32_t* tempo) = 0; // 8
};

class IMfxMeterQuery : public IUnknown {
public:
    virtual HRESULT STDMETHODCALLTYPE timeToMeasure(int32_t time, int32_t* measure, int32_t* beat,
                                                    int32_t* tick) = 0;                            // 3
    virtual int32_t STDMETHODCALLTYPE measureToTime(int32_t measure, int32_t beat, int32_t tick) = 0; // 4
    virtual int32_t STDMETHODCALLTYPE meterIndexAt(int32_t time) = 0;                              // 5
    virtual int32_t STDMETHODCALLTYPE meterCount() = 0;                                            // 6
    virtual HRESULT STDMETHODCALLTYPE meterEntry(int32_t index, int32_t* time, int32_t* numerator,
                                                 int32_t* denominator) = 0;                        // 7
};

class IMfxKeyQuery : public IUnknown {
public:
    virtual int32_t STDMETHODCALLTYPE keyIndexAt(int32_t time) = 0;                              // 3
    virtual int32_t STDMETHODCALLTYPE keyCount() = 0;                                            // 4
    virtual HRESULT STDMETHODCALLTYPE keyEntry(int32_t index, int32_t* first, int32_t* second) = 0; // 5
};

class IMfxNameProvider : public IUnknown {
public:
    virtual HRESULT STDMETHODCALLTYPE numberNameTables(IMfxNameTableList** out) = 0;      // 3
    virtual HRESULT STDMETHODCALLTYPE numberNameTables2(IMfxNameTableList** out) = 0;     // 4
    virtual HRESULT STDMETHODCALLTYPE controllerNameTables(IMfxNameTableList** out) = 0;  // 5
};

class IMfxTimerControl : public IUnknown {
public:
    virtual HRESULT STDMETHODCALLTYPE timerPeriod(int32_t* period) = 0;  // 3
    virtual HRESULT STDMETHODCALLTYPE startTimer() = 0;                  // 4
    virtual HRESULT STDMETHODCALLTYPE stopTimer() = 0;                   // 5
};

class IMfxEventOutput : public IUnknown {
public:
    virtual HRESULT STDMETHODCALLTYPE sendEvent(uint32_t ignored, const MfxEvent* event) = 0;  // 3
};

class IMfxHostProperties : public IUnknown {
public:
    virtual HRESULT STDMETHODCALLTYPE reserved3(uint32_t a, uint32_t b) = 0;         // 3
    virtual HRESULT STDMETHODCALLTYPE reserved4(uint32_t a, uint32_t b) = 0;         // 4
    virtual HRESULT STDMETHODCALLTYPE reserved5(uint32_t a, uint32_t b) = 0;         // 5
    virtual HRESULT STDMETHODCALLTYPE getProperty(uint32_t flags, int32_t* record) = 0; // 6
};

class IMfxNameTableList : public IUnknown {
public:
    virtual HRESULT STDMETHODCALLTYPE count(int32_t* out) = 0;                       // 3
    virtual HRESULT STDMETHODCALLTYPE table(int32_t index, IMfxNameTable** out) = 0; // 4
};

class IMfxNameTable : public IUnknown {
public:
    virtual HRESULT STDMETHODCALLTYPE rangeText(char* buffer, int32_t capacity) = 0;                 // 3
    virtual HRESULT STDMETHODCALLTYPE valueCount(int32_t* out) = 0;                                  // 4
    virtual HRESULT STDMETHODCALLTYPE valueName(int32_t value, char* buffer, int32_t capacity) = 0;  // 5
};
