// Native widgets: the GTK widget that stands behind a face of a control type (button, field,
// text-list, tab-panel, ...), filling the face's window exactly. The face's facets are carried
// into the widget, and what the user does to it comes back as the face's values and as events.
#pragma once

#include <cairo.h>

#include <cstdint>

#include "runtime/cell.h"
#include "view/backend/platform/platform.h"

namespace zub::platform::widgets {

// Interns the words the widgets read and registers update-scroller. At each start-up.
void reset();

// Puts the widget of the face's type into its window and shows the face's values in it; types
// without a widget are left alone. May collect.
void make(WindowId window, const Cell& face);
// Whether the window holds a widget.
bool has(WindowId window);
// Carries the facets whose change bits are in `mask` into the window's widget. May collect.
void apply(WindowId window, const Cell& face, uint32_t mask);
// Draws the window's widget onto the cairo with its top-left at (x, y).
void draw_into(cairo_t* cr, WindowId window, double x, double y);

}  // namespace zub::platform::widgets
