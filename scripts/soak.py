"""The Python half of scripts/soak (which builds first): runs tarvex.exe once
under Wine for a long time through the end-to-end driver and shows what the
program's process holds as it goes.

The run: a warm-up (one start and stop of the tunnel "office", 100
"isConnected"), then N cycles, each starting "office", asking "isConnected",
stopping it and asking again; every tenth cycle starts "home" alongside it.
The engine stand-in writes a process report after the warm-up, after half the
cycles and at the end. Growth between the first two is a one-time cost; growth
between half-way and the end is what the cycles leave behind.
"""

import argparse
import math
import os
import statistics
import sys
import time

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(REPO, "tests", "e2e"))

import driver  # noqa: E402
import run_demo  # noqa: E402
from driver import Call, Close, Line, Note  # noqa: E402
from wire import Success  # noqa: E402

OFFICE, HOME = "office", "home"
CONFIGS = {
    OFFICE: driver.SAMPLE_CONFIG,
    HOME: driver.SAMPLE_CONFIG.replace("10.66.66.2/32", "10.66.77.3/32").replace("203.0.113.5:51820",
                                                                                 "203.0.113.9:51821"),
}
WARM_UP_CALLS = 100
SECOND_TUNNEL_EVERY = 10
REPORTS = ("after the warm-up", "half-way", "at the end")
# The figures of a "process" transcript line, in order.
FIGURES = ("handles", "gdi", "user", "threads", "committed", "working")
# Between half-way and the end these must not change; committed memory must
# not grow.
COUNTS = ("handles", "gdi", "user", "threads")


class Plan:
    """The soak's steps and the reply each call must get."""

    def __init__(self, cycles, calls):
        self.cycles, self.calls = cycles, calls
        self.half = cycles // 2
        self.steps = []
        self.expected = []      # wire.Success per call, in order
        self.cycle_of = []      # per call: 0 for the warm-up, else its cycle
        self._up = set()
        self._cycle = 0

        self._start(OFFICE)
        self._ask(WARM_UP_CALLS - WARM_UP_CALLS // 2)
        self._stop(OFFICE)
        self._ask(WARM_UP_CALLS // 2)
        self.steps.append(Line("process report"))
        for cycle in range(1, cycles + 1):
            self._cycle = cycle
            self.steps.append(Note("cycle %d" % cycle))
            share = calls // cycles + (1 if cycle <= calls % cycles else 0)
            second = cycle % SECOND_TUNNEL_EVERY == 0
            self._start(OFFICE)
            if second:
                self._start(HOME)
            self._ask(share - share // 2)
            if second:
                self._stop(HOME)
            self._stop(OFFICE)
            self._ask(share // 2)
            if cycle == self.half:
                self.steps.append(Line("process report"))
        self.steps += [Line("process report"), Close()]

    def _call(self, call, reply):
        self.steps.append(call)
        self.expected.append(Success(reply))
        self.cycle_of.append(self._cycle)

    def _start(self, network_id):
        self._up.add(network_id)
        self._call(Call("startTunnel", {"networkId": network_id, "config": CONFIGS[network_id]}), True)

    def _stop(self, network_id):
        self._up.discard(network_id)
        self._call(Call("stopTunnel", {"networkId": network_id}), True)

    def _ask(self, count):
        # "isConnected" is true exactly while a tunnel is up.
        for _ in range(count):
            self._call(Call("isConnected"), bool(self._up))


def parse_report(text):
    """{figure: int or None} of a "process ..." transcript line ("-": the
    system does not give that figure); None for a line that is no report."""
    words = text.split()
    if len(words) != 1 + 2 * len(FIGURES) or words[0] != "process" or tuple(words[1::2]) != FIGURES:
        return None
    return {name: None if value == "-" else int(value) for name, value in zip(FIGURES, words[2::2])}


def reports(outcome):
    return [parse_report(text) for _, text in outcome.transcript if text.startswith("process ")]


def difference(before, after):
    """{figure: after - before, or None where either lacks it}."""
    return {name: None if before[name] is None or after[name] is None else after[name] - before[name]
            for name in FIGURES}


def reply_problems(outcome, plan, shown=10):
    """What went wrong with the calls, as lines for a reader; empty when every
    call was answered exactly once, as the state says, and the program ended
    with 0."""
    problems = []
    if outcome.exit_code != 0:
        problems.append("exit code %s" % outcome.exit_code)
    counts = {keyword: len(outcome.transcript_lines(keyword))
              for keyword in ("sending", "reply", "noreply", "latereply", "unhandled", "error", "misuse")}
    if counts["sending"] != len(plan.expected) or counts["reply"] != len(plan.expected):
        problems.append("%d calls, %d sent, %d replies" % (len(plan.expected), counts["sending"], counts["reply"]))
    for keyword in ("noreply", "latereply", "unhandled", "error", "misuse"):
        if counts[keyword]:
            problems.append("%d %s lines, the first: %s" % (counts[keyword], keyword,
                                                            outcome.transcript_lines(keyword)[0]))
    wrong = [(call, want) for call, want in zip(outcome.calls, plan.expected)
             if call.status != "reply" or call.reply != want]
    for call, want in wrong[:shown]:
        problems.append("call %d (%s, cycle %d): %s, expected %s" % (
            call.index + 1, call.method, plan.cycle_of[call.index], call.describe(), want))
    if len(wrong) > shown:
        problems.append("... %d wrong replies in all" % len(wrong))
    found = reports(outcome)
    if len(found) != len(REPORTS) or None in found:
        problems.append("%d process reports, expected %d" % (len(found), len(REPORTS)))
    return problems


def left_behind(half_way, end):
    """What the cycles after half-way left behind: counts that changed, and
    committed memory that grew."""
    growth = difference(half_way, end)
    found = ["%s %+d" % (name, growth[name]) for name in COUNTS if growth[name]]
    if growth["committed"] and growth["committed"] > 0:
        found.append("committed %+d bytes" % growth["committed"])
    return found


def percentile(values, share):
    """The nearest-rank percentile: the smallest value with at least that
    share of the values at or below it."""
    ordered = sorted(values)
    return ordered[max(0, math.ceil(share * len(ordered)) - 1)]


def call_times(outcome, plan):
    """[(kind, count, median, 95th percentile)] in milliseconds; isConnected
    also for the first and the second half of the cycles, so a call that
    grows slower as the run goes on shows."""
    kinds = {}
    for call in outcome.calls:
        if call.elapsed_ms is None:
            continue
        kinds.setdefault(call.method, []).append(call.elapsed_ms)
        if call.method == "isConnected" and plan.cycle_of[call.index]:
            half = "first" if plan.cycle_of[call.index] <= plan.half else "second"
            kinds.setdefault("isConnected, %s half of the cycles" % half, []).append(call.elapsed_ms)
    return [(kind, len(values), statistics.median(values), percentile(values, 0.95))
            for kind, values in kinds.items()]


def time_limit_s(cycles, calls):
    """Generous: a start and a stop take about 3 s and an "isConnected" about
    10 ms on a quiet machine; a shared one may take several times that. The
    short soak's limit (800 s, and the driver's 30 s to end the program) stays
    inside its CTest time-out of 900 s, so a hung run is ended by the driver,
    which removes what the run installed, rather than killed by CTest."""
    return 300 + 30 * cycles + calls // 5


class Progress:
    """Prints a line at each cycle and each report as the transcript shows it."""

    def __init__(self, plan):
        self.plan = plan
        self.answered = 0
        self.started = time.monotonic()
        self.reports = 0

    def __call__(self, time_ms, text):
        keyword, _, rest = text.partition(" ")
        if keyword == "reply":
            self.answered += 1
        elif keyword == "note" and rest.startswith("cycle "):
            print("cycle %s of %d, %d calls answered, %.0f s" % (
                rest[len("cycle "):], self.plan.cycles, self.answered, time.monotonic() - self.started), flush=True)
        elif keyword == "process":
            name = REPORTS[self.reports] if self.reports < len(REPORTS) else "extra"
            self.reports += 1
            print("report %s: %s" % (name, text), flush=True)
        elif keyword in ("error", "misuse", "noreply", "latereply", "unhandled"):
            print("  !! %s" % text, flush=True)


def soak_driver(plan):
    return driver.Driver(name="soak", timeout_s=time_limit_s(plan.cycles, plan.calls))


def _figure(value, name):
    if value is None:
        return "-"
    return "{:,}".format(value) if name not in ("committed", "working") else "{:,} B".format(value)


def _change(value, name):
    if value is None:
        return "-"
    text = "{:+,}".format(value)
    return text + " B" if name in ("committed", "working") else text


def print_summary(plan, outcome, elapsed_s):
    print()
    print("== calls: %d (%d cycles, %d \"isConnected\" in the cycles, the warm-up's %d and its start and stop)"
          % (len(plan.expected), plan.cycles, plan.calls, WARM_UP_CALLS))
    problems = reply_problems(outcome, plan)
    if problems:
        for line in problems:
            print("   " + line)
    else:
        print("   every call answered exactly once and as the state says; exit code 0")

    found = [r for r in reports(outcome) if r is not None]
    print()
    print("== process reports (gdi, user: - where the system does not give them)")
    print("   %-26s" % "" + "".join("%16s" % name for name in FIGURES))
    for name, report in zip(REPORTS, found):
        print("   %-26s" % name + "".join("%16s" % _figure(report[f], f) for f in FIGURES))
    rest = plan.cycles - plan.half
    if len(found) == len(REPORTS):
        once, grown = difference(found[0], found[1]), difference(found[1], found[2])
        print("   %-26s" % "one-time (warm-up → half)" + "".join("%16s" % _change(once[f], f) for f in FIGURES))
        print("   %-26s" % ("growth in %d cycles" % rest) + "".join("%16s" % _change(grown[f], f) for f in FIGURES))
        print("   %-26s" % "growth per cycle" + "".join(
            "%16s" % ("-" if grown[f] is None else "%+.1f" % (grown[f] / rest)) for f in FIGURES))

    print()
    print("== debug log")
    log = outcome.paths.get("debug_log")
    size = os.path.getsize(log) if log and os.path.exists(log) else 0
    print("   {:,} bytes, {:,} lines".format(size, len(outcome.log_lines)))

    print()
    print("== wall time per call, milliseconds")
    print("   %-40s %8s %8s %8s" % ("", "calls", "median", "95th"))
    for kind, count, median, p95 in call_times(outcome, plan):
        print("   %-40s %8d %8s %8d" % (kind, count, "%g" % median, p95))

    print()
    print("== result (%.0f s, load average now %.2f %.2f %.2f)" % ((elapsed_s,) + os.getloadavg()))
    leaks = left_behind(found[1], found[2]) if len(found) == len(REPORTS) else ["no reports to compare"]
    if leaks:
        print("   left behind between half-way and the end: " + ", ".join(leaks))
    else:
        print("   between half-way and the end: equal counts, committed memory did not grow")
    return 0 if not problems and not leaks else 1


def parse_arguments(argv=None):
    parser = argparse.ArgumentParser(
        prog="scripts/soak",
        description="Builds the Windows program and runs it once under Wine for a long time: a warm-up, then "
                    "start and stop cycles of one tunnel (a second one alongside in every tenth cycle) with "
                    "\"isConnected\" calls between them, and a report of the process's handles, GDI and USER "
                    "objects, threads and memory after the warm-up, half-way and at the end.")
    parser.add_argument("--cycles", type=int, default=100, metavar="N",
                        help="start and stop cycles (default: %(default)s, at least 2)")
    parser.add_argument("--calls", type=int, default=10000, metavar="N",
                        help="\"isConnected\" calls spread over the cycles (default: %(default)s)")
    parser.add_argument("--keep-wine", action="store_true",
                        help="leave the Wine environment running after the run")
    parser.add_argument("--parse-only", action="store_true", help=argparse.SUPPRESS)
    options = parser.parse_args(argv)
    if options.cycles < 2:
        parser.error("--cycles must be at least 2")
    if options.calls < 0:
        parser.error("--calls must not be negative")
    if options.parse_only:
        sys.exit(0)
    return options


def main():
    options = parse_arguments()
    plan = Plan(options.cycles, options.calls)
    runner = soak_driver(plan)
    code, output = run_demo.wine_run(runner, "--setup", 420)
    if code != 0:
        print(output)
        print("soak: Wine could not be prepared")
        return 1
    print("soak: %d cycles, %d \"isConnected\", load average %.2f %.2f %.2f"
          % ((options.cycles, options.calls) + os.getloadavg()), flush=True)
    started = time.monotonic()
    try:
        outcome = runner.run(plan.steps, keep_wine=options.keep_wine, on_line=Progress(plan))
    except driver.DriverError as e:
        print("soak: %s" % e)
        return 1
    except KeyboardInterrupt:
        # The driver has ended the program's processes on its way out.
        print("\nsoak: interrupted")
        return 130
    finally:
        if not options.keep_wine:
            run_demo.wine_run(runner, "--shutdown", 60)
    return print_summary(plan, outcome, time.monotonic() - started)


if __name__ == "__main__":
    sys.exit(main())
