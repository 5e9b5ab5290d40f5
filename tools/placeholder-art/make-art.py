#!/usr/bin/env python3
"""Placeholder art for the program's resources, drawn with the standard
library only: PNG (zlib), ICO (32-bit DIB images with their mask), BMP
(24-bit) and GIF (LZW, several frames). No real artwork exists; each
picture only has to be the right size and easy to tell apart on a
screenshot.

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
    '0': [' ### ', '#   #', '#  ##', '# # #', '##  #', '#   #', ' ### '],
    '1': ['  #  ', ' ##  ', '  #  ', '  #  ', '  #  ', '  #  ', ' ### '],
    '2': [' ### ', '#   #', '    #', '   # ', '  #  ', ' #   ', '#####'],
    '3': ['#### ', '    #', '    #', ' ### ', '    #', '    #', '#### '],
    '4': ['   # ', '  ## ', ' # # ', '#  # ', '#####', '   # ', '   # '],
    '5': ['#####', '#    ', '#### ', '    #', '    #', '#   #', ' ### '],
    '7': ['#####', '    #', '   # ', '  #  ', ' #   ', ' #   ', ' #   '],
    '9': [' ### ', '#   #', '#   #', ' ####', '    #', '    #', ' ### '],
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


def lzw_codes(indices, min_size):
    """GIF's variable-width LZW over palette indices, packed into bytes."""
    clear, end = 1 << min_size, (1 << min_size) + 1
    table = {(i,): i for i in range(clear)}
    size, next_code = min_size + 1, end + 1
    out, acc, nbits = bytearray(), 0, 0

    def emit(code):
        nonlocal acc, nbits
        acc |= code << nbits
        nbits += size
        while nbits >= 8:
            out.append(acc & 0xFF)
            acc >>= 8
            nbits -= 8

    emit(clear)
    run = ()
    for px in indices:
        grown = run + (px,)
        if grown in table:
            run = grown
            continue
        emit(table[run])
        if next_code < 4096:
            table[grown] = next_code
            next_code += 1
            if next_code > (1 << size) and size < 12:
                size += 1
        else:  # table full: start again
            emit(clear)
            table = {(i,): i for i in range(clear)}
            size, next_code = min_size + 1, end + 1
        run = (px,)
    if run:
        emit(table[run])
    emit(end)
    if nbits:
        out.append(acc & 0xFF)
    return bytes(out)


def gif_bytes(animation):
    """animation: {'size': (w, h), 'palette': [rgb...], 'frames': [frame...]}.
    A frame: {'rect': (x, y, w, h), 'pixels': [index...] (row-major),
    'delay': hundredths or None (no graphic control extension),
    'disposal': 0..3}. The palette is the global colour table."""
    w, h = animation['size']
    palette = list(animation['palette'])
    bits = 1
    while (1 << bits) < len(palette):
        bits += 1
    palette += [(0, 0, 0)] * ((1 << bits) - len(palette))
    out = bytearray(b'GIF89a')
    out += struct.pack('<HHBBB', w, h, 0x80 | 0x70 | (bits - 1), 0, 0)
    for rgb in palette:
        out += bytes(rgb)
    # Loop for ever (the application extension the decoders look for).
    out += b'\x21\xff\x0bNETSCAPE2.0\x03\x01\x00\x00\x00'
    for f in animation['frames']:
        if f.get('delay') is not None:
            packed = (f.get('disposal', 0) & 7) << 2
            out += struct.pack('<BBBBHBB', 0x21, 0xF9, 4, packed, f['delay'], 0, 0)
        x, y, fw, fh = f['rect']
        out += struct.pack('<BHHHHB', 0x2C, x, y, fw, fh, 0)
        min_size = max(2, bits)
        data = lzw_codes(f['pixels'], min_size)
        out.append(min_size)
        for i in range(0, len(data), 255):
            chunk = data[i:i + 255]
            out.append(len(chunk))
            out += chunk
        out.append(0)
    out.append(0x3B)
    return bytes(out)


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
    # The picture's number where the panel's layout leaves the picture bare:
    # the left end of the title band (Save covers the lower right corner).
    c.glyph('P235', 8, 15, 1, (0x93, 0x91, 0x8F, 255))
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

# ---- The control kit (app/controls) and its dialogs.
#
# State images are one flat colour each, so a test can tell the state a
# control shows from one pixel of the screen: keep these colours distinct.
CROSS_HOVER = (0x3C, 0xB4, 0x5A, 255)     # PNG 136
CROSS_NORMAL = (0x5A, 0x8C, 0xD2, 255)    # PNG 137
CROSS_PRESSED = (0xD2, 0x50, 0x3C, 255)   # PNG 138
BUTTON_NORMAL = (0xE6, 0xE6, 0xE6, 255)   # PNG 172
BUTTON_HOVER = (0xBE, 0xDC, 0xF5, 255)    # PNG 173
BUTTON_PRESSED = (0x8C, 0xB4, 0xDC, 255)  # PNG 174
BOX_CHECKED = (0x28, 0x96, 0x46, 255)     # PNG 156
BOX_UNCHECKED = (0xB4, 0xC8, 0xDC, 255)   # PNG 157
BOX_DISABLED = (0xA0, 0xA0, 0xA0, 255)    # PNG 158


def flat(w, h, rgba):
    return Canvas(w, h, rgba)


def layered_face(w, h, fill, band, mark):
    """PNGs 200 and 197: the faces of the layered dialogs, with real alpha.
    Corners of radius 16 are fully transparent; the top edge is soft: row 0
    has alpha 64, row 1 alpha 128, row 2 alpha 192 (all in `fill`), from
    row 3 on the face is opaque. A title band runs below the soft edge."""
    c = Canvas(w, h)
    r = 16
    c.round_rect(0, 0, w, h, r, fill)
    for y, a in ((0, 64), (1, 128), (2, 192)):
        for x in range(r, w - r):
            c.put(x, y, fill[:3] + (a,))
    c.rect(r, 3, w - r, 36, band)
    c.rect(3, 36, w - 3, 37, band)
    c.glyph(mark, 24, 13, 2, fill)
    return c


def wizard_background():
    """PNG 135: the first-run wizard, 645 x 514, opaque. A grid every 50
    pixels (its lines at x, y = 49, 99, ...) shows whether a slice is taken
    at the right offset."""
    c = Canvas(645, 514, (0xF2, 0xF4, 0xF7, 255))
    c.rect(0, 0, 645, 40, (0x2B, 0x4C, 0x7E, 255))
    for x in range(49, 645, 50):
        c.rect(x, 40, x + 1, 514, (0xD8, 0xDE, 0xE8, 255))
    for y in range(89, 514, 50):
        c.rect(0, y, 645, y + 1, (0xD8, 0xDE, 0xE8, 255))
    # The number in the title band's left end: the pages cover everything
    # below it (Decline the lower right corner).
    c.glyph('P135', 8, 17, 1, (0x93, 0x91, 0x8F, 255))
    return c


def busy_gif():
    """GIF 131: the busy overlay's animation, 48 x 48. Frame 0 fills the
    screen in dark slate; frames 1 to 3 are 16 x 16 squares (blue, teal,
    amber) at three places; frame 2 has disposal 2 (its square goes back to
    the background before frame 3), the others keep theirs."""
    palette = [(0x2F, 0x3A, 0x4A), (0x3C, 0x8C, 0xE6), (0x2E, 0xB8, 0xA0), (0xF0, 0xB4, 0x28)]
    full = [0] * (48 * 48)
    frames = [{'rect': (0, 0, 48, 48), 'pixels': full, 'delay': 20, 'disposal': 1}]
    for i, (x, y, disposal) in enumerate(((4, 16, 1), (16, 16, 2), (28, 16, 1))):
        frames.append({'rect': (x, y, 16, 16), 'pixels': [i + 1] * 256, 'delay': 20, 'disposal': disposal})
    return {'size': (48, 48), 'palette': palette, 'frames': frames}


KIT_ART = {
    'png135.png': ('png', wizard_background),
    'png136.png': ('png', lambda: flat(24, 24, CROSS_HOVER)),
    'png137.png': ('png', lambda: flat(24, 24, CROSS_NORMAL)),
    'png138.png': ('png', lambda: flat(24, 24, CROSS_PRESSED)),
    'png144.png': ('png', lambda: flat(4, 55, (0x6E, 0x78, 0x87, 255))),
    'png156.png': ('png', lambda: flat(13, 13, BOX_CHECKED)),
    'png157.png': ('png', lambda: flat(13, 13, BOX_UNCHECKED)),
    'png158.png': ('png', lambda: flat(13, 13, BOX_DISABLED)),
    'png172.png': ('png', lambda: flat(85, 35, BUTTON_NORMAL)),
    'png173.png': ('png', lambda: flat(85, 35, BUTTON_HOVER)),
    'png174.png': ('png', lambda: flat(85, 35, BUTTON_PRESSED)),
    'png197.png': ('png', lambda: layered_face(471, 394, (0xF5, 0xF1, 0xEA, 255), (0x7A, 0x5C, 0x3A, 255), 'P197')),
    'png200.png': ('png', lambda: layered_face(471, 285, (0xEE, 0xF2, 0xF8, 255), (0x3A, 0x5C, 0x8A, 255), 'P200')),
    'png210.png': ('png', lambda: flat(54, 45, (0xE8, 0x8C, 0x1E, 255))),
    'gif131.gif': ('gif', busy_gif),
}

ART.update(KIT_ART)

# ---- The session window, the preferences panel's own buttons, the about
# box and the error pages.
SKIN_FACE = (0xF5, 0xF5, 0xF5, 255)
SKIN_CAPTION = (0x2B, 0x4C, 0x7E, 255)
SKIN_EDGE = (0x9A, 0xA5, 0xB5, 255)
HEADER_BAND = (0xDD, 0xEA, 0xF3, 255)
WHITE = (255, 255, 255, 255)


def session_skin():
    """PNG 273: the session panel, 302 x 452: a caption strip 50 pixels
    high over a light face, a thin edge all round."""
    c = Canvas(302, 452, SKIN_FACE)
    c.rect(0, 0, 302, 50, SKIN_CAPTION)
    c.glyph('TESSARINE', 12, 18, 2, WHITE)
    c.frame(0, 0, 302, 452, SKIN_EDGE)
    c.glyph('P273', 270, 440, 1, (0x93, 0x91, 0x8F, 255))
    return c


def session_logo():
    """PNG 160: the header strip of a running session, 300 x 55."""
    c = Canvas(300, 55, HEADER_BAND)
    c.rect(0, 54, 300, 55, SKIN_EDGE)
    c.round_rect(10, 12, 42, 44, 6, (0x40, 0xA0, 0xAD, 255))
    c.glyph('T', 23, 21, 2, WHITE)
    return c


def caption_button(w, h, fill, mark):
    """The caption strip's buttons: a flat square in the strip's colour
    family with a white mark: 'menu' (three bars), 'hide' (one bar) or
    'plus'."""
    c = Canvas(w, h, fill)
    cx, cy = w // 2, h // 2
    if mark == 'menu':
        for dy in (-7, 0, 7):
            c.rect(cx - 9, cy + dy - 1, cx + 9, cy + dy + 2, WHITE)
    elif mark == 'hide':
        c.rect(cx - 9, cy - 1, cx + 9, cy + 2, WHITE)
    else:
        c.rect(cx - 9, cy - 1, cx + 9, cy + 2, WHITE)
        c.rect(cx - 1, cy - 9, cx + 2, cy + 9, WHITE)
    return c


def session_button(fill, mark):
    """The header's 20 x 20 buttons: 'screen' (full display), 'display'
    (two screens) or 'stop' (a square)."""
    c = Canvas(20, 20, (0, 0, 0, 0))
    c.round_rect(0, 0, 20, 20, 4, fill)
    if mark == 'stop':
        c.rect(6, 6, 14, 14, WHITE)
    elif mark == 'screen':
        c.frame(4, 5, 16, 14, WHITE)
    else:
        c.frame(3, 4, 12, 11, WHITE)
        c.frame(8, 9, 17, 16, WHITE)
    return c


def row_picture(fill):
    """PNGs 304 to 306: a receiver row's button, 300 x 38."""
    c = Canvas(300, 38, fill)
    c.disc(22, 19, 7, (0x40, 0xA0, 0xAD, 255))
    return c


def area_button(fill):
    """PNGs 259 to 261: the region button, 50 x 25, a dashed frame on it."""
    c = Canvas(50, 25, fill)
    for x in range(12, 38, 4):
        c.rect(x, 6, x + 2, 7, WHITE)
        c.rect(x, 18, x + 2, 19, WHITE)
    for y in range(6, 19, 4):
        c.rect(12, y, 13, y + 2, WHITE)
        c.rect(37, y, 38, y + 2, WHITE)
    return c


def about_logo():
    """PNG 258: the about box's logo, 144 x 144."""
    c = Canvas(144, 144, (0, 0, 0, 0))
    c.round_rect(0, 0, 144, 144, 24, BLUE)
    c.glyph('T', 54, 42, 12, WHITE)
    return c


SESSION_ART = {
    'png273.png': ('png', session_skin),
    'png160.png': ('png', session_logo),
    'png297.png': ('png', lambda: caption_button(36, 49, (0x2B, 0x4C, 0x7E, 255), 'menu')),
    'png298.png': ('png', lambda: caption_button(36, 49, (0x3D, 0x6C, 0xB0, 255), 'menu')),
    'png299.png': ('png', lambda: caption_button(36, 49, (0x1A, 0x30, 0x52, 255), 'menu')),
    'png307.png': ('png', lambda: caption_button(36, 48, (0x2B, 0x4C, 0x7E, 255), 'hide')),
    'png308.png': ('png', lambda: caption_button(36, 48, (0xC0, 0x45, 0x3A, 255), 'hide')),
    'png311.png': ('png', lambda: caption_button(36, 49, (0x2B, 0x4C, 0x7E, 255), 'plus')),
    'png312.png': ('png', lambda: caption_button(36, 49, (0x3D, 0x6C, 0xB0, 255), 'plus')),
    'png313.png': ('png', lambda: caption_button(36, 49, (0x1A, 0x30, 0x52, 255), 'plus')),
    'png286.png': ('png', lambda: session_button((0x58, 0xB8, 0xC4, 255), 'display')),
    'png287.png': ('png', lambda: session_button((0x40, 0xA0, 0xAD, 255), 'display')),
    'png288.png': ('png', lambda: session_button((0x2A, 0x78, 0x82, 255), 'display')),
    'png289.png': ('png', lambda: session_button((0xA0, 0xA0, 0xA0, 255), 'display')),
    'png290.png': ('png', lambda: session_button((0x58, 0xB8, 0xC4, 255), 'screen')),
    'png291.png': ('png', lambda: session_button((0x40, 0xA0, 0xAD, 255), 'screen')),
    'png292.png': ('png', lambda: session_button((0x2A, 0x78, 0x82, 255), 'screen')),
    'png293.png': ('png', lambda: session_button((0xA0, 0xA0, 0xA0, 255), 'screen')),
    'png294.png': ('png', lambda: session_button((0xE0, 0x60, 0x50, 255), 'stop')),
    'png295.png': ('png', lambda: session_button((0xC0, 0x45, 0x3A, 255), 'stop')),
    'png296.png': ('png', lambda: session_button((0x8A, 0x2E, 0x26, 255), 'stop')),
    'png304.png': ('png', lambda: row_picture((0xFA, 0xFA, 0xFA, 255))),
    'png305.png': ('png', lambda: row_picture((0xC8, 0xDC, 0xEE, 255))),
    'png306.png': ('png', lambda: row_picture((0xE6, 0xF0, 0xF8, 255))),
    'png259.png': ('png', lambda: area_button((0x3D, 0x6C, 0xB0, 255))),
    'png260.png': ('png', lambda: area_button((0x1A, 0x30, 0x52, 255))),
    'png261.png': ('png', lambda: area_button((0x58, 0x8C, 0xD8, 255))),
    'png274.png': ('png', lambda: flat(85, 35, (0x8C, 0xC8, 0x8C, 255))),
    'png275.png': ('png', lambda: flat(85, 35, (0xAA, 0xDC, 0xAA, 255))),
    'png276.png': ('png', lambda: flat(85, 35, (0x64, 0xA0, 0x64, 255))),
    'png258.png': ('png', about_logo),
    'png211.png': ('png', lambda: flat(120, 140, (0xEE, 0xF2, 0xF8, 255))),
}

ART.update(SESSION_ART)
# ---- The first-run wizard, the proxy dialog (app/dialogs). Flat state
# colours again, distinct from the kit's, so a test reads a button's state
# from one pixel.
PAGE_HOVER = (0x2F, 0x7F, 0xD8, 255)     # PNG 146
PAGE_NORMAL = (0x1E, 0x5F, 0xB0, 255)    # PNG 147
PAGE_PRESSED = (0x12, 0x3C, 0x78, 255)   # PNG 148
PAGE_DISABLED = (0x90, 0x98, 0xA4, 255)  # PNG 149
APPLY_HOVER = (0xC8, 0xE6, 0xC8, 255)    # PNG 193
APPLY_NORMAL = (0xDC, 0xDC, 0xD2, 255)   # PNG 194
APPLY_PRESSED = (0x3C, 0x64, 0x3C, 255)  # PNG 195
APPLY_DISABLED = (0xB4, 0xB4, 0xB4, 255) # PNG 196
RADIO_RING = (0x6E, 0x78, 0x87, 255)
RADIO_DOT = (0x1E, 0x5F, 0xB0, 255)


def page_button(rgba):
    """PNGs 146 to 149: the wizard's 150 x 40 buttons, rounded corners."""
    c = Canvas(150, 40)
    c.round_rect(0, 0, 150, 40, 6, rgba)
    return c


def radio(ring, dot):
    """PNGs 179, 180, 230: 13 x 13 radio buttons (a ring, a dot when on)."""
    c = Canvas(13, 13)
    c.disc(6.5, 6.5, 6.5, ring)
    c.disc(6.5, 6.5, 5.2, (255, 255, 255, 255))
    if dot:
        c.disc(6.5, 6.5, 3.2, dot)
    return c


def welcome_picture():
    """PNG 145: the welcome page's picture, 600 x 230: a screen beside a
    receiver, joined by waves."""
    c = Canvas(600, 230, (0xE4, 0xEC, 0xF6, 255))
    c.round_rect(90, 40, 250, 150, 8, (0x2B, 0x4C, 0x7E, 255))     # the PC's screen
    c.rect(100, 50, 240, 140, (0x6A, 0xA6, 0xE0, 255))
    c.rect(155, 150, 185, 170, (0x2B, 0x4C, 0x7E, 255))
    c.rect(130, 170, 210, 178, (0x2B, 0x4C, 0x7E, 255))
    c.round_rect(350, 30, 530, 150, 8, (0x30, 0x30, 0x38, 255))    # the receiver's screen
    c.rect(360, 40, 520, 140, (0x6A, 0xA6, 0xE0, 255))
    c.rect(425, 150, 455, 165, (0x30, 0x30, 0x38, 255))
    for i, x in enumerate((275, 295, 315)):
        c.rect(x, 85 - 6 * i, x + 6, 105 + 6 * i, (0x1E, 0x8A, 0x6E, 255))
    c.glyph('P145', 560, 216, 1, (0x93, 0x91, 0x8F, 255))
    return c


def apply_button(rgba):
    c = Canvas(169, 36)
    c.round_rect(0, 0, 169, 36, 5, rgba)
    return c


WIZARD_ART = {
    'png145.png': ('png', welcome_picture),
    'png146.png': ('png', lambda: page_button(PAGE_HOVER)),
    'png147.png': ('png', lambda: page_button(PAGE_NORMAL)),
    'png148.png': ('png', lambda: page_button(PAGE_PRESSED)),
    'png149.png': ('png', lambda: page_button(PAGE_DISABLED)),
    'png179.png': ('png', lambda: radio(RADIO_RING, RADIO_DOT)),
    'png180.png': ('png', lambda: radio(RADIO_RING, None)),
    'png230.png': ('png', lambda: radio((0xB4, 0xB4, 0xB4, 255), (0xB4, 0xB4, 0xB4, 255))),
    'png193.png': ('png', lambda: apply_button(APPLY_HOVER)),
    'png194.png': ('png', lambda: apply_button(APPLY_NORMAL)),
    'png195.png': ('png', lambda: apply_button(APPLY_PRESSED)),
    'png196.png': ('png', lambda: apply_button(APPLY_DISABLED)),
}

ART.update(WIZARD_ART)

WRITERS = {'png': png_bytes, 'bmp': bmp_bytes, 'ico': ico_bytes, 'gif': gif_bytes}


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
