"""Tests of UTC from TDB: against Skyfield's own table of leap seconds from 1972, against the offsets of
1961-1971 computed by hand from the IERS's formulas, and the dates that have no UTC."""

import math
import random
import unittest

from testing import TestCase
from ephem_table import timescales

SECOND = 1.0 / 86400.0


def tt_of_utc(utc_jd_at_midnight, seconds_after, tai_minus_utc):
    """The Julian date (TT) of a UTC time, from TAI - UTC as the IERS gives it."""
    return utc_jd_at_midnight + (seconds_after + tai_minus_utc + 32.184) * SECOND


@unittest.skipUnless(timescales.utc_available(), "python3-erfa is not installed")
class UtcTest(TestCase):
    def test_dates_agree_with_skyfield_from_1972(self):
        from skyfield.api import load
        scale = load.timescale(builtin=True)
        rng = random.Random(20)
        # Whole hours and a half second past them, so that no date lies at a rounding edge; and the
        # instants around each leap second, where the two tables must agree on the 61st second.
        jds = [2441317.5 + rng.randrange(0, 60 * 365 * 24) / 24.0 + 0.5 * SECOND for _ in range(300)]
        for leap in (2441499.5, 2450630.5, 2457754.5):
            jds += [leap + (offset + 0.5) * SECOND for offset in range(60, 72)]
        ours = timescales.utc_dates(jds)
        for jd, text in zip(jds, ours):
            with self.subTest(jd=jd):
                self.assertEqual(text, scale.tt_jd(jd).utc_strftime("%Y-%m-%d %H:%M:%S"))

    def test_leap_seconds_and_the_years_of_drifting_offsets(self):
        cases = [
            # (TT as a Julian date, UTC), each row protecting one reading of the table.
            (2451545.0, "2000-01-01 11:58:56"),  # 64.184 s: TAI - UTC 32 s in 2000
            # The last leap second: 2016-12-31 23:59:60 is a time of its own, then the next day.
            (tt_of_utc(2457753.5, 86400.3, 36.0), "2016-12-31 23:59:60"),
            (tt_of_utc(2457754.5, 0.3, 37.0), "2017-01-01 00:00:00"),
            # 1961-1971, TAI - UTC drifted: 1.4228180 s + (MJD - 37300) * 0.001296 s from 1961-01-01,
            # 4.2131700 s + (MJD - 39126) * 0.002592 s from 1968-02-01.
            (tt_of_utc(2437300.5, 0.4, 1.4228180), "1961-01-01 00:00:00"),
            (tt_of_utc(2440587.5, 0.4, 4.2131700 + (40587 - 39126) * 0.002592), "1970-01-01 00:00:00"),
            (tt_of_utc(2440587.5, -0.6, 4.2131700 + (40587 - 39126) * 0.002592), "1969-12-31 23:59:59"),
            # UTC begins on 1960-01-01, when TAI - UTC was 1.4178180 - 366 * 0.001296 s.
            (tt_of_utc(2436934.5, 0.0, 0.9434820), "1960-01-01 00:00:00"),
            (tt_of_utc(2436934.5, -0.01, 0.9434820), ""),
            (2415020.0, ""),
            # After the last leap second none is assumed.
            (tt_of_utc(2469807.5, 0.4, 37.0), "2050-01-01 00:00:00"),
            (math.nan, ""), (math.inf, ""), (-math.inf, ""), (1e300, ""), (-1e300, ""),
        ]
        texts = timescales.utc_dates([jd for jd, _ in cases])
        for (jd, text), ours in zip(cases, texts):
            with self.subTest(jd=jd, utc=text):
                self.assertEqual(ours, text)
                self.assertEqual(timescales.utc_date(jd), text or None)


if __name__ == "__main__":
    unittest.main()
