// Start-up of the whole engine: the runtime, then the environment: the datatype, native and
// action words, then the environment written in Zub, evaluated file by file in start-up order.
#pragma once

#include <string>
#include <string_view>

#include "boot/embedded.h"
#include "runtime/cell.h"

namespace zub::boot {

// What a program built on the engine adds to start-up: its routines, registered after the
// environment's own, and its Zub sources, run in order after the environment's (as library code,
// with `make-routine` bound).
struct Extension {
    void (*register_routines)() = nullptr;
    const embedded::Source* sources = nullptr;
    uint32_t source_count = 0;
    // The code that starts the console in place of system/console/launch (a console window).
    const char* console_launch = nullptr;
};

// Brings the runtime up and builds the environment, then the extension's part. An error while
// building is fatal to start-up: it is reported and the process ends. May collect.
void start(const Extension* extension = nullptr);

// The cells a script's header takes at the head of its loaded block: 2 for `Zub [...]`, else 0.
uint32_t header_length(NodeId code);

// Molds a value as the console shows it, into UTF-8. May collect.
std::string mold_utf8(const Cell& value, bool all = false);

}  // namespace zub::boot
