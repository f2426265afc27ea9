"""A burst: 200 "isConnected" calls in one run, each answered once and in
order, none lost, and the program still ends cleanly."""

import unittest

import driver
from driver import Call, Close
from expected import is_connected_lines
from wire import Success

COUNT = 200


class BurstTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.driver = driver.Driver(name="burst")
        cls.outcome = cls.driver.run([Call("isConnected") for _ in range(COUNT)] + [Close()])

    def test_every_call_is_answered_once_in_order(self):
        o = self.outcome
        self.assertEqual(o.exit_code, 0, o.program_output)
        self.assertEqual(len(o.transcript_lines("sending")), COUNT)
        self.assertEqual(len(o.transcript_lines("reply")), COUNT)
        self.assertEqual(o.transcript_lines("noreply") + o.transcript_lines("latereply")
                         + o.transcript_lines("unhandled") + o.transcript_lines("error"), [])
        self.assertEqual([c.reply for c in o.calls], [Success(False)] * COUNT)
        # Each reply comes after its own send and before the next one.
        for earlier, later in zip(o.calls, o.calls[1:]):
            self.assertLessEqual(earlier.sent_ms, earlier.replied_ms)
            self.assertLessEqual(earlier.replied_ms, later.sent_ms)
        keywords = [text.split(" ", 1)[0] for _, text in o.transcript
                    if text.split(" ", 1)[0] in ("sending", "reply")]
        self.assertEqual(keywords, ["sending", "reply"] * COUNT)

    def test_every_call_is_logged_whole(self):
        self.assertEqual(self.outcome.log_messages, is_connected_lines() * COUNT)


if __name__ == "__main__":
    unittest.main()
