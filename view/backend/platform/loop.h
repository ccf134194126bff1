// The event loop on GLib's main context, with an explicit stack of running blocking loops. Each
// request to end a loop marks exactly one level of the stack; a level ends when control comes
// back to it, so nested loops always end innermost first, whichever was asked to end first.
#pragma once

#include <cstdint>

namespace zub::platform::loop {

// Runs the loop. Blocking (no_wait false): serves events until this loop is asked to end. One
// pass (no_wait true): serves at most one waiting event source without blocking and touches no
// loop level. True when at least one event source was served.
bool run(bool no_wait);

// Asks the innermost running loop that is not already ending to end; false when none runs (the
// request is then dropped, never kept for a later loop).
bool exit_innermost();
// Asks the loop at a level (1 the outermost) to end; false when no loop runs at that level.
bool exit_level(uint32_t level);
// Blocking loops running now (the level of the innermost).
uint32_t depth();

// Queues fn(data) to run on the loop's thread at the next pass, waking a blocked loop. Safe from
// any thread.
void post(void (*fn)(void*), void* data);

}  // namespace zub::platform::loop
