// time!: being written.
#include "datatypes/registry.h"

namespace zub {

extern const ActionTable time_actions = {};

}  // namespace zub
