// The payload of pair!: x in w2 and y in w3, as 32-bit integers.
#pragma once

#include <cstdint>

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

}  // namespace zub::pair
