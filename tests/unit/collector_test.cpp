// The collector: what is reachable from the roots survives (moved, with its node slot updated),
// what is not is reclaimed, and marking never recurses on the C++ stack.
#include "datatypes/string.h"
#include "evaluator/actions.h"
#include "evaluator/stack.h"
#include "runtime/collector.h"
#include "runtime/ownership.h"
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

}  // namespace
}  // namespace zub
