"""The report's tables: medians and their paired ratios to the floor, the
request lines against --quiet, memory, the browser-like case, and the
Windows build against the Winsock floor under the same Wine."""
import statistics

from .plan import (BEFORE_LINES, BROWSER_FILE_SIZE, BROWSER_FILES, BROWSER_LIMIT, BROWSER_SILENT, IDLE_SECONDS,
                   LABELS, LOWER_IS_BETTER, MEASUREMENTS, QUIET_OF, QUIET_TESTS, WINE_ROWS)


def median(values):
    return statistics.median(values) if values else None


def spread(ratios):
    """Half the distance between the quartiles, or None for fewer than four."""
    if len(ratios) < 4:
        return None
    q = statistics.quantiles(ratios, n=4)
    return (q[2] - q[0]) / 2


def faster_by(value, floor_value, key):
    """A value against the floor's: 1.00 is the floor, higher is faster."""
    if value is None or not floor_value:
        return None
    return floor_value / value if key in LOWER_IS_BETTER else value / floor_value


def paired_ratios(results, who, key, base="floor"):
    """Ratios to the floor's run of the same repetition, taken seconds apart."""
    floor = dict(results[base][key])
    return [faster_by(v, floor[rep], key) for rep, v in results[who][key] if rep in floor]


def summarize(servers, results):
    """For each server and measurement: (median value, median paired ratio, ratio spread)."""
    table = {}
    for s in servers:
        table[s.key] = {}
        for key, _ in MEASUREMENTS:
            values = [v for _, v in results[s.key][key]]
            ratios = paired_ratios(results, s.key, key)
            table[s.key][key] = (median(values), median(ratios), spread(ratios))
    return table


def fmt(value, key):
    if value is None:
        return "–"
    if key == "p99":
        return "%.3f" % value
    if key == "f100m":
        return "%.2f" % value
    if value >= 100:
        return "%.0f" % value
    return "%.1f" % value


def report(servers, results):
    """The tables (the first group, and the group under Wine with its line of
    text) and the summary that the goals and the chart read."""
    summary = summarize(servers, results)
    table = "\n\n".join(filter(None, (main_table(servers, summary), request_lines_table(summary, results),
                                      memory_table(results))))
    wine_table, wine_ratios = wine_floor_table(summary, results)
    spread_table = wine_spread_table(servers, summary, results)
    wine_table = "\n\n".join(filter(None, (wine_table, spread_table)))
    browser = browser_table(servers, results)

    def ratio(who, key):
        return summary.get(who, {}).get(key, (None, None, None))[1]
    wine_text = ""
    if ratio("wine", "page1"):
        wine_text = ("Wine: Harborlight's Windows engine under Wine serves the test page at %.2f of the native "
                     "floor at 1 client and %.2f at 32 clients, the 3,000-byte file at %.2f, a 1 MiB file at %.2f "
                     "and the 100 MiB file at %.2f." % tuple(
                         ratio("wine", k) or 0 for k in ("page1", "page32", "f3000", "f1m", "f100m")))
    if wine_table:
        wine_text = "\n\n".join(filter(None, (wine_table, wine_text)))
    summary["wine-vs-winsock"] = wine_ratios
    if browser:
        table += "\n\n" + browser
    return table, wine_text, summary


def main_table(servers, summary):
    """Every server's median for every measurement, and its ratio to the floor."""
    shown = [s for s in servers if s.key not in QUIET_OF]  # the --quiet builds have a table of their own
    lines = ["| Measurement | " + " | ".join(s.title for s in shown) + " |",
             "|---|" + "---:|" * len(shown)]
    for key, label in MEASUREMENTS:
        if all(summary[s.key][key][0] is None for s in shown):
            continue  # not measured in this run (--only)
        cells = []
        for s in shown:
            value, ratio, _ = summary[s.key][key]
            if value is None:
                cells.append("–")
            elif s.key == "floor":
                cells.append(fmt(value, key))
            else:
                cells.append("%s (%.2f)" % (fmt(value, key), ratio))
        lines.append("| %s | %s |" % (label, " | ".join(cells)))
    return "\n".join(lines)


def browser_table(servers, results):
    """The browser-like case: each server's median and slowest whole time, and
    how often the silent connections held it."""
    timed = [s for s in servers if results[s.key].get("browser")]
    if not timed:
        return ""

    def cell(s, pick):
        runs = results[s.key]["browser"]
        held = sum(v for _, v in results[s.key]["browser_held"])
        value = pick([v for _, v in runs])
        if held == len(runs):
            return "over %d (held)" % BROWSER_LIMIT
        return "%.3f" % value + (" (held)" if held and pick is max else "")

    lines = ["| Browser-like: %d silent connections, then %d files of %s bytes, each on a new connection "
             "| " % (BROWSER_SILENT, BROWSER_FILES, format(BROWSER_FILE_SIZE, ",")) +
             " | ".join(s.title for s in timed) + " |",
             "|---|" + "---:|" * len(timed),
             "| whole time, median, s | " + " | ".join(cell(s, median) for s in timed) + " |",
             "| whole time, slowest, s | " + " | ".join(cell(s, max) for s in timed) + " |",
             "| runs held by the silent connections | " + " | ".join(
                 "%d of %d" % (sum(v for _, v in results[s.key]["browser_held"]), len(results[s.key]["browser"]))
                 for s in timed) + " |"]
    note = ("Held: the silent connections still held the server %d s after they were opened, and the bench "
            "closed them so that the files could pass. The floors have no receive limit and wait on a silent "
            "connection until it closes (they are measured every third repetition); the Harborlight before "
            "this listener waited up to 10 s on each." % BROWSER_LIMIT)
    return "\n".join(lines) + "\n\n" + note


def request_lines_table(summary, results):
    """Harborlight with its request lines on against the same build with
    --quiet, paired in each repetition, natively and under Wine, and the CPU
    of the thread that writes the lines."""
    rows = []
    for quiet, on in QUIET_OF.items():
        if not results.get(quiet) or not results.get(on):
            continue
        base = "wfloor" if on == "wine" else "floor"
        where = "under Wine" if on == "wine" else "natively"
        for key in [k for k, _ in MEASUREMENTS if k in QUIET_TESTS[quiet] + ("cpu",)]:
            against = median(paired_ratios(results, on, key, base=quiet))
            if against is None:
                continue
            floor_on = median(paired_ratios(results, on, key, base=base)) if results.get(base) else None
            floor_quiet = median(paired_ratios(results, quiet, key, base=base)) if results.get(base) else None
            before = BEFORE_LINES.get((on, key))
            rows.append("| %s, %s | %s | %s | %.2f | %s | %s | %s |" % (
                LABELS[key], where, fmt(summary[on][key][0], key), fmt(summary[quiet][key][0], key), against,
                "–" if floor_on is None else "%.2f" % floor_on, "–" if floor_quiet is None else "%.2f" % floor_quiet,
                "–" if before is None else "%.2f" % before))
    for on in QUIET_OF.values():
        writer = [v for _, v in results.get(on, {}).get("writer", [])]
        share = [v for _, v in results.get(on, {}).get("writer_share", [])]
        if writer:
            where = "under Wine" if on == "wine" else "natively"
            rows.append("| the line writer's own thread, 1 client, CPU µs per request, %s (share of the server's "
                        "CPU%s) | %.2f (%.1f%%) | – | – | – | – | – |" % (
                            where, ", with the wineserver's" if on == "wine" else "", median(writer),
                            100 * median(share)))
    if not rows:
        return ""
    return "\n".join(["| Request lines on, to a file, against --quiet (ratios: higher is better) | lines on "
                      "| --quiet | lines on / --quiet "
                      "| lines on / floor | --quiet / floor | before the lines / floor |",
                      "|---|---:|---:|---:|---:|---:|---:|"] + rows)


MEMORY_TITLES = {"native": "harborlight-serve", "wine": "harborlight-serve.exe under Wine"}


def memory_table(results):
    """Resident memory of each harborlight-serve after 1,000 requests and after
    the last step."""
    memory = results.get("memory") or {}
    if not memory:
        return ""
    steps = max((r["steps"] for r in memory.values()), key=len)
    head = [format(n, ",") for n, _, _ in steps]
    lines = ["| Resident memory (VmRSS), kB, test page at 32 clients, request lines on, to a file | " +
             " | ".join("after %s" % h for h in head) + " | from the first to the last |",
             "|---|" + "---:|" * (len(head) + 1)]
    for name, found in sorted(memory.items()):
        kb = [k for _, k, _ in found["steps"]]
        rows = [(MEMORY_TITLES[name], kb)]
        if name == "wine":
            rows.append(("Wine's server process, meanwhile", [w for _, _, w in found["steps"]]))
        for title, values in rows:
            cells = ["–" if v is None else "%d" % v for v in values] + ["–"] * (len(head) - len(values))
            grew = values[-1] - values[0] if len(values) == len(head) and None not in values else None
            lines.append("| %s | %s | %s |" % (title, " | ".join(cells), "–" if grew is None else "%+d" % grew))
    return "\n".join(lines)


def wine_floor_table(summary, results):
    """harborlight-serve.exe against the Winsock floor under the same Wine, and
    idle wake-ups: a table, and the ratios that the chart and goals read."""
    idle = results.get("idle", {})
    if "wfloor" not in summary or "wine" not in summary:
        return "", {}
    lines = ["| Under Wine | Winsock floor | Harborlight under Wine | ratio |", "|---|---:|---:|---:|"]
    wine_ratios = {}
    for key in WINE_ROWS:
        r = median(paired_ratios(results, "wine", key, base="wfloor"))
        wine_ratios[key] = r
        if r is None:
            continue
        lines.append("| %s | %s | %s | %s |" % (LABELS[key], fmt(summary["wfloor"][key][0], key),
                                               fmt(summary["wine"][key][0], key), "–" if r is None else "%.2f" % r))

    def idle_cell(who, what):
        value = idle.get(who, {}).get(what)
        return "–" if value is None else "%d" % value
    if idle:
        lines.append("| context switches in %d s while idle, the server's threads | %s | %s | – |"
                     % (IDLE_SECONDS, idle_cell("wfloor", "threads"), idle_cell("wine", "threads")))
        lines.append("| the same, Wine's server process | %s | %s | – |"
                     % (idle_cell("wfloor", "wineserver"), idle_cell("wine", "wineserver")))
        lines.append("| natively: context switches in %d s while idle (floor, Harborlight) | %s | %s | – |"
                     % (IDLE_SECONDS, idle_cell("floor", "threads"), idle_cell("harborlight", "threads")))
    return "\n".join(lines), wine_ratios


def wine_spread_table(servers, summary, results):
    """Every Windows build against the Winsock floor of the same repetition,
    repetition by repetition: under Wine one repetition swings far from the
    median."""
    builds = [s for s in servers if s.wine and s.key != "wfloor" and s.key not in QUIET_OF]
    if "wfloor" not in results:
        return ""
    tables = []
    for key in WINE_ROWS:
        rows = [(s, paired_ratios(results, s.key, key, base="wfloor")) for s in builds]
        rows = [(s, ratios) for s, ratios in rows if ratios]
        if not rows:
            continue
        lines = ["| %s, under Wine | median | ratio to the Winsock floor: median | lowest | highest "
                 "| each repetition |" % LABELS[key], "|---|---:|---:|---:|---:|---|",
                 "| Winsock floor under Wine | %s | – | – | – | %s |" % (
                     fmt(summary["wfloor"][key][0], key),
                     " ".join(fmt(v, key) for _, v in results["wfloor"][key]))]
        for s, ratios in rows:
            lines.append("| %s | %s | %.2f | %.2f | %.2f | %s |" % (
                s.title, fmt(summary[s.key][key][0], key), median(ratios), min(ratios), max(ratios),
                " ".join("%.2f" % r for r in ratios)))
        tables.append("\n".join(lines))
    return "\n\n".join(tables)
