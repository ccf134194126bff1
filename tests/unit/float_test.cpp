// float! and percent! internals the language does not reach: refused operands, binary! and money!
// arguments, find's and sort's comparisons, the plain (not pretty) forms and the form kinds. The
// rest is in tests/lang/float.zub.
#include <cfloat>
#include <limits>

#include "tests/unit/numbers_fixture.h"

namespace zub {
namespace {

class FloatActions : public NumberTest {};
class PercentActions : public NumberTest {};

struct MathCase {
    MathOp op;
    Cell a, b;
    Expect expect;
};

// The operands the natives refuse first, and pair!, which has no literal in the language yet.
TEST_F(FloatActions, Arithmetic) {
    const Cell pair = cell::make(TypeId::pair, 0, 1, 2);
    const MathCase cases[] = {
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

// A money! scale is refused (tests/lang/money.zub has the language side).
TEST_F(FloatActions, RoundToMoney) {
    const std::optional<Cell> none;
    const RoundCase cases[] = {
        {flt(1.5), cell::make(TypeId::money), "", raises(ErrorId::not_related)},
    };
    for (const RoundCase& c : cases) {
        const Outcome o = round_with(c);
        EXPECT_TRUE(matches(o, c.expect)) << "round/" << c.mode << " " << show(c.value) << " to "
                                          << (c.scale ? show(*c.scale) : "-") << ": got " << show(o);
    }
}

// From binary!, which has no literal in the language yet.
TEST_F(FloatActions, MakeAndToFromBinary) {
    const auto& t = registry::actions(TypeId::float_);
    struct Case {
        TypeId target;
        Cell spec;
        Expect expect;
    };
    const Case cases[] = {
        {TypeId::float_, binary({0x3F, 0xF0, 0, 0, 0, 0, 0, 0}), gives(flt(1.0))},
        {TypeId::float_, binary({0x3F, 0xF0, 0, 0, 0, 0, 0, 0, 0x12}), gives(flt(1.0))},
        {TypeId::float_, binary({0x00, 0x3F, 0xF0, 0, 0, 0, 0, 0, 0}, 1), gives(flt(1.0))},
        {TypeId::float_, binary({0x01}), gives(flt(std::numeric_limits<double>::denorm_min()))},
        {TypeId::float_, binary({}), gives(flt(0.0))},
    };
    for (const Case& c : cases) {
        const Cell type = datatype_value(c.target);
        const Outcome made = run([&] { return t.make(c.target, type, c.spec); });
        const Outcome converted = run([&] { return registry::actions(c.target).to(c.target, type, c.spec); });
        EXPECT_TRUE(matches(made, c.expect)) << "make from " << show(c.spec) << ": got " << show(made);
        EXPECT_TRUE(matches(converted, c.expect)) << "to from " << show(c.spec) << ": got " << show(converted);
    }
}

// find's and sort's comparisons, which no comparison native uses.
TEST_F(FloatActions, CompareForFindAndSort) {
    struct Case {
        Cell a, b;
        int32_t op;
        int32_t answer;
    };
    const Case cases[] = {
        {flt(0.1 + 0.2), flt(0.3), op_find, 0},
        // The sort orders put NaN after every number; a search finds a NaN by a NaN.
        {flt(1.0), flt(NAN), op_sort, -1},
        {flt(NAN), flt(-INFINITY), op_sort_case, 1},
        {flt(NAN), flt(NAN), op_sort, 0},
        {flt(NAN), flt(NAN), op_find, 0},
        {flt(NAN), flt(1.0), op_find, 1},
        {flt(60.0), tim(60.0), op_find, 1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(row(c.a).compare(c.a, c.b, c.op), c.answer) << show(c.a) << " op " << c.op << " " << show(c.b);
}

// The plain form, without the pretty rules, which the language always uses; mold is the same
// either way.
TEST_F(FloatActions, FormPlain) {
    struct Case {
        double x;
        const char* form;
        const char* mold;
    };
    const Case cases[] = {
        {1.0, "1.0", "1.0"},
        {123.0, "123.0", "123.0"},
        {0.1, "0.1", "0.1"},
        {1e20, "1.0e20", "1.0e20"},
        {1e16, "1.0e16", "10000000000000000.0"},
        {1e-5, "1.0e-5", "0.00001"},
        {-1.5e300, "-1.5e300", "-1.5e300"},
        {1.5e-300, "1.5e-300", "1.5e-300"},
        {1234567890123456.0, "1234567890123456.0", "1234567890123456.0"},
        {0.000123, "0.000123", "0.000123"},
        {4.35 * 100, "434.9999999999999", "434.99999999999994"},
        {-(4.35 * 100), "-434.9999999999999", "-434.99999999999994"},
        {0.1 + 0.7, "0.7999999999999999", "0.7999999999999999"},
        {1.0000000000000011, "1.000000000000001", "1.000000000000001"},
        {1e23, "9.999999999999999e22", "1.0e23"},
        {0.1 + 0.2, "0.3", "0.30000000000000004"},
        {1e-17, "1.0e-17", "1.0e-17"},
        {-0.0, "-0.0", "-0.0"},
        {INFINITY, "1.#INF", "1.#INF"},
        {-INFINITY, "-1.#INF", "-1.#INF"},
        {NAN, "1.#NaN", "1.#NaN"},
    };
    float_::set_pretty(false);
    for (const Case& c : cases) {
        EXPECT_EQ(form(flt(c.x)), c.form) << c.x;
        EXPECT_EQ(mold(flt(c.x)), c.mold) << c.x;
    }
    float_::set_pretty(true);
}

TEST_F(FloatActions, FormKinds) {
    using K = float_::FormKind;
    struct Case {
        double x;
        K kind;
        const char* text;
    };
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

TEST_F(PercentActions, FormPlain) {
    struct Case {
        double fraction;
        const char* text;
    };
    const Case cases[] = {
        {0.5, "50%"},     {1.0, "100%"},     {-0.5, "-50%"},
        {0.123, "12.3%"}, {0.075, "7.5%"},   {12345.678, "1234567.8%"},
        {0.0, "0%"},      {1e-19, "1e-17%"}, {INFINITY, "1.#INF"},
    };
    float_::set_pretty(false);
    for (const Case& c : cases) EXPECT_EQ(form(pct(c.fraction)), c.text) << c.fraction;
    float_::set_pretty(true);
}

}  // namespace
}  // namespace zub
