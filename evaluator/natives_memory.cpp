// Memory natives: recycle and stats.
#include "evaluator/natives.h"

namespace zub::natives::groups {

void memory() {}

}  // namespace zub::natives::groups
