// Series ownership: which object field holds a series, so that an in-place change to the series
// (an append to a block in a field, a change to a string nested in it) can reach the object's
// deep-change handler. Setting a field records its series, recursively; replacing or clearing
// the field removes the records. The table keeps its series, values and owners alive.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace zub::ownership {

// Creates the table (room for 1000 records). Once, at start; may collect.
void init();
NodeId table();

// Whether values of the type can have an owner record.
bool owned_kind(TypeId type);

inline constexpr uint32_t kImageOwned = cell_flag::owns_series;  // image! keeps the flag in its cell

// Whether the value's series has an owner record (the flag saves a table lookup).
inline bool is_owned(const Cell& value) {
    if (cell::is(value, TypeId::image)) return (value.header & kImageOwned) != 0;
    return (memory::buffer(value.w2)->flags & series_flag::owned) != 0;
}

// Records the owner object and its field word for the value's series and, for blocks, for every
// series nested in it from the value's position; an object's fields are recorded under the
// object's own words. A series already owned keeps its first owner.
// Cells are taken by value: they may come from series that the recording moves. May collect.
void set(Cell value, Cell owner, Cell field);
// set, except that an object's fields are recorded under `field` too, at every depth: for a
// value held by the owner's field, whose in-place changes the owner hears of under that field.
void set_in_field(Cell value, Cell owner, Cell field);
// Records the value for the owner, then flags the owner's context as owning series. When the
// value is the owner itself, each field's series, nested objects' ones included, is recorded
// under that field's word.
void set_and_mark_owner(Cell value, Cell owner, Cell field);
// Removes the value's record and, for a block whose record was found, those of what it holds.
void unset(Cell value);
// unset for count cells of a block from the unit index.
void unset_range(NodeId block, uint32_t index, uint32_t count);

// The owner cell of the series' record (the field word follows it), or null. Valid until the
// next allocation.
const Cell* owner_of(NodeId series);

// Runs the owner's deep-change notification after an in-place change to the value's series when
// the owner carries change handlers (w3 of the owner cell). True when a notification ran.
using Notify = void (*)(const Cell& owner, const Cell& field, const Cell& value, Cell action, int32_t index,
                        int32_t part);
void set_notify(Notify notify);  // installed by objects; none until then
bool check(Cell value, Cell action, int32_t index, int32_t part);

}  // namespace zub::ownership
