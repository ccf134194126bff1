// time! internals the language does not reach: from_parts, operands the natives refuse first, and
// date! and money! arguments. The rest is in tests/lang/time.zub.

#include "datatypes/time.h"
#include "tests/unit/numbers_fixture.h"

namespace zub {
namespace {

class TimeActions : public NumberTest {};

struct Case {
    const char* what;
    Outcome got;
    Expect expect;
};

TEST_F(TimeActions, FromParts) {
    EXPECT_TRUE(same_value(time::from_parts(false, 1, 2, 3.5), tim(3723.5)));
    EXPECT_TRUE(same_value(time::from_parts(true, 1, 30, 0), tim(-5400)));
    EXPECT_TRUE(same_value(time::from_parts(false, 0, 75, 0), tim(4500)));
}

// The operands the natives refuse before the time arithmetic sees them, and a date! subtracted
// from a time.
TEST_F(TimeActions, RefusedOperands) {
    const Cell date = cell::make(TypeId::date);
    const Case cases[] = {
        {"- date", math(math_subtract, tim(60), date), raises(ErrorId::not_related)},
        {"+ none", math(math_add, tim(60), cell::none()), raises(ErrorId::invalid_type)},
        {"- text", math(math_subtract, tim(60), text_value("1")), raises(ErrorId::invalid_type)},
        {"pick none", run([] { return row(tim(1)).pick(tim(1), 0, cell::none()); }), raises(ErrorId::out_of_range)},
    };
    for (const Case& c : cases)
        EXPECT_TRUE(matches(c.got, c.expect)) << c.what << ": got " << show(c.got) << ", expected " << show(c.expect);
    ASSERT_EQ(math(math_subtract, tim(1), date).error, ErrorId::not_related);
    EXPECT_EQ(symbol::utf8(error::pending().args[0].w2), "subtract");
}

// A money! scale is refused (tests/lang/money.zub has the language side).
TEST_F(TimeActions, RoundToMoney) {
    RoundOptions o{};
    const Cell to = cell::make(TypeId::money);
    o.to = &to;
    EXPECT_EQ(run([&] { return row(tim(3723)).round(tim(3723), o); }).error, ErrorId::not_related);
}

}  // namespace
}  // namespace zub
