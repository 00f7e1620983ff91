"""The two-body model over many times at once (numpy), and the orbit of a position and velocity.

The same model as ephem's and kepler.py's: the mean anomaly grows at k sqrt(1 + m) / a^1.5 radians a day
from its value at the epoch, Kepler's equation gives the eccentric anomaly (here Newton's method to
convergence, on every time at once), and the argument of perihelion, the inclination and the node turn
the place in the orbit's plane to the mean ecliptic and equinox of J2000. Positions are heliocentric,
AU, in that ecliptic frame; times are Julian dates (TDB).

`elements_of` is the converse: the osculating elements of a heliocentric position and velocity for a
given mass term, the orbit that the two-body model moves through that state at that time.
"""

import math
from typing import Any, Tuple

import numpy

from .constants import GAUSS_K
from .elements import Orbit
from .kepler import Orbiter

Array = Any  # numpy.ndarray; numpy's stubs are not required here

# Newton's method on Kepler's equation stops when no time's step exceeds this (radians), which is
# far below the 1e-9 rad (0.0002 arcsec) the places need.
KEPLER_TOLERANCE = 1e-14


def gravitational_parameter(m: float) -> float:
    """k^2 (1 + m), AU^3/day^2: the Sun's and the body's masses for the mean motion."""
    return GAUSS_K * GAUSS_K * (1.0 + m)


def eccentric_anomalies(mean: Array, e: float) -> Array:
    """Kepler's equation E - e sin E = M solved for every mean anomaly (radians, within -pi to pi)."""
    anomaly = mean + e * numpy.sin(mean) if e < 0.8 else numpy.where(mean < 0.0, -math.pi, math.pi) + 0.0 * mean
    for _ in range(60):
        step = (anomaly - e * numpy.sin(anomaly) - mean) / (1.0 - e * numpy.cos(anomaly))
        anomaly = anomaly - step
        if not numpy.any(numpy.abs(step) > KEPLER_TOLERANCE):
            break
    return anomaly


def positions(orbit: Orbit, times: Array) -> Array:
    """Heliocentric ecliptic positions (AU), one row of three a time, of an orbit kepler.Orbiter takes."""
    o = Orbiter(orbit)
    t = numpy.asarray(times, dtype=float)
    mean = numpy.remainder(o.mean_anomaly + o.mean_motion * (t - o.epoch) + math.pi, 2.0 * math.pi) - math.pi
    anomaly = eccentric_anomalies(mean, o.e)
    x = o.a * (numpy.cos(anomaly) - o.e)
    y = o.minor * numpy.sin(anomaly)
    return x[:, None] * numpy.array(o.p) + y[:, None] * numpy.array(o.q)


def state(orbit: Orbit, time: float) -> Tuple[Array, Array]:
    """The heliocentric ecliptic position (AU) and velocity (AU/day) at one time."""
    o = Orbiter(orbit)
    mean = math.remainder(o.mean_anomaly + o.mean_motion * (time - o.epoch), 2.0 * math.pi)
    anomaly = float(eccentric_anomalies(numpy.array([mean]), o.e)[0])
    rate = o.mean_motion / (1.0 - o.e * math.cos(anomaly))
    p, q = numpy.array(o.p), numpy.array(o.q)
    where = o.a * (math.cos(anomaly) - o.e) * p + o.minor * math.sin(anomaly) * q
    speed = -o.a * math.sin(anomaly) * rate * p + o.minor * math.cos(anomaly) * rate * q
    return where, speed


def angles(u: Array, v: Array) -> Array:
    """The angles between vectors, row by row (radians): accurate at 0 as well."""
    return numpy.arctan2(numpy.linalg.norm(numpy.cross(u, v), axis=1), numpy.sum(u * v, axis=1))


def cross(u: Array, v: Array) -> Array:
    """The cross product of two 3-vectors, as numpy.cross forms it, without its cost for one pair (a fit
    converts thousands of states)."""
    return numpy.array([u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]])


def elements_of(position: Array, velocity: Array, time: float, m: float) -> Orbit:
    """The osculating elements, with their epoch at `time`, of a heliocentric ecliptic position (AU) and
    velocity (AU/day) moved by k^2 (1 + m); ValueError for a state that is no ellipse.

    The node of an orbit in the ecliptic is taken at 0, and the perihelion of a circle at the node (or
    at the x axis): the position is the same whatever they are."""
    mu = gravitational_parameter(m)
    r_vec, v_vec = numpy.asarray(position, dtype=float), numpy.asarray(velocity, dtype=float)
    r = float(numpy.linalg.norm(r_vec))
    energy = float(v_vec @ v_vec) / 2.0 - mu / r
    if not (r > 0.0 and energy < 0.0):
        raise ValueError("no ellipse: the state escapes the Sun")
    a = -mu / (2.0 * energy)
    h = cross(r_vec, v_vec)
    h_norm = float(numpy.linalg.norm(h))
    if not h_norm > 0.0:
        raise ValueError("no ellipse: a straight fall")
    h_hat = h / h_norm
    inclination = math.atan2(math.hypot(h_hat[0], h_hat[1]), h_hat[2])
    node = math.atan2(h_hat[0], -h_hat[1]) if math.hypot(h_hat[0], h_hat[1]) > 0.0 else 0.0
    to_node = numpy.array([math.cos(node), math.sin(node), 0.0])
    across = cross(h_hat, to_node)
    e_vec = cross(v_vec, h) / mu - r_vec / r
    e = float(numpy.linalg.norm(e_vec))
    if not e < 1.0:
        raise ValueError("no ellipse: e >= 1")
    perihelion = math.atan2(float(e_vec @ across), float(e_vec @ to_node)) if e > 0.0 else 0.0
    along = math.cos(perihelion) * to_node + math.sin(perihelion) * across
    true_anomaly = math.atan2(float(r_vec @ cross(h_hat, along)), float(r_vec @ along))
    anomaly = 2.0 * math.atan2(math.sqrt(1.0 - e) * math.sin(true_anomaly / 2.0),
                               math.sqrt(1.0 + e) * math.cos(true_anomaly / 2.0))
    mean = anomaly - e * math.sin(anomaly)
    return Orbit(a=a, e=e, i=math.degrees(inclination), w=math.degrees(perihelion) % 360.0,
                 om=math.degrees(node) % 360.0, M=math.degrees(math.remainder(mean, 2.0 * math.pi)), epoch=time, m=m)
