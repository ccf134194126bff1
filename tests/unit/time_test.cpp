// time!: construction from blocks and numbers, the h:mm:ss text, the parts by path and pick, the
// arithmetic rules that differ from float!'s, round, parity, and the slots it refuses.
#include <cmath>
#include <limits>
#include <string>

#include "datatypes/time.h"
#include "evaluator/lexer/lexer.h"
#include "tests/unit/numbers_fixture.h"

namespace zub {
namespace {

class TimeActions : public NumberTest {
  protected:
    static Outcome make(Cell spec) {
        return run([&] { return registry::actions(TypeId::time).make(TypeId::time, tim(0), spec); });
    }
    static PathStep step(const Cell* set_value) {
        return PathStep{set_value, block_of({}, TypeId::path), cell::none(), 1, false};
    }
    static Outcome path(Cell t, Cell element, const Cell* set_value = nullptr) {
        return run([&] { return row(t).eval_path(t, element, step(set_value)); });
    }
};

struct Case {
    const char* what;
    Outcome got;
    Expect expect;
};

TEST_F(TimeActions, MakeAndTo) {
    const Case cases[] = {
        {"[1 2 3]", make(block_of({num(1), num(2), num(3)})), gives(tim(3723))},
        {"[-1 30 0]: the whole value negative", make(block_of({num(-1), num(30), num(0)})), gives(tim(-5400))},
        {"[1 2 3.5]", make(block_of({num(1), num(2), flt(3.5)})), gives(tim(3723.5))},
        {"[1 2]", make(block_of({num(1), num(2)})), gives(tim(3720))},
        {"paren [0 90]: minutes past 59 add up", make(block_of({num(0), num(90)}, TypeId::paren)), gives(tim(5400))},
        {"[]", make(block_of({})), gives(tim(0))},
        {"[1 -2 0]", make(block_of({num(1), num(-2), num(0)})), raises(ErrorId::bad_to_arg)},
        {"[1 2 -3]", make(block_of({num(1), num(2), num(-3)})), raises(ErrorId::bad_to_arg)},
        {"[1 2 3 4]", make(block_of({num(1), num(2), num(3), num(4)})), raises(ErrorId::bad_to_arg)},
        {"[1.5 2]: only the seconds may be a float", make(block_of({flt(1.5), num(2)})), raises(ErrorId::bad_to_arg)},
        {"[1 2.5]", make(block_of({num(1), flt(2.5)})), raises(ErrorId::bad_to_arg)},
        {"[1 none]", make(block_of({num(1), cell::none()})), raises(ErrorId::bad_to_arg)},
        {"[-2147483648 0 0]: no overflow in the sign", make(block_of({num(INT32_MIN), num(0), num(0)})),
         gives(tim(-2147483648.0 * 3600))},
        {"90", make(num(90)), gives(tim(90))},
        {"1.5", make(flt(1.5)), gives(tim(1.5))},
        {"50%", make(pct(0.5)), gives(tim(0.5))},
        {"a time", make(tim(-7.25)), gives(tim(-7.25))},
        {"none", make(cell::none()), raises(ErrorId::bad_to_arg)},
        {"a char", make(chr('a')), raises(ErrorId::bad_to_arg)},
        {"empty text", make(text_value("")), raises(ErrorId::bad_to_arg)},
    };
    for (const Case& c : cases)
        EXPECT_TRUE(matches(c.got, c.expect)) << c.what << ": got " << show(c.got) << ", expected " << show(c.expect);

    // Items are read from the block's position.
    Cell at2 = block_of({num(9), num(1), num(2)});
    at2.w1 = 1;
    EXPECT_TRUE(matches(make(at2), gives(tim(3720))));
    // to is the same routine.
    EXPECT_EQ(registry::actions(TypeId::time).to, registry::actions(TypeId::time).make);
}

TEST_F(TimeActions, MakeFromText) {
    const Case cases[] = {
        {"text that is no time", make(text_value("12")), raises(ErrorId::bad_to_arg)},
        {"text of two values", make(text_value("1 2")), raises(ErrorId::bad_to_arg)},
        {"bad text", make(text_value("[")), raises(ErrorId::bad_to_arg)},
        {"a file", make(text_value("x", TypeId::file)), raises(ErrorId::bad_to_arg)},
    };
    for (const Case& c : cases)
        EXPECT_TRUE(matches(c.got, c.expect)) << c.what << ": got " << show(c.got) << ", expected " << show(c.expect);
}

TEST_F(TimeActions, BadToArgNamesTimeAndTheWholeValue) {
    const Cell spec = block_of({num(1), num(-2)});
    ASSERT_EQ(make(spec).error, ErrorId::bad_to_arg);
    EXPECT_TRUE(same_value(error::pending().args[0], datatype_value(TypeId::time)));
    EXPECT_EQ(error::pending().args[1].w2, spec.w2);
}

TEST_F(TimeActions, FromParts) {
    EXPECT_TRUE(same_value(time::from_parts(false, 1, 2, 3.5), tim(3723.5)));
    EXPECT_TRUE(same_value(time::from_parts(true, 1, 30, 0), tim(-5400)));
    EXPECT_TRUE(same_value(time::from_parts(false, 0, 75, 0), tim(4500)));
}

TEST_F(TimeActions, Text) {
    struct TextCase {
        double seconds;
        const char* text;
    };
    const TextCase cases[] = {
        {3661, "1:01:01"},
        {1.5, "0:00:01.5"},
        {0, "0:00:00"},
        {-0.0, "0:00:00"},
        {-90, "-0:01:30"},
        {-5400, "-1:30:00"},
        {59, "0:00:59"},
        {600, "0:10:00"},
        {3723.25, "1:02:03.25"},
        {12.125, "0:00:12.125"},
        {1e-7, "0:00:00"},            // below a microsecond the seconds are zero
        {0.5, "0:00:00.5"},
        {0.001, "0:00:00.001"},
        {100 * 3600.0, "100:00:00"},
        {1.23456789, "0:00:01.23457"},  // six significant digits
        {7740.1, "2:09:00.1"},
        // Seconds that round to 60 at six digits carry, so that the text reads back.
        {59.9999999, "0:01:00"},
        {3599.99999, "1:00:00"},
        {-59.9999999, "-0:01:00"},
        {59.9999, "0:00:59.9999"},
        {1e13, "2777777777:46:40"},     // hours beyond the 32-bit range
        {-1e13, "-2777777777:46:40"},
        {INFINITY, "1.#INF"},
        {-INFINITY, "-1.#INF"},
        {NAN, "1.#NaN"},
    };
    for (const TextCase& c : cases) {
        EXPECT_EQ(form(tim(c.seconds)), c.text) << c.seconds;
        EXPECT_EQ(mold(tim(c.seconds)), c.text) << c.seconds;
    }
}

TEST_F(TimeActions, PathsRead) {
    const Cell t = tim(3723.5);
    const Cell neg = tim(-5400);
    const Case cases[] = {
        {"1:02:03.5/1", path(t, num(1)), gives(num(1))},
        {"1:02:03.5/hour", path(t, word("hour")), gives(num(1))},
        {"1:02:03.5/Minute", path(t, word("Minute")), gives(num(2))},
        {"1:02:03.5/3", path(t, num(3)), gives(flt(3.5))},
        {"1:02:03.5/second", path(t, word("second")), gives(flt(3.5))},
        {"-1:30:00/hour", path(neg, word("hour")), gives(num(-1))},
        {"-1:30:00/minute", path(neg, word("minute")), gives(num(30))},
        {"-1:30:00/second", path(neg, word("second")), gives(flt(-0.0))},
        {"-0:00:05/second keeps the sign", path(tim(-5), num(3)), gives(flt(-5.0))},
        {"/0", path(t, num(0)), raises(ErrorId::invalid_path)},
        {"/4", path(t, num(4)), raises(ErrorId::invalid_path)},
        {"/day", path(t, word("day")), raises(ErrorId::invalid_path)},
        {"/'hour", path(t, word("hour", TypeId::lit_word)), raises(ErrorId::invalid_path)},
        {"/1.0", path(t, flt(1.0)), raises(ErrorId::invalid_path)},
        {"hours past the 32-bit range", path(tim(1e14), num(1)), raises(ErrorId::type_limit)},
    };
    for (const Case& c : cases)
        EXPECT_TRUE(matches(c.got, c.expect)) << c.what << ": got " << show(c.got) << ", expected " << show(c.expect);

    ASSERT_EQ(path(t, word("day")).error, ErrorId::invalid_path);
    EXPECT_EQ(error::pending().args[1].w2, word("day").w2);
}

TEST_F(TimeActions, PathsWrite) {
    const Cell t = tim(3723);  // 1:02:03
    const Cell ten = num(10), four_and_half = flt(4.5), five = num(5), two = num(2), half = flt(0.5);
    const Cell minus_two = num(-2), minus_four_and_half = flt(-4.5);
    const Cell text = text_value("1");
    const Case cases[] = {
        {"minute 10", path(t, word("minute"), &ten), gives(tim(4203))},
        {"2: 10", path(t, num(2), &ten), gives(tim(4203))},
        {"second 4.5", path(t, word("second"), &four_and_half), gives(tim(3724.5))},
        {"second 5", path(t, num(3), &five), gives(tim(3725))},
        {"hour 2", path(t, word("hour"), &two), gives(tim(7323))},
        // On a negative time each write is the inverse of its read.
        {"-1:30:00 hour -2", path(tim(-5400), word("hour"), &minus_two), gives(tim(-9000))},
        {"-1:30:00 minute 10", path(tim(-5400), word("minute"), &ten), gives(tim(-4200))},
        {"-1:30:05 second -4.5", path(tim(-5405), word("second"), &minus_four_and_half), gives(tim(-5404.5))},
        {"hour 0.5", path(t, word("hour"), &half), raises(ErrorId::invalid_arg)},
        {"minute 0.5", path(t, word("minute"), &half), raises(ErrorId::invalid_arg)},
        {"second text", path(t, word("second"), &text), raises(ErrorId::invalid_arg)},
        {"bad element", path(t, num(7), &ten), raises(ErrorId::invalid_path)},
    };
    for (const Case& c : cases)
        EXPECT_TRUE(matches(c.got, c.expect)) << c.what << ": got " << show(c.got) << ", expected " << show(c.expect);
    EXPECT_EQ(form(path(t, word("minute"), &ten).value), "1:10:03");
    EXPECT_EQ(form(path(t, word("second"), &four_and_half).value), "1:02:04.5");
}

TEST_F(TimeActions, Pick) {
    const Cell t = tim(3723.5);
    const auto pick = [&](int32_t index, Cell index_value) {
        return run([&] { return row(t).pick(t, index, index_value); });
    };
    const Case cases[] = {
        {"1", pick(1, num(1)), gives(num(1))},
        {"2", pick(2, num(2)), gives(num(2))},
        {"3", pick(3, num(3)), gives(flt(3.5))},
        {"minute", pick(0, word("minute")), gives(num(2))},
        {"0", pick(0, num(0)), raises(ErrorId::out_of_range)},
        {"4", pick(4, num(4)), raises(ErrorId::out_of_range)},
        {"-1", pick(-1, num(-1)), raises(ErrorId::out_of_range)},
        {"day", pick(0, word("day")), raises(ErrorId::out_of_range)},
        {"none", pick(0, cell::none()), raises(ErrorId::out_of_range)},
    };
    for (const Case& c : cases)
        EXPECT_TRUE(matches(c.got, c.expect)) << c.what << ": got " << show(c.got) << ", expected " << show(c.expect);
}

TEST_F(TimeActions, Arithmetic) {
    struct MathCase {
        MathOp op;
        Cell a, b;
        Expect expect;
    };
    const Cell date = cell::make(TypeId::date);
    const MathCase cases[] = {
        {math_divide, tim(3600), tim(1800), gives(flt(2.0))},
        {math_divide, tim(3600), num(2), gives(tim(1800))},
        {math_divide, tim(3600), flt(0.5), gives(tim(7200))},
        {math_divide, tim(1), num(0), gives(tim(INFINITY))},
        {math_add, tim(60), num(30), gives(tim(90))},
        {math_add, tim(60), tim(30), gives(tim(90))},
        {math_add, tim(60), flt(0.5), gives(tim(60.5))},
        {math_subtract, tim(60), tim(90), gives(tim(-30))},
        {math_subtract, tim(60), num(1), gives(tim(59))},
        {math_multiply, tim(60), num(3), gives(tim(180))},
        {math_multiply, tim(60), pct(0.5), gives(tim(30))},
        {math_remainder, tim(125), tim(60), gives(tim(5))},
        {math_remainder, tim(125), num(60), gives(tim(5))},
        {math_multiply, tim(60), tim(2), raises(ErrorId::not_related)},
        {math_subtract, tim(60), date, raises(ErrorId::not_related)},
        {math_add, tim(60), chr('a'), raises(ErrorId::invalid_type)},
        {math_add, tim(60), cell::none(), raises(ErrorId::invalid_type)},
        {math_subtract, tim(60), text_value("1"), raises(ErrorId::invalid_type)},
        // Integers and floats on the left reach the same float arithmetic and make a time.
        {math_multiply, num(2), tim(90), gives(tim(180))},
        {math_add, flt(0.5), tim(60), gives(tim(60.5))},
        {math_subtract, num(100), tim(40), gives(tim(60))},
    };
    for (const MathCase& c : cases) {
        const Outcome o = math(c.op, c.a, c.b);
        EXPECT_TRUE(matches(o, c.expect)) << show(c.a) << " op " << c.op << " " << show(c.b) << ": got " << show(o)
                                          << ", expected " << show(c.expect);
    }
}

TEST_F(TimeActions, NotRelatedNamesTheActionAndTime) {
    ASSERT_EQ(math(math_multiply, tim(1), tim(2)).error, ErrorId::not_related);
    EXPECT_EQ(symbol::utf8(error::pending().args[0].w2), "multiply");
    EXPECT_TRUE(same_value(error::pending().args[1], datatype_value(TypeId::time)));
    ASSERT_EQ(math(math_subtract, tim(1), cell::make(TypeId::date)).error, ErrorId::not_related);
    EXPECT_EQ(symbol::utf8(error::pending().args[0].w2), "subtract");
}

TEST_F(TimeActions, Round) {
    struct RoundCase {
        Cell value;
        std::optional<Cell> to;
        bool down;
        Expect expect;
    };
    const RoundCase cases[] = {
        {tim(90.5), std::nullopt, false, gives(tim(91))},
        {tim(-90.5), std::nullopt, false, gives(tim(-91))},
        {tim(90.5), std::nullopt, true, gives(tim(90))},
        // An integer or float scale still gives a time.
        {tim(3723), num(60), false, gives(tim(3720))},
        {tim(3750), num(60), false, gives(tim(3780))},
        {tim(3723), flt(60.0), false, gives(tim(3720))},
        {tim(3723), tim(600), false, gives(tim(3600))},
        {tim(1.26), flt(0.1), false, gives(tim(1.3))},
        // Far beyond the 32-bit range an integer scale neither overflows nor truncates.
        {tim(1e12 + 7), num(10), false, gives(tim(1e12 + 10))},
        {tim(3723), cell::make(TypeId::money), false, raises(ErrorId::not_related)},
    };
    for (const RoundCase& c : cases) {
        RoundOptions o{};
        o.down = c.down;
        const Cell to = c.to.value_or(cell::none());
        if (c.to) o.to = &to;
        const Outcome got = run([&] { return row(c.value).round(c.value, o); });
        EXPECT_TRUE(matches(got, c.expect)) << show(c.value) << ": got " << show(got) << ", expected " << show(c.expect);
    }
}

TEST_F(TimeActions, Parity) {
    struct ParityCase {
        double seconds;
        bool even;
    };
    const ParityCase cases[] = {
        {2, true},      {3, false},    {2.9999999, false},  // counts as 3
        {62, true},     {61, false},   {3662.5, true},      // the seconds within the minute
        {-3, false},    {-2.9999999, false},                  {0, true},
        {59.9999999, true},  // 60 within the minute is 0
    };
    for (const ParityCase& c : cases) {
        const Cell t = tim(c.seconds);
        EXPECT_EQ(row(t).even_q(t), c.even) << c.seconds;
        EXPECT_EQ(row(t).odd_q(t), !c.even) << c.seconds;
    }
    const Cell inf = tim(INFINITY);
    EXPECT_EQ(run([&] { return cell::logic(row(inf).odd_q(inf)); }).error, ErrorId::type_limit);
}

// Time literals as the lexer loads them, built by time::from_parts.
TEST_F(TimeActions, Literals) {
    const auto load = [](const std::string& text) {
        return run([&] {
            const NodeId block = lexer::load(reinterpret_cast<const std::byte*>(text.data()), static_cast<uint32_t>(text.size()));
            return memory::buffer(block)->cells()[0];
        });
    };
    struct Literal {
        const char* text;
        Expect expect;
    };
    const Literal cases[] = {
        {"1:02:03", gives(tim(3723))},
        {"-1:30", gives(tim(-5400))},
        {"-0:30", gives(tim(-1800))},
        {"+0:30", gives(tim(1800))},
        {"0:00", gives(tim(0))},
        {"1:02:03.5", gives(tim(3723.5))},
        {"0:0:59.999999", gives(tim(59.999999))},
        {"12:75", gives(tim(12 * 3600 + 75 * 60))},  // minutes are added as they stand
        {"24:00:00", gives(tim(86400))},
        {"123456789012:00", gives(tim(123456789012.0 * 3600))},
        {"1:02:60", raises(ErrorId::invalid)},
        {"1:2:3:4", raises(ErrorId::invalid)},
        {"1:30.5", raises(ErrorId::invalid)},  // a fraction only in the seconds
        {"1.5:30", raises(ErrorId::invalid)},
        {"1:", raises(ErrorId::invalid)},
        {"1:02:", raises(ErrorId::invalid)},
        {"1:02:03.", gives(tim(3723))},
    };
    for (const Literal& c : cases) {
        const Outcome got = load(c.text);
        EXPECT_TRUE(matches(got, c.expect)) << c.text << ": got " << show(got) << ", expected " << show(c.expect);
    }
    // A literal reads back from its own form.
    for (const double seconds : {3723.5, -5400.0, 0.25, 86399.999999, 360000.0}) {
        const std::string text = form(tim(seconds));
        const Outcome back = load(text);
        ASSERT_FALSE(back.error) << text;
        EXPECT_NEAR(cell::as_float(back.value), seconds, 1e-6) << text;
    }
}

TEST_F(TimeActions, InheritedAndRefusedSlots) {
    EXPECT_TRUE(same_value(row(tim(-5)).negate(tim(-5)), tim(5)));
    EXPECT_TRUE(same_value(row(tim(-5)).absolute(tim(-5)), tim(5)));
    EXPECT_EQ(row(tim(60)).compare(tim(60), num(60), op_equal), 0);
    EXPECT_LT(row(tim(60)).compare(tim(59), tim(60), op_lesser), 0);
    EXPECT_EQ(math(math_or, tim(1), num(1)).error, ErrorId::expect_arg);
    const Outcome power = run([] { return registry::actions(TypeId::time).power(tim(2), num(2)); });
    EXPECT_EQ(power.error, ErrorId::expect_arg);
}

}  // namespace
}  // namespace zub
