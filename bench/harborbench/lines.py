"""The request lines a harborlight-serve writes, counted against the requests
the bench made of it."""
import re
import time

from .plan import LINE_DELAY


class RequestLines:
    """The lines a harborlight-serve writes to its output file, one per
    request, counted against the requests the bench made of it: every one
    must have its line, within LINE_DELAY seconds of the load's end. A
    process started with --quiet must write none."""

    def __init__(self, path, quiet=False):
        self.path = path
        self.quiet = quiet
        self.offset = 0
        self.lines = 0       # request lines read so far
        self.not_shown = 0   # what its "... N requests not shown" lines say
        self.requests = 0    # requests the load completed
        self.made = 0        # the lines they should have made
        self.loose = 0       # requests a time bound cut: each may have a line or not
        self.ended = 0.0     # when the last load ended (monotonic)
        self.lost = []       # checks that found lines missing or extra
        self.stopped = ""    # why counting ended early
        self.last = "the start"  # the load the count has come to

    def read(self):
        with open(self.path, "rb") as f:
            f.seek(self.offset)
            chunk = f.read()
        chunk = chunk[:chunk.rfind(b"\n") + 1]  # whole lines only
        self.offset += len(chunk)
        self.lines += len(re.findall(rb"^\d\d:\d\d:\d\d ", chunk, re.M))
        self.not_shown += sum(int(n) for n in re.findall(rb"^\.\.\. (\d+) requests? not shown\r?$", chunk, re.M))

    def made_requests(self, what, count, loose=0):
        self.requests += count
        if not self.quiet:
            self.made += count
            self.loose += loose
        self.ended = time.monotonic()
        self.last = what

    def check(self):
        """Waits until every request made has its line, LINE_DELAY seconds
        after the load at most; notes a shortfall or a surplus."""
        if self.stopped:
            return
        while True:
            self.read()
            if self.lines >= self.made or time.monotonic() > self.ended + LINE_DELAY:
                break
            time.sleep(0.05)
        if not self.made <= self.lines <= self.made + self.loose or self.not_shown:
            self.lost.append("after %s: %d lines for %d requests%s" % (
                self.last, self.lines, self.made, ", %d not shown" % self.not_shown if self.not_shown else ""))
            # Counted afresh from here, so that one shortfall is told once.
            self.made, self.loose, self.not_shown = self.lines, 0, 0

    def stop_counting(self, why):
        self.stopped = self.stopped or why
