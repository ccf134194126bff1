// symbol!'s action table; the symbol table itself belongs to the runtime (runtime/symbol.h).
#include <string_view>

#include "datatypes/actions.h"
#include "runtime/memory.h"
#include "runtime/symbol.h"

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

}  // namespace

extern const ActionTable symbol_actions = {
    .compare = symbol_compare,
};

}  // namespace zub
