// none!: the absence of a value. Series actions on none answer none, so code can chain them.
#include "datatypes/mold.h"
#include "datatypes/registry.h"
#include "runtime/type_traits.h"

namespace zub {
namespace {

Cell none_make(TypeId, Cell, Cell) { return cell::none(); }

int32_t none_form(Cell, NodeId out, int32_t limit) { return mold::emit(out, "none", limit); }

int32_t none_mold(Cell, NodeId out, MoldFlags flags, int32_t limit) {
    return mold::emit(out, flags.all ? "#(none)" : "none", limit);
}

int32_t none_compare(Cell, Cell b, int32_t op) {
    return cell::is(b, TypeId::none) && unordered_op(op) ? 0 : kNotComparable;
}

Cell none_unary(Cell) { return cell::none(); }
Cell none_find(Cell, Cell, const FindOptions&) { return cell::none(); }
int32_t none_length(Cell) { return -1; }
Cell none_remove(Cell, const Cell*, const Cell*) { return cell::none(); }
Cell none_take(Cell, const Cell*, bool, bool) { return cell::none(); }

}  // namespace

extern const ActionTable none_actions = {
    .make = none_make,
    .to = none_make,
    .form = none_form,
    .mold = none_mold,
    .compare = none_compare,
    .clear = none_unary,
    .find = none_find,
    .length_q = none_length,
    .remove = none_remove,
    .select = none_find,
    .take = none_take,
};

extern const type_traits::Traits none_traits = {
    .hash = [](const Cell&) -> uint32_t { return 0xFFFFFFFF; },
    .same_words = 0,
};

}  // namespace zub
