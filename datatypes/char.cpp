// char!: a Unicode code point. It inherits integer!'s absolute, even? and odd?; its arithmetic
// runs on the integer core and must stay an exact code point, and its mold escapes what a reader
// could not see or would misread.
#include "datatypes/char.h"

#include "datatypes/mold.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/series.h"
#include "runtime/type_traits.h"
#include "runtime/unicode.h"

namespace zub {
namespace char_ {

Cell do_math(Cell a, Cell b, MathOp op) {
    int32_t right;
    switch (cell::type(b)) {
        case TypeId::char_:
        case TypeId::integer: right = cell::as_integer(b); break;
        case TypeId::float_: {
            // Truncated toward zero; a float beyond the 32-bit range could only give a result
            // outside the code points, so it is refused before the conversion.
            const double d = cell::as_float(b);
            if (!(d > -2147483649.0 && d < 2147483648.0)) error::fire(ErrorId::overflow);
            right = static_cast<int32_t>(d);
            break;
        }
        case TypeId::vector: return integer::hand_over(TypeId::vector, op, a, b);
        default: error::fire(ErrorId::invalid_type, cell::datatype_of(cell::type(b)));
    }
    const Cell result = integer::math_op(cell::as_integer(a), right, op, false);
    if (!cell::is(result, TypeId::integer)) error::fire(ErrorId::overflow);
    const int32_t cp = cell::as_integer(result);
    if (cp < 0 || cp > static_cast<int32_t>(kMaxCodePoint)) error::fire(ErrorId::overflow);
    return cell::character(static_cast<uint32_t>(cp));
}

}  // namespace char_

namespace {

Cell checked_code_point(int64_t value, const Cell& spec) {
    if (value < 0 || value > char_::kMaxCodePoint) error::fire(ErrorId::out_of_range, spec);
    return cell::character(static_cast<uint32_t>(value));
}

// Text and binary values are read from their position, not from the buffer's head.
Cell char_make(TypeId, Cell, Cell spec) {
    switch (cell::type(spec)) {
        case TypeId::char_:
        case TypeId::integer: return checked_code_point(cell::as_integer(spec), spec);
        case TypeId::float_:
        case TypeId::percent: {
            // The range is checked on the double, before any conversion.
            const double d = cell::as_float(spec);
            if (!(d > -1.0 && d < static_cast<double>(char_::kMaxCodePoint) + 1.0))
                error::fire(ErrorId::out_of_range, spec);
            return cell::character(static_cast<uint32_t>(d));
        }
        case TypeId::binary: {
            SeriesBuffer* b = memory::buffer(cell::series_node(spec));
            const uint32_t index = cell::series_index(spec);
            uint32_t available = index < b->used() ? b->used() - index : 0;
            if (available == 0) error::fire(ErrorId::bad_to_arg, cell::datatype_of(TypeId::char_), spec);
            const int32_t cp = unicode::decode_utf8_checked(b->head_ptr() + index, available);
            if (cp < 0) error::fire(ErrorId::invalid_utf8, spec);  // cut short by the end
            return cell::character(static_cast<uint32_t>(cp));
        }
        default:
            if (!string::is_text(cell::type(spec)) || string::rs_tail(spec))
                error::fire(ErrorId::bad_to_arg, cell::datatype_of(TypeId::char_), spec);
            return cell::character(string::char_at(cell::series_node(spec), cell::series_index(spec)));
    }
}

int32_t char_form(Cell value, NodeId out, int32_t limit) {
    string::append_char(out, value.w2);
    return limit - 1;
}

// The escapes are string mold's, so a char reads back the way it would inside a string.
int32_t char_mold(Cell value, NodeId out, MoldFlags flags, int32_t limit) {
    limit = mold::emit(out, "#\"", limit);
    limit -= static_cast<int32_t>(string::append_escaped_char(out, value.w2, flags.all));
    return mold::emit(out, "\"", limit);
}

int32_t char_compare(Cell a, Cell b, int32_t op) {
    const TypeId right = cell::type(b);
    if ((op == op_strict_equal || op == op_same || op == op_find) && right != TypeId::char_) return 1;
    if (right != TypeId::char_ && right != TypeId::integer) return kNotComparable;
    const int32_t x = cell::as_integer(a), y = cell::as_integer(b);
    return (x > y) - (x < y);
}

template <MathOp op>
Cell char_math(Cell a, Cell b) {
    return char_::do_math(a, b, op);
}

}  // namespace

extern const ActionTable char_actions = {
    .make = char_make,
    .to = char_make,
    .form = char_form,
    .mold = char_mold,
    .compare = char_compare,
    .add = char_math<math_add>,
    .divide = char_math<math_divide>,
    .multiply = char_math<math_multiply>,
    .negate = unsupported::negate,
    .power = unsupported::power,
    .remainder = char_math<math_remainder>,
    .round = unsupported::round,
    .subtract = char_math<math_subtract>,
    .and_ = char_math<math_and>,
    .complement = unsupported::complement,
    .or_ = char_math<math_or>,
    .xor_ = char_math<math_xor>,
};

extern const type_traits::Traits char_traits = {.hash = type_traits::hash_w2_near, .same_words = type_traits::kW2};

}  // namespace zub
