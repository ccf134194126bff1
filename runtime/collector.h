// The garbage collector: a stop-the-world mark and compact over the series frames. Marking starts
// from precise roots only (the evaluation stack and its frames, the thrown values, the value
// slots, the external handles and the nodes that modules register) and follows values by type
// with an explicit work list, so deep data cannot overflow the C++ stack. Compaction slides live
// buffers down their frame, or into the free end of the frame before it, and updates only their
// node slots: node ids never change. Frames left empty go back to the system. The ownership
// table holds its records weakly: a record lasts as long as its owner object.
//
// Collections run at safe points only: allocation does not collect (but in the eager test mode),
// it grows the heap and asks for a collection, which the next safe_point (between expressions, at
// function entry, at loop iterations) or `recycle` runs. How C++ code keeps a new series alive
// until then is said once, in runtime/memory.h; it never keeps a raw buffer pointer across
// anything that may expand that series or evaluate code.
#pragma once

#include <cstdint>

#include "runtime/assert.h"
#include "runtime/cell.h"

namespace zub::collector {

struct State {
    bool enabled;          // off at start; start-up and `recycle` switch it
    bool active;           // a cycle is under way
    bool requested;        // allocation neared or passed the threshold: collect at a safe point
    bool eager;            // stress: allocation collects at once instead of asking (tests)
    uint32_t holds;        // open Guards: no cycle runs while above 0
    uint32_t cycles;       // completed cycles
    uint32_t node_cycles;  // cycles that returned node frames
    uint64_t heap;         // bytes of the series frames' data areas and of the big series
    uint64_t threshold;    // heap size from which growing it asks for a cycle
    uint64_t used;         // bytes live after the last cycle plus those allocated since
};
extern State g_state;

// Growth allowed between cycles when little is live: after a cycle the heap may hold the live
// bytes plus as many again, or plus this, whichever is more, before allocation asks for the next.
// Empty frames are kept up to that size, so the next growth reuses them instead of the kernel.
inline constexpr uint64_t kMinBudget = uint64_t{8} << 20;

// Counters to zero, the switch off and no registered roots; the last step before modules
// register theirs.
void reset();

// The on/off switch; returns the previous setting. Switching off drops a pending request.
bool enable(bool on);
inline bool enabled() { return g_state.enabled; }
inline bool active() { return g_state.active; }

void collect();   // a cycle when enabled and not held; may move series buffers
void do_cycle();  // a cycle now, enabled or not (unless a Guard holds collections off)

// Called by the allocator when it grows the heap by `bytes` (a new frame or big series): asks for
// a cycle once the heap has reached the threshold. Never collects.
void note_growth(uint64_t bytes);

// Room left under the threshold when allocation asks for the next cycle: the cycle then runs
// while the kept frames still have space, so none is made only to be returned after it.
inline constexpr uint64_t kCycleRoom = uint64_t{2} << 20;

// Called by the allocator for every buffer it carves or big series it makes: asks for a cycle once
// the bytes in use come within kCycleRoom of the threshold. Never collects.
inline void note_use(uint64_t bytes) {
    g_state.used += bytes;
    if (g_state.used + kCycleRoom >= g_state.threshold && g_state.enabled) [[unlikely]]
        g_state.requested = true;
}

// Where a collection may run: the caller holds no unrooted cells and no raw buffer pointers.
// Collects when allocation asked for it; built with ZUB_GC_TORTURE, collects every time.
inline void safe_point() {
#ifdef ZUB_GC_TORTURE
    collect();
#else
    if (g_state.requested) [[unlikely]]
        collect();
#endif
}

// Roots outside the evaluation stack: a global that holds a node (a series, a context or a hash
// table, by kind), or a cell kept in C++ (its payload is followed by type).
enum class RootKind : uint8_t { series, table };
void add_root(const NodeId* slot, RootKind kind = RootKind::series);
void add_cell_root(const Cell* cell);

// Roots that are not fixed slots: a subsystem with stacks of values (the evaluation and frame
// stacks, the exit values; the lexer's and parse's stacks) registers a function that reports them
// at the start of every cycle through the keep_root calls below. Registering a function again
// keeps one entry. reset forgets them all.
using RootWalker = void (*)();
void add_root_walker(RootWalker walk);
// For root walkers only: a cell, the cells of a range, and a series of cells that are roots.
void keep_root(const Cell& value);
void keep_roots(const Cell* from, const Cell* to);
void keep_root_cells(NodeId node);

// The record table held weakly (the ownership table): a record lasts while the node in w1 of its
// second cell (its owner's context) is reachable, and only then keeps its key series and cells.
// A key that outlives its record loses series_flag::owned. Registered by its module at start.
void set_weak_records(const NodeId* slot);

// Holds collections off for its lifetime: for C++ sections that keep raw pointers across a
// callback that may reach a safe point (a sort's compare function). Keep such sections short.
// Guards end innermost first: with assertions on, each checks that the hold count is still the
// one it made.
class Guard {
  public:
    Guard() {
        ++g_state.holds;
#if ZUB_ASSERTS_ON
        level_ = g_state.holds;
#endif
    }
    ~Guard() {
        ZUB_ASSERT(g_state.holds == level_);
        --g_state.holds;
    }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;

  private:
#if ZUB_ASSERTS_ON
    uint32_t level_;  // the hold count this guard made
#endif
};

}  // namespace zub::collector
