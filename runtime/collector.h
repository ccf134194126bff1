// The garbage collector: a stop-the-world mark and compact over the series frames. Marking starts
// from precise roots only (the evaluation stack and its frames, the thrown values, and the nodes
// that modules register) and follows values by type with an explicit work list, so deep data
// cannot overflow the C++ stack. Compaction slides live buffers down their frame and updates only
// their node slots: node ids never change. Collections run only while the switch is on and no
// Guard is held; allocation asks for them when a frame runs out of room.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace zub::collector {

struct State {
    bool enabled;           // off at start; start-up and `recycle` switch it
    bool active;            // a cycle is under way
    uint32_t holds;         // open Guards: no cycle runs while above 0
    uint32_t cycles;        // completed cycles
    uint32_t node_cycles;   // cycles that returned node frames
};
extern State g_state;

// Counters to zero and no registered roots; the last step before modules register theirs.
void reset();
void collect();   // a cycle when enabled and not held; may move series buffers
void do_cycle();  // a cycle now (unless a Guard holds collections off)

// Roots outside the evaluation stack: a global that holds a node (a series, a context or a hash
// table, by kind), or a cell kept in C++ (its payload is followed by type).
enum class RootKind : uint8_t { series, table };
void add_root(const NodeId* slot, RootKind kind = RootKind::series);
void add_cell_root(const Cell* cell);

// Holds collections off for its lifetime: for C++ sections that keep new series only in locals,
// or raw pointers across a callback. Keep such sections short.
class Guard {
  public:
    Guard() { ++g_state.holds; }
    ~Guard() { --g_state.holds; }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;
};

}  // namespace zub::collector
