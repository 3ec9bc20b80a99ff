"""The load, from LOAD_CORE: ab (HTTP/1.0 without keep-alive), curl for the
100 MiB file, and the browser-like case. Every run is bounded in requests
and in seconds, and refuses any failure."""
import csv
import os
import re
import socket
import subprocess
import time

from . import ADDRESS, LOAD_CORE, BenchError
from .plan import BROWSER_FILE_SIZE, BROWSER_FILES, BROWSER_LIMIT, BROWSER_SILENT


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

