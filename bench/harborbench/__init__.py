"""The benchmark of harborlight-serve, in rooms: what a run measures (plan),
the servers, the request lines they write, the load, the repetitions, the
phases after them (idle, memory, fresh starts, soak), and the report (tables,
goals, chart, page). bench/bench.py runs them in order."""
import os

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
ADDRESS = "127.0.0.1"
SERVER_CORE = "0"
LOAD_CORE = "1"


class BenchError(Exception):
    pass


def log(text):
    print(text, flush=True)
