// bitset!: a growable array of bits, most often a set of code points. Bit n lives in byte n >> 3
// at mask 80h >> (n & 7). A complemented bitset stands for an unbounded set: every bit beyond
// its stored bytes reads as 1 (the buffer's complement flag), and its stored bytes hold the bits
// as they are.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace zub::bitset {

// Whether bit n is set; a negative n, or one beyond the stored bytes, answers the complement flag.
// Never allocates.
bool test(const Cell& bits, int64_t n);

// Whether the bitset is complemented. Never allocates.
bool complemented(const Cell& bits);

// The bitwise actions and set natives by their operation codes.
enum Op : int32_t {
    kOr = 5,
    kAnd = 6,
    kXor = 7,
    kUnion = 9,
    kIntersect = 10,
    kExclude = 11,
    kDifference = 12,
};
// A new bitset combining two bitsets (script invalid-type for any other second operand). Bits
// beyond an operand's stored bytes take its complement flag, and the result's flag is the
// operation applied to the two flags, so complemented sets combine as the sets they stand for.
// May collect.
Cell combine(Cell a, Cell b, int32_t op);

}  // namespace zub::bitset
