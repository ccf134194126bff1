// The evaluator's thread and the depth guard: deep recursion runs, runaway recursion is an error.
#include "evaluator/depth.h"
#include "runtime/error.h"
#include "tests/unit/runtime_fixture.h"

namespace zub {
namespace {

class Depth : public RuntimeTest {};

// Recursion with a kilobyte of locals per level that live across the call, guarded as evaluation
// is (the compiler cannot turn it into a loop).
[[gnu::noinline]] int recurse(int n) {
    volatile char frame[1024];
    frame[0] = 1;
    depth::check();
    if (n == 0) return 0;
    const int below = recurse(n - 1);
    return below + frame[0];
}

TEST_F(Depth, RunawayRecursionIsACatchableError) {
    EXPECT_THROW(recurse(1 << 30), Thrown);
    EXPECT_EQ(error::pending().id, ErrorId::stack_overflow);
    EXPECT_EQ(recurse(100), 100);  // and the stack is usable again
}

TEST_F(Depth, TheEvaluatorThreadHasRoomForDeepRecursion) {
    // 32 MB of frames: far beyond a default thread stack, within the evaluator's.
    const int result = depth::run_on_evaluator_thread(
        [](void*) -> int {
            try {
                return recurse(32 * 1024) == 32 * 1024 ? 1 : 0;
            } catch (const Thrown&) {
                return -1;
            }
        },
        nullptr);
    EXPECT_EQ(result, 1);
    const int runaway = depth::run_on_evaluator_thread(
        [](void*) -> int {
            try {
                recurse(1 << 30);
                return 0;
            } catch (const Thrown&) {
                return error::pending().id == ErrorId::stack_overflow ? 1 : 0;
            }
        },
        nullptr);
    EXPECT_EQ(runaway, 1);
}

}  // namespace
}  // namespace zub
