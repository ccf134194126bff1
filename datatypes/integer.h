// integer!: the 32-bit signed integer, and the arithmetic dispatcher that every number type shares:
// its operation codes, the core 32-bit operation with its overflow rules, and the hand-over of a
// mixed operation to the type that owns it. char! arithmetic (datatypes/char.h) runs on the core.
#pragma once

#include <cstdint>
#include <string_view>

#include "datatypes/actions.h"
#include "runtime/cell.h"

namespace zub {

// Operation codes of the arithmetic dispatcher, shared by every number type and by vector!.
enum MathOp : int32_t {
    math_add = 0,
    math_subtract = 1,
    math_multiply = 2,
    math_divide = 3,
    math_remainder = 4,
    math_or = 5,
    math_and = 6,
    math_xor = 7,
};

namespace integer {

inline int32_t get(const Cell& value) { return cell::as_integer(value); }
inline int32_t sign(int32_t value) { return (value > 0) - (value < 0); }

// The core operation on two 32-bit integers. add, subtract and multiply whose exact result does
// not fit give a float! of the result computed in double precision. divide and remainder by 0
// raise math zero-divide, -2147483648 by -1 math overflow; with promote_divide a division that is
// not exact gives a float! (7 / 2 is 3.5), without it the quotient truncated toward zero.
// Otherwise an integer!. Never allocates.
Cell math_op(int32_t a, int32_t b, MathOp op, bool promote_divide);

// The integer! action body: `a` is integer!, `b` any value. integer! and char! operands go to the
// core; float!, percent! and time! to the float arithmetic; other number types are handed over
// (see hand_over); anything else raises script invalid-type with b's datatype. May allocate only
// for an error or in the owning type's code.
Cell do_math(Cell a, Cell b, MathOp op);

// Calls the arithmetic entry of `owner`'s action row with the operands as given. The owner is the
// type of one of them. Contract with the owning types: money! and vector! receive the number on
// the left as it came (number op money, number op vector); pair!, point2D!, point3D!, tuple! and
// date! receive the operands swapped by the caller, so their value is always first. When the
// owner has no entry for the operation, raises script expect-arg naming the owner's operand.
Cell hand_over(TypeId owner, MathOp op, Cell first, Cell second);

// The compare of `b`'s type run with the operands swapped (ordering codes mirrored) and its
// answer turned back: how a number compares with money!. kNotComparable when that type has no
// compare entry.
int32_t compare_swapped(Cell a, Cell b, int32_t op);

// The action slot of an operation code, and a word! naming an action for error arguments (the
// word may be interned, so this may collect).
Slot math_slot(MathOp op);
Cell action_word(Slot slot);
// script not-related: the action's word, then the datatype.
[[noreturn]] void raise_not_related(Slot slot, TypeId type);

// The decimal text of a value: "0", "-2147483648", "42". Never allocates.
struct Text {
    char text[12];   // a sign and up to ten digits, NUL-terminated
    uint8_t length;  // characters before the NUL
    std::string_view view() const { return {text, length}; }
};
Text form_signed(int32_t value);

// The big-endian value of the first up to 4 bytes of a binary! from its position (one byte gives
// 0 to 255, none gives 0). Never allocates.
int32_t from_binary(Cell binary);
// An issue!'s name read as 1 to 8 hexadecimal digits (#FFFFFFFF is -1); anything else raises
// script invalid-data with the issue.
int32_t from_hex_name(Cell issue);
// A double truncated toward zero; above 2147483647.0, below -2147483648.0 or NaN raises script
// type-limit with integer!. Never allocates otherwise.
int32_t from_float(double value);

}  // namespace integer
}  // namespace zub
