#!/usr/bin/env python3
"""Placeholder art for the program's resources, drawn with the standard
library only: PNG (zlib), ICO (32-bit DIB images with their mask) and BMP
(24-bit). No real artwork exists; each picture only has to be the right
size and easy to tell apart on a screenshot.

Usage: make-art.py OUTDIR   (writes every file of ART below, then art.stamp)

The output is a pure function of this script: the build runs it and the
resource script (app/resources/Tessarine.rc) names the files it writes.
"""
import os
import struct
import sys
import zlib


class Canvas:
    """RGBA pixels, row-major, top row first."""

    def __init__(self, w, h, rgba=(0, 0, 0, 0)):
        self.w, self.h = w, h
        self.px = [list(rgba) for _ in range(w * h)]

    def put(self, x, y, rgba):
        if 0 <= x < self.w and 0 <= y < self.h:
            self.px[y * self.w + x] = list(rgba)

    def rect(self, x0, y0, x1, y1, rgba):
        """Fills [x0, x1) x [y0, y1)."""
        for y in range(max(0, y0), min(self.h, y1)):
            for x in range(max(0, x0), min(self.w, x1)):
                self.px[y * self.w + x] = list(rgba)

    def frame(self, x0, y0, x1, y1, rgba, t=1):
        self.rect(x0, y0, x1, y0 + t, rgba)
        self.rect(x0, y1 - t, x1, y1, rgba)
        self.rect(x0, y0, x0 + t, y1, rgba)
        self.rect(x1 - t, y0, x1, y1, rgba)

    def disc(self, cx, cy, r, rgba):
        for y in range(int(cy - r) - 1, int(cy + r) + 2):
            for x in range(int(cx - r) - 1, int(cx + r) + 2):
                if (x + 0.5 - cx) ** 2 + (y + 0.5 - cy) ** 2 <= r * r:
                    self.put(x, y, rgba)

    def round_rect(self, x0, y0, x1, y1, r, rgba):
        self.rect(x0 + r, y0, x1 - r, y1, rgba)
        self.rect(x0, y0 + r, x1, y1 - r, rgba)
        for cx, cy in ((x0 + r, y0 + r), (x1 - r, y0 + r), (x0 + r, y1 - r), (x1 - r, y1 - r)):
            self.disc(cx, cy, r, rgba)

    def glyph(self, text, x, y, scale, rgba):
        """Draws text in the 5x7 block font below, scale pixels per dot."""
        for ch in text:
            rows = FONT.get(ch.upper(), FONT['?'])
            for j, row in enumerate(rows):
                for i, bit in enumerate(row):
                    if bit == '#':
                        self.rect(x + i * scale, y + j * scale, x + (i + 1) * scale,
                                  y + (j + 1) * scale, rgba)
            x += 6 * scale


FONT = {
    'A': [' ### ', '#   #', '#   #', '#####', '#   #', '#   #', '#   #'],
    'E': ['#####', '#    ', '#    ', '#### ', '#    ', '#    ', '#####'],
    'I': [' ### ', '  #  ', '  #  ', '  #  ', '  #  ', '  #  ', ' ### '],
    'N': ['#   #', '##  #', '# # #', '#  ##', '#   #', '#   #', '#   #'],
    'P': ['#### ', '#   #', '#   #', '#### ', '#    ', '#    ', '#    '],
    'R': ['#### ', '#   #', '#   #', '#### ', '# #  ', '#  # ', '#   #'],
    'S': [' ####', '#    ', '#    ', ' ### ', '    #', '    #', '#### '],
    'T': ['#####', '  #  ', '  #  ', '  #  ', '  #  ', '  #  ', '  #  '],
    'U': ['#   #', '#   #', '#   #', '#   #', '#   #', '#   #', ' ### '],
    '2': [' ### ', '#   #', '    #', '   # ', '  #  ', ' #   ', '#####'],
    '3': ['#### ', '    #', '    #', ' ### ', '    #', '    #', '#### '],
    '5': ['#####', '#    ', '#### ', '    #', '    #', '#   #', ' ### '],
    '?': [' ### ', '#   #', '    #', '   # ', '  #  ', '     ', '  #  '],
    ' ': ['     '] * 7,
}


def png_bytes(c):
    raw = bytearray()
    for y in range(c.h):
        raw.append(0)  # filter: none
        for x in range(c.w):
            raw.extend(c.px[y * c.w + x])

    def chunk(tag, data):
        return (struct.pack('>I', len(data)) + tag + data +
                struct.pack('>I', zlib.crc32(tag + data) & 0xFFFFFFFF))

    ihdr = struct.pack('>IIBBBBB', c.w, c.h, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', ihdr) +
            chunk(b'IDAT', zlib.compress(bytes(raw), 9)) + chunk(b'IEND', b''))


def bmp_bytes(c):
    """24-bit bottom-up BMP file; alpha dropped."""
    stride = (c.w * 3 + 3) & ~3
    pixels = bytearray()
    for y in reversed(range(c.h)):
        row = bytearray()
        for x in range(c.w):
            r, g, b, _ = c.px[y * c.w + x]
            row.extend((b, g, r))
        row.extend(b'\0' * (stride - len(row)))
        pixels.extend(row)
    info = struct.pack('<IiiHHIIiiII', 40, c.w, c.h, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    head = struct.pack('<2sIHHI', b'BM', 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    return head + info + pixels


def ico_bytes(canvases):
    """ICO with one 32-bit DIB image per canvas (colour, then AND mask)."""
    images = []
    for c in canvases:
        xor = bytearray()
        for y in reversed(range(c.h)):
            for x in range(c.w):
                r, g, b, a = c.px[y * c.w + x]
                xor.extend((b, g, r, a))
        mask_stride = ((c.w + 31) // 32) * 4
        mask = bytearray()
        for y in reversed(range(c.h)):
            row = bytearray(mask_stride)
            for x in range(c.w):
                if c.px[y * c.w + x][3] == 0:
                    row[x // 8] |= 0x80 >> (x % 8)
            mask.extend(row)
        info = struct.pack('<IiiHHIIiiII', 40, c.w, c.h * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
        images.append((c.w, c.h, info + xor + mask))
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for w, h, data in images:
        out += struct.pack('<BBBBHHII', w % 256, h % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for _, _, data in images:
        out += data
    return out


# Colours of the preferences panel: its sliders paint 0xD9E5EE (COLORREF),
# labels are 0x3F3F51, the title 0xFAFAFA on a dark band.
PANEL = (0xEE, 0xE5, 0xD9, 255)
INK = (0x3F, 0x3F, 0x51, 255)
TITLE = (0xFA, 0xFA, 0xFA, 255)


def preferences_background():
    """PNG 235: the preferences panel, 300 x 380 pixels."""
    c = Canvas(300, 380, PANEL)
    c.rect(0, 0, 300, 36, INK)
    c.frame(0, 0, 300, 380, INK)
    for y in (100, 150, 205, 292):  # thin rules between the groups of rows
        c.rect(12, y, 288, y + 1, (0xC9, 0xC0, 0xB4, 255))
    c.glyph('P235', 262, 366, 1, (0x93, 0x91, 0x8F, 255))
    return c


def program_icon(size, fill, mark):
    c = Canvas(size, size)
    r = max(2, size // 6)
    c.round_rect(0, 0, size, size, r, fill)
    s = max(1, size // 12)
    c.glyph(mark, (size - 5 * s) // 2, (size - 7 * s) // 2, s, (255, 255, 255, 255))
    return c


def menu_bitmap(fill, mark):
    c = Canvas(16, 16, (255, 255, 255, 255))
    c.round_rect(1, 1, 15, 15, 3, fill)
    c.glyph(mark, 6, 4, 1, (255, 255, 255, 255))
    return c


BLUE = (0x1E, 0x6F, 0xC8, 255)
TEAL = (0x10, 0x8A, 0x80, 255)

# file name -> (kind, maker)
ART = {
    'png235.png': ('png', preferences_background),
    'icon129.ico': ('ico', lambda: [program_icon(s, BLUE, 'T') for s in (16, 32, 48)]),
    'icon130.ico': ('ico', lambda: [program_icon(s, TEAL, 'T') for s in (16, 32)]),
    'bmp300.bmp': ('bmp', lambda: menu_bitmap((0x55, 0x55, 0x66, 255), 'P')),
    'bmp301.bmp': ('bmp', lambda: menu_bitmap((0x2E, 0x8B, 0x57, 255), 'U')),
    'bmp302.bmp': ('bmp', lambda: menu_bitmap(BLUE, 'I')),
}

WRITERS = {'png': png_bytes, 'bmp': bmp_bytes, 'ico': ico_bytes}


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    for name, (kind, make) in sorted(ART.items()):
        data = WRITERS[kind](make())
        path = os.path.join(out, name)
        # Unchanged files keep their time stamps, so nothing relinks for nothing.
        if not os.path.exists(path) or open(path, 'rb').read() != data:
            with open(path, 'wb') as f:
                f.write(data)
    with open(os.path.join(out, 'art.stamp'), 'w') as f:
        f.write('\n'.join(sorted(ART)) + '\n')


if __name__ == '__main__':
    main()
