#include "system/image_geometry.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <numbers>

namespace zub::image_geometry {

double length(const Vector& v) { return std::sqrt(v.x * v.x + v.y * v.y); }

void normalize(Vector& v) {
    const double n = length(v);
    if (n == 0) return;
    v.x /= n;
    v.y /= n;
}

Vector between(double x1, double y1, double x2, double y2) { return {x2 - x1, y2 - y1}; }
double cross(const Vector& a, const Vector& b) { return a.x * b.y - a.y * b.x; }
double dot(const Vector& a, const Vector& b) { return a.x * b.x + a.y * b.y; }

void rotate(Vector& v, double degrees) {
    const double r = degrees * std::numbers::pi / 180, c = std::cos(r), s = std::sin(r);
    v = {v.x * c - v.y * s, v.x * s + v.y * c};
}

namespace {

double side(const Point& point, const Point& a, const Point& b) {
    return cross(between(a.x, a.y, point.x, point.y), between(a.x, a.y, b.x, b.y));
}

}  // namespace

bool turns_right(const Point& point, const Point& a, const Point& b) { return side(point, a, b) > 0; }
bool turns_left(const Point& point, const Point& a, const Point& b) { return side(point, a, b) < 0; }

double edge_distance(const Point& point, const Point& a, const Point& b) {
    Vector unit = between(a.x, a.y, b.x, b.y);
    normalize(unit);
    return std::fabs(cross(between(a.x, a.y, point.x, point.y), unit));
}

bool point_in_quad(const Quad& q, float x, float y) {
    const Point p{x, y};
    for (int k = 0; k < 4; ++k)
        if (turns_right(p, q.p[k], q.p[(k + 1) % 4])) return false;
    return true;
}

void mirror_x(Quad& q, float c) {
    for (Point& p : q.p) p.x = 2 * c - p.x;
}
void mirror_y(Quad& q, float c) {
    for (Point& p : q.p) p.y = 2 * c - p.y;
}

uint32_t copy_pixel_rect(const uint32_t* source, int32_t sw, int32_t sh, int32_t x, int32_t y, int32_t w, int32_t h,
                         uint32_t* destination) {
    if (x < 0 || y < 0 || x >= sw || y >= sh || w <= 0 || h <= 0) return 0;
    const int32_t cw = std::min(w, sw - x), ch = std::min(h, sh - y);
    for (int32_t row = 0; row < ch; ++row)
        std::memcpy(destination + size_t(row) * cw, source + size_t(y + row) * sw + x, size_t(cw) * 4);
    return uint32_t(cw) * uint32_t(ch);
}

Mapped transform_quad(const uint32_t* source, int32_t sw, int32_t sh, const Quad& q) {
    Mapped out;
    if (sw < 1 || sh < 1) return out;
    float min_x = FLT_MAX, min_y = FLT_MAX, max_x = -FLT_MAX, max_y = -FLT_MAX;
    for (const Point& p : q.p) {
        min_x = std::min(min_x, p.x), max_x = std::max(max_x, p.x);
        min_y = std::min(min_y, p.y), max_y = std::max(max_y, p.y);
    }
    // Corners that are not finite, or a box beyond any image side, give nothing.
    if (!std::isfinite(max_x - min_x) || !std::isfinite(max_y - min_y) || max_x - min_x > 65535 ||
        max_y - min_y > 65535)
        return out;
    out.x = static_cast<int32_t>(min_x), out.y = static_cast<int32_t>(min_y);
    out.width = static_cast<int32_t>(max_x - min_x), out.height = static_cast<int32_t>(max_y - min_y);
    out.pixels.assign(size_t(out.width) * out.height, 0);
    Vector e[4];
    for (int k = 0; k < 4; ++k) {
        const Point &a = q.p[k], &b = q.p[(k + 1) % 4];
        e[k] = between(a.x, a.y, b.x, b.y);
        normalize(e[k]);
    }
    for (int32_t j = 0; j < out.height; ++j) {
        for (int32_t i = 0; i < out.width; ++i) {
            const auto px = static_cast<float>(out.x + i), py = static_cast<float>(out.y + j);
            if (!point_in_quad(q, px, py)) continue;
            double d[4];
            for (int k = 0; k < 4; ++k) d[k] = std::fabs(cross(between(q.p[k].x, q.p[k].y, px, py), e[k]));
            // A point on two opposite edges at once (a degenerate shape) has no place in the source.
            if (d[3] + d[1] == 0 || d[0] + d[2] == 0) continue;
            const double u = d[3] / (d[3] + d[1]) * sw, v = d[0] / (d[0] + d[2]) * sh;
            const auto ix = static_cast<int32_t>(u), iy = static_cast<int32_t>(v);
            if (ix < 0 || ix >= sw || iy < 0 || iy >= sh) continue;
            const int32_t ix1 = ix + 1 < sw ? ix + 1 : ix, iy1 = iy + 1 < sh ? iy + 1 : iy;
            const float fx = std::max(0.0f, static_cast<float>(u - ix)),
                        fy = std::max(0.0f, static_cast<float>(v - iy));
            const uint32_t s00 = source[size_t(iy) * sw + ix], s10 = source[size_t(iy) * sw + ix1],
                           s01 = source[size_t(iy1) * sw + ix], s11 = source[size_t(iy1) * sw + ix1];
            uint32_t pixel = 0;
            for (int shift = 0; shift < 32; shift += 8) {
                const auto c = [shift](uint32_t p) { return static_cast<float>(p >> shift & 0xFF); };
                const float value =
                    (1 - fx) * (1 - fy) * c(s00) + fx * (1 - fy) * c(s10) + (1 - fx) * fy * c(s01) + fx * fy * c(s11);
                pixel |= static_cast<uint32_t>(std::clamp(value, 0.0f, 255.0f)) << shift;
            }
            out.pixels[size_t(j) * out.width + i] = pixel;
        }
    }
    return out;
}

std::vector<uint32_t> scale_buffer(const uint32_t* source, int32_t sw, int32_t sh, int32_t w, int32_t h) {
    const Quad q{{{0, 0}, {float(w), 0}, {float(w), float(h)}, {0, float(h)}}};
    Mapped m = transform_quad(source, sw, sh, q);
    if (m.width != w || m.height != h) return {};
    return std::move(m.pixels);
}

void yuy2_to_rgb32(int32_t width, int32_t rows, const uint8_t* in, uint32_t* out) {
    const size_t groups = size_t(width / 2) * rows;
    for (size_t g = 0; g < groups; ++g, in += 4) {
        const int u = in[1] - 128, v = in[3] - 128;
        for (int k = 0; k < 2; ++k) {
            const int y = in[k * 2];
            const int r = std::clamp(y + (v * 91881 >> 16), 0, 255);
            const int gr = std::clamp(y - (v * 46792 >> 16) - (u * 21889 >> 16), 0, 255);
            const int b = std::clamp(y + (u * 116129 >> 16), 0, 255);
            *out++ = 0xFF000000u | uint32_t(r) << 16 | uint32_t(gr) << 8 | uint32_t(b);
        }
    }
}

}  // namespace zub::image_geometry
