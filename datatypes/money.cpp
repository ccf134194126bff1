// money!: the digit store, exact arithmetic on amounts in units of 0.00001, the currency rules of
// mixed operations, comparison, rounding to a scale, the text forms and make/to. The 22 digits
// are read into one 128-bit magnitude for each operation, so sums are exact and products and
// quotients are cut toward zero.
#include "datatypes/money.h"

#include <cmath>

#include "datatypes/actions.h"
#include "datatypes/integer.h"
#include "datatypes/locale.h"
#include "datatypes/mold.h"
#include "datatypes/string.h"
#include "evaluator/lexer/lexer.h"
#include "evaluator/words.h"
#include "runtime/error.h"
#include "runtime/float_text.h"
#include "runtime/hash.h"
#include "runtime/memory.h"
#include "runtime/series.h"
#include "runtime/symbol.h"
#include "runtime/type_traits.h"
#include "system/random.h"

namespace zub {
namespace {

using Magnitude = unsigned __int128;

constexpr Magnitude power10(int n) {
    Magnitude p = 1;
    for (int i = 0; i < n; ++i) p *= 10;
    return p;
}
constexpr Magnitude kUnit = power10(money::kFractionDigits);  // units in 1
constexpr Magnitude kLimit = power10(money::kDigits);         // first magnitude that does not fit

// An amount taken apart: sign, currency and magnitude in units of 0.00001.
struct Amount {
    bool negative;
    uint32_t currency;
    Magnitude magnitude;
};

Magnitude magnitude_of(const Cell& m) {
    const uint32_t words[3] = {m.w1 >> 8, m.w2, m.w3};
    const int bytes_in[3] = {3, 4, 4};
    Magnitude v = 0;
    for (int w = 0; w < 3; ++w) {
        for (int k = 0; k < bytes_in[w]; ++k) {
            const uint32_t byte = words[w] >> (8 * k) & 0xFF;
            v = v * 100 + (byte >> 4) * 10 + (byte & 0xF);
        }
    }
    return v;
}

Amount amount_of(const Cell& m) { return {money::negative(m), money::currency(m), magnitude_of(m)}; }

// The cell of an amount below kLimit; zero carries no sign.
Cell cell_of(bool negative, uint32_t currency, Magnitude v) {
    uint8_t bytes[11];
    for (int k = 10; k >= 0; --k) {
        const auto two = static_cast<uint32_t>(v % 100);
        v /= 100;
        bytes[k] = static_cast<uint8_t>((two / 10) << 4 | two % 10);
    }
    Cell c =
        cell::make(TypeId::money,
                   (currency & 0xFF) | uint32_t{bytes[0]} << 8 | uint32_t{bytes[1]} << 16 | uint32_t{bytes[2]} << 24,
                   bytes[3] | uint32_t{bytes[4]} << 8 | uint32_t{bytes[5]} << 16 | uint32_t{bytes[6]} << 24,
                   bytes[7] | uint32_t{bytes[8]} << 8 | uint32_t{bytes[9]} << 16 | uint32_t{bytes[10]} << 24);
    if (negative && !money::is_zero(c)) c.header |= money::kSignFlag;
    return c;
}

Cell cell_of(const Amount& a) { return cell_of(a.negative, a.currency, a.magnitude); }

[[noreturn]] void raise_overflow() { error::fire(ErrorId::type_limit, cell::datatype_of(TypeId::money)); }

// The checked result of an operation.
Cell result(bool negative, uint32_t currency, Magnitude v) {
    if (v >= kLimit) raise_overflow();
    return cell_of(negative, currency, v);
}

// The 22 digits of a magnitude, most significant first.
void digits_of(Magnitude v, char out[money::kDigits]) {
    for (int i = money::kDigits - 1; i >= 0; --i) {
        out[i] = static_cast<char>('0' + static_cast<int>(v % 10));
        v /= 10;
    }
}

[[noreturn]] void raise_bad_make(const Cell& value) {
    error::fire(ErrorId::bad_make_arg, cell::datatype_of(TypeId::money), value);
}

// The units (0.00001) of a finite |value| below 1e17 as its decimal text with `precision`
// significant digits (0: the shortest text that reads back) gives them; `dropped` tells whether
// that text had non-zero digits past the fifth fraction digit, which are cut.
Magnitude float_units(double value, int precision, bool& dropped) {
    dropped = false;
    if (value == 0.0) return 0;
    int point = 0, count = 0;
    bool negative = false;
    const char* digits = float_text::float_to_digits(value, precision, &point, &negative, &count, false);
    // value = 0.d1d2...dn x 10^point: digit i weighs 10^(point - 1 - i + 5) units.
    Magnitude v = 0;
    for (int i = 0; i < count; ++i) {
        const int units_exponent = point - 1 - i + money::kFractionDigits;
        if (units_exponent < 0) {
            dropped = dropped || digits[i] != '0';
            continue;
        }
        v += Magnitude(static_cast<unsigned>(digits[i] - '0')) * power10(units_exponent);
    }
    return v;
}

// A float's amount from its text with `precision` digits; with `strict`, digits past the fifth
// fraction digit are refused rather than cut.
Cell from_float_digits(double value, int precision, bool strict, const Cell& source) {
    const double a = std::fabs(value);
    // 1e17 itself has 18 integer digits, one more than an amount holds.
    if (!(a < 1e17) || (a != 0.0 && a < 1e-05)) raise_bad_make(source);
    bool dropped = false;
    const Magnitude v = float_units(value, precision, dropped);
    if (strict && dropped) raise_bad_make(source);
    return cell_of(value < 0, 0, v);
}

}  // namespace

namespace money {

bool make_from_digits(bool negative, uint32_t currency, std::string_view integer_digits,
                      std::string_view fraction_digits, Cell& out) {
    Magnitude v = 0;
    int significant = 0;
    for (const char c : integer_digits) {
        if (c == '\'') continue;
        if (c < '0' || c > '9') return false;
        if (significant == 0 && c == '0') continue;
        if (++significant > kDigits - kFractionDigits) return false;
        v = v * 10 + static_cast<unsigned>(c - '0');
    }
    if (fraction_digits.size() > static_cast<size_t>(kFractionDigits)) return false;
    Magnitude f = 0;
    for (const char c : fraction_digits) {
        if (c < '0' || c > '9') return false;
        f = f * 10 + static_cast<unsigned>(c - '0');
    }
    f *= power10(kFractionDigits - static_cast<int>(fraction_digits.size()));
    out = cell_of(negative, currency, v * kUnit + f);
    return true;
}

Cell from_integer(int32_t value) {
    const uint64_t m =
        value < 0 ? 0 - static_cast<uint64_t>(static_cast<int64_t>(value)) : static_cast<uint64_t>(value);
    return cell_of(value < 0, 0, Magnitude{m} * kUnit);
}

Cell from_float(double value, bool strict, const Cell& source) {
    return from_float_digits(value, strict ? 22 : 0, strict, source);
}

int32_t to_integer(const Cell& m) {
    const Magnitude whole = magnitude_of(m) / kUnit;
    const bool neg = negative(m);
    if (whole > (neg ? Magnitude{2147483648u} : Magnitude{2147483647u}))
        error::fire(ErrorId::type_limit, cell::datatype_of(TypeId::integer));
    const auto w = static_cast<int64_t>(whole);
    return static_cast<int32_t>(neg ? -w : w);
}

double to_float(const Cell& m) {
    char text[kDigits + 1];
    digits_of(magnitude_of(m), text);
    // ddddddddddddddddd.ddddd, read back as the nearest double.
    char with_point[kDigits + 2] = {};
    const int integer_part = kDigits - kFractionDigits;
    for (int i = 0; i < integer_part; ++i) with_point[i] = text[i];
    with_point[integer_part] = '.';
    for (int i = integer_part; i < kDigits; ++i) with_point[i + 1] = text[i];
    int errors = 0;
    const double v = float_text::text_to_float(with_point, with_point + kDigits + 1, 0, &errors);
    return negative(m) && v != 0.0 ? -v : v;
}

}  // namespace money

namespace {

[[noreturn]] void raise_bad_to(const Cell& value) {
    error::fire(ErrorId::bad_to_arg, cell::datatype_of(TypeId::money), value);
}

// A word's currency position, or -1.
int32_t currency_of_word(const Cell& word) { return locale::currency_index(symbol::utf8(symbol::resolve(word.w2))); }

// ---- Arithmetic ---------------------------------------------------------------------------------

// An operand of mixed arithmetic as an amount; floats are cut to 5 fraction digits.
Amount operand(const Cell& v) {
    switch (cell::type(v)) {
        case TypeId::money: return amount_of(v);
        case TypeId::integer: return amount_of(money::from_integer(cell::as_integer(v)));
        case TypeId::float_:
        case TypeId::percent: return amount_of(money::from_float(cell::as_float(v), false, v));
        default: error::fire(ErrorId::invalid_type, cell::datatype_of(v));
    }
}

Cell add_amounts(const Amount& x, const Amount& y, uint32_t currency) {
    if (x.negative == y.negative) return result(x.negative, currency, x.magnitude + y.magnitude);
    if (x.magnitude >= y.magnitude) return result(x.negative, currency, x.magnitude - y.magnitude);
    return result(y.negative, currency, y.magnitude - x.magnitude);
}

Cell do_math(Cell a, Cell b, MathOp op) {
    const bool money_left = cell::is(a, TypeId::money), money_right = cell::is(b, TypeId::money);
    if (op > math_remainder) error::fire(ErrorId::invalid_type, cell::datatype_of(a));
    if ((op == math_multiply && money_left && money_right) ||
        ((op == math_divide || op == math_remainder) && !money_left))
        error::fire(ErrorId::invalid_type, cell::datatype_of(a));
    Amount x = operand(a), y = operand(b);
    if (x.currency != 0 && y.currency != 0 && x.currency != y.currency) error::fire(ErrorId::wrong_denom, a, b);
    const uint32_t currency = y.currency != 0 ? y.currency : x.currency;
    const bool sign = x.negative != y.negative;
    switch (op) {
        case math_add: return add_amounts(x, y, currency);
        case math_subtract: y.negative = !y.negative; return add_amounts(x, y, currency);
        case math_multiply:
            // The exact product has 10 fraction digits; it fits when below 10^27 units.
            if (x.magnitude != 0 && y.magnitude > (kLimit * kUnit - 1) / x.magnitude) raise_overflow();
            return result(sign, currency, x.magnitude * y.magnitude / kUnit);
        default: break;
    }
    if (y.magnitude == 0) error::fire(ErrorId::zero_divide);
    if (op == math_remainder) return result(x.negative, currency, x.magnitude % y.magnitude);
    const Cell quotient = result(sign, currency, x.magnitude * kUnit / y.magnitude);
    if (money_right) return cell::floating(money::to_float(quotient));
    return quotient;
}

template <MathOp op>
Cell money_math(Cell a, Cell b) {
    return do_math(a, b, op);
}

Cell money_absolute(Cell value) {
    value.header &= ~money::kSignFlag;
    return value;
}

Cell money_negate(Cell value) {
    if (!money::is_zero(value)) value.header ^= money::kSignFlag;
    return value;
}

bool money_odd(Cell value) { return (magnitude_of(value) / kUnit) % 2 != 0; }
bool money_even(Cell value) { return !money_odd(value); }

// ---- Comparison ---------------------------------------------------------------------------------

int32_t order_amounts(const Amount& x, const Amount& y) {
    const int sx = x.magnitude == 0 ? 0 : x.negative ? -1 : 1;
    const int sy = y.magnitude == 0 ? 0 : y.negative ? -1 : 1;
    if (sx != sy) return sx < sy ? -1 : 1;
    const int32_t by_magnitude = (x.magnitude > y.magnitude) - (x.magnitude < y.magnitude);
    return sx < 0 ? -by_magnitude : by_magnitude;
}

int32_t money_compare(Cell a, Cell b, int32_t op) {
    const TypeId right = cell::type(b);
    if ((op == op_strict_equal || op == op_same || op == op_find) && right != TypeId::money) return 1;
    const Amount x = amount_of(a);
    Amount y;
    switch (right) {
        case TypeId::money: y = amount_of(b); break;
        case TypeId::integer: y = amount_of(money::from_integer(cell::as_integer(b))); break;
        case TypeId::float_: {
            // Exactly against the float's shortest text: a float beyond the amounts' range orders
            // by its sign, and digits past the fifth fraction digit put it just beyond its cut.
            const double f = cell::as_float(b);
            if (std::isnan(f)) return equality_op(op) ? 1 : kNotComparable;
            if (!(std::fabs(f) < 1e17)) return f > 0 ? -1 : 1;
            bool dropped = false;
            const Amount cut{f < 0, 0, float_units(f, 0, dropped)};
            const int32_t order = order_amounts(x, cut);
            if (order != 0 || !dropped) return order;
            return f > 0 ? -1 : 1;
        }
        default: return kNotComparable;
    }
    if (right == TypeId::money) {
        const bool both = x.currency != 0 && y.currency != 0;
        switch (op) {
            case op_lesser:
            case op_lesser_or_equal:
            case op_greater:
            case op_greater_or_equal:
                if (both && x.currency != y.currency) error::fire(ErrorId::wrong_denom, a, b);
                break;
            case op_equal:
            case op_not_equal:
                if (both && x.currency != y.currency) return 1;
                break;
            case op_strict_equal:
            case op_same:
                if (x.currency != y.currency) return 1;
                break;
            case op_find:
                if (y.currency != 0 && x.currency != y.currency) return 1;
                break;
            case op_sort:
            case op_sort_case:
                if (x.currency != y.currency) {
                    const std::string_view cx = locale::currency_code(x.currency),
                                           cy = locale::currency_code(y.currency);
                    return cx < cy ? -1 : 1;
                }
                break;
            default: break;
        }
    }
    return order_amounts(x, y);
}

// ---- Rounding -----------------------------------------------------------------------------------

Magnitude scale_of(const Cell& to) {
    switch (cell::type(to)) {
        case TypeId::money: return magnitude_of(to);
        case TypeId::integer: return magnitude_of(money::from_integer(cell::as_integer(to)));
        case TypeId::float_: return magnitude_of(from_float_digits(cell::as_float(to), 0, true, to));
        default: integer::raise_not_related(Slot::round, cell::type(to));
    }
}

// Rounds the magnitude to a multiple of the scale. A tie is a remainder of exactly half the scale,
// whatever the scale, and /even looks at the parity of the multiple below.
Cell money_round(Cell value, const RoundOptions& o) {
    const Magnitude s = o.to ? scale_of(*o.to) : kUnit;
    if (money::is_zero(value) || s == 0) return value;
    const Amount x = amount_of(value);
    const Magnitude v = x.magnitude, r = v % s;
    const Magnitude down = v - r;
    const auto up = [&] {
        if (r == 0) return v;
        const Magnitude u = v + (s - r);
        if (u >= kLimit) raise_overflow();
        return u;
    };
    const bool half = r != 0 && 2 * r == s;
    const auto nearest = [&] { return r < s - r ? down : up(); };
    Magnitude m;
    if (o.down) m = down;
    else if (o.floor) m = x.negative ? up() : down;
    else if (o.ceiling) m = x.negative ? down : up();
    else if (o.even) m = half && (v / s) % 2 == 0 ? down : nearest();
    else if (o.half_down) m = half ? down : nearest();
    else if (o.half_ceiling) m = half ? (x.negative ? down : up()) : nearest();
    else m = nearest();
    return cell_of(x.negative, x.currency, m);
}

// ---- Random -------------------------------------------------------------------------------------

// A random amount no larger than the value, drawn digit by digit from the most significant: a
// digit equal to the value's is kept only when two further draws agree modulo 1000, and once a
// digit falls below the value's the rest are free.
Cell money_random(Cell value, bool seed, bool secure, bool) {
    if (seed) {
        random::seed(value.w1 ^ value.w2 ^ value.w3 ^ (value.header & money::kSignFlag));
        return cell::unset();
    }
    char digits[money::kDigits];
    digits_of(magnitude_of(value), digits);
    Magnitude v = 0;
    bool bounded = true;
    for (const char c : digits) {
        const int limit = c - '0';
        int d;
        if (!bounded) {
            d = random::int_range(secure, 10) - 1;
        } else if (limit == 0) {
            d = 0;
        } else {
            for (;;) {
                d = random::int_range(secure, limit + 1) - 1;
                if (d < limit) {
                    bounded = false;
                    break;
                }
                if (random::draw(secure) % 1000 == random::draw(secure) % 1000) break;
            }
        }
        v = v * 10 + static_cast<unsigned>(d);
    }
    return cell_of(money::negative(value), money::currency(value), v);
}

// ---- Text ---------------------------------------------------------------------------------------

// -USD$1'234.50: separators after every third integer digit for form, none for mold; `fraction`
// digits after the point, none and no point when 0.
int32_t emit_money(const Cell& value, NodeId out, int32_t limit, bool separators, int32_t fraction) {
    char digits[money::kDigits];
    digits_of(magnitude_of(value), digits);
    char text[64];
    int n = 0;
    if (money::signum(value) < 0) text[n++] = '-';
    for (const char c : locale::currency_code(money::currency(value))) text[n++] = c;
    text[n++] = '$';
    const int integer_part = money::kDigits - money::kFractionDigits;
    int first = 0;
    while (first < integer_part - 1 && digits[first] == '0') ++first;
    for (int i = first; i < integer_part; ++i) {
        text[n++] = digits[i];
        const int from_units = integer_part - 1 - i;
        if (separators && from_units > 0 && from_units % 3 == 0) text[n++] = '\'';
    }
    if (fraction > money::kFractionDigits) fraction = money::kFractionDigits;
    if (fraction >= 1) {
        text[n++] = '.';
        for (int i = 0; i < fraction; ++i) text[n++] = digits[integer_part + i];
    }
    return mold::emit(out, std::string_view(text, static_cast<size_t>(n)), limit);
}

int32_t money_form(Cell value, NodeId out, int32_t limit) {
    return emit_money(value, out, limit, true, locale::money_digits());
}

int32_t money_mold(Cell value, NodeId out, MoldFlags flags, int32_t limit) {
    return emit_money(value, out, limit, false, flags.all ? money::kFractionDigits : locale::money_digits());
}

// ---- Make and to --------------------------------------------------------------------------------

// A money literal read from a text's head.
Cell from_text(const Cell& text) {
    SeriesBuffer* b = memory::buffer(cell::series_node(text));
    const uint32_t unit = b->unit();
    lexer::MoneyDigits parts;
    if (!lexer::scan_money(b->head_ptr() + size_t{text.w1} * unit, string::rs_length(text), unit, parts))
        raise_bad_to(text);
    uint32_t currency = 0;
    if (parts.code[0] != '\0') {
        const int32_t index = locale::currency_index(parts.code);
        if (index < 0) raise_bad_to(text);
        currency = static_cast<uint32_t>(index);
    }
    Cell m;
    if (!money::make_from_digits(parts.negative, currency, parts.digits, parts.fraction, m)) raise_bad_to(text);
    return m;
}

// [currency amount fraction]: an optional currency word, an integer! or float! amount, and after
// an integer amount an optional fraction in units of 0.00001.
Cell from_block(const Cell& spec) {
    SeriesBuffer* b = memory::buffer(cell::series_node(spec));
    const uint32_t count = b->used() / sizeof(Cell);
    uint32_t i = cell::series_index(spec);
    if (i >= count) raise_bad_make(spec);
    uint32_t currency = 0;
    Cell item = b->cells()[i];
    if (cell::is(item, TypeId::word)) {
        const int32_t index = currency_of_word(item);
        if (index < 0 || i + 1 >= count) raise_bad_make(item);
        currency = static_cast<uint32_t>(index);
        item = b->cells()[++i];
    }
    Amount amount;
    if (cell::is(item, TypeId::integer)) {
        amount = amount_of(money::from_integer(cell::as_integer(item)));
        if (i + 1 < count) {
            const Cell fraction = b->cells()[++i];
            if (!cell::is(fraction, TypeId::integer) || cell::as_integer(fraction) < 0 ||
                cell::as_integer(fraction) > 99999)
                raise_bad_make(fraction);
            amount = amount_of(add_amounts(amount, Amount{false, 0, Magnitude(cell::as_integer(fraction))}, 0));
        }
    } else if (cell::is(item, TypeId::float_)) {
        amount = amount_of(money::from_float(cell::as_float(item), true, item));
    } else {
        raise_bad_make(item);
    }
    if (i + 1 < count) raise_bad_make(b->cells()[i + 1]);
    amount.currency = currency;
    return cell_of(amount);
}

Cell convert(Cell spec, bool make) {
    switch (cell::type(spec)) {
        case TypeId::money: return spec;
        case TypeId::integer: return money::from_integer(cell::as_integer(spec));
        case TypeId::float_: return money::from_float(cell::as_float(spec), true, spec);
        case TypeId::word: {
            if (!make) raise_bad_to(spec);
            const int32_t index = currency_of_word(spec);
            if (index < 0) raise_bad_make(spec);
            return cell_of(false, static_cast<uint32_t>(index), 0);
        }
        case TypeId::block:
            if (!make) raise_bad_to(spec);
            return from_block(spec);
        default:
            if (!string::is_text(cell::type(spec))) raise_bad_to(spec);
            return from_text(spec);
    }
}

Cell money_make(TypeId, Cell, Cell spec) { return convert(spec, true); }
Cell money_to(TypeId, Cell, Cell spec) { return convert(spec, false); }

// ---- Path and pick ------------------------------------------------------------------------------

// Field 1 the currency word (none without a currency), field 2 the amount without it.
Cell field(const Cell& value, int32_t index) {
    if (index == 2) {
        Cell m = value;
        m.w1 &= ~0xFFu;
        return m;
    }
    const std::string_view code = locale::currency_code(money::currency(value));
    if (code.empty()) return cell::none();
    return words::global(symbol::make(code));
}

int32_t field_of_word(const Cell& selector) {
    if (!cell::is(selector, TypeId::word)) return 0;
    const symbol::Id id = symbol::resolve(selector.w2);
    if (id == symbol::resolve(words::id(words::Word::code))) return 1;
    if (id == symbol::resolve(words::id(words::Word::amount))) return 2;
    return 0;
}

Cell money_eval_path(Cell parent, Cell element, const PathStep& step) {
    if (step.set_value) error::fire(ErrorId::bad_path_set, step.path, element);
    const int32_t k = cell::is(element, TypeId::integer) ? cell::as_integer(element) : 0;
    const int32_t index = k == 1 || k == 2 ? k : field_of_word(element);
    if (index == 0) error::fire(ErrorId::invalid_path, step.path, element);
    return field(parent, index);
}

Cell money_pick(Cell value, int32_t index, Cell index_value) {
    const int32_t f = cell::is(index_value, TypeId::word) ? field_of_word(index_value)
                      : index == 1 || index == 2          ? index
                                                          : 0;
    if (f == 0) error::fire(ErrorId::out_of_range, index_value);
    return field(value, f);
}

// Zero has no sign, and header flags such as the new-line marker are not part of the amount.
uint32_t money_hash(const Cell& c) {
    Cell m = c;
    m.header = static_cast<uint32_t>(TypeId::money) | (money::is_zero(c) ? 0 : c.header & money::kSignFlag);
    return hash::murmur3(&m, sizeof m);
}

// Equal amounts in the same currency; every zero is the same zero.
bool money_same(const Cell& a, const Cell& b) {
    if (money::is_zero(a) && money::is_zero(b)) return money::currency(a) == money::currency(b);
    return money::negative(a) == money::negative(b) &&
           type_traits::words_equal(a, b, type_traits::kW1 | type_traits::kW2 | type_traits::kW3);
}

}  // namespace

extern const ActionTable money_actions = {
    .make = money_make,
    .random = money_random,
    .to = money_to,
    .form = money_form,
    .mold = money_mold,
    .eval_path = money_eval_path,
    .compare = money_compare,
    .absolute = money_absolute,
    .add = money_math<math_add>,
    .divide = money_math<math_divide>,
    .multiply = money_math<math_multiply>,
    .negate = money_negate,
    .remainder = money_math<math_remainder>,
    .round = money_round,
    .subtract = money_math<math_subtract>,
    .even_q = money_even,
    .odd_q = money_odd,
    .pick = money_pick,
};

extern const type_traits::Traits money_traits = {.hash = money_hash, .same = money_same};

}  // namespace zub
