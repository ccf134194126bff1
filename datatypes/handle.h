// handle!: an opaque scalar naming an operating-system or library object through the external
// handle registry (runtime/handles.h). The cell never holds a pointer: word 1 is the handle's
// class (0 for none), word 2 its handle value (the registry entry + 1, 0 for no handle) and word 3
// the registry entry that the collector marks (-1 for none).
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace zub::handle {

// A handle! for a live registry entry, of the entry's class. Never allocates.
Cell make(int32_t entry);
// The handle! that holds no handle: value 0, class 0. Never allocates.
inline constexpr Cell null() { return cell::make(TypeId::handle, 0, 0, static_cast<uint32_t>(-1)); }

// The registry entry a handle! names, or -1 for none. Never allocates.
inline int32_t entry(const Cell& value) { return static_cast<int32_t>(value.w3); }

}  // namespace zub::handle
