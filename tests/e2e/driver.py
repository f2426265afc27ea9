"""Runs tarvex.exe under Wine with the engine stand-in playing the Flutter side from a script, and
gathers what the run left: Driver().run([Call("isConnected"), Close()]).calls[0].reply (tests/e2e/README.md)."""

import collections
import contextlib
import copy
import fcntl
import os
import re
import shutil
import signal
import subprocess
import time
import types

import wire

CHANNEL, TUNNEL_SERVICE_PREFIX = "tarvex/windows_vpn", "WireGuardTunnel$"
REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
# Keys: base64 of plain text ("sample private key, not real!!!!"); documentation addresses.
SAMPLE_CONFIG = ("[Interface]\nPrivateKey = c2FtcGxlIHByaXZhdGUga2V5LCBub3QgcmVhbCEhISE=\nAddress = 10.66.66.2/32\n"
                 "DNS = 192.0.2.53\n\n[Peer]\nPublicKey = c2FtcGxlIHB1YmxpYyBrZXkgLSBub3QgYSByZWFsIDE=\n"
                 "AllowedIPs = 0.0.0.0/0\nEndpoint = 203.0.113.5:51820\nPersistentKeepalive = 25\n")
# A stand-in's record line without the process id: a netsh command line, wireguard.exe's "<action> ... -> <outcome>".
Record = collections.namedtuple("Record", "start_ms end_ms text")


class DriverError(Exception):  # the run could not be prepared, started or read
    pass


class Line:
    def __init__(self, *lines, **wanted):  # wanted: what a test wants of the step (a listing, files)
        self.script = list(lines)
        self.__dict__.update(wanted)


class Call(Line):
    """A method call, or `data` as it is; the run's copy holds `status` ("reply", "unhandled", "noreply"), `reply`."""

    def __init__(self, method, arguments=None, channel=CHANNEL, data=None, label=None):
        self.method, self.channel = method, channel
        self.message = wire.encode_value(method, arguments) if data is None else bytes(data)
        self.label = label or ("raw " + (self.message.hex() or "(empty)") if data is not None else method
                               if arguments is None else method + " " + wire.describe(arguments))
        self.index = self.sent_ms = self.replied_ms = self.status = self.reply = None
        super().__init__("send %s %s" % (channel, self.message.hex()))

    @property
    def elapsed_ms(self):
        return None if self.sent_ms is None or self.replied_ms is None else self.replied_ms - self.sent_ms

    def describe(self):
        return wire.describe_reply(self.reply) if self.status == "reply" else self.status or "no answer"


Services = lambda *listing: Line("services " + TUNNEL_SERVICE_PREFIX, listing=list(listing))
# The driver copies the wg folder's files and the records while the script holds still.
Snapshot = lambda name, hold_ms=1500, files=None: Line("note snapshot " + name, "sleep %d" % hold_ms, name=name,
                                                        files=files)
Note = lambda text: Line("note " + text)
Sleep = lambda milliseconds: Line("sleep %d" % milliseconds)
Close = lambda: Line("close")


class Outcome:
    def __init__(self, calls):
        self.calls, self.sent, self.answered, self.listing_open, self.read, self.partial = calls, 0, 0, False, 0, b""
        self.exit_code = self.started_ms = self.ended_ms = self.services_left = None
        self.transcript, self.services, self.netsh_ended, self.log_lines = [], [], [], []   # log: CR LF stripped
        self.netsh, self.wireguard, self.wg_files, self.snapshots = [], [], {}, {}       # Records; name -> bytes

    @property
    def log_messages(self):
        return [re.sub(r"^\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] ", "", line, count=1) for line in self.log_lines]

    def transcript_lines(self, keyword):
        return [text for _, text in self.transcript if text.split(" ", 1)[0] == keyword]


def _proc(name):
    for entry in filter(str.isdigit, os.listdir("/proc")):
        with contextlib.suppress(OSError), open("/proc/%s/%s" % (entry, name), "rb") as f:
            yield int(entry), f.read()


def _kill(pids):
    for pid in list(pids):
        with contextlib.suppress(ProcessLookupError):
            os.kill(pid, signal.SIGKILL)


def end_process_tree(process):
    """Ends a process we started in a session of its own and each member of that session by its id
    (wine-run's timeout(1) has a group of its own; Xvfb, wineserver and the services have own sessions)."""
    # After the command's closing parenthesis of /proc/<id>/stat: state, parent, group, session.
    members = lambda: [pid for pid, stat in _proc("stat")
                       if int(stat[stat.rfind(b")") + 1:].split()[3]) == process.pid]
    if process.poll() is None:
        for _ in range(3):  # a member may start another while we look
            _kill(pid for pid in members() if pid != process.pid)
        process.kill()
    process.wait()
    _kill(members())  # members that outlived their leader


def run_bounded(command, env, timeout_s):
    """(exit code, output) of a command; at the time limit (or an interrupt) its whole tree is ended."""
    process = subprocess.Popen(command, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                               stderr=subprocess.STDOUT, start_new_session=True)
    try:
        output, _ = process.communicate(timeout=timeout_s)
    except subprocess.TimeoutExpired:
        raise DriverError("did not end within %d s: %s" % (timeout_s, " ".join(command))) from None
    finally:
        end_process_tree(process)
        process.stdout.close()
    return process.returncode, output


# One process at a time per prefix (a run clears the shared services and records): CTest's resource locks
# order one ctest's groups only, this flock every process; taken with the first Driver, kept to the end.
_prefix_locks = {}


def hold_prefix(wine_root):
    path = os.path.join(wine_root, "wine", "driver.lock")
    if path not in _prefix_locks:
        os.makedirs(os.path.dirname(path), exist_ok=True)
        _prefix_locks[path] = descriptor = os.open(path, os.O_RDWR | os.O_CREAT, 0o644)
        try:
            fcntl.flock(descriptor, fcntl.LOCK_EX | fcntl.LOCK_NB)
        except BlockingIOError:
            print("driver: waiting for another process's runs in this prefix to end (%s)" % path, flush=True)
            fcntl.flock(descriptor, fcntl.LOCK_EX)
        # Our own wine-run --shutdown must not wait for the lock we hold.
        os.environ["TARVEX_PREFIX_LOCK_HELD"] = path


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def read_bytes(path):  # None when the file does not exist
    with contextlib.suppress(FileNotFoundError), open(path, "rb") as f:
        return f.read()
    return None


def text_lines(path):
    text = (read_bytes(path) or b"").decode("utf-8", "surrogateescape")
    return [line.rstrip("\r") for line in text.split("\n")[:-1 if text.endswith("\n") else None]] if text else []


def read_records(path, pid):
    """A stand-in's record in order of start; a line of another form keeps its text, without times."""
    matches = [(re.match(r"^(\d+) (\d+) %s(.*)$" % (r"\d+ " if pid else ""), text), text) for text in text_lines(path)]
    records = [Record(int(m[1]), int(m[2]), m[3]) if m else Record(None, None, text) for m, text in matches]
    return sorted(records, key=lambda r: r.start_ms or 0)


class Driver:
    def __init__(self, name="run", timeout_s=120):
        self.wine_root = os.path.abspath(os.environ.get("TARVEX_WINE_ROOT") or os.path.join(REPO, "build", "windows"))
        self.timeout_s, self.work, self._folders = timeout_s, os.path.join(self.wine_root, "e2e", name), None
        self.wine_run = os.path.join(REPO, "cmake", "wine-run")
        self.program = os.path.join(self.wine_root, "bin", "tarvex.exe")
        self.wireguard_exe = os.path.join(self.wine_root, "bin", "bin", "wireguard.exe")
        self.prefix = os.path.join(self.wine_root, "wine", "prefix")
        self.netsh_record = os.path.join(self.prefix, "drive_c", "windows", "system32", "netsh-standin.log")
        self.netsh_faults = self.netsh_record[:-len("log")] + "faults"
        for needed in (self.program, self.wireguard_exe, self.wine_run):
            if not os.path.exists(needed):
                raise DriverError("missing %s (build the windows preset first)" % needed)
        hold_prefix(self.wine_root)

    def env(self, timeout_s, **more):
        return dict(os.environ, TARVEX_WINE_ROOT=self.wine_root, TARVEX_WINE_TIMEOUT=str(timeout_s), **more)

    def wine(self, *arguments, timeout_s=60, env=None):  # (exit code, output), with the display
        run_env = self.env(timeout_s, TARVEX_WINE_DISPLAY="1", **(env or {}))
        code, output = run_bounded([self.wine_run] + list(arguments), run_env, timeout_s + 30)
        return code, output.decode("utf-8", "replace")

    def unix_path(self, path):  # of C:\... or Z:\...
        drive, rest = path[:2].upper(), path[2:].replace("\\", "/").lstrip("/")
        return "/" + rest if drive == "Z:" else os.path.join(self.prefix, "drive_c", rest)

    def folders(self):  # APPDATA and TEMP as Wine's programs see them (from its registry, not our environment)
        if self._folders is None:
            code, output = self.wine("cmd", "/c", "set")
            values = {line.partition("=")[0].upper(): line.strip("\r").partition("=")[2] for line in output.splitlines()}
            self._folders = {name: values.get(name) for name in ("APPDATA", "TEMP")}
            if code != 0 or not all(self._folders.values()):
                raise DriverError("cannot read APPDATA and TEMP in the prefix:\n" + output)
        return self._folders

    debug_log = property(lambda self: os.path.join(self.unix_path(self.folders()["APPDATA"]), "Tarvex",
                                                   "windows_vpn_debug.log"))
    wg_directory_windows = property(lambda self: self.folders()["TEMP"] + "\\wg")
    wg_directory = property(lambda self: self.unix_path(self.wg_directory_windows))
    wireguard_record = property(lambda self: os.path.join(os.path.dirname(self.wireguard_exe),
                                                          "wireguard-standin.log"))

    def tunnel_services(self):
        code, output = self.wine("reg", "query", "HKLM\\System\\CurrentControlSet\\Services")
        if code != 0:
            raise DriverError("cannot list the services:\n" + output)
        names = [line.strip().rpartition("\\")[2] for line in output.splitlines()]
        return [name for name in names if name.startswith(TUNNEL_SERVICE_PREFIX)]

    def remove_tunnel_services(self):  # once no install of ours runs (one given up on creates its service)
        deadline, late = time.monotonic() + 20, True
        while late and time.monotonic() < deadline:
            # Wine shows a program's command line, its Windows path, in /proc.
            late = [pid for pid, words in _proc("cmdline") if b"/installtunnelservice" in words.split(b"\0")
                    and windows_path(self.wine_root).encode() + b"\\" in words]
            time.sleep(0.2 if late else 0)
        if late:
            raise DriverError("wireguard.exe installs still running after 20 s (process ids %s)" % late)
        for service in self.tunnel_services():
            self.wine(self.wireguard_exe, "/uninstalltunnelservice", service[len(TUNNEL_SERVICE_PREFIX):])
        if self.tunnel_services():
            raise DriverError("tunnel services remain after removal: %s" % ", ".join(self.tunnel_services()))

    @contextlib.contextmanager
    def wine_held(self):
        """Keeps Wine (its service manager, the services) up between runs, as Windows stays up: notepad holds it."""
        keeper = subprocess.Popen([self.wine_run, "notepad"], env=self.env(1800, TARVEX_WINE_DISPLAY="1"),
                                  stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                  start_new_session=True)
        try:
            yield
        finally:
            end_process_tree(keeper)

    def prepare(self, fresh=True):
        if fresh:
            self.remove_tunnel_services()
            for entry in os.listdir(self.wg_directory) if os.path.isdir(self.wg_directory) else []:
                path = os.path.join(self.wg_directory, entry)
                shutil.rmtree(path) if os.path.isdir(path) and not os.path.islink(path) else os.remove(path)
        for path in filter(os.path.exists, (self.debug_log, self.netsh_faults)):
            os.remove(path)
        for record in filter(os.path.exists, (self.netsh_record, self.wireguard_record)):
            open(record, "wb").close()

    def end_running_netsh(self):  # that the program gave up on or left; /proc shows the bare name
        named = [pid for pid, words in _proc("cmdline")
                 if words.split(b"\0")[0].lower().rpartition(b"\\")[2] in (b"netsh", b"netsh.exe")]
        ended = [pid for pid, environment in _proc("environ") if pid in named
                 and ("WINEPREFIX=" + self.prefix).encode() in environment.split(b"\0")]
        _kill(ended)
        return ended

    def read_wg_files(self):
        folder = self.wg_directory
        names = sorted(os.listdir(folder)) if os.path.isdir(folder) else []
        return {name: read_bytes(os.path.join(folder, name)) for name in names
                if os.path.isfile(os.path.join(folder, name))}

    def run(self, steps, keep_wine=False, fresh=True, on_line=None, netsh_faults=()):
        """keep_wine: leave the services; fresh=False: from what an earlier run left; on_line(time_ms, text)."""
        self.prepare(fresh)
        if netsh_faults:
            with open(self.netsh_faults, "w", encoding="utf-8", newline="\r\n") as f:
                f.write("\n".join(netsh_faults) + "\n")
        os.makedirs(self.work, exist_ok=True)
        script, transcript, output = (os.path.join(self.work, n + ".txt") for n in ("script", "transcript", "output"))
        for path in filter(os.path.exists, [transcript]):
            os.remove(path)
        outcome = Outcome([copy.copy(step) for step in steps if isinstance(step, Call)])
        for index, call in enumerate(outcome.calls):
            call.index = index
        with open(script, "w", encoding="utf-8", newline="\n") as f:
            f.write("".join(line + "\n" for step in steps for line in step.script))
        env = self.env(self.timeout_s, TARVEX_ENGINE_SCRIPT=windows_path(script), TARVEX_STANDIN_TIMES="1",
                       TARVEX_ENGINE_TRANSCRIPT=windows_path(transcript), TARVEX_STANDIN_DPI="96",
                       TARVEX_STANDIN_REPLY_TIMEOUT_MS="60000", WINEDLLOVERRIDES="netsh.exe=n")
        try:
            outcome.started_ms = int(time.time() * 1000)
            with open(output, "wb") as out:
                # A session of its own: a Ctrl-C reaches only us, and we end the tree below.
                process = subprocess.Popen([self.wine_run, "--display", self.program], env=env,
                                           stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT,
                                           start_new_session=True)
                deadline = time.monotonic() + self.timeout_s + 30
                try:
                    while process.poll() is None:
                        self._take_lines(outcome, transcript, on_line)
                        if time.monotonic() > deadline:
                            raise DriverError("tarvex.exe did not end within %d s" % self.timeout_s)
                        time.sleep(0.05)
                finally:
                    end_process_tree(process)
            outcome.exit_code, outcome.ended_ms = process.returncode, int(time.time() * 1000)
            outcome.netsh_ended = self.end_running_netsh()
            self._take_lines(outcome, transcript, on_line, final=True)
            outcome.program_output = read_bytes(output).decode("utf-8", "replace")
            outcome.log_lines = text_lines(self.debug_log)
            outcome.netsh = read_records(self.netsh_record, pid=False)
            outcome.wireguard = read_records(self.wireguard_record, pid=True)
            outcome.wg_files, outcome.services_left = self.read_wg_files(), self.tunnel_services()
        finally:
            # Nothing the run installed is left for later tests, even when it failed.
            self.end_running_netsh()
            if os.path.exists(self.netsh_faults):
                os.remove(self.netsh_faults)
            if not keep_wine:
                self.remove_tunnel_services()
        return outcome

    def _take_lines(self, outcome, transcript, on_line, final=False):
        lines = []
        with contextlib.suppress(FileNotFoundError), open(transcript, "rb") as f:
            f.seek(outcome.read)
            data = f.read()
            outcome.read += len(data)
            lines = (outcome.partial + data).split(b"\n")
            outcome.partial = b"" if final else lines.pop()
        lines = [line.rstrip(b"\r").decode("utf-8", "replace") for line in lines if line or not final]
        for i, line in enumerate(lines):
            match = re.match(r"^(\d{12,}) (.*)$", line)
            time_ms, text = (int(match[1]), match[2]) if match else (None, line)
            outcome.transcript.append((time_ms, text))
            if on_line:
                on_line(time_ms, text)
            keyword, _, rest = text.partition(" ")
            # Calls are sent and answered in order, one at a time.
            if keyword == "sending" and outcome.sent < len(outcome.calls):
                outcome.calls[outcome.sent].sent_ms, outcome.sent = time_ms, outcome.sent + 1
            elif keyword in ("reply", "unhandled", "noreply") and outcome.answered < len(outcome.calls):
                call = outcome.calls[outcome.answered]
                call.status, call.replied_ms, outcome.answered = keyword, time_ms, outcome.answered + 1
                call.reply = bytes.fromhex(rest.partition(" ")[2]) if keyword == "reply" else None
            elif keyword in ("service", "services"):
                # "service <name> <state>" lines, then "services <count>" or "services error <code>".
                if not outcome.listing_open:
                    outcome.services.append([])
                outcome.listing_open = keyword == "service"
                if keyword == "service" or rest.startswith("error "):
                    outcome.services[-1].append(tuple(rest.rsplit(" ", 1)))
            elif keyword == "note" and rest.startswith("snapshot "):
                # The script holds still after the note: a line after it means the copy came late.
                outcome.snapshots[rest[len("snapshot "):]] = types.SimpleNamespace(
                    wg_files=self.read_wg_files(), wireguard=read_records(self.wireguard_record, pid=True),
                    in_time=i + 1 == len(lines) and os.path.getsize(transcript) == outcome.read)
