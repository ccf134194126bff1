// The registry's rows, and what the language does not reach of the unit types datatype!, unset!,
// none! and logic!. The rest is in tests/lang/unit-types.zub.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "runtime/error.h"
#include "tests/unit/runtime_fixture.h"

namespace zub {
namespace {

class UnitTypes : public RuntimeTest {
  protected:
    static std::string read(NodeId node) {
        std::string out;
        SeriesBuffer* b = memory::buffer(node);
        for (uint32_t i = 0; i < series::length(node); ++i)
            out += static_cast<char>(series::code_point_at(b->head_ptr(), b->unit(), i));
        return out;
    }
    static std::string form(Cell v) {
        const NodeId out = series::alloc_with_unit(16, 1);
        const int32_t left = registry::actions(cell::type(v)).form(v, out, 100);
        EXPECT_EQ(left, 100 - static_cast<int32_t>(series::length(out)));
        return read(out);
    }
    static std::string mold(Cell v, bool all = false) {
        const NodeId out = series::alloc_with_unit(16, 1);
        const int32_t left = registry::actions(cell::type(v)).mold(v, out, MoldFlags{false, all, false, 0}, 100);
        EXPECT_EQ(left, 100 - static_cast<int32_t>(series::length(out)));
        return read(out);
    }
    static int32_t compare(Cell a, Cell b, int32_t op) { return registry::actions(cell::type(a)).compare(a, b, op); }
    static Cell datatype(TypeId t) { return cell::make(TypeId::datatype, static_cast<uint32_t>(t)); }
};

TEST_F(UnitTypes, EveryRowIsFull) {
    for (uint32_t id = 1; id <= static_cast<uint32_t>(kTypeCount); ++id) {
        const auto* slots = reinterpret_cast<void* const*>(&registry::actions(static_cast<TypeId>(id)));
        for (int s = 0; s < kActionCount; ++s) EXPECT_NE(slots[s], nullptr) << "type " << id << " slot " << s;
    }
    // A child takes what it leaves out from its parent and keeps what it overrides.
    EXPECT_EQ(registry::actions(TypeId::set_word).form, registry::actions(TypeId::word).form);
    EXPECT_NE(registry::actions(TypeId::set_word).mold, registry::actions(TypeId::word).mold);
    EXPECT_EQ(registry::actions(TypeId::char_).even_q, registry::actions(TypeId::integer).even_q);
    EXPECT_EQ(registry::actions(TypeId::refinement).index_q, unsupported::index_q);
    EXPECT_NE(registry::actions(TypeId::word).index_q, unsupported::index_q);
    EXPECT_EQ(registry::name(TypeId::set_word), "set-word!");
    EXPECT_EQ(registry::parent(TypeId::file), TypeId::url);
    EXPECT_EQ(registry::parent(TypeId::integer), TypeId::integer);
    EXPECT_EQ(registry::action_word(Slot::length_q), "length?");
    EXPECT_EQ(registry::action_word(Slot::write), "write");
}

// sort's comparison, which no comparison native uses, and none's length as the action gives it.
TEST_F(UnitTypes, SortOrderAndNoneLength) {
    EXPECT_EQ(compare(cell::unset(), cell::unset(), op_sort), 0);
    EXPECT_EQ(compare(datatype(TypeId::block), datatype(TypeId::block), op_sort), kNotComparable);
    EXPECT_EQ(registry::actions(TypeId::none).length_q(cell::none()), -1);
}

}  // namespace
}  // namespace zub
