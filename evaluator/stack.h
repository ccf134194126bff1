// The evaluation stack: one fixed array of cells where arguments are pushed and results left. It
// never moves, so a pointer to one of its cells stays valid; the collector marks it as a root.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace zub::stack {

inline constexpr uint32_t kCells = 20000;

extern Cell g_cells[kCells];
extern uint32_t g_top;  // first free cell

inline Cell& at(uint32_t index) { return g_cells[index]; }

}  // namespace zub::stack
