"""timings.py's arithmetic on a run written out by hand: which records count
as the call's child processes, and the spans between them."""

import unittest

import timings
from driver import Call, CallResult, NetshLine, Outcome, WireguardLine
from wire import Success


def made_run():
    o = Outcome()
    o.started_ms = 1000
    o.transcript = [(None, "untimed"), (1400, "engine assets ..."), (1650, "frame 1 hidden visible"),
                    (1700, "frame 2 visible visible")]
    for index, (method, sent, replied) in enumerate([("isConnected", 2000, 2010),
                                                     ("startTunnel", 3000, 4900),
                                                     ("stopTunnel", 6000, 7000)]):
        call = CallResult(Call(method), index)
        call.sent_ms, call.replied_ms = sent, replied
        o.calls.append(call)
    o.wireguard = [WireguardLine(text) for text in [
        "3050 3150 10 install /installtunnelservice \"C:\\t\\wg\\tarvex_office.conf\" -> 0",
        "3900 4300 11 service-start /standin-service runs 0 tarvex_office -> running",
        "6100 6110 11 service-stop /standin-service runs 0 tarvex_office -> stopped",
        "6020 6400 12 uninstall /uninstalltunnelservice tarvex_office -> 0",
        "garbled"]]
    # Two netsh runs inside startTunnel, one inside stopTunnel, one outside every call.
    o.netsh = [NetshLine(3200, 3260, "netsh a"), NetshLine(3300, 3380, "netsh b"),
               NetshLine(6450, 6500, "netsh c"), NetshLine(5000, 5010, "netsh elsewhere")]
    return o


class MeasuresTest(unittest.TestCase):
    def test_startup_and_calls(self):
        m = dict(timings.measures(made_run()))
        self.assertEqual(m["launch → first transcript line"], 400)
        self.assertEqual(m["first transcript line → engine created"], 0)
        self.assertEqual(m["engine created → first frame"], 250)
        self.assertEqual(m["launch → first frame"], 650)
        self.assertEqual([m["call 1 isConnected: end to end"], m["call 2 startTunnel: end to end"],
                          m["call 3 stopTunnel: end to end"]], [10, 1900, 1000])
        self.assertNotIn("isConnected: child processes", m)

    def test_start_children_and_service(self):
        m = dict(timings.measures(made_run()))
        self.assertEqual(m["startTunnel: before the first child"], 50)
        self.assertEqual(m["startTunnel: child processes"], 3)      # the service is not a child
        self.assertEqual(m["startTunnel: first child start → last child end"], 330)
        self.assertEqual(m["startTunnel: children's own lifetimes, sum"], 100 + 60 + 80)
        self.assertEqual(m["startTunnel:   wireguard.exe (1), lifetimes sum"], 100)
        self.assertEqual(m["startTunnel:   netsh (2), lifetimes sum"], 140)
        self.assertEqual(m["startTunnel: last child end → reply"], 4900 - 3380)
        self.assertEqual(m["startTunnel:   last child end → service process start"], 520)
        self.assertEqual(m["startTunnel:   service process start → running"], 400)
        self.assertEqual(m["startTunnel:   service running → reply"], 600)

    def test_stop_children(self):
        m = dict(timings.measures(made_run()))
        self.assertEqual(m["stopTunnel: before the first child"], 20)
        self.assertEqual(m["stopTunnel: child processes"], 2)       # uninstall and one netsh
        self.assertEqual(m["stopTunnel: first child start → last child end"], 480)
        self.assertEqual(m["stopTunnel: children's own lifetimes, sum"], 380 + 50)
        self.assertEqual(m["stopTunnel: last child end → reply"], 500)
        self.assertNotIn("stopTunnel:   service running → reply", m)

    def test_a_call_without_children(self):
        o = made_run()
        o.netsh, o.wireguard = [], []
        m = dict(timings.measures(o))
        self.assertEqual(m["startTunnel: child processes"], 0)
        self.assertNotIn("startTunnel: last child end → reply", m)


class FailedRunTest(unittest.TestCase):
    def test_only_a_tunnel_up_and_down_is_timed(self):
        o = Outcome()
        o.exit_code = 0
        up_and_down = [("isConnected", Success(False)), ("startTunnel", Success(True)),
                       ("isConnected", Success(True)), ("stopTunnel", Success(True)),
                       ("isConnected", Success(False))]
        for index, (method, reply) in enumerate(up_and_down):
            o.calls.append(CallResult(Call(method), index))
            o.calls[-1].status, o.calls[-1].reply = "reply", reply
        self.assertIsNone(timings.failed_run(o))
        # A start that replied false (its service never ran) is no run to time.
        o.calls[1] = CallResult(Call("startTunnel"), 1)
        o.calls[1].status, o.calls[1].reply = "reply", Success(False)
        self.assertEqual(timings.failed_run(o), "replies not those of a tunnel up and down")
        o.calls[1].status = "noreply"
        o.exit_code = 124
        self.assertEqual(timings.failed_run(o), "exit code 124")


class SummaryTest(unittest.TestCase):
    def test_median_lowest_highest_and_missing_values(self):
        runs = [[("a", 5), ("b", None)], [("a", 1), ("b", 7)], [("a", 4), ("c", 2)], [("a", 10)]]
        self.assertEqual(timings.summarise(runs), [("a", 4.5, 1, 10, 4), ("b", 7, 7, 7, 1), ("c", 2, 2, 2, 1)])

    def test_table(self):
        text = timings.table([("a", 4.5, 1, 10, 4), ("b", 7, 7, 7, 1)])
        self.assertEqual(text.splitlines()[2:], ["| a | 4.5 | 1 | 10 | 4 |", "| b | 7 | 7 | 7 | 1 |"])


if __name__ == "__main__":
    unittest.main()
