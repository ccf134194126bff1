// The desktop's caret blink time, which the console window's caret follows.
#pragma once

#include <cstdint>

#include "evaluator/exits.h"

namespace zub::console_window {

// Milliseconds the caret stays lit in one blink; -1 when the desktop turns blinking off, 0 when
// there is no display to ask.
int32_t caret_blink_time();

// get-caret-blink-time: the same as an integer!.
Status get_caret_blink_time(const int32_t* r);

}  // namespace zub::console_window
