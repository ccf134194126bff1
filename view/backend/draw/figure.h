// A path in drawing coordinates, recorded before it reaches Cairo. Cairo keeps paths in 24.8
// fixed point, so a point more than a few million pixels off would wrap around and draw garbage:
// a figure that reaches that far is clipped in device space first, which changes nothing that
// can be seen.
#pragma once

#include <cairo.h>

#include <cstdint>
#include <vector>

namespace zub::draw {

// A shape's bounding box in drawing coordinates, for brushes fitted to it.
struct Bounds {
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};
Bounds bounds_of(double ax, double ay, double bx, double by);  // normalised

struct Point {
    double x = 0, y = 0;
};

class Figure {
  public:
    void clear() { ops_.clear(); }
    bool empty() const { return ops_.empty(); }
    void move_to(double x, double y) { ops_.push_back({kMove, {x, 0, 0}, {y, 0, 0}}); }
    void line_to(double x, double y) { ops_.push_back({kLine, {x, 0, 0}, {y, 0, 0}}); }
    void curve_to(double x1, double y1, double x2, double y2, double x3, double y3) {
        ops_.push_back({kCurve, {x1, x2, x3}, {y1, y2, y3}});
    }
    void close() { ops_.push_back({kClose, {0, 0, 0}, {0, 0, 0}}); }
    void rectangle(double x, double y, double w, double h);

    // Replaces cr's path with the figure, through cr's matrix; for a fill every subpath counts
    // as closed (clipping keeps the area), for a stroke the segments keep their own ends.
    // Answers whether the figure went as it is (then one emission serves a fill and a stroke).
    bool emit(cairo_t* cr, bool for_fill) const;
    // The box of every point, control points included.
    Bounds bounds() const;

  private:
    enum : uint8_t { kMove, kLine, kCurve, kClose };
    struct Op {
        uint8_t kind;
        double x[3], y[3];  // the end point last
    };
    std::vector<Op> ops_;
};

// The largest device coordinate handed to Cairo.
inline constexpr double kDeviceLimit = 4194304.0;

}  // namespace zub::draw
