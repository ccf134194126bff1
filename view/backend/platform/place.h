// The exact-placement container: a GTK container that gives each child exactly the rectangle it
// was placed at, never its natural or minimum size (a fixed container would grow a button to fit
// its label). Every window of the platform layer holds one, with its own GDK window, so it can be
// drawn on and receives input.
#pragma once

#include <gtk/gtk.h>

namespace zub::platform::place {

// A new, empty container widget (floating reference, as GTK widgets are made).
GtkWidget* create();

// Puts a child at a rectangle in the container's coordinates (pixels), or moves it there when it
// is already a child. The child's size is exactly width x height (negative sizes become 0).
void put(GtkWidget* container, GtkWidget* child, int x, int y, int width, int height);

// Puts a child above the others (last in the stacking order).
void raise(GtkWidget* container, GtkWidget* child);

// The rectangle a child was placed at; false when the widget is not a child.
bool rect_of(GtkWidget* container, GtkWidget* child, GdkRectangle* rect);

}  // namespace zub::platform::place
