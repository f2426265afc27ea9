"""Argument errors over real bytes: each call's exact reply envelope and its
debug-log lines, and that none of them reaches WireGuard, netsh or the wg
directory."""

import unittest

import driver
import wire
from driver import Call, Close, Services
from expected import P, is_connected_lines
from wire import Error, NotImplementedReply, Success

CONFIG = driver.SAMPLE_CONFIG
BAD_VARIANT = "bad variant access"


def error_bytes(code, message):
    # Flag 1, the code, the message, null details.
    return b"\x01" + wire.encode_value(code) + wire.encode_value(message) + b"\x00"


# (call, expected reply, log lines after the dispatch line)
CASES = [
    (Call("startTunnel"), Error("INVALID_ARGUMENTS", "Invalid arguments for startTunnel"),
     ["StartTunnel called", "StartTunnel - Invalid arguments"]),
    (Call("startTunnel", [CONFIG, "office"]), Error("INVALID_ARGUMENTS", "Invalid arguments for startTunnel"),
     ["StartTunnel called", "StartTunnel - Invalid arguments"]),
    (Call("startTunnel", CONFIG), Error("INVALID_ARGUMENTS", "Invalid arguments for startTunnel"),
     ["StartTunnel called", "StartTunnel - Invalid arguments"]),
    (Call("stopTunnel", ["office"]), Error("INVALID_ARGUMENTS", "Invalid arguments for stopTunnel"),
     ["StopTunnel called"]),
    (Call("startTunnel", {"networkId": "office"}), Error("INVALID_CONFIG", "No config provided"),
     ["StartTunnel called", "StartTunnel - No config provided"]),
    (Call("startTunnel", {"networkid": "office", "Config": CONFIG}), Error("INVALID_CONFIG", "No config provided"),
     ["StartTunnel called", "StartTunnel - No config provided"]),
    (Call("startTunnel", {"networkId": 7, "config": CONFIG}),
     Error("START_TUNNEL_ERROR", "Failed to start tunnel: " + BAD_VARIANT),
     ["StartTunnel called", "StartTunnel - Exception: " + BAD_VARIANT]),
    (Call("startTunnel", {"networkId": 7}), Error("START_TUNNEL_ERROR", "Failed to start tunnel: " + BAD_VARIANT),
     ["StartTunnel called", "StartTunnel - Exception: " + BAD_VARIANT]),
    (Call("startTunnel", {"networkId": "office", "config": 7}),
     Error("START_TUNNEL_ERROR", "Failed to start tunnel: " + BAD_VARIANT),
     ["StartTunnel called", "StartTunnel - Exception: " + BAD_VARIANT]),
    (Call("stopTunnel", {"networkId": 7}), Error("STOP_TUNNEL_ERROR", "Failed to stop tunnel: " + BAD_VARIANT),
     ["StopTunnel called", "StopTunnel - Exception: " + BAD_VARIANT]),
    (Call("connect", {"networkId": "office", "config": CONFIG}), NotImplementedReply(), []),
    (Call("StartTunnel", {"networkId": "office", "config": CONFIG}), NotImplementedReply(), []),
    (Call("isconnected"), NotImplementedReply(), []),
    (Call("startTunnel ", {"networkId": "office", "config": CONFIG}), NotImplementedReply(), []),
    # A prefix of a known name is no match either.
    (Call("isConnecte"), NotImplementedReply(), []),
    (Call("stop", {"networkId": "office"}), NotImplementedReply(), []),
    # "isConnected" does not look at its arguments, whatever they are.
    (Call("isConnected", {"networkId": 7, "config": None}), Success(False), is_connected_lines()[1:]),
    (Call("isConnected", [1, "x"]), Success(False), is_connected_lines()[1:]),
]


class ArgumentErrorTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.driver = driver.Driver(name="argument_errors")
        steps = [case[0] for case in CASES] + [Call("isConnected"), Services(), Close()]
        cls.outcome = cls.driver.run(steps)

    def test_each_call_gets_its_exact_reply(self):
        o = self.outcome
        self.assertEqual(o.exit_code, 0, o.program_output)
        self.assertEqual(o.transcript_lines("error"), [])
        for (call, expected, _), result in zip(CASES, o.calls):
            with self.subTest(call=call.label()):
                self.assertEqual(result.status, "reply")
                self.assertEqual(result.reply, expected)
                if isinstance(expected, Error):
                    self.assertEqual(result.reply_bytes, error_bytes(expected.code, expected.message))
                elif isinstance(expected, Success):
                    self.assertEqual(result.reply_bytes, b"\x00\x02")  # flag 0, false
                else:
                    self.assertEqual(result.reply_bytes, b"")
        self.assertEqual(o.calls[-1].reply, Success(False))

    def test_each_call_logs_its_dispatch_and_its_own_lines_only(self):
        expected = []
        for call, _, lines in CASES:
            expected += [P + "HandleMethodCall called: " + call.method] + [
                line if line.startswith(P) else P + line for line in lines]
        self.assertEqual(self.outcome.log_messages, expected + is_connected_lines())

    def test_nothing_reaches_the_machine(self):
        o = self.outcome
        self.assertEqual(o.netsh_commands, [])
        self.assertEqual([w.text for w in o.wireguard], [])
        self.assertEqual(o.wg_files, {})
        self.assertEqual([(l.error, l.services) for l in o.services], [(None, [])])


if __name__ == "__main__":
    unittest.main()
