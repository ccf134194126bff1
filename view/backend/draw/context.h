// The draw engine's state: the device a drawing pass paints on (a Cairo image surface, for an
// image! now and for a window's backing surface later) and the draw context of one pass, with its
// pens, stroke, matrix, shadows and the path under construction. No display is needed.
#pragma once

#include <cairo.h>
#include <pango/pango.h>

#include <cstdint>
#include <vector>

#include "runtime/cell.h"

namespace zub::draw {

// ---- Device ----------------------------------------------------------------------------------

// What a drawing pass paints on. The surface is premultiplied ARGB32 and owned by whoever opened
// the pass; an image target keeps the image's node so that drawing the image into itself reads
// what was drawn so far.
struct Device {
    cairo_surface_t* surface = nullptr;  // the target
    int32_t width = 0, height = 0;       // its size in pixels
    NodeId image = 0;                    // the image! drawn into, or 0
};

// Cairo refuses image surfaces wider or taller than this.
inline constexpr int32_t kMaxSurfaceSide = 32767;

// ---- Colours and matrices --------------------------------------------------------------------

// A colour as the dialect gives it: 0xTTBBGGRR, T the transparency (0 opaque).
using Colour = uint32_t;

struct Rgba {
    double r = 0, g = 0, b = 0, a = 1;
};
Rgba rgba_of(Colour colour);

using Matrix = cairo_matrix_t;

Matrix identity();
// a then b: the point is mapped by a first.
Matrix then(const Matrix& a, const Matrix& b);
bool invertible(const Matrix& m);
// Rotation by degrees, scaling and skewing around a centre (0,0 for none).
Matrix rotation(double degrees, double cx, double cy);
Matrix scaling(double sx, double sy, double cx, double cy);
Matrix skewing(double x_degrees, double y_degrees, double cx, double cy);
Matrix translation(double dx, double dy);

// ---- Brushes ---------------------------------------------------------------------------------

enum class Kind : uint8_t {
    none = 0,      // no stroke or no fill
    solid = 1,     // one colour
    gradient = 2,  // a gradient with its own geometry, in drawing coordinates
    fitted = 3,    // a gradient spread over each shape's bounding box when it is drawn
    image = 4,     // a bitmap or pattern brush
};

enum class Shade : uint8_t { none, linear, radial, diamond };

struct Stop {
    double offset;
    Rgba colour;
};

// A stroke or fill brush. Copies share the Cairo pattern (each holds a reference).
struct Brush {
    Kind kind = Kind::none;
    Shade shade = Shade::none;           // gradient type, for fitting
    Rgba colour;                         // kind solid
    cairo_pattern_t* pattern = nullptr;  // kinds gradient and image, in brush space
    Matrix transform = identity();       // brush space to drawing space ('pen and 'fill-pen targets)
    std::vector<Stop> stops;             // kind fitted: the pattern is made per shape
    cairo_extend_t spread = CAIRO_EXTEND_PAD;

    Brush() = default;
    Brush(const Brush& other);
    Brush& operator=(const Brush& other);
    ~Brush();
    void release();  // back to no brush
};

// ---- Shadows ---------------------------------------------------------------------------------

struct Shadow {
    double x = 0, y = 0;  // offset
    double blur = 0;      // blur length; the deviation is blur / 1.879971
    double spread = 0;    // grows the shape on each side
    Colour colour = 0;    // opaque black unless given
    bool inset = false;   // kept; has no effect on the drawing
};

// ---- The draw context ------------------------------------------------------------------------

enum class Join : uint8_t { miter = 0, bevel = 1, round = 2, miter_bevel = 3 };
enum class Cap : uint8_t { flat = 0, square = 1, round = 2 };

// The fields that push and a nested block save and restore.
struct State {
    Brush pen, fill;
    Kind saved_pen_kind = Kind::none;  // the pen's kind while width 0 hides it
    double pen_width = 1.0;
    Join join = Join::miter;
    Cap cap = Cap::flat;
    std::vector<double> dashes;  // dash lengths in stroke widths; empty: solid
    bool anti_alias = true;
    Matrix matrix = identity();  // drawing space to device pixels
    bool shadow_mode = false;
    std::vector<Shadow> shadows;
};

// The text settings of a pass: the `font` command's description (a copy this pass owns; null
// until text needs one), its colour when the font locks one, and its decorations.
struct TextStyle {
    PangoFontDescription* font = nullptr;
    bool locked = false;  // the font's colour, not the pen's, paints text
    Rgba colour;
    bool underline = false, strike = false;
    double angle = 0;  // degrees counterclockwise, from the font
};

struct Context {
    Device device;
    TextStyle text;
    cairo_t* cr = nullptr;  // drawing on device.surface
    State state;
    uint32_t clip_count = 0;    // clips in force without a nested block; gone at the end of the pass
    bool catch_errors = false;  // a paint prints dialect errors instead of raising them
};

// Opens a drawing pass on the device: black pen, no fill, width 1, identity matrix; drawing is
// bounded by the surface. False when Cairo cannot draw on it.
bool begin(Context& context, const Device& device);
// Closes the pass: every clip and brush goes; the surface is flushed.
void end(Context& context);

// Puts the matrix in force; a matrix that maps onto a line or a point makes drawing invisible.
void apply_matrix(Context& context);
// Whether the matrix in force draws anything.
bool drawable(const Context& context);

// Saves the drawing state (fields and Cairo's matrix, clip and anti-alias) and restores it; each
// restore pairs with the save before it. The saved states form a stack of any depth.
struct SavedState {
    State state;
    uint32_t clip_count;
};
void state_push(Context& context, SavedState& saved);
void state_pop(Context& context, SavedState& saved);

}  // namespace zub::draw
