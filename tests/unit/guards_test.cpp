// The scope guards end innermost first: the evaluation stack's Rooted values, the cycle guard and
// the collector guard. With assertions on, one ended out of turn stops the program.
#include <optional>

#include "runtime/assert.h"
#include "runtime/collector.h"
#include "tests/unit/runtime_fixture.h"

namespace zub {
namespace {

class Guards : public RuntimeTest {};

TEST_F(Guards, NestedGuardsEndInnermostFirst) {
    Cell* const top = stack::g_top;
    {
        stack::Rooted outer(cell::integer(1));
        cycles::Guard walking_a(1);
        collector::Guard hold_a;
        {
            stack::Rooted inner(cell::integer(2));
            cycles::Guard walking_b(2);
            collector::Guard hold_b;
            EXPECT_EQ(cycles::depth(), 2u);
            EXPECT_EQ(collector::g_state.holds, 2u);
        }
        EXPECT_EQ(stack::g_top, top + 1);
        EXPECT_EQ(cycles::depth(), 1u);
    }
    EXPECT_EQ(stack::g_top, top);
    EXPECT_EQ(cycles::depth(), 0u);
    EXPECT_EQ(collector::g_state.holds, 0u);
}

// An error that empties the cycle stack on its way out leaves the guards it passes nothing to pop.
TEST_F(Guards, CycleGuardsPassedByAResetPopNothing) {
    {
        cycles::Guard outer(1);
        {
            cycles::Guard inner(2);
            cycles::reset();
        }
        cycles::Guard later(3);
        EXPECT_EQ(cycles::depth(), 1u);
    }
    EXPECT_EQ(cycles::depth(), 0u);
}

#if ZUB_ASSERTS_ON
using GuardsDeathTest = Guards;

TEST_F(GuardsDeathTest, ARootedValueEndedOutOfTurnStops) {
    EXPECT_DEATH(
        {
            std::optional<stack::Rooted> outer(std::in_place, cell::integer(1));
            stack::Rooted inner(cell::integer(2));
            outer.reset();
        },
        "internal assertion failed");
}

TEST_F(GuardsDeathTest, ACycleGuardEndedOutOfTurnStops) {
    EXPECT_DEATH(
        {
            std::optional<cycles::Guard> outer(std::in_place, 1);
            cycles::Guard inner(2);
            outer.reset();
        },
        "internal assertion failed");
    EXPECT_DEATH(
        {
            cycles::Guard walking(1);
            cycles::pop();
        },
        "internal assertion failed");
}

TEST_F(GuardsDeathTest, ACollectorGuardEndedOutOfTurnStops) {
    EXPECT_DEATH(
        {
            std::optional<collector::Guard> outer(std::in_place);
            collector::Guard inner;
            outer.reset();
        },
        "internal assertion failed");
}
#endif

}  // namespace
}  // namespace zub
