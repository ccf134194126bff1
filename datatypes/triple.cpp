// triple!: three signed 32-bit integers that the runtime holds and prints but never computes with.
// Only form and mold are its own; every other action reaches the "not supported" entry.
#include "datatypes/integer.h"
#include "datatypes/mold.h"
#include "datatypes/registry.h"
#include "runtime/type_traits.h"

namespace zub {
namespace {

// Written as the construction it would take to make one, since it has no literal of its own.
int32_t triple_form(Cell value, NodeId out, int32_t limit) {
    limit = mold::emit(out, "make triple! [", limit);
    const uint32_t parts[3] = {value.w1, value.w2, value.w3};
    for (int i = 0; i < 3; ++i) {
        if (i > 0) limit = mold::emit(out, " ", limit);
        limit = mold::emit(out, integer::form_signed(static_cast<int32_t>(parts[i])).view(), limit);
    }
    return mold::emit(out, "]", limit);
}

int32_t triple_mold(Cell value, NodeId out, MoldFlags, int32_t limit) { return triple_form(value, out, limit); }

}  // namespace

extern const ActionTable triple_actions = {
    .form = triple_form,
    .mold = triple_mold,
};

extern const type_traits::Traits triple_traits = {.hash = type_traits::hash_w1_w2_w3};

}  // namespace zub
