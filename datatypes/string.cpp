// string!: being written.
#include "datatypes/registry.h"

namespace zub {

extern const ActionTable string_actions = {};

}  // namespace zub
