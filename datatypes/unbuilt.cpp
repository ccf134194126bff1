// The types whose actions are not built yet: each has an action table that refuses make and to
// (every other slot inherited from its parent or unsupported) and the traits row its values
// already need. Building one means giving it its own file and taking its line out of here.
#include "datatypes/actions.h"
#include "runtime/error.h"
#include "runtime/type_traits.h"

namespace zub {
namespace {

using type_traits::kW2;
using type_traits::Ref;

}  // namespace

// Making a value of a type not built yet is refused outright: its parent's make would hand back a
// value of the parent's shape under this type's name, which nothing else could read.
[[noreturn]] Cell make_not_built(TypeId, Cell, Cell) { error::fire(ErrorId::not_done); }

#define ZUB_NOT_BUILT(stem, ...)                                                              \
    extern const ActionTable stem##_actions = {.make = make_not_built, .to = make_not_built}; \
    extern const type_traits::Traits stem##_traits = {__VA_ARGS__};

// (every type is built now; the macro stays for the next new one)

#undef ZUB_NOT_BUILT

}  // namespace zub
