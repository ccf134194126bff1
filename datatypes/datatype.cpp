// datatype!: a value naming a type; its payload is the type id.
#include "datatypes/mold.h"
#include "datatypes/registry.h"
#include "runtime/type_traits.h"

namespace zub {
namespace {

TypeId denoted(const Cell& value) { return static_cast<TypeId>(value.w1); }

int32_t datatype_form(Cell value, NodeId out, int32_t limit) {
    const std::string_view name = registry::name(denoted(value));
    return mold::emit(out, name.substr(0, name.size() - 1), limit);
}

int32_t datatype_mold(Cell value, NodeId out, MoldFlags flags, int32_t limit) {
    if (!flags.all) return mold::emit(out, registry::name(denoted(value)), limit);
    limit = mold::emit(out, "#(", limit);
    limit = mold::emit(out, registry::name(denoted(value)), limit);
    return mold::emit(out, ")", limit);
}

// Equality only: datatypes have no order.
int32_t datatype_compare(Cell a, Cell b, int32_t op) {
    if (!equality_op(op)) return kNotComparable;
    return cell::is(b, TypeId::datatype) && a.w1 == b.w1 ? 0 : 1;
}

}  // namespace

extern const ActionTable datatype_actions = {
    .form = datatype_form,
    .mold = datatype_mold,
    .compare = datatype_compare,
};

extern const type_traits::Traits datatype_traits = {.same_words = type_traits::kW1};

}  // namespace zub
