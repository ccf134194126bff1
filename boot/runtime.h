// Bringing the runtime up and down. Every subsystem's start-up step lives in one ordered list
// here, so start-up, the programs and the tests initialise the same way.
#pragma once

namespace zub::runtime {

// Initialises every subsystem in dependency order. Once per process (or after cleanup).
void init();
// Returns every frame, series and low-level block; the runtime is then as before init.
void cleanup();

}  // namespace zub::runtime
