"""Runs tarvex.exe under Wine with a scripted Flutter side and gathers what
the run left behind.

One run:
  1. prepare a clean state in the shared Wine prefix: no WireGuardTunnel$...
     service, no debug log, an empty wg directory, empty netsh and
     wireguard.exe stand-in records;
  2. write the engine stand-in's script from a list of steps (method calls
     encoded with wire.py, raw bytes, service listings, notes, sleeps, close);
  3. run build/windows/bin/tarvex.exe under cmake/wine-run --display, with the
     stand-in's transcript timed, watching the transcript as it grows (for
     snapshots at notes and for a caller that prints progress);
  4. return an Outcome: exit code, each call with its decoded reply and its
     times, the transcript, the debug log, the netsh and wireguard.exe
     records, the wg directory's files (at snapshots and after the run), the
     service listings.

Standard library only. Example:

    from driver import Driver, Call, Services, Close
    outcome = Driver().run([Call("isConnected"), Services(), Close()])
    print(outcome.calls[0].reply)
"""

import contextlib
import fcntl
import os
import re
import shutil
import signal
import subprocess
import time

import wire

CHANNEL = "tarvex/windows_vpn"
TUNNEL_SERVICE_PREFIX = "WireGuardTunnel$"
REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

# Sample keys: base64 of 32 bytes of plain text, so nobody mistakes them for
# real ones. Addresses are from the documentation ranges.
SAMPLE_PRIVATE_KEY = "c2FtcGxlIHByaXZhdGUga2V5LCBub3QgcmVhbCEhISE="   # "sample private key, not real!!!!"
SAMPLE_PUBLIC_KEY = "c2FtcGxlIHB1YmxpYyBrZXkgLSBub3QgYSByZWFsIDE="    # "sample public key - not a real 1"
SAMPLE_CONFIG = (
    "[Interface]\n"
    "PrivateKey = " + SAMPLE_PRIVATE_KEY + "\n"
    "Address = 10.66.66.2/32\n"
    "DNS = 192.0.2.53\n"
    "\n"
    "[Peer]\n"
    "PublicKey = " + SAMPLE_PUBLIC_KEY + "\n"
    "AllowedIPs = 0.0.0.0/0\n"
    "Endpoint = 203.0.113.5:51820\n"
    "PersistentKeepalive = 25\n"
)
SAMPLE_NETWORK_ID = "office"


class DriverError(Exception):
    """The run could not be prepared, started or read."""


# --- steps -------------------------------------------------------------------

class Call:
    """A method call on the channel, encoded with wire.py."""

    def __init__(self, method, arguments=None, channel=CHANNEL):
        self.method, self.arguments, self.channel = method, arguments, channel

    def message(self):
        return wire.encode_method_call(self.method, self.arguments)

    def label(self):
        if self.arguments is None:
            return self.method
        return "%s %s" % (self.method, wire.describe(_shortened(self.arguments)))

    def script_lines(self):
        return ["send %s %s" % (self.channel, self.message().hex())]


class Raw(Call):
    """Bytes sent as they are, whatever they decode to."""

    def __init__(self, data, channel=CHANNEL, label=None):
        super().__init__(None, None, channel)
        self.data = bytes(data)
        self._label = label

    def message(self):
        return self.data

    def label(self):
        return self._label or "raw %s" % (self.data.hex() or "(empty)")


class Services:
    """The engine stand-in lists the services whose name begins with a prefix."""

    def __init__(self, prefix=TUNNEL_SERVICE_PREFIX):
        self.prefix = prefix

    def script_lines(self):
        return ["services " + self.prefix]


class Note:
    def __init__(self, text):
        self.text = text

    def script_lines(self):
        return ["note " + self.text]


class Snapshot:
    """A point where the driver copies the wg directory's files and the records
    so far: the script writes a note and then holds still for hold_ms while
    the driver copies."""

    def __init__(self, name, hold_ms=1500):
        self.name, self.hold_ms = name, hold_ms

    def script_lines(self):
        return ["note snapshot " + self.name, "sleep %d" % self.hold_ms]


class Sleep:
    def __init__(self, milliseconds):
        self.milliseconds = milliseconds

    def script_lines(self):
        return ["sleep %d" % self.milliseconds]


class Line:
    """Any other script line (window report, dialogs accept, ...)."""

    def __init__(self, text):
        self.text = text

    def script_lines(self):
        return [self.text]


class Close:
    def script_lines(self):
        return ["close"]


def default_scenario(config=SAMPLE_CONFIG, network_id=SAMPLE_NETWORK_ID, hold_open_ms=0):
    """The main job's run: one tunnel up and down, asked about on the way."""
    steps = [
        Call("isConnected"),
        Call("startTunnel", {"networkId": network_id, "config": config}),
        Call("isConnected"),
        Services(),
        Snapshot("up"),
        Call("stopTunnel", {"networkId": network_id}),
        Call("isConnected"),
        Services(),
    ]
    if hold_open_ms:
        steps += [Line("window report"), Snapshot("window", hold_open_ms)]
    return steps + [Close()]


def _shortened(value):
    if isinstance(value, str) and len(value) > 40:
        return value[:37] + "..."
    if isinstance(value, dict):
        return {k: _shortened(v) for k, v in value.items()}
    return value


# --- outcome -----------------------------------------------------------------

class CallResult:
    def __init__(self, step, index):
        self.step = step
        self.index = index          # position among the run's calls
        self.method = step.method       # None for raw bytes
        self.label = step.label()
        self.channel = step.channel
        self.message = step.message()
        self.sent_ms = None         # from the stand-in's "sending" line
        self.replied_ms = None
        self.status = None          # "reply", "unhandled", "noreply"
        self.reply_bytes = None
        self.reply = None           # wire.Success / wire.Error / wire.NotImplementedReply
        self.late_reply = None      # bytes of a reply after the time-out

    @property
    def elapsed_ms(self):
        if self.sent_ms is None or self.replied_ms is None:
            return None
        return self.replied_ms - self.sent_ms

    def describe(self):
        if self.status == "reply":
            return describe_reply_bytes(self.reply_bytes)
        return self.status or "no answer (the run ended first)"


def decode_reply(data):
    """The decoded envelope, or None for bytes that are no envelope (then the
    comparison with the expected reply fails, rather than the whole run)."""
    try:
        return wire.decode_envelope(data)
    except (wire.Truncated, ValueError):
        return None


def describe_reply_bytes(data):
    reply = decode_reply(data)
    if reply is None:
        return "undecodable reply: hex %s" % (data.hex() or "(empty)")
    return wire.describe_reply(reply)


class ServiceListing:
    def __init__(self, prefix, time_ms):
        self.prefix = prefix
        self.time_ms = time_ms
        self.services = []          # (name, state) as the stand-in wrote them
        self.error = None           # the stand-in's error code, when listing failed
        self.done = False

    def names(self, state=None):
        return [name for name, s in self.services if state is None or s == state]


class SnapshotResult:
    def __init__(self, name, time_ms):
        self.name = name
        self.time_ms = time_ms
        self.wg_files = {}
        self.log_lines = []
        self.netsh = []
        self.wireguard = []
        self.in_time = True         # False when the script went on before the copy ended


class NetshLine:
    def __init__(self, start_ms, end_ms, command_line):
        self.start_ms, self.end_ms, self.command_line = start_ms, end_ms, command_line


class WireguardLine:
    def __init__(self, text):
        self.text = text
        parts = text.split(" ", 4)
        try:
            self.start_ms, self.end_ms, self.pid = int(parts[0]), int(parts[1]), int(parts[2])
            self.action = parts[3]
            arguments, _, self.result = parts[4].rpartition(" -> ")
            self.arguments = arguments
        except (IndexError, ValueError):
            self.start_ms = self.end_ms = self.pid = None
            self.action = self.arguments = self.result = None


class Outcome:
    def __init__(self):
        self.exit_code = None
        self.started_ms = None
        self.ended_ms = None
        self.calls = []
        self.transcript = []        # (time_ms or None, text)
        self.log_lines = []         # debug log, CR LF stripped
        self.netsh = []             # NetshLine
        self.wireguard = []         # WireguardLine
        self.wg_files = {}          # after the run: name -> bytes
        self.snapshots = {}         # name -> SnapshotResult
        self.services = []          # ServiceListing, in script order
        self.services_left = None   # WireGuardTunnel$... services registered when the program had ended
        self.netsh_ended = []       # ids of the netsh processes still running then, which the driver ended
        self.service_prefixes = []  # of the Services steps, in order
        self.program_output = ""
        self.script = []
        self.paths = {}
        self._send_place = self._reply_place = 0   # where first_waiting goes on

    def first_waiting(self, for_send=False):
        """The first call still waiting for its reply and, for_send, for its
        "sending" line too; None when none waits. Calls are sent and answered
        in order, so a call that stopped waiting never waits again: each search
        goes on from where the last one stopped, and a run of 10,000 calls is
        read in linear time."""
        place = self._send_place if for_send else self._reply_place
        while place < len(self.calls) and (self.calls[place].status is not None
                                           or (for_send and self.calls[place].sent_ms is not None)):
            place += 1
        if for_send:
            self._send_place = place
        else:
            self._reply_place = place
        return self.calls[place] if place < len(self.calls) else None

    @property
    def log_messages(self):
        """The debug log's messages without their "[date time] " stamps."""
        return [_LOG_STAMP.sub("", line, count=1) for line in self.log_lines]

    def transcript_lines(self, keyword):
        return [text for _, text in self.transcript if text.split(" ", 1)[0] == keyword]

    @property
    def netsh_commands(self):
        return [line.command_line for line in self.netsh]

    def replies(self):
        return [call.reply for call in self.calls]


_LOG_STAMP = re.compile(r"^\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] ")
_TIMED = re.compile(r"^(\d{12,}) (.*)$")


# --- the driver --------------------------------------------------------------

def session_members(session):
    """The ids of the processes in a session, from /proc."""
    members = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry, "rb") as f:
                stat = f.read()
        except OSError:
            continue
        # After the command's closing parenthesis: state, parent, group, session.
        fields = stat[stat.rfind(b")") + 1:].split()
        if len(fields) > 3 and int(fields[3]) == session:
            members.append(int(entry))
    return members


def end_process_tree(process):
    """Ends a process we started in a session of its own, and everything in
    that session, each by its process id.

    wine-run runs the program under timeout(1), which moves itself into a
    process group of its own: killing wine-run alone would leave tarvex.exe
    running, holding the single-instance mutex, until its own time limit.
    What lives on beyond one run starts a session of its own (Xvfb,
    wineserver, Wine's service manager and the tunnel services it runs, the
    program's child processes), so it is not touched."""
    if process.poll() is None:
        for _ in range(3):  # a member may start another while we look
            members = [pid for pid in session_members(process.pid) if pid != process.pid]
            if not members:
                break
            for pid in members:
                try:
                    os.kill(pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
        process.kill()
    process.wait()
    # Members that outlived their session leader (it ended on its own).
    for pid in session_members(process.pid):
        try:
            os.kill(pid, signal.SIGKILL)
        except ProcessLookupError:
            pass


def run_bounded(command, env, timeout_s, stdout=subprocess.PIPE):
    """Runs a command with a time limit; on the limit (or an interrupt) ends
    its whole process tree. Returns (exit code, output bytes or None)."""
    process = subprocess.Popen(command, env=env, stdin=subprocess.DEVNULL, stdout=stdout,
                               stderr=subprocess.STDOUT, start_new_session=True)
    try:
        output, _ = process.communicate(timeout=timeout_s)
    except subprocess.TimeoutExpired:
        end_process_tree(process)
        raise DriverError("did not end within %d s: %s" % (timeout_s, " ".join(command)))
    finally:
        end_process_tree(process)
        if process.stdout:
            process.stdout.close()
    return process.returncode, output


# One prefix, one user at a time: every run prepares by removing every tunnel
# service and emptying the shared records, and the program runs as a single
# instance, so two processes driving the same prefix (two ctest invocations
# in one build folder, timings.py or run-demo beside a test run) break each
# other's runs. CTest's resource locks order the groups of one ctest only; this
# lock, an flock on a file beside the prefix, orders every process. A process
# takes it with its first Driver and keeps it until it ends.
_prefix_locks = {}


def hold_prefix(wine_root, wait_s=900):
    """Takes the lock of the prefix under wine_root for this process, waiting
    up to wait_s for another process to end its use."""
    path = os.path.join(wine_root, "wine", "driver.lock")
    if path in _prefix_locks:
        return
    os.makedirs(os.path.dirname(path), exist_ok=True)
    descriptor = os.open(path, os.O_RDWR | os.O_CREAT, 0o644)
    deadline = time.monotonic() + wait_s
    told = False
    while True:
        try:
            fcntl.flock(descriptor, fcntl.LOCK_EX | fcntl.LOCK_NB)
            break
        except BlockingIOError:
            if time.monotonic() > deadline:
                os.close(descriptor)
                raise DriverError("another process has used the Wine prefix for %d s: %s" % (wait_s, path))
            if not told:
                print("driver: waiting for another process's runs in this prefix to end (%s)" % path, flush=True)
                told = True
            time.sleep(0.2)
    _prefix_locks[path] = descriptor
    # Our own wine-run --shutdown must not wait for the lock we hold.
    os.environ["TARVEX_PREFIX_LOCK_HELD"] = path


def stray_installs(folder_windows):
    """Ids of the running wireguard.exe installs started from under a folder
    (a Windows path): Wine shows a program's command line in /proc."""
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/cmdline" % entry, "rb") as f:
                words = f.read().split(b"\0")
        except OSError:
            continue
        words = [word.decode("utf-8", "replace") for word in words]
        program = any(w.startswith(folder_windows + "\\") and w.lower().endswith("\\wireguard.exe")
                      for w in words)
        if program and "/installtunnelservice" in words:
            found.append(int(entry))
    return found


def running_netsh(prefix):
    """Ids of the netsh processes running in a Wine prefix: the program calls
    it by its bare name, which Wine shows as the first word in /proc."""
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/cmdline" % entry, "rb") as f:
                program = f.read().split(b"\0")[0].decode("utf-8", "replace").lower()
            if program.rpartition("\\")[2] not in ("netsh", "netsh.exe"):
                continue
            with open("/proc/%s/environ" % entry, "rb") as f:
                environment = f.read().split(b"\0")
        except OSError:
            continue
        if ("WINEPREFIX=" + prefix).encode() in environment:
            found.append(int(entry))
    return found


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class Driver:
    """Runs scenarios in the Wine prefix of one build folder (default
    build/windows, or TARVEX_WINE_ROOT). Not for two runs at once."""

    def __init__(self, wine_root=None, timeout_s=120, reply_timeout_ms=60000, name="run"):
        self.wine_root = os.path.abspath(wine_root or os.environ.get("TARVEX_WINE_ROOT")
                                         or os.path.join(REPO, "build", "windows"))
        self.timeout_s = timeout_s
        self.reply_timeout_ms = reply_timeout_ms
        self.wine_run = os.path.join(REPO, "cmake", "wine-run")
        self.program = os.path.join(self.wine_root, "bin", "tarvex.exe")
        self.wireguard_exe = os.path.join(self.wine_root, "bin", "bin", "wireguard.exe")
        self.wireguard_record = os.path.join(self.wine_root, "bin", "bin", "wireguard-standin.log")
        self.prefix = os.path.join(self.wine_root, "wine", "prefix")
        self.netsh_record = os.path.join(self.prefix, "drive_c", "windows", "system32", "netsh-standin.log")
        self.netsh_faults = os.path.join(self.prefix, "drive_c", "windows", "system32", "netsh-standin.faults")
        self.work = os.path.join(self.wine_root, "e2e", name)
        self._folders = None
        for needed in (self.program, self.wireguard_exe, self.wine_run):
            if not os.path.exists(needed):
                raise DriverError("missing %s (build the windows preset first)" % needed)
        hold_prefix(self.wine_root)

    # Wine helpers ----------------------------------------------------------

    def wine(self, *arguments, timeout_s=60, env=None):
        """Runs a program under cmake/wine-run; returns (exit code, output).

        Always with the display: the first Wine program of a session settles
        the display for the whole session, and one started without it leaves
        tarvex.exe unable to open its window later (it ends with 1, silently)."""
        run_env = dict(os.environ)
        run_env.update(TARVEX_WINE_ROOT=self.wine_root, TARVEX_WINE_TIMEOUT=str(timeout_s),
                       TARVEX_WINE_DISPLAY="1")
        if env:
            run_env.update(env)
        code, output = run_bounded([self.wine_run] + list(arguments), run_env, timeout_s + 30)
        return code, output.decode("utf-8", "replace")

    def unix_path(self, path):
        """A Windows path of the prefix (C:\\..., Z:\\...) on this side."""
        drive, rest = path[:2].upper(), path[2:].replace("\\", "/").lstrip("/")
        if drive == "Z:":
            return "/" + rest
        if drive == "C:":
            return os.path.join(self.prefix, "drive_c", rest)
        raise DriverError("no Unix path for %s" % path)

    def folders(self):
        """APPDATA and TEMP as the prefix's programs see them (Wine sets both
        from the registry, whatever the Unix environment says)."""
        if self._folders is None:
            code, output = self.wine("cmd", "/c", "set")
            values = {}
            for line in output.splitlines():
                name, sep, value = line.strip("\r").partition("=")
                if sep:
                    values[name.upper()] = value
            if code != 0 or "APPDATA" not in values or "TEMP" not in values:
                raise DriverError("cannot read APPDATA and TEMP in the prefix:\n" + output)
            self._folders = {"APPDATA": values["APPDATA"], "TEMP": values["TEMP"]}
        return self._folders

    @property
    def debug_log(self):
        return os.path.join(self.unix_path(self.folders()["APPDATA"]), "Tarvex", "windows_vpn_debug.log")

    @property
    def wg_directory_windows(self):
        return self.folders()["TEMP"] + "\\wg"

    @property
    def wg_directory(self):
        return self.unix_path(self.wg_directory_windows)

    @property
    def program_windows(self):
        return windows_path(self.program)

    def tunnel_services(self):
        """Names of the WireGuardTunnel$... services the prefix's registry holds."""
        code, output = self.wine("reg", "query", "HKLM\\System\\CurrentControlSet\\Services")
        if code != 0:
            raise DriverError("cannot list the services:\n" + output)
        names = []
        for line in output.splitlines():
            name = line.strip().rpartition("\\")[2]
            if name.startswith(TUNNEL_SERVICE_PREFIX):
                names.append(name)
        return names

    def wait_for_installs(self, limit_s=20):
        """Waits, up to limit_s, for the wireguard.exe installs still running
        from this build: the plugin gives up on an install after 10 s, but
        the install, a process of its own session that outlives the program,
        creates its service when it ends. Removing the services before that
        would leave the late one to the next run. Returns those still running."""
        deadline = time.monotonic() + limit_s
        while True:
            left = stray_installs(windows_path(self.wine_root))
            if not left or time.monotonic() > deadline:
                return left
            time.sleep(0.2)

    def remove_tunnel_services(self):
        """Removes every WireGuardTunnel$... service through the stand-in's
        uninstall, which stops the service first, once no install of this
        build is still running."""
        late = self.wait_for_installs()
        if late:
            raise DriverError("wireguard.exe installs still running after 20 s, whose services would "
                              "outlive the clean-up (process ids %s)" % ", ".join(map(str, late)))
        for service in self.tunnel_services():
            tunnel = service[len(TUNNEL_SERVICE_PREFIX):]
            self.wine(self.wireguard_exe, "/uninstalltunnelservice", tunnel)
        left = self.tunnel_services()
        if left:
            raise DriverError("tunnel services remain after removal: %s" % ", ".join(left))

    @contextlib.contextmanager
    def wine_held(self):
        """Keeps Wine up, with its service manager and the services it runs,
        while the block runs, as Windows stays up between two runs of a
        program: Wine otherwise ends with its last program, ending the tunnel
        services, and its next start starts every auto-start service afresh.
        A program that runs until it is ended holds it (Notepad, on the
        display), and is ended by its id afterwards."""
        env = dict(os.environ)
        env.update(TARVEX_WINE_ROOT=self.wine_root, TARVEX_WINE_TIMEOUT="1800", TARVEX_WINE_DISPLAY="1")
        keeper = subprocess.Popen([self.wine_run, "notepad"], env=env, stdin=subprocess.DEVNULL,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
        try:
            yield
        finally:
            end_process_tree(keeper)

    # State -----------------------------------------------------------------

    def prepare(self, fresh=True):
        """No debug log and empty stand-in records; when fresh, also no tunnel
        services and an empty wg directory (a restart keeps what the first
        run left on the machine)."""
        if fresh:
            self.remove_tunnel_services()
        if os.path.exists(self.debug_log):
            os.remove(self.debug_log)
        if fresh and os.path.isdir(self.wg_directory):
            for entry in os.listdir(self.wg_directory):
                path = os.path.join(self.wg_directory, entry)
                if os.path.isdir(path) and not os.path.islink(path):
                    shutil.rmtree(path)
                else:
                    os.remove(path)
        for record in (self.netsh_record, self.wireguard_record):
            if os.path.exists(record):
                open(record, "wb").close()
        if os.path.exists(self.netsh_faults):
            os.remove(self.netsh_faults)

    def end_running_netsh(self):
        """Ends the netsh processes still running in the prefix (one the
        program gave up waiting for, or whose caller was ended), each by its
        process id, so none outlives the run; returns their ids."""
        ended = running_netsh(self.prefix)
        for pid in ended:
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        return ended

    def read_wg_files(self):
        files = {}
        if os.path.isdir(self.wg_directory):
            for entry in sorted(os.listdir(self.wg_directory)):
                path = os.path.join(self.wg_directory, entry)
                if os.path.isfile(path):
                    with open(path, "rb") as f:
                        files[entry] = f.read()
        return files

    def read_log_lines(self):
        return _text_lines(self.debug_log)

    def read_netsh(self):
        lines = []
        for text in _text_lines(self.netsh_record):
            start, end, command = (text.split(" ", 2) + ["", ""])[:3]
            lines.append(NetshLine(int(start), int(end), command))
        return lines

    def read_wireguard(self):
        return [WireguardLine(text) for text in _text_lines(self.wireguard_record)]

    # The run ---------------------------------------------------------------

    def run(self, steps, keep_wine=False, fresh=True, on_line=None, env=None, arguments=(), netsh_faults=()):
        """Prepares, runs the steps, and returns the Outcome.

        keep_wine: leave the run's tunnel services (and so the Wine
        environment they live in) as they are, for a second run that starts
        where this one ended; otherwise the run's leftover tunnel services are
        removed, so no later test sees them.
        fresh: False keeps the tunnel services and the wg directory an earlier
        run left (the second run of a restart).
        on_line(time_ms, text): called for each transcript line as it appears.
        env: more environment variables for tarvex.exe; arguments: its command line.
        netsh_faults: lines for the netsh stand-in's fault file for this run
        ("hang <text>", "crash <text>": the command whose line holds the text).
        """
        self.prepare(fresh=fresh)
        if netsh_faults:
            with open(self.netsh_faults, "w", encoding="utf-8", newline="\r\n") as f:
                f.write("\n".join(netsh_faults) + "\n")
        os.makedirs(self.work, exist_ok=True)
        script_path = os.path.join(self.work, "script.txt")
        transcript_path = os.path.join(self.work, "transcript.txt")
        output_path = os.path.join(self.work, "output.txt")
        if os.path.exists(transcript_path):
            os.remove(transcript_path)

        outcome = Outcome()
        outcome.paths = {"script": script_path, "transcript": transcript_path, "output": output_path,
                         "debug_log": self.debug_log, "wg_directory": self.wg_directory,
                         "netsh_record": self.netsh_record, "wireguard_record": self.wireguard_record}
        script = []
        for step in steps:
            if isinstance(step, Call):
                outcome.calls.append(CallResult(step, len(outcome.calls)))
            if isinstance(step, Services):
                outcome.service_prefixes.append(step.prefix)
            script += step.script_lines()
        outcome.script = script
        with open(script_path, "w", encoding="utf-8", newline="\n") as f:
            f.write("\n".join(script) + "\n")

        run_env = dict(os.environ)
        run_env.update({
            "TARVEX_WINE_ROOT": self.wine_root,
            "TARVEX_WINE_TIMEOUT": str(self.timeout_s),
            "TARVEX_ENGINE_SCRIPT": windows_path(script_path),
            "TARVEX_ENGINE_TRANSCRIPT": windows_path(transcript_path),
            "TARVEX_STANDIN_TIMES": "1",
            "TARVEX_STANDIN_DPI": "96",
            "TARVEX_STANDIN_REPLY_TIMEOUT_MS": str(self.reply_timeout_ms),
            "WINEDLLOVERRIDES": "netsh.exe=n",
        })
        if env:
            run_env.update(env)

        try:
            reader = _TranscriptReader(transcript_path)
            outcome.started_ms = int(time.time() * 1000)
            with open(output_path, "wb") as output:
                # A session of its own: a Ctrl-C at the terminal reaches only
                # us, and we end the program's whole process tree below.
                process = subprocess.Popen([self.wine_run, "--display", self.program] + list(arguments),
                                           env=run_env, stdin=subprocess.DEVNULL, stdout=output,
                                           stderr=subprocess.STDOUT, start_new_session=True)
                deadline = time.monotonic() + self.timeout_s + 30
                try:
                    while True:
                        ended = process.poll() is not None
                        self._take_lines(outcome, reader, on_line)
                        if ended:
                            break
                        if time.monotonic() > deadline:
                            end_process_tree(process)
                            raise DriverError("tarvex.exe did not end within %d s" % self.timeout_s)
                        time.sleep(0.05)
                finally:
                    end_process_tree(process)
            outcome.exit_code = process.returncode
            outcome.ended_ms = int(time.time() * 1000)
            outcome.netsh_ended = self.end_running_netsh()
            self._take_lines(outcome, reader, on_line, final=True)
            with open(output_path, "rb") as f:
                outcome.program_output = f.read().decode("utf-8", "replace")

            outcome.log_lines = self.read_log_lines()
            outcome.netsh = self.read_netsh()
            outcome.wireguard = self.read_wireguard()
            outcome.wg_files = self.read_wg_files()
            outcome.services_left = self.tunnel_services()
        finally:
            # Nothing the run installed is left for later tests, even when it failed.
            self.end_running_netsh()
            if os.path.exists(self.netsh_faults):
                os.remove(self.netsh_faults)
            if not keep_wine:
                self.remove_tunnel_services()
        return outcome

    def _take_lines(self, outcome, reader, on_line, final=False):
        lines = reader.new_lines(final)
        for i, line in enumerate(lines):
            self._take_line(outcome, line, on_line, lambda: i + 1 < len(lines) or reader.grew())

    def _take_line(self, outcome, line, on_line, more_lines):
        match = _TIMED.match(line)
        time_ms, text = (int(match.group(1)), match.group(2)) if match else (None, line)
        outcome.transcript.append((time_ms, text))
        if on_line:
            on_line(time_ms, text)
        keyword, _, rest = text.partition(" ")
        if keyword == "sending":
            call = outcome.first_waiting(for_send=True)
            if call:
                call.sent_ms = time_ms
        elif keyword in ("reply", "unhandled", "noreply"):
            call = outcome.first_waiting()
            if call:
                call.status = keyword
                call.replied_ms = time_ms
                if keyword == "reply":
                    channel, _, hex_text = rest.partition(" ")
                    call.reply_bytes = bytes.fromhex(hex_text)
                    call.reply = decode_reply(call.reply_bytes)
        elif keyword == "latereply":
            waiting = [c for c in outcome.calls if c.status == "noreply" and c.late_reply is None]
            if waiting:
                waiting[0].late_reply = bytes.fromhex(rest.partition(" ")[2])
        elif keyword == "service":
            name, _, state = rest.rpartition(" ")
            self._open_listing(outcome, time_ms).services.append((name, state))
        elif keyword == "services":
            # The "service" lines come first; the count or the error closes the listing.
            listing = self._open_listing(outcome, time_ms)
            if rest.startswith("error "):
                listing.error = rest[len("error "):]
            listing.time_ms = time_ms
            listing.done = True
        elif keyword == "note" and rest.startswith("snapshot "):
            name = rest[len("snapshot "):]
            snapshot = SnapshotResult(name, time_ms)
            snapshot.wg_files = self.read_wg_files()
            snapshot.log_lines = self.read_log_lines()
            snapshot.netsh = self.read_netsh()
            snapshot.wireguard = self.read_wireguard()
            # The script holds still after the note; a line after it already
            # means the copy came too late to be trusted.
            snapshot.in_time = not more_lines()
            outcome.snapshots[name] = snapshot

    @staticmethod
    def _open_listing(outcome, time_ms):
        if outcome.services and not outcome.services[-1].done:
            return outcome.services[-1]
        index = len(outcome.services)
        prefixes = outcome.service_prefixes
        listing = ServiceListing(prefixes[index] if index < len(prefixes) else None, time_ms)
        outcome.services.append(listing)
        return listing


class _TranscriptReader:
    """Reads whole lines of a file another process appends to."""

    def __init__(self, path):
        self.path = path
        self.offset = 0
        self.partial = b""

    def new_lines(self, final=False):
        try:
            with open(self.path, "rb") as f:
                f.seek(self.offset)
                data = f.read()
        except FileNotFoundError:
            return []
        self.offset += len(data)
        data = self.partial + data
        lines = data.split(b"\n")
        self.partial = lines.pop()
        if final and self.partial:
            lines.append(self.partial)
            self.partial = b""
        return [line.rstrip(b"\r").decode("utf-8", "replace") for line in lines]

    def grew(self):
        try:
            return os.path.getsize(self.path) > self.offset
        except OSError:
            return False


def read_bytes(path):
    """The file's bytes, or None when it does not exist."""
    try:
        with open(path, "rb") as f:
            return f.read()
    except FileNotFoundError:
        return None


def _text_lines(path):
    data = read_bytes(path)
    if not data:
        return []
    text = data.decode("utf-8", "surrogateescape")
    if text.endswith("\n"):
        text = text[:-1]
    return [line.rstrip("\r") for line in text.split("\n")]
