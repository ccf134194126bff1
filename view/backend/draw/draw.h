// The draw engine as the GUI library sees it: its routines, registered at start-up.
#pragma once

namespace zub::draw {

// Interns the dialect's words and registers the routines (draw-image). Once per start-up.
void register_routines();

}  // namespace zub::draw
