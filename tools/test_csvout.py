"""Tests of the texts of the CSV's values: sexagesimal angles (the CSV itself: test_cli)."""

import math
import unittest

from testing import TestCase
from ephem_table import csvout


class SexagesimalTest(TestCase):
    def test_right_ascension(self):
        cases = [
            (22.0352961, "22:02:07.07"),
            (0.0, "00:00:00.00"),
            (12.5, "12:30:00.00"),
            (23.9999999999, "00:00:00.00"),  # rounds to 24 h, which is 0 h
            (24.0, "00:00:00.00"),           # ephem can write exactly 24
            (1.0 - 0.004 / 3600, "01:00:00.00"),  # 59.996 s carries into the minute and hour
            (math.nan, ""),
            (math.inf, ""),
        ]
        for hours, text in cases:
            with self.subTest(hours=hours):
                self.assertEqual(csvout.hours_hms(hours), text)

    def test_declination(self):
        cases = [
            (-13.1786492, "-13:10:43.1"),
            (5.5, "+05:30:00.0"),
            (90.0, "+90:00:00.0"),
            (-0.0, "+00:00:00.0"),
            (-0.00001, "+00:00:00.0"),        # rounds to zero: no minus before a zero
            (-0.0001, "-00:00:00.4"),
            (29.999999999, "+30:00:00.0"),    # carries through seconds and minutes
            (math.nan, ""),
            (-math.inf, ""),
            (1e300, ""),
        ]
        for degrees, text in cases:
            with self.subTest(degrees=degrees):
                self.assertEqual(csvout.degrees_dms(degrees), text)


class BoundTest(TestCase):
    def test_bounds_are_rounded_up(self):
        # The model error and the observer's error: never written below what they are.
        cases = [(0.2571, 3, "0.258"), (0.257, 3, "0.257"), (0.0, 3, "0.000"), (1e-9, 3, "0.001"),
                 (6490.01, 1, "6490.1"), (123456.0, 1, "123456.0"), (math.nan, 3, ""), (math.inf, 1, "")]
        for value, digits, text in cases:
            with self.subTest(value=value):
                self.assertEqual(csvout.bound_text(value, digits), text)


if __name__ == "__main__":
    unittest.main()
