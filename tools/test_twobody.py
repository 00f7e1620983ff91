"""Tests of the two-body model over many times and of the orbit of a state, against Skyfield's propagator:
the orbits where the conversion has its edges (a circle, the ecliptic itself, retrograde, near a parabola)."""

import importlib.util
import unittest

from testing import TestCase
from ephem_table import twobody
from ephem_table.elements import Orbit

HAVE_SKYFIELD = all(importlib.util.find_spec(m) is not None for m in ("numpy", "skyfield"))


@unittest.skipUnless(HAVE_SKYFIELD, "needs python3-skyfield (the Debian package)")
class TwoBodyTest(TestCase):
    def test_positions_and_the_orbit_of_a_state_against_skyfield(self):
        import numpy
        from skyfield.api import load
        from test_propagation import generated_orbit
        ts = load.timescale(builtin=True)
        cases = [
            Orbit(a=2.7666, e=0.0786, i=10.587, w=73.532, om=80.266, M=334.33, epoch=2459800.5),
            # Nearly a circle, in the ecliptic.
            Orbit(a=1.0, e=1e-9, i=0.0, w=0.0, om=0.0, M=10.0, epoch=2451545.0, m=3e-6),
            Orbit(a=10.338, e=0.9056, i=162.49, w=172.5, om=235.27, M=0.0, epoch=2450872.6),  # retrograde, e 0.9
            Orbit(a=1.0000038, e=0.0167, i=-0.0029, w=103.0, om=0.0, M=-145.85, epoch=2459800.5, m=1.45e-5),
            Orbit(a=200.0, e=0.995, i=89.0, w=10.0, om=300.0, M=0.001, epoch=2460000.5),  # near a parabola
        ]
        times = numpy.array([-3000.0, -20.0, 0.0, 0.37, 45.0, 4000.0])
        for orbit in cases:
            with self.subTest(orbit=orbit.values()):
                reference = generated_orbit(orbit, ts)
                reference._rotation = None  # the ecliptic, the frame of the elements
                expected = numpy.asarray(reference._at(ts.tt_jd(orbit.epoch + times))[0]).T
                ours = twobody.positions(orbit, orbit.epoch + times)
                self.assertLess(numpy.abs(ours - expected).max(), 1e-9 * max(1.0, orbit.a))
                # The orbit of the state 45 days on moves the body as the orbit does.
                where, speed = twobody.state(orbit, orbit.epoch + 45.0)
                again = twobody.elements_of(where, speed, orbit.epoch + 45.0, orbit.m)
                self.assertLess(numpy.abs(twobody.positions(again, orbit.epoch + times) - ours).max(),
                                1e-9 * max(1.0, orbit.a))

    def test_a_state_that_is_no_ellipse_is_refused(self):
        import numpy
        k2 = twobody.gravitational_parameter(0.0)
        for speed in (numpy.array([0.0, (2.0 * k2) ** 0.5, 0.0]), numpy.array([0.03, 0.0, 0.0])):
            with self.subTest(speed=speed), self.assertRaises(ValueError):
                twobody.elements_of(numpy.array([1.0, 0.0, 0.0]), speed, 2451545.0, 0.0)


if __name__ == "__main__":
    unittest.main()
