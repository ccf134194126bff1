// Output, time, environment and runtime natives.
#include "evaluator/natives.h"

namespace zub::natives::groups {

void output() {}

}  // namespace zub::natives::groups
