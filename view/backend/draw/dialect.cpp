// The draw dialect interpreter. A walk keeps the block's node and its position, never a cell
// pointer: a set-word stores a value (which may collect or run an on-change handler), so every
// read goes back to the buffer and checks the tail again.
#include "view/backend/draw/dialect.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/error_value.h"
#include "datatypes/image.h"
#include "datatypes/object.h"
#include "datatypes/pair.h"
#include "datatypes/point.h"
#include "datatypes/string.h"
#include "datatypes/tuple.h"
#include "datatypes/word.h"
#include "evaluator/stack.h"
#include "runtime/cycles.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/symbol.h"
#include "system/output.h"
#include "view/backend/draw/pens.h"
#include "view/backend/draw/shapes.h"
#include "view/backend/draw/text.h"

namespace zub::draw {
namespace {

enum class W : uint16_t {
#define DRAW_WORD(name, spelling) name,
#include "view/backend/draw/words.def"
    count
};

constexpr const char* kSpellings[] = {
#define DRAW_WORD(name, spelling) spelling,
#include "view/backend/draw/words.def"
};

symbol::Id g_ids[static_cast<size_t>(W::count)];  // canonical ids
std::vector<uint8_t> g_command;                   // canonical id -> W + 1 of a command, else 0

symbol::Id id(W w) { return g_ids[static_cast<size_t>(w)]; }

// The command a canonical symbol names, or W::count.
W command_of(symbol::Id canonical) {
    return canonical < g_command.size() && g_command[canonical] ? static_cast<W>(g_command[canonical] - 1) : W::count;
}

bool is_word(const Cell& c) { return cell::is(c, TypeId::word); }
symbol::Id canonical(const Cell& word) { return symbol::resolve(word::symbol_of(word)); }
bool is_word(const Cell& c, W w) { return is_word(c) && canonical(c) == id(w); }

// The value a word refers to, or unset when it has none to read.
Cell value_of(const Cell& word) {
    const Cell* slot = context::slot_of(word);
    return slot ? *slot : cell::unset();
}

bool is_point(const Cell& c) { return cell::is(c, TypeId::pair) || cell::is(c, TypeId::point2D); }
bool is_number(const Cell& c) { return cell::is(c, TypeId::integer) || cell::is(c, TypeId::float_); }
bool is_scale(const Cell& c) { return is_number(c) || cell::is(c, TypeId::percent); }
bool is_colour(const Cell& c) {
    return cell::is(c, TypeId::tuple) || (is_word(c) && cell::is(value_of(c), TypeId::tuple));
}

double number_of(const Cell& c) { return cell::is(c, TypeId::integer) ? cell::as_integer(c) : cell::as_float(c); }

Colour colour_of(const Cell& c) {
    const Cell t = cell::is(c, TypeId::tuple) ? c : value_of(c);
    uint8_t b[tuple::kMaxBytes];
    tuple::bytes(t, b);
    const uint32_t transparency = tuple::count(t) >= 4 ? b[3] : 0;
    return b[0] | b[1] << 8 | b[2] << 16 | transparency << 24;
}

bool silent() {
    const NodeId global = context::global();
    const int32_t at = context::find_word(global, id(W::system), true);
    if (at < 0) return false;
    const Cell* system = context::value_at(global, static_cast<uint32_t>(at));
    if (!system || !cell::is(*system, TypeId::object)) return false;
    const Cell view = object::select_word(*system, id(W::view));
    if (!cell::is(view, TypeId::object)) return false;
    return cell::truthy(object::select_word(view, id(W::silent_q)));
}

// Prints a dialect error as the console shows errors, for a paint that must not raise.
void print_error(ErrorId error, const Cell& arg) {
    const Cell* value = stack::push(error_value::create(error, &arg, 1));
    const Cell* text = stack::push(string::make(256));
    (void)error_value::form(*value, cell::series_node(*text), 4000);
    output::notify_value_hooks(*text, true);
    stack::pop(2);
}

// One block being walked: its node and the position of the cell in hand.
struct Walk {
    Context& context;
    NodeId node;
    uint32_t pos;
    TypeId type;  // of the block value walked

    uint32_t tail() const { return memory::buffer(node)->used() / sizeof(Cell); }
    bool has(uint32_t at) const { return at < tail(); }
    // The cell at a position; unset past the tail.
    Cell at(uint32_t at) const { return has(at) ? memory::buffer(node)->cells()[at] : cell::unset(); }
    Cell next() const { return at(pos + 1); }

    // Reports bad input at a position: raised, printed, or dropped silently.
    [[noreturn]] void fail(uint32_t at) const { fail_with(ErrorId::draw_invalid, cell::series(type, node, at)); }
    [[noreturn]] void fail_with(ErrorId error, const Cell& arg) const {
        if (silent()) throw StopDrawing{};
        if (context.catch_errors) throw StopDrawing{true, error, arg};
        error::fire(error, arg);
    }

    // ---- Required and optional arguments -----------------------------------------------------

    Point point() {
        ++pos;
        const Cell c = at(pos);
        if (!is_point(c)) fail(pos);
        return point_of(c, pos);
    }
    Point point_of(const Cell& c, uint32_t where) const {
        Point p;
        if (cell::is(c, TypeId::pair)) {
            p = {static_cast<double>(pair::x(c)), static_cast<double>(pair::y(c))};
        } else {
            p = {point::coordinate(c, 0), point::coordinate(c, 1)};
            if (!std::isfinite(p.x) || !std::isfinite(p.y)) fail(where);
        }
        return p;
    }
    bool optional_point(Point& p) {
        if (!is_point(next())) return false;
        p = point();
        return true;
    }
    // Every point that follows.
    std::vector<Point> points() {
        std::vector<Point> out;
        Point p;
        while (optional_point(p)) out.push_back(p);
        return out;
    }
    double number() {
        ++pos;
        const Cell c = at(pos);
        if (!is_number(c)) fail(pos);
        return finite(number_of(c));
    }
    bool optional_number(double& v) {
        if (!is_number(next())) return false;
        v = number();
        return true;
    }
    double scale() {
        ++pos;
        const Cell c = at(pos);
        if (!is_scale(c)) fail(pos);
        return finite(number_of(c));
    }
    double finite(double v) const {
        if (!std::isfinite(v)) fail(pos);
        return v;
    }
    int32_t integer() {
        ++pos;
        const Cell c = at(pos);
        if (!cell::is(c, TypeId::integer)) fail(pos);
        return cell::as_integer(c);
    }
    Cell typed(TypeId t) {
        ++pos;
        const Cell c = at(pos);
        if (!cell::is(c, t)) fail(pos);
        return c;
    }
    // A required word; its canonical symbol.
    symbol::Id word() { return canonical(typed(TypeId::word)); }
    bool optional_word(W w) {
        if (!is_word(next(), w)) return false;
        ++pos;
        return true;
    }
    bool optional_block() { return cell::is(next(), TypeId::block); }
    Colour colour() {
        ++pos;
        const Cell c = at(pos);
        if (!is_colour(c)) fail(pos);
        return colour_of(c);
    }
    // A required value of the type, written as it is or as a word that refers to one.
    Cell value(TypeId t) {
        ++pos;
        Cell c = at(pos);
        if (is_word(c)) c = value_of(c);
        if (!cell::is(c, t)) fail(pos);
        return c;
    }
    // The optional 'pen or 'fill-pen after a transformation.
    Target target() {
        const Cell c = next();
        if (!cell::is(c, TypeId::lit_word)) return Target::drawing;
        const symbol::Id s = canonical(c);
        if (s != id(W::pen) && s != id(W::fill_pen)) return Target::drawing;
        ++pos;
        return s == id(W::pen) ? Target::pen : Target::fill;
    }
};

void walk(Context& context, Cell block);
void walk_shape(Context& context, Cell block, Path& path);

// ---- Pens ------------------------------------------------------------------------------------

// Colour stops: at least two colours, each optionally followed by a float! offset.
std::vector<Stop> stops(Walk& w) {
    struct Read {
        Colour colour;
        bool explicit_offset;
        double offset;
    };
    std::vector<Read> read;
    while (read.empty() || is_colour(w.next())) {
        const Colour c = w.colour();
        Read r{c, false, 0};
        if (cell::is(w.next(), TypeId::float_)) {
            ++w.pos;
            r.explicit_offset = true;
            r.offset = w.finite(cell::as_float(w.at(w.pos)));
        }
        read.push_back(r);
    }
    if (read.size() < 2) w.fail(w.pos + 1);
    std::vector<Stop> out;
    const double step = 1.0 / static_cast<double>(read.size() - 1);
    double running = 0;
    for (const Read& r : read) {
        if (r.explicit_offset) running = r.offset;
        out.push_back({running, rgba_of(r.colour)});
        if (!r.explicit_offset) running += step;
    }
    return out;
}

Tile tile_mode(Walk& w) {
    static constexpr W modes[] = {W::tile, W::flip_x, W::flip_y, W::flip_xy, W::clamp};
    for (int i = 0; i < 5; ++i)
        if (w.optional_word(modes[i])) return static_cast<Tile>(i);
    return Tile::tile;
}

void gradient(Walk& w, Shade shade, bool fill) {
    if (is_point(w.next())) {
        // The older form: offset, colour range, then angle and scale factors.
        const Point o = w.point();
        const double start = w.integer(), stop = w.integer();
        double angle = 0, sx = 1, sy = 1;
        if (w.optional_number(angle) && w.optional_number(sx)) w.optional_number(sy);
        std::vector<Stop> s = stops(w);
        set_range_gradient(w.context, fill, shade, o.x, o.y, start, stop, angle, sx, sy, std::move(s));
        return;
    }
    Gradient g;
    g.shade = shade;
    g.stops = stops(w);
    Point a, b, focal;
    switch (shade) {
        case Shade::linear:
            if (w.optional_point(a)) {
                b = w.point();
                g.geometry = true;
                g.x1 = a.x, g.y1 = a.y, g.x2 = b.x, g.y2 = b.y;
            }
            break;
        case Shade::radial:
            if (w.optional_point(a)) {
                g.geometry = true;
                g.x1 = a.x, g.y1 = a.y;
                g.radius = w.number();
                if (w.optional_point(focal)) g.focal = true, g.fx = focal.x, g.fy = focal.y;
            }
            break;
        default:
            // A diamond spans its upper and lower points: centred on the upper one, reaching the
            // lower one.
            if (w.optional_point(a)) {
                b = w.point();
                g.geometry = true;
                g.x1 = a.x, g.y1 = a.y;
                g.radius = std::hypot(b.x - a.x, b.y - a.y);
                if (w.optional_point(focal)) g.focal = true, g.fx = focal.x, g.fy = focal.y;
            }
            break;
    }
    if (w.optional_word(W::pad)) g.spread = CAIRO_EXTEND_PAD;
    else if (w.optional_word(W::repeat)) g.spread = CAIRO_EXTEND_REPEAT;
    else if (w.optional_word(W::reflect)) g.spread = CAIRO_EXTEND_REFLECT;
    set_gradient(w.context, fill, g);
}

// The drawing of a pattern's block into a tile, which then becomes an image brush. The tile is
// never larger than the target (nor than Cairo draws on): a larger one could show no more.
void pattern_brush(Walk& w, bool fill) {
    const Point size = w.point();
    Point start{0, 0}, end = size;
    if (w.optional_point(start)) w.optional_point(end);
    const Tile tile = tile_mode(w);
    const Cell block = w.typed(TypeId::block);
    Context& c = w.context;
    const auto side = [](double v, int32_t limit) {
        return static_cast<int32_t>(std::clamp(std::ceil(v), 0.0, static_cast<double>(limit)));
    };
    const int32_t pw = side(size.x, std::max(c.device.width, 1)), ph = side(size.y, std::max(c.device.height, 1));
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, pw, ph);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS || pw == 0 || ph == 0) {
        cairo_surface_destroy(surface);
        if (fill) fill_off(c);
        else pen_off(c);
        return;
    }
    const State saved = c.state;
    const uint32_t saved_clips = c.clip_count;
    cairo_t* const saved_cr = c.cr;
    const Device saved_device = c.device;
    c.device = Device{surface, pw, ph, 0};
    c.cr = cairo_create(surface);
    cairo_set_fill_rule(c.cr, CAIRO_FILL_RULE_EVEN_ODD);
    cairo_set_antialias(c.cr, c.state.anti_alias ? CAIRO_ANTIALIAS_DEFAULT : CAIRO_ANTIALIAS_NONE);
    c.state.matrix = identity();
    const auto restore = [&] {
        cairo_destroy(c.cr);
        c.cr = saved_cr;
        c.device = saved_device;
        c.state = saved;
        c.clip_count = saved_clips;
    };
    try {
        walk(c, block);
    } catch (...) {
        restore();
        cairo_surface_destroy(surface);
        throw;
    }
    restore();
    cairo_surface_flush(surface);
    set_image_brush(c, fill, surface, start.x, start.y, end.x, end.y, tile);
    cairo_surface_destroy(surface);
}

// The pixels of an image value for drawing; the target itself gives what is drawn on it so far.
cairo_surface_t* drawable_image(const Walk& w, const Cell& image) {
    const Context& c = w.context;
    if (c.device.image && cell::series_node(image) == c.device.image) {
        cairo_surface_flush(c.device.surface);
        cairo_surface_t* copy =
            cairo_surface_create_similar_image(c.device.surface, CAIRO_FORMAT_ARGB32, c.device.width, c.device.height);
        cairo_t* cr = cairo_create(copy);
        cairo_set_source_surface(cr, c.device.surface, 0, 0);
        cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
        cairo_paint(cr);
        cairo_destroy(cr);
        return copy;
    }
    return surface_of_image(image);
}

void bitmap_brush(Walk& w, bool fill) {
    ++w.pos;
    const Cell name = w.at(w.pos);
    if (!is_word(name)) w.fail(w.pos);
    const Cell image = value_of(name);
    if (!cell::is(image, TypeId::image)) w.fail(w.pos);
    Point start{0, 0};
    Point end{static_cast<double>(image::width(image)), static_cast<double>(image::height(image))};
    if (w.optional_point(start)) w.optional_point(end);
    const Tile tile = tile_mode(w);
    cairo_surface_t* source = drawable_image(w, image);
    if (!source) {
        if (fill) fill_off(w.context);
        else pen_off(w.context);
        return;
    }
    set_image_brush(w.context, fill, source, start.x, start.y, end.x, end.y, tile);
    cairo_surface_destroy(source);
}

void pen_value(Walk& w, bool fill) {
    ++w.pos;
    const Cell c = w.at(w.pos);
    if (is_word(c)) {
        const symbol::Id s = canonical(c);
        if (s == id(W::off)) {
            if (fill) fill_off(w.context);
            else pen_off(w.context);
            return;
        }
        if (s == id(W::linear)) return gradient(w, Shade::linear, fill);
        if (s == id(W::radial)) return gradient(w, Shade::radial, fill);
        if (s == id(W::diamond)) return gradient(w, Shade::diamond, fill);
        if (s == id(W::pattern)) return pattern_brush(w, fill);
        if (s == id(W::bitmap)) return bitmap_brush(w, fill);
    }
    if (!is_colour(c)) w.fail(w.pos);
    if (fill) set_fill_colour(w.context, colour_of(c));
    else set_pen_colour(w.context, colour_of(c));
}

// ---- Nested blocks ---------------------------------------------------------------------------

// The drawing state saved for a nested block and restored when it ends, by an error too.
class Nested {
  public:
    explicit Nested(Context& context) : context_(context) { state_push(context_, saved_); }
    ~Nested() { state_pop(context_, saved_); }
    Nested(const Nested&) = delete;
    Nested& operator=(const Nested&) = delete;

  private:
    Context& context_;
    SavedState saved_;
};

// A transformation, in force for the rest of the drawing or, before a block, for that block.
void transformation(Walk& w, Target target, const Matrix& m) {
    if (!w.optional_block()) {
        transform(w.context, target, m);
        return;
    }
    const Cell block = w.typed(TypeId::block);
    Nested nested(w.context);
    transform(w.context, target, m);
    walk(w.context, block);
}

void clip_command(Walk& w) {
    const Cell first = w.next();
    Point a, b;
    Cell shape = cell::none();
    if (cell::is(first, TypeId::block)) {
        shape = w.typed(TypeId::block);
    } else {
        a = w.point();
        b = w.point();
    }
    static constexpr W modes[] = {W::replace, W::intersect, W::union_, W::xor_, W::exclude};
    for (W mode : modes)
        if (w.optional_word(mode)) break;  // every clip intersects: the mode changes nothing
    const auto apply = [&] {
        if (cell::is(shape, TypeId::block)) {
            Path path;
            path_begin(w.context, path, true);
            walk_shape(w.context, shape, path);
            path_end(w.context, path);
        } else {
            clip_box(w.context, a, b);
        }
    };
    if (!w.optional_block()) {
        apply();
        return;
    }
    const Cell block = w.typed(TypeId::block);
    Nested nested(w.context);
    apply();
    walk(w.context, block);
}

void image_command(Walk& w) {
    const Cell image = w.value(TypeId::image);
    std::vector<Point> points;
    Point p;
    while (w.optional_point(p)) {
        if (points.size() == 4) w.fail(w.pos);
        points.push_back(p);
    }
    if (is_colour(w.next())) (void)w.colour();  // a key colour: accepted, not used
    Crop crop;
    if (!w.optional_word(W::border) && w.optional_word(W::crop)) {
        crop.on = true;
        crop.offset = w.point();
        crop.size = w.point();
    }
    cairo_surface_t* source = drawable_image(w, image);
    if (!source) error::fire(ErrorId::no_memory);
    draw::image(w.context, source, points, crop);
    cairo_surface_destroy(source);
}

void shadow_command(Walk& w) {
    if (w.optional_word(W::off)) {
        shadow_off(w.context);
        return;
    }
    const Cell offset = w.typed(TypeId::pair);
    Shadow s;
    s.x = pair::x(offset);
    s.y = pair::y(offset);
    if (cell::is(w.next(), TypeId::integer)) {
        s.blur = w.integer();
        if (cell::is(w.next(), TypeId::integer)) s.spread = w.integer();
    }
    const Cell c = w.next();
    if (cell::is(c, TypeId::tuple) || is_word(c)) s.colour = w.colour();
    s.inset = w.optional_word(W::inset);
    shadow_add(w.context, s);
}

void matrix_command(Walk& w, Target target) {
    ++w.pos;
    const Cell block = w.at(w.pos);
    if (!cell::is(block, TypeId::block)) w.fail(w.pos);
    const NodeId node = cell::series_node(block);
    const uint32_t from = cell::series_index(block);
    const uint32_t tail = memory::buffer(node)->used() / sizeof(Cell);
    double v[6];
    if (from > tail || tail - from != 6) w.fail(w.pos);
    for (int i = 0; i < 6; ++i) {
        const Cell c = memory::buffer(node)->cells()[from + i];
        if (!is_number(c) || !std::isfinite(number_of(c))) w.fail(w.pos);
        v[i] = number_of(c);
    }
    Matrix m;
    cairo_matrix_init(&m, v[0], v[1], v[2], v[3], v[4], v[5]);
    transformation(w, target, m);
}

// ---- Commands --------------------------------------------------------------------------------

// At least `least` points; too few is an error at the cell after the last.
std::vector<Point> at_least(Walk& w, size_t least) {
    std::vector<Point> p = w.points();
    if (p.size() < least) w.fail(w.pos + 1);
    return p;
}

void command(Walk& w, W which) {
    Context& c = w.context;
    switch (which) {
        case W::pen: pen_value(w, false); break;
        case W::fill_pen: pen_value(w, true); break;
        case W::box: {
            const Point a = w.point(), b = w.point();
            double radius = 0;
            w.optional_number(radius);
            box(c, a, b, radius);
            break;
        }
        case W::line: line(c, at_least(w, 2)); break;
        case W::line_width: set_line_width(c, w.number()); break;
        case W::line_join: {
            const symbol::Id s = w.word();
            if (s == id(W::miter)) set_line_join(c, Join::miter);
            else if (s == id(W::miter_bevel)) set_line_join(c, Join::miter_bevel);
            else if (s == id(W::round)) set_line_join(c, Join::round);
            else if (s == id(W::bevel)) set_line_join(c, Join::bevel);
            else w.fail(w.pos);
            break;
        }
        case W::line_cap: {
            const symbol::Id s = w.word();
            set_line_cap(c, s == id(W::square) ? Cap::square : s == id(W::round) ? Cap::round : Cap::flat);
            break;
        }
        case W::line_pattern: {
            std::vector<double> dashes;
            while (cell::is(w.next(), TypeId::integer)) dashes.push_back(w.integer());
            set_dashes(c, std::move(dashes));
            break;
        }
        case W::triangle: {
            const Point p[3] = {w.point(), w.point(), w.point()};
            polygon(c, p);
            break;
        }
        case W::polygon: polygon(c, at_least(w, 3)); break;
        case W::circle: {
            const Point centre = w.point();
            const double rx = w.number();
            double ry = rx;
            w.optional_number(ry);
            circle(c, centre, rx, ry);
            break;
        }
        case W::ellipse: {
            const Point a = w.point(), size = w.point();
            ellipse(c, a, size);
            break;
        }
        case W::anti_alias: set_anti_alias(c, w.word() != id(W::off)); break;
        case W::font: {
            select_font(c, w.value(TypeId::object));
            break;
        }
        case W::text: {
            const Point at = w.point();
            ++w.pos;
            const Cell t = w.at(w.pos);
            if (!cell::is(t, TypeId::string) && !cell::is(t, TypeId::object)) w.fail(w.pos);
            draw_text(c, at, t);
            break;
        }
        case W::arc: {
            const Point centre = w.point(), radii = w.point();
            const double start = w.number(), sweep = w.number();
            arc(c, centre, radii, start, sweep, w.optional_word(W::closed));
            break;
        }
        case W::curve: {
            Point p[4] = {w.point(), w.point(), w.point()};
            const bool cubic = w.optional_point(p[3]);
            curve(c, std::span<const Point>(p, cubic ? 4 : 3));
            break;
        }
        case W::spline: {
            const std::vector<Point> p = at_least(w, 2);
            spline(c, p, w.optional_word(W::closed));
            break;
        }
        case W::image: image_command(w); break;
        case W::shadow: shadow_command(w); break;
        case W::clip: clip_command(w); break;
        case W::shape: {
            const Cell block = w.typed(TypeId::block);
            Path path;
            path_begin(c, path, false);
            walk_shape(c, block, path);
            path_end(c, path);
            break;
        }
        case W::rotate: {
            const Target t = w.target();
            const double angle = w.number();
            Point centre;
            w.optional_point(centre);
            transformation(w, t, rotation(angle, centre.x, centre.y));
            break;
        }
        case W::scale: {
            const Target t = w.target();
            const double sx = w.scale(), sy = w.scale();
            Point centre;
            w.optional_point(centre);
            transformation(w, t, scaling(sx, sy, centre.x, centre.y));
            break;
        }
        case W::translate: {
            const Target t = w.target();
            const Point by = w.point();
            transformation(w, t, translation(by.x, by.y));
            break;
        }
        case W::skew: {
            const Target t = w.target();
            const double x = w.number();
            double y = 0;
            w.optional_number(y);
            Point centre;
            w.optional_point(centre);
            transformation(w, t, skewing(x, y, centre.x, centre.y));
            break;
        }
        case W::transform: {
            const Target t = w.target();
            Point centre;
            w.optional_point(centre);
            const double angle = w.number();
            const double sx = w.scale(), sy = w.scale();
            const Point by = w.point();
            // Rotation, then scaling, then translation, each before the ones in force.
            const Matrix m =
                then(translation(by.x, by.y), then(scaling(sx, sy, 0, 0), rotation(angle, centre.x, centre.y)));
            transformation(w, t, m);
            break;
        }
        case W::push: {
            const Cell block = w.typed(TypeId::block);
            Nested nested(c);
            walk(c, block);
            break;
        }
        case W::matrix: matrix_command(w, w.target()); break;
        case W::reset_matrix: reset_matrix(c, w.target()); break;
        case W::invert_matrix: invert_matrix(c, w.target()); break;
        default: w.fail(w.pos);
    }
}

// Sets the word to the walked block at the cell after the set-word.
void mark_position(Walk& w) {
    const Cell word = w.at(w.pos);
    context::store(word, cell::series(w.type, w.node, w.pos + 1));
}

// ---- The shape sub-dialect -------------------------------------------------------------------

void shape_command(Walk& w, Path& path, const Cell& word) {
    Context& c = w.context;
    const bool relative = cell::is(word, TypeId::lit_word);
    const symbol::Id s = canonical(word);
    const auto place = [&](Point p, Point from) { return relative ? Point{from.x + p.x, from.y + p.y} : p; };
    if (s == id(W::move)) {
        path_move(c, path, place(w.point(), path.current));
    } else if (s == id(W::line)) {
        for (const Point& p : at_least(w, 1)) path_line(c, path, place(p, path.current));
    } else if (s == id(W::hline)) {
        const double x = w.number();
        path_line(c, path, {relative ? path.current.x + x : x, path.current.y});
    } else if (s == id(W::vline)) {
        const double y = w.number();
        path_line(c, path, {path.current.x, relative ? path.current.y + y : y});
    } else if (s == id(W::arc)) {
        const Point to = place(w.point(), path.current);
        const double rx = w.number(), ry = w.number(), angle = w.number();
        bool sweep = false, large = false;
        for (int i = 0; i < 2; ++i) {
            if (!sweep && w.optional_word(W::sweep)) sweep = true;
            else if (!large && w.optional_word(W::large)) large = true;
        }
        path_arc(c, path, to, rx, ry, angle, sweep, large);
    } else if (s == id(W::curve)) {
        const std::vector<Point> p = at_least(w, 3);
        for (size_t i = 0; i + 3 <= p.size(); i += 3) {
            const Point from = path.current;
            path_cubic(c, path, place(p[i], from), place(p[i + 1], from), place(p[i + 2], from));
        }
    } else if (s == id(W::curv)) {
        const std::vector<Point> p = at_least(w, 2);
        for (size_t i = 0; i + 2 <= p.size(); i += 2) {
            const Point from = path.current;
            const Point c1 =
                path.control_valid ? Point{2 * from.x - path.control.x, 2 * from.y - path.control.y} : from;
            path_cubic(c, path, c1, place(p[i], from), place(p[i + 1], from));
        }
    } else if (s == id(W::qcurve)) {
        const std::vector<Point> p = at_least(w, 2);
        for (size_t i = 0; i + 2 <= p.size(); i += 2) {
            const Point from = path.current;
            path_quadratic(c, path, place(p[i], from), place(p[i + 1], from));
        }
    } else if (s == id(W::qcurv)) {
        for (const Point& p : at_least(w, 1)) {
            const Point from = path.current;
            const Point control =
                path.control_valid ? Point{2 * from.x - path.control.x, 2 * from.y - path.control.y} : from;
            path_quadratic(c, path, control, place(p, from));
        }
    } else if (s == id(W::close)) {
        path_close(c, path);
    } else {
        w.fail(w.pos);
    }
}

// Walks a block's values, each handed to `each`: a block drawn from inside itself is
// draw-infinite.
template <typename Each>
void walk_values(Context& context, Cell block, Each each) {
    const NodeId node = cell::series_node(block);
    Walk w{context, node, cell::series_index(block), cell::type(block)};
    if (cycles::find(node)) w.fail_with(ErrorId::draw_infinite, block);
    cycles::Guard guard(node);
    const stack::Rooted keep(block);  // a handler run by a set-word may drop it from its parent
    for (; w.has(w.pos); ++w.pos) each(w, w.at(w.pos));
}

void walk_shape(Context& context, Cell block, Path& path) {
    walk_values(context, block, [&](Walk& w, const Cell c) {
        switch (cell::type(c)) {
            case TypeId::word:
            case TypeId::lit_word: shape_command(w, path, c); break;
            case TypeId::set_word: mark_position(w); break;
            case TypeId::block: walk_shape(context, c, path); break;
            default: w.fail(w.pos);
        }
    });
}

void walk(Context& context, Cell block) {
    walk_values(context, block, [&](Walk& w, const Cell c) {
        switch (cell::type(c)) {
            case TypeId::word: {
                const W which = command_of(canonical(c));
                if (which == W::count) w.fail(w.pos);
                command(w, which);
                break;
            }
            case TypeId::set_word: mark_position(w); break;
            case TypeId::block: walk(context, c); break;
            default: w.fail(w.pos);
        }
    });
}

// Image pixels (0xAARRGGBB, straight alpha) to and from Cairo's premultiplied form.
void load_pixels(const uint32_t* from, cairo_surface_t* surface, int32_t w, int32_t h) {
    uint8_t* to = cairo_image_surface_get_data(surface);
    const int32_t stride = cairo_image_surface_get_stride(surface);
    for (int32_t y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(to + static_cast<size_t>(y) * stride);
        for (int32_t x = 0; x < w; ++x) {
            const uint32_t p = from[static_cast<size_t>(y) * w + x], a = p >> 24;
            if (a == 255 || a == 0) {
                row[x] = a ? p : 0;
                continue;
            }
            const auto ch = [a](uint32_t c) { return (c * a + 127) / 255; };
            row[x] = a << 24 | ch((p >> 16) & 0xFF) << 16 | ch((p >> 8) & 0xFF) << 8 | ch(p & 0xFF);
        }
    }
    cairo_surface_mark_dirty(surface);
}

void store_pixels(cairo_surface_t* surface, uint32_t* to, int32_t w, int32_t h) {
    cairo_surface_flush(surface);
    const uint8_t* from = cairo_image_surface_get_data(surface);
    const int32_t stride = cairo_image_surface_get_stride(surface);
    for (int32_t y = 0; y < h; ++y) {
        const auto* row = reinterpret_cast<const uint32_t*>(from + static_cast<size_t>(y) * stride);
        for (int32_t x = 0; x < w; ++x) {
            const uint32_t p = row[x], a = p >> 24;
            if (a == 255 || a == 0) {
                to[static_cast<size_t>(y) * w + x] = a ? p : 0;
                continue;
            }
            const auto ch = [a](uint32_t c) { return std::min<uint32_t>(255, (c * 255 + a / 2) / a); };
            to[static_cast<size_t>(y) * w + x] =
                a << 24 | ch((p >> 16) & 0xFF) << 16 | ch((p >> 8) & 0xFF) << 8 | ch(p & 0xFF);
        }
    }
}

}  // namespace

void init_words() {
    g_command.clear();
    for (size_t i = 0; i < static_cast<size_t>(W::count); ++i) g_ids[i] = symbol::resolve(symbol::make(kSpellings[i]));
    for (size_t i = 0; i <= static_cast<size_t>(W::invert_matrix); ++i) {
        const symbol::Id s = g_ids[i];
        if (s >= g_command.size()) g_command.resize(s + 1, 0);
        g_command[s] = static_cast<uint8_t>(i + 1);
    }
}

void parse_draw(Context& context, Cell block) { walk(context, block); }

void draw_image(Cell image, Cell commands, bool catch_errors) {
    if (!cell::is(commands, TypeId::block) || block::length(commands) == 0) return;
    const int32_t w = static_cast<int32_t>(image::width(image)), h = static_cast<int32_t>(image::height(image));
    if (w == 0 || h == 0) return;
    if (w > kMaxSurfaceSide || h > kMaxSurfaceSide) error::fire(ErrorId::no_memory);
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(surface);
        error::fire(ErrorId::no_memory);
    }
    const NodeId node = cell::series_node(image);
    const uint64_t bytes = static_cast<uint64_t>(w) * h * 4;
    cairo_surface_flush(surface);
    load_pixels(image::pixels(image), surface, w, h);
    Context context;
    context.catch_errors = catch_errors;
    if (!begin(context, Device{surface, w, h, node})) {
        cairo_surface_destroy(surface);
        error::fire(ErrorId::no_memory);
    }
    // What was drawn stays, whether the walk ends well or not; the pixels are found afresh, as
    // drawing may have moved them.
    const auto finish = [&] {
        end(context);
        if (memory::buffer(node)->used() >= bytes) store_pixels(surface, image::pixels(image), w, h);
        cairo_surface_destroy(surface);
    };
    try {
        walk(context, commands);
    } catch (const StopDrawing& stop) {
        finish();
        if (stop.print) print_error(stop.error, stop.arg);
        return;
    } catch (...) {
        finish();
        throw;
    }
    finish();
}

void draw_paint(Context& context, Cell commands) {
    if (!cell::is(commands, TypeId::block)) return;
    try {
        walk(context, commands);
    } catch (const StopDrawing& stop) {
        if (stop.print) print_error(stop.error, stop.arg);
    }
}

void surface_pixels(cairo_surface_t* surface, uint32_t* to, int32_t w, int32_t h) { store_pixels(surface, to, w, h); }

}  // namespace zub::draw
