"""Runs PROGRAM ARGS... in a pseudo-terminal of COLUMNS x LINES (default
80 x 24) until it has said where it serves, and shows its output on a
terminal of the unkind sort: a dark scheme (the default background near black,
the default foreground light grey), a line that wraps as soon as it is full
(as Windows' console does), and, under a Japanese, Chinese or Korean locale,
the block characters two cells wide. Writes OUT.raw, the bytes as written,
and OUT.pgm, the terminal's cells in a dark frame and nothing else, for a
decoder to read; prints which drawing it saw ("drawing: half blocks", "blank
pairs" or "none"), the light modules around the code ("quiet zone: 4
modules") and the text of the lines, as written before any wrap.
Usage: terminal_qr.py OUT PROGRAM ARGS..."""
import fcntl, os, pty, re, select, signal, struct, sys, termios, time, unicodedata

out_name, command = sys.argv[1], sys.argv[2:]
columns, lines = int(os.environ.get("COLUMNS", 80)), int(os.environ.get("LINES", 24))
pid, fd = pty.fork()
if pid == 0:
    fcntl.ioctl(sys.stdout.fileno(), termios.TIOCSWINSZ, struct.pack("HHHH", lines, columns, 0, 0))
    os.environ.setdefault("TERM", "xterm")
    os.execvp(command[0], command)
out, deadline = b"", time.monotonic() + 30
while b"Logging is" not in out and time.monotonic() < deadline:
    if select.select([fd], [], [], 0.5)[0]:
        try:
            out += os.read(fd, 65536)
        except OSError:
            break
os.kill(pid, signal.SIGINT if "wine" in os.path.basename(command[0]) else signal.SIGTERM)
os.waitpid(pid, 0)
with open(out_name + ".raw", "wb") as raw:
    raw.write(out)

# The 16 colours as xterm has them, as grey levels; the terminal's own
# background is not black, so that a code's dark modules tell from it.
palette = [0, 61, 120, 181, 27, 84, 143, 229, 127, 76, 149, 225, 110, 105, 178, 255]
default_foreground, default_background = 204, 12
locale = os.environ.get("LC_ALL") or os.environ.get("LC_CTYPE") or os.environ.get("LANG") or ""
east_asian = locale[:2] in ("ja", "ko", "zh")
# Each cell: its character and the grey of its upper and lower halves; and
# the rows continued by a wrap, for the text of whole lines.
screen, wrapped, x, y = [], set(), 0, 0
foreground, background = default_foreground, default_background
block_seen = colour_seen = False


def put(char):
    global x, y, block_seen
    width = 1 + (unicodedata.east_asian_width(char) in ("W", "F", "A" if east_asian else "W"))
    if x + width > columns:
        wrapped.add(y)
        x, y = 0, y + 1
    while len(screen) <= y:
        screen.append([(" ", default_background, default_background)] * columns)
    top = foreground if char in "\u2580\u2588" else background
    bottom = foreground if char in "\u2584\u2588" else background
    block_seen |= char in "\u2580\u2584\u2588"
    screen[y][x:x + width] = [(char, top, bottom), ("", top, bottom)][:width]
    x += width
    # A full line wraps at once: the next line break leaves an empty line.
    if x == columns:
        wrapped.add(y)
        x, y = 0, y + 1


def select_graphics(params):
    """Applies one SGR to the colours of the next cells."""
    global foreground, background
    params = [int(p or 0) for p in params.split(";")]
    while params:
        n, params = params[0], params[1:]
        if n in (38, 48) and params[:1] == [2]:  # RGB
            value, params = (299 * params[1] + 587 * params[2] + 114 * params[3]) // 1000, params[4:]
            foreground, background = (value, background) if n == 38 else (foreground, value)
        elif n in (0, 39, 49):
            foreground = default_foreground if n != 49 else foreground
            background = default_background if n != 39 else background
        elif 30 <= n <= 37 or 90 <= n <= 97:
            foreground = palette[n - 30 if n < 90 else n - 82]
        elif 40 <= n <= 47 or 100 <= n <= 107:
            background = palette[n - 40 if n < 100 else n - 92]


for sgr, final, control, char in re.findall(r"\x1b\[([0-9;?]*)([A-Za-z])|([\r\n])|(.)",
                                            out.decode("utf-8", "replace"), re.S):
    if final == "m":
        select_graphics(sgr)
        colour_seen = True
    elif final == "C":  # forward, as Wine's console writes a blank
        x = min(columns - 1, x + int(sgr or 1))
    elif final == "K" and y < len(screen):  # erased to the line's end
        screen[y][x:] = [(" ", background, background)] * (columns - x)
    elif control:
        x, y = (0, y) if control == "\r" else (x, y + 1)
    elif char and char != "\x1b":
        put(char)

# Each cell is one pixel wide and two high.
pixels = [[cell[half] for cell in row] for row in screen for half in (1, 2)]


def quiet_zone(module):
    """How many rings of light modules lie around the code's dark ones, which
    the terminal's own background (not black) does not count among."""
    dark = [(x, y) for y, row in enumerate(pixels) for x, value in enumerate(row)
            if value < 128 and value != default_background]
    if not dark:
        return 0
    left, right = min(x for x, _ in dark), max(x for x, _ in dark)
    top, bottom = min(y for _, y in dark), max(y for _, y in dark)
    light = lambda x, y: 0 <= y < len(pixels) and 0 <= x < columns and pixels[y][x] >= 128
    rings = 0
    while rings < 8 and all(light(x, y) for ring in range(rings * module, (rings + 1) * module)
                            for x in range(left - ring - 1, right + ring + 2)
                            for y in range(top - ring - 1, bottom + ring + 2)
                            if not (left - ring <= x <= right + ring and top - ring <= y <= bottom + ring)):
        rings += 1
    return rings


drawing = "half blocks" if block_seen else "blank pairs" if colour_seen else "none"
print("drawing:", drawing)
print("quiet zone:", quiet_zone(1 if block_seen else 2), "modules")
text = "".join("".join(cell[0] for cell in row) if y in wrapped else "".join(cell[0] for cell in row).rstrip() + "\n"
               for y, row in enumerate(screen))
print("\n".join(line for line in text.split("\n") if line.strip()))

# The cells in a frame of the terminal's background as wide as a quiet zone,
# so that the frame adds no light margin.
frame, scale = 4, 4
width = columns + 2 * frame
rows = [[default_background] * width] * (2 * frame)
rows += [[default_background] * frame + row + [default_background] * frame for row in pixels]
rows += [[default_background] * width] * (2 * frame)
with open(out_name + ".pgm", "wb") as image:
    image.write(b"P5 %d %d 255\n" % (width * scale, len(rows) * scale))
    for row in rows:
        image.write(bytes(value for value in row for _ in range(scale)) * scale)
