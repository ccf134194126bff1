// The platform layer's routines: the event loop, ending loops, sending events, screens, and the
// window routines the rest of the backend builds on. Each is registered by name; the Zub side
// gives each its argument block.
#include "view/backend/platform/routines.h"

#include <cstdio>
#include <string>

#include "datatypes/block.h"
#include "datatypes/event.h"
#include "datatypes/function.h"
#include "datatypes/pair.h"
#include "datatypes/point.h"
#include "datatypes/time.h"
#include "evaluator/native_args.h"
#include "evaluator/stack.h"
#include "runtime/error.h"
#include "runtime/unicode.h"
#include "view/backend/platform/events.h"
#include "view/backend/platform/loop.h"
#include "view/backend/platform/platform.h"
#include "view/backend/platform/views.h"

namespace zub::platform {
namespace {

using native_args::Args;
using native_args::Plain;

bool g_display_wanted = true;

// A pair! or point2D! in units as device pixels.
bool pixels_of(const Cell& v, double& x, double& y) {
    if (!point::xy(v, x, y)) return false;
    // Kept fractional: an offset sent in units comes back in the same units.
    x *= scale();
    y *= scale();
    return true;
}

// do-event-loop no-wait?: serves events; blocking until the loop is asked to end.
Status do_event_loop(const int32_t* r) {
    const Args<Plain::routine> args(r);
    return args.done(cell::logic(has_display() && loop::run(args.logic(0))));
}

// exit-event-loop: ends the innermost running loop; false when none runs.
Status exit_event_loop(const int32_t* r) {
    const Args<Plain::routine> args(r);
    return args.done(cell::logic(loop::exit_innermost()));
}

// end-event-loop level: ends the loop running at that level (1 the outermost), even while loops
// inside it still run: they end first. False when no loop runs there.
Status end_event_loop(const int32_t* r) {
    const Args<Plain::routine> args(r);
    const int32_t level = args.integer(0);
    return args.done(cell::logic(level > 0 && loop::exit_level(static_cast<uint32_t>(level))));
}

// find-flag? flags flag: the word itself, or a block holding it as a word or lit-word.
Status find_flag(const int32_t* r) {
    const Args<Plain::routine> args(r);
    const Cell flags = args[0];
    const symbol::Id wanted = symbol::resolve(args[1].w2);
    bool found = false;
    if (cell::is(flags, TypeId::word)) {
        found = symbol::resolve(flags.w2) == wanted;
    } else if (cell::is(flags, TypeId::block)) {
        for (uint32_t i = 0, n = block::length(flags); i < n && !found; ++i) {
            const Cell w = block::abs_at(flags, block::head_index(flags) + i);
            found = (cell::is(w, TypeId::word) || cell::is(w, TypeId::lit_word)) && symbol::resolve(w.w2) == wanted;
        }
    }
    return args.done(cell::logic(found));
}

void change_state(void* data) {
    const auto packed = reinterpret_cast<uintptr_t>(data);
    const auto id = static_cast<WindowId>(packed >> 8);
    GtkWidget* top = window_toplevel(id);
    if (!top) return;
    switch (static_cast<int32_t>(packed & 0xFF)) {
        case event::minimize: gtk_window_iconify(GTK_WINDOW(top)); break;
        case event::maximize: gtk_window_maximize(GTK_WINDOW(top)); break;
        default:
            gtk_window_deiconify(GTK_WINDOW(top));
            gtk_window_unmaximize(GTK_WINDOW(top));
            gtk_window_present(GTK_WINDOW(top));
            break;
    }
}

// send-event-os event post?: delivers the event to its face's window, at once or at the next
// loop pass; minimize, maximize and restore change a top-level window's state instead. False
// when the face has no window.
Status send_event_os(const int32_t* r) {
    const Args<Plain::routine> args(r);
    const Cell ev = args[0];
    const bool post = args.logic(1);
    const WindowId id = window_of_face(event::read(ev, event::f_face));
    const int32_t type = event::type_of(ev);
    if (!id || type < event::down || type > event::restore) return args.done(cell::logic(false));
    if (type >= event::minimize) {
        if (!window_toplevel(id)) return args.done(cell::logic(false));
        void* data = reinterpret_cast<void*>(static_cast<uintptr_t>(id) << 8 | static_cast<uintptr_t>(type));
        if (post) loop::post(change_state, data);
        else change_state(data);
        return args.done(cell::logic(true));
    }
    events::Detail detail;
    detail.has_offset = pixels_of(event::read(ev, event::f_offset), detail.x, detail.y);
    if (type == event::wheel) {
        const Cell picked = event::read(ev, event::f_picked);
        detail.wheel = cell::is(picked, TypeId::integer) ? cell::as_integer(picked) : 0;
    }
    const uint32_t flags = ev.w3;
    if (post) events::post_event(id, type, flags, detail);
    else (void)events::dispatch(id, type, flags, detail);
    return args.done(cell::logic(true));
}

// fetch-all-screens: for each monitor [origin size scale handle].
Status fetch_all_screens(const int32_t* r) {
    const Args<Plain::routine> args(r);
    const std::vector<Monitor> list = monitors();
    Cell* out = block::push_new(static_cast<uint32_t>(list.size()));
    for (const Monitor& m : list) {
        const Cell one = block::make_in(cell::series_node(*out), 4);
        const NodeId node = cell::series_node(one);
        block::append(node, pair::make(m.x, m.y));
        block::append(node, pair::make(m.width, m.height));
        block::append(node, cell::floating(m.scale));
        block::append(node, cell::integer(static_cast<int32_t>(m.id)));
    }
    return args.done(*out);
}

// get-current-screen: the monitor under the pointer (its number in fetch-all-screens' order).
Status get_current_screen(const int32_t* r) {
    const Args<Plain::routine> args(r);
    return args.done(cell::integer(static_cast<int32_t>(current_monitor())));
}

// get-screen-size: the first monitor's size in units.
Status get_screen_size(const int32_t* r) {
    const Args<Plain::routine> args(r);
    const std::vector<Monitor> list = monitors();
    if (list.empty()) return args.done(pair::make(0, 0));
    const double s = scale();
    return args.done(pair::make(static_cast<int32_t>(list[0].width / s), static_cast<int32_t>(list[0].height / s)));
}

// open-window face offset size title: a shown top-level window for the face (none for no face).
Status open_window(const int32_t* r) {
    const Args<Plain::routine> args(r);
    double x = 0, y = 0, w = 0, h = 0;
    (void)pixels_of(args[1], x, y);
    (void)pixels_of(args[2], w, h);
    if (w <= 0 || h <= 0) w = h = to_pixels(200);
    Cell title = args[3];
    const unicode::Converted text = unicode::string_to_utf8(title);
    const std::string name(reinterpret_cast<const char*>(text.data), text.size);
    const WindowId id = window_create(
        0, Rect{static_cast<int32_t>(x), static_cast<int32_t>(y), static_cast<int32_t>(w), static_cast<int32_t>(h)},
        name);
    if (!id) error::fire(ErrorId::not_window);
    window_set_integer_size(id, cell::is(args[2], TypeId::pair));
    window_set_face(id, args[0]);
    window_show(id, true);
    return args.done(window_handle(id));
}

// set-rate window rate: none stops the timer; an integer n ticks n times a second, a time! once
// per that time.
Status set_rate(const int32_t* r) {
    const Args<Plain::routine> args(r);
    const WindowId id = window_from_handle(args[0]);
    const uint32_t ms = views::rate_ms(args[1]);
    if (!id) error::fire(ErrorId::not_linked);
    timer_set(id, ms);
    return args.done(cell::logic(true));
}

// close-window window: destroys the window a handle names; false when it names none.
Status close_window(const int32_t* r) {
    const Args<Plain::routine> args(r);
    const WindowId id = window_from_handle(args[0]);
    window_destroy(id);
    return args.done(cell::logic(id != 0));
}

// window-open? window: whether the handle names an existing window.
Status window_open(const int32_t* r) {
    const Args<Plain::routine> args(r);
    return args.done(cell::logic(window_from_handle(args[0]) != 0));
}

// event-loop-depth: blocking loops running now.
Status event_loop_depth(const int32_t* r) {
    const Args<Plain::routine> args(r);
    return args.done(cell::integer(static_cast<int32_t>(loop::depth())));
}

// display?: whether a display is open.
Status display_open(const int32_t* r) {
    const Args<Plain::routine> args(r);
    return args.done(cell::logic(has_display()));
}

struct Named {
    const char* name;
    function::RoutineEntry entry;
};

constexpr Named kRoutines[] = {
    {"do-event-loop", do_event_loop},
    {"exit-event-loop", exit_event_loop},
    {"end-event-loop", end_event_loop},
    {"find-flag?", find_flag},
    {"send-event-os", send_event_os},
    {"fetch-all-screens", fetch_all_screens},
    {"get-current-screen", get_current_screen},
    {"get-screen-size", get_screen_size},
    {"open-window", open_window},
    {"set-rate", set_rate},
    {"close-window", close_window},
    {"window-open?", window_open},
    {"event-loop-depth", event_loop_depth},
    {"display?", display_open},
};

}  // namespace

void set_display_wanted(bool wanted) { g_display_wanted = wanted; }

void register_routines() {
    reset_runtime_state();
    if (g_display_wanted && !open_display()) std::fputs("zub: no display; running as zub-cli\n", stderr);
    for (const Named& r : kRoutines) (void)function::add_routine(r.name, r.entry);
    views::register_routines();
}

}  // namespace zub::platform
