#!/usr/bin/env python3
"""Interleaved benchmark of harborlight-serve against the floor and its peers.

Runs inside a private network namespace that bench/run.sh made (loopback
only), so every server binds 127.0.0.1 and nothing leaves the namespace.
Servers are pinned to one core and the load (ab, curl) to another. Each
repetition runs every measurement for every server back to back, in an order
shuffled anew for each repetition, so a noisy moment on this
shared machine hits all servers alike; the tables give medians and each
median's ratio to the floor's median.

Every load run is bounded in requests and in seconds; every server is
started here and ended by its own process id.
"""
import argparse
import csv
import itertools
import os
import random
import re
import shutil
import signal
import statistics
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
ADDRESS = "127.0.0.1"
SERVER_CORE = "0"
LOAD_CORE = "1"

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
LOWER_IS_BETTER = {"p99", "f100m", "cpu"}
WINE_KEYS = ("wfloor", "wine")
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
# The same build with --quiet, beside the one with its request lines on: the
# test page only, at 1 and at 32 clients, paired in each repetition.
QUIET_OF = {"quiet": "harborlight", "winequiet": "wine"}
QUIET_TESTS = ("page1", "page32")
# Lines on must keep this share of --quiet's speed, and stand no lower against
# the floor than the build before the request lines (the table of commit
# 309cfe8).
QUIET_GOAL = 0.97
BEFORE_LINES = {("harborlight", "page1"): 1.03, ("harborlight", "page32"): 0.91,
                ("wine", "page1"): 0.97, ("wine", "page32"): 0.94}
SOAK_CYCLES = 1000


class BenchError(Exception):
    pass


def log(text):
    print(text, flush=True)


# ---------------------------------------------------------------- servers

class Server:
    """One server process (or two, for a peer that logs on a second port)."""

    def __init__(self, key, title, start, log_start=None, logs_on_next_port=False, wine=False, lines=None):
        self.key = key
        self.title = title
        self.wine = wine
        # "on" or "quiet": this build's harborlight-serve, whose request
        # lines are counted.
        self.lines = lines
        self._start = start
        self._log_start = log_start
        self.logs_on_next_port = logs_on_next_port
        self.procs = []
        self.port = None
        self.log_port = None
        self.note = ""
        self.lost = []         # what the line counts found missing
        self.line_counts = []  # (lines, requests, why counting ended early) per process stopped

    def start(self, port):
        self.port = port
        self.procs.append(self._start(port))
        if self.logs_on_next_port:
            self.log_port = port + 1
        if self._log_start:
            self.log_port = port + 1
            proc = self._log_start(port + 1)
            if proc:
                self.procs.append(proc)
        if self.lines:
            for proc in self.procs:
                proc.request_lines = RequestLines(proc.output, quiet=self.lines == "quiet")

    def request_lines(self, key=None):
        """The line counter of the process that measurement `key` loads, or None."""
        procs = self.procs[1:] if key == "log1" else self.procs[:1]
        return getattr(procs[0], "request_lines", None) if procs else None

    def cpu_ns(self):
        """CPU time of the first process and its descendants, and under Wine
        of the prefix's wineserver as well, which carries every socket call
        (the other Wine servers sit idle meanwhile); or None."""
        if not self.procs:
            return None
        total, todo = 0, [self.procs[0].pid]
        if self.wine:
            server = wineserver_pid()
            if server is None:
                return None
            todo.append(server)
        while todo:
            pid = todo.pop()
            try:
                for task in os.listdir("/proc/%d/task" % pid):
                    with open("/proc/%d/task/%s/schedstat" % (pid, task)) as f:
                        total += int(f.read().split()[0])
                    with open("/proc/%d/task/%s/children" % (pid, task)) as f:
                        todo += [int(c) for c in f.read().split()]
            except (OSError, ValueError):
                pass
        return total

    def writer_ns(self):
        """CPU time of the thread that writes the request lines: the process's
        newest, started after the listener. None without lines."""
        if self.lines != "on" or not self.procs:
            return None
        proc = self.procs[0]
        try:
            if not getattr(proc, "writer_tid", None):
                proc.writer_tid = max(int(t) for t in os.listdir("/proc/%d/task" % proc.pid))
            with open("/proc/%d/task/%d/schedstat" % (proc.pid, proc.writer_tid)) as f:
                return int(f.read().split()[0])
        except (OSError, ValueError):
            return None

    def stop(self):
        for proc in self.procs:
            if getattr(proc, "request_lines", None):
                proc.request_lines.check()
                self.lost += proc.request_lines.lost
                self.line_counts.append((proc.request_lines.lines, proc.request_lines.requests,
                                         proc.request_lines.stopped))
        for proc in self.procs:
            if proc.poll() is None:
                proc.send_signal(signal.SIGTERM)
        deadline = time.monotonic() + 5
        for proc in self.procs:
            try:
                proc.wait(timeout=max(0.1, deadline - time.monotonic()))
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait(timeout=5)
        self.procs = []


def end_process(proc):
    """Ends a server this bench started, by its process: SIGTERM, then after
    5 seconds SIGKILL."""
    proc.send_signal(signal.SIGTERM)
    try:
        proc.wait(timeout=5)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait(timeout=5)


def pinned(argv):
    return ["taskset", "-c", SERVER_CORE] + argv


OUTPUT_DIR = os.path.join(ROOT, "build", "bench", "output")
_output_numbers = itertools.count(1)


def spawn(argv, cwd, env=None, banner=None):
    """Starts a server. One that prints a banner writes its standard output to
    a file of its own (proc.output), as a user's redirection would, and the
    start waits for the banner there: a pipe would need a reader competing
    with the server for the CPU."""
    output = None
    if banner:
        os.makedirs(OUTPUT_DIR, exist_ok=True)
        name = os.path.basename(argv[1] if argv[0] == "wine" else argv[0])
        output = os.path.join(OUTPUT_DIR, "%03d-%s.out" % (next(_output_numbers), name))
    with open(output or os.devnull, "wb") as out:
        proc = subprocess.Popen(pinned(argv), cwd=cwd, env=env, stdout=out, stderr=subprocess.DEVNULL)
    if banner:
        line = read_banner(proc, output, banner, 60)
        if line is None:
            proc.kill()
            proc.wait()
            with open(output, errors="replace") as f:
                raise BenchError("%s did not start: %r" % (argv[0], f.read()[:200]))
        proc.banner = line
        proc.output = output
    return proc


def read_banner(proc, path, banner, seconds):
    """The first line of the file at `path` that matches `banner`, once it is
    there; None when the process ends or `seconds` pass first."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline and proc.poll() is None:
        with open(path, errors="replace") as f:
            for line in f:
                if line.endswith("\n") and re.search(banner, line):
                    return line.strip()
        time.sleep(0.02)
    return None


class RequestLines:
    """The lines a harborlight-serve writes to its output file, one per
    request, counted against the requests the bench made of it: every one
    must have its line, within LINE_DELAY seconds of the load's end. A
    process started with --quiet must write none."""

    def __init__(self, path, quiet=False):
        self.path = path
        self.quiet = quiet
        self.offset = 0
        self.lines = 0       # request lines read so far
        self.not_shown = 0   # what its "... N requests not shown" lines say
        self.requests = 0    # requests the load completed
        self.made = 0        # the lines they should have made
        self.loose = 0       # requests a time bound cut: each may have a line or not
        self.ended = 0.0     # when the last load ended (monotonic)
        self.lost = []       # checks that found lines missing or extra
        self.stopped = ""    # why counting ended early
        self.last = "the start"  # the load the count has come to

    def read(self):
        with open(self.path, "rb") as f:
            f.seek(self.offset)
            chunk = f.read()
        chunk = chunk[:chunk.rfind(b"\n") + 1]  # whole lines only
        self.offset += len(chunk)
        self.lines += len(re.findall(rb"^\d\d:\d\d:\d\d ", chunk, re.M))
        self.not_shown += sum(int(n) for n in re.findall(rb"^\.\.\. (\d+) requests? not shown\r?$", chunk, re.M))

    def made_requests(self, what, count, loose=0):
        self.requests += count
        if not self.quiet:
            self.made += count
            self.loose += loose
        self.ended = time.monotonic()
        self.last = what

    def check(self):
        """Waits until every request made has its line, LINE_DELAY seconds
        after the load at most; notes a shortfall or a surplus."""
        if self.stopped:
            return
        while True:
            self.read()
            if self.lines >= self.made or time.monotonic() > self.ended + LINE_DELAY:
                break
            time.sleep(0.05)
        if not self.made <= self.lines <= self.made + self.loose or self.not_shown:
            self.lost.append("after %s: %d lines for %d requests%s" % (
                self.last, self.lines, self.made, ", %d not shown" % self.not_shown if self.not_shown else ""))
            # Counted afresh from here, so that one shortfall is told once.
            self.made, self.loose, self.not_shown = self.lines, 0, 0

    def stop_counting(self, why):
        self.stopped = self.stopped or why


def wait_for_port(port, seconds):
    import socket
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        with socket.socket() as s:
            s.settimeout(0.5)
            if s.connect_ex((ADDRESS, port)) == 0:
                return
        time.sleep(0.05)
    raise BenchError("nothing listens on port %d" % port)


def make_servers(work, data, args):
    floor = os.path.join(work, "floor")
    serve = os.path.join(ROOT, "build", "native", "harborlight-serve")

    def site(name):
        """A working directory whose DATA is the shared document folder."""
        d = os.path.join(work, name)
        os.makedirs(d, exist_ok=True)
        link = os.path.join(d, "DATA")
        if not os.path.islink(link):
            os.symlink(data, link)
        shutil.rmtree(os.path.join(d, "LOG"), ignore_errors=True)
        return d

    servers = [
        Server("floor", "floor",
               lambda p: spawn([floor, ADDRESS, str(p), data], work, banner="floor serving"),
               lambda p: spawn([floor, ADDRESS, str(p), data, os.path.join(site("floor-log"), "floor.log")],
                               work, banner="floor serving")),
        Server("harborlight", "Harborlight",
               lambda p: start_native(serve, site("hl"), p, False),
               lambda p: start_native(serve, site("hl-log"), p, True), lines="on"),
        Server("quiet", "Harborlight --quiet",
               lambda p: start_native(serve, site("hl-quiet"), p, False, ["--quiet"]), lines="quiet"),
    ]
    servers += other_builds(args.also, "also", start_native, site)
    if shutil.which("nginx") and "nginx" not in args.skip:
        servers.append(Server("nginx", "nginx (1 worker)", lambda p: start_nginx(work, data, p),
                              logs_on_next_port=True))
    if shutil.which("lighttpd") and "lighttpd" not in args.skip:
        servers.append(Server("lighttpd", "lighttpd",
                              lambda p: start_lighttpd(work, data, p, False),
                              lambda p: start_lighttpd(work, data, p, True)))
    if "python" not in args.skip:
        servers.append(Server("python", "python3 http.server",
                              lambda p: start_python(data, p)))
    exe = os.path.join(ROOT, "build", "windows", "harborlight-serve.exe")
    wfloor = os.path.join(work, "floor_winsock.exe")
    if shutil.which("wine") and os.path.exists(wfloor) and "wine" not in args.skip:
        servers.append(Server("wfloor", "Winsock floor under Wine",
                              lambda p: start_wine_floor(wfloor, work, data, p, None),
                              lambda p: start_wine_floor(wfloor, work, data, p,
                                                         os.path.join(site("wfloor-log"), "floor.log")),
                              wine=True))
    if shutil.which("wine") and os.path.exists(exe) and "wine" not in args.skip:
        servers.append(Server("wine", "Harborlight under Wine",
                              lambda p: start_wine(exe, site("wine"), p, False),
                              lambda p: start_wine(exe, site("wine-log"), p, True), wine=True, lines="on"))
        servers.append(Server("winequiet", "Harborlight --quiet under Wine",
                              lambda p: start_wine(exe, site("wine-quiet"), p, False, ["--quiet"]),
                              wine=True, lines="quiet"))
        servers += other_builds(args.also_wine, "alsowine", start_wine, site, wine=True)
    return servers


def other_builds(named_paths, prefix, start, site, wine=False):
    """Servers for --also and --also-wine NAME=PATH: other builds of
    harborlight-serve, measured beside this one."""
    servers = []
    for i, named_path in enumerate(named_paths):
        name, _, path = named_path.partition("=")
        path, key = os.path.abspath(path), "%s%d" % (prefix, i)
        servers.append(Server(key, name,
                              lambda p, path=path, key=key: start(path, site(key), p, False),
                              lambda p, path=path, key=key: start(path, site(key + "-log"), p, True), wine=wine))
    return servers


def start_native(path, cwd, port, with_log, options=()):
    argv = [path, "--port", str(port)] + (["--log"] if with_log else []) + list(options)
    return spawn(argv, cwd, banner=r"serving DATA/ at http://127\.0\.0\.1:")


def start_nginx(work, data, port):
    # One worker; access log off on the first port and on for the second;
    # sendfile left at nginx's own default.
    d = os.path.join(work, "nginx")
    os.makedirs(d, exist_ok=True)
    conf = os.path.join(d, "nginx.conf")
    with open(conf, "w") as f:
        f.write("""user root;
worker_processes 1;
daemon off;
pid %(d)s/nginx.pid;
error_log %(d)s/error.log;
events { worker_connections 1024; }
http {
    access_log off;
    client_body_temp_path %(d)s/body;
    server {
        listen %(a)s:%(p)d;
        root %(data)s;
        index index.html;
    }
    server {
        listen %(a)s:%(q)d;
        root %(data)s;
        index index.html;
        access_log %(d)s/access.log;
    }
}
""" % {"d": d, "a": ADDRESS, "p": port, "q": port + 1, "data": data})
    proc = spawn(["nginx", "-e", os.path.join(d, "error.log"), "-p", d, "-c", conf], d)
    wait_for_port(port, 10)
    return proc


def start_lighttpd(work, data, port, with_log):
    d = os.path.join(work, "lighttpd-log" if with_log else "lighttpd")
    os.makedirs(d, exist_ok=True)
    conf = os.path.join(d, "lighttpd.conf")
    with open(conf, "w") as f:
        f.write('server.document-root = "%s"\n' % data)
        f.write('server.bind = "%s"\nserver.port = %d\n' % (ADDRESS, port))
        f.write('server.errorlog = "%s/error.log"\n' % d)
        f.write('index-file.names = ( "index.html" )\n')
        f.write('mimetype.assign = ( ".html" => "text/html", "" => "application/octet-stream" )\n')
        if with_log:
            f.write('server.modules += ( "mod_accesslog" )\n')
            f.write('accesslog.filename = "%s/access.log"\n' % d)
    proc = spawn(["lighttpd", "-D", "-f", conf], d)
    wait_for_port(port, 10)
    return proc


def start_python(data, port):
    proc = spawn([sys.executable, "-m", "http.server", str(port), "--bind", ADDRESS,
                  "--directory", data], data)
    wait_for_port(port, 15)
    return proc


def wine_env():
    env = dict(os.environ)
    env["WINEDEBUG"] = "-all"
    env["WINEDLLOVERRIDES"] = "mscoree,mshtml="
    return env


def start_wine(exe, cwd, port, with_log, options=()):
    argv = ["wine", exe, "--port", str(port)] + (["--log"] if with_log else []) + list(options)
    return spawn(argv, cwd, env=wine_env(), banner=r"Harborlight is serving DATA/ at http://127\.0\.0\.1:")


def start_wine_floor(exe, work, data, port, log_file):
    # Wine reads Unix paths through its Z: drive.
    argv = ["wine", exe, ADDRESS, str(port), "Z:" + data] + (["Z:" + log_file] if log_file else [])
    return spawn(argv, work, env=wine_env(), banner="floor serving")


# ---------------------------------------------------------------- load

def ab(url, clients, seconds, max_requests, expect_length):
    """One ab run, HTTP/1.0 without keep-alive; refuses any failure."""
    csv_path = "/tmp/harborlight-bench-ab.csv"
    argv = ["taskset", "-c", LOAD_CORE, "ab", "-q", "-S", "-s", "10", "-t", str(seconds),
            "-n", str(max_requests), "-c", str(clients), "-e", csv_path, url]
    try:
        run = subprocess.run(argv, capture_output=True, text=True, timeout=seconds + 40)
    except subprocess.TimeoutExpired:
        raise BenchError("ab did not finish: %s" % url)
    text = run.stdout
    if run.returncode != 0:
        raise BenchError("ab failed on %s: %s" % (url, (run.stderr or text).strip()[-300:]))

    def field(name):
        m = re.search(r"^%s:\s+([\d.]+)" % re.escape(name), text, re.M)
        if not m:
            raise BenchError("ab said no %r for %s" % (name, url))
        return float(m.group(1))

    failed = field("Failed requests")
    non2xx = re.search(r"^Non-2xx responses:\s+(\d+)", text, re.M)
    length = field("Document Length")
    if failed or non2xx or length != expect_length:
        raise BenchError("ab on %s: %d failed, %s non-2xx, length %d (want %d)"
                         % (url, failed, non2xx.group(1) if non2xx else 0, length, expect_length))
    result = {
        "rps": field("Requests per second"),
        "bytes": field("Total transferred"),
        "seconds": field("Time taken for tests"),
        "complete": field("Complete requests"),
    }
    with open(csv_path) as f:
        for row in csv.reader(f):
            if row and row[0] == "99":
                result["p99"] = float(row[1])
    return result


def counted_ab(server, key, what, url, clients, seconds, max_requests, expect_length):
    """ab, with the requests it made counted for the server's request lines
    (a run the time bound cut may leave up to `clients` requests unanswered,
    each with a line or not); after a failed run they are no longer counted."""
    lines = server.request_lines(key)
    try:
        r = ab(url, clients, seconds, max_requests, expect_length)
    except BenchError:
        if lines:
            lines.stop_counting("not counted after a failed run (%s)" % what)
        raise
    if lines:
        lines.made_requests(what, int(r["complete"]), clients if r["complete"] < max_requests else 0)
    return r


def fetch_on_new_connection(port, name, patience):
    """GET /name over HTTP/1.0 on a connection of its own; the body's length.
    patience(seconds waited) is asked at every time-out whether to go on."""
    import socket
    with socket.create_connection((ADDRESS, port), timeout=5) as s:
        s.sendall(b"GET /%s HTTP/1.0\r\nHost: %s:%d\r\nAccept: image/*\r\n\r\n"
                  % (name.encode(), ADDRESS.encode(), port))
        answer = b""
        while True:
            s.settimeout(patience())
            try:
                piece = s.recv(65536)
            except socket.timeout:
                continue
            if not piece:
                break
            answer += piece
    end = answer.find(b"\r\n\r\n")
    head, body = (answer[:end], answer[end + 4:]) if end >= 0 else answer.partition(b"\n\n")[::2]
    if not re.match(rb"HTTP/1\.[01] 200 ", head):
        raise BenchError("browser-like case: /%s answered %r" % (name, answer[:60]))
    return len(body)


def browser_case(port):
    """Two silent connections, then BROWSER_FILES files one after another, each
    on a new connection, timed whole. Returns (seconds, held): held when the
    silent connections still held the server after BROWSER_LIMIT seconds, so
    the bench closed them to let the files through. The silent connections are
    closed here in any case, and every wait is bounded."""
    import socket
    began = time.monotonic()
    silent = []
    held = []

    def patience():
        waited = time.monotonic() - began
        if not held:
            if waited < BROWSER_LIMIT:
                return BROWSER_LIMIT - waited
            held.append(waited)
            for s in silent:
                s.close()
            return 10
        if waited > BROWSER_LIMIT + 20:
            raise BenchError("browser-like case: no answer %.0f s after the silent connections closed" % (
                waited - BROWSER_LIMIT))
        return 10

    # The files are fetched from the load's core, as ab's requests are.
    affinity = os.sched_getaffinity(0)
    os.sched_setaffinity(0, {int(LOAD_CORE)})
    try:
        for _ in range(BROWSER_SILENT):
            silent.append(socket.create_connection((ADDRESS, port), timeout=5))
        for i in range(1, BROWSER_FILES + 1):
            got = fetch_on_new_connection(port, "image%02d.bin" % i, patience)
            if got != BROWSER_FILE_SIZE:
                raise BenchError("browser-like case: image%02d.bin came with %d bytes" % (i, got))
        seconds = time.monotonic() - began
    finally:
        for s in silent:
            s.close()
        os.sched_setaffinity(0, affinity)
    return seconds, bool(held)


def curl_seconds(url, expect_bytes, limit):
    argv = ["taskset", "-c", LOAD_CORE, "curl", "-s", "--http1.0", "--max-time", str(limit),
            "-o", "/dev/null", "-w", "%{http_code} %{size_download} %{time_total}", url]
    run = subprocess.run(argv, capture_output=True, text=True, timeout=limit + 10)
    parts = run.stdout.split()
    if run.returncode != 0 or len(parts) != 3 or parts[0] != "200" or int(parts[1]) != expect_bytes:
        raise BenchError("curl on %s: exit %d, %r" % (url, run.returncode, run.stdout))
    return float(parts[2])


# ---------------------------------------------------------------- session

def make_data(work):
    data = os.path.join(work, "DATA")
    shutil.rmtree(data, ignore_errors=True)
    os.makedirs(data)
    sizes = {"f3000.bin": 3000, "f1m.bin": 1 << 20, "f100m.bin": 100 << 20}
    sizes.update(("image%02d.bin" % i, BROWSER_FILE_SIZE) for i in range(1, BROWSER_FILES + 1))
    for name, size in sizes.items():
        with open(os.path.join(data, name), "wb") as f:
            block = bytes(range(256)) * 4096
            left = size
            while left:
                f.write(block[:min(left, len(block))])
                left -= min(left, len(block))
    return data


# Requests per ab run (full run; --quick takes a third), so that one run of a
# fast server lasts a fraction of a second and the servers alternate often.
COUNTS = {"page1": 2000, "page32": 4000, "log1": 2000, "f3000": 1500, "f1m": 150}
TIME_CAP = 8  # seconds any one ab run may take
# What one repetition measures, in this order.
TESTS = ["page1", "page32", "log1", "f3000", "f1m", "f100m", "browser"]


def measure(server, key, args, rep=0):
    if args.requests:
        # The same count for every server, all of it: a run cut short by the
        # time bound fails. The bound grows with the count.
        n, cap = args.requests, max(TIME_CAP, args.requests // 200)
    else:
        n, cap = max(COUNTS.get(key, 1) // (3 if args.quick else 1), 10), TIME_CAP
        if server.key == "python" or server.wine:
            n = max(n // 4, 10)  # the slow ones: fewer requests, same bound in time

    what = "%s in repetition %d" % (key, rep + 1)
    lines = server.request_lines(key)

    def load(url, clients, length):
        r = counted_ab(server, key, what, url, clients, cap, n, length)
        if args.requests and r["complete"] < n:
            raise BenchError("%s: %d of %d requests in %d s" % (url, r["complete"], n, cap))
        return r

    base = "http://%s:%d/" % (ADDRESS, server.port)
    if key == "page1":
        before, writer_before = server.cpu_ns(), server.writer_ns()
        r = load(base, 1, 279)
        used = server.cpu_ns() - before if before is not None else None
        result = {"page1": r["rps"], "p99": r["p99"]}
        if used is not None:
            result["cpu"] = used / 1000 / r["complete"]
        writer_after = server.writer_ns()
        if used and None not in (writer_before, writer_after):
            result["writer"] = (writer_after - writer_before) / 1000 / r["complete"]
            result["writer_share"] = (writer_after - writer_before) / used
        return result
    if key == "page32":
        return {"page32": load(base, 32, 279)["rps"]}
    if key == "log1":
        if not server.log_port:
            return {}
        return {"log1": load("http://%s:%d/" % (ADDRESS, server.log_port), 1, 279)["rps"]}
    if key == "f3000":
        return {"f3000": load(base + "f3000.bin", 1, 3000)["rps"]}
    if key == "f1m":
        r = load(base + "f1m.bin", 1, 1 << 20)
        return {"f1m": r["bytes"] / r["seconds"] / 1e6}
    if key == "f100m":
        seconds = curl_seconds(base + "f100m.bin", 100 << 20, 120)
        if lines:
            lines.made_requests(what, 1)
        return {"f100m": seconds}
    if key == "browser":
        seconds, held = browser_case(server.port)
        if lines:
            lines.made_requests(what, BROWSER_FILES)
        return {"browser": seconds, "browser_held": 1 if held else 0}
    raise KeyError(key)


def session(args):
    work = os.path.join(ROOT, "build", "bench")
    os.makedirs(work, exist_ok=True)
    data = make_data(work)
    subprocess.run(["cc", "-O2", "-Wall", "-o", os.path.join(work, "floor"),
                    os.path.join(ROOT, "bench", "floor.c")], check=True)
    wfloor = os.path.join(work, "floor_winsock.exe")
    if os.path.exists(wfloor):
        os.remove(wfloor)
    if shutil.which("wine") and shutil.which("x86_64-w64-mingw32-gcc") and "wine" not in args.skip:
        subprocess.run(["x86_64-w64-mingw32-gcc", "-O2", "-Wall", "-o", wfloor,
                        os.path.join(ROOT, "bench", "floor_winsock.c"), "-lws2_32"], check=True)

    shutil.rmtree(OUTPUT_DIR, ignore_errors=True)
    servers = make_servers(work, data, args)
    # Harborlight writes the test page; every server then serves that file.
    hl = servers[1]
    hl.start(18100)
    try:
        subprocess.run(["curl", "-s", "-o", "/dev/null", "http://%s:18100/" % ADDRESS],
                       check=True, timeout=10)
        hl.request_lines().made_requests("the test page's first request", 1)
    finally:
        hl.stop()
    if os.path.getsize(os.path.join(data, "index.html")) != 279:
        raise BenchError("the test page is not 279 bytes")

    started = []
    try:
        for i, s in enumerate(servers):
            try:
                s.start(18000 + 10 * i)
                started.append(s)
                banner = getattr(s.procs[0], "banner", "")
                log("started %-24s port %d %s" % (s.title, s.port, banner))
            except (BenchError, OSError) as e:
                log("skipped %s: %s" % (s.title, e))
                s.stop()
        if len(started) < 2 or started[0].key != "floor" or started[1].key != "harborlight":
            raise BenchError("the floor and Harborlight must both run")
        results, failures = run_rounds(started, args)
        if not args.only:
            results["idle"] = measure_idle(started)
    finally:
        for s in started:
            s.stop()
    results["lines"] = {s.key: {"lost": s.lost, "counts": s.line_counts} for s in started if s.lines}
    if "memory" not in args.skip and not args.only:
        results["memory"] = memory_phase(work, args)
    exe = os.path.join(ROOT, "build", "windows", "harborlight-serve.exe")
    if any(s.key == "wine" for s in started) and not args.only:
        results["fresh"] = fresh_runs(exe, work, FRESH_RUNS if not args.quick else 5)
    if "soak" not in args.skip and not args.only:
        results["soak"] = soak(args)
    return started, results, failures


def beside_their_pairs(order, rep):
    """Each --quiet build moved next to the same build with its lines on, so
    that their ratio compares runs moments apart: after it in even
    repetitions, before it in odd ones."""
    quiet = [s for s in order if s.key in QUIET_OF]
    order = [s for s in order if s.key not in QUIET_OF]
    for s in quiet:
        at = next((i for i, o in enumerate(order) if o.key == QUIET_OF[s.key]), len(order))
        order.insert(at + 1 if rep % 2 == 0 else at, s)
    return order


def run_rounds(servers, args):
    # results[server][measurement] = [(repetition, value)]
    results = {s.key: {k: [] for k in [m for m, _ in MEASUREMENTS] + ["browser", "browser_held", "writer",
                                                                       "writer_share"]}
               for s in servers}
    failures = []
    tests = args.only or TESTS
    # Warm every server and the page cache.
    for s in servers:
        for path, length, count in (("", 279, 300), ("f1m.bin", 1 << 20, 20)):
            try:
                counted_ab(s, None, "the warm-up", "http://%s:%d/%s" % (ADDRESS, s.port, path), 1, 1, count, length)
            except BenchError as e:
                failures.append("%s warm-up: %s" % (s.title, e))
    began = time.monotonic()
    for rep in range(args.reps):
        # Shuffled anew each time (and the same in every run): a rotation
        # would keep each server behind the same neighbour in every repetition.
        order = list(servers)
        random.Random(rep).shuffle(order)
        order = beside_their_pairs(order, rep)
        for key in tests:
            for s in order:
                if (s.key == "python" or s.wine) and key == "f100m" and rep % 3:
                    continue  # slow: every third repetition is enough
                if s.key in BLOCKING_FLOORS and key == "browser" and rep % 3:
                    continue  # held for BROWSER_LIMIT seconds each time
                if s.key in QUIET_OF and key not in QUIET_TESTS:
                    continue
                lines = s.request_lines(key)
                if lines:
                    lines.check()  # the lines of this process's run before
                try:
                    for k, v in measure(s, key, args, rep).items():
                        results[s.key][k].append((rep, v))
                except BenchError as e:
                    if lines:
                        lines.stop_counting("not counted after a failed run (%s in repetition %d)" % (key, rep + 1))
                    failures.append("%s %s: %s" % (s.title, key, e))
                    log("FAILED %s %s: %s" % (s.title, key, e))
        log("repetition %d of %d done, %.0f s" % (rep + 1, args.reps, time.monotonic() - began))
    return results, failures


# ---------------------------------------------------------------- idle, fresh starts, soak

def context_switches(pid):
    """Voluntary and involuntary context switches of all threads of a process."""
    total = 0
    try:
        for task in os.listdir("/proc/%d/task" % pid):
            try:
                with open("/proc/%d/task/%s/status" % (pid, task)) as f:
                    for line in f:
                        if line.startswith(("voluntary_ctxt_switches", "nonvoluntary_ctxt_switches")):
                            total += int(line.split()[1])
            except OSError:
                pass
    except OSError:
        return None
    return total


def wineserver_pid():
    """The wineserver of this benchmark's prefix, or None."""
    prefix = os.environ.get("WINEPREFIX", "").encode()
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/comm" % pid) as f:
                if not f.read().startswith("wineserver"):
                    continue
            with open("/proc/%s/environ" % pid, "rb") as f:
                if b"WINEPREFIX=" + prefix + b"\0" in f.read():
                    return int(pid)
        except OSError:
            pass
    return None


def measure_idle(servers):
    """Context switches over IDLE_SECONDS with no load, one server at a time:
    all its threads (Harborlight's request line writer among them, its lines
    on and going to a file) and, under Wine, the wineserver's."""
    idle = {}
    for s in servers:
        if s.key not in ("floor", "harborlight") + WINE_KEYS:
            continue
        pid = s.procs[0].pid
        if s.request_lines():
            s.request_lines().check()  # the last lines are out before the quiet begins
        server = wineserver_pid() if s.wine else None
        before = (context_switches(pid), context_switches(server) if server else None)
        time.sleep(IDLE_SECONDS)
        after = (context_switches(pid), context_switches(server) if server else None)
        own = after[0] - before[0] if None not in (before[0], after[0]) else None
        wine = after[1] - before[1] if server and None not in (before[1], after[1]) else None
        try:
            tasks = len(os.listdir("/proc/%d/task" % pid))
        except OSError:
            tasks = None
        idle[s.key] = {"threads": own, "wineserver": wine, "tasks": tasks}
        log("idle %-26s %s context switches of %s threads in %d s%s" % (
            s.title, own, tasks, IDLE_SECONDS, "" if wine is None else ", wineserver %d" % wine))
    return idle


def resident_kb(pid):
    """VmRSS of a process, in kB, or None."""
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
    except (OSError, ValueError, TypeError):
        pass
    return None


def memory_phase(work, args):
    """Each harborlight-serve, started afresh with its request lines on and
    going to a file, serves the test page at 32 clients; its resident memory
    is read after each of MEMORY_STEPS requests, and every request must have
    its line."""
    steps = MEMORY_STEPS_QUICK if args.quick else MEMORY_STEPS
    runs = [("native", lambda port: start_native(os.path.join(ROOT, "build", "native", "harborlight-serve"),
                                                 os.path.join(work, "hl"), port, False))]
    exe = os.path.join(ROOT, "build", "windows", "harborlight-serve.exe")
    if shutil.which("wine") and os.path.exists(exe) and "wine" not in args.skip:
        runs.append(("wine", lambda port: start_wine(exe, os.path.join(work, "wine"), port, False)))
    found = {}
    for i, (name, start) in enumerate(runs):
        port = 18600 + i
        record = found[name] = {"steps": [], "failed": "", "lines": 0, "lost": [], "requests": 0}
        try:
            proc = start(port)
        except BenchError as e:
            record["failed"] = str(e)
            continue
        lines = RequestLines(proc.output)
        done = 0
        try:
            for target in steps:
                n = target - done
                what = "%s requests" % format(target, ",")
                cap = max(TIME_CAP, n // MEMORY_RATE)
                r = ab("http://%s:%d/" % (ADDRESS, port), 32, cap, n, 279)
                complete = int(r["complete"])
                lines.made_requests(what, complete, 32 if complete < n else 0)
                done += complete
                if complete < n:
                    raise BenchError("%d of %d requests in %d s" % (done, target, cap))
                lines.check()
                server = wineserver_pid() if name == "wine" else None
                record["steps"].append((done, resident_kb(proc.pid), resident_kb(server)))
                log("memory %-6s after %7d requests: %s kB%s" % (
                    name, done, record["steps"][-1][1],
                    ", wineserver %s kB" % record["steps"][-1][2] if server else ""))
        except BenchError as e:
            record["failed"] = str(e)
            log("memory %s: FAILED %s" % (name, e))
        finally:
            lines.check()
            record["lines"], record["lost"], record["requests"] = lines.lines, lines.lost, lines.requests
            end_process(proc)
    return found


def fresh_runs(exe, work, runs):
    """ab against a freshly started harborlight-serve.exe, `runs` times: a
    connection lost in the backlog shows as a run that fails or hangs."""
    counts = {"runs": runs, "requests": 0, "failed": 0, "broken": 0}
    for i in range(runs):
        port = 18500 + i
        proc = start_wine(exe, os.path.join(work, "wine"), port, False)
        try:
            argv = ["taskset", "-c", LOAD_CORE, "ab", "-q", "-S", "-s", "10", "-t", "8", "-n", "500",
                    "-c", "32" if i % 2 else "1", "http://%s:%d/" % (ADDRESS, port)]
            try:
                run = subprocess.run(argv, capture_output=True, text=True, timeout=40)
                complete = re.search(r"^Complete requests:\s+(\d+)", run.stdout, re.M)
                failed = re.search(r"^Failed requests:\s+(\d+)", run.stdout, re.M)
                if run.returncode != 0 or not complete or not failed:
                    counts["broken"] += 1
                else:
                    counts["requests"] += int(complete.group(1))
                    counts["failed"] += int(failed.group(1))
            except subprocess.TimeoutExpired:
                counts["broken"] += 1
        finally:
            end_process(proc)
    log("fresh starts under Wine: %(runs)d ab runs, %(requests)d requests, %(failed)d failed, "
        "%(broken)d runs broken or hung" % counts)
    return counts


def soak(args):
    """The engine's start/serve/stop soak at full length, natively and under
    Wine, each in a namespace of its own."""
    found = {}
    cycles = str(SOAK_CYCLES if not args.quick else SOAK_CYCLES // 5)
    runs = [("native", [os.path.join(ROOT, "tools", "netns-run.sh"),
                        os.path.join(ROOT, "build", "native", "tests", "engine_tests")], {})]
    windows = os.path.join(ROOT, "build", "windows", "tests", "engine_tests.exe")
    if shutil.which("wine") and os.path.exists(windows) and "wine" not in args.skip:
        # The tests' own prefix: the benchmark's wineserver stays untouched.
        runs.append(("wine", [os.path.join(ROOT, "tools", "wine-run.sh"), windows],
                     {"WINEPREFIX": os.path.join(ROOT, "build", "wineprefix")}))
    for name, argv, extra in runs:
        env = dict(os.environ, HARBORLIGHT_SOAK_CYCLES=cycles, **extra)
        env.pop("HARBORLIGHT_NETNS", None)
        try:
            run = subprocess.run(argv + ["--gtest_filter=Lifecycle.StartServeStopCyclesLeakNothing"],
                                 capture_output=True, text=True, timeout=900, env=env)
            line = re.search(r"^\d+ cycles in .*$", run.stdout, re.M)
            found[name] = {"passed": run.returncode == 0, "line": line.group(0) if line else run.stdout[-300:]}
        except subprocess.TimeoutExpired:
            found[name] = {"passed": False, "line": "did not finish in 900 s"}
        log("soak %s: %s (%s)" % (name, found[name]["line"], "passed" if found[name]["passed"] else "FAILED"))
    return found


# ---------------------------------------------------------------- report

def median(values):
    return statistics.median(values) if values else None


def faster_by(value, floor_value, key):
    """A value against the floor's: 1.00 is the floor, higher is faster."""
    if value is None or not floor_value:
        return None
    return floor_value / value if key in LOWER_IS_BETTER else value / floor_value


def paired_ratios(results, who, key, base="floor"):
    """Ratios to the floor's run of the same repetition, taken seconds apart."""
    floor = dict(results[base][key])
    return [faster_by(v, floor[rep], key) for rep, v in results[who][key] if rep in floor]


def summarize(servers, results):
    """For each server and measurement: (median value, median paired ratio, ratio spread)."""
    table = {}
    for s in servers:
        table[s.key] = {}
        for key, _ in MEASUREMENTS:
            values = [v for _, v in results[s.key][key]]
            ratios = paired_ratios(results, s.key, key)
            spread = None
            if len(ratios) >= 4:
                q = statistics.quantiles(ratios, n=4)
                spread = (q[2] - q[0]) / 2
            table[s.key][key] = (median(values), median(ratios), spread)
    return table


def fmt(value, key):
    if value is None:
        return "–"
    if key == "p99":
        return "%.3f" % value
    if key == "f100m":
        return "%.2f" % value
    if value >= 100:
        return "%.0f" % value
    return "%.1f" % value


def report(servers, results, failures):
    summary = summarize(servers, results)
    shown = [s for s in servers if s.key not in QUIET_OF]  # the --quiet builds have a table of their own
    lines = ["| Measurement | " + " | ".join(s.title for s in shown) + " |",
             "|---|" + "---:|" * len(shown)]
    for key, label in MEASUREMENTS:
        if all(summary[s.key][key][0] is None for s in shown):
            continue  # not measured in this run (--only)
        cells = []
        for s in shown:
            value, ratio, _ = summary[s.key][key]
            if value is None:
                cells.append("–")
            elif s.key == "floor":
                cells.append(fmt(value, key))
            else:
                cells.append("%s (%.2f)" % (fmt(value, key), ratio))
        lines.append("| %s | %s |" % (label, " | ".join(cells)))
    table = "\n".join(lines)

    def ratio(who, key):
        return summary.get(who, {}).get(key, (None, None, None))[1]

    def noise(who, key):
        return summary.get(who, {}).get(key, (None, None, None))[2] or 0

    checks = []

    def check(text, ok):
        checks.append("- %s %s" % ("yes:" if ok else "NO: ", text))

    labels = dict(MEASUREMENTS)
    for key, goal in (("page1", 0.95), ("page32", 0.95), ("f1m", 0.9), ("f100m", 0.9)):
        r = ratio("harborlight", key)
        if r is None:
            continue
        check("%s: %.2f of the floor, ±%.2f (goal %.2f or better)"
              % (labels[key], r, noise("harborlight", key), goal), r >= goal)
    hl_page = dict(results["harborlight"]["page1"])
    costs = [1 - v / hl_page[rep] for rep, v in results["harborlight"]["log1"] if rep in hl_page]
    if costs:
        cost = median(costs)
        check("logging on costs %.1f%% at 1 client (paired with logging off; goal 10%% or less)" % (100 * cost),
              cost <= 0.10)
    for peer in ("nginx", "lighttpd"):
        for key in ("page1", "page32"):
            a, b = ratio("harborlight", key), ratio(peer, key)
            if a and b:
                slack = noise("harborlight", key) + noise(peer, key)
                check("test page, %s: Harborlight %.2f, %s %.2f of the floor (noise ±%.2f)" % (
                    "1 client" if key == "page1" else "32 clients", a, peer, b, slack), a >= b - slack)
    hl_fail = [f for f in failures if f.startswith("Harborlight ") and "under Wine" not in f]
    check("no failed or dropped request for Harborlight (every ab run: 0 failed, 0 non-2xx, all completed)",
          not hl_fail)
    lines_table = request_lines_report(servers, summary, results, check)
    memory_table = memory_report(results, check)
    table = "\n\n".join(filter(None, (table, lines_table, memory_table)))
    wine_table, wine_ratios = wine_report(summary, results, check)
    spread_table = wine_spread_report(servers, summary, results, check)
    wine_table = "\n\n".join(filter(None, (wine_table, spread_table)))
    browser_table = browser_report(servers, results, check)
    wine_text = ""
    if ratio("wine", "page1"):
        wine_text = ("Wine: Harborlight's Windows engine under Wine serves the test page at %.2f of the native "
                     "floor at 1 client and %.2f at 32 clients, the 3,000-byte file at %.2f, a 1 MiB file at %.2f "
                     "and the 100 MiB file at %.2f." % tuple(
                         ratio("wine", k) or 0 for k in ("page1", "page32", "f3000", "f1m", "f100m")))
    if wine_table:
        wine_text = "\n\n".join(filter(None, (wine_table, wine_text)))
    summary["wine-vs-winsock"] = wine_ratios
    if browser_table:
        table += "\n\n" + browser_table
    return table, checks, wine_text, summary


def browser_report(servers, results, check):
    """The browser-like case: each server's median and slowest whole time, and
    how often the silent connections held it; goals for Harborlight."""
    timed = [s for s in servers if results[s.key].get("browser")]
    if not timed:
        return ""

    def cell(s, pick):
        runs = results[s.key]["browser"]
        held = sum(v for _, v in results[s.key]["browser_held"])
        value = pick([v for _, v in runs])
        if held == len(runs):
            return "over %d (held)" % BROWSER_LIMIT
        return "%.3f" % value + (" (held)" if held and pick is max else "")

    lines = ["| Browser-like: %d silent connections, then %d files of %s bytes, each on a new connection "
             "| " % (BROWSER_SILENT, BROWSER_FILES, format(BROWSER_FILE_SIZE, ",")) +
             " | ".join(s.title for s in timed) + " |",
             "|---|" + "---:|" * len(timed),
             "| whole time, median, s | " + " | ".join(cell(s, median) for s in timed) + " |",
             "| whole time, slowest, s | " + " | ".join(cell(s, max) for s in timed) + " |",
             "| runs held by the silent connections | " + " | ".join(
                 "%d of %d" % (sum(v for _, v in results[s.key]["browser_held"]), len(results[s.key]["browser"]))
                 for s in timed) + " |"]
    note = ("Held: the silent connections still held the server %d s after they were opened, and the bench "
            "closed them so that the files could pass. The floors have no receive limit and wait on a silent "
            "connection until it closes (they are measured every third repetition); the Harborlight before "
            "this listener waited up to 10 s on each." % BROWSER_LIMIT)
    for who, where in (("harborlight", "natively"), ("wine", "under Wine")):
        runs = [v for _, v in results.get(who, {}).get("browser", [])]
        if runs:
            held = sum(v for _, v in results[who]["browser_held"])
            check("browser-like case %s: %d silent connections, then %d files: median %.3f s, slowest %.3f s, "
                  "held %d of %d runs (goal under 1 s)" % (where, BROWSER_SILENT, BROWSER_FILES, median(runs),
                                                          max(runs), held, len(runs)),
                  max(runs) < 1 and not held)
    return "\n".join(lines) + "\n\n" + note


WINE_ROWS = ("page1", "page32", "f1m")


def request_lines_report(servers, summary, results, check):
    """Harborlight with its request lines on against the same build with
    --quiet, paired in each repetition, natively and under Wine; and whether
    every request made had its line."""
    labels = dict(MEASUREMENTS)
    rows, lines = [], []
    for quiet, on in QUIET_OF.items():
        if not results.get(quiet) or not results.get(on):
            continue
        base = "wfloor" if on == "wine" else "floor"
        where = "under Wine" if on == "wine" else "natively"
        for key in QUIET_TESTS + ("cpu",):
            against = median(paired_ratios(results, on, key, base=quiet))
            if against is None:
                continue
            floor_on = median(paired_ratios(results, on, key, base=base)) if results.get(base) else None
            floor_quiet = median(paired_ratios(results, quiet, key, base=base)) if results.get(base) else None
            before = BEFORE_LINES.get((on, key))
            rows.append("| %s, %s | %s | %s | %.2f | %s | %s | %s |" % (
                labels[key], where, fmt(summary[on][key][0], key), fmt(summary[quiet][key][0], key), against,
                "–" if floor_on is None else "%.2f" % floor_on, "–" if floor_quiet is None else "%.2f" % floor_quiet,
                "–" if before is None else "%.2f" % before))
            if key == "cpu":
                continue
            check("request lines on, %s, %s: %.2f of --quiet in the same repetition, median (goal %.2f or more)"
                  % (labels[key], where, against, QUIET_GOAL), round(against, 2) >= QUIET_GOAL)
            if before is not None and floor_on is not None:
                check("request lines on, %s, %s: %.2f of the %s, %.2f before the lines (goal no lower, "
                      "as printed)" % (labels[key], where, floor_on,
                                       "Winsock floor" if on == "wine" else "floor", before),
                      round(floor_on, 2) >= before)
    for on in QUIET_OF.values():
        writer = [v for _, v in results.get(on, {}).get("writer", [])]
        share = [v for _, v in results.get(on, {}).get("writer_share", [])]
        if writer:
            where = "under Wine" if on == "wine" else "natively"
            rows.append("| the line writer's own thread, 1 client, CPU µs per request, %s (share of the server's "
                        "CPU%s) | %.2f (%.1f%%) | – | – | – | – | – |" % (
                            where, ", with the wineserver's" if on == "wine" else "", median(writer),
                            100 * median(share)))
    if rows:
        lines = ["| Request lines on, to a file, against --quiet (ratios: higher is better) | lines on | --quiet "
                 "| lines on / --quiet "
                 "| lines on / floor | --quiet / floor | before the lines / floor |",
                 "|---|---:|---:|---:|---:|---:|---:|"] + rows
    for s in servers:
        found = results.get("lines", {}).get(s.key)
        if not found or not found["counts"]:
            continue
        lines_made = sum(n for n, _, _ in found["counts"])
        requests = sum(n for _, n, _ in found["counts"])
        stopped = "; " + "; ".join(why for _, _, why in found["counts"] if why) if any(
            why for _, _, why in found["counts"]) else ""
        if s.lines == "quiet":
            check("%s: %s request lines for %s requests (goal none)" % (
                s.title, format(lines_made, ","), format(requests, ",")), lines_made == 0)
        else:
            check("request lines, %s: %s lines for %s requests, checked after every run: %s (goal: one for "
                  "each request, none lost)%s" % (
                      s.title, format(lines_made, ","), format(requests, ","),
                      "; ".join(found["lost"]) or "none missing", stopped), not found["lost"])
    return "\n".join(lines)


def memory_report(results, check):
    """Resident memory of each harborlight-serve after 1,000 requests and after
    the last step."""
    memory = results.get("memory") or {}
    if not memory:
        return ""
    steps = max((r["steps"] for r in memory.values()), key=len)
    head = [format(n, ",") for n, _, _ in steps]
    lines = ["| Resident memory (VmRSS), kB, test page at 32 clients, request lines on, to a file | " +
             " | ".join("after %s" % h for h in head) + " | from the first to the last |",
             "|---|" + "---:|" * (len(head) + 1)]
    titles = {"native": "harborlight-serve", "wine": "harborlight-serve.exe under Wine"}
    for name, found in sorted(memory.items()):
        kb = [k for _, k, _ in found["steps"]]
        rows = [(titles[name], kb)]
        if name == "wine":
            rows.append(("Wine's server process, meanwhile", [w for _, _, w in found["steps"]]))
        for title, values in rows:
            cells = ["–" if v is None else "%d" % v for v in values] + ["–"] * (len(head) - len(values))
            grew = values[-1] - values[0] if len(values) == len(head) and None not in values else None
            lines.append("| %s | %s | %s |" % (title, " | ".join(cells), "–" if grew is None else "%+d" % grew))
        where = "under Wine" if name == "wine" else "natively"
        if found["failed"] or len(kb) < 2 or None in kb:
            check("memory %s: %s" % (where, found["failed"] or "not read"), False)
            continue
        check("memory %s: %s's VmRSS %d kB after %s requests, %d kB after %s: %+d kB (goal within 1 MB)"
              % (where, titles[name].split()[0], kb[0], head[0], kb[-1], head[-1], kb[-1] - kb[0]),
              abs(kb[-1] - kb[0]) <= 1024)
        check("request lines %s in the memory phase: %s lines for %s requests (goal: one for each, none lost)%s"
              % (where, format(found["lines"], ","), format(found["requests"], ","),
                 ": " + "; ".join(found["lost"]) if found["lost"] else ""), not found["lost"])
    return "\n".join(lines)


def wine_report(summary, results, check):
    """harborlight-serve.exe against the Winsock floor under the same Wine,
    idle wake-ups, fresh starts and the soak: a table and its goals."""
    idle = results.get("idle", {})
    if "wfloor" not in summary or "wine" not in summary:
        return "", {}
    labels = dict(MEASUREMENTS)
    lines = ["| Under Wine | Winsock floor | Harborlight under Wine | ratio |", "|---|---:|---:|---:|"]
    wine_ratios = {}
    for key in WINE_ROWS:
        r = median(paired_ratios(results, "wine", key, base="wfloor"))
        wine_ratios[key] = r
        if r is None:
            continue
        lines.append("| %s | %s | %s | %s |" % (labels[key], fmt(summary["wfloor"][key][0], key),
                                               fmt(summary["wine"][key][0], key), "–" if r is None else "%.2f" % r))

    def idle_cell(who, what):
        value = idle.get(who, {}).get(what)
        return "–" if value is None else "%d" % value
    if idle:
        lines.append("| context switches in %d s while idle, the server's threads | %s | %s | – |"
                     % (IDLE_SECONDS, idle_cell("wfloor", "threads"), idle_cell("wine", "threads")))
        lines.append("| the same, Wine's server process | %s | %s | – |"
                     % (idle_cell("wfloor", "wineserver"), idle_cell("wine", "wineserver")))
        lines.append("| natively: context switches in %d s while idle (floor, Harborlight) | %s | %s | – |"
                     % (IDLE_SECONDS, idle_cell("floor", "threads"), idle_cell("harborlight", "threads")))
    for key in WINE_ROWS:
        r = wine_ratios[key]
        if r is not None:
            check("under Wine, %s: %.2f of the Winsock floor (goal 0.90 or better)" % (labels[key], r), r >= 0.9)
    for who, base, where, floor_title in (("harborlight", "floor", "natively", "the floor's"),
                                          ("wine", "wfloor", "under Wine", "the Winsock floor's")):
        mine, floor = idle.get(who, {}).get("threads"), idle.get(base, {}).get("threads")
        if mine is not None and floor is not None:
            check("idle %s, request lines on and going to a file: Harborlight's %s threads switched %d times "
                  "in %d s, %s %d (goal: no more than the floor's, allowing two)" % (
                      where, idle[who].get("tasks"), mine, IDLE_SECONDS, floor_title, floor), mine <= floor + 2)
    fresh = results.get("fresh")
    if fresh:
        check("%(runs)d fresh starts of harborlight-serve.exe, one ab run each: %(requests)d requests, "
              "%(failed)d failed, %(broken)d runs broken or hung (goal: none)" % fresh,
              not fresh["failed"] and not fresh["broken"])
    for name, found in sorted(results.get("soak", {}).items()):
        check("start/serve/stop soak, %s: %s" % ("under Wine" if name == "wine" else "natively", found["line"]),
              found["passed"])
    return "\n".join(lines), wine_ratios


def wine_spread_report(servers, summary, results, check):
    """Every Windows build against the Winsock floor of the same repetition,
    repetition by repetition: under Wine one repetition swings far from the
    median. With other builds beside this one (--also-wine), goals that this
    build stands no lower than each of them."""
    builds = [s for s in servers if s.wine and s.key != "wfloor" and s.key not in QUIET_OF]
    labels = dict(MEASUREMENTS)
    tables = []
    for key in WINE_ROWS:
        rows = [(s, paired_ratios(results, s.key, key, base="wfloor")) for s in builds]
        rows = [(s, ratios) for s, ratios in rows if ratios]
        if not rows:
            continue
        lines = ["| %s, under Wine | median | ratio to the Winsock floor: median | lowest | highest "
                 "| each repetition |" % labels[key], "|---|---:|---:|---:|---:|---|",
                 "| Winsock floor under Wine | %s | – | – | – | %s |" % (
                     fmt(summary["wfloor"][key][0], key),
                     " ".join(fmt(v, key) for _, v in results["wfloor"][key]))]
        for s, ratios in rows:
            lines.append("| %s | %s | %.2f | %.2f | %.2f | %s |" % (
                s.title, fmt(summary[s.key][key][0], key), median(ratios), min(ratios), max(ratios),
                " ".join("%.2f" % r for r in ratios)))
        tables.append("\n".join(lines))
        for s, ratios in rows:
            if s.key == "wine" or not results.get("wine", {}).get(key):
                continue
            # Paired in each repetition, as the ratios to the floor are.
            against = median(paired_ratios(results, "wine", key, base=s.key))
            check("under Wine, %s: Harborlight %.2f times %s in the same repetition, median (goal: no lower, "
                  "1.00 or more as printed)" % (labels[key], against, s.title), round(against, 2) >= 1)
    return "\n\n".join(tables)


def write_svg(path, servers, summary):
    """Grouped bars: each server's ratio to the floor for each measurement."""
    keys = [k for k, _ in MEASUREMENTS if k not in ("p99", "cpu")]
    short = {"page1": "page, 1 client", "page32": "page, 32 clients", "log1": "page, log on",
             "f3000": "3,000 B", "f1m": "1 MiB", "f100m": "100 MiB"}
    palette = ["#888888", "#1f77b4", "#2ca02c", "#ff7f0e", "#9467bd", "#d62728", "#8c564b"]
    shown = [s for s in servers if s.key not in QUIET_OF]
    width, height = 860, 400
    left, right, top, bottom = 60, 20, 40, 110
    plot_w, plot_h = width - left - right, height - top - bottom
    top_ratio = 2.0
    group_w = plot_w / len(keys)
    bar_w = group_w * 0.8 / len(shown)

    def y(v):
        return top + plot_h * (1 - min(v, top_ratio) / top_ratio)

    out = ['<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" '
           'font-family="sans-serif" font-size="12">' % (width, height),
           '<rect width="100%" height="100%" fill="white"/>',
           '<text x="%d" y="22" font-size="15">Speed relative to the floor (1.0 = floor; higher is faster; '
           'for 100 MiB, floor time / time)</text>' % left]
    for tick in (0, 0.5, 1.0, 1.5, 2.0):
        yy = y(tick)
        out.append('<line x1="%d" x2="%d" y1="%.1f" y2="%.1f" stroke="%s"/>'
                   % (left, width - right, yy, yy, "#444" if tick == 1.0 else "#ddd"))
        out.append('<text x="%d" y="%.1f" text-anchor="end">%.1f</text>' % (left - 6, yy + 4, tick))
    for g, key in enumerate(keys):
        x0 = left + g * group_w + group_w * 0.1
        for i, s in enumerate(shown):
            v = 1.0 if s.key == "floor" and summary["floor"][key][0] else summary[s.key][key][1]
            if v is None:
                continue
            x = x0 + i * bar_w
            out.append('<rect x="%.1f" y="%.1f" width="%.1f" height="%.1f" fill="%s"><title>%s, %s: %.2f</title></rect>'
                       % (x, y(v), bar_w - 1, top + plot_h - y(v), palette[i % len(palette)], s.title, short[key], v))
            if v > top_ratio:  # off the scale: say how far
                out.append('<text x="%.1f" y="%.1f" font-size="9" text-anchor="middle">%.0f×</text>'
                           % (x + bar_w / 2, top - 3, v))
        out.append('<text x="%.1f" y="%d" text-anchor="middle">%s</text>'
                   % (left + g * group_w + group_w / 2, top + plot_h + 16, short[key]))
    lx, ly = left, top + plot_h + 34
    for i, s in enumerate(shown):
        if lx + 30 + 7 * len(s.title) > width - right:  # next line of the legend
            lx, ly = left, ly + 20
        out.append('<rect x="%d" y="%d" width="12" height="12" fill="%s"/>' % (lx, ly, palette[i % len(palette)]))
        out.append('<text x="%d" y="%d">%s</text>' % (lx + 16, ly + 10, s.title))
        lx += 30 + 7 * len(s.title)
    wine = summary.get("wine-vs-winsock") or {}
    if wine:
        # Below: Harborlight under Wine against the Winsock floor under the same Wine.
        keys_w = [k for k in WINE_ROWS if wine.get(k)]
        top_w = height + 40
        plot_hw = 140
        out.append('<text x="%d" y="%d" font-size="15">Under Wine, relative to the Winsock floor under the '
                   'same Wine (1.0 = floor)</text>' % (left, top_w - 14))

        def yw(v):
            return top_w + plot_hw * (1 - min(v, 1.5) / 1.5)
        for tick in (0, 0.5, 1.0, 1.5):
            out.append('<line x1="%d" x2="%d" y1="%.1f" y2="%.1f" stroke="%s"/>'
                       % (left, width - right, yw(tick), yw(tick), "#444" if tick == 1.0 else "#ddd"))
            out.append('<text x="%d" y="%.1f" text-anchor="end">%.1f</text>' % (left - 6, yw(tick) + 4, tick))
        gw = plot_w / max(len(keys_w), 1)
        colour = {s.key: palette[i % len(palette)] for i, s in enumerate(shown)}
        for g, key in enumerate(keys_w):
            x0 = left + g * gw + gw * 0.3
            for i, (who, title, v) in enumerate((("wfloor", "Winsock floor under Wine", 1.0),
                                                 ("wine", "Harborlight under Wine", wine[key]))):
                out.append('<rect x="%.1f" y="%.1f" width="%.1f" height="%.1f" fill="%s"><title>%s, %s: %.2f'
                           '</title></rect>' % (x0 + i * gw * 0.2, yw(v), gw * 0.2 - 2, top_w + plot_hw - yw(v),
                                                colour[who], title, short[key], v))
                out.append('<text x="%.1f" y="%.1f" text-anchor="middle">%.2f</text>'
                           % (x0 + i * gw * 0.2 + gw * 0.1, yw(v) - 4, v))
            out.append('<text x="%.1f" y="%.1f" text-anchor="middle">%s</text>'
                       % (left + g * gw + gw / 2, top_w + plot_hw + 16, short[key]))
        height = top_w + plot_hw + 30
    out[0] = ('<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" '
              'font-family="sans-serif" font-size="12">' % (width, height))
    out.append("</svg>")
    with open(path, "w") as f:
        f.write("\n".join(out) + "\n")


def describe_environment():
    def sh(cmd):
        try:
            return subprocess.run(cmd, shell=True, capture_output=True, text=True, timeout=10).stdout.strip() or "none"
        except subprocess.TimeoutExpired:
            return "?"
    return {
        "kernel": sh("uname -r"),
        "cpu": sh("grep -m1 'model name' /proc/cpuinfo | cut -d: -f2").strip(),
        "cores": sh("nproc"),
        "load": sh("cut -d' ' -f1-3 /proc/loadavg"),
        "somaxconn": sh("cat /proc/sys/net/core/somaxconn"),
        "nginx": sh("command -v nginx >/dev/null && nginx -v 2>&1 | sed 's/.*nginx\\///'"),
        "lighttpd": sh("command -v lighttpd >/dev/null && lighttpd -v 2>&1 | head -1 | cut -d' ' -f1 | cut -d/ -f2"),
        "python": sh(sys.executable + " -V | cut -d' ' -f2"),
        "ab": sh("ab -V | head -1 | cut -d' ' -f5"),
        "wine": sh("wine --version 2>/dev/null"),
        "commit": sh("git -C %s rev-parse --short HEAD" % ROOT),
    }


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--quick", action="store_true", help="a third of the requests, 6 repetitions")
    parser.add_argument("--reps", type=int, help="repetitions (default 15, quick 6)")
    parser.add_argument("--skip", default="", help="comma-separated: nginx,lighttpd,python,wine,memory,soak")
    parser.add_argument("--also", action="append", default=[], metavar="NAME=PATH",
                        help="another harborlight-serve build to measure beside this one")
    parser.add_argument("--also-wine", action="append", default=[], metavar="NAME=PATH",
                        help="another harborlight-serve.exe to measure under Wine beside this one")
    parser.add_argument("--only", default="", metavar="KEYS",
                        help="comma-separated, of %s: only these measurements, with no idle, fresh-start, "
                             "memory or soak phase; the result goes to a block of its own on the page" % ",".join(TESTS))
    parser.add_argument("--requests", type=int, metavar="N",
                        help="requests in every ab run of every server, all of which must complete")
    parser.add_argument("--no-write", action="store_true", help="print only; leave docs/ alone")
    args = parser.parse_args()
    args.reps = args.reps or (6 if args.quick else 15)
    args.skip = set(filter(None, args.skip.split(",")))
    args.only = list(filter(None, args.only.split(",")))
    if set(args.only) - set(TESTS):
        parser.error("--only takes %s" % ",".join(TESTS))

    env = describe_environment()
    began = time.monotonic()
    try:
        servers, results, failures = session(args)
    except BenchError as e:
        log("benchmark failed: %s" % e)
        return 1
    table, checks, wine_text, summary = report(servers, results, failures)
    import json
    with open(os.path.join(ROOT, "build", "bench", "results.json"), "w") as f:
        json.dump({"servers": [[s.key, s.title] for s in servers], "results": results,
                   "failures": failures, "environment": env}, f, indent=1)
    elapsed = time.monotonic() - began

    text = [table, ""]
    text.append("Medians of %d interleaved repetitions%s. In brackets: the median over the repetitions of the "
                "ratio to the floor's run in the same repetition (higher is better, also for latency and "
                "time). MB/s counts 10^6 bytes." % (
                    args.reps, ", %s requests in every ab run" % format(args.requests, ",") if args.requests else ""))
    text += ["", "Goals:"] + checks
    if wine_text:
        text += ["", wine_text]
    if failures:
        text += ["", "Failures:"] + ["- " + f for f in failures]
    text += ["", "Machine: %(cpu)s, %(cores)s cores, kernel %(kernel)s, load average %(load)s at the start, "
             "%(end)s at the end; somaxconn %(somaxconn)s; ab %(ab)s, nginx %(nginx)s, lighttpd %(lighttpd)s, "
             "Python %(python)s, %(wine)s; commit %(commit)s. The run took %(took)d s." % dict(
                 env, took=elapsed, end=describe_environment()["load"])]
    if args.only:
        text += ["", "Command: bench/run.sh " + " ".join(sys.argv[1:])]
    body = "\n".join(text)
    log("\n" + body)

    if args.only and not args.no_write:
        # A focused run leaves the full run's tables and chart as they are.
        write_marked_block(os.path.join(ROOT, "docs", "performance.md"), "bench-only", body)
        log("wrote the bench-only block of docs/performance.md")
    elif not args.no_write:
        write_docs(body, servers, summary, args)
    return 0 if not failures else 3


def write_docs(body, servers, summary, args):
    docs = os.path.join(ROOT, "docs")
    os.makedirs(docs, exist_ok=True)
    write_svg(os.path.join(docs, "performance.svg"), servers, summary)
    write_marked_block(os.path.join(docs, "performance.md"), "bench",
                       ("(quick run)\n\n" if args.quick else "") + body)
    log("wrote docs/performance.md and docs/performance.svg")


def write_marked_block(path, mark, text):
    """Puts `text` between <!-- MARK:begin --> and <!-- MARK:end --> in the
    page at `path`, in place of what stood there, or at its end."""
    begin, end = "<!-- %s:begin -->" % mark, "<!-- %s:end -->" % mark
    block = "%s\n%s\n%s" % (begin, text, end)
    old = ""
    if os.path.exists(path):
        with open(path) as f:
            old = f.read()
    if begin in old and end in old:
        new = old[:old.index(begin)] + block + old[old.index(end) + len(end):]
    elif old:
        new = old.rstrip("\n") + "\n\n" + block + "\n"
    else:
        new = "# Performance\n\n" + block + "\n"
    with open(path, "w") as f:
        f.write(new)


if __name__ == "__main__":
    sys.exit(main())
