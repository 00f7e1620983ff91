"""Apparent visual (V) magnitudes of the rows of a table, from the distances r (from the Sun) and Delta
(from the observer), the phase angle alpha, and the magnitude parameters that `datos` keeps in the note
of DATOS.DAT (datos.Datos.photometry). The formulas and their sources (tools/magnitudes.md holds them
as the project took them):

- Minor planets, the H, G system: E. Bowell et al. (1989), "Application of photometric models to
  asteroids", Asteroids II, pp. 524-556, adopted by the IAU (Commission 20, 1985):
      V = H + 5 log10(r Delta) - 2.5 log10((1 - G) Phi1 + G Phi2),
      Phi_i = exp(-A_i tan(alpha/2)**B_i),  A1 = 3.33, B1 = 0.63, A2 = 1.87, B2 = 1.22,
  for alpha below 120 degrees. H and G are columns 9-13 and 15-19 of an MPCORB.DAT line (G blank: 0.15).
- Comets, the total magnitude of the Minor Planet Center's comet format (CometEls.txt, H in columns
  92-95, the slope G in 97-100): m = H + 5 log10(Delta) + 2.5 G log10(r). Comets are rough: their
  activity varies by magnitudes.
- Planets: A. Mallama and J. L. Hilton (2018), "Computing apparent planetary magnitudes for The
  Astronomical Almanac", Astronomy and Computing 25, 10-24 (arXiv:1808.01973), each formula for the
  phase angles it names and no value outside them (PLANET_FORMULAS below). Saturn's ring opening beta is
  the geometric mean of the saturnicentric latitudes of the Sun and of the observer when both have one
  sign (0 otherwise), Uranus's phi' the mean of the absolute planetographic latitudes of the Sun and the
  observer (Uranus's flattening 0.0229 from the IAU WGCCRE radii, 25559 and 24973 km), both from the
  poles of the IAU WGCCRE (Saturn: RA 40.589, Dec 83.537 deg; Uranus: RA 257.311, Dec -15.175 deg,
  equatorial J2000). Mars's rotation and orbital-longitude corrections (up to about 0.06 mag) are left
  out.

The table holds angles and distances only: the latitudes seen from Saturn and Uranus need the planet's
and the observer's vectors, which come from the orbits in DATOS.DAT moved by the same two-body model as
the table's (kepler.py). The formulas are fitted to a geocentric observer; from elsewhere they are used
as they are.
"""

import math
from array import array
from typing import Callable, Dict, List, NamedTuple, Optional, Tuple

from . import kepler
from .datos import Datos
from .elements import COMET, MINOR_PLANET, PLANET, Photometry
from .row import Table

# The H, G system holds below this phase angle (degrees).
HG_LARGEST_PHASE = 120.0

SATURN_POLE = (40.589, 83.537)
URANUS_POLE = (257.311, -15.175)
URANUS_FLATTENING = 1.0 - 24973.0 / 25559.0

MALLAMA_HILTON = "Mallama & Hilton 2018"


class Magnitudes(NamedTuple):
    values: "array[float]"  # V a row, NAN where the formula gives none
    label: str  # the formula and its parameters, short
    empty: List[str]  # "N rows: why", for the rows without a value
    remarks: List[str]  # what the formula leaves out in some rows


def hg_magnitude(h: float, g: float, r: float, delta: float, alpha: float) -> float:
    """V by the H, G system, alpha in degrees (NAN from 120 degrees on)."""
    if not alpha < HG_LARGEST_PHASE:
        return math.nan
    t = math.tan(math.radians(alpha) / 2.0)
    phi1 = math.exp(-3.33 * t ** 0.63)
    phi2 = math.exp(-1.87 * t ** 1.22)
    light = (1.0 - g) * phi1 + g * phi2
    return h + 5.0 * math.log10(r * delta) - 2.5 * math.log10(light) if light > 0.0 else math.nan


def comet_magnitude(h: float, g: float, r: float, delta: float) -> float:
    """The comet's total magnitude m = H + 5 log10(Delta) + 2.5 G log10(r)."""
    return h + 5.0 * math.log10(delta) + 2.5 * g * math.log10(r)


# The planets' formulas: V - 5 log10(r Delta) as a function of the phase angle alpha (degrees), with
# the range of alpha each holds for; (formula, low, high, inclusive high).
def mercury(a: float) -> float:
    return (-0.613 + 6.3280e-2 * a - 1.6336e-3 * a ** 2 + 3.3644e-5 * a ** 3 - 3.4265e-7 * a ** 4 +
            1.6893e-9 * a ** 5 - 3.0334e-12 * a ** 6)


def venus(a: float) -> float:
    if a < 163.7:
        return -4.384 - 1.044e-3 * a + 3.687e-4 * a ** 2 - 2.814e-6 * a ** 3 + 8.938e-9 * a ** 4
    return 236.05828 - 2.81914 * a + 8.39034e-3 * a ** 2


def mars(a: float) -> float:
    if a <= 50.0:
        return -1.601 + 2.267e-2 * a - 1.302e-4 * a ** 2
    return -0.367 - 0.02573 * a + 0.0003445 * a ** 2


def jupiter(a: float) -> float:
    if a <= 12.0:
        return -9.395 - 3.7e-4 * a + 6.16e-4 * a ** 2
    x = a / 180.0
    light = 1.0 - 1.507 * x - 0.363 * x ** 2 - 0.062 * x ** 3 + 2.809 * x ** 4 - 1.876 * x ** 5
    return -9.428 - 2.5 * math.log10(light) if light > 0.0 else math.nan


def saturn(a: float, beta: float) -> float:
    """beta: the ring opening, degrees (NAN: the rings are not taken)."""
    if a <= 6.5 and beta <= 27.0:
        s = math.sin(math.radians(beta))
        return -8.914 - 1.825 * s + 0.026 * a - 0.378 * s * math.exp(-2.25 * a)
    if a <= 6.5:
        return -8.95 - 3.7e-4 * a + 6.16e-4 * a ** 2
    return -8.94 + 2.446e-4 * a + 2.672e-4 * a ** 2 - 1.506e-6 * a ** 3 + 4.767e-9 * a ** 4


def uranus(a: float, latitude: float) -> float:
    """latitude: phi', the mean of the absolute planetographic latitudes, degrees."""
    v = -7.110 - 8.4e-4 * latitude
    if a > 3.1:
        v += 6.587e-3 * a + 1.045e-4 * a ** 2
    return v


def neptune(a: float, jd: float) -> float:
    """NAN beyond 1.9 degrees of phase before 2000, where the formula has no phase term."""
    year = 2000.0 + (jd - 2451545.0) / 365.25
    v = min(-6.89, max(-7.00, -6.89 - 0.0054 * (year - 1980.0)))
    if a > 1.9:
        v = v + 7.944e-3 * a + 9.617e-5 * a ** 2 if year >= 2000.0 else math.nan
    return v


SIMPLE_PLANETS: Dict[str, Callable[[float], float]] = {"Mercury": mercury, "Venus": venus, "Mars": mars,
                                                       "Jupiter": jupiter}


def pole(ra_deg: float, dec_deg: float) -> kepler.Vector:
    return kepler.from_place(ra_deg / 15.0, dec_deg, 1.0)


def latitudes(table: Table, datos: Datos, axis: kepler.Vector) -> List[Tuple[float, float]]:
    """(latitude of the Sun, latitude of the observer) seen from the target, degrees from the plane of
    its equator (planetocentric), a row each, from the two orbits moved to the row's time."""
    times = table.column("jd_tdb")
    bodies = kepler.Orbiter(datos.target).positions(times)
    eyes = kepler.Orbiter(datos.observer).positions(times)
    found = []
    for body, eye in zip(bodies, eyes):
        to_sun = kepler.equatorial((-body[0], -body[1], -body[2]))
        to_eye = kepler.equatorial(kepler.difference(eye, body))
        found.append((90.0 - math.degrees(kepler.angle_between(axis, to_sun)),
                      90.0 - math.degrees(kepler.angle_between(axis, to_eye))))
    return found


def planetographic(latitude: float, flattening: float) -> float:
    return math.degrees(math.atan(math.tan(math.radians(latitude)) / (1.0 - flattening) ** 2))


def for_photometry(table: Table, datos: Datos, photometry: Photometry) -> Optional[Magnitudes]:
    """The magnitudes of the rows by the formula of the parameters, or None where there is none."""
    r_col, delta_col = table.column("sun_distance_au"), table.column("observer_distance_au")
    alpha_col, times = table.column("phase_angle_deg"), table.column("jd_tdb")
    values = array("d")
    reasons: Dict[str, int] = {}
    betas: List[float] = []
    kind, h, g = photometry.kind, photometry.h, photometry.g
    formula: Callable[[int, float, float, float], float]
    if kind == MINOR_PLANET:
        label = f"V by the IAU H, G system, H={h:g} G={g:g}"
        formula = lambda k, r, d, a: hg_magnitude(h, g, r, d, a)
        beyond = f"phase angle {HG_LARGEST_PHASE:g} deg or more, where the H, G system does not hold"
    elif kind == COMET:
        label = f"comet total magnitude H={h:g} + 5 log D + {2.5 * g:g} log r"
        formula = lambda k, r, d, a: comet_magnitude(h, g, r, d)
        beyond = ""
    elif kind == PLANET and photometry.planet in SIMPLE_PLANETS:
        simple = SIMPLE_PLANETS[photometry.planet]
        label = f"V of {photometry.planet} ({MALLAMA_HILTON})"
        formula = lambda k, r, d, a: simple(a) + 5.0 * math.log10(r * d)
        beyond = ""
    elif kind == PLANET and photometry.planet == "Saturn":
        # The ring opening: the geometric mean of the two latitudes when they have one sign.
        betas = [math.sqrt(sun * eye) if sun * eye > 0.0 else 0.0
                 for sun, eye in latitudes(table, datos, pole(*SATURN_POLE))]
        label = f"V of Saturn, globe and rings ({MALLAMA_HILTON})"
        formula = lambda k, r, d, a: saturn(a, betas[k]) + 5.0 * math.log10(r * d)
        beyond = ""
    elif kind == PLANET and photometry.planet == "Uranus":
        means = [(abs(planetographic(sun, URANUS_FLATTENING)) + abs(planetographic(eye, URANUS_FLATTENING))) / 2.0
                 for sun, eye in latitudes(table, datos, pole(*URANUS_POLE))]
        label = f"V of Uranus ({MALLAMA_HILTON})"
        formula = lambda k, r, d, a: uranus(a, means[k]) + 5.0 * math.log10(r * d)
        beyond = ""
    elif kind == PLANET and photometry.planet == "Neptune":
        label = f"V of Neptune ({MALLAMA_HILTON})"
        formula = lambda k, r, d, a: neptune(a, times[k]) + 5.0 * math.log10(r * d)
        beyond = "phase angle above 1.9 deg before 2000, where Neptune's formula has no phase term"
    else:
        return None
    no_row = "no distance or phase angle in the row (NAN, INF or out of range)"
    for k in range(len(table)):
        r, d, a = r_col[k], delta_col[k], alpha_col[k]
        if not (0.0 < r < math.inf and 0.0 < d < math.inf and 0.0 <= a <= 180.0):
            reasons[no_row] = reasons.get(no_row, 0) + 1
            values.append(math.nan)
            continue
        v = formula(k, r, d, a)
        if not math.isfinite(v):
            reason = beyond or "no value of the formula"
            reasons[reason] = reasons.get(reason, 0) + 1
        values.append(v)
    empty = [f"{count} rows: {reason}" for reason, count in reasons.items()]
    globe_alone = sum(1 for k, beta in enumerate(betas) if math.isfinite(values[k]) and
                      not (alpha_col[k] <= 6.5 and beta <= 27.0))
    remarks = [f"{globe_alone} rows: Saturn's globe alone, its rings left out (phase angle above 6.5 deg or ring "
               f"opening above 27 deg, beyond the fit of globe and rings)"] if globe_alone else []
    return Magnitudes(values, label, empty, remarks)


def table_magnitudes(table: Table, datos: Optional[Datos], why: str = "") -> Tuple[Optional[Magnitudes], str]:
    """The magnitudes of the rows, or None and why there are none; `why` says why there is no datos."""
    if datos is None:
        return None, f"no DATOS.DAT with the magnitude parameters: {why}" if why else "no DATOS.DAT"
    photometry = datos.photometry()
    if photometry is None:
        return None, ("the DATOS.DAT holds no magnitude parameters (ephem-table datos writes them in its note when its "
                      "source gives them)")
    found = for_photometry(table, datos, photometry)
    if found is None:
        return None, f"no magnitude formula for {photometry.planet} here (Mercury to Neptune have one)"
    return found, ""


def visual_magnitudes(table: Table, datos: Optional[Datos]) -> Optional[Tuple["array[float]", str]]:
    """For a plot: the V magnitude of each row (NAN where there is none) and a short label of the formula,
    or None when there are no parameters."""
    found, _ = table_magnitudes(table, datos)
    return None if found is None else (found.values, found.label)
