// integer!: the 32-bit signed integer. Every integer and char action goes through the core
// operation here; an add, subtract or multiply that leaves the 32-bit range becomes a float!
// instead of wrapping, and mixed operations go to the type that owns them.
#include "datatypes/integer.h"

#include <cmath>
#include <limits>

#include "datatypes/date.h"
#include "datatypes/float.h"
#include "datatypes/mold.h"
#include "datatypes/money.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "evaluator/lexer/lexer.h"
#include "evaluator/words.h"
#include "runtime/error.h"
#include "runtime/lowrt.h"
#include "runtime/memory.h"
#include "runtime/symbol.h"
#include "runtime/type_traits.h"
#include "system/random.h"

namespace zub {
namespace {

constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
constexpr int32_t kMax = std::numeric_limits<int32_t>::max();

}  // namespace

namespace integer {
namespace {

// By operation code: the slot, the row member and the slot's "not supported" entry.
constexpr Slot kSlots[] = {Slot::add,       Slot::subtract, Slot::multiply, Slot::divide,
                           Slot::remainder, Slot::or_,      Slot::and_,     Slot::xor_};
constexpr BinaryFn ActionTable::*kEntries[] = {&ActionTable::add,    &ActionTable::subtract,  &ActionTable::multiply,
                                               &ActionTable::divide, &ActionTable::remainder, &ActionTable::or_,
                                               &ActionTable::and_,   &ActionTable::xor_};
constexpr BinaryFn kUnsupported[] = {unsupported::add,    unsupported::subtract,  unsupported::multiply,
                                     unsupported::divide, unsupported::remainder, unsupported::or_,
                                     unsupported::and_,   unsupported::xor_};

int checked(MathOp op) {
    if (op < math_add || op > math_xor) lowrt::fatal(lowrt::Fatal::no_switch);
    return op;
}

}  // namespace

Slot math_slot(MathOp op) { return kSlots[checked(op)]; }

Cell action_word(Slot slot) { return words::global(symbol::make(registry::action_word(slot))); }

void raise_not_related(Slot slot, TypeId type) {
    const Cell word = action_word(slot);
    error::fire(ErrorId::not_related, word, cell::datatype_of(type));
}

Cell math_op(int32_t a, int32_t b, MathOp op, bool promote_divide) {
    // Every 32-bit integer is exact as a double.
    const double x = a, y = b;
    int32_t r;
    switch (op) {
        case math_add:
            if (__builtin_add_overflow(a, b, &r)) return cell::floating(x + y);
            return cell::integer(r);
        case math_subtract:
            if (__builtin_sub_overflow(a, b, &r)) return cell::floating(x - y);
            return cell::integer(r);
        case math_multiply:
            if (__builtin_mul_overflow(a, b, &r)) return cell::floating(x * y);
            return cell::integer(r);
        case math_divide:
            if (b == 0) error::fire(ErrorId::zero_divide);
            if (a == kMin && b == -1) error::fire(ErrorId::overflow);
            if (promote_divide && a % b != 0) return cell::floating(x / y);
            return cell::integer(a / b);
        case math_remainder:
            if (b == 0) error::fire(ErrorId::zero_divide);
            if (a == kMin && b == -1) error::fire(ErrorId::overflow);
            return cell::integer(a % b);
        case math_or: return cell::integer(a | b);
        case math_and: return cell::integer(a & b);
        case math_xor: return cell::integer(a ^ b);
    }
    lowrt::fatal(lowrt::Fatal::no_switch);
}

Cell hand_over(TypeId owner, MathOp op, Cell first, Cell second) {
    const BinaryFn entry = registry::actions(owner).*kEntries[checked(op)];
    // The "not supported" entry would name the number's type, which is not the one at fault.
    if (entry == kUnsupported[op]) raise_expect_arg(math_slot(op), cell::is(first, owner) ? first : second, 1);
    return entry(first, second);
}

int32_t compare_swapped(Cell a, Cell b, int32_t op) {
    const CompareFn entry = registry::actions(cell::type(b)).compare;
    if (entry == unsupported::compare) return kNotComparable;
    int32_t mirrored = op;
    switch (op) {
        case op_lesser: mirrored = op_greater; break;
        case op_lesser_or_equal: mirrored = op_greater_or_equal; break;
        case op_greater: mirrored = op_lesser; break;
        case op_greater_or_equal: mirrored = op_lesser_or_equal; break;
        default: break;
    }
    const int32_t answer = entry(b, a, mirrored);
    return answer == kNotComparable ? answer : -answer;
}

Cell do_math(Cell a, Cell b, MathOp op) {
    const TypeId right = cell::type(b);
    switch (right) {
        case TypeId::integer:
        case TypeId::char_: return math_op(cell::as_integer(a), cell::as_integer(b), op, true);
        case TypeId::float_:
        case TypeId::percent:
        case TypeId::time: return float_::do_math(a, b, op);
        case TypeId::money:
        case TypeId::vector: return hand_over(right, op, a, b);
        case TypeId::pair:
        case TypeId::point2D:
        case TypeId::point3D:
            // The coordinate value goes first; a number minus a coordinate is its negation plus
            // the number, and a number divided by one has no meaning.
            if (op == math_divide) raise_not_related(Slot::divide, TypeId::integer);
            if (op == math_subtract) {
                const Cell negated = registry::actions(right).negate(b);
                return hand_over(right, math_add, negated, a);
            }
            return hand_over(right, op, b, a);
        case TypeId::tuple:
            if (op == math_subtract || op == math_divide) raise_not_related(math_slot(op), TypeId::integer);
            return hand_over(right, op, b, a);
        case TypeId::date:
            if (op != math_add) raise_not_related(math_slot(op), TypeId::integer);
            return hand_over(right, op, b, a);
        default: error::fire(ErrorId::invalid_type, cell::datatype_of(right));
    }
}

Text form_signed(int32_t value) {
    Text t{};
    // Digits from the right, in unsigned arithmetic so that -2147483648 needs no special case.
    char scratch[11];
    int n = 0;
    uint32_t magnitude = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
    do {
        scratch[n++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    int o = 0;
    if (value < 0) t.text[o++] = '-';
    while (n > 0) t.text[o++] = scratch[--n];
    t.text[o] = '\0';
    t.length = static_cast<uint8_t>(o);
    return t;
}

int32_t from_binary(Cell binary) {
    SeriesBuffer* b = memory::buffer(cell::series_node(binary));
    const uint32_t index = cell::series_index(binary);
    const uint32_t available = index < b->used() ? b->used() - index : 0;
    uint32_t value = 0;
    const std::byte* bytes = b->head_ptr() + index;
    for (uint32_t i = 0; i < available && i < 4; ++i) value = value << 8 | static_cast<uint8_t>(bytes[i]);
    return static_cast<int32_t>(value);
}

int32_t from_hex_name(Cell issue) {
    const std::string_view name = symbol::utf8(issue.w2);
    if (name.empty() || name.size() > 8) error::fire(ErrorId::invalid_data, issue);
    uint32_t value = 0;
    for (const char c : name) {
        uint32_t digit;
        if (c >= '0' && c <= '9') digit = static_cast<uint32_t>(c - '0');
        else if (c >= 'A' && c <= 'F') digit = static_cast<uint32_t>(c - 'A' + 10);
        else if (c >= 'a' && c <= 'f') digit = static_cast<uint32_t>(c - 'a' + 10);
        else error::fire(ErrorId::invalid_data, issue);
        value = value << 4 | digit;
    }
    return static_cast<int32_t>(value);
}

int32_t from_float(double value) {
    // Written so that NaN fails both comparisons.
    if (value <= 2147483647.0 && value >= -2147483648.0) return static_cast<int32_t>(value);
    error::fire(ErrorId::type_limit, cell::datatype_of(TypeId::integer));
}

}  // namespace integer

namespace {

Cell integer_to(TypeId, Cell, Cell spec) {
    switch (cell::type(spec)) {
        case TypeId::integer:
        case TypeId::char_: return cell::integer(cell::as_integer(spec));
        case TypeId::float_:
        case TypeId::percent: return cell::integer(integer::from_float(cell::as_float(spec)));
        case TypeId::issue: return cell::integer(integer::from_hex_name(spec));
        case TypeId::binary: return cell::integer(integer::from_binary(spec));
        // Nearest whole second; a time beyond the 32-bit range is refused, not wrapped.
        case TypeId::time: return cell::integer(integer::from_float(cell::as_float(spec) + 0.5));
        // Seconds since 1970 computed in 64 bits: a date past 2038 does not wrap, it is refused.
        case TypeId::date: {
            const int64_t seconds = date::to_epoch(spec);
            if (seconds < INT32_MIN || seconds > INT32_MAX)
                error::fire(ErrorId::type_limit, cell::datatype_of(TypeId::integer));
            return cell::integer(static_cast<int32_t>(seconds));
        }
        case TypeId::money: return cell::integer(money::to_integer(spec));
        default: {
            if (!string::is_text(cell::type(spec)))
                error::fire(ErrorId::bad_to_arg, cell::datatype_of(TypeId::integer), spec);
            SeriesBuffer* b = memory::buffer(spec.w2);
            const uint32_t unit = b->unit();
            const uint32_t count = string::rs_length(spec);
            int32_t failed = 0;
            const int32_t n = lexer::scan_integer(b->head_ptr() + size_t{spec.w1} * unit, count, unit, failed);
            if (failed || count == 0) error::fire(ErrorId::bad_to_arg, cell::datatype_of(TypeId::integer), spec);
            return cell::integer(n);
        }
    }
}

// Only make reads a logic as a number; to integer! of a logic is refused.
Cell integer_make(TypeId type, Cell proto, Cell spec) {
    if (cell::is(spec, TypeId::logic)) return cell::integer(cell::as_logic(spec) ? 1 : 0);
    return integer_to(type, proto, spec);
}

int32_t integer_form(Cell value, NodeId out, int32_t limit) {
    return mold::emit(out, integer::form_signed(cell::as_integer(value)).view(), limit);
}

int32_t integer_mold(Cell value, NodeId out, MoldFlags, int32_t limit) { return integer_form(value, out, limit); }

int32_t three_way(int32_t a, int32_t b) { return (a > b) - (a < b); }

int32_t integer_compare(Cell a, Cell b, int32_t op) {
    const TypeId right = cell::type(b);
    // same? is at least as strict as strict-equal?.
    if ((op == op_strict_equal || op == op_same || op == op_find) && right != TypeId::integer) return 1;
    switch (right) {
        case TypeId::integer:
        case TypeId::char_: return three_way(cell::as_integer(a), cell::as_integer(b));
        case TypeId::float_:
        case TypeId::percent:
        case TypeId::time: return float_::compare(cell::floating(cell::as_integer(a)), b, op);
        case TypeId::money: return integer::compare_swapped(a, b, op);
        default: return kNotComparable;
    }
}

// The results keep the value's own type: char! and handle! share these entries.
Cell integer_absolute(Cell value) {
    const int32_t v = cell::as_integer(value);
    if (v == kMin) error::fire(ErrorId::overflow);
    return cell::make(cell::type(value), 0, static_cast<uint32_t>(v < 0 ? -v : v));
}

Cell integer_negate(Cell value) {
    const int32_t v = cell::as_integer(value);
    if (v == kMin) error::fire(ErrorId::overflow);
    return cell::make(cell::type(value), 0, static_cast<uint32_t>(-v));
}

Cell integer_complement(Cell value) { return cell::make(cell::type(value), 0, ~value.w2); }

// 1 to n, -1 to n for a negative n; char! keeps its type (its code points are never negative).
Cell integer_random(Cell value, bool seed, bool secure, bool) {
    if (seed) {
        random::seed(value.w2);
        return cell::unset();
    }
    return cell::make(cell::type(value), 0, static_cast<uint32_t>(random::int_range(secure, cell::as_integer(value))));
}

bool integer_even(Cell value) { return (value.w2 & 1) == 0; }
bool integer_odd(Cell value) { return (value.w2 & 1) != 0; }

template <MathOp op>
Cell integer_math(Cell a, Cell b) {
    return integer::do_math(a, b, op);
}

// Repeated squaring in 32 bits; the first overflow means the exact power does not fit (a square
// is only taken when a later bit still needs it), and the whole power is done in floating point.
Cell integer_power(Cell base, Cell exponent) {
    const int32_t x = cell::as_integer(base);
    switch (cell::type(exponent)) {
        case TypeId::integer: break;
        case TypeId::float_: return cell::floating(std::pow(static_cast<double>(x), cell::as_float(exponent)));
        default: raise_expect_arg(Slot::power, exponent, 1);
    }
    const int32_t e = cell::as_integer(exponent);
    const Cell as_float = cell::floating(std::pow(static_cast<double>(x), static_cast<double>(e)));
    if (e < 0) return as_float;
    int32_t result = 1;
    int32_t square = x;
    for (uint32_t bits = static_cast<uint32_t>(e); bits != 0;) {
        if ((bits & 1) != 0 && __builtin_mul_overflow(result, square, &result)) return as_float;
        bits >>= 1;
        if (bits != 0 && __builtin_mul_overflow(square, square, &square)) return as_float;
    }
    return cell::integer(result);
}

Cell integer_round(Cell value, const RoundOptions& options) {
    if (!options.to) return value;
    switch (cell::type(*options.to)) {
        case TypeId::integer: break;
        case TypeId::money: integer::raise_not_related(Slot::round, TypeId::money);
        case TypeId::float_:
        case TypeId::percent:
        case TypeId::time: return float_::round(cell::floating(cell::as_integer(value)), options);
        default: raise_expect_arg(Slot::round, *options.to, 1);
    }
    const int32_t scale = cell::as_integer(*options.to);
    if (scale == kMin) error::fire(ErrorId::overflow);
    const int64_t s = scale < 0 ? -int64_t{scale} : scale;
    if (s == 0) return value;
    // In 64 bits, so that -2147483648 rounds like any other value and the result's range is
    // checked once at the end.
    const int32_t v = cell::as_integer(value);
    const bool negative = v < 0;
    const int64_t magnitude = negative ? -int64_t{v} : v;
    const int64_t q = magnitude / s;
    const int64_t r = magnitude % s;
    if (r == 0) return value;
    bool up;
    if (options.down) up = false;
    else if (options.floor) up = negative;
    else if (options.ceiling) up = !negative;
    else if (r < s - r) up = false;
    else if (r > s - r) up = true;
    else if (options.even) up = (q & 1) != 0;
    else if (options.half_down) up = false;
    else if (options.half_ceiling) up = !negative;
    else up = true;
    int64_t result = up ? magnitude + (s - r) : magnitude - r;
    if (negative) result = -result;
    if (result > kMax || result < kMin) error::fire(ErrorId::overflow);
    return cell::make(cell::type(value), 0, static_cast<uint32_t>(static_cast<int32_t>(result)));
}

}  // namespace

extern const ActionTable integer_actions = {
    .make = integer_make,
    .random = integer_random,
    .to = integer_to,
    .form = integer_form,
    .mold = integer_mold,
    .compare = integer_compare,
    .absolute = integer_absolute,
    .add = integer_math<math_add>,
    .divide = integer_math<math_divide>,
    .multiply = integer_math<math_multiply>,
    .negate = integer_negate,
    .power = integer_power,
    .remainder = integer_math<math_remainder>,
    .round = integer_round,
    .subtract = integer_math<math_subtract>,
    .even_q = integer_even,
    .odd_q = integer_odd,
    .and_ = integer_math<math_and>,
    .complement = integer_complement,
    .or_ = integer_math<math_or>,
    .xor_ = integer_math<math_xor>,
};

extern const type_traits::Traits integer_traits = {
    .hash = type_traits::hash_w2_near,
    .same_words = type_traits::kW2,
    .key_words = type_traits::kW2,  // every comparison rule compares integers by value
};

}  // namespace zub
