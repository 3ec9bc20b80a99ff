#!/usr/bin/env python3
"""Whole page loads in a real Firefox: harborlight-serve against busybox httpd.

Runs inside a private network namespace that bench/firefox.sh made (loopback
only). A page with 30 images, a style sheet and a script is served by each
server in turn, interleaved; every load starts a headless Firefox with a
fresh, empty profile, while six busy loops keep the two cores busy. The
page's own script reports its load event (navigation timing) to a small
collector on another port; then that Firefox is ended. Every load is bounded
in time, and every process started here is ended by its own id.
"""
import argparse
import http.server
import os
import queue
import re
import shutil
import signal
import statistics
import struct
import subprocess
import sys
import tempfile
import threading
import time
import zlib

from harborbench import ADDRESS
from harborbench.page import write_marked_block
from harborbench.servers import wait_for_port

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
COLLECTOR_PORT = 18990
IMAGES = 30
BUSY_LOOPS = 6
LOAD_LIMIT = 60  # seconds any one load may take, Firefox's start included

# No traffic of Firefox's own: no updates, telemetry, safe browsing lists,
# remote settings, captive portal or connectivity checks, first-run pages.
# The namespace has no route out anyway; this keeps Firefox from waiting on it.
USER_JS = """\
user_pref("app.update.enabled", false);
user_pref("app.update.auto", false);
user_pref("app.update.service.enabled", false);
user_pref("app.normandy.enabled", false);
user_pref("app.shield.optoutstudies.enabled", false);
user_pref("browser.aboutwelcome.enabled", false);
user_pref("browser.shell.checkDefaultBrowser", false);
user_pref("browser.startup.homepage_override.mstone", "ignore");
user_pref("browser.startup.firstrunSkipsHomepage", true);
user_pref("startup.homepage_welcome_url", "");
user_pref("startup.homepage_welcome_url.additional", "");
user_pref("browser.newtabpage.enabled", false);
user_pref("browser.newtabpage.activity-stream.feeds.telemetry", false);
user_pref("browser.newtabpage.activity-stream.telemetry", false);
user_pref("browser.newtabpage.activity-stream.feeds.section.topstories", false);
user_pref("browser.newtabpage.activity-stream.feeds.topsites", false);
user_pref("browser.ping-centre.telemetry", false);
user_pref("browser.region.update.enabled", false);
user_pref("browser.region.network.url", "");
user_pref("browser.safebrowsing.malware.enabled", false);
user_pref("browser.safebrowsing.phishing.enabled", false);
user_pref("browser.safebrowsing.downloads.enabled", false);
user_pref("browser.safebrowsing.downloads.remote.enabled", false);
user_pref("browser.safebrowsing.blockedURIs.enabled", false);
user_pref("browser.safebrowsing.provider.google4.updateURL", "");
user_pref("browser.safebrowsing.provider.google.updateURL", "");
user_pref("browser.search.update", false);
user_pref("browser.topsites.contile.enabled", false);
user_pref("datareporting.healthreport.uploadEnabled", false);
user_pref("datareporting.policy.dataSubmissionEnabled", false);
user_pref("extensions.update.enabled", false);
user_pref("extensions.getAddons.cache.enabled", false);
user_pref("extensions.systemAddon.update.enabled", false);
user_pref("geo.provider.network.url", "");
user_pref("media.gmp-manager.url", "");
user_pref("media.gmp-gmpopenh264.enabled", false);
user_pref("network.captive-portal-service.enabled", false);
user_pref("network.connectivity-service.enabled", false);
user_pref("network.trr.mode", 5);
user_pref("services.settings.server", "http://127.0.0.1:9/");
user_pref("toolkit.telemetry.enabled", false);
user_pref("toolkit.telemetry.unified", false);
user_pref("toolkit.telemetry.archive.enabled", false);
user_pref("toolkit.telemetry.server", "");
"""

PAGE = """<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>Thirty photographs</title>
<link rel="stylesheet" href="style.css">
<script src="script.js"></script>
</head><body>
<h1>Thirty photographs</h1>
%s
</body></html>
"""

STYLE = """body { font-family: sans-serif; margin: 1em; background: #f4f4f0; }
h1 { font-size: 1.4em; }
img { width: 96px; height: 96px; margin: 4px; border: 1px solid #888; }
"""

# The load event's time from navigation start, sent to the collector; the
# fragment names the load, so a report can never be taken for another's.
SCRIPT = """addEventListener("load", function () {
  setTimeout(function () {
    var n = performance.getEntriesByType("navigation")[0];
    var t = n ? n.loadEventStart : performance.timing.loadEventStart - performance.timing.navigationStart;
    new Image().src = "http://127.0.0.1:%d/loaded/" + Math.round(t) + "/" + location.hash.slice(1);
  }, 0);
});
""" % COLLECTOR_PORT


def log(text):
    print(text, flush=True)


def png(width, height, seed):
    """A valid PNG of noise, so that it compresses as little as a photograph."""
    rows = bytearray()
    state = seed * 2654435761 & 0xFFFFFFFF
    for _ in range(height):
        rows.append(0)
        for _ in range(width * 3):
            state = (state * 1103515245 + 12345) & 0xFFFFFFFF
            rows.append(state >> 16 & 0xFF)

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data
                + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(bytes(rows), 6)) + chunk(b"IEND", b""))


def make_site(work):
    data = os.path.join(work, "DATA")
    shutil.rmtree(data, ignore_errors=True)
    os.makedirs(data)
    images = "\n".join('<img src="photo%02d.png" alt="photo %d">' % (i, i) for i in range(1, IMAGES + 1))
    with open(os.path.join(data, "index.html"), "w") as f:
        f.write(PAGE % images)
    with open(os.path.join(data, "style.css"), "w") as f:
        f.write(STYLE)
    with open(os.path.join(data, "script.js"), "w") as f:
        f.write(SCRIPT)
    for i in range(1, IMAGES + 1):
        with open(os.path.join(data, "photo%02d.png" % i), "wb") as f:
            f.write(png(120, 120, i))
    return data


# ---------------------------------------------------------------- collector

class Collector:
    """Takes the page's reports: GET /loaded/MILLISECONDS/TAG."""

    def __init__(self):
        self.reports = queue.Queue()
        reports = self.reports

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                m = re.match(r"^/loaded/(\d+)/(\S+)$", self.path)
                if m:
                    reports.put((m.group(2), int(m.group(1)), time.monotonic()))
                self.send_response(204)
                self.end_headers()

            def log_message(self, *args):
                pass

        self.server = http.server.ThreadingHTTPServer((ADDRESS, COLLECTOR_PORT), Handler)
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()

    def wait_for(self, tag, deadline):
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                return None
            try:
                got, ms, when = self.reports.get(timeout=left)
            except queue.Empty:
                return None
            if got == tag:
                return ms, when

    def close(self):
        self.server.shutdown()
        self.server.server_close()


# ---------------------------------------------------------------- servers

def start_server(kind, path, work, data, port):
    if kind == "busybox":
        argv = ["busybox", "httpd", "-f", "-p", "%s:%d" % (ADDRESS, port), "-h", data]
        cwd = data
    else:
        cwd = os.path.join(work, "site-%d" % port)
        os.makedirs(cwd, exist_ok=True)
        if not os.path.islink(os.path.join(cwd, "DATA")):
            os.symlink(data, os.path.join(cwd, "DATA"))
        argv = [path, "--port", str(port)]
    proc = subprocess.Popen(argv, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    wait_for_port(port, 10)
    return proc


def end(proc, group=False):
    """Ends a process started here (with its process group, for Firefox and
    its content processes, which are in a group of the same id)."""
    if proc.poll() is None:
        try:
            if group:
                os.killpg(proc.pid, signal.SIGTERM)
            else:
                proc.send_signal(signal.SIGTERM)
        except ProcessLookupError:
            pass
    try:
        proc.wait(timeout=10)
    except subprocess.TimeoutExpired:
        if group:
            os.killpg(proc.pid, signal.SIGKILL)
        else:
            proc.kill()
        proc.wait(timeout=10)
    if group:
        # Content processes outlive the parent for a moment; the group is ours.
        try:
            os.killpg(proc.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass


# ---------------------------------------------------------------- loads

def firefox_load(firefox, url, tag, collector, work):
    """One load in a fresh profile: (load event in ms, seconds from Firefox's
    start to the report), or None when no report came within LOAD_LIMIT."""
    home = tempfile.mkdtemp(prefix="home-", dir=work)
    profile = os.path.join(home, "profile")
    os.makedirs(profile)
    with open(os.path.join(profile, "user.js"), "w") as f:
        f.write(USER_JS)
    env = dict(os.environ, HOME=home, MOZ_HEADLESS="1", XDG_RUNTIME_DIR=home,
               MOZ_CRASHREPORTER_DISABLE="1")
    env.pop("DISPLAY", None)
    began = time.monotonic()
    proc = subprocess.Popen([firefox, "--headless", "--no-remote", "-profile", profile, url + "#" + tag],
                            env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                            start_new_session=True)
    try:
        got = collector.wait_for(tag, began + LOAD_LIMIT)
    finally:
        end(proc, group=True)
        shutil.rmtree(home, ignore_errors=True)
    if got is None:
        return None
    ms, when = got
    return ms / 1000, when - began


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--loads", type=int, default=7, help="loads per server (default 7)")
    parser.add_argument("--also", action="append", default=[], metavar="NAME=PATH",
                        help="another harborlight-serve build to load from as well")
    parser.add_argument("--busy", type=int, default=BUSY_LOOPS, help="busy loops beside it (default 6)")
    parser.add_argument("--write", action="store_true", help="put the results in docs/performance.md")
    args = parser.parse_args()
    args.loads = max(1, min(args.loads, 30))

    firefox = shutil.which("firefox-esr") or shutil.which("firefox")
    if not firefox:
        log("no firefox-esr")
        return 1
    work = os.path.join(ROOT, "build", "firefox")
    os.makedirs(work, exist_ok=True)
    data = make_site(work)
    servers = [("Harborlight", "harborlight", os.path.join(ROOT, "build", "native", "harborlight-serve")),
               ("busybox httpd", "busybox", None)]
    for also in args.also:
        name, _, path = also.partition("=")
        servers.append((name, "harborlight", os.path.abspath(path)))

    collector = Collector()
    procs, busy = [], []
    times = {name: [] for name, _, _ in servers}
    failures = []
    began = time.monotonic()
    try:
        for i, (name, kind, path) in enumerate(servers):
            procs.append(start_server(kind, path, work, data, 18900 + i))
        # One warm-up load, not counted: the first Firefox start reads its
        # files from disk.
        firefox_load(firefox, "http://%s:%d/" % (ADDRESS, 18901), "warm", collector, work)
        for _ in range(args.busy):
            busy.append(subprocess.Popen(["sh", "-c", "while :; do :; done"]))
        for n in range(args.loads):
            order = list(range(len(servers)))
            order = order[n % len(order):] + order[:n % len(order)]
            for i in order:
                name = servers[i][0]
                tag = "%s-%d" % (servers[i][1], n) + ("-%d" % i)
                got = firefox_load(firefox, "http://%s:%d/" % (ADDRESS, 18900 + i), tag, collector, work)
                if got is None:
                    failures.append("%s, load %d: no load event within %d s" % (name, n + 1, LOAD_LIMIT))
                    log("load %d %-22s no load event within %d s" % (n + 1, name, LOAD_LIMIT))
                else:
                    times[name].append(got[0])
                    log("load %d %-22s load event at %.2f s (%.1f s with Firefox's start)" % (
                        n + 1, name, got[0], got[1]))
    finally:
        for proc in busy:
            end(proc)
        for proc in procs:
            end(proc)
        collector.close()

    text = report(servers, times, failures, args, time.monotonic() - began, firefox)
    log("\n" + text)
    if args.write:
        write_docs(text)
    return 0 if not failures else 3


def report(servers, times, failures, args, took, firefox):
    lines = ["| Whole page load in Firefox, load event, s | loads | median | slowest | all |",
             "|---|---:|---:|---:|---|"]
    for name, _, _ in servers:
        t = times[name]
        lines.append("| %s | %d | %s | %s | %s |" % (
            name, len(t), "%.2f" % statistics.median(t) if t else "–", "%.2f" % max(t) if t else "–",
            " ".join("%.2f" % v for v in t)))
    out = ["\n".join(lines), ""]
    hl, bb = times.get("Harborlight"), times.get("busybox httpd")
    if hl and bb:
        ratio = statistics.median(hl) / statistics.median(bb)
        out.append("Goals:")
        out.append("- %s Harborlight's median %.2f s is %.2f times busybox httpd's %.2f s (goal 1.35 or less)" % (
            "yes:" if ratio <= 1.35 else "NO: ", statistics.median(hl), ratio, statistics.median(bb)))
        gap = max(hl) - max(bb)
        out.append("- %s Harborlight's slowest %.2f s, busybox httpd's %.2f s: %+.2f s (goal 1.5 s or less)" % (
            "yes:" if gap <= 1.5 else "NO: ", max(hl), max(bb), gap))
    if failures:
        out += ["", "Failures:"] + ["- " + f for f in failures]
    version = subprocess.run([firefox, "--version"], capture_output=True, text=True,
                             env=dict(os.environ, HOME=tempfile.gettempdir())).stdout.strip()
    load = open("/proc/loadavg").read().split()[:3]
    commit = subprocess.run(["git", "-C", ROOT, "rev-parse", "--short", "HEAD"], capture_output=True,
                            text=True).stdout.strip()
    out += ["", "%d loads each, interleaved, a fresh profile each; %d busy loops beside them; %s; %s cores, "
            "load average %s at the end; commit %s. The run took %d s." % (
                args.loads, args.busy, version, os.cpu_count(), " ".join(load), commit, took)]
    return "\n".join(out)


def write_docs(text):
    write_marked_block(os.path.join(ROOT, "docs", "performance.md"), "firefox", text)
    log("wrote docs/performance.md")


if __name__ == "__main__":
    sys.exit(main())
