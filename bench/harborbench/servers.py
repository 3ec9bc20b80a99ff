"""The servers: how each is started, when it is ready, and how it ends, by
its own process id. Every server runs on SERVER_CORE; one that prints a
banner writes its standard output to a file of its own."""
import itertools
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import time

from . import ADDRESS, ROOT, SERVER_CORE, BenchError
from .lines import RequestLines

OUTPUT_DIR = os.path.join(ROOT, "build", "bench", "output")
_output_numbers = itertools.count(1)


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
        self.option = None     # "--also" or "--also-wine": another build, measured beside this one
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


def wait_for_port(port, seconds):
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
        servers[-1].option = "--also-wine" if wine else "--also"
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


