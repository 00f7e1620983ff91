"""The nights of a table seen from a site: when the body rises, transits and sets, when it is dark
(the Sun below -18 degrees, astronomical twilight over), the hours it is above a chosen altitude in
the dark, and the best night.

Between rows the body's place is the polynomial through the six rows around (the vector from the
table's observer, smooth through a rising or setting, where the altitude is not smooth between rows
a day apart); the site's view of it, and the Sun's, come from topocentre.py at any time. The
quantities are sampled every SAMPLE_DAYS (or at the rows, when they are closer) and each change of
sign is found by bisection to a second: a rising or setting (the altitude crosses 0, or the apparent
horizon with refraction), a transit (the hour angle crosses 0), the start or end of the dark (the
Sun's altitude crosses -18 degrees), the body crossing the chosen altitude. Two crossings closer than
a sample (a body grazing the horizon) can be missed.

A night runs from the site's local noon (mean solar time from its longitude) to the next, and is
named by the dates of its evening and morning (2027-02-19/20). Only the table's span is told: a
night the table covers in part says so.

The best night is the brightest (the body's magnitude where it stands highest in the dark) of the
nights on which it reaches the chosen altitude in the dark; without magnitudes, the one on which it
stands highest in the dark.
"""

import math
from typing import Any, List, NamedTuple, Optional, Sequence, Tuple

from .datos import Datos
from .row import Table
from .site import Site
from .timescales import utc_dates
from .topocentre import observe, observer_of, table_vectors

Array = Any  # a numpy array of doubles

SAMPLE_DAYS = 5.0 / 1440.0
DARK_SUN = -18.0
# Bisection to under a second.
SOLVE_DAYS = 1.0 / 86400.0
# Rows of the polynomial between rows.
POINTS = 6
# Nights told at most, from the table's first: a longer table is told in part, which info says.
MOST_NIGHTS = 400


def places_between(times: Array, vectors: Array, at: Array, points: int = POINTS) -> Array:
    """The vectors (n x 3) at the times `at`, by the polynomial through `points` rows around the
    interval holding each (Lagrange's form); NAN outside the rows."""
    import numpy
    n = len(times)
    m = min(points, n)
    i = numpy.clip(numpy.searchsorted(times, at, side="right") - 1, 0, n - 2)
    first = numpy.clip(i - (m // 2 - 1), 0, n - m)
    stencil = numpy.add.outer(first, numpy.arange(m))
    t = times[stencil]
    result = numpy.zeros((len(at), 3))
    for j in range(m):
        basis = numpy.ones(len(at))
        for k in range(m):
            if k != j:
                basis = basis * (at - t[:, k]) / (t[:, j] - t[:, k])
        result += basis[:, None] * vectors[stencil[:, j]]
    with numpy.errstate(invalid="ignore"):
        outside = ~((at >= times[0]) & (at <= times[-1]))
    result[outside] = numpy.nan
    return result


class Sky:
    """The site's view of the body and the Sun at any time within the table's span."""

    def __init__(self, site: Site, table: Table, found: Optional[Datos], refraction: bool = False) -> None:
        import numpy
        self.site, self.refraction = site, refraction
        self.observer = observer_of(found)
        self.times = numpy.asarray(table.column("jd_tdb"), dtype=float)
        self.vectors = table_vectors(table)

    def state(self, at: Array) -> Tuple[Array, Array, Array]:
        """(altitude, the Sun's altitude, hour angle) at the times: degrees, degrees, hours."""
        import numpy
        at = numpy.asarray(at, dtype=float)
        view = observe(self.site, at, places_between(self.times, self.vectors, at), self.observer, self.refraction)
        return view.body.altitude_deg, view.sun_altitude_deg, view.body.hour_angle_hours


class Crossing(NamedTuple):
    jd_tdb: float
    rising: bool  # the quantity goes from below to above its level


def crossings(sky: Sky, times: Array, values: Array, which: int, level: float, sense: float = 1.0) -> List[Crossing]:
    """The times where `sense` times the quantity `which` of Sky.state (`values` at the sample times)
    crosses `level`, found by bisection (an hour angle's jump from 12 to -12 hours is no crossing)."""
    import numpy
    values = sense * values
    v = values - level
    with numpy.errstate(invalid="ignore"):
        change = numpy.flatnonzero((numpy.sign(v[:-1]) * numpy.sign(v[1:]) < 0) &
                                   (numpy.abs(numpy.diff(values)) < (6.0 if which == 2 else 180.0)))
    if not len(change):
        return []
    low, high = times[change].copy(), times[change + 1].copy()
    low_below = v[change] < 0
    while float((high - low).max()) > SOLVE_DAYS:
        middle = (low + high) / 2.0
        found = sense * sky.state(middle)[which] - level
        below = found < 0
        same = below == low_below
        low = numpy.where(same, middle, low)
        high = numpy.where(same, high, middle)
    return [Crossing(float(t), bool(r)) for t, r in zip(((low + high) / 2.0).tolist(), low_below.tolist())]


class Night(NamedTuple):
    label: str  # "2027-02-19/20"
    start: float  # JD (TDB) of the local noon it begins at, or of the table's first row
    end: float
    whole: bool  # the table covers the whole night
    rises: List[float]
    transits: List[Tuple[float, float]]  # time and altitude
    sets: List[float]
    dark: List[Tuple[float, float]]  # intervals
    hours_up: float  # above the chosen altitude while dark
    highest: float  # the highest altitude in the dark (NAN without dark)
    highest_at: float
    magnitude: float  # at highest_at, NAN where none


def intervals(start: float, end: float, cuts: Sequence[Crossing], inside_at_start: bool) -> List[Tuple[float, float]]:
    """The stretches of [start, end] where a condition holds, from whether it holds at the start and the
    times it changes."""
    result, opened = [], start if inside_at_start else None
    for cut in sorted(cuts):
        if not start < cut.jd_tdb < end:
            continue
        if cut.rising and opened is None:
            opened = cut.jd_tdb
        elif not cut.rising and opened is not None:
            result.append((opened, cut.jd_tdb))
            opened = None
    if opened is not None:
        result.append((opened, end))
    return result


def overlap(a: Sequence[Tuple[float, float]], b: Sequence[Tuple[float, float]]) -> float:
    return sum(max(0.0, min(a1, b1) - max(a0, b0)) for a0, a1 in a for b0, b1 in b)


def night_label(noon_jd: float) -> str:
    first, second = utc_dates([noon_jd, noon_jd + 1.0])
    if not (first and second):
        return f"JD {noon_jd:.1f}"
    return f"{first[:10]}/{second[8:10] if first[5:7] == second[5:7] else second[5:10]}"


class Nights(NamedTuple):
    nights: List[Night]
    more: int  # nights of the table not told (beyond MOST_NIGHTS)


def local_noons(site: Site, first: float, last: float) -> List[float]:
    """The local noons (mean solar time, as Julian dates) from the one before `first` to the one after
    `last`."""
    shift = 0.5 - site.longitude_deg / 360.0  # noon at the site, in days after 0h UT
    noon = math.floor(first - 0.5 - shift) + 0.5 + shift
    found = [noon]
    while found[-1] < last:
        found.append(found[-1] + 1.0)
    return found


def find_nights(sky: Sky, min_altitude: float, magnitudes: Optional[Sequence[float]] = None) -> Nights:
    """The nights of the table's span (module notes)."""
    import numpy
    times = sky.times[numpy.isfinite(sky.times)]
    if len(times) < 2:
        return Nights([], 0)
    first, last = float(times[0]), float(times[-1])
    noons = local_noons(sky.site, first, last)
    more = max(0, len(noons) - 1 - MOST_NIGHTS)
    if more:
        noons = noons[:MOST_NIGHTS + 1]
        last = noons[-1]
    step = min(SAMPLE_DAYS, float(numpy.median(numpy.diff(times))))
    grid = numpy.unique(numpy.concatenate([numpy.arange(first, last, step), [last], sky.times[(sky.times >= first) &
                                                                                             (sky.times <= last)]]))
    altitude, sun, hour_angle = sky.state(grid)
    horizon = crossings(sky, grid, altitude, 0, 0.0)
    high = crossings(sky, grid, altitude, 0, min_altitude)
    dusk = crossings(sky, grid, sun, 1, -DARK_SUN, -1.0)  # "rising" is the Sun going below -18 degrees
    meridian = [c.jd_tdb for c in crossings(sky, grid, hour_angle, 2, 0.0) if c.rising]
    culminations = list(zip(meridian, sky.state(numpy.array(meridian))[0].tolist())) if meridian else []

    def holds(values: Array, level: float, t: float) -> bool:
        k = min(int(numpy.searchsorted(grid, t)), len(grid) - 1)
        return bool(values[k] > level)
    times_mag = sky.times
    mags = numpy.asarray(magnitudes, dtype=float) if magnitudes is not None else None
    told = []
    for a, b in zip(noons[:-1], noons[1:]):
        start, end = max(a, first), min(b, last)
        if not end > start:
            continue
        dark = intervals(start, end, dusk, holds(-sun, -DARK_SUN, start))
        up = intervals(start, end, high, holds(altitude, min_altitude, start))
        both = [(max(a0, b0), min(a1, b1)) for a0, a1 in dark for b0, b1 in up if min(a1, b1) > max(a0, b0)]
        highest, highest_at = math.nan, math.nan
        for d0, d1 in dark:
            inside = (grid >= d0) & (grid <= d1)
            candidates = numpy.concatenate([grid[inside], [d0, d1]])
            values = numpy.concatenate([altitude[inside], sky.state(numpy.array([d0, d1]))[0]])
            if numpy.isfinite(values).any():
                k = int(numpy.nanargmax(values))
                if not values[k] <= highest:
                    highest, highest_at = float(values[k]), float(candidates[k])
        transits = [(t, h) for t, h in culminations if start <= t < end]
        magnitude = math.nan
        if mags is not None and math.isfinite(highest_at):
            magnitude = float(numpy.interp(highest_at, times_mag, mags))
        told.append(Night(night_label(a), start, end, start == a and end == b,
                          [c.jd_tdb for c in horizon if c.rising and start <= c.jd_tdb < end], transits,
                          [c.jd_tdb for c in horizon if not c.rising and start <= c.jd_tdb < end], dark,
                          overlap(both, [(start, end)]) * 24.0, highest, highest_at, magnitude))
    return Nights(told, more)


def best_night(nights: Sequence[Night]) -> Optional[Night]:
    """The best of the nights (module notes), or None when the body is never above the altitude in the dark."""
    seen = [n for n in nights if n.hours_up > 0.0]
    if not seen:
        return None
    if all(math.isfinite(n.magnitude) for n in seen):
        return min(seen, key=lambda n: (round(n.magnitude, 2), -n.highest))
    return max(seen, key=lambda n: n.highest)
