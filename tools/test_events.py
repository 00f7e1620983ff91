"""Tests of the events: their kinds, their times and the values `info` prints, on rows from curves whose
extremum is known exactly (a parabola through three rows gives back its own vertex)."""

import datetime
import math
import unittest

from testing import MARS_TABLE
from ephem_table import events, table
from ephem_table.row import Table

FIRST = 2460017.5


def rows(turn, elongation=lambda dt: 90.0, distance=lambda dt: 1.0, ra=lambda dt: 5.0, r=1.5, phase=20.0,
         count=7):
    """Daily rows around a turn at JD `turn`. An outer body by default: 1.5 AU from the Sun, 1 AU from
    the observer at a phase angle of 20 degrees, so the observer is 0.66 AU from the Sun; an inner one
    (r=0.7, phase=90): the observer at 1.22 AU."""
    return Table.of_rows("rows", [(t, ra(t - turn), 10.0, r, distance(t - turn), elongation(t - turn), phase, 0.9)
                                  for t in [FIRST + k for k in range(count)]])


def minute_text(jd):
    """The date and time to the minute, by the standard library."""
    when = datetime.datetime(2000, 1, 1, 12) + datetime.timedelta(days=jd - 2451545.0)
    when += datetime.timedelta(seconds=30)  # to the nearest minute
    return when.strftime("%Y-%m-%d %H:%M")


class EventsTest(unittest.TestCase):
    def test_kind_time_and_printed_value_of_each_event(self):
        # Curves sharp enough that the nearest row's value differs from the extremum at the printed
        # precision: a wrong fit of the value shows in the text.
        cases = [
            # (rows, kind, turning time, text)
            (rows(2460020.3, elongation=lambda dt: 170.0 - 2.0 * dt * dt), "opposition", 2460020.3,
             "elongation 170.0 deg"),
            # An inclined outer body: its opposition is where its elongation turns, far from 180 degrees,
            # and its conjunction where it turns far from 0.
            (rows(2460020.3, elongation=lambda dt: 128.0 - 2.0 * dt * dt), "opposition", 2460020.3,
             "elongation 128.0 deg"),
            (rows(2460020.1, elongation=lambda dt: 25.0 + 2.0 * dt * dt), "conjunction", 2460020.1,
             "elongation 25.0 deg"),
            (rows(2460020.8, elongation=lambda dt: 45.0 - 3.0 * dt * dt, r=0.7, phase=90.0),
             "greatest elongation", 2460020.8, "elongation 45.0 deg"),
            (rows(2460020.1, elongation=lambda dt: 2.0 + 2.0 * dt * dt, r=0.7, phase=150.0),
             "inferior conjunction", 2460020.1, "elongation 2.0 deg"),
            (rows(2460020.6, distance=lambda dt: 0.4 + 0.01 * dt * dt), "closest approach", 2460020.6,
             "distance 0.4000 AU"),
            (rows(2460019.7, ra=lambda dt: 5.0 - 0.05 * dt * dt), "stationary, retrograde begins", 2460019.7,
             "RA 5.000 h"),
            (rows(2460019.7, ra=lambda dt: 5.0 + 0.05 * dt * dt), "stationary, direct again", 2460019.7,
             "RA 5.000 h"),
            # Right ascension through 0 h at its turn: the wrap is no turn, the maximum is, at 0 h.
            (rows(2460020.5, ra=lambda dt: (24.0 - 0.01 * dt * dt) % 24.0), "stationary, retrograde begins",
             2460020.5, "RA 0.000 h"),
        ]
        for table_rows, kind, when, text in cases:
            with self.subTest(kind=kind, text=text):
                (found,) = events.find_events(table_rows)
                self.assertEqual((found.kind, found.text), (kind, text))
                self.assertAlmostEqual(found.jd_tdb, when, delta=1e-6)
                self.assertEqual(events.event_line(found), f"{minute_text(when)} TDB  {kind}: {text}")

    def test_rows_without_the_values_an_event_needs_make_none(self):
        nan_row = (2451545.0, math.nan, math.nan, 1.0, 0.0, math.nan, math.nan, math.nan)
        cases = [
            ("NAN rows", Table.of_rows("nan", [nan_row] * 5)),
            # An infinite phase angle where the elongation turns: the kind cannot be told.
            ("INF phase angle", rows(2460020.3, elongation=lambda dt: 170.0 - 2.0 * dt * dt, phase=math.inf)),
            # Right ascensions that are none (outside 0 to 24 h) do not turn.
            ("RA out of range", rows(2460020.3, ra=lambda dt: 1e308 * (1 - abs(dt) / 4))),
        ]
        for name, table_rows in cases:
            with self.subTest(name):
                self.assertEqual(events.find_events(table_rows), [])

    def test_unwrap_keeps_a_track_through_zero_hours_continuous(self):
        track = events.unwrapped_ra([23.5, 23.9, 0.2, math.nan, 0.6, 25.0])
        self.assertEqual(track[:3], [23.5, 23.9, 24.2])
        self.assertTrue(math.isnan(track[3]))
        self.assertEqual(track[4], 24.6)  # continues from the last finite value across the NaN
        self.assertTrue(math.isnan(track[5]))  # no right ascension
        self.assertEqual(events.unwrapped_ra([0.5, 23.5]), [0.5, -0.5])

    def test_mars_conjunction_of_2000(self):
        # Mars's conjunction with the Sun, as SOURCE.md records it.
        with open(MARS_TABLE, "rb") as stream:
            found = events.find_events(table.read_rows(stream))
        (line,) = [events.event_line(e) for e in found]
        self.assertRegex(line, r"^2000-07-0[12] \d\d:\d\d TDB  conjunction: elongation 0\.9 deg$")


if __name__ == "__main__":
    unittest.main()
