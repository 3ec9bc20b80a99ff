"""What a run measures: the measurements, the files and cases, the counts and
bounds of the load, and which servers run which measurement."""

# (key, what the table calls it)
MEASUREMENTS = [
    ("page1", "test page (279 B), 1 client, req/s"),
    ("page32", "test page (279 B), 32 clients, req/s"),
    ("p99", "test page, 1 client, p99 latency, ms"),
    ("cpu", "test page, 1 client, server CPU µs per request"),
    ("log1", "test page, 1 client, logging on, req/s"),
    ("f3000", "3,000-byte file, 1 client, req/s"),
    ("f1m", "1 MiB file, 1 client, MB/s"),
    ("f100m", "100 MiB file (curl), seconds"),
]
LABELS = dict(MEASUREMENTS)
LOWER_IS_BETTER = {"p99", "f100m", "cpu"}
# What one repetition measures, in this order.
TESTS = ["page1", "page32", "log1", "f3000", "f1m", "f100m", "browser"]
# Requests per ab run (full run; --quick takes a third), so that one run of a
# fast server lasts a fraction of a second and the servers alternate often.
COUNTS = {"page1": 2000, "page32": 4000, "log1": 2000, "f3000": 1500, "f1m": 150}
TIME_CAP = 8  # seconds any one ab run may take

WINE_KEYS = ("wfloor", "wine")
# Measured under Wine against the Winsock floor, with a table of their own.
WINE_ROWS = ("page1", "page32", "f1m")
IDLE_SECONDS = 10
# The browser-like case: connections that send nothing (as a browser opens
# before it needs them), then a page's images one after another, each on a
# connection of its own. A server that waits on a silent connection is held
# until the bench closes the silent ones after BROWSER_LIMIT seconds.
BROWSER_SILENT = 2
BROWSER_FILES = 30
BROWSER_FILE_SIZE = 3000
BROWSER_LIMIT = 3
BLOCKING_FLOORS = ("floor", "wfloor")  # no receive limit: the silent ones hold them
FRESH_RUNS = 20
# Resident memory is read after these many requests of the test page (the
# first fills the record of the last 1,000); every ab run of the phase may
# take a second per MEMORY_RATE requests.
MEMORY_STEPS = (1000, 10000, 100000)
MEMORY_STEPS_QUICK = (1000, 5000, 20000)
MEMORY_RATE = 250
# harborlight-serve writes its lines to a file within a second of a request's
# end; a busy machine gets half a second more.
LINE_DELAY = 1.5
# The same build with --quiet, beside the one with its request lines on,
# paired in each repetition: the test page at 1 and at 32 clients, and the
# large files (under Wine the 1 MiB file: its 100 MiB one comes every third
# repetition only).
QUIET_OF = {"quiet": "harborlight", "winequiet": "wine"}
QUIET_TESTS = {"quiet": ("page1", "page32", "f1m", "f100m"), "winequiet": ("page1", "page32", "f1m")}
# The build before the request lines, against the floor, as printed in the
# table of commit 309cfe8: lines on must stand no lower.
BEFORE_LINES = {("harborlight", "page1"): 1.03, ("harborlight", "page32"): 0.91,
                ("wine", "page1"): 0.97, ("wine", "page32"): 0.94}
SOAK_CYCLES = 1000
