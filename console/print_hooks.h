// The console window's native side: the print hooks that route everything printed into the
// terminal, and the program's start-up extension (the GUI library's, with these routines added).
#pragma once

#include <cstddef>

#include "boot/boot.h"
#include "runtime/cell.h"

namespace zub::console_window {

// The GUI library's extension with the console window's routines registered after its own.
const boot::Extension& extension();

// The value hook: hands a string! (and whether a line end follows) to the terminal's vprint,
// with tracing off. Raises internal stack-overflow instead when the stack is nearly spent. May
// collect.
void value_hook(Cell text, bool new_line);
// The byte-text hook: decodes UTF-8 into one reused string (an ill-formed sequence becomes
// U+FFFD) and passes it to the value hook. May collect.
void text_hook(const char* bytes, size_t length);

}  // namespace zub::console_window
