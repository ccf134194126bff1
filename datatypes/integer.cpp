// integer!: being written.
#include "datatypes/registry.h"

namespace zub {

extern const ActionTable integer_actions = {};

}  // namespace zub
