#!/usr/bin/env python3
"""A storm of clients of every kind at once against a running harborlight-serve.

Usage: storm.py HOST PORT DATA SECONDS WORKERS SEED

Writes its own files into DATA (the server's DATA folder), then runs WORKERS
client threads for SECONDS: good requests, late requests, silent connections,
resets, garbage, oversized requests, dribbled requests, half-closes, stalled
and slow readers, and bursts of connections, all at once. Every answer read
to its close is compared byte for byte with the one the server must send; a
request that was sent whole and got nothing, a reset or a short answer is
lost. Where nothing is due (garbage, a silent connection, a close alone),
"answered" counts nothing got and a plain close; resets are only sent, to
see the server go on. Prints one line per kind (sent, answered, lost, wrong
and what else happened) and exits 1 on any lost or wrong answer, naming the
first faults.

Bounded: no client starts after SECONDS, every socket call has a time-out,
the whole run ends by SECONDS + MARGIN, and at most WORKERS + one burst's
sockets are open at once.
"""
import os
import random
import selectors
import socket
import struct
import sys
import threading
import time

RECEIVE_LIMIT = 1500      # the server's one receive
SILENT_LIMIT = 10.0       # a connection silent this long from its accept may be closed
WAITING_PLACES = 32       # silent connections the server keeps aside
GRACE = 1.0               # silence after which a full set may close its oldest
CALL_TIMEOUT = 30.0       # the longest any one socket call waits
MARGIN = 45.0             # the run's hard end lies this far beyond SECONDS
SILENT_AT_ONCE = 14       # silent and late clients open at once
LONG_HOLDERS = 1          # clients that hold the server for seconds, at once
BURST_SIZES = (40, 60)

NOT_FOUND = (b"HTTP/1.0 200 OK\nContent-Type: text/html\nContent-Length: 78\n\n"
             b"<HTML><HEAD><TITLE>\x83\x47\x83\x89\x81\x5b</TITLE></HEAD>"
             b"<BODY><H1>Not found</H1></BODY></HTML>")
TYPES = ((b".htm", b"text/html\n"), (b".HTM", b"text/html\n"), (b".jpg", b"image/jpeg\n"),
         (b".JPG", b"image/jpeg\n"), (b".gif", b"image/gif\n"), (b".GIF", b"image/gif\n"),
         (b".png", b"image/png\n"), (b".PNG", b"image/png\n"))
BIG = b"big.bin"


def header(name, size):
    """The header the server sends for DATA/name of `size` bytes."""
    full = b"DATA/" + name
    kind = next((t for marker, t in TYPES if marker in full), b"text/plain\n")
    return b"HTTP/1.0 200 OK\nContent-Type: " + kind + b"Content-Length: %d\n\n" % size


def boundary_size(total):
    """The size of a text file whose answer is `total` bytes long."""
    size = total - len(header(b"x.txt", 0))
    while size + len(header(b"x.txt", size)) > total:
        size -= 1
    return size


def write_files(data, rng):
    """The storm's files, written into DATA; name -> content."""
    page = b"<html><head><title>Storm</title></head><body>\r\n%s</body></html>\r\n"
    files = {
        b"index.html": page % (b"<p>index</p>\r\n" * 200),
        b"page.html": page % (b"<p>a page of the storm</p>\r\n" * 400),
        b"tiny.txt": b"ok\n",
        b"empty.txt": b"",
        b"photo.JPG": rng.randbytes(30000),
        b"pic.png": rng.randbytes(3000),
        b"mid.gif": rng.randbytes(100 * 1024),
        BIG: rng.randbytes(4 * 1024 * 1024),
    }
    # Answers that end just before, at and after a send of 1024 bytes, and
    # at two sends.
    for total in (1023, 1024, 1025, 2048):
        size = boundary_size(total)
        files[b"b%d.txt" % size] = rng.randbytes(size)
    os.makedirs(data, exist_ok=True)
    for name, body in files.items():
        with open(os.path.join(data, name.decode()), "wb") as f:
            f.write(body)
    return files


class Storm:
    def __init__(self, host, port, files, seconds, seed):
        self.address = (host, port)
        self.files = files
        self.begin = time.monotonic()
        self.end = self.begin + seconds
        self.hard_end = self.end + MARGIN
        self.seed = seed
        self.lock = threading.Lock()
        self.stats = {}
        self.faults = []
        self.open = 0          # the storm's sockets open now
        self.crowds = 0        # bumped each time WAITING_PLACES or more are open
        self.silent_slots = threading.BoundedSemaphore(SILENT_AT_ONCE)
        self.holder_slots = threading.BoundedSemaphore(LONG_HOLDERS)
        self.stall_slots = threading.BoundedSemaphore(2)
        self.burst_slot = threading.BoundedSemaphore(1)
        small = [n for n in files if n != BIG]
        self.paths = small + [b"", b"missing.txt", b"nope/../tiny.txt", b"tiny.txt?v=2", b"AUX",
                              b"sub/", b"x" * 1200]

    # ------------------------------------------------------------ answers

    def expected(self, request):
        """What the server sends for a request of which it received `request`:
        the text up to its first zero byte must hold "GET /"; the path runs
        from the first '/' to the first blank; an empty path is index.html."""
        text = request[:RECEIVE_LIMIT].split(b"\0", 1)[0]
        if b"GET /" not in text:
            return b""
        path = text[text.index(b"/") + 1:].split(b" ", 1)[0]
        name = path or b"index.html"
        # Every other name the storm asks for names no file, or one that is
        # refused (outside DATA, a device, too long): the not-found page.
        body = self.files.get(name)
        if body is None:
            return NOT_FOUND
        return header(name, len(body)) + body

    def request(self, rng, path):
        form = rng.randrange(4)
        if form == 0:
            return b"GET /" + path + b" HTTP/1.0\r\n\r\n"
        if form == 1:
            return (b"GET /" + path + b" HTTP/1.1\r\nHost: storm\r\nUser-Agent: storm\r\n"
                    b"Accept: */*\r\n\r\n")
        if form == 2:
            return b"GET /" + path + b" HTTP/1.0\n\n"
        return b"GET /" + path + b"\r\n\r\n"  # no version: the path runs on

    # ------------------------------------------------------------ records

    def count(self, kind, what, n=1):
        with self.lock:
            row = self.stats.setdefault(kind, {})
            row[what] = row.get(what, 0) + n

    def fault(self, kind, what, path, got, how, detail=""):
        self.count(kind, what)
        with self.lock:
            self.faults.append("%s %s: /%s got %d bytes (%s)%s %r" % (
                kind, what, path.decode("latin-1")[:40], len(got), how,
                " " + detail if detail else "", got[:60]))

    def judge(self, kind, path, got, how, expected, excused=False):
        """An answer read to its end: exactly right, lost or wrong. `excused`:
        the connection may have been closed while silent (see late)."""
        if how == "eof" and got == expected:
            self.count(kind, "answered")
        elif excused and not got and how in ("eof", "reset"):
            self.count(kind, "closed silent")
        elif expected.startswith(got):
            self.fault(kind, "lost", path, got, how, "of %d" % len(expected))
        else:
            self.fault(kind, "wrong", path, got, how, "of %d" % len(expected))

    # ------------------------------------------------------------ sockets

    def left(self):
        return self.hard_end - time.monotonic()

    def timeout(self, longest=CALL_TIMEOUT):
        return max(0.05, min(longest, self.left()))

    def connect(self, receive_buffer=0):
        s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        if receive_buffer:
            s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, receive_buffer)
        with self.lock:
            self.open += 1
            if self.open >= WAITING_PLACES:
                self.crowds += 1
            # Crowded already: marked as if the crowd came after.
            crowds = self.crowds - (self.open >= WAITING_PLACES)
        try:
            s.settimeout(self.timeout())
            s.connect(self.address)
        except OSError:
            self.close(s)
            raise
        return s, crowds

    def close(self, s, reset=False):
        if reset:
            s.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        s.close()
        with self.lock:
            self.open -= 1

    def crowded_since(self, crowds):
        """True when WAITING_PLACES or more of the storm's connections were
        open at some time since `crowds` was read: only then can the server's
        set of silent connections have been full."""
        with self.lock:
            return self.crowds != crowds or self.open >= WAITING_PLACES

    def read_to_close(self, s, got=b""):
        """Everything up to the server's close: (bytes, "eof"|"reset"|"timeout")."""
        parts = [got]
        while True:
            if self.left() <= 0:
                return b"".join(parts), "timeout"
            s.settimeout(self.timeout())
            try:
                chunk = s.recv(65536)
            except socket.timeout:
                return b"".join(parts), "timeout"
            except OSError:
                return b"".join(parts), "reset"
            if not chunk:
                return b"".join(parts), "eof"
            parts.append(chunk)

    def closed_meanwhile(self, s, wait):
        """Waits up to `wait` s for anything from the server: None when
        nothing came, else what came (b"" for a close or a reset)."""
        s.settimeout(max(0.01, min(wait, self.left())))
        try:
            return s.recv(4096, socket.MSG_PEEK)
        except (socket.timeout, BlockingIOError):
            return None
        except OSError:
            return b""

    def ask(self, kind, s, path, request, half_close=False):
        s.settimeout(self.timeout())
        s.sendall(request)
        if half_close:
            s.shutdown(socket.SHUT_WR)
        got, how = self.read_to_close(s)
        self.judge(kind, path, got, how, self.expected(request))

    def closed_silent(self, kind, path, silent_for, crowds):
        """The server closed a connection that had sent nothing: due after
        its 10 s, or after a second when the set of silent ones was full."""
        crowded = self.crowded_since(crowds)
        if silent_for >= SILENT_LIMIT:
            self.count(kind, "expired")
        elif silent_for >= GRACE and crowded:
            self.count(kind, "closed silent")
        else:
            self.fault(kind, "wrong", path, b"", "closed", "after %.1f s silent, %s" % (
                silent_for, "crowded" if crowded else "never crowded"))

    # ------------------------------------------------------------ kinds

    def good(self, rng):
        path = rng.choice(self.paths)
        s, _ = self.connect()
        try:
            self.ask("good", s, path, self.request(rng, path))
        finally:
            self.close(s)

    def late(self, rng):
        """Connects, waits 0.2 to 4 s, then asks: answered whatever else the
        server does meanwhile. Only when the server's set of silent
        connections was full may it close one silent for a second or more."""
        path = rng.choice(self.paths)
        wait = rng.uniform(0.2, 4.0)
        s, crowds = self.connect()
        try:
            opened = time.monotonic()
            came = self.closed_meanwhile(s, wait)
            silent_for = time.monotonic() - opened
            excused = silent_for >= GRACE and self.crowded_since(crowds)
            if came:
                self.fault("late", "wrong", path, came, "before its request")
                return
            if came == b"":
                self.closed_silent("late", path, silent_for, crowds)
                return
            request = self.request(rng, path)
            s.settimeout(self.timeout())
            try:
                s.sendall(request)
            except OSError:
                got, how = b"", "reset"
            else:
                sent = time.monotonic()
                got, how = self.read_to_close(s)
                # A close decided at a look that found it silent may cross
                # the request on its way, so it comes at once; one that comes
                # later was decided with the request there.
                excused = excused and time.monotonic() - sent < 2.0
            self.judge("late", path, got, how, self.expected(request), excused)
        finally:
            self.close(s)

    def silent(self, rng):
        """Sends nothing. Gets nothing, ever; closed by the server only after
        its 10 s, or when the set of silent connections was full."""
        long_hold = rng.random() < 0.3 and time.monotonic() + 13 < self.end
        hold = rng.uniform(10.5, 12.5) if long_hold else rng.uniform(0.5, 6.0)
        s, crowds = self.connect()
        try:
            opened = time.monotonic()
            came = self.closed_meanwhile(s, hold)
            silent_for = time.monotonic() - opened
            if came:
                self.fault("silent", "wrong", b"", came, "sent nothing")
            elif came == b"":
                self.closed_silent("silent", b"", silent_for, crowds)
            else:
                self.count("silent", "answered")
        finally:
            self.close(s)

    def reset(self, rng):
        """Connects, maybe sends some or all of a request, and resets."""
        path = rng.choice(self.paths)
        request = self.request(rng, path)
        s, _ = self.connect()
        try:
            part = rng.choice((0, rng.randrange(1, len(request)), len(request)))
            if part:
                s.settimeout(self.timeout())
                s.sendall(request[:part])
            time.sleep(rng.choice((0, 0, rng.uniform(0, 0.5))))
            self.count("reset", "answered")
        finally:
            self.close(s, reset=True)

    def garbage(self, rng):
        """No "GET /" before the first zero byte: no answer, a plain close."""
        variants = (b"\0GET /tiny.txt HTTP/1.0\r\n\r\n", b"get /tiny.txt HTTP/1.0\r\n\r\n",
                    b"HEAD / HTTP/1.0\r\n\r\n", b"POST /tiny.txt HTTP/1.0\r\n\r\n")
        if rng.random() < 0.3:
            request = rng.choice(variants)
        else:
            request = rng.randbytes(rng.choice((rng.randrange(1, 1400), rng.randrange(1500, 4000))))
            request = request.replace(b"GET /", b"GeT /")
        half_close = rng.random() < 0.5
        s, _ = self.connect()
        try:
            self.ask("garbage", s, request[:20], request, half_close)
        finally:
            self.close(s)

    def oversized(self, rng):
        """More than the one receive takes: answered for the path in its first
        bytes, in full, the rest of the request discarded."""
        path = rng.choice(self.paths[:12])
        request = (b"GET /" + path + b" HTTP/1.1\r\nHost: storm\r\nCookie: " +
                   b"c" * rng.randrange(1500, 8000) + b"\r\n\r\n")
        s, _ = self.connect()
        try:
            self.ask("oversized", s, path, request, rng.random() < 0.5)
        finally:
            self.close(s)

    def dribble(self, rng):
        """The request in pieces with pauses. The server answers what its one
        receive got: on loopback each piece is one send and arrives whole, so
        that receive holds the first k pieces for some k. The answer must be
        the one for one of those prefixes. No more pieces are sent once the
        server has answered or closed."""
        path = rng.choice(self.paths)
        request = self.request(rng, path)
        cuts = sorted(rng.sample(range(1, len(request)), min(len(request) - 1, rng.randint(1, 4))))
        pieces = [request[a:b] for a, b in zip([0] + cuts, cuts + [len(request)])]
        s, _ = self.connect()
        try:
            sent = 0
            for i, piece in enumerate(pieces):
                if i and self.closed_meanwhile(s, rng.uniform(0.02, 0.4)) is not None:
                    break
                s.settimeout(self.timeout())
                try:
                    s.sendall(piece)
                except OSError:
                    break
                sent += 1
            got, how = self.read_to_close(s)
            answers = {self.expected(b"".join(pieces[:k])) for k in range(1, sent + 1)}
            if how == "eof" and got in answers:
                self.count("dribble", "answered")
            elif any(a.startswith(got) for a in answers):
                self.fault("dribble", "lost", path, got, how, "%d pieces" % sent)
            else:
                self.fault("dribble", "wrong", path, got, how, "%d pieces" % sent)
        finally:
            self.close(s)

    def half_close(self, rng):
        """The request then the end of our side; or the end alone, which gets
        nothing."""
        path = rng.choice(self.paths)
        request = self.request(rng, path) if rng.random() < 0.8 else b""
        s, _ = self.connect()
        try:
            self.ask("half-close", s, path, request, half_close=True)
        finally:
            self.close(s)

    def stalled(self, rng, hold=False):
        """Asks for the big file, then stops reading for a while (beyond 10 s:
        the server may end the answer) or reads it slowly for up to 13 s (it
        never stops for 10 s, so the answer comes whole)."""
        if not self.stall_slots.acquire(blocking=hold):
            return self.good(rng)
        holder = False
        try:
            long_pause = hold or (rng.random() < 0.5 and time.monotonic() + 14 < self.end)
            holder = long_pause and self.holder_slots.acquire(blocking=hold)
            slow = holder and rng.random() < 0.5
            pause = rng.uniform(10.5, 12.0) if holder and not slow else rng.uniform(0.2, 4.0)
            request = b"GET /big.bin HTTP/1.0\r\n\r\n"
            expected = self.expected(request)
            s, _ = self.connect(receive_buffer=65536)
            try:
                s.settimeout(self.timeout())
                s.sendall(request)
                s.settimeout(self.timeout())
                try:
                    got = s.recv(65536)
                except OSError:
                    got = b""
                if slow:
                    # About as long as the pause would have been, in 50 ms steps.
                    step = max(4096, len(expected) * 50 // int(rng.uniform(3000, 13000)))
                    parts = [got]
                    while got and time.monotonic() < self.hard_end:
                        time.sleep(0.05)
                        s.settimeout(self.timeout())
                        try:
                            got = s.recv(step)
                        except OSError:
                            break
                        parts.append(got)
                    got, how = self.read_to_close(s, b"".join(parts))
                else:
                    time.sleep(pause)
                    got, how = self.read_to_close(s, got)
            finally:
                self.close(s)
            kind = "slow reader" if slow else "stalled 10s+" if holder else "stalled"
            if holder and not slow:
                # The server may have ended the answer: what came is its start.
                if not expected.startswith(got):
                    self.fault(kind, "wrong", BIG, got, how)
                elif got == expected and how == "eof":
                    self.count(kind, "answered")
                else:
                    self.count(kind, "cut")
            else:
                self.judge(kind, BIG, got, how, expected)
        finally:
            if holder:
                self.holder_slots.release()
            self.stall_slots.release()

    def burst(self, rng):
        """40 to 60 connections opened at once without blocking, each asking
        as soon as its connect completes: every one answered exactly."""
        if not self.burst_slot.acquire(blocking=False):
            return self.good(rng)
        try:
            self._burst(rng, rng.randint(*BURST_SIZES))
        finally:
            self.burst_slot.release()

    def _burst(self, rng, n):
        selector = selectors.DefaultSelector()
        state = {}
        for _ in range(n):
            s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
            s.setblocking(False)
            with self.lock:
                self.open += 1
                if self.open >= WAITING_PLACES:
                    self.crowds += 1
            s.connect_ex(self.address)
            path = rng.choice(self.paths[:12])
            state[s] = [path, self.request(rng, path), [], False]
            selector.register(s, selectors.EVENT_WRITE)
        deadline = min(time.monotonic() + 2 * CALL_TIMEOUT, self.hard_end)
        try:
            while state and time.monotonic() < deadline:
                for key, _ in selector.select(timeout=min(1.0, deadline - time.monotonic())):
                    s = key.fileobj
                    path, request, parts, asked = state[s]
                    how = None
                    if not asked:
                        error = s.getsockopt(socket.SOL_SOCKET, socket.SO_ERROR)
                        if error:
                            self.fault("burst", "lost", path, b"", "connect failed: %s" % os.strerror(error))
                            how = "failed"
                        else:
                            try:
                                s.send(request)  # a small request fits the empty buffer
                            except OSError:
                                how = "reset"
                            else:
                                state[s][3] = True
                                selector.modify(s, selectors.EVENT_READ)
                                continue
                    else:
                        try:
                            chunk = s.recv(65536)
                        except BlockingIOError:
                            continue
                        except OSError:
                            how = "reset"
                        else:
                            if chunk:
                                parts.append(chunk)
                                continue
                            how = "eof"
                    if how != "failed":
                        self.judge("burst", path, b"".join(parts), how, self.expected(request))
                    selector.unregister(s)
                    del state[s]
                    self.close(s)
            for s, (path, request, parts, asked) in state.items():
                self.judge("burst", path, b"".join(parts), "timeout", self.expected(request))
        finally:
            for s in list(state):
                selector.unregister(s)
                self.close(s)
            selector.close()

    # ------------------------------------------------------------ the run

    KINDS = (("good", 20), ("late", 10), ("silent", 7), ("reset", 6), ("garbage", 6),
             ("oversized", 6), ("dribble", 8), ("half_close", 6), ("stalled", 4), ("burst", 2))

    def worker(self, index):
        rng = random.Random(self.seed * 1000 + index)
        names = [k for k, _ in self.KINDS]
        weights = [w for _, w in self.KINDS]
        first = index < 2
        while time.monotonic() < self.end:
            kind = rng.choices(names, weights)[0]
            if first and index == 0:
                # One client holds the server for seconds early on, while the
                # others' connections wait aside: their requests come meanwhile.
                time.sleep(1.0)
                kind = "hold"
            elif first:
                kind = "burst"  # and one burst comes at once
            first = False
            slots = None
            if kind in ("silent", "late"):
                slots = self.silent_slots
                if not slots.acquire(blocking=False):
                    kind, slots = "good", None
            try:
                if kind == "hold":
                    self.stalled(rng, hold=True)
                else:
                    getattr(self, kind)(rng)
            except OSError as e:
                # A connect or send that failed: the server is not taking
                # connections as it should.
                self.fault(kind, "lost", b"", b"", "error", repr(e))
            except Exception as e:  # a fault of the storm itself
                self.fault(kind, "wrong", b"", b"", "storm error", repr(e))
            finally:
                if slots:
                    slots.release()

    def report(self, seconds, workers):
        order = ("good", "late", "silent", "reset", "garbage", "oversized", "dribble",
                 "half-close", "stalled", "stalled 10s+", "slow reader", "burst")
        total = {"lost": 0, "wrong": 0}
        print("storm: %d s, %d workers, seed %d, %s:%d" % (seconds, workers, self.seed, *self.address))
        for kind in order + tuple(k for k in self.stats if k not in order):
            row = self.stats.get(kind)
            if row is None:
                continue
            done = sum(row.values())
            extra = "".join(", %s %d" % (k, v) for k, v in sorted(row.items())
                            if k not in ("answered", "lost", "wrong"))
            print("storm %-14s sent %5d, answered %5d, lost %d, wrong %d%s" % (
                kind + ":", done, row.get("answered", 0), row.get("lost", 0), row.get("wrong", 0), extra))
            total["lost"] += row.get("lost", 0)
            total["wrong"] += row.get("wrong", 0)
        for line in self.faults[:12]:
            print("  fault: " + line)
        if len(self.faults) > 12:
            print("  ... and %d more" % (len(self.faults) - 12))
        return total["lost"] + total["wrong"]


def main(argv):
    if len(argv) != 7:
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    host, port, data, seconds, workers, seed = argv[1], int(argv[2]), argv[3], \
        float(argv[4]), int(argv[5]), int(argv[6])
    files = write_files(data, random.Random(seed))
    storm = Storm(host, port, files, seconds, seed)
    threads = [threading.Thread(target=storm.worker, args=(i,), daemon=True) for i in range(workers)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(max(0.0, storm.hard_end - time.monotonic()))
    faults = storm.report(seconds, workers)
    running = sum(t.is_alive() for t in threads)
    if running:
        print("storm: %d clients still running at the hard end" % running)
        faults += running
    took = time.monotonic() - storm.begin
    print("storm: %s in %.1f s" % ("FAILED" if faults else "passed", took))
    sys.stdout.flush()
    os._exit(1 if faults else 0)


if __name__ == "__main__":
    main(sys.argv)
