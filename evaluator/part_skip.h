// The checks of /part and /skip arguments, with their errors, for the natives and for the series
// types' actions alike. Each allocates nothing but to raise.
#pragma once

#include <cstdint>

#include "evaluator/words.h"
#include "runtime/cell.h"

namespace zub::part_skip {

// Raises script invalid-refine-arg with the refinement's word and the argument.
[[noreturn]] void refuse(words::Word refinement, const Cell& argument);

// ---- /part --------------------------------------------------------------------------------------

// The length a /part argument gives for a series value: an integer as it is, or a position in the
// same series (the distance to it); -1 without the refinement (part null). A negative length moves
// the value's start back by as much as there is. Returns false when the call has nothing to do. A
// type without parts raises script invalid-part; any other argument raises invalid-refine-arg with
// the word part.
bool part(Cell& series, const Cell* part, int32_t& length);

// The length a /part argument gives, the value left as it is: an integer! as it is, or a series of
// the same type and buffer as the value, the difference of their heads (negative when it lies
// before). Anything else raises script invalid-refine-arg with the word part and the argument.
int64_t length(const Cell& value, const Cell& part);

// The units from `head` (of `total` in all) that a /part argument covers, when a negative length
// reaches back before the head (as sort's does): `head` moves back by as much as there is and the
// count is what it passed over; otherwise the count from the head, cut at the tail. Without the
// refinement (part null), everything from the head.
int64_t part_range(const Cell& series, const Cell* part, uint32_t total, uint32_t& head);

// ---- /skip --------------------------------------------------------------------------------------

// The record size a /skip argument gives: an integer. Anything else raises script
// invalid-refine-arg with the word skip.
int32_t skip(const Cell& size);

// The step of a walk: 1 without /skip (size null), else the size, which must be at least 1: a
// smaller one raises script out-of-range with it.
int32_t step(const Cell* size);

// A record size that must be at least 1; a smaller one raises invalid-refine-arg with the word
// skip.
int32_t positive(const Cell& size);

// A record size that cuts count units into whole records: at least 1, at most count and dividing
// it. Anything else raises invalid-refine-arg with the word skip.
int32_t records(const Cell& size, int64_t count);

}  // namespace zub::part_skip
