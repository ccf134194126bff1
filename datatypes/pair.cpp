// pair!: a two-dimensional integer coordinate. It computes coordinate by coordinate with integer!
// arithmetic and turns into a point2D! when a float factor, an overflow or a division that is not
// exact makes integers unsuitable.
#include "datatypes/pair.h"

#include <cmath>

#include "datatypes/float.h"
#include "datatypes/mold.h"
#include "datatypes/point.h"
#include "datatypes/registry.h"
#include "evaluator/words.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/series.h"
#include "runtime/type_traits.h"
#include "system/random.h"

namespace zub {
namespace pair {

Cell to_point2D(const Cell& p) { return point::make2(static_cast<float>(x(p)), static_cast<float>(y(p))); }

namespace {

// A float truncated toward zero, for the operations that take it as an integer; one that no
// 32-bit integer holds raises script invalid-arg with the operand.
int32_t truncated(const Cell& operand) {
    const double t = std::trunc(cell::as_float(operand));
    if (!(t >= -2147483648.0 && t <= 2147483647.0)) error::fire(ErrorId::invalid_arg, operand);
    return static_cast<int32_t>(t);
}

}  // namespace

Cell do_math(Cell a, Cell b, MathOp op) {
    int32_t bx, by;
    Cell scalar = b;  // the right operand as the point2D! arithmetic takes it
    switch (cell::type(b)) {
        case TypeId::integer: bx = by = cell::as_integer(b); break;
        case TypeId::float_:
        case TypeId::percent: {
            const double f = cell::as_float(b);
            if (op == math_multiply || op == math_divide) {
                if (op == math_multiply ? !std::isfinite(f) : std::isnan(f)) error::fire(ErrorId::invalid_arg, b);
                const double fx = x(a), fy = y(a);
                return op == math_multiply ? point::make2(point::narrow(fx * f), point::narrow(fy * f))
                                           : point::make2(point::narrow(fx / f), point::narrow(fy / f));
            }
            bx = by = truncated(b);
            scalar = cell::integer(bx);
            break;
        }
        case TypeId::pair:
            bx = x(b);
            by = y(b);
            break;
        case TypeId::point2D:
            if (op > math_remainder) error::fire(ErrorId::invalid_type, cell::datatype_of(TypeId::point2D));
            return point::do_math(to_point2D(a), b, op);
        default: error::fire(ErrorId::invalid_type, cell::datatype_of(cell::type(b)));
    }
    const Cell rx = integer::math_op(x(a), bx, op, true);
    const Cell ry = integer::math_op(y(a), by, op, true);
    if (cell::is(rx, TypeId::integer) && cell::is(ry, TypeId::integer))
        return make(cell::as_integer(rx), cell::as_integer(ry));
    // Only add, subtract, multiply and divide leave the integers; the bitwise ones never do.
    return point::do_math(to_point2D(a), scalar, op);
}

}  // namespace pair

namespace {

[[noreturn]] void raise_bad_make(const Cell& spec) {
    error::fire(ErrorId::bad_to_arg, cell::datatype_of(TypeId::pair), spec);
}

// A coordinate from an integer, or a finite float truncated toward zero that fits 32 bits.
bool coordinate_of(const Cell& v, int32_t& out) {
    if (cell::is(v, TypeId::integer)) {
        out = cell::as_integer(v);
        return true;
    }
    if (!cell::is(v, TypeId::float_)) return false;
    const double t = std::trunc(cell::as_float(v));
    if (!(t >= -2147483648.0 && t <= 2147483647.0)) return false;
    out = static_cast<int32_t>(t);
    return true;
}

// make and to are one operation.
Cell pair_make(TypeId, Cell, Cell spec) {
    int32_t x, y;
    switch (cell::type(spec)) {
        case TypeId::integer: return pair::make(cell::as_integer(spec), cell::as_integer(spec));
        case TypeId::float_:
            if (!coordinate_of(spec, x)) error::fire(ErrorId::invalid_arg, spec);
            return pair::make(x, x);
        case TypeId::pair: return spec;
        case TypeId::point2D: {
            const Cell fx = cell::floating(point::coordinate(spec, 0));
            const Cell fy = cell::floating(point::coordinate(spec, 1));
            if (!coordinate_of(fx, x) || !coordinate_of(fy, y)) error::fire(ErrorId::invalid_arg, spec);
            return pair::make(x, y);
        }
        case TypeId::block: {
            SeriesBuffer* b = memory::buffer(cell::series_node(spec));
            const uint32_t index = cell::series_index(spec);
            const uint32_t count = b->used() / sizeof(Cell);
            if (index >= count || count - index < 2 || !coordinate_of(b->cells()[index], x) ||
                !coordinate_of(b->cells()[index + 1], y))
                error::fire(ErrorId::malconstruct, spec);
            return pair::make(x, y);
        }
        case TypeId::string: return point::load_one(TypeId::pair, spec);
        default: raise_bad_make(spec);
    }
}

int32_t pair_form(Cell value, NodeId out, int32_t limit) {
    limit = mold::emit(out, integer::form_signed(pair::x(value)).view(), limit);
    limit = mold::emit(out, "x", limit);
    return mold::emit(out, integer::form_signed(pair::y(value)).view(), limit);
}

int32_t pair_mold(Cell value, NodeId out, MoldFlags, int32_t limit) { return pair_form(value, out, limit); }

// 1 or 2 for an integer or the words x and y; 0 for any other integer or word, -1 for any other
// selector.
int field_of(const Cell& selector) {
    if (cell::is(selector, TypeId::integer)) {
        const int32_t k = cell::as_integer(selector);
        return k == 1 || k == 2 ? k : 0;
    }
    if (!cell::is(selector, TypeId::word)) return -1;
    const symbol::Id id = symbol::resolve(selector.w2);
    if (id == symbol::resolve(words::id(words::Word::x))) return 1;
    if (id == symbol::resolve(words::id(words::Word::y))) return 2;
    return 0;
}

// Reading gives the coordinate; writing gives the whole new pair, which the path's evaluator
// stores where the pair came from.
Cell pair_eval_path(Cell parent, Cell element, const PathStep& step) {
    const int field = field_of(element);
    if (field <= 0) {
        if (cell::is(element, TypeId::word)) error::fire(ErrorId::cannot_use, parent, element);
        error::fire(ErrorId::invalid_path, step.path, element);
    }
    if (!step.set_value) return cell::integer(field == 1 ? pair::x(parent) : pair::y(parent));
    const Cell v = *step.set_value;
    if (!cell::is(v, TypeId::integer)) error::fire(ErrorId::invalid_type, cell::datatype_of(cell::type(v)));
    if (field == 1) parent.w2 = v.w2;
    else parent.w3 = v.w2;
    return parent;
}

Cell pair_pick(Cell value, int32_t index, Cell index_value) {
    const int field = cell::is(index_value, TypeId::word) ? field_of(index_value)
                      : index == 1 || index == 2          ? index
                                                          : 0;
    if (field <= 0) error::fire(ErrorId::out_of_range, index_value);
    return cell::integer(field == 1 ? pair::x(value) : pair::y(value));
}

// A point2D! on the right compares the pair as a point2D!; x decides, then y.
int32_t pair_compare(Cell a, Cell b, int32_t op) {
    const bool exact = op == op_strict_equal || op == op_same || op == op_find;
    if (cell::is(b, TypeId::point2D) && !exact) return point::compare(pair::to_point2D(a), b, op);
    if (!cell::is(b, TypeId::pair)) return exact ? 1 : kNotComparable;
    const int32_t ax = pair::x(a), bx = pair::x(b), ay = pair::y(a), by = pair::y(b);
    if (ax != bx) return ax < bx ? -1 : 1;
    if (ay != by) return ay < by ? -1 : 1;
    return 0;
}

template <MathOp op>
Cell pair_math(Cell a, Cell b) {
    return pair::do_math(a, b, op);
}

// The checked absolute value: the most negative integer has none.
Cell pair_absolute(Cell value) {
    const int32_t x = pair::x(value), y = pair::y(value);
    if (x == INT32_MIN || y == INT32_MIN) error::fire(ErrorId::overflow);
    return pair::make(x < 0 ? -x : x, y < 0 ? -y : y);
}

// The most negative integer has no negation in 32 bits: math overflow, as for integer!, rather
// than a pair that silently keeps its sign.
Cell pair_negate(Cell value) {
    const int32_t x = pair::x(value), y = pair::y(value);
    if (x == INT32_MIN || y == INT32_MIN) error::fire(ErrorId::overflow);
    return pair::make(-x, -y);
}

Cell pair_reverse(Cell value, const Cell*, const Cell*) { return pair::make(pair::y(value), pair::x(value)); }

// Each coordinate by integer! round; a float result is truncated back to an integer.
Cell pair_round(Cell value, const RoundOptions& options) {
    const RoundFn round = registry::actions(TypeId::integer).round;
    Cell scales[2];
    const Cell* to[2] = {options.to, options.to};
    if (options.to) {
        switch (cell::type(*options.to)) {
            case TypeId::money: integer::raise_not_related(Slot::round, TypeId::money);
            case TypeId::pair:
                scales[0] = cell::integer(pair::x(*options.to));
                scales[1] = cell::integer(pair::y(*options.to));
                to[0] = &scales[0];
                to[1] = &scales[1];
                break;
            default: break;
        }
    }
    int32_t c[2] = {pair::x(value), pair::y(value)};
    for (int i = 0; i < 2; ++i) {
        RoundOptions o = options;
        o.to = to[i];
        const Cell r = round(cell::integer(c[i]), o);
        c[i] = cell::is(r, TypeId::integer) ? cell::as_integer(r) : integer::from_float(std::trunc(cell::as_float(r)));
    }
    return pair::make(c[0], c[1]);
}

// Each non-zero coordinate becomes a random integer over it; zero stays zero.
Cell pair_random(Cell value, bool seed, bool secure, bool) {
    if (seed) {
        random::seed(value.w2 ^ value.w3);
        return cell::unset();
    }
    const int32_t x = pair::x(value), y = pair::y(value);
    return pair::make(x == 0 ? 0 : random::int_range(secure, x), y == 0 ? 0 : random::int_range(secure, y));
}

}  // namespace

extern const ActionTable pair_actions = {
    .make = pair_make,
    .random = pair_random,
    .to = pair_make,
    .form = pair_form,
    .mold = pair_mold,
    .eval_path = pair_eval_path,
    .compare = pair_compare,
    .absolute = pair_absolute,
    .add = pair_math<math_add>,
    .divide = pair_math<math_divide>,
    .multiply = pair_math<math_multiply>,
    .negate = pair_negate,
    .remainder = pair_math<math_remainder>,
    .round = pair_round,
    .subtract = pair_math<math_subtract>,
    .and_ = pair_math<math_and>,
    .or_ = pair_math<math_or>,
    .xor_ = pair_math<math_xor>,
    .pick = pair_pick,
    .reverse = pair_reverse,
};

extern const type_traits::Traits pair_traits = {.hash = type_traits::hash_w2_w3,
                                                .same_words = type_traits::kW2 | type_traits::kW3};

}  // namespace zub
