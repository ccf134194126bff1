// char!: being written.
#include "datatypes/registry.h"

namespace zub {

extern const ActionTable char_actions = {};

}  // namespace zub
