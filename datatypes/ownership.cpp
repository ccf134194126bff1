// The table is a record table keyed by series node: value, owner object, field word. The owned
// flag on a buffer (or, for image!, on the cell) lets a walk skip series already recorded.
#include "datatypes/ownership.h"
#include "runtime/collector.h"

#include "datatypes/context.h"
#include "runtime/cycles.h"
#include "runtime/hashtable.h"
#include "runtime/memory.h"
#include "runtime/series.h"

namespace zub::ownership {
namespace {

NodeId g_table = 0;
Notify g_notify = nullptr;

bool walks_cells(TypeId type) { return type_group::in(type_group::block_like, type); }

void mark_owned(Cell& value, bool on) {
    if (cell::is(value, TypeId::image)) {
        value.header = on ? value.header | kImageOwned : value.header & ~kImageOwned;
        return;
    }
    SeriesBuffer* b = memory::buffer(value.w2);
    b->flags = on ? b->flags | series_flag::owned : b->flags & ~series_flag::owned;
}

}  // namespace

void init() {
    g_table = hashtable::init_records(1000, hashtable::Kind::ownership, 3);
    g_notify = nullptr;
    collector::add_root(&g_table, collector::RootKind::table);
    collector::set_weak_records(&g_table);
}

NodeId table() { return g_table; }

bool owned_kind(TypeId type) { return type_group::in(type_group::series | type_group::bit(TypeId::bitset), type); }

// An object's fields are walked with the object's own words as fields; a field holding the owner
// itself is skipped. An object that owns its series itself is left to its own records.
template <typename Visit>
void walk_object(const Cell& object, Visit visit) {
    const NodeId ctx = object.w1;
    if ((context::cell_of(ctx).header & cell_flag::owns_series) || cycles::find(ctx)) return;
    cycles::Guard guard(ctx);
    for (uint32_t i = 0; i < context::word_count(ctx); ++i) {
        const Cell* slot = context::value_at(ctx, i);
        if (!slot) return;
        const Cell field_value = *slot;
        visit(field_value, context::word_at(ctx, i));  // may allocate: nothing is kept across it
    }
}

namespace {

// With own words an object's fields are recorded under the object's words; without, everything
// nested is recorded under the one field word that holds it.
template <bool kOwnWords>
void record(Cell value, Cell owner, Cell field) {
    const TypeId type = cell::type(value);
    if (type == TypeId::object) {
        walk_object(value, [&](const Cell& field_value, const Cell& word) {
            if (!(cell::is(field_value, TypeId::object) && field_value.w1 == owner.w1))
                record<kOwnWords>(field_value, owner, kOwnWords ? word : field);
        });
        return;
    }
    if (!owned_kind(type) || value.w2 == 0) return;
    const NodeId node = value.w2;
    if (!is_owned(value)) {
        mark_owned(value, true);
        Cell* entry = hashtable::put(g_table, node);
        entry[0] = value;
        entry[1] = owner;
        entry[2] = field;
    }
    if (!walks_cells(type) || cycles::find(node)) return;
    cycles::Guard guard(node);
    for (uint32_t i = cell::series_index(value); i < series::length(node); ++i)
        record<kOwnWords>(memory::buffer(node)->cells()[i], owner, field);  // re-read: recording may allocate
}

}  // namespace

void set(Cell value, Cell owner, Cell field) { record<true>(value, owner, field); }

void set_in_field(Cell value, Cell owner, Cell field) { record<false>(value, owner, field); }

void set_and_mark_owner(Cell value, Cell owner, Cell field) {
    // An object owning its own series: each field's series, however deep, report that field, the
    // one word its handler can know.
    if (cell::is(value, TypeId::object) && value.w1 == owner.w1) {
        walk_object(value, [&](const Cell& field_value, const Cell& word) {
            if (!(cell::is(field_value, TypeId::object) && field_value.w1 == owner.w1))
                record<false>(field_value, owner, word);
        });
    } else {
        set(value, owner, field);
    }
    context::cell_of(owner.w1).header |= cell_flag::owns_series;
}

void unset(Cell value) {
    const TypeId type = cell::type(value);
    if (type == TypeId::object) {
        walk_object(value, [](const Cell& field_value, const Cell&) { unset(field_value); });
        return;
    }
    if (!owned_kind(type) || value.w2 == 0) return;
    mark_owned(value, false);
    Cell* record = hashtable::get(g_table, value.w2);
    if (!record) return;
    record[0] = record[1] = record[2] = cell::unset();
    hashtable::remove(g_table, value.w2);
    // The record is gone before the walk, so a block holding itself ends it.
    if (walks_cells(type)) unset_range(value.w2, cell::series_index(value), series::kToTail);
}

void unset_range(NodeId block, uint32_t index, uint32_t count) {
    for (uint32_t i = index; i < series::length(block) && i - index < count; ++i)
        unset(memory::buffer(block)->cells()[i]);
}

const Cell* owner_of(NodeId series) {
    const Cell* record = hashtable::get(g_table, series);
    return record ? record + 1 : nullptr;
}

void set_notify(Notify notify) { g_notify = notify; }

bool check(Cell value, Cell action, int32_t index, int32_t part) {
    if (!owned_kind(cell::type(value)) || value.w2 == 0) return false;
    const Cell* record = hashtable::get(g_table, value.w2);
    if (!record || record[1].w3 == 0 || !g_notify) return false;
    const Cell owner = record[1];
    const Cell field = record[2];
    g_notify(owner, field, value, action, index, part);
    return true;
}

}  // namespace zub::ownership
