// The platform layer where the language does not reach: a window's pixels saved to PNG and read
// back, exact placement of children, the pre-filter's key table on synthetic GDK events, closing
// through the window manager's request, and posting from another thread. Runs on a display
// (tests/gui/run-display-test.sh).
#include <gtest/gtest.h>

#include <cairo.h>
#include <gtk/gtk.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "boot/boot.h"
#include "boot/runtime.h"
#include "boot/session.h"
#include "datatypes/context.h"
#include "evaluator/words.h"
#include "view/backend/gui.h"
#include "view/backend/platform/events.h"
#include "view/backend/platform/loop.h"
#include "view/backend/platform/place.h"
#include "view/backend/platform/platform.h"

namespace zub {
namespace {

class Platform : public ::testing::Test {
  protected:
    void SetUp() override {
        boot::start(&gui::extension());
        ASSERT_TRUE(platform::has_display()) << "these tests need a display";
    }
    void TearDown() override {
        for (platform::WindowId id : opened_) platform::window_destroy(id);
        settle();
        runtime::cleanup();
    }

    platform::WindowId open(platform::Rect rect) {
        const platform::WindowId id = platform::window_create(0, rect, "test");
        opened_.push_back(id);
        return id;
    }

    // Serves what waits (mapping, configure, drawing) without blocking.
    static void settle() {
        for (int i = 0; i < 50; ++i) (void)g_main_context_iteration(nullptr, FALSE);
    }
    static void wait_mapped(GtkWidget* widget) {
        for (int i = 0; i < 2000 && !gtk_widget_get_mapped(widget); ++i) (void)g_main_context_iteration(nullptr, TRUE);
        settle();
    }

    static std::string eval(std::string_view code) {
        const session::Outcome outcome = session::evaluate(code, false);
        EXPECT_TRUE(outcome.ok) << code << ": " << outcome.text;
        return outcome.text;
    }

    // A key event as the display would deliver it to the window's container.
    static void put_key(platform::WindowId id, guint keyval, GdkModifierType state, bool press = true) {
        GdkEvent* e = gdk_event_new(press ? GDK_KEY_PRESS : GDK_KEY_RELEASE);
        GdkWindow* target = gtk_widget_get_window(platform::window_container(id));
        e->key.window = GDK_WINDOW(g_object_ref(target));
        e->key.send_event = TRUE;
        e->key.keyval = keyval;
        e->key.state = state;
        GdkKeymapKey* keys = nullptr;
        gint n = 0;
        if (gdk_keymap_get_entries_for_keyval(gdk_keymap_get_for_display(gdk_display_get_default()), keyval, &keys,
                                              &n) &&
            n > 0)
            e->key.hardware_keycode = static_cast<guint16>(keys[0].keycode);
        g_free(keys);
        GdkSeat* seat = gdk_display_get_default_seat(gdk_display_get_default());
        gdk_event_set_device(e, gdk_seat_get_keyboard(seat));
        gdk_event_put(e);
        gdk_event_free(e);
    }

    // Serves events until the expression is true (a few thousand rounds at most; a short tick keeps
    // a round from waiting for ever).
    static void serve_until(const std::string& condition) {
        const guint tick = g_timeout_add(
            5, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
        for (int i = 0; i < 4000 && eval(condition) != "true"; ++i) (void)g_main_context_iteration(nullptr, TRUE);
        g_source_remove(tick);
    }

    // A window opened through the language for a new face held by the global word `name`, once it
    // is on the screen (it has reported its size).
    platform::WindowId open_for_face(const std::string& name) {
        eval("placed?: false system/view: make object! [awake: func [e] [if e/type = 'resize [placed?: true] 'done]]");
        eval(name + ": make object! [name: \"" + name + "\"] view-platform/open-window " + name + " 0x0 60x40 \"t\"");
        const platform::WindowId id = platform::window_of_face(*context::get(words::global(symbol::make(name))));
        EXPECT_NE(id, 0u);
        opened_.push_back(id);
        serve_until("placed?");
        return id;
    }

    static void put_delete(platform::WindowId id) {
        GdkEvent* e = gdk_event_new(GDK_DELETE);
        e->any.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(platform::window_toplevel(id))));
        gdk_event_put(e);
        gdk_event_free(e);
    }

    std::vector<platform::WindowId> opened_;
};

uint32_t pixel(cairo_surface_t* s, int x, int y) {
    cairo_surface_flush(s);
    const unsigned char* row = cairo_image_surface_get_data(s) + y * cairo_image_surface_get_stride(s);
    return reinterpret_cast<const uint32_t*>(row)[x] & 0x00FFFFFF;
}

void fill(cairo_surface_t* s, double r, double g, double b) {
    cairo_t* cr = cairo_create(s);
    cairo_set_source_rgb(cr, r, g, b);
    cairo_paint(cr);
    cairo_destroy(cr);
    cairo_surface_mark_dirty(s);
}

// What a window shows reaches a PNG file and reads back: the window's surface in red, a child
// placed at 8,4 sized 10x6 in blue over it.
TEST_F(Platform, WindowPixelsSaveToPng) {
    const platform::WindowId top = open({0, 0, 64, 48});
    const platform::WindowId child = platform::window_create(top, {8, 4, 10, 6}, "");
    ASSERT_NE(child, 0u);
    platform::window_show(child, true);
    platform::window_show(top, true);
    wait_mapped(platform::window_toplevel(top));
    fill(platform::window_surface(top), 1, 0, 0);
    fill(platform::window_surface(child), 0, 0, 1);
    platform::window_invalidate(top);
    settle();

    cairo_surface_t* shot = platform::window_snapshot(top);
    ASSERT_NE(shot, nullptr);
    const std::string dir = g_get_tmp_dir();
    const std::string file = dir + "/zub-window-" + std::to_string(getpid()) + ".png";
    ASSERT_EQ(cairo_surface_write_to_png(shot, file.c_str()), CAIRO_STATUS_SUCCESS);
    cairo_surface_destroy(shot);

    cairo_surface_t* back = cairo_image_surface_create_from_png(file.c_str());
    ASSERT_EQ(cairo_surface_status(back), CAIRO_STATUS_SUCCESS);
    EXPECT_EQ(cairo_image_surface_get_width(back), 64);
    EXPECT_EQ(cairo_image_surface_get_height(back), 48);
    EXPECT_EQ(pixel(back, 2, 2), 0xFF0000u);    // the window
    EXPECT_EQ(pixel(back, 8, 4), 0x0000FFu);    // the child's first pixel
    EXPECT_EQ(pixel(back, 17, 9), 0x0000FFu);   // and its last
    EXPECT_EQ(pixel(back, 18, 9), 0xFF0000u);   // just right of it
    EXPECT_EQ(pixel(back, 17, 10), 0xFF0000u);  // just below it
    cairo_surface_destroy(back);
    std::remove(file.c_str());
}

// A child gets exactly its rectangle, even one smaller than its minimum size; moving it moves it.
TEST_F(Platform, ChildrenGetExactlyTheirRectangles) {
    const platform::WindowId top = open({0, 0, 200, 100});
    GtkWidget* button = gtk_button_new_with_label("A label far wider than the rectangle it gets");
    platform::place::put(platform::window_container(top), button, 5, 6, 60, 30);
    gtk_widget_show(button);
    platform::window_show(top, true);
    wait_mapped(platform::window_toplevel(top));
    GtkAllocation a;
    gtk_widget_get_allocation(button, &a);
    EXPECT_EQ(a.x, 5);
    EXPECT_EQ(a.y, 6);
    EXPECT_EQ(a.width, 60);
    EXPECT_EQ(a.height, 30);
    platform::place::put(platform::window_container(top), button, 30, 40, 50, 32);
    for (int i = 0; i < 200 && a.x != 30; ++i) {
        (void)g_main_context_iteration(nullptr, TRUE);  // the move is laid out at the next frame
        gtk_widget_get_allocation(button, &a);
    }
    EXPECT_EQ(a.x, 30);
    EXPECT_EQ(a.y, 40);
    EXPECT_EQ(a.width, 50);
    EXPECT_EQ(a.height, 32);
    GdkRectangle r;
    ASSERT_TRUE(platform::place::rect_of(platform::window_container(top), button, &r));
    EXPECT_EQ(r.width, 50);
}

// The key table: special keys give key-down with their word and then key; a modifier alone gives
// key-down only; Ctrl+letter types the control character; Ctrl+Backspace 127; key-up names the key.
TEST_F(Platform, KeysFollowTheTable) {
    const platform::WindowId id = open_for_face("keys");
    eval("log: copy []");
    eval("system/view: make object! [awake: func [e] [append log reduce [e/type e/key e/ctrl?] 'done]]");
    const struct {
        guint keyval;
        GdkModifierType state;
        bool press;
        const char* logged;
    } cases[] = {
        {GDK_KEY_Left, GdkModifierType(0), true, "[key-down left false key left false]"},
        {GDK_KEY_F5, GDK_CONTROL_MASK, true, "[key-down F5 true key F5 true]"},
        {GDK_KEY_Shift_L, GdkModifierType(0), true, "[key-down left-shift false]"},
        {GDK_KEY_a, GdkModifierType(0), true, "[key-down #\"A\" false key #\"a\" false]"},
        {GDK_KEY_a, GDK_CONTROL_MASK, true, "[key-down #\"A\" true key #\"^A\" true]"},
        {GDK_KEY_BackSpace, GdkModifierType(0), true, "[key-down #\"^H\" false key #\"^H\" false]"},
        {GDK_KEY_BackSpace, GDK_CONTROL_MASK, true, "[key-down #\"^H\" true key #\"^~\" true]"},
        {GDK_KEY_Return, GdkModifierType(0), true, "[key-down #\"^M\" false key #\"^M\" false]"},
        {GDK_KEY_Escape, GdkModifierType(0), true, "[key-down #\"^[\" false key #\"^[\" false]"},
        {GDK_KEY_a, GdkModifierType(0), false, "[key-up #\"A\" false]"},
        {GDK_KEY_Left, GdkModifierType(0), false, "[key-up left false]"},
    };
    for (const auto& c : cases) {
        eval("clear log");
        put_key(id, c.keyval, c.state, c.press);
        settle();
        EXPECT_EQ(eval("log"), c.logged) << gdk_keyval_name(c.keyval) << (c.press ? " pressed" : " released");
    }
}

// Mouse input: buttons with their flags, motion once per point, leaving, the wheel's steps; the
// offset in the window's client area.
TEST_F(Platform, MouseInputBecomesEvents) {
    const platform::WindowId id = open_for_face("mouse");
    eval("log: copy []");
    eval(
        "system/view: make object! [awake: func [e] [append/only log reduce [e/type e/offset e/flags e/picked] "
        "'done]]");
    GdkWindow* target = gtk_widget_get_window(platform::window_container(id));
    GdkSeat* seat = gdk_display_get_default_seat(gdk_display_get_default());
    auto put = [&](GdkEventType type, double x, double y, guint button, guint state) {
        GdkEvent* e = gdk_event_new(type);
        e->any.window = GDK_WINDOW(g_object_ref(target));
        e->any.send_event = TRUE;
        gdk_event_set_device(e, gdk_seat_get_pointer(seat));
        switch (type) {
            case GDK_MOTION_NOTIFY: e->motion.x = x, e->motion.y = y, e->motion.state = state; break;
            case GDK_LEAVE_NOTIFY:
                e->crossing.x = x, e->crossing.y = y, e->crossing.state = state;
                e->crossing.detail = GDK_NOTIFY_ANCESTOR;
                break;
            case GDK_SCROLL:
                e->scroll.x = x, e->scroll.y = y, e->scroll.state = state;
                e->scroll.direction = button == 0 ? GDK_SCROLL_UP : GDK_SCROLL_SMOOTH;
                e->scroll.delta_y = 0.5;
                break;
            default: e->button.x = x, e->button.y = y, e->button.button = button, e->button.state = state; break;
        }
        gdk_event_put(e);
        gdk_event_free(e);
        // Motion waits for the frame clock, which a put event does not wake as the display's do.
        gdk_frame_clock_request_phase(gdk_window_get_frame_clock(target), GDK_FRAME_CLOCK_PHASE_FLUSH_EVENTS);
        settle();
    };
    // Serves events until the log holds `n` entries.
    auto wait_log = [&](int n) { serve_until("(length? log) >= " + std::to_string(n)); };
    put(GDK_BUTTON_PRESS, 10, 12, 1, GDK_CONTROL_MASK);
    put(GDK_BUTTON_RELEASE, 10, 12, 1, GDK_CONTROL_MASK | GDK_BUTTON1_MASK);
    put(GDK_BUTTON_PRESS, 3, 4, 3, 0);
    put(GDK_BUTTON_RELEASE, 3, 4, 3, GDK_BUTTON3_MASK);
    put(GDK_BUTTON_PRESS, 5, 5, 2, GDK_SHIFT_MASK);
    put(GDK_2BUTTON_PRESS, 1, 2, 1, 0);
    EXPECT_EQ(eval("log"),
              "[[down (10, 12) [down control] none] [up (10, 12) [control] 0] [alt-down (3, 4) [alt-down] none] "
              "[alt-up (3, 4) [] 0] [mid-down (5, 5) [mid-down shift] none] [dbl-click (1, 2) [down] none]]");
    eval("clear log");
    // Entering gives over, moving inside gives nothing more, leaving gives over with away.
    put(GDK_MOTION_NOTIFY, 7, 8, 0, GDK_BUTTON1_MASK);
    wait_log(1);
    put(GDK_MOTION_NOTIFY, 9, 8, 0, 0);
    put(GDK_LEAVE_NOTIFY, -1, 3, 0, 0);
    put(GDK_SCROLL, 2, 3, 0, 0);
    put(GDK_SCROLL, 2, 3, 1, 0);
    wait_log(4);
    EXPECT_EQ(eval("log"),
              "[[over (7, 8) [down] 0] [over (-1, 3) [away] 0] [wheel (2, 3) [] 1.0] [wheel (2, 3) [] -0.5]]");
    // With all-over every move counts, a repeat of the same point still does not.
    platform::window_set_flags(id, platform::kAllOver);
    eval("clear log");
    put(GDK_MOTION_NOTIFY, 7, 8, 0, 0);
    wait_log(1);
    put(GDK_MOTION_NOTIFY, 7, 8, 0, 0);
    put(GDK_MOTION_NOTIFY, 9, 8, 0, 0);
    wait_log(2);
    EXPECT_EQ(eval("log"), "[[over (7, 8) [] 0] [over (9, 8) [] 0]]");
    // A disabled window takes no input: the first event logged is the one after it is enabled.
    platform::window_set_flags(id, 0);
    put(GDK_LEAVE_NOTIFY, -1, 3, 0, 0);
    wait_log(3);
    gtk_widget_set_sensitive(platform::window_container(id), FALSE);
    eval("clear log");
    put(GDK_MOTION_NOTIFY, 4, 4, 0, 0);
    put(GDK_BUTTON_PRESS, 4, 4, 1, 0);
    put(GDK_SCROLL, 4, 4, 0, 0);
    wait_log(0);
    gtk_widget_set_sensitive(platform::window_container(id), TRUE);
    put(GDK_SCROLL, 5, 5, 0, 0);
    wait_log(1);
    EXPECT_EQ(eval("log"), "[[wheel (5, 5) [] 1.0]]");
}

// An event about a child window without a face names its parent's face; window names the top
// level's face.
TEST_F(Platform, ChildEventsNameTheirFaces) {
    const platform::WindowId top = open_for_face("outer");
    const platform::WindowId child = platform::window_create(top, {5, 5, 20, 20}, "");
    const platform::WindowId grandchild = platform::window_create(child, {1, 1, 5, 5}, "");
    ASSERT_NE(grandchild, 0u);
    EXPECT_EQ(platform::window_root(grandchild), top);
    EXPECT_EQ(platform::window_parent(grandchild), child);
    eval("inner: make object! [name: \"inner\"] got: copy []");
    eval("system/view: make object! [awake: func [e] [append got reduce [e/face/name e/window/name] 'done]]");
    (void)platform::events::dispatch_simple(grandchild, event::click, 0);
    platform::window_set_face(child, *context::get(words::global(symbol::make("inner"))));
    (void)platform::events::dispatch_simple(grandchild, event::click, 0);
    (void)platform::events::dispatch_simple(child, event::click, 0);
    EXPECT_EQ(eval("got"), "[\"outer\" \"outer\" \"inner\" \"outer\" \"inner\" \"outer\"]");
    platform::window_destroy(child);  // its child goes with it
    EXPECT_FALSE(platform::window_exists(grandchild));
    EXPECT_TRUE(platform::window_exists(top));
}

// Cursors by name reach the window's GDK window.
TEST_F(Platform, CursorsAreSet) {
    const platform::WindowId id = open_for_face("cursor");
    GdkWindow* target = gtk_widget_get_window(platform::window_container(id));
    platform::window_set_cursor(id, platform::Cursor::hand);
    EXPECT_NE(gdk_window_get_cursor(target), nullptr);
    platform::window_set_cursor(id, platform::Cursor::I_beam);
    EXPECT_NE(gdk_window_get_cursor(target), nullptr);
}

// A handler answering stop to key-down keeps the key from GTK and makes no key event.
TEST_F(Platform, StopOnKeyDownEndsTheKey) {
    const platform::WindowId id = open_for_face("stopper");
    eval("log: copy []");
    eval("system/view: make object! [awake: func [e] [append log e/type 'stop]]");
    put_key(id, GDK_KEY_Left, GdkModifierType(0));
    settle();
    EXPECT_EQ(eval("log"), "[key-down]");
}

// The window manager's close request: awake answering stop ends the innermost loop and leaves the
// window to the front end; a window without a face just closes.
TEST_F(Platform, CloseRequestsReachAwake) {
    const platform::WindowId id = open_for_face("closing");
    eval("seen: copy []");
    eval("system/view: make object! [awake: func [e] [append seen e/type either e/type = 'close ['stop] ['done]]]");
    put_delete(id);
    (void)platform::loop::run(false);  // returns: the close answered stop
    EXPECT_EQ(eval("find seen 'close"), "[close]");
    EXPECT_TRUE(platform::window_exists(id));

    const platform::WindowId faceless = open({0, 0, 40, 40});
    platform::window_show(faceless, true);
    wait_mapped(platform::window_toplevel(faceless));
    put_delete(faceless);
    settle();
    EXPECT_FALSE(platform::window_exists(faceless));
}

// Another thread posts; the loop's thread dispatches; the blocking loop ends when told to.
TEST_F(Platform, PostsFromAnotherThreadReachAwake) {
    const platform::WindowId id = open_for_face("posted");
    eval("got: copy []");
    eval("system/view: make object! [awake: func [e] [append got e/type view-platform/exit-event-loop 'done]]");
    std::thread poster([id] { platform::events::post_event(id, event::wheel, 0, platform::events::Detail{}); });
    (void)platform::loop::run(false);
    poster.join();
    EXPECT_EQ(eval("got"), "[wheel]");
    EXPECT_EQ(platform::loop::depth(), 0u);
}

// A change of the monitors makes the screen faces follow: refresh-screens runs from the loop.
TEST_F(Platform, MonitorChangesRefreshTheScreens) {
    eval("refreshed: 0 saved-refresh: :system/view/platform/refresh-screens");
    eval("system/view/platform/refresh-screens: does [refreshed: refreshed + 1]");
    g_signal_emit_by_name(gdk_screen_get_default(), "monitors-changed");
    EXPECT_EQ(eval("refreshed"), "0");  // not inside the signal
    settle();
    EXPECT_EQ(eval("refreshed"), "1");
    eval("system/view/platform/refresh-screens: :saved-refresh");
}

// Ending the outer loop first still ends the inner one first: levels return innermost first.
TEST_F(Platform, TargetedEndsUnwindInOrder) {
    std::vector<int> order;
    struct Step {
        std::vector<int>* order;
        int stage;
    };
    static Step step;
    step = Step{&order, 0};
    platform::loop::post(
        [](void*) {
            step.order->push_back(1);  // in the outer loop
            platform::loop::post(
                [](void*) {
                    step.order->push_back(2);  // in the inner loop: the outer's end asked first
                    EXPECT_TRUE(platform::loop::exit_level(1));
                    EXPECT_TRUE(platform::loop::exit_innermost());
                    EXPECT_FALSE(platform::loop::exit_innermost());  // both are ending already
                },
                nullptr);
            (void)platform::loop::run(false);
            step.order->push_back(3);  // the inner loop returned
        },
        nullptr);
    (void)platform::loop::run(false);
    order.push_back(4);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(platform::loop::depth(), 0u);
}

}  // namespace
}  // namespace zub
