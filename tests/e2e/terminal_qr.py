"""Runs harborlight-serve ARGS... in a pseudo-terminal of COLUMNS x LINES
(default 80 x 24) until it has said where it serves, and writes the QR code
it drew there as a PGM image on stdout, for a decoder to read. Exits 1 when
the drawing does not fit the terminal."""
import os, pty, re, select, signal, struct, sys, termios, fcntl, time

columns, lines = int(os.environ.get("COLUMNS", 80)), int(os.environ.get("LINES", 24))
pid, fd = pty.fork()
if pid == 0:
    fcntl.ioctl(sys.stdout.fileno(), termios.TIOCSWINSZ, struct.pack("HHHH", lines, columns, 0, 0))
    os.environ["TERM"] = "xterm"
    os.execv(sys.argv[1], sys.argv[1:])
out, deadline = b"", time.monotonic() + 15
while b"Logging is" not in out and time.monotonic() < deadline:
    if select.select([fd], [], [], 0.5)[0]:
        try:
            out += os.read(fd, 65536)
        except OSError:
            break
os.kill(pid, signal.SIGTERM)
os.waitpid(pid, 0)

# Each cell is one pixel wide and two high: a half block sets the pixels of
# its halves, a blank pair is a square of two cells in its background.
said = out.decode().split("\r\n")
rows, dark_background = [], False
for line in said[1:said.index(next(l for l in said if l.startswith("Logging is")))]:
    top, bottom = [], []
    for sgr, cell in re.findall(r"\x1b\[([0-9;]*)m|(.)", line):
        if sgr:
            dark_background = "40" in sgr.split(";")
        elif cell:
            top.append(dark_background or cell in "\u2580\u2588")
            bottom.append(dark_background or cell in "\u2584\u2588")
    rows += [top, bottom]
width = max(len(r) for r in rows)
if width > columns or len(said) > lines:
    sys.exit(f"the drawing is {width} columns wide and {len(said)} lines high")
scale = 4
image = b"".join(bytes(0 if dark else 255 for dark in row for _ in range(scale)).ljust(width * scale, b"\xff")
                 * scale for row in rows)
sys.stdout.buffer.write(b"P5 %d %d 255\n" % (width * scale, len(rows) * scale) + image)
