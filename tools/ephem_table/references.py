"""Where the bodies are by ERFA: the planets (plan94), the Earth's centre (epv00), the Moon (moon98) and the
Earth-Moon barycentre from both, over many times at once; the paths the table's orbits are fitted to and
measured against, with what each is good for.

Positions are heliocentric, AU, turned from ERFA's equator of J2000 to the ecliptic by ephem's own
obliquity (constants.OBLIQUITY), so that a place computed from them and one of ephem's rows are referred
to the same frame (ERFA's frame and the mean equator of J2000 differ by 0.02 arcsec). Times are Julian
dates, TDB (ERFA's functions take TT or TDB alike at this accuracy).

ERFA's functions are numpy ufuncs: each is called once for every time wanted. epv00 is the costly one
(about 60 microseconds a date, plan94 under 1), so that for a table of rows closer together than a grid
the paths are computed on the grid and interpolated between by a cubic spline through the positions
(plan94's velocities are not the derivatives of its positions, so no interpolation leans on them). Its
error, 5/384 h^4 times the fourth derivative of the path, is below 1e-11 AU (0.002 km) for every body
here on grids of a quarter of a day for the Earth and the barycentre, a sixteenth for the planets
(Mercury's path curves fastest), against positions computed at every time.
"""

import math
import warnings
from typing import Any, Callable, Dict, Tuple

import numpy

from .dates import calendar_day, julian_date
from .elements import BARYCENTRE, GEOCENTRE, PLANET, Reference
from .constants import COS_OBLIQUITY, MOON_SHARE, SIN_OBLIQUITY

Array = Any  # numpy.ndarray
States = Tuple[Array, Array]  # positions (AU) and velocities (AU/day), one row of three a time

# The planets of plan94, by their numbers there (3 is the Earth-Moon barycentre, taken from epv00 and
# moon98 here).
PLAN94_NUMBERS = {"Mercury": 1, "Venus": 2, "Mars": 4, "Jupiter": 5, "Saturn": 6, "Uranus": 7, "Neptune": 8}

# The spans in which ERFA's functions hold; past them ERFA warns and their errors grow without bound.
PLAN94_SPAN = (julian_date("1000-01-01"), julian_date("3000-01-01"))
EPV00_SPAN = (julian_date("1900-01-01"), julian_date("2100-01-01"))

# The largest errors the functions' authors state, in their own words, for what each reference is good
# for (ERFA's notes to plan94, epv00 and moon98): plan94 against JPL's DE200 over 1800-2100 in heliocentric
# longitude, latitude and distance; epv00 against DE405 over 1900-2100; moon98 against ELP/MPP02.
PLAN94_ERRORS = {"Mercury": (7, 1, 500), "Venus": (7, 1, 1100), "Mars": (26, 1, 9000), "Jupiter": (78, 6, 82000),
                 "Saturn": (87, 14, 263000), "Uranus": (86, 7, 661000), "Neptune": (11, 2, 248000)}
EPV00_ERROR_KM = 11.2
MOON98_ERROR_KM = 31.7

# The grids: for the Earth's centre and the barycentre, and for the planets.
EARTH_GRID_DAYS = 0.25
PLANET_GRID_DAYS = 0.0625


def ecliptic_of(vectors: Array) -> Array:
    """Equatorial (J2000) vectors, one row of three each, turned to the ecliptic by ephem's obliquity."""
    x, y, z = vectors[..., 0], vectors[..., 1], vectors[..., 2]
    return numpy.stack([x, y * COS_OBLIQUITY + z * SIN_OBLIQUITY, -y * SIN_OBLIQUITY + z * COS_OBLIQUITY], axis=-1)


def equatorial_of(vectors: Array) -> Array:
    """Ecliptic vectors turned to the equator of J2000 by ephem's obliquity."""
    x, y, z = vectors[..., 0], vectors[..., 1], vectors[..., 2]
    return numpy.stack([x, y * COS_OBLIQUITY - z * SIN_OBLIQUITY, y * SIN_OBLIQUITY + z * COS_OBLIQUITY], axis=-1)


def quietly(function: Callable[..., Any], *args: Any) -> Any:
    """An ERFA function called without its warning about dates outside its span: the callers check the
    spans themselves and say what they do past them."""
    import erfa
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", erfa.ErfaWarning)
        return function(*args)


def planet_states(name: str, times: Array) -> States:
    import erfa
    pv = quietly(erfa.plan94, numpy.asarray(times, dtype=float), 0.0, PLAN94_NUMBERS[name])
    return ecliptic_of(pv["p"]), ecliptic_of(pv["v"])


def earth_states(times: Array) -> States:
    """The Earth's centre, heliocentric (epv00)."""
    import erfa
    heliocentric, _ = quietly(erfa.epv00, numpy.asarray(times, dtype=float), 0.0)
    return ecliptic_of(heliocentric["p"]), ecliptic_of(heliocentric["v"])


def moon_states(times: Array) -> States:
    """The Moon from the Earth's centre (moon98)."""
    import erfa
    pv = quietly(erfa.moon98, numpy.asarray(times, dtype=float), 0.0)
    return ecliptic_of(pv["p"]), ecliptic_of(pv["v"])


def barycentre_states(times: Array) -> States:
    """The Earth-Moon barycentre: the Earth's centre moved towards the Moon by the Moon's share of their
    mass."""
    earth, moon = earth_states(times), moon_states(times)
    return earth[0] + MOON_SHARE * moon[0], earth[1] + MOON_SHARE * moon[1]


STATES: Dict[str, Callable[[Array], States]] = {GEOCENTRE: earth_states, BARYCENTRE: barycentre_states}


def span_of(reference: Reference) -> Tuple[float, float]:
    """The Julian dates within which ERFA's function for the reference holds."""
    return PLAN94_SPAN if reference.kind == PLANET else EPV00_SPAN


def erfa_states(reference: Reference, times: Array) -> States:
    """The positions and velocities of an ERFA reference at the times."""
    if reference.kind == PLANET:
        return planet_states(reference.planet, times)
    return STATES[reference.kind](times)


def erfa_positions(reference: Reference, times: Array) -> Array:
    """Positions at many times: computed at each, or, when the times are denser than the reference's grid,
    on the grid and interpolated (the module's notes)."""
    t = numpy.asarray(times, dtype=float)
    if not len(t):
        return numpy.zeros((0, 3))
    first, last = float(t.min()), float(t.max())
    step = PLANET_GRID_DAYS if reference.kind == PLANET else EARTH_GRID_DAYS
    # Three points beyond each end keep the spline's free ends away from the rows.
    count = math.ceil((last - first) / step) + 7
    if len(t) <= count:
        return erfa_states(reference, t)[0]
    from scipy.interpolate import CubicSpline
    grid = first + step * (numpy.arange(count) - 3)
    return CubicSpline(grid, erfa_states(reference, grid)[0], axis=0)(t)


def years(low: float, high: float) -> str:
    return f"{calendar_day(low)[:4]}-{calendar_day(high)[:4]}"


def description(reference: Reference) -> str:
    """What the reference is and what it is good for, by the errors its authors state, in words without a
    comma."""
    if reference.kind == PLANET:
        longitude, latitude, km = PLAN94_ERRORS[reference.planet]
        return (f"ERFA plan94 {reference.planet} (stated good to {longitude} arcsec in heliocentric longitude "
                f"{latitude} in latitude and {km} km in distance within 1800-2100; 1.5 times that within 1000-3000)")
    if reference.kind == GEOCENTRE:
        return f"ERFA epv00 the Earth's centre (stated good to {EPV00_ERROR_KM} km within 1900-2100)"
    return (f"ERFA epv00 and moon98 the Earth-Moon barycentre (stated good to {EPV00_ERROR_KM} km for the Earth "
            f"and {MOON98_ERROR_KM} km for the Moon: {EPV00_ERROR_KM + MOON98_ERROR_KM * MOON_SHARE:.1f} km within "
            f"1900-2100)")
