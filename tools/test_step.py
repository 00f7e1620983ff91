"""Tests of the step between rows: the durations --step takes, the scaled semi-major axis, and the proof
that a scaled run of ephem gives the daily rows: every s-th row of a table at 1/s day is the daily
table's row, its angles digit for digit and its distances to the rounding of their nine digits."""

import decimal
import math
import pathlib
import subprocess
import tempfile
import unittest
from fractions import Fraction

from testing import COMET_LINE, EPHEM
from ephem_table import datos, elements, mpc, step, table
from ephem_table.dates import julian_date

# An Apophis-like orbit passing the Earth-Moon barycentre of the planetary table at 0.000246 AU on
# 2029-04-13 at 21:46 TDB.
FLY_BY = elements.Orbit(a=0.9224, e=0.1911, i=3.34, w=126.4, om=203.986, M=252.5822,
                        epoch=julian_date("2029-04-13T21:46"), name="Apophis-like")


class DurationTest(unittest.TestCase):
    def test_durations(self):
        # (text, the step in days, its text as DATOS.DAT keeps it; None: refused)
        cases = [("10m", Fraction(1, 144), "10m"), ("1h", Fraction(1, 24), "1h"), ("0.5d", Fraction(1, 2), "0.5d"),
                 ("7d", Fraction(7), "7d"), (".5d", Fraction(1, 2), "0.5d"), ("1.50h", Fraction(1, 16), "1.5h"),
                 ("007m", Fraction(7, 1440), "7m"), ("1m", Fraction(1, 1440), "1m"), ("100d", Fraction(100), "100d"),
                 ("24h", Fraction(1), "24h"),
                 # Beyond the bounds, a unit that is none, no number, a blank inside, a sign.
                 ("0.99m", None, ""), ("100.01d", None, ""), ("0d", None, ""), ("30s", None, ""), ("h", None, ""),
                 ("1 h", None, ""), ("-1h", None, ""), ("1e1m", None, "")]
        for text, days, kept in cases:
            with self.subTest(text=text):
                if days is None:
                    with self.assertRaises(ValueError):
                        step.parse_step(text)
                else:
                    found = step.parse_step(text)
                    self.assertEqual((found.days, found.text), (days, kept))
                    self.assertEqual(step.parse_step(found.text), found)

    def test_the_scaled_axis_is_the_double_nearest_to_a_s_two_thirds(self):
        # Against s^(2/3) in 60 digits of decimal arithmetic, rounded to the nearest double by the
        # decimal module (its conversion of a Decimal to float is correctly rounded).
        context = decimal.Context(prec=60)
        for s in (Fraction(24), Fraction(144), Fraction(1440), Fraction(1, 7), Fraction(1440, 7), Fraction(1, 100)):
            for a in (1.0, 0.9224, 1.52371034, 3.1e-3, 2.7666, 5.2e5, 1.0000026):
                with self.subTest(s=s, a=a):
                    root = context.power(context.divide(s.numerator ** 2, s.denominator ** 2),
                                         context.divide(1, 3))
                    self.assertEqual(step.scaled_axis(a, s), float(context.multiply(decimal.Decimal(a), root)))
        # A step of 3 h: s^(2/3) is 4, and the doubles scale exactly.
        self.assertEqual(step.scaled_axis(0.9224, Fraction(8)), 0.9224 * 4)


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
class ScalingTest(unittest.TestCase):
    def test_every_s_th_row_is_the_daily_row(self):
        with open(COMET_LINE, "rb") as stream:
            comet = mpc.mpc_orbit(stream, "55P.mpc")
        bodies = [
            # (name, target, first day), the observer the Earth-Moon barycentre at the first day
            ("Mars", elements.planet_orbit("mars", julian_date("2026-01-01")), "2026-01-01"),
            ("55P at perihelion, e 0.906", comet, "1998-02-20"),
            ("a fly-by at 0.000246 AU", FLY_BY, "2029-04-10"),
        ]
        # (the step, the daily rows compared); at 1440 rows a day, a week.
        steps = [("1h", 61), ("1m", 8), ("7d", 365)]
        for name, target, first in bodies:
            start = julian_date(first)
            observer = elements.planet_orbit("emb", start)
            for text, days in steps:
                every = step.parse_step(text)
                s = every.time_factor
                with self.subTest(body=name, step=text), tempfile.TemporaryDirectory() as tmp:
                    daily_text, daily = ephem_rows(datos.datos_text(target, observer, start, days), tmp)
                    rows = (days - 1) * int(s) + 1 if s >= 1 else (days - 1) // 7 + 1
                    scaled_text, scaled = ephem_rows(datos.datos_text(target, observer, start, rows, every), tmp)
                    real = step.real_table(scaled, every, start, 0.0)
                    factor = every.length_factor
                    pairs = [(k * int(s), k) for k in range(days)] if s >= 1 else \
                        [(k, 7 * k) for k in range(len(scaled))]
                    for k, j in pairs:
                        # Angles digit for digit; the times exact.
                        self.assertEqual([scaled_text[k][c] for c in (1, 2, 5, 6, 7)],
                                         [daily_text[j][c] for c in (1, 2, 5, 6, 7)], (k, j))
                        self.assertEqual(real[k].jd_tdb, daily[j].jd_tdb)
                        for field in ("sun_distance_au", "observer_distance_au"):
                            ours, theirs = getattr(real[k], field), getattr(daily[j], field)
                            printed = getattr(scaled[k], field)
                            # Each printed to half a unit of its ninth digit, and ours rounded to its own.
                            self.assertLessEqual(abs(ours - theirs), 0.5 * digit(theirs) + 0.5 * digit(printed) / factor +
                                                 0.5 * digit(ours), (k, j, field))


if __name__ == "__main__":
    unittest.main()
