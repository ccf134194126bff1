// Text on the draw engine: fonts as Pango descriptions cached on font objects, layouts of plain
// strings and of faces' text, the `text` and `font` commands, and the measuring routines. One
// engine measures and draws: the Pango layout that paints the text is the one that is measured.
// Text positions outside are code points from 1; Pango's byte offsets stay inside this file.
#pragma once

#include "runtime/cell.h"
#include "view/backend/draw/context.h"
#include "view/backend/draw/figure.h"

namespace zub::draw {

// Interns the words read from fonts, paras and style blocks and registers the handle kind `font`.
// Once per start-up.
void init_text();

// The description of a font object (the default font for anything else): a copy the caller frees
// with pango_font_description_free. Made and cached in the font's `state` on first use.
PangoFontDescription* font_description(Cell font);

// The `font` command: the font's description (made and cached on the font if needed) becomes the
// context's; a font with a `color` tuple locks the text colour against `pen` changes.
void select_font(Context& context, Cell font);
// The `text` command: a string, or a face's text laid out in the face's box, with the top-left of
// the layout at the point.
void draw_text(Context& context, Point at, Cell text);

// The size of a string in a face's font (or the face's own text when `text` is none) as a
// point2D!; none when there is no text.
Cell size_text(Cell face, Cell text);
// A measurement of a face's text laid out in its box (codes 0 to 6); see the routine's doc string.
Cell text_box_metrics(Cell face, Cell argument, int32_t code);
// Drops the description cached on a font when a field that shapes the glyphs changed.
void update_font(Cell font, int32_t field);

}  // namespace zub::draw
