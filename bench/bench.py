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

The rooms are in harborbench/: plan (what is measured), servers, lines (the
request lines counted), load, repetitions, phases (idle, memory, fresh
starts, soak), tables, goals (a table of rows), chart and page. This file
runs them in order.
"""
import argparse
import json
import os
import shutil
import subprocess
import sys
import time

from harborbench import ADDRESS, ROOT, BenchError, log
from harborbench.goals import check_goals
from harborbench.page import describe_environment, page_text, write_page
from harborbench.phases import fresh_runs, measure_idle, memory_phase, soak
from harborbench.plan import FRESH_RUNS, TESTS
from harborbench.repetitions import make_data, run_rounds
from harborbench.servers import OUTPUT_DIR, make_servers
from harborbench.tables import report


def session(args):
    """Builds the floors, writes the files and the test page, starts every
    server, runs the repetitions and then the phases, and ends every server it
    started. Returns the servers that ran, the results and the failures."""
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
    table, wine_text, summary = report(servers, results)
    checks = check_goals(servers, results, failures, summary)
    with open(os.path.join(ROOT, "build", "bench", "results.json"), "w") as f:
        json.dump({"servers": [[s.key, s.title] for s in servers], "results": results,
                   "failures": failures, "environment": env}, f, indent=1)
    body = page_text(args, table, checks, wine_text, failures, env, time.monotonic() - began)
    log("\n" + body)
    if not args.no_write:
        write_page(body, servers, summary, args)
    return 0 if not failures else 3


if __name__ == "__main__":
    sys.exit(main())
