#include "console/caret_blink.h"

#include <gtk/gtk.h>

#include "evaluator/native_args.h"

namespace zub::console_window {

int32_t caret_blink_time() {
    GtkSettings* settings = gdk_screen_get_default() ? gtk_settings_get_default() : nullptr;
    if (!settings) return 0;
    gboolean blink = TRUE;
    gint cycle = 0;
    g_object_get(settings, "gtk-cursor-blink", &blink, "gtk-cursor-blink-time", &cycle, nullptr);
    if (!blink) return -1;
    // The desktop gives a whole on-and-off cycle; the caret's rate counts the time it stays lit.
    return cycle > 0 ? cycle / 2 : 0;
}

Status get_caret_blink_time(const int32_t* r) {
    const native_args::Args<native_args::Plain::routine> args(r);
    return args.done(cell::integer(caret_blink_time()));
}

}  // namespace zub::console_window
