// Text on the draw engine over Pango. Font and para objects and faces are read by field position,
// never by name, so derived objects that add fields after the documented ones read the same.
#include "view/backend/draw/text.h"

#include <glib.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/handle.h"
#include "datatypes/object.h"
#include "datatypes/pair.h"
#include "datatypes/point.h"
#include "datatypes/string.h"
#include "datatypes/tuple.h"
#include "datatypes/word.h"
#include "evaluator/stack.h"
#include "runtime/error.h"
#include "runtime/handles.h"
#include "runtime/memory.h"
#include "runtime/series.h"
#include "runtime/symbol.h"
#include "runtime/unicode.h"
#include "view/backend/draw/pens.h"

namespace zub::draw {
namespace {

// Field positions of the objects read here.
namespace font_field {
constexpr uint32_t name = 0, size = 1, style = 2, angle = 3, color = 4, state = 7;
}  // namespace font_field
namespace para_field {
constexpr uint32_t align = 3, v_align = 4, wrap = 5;
}  // namespace para_field
namespace face_field {
constexpr uint32_t type = 0, size = 2, text = 3, color = 5, data = 7, para = 18, font = 19;
}  // namespace face_field

// Paragraph flags.
constexpr uint32_t kCentre = 1, kRight = 2, kMiddle = 4, kBottom = 8, kWrap = 16;

constexpr uint32_t kMaxFamily = 31;   // characters of a family name kept
constexpr double kDefaultPoints = 9;  // when neither the font nor system/view/fonts gives one
constexpr const char* kDefaultFamily = "DejaVu Sans";
// Pixels: a line of text taller than this on the device is far larger than any surface and is
// not drawn (the rasteriser's fixed-point coordinates overflow); one shorter than the least is
// invisible and not drawn either (the font engine refuses it).
constexpr double kMaxDeviceText = 1e6, kMinDeviceText = 0.01;
// Pixels: a line taller than this is filled as outlines, since the font engine renders no glyph
// larger than 65535 pixels; the outlines take the pen's colour, not the style ranges' colours.
constexpr double kMaxGlyphText = 50000;
constexpr double kMaxPoints = 1024;  // larger font sizes are held to this

enum Word : uint8_t {
    bold,
    italic,
    underline,
    strike,
    border,
    backdrop,
    center,
    right,
    middle,
    bottom,
    rich_text,
    system,
    view,
    fonts,
    tabs,
    line_spacing,
    handles,
    word_count
};
constexpr const char* kWords[] = {"bold",   "italic", "underline", "strike",       "border",    "backdrop",
                                  "center", "right",  "middle",    "bottom",       "rich-text", "system",
                                  "view",   "fonts",  "tabs",      "line-spacing", "handles"};
symbol::Id g_words[word_count];
uint32_t g_font_class = 0, g_layout_class = 0;

symbol::Id canonical(const Cell& w) { return symbol::resolve(word::symbol_of(w)); }
bool is_any_word(const Cell& c) {
    const TypeId t = cell::type(c);
    return t == TypeId::word || t == TypeId::lit_word || t == TypeId::get_word || t == TypeId::set_word;
}
bool is_word(const Cell& c, Word w) { return is_any_word(c) && canonical(c) == g_words[w]; }

bool is_object(const Cell& c) { return object::is_object(cell::type(c)); }

// A field of an object by position; none past its last field or for a value that is no object.
Cell field(const Cell& obj, uint32_t index) {
    if (!is_object(obj) || index >= context::word_count(obj.w1)) return cell::none();
    const Cell* v = context::value_at(obj.w1, index);
    return v ? *v : cell::none();
}

// A field of an object by name (the fields a derived face adds); none when it has no such field.
Cell named(const Cell& obj, Word w) { return is_object(obj) ? object::select_word(obj, g_words[w]) : cell::none(); }

double number_of(const Cell& c) { return cell::is(c, TypeId::integer) ? cell::as_integer(c) : cell::as_float(c); }
bool is_number(const Cell& c) { return cell::is(c, TypeId::integer) || cell::is(c, TypeId::float_); }

// A word, or a block holding the word (the `style` of a font).
bool holds(const Cell& style, Word w) {
    if (is_any_word(style)) return is_word(style, w);
    if (!cell::is(style, TypeId::block)) return false;
    const uint32_t n = block::length(style);
    for (uint32_t i = 0; i < n; ++i)
        if (is_word(block::abs_at(style, cell::series_index(style) + i), w)) return true;
    return false;
}

// The string's characters as UTF-8, at most `limit` of them (whole code points only).
std::string utf8_of(const Cell& text, uint32_t limit = unicode::kWhole) {
    const uint32_t n = std::min(string::rs_length(text), limit);
    std::string out(static_cast<size_t>(n) * 4 + 1, '\0');
    out.resize(unicode::string_to_utf8_into(text, reinterpret_cast<std::byte*>(out.data()),
                                            static_cast<uint32_t>(out.size()), n));
    return out;
}

// ---- Default font ----------------------------------------------------------------------------

// system/view/fonts, or none while the GUI has not set it.
Cell view_fonts() {
    const NodeId global = context::global();
    const int32_t at = context::find_word(global, g_words[system], true);
    if (at < 0) return cell::none();
    const Cell* sys = context::value_at(global, static_cast<uint32_t>(at));
    if (!sys || !is_object(*sys)) return cell::none();
    const Cell v = object::select_word(*sys, g_words[view]);
    return is_object(v) ? object::select_word(v, g_words[fonts]) : cell::none();
}

// ---- Descriptions --------------------------------------------------------------------------

double default_points() {
    const Cell size = field(view_fonts(), 4);
    return cell::is(size, TypeId::integer) && cell::as_integer(size) > 0 ? cell::as_integer(size) : kDefaultPoints;
}

// A new description of the font object (or of the default font for none). A family name is cut
// after 31 characters, never inside a code point.
PangoFontDescription* describe(const Cell& font) {
    PangoFontDescription* d = pango_font_description_new();
    Cell name = field(font, font_field::name);
    if (!cell::is(name, TypeId::string)) name = field(view_fonts(), 0);
    const std::string family = cell::is(name, TypeId::string) ? utf8_of(name, kMaxFamily) : kDefaultFamily;
    pango_font_description_set_family(d, family.empty() ? kDefaultFamily : family.c_str());
    const Cell size = field(font, font_field::size);
    const double points =
        cell::is(size, TypeId::integer) && cell::as_integer(size) > 0 ? cell::as_integer(size) : default_points();
    pango_font_description_set_absolute_size(d, std::min(points, kMaxPoints) * 96.0 / 72.0 * PANGO_SCALE);
    const Cell style = field(font, font_field::style);
    pango_font_description_set_weight(d, holds(style, bold) ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
    pango_font_description_set_style(d, holds(style, italic) ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL);
    return d;
}

void release_description(uintptr_t handle) {
    pango_font_description_free(reinterpret_cast<PangoFontDescription*>(handle));
}

bool is_cached(const Cell& h) {
    return cell::is(h, TypeId::handle) && handles::live(handle::entry(h)) &&
           handles::class_of(handle::entry(h)) == g_font_class;
}

// The font object's description, made and kept in position 2 of its `state` on first use; a copy
// the caller frees. For anything but an object, the default font.
PangoFontDescription* description_of(const Cell& font) {
    if (!is_object(font)) return describe(font);
    const Cell state = field(font, font_field::state);
    if (cell::is(state, TypeId::block) && block::length(state) >= 2) {
        const Cell h = block::abs_at(state, cell::series_index(state) + 1);
        if (is_cached(h))
            return pango_font_description_copy(
                reinterpret_cast<const PangoFontDescription*>(handles::get(handle::entry(h))));
    }
    PangoFontDescription* d = describe(font);
    const stack::Rooted keep_font(font);
    stack::Rooted keep_handle(handle::make(handles::store(reinterpret_cast<uintptr_t>(d), g_font_class)));
    const Cell now = field(font, font_field::state);
    if (cell::is(now, TypeId::block) && block::length(now) >= 2) {
        block::head(now)[1] = keep_handle.cell();
    } else {
        const Cell fresh = block::make(3);
        const stack::Rooted keep_block(fresh);
        series::append_cell(cell::series_node(fresh), cell::none());
        series::append_cell(cell::series_node(fresh), keep_handle.cell());
        series::append_cell(cell::series_node(fresh), cell::none());
        if (font_field::state < context::word_count(font.w1))
            if (Cell* slot = context::value_at(font.w1, font_field::state)) *slot = fresh;
    }
    return pango_font_description_copy(d);
}

// The font's angle in degrees, counterclockwise; 0 for anything but a number.
double angle_of(const Cell& font) {
    const Cell a = field(font, font_field::angle);
    const double v = is_number(a) ? std::fmod(number_of(a), 360.0) : 0;
    return std::isfinite(v) ? v : 0;
}

struct Decorations {
    bool underline = false, strike = false;
};
Decorations decorations_of(const Cell& font) {
    const Cell style = field(font, font_field::style);
    return {holds(style, underline), holds(style, strike)};
}

// ---- Code points and byte offsets ------------------------------------------------------------

int32_t byte_of(const std::string& text, int64_t cp) {
    const int64_t n = g_utf8_strlen(text.c_str(), static_cast<gssize>(text.size()));
    cp = std::clamp<int64_t>(cp, 0, n);
    return static_cast<int32_t>(g_utf8_offset_to_pointer(text.c_str(), static_cast<glong>(cp)) - text.c_str());
}
int64_t cp_of(const std::string& text, int32_t byte) {
    byte = std::clamp<int32_t>(byte, 0, static_cast<int32_t>(text.size()));
    return g_utf8_pointer_to_offset(text.c_str(), text.c_str() + byte);
}

// ---- Layouts ---------------------------------------------------------------------------------

// A Cairo context for measuring faces that are not being drawn: the same image-surface font
// options as drawing, so measured and drawn text agree.
cairo_t* measuring_cr() {
    static cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 2, 2);
    static cairo_t* cr = cairo_create(surface);
    return cr;
}

void add_decorations(PangoAttrList* list, Decorations d) {
    if (d.underline) pango_attr_list_insert(list, pango_attr_underline_new(PANGO_UNDERLINE_SINGLE));
    if (d.strike) pango_attr_list_insert(list, pango_attr_strikethrough_new(TRUE));
}

// A laid-out text and where its top-left lies in its box.
struct Laid {
    PangoLayout* layout = nullptr;
    std::string text;  // UTF-8, for offsets
    double dx = 0, dy = 0;
    std::string key;  // what it was laid out from, when it is a face's cached layout
    Laid() = default;
    Laid(const Laid&) = delete;
    Laid& operator=(const Laid&) = delete;
    ~Laid() {
        if (layout) g_object_unref(layout);
    }
};

void release_layout(uintptr_t handle) { delete reinterpret_cast<Laid*>(handle); }

void plain_layout(Laid& out, cairo_t* cr, const std::string& text, PangoFontDescription* font, Decorations d) {
    out.text = text;
    out.layout = pango_cairo_create_layout(cr);
    pango_layout_set_font_description(out.layout, font);
    pango_layout_set_text(out.layout, text.c_str(), static_cast<int>(text.size()));
    PangoAttrList* list = pango_attr_list_new();
    add_decorations(list, d);
    pango_layout_set_attributes(out.layout, list);
    pango_attr_list_unref(list);
}

uint32_t para_flags(const Cell& para, uint32_t flags) {
    if (!is_object(para)) return flags;
    const Cell a = field(para, para_field::align), v = field(para, para_field::v_align);
    flags = 0;
    if (is_word(a, center)) flags |= kCentre;
    else if (is_word(a, right)) flags |= kRight;
    if (is_word(v, middle)) flags |= kMiddle;
    else if (is_word(v, bottom)) flags |= kBottom;
    if (cell::truthy(field(para, para_field::wrap))) flags |= kWrap;
    return flags;
}

void apply_styles(Laid& laid, PangoAttrList* list, const Cell& styles);

// What a face's text is laid out from, read once; a cached layout is kept while these stay the
// same. The face is rooted by the caller, and with it the font and the styles.
struct Box {
    std::string text;
    bool rich = false;
    uint32_t flags = 0;
    double width = -1, height = -1;  // the box, whole pixels; -1 unbounded
    Cell font, styles;
    PangoFontDescription* description = nullptr;
    double tab = 0;       // incremental tab stop in pixels; 0 leaves Pango's
    double spacing = -1;  // a uniform line height asked for; -1 keeps each line's own
    Box() = default;
    Box(const Box&) = delete;
    Box& operator=(const Box&) = delete;
    ~Box() {
        if (description) pango_font_description_free(description);
    }
};

double positive_number(const Cell& c) {
    const double n = is_number(c) ? number_of(c) : 0;
    return std::isfinite(n) && n > 0 ? std::min(n, 1e6) : 0;
}

void read_box(Box& box, const Cell& face) {
    const Cell text = field(face, face_field::text);
    box.text = cell::is(text, TypeId::string) ? utf8_of(text) : std::string();
    box.rich = is_word(field(face, face_field::type), rich_text);
    box.flags = para_flags(field(face, face_field::para), box.rich ? kWrap : kCentre | kMiddle);
    box.font = field(face, face_field::font);
    box.styles = box.rich ? field(face, face_field::data) : cell::none();
    const Cell size = field(face, face_field::size);
    if (cell::is(size, TypeId::pair)) {
        box.width = std::max(0, pair::x(size)), box.height = std::max(0, pair::y(size));
    } else if (cell::is(size, TypeId::point2D)) {
        box.width = std::trunc(std::clamp(point::coordinate(size, 0) + 0.5, 0.0, 1e6));
        box.height = std::trunc(std::clamp(point::coordinate(size, 1) + 0.5, 0.0, 1e6));
    }
    if (box.rich) {
        box.tab = positive_number(named(face, tabs));
        const double spacing = positive_number(named(face, line_spacing));
        if (spacing > 0) box.spacing = spacing;
    }
    box.description = description_of(box.font);
}

template <typename T>
void add_raw(std::string& key, const T& v) {
    key.append(reinterpret_cast<const char*>(&v), sizeof v);
}
void add_cell(std::string& key, Cell c) {
    c.header &= ~cell_flag::new_line;
    add_raw(key, c);
}

// Everything the layout of a box depends on, as bytes: equal keys lay out the same.
std::string box_key(const Box& box) {
    std::string key = box.text;
    key.push_back('\0');
    add_raw(key, box.flags), add_raw(key, box.width), add_raw(key, box.height);
    add_raw(key, box.tab), add_raw(key, box.spacing);
    char* d = pango_font_description_to_string(box.description);
    key += d;
    g_free(d);
    key.push_back('\0');
    add_cell(key, field(box.font, font_field::color));
    const Decorations lines = decorations_of(box.font);
    add_raw(key, lines.underline), add_raw(key, lines.strike);
    if (!cell::is(box.styles, TypeId::block)) return key;
    const NodeId node = cell::series_node(box.styles);
    for (uint32_t i = cell::series_index(box.styles); i < series::length(node); ++i) {
        const Cell v = memory::buffer(node)->cells()[i];
        if (cell::is(v, TypeId::string)) {
            key += utf8_of(v);
            key.push_back('\0');
        } else if (cell::type(v) == TypeId::word) {
            add_cell(key, v);
            const Cell* slot = context::slot_of(v);
            if (slot && cell::is(*slot, TypeId::tuple)) add_cell(key, *slot);
        } else {
            add_cell(key, v);
        }
    }
    return key;
}

// The height of one line of "I" in the font, in Pango units: the least uniform line height.
int line_of_i(PangoFontDescription* font) {
    PangoLayout* l = pango_cairo_create_layout(measuring_cr());
    pango_layout_set_font_description(l, font);
    pango_layout_set_text(l, "I", 1);
    PangoRectangle logical;
    pango_layout_get_extents(l, nullptr, &logical);
    g_object_unref(l);
    return logical.height;
}

// A face's text laid out in its box: rich-text faces wrap at the box's width and take their style
// block (`data`), their tab stop and line spacing; other faces centre their text both ways
// without wrapping; a para overrides.
void box_layout(Laid& out, const Box& box) {
    plain_layout(out, measuring_cr(), box.text, box.description, decorations_of(box.font));
    const uint32_t flags = box.flags;
    const PangoAlignment align = flags & kCentre  ? PANGO_ALIGN_CENTER
                                 : flags & kRight ? PANGO_ALIGN_RIGHT
                                                  : PANGO_ALIGN_LEFT;
    pango_layout_set_alignment(out.layout, align);
    if (flags & kWrap && box.width > 0) {
        pango_layout_set_width(out.layout, static_cast<int>(box.width * PANGO_SCALE));
        pango_layout_set_wrap(out.layout, PANGO_WRAP_WORD_CHAR);
    }
    if (box.tab > 0) {
        // One stop: Pango repeats its distance along the line.
        PangoTabArray* stops =
            pango_tab_array_new_with_positions(1, FALSE, PANGO_TAB_LEFT, static_cast<int>(box.tab * PANGO_SCALE));
        pango_layout_set_tabs(out.layout, stops);
        pango_tab_array_free(stops);
    }
    // The list is released however the styles end: a bad style value raises.
    const std::unique_ptr<PangoAttrList, void (*)(PangoAttrList*)> list(
        pango_attr_list_copy(pango_layout_get_attributes(out.layout)), pango_attr_list_unref);
    if (box.spacing > 0) {
        const int uniform = std::max(line_of_i(box.description), static_cast<int>(box.spacing * PANGO_SCALE));
        pango_attr_list_insert(list.get(), pango_attr_line_height_new_absolute(uniform));
    }
    const Cell font_colour = field(box.font, font_field::color);
    if (cell::is(font_colour, TypeId::tuple)) {
        uint8_t b[tuple::kMaxBytes];
        tuple::bytes(font_colour, b);
        pango_attr_list_insert(list.get(), pango_attr_foreground_new(b[0] * 257, b[1] * 257, b[2] * 257));
    }
    if (box.rich) apply_styles(out, list.get(), box.styles);
    pango_layout_set_attributes(out.layout, list.get());
    PangoRectangle logical;
    pango_layout_get_extents(out.layout, nullptr, &logical);
    const double w = logical.width / double(PANGO_SCALE), h = logical.height / double(PANGO_SCALE);
    if (box.width >= 0 && !(flags & kWrap && box.width > 0)) {
        if (flags & kCentre) out.dx = (box.width - w) / 2;
        else if (flags & kRight) out.dx = box.width - w;
    }
    if (box.height >= 0) {
        if (flags & kMiddle) out.dy = (box.height - h) / 2;
        else if (flags & kBottom) out.dy = box.height - h;
    }
}

bool is_layout(const Cell& h) {
    return cell::is(h, TypeId::handle) && handles::live(handle::entry(h)) &&
           handles::class_of(handle::entry(h)) == g_layout_class;
}

// Keeps a rich-text face's layout in its `handles` block: [layout, none, the text it was made
// from, lay-out-again flag]. May collect.
void keep_layout(const Cell& face, std::unique_ptr<Laid> laid) {
    const int32_t at = object::find_word(face, g_words[handles]);
    if (at < 0) return;
    stack::Rooted text(string::from_utf8(laid->text, false));
    const Cell now = *context::value_at(face.w1, static_cast<uint32_t>(at));
    if (cell::is(now, TypeId::block) && block::length(now) >= 4) {
        Cell* cells = block::head(now);
        if (is_layout(cells[0])) {
            handles::replace(handle::entry(cells[0]), reinterpret_cast<uintptr_t>(laid.release()));
        } else {
            cells[0] = handle::make(handles::store(reinterpret_cast<uintptr_t>(laid.release()), g_layout_class));
        }
        cells[2] = text.cell(), cells[3] = cell::logic(false);
        return;
    }
    stack::Rooted h(handle::make(handles::store(reinterpret_cast<uintptr_t>(laid.release()), g_layout_class)));
    stack::Rooted cache(block::make(4));
    const NodeId node = cell::series_node(cache.cell());
    series::append_cell(node, h.cell());
    series::append_cell(node, cell::none());
    series::append_cell(node, text.cell());
    series::append_cell(node, cell::logic(false));
    *context::value_at(face.w1, static_cast<uint32_t>(at)) = cache.cell();
}

// A face's text laid out in its box. A rich-text face with a `handles` field keeps its layout
// there and reuses it while the flag is off and nothing it was made from changed; other faces
// are laid out into `scratch`. May collect.
const Laid& face_layout(Laid& scratch, const Cell& face) {
    const stack::Rooted keep(face);
    Box box;
    read_box(box, face);
    if (!box.rich || object::find_word(face, g_words[handles]) < 0) {
        box_layout(scratch, box);
        return scratch;
    }
    std::string key = box_key(box);
    const Cell cache = named(face, handles);
    if (cell::is(cache, TypeId::block) && block::length(cache) >= 4) {
        const Cell* cells = block::head(cache);
        if (is_layout(cells[0]) && !cell::truthy(cells[3])) {
            const Laid* kept = reinterpret_cast<const Laid*>(handles::get(handle::entry(cells[0])));
            if (kept->key == key) return *kept;
        }
    }
    auto laid = std::make_unique<Laid>();
    box_layout(*laid, box);
    laid->key = std::move(key);
    const Laid* made = laid.get();
    keep_layout(face, std::move(laid));
    return *made;
}

// ---- Rich-text style ranges ------------------------------------------------------------------

[[noreturn]] void style_error(const Cell& styles, uint32_t at) {
    error::fire(ErrorId::draw_invalid, cell::series(cell::type(styles), cell::series_node(styles), at));
}

void insert_range(PangoAttrList* list, PangoAttribute* a, int32_t start, int32_t end) {
    a->start_index = static_cast<guint>(start);
    a->end_index = static_cast<guint>(end);
    pango_attr_list_insert(list, a);
}

// Walks the style block once; a range is current from the last pair (start x length, start from
// 1), clipped to the text.
void apply_styles(Laid& laid, PangoAttrList* list, const Cell& styles) {
    if (!cell::is(styles, TypeId::block)) return;
    const NodeId node = cell::series_node(styles);
    const uint32_t tail = series::length(node);
    int32_t start = 0, end = 0;
    const auto at = [&](uint32_t i) {
        return i < series::length(node) ? memory::buffer(node)->cells()[i] : cell::unset();
    };
    const auto colour_at = [&](uint32_t i, uint8_t(&b)[tuple::kMaxBytes]) {
        Cell c = at(i);
        if (cell::type(c) == TypeId::word) {
            const Cell* slot = context::slot_of(c);
            c = slot ? *slot : cell::unset();
        }
        if (!cell::is(c, TypeId::tuple)) return false;
        tuple::bytes(c, b);
        return true;
    };
    for (uint32_t i = cell::series_index(styles); i < tail && i < series::length(node); ++i) {
        const Cell v = at(i);
        uint8_t b[tuple::kMaxBytes];
        if (cell::is(v, TypeId::pair)) {
            const int64_t s = static_cast<int64_t>(pair::x(v)) - 1, n = std::max(0, pair::y(v));
            start = byte_of(laid.text, std::max<int64_t>(s, 0));
            end = byte_of(laid.text, std::max<int64_t>(s, 0) + (s < 0 ? std::max<int64_t>(n + s, 0) : n));
        } else if (cell::is(v, TypeId::tuple)) {
            tuple::bytes(v, b);
            insert_range(list, pango_attr_foreground_new(b[0] * 257, b[1] * 257, b[2] * 257), start, end);
        } else if (cell::is(v, TypeId::string)) {
            const std::string family = utf8_of(v, kMaxFamily);
            insert_range(list, pango_attr_family_new(family.c_str()), start, end);
        } else if (is_number(v)) {
            const double points = number_of(v);
            if (!std::isfinite(points) || points <= 0 || points > kMaxPoints) style_error(styles, i);
            insert_range(list, pango_attr_size_new_absolute(static_cast<int>(points * 96 / 72 * PANGO_SCALE)), start,
                         end);
        } else if (is_word(v, bold)) {
            insert_range(list, pango_attr_weight_new(PANGO_WEIGHT_BOLD), start, end);
        } else if (is_word(v, italic)) {
            insert_range(list, pango_attr_style_new(PANGO_STYLE_ITALIC), start, end);
        } else if (is_word(v, underline) || is_word(v, strike) || is_word(v, border)) {
            if (is_word(v, underline)) insert_range(list, pango_attr_underline_new(PANGO_UNDERLINE_SINGLE), start, end);
            else if (is_word(v, strike)) insert_range(list, pango_attr_strikethrough_new(TRUE), start, end);
            // An optional colour and style are accepted and have no effect.
            if (cell::is(at(i + 1), TypeId::tuple)) ++i;
            if (cell::is(at(i + 1), TypeId::lit_word)) ++i;
        } else if (is_word(v, backdrop)) {
            if (!colour_at(i + 1, b)) style_error(styles, i + 1);
            ++i;
            insert_range(list, pango_attr_background_new(b[0] * 257, b[1] * 257, b[2] * 257), start, end);
        } else {
            style_error(styles, i);
        }
    }
}

// ---- Positions -------------------------------------------------------------------------------

int64_t text_length(const Laid& laid) {
    return g_utf8_strlen(laid.text.c_str(), static_cast<gssize>(laid.text.size()));
}

// The rectangle of the character at a code point (0-based, clamped to the text), in box space.
PangoRectangle char_rect(const Laid& laid, int64_t cp) {
    PangoRectangle r;
    pango_layout_index_to_pos(laid.layout, byte_of(laid.text, cp), &r);
    return r;
}

// The top and bottom of the line holding a code point (0-based), in Pango units.
void line_yrange(const Laid& laid, int64_t cp, int& y0, int& y1) {
    int line = 0, x = 0;
    pango_layout_index_to_line_x(laid.layout, byte_of(laid.text, cp), FALSE, &line, &x);
    PangoLayoutIter* it = pango_layout_get_iter(laid.layout);
    for (int i = 0; i < line && pango_layout_iter_next_line(it); ++i) {
    }
    pango_layout_iter_get_line_yrange(it, &y0, &y1);
    pango_layout_iter_free(it);
}

double px(int v) { return v / double(PANGO_SCALE); }

// The code point under a point of the box (0-based) and, on the trailing half of a character,
// the number of code points its cluster spans (else 0).
int64_t hit(const Laid& laid, double x, double y, int& trail) {
    int index = 0;
    trail = 0;
    pango_layout_xy_to_index(laid.layout, static_cast<int>((x - laid.dx) * PANGO_SCALE),
                             static_cast<int>((y - laid.dy) * PANGO_SCALE), &index, &trail);
    return cp_of(laid.text, index);
}

bool point_of(const Cell& c, double& x, double& y) {
    return point::xy(c, x, y) && std::isfinite(x) && std::isfinite(y);
}

// Fills the layout's glyph outlines, taken at the layout's own size and carried to the device by
// the matrix, so the font engine is never asked for the glyphs at the device's size.
void outline(cairo_t* cr, PangoLayout* layout) {
    cairo_matrix_t m;
    cairo_get_matrix(cr, &m);
    cairo_identity_matrix(cr);
    cairo_new_path(cr);
    cairo_move_to(cr, 0, 0);
    pango_cairo_layout_path(cr, layout);
    cairo_path_t* path = cairo_copy_path(cr);
    cairo_new_path(cr);
    for (int i = 0; i < path->num_data; i += path->data[i].header.length)
        for (int j = 1; j < path->data[i].header.length; ++j)
            cairo_matrix_transform_point(&m, &path->data[i + j].point.x, &path->data[i + j].point.y);
    cairo_append_path(cr, path);
    cairo_path_destroy(path);
    cairo_fill(cr);
    cairo_set_matrix(cr, &m);
}

}  // namespace

void init_text() {
    for (size_t i = 0; i < word_count; ++i) g_words[i] = symbol::resolve(symbol::make(kWords[i]));
    if (g_font_class == 0 || handles::class_name(g_font_class) != "font")
        g_font_class = handles::register_class("font", release_description);
    if (g_layout_class == 0 || handles::class_name(g_layout_class) != "text-layout")
        g_layout_class = handles::register_class("text-layout", release_layout);
}

PangoFontDescription* font_description(Cell font) { return description_of(font); }

void select_font(Context& context, Cell font) {
    TextStyle& t = context.text;
    if (t.font) pango_font_description_free(t.font);
    t.font = description_of(font);
    const Cell colour = field(font, font_field::color);
    t.locked = cell::is(colour, TypeId::tuple);
    if (t.locked) {
        uint8_t b[tuple::kMaxBytes];
        tuple::bytes(colour, b);
        t.colour = Rgba{b[0] / 255.0, b[1] / 255.0, b[2] / 255.0, 1.0 - (tuple::count(colour) >= 4 ? b[3] : 0) / 255.0};
    }
    const Decorations d = decorations_of(font);
    t.underline = d.underline, t.strike = d.strike;
    t.angle = angle_of(font);
}

void draw_text(Context& context, Point at, Cell text) {
    if (!drawable(context)) return;
    Laid scratch;
    const Laid* laid = &scratch;
    double angle = context.text.angle;
    // Laid out without the drawing's matrix and drawn as measured: the matrix scales and turns
    // the glyphs, never the layout.
    if (is_object(text)) {
        laid = &face_layout(scratch, text);
        angle = angle_of(field(text, face_field::font));
        const Cell colour = field(text, face_field::color), size = field(text, face_field::size);
        if (!is_word(field(text, face_field::type), rich_text) && cell::is(colour, TypeId::tuple) &&
            cell::is(size, TypeId::pair)) {
            uint8_t b[tuple::kMaxBytes];
            tuple::bytes(colour, b);
            cairo_save(context.cr);
            cairo_set_source_rgba(context.cr, b[0] / 255.0, b[1] / 255.0, b[2] / 255.0,
                                  1.0 - (tuple::count(colour) >= 4 ? b[3] : 0) / 255.0);
            cairo_rectangle(context.cr, at.x, at.y, pair::x(size), pair::y(size));
            cairo_fill(context.cr);
            cairo_restore(context.cr);
        }
    } else {
        if (!context.text.font) context.text.font = describe(cell::none());
        plain_layout(scratch, measuring_cr(), utf8_of(text), context.text.font,
                     {context.text.underline, context.text.strike});
    }
    cairo_t* cr = context.cr;
    cairo_save(cr);
    PangoRectangle logical;
    pango_layout_get_extents(laid->layout, nullptr, &logical);
    const double x = at.x + laid->dx, y = at.y + laid->dy;
    const Bounds box = bounds_of(x, y, x + px(logical.width), y + px(logical.height));
    bool paint = true;
    if (context.text.locked)
        cairo_set_source_rgba(cr, context.text.colour.r, context.text.colour.g, context.text.colour.b,
                              context.text.colour.a);
    else paint = context.state.pen.kind != Kind::none && apply_brush(cr, context.state.pen, box);
    // A font's angle turns its text counterclockwise about the text's top-left.
    cairo_translate(cr, x, y);
    if (angle != 0) cairo_rotate(cr, -angle * M_PI / 180);
    cairo_matrix_t m;
    cairo_get_matrix(cr, &m);
    const double scale = std::max(std::hypot(m.xx, m.yx), std::hypot(m.xy, m.yy));
    const double device = std::max(px(logical.height), 1.0) * scale;
    paint = paint && device <= kMaxDeviceText && device >= kMinDeviceText;
    if (paint) {
        cairo_move_to(cr, 0, 0);
        if (device <= kMaxGlyphText) {
            pango_cairo_show_layout(cr, laid->layout);
        } else {
            outline(cr, laid->layout);
        }
    }
    cairo_new_path(cr);
    cairo_restore(cr);
}

Cell size_text(Cell face, Cell text) {
    const Cell own = field(face, face_field::text);
    const Cell* use = cell::is(text, TypeId::string) ? &text : cell::is(own, TypeId::string) ? &own : nullptr;
    if (!use) return cell::none();
    const Cell font = field(face, face_field::font);
    PangoFontDescription* d = description_of(font);
    Laid laid;
    plain_layout(laid, measuring_cr(), utf8_of(*use), d, decorations_of(font));
    pango_font_description_free(d);
    PangoRectangle logical;
    pango_layout_get_extents(laid.layout, nullptr, &logical);
    return point::make2(static_cast<float>(px(logical.width)), static_cast<float>(px(logical.height)));
}

Cell text_box_metrics(Cell face, Cell argument, int32_t code) {
    if (!is_object(face) || code < 0 || code > 6) error::fire(ErrorId::invalid_arg, cell::integer(code));
    Laid scratch;
    const Laid& laid = face_layout(scratch, face);
    const int64_t n = text_length(laid);
    double x = 0, y = 0;
    switch (code) {
        case 0:
        case 6:
        case 2: {
            if (!cell::is(argument, TypeId::integer)) error::fire(ErrorId::invalid_arg, argument);
            // Positions are clamped to the text: 1 .. length + 1.
            const int64_t cp = std::clamp<int64_t>(cell::as_integer(argument), 1, n + 1) - 1;
            // The caret spans its whole line, whatever font each run of the line uses.
            const PangoRectangle r = char_rect(laid, cp);
            int y0 = 0, y1 = 0;
            line_yrange(laid, cp, y0, y1);
            if (code == 0)
                return point::make2(static_cast<float>(px(r.x) + laid.dx),
                                    static_cast<float>(std::max(0.0, px(y0) + laid.dy)));
            if (code == 6)
                return point::make2(static_cast<float>(px(r.x + r.width) + laid.dx),
                                    static_cast<float>(px(y1) + laid.dy));
            return cell::floating(px(y1 - y0));
        }
        case 1:
        case 5: {
            if (!point_of(argument, x, y)) error::fire(ErrorId::invalid_arg, argument);
            int trail = 0;
            int64_t cp = hit(laid, x, y, trail);
            if (code == 1) cp += trail;
            const int64_t last = code == 1 ? n + 1 : std::max<int64_t>(n, 1);
            return cell::integer(static_cast<int32_t>(std::clamp<int64_t>(cp + 1, 1, last)));
        }
        case 3: {
            PangoRectangle logical;
            pango_layout_get_extents(laid.layout, nullptr, &logical);
            return point::make2(static_cast<float>(px(logical.width)), static_cast<float>(px(logical.height)));
        }
        default: return cell::integer(pango_layout_get_line_count(laid.layout));
    }
}

void update_font(Cell font, int32_t changed) {
    // A change of colour (4) or of a field that is not the glyphs' keeps the cached description.
    if (changed == font_field::color || changed < 0 || changed > 5) return;
    // The state goes; the collector releases the description once no handle! names it, so a
    // handle kept elsewhere never names a reused entry.
    if (!cell::is(field(font, font_field::state), TypeId::block)) return;
    if (Cell* slot = context::value_at(font.w1, font_field::state)) *slot = cell::none();
}

}  // namespace zub::draw
