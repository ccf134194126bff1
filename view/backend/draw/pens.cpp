// Brushes become Cairo sources only when a shape is painted: a solid colour directly, a gradient
// or image pattern through the inverse of its brush transform, a fitted gradient made for the
// shape's box.
#include "view/backend/draw/pens.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace zub::draw {
namespace {

Brush& brush_of(Context& context, bool fill) { return fill ? context.state.fill : context.state.pen; }

// The kind a new pen takes: hidden (and remembered) while the width is 0.
void settle_pen_kind(Context& context, Kind kind) {
    State& s = context.state;
    if (s.pen_width == 0) {
        s.saved_pen_kind = kind;
        s.pen.kind = Kind::none;
    } else {
        s.pen.kind = kind;
    }
}

void set_colour(Context& context, bool fill, Colour colour) {
    Brush& brush = brush_of(context, fill);
    brush.release();
    brush.colour = rgba_of(colour);
    if (fill) brush.kind = Kind::solid;
    else settle_pen_kind(context, Kind::solid);
}

void add_stops(cairo_pattern_t* pattern, const std::vector<Stop>& stops) {
    for (const Stop& stop : stops)
        cairo_pattern_add_color_stop_rgba(pattern, stop.offset, stop.colour.r, stop.colour.g, stop.colour.b,
                                          stop.colour.a);
}

void install(Context& context, bool fill, Brush&& brush) {
    const Kind kind = brush.kind;
    Brush& target = brush_of(context, fill);
    target = brush;
    if (fill) target.kind = kind;
    else settle_pen_kind(context, kind);
}

// A copy of the pixels from (x0, y0), w x h of them, repeated mirrored to the right and/or below
// so that plain repetition of the result tiles in flips along one axis only.
cairo_surface_t* tile_source(cairo_surface_t* source, int x0, int y0, int w, int h, bool mirror_x, bool mirror_y) {
    cairo_surface_t* out = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, mirror_x ? 2 * w : w, mirror_y ? 2 * h : h);
    if (cairo_surface_status(out) != CAIRO_STATUS_SUCCESS) return out;
    cairo_t* cr = cairo_create(out);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    for (int my = 0; my < (mirror_y ? 2 : 1); ++my)
        for (int mx = 0; mx < (mirror_x ? 2 : 1); ++mx) {
            cairo_save(cr);
            // Each copy maps the source rectangle onto its quarter, mirrored on odd quarters.
            Matrix m;
            cairo_matrix_init(&m, mx ? -1 : 1, 0, 0, my ? -1 : 1, mx ? 2.0 * w : 0, my ? 2.0 * h : 0);
            cairo_transform(cr, &m);
            cairo_set_source_surface(cr, source, -x0, -y0);
            cairo_rectangle(cr, 0, 0, w, h);
            cairo_fill(cr);
            cairo_restore(cr);
        }
    cairo_destroy(cr);
    return out;
}

}  // namespace

void set_pen_colour(Context& context, Colour colour) { set_colour(context, false, colour); }
void set_fill_colour(Context& context, Colour colour) { set_colour(context, true, colour); }

void pen_off(Context& context) {
    context.state.pen.kind = Kind::none;
    context.state.saved_pen_kind = Kind::none;
}

void fill_off(Context& context) { context.state.fill.kind = Kind::none; }

void set_line_width(Context& context, double width) {
    State& s = context.state;
    if (width == 0 && s.pen_width != 0) {
        s.saved_pen_kind = s.pen.kind;
        s.pen.kind = Kind::none;
    } else if (width != 0 && s.pen_width == 0) {
        s.pen.kind = s.saved_pen_kind;
    }
    s.pen_width = width;
}

void set_line_join(Context& context, Join join) { context.state.join = join; }
void set_line_cap(Context& context, Cap cap) { context.state.cap = cap; }
void set_dashes(Context& context, std::vector<double> dashes) { context.state.dashes = std::move(dashes); }

void set_anti_alias(Context& context, bool on) {
    context.state.anti_alias = on;
    cairo_set_antialias(context.cr, on ? CAIRO_ANTIALIAS_DEFAULT : CAIRO_ANTIALIAS_NONE);
}

void set_gradient(Context& context, bool fill, const Gradient& g) {
    Brush brush;
    brush.shade = g.shade;
    brush.spread = g.spread;
    if (!g.geometry) {
        brush.kind = Kind::fitted;
        brush.stops = g.stops;
    } else {
        brush.kind = Kind::gradient;
        if (g.shade == Shade::linear) {
            brush.pattern = cairo_pattern_create_linear(g.x1, g.y1, g.x2, g.y2);
        } else {
            const double fx = g.focal ? g.fx : g.x1, fy = g.focal ? g.fy : g.y1;
            brush.pattern = cairo_pattern_create_radial(fx, fy, 0, g.x1, g.y1, std::fabs(g.radius));
        }
        add_stops(brush.pattern, g.stops);
        cairo_pattern_set_extend(brush.pattern, g.spread);
    }
    install(context, fill, std::move(brush));
}

void set_range_gradient(Context& context, bool fill, Shade shade, double ox, double oy, double start, double stop,
                        double angle, double sx, double sy, std::vector<Stop> stops) {
    Brush brush;
    brush.shade = shade;
    brush.kind = Kind::gradient;
    if (shade == Shade::linear) brush.pattern = cairo_pattern_create_linear(ox + start, oy, ox + stop, oy);
    else brush.pattern = cairo_pattern_create_radial(ox, oy, 0, ox, oy, std::fabs(stop - start));
    add_stops(brush.pattern, stops);
    cairo_pattern_set_extend(brush.pattern, CAIRO_EXTEND_PAD);
    // Rotation and scaling work around the gradient's offset point.
    if (angle != 0) brush.transform = then(rotation(angle, ox, oy), brush.transform);
    if (sx != 1 || sy != 1) brush.transform = then(scaling(sx, sy, ox, oy), brush.transform);
    install(context, fill, std::move(brush));
}

void set_image_brush(Context& context, bool fill, cairo_surface_t* source, double sx, double sy, double ex, double ey,
                     Tile tile) {
    const int w = cairo_image_surface_get_width(source), h = cairo_image_surface_get_height(source);
    const auto clamp_to = [](double v, int limit) {
        return static_cast<int>(std::clamp(std::floor(v), 0.0, 1.0 * limit));
    };
    const int x0 = clamp_to(sx, w), y0 = clamp_to(sy, h), x1 = clamp_to(ex, w), y1 = clamp_to(ey, h);
    if (x1 <= x0 || y1 <= y0) {
        if (fill) fill_off(context);
        else pen_off(context);
        return;
    }
    const bool mirror_x = tile == Tile::flip_x, mirror_y = tile == Tile::flip_y;
    cairo_surface_t* pixels = tile_source(source, x0, y0, x1 - x0, y1 - y0, mirror_x, mirror_y);
    if (cairo_surface_status(pixels) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(pixels);
        if (fill) fill_off(context);
        else pen_off(context);
        return;
    }
    Brush brush;
    brush.kind = Kind::image;
    brush.pattern = cairo_pattern_create_for_surface(pixels);
    cairo_surface_destroy(pixels);
    cairo_pattern_set_filter(brush.pattern, CAIRO_FILTER_BILINEAR);
    cairo_pattern_set_extend(brush.pattern, tile == Tile::clamp     ? CAIRO_EXTEND_PAD
                                            : tile == Tile::flip_xy ? CAIRO_EXTEND_REFLECT
                                                                    : CAIRO_EXTEND_REPEAT);
    install(context, fill, std::move(brush));
}

// ---- Transformations -------------------------------------------------------------------------

void transform(Context& context, Target target, const Matrix& m) {
    if (target == Target::drawing) {
        context.state.matrix = then(m, context.state.matrix);
        apply_matrix(context);
        return;
    }
    Brush& brush = brush_of(context, target == Target::fill);
    if (brush.kind == Kind::none || brush.kind == Kind::solid) return;
    brush.transform = then(m, brush.transform);
}

void reset_matrix(Context& context, Target target) {
    if (target == Target::drawing) {
        context.state.matrix = identity();
        apply_matrix(context);
        return;
    }
    Brush& brush = brush_of(context, target == Target::fill);
    if (brush.kind == Kind::none || brush.kind == Kind::solid) return;
    brush.transform = identity();
}

void invert_matrix(Context& context, Target target) {
    Matrix* m = &context.state.matrix;
    if (target != Target::drawing) {
        Brush& brush = brush_of(context, target == Target::fill);
        if (brush.kind == Kind::none || brush.kind == Kind::solid) return;
        m = &brush.transform;
    }
    // A matrix with no inverse stays as it is.
    if (invertible(*m)) cairo_matrix_invert(m);
    if (target == Target::drawing) apply_matrix(context);
}

// ---- Painting --------------------------------------------------------------------------------

bool apply_brush(cairo_t* cr, const Brush& brush, const Bounds& box) {
    switch (brush.kind) {
        case Kind::none: return false;
        case Kind::solid:
            cairo_set_source_rgba(cr, brush.colour.r, brush.colour.g, brush.colour.b, brush.colour.a);
            return true;
        case Kind::gradient:
        case Kind::image: {
            if (!invertible(brush.transform)) return false;
            Matrix inverse = brush.transform;
            cairo_matrix_invert(&inverse);
            cairo_pattern_set_matrix(brush.pattern, &inverse);
            cairo_set_source(cr, brush.pattern);
            return true;
        }
        case Kind::fitted: {
            const double w = box.x1 - box.x0, h = box.y1 - box.y0;
            cairo_pattern_t* pattern;
            if (brush.shade == Shade::linear) {
                pattern = cairo_pattern_create_linear(0, 0, w, 0);
            } else {
                const double r = std::min(w, h) / 2;
                pattern = cairo_pattern_create_radial(w / 2, h / 2, 0, w / 2, h / 2, r);
            }
            add_stops(pattern, brush.stops);
            cairo_pattern_set_extend(pattern, brush.spread);
            const Matrix placed = then(brush.transform, translation(box.x0, box.y0));
            bool ok = invertible(placed);
            if (ok) {
                Matrix inverse = placed;
                cairo_matrix_invert(&inverse);
                cairo_pattern_set_matrix(pattern, &inverse);
                cairo_set_source(cr, pattern);
            }
            cairo_pattern_destroy(pattern);
            return ok;
        }
    }
    return false;
}

void apply_stroke(cairo_t* cr, const State& state) {
    // A stroke wider than Cairo's coordinates reach is drawn as wide as they do: it covers any
    // target anyway.
    cairo_matrix_t m;
    cairo_get_matrix(cr, &m);
    const double stretch = std::max(std::hypot(m.xx, m.yx), std::hypot(m.xy, m.yy));
    const double width = std::min(std::fabs(state.pen_width), kDeviceLimit / 2 / std::max(stretch, 1e-300));
    cairo_set_line_width(cr, width);
    static constexpr cairo_line_join_t joins[] = {CAIRO_LINE_JOIN_MITER, CAIRO_LINE_JOIN_BEVEL, CAIRO_LINE_JOIN_ROUND,
                                                  CAIRO_LINE_JOIN_MITER};
    static constexpr cairo_line_cap_t caps[] = {CAIRO_LINE_CAP_BUTT, CAIRO_LINE_CAP_SQUARE, CAIRO_LINE_CAP_ROUND};
    cairo_set_line_join(cr, joins[static_cast<int>(state.join)]);
    cairo_set_line_cap(cr, caps[static_cast<int>(state.cap)]);
    cairo_set_miter_limit(cr, 10.0);
    // Dash lengths count in stroke widths. A pattern Cairo would refuse (a negative length, all
    // zero) or one so fine that it would cut a stroke into millions of pieces draws solid.
    double period = 0;
    bool valid = !state.dashes.empty();
    for (double d : state.dashes) {
        if (d < 0 || !std::isfinite(d)) valid = false;
        period += d;
    }
    double ux = 1, uy = 0;
    cairo_user_to_device_distance(cr, &ux, &uy);
    const double device_period = period * width * std::hypot(ux, uy);
    if (valid && period > 0 && device_period >= 0.5) {
        double dashes[256];
        const size_t n = std::min<size_t>(state.dashes.size(), 256);
        for (size_t i = 0; i < n; ++i) dashes[i] = state.dashes[i] * width;
        cairo_set_dash(cr, dashes, static_cast<int>(n), 0);
    } else {
        cairo_set_dash(cr, nullptr, 0, 0);
    }
}

void paint(Context& context, const Figure& figure, const Bounds& box) {
    cairo_t* cr = context.cr;
    const State& s = context.state;
    bool ready = false;  // the path is in cr, good for the stroke too
    if (s.fill.kind != Kind::none && apply_brush(cr, s.fill, box)) {
        ready = figure.emit(cr, true);
        cairo_fill_preserve(cr);
    }
    if (s.pen.kind != Kind::none && apply_brush(cr, s.pen, box)) {
        apply_stroke(cr, s);
        if (!ready) figure.emit(cr, false);
        cairo_stroke_preserve(cr);
    }
    cairo_new_path(cr);
}

void paint(Context& context, const Figure& figure) { paint(context, figure, figure.bounds()); }

}  // namespace zub::draw
