// Conditionals and loops.
#include "evaluator/natives.h"

namespace zub::natives::groups {

void control() {}

}  // namespace zub::natives::groups
