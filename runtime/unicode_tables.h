// The shapes of the generated Unicode tables (runtime/unicode_tables.cpp, written by
// tools/gen_unicode_tables.py). Private to the Unicode module: only unicode.cpp and the
// generated file include it, so a generator that writes the wrong shape fails to compile.
#pragma once

#include <cstdint>

namespace zub::unicode::tables {

struct Pair {
    uint32_t first;   // a case pair's code point, or a range's first code point
    uint32_t second;  // its mapping, or the range's last code point (inclusive)
};

// BMP case mapping in two stages: kCaseBlocks[index[cp >> shift] * size + (cp & (size - 1))] is
// the mapped code point, 0 when the code point maps to itself.
inline constexpr uint32_t kCaseBlockShift = 7;
inline constexpr uint32_t kCaseBlockSize = 1u << kCaseBlockShift;
inline constexpr uint32_t kCaseIndexSize = 0x10000 >> kCaseBlockShift;

extern const char kUnicodeVersion[];
extern const uint8_t kUpperIndex[kCaseIndexSize];
extern const uint8_t kLowerIndex[kCaseIndexSize];
extern const uint32_t kCaseBlockCount;
extern const uint16_t kCaseBlocks[];

// Above U+FFFF: sorted by code point.
extern const uint32_t kUpperPairsCount;
extern const Pair kUpperPairs[];
extern const uint32_t kLowerPairsCount;
extern const Pair kLowerPairs[];

// Sorted, disjoint, merged inclusive ranges.
extern const uint32_t kZeroWidthCount;
extern const Pair kZeroWidth[];
extern const uint32_t kWideCount;
extern const Pair kWide[];
extern const uint32_t kAmbiguousCount;
extern const Pair kAmbiguous[];

}  // namespace zub::unicode::tables
