#!/usr/bin/env python3
"""Draws the program's icon: the scalable SVG, and a PNG for each fixed size with every edge on a whole pixel.

Run from anywhere: python3 platform/controls/icons/make_icons.py (needs rsvg-convert:
scripts/install-dependencies.sh librsvg2-bin). It rewrites the files beside itself; they are kept in
the repository so that building needs no drawing tool.
"""

import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
# Menus and panels take 16 to 24 pixels, docks and launchers the larger ones.
SIZES = (16, 22, 24, 32, 48, 64, 128, 256)
# The design, in units of a 256-unit square: a blue tile, on it a framed
# picture of a sky, a sun and two hills.
TILE = (16, 16, 240, 240)
FRAME = (36, 52, 220, 204)
SKY_INSET = 12
SUN = (166, 100, 16)
HILLS = [(0.0, 1.0), (0.30, 0.42), (0.52, 0.72), (0.68, 0.54), (1.0, 1.0)]


def svg(size, snap):
    """The icon drawn for a square of `size` pixels; with snap, every straight edge on a whole pixel."""
    scale = size / 256

    def at(v):
        return round(v * scale) if snap else v * scale

    def rect(box, inset=0):
        left, top, right, bottom = box
        step = max(1, round(inset * scale)) if snap and inset else inset * scale
        x0, y0, x1, y1 = at(left), at(top), at(right), at(bottom)
        return x0 + step, y0 + step, x1 - step, y1 - step

    tx0, ty0, tx1, ty1 = rect(TILE)
    radius = max(2, round(28 * scale)) if snap else 28 * scale
    fx0, fy0, fx1, fy1 = rect(FRAME)
    sx0, sy0, sx1, sy1 = rect(FRAME, SKY_INSET)
    hills = ' '.join('%g,%g' % (sx0 + u * (sx1 - sx0), sy0 + v * (sy1 - sy0)) for u, v in HILLS)
    sun_x, sun_y, sun_r = SUN[0] * scale, SUN[1] * scale, SUN[2] * scale
    shadow = max(1, round(4 * scale)) if snap else 4 * scale
    return f'''<svg xmlns="http://www.w3.org/2000/svg" width="{size}" height="{size}" viewBox="0 0 {size} {size}">
  <rect x="{tx0}" y="{ty0}" width="{tx1 - tx0}" height="{ty1 - ty0}" rx="{radius}" fill="#285a8c"/>
  <rect x="{fx0 + shadow}" y="{fy0 + shadow}" width="{fx1 - fx0}" height="{fy1 - fy0}" fill="#173652"/>
  <rect x="{fx0}" y="{fy0}" width="{fx1 - fx0}" height="{fy1 - fy0}" fill="#f6f4ee"/>
  <rect x="{sx0}" y="{sy0}" width="{sx1 - sx0}" height="{sy1 - sy0}" fill="#8fcdf0"/>
  <circle cx="{sun_x:g}" cy="{sun_y:g}" r="{sun_r:g}" fill="#ffc933"/>
  <polygon points="{hills}" fill="#3a8c4a"/>
</svg>
'''


def main():
    scalable = os.path.join(HERE, 'picture-workbench.svg')
    with open(scalable, 'w') as file:
        file.write(svg(256, snap=False))
    for size in SIZES:
        drawn = svg(size, snap=True)
        png = os.path.join(HERE, 'picture-workbench-%d.png' % size)
        subprocess.run(['rsvg-convert', '--width', str(size), '--height', str(size), '--output', png],
                       input=drawn.encode(), check=True)
    return 0


if __name__ == '__main__':
    sys.exit(main())
