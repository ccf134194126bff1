// hash!: a block that carries a hash index of its values (w3 of its cell) for find, select and
// put. The block's own modifying actions leave the index to catch up lazily: values appended at
// the tail are indexed at the next lookup, any other change has it rebuilt then.
#pragma once

#include <cstdint>

#include "evaluator/words.h"
#include "runtime/cell.h"
#include "runtime/memory.h"

namespace zub::hash_block {

// The value with a new index over all of its block's values in w3. May collect.
Cell index(Cell value);

// The index of the value's block, brought in step with the block, or 0 when the value carries no
// index of that block (a block! value, or a hash! cell made without one): then search linearly.
// May collect (a rebuild allocates).
NodeId synced_index(const Cell& value);

// Called before a modifying action changes a block whose buffer is flagged `indexed`: an append
// at the tail keeps the index usable (the new tail is indexed later), anything else marks it
// stale. Never allocates.
void note_change(const Cell& value, words::Word action, int64_t index);

}  // namespace zub::hash_block
