// The GUI platform layer on GTK 3: the display, the scale between units and pixels, monitors,
// cursors, and the window table. Everything above this layer names a window by its 32-bit id
// (what a handle! holds), never by a pointer; the table maps ids to GTK widgets and to the face
// each window belongs to. All of it runs on the evaluator's thread.
#pragma once

#include <cairo.h>
#include <gtk/gtk.h>

#include <cstdint>
#include <string_view>
#include <vector>

#include "runtime/cell.h"

namespace zub::platform {

// ---- Display and scale ---------------------------------------------------------------------------

// Opens the display once (GTK initialised on this thread); true when one is up. Without one the
// rest of the layer refuses to make windows. Never throws.
bool open_display();
bool has_display();
// Forgets what belonged to a runtime that has ended (handle kinds, faces, words). At each start.
void reset_runtime_state();

// Device pixels per unit (the desktop's scale factor; 1.0 without a display).
double scale();
// Unit to pixel: value times scale, plus 0.5, truncated; pixel to unit: value / scale.
int32_t to_pixels(double units);
double to_units(double pixels);

// ---- Monitors ------------------------------------------------------------------------------------

struct Monitor {
    int32_t x, y;           // origin on the desktop, pixels
    int32_t width, height;  // size, pixels
    double scale;           // pixels per unit
    uint32_t id;            // 1-based, in the order the display lists them
};

std::vector<Monitor> monitors();
// The monitor under the pointer (nearest), 0 without a display.
uint32_t current_monitor();

// ---- Windows ---------------------------------------------------------------------------------------

using WindowId = uint32_t;  // 0: no window

struct Rect {
    int32_t x, y, width, height;  // pixels; a top-level's x and y are on the desktop, a child's
                                  // in its parent's client area
};

// A new window: top level when parent is 0, else a child placed exactly at `rect` in the parent.
// Hidden until shown. 0 when there is no display or the parent does not exist.
WindowId window_create(WindowId parent, Rect rect, std::string_view title);
// Destroys the window and its children (their ids are freed); stops its timer. Unknown ids are
// ignored.
void window_destroy(WindowId id);
bool window_exists(WindowId id);
WindowId window_parent(WindowId id);
// The top-level window a window lies in (itself for a top level).
WindowId window_root(WindowId id);
void window_show(WindowId id, bool visible);
bool window_visible(WindowId id);
void window_set_rect(WindowId id, Rect rect);
// The client rectangle: for a top level its position on the desktop as the window manager last
// reported it, for a child its place in the parent.
Rect window_rect(WindowId id);
// Records where the window manager put a top level (from its configure events); true the first
// time, when the window has just come onto the screen.
bool window_note_rect(WindowId id, Rect rect);
void window_set_title(WindowId id, std::string_view title);
// Puts the menu bar (a GtkMenuBar the window then owns) over a top level's client area, replacing
// the one it had; null removes it. The client area keeps its size: the window grows by the bar.
// A child window destroys the bar and keeps none.
void window_set_menu_bar(WindowId id, GtkWidget* bar);
// The menu bar's height in device pixels, 0 without one.
int32_t window_menu_bar_height(WindowId id);
// Moves a window under another parent at a rectangle there (kept alive across the move; shown as
// before). False when either does not exist, when the window is a top level or when the new
// parent lies inside it.
bool window_reparent(WindowId id, WindowId parent, Rect rect);
// Puts a child above its siblings.
void window_raise(WindowId id);
// Whether the window (and what lies inside it) takes input.
void window_set_enabled(WindowId id, bool enabled);
// A top level's frame: whether it has a title bar and border, may be resized by the user, is a
// small tool window, and blocks the windows beneath.
// A modal window stays above the window that was active when it was framed; a full-screen one
// covers its monitor.
struct Frame {
    bool decorated = true, resizable = false, tool = false, modal = false, fullscreen = false;
};
void window_set_frame(WindowId id, Frame frame);
// Shows a top level in front and gives it the keyboard focus.
void window_present(WindowId id);
// Gives the keyboard focus to the window (inside its top level).
void window_focus(WindowId id);
// The window of the top level `id` whose own area holds the keyboard focus (a drawn face made the
// window's `selected`); `id` itself when none does.
WindowId window_focused(WindowId id);
// The windows alive now.
uint32_t window_count();
// Called when a window's drawing surface no longer fits its size (the user resized it, a layout
// moved it), so its owner paints it anew. Runs on the loop, outside GTK's drawing.
void set_resize_hook(void (*hook)(WindowId));
// The face's flag bits the pre-filter reads (kAllOver: an over event for every move, not only on
// entering the window).
inline constexpr uint32_t kAllOver = 0x1;
void window_set_flags(WindowId id, uint32_t flags);
uint32_t window_flags(WindowId id);
// Whether the window takes input (GTK's sensitivity).
bool window_enabled(WindowId id);

// Whether sizes of this window's events are reported as pair! (its face's size was a pair!).
void window_set_integer_size(WindowId id, bool on);
bool window_integer_size(WindowId id);

// A handle! naming the window (an external handle of the kind "window", holding its id; the
// window lives until destroyed, whatever becomes of the value), and the window a handle! names
// (0 when it names none that exists). Never collect.
Cell window_handle(WindowId id);
WindowId window_from_handle(const Cell& handle);

// The face a window belongs to (an object!, or none). The table roots it.
void window_set_face(WindowId id, const Cell& face);
Cell window_face(WindowId id);
// The window a face belongs to: the first window whose face is the same object, or 0.
WindowId window_of_face(const Cell& face);

// The widget that holds the window's children (its exact-placement container) and the top-level
// GTK window (null for a child).
GtkWidget* window_container(WindowId id);
GtkWidget* window_toplevel(WindowId id);
// The window an event's GDK window belongs to, looking up through parents; 0 for none of ours.
WindowId window_of_gdk(GdkWindow* gdk_window);

// The drawing surface of a window: an image surface as large as the window in pixels (premultiplied
// ARGB), made on first use and remade when the size changes; painted onto the window when GTK
// draws it. Null without a window. Call window_invalidate after drawing.
cairo_surface_t* window_surface(WindowId id);
void window_invalidate(WindowId id);
// Renders the window as it shows (its surface and children) into a new image surface; null when
// the window does not exist. The caller destroys the surface.
cairo_surface_t* window_snapshot(WindowId id);

// ---- Cursors ---------------------------------------------------------------------------------------

enum class Cursor : uint8_t { arrow, I_beam, hand, cross, resize_ns, resize_we };
void window_set_cursor(WindowId id, Cursor cursor);

// ---- Timers ----------------------------------------------------------------------------------------

// Sets the window's one timer to tick every `ms` milliseconds (a `time` event each tick), or stops
// it when ms is 0. Ticks come only while a loop runs.
void timer_set(WindowId id, uint32_t ms);

}  // namespace zub::platform
