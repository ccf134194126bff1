// float!: being written.
#include "datatypes/registry.h"

namespace zub {

extern const ActionTable float_actions = {};

}  // namespace zub
