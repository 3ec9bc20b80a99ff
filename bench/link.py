#!/usr/bin/env python3
"""Page loads over a link like a phone's Wi-Fi: harborlight-serve, and
harborlight-serve.exe under Wine, against busybox httpd.

Runs inside a private network namespace that bench/link.sh made. Two more
namespaces are made here, the phone's and the server's, joined by the delay
line (bench/delayline.c): D ms each way, RATE bit/s, a drop-tail queue of
QUEUE bytes. Every server starts inside the server's namespace (under Wine,
its wineserver too); this process moves into the phone's namespace and loads
from there, as a browser does: six connections at once, HTTP/1.0, a new
connection per request, the page and then every object it names, every byte
checked against the file. Loads are interleaved, in an order shuffled anew
for each repetition. Every wait is bounded, and every process started here
is ended by its own id.
"""
import argparse
import ctypes
import os
import random
import re
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import firefox as ff  # noqa: E402  (its Firefox load and collector)
from harborbench.page import write_marked_block  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PHONE, SERVER = "10.41.0.1", "10.41.0.2"
RATE = 50_000_000
QUEUE = 256_000
CONNECTIONS = 6
LOAD_LIMIT = 60        # seconds any one load may take
STOCK_WMEM_MAX = 212992
# (key, what the table calls it, the address's path, the objects' count and size)
PAGES = [("gallery", "30 images of about 45 KB", "gallery.html", 30, 45_000),
         ("photos", "10 photos of about 400 KB", "photos.html", 10, 400_000),
         ("large", "one 20 MB file", "large.bin", 0, 20_000_000),
         # Not in the default run: a phone camera's full-size photos.
         ("camera", "10 photos of about 2 MB", "camera.html", 10, 2_000_000)]
GOALS = {"gallery": 1.05, "photos": 1.05, "large": 1.02}
GOAL_DELAYS = (10, 20)


def log(text):
    print(text, flush=True)


class LoadError(Exception):
    pass


# ---------------------------------------------------------------- the site

def png_of_size(size, seed):
    """A valid PNG of noise of about `size` bytes: photographs do not
    compress, and a browser decodes it."""
    side = int((size / 3) ** 0.5)
    return ff.png(side, side, seed)


def make_site(work, pages):
    """DATA with the pages named and the 20 MB file, which the link's check
    uses; returns it and every file's bytes by name."""
    data = os.path.join(work, "DATA")
    shutil.rmtree(data, ignore_errors=True)
    os.makedirs(data)
    files = {"script.js": ff.SCRIPT.encode()}
    for key, title, path, count, size in PAGES:
        if key not in pages and key != "large":
            continue
        if count == 0:
            files[path] = random.Random(7).randbytes(size)
            continue
        names = ["%s%02d.png" % (key, i) for i in range(1, count + 1)]
        # "About" the size: from 0.9 to 1.1 times it, as a camera's files are,
        # so that some answers fit a fresh connection's send buffer and most
        # do not.
        for i, name in enumerate(names):
            files[name] = png_of_size(size * (0.9 + 0.2 * i / (count - 1)), 100 * len(key) + i)
        images = "\n".join('<img src="%s" alt="%s">' % (n, n) for n in names)
        files[path] = (ff.PAGE.replace("Thirty photographs", title).replace(
            '<link rel="stylesheet" href="style.css">\n', "") % images).encode()
    for name, content in files.items():
        with open(os.path.join(data, name), "wb") as f:
            f.write(content)
    return data, files


# ---------------------------------------------------------------- namespaces

CLONE_NEWNET = 0x40000000


# The namespace this process began in, held open: once the main thread has
# moved, /proc/PID/ns/net names the phone's.
OUTER_NAMESPACE = os.open("/proc/self/ns/net", os.O_RDONLY)


def enter_namespace(holder_pid=None):
    """Moves this process's main thread, and the threads and processes it
    starts later, into the network namespace of `holder_pid`, or back into
    the one it began in."""
    fd = os.open("/proc/%d/ns/net" % holder_pid, os.O_RDONLY) if holder_pid else OUTER_NAMESPACE
    try:
        if ctypes.CDLL(None, use_errno=True).setns(fd, CLONE_NEWNET) != 0:
            raise OSError(ctypes.get_errno(), "setns")
    finally:
        if holder_pid:
            os.close(fd)


def in_namespace(holder_pid, argv):
    return ["nsenter", "--net=/proc/%d/ns/net" % holder_pid] + argv


def run_in(holder_pid, command):
    subprocess.run(in_namespace(holder_pid, ["sh", "-c", command]), check=True, timeout=20)


def end_process(proc, seconds=5):
    if proc.poll() is None:
        proc.send_signal(signal.SIGTERM)
    try:
        proc.wait(timeout=seconds)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait(timeout=5)


class Link:
    """The phone's and the server's namespaces (each held by a sleeping
    process of its own) and the delay line between them."""

    def __init__(self, work, delay_ms):
        self.delay_ms = delay_ms
        self.phone = subprocess.Popen(["unshare", "--net", "--", "sleep", "36000"])
        self.server = subprocess.Popen(["unshare", "--net", "--", "sleep", "36000"])
        self.line = None
        time.sleep(0.1)
        self.output = os.path.join(work, "delayline-%d.out" % delay_ms)
        with open(self.output, "w") as out:
            # Real-time priority, so that a busy machine delays no packet
            # beyond D: the line sleeps between packets and forwards each at once.
            self.line = subprocess.Popen(
                ["chrt", "-f", "10", os.path.join(work, "delayline"), "/proc/%d/ns/net" % self.phone.pid,
                 "/proc/%d/ns/net" % self.server.pid, "hlphone", "hlserver", str(delay_ms), str(RATE),
                 str(QUEUE)], stdout=out, stderr=subprocess.STDOUT)
        deadline = time.monotonic() + 10
        while "ready" not in open(self.output).read():
            if time.monotonic() > deadline or self.line.poll() is not None:
                raise LoadError("the delay line did not start: %s" % open(self.output).read())
            time.sleep(0.02)
        run_in(self.phone.pid, "ip link set lo up; ip addr add %s peer %s dev hlphone; ip link set hlphone up"
               % (PHONE, SERVER))
        # The default route makes the server find its address as a machine
        # on a LAN does.
        run_in(self.server.pid, "ip link set lo up; ip addr add %s peer %s dev hlserver; "
               "ip link set hlserver up; ip route add default dev hlserver" % (SERVER, PHONE))

    def counts(self):
        return open(self.output).read()

    def close(self):
        if self.line:
            end_process(self.line)
        for holder in (self.phone, self.server):
            end_process(holder)


# ---------------------------------------------------------------- servers

def wine_env():
    env = dict(os.environ)
    env["WINEDEBUG"] = "-all"
    env["WINEDLLOVERRIDES"] = "mscoree,mshtml="
    return env


class Server:
    def __init__(self, key, title, kind, path=None, stock_cap=False, fixed=None):
        self.key, self.title, self.kind, self.path, self.stock_cap = key, title, kind, path, stock_cap
        self.fixed = fixed
        self.proc = None

    def start(self, link, work, data, port):
        self.port = port
        if self.kind == "busybox":
            argv, cwd, env = ["busybox", "httpd", "-f", "-p", "%s:%d" % (SERVER, port), "-h", data], data, None
        else:
            cwd = os.path.join(work, "site-" + self.key)
            os.makedirs(cwd, exist_ok=True)
            if not os.path.islink(os.path.join(cwd, "DATA")):
                os.symlink(data, os.path.join(cwd, "DATA"))
            argv = [self.path, "--port", str(port), "--quiet"]
            env = dict(os.environ)
            if self.kind == "wine":
                argv, env = ["wine"] + argv, wine_env()
            if self.stock_cap or self.fixed:
                env["LD_PRELOAD"] = os.path.join(work, "stockcap.so")
            if self.stock_cap:
                env["STOCK_WMEM_MAX"] = str(STOCK_WMEM_MAX)
            if self.fixed:
                env["FIXED_SNDBUF"] = str(self.fixed)
        self.proc = subprocess.Popen(in_namespace(link.server.pid, argv), cwd=cwd, env=env,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + (60 if self.kind == "wine" else 10)
        while time.monotonic() < deadline and self.proc.poll() is None:
            with socket.socket() as s:
                s.settimeout(1)
                if s.connect_ex((SERVER, port)) == 0:
                    return
            time.sleep(0.1)
        self.stop()
        raise LoadError("%s did not listen on %s:%d" % (self.title, SERVER, port))

    def stop(self):
        if self.proc:
            end_process(self.proc, 10)
            self.proc = None


def stop_servers(servers):
    """Ends them; under Wine the wineserver too, which holds the sockets in
    the server's namespace and would outlive the link otherwise."""
    for server in servers:
        server.stop()
    if any(s.kind == "wine" for s in servers):
        subprocess.run(["wineserver", "-k"], env=wine_env(), timeout=30)
        subprocess.run(["wineserver", "-w"], env=wine_env(), timeout=30)


# ---------------------------------------------------------------- the client

def fetch(port, name, expected):
    """GET /name over HTTP/1.0 on a new connection; refuses anything but
    status 200 with exactly the file's bytes."""
    with socket.create_connection((SERVER, port), timeout=LOAD_LIMIT) as s:
        s.sendall(b"GET /%s HTTP/1.0\r\nHost: %s\r\nUser-Agent: link-bench\r\nAccept: */*\r\n\r\n"
                  % (name.encode(), SERVER.encode()))
        pieces = []
        while True:
            piece = s.recv(262144)
            if not piece:
                break
            pieces.append(piece)
    answer = b"".join(pieces)
    end = answer.find(b"\r\n\r\n")
    lf = answer.find(b"\n\n")
    if lf >= 0 and (end < 0 or lf < end):
        head, body = answer[:lf], answer[lf + 2:]
    elif end >= 0:
        head, body = answer[:end], answer[end + 4:]
    else:
        raise LoadError("/%s: no header end in %d bytes" % (name, len(answer)))
    if not re.match(rb"HTTP/1\.[01] 200 ", head):
        raise LoadError("/%s answered %r" % (name, head[:60]))
    if body != expected:
        raise LoadError("/%s: %d bytes, not the file's %d" % (name, len(body), len(expected)))
    return len(answer)


def browser_load(port, page, files):
    """The page, then every object it names, over CONNECTIONS connections
    at once; (seconds, bytes received)."""
    began = time.monotonic()
    received = [fetch(port, page, files[page])]
    names = re.findall(rb'src="([^"]+)"', files[page]) if page.endswith(".html") else []
    todo = [n.decode() for n in names]
    lock = threading.Lock()
    failures = []

    def worker():
        while True:
            with lock:
                if not todo or failures:
                    return
                name = todo.pop(0)
            try:
                got = fetch(port, name, files[name])
                with lock:
                    received.append(got)
            except (OSError, LoadError) as e:
                with lock:
                    failures.append("%s: %s" % (name, e))

    workers = [threading.Thread(target=worker) for _ in range(CONNECTIONS)]
    for w in workers:
        w.start()
    for w in workers:
        w.join(LOAD_LIMIT)
    if any(w.is_alive() for w in workers):
        raise LoadError("a load took more than %d s" % LOAD_LIMIT)
    if failures:
        raise LoadError(failures[0])
    return time.monotonic() - began, sum(received)


def bulk_rate(port, name, expected):
    """The rate of the data of one large answer once TCP's slow start is
    over: from its first quarter to its end, in Mbit/s."""
    with socket.create_connection((SERVER, port), timeout=LOAD_LIMIT) as s:
        s.sendall(b"GET /%s HTTP/1.0\r\n\r\n" % name.encode())
        got, quarter = 0, None
        while True:
            piece = s.recv(262144)
            if not piece:
                break
            got += len(piece)
            if quarter is None and got >= len(expected) // 4:
                quarter = (time.monotonic(), got)
        ended = time.monotonic()
    if got < len(expected) or quarter is None:
        raise LoadError("the bulk transfer brought %d bytes of %d" % (got, len(expected)))
    return (got - quarter[1]) * 8 / (ended - quarter[0]) / 1e6


class QueuedBytes:
    """The bytes the server's kernel holds for its connections, sent but not
    yet acknowledged or not yet sent (tx_queue of /proc/net/tcp, over the
    server's namespace), sampled every few milliseconds; keeps the peak."""

    def __init__(self, holder_pid):
        self.path = "/proc/%d/net/tcp" % holder_pid
        self.peak = 0
        self.done = threading.Event()
        self.thread = threading.Thread(target=self.sample, daemon=True)
        self.thread.start()

    def sample(self):
        while not self.done.wait(0.005):
            total = 0
            with open(self.path) as f:
                next(f)
                for line in f:
                    fields = line.split()
                    if fields[3] != "0A":  # not a listening socket
                        total += int(fields[4].split(":")[0], 16)
            self.peak = max(self.peak, total)

    def stop(self):
        self.done.set()
        self.thread.join(5)
        return self.peak


# ---------------------------------------------------------------- the run

def check_link(link, files, busybox_port):
    """Ping's round trip against 2 x D, and a bulk transfer's rate."""
    ping = subprocess.run(["busybox", "ping", "-c", "10", "-i", "0.2", "-W", "2", SERVER],
                          capture_output=True, text=True, timeout=30).stdout
    times = [float(t) for t in re.findall(r"time=([\d.]+) ms", ping)]
    if len(times) < 8:
        raise LoadError("ping over the link: %r" % ping[-200:])
    rtt = statistics.median(times)
    mbit = bulk_rate(busybox_port, "large.bin", files["large.bin"])
    result = {"rtt": rtt, "rtt_ok": abs(rtt - 2 * link.delay_ms) <= max(1.0, 0.1 * link.delay_ms),
              "mbit": mbit, "rate_ok": mbit >= 0.9 * RATE / 1e6}
    log("link D=%d ms: ping median %.2f ms (2 x D = %d), bulk data %.1f Mbit/s of %d" % (
        link.delay_ms, rtt, 2 * link.delay_ms, mbit, RATE // 1000000))
    return result


def run_delay(delay_ms, servers, work, data, files, reps, pages):
    link = Link(work, delay_ms)
    started = []
    results = {}
    try:
        # The servers start through nsenter; their readiness is seen from
        # the phone.
        enter_namespace(link.phone.pid)
        for i, server in enumerate(servers):
            server.start(link, work, data, 8000 + i)
            started.append(server)
        check = check_link(link, files, servers[0].port)
        # One load of the first page from each, not counted: a program's
        # first answers (under Wine, its first calls) are slower than the rest.
        first = next(p[2] for p in PAGES if p[0] == pages[0])
        for server in servers:
            browser_load(server.port, first, files)
        for rep in range(reps):
            order = [(p, s) for p in pages for s in servers]
            random.shuffle(order)
            for page, server in order:
                path = next(p[2] for p in PAGES if p[0] == page)
                queued = QueuedBytes(link.server.pid)
                try:
                    seconds, got = browser_load(server.port, path, files)
                finally:
                    peak = queued.stop()
                r = results.setdefault((server.key, page), {"times": [], "peak": 0, "bytes": got})
                r["times"].append(seconds)
                r["peak"] = max(r["peak"], peak)
                log("D=%-2d rep %d %-8s %-34s %6.3f s  %d bytes, peak queued %d" % (
                    delay_ms, rep + 1, page, server.title, seconds, got, peak))
    finally:
        enter_namespace()
        stop_servers(started)
        link.close()
        log(link.counts().strip())
    return check, results


def firefox_on_link(servers, work, data, delay_ms, loads):
    """Whole loads of the gallery in a headless Firefox in the phone's
    namespace, a fresh profile each; the load event's time."""
    firefox = shutil.which("firefox-esr") or shutil.which("firefox")
    if not firefox:
        log("no firefox-esr: the Firefox load is left out")
        return None
    link = Link(work, delay_ms)
    times = {}
    collector = None
    try:
        enter_namespace(link.phone.pid)
        for i, server in enumerate(servers):
            server.start(link, work, data, 8100 + i)
        collector = ff.Collector()
        for n in range(loads):
            for server in servers:
                tag = "%s-%d" % (server.key, n)
                got = ff.firefox_load(firefox, "http://%s:%d/gallery.html" % (SERVER, server.port), tag,
                                      collector, work)
                times.setdefault(server.key, []).append(got[0] if got else None)
                log("Firefox D=%d load %d %-34s %s" % (delay_ms, n + 1, server.title,
                                                      "%.2f s" % got[0] if got else "no load event"))
    finally:
        if collector:
            collector.close()
        enter_namespace()
        stop_servers(servers)
        link.close()
    return times


def report(servers, checks, results, delays, pages, reps, firefox, took):
    bb = servers[0].key
    lines = ["Page load over the link, seconds: median of %d loads (ratio to busybox httpd's median)." % reps, ""]
    head = "| page | server | " + " | ".join("D = %d ms" % d for d in delays) + " |"
    lines += [head, "|---|---|" + "---:|" * len(delays)]
    goals = []
    for key, title, _, _, _ in PAGES:
        if key not in pages:
            continue
        for server in servers:
            cells = []
            for d in delays:
                r = results[d].get((server.key, key))
                base = results[d].get((bb, key))
                if not r:
                    cells.append("–")
                    continue
                m = statistics.median(r["times"])
                ratio = m / statistics.median(base["times"])
                cells.append("%.2f" % m if server.key == bb else "%.2f (%.2f)" % (m, ratio))
                if server.key != bb and server.key in ("harborlight", "wine") and d in GOAL_DELAYS and key in GOALS:
                    goals.append((ratio <= GOALS[key], "%s, %s, D = %d ms: %.2f of busybox's (goal %.2f or less)"
                                  % (server.title, title, d, ratio, GOALS[key])))
            lines.append("| %s | %s | %s |" % (title, server.title, " | ".join(cells)))
    lines += ["", "Peak bytes queued in the server's kernel for its connections (the sum of their send "
              "queues, sampled every 5 ms), the largest over the loads:", ""]
    lines += ["| page, D | " + " | ".join(s.title for s in servers) + " |", "|---|" + "---:|" * len(servers)]
    for key, title, _, _, _ in PAGES:
        if key not in pages:
            continue
        for d in delays:
            cells = ["%.2f MB" % (results[d][(s.key, key)]["peak"] / 1e6) if (s.key, key) in results[d]
                     else "–" for s in servers]
            lines.append("| %s, %d ms | %s |" % (title, d, " | ".join(cells)))
    lines += ["", "The link itself:", ""]
    for d in delays:
        c = checks[d]
        lines.append("- D = %d ms: ping's round trip %.2f ms (2 x D = %d ms) %s; a bulk transfer's data after "
                     "its first quarter %.1f Mbit/s of %d (TCP/IP headers take 3.5 %%) %s" % (d, c["rtt"], 2 * d, "yes" if c["rtt_ok"] else "NO",
                                               c["mbit"], RATE // 1000000, "yes" if c["rate_ok"] else "NO"))
    lines += ["", "Goals:"]
    lines += ["- %s %s" % ("yes:" if ok else "NO: ", text) for ok, text in goals]
    lines.append("- yes: every byte of every answer received and checked against its file "
                 "(a load that was not would have ended the run)")
    if firefox:
        lines += ["", "Whole loads of the gallery in Firefox (headless, a fresh profile each) at D = %d ms, "
                  "load event, s:" % firefox[0], ""]
        lines += ["| server | loads |", "|---|---|"]
        for server in [s for s in servers if s.key in firefox[1]]:
            t = firefox[1][server.key]
            lines.append("| %s | %s |" % (server.title, " ".join("%.2f" % v if v else "none" for v in t)))
    load = open("/proc/loadavg").read().split()[:3]
    commit = subprocess.run(["git", "-C", ROOT, "rev-parse", "--short", "HEAD"], capture_output=True,
                            text=True).stdout.strip()
    lines += ["", "%d loads of each page from each server at each delay, interleaved; %d Mbit/s, a drop-tail "
              "queue of %d bytes; %s cores, load average %s at the end; commit %s. The run took %d s." % (
                  reps, RATE // 1000000, QUEUE, os.cpu_count(), " ".join(load), commit, took)]
    return "\n".join(lines), all(ok for ok, _ in goals)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--delays", default="5,10,20", help="milliseconds each way (default 5,10,20)")
    parser.add_argument("--reps", type=int, default=5, help="loads of each page per server (default 5)")
    parser.add_argument("--pages", default="gallery,photos,large", help="of gallery,photos,large,camera")
    parser.add_argument("--skip", default="", help="comma-separated: wine,stock,firefox")
    parser.add_argument("--also", action="append", default=[], metavar="NAME=PATH",
                        help="another harborlight-serve build to load from as well")
    parser.add_argument("--also-wine", action="append", default=[], metavar="NAME=PATH")
    parser.add_argument("--fixed", action="append", default=[], type=int, metavar="BYTES",
                        help="harborlight-serve with SO_SNDBUF fixed at BYTES on every connection, beside its rule")
    parser.add_argument("--firefox-loads", type=int, default=3)
    parser.add_argument("--write", action="store_true", help="put the results in docs/performance.md")
    args = parser.parse_args()
    delays = [int(d) for d in args.delays.split(",")]
    pages = args.pages.split(",")
    skip = set(filter(None, args.skip.split(",")))
    reps = max(1, min(args.reps, 20))

    work = os.path.join(ROOT, "build", "link")
    os.makedirs(work, exist_ok=True)
    for source, target, extra in (("delayline.c", "delayline", []),
                                  ("stockcap.c", "stockcap.so", ["-shared", "-fPIC", "-ldl"])):
        subprocess.run(["cc", "-O2", "-Wall", "-o", os.path.join(work, target),
                        os.path.join(ROOT, "bench", source)] + extra, check=True)
    data, files = make_site(work, pages)
    serve = os.path.join(ROOT, "build", "native", "harborlight-serve")
    exe = os.path.join(ROOT, "build", "windows", "harborlight-serve.exe")
    servers = [Server("busybox", "busybox httpd", "busybox"),
               Server("harborlight", "Harborlight", "native", serve)]
    if "stock" not in skip:
        servers.append(Server("stock", "Harborlight, wmem_max %d" % STOCK_WMEM_MAX, "native", serve, True))
    for i, also in enumerate(args.also):
        name, _, path = also.partition("=")
        servers.append(Server("also%d" % i, name, "native", os.path.abspath(path)))
    for bytes_ in args.fixed:
        servers.append(Server("fixed%d" % bytes_, "Harborlight, SO_SNDBUF fixed at %d" % bytes_, "native", serve,
                              fixed=bytes_))
    if "wine" not in skip and shutil.which("wine") and os.path.exists(exe):
        servers.append(Server("wine", "Harborlight under Wine", "wine", exe))
        for i, also in enumerate(args.also_wine):
            name, _, path = also.partition("=")
            servers.append(Server("alsowine%d" % i, name, "wine", os.path.abspath(path)))

    began = time.monotonic()
    checks, results = {}, {}
    try:
        for d in delays:
            checks[d], results[d] = run_delay(d, servers, work, data, files, reps, pages)
        firefox = None
        if "firefox" not in skip:
            d = 20 if 20 in delays else delays[-1]
            ffs = [s for s in servers if s.key in ("busybox", "harborlight", "wine")]
            times = firefox_on_link(ffs, work, data, d, args.firefox_loads)
            firefox = (d, times) if times else None
    except LoadError as e:
        log("link benchmark failed: %s" % e)
        return 1
    text, met = report(servers, checks, results, delays, pages, reps, firefox, time.monotonic() - began)
    log("\n" + text)
    if args.write:
        write_marked_block(os.path.join(ROOT, "docs", "performance.md"), "link", text)
        log("wrote docs/performance.md")
    return 0 if met else 3


if __name__ == "__main__":
    sys.exit(main())
