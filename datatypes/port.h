// port!: an object-like value standing for an external resource. The type does no input or
// output itself: the series and I/O actions on a port go to its actor, the functions of an
// object! (called by the action's name) or the table of a scheme built into the system (named by
// a handle! whose value is an index into the scheme registry, never a pointer).
#pragma once

#include <string_view>

#include "datatypes/actions.h"
#include "runtime/cell.h"

namespace zub::port {

// A scheme built into the system: its name and the entries that serve its ports (a slot left
// null raises access no-port-action).
struct NativeScheme {
    std::string_view name;
    const ActionTable* actions;
};

// The field of a port's spec object that names its target (the file of a file port). Never
// allocates.
Cell target_of(const Cell& port);
// Whether a port is open, as its scheme records it (its `extra` field holding true), and the
// recording of it. Never allocate.
bool is_open(const Cell& port);
void set_open(const Cell& port, bool open);

}  // namespace zub::port
