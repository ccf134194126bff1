// series!: being written.
#include "datatypes/registry.h"

namespace zub {

extern const ActionTable series_actions = {};

}  // namespace zub
