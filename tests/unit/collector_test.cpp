// The collector: what is reachable from the roots survives (moved, with its node slot updated),
// what is not is reclaimed, and marking never recurses on the C++ stack.
#include "runtime/collector.h"
#include "datatypes/ownership.h"
#include "datatypes/string.h"
#include "evaluator/actions.h"
#include "evaluator/stack.h"
#include "runtime/hashtable.h"
#include "tests/unit/runtime_fixture.h"

namespace zub {
namespace {

class Collector : public RuntimeTest {
  protected:
    static Cell text(const std::string& s) {
        const Cell v = string::make(static_cast<uint32_t>(s.size()), TypeId::string);
        series::append_ascii(v.w2, s);
        return v;
    }
    static std::string read(const Cell& s) {
        std::string out;
        for (uint32_t i = s.w1; i < series::length(s.w2); ++i) out += static_cast<char>(string::char_at(s.w2, i));
        return out;
    }
    static uint32_t live_nodes() {
        uint32_t n = 0;
        for (NodeFrame* f = memory::record().first_node_frame; f; f = f->next) n += f->used;
        return n;
    }
    static uint64_t carved() {
        uint64_t n = 0;
        for (SeriesFrame* f = memory::record().first_series_frame; f; f = f->next) n += f->alloc - f->data();
        return n;
    }
};

TEST_F(Collector, GarbageIsReclaimedAndLiveDataMoves) {
    collector::do_cycle();  // settle what start-up made
    const uint32_t nodes_before = live_nodes();
    const uint64_t carved_before = carved();
    for (int i = 0; i < 1000; ++i) text("garbage " + std::to_string(i));
    const Cell kept = *stack::push(block_of({text("alpha"), text("beta")}));
    const SeriesBuffer* old_address = memory::buffer(kept.w2);
    collector::do_cycle();
    EXPECT_EQ(live_nodes(), nodes_before + 3);
    EXPECT_LT(carved(), carved_before + 4096);
    EXPECT_NE(memory::buffer(kept.w2), old_address);  // slid down over the garbage
    const Cell* cells = memory::buffer(kept.w2)->cells();
    EXPECT_EQ(read(cells[0]), "alpha");
    EXPECT_EQ(read(cells[1]), "beta");
    stack::pop(1);
    collector::do_cycle();
    EXPECT_EQ(live_nodes(), nodes_before);
}

TEST_F(Collector, DeepAndCyclicDataIsMarkedWithoutRecursion) {
    Cell* root = stack::push(block_of({}));
    NodeId inner = root->w2;
    for (int i = 0; i < 200000; ++i) {
        const Cell next = block_of({cell::integer(i)});
        series::append_cell(inner, next);
        inner = next.w2;
    }
    series::append_cell(inner, *root);  // and back to the top: a cycle
    const uint32_t nodes = live_nodes();
    collector::do_cycle();
    EXPECT_EQ(live_nodes(), nodes);
    // Walk it again: every level is intact.
    NodeId at = stack::at(0).w2;
    for (int i = 0; i < 200000; ++i) {
        const Cell* cells = memory::buffer(at)->cells();
        ASSERT_EQ(series::length(at), i == 0 ? 1u : 2u);
        at = cells[series::length(at) - 1].w2;
    }
}

TEST_F(Collector, WordsKeepTheirContextsAndTablesTheirSeries) {
    const NodeId ctx = context::make_from_spec(block_of({word("field")}), false, true, context::Kind::object);
    *context::value_at(ctx, 0) = text("held by the context");
    Cell w = context::word_at(ctx, 0);
    stack::push(w);  // only the word refers to the context
    const Cell owned = text("held by the ownership table");
    ownership::set(owned, cell::make(TypeId::object, ctx), w);
    for (int i = 0; i < 500; ++i) text("garbage");
    collector::do_cycle();
    EXPECT_EQ(read(*context::get(stack::at(0))), "held by the context");
    ASSERT_NE(ownership::owner_of(owned.w2), nullptr);
    EXPECT_EQ(read(owned), "held by the ownership table");
}

TEST_F(Collector, BigSeriesAndAbandonedBuffersAreReturned) {
    const uint64_t before = memory::record().used_bytes;
    text(std::string(3 << 20, 'x'));  // a big series nobody keeps
    Cell* grown = stack::push(block_of({}));
    for (int i = 0; i < 1000; ++i) series::append_cell(grown->w2, cell::integer(i));  // abandons buffers
    EXPECT_GT(memory::record().used_bytes, before);
    collector::do_cycle();
    EXPECT_LE(memory::record().used_bytes, before + (uint64_t{2} << 20));
    EXPECT_EQ(series::length(stack::at(0).w2), 1000u);
    EXPECT_EQ(cell::as_integer(memory::buffer(stack::at(0).w2)->cells()[999]), 999);
}

TEST_F(Collector, AGuardHoldsCollectionsOff) {
    const uint32_t cycles = collector::g_state.cycles;
    {
        collector::Guard hold;
        collector::do_cycle();
    }
    EXPECT_EQ(collector::g_state.cycles, cycles);
}

TEST_F(Collector, ChurnWithTheCollectorOnKeepsEverythingRooted) {
    collector::g_state.enabled = true;
    collector::g_state.eager = true;  // collect inside the allocations, not only at safe points
    stack::push(block_of({}));
    for (int i = 0; i < 20000; ++i) {
        text(std::string(100, 'g'));  // garbage that fills frames and forces collections
        // A new value stays on the stack while anything may allocate, as the rules say.
        stack::push(string::make(4, TypeId::string));
        series::append_ascii(stack::at(1).w2, "item " + std::to_string(i));
        series::append_cell(stack::at(0).w2, stack::at(1));
        stack::pop(1);
    }
    collector::g_state.enabled = false;
    EXPECT_GT(collector::g_state.cycles, 0u);
    const NodeId items = stack::at(0).w2;
    ASSERT_EQ(series::length(items), 20000u);
    for (int i = 0; i < 20000; i += 997)
        EXPECT_EQ(read(memory::buffer(items)->cells()[i]), "item " + std::to_string(i));
}

// Frames are walked in address order; later frames drain into the free ends of earlier ones.
class CollectorFrames : public Collector {
  protected:
    static uint32_t series_frames() {
        uint32_t n = 0;
        for (SeriesFrame* f = memory::record().first_series_frame; f; f = f->next) ++n;
        return n;
    }
    // Empty frames stay only while the heap is within the threshold (and the first one always).
    static bool empty_frames_within_threshold() {
        uint64_t heap = 0;
        for (SeriesFrame* f = memory::record().first_series_frame; f; f = f->next) heap += f->size;
        for (BigSeries* b = memory::record().first_big; b; b = b->next) heap += b->size;
        EXPECT_EQ(heap, collector::g_state.heap);
        if (heap <= collector::g_state.threshold) return true;
        for (SeriesFrame* f = memory::record().first_series_frame->next; f; f = f->next)
            if (f->alloc == f->data()) return false;
        return true;
    }
    // The bytes the frames and big series hold: what a cycle counts as live.
    static uint64_t held_bytes() {
        uint64_t held = carved();
        for (BigSeries* b = memory::record().first_big; b; b = b->next) held += b->size;
        return held;
    }
    static uint32_t node_frames() {
        uint32_t n = 0;
        for (NodeFrame* f = memory::record().first_node_frame; f; f = f->next) ++n;
        return n;
    }
};

TEST_F(CollectorFrames, LiveDataMovesIntoEarlierFramesAndEmptyFramesGoBack) {
    collector::do_cycle();
    // Interleave garbage with kept strings over several frames: each frame ends up mostly free.
    stack::push(block_of({}));
    for (int i = 0; i < 3000; ++i) {
        text(std::string(7000, 'g'));
        stack::push(text("kept " + std::to_string(i) + std::string(100, '.')));
        series::append_cell(stack::at(0).w2, stack::at(1));
        stack::pop(1);
    }
    const uint32_t frames_before = series_frames();
    const uint64_t bytes_before = memory::record().used_bytes;
    ASSERT_GE(frames_before, 4u);
    collector::do_cycle();
    EXPECT_LT(series_frames(), frames_before);
    EXPECT_LT(memory::record().used_bytes, bytes_before);
    // Every frame but the last holds its live data from its start, with no gap.
    const NodeId items = stack::at(0).w2;
    ASSERT_EQ(series::length(items), 3000u);
    for (int i = 0; i < 3000; ++i)
        ASSERT_EQ(read(memory::buffer(items)->cells()[i]), "kept " + std::to_string(i) + std::string(100, '.'));
    for (SeriesFrame* f = memory::record().first_series_frame; f; f = f->next) {
        uint64_t walked = 0;
        for (std::byte* p = f->data(); p < f->alloc; p += reinterpret_cast<SeriesBuffer*>(p)->size + kBufferOverhead) {
            const auto* b = reinterpret_cast<SeriesBuffer*>(p);
            EXPECT_EQ(b->flags & series_flag::marked, 0u);
            if (b->node) {
                EXPECT_EQ(memory::buffer(b->node), b);
            }
            walked += b->size + kBufferOverhead;
        }
        EXPECT_EQ(walked, static_cast<uint64_t>(f->alloc - f->data()));
    }
    EXPECT_TRUE(empty_frames_within_threshold());
    // The live bytes count what drained into earlier frames too, so the next cycle is not asked
    // for at once.
    const uint64_t held = held_bytes();
    EXPECT_EQ(collector::g_state.used, held);
    EXPECT_EQ(collector::g_state.threshold, held + std::max(collector::kMinBudget, held));
    // Once nothing is kept, the frames shrink to the threshold.
    stack::pop(1);
    collector::do_cycle();
    EXPECT_TRUE(empty_frames_within_threshold());
    EXPECT_LE(series_frames(), 1u + collector::kMinBudget / memory::kMaxFrameSize + 1u);
}

// Under steady churn the next cycle comes while the frames kept still have room: no frame is
// made only to be returned by the cycle it brings on.
TEST_F(CollectorFrames, SteadyChurnStaysInTheFramesItKeeps) {
#ifndef ZUB_GC_TORTURE  // there, every safe point collects
    // Little is live, as in most loops: the frames kept are those of the minimum budget.
    collector::do_cycle();
    const bool was = collector::enable(true);
    const uint32_t first = collector::g_state.cycles;
    uint64_t heap = 0;
    while (collector::g_state.cycles < first + 12) {
        text(std::string(5000, 'g'));
        // Past the first cycles, which settle the frames kept, the heap neither grows nor shrinks.
        if (heap) {
            ASSERT_EQ(collector::g_state.heap, heap);
        }
        collector::safe_point();
        if (collector::g_state.cycles == first + 2 && heap == 0) heap = collector::g_state.heap;
    }
    collector::enable(was);
#endif
}

TEST_F(CollectorFrames, EmptyNodeFramesGoBackAndLiveNodesKeepTheirIds) {
    collector::do_cycle();
    const uint32_t frames_before = node_frames();
    stack::push(block_of({}));
    for (int i = 0; i < 35000; ++i) {
        const Cell s = text(std::to_string(i));
        if (i < 7000 && i % 1000 == 0) series::append_cell(stack::at(0).w2, s);  // all in early frames
    }
    const uint32_t frames_with_garbage = node_frames();
    ASSERT_GE(frames_with_garbage, frames_before + 3);
    std::vector<NodeId> ids;
    for (uint32_t i = 0; i < series::length(stack::at(0).w2); ++i)
        ids.push_back(memory::buffer(stack::at(0).w2)->cells()[i].w2);
    const uint32_t node_cycles = collector::g_state.node_cycles;
    collector::do_cycle();
    EXPECT_GT(collector::g_state.node_cycles, node_cycles);
    EXPECT_LT(node_frames(), frames_with_garbage);
    for (NodeFrame* f = memory::record().first_node_frame; f; f = f->next) EXPECT_GT(f->used, 0u);
    for (size_t i = 0; i < ids.size(); ++i) {
        const Cell s = memory::buffer(stack::at(0).w2)->cells()[i];
        EXPECT_EQ(s.w2, ids[i]);
        EXPECT_EQ(read(s), std::to_string(i * 1000));
    }
    // New nodes come from the frames that are left, or from new ones.
    for (int i = 0; i < 20000; ++i) text("again");
    EXPECT_EQ(read(memory::buffer(stack::at(0).w2)->cells()[6]), "6000");
}

TEST_F(Collector, AMillionLevelNestIsMarkedWithoutRecursion) {
    stack::push(block_of({}));
    NodeId inner = stack::at(0).w2;
    for (int i = 0; i < 1000000; ++i) {
        const NodeId next = memory::alloc_cells(1);
        series::append_cell(inner, cell::series(TypeId::block, next));
        inner = next;
    }
    series::append_cell(inner, cell::integer(42));
    collector::do_cycle();
    collector::do_cycle();
    NodeId at = stack::at(0).w2;
    for (int i = 0; i < 1000000; ++i) at = memory::buffer(at)->cells()[0].w2;
    EXPECT_EQ(cell::as_integer(memory::buffer(at)->cells()[0]), 42);
}

TEST_F(Collector, AllocationAsksForACycleThatTheSafePointRuns) {
    collector::enable(true);
    const uint32_t cycles = collector::g_state.cycles;
    // Grow well past the budget: allocation never collects, it only asks.
    for (uint64_t grown = 0; grown < 2 * collector::kMinBudget; grown += 100000) text(std::string(100000, 'x'));
    EXPECT_EQ(collector::g_state.cycles, cycles);
    EXPECT_TRUE(collector::g_state.requested);
    collector::safe_point();
    EXPECT_EQ(collector::g_state.cycles, cycles + 1);
    EXPECT_FALSE(collector::g_state.requested);
    collector::safe_point();
#ifdef ZUB_GC_TORTURE
    const uint32_t after = cycles + 2;  // a cycle at every safe point
#else
    const uint32_t after = cycles + 1;  // nothing asked since
#endif
    EXPECT_EQ(collector::g_state.cycles, after);
    // Switched off: growth asks for nothing, a request in flight is dropped.
    for (uint64_t grown = 0; grown < 2 * collector::kMinBudget; grown += 100000) text(std::string(100000, 'x'));
    EXPECT_TRUE(collector::g_state.requested);
    EXPECT_TRUE(collector::enable(false));
    EXPECT_FALSE(collector::g_state.requested);
    for (uint64_t grown = 0; grown < 2 * collector::kMinBudget; grown += 100000) text(std::string(100000, 'x'));
    EXPECT_FALSE(collector::g_state.requested);
    collector::safe_point();
    EXPECT_EQ(collector::g_state.cycles, after);
}

TEST_F(Collector, TheThresholdFollowsTheLiveData) {
    stack::push(text(std::string(20 << 20, 'L')));  // a big series that stays
    collector::do_cycle();
    EXPECT_GE(collector::g_state.threshold, uint64_t{40} << 20);
    stack::pop(1);
    collector::do_cycle();
    EXPECT_LT(collector::g_state.threshold, collector::kMinBudget + (uint64_t{4} << 20));
}

// Ownership records last as long as their owner object: a dead object's series are freed.
TEST_F(Collector, OwnershipRecordsGoWithTheirOwners) {
    const NodeId ctx = context::make_from_spec(block_of({word("field")}), false, true, context::Kind::object);
    const Cell object = cell::make(TypeId::object, ctx);
    const Cell field = context::word_at(ctx, 0);
    const uint32_t records_before = hashtable::table(ownership::table())->count;
    stack::push(object);
    stack::push(block_of({text("inner")}));  // the owned block; only the stack and the record hold it
    stack::push(text("outlives its owner"));
    ownership::set(stack::at(1), object, field);
    ownership::set(stack::at(2), object, field);
    EXPECT_TRUE(memory::buffer(stack::at(2).w2)->flags & series_flag::owned);
    const NodeId owned_block = stack::at(1).w2;
    const NodeId inner = memory::buffer(owned_block)->cells()[0].w2;

    // Owner alive: the records and what they hold stay.
    stack::g_cells[1] = cell::none();
    collector::do_cycle();
    ASSERT_NE(ownership::owner_of(owned_block), nullptr);
    ASSERT_NE(ownership::owner_of(inner), nullptr);
    EXPECT_EQ(read(memory::buffer(owned_block)->cells()[0]), "inner");

    // Owner gone: every record goes; the series still held elsewhere is no longer owned.
    stack::g_cells[0] = cell::none();
    collector::do_cycle();
    EXPECT_EQ(hashtable::table(ownership::table())->count, records_before);
    EXPECT_EQ(ownership::owner_of(stack::at(2).w2), nullptr);
    EXPECT_FALSE(memory::buffer(stack::at(2).w2)->flags & series_flag::owned);
    EXPECT_EQ(read(stack::at(2)), "outlives its owner");
}

// A cycle through an object's field and its owned block is garbage once nothing else holds it.
TEST_F(Collector, AnObjectAndItsOwnedBlockHoldingItAreCollectedTogether) {
    (void)word("field");  // interned before counting
    collector::do_cycle();
    const uint32_t nodes = live_nodes();
    const uint32_t records = hashtable::table(ownership::table())->count;
    {
        const NodeId ctx = context::make_from_spec(block_of({word("field")}), false, true, context::Kind::object);
        stack::push(cell::make(TypeId::object, ctx));
        const Cell owned = block_of({stack::at(0)});  // holds the object
        *context::value_at(ctx, 0) = owned;
        ownership::set(owned, stack::at(0), context::word_at(ctx, 0));
        stack::pop(1);
    }
    EXPECT_EQ(hashtable::table(ownership::table())->count, records + 1);
    collector::do_cycle();
    EXPECT_EQ(live_nodes(), nodes);
    EXPECT_EQ(hashtable::table(ownership::table())->count, records);
}

#ifdef ZUB_GC_TORTURE
// The torture build makes stale pointers show: space left by expansion or compaction is filled
// with 0xA5 and, under AddressSanitizer, poisoned.
TEST_F(Collector, MovedFromSpaceIsPoisoned) {
    for (int i = 0; i < 100; ++i) text("garbage before the kept string");
    stack::push(text("kept"));
    std::byte* moved_from = memory::buffer(stack::at(0).w2)->data();
    collector::do_cycle();
    ASSERT_NE(memory::buffer(stack::at(0).w2)->data(), moved_from);
    const SeriesBuffer* old = memory::buffer(stack::at(0).w2);
    memory::expand_series_copy(stack::at(0).w2, 0);
    const std::byte* abandoned = const_cast<SeriesBuffer*>(old)->data();
#if defined(__SANITIZE_ADDRESS__)
    EXPECT_DEATH((void)*static_cast<volatile const std::byte*>(moved_from), "use-after-poison");
    EXPECT_DEATH((void)*static_cast<volatile const std::byte*>(abandoned), "use-after-poison");
#else
    EXPECT_EQ(*moved_from, std::byte{0xA5});
    EXPECT_EQ(*abandoned, std::byte{0xA5});
#endif
    EXPECT_EQ(read(stack::at(0)), "kept");
}
#endif

}  // namespace
}  // namespace zub
