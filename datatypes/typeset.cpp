// typeset!: being written.
#include "datatypes/registry.h"

namespace zub {

extern const ActionTable typeset_actions = {};

}  // namespace zub
