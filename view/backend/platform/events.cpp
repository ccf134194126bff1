// The input pre-filter, the live event and the dispatcher. GDK events for our windows become
// events of the language here: keys follow one table (special keys give key-down with a word and
// then key; printable keys their character; Ctrl+letter the control character 1-26), mouse
// buttons, motion, leaving, the wheel, and the top level's move, resize, close, focus and state.
// No C++ exception leaves a GTK callback: each one catches at its boundary.
#include "view/backend/platform/events.h"

#include <gtk/gtk.h>

#include <array>
#include <bitset>
#include <cmath>

#include "datatypes/context.h"
#include "datatypes/pair.h"
#include "datatypes/point.h"
#include "evaluator/depth.h"
#include "evaluator/exits.h"
#include "evaluator/interp.h"
#include "evaluator/lexer/lexer.h"
#include "evaluator/stack.h"
#include "evaluator/trace.h"
#include "evaluator/words.h"
#include "runtime/collector.h"
#include "runtime/cycles.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "view/backend/platform/ime.h"
#include "view/backend/platform/loop.h"
#include "view/backend/platform/menus.h"
#include "view/backend/platform/values.h"

namespace zub::platform::events {
namespace {

struct Live {
    WindowId window = 0;
    Detail detail;
};

Live g_live;                         // what the live event's platform fields read
int64_t g_override = -1;             // modifier and button bits reported instead of the live state
Cell g_awake_path = cell::none();    // system/view/awake, loaded once
Cell g_awake_word = cell::none();    // names the guard frame
Cell g_refresh_path = cell::none();  // system/view/platform/refresh-screens
symbol::Id g_done = 0, g_stop = 0, g_wheel = 0;

// Special keys: their codes and words. The codes are those the flags word carries for them.
struct SpecialKey {
    guint keyval;
    int32_t code;
};
constexpr SpecialKey kSpecialKeys[] = {
    {GDK_KEY_Pause, 19},      {GDK_KEY_Caps_Lock, 20},    {GDK_KEY_Page_Up, 33},  {GDK_KEY_KP_Page_Up, 33},
    {GDK_KEY_Page_Down, 34},  {GDK_KEY_KP_Page_Down, 34}, {GDK_KEY_End, 35},      {GDK_KEY_KP_End, 35},
    {GDK_KEY_Home, 36},       {GDK_KEY_KP_Home, 36},      {GDK_KEY_Left, 37},     {GDK_KEY_KP_Left, 37},
    {GDK_KEY_Up, 38},         {GDK_KEY_KP_Up, 38},        {GDK_KEY_Right, 39},    {GDK_KEY_KP_Right, 39},
    {GDK_KEY_Down, 40},       {GDK_KEY_KP_Down, 40},      {GDK_KEY_Insert, 45},   {GDK_KEY_KP_Insert, 45},
    {GDK_KEY_Delete, 46},     {GDK_KEY_KP_Delete, 46},    {GDK_KEY_Super_L, 91},  {GDK_KEY_Super_R, 92},
    {GDK_KEY_F1, 112},        {GDK_KEY_F2, 113},          {GDK_KEY_F3, 114},      {GDK_KEY_F4, 115},
    {GDK_KEY_F5, 116},        {GDK_KEY_F6, 117},          {GDK_KEY_F7, 118},      {GDK_KEY_F8, 119},
    {GDK_KEY_F9, 120},        {GDK_KEY_F10, 121},         {GDK_KEY_F11, 122},     {GDK_KEY_F12, 123},
    {GDK_KEY_Num_Lock, 144},  {GDK_KEY_Scroll_Lock, 145}, {GDK_KEY_Shift_L, 160}, {GDK_KEY_Shift_R, 161},
    {GDK_KEY_Control_L, 162}, {GDK_KEY_Control_R, 163},   {GDK_KEY_Alt_L, 164},   {GDK_KEY_Alt_R, 165},
    {GDK_KEY_Meta_L, 164},    {GDK_KEY_Meta_R, 165},
};

struct KeyName {
    int32_t code;
    const char* name;
};
constexpr KeyName kKeyNames[] = {
    {19, "pause"},        {20, "caps-lock"},     {33, "page-up"},       {34, "page-down"},
    {35, "end"},          {36, "home"},          {37, "left"},          {38, "up"},
    {39, "right"},        {40, "down"},          {45, "insert"},        {46, "delete"},
    {91, "left-command"}, {92, "right-command"}, {112, "F1"},           {113, "F2"},
    {114, "F3"},          {115, "F4"},           {116, "F5"},           {117, "F6"},
    {118, "F7"},          {119, "F8"},           {120, "F9"},           {121, "F10"},
    {122, "F11"},         {123, "F12"},          {144, "num-lock"},     {145, "scroll-lock"},
    {160, "left-shift"},  {161, "right-shift"},  {162, "left-control"}, {163, "right-control"},
    {164, "left-alt"},    {165, "right-alt"},
};
std::array<symbol::Id, std::size(kKeyNames)> g_key_symbols{};

int32_t special_code(guint keyval) {
    for (const SpecialKey& k : kSpecialKeys)
        if (k.keyval == keyval) return k.code;
    return -1;
}

bool is_modifier_code(int32_t code) { return code >= 160 && code <= 165; }

// ---- The live event's platform fields --------------------------------------------------------

Cell face_of(WindowId id) {
    for (WindowId w = id; w; w = window_parent(w)) {
        const Cell face = window_face(w);
        if (cell::is(face, TypeId::object)) return face;
    }
    return cell::none();
}

Cell offset_cell(const Cell& ev) {
    if (!g_live.detail.has_offset) return cell::none();
    const double x = to_units(g_live.detail.x), y = to_units(g_live.detail.y);
    const int32_t type = event::type_of(ev);
    if ((type == event::resize || type == event::resizing) && window_integer_size(g_live.window))
        return pair::make(static_cast<int32_t>(x), static_cast<int32_t>(y));
    return point::make2(static_cast<float>(x), static_cast<float>(y));
}

Cell word_cell(symbol::Id s) { return cell::make(TypeId::word, 0, s, 0xFFFFFFFF); }

Cell key_cell(const Cell& ev) {
    if (g_live.detail.key_symbol) return word_cell(g_live.detail.key_symbol);
    const int32_t type = event::type_of(ev);
    if (type == event::ime) return g_live.detail.text ? cell::integer(g_live.detail.picked) : cell::none();
    if (type == event::wheel) return word_cell(g_wheel);
    if (type != event::key && type != event::key_down && type != event::key_up) return cell::none();
    const uint32_t flags = ev.w3;
    if (g_live.detail.key_code < 0) return cell::character(flags & event::flag::key_mask);
    if (const symbol::Id s = key_word(g_live.detail.key_code)) return word_cell(s);
    return type == event::key ? cell::none() : cell::character(flags & 0xFFFF);
}

Cell picked_cell(const Cell& ev) {
    if (g_live.detail.key_symbol) return cell::integer(g_live.detail.picked);
    switch (event::type_of(ev)) {
        case event::ime: return g_live.detail.text ? values::text(*g_live.detail.text) : cell::none();
        case event::wheel: return cell::floating(g_live.detail.wheel);
        case event::down:
        case event::mid_down:
        case event::alt_down:
        case event::aux_down:
        case event::dbl_click: return cell::none();  // no list item lies under a plain window
        case event::menu:
            // an entry without a word has none
            return g_live.detail.picked_word ? word_cell(g_live.detail.picked_word - 1) : cell::none();
        default: return cell::integer(static_cast<int16_t>(ev.w3 & 0xFFFF));
    }
}

Cell read_live(const Cell& ev, event::Field field) {
    switch (field) {
        case event::f_face: return face_of(g_live.window);
        case event::f_window: return face_of(window_root(g_live.window));
        case event::f_offset: return offset_cell(ev);
        case event::f_key: return key_cell(ev);
        case event::f_picked: return picked_cell(ev);
        case event::f_orientation:
            return g_live.detail.orientation ? word_cell(g_live.detail.orientation) : cell::none();
        default: return cell::none();
    }
}

// ---- Calling awake ---------------------------------------------------------------------------

Cell load_path(std::string_view text) {
    const NodeId code = lexer::load(reinterpret_cast<const std::byte*>(text.data()), text.size());
    return memory::buffer(code)->cells()[0];
}

void prepare_awake() {
    if (g_done) return;
    g_awake_path = load_path("system/view/awake");
    collector::add_cell_root(&g_awake_path);
    g_refresh_path = load_path("system/view/platform/refresh-screens");
    collector::add_cell_root(&g_refresh_path);
    g_awake_word = words::global(symbol::make("awake"));
    collector::add_cell_root(&g_awake_word);
    g_done = symbol::resolve(symbol::make("done"));
    g_stop = symbol::resolve(symbol::make("stop"));
    g_wheel = symbol::make("wheel");
}

// Calls the function a path names with the event (none: no argument). Its answer: 0 for the word
// stop, 1 for anything else (done, other words, no answer, an error: those stay inside the guard
// and are not reported here).
int32_t call_guarded(const Cell* path, const Cell* ev) {
    const stack::Saved saved = stack::save();
    const trace::Quiet quiet;
    int32_t answer = 1;
    try {
        prepare_awake();
        depth::check();
        stack::Call guard(stack::FrameType::try_all, g_awake_word);
        if (ev) stack::push(*ev);
        exits::refuse_escape(interp::get_path(*path));
        const Cell fn = stack::top_cell();
        if (cell::is(fn, TypeId::function) || cell::is(fn, TypeId::routine) || cell::is(fn, TypeId::native) ||
            cell::is(fn, TypeId::action)) {
            const int32_t argc = ev ? 1 : 0;
            exits::refuse_escape(interp::call(fn, &stack::top_cell() - argc, argc, g_awake_word));
            const Cell result = stack::top_cell();
            if (cell::is(result, TypeId::word) && symbol::resolve(result.w2) == g_stop) answer = 0;
        }
    } catch (const Thrown&) {
        cycles::reset();
    } catch (...) {
        cycles::reset();
    }
    stack::restore(saved);
    return answer;
}

// ---- The pre-filter ----------------------------------------------------------------------------

uint32_t modifier_bits(guint state) {
    if (g_override >= 0) return static_cast<uint32_t>(g_override);
    uint32_t bits = 0;
    if (state & GDK_CONTROL_MASK) bits |= event::flag::control;
    if (state & GDK_SHIFT_MASK) bits |= event::flag::shift;
    if (state & GDK_MOD1_MASK) bits |= event::flag::alt;  // AltGr is another modifier: not alt
    if (state & GDK_BUTTON1_MASK) bits |= event::flag::down;
    if (state & GDK_BUTTON2_MASK) bits |= event::flag::mid_down;
    if (state & GDK_BUTTON3_MASK) bits |= event::flag::alt_down;
    return bits;
}

uint32_t button_bit(guint button) {
    switch (button) {
        case 1: return event::flag::down;
        case 2: return event::flag::mid_down;
        case 3: return event::flag::alt_down;
        case 8:
        case 9: return event::flag::aux_down;
        default: return 0;
    }
}

// Event coordinates on a GDK window, as device pixels in a window's client area.
void client_point(GdkWindow* from, double x, double y, WindowId id, Detail& d) {
    GtkWidget* container = window_container(id);
    GdkWindow* target = container ? gtk_widget_get_window(container) : nullptr;
    GdkWindow* g = from;
    while (g && g != target && gdk_window_get_parent(g) && gdk_window_get_window_type(g) != GDK_WINDOW_TOPLEVEL) {
        gdk_window_coords_to_parent(g, x, y, &x, &y);
        g = gdk_window_get_parent(g);
    }
    if (g != target && target && gdk_window_get_parent(target) == g) {
        int tx = 0, ty = 0;
        gdk_window_get_position(target, &tx, &ty);
        x -= tx;
        y -= ty;
    }
    const int factor = target ? gdk_window_get_scale_factor(target) : 1;
    d.x = x * factor;
    d.y = y * factor;
    d.has_offset = true;
}

// The character a key gives, 0 for none: Backspace 8 (127 with Ctrl), Tab 9, Enter 13, Esc 27,
// Ctrl+letter the control character 1-26, else the key's own character.
uint32_t key_character(guint keyval, bool control) {
    switch (keyval) {
        case GDK_KEY_BackSpace: return control ? 127 : 8;
        case GDK_KEY_Tab:
        case GDK_KEY_ISO_Left_Tab:
        case GDK_KEY_KP_Tab: return 9;
        case GDK_KEY_Return:
        case GDK_KEY_KP_Enter:
        case GDK_KEY_ISO_Enter: return 13;
        case GDK_KEY_Escape: return 27;
        default: break;
    }
    const uint32_t ch = gdk_keyval_to_unicode(keyval);
    const uint32_t lower = ch | 0x20;
    if (control && ch < 128 && lower >= 'a' && lower <= 'z') return lower - 'a' + 1;
    return ch;
}

// Keys reach the top level's GDK window; they belong to the face whose window holds the focus.
WindowId focused_window(WindowId id) {
    GtkWidget* top = window_toplevel(id);
    GtkWidget* focus = top ? gtk_window_get_focus(GTK_WINDOW(top)) : nullptr;
    GdkWindow* gdk_window = focus ? gtk_widget_get_window(focus) : nullptr;
    const WindowId owner = gdk_window ? window_of_gdk(gdk_window) : 0;
    return owner && window_root(owner) == id ? owner : id;
}

std::bitset<256> g_keys_taken;  // keys (by hardware code) whose press the input method took

bool on_key(const GdkEventKey& e, WindowId id) {
    id = focused_window(id);
    if (e.keyval == GDK_KEY_ISO_Level3_Shift || e.keyval == GDK_KEY_Mode_switch) return true;
    const bool press = e.type == GDK_KEY_PRESS;
    const int32_t code = special_code(e.keyval);
    const uint32_t ch = code >= 0 ? 0 : key_character(e.keyval, (e.state & GDK_CONTROL_MASK) != 0);
    // The input method sees the key first. A key it took makes no events, its release included;
    // a modifier's release still does, for scripts that keep track of what is held.
    bool taken = ime::filter_key(window_root(id), id, e, ch);
    const uint8_t hardware = e.hardware_keycode & 0xFF;
    if (press) {
        g_keys_taken[hardware] = taken;
    } else {
        taken = (taken || g_keys_taken[hardware]) && !is_modifier_code(code);
        g_keys_taken[hardware] = false;
    }
    if (taken) return false;
    if (!window_exists(id)) return false;  // what the input method said closed the window
    const int32_t type = press ? event::key_down : event::key_up;
    const uint32_t mods = modifier_bits(e.state) & (event::flag::control | event::flag::shift | event::flag::alt);
    Detail d = key_detail(id);
    if (code >= 0) {
        d.key_code = code;
        int32_t answer = dispatch(id, type, mods | static_cast<uint32_t>(code), d);
        if (press && answer != 0 && !is_modifier_code(code) && window_exists(id))
            answer = dispatch(id, event::key, mods | static_cast<uint32_t>(code), d);
        return answer != 0;
    }
    if (ch == 0) return true;
    // key-down and key-up name the key: its character without modifiers, a letter in upper case;
    // key gives what it types.
    guint base = e.keyval;
    GdkKeymap* keymap = gdk_keymap_get_for_display(gdk_window_get_display(e.window));
    guint unshifted = 0;
    if (gdk_keymap_translate_keyboard_state(keymap, e.hardware_keycode, static_cast<GdkModifierType>(0), e.group,
                                            &unshifted, nullptr, nullptr, nullptr))
        base = unshifted;
    uint32_t named = key_character(gdk_keyval_to_upper(base), false);
    if (named == 0) named = ch;
    int32_t answer = dispatch(id, type, mods | (named & event::flag::key_mask), d);
    // The key-down handler may have closed the window: then no key follows.
    if (press && answer != 0 && window_exists(id))
        answer = dispatch(id, event::key, mods | (ch & event::flag::key_mask), d);
    return answer != 0;
}

bool on_button(const GdkEventButton& e, WindowId id) {
    const uint32_t bit = button_bit(e.button);
    int32_t type = 0;
    if (e.type == GDK_BUTTON_PRESS) {
        switch (e.button) {
            case 1: type = event::down; break;
            case 2: type = event::mid_down; break;
            case 3: type = event::alt_down; break;
            case 8:
            case 9: type = event::aux_down; break;
            default: return true;
        }
    } else if (e.type == GDK_2BUTTON_PRESS) {
        if (e.button != 1) return true;
        type = event::dbl_click;
    } else if (e.type == GDK_BUTTON_RELEASE) {
        switch (e.button) {
            case 1: type = event::up; break;
            case 2: type = event::mid_up; break;
            case 3: type = event::alt_up; break;
            case 8:
            case 9: type = event::aux_up; break;
            default: return true;
        }
    } else {
        return true;
    }
    uint32_t flags = modifier_bits(e.state);
    if (g_override < 0) flags = e.type == GDK_BUTTON_RELEASE ? flags & ~bit : flags | bit;
    Detail d;
    client_point(e.window, e.x, e.y, id, d);
    const bool pass = dispatch(id, type, flags, d) != 0;
    // A right press shows the face's context menu after its alt-down, unless the face is gone.
    if (type == event::alt_down && window_exists(id) && menus::popup(id, reinterpret_cast<const GdkEvent*>(&e)))
        return false;
    return pass;
}

WindowId g_motion_window = 0;  // where the last motion was, to drop a repeat of the same point
double g_motion_x = -1, g_motion_y = -1;
WindowId g_hover_window = 0;  // the window the pointer was last reported over

// A move makes an over event when it enters another window; inside the same window only when the
// face asked for every move (all-over).
bool on_motion(const GdkEventMotion& e, WindowId id) {
    Detail d;
    client_point(e.window, e.x, e.y, id, d);
    if (id == g_motion_window && d.x == g_motion_x && d.y == g_motion_y) return true;
    g_motion_window = id;
    g_motion_x = d.x;
    g_motion_y = d.y;
    const bool entering = id != g_hover_window;
    g_hover_window = id;
    if (entering || (window_flags(id) & kAllOver)) (void)dispatch(id, event::over, modifier_bits(e.state), d);
    return true;
}

bool on_leave(const GdkEventCrossing& e, WindowId id) {
    if (e.detail == GDK_NOTIFY_INFERIOR) return true;  // into a child: still inside
    g_motion_window = 0;
    if (g_hover_window == id) g_hover_window = 0;
    Detail d;
    client_point(e.window, e.x, e.y, id, d);
    (void)dispatch(id, event::over, modifier_bits(e.state) | event::flag::away, d);
    return true;
}

bool on_scroll(const GdkEventScroll& e, WindowId id) {
    double steps = 0;
    switch (e.direction) {
        case GDK_SCROLL_UP: steps = 1; break;
        case GDK_SCROLL_DOWN: steps = -1; break;
        case GDK_SCROLL_SMOOTH: steps = -e.delta_y; break;
        default: return true;
    }
    if (steps == 0) return true;
    Detail d;
    client_point(e.window, e.x, e.y, id, d);
    d.wheel = steps;
    return dispatch(id, event::wheel, modifier_bits(e.state), d) != 0;
}

// A window face's offset (1) or size (2) as the window manager left it, in units, before the event
// that reports it: a pair! when the face's size was one, else a point2D!.
void store_geometry(WindowId id, uint32_t index, double x, double y) {
    const Cell face = window_face(id);
    if (!cell::is(face, TypeId::object) || index >= context::word_count(face.w1)) return;
    Cell* slot = context::value_at(face.w1, index);
    if (!slot) return;
    const double ux = to_units(x), uy = to_units(y);
    if (index == 2 && window_integer_size(id))
        *slot = pair::make(static_cast<int32_t>(std::lround(ux)), static_cast<int32_t>(std::lround(uy)));
    else if (cell::is(*slot, TypeId::pair))
        *slot = pair::make(static_cast<int32_t>(std::lround(ux)), static_cast<int32_t>(std::lround(uy)));
    else *slot = point::make2(static_cast<float>(ux), static_cast<float>(uy));
}

// A top level dragged by the user (moved or sized while a mouse button is held): its changes are
// reported as moving and resizing, then once as move or resize (the last kind) when the button
// is let go.
struct Drag {
    WindowId id = 0;
    int32_t last = 0;  // moving or resizing
    guint poll = 0;    // GLib source watching for the button's release
};
Drag g_drag;

bool button_held(GdkWindow* gdk_window) {
    GdkSeat* seat = gdk_display_get_default_seat(gdk_window_get_display(gdk_window));
    GdkDevice* pointer = seat ? gdk_seat_get_pointer(seat) : nullptr;
    if (!pointer) return false;
    GdkModifierType mask{};
    gdk_window_get_device_position(gdk_window, pointer, nullptr, nullptr, &mask);
    return (mask & (GDK_BUTTON1_MASK | GDK_BUTTON2_MASK | GDK_BUTTON3_MASK)) != 0;
}

// Where a top level is, to go with a geometry event: its position (move, moving) or size.
void dispatch_geometry(WindowId id, int32_t type, const Rect& r) {
    const bool position = type == event::move || type == event::moving;
    Detail d;
    d.x = position ? r.x : r.width;
    d.y = position ? r.y : r.height;
    d.has_offset = true;
    store_geometry(id, position ? 1 : 2, d.x, d.y);
    (void)dispatch(id, type, 0, d);
}

gboolean poll_drag(gpointer) {
    const WindowId id = g_drag.id;
    GtkWidget* top = window_toplevel(id);
    GdkWindow* gdk_window = top ? gtk_widget_get_window(top) : nullptr;
    if (gdk_window && button_held(gdk_window)) return G_SOURCE_CONTINUE;
    const int32_t type = g_drag.last == event::moving ? event::move : event::resize;
    g_drag = Drag{};
    try {
        if (gdk_window) dispatch_geometry(id, type, window_rect(id));
    } catch (...) {
    }
    return G_SOURCE_REMOVE;
}

// Reports where a top level now is: move and resize for what changed, both the first time (a
// window just shown reports them as it would after being moved and sized).
void report_placement(WindowId id, GdkWindow* gdk_window, int width, int height) {
    const int factor = gdk_window_get_scale_factor(gdk_window);
    int x = 0, y = 0;
    gdk_window_get_root_origin(gdk_window, &x, &y);
    // The client area lies under the menu bar, when the window has one.
    const Rect now{x * factor, y * factor, width * factor, height * factor - window_menu_bar_height(id)};
    const Rect before = window_rect(id);
    const bool first = window_note_rect(id, now);
    const bool moved = first || now.x != before.x || now.y != before.y;
    const bool sized = first || now.width != before.width || now.height != before.height;
    const bool dragged = !first && (moved || sized) && button_held(gdk_window);
    if (dragged && g_drag.id != id) {
        if (g_drag.poll) g_source_remove(g_drag.poll);
        g_drag = Drag{id, 0, g_timeout_add(50, poll_drag, nullptr)};
    }
    if (moved) {
        if (dragged) g_drag.last = event::moving;
        dispatch_geometry(id, dragged ? event::moving : event::move, now);
    }
    if (sized && window_exists(id)) {
        if (dragged) g_drag.last = event::resizing;
        dispatch_geometry(id, dragged ? event::resizing : event::resize, now);
    }
}

bool is_toplevel_gdk(WindowId id, GdkWindow* gdk_window) {
    GtkWidget* top = window_toplevel(id);
    return top && gtk_widget_get_window(top) == gdk_window;
}

bool on_configure(const GdkEventConfigure& e, WindowId id) {
    if (is_toplevel_gdk(id, e.window)) report_placement(id, e.window, e.width, e.height);
    return true;
}

// A window shown where it was asked to be, at the size it was given, gets no configure event from
// the display: its first placement is reported when it is mapped.
bool on_map(const GdkEventAny& e, WindowId id) {
    if (is_toplevel_gdk(id, e.window))
        report_placement(id, e.window, gdk_window_get_width(e.window), gdk_window_get_height(e.window));
    return true;
}

bool on_delete(WindowId id) {
    // A window whose face is gone closes without asking anyone.
    if (!cell::is(window_face(id), TypeId::object)) {
        window_destroy(id);
        return false;
    }
    if (dispatch_simple(id, event::close, 0) == 0) (void)loop::exit_innermost();
    return false;  // the front end closes the window; GTK must not destroy it behind the table
}

bool on_window_state(const GdkEventWindowState& e, WindowId id) {
    const GdkWindowState changed = e.changed_mask, now = e.new_window_state;
    if ((changed & GDK_WINDOW_STATE_ICONIFIED) && (now & GDK_WINDOW_STATE_ICONIFIED)) {
        (void)dispatch_simple(id, event::minimize, 0);
    } else if (changed & (GDK_WINDOW_STATE_MAXIMIZED | GDK_WINDOW_STATE_ICONIFIED)) {
        (void)dispatch_simple(id, (now & GDK_WINDOW_STATE_MAXIMIZED) ? event::maximize : event::restore, 0);
    }
    return true;
}

// Whether GTK gets the event after the language has seen it.
bool pre_filter(GdkEvent* e) {
    const WindowId id = window_of_gdk(e->any.window);
    if (!id) return true;
    switch (e->type) {
        case GDK_KEY_PRESS:
        case GDK_KEY_RELEASE:
        case GDK_BUTTON_PRESS:
        case GDK_2BUTTON_PRESS:
        case GDK_BUTTON_RELEASE:
        case GDK_MOTION_NOTIFY:
        case GDK_SCROLL:
            if (!window_enabled(id)) return true;  // a disabled window takes no input
            break;
        default: break;
    }
    switch (e->type) {
        case GDK_KEY_PRESS:
        // Keys go to the drawn face that holds the focus (its window's `selected`).
        case GDK_KEY_RELEASE: return on_key(e->key, window_focused(id));
        case GDK_BUTTON_PRESS:
        case GDK_2BUTTON_PRESS:
        case GDK_BUTTON_RELEASE: return on_button(e->button, id);
        case GDK_MOTION_NOTIFY: return on_motion(e->motion, id);
        case GDK_LEAVE_NOTIFY: return on_leave(e->crossing, id);
        case GDK_SCROLL: return on_scroll(e->scroll, id);
        case GDK_CONFIGURE: return on_configure(e->configure, id);
        case GDK_MAP: return on_map(e->any, id);
        case GDK_DELETE: return on_delete(id);
        case GDK_FOCUS_CHANGE:
            if (!window_toplevel(id)) return true;
            ime::focus(id, e->focus_change.in);
            (void)dispatch_simple(id, e->focus_change.in ? event::focus : event::unfocus, 0);
            return true;
        case GDK_WINDOW_STATE: return on_window_state(e->window_state, id);
        default: return true;
    }
}

// The screen faces follow the monitors: refresh-screens runs from the loop once they change.
void refresh_screens(void*) {
    try {
        (void)call_guarded(&g_refresh_path, nullptr);
    } catch (...) {
    }
}

void on_monitors_changed(GdkScreen*, gpointer) { loop::post(refresh_screens, nullptr); }

void handle_gdk_event(GdkEvent* e, gpointer) {
    bool pass = true;
    try {
        pass = pre_filter(e);
    } catch (...) {
        pass = true;  // a fault of ours must not keep the event from GTK
    }
    if (pass) gtk_main_do_event(e);
}

struct PostedEvent {
    WindowId window;
    int32_t type;
    uint32_t flags;
    Detail detail;
};

void run_posted_event(void* p) {
    auto* posted = static_cast<PostedEvent*>(p);
    try {
        if (window_exists(posted->window)) (void)dispatch(posted->window, posted->type, posted->flags, posted->detail);
    } catch (...) {
    }
    delete posted;
}

}  // namespace

void reset() {
    g_done = g_stop = g_wheel = 0;
    g_motion_window = g_hover_window = 0;
    if (g_drag.poll) g_source_remove(g_drag.poll);
    g_drag = Drag{};
    g_awake_path = g_awake_word = g_refresh_path = cell::none();
    g_key_symbols.fill(0);
}

void install() {
    gdk_event_handler_set(handle_gdk_event, nullptr, nullptr);
    if (GdkScreen* screen = gdk_screen_get_default())
        g_signal_connect(screen, "monitors-changed", G_CALLBACK(on_monitors_changed), nullptr);
    event::set_live_reader(read_live);
}

int32_t dispatch(WindowId window, int32_t type, uint32_t flags, const Detail& detail) {
    // A handler may dispatch again (a nested loop): each dispatch puts back what it found.
    const Live outer = g_live;
    g_live = Live{window, detail};
    int32_t answer = 1;
    try {
        const Cell ev = event::make_live(type, flags);
        answer = call_guarded(&g_awake_path, &ev);
    } catch (...) {
        answer = 1;
    }
    g_live = outer;
    return answer;
}

Detail key_detail(WindowId id) {
    Detail d;
    GtkWidget* container = window_container(id);
    GdkWindow* target = container ? gtk_widget_get_window(container) : nullptr;
    if (!target) return d;
    GdkSeat* seat = gdk_display_get_default_seat(gdk_window_get_display(target));
    GdkDevice* pointer = seat ? gdk_seat_get_pointer(seat) : nullptr;
    if (!pointer) return d;
    double x = 0, y = 0;
    gdk_window_get_device_position_double(target, pointer, &x, &y, nullptr);
    const int factor = gdk_window_get_scale_factor(target);
    d.x = x * factor;
    d.y = y * factor;
    d.has_offset = true;
    return d;
}

void post_event(WindowId window, int32_t type, uint32_t flags, const Detail& detail) {
    loop::post(run_posted_event, new PostedEvent{window, type, flags, detail});
}

ModifierOverride::ModifierOverride() : saved_(g_override) { g_override = -1; }
ModifierOverride::ModifierOverride(uint32_t bits) : saved_(g_override) { g_override = bits; }
ModifierOverride::~ModifierOverride() { g_override = saved_; }

symbol::Id key_word(int32_t key_code) {
    for (size_t i = 0; i < std::size(kKeyNames); ++i) {
        if (kKeyNames[i].code != key_code) continue;
        if (!g_key_symbols[i]) g_key_symbols[i] = symbol::make(kKeyNames[i].name);
        return g_key_symbols[i];
    }
    return 0;
}

}  // namespace zub::platform::events
