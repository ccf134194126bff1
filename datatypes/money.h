// The payload of money!: the sign in header bit 14, the currency in the low byte of w1 and the
// amount's digits in the rest of w1 to w3.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace zub::money {

inline constexpr uint32_t kSignFlag = 0x4000;  // header: the amount is negative

inline bool negative(const Cell& m) { return (m.header & kSignFlag) != 0; }
inline uint32_t currency(const Cell& m) { return m.w1 & 0xFF; }
inline bool is_zero(const Cell& m) { return (m.w1 >> 8) == 0 && m.w2 == 0 && m.w3 == 0; }
// -1, 0 or 1; zero has no sign.
inline int32_t signum(const Cell& m) { return is_zero(m) ? 0 : negative(m) ? -1 : 1; }

}  // namespace zub::money
