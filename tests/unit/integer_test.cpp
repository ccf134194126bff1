// integer! and char!: the core arithmetic and its overflow rules, power, round, make and to,
// comparison, form and mold.
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

TEST_F(IntegerActions, Arithmetic) {
    const MathCase cases[] = {
        // Leaving the 32-bit range gives the exact float, never a wrapped integer.
        {math_add, num(kMax), num(1), gives(flt(2147483648.0))},
        {math_add, num(kMax - 1), num(1), gives(num(kMax))},
        {math_add, num(kMin), num(-1), gives(flt(-2147483649.0))},
        {math_subtract, num(kMin), num(1), gives(flt(-2147483649.0))},
        {math_subtract, num(0), num(kMin), gives(flt(2147483648.0))},
        {math_subtract, num(-1), num(kMin), gives(num(kMax))},
        {math_multiply, num(65536), num(65536), gives(flt(4294967296.0))},
        {math_multiply, num(kMin), num(-1), gives(flt(2147483648.0))},
        {math_multiply, num(kMin), num(1), gives(num(kMin))},
        {math_multiply, num(-46341), num(46341), gives(flt(-2147488281.0))},
        {math_multiply, num(-65536), num(32768), gives(num(kMin))},
        // Division is exact or a float; the remainder takes the dividend's sign.
        {math_divide, num(6), num(3), gives(num(2))},
        {math_divide, num(7), num(2), gives(flt(3.5))},
        {math_divide, num(-7), num(2), gives(flt(-3.5))},
        {math_divide, num(kMin), num(2), gives(num(-1073741824))},
        {math_divide, num(kMin), num(-1), raises(ErrorId::overflow)},
        {math_divide, num(1), num(0), raises(ErrorId::zero_divide)},
        {math_divide, num(0), num(0), raises(ErrorId::zero_divide)},
        {math_remainder, num(-7), num(2), gives(num(-1))},
        {math_remainder, num(7), num(-2), gives(num(1))},
        {math_remainder, num(5), num(0), raises(ErrorId::zero_divide)},
        {math_remainder, num(kMin), num(-1), raises(ErrorId::overflow)},
        {math_remainder, num(kMin), num(kMax), gives(num(-1))},
        {math_and, num(12), num(10), gives(num(8))},
        {math_or, num(12), num(10), gives(num(14))},
        {math_xor, num(12), num(10), gives(num(6))},
        {math_and, num(-1), num(kMin), gives(num(kMin))},
        // A char operand counts as its code point; the result stays integer!.
        {math_add, num(1), chr('a'), gives(num(98))},
        {math_divide, num(194), chr('a'), gives(num(2))},
        // Float, percent and time operands take the float arithmetic.
        {math_add, num(1), flt(0.5), gives(flt(1.5))},
        {math_divide, num(7), flt(2.0), gives(flt(3.5))},
        {math_divide, num(1), flt(0.0), gives(flt(INFINITY))},
        {math_multiply, num(2), pct(0.25), gives(flt(0.5))},
        {math_multiply, num(2), tim(90.0), gives(tim(180.0))},
        {math_remainder, num(7), flt(2.5), gives(flt(2.0))},
        {math_and, num(1), flt(1.0), raises(ErrorId::cannot_use)},
        // Everything else is refused with the operand's type.
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

TEST_F(IntegerActions, UnaryActions) {
    const auto& t = registry::actions(TypeId::integer);
    struct Case { const char* name; Cell (*fn)(Cell); Cell value; Expect expect; };
    const Case cases[] = {
        {"negate", t.negate, num(5), gives(num(-5))},
        {"negate", t.negate, num(kMax), gives(num(-kMax))},
        {"negate", t.negate, num(kMin), raises(ErrorId::overflow)},
        {"absolute", t.absolute, num(-5), gives(num(5))},
        {"absolute", t.absolute, num(kMin + 1), gives(num(kMax))},
        {"absolute", t.absolute, num(kMin), raises(ErrorId::overflow)},
        {"complement", t.complement, num(0), gives(num(-1))},
        {"complement", t.complement, num(kMax), gives(num(kMin))},
    };
    for (const Case& c : cases) {
        const Outcome o = run([&] { return c.fn(c.value); });
        EXPECT_TRUE(matches(o, c.expect)) << c.name << " " << show(c.value) << ": got " << show(o);
    }
    EXPECT_TRUE(t.even_q(num(0)));
    EXPECT_TRUE(t.even_q(num(kMin)));
    EXPECT_TRUE(t.odd_q(num(-3)));
    EXPECT_TRUE(t.odd_q(num(kMax)));
    EXPECT_FALSE(t.odd_q(num(-4)));
}

TEST_F(IntegerActions, Power) {
    struct Case { Cell base, exponent; Expect expect; };
    const Case cases[] = {
        {num(2), num(30), gives(num(1073741824))},
        {num(2), num(31), gives(flt(2147483648.0))},
        {num(-2), num(31), gives(num(kMin))},
        {num(-2), num(32), gives(flt(4294967296.0))},
        {num(3), num(20), gives(flt(3486784401.0))},
        {num(-3), num(3), gives(num(-27))},
        // A square that no later bit needs must not count as an overflow.
        {num(65536), num(1), gives(num(65536))},
        {num(46341), num(1), gives(num(46341))},
        {num(0), num(0), gives(num(1))},
        {num(1), num(kMax), gives(num(1))},
        {num(-1), num(kMax), gives(num(-1))},
        {num(2), num(-1), gives(flt(0.5))},
        {num(0), num(-1), gives(flt(INFINITY))},
        {num(4), flt(0.5), gives(flt(2.0))},
        {num(-8), flt(1.0 / 3.0), gives(flt(NAN))},
        {num(2), pct(0.5), raises(ErrorId::expect_arg)},
        {num(2), text_value("2"), raises(ErrorId::expect_arg)},
    };
    for (const Case& c : cases) {
        const Outcome o = run([&] { return row(c.base).power(c.base, c.exponent); });
        EXPECT_TRUE(matches(o, c.expect)) << show(c.base) << " ** " << show(c.exponent) << ": got " << show(o);
    }
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

TEST_F(IntegerActions, Round) {
    const Cell money = cell::make(TypeId::money);
    const RoundCase cases[] = {
        {num(17), num(5), mode(""), gives(num(15))},
        {num(18), num(5), mode(""), gives(num(20))},
        {num(15), num(10), mode(""), gives(num(20))},
        {num(-15), num(10), mode(""), gives(num(-20))},
        {num(25), num(10), mode("even"), gives(num(20))},
        {num(35), num(10), mode("even"), gives(num(40))},
        {num(-25), num(10), mode("even"), gives(num(-20))},
        {num(15), num(10), mode("half-down"), gives(num(10))},
        {num(-15), num(10), mode("half-down"), gives(num(-10))},
        {num(15), num(10), mode("half-ceiling"), gives(num(20))},
        {num(-15), num(10), mode("half-ceiling"), gives(num(-10))},
        {num(-12), num(5), mode("floor"), gives(num(-15))},
        {num(12), num(5), mode("floor"), gives(num(10))},
        {num(-12), num(5), mode("ceiling"), gives(num(-10))},
        {num(12), num(5), mode("ceiling"), gives(num(15))},
        {num(-19), num(5), mode("down"), gives(num(-15))},
        {num(17), num(-5), mode(""), gives(num(15))},
        {num(20), num(5), mode("ceiling"), gives(num(20))},
        {num(17), std::nullopt, mode(""), gives(num(17))},
        {num(17), num(0), mode(""), gives(num(17))},
        // The range is checked on the result, for either sign.
        {num(kMax), num(10), mode(""), raises(ErrorId::overflow)},
        {num(kMax), num(10), mode("down"), gives(num(2147483640))},
        {num(-2147483647), num(2), mode(""), gives(num(kMin))},
        {num(kMin), num(10), mode(""), raises(ErrorId::overflow)},
        {num(kMin), num(10), mode("down"), gives(num(-2147483640))},
        {num(kMin), num(2), mode(""), gives(num(kMin))},
        {num(5), num(kMin), mode(""), raises(ErrorId::overflow)},
        // Other scales round as floats and give the scale's type.
        {num(7), flt(0.5), mode(""), gives(flt(7.0))},
        {num(7), flt(2.5), mode(""), gives(flt(7.5))},
        {num(7), money, mode(""), raises(ErrorId::not_related)},
        {num(7), text_value("1"), mode(""), raises(ErrorId::expect_arg)},
    };
    for (const RoundCase& c : cases) {
        const Outcome o = round_with(c);
        EXPECT_TRUE(matches(o, c.expect)) << "round " << show(c.value) << " to "
                                          << (c.scale ? show(*c.scale) : "-") << ": got " << show(o);
    }
}

TEST_F(IntegerActions, MakeAndTo) {
    const auto& t = registry::actions(TypeId::integer);
    const Cell type = datatype_value(TypeId::integer);
    struct Case { Cell spec; Expect make, to; };
    const Case cases[] = {
        {num(-7), gives(num(-7)), gives(num(-7))},
        {chr(0x10FFFF), gives(num(0x10FFFF)), gives(num(0x10FFFF))},
        {cell::logic(true), gives(num(1)), raises(ErrorId::bad_to_arg)},
        {cell::logic(false), gives(num(0)), raises(ErrorId::bad_to_arg)},
        // Floats truncate toward zero inside the range and are refused outside it.
        {flt(-1.9), gives(num(-1)), gives(num(-1))},
        {flt(2147483647.0), gives(num(kMax)), gives(num(kMax))},
        {flt(-2147483648.0), gives(num(kMin)), gives(num(kMin))},
        {flt(2147483648.0), raises(ErrorId::type_limit), raises(ErrorId::type_limit)},
        {flt(2147483647.5), raises(ErrorId::type_limit), raises(ErrorId::type_limit)},
        {flt(-2147483648.5), raises(ErrorId::type_limit), raises(ErrorId::type_limit)},
        {flt(NAN), raises(ErrorId::type_limit), raises(ErrorId::type_limit)},
        {flt(-INFINITY), raises(ErrorId::type_limit), raises(ErrorId::type_limit)},
        {pct(0.99), gives(num(0)), gives(num(0))},
        {tim(1.5), gives(num(2)), gives(num(2))},
        {tim(59.4), gives(num(59)), gives(num(59))},
        {tim(3e9), raises(ErrorId::type_limit), raises(ErrorId::type_limit)},
        {word("FF", TypeId::issue), gives(num(255)), gives(num(255))},
        {word("ffffffff", TypeId::issue), gives(num(-1)), gives(num(-1))},
        {word("7FFFFFFF", TypeId::issue), gives(num(kMax)), gives(num(kMax))},
        {word("123456789", TypeId::issue), raises(ErrorId::invalid_data), raises(ErrorId::invalid_data)},
        {word("F-", TypeId::issue), raises(ErrorId::invalid_data), raises(ErrorId::invalid_data)},
        {binary({0xFF}), gives(num(255)), gives(num(255))},
        {binary({0x01, 0x02}), gives(num(258)), gives(num(258))},
        {binary({0x80, 0, 0, 0, 0x55}), gives(num(kMin)), gives(num(kMin))},
        {binary({0x01, 0x02, 0x03}, 1), gives(num(0x0203)), gives(num(0x0203))},
        {binary({}), gives(num(0)), gives(num(0))},
        {text_value("12"), gives(num(12)), gives(num(12))},
        {text_value("-1'000"), gives(num(-1000)), gives(num(-1000))},
        {text_value("-2147483648"), gives(num(kMin)), gives(num(kMin))},
        {text_value("2147483648"), raises(ErrorId::bad_to_arg), raises(ErrorId::bad_to_arg)},
        {text_value("12a"), raises(ErrorId::bad_to_arg), raises(ErrorId::bad_to_arg)},
        {text_value(""), raises(ErrorId::bad_to_arg), raises(ErrorId::bad_to_arg)},
        {cell::none(), raises(ErrorId::bad_to_arg), raises(ErrorId::bad_to_arg)},
        {type, raises(ErrorId::bad_to_arg), raises(ErrorId::bad_to_arg)},
    };
    for (const Case& c : cases) {
        const Outcome made = run([&] { return t.make(TypeId::integer, type, c.spec); });
        const Outcome converted = run([&] { return t.to(TypeId::integer, type, c.spec); });
        EXPECT_TRUE(matches(made, c.make)) << "make from " << show(c.spec) << ": got " << show(made);
        EXPECT_TRUE(matches(converted, c.to)) << "to from " << show(c.spec) << ": got " << show(converted);
    }
}

TEST_F(IntegerActions, ErrorArguments) {
    const auto& t = registry::actions(TypeId::integer);
    const Cell spec = cell::none();
    EXPECT_THROW(t.to(TypeId::integer, datatype_value(TypeId::integer), spec), error::Thrown);
    EXPECT_TRUE(same_value(error::pending().args[0], datatype_value(TypeId::integer)));
    EXPECT_TRUE(same_value(error::pending().args[1], spec));
    EXPECT_THROW(t.to(TypeId::integer, datatype_value(TypeId::integer), flt(1e10)), error::Thrown);
    EXPECT_TRUE(same_value(error::pending().args[0], datatype_value(TypeId::integer)));
}

TEST_F(IntegerActions, Compare) {
    struct Case { Cell a, b; int32_t op; int32_t answer; };
    const Case cases[] = {
        {num(1), num(1), op_equal, 0},
        {num(1), num(2), op_lesser, -1},
        {num(kMax), num(kMin), op_greater, 1},
        {num(97), chr('a'), op_equal, 0},
        {num(97), chr('a'), op_strict_equal, 1},
        {num(97), chr('a'), op_same, 1},
        {num(97), chr('a'), op_find, 1},
        {num(97), chr('b'), op_lesser, -1},
        {num(1), flt(1.0), op_equal, 0},
        {num(1), flt(1.0), op_strict_equal, 1},
        {num(1), flt(1.5), op_lesser, -1},
        {num(1), pct(1.0), op_equal, 0},
        {num(60), tim(60.0), op_equal, 0},
        {num(1), flt(NAN), op_lesser, 1},
        {num(1), flt(NAN), op_greater_or_equal, -1},
        {num(1), flt(NAN), op_equal, 1},
        {num(1), text_value("1"), op_equal, kNotComparable},
        {num(1), cell::logic(true), op_lesser, kNotComparable},
        {num(1), text_value("1"), op_strict_equal, 1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(row(c.a).compare(c.a, c.b, c.op), c.answer) << show(c.a) << " op " << c.op << " " << show(c.b);
}

TEST_F(IntegerActions, FormAndMold) {
    struct Case { int32_t value; const char* text; };
    const Case cases[] = {{0, "0"}, {-5, "-5"}, {kMax, "2147483647"}, {kMin, "-2147483648"}, {1000000, "1000000"}};
    for (const Case& c : cases) {
        EXPECT_EQ(form(num(c.value)), c.text);
        EXPECT_EQ(mold(num(c.value)), c.text);
        EXPECT_EQ(integer::form_signed(c.value).view(), c.text);
    }
}

TEST_F(CharActions, Arithmetic) {
    const MathCase cases[] = {
        {math_add, chr('a'), num(1), gives(chr('b'))},
        {math_add, chr('a'), chr(1), gives(chr('b'))},
        {math_subtract, chr('b'), chr('a'), gives(chr(1))},
        {math_subtract, chr(0), num(1), raises(ErrorId::overflow)},
        {math_add, chr(0x10FFFF), num(1), raises(ErrorId::overflow)},
        {math_add, chr(0x10FFFE), num(1), gives(chr(0x10FFFF))},
        {math_multiply, chr('a'), num(2), gives(chr(194))},
        {math_multiply, chr('a'), num(kMax), raises(ErrorId::overflow)},
        // divide truncates instead of giving a float; other types follow the integer core.
        {math_divide, chr('a'), num(2), gives(chr(48))},
        {math_divide, chr('a'), num(0), raises(ErrorId::zero_divide)},
        {math_remainder, chr('a'), num(10), gives(chr(7))},
        {math_and, chr('a'), num(0xDF), gives(chr('A'))},
        {math_or, chr('A'), num(0x20), gives(chr('a'))},
        {math_xor, chr('a'), num(0x20), gives(chr('A'))},
        {math_and, chr('a'), num(-1), gives(chr('a'))},
        {math_or, chr('a'), num(kMin), raises(ErrorId::overflow)},
        {math_add, chr('a'), flt(1.9), gives(chr('b'))},
        {math_add, chr('a'), flt(-0.9), gives(chr('a'))},
        {math_add, chr('a'), flt(1e10), raises(ErrorId::overflow)},
        {math_add, chr('a'), flt(NAN), raises(ErrorId::overflow)},
        {math_multiply, chr('a'), flt(-INFINITY), raises(ErrorId::overflow)},
        {math_add, chr('a'), pct(0.5), raises(ErrorId::invalid_type)},
        {math_add, chr('a'), tim(1.0), raises(ErrorId::invalid_type)},
        {math_add, chr('a'), text_value("b"), raises(ErrorId::invalid_type)},
    };
    for (const MathCase& c : cases) {
        const Outcome o = math(c.op, c.a, c.b);
        EXPECT_TRUE(matches(o, c.expect)) << show(c.a) << " op " << c.op << " " << show(c.b) << ": got " << show(o)
                                          << ", expected " << show(c.expect);
    }
}

TEST_F(CharActions, InheritedAndRefusedActions) {
    const auto& t = registry::actions(TypeId::char_);
    EXPECT_TRUE(same_value(t.absolute(chr('a')), chr('a')));
    EXPECT_TRUE(t.even_q(chr('b')));
    EXPECT_TRUE(t.odd_q(chr('a')));
    const Outcome refused[] = {
        run([&] { return t.negate(chr('a')); }),
        run([&] { return t.complement(chr('a')); }),
        run([&] { return t.power(chr('a'), num(2)); }),
        run([&] { return t.round(chr('a'), RoundOptions{}); }),
    };
    for (const Outcome& o : refused) EXPECT_EQ(o.error, ErrorId::expect_arg);
}

TEST_F(CharActions, MakeAndTo) {
    const auto& t = registry::actions(TypeId::char_);
    const Cell type = datatype_value(TypeId::char_);
    struct Case { Cell spec; Expect expect; };
    const Case cases[] = {
        {num(0x10FFFF), gives(chr(0x10FFFF))},
        {num(1114112), raises(ErrorId::out_of_range)},
        {num(-1), raises(ErrorId::out_of_range)},
        {chr('x'), gives(chr('x'))},
        {flt(65.9), gives(chr('A'))},
        {flt(-0.5), gives(chr(0))},
        {flt(-1.0), raises(ErrorId::out_of_range)},
        {flt(1114111.9), gives(chr(0x10FFFF))},
        {flt(1114112.0), raises(ErrorId::out_of_range)},
        {flt(NAN), raises(ErrorId::out_of_range)},
        {pct(65.0), gives(chr('A'))},
        {text_value("abc"), gives(chr('a'))},
        {text_value("abc", TypeId::file, 1), gives(chr('b'))},
        {text_value(""), raises(ErrorId::bad_to_arg)},
        {text_value("ab", TypeId::string, 2), raises(ErrorId::bad_to_arg)},
        {binary({0xE2, 0x82, 0xAC, 0x41}), gives(chr(0x20AC))},
        {binary({0x41, 0xC3, 0xA9}, 1), gives(chr(0xE9))},
        {binary({0xE2, 0x82}), raises(ErrorId::invalid_utf8)},
        {binary({0xFF}), raises(ErrorId::invalid_utf8)},
        {binary({}), raises(ErrorId::bad_to_arg)},
        {cell::logic(true), raises(ErrorId::bad_to_arg)},
        {cell::none(), raises(ErrorId::bad_to_arg)},
    };
    for (const Case& c : cases) {
        const Outcome made = run([&] { return t.make(TypeId::char_, type, c.spec); });
        const Outcome converted = run([&] { return t.to(TypeId::char_, type, c.spec); });
        EXPECT_TRUE(matches(made, c.expect)) << "make from " << show(c.spec) << ": got " << show(made);
        EXPECT_TRUE(matches(converted, c.expect)) << "to from " << show(c.spec) << ": got " << show(converted);
    }
}

TEST_F(CharActions, Compare) {
    struct Case { Cell a, b; int32_t op; int32_t answer; };
    const Case cases[] = {
        {chr('a'), chr('a'), op_equal, 0},
        {chr('a'), chr('b'), op_lesser, -1},
        {chr('a'), num(97), op_equal, 0},
        {chr('a'), num(97), op_strict_equal, 1},
        {chr('a'), num(97), op_find, 1},
        {chr('a'), num(98), op_greater, -1},
        {chr('a'), flt(97.0), op_equal, kNotComparable},
        {chr('a'), text_value("a"), op_equal, kNotComparable},
        {chr('a'), text_value("a"), op_strict_equal, 1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(row(c.a).compare(c.a, c.b, c.op), c.answer) << show(c.a) << " op " << c.op << " " << show(c.b);
}

TEST_F(CharActions, FormAndMold) {
    struct Case { uint32_t cp; const char* form; const char* mold; const char* mold_all; };
    const Case cases[] = {
        {'a', "a", "#\"a\"", "#\"a\""},
        {'\t', "\t", "#\"^-\"", "#\"^-\""},
        {'\n', "\n", "#\"^/\"", "#\"^/\""},
        {'"', "\"", "#\"^\"\"", "#\"^\"\""},
        {'^', "^", "#\"^^\"", "#\"^^\""},
        {0, "", "#\"^@\"", "#\"^@\""},
        {0x1B, "\x1B", "#\"^[\"", "#\"^[\""},
        {0x1E, "\x1E", "#\"^(1E)\"", "#\"^(1E)\""},
        {0x1F, "\x1F", "#\"^_\"", "#\"^_\""},
        {0x7F, "\x7F", "#\"^~\"", "#\"^~\""},
        {0x85, "\xC2\x85", "#\"^(85)\"", "#\"^(85)\""},
        {0xE9, "\xC3\xA9", "#\"\xC3\xA9\"", "#\"^(E9)\""},
        {0x20AC, "\xE2\x82\xAC", "#\"\xE2\x82\xAC\"", "#\"^(20AC)\""},
        {0x1F600, "\xF0\x9F\x98\x80", "#\"\xF0\x9F\x98\x80\"", "#\"^(1F600)\""},
    };
    for (const Case& c : cases) {
        if (c.cp != 0) {
            EXPECT_EQ(form(chr(c.cp)), c.form) << c.cp;
        }
        EXPECT_EQ(mold(chr(c.cp)), c.mold) << c.cp;
        EXPECT_EQ(mold(chr(c.cp), true), c.mold_all) << c.cp;
    }
    EXPECT_EQ(form(chr(0)), std::string("\0", 1));
}

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
