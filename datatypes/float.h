// float!: the 64-bit binary floating-point number, and what every type with a float side shares:
// the text form by kind, the arithmetic on doubles (percent!, time!, integer! and char! operands
// included), comparison with its equality tolerance, and rounding. Nothing here traps: infinities
// and NaN are ordinary values.
#pragma once

#include <cmath>
#include <cstdint>

#include "datatypes/actions.h"
#include "datatypes/integer.h"
#include "runtime/cell.h"
#include "runtime/float_text.h"

namespace zub::float_ {

inline double get(const Cell& value) { return cell::as_float(value); }
inline bool is_special(double x) { return !std::isfinite(x); }  // +INF, -INF or NaN

// What a text form is for. The numbers are fixed: other modules store them.
enum class FormKind : uint8_t {
    float32 = 0,       // a 32-bit float element of a vector!
    value = 1,         // a float! value
    percent32 = 2,     // a 32-bit percent element, already multiplied by 100
    percent = 3,       // a percent! value, already multiplied by 100
    time_seconds = 4,  // the seconds of a time!
    coordinate = 5,    // a point2D! or point3D! coordinate
};

// The "pretty" rules of the text form (system/options/float/pretty?): tiny magnitudes print as
// zero and a last "01" or "99" of a full-precision text is printed again with fewer digits.
// On by default; the option's change handler sets it.
void set_pretty(bool on);
bool pretty();

// The text form of a double: "1.#INF", "-1.#INF", "1.#NaN" for the special values; otherwise
// printed with the kind's precision, exponents without "+" or leading zeros (1.0e20, 1.0e-5),
// "%" after the percent kinds and ".0" after an integral text of kinds 0 to 3. Never allocates.
float_text::FloatText form(double x, FormKind kind);

// The shortest digits that read back to a finite x, in plain notation (never an exponent) with
// the decimal point moved `shift` places right: what mold/all writes where a literal takes no
// exponent. Appended to a string series; returns the budget left. May collect.
int32_t emit_plain_digits(double x, int shift, NodeId out, int32_t limit);

// The arithmetic of two doubles for op codes 0 to 4: plain binary64 add, subtract, multiply and
// divide (1.0 / 0 is +INF, 0.0 / 0 NaN), remainder as fmod for a finite divisor, NaN for a NaN
// divisor, x itself for an infinite divisor when x is finite. Other codes raise script cannot-use.
double math_op(double x, double y, MathOp op);

// The arithmetic action body for a float!, percent!, time! or integer! left operand (see the
// result type rules in float.cpp); tuple!, money!, vector!, pair!, point2D! and point3D! operands
// are handed over as integer::hand_over describes. Raises script invalid-type for other operands,
// not-related for a number minus or divided by a coordinate or tuple.
Cell do_math(Cell a, Cell b, MathOp op);

// Equality within the tolerance: NaN is unequal to everything; equal doubles, doubles less than
// the binary64 epsilon apart, and doubles at most 10 representable steps apart are equal.
bool almost_equal(double x, double y);

// The compare entry for a float!, percent! or time! left operand: -1, 0, 1, or kNotComparable.
int32_t compare(Cell a, Cell b, int32_t op);

// round for a float!, percent! or time! value with all its modes; with /to the result takes the
// scale's type (an integer! scale truncates to integer!, math overflow when that does not fit).
Cell round(Cell value, const RoundOptions& options);

// x + 0.49999999999999994 truncated toward zero (how the GUI rounds coordinates). Out of the
// 32-bit range or NaN raises script type-limit with integer!.
int32_t to_integer(double x);

}  // namespace zub::float_
