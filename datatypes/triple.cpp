// triple!: being written.
#include "datatypes/registry.h"

namespace zub {

extern const ActionTable triple_actions = {};

}  // namespace zub
