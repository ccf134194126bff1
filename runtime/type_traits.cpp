#include "runtime/type_traits.h"

#include <cmath>
#include <cstddef>

#include "runtime/hash.h"
#include "runtime/series.h"

namespace zub::type_traits {

Traits g_rows[kTypeIdLimit];
uint64_t g_self_evaluating = 0;
uint8_t g_ref_words[kTypeIdLimit] = {};

void set(TypeId type, const Traits& row) {
    const auto i = static_cast<uint8_t>(type);
    g_rows[i] = row;
    g_ref_words[i] = static_cast<uint8_t>((row.refs[0] != Ref::none ? kW1 : 0) | (row.refs[1] != Ref::none ? kW2 : 0) |
                                          (row.refs[2] != Ref::none ? kW3 : 0));
    const uint64_t bit = type_group::bit(type);
    g_self_evaluating = row.self_evaluating ? g_self_evaluating | bit : g_self_evaluating & ~bit;
}

namespace {

uint32_t murmur_words(const Cell& c, int first, int count) {
    return hash::murmur3(reinterpret_cast<const std::byte*>(&c) + 4 * first, 4 * count);
}

}  // namespace

uint32_t hash_w1(const Cell& c) { return hash::fmix32(c.w1); }
uint32_t hash_w2(const Cell& c) { return hash::fmix32(c.w2); }
// Sixteen consecutive values land in sixteen neighbouring buckets (one line of bucket keys), and
// which sixteen, and where in them, is mixed from the rest: keys counted up are looked up without
// a cache miss each, while strides (multiples of 16 too) spread as a full mix spreads them.
uint32_t hash_w2_near(const Cell& c) { return c.w2; }
uint32_t hash_w3(const Cell& c) { return hash::fmix32(c.w3); }
uint32_t hash_w1_w2(const Cell& c) { return murmur_words(c, 1, 2); }
uint32_t hash_w2_w3(const Cell& c) { return murmur_words(c, 2, 2); }
uint32_t hash_float(const Cell& c) {
    return std::isnan(cell::as_float(c)) ? hash::fmix32(0x7FF80000) : murmur_words(c, 2, 2);
}
uint32_t hash_w1_w2_w3(const Cell& c) { return murmur_words(c, 1, 3); }
uint32_t hash_text(const Cell& c) {
    return series::hash_text(cell::series_node(c), cell::series_index(c), series::kToTail, false);
}

}  // namespace zub::type_traits
