// The types whose actions are not built yet: each has an empty action table (every slot inherited
// from its parent or unsupported) and the traits row its values already need, since the lexer and
// some natives make them. Building one means giving it its own file and taking its line out of here.
#include <algorithm>

#include "datatypes/actions.h"
#include "datatypes/money.h"
#include "runtime/hash.h"
#include "runtime/memory.h"
#include "runtime/type_traits.h"

namespace zub {
namespace {

using type_traits::kW1;
using type_traits::kW2;
using type_traits::kW3;
using type_traits::Ref;

// Zero has no sign, and header flags such as the new-line marker are not part of the amount.
uint32_t money_hash(const Cell& c) {
    Cell m = c;
    m.header = static_cast<uint32_t>(TypeId::money) | (money::is_zero(c) ? 0 : c.header & money::kSignFlag);
    return hash::murmur3(&m, sizeof m);
}

// Equal amounts in the same currency; every zero is the same zero.
bool money_same(const Cell& a, const Cell& b) {
    if (money::is_zero(a) && money::is_zero(b)) return money::currency(a) == money::currency(b);
    return money::negative(a) == money::negative(b) && type_traits::words_equal(a, b, kW1 | kW2 | kW3);
}

}  // namespace

#define ZUB_NOT_BUILT(stem, ...)                  \
    extern const ActionTable stem##_actions = {}; \
    extern const type_traits::Traits stem##_traits = {__VA_ARGS__};

ZUB_NOT_BUILT(date, .hash = type_traits::hash_w1_w2_w3)
ZUB_NOT_BUILT(port, .refs = {Ref::cells, Ref::none, Ref::bytes}, .key_words = kW1, .walk_word = 1)
ZUB_NOT_BUILT(money, .hash = money_hash, .same = money_same)
ZUB_NOT_BUILT(image, .refs = {Ref::none, Ref::bytes, Ref::none}, .hash = type_traits::hash_w1_w2,
              .same_words = kW1 | kW2, .key_words = kW1 | kW2, .copies = true)
ZUB_NOT_BUILT(event, .refs = {Ref::none, Ref::cells, Ref::none}, .gate = type_traits::Gate::flag_set, .gated = kW2,
              .gate_flags = cell_flag::event_series, .hash = type_traits::hash_w2)

#undef ZUB_NOT_BUILT

}  // namespace zub
