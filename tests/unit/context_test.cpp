// Contexts: word tables, binding, reading and writing values, function and object contexts.
#include "evaluator/stack.h"
#include "runtime/error.h"
#include "tests/unit/runtime_fixture.h"

namespace zub {
namespace {

class Contexts : public RuntimeTest {};

TEST_F(Contexts, SpecBlockGivesOneWordPerName) {
    const Cell spec = block_of({word("a"), word("A"), word("b", TypeId::refinement), cell::integer(1)});
    const NodeId ctx = context::make_from_spec(spec, false, false, context::Kind::object);
    EXPECT_EQ(context::word_count(ctx), 2u);
    EXPECT_EQ(memory::buffer(context::cell_of(ctx).w2)->size, 4 * sizeof(Cell));
    EXPECT_EQ(series::length(context::cell_of(ctx).w2), 2u);
    EXPECT_EQ(context::find_word(ctx, symbol::make("A"), true), 0);
    EXPECT_EQ(context::find_word(ctx, symbol::make("A"), false), -1);
    EXPECT_EQ(context::find_word(ctx, symbol::make("b"), false), 1);
    EXPECT_EQ(context::kind_of(ctx), context::Kind::object);
}

TEST_F(Contexts, CaseVariantsShareAGlobalValue) {
    const Cell foo = word("foo");
    context::set(foo, cell::integer(42));
    const Cell FOO = word("FOO");
    EXPECT_EQ(FOO.w2, symbol::make("FOO"));
    EXPECT_EQ(FOO.w3, foo.w3);
    EXPECT_EQ(cell::as_integer(*context::get(FOO)), 42);
}

TEST_F(Contexts, SettingAnUnknownWordAddsIt) {
    const NodeId ctx = context::create(0, false, false, 0, context::Kind::plain);
    Cell w = cell::make(TypeId::word, ctx, symbol::make("fresh"), 0xFFFFFFFF);
    context::set_in(w, cell::integer(7), ctx, true);
    const int32_t index = context::find_word(ctx, w.w2, true);
    ASSERT_EQ(index, 0);
    w.w3 = static_cast<uint32_t>(index);
    EXPECT_EQ(cell::as_integer(*context::get_in(w, ctx)), 7);
}

TEST_F(Contexts, UnresolvedWordsOtherThanSelfHaveNoValue) {
    const Cell lonely = cell::make(TypeId::word, context::global(), symbol::make("lonely"), 0xFFFFFFFF);
    EXPECT_THROW(context::get(lonely), error::Thrown);
    EXPECT_EQ(error::pending().id, ErrorId::no_value);
}

TEST_F(Contexts, SelfReadsTheOwner) {
    const NodeId ctx = context::make_from_spec(block_of({word("x")}), false, true, context::Kind::object);
    context::owner_of(ctx) = cell::make(TypeId::object, ctx, 0, 0);
    const Cell body = block_of({word("self"), word("x"), word("y"), block_of({word("self")})});
    context::bind_block(body, ctx, true);
    const Cell* cells = memory::buffer(body.w2)->cells();
    EXPECT_EQ(cells[0].w1, ctx);
    EXPECT_EQ(cell::type(*context::get(cells[0])), TypeId::object);
    EXPECT_EQ(cells[1].w1, ctx);
    EXPECT_EQ(cells[1].w3, 0u);
    EXPECT_EQ(cells[2].w1, context::global());  // not held: binding kept
    EXPECT_EQ(memory::buffer(cells[3].w2)->cells()[0].w1, ctx);
}

TEST_F(Contexts, BindingABlockThatHoldsItselfEnds) {
    const NodeId ctx = context::make_from_spec(block_of({word("x")}), false, false, context::Kind::object);
    const Cell body = block_of({word("x")});
    series::append_cell(body.w2, body);
    context::bind_block(body, ctx, false);
    EXPECT_EQ(memory::buffer(body.w2)->cells()[0].w1, ctx);
    EXPECT_EQ(cycles::depth(), 0u);
}

TEST_F(Contexts, FunctionContextsReadTheStackOnlyDuringACall) {
    const NodeId ctx = context::make_from_spec(block_of({word("a"), word("b")}), true, false, context::Kind::function);
    Cell b = context::word_at(ctx, 1);
    EXPECT_THROW(context::get_in(b, ctx), error::Thrown);
    EXPECT_EQ(error::pending().id, ErrorId::not_in_context);
    EXPECT_THROW(context::set_in(b, cell::integer(1), ctx, false), error::Thrown);
    EXPECT_EQ(error::pending().id, ErrorId::not_defined);
    stack::at(100) = cell::integer(10);
    stack::at(101) = cell::integer(11);
    context::cell_of(ctx).w2 = 100 + 1;  // the call's arguments start at cell 100
    EXPECT_EQ(cell::as_integer(*context::get_in(b, ctx)), 11);
    context::set_in(b, cell::integer(12), ctx, false);
    EXPECT_EQ(cell::as_integer(stack::at(101)), 12);
}

int g_changes = 0;

TEST_F(Contexts, ObjectFieldsGetTheSetMarkAndNotify) {
    context::set_change_hook([](const Cell&, const Cell&, const Cell& old_value, const Cell& new_value) {
        ++g_changes;
        EXPECT_TRUE(cell::is(old_value, TypeId::unset));
        EXPECT_EQ(cell::as_integer(new_value), 5);
    });
    const NodeId ctx = context::make_from_spec(block_of({word("f")}), false, true, context::Kind::object);
    const Cell f = context::word_at(ctx, 0);
    context::set_in(f, cell::integer(5), ctx, true);  // no handlers yet: stored, no call
    EXPECT_EQ(g_changes, 0);
    EXPECT_TRUE(context::word_at(ctx, 0).header & cell_flag::word_set);
    context::set_in(f, cell::unset(), ctx, false);
    context::owner_of(ctx) = cell::make(TypeId::object, ctx, 0, 1);
    context::set_in(f, cell::integer(5), ctx, true);
    EXPECT_EQ(g_changes, 1);
    context::set_change_hook(nullptr);
}

TEST_F(Contexts, RenewRebindsTheWordsAndDropsTheValues) {
    const NodeId ctx = context::make_from_spec(block_of({word("p"), word("q")}), false, true, context::Kind::object);
    context::set_in(context::word_at(ctx, 1), cell::integer(3), ctx, false);
    Cell object = cell::make(TypeId::object, ctx);
    const NodeId fresh = context::renew(object, context::Kind::object);
    EXPECT_NE(fresh, ctx);
    EXPECT_EQ(object.w1, fresh);
    EXPECT_EQ(context::word_count(fresh), 2u);
    EXPECT_EQ(context::word_at(fresh, 1).w1, fresh);
    EXPECT_TRUE(cell::is(*context::value_at(fresh, 1), TypeId::unset));
    EXPECT_TRUE(context::cell_of(fresh).header & cell_flag::object_context);
}

TEST_F(Contexts, ManyWordsKeepTheirIndexes) {
    const NodeId ctx = context::create(4, false, false, 0, context::Kind::plain);
    for (int i = 0; i < 20000; ++i)
        context::put_word_value(ctx, symbol::make("w" + std::to_string(i)), cell::integer(i));
    for (int i = 0; i < 20000; i += 13) {
        const int32_t index = context::find_word(ctx, symbol::make("W" + std::to_string(i)), true);
        ASSERT_EQ(index, i);
        EXPECT_EQ(cell::as_integer(*context::value_at(ctx, static_cast<uint32_t>(index))), i);
    }
    context::add_word_value(ctx, symbol::make("w5"), cell::integer(-1));  // kept
    EXPECT_EQ(cell::as_integer(*context::value_at(ctx, 5)), 5);
}

TEST_F(Contexts, CollectSetWords) {
    const NodeId ctx = context::create(2, false, false, 0, context::Kind::object);
    EXPECT_TRUE(context::collect_set_words(
        ctx, block_of({word("a", TypeId::set_word), word("b"), cell::integer(1), word("c", TypeId::set_word)})));
    EXPECT_EQ(context::word_count(ctx), 2u);
    EXPECT_FALSE(context::collect_set_words(ctx, block_of({word("A", TypeId::set_word)})));
}

}  // namespace
}  // namespace zub
