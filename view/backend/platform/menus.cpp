// A menu block, read value by value: a string followed by a block is an entry with a sub-menu,
// a string followed by a word an entry naming that word, a string alone an entry naming none;
// the word --- is a separator; popup first marks a window's menu as a context menu; anything
// else is skipped. A context menu is made anew for each press and dropped once it closes.
#include "view/backend/platform/menus.h"

#include <gtk/gtk.h>

#include <string>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/object.h"
#include "datatypes/word.h"
#include "runtime/symbol.h"
#include "view/backend/platform/events.h"
#include "view/backend/platform/values.h"

namespace zub::platform::menus {
namespace {

constexpr const char* kWordKey = "zub-menu-word";  // an entry's word symbol + 1 (0: none)
constexpr uint32_t kMaxDepth = 32;                 // sub-menus nested deeper are left out

bool is_word(const Cell& c, const char* name) {
    return cell::is(c, TypeId::word) && symbol::resolve(word::symbol_of(c)) == symbol::resolve(symbol::make(name));
}

Cell field_of(const Cell& face, const char* name) {
    const int32_t at = object::find_word(face, symbol::make(name));
    return at < 0 ? cell::none() : *context::value_at(face.w1, static_cast<uint32_t>(at));
}

void on_activate(GtkMenuItem* item, gpointer data) {
    const auto owner = static_cast<WindowId>(GPOINTER_TO_UINT(data));
    if (!window_exists(owner)) return;
    events::Detail detail;
    detail.picked_word = GPOINTER_TO_UINT(g_object_get_data(G_OBJECT(item), kWordKey));
    (void)events::dispatch(owner, event::menu, 0, detail);
}

// Fills the menu or bar from the block (from its head); false when it made no entry. The texts are read
// first: reading them may collect, so the block is walked by index.
bool fill(GtkWidget* shell, const Cell& list, WindowId owner, uint32_t depth) {
    bool any = false;
    const uint32_t from = block::head_index(list), n = block::length(list);
    for (uint32_t i = 0; i < n; ++i) {
        const Cell value = block::abs_at(list, from + i);
        if (is_word(value, "---")) {
            gtk_menu_shell_append(GTK_MENU_SHELL(shell), gtk_separator_menu_item_new());
            any = true;
            continue;
        }
        if (!cell::is(value, TypeId::string)) continue;
        const std::string text = values::utf8_of(value);
        GtkWidget* item = gtk_menu_item_new_with_label(text.c_str());
        gtk_menu_shell_append(GTK_MENU_SHELL(shell), item);
        any = true;
        const Cell next = i + 1 < n ? block::abs_at(list, from + i + 1) : cell::none();
        if (cell::is(next, TypeId::block)) {
            ++i;
            GtkWidget* sub = gtk_menu_new();
            if (depth < kMaxDepth) (void)fill(sub, next, owner, depth + 1);
            gtk_menu_item_set_submenu(GTK_MENU_ITEM(item), sub);
            continue;
        }
        if (cell::is(next, TypeId::word)) {
            ++i;
            const symbol::Id word = word::symbol_of(next);
            g_object_set_data(G_OBJECT(item), kWordKey, GUINT_TO_POINTER(word + 1));
        }
        g_signal_connect(item, "activate", G_CALLBACK(on_activate), GUINT_TO_POINTER(owner));
    }
    return any;
}

gboolean drop_menu(gpointer menu) {
    gtk_widget_destroy(GTK_WIDGET(menu));
    g_object_unref(menu);
    return G_SOURCE_REMOVE;
}

// The chosen entry is activated after the menu closes: the menu is dropped a loop pass later.
void on_closed(GtkMenuShell* menu, gpointer) { g_idle_add(drop_menu, menu); }

// A window's menu is a bar when it is a block with something in it, not beginning with popup.
bool is_bar(const Cell& list) {
    return cell::is(list, TypeId::block) && block::length(list) > 0 &&
           !is_word(block::abs_at(list, block::head_index(list)), "popup");
}

}  // namespace

void set_bar(WindowId window, const Cell& face) {
    const Cell list = field_of(face, "menu");
    GtkWidget* bar = nullptr;
    if (is_bar(list)) {
        bar = gtk_menu_bar_new();
        if (!fill(bar, list, window, 0)) {
            gtk_widget_destroy(bar);
            bar = nullptr;
        }
    }
    window_set_menu_bar(window, bar);
}

bool popup(WindowId window, const GdkEvent* trigger) {
    const Cell face = window_face(window);
    if (!cell::is(face, TypeId::object)) return false;
    const Cell list = field_of(face, "menu");
    if (!cell::is(list, TypeId::block) || block::length(list) == 0) return false;
    if (is_word(field_of(face, "type"), "window") && is_bar(list)) return false;
    GtkWidget* menu = gtk_menu_new();
    g_object_ref_sink(menu);
    if (!fill(menu, list, window, 0)) {
        g_object_unref(menu);
        return false;
    }
    g_signal_connect(menu, "deactivate", G_CALLBACK(on_closed), nullptr);
    gtk_widget_show_all(menu);
    gtk_menu_popup_at_pointer(GTK_MENU(menu), trigger);
    return true;
}

}  // namespace zub::platform::menus
