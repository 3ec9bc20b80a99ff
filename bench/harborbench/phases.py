"""The phases after the repetitions: idle wake-ups, resident memory, fresh
starts under Wine, and the engine's start/serve/stop soak."""
import os
import re
import shutil
import subprocess
import time

from . import ADDRESS, LOAD_CORE, ROOT, BenchError, log
from .lines import RequestLines
from .load import ab
from .plan import IDLE_SECONDS, MEMORY_RATE, MEMORY_STEPS, MEMORY_STEPS_QUICK, SOAK_CYCLES, TIME_CAP, WINE_KEYS
from .servers import end_process, start_native, start_wine, wineserver_pid


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

