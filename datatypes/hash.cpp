// hash!: a block made for lookups. It behaves as its parent block! in everything but its makers
// and its mold, which shows how to make it again ("make hash! [...]"). Its searches are block!'s.
#include "datatypes/block.h"
#include "datatypes/mold.h"
#include "datatypes/registry.h"
#include "runtime/cycles.h"
#include "runtime/error.h"

namespace zub {
namespace {

// A number gives an empty hash! with room for that many values; a block-like spec a copy of its
// values from the head; anything else converts as `to` does.
Cell hash_make(TypeId type, Cell proto, Cell spec) {
    switch (cell::type(spec)) {
        case TypeId::integer:
        case TypeId::float_:
        case TypeId::percent: {
            const int32_t n = cell::to_int32_checked(spec);
            return block::make(n < 1 ? 1 : static_cast<uint32_t>(n), TypeId::hash);
        }
        default: return registry::actions(TypeId::block).to(type, proto, spec);
    }
}

Cell hash_to(TypeId, Cell, Cell value) { return block::convert(TypeId::hash, value); }

int32_t hash_mold(Cell value, NodeId out, MoldFlags flags, int32_t limit) {
    if (flags.only) return block::mold(value, out, flags, limit);
    if (cycles::mold_marker(value, out, &limit, true)) return limit;
    limit = mold::emit(out, "make hash! ", limit);
    return block::mold(value, out, flags, limit);
}

}  // namespace

extern const ActionTable hash_actions = {
    .make = hash_make,
    .to = hash_to,
    .mold = hash_mold,
};

extern const type_traits::Traits hash_traits = {
    .refs = {type_traits::Ref::none, type_traits::Ref::cells, type_traits::Ref::table},
    .hash = type_traits::hash_w1_w2,
    .same_words = type_traits::kW1 | type_traits::kW2,
    .key_words = type_traits::kW1 | type_traits::kW2,
    .cycle_marker = "[...]",
    .copies = true};

}  // namespace zub
