#!/usr/bin/env python3
"""Pictures the control-kit tests load as resources (Fixtures.rc), drawn
with the placeholder-art script's writers.

Usage: make-fixtures.py OUTDIR
"""
import importlib.util
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ART = os.path.join(HERE, '..', '..', '..', 'tools', 'placeholder-art', 'make-art.py')
found = importlib.util.spec_from_file_location('make_art', ART)
art = importlib.util.module_from_spec(found)
found.loader.exec_module(art)

# One flat colour per check-box state image (indices 0..5) and a disabled
# button picture: each must differ from every other state colour.
BOX_STATES = [(0x10, 0x80, 0x10), (0xF0, 0xF0, 0xF0), (0x10, 0xD0, 0x10),
              (0xC0, 0xC0, 0xF0), (0x50, 0x70, 0x50), (0x90, 0x90, 0x90)]
BUTTON_DISABLED = (0x80, 0x80, 0x20)

RED, BLUE, GREEN = (0xE0, 0x20, 0x20), (0x20, 0x40, 0xE0), (0x20, 0xC0, 0x40)


def gif(frames, size=(32, 32), palette=(RED, BLUE, GREEN, (0, 0, 0))):
    return art.gif_bytes({'size': size, 'palette': list(palette), 'frames': frames})


def full(index, delay, disposal=0, size=(32, 32)):
    w, h = size
    return {'rect': (0, 0, w, h), 'pixels': [index] * (w * h), 'delay': delay, 'disposal': disposal}


def square(index, x, y, n, delay, disposal=0):
    return {'rect': (x, y, n, n), 'pixels': [index] * (n * n), 'delay': delay, 'disposal': disposal}


FILES = {
    'box0.png': lambda: art.png_bytes(art.Canvas(13, 13, BOX_STATES[0] + (255,))),
    'box1.png': lambda: art.png_bytes(art.Canvas(13, 13, BOX_STATES[1] + (255,))),
    'box2.png': lambda: art.png_bytes(art.Canvas(13, 13, BOX_STATES[2] + (255,))),
    'box3.png': lambda: art.png_bytes(art.Canvas(13, 13, BOX_STATES[3] + (255,))),
    'box4.png': lambda: art.png_bytes(art.Canvas(13, 13, BOX_STATES[4] + (255,))),
    'box5.png': lambda: art.png_bytes(art.Canvas(13, 13, BOX_STATES[5] + (255,))),
    'button-disabled.png': lambda: art.png_bytes(art.Canvas(24, 24, BUTTON_DISABLED + (255,))),
    # A PNG whose data stops half way: GDI+ cannot decode it.
    'broken.png': lambda: art.png_bytes(art.Canvas(40, 40, (1, 2, 3, 255)))[:60],
    # One frame only.
    'one.gif': lambda: gif([full(0, 10)]),
    # Delays 0, 1, 4, 5 hundredths, then a frame without a graphic control
    # extension.
    'delays.gif': lambda: gif([full(0, 0), full(1, 1), full(2, 4), full(0, 5), full(1, None)]),
    # Red everywhere, then a blue square with disposal 2, then a green one
    # elsewhere.
    'dispose.gif': lambda: gif([full(0, 10, 1), square(1, 8, 8, 12, 10, 2), square(2, 20, 20, 8, 10, 1)]),
    # Two frames that each stay for ten minutes.
    'slow.gif': lambda: gif([full(0, 60000), full(1, 60000)]),
    # Not a GIF: a still picture the OLE decoder reads.
    'still.bmp': lambda: art.bmp_bytes(art.Canvas(20, 10, BLUE + (255,))),
}


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    for name, make in sorted(FILES.items()):
        data = make()
        path = os.path.join(out, name)
        if not os.path.exists(path) or open(path, 'rb').read() != data:
            with open(path, 'wb') as f:
                f.write(data)
    with open(os.path.join(out, 'fixtures.stamp'), 'w') as f:
        f.write('\n'.join(sorted(FILES)) + '\n')


if __name__ == '__main__':
    main()
