// unset!: the value of a word that has none; forms as nothing.
#include "datatypes/mold.h"
#include "datatypes/registry.h"
#include "runtime/type_traits.h"

namespace zub {
namespace {

Cell unset_make(TypeId, Cell, Cell) { return cell::unset(); }

int32_t unset_form(Cell, NodeId, int32_t limit) { return limit; }

int32_t unset_mold(Cell, NodeId out, MoldFlags flags, int32_t limit) {
    return mold::emit(out, flags.all ? "#(unset)" : "unset", limit);
}

int32_t unset_compare(Cell, Cell b, int32_t op) {
    return cell::is(b, TypeId::unset) && unordered_op(op) ? 0 : kNotComparable;
}

}  // namespace

extern const ActionTable unset_actions = {
    .make = unset_make,
    .to = unset_make,
    .form = unset_form,
    .mold = unset_mold,
    .compare = unset_compare,
};

extern const type_traits::Traits unset_traits = {
    .hash = [](const Cell&) -> uint32_t { return 0xFFFFFFFE; },
    .same_words = 0,
};

}  // namespace zub
