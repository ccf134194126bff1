// The payload of point2D! and point3D!: the coordinates as binary32 in w1, w2 (and w3).
#pragma once

#include <bit>
#include <cstdint>

#include "runtime/cell.h"

namespace zub::point {

inline Cell make2(float x, float y) {
    return cell::make(TypeId::point2D, std::bit_cast<uint32_t>(x), std::bit_cast<uint32_t>(y));
}
inline Cell make3(float x, float y, float z) {
    return cell::make(TypeId::point3D, std::bit_cast<uint32_t>(x), std::bit_cast<uint32_t>(y),
                      std::bit_cast<uint32_t>(z));
}

// Coordinate i (0 x, 1 y, 2 z; z of a point2D! is 0).
inline float coordinate(const Cell& p, int i) { return std::bit_cast<float>(i == 0 ? p.w1 : i == 1 ? p.w2 : p.w3); }
inline void set_coordinate(Cell& p, int i, float v) {
    const auto bits = std::bit_cast<uint32_t>(v);
    if (i == 0) p.w1 = bits;
    else if (i == 1) p.w2 = bits;
    else p.w3 = bits;
}

}  // namespace zub::point
