// Set operations, text and data conversion natives.
#include "evaluator/natives.h"

namespace zub::natives::groups {

void data() {}

}  // namespace zub::natives::groups
