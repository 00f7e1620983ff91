"""Tests of the two-body positions against Skyfield's universal-variable propagator, for the orbits
ephem takes: nearly circular, highly eccentric, retrograde, with a negative inclination and a mass term,
many turns from the epoch."""

import importlib.util
import unittest

from testing import TestCase
from ephem_table import elements, kepler

HAVE_SKYFIELD = importlib.util.find_spec("skyfield") is not None and importlib.util.find_spec("numpy") is not None


@unittest.skipUnless(HAVE_SKYFIELD, "needs python3-skyfield (Debian package)")
class PositionsTest(TestCase):
    def test_against_skyfield(self):
        import numpy
        from skyfield.api import load
        from test_propagation import generated_orbit
        ts = load.timescale(builtin=True)
        orbits = [
            elements.planet_orbit("emb", 2460000.5),  # a negative inclination and a mass term
            elements.Orbit(a=2.77, e=0.0786, i=10.6, w=73.5, om=80.3, M=334.3, epoch=2459800.5),
            elements.Orbit(a=10.338, e=0.9055, i=162.49, w=172.5, om=235.27, M=0.0, epoch=2450872.6),
            elements.Orbit(a=1.0, e=5e-6, i=0.0, w=0.0, om=0.0, M=10.0, epoch=2451545.0),
        ]
        times = [2450000.5 + 0.37 * k for k in range(0, 30000, 7)]
        for orbit in orbits:
            with self.subTest(e=orbit.e):
                theirs = generated_orbit(orbit, ts)
                theirs._rotation = None  # the ecliptic, as ours
                expected = numpy.asarray(theirs._at(ts.tt_jd(numpy.asarray(times)))[0]).T
                mover = kepler.Orbiter(orbit)
                ours = numpy.asarray(mover.positions(times))
                # Many turns from the epoch both lose digits to the mean anomaly's size.
                self.assertLess(numpy.max(numpy.linalg.norm(ours - expected, axis=1)), 1e-9 * orbit.a)
                one, _ = mover.position(times[-1])
                self.assertLess(max(abs(a - b) for a, b in zip(one, ours[-1])), 1e-12 * orbit.a)


if __name__ == "__main__":
    unittest.main()
