// The routines that reach the process and the machine (directories, the operating system, the
// clipboard, the collector), and the command line start-up hands to the system object.
#pragma once

#include <string>
#include <vector>

#include "runtime/cell.h"

namespace zub::routines {

// What write-clipboard takes: a string!, a block! of file! or string! paths, an image! or none!.
// Anything else raises script invalid-arg with the value (or with the block's first bad value).
void check_clipboard_value(const Cell& value);

// Registers these routines under their names. Once per start, from register_all. Never allocates.
void register_system();
// The process's arguments, the program's own path first, as the `command-line` routine gives them
// while start-up builds the system object. Call before boot::start.
void set_command_line(std::vector<std::string> args);

}  // namespace zub::routines
