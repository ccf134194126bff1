// A cache of contexts by node: their context! cell and where their values are. Reaching a
// word's value is then one check and one load instead of walking the context, its values series
// and their buffers. Entries hold while no buffer moves and no collection runs (memory::g_moves);
// a function context's values live on the evaluation stack and move with every call, so the
// stack tells the cache each time they do.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace zub::context {

struct ValuesEntry {
    NodeId context;
    uint32_t moves;
    Cell* cell;    // the context! cell
    Cell* values;  // the values; for values on the stack, null while no call of the function runs
    bool object;   // an object's context: its fields notify when set
};
// Big enough that the few contexts a loop uses rarely share an entry: two that do evict each
// other on every word. Only the entries in use take cache lines.
inline constexpr uint32_t kValuesCache = 1024;
extern ValuesEntry g_values_cache[kValuesCache];

// Where a context! cell's values are (its w2): their node, or, with cell_flag::stack_values, their
// place on the evaluation stack (a cell index + 1; 0 while no call of the function runs).
inline uint32_t values_of(const Cell& context_cell) { return context_cell.w2; }
inline void set_values_of(Cell& context_cell, uint32_t values) { context_cell.w2 = values; }

inline ValuesEntry& cache_place(NodeId context) { return g_values_cache[context & (kValuesCache - 1)]; }
// Whether an entry holds the context and no buffer has moved since it was filled.
inline bool valid(const ValuesEntry& e, NodeId context) { return e.context == context && e.moves == memory::g_moves; }

}  // namespace zub::context
