# 10,000 lines of 2 pixels across a 1000x1000 image, in four colours.
import cairo

surface = cairo.ImageSurface(cairo.FORMAT_ARGB32, 1000, 1000)
colours = [(0, 0, 128), (200, 0, 0), (0, 128, 0), (90, 90, 90)]
cmds = [(colours[i % 4], (i * 7919 % 1000, i * 104729 % 1000), (i * 1299709 % 1000, i * 15485863 % 1000))
        for i in range(1, 10001)]
for _ in range(REPEAT):
    cr = cairo.Context(surface)
    cr.set_line_width(2)
    for (r, g, b), (x1, y1), (x2, y2) in cmds:
        cr.set_source_rgb(r / 255, g / 255, b / 255)
        cr.move_to(x1, y1)
        cr.line_to(x2, y2)
        cr.stroke()
    surface.flush()
