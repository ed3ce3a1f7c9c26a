#include "host/UniqueId.h"

#include <cstring>

#include "interfaces/ComExtras.h"

UniqueId::UniqueId() { std::memset(bytes_, 0, sizeof bytes_); }

UniqueId::UniqueId(uint32_t w0, uint32_t w1, uint32_t w2, uint32_t w3) {
    auto le = [](uint8_t* at, uint32_t v, int n) {
        for (int i = 0; i < n; ++i) at[i] = uint8_t(v >> (8 * i));
    };
    auto be = [](uint8_t* at, uint32_t v) {
        for (int i = 0; i < 4; ++i) at[i] = uint8_t(v >> (8 * (3 - i)));
    };
    le(bytes_, w0, 4);
    le(bytes_ + 4, w1 >> 16, 2);
    le(bytes_ + 6, w1 & 0xFFFF, 2);
    be(bytes_ + 8, w2);
    be(bytes_ + 12, w3);
}

UniqueId::UniqueId(const void* bytes16) {
    if (bytes16)
        std::memcpy(bytes_, bytes16, sizeof bytes_);
    else
        std::memset(bytes_, 0, sizeof bytes_);
}

namespace {
int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads up to n hexadecimal digits; stops at the first other character, as a
// "%x" scan does. A group that starts with no digit gives 0.
uint32_t readHex(const char* at, int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i) {
        int d = hexDigit(at[i]);
        if (d < 0) break;
        v = (v << 4) | uint32_t(d);
    }
    return v;
}
}  // namespace

bool UniqueId::fromString(const char* text) {
    if (!text || std::strlen(text) != 38) return false;
    uint32_t first = readHex(text + 1, 8);
    uint16_t second = uint16_t(readHex(text + 10, 4));
    uint16_t third = uint16_t(readHex(text + 15, 4));
    uint8_t tail[8];
    static const int pairAt[8] = {20, 22, 25, 27, 29, 31, 33, 35};
    for (int i = 0; i < 8; ++i) tail[i] = uint8_t(readHex(text + pairAt[i], 2));
    std::memcpy(bytes_, &first, 4);
    std::memcpy(bytes_ + 4, &second, 2);
    std::memcpy(bytes_ + 6, &third, 2);
    std::memcpy(bytes_ + 8, tail, 8);
    return true;
}

bool UniqueId::operator==(const UniqueId& other) const { return equals(other.bytes_); }

bool UniqueId::equals(const void* bytes16) const { return sameId(bytes_, bytes16); }

namespace hostid {
const UniqueId IUnknown(0x00000000, 0x00000000, 0xC0000000, 0x00000046);
const UniqueId IMidiModule(0x22888DDB, 0x156E45AE, 0x8358B348, 0x08190625);
const UniqueId IModuleBase(0x573C8B06, 0x17BE488E, 0xB458400C, 0xD3EE099E);
const UniqueId IModuleFactory(0x7A4D811C, 0x52114A1F, 0xAED9D2EE, 0x0B43BF9F);
const UniqueId IParameterSet(0x0466B781, 0xA08611D5, 0xBECC00A0, 0xC9A636BC);
const UniqueId IParameterSet2(0x0466B782, 0xA08611D5, 0xBECC00A0, 0xC9A636BC);
const UniqueId IStatePersistence(0x7041A824, 0xFC9A488A, 0x8F07DAC0, 0x5061E933);
const UniqueId IEditorDescription(0x0466B783, 0xA08611D5, 0xBECC00A0, 0xC9A636BC);
const UniqueId IEditorDescription2(0x4B99140E, 0x67E44D4C, 0xA93F8F4F, 0xCEE79F70);
const UniqueId IViewFactory(0x5DB44BA4, 0xF1F741D5, 0xBD3121B9, 0x58BA994B);
const UniqueId IModuleView(0xAA3E50FF, 0xB78840EE, 0xADCD48E8, 0x094CEDB7);
const UniqueId IMidiModuleHost(0x17C91D3F, 0x86064D84, 0xA6CC12AB, 0x2C0996E7);
const UniqueId IHostEventServices(0xA2BBC853, 0x1E3548C3, 0xB6396F98, 0x521E9783);
const UniqueId IHostTimeConversion(0x8000BF71, 0xA8F249CF, 0x8574744B, 0xEEF4211C);
const UniqueId IHostTransport(0xD335041A, 0x762142C6, 0x926A6F39, 0xEDCCBB7B);
}  // namespace hostid
