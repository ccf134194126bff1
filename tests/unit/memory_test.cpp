// The memory manager: frame sizes, the big-series bar, nodes, expansion and copies.
#include <gtest/gtest.h>

#include <cstring>

#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/memory.h"

namespace zub {
namespace {

class Memory : public ::testing::Test {
  protected:
    void SetUp() override { memory::init(); }
    void TearDown() override { memory::free_all(); }

    static uint32_t frame_count() {
        uint32_t n = 0;
        for (SeriesFrame* f = memory::record().first_series_frame; f; f = f->next) ++n;
        return n;
    }
};

TEST_F(Memory, FirstFrameIsOneMegabyteLaterOnesTwo) {
    memory::alloc_bytes(100);
    ASSERT_EQ(frame_count(), 1u);
    EXPECT_EQ(memory::record().first_series_frame->size, 0x100000u);
    // Fill past the first frame, then past the second.
    for (int i = 0; i < 4; ++i) memory::alloc_bytes(900000);
    EXPECT_EQ(frame_count(), 3u);
    uint32_t twos = 0;
    for (SeriesFrame* f = memory::record().first_series_frame; f; f = f->next) twos += f->size == 0x200000;
    EXPECT_EQ(twos, 2u);
}

TEST_F(Memory, FramesAreSortedByAddress) {
    for (int i = 0; i < 8; ++i) memory::alloc_bytes(1500000);
    for (SeriesFrame* f = memory::record().first_series_frame; f && f->next; f = f->next) EXPECT_LT(f, f->next);
    EXPECT_EQ(memory::record().last_series_frame->next, nullptr);
}

TEST_F(Memory, BigSeriesBar) {
    struct Case {
        uint32_t bytes;
        bool big;
    };
    const Case cases[] = {
        {2097120, false},  // need 2,097,144: below 2 MB, goes into a frame
        {2097136, true},   // need 2,097,160: a block of its own
        {5000000, true},
    };
    for (const Case& c : cases) {
        const NodeId node = memory::alloc_bytes(c.bytes);
        SeriesBuffer* b = memory::buffer(node);
        EXPECT_EQ((b->flags & series_flag::big) != 0, c.big) << c.bytes;
        EXPECT_EQ(b->size, c.bytes);
    }
    EXPECT_NE(memory::record().first_big, nullptr);
}

TEST_F(Memory, ZeroCountsGetSixteenBytesExceptCells) {
    EXPECT_EQ(memory::buffer(memory::alloc_bytes(0))->size, 16u);
    struct Case {
        uint32_t unit;
        uint32_t size;
    };
    for (const Case c : {Case{1, 16}, Case{2, 16}, Case{4, 16}, Case{16, 0}}) {
        SeriesBuffer* b = memory::buffer(memory::alloc_series_flags(0, c.unit));
        EXPECT_EQ(b->size, c.size) << c.unit;
        EXPECT_EQ(b->unit(), c.unit);
    }
}

TEST_F(Memory, NewBufferHeader) {
    const NodeId node = memory::alloc_series(10, 2, 0);
    SeriesBuffer* b = memory::buffer(node);
    EXPECT_EQ(b->size, 32u);  // 20 bytes rounded up to 16
    EXPECT_EQ(b->node, node);
    EXPECT_EQ(b->flags, 2u | series_flag::live | series_flag::allocated);
    EXPECT_EQ(b->head, 0u);
    EXPECT_EQ(b->tail, 0u);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(b->data()) % 8, 0u);
}

TEST_F(Memory, MiddleHeadStaysOnAUnitBoundary) {
    SeriesBuffer* b = memory::buffer(memory::alloc_series(3, 16, -1));  // 48 bytes
    EXPECT_TRUE(b->flags & series_flag::middle);
    EXPECT_EQ(b->head % 16, 0u);
    EXPECT_EQ(b->head, 16u);
    EXPECT_EQ(memory::buffer(memory::alloc_series(64, 1, -1))->head, 32u);
}

TEST_F(Memory, UnsetCellsAndFilledBytesCoverTheWholeCapacity) {
    SeriesBuffer* cells = memory::buffer(memory::alloc_unset_cells(3));
    for (uint32_t i = 0; i < cells->size / 16; ++i) EXPECT_EQ(reinterpret_cast<Cell*>(cells->data())[i].header, 2u);
    SeriesBuffer* bytes = memory::buffer(memory::alloc_bytes_filled(5, 0x7E));
    for (uint32_t i = 0; i < bytes->size; ++i) EXPECT_EQ(static_cast<uint8_t>(bytes->data()[i]), 0x7E);
}

TEST_F(Memory, NodesAreReusedAndSpreadOverFrames) {
    const NodeId a = memory::alloc_node();
    const NodeId b = memory::alloc_node();
    EXPECT_NE(a, 0u);
    EXPECT_EQ(b, a + 1);
    memory::free_node(a);
    EXPECT_EQ(memory::alloc_node(), a);
    EXPECT_EQ(memory::record().first_node_frame->used, 2u);
    for (uint32_t i = 0; i < kNodesPerFrame; ++i) memory::alloc_node();
    EXPECT_NE(memory::record().first_node_frame->next, nullptr);
    EXPECT_EQ(memory::record().first_node_frame->used, kNodesPerFrame);
    EXPECT_EQ(memory::record().last_node_frame->used, 2u);
}

TEST_F(Memory, ExpandDoublesKeepingUnitFlagsAndLength) {
    const NodeId node = memory::alloc_series(8, 4, 8);  // head 8 bytes in
    SeriesBuffer* old = memory::buffer(node);
    old->flags |= series_flag::owned;
    std::memcpy(old->head_ptr(), "abcdefghijkl", 12);
    old->tail = old->head + 12;

    SeriesBuffer* b = memory::expand_series_copy(node, 0);
    EXPECT_EQ(memory::buffer(node), b);
    EXPECT_EQ(b->size, 64u);
    EXPECT_EQ(b->unit(), 4u);
    EXPECT_TRUE(b->flags & series_flag::owned);
    EXPECT_EQ(b->head, 0u);
    EXPECT_EQ(b->used(), 12u);
    EXPECT_EQ(std::memcmp(b->data(), "abcdefghijkl", 12), 0);
    EXPECT_EQ(b->node, node);
    // The old buffer is abandoned for the collector.
    EXPECT_EQ(old->node, 0u);
    EXPECT_FALSE(old->flags & series_flag::live);
}

TEST_F(Memory, ExpandIntoABigSeriesSetsItsOwnBigFlag) {
    const NodeId node = memory::alloc_bytes(1000);
    SeriesBuffer* b = memory::expand_series_copy(node, 3000000);
    EXPECT_TRUE(b->flags & series_flag::big);
    b = memory::expand_series_copy(memory::alloc_bytes(10), 64);
    EXPECT_FALSE(b->flags & series_flag::big);
}

TEST_F(Memory, ExpandFilledFillsTheGainedCapacity) {
    const NodeId node = memory::alloc_bytes_filled(16, 1);
    SeriesBuffer* b = memory::expand_series_filled(node, 64, 9);
    for (uint32_t i = 0; i < 16; ++i) EXPECT_EQ(static_cast<uint8_t>(b->data()[i]), 1);
    for (uint32_t i = 16; i < 64; ++i) EXPECT_EQ(static_cast<uint8_t>(b->data()[i]), 9);
}

TEST_F(Memory, ExpandingAnEmptyBufferByDoublingIsRefused) {
    const NodeId node = memory::alloc_cells(0);
    EXPECT_THROW(memory::expand_series(node, 0), error::Thrown);
    EXPECT_EQ(error::pending().id, ErrorId::no_memory);
}

TEST_F(Memory, CopyKeepsFlagsHeadLengthAndContents) {
    const NodeId node = memory::alloc_series(16, 1, 4);
    SeriesBuffer* b = memory::buffer(node);
    b->flags |= series_flag::owned | series_flag::complement;
    std::memcpy(b->head_ptr(), "hello", 5);
    b->tail = b->head + 5;
    const NodeId copy = memory::copy_series(node);
    SeriesBuffer* c = memory::buffer(copy);
    EXPECT_NE(copy, node);
    EXPECT_EQ(c->flags, memory::buffer(node)->flags);
    EXPECT_EQ(c->size, 16u);
    EXPECT_EQ(c->head, 4u);
    EXPECT_EQ(c->used(), 5u);
    EXPECT_EQ(std::memcmp(c->head_ptr(), "hello", 5), 0);
    EXPECT_EQ(c->node, copy);
}

TEST_F(Memory, UnmanagedSeriesStayUnmanagedWhenExpanded) {
    const NodeId node = memory::alloc_unmanaged_series(4, 16, 0);
    SeriesBuffer* b = memory::buffer(node);
    EXPECT_EQ(b->flags, 16u | 0xA0100000u);
    b->tail = 16;
    b = memory::expand_series_copy(node, 0);
    EXPECT_TRUE(b->flags & series_flag::unmanaged);
    EXPECT_EQ(b->size, 128u);
    EXPECT_EQ(b->used(), 16u);
}

TEST_F(Memory, OversizedRequestsRaiseNoMemory) {
    EXPECT_THROW(memory::alloc_series(0x40000000, 16, 0), error::Thrown);
    EXPECT_EQ(error::pending().id, ErrorId::no_memory);
    const NodeId node = memory::alloc_bytes(16);
    EXPECT_THROW(memory::expand_series(node, uint64_t{1} << 33), error::Thrown);
    EXPECT_EQ(memory::buffer(node)->size, 16u);  // untouched
}

TEST_F(Memory, UsedBytesFollowSystemBlocks) {
    EXPECT_EQ(memory::record().used_bytes, 0u);
    memory::alloc_bytes(10);
    EXPECT_GT(memory::record().used_bytes, 0x100000u);
    memory::free_all();
    EXPECT_EQ(memory::record().used_bytes, 0u);
}

TEST_F(Memory, AllocationNeverCollectsWhileTheCollectorIsOff) {
    collector::reset();
    for (int i = 0; i < 6; ++i) memory::alloc_bytes(1500000);
    memory::alloc_bytes(3000000);
    EXPECT_EQ(collector::g_state.cycles, 0u);
}

}  // namespace
}  // namespace zub
