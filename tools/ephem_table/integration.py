"""The path of a minor planet or comet with the pulls of the Sun and the planets: its osculating elements at
their epoch integrated through the dates wanted.

The equations are the heliocentric ones: the Sun's pull k^2 (1 + m) r / |r|^3 on the body, and for each
planet j its direct pull on the body and its pull on the Sun (the frame's acceleration), GM_j [(r_j - r) /
|r_j - r|^3 - r_j / |r_j|^3]. The planets' places come from ERFA's plan94, the Earth and the Moon as two
bodies from epv00 and moon98 within their span (1900-2100), as the Earth-Moon barycentre from plan94 outside
it; every place is computed at the integrator's own times, so that no interpolation stands between them
and the path. Left out: the largest minor planets' pulls (up to arcseconds a year for a body passing
near them), relativity (0.01 arcsec a year in the perihelion of a minor planet, more for a sungrazer), and a
comet's outgassing, which no orbit listing's elements can give.

The integrator is scipy's DOP853 (Dormand and Prince's explicit Runge-Kutta method of order 8 with error
control and a dense output of order 7): the force is smooth, the path takes tens of steps a year (hundreds
through a close approach to the Earth), and the interpolant between steps is as accurate as the steps,
which the fit and the rows, at times of their own, need. Tolerances RTOL 1e-11 and ATOL 1e-13 (AU,
AU/day): an integration ten times tighter moves Ceres over two years and an orbit of the Hilda group by at
most 1.1e-9 AU (160 m), an Apophis-like orbit a year past its fly-by at 37,000 km by 1.3e-8 AU (2 km;
errors at the fly-by grow by its deflection, and epv00's own 11 km in the Earth's place move that path by
far more). Tighter tolerances gain nothing: heliocentric positions are rounded to 1e-16 AU, a part in 1e12
of the distance from the Earth at such a fly-by, and the steps there would shrink to that noise.
"""

from typing import Any, List, Tuple

import numpy

from .constants import MOON_EARTH_MASS_RATIO
from .elements import Orbit
from .references import EPV00_SPAN, PLAN94_SPAN, ecliptic_of, equatorial_of, quietly
from .twobody import gravitational_parameter, state

Array = Any  # numpy.ndarray

RTOL = 1e-11
ATOL = 1e-13

# The Sun's mass over each planet's (with its moons), and over the Earth's and the Moon's, from the IAU 2009
# system of astronomical constants (Luzum et al., Celestial Mechanics and Dynamical Astronomy 110, 2011);
# the Earth-Moon barycentre is both (the Moon's over the Earth's: constants.MOON_EARTH_MASS_RATIO).
SUN_OVER_PLANET = {1: 6023597.400017, 2: 408523.718655, 4: 3098703.59, 5: 1047.348644, 6: 3497.9018, 7: 22902.98,
                   8: 19412.26}
SUN_OVER_EARTH = 332946.0487

# k^2, the Sun's GM in AU^3/day^2 (Gauss's constant, ephem's): each planet's GM is its share of it.
SUN_GM = gravitational_parameter(0.0)
PLANET_NUMBERS = numpy.array(sorted(SUN_OVER_PLANET))
PLANET_GMS = numpy.array([SUN_GM / SUN_OVER_PLANET[n] for n in sorted(SUN_OVER_PLANET)])
EARTH_GM = SUN_GM / SUN_OVER_EARTH
MOON_GM = EARTH_GM * MOON_EARTH_MASS_RATIO
EARTH_AND_MOON_GM = EARTH_GM + MOON_GM


# What the integration is good for, in words without a comma (the module's notes).
GOOD_FOR = ("an integration with the planets' pulls (ERFA plan94 places; integrated to 1e-11: 160 m over two "
            "years; without the largest minor planets' pulls or relativity or a comet's outgassing)")


class OutsideSpan(ValueError):
    """Dates outside the span of the planets' places (plan94's 1000-3000)."""


def perturbers(t: float) -> Tuple[Array, Array]:
    """The heliocentric equatorial positions (AU) and GMs of the bodies that pull at time t."""
    import erfa
    places = quietly(erfa.plan94, t, 0.0, PLANET_NUMBERS)["p"]
    if EPV00_SPAN[0] <= t <= EPV00_SPAN[1]:
        earth = quietly(erfa.epv00, t, 0.0)[0]["p"]
        moon = earth + quietly(erfa.moon98, t, 0.0)["p"]
        return numpy.vstack([places, earth, moon]), numpy.concatenate([PLANET_GMS, [EARTH_GM, MOON_GM]])
    bary = quietly(erfa.plan94, t, 0.0, 3)["p"]
    return numpy.vstack([places, bary]), numpy.concatenate([PLANET_GMS, [EARTH_AND_MOON_GM]])


def acceleration(t: float, y: Array, mu: float) -> Array:
    r = y[:3]
    places, gms = perturbers(t)
    toward = places - r
    pull = -mu * r / (r @ r) ** 1.5
    pull += (gms[:, None] * (toward / numpy.sum(toward * toward, axis=1)[:, None] ** 1.5
                             - places / numpy.sum(places * places, axis=1)[:, None] ** 1.5)).sum(axis=0)
    return numpy.concatenate([y[3:], pull])


class Path:
    """The integrated path between two dates, to be read at any time within them: the dense outputs of
    the integrations from the epoch, and the state at the epoch itself."""

    def __init__(self, pieces: List[Any], epoch: float, at_epoch: Array) -> None:
        self.pieces = pieces
        self.epoch, self.at_epoch = epoch, at_epoch

    def positions(self, times: Array) -> Array:
        """Heliocentric ecliptic positions (AU), one row of three a time."""
        t = numpy.asarray(times, dtype=float)
        found = numpy.repeat(self.at_epoch[None, :3], len(t), axis=0)
        for piece in self.pieces:
            low, high = sorted((float(piece.t_min), float(piece.t_max)))
            inside = (t >= low) & (t <= high) & (t != self.epoch)
            if numpy.any(inside):
                found[inside] = piece(t[inside])[:3].T
        return ecliptic_of(found)

    def state_at(self, t: float) -> Tuple[Array, Array]:
        """The heliocentric ecliptic position (AU) and velocity (AU/day) at one time."""
        found = self.at_epoch
        for piece in self.pieces:
            if min(piece.t_min, piece.t_max) <= t <= max(piece.t_min, piece.t_max) and t != self.epoch:
                found = piece(t)
        return ecliptic_of(found[:3]), ecliptic_of(found[3:])


def integrate(orbit: Orbit, first: float, last: float) -> Path:
    """The path of a body from its osculating elements (orbit, at its epoch) through first to last (JD,
    TDB); OutsideSpan when the epoch or the dates lie outside plan94's span."""
    from scipy.integrate import solve_ivp
    low, high = min(first, orbit.epoch), max(last, orbit.epoch)
    if not (PLAN94_SPAN[0] <= low and high <= PLAN94_SPAN[1]):
        raise OutsideSpan("the epoch and the dates must lie within plan94's span, 1000-3000")
    where, speed = state(orbit, orbit.epoch)
    start = numpy.concatenate([equatorial_of(where), equatorial_of(speed)])
    mu = gravitational_parameter(orbit.m)
    pieces = []
    for end in (low, high):
        if end == orbit.epoch:
            continue
        done = solve_ivp(acceleration, (orbit.epoch, end), start, method="DOP853", rtol=RTOL, atol=ATOL,
                         dense_output=True, args=(mu,))
        if not done.success:
            raise ValueError(f"the integration failed: {done.message}")
        pieces.append(done.sol)
    return Path(pieces, orbit.epoch, start)
