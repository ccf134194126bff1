// map!: making, path access, put, select, find, remove, clear, copy, reflect, mold, form and
// compare, on the map! kind of the hash indexes (runtime/hash_index.h). The index keeps the bucket
// of a removed key; its live count is the map's length, kept here.
#include "datatypes/map.h"

#include <algorithm>

#include "datatypes/block.h"
#include "datatypes/mold.h"
#include "datatypes/registry.h"
#include "evaluator/actions.h"
#include "evaluator/part_skip.h"
#include "evaluator/stack.h"
#include "evaluator/words.h"
#include "runtime/cycles.h"
#include "runtime/error.h"
#include "runtime/hash_index.h"
#include "runtime/memory.h"
#include "runtime/series.h"

namespace zub {

namespace map {
namespace {

using hashtable::table;

NodeId entries_of(const Cell& map) { return map.w2; }
NodeId index_of(const Cell& map) { return map.w3; }
Cell* cells(NodeId block) { return memory::buffer(block)->cells(); }
uint32_t cell_count(NodeId block) { return series::length(block); }

bool is_dead(NodeId block, uint32_t key_at) { return cells(block)[key_at + 1].header == 0; }

// A key as lookups and results give it: set-words as words.
Cell shown_key(Cell key) {
    if (cell::is(key, TypeId::set_word)) cell::set_type(key, TypeId::word);
    cell::clear_new_line(key);
    return key;
}

int32_t rule_of(bool case_sensitive, bool same = false) {
    return same ? op_same : case_sensitive ? op_strict_equal : op_equal;
}

// The key's position in the entry block, live or removed; -1 when absent.
int32_t lookup(const Cell& map, const Cell& key, int32_t rule) {
    hash_index::Find how;
    how.rule = rule;
    return hash_index::find(index_of(map), key, how);
}

// The position of the key's live entry, or -1.
int32_t live_entry(const Cell& map, const Cell& key, int32_t rule) {
    const int32_t at = lookup(map, key, rule);
    return at >= 0 && !is_dead(entries_of(map), static_cast<uint32_t>(at)) ? at : -1;
}

// Before a new key is indexed: when the index has no free bucket left and fewer than half its
// buckets hold live keys, the removed entries leave the block and the index is rebuilt at the
// same size; else it doubles. Removed keys keep their buckets, so without this a map that churns
// through distinct keys would grow without end. May collect (the new index arrays).
void make_room(const Cell& map) {
    const NodeId index = index_of(map);
    const hashtable::Table* t = table(index);
    if (t->used + 1 < t->bound) return;
    const uint32_t live = t->count;
    const uint32_t buckets = live * 2 < t->buckets ? t->buckets : t->buckets * 2;
    if (live == t->used) return hash_index::grow_map(index, buckets);  // nothing removed to drop
    hash_index::compact_map(index, buckets);
}

// Path set and put: the value stored under the key (prepared when new). Room is made first, so
// the bucket where the lookup ended is where a new key goes: one hash and one probe a put.
// May collect.
void store(const Cell& map, Cell key, Cell value, int32_t rule) {
    make_room(map);
    hash_index::Find how;
    how.rule = rule;
    hashtable::Probe probe;
    const int32_t at = hash_index::find(index_of(map), key, how, &probe);
    const NodeId block = entries_of(map);
    cell::clear_new_line(value);
    if (at >= 0) {
        if (is_dead(block, static_cast<uint32_t>(at))) ++table(index_of(map))->count;
        cells(block)[at + 1] = value;
        return;
    }
    // A walk that finds nothing ends on an empty bucket (the load bound keeps one free), where the
    // key goes unless it passed a deleted one.
    stack::Rooted kept_value(value);
    const Cell prepared = prepare_key(key);  // allocates a copy, the index is left as it was
    stack::Rooted kept_key(prepared);
    const uint32_t position = cell_count(block);
    auto* entry = reinterpret_cast<Cell*>(series::reserve_tail(block, 2 * sizeof(Cell)));  // may collect
    entry[0] = kept_key.cell();
    entry[1] = kept_value.cell();
    hash_index::add_map_key(index_of(map), probe, position);
}

// Calls visit(key, value) for each live entry, from the first; stops when visit answers false.
// visit must not change the map.
template <typename Visit>
void each_live(const Cell& map, Visit visit) {
    const NodeId block = entries_of(map);
    for (uint32_t i = 0; i + 1 < cell_count(block); i += 2) {
        if (is_dead(block, i)) continue;
        if (!visit(cells(block)[i], cells(block)[i + 1])) return;
    }
}

Cell wrap(NodeId block, NodeId index) { return cell::make(TypeId::map, 0, block, index); }

}  // namespace

bool valid_key_type(TypeId type) {
    switch (type) {
        case TypeId::string:
        case TypeId::file:
        case TypeId::url:
        case TypeId::char_:
        case TypeId::integer:
        case TypeId::float_:
        case TypeId::word:
        case TypeId::set_word:
        case TypeId::lit_word:
        case TypeId::get_word:
        case TypeId::refinement:
        case TypeId::issue:
        case TypeId::pair:
        case TypeId::percent:
        case TypeId::tuple:
        case TypeId::binary:
        case TypeId::time:
        case TypeId::tag:
        case TypeId::email:
        case TypeId::date:
        case TypeId::money:
        case TypeId::ref:
        case TypeId::point2D:
        case TypeId::point3D: return true;
        default: return false;
    }
}

Cell prepare_key(Cell key) {
    const TypeId t = cell::type(key);
    if (!valid_key_type(t)) error::fire(ErrorId::invalid_path, cell::datatype_of(key), key);
    switch (t) {
        case TypeId::string:
        case TypeId::file:
        case TypeId::url:
        case TypeId::binary:
        case TypeId::tag:
        case TypeId::email:
        case TypeId::ref: {
            // The map's own copy of the text the key names (from its position, as lookups read
            // it), so later changes to the caller's series cannot reach its keys.
            Cell copy = registry::actions(t).copy(key, CopyOptions{});
            cell::clear_new_line(copy);
            return copy;
        }
        case TypeId::word:
        case TypeId::lit_word:
        case TypeId::get_word:
        case TypeId::set_word: key.header = static_cast<uint32_t>(TypeId::set_word); return key;
        default: cell::clear_new_line(key); return key;
    }
}

Cell init_cell(NodeId block) {
    stack::Rooted kept(cell::series(TypeId::block, block));
    const uint32_t n = cell_count(block);
    for (uint32_t i = 0; i < n; i += 2)
        if (!valid_key_type(cell::type(cells(block)[i])))
            error::fire(ErrorId::invalid_path, cell::datatype_of(cells(block)[i]), cells(block)[i]);
    const NodeId index = hash_index::init(n / 2, block, hash_index::Kind::map, prepare_key);
    return wrap(block, index);
}

Cell make_empty(uint32_t entries) {
    const Cell block = block::make(static_cast<uint32_t>(std::min<uint64_t>(uint64_t{entries} * 2, UINT32_MAX)));
    stack::Rooted kept(block);
    const NodeId index = hash_index::init(entries, cell::series_node(block), hash_index::Kind::map);
    return wrap(cell::series_node(block), index);
}

void extend(Cell map, Cell spec, bool case_sensitive) {
    stack::Rooted kept_map(map);
    stack::Rooted kept_spec(spec);
    const int32_t rule = rule_of(case_sensitive);
    if (cell::is(spec, TypeId::map)) {
        const NodeId from = entries_of(spec);
        for (uint32_t i = 0; i + 1 < cell_count(from); i += 2)
            if (!is_dead(from, i)) store(map, cells(from)[i], cells(from)[i + 1], rule);
        return;
    }
    const uint32_t n = block::length(spec);
    if (n % 2) error::fire(ErrorId::invalid_arg, spec);
    // Every key is checked first, so a bad one leaves the map as it was.
    const uint32_t head = block::head_index(spec);
    for (uint32_t i = 0; i < n; i += 2) {
        const Cell key = block::abs_at(spec, head + i);
        if (!valid_key_type(cell::type(key))) error::fire(ErrorId::invalid_path, cell::datatype_of(key), key);
    }
    for (uint32_t i = 0; i < n && head + i + 1 < series::length(cell::series_node(spec)); i += 2)
        store(map, block::abs_at(spec, head + i), block::abs_at(spec, head + i + 1), rule);
}

bool next_entry(Cell& cursor, Cell& key, Cell& value) {
    const NodeId block = entries_of(cursor);
    for (uint32_t i = cell::series_index(cursor); i + 1 < cell_count(block); i += 2) {
        if (is_dead(block, i)) continue;
        key = shown_key(cells(block)[i]);
        value = cells(block)[i + 1];
        cell::set_series_index(cursor, i + 2);
        return true;
    }
    cell::set_series_index(cursor, cell_count(block));
    return false;
}

uint32_t length(const Cell& map) { return table(index_of(map))->count; }

Cell detached_key(Cell key) {
    const TypeId t = cell::type(key);
    if (!type_group::in(type_group::text_like | type_group::bit(TypeId::binary), t)) return key;
    return registry::actions(t).copy(key, CopyOptions{});
}

Cell given_key(Cell key) { return detached_key(shown_key(key)); }

}  // namespace map

namespace {

using map::each_live;

// A new map from a block's values from its head: copied, new-line markers cleared.
Cell from_block(Cell spec) {
    if (block::length(spec) % 2) error::fire(ErrorId::invalid_arg, spec);
    const Cell copy = block::clone(spec, false, false);
    stack::Rooted kept(copy);
    const NodeId node = cell::series_node(copy);
    for (uint32_t i = 0; i < series::length(node); ++i) cell::clear_new_line(memory::buffer(node)->cells()[i]);
    return map::init_cell(node);
}

Cell map_copy_plain(const Cell& source) {
    stack::Rooted kept(source);
    const NodeId block = series::copy(source.w2);
    stack::Rooted kept_block(cell::series(TypeId::block, block));
    const NodeId index = hash_index::copy_table(source.w3, block);
    return cell::make(TypeId::map, 0, block, index);
}

Cell make_or_to(Cell spec, bool to) {
    switch (cell::type(spec)) {
        case TypeId::block:
        case TypeId::paren:
        case TypeId::hash: return from_block(spec);
        case TypeId::integer:
        case TypeId::float_: {
            if (to) error::fire(ErrorId::bad_to_arg, cell::datatype_of(TypeId::map), spec);
            const int32_t n = cell::to_int32_checked(spec);
            if (n < 0) error::fire(ErrorId::out_of_range, spec);
            // The entry block must fit a block; a bigger map could never be filled anyway.
            if (static_cast<uint32_t>(n) > block::kMaxCells / 2) error::fire(ErrorId::out_of_range, spec);
            return map::make_empty(static_cast<uint32_t>(n));
        }
        case TypeId::map: return map_copy_plain(spec);
        default: error::fire(ErrorId::bad_to_arg, cell::datatype_of(TypeId::map), spec);
    }
}

Cell map_make(TypeId, Cell, Cell spec) { return make_or_to(spec, false); }
Cell map_to(TypeId, Cell, Cell spec) { return make_or_to(spec, true); }

Cell map_reflect(Cell value, uint32_t field) {
    const symbol::Id f = symbol::resolve(field);
    const auto is = [f](words::Word w) { return f == symbol::resolve(words::id(w)); };
    const bool keys = is(words::Word::words), values = is(words::Word::values), body = is(words::Word::body);
    if (!keys && !values && !body) error::fire(ErrorId::not_done);
    stack::Rooted kept(value);
    const uint32_t n = map::length(value);
    Cell* list = block::push_new(body ? n * 2 : n);
    const NodeId out = cell::series_node(*list);
    // Appending may grow only the new block: the map's cells are re-read each round.
    const NodeId entries = value.w2;
    for (uint32_t i = 0; i + 1 < series::length(entries); i += 2) {
        const Cell* entry = memory::buffer(entries)->cells() + i;
        if (entry[1].header == 0) continue;
        Cell item = entry[1];
        cell::clear_new_line(item);
        if (keys || body) {
            const Cell stored = entry[0];
            stack::Rooted key(keys ? map::given_key(stored) : map::detached_key(stored));
            cell::set_new_line(key.cell(), body);  // one entry per line when a body is molded
            block::append(out, key.cell());
        }
        if (values || body) block::append(out, item);
    }
    const Cell result = *list;
    stack::pop(1);
    return result;
}

// The entries, as mold and form lay them out. Indented: each entry on a line of its own at one
// level deeper than the map; else (form, /only, /flat) a separator between entries only.
int32_t write_entries(Cell value, NodeId out, MoldFlags flags, bool indented, int32_t limit) {
    const int32_t level = flags.indent + 1;
    const char* separator = flags.flat ? " " : "\n";
    const NodeId entries = value.w2;
    bool first = true;
    for (uint32_t i = 0; i + 1 < series::length(entries) && limit > 0; i += 2) {
        if (memory::buffer(entries)->cells()[i + 1].header == 0) continue;
        if (!indented && !first) limit = mold::emit(out, separator, limit);
        first = false;
        if (indented) limit = mold::indent(out, level, limit);
        const Cell key = memory::buffer(entries)->cells()[i];
        const MoldFlags inner{false, flags.all, flags.flat, level};
        limit = registry::actions(cell::type(key)).mold(key, out, inner, limit);
        limit = mold::emit(out, " ", limit);
        const Cell item = memory::buffer(entries)->cells()[i + 1];
        limit = registry::actions(cell::type(item)).mold(item, out, inner, limit);
        if (indented) limit = mold::emit(out, separator, limit);
    }
    return limit;
}

int32_t map_mold(Cell value, NodeId out, MoldFlags flags, int32_t limit) {
    if (cycles::mold_marker(value, out, &limit, true)) return limit;
    cycles::Guard walking(value.w2);
    const bool indented = !flags.flat && !flags.only;
    if (!flags.only) limit = mold::emit(out, "#[", limit);
    const bool any = map::length(value) > 0;
    if (any && indented) limit = mold::emit(out, "\n", limit);
    limit = write_entries(value, out, flags, indented, limit);
    if (flags.only) return limit;
    if (any && indented && flags.indent >= 1) limit = mold::indent(out, flags.indent, limit);
    return mold::emit(out, "]", limit);
}

int32_t map_form(Cell value, NodeId out, int32_t limit) {
    if (cycles::mold_marker(value, out, &limit, false)) return limit;
    cycles::Guard walking(value.w2);
    return write_entries(value, out, MoldFlags{true, false, false, 0}, false, limit);
}

Cell map_eval_path(Cell parent, Cell element, const PathStep& step) {
    if (!step.set_value) {
        const int32_t at = map::live_entry(parent, element, op_equal);
        return at < 0 ? cell::none() : memory::buffer(parent.w2)->cells()[at + 1];
    }
    const Cell value = *step.set_value;
    map::store(parent, element, value, op_equal);
    return value;
}

// Equal when every live entry of one has an entry of equal key and value in the other.
bool same_entries(const Cell& a, const Cell& b, bool strict) {
    const int32_t rule = strict ? op_strict_equal : op_equal;
    bool equal = true;
    each_live(a, [&](const Cell& key, const Cell& item) {
        const Cell k = key, v = item;  // the walk's cells may not outlive a comparison
        hash_index::Find how;
        how.rule = rule;
        hashtable::Probe probe;
        bool matched = false;
        const NodeId other = b.w2;
        for (int32_t at = hash_index::find(b.w3, k, how, &probe); at >= 0 && !matched;
             at = hash_index::find_next(b.w3, k, how, probe)) {
            const Cell* entry = memory::buffer(other)->cells() + at;
            if (entry[1].header == 0) continue;
            matched = actions::compare_direct(v, entry[1], rule) == 0;
            if (strict) break;  // one key matches strictly
        }
        equal = matched;
        return equal;
    });
    return equal;
}

int32_t map_compare(Cell a, Cell b, int32_t op) {
    if (!cell::is(b, TypeId::map)) return kNotComparable;
    if (a.w2 == b.w2 && a.w1 == b.w1) return 0;
    if (op == op_sort || op == op_sort_case) return a.w2 < b.w2 ? -1 : 1;
    if (!equality_op(op)) return kNotComparable;
    if (op == op_same) return -1;
    const uint32_t na = map::length(a), nb = map::length(b);
    if (na != nb) return 1;
    if (na == 0) return 0;
    // A map met again inside itself is not walked twice: the same pair counts as equal there.
    if (cycles::find(a.w2) || cycles::find(b.w2)) return cycles::find(a.w2) && cycles::find(b.w2) ? 0 : 1;
    cycles::Guard walking_a(a.w2);
    cycles::Guard walking_b(b.w2);
    return same_entries(a, b, op == op_strict_equal) ? 0 : 1;
}

Cell map_clear(Cell value) {
    hash_index::clear(value.w3);
    series::clear(value.w2);
    return value;
}

Cell map_copy(Cell value, const CopyOptions& options) {
    if (options.part) part_skip::refuse(words::Word::part, *options.part);
    if ((options.deep || options.types) && cycles::find(value.w2)) {
        cycles::reset();
        error::fire(ErrorId::no_cycle);
    }
    stack::Rooted copy(map_copy_plain(value));
    // Text keys copied too are equal to the old ones: their buckets hold.
    if (options.types) {
        block::copy_typed(copy.cell().w2, value.w2, *options.types, options.deep);
    } else if (options.deep) {
        block::copy_deep(copy.cell().w2, 0, value.w2);
    }
    return copy.cell();
}

Cell map_find(Cell value, Cell key, const FindOptions& options) {
    const int32_t at = map::live_entry(value, key, map::rule_of(options.case_sensitive, options.same));
    return at < 0 ? cell::none() : map::given_key(memory::buffer(value.w2)->cells()[at]);
}

Cell map_select(Cell value, Cell key, const FindOptions& options) {
    const int32_t at = map::live_entry(value, key, map::rule_of(options.case_sensitive, options.same));
    return at < 0 ? cell::none() : memory::buffer(value.w2)->cells()[at + 1];
}

int32_t map_length(Cell value) { return static_cast<int32_t>(map::length(value)); }

Cell map_put(Cell target, Cell key, Cell value, bool case_sensitive) {
    map::store(target, key, value, map::rule_of(case_sensitive));
    return value;
}

Cell map_remove(Cell value, const Cell*, const Cell* key) {
    if (!key) error::fire(ErrorId::missing_arg);
    const int32_t at = map::live_entry(value, *key, op_strict_equal);
    if (at >= 0) {
        memory::buffer(value.w2)->cells()[at + 1].header = 0;
        --hashtable::table(value.w3)->count;
    }
    return value;
}

}  // namespace

extern const ActionTable map_actions = {
    .make = map_make,
    .reflect = map_reflect,
    .to = map_to,
    .form = map_form,
    .mold = map_mold,
    .eval_path = map_eval_path,
    .compare = map_compare,
    .clear = map_clear,
    .copy = map_copy,
    .find = map_find,
    .length_q = map_length,
    .put = map_put,
    .remove = map_remove,
    .select = map_select,
};

extern const type_traits::Traits map_traits = {
    .refs = {type_traits::Ref::none, type_traits::Ref::cells, type_traits::Ref::table},
    .hash = type_traits::hash_w2,
    .key_words = type_traits::kW2,
    .cycle_marker = "#[...]",
    .copies = true};

}  // namespace zub
