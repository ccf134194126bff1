// tuple!: 3 to 12 unsigned bytes inside the cell (versions, addresses and, above all, colours).
// Arithmetic works byte by byte and holds every result byte to 0-255; the value is never changed
// in place, so paths and actions that "modify" it give the new tuple back.
#include "datatypes/tuple.h"

#include <algorithm>
#include <cmath>

#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/mold.h"
#include "datatypes/point.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "evaluator/part_skip.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/series.h"
#include "runtime/symbol.h"
#include "runtime/type_traits.h"
#include "system/random.h"

namespace zub {
namespace {

using Bytes = uint8_t[tuple::kMaxBytes];

// The byte count, never past the bytes a cell holds.
uint32_t counted(const Cell& t) { return std::min(tuple::count(t), tuple::kMaxBytes); }

[[noreturn]] void raise_bad_make(const Cell& spec) {
    error::fire(ErrorId::bad_to_arg, cell::datatype_of(TypeId::tuple), spec);
}

uint8_t clamp_int(int64_t v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }
uint8_t clamp_float(double v) {
    if (!(v > 0.0)) return 0;  // NaN included
    return v >= 255.0 ? 255 : static_cast<uint8_t>(v);
}

// A byte from an integer result, or from the float that an integer overflow gives: its sign says
// which end it went past.
uint8_t clamp_result(const Cell& r) {
    if (cell::is(r, TypeId::integer)) return clamp_int(cell::as_integer(r));
    return cell::as_float(r) > 0.0 ? 255 : 0;
}

Cell tuple_math(Cell a, Cell b, MathOp op) {
    Bytes x, y = {};
    tuple::bytes(a, x);
    uint32_t count = counted(a);
    switch (cell::type(b)) {
        case TypeId::integer: {
            const int32_t n = cell::as_integer(b);
            for (uint32_t i = 0; i < count; ++i) x[i] = clamp_result(integer::math_op(x[i], n, op, false));
            break;
        }
        case TypeId::float_:
        case TypeId::percent: {
            const double f = cell::as_float(b);
            for (uint32_t i = 0; i < count; ++i) x[i] = clamp_float(std::trunc(float_::math_op(x[i], f, op)));
            break;
        }
        case TypeId::tuple:
            tuple::bytes(b, y);
            count = std::max(count, counted(b));
            for (uint32_t i = 0; i < count; ++i) x[i] = clamp_result(integer::math_op(x[i], y[i], op, false));
            break;
        default: error::fire(ErrorId::invalid_type, cell::datatype_of(cell::type(b)));
    }
    return tuple::make(x, count);
}

template <MathOp op>
Cell tuple_op(Cell a, Cell b) {
    return tuple_math(a, b, op);
}

// A byte of a spec block: an integer, char or float (truncated) from 0 to 255.
bool byte_of(const Cell& v, uint8_t& out) {
    double d;
    switch (cell::type(v)) {
        case TypeId::integer:
        case TypeId::char_: d = cell::as_integer(v); break;
        case TypeId::float_: d = std::trunc(cell::as_float(v)); break;
        default: return false;
    }
    if (!(d >= 0.0 && d <= 255.0)) return false;
    out = static_cast<uint8_t>(d);
    return true;
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// 6 digits give 3 bytes and 8 give 4, two digits a byte; 3 digits give 3 bytes, each digit d the
// byte d * 17 (#F80 is 255.136.0).
Cell from_hex(const Cell& issue) {
    const std::string_view name = symbol::utf8(issue.w2);
    const size_t n = name.size();
    if (n != 3 && n != 6 && n != 8) error::fire(ErrorId::invalid_data, issue);
    Bytes out = {};
    for (size_t i = 0; i < n; ++i)
        if (hex_digit(name[i]) < 0) error::fire(ErrorId::invalid_data, issue);
    if (n == 3) {
        for (size_t i = 0; i < 3; ++i) out[i] = static_cast<uint8_t>(hex_digit(name[i]) * 17);
        return tuple::make(out, 3);
    }
    for (size_t i = 0; i < n / 2; ++i)
        out[i] = static_cast<uint8_t>(hex_digit(name[2 * i]) << 4 | hex_digit(name[2 * i + 1]));
    return tuple::make(out, static_cast<uint32_t>(n / 2));
}

Cell tuple_make(TypeId, Cell, Cell spec) {
    switch (cell::type(spec)) {
        case TypeId::tuple: return spec;
        case TypeId::block:
        case TypeId::paren:
        case TypeId::hash: {
            SeriesBuffer* b = memory::buffer(cell::series_node(spec));
            const uint32_t index = cell::series_index(spec);
            const uint32_t count = b->used() / sizeof(Cell);
            const uint32_t items = index < count ? count - index : 0;
            if (items > tuple::kMaxBytes) raise_bad_make(spec);
            Bytes out = {};
            for (uint32_t i = 0; i < items; ++i)
                if (!byte_of(b->cells()[index + i], out[i])) raise_bad_make(spec);
            return tuple::make(out, items);
        }
        case TypeId::issue: return from_hex(spec);
        case TypeId::binary: {
            SeriesBuffer* b = memory::buffer(cell::series_node(spec));
            const uint32_t index = cell::series_index(spec);
            const uint32_t items = index < b->used() ? std::min(b->used() - index, tuple::kMaxBytes) : 0;
            Bytes out = {};
            std::memcpy(out, b->head_ptr() + index, items);
            return tuple::make(out, items);
        }
        default:
            if (!string::is_text(cell::type(spec))) raise_bad_make(spec);
            return point::load_one(TypeId::tuple, spec);
    }
}

int32_t tuple_form(Cell value, NodeId out, int32_t limit) {
    Bytes b;
    tuple::bytes(value, b);
    for (uint32_t i = 0; i < counted(value); ++i) {
        if (i > 0) limit = mold::emit(out, ".", limit);
        limit = mold::emit(out, integer::form_signed(b[i]).view(), limit);
    }
    return limit;
}

int32_t tuple_mold(Cell value, NodeId out, MoldFlags, int32_t limit) { return tuple_form(value, out, limit); }

// Bytes from the first, a missing byte counting as 0: 1.2.3 equals 1.2.3.0. Strict equality
// also wants the same length, as mold tells the two apart.
int32_t tuple_compare(Cell a, Cell b, int32_t op) {
    if (!cell::is(b, TypeId::tuple)) {
        return op == op_strict_equal || op == op_same || op == op_find ? 1 : kNotComparable;
    }
    if ((op == op_strict_equal || op == op_same) && counted(a) != counted(b)) return 1;
    Bytes x, y;
    tuple::bytes(a, x);
    tuple::bytes(b, y);
    for (uint32_t i = 0; i < tuple::kMaxBytes; ++i)
        if (x[i] != y[i]) return x[i] < y[i] ? -1 : 1;
    return 0;
}

Cell tuple_pick(Cell value, int32_t index, Cell index_value) {
    if (index < 1 || static_cast<uint32_t>(index) > counted(value)) error::fire(ErrorId::out_of_range, index_value);
    Bytes b;
    tuple::bytes(value, b);
    return cell::integer(b[index - 1]);
}

// Reading gives the byte; writing gives the whole new tuple, which the path's evaluator stores
// where the tuple came from. none cuts the tuple before the index (never below 3 bytes).
Cell tuple_eval_path(Cell parent, Cell element, const PathStep& step) {
    if (!cell::is(element, TypeId::integer)) error::fire(ErrorId::invalid_path, step.path, element);
    const int32_t index = cell::as_integer(element);
    if (!step.set_value) return tuple_pick(parent, index, element);
    if (index < 1 || static_cast<uint32_t>(index) > counted(parent)) error::fire(ErrorId::out_of_range, element);
    const Cell v = *step.set_value;
    Bytes b;
    tuple::bytes(parent, b);
    if (cell::is(v, TypeId::integer)) {
        b[index - 1] = clamp_int(cell::as_integer(v));
        return tuple::make(b, counted(parent));
    }
    if (!cell::is(v, TypeId::none)) error::fire(ErrorId::invalid_type, cell::datatype_of(cell::type(v)));
    std::fill(b + index - 1, b + tuple::kMaxBytes, uint8_t{0});
    return tuple::make(b, static_cast<uint32_t>(index - 1));
}

int32_t tuple_length(Cell value) { return static_cast<int32_t>(counted(value)); }

Cell tuple_complement(Cell value) {
    Bytes b;
    tuple::bytes(value, b);
    for (uint32_t i = 0; i < counted(value); ++i) b[i] = static_cast<uint8_t>(~b[i]);
    return tuple::make(b, counted(value));
}

// /part limits the reversal to the first n bytes (an integer; at most the length); /skip reverses
// records of n bytes, which must cut the part into whole records, as for a series.
Cell tuple_reverse(Cell value, const Cell* part, const Cell* skip) {
    int64_t count = counted(value);
    if (part) {
        if (!cell::is(*part, TypeId::integer)) part_skip::refuse(words::Word::part, *part);
        const int32_t n = cell::as_integer(*part);
        if (n < 0) error::fire(ErrorId::out_of_range, *part);
        count = std::min<int64_t>(count, n);
    }
    const int32_t n = part_skip::step(skip);
    if (count < 1 || n == count) return value;
    if (skip) part_skip::records(*skip, count);
    Bytes b;
    tuple::bytes(value, b);
    for (int64_t low = 0, high = count - n; low < high; low += n, high -= n)
        std::swap_ranges(b + low, b + low + n, b + high);
    return tuple::make(b, counted(value));
}

// Each byte b becomes a random integer from 0 to b.
Cell tuple_random(Cell value, bool seed, bool secure, bool) {
    if (seed) {
        random::seed(value.w1 ^ value.w2 ^ value.w3);
        return cell::unset();
    }
    Bytes b;
    tuple::bytes(value, b);
    for (uint32_t i = 0; i < counted(value); ++i) b[i] = static_cast<uint8_t>(random::int_range(secure, b[i] + 1) - 1);
    return tuple::make(b, counted(value));
}

// Bytes past the count are kept zero, so equal bytes and counts are the same tuple.
bool tuple_same(const Cell& a, const Cell& b) {
    return counted(a) == counted(b) &&
           type_traits::words_equal(a, b, type_traits::kW1 | type_traits::kW2 | type_traits::kW3);
}

}  // namespace

extern const ActionTable tuple_actions = {
    .make = tuple_make,
    .random = tuple_random,
    .to = tuple_make,
    .form = tuple_form,
    .mold = tuple_mold,
    .eval_path = tuple_eval_path,
    .compare = tuple_compare,
    .add = tuple_op<math_add>,
    .divide = tuple_op<math_divide>,
    .multiply = tuple_op<math_multiply>,
    .remainder = tuple_op<math_remainder>,
    .subtract = tuple_op<math_subtract>,
    .and_ = tuple_op<math_and>,
    .complement = tuple_complement,
    .or_ = tuple_op<math_or>,
    .xor_ = tuple_op<math_xor>,
    .length_q = tuple_length,
    .pick = tuple_pick,
    .reverse = tuple_reverse,
};

// The whole payload, count left out: bytes past the count are zero, so 1.2.3 and 1.2.3.0, which
// are equal, hash alike.
extern const type_traits::Traits tuple_traits = {.hash = type_traits::hash_w1_w2_w3, .same = tuple_same};

}  // namespace zub
