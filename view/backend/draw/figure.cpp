// Replay of recorded figures, with the far-off case flattened and clipped in device space:
// polygons for fills (Sutherland-Hodgman), segments for strokes (Liang-Barsky).
#include "view/backend/draw/figure.h"

#include <algorithm>
#include <cmath>

namespace zub::draw {
namespace {

constexpr double L = kDeviceLimit;

struct Run {
    std::vector<Point> points;  // device coordinates
    bool closed = false;
};

bool inside(const Point& p, int edge) {
    switch (edge) {
        case 0: return p.x >= -L;
        case 1: return p.x <= L;
        case 2: return p.y >= -L;
        default: return p.y <= L;
    }
}

Point crossing(const Point& a, const Point& b, int edge) {
    const double bound = edge == 0 || edge == 2 ? -L : L;
    if (edge < 2) {
        const double t = (bound - a.x) / (b.x - a.x);
        return {bound, a.y + t * (b.y - a.y)};
    }
    const double t = (bound - a.y) / (b.y - a.y);
    return {a.x + t * (b.x - a.x), bound};
}

std::vector<Point> clip_polygon(std::vector<Point> poly) {
    for (int edge = 0; edge < 4 && !poly.empty(); ++edge) {
        std::vector<Point> out;
        for (size_t i = 0; i < poly.size(); ++i) {
            const Point& a = poly[i];
            const Point& b = poly[(i + 1) % poly.size()];
            const bool ia = inside(a, edge), ib = inside(b, edge);
            if (ia && ib) out.push_back(b);
            else if (ia) out.push_back(crossing(a, b, edge));
            else if (ib) out.push_back(crossing(a, b, edge)), out.push_back(b);
        }
        poly = std::move(out);
    }
    return poly;
}

// The part of the segment inside the limit box; false when none is.
bool clip_segment(Point& a, Point& b) {
    double t0 = 0, t1 = 1;
    const double dx = b.x - a.x, dy = b.y - a.y;
    const double p[4] = {-dx, dx, -dy, dy}, q[4] = {a.x + L, L - a.x, a.y + L, L - a.y};
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0) {
            if (q[i] < 0) return false;
            continue;
        }
        const double r = q[i] / p[i];
        if (p[i] < 0) t0 = std::max(t0, r);
        else t1 = std::min(t1, r);
        if (t0 > t1) return false;
    }
    b = {a.x + t1 * dx, a.y + t1 * dy};
    a = {a.x + t0 * dx, a.y + t0 * dy};
    return true;
}

bool finite_point(const Point& p) { return std::isfinite(p.x) && std::isfinite(p.y); }

}  // namespace

Bounds bounds_of(double ax, double ay, double bx, double by) {
    return {std::min(ax, bx), std::min(ay, by), std::max(ax, bx), std::max(ay, by)};
}

void Figure::rectangle(double x, double y, double w, double h) {
    move_to(x, y);
    line_to(x + w, y);
    line_to(x + w, y + h);
    line_to(x, y + h);
    close();
}

bool Figure::emit(cairo_t* cr, bool for_fill) const {
    cairo_new_path(cr);
    cairo_matrix_t m;
    cairo_get_matrix(cr, &m);
    bool near = true;
    for (const Op& op : ops_) {
        const int n = op.kind == kCurve ? 3 : op.kind == kClose ? 0 : 1;
        for (int i = 0; i < n && near; ++i) {
            double x = op.x[i], y = op.y[i];
            cairo_matrix_transform_point(&m, &x, &y);
            near = std::fabs(x) <= L && std::fabs(y) <= L;
        }
    }
    if (near) {
        for (const Op& op : ops_) {
            switch (op.kind) {
                case kMove: cairo_move_to(cr, op.x[0], op.y[0]); break;
                case kLine: cairo_line_to(cr, op.x[0], op.y[0]); break;
                case kCurve: cairo_curve_to(cr, op.x[0], op.y[0], op.x[1], op.y[1], op.x[2], op.y[2]); break;
                default: cairo_close_path(cr);
            }
        }
        return true;
    }
    // Far off: subpaths flattened into device-space runs, then clipped.
    std::vector<Run> runs;
    Point current, start;
    const auto device = [&m](double x, double y) {
        cairo_matrix_transform_point(&m, &x, &y);
        return Point{x, y};
    };
    for (const Op& op : ops_) {
        switch (op.kind) {
            case kMove:
                current = start = {op.x[0], op.y[0]};
                runs.push_back({{device(op.x[0], op.y[0])}, false});
                break;
            case kLine:
                if (runs.empty()) runs.push_back({{device(current.x, current.y)}, false});
                runs.back().points.push_back(device(op.x[0], op.y[0]));
                current = {op.x[0], op.y[0]};
                break;
            case kCurve: {
                if (runs.empty()) runs.push_back({{device(current.x, current.y)}, false});
                for (int i = 1; i <= 64; ++i) {
                    const double t = i / 64.0, u = 1 - t;
                    const double x =
                        u * u * u * current.x + 3 * u * u * t * op.x[0] + 3 * u * t * t * op.x[1] + t * t * t * op.x[2];
                    const double y =
                        u * u * u * current.y + 3 * u * u * t * op.y[0] + 3 * u * t * t * op.y[1] + t * t * t * op.y[2];
                    runs.back().points.push_back(device(x, y));
                }
                current = {op.x[2], op.y[2]};
                break;
            }
            default:
                if (!runs.empty()) runs.back().closed = true;
                current = start;
                runs.push_back({{device(start.x, start.y)}, false});
        }
    }
    cairo_save(cr);
    cairo_identity_matrix(cr);
    for (const Run& run : runs) {
        if (!std::all_of(run.points.begin(), run.points.end(), finite_point)) continue;
        if (for_fill) {
            const std::vector<Point> poly = clip_polygon(run.points);
            if (poly.size() < 3) continue;
            cairo_move_to(cr, poly[0].x, poly[0].y);
            for (size_t i = 1; i < poly.size(); ++i) cairo_line_to(cr, poly[i].x, poly[i].y);
            cairo_close_path(cr);
            continue;
        }
        const size_t n = run.points.size();
        const size_t segments = run.closed ? n : n - 1;
        bool joined = false;  // the last segment emitted ended where the next begins
        for (size_t i = 0; i < segments; ++i) {
            Point a = run.points[i], b = run.points[(i + 1) % n];
            const Point original_b = b;
            if (!clip_segment(a, b)) {
                joined = false;
                continue;
            }
            if (!joined || a.x != run.points[i].x || a.y != run.points[i].y) cairo_move_to(cr, a.x, a.y);
            cairo_line_to(cr, b.x, b.y);
            joined = b.x == original_b.x && b.y == original_b.y;
        }
    }
    cairo_restore(cr);
    return false;
}

Bounds Figure::bounds() const {
    Bounds b{INFINITY, INFINITY, -INFINITY, -INFINITY};
    for (const Op& op : ops_) {
        const int n = op.kind == kCurve ? 3 : op.kind == kClose ? 0 : 1;
        for (int i = 0; i < n; ++i) {
            b.x0 = std::min(b.x0, op.x[i]), b.x1 = std::max(b.x1, op.x[i]);
            b.y0 = std::min(b.y0, op.y[i]), b.y1 = std::max(b.y1, op.y[i]);
        }
    }
    return b.x0 <= b.x1 ? b : Bounds{};
}

}  // namespace zub::draw
