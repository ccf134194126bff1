// The payload of point2D! and point3D!: the coordinates as binary32 in w1, w2 (and w3).
#pragma once

#include <bit>
#include <cstdint>

#include "datatypes/integer.h"
#include "datatypes/pair.h"
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

// A pair! or point2D! as two numbers; false for anything else.
inline bool xy(const Cell& c, double& x, double& y) {
    if (cell::is(c, TypeId::pair)) {
        x = pair::x(c), y = pair::y(c);
        return true;
    }
    if (!cell::is(c, TypeId::point2D)) return false;
    x = coordinate(c, 0), y = coordinate(c, 1);
    return true;
}

inline int dimensions(const Cell& p) { return cell::is(p, TypeId::point3D) ? 3 : 2; }

// A double narrowed to binary32 as the hardware rounds it, written so that no conversion is out
// of range: beyond the largest float by half a step or more gives an infinity.
float narrow(double d);

// Equality of two binary32 values: NaN is unequal to everything; equal or both zero is equal;
// otherwise values at most 10 representable steps apart, and, at the largest finite magnitude or
// beyond, values of one sign whose bits differ by less than 100000h.
bool almost_equal32(float a, float b);

// The arithmetic of a point2D! or point3D! `a` (op codes add to remainder) with a number, a point
// of its kind, or (point2D!) a pair. Coordinates are computed in double and stored as binary32;
// other operands raise script invalid-type with their datatype. Never fails otherwise.
Cell do_math(Cell a, Cell b, MathOp op);

// The compare entry of the point types; a pair on the right counts as a point2D!.
int32_t compare(Cell a, Cell b, int32_t op);

// The text loaded by the lexer as one value, which must be of `type`; anything else raises script
// bad-to-arg with the datatype and the text. Shared by the coordinate types and tuple!. May
// collect.
Cell load_one(TypeId type, Cell text);

}  // namespace zub::point
