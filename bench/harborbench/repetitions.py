"""The repetitions: the files they fetch, one measurement of one server, and
the interleaved repetitions of every measurement for every server, in an
order shuffled anew for each (the same shuffles in every run), so that a noisy
moment on a shared machine hits all servers alike."""
import os
import random
import shutil
import time

from . import ADDRESS, BenchError, log
from .load import browser_case, counted_ab, curl_seconds
from .plan import (BLOCKING_FLOORS, BROWSER_FILE_SIZE, BROWSER_FILES, COUNTS, MEASUREMENTS, QUIET_OF,
                   QUIET_TESTS, TESTS, TIME_CAP)


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
                if s.key in QUIET_OF and key not in QUIET_TESTS[s.key]:
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
