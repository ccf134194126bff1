// symbol!'s action table; the symbol table itself belongs to the runtime (runtime/symbol.h).
#include <string_view>

#include "datatypes/actions.h"
#include "runtime/hash.h"
#include "runtime/memory.h"
#include "runtime/symbol.h"
#include "runtime/type_traits.h"

namespace zub {
namespace {

// Symbols order by their names; equality is strict only for strict-equal.
std::string_view name_of(const Cell& symbol_cell) {
    SeriesBuffer* b = memory::buffer(symbol_cell.w3);
    return {reinterpret_cast<const char*>(b->head_ptr()), b->used()};
}

int32_t symbol_compare(Cell a, Cell b, int32_t op) {
    if (!cell::is(b, TypeId::symbol)) return kNotComparable;
    return symbol::compare_utf8(name_of(a), name_of(b), op == op_strict_equal);
}

// A symbol hashes by its name with ASCII capitals folded, as names are looked up; one pass over
// the bytes, nothing allocated.
uint32_t symbol_hash(const Cell& c) {
    SeriesBuffer* b = memory::buffer(c.w3);
    const auto* p = reinterpret_cast<const uint8_t*>(b->head_ptr());
    uint32_t h = 2166136261u;
    for (uint32_t i = 0, n = b->used(); i < n; ++i) {
        const uint8_t ch = p[i] >= 'A' && p[i] <= 'Z' ? p[i] + 32 : p[i];
        h = (h ^ ch) * 16777619u;
    }
    return hash::fmix32(h);
}

}  // namespace

extern const ActionTable symbol_actions = {
    .compare = symbol_compare,
};

// A symbol's series and its UTF-8 name.
extern const type_traits::Traits symbol_traits = {
    .refs = {type_traits::Ref::none, type_traits::Ref::bytes, type_traits::Ref::bytes},
    .hash = symbol_hash,
};

}  // namespace zub
