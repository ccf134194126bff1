// integer! and char! internals the language does not reach: operands the natives refuse first,
// binary! sources, find's comparison, output widening. The rest is in tests/lang/integer.zub.
#include <limits>

#include "tests/unit/numbers_fixture.h"

namespace zub {
namespace {

constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
constexpr int32_t kMin = std::numeric_limits<int32_t>::min();

class IntegerActions : public NumberTest {};
class CharActions : public NumberTest {};

struct MathCase {
    MathOp op;
    Cell a, b;
    Expect expect;
};

// The operands the natives refuse before the integer arithmetic sees them.
TEST_F(IntegerActions, Arithmetic) {
    const MathCase cases[] = {
        {math_and, num(1), flt(1.0), raises(ErrorId::cannot_use)},
        {math_add, num(1), cell::none(), raises(ErrorId::invalid_type)},
        {math_add, num(1), text_value("1"), raises(ErrorId::invalid_type)},
        {math_add, num(1), cell::logic(true), raises(ErrorId::invalid_type)},
    };
    for (const MathCase& c : cases) {
        const Outcome o = math(c.op, c.a, c.b);
        EXPECT_TRUE(matches(o, c.expect)) << show(c.a) << " op " << c.op << " " << show(c.b) << ": got " << show(o)
                                          << ", expected " << show(c.expect);
    }
}

TEST_F(IntegerActions, CoreWithoutPromotionTruncates) {
    EXPECT_TRUE(same_value(integer::math_op(7, 2, math_divide, false), num(3)));
    EXPECT_TRUE(same_value(integer::math_op(-7, 2, math_divide, false), num(-3)));
    EXPECT_TRUE(same_value(integer::math_op(kMax, 1, math_add, false), flt(2147483648.0)));
}

TEST_F(IntegerActions, InvalidTypeNamesTheOperandsType) {
    const Outcome o = math(math_add, num(1), text_value("1"));
    ASSERT_EQ(o.error, ErrorId::invalid_type);
    EXPECT_TRUE(same_value(error::pending().args[0], datatype_value(TypeId::string)));
}

struct RoundCase {
    Cell value;
    std::optional<Cell> scale;
    RoundOptions modes;  // `to` is filled from scale
    Expect expect;
};

RoundOptions mode(const char* name) {
    RoundOptions o{};
    const std::string n = name;
    o.even = n == "even";
    o.down = n == "down";
    o.half_down = n == "half-down";
    o.floor = n == "floor";
    o.ceiling = n == "ceiling";
    o.half_ceiling = n == "half-ceiling";
    return o;
}

Outcome round_with(const RoundCase& c) {
    RoundOptions o = c.modes;
    o.to = c.scale ? &*c.scale : nullptr;
    try {
        return {std::nullopt, registry::actions(cell::type(c.value)).round(c.value, o)};
    } catch (const error::Thrown&) {
        return {error::pending().id, cell::none()};
    }
}

// A money! scale is refused (tests/lang/money.zub has the language side).
TEST_F(IntegerActions, RoundToMoney) {
    const RoundCase c{num(7), cell::make(TypeId::money), mode(""), raises(ErrorId::not_related)};
    EXPECT_TRUE(matches(round_with(c), c.expect));
}

// From binary!, which has no literal in the language yet.
TEST_F(IntegerActions, MakeAndToFromBinary) {
    const auto& t = registry::actions(TypeId::integer);
    const Cell type = datatype_value(TypeId::integer);
    struct Case {
        Cell spec;
        Expect make, to;
    };
    const Case cases[] = {
        {binary({0xFF}), gives(num(255)), gives(num(255))},
        {binary({0x01, 0x02}), gives(num(258)), gives(num(258))},
        {binary({0x80, 0, 0, 0, 0x55}), gives(num(kMin)), gives(num(kMin))},
        {binary({0x01, 0x02, 0x03}, 1), gives(num(0x0203)), gives(num(0x0203))},
        {binary({}), gives(num(0)), gives(num(0))},
    };
    for (const Case& c : cases) {
        const Outcome made = run([&] { return t.make(TypeId::integer, type, c.spec); });
        const Outcome converted = run([&] { return t.to(TypeId::integer, type, c.spec); });
        EXPECT_TRUE(matches(made, c.make)) << "make from " << show(c.spec) << ": got " << show(made);
        EXPECT_TRUE(matches(converted, c.to)) << "to from " << show(c.spec) << ": got " << show(converted);
    }
}

// find's comparison, which no comparison native uses.
TEST_F(IntegerActions, CompareForFind) { EXPECT_EQ(row(num(97)).compare(num(97), chr('a'), op_find), 1); }

TEST_F(IntegerActions, FormSigned) {
    struct Case {
        int32_t value;
        const char* text;
    };
    const Case cases[] = {{0, "0"}, {-5, "-5"}, {kMax, "2147483647"}, {kMin, "-2147483648"}, {1000000, "1000000"}};
    for (const Case& c : cases) EXPECT_EQ(integer::form_signed(c.value).view(), c.text);
}

// An operand the natives refuse before the char arithmetic sees it.
TEST_F(CharActions, Arithmetic) { EXPECT_EQ(math(math_add, chr('a'), text_value("b")).error, ErrorId::invalid_type); }

// From binary!, which has no literal in the language yet.
TEST_F(CharActions, MakeAndToFromBinary) {
    const auto& t = registry::actions(TypeId::char_);
    const Cell type = datatype_value(TypeId::char_);
    struct Case {
        Cell spec;
        Expect expect;
    };
    const Case cases[] = {
        {binary({0xE2, 0x82, 0xAC, 0x41}), gives(chr(0x20AC))},
        {binary({0x41, 0xC3, 0xA9}, 1), gives(chr(0xE9))},
        {binary({0xE2, 0x82}), raises(ErrorId::invalid_utf8)},
        {binary({0xFF}), raises(ErrorId::invalid_utf8)},
        {binary({}), raises(ErrorId::bad_to_arg)},
    };
    for (const Case& c : cases) {
        const Outcome made = run([&] { return t.make(TypeId::char_, type, c.spec); });
        const Outcome converted = run([&] { return t.to(TypeId::char_, type, c.spec); });
        EXPECT_TRUE(matches(made, c.expect)) << "make from " << show(c.spec) << ": got " << show(made);
        EXPECT_TRUE(matches(converted, c.expect)) << "to from " << show(c.spec) << ": got " << show(converted);
    }
}

TEST_F(CharActions, CompareForFind) { EXPECT_EQ(row(chr('a')).compare(chr('a'), num(97), op_find), 1); }

TEST_F(CharActions, FormWidensTheOutput) {
    const NodeId out = series::alloc_with_unit(8, 1);
    series::append_ascii(out, "x");
    registry::actions(TypeId::char_).form(chr(0x1F600), out, 100);
    registry::actions(TypeId::char_).form(chr('y'), out, 100);
    EXPECT_EQ(series::unit(out), 4u);
    EXPECT_EQ(text(out), "x\xF0\x9F\x98\x80y");
}

}  // namespace
}  // namespace zub
