// Video capture: the devices V4L2 lists (and synthetic test sources), streaming each on its own
// thread, frames handed to the evaluator's thread through one atomic state word, and taking a
// single frame with a time limit.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "view/backend/platform/platform.h"

namespace zub::platform::camera {

// The video's place in a client area of w x h pixels: as large as fits with the video's aspect
// ratio kept (width / height), centred. Portrait video (ratio below 1) keeps its shape too.
struct Fit {
    int32_t x, y, width, height;
};
Fit fit(int32_t w, int32_t h, double ratio);

// Whether the face is a camera face (its type is the word camera).
bool is_face(const Cell& face);
// A camera face's window is made: its data becomes the list of device names and, when selected is
// an integer, that device starts and its frames show in the window, fitted. A selected outside
// the list is access cannot-open, raised before anything starts. May collect.
void attach(WindowId window, const Cell& face);
// A camera face changed: a new selected stops the device (none) or starts another (an index);
// an image set to none takes the next frame into it. May collect.
void apply(WindowId window, const Cell& face, bool selected, bool image);

// Registers the camera routines.
void register_routines();

}  // namespace zub::platform::camera
