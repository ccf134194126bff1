// Context menus: a face's menu block made into a GTK menu on a right press in its window; the
// chosen entry is a menu event on that face, its word the event's picked value.
#pragma once

#include <gdk/gdk.h>

#include "view/backend/platform/platform.h"

namespace zub::platform::menus {

// After a right press in a window: pops up the context menu of the window's face at the
// pointer, when the face has one (a menu block; a window's only when it begins with popup).
// True when a menu shows. May collect.
bool popup(WindowId window, const GdkEvent* trigger);

}  // namespace zub::platform::menus
