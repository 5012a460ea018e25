#!/usr/bin/python3
"""Where two screenshots of the same screen differ, within an optional
rectangle: prints the centre and size of the box around every changed pixel
as "X Y WIDTH HEIGHT", or exits 1 when nothing changed. A pixel has changed
when one of its channels moved by more than TOLERANCE (0: any change), so
that a translucent panel's slight shift of shade is not taken for an icon,
and when no pixel up to SHIFT columns left or right of it in BEFORE matches
it either, so that icons a new one pushes aside by a pixel are not taken
for new.

  changed-region.py BEFORE.png AFTER.png [LEFT TOP WIDTH HEIGHT [TOLERANCE [SHIFT]]]
"""
import sys

import gi

gi.require_version("GdkPixbuf", "2.0")
from gi.repository import GdkPixbuf  # noqa: E402


def main(argv):
    before, after = (GdkPixbuf.Pixbuf.new_from_file(path) for path in argv[1:3])
    width, height = after.get_width(), after.get_height()
    left, top, w, h = (int(v) for v in argv[3:7]) if len(argv) >= 7 else (0, 0, width, height)
    tolerance = int(argv[7]) if len(argv) >= 8 else 0
    shift = int(argv[8]) if len(argv) >= 9 else 0
    a, b = before.get_pixels(), after.get_pixels()
    channels_a, channels_b = before.get_n_channels(), after.get_n_channels()
    stride_a, stride_b = before.get_rowstride(), after.get_rowstride()

    def matches(x, y, pb):
        pa = y * stride_a + x * channels_a
        return all(abs(p - q) <= tolerance for p, q in zip(a[pa:pa + 3], b[pb:pb + 3]))

    xs, ys = [], []
    for y in range(top, min(top + h, height)):
        for x in range(left, min(left + w, width)):
            pb = y * stride_b + x * channels_b
            near = range(max(x - shift, 0), min(x + shift, width - 1) + 1)
            if not any(matches(nx, y, pb) for nx in near):
                xs.append(x)
                ys.append(y)
    if not xs:
        sys.exit(1)
    x0, x1, y0, y1 = min(xs), max(xs), min(ys), max(ys)
    print((x0 + x1) // 2, (y0 + y1) // 2, x1 - x0 + 1, y1 - y0 + 1)


if __name__ == "__main__":
    main(sys.argv)
