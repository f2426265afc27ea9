"""scripts/soak's run, short (10 cycles, 1,000 "isConnected"): every call answered once as the state says,
no handle or thread left behind after half-way (counts, never times)."""

import os
import sys
import unittest

import driver

sys.path.insert(0, os.path.join(driver.REPO, "scripts"))
import soak  # noqa: E402


class ShortSoakTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.plan = soak.Plan(cycles=10, calls=1000)
        cls.outcome = soak.soak_driver(cls.plan).run(cls.plan.steps)

    def test_every_call_is_answered_once_as_the_state_says(self):
        self.assertEqual(soak.reply_problems(self.outcome, self.plan), [])

    def test_the_second_half_leaves_no_handle_or_thread_behind(self):
        _, half_way, end = soak.reports(self.outcome)
        for figure in ("handles", "threads"):
            self.assertGreater(half_way[figure] or 0, 0, figure)
            self.assertEqual(end[figure], half_way[figure], figure)


if __name__ == "__main__":
    unittest.main()
