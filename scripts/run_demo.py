"""The Python half of scripts/run-demo (which builds first): prepares Wine,
runs tarvex.exe with the default scenario through the end-to-end driver,
prints each call as it goes and then everything the run left behind."""

import argparse
import os
import sys

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(REPO, "tests", "e2e"))

import driver  # noqa: E402
import wire  # noqa: E402

HOLD_OPEN_MS = 3000
MARGIN = 16
SAMPLE_NETWORK_ID = "office"


def default_scenario(config=driver.SAMPLE_CONFIG, network_id=SAMPLE_NETWORK_ID, hold_open_ms=0):
    """The main job's run: one tunnel up and down, asked about on the way."""
    Call, Services, Snapshot = driver.Call, driver.Services, driver.Snapshot
    steps = [Call("isConnected"), Call("startTunnel", {"networkId": network_id, "config": config}),
             Call("isConnected"), Services(), Snapshot("up"), Call("stopTunnel", {"networkId": network_id}),
             Call("isConnected"), Services()]
    if hold_open_ms:
        steps += [driver.Line("window report"), Snapshot("window", hold_open_ms)]
    return steps + [driver.Close()]


def read_config(path):
    """The file's bytes as they are: bytes that are not UTF-8 travel unchanged
    (the channel's encoder writes them back as they were)."""
    with open(path, "rb") as f:
        return f.read().decode("utf-8", "surrogateescape")


_CONTROL = {i: "\\x%02x" % i for i in list(range(0x20)) + [0x7F] if i != 0x09}
_CONTROL[0x0D] = "\\r"


def printable(text):
    """Text for the terminal: control characters (a carriage return, an
    escape sequence in a network id) are shown, not obeyed."""
    return text.translate(_CONTROL)


def parse_arguments(argv=None):
    parser = argparse.ArgumentParser(
        prog="scripts/run-demo",
        description="Builds the Windows program, runs it under Wine with a scripted Flutter side "
                    "(isConnected, startTunnel, isConnected, stopTunnel, isConnected) and shows what "
                    "happened: replies, tunnel service, configuration file, debug log, netsh and "
                    "wireguard.exe records, and a screenshot.")
    parser.add_argument("--config", metavar="FILE",
                        help="the WireGuard configuration to start (default: a sample with documentation "
                             "addresses)")
    parser.add_argument("--network-id", metavar="ID", default=SAMPLE_NETWORK_ID,
                        help="the network id (default: %(default)s); the tunnel is tarvex_<ID>")
    parser.add_argument("--keep-wine", action="store_true",
                        help="leave the Wine environment (wineserver, tunnel services, the wg folder) running "
                             "after the run, and start from it when it already runs: a second run is a "
                             "restart of the program")
    # The wrapper checks the arguments before it spends minutes on the build.
    parser.add_argument("--parse-only", action="store_true", help=argparse.SUPPRESS)
    options = parser.parse_args(argv)
    if options.config is not None:
        if not os.path.isfile(options.config):
            parser.error("no such file: %s" % options.config)
        try:
            options.config_text = read_config(options.config)
        except OSError as e:
            parser.error("cannot read %s: %s" % (options.config, e.strerror))
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
            print("  -> %s" % self.calls[self.next].label, flush=True)
        elif keyword in ("reply", "unhandled", "noreply"):
            took = "" if time_ms is None or self.sent_ms is None else " (%d ms)" % (time_ms - self.sent_ms)
            if keyword == "reply":
                answer = wire.describe_reply(bytes.fromhex(rest.partition(" ")[2]))
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


def wine_run(runner, option, timeout_s):
    """wine-run --setup or --shutdown, bounded; (exit code, output)."""
    try:
        code, output = driver.run_bounded([runner.wine_run, option],
                                          dict(os.environ, TARVEX_WINE_ROOT=runner.wine_root), timeout_s)
    except driver.DriverError as e:
        return 1, str(e)
    return code, output.decode("utf-8", "replace")


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
    try:
        code, output = driver.run_bounded(["scrot", "--overwrite", "--autoselect", area, path],
                                          dict(os.environ, DISPLAY=display), 30)
    except (driver.DriverError, OSError) as e:
        return "no screenshot: scrot: %s" % e
    if code != 0:
        return "no screenshot: scrot failed: " + output.decode("utf-8", "replace").strip()
    return path


def heading(text):
    print()
    print("== " + text)


def show_text(data, indent="   "):
    """A file's lines with their line ends named: "[CR LF]", or nothing for a
    bare LF; any other carriage return shows as \\r (CR CR LF: "\\r  [CR LF]")."""
    text = data.decode("utf-8", "replace")
    lines = text.split("\n")
    last_ending = "  [no line end]"
    if lines[-1] == "":
        lines.pop()  # the text's last line end, not a line of its own
        last_ending = None
    for i, line in enumerate(lines):
        ending = ""
        if i == len(lines) - 1 and last_ending:
            ending = last_ending
        elif line.endswith("\r"):
            line, ending = line[:-1], "  [CR LF]"
        print(indent + printable(line) + ending)


def main():
    options = parse_arguments()
    try:
        return run(options)
    except KeyboardInterrupt:
        # The driver has ended the program's processes on its way out.
        print("\nrun-demo: interrupted")
        if not options.keep_wine:
            wine_run(driver.Driver(name="run-demo"), "--shutdown", 60)
        return 130


def run(options):
    config = options.config_text if options.config is not None else driver.SAMPLE_CONFIG
    network_id = options.network_id

    runner = driver.Driver(name="run-demo", timeout_s=180)
    print("preparing Wine (private prefix in %s, Xvfb display)" % os.path.relpath(runner.prefix, REPO))
    code, output = wine_run(runner, "--setup", 420)
    if code != 0:
        print(output)
        print("run-demo: Wine could not be prepared")
        return 1
    try:
        print("  APPDATA %s, TEMP %s" % (runner.folders()["APPDATA"], runner.folders()["TEMP"]))
    except driver.DriverError as e:
        print("run-demo: %s" % e)
        return 1

    steps = default_scenario(config, network_id, hold_open_ms=HOLD_OPEN_MS)
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
            wine_run(runner, "--shutdown", 60)
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
        if listing[-1:] and listing[-1][0] == "error":
            print("   %s: cannot list (error %s)" % (name, listing[-1][1]))
        elif listing:
            print("   %s: %s" % (name, printable(", ".join("%s %s" % s for s in listing))))
        else:
            print("   %s: none" % name)

    heading("configuration file while up (%s)" % runner.wg_directory_windows)
    up = outcome.snapshots.get("up")
    if up is None or not up.wg_files:
        print("   (none)")
    else:
        for file_name, data in up.wg_files.items():
            print("   %s, %d bytes:" % (printable(file_name), len(data)))
            show_text(data, "     ")
            if b"\r\r\n" in data:
                print("     (the text sent had CR LF line ends; the plugin writes it in text mode, so each is"
                      " stored as CR CR LF)")
    after = outcome.wg_files
    print("   after the run: %s" % (printable(", ".join(after)) if after else "the wg folder is empty"))

    heading("debug log (%APPDATA%\\Tarvex\\windows_vpn_debug.log)")
    for line in outcome.log_lines:
        print("   " + printable(line))

    heading("netsh command lines (netsh stand-in's record)")
    for line in outcome.netsh:
        print("   %s  %s" % (at(line.start_ms), printable(line.text)))

    heading("wireguard.exe stand-in's record")
    for line in outcome.wireguard:
        print("   %s  %s" % (at(line.start_ms), printable(line.text)))

    problems = outcome.transcript_lines("error") + outcome.transcript_lines("misuse")
    if problems:
        heading("stand-in problems")
        for text in problems:
            print("   " + printable(text))
    if outcome.program_output.strip():
        heading("program's own output")
        for line in outcome.program_output.splitlines():
            print("   " + printable(line))

    heading("result")
    print("   exit code %s%s" % (outcome.exit_code, " (wine-run's time limit)" if outcome.exit_code == 124 else ""))
    for line in reply_notes(outcome.calls):
        print("   " + line)
    shot = progress.screenshot or "no screenshot: the window note never came"
    if shot.startswith("no screenshot"):
        print("   " + shot)
    else:
        print("   screenshot of the window: %s" % os.path.relpath(shot, REPO))
    if options.keep_wine:
        print("   Wine keeps running (--keep-wine); stop it with: TARVEX_WINE_ROOT=%s cmake/wine-run --shutdown"
              % os.path.relpath(runner.wine_root, REPO))
    return 0 if outcome.exit_code == 0 and not any(map(unanswered, outcome.calls)) else 1


def unanswered(call):
    """No reply, or one the codec cannot read."""
    return call.status != "reply" or call.describe().startswith(wire.UNDECODABLE)


def reply_notes(calls):
    """What a reader should not miss in the replies: a call left without a
    reply, an error, a tunnel that was not created or removed."""
    notes = []
    for call in calls:
        if unanswered(call):
            notes.append("%s: %s" % (call.method, call.describe()))
        elif call.reply[:1] == b"\x01":
            notes.append("%s answered with an error: %s" % (call.method, call.describe()))
        elif call.method in ("startTunnel", "stopTunnel") and call.reply == wire.FALSE:
            notes.append("%s answered false: the tunnel was not %s (the debug log above says why)"
                         % (call.method, "created" if call.method == "startTunnel" else "removed"))
    return notes


if __name__ == "__main__":
    sys.exit(main())
