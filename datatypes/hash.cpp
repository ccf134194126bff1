// hash!: a block made for lookups. It behaves as its parent block! in everything but its makers,
// its copy and its mold, which shows how to make it again ("make hash! [...]"); block!'s find,
// select and put go through its index (hash_block::synced_index).
#include "datatypes/hash.h"

#include "datatypes/block.h"
#include "datatypes/mold.h"
#include "datatypes/registry.h"
#include "evaluator/stack.h"
#include "runtime/cycles.h"
#include "runtime/error.h"
#include "runtime/hash_index.h"
#include "runtime/hashtable.h"
#include "runtime/series.h"

namespace zub {

namespace hash_block {

Cell index(Cell value) {
    const NodeId node = cell::series_node(value);
    const stack::Rooted keep(value);
    const uint32_t n = series::length(node);
    const NodeId table = hash_index::init(n, node, hashtable::Kind::hash);
    hashtable::table(table)->stamp = n;
    memory::buffer(node)->flags |= series_flag::indexed;
    value.w3 = table;
    return value;
}

NodeId synced_index(const Cell& value) {
    const NodeId table = value.w3;
    const NodeId node = cell::series_node(value);
    if (table == 0 || hashtable::table(table)->indexed != node) return 0;
    const uint32_t n = series::length(node);
    const uint32_t indexed = hashtable::table(table)->stamp;
    if (!(memory::buffer(node)->flags & series_flag::indexed) || indexed > n) {
        hash_index::rebuild(table, n);
    } else if (indexed < n) {
        // Only appends since the last lookup: index the new tail.
        hash_index::index_block(table, indexed, 1);
    } else {
        return table;
    }
    hashtable::table(table)->stamp = n;
    memory::buffer(node)->flags |= series_flag::indexed;
    return table;
}

void note_change(const Cell& value, words::Word action, int64_t index) {
    SeriesBuffer* b = memory::buffer(cell::series_node(value));
    switch (action) {
        case words::Word::append:
        case words::Word::insert:
        case words::Word::put:
            // Written at the tail: what is indexed stays where it is.
            if (index >= static_cast<int64_t>(b->used() / sizeof(Cell))) return;
            break;
        case words::Word::appended:
        case words::Word::inserted:
        case words::Word::put_ed:
            // Their first call decided; an owner's handler that changed more told of it itself.
            return;
        default: break;
    }
    b->flags &= ~series_flag::indexed;
}

}  // namespace hash_block

namespace {

// A number gives an empty hash! with room for that many values; a block-like spec a copy of its
// values from the head; anything else converts as `to` does.
Cell hash_make(TypeId type, Cell proto, Cell spec) {
    switch (cell::type(spec)) {
        case TypeId::integer:
        case TypeId::float_:
        case TypeId::percent: {
            const int32_t n = cell::to_int32_checked(spec);
            return hash_block::index(block::make(n < 1 ? 1 : static_cast<uint32_t>(n), TypeId::hash));
        }
        default: return hash_block::index(registry::actions(TypeId::block).to(type, proto, spec));
    }
}

Cell hash_to(TypeId, Cell, Cell value) { return hash_block::index(block::convert(TypeId::hash, value)); }

// block!'s copy gives a new block; a whole copy takes a copy of the index, any other a new one.
Cell hash_copy(Cell value, const CopyOptions& options) {
    const bool whole = cell::series_index(value) == 0 && !options.part && !options.deep && !options.types;
    const NodeId source = whole ? hash_block::synced_index(value) : 0;
    const stack::Rooted keep_source(value);
    Cell copy = registry::actions(TypeId::block).copy(value, options);
    cell::set_type(copy, TypeId::hash);
    if (source == 0) return hash_block::index(copy);
    const stack::Rooted keep_copy(copy);
    copy.w3 = hash_index::copy_table(source, cell::series_node(copy));
    memory::buffer(cell::series_node(copy))->flags |= series_flag::indexed;
    return copy;
}

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
    .copy = hash_copy,
};

extern const type_traits::Traits hash_traits = {
    .refs = {type_traits::Ref::none, type_traits::Ref::cells, type_traits::Ref::table},
    .hash = type_traits::hash_w1_w2,
    .same_words = type_traits::kW1 | type_traits::kW2,
    .key_words = type_traits::kW1 | type_traits::kW2,
    .cycle_marker = "[...]",
    .copies = true};

}  // namespace zub
