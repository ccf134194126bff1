// Until marking and compaction land, a cycle reclaims nothing; it only keeps the counters, so
// callers already go through the right entry points.
#include "runtime/collector.h"

namespace zub::collector {

State g_state{};

void reset() {
    g_state.cycles = 0;
    g_state.node_cycles = 0;
}

void collect() {
    if (g_state.enabled && g_state.holds == 0) do_cycle();
}

void do_cycle() {
    g_state.active = true;
    ++g_state.cycles;
    g_state.active = false;
}

}  // namespace zub::collector
