// block!: being written.
#include "datatypes/registry.h"

namespace zub {

extern const ActionTable block_actions = {};

}  // namespace zub
