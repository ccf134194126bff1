// Running-sum box blurs: each output pixel costs the same whatever the box width.
#include "view/backend/draw/blur.h"

#include <cmath>
#include <vector>

namespace zub::draw {
namespace {

// One box pass along a line of n values `step` apart, into n packed values at `out`.
void box_line(const uint8_t* line, int32_t n, int32_t step, int32_t radius, uint8_t* out) {
    const int32_t width = 2 * radius + 1;
    int32_t sum = 0;
    for (int32_t i = 0; i < radius && i < n; ++i) sum += line[i * step];
    for (int32_t i = 0; i < n; ++i) {
        const int32_t enter = i + radius, leave = i - radius - 1;
        if (enter < n) sum += line[enter * step];
        if (leave >= 0) sum -= line[leave * step];
        out[i] = static_cast<uint8_t>((sum + width / 2) / width);
    }
}

}  // namespace

void blur_boxes(double sigma, int32_t (&widths)[3]) {
    // Widths wl and wl + 2 mixed so that the three passes' variance matches sigma squared.
    const double ideal = std::sqrt(12 * sigma * sigma / 3 + 1);
    int32_t wl = static_cast<int32_t>(std::floor(ideal));
    if (wl % 2 == 0) --wl;
    if (wl < 1) wl = 1;
    const int32_t wu = wl + 2;
    const double m_ideal = (12 * sigma * sigma - 3.0 * wl * wl - 12.0 * wl - 9) / (-4.0 * wl - 4);
    const long m = std::lround(m_ideal);
    for (int i = 0; i < 3; ++i) widths[i] = i < m ? wl : wu;
}

void blur_alpha(uint8_t* mask, int32_t w, int32_t h, int32_t stride, double sigma) {
    if (!(sigma >= 0.1) || w <= 0 || h <= 0) return;
    int32_t widths[3];
    blur_boxes(sigma, widths);
    std::vector<uint8_t> scratch(static_cast<size_t>(w > h ? w : h));
    for (int32_t width : widths) {
        const int32_t radius = (width - 1) / 2;
        if (radius == 0) continue;
        for (int32_t y = 0; y < h; ++y) {
            uint8_t* row = mask + static_cast<size_t>(y) * stride;
            box_line(row, w, 1, radius, scratch.data());
            for (int32_t x = 0; x < w; ++x) row[x] = scratch[x];
        }
        for (int32_t x = 0; x < w; ++x) {
            box_line(mask + x, h, stride, radius, scratch.data());
            for (int32_t y = 0; y < h; ++y) mask[static_cast<size_t>(y) * stride + x] = scratch[y];
        }
    }
}

}  // namespace zub::draw
