// 32-bit time arithmetic that wraps as the host's times do, without the undefined
// behaviour of signed overflow.
#pragma once

#include <cstdint>

namespace wrap {
inline int32_t add(int32_t a, int32_t b) { return int32_t(uint32_t(a) + uint32_t(b)); }
inline int32_t sub(int32_t a, int32_t b) { return int32_t(uint32_t(a) - uint32_t(b)); }
}  // namespace wrap
