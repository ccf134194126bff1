// logic!: true and false. Only none and false are false; make treats zero as false, to does not.
#include "datatypes/mold.h"
#include "datatypes/registry.h"
#include "runtime/type_traits.h"
#include "system/random.h"

namespace zub {
namespace {

Cell logic_to(TypeId, Cell, Cell spec) {
    if (cell::is(spec, TypeId::logic)) return cell::logic(cell::as_logic(spec));
    return cell::logic(!cell::is(spec, TypeId::none));
}

Cell logic_make(TypeId type, Cell proto, Cell spec) {
    switch (cell::type(spec)) {
        case TypeId::integer: return cell::logic(cell::as_integer(spec) != 0);
        case TypeId::float_:
        case TypeId::percent: return cell::logic(!(cell::as_float(spec) == 0.0));  // NaN is true
        default: return logic_to(type, proto, spec);
    }
}

int32_t logic_form(Cell value, NodeId out, int32_t limit) {
    return mold::emit(out, cell::as_logic(value) ? "true" : "false", limit);
}

int32_t logic_mold(Cell value, NodeId out, MoldFlags flags, int32_t limit) {
    if (!flags.all) return logic_form(value, out, limit);
    return mold::emit(out, cell::as_logic(value) ? "#(true)" : "#(false)", limit);
}

// Equality only; logic values have no order.
int32_t logic_compare(Cell a, Cell b, int32_t op) {
    if (!cell::is(b, TypeId::logic) || !unordered_op(op)) return kNotComparable;
    return static_cast<int32_t>(a.w1) - static_cast<int32_t>(b.w1);
}

// True for the upper half of the 31-bit draws.
Cell logic_random(Cell value, bool seed, bool secure, bool) {
    if (seed) {
        random::seed(value.w1);
        return cell::unset();
    }
    return cell::logic(random::draw(secure) > 0x3FFFFFFF);
}

Cell logic_complement(Cell value) { return cell::logic(!cell::as_logic(value)); }

// The bitwise actions share one body, like the integer ones.
template <Slot slot>
Cell logic_bitwise(Cell a, Cell b) {
    if (!cell::is(b, TypeId::logic)) raise_expect_arg(slot, b, 1);
    switch (slot) {
        case Slot::and_: return cell::logic(a.w1 & b.w1);
        case Slot::or_: return cell::logic(a.w1 | b.w1);
        default: return cell::logic(a.w1 ^ b.w1);
    }
}

}  // namespace

extern const ActionTable logic_actions = {
    .make = logic_make,
    .random = logic_random,
    .to = logic_to,
    .form = logic_form,
    .mold = logic_mold,
    .compare = logic_compare,
    .and_ = logic_bitwise<Slot::and_>,
    .complement = logic_complement,
    .or_ = logic_bitwise<Slot::or_>,
    .xor_ = logic_bitwise<Slot::xor_>,
};

extern const type_traits::Traits logic_traits = {.same_words = type_traits::kW1};

}  // namespace zub
