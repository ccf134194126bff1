# 10,000 shapes on a 1000x1000 image: circles, ellipses, triangles and five-sided polygons,
# filled and outlined.
import math

import cairo

surface = cairo.ImageSurface(cairo.FORMAT_ARGB32, 1000, 1000)
colours = [(0, 0, 128), (200, 0, 0), (0, 128, 0), (90, 90, 90)]
cmds = []
for i in range(1, 10001):
    x, y, s = i * 7919 % 1000, i * 104729 % 1000, 5 + i % 40
    kind = i % 4
    if kind == 0:
        shape = ("ellipse", x, y, s, s)
    elif kind == 1:
        shape = ("ellipse", x + s, y + s / 2, s, s / 2)
    elif kind == 2:
        shape = ("polygon", [(x, y), (x + s, y + s), (x - s, y + s)])
    else:
        shape = ("polygon", [(x, y), (x + s, y), (x + s, y + s), (x + s // 2, y + s + s), (x, y + s)])
    cmds.append((colours[kind], shape))
for _ in range(REPEAT):
    cr = cairo.Context(surface)
    for (r, g, b), shape in cmds:
        if shape[0] == "ellipse":
            _, cx, cy, rx, ry = shape
            cr.save()
            cr.translate(cx, cy)
            cr.scale(rx, ry)
            cr.arc(0, 0, 1, 0, 2 * math.pi)
            cr.restore()
        else:
            points = shape[1]
            cr.move_to(*points[0])
            for p in points[1:]:
                cr.line_to(*p)
            cr.close_path()
        cr.set_source_rgb(r / 255, g / 255, b / 255)
        cr.fill_preserve()
        cr.set_source_rgb(0, 0, 0)
        cr.stroke()
    surface.flush()
