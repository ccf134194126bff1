// The draw engine's routines, bound by name from the Zub side of the GUI library.
#include "view/backend/draw/draw.h"

#include "datatypes/function.h"
#include "evaluator/native_args.h"
#include "view/backend/draw/dialect.h"

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

}  // namespace

void register_routines() {
    init_words();
    (void)function::add_routine("draw-image", draw_image_routine);
}

}  // namespace zub::draw
