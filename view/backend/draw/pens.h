// Pens, fills and strokes of the draw context: solid colours, gradients (explicit or fitted to
// each shape), image brushes, the stroke style, anti-aliasing and the transformations of the
// drawing or of a brush. Painting a path with them is here too.
#pragma once

#include <vector>

#include "view/backend/draw/context.h"
#include "view/backend/draw/figure.h"

namespace zub::draw {

void set_pen_colour(Context& context, Colour colour);
void set_fill_colour(Context& context, Colour colour);
void pen_off(Context& context);
void fill_off(Context& context);
// A width of 0 hides the stroke until another width is set.
void set_line_width(Context& context, double width);
void set_line_join(Context& context, Join join);
void set_line_cap(Context& context, Cap cap);
void set_dashes(Context& context, std::vector<double> dashes);
void set_anti_alias(Context& context, bool on);

// A gradient as the dialect reads it. Without geometry it is fitted to each shape.
struct Gradient {
    Shade shade = Shade::linear;
    std::vector<Stop> stops;  // offsets already resolved
    bool geometry = false;
    double x1 = 0, y1 = 0, x2 = 0, y2 = 0;  // linear: start, end; radial, diamond: centre, (unused)
    double radius = 0;                      // radial, diamond
    double fx = 0, fy = 0;                  // focal point, when `focal`
    bool focal = false;
    cairo_extend_t spread = CAIRO_EXTEND_PAD;
};
void set_gradient(Context& context, bool fill, const Gradient& gradient);
// The older form: offset, colour range start and stop, angle and scale factors.
void set_range_gradient(Context& context, bool fill, Shade shade, double ox, double oy, double start, double stop,
                        double angle, double sx, double sy, std::vector<Stop> stops);

enum class Tile : uint8_t { tile, flip_x, flip_y, flip_xy, clamp };
// An image brush over the pixels of `source` (premultiplied ARGB32, taken by reference) from
// start to end, clamped to its size. A source that cannot be used turns the pen or fill off.
void set_image_brush(Context& context, bool fill, cairo_surface_t* source, double sx, double sy, double ex, double ey,
                     Tile tile);

// What a transformation applies to.
enum class Target : uint8_t { drawing, pen, fill };
// Applies m before the current transformation of the target (the new one works in the space the
// earlier ones set up). A solid or absent brush is left alone.
void transform(Context& context, Target target, const Matrix& m);
void reset_matrix(Context& context, Target target);
void invert_matrix(Context& context, Target target);

// Fills then strokes the figure with the context's brushes, fitted ones to the box.
void paint(Context& context, const Figure& figure, const Bounds& box);
// The same with the figure's own box.
void paint(Context& context, const Figure& figure);
// Sets the stroke width, joins, caps and dashes of the context on a Cairo context.
void apply_stroke(cairo_t* cr, const State& state);
// Sets the brush as the source of cr for a shape in `box`; false when it paints nothing.
bool apply_brush(cairo_t* cr, const Brush& brush, const Bounds& box);

}  // namespace zub::draw
