// char!: a Unicode code point, 0 to 10FFFFh. Its arithmetic runs on the integer core and must
// land back in the code point range.
#pragma once

#include <cstdint>

#include "datatypes/integer.h"
#include "runtime/cell.h"

namespace zub::char_ {

inline constexpr uint32_t kMaxCodePoint = 0x10FFFF;

// The char! action body: `a` is char!, `b` char! or integer! (its value), float! (truncated toward
// zero) or vector! (handed over). The result is char!; a result that is not an exact integer in
// 0 to 10FFFFh raises math overflow; divide truncates. Another type for `b` raises script
// invalid-type with its datatype.
Cell do_math(Cell a, Cell b, MathOp op);

}  // namespace zub::char_
