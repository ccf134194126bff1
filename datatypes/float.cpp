// float!: the binary64 number, and the float side of every other number type: percent! (its
// child, which adds only its text form), time! (which delegates its arithmetic here) and the
// integer! and char! operands that meet a float. Arithmetic never traps; the equality of floats
// tolerates the last few bits that decimal input and accumulated rounding leave behind.
#include "datatypes/float.h"

#include <algorithm>
#include <bit>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "datatypes/mold.h"
#include "datatypes/money.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "evaluator/lexer/lexer.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/series.h"
#include "runtime/type_traits.h"
#include "system/random.h"

namespace zub {
namespace {

bool g_pretty = true;

constexpr double kEpsilon = DBL_EPSILON;  // 2.220446049250313e-16

float_text::FloatText final_text(const char* text) {
    float_text::FloatText t{};
    t.length = static_cast<uint8_t>(std::strlen(text));
    std::memcpy(t.text, text, t.length + 1u);
    return t;
}

// printf's "%.<precision>g", which std::to_chars reproduces exactly and without a locale.
int print_general(double x, int precision, char* out, size_t room) {
    return static_cast<int>(std::to_chars(out, out + room, x, std::chars_format::general, precision).ptr - out);
}

// Whether a full-precision text ends in the "01" or "99" that binary rounding leaves on a
// decimal number; measured without the sign, so that x and -x print alike.
bool ends_in_rounding_noise(const char* text, int length) {
    const int e = static_cast<int>(std::find(text, text + length, 'e') - text);
    const int sign = text[0] == '-' ? 1 : 0;
    const int mantissa = e - sign;
    bool full;
    if (e == length) full = mantissa > 16 && (text[sign] != '0' || mantissa > 17);
    else full = mantissa > 16;
    if (!full) return false;
    const char a = text[e - 2], b = text[e - 1];
    return (a == '0' && b == '1') || (a == '9' && b == '9');
}

}  // namespace

namespace float_ {

void set_pretty(bool on) { g_pretty = on; }
bool pretty() { return g_pretty; }

float_text::FloatText form(double x, FormKind kind) {
    if (std::isnan(x)) return final_text("1.#NaN");
    if (std::isinf(x)) return final_text(x < 0 ? "-1.#INF" : "1.#INF");
    const bool percent = kind == FormKind::percent32 || kind == FormKind::percent;
    if (g_pretty && std::fabs(x) < kEpsilon)
        return final_text(percent ? "0%" : kind == FormKind::coordinate ? "0" : "0.0");

    char text[40];
    int length;
    switch (kind) {
        case FormKind::float32:
        case FormKind::percent32:
        case FormKind::coordinate: length = print_general(x, 7, text, sizeof text); break;
        case FormKind::percent: length = print_general(x, 13, text, sizeof text); break;
        case FormKind::time_seconds: {
            const float_text::FloatText t = float_text::form_float(x, 6, false);
            length = t.length;
            std::memcpy(text, t.text, length);
            break;
        }
        default: length = print_general(x, 16, text, sizeof text); break;
    }
    if (g_pretty && ends_in_rounding_noise(text, length)) {
        const bool short_kind =
            kind == FormKind::float32 || kind == FormKind::time_seconds || kind == FormKind::coordinate;
        length = print_general(x, short_kind ? 5 : 14, text, sizeof text);
    }

    // The exponent loses its "+" and leading zeros; the point and "%" complete the text.
    float_text::FloatText t{};
    char* o = t.text;
    const char* const end = text + length;
    const char* const e = std::find(static_cast<const char*>(text), end, 'e');
    o = std::copy(static_cast<const char*>(text), e, o);
    const bool has_point = std::find(static_cast<const char*>(text), e, '.') != e;
    if (!has_point && !percent && kind != FormKind::time_seconds && kind != FormKind::coordinate) {
        *o++ = '.';
        *o++ = '0';
    }
    if (e != end) {
        *o++ = 'e';
        const char* p = e + 1;
        if (*p == '-') *o++ = '-';
        if (*p == '-' || *p == '+') ++p;
        while (p < end - 1 && *p == '0') ++p;
        o = std::copy(p, end, o);
    }
    if (percent) *o++ = '%';
    *o = '\0';
    t.length = static_cast<uint8_t>(o - t.text);
    return t;
}

double math_op(double x, double y, MathOp op) {
    switch (op) {
        case math_add: return x + y;
        case math_subtract: return x - y;
        case math_multiply: return x * y;
        case math_divide: return x / y;
        case math_remainder:
            if (0.0 * y == 0.0) return std::fmod(x, y);  // y finite
            if (std::isnan(y)) return y;
            return std::isfinite(x) ? x : std::numeric_limits<double>::quiet_NaN();
        default: {
            const Cell word = integer::action_word(integer::math_slot(op));
            error::fire(ErrorId::cannot_use, word, cell::datatype_of(TypeId::float_));
        }
    }
}

Cell do_math(Cell a, Cell b, MathOp op) {
    const TypeId left = cell::type(a), right = cell::type(b);
    switch (right) {
        case TypeId::integer:
        case TypeId::float_:
        case TypeId::percent:
        case TypeId::time: break;
        case TypeId::char_:
            if (left == TypeId::time || left == TypeId::percent)
                error::fire(ErrorId::invalid_type, cell::datatype_of(right));
            break;
        case TypeId::money:
        case TypeId::vector: return integer::hand_over(right, op, a, b);
        case TypeId::pair:
        case TypeId::point2D:
        case TypeId::point3D:
        case TypeId::tuple:
            // The coordinate or tuple goes first; a number minus or divided by one has no meaning.
            if (left == TypeId::time && right != TypeId::tuple)
                error::fire(ErrorId::invalid_type, cell::datatype_of(right));
            // A coordinate names itself in the error, a tuple the number it cannot meet.
            if (op == math_subtract || op == math_divide)
                integer::raise_not_related(integer::math_slot(op), right == TypeId::tuple ? left : right);
            return integer::hand_over(right, op, b, a);
        default: error::fire(ErrorId::invalid_type, cell::datatype_of(right));
    }
    const bool int_left = left == TypeId::integer || left == TypeId::char_;
    const bool int_right = right == TypeId::integer || right == TypeId::char_;
    const double x = int_left ? cell::as_integer(a) : cell::as_float(a);
    const double y = int_right ? cell::as_integer(b) : cell::as_float(b);
    const double r = math_op(x, y, op);
    // A time on either side makes a time; a percent on the left stays a percent; the rest is a
    // float (an integer on the left included).
    TypeId type = TypeId::float_;
    if (left == TypeId::time || right == TypeId::time) type = TypeId::time;
    else if (left == TypeId::percent) type = TypeId::percent;
    return cell::floating(r, type);
}

bool almost_equal(double x, double y) {
    if (std::isnan(x) || std::isnan(y)) return false;
    if (x == y || std::fabs(x - y) < kEpsilon) return true;
    // Ordered keys: adjacent doubles get adjacent keys across the whole line, through zero.
    const auto key = [](double d) {
        const auto bits = std::bit_cast<uint64_t>(d);
        return (bits >> 63) != 0 ? 0 - bits : bits | 0x8000000000000000u;
    };
    const uint64_t kx = key(x), ky = key(y);
    return (kx > ky ? kx - ky : ky - kx) <= 10;
}

int32_t compare(Cell a, Cell b, int32_t op) {
    const TypeId right = cell::type(b);
    if ((op == op_strict_equal || op == op_same || op == op_find) && right != cell::type(a)) return 1;
    double y;
    switch (right) {
        case TypeId::integer: y = cell::as_integer(b); break;
        case TypeId::float_:
        case TypeId::percent:
        case TypeId::time: y = cell::as_float(b); break;
        case TypeId::money: return integer::compare_swapped(a, b, op);
        default: return kNotComparable;
    }
    const double x = cell::as_float(a);
    switch (op) {
        case op_strict_equal: return x == y ? 0 : 1;
        case op_same: return a.w2 == b.w2 && a.w3 == b.w3 ? 0 : 1;
        case op_find:
            // Searching and unique take the sort orders' view: a NaN is found by a NaN.
            if (std::isnan(x) && std::isnan(y)) return 0;
            return almost_equal(x, y) ? 0 : 1;
        case op_equal:
        case op_not_equal:
        case op_equal_word:
        case op_equal_canonical: return almost_equal(x, y) ? 0 : 1;
        default: break;
    }
    if (std::isnan(x) || std::isnan(y)) {
        // The sort orders are total: a NaN after every number, NaNs equal among themselves.
        if (op == op_sort || op == op_sort_case) return std::isnan(x) - std::isnan(y);
        // Every ordering test with a NaN answers false.
        if (op == op_lesser || op == op_lesser_or_equal) return 1;
        if (op == op_greater || op == op_greater_or_equal) return -1;
        return 0;
    }
    return (x > y) - (x < y);
}

namespace {

double round_quotient(double q, const RoundOptions& o) {
    if (o.down) return std::trunc(q);
    if (o.floor) return std::floor(q);
    if (o.ceiling) return std::ceil(q);
    const double a = std::fabs(q);
    const double low = std::floor(a);
    const double half = low + 0.5;
    double m;
    if (a < half) m = low;
    else if (a > half) m = std::ceil(a);
    else if (o.even) m = std::fmod(a, 2.0) >= 1.0 ? std::ceil(a) : low;
    else if (o.half_down) m = low;
    else if (o.half_ceiling) return std::ceil(q);
    else m = std::ceil(a);
    return std::copysign(m, q);
}

}  // namespace

Cell round(Cell value, const RoundOptions& options) {
    const TypeId type = cell::type(value);
    double scale = type == TypeId::percent ? 0.01 : 1.0;
    if (options.to) {
        switch (cell::type(*options.to)) {
            case TypeId::integer: scale = std::fabs(static_cast<double>(cell::as_integer(*options.to))); break;
            case TypeId::float_:
            case TypeId::percent:
            case TypeId::time: scale = std::fabs(cell::as_float(*options.to)); break;
            case TypeId::money: integer::raise_not_related(Slot::round, TypeId::money);
            default: raise_expect_arg(Slot::round, *options.to, 1);
        }
        if (type == TypeId::percent) scale /= 100.0;
    }
    const double x = cell::as_float(value);
    // No multiple of a zero scale exists; the value stays, as integer! round leaves it.
    if (scale == 0.0) return value;
    // Past 2^53 units of the scale every value is already a multiple of it.
    if (std::fabs(x) * 0x1p-53 > scale) return value;

    double result;
    if (scale >= 1.0) {
        result = round_quotient(x / scale, options) * scale;
        if (std::fabs(result) >= DBL_MAX) error::fire(ErrorId::overflow);
    } else {
        // Multiplying by the reciprocal is exact more often than dividing by a small scale; a
        // scale so small that its reciprocal would overflow is split into mantissa and exponent.
        int exponent = 0;
        double unit = scale, scaled = x;
        int e;
        const double mantissa = std::frexp(scale, &e);
        if (e < -1021) {
            unit = mantissa;
            scaled = std::ldexp(x, -e);
            exponent = e;
        }
        const double inverse = 1.0 / unit;
        result = std::ldexp(round_quotient(scaled * inverse, options) / inverse, exponent);
    }
    if (!options.to) return cell::floating(result, type);
    if (cell::is(*options.to, TypeId::integer)) {
        if (!(result <= 2147483647.0 && result >= -2147483648.0)) error::fire(ErrorId::overflow);
        return cell::integer(static_cast<int32_t>(result));
    }
    return cell::floating(result, cell::type(*options.to));
}

int32_t to_integer(double x) { return integer::from_float(x + 0.49999999999999994); }

}  // namespace float_

namespace {

[[noreturn]] void raise_bad_to(TypeId target, const Cell& spec) {
    error::fire(ErrorId::bad_to_arg, cell::datatype_of(target), spec);
}

// [mantissa exponent]: mantissa x 10^exponent, the exponent truncated toward zero.
double from_block(TypeId target, Cell spec) {
    SeriesBuffer* b = memory::buffer(cell::series_node(spec));
    const uint32_t index = cell::series_index(spec);
    const uint32_t count = b->used() / sizeof(Cell);
    if (index >= count || count - index != 2) raise_bad_to(target, spec);
    double parts[2];
    for (int i = 0; i < 2; ++i) {
        const Cell item = b->cells()[index + i];
        if (cell::is(item, TypeId::integer)) parts[i] = cell::as_integer(item);
        else if (cell::is(item, TypeId::float_)) parts[i] = cell::as_float(item);
        else raise_bad_to(TypeId::float_, item);
    }
    return parts[0] * std::pow(10.0, std::trunc(parts[1]));
}

// The bit pattern of a double: up to 8 bytes from the position, big-endian, right-aligned.
double from_binary(Cell spec) {
    SeriesBuffer* b = memory::buffer(cell::series_node(spec));
    const uint32_t index = cell::series_index(spec);
    const uint32_t available = index < b->used() ? b->used() - index : 0;
    uint64_t bits = 0;
    const std::byte* bytes = b->head_ptr() + index;
    for (uint32_t i = 0; i < available && i < 8; ++i) bits = bits << 8 | static_cast<uint8_t>(bytes[i]);
    return std::bit_cast<double>(bits);
}

// make and to are one operation; the target is float! or percent!.
// The text from the value's position read as a float literal (a comma counts as a point).
double float_from_text(Cell text) {
    SeriesBuffer* b = memory::buffer(text.w2);
    const uint32_t unit = b->unit();
    int32_t failed = 0;
    const double x = lexer::scan_float(b->head_ptr() + size_t{text.w1} * unit, string::rs_length(text), unit, failed);
    if (failed) raise_bad_to(TypeId::float_, text);
    return x;
}

// The text loaded as one number: 50% is the fraction 0.5, 50 the fraction 50.
double percent_from_text(Cell text) {
    Cell loaded;
    try {
        loaded = lexer::transcode_value(text, -1, lexer::Options{}).value;
    } catch (const Thrown&) {
        raise_bad_to(TypeId::percent, text);
    }
    if (series::length(loaded.w2) - loaded.w1 != 1) raise_bad_to(TypeId::percent, text);
    const Cell n = memory::buffer(loaded.w2)->cells()[loaded.w1];
    switch (cell::type(n)) {
        case TypeId::integer: return cell::as_integer(n);
        case TypeId::float_:
        case TypeId::percent: return cell::as_float(n);
        default: raise_bad_to(TypeId::percent, text);
    }
}

Cell float_make(TypeId target, Cell, Cell spec) {
    double x;
    switch (cell::type(spec)) {
        case TypeId::integer:
        case TypeId::char_: x = cell::as_integer(spec); break;
        case TypeId::float_:
        case TypeId::percent:
        case TypeId::time: x = cell::as_float(spec); break;
        case TypeId::binary: x = from_binary(spec); break;
        case TypeId::block:
        case TypeId::paren:
        case TypeId::hash: x = from_block(target, spec); break;
        case TypeId::money: x = money::to_float(spec); break;
        default: {
            if (!string::is_text(cell::type(spec)) || string::rs_tail(spec)) raise_bad_to(target, spec);
            x = target == TypeId::percent ? percent_from_text(spec) : float_from_text(spec);
        }
    }
    // A percent! prints its value times 100 as a literal without exponent, within the longest
    // number text the lexer reads: a value too large or too small for that, or not finite, could
    // not load back.
    if (target == TypeId::percent) {
        const double a = std::fabs(x) * 100.0;
        if (!(a < 1e13) || (a != 0.0 && a < 1e-250)) error::fire(ErrorId::out_of_range, spec);
    }
    return cell::floating(x, target);
}

}  // namespace

int32_t float_::emit_plain_digits(double x, int shift, NodeId out, int32_t limit) {
    int point = 0, count = 0;
    bool negative = false;
    const char* digits = float_text::float_to_digits(x, 0, &point, &negative, &count, false);
    if (point >= float_text::kFinalText)
        return mold::emit(out, std::string_view(digits, static_cast<size_t>(count)), limit);
    std::string text(digits, static_cast<size_t>(count));  // the next conversion reuses the buffer
    point += shift;
    if (negative) limit = mold::emit(out, "-", limit);
    if (point <= 0) {
        limit = mold::emit(out, "0.", limit);
        for (int i = point; i < 0; ++i) limit = mold::emit(out, "0", limit);
        return mold::emit(out, text, limit);
    }
    if (point >= count) {
        limit = mold::emit(out, text, limit);
        for (int i = count; i < point; ++i) limit = mold::emit(out, "0", limit);
        return limit;
    }
    limit = mold::emit(out, std::string_view(text).substr(0, static_cast<size_t>(point)), limit);
    limit = mold::emit(out, ".", limit);
    return mold::emit(out, std::string_view(text).substr(static_cast<size_t>(point)), limit);
}

namespace {

int32_t float_form(Cell value, NodeId out, int32_t limit) {
    return mold::emit(out, float_::form(cell::as_float(value), float_::FormKind::value).view(), limit);
}

// mold is the shortest text that reads back to the same double, so form and mold may differ.
int32_t float_mold(Cell value, NodeId out, MoldFlags, int32_t limit) {
    return mold::emit(out, float_text::form_float(cell::as_float(value), 0, true).view(), limit);
}

// The results keep the value's type: percent! and time! share these entries.
Cell float_absolute(Cell value) { return cell::make(cell::type(value), 0, value.w2, value.w3 & 0x7FFFFFFFu); }

// 0.0 - x rather than -x, so that negate 0.0 is 0.0.
Cell float_negate(Cell value) { return cell::floating(0.0 - cell::as_float(value), cell::type(value)); }

Cell float_power(Cell base, Cell exponent) {
    double y;
    switch (cell::type(exponent)) {
        case TypeId::integer: y = cell::as_integer(exponent); break;
        case TypeId::float_: y = cell::as_float(exponent); break;
        default: raise_expect_arg(Slot::power, exponent, 1);
    }
    return cell::floating(std::pow(cell::as_float(base), y), cell::type(base));
}

// Parity of the value truncated toward zero, computed on the double so that no value needs a
// conversion that could overflow; beyond 2^53 every double is even.
bool float_odd(Cell value) {
    const double x = cell::as_float(value);
    if (!std::isfinite(x)) error::fire(ErrorId::type_limit, cell::datatype_of(TypeId::integer));
    return std::fmod(std::trunc(x), 2.0) != 0.0;
}
bool float_even(Cell value) { return !float_odd(value); }

// The value times a fraction of 0 to 1, so the result lies between 0 and the value, on the
// value's side of zero. percent! and time! keep their type.
Cell float_random(Cell value, bool seed, bool secure, bool) {
    if (seed) {
        random::seed(value.w2 ^ value.w3);
        return cell::unset();
    }
    return cell::floating(cell::as_float(value) * random::fraction(secure), cell::type(value));
}

template <MathOp op>
Cell float_math(Cell a, Cell b) {
    return float_::do_math(a, b, op);
}

}  // namespace

extern const ActionTable float_actions = {
    .make = float_make,
    .random = float_random,
    .to = float_make,
    .form = float_form,
    .mold = float_mold,
    .compare = float_::compare,
    .absolute = float_absolute,
    .add = float_math<math_add>,
    .divide = float_math<math_divide>,
    .multiply = float_math<math_multiply>,
    .negate = float_negate,
    .power = float_power,
    .remainder = float_math<math_remainder>,
    .round = float_::round,
    .subtract = float_math<math_subtract>,
    .even_q = float_even,
    .odd_q = float_odd,
};

extern const type_traits::Traits float_traits = {.hash = type_traits::hash_float,
                                                 .same_words = type_traits::kW2 | type_traits::kW3};

}  // namespace zub
