// point2D! and point3D!: coordinates held as binary32, the floating counterpart of pair!. Every
// computation runs in double through the float! arithmetic and is stored back as binary32, so the
// arithmetic itself never fails: infinities and NaN are coordinates like any other.
#include "datatypes/point.h"

#include <cfloat>
#include <cmath>

#include "datatypes/float.h"
#include "datatypes/mold.h"
#include "datatypes/pair.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "evaluator/lexer/lexer.h"
#include "evaluator/words.h"
#include "runtime/error.h"
#include "runtime/hash.h"
#include "runtime/memory.h"
#include "runtime/series.h"
#include "runtime/type_traits.h"
#include "system/random.h"

namespace zub {
namespace point {

float narrow(double d) {
    if (!(std::fabs(d) > FLT_MAX)) return static_cast<float>(d);  // NaN included
    if (std::fabs(d) < 0x1.ffffffp127) return d < 0 ? -FLT_MAX : FLT_MAX;
    return d < 0 ? -HUGE_VALF : HUGE_VALF;
}

bool almost_equal32(float a, float b) {
    if (std::isnan(a) || std::isnan(b)) return false;
    if (a == b) return true;  // both zeros included
    const auto bits_a = std::bit_cast<uint32_t>(a), bits_b = std::bit_cast<uint32_t>(b);
    // Ordered keys: adjacent floats get adjacent keys across the whole line, through zero.
    const auto key = [](uint32_t bits) {
        const int64_t magnitude = bits & 0x7FFFFFFF;
        return (bits >> 31) != 0 ? -magnitude : magnitude;
    };
    const int64_t distance = std::llabs(key(bits_a) - key(bits_b));
    if (distance <= 10) return true;
    const bool huge = std::fabs(a) >= FLT_MAX || std::fabs(b) >= FLT_MAX;
    return huge && (bits_a >> 31) == (bits_b >> 31) && distance < 0x100000;
}

namespace {

// The operand's value for coordinate i: a scalar for every coordinate, or the matching one.
struct Operand {
    double scalar[3];
};

Operand operand_of(const Cell& a, const Cell& b, MathOp op) {
    const int n = dimensions(a);
    Operand o{};
    switch (cell::type(b)) {
        case TypeId::integer:
            for (double& s : o.scalar) s = cell::as_integer(b);
            return o;
        case TypeId::float_:
        case TypeId::percent: {
            double f = cell::as_float(b);
            // A factor or divisor scales as a binary32, like the coordinates it meets.
            if (op == math_multiply || op == math_divide) f = narrow(f);
            for (double& s : o.scalar) s = f;
            return o;
        }
        case TypeId::pair:
            if (n != 2) break;
            o.scalar[0] = pair::x(b);
            o.scalar[1] = pair::y(b);
            return o;
        case TypeId::point2D:
        case TypeId::point3D:
            if (cell::type(b) != cell::type(a)) break;
            for (int i = 0; i < n; ++i) o.scalar[i] = coordinate(b, i);
            return o;
        default: break;
    }
    error::fire(ErrorId::invalid_type, cell::datatype_of(cell::type(b)));
}

}  // namespace

Cell do_math(Cell a, Cell b, MathOp op) {
    const Operand o = operand_of(a, b, op);
    Cell r = a;
    for (int i = 0; i < dimensions(a); ++i)
        set_coordinate(r, i, narrow(float_::math_op(coordinate(a, i), o.scalar[i], op)));
    return r;
}

int32_t compare(Cell a, Cell b, int32_t op) {
    constexpr uint8_t kTwoWords = type_traits::kW1 | type_traits::kW2;
    constexpr uint8_t kAllWords = kTwoWords | type_traits::kW3;
    if (cell::is(b, TypeId::pair) && cell::is(a, TypeId::point2D) && op != op_strict_equal && op != op_same &&
        op != op_find)
        b = pair::to_point2D(b);
    if (cell::type(b) != cell::type(a)) {
        if (op == op_strict_equal || op == op_same || op == op_find) return 1;
        return kNotComparable;
    }
    const int n = dimensions(a);
    if (op == op_same) return type_traits::words_equal(a, b, n == 3 ? kAllWords : kTwoWords) ? 0 : 1;
    if (op == op_strict_equal) {
        for (int i = 0; i < n; ++i)
            if (!(coordinate(a, i) == coordinate(b, i))) return 1;
        return 0;
    }
    if (equality_op(op) || op == op_equal_word || op == op_equal_canonical) {
        for (int i = 0; i < n; ++i)
            if (!almost_equal32(coordinate(a, i), coordinate(b, i))) return 1;
        return 0;
    }
    float d = 0.0f;
    for (int i = 0; i < n; ++i) {
        d = coordinate(a, i) - coordinate(b, i);
        if (!almost_equal32(d, 0.0f)) break;
    }
    return (d > 0.0f) - (d < 0.0f);
}

Cell load_one(TypeId type, Cell text) {
    const auto refuse = [&] { error::fire(ErrorId::bad_to_arg, cell::datatype_of(type), text); };
    if (string::rs_tail(text)) refuse();
    Cell loaded;
    try {
        loaded = lexer::transcode_value(text, -1, lexer::Options{}).value;
    } catch (const Thrown&) {
        // A part of the lexer that is not built yet is not the text's fault.
        if (error::pending().id == ErrorId::not_done) throw;
        refuse();
    }
    if (series::length(loaded.w2) - loaded.w1 != 1) refuse();
    const Cell value = memory::buffer(loaded.w2)->cells()[loaded.w1];
    if (!cell::is(value, type)) refuse();
    return value;
}

}  // namespace point

namespace {

using point::coordinate;
using point::dimensions;
using point::set_coordinate;

Cell make_point(TypeId type, float x, float y, float z) {
    return type == TypeId::point3D ? point::make3(x, y, z) : point::make2(x, y);
}

int dimensions_of(TypeId type) { return type == TypeId::point3D ? 3 : 2; }

// A coordinate from a number of a spec block; anything else refuses.
bool number_of(const Cell& v, double& out) {
    if (cell::is(v, TypeId::integer)) out = cell::as_integer(v);
    else if (cell::is(v, TypeId::float_)) out = cell::as_float(v);
    else return false;
    return true;
}

// make and to are one operation.
Cell point_make(TypeId type, Cell, Cell spec) {
    const int n = dimensions_of(type);
    switch (cell::type(spec)) {
        case TypeId::integer:
        case TypeId::float_: {
            double v = 0.0;
            number_of(spec, v);
            const float f = point::narrow(v);
            return make_point(type, f, f, f);
        }
        case TypeId::pair:
            if (type == TypeId::point2D) return pair::to_point2D(spec);
            break;
        case TypeId::point2D:
        case TypeId::point3D:
            if (cell::type(spec) == type) return spec;
            break;
        case TypeId::block: {
            SeriesBuffer* b = memory::buffer(cell::series_node(spec));
            const uint32_t index = cell::series_index(spec);
            const uint32_t count = b->used() / sizeof(Cell);
            if (index >= count || count - index < static_cast<uint32_t>(n)) error::fire(ErrorId::malconstruct, spec);
            float c[3] = {0.0f, 0.0f, 0.0f};
            for (int i = 0; i < n; ++i) {
                double v;
                if (!number_of(b->cells()[index + i], v)) error::fire(ErrorId::malconstruct, spec);
                c[i] = point::narrow(v);
            }
            return make_point(type, c[0], c[1], c[2]);
        }
        case TypeId::string: return point::load_one(type, spec);
        default: break;
    }
    error::fire(ErrorId::bad_to_arg, cell::datatype_of(type), spec);
}

// "(x, y)" with each coordinate at seven significant digits; mold/all writes every digit a
// coordinate needs to load back as the same binary32.
int32_t emit_point(Cell value, NodeId out, bool all, int32_t limit) {
    limit = mold::emit(out, "(", limit);
    for (int i = 0; i < dimensions(value); ++i) {
        if (i > 0) limit = mold::emit(out, ", ", limit);
        const double c = coordinate(value, i);
        if (all && std::isfinite(c) && c != 0.0) limit = float_::emit_plain_digits(c, 0, out, limit);
        else limit = mold::emit(out, float_::form(c, float_::FormKind::coordinate).view(), limit);
    }
    return mold::emit(out, ")", limit);
}

int32_t point_form(Cell value, NodeId out, int32_t limit) { return emit_point(value, out, false, limit); }
int32_t point_mold(Cell value, NodeId out, MoldFlags flags, int32_t limit) {
    return emit_point(value, out, flags.all, limit);
}

// Field 1 to 3 named by an integer or the words x, y, z; 0 for anything else.
int field_of(const Cell& value, const Cell& selector) {
    const int n = dimensions(value);
    if (cell::is(selector, TypeId::integer)) {
        const int32_t k = cell::as_integer(selector);
        return k >= 1 && k <= n ? k : 0;
    }
    if (!cell::is(selector, TypeId::word)) return 0;
    const symbol::Id id = symbol::resolve(selector.w2);
    if (id == symbol::resolve(words::id(words::Word::x))) return 1;
    if (id == symbol::resolve(words::id(words::Word::y))) return 2;
    if (n == 3 && id == symbol::resolve(words::id(words::Word::z))) return 3;
    return 0;
}

// Reading gives the coordinate; writing gives the whole new point, which the path's evaluator
// stores where the point came from.
Cell point_eval_path(Cell parent, Cell element, const PathStep& step) {
    const int field = field_of(parent, element);
    if (field == 0) {
        if (cell::is(element, TypeId::word)) error::fire(ErrorId::cannot_use, parent, element);
        error::fire(ErrorId::invalid_path, step.path, element);
    }
    if (!step.set_value) return cell::floating(coordinate(parent, field - 1));
    const Cell v = *step.set_value;
    double x;
    if (!number_of(v, x)) error::fire(ErrorId::invalid_type, cell::datatype_of(cell::type(v)));
    set_coordinate(parent, field - 1, point::narrow(x));
    return parent;
}

Cell point_pick(Cell value, int32_t index, Cell index_value) {
    const int n = dimensions(value);
    const int field = cell::is(index_value, TypeId::word) ? field_of(value, index_value)
                      : index >= 1 && index <= n          ? index
                                                          : 0;
    if (field == 0) error::fire(ErrorId::out_of_range, index_value);
    return cell::floating(coordinate(value, field - 1));
}

template <MathOp op>
Cell point_math(Cell a, Cell b) {
    return point::do_math(a, b, op);
}

Cell point_absolute(Cell value) {
    value.w1 &= 0x7FFFFFFF;
    value.w2 &= 0x7FFFFFFF;
    if (dimensions(value) == 3) value.w3 &= 0x7FFFFFFF;
    return value;
}

Cell point_negate(Cell value) {
    for (int i = 0; i < dimensions(value); ++i) set_coordinate(value, i, -coordinate(value, i));
    return value;
}

// point2D! swaps x and y, point3D! x and z.
Cell point_reverse(Cell value, const Cell*, const Cell*) {
    const int last = dimensions(value) - 1;
    const float x = coordinate(value, 0);
    set_coordinate(value, 0, coordinate(value, last));
    set_coordinate(value, last, x);
    return value;
}

// Each coordinate by float! round, with one scale for all or, from a coordinate value, one each.
Cell point_round(Cell value, const RoundOptions& options) {
    const int n = dimensions(value);
    double scales[3] = {1.0, 1.0, 1.0};
    if (options.to) {
        const Cell& to = *options.to;
        switch (cell::type(to)) {
            case TypeId::money: integer::raise_not_related(Slot::round, TypeId::money);
            case TypeId::pair:
                scales[0] = pair::x(to);
                scales[1] = pair::y(to);
                scales[2] = 1.0;
                break;
            case TypeId::point2D:
            case TypeId::point3D:
                for (int i = 0; i < 3; ++i) scales[i] = coordinate(to, i);
                if (cell::is(to, TypeId::point2D)) scales[2] = 1.0;
                break;
            case TypeId::integer:
                for (double& s : scales) s = cell::as_integer(to);
                break;
            case TypeId::float_:
            case TypeId::percent:
            case TypeId::time:
                for (double& s : scales) s = cell::as_float(to);
                break;
            default: raise_expect_arg(Slot::round, to, 1);
        }
    }
    for (int i = 0; i < n; ++i) {
        const double c = coordinate(value, i);
        if (!std::isfinite(c)) continue;
        // A float scale keeps the result a float whatever the scale was given as.
        const Cell scale = cell::floating(scales[i]);
        RoundOptions o = options;
        o.to = &scale;
        set_coordinate(value, i, point::narrow(cell::as_float(float_::round(cell::floating(c), o))));
    }
    return value;
}

Cell point_random(Cell value, bool seed, bool secure, bool) {
    const int n = dimensions(value);
    if (seed) {
        const uint32_t words[3] = {value.w1, value.w2, value.w3};
        random::seed(hash::murmur3(words, static_cast<size_t>(n) * sizeof(uint32_t), 0));
        return cell::unset();
    }
    for (int i = 0; i < n; ++i) {
        const double c = coordinate(value, i);
        if (c != 0.0) set_coordinate(value, i, point::narrow(c * random::fraction(secure)));
    }
    return value;
}

}  // namespace

extern const ActionTable point2D_actions = {
    .make = point_make,
    .random = point_random,
    .to = point_make,
    .form = point_form,
    .mold = point_mold,
    .eval_path = point_eval_path,
    .compare = point::compare,
    .absolute = point_absolute,
    .add = point_math<math_add>,
    .divide = point_math<math_divide>,
    .multiply = point_math<math_multiply>,
    .negate = point_negate,
    .remainder = point_math<math_remainder>,
    .round = point_round,
    .subtract = point_math<math_subtract>,
    .pick = point_pick,
    .reverse = point_reverse,
};

extern const ActionTable point3D_actions = point2D_actions;

extern const type_traits::Traits point2D_traits = {.hash = type_traits::hash_w1_w2,
                                                   .same_words = type_traits::kW1 | type_traits::kW2};
extern const type_traits::Traits point3D_traits = {.hash = type_traits::hash_w1_w2_w3};

}  // namespace zub
