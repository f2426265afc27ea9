"""One run of tarvex.exe, scenarios with ids of their own, each call a row (tests/e2e/README.md): hostile
ids and bytes, 2,000 seeded messages, the default scenario, a burst, two tunnels, a tunnel left up."""

import ntpath
import os
import re
import time
import unittest

import driver
import hostile
import wire
from driver import Call, Close
from expected import NOT_CREATED, Listing, Roads, Snap, asked, check_run, lines, service, start, steps, \
    stop, stored, with_directive

F, CONFIG = wire.FALSE, driver.SAMPLE_CONFIG
# home's install tries to rename and to remove the wg folder, which the plugin holds while it installs.
HOME, HOME_ENDPOINT = "home", ("51821", "10.66.77.3")
HOME_CONFIG = with_directive("probe-folder", CONFIG.replace("10.66.66.2/32", "10.66.77.3/32").replace(
    "203.0.113.5:51820", "203.0.113.9:51821"))
LOG_LINE = re.compile(rb"^\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] WindowsVpnPlugin::[\x20-\x7e]*$")


def refused(step, reply):  # a refused call's row (no log without a method name), then an "isConnected"
    log = hostile.REFUSALS.get(reply) or (asked()[2] if reply == F else lines(
        "HandleMethodCall called: " + hostile.escaped(step.method)) if step.method else [])
    return [(step, reply, log, []), asked()]


def tables(r, probes):
    """The rows before the seeded traffic and after it; `probes`: the files planted in the wg folder."""
    head = []
    for n in hostile.IDS:  # the first lines of a start and a stop, then the refusal
        shown = hostile.escaped(n)
        refusal = "Network ID refused, not a valid tunnel name: " + shown
        head += [(start(n), F, r.start(shown)[:5] + lines("CreateWireGuardTunnel - " + refusal) + NOT_CREATED, []),
                 (stop(n), F, r.stop(shown)[:4] + lines("RemoveWindowsVPNTunnel - " + refusal,
                                                        "StopTunnel - Failed to remove tunnel"), [])]
    for label, data, reply in hostile.BYTES:
        head += refused(Call(None, data=data, label=label), reply)
    head += refused(Call(hostile.FORGED_METHOD), wire.NOT_IMPLEMENTED)
    home = r.started(HOME, HOME_CONFIG, HOME_ENDPOINT)
    home[3].insert(1, "probe-folder %s -> rename 32 remove 32" % r.wg)
    tail = [asked(), r.started("office"), asked("office"), Listing((service("office"), "RUNNING")),
            Snap("up", dict(probes, **{"tarvex_office.conf": stored(CONFIG)})), r.stopped("office"), asked(), Listing()]
    # "home" sorts first among the registered ids and is stopped first.
    tail += [asked()] * 200 + [
        r.started("work"), home, asked(HOME), Listing((service(HOME), "RUNNING"), (service("work"), "RUNNING")),
        Snap("both", dict(probes, **{"tarvex_home.conf": stored(HOME_CONFIG), "tarvex_work.conf": stored(CONFIG)})),
        r.stopped(HOME), asked("work"), Listing((service("work"), "RUNNING")),
        Snap("work only", dict(probes, **{"tarvex_work.conf": stored(CONFIG)})), r.stopped("work"), asked(),
        Listing(), r.started("left"), Close()]
    return head, tail


class CallsTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        d = cls.driver = driver.Driver(name="calls")
        d.prepare()
        cls.traffic = hostile.traffic(hostile.SEED)
        temp = d.unix_path(d.folders()["TEMP"])
        # A probe file wherever a hostile id's configuration file path would lead (traversal, cut at a NUL).
        cls.probes, made = {}, []
        for network_id in hostile.IDS:
            plain = d.wg_directory_windows + "\\tarvex_" + network_id + ".conf"
            path = ntpath.normpath(plain).partition("\x00")[0]
            if path != plain:
                cls.probes[d.unix_path(path)] = ("probe for %r\n" % network_id).encode("ascii")
        cls.wg_probes = {os.path.basename(p): c for p, c in cls.probes.items() if os.path.dirname(p) == d.wg_directory}
        cls.head, cls.tail = tables(Roads(d), cls.wg_probes)
        try:
            for path, content in cls.probes.items():
                folder = os.path.dirname(path)
                while not os.path.exists(folder):
                    made, folder = made + [folder], os.path.dirname(folder)
                os.makedirs(os.path.dirname(path), exist_ok=True)
                with open(path, "wb") as f:
                    f.write(content)
            cls.confs_before = sorted(name for name in os.listdir(temp) if name.lower().endswith(".conf"))
            traffic = [Call(None, channel=channel, data=data, label=what) for channel, data, what in cls.traffic]
            cls.outcome = d.run(steps(cls.head) + traffic + [Listing()] + steps(cls.tail), fresh=False)
            cls.probes_after = {path: driver.read_bytes(path) for path in cls.probes}
            cls.confs_after = sorted(name for name in os.listdir(temp) if name.lower().endswith(".conf"))
            cls.raw_log = driver.read_bytes(d.debug_log) or b""
        finally:
            for path in cls.probes:
                if os.path.exists(path):
                    os.remove(path)
            for folder in sorted(made, key=len, reverse=True):
                if os.path.isdir(folder) and not os.listdir(folder):
                    os.rmdir(folder)
        first = sum(isinstance(entry, tuple) for entry in cls.head)
        cls.seeded = cls.outcome.calls[first:first + len(cls.traffic)]

    def test_every_message_is_answered_once_in_order_and_the_program_ends_cleanly(self):
        o = self.outcome
        self.assertEqual((o.exit_code, o.transcript_lines("error") + o.transcript_lines("misuse")), (0, []),
                         o.program_output)
        self.assertEqual([text for _, text in o.transcript[-2:]], ["end", "viewcontroller destroyed hidden"])
        answers = [tuple(text.split(" ")[:2]) for _, text in o.transcript
                   if text.split(" ", 1)[0] in ("sending", "reply", "unhandled", "noreply")]
        owed = [(word, c.channel) for c in o.calls
                for word in ("sending", "reply" if c.channel == driver.CHANNEL else "unhandled")]
        self.assertEqual(answers, owed, "seed %d" % hostile.SEED)

    def test_each_call_gets_its_reply_and_runs_its_child_processes_only(self):
        seeded = {call.index for call in self.seeded}
        check_run(self, self.outcome, self.head + [Listing()] + self.tail,
                  calls=[call for call in self.outcome.calls if call.index not in seeded])
        self.assertEqual(self.outcome.services_left, [service("left")])

    def test_seeded_traffic_gets_the_replies_owed(self):
        wrong = []
        for i, ((channel, data, what), call) in enumerate(zip(self.traffic, self.seeded)):
            owed = hostile.replies_owed(data) if channel == driver.CHANNEL else []
            if not (call.status == "reply" and call.reply in owed or call.status == "unhandled" and not owed):
                wrong.append("message %d (%s) on %s: %s\n  owed %s, got %s" % (
                    i, what, channel, data.hex() or "(empty)",
                    " or ".join(map(wire.describe_reply, owed)) or "unhandled", call.describe()))
        self.assertEqual([c.reply for c in self.seeded[99::100]], [F] * (hostile.TRAFFIC // 100))
        if wrong:
            self.fail("%d of %d messages, seed %d (TARVEX_HOSTILE_SEED=%d replays it), the first %d:\n%s" % (
                len(wrong), hostile.TRAFFIC, hostile.SEED, hostile.SEED, min(len(wrong), 5), "\n".join(wrong[:5])))

    def test_debug_log_holds_each_call_whole_in_stamped_lines_of_the_local_time(self):
        head, tail = ([line for row in table if isinstance(row, tuple) for line in row[2]]
                      for table in (self.head, self.tail))
        messages = self.outcome.log_messages
        self.assertEqual((messages[:len(head)], messages[-len(tail):]), (head, tail))
        # One stamped line of printable ASCII per message (no lone CR, no NUL), in the run's local time.
        *raw, last = self.raw_log.split(b"\r\n")
        self.assertEqual(([line for line in raw if not LOG_LINE.match(line)], last), ([], b""))
        stamps = [time.mktime(time.strptime(line[1:20].decode(), "%Y-%m-%d %H:%M:%S")) for line in raw]
        self.assertEqual(stamps, sorted(stamps))
        self.assertTrue(self.outcome.started_ms // 1000 - 1 <= stamps[0] <= stamps[-1] <= self.outcome.ended_ms / 1000 + 1)

    def test_files_hostile_ids_would_reach_survive_and_only_the_tunnel_left_keeps_its_file(self):
        self.assertGreaterEqual(len(self.probes), 6)
        self.assertEqual(self.probes_after, self.probes)
        self.assertEqual((self.confs_after, self.outcome.wg_files),
                         (self.confs_before, dict(self.wg_probes, **{"tarvex_left.conf": stored(CONFIG)})))


if __name__ == "__main__":
    unittest.main()
