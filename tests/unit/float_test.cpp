// float! and percent!: mixed arithmetic and its result types, the special values, comparison with
// the equality tolerance, every rounding mode, make and to, and the text forms.
#include <cfloat>
#include <limits>

#include "tests/unit/numbers_fixture.h"

namespace zub {
namespace {

class FloatActions : public NumberTest {};
class PercentActions : public NumberTest {};

// x moved by n representable steps (down for negative n).
double steps(double x, int n) {
    for (; n > 0; --n) x = std::nextafter(x, INFINITY);
    for (; n < 0; ++n) x = std::nextafter(x, -INFINITY);
    return x;
}

struct MathCase {
    MathOp op;
    Cell a, b;
    Expect expect;
};

TEST_F(FloatActions, Arithmetic) {
    const Cell pair = cell::make(TypeId::pair, 0, 1, 2);
    const MathCase cases[] = {
        {math_add, flt(1.5), num(2), gives(flt(3.5))},
        {math_add, flt(0.5), chr(1), gives(flt(1.5))},
        {math_subtract, flt(0.5), flt(2.0), gives(flt(-1.5))},
        // Result types: a time on either side wins, then a percent on the left.
        {math_add, pct(0.05), num(1), gives(pct(1.05))},
        {math_add, pct(0.5), pct(0.25), gives(pct(0.75))},
        {math_add, flt(0.5), pct(0.25), gives(flt(0.75))},
        {math_multiply, pct(0.1), tim(3600.0), gives(tim(360.0))},
        {math_add, tim(60.0), flt(0.5), gives(tim(60.5))},
        {math_add, flt(0.5), tim(60.0), gives(tim(60.5))},
        {math_add, tim(60.0), tim(60.0), gives(tim(120.0))},
        {math_remainder, pct(0.5), num(1), gives(pct(0.5))},
        {math_add, pct(0.5), chr(1), raises(ErrorId::invalid_type)},
        {math_add, tim(1.0), chr(1), raises(ErrorId::invalid_type)},
        // Nothing traps.
        {math_divide, flt(1.0), num(0), gives(flt(INFINITY))},
        {math_divide, flt(-1.0), flt(0.0), gives(flt(-INFINITY))},
        {math_divide, flt(0.0), num(0), gives(flt(NAN))},
        {math_multiply, flt(1e308), num(10), gives(flt(INFINITY))},
        {math_subtract, flt(INFINITY), flt(INFINITY), gives(flt(NAN))},
        {math_remainder, flt(5.5), num(2), gives(flt(1.5))},
        {math_remainder, flt(-5.5), num(2), gives(flt(-1.5))},
        {math_remainder, flt(1.0), flt(INFINITY), gives(flt(1.0))},
        {math_remainder, flt(INFINITY), num(2), gives(flt(NAN))},
        {math_remainder, flt(INFINITY), flt(INFINITY), gives(flt(NAN))},
        {math_remainder, flt(5.5), num(0), gives(flt(NAN))},
        {math_remainder, flt(1.0), flt(NAN), gives(flt(NAN))},
        // Refused operands.
        {math_add, flt(1.5), cell::none(), raises(ErrorId::invalid_type)},
        {math_add, flt(1.5), text_value("1"), raises(ErrorId::invalid_type)},
        {math_subtract, flt(1.5), pair, raises(ErrorId::not_related)},
        {math_divide, pct(0.5), pair, raises(ErrorId::not_related)},
        {math_add, tim(1.0), pair, raises(ErrorId::invalid_type)},
    };
    for (const MathCase& c : cases) {
        const Outcome o = math(c.op, c.a, c.b);
        EXPECT_TRUE(matches(o, c.expect)) << show(c.a) << " op " << c.op << " " << show(c.b) << ": got " << show(o)
                                          << ", expected " << show(c.expect);
    }
}

TEST_F(FloatActions, NotRelatedNamesTheActionAndTheOperandsType) {
    const Outcome o = math(math_subtract, flt(1.5), cell::make(TypeId::point2D));
    ASSERT_EQ(o.error, ErrorId::not_related);
    EXPECT_EQ(symbol::utf8(error::pending().args[0].w2), "subtract");
    EXPECT_TRUE(same_value(error::pending().args[1], datatype_value(TypeId::point2D)));
}

TEST_F(FloatActions, BitwiseCodesCannotBeUsed) {
    for (const MathOp op : {math_or, math_and, math_xor}) {
        const Outcome o = run([&] { return flt(float_::math_op(1.0, 2.0, op)); });
        EXPECT_EQ(o.error, ErrorId::cannot_use) << op;
    }
}

TEST_F(FloatActions, UnaryActions) {
    const auto& t = registry::actions(TypeId::float_);
    struct Case { const char* name; Cell (*fn)(Cell); Cell value; Expect expect; };
    const Case cases[] = {
        {"negate", t.negate, flt(1.5), gives(flt(-1.5))},
        {"negate", t.negate, flt(0.0), gives(flt(0.0))},
        {"negate", t.negate, flt(-0.0), gives(flt(0.0))},
        {"negate", t.negate, flt(NAN), gives(flt(NAN))},
        {"negate", t.negate, pct(0.5), gives(pct(-0.5))},
        {"negate", t.negate, tim(60.0), gives(tim(-60.0))},
        {"absolute", t.absolute, flt(-0.0), gives(flt(0.0))},
        {"absolute", t.absolute, flt(-INFINITY), gives(flt(INFINITY))},
        {"absolute", t.absolute, pct(-0.5), gives(pct(0.5))},
    };
    for (const Case& c : cases) {
        const Outcome o = run([&] { return c.fn(c.value); });
        EXPECT_TRUE(matches(o, c.expect)) << c.name << " " << show(c.value) << ": got " << show(o);
    }
}

TEST_F(FloatActions, EvenAndOdd) {
    const auto& t = registry::actions(TypeId::float_);
    struct Case { double x; bool odd; };
    const Case cases[] = {
        {2.0, false}, {3.7, true}, {-3.7, true}, {2.5, false}, {-0.5, false},
        {4294967297.0, true}, {1e20, false}, {-2147483649.0, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(t.odd_q(flt(c.x)), c.odd) << c.x;
        EXPECT_EQ(t.even_q(flt(c.x)), !c.odd) << c.x;
    }
    for (const double x : {INFINITY, -INFINITY, NAN}) {
        EXPECT_EQ(run([&] { return cell::logic(t.even_q(flt(x))); }).error, ErrorId::type_limit) << x;
        EXPECT_EQ(run([&] { return cell::logic(t.odd_q(flt(x))); }).error, ErrorId::type_limit) << x;
    }
}

TEST_F(FloatActions, Power) {
    struct Case { Cell base, exponent; Expect expect; };
    const Case cases[] = {
        {flt(2.0), num(10), gives(flt(1024.0))},
        {flt(4.0), flt(0.5), gives(flt(2.0))},
        {pct(0.5), num(2), gives(pct(0.25))},
        {flt(0.0), num(-1), gives(flt(INFINITY))},
        {flt(-8.0), flt(1.0 / 3.0), gives(flt(NAN))},
        {flt(2.0), pct(0.5), raises(ErrorId::expect_arg)},
        {flt(2.0), chr(2), raises(ErrorId::expect_arg)},
    };
    for (const Case& c : cases) {
        const Outcome o = run([&] { return row(c.base).power(c.base, c.exponent); });
        EXPECT_TRUE(matches(o, c.expect)) << show(c.base) << " ** " << show(c.exponent) << ": got " << show(o);
    }
}

struct RoundCase {
    Cell value;
    std::optional<Cell> scale;
    const char* mode;
    Expect expect;
};

Outcome round_with(const RoundCase& c) {
    RoundOptions o{};
    const std::string m = c.mode;
    o.even = m == "even";
    o.down = m == "down";
    o.half_down = m == "half-down";
    o.floor = m == "floor";
    o.ceiling = m == "ceiling";
    o.half_ceiling = m == "half-ceiling";
    o.to = c.scale ? &*c.scale : nullptr;
    try {
        return {std::nullopt, registry::actions(cell::type(c.value)).round(c.value, o)};
    } catch (const error::Thrown&) {
        return {error::pending().id, cell::none()};
    }
}

TEST_F(FloatActions, Round) {
    const std::optional<Cell> none;
    const RoundCase cases[] = {
        {flt(2.5), none, "", gives(flt(3.0))},
        {flt(-2.5), none, "", gives(flt(-3.0))},
        {flt(2.4), none, "", gives(flt(2.0))},
        {flt(-2.6), none, "", gives(flt(-3.0))},
        {flt(2.5), none, "even", gives(flt(2.0))},
        {flt(3.5), none, "even", gives(flt(4.0))},
        {flt(-3.5), none, "even", gives(flt(-4.0))},
        {flt(2.6), none, "even", gives(flt(3.0))},
        {flt(2.5), none, "half-down", gives(flt(2.0))},
        {flt(-2.5), none, "half-down", gives(flt(-2.0))},
        {flt(2.5), none, "half-ceiling", gives(flt(3.0))},
        {flt(-2.5), none, "half-ceiling", gives(flt(-2.0))},
        {flt(-2.1), none, "floor", gives(flt(-3.0))},
        {flt(-2.9), none, "ceiling", gives(flt(-2.0))},
        {flt(-2.9), none, "down", gives(flt(-2.0))},
        {flt(2.9), none, "down", gives(flt(2.0))},
        {flt(1.23456), flt(0.01), "", gives(flt(1.23))},
        {flt(1.235), flt(0.01), "down", gives(flt(1.23))},
        {flt(7.3), num(2), "", gives(num(8))},
        {flt(-7.3), num(-2), "", gives(num(-8))},
        {flt(7.3), flt(2.0), "", gives(flt(8.0))},
        {flt(7.0), tim(2.0), "", gives(tim(8.0))},
        {flt(1234.5), num(100), "floor", gives(num(1200))},
        // Values already far beyond the scale's precision, and the special values, stay.
        {flt(1e300), none, "", gives(flt(1e300))},
        {flt(1e300), num(1), "", gives(flt(1e300))},
        {flt(INFINITY), none, "", gives(flt(INFINITY))},
        {flt(NAN), none, "", gives(flt(NAN))},
        {flt(1.5), flt(0.0), "", gives(flt(1.5))},
        {flt(3e-320), flt(1e-320), "", gives(flt(3e-320))},
        // An integer scale needs a result in the 32-bit range.
        {flt(3e9), num(1), "", raises(ErrorId::overflow)},
        {flt(NAN), num(1), "", raises(ErrorId::overflow)},
        {flt(1.5e308), flt(1e308), "", raises(ErrorId::overflow)},
        {flt(1.5), cell::make(TypeId::money), "", raises(ErrorId::not_related)},
        {flt(1.5), text_value("1"), "", raises(ErrorId::expect_arg)},
        // percent! rounds to whole percents by default; a /to scale counts in percents too.
        {pct(0.125), none, "", gives(pct(0.13))},
        {pct(0.125), none, "even", gives(pct(0.12))},
        {pct(0.1234), num(5), "", gives(num(0))},
        {pct(0.1234), pct(5.0), "", gives(pct(0.1))},
    };
    for (const RoundCase& c : cases) {
        const Outcome o = round_with(c);
        EXPECT_TRUE(matches(o, c.expect)) << "round/" << c.mode << " " << show(c.value) << " to "
                                          << (c.scale ? show(*c.scale) : "-") << ": got " << show(o);
    }
}

TEST_F(FloatActions, MakeAndTo) {
    const auto& t = registry::actions(TypeId::float_);
    struct Case { TypeId target; Cell spec; Expect expect; };
    const Case cases[] = {
        {TypeId::float_, num(-3), gives(flt(-3.0))},
        {TypeId::float_, chr('a'), gives(flt(97.0))},
        {TypeId::float_, pct(0.5), gives(flt(0.5))},
        {TypeId::float_, tim(90.0), gives(flt(90.0))},
        {TypeId::percent, num(50), gives(pct(50.0))},
        {TypeId::percent, flt(0.5), gives(pct(0.5))},
        {TypeId::float_, binary({0x3F, 0xF0, 0, 0, 0, 0, 0, 0}), gives(flt(1.0))},
        {TypeId::float_, binary({0x3F, 0xF0, 0, 0, 0, 0, 0, 0, 0x12}), gives(flt(1.0))},
        {TypeId::float_, binary({0x00, 0x3F, 0xF0, 0, 0, 0, 0, 0, 0}, 1), gives(flt(1.0))},
        {TypeId::float_, binary({0x01}), gives(flt(std::numeric_limits<double>::denorm_min()))},
        {TypeId::float_, binary({}), gives(flt(0.0))},
        {TypeId::float_, block_of({flt(1.5), num(2)}), gives(flt(150.0))},
        {TypeId::float_, block_of({num(1), num(-2)}), gives(flt(0.01))},
        {TypeId::float_, block_of({num(2), flt(1.9)}), gives(flt(20.0))},
        {TypeId::float_, block_of({num(3), num(0)}, TypeId::paren), gives(flt(3.0))},
        {TypeId::percent, block_of({num(1), num(2)}), gives(pct(100.0))},
        {TypeId::float_, cell::series(TypeId::block, block_of({num(9), num(1), num(2)}).w2, 1), gives(flt(100.0))},
        {TypeId::float_, block_of({flt(1.5)}), raises(ErrorId::bad_to_arg)},
        {TypeId::float_, block_of({num(1), num(2), num(3)}), raises(ErrorId::bad_to_arg)},
        {TypeId::float_, block_of({pct(0.5), num(2)}), raises(ErrorId::bad_to_arg)},
        {TypeId::float_, text_value(""), raises(ErrorId::bad_to_arg)},
        {TypeId::percent, text_value("", TypeId::file), raises(ErrorId::bad_to_arg)},
        {TypeId::float_, text_value("1.5"), gives(flt(1.5))},
        {TypeId::float_, text_value("1,5"), gives(flt(1.5))},
        {TypeId::float_, text_value("-2.5e3"), gives(flt(-2500.0))},
        {TypeId::float_, text_value("1.5x"), raises(ErrorId::bad_to_arg)},
        {TypeId::percent, text_value("50%"), gives(pct(0.5))},
        {TypeId::percent, text_value("50"), gives(pct(50.0))},
        {TypeId::percent, text_value("50% 1"), raises(ErrorId::bad_to_arg)},
        {TypeId::percent, text_value("abc"), raises(ErrorId::bad_to_arg)},
        {TypeId::float_, cell::none(), raises(ErrorId::bad_to_arg)},
        {TypeId::percent, cell::logic(true), raises(ErrorId::bad_to_arg)},
    };
    for (const Case& c : cases) {
        const Cell type = datatype_value(c.target);
        const Outcome made = run([&] { return t.make(c.target, type, c.spec); });
        const Outcome converted = run([&] { return registry::actions(c.target).to(c.target, type, c.spec); });
        EXPECT_TRUE(matches(made, c.expect)) << "make from " << show(c.spec) << ": got " << show(made);
        EXPECT_TRUE(matches(converted, c.expect)) << "to from " << show(c.spec) << ": got " << show(converted);
    }
}

TEST_F(FloatActions, ABadBlockItemIsNamedWithFloat) {
    const Cell item = text_value("a");
    const Cell spec = block_of({item, num(2)});
    EXPECT_THROW(registry::actions(TypeId::percent).make(TypeId::percent, datatype_value(TypeId::percent), spec),
                 error::Thrown);
    EXPECT_TRUE(same_value(error::pending().args[0], datatype_value(TypeId::float_)));
    EXPECT_TRUE(same_value(error::pending().args[1], item));
}

TEST_F(FloatActions, Compare) {
    const double nan = NAN;
    struct Case { Cell a, b; int32_t op; int32_t answer; };
    const Case cases[] = {
        {flt(0.1 + 0.2), flt(0.3), op_equal, 0},
        {flt(0.1 + 0.2), flt(0.3), op_not_equal, 0},
        {flt(0.1 + 0.2), flt(0.3), op_strict_equal, 1},
        {flt(0.1 + 0.2), flt(0.3), op_find, 0},
        // Ten steps apart is equal, eleven is not, at every magnitude and sign.
        {flt(1e10), flt(steps(1e10, 10)), op_equal, 0},
        {flt(1e10), flt(steps(1e10, 11)), op_equal, 1},
        {flt(-1e10), flt(steps(-1e10, -10)), op_equal, 0},
        {flt(-1e10), flt(steps(-1e10, -11)), op_equal, 1},
        {flt(1e300), flt(steps(1e300, 10)), op_equal, 0},
        {flt(1e300), flt(steps(1e300, 11)), op_equal, 1},
        {flt(1.0), flt(steps(1.0, 11)), op_equal, 1},
        // Tiny values of either sign are within the epsilon of each other.
        {flt(1e-300), flt(-1e-300), op_equal, 0},
        {flt(0.0), flt(-0.0), op_equal, 0},
        {flt(0.0), flt(-0.0), op_strict_equal, 0},
        {flt(0.0), flt(-0.0), op_same, 1},
        // NaN: unequal to everything, every ordering false; the sort orders put it after every
        // number, and a search finds a NaN by a NaN.
        {flt(1.0), flt(nan), op_equal, 1},
        {flt(nan), flt(nan), op_equal, 1},
        {flt(nan), flt(nan), op_strict_equal, 1},
        {flt(nan), flt(nan), op_same, 0},
        {flt(nan), flt(1.0), op_lesser, 1},
        {flt(nan), flt(1.0), op_lesser_or_equal, 1},
        {flt(1.0), flt(nan), op_greater, -1},
        {flt(1.0), flt(nan), op_greater_or_equal, -1},
        {flt(1.0), flt(nan), op_sort, -1},
        {flt(nan), flt(-INFINITY), op_sort_case, 1},
        {flt(nan), flt(nan), op_sort, 0},
        {flt(nan), flt(nan), op_find, 0},
        {flt(nan), flt(1.0), op_find, 1},
        {flt(-INFINITY), flt(INFINITY), op_lesser, -1},
        // Other types.
        {flt(1.0), num(1), op_equal, 0},
        {flt(1.0), num(1), op_strict_equal, 1},
        {flt(1.0), num(1), op_same, 1},
        {flt(1.5), num(2), op_lesser, -1},
        {flt(1.0), pct(1.0), op_equal, 0},
        {flt(1.0), pct(1.0), op_strict_equal, 1},
        {pct(0.5), pct(0.5), op_same, 0},
        {flt(60.0), tim(60.0), op_equal, 0},
        {flt(60.0), tim(60.0), op_find, 1},
        {flt(97.0), chr('a'), op_equal, kNotComparable},
        {flt(1.0), text_value("1"), op_lesser, kNotComparable},
        {flt(1.0), text_value("1"), op_strict_equal, 1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(row(c.a).compare(c.a, c.b, c.op), c.answer) << show(c.a) << " op " << c.op << " " << show(c.b);
}

TEST_F(FloatActions, FormAndMold) {
    struct Case { double x; const char* form; const char* form_plain; const char* mold; };
    const Case cases[] = {
        {1.0, "1.0", "1.0", "1.0"},
        {123.0, "123.0", "123.0", "123.0"},
        {0.1, "0.1", "0.1", "0.1"},
        {1e20, "1.0e20", "1.0e20", "1.0e20"},
        {1e16, "1.0e16", "1.0e16", "10000000000000000.0"},
        {1e-5, "1.0e-5", "1.0e-5", "0.00001"},
        {-1.5e300, "-1.5e300", "-1.5e300", "-1.5e300"},
        {1.5e-300, "0.0", "1.5e-300", "1.5e-300"},
        {1234567890123456.0, "1234567890123456.0", "1234567890123456.0", "1234567890123456.0"},
        {0.000123, "0.000123", "0.000123", "0.000123"},
        // A last "99" or "01" at full precision is printed again with 14 digits.
        {4.35 * 100, "435.0", "434.9999999999999", "434.99999999999994"},
        {-(4.35 * 100), "-435.0", "-434.9999999999999", "-434.99999999999994"},
        {0.1 + 0.7, "0.8", "0.7999999999999999", "0.7999999999999999"},
        {1.0000000000000011, "1.0", "1.000000000000001", "1.000000000000001"},
        {1e23, "1.0e23", "9.999999999999999e22", "1.0e23"},
        {0.1 + 0.2, "0.3", "0.3", "0.30000000000000004"},
        // Magnitudes below the epsilon print as zero while pretty.
        {1e-17, "0.0", "1.0e-17", "1.0e-17"},
        {-0.0, "0.0", "-0.0", "-0.0"},
        {INFINITY, "1.#INF", "1.#INF", "1.#INF"},
        {-INFINITY, "-1.#INF", "-1.#INF", "-1.#INF"},
        {NAN, "1.#NaN", "1.#NaN", "1.#NaN"},
    };
    for (const Case& c : cases) {
        float_::set_pretty(true);
        EXPECT_EQ(form(flt(c.x)), c.form) << c.x;
        EXPECT_EQ(mold(flt(c.x)), c.mold) << c.x;
        float_::set_pretty(false);
        EXPECT_EQ(form(flt(c.x)), c.form_plain) << c.x;
        EXPECT_EQ(mold(flt(c.x)), c.mold) << c.x;
    }
}

TEST_F(FloatActions, FormKinds) {
    using K = float_::FormKind;
    struct Case { double x; K kind; const char* text; };
    const Case cases[] = {
        {static_cast<double>(0.1f), K::float32, "0.1"},
        {1e20, K::float32, "1.0e20"},
        {static_cast<double>(1.0f / 3.0f), K::float32, "0.3333333"},
        {3.0, K::coordinate, "3"},
        {2.5, K::coordinate, "2.5"},
        {1e-20, K::coordinate, "0"},
        {1.5, K::time_seconds, "1.5"},
        {2.0, K::time_seconds, "2"},
        {0.1 + 0.2, K::time_seconds, "0.3"},
        {1e-20, K::time_seconds, "0.0"},
        {50.0, K::percent32, "50%"},
        {12.5, K::percent, "12.5%"},
        {1e-17, K::percent, "0%"},
        {1e20, K::percent, "1e20%"},
    };
    for (const Case& c : cases) EXPECT_EQ(float_::form(c.x, c.kind).view(), c.text) << c.x;
}

TEST_F(FloatActions, AlmostEqual) {
    EXPECT_TRUE(float_::almost_equal(INFINITY, INFINITY));
    EXPECT_FALSE(float_::almost_equal(INFINITY, -INFINITY));
    EXPECT_FALSE(float_::almost_equal(NAN, NAN));
    EXPECT_TRUE(float_::almost_equal(std::numeric_limits<double>::denorm_min(), -0.0));
    EXPECT_FALSE(float_::almost_equal(1.0, 1.0 + 1e-12));
}

TEST_F(FloatActions, ToIntegerRoundsCoordinates) {
    EXPECT_EQ(float_::to_integer(1.5), 2);
    EXPECT_EQ(float_::to_integer(0.49999999999999994), 0);
    EXPECT_EQ(float_::to_integer(-1.7), -1);
    EXPECT_EQ(float_::to_integer(2147483646.5), 2147483647);
    EXPECT_EQ(run([] { return num(float_::to_integer(2147483647.0)); }).error, ErrorId::type_limit);
    EXPECT_EQ(run([] { return num(float_::to_integer(NAN)); }).error, ErrorId::type_limit);
}

TEST_F(PercentActions, FormAndMold) {
    struct Case { double fraction; const char* text; const char* text_plain; };
    const Case cases[] = {
        {0.5, "50%", "50%"},
        {1.0, "100%", "100%"},
        {-0.5, "-50%", "-50%"},
        {0.123, "12.3%", "12.3%"},
        {0.075, "7.5%", "7.5%"},
        {12345.678, "1234567.8%", "1234567.8%"},
        {0.0, "0%", "0%"},
        {1e-19, "0%", "1e-17%"},
        {INFINITY, "1.#INF", "1.#INF"},
    };
    for (const Case& c : cases) {
        float_::set_pretty(true);
        EXPECT_EQ(form(pct(c.fraction)), c.text) << c.fraction;
        EXPECT_EQ(mold(pct(c.fraction)), c.text) << c.fraction;
        float_::set_pretty(false);
        EXPECT_EQ(form(pct(c.fraction)), c.text_plain) << c.fraction;
    }
}

TEST_F(PercentActions, SharesFloatActions) {
    const auto& p = registry::actions(TypeId::percent);
    EXPECT_TRUE(same_value(p.add(pct(0.05), num(1)), pct(1.05)));
    EXPECT_TRUE(same_value(p.negate(pct(0.05)), pct(-0.05)));
    EXPECT_EQ(p.compare(pct(0.5), flt(0.5), op_equal), 0);
    EXPECT_TRUE(p.even_q(pct(0.5)));
}

}  // namespace
}  // namespace zub
