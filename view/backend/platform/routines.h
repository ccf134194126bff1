// The platform layer's routines, which view/0010-platform.zub binds, and how `zub` asks for the
// display.
#pragma once

namespace zub::platform {

// Whether start-up opens the display (false for `zub --cli`). Set before the engine starts.
void set_display_wanted(bool wanted);

// Opens the display when wanted (saying in one line on stderr when there is none) and registers
// the routines. Called by start-up on the evaluator's thread, where GTK then runs.
void register_routines();

}  // namespace zub::platform
