// Faces to native windows: make-view, update-view and destroy-view, the facet appliers, painting
// of the faces the draw engine draws (base, rich-text, panel, window and drawn faces), rate
// timers, pane attach and detach, and the capture of a face as an image.
#pragma once

namespace zub::platform::views {

// Registers the routines of the platform table that deal with faces. At each start-up.
void register_routines();

}  // namespace zub::platform::views
