// block!: the cell-series primitives of block.h, the layout rules of mold, element-wise comparison,
// and the actions that block! does not take from series!: make, to, form, mold, eval-path,
// compare, append, insert, change, copy, swap, take and trim. paren!, the path family and hash!
// inherit them.
#include "datatypes/block.h"

#include "evaluator/lexer/lexer.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>

#include "datatypes/mold.h"
#include "datatypes/registry.h"
#include "datatypes/series_value.h"
#include "datatypes/typeset.h"
#include "datatypes/vector.h"
#include "evaluator/actions.h"
#include "evaluator/stack.h"
#include "evaluator/words.h"
#include "runtime/cycles.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/type_traits.h"

namespace zub {

namespace {

NodeId node_of(const Cell& value) { return cell::series_node(value); }
uint32_t cells_in(NodeId node) { return memory::buffer(node)->used() / sizeof(Cell); }
Cell* cells_of(NodeId node) { return memory::buffer(node)->cells(); }

bool any_word(TypeId t) { return t >= TypeId::word && t <= TypeId::get_word; }
bool number(TypeId t) { return t == TypeId::integer || t == TypeId::float_ || t == TypeId::percent; }

// A copy of a nested value through its own copy action; it stays where it stood, so it keeps
// its new-line marker. May collect.
Cell copy_of(const Cell& value, bool deep) {
    Cell copy = registry::actions(cell::type(value)).copy(value, CopyOptions{nullptr, deep, nullptr});
    cell::set_new_line(copy, cell::new_line(value));
    return copy;
}

// Pushes the series a deep walk is in; meeting it again is a cycle, which a copy cannot follow.
std::optional<cycles::Guard> enter_deep(NodeId source) {
    if (!source) return std::nullopt;
    if (cycles::find(source)) {
        cycles::reset();
        error::fire(ErrorId::no_cycle);
    }
    return std::optional<cycles::Guard>(std::in_place, source);
}

// ---- Splicing ------------------------------------------------------------------------------------

// What append, insert and change write: cells of a block, or one value.
struct Source {
    Cell value;      // the value itself, written when node is 0
    NodeId node;     // the block whose cells are written, or 0
    uint32_t index;  // of the first of them in its buffer
    uint32_t count;  // cells written once (1 for a single value)
};

Source source_of(const Cell& value, bool only) {
    if (only || !block::is_block_like(cell::type(value))) return {value, 0, 0, 1};
    return {value, node_of(value), block::head_index(value), block::length(value)};
}

// What is left of a block source after an owner's handler ran and may have cut it.
void remeasure(Source& source) {
    if (!source.node) return;
    const uint32_t n = cells_in(source.node);
    source.index = std::min(source.index, n);
    source.count = std::min(source.count, n - source.index);
}

// The cells written, refused (internal no-memory) when the count or the resulting length does not
// fit: 32 bits for the count, 28 for the cells of a buffer.
uint32_t checked_total(uint32_t count, uint32_t dup, uint32_t kept) {
    const uint64_t total = uint64_t{count} * dup;
    if (total > static_cast<uint64_t>(std::numeric_limits<int32_t>::max()) || total + kept > block::kMaxCells)
        error::fire(ErrorId::no_memory);
    return static_cast<uint32_t>(total);
}

constexpr uint64_t kDoublingBar = 0x80000000;  // bytes; larger buffers grow to what they need

// A change that is not an append leaves a hash! index over the block to be rebuilt.
void unindex(NodeId node) { memory::buffer(node)->flags &= ~series_flag::indexed; }

// Replaces `replaced` cells at the index `at` of the target with the source's cells written dup
// times. The buffer grows to the size needed, doubled when dup < 5. May collect.
void splice(NodeId target, uint32_t at, uint32_t replaced, const Source& source, uint32_t dup) {
    const uint32_t length = cells_in(target);
    // Natives write into blocks without telling an owner; a hash! index must still hear of it.
    if (at < length || replaced) unindex(target);
    const uint32_t total = checked_total(source.count, dup, length - replaced);
    // A block written into itself before its tail: its cells are read before anything moves.
    std::unique_ptr<Cell[]> own;
    if (source.node == target && at < length && source.count) {
        own = std::make_unique<Cell[]>(source.count);
        std::memcpy(own.get(), cells_of(target) + source.index, size_t{source.count} * sizeof(Cell));
    }
    const uint64_t needed = (uint64_t{length} - replaced + total) * sizeof(Cell);
    SeriesBuffer* b = memory::buffer(target);
    if (b->head + needed > b->size) {
        const uint64_t grown = dup < 5 && needed < kDoublingBar ? needed * 2 : needed;
        b = memory::expand_series_copy(target, std::max<uint64_t>(grown, sizeof(Cell)));
    }
    Cell* cells = b->cells();
    std::memmove(cells + at + total, cells + at + replaced, size_t{length - at - replaced} * sizeof(Cell));
    b->tail = b->head + static_cast<uint32_t>(needed);
    if (!source.count) return;
    Cell* to = cells + at;
    if (!source.node) {
        *to = source.value;
    } else {
        // Re-derived: growing the target may have moved the source's buffer too.
        const Cell* from = own ? own.get() : cells_of(source.node) + source.index;
        std::memcpy(to, from, size_t{source.count} * sizeof(Cell));
    }
    if (dup > 1) series::repeat_bytes(reinterpret_cast<std::byte*>(to), source.count * sizeof(Cell), dup);
}

// Writes one value at `at` (at most the length) of a block nobody watches: the cells from there
// move up, the buffer grows as splice grows it. The value is a copy, so a moving buffer leaves it
// whole. May collect.
[[gnu::always_inline]] inline void put_one(NodeId node, uint32_t at, Cell value) {
    SeriesBuffer* b = memory::buffer(node);
    const uint32_t length = cells_in(node);
    if (b->tail + sizeof(Cell) > b->size) {
        if (length >= block::kMaxCells) error::fire(ErrorId::no_memory);
        const uint64_t needed = (uint64_t{length} + 1) * sizeof(Cell);
        b = memory::expand_series_copy(node, needed < kDoublingBar ? needed * 2 : needed);
    }
    Cell* cells = b->cells();
    if (at < length) std::memmove(cells + at + 1, cells + at, size_t{length - at} * sizeof(Cell));
    std::memcpy(cells + at, &value, sizeof(Cell));
    b->tail += sizeof(Cell);
}

// ---- make and to ---------------------------------------------------------------------------------

Cell capacity_block(TypeId type, const Cell& spec) {
    const int32_t n = cell::to_int32_checked(spec);
    return block::make(n < 1 ? 1 : static_cast<uint32_t>(n), type);
}

// A map's keys and values in turn, as its reflect gives them.
Cell map_body(TypeId type, const Cell& map) {
    Cell body = registry::actions(TypeId::map).reflect(map, words::id(words::Word::body));
    cell::set_type(body, type);
    return body;
}

Cell retyped_clone(TypeId type, const Cell& spec) {
    Cell copy = block::clone(spec, false, false);
    cell::set_type(copy, type);
    return copy;
}

Cell block_make(TypeId type, Cell, Cell spec) {
    const TypeId t = cell::type(spec);
    if (block::is_block_like(t)) return retyped_clone(type, spec);
    switch (t) {
        case TypeId::integer:
        case TypeId::float_: return capacity_block(type, spec);
        case TypeId::map: return map_body(type, spec);
        case TypeId::object:
        case TypeId::vector:
            // Their bodies and elements come with those types.
            error::fire(ErrorId::not_done);
        default: error::fire(ErrorId::bad_make_arg, cell::datatype_of(type), spec);
    }
}

Cell block_to(TypeId type, Cell, Cell value) { return block::convert(type, value); }

// ---- form and mold -------------------------------------------------------------------------------

// Whether the output ends in a tab, line feed or carriage return: no space is owed after it.
bool ends_in_break(NodeId out) {
    SeriesBuffer* b = memory::buffer(out);
    const uint32_t unit = b->unit();
    if (b->used() < unit) return false;
    const uint32_t last = series::load_unit(b->tail_ptr() - unit, unit);
    return last == '\t' || last == '\n' || last == '\r';
}

// ---- compare -------------------------------------------------------------------------------------

bool path_or_lit_path(TypeId t) { return t == TypeId::path || t == TypeId::lit_path; }

int32_t block_compare(Cell a, Cell b, int32_t op) {
    const TypeId ta = cell::type(a), tb = cell::type(b);
    if (ta != tb) {
        const bool word_equality = op == op_equal_word || op == op_equal_canonical;
        if (!(word_equality && path_or_lit_path(ta) && path_or_lit_path(tb))) return kNotComparable;
    }
    return block::compare_each(a, b, op);
}

// ---- eval-path -----------------------------------------------------------------------------------

// The path step carries no case flag: words and keys are matched in any case.
Cell block_eval_path(Cell parent, Cell element, const PathStep& step) {
    constexpr bool kCase = false;
    const ActionTable& row = registry::actions(cell::type(parent));
    if (cell::is(element, TypeId::integer)) {
        const int32_t k = cell::as_integer(element);
        if (!step.set_value) return row.pick(parent, k, element);
        const Cell value = *step.set_value;
        row.poke(parent, k, element, value);
        return value;
    }
    if (!step.set_value) {
        if (cell::is(element, TypeId::word) && !cell::is(parent, TypeId::hash))
            return block::select_word(parent, element, kCase);
        FindOptions select{};
        select.only = true;
        select.case_sensitive = kCase;
        return row.select(parent, element, select);
    }
    FindOptions find{};
    find.case_sensitive = kCase;
    const Cell found = row.find(parent, element, find);
    if (!block::is_block_like(cell::type(found))) error::fire(ErrorId::bad_path_set, step.path, cell::none());
    // The key stays; the value after it is replaced.
    const Cell value = *step.set_value;
    registry::actions(cell::type(found)).poke(found, 2, cell::integer(2), value);
    return value;
}

// ---- append, insert, change ----------------------------------------------------------------------

Cell insert_or_append(Cell series, Cell value, const InsertOptions& options, bool append) {
    const NodeId node = node_of(series);
    Source source = source_of(value, options.only);
    if (options.part >= 0 && static_cast<uint32_t>(options.part) <= source.count)
        source.count = static_cast<uint32_t>(options.part);
    uint32_t length = cells_in(node);
    uint32_t at = append ? length : block::head_index(series);
    if (source.count == 0 || options.dup < 1) {
        series.w1 = append ? 0 : at;
        return series;
    }
    const auto dup = static_cast<uint32_t>(options.dup);
    const uint32_t index = at;
    const uint32_t total = checked_total(source.count, dup, length);
    series_value::notify_owner(series, append ? words::Word::append : words::Word::insert, index, total);

    // The owner's handler may have changed the target or the source.
    length = cells_in(node);
    at = append ? length : std::min(at, length);
    remeasure(source);
    splice(node, at, 0, source, dup);
    const uint32_t written = source.count * dup;
    series_value::notify_owner(series, append ? words::Word::appended : words::Word::inserted, index, written);
    series.w1 = append ? 0 : std::min(at + written, cells_in(node));
    return series;
}

// One value written once: the common case, and the lean road.
bool one_value(const Cell& value, const InsertOptions& options) {
    return (options.only || !block::is_block_like(cell::type(value))) && options.part != 0 && options.dup == 1;
}

Cell block_append(Cell series, Cell value, const InsertOptions& options) {
    if (one_value(value, options)) return block::append_value(series, value);
    return insert_or_append(series, value, options, true);
}

Cell block_insert(Cell series, Cell value, const InsertOptions& options) {
    const NodeId node = node_of(series);
    if (one_value(value, options) && !(memory::buffer(node)->flags & series_flag::watched)) {
        const uint32_t at = block::head_index(series);
        put_one(node, at, value);
        series.w1 = at + 1;
        return series;
    }
    return insert_or_append(series, value, options, false);
}

Cell block_change(Cell series, Cell value, const InsertOptions& options) {
    const NodeId node = node_of(series);
    uint32_t head = block::head_index(series);
    series.w1 = head;
    if (options.dup < 1) return series;
    const auto dup = static_cast<uint32_t>(options.dup);
    Source source = source_of(value, options.only);
    uint32_t length = cells_in(node);
    const uint64_t wanted = options.part >= 0 ? static_cast<uint64_t>(options.part) : uint64_t{source.count} * dup;
    uint32_t replaced = static_cast<uint32_t>(std::min<uint64_t>(wanted, length - head));
    checked_total(source.count, dup, length - replaced);
    series_value::notify_owner(series, words::Word::change, head, replaced);

    length = cells_in(node);
    head = std::min(head, length);
    replaced = std::min(replaced, length - head);
    remeasure(source);
    splice(node, head, replaced, source, dup);
    const uint32_t written = source.count * dup;
    series_value::notify_owner(series, words::Word::changed, head, written);
    series.w1 = head + written;
    return series;
}

// ---- copy, take ----------------------------------------------------------------------------------

Cell block_copy(Cell value, const CopyOptions& options) {
    if (options.types && !cell::is(*options.types, TypeId::datatype) && !cell::is(*options.types, TypeId::typeset))
        raise_expect_arg(Slot::copy, *options.types, 2);  // the argument of /types
    // The part rules are those of every series; the nested copies are a block's own.
    Cell copy = registry::actions(TypeId::series).copy(value, CopyOptions{options.part, false, nullptr});
    if (!options.deep && !options.types) return copy;
    if (cell::is(copy, TypeId::hash)) cell::set_type(copy, TypeId::block);
    stack::Rooted keep(copy);
    if (options.types) block::copy_typed(node_of(copy), node_of(value), *options.types, options.deep);
    else block::copy_deep(node_of(copy), 0, node_of(value));
    return copy;
}

// The taking is that of every series; with /deep the taken series values are copied deep. They
// have left the block, so a block that held itself no longer does and is copied as it now is.
Cell block_take(Cell series, const Cell* part, bool deep, bool last) {
    const Cell taken = registry::actions(TypeId::series).take(series, part, false, last);
    if (!deep) return taken;
    if (!part) return block::is_series(cell::type(taken)) ? copy_of(taken, true) : taken;
    if (!block::is_block_like(cell::type(taken))) return taken;
    stack::Rooted keep(taken);
    block::copy_deep(node_of(taken), 0, 0);
    return taken;
}

// ---- swap, trim ----------------------------------------------------------------------------------

Cell block_swap(Cell a, Cell b) {
    if (!block::is_block_like(cell::type(b))) error::fire(ErrorId::invalid_arg, b);
    if (block::at_tail(a) || block::at_tail(b)) return a;
    series_value::notify_owner(a, words::Word::swap, cell::series_index(a), 1);
    series_value::notify_owner(b, words::Word::swap, cell::series_index(b), 1);
    // Either handler may have cut a block.
    if (!block::at_tail(a) && !block::at_tail(b)) std::swap(*block::head(a), *block::head(b));
    series_value::notify_owner(a, words::Word::swaped, cell::series_index(a), 1);
    series_value::notify_owner(b, words::Word::swaped, cell::series_index(b), 1);
    return a;
}

// Trim's refinements mean nothing to a block: it drops the none values from the head on.
Cell block_trim(Cell series, const TrimOptions&) {
    const uint32_t head = block::head_index(series);
    series_value::notify_owner(series, words::Word::trim, head, 0);
    const NodeId node = node_of(series);
    SeriesBuffer* b = memory::buffer(node);
    Cell* cells = b->cells();
    const uint32_t length = b->used() / sizeof(Cell);
    uint32_t kept = std::min(head, length);
    for (uint32_t i = kept; i < length; ++i)
        if (!cell::is(cells[i], TypeId::none)) cells[kept++] = cells[i];
    b->tail = b->head + kept * static_cast<uint32_t>(sizeof(Cell));
    series_value::notify_owner(series, words::Word::trimmed, head, 0);
    return series;
}

}  // namespace

// ---- Primitives ----------------------------------------------------------------------------------

namespace block {

bool is_series(TypeId type) { return type_group::in(type_group::series, type); }

Cell make(uint32_t capacity, TypeId type) {
    if (capacity > kMaxCells) error::fire(ErrorId::no_memory);
    return cell::series(type, memory::alloc_cells(std::max(capacity, 1u)));
}

Cell* push_new(uint32_t capacity, TypeId type) {
    Cell* slot = stack::push(cell::none());  // held before the allocation can collect
    *slot = make(capacity, type);
    return slot;
}

Cell make_in(NodeId parent, uint32_t capacity, TypeId type) {
    const uint32_t index = cells_in(parent);
    series::alloc_tail_cell(parent);  // the place first, so the parent holds the block once made
    const Cell value = make(capacity, type);
    cells_of(parent)[index] = value;
    return value;
}

Cell* push_as(Cell value, TypeId type) {
    cell::set_type(value, type);
    return stack::push(value);
}

uint32_t length(const Cell& block) {
    const uint32_t n = cells_in(node_of(block));
    const auto head = static_cast<int32_t>(cell::series_index(block));
    return head < 0 ? n : head >= static_cast<int64_t>(n) ? 0 : n - static_cast<uint32_t>(head);
}

uint32_t head_index(const Cell& block) {
    const auto head = static_cast<int32_t>(cell::series_index(block));
    return head < 0 ? 0 : std::min(static_cast<uint32_t>(head), cells_in(node_of(block)));
}

bool at_tail(const Cell& block) { return length(block) == 0; }

Cell next(Cell block) {
    if (!at_tail(block)) block.w1 = head_index(block) + 1;
    return block;
}

Cell* head(const Cell& block) { return cells_of(node_of(block)) + head_index(block); }
Cell* tail(const Cell& block) { return cells_of(node_of(block)) + cells_in(node_of(block)); }
Cell abs_at(const Cell& block, uint32_t index) { return cells_of(node_of(block))[index]; }

void clear(const Cell& block) {
    SeriesBuffer* b = memory::buffer(node_of(block));
    b->tail = b->head + head_index(block) * static_cast<uint32_t>(sizeof(Cell));
    unindex(node_of(block));
}

void clear_from(NodeId block, uint32_t n) {
    SeriesBuffer* b = memory::buffer(block);
    if (n < b->used() / sizeof(Cell)) b->tail = b->head + n * static_cast<uint32_t>(sizeof(Cell));
    unindex(block);
}

void remove_last(Cell& block) {
    SeriesBuffer* b = memory::buffer(node_of(block));
    if (b->used() == 0) return;
    b->tail -= sizeof(Cell);
    unindex(node_of(block));
    block.w1 = head_index(block);
}

void append_block(NodeId target, Cell source) { splice(target, cells_in(target), 0, source_of(source, false), 1); }

Cell insert_value(Cell block, Cell value, bool at_tail, bool advance) {
    const NodeId node = node_of(block);
    const uint32_t at = at_tail ? cells_in(node) : head_index(block);
    splice(node, at, 0, Source{value, 0, 0, 1}, 1);
    if (advance) block.w1 = at + 1;
    return block;
}

Cell insert_block(Cell block, Cell values, bool at_tail, bool advance) {
    const NodeId node = node_of(block);
    const uint32_t at = at_tail ? cells_in(node) : head_index(block);
    const Source source = source_of(values, false);
    splice(node, at, 0, source, 1);
    if (advance) block.w1 = at + source.count;
    return block;
}

Cell append_value(Cell series, Cell value) {
    const NodeId node = node_of(series);
    // Watched blocks take the action's road, which tells the watchers before and after.
    if (memory::buffer(node)->flags & series_flag::watched)
        return insert_or_append(series, value, InsertOptions{-1, true, 1}, true);
    put_one(node, cells_in(node), value);
    series.w1 = 0;
    return series;
}

Cell select(Cell block, Cell key) {
    const NodeId node = node_of(block);
    for (uint32_t i = head_index(block); i < cells_in(node); ++i) {
        if (actions::compare_direct(cells_of(node)[i], key, op_find) != 0) continue;
        return i + 1 < cells_in(node) ? cells_of(node)[i + 1] : cell::none();
    }
    return cell::none();
}

Cell select_word(Cell block, Cell word, bool case_sensitive) {
    const NodeId node = node_of(block);
    const uint32_t n = cells_in(node);
    const Cell* cells = cells_of(node);
    const symbol::Id wanted = case_sensitive ? word.w2 : symbol::resolve(word.w2);
    for (uint32_t i = head_index(block); i + 1 < n; ++i) {
        const Cell& c = cells[i];
        if (!any_word(cell::type(c))) continue;
        if ((case_sensitive ? c.w2 : symbol::resolve(c.w2)) == wanted) return cells[i + 1];
    }
    return cell::none();
}

bool remove_equal(Cell block, Cell value, bool from_start) {
    const NodeId node = node_of(block);
    const uint32_t head = head_index(block);
    for (uint32_t i = from_start ? 0 : head; i < cells_in(node); ++i) {
        if (actions::compare_direct(cells_of(node)[i], value, op_find) != 0) continue;
        series::remove_bytes(node, i * static_cast<uint32_t>(sizeof(Cell)), sizeof(Cell));
        unindex(node);
        return i <= head;
    }
    return false;
}

Cell clone(Cell block, bool deep, bool all_kinds) {
    const uint32_t head = head_index(block), count = length(block);
    const NodeId node = memory::alloc_cells(std::max(count, 1u));
    std::memcpy(cells_of(node), cells_of(node_of(block)) + head, size_t{count} * sizeof(Cell));
    memory::buffer(node)->tail += count * static_cast<uint32_t>(sizeof(Cell));
    const Cell result = cell::series(cell::type(block), node);
    if (!deep) return result;

    stack::Rooted keep(result);
    const auto walking = enter_deep(node_of(block));
    for (uint32_t i = 0; i < count; ++i) {
        const Cell c = cells_of(node)[i];
        const TypeId t = cell::type(c);
        if (t != TypeId::block && !(all_kinds && is_block_like(t) && t != TypeId::hash)) continue;
        Cell nested = clone(c, true, all_kinds);
        cell::set_new_line(nested, cell::new_line(c));
        cells_of(node)[i] = nested;  // re-derived: the clone may have moved the buffer
    }
    return result;
}

void copy_typed(NodeId copy, NodeId source, Cell types, bool deep) {
    const auto walking = enter_deep(deep ? source : 0);
    for (uint32_t i = 0; i < cells_in(copy); ++i) {
        const Cell c = cells_of(copy)[i];
        const TypeId t = cell::type(c);
        const bool wanted =
            cell::is(types, TypeId::datatype) ? types.w1 == static_cast<uint32_t>(t) : typeset::contains(types, t);
        if (!wanted || !type_traits::of(t).copies) continue;
        const Cell fresh = copy_of(c, deep);
        cells_of(copy)[i] = fresh;
    }
}

void copy_deep(NodeId copy, uint32_t from, NodeId source) {
    const auto walking = enter_deep(source);
    for (uint32_t i = from; i < cells_in(copy); ++i) {
        const Cell c = cells_of(copy)[i];
        if (!is_series(cell::type(c))) continue;
        const Cell fresh = copy_of(c, true);
        cells_of(copy)[i] = fresh;
    }
}

int32_t mold_each(Cell block, NodeId out, MoldFlags flags, int32_t limit) {
    const NodeId node = node_of(block);
    cycles::Guard walking(node);
    const uint32_t first = head_index(block);
    int32_t level = flags.indent;
    bool closing_line = false;
    for (uint32_t i = first; i < cells_in(node) && limit >= 1; ++i) {
        const Cell c = cells_of(node)[i];
        if (!flags.flat && cell::new_line(c)) {
            // A marked first value opens an indented body whose closing bracket gets a line of
            // its own; a later marker only breaks the line at the current level.
            if (i == first && !flags.only) {
                ++level;
                closing_line = true;
            }
            if (i != first || !flags.only) limit = mold::emit(out, "\n", limit);
            limit = mold::indent(out, level, limit);
        } else if (i != first) {
            limit = mold::emit(out, " ", limit);
        }
        limit = registry::actions(cell::type(c)).mold(c, out, MoldFlags{false, flags.all, flags.flat, level}, limit);
    }
    if (closing_line) {
        limit = mold::emit(out, "\n", limit);
        limit = mold::indent(out, level - 1, limit);
    }
    return limit;
}

int32_t mold(Cell block, NodeId out, MoldFlags flags, int32_t limit) {
    if (cycles::mold_marker(block, out, &limit, true)) return limit;
    if (flags.only) return mold_each(block, out, flags, limit);
    const bool paren = cell::is(block, TypeId::paren);
    limit = mold::emit(out, paren ? "(" : "[", limit);
    limit = mold_each(block, out, flags, limit);
    return mold::emit(out, paren ? ")" : "]", limit);
}

int32_t form(Cell block, NodeId out, int32_t limit) {
    if (cycles::mold_marker(block, out, &limit, false)) return limit;
    const NodeId node = node_of(block);
    cycles::Guard walking(node);
    for (uint32_t i = head_index(block); i < cells_in(node) && limit >= 1; ++i) {
        const Cell c = cells_of(node)[i];
        limit = registry::actions(cell::type(c)).form(c, out, limit);
        if (i + 1 < cells_in(node) && !ends_in_break(out)) limit = mold::emit(out, " ", limit);
    }
    return limit;
}

int32_t compare_each(Cell a, Cell b, int32_t op) {
    const NodeId na = node_of(a), nb = node_of(b);
    const bool same_place = na == nb && head_index(a) == head_index(b);
    if (op == op_same) return same_place ? 0 : -1;
    if (same_place) return 0;
    if (cycles::find(na)) return cycles::find(nb) ? 0 : -1;
    // Entered before the lengths are looked at, so an empty innermost block counts as a level, as
    // it does for mold and copy.
    const cycles::Guard walking(na, nb);
    const uint32_t la = length(a), lb = length(b);
    const bool equality = op <= op_strict_equal || op == op_equal_word || op == op_equal_canonical || op == op_find;
    if (la != lb && equality) return 1;
    if (la == 0 || lb == 0) return (la > lb) - (la < lb);

    const uint32_t ha = head_index(a), hb = head_index(b);
    for (uint32_t i = 0; i < std::min(la, lb); ++i) {
        const Cell x = cells_of(na)[ha + i], y = cells_of(nb)[hb + i];
        const TypeId tx = cell::type(x), ty = cell::type(y);
        if (tx != ty && !(any_word(tx) && any_word(ty)) && !(number(tx) && number(ty))) return tx < ty ? -1 : 1;
        const int32_t r = actions::compare_direct(x, y, op);
        if (r == kNotComparable) return r;
        if (r) return r < 0 ? -1 : 1;
    }
    return (la > lb) - (la < lb);
}

Cell convert(TypeId type, Cell value) {
    const TypeId t = cell::type(value);
    if (is_block_like(t)) return retyped_clone(type, value);
    switch (t) {
        case TypeId::vector: {
            Cell elements = vector::to_block(value);
            cell::set_type(elements, type);
            return elements;
        }
        case TypeId::map: return map_body(type, value);
        case TypeId::object:
            // Its body comes with the object's own actions.
            error::fire(ErrorId::not_done);
        case TypeId::string: {
            // Text becomes values the way the lexer reads source.
            Cell loaded = lexer::transcode_value(value, -1, lexer::Options{}).value;
            cell::set_type(loaded, type);
            return loaded;
        }
        case TypeId::typeset: {
            Cell* slot = push_new(typeset::count(value), type);
            typeset::to_block(value, node_of(*slot));
            const Cell result = *slot;
            stack::pop(1);
            return result;
        }
        default: {
            const Cell result = make(1, type);
            series::append_cell(node_of(result), value);
            return result;
        }
    }
}

}  // namespace block

extern const ActionTable block_actions = {
    .make = block_make,
    .to = block_to,
    .form = block::form,
    .mold = block::mold,
    .eval_path = block_eval_path,
    .compare = block_compare,
    .append = block_append,
    .change = block_change,
    .copy = block_copy,
    .find = block::find,
    .insert = block_insert,
    .put = block::put,
    .select = block::select,
    .sort = block::sort,
    .swap = block_swap,
    .take = block_take,
    .trim = block_trim,
};

extern const type_traits::Traits block_traits = block::cells_traits("[...]", true);

// paren! is a block written in "(" and ")"; everything else it inherits.
extern const ActionTable paren_actions = {
    .mold = block::mold,
};

extern const type_traits::Traits paren_traits = block::cells_traits("(...)", false);

}  // namespace zub
