"""Where the time goes when tarvex.exe runs the default scenario under Wine.

Runs the default scenario (one tunnel up and down) N times through driver.py
and prints, for each measure, the median with the lowest and highest value:

- each call end to end: the stand-in's "sending" line to its "reply" line;
- the program's start-up: the driver's clock at launch, the engine library's
  first transcript line, engine creation, the first frame;
- for startTunnel and stopTunnel, the child processes the call ran
  (wireguard.exe and netsh, from the stand-ins' records): the time before the
  first one started, their count, the span from the first start to the last
  end, the sum of their own lifetimes, and the time from the last one's end to
  the reply. For startTunnel also the tunnel service (its own process, started
  by the Service Control Manager, not by the plugin): from the last child's end
  to the service process's start, to its "running", and from there to the
  reply, which is where the plugin's status polling shows.

Every time is wall-clock milliseconds on one clock: the transcript's, the
stand-ins' records' and the driver's launch time.

    python3 -B bench/timings.py --runs 5

Nothing here asserts a time; it only reports.
"""

import argparse
import os
import statistics
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "scripts"))

import run_demo  # noqa: E402  (it puts tests/e2e, the driver's folder, on the path)
import driver  # noqa: E402
import wire  # noqa: E402

TIMED_CALLS = ("startTunnel", "stopTunnel")
# The actions of the wireguard.exe stand-in that are programs the plugin ran;
# "service-start" and "service-stop" are the service's process, which the
# Service Control Manager runs.
CHILD_ACTIONS = ("install", "uninstall", "usage")


class Record:
    """One stand-in record line: a process's start and end, and what it was."""

    def __init__(self, program, start_ms, end_ms, what):
        self.program, self.start_ms, self.end_ms, self.what = program, start_ms, end_ms, what


def records(outcome):
    """The wireguard.exe and netsh records of a run, in order of start."""
    found = [Record("netsh", line.start_ms, line.end_ms, line.text) for line in outcome.netsh]
    found += [Record("wireguard.exe", line.start_ms, line.end_ms, line.text.split(" ", 1)[0])
              for line in outcome.wireguard if line.start_ms is not None]
    return sorted(found, key=lambda r: (r.start_ms, r.end_ms))


def first_time(outcome, keyword):
    for time_ms, text in outcome.transcript:
        if time_ms is not None and text.split(" ", 1)[0] == keyword:
            return time_ms
    return None


def startup(outcome):
    """(name, ms) of the start-up's steps; None where a step is missing."""
    first_line = next((t for t, _ in outcome.transcript if t is not None), None)
    engine = first_time(outcome, "engine")
    frame = first_time(outcome, "frame")

    def span(a, b):
        return None if a is None or b is None else b - a

    return [("launch → first transcript line", span(outcome.started_ms, first_line)),
            ("first transcript line → engine created", span(first_line, engine)),
            ("engine created → first frame", span(engine, frame)),
            ("launch → first frame", span(outcome.started_ms, frame))]


def call_phases(call, run_records):
    """(name, ms) for one startTunnel or stopTunnel: what came before, during
    and after the child processes it ran."""
    inside = [r for r in run_records if call.sent_ms <= r.start_ms <= call.replied_ms]
    children = [r for r in inside if r.program == "netsh" or r.what in CHILD_ACTIONS]
    name = call.method
    if not children:
        return [(name + ": child processes", 0)]
    first_start = children[0].start_ms
    last_end = max(r.end_ms for r in children)
    phases = [
        (name + ": before the first child", first_start - call.sent_ms),
        (name + ": child processes", len(children)),
        (name + ": first child start → last child end", last_end - first_start),
        (name + ": children's own lifetimes, sum", sum(r.end_ms - r.start_ms for r in children)),
    ]
    for program in ("wireguard.exe", "netsh"):
        mine = [r for r in children if r.program == program]
        phases.append(("%s:   %s (%d), lifetimes sum" % (name, program, len(mine)),
                       sum(r.end_ms - r.start_ms for r in mine)))
    phases.append((name + ": last child end → reply", call.replied_ms - last_end))
    service = [r for r in inside if r.what == "service-start"]
    if service:
        phases += [
            (name + ":   last child end → service process start", service[0].start_ms - last_end),
            (name + ":   service process start → running", service[0].end_ms - service[0].start_ms),
            (name + ":   service running → reply", call.replied_ms - service[0].end_ms),
        ]
    return phases


def measures(outcome):
    """Every measure of one run, as an ordered list of (name, ms or count)."""
    found = startup(outcome)
    for call in outcome.calls:
        found.append(("call %d %s: end to end" % (call.index + 1, call.method), call.elapsed_ms))
    run_records = records(outcome)
    for call in outcome.calls:
        if call.method in TIMED_CALLS and call.elapsed_ms is not None:
            found += call_phases(call, run_records)
    return found


def summarise(runs):
    """[(name, median, lowest, highest, count)] over the runs' measures, in the
    order the names first appear; a run that lacks a measure is left out of it."""
    names, values = [], {}
    for run in runs:
        for name, value in run:
            if name not in values:
                names.append(name)
                values[name] = []
            if value is not None:
                values[name].append(value)
    return [(name, statistics.median(values[name]), min(values[name]), max(values[name]),
             len(values[name])) for name in names if values[name]]


def table(rows):
    lines = ["| Measure | Median | Lowest | Highest | Runs |", "|---|---:|---:|---:|---:|"]
    for name, median, low, high, count in rows:
        lines.append("| %s | %s | %s | %s | %d |" % (name, _number(median), _number(low), _number(high), count))
    return "\n".join(lines)


def _number(value):
    return str(int(value)) if float(value).is_integer() else "%.1f" % value


# The default scenario's replies when the tunnel went up and down as it should:
# isConnected, startTunnel, isConnected, stopTunnel, isConnected.
EXPECTED_REPLIES = [wire.FALSE, wire.TRUE, wire.TRUE, wire.TRUE, wire.FALSE]


def failed_run(outcome):
    """Why a run cannot be timed, or None: a run whose start failed (its
    service was never running) takes another road and would skew every
    figure."""
    if outcome.exit_code != 0 or any(call.status != "reply" for call in outcome.calls):
        return "exit code %s" % outcome.exit_code
    if [call.reply for call in outcome.calls] != EXPECTED_REPLIES:
        return "replies not those of a tunnel up and down"
    return None


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--runs", type=int, default=5, help="runs of the default scenario (default 5)")
    options = parser.parse_args(argv)
    if options.runs < 1:
        parser.error("--runs must be at least 1")

    runner = driver.Driver(name="timings")
    print("load average at start: %.2f %.2f %.2f" % os.getloadavg())
    runs = []
    for number in range(1, options.runs + 1):
        outcome = runner.run(run_demo.default_scenario())
        replies = [call.describe() for call in outcome.calls]
        problem = failed_run(outcome)
        if problem:
            print("run %d failed: %s, replies %s" % (number, problem, replies))
            return 1
        runs.append(measures(outcome))
        values = dict(runs[-1])
        print("run %d (load %.2f): launch → first frame %s ms, calls %s ms, startTunnel's service running → "
              "reply %s ms, replies %s"
              % (number, os.getloadavg()[0], values["launch → first frame"],
                 [call.elapsed_ms for call in outcome.calls],
                 values.get("startTunnel:   service running → reply"), ", ".join(replies)), flush=True)
    print("load average at end: %.2f %.2f %.2f" % os.getloadavg())
    print()
    print("Milliseconds (counts where the measure says so), over %d runs:" % len(runs))
    print()
    print(table(summarise(runs)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
