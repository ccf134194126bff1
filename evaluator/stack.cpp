#include "evaluator/stack.h"

namespace zub::stack {

Cell g_cells[kCells];
uint32_t g_top = 0;

}  // namespace zub::stack
