// Input method contexts of the top levels, and what they say turned into events. GTK emits a
// context's signals while it filters a key, so what it says is queued there and dispatched once
// the filter has returned: an actor may then destroy the window, and with it the context, safely.
// What a context says at another time (an input method that answers later) is dispatched from
// the loop.
#include "view/backend/platform/ime.h"

#include <algorithm>
#include <deque>
#include <vector>

#include "datatypes/event.h"
#include "view/backend/platform/events.h"
#include "view/backend/platform/loop.h"
#include "view/backend/platform/widgets.h"

namespace zub::platform::ime {
namespace {

struct Context {
    WindowId root;
    GtkIMContext* im;
    bool focused;    // the context has been told the focus is in
    bool composing;  // the last composition it reported was not empty
};

std::vector<Context> g_contexts;
std::vector<WindowId> g_carets;  // windows of caret faces, where compositions show

// What a context said, waiting to be dispatched: a composition (with its caret index) or
// committed text.
struct Said {
    WindowId root;
    bool commit;
    std::string text;
    int32_t cursor;
};
std::deque<Said> g_said;
bool g_filtering = false;  // inside a key filter: what is said is dispatched after it
bool g_flush_posted = false;

Context* find(WindowId root) {
    for (Context& c : g_contexts)
        if (c.root == root) return &c;
    return nullptr;
}

// The composition goes to the face that has the keyboard focus, the text it commits as keys.
void dispatch_said(const Said& s) {
    if (!window_exists(s.root)) return;
    const WindowId target = window_focused(s.root);
    if (!s.commit) {
        events::Detail d;
        d.text = &s.text;
        d.picked = s.cursor;
        (void)events::dispatch(target, event::ime, 0, d);
        return;
    }
    if (!g_utf8_validate(s.text.data(), static_cast<gssize>(s.text.size()), nullptr)) return;
    for (const char* p = s.text.c_str(); *p; p = g_utf8_next_char(p)) {
        if (!window_exists(target)) return;  // an actor closed the window: the rest goes nowhere
        const events::Detail d = events::key_detail(target);
        (void)events::dispatch(target, event::key, g_utf8_get_char(p) & event::flag::key_mask, d);
    }
}

void flush() {
    while (!g_said.empty()) {
        const Said s = std::move(g_said.front());
        g_said.pop_front();
        dispatch_said(s);
    }
}

void flush_posted(void*) {
    g_flush_posted = false;
    try {
        flush();
    } catch (...) {
    }
}

void queue(Said s) {
    g_said.push_back(std::move(s));
    if (g_filtering || g_flush_posted) return;
    g_flush_posted = true;
    loop::post(flush_posted, nullptr);
}

void on_preedit_changed(GtkIMContext* im, gpointer data) {
    const auto root = static_cast<WindowId>(GPOINTER_TO_UINT(data));
    Context* c = find(root);
    if (!c) return;
    gchar* text = nullptr;
    gint cursor = 0;
    gtk_im_context_get_preedit_string(im, &text, nullptr, &cursor);
    const bool empty = !text || !*text;
    // An empty composition is news only when one was showing.
    if (!empty || c->composing) queue(Said{root, false, text ? text : "", std::max(0, cursor)});
    c->composing = !empty;
    g_free(text);
}

void on_commit(GtkIMContext*, gchar* text, gpointer data) {
    if (text && *text) queue(Said{static_cast<WindowId>(GPOINTER_TO_UINT(data)), true, text, 0});
}

Context* context_for(WindowId root) {
    if (Context* c = find(root)) return c;
    GtkWidget* container = window_container(root);
    GdkWindow* client = container ? gtk_widget_get_window(container) : nullptr;
    if (!client || !window_toplevel(root)) return nullptr;
    GtkIMContext* im = gtk_im_multicontext_new();
    gtk_im_context_set_client_window(im, client);
    gtk_im_context_set_use_preedit(im, TRUE);
    g_signal_connect(im, "preedit-changed", G_CALLBACK(on_preedit_changed), GUINT_TO_POINTER(root));
    g_signal_connect(im, "commit", G_CALLBACK(on_commit), GUINT_TO_POINTER(root));
    g_contexts.push_back(Context{root, im, false, false});
    return &g_contexts.back();
}

// Whether the top level's keyboard focus is on a drawn face (the window itself included), the
// one the input method serves; a native widget has its own.
bool drawn_focus(WindowId root, WindowId target) {
    GtkWidget* top = window_toplevel(root);
    GtkWidget* focus = top ? gtk_window_get_focus(GTK_WINDOW(top)) : nullptr;
    if (!focus) return true;
    return focus == window_container(target) && !widgets::has(target);
}

void set_focus(Context& c, bool in) {
    if (c.focused == in) return;
    c.focused = in;
    if (in) gtk_im_context_focus_in(c.im);
    else gtk_im_context_focus_out(c.im);
}

// The composition shows at the top level's caret face, or else over the face that has the focus.
void place_cursor(const Context& c, WindowId target) {
    WindowId at = target;
    for (const WindowId w : g_carets)
        if (window_root(w) == c.root && window_visible(w)) at = w;
    int32_t x = 0, y = 0;
    for (WindowId w = at; w && w != c.root; w = window_parent(w)) {
        const Rect r = window_rect(w);
        x += r.x;
        y += r.y;
    }
    const Rect own = window_rect(at);
    const int f = std::max(1, gtk_widget_get_scale_factor(window_container(c.root)));
    GdkRectangle area{x / f, y / f, std::max(1, own.width / f), std::max(1, own.height / f)};
    gtk_im_context_set_cursor_location(c.im, &area);
}

std::string utf8_of(uint32_t ch) {
    char buf[8];
    return std::string(buf, static_cast<size_t>(g_unichar_to_utf8(ch, buf)));
}

}  // namespace

bool filter_key(WindowId root, WindowId target, const GdkEventKey& e, uint32_t echo) {
    Context* c = context_for(root);
    if (!c) return false;
    if (!drawn_focus(root, target)) {
        set_focus(*c, false);
        return false;
    }
    set_focus(*c, true);
    place_cursor(*c, target);
    const size_t before = g_said.size();
    const bool was_composing = c->composing;
    GdkEventKey copy = e;
    g_filtering = true;
    const bool taken = gtk_im_context_filter_keypress(c->im, &copy) != 0;
    g_filtering = false;
    // A key that only commits its own character outside a composition is an ordinary key: it keeps
    // the key-down, key sequence.
    const bool echoed = taken && e.type == GDK_KEY_PRESS && echo && !was_composing && g_said.size() == before + 1 &&
                        g_said.back().commit && g_said.back().text == utf8_of(echo);
    if (echoed) g_said.pop_back();
    flush();
    return taken && !echoed;
}

void focus(WindowId root, bool in) {
    if (!in) {
        if (Context* c = find(root)) set_focus(*c, false);
        return;
    }
    Context* c = context_for(root);
    const WindowId target = window_focused(root);
    if (c && drawn_focus(root, target)) {
        set_focus(*c, true);
        place_cursor(*c, target);
    }
}

void note_caret(WindowId caret) {
    if (std::find(g_carets.begin(), g_carets.end(), caret) == g_carets.end()) g_carets.push_back(caret);
    const WindowId root = window_root(caret);
    if (const Context* c = find(root)) place_cursor(*c, window_focused(root));
}

void forget(WindowId id) {
    std::erase(g_carets, id);
    std::erase_if(g_said, [id](const Said& s) { return s.root == id; });
    for (auto it = g_contexts.begin(); it != g_contexts.end(); ++it) {
        if (it->root != id) continue;
        GtkIMContext* im = it->im;
        g_contexts.erase(it);
        g_signal_handlers_disconnect_by_data(im, GUINT_TO_POINTER(id));
        gtk_im_context_set_client_window(im, nullptr);
        g_object_unref(im);
        return;
    }
}

}  // namespace zub::platform::ime
