// triple!: its one text form, and that every other action is refused.
#include <climits>

#include "tests/unit/numbers_fixture.h"

namespace zub {
namespace {

class TripleActions : public NumberTest {};

Cell triple(int32_t a, int32_t b, int32_t c) {
    return cell::make(TypeId::triple, static_cast<uint32_t>(a), static_cast<uint32_t>(b), static_cast<uint32_t>(c));
}

TEST_F(TripleActions, Text) {
    struct Case {
        Cell value;
        const char* text;
    };
    const Case cases[] = {
        {triple(0, 0, 0), "make triple! [0 0 0]"},
        {triple(1, -2, 3), "make triple! [1 -2 3]"},
        {triple(INT32_MIN, INT32_MAX, -1), "make triple! [-2147483648 2147483647 -1]"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(form(c.value), c.text);
        EXPECT_EQ(mold(c.value), c.text);
        EXPECT_EQ(mold(c.value, true), c.text);
    }
}

TEST_F(TripleActions, OtherActionsAreRefused) {
    const Cell t = triple(1, 2, 3);
    const ActionTable& r = row(t);
    EXPECT_EQ(run([&] {
                  return r.make(TypeId::triple, t, block_of({num(1), num(2), num(3)}));
              }).error,
              ErrorId::expect_arg);
    EXPECT_EQ(run([&] { return r.to(TypeId::triple, t, t); }).error, ErrorId::expect_arg);
    EXPECT_EQ(run([&] { return cell::integer(r.compare(t, t, op_equal)); }).error, ErrorId::expect_arg);
    EXPECT_EQ(math(math_add, t, num(1)).error, ErrorId::expect_arg);
    EXPECT_EQ(run([&] { return r.negate(t); }).error, ErrorId::expect_arg);
    EXPECT_EQ(run([&] { return r.pick(t, 1, num(1)); }).error, ErrorId::expect_arg);
}

}  // namespace
}  // namespace zub
