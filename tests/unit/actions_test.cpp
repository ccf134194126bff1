// The comparison entry and the generic entries' handling of the stack layout.
#include "evaluator/actions.h"
#include "evaluator/stack.h"
#include "runtime/error.h"
#include "runtime/unicode.h"
#include "tests/unit/runtime_fixture.h"

namespace zub {
namespace {

class Actions : public RuntimeTest {
  protected:
    // Calls a slot's generic entry as the interpreter does: mark, push, call, unwind.
    static Cell call(Slot slot, std::initializer_list<Cell> arguments, std::initializer_list<int32_t> refinements) {
        stack::mark(stack::FrameType::native, word(std::string(registry::action_word(slot)).c_str()));
        for (const Cell& a : arguments) stack::push(a);
        const std::vector<int32_t> r(refinements);
        actions::entry(slot)(r.data());
        stack::unwind();
        const Cell out = stack::top_cell();
        stack::pop(1);
        return out;
    }
    static std::string text(const Cell& s) {
        Cell copy = s;
        const unicode::Converted c = unicode::string_to_utf8(copy);
        return std::string(reinterpret_cast<const char*>(c.data), c.size);
    }
};

TEST_F(Actions, CompareTruthByOperation) {
    const Cell t = cell::logic(true), f = cell::logic(false);
    struct Case { Cell a, b; int32_t op; bool truth; };
    const Case cases[] = {
        {t, t, op_equal, true},          {t, f, op_equal, false},      {t, f, op_not_equal, true},
        {t, cell::integer(1), op_equal, false},  // cannot compare: simply unequal
        {t, cell::integer(1), op_not_equal, true},
        {word("a"), word("A"), op_equal, true},  {word("a"), word("A"), op_strict_equal, false},
        {word("a"), word("b"), op_lesser, true}, {word("a"), word("b"), op_lesser_or_equal, true},
        {word("b"), word("b"), op_greater_or_equal, true}, {word("b"), word("a"), op_greater, true},
    };
    for (const Case& c : cases) EXPECT_EQ(actions::compare(c.a, c.b, c.op), c.truth) << c.op;
}

TEST_F(Actions, OrderingValuesWithoutAnOrderIsAnError) {
    EXPECT_THROW(actions::compare(cell::logic(true), cell::logic(false), op_lesser), Thrown);
    EXPECT_EQ(error::pending().id, ErrorId::invalid_compare);
    EXPECT_THROW(actions::compare(word("a"), cell::none(), op_greater), Thrown);
}

TEST_F(Actions, FormAndMoldHonourTheLimit) {
    const Cell none = cell::none();
    EXPECT_EQ(text(call(Slot::mold, {none, cell::integer(2)}, {-1, -1, -1, 1})), "no");
    EXPECT_EQ(text(call(Slot::mold, {none, cell::logic(true)}, {-1, 1, -1, -1})), "#(none)");
    EXPECT_EQ(text(call(Slot::form, {word("hello"), cell::integer(0)}, {1})), "");
    EXPECT_EQ(text(call(Slot::form, {word("hello")}, {-1})), "hello");
    EXPECT_EQ(stack::index_of(stack::g_top), 0u);
}

TEST_F(Actions, MakeDispatchesOnTheTypeNamed) {
    const Cell logic = cell::make(TypeId::datatype, static_cast<uint32_t>(TypeId::logic));
    EXPECT_FALSE(cell::as_logic(call(Slot::make, {logic, cell::integer(0)}, {})));
    EXPECT_TRUE(cell::as_logic(call(Slot::to, {cell::logic(false), cell::integer(0)}, {})));  // by prototype
}

TEST_F(Actions, LengthOfNoneIsNone) {
    EXPECT_TRUE(cell::is(call(Slot::length_q, {cell::none()}, {}), TypeId::none));
}

TEST_F(Actions, AppendAndInsertMeasureTheirPartOnTheValue) {
    const Cell target = block_of({});
    const Cell source = block_of({cell::integer(1), cell::integer(2), cell::integer(3)});
    call(Slot::append, {target, source, cell::integer(2)}, {2, -1, -1});
    EXPECT_EQ(series::length(target.w2), 2u);
    Cell at_third = source;
    at_third.w1 = 2;
    call(Slot::append, {target, source, at_third}, {2, -1, -1});  // a position in the value
    EXPECT_EQ(series::length(target.w2), 4u);
    call(Slot::append, {target, source, cell::integer(0)}, {2, -1, -1});  // nothing
    EXPECT_EQ(series::length(target.w2), 4u);
    EXPECT_THROW(call(Slot::append, {target, cell::integer(7), cell::integer(1)}, {2, -1, -1}), Thrown);
    EXPECT_EQ(error::pending().id, ErrorId::invalid_part);
    // change measures its part on the series it changes.
    call(Slot::change, {target, cell::integer(9), cell::integer(3)}, {2, -1, -1});
    EXPECT_EQ(series::length(target.w2), 2u);
}

TEST_F(Actions, PickPokeIndex) {
    EXPECT_EQ(actions::pick_poke_index(cell::logic(true)), 1);
    EXPECT_EQ(actions::pick_poke_index(cell::logic(false)), 2);
    EXPECT_EQ(actions::pick_poke_index(cell::character('a')), 97);
    EXPECT_EQ(actions::pick_poke_index(cell::none()), 0);
}

TEST_F(Actions, AnActionOnATypeWithoutItNamesTheCall) {
    EXPECT_THROW(call(Slot::negate, {cell::none()}, {}), Thrown);
    EXPECT_EQ(error::pending().id, ErrorId::expect_arg);
    EXPECT_EQ(symbol::utf8(error::pending().where), "negate");
    EXPECT_EQ(symbol::utf8(error::pending().args[0].w2), "negate");
    EXPECT_EQ(error::pending().args[1].w1, static_cast<uint32_t>(TypeId::none));
    EXPECT_TRUE(cell::is(error::pending().args[2], TypeId::word));  // the action's first argument
}

}  // namespace
}  // namespace zub
