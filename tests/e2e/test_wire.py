"""The driver's own codec against byte sequences written out by hand."""

import unittest

from wire import (Error, Float64List, Int32List, Int64, NotImplementedReply, Success, Truncated,
                  decode_envelope, decode_value, encode_method_call, encode_value)


def hexbytes(text):
    return bytes.fromhex(text)


class EncodeTest(unittest.TestCase):
    def test_scalars_strings_and_sizes(self):
        cases = [
            (None, "00"), (True, "01"), (False, "02"), (5, "03 05000000"),
            (Int64(1), "04 0100000000000000"), (2**40, "04 0000000000010000"),
            ("abc", "07 03 616263"), ("", "07 00"), ("ã", "07 02 c3a3"),
            ({"a": 1}, "0d 01 07 01 61 03 01000000"),
            (Int32List([1]), "09 01 0000 01000000"), (Int32List([]), "09 00"),
            ([1.0], "0c 01 06 0000000000 000000000000f03f"),
        ]
        for value, expected in cases:
            with self.subTest(value=value):
                self.assertEqual(encode_value(value), hexbytes(expected))

    def test_wide_sizes(self):
        self.assertEqual(encode_value("x" * 300)[:4], hexbytes("07 fe 2c 01"))
        self.assertEqual(encode_value("x" * 65535)[:4], hexbytes("07 fe ff ff"))
        self.assertEqual(encode_value("x" * 65536)[:6], hexbytes("07 ff 00 00 01 00"))

    def test_method_call_pads_from_the_start_of_the_message(self):
        self.assertEqual(encode_method_call("isConnected"), hexbytes("07 0b") + b"isConnected" + b"\0")
        # 1 + 1 + 1 name bytes, then the double's type byte: padding to 8.
        self.assertEqual(encode_method_call("m", 1.0), hexbytes("07 01 6d 06 00000000 000000000000f03f"))


class DecodeTest(unittest.TestCase):
    def test_round_trip(self):
        value = {"networkId": "office", "config": "[Interface]\n", "n": [None, True, Int64(7), b"\x01",
                                                                       Float64List([0.5])]}
        self.assertEqual(decode_value(encode_value(value)), value)

    def test_envelopes(self):
        self.assertEqual(decode_envelope(hexbytes("00 01")), Success(True))
        self.assertEqual(decode_envelope(hexbytes("00 02")), Success(False))
        self.assertNotEqual(decode_envelope(hexbytes("00 03 00000000")), Success(False))
        self.assertEqual(decode_envelope(hexbytes("01 07 01 45 00 00")), Error("E", ""))
        self.assertEqual(decode_envelope(hexbytes("01 07 01 45 07 01 6d 00")), Error("E", "m"))
        self.assertEqual(decode_envelope(b""), NotImplementedReply())

    def test_truncated_and_unknown_input_is_refused(self):
        with self.assertRaises(Truncated):
            decode_value(hexbytes("03 01 02"))
        with self.assertRaises(ValueError):
            decode_value(hexbytes("0f"))

    def test_first_occurrence_of_a_key_wins(self):
        self.assertEqual(decode_value(hexbytes("0d 02 07 01 61 01 07 01 61 02")), {"a": True})


if __name__ == "__main__":
    unittest.main()
