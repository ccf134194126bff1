// The display, monitors, cursors, timers and the window table. A window record holds the GTK
// widgets by pointer inside C++ only; the language and the rest of the backend see its id. A
// window's face lives in a value slot, which keeps it for the collector.
#include "view/backend/platform/platform.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "datatypes/handle.h"
#include "runtime/handles.h"
#include "view/backend/platform/events.h"
#include "view/backend/platform/ime.h"
#include "view/backend/platform/loop.h"
#include "view/backend/platform/place.h"

namespace zub::platform {
namespace {

struct Window {
    bool used = false;
    WindowId parent = 0;
    GtkWidget* toplevel = nullptr;   // the GtkWindow of a top level; null for a child
    GtkWidget* container = nullptr;  // the exact-placement container: children, drawing, input
    cairo_surface_t* surface = nullptr;
    Rect rect{};                // last placement (a top level: as last reported)
    guint timer = 0;            // GLib source of the window's timer, 0 when none
    bool integer_size = false;  // events report sizes as pair!
    uint32_t face_slot = 0;     // value slot holding the face, 0 when none
    bool placed = false;        // the window manager has reported where the window is
    uint32_t flags = 0;         // the face's flag bits (kAllOver ...)
    bool fixed_size = false;    // a top level the user may not resize: its content asks for its size
    uint32_t serial = 0;        // which window has had this id: handles to an earlier one name none
    GtkWidget* box = nullptr;   // a top level's column: its menu bar (when it has one) over the container
    GtkWidget* bar = nullptr;   // a top level's menu bar, null when none
};

uint32_t g_serial = 0;

// Slot 0 is never used: id 0 means no window. Freed slots are reused lowest first.
std::vector<Window> g_windows(1);

uint32_t g_window_class = 0;  // the external handles' kind "window", registered on first use

enum class DisplayState : uint8_t { unknown, open, none };
DisplayState g_display = DisplayState::unknown;

Window* record(WindowId id) {
    if (id == 0 || id >= g_windows.size() || !g_windows[id].used) return nullptr;
    return &g_windows[id];
}

const char* const kIdKey = "zub-window-id";

// Device pixels per GTK coordinate: GTK places widgets in units of the monitor's integer factor.
int factor() {
    GdkDisplay* display = gdk_display_get_default();
    GdkMonitor* monitor = display ? gdk_display_get_primary_monitor(display) : nullptr;
    if (!monitor && display && gdk_display_get_n_monitors(display) > 0) monitor = gdk_display_get_monitor(display, 0);
    return monitor ? std::max(1, gdk_monitor_get_scale_factor(monitor)) : 1;
}

int gtk_coordinate(int32_t pixels) { return pixels / factor(); }

void tag_gdk_window(GtkWidget* widget, gpointer data) {
    g_object_set_data(G_OBJECT(gtk_widget_get_window(widget)), kIdKey, data);
}

// The drawing surface goes onto the window whenever GTK draws it; children draw themselves after.
gboolean on_draw(GtkWidget*, cairo_t* cr, gpointer data) {
    const auto id = static_cast<WindowId>(GPOINTER_TO_UINT(data));
    Window* w = record(id);
    if (!w || !w->surface) return FALSE;
    cairo_save(cr);
    const double s = 1.0 / gtk_widget_get_scale_factor(w->container);
    cairo_scale(cr, s, s);
    cairo_set_source_surface(cr, w->surface, 0, 0);
    cairo_paint(cr);
    cairo_restore(cr);
    return FALSE;
}

void forget(WindowId id) {
    Window* w = record(id);
    if (!w) return;
    ime::forget(id);
    if (w->timer) g_source_remove(w->timer);
    if (w->surface) cairo_surface_destroy(w->surface);
    if (w->face_slot) (void)handles::slot_release(w->face_slot);
    *w = Window{};
}

void (*g_resize_hook)(WindowId) = nullptr;

void repaint_posted(void* data) {
    const auto id = static_cast<WindowId>(reinterpret_cast<uintptr_t>(data));
    if (record(id) && g_resize_hook) g_resize_hook(id);
}

// A surface left at another size than the window's (a top level the user resized) is painted anew
// at the next loop pass.
void on_allocate(GtkWidget*, GdkRectangle*, gpointer data) {
    const auto id = static_cast<WindowId>(GPOINTER_TO_UINT(data));
    const Window* w = record(id);
    if (!w || !w->surface || !g_resize_hook) return;
    if (cairo_image_surface_get_width(w->surface) != std::max(1, w->rect.width) ||
        cairo_image_surface_get_height(w->surface) != std::max(1, w->rect.height))
        loop::post(repaint_posted, reinterpret_cast<void*>(static_cast<uintptr_t>(id)));
}

gboolean on_timer(gpointer data) {
    const auto id = static_cast<WindowId>(GPOINTER_TO_UINT(data));
    if (record(id)) events::dispatch_simple(id, event::time, 0);
    return G_SOURCE_CONTINUE;
}

}  // namespace

// ---- Display and scale ---------------------------------------------------------------------------

bool open_display() {
    if (g_display == DisplayState::unknown) {
        // GTK prints its own warning when no display opens; the caller says it in one line instead.
        g_log_set_handler(
            "Gtk", G_LOG_LEVEL_WARNING, [](const gchar*, GLogLevelFlags, const gchar*, gpointer) {}, nullptr);
        const bool up = gtk_init_check(nullptr, nullptr);
        g_log_set_handler("Gtk", G_LOG_LEVEL_WARNING, g_log_default_handler, nullptr);
        g_display = up ? DisplayState::open : DisplayState::none;
        if (up) events::install();
    }
    return g_display == DisplayState::open;
}

bool has_display() { return g_display == DisplayState::open; }

double scale() {
    if (!has_display()) return 1.0;
    GdkScreen* screen = gdk_screen_get_default();
    const double resolution = screen ? gdk_screen_get_resolution(screen) : -1.0;
    GdkDisplay* display = gdk_display_get_default();
    GdkMonitor* monitor = display ? gdk_display_get_primary_monitor(display) : nullptr;
    if (!monitor && display && gdk_display_get_n_monitors(display) > 0) monitor = gdk_display_get_monitor(display, 0);
    const int factor = monitor ? gdk_monitor_get_scale_factor(monitor) : 1;
    // The font resolution carries fractional scaling (144 dots per inch: 1.5); the monitor factor
    // the integer one.
    const double fractional = resolution > 0 ? resolution / 96.0 : 1.0;
    // Everything divides by the scale: one that is not a positive number is taken as 1.
    const double s = fractional * factor;
    return std::isfinite(s) && s > 0 ? s : 1.0;
}

int32_t to_pixels(double units) { return static_cast<int32_t>(units * scale() + 0.5); }
double to_units(double pixels) { return pixels / scale(); }

// ---- Monitors ------------------------------------------------------------------------------------

std::vector<Monitor> monitors() {
    std::vector<Monitor> out;
    if (!has_display()) return out;
    GdkDisplay* display = gdk_display_get_default();
    const int n = gdk_display_get_n_monitors(display);
    for (int i = 0; i < n; ++i) {
        GdkMonitor* m = gdk_display_get_monitor(display, i);
        GdkRectangle g;
        gdk_monitor_get_geometry(m, &g);
        const int factor = gdk_monitor_get_scale_factor(m);
        out.push_back(Monitor{g.x * factor, g.y * factor, g.width * factor, g.height * factor, scale(),
                              static_cast<uint32_t>(i + 1)});
    }
    return out;
}

uint32_t current_monitor() {
    if (!has_display()) return 0;
    GdkDisplay* display = gdk_display_get_default();
    GdkSeat* seat = gdk_display_get_default_seat(display);
    GdkDevice* pointer = seat ? gdk_seat_get_pointer(seat) : nullptr;
    int x = 0, y = 0;
    if (pointer) gdk_device_get_position(pointer, nullptr, &x, &y);
    GdkMonitor* at = gdk_display_get_monitor_at_point(display, x, y);
    for (int i = 0, n = gdk_display_get_n_monitors(display); i < n; ++i)
        if (gdk_display_get_monitor(display, i) == at) return static_cast<uint32_t>(i + 1);
    return 1;
}

// ---- Windows ---------------------------------------------------------------------------------------

WindowId window_create(WindowId parent, Rect rect, std::string_view title) {
    if (!has_display() || (parent && !record(parent))) return 0;
    WindowId id = 1;
    while (id < g_windows.size() && g_windows[id].used) ++id;
    if (id == g_windows.size()) g_windows.emplace_back();
    // Records move when the table grows: the parent's is looked up only now.
    const Window* p = parent ? record(parent) : nullptr;
    Window w;
    w.used = true;
    w.serial = ++g_serial;
    w.parent = parent;
    w.rect = rect;
    w.container = place::create();
    gpointer tag = GUINT_TO_POINTER(id);
    g_signal_connect(w.container, "draw", G_CALLBACK(on_draw), tag);
    g_signal_connect(w.container, "realize", G_CALLBACK(tag_gdk_window), tag);
    g_signal_connect(w.container, "size-allocate", G_CALLBACK(on_allocate), tag);
    if (parent) {
        place::put(p->container, w.container, gtk_coordinate(rect.x), gtk_coordinate(rect.y),
                   gtk_coordinate(rect.width), gtk_coordinate(rect.height));
        gtk_widget_hide(w.container);
    } else {
        w.toplevel = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        g_object_ref_sink(w.toplevel);  // the record owns it until window_destroy
        const std::string name(title);
        gtk_window_set_title(GTK_WINDOW(w.toplevel), name.c_str());
        gtk_window_set_default_size(GTK_WINDOW(w.toplevel), std::max(1, gtk_coordinate(rect.width)),
                                    std::max(1, gtk_coordinate(rect.height)));
        gtk_window_move(GTK_WINDOW(w.toplevel), gtk_coordinate(rect.x), gtk_coordinate(rect.y));
        w.box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
        gtk_box_pack_end(GTK_BOX(w.box), w.container, TRUE, TRUE, 0);
        gtk_container_add(GTK_CONTAINER(w.toplevel), w.box);
        gtk_widget_show(w.box);
        gtk_widget_show(w.container);
        g_signal_connect(w.toplevel, "realize", G_CALLBACK(tag_gdk_window), tag);
    }
    g_windows[id] = w;
    return id;
}

void window_destroy(WindowId id) {
    Window* w = record(id);
    if (!w) return;
    for (WindowId child = 1; child < g_windows.size(); ++child)
        if (g_windows[child].used && g_windows[child].parent == id) window_destroy(child);
    w = record(id);
    GtkWidget* toplevel = w->toplevel;
    GtkWidget* container = w->container;
    forget(id);
    if (toplevel) {
        gtk_widget_destroy(toplevel);
        g_object_unref(toplevel);
    } else {
        gtk_widget_destroy(container);
    }
}

bool window_exists(WindowId id) { return record(id) != nullptr; }

WindowId window_parent(WindowId id) {
    const Window* w = record(id);
    return w ? w->parent : 0;
}

WindowId window_root(WindowId id) {
    while (const Window* w = record(id)) {
        if (!w->parent) return id;
        id = w->parent;
    }
    return 0;
}

void window_show(WindowId id, bool visible) {
    Window* w = record(id);
    if (!w) return;
    GtkWidget* widget = w->toplevel ? w->toplevel : w->container;
    if (visible) gtk_widget_show(widget);
    else gtk_widget_hide(widget);
}

bool window_visible(WindowId id) {
    const Window* w = record(id);
    return w && gtk_widget_get_visible(w->toplevel ? w->toplevel : w->container);
}

// The menu bar's height in GTK's coordinates, 0 without one.
int bar_height(const Window& w) {
    int natural = 0;
    if (w.bar) gtk_widget_get_preferred_height(w.bar, nullptr, &natural);
    return natural;
}

// A top level's size: a window that may not be resized takes the size its content asks for, so
// the content asks for exactly the window's. The rect is the client area's: a menu bar adds its
// height to the window.
void size_toplevel(const Window& w) {
    const int width = std::max(1, gtk_coordinate(w.rect.width)), height = std::max(1, gtk_coordinate(w.rect.height));
    if (w.fixed_size) gtk_widget_set_size_request(w.container, width, height);
    else gtk_widget_set_size_request(w.container, -1, -1);
    gtk_window_resize(GTK_WINDOW(w.toplevel), width, height + bar_height(w));
}

void window_set_rect(WindowId id, Rect rect) {
    Window* w = record(id);
    if (!w) return;
    w->rect = rect;
    if (w->toplevel) {
        gtk_window_move(GTK_WINDOW(w->toplevel), gtk_coordinate(rect.x), gtk_coordinate(rect.y));
        size_toplevel(*w);
    } else if (Window* p = record(w->parent)) {
        place::put(p->container, w->container, gtk_coordinate(rect.x), gtk_coordinate(rect.y),
                   gtk_coordinate(rect.width), gtk_coordinate(rect.height));
    }
}

void window_set_menu_bar(WindowId id, GtkWidget* bar) {
    Window* w = record(id);
    if (!w || !w->toplevel) {
        if (bar) gtk_widget_destroy(bar);
        return;
    }
    if (w->bar) gtk_widget_destroy(w->bar);
    w->bar = bar;
    if (bar) {
        gtk_box_pack_start(GTK_BOX(w->box), bar, FALSE, FALSE, 0);
        gtk_widget_show_all(bar);
    }
    size_toplevel(*w);
}

int32_t window_menu_bar_height(WindowId id) {
    const Window* w = record(id);
    return w ? bar_height(*w) * factor() : 0;
}

Rect window_rect(WindowId id) {
    const Window* w = record(id);
    return w ? w->rect : Rect{};
}

bool window_note_rect(WindowId id, Rect rect) {
    Window* w = record(id);
    if (!w) return false;
    w->rect = rect;
    const bool first = !w->placed;
    w->placed = true;
    return first;
}

void window_set_title(WindowId id, std::string_view title) {
    const Window* w = record(id);
    if (!w || !w->toplevel) return;
    const std::string name(title);
    gtk_window_set_title(GTK_WINDOW(w->toplevel), name.c_str());
}

bool window_reparent(WindowId id, WindowId parent, Rect rect) {
    Window* w = record(id);
    if (!w || w->toplevel || !record(parent)) return false;
    for (WindowId up = parent; up; up = window_parent(up))
        if (up == id) return false;
    GtkWidget* container = w->container;
    const bool visible = gtk_widget_get_visible(container);
    g_object_ref(container);
    gtk_container_remove(GTK_CONTAINER(record(w->parent)->container), container);
    w = record(id);
    w->parent = parent;
    w->rect = rect;
    place::put(record(parent)->container, container, gtk_coordinate(rect.x), gtk_coordinate(rect.y),
               gtk_coordinate(rect.width), gtk_coordinate(rect.height));
    gtk_widget_set_visible(container, visible);
    g_object_unref(container);
    return true;
}

void window_raise(WindowId id) {
    const Window* w = record(id);
    const Window* p = w ? record(w->parent) : nullptr;
    if (p) place::raise(p->container, w->container);
}

void window_set_enabled(WindowId id, bool enabled) {
    if (const Window* w = record(id)) gtk_widget_set_sensitive(w->container, enabled);
}

void window_set_frame(WindowId id, Frame frame) {
    Window* w = record(id);
    if (!w || !w->toplevel) return;
    w->fixed_size = !frame.resizable;
    size_toplevel(*w);
    GtkWindow* top = GTK_WINDOW(w->toplevel);
    gtk_window_set_decorated(top, frame.decorated);
    gtk_window_set_resizable(top, frame.resizable);
    gtk_window_set_modal(top, frame.modal);
    GtkWindow* owner = nullptr;
    if (frame.modal) {
        for (const Window& other : g_windows)
            if (other.used && other.toplevel && other.toplevel != w->toplevel &&
                gtk_window_is_active(GTK_WINDOW(other.toplevel)))
                owner = GTK_WINDOW(other.toplevel);
    }
    gtk_window_set_transient_for(top, owner);
    if (frame.fullscreen) gtk_window_fullscreen(top);
    else gtk_window_unfullscreen(top);
    if (!gtk_widget_get_realized(w->toplevel))
        gtk_window_set_type_hint(top, frame.tool ? GDK_WINDOW_TYPE_HINT_UTILITY : GDK_WINDOW_TYPE_HINT_NORMAL);
}

void window_present(WindowId id) {
    const Window* w = record(id);
    if (!w) return;
    if (w->toplevel) gtk_window_present(GTK_WINDOW(w->toplevel));
    else gtk_widget_show(w->container);
}

void window_focus(WindowId id) {
    if (const Window* w = record(id)) gtk_widget_grab_focus(w->container);
}

WindowId window_focused(WindowId id) {
    const Window* top = record(id);
    if (!top || !top->toplevel) return id;
    const GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(top->toplevel));
    if (!focus || focus == top->container) return id;
    for (size_t i = 1; i < g_windows.size(); ++i) {
        const Window& w = g_windows[i];
        if (w.used && w.container == focus && window_root(static_cast<WindowId>(i)) == id)
            return static_cast<WindowId>(i);
    }
    return id;
}

uint32_t window_count() {
    uint32_t n = 0;
    for (const Window& w : g_windows) n += w.used ? 1 : 0;
    return n;
}

void set_resize_hook(void (*hook)(WindowId)) { g_resize_hook = hook; }

void window_set_flags(WindowId id, uint32_t flags) {
    if (Window* w = record(id)) w->flags = flags;
}

uint32_t window_flags(WindowId id) {
    const Window* w = record(id);
    return w ? w->flags : 0;
}

bool window_enabled(WindowId id) {
    const Window* w = record(id);
    return w && gtk_widget_is_sensitive(w->container);
}

void window_set_integer_size(WindowId id, bool on) {
    if (Window* w = record(id)) w->integer_size = on;
}

bool window_integer_size(WindowId id) {
    const Window* w = record(id);
    return w && w->integer_size;
}

Cell window_handle(WindowId id) {
    if (!g_window_class) g_window_class = handles::register_class("window", nullptr);
    const Window* w = record(id);
    const uint64_t serial = w ? w->serial : 0;
    return handle::make(handles::store(static_cast<uintptr_t>(serial << 32 | id), g_window_class));
}

void reset_runtime_state() {
    g_window_class = 0;
    // Faces of windows left from a runtime that ended are gone with it.
    for (Window& w : g_windows) w.face_slot = 0;
    events::reset();
}

WindowId window_from_handle(const Cell& handle) {
    if (!cell::is(handle, TypeId::handle)) return 0;
    const auto entry = static_cast<int32_t>(handle.w3);
    if (handles::class_name(handles::class_of(entry)) != "window") return 0;
    const uint64_t held = handles::get(entry);
    const auto id = static_cast<WindowId>(held & 0xFFFFFFFF);
    const Window* w = record(id);
    return w && w->serial == static_cast<uint32_t>(held >> 32) ? id : 0;
}

void window_set_face(WindowId id, const Cell& face) {
    if (!record(id)) return;
    const uint32_t slot = cell::is(face, TypeId::none) ? 0 : handles::slot_store(face);  // may allocate
    Window* w = record(id);
    if (w->face_slot) (void)handles::slot_release(w->face_slot);
    w->face_slot = slot;
}

Cell window_face(WindowId id) {
    const Window* w = record(id);
    const Cell* face = w && w->face_slot ? handles::slot_at(w->face_slot) : nullptr;
    return face ? *face : cell::none();
}

WindowId window_of_face(const Cell& face) {
    if (!cell::is(face, TypeId::object)) return 0;
    for (WindowId id = 1; id < g_windows.size(); ++id) {
        const Cell f = window_face(id);
        if (cell::is(f, TypeId::object) && f.w1 == face.w1) return id;
    }
    return 0;
}

GtkWidget* window_container(WindowId id) {
    const Window* w = record(id);
    return w ? w->container : nullptr;
}

GtkWidget* window_toplevel(WindowId id) {
    const Window* w = record(id);
    return w ? w->toplevel : nullptr;
}

WindowId window_of_gdk(GdkWindow* gdk_window) {
    for (GdkWindow* g = gdk_window; g; g = gdk_window_get_parent(g)) {
        const auto id = static_cast<WindowId>(GPOINTER_TO_UINT(g_object_get_data(G_OBJECT(g), kIdKey)));
        if (id && record(id)) return id;
        if (gdk_window_get_window_type(g) == GDK_WINDOW_TOPLEVEL) break;
    }
    return 0;
}

cairo_surface_t* window_surface(WindowId id) {
    Window* w = record(id);
    if (!w) return nullptr;
    // The placement asked for (or, for a top level, last reported) is the size: GTK allocates it
    // only at its next layout pass.
    const int width = std::max(1, w->rect.width);
    const int height = std::max(1, w->rect.height);
    if (w->surface && cairo_image_surface_get_width(w->surface) == width &&
        cairo_image_surface_get_height(w->surface) == height)
        return w->surface;
    cairo_surface_t* fresh = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
    if (w->surface) {
        // What was drawn stays where it was; the new area starts clear.
        cairo_t* cr = cairo_create(fresh);
        cairo_set_source_surface(cr, w->surface, 0, 0);
        cairo_paint(cr);
        cairo_destroy(cr);
        cairo_surface_destroy(w->surface);
    }
    w->surface = fresh;
    return fresh;
}

void window_invalidate(WindowId id) {
    if (const Window* w = record(id)) gtk_widget_queue_draw(w->container);
}

cairo_surface_t* window_snapshot(WindowId id) {
    const Window* w = record(id);
    if (!w) return nullptr;
    GtkAllocation a;
    gtk_widget_get_allocation(w->container, &a);
    const int f = factor();
    cairo_surface_t* out =
        cairo_image_surface_create(CAIRO_FORMAT_ARGB32, std::max(1, a.width * f), std::max(1, a.height * f));
    cairo_t* cr = cairo_create(out);
    cairo_scale(cr, f, f);
    gtk_widget_draw(w->container, cr);
    cairo_destroy(cr);
    cairo_surface_flush(out);
    return out;
}

// ---- Cursors ---------------------------------------------------------------------------------------

void window_set_cursor(WindowId id, Cursor cursor) {
    const Window* w = record(id);
    if (!w) return;
    GdkWindow* gdk_window = gtk_widget_get_window(w->container);
    if (!gdk_window) return;
    static constexpr const char* kNames[] = {"default", "text", "pointer", "crosshair", "ns-resize", "ew-resize"};
    GdkCursor* c = gdk_cursor_new_from_name(gdk_display_get_default(), kNames[static_cast<int>(cursor)]);
    gdk_window_set_cursor(gdk_window, c);
    if (c) g_object_unref(c);
}

// ---- Timers ----------------------------------------------------------------------------------------

void timer_set(WindowId id, uint32_t ms) {
    Window* w = record(id);
    if (!w) return;
    if (w->timer) g_source_remove(w->timer);
    w->timer = ms ? g_timeout_add(ms, on_timer, GUINT_TO_POINTER(id)) : 0;
}

}  // namespace zub::platform
