// The blur behind drop shadows: three box blurs in each direction, which approach a Gaussian of
// the given deviation, over an 8-bit alpha mask in place. Linear in the pixels, whatever the
// deviation.
#pragma once

#include <cstdint>

namespace zub::draw {

// Box widths (odd) of the three passes for a deviation.
void blur_boxes(double sigma, int32_t (&widths)[3]);

// Blurs the w x h mask (rows `stride` bytes apart) in place; pixels beyond its edges count as 0.
// A deviation under 0.1 changes nothing.
void blur_alpha(uint8_t* mask, int32_t w, int32_t h, int32_t stride, double sigma);

}  // namespace zub::draw
