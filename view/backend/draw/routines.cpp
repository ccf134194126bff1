// The draw engine's routines, bound by name from the Zub side of the GUI library.
#include "view/backend/draw/draw.h"

#include "datatypes/function.h"
#include "evaluator/native_args.h"
#include "view/backend/draw/dialect.h"
#include "view/backend/draw/text.h"

namespace zub::draw {
namespace {

using native_args::Args;
using native_args::Plain;

// draw-image image [image!] cmd [block!]: draws the commands into the image's pixels; dialect
// errors are raised to the caller. Returns the image.
Status draw_image_routine(const int32_t* r) {
    const Args<Plain::routine> args(r);
    draw_image(args[0], args[1], false);
    return args.done(args[0]);
}

// size-text face [object!] text [string! none!]: the text's size in the face's font.
Status size_text_routine(const int32_t* r) {
    const Args<Plain::routine> args(r);
    return args.done(size_text(args[0], args[1]));
}

// text-box-metrics face [object!] arg code [integer!]: a measurement of the face's laid-out text.
Status text_box_metrics_routine(const int32_t* r) {
    const Args<Plain::routine> args(r);
    return args.done(text_box_metrics(args[0], args[1], args.integer(2)));
}

// update-font font [object!] field [integer!]: drops what a glyph-changing field made stale.
Status update_font_routine(const int32_t* r) {
    const Args<Plain::routine> args(r);
    update_font(args[0], args.integer(1));
    return args.done(cell::unset());
}

}  // namespace

void register_routines() {
    init_words();
    init_text();
    (void)function::add_routine("draw-image", draw_image_routine);
    (void)function::add_routine("size-text", size_text_routine);
    (void)function::add_routine("text-box-metrics", text_box_metrics_routine);
    (void)function::add_routine("update-font", update_font_routine);
}

}  // namespace zub::draw
