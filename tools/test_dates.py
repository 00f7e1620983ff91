"""Tests of the dates module: the calendar both ways, the texts of dates, and their bounds."""

import datetime
import math
import unittest

from testing import TestCase
from ephem_table import dates


class CalendarDateTest(TestCase):
    def test_known_dates(self):
        cases = [
            (2451545.0, "2000-01-01 12:00:00"),
            (2451544.5, "2000-01-01 00:00:00"),
            (2459800.5, "2022-08-09 00:00:00"),
            (2451603.5, "2000-02-29 00:00:00"),     # a leap day of a century year divisible by 400
            (2415079.5, "1900-03-01 00:00:00"),     # the day after 1900-02-28: no leap day in 1900
            (2299160.5, "1582-10-15 00:00:00"),     # the first Gregorian day ...
            (2299159.5, "1582-10-04 00:00:00"),     # ... follows the last Julian one
            (0.0, "-4712-01-01 12:00:00"),          # the origin of Julian dates, Julian calendar
            (1721423.5, "0001-01-01 00:00:00"),
            (1721057.5, "0000-01-01 00:00:00"),     # 1 BC is the astronomical year 0
            (-1.0, "-4713-12-31 12:00:00"),
        ]
        for jd, text in cases:
            with self.subTest(jd=jd):
                self.assertEqual(dates.calendar_date(jd), text)
                self.assertEqual(dates.calendar_day(jd), text.partition(" ")[0])
                # And back: the date's own text reads as the same Julian date.
                self.assertEqual(dates.julian_date(text), jd)

    def test_seconds_round_and_carry_into_the_next_day(self):
        self.assertEqual(dates.calendar_date(2451545.0 + 1.0 / 86400), "2000-01-01 12:00:01")
        # 0.4 s before midnight of Dec 31 rounds into the next year.
        self.assertEqual(dates.calendar_date(2451544.5 - 0.4 / 86400), "2000-01-01 00:00:00")
        self.assertEqual(dates.calendar_date(2451544.5 - 0.6 / 86400), "1999-12-31 23:59:59")

    def test_gregorian_days_agree_with_the_standard_library(self):
        start = datetime.date(1583, 1, 1)
        for offset in range(0, 400 * 366 + 1000, 97):
            day = start + datetime.timedelta(days=offset)
            jdn = day.toordinal() + 1721425
            self.assertEqual(dates.gregorian_from_day(jdn), (day.year, day.month, day.day))
            self.assertEqual(dates.day_number(day.year, day.month, day.day), jdn)

    def test_no_date_for_values_without_one(self):
        for jd in (math.nan, math.inf, -math.inf, 1e300):
            with self.subTest(jd=jd):
                self.assertEqual(dates.calendar_date(jd), "")
                self.assertEqual(dates.date_or_jd(jd), f"JD {jd}")


class JulianDateTest(TestCase):
    def test_texts_of_dates(self):
        cases = [("2000-01-01T12:00", 2451545.0), ("2000-01-01 12:00:00", 2451545.0),
                 ("2451545.25", 2451545.25), ("1582-10-15", 2299160.5), ("1582-10-04", 2299159.5),
                 ("2022-08-09", 2459800.5), ("1900-03-01", 2415079.5), ("-4712-01-01T12:00", 0.0),
                 ("+2000-01-01T18:00", 2451545.25), (" 2022-08-09 ", 2459800.5),
                 # A fraction of the day, as orbit listings write the time of perihelion.
                 ("2000-01-01.5", 2451545.0), ("2000-01-01.", 2451544.5), ("1998-02-28.0977", 2450872.5977),
                 ("1582-10-04.75", 2299160.25)]
        for text, jd in cases:
            with self.subTest(text=text):
                self.assertEqual(dates.julian_date(text), jd)

    def test_refusals_say_what_is_wrong_in_one_short_line(self):
        cases = [
            ("2000-01-01x", "'2000-01-01x' is neither a date"),
            ("2023-13-01", "'2023-13-01' is not a date of the calendar"),
            ("2023-02-29", "is not a date of the calendar"),
            ("1582-10-10", "is not a date of the calendar"),   # skipped by the change of calendar
            ("2000-01-01T24:00", "is not a date of the calendar"),
            ("2023-02-29.5", "is not a date of the calendar"),
            ("2000-01-01.5T12:00", "is neither a date YYYY-MM-DD[THH:MM[:SS]], YYYY-MM-DD.ddd nor a Julian date"),
            ("nan", "'nan' is not a finite Julian date"),
            ("1e9", "a Julian date must lie within 1e+09 either way"),
            ("-1e300", "a Julian date must lie within"),
            ("1000001-01-01", "the year is beyond 1,000,000 either way"),
            # A year of 400 digits: refused by its length, without reading it.
            ("9" * 400 + "-01-01", "the year is beyond 1,000,000 either way"),
            ("0" * 400 + "2000-01-01", None),
            ("1" * 5000, "is not a finite Julian date"),  # read as infinity
        ]
        for text, message in cases:
            with self.subTest(text=text[:30]):
                if message is None:
                    self.assertEqual(dates.julian_date(text), 2451544.5)
                    continue
                with self.assertRaises(dates.DateError) as caught:
                    dates.julian_date(text, "--start")
                self.assertIn(message, str(caught.exception))
                self.assertTrue(str(caught.exception).startswith("--start "))
                self.assertLess(len(str(caught.exception)), 200)


if __name__ == "__main__":
    unittest.main()
