// The registry's rows and the four unit types: datatype!, unset!, none!, logic!.
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

TEST_F(UnitTypes, AMissingSlotRaisesExpectArg) {
    EXPECT_THROW(registry::actions(TypeId::logic).append(cell::logic(true), cell::none(), InsertOptions{}),
                 error::Thrown);
    EXPECT_EQ(error::pending().id, ErrorId::expect_arg);
    EXPECT_EQ(error::pending().args[1].w1, static_cast<uint32_t>(TypeId::logic));
    EXPECT_THROW(registry::actions(TypeId::datatype).make(TypeId::datatype, datatype(TypeId::datatype), cell::none()),
                 error::Thrown);
}

TEST_F(UnitTypes, FormAndMold) {
    struct Case { Cell value; const char* form; const char* mold; const char* mold_all; };
    const Case cases[] = {
        {datatype(TypeId::integer), "integer", "integer!", "#(integer!)"},
        {datatype(TypeId::point2D), "point2D", "point2D!", "#(point2D!)"},
        {cell::unset(), "", "unset", "#(unset)"},
        {cell::none(), "none", "none", "#(none)"},
        {cell::logic(true), "true", "true", "#(true)"},
        {cell::logic(false), "false", "false", "#(false)"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(form(c.value), c.form);
        EXPECT_EQ(mold(c.value), c.mold);
        EXPECT_EQ(mold(c.value, true), c.mold_all);
    }
}

TEST_F(UnitTypes, Compare) {
    const Cell t = cell::logic(true), f = cell::logic(false);
    struct Case { Cell a, b; int32_t op; int32_t answer; };
    const Case cases[] = {
        {datatype(TypeId::block), datatype(TypeId::block), op_equal, 0},
        {datatype(TypeId::block), datatype(TypeId::paren), op_equal, 1},
        {datatype(TypeId::block), cell::integer(5), op_equal, 1},
        {datatype(TypeId::block), datatype(TypeId::block), op_lesser, kNotComparable},
        {datatype(TypeId::block), datatype(TypeId::block), op_sort, kNotComparable},
        {cell::unset(), cell::unset(), op_sort, 0},
        {cell::unset(), cell::none(), op_equal, kNotComparable},
        {cell::none(), cell::none(), op_strict_equal, 0},
        {cell::none(), cell::none(), op_greater, kNotComparable},
        {t, t, op_equal, 0},
        {t, f, op_equal, 1},
        {t, cell::integer(1), op_equal, kNotComparable},
        {t, f, op_lesser, kNotComparable},
    };
    for (const Case& c : cases) EXPECT_EQ(compare(c.a, c.b, c.op), c.answer) << mold(c.a) << " op " << c.op;
}

TEST_F(UnitTypes, MakeAndToLogic) {
    const auto& logic = registry::actions(TypeId::logic);
    const Cell type = datatype(TypeId::logic);
    struct Case { Cell spec; bool make, to; };
    const Case cases[] = {
        {cell::integer(0), false, true},
        {cell::integer(-3), true, true},
        {cell::floating(0.0), false, true},
        {cell::floating(-0.0), false, true},
        {cell::floating(std::nan("")), true, true},
        {cell::none(), false, false},
        {cell::logic(false), false, false},
        {cell::unset(), true, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(cell::as_logic(logic.make(TypeId::logic, type, c.spec)), c.make) << mold(c.spec);
        EXPECT_EQ(cell::as_logic(logic.to(TypeId::logic, type, c.spec)), c.to) << mold(c.spec);
    }
    EXPECT_TRUE(cell::is(registry::actions(TypeId::none).make(TypeId::none, type, cell::integer(3)), TypeId::none));
    EXPECT_TRUE(cell::is(registry::actions(TypeId::unset).to(TypeId::unset, type, cell::integer(3)), TypeId::unset));
}

TEST_F(UnitTypes, LogicBitwise) {
    const auto& logic = registry::actions(TypeId::logic);
    const Cell t = cell::logic(true), f = cell::logic(false);
    EXPECT_FALSE(cell::as_logic(logic.and_(t, f)));
    EXPECT_TRUE(cell::as_logic(logic.or_(f, t)));
    EXPECT_FALSE(cell::as_logic(logic.xor_(t, t)));
    EXPECT_TRUE(cell::as_logic(logic.xor_(t, f)));
    EXPECT_FALSE(cell::as_logic(logic.complement(t)));
    EXPECT_THROW(logic.and_(t, cell::integer(1)), error::Thrown);
    EXPECT_EQ(error::pending().id, ErrorId::expect_arg);
    EXPECT_EQ(error::pending().args[1].w1, static_cast<uint32_t>(TypeId::integer));
    EXPECT_EQ(symbol::utf8(error::pending().args[2].w2), "value2");  // and~'s second argument
}

TEST_F(UnitTypes, SeriesActionsOnNoneAnswerNone) {
    const auto& none = registry::actions(TypeId::none);
    const Cell n = cell::none();
    EXPECT_EQ(none.length_q(n), -1);
    EXPECT_TRUE(cell::is(none.clear(n), TypeId::none));
    EXPECT_TRUE(cell::is(none.find(n, cell::integer(1), FindOptions{}), TypeId::none));
    EXPECT_TRUE(cell::is(none.select(n, cell::integer(1), FindOptions{}), TypeId::none));
    EXPECT_TRUE(cell::is(none.take(n, nullptr, false, false), TypeId::none));
    EXPECT_TRUE(cell::is(none.remove(n, nullptr, nullptr), TypeId::none));
}

}  // namespace
}  // namespace zub
