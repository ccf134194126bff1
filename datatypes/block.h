// block!: the series of value cells that holds program text after loading, argument lists, specs
// and data. These are the cell-series primitives the rest of the runtime calls, and the bodies of
// block!'s form, mold and compare that paren!, the path family and hash! share. A block value is
// a head index (w1, in cells) and the node of a buffer of 16-byte cells (w2).
//
// Cells are taken and returned by value. Functions that may allocate say so; a Cell* they or the
// pointer accessors return is valid only until the next allocation.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "datatypes/actions.h"
#include "runtime/cell.h"
#include "runtime/memory.h"
#include "runtime/series.h"
#include "runtime/type_traits.h"

namespace zub::block {

// Most cells a buffer may hold: counts must fit 28 bits.
inline constexpr uint32_t kMaxCells = 0x0FFFFFFF;

// block!, paren!, path!, lit-path!, set-path!, get-path! and hash!.
inline bool is_block_like(TypeId type) { return type_group::in(type_group::block_like, type); }
// What a deep copy descends into: the block-like and text-like types, binary!, vector!, image!.
bool is_series(TypeId type);

// ---- Making ----------------------------------------------------------------------------------

// An empty value of the type with room for `capacity` cells (at least 1). Only the caller holds
// it: root it as runtime/memory.h says. Above kMaxCells raises internal no-memory. May collect.
Cell make(uint32_t capacity, TypeId type = TypeId::block);
// The same, pushed on the evaluation stack, which keeps it alive. May collect.
Cell* push_new(uint32_t capacity, TypeId type = TypeId::block);
// The same, appended at the tail of a parent block, which keeps it alive. May collect.
Cell make_in(NodeId parent, uint32_t capacity, TypeId type = TypeId::block);
// Pushes the value retyped to another member of the family (the push of path!, paren! ...): the
// cell is copied, its series shared. Never allocates.
Cell* push_as(Cell value, TypeId type);

// ---- Reading ---------------------------------------------------------------------------------

// Cells from the head to the tail; 0 when the head lies past the tail. Never allocates.
uint32_t length(const Cell& block);
// The head index clamped to the tail. Never allocates.
uint32_t head_index(const Cell& block);
bool at_tail(const Cell& block);
// The value one cell on, unless at the tail.
Cell next(Cell block);
// The cell at the head (the head clamped to the tail; at the tail, the tail), and the tail.
Cell* head(const Cell& block);
Cell* tail(const Cell& block);
// The cell at a 0-based index from the buffer start, which must lie in the buffer.
Cell abs_at(const Cell& block, uint32_t index);

// ---- Changing, without owner notification ----------------------------------------------------
// For the runtime's own blocks; the actions are what tell an owner of a change.

// tail := head (a head past the tail changes nothing).
void clear(const Cell& block);
// tail := buffer start + n cells, when that shortens the block.
void clear_from(NodeId block, uint32_t n);
// Appends a copy of the value at the tail. May collect.
inline void append(NodeId block, Cell value) { series::append_cell(block, value); }
// Drops the last cell and keeps the head within the buffer.
void remove_last(Cell& block);
// Appends copies of the source's cells from its head; the source may be the block itself.
// May collect.
void append_block(NodeId target, Cell source);
// Inserts one value at the head (or at the tail) and answers the block, its head moved past the
// value when `advance`. May collect.
Cell insert_value(Cell block, Cell value, bool at_tail, bool advance);
// The same for every value of a block-like source from its head; the source may be the block.
// May collect.
Cell insert_block(Cell block, Cell values, bool at_tail, bool advance);

// ---- Changing, as the actions do -------------------------------------------------------------

// append of one value without refinements (a block value stays one value): the series at its
// head. Owners and a hash! index hear of it as from the action. May collect.
Cell append_value(Cell series, Cell value);

// The short roads of append and insert into a block that nobody watches (no owner's handlers, no
// hash! index) and whose buffer has room for what is written; anything else is left to the action,
// which decides as it always did. append_in_room writes one value, or the cells of another
// block-like value from its head, at the tail, and answers true with the block's head at 0, or
// false with nothing done. insert_in_room writes one value (not a block-like one) at the head
// (clamped to the tail) and answers the index just past it, or -1 with nothing done. Neither
// allocates.
inline bool append_in_room(Cell& block, const Cell& value) {
    const NodeId node = cell::series_node(block);
    SeriesBuffer* b = memory::buffer(node);
    if (b->flags & series_flag::watched) return false;
    if (!is_block_like(cell::type(value))) {
        if (b->tail + sizeof(Cell) > b->size) return false;
        std::memcpy(b->tail_ptr(), &value, sizeof(Cell));
        b->tail += sizeof(Cell);
    } else {
        if (cell::series_node(value) == node) return false;  // a block appended to itself
        SeriesBuffer* source = memory::buffer(cell::series_node(value));
        const uint32_t n = source->used() / sizeof(Cell);
        const auto raw = static_cast<int32_t>(cell::series_index(value));
        const uint32_t head = raw < 0 ? 0 : std::min(static_cast<uint32_t>(raw), n);
        const uint32_t bytes = (n - head) * static_cast<uint32_t>(sizeof(Cell));
        if (b->tail + uint64_t{bytes} > b->size) return false;
        std::memcpy(b->tail_ptr(), source->cells() + head, bytes);
        b->tail += bytes;
    }
    block.w1 = 0;
    return true;
}

inline int64_t insert_in_room(const Cell& block, const Cell& value) {
    if (is_block_like(cell::type(value))) return -1;
    SeriesBuffer* b = memory::buffer(cell::series_node(block));
    if ((b->flags & series_flag::watched) || b->tail + sizeof(Cell) > b->size) return -1;
    const uint32_t length = b->used() / sizeof(Cell);
    const auto raw = static_cast<int32_t>(cell::series_index(block));
    const uint32_t at = raw < 0 ? 0 : std::min(static_cast<uint32_t>(raw), length);
    Cell* cells = b->cells();
    if (at < length) std::memmove(cells + at + 1, cells + at, size_t{length - at} * sizeof(Cell));
    std::memcpy(cells + at, &value, sizeof(Cell));
    b->tail += sizeof(Cell);
    return at + 1;
}

// ---- Searching -------------------------------------------------------------------------------

// The cell after the first one equal to the key (find's equality), or none when the key is
// absent or last. Never allocates.
Cell select(Cell block, Cell key);
// The value after the first word!, set-word!, lit-word! or get-word! naming the word's symbol
// (exactly, or any case variant unless case_sensitive); none when absent or last.
Cell select_word(Cell block, Cell word, bool case_sensitive);
// Removes the first cell equal to the value (find's equality), searching from the buffer start
// or from the head. True when the removed cell lay at or before the head.
bool remove_equal(Cell block, Cell value, bool from_start);

// ---- Copying ---------------------------------------------------------------------------------

// A new value of the block's type holding copies of its cells from the head (room for at least
// one). Deep: nested block! values are cloned too, and with all_kinds paren! and the paths as
// well. A block met again inside itself raises internal no-cycle. May collect.
Cell clone(Cell block, bool deep, bool all_kinds);
// copy/types over a fresh copy: each cell whose type is the datatype! or in the typeset! and that
// is a series, object!, map!, bitset! or error! is replaced by its copy (deep when asked),
// new-line marker kept. `source` is the series it was copied from, for the cycle guard.
// May collect.
void copy_typed(NodeId copy, NodeId source, Cell types, bool deep);
// Replaces every series value among the cells from `from` by its deep copy. `source`, when not
// 0, is the series the cells were copied from: met again, it raises internal no-cycle.
// May collect.
void copy_deep(NodeId copy, uint32_t from, NodeId source);

// ---- Shared bodies of the actions ------------------------------------------------------------

// The cells from the head, molded and laid out by their new-line markers (flags.only: no line
// feed before a marked first cell and no extra level). Returns the budget left. May collect.
int32_t mold_each(Cell block, NodeId out, MoldFlags flags, int32_t limit);
// mold of a block: "[" + the cells as mold_each lays them out + "]", "(" ... ")" for paren!; the
// marker of the cycle guard when the block is being molded already. May collect.
int32_t mold(Cell block, NodeId out, MoldFlags flags, int32_t limit);
// form of a block: the values from the head formed, separated by spaces. May collect.
int32_t form(Cell block, NodeId out, int32_t limit);
// Element-wise comparison of two block-like values of any types (same?, cycles, lengths, then
// the cells). Answers -1, 0, 1, or kNotComparable from an element. Never allocates but to raise.
int32_t compare_each(Cell a, Cell b, int32_t op);
// The conversion of `to`: a typeset!'s datatypes, a block-like value's cells (a shallow copy), or
// else a block of that one value; a map!'s keys and values in turn. object! and vector! (their
// bodies and elements) raise internal not-done until those types are in place; string! is loaded.
// The result has the given type. May collect.
Cell convert(TypeId type, Cell value);

// ---- Search, sort and set operations (block_search.cpp) --------------------------------------

// The find action. A datatype! or typeset! value matches cells of its types, a block-like value
// (without /only) the sequence of its cells from its head, an empty one nothing; anything else is
// compared cell by cell (find's equality, strict with /case, identity with /same). /last and
// /reverse walk backward and may answer a position before the head. /any and /with mean nothing
// to blocks. None when not found. A hash! answers a forward search for one value from its index,
// which it may first rebuild: then it may collect. A block! never allocates but to raise.
Cell find(Cell series, Cell value, const FindOptions& options);
// find without refinements on a block! or paren! (not a hash!, which answers from its index) of an
// integer! or a word (word!, set-word!, lit-word!, get-word!), as the find action decides it: the
// index of the first equal cell from the head, -1 when there is none, or kUndecided for a value of
// another type. Never allocates.
inline constexpr int64_t kUndecided = -2;
int64_t find_plain(const Cell& series, const Cell& value);
// The select action: the cell after what find finds (after the whole sequence for a block-like
// value without /only), none when not found or when that is the tail. Allocates as find does.
Cell select(Cell series, Cell value, const FindOptions& options);
// The put action: the value after the key (one value, as with /only) is replaced when it differs,
// or the key and the value are appended when the key is absent. Answers the value. Tells the
// owner (put, put-ed), so may run user code. May collect.
Cell put(Cell series, Cell key, Cell value, bool case_sensitive);
// The sort action: records of /skip cells, ordered on their first cell, their /compare-th, or all
// of them (/all), with sort_compare, or by a /compare function (given the first cells, or with
// /all copies of the whole records in two scratch blocks). A negative /part sorts that many cells
// before the head and answers the series there. A compare function that resizes or moves the
// series raises script invalid-arg with it; the cells are then left as some permutation of what
// they were. Tells the owner (sort, sorted). May collect.
Cell sort(Cell series, const SortOptions& options);
// Calls a sort's compare function with two values, in a frame named <compare-callback>, and maps
// its answer to an order (positive: `second` sorts after `first`): true 1, false -1, an integer! its sign (negated when asked), a float! its sign (NaN 0),
// none -1, anything else 1. A break or continue that would leave the function raises the throw
// error of its kind. Runs user code: the caller holds its pointers under a collector guard.
int32_t call_comparator(Cell function, Cell first, Cell second, bool integer_negated);
// The default record comparator of sort (a sort::Compare): the comparison code in the first
// context word, the flags in the second: bit 0 the records swapped, bit 1 all cells compared,
// bits 2 up the record width (bit 1) or the offset of the one compared cell. Values without a
// common order go by their type ids. Never allocates but to raise.
int sort_compare(const void* a, const void* b, void* op, void* flags);

// Operation codes of the set natives.
enum SetOp : int32_t { set_unique = 8, set_union, set_intersect, set_exclude, set_difference };
// A set native on blocks: a new block! (from any block-like arguments, hash! included) of the
// records of `skip` cells (1 when null) that the operation keeps, each record whose first value is
// already there left out, in the order met: set a, then for union and difference set b. Equality
// is find's, strict when case_sensitive. typeset! and datatype! arguments go to typeset::combine.
// b is ignored for set_unique. Raises script invalid-arg for other arguments, invalid-refine-arg
// for a skip below 1. May collect.
Cell set_operation(int32_t op, Cell a, const Cell* b, bool case_sensitive, const Cell* skip);

// The traits row of a series of cells (block!, paren!, the paths): its position and node, hashed
// and found in indexes by identity, copied by copy/types. The kinds differ only in the marker a
// cycle molds as and in whether they evaluate to themselves.
constexpr type_traits::Traits cells_traits(std::string_view cycle_marker, bool self_evaluating) {
    type_traits::Traits row{
        .refs = {type_traits::Ref::none, type_traits::Ref::cells, type_traits::Ref::none},
        .hash = type_traits::hash_w1_w2,
        .same_words = type_traits::kW1 | type_traits::kW2,
        .key_words = type_traits::kW1 | type_traits::kW2,
        .copies = true,
    };
    row.cycle_marker = cycle_marker;
    row.self_evaluating = self_evaluating;
    return row;
}

}  // namespace zub::block
