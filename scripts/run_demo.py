"""The Python half of scripts/run-demo (which builds first): prepares Wine,
runs tarvex.exe with the default scenario through the end-to-end driver,
prints each call as it goes and then everything the run left behind."""

import argparse
import os
import subprocess
import sys

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(REPO, "tests", "e2e"))

import driver  # noqa: E402
import wire  # noqa: E402

HOLD_OPEN_MS = 3000
MARGIN = 16


def parse_arguments():
    parser = argparse.ArgumentParser(
        prog="scripts/run-demo",
        description="Builds the Windows program, runs it under Wine with a scripted Flutter side "
                    "(isConnected, startTunnel, isConnected, stopTunnel, isConnected) and shows what "
                    "happened: replies, tunnel service, configuration file, debug log, netsh and "
                    "wireguard.exe records, and a screenshot.")
    parser.add_argument("--config", metavar="FILE",
                        help="the WireGuard configuration to start (default: a sample with documentation "
                             "addresses)")
    parser.add_argument("--network-id", metavar="ID", default=driver.SAMPLE_NETWORK_ID,
                        help="the network id (default: %(default)s); the tunnel is tarvex_<ID>")
    parser.add_argument("--keep-wine", action="store_true",
                        help="leave the Wine environment (wineserver, tunnel services, the wg folder) running "
                             "after the run, and start from it when it already runs: a second run is a "
                             "restart of the program")
    # The wrapper checks the arguments before it spends minutes on the build.
    parser.add_argument("--parse-only", action="store_true", help=argparse.SUPPRESS)
    options = parser.parse_args()
    if options.config and not os.path.isfile(options.config):
        parser.error("no such file: %s" % options.config)
    if options.parse_only:
        sys.exit(0)
    return options


class Progress:
    """Prints each call as the transcript shows it."""

    def __init__(self, runner, steps):
        self.runner = runner
        self.calls = [step for step in steps if isinstance(step, driver.Call)]
        self.next = 0
        self.sent_ms = None
        self.window = None
        self.screenshot = None
        self.first_ms = None

    def __call__(self, time_ms, text):
        if time_ms is not None and self.first_ms is None:
            self.first_ms = time_ms
        keyword, _, rest = text.partition(" ")
        if keyword == "sending" and self.next < len(self.calls):
            self.sent_ms = time_ms
            print("  -> %s" % self.calls[self.next].label(), flush=True)
        elif keyword in ("reply", "unhandled", "noreply"):
            took = "" if time_ms is None or self.sent_ms is None else " (%d ms)" % (time_ms - self.sent_ms)
            if keyword == "reply":
                answer = wire.describe_reply(wire.decode_envelope(bytes.fromhex(rest.partition(" ")[2])))
            else:
                answer = keyword
            print("  <- %s%s" % (answer, took), flush=True)
            self.next += 1
        elif keyword == "service":
            print("     service %s" % rest, flush=True)
        elif keyword == "services":
            print("     %s" % text, flush=True)
        elif keyword == "window":
            self.window = [int(n) for n in rest.split()[:4]]
        elif text == "note snapshot window":
            self.screenshot = take_screenshot(self.runner, self.window)
        elif keyword in ("error", "misuse", "noreply", "latereply"):
            print("  !! %s" % text, flush=True)


def take_screenshot(runner, window):
    """The window and a margin around it, from the Xvfb display, with scrot."""
    artifacts = os.path.join(runner.wine_root, "artifacts")
    os.makedirs(artifacts, exist_ok=True)
    path = os.path.join(artifacts, "run-demo.png")
    try:
        with open(os.path.join(runner.wine_root, "wine", "display")) as f:
            display = ":" + f.read().strip()
    except OSError:
        return "no screenshot: no display"
    if window:
        x, y, w, h = window
        left, top = max(0, x - MARGIN), max(0, y - MARGIN)
        area = "%d,%d,%d,%d" % (left, top, w + 2 * MARGIN, h + 2 * MARGIN)
    else:
        area = "0,0,1310,750"
    done = subprocess.run(["scrot", "--overwrite", "--autoselect", area, path],
                          env=dict(os.environ, DISPLAY=display), stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT)
    if done.returncode != 0:
        return "no screenshot: scrot failed: " + done.stdout.decode("utf-8", "replace").strip()
    return path


def heading(text):
    print()
    print("== " + text)


def show_text(data, indent="   "):
    text = data.decode("utf-8", "replace")
    lines = text.split("\n")
    if lines and lines[-1] == "":
        lines.pop()  # the text's last line end, not a line of its own
    else:
        lines[-1] += "  [no line end]"
    for line in lines:
        ending = ""
        if line.endswith("\r"):
            line, ending = line[:-1], "  [CR LF]"
        print(indent + line + ending)


def main():
    options = parse_arguments()
    config = driver.SAMPLE_CONFIG
    if options.config:
        with open(options.config, "rb") as f:
            config = f.read().decode("utf-8")
    network_id = options.network_id

    runner = driver.Driver(name="run-demo", timeout_s=180)
    print("preparing Wine (private prefix in %s, Xvfb display)" % os.path.relpath(runner.prefix, REPO))
    setup = subprocess.run([runner.wine_run, "--setup"], env=dict(os.environ, TARVEX_WINE_ROOT=runner.wine_root),
                           stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    if setup.returncode != 0:
        print(setup.stdout.decode("utf-8", "replace"))
        print("run-demo: Wine could not be prepared")
        return 1
    print("  APPDATA %s, TEMP %s" % (runner.folders()["APPDATA"], runner.folders()["TEMP"]))

    steps = driver.default_scenario(config, network_id, hold_open_ms=HOLD_OPEN_MS)
    progress = Progress(runner, steps)
    print("running tarvex.exe under Wine, the Flutter side scripted:")
    try:
        outcome = runner.run(steps, keep_wine=options.keep_wine, fresh=not options.keep_wine,
                             on_line=progress)
    except driver.DriverError as e:
        print("run-demo: %s" % e)
        return 1
    finally:
        if not options.keep_wine:
            subprocess.run([runner.wine_run, "--shutdown"],
                           env=dict(os.environ, TARVEX_WINE_ROOT=runner.wine_root),
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    start = progress.first_ms or outcome.started_ms

    def at(ms):
        return "   ?    " if ms is None else "%+7.3fs" % ((ms - start) / 1000.0)

    heading("calls on tarvex/windows_vpn (time from the program's first transcript line)")
    for call in outcome.calls:
        took = "" if call.elapsed_ms is None else "  (%d ms)" % call.elapsed_ms
        print("%s  %s" % (at(call.sent_ms), call.label))
        print("%s  -> %s%s" % (at(call.replied_ms), call.describe(), took))

    heading("tunnel services (WireGuardTunnel$...)")
    names = ["while the tunnel was up", "after stopTunnel"]
    for name, listing in zip(names, outcome.services):
        if listing.error is not None:
            print("   %s: cannot list (error %s)" % (name, listing.error))
        elif listing.services:
            print("   %s: %s" % (name, ", ".join("%s %s" % s for s in listing.services)))
        else:
            print("   %s: none" % name)

    heading("configuration file while up (%s)" % runner.wg_directory_windows)
    up = outcome.snapshots.get("up")
    if up is None or not up.wg_files:
        print("   (none)")
    else:
        for file_name, data in up.wg_files.items():
            print("   %s, %d bytes:" % (file_name, len(data)))
            show_text(data, "     ")
    after = outcome.wg_files
    print("   after the run: %s" % (", ".join(after) if after else "the wg folder is empty"))

    heading("debug log (%APPDATA%\\Tarvex\\windows_vpn_debug.log)")
    for line in outcome.log_lines:
        print("   " + line)

    heading("netsh command lines (netsh stand-in's record)")
    for line in outcome.netsh:
        print("   %s  %s" % (at(line.start_ms), line.command_line))

    heading("wireguard.exe stand-in's record")
    for line in sorted(outcome.wireguard, key=lambda w: w.start_ms or 0):
        if line.action is None:
            print("   " + line.text)
        else:
            print("   %s  %-13s %s -> %s" % (at(line.start_ms), line.action, line.arguments, line.result))

    problems = outcome.transcript_lines("error") + outcome.transcript_lines("misuse")
    if problems:
        heading("stand-in problems")
        for text in problems:
            print("   " + text)
    if outcome.program_output.strip():
        heading("program's own output")
        for line in outcome.program_output.splitlines():
            print("   " + line)

    heading("result")
    print("   exit code %s" % outcome.exit_code)
    shot = progress.screenshot or "no screenshot: the window note never came"
    if shot.startswith("no screenshot"):
        print("   " + shot)
    else:
        print("   screenshot of the window: %s" % os.path.relpath(shot, REPO))
    if options.keep_wine:
        print("   Wine keeps running (--keep-wine); stop it with: TARVEX_WINE_ROOT=%s cmake/wine-run --shutdown"
              % os.path.relpath(runner.wine_root, REPO))
    return 0 if outcome.exit_code == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
