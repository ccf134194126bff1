// The draw dialect: walks a block of commands once, checks each command's arguments by datatype
// and draws at once through the open draw context. Bad input raises script draw-invalid (or
// draw-infinite for a block drawn from inside itself) at the offending position, or, for a
// paint, prints it and abandons the drawing.
#pragma once

#include "runtime/cell.h"
#include "runtime/error.h"
#include "view/backend/draw/context.h"

namespace zub::draw {

// Interns the dialect's words. Once per start-up, before anything is drawn. May collect.
void init_words();

// Unwinds a drawing to its pass when system/view/silent? is on, or, for a paint, with the error
// to print there (once the walk's blocks are off the cycle guard, which would mold them as
// "[...]"). Nothing allocates while it travels, so the block in `arg` stays put.
struct StopDrawing {
    bool print = false;
    ErrorId error = ErrorId::draw_invalid;
    Cell arg = cell::none();
};

// Walks the block (a block! at its index) with the context. Raises, or throws StopDrawing; the
// cycle guard comes back to its depth at entry either way. May collect (set-words store).
void parse_draw(Context& context, Cell block);

// A drawing pass into an image! (which must be rooted by the caller): the image's pixels are
// drawn into in place; what was drawn before an error stays. Commands that are not a non-empty
// block, or an image without both dimensions, draw nothing. With catch_errors a dialect error is printed instead of raised. A side
// above what Cairo draws on is internal no-memory. May collect.
void draw_image(Cell image, Cell commands, bool catch_errors);

// Draws a face's commands inside a paint (the context catches errors): a dialect error is printed
// and ends the drawing, what was drawn before it stays. Anything but a block draws nothing. May
// collect.
void draw_paint(Context& context, Cell commands);

// A surface's pixels (premultiplied) as an image's (0xAARRGGBB, straight alpha), w x h of them.
void surface_pixels(cairo_surface_t* surface, uint32_t* to, int32_t w, int32_t h);

}  // namespace zub::draw
