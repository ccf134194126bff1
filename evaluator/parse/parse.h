// The parse dialect's engine: matches a block of rules against a block, text or binary input on two
// explicit stacks (rule frames and entered inputs), so rules nested without bound cost stack
// cells, never machine stack, and overflow as script parse-stack.
#pragma once

#include <cstdint>

#include "evaluator/exits.h"
#include "runtime/cell.h"

namespace zub::parse {

// Cells either stack may hold; the cell that would reach one more raises script parse-stack.
inline constexpr uint32_t kStackCells = 10000;

// Registers the stacks with the collector. Once, at start, after the collector's reset.
void init();

// Matches the rules against the input from its index up to `limit` (a unit index in the input's
// buffer; the tail wherever it lies now when larger). `result` is true when the rules matched
// the whole input, or the block an outermost collect gathered. `callback`, when not null, is a
// function called for every step (the trace); the cell must stay where it is during the call.
// Parens in the rules run as code, so it passes on their break, continue, return and exit. May
// collect.
Status process(Cell input, Cell rules, bool case_sensitive, uint32_t limit, const Cell* callback, Cell& result);

}  // namespace zub::parse
