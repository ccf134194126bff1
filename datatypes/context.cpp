// Word tables hash the canonical symbol id, so any spelling of a word costs one probe sequence;
// a word then caches its index and reaches its value with one indexed load.
#include "datatypes/context.h"

#include <algorithm>

#include "datatypes/actions.h"
#include "evaluator/stack.h"
#include "evaluator/words.h"
#include "runtime/collector.h"
#include "runtime/cycles.h"
#include "runtime/error.h"
#include "runtime/hash.h"
#include "runtime/hashtable.h"
#include "runtime/memory.h"
#include "runtime/series.h"
#include "runtime/type_traits.h"

namespace zub::context {

ValuesEntry g_values_cache[kValuesCache];
Found g_found[kFound];
namespace {

NodeId g_global = 0;
ChangeHook g_change_hook = nullptr;

uint32_t word_hash(symbol::Id symbol) { return hash::fmix32(symbol::resolve(symbol)); }

NodeId table_of(NodeId context) { return cell_of(context).w1; }

Cell* words(NodeId context) { return memory::buffer(words_block(context))->cells(); }

// Binding reaches every word but issue!, which names no value.
bool is_bindable_word(TypeId t) { return t != TypeId::issue && type_group::in(type_group::all_word, t); }

// Appends a word for a symbol the table lacks and returns its index.
uint32_t add_new_word(NodeId context, symbol::Id symbol) {
    const NodeId table = table_of(context);
    hashtable::grow_positions(table, [context](uint32_t position) { return word_hash(words(context)[position].w2); });
    const uint32_t index = word_count(context);
    series::append_cell(words_block(context), cell::make(TypeId::word, context, symbol, index));
    uint32_t bucket;
    hashtable::find_position(
        table, word_hash(symbol), [](uint32_t) { return false; }, &bucket);
    hashtable::add_position(table, bucket, index);
    if (!values_on_stack(context)) series::append_cell(cell_of(context).w2, cell::unset());
    return index;
}

}  // namespace

void init() {
    std::fill(std::begin(g_values_cache), std::end(g_values_cache), ValuesEntry{});  // a runtime's nodes start over
    std::fill(std::begin(g_found), std::end(g_found), Found{});
    g_global = create(4000, false, false, 0, Kind::plain);
    collector::add_root(&g_global);
}

NodeId global() { return g_global; }

void fill_entry(ValuesEntry& e, NodeId context) {
    Cell& c = cell_of(context);
    e = ValuesEntry{
        context, memory::g_moves, &c,
        c.header & cell_flag::stack_values ? stack::values_at(values_of(c)) : memory::buffer(values_of(c))->cells(),
        (c.header & cell_flag::context_kind) == static_cast<uint32_t>(Kind::object) << kKindShift};
}

Kind kind_of(NodeId context) {
    return static_cast<Kind>((cell_of(context).header & cell_flag::context_kind) >> kKindShift);
}
bool values_on_stack(NodeId context) { return cell_of(context).header & cell_flag::stack_values; }
NodeId words_block(NodeId context) { return hashtable::table(table_of(context))->indexed; }
uint32_t word_count(NodeId context) { return series::length(words_block(context)); }
Cell& word_at(NodeId context, uint32_t index) { return words(context)[index]; }

NodeId create(uint32_t size, bool on_stack, bool object_flag, NodeId source, Kind kind) {
    collector::Guard guard;  // the parts live only in locals until the context cell holds them
    if (size == 0) size = 1;
    const NodeId node = memory::alloc_cells(2);
    const NodeId block = memory::alloc_cells(size);
    const NodeId table = hashtable::init_positions(size, hashtable::Kind::symbols, block);
    const NodeId values = on_stack ? 0 : memory::alloc_unset_cells(size);

    uint32_t header = static_cast<uint32_t>(TypeId::context) | static_cast<uint32_t>(kind) << kKindShift;
    if (on_stack) header |= cell_flag::stack_values;
    if (object_flag) header |= cell_flag::object_context;
    series::append_cell(node, Cell{header, table, values, 0});
    series::append_cell(node, cell::unset());

    if (source) {
        const uint32_t n = word_count(source);
        for (uint32_t i = 0; i < n; ++i) {
            const Cell word = word_at(source, i);
            series::append_cell(block, word);
            uint32_t bucket;
            hashtable::find_position(
                table, word_hash(word.w2), [](uint32_t) { return false; }, &bucket);
            hashtable::add_position(table, bucket, i);
        }
        if (values) memory::buffer(values)->tail = n * sizeof(Cell);
    }
    return node;
}

NodeId make_from_spec(Cell spec, bool on_stack, bool object_flag, Kind kind) {
    const NodeId items = cell::series_node(spec);
    const uint32_t first = cell::series_index(spec);
    const uint32_t count = series::length(items);
    const NodeId context = create(count > first ? count - first : 0, on_stack, object_flag, 0, kind);
    collector::Guard guard;  // the new context is held only here
    for (uint32_t i = first; i < series::length(items); ++i) {
        const Cell item = memory::buffer(items)->cells()[i];
        const TypeId t = cell::type(item);
        if (t == TypeId::word || t == TypeId::get_word || t == TypeId::lit_word || t == TypeId::refinement)
            find_or_add_word(context, item.w2);
    }
    return context;
}

NodeId renew(Cell& value, Kind kind) {
    const NodeId old = value.w1;
    const Cell old_cell = cell_of(old);
    const NodeId fresh = create(word_count(old), old_cell.header & cell_flag::stack_values,
                                old_cell.header & cell_flag::object_context, old, kind);
    const uint32_t n = word_count(fresh);
    for (uint32_t i = 0; i < n; ++i) word_at(fresh, i).w1 = fresh;
    value.w1 = fresh;
    return fresh;
}

namespace {

int32_t search_word(NodeId context, symbol::Id symbol, bool canonical) {
    const symbol::Id wanted = canonical ? symbol::resolve(symbol) : symbol;
    const Cell* list = words(context);
    uint32_t bucket;
    const int64_t found = hashtable::find_position(
        table_of(context), word_hash(symbol),
        [&](uint32_t position) {
            const symbol::Id stored = list[position].w2;
            return (canonical ? symbol::resolve(stored) : stored) == wanted;
        },
        &bucket);
    return static_cast<int32_t>(found);
}

}  // namespace

int32_t search_and_keep(NodeId context, symbol::Id symbol, bool canonical) {
    if (!canonical) return search_word(context, symbol, false);
    Found& e = found_place(context, symbol);
    const int32_t index = search_word(context, symbol, true);
    if (index >= 0) e = Found{context, symbol, memory::g_moves, index};  // an absent word may come later
    return index;
}

uint32_t find_or_add_word(NodeId context, symbol::Id symbol) {
    const int32_t index = find_word(context, symbol, true);
    return index >= 0 ? static_cast<uint32_t>(index) : add_new_word(context, symbol);
}

Cell add_global_word(symbol::Id symbol) {
    const uint32_t index = find_or_add_word(g_global, symbol);
    Cell word = word_at(g_global, index);
    word.w2 = symbol;  // a case variant keeps its spelling, shares the value
    return word;
}

void put_word_value(NodeId context, symbol::Id symbol, Cell value) {
    const uint32_t index = find_or_add_word(context, symbol);
    if (Cell* slot = value_at(context, index)) *slot = value;
}

void add_word_value(NodeId context, symbol::Id symbol, Cell value) {
    if (find_word(context, symbol, true) >= 0) return;
    put_word_value(context, symbol, value);
}

bool collect_set_words(NodeId context, Cell block) {
    const NodeId items = cell::series_node(block);
    const uint32_t before = word_count(context);
    for (uint32_t i = cell::series_index(block); i < series::length(items); ++i) {
        const Cell item = memory::buffer(items)->cells()[i];
        if (cell::is(item, TypeId::set_word)) find_or_add_word(context, item.w2);
    }
    return word_count(context) > before;
}

Cell* value_at(NodeId context, uint32_t index) {
    const Cell& c = cell_of(context);
    if (c.header & cell_flag::stack_values) return c.w2 ? &stack::at(c.w2 - 1 + index) : nullptr;
    return memory::buffer(c.w2)->cells() + index;
}

int32_t bind_word(NodeId context, Cell& word) {
    const int32_t index = find_word(context, word.w2, true);
    if (index >= 0) {
        word.w1 = context;
        word.w3 = static_cast<uint32_t>(index);
    }
    return index;
}

void bind_block(Cell block, NodeId context, bool self) {
    const NodeId items = cell::series_node(block);
    if (cycles::find(items)) return;
    cycles::Guard guard(items);
    const symbol::Id self_symbol = words::id(words::Word::self);
    SeriesBuffer* b = memory::buffer(items);
    Cell* cells = reinterpret_cast<Cell*>(b->data());
    const uint32_t end = b->tail / sizeof(Cell);
    for (uint32_t i = b->head / sizeof(Cell); i < end; ++i) {
        Cell& item = cells[i];
        const TypeId t = cell::type(item);
        if (type_group::in(type_group::block_like, t)) {
            bind_block(item, context, self);
        } else if (is_bindable_word(t)) {
            if (self && t == TypeId::word && symbol::resolve(item.w2) == self_symbol) {
                item.w1 = context;
                item.w3 = kUnresolved;
            } else {
                bind_word(context, item);
            }
        }
    }
}

Cell* get_in(Cell word, NodeId context) {
    if (word.w3 == kUnresolved) {
        if (symbol::resolve(word.w2) == words::id(words::Word::self) && word.w1) return &owner_of(word.w1);
        error::fire(ErrorId::no_value, word);
    }
    Cell* slot = value_at(context, word.w3);
    if (!slot) error::fire(ErrorId::not_in_context, word);
    return slot;
}

Cell* set_in(Cell word, Cell value, NodeId context, bool notify) {
    uint32_t index = word.w3;
    if (index == kUnresolved) {
        const int32_t exact = find_word(context, word.w2, false);
        index = exact >= 0 ? static_cast<uint32_t>(exact) : find_or_add_word(context, word.w2);
    }
    return set_at(context, index, word, value, notify);
}

Cell* set_at(NodeId context, uint32_t index, Cell word, Cell value, bool notify) {
    Cell* slot = value_at(context, index);
    if (!slot) error::fire(ErrorId::not_defined, word);
    if (values_on_stack(context) || kind_of(context) != Kind::object) {
        *slot = value;
        return slot;
    }
    word_at(context, index).header |= cell_flag::word_set;
    const Cell owner = owner_of(context);
    if (notify && g_change_hook && cell::is(owner, TypeId::object) && owner.w3 != 0) {
        const Cell old = *slot;
        *slot = value;
        g_change_hook(owner, word, old, value);
        return value_at(context, index);  // the handler may have grown the context
    }
    *slot = value;
    return slot;
}

void set_change_hook(ChangeHook hook) { g_change_hook = hook; }

}  // namespace zub::context

namespace zub {

// context! has no actions of its own yet.
extern const ActionTable context_actions = {};
// A context's word table (w1) and its values (w2), unless they are on the evaluation stack.
extern const type_traits::Traits context_traits = {
    .refs = {type_traits::Ref::table, type_traits::Ref::cells, type_traits::Ref::none},
    .gate = type_traits::Gate::flag_clear,
    .gated = type_traits::kW2,
    .gate_flags = cell_flag::stack_values,
};

}  // namespace zub
