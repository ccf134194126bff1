// handle!: its text forms and comparison. Everything else integer! does (make, arithmetic,
// rounding ...) is refused: a handle is a name for an outside object, not a number.
#include "datatypes/handle.h"

#include "datatypes/actions.h"
#include "datatypes/mold.h"
#include "datatypes/string.h"
#include "runtime/handles.h"
#include "runtime/series.h"
#include "runtime/type_traits.h"

namespace zub {

namespace handle {

Cell make(int32_t entry) {
    return cell::make(TypeId::handle, handles::class_of(entry), static_cast<uint32_t>(entry) + 1,
                      static_cast<uint32_t>(entry));
}

}  // namespace handle

namespace {

// Eight upper-case hexadecimal digits and "h": 0012ABCDh.
int32_t handle_form(Cell value, NodeId out, int32_t limit) {
    const int32_t left = mold::emit(out, string::int_to_hex(static_cast<int32_t>(value.w2), false).view(), limit);
    return mold::emit(out, "h", left);
}

// Plain mold names the type only; mold/all adds the value and the class's name.
int32_t handle_mold(Cell value, NodeId out, MoldFlags flags, int32_t limit) {
    if (!flags.all) return mold::emit(out, "handle!", limit);
    limit = handle_form(value, out, mold::emit(out, "#[handle! ", limit));
    if (value.w1 >= 1) {
        limit = mold::emit(out, " ", limit);
        limit = mold::emit(out, handles::class_name(value.w1), limit);
    }
    return mold::emit(out, "]", limit);
}

// Handles compare their values as signed numbers. A handle is unequal to any other type, and has
// no order against one.
int32_t handle_compare(Cell a, Cell b, int32_t op) {
    if (!cell::is(b, TypeId::handle)) return unordered_op(op) ? 1 : kNotComparable;
    const auto x = static_cast<int32_t>(a.w2), y = static_cast<int32_t>(b.w2);
    return (x > y) - (x < y);
}

}  // namespace

extern const ActionTable handle_actions = {
    .make = unsupported::make,
    .random = unsupported::random,
    .to = unsupported::to,
    .form = handle_form,
    .mold = handle_mold,
    .compare = handle_compare,
    .absolute = unsupported::absolute,
    .add = unsupported::add,
    .divide = unsupported::divide,
    .multiply = unsupported::multiply,
    .negate = unsupported::negate,
    .power = unsupported::power,
    .remainder = unsupported::remainder,
    .round = unsupported::round,
    .subtract = unsupported::subtract,
    .even_q = unsupported::even_q,
    .odd_q = unsupported::odd_q,
    .and_ = unsupported::and_,
    .complement = unsupported::complement,
    .or_ = unsupported::or_,
    .xor_ = unsupported::xor_,
};

extern const type_traits::Traits handle_traits = {
    .refs = {type_traits::Ref::none, type_traits::Ref::none, type_traits::Ref::handle},
    .hash = type_traits::hash_w2,
    .same_words = type_traits::kW2,
    .key_words = type_traits::kW2,
};

}  // namespace zub
