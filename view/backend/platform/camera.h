// Video capture: the devices V4L2 lists (and synthetic test sources), streaming each on its own
// thread, frames handed to the evaluator's thread through one atomic state word, and taking a
// single frame with a time limit.
#pragma once

#include <cstdint>

namespace zub::platform::camera {

// The video's place in a client area of w x h pixels: as large as fits with the video's aspect
// ratio kept (width / height), centred. Portrait video (ratio below 1) keeps its shape too.
struct Fit {
    int32_t x, y, width, height;
};
Fit fit(int32_t w, int32_t h, double ratio);

// Registers the camera routines.
void register_routines();

}  // namespace zub::platform::camera
