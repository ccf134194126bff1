// money!: an exact signed decimal amount of 17 integer and 5 fraction digits, optionally in a
// currency. The sign lives in header bit 14, the currency's 1-based position in the currency list
// in the low byte of w1, and 22 BCD digits (most significant first, two per byte, high nibble
// first) in the other 11 payload bytes.
#pragma once

#include <cstdint>
#include <string_view>

#include "runtime/cell.h"

namespace zub::money {

inline constexpr uint32_t kSignFlag = 0x4000;  // header: the amount is negative
inline constexpr int kDigits = 22;             // 17 integer digits, then 5 fraction digits
inline constexpr int kFractionDigits = 5;

inline bool negative(const Cell& m) { return (m.header & kSignFlag) != 0; }
inline uint32_t currency(const Cell& m) { return m.w1 & 0xFF; }
inline bool is_zero(const Cell& m) { return (m.w1 >> 8) == 0 && m.w2 == 0 && m.w3 == 0; }
// -1, 0 or 1; zero has no sign.
inline int32_t signum(const Cell& m) { return is_zero(m) ? 0 : negative(m) ? -1 : 1; }

// A money! cell from its parts: integer digits (at most 17 significant, "'" skipped) and fraction
// digits (at most 5). False when a part has a digit too many or a byte that is not a digit.
bool make_from_digits(bool negative, uint32_t currency, std::string_view integer_digits,
                      std::string_view fraction_digits, Cell& out);
// Exactly the integer. Never allocates.
Cell from_integer(int32_t value);
// A float's amount. A magnitude of 1e17 or more, a non-zero one below 1e-05, an infinity or NaN
// raise script bad-make-arg with money! and `source`. With `strict` (make, to, as-money) the
// float is written with 22 significant digits and more than 5 fraction digits are refused, so 0.1
// is refused; otherwise (arithmetic) its shortest text is cut after the fifth fraction digit, so
// 0.3 is $0.30000 and 1.234567 is $1.23456.
Cell from_float(double value, bool strict, const Cell& source);
// The integer part; beyond 32 bits raises script type-limit with integer!.
int32_t to_integer(const Cell& m);
// The nearest double to the amount.
double to_float(const Cell& m);

}  // namespace zub::money
