// Memory statistics: the totals (node slots at 4 bytes, heap blocks with 16-byte headers) and the
// shape of the statistics block.
#include <gtest/gtest.h>

#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "runtime/collector.h"
#include "runtime/memory.h"
#include "runtime/series.h"
#include "runtime/stats.h"
#include "tests/unit/runtime_fixture.h"

namespace zub {
namespace {

uint64_t carved() {
    uint64_t n = 0;
    for (SeriesFrame* f = memory::record().first_series_frame; f; f = f->next) n += f->alloc - f->data();
    return n;
}

// Without the runtime: the figures of the memory manager alone.
class StatsBare : public ::testing::Test {
  protected:
    void SetUp() override { memory::init(); }
    void TearDown() override { memory::free_all(); }
};

TEST_F(StatsBare, UsedCountsFourBytesANodeTheCarvedBytesAndBigSeries) {
    EXPECT_EQ(stats::used(), 0.0);
    for (int i = 0; i < 100; ++i) memory::alloc_bytes(10);
    EXPECT_EQ(stats::used(), 400.0 + static_cast<double>(carved()));
    memory::alloc_bytes(3 << 20);  // a big series: its whole block
    EXPECT_EQ(stats::used(),
              404.0 + static_cast<double>(carved()) + static_cast<double>(memory::record().first_big->size));
}

TEST_F(StatsBare, NumbersAboveThirtyOneBitsAreFloats) {
    struct Case {
        double count;
        TypeId type;
    };
    const Case cases[] = {{0, TypeId::integer}, {2147483647.0, TypeId::integer}, {2147483648.0, TypeId::float_}};
    for (const Case& c : cases) EXPECT_EQ(cell::type(stats::number(c.count)), c.type) << c.count;
    EXPECT_EQ(cell::as_integer(stats::number(2147483647.0)), 2147483647);
}

class Stats : public RuntimeTest {};

TEST_F(Stats, InfoBlockHasTheFiveItemsInShape) {
    memory::alloc_bytes(3 << 20);  // one big series
    const Cell* out = stack::push(cell::series(TypeId::block, memory::alloc_cells(5)));
    collector::enable(true);
    collector::g_state.eager = true;  // even where allocation would collect at once
    const uint32_t cycles = collector::g_state.cycles;
    stats::fill(out->w2);
    EXPECT_EQ(collector::g_state.cycles, cycles);  // the walk never collects
    ASSERT_EQ(series::length(out->w2), 5u);
    const Cell* items = memory::buffer(out->w2)->cells();
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(cell::is(items[i], TypeId::block)) << i;
    EXPECT_TRUE(cell::is(items[3], TypeId::integer));
    EXPECT_TRUE(cell::is(items[4], TypeId::integer));
    EXPECT_EQ(cell::as_integer(items[3]), static_cast<int32_t>(memory::record().used_bytes));

    // Node frames and series frames: [free used total] per frame, free + used = total.
    for (int kind = 0; kind < 2; ++kind) {
        const NodeId frames = items[kind].w2;
        ASSERT_GE(series::length(frames), 1u);
        for (uint32_t i = 0; i < series::length(frames); ++i) {
            const Cell frame = memory::buffer(frames)->cells()[i];
            EXPECT_TRUE(cell::new_line(frame));
            ASSERT_EQ(series::length(frame.w2), 3u);
            const Cell* n = memory::buffer(frame.w2)->cells();
            EXPECT_EQ(cell::as_integer(n[0]) + cell::as_integer(n[1]), cell::as_integer(n[2]));
        }
    }
    EXPECT_EQ(cell::as_integer(memory::buffer(memory::buffer(items[0].w2)->cells()[0].w2)->cells()[2]), 10000);
    ASSERT_EQ(series::length(items[2].w2), 1u);
    EXPECT_EQ(cell::as_integer(memory::buffer(items[2].w2)->cells()[0]),
              static_cast<int32_t>(memory::record().first_big->size));
}

// recycle /on and /off set the switch, /on winning over /off; plain recycle collects either way.
TEST_F(Stats, RecycleSwitchesAndCollects) {
    const uint32_t recycle = natives::index_of(natives::Native::recycle);
    struct Case {
        int32_t on, off;
        bool enabled;
    };
    const Case cases[] = {{0, -1, true}, {-1, 0, false}, {0, 0, true}};
    for (const Case& c : cases) {
        stack::Call call(stack::FrameType::native, word("recycle"));
        stack::push(cell::none());
        const int32_t refinements[] = {c.on, c.off};
        ASSERT_EQ(natives::entry(recycle)(refinements), Status::normal);
        EXPECT_EQ(collector::enabled(), c.enabled);
        EXPECT_TRUE(cell::is(*stack::args(), TypeId::unset));
    }
    collector::enable(false);
    const uint32_t cycles = collector::g_state.cycles;
    stack::Call call(stack::FrameType::native, word("recycle"));
    stack::push(cell::none());
    const int32_t none[] = {-1, -1};
    ASSERT_EQ(natives::entry(recycle)(none), Status::normal);
    EXPECT_EQ(collector::g_state.cycles, cycles + 1);
    EXPECT_TRUE(cell::is(*stack::args(), TypeId::integer));
    EXPECT_EQ(cell::as_integer(*stack::args()), static_cast<int32_t>(stats::used()));
}

}  // namespace
}  // namespace zub
