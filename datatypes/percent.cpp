// percent!: being written.
#include "datatypes/registry.h"

namespace zub {

extern const ActionTable percent_actions = {};

}  // namespace zub
