"""Heliocentric positions from elements by the two-body model, as ephem moves its bodies: the mean
anomaly grows at k * sqrt(1 + m) / a**1.5 radians a day from its value at the epoch, Kepler's equation
gives the eccentric anomaly, and the place in the orbit's plane is turned to the mean ecliptic and
equinox of J2000 by the argument of perihelion, the inclination and the node.

ephem stops Kepler's iteration after 100 fixed passes; here Newton's method runs to convergence, which
is the two-body model's own place (the two agree to rounding up to e = 0.7; see LIMITS in ephem(1)).
Equatorial coordinates are the ecliptic ones turned by ephem's fixed obliquity.
"""

import math
from typing import List, Sequence, Tuple

from .constants import COS_OBLIQUITY, GAUSS_K, SIN_OBLIQUITY
from .elements import Orbit

Vector = Tuple[float, float, float]


class Orbiter:
    """An orbit ready to be moved: its mean motion and the turn from its plane to the ecliptic."""

    def __init__(self, orbit: Orbit) -> None:
        """Refuses (ValueError) an orbit that is no ellipse the model moves."""
        if not (0.0 < orbit.a < math.inf and 0.0 <= orbit.e < 1.0 and orbit.m > -1.0 and
                all(math.isfinite(v) for v in orbit.values())):
            raise ValueError("not an elliptic orbit")
        self.a, self.e, self.epoch = orbit.a, orbit.e, orbit.epoch
        self.mean_anomaly = math.radians(orbit.M)
        self.mean_motion = GAUSS_K * math.sqrt(1.0 + orbit.m) / orbit.a ** 1.5
        self.minor = orbit.a * math.sqrt(1.0 - orbit.e * orbit.e)
        w, i, node = math.radians(orbit.w), math.radians(orbit.i), math.radians(orbit.om)
        cw, sw, ci, si, cn, sn = math.cos(w), math.sin(w), math.cos(i), math.sin(i), math.cos(node), math.sin(node)
        # The ecliptic directions of the perihelion (p) and of the point 90 degrees on in the orbit (q).
        self.p = (cn * cw - sn * sw * ci, sn * cw + cn * sw * ci, sw * si)
        self.q = (-cn * sw - sn * cw * ci, -sn * sw + cn * cw * ci, cw * si)

    def eccentric_anomaly(self, jd: float, guess: float) -> float:
        e = self.e
        mean = math.remainder(self.mean_anomaly + self.mean_motion * (jd - self.epoch), 2.0 * math.pi)
        anomaly = guess if math.isfinite(guess) else (mean + e * math.sin(mean) if e < 0.8 else math.pi)
        for _ in range(60):
            step = (anomaly - e * math.sin(anomaly) - mean) / (1.0 - e * math.cos(anomaly))
            anomaly -= step
            if abs(step) < 1e-14:
                break
        return anomaly

    def position(self, jd: float, guess: float = math.nan) -> Tuple[Vector, float]:
        """The heliocentric ecliptic position (AU) at jd (TDB), and the eccentric anomaly, which makes a
        good guess for a time close by."""
        anomaly = self.eccentric_anomaly(jd, guess)
        x, y = self.a * (math.cos(anomaly) - self.e), self.minor * math.sin(anomaly)
        p, q = self.p, self.q
        return (x * p[0] + y * q[0], x * p[1] + y * q[1], x * p[2] + y * q[2]), math.remainder(anomaly, 2 * math.pi)

    def positions(self, times: Sequence[float]) -> List[Vector]:
        """Positions at many times, each solved from the one before (NAN for a time that is not
        finite)."""
        found: List[Vector] = []
        nan = (math.nan, math.nan, math.nan)
        e, a, minor, p, q = self.e, self.a, self.minor, self.p, self.q
        sin, cos, remainder, tau = math.sin, math.cos, math.remainder, 2.0 * math.pi
        anomaly = math.nan
        for jd in times:
            if not math.isfinite(jd):
                found.append(nan)
                continue
            mean = remainder(self.mean_anomaly + self.mean_motion * (jd - self.epoch), tau)
            if math.isfinite(anomaly):
                # The last solution moved by the change of the mean anomaly, spread by the speed of
                # the eccentric anomaly: a step or two of Newton's method finish it.
                anomaly = remainder(anomaly + remainder(mean - (anomaly - e * sin(anomaly)), tau) /
                                    (1.0 - e * cos(anomaly)), tau)
            else:
                anomaly = self.eccentric_anomaly(jd, math.nan)
            for _ in range(60):
                s, c = sin(anomaly), cos(anomaly)
                step = remainder(anomaly - e * s - mean, tau) / (1.0 - e * c)
                anomaly -= step
                if abs(step) < 1e-14:
                    break
            x, y = a * (cos(anomaly) - e), minor * sin(anomaly)
            found.append((x * p[0] + y * q[0], x * p[1] + y * q[1], x * p[2] + y * q[2]))
        return found


def equatorial(v: Vector) -> Vector:
    """Ecliptic to equatorial coordinates (J2000), through ephem's obliquity."""
    return (v[0], v[1] * COS_OBLIQUITY - v[2] * SIN_OBLIQUITY, v[1] * SIN_OBLIQUITY + v[2] * COS_OBLIQUITY)


def ecliptic(v: Vector) -> Vector:
    """Equatorial to ecliptic coordinates (J2000), through ephem's obliquity."""
    return (v[0], v[1] * COS_OBLIQUITY + v[2] * SIN_OBLIQUITY, -v[1] * SIN_OBLIQUITY + v[2] * COS_OBLIQUITY)


def from_place(ra_hours: float, dec_deg: float, distance: float) -> Vector:
    """The equatorial vector of a place: right ascension (h), declination (deg), distance."""
    ra, dec = math.radians(15.0 * ra_hours), math.radians(dec_deg)
    return (distance * math.cos(dec) * math.cos(ra), distance * math.cos(dec) * math.sin(ra),
            distance * math.sin(dec))


def difference(u: Vector, v: Vector) -> Vector:
    return (u[0] - v[0], u[1] - v[1], u[2] - v[2])


def norm(v: Vector) -> float:
    return math.sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2])


def angle_between(u: Vector, v: Vector) -> float:
    """The angle between two vectors, radians, accurate at 0 and 180 degrees as well."""
    cross = (u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0])
    return math.atan2(norm(cross), u[0] * v[0] + u[1] * v[1] + u[2] * v[2])
