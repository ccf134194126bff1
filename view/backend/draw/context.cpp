// The drawing pass and its state: brushes that share Cairo patterns by reference, the matrix kept
// beside Cairo's (which refuses a matrix it cannot invert), and the saved states of push and of
// nested blocks.
#include "view/backend/draw/context.h"

#include <cmath>
#include <numbers>

namespace zub::draw {

Rgba rgba_of(Colour colour) {
    return {(colour & 0xFF) / 255.0, ((colour >> 8) & 0xFF) / 255.0, ((colour >> 16) & 0xFF) / 255.0,
            (255 - (colour >> 24)) / 255.0};
}

Matrix identity() {
    Matrix m;
    cairo_matrix_init_identity(&m);
    return m;
}

Matrix then(const Matrix& a, const Matrix& b) {
    Matrix r;
    cairo_matrix_multiply(&r, &a, &b);
    return r;
}

bool invertible(const Matrix& m) {
    const double det = m.xx * m.yy - m.yx * m.xy;
    return std::isfinite(det) && det != 0 && std::isfinite(m.x0) && std::isfinite(m.y0);
}

namespace {

double radians(double degrees) { return degrees * std::numbers::pi / 180.0; }

// m applied around a centre: move the centre to the origin, apply, move back.
Matrix around(const Matrix& m, double cx, double cy) {
    if (cx == 0 && cy == 0) return m;
    return then(then(translation(-cx, -cy), m), translation(cx, cy));
}

}  // namespace

Matrix translation(double dx, double dy) {
    Matrix m;
    cairo_matrix_init_translate(&m, dx, dy);
    return m;
}

Matrix rotation(double degrees, double cx, double cy) {
    // Exact quarter turns keep axis-aligned drawing crisp.
    const double turns = std::fmod(degrees, 360.0);
    double s, c;
    if (turns == 0) s = 0, c = 1;
    else if (turns == 90 || turns == -270) s = 1, c = 0;
    else if (turns == 180 || turns == -180) s = 0, c = -1;
    else if (turns == 270 || turns == -90) s = -1, c = 0;
    else s = std::sin(radians(degrees)), c = std::cos(radians(degrees));
    Matrix m;
    cairo_matrix_init(&m, c, s, -s, c, 0, 0);
    return around(m, cx, cy);
}

Matrix scaling(double sx, double sy, double cx, double cy) {
    Matrix m;
    cairo_matrix_init_scale(&m, sx, sy);
    return around(m, cx, cy);
}

Matrix skewing(double x_degrees, double y_degrees, double cx, double cy) {
    Matrix m;
    cairo_matrix_init(&m, 1, std::tan(radians(y_degrees)), std::tan(radians(x_degrees)), 1, 0, 0);
    return around(m, cx, cy);
}

// ---- Brush -----------------------------------------------------------------------------------

Brush::Brush(const Brush& other)
    : kind(other.kind),
      shade(other.shade),
      colour(other.colour),
      pattern(other.pattern ? cairo_pattern_reference(other.pattern) : nullptr),
      transform(other.transform),
      stops(other.stops),
      spread(other.spread) {}

Brush& Brush::operator=(const Brush& other) {
    if (this == &other) return *this;
    cairo_pattern_t* p = other.pattern ? cairo_pattern_reference(other.pattern) : nullptr;
    if (pattern) cairo_pattern_destroy(pattern);
    kind = other.kind;
    shade = other.shade;
    colour = other.colour;
    pattern = p;
    transform = other.transform;
    stops = other.stops;
    spread = other.spread;
    return *this;
}

Brush::~Brush() {
    if (pattern) cairo_pattern_destroy(pattern);
}

void Brush::release() {
    if (pattern) cairo_pattern_destroy(pattern);
    pattern = nullptr;
    kind = Kind::none;
    shade = Shade::none;
    transform = identity();
    stops.clear();
    spread = CAIRO_EXTEND_PAD;
}

// ---- The pass --------------------------------------------------------------------------------

bool begin(Context& context, const Device& device) {
    context.device = device;
    context.state = State{};
    context.state.pen.kind = Kind::solid;
    context.state.pen.colour = Rgba{0, 0, 0, 1};
    context.clip_count = 0;
    context.cr = cairo_create(device.surface);
    if (cairo_status(context.cr) != CAIRO_STATUS_SUCCESS) {
        cairo_destroy(context.cr);
        context.cr = nullptr;
        return false;
    }
    cairo_set_antialias(context.cr, CAIRO_ANTIALIAS_DEFAULT);
    cairo_set_miter_limit(context.cr, 10.0);
    // Paths fill by alternation; clip paths switch to winding for their own fill.
    cairo_set_fill_rule(context.cr, CAIRO_FILL_RULE_EVEN_ODD);
    // The surface bounds the drawing already: a clip to its size would only slow every shape.
    return true;
}

void end(Context& context) {
    if (!context.cr) return;
    cairo_destroy(context.cr);
    context.cr = nullptr;
    context.clip_count = 0;
    context.state = State{};
    if (context.text.font) pango_font_description_free(context.text.font);
    context.text = TextStyle{};
    cairo_surface_flush(context.device.surface);
}

bool drawable(const Context& context) { return invertible(context.state.matrix); }

void apply_matrix(Context& context) {
    if (invertible(context.state.matrix)) cairo_set_matrix(context.cr, &context.state.matrix);
}

void state_push(Context& context, SavedState& saved) {
    saved.state = context.state;
    saved.clip_count = context.clip_count;
    cairo_save(context.cr);
}

void state_pop(Context& context, SavedState& saved) {
    // Cairo's restore drops the clips set since the save, so the count comes back with them.
    cairo_restore(context.cr);
    context.state = saved.state;
    context.clip_count = saved.clip_count;
    apply_matrix(context);
}

}  // namespace zub::draw
