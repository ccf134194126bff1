// Comparison, logic and math natives: the comparisons over actions::compare, same?, not, the sign
// and zero tests, max and min (component-wise for coordinates and tuples), shift, to-hex, the
// trigonometric and logarithmic functions and the coordinate constructors. Nothing here traps on
// a floating-point domain error: NaN and the infinities are ordinary results.
#include <algorithm>
#include <bit>
#include <cfloat>
#include <cmath>
#include <cstring>

#include "datatypes/context.h"
#include "datatypes/locale.h"
#include "datatypes/money.h"
#include "datatypes/pair.h"
#include "datatypes/point.h"
#include "datatypes/tuple.h"
#include "evaluator/actions.h"
#include "evaluator/native_args.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "evaluator/words.h"
#include "runtime/error.h"
#include "runtime/float_text.h"
#include "runtime/symbol.h"
#include "runtime/type_traits.h"

namespace zub::natives {
namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kEpsilon = 2.220446049250313e-16;

using native_args::Args;

bool is_floating(TypeId t) { return t == TypeId::float_ || t == TypeId::percent || t == TypeId::time; }

// ---- The coordinate types ----------------------------------------------------------------------

// A double narrowed to binary32 as the hardware rounds it, written so that no conversion is out
// of range: beyond the largest float by half a step or more gives an infinity.
float to_f32(double d) {
    if (!(std::fabs(d) > FLT_MAX)) return static_cast<float>(d);  // NaN included
    if (std::fabs(d) < 0x1.ffffffp127) return d < 0 ? -FLT_MAX : FLT_MAX;
    return d < 0 ? -HUGE_VALF : HUGE_VALF;
}

Cell pair_to_point2(const Cell& p) {
    return point::make2(static_cast<float>(pair::x(p)), static_cast<float>(pair::y(p)));
}

// ---- Comparison and logic -----------------------------------------------------------------------

template <Native native, CompareOp op>
Status compare_native(const int32_t* r) {
    const Args<native> args(r);
    return args.done(cell::logic(actions::compare(args[0], args[1], op)));
}

bool same_value(const Cell& a, const Cell& b) {
    const TypeId t = cell::type(a);
    if (t != cell::type(b)) return false;
    const type_traits::Traits& traits = type_traits::of(t);
    return traits.same ? traits.same(a, b) : type_traits::words_equal(a, b, traits.same_words);
}

}  // namespace

Status same_q_entry(const int32_t* r) {
    const Args<Native::same_q> args(r);
    return args.done(cell::logic(same_value(args[0], args[1])));
}

Status not_entry(const int32_t* r) {
    const Args<Native::not_> args(r);
    return args.done(cell::logic(!cell::truthy(args[0])));
}

namespace {

// ---- Sign and zero tests ------------------------------------------------------------------------

// -1, 0 or 1; NaN is 0. Other types raise expect-arg.
int32_t signum(Native native, const Cell& v) {
    switch (cell::type(v)) {
        case TypeId::integer: return (cell::as_integer(v) > 0) - (cell::as_integer(v) < 0);
        case TypeId::float_:
        case TypeId::percent:
        case TypeId::time: {
            const double x = cell::as_float(v);
            return (x > 0.0) - (x < 0.0);
        }
        case TypeId::money: return money::signum(v);
        default: raise_arg(native, 0, v);
    }
}

}  // namespace

Status negative_q_entry(const int32_t* r) {
    const Args<Native::negative_q> args(r);
    return args.done(cell::logic(signum(Native::negative_q, args[0]) < 0));
}

Status positive_q_entry(const int32_t* r) {
    const Args<Native::positive_q> args(r);
    return args.done(cell::logic(signum(Native::positive_q, args[0]) > 0));
}

Status sign_q_entry(const int32_t* r) {
    const Args<Native::sign_q> args(r);
    return args.done(cell::integer(signum(Native::sign_q, args[0])));
}

namespace {

bool is_zero(const Cell& v) {
    switch (cell::type(v)) {
        case TypeId::char_:
        case TypeId::integer: return cell::as_integer(v) == 0;
        case TypeId::float_:
        case TypeId::percent:
        case TypeId::time: return cell::as_float(v) == 0.0;
        case TypeId::pair: return pair::x(v) == 0 && pair::y(v) == 0;
        case TypeId::tuple: {
            uint8_t bytes[12];
            tuple::bytes(v, bytes);
            return std::all_of(bytes, bytes + std::min(tuple::count(v), tuple::kMaxBytes),
                               [](uint8_t b) { return b == 0; });
        }
        case TypeId::money: return money::signum(v) == 0;
        case TypeId::point2D: return point::coordinate(v, 0) == 0.0f && point::coordinate(v, 1) == 0.0f;
        case TypeId::point3D:
            return point::coordinate(v, 0) == 0.0f && point::coordinate(v, 1) == 0.0f &&
                   point::coordinate(v, 2) == 0.0f;
        default: return false;
    }
}

}  // namespace

Status zero_q_entry(const int32_t* r) {
    const Args<Native::zero_q> args(r);
    return args.done(cell::logic(is_zero(args[0])));
}

Status nan_q_entry(const int32_t* r) {
    const Args<Native::nan_q> args(r);
    const Cell v = args[0];
    return args.done(cell::logic(is_floating(cell::type(v)) && std::isnan(cell::as_float(v))));
}

namespace {

// ---- max and min --------------------------------------------------------------------------------

bool is_nan_number(const Cell& v) {
    return (cell::is(v, TypeId::float_) || cell::is(v, TypeId::percent)) && std::isnan(cell::as_float(v));
}
bool is_plain_number(const Cell& v) {
    return cell::is(v, TypeId::integer) || cell::is(v, TypeId::float_) || cell::is(v, TypeId::percent);
}
bool is_compound(const Cell& v) {
    switch (cell::type(v)) {
        case TypeId::pair:
        case TypeId::point2D:
        case TypeId::point3D:
        case TypeId::tuple: return true;
        default: return false;
    }
}

int32_t pick_int(int32_t x, int32_t y, bool max) { return max ? std::max(x, y) : std::min(x, y); }
// The second value's NaN wins, so that a NaN is never lost to a comparison that is always false.
float pick_f32(float x, float y, bool max) {
    if (std::isnan(y)) return y;
    return max ? (x < y ? y : x) : (y < x ? y : x);
}

// A float that truncates into the 32-bit range; false for one beyond it, infinite or NaN.
bool truncates_to_int32(double f, int32_t& out) {
    if (!(f > -2147483649.0 && f < 2147483648.0)) return false;
    out = static_cast<int32_t>(f);
    return true;
}

// point2D! or point3D! `a` against a number, a point of its kind, or (point2D!) a pair. False
// when `b` is none of those.
bool point_max_min(Cell& a, Cell b, bool max) {
    const bool three = cell::is(a, TypeId::point3D);
    float other[3];
    switch (cell::type(b)) {
        case TypeId::integer: other[0] = other[1] = other[2] = static_cast<float>(cell::as_integer(b)); break;
        case TypeId::float_:
        case TypeId::percent: other[0] = other[1] = other[2] = to_f32(cell::as_float(b)); break;
        case TypeId::pair:
            if (three) return false;
            b = pair_to_point2(b);
            [[fallthrough]];
        case TypeId::point2D:
        case TypeId::point3D:
            if (cell::type(b) != cell::type(a)) return false;
            for (int i = 0; i < 3; ++i) other[i] = point::coordinate(b, i);
            break;
        default: return false;
    }
    for (int i = 0; i < (three ? 3 : 2); ++i)
        point::set_coordinate(a, i, pick_f32(point::coordinate(a, i), other[i], max));
    return true;
}

bool pair_max_min(Cell& a, Cell b, bool max) {
    int32_t n;
    switch (cell::type(b)) {
        case TypeId::integer: n = cell::as_integer(b); break;
        case TypeId::float_: {
            const double f = cell::as_float(b);
            if (truncates_to_int32(f, n)) break;
            // No integer holds it: both become points, and the float meets each coordinate.
            a = pair_to_point2(a);
            return point_max_min(a, point::make2(to_f32(f), to_f32(f)), max);
        }
        case TypeId::pair:
            pair::set(a, pick_int(pair::x(a), pair::x(b), max), pick_int(pair::y(a), pair::y(b), max));
            return true;
        case TypeId::point2D: {
            Cell p = pair_to_point2(a);
            if (!point_max_min(p, b, max)) return false;
            a = p;
            return true;
        }
        default: return false;
    }
    pair::set(a, pick_int(pair::x(a), n, max), pick_int(pair::y(a), n, max));
    return true;
}

// Each byte against a number (the result held to 0-255, as tuple arithmetic holds it) or against
// the byte at the same place of a tuple of the same length.
bool tuple_max_min(Cell& a, Cell b, bool max) {
    uint8_t bytes[12], others[12];
    tuple::bytes(a, bytes);
    const uint32_t count = std::min(tuple::count(a), tuple::kMaxBytes);
    int32_t n = 0;
    switch (cell::type(b)) {
        case TypeId::integer: n = cell::as_integer(b); break;
        case TypeId::float_:
            if (!truncates_to_int32(cell::as_float(b), n))
                error::fire(ErrorId::type_limit, cell::datatype_of(TypeId::integer));
            break;
        case TypeId::tuple:
            if (tuple::count(b) != tuple::count(a)) return false;
            tuple::bytes(b, others);
            for (uint32_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(pick_int(bytes[i], others[i], max));
            tuple::set_bytes(a, bytes);
            return true;
        default: return false;
    }
    for (uint32_t i = 0; i < count; ++i)
        bytes[i] = static_cast<uint8_t>(std::clamp(pick_int(bytes[i], n, max), 0, 255));
    tuple::set_bytes(a, bytes);
    return true;
}

template <Native native>
Status max_min(const int32_t* r, bool max) {
    const Args<native> args(r);
    Cell a = args[0], b = args[1];
    if (cell::is(a, TypeId::integer) && cell::is(b, TypeId::integer)) {
        // The commonest pair, compared directly: equal integers are alike, whichever is kept.
        const bool less = cell::as_integer(a) < cell::as_integer(b);
        return args.done(less == max ? b : a);
    }
    if (is_nan_number(a) && is_plain_number(b)) return args.done(a);
    if (is_nan_number(b) && is_plain_number(a)) return args.done(b);
    if (is_compound(b) && (cell::is(a, TypeId::integer) || cell::is(a, TypeId::float_))) std::swap(a, b);
    bool combined = false;
    switch (cell::type(a)) {
        case TypeId::pair: combined = pair_max_min(a, b, max); break;
        case TypeId::point2D:
        case TypeId::point3D: combined = point_max_min(a, b, max); break;
        case TypeId::tuple: combined = tuple_max_min(a, b, max); break;
        default: break;
    }
    if (combined) return args.done(a);
    // A tie keeps value1 for max and gives value2 for min.
    const bool less = actions::compare(a, b, op_lesser);
    if (max) return args.done(less ? b : a);
    return args.done(less ? a : b);
}

}  // namespace

Status max_entry(const int32_t* r) { return max_min<Native::max>(r, true); }

Status min_entry(const int32_t* r) { return max_min<Native::min>(r, false); }

namespace {

// ---- Bits ---------------------------------------------------------------------------------------

}  // namespace

Status shift_entry(const int32_t* r) {
    const Args<Native::shift> args(r);
    const int32_t data = cell::as_integer(args[0]);
    const int32_t bits = std::max(cell::as_integer(args[1]), 0);
    const auto u = static_cast<uint32_t>(data);
    int32_t result;
    if (args.has<"left">()) result = bits >= 32 ? 0 : static_cast<int32_t>(u << bits);
    else if (args.has<"logical">()) result = bits >= 32 ? 0 : static_cast<int32_t>(u >> bits);
    else result = bits >= 32 ? (data < 0 ? -1 : 0) : data >> bits;
    return args.done(cell::integer(result));
}

Status to_hex_entry(const int32_t* r) {
    const Args<Native::to_hex> args(r);
    constexpr char kDigits[] = "0123456789ABCDEF";
    const auto value = static_cast<uint32_t>(cell::as_integer(args[0]));
    int32_t size = 8;
    if (const Cell* size_arg = args.arg<"size">()) {
        const Cell length = *size_arg;
        size = cell::as_integer(length);
        if (size <= 0) error::fire(ErrorId::invalid_arg, length);
        size = std::min(size, 8);
    }
    char text[8];
    for (int i = 0; i < 8; ++i) text[i] = kDigits[(value >> (28 - 4 * i)) & 0xF];
    const symbol::Id id = symbol::make({text + 8 - size, static_cast<size_t>(size)});
    return args.done(cell::make(TypeId::issue, context::global(), id, 0xFFFFFFFF));
}

namespace {

// ---- Floating-point functions -------------------------------------------------------------------

double float_arg(Native native, uint32_t param, const Cell& v) {
    switch (cell::type(v)) {
        case TypeId::integer: return cell::as_integer(v);
        case TypeId::float_:
        case TypeId::percent: return cell::as_float(v);
        default: raise_arg(native, param, v);
    }
}

// The runtime library's functions, wrapped so that each has one address to instantiate with.
double sin_(double x) { return std::sin(x); }
double cos_(double x) { return std::cos(x); }
double asin_(double x) { return std::asin(x); }
double acos_(double x) { return std::acos(x); }
double atan_(double x) { return std::atan(x); }

// What is left of sin(pi) and cos(pi/2) by pi's rounding is zero.
double snap_zero(double x) { return std::fabs(x) < kEpsilon ? 0.0 : x; }

// Radians of an angle in degrees, folded first into -90..90 for mode 0 (tangent) and mode 2
// (sine), -180..180 for mode 1 (cosine), by the function's symmetries; the folding is exact, so
// sine of 180 degrees is 0 and large angles lose no precision to a multiple of pi.
double degrees_to_radians(double angle, int mode) {
    double a = std::fmod(angle, 360.0);
    if (a > 180.0 || a < -180.0) a += a >= 0.0 ? -360.0 : 360.0;
    if (a > 90.0 || a < -90.0) {
        if (mode == 0) a += a >= 0.0 ? -180.0 : 180.0;
        else if (mode == 2) a = a >= 0.0 ? 180.0 - a : -180.0 - a;
    }
    return a * 3.141592653589793 / 180.0;
}

template <Native native, int mode, double (*fn)(double)>
Status trig(const int32_t* r) {
    const Args<native> args(r);
    double a = float_arg(native, 0, args[0]);
    if (!args.template has<"radians">()) a = degrees_to_radians(a, mode);
    return args.done(cell::floating(snap_zero(fn(a))));
}

}  // namespace

Status tangent_entry(const int32_t* r) {
    const Args<Native::tangent> args(r);
    double a = float_arg(Native::tangent, 0, args[0]);
    if (!args.has<"radians">()) a = degrees_to_radians(a, 0);
    if (a == kPi / 2) return args.done(cell::floating(HUGE_VAL));
    if (a == -kPi / 2) return args.done(cell::floating(-HUGE_VAL));
    return args.done(cell::floating(std::tan(a)));
}

namespace {

double degrees_unless(bool in_radians, double radians) { return in_radians ? radians : radians * 180.0 / kPi; }

template <Native native, double (*fn)(double)>
Status arc(const int32_t* r) {
    const Args<native> args(r);
    return args.done(cell::floating(degrees_unless(args.template has<"radians">(), fn(float_arg(native, 0, args[0])))));
}

}  // namespace

Status arctangent2_entry(const int32_t* r) {
    const Args<Native::arctangent2> args(r);
    const double y = float_arg(Native::arctangent2, 0, args[0]), x = float_arg(Native::arctangent2, 1, args[1]);
    return args.done(cell::floating(degrees_unless(args.has<"radians">(), std::atan2(y, x))));
}

namespace {

double log_2(double x) { return std::log(x) / 0.6931471805599453; }
double log_10(double x) { return std::log10(x); }
double log_e(double x) { return std::log(x); }
double exp_e(double x) { return std::pow(2.718281828459045, x); }
double square_root(double x) { return std::sqrt(x); }

template <Native native, double (*fn)(double)>
Status unary_float(const int32_t* r) {
    const Args<native> args(r);
    return args.done(cell::floating(fn(float_arg(native, 0, args[0]))));
}

// ---- Constructors -------------------------------------------------------------------------------

int32_t pair_coordinate(const Cell& v) {
    if (cell::is(v, TypeId::integer)) return cell::as_integer(v);
    int32_t n;
    // Infinite, NaN and out-of-range floats have no integer coordinate.
    if (!cell::is(v, TypeId::float_) || !truncates_to_int32(cell::as_float(v), n)) error::fire(ErrorId::invalid_arg, v);
    return n;
}

float point_coordinate(const Cell& v) {
    if (cell::is(v, TypeId::integer)) return static_cast<float>(cell::as_integer(v));
    return to_f32(cell::as_float(v));
}

}  // namespace

Status as_pair_entry(const int32_t* r) {
    const Args<Native::as_pair> args(r);
    return args.done(pair::make(pair_coordinate(args[0]), pair_coordinate(args[1])));
}

Status as_point2d_entry(const int32_t* r) {
    const Args<Native::as_point2d> args(r);
    return args.done(point::make2(point_coordinate(args[0]), point_coordinate(args[1])));
}

Status as_point3d_entry(const int32_t* r) {
    const Args<Native::as_point3d> args(r);
    return args.done(point::make3(point_coordinate(args[0]), point_coordinate(args[1]), point_coordinate(args[2])));
}

// The currency must be one of the list's; the amount converts as to money! does.
Status as_money_entry(const int32_t* r) {
    const Args<Native::as_money> args(r);
    const Cell code = args[0], amount = args[1];
    const int32_t currency = locale::currency_index(symbol::utf8(symbol::resolve(code.w2)));
    if (currency < 0) error::fire(ErrorId::bad_denom, code);
    Cell m = cell::is(amount, TypeId::integer) ? money::from_integer(cell::as_integer(amount))
                                               : money::from_float(cell::as_float(amount), true, amount);
    m.w1 = (m.w1 & ~0xFFu) | static_cast<uint32_t>(currency);
    return args.done(m);
}

Status equal_q_entry(const int32_t* r) { return compare_native<Native::equal_q, op_equal>(r); }
Status not_equal_q_entry(const int32_t* r) { return compare_native<Native::not_equal_q, op_not_equal>(r); }
Status strict_equal_q_entry(const int32_t* r) { return compare_native<Native::strict_equal_q, op_strict_equal>(r); }
Status lesser_q_entry(const int32_t* r) { return compare_native<Native::lesser_q, op_lesser>(r); }
Status greater_q_entry(const int32_t* r) { return compare_native<Native::greater_q, op_greater>(r); }
Status lesser_or_equal_q_entry(const int32_t* r) {
    return compare_native<Native::lesser_or_equal_q, op_lesser_or_equal>(r);
}
Status greater_or_equal_q_entry(const int32_t* r) {
    return compare_native<Native::greater_or_equal_q, op_greater_or_equal>(r);
}
Status sine_entry(const int32_t* r) { return trig<Native::sine, 2, sin_>(r); }
Status cosine_entry(const int32_t* r) { return trig<Native::cosine, 1, cos_>(r); }
Status arcsine_entry(const int32_t* r) { return arc<Native::arcsine, asin_>(r); }
Status arccosine_entry(const int32_t* r) { return arc<Native::arccosine, acos_>(r); }
Status arctangent_entry(const int32_t* r) { return arc<Native::arctangent, atan_>(r); }
Status log_2_entry(const int32_t* r) { return unary_float<Native::log_2, log_2>(r); }
Status log_10_entry(const int32_t* r) { return unary_float<Native::log_10, log_10>(r); }
Status log_e_entry(const int32_t* r) { return unary_float<Native::log_e, log_e>(r); }
Status exp_entry(const int32_t* r) { return unary_float<Native::exp, exp_e>(r); }
Status square_root_entry(const int32_t* r) { return unary_float<Native::square_root, square_root>(r); }

}  // namespace zub::natives
