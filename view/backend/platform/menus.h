// Menus: a window face's menu block as its menu bar, any other face's (or a window's beginning
// with popup) as a context menu made on a right press in its window. The chosen entry is a menu
// event on that face, its word the event's picked value.
#pragma once

#include <gdk/gdk.h>

#include "view/backend/platform/platform.h"

namespace zub::platform::menus {

// After a right press in a window: pops up the context menu of the window's face at the
// pointer, when the face has one (a menu block; a window's only when it begins with popup).
// True when a menu shows. May collect.
bool popup(WindowId window, const GdkEvent* trigger);

// Gives a top-level window the menu bar its face's menu block describes, replacing the one it
// had; a menu that is not a bar (not a block, empty, or beginning with popup) removes it.
// May collect.
void set_bar(WindowId window, const Cell& face);

}  // namespace zub::platform::menus
