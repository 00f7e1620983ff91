"""Tests of ERFA's places as the fit and the model error read them: the planets, the Earth's centre and the
barycentre at many times (interpolated between grid points) against ERFA's functions called at each time
here and turned to the ecliptic by ephem's obliquity."""

import importlib.util
import math
import unittest

from testing import TestCase
from ephem_table.constants import MOON_SHARE, OBLIQUITY
from ephem_table.elements import BARYCENTRE, GEOCENTRE, PLANET, Reference

HAVE_ERFA = all(importlib.util.find_spec(m) is not None for m in ("erfa", "scipy"))


@unittest.skipUnless(HAVE_ERFA, "needs python3-erfa and python3-scipy")
class ErfaPlacesTest(TestCase):
    def test_places_at_many_times_are_erfas_at_each(self):
        import erfa
        import numpy
        from ephem_table import references
        turn = OBLIQUITY
        to_ecliptic = numpy.array([[1.0, 0.0, 0.0], [0.0, math.cos(turn), math.sin(turn)],
                                   [0.0, -math.sin(turn), math.cos(turn)]])
        # Mercury through its perihelion and the Earth's centre through a month of the Moon, at 20-minute rows
        # (interpolated), and at two rows a day (computed at each).
        for every in (1.0 / 72.0, 0.5):
            times = 2461000.5 + numpy.arange(0.0, 90.0, every)
            earth = erfa.epv00(times, 0.0)[0]["p"]
            expected = {"Mercury": erfa.plan94(times, 0.0, 1)["p"], "Jupiter": erfa.plan94(times, 0.0, 5)["p"],
                        GEOCENTRE: earth, BARYCENTRE: earth + erfa.moon98(times, 0.0)["p"] * MOON_SHARE}
            for name, places in expected.items():
                reference = Reference(PLANET, planet=name) if name[0].isupper() else Reference(name)
                with self.subTest(every=every, body=name):
                    ours = references.erfa_positions(reference, times)
                    self.assertLess(numpy.abs(ours - places @ to_ecliptic.T).max(), 1e-11)


if __name__ == "__main__":
    unittest.main()
