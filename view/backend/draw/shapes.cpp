// Shapes are built as Cairo paths from Bézier segments of our own (ellipses and arcs too), so no
// Cairo transformation is ever needed that could fail on a zero radius. Shadows and perspective
// images are rendered in device pixels over no more than the target's area.
#include "view/backend/draw/shapes.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <vector>

#include "datatypes/image.h"
#include "view/backend/draw/blur.h"
#include "view/backend/draw/pens.h"

namespace zub::draw {
namespace {

constexpr double kPi = std::numbers::pi;

double radians(double degrees) { return degrees * kPi / 180.0; }

// ---- Elliptical arcs as cubic Béziers --------------------------------------------------------

// Adds the arc of the ellipse (centre, radii, rotation phi) from angle a to b, at most a quarter
// turn per segment. The path is already at the arc's start.
void add_ellipse_arc(Figure& f, double cx, double cy, double rx, double ry, double phi, double a, double b) {
    const double cp = std::cos(phi), sp = std::sin(phi);
    const int segments = std::max(1, static_cast<int>(std::ceil(std::fabs(b - a) / (kPi / 2) - 1e-9)));
    const double step = (b - a) / segments;
    const double k = 4.0 / 3.0 * std::tan(step / 4);
    const auto point = [&](double t, double& x, double& y) {
        const double ex = rx * std::cos(t), ey = ry * std::sin(t);
        x = cx + cp * ex - sp * ey;
        y = cy + sp * ex + cp * ey;
    };
    const auto tangent = [&](double t, double& x, double& y) {
        const double ex = -rx * std::sin(t), ey = ry * std::cos(t);
        x = cp * ex - sp * ey;
        y = sp * ex + cp * ey;
    };
    double t = a;
    for (int i = 0; i < segments; ++i) {
        const double u = i + 1 == segments ? b : t + step;
        double x0, y0, dx0, dy0, x1, y1, dx1, dy1;
        point(t, x0, y0);
        tangent(t, dx0, dy0);
        point(u, x1, y1);
        tangent(u, dx1, dy1);
        f.curve_to(x0 + k * dx0, y0 + k * dy0, x1 - k * dx1, y1 - k * dy1, x1, y1);
        t = u;
    }
}

void add_ellipse(Figure& f, double cx, double cy, double rx, double ry) {
    f.move_to(cx + rx, cy);
    add_ellipse_arc(f, cx, cy, rx, ry, 0, 0, 2 * kPi);
    f.close();
}

double vector_angle(double ux, double uy, double vx, double vy) {
    return std::atan2(ux * vy - uy * vx, ux * vx + uy * vy);
}

// The arc from the current point (x1, y1) to (x2, y2) as an SVG path draws it: radii grown when
// too small to reach, a zero radius drawing a straight line, coincident ends drawing nothing.
void add_endpoint_arc(Figure& f, double x1, double y1, double x2, double y2, double rx, double ry, double degrees,
                      bool sweep, bool large) {
    if (x1 == x2 && y1 == y2) return;
    rx = std::fabs(rx);
    ry = std::fabs(ry);
    if (rx == 0 || ry == 0 || !std::isfinite(rx) || !std::isfinite(ry)) {
        f.line_to(x2, y2);
        return;
    }
    const double phi = radians(std::fmod(degrees, 360.0));
    const double cp = std::cos(phi), sp = std::sin(phi);
    const double dx = (x1 - x2) / 2, dy = (y1 - y2) / 2;
    const double x1p = cp * dx + sp * dy, y1p = -sp * dx + cp * dy;
    const double lambda = x1p * x1p / (rx * rx) + y1p * y1p / (ry * ry);
    if (lambda > 1) {
        rx *= std::sqrt(lambda);
        ry *= std::sqrt(lambda);
    }
    const double num = rx * rx * ry * ry - rx * rx * y1p * y1p - ry * ry * x1p * x1p;
    const double den = rx * rx * y1p * y1p + ry * ry * x1p * x1p;
    double coef = den > 0 ? std::sqrt(std::max(0.0, num / den)) : 0;
    if (large == sweep) coef = -coef;
    const double cxp = coef * rx * y1p / ry, cyp = -coef * ry * x1p / rx;
    const double cx = cp * cxp - sp * cyp + (x1 + x2) / 2, cy = sp * cxp + cp * cyp + (y1 + y2) / 2;
    const double ux = (x1p - cxp) / rx, uy = (y1p - cyp) / ry, vx = (-x1p - cxp) / rx, vy = (-y1p - cyp) / ry;
    const double theta = vector_angle(1, 0, ux, uy);
    double delta = vector_angle(ux, uy, vx, vy);
    if (!sweep && delta > 0) delta -= 2 * kPi;
    else if (sweep && delta < 0) delta += 2 * kPi;
    add_ellipse_arc(f, cx, cy, rx, ry, phi, theta, theta + delta);
    f.line_to(x2, y2);  // lands exactly on the end point
}

// The figure simple shapes are built in: nothing runs between building and painting one.
Figure& scratch() {
    static Figure figure;
    figure.clear();
    return figure;
}

// ---- Outlines that honour shadows ------------------------------------------------------------

struct Outline {
    bool round = false;  // an ellipse in the box
    Bounds box;
    double radius = 0;  // corner radius of a box
};

void add_outline(Figure& f, const Outline& o) {
    const Bounds& b = o.box;
    if (o.round) {
        add_ellipse(f, (b.x0 + b.x1) / 2, (b.y0 + b.y1) / 2, (b.x1 - b.x0) / 2, (b.y1 - b.y0) / 2);
        return;
    }
    const double r = std::min({std::fabs(o.radius), (b.x1 - b.x0) / 2, (b.y1 - b.y0) / 2});
    if (r <= 0) {
        f.rectangle(b.x0, b.y0, b.x1 - b.x0, b.y1 - b.y0);
        return;
    }
    f.move_to(b.x1 - r, b.y0);
    add_ellipse_arc(f, b.x1 - r, b.y0 + r, r, r, 0, -kPi / 2, 0);
    f.line_to(b.x1, b.y1 - r);
    add_ellipse_arc(f, b.x1 - r, b.y1 - r, r, r, 0, 0, kPi / 2);
    f.line_to(b.x0 + r, b.y1);
    add_ellipse_arc(f, b.x0 + r, b.y1 - r, r, r, 0, kPi / 2, kPi);
    f.line_to(b.x0, b.y0 + r);
    add_ellipse_arc(f, b.x0 + r, b.y0 + r, r, r, 0, kPi, 3 * kPi / 2);
    f.close();
}

struct PixelBox {
    int32_t x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    bool empty() const { return x1 <= x0 || y1 <= y0; }
};

// The device pixels that the user-space box covers under m, grown by `margin` on each side.
PixelBox device_box(const Bounds& b, const Matrix& m, double margin) {
    double xs[4] = {b.x0, b.x1, b.x1, b.x0}, ys[4] = {b.y0, b.y0, b.y1, b.y1};
    double lx = INFINITY, ly = INFINITY, hx = -INFINITY, hy = -INFINITY;
    for (int i = 0; i < 4; ++i) {
        cairo_matrix_transform_point(&m, &xs[i], &ys[i]);
        lx = std::min(lx, xs[i]), hx = std::max(hx, xs[i]);
        ly = std::min(ly, ys[i]), hy = std::max(hy, ys[i]);
    }
    // Clamped well inside int range; callers cut the box to the target anyway.
    const auto to_int = [](double v) { return static_cast<int32_t>(std::clamp(v, -1e8, 1e8)); };
    return {to_int(std::floor(lx - margin)), to_int(std::floor(ly - margin)), to_int(std::ceil(hx + margin)),
            to_int(std::ceil(hy + margin))};
}

PixelBox intersect(const PixelBox& a, const PixelBox& b) {
    return {std::max(a.x0, b.x0), std::max(a.y0, b.y0), std::min(a.x1, b.x1), std::min(a.y1, b.y1)};
}

PixelBox grow(const PixelBox& a, int32_t by) { return {a.x0 - by, a.y0 - by, a.x1 + by, a.y1 + by}; }

// Largest blur reach, in pixels: a wider blur is drawn as one of this reach, which keeps a
// shadow's mask within a fixed margin around the target.
constexpr double kMaxReach = 512;

// Each shadow: the shape's coverage (fill, and stroke when the pen is on), grown by the spread,
// moved by the offset, blurred and painted in the shadow's colour. The mask covers only the
// shadow's pixels on the target plus the blur's reach.
void draw_shadows(Context& context, const Outline& outline) {
    const State& s = context.state;
    const bool stroke = s.pen.kind != Kind::none;
    const double half = stroke ? std::fabs(s.pen_width) / 2 : 0;
    const Bounds ink{outline.box.x0 - half, outline.box.y0 - half, outline.box.x1 + half, outline.box.y1 + half};
    const double w = ink.x1 - ink.x0, h = ink.y1 - ink.y0;
    const double cx = (ink.x0 + ink.x1) / 2, cy = (ink.y0 + ink.y1) / 2;
    const double det = std::fabs(s.matrix.xx * s.matrix.yy - s.matrix.xy * s.matrix.yx);
    const PixelBox target{0, 0, context.device.width, context.device.height};
    Figure figure;
    add_outline(figure, outline);
    for (const Shadow& shadow : s.shadows) {
        const double fx = w > 0 ? (w + 2 * shadow.spread) / w : 1, fy = h > 0 ? (h + 2 * shadow.spread) / h : 1;
        if (fx <= 0 || fy <= 0) continue;
        const Matrix m = then(then(scaling(fx, fy, cx, cy), translation(shadow.x, shadow.y)), s.matrix);
        if (!invertible(m)) continue;
        const double sigma = std::min(shadow.blur / 1.879971 * std::sqrt(det), kMaxReach / 3);
        const int32_t reach = static_cast<int32_t>(std::ceil(3 * std::max(sigma, 0.0))) + 1;
        const PixelBox shape = device_box(ink, m, reach);
        const PixelBox visible = intersect(shape, target);
        if (visible.empty()) continue;
        const PixelBox area = intersect(grow(visible, reach), shape);
        const int32_t aw = area.x1 - area.x0, ah = area.y1 - area.y0;
        cairo_surface_t* mask = cairo_image_surface_create(CAIRO_FORMAT_A8, aw, ah);
        if (cairo_surface_status(mask) == CAIRO_STATUS_SUCCESS) {
            cairo_t* cr = cairo_create(mask);
            const Matrix placed = then(m, translation(-area.x0, -area.y0));
            cairo_set_matrix(cr, &placed);
            cairo_set_antialias(cr, s.anti_alias ? CAIRO_ANTIALIAS_DEFAULT : CAIRO_ANTIALIAS_NONE);
            cairo_set_source_rgba(cr, 0, 0, 0, 1);
            if (s.fill.kind != Kind::none) {
                figure.emit(cr, true);
                cairo_fill(cr);
            }
            if (stroke) {
                apply_stroke(cr, s);
                figure.emit(cr, false);
                cairo_stroke(cr);
            }
            cairo_destroy(cr);
            cairo_surface_flush(mask);
            blur_alpha(cairo_image_surface_get_data(mask), aw, ah, cairo_image_surface_get_stride(mask), sigma);
            cairo_surface_mark_dirty(mask);
            const Rgba c = rgba_of(shadow.colour);
            cairo_save(context.cr);
            cairo_identity_matrix(context.cr);
            cairo_set_source_rgba(context.cr, c.r, c.g, c.b, c.a);
            cairo_mask_surface(context.cr, mask, area.x0, area.y0);
            cairo_restore(context.cr);
        }
        cairo_surface_destroy(mask);
    }
}

void paint_outline(Context& context, const Outline& outline) {
    if (!drawable(context)) return;
    if (context.state.shadow_mode && !context.state.shadows.empty()) draw_shadows(context, outline);
    Figure& f = scratch();
    add_outline(f, outline);
    paint(context, f, outline.box);
}

// Clips to nothing: what a matrix without inverse leaves visible.
void clip_all(Context& context) {
    cairo_new_path(context.cr);
    cairo_save(context.cr);
    cairo_identity_matrix(context.cr);
    cairo_rectangle(context.cr, 0, 0, 0, 0);
    cairo_restore(context.cr);
    cairo_clip(context.cr);
}

// ---- Images ----------------------------------------------------------------------------------

uint32_t premultiply(uint32_t p) {
    const uint32_t a = p >> 24;
    if (a == 255) return p;
    if (a == 0) return 0;
    const auto ch = [a](uint32_t c) { return (c * a + 127) / 255; };
    return a << 24 | ch((p >> 16) & 0xFF) << 16 | ch((p >> 8) & 0xFF) << 8 | ch(p & 0xFF);
}

// A surface holding the w x h pixels of `source` from (x0, y0).
cairo_surface_t* copy_rect(cairo_surface_t* source, int32_t x0, int32_t y0, int32_t w, int32_t h) {
    cairo_surface_t* out = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
    if (cairo_surface_status(out) != CAIRO_STATUS_SUCCESS) return out;
    cairo_surface_flush(source);
    const uint8_t* from = cairo_image_surface_get_data(source);
    const int32_t from_stride = cairo_image_surface_get_stride(source);
    uint8_t* to = cairo_image_surface_get_data(out);
    const int32_t to_stride = cairo_image_surface_get_stride(out);
    for (int32_t y = 0; y < h; ++y)
        std::memcpy(to + static_cast<size_t>(y) * to_stride,
                    from + static_cast<size_t>(y0 + y) * from_stride + static_cast<size_t>(x0) * 4,
                    static_cast<size_t>(w) * 4);
    cairo_surface_mark_dirty(out);
    return out;
}

// The source (sw x sh pixels) drawn through the affine map m from its pixels to drawing space.
void draw_affine(Context& context, cairo_surface_t* source, int32_t sw, int32_t sh, const Matrix& m) {
    if (!invertible(then(m, context.state.matrix))) return;
    cairo_t* cr = context.cr;
    cairo_save(cr);
    cairo_transform(cr, &m);
    cairo_set_source_surface(cr, source, 0, 0);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_BILINEAR);
    cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_PAD);
    Figure& f = scratch();
    f.rectangle(0, 0, sw, sh);
    f.emit(cr, true);
    cairo_fill(cr);
    cairo_restore(cr);
}

// A projective map of the unit square onto four corners: (s, t) -> ((a s + b t + c) / (g s + h t
// + 1), (d s + e t + f) / (...)), and its inverse as a 3x3 matrix.
struct Projective {
    double m[9];  // row-major; the last entry 1 for the forward map
};

Projective square_to_quad(const Point (&q)[4]) {
    const double sx = q[0].x - q[1].x + q[2].x - q[3].x, sy = q[0].y - q[1].y + q[2].y - q[3].y;
    double g = 0, h = 0;
    if (sx != 0 || sy != 0) {
        const double dx1 = q[1].x - q[2].x, dx2 = q[3].x - q[2].x, dy1 = q[1].y - q[2].y, dy2 = q[3].y - q[2].y;
        const double den = dx1 * dy2 - dx2 * dy1;
        g = (sx * dy2 - dx2 * sy) / den;
        h = (dx1 * sy - sx * dy1) / den;
    }
    return {{q[1].x - q[0].x + g * q[1].x, q[3].x - q[0].x + h * q[3].x, q[0].x, q[1].y - q[0].y + g * q[1].y,
             q[3].y - q[0].y + h * q[3].y, q[0].y, g, h, 1}};
}

Projective adjugate(const Projective& p) {
    const double* m = p.m;
    return {{m[4] * m[8] - m[5] * m[7], m[2] * m[7] - m[1] * m[8], m[1] * m[5] - m[2] * m[4], m[5] * m[6] - m[3] * m[8],
             m[0] * m[8] - m[2] * m[6], m[2] * m[3] - m[0] * m[5], m[3] * m[7] - m[4] * m[6], m[1] * m[6] - m[0] * m[7],
             m[0] * m[4] - m[1] * m[3]}};
}

// Whether the corners, in order, make a convex quadrilateral of some area.
bool convex(const Point (&q)[4]) {
    int sign = 0;
    for (int i = 0; i < 4; ++i) {
        const Point &a = q[i], &b = q[(i + 1) % 4], &c = q[(i + 2) % 4];
        const double cross = (b.x - a.x) * (c.y - b.y) - (b.y - a.y) * (c.x - b.x);
        if (!std::isfinite(cross) || std::fabs(cross) < 1e-9) return false;
        const int s = cross > 0 ? 1 : -1;
        if (sign != 0 && s != sign) return false;
        sign = s;
    }
    return true;
}

// The premultiplied pixel of the source at (u, v), bilinear between pixel centres, clamped.
uint32_t sample(const uint8_t* data, int32_t stride, int32_t w, int32_t h, double u, double v) {
    u = std::clamp(u - 0.5, 0.0, w - 1.0);
    v = std::clamp(v - 0.5, 0.0, h - 1.0);
    const int32_t x0 = static_cast<int32_t>(u), y0 = static_cast<int32_t>(v);
    const int32_t x1 = std::min(x0 + 1, w - 1), y1 = std::min(y0 + 1, h - 1);
    const double fx = u - x0, fy = v - y0;
    const auto px = [&](int32_t x, int32_t y) {
        uint32_t p;
        std::memcpy(&p, data + static_cast<size_t>(y) * stride + static_cast<size_t>(x) * 4, 4);
        return p;
    };
    const uint32_t p00 = px(x0, y0), p10 = px(x1, y0), p01 = px(x0, y1), p11 = px(x1, y1);
    uint32_t out = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        const auto c = [shift](uint32_t p) { return static_cast<double>((p >> shift) & 0xFF); };
        const double top = c(p00) + (c(p10) - c(p00)) * fx, bottom = c(p01) + (c(p11) - c(p01)) * fx;
        out |= static_cast<uint32_t>(std::lround(top + (bottom - top) * fy)) << shift;
    }
    return out;
}

// The source mapped onto four corners in drawing space: each target pixel inside the corners'
// device box (cut to the target) looks its source point up through the inverse mapping.
void draw_perspective(Context& context, cairo_surface_t* source, int32_t sw, int32_t sh, const Point (&corners)[4]) {
    Point q[4];
    for (int i = 0; i < 4; ++i) {
        q[i] = corners[i];
        cairo_matrix_transform_point(&context.state.matrix, &q[i].x, &q[i].y);
    }
    if (!convex(q)) return;
    Bounds b{q[0].x, q[0].y, q[0].x, q[0].y};
    for (const Point& p : q) b = {std::min(b.x0, p.x), std::min(b.y0, p.y), std::max(b.x1, p.x), std::max(b.y1, p.y)};
    const PixelBox area =
        intersect(device_box(b, identity(), 0), PixelBox{0, 0, context.device.width, context.device.height});
    if (area.empty()) return;
    const Projective inverse = adjugate(square_to_quad(q));
    const int32_t aw = area.x1 - area.x0, ah = area.y1 - area.y0;
    cairo_surface_t* out = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, aw, ah);
    if (cairo_surface_status(out) == CAIRO_STATUS_SUCCESS) {
        cairo_surface_flush(source);
        const uint8_t* data = cairo_image_surface_get_data(source);
        const int32_t stride = cairo_image_surface_get_stride(source);
        uint8_t* pixels = cairo_image_surface_get_data(out);
        const int32_t out_stride = cairo_image_surface_get_stride(out);
        const double* m = inverse.m;
        for (int32_t y = 0; y < ah; ++y) {
            auto* row = reinterpret_cast<uint32_t*>(pixels + static_cast<size_t>(y) * out_stride);
            const double dy = area.y0 + y + 0.5;
            for (int32_t x = 0; x < aw; ++x) {
                const double dx = area.x0 + x + 0.5;
                const double w = m[6] * dx + m[7] * dy + m[8];
                const double s = (m[0] * dx + m[1] * dy + m[2]) / w, t = (m[3] * dx + m[4] * dy + m[5]) / w;
                row[x] = s >= 0 && s < 1 && t >= 0 && t < 1 ? sample(data, stride, sw, sh, s * sw, t * sh) : 0;
            }
        }
        cairo_surface_mark_dirty(out);
        cairo_save(context.cr);
        cairo_identity_matrix(context.cr);
        cairo_set_source_surface(context.cr, out, area.x0, area.y0);
        cairo_paint(context.cr);
        cairo_restore(context.cr);
    }
    cairo_surface_destroy(out);
}

}  // namespace

// ---- Shapes ----------------------------------------------------------------------------------

void box(Context& context, Point a, Point b, double radius) {
    Outline o;
    o.box = bounds_of(a.x, a.y, b.x, b.y);
    o.radius = radius;
    paint_outline(context, o);
}

void circle(Context& context, Point centre, double rx, double ry) {
    Outline o;
    o.round = true;
    o.box = bounds_of(centre.x - rx, centre.y - ry, centre.x + rx, centre.y + ry);
    paint_outline(context, o);
}

void ellipse(Context& context, Point top_left, Point size) {
    Outline o;
    o.round = true;
    o.box = bounds_of(top_left.x, top_left.y, top_left.x + size.x, top_left.y + size.y);
    paint_outline(context, o);
}

void line(Context& context, std::span<const Point> points) {
    if (!drawable(context) || points.size() < 2) return;
    Figure& f = scratch();
    f.move_to(points[0].x, points[0].y);
    for (size_t i = 1; i < points.size(); ++i) f.line_to(points[i].x, points[i].y);
    if (points.size() > 2) {
        paint(context, f);
        return;
    }
    // One segment: the pen alone, fitted to the two points' box.
    cairo_t* cr = context.cr;
    const Bounds box = bounds_of(points[0].x, points[0].y, points[1].x, points[1].y);
    if (context.state.pen.kind != Kind::none && apply_brush(cr, context.state.pen, box)) {
        apply_stroke(cr, context.state);
        f.emit(cr, false);
        cairo_stroke(cr);
    }
}

void polygon(Context& context, std::span<const Point> points) {
    if (!drawable(context) || points.empty()) return;
    Figure& f = scratch();
    f.move_to(points[0].x, points[0].y);
    for (size_t i = 1; i < points.size(); ++i) f.line_to(points[i].x, points[i].y);
    f.close();
    paint(context, f);
}

void arc(Context& context, Point centre, Point radii, double start, double sweep, bool closed) {
    if (sweep >= 359.999 || sweep <= -359.999) {
        circle(context, centre, radii.x, radii.y);
        return;
    }
    if (!drawable(context)) return;
    const double rx = radii.x, ry = radii.y;
    double a = radians(start), b = radians(start + sweep);
    if (rx != ry) {
        a = std::atan2(std::sin(a) * ry, std::cos(a) * rx);
        b = std::atan2(std::sin(b) * ry, std::cos(b) * rx);
        if (std::fabs(a - b) > kPi) {
            if (a > b) a -= 2 * kPi;
            else b -= 2 * kPi;
        }
    }
    const double sx = centre.x + rx * std::cos(a), sy = centre.y + ry * std::sin(a);
    const double ex = centre.x + rx * std::cos(b), ey = centre.y + ry * std::sin(b);
    Figure& f = scratch();
    if (closed) {
        f.move_to(centre.x, centre.y);
        f.line_to(sx, sy);
    } else {
        f.move_to(sx, sy);
    }
    add_endpoint_arc(f, sx, sy, ex, ey, rx, ry, 0, sweep >= 0, sweep >= 180 || sweep <= -180);
    if (closed) f.close();
    paint(context, f);
}

void curve(Context& context, std::span<const Point> p) {
    if (!drawable(context) || p.size() < 3) return;
    Figure& f = scratch();
    f.move_to(p[0].x, p[0].y);
    if (p.size() == 3) {
        // A quadratic segment as the cubic that traces it.
        f.curve_to(p[0].x + 2.0 / 3 * (p[1].x - p[0].x), p[0].y + 2.0 / 3 * (p[1].y - p[0].y),
                   p[2].x + 2.0 / 3 * (p[1].x - p[2].x), p[2].y + 2.0 / 3 * (p[1].y - p[2].y), p[2].x, p[2].y);
    } else {
        f.curve_to(p[1].x, p[1].y, p[2].x, p[2].y, p[3].x, p[3].y);
    }
    paint(context, f);
}

void spline(Context& context, std::span<const Point> p, bool closed) {
    const size_t n = p.size();
    if (n == 2) {
        line(context, p);
        return;
    }
    if (!drawable(context) || n < 2) return;
    Figure& f = scratch();
    f.move_to(p[0].x, p[0].y);
    // The Catmull-Rom segment between p1 and p2, as 25 straight pieces.
    const auto segment = [&f](const Point& p0, const Point& p1, const Point& p2, const Point& p3) {
        for (int i = 1; i <= 25; ++i) {
            const double t = i * 0.04, t2 = t * t, t3 = t2 * t;
            const auto at = [&](double a, double b, double c, double d) {
                return 0.5 * (2 * b + (c - a) * t + (2 * a - 5 * b + 4 * c - d) * t2 + (3 * b - a - 3 * c + d) * t3);
            };
            f.line_to(at(p0.x, p1.x, p2.x, p3.x), at(p0.y, p1.y, p2.y, p3.y));
        }
    };
    segment(closed ? p[n - 1] : p[0], p[0], p[1], p[2]);
    for (size_t i = 1; i + 2 < n; ++i) segment(p[i - 1], p[i], p[i + 1], p[i + 2]);
    if (closed) {
        segment(p[n - 3], p[n - 2], p[n - 1], p[0]);
        segment(p[n - 2], p[n - 1], p[0], p[1]);
        f.close();
    } else {
        segment(p[n - 3], p[n - 2], p[n - 1], p[n - 1]);
    }
    paint(context, f);
}

// ---- Paths -----------------------------------------------------------------------------------

void path_begin(Context&, Path& path, bool clip) {
    path.clip = clip;
    path.current = {};
    path.control_valid = false;
    path.figure.clear();
    path.figure.move_to(0, 0);
}

void path_move(Context&, Path& path, Point to) {
    path.figure.move_to(to.x, to.y);
    path.current = to;
    path.control_valid = false;
}

void path_line(Context&, Path& path, Point to) {
    path.figure.line_to(to.x, to.y);
    path.current = to;
    path.control_valid = false;
}

void path_cubic(Context&, Path& path, Point c1, Point c2, Point to) {
    path.figure.curve_to(c1.x, c1.y, c2.x, c2.y, to.x, to.y);
    path.current = to;
    path.control = c2;
    path.control_valid = true;
}

void path_quadratic(Context&, Path& path, Point control, Point to) {
    const Point from = path.current;
    path.figure.curve_to(from.x + 2.0 / 3 * (control.x - from.x), from.y + 2.0 / 3 * (control.y - from.y),
                         to.x + 2.0 / 3 * (control.x - to.x), to.y + 2.0 / 3 * (control.y - to.y), to.x, to.y);
    path.current = to;
    path.control = control;
    path.control_valid = true;
}

void path_arc(Context&, Path& path, Point to, double rx, double ry, double rotation, bool sweep, bool large) {
    add_endpoint_arc(path.figure, path.current.x, path.current.y, to.x, to.y, rx, ry, rotation, sweep, large);
    path.current = to;
    path.control_valid = false;
}

void path_close(Context&, Path& path) {
    path.figure.close();
    path.figure.move_to(path.current.x, path.current.y);
    path.control_valid = false;
}

void path_end(Context& context, Path& path) {
    if (!path.clip) {
        if (drawable(context)) paint(context, path.figure);
        return;
    }
    ++context.clip_count;
    if (!drawable(context)) {
        clip_all(context);
        return;
    }
    path.figure.close();
    path.figure.emit(context.cr, true);
    cairo_set_fill_rule(context.cr, CAIRO_FILL_RULE_WINDING);
    cairo_clip(context.cr);
    cairo_set_fill_rule(context.cr, CAIRO_FILL_RULE_EVEN_ODD);
}

void clip_box(Context& context, Point a, Point b) {
    ++context.clip_count;
    if (!drawable(context)) {
        clip_all(context);
        return;
    }
    const Bounds r = bounds_of(a.x, a.y, b.x, b.y);
    Figure& f = scratch();
    f.rectangle(r.x0, r.y0, r.x1 - r.x0, r.y1 - r.y0);
    f.emit(context.cr, true);
    cairo_clip(context.cr);
}

// ---- Images ----------------------------------------------------------------------------------

cairo_surface_t* surface_of_image(const Cell& value) {
    const int32_t w = static_cast<int32_t>(image::width(value)), h = static_cast<int32_t>(image::height(value));
    if (w > kMaxSurfaceSide || h > kMaxSurfaceSide) return nullptr;
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
    if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(s);
        return nullptr;
    }
    cairo_surface_flush(s);
    const uint32_t* from = image::pixels(value);
    uint8_t* to = cairo_image_surface_get_data(s);
    const int32_t stride = cairo_image_surface_get_stride(s);
    for (int32_t y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(to + static_cast<size_t>(y) * stride);
        for (int32_t x = 0; x < w; ++x) row[x] = premultiply(from[static_cast<size_t>(y) * w + x]);
    }
    cairo_surface_mark_dirty(s);
    return s;
}

void image(Context& context, cairo_surface_t* source, std::span<const Point> points, const Crop& crop) {
    if (!drawable(context)) return;
    const int32_t w = cairo_image_surface_get_width(source), h = cairo_image_surface_get_height(source);
    double x0 = 0, y0 = 0, x1 = w, y1 = h;
    Point at = points.empty() ? Point{} : points[0];
    if (crop.on) {
        const Bounds c =
            bounds_of(crop.offset.x, crop.offset.y, crop.offset.x + crop.size.x, crop.offset.y + crop.size.y);
        if (c.x1 <= 0 || c.y1 <= 0) return;  // wholly left of or above the image
        x0 = c.x0, y0 = c.y0, x1 = std::min(c.x1, 1.0 * w), y1 = std::min(c.y1, 1.0 * h);
        if (x0 < 0) at.x -= x0, x0 = 0;
        if (y0 < 0) at.y -= y0, y0 = 0;
    }
    const int32_t sx = static_cast<int32_t>(std::floor(x0)), sy = static_cast<int32_t>(std::floor(y0));
    const int32_t sw = static_cast<int32_t>(std::ceil(x1)) - sx, sh = static_cast<int32_t>(std::ceil(y1)) - sy;
    if (sw <= 0 || sh <= 0) return;
    cairo_surface_t* part =
        sx == 0 && sy == 0 && sw == w && sh == h ? cairo_surface_reference(source) : copy_rect(source, sx, sy, sw, sh);
    if (cairo_surface_status(part) == CAIRO_STATUS_SUCCESS) {
        Matrix m;
        switch (points.size()) {
            case 0:
            case 1: cairo_matrix_init_translate(&m, at.x, at.y); break;
            case 2:
                cairo_matrix_init(&m, (points[1].x - at.x) / sw, 0, 0, (points[1].y - at.y) / sh, at.x, at.y);
                break;
            default: {
                // Three corners span a parallelogram; four that make one are drawn the same way.
                const Point &p0 = points[0], &p1 = points[1], &p2 = points[2];
                const Point p3 = points.size() == 3 ? Point{p0.x + p2.x - p1.x, p0.y + p2.y - p1.y} : points[3];
                const bool affine =
                    std::fabs(p0.x + p2.x - p1.x - p3.x) < 1e-9 && std::fabs(p0.y + p2.y - p1.y - p3.y) < 1e-9;
                if (!affine) {
                    const Point corners[4] = {p0, p1, p2, p3};
                    draw_perspective(context, part, sw, sh, corners);
                    cairo_surface_destroy(part);
                    return;
                }
                cairo_matrix_init(&m, (p1.x - p0.x) / sw, (p1.y - p0.y) / sw, (p3.x - p0.x) / sh, (p3.y - p0.y) / sh,
                                  p0.x, p0.y);
            }
        }
        draw_affine(context, part, sw, sh, m);
    }
    cairo_surface_destroy(part);
}

// ---- Shadows ---------------------------------------------------------------------------------

void shadow_add(Context& context, const Shadow& shadow) {
    State& s = context.state;
    if (!s.shadow_mode) s.shadows.clear();
    s.shadow_mode = true;
    s.shadows.push_back(shadow);
}

void shadow_off(Context& context) {
    context.state.shadow_mode = false;
    context.state.shadows.clear();
}

}  // namespace zub::draw
