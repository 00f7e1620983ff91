"""Tests of what a site sees (topocentre.py, nights.py), the rates of motion (rates.py) and their columns
and lines in csv and info (observing.py), against computations of their own: ERFA's functions composed
otherwise (the celestial-to-terrestrial matrix of IAU 2006/2000A, the site's vector and horizon written
here), SciPy's splines and root finding, finite differences of the table's own rows."""

import csv
import io
import math
import os
import pathlib
import re
import subprocess
import tempfile
import unittest
import warnings
from typing import Any, Dict, List

from testing import EPHEM, TestCase, run_tool
from ephem_table.constants import AU_M, MOON_SHARE

try:
    import erfa
    import numpy
    from scipy.interpolate import CubicSpline
    from scipy.optimize import brentq
    HAVE_LIBRARIES = True
except ImportError:
    HAVE_LIBRARIES = False

PARIS = (48.8566, 2.3522, 35.0)


def rows_of(text):
    lines = [line for line in text.splitlines() if not line.startswith("#")]
    return list(csv.DictReader(io.StringIO("\n".join(lines))))


def column(rows, name):
    return numpy.array([float(row[name]) if row[name] else math.nan for row in rows])


def universal(jd_tt):
    """UT1 taken as UTC, by ERFA's leap seconds (a second's error is 15 arcseconds, far inside the
    tolerances)."""
    with warnings.catch_warnings():
        # Years past ERFA's table of leap seconds are "dubious" to it: UTC then assumes no new one.
        warnings.simplefilter("ignore", erfa.ErfaWarning)
        return erfa.taiutc(*erfa.tttai(jd_tt, 0.0))


def horizon_view(jd_tt, vectors, site):
    """Altitude and azimuth (degrees) of geocentric vectors (AU, GCRS) from the site: the vectors turned
    to the terrestrial frame by c2t06a, the site and its local east, north and up written out on WGS84."""
    lat, lon, height = math.radians(site[0]), math.radians(site[1]), site[2]
    a, f = 6378137.0, 1.0 / 298.257223563
    e2 = f * (2.0 - f)
    n = a / math.sqrt(1.0 - e2 * math.sin(lat) ** 2)
    place = numpy.array([(n + height) * math.cos(lat) * math.cos(lon), (n + height) * math.cos(lat) * math.sin(lon),
                         (n * (1.0 - e2) + height) * math.sin(lat)]) / AU_M
    ut1 = universal(jd_tt)
    matrix = erfa.c2t06a(jd_tt, 0.0, ut1[0], ut1[1], 0.0, 0.0)
    seen = numpy.einsum("...ij,...j->...i", matrix, vectors) - place
    east = numpy.array([-math.sin(lon), math.cos(lon), 0.0])
    north = numpy.array([-math.sin(lat) * math.cos(lon), -math.sin(lat) * math.sin(lon), math.cos(lat)])
    up = numpy.array([math.cos(lat) * math.cos(lon), math.cos(lat) * math.sin(lon), math.sin(lat)])
    e, nn, u = seen @ east, seen @ north, seen @ up
    return numpy.degrees(numpy.arctan2(u, numpy.hypot(e, nn))), numpy.degrees(numpy.arctan2(e, nn)) % 360.0, \
        numpy.einsum("...ji,...j->...i", matrix, place)


def table_vectors(rows, geocentre=False):
    """The geocentric vector of each row: the table's, from the geocentre as it is, from the barycentre
    plus the Moon's share of the Moon's geocentric vector."""
    jd = column(rows, "julian_date_tdb")
    ra, dec = numpy.radians(15.0 * column(rows, "ra_hours")), numpy.radians(column(rows, "dec_degrees"))
    delta = column(rows, "observer_distance_au")
    seen = delta[:, None] * numpy.stack([numpy.cos(dec) * numpy.cos(ra), numpy.cos(dec) * numpy.sin(ra),
                                         numpy.sin(dec)], axis=1)
    return jd, seen if geocentre else seen + MOON_SHARE * erfa.moon98(jd, 0.0)["p"]


def crossings(f, first, last, step=5.0 / 1440.0):
    """(time, rising) where f crosses 0, by brentq between samples."""
    times = numpy.arange(first, last, step)
    values = numpy.array([f(t) for t in times])
    found = []
    for k in numpy.flatnonzero(numpy.sign(values[:-1]) * numpy.sign(values[1:]) < 0):
        found.append((brentq(f, times[k], times[k + 1], xtol=1e-7), values[k] < 0))
    return found


def found(pattern, text):
    match = re.search(pattern, text)
    assert match, (pattern, text)
    return match.groups()


def clock_minutes(text):
    hours, minutes = text.split(":")
    return int(hours) * 60 + int(minutes)


@unittest.skipUnless(HAVE_LIBRARIES, "needs python3-erfa and python3-scipy")
class TopocentreTest(TestCase):
    def test_altitude_and_azimuth_of_vectors_all_round_the_sky_from_three_sites(self):
        """The short set's guard of the site's geometry: places all round the sky, near and far, over a year."""
        from ephem_table import topocentre
        from ephem_table.site import Site
        times = 2461000.5 + numpy.linspace(0.0, 365.0, 97)
        k = numpy.arange(len(times))
        directions = numpy.stack([numpy.cos(k * 0.7) * numpy.cos(k * 0.3), numpy.sin(k * 0.7) * numpy.cos(k * 0.3),
                                  numpy.sin(k * 0.3)], axis=1)
        vectors = directions * numpy.where(k % 2, 0.0003, 2.0)[:, None]  # a fly-by's distance, and a planet's
        for site in ((48.8566, 2.3522, 35.0), (-24.6272, -70.4045, 2635.0), (78.2, 15.6, 10.0)):
            with self.subTest(site=site):
                seen = topocentre.observe(Site(*site), times, vectors + topocentre.earth_centre(times))
                altitude, azimuth, _ = horizon_view(times, vectors, site)
                numpy.testing.assert_allclose(seen.body.altitude_deg, altitude, atol=1.0 / 3600.0, rtol=0)
                off = (seen.body.azimuth_deg - azimuth + 180.0) % 360.0 - 180.0
                self.assertLess(float(numpy.abs(off * numpy.cos(numpy.radians(altitude))).max()), 1.0 / 3600.0)


@unittest.skipUnless(EPHEM and HAVE_LIBRARIES, "needs the built ephem (EPHEM), python3-erfa and python3-scipy")
class SiteTest(TestCase):
    """Mars from Paris over the night of its opposition, in one command, as the README shows it."""
    tmp: Any
    info: str
    rows: List[Dict[str, str]]
    jd: Any
    geocentric: Any

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        os.symlink(EPHEM, os.path.join(cls.tmp.name, "ephem"))
        site = ",".join(f"{v:g}" for v in PARIS)
        done = run_tool("run", "mars", "--start", "2027-02-19", "--rows", "288", "--step", "10m", "--site", site,
                        "--csv", "mars.csv", "--dir", ".", cwd=cls.tmp.name, path=cls.tmp.name)
        if done.returncode:
            raise AssertionError(done.stderr)
        cls.info = done.stdout
        cls.rows = rows_of(pathlib.Path(cls.tmp.name, "mars.csv").read_text())
        cls.jd, cls.geocentric = table_vectors(cls.rows)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def test_altitude_and_azimuth_agree_with_the_terrestrial_frame_within_an_arcminute(self):
        altitude, azimuth, _ = horizon_view(self.jd, self.geocentric, PARIS)
        numpy.testing.assert_allclose(column(self.rows, "altitude_deg"), altitude, atol=1.0 / 60.0, rtol=0)
        off = (column(self.rows, "azimuth_deg") - azimuth + 180.0) % 360.0 - 180.0
        # Azimuth is as good as altitude times cos(altitude) on the sky.
        self.assertLess(float(numpy.abs(off * numpy.cos(numpy.radians(altitude))).max()), 1.0 / 60.0)
        # Opposition from Paris: high in the south at midnight, the Sun far below.
        midnight = numpy.argmin(numpy.abs(self.jd - 2461456.5))
        self.assertGreater(altitude[midnight], 50.0)
        self.assertLess(float(column(self.rows, "sun_altitude_deg")[midnight]), -45.0)

    def test_rise_transit_set_and_dark_within_two_minutes_of_splines_and_brentq(self):
        spline = CubicSpline(self.jd, self.geocentric)

        def altitude(t):
            return float(horizon_view(numpy.array([t]), spline(numpy.array([t])), PARIS)[0][0])

        def sun(t):
            earth, _ = erfa.epv00(t, 0.0)
            return float(horizon_view(numpy.array([t]), -earth["p"][None, :], PARIS)[0][0])

        def south(t):
            # Mars transits south of the zenith from Paris: its azimuth passes 180 degrees.
            return float(horizon_view(numpy.array([t]), spline(numpy.array([t])), PARIS)[1][0] - 180.0)

        night = next(line for line in self.info.splitlines() if line.strip().startswith("2027-02-19/20"))
        told = {what: found(what + r" (\d\d:\d\d)", night)[0] for what in ("rises", "transits", "sets")}
        dark_from, dark_to = found(r"dark (\d\d:\d\d)-(\d\d:\d\d)", night)
        start, end = 2461456.0, 2461457.0
        rises = [t for t, up in crossings(altitude, start, end) if up]
        sets = [t for t, up in crossings(altitude, start, end) if not up]
        transit = [t for t, up in crossings(south, start + 0.3, start + 0.8) if up]
        dark = crossings(lambda t: -18.0 - sun(t), start, end)
        expected = {"rises": rises[0], "transits": transit[0], "sets": sets[0]}

        def minutes_utc(t):
            utc = universal(numpy.array([t]))
            hours = (utc[0][0] - 0.5 + utc[1][0]) % 1.0 * 1440.0
            return hours

        for what, t in expected.items():
            with self.subTest(what):
                difference = (clock_minutes(told[what]) - minutes_utc(t) + 720.0) % 1440.0 - 720.0
                self.assertLessEqual(abs(difference), 2.0, (told[what], t))
        for text, (t, _) in zip((dark_from, dark_to), dark):
            with self.subTest("dark", at=text):
                difference = (clock_minutes(text) - minutes_utc(t) + 720.0) % 1440.0 - 720.0
                self.assertLessEqual(abs(difference), 2.0)
        self.assertIn("best night: 2027-02-19/20", self.info)

    def test_rates_agree_with_the_rows_own_finite_differences_within_a_percent(self):
        ra, dec = numpy.radians(15.0 * column(self.rows, "ra_hours")), numpy.radians(column(self.rows, "dec_degrees"))
        minutes = (self.jd[2:] - self.jd[:-2]) * 1440.0
        d_ra = (numpy.unwrap(ra)[2:] - numpy.unwrap(ra)[:-2]) * numpy.cos(dec[1:-1]) / minutes
        d_dec = (dec[2:] - dec[:-2]) / minutes
        arcsec = math.degrees(1.0) * 3600.0
        total = numpy.hypot(d_ra, d_dec) * arcsec
        numpy.testing.assert_allclose(column(self.rows, "rate_arcsec_min")[1:-1], total, rtol=0.01)
        numpy.testing.assert_allclose(column(self.rows, "ra_rate_arcsec_min")[1:-1], d_ra * arcsec, rtol=0.01)
        angle = numpy.degrees(numpy.arctan2(d_ra, d_dec)) % 360.0
        numpy.testing.assert_allclose(column(self.rows, "rate_position_angle_deg")[1:-1], angle, atol=0.6)


@unittest.skipUnless(EPHEM and HAVE_LIBRARIES, "needs the built ephem (EPHEM), python3-erfa and python3-scipy")
class FlyByParallaxTest(TestCase):
    def test_the_topocentric_place_moves_by_the_parallax_within_an_arcsecond_and_a_thousandth(self):
        """An Apophis-like fly-by at 10-minute rows from 45 N, 10 E, seen from the geocentre and from the
        barycentre: degrees of parallax near the encounter. The parallax is the topocentric minus the
        geocentric place, whichever body the table is seen from."""
        for observer in ("geocentre", "emb"):
            with self.subTest(observer=observer):
                self.expect_parallax(observer)

    def expect_parallax(self, observer):
        with tempfile.TemporaryDirectory() as tmp:
            os.symlink(EPHEM, os.path.join(tmp, "ephem"))
            done = run_tool("run", "a=0.9224", "e=0.1911", "i=3.34", "w=126.4", "om=203.986", "M=252.5822",
                            "epoch=2029-04-13T21:46", "--start", "2029-04-13T12:00", "--rows", "121", "--step", "10m",
                            "--observer", observer, "--site", "45,10", "--csv", "-", cwd=tmp, path=tmp)
        self.assertEqual(done.returncode, 0, done.stderr)
        rows = rows_of(done.stdout)
        jd, geocentric = table_vectors(rows, geocentre=observer == "geocentre")
        _, _, site = horizon_view(jd, geocentric, (45.0, 10.0, 0.0))
        topocentric = geocentric - site
        expected = numpy.degrees(angle(geocentric, topocentric)) * 3600.0
        ra, dec = numpy.radians(15.0 * column(rows, "topo_ra_hours")), numpy.radians(column(rows, "topo_dec_degrees"))
        told = numpy.stack([numpy.cos(dec) * numpy.cos(ra), numpy.cos(dec) * numpy.sin(ra), numpy.sin(dec)], axis=1)
        off = numpy.degrees(angle(told, topocentric)) * 3600.0
        self.assertGreater(expected.max(), 3600.0)  # degrees of parallax at the encounter
        self.assertTrue((off <= 1.0 + 0.001 * expected).all(), (off.max(), expected[off.argmax()]))


def angle(u, v):
    """The angle between the vectors of two arrays, row by row (radians)."""
    cross = numpy.linalg.norm(numpy.cross(u, v), axis=1)
    return numpy.arctan2(cross, numpy.einsum("ij,ij->i", u, v))


class SiteCommandLineTest(TestCase):
    """Every refusal of the site's options through the real program: one line, status 2 or 1."""

    def test_refusals_are_one_line_with_their_status(self):
        table = pathlib.Path(__file__).resolve().parent.parent / "examples" / "mars" / "ZEPO.expected"
        cases = [(["info", str(table), "--site", "91,10"], 2, "latitude 91.0 is outside -90 to 90"),
                 (["csv", str(table), "--site", "45,10,20000"], 2, "height 20000 m is outside"),
                 (["info", str(table), "--site", "45x,10"], 2, "the latitude '45x' is not a number of degrees"),
                 (["plot", str(table), "--site", "palomr"], 2, "did you mean palomar?"),
                 (["info", str(table), "--site", "paris", "--min-altitude", "95"], 2,
                  "--min-altitude 95.0: give an altitude from -90 to 90"),
                 (["datos", "marz", "--start", "2027-01-01", "--rows", "2"], 2, "(did you mean mars?)")]
        for args, status, words in cases:
            with self.subTest(args=args), tempfile.TemporaryDirectory() as tmp:
                done = run_tool(*args, cwd=tmp)
                self.assertEqual(done.returncode, status, done.stderr)
                self.assertIn(words, done.stderr)
                self.assertEqual(len(done.stderr.splitlines()), 1, done.stderr)
                self.assertEqual(done.stdout, "")
                self.assertEqual(os.listdir(tmp), [])

    @unittest.skipUnless(EPHEM, "needs the built ephem (EPHEM)")
    def test_a_site_on_a_table_seen_from_another_planet_is_refused(self):
        with tempfile.TemporaryDirectory() as tmp:
            os.symlink(EPHEM, os.path.join(tmp, "ephem"))
            done = run_tool("run", "mars", "--observer", "venus", "--start", "2027-01-01", "--rows", "3", "--site",
                            "paris", cwd=tmp, path=tmp)
            self.assertEqual(done.returncode, 1)
            self.assertIn("--site: the table's observer is Venus (DATOS.DAT), not the Earth", done.stderr)
            self.assertEqual(os.listdir(tmp), ["ephem"])

    @unittest.skipUnless(EPHEM, "needs the built ephem (EPHEM)")
    def test_info_names_the_value_in_datos_that_makes_the_nan_rows(self):
        with tempfile.TemporaryDirectory() as tmp:
            pathlib.Path(tmp, "DATOS.DAT").write_text(
                "1.5 1.2 1.8 286.5 49.6 19.4 2451545.0 0.0\n1.0 0.0167 0.0 102.9 0.0 -2.5 2451545.0 0.0\n"
                "2451545.0\n3\n")
            subprocess.run([EPHEM], cwd=tmp, check=True)
            done = run_tool("info", cwd=tmp)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertIn("the target's e = 1.2: ephem computes ellipses only", done.stdout)
        self.assertNotIn("likely causes", done.stdout)


if __name__ == "__main__":
    unittest.main()
