// The path family and paren!: being written.
#include "datatypes/registry.h"

namespace zub {

extern const ActionTable paren_actions = {};
extern const ActionTable path_actions = {};
extern const ActionTable lit_path_actions = {};
extern const ActionTable set_path_actions = {};
extern const ActionTable get_path_actions = {};

}  // namespace zub
