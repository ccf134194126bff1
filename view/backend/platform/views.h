// Faces to native windows: make-view, update-view and destroy-view, the facet appliers, painting
// of the faces the draw engine draws (base, rich-text, panel, window and drawn faces), rate
// timers, pane attach and detach, and the capture of a face as an image.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace zub::platform::views {

// Registers the routines of the platform table that deal with faces. At each start-up.
void register_routines();

// Milliseconds between a rate's ticks, 0 for none. Faster than one a millisecond is one a
// millisecond: a zero-length timer would spin the loop. Anything but none, an integer of at least
// 1 or a time above 0 is script invalid-facet-type.
uint32_t rate_ms(const Cell& rate);

// The face as it shows (its window and the windows of its pane composed) as a new image!, none
// when the face has no window. May collect.
Cell capture_face(Cell face);

}  // namespace zub::platform::views
