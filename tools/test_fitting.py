"""Tests of the orbits `datos` and `run` fit over the table's dates: the tables ephem writes from them against
ERFA's places computed here (plan94, epv00 and moon98 in their own equatorial frame), a minor planet
against an integration with the planets' pulls written here its own way, the Earth's centre at a fly-by,
the fit's independence of the step, and the fallbacks to the elements as given, through the real program.

They need the built program (EPHEM), python3-erfa, python3-scipy and python3-skyfield; without them they
skip and say why.
"""

import csv
import importlib.util
import math
import pathlib
import re
import sys
import tempfile
import unittest

from testing import CERES_LINE, EPHEM, EXAMPLES, TestCase, long_check, run_tool
from ephem_table.constants import AU_KM, GAUSS_K, OBLIQUITY
from ephem_table import datos, step
from ephem_table.dates import julian_date

HAVE_CHECKERS = all(importlib.util.find_spec(m) is not None for m in ("erfa", "scipy", "skyfield"))
if HAVE_CHECKERS:
    import erfa
    import numpy
    from test_events import golden
    from test_propagation import emb_from_erfa, generated_orbit

NEEDS = "needs the built ephem (EPHEM), python3-erfa, python3-scipy and python3-skyfield"
PLAN94 = {"mars": 4, "venus": 2, "jupiter": 5}

# The Sun's mass over each planet's (the Earth-Moon system as one), as the JPL ephemeris DE405 has them:
# another set than the companion's, and the Earth and Moon as one body, so that the integration here
# differs from the companion's in every choice but the planets' places.
SUN_OVER = {1: 6023600.0, 2: 408523.71, 3: 328900.56, 4: 3098708.0, 5: 1047.3486, 6: 3497.898, 7: 22902.98,
            8: 19412.24}


def run_in(tmp, *args):
    """`ephem-table run ARGS --dir tmp --csv t.csv`, with the built ephem on PATH: its status, standard
    error, the rows of its CSV, and its DATOS.DAT read."""
    done = run_tool("run", *args, "--dir", str(tmp), "--csv", str(pathlib.Path(tmp, "t.csv")),
                    path=str(pathlib.Path(EPHEM).resolve().parent))
    if done.returncode != 0:
        raise AssertionError(done.stderr)
    lines = pathlib.Path(tmp, "t.csv").read_text().splitlines()
    return done, list(csv.DictReader(lines[1:])), lines[0], datos.read_datos(str(pathlib.Path(tmp, "DATOS.DAT")))


def row_directions(records):
    """Unit vectors (equatorial) of the rows' places as printed."""
    ra = numpy.radians(15.0 * numpy.array([float(r["ra_hours"]) for r in records]))
    dec = numpy.radians(numpy.array([float(r["dec_degrees"]) for r in records]))
    return numpy.stack([numpy.cos(dec) * numpy.cos(ra), numpy.cos(dec) * numpy.sin(ra), numpy.sin(dec)], axis=-1)


def arcsec_between(u, v):
    u = u / numpy.linalg.norm(u, axis=1)[:, None]
    v = v / numpy.linalg.norm(v, axis=1)[:, None]
    return numpy.degrees(2.0 * numpy.arcsin(numpy.linalg.norm(u - v, axis=1) / 2.0)) * 3600.0


def erfa_differences(planet, records):
    """The angle between each row and ERFA's planet seen from ERFA's Earth-Moon barycentre, arcsec."""
    times = numpy.array([float(r["julian_date_tdb"]) for r in records])
    target = erfa.plan94(times, 0.0, PLAN94[planet])["p"]
    observer = numpy.stack([emb_from_erfa(t) for t in times])
    return arcsec_between(row_directions(records), target - observer)


@unittest.skipUnless(EPHEM and HAVE_CHECKERS, NEEDS)
class ErfaAgreementTest(TestCase):
    """Planets fitted to ERFA: every row within the limit of ERFA's place, and model_error_arcsec never
    below the true difference by more than 0.1 arcsec (it is measured against the same references,
    evaluated at the row's time; 0.1 arcsec allows for a reference computed another way)."""

    def expect_within(self, planet, start, rows, limit):
        with tempfile.TemporaryDirectory() as tmp:
            done, records, comment, found = run_in(tmp, planet, "--start", start, "--rows", rows)
        true = erfa_differences(planet, records)
        stated = numpy.array([float(r["model_error_arcsec"]) for r in records])
        print(f"\n{planet} {rows} rows from {start}: at most {true.max():.2f} arcsec from ERFA, the column "
              f"{stated.max():.2f}", file=sys.stderr)
        self.assertLess(true.max(), limit)
        self.assertGreaterEqual((stated - true).min(), -0.1)
        self.assertLess((stated - true).max(), 0.1)
        self.assertIn(f"fitted to ERFA plan94 {planet.title()} over JD", found.notes[0])
        self.assertIn(f"model_error_arcsec: the angle between the row's place and that of ERFA plan94 {planet.title()}",
                      comment)
        self.assertRegex(done.stdout, r"\n  largest [\d.]+ arcsec on \d{4}-\d\d-\d\d")

    def test_mars_for_30_rows(self):
        self.expect_within("mars", "2026-08-20", "30", 0.5)

    @long_check
    def test_planets_for_a_year(self):
        # With the elements as given (the planetary table) Mars is 22.8 arcsec off.
        for planet in ("mars", "venus", "jupiter"):
            with self.subTest(planet=planet):
                self.expect_within(planet, "2026-08-20", "365", 5.0)


def own_integration(state, epoch, times):
    """The heliocentric equatorial positions (AU) at `times` of a body with `state` (position and velocity,
    equatorial) at `epoch`, by the classical Runge-Kutta method of order 4 with a fixed step of an
    eighth of a day, the planets from plan94 (the Earth-Moon barycentre as one body)."""
    gms = numpy.array([GAUSS_K ** 2 / SUN_OVER[n] for n in range(1, 9)])

    def derivative(t, y):
        places = erfa.plan94(t, 0.0, numpy.arange(1, 9))["p"]
        toward = places - y[:3]
        pull = -GAUSS_K ** 2 * y[:3] / numpy.linalg.norm(y[:3]) ** 3
        pull = pull + gms @ (toward / numpy.linalg.norm(toward, axis=1)[:, None] ** 3 -
                             places / numpy.linalg.norm(places, axis=1)[:, None] ** 3)
        return numpy.concatenate([y[3:], pull])
    h = 0.125
    t, y = epoch, numpy.asarray(state, dtype=float)
    found = []
    for wanted in times:
        while t + h <= wanted:
            k1 = derivative(t, y)
            k2 = derivative(t + h / 2, y + h / 2 * k1)
            k3 = derivative(t + h / 2, y + h / 2 * k2)
            k4 = derivative(t + h, y + h * k3)
            y, t = y + h / 6 * (k1 + 2 * k2 + 2 * k3 + k4), t + h
        # The last piece of the step to the row itself, by Taylor's series to the second order from the
        # state (at most an eighth of a day: below 1e-10 AU).
        dt = wanted - t
        found.append(y[:3] + dt * y[3:] + dt * dt / 2 * derivative(t, y)[3:])
    return numpy.array(found)


@unittest.skipUnless(EPHEM and HAVE_CHECKERS, NEEDS)
class IntegrationTest(TestCase):
    def test_a_minor_planet_a_year_past_its_epoch_follows_the_integration(self):
        # Ceres's line of MPCORB.DAT, epoch 2022-08-09; 180 rows from 2023-08-09. Its state at the epoch by
        # Skyfield's propagator from the elements, integrated here; the rows against it seen from ERFA's
        # Earth-Moon barycentre. As given, the two-body orbit drifts from it by arcminutes.
        from skyfield.api import load
        from ephem_table import mpc
        ts = load.timescale(builtin=True)
        with open(CERES_LINE, "rb") as stream:
            ceres = mpc.mpc_orbit(stream, "ceres.mpc")
        orbit = generated_orbit(ceres, ts)
        where, speed, _, _ = orbit._at(ts.tt_jd(ceres.epoch))
        found, notes = {}, {}
        with tempfile.TemporaryDirectory() as tmp:
            for label, extra in (("fitted", ()), ("as given", ("--as-given",))):
                _, records, _, written = run_in(tmp, str(CERES_LINE), "--start", "2023-08-09", "--rows", "180", *extra)
                notes[label] = written.notes[0]
                times = numpy.array([float(r["julian_date_tdb"]) for r in records])
                if label == "fitted":
                    path = own_integration(numpy.concatenate([where, speed]), ceres.epoch, times)
                    observer = numpy.stack([emb_from_erfa(t) for t in times])
                found[label] = arcsec_between(row_directions(records), path - observer)
        print(f"\nCeres a year past its epoch, 180 rows: fitted {found['fitted'].max():.2f} arcsec from the "
              f"integration, as given {found['as given'].max():.1f}", file=sys.stderr)
        self.assertLess(found["fitted"].max(), 5.0)
        self.assertGreater(found["as given"].max(), 20.0)
        self.assertIn("; fitted to an integration with the planets' pulls from a e i w om M epoch m = 2.766619 "
                      "0.0786358 10.5868 73.53163 80.26644 334.32717 2459800.5 0.0 over JD 2460165.5 to 2460344.5",
                      notes["fitted"])
        self.assertNotIn("fitted", notes["as given"])


@unittest.skipUnless(EPHEM and HAVE_CHECKERS, NEEDS)
class GeocentreTest(TestCase):
    def test_a_fly_by_seen_from_the_earths_centre(self):
        # The Apophis-like orbit of README past the Earth on 2029-04-13, 10-minute rows over two days.
        from skyfield.api import load
        ts = load.timescale(builtin=True)
        with tempfile.TemporaryDirectory() as tmp:
            done, records, _, found = run_in(tmp, "a=0.9224", "e=0.1911", "i=3.34", "w=126.4", "om=203.986",
                                             "M=252.5822", "epoch=2029-04-13T21:46", "--observer", "geocentre",
                                             "--start", "2029-04-12T12:00", "--rows", "289", "--step", "10m")
        found = found.real()
        self.assertEqual(found.observer_kind(), "geocentre")
        target, observer = (generated_orbit(o, ts) for o in (found.target, found.observer))
        # Equatorial through ephem's obliquity, as the rows are (Skyfield's own differs by 0.0004 arcsec,
        # 0.3 km at 1 AU).
        turn = OBLIQUITY
        for orbit in (target, observer):
            orbit._rotation = numpy.array([[1.0, 0.0, 0.0], [0.0, math.cos(turn), -math.sin(turn)],
                                           [0.0, math.sin(turn), math.cos(turn)]])

        def at(orbit, t):
            return numpy.asarray(orbit._at(ts.tt_jd(t))[0]).T.reshape(-1, 3)
        times = numpy.array([float(r["julian_date_tdb"]) for r in records])
        earth = erfa.epv00(times, 0.0)[0]["p"]
        off_km = numpy.linalg.norm(at(observer, times) - earth, axis=1) * AU_KM
        self.assertLess(off_km.max(), 100.0)
        stated = numpy.array([float(r["observer_error_km"]) for r in records])
        self.assertLess((off_km - stated).max(), 0.1, (off_km - stated).max())

        # The closest approach of the same target orbit seen from ERFA's Earth, and the table's.
        def from_earth(t):
            return float(numpy.linalg.norm(at(target, t)[0] - erfa.epv00(t, 0.0)[0]["p"]))
        t_erfa = golden(from_earth, times[0], times[-1], -1)
        d_erfa = from_earth(t_erfa)
        approach = re.search(r"(\d{4}-\d\d-\d\d \d\d:\d\d) TDB  closest approach: distance ([\d.]+) AU",
                             done.stdout)
        assert approach is not None, done.stdout
        when, distance = approach.groups()
        t_table = julian_date(when.replace(" ", "T"))
        print(f"\nfly-by from the Earth's centre: the table {when} TDB, {distance} AU; ERFA's Earth "
              f"{(t_erfa - t_table) * 1440:+.1f} min, {d_erfa:.6f} AU; the observer within {off_km.max():.1f} km",
              file=sys.stderr)
        self.assertLess(abs(t_table - t_erfa) * 1440.0, 2.0)
        self.assertLess(abs(float(distance) / d_erfa - 1.0), 0.01)
        warning = re.search(r"warning: the target passes ([\d.]+) AU \(([\d,]+) km\) from the observer on .*: the "
                            r"observer is the Earth's centre, and a place on the Earth's surface sees the target up to "
                            r"([\d.]+) deg from there", done.stderr)
        assert warning is not None, done.stderr
        # No ellipse follows a path bent by the Earth's pull: the elements, which osculate at the fly-by,
        # are kept, and said so.
        self.assertIn("warning: the target: no two-body orbit follows its path over these dates", done.stderr)
        km = float(warning.group(2).replace(",", ""))
        self.assertAlmostEqual(float(warning.group(3)), math.degrees(math.asin(6378.1 / km)), delta=0.06)


@unittest.skipUnless(EPHEM and HAVE_CHECKERS, NEEDS)
class StepTest(TestCase):
    def test_the_fit_is_the_same_at_any_step_over_the_same_dates(self):
        # Two days of Mars daily and hourly: the same orbits, scaled (test_step: their rows are the daily
        # rows digit for digit).
        for daily_rows, every, rows in (("3", "1h", "49"),):
            with self.subTest(step=every), tempfile.TemporaryDirectory() as tmp:
                texts = {}
                for text, count in (("1d", daily_rows), (every, rows)):
                    done = run_tool("datos", "mars", "--start", "2026-01-01", "--rows", count, "--step", text,
                                    "-o", "-", cwd=tmp)
                    self.assertEqual(done.returncode, 0, done.stderr)
                    texts[text] = done.stdout
                daily, scaled = datos.parse_datos(texts["1d"]), datos.parse_datos(texts[every])
                s = scaled.step.time_factor
                start = daily.start_jd_tdb
                for ours, theirs in ((daily.target, scaled.target), (daily.observer, scaled.observer)):
                    self.assertEqual(ours.values()[1:6] + ours.values()[7:], theirs.values()[1:6] + theirs.values()[7:])
                    self.assertEqual(step.scaled_axis(ours.a, s), theirs.a)
                    self.assertEqual(step.scaled_time(ours.epoch, start, s), theirs.epoch)
                self.assertEqual(daily.fit_span(), scaled.fit_span())


if __name__ == "__main__":
    unittest.main()


@unittest.skipUnless(EPHEM and HAVE_CHECKERS, NEEDS)
class FallbackTest(TestCase):
    """Where a body has no reference, its elements are used as given, and what is said says why; where the
    table has none, info and the CSV say why its model error is not told."""

    def expect(self, cases):
        """Each case: (arguments of run, status, words on standard error, the fit notes of target and
        observer, the model error line of info)."""
        for args, status, said, fitted, line in cases:
            with self.subTest(args=" ".join(args)), tempfile.TemporaryDirectory() as tmp:
                done = run_tool("run", *args, "--rows", "10", "--dir", tmp,
                                path=str(pathlib.Path(EPHEM).resolve().parent))
                self.assertEqual(done.returncode, status, done.stderr)
                self.assertIn(said, done.stderr)
                if status:
                    self.assertEqual(done.stderr.count("\n"), 1, done.stderr)
                    self.assertFalse(pathlib.Path(tmp, "DATOS.DAT").exists())
                    continue
                found = datos.read_datos(str(pathlib.Path(tmp, "DATOS.DAT")))
                self.assertEqual(tuple(datos.FIT_NOTE in note for note in found.notes[:2]), fitted)
                self.assertIn(f"\n{line}", done.stdout)
                if "--as-given" in args:
                    worst = re.search(r"\n  largest ([\d.]+) arcsec", done.stdout)
                    assert worst is not None, done.stdout
                    self.assertGreater(float(worst.group(1)), 15.0)

    def test_bodies_without_a_reference(self):
        self.expect([
            (("mars", "--start", "1850-01-01"), 0,
             "warning: the observer (EM-Bary): the dates run outside ERFA's epv00 span, 1900-2100: its elements are "
             "used as given", (True, False), "model error: none, the dates run outside ERFA's epv00 span, 1900-2100"),
            (("pluto", "--start", "2026-01-01"), 0, "warning: Pluto: ERFA's plan94 has no Pluto: its elements are used "
             "as given", (False, True), "model error: none, ERFA's plan94 has no Pluto"),
            (("mars", "--observer", "geocentre", "--start", "2026-01-01", "--as-given"), 2,
             "ephem-table run: the Earth's centre has no elements to give: the planetary table holds the Earth-Moon "
             "barycentre (emb) alone", None, ""),
        ])

    def test_the_earth_and_the_elements_as_given(self):
        self.expect([
            (("mars", "--observer", "geocentre", "--start", "1850-01-01"), 0,
             "warning: the observer (Earth): the Earth's centre is fitted to ERFA's epv00, and the dates run outside "
             "ERFA's epv00 span, 1900-2100: the Earth-Moon barycentre of the planetary table stands in for it",
             (True, False), "model error: none, the dates run outside ERFA's epv00 span, 1900-2100"),
            (("earth", "--observer", "venus", "--start", "2026-01-01"), 0,
             "note: the target, earth, is the Earth-Moon barycentre (emb), as it has always been here; geocentre is "
             "the Earth's centre", (True, True), "model error: the rows against ERFA epv00 and moon98 (the Earth-Moon "
             "barycentre) seen from ERFA plan94 Venus"),
            # As given, the rows are still measured against ERFA: the planetary table's Mars is 20 arcsec off.
            (("mars", "--start", "2026-08-20", "--as-given"), 0, "", (False, False),
             "model error: the rows against ERFA plan94 Mars seen from ERFA epv00 and moon98"),
        ])

    def test_a_datos_dat_written_by_hand_has_no_model_error(self):
        # The Mars example's DATOS.DAT holds values alone: the columns are empty, and both commands say why.
        why = "the target has no reference: DATOS.DAT has no notes saying where its orbits come from (written by hand?)"
        with tempfile.TemporaryDirectory() as tmp:
            pathlib.Path(tmp, "DATOS.DAT").write_bytes((EXAMPLES / "mars" / "DATOS.DAT").read_bytes())
            pathlib.Path(tmp, "ZEPO.DAT").write_bytes((EXAMPLES / "mars" / "ZEPO.expected").read_bytes())
            info = run_tool("info", cwd=tmp)
            table = run_tool("csv", cwd=tmp)
        self.assertIn(f"\nmodel error: none, {why}\n", info.stdout)
        comment, header, first = table.stdout.splitlines()[:3]
        self.assertIn(f"; model_error_arcsec and observer_error_km: empty: {why};", comment)
        columns = header.split(",")
        at = columns.index("model_error_arcsec")
        self.assertEqual(columns[at + 1], "observer_error_km")
        self.assertEqual(first.split(",")[at:at + 2], ["", ""])
