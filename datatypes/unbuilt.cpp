// The types whose actions are not built yet: each has an empty action table (every slot inherited
// from its parent or unsupported) and the traits row its values already need, since the lexer and
// some natives make them. Building one means giving it its own file and taking its line out of here.
#include <algorithm>

#include "datatypes/actions.h"
#include "datatypes/tuple.h"
#include "runtime/hash.h"
#include "runtime/memory.h"
#include "runtime/type_traits.h"

namespace zub {
namespace {

using type_traits::kW1;
using type_traits::kW2;
using type_traits::kW3;
using type_traits::Ref;

// binary! hashes its bytes from the head.
uint32_t binary_hash(const Cell& c) {
    SeriesBuffer* b = memory::buffer(cell::series_node(c));
    const uint32_t used = b->used();
    const uint32_t at = std::min(cell::series_index(c), used);
    return hash::murmur3(b->head_ptr() + at, used - at);
}

// The counted bytes only.
uint32_t tuple_hash(const Cell& c) {
    uint8_t bytes[tuple::kMaxBytes];
    tuple::bytes(c, bytes);
    return hash::murmur3(bytes, std::min(tuple::count(c), tuple::kMaxBytes));
}

// Bytes past the count are kept zero, so equal bytes and counts are the same tuple.
bool tuple_same(const Cell& a, const Cell& b) {
    return tuple::count(a) == tuple::count(b) && type_traits::words_equal(a, b, kW1 | kW2 | kW3);
}

}  // namespace

#define ZUB_NOT_BUILT(stem, ...)                  \
    extern const ActionTable stem##_actions = {}; \
    extern const type_traits::Traits stem##_traits = {__VA_ARGS__};

ZUB_NOT_BUILT(bitset, .refs = {Ref::none, Ref::bytes, Ref::none}, .same_words = kW2, .copies = true)
ZUB_NOT_BUILT(vector, .refs = {Ref::none, Ref::bytes, Ref::none}, .same_words = kW1 | kW2, .copies = true)
ZUB_NOT_BUILT(hash, .refs = {Ref::none, Ref::cells, Ref::table}, .hash = type_traits::hash_w1_w2,
              .same_words = kW1 | kW2, .key_words = kW1 | kW2, .cycle_marker = "[...]", .copies = true)
ZUB_NOT_BUILT(pair, .hash = type_traits::hash_w2_w3, .same_words = kW2 | kW3)
ZUB_NOT_BUILT(tuple, .hash = tuple_hash, .same = tuple_same)
ZUB_NOT_BUILT(map, .refs = {Ref::none, Ref::cells, Ref::table}, .hash = type_traits::hash_w2, .key_words = kW2,
              .cycle_marker = "#[...]", .copies = true)
ZUB_NOT_BUILT(binary, .refs = {Ref::none, Ref::bytes, Ref::none}, .hash = binary_hash, .same_words = kW1 | kW2,
              .copies = true)
ZUB_NOT_BUILT(handle, .refs = {Ref::none, Ref::none, Ref::handle}, .hash = type_traits::hash_w2)
ZUB_NOT_BUILT(port, .refs = {Ref::cells, Ref::none, Ref::bytes}, .key_words = kW1, .walk_word = 1)
ZUB_NOT_BUILT(point2D, .hash = type_traits::hash_w1_w2, .same_words = kW1 | kW2)
ZUB_NOT_BUILT(point3D, .hash = type_traits::hash_w1_w2_w3)
ZUB_NOT_BUILT(image, .refs = {Ref::none, Ref::bytes, Ref::none}, .hash = type_traits::hash_w1_w2,
              .same_words = kW1 | kW2, .key_words = kW1 | kW2, .copies = true)
ZUB_NOT_BUILT(event, .refs = {Ref::none, Ref::cells, Ref::none}, .gate = type_traits::Gate::flag_set, .gated = kW2,
              .gate_flags = cell_flag::event_series, .hash = type_traits::hash_w2)

#undef ZUB_NOT_BUILT

}  // namespace zub
