"""The goals, as data: each row names a measurement, whose it is, how it is
read and compared (to the floor, to --quiet, to another build, paired in each
repetition; or a phase's count), and its bound. check_goals reads them all in
order; a row whose measurement the run did not make is left out. A new goal is
a row, and a new way to compare is a reading."""
import math
import operator
from collections import namedtuple

from .plan import BEFORE_LINES, BROWSER_FILES, BROWSER_SILENT, IDLE_SECONDS, LABELS, QUIET_OF, WINE_ROWS
from .tables import MEMORY_TITLES, median, paired_ratios, spread

# key: the measurement (a key of MEASUREMENTS, or a phase's);
# who: the server (or the phase's run: "native", "wine") it is about;
# how: the reading, in READINGS; other: the server compared with, or the
# option whose builds are each compared with ("--also", "--also-wine");
# test: how the reading stands against the bound ("as printed": rounded to
# the two places the text shows).
Goal = namedtuple("Goal", "key who how test bound text other", defaults=(None,))

AT_LEAST = ">="
AT_MOST = "<="
BELOW = "<"
AS_PRINTED = ">= as printed"
TESTS = {AT_LEAST: operator.ge, AT_MOST: operator.le, BELOW: operator.lt,
         AS_PRINTED: lambda value, bound: round(value, 2) >= bound}

FLOOR = "%(label)s: %(value).2f of the floor, ±%(noise).2f (goal %(bound).2f or better)"
WINE_FLOOR = "under Wine, %(label)s: %(value).2f of the Winsock floor (goal %(bound).2f or better)"
PEER = "test page, %(clients)s: Harborlight %(mine).2f, %(other)s %(theirs).2f of the floor (noise ±%(slack).2f)"
QUIET = ("request lines on, %(label)s, %(where)s: %(value).2f of --quiet in the same repetition, median "
         "(goal %(bound).2f or more)")
PRINTED = ("request lines on, %(label)s, %(where)s: %(value).2f of the %(floor)s, %(bound).2f before the lines "
           "(goal no lower, as printed)")
NO_LOWER = ("under Wine, %(label)s: Harborlight %(value).2f times %(other_title)s in the same repetition, median "
            "(goal: no lower, 1.00 or more as printed)")
LINES_ON = ("request lines, %(title)s: %(lines)s lines for %(requests)s requests, checked after every run: "
            "%(lost)s (goal: one for each request, none lost)%(stopped)s")
LINES_QUIET = "%(title)s: %(lines)s request lines for %(requests)s requests (goal none)"
LEVEL = ("level with the build before, %(label)s, %(where)s: Harborlight %(value).2f times %(other_title)s in the "
         "same repetition, median (goal %(bound).2f or more)")

GOALS = (
    [Goal(key, "harborlight", "floor", AT_LEAST, bound, FLOOR)
     for key, bound in (("page1", 0.95), ("page32", 0.95), ("f1m", 0.95), ("f100m", 0.95))] +
    [Goal("log1", "harborlight", "cost", AT_MOST, 0.10,
          "logging on costs %(percent).1f%% at 1 client (paired with logging off; goal %(bound_percent).0f%% "
          "or less)")] +
    [Goal(key, "harborlight", "peer", AT_LEAST, 0, PEER, peer)
     for peer in ("nginx", "lighttpd") for key in ("page1", "page32")] +
    [Goal("failures", "harborlight", "failures", AT_MOST, 0,
          "no failed or dropped request for Harborlight (every ab run: 0 failed, 0 non-2xx, all completed)")] +
    # The request lines: lines on against --quiet, and against the build
    # before the lines as printed then.
    [Goal(key, on, how, AS_PRINTED, bound, text)
     for on in ("harborlight", "wine") for key in ("page1", "page32", "f1m", "f100m")
     for how, bound, text in (("quiet", 0.97 if key in ("page1", "page32") else 0.98, QUIET),
                              ("printed", BEFORE_LINES.get((on, key)), PRINTED))
     if bound is not None] +
    [Goal("lines", who, "lines", AT_MOST, 0, LINES_QUIET if who in QUIET_OF else LINES_ON)
     for who in ("harborlight", "quiet", "wine", "winequiet")] +
    [goal for run in ("native", "wine") for goal in (
        Goal("memory", run, "memory failed", AT_MOST, 0, "memory %(where)s: %(why)s"),
        Goal("memory", run, "memory", AT_MOST, 1024,
             "memory %(where)s: %(name)s's VmRSS %(first)d kB after %(first_at)s requests, %(last)d kB after "
             "%(last_at)s: %(grew)+d kB (goal within 1 MB)"),
        Goal("memory", run, "memory lines", AT_MOST, 0,
             "request lines %(where)s in the memory phase: %(lines)s lines for %(requests)s requests (goal: one "
             "for each, none lost)%(lost)s"))] +
    [Goal(key, "wine", "floor", AT_LEAST, 0.95 if key == "f1m" else 0.90, WINE_FLOOR) for key in WINE_ROWS] +
    [Goal("idle", who, "idle", AT_MOST, 2,
          "idle %(where)s, request lines on and going to a file: Harborlight's %(tasks)s threads switched %(mine)d "
          "times in %(seconds)d s, %(floor_title)s %(floor)d (goal: no more than the floor's, allowing two)")
     for who in ("harborlight", "wine")] +
    [Goal("fresh", "wine", "fresh", AT_MOST, 0,
          "%(runs)d fresh starts of harborlight-serve.exe, one ab run each: %(requests)d requests, %(failed)d "
          "failed, %(broken)d runs broken or hung (goal: none)")] +
    [Goal("soak", run, "soak", AT_LEAST, 1, "start/serve/stop soak, %(where)s: %(line)s")
     for run in ("native", "wine")] +
    [Goal(key, "wine", "build", AS_PRINTED, 1, NO_LOWER, "--also-wine") for key in WINE_ROWS] +
    # The build before (--also, --also-wine NAME=PATH), paired in each
    # repetition: serving level with it, and the large files with it.
    [Goal(key, who, "build", AS_PRINTED, 0.97 if key in ("page1", "page32") else 0.98, LEVEL, option)
     for who, option, keys in (("harborlight", "--also", ("page1", "page32", "f1m", "f100m")),
                               ("wine", "--also-wine", WINE_ROWS))
     for key in keys] +
    [Goal("browser", who, "browser", BELOW, 1,
          "browser-like case %(where)s: %(silent)d silent connections, then %(files)d files: median %(median).3f s, "
          "slowest %(slowest).3f s, held %(held)d of %(runs)d runs (goal under 1 s)")
     for who in ("harborlight", "wine")]
)


def check_goals(servers, results, failures, summary):
    """Every goal the run measured, in the order of GOALS: "- yes: TEXT" or
    "- NO:  TEXT"."""
    facts = Facts(servers, results, failures, summary)
    checks = []
    for goal in GOALS:
        others = [s for s in servers if s.option == goal.other] if goal.other in ("--also", "--also-wine") else [
            facts.servers.get(goal.other)]
        for other in others:
            found = READINGS[goal.how](facts, goal, other)
            if not found:
                continue
            ok = TESTS[goal.test](found["value"], goal.bound)
            fields = dict(label=LABELS.get(goal.key), where="under Wine" if under_wine(goal.who) else "natively",
                          bound=goal.bound, other=goal.other, other_title=other and other.title,
                          title=facts.servers[goal.who].title if goal.who in facts.servers else goal.who)
            fields.update(found)
            checks.append("- %s %s" % ("yes:" if ok else "NO: ", goal.text % fields))
    return checks


class Facts:
    def __init__(self, servers, results, failures, summary):
        self.servers = {s.key: s for s in servers}
        self.results = results
        self.failures = failures
        self.summary = summary

    def paired(self, who, key, base):
        """Ratios of `who` to `base` in the same repetitions, or [] when either
        did not run."""
        if not self.results.get(who) or not self.results.get(base):
            return []
        return paired_ratios(self.results, who, key, base=base)


def under_wine(who):
    return who in ("wfloor", "wine", "winequiet") or who.startswith("alsowine")


def floor_of(who):
    return "wfloor" if under_wine(who) else "floor"


# ---------------------------------------------------------------- readings
# Each takes the facts, the goal and the server compared with (or None), and
# gives None when the run did not measure it, or the value that the goal's
# test holds against its bound, with what its text shows.

def read_floor(facts, goal, other):
    ratios = facts.paired(goal.who, goal.key, floor_of(goal.who))
    return ratios and {"value": median(ratios), "noise": spread(ratios) or 0} or None


def read_quiet(facts, goal, other):
    quiet = {on: quiet for quiet, on in QUIET_OF.items()}[goal.who]
    value = median(facts.paired(goal.who, goal.key, quiet))
    return None if value is None else {"value": value}


def read_printed(facts, goal, other):
    value = median(facts.paired(goal.who, goal.key, floor_of(goal.who)))
    return None if value is None else {
        "value": value, "floor": "Winsock floor" if under_wine(goal.who) else "floor"}


def read_build(facts, goal, other):
    value = median(facts.paired(goal.who, goal.key, other.key)) if other else None
    return None if value is None else {"value": value}


def read_peer(facts, goal, other):
    """Harborlight's ratio to the floor no lower than the peer's, less the
    noise of both."""
    def ratio_noise(who):
        return facts.summary.get(who, {}).get(goal.key, (None, None, None))[1:]
    (mine, my_noise), (theirs, their_noise) = ratio_noise(goal.who), ratio_noise(goal.other)
    if not mine or not theirs:
        return None
    slack = (my_noise or 0) + (their_noise or 0)
    return {"value": mine - (theirs - slack), "mine": mine, "theirs": theirs, "slack": slack,
            "clients": "1 client" if goal.key == "page1" else "32 clients"}


def read_cost(facts, goal, other):
    """What logging on costs, paired with logging off in each repetition."""
    page = dict(facts.results[goal.who]["page1"])
    cost = median([1 - v / page[rep] for rep, v in facts.results[goal.who]["log1"] if rep in page])
    return None if cost is None else {"value": cost, "percent": 100 * cost, "bound_percent": 100 * goal.bound}


def read_failures(facts, goal, other):
    mine = [f for f in facts.failures if f.startswith("Harborlight ") and "under Wine" not in f]
    return {"value": len(mine)}


def read_lines(facts, goal, other):
    """Every request with its line (lines on), or none at all (--quiet)."""
    found = facts.results.get("lines", {}).get(goal.who)
    if not found or not found["counts"]:
        return None
    lines = sum(n for n, _, _ in found["counts"])
    stopped = [why for _, _, why in found["counts"] if why]
    quiet = goal.who in QUIET_OF
    return {"value": lines if quiet else len(found["lost"]), "lines": format(lines, ","),
            "requests": format(sum(n for _, n, _ in found["counts"]), ","),
            "lost": "; ".join(found["lost"]) or "none missing", "stopped": "; " + "; ".join(stopped) if stopped else ""}


def memory_run(facts, run):
    """The memory phase's run, the steps of its longest run, and its readings
    of the server's memory when they are all there."""
    memory = facts.results.get("memory") or {}
    if run not in memory:
        return None, None, None
    found = memory[run]
    steps = [format(n, ",") for n, _, _ in max((r["steps"] for r in memory.values()), key=len)]
    kb = [k for _, k, _ in found["steps"]]
    return found, steps, None if found["failed"] or len(kb) < 2 or None in kb else kb


def read_memory_failed(facts, goal, other):
    found, _, kb = memory_run(facts, goal.who)
    return None if found is None or kb else {"value": 1, "why": found["failed"] or "not read"}


def read_memory(facts, goal, other):
    _, steps, kb = memory_run(facts, goal.who)
    return kb and {"value": abs(kb[-1] - kb[0]), "name": MEMORY_TITLES[goal.who].split()[0], "first": kb[0],
                   "first_at": steps[0], "last": kb[-1], "last_at": steps[-1], "grew": kb[-1] - kb[0]}


def read_memory_lines(facts, goal, other):
    found, _, kb = memory_run(facts, goal.who)
    return kb and {"value": len(found["lost"]), "lines": format(found["lines"], ","),
                   "requests": format(found["requests"], ","),
                   "lost": ": " + "; ".join(found["lost"]) if found["lost"] else ""}


def read_idle(facts, goal, other):
    """Context switches while idle against the floor's of the same kind."""
    idle = facts.results.get("idle", {})
    mine, floor = idle.get(goal.who, {}).get("threads"), idle.get(floor_of(goal.who), {}).get("threads")
    if mine is None or floor is None:
        return None
    return {"value": mine - floor, "mine": mine, "floor": floor, "tasks": idle[goal.who].get("tasks"),
            "seconds": IDLE_SECONDS,
            "floor_title": "the Winsock floor's" if under_wine(goal.who) else "the floor's"}


def read_fresh(facts, goal, other):
    fresh = facts.results.get("fresh")
    return fresh and dict(fresh, value=fresh["failed"] + fresh["broken"])


def read_soak(facts, goal, other):
    found = facts.results.get("soak", {}).get(goal.who)
    return found and {"value": 1 if found["passed"] else 0, "line": found["line"]}


def read_browser(facts, goal, other):
    runs = [v for _, v in facts.results.get(goal.who, {}).get("browser", [])]
    if not runs:
        return None
    held = sum(v for _, v in facts.results[goal.who]["browser_held"])
    return {"value": math.inf if held else max(runs), "median": median(runs), "slowest": max(runs), "held": held,
            "runs": len(runs), "silent": BROWSER_SILENT, "files": BROWSER_FILES}


READINGS = {"floor": read_floor, "quiet": read_quiet, "printed": read_printed, "build": read_build,
            "peer": read_peer, "cost": read_cost, "failures": read_failures, "lines": read_lines,
            "memory failed": read_memory_failed, "memory": read_memory, "memory lines": read_memory_lines,
            "idle": read_idle, "fresh": read_fresh, "soak": read_soak, "browser": read_browser}
