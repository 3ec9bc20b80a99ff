"""A screenshot of the whole screen (binary PPM, as `import -depth 8` writes
it) and the main window's indicator block in it."""
import re
import sys


def scaled(length, dpi):
    """A length of the window's 96-DPI layout at `dpi`, rounded as the
    window rounds it (MulDiv)."""
    return (length * dpi + 48) // 96


class Screen:
    def __init__(self, path):
        data = open(path, "rb").read()
        header = re.match(rb"P6\s+(\d+)\s+(\d+)\s+255\s", data)
        self.width, self.height = int(header.group(1)), int(header.group(2))
        self.pixels = data[header.end():]

    def rgb(self, x, y):
        i = (y * self.width + x) * 3
        return self.pixels[i], self.pixels[i + 1], self.pixels[i + 2]

    def indicator(self):
        """The first row with a run of at least 20 pure yellow or green
        pixels: (x, y, colour) of its left end, or None."""
        width, pixels = self.width, self.pixels
        for y in range(self.height):
            row = pixels[y * width * 3:(y + 1) * width * 3]
            for colour, name in ((b"\xff\xff\x00" * 20, "yellow"), (b"\x00\xff\x00" * 20, "green")):
                at = row.find(colour)
                while at >= 0 and at % 3:
                    at = row.find(colour, at + 1)
                if at >= 0:
                    return at // 3, y, name
        return None

    def locate_indicator(self, dpi=96):
        """Prints the indicator's colour and the client area's origin (the
        indicator's top-left corner lies at client (270, 90), times dpi / 96)
        as shell assignments, and returns the origin; with no indicator,
        prints indicator=none and ends the script."""
        found = self.indicator()
        if not found:
            print("indicator=none")
            sys.exit(0)
        ox, oy = found[0] - scaled(270, dpi), found[1] - scaled(90, dpi)
        print(f"indicator={found[2]} origin_x={ox} origin_y={oy}")
        return ox, oy
