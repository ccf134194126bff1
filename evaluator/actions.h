// Action dispatch: the generic entry of each action, which reads its arguments from the evaluation
// stack and calls the direct entry of the first argument's type, and the comparison on which every
// equality and ordering of the system rests.
#pragma once

#include <cstdint>

#include "datatypes/actions.h"
#include "runtime/cell.h"

namespace zub::actions {

// The generic entry of a slot. Arguments are at stack::args()[0], [1], ...; refinements[i] is -1
// when the i-th refinement is absent, else the position of its first argument counted from the
// arguments base (refinements without argument are at the position of a logic). The result goes
// to stack::args()[0]. May collect.
using Entry = void (*)(const int32_t* refinements);
extern const Entry g_entries[kActionCount];
inline Entry entry(Slot slot) { return g_entries[static_cast<uint8_t>(slot)]; }

// Compares two values: < 0, 0, > 0, or kNotComparable when they cannot be ordered.
int32_t compare_direct(Cell a, Cell b, int32_t op);
// The truth of a comparison by operation code (equal to greater-or-equal, and the equality
// variants 9 to 12). Raises script invalid-compare for an ordering of values that have none.
bool compare(Cell a, Cell b, int32_t op);

// The index of pick and poke: 1 for true, 2 for false, the value of an integer or char, else 0.
int32_t pick_poke_index(const Cell& index);

}  // namespace zub::actions
