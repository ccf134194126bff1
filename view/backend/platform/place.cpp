// The exact-placement container as a GtkContainer subclass: children in a list with their
// rectangles, allocated exactly there; the container asks for no size of its own, so the window
// around it decides. It has its own GDK window: drawing and input land on it.
#include "view/backend/platform/place.h"

#include <algorithm>

namespace zub::platform::place {
namespace {

struct Child {
    GtkWidget* widget;
    GdkRectangle rect;
};

struct ZubPlace {
    GtkContainer parent;
    GList* children;  // of Child*, in stacking order (first is lowest)
};

struct ZubPlaceClass {
    GtkContainerClass parent_class;
};

G_DEFINE_TYPE(ZubPlace, zub_place, GTK_TYPE_CONTAINER)

ZubPlace* as_place(GtkWidget* w) { return G_TYPE_CHECK_INSTANCE_CAST(w, zub_place_get_type(), ZubPlace); }

Child* find_child(ZubPlace* place, GtkWidget* widget) {
    for (GList* l = place->children; l; l = l->next) {
        auto* c = static_cast<Child*>(l->data);
        if (c->widget == widget) return c;
    }
    return nullptr;
}

void place_realize(GtkWidget* widget) {
    GtkAllocation a;
    gtk_widget_get_allocation(widget, &a);
    gtk_widget_set_realized(widget, TRUE);
    GdkWindowAttr attributes{};
    attributes.window_type = GDK_WINDOW_CHILD;
    attributes.x = a.x;
    attributes.y = a.y;
    attributes.width = a.width;
    attributes.height = a.height;
    attributes.wclass = GDK_INPUT_OUTPUT;
    attributes.visual = gtk_widget_get_visual(widget);
    attributes.event_mask = gtk_widget_get_events(widget) | GDK_EXPOSURE_MASK | GDK_BUTTON_PRESS_MASK |
                            GDK_BUTTON_RELEASE_MASK | GDK_POINTER_MOTION_MASK | GDK_SCROLL_MASK |
                            GDK_SMOOTH_SCROLL_MASK | GDK_KEY_PRESS_MASK | GDK_KEY_RELEASE_MASK | GDK_ENTER_NOTIFY_MASK |
                            GDK_LEAVE_NOTIFY_MASK | GDK_FOCUS_CHANGE_MASK;
    GdkWindow* window =
        gdk_window_new(gtk_widget_get_parent_window(widget), &attributes, GDK_WA_X | GDK_WA_Y | GDK_WA_VISUAL);
    gtk_widget_set_window(widget, window);
    gtk_widget_register_window(widget, window);
}

void place_size_allocate(GtkWidget* widget, GtkAllocation* allocation) {
    gtk_widget_set_allocation(widget, allocation);
    if (gtk_widget_get_realized(widget))
        gdk_window_move_resize(gtk_widget_get_window(widget), allocation->x, allocation->y, allocation->width,
                               allocation->height);
    for (GList* l = as_place(widget)->children; l; l = l->next) {
        auto* c = static_cast<Child*>(l->data);
        if (!gtk_widget_get_visible(c->widget)) continue;
        // GTK wants every child asked for its size before it is given one; the answer is unused.
        GtkRequisition ignored;
        gtk_widget_get_preferred_size(c->widget, &ignored, nullptr);
        GtkAllocation child = c->rect;  // in our own GDK window's coordinates
        gtk_widget_size_allocate(c->widget, &child);
    }
}

// The container asks for nothing: the window's size is the face's, not the children's.
void place_preferred_width(GtkWidget*, gint* minimum, gint* natural) { *minimum = *natural = 0; }
void place_preferred_height(GtkWidget*, gint* minimum, gint* natural) { *minimum = *natural = 0; }

void place_add(GtkContainer* container, GtkWidget* widget) { put(GTK_WIDGET(container), widget, 0, 0, 0, 0); }

void place_remove(GtkContainer* container, GtkWidget* widget) {
    ZubPlace* place = as_place(GTK_WIDGET(container));
    Child* c = find_child(place, widget);
    if (!c) return;
    const bool was_visible = gtk_widget_get_visible(widget);
    gtk_widget_unparent(widget);
    place->children = g_list_remove(place->children, c);
    g_free(c);
    if (was_visible && gtk_widget_get_visible(GTK_WIDGET(container))) gtk_widget_queue_resize(GTK_WIDGET(container));
}

void place_forall(GtkContainer* container, gboolean, GtkCallback callback, gpointer data) {
    // The callback may remove the child it is given (destruction does): step before calling.
    GList* l = as_place(GTK_WIDGET(container))->children;
    while (l) {
        auto* c = static_cast<Child*>(l->data);
        l = l->next;
        callback(c->widget, data);
    }
}

void zub_place_class_init(ZubPlaceClass* klass) {
    GtkWidgetClass* widget_class = GTK_WIDGET_CLASS(klass);
    widget_class->realize = place_realize;
    widget_class->size_allocate = place_size_allocate;
    widget_class->get_preferred_width = place_preferred_width;
    widget_class->get_preferred_height = place_preferred_height;
    GtkContainerClass* container_class = GTK_CONTAINER_CLASS(klass);
    container_class->add = place_add;
    container_class->remove = place_remove;
    container_class->forall = place_forall;
}

void zub_place_init(ZubPlace* place) {
    place->children = nullptr;
    gtk_widget_set_has_window(GTK_WIDGET(place), TRUE);
    gtk_widget_set_can_focus(GTK_WIDGET(place), TRUE);
}

}  // namespace

GtkWidget* create() { return GTK_WIDGET(g_object_new(zub_place_get_type(), nullptr)); }

void put(GtkWidget* container, GtkWidget* child, int x, int y, int width, int height) {
    ZubPlace* place = as_place(container);
    const GdkRectangle rect{x, y, std::max(width, 0), std::max(height, 0)};
    if (Child* c = find_child(place, child)) {
        c->rect = rect;
    } else {
        auto* added = static_cast<Child*>(g_malloc(sizeof(Child)));
        *added = Child{child, rect};
        place->children = g_list_append(place->children, added);
        gtk_widget_set_parent(child, container);
    }
    if (gtk_widget_get_visible(child) && gtk_widget_get_visible(container)) gtk_widget_queue_resize(container);
}

void raise(GtkWidget* container, GtkWidget* child) {
    ZubPlace* place = as_place(container);
    Child* c = find_child(place, child);
    if (!c) return;
    place->children = g_list_append(g_list_remove(place->children, c), c);
    if (GdkWindow* window = gtk_widget_get_window(child); window && gtk_widget_get_has_window(child))
        gdk_window_raise(window);
    gtk_widget_queue_draw(container);
}

bool rect_of(GtkWidget* container, GtkWidget* child, GdkRectangle* rect) {
    const Child* c = find_child(as_place(container), child);
    if (!c) return false;
    *rect = c->rect;
    return true;
}

}  // namespace zub::platform::place
