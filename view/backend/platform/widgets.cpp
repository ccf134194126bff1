// Native widgets. Each control face's window holds one GTK widget placed over its whole area;
// the face's facets go into the widget when the face is made and when they change, and the
// widget's signals come back as the face's values (set quietly: the face's own change handler
// is for changes made by scripts) and as events through the dispatcher. While the backend itself
// sets a widget, its signals are ignored, so a change made from Zub never echoes as an event.
#include "view/backend/platform/widgets.h"

#include <gtk/gtk.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/date.h"
#include "datatypes/event.h"
#include "datatypes/function.h"
#include "datatypes/object.h"
#include "datatypes/ownership.h"
#include "datatypes/pair.h"
#include "datatypes/point.h"
#include "datatypes/string.h"
#include "datatypes/tuple.h"
#include "datatypes/word.h"
#include "evaluator/native_args.h"
#include "evaluator/stack.h"
#include "runtime/unicode.h"
#include "view/backend/draw/shapes.h"
#include "view/backend/platform/events.h"
#include "view/backend/platform/place.h"
#include "view/backend/platform/values.h"

namespace zub::platform::widgets {
namespace {

using values::field;
using values::set_quiet;

namespace facet {
constexpr uint32_t type = 0, offset = 1, size = 2, text = 3, image = 4, color = 5, data = 7, enabled = 8, visible = 9,
                   selected = 10, flags = 11, options = 12, pane = 14, state = 15, para = 18, font = 19;
}  // namespace facet
namespace font_field {
constexpr uint32_t name = 0, size = 1, style = 2, color = 4;
}  // namespace font_field
namespace para_field {
constexpr uint32_t align = 3, v_align = 4, wrap = 5;
}  // namespace para_field

constexpr uint32_t bit(uint32_t f) { return 1u << f; }

enum class Kind : uint8_t {
    button,
    toggle,
    check,
    radio,
    field,
    area,
    text,
    text_list,
    drop_down,
    drop_list,
    progress,
    slider,
    scroller,
    group_box,
    tab_panel,
    calendar,
    count
};
constexpr const char* kKindNames[] = {"button",   "toggle",    "check",     "radio",     "field",    "area",
                                      "text",     "text-list", "drop-down", "drop-list", "progress", "slider",
                                      "scroller", "group-box", "tab-panel", "calendar"};
static_assert(std::size(kKindNames) == static_cast<size_t>(Kind::count));
symbol::Id g_kinds[std::size(kKindNames)];

enum Word : uint8_t {
    w_left,
    w_center,
    w_right,
    w_top,
    w_middle,
    w_bottom,
    w_bold,
    w_italic,
    w_underline,
    w_strike,
    w_tri_state,
    w_password,
    w_no_sync,
    w_hint,
    w_text,
    w_data,
    w_up,
    w_down,
    w_page_up,
    w_page_down,
    w_page_left,
    w_page_right,
    w_track,
    w_vertical,
    w_horizontal,
    w_count
};
constexpr const char* kWords[] = {
    "left",    "center",    "right",     "top",        "middle", "bottom",   "bold",      "italic", "underline",
    "strike",  "tri-state", "password",  "no-sync",    "hint",   "text",     "data",      "up",     "down",
    "page-up", "page-down", "page-left", "page-right", "track",  "vertical", "horizontal"};
static_assert(std::size(kWords) == w_count);
symbol::Id g_words[w_count];

struct Widget {
    WindowId id;
    Kind kind;
    GtkWidget* outer;  // what the window's container holds
    GtkWidget* inner;  // the control itself (a scrolled window's child)
    GtkCssProvider* css;
    GtkWidget* unmarked;  // a radio's hidden partner, marked when the radio is not
    // A button's images by state (normal, hot, pressed, disabled, default, stylus-hot); empty
    // without images. Each is a GtkImage the widget holds a reference to.
    std::vector<GtkWidget*> images;
    int shown_state = -1;
};
std::vector<Widget> g_widgets;
int g_quiet = 0;  // while above 0 the backend is setting widgets: their signals are its own

struct Quiet {
    Quiet() { ++g_quiet; }
    ~Quiet() { --g_quiet; }
    Quiet(const Quiet&) = delete;
    Quiet& operator=(const Quiet&) = delete;
};

Widget* find(WindowId id) {
    for (Widget& w : g_widgets)
        if (w.id == id) return &w;
    return nullptr;
}

// ---- Faces ---------------------------------------------------------------------------------------

bool is_object(const Cell& c) { return cell::is(c, TypeId::object); }
bool is_any_word(const Cell& c) {
    const TypeId t = cell::type(c);
    return t == TypeId::word || t == TypeId::lit_word || t == TypeId::get_word || t == TypeId::set_word;
}
bool is_word(const Cell& c, Word w) { return is_any_word(c) && symbol::resolve(word::symbol_of(c)) == g_words[w]; }

// The face of a widget's window now (the table roots it; re-read after anything that may run Zub).
Cell face_of(WindowId id) { return window_face(id); }

bool has_flag(const Cell& face, Word w) {
    const Cell flags = field(face, facet::flags);
    if (is_any_word(flags)) return is_word(flags, w);
    if (!cell::is(flags, TypeId::block)) return false;
    for (uint32_t i = 0, n = block::length(flags), h = block::head_index(flags); i < n; ++i)
        if (is_word(block::abs_at(flags, h + i), w)) return true;
    return false;
}

std::string utf8_of(const Cell& text) {
    switch (cell::type(text)) {
        case TypeId::string:
        case TypeId::file:
        case TypeId::url:
        case TypeId::tag:
        case TypeId::email:
        case TypeId::ref: break;
        default: return {};
    }
    Cell copy = text;
    const unicode::Converted u = unicode::string_to_utf8(copy);
    return std::string(reinterpret_cast<const char*>(u.data), u.size);
}

// Values of a list's data that become rows: the string-like ones (tabs: strings only).
bool row_value(const Cell& v, bool strings_only) {
    if (strings_only) return cell::is(v, TypeId::string);
    switch (cell::type(v)) {
        case TypeId::string:
        case TypeId::file:
        case TypeId::url:
        case TypeId::tag:
        case TypeId::email:
        case TypeId::ref: return true;
        default: return false;
    }
}

std::vector<std::string> rows_of(const Cell& data, bool strings_only) {
    std::vector<std::string> rows;
    if (!cell::is(data, TypeId::block) && !cell::is(data, TypeId::hash)) return rows;
    for (uint32_t i = 0, n = block::length(data), h = block::head_index(data); i < n; ++i) {
        const Cell v = block::abs_at(data, h + i);
        if (row_value(v, strings_only)) rows.push_back(utf8_of(v));
    }
    return rows;
}

// The 1-based selection as a 0-based row, -1 for none.
int32_t selected_row(const Cell& face) {
    const Cell s = field(face, facet::selected);
    return cell::is(s, TypeId::integer) ? cell::as_integer(s) - 1 : -1;
}

// The face's text becomes the widget's (a new string owned by the face; the old one is let go).
void store_text(WindowId id, const std::string& utf8) {
    Cell face = face_of(id);
    if (!is_object(face) || has_flag(face, w_no_sync)) return;
    const Cell old = field(face, facet::text);
    if (cell::is(old, TypeId::string) && utf8_of(old) == utf8) return;
    stack::Rooted text(string::from_utf8(utf8, false));
    face = face_of(id);
    if (!is_object(face)) return;
    if (cell::is(old, TypeId::string)) ownership::unset(old);
    set_quiet(face, facet::text, text.cell());
    ownership::set(text.cell(), face, cell::make(TypeId::word, 0, g_words[w_text], 0xFFFFFFFF));
}

// ---- Events --------------------------------------------------------------------------------------

// Sends an event to the face of a widget's window; the answer of the dispatcher (0: stop). A
// window gone since answers 1.
int32_t send(WindowId id, int32_t type, uint32_t flags = 0) {
    if (!window_exists(id)) return 1;
    return events::dispatch_simple(id, type, flags);
}

// The live modifiers, for a click.
uint32_t live_modifiers() {
    GdkModifierType state{};
    uint32_t bits = 0;
    if (gtk_get_current_event_state(&state)) {
        if (state & GDK_CONTROL_MASK) bits |= event::flag::control;
        if (state & GDK_SHIFT_MASK) bits |= event::flag::shift;
        if (state & GDK_MOD1_MASK) bits |= event::flag::alt;
    }
    return bits;
}

// The top window's face takes the control as its selected face (the one to get the focus back).
void select_in_window(WindowId id) {
    const Cell top = face_of(window_root(id));
    const Cell face = face_of(id);
    if (is_object(top) && is_object(face)) set_quiet(top, facet::selected, face);
}

template <class F>
void guarded(F&& f) {
    try {
        f();
    } catch (...) {
        // A fault of ours must not unwind into GTK; what actors raise stays in the dispatcher.
    }
}

WindowId id_of(gpointer tag) { return static_cast<WindowId>(GPOINTER_TO_UINT(tag)); }

// ---- Colours, fonts, alignment ------------------------------------------------------------------

std::string css_colour(const Cell& tuple) {
    uint8_t b[tuple::kMaxBytes];
    tuple::bytes(tuple, b);
    const double alpha = tuple::count(tuple) >= 4 ? (255 - b[3]) / 255.0 : 1.0;
    char out[64];
    std::snprintf(out, sizeof out, "rgba(%u,%u,%u,%.3f)", b[0], b[1], b[2], alpha);
    return out;
}

// The face's colour, font and its colour as the widget's own style.
void apply_style(Widget& w, const Cell& face) {
    std::string css = "* {";
    const Cell colour = field(face, facet::color);
    if (cell::is(colour, TypeId::tuple)) css += "background-color: " + css_colour(colour) + "; background-image: none;";
    const Cell font = field(face, facet::font);
    if (is_object(font)) {
        const Cell fc = field(font, font_field::color);
        if (cell::is(fc, TypeId::tuple)) css += "color: " + css_colour(fc) + ";";
        const std::string name = utf8_of(field(font, font_field::name));
        if (!name.empty() && name.find_first_of("\";{}") == std::string::npos) css += "font-family: \"" + name + "\";";
        const Cell size = field(font, font_field::size);
        if (cell::is(size, TypeId::integer) && cell::as_integer(size) > 0)
            css += "font-size: " + std::to_string(cell::as_integer(size)) + "pt;";
        const Cell style = field(font, font_field::style);
        const auto styled = [&style](Word s) {
            if (is_any_word(style)) return is_word(style, s);
            if (!cell::is(style, TypeId::block)) return false;
            for (uint32_t i = 0, n = block::length(style), h = block::head_index(style); i < n; ++i)
                if (is_word(block::abs_at(style, h + i), s)) return true;
            return false;
        };
        if (styled(w_bold)) css += "font-weight: bold;";
        if (styled(w_italic)) css += "font-style: italic;";
        if (styled(w_underline)) css += "text-decoration-line: underline;";
        else if (styled(w_strike)) css += "text-decoration-line: line-through;";
    }
    css += "}";
    if (!w.css) {
        w.css = gtk_css_provider_new();
        GtkWidget* parts[] = {w.outer, w.inner};
        for (GtkWidget* part : parts)
            gtk_style_context_add_provider(gtk_widget_get_style_context(part), GTK_STYLE_PROVIDER(w.css),
                                           GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    }
    gtk_css_provider_load_from_data(w.css, css.c_str(), -1, nullptr);
}

struct Align {
    float x, y;
    bool wrap;
};

// The para's alignment: horizontal and vertical as fractions, and wrapping (none counts as on).
Align align_of(const Cell& face, float x, float y) {
    Align a{x, y, true};
    const Cell para = field(face, facet::para);
    if (!is_object(para)) return a;
    const Cell h = field(para, para_field::align), v = field(para, para_field::v_align);
    if (is_word(h, w_left)) a.x = 0;
    else if (is_word(h, w_center)) a.x = 0.5f;
    else if (is_word(h, w_right)) a.x = 1;
    if (is_word(v, w_top)) a.y = 0;
    else if (is_word(v, w_middle)) a.y = 0.5f;
    else if (is_word(v, w_bottom)) a.y = 1;
    const Cell wrap = field(para, para_field::wrap);
    a.wrap = cell::is(wrap, TypeId::none) || cell::truthy(wrap);
    return a;
}

GtkLabel* label_in(GtkWidget* widget) {
    if (GTK_IS_LABEL(widget)) return GTK_LABEL(widget);
    if (GTK_IS_BIN(widget)) {
        GtkWidget* child = gtk_bin_get_child(GTK_BIN(widget));
        if (child && GTK_IS_LABEL(child)) return GTK_LABEL(child);
    }
    return nullptr;
}

void apply_para(Widget& w, const Cell& face) {
    switch (w.kind) {
        case Kind::button:
        case Kind::toggle:
        case Kind::check:
        case Kind::radio: {
            const bool centred = w.kind == Kind::button || w.kind == Kind::toggle;
            const Align a = align_of(face, centred ? 0.5f : 0, 0.5f);
            if (GtkLabel* label = label_in(w.inner)) {
                gtk_label_set_xalign(label, a.x);
                gtk_label_set_yalign(label, a.y);
            }
            break;
        }
        case Kind::text: {
            const Align a = align_of(face, 0, 0);
            GtkLabel* label = GTK_LABEL(w.inner);
            gtk_label_set_xalign(label, a.x);
            gtk_label_set_yalign(label, a.y);
            gtk_label_set_line_wrap(label, a.wrap);
            gtk_label_set_ellipsize(label, a.wrap ? PANGO_ELLIPSIZE_NONE : PANGO_ELLIPSIZE_END);
            break;
        }
        case Kind::field: gtk_entry_set_alignment(GTK_ENTRY(w.inner), align_of(face, 0, 0).x); break;
        case Kind::area: {
            const Align a = align_of(face, 0, 0);
            GtkTextView* view = GTK_TEXT_VIEW(w.inner);
            gtk_text_view_set_justification(view, a.x >= 1  ? GTK_JUSTIFY_RIGHT
                                                  : a.x > 0 ? GTK_JUSTIFY_CENTER
                                                            : GTK_JUSTIFY_LEFT);
            gtk_text_view_set_wrap_mode(view, a.wrap ? GTK_WRAP_WORD_CHAR : GTK_WRAP_NONE);
            break;
        }
        default: break;
    }
}

// ---- Values into widgets -------------------------------------------------------------------------

// A progress or slider value as a ratio in 0..1; -1 for none.
double ratio_of(const Cell& v) {
    double r = 0;
    if (cell::is(v, TypeId::integer)) r = cell::as_integer(v);
    else if (cell::is(v, TypeId::float_) || cell::is(v, TypeId::percent)) r = cell::as_float(v);
    else return -1;
    if (!(r >= 0)) return 0;  // NaN too
    return std::min(r, 1.0);
}

void fill_text_list(Widget& w, const Cell& face) {
    GtkTreeView* view = GTK_TREE_VIEW(w.inner);
    GtkListStore* store = GTK_LIST_STORE(gtk_tree_view_get_model(view));
    gtk_list_store_clear(store);
    for (const std::string& row : rows_of(field(face, facet::data), false))
        gtk_list_store_insert_with_values(store, nullptr, -1, 0, row.c_str(), -1);
}

void select_text_list(Widget& w, const Cell& face) {
    GtkTreeSelection* selection = gtk_tree_view_get_selection(GTK_TREE_VIEW(w.inner));
    if (!cell::is(field(face, facet::selected), TypeId::integer)) {
        set_quiet(face, facet::selected, cell::integer(-1));
        return;
    }
    const int32_t row = selected_row(face);
    GtkTreeModel* model = gtk_tree_view_get_model(GTK_TREE_VIEW(w.inner));
    if (row < 0 || row >= gtk_tree_model_iter_n_children(model, nullptr)) {
        gtk_tree_selection_unselect_all(selection);
        return;
    }
    GtkTreePath* path = gtk_tree_path_new_from_indices(row, -1);
    gtk_tree_selection_select_path(selection, path);
    gtk_tree_view_scroll_to_cell(GTK_TREE_VIEW(w.inner), path, nullptr, FALSE, 0, 0);
    gtk_tree_path_free(path);
}

GtkComboBoxText* combo(const Widget& w) { return GTK_COMBO_BOX_TEXT(w.inner); }

void fill_combo(Widget& w, const Cell& face) {
    gtk_combo_box_text_remove_all(combo(w));
    for (const std::string& row : rows_of(field(face, facet::data), false))
        gtk_combo_box_text_append_text(combo(w), row.c_str());
}

void select_combo(Widget& w, const Cell& face) {
    const Cell text = field(face, facet::text);
    const int32_t rows = static_cast<int32_t>(rows_of(field(face, facet::data), false).size());
    if (cell::is(field(face, facet::selected), TypeId::integer)) {
        const int32_t row = selected_row(face);
        gtk_combo_box_set_active(GTK_COMBO_BOX(w.inner), row >= 0 && row < rows ? row : -1);
    } else if (w.kind == Kind::drop_down) {
        GtkWidget* entry = gtk_bin_get_child(GTK_BIN(w.inner));
        gtk_entry_set_text(GTK_ENTRY(entry), utf8_of(text).c_str());
    } else {
        gtk_combo_box_set_active(GTK_COMBO_BOX(w.inner), -1);
    }
}

// The tab panel's pages: one empty page per tab; the faces of `pane` are placed over them.
void fill_tabs(Widget& w, const Cell& face) {
    GtkNotebook* book = GTK_NOTEBOOK(w.inner);
    while (gtk_notebook_get_n_pages(book) > 0) gtk_notebook_remove_page(book, -1);
    for (const std::string& tab : rows_of(field(face, facet::data), true)) {
        GtkWidget* page = gtk_event_box_new();
        gtk_widget_show(page);
        gtk_notebook_append_page(book, page, gtk_label_new(tab.c_str()));
    }
}

// Shows the panel of tab `tab` (0-based) and hides the one of the face's selected tab.
void show_tab_panel(const Cell& face, int32_t tab) {
    const Cell pane = field(face, facet::pane);
    if (!cell::is(pane, TypeId::block)) return;
    const uint32_t h = block::head_index(pane), n = block::length(pane);
    const auto set_shown = [&](int32_t i, bool on) {
        if (i < 0 || static_cast<uint32_t>(i) >= n) return;
        const Cell panel = block::abs_at(pane, h + i);
        if (!is_object(panel)) return;
        set_quiet(panel, facet::visible, cell::logic(on));
        const Cell state = field(panel, facet::state);
        if (!cell::is(state, TypeId::block) || block::length(state) == 0) return;
        if (const WindowId pid = window_from_handle(*block::head(state))) {
            window_show(pid, on);
            if (on) window_raise(pid);
        }
    };
    set_shown(tab, true);
    const int32_t before = selected_row(face);
    if (before != tab) set_shown(before, false);
}

void select_tab(Widget& w, const Cell& face) {
    GtkNotebook* book = GTK_NOTEBOOK(w.inner);
    const int32_t count = gtk_notebook_get_n_pages(book);
    // No tabs: nothing is selected (rather than a first tab that is not there).
    if (count == 0) {
        set_quiet(face, facet::selected, cell::none());
        return;
    }
    const Cell s = field(face, facet::selected);
    if (!cell::is(s, TypeId::integer)) {
        set_quiet(face, facet::selected, cell::integer(1));
        return;
    }
    const int32_t tab = std::clamp(cell::as_integer(s), 1, count);
    set_quiet(face, facet::selected, cell::integer(tab));
    gtk_notebook_set_current_page(book, tab - 1);
    show_tab_panel(face, tab - 1);
}

// The panels of a tab panel go over its page area (known once GTK has laid the tabs out).
void place_tab_panels(WindowId id) {
    Widget* w = find(id);
    if (!w) return;
    GtkNotebook* book = GTK_NOTEBOOK(w->inner);
    GtkWidget* page = gtk_notebook_get_nth_page(book, std::max(0, gtk_notebook_get_current_page(book)));
    GtkAllocation area{};
    if (page && gtk_widget_get_mapped(page)) {
        int x = 0, y = 0;
        GtkAllocation a;
        gtk_widget_get_allocation(page, &a);
        (void)gtk_widget_translate_coordinates(page, w->inner, 0, 0, &x, &y);
        area = GtkAllocation{x, y, a.width, a.height};
    } else {
        return;
    }
    const Cell face = face_of(id);
    const Cell pane = field(face, facet::pane);
    if (!cell::is(pane, TypeId::block)) return;
    const int factor = gtk_widget_get_scale_factor(w->inner);
    const double x = to_units(area.x * factor), y = to_units(area.y * factor);
    const double width = to_units(area.width * factor), height = to_units(area.height * factor);
    for (uint32_t i = 0, n = block::length(pane), h = block::head_index(pane); i < n; ++i) {
        const Cell panel = block::abs_at(pane, h + i);
        if (!is_object(panel)) continue;
        set_quiet(panel, facet::offset, point::make2(static_cast<float>(x), static_cast<float>(y)));
        if (cell::is(field(panel, facet::size), TypeId::pair))
            set_quiet(panel, facet::size, pair::make(static_cast<int32_t>(width), static_cast<int32_t>(height)));
        else set_quiet(panel, facet::size, point::make2(static_cast<float>(width), static_cast<float>(height)));
        const Cell state = field(panel, facet::state);
        if (!cell::is(state, TypeId::block) || block::length(state) == 0) continue;
        if (const WindowId pid = window_from_handle(*block::head(state)))
            window_set_rect(pid, Rect{to_pixels(x), to_pixels(y), to_pixels(width), to_pixels(height)});
    }
}

void clamp_year(int32_t& year) { year = std::clamp(year, 1601, 9999); }

void set_calendar(Widget& w, WindowId id) {
    const Cell face = face_of(id);
    const Cell data = field(face, facet::data);
    GtkCalendar* cal = GTK_CALENDAR(w.inner);
    if (cell::is(data, TypeId::date)) {
        const uint32_t packed = date::packed_of(data);
        int32_t year = date::year(packed);
        clamp_year(year);
        gtk_calendar_select_month(cal, date::month(packed) - 1, static_cast<guint>(year));
        gtk_calendar_select_day(cal, date::day(packed));
    }
    guint year = 0, month = 0, day = 0;
    gtk_calendar_get_date(cal, &year, &month, &day);
    int32_t y = static_cast<int32_t>(year);
    clamp_year(y);
    set_quiet(face, facet::data, date::make(date::pack(y, month + 1, day, 0), 0));
}

// The selection pair of a field or area, clamped to its text: none when empty.
void set_text_selection(Widget& w, const Cell& face) {
    const Cell s = field(face, facet::selected);
    if (w.kind != Kind::field) return;
    GtkEditable* edit = GTK_EDITABLE(w.inner);
    const int32_t length = static_cast<int32_t>(g_utf8_strlen(gtk_entry_get_text(GTK_ENTRY(w.inner)), -1));
    if (!cell::is(s, TypeId::pair)) {
        gtk_editable_select_region(edit, 0, 0);
        return;
    }
    const int32_t start = std::clamp(pair::x(s) - 1, 0, length), end = std::clamp(pair::y(s), start, length);
    gtk_editable_select_region(edit, start, end);
    set_quiet(face, facet::selected, end > start ? pair::make(start + 1, end) : cell::none());
}

void set_text(Widget& w, const Cell& face) {
    const std::string text = utf8_of(field(face, facet::text));
    switch (w.kind) {
        case Kind::button:
        case Kind::toggle:
        case Kind::check:
        case Kind::radio:
            gtk_button_set_label(GTK_BUTTON(w.inner), text.c_str());
            apply_para(w, face);
            break;
        case Kind::text: gtk_label_set_text(GTK_LABEL(w.inner), text.c_str()); break;
        case Kind::group_box: gtk_frame_set_label(GTK_FRAME(w.inner), text.empty() ? nullptr : text.c_str()); break;
        case Kind::field:
            if (text != gtk_entry_get_text(GTK_ENTRY(w.inner))) gtk_entry_set_text(GTK_ENTRY(w.inner), text.c_str());
            break;
        case Kind::area: {
            GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(w.inner));
            GtkTextIter a, b;
            gtk_text_buffer_get_bounds(buffer, &a, &b);
            gchar* now = gtk_text_buffer_get_text(buffer, &a, &b, FALSE);
            if (text != now) gtk_text_buffer_set_text(buffer, text.c_str(), -1);
            g_free(now);
            break;
        }
        case Kind::drop_down:
            if (!cell::is(field(face, facet::selected), TypeId::integer))
                gtk_entry_set_text(GTK_ENTRY(gtk_bin_get_child(GTK_BIN(w.inner))), text.c_str());
            break;
        default: break;
    }
}

// A copy of the image scaled to w x h pixels (its own size for 0), for the display's scale.
GtkWidget* scaled_image(const Cell& image, int w, int h) {
    cairo_surface_t* source = draw::surface_of_image(image);
    if (!source) return nullptr;
    const int sw = cairo_image_surface_get_width(source), sh = cairo_image_surface_get_height(source);
    const int tw = w > 0 ? w : sw, th = h > 0 ? h : sh;
    cairo_surface_t* shown = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, std::max(1, tw), std::max(1, th));
    cairo_t* cr = cairo_create(shown);
    if (sw > 0 && sh > 0) cairo_scale(cr, static_cast<double>(tw) / sw, static_cast<double>(th) / sh);
    cairo_set_source_surface(cr, source, 0, 0);
    cairo_paint(cr);
    cairo_destroy(cr);
    cairo_surface_destroy(source);
    const double s = scale();
    cairo_surface_set_device_scale(shown, s, s);
    GtkWidget* made = gtk_image_new_from_surface(shown);
    cairo_surface_destroy(shown);
    return GTK_WIDGET(g_object_ref_sink(made));
}

void drop_images(Widget& w) {
    for (GtkWidget* image : w.images) g_object_unref(image);
    w.images.clear();
}

// The image state a button is in: pressed, hot or disabled before the default button's own.
int image_state(GtkWidget* button) {
    const GtkStateFlags flags = gtk_widget_get_state_flags(button);
    if (flags & GTK_STATE_FLAG_INSENSITIVE) return 3;
    if (flags & GTK_STATE_FLAG_ACTIVE) return 2;
    if (flags & GTK_STATE_FLAG_PRELIGHT) return 1;
    return gtk_widget_has_default(button) ? 4 : 0;
}

void show_image_state(Widget& w) {
    if (w.images.size() < 2) return;  // one image shows in every state
    const int state = image_state(w.inner);
    if (state == w.shown_state) return;
    w.shown_state = state;
    gtk_button_set_image(GTK_BUTTON(w.inner), w.images[static_cast<size_t>(state)]);
}

void on_button_state(GtkWidget*, GtkStateFlags, gpointer tag) {
    if (Widget* w = find(id_of(tag))) show_image_state(*w);
}

// A button's images: an image! at its own size, or a block of images at the face's size (one
// image at the pair after it when the block is [image pair]). With several, the six states take
// them in order (normal, hot, pressed, disabled, default, stylus-hot), the first standing in for
// states past the last given.
void set_button_image(Widget& w, const Cell& face) {
    if (w.kind != Kind::button && w.kind != Kind::toggle) return;
    const Cell image = field(face, facet::image);
    double width = 0, height = 0;
    std::vector<Cell> given;
    if (cell::is(image, TypeId::block) && block::length(image) > 0) {
        const uint32_t h = block::head_index(image), n = block::length(image);
        const bool sized = n == 2 && !cell::is(block::abs_at(image, h + 1), TypeId::image);
        const Cell size = sized ? block::abs_at(image, h + 1) : field(face, facet::size);
        (void)point::xy(size, width, height);
        for (uint32_t i = 0; i < (sized ? 1 : std::min<uint32_t>(n, 6)); ++i)
            given.push_back(block::abs_at(image, h + i));
    } else if (cell::is(image, TypeId::image)) {
        given.push_back(image);
    }
    drop_images(w);
    const int tw = width >= 1 ? to_pixels(width) : 0, th = height >= 1 ? to_pixels(height) : 0;
    GtkWidget* first = given.empty() || !cell::is(given[0], TypeId::image) ? nullptr : scaled_image(given[0], tw, th);
    if (!first) {
        gtk_button_set_image(GTK_BUTTON(w.inner), nullptr);
        return;
    }
    w.images.push_back(first);
    if (given.size() > 1) {
        for (size_t k = 1; k < 6; ++k) {
            GtkWidget* state =
                k < given.size() && cell::is(given[k], TypeId::image) ? scaled_image(given[k], tw, th) : nullptr;
            w.images.push_back(state ? state : GTK_WIDGET(g_object_ref(first)));
        }
    }
    w.shown_state = -1;
    gtk_button_set_always_show_image(GTK_BUTTON(w.inner), TRUE);
    if (w.images.size() == 1) gtk_button_set_image(GTK_BUTTON(w.inner), first);
    else show_image_state(w);
}

// The check state a check box's data stands for: on, off, or (tri-state, none) undetermined.
void set_check(Widget& w, const Cell& face) {
    GtkToggleButton* toggle = GTK_TOGGLE_BUTTON(w.inner);
    const Cell data = field(face, facet::data);
    const bool undetermined = w.kind == Kind::check && has_flag(face, w_tri_state) && cell::is(data, TypeId::none);
    gtk_toggle_button_set_inconsistent(toggle, undetermined);
    const bool on = !undetermined && cell::truthy(data);
    // A radio loses its mark only to another of its group: its hidden partner takes it.
    if (w.unmarked && !on) gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(w.unmarked), TRUE);
    else gtk_toggle_button_set_active(toggle, on);
}

void set_data(Widget& w, WindowId id, const Cell& face) {
    switch (w.kind) {
        case Kind::toggle:
        case Kind::check:
        case Kind::radio: set_check(w, face); break;
        case Kind::progress: {
            const double r = ratio_of(field(face, facet::data));
            gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(w.inner), std::max(0.0, r));
            break;
        }
        case Kind::slider:
        case Kind::scroller: {
            const double r = ratio_of(field(face, facet::data));
            gtk_range_set_value(GTK_RANGE(w.inner), std::max(0.0, r));
            break;
        }
        case Kind::text_list:
            fill_text_list(w, face);
            select_text_list(w, face);
            break;
        case Kind::drop_down:
        case Kind::drop_list:
            fill_combo(w, face);
            select_combo(w, face);
            break;
        case Kind::tab_panel:
            fill_tabs(w, face);
            select_tab(w, face);
            break;
        case Kind::calendar: set_calendar(w, id); break;
        default: break;
    }
}

// A scroller's bar spans 0..1: its page is the face's `selected` ratio (a page of nothing is
// ignored), a step the ratio in its `steps` field (a tenth without one).
void set_scroller_page(Widget& w, const Cell& face) {
    GtkAdjustment* adjustment = gtk_range_get_adjustment(GTK_RANGE(w.inner));
    const double page = ratio_of(field(face, facet::selected));
    if (page > 0) {
        gtk_adjustment_set_page_size(adjustment, page);
        gtk_adjustment_set_page_increment(adjustment, page);
    }
    const int32_t at = object::find_word(face, symbol::make("steps"));
    const double step = at < 0 ? -1 : ratio_of(*context::value_at(face.w1, static_cast<uint32_t>(at)));
    gtk_adjustment_set_step_increment(adjustment, step > 0 ? step : 0.1);
}

void set_selected(Widget& w, const Cell& face) {
    switch (w.kind) {
        case Kind::scroller: set_scroller_page(w, face); break;
        case Kind::text_list: select_text_list(w, face); break;
        case Kind::drop_down:
        case Kind::drop_list: select_combo(w, face); break;
        case Kind::tab_panel: select_tab(w, face); break;
        case Kind::field: set_text_selection(w, face); break;
        default: break;
    }
}

void set_options(Widget& w, const Cell& face) {
    if (w.kind != Kind::field) return;
    const Cell options = field(face, facet::options);
    std::string hint;
    if (cell::is(options, TypeId::block)) {
        for (uint32_t i = 0, n = block::length(options), h = block::head_index(options); i + 1 < n; i += 2)
            if (is_word(block::abs_at(options, h + i), w_hint)) hint = utf8_of(block::abs_at(options, h + i + 1));
    }
    gtk_entry_set_placeholder_text(GTK_ENTRY(w.inner), hint.empty() ? nullptr : hint.c_str());
    gtk_entry_set_visibility(GTK_ENTRY(w.inner), !has_flag(face, w_password));
}

// ---- Signals -------------------------------------------------------------------------------------

void on_destroy(GtkWidget* outer, gpointer) {
    for (auto it = g_widgets.begin(); it != g_widgets.end(); ++it) {
        if (it->outer != outer) continue;
        if (it->css) g_object_unref(it->css);
        drop_images(*it);
        if (it->unmarked) {
            gtk_widget_destroy(it->unmarked);
            g_object_unref(it->unmarked);
        }
        g_widgets.erase(it);
        return;
    }
}

void on_clicked(GtkButton*, gpointer tag) {
    if (g_quiet) return;
    guarded([&] {
        const WindowId id = id_of(tag);
        select_in_window(id);
        (void)send(id, event::click, live_modifiers());
    });
}

void on_toggled(GtkToggleButton* button, gpointer tag) {
    if (g_quiet) return;
    guarded([&] {
        const WindowId id = id_of(tag);
        Widget* w = find(id);
        const Cell face = face_of(id);
        if (!w || !is_object(face)) return;
        const bool active = gtk_toggle_button_get_active(button);
        if (w->kind == Kind::check && has_flag(face, w_tri_state)) {
            // unchecked, checked, undetermined, unchecked again
            const Cell before = field(face, facet::data);
            const Cell next = cell::is(before, TypeId::none) ? cell::logic(false)
                              : cell::truthy(before)         ? cell::none()
                                                             : cell::logic(true);
            set_quiet(face, facet::data, next);
            const Quiet quiet;
            set_check(*w, face);
        } else if (w->kind == Kind::radio) {
            // Marked by the user: click (the front end unmarks the radios beside it); a radio's
            // partner taking the mark is a change made from Zub.
            if (!active) return;
            set_quiet(face, facet::data, cell::logic(true));
            select_in_window(id);
            (void)send(id, event::click, live_modifiers());
            return;
        } else {
            set_quiet(face, facet::data, cell::logic(active));
        }
        (void)send(id, event::change);
    });
}

void on_entry_changed(GtkEditable* edit, gpointer tag) {
    if (g_quiet) return;
    guarded([&] {
        const WindowId id = id_of(tag);
        store_text(id, gtk_entry_get_text(GTK_ENTRY(edit)));
        (void)send(id, event::change);
    });
}

void on_buffer_changed(GtkTextBuffer* buffer, gpointer tag) {
    if (g_quiet) return;
    guarded([&] {
        const WindowId id = id_of(tag);
        GtkTextIter a, b;
        gtk_text_buffer_get_bounds(buffer, &a, &b);
        gchar* now = gtk_text_buffer_get_text(buffer, &a, &b, FALSE);
        const std::string text = now ? now : "";
        g_free(now);
        store_text(id, text);
        (void)send(id, event::change);
    });
}

void on_range_changed(GtkRange* range, gpointer tag) {
    if (g_quiet) return;
    guarded([&] {
        const WindowId id = id_of(tag);
        const Widget* w = find(id);
        const Cell face = face_of(id);
        if (!w || !is_object(face)) return;
        const double v = gtk_range_get_value(range);
        set_quiet(face, facet::data, w->kind == Kind::slider ? cell::floating(v, TypeId::percent) : cell::floating(v));
        if (w->kind == Kind::scroller) {
            const double page = gtk_adjustment_get_page_size(gtk_range_get_adjustment(range));
            set_quiet(face, facet::selected, cell::floating(page, TypeId::percent));
        }
        (void)send(id, event::change);
    });
}

// The control becoming its window's focus widget (focus; it is then the window's selected face)
// or ceasing to be (unfocus).
void on_focus_changed(GtkWidget* widget, GParamSpec*, gpointer tag) {
    if (g_quiet || gtk_widget_in_destruction(widget)) return;
    guarded([&] {
        const WindowId id = id_of(tag);
        if (gtk_widget_is_focus(widget)) {
            select_in_window(id);
            (void)send(id, event::focus);
        } else {
            (void)send(id, event::unfocus);
        }
    });
}

// A list's row chosen by the user: select (its answer may refuse the change), then change.
void list_selected(WindowId id, int32_t row) {
    Cell face = face_of(id);
    if (!is_object(face) || row < 0 || selected_row(face) == row) return;
    const int32_t answer = send(id, event::select, static_cast<uint32_t>(row + 1) & 0xFFFF);
    face = face_of(id);
    if (!is_object(face) || selected_row(face) == row) return;
    set_quiet(face, facet::selected, cell::integer(row + 1));
    if (const Widget* w = find(id); w && w->kind != Kind::text_list) {
        const Cell data = field(face, facet::data);
        const std::vector<std::string> rows = rows_of(data, false);
        if (static_cast<size_t>(row) < rows.size()) store_text(id, rows[static_cast<size_t>(row)]);
    }
    if (answer != 0) (void)send(id, event::change);
}

void on_tree_selection(GtkTreeSelection* selection, gpointer tag) {
    if (g_quiet) return;
    guarded([&] {
        GtkTreeModel* model = nullptr;
        GtkTreeIter iter;
        if (!gtk_tree_selection_get_selected(selection, &model, &iter)) return;
        GtkTreePath* path = gtk_tree_model_get_path(model, &iter);
        const int32_t row = gtk_tree_path_get_indices(path)[0];
        gtk_tree_path_free(path);
        list_selected(id_of(tag), row);
    });
}

void on_combo_changed(GtkComboBox* box, gpointer tag) {
    if (g_quiet) return;
    guarded([&] {
        const WindowId id = id_of(tag);
        const int32_t row = gtk_combo_box_get_active(box);
        if (row >= 0) {
            list_selected(id, row);
            return;
        }
        // Typed into a drop-down's entry: its text, no selection.
        GtkWidget* entry = gtk_bin_get_child(GTK_BIN(box));
        if (!entry || !GTK_IS_ENTRY(entry)) return;
        store_text(id, gtk_entry_get_text(GTK_ENTRY(entry)));
        const Cell face = face_of(id);
        if (is_object(face)) set_quiet(face, facet::selected, cell::none());
        (void)send(id, event::change);
    });
}

// Before a tab is left: select carries the new tab; an answer of stop keeps the old one.
void on_switch_page(GtkNotebook* book, GtkWidget*, guint page, gpointer tag) {
    if (g_quiet) return;
    guarded([&] {
        if (send(id_of(tag), event::select, (page + 1) & 0xFFFF) == 0)
            g_signal_stop_emission_by_name(book, "switch-page");
    });
}

void on_page_switched(GtkNotebook*, GtkWidget*, guint page, gpointer tag) {
    if (g_quiet) return;
    guarded([&] {
        const WindowId id = id_of(tag);
        Cell face = face_of(id);
        if (!is_object(face)) return;
        show_tab_panel(face, static_cast<int32_t>(page));
        set_quiet(face, facet::selected, cell::integer(static_cast<int32_t>(page) + 1));
        (void)send(id, event::change, (page + 1) & 0xFFFF);
        face = face_of(id);
        if (is_object(face)) set_quiet(face, facet::selected, cell::integer(static_cast<int32_t>(page) + 1));
    });
}

void on_notebook_allocated(GtkWidget*, GdkRectangle*, gpointer tag) {
    guarded([&] { place_tab_panels(id_of(tag)); });
}

void on_day_selected(GtkCalendar*, gpointer tag) {
    if (g_quiet) return;
    guarded([&] {
        const WindowId id = id_of(tag);
        Widget* w = find(id);
        if (!w) return;
        const Cell face = face_of(id);
        set_quiet(face, facet::data, cell::none());  // read back from the calendar
        {
            const Quiet quiet;
            set_calendar(*w, id);
        }
        (void)send(id, event::change);
    });
}

// ---- Making --------------------------------------------------------------------------------------

int32_t kind_of(const Cell& face) {
    const Cell type = field(face, facet::type);
    if (!is_any_word(type)) return -1;
    const symbol::Id s = symbol::resolve(word::symbol_of(type));
    for (size_t i = 0; i < std::size(g_kinds); ++i)
        if (g_kinds[i] == s) return static_cast<int32_t>(i);
    return -1;
}

GtkWidget* scrolled(GtkWidget* inner) {
    GtkWidget* outer = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(outer), GTK_POLICY_AUTOMATIC, GTK_POLICY_AUTOMATIC);
    gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(outer), GTK_SHADOW_IN);
    gtk_container_add(GTK_CONTAINER(outer), inner);
    return outer;
}

// Makes the widget of a kind, wired to the window's id; the outer widget is what is placed.
GtkWidget* create(Kind kind, WindowId id, GtkWidget*& inner, gpointer tag) {
    const Rect r = window_rect(id);
    const bool vertical = r.height > r.width;
    switch (kind) {
        case Kind::button:
            inner = gtk_button_new_with_label("");
            g_signal_connect(inner, "clicked", G_CALLBACK(on_clicked), tag);
            g_signal_connect(inner, "state-flags-changed", G_CALLBACK(on_button_state), tag);
            return inner;
        case Kind::toggle:
        case Kind::check:
        case Kind::radio:
            inner = kind == Kind::toggle  ? gtk_toggle_button_new_with_label("")
                    : kind == Kind::check ? gtk_check_button_new_with_label("")
                                          : gtk_radio_button_new_with_label(nullptr, "");
            g_signal_connect(inner, "toggled", G_CALLBACK(on_toggled), tag);
            if (kind == Kind::toggle) g_signal_connect(inner, "state-flags-changed", G_CALLBACK(on_button_state), tag);
            return inner;
        case Kind::field:
            inner = gtk_entry_new();
            g_signal_connect(inner, "changed", G_CALLBACK(on_entry_changed), tag);
            return inner;
        case Kind::area:
            inner = gtk_text_view_new();
            g_signal_connect(gtk_text_view_get_buffer(GTK_TEXT_VIEW(inner)), "changed", G_CALLBACK(on_buffer_changed),
                             tag);
            return scrolled(inner);
        case Kind::text: inner = gtk_label_new(""); return inner;
        case Kind::text_list: {
            GtkListStore* store = gtk_list_store_new(1, G_TYPE_STRING);
            inner = gtk_tree_view_new_with_model(GTK_TREE_MODEL(store));
            g_object_unref(store);
            gtk_tree_view_set_headers_visible(GTK_TREE_VIEW(inner), FALSE);
            gtk_tree_view_insert_column_with_attributes(GTK_TREE_VIEW(inner), -1, "", gtk_cell_renderer_text_new(),
                                                        "text", 0, nullptr);
            g_signal_connect(gtk_tree_view_get_selection(GTK_TREE_VIEW(inner)), "changed",
                             G_CALLBACK(on_tree_selection), tag);
            return scrolled(inner);
        }
        case Kind::drop_down:
        case Kind::drop_list:
            inner = kind == Kind::drop_down ? gtk_combo_box_text_new_with_entry() : gtk_combo_box_text_new();
            g_signal_connect(inner, "changed", G_CALLBACK(on_combo_changed), tag);
            return inner;
        case Kind::progress:
            inner = gtk_progress_bar_new();
            if (vertical) {
                gtk_orientable_set_orientation(GTK_ORIENTABLE(inner), GTK_ORIENTATION_VERTICAL);
                gtk_progress_bar_set_inverted(GTK_PROGRESS_BAR(inner), TRUE);
            }
            return inner;
        case Kind::slider:
        case Kind::scroller: {
            const GtkOrientation o = vertical ? GTK_ORIENTATION_VERTICAL : GTK_ORIENTATION_HORIZONTAL;
            if (kind == Kind::slider) {
                inner = gtk_scale_new_with_range(o, 0, 1, 0.01);
                gtk_scale_set_draw_value(GTK_SCALE(inner), FALSE);
                if (vertical) gtk_range_set_inverted(GTK_RANGE(inner), TRUE);
                // The theme's room around the trough would not fit a face of the usual height.
                GtkCssProvider* tight = gtk_css_provider_new();
                gtk_css_provider_load_from_data(tight, "scale { padding: 0; margin: 0; }", -1, nullptr);
                gtk_style_context_add_provider(gtk_widget_get_style_context(inner), GTK_STYLE_PROVIDER(tight),
                                               GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
                g_object_unref(tight);
            } else {
                inner = gtk_scrollbar_new(o, gtk_adjustment_new(0, 0, 1, 0.1, 0.1, 0));
            }
            g_signal_connect(inner, "value-changed", G_CALLBACK(on_range_changed), tag);
            return inner;
        }
        case Kind::group_box: inner = gtk_frame_new(nullptr); return inner;
        case Kind::tab_panel:
            inner = gtk_notebook_new();
            gtk_notebook_set_scrollable(GTK_NOTEBOOK(inner), TRUE);
            g_signal_connect(inner, "switch-page", G_CALLBACK(on_switch_page), tag);
            g_signal_connect_after(inner, "switch-page", G_CALLBACK(on_page_switched), tag);
            g_signal_connect_after(inner, "size-allocate", G_CALLBACK(on_notebook_allocated), tag);
            return inner;
        case Kind::calendar:
            inner = gtk_calendar_new();
            g_signal_connect(inner, "day-selected", G_CALLBACK(on_day_selected), tag);
            return inner;
        case Kind::count: break;
    }
    inner = nullptr;
    return nullptr;
}

void apply_all(Widget& w, WindowId id, const Cell& face, uint32_t mask) {
    const Quiet quiet;
    if (mask & (bit(facet::color) | bit(facet::font))) apply_style(w, face);
    if (mask & (bit(facet::para) | bit(facet::font))) apply_para(w, face);
    if (mask & (bit(facet::options) | bit(facet::flags))) set_options(w, face);
    if (mask & bit(facet::data)) set_data(w, id, face_of(id));
    if (mask & bit(facet::text)) set_text(w, face_of(id));
    if (mask & bit(facet::image)) set_button_image(w, face_of(id));
    if ((mask & bit(facet::selected)) && !(mask & bit(facet::data))) set_selected(w, face_of(id));
}

// ---- A face's own scroll bars -------------------------------------------------------------------

// The bars a scroller object describes: at most one vertical (at the right edge) and one
// horizontal (at the bottom) per face window, made when a scroller first reaches them.
struct Bar {
    WindowId window;
    bool vertical;
    GtkWidget* bar;
};
std::vector<Bar> g_bars;

namespace scroller_field {
constexpr uint32_t position = 0, page_size = 1, max_size = 3, visible = 4, vertical = 5, parent = 6;
}  // namespace scroller_field

void on_bar_destroy(GtkWidget* bar, gpointer) {
    std::erase_if(g_bars, [bar](const Bar& b) { return b.bar == bar; });
}

// A request made with the bar: a scroll event carrying its word, the position it asks for and
// the bar's orientation. The bar moves when the script sets the position, except while its thumb
// is dragged.
gboolean on_bar_change(GtkRange* range, GtkScrollType scroll, double value, gpointer tag) {
    if (g_quiet) return FALSE;
    const bool vertical = gtk_orientable_get_orientation(GTK_ORIENTABLE(range)) == GTK_ORIENTATION_VERTICAL;
    Word request = w_track;
    switch (scroll) {
        case GTK_SCROLL_STEP_BACKWARD:
        case GTK_SCROLL_STEP_UP:
        case GTK_SCROLL_STEP_LEFT: request = vertical ? w_up : w_left; break;
        case GTK_SCROLL_STEP_FORWARD:
        case GTK_SCROLL_STEP_DOWN:
        case GTK_SCROLL_STEP_RIGHT: request = vertical ? w_down : w_right; break;
        case GTK_SCROLL_PAGE_BACKWARD:
        case GTK_SCROLL_PAGE_UP:
        case GTK_SCROLL_PAGE_LEFT: request = vertical ? w_page_up : w_page_left; break;
        case GTK_SCROLL_PAGE_FORWARD:
        case GTK_SCROLL_PAGE_DOWN:
        case GTK_SCROLL_PAGE_RIGHT: request = vertical ? w_page_down : w_page_right; break;
        default: break;
    }
    guarded([&] {
        const WindowId id = id_of(tag);
        if (!window_exists(id)) return;
        events::Detail d;
        d.key_symbol = g_words[request];
        d.orientation = g_words[vertical ? w_vertical : w_horizontal];
        GtkAdjustment* a = gtk_range_get_adjustment(range);
        const double last = gtk_adjustment_get_upper(a) - gtk_adjustment_get_page_size(a);
        d.picked = static_cast<int32_t>(std::lround(std::clamp(value, gtk_adjustment_get_lower(a), last)));
        (void)events::dispatch(id, event::scroll, 0, d);
    });
    return request == w_track ? FALSE : TRUE;
}

GtkWidget* bar_of(WindowId id, bool vertical) {
    for (const Bar& b : g_bars)
        if (b.window == id && b.vertical == vertical) return b.bar;
    GtkWidget* container = window_container(id);
    if (!container) return nullptr;
    GtkWidget* bar = gtk_scrollbar_new(vertical ? GTK_ORIENTATION_VERTICAL : GTK_ORIENTATION_HORIZONTAL,
                                       gtk_adjustment_new(1, 1, 2, 1, 1, 1));
    g_signal_connect(bar, "change-value", G_CALLBACK(on_bar_change), GUINT_TO_POINTER(id));
    g_signal_connect(bar, "destroy", G_CALLBACK(on_bar_destroy), nullptr);
    g_bars.push_back(Bar{id, vertical, bar});
    place::put(container, bar, 0, 0, 0, 0);  // measured once it has a parent and a style
    gtk_widget_show(bar);
    const Rect r = window_rect(id);
    const int factor = gtk_widget_get_scale_factor(container);
    const int width = r.width / factor, height = r.height / factor;
    int thickness = 0, natural = 0;
    if (vertical) gtk_widget_get_preferred_width(bar, &thickness, &natural);
    else gtk_widget_get_preferred_height(bar, &thickness, &natural);
    thickness = std::max({thickness, natural, 1});
    GtkAllocation at = vertical ? GtkAllocation{width - thickness, 0, thickness, height}
                                : GtkAllocation{0, height - thickness, width, thickness};
    place::put(container, bar, at.x, at.y, at.width, at.height);
    place::raise(container, bar);
    gtk_widget_size_allocate(bar, &at);  // now: the container may not be laid out again soon
    return bar;
}

int32_t integer_or(const Cell& v, int32_t fallback) {
    if (cell::is(v, TypeId::integer)) return cell::as_integer(v);
    if (cell::is(v, TypeId::float_)) return static_cast<int32_t>(cell::as_float(v));
    return fallback;
}

// update-scroller scroller field: the bar follows the changed field (position; page-size or
// max-size; visible?). Others, min-size among them, change nothing.
Status update_scroller(const int32_t* r) {
    const native_args::Args<native_args::Plain::routine> args(r);
    const Cell scroller = args[0];
    const int32_t index = cell::as_integer(args[1]);
    const Cell parent = field(scroller, scroller_field::parent);
    const Cell state = field(parent, facet::state);
    const WindowId id =
        cell::is(state, TypeId::block) && block::length(state) > 0 ? window_from_handle(*block::head(state)) : 0;
    if (!id) return args.done(cell::unset());
    GtkWidget* bar = bar_of(id, cell::truthy(field(scroller, scroller_field::vertical)));
    if (!bar) return args.done(cell::unset());
    GtkAdjustment* adjustment = gtk_range_get_adjustment(GTK_RANGE(bar));
    const Quiet quiet;
    switch (index) {
        case scroller_field::position:
            gtk_adjustment_set_value(adjustment, integer_or(field(scroller, scroller_field::position), 1));
            break;
        case scroller_field::page_size:
        case scroller_field::max_size: {
            const int32_t page = std::max(1, integer_or(field(scroller, scroller_field::page_size), 1));
            const int32_t max = std::max(1, integer_or(field(scroller, scroller_field::max_size), 1));
            // the last position shows the last page: max + 1 - page
            gtk_adjustment_configure(adjustment, gtk_adjustment_get_value(adjustment), 1, max + 1, 1, page, page);
            break;
        }
        case scroller_field::visible:
            gtk_widget_set_visible(bar, cell::truthy(field(scroller, scroller_field::visible)));
            break;
        default: break;
    }
    gtk_widget_queue_draw(bar);
    return args.done(cell::unset());
}

}  // namespace

void reset() {
    for (size_t i = 0; i < std::size(kKindNames); ++i) g_kinds[i] = symbol::resolve(symbol::make(kKindNames[i]));
    for (size_t i = 0; i < w_count; ++i) g_words[i] = symbol::resolve(symbol::make(kWords[i]));
    g_quiet = 0;
    (void)function::add_routine("update-scroller", update_scroller);
}

void make(WindowId id, const Cell& face) {
    const int32_t k = kind_of(face);
    GtkWidget* container = window_container(id);
    if (k < 0 || !container || find(id)) return;
    const auto kind = static_cast<Kind>(k);
    GtkWidget* inner = nullptr;
    GtkWidget* outer = create(kind, id, inner, GUINT_TO_POINTER(id));
    if (!outer) return;
    GtkWidget* unmarked = nullptr;
    if (kind == Kind::radio) {
        unmarked = gtk_radio_button_new_from_widget(GTK_RADIO_BUTTON(inner));
        g_object_ref_sink(unmarked);
        gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(unmarked), TRUE);
    }
    g_widgets.push_back(Widget{id, kind, outer, inner, nullptr, unmarked, {}, -1});
    g_signal_connect(outer, "destroy", G_CALLBACK(on_destroy), nullptr);
    g_signal_connect(inner, "notify::is-focus", G_CALLBACK(on_focus_changed), GUINT_TO_POINTER(id));
    const Rect r = window_rect(id);
    const int factor = gtk_widget_get_scale_factor(container);
    place::put(container, outer, 0, 0, r.width / factor, r.height / factor);
    gtk_widget_show_all(outer);
    const uint32_t everything = bit(facet::image) | bit(facet::color) | bit(facet::font) | bit(facet::para) |
                                bit(facet::options) | bit(facet::data) | bit(facet::text) | bit(facet::selected);
    apply_all(g_widgets.back(), id, face, everything);
}

bool has(WindowId id) { return find(id) != nullptr; }

void apply(WindowId id, const Cell& face, uint32_t mask) {
    Widget* w = find(id);
    if (!w) return;
    if (mask & (bit(facet::offset) | bit(facet::size))) {
        const Rect r = window_rect(id);
        const int factor = gtk_widget_get_scale_factor(w->outer);
        place::put(window_container(id), w->outer, 0, 0, r.width / factor, r.height / factor);
    }
    apply_all(*w, id, face, mask);
}

void draw_into(cairo_t* cr, WindowId id, double x, double y) {
    const Widget* w = find(id);
    if (!w || !gtk_widget_get_visible(w->outer)) return;
    // A widget changed since GTK last laid it out is laid out at its place first.
    GtkAllocation place;
    gtk_widget_get_allocation(w->outer, &place);
    gtk_widget_size_allocate(w->outer, &place);
    cairo_save(cr);
    cairo_translate(cr, x, y);
    const int factor = gtk_widget_get_scale_factor(w->outer);
    if (factor != 1) cairo_scale(cr, factor, factor);
    gtk_widget_draw(w->outer, cr);
    cairo_restore(cr);
}

}  // namespace zub::platform::widgets
