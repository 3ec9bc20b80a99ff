"""The page: what the run says (tables, goals, the machine), and where it goes
in docs/performance.md and docs/performance.svg."""
import os
import subprocess
import sys

from . import ROOT, log
from .chart import write_svg


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


def page_text(args, table, checks, wine_text, failures, env, took):
    """The run's block of the page, as it is printed."""
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
                 env, took=took, end=describe_environment()["load"])]
    if args.only:
        text += ["", "Command: bench/run.sh " + " ".join(sys.argv[1:])]
    return "\n".join(text)


def write_page(body, servers, summary, args):
    """The full run's tables and chart, or a focused run's (--only) block of
    its own, which leaves the full run's as they are."""
    if args.only:
        write_marked_block(os.path.join(ROOT, "docs", "performance.md"), "bench-only", body)
        log("wrote the bench-only block of docs/performance.md")
        return
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

