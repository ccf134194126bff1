// Faces to native windows. A face's window is named by the handle! that begins its `state`
// block; the window record points back at the face. The faces the draw engine draws (window,
// panel, base, rich-text, and for now every other type too) are painted into their window's
// surface at once when they are made or change: background colour (real alpha), image, text,
// then the `draw` block, or, for a base without one, a `drawing` event whose actor draws with
// draw-face. Children are composed over their parents, so translucent faces blend.
#include "view/backend/platform/views.h"

#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/event.h"
#include "datatypes/function.h"
#include "datatypes/image.h"
#include "datatypes/object.h"
#include "datatypes/pair.h"
#include "datatypes/point.h"
#include "datatypes/string.h"
#include "datatypes/tuple.h"
#include "datatypes/word.h"
#include "evaluator/native_args.h"
#include "evaluator/stack.h"
#include "runtime/error.h"
#include "runtime/unicode.h"
#include "view/backend/draw/context.h"
#include "view/backend/draw/dialect.h"
#include "view/backend/draw/shapes.h"
#include "view/backend/draw/text.h"
#include "view/backend/platform/camera.h"
#include "view/backend/platform/events.h"
#include "view/backend/platform/ime.h"
#include "view/backend/platform/loop.h"
#include "view/backend/platform/menus.h"
#include "view/backend/platform/platform.h"
#include "view/backend/platform/values.h"
#include "view/backend/platform/widgets.h"

namespace zub::platform::views {
namespace {

using native_args::Args;
using native_args::Plain;
using values::field;
using values::set_quiet;

// Facet positions in a face (the face model's order).
namespace facet {
constexpr uint32_t type = 0, offset = 1, size = 2, text = 3, image = 4, color = 5, menu = 6, data = 7, enabled = 8,
                   visible = 9, selected = 10, flags = 11, options = 12, pane = 14, state = 15, rate = 16, para = 18,
                   font = 19, draw = 22;
}  // namespace facet

// ---- Words -----------------------------------------------------------------------------------------

enum Word : uint8_t {
    w_window,
    w_panel,
    w_base,
    w_rich_text,
    w_screen,
    w_cursor,
    w_I_beam,
    w_hand,
    w_cross,
    w_resize_ns,
    w_resize_we,
    w_resize_ew,
    w_inserted,
    w_appended,
    w_poke,
    w_poked,
    w_put,
    w_moved,
    w_changed,
    w_pane,
    w_caret,
    w_count
};
constexpr const char* kWords[] = {
    "window", "panel", "base",      "rich-text", "screen",    "cursor",   "I-beam",
    "hand",   "cross", "resize-ns", "resize-we", "resize-ew", "inserted", "appended",
    "poke",   "poked", "put",       "moved",     "changed",   "pane",     "caret",
};
static_assert(std::size(kWords) == w_count);
symbol::Id g_words[w_count];

// The types of native controls, each with the maker that puts its GTK widget into the face's
// window (the widgets fill these in). A type without a maker yet is a drawn child showing its
// colour and text, so layouts holding it still show.
using WidgetMaker = void (*)(WindowId window, const Cell& face);
struct WidgetType {
    const char* name;
    WidgetMaker make;
};
constexpr WidgetType kWidgetTypes[] = {
    {"button", widgets::make},    {"toggle", widgets::make},    {"check", widgets::make},
    {"radio", widgets::make},     {"field", widgets::make},     {"area", widgets::make},
    {"text", widgets::make},      {"text-list", widgets::make}, {"drop-down", widgets::make},
    {"drop-list", widgets::make}, {"progress", widgets::make},  {"slider", widgets::make},
    {"scroller", widgets::make},  {"group-box", widgets::make}, {"tab-panel", widgets::make},
    {"camera", nullptr},          {"calendar", widgets::make},
};
symbol::Id g_widget_types[std::size(kWidgetTypes)];

// The flags facet's words and their bits (what the input filter and the frame read).
struct FlagBit {
    const char* word;
    uint32_t bit;
};
constexpr FlagBit kFlagBits[] = {
    {"all-over", 0x1},      {"focusable", 0x2},       {"tri-state", 0x20000},    {"scrollable", 0x40000},
    {"password", 0x80000},  {"no-sync", 0x100000},    {"fullscreen", 0x200000},  {"popup", 0x1000000},
    {"modal", 0x2000000},   {"resize", 0x4000000},    {"no-buttons", 0x8000000}, {"no-max", 0x10000000},
    {"no-min", 0x20000000}, {"no-title", 0x40000000}, {"no-border", 0x80000000},
};
constexpr uint32_t kFullscreen = 0x200000, kPopup = 0x1000000, kModal = 0x2000000, kResize = 0x4000000,
                   kNoTitle = 0x40000000, kNoBorder = 0x80000000;
symbol::Id g_flag_words[std::size(kFlagBits)];

symbol::Id canonical(const Cell& w) { return symbol::resolve(word::symbol_of(w)); }

bool is_any_word(const Cell& c) {
    const TypeId t = cell::type(c);
    return t == TypeId::word || t == TypeId::lit_word || t == TypeId::get_word || t == TypeId::set_word;
}
bool is_word(const Cell& c, Word w) { return is_any_word(c) && canonical(c) == g_words[w]; }
bool is_object(const Cell& c) { return cell::is(c, TypeId::object); }

// ---- Faces ---------------------------------------------------------------------------------------

bool has_type(const Cell& face, Word w) { return is_word(field(face, facet::type), w); }

// The window of a face: the handle that begins its state block, else (while make-view runs,
// before the front end keeps the handle) the window whose face it is.
WindowId window_of(const Cell& face) {
    const Cell state = field(face, facet::state);
    if (cell::is(state, TypeId::block) && block::length(state) > 0) {
        if (const WindowId id = window_from_handle(*block::head(state))) return id;
    }
    return is_object(face) ? window_of_face(face) : 0;
}

uint32_t flag_bits(const Cell& flags) {
    uint32_t bits = 0;
    const auto add = [&bits](const Cell& w) {
        if (!is_any_word(w)) return;
        for (size_t i = 0; i < std::size(kFlagBits); ++i)
            if (canonical(w) == g_flag_words[i]) bits |= kFlagBits[i].bit;
    };
    if (cell::is(flags, TypeId::block)) {
        for (uint32_t i = 0, n = block::length(flags); i < n; ++i)
            add(block::abs_at(flags, block::head_index(flags) + i));
    } else {
        add(flags);
    }
    return bits;
}

// The face's place in pixels: its offset (in the parent, or on the desktop for a window) and its
// size. A window of a negative or missing size is 200 units a side; any size of 0 is one pixel,
// as no native window can be empty.
Rect rect_of(const Cell& face) {
    double x = 0, y = 0, w = 0, h = 0;
    (void)point::xy(field(face, facet::offset), x, y);
    const bool sized = point::xy(field(face, facet::size), w, h);
    if (has_type(face, w_window)) {
        if (!sized || w < 0) w = 200;
        if (!sized || h < 0) h = 200;
    }
    return Rect{to_pixels(x), to_pixels(y), std::max(1, to_pixels(std::max(0.0, w))),
                std::max(1, to_pixels(std::max(0.0, h)))};
}

std::string utf8_of(const Cell& text) {
    if (!cell::is(text, TypeId::string)) return {};
    Cell copy = text;
    const unicode::Converted u = unicode::string_to_utf8(copy);
    return std::string(reinterpret_cast<const char*>(u.data), u.size);
}

draw::Rgba colour_of(const Cell& tuple) {
    uint8_t b[tuple::kMaxBytes];
    tuple::bytes(tuple, b);
    const uint32_t transparency = tuple::count(tuple) >= 4 ? b[3] : 0;
    return draw::rgba_of(b[0] | b[1] << 8 | b[2] << 16 | transparency << 24);
}

// ---- Painting ------------------------------------------------------------------------------------

struct Open {
    WindowId window;
    draw::Context* context;
    bool again;  // asked for anew while this paint ran
};
std::vector<Open> g_open;  // the paints in progress, innermost last

draw::Rgba g_panel{240 / 255.0, 240 / 255.0, 240 / 255.0, 1};  // the desktop's, once read

Open* open_paint(WindowId id) {
    for (auto it = g_open.rbegin(); it != g_open.rend(); ++it)
        if (it->window == id) return &*it;
    return nullptr;
}
draw::Context* open_context(WindowId id) {
    const Open* open = open_paint(id);
    return open ? open->context : nullptr;
}

void paint_posted(void* data);

// A drawing pass on the window's surface in units (the desktop's scale applied), or false.
bool begin_on(draw::Context& context, cairo_surface_t* surface) {
    const draw::Device device{surface, cairo_image_surface_get_width(surface), cairo_image_surface_get_height(surface),
                              0};
    context.catch_errors = true;
    if (!draw::begin(context, device)) return false;
    const double s = scale();
    if (s != 1.0) {
        context.state.matrix = draw::scaling(s, s, 0, 0);
        draw::apply_matrix(context);
    }
    return true;
}

// Whether the face's text is drawn by the draw engine, which then fills the face's colour under it
// itself (a plain face of a pair! size). A native widget shows its own text.
bool text_drawn(const Cell& face) {
    return !has_type(face, w_window) && !has_type(face, w_panel) &&
           cell::is(field(face, facet::text), TypeId::string) && !widgets::has(window_of(face));
}
bool text_fills(const Cell& face) {
    return text_drawn(face) && !has_type(face, w_rich_text) && cell::is(field(face, facet::color), TypeId::tuple) &&
           cell::is(field(face, facet::size), TypeId::pair);
}

// The surface starts as the face's colour (real alpha), clear without one; a top level is never
// see-through: without a colour it has the desktop's panel colour.
void fill_background(draw::Context& context, const Cell& face) {
    cairo_t* cr = context.cr;
    cairo_save(cr);
    cairo_identity_matrix(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    const Cell colour = field(face, facet::color);
    draw::Rgba c{0, 0, 0, 0};
    if (cell::is(colour, TypeId::tuple) && !text_fills(face)) c = colour_of(colour);
    else if (has_type(face, w_window) && !cell::is(colour, TypeId::tuple)) c = g_panel;
    cairo_set_source_rgba(cr, c.r, c.g, c.b, c.a);
    cairo_paint(cr);
    cairo_restore(cr);
}

void draw_image_facet(draw::Context& context, const Cell& face) {
    const Cell image = field(face, facet::image);
    if (!cell::is(image, TypeId::image) || image::pixel_count(image) == 0) return;
    cairo_surface_t* source = draw::surface_of_image(image);
    if (!source) return;
    double w = 0, h = 0;
    if (!point::xy(field(face, facet::size), w, h)) w = image::width(image), h = image::height(image);
    const draw::Point corners[] = {{0, 0}, {w, h}};
    draw::image(context, source, corners, draw::Crop{});
    cairo_surface_destroy(source);
}

// Paints the face of a window into its surface. A base without a draw block is painted by its
// `drawing` actor through draw-face, only when events may run (not while make-view runs). A
// paint asked for while the window is being painted (by its actor) runs once that one ends.
void paint(WindowId id, bool events_allowed) {
    if (Open* open = open_paint(id)) {
        open->again = true;
        return;
    }
    const Cell face_now = window_face(id);
    if (!is_object(face_now)) return;
    stack::Rooted face(face_now);
    cairo_surface_t* surface = window_surface(id);
    if (!surface) return;
    cairo_surface_reference(surface);  // the window may go while an actor runs
    draw::Context context;
    if (!begin_on(context, surface)) {
        cairo_surface_destroy(surface);
        return;
    }
    g_open.push_back(Open{id, &context, false});
    const auto finish = [&] {
        const auto mine =
            std::find_if(g_open.begin(), g_open.end(), [&](const Open& o) { return o.context == &context; });
        if (mine->again) loop::post(paint_posted, reinterpret_cast<void*>(static_cast<uintptr_t>(id)));
        g_open.erase(mine);
        draw::end(context);
        cairo_surface_destroy(surface);
        window_invalidate(id);
    };
    try {
        fill_background(context, face.cell());
        if (!widgets::has(id)) draw_image_facet(context, face.cell());  // a button shows its own
        if (text_drawn(face.cell())) draw::draw_text(context, draw::Point{}, face.cell());
        const Cell commands = field(face.cell(), facet::draw);
        if (cell::is(commands, TypeId::block)) {
            const stack::Rooted keep(commands);
            draw::draw_paint(context, commands);
        } else if (events_allowed && (has_type(face.cell(), w_base) || has_type(face.cell(), w_rich_text))) {
            (void)events::dispatch_simple(id, event::drawing, 0);
        }
    } catch (...) {
        finish();
        throw;
    }
    finish();
}

// A paint from the loop: nothing may unwind into GLib. What a draw block gets wrong is printed by
// the paint itself; anything else (no memory for a surface) leaves the window as it was.
void paint_from_loop(WindowId id) {
    try {
        if (window_exists(id)) paint(id, true);
    } catch (...) {
    }
}

void paint_posted(void* data) { paint_from_loop(static_cast<WindowId>(reinterpret_cast<uintptr_t>(data))); }

// Paints now, and once more from the loop when an actor draws the face (it may not run now).
void paint_soon(WindowId id, const Cell& face) {
    paint(id, false);
    if ((has_type(face, w_base) || has_type(face, w_rich_text)) && !cell::is(field(face, facet::draw), TypeId::block))
        loop::post(paint_posted, reinterpret_cast<void*>(static_cast<uintptr_t>(id)));
}

// ---- Appliers ------------------------------------------------------------------------------------

void apply_cursor(WindowId id, const Cell& options) {
    Cursor cursor = Cursor::arrow;
    if (cell::is(options, TypeId::block) && block::length(options) % 2 == 0) {
        for (uint32_t i = 0, n = block::length(options); i + 1 < n; i += 2) {
            const Cell key = block::abs_at(options, block::head_index(options) + i);
            const Cell value = block::abs_at(options, block::head_index(options) + i + 1);
            if (!cell::is(key, TypeId::set_word) || !is_word(key, w_cursor) || !is_any_word(value)) continue;
            cursor = is_word(value, w_I_beam)                                     ? Cursor::I_beam
                     : is_word(value, w_hand)                                     ? Cursor::hand
                     : is_word(value, w_cross)                                    ? Cursor::cross
                     : is_word(value, w_resize_ns)                                ? Cursor::resize_ns
                     : is_word(value, w_resize_we) || is_word(value, w_resize_ew) ? Cursor::resize_we
                                                                                  : Cursor::arrow;
        }
    }
    window_set_cursor(id, cursor);
}

// A caret face (its options hold the word caret) shows where the input method's composition goes.
void note_caret(WindowId id, const Cell& options) {
    if (!cell::is(options, TypeId::block)) return;
    for (uint32_t i = 0, n = block::length(options); i < n; ++i) {
        const Cell c = block::abs_at(options, block::head_index(options) + i);
        if (cell::is(c, TypeId::word) && is_word(c, w_caret)) {
            ime::note_caret(id);
            return;
        }
    }
}

void apply_flags(WindowId id, const Cell& face) {
    const uint32_t bits = flag_bits(field(face, facet::flags));
    window_set_flags(id, bits);
    if (!has_type(face, w_window)) return;
    Frame frame;
    frame.decorated = !(bits & (kNoTitle | kNoBorder));
    frame.resizable = (bits & kResize) != 0;
    frame.tool = (bits & kPopup) != 0;
    frame.modal = (bits & kModal) != 0;
    frame.fullscreen = (bits & kFullscreen) != 0;
    window_set_frame(id, frame);
}

void apply_title(WindowId id, const Cell& face) { window_set_title(id, utf8_of(field(face, facet::text))); }

// Children of the pane that have windows go into this face's window, in the pane's order (the
// last one on top), shown as their visible? says.
void attach_pane(WindowId id, const Cell& face) {
    const Cell pane = field(face, facet::pane);
    if (!cell::is(pane, TypeId::block)) return;
    for (uint32_t i = 0, n = block::length(pane) + block::head_index(pane); i < n; ++i) {
        const Cell child = block::abs_at(pane, i);
        const WindowId cid = is_object(child) ? window_of(child) : 0;
        if (!cid || window_toplevel(cid)) continue;
        if (window_parent(cid) != id && !window_reparent(cid, id, rect_of(child))) continue;
        window_show(cid, cell::truthy(field(child, facet::visible)));
        window_raise(cid);
    }
}

// A window's `selected` face takes the keyboard focus; without one the window itself does.
void focus_selected(WindowId id, const Cell& face) {
    const Cell selected = field(face, facet::selected);
    const WindowId target = is_object(selected) ? window_of(selected) : 0;
    window_focus(target && window_root(target) == id ? target : id);
}

// The facets' change bits, each applied when set, in the order a window expects them.
constexpr uint32_t bit(uint32_t f) { return 1u << f; }
constexpr uint32_t kPaintBits = bit(facet::size) | bit(facet::text) | bit(facet::image) | bit(facet::color) |
                                bit(facet::data) | bit(facet::para) | bit(facet::font) | bit(facet::draw);

void apply_changes(WindowId id, const Cell& face, uint32_t mask) {
    const bool window = has_type(face, w_window);
    if (mask & (bit(facet::offset) | bit(facet::size))) {
        window_set_integer_size(id, cell::is(field(face, facet::size), TypeId::pair));
        window_set_rect(id, rect_of(face));
    }
    if ((mask & bit(facet::text)) && window) apply_title(id, face);
    if (mask & bit(facet::enabled)) window_set_enabled(id, cell::truthy(field(face, facet::enabled)));
    if (mask & bit(facet::visible)) {
        const bool on = cell::truthy(field(face, facet::visible));
        if (window && on) window_present(id);
        else window_show(id, on);
    }
    if ((mask & bit(facet::selected)) && window) focus_selected(id, face);
    if (mask & bit(facet::flags)) apply_flags(id, face);
    if (mask & bit(facet::pane)) attach_pane(id, face);
    if (mask & bit(facet::rate)) timer_set(id, rate_ms(field(face, facet::rate)));
    if (mask & bit(facet::options)) apply_cursor(id, field(face, facet::options));
    if (mask & (bit(facet::offset) | bit(facet::size) | bit(facet::options)))
        note_caret(id, field(face, facet::options));
    if (window && (mask & bit(facet::menu))) menus::set_bar(id, face);
    if (camera::is_face(face) && (mask & (bit(facet::selected) | bit(facet::image))))
        camera::apply(id, face, mask & bit(facet::selected), mask & bit(facet::image));
    if (widgets::has(id)) widgets::apply(id, face, mask);
    if (mask & kPaintBits) paint(id, true);
}

// update-view of one face: the pending bits are taken from its state and applied; when an
// applier raises, they are pending again.
void update_one(const Cell& face) {
    if (!is_object(face) || has_type(face, w_screen)) error::fire(ErrorId::invalid_type, face);
    const WindowId id = window_of(face);
    const Cell state = field(face, facet::state);
    if (!id || !cell::is(state, TypeId::block) || block::length(state) < 2) return;
    const Cell bits = block::head(state)[1];
    if (!cell::is(bits, TypeId::integer) || cell::as_integer(bits) == 0) return;
    const auto mask = static_cast<uint32_t>(cell::as_integer(bits));
    block::head(state)[1] = cell::integer(0);
    try {
        apply_changes(id, face, mask);
    } catch (...) {
        const Cell now = field(face, facet::state);
        if (cell::is(now, TypeId::block) && block::length(now) >= 2 && cell::is(block::head(now)[1], TypeId::integer))
            block::head(now)[1] = cell::integer(cell::as_integer(block::head(now)[1]) | static_cast<int32_t>(mask));
        throw;
    }
}

// free-faces: the face's window and those of its pane lose their faces and timers; the top one's
// window is destroyed with everything inside it.
void free_faces(const Cell& face, bool top) {
    const WindowId id = window_of(face);
    if (!id) return;
    if (top && window_toplevel(id)) window_show(id, false);
    timer_set(id, 0);
    const Cell pane = field(face, facet::pane);
    if (cell::is(pane, TypeId::block)) {
        for (uint32_t i = 0, n = block::length(pane) + block::head_index(pane); i < n; ++i) {
            const Cell child = block::abs_at(pane, i);
            if (is_object(child)) free_faces(child, false);
        }
    }
    if (has_type(face, w_window)) set_quiet(face, facet::selected, cell::none());
    window_set_face(id, cell::none());
    set_quiet(face, facet::state, cell::none());
    if (top) window_destroy(id);
}

// The face's window and the windows of its pane, composed as they show, at (x, y) on the cairo.
void compose(cairo_t* cr, const Cell& face, WindowId id, double x, double y) {
    cairo_surface_t* surface = window_surface(id);
    if (!surface) return;
    cairo_save(cr);
    cairo_rectangle(cr, x, y, cairo_image_surface_get_width(surface), cairo_image_surface_get_height(surface));
    cairo_clip(cr);
    cairo_set_source_surface(cr, surface, x, y);
    cairo_paint(cr);
    widgets::draw_into(cr, id, x, y);
    const Cell pane = field(face, facet::pane);
    if (cell::is(pane, TypeId::block)) {
        for (uint32_t i = 0, n = block::length(pane) + block::head_index(pane); i < n; ++i) {
            const Cell child = block::abs_at(pane, i);
            const WindowId cid = is_object(child) ? window_of(child) : 0;
            if (!cid || window_parent(cid) != id || !window_visible(cid)) continue;
            const Rect r = window_rect(cid);
            compose(cr, child, cid, x + r.x, y + r.y);
        }
    }
    cairo_restore(cr);
}

// The face as it shows as a new image!, none when it has no window. May collect.
Cell capture(const Cell& face) {
    const WindowId id = window_of(face);
    cairo_surface_t* own = id ? window_surface(id) : nullptr;
    if (!own) return cell::none();
    const int32_t w = cairo_image_surface_get_width(own), h = cairo_image_surface_get_height(own);
    cairo_surface_t* out = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
    cairo_t* cr = cairo_create(out);
    compose(cr, face, id, 0, 0);
    cairo_destroy(cr);
    cairo_surface_flush(out);
    Cell result = cell::none();
    try {
        result = image::make(w, h);
    } catch (...) {
        cairo_surface_destroy(out);
        throw;
    }
    draw::surface_pixels(out, image::pixels(result), w, h);
    cairo_surface_destroy(out);
    return result;
}

// ---- Routines ------------------------------------------------------------------------------------

// The widget type of a word, or null when it names none.
const WidgetType* widget_type(const Cell& type) {
    if (!is_any_word(type)) return nullptr;
    for (size_t i = 0; i < std::size(kWidgetTypes); ++i)
        if (g_widget_types[i] == canonical(type)) return &kWidgetTypes[i];
    return nullptr;
}

// make-view face parent: the face's native window, inside the parent's (a top level for a
// window face). Unknown types are script face-type; a window that cannot be made is access
// no-create.
Status make_view(const int32_t* r) {
    const Args<Plain::routine> args(r);
    const Cell face = args[0];
    const Cell type = field(face, facet::type);
    const bool window = is_word(type, w_window);
    const bool drawn = window || is_word(type, w_panel) || is_word(type, w_base) || is_word(type, w_rich_text);
    const WidgetType* widget = drawn ? nullptr : widget_type(type);
    if (!drawn && !widget) error::fire(ErrorId::face_type, type);
    const uint32_t ms = rate_ms(field(face, facet::rate));  // checked before anything is made
    const WindowId parent = window ? 0 : window_from_handle(args[1]);
    if (!window && !parent) error::fire(ErrorId::not_linked);
    const WindowId id = window_create(parent, rect_of(face), window ? utf8_of(field(face, facet::text)) : "");
    if (!id) error::fire(ErrorId::no_create, type);
    window_set_integer_size(id, cell::is(field(face, facet::size), TypeId::pair));
    window_set_face(id, face);
    apply_flags(id, face);
    if (!window) window_show(id, cell::truthy(field(face, facet::visible)));
    if (!cell::truthy(field(face, facet::enabled))) window_set_enabled(id, false);
    apply_cursor(id, field(face, facet::options));
    note_caret(id, field(face, facet::options));
    if (ms) timer_set(id, ms);
    if (widget && widget->make) widget->make(id, args[0]);
    paint_soon(id, args[0]);
    if (window) menus::set_bar(id, args[0]);
    if (camera::is_face(args[0])) {
        try {
            camera::attach(id, args[0]);
        } catch (...) {
            window_set_face(id, cell::none());
            window_destroy(id);
            throw;
        }
    }
    return args.done(window_handle(id));
}

// update-view face-or-faces: the changes pending in each face reach its window.
Status update_view(const int32_t* r) {
    const Args<Plain::routine> args(r);
    const Cell target = args[0];
    if (cell::is(target, TypeId::block)) {
        const uint32_t from = block::head_index(target), n = block::length(target);
        for (uint32_t i = 0; i < n; ++i)
            if (!is_object(block::abs_at(target, from + i)))
                error::fire(ErrorId::invalid_type, block::abs_at(target, from + i));
        for (uint32_t i = 0; i < n && i < block::length(args[0]); ++i) {
            stack::Rooted face(block::abs_at(args[0], from + i));
            update_one(face.cell());
        }
    } else {
        update_one(target);
    }
    return args.done(cell::unset());
}

// destroy-view face empty?: frees the face's windows; with empty? the loop that served the window
// ends too. False when the face had no window.
Status destroy_view(const int32_t* r) {
    const Args<Plain::routine> args(r);
    const bool had = window_of(args[0]) != 0;
    free_faces(args[0], true);
    if (args.logic(1)) (void)loop::exit_innermost();
    return args.done(cell::logic(had));
}

// on-change-facet face facet value action new index part: a change inside a facet's series. A
// pane that gained or reordered faces takes their windows in (removed faces are destroyed by the
// front end); any other facet updates the face.
Status on_change_facet(const int32_t* r) {
    const Args<Plain::routine> args(r);
    const Cell word = args[1], action = args[3];
    const WindowId id = window_of(args[0]);
    if (id && is_word(word, w_pane)) {
        const bool adds = is_word(action, w_inserted) || is_word(action, w_appended) || is_word(action, w_poke) ||
                          is_word(action, w_poked) || is_word(action, w_put) || is_word(action, w_moved) ||
                          is_word(action, w_changed);
        if (adds) attach_pane(id, args[0]);
    } else if (id) {
        update_one(args[0]);
    }
    return args.done(cell::unset());
}

// update-text face: the window shows the face's text anew (a title, or the painted text).
Status update_text(const int32_t* r) {
    const Args<Plain::routine> args(r);
    if (const WindowId id = window_of(args[0])) {
        if (has_type(args[0], w_window)) apply_title(id, args[0]);
        else paint(id, true);
    }
    return args.done(cell::unset());
}

// update-para face field: the face is painted anew with its paragraph settings.
Status update_para(const int32_t* r) {
    const Args<Plain::routine> args(r);
    if (const WindowId id = window_of(args[0])) paint(id, true);
    return args.done(cell::unset());
}

// redraw face: paints the face anew now.
Status redraw(const int32_t* r) {
    const Args<Plain::routine> args(r);
    if (const WindowId id = window_of(args[0])) paint(id, true);
    return args.done(cell::unset());
}

// refresh-window window: what was painted reaches the screen at the next pass.
Status refresh_window(const int32_t* r) {
    const Args<Plain::routine> args(r);
    window_invalidate(window_from_handle(args[0]));
    return args.done(cell::unset());
}

// show-window window: shows it in front with the focus. False when the handle names no window.
Status show_window(const int32_t* r) {
    const Args<Plain::routine> args(r);
    const WindowId id = window_from_handle(args[0]);
    if (id) {
        window_present(id);
        focus_selected(id, window_face(id));
    }
    return args.done(cell::logic(id != 0));
}

// draw-face face cmd: draws the commands with the paint in progress on the face's window (its
// `drawing` actor), or over what the face shows when none is.
Status draw_face(const int32_t* r) {
    const Args<Plain::routine> args(r);
    const WindowId id = window_of(args[0]);
    if (!id) return args.done(cell::unset());
    if (draw::Context* open = open_context(id)) {
        draw::draw_paint(*open, args[1]);
        return args.done(cell::unset());
    }
    cairo_surface_t* surface = window_surface(id);
    if (!surface) return args.done(cell::unset());
    cairo_surface_reference(surface);
    draw::Context context;
    if (begin_on(context, surface)) {
        g_open.push_back(Open{id, &context, false});
        try {
            draw::draw_paint(context, args[1]);
        } catch (...) {
            g_open.pop_back();
            draw::end(context);
            cairo_surface_destroy(surface);
            throw;
        }
        g_open.pop_back();
        draw::end(context);
    }
    cairo_surface_destroy(surface);
    window_invalidate(id);
    return args.done(cell::unset());
}

// detach-image image: nothing links an image to its faces here.
Status detach_image(const int32_t* r) {
    const Args<Plain::routine> args(r);
    return args.done(cell::unset());
}

// gui-start: the backend is up when the display is.
Status gui_start(const int32_t* r) {
    const Args<Plain::routine> args(r);
    return args.done(cell::logic(has_display()));
}

Status window_count_routine(const int32_t* r) {
    const Args<Plain::routine> args(r);
    return args.done(cell::integer(static_cast<int32_t>(window_count())));
}

Status face_image(const int32_t* r) {
    const Args<Plain::routine> args(r);
    return args.done(capture(args[0]));
}

// ---- Desktop settings ----------------------------------------------------------------------------

Cell tuple_of(const GdkRGBA& c) {
    const uint8_t b[3] = {static_cast<uint8_t>(std::lround(c.red * 255)),
                          static_cast<uint8_t>(std::lround(c.green * 255)),
                          static_cast<uint8_t>(std::lround(c.blue * 255))};
    return tuple::make(b, 3);
}

// The family fontconfig gives for a generic name, or the fallback when nothing answers.
std::string family_for(const char* generic, const char* fallback) {
    PangoFontMap* map = pango_cairo_font_map_get_default();
    PangoContext* context = map ? pango_font_map_create_context(map) : nullptr;
    std::string out = fallback;
    if (context) {
        PangoFontDescription* want = pango_font_description_from_string(generic);
        if (PangoFont* font = pango_font_map_load_font(map, context, want)) {
            PangoFontDescription* got = pango_font_describe(font);
            if (const char* family = pango_font_description_get_family(got); family && *family) out = family;
            pango_font_description_free(got);
            g_object_unref(font);
        }
        pango_font_description_free(want);
        g_object_unref(context);
    }
    return out;
}

Cell string_of(const std::string& s) { return string::from_utf8(s, false); }

// gui-settings: [dpi scroller-size text window panel font-name font-size fixed sans-serif serif],
// from the desktop's theme and fonts (fixed values without a display).
Status gui_settings(const int32_t* r) {
    const Args<Plain::routine> args(r);
    GdkRGBA text{0, 0, 0, 1}, base{1, 1, 1, 1}, panel{240 / 255.0, 240 / 255.0, 240 / 255.0, 1};
    std::string ui_font = "DejaVu Sans";
    int32_t ui_size = 10, scroller = 16;
    if (has_display()) {
        GtkWidget* probe = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        GtkStyleContext* style = gtk_widget_get_style_context(probe);
        gtk_style_context_get_color(style, GTK_STATE_FLAG_NORMAL, &text);
        (void)gtk_style_context_lookup_color(style, "theme_base_color", &base);
        (void)gtk_style_context_lookup_color(style, "theme_bg_color", &panel);
        GtkWidget* bar = gtk_scrollbar_new(GTK_ORIENTATION_VERTICAL, nullptr);
        int minimum = 0, natural = 0;
        gtk_widget_get_preferred_width(bar, &minimum, &natural);
        if (natural > 0) scroller = natural;
        g_object_ref_sink(bar);
        gtk_widget_destroy(bar);
        g_object_unref(bar);
        gtk_widget_destroy(probe);
        gchar* name = nullptr;
        g_object_get(gtk_settings_get_default(), "gtk-font-name", &name, nullptr);
        if (name) {
            PangoFontDescription* d = pango_font_description_from_string(name);
            if (const char* family = pango_font_description_get_family(d); family && *family)
                ui_font = family_for(family, "DejaVu Sans");
            if (pango_font_description_get_size(d) > 0) ui_size = pango_font_description_get_size(d) / PANGO_SCALE;
            pango_font_description_free(d);
            g_free(name);
        }
    }
    g_panel = draw::Rgba{panel.red, panel.green, panel.blue, 1};
    Cell* out = block::push_new(10);
    const NodeId node = cell::series_node(*out);
    block::append(node, cell::integer(static_cast<int32_t>(std::lround(96 * scale()))));
    block::append(node, pair::make(scroller, scroller));
    block::append(node, tuple_of(text));
    block::append(node, tuple_of(base));
    block::append(node, tuple_of(panel));
    block::append(node, string_of(ui_font));
    block::append(node, cell::integer(ui_size));
    block::append(node, string_of(family_for("monospace", "DejaVu Sans Mono")));
    block::append(node, string_of(family_for("sans-serif", "DejaVu Sans")));
    block::append(node, string_of(family_for("serif", "DejaVu Serif")));
    return args.done(*out);
}

void on_resized(WindowId id) { paint_from_loop(id); }

struct Named {
    const char* name;
    function::RoutineEntry entry;
};

constexpr Named kRoutines[] = {
    {"make-view", make_view},
    {"update-view", update_view},
    {"free-faces", destroy_view},
    {"on-change-facet", on_change_facet},
    {"update-text", update_text},
    {"update-para", update_para},
    {"redraw", redraw},
    {"refresh-window", refresh_window},
    {"show-window", show_window},
    {"draw-face", draw_face},
    {"detach-image", detach_image},
    {"gui-start", gui_start},
    {"gui-settings", gui_settings},
    {"window-count", window_count_routine},
    {"face-image", face_image},
};

}  // namespace

uint32_t rate_ms(const Cell& rate) {
    if (cell::is(rate, TypeId::none)) return 0;
    double ms = 0;
    if (cell::is(rate, TypeId::integer) && cell::as_integer(rate) >= 1) {
        ms = 1000 / cell::as_integer(rate);
    } else if (cell::is(rate, TypeId::time) && cell::as_float(rate) > 0) {
        ms = std::min(cell::as_float(rate) * 1000.0, 4.0e9);
    } else {
        error::fire(ErrorId::invalid_facet_type, rate);
    }
    return std::max<uint32_t>(1, static_cast<uint32_t>(ms));
}

Cell capture_face(Cell face) { return capture(face); }

void register_routines() {
    for (size_t i = 0; i < w_count; ++i) g_words[i] = symbol::resolve(symbol::make(kWords[i]));
    for (size_t i = 0; i < std::size(kFlagBits); ++i)
        g_flag_words[i] = symbol::resolve(symbol::make(kFlagBits[i].word));
    for (size_t i = 0; i < std::size(kWidgetTypes); ++i)
        g_widget_types[i] = symbol::resolve(symbol::make(kWidgetTypes[i].name));
    g_open.clear();
    widgets::reset();
    set_resize_hook(on_resized);
    image::g_face_capture = capture_face;
    for (const Named& r : kRoutines) (void)function::add_routine(r.name, r.entry);
}

}  // namespace zub::platform::views
