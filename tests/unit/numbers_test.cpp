// How integer!, char!, float!, percent! and time! hand a mixed operation to the type that owns it:
// which operand goes first, which operations are refused before the hand-over, and the errors
// when the owner has no entry. Stand-in entries take the owners' place in the action rows.
#include "tests/unit/numbers_fixture.h"

namespace zub {
namespace {

struct Call {
    int count;
    Cell first, second;
};
Call g_call;
int32_t g_compare_op;
int32_t g_compare_answer;

Cell record(Cell a, Cell b) {
    g_call = {g_call.count + 1, a, b};
    return cell::logic(true);
}
// Marks the value so that the test can see it was negated.
Cell mark_negated(Cell a) {
    a.w1 = 0xDEAD;
    return a;
}
int32_t record_compare(Cell a, Cell b, int32_t op) {
    g_call = {g_call.count + 1, a, b};
    g_compare_op = op;
    return g_compare_answer;
}

class NumberHandOver : public NumberTest {
  protected:
    void SetUp() override {
        NumberTest::SetUp();
        g_call = {};
    }
    static void stand_in(TypeId owner) {
        ActionTable& row = registry::g_actions[static_cast<uint8_t>(owner)];
        row.add = row.subtract = row.multiply = row.divide = row.remainder = record;
        row.or_ = row.and_ = row.xor_ = record;
        row.negate = mark_negated;
        row.compare = record_compare;
    }
};

TEST_F(NumberHandOver, OperandOrderAndRefusals) {
    for (const TypeId t :
         {TypeId::pair, TypeId::point2D, TypeId::point3D, TypeId::tuple, TypeId::date, TypeId::money, TypeId::vector})
        stand_in(t);
    const Cell pair = cell::make(TypeId::pair, 0, 1, 2);
    const Cell point = cell::make(TypeId::point3D);
    const Cell tuple = cell::make(TypeId::tuple);
    const Cell date = cell::make(TypeId::date);
    const Cell money = cell::make(TypeId::money);
    const Cell vector = cell::make(TypeId::vector);
    enum Order { swapped, as_given, refused };
    struct Case {
        MathOp op;
        Cell a, b;
        Order order;
        const char* word;
        TypeId named;
    };
    const Case cases[] = {
        {math_add, num(1), pair, swapped, "", {}},
        {math_multiply, num(1), pair, swapped, "", {}},
        {math_remainder, num(1), pair, swapped, "", {}},
        {math_or, num(1), pair, swapped, "", {}},
        {math_divide, num(1), pair, refused, "divide", TypeId::integer},
        {math_add, num(1), tuple, swapped, "", {}},
        {math_and, num(1), tuple, swapped, "", {}},
        {math_subtract, num(1), tuple, refused, "subtract", TypeId::integer},
        {math_divide, num(1), tuple, refused, "divide", TypeId::integer},
        {math_add, num(1), date, swapped, "", {}},
        {math_subtract, num(1), date, refused, "subtract", TypeId::integer},
        {math_multiply, num(1), date, refused, "multiply", TypeId::integer},
        {math_multiply, num(1), money, as_given, "", {}},
        {math_divide, num(1), vector, as_given, "", {}},
        {math_multiply, flt(1.5), pair, swapped, "", {}},
        {math_add, flt(1.5), point, swapped, "", {}},
        {math_remainder, pct(0.5), pair, swapped, "", {}},
        {math_add, flt(1.5), tuple, swapped, "", {}},
        {math_subtract, flt(1.5), tuple, refused, "subtract", TypeId::float_},
        {math_divide, flt(1.5), point, refused, "divide", TypeId::point3D},
        {math_subtract, flt(1.5), money, as_given, "", {}},
        {math_divide, pct(0.5), vector, as_given, "", {}},
        {math_multiply, tim(1.0), money, as_given, "", {}},
        {math_add, chr('a'), vector, as_given, "", {}},
    };
    for (const Case& c : cases) {
        g_call = {};
        const Outcome o = math(c.op, c.a, c.b);
        const std::string what = show(c.a) + " op " + std::to_string(c.op) + " " + show(c.b);
        if (c.order == refused) {
            ASSERT_EQ(o.error, ErrorId::not_related) << what;
            EXPECT_EQ(symbol::utf8(error::pending().args[0].w2), c.word) << what;
            EXPECT_TRUE(same_value(error::pending().args[1], datatype_value(c.named))) << what;
            EXPECT_EQ(g_call.count, 0) << what;
            continue;
        }
        ASSERT_FALSE(o.error) << what << ": " << show(o);
        ASSERT_EQ(g_call.count, 1) << what;
        const Cell first = c.order == swapped ? c.b : c.a, second = c.order == swapped ? c.a : c.b;
        EXPECT_TRUE(same_value(g_call.first, first)) << what;
        EXPECT_TRUE(same_value(g_call.second, second)) << what;
    }
}

TEST_F(NumberHandOver, ANumberMinusACoordinateAddsToItsNegation) {
    stand_in(TypeId::pair);
    const Cell pair = cell::make(TypeId::pair, 0, 1, 2);
    ASSERT_FALSE(math(math_subtract, num(5), pair).error);
    EXPECT_EQ(g_call.first.w1, 0xDEADu);  // the negated pair, added to
    EXPECT_TRUE(same_value(g_call.second, num(5)));
}

TEST_F(NumberHandOver, AnOwnerWithoutTheEntryIsNamedInExpectArg) {
    struct Case {
        Cell a, b;
        TypeId owner;
    };
    const Case cases[] = {};
    for (const Case& c : cases) {
        const Outcome o = math(math_multiply, c.a, c.b);
        ASSERT_EQ(o.error, ErrorId::expect_arg) << show(c.b);
        EXPECT_TRUE(same_value(error::pending().args[1], datatype_value(c.owner))) << show(c.b);
    }
}

TEST_F(NumberHandOver, ComparisonWithMoneyAsksMoneyTheMirroredQuestion) {
    const Cell money = cell::make(TypeId::money);
    EXPECT_EQ(row(num(1)).compare(num(1), money, op_lesser), 1);  // 1 is above $0
    stand_in(TypeId::money);
    struct Case {
        Cell a;
        int32_t op, asked, answer, expected;
    };
    const Case cases[] = {
        {num(1), op_lesser, op_greater, 1, -1},
        {num(1), op_greater_or_equal, op_lesser_or_equal, -1, 1},
        {flt(1.5), op_lesser_or_equal, op_greater_or_equal, 0, 0},
        {pct(0.5), op_equal, op_equal, 1, -1},
        {tim(1.0), op_sort, op_sort, kNotComparable, kNotComparable},
    };
    for (const Case& c : cases) {
        g_compare_answer = c.answer;
        g_call = {};
        EXPECT_EQ(row(c.a).compare(c.a, money, c.op), c.expected) << show(c.a) << " op " << c.op;
        EXPECT_EQ(g_compare_op, c.asked);
        EXPECT_TRUE(same_value(g_call.first, money));
        EXPECT_TRUE(same_value(g_call.second, c.a));
    }
    // Strict equality is settled by the types alone.
    g_call = {};
    EXPECT_EQ(row(num(1)).compare(num(1), money, op_strict_equal), 1);
    EXPECT_EQ(g_call.count, 0);
}

TEST_F(NumberHandOver, RowsFollowTheParents) {
    const auto& integer = registry::actions(TypeId::integer);
    const auto& character = registry::actions(TypeId::char_);
    const auto& floating = registry::actions(TypeId::float_);
    const auto& percent = registry::actions(TypeId::percent);
    EXPECT_EQ(character.absolute, integer.absolute);
    EXPECT_EQ(character.even_q, integer.even_q);
    EXPECT_NE(character.add, integer.add);
    EXPECT_EQ(percent.add, floating.add);
    EXPECT_EQ(percent.round, floating.round);
    EXPECT_NE(percent.form, floating.form);
}

}  // namespace
}  // namespace zub
