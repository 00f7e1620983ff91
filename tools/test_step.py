"""Tests of the step between rows: the durations --step takes, the scaled semi-major axis, and the proof
that a scaled run of ephem gives the daily rows: every s-th row of a table at 1/s day is the daily
table's row, its angles digit for digit and its distances to the rounding of their nine digits."""

import decimal
import importlib.util
import math
import pathlib
import subprocess
import sys
import tempfile
import unittest
from fractions import Fraction

from testing import COMET_LINE, EPHEM, TestCase
from ephem_table.constants import AU_KM
from ephem_table import cli, datos, elements, events, mpc, step, table
from ephem_table.dates import calendar_date, julian_date

HAVE_SKYFIELD = all(importlib.util.find_spec(m) is not None for m in ("erfa", "numpy", "skyfield"))
if HAVE_SKYFIELD:
    import numpy

# An Apophis-like orbit passing the Earth-Moon barycentre of the planetary table at 0.000246 AU on
# 2029-04-13 at 21:46 TDB.
FLY_BY = elements.Orbit(a=0.9224, e=0.1911, i=3.34, w=126.4, om=203.986, M=252.5822,
                        epoch=julian_date("2029-04-13T21:46"), name="Apophis-like")


class DurationTest(TestCase):
    def test_durations(self):
        # (text, the step in days, its text as DATOS.DAT keeps it); then texts refused: beyond the
        # bounds, a unit that is none, no number, a blank inside, a sign, an exponent, digits of another
        # script (DATOS.DAT is ASCII).
        for text, days, kept in [("10m", "1/144", "10m"), (".5d", "1/2", "0.5d"), ("007d", "7", "7d"),
                                 ("1.50h", "1/16", "1.5h"), ("1m", "1/1440", "1m"), ("100d", "100", "100d")]:
            with self.subTest(text=text):
                self.assertEqual(step.parse_step(text), step.Step(kept, Fraction(days)))
        for text in ("0.99m", "100.01d", "0d", "30s", "h", "1 h", "-1h", "1e1m", "\u0661\u0660m", "\uff11h"):
            with self.subTest(text=text), self.assertRaises(ValueError):
                step.parse_step(text)

    def test_the_scaled_axis_is_the_double_nearest_to_a_s_two_thirds(self):
        # Against s^(2/3) in 60 digits, rounded to the nearest double by the decimal module; at s = 8
        # (3 h) s^(2/3) is 4, and the doubles scale exactly.
        context = decimal.Context(prec=60)
        for s in (Fraction(24), Fraction(1440), Fraction(1, 7), Fraction(1440, 7), Fraction(1, 100), Fraction(8)):
            for a in (1.0, 0.9224, 1.52371034, 3.1e-3, 5.2e5):
                with self.subTest(s=s, a=a):
                    root = context.power(context.divide(s.numerator ** 2, s.denominator ** 2), context.divide(1, 3))
                    self.assertEqual(step.scaled_axis(a, s), float(context.multiply(decimal.Decimal(a), root)))


def ephem_rows(text, folder):
    """The rows ephem writes for a DATOS.DAT, each as its eight texts and as the table read."""
    pathlib.Path(folder, "DATOS.DAT").write_text(text)
    done = subprocess.run([EPHEM], cwd=folder, capture_output=True, text=True)
    if done.returncode != 0 or done.stderr:
        raise AssertionError(f"ephem: {done.returncode} {done.stderr}")
    path = pathlib.Path(folder, "ZEPO.DAT")
    tokens = path.read_text().split()
    return [tokens[k:k + 8] for k in range(0, len(tokens), 8)], table.read_table(str(path))


def digit(value):
    """One unit of the ninth significant digit of a value."""
    return 10.0 ** (math.floor(math.log10(abs(value))) - 8)


@unittest.skipUnless(EPHEM, "needs the built ephem: EPHEM=path/to/ephem (CTest sets it)")
class ScalingTest(TestCase):
    def test_every_s_th_row_is_the_daily_row(self):
        with open(COMET_LINE, "rb") as stream:
            comet = mpc.mpc_orbit(stream, "55P.mpc")
        bodies = [
            # (name, target, first day), the observer the Earth-Moon barycentre at the first day
            ("Mars", elements.planet_orbit("mars", julian_date("2026-01-01")), "2026-01-01"),
            ("55P at perihelion, e 0.906", comet, "1998-02-20"),
            ("a fly-by at 0.000246 AU", FLY_BY, "2029-04-10"),
        ]
        # (the step, the daily rows compared, scaled rows and daily rows from one compared row to the next)
        steps = [("1h", 61, 24, 1), ("1m", 8, 1440, 1), ("7d", 365, 1, 7)]
        for name, target, first in bodies:
            start = julian_date(first)
            observer = elements.planet_orbit("emb", start)
            for text, days, scaled_apart, daily_apart in steps:
                every = step.parse_step(text)
                pairs = [(k * scaled_apart, k * daily_apart) for k in range((days - 1) // daily_apart + 1)]
                with self.subTest(body=name, step=text), tempfile.TemporaryDirectory() as tmp:
                    daily_text, daily = ephem_rows(datos.datos_text(target, observer, start, days), tmp)
                    scaled_text, scaled = ephem_rows(datos.datos_text(target, observer, start, pairs[-1][0] + 1, every),
                                                     tmp)
                    real = step.real_table(scaled, every, start, 0.0)
                    for k, j in pairs:
                        # Angles digit for digit, times exact, distances each printed to half a unit of its
                        # ninth digit and ours rounded to its own.
                        self.assertEqual([scaled_text[k][c] for c in (1, 2, 5, 6, 7)],
                                         [daily_text[j][c] for c in (1, 2, 5, 6, 7)], (k, j))
                        self.assertEqual(real[k].jd_tdb, daily[j].jd_tdb)
                        for field in ("sun_distance_au", "observer_distance_au"):
                            ours, theirs, printed = (getattr(row, field) for row in (real[k], daily[j], scaled[k]))
                            self.assertLessEqual(abs(ours - theirs), 0.5 * (digit(theirs) + digit(ours) +
                                                                            digit(printed) / every.length_factor))

    @unittest.skipUnless(HAVE_SKYFIELD, "needs python3-skyfield (the Debian package)")
    def test_a_fly_by_at_10_minute_rows_is_the_models_closest_approach(self):
        # The minimum of the distance that the two-body model gives from the elements written into
        # DATOS.DAT, by Skyfield's propagator, against the event of the 10-minute table.
        from skyfield.api import load
        from test_events import golden
        from test_propagation import generated_orbit
        start = julian_date("2029-04-12T12:00")
        observer = elements.planet_orbit("emb", start)
        ts = load.timescale(builtin=True)
        target_orbit, observer_orbit = (generated_orbit(o, ts) for o in (FLY_BY, observer))

        def distance(t):
            return float(numpy.linalg.norm(target_orbit._at(ts.tt_jd(t))[0] - observer_orbit._at(ts.tt_jd(t))[0]))
        with tempfile.TemporaryDirectory() as tmp:
            ephem_rows(datos.datos_text(FLY_BY, observer, start, 289, step.parse_step("10m")), tmp)
            rows, found, _ = cli.load_table(str(pathlib.Path(tmp, "ZEPO.DAT")), None)
        (event,) = [e for e in events.find_events(rows, found) if e.kind == events.CLOSEST_APPROACH]
        t_model = golden(distance, event.jd_tdb - 0.01, event.jd_tdb + 0.01, -1)
        d_model = distance(t_model)
        print(f"\nfly-by at 10-minute rows: {events.event_line(event)}; the model's at {calendar_date(t_model)} TDB, "
              f"{d_model:.6g} AU, the event's at {calendar_date(event.jd_tdb)}, {event.value:.6g} AU", file=sys.stderr)
        self.assertLess(abs(event.jd_tdb - t_model), 2.0 / 1440.0)
        self.assertEqual(event.text, f"distance {d_model:.3g} AU ({float(f'{d_model * AU_KM:.3g}'):,.0f} km)")


if __name__ == "__main__":
    unittest.main()
