// The garbage collector's switch and entry points. Allocation asks for a collection when a frame
// runs out of room or before making a big series; nothing collects while the switch is off,
// which is how start-up runs.
#pragma once

#include <cstdint>

namespace zub::collector {

struct State {
    bool enabled;           // off at start; start-up and `recycle` switch it
    bool active;            // a cycle is under way
    uint32_t holds;         // open Guards: no cycle runs while above 0
    uint32_t cycles;        // completed cycles
    uint32_t node_cycles;   // cycles that returned node frames
};
extern State g_state;

void reset();     // counters to zero
void collect();   // a cycle when enabled; may move series buffers
void do_cycle();  // a cycle now

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
