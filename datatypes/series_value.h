// Routines on series values that the series types' actions share (block!, string! and their
// children, binary!, vector!, image!). Buffer-level helpers (growth, units, part copies) are the
// runtime's, in runtime/series.h; these work on a value: a head index in units and a node.
#pragma once

#include <algorithm>
#include <cstdint>

#include "datatypes/hash.h"
#include "datatypes/ownership.h"
#include "evaluator/words.h"
#include "runtime/cell.h"
#include "runtime/lowrt.h"
#include "runtime/memory.h"

namespace zub::series_value {

// The buffer's unit width, which is one of 1, 2, 4, 8 or 16 bytes; anything else is fatal.
inline uint32_t checked_unit(const SeriesBuffer* b) {
    const uint32_t unit = b->unit();
    if (unit != 1 && unit != 2 && unit != 4 && unit != 8 && unit != 16) lowrt::fatal(lowrt::Fatal::no_switch);
    return unit;
}

// The head index; it may lie past the tail. A negative index, which no action makes, counts as 0.
inline int64_t raw_head(const Cell& value) {
    return std::max<int64_t>(0, static_cast<int32_t>(cell::series_index(value)));
}

// Units in the value's buffer, whatever its head. Never allocates.
uint32_t buffer_length(const Cell& value);

// Whether the head is at or past the tail. Never allocates.
bool at_tail(const Cell& value);

// Moves the head n units on, but only when that stays at or before the tail; answers whether the
// (possibly moved) head is at the tail. Never allocates.
bool skip_forward(Cell& value, int32_t n);

// The new head index of `at` (at true) or `skip` for the offset, clamped to the buffer. With k
// the offset: at goes to head + k - 1 for k >= 1, else to head + k; skip to head + k. A
// non-integer offset raises script invalid-arg with it. Never allocates but to raise.
uint32_t position(const Cell& value, const Cell& offset, bool at);

// Units from the head to the tail (from unit 0 when absolute). A head past the tail is first
// moved back to the tail. Never allocates.
uint32_t length_from_head(Cell& value, bool absolute);

// The element at a unit index from the buffer start, as pick gives it: the cell for cell series,
// an integer! for binary!, the element for vector!, a char! for text. The index must lie in the
// buffer. Never allocates.
Cell element_at(const Cell& value, uint32_t index);

// Tells the series' owner, when it has one with change handlers, that an action is about to
// change it or has changed it (the action's word or its past form: clear, cleared ...). Runs
// user code: may collect and may change the series itself, so re-derive everything afterwards.
void tell_owner(const Cell& value, words::Word action, int64_t index, int64_t part);
// A hash! index over the series hears of the change first, so that lookups made by the owner's
// handler already see it as stale.
inline void notify_owner(const Cell& value, words::Word action, int64_t index, int64_t part) {
    if (cell::is(value, TypeId::image)) {
        if (ownership::is_owned(value)) tell_owner(value, action, index, part);
        return;
    }
    const uint32_t flags = memory::buffer(value.w2)->flags;
    if (!(flags & series_flag::watched)) return;  // the common case: one test
    if (flags & series_flag::indexed) hash_block::note_change(value, action, index);
    if (flags & series_flag::owned) tell_owner(value, action, index, part);
}

}  // namespace zub::series_value
