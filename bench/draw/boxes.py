# 10,000 filled and outlined boxes up to 100 pixels a side on a 1000x1000 image, one in four rounded.
import math

import cairo

surface = cairo.ImageSurface(cairo.FORMAT_ARGB32, 1000, 1000)
colours = [(0, 0, 128), (200, 0, 0), (0, 128, 0), (90, 90, 90)]
cmds = []
for i in range(1, 10001):
    x, y = i * 7919 % 1000, i * 104729 % 1000
    cmds.append((colours[i % 4], x, y, 1 + i % 100, 1 + i * 7 % 100, 5 if i % 4 == 0 else 0))
for _ in range(REPEAT):
    cr = cairo.Context(surface)
    for (r, g, b), x, y, w, h, radius in cmds:
        if radius:
            cr.new_sub_path()
            cr.arc(x + w - radius, y + radius, radius, -math.pi / 2, 0)
            cr.arc(x + w - radius, y + h - radius, radius, 0, math.pi / 2)
            cr.arc(x + radius, y + h - radius, radius, math.pi / 2, math.pi)
            cr.arc(x + radius, y + radius, radius, math.pi, 3 * math.pi / 2)
            cr.close_path()
        else:
            cr.rectangle(x, y, w, h)
        cr.set_source_rgb(r / 255, g / 255, b / 255)
        cr.fill_preserve()
        cr.set_source_rgb(0, 0, 0)
        cr.stroke()
    surface.flush()
