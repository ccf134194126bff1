// Comparison, logic and math natives.
#include "evaluator/natives.h"

namespace zub::natives::groups {

void math() {}

}  // namespace zub::natives::groups
