#include "view/backend/gui.h"

#include "view/backend/draw/draw.h"
#include "view/backend/platform/camera.h"
#include "view/backend/platform/clipboard.h"
#include "view/backend/platform/dialogs.h"
#include "view/backend/platform/routines.h"

namespace zub::embedded {
extern const Source view[];  // view/*.zub, in start-up order
extern const uint32_t view_count;
}  // namespace zub::embedded

namespace zub::gui {
namespace {

// Each part of the backend adds its routines, one line each.
void register_routines() {
    platform::register_routines();  // first: it opens the display
    draw::register_routines();
    platform::clipboard::register_routines();
    platform::dialogs::register_routines();
    platform::camera::register_routines();
}

}  // namespace

const boot::Extension& extension() {
    static const boot::Extension kExtension{register_routines, embedded::view, embedded::view_count};
    return kExtension;
}

}  // namespace zub::gui
