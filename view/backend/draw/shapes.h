// The drawing operations behind the dialect's shape commands: boxes, lines, polygons, ellipses,
// arcs, curves, splines, free paths, images, clips and drop shadows. Points are in drawing
// coordinates; each shape fills with the fill brush and then strokes with the pen.
#pragma once

#include <cstdint>
#include <span>

#include "view/backend/draw/context.h"
#include "view/backend/draw/figure.h"

namespace zub::draw {

void box(Context& context, Point a, Point b, double radius);
// Exactly two points: one segment; more: an open polyline.
void line(Context& context, std::span<const Point> points);
void polygon(Context& context, std::span<const Point> points);  // closed; a triangle too
void circle(Context& context, Point centre, double rx, double ry);
void ellipse(Context& context, Point top_left, Point size);
void arc(Context& context, Point centre, Point radii, double start, double sweep, bool closed);
void curve(Context& context, std::span<const Point> points);  // 3: quadratic, 4: cubic
void spline(Context& context, std::span<const Point> points, bool closed);

// ---- Paths built by the shape sub-dialect ----------------------------------------------------

struct Path {
    Figure figure;      // what is built so far
    bool clip = false;  // building a clip geometry
    Point current;      // the current point
    bool control_valid = false;
    Point control;  // the last control point, for smooth curves
};
void path_begin(Context& context, Path& path, bool clip);
void path_move(Context& context, Path& path, Point to);
void path_line(Context& context, Path& path, Point to);
void path_cubic(Context& context, Path& path, Point c1, Point c2, Point to);
void path_quadratic(Context& context, Path& path, Point control, Point to);
// An elliptical arc to `to`: radii, rotation in degrees, clockwise sweep, large arc.
void path_arc(Context& context, Path& path, Point to, double rx, double ry, double rotation, bool sweep, bool large);
void path_close(Context& context, Path& path);
// Ends the figure and paints it (a shape) or clips to it (a clip).
void path_end(Context& context, Path& path);

// ---- Images, clips, shadows ------------------------------------------------------------------

// Pixels of an image for drawing: premultiplied ARGB32, or null when Cairo cannot hold them
// (a side above 32767). The caller destroys it.
cairo_surface_t* surface_of_image(const Cell& image);

struct Crop {
    bool on = false;
    Point offset, size;
};
// The image at no point (origin), one point (its own size), two (stretched into the box), three
// (the parallelogram they span, its fourth corner completed) or four corners (a perspective
// mapping; corners that make no convex quadrilateral draw nothing).
void image(Context& context, cairo_surface_t* source, std::span<const Point> points, const Crop& crop);

void clip_box(Context& context, Point a, Point b);

void shadow_add(Context& context, const Shadow& shadow);
void shadow_off(Context& context);

}  // namespace zub::draw
