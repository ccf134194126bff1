// Evaluation, binding and exit natives.
#include "evaluator/natives.h"

namespace zub::natives::groups {

void evaluation() {}

}  // namespace zub::natives::groups
