// The payload of pair!: x in w2 and y in w3, as 32-bit integers.
#pragma once

#include <cstdint>

#include "datatypes/integer.h"
#include "runtime/cell.h"

namespace zub::pair {

inline Cell make(int32_t x, int32_t y) {
    return cell::make(TypeId::pair, 0, static_cast<uint32_t>(x), static_cast<uint32_t>(y));
}
inline int32_t x(const Cell& p) { return static_cast<int32_t>(p.w2); }
inline int32_t y(const Cell& p) { return static_cast<int32_t>(p.w3); }
inline void set(Cell& p, int32_t x, int32_t y) {
    p.w2 = static_cast<uint32_t>(x);
    p.w3 = static_cast<uint32_t>(y);
}

// The same coordinates as a point2D! (each integer rounded to binary32).
Cell to_point2D(const Cell& p);

// The arithmetic of pair `a` with an integer, a float or percent, a pair or a point2D! (op codes
// 0 to 7). A coordinate that leaves the integers (an overflow, a division that is not exact)
// turns the whole operation into point2D! arithmetic.
Cell do_math(Cell a, Cell b, MathOp op);

}  // namespace zub::pair
