#!/usr/bin/env python3
"""Checks the docs against the tree and the programs: every relative link and
anchor in README.md, CHANGELOG.md and docs/*.md resolves; every option shown after
harborlight-serve or tools/run.sh is in that program's --help; the user's
guide names the files that tools/release.sh packs; README.md stays within
200 lines. Prints one line per fault and exits 1 on any.

Usage: tools/check-docs.py BUILD/harborlight-serve
"""
import glob
import os
import re
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
README_LINES = 200
faults = []


def fault(where, what):
    faults.append(f"{os.path.relpath(where, ROOT)}: {what}")


def prose_lines(text):
    """The lines outside fenced code blocks, with their numbers."""
    fenced = False
    for number, line in enumerate(text.split("\n"), 1):
        if line.lstrip().startswith("```"):
            fenced = not fenced
        elif not fenced:
            yield number, line


def slug(heading):
    """The anchor GitHub gives a heading."""
    text = re.sub(r"\[([^\]]*)\]\([^)]*\)", r"\1", heading)  # a link's text
    text = re.sub(r"[^\w\- ]", "", text.replace("`", "").strip().lower())
    return text.replace(" ", "-")


def anchors(path, cache={}):
    if path not in cache:
        found, seen = set(), {}
        text = open(path, encoding="utf-8").read()
        for _, line in prose_lines(text):
            heading = re.match(r"#{1,6}\s+(.*?)\s*#*\s*$", line)
            if heading:
                name = slug(heading.group(1))
                count = seen.get(name, 0)
                seen[name] = count + 1
                found.add(name if count == 0 else f"{name}-{count}")
            found.update(re.findall(r"<a\s+(?:id|name)=\"([^\"]+)\"", line))
        cache[path] = found
    return cache[path]


def check_links(page):
    text = open(page, encoding="utf-8").read()
    for number, line in prose_lines(text):
        line = re.sub(r"`[^`]*`", "", line)  # code spans hold no links
        for target in re.findall(r"\]\(([^)\s]+)(?:\s+\"[^\"]*\")?\)", line):
            if re.match(r"[a-z][a-z0-9+.-]*:", target):  # http:, mailto: ...
                continue
            name, _, anchor = target.partition("#")
            path = os.path.normpath(os.path.join(os.path.dirname(page), name)) if name else page
            if not os.path.exists(path):
                fault(page, f"line {number}: {target}: no such file")
            elif anchor and path.endswith(".md") and anchor not in anchors(path):
                fault(page, f"line {number}: {target}: no such anchor")


def help_options(command):
    try:
        result = subprocess.run(command, capture_output=True, text=True, timeout=60)
    except OSError as error:
        faults.append(f"{command[0]}: cannot run it for its --help: {error}")
        return set()
    if result.returncode != 0:
        faults.append(f"{' '.join(command)}: exit {result.returncode}")
    return set(re.findall(r"--[a-z][a-z-]*", result.stdout))


def check_options(page, serve_help, run_help):
    """Options on a line after the program's name, up to the end of the
    command (a backtick, a comment, a parenthesis or a sentence's comma)."""
    program = {
        "harborlight-serve": r"(?:^|[\s`(])(?:[^\s=`(]*[/\\])?harborlight-serve(?:\.exe)?(?![\w.-])",
        "tools/run.sh": r"(?:^|[\s`(])tools/run\.sh(?![\w.-])",
    }
    text = open(page, encoding="utf-8-sig").read().replace("\r", "")
    for number, line in enumerate(text.split("\n"), 1):
        for name, pattern in program.items():
            for found in re.finditer(pattern, line):
                command = re.split(r"[`#);|]|, ", line[found.end():])[0]
                options = {option.split("=")[0] for option in re.findall(r"--[a-z][a-z=-]*", command)}
                known = serve_help if name == "harborlight-serve" else run_help
                if name == "tools/run.sh" and "--headless" in options:
                    known = known | serve_help  # passed on to harborlight-serve
                for option in sorted(options - known):
                    fault(page, f"line {number}: {option} is not in {name} --help")


def check_guide_files():
    """The guide's file list (lines "  NAME ..... what it is") against the
    names that tools/release.sh packs."""
    release = open(os.path.join(ROOT, "tools/release.sh"), encoding="utf-8").read()
    packed = re.findall(r'^\s+"([^"=]+)=', release.split("files=(", 1)[1].split(")", 1)[0], re.M)
    guide = os.path.join(ROOT, "docs/guide-ja.txt")
    listed = re.findall(r"^\s+(\S+\.\w+) \.{3,} ", open(guide, encoding="utf-8-sig").read(), re.M)
    if not packed:
        fault(os.path.join(ROOT, "tools/release.sh"), "no files=( ... ) list found")
    if sorted(listed) != sorted(packed):
        fault(guide, f"lists {' '.join(listed)}; the zip holds {' '.join(packed)}")


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__.split("\n\n")[-1].strip())
    pages = [os.path.join(ROOT, "README.md"), os.path.join(ROOT, "CHANGELOG.md"),
             *sorted(glob.glob(os.path.join(ROOT, "docs/*.md")))]
    for page in pages:
        check_links(page)
    serve_help = help_options([sys.argv[1], "--help"])
    run_help = help_options([os.path.join(ROOT, "tools/run.sh"), "--help"])
    for page in pages + [os.path.join(ROOT, "docs/guide-ja.txt")]:
        check_options(page, serve_help, run_help)
    check_guide_files()
    lines = open(os.path.join(ROOT, "README.md"), encoding="utf-8").read().count("\n")
    if lines > README_LINES:
        fault(os.path.join(ROOT, "README.md"), f"{lines} lines, more than {README_LINES}")
    for line in faults:
        print(f"docs: {line}")
    print(f"docs: {len(pages)} pages, {len(faults)} fault(s)")
    sys.exit(1 if faults else 0)


main()
