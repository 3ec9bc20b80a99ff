#!/usr/bin/env python3
"""Draws Harborlight's lighthouse and writes the two application icons.

    python3 tools/make_icons.py [OUTDIR]     (default: resources/icons)

Each .ico holds eight images: 16 and 32 pixels in 16 colours, and 16, 32 and
48 pixels in 256 colours and in 32-bit colour with alpha. harborlight.ico is
the large icon (with light beams); harborlight_small.ico leaves the beams out,
which keeps the tower legible in a 16-pixel title bar.

Only the standard library is used: the shapes are rasterised with 8x8
supersampling, then quantised to the palettes Windows uses for 4 and 8 bits.
"""
import os
import struct
import sys

# Colours (r, g, b).
WHITE = (255, 255, 255)
RED = (204, 32, 32)
DARK = (40, 40, 56)
LAMP = (255, 222, 40)
BEAM = (255, 236, 120)
SEA = (20, 60, 210)
ROCK = (90, 90, 100)


def inside_polygon(x, y, points):
    hit = False
    j = len(points) - 1
    for i in range(len(points)):
        xi, yi = points[i]
        xj, yj = points[j]
        if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
            hit = not hit
        j = i
    return hit


def tower_half_width(y):
    """The tower narrows from the base (y 0.86) to the gallery (y 0.40)."""
    return 0.20 + (y - 0.86) * (0.20 - 0.12) / (0.86 - 0.40)


def shapes(with_beams, size):
    """Layers, painted in order: (colour, opacity, inside(x, y))."""
    layers = []
    if with_beams:
        layers.append((BEAM, 0.85, lambda x, y: inside_polygon(
            x, y, [(0.42, 0.27), (0.0, 0.10), (0.0, 0.36)])))
        layers.append((BEAM, 0.85, lambda x, y: inside_polygon(
            x, y, [(0.58, 0.27), (1.0, 0.10), (1.0, 0.36)])))
    # Tower in red and white bands.
    def tower(colour_band):
        def test(x, y):
            if not 0.40 <= y <= 0.86 or abs(x - 0.5) > tower_half_width(y):
                return False
            band = int((y - 0.40) / 0.115)
            return band % 2 == colour_band
        return test
    layers.append((RED, 1.0, tower(0)))
    layers.append((WHITE, 1.0, tower(1)))
    # Outline of the tower so the white bands stand out on white; at least a
    # pixel wide, or it blurs into grey at 16 pixels.
    edge = max(0.045, 1.0 / size)
    layers.append((DARK, 1.0, lambda x, y: 0.40 <= y <= 0.86 and
                   tower_half_width(y) - edge < abs(x - 0.5) <= tower_half_width(y)))
    # Gallery, lantern, roof.
    layers.append((DARK, 1.0, lambda x, y: 0.35 <= y <= 0.41 and abs(x - 0.5) <= 0.19))
    layers.append((DARK, 1.0, lambda x, y: 0.17 <= y <= 0.35 and abs(x - 0.5) <= 0.11))
    layers.append((LAMP, 1.0, lambda x, y: 0.20 <= y <= 0.33 and abs(x - 0.5) <= 0.065))
    layers.append((RED, 1.0, lambda x, y: inside_polygon(
        x, y, [(0.5, 0.03), (0.66, 0.18), (0.34, 0.18)])))
    # Rock and sea at the foot.
    layers.append((ROCK, 1.0, lambda x, y: inside_polygon(
        x, y, [(0.18, 0.92), (0.26, 0.84), (0.74, 0.84), (0.82, 0.92)])))
    layers.append((SEA, 1.0, lambda x, y: y >= 0.90 and y <= 1.0 and x >= 0.02 and x <= 0.98))
    return layers


def render(size, with_beams, samples=8):
    """RGBA rows, top row first, straight alpha 0..255."""
    layers = shapes(with_beams, size)
    pixels = []
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]  # premultiplied r, g, b, a
            for sy in range(samples):
                for sx in range(samples):
                    x = (px + (sx + 0.5) / samples) / size
                    y = (py + (sy + 0.5) / samples) / size
                    r = g = b = a = 0.0
                    for colour, opacity, test in layers:
                        if test(x, y):
                            r = colour[0] * opacity + r * (1 - opacity)
                            g = colour[1] * opacity + g * (1 - opacity)
                            b = colour[2] * opacity + b * (1 - opacity)
                            a = opacity + a * (1 - opacity)
                    acc[0] += r
                    acc[1] += g
                    acc[2] += b
                    acc[3] += a
            n = samples * samples
            alpha = acc[3] / n
            if alpha > 0:
                rgb = [min(255, round(acc[i] / n / alpha)) for i in range(3)]
            else:
                rgb = [0, 0, 0]
            row.append((rgb[0], rgb[1], rgb[2], round(alpha * 255)))
        pixels.append(row)
    return pixels


# The 16 colours of the standard Windows palette.
PALETTE_16 = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]


def palette_256():
    colours = list(PALETTE_16)
    for r in range(6):
        for g in range(6):
            for b in range(6):
                colours.append((r * 51, g * 51, b * 51))
    step = 255 / 41
    for i in range(1, 41):
        colours.append((round(i * step),) * 3)
    return colours[:256]


def nearest(palette, rgb):
    best, best_d = 0, None
    for i, c in enumerate(palette):
        d = (c[0] - rgb[0]) ** 2 * 3 + (c[1] - rgb[1]) ** 2 * 4 + (c[2] - rgb[2]) ** 2 * 2
        if best_d is None or d < best_d:
            best, best_d = i, d
    return best


def padded(row_bytes):
    return row_bytes + b"\0" * (-len(row_bytes) % 4)


def and_mask(pixels):
    rows = []
    for row in reversed(pixels):
        bits = bytearray((len(row) + 7) // 8)
        for x, p in enumerate(row):
            if p[3] < 128:
                bits[x // 8] |= 0x80 >> (x % 8)
        rows.append(padded(bytes(bits)))
    return b"".join(rows)


def bitmap_header(size, bit_count, colours):
    return struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bit_count, 0, 0, 0, 0, colours, 0)


def indexed_image(pixels, bit_count):
    size = len(pixels)
    palette = PALETTE_16 if bit_count == 4 else palette_256()
    quad = b"".join(struct.pack("BBBB", c[2], c[1], c[0], 0) for c in palette)
    rows = []
    for row in reversed(pixels):
        indices = [nearest(palette, p[:3]) if p[3] >= 128 else 0 for p in row]
        if bit_count == 4:
            data = bytes((indices[i] << 4) | (indices[i + 1] if i + 1 < size else 0)
                         for i in range(0, size, 2))
        else:
            data = bytes(indices)
        rows.append(padded(data))
    return bitmap_header(size, bit_count, len(palette)) + quad + b"".join(rows) + and_mask(pixels)


def true_colour_image(pixels):
    size = len(pixels)
    rows = []
    for row in reversed(pixels):
        rows.append(b"".join(struct.pack("BBBB", p[2], p[1], p[0], p[3]) for p in row))
    return bitmap_header(size, 32, 0) + b"".join(rows) + and_mask(pixels)


def write_icon(path, with_beams):
    drawn = {size: render(size, with_beams) for size in (16, 32, 48)}
    images = [(16, 4), (32, 4), (16, 8), (32, 8), (48, 8), (16, 32), (32, 32), (48, 32)]
    blobs = []
    for size, bits in images:
        blob = true_colour_image(drawn[size]) if bits == 32 else indexed_image(drawn[size], bits)
        blobs.append((size, bits, blob))
    out = struct.pack("<HHH", 0, 1, len(blobs))
    offset = 6 + 16 * len(blobs)
    for size, bits, blob in blobs:
        out += struct.pack("<BBBBHHII", size, size, 16 if bits == 4 else 0, 0, 1, bits,
                           len(blob), offset)
        offset += len(blob)
    out += b"".join(blob for _, _, blob in blobs)
    with open(path, "wb") as f:
        f.write(out)


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    outdir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "resources", "icons")
    os.makedirs(outdir, exist_ok=True)
    write_icon(os.path.join(outdir, "harborlight.ico"), with_beams=True)
    write_icon(os.path.join(outdir, "harborlight_small.ico"), with_beams=False)


if __name__ == "__main__":
    main()
