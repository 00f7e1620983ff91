"""The events an observer looks for, found in the rows of a table.

The kinds (KINDS) are a small fixed set:
- opposition, conjunction: the body's ecliptic longitude seen from the observer is the Sun's plus 180
  degrees, or the Sun's; a conjunction of a body nearer the Sun than the observer is inferior (the body
  nearer than the Sun) or superior (beyond it);
- greatest elongation east (evening sky) or west (morning sky): the largest angle from the Sun of a body
  nearer the Sun than the observer;
- perihelion, aphelion: the body's least and greatest distance from the Sun within the rows;
- closest approach: the least distance from the observer;
- stationary, retrograde begins / stationary, direct again: right ascension turns, and the motion that
  follows is westward (retrograde) or eastward (direct).

The Sun's place is not in the table: the events that need it come from the observer's orbit in the
DATOS.DAT that made the table (datos.for_table), moved by the two-body model; without it they are not
told (UNTOLD_WITHOUT_OBSERVER).

Each event is timed on a quantity that is smooth through it, never on an angle that turns sharply
(the elongation of Mercury at inferior conjunction is a V): the sine of the difference of the
longitudes for oppositions and conjunctions (a root), the vector from the observer to the body for
the closest approach (whose length is a V at a fly-by, its components straight lines), the distance
from the Sun, the elongation of a body near its greatest, the right ascension near its turn. Between
rows the body's place is the Lagrange polynomial through the six rows around the interval (the
vector from right ascension, declination and distance); a second solution through four rows tells
when the rows are too far apart for the motion, and the event then says how uncertain its time is.
Rows holding NAN or INF in the fields an event needs are not used.

Rows finer than a day (a scaled run, step.py) can be too close for their nine digits: near a slow
extremum (the aphelion of Mars, a planet's stationary point) rows minutes apart differ by a unit of
the last digit or none, whose wiggles would make many extrema of one and whose rounding would set its
time. Such an extremum is timed on every m-th row, m the least power of two (up to the rows of a day,
never coarser than a daily table) over which the values' second difference is SPREAD units of their
last digit (Finder.stride); a fly-by keeps every row. Roots (oppositions, conjunctions) are timed on
every row: the difference of the longitudes crosses zero at the Sun's pace at least.
"""

import math
from array import array
from typing import Callable, Dict, List, NamedTuple, Optional, Sequence, Tuple

from . import kepler
from .constants import AU_KM, COS_OBLIQUITY, SIN_OBLIQUITY
from .dates import calendar_date
from .datos import Datos
from .row import Table

OPPOSITION = "opposition"
CONJUNCTION = "conjunction"
INFERIOR_CONJUNCTION = "inferior conjunction"
SUPERIOR_CONJUNCTION = "superior conjunction"
GREATEST_EAST = "greatest elongation east"
GREATEST_WEST = "greatest elongation west"
PERIHELION = "perihelion"
APHELION = "aphelion"
CLOSEST_APPROACH = "closest approach"
RETROGRADE_BEGINS = "stationary, retrograde begins"
DIRECT_AGAIN = "stationary, direct again"

KINDS = (OPPOSITION, CONJUNCTION, INFERIOR_CONJUNCTION, SUPERIOR_CONJUNCTION, GREATEST_EAST, GREATEST_WEST,
         PERIHELION, APHELION, CLOSEST_APPROACH, RETROGRADE_BEGINS, DIRECT_AGAIN)

# The kinds that need the Sun's place seen from the observer.
SUN_KINDS = (OPPOSITION, CONJUNCTION, INFERIOR_CONJUNCTION, SUPERIOR_CONJUNCTION, GREATEST_EAST,
             GREATEST_WEST)
UNTOLD_WITHOUT_OBSERVER = ("oppositions, conjunctions and greatest elongations need the Sun's place, from "
                           "the observer's orbit in the DATOS.DAT that made the table")


# Rows of the polynomial between rows, and of the check of its time.
POINTS = 6
CHECK_POINTS = 4
# An event whose two solutions differ by more than this says how uncertain its time is.
TIME_TOLERANCE_DAYS = 10.0 / 1440.0
# Solutions are found to about two seconds, their checks to a minute and a half.
SOLVE_DAYS = 2e-5
CHECK_DAYS = 1e-3
TOLERANCES = {POINTS: SOLVE_DAYS, CHECK_POINTS: CHECK_DAYS}
# In a table finer than a day, an extremum is timed on rows far enough apart that its values' second
# difference is SPREAD units of their ninth digit (DIGIT of the value; see Finder.stride): closer rows
# differ by little more than their last digit near a slow extremum, whose time the rounding would then
# set, and the wiggles of that digit would make many extrema of one.
SPREAD = 1000.0
DIGIT = 1e-8


class Event(NamedTuple):
    jd_tdb: float
    kind: str  # one of KINDS
    text: str  # the value, as `info` prints it
    row: int  # the index of the row nearest the event's time
    value: float = math.nan  # the value the text states (degrees, AU or hours)


def significant(value: float, digits: int = 3) -> str:
    """A positive value with three significant digits, in positional notation."""
    rounded = float(f"{value:.{digits - 1}e}")
    if rounded == 0.0 or not math.isfinite(rounded):
        return f"{rounded:g}"
    decimals = max(0, digits - 1 - math.floor(math.log10(rounded)))
    return f"{rounded:,.{decimals}f}"


def au_text(distance: float) -> str:
    """A distance in AU to three significant digits, and in km as well below 0.01 AU."""
    text = f"{significant(distance)} AU"
    if distance < 0.01:
        text += f" ({significant(distance * AU_KM)} km)"
    return text


# Values between rows -------------------------------------------------------------------------------

class Between:
    """Values of a few fields between rows: the polynomial through up to `points` rows around the
    interval holding the time, rows of finite values with times increasing (in Newton's form, its
    divided differences kept for each interval)."""

    def __init__(self, times: Sequence[float], values: Callable[[int], Sequence[float]], points: int) -> None:
        self.times = times
        self.values = values
        self.points = points
        self.cache: Dict[int, Sequence[float]] = {}
        self.polynomials: Dict[int, Optional[Tuple[List[float], List[List[float]]]]] = {}

    def row(self, k: int) -> Optional[Sequence[float]]:
        if k not in self.cache:
            found = self.values(k)
            self.cache[k] = found if math.isfinite(self.times[k]) and all(map(math.isfinite, found)) else ()
        return self.cache[k] or None

    def stencil(self, i: int) -> Optional[List[int]]:
        """The rows used between rows i and i + 1: as many as `points` allows, as evenly around the
        interval as the table's ends and its NAN rows allow."""
        t = self.times
        if not (0 <= i < len(t) - 1 and self.row(i) and self.row(i + 1) and t[i + 1] > t[i]):
            return None
        low, high = i, i + 1
        while high - low + 1 < self.points:
            can_low = low > 0 and self.row(low - 1) is not None and t[low - 1] < t[low]
            can_high = high + 1 < len(t) and self.row(high + 1) is not None and t[high + 1] > t[high]
            if can_low and (i - low <= high - i - 1 or not can_high):
                low -= 1
            elif can_high:
                high += 1
            else:
                break
        return list(range(low, high + 1))

    def polynomial(self, i: int) -> Optional[Tuple[List[float], List[List[float]]]]:
        """(times, divided differences of each field) between rows i and i + 1."""
        if i not in self.polynomials:
            rows = self.stencil(i)
            found = None
            if rows is not None:
                times = [self.times[k] for k in rows]
                differences = []
                for f in range(len(self.cache[rows[0]])):
                    d = [self.cache[k][f] for k in rows]
                    for level in range(1, len(d)):
                        for j in range(len(d) - 1, level - 1, -1):
                            d[j] = (d[j] - d[j - 1]) / (times[j] - times[j - level])
                    differences.append(d)
                found = (times, differences)
            self.polynomials[i] = found
        return self.polynomials[i]

    def at(self, t: float, i: int) -> Optional[List[float]]:
        """The fields at time t, by the rows around the interval from row i to i + 1."""
        found = self.polynomial(i)
        if found is None:
            return None
        times, differences = found
        result = []
        for d in differences:
            value = d[-1]
            for j in range(len(d) - 2, -1, -1):
                value = value * (t - times[j]) + d[j]
            result.append(value)
        return result

    def around(self, t: float, i: int) -> Optional[List[float]]:
        """The fields at a time from row i - 1 to row i + 1."""
        return self.at(t, i - 1 if t < self.times[i] else i)


def golden_extremum(f: Callable[[float], float], low: float, high: float, sense: int,
                    tolerance: float) -> float:
    """The time of the extremum (a maximum for sense +1) of f between low and high, to the tolerance."""
    ratio = (math.sqrt(5.0) - 1.0) / 2.0
    a, b = low, high
    c, d = b - ratio * (b - a), a + ratio * (b - a)
    fc, fd = sense * f(c), sense * f(d)
    while b - a > tolerance:
        if fc > fd:
            b, d, fd = d, c, fc
            c = b - ratio * (b - a)
            fc = sense * f(c)
        else:
            a, c, fc = c, d, fd
            d = a + ratio * (b - a)
            fd = sense * f(d)
    return (a + b) / 2.0


def bisect_root(f: Callable[[float], float], low: float, high: float, tolerance: float) -> float:
    """A time where f changes sign between low and high (f(low) and f(high) of opposite signs)."""
    f_low = f(low)
    while high - low > tolerance:
        middle = (low + high) / 2.0
        f_middle = f(middle)
        if (f_middle < 0.0) == (f_low < 0.0):
            low, f_low = middle, f_middle
        else:
            high = middle
    return (low + high) / 2.0


def extrema(times: Sequence[float], values: Sequence[float]) -> List[Tuple[int, int]]:
    """(index, +1 for a maximum or -1 for a minimum) of each interior row where the field turns; a
    plateau counts once, at its first row."""
    found = []
    isfinite = math.isfinite
    for i in range(1, len(values) - 1):
        y0, y1, y2 = values[i - 1], values[i], values[i + 1]
        if y1 > y0 and y1 >= y2:
            sense = +1
        elif y1 < y0 and y1 <= y2:
            sense = -1
        else:
            continue
        if all(isfinite(v) for v in (times[i - 1], times[i], times[i + 1], y0, y1, y2)):
            found.append((i, sense))
    return found


def unwrapped_ra(ras: Sequence[float]) -> List[float]:
    """Right ascensions made continuous across 0 h, so that 23.9 h then 0.1 h is not a turn; a value
    that is no right ascension (not finite, or outside 0 to 24 h) becomes NAN."""
    result, previous = [], None
    for h in ras:
        if not (0.0 <= h <= 24.0):
            result.append(math.nan)
            continue
        if previous is not None:
            h = h - 24.0 * round((h - previous) / 24.0)
        previous = h
        result.append(h)
    return result


# The events ----------------------------------------------------------------------------------------

class View:
    """Every m-th row of the table from row `offset` (all rows for m = 1): the rows an event is timed
    on, with the polynomials between them."""

    def __init__(self, times: "array[float]", place: Callable[[int], Sequence[float]],
                 sun_distance: Callable[[int], Sequence[float]], m: int, offset: int) -> None:
        self.m, self.offset = m, offset
        self.times = times if m == 1 else times[offset::m]

        def every(values: Callable[[int], Sequence[float]]) -> Callable[[int], Sequence[float]]:
            return values if m == 1 else lambda k: values(offset + k * m)
        self.places = {n: Between(self.times, every(place), n) for n in (POINTS, CHECK_POINTS)}
        self.sun_distances = {n: Between(self.times, every(sun_distance), n) for n in (POINTS, CHECK_POINTS)}

    def row(self, j: int) -> int:
        """The table's row of the view's row j."""
        return self.offset + j * self.m


def rows_a_day(times: Sequence[float]) -> int:
    """The rows a day of a table finer than a day (from its first and last times), else 1."""
    n = len(times)
    step = (times[-1] - times[0]) / (n - 1) if n > 1 else math.nan
    return max(1, round(1.0 / step)) if 0.0 < step < 1.0 else 1


class Finder:
    """The table's rows as functions of time, and the observer's orbit when there is one."""

    def __init__(self, table: Table, datos: Optional[Datos]) -> None:
        self.times = table.column("jd_tdb")
        ra, dec, distance = table.column("ra_hours"), table.column("dec_deg"), table.column("observer_distance_au")
        sun_distance = table.column("sun_distance_au")

        def place(k: int) -> Sequence[float]:
            if not (0.0 <= ra[k] <= 24.0 and abs(dec[k]) <= 90.0 and distance[k] >= 0.0):
                return (math.nan,)
            return kepler.from_place(ra[k], dec[k], distance[k])

        def sun(k: int) -> Sequence[float]:
            return (sun_distance[k],)

        self.place, self.sun_distance = place, sun
        self.views: Dict[Tuple[int, int], View] = {}
        self.whole = self.view(1, 0)
        day = rows_a_day(self.times)
        self.strides = [1 << k for k in range(day.bit_length()) if 1 << k < day] + [day]
        self.observer = kepler.Orbiter(datos.observer) if datos is not None else None
        self.events: List[Event] = []

    def view(self, m: int, offset: int) -> View:
        if (m, offset) not in self.views:
            self.views[(m, offset)] = View(self.times, self.place, self.sun_distance, m, offset)
        return self.views[(m, offset)]

    def nearest_row(self, t: float, view: View, j: int) -> int:
        times = self.times
        near = min((view.row(k) for k in (j - 1, j, j + 1) if 0 <= view.row(k) < len(times)),
                   key=lambda k: abs(times[k] - t))
        if view.m == 1:
            return near
        rows = range(max(0, near - view.m // 2), min(len(times), near + view.m // 2 + 1))
        return min(rows, key=lambda k: abs(times[k] - t))

    def add(self, t: float, check: float, kind: str, text: str, row: int, value: float) -> None:
        if abs(t - check) > TIME_TOLERANCE_DAYS:
            text += (f" (time uncertain by about {significant(abs(t - check) * 24.0, 2)} h: the rows are too "
                     f"far apart for the motion)")
        self.events.append(Event(t, kind, text, row, value))

    def ecliptic_place(self, t: float, view: View, j: int, points: int,
                       interval: bool = False) -> Optional[kepler.Vector]:
        between = view.places[points]
        found = between.at(t, j) if interval else between.around(t, j)
        if found is None:
            return None
        return kepler.ecliptic((found[0], found[1], found[2]))

    def sun_place(self, t: float) -> kepler.Vector:
        """The Sun seen from the observer, ecliptic."""
        assert self.observer is not None
        (x, y, z), _ = self.observer.position(t)
        return (-x, -y, -z)

    def stride(self, values: Sequence[float], i: int, sense: int) -> int:
        """The rows between those an extremum at row i is timed on: 1 in a table of a row a day or fewer;
        in a finer one the first of 1, 2, 4 ... up to the rows of a day at which the second difference
        of the values reaches SPREAD units of their ninth digit, so that the digits do not hide the
        curve (the largest the table holds around the row otherwise); 0 when the rows that far apart
        do not turn at row i, which is then a wiggle of the last digit, no extremum."""
        chosen = 1
        y = values[i]
        for m in self.strides[1:]:
            if i - m < 0 or i + m >= len(values):
                break
            before, after = values[i - m], values[i + m]
            if not (math.isfinite(before) and math.isfinite(after)):
                break
            chosen = m if sense * (y - before) >= 0.0 and sense * (y - after) >= 0.0 else 0
            if abs(before - 2.0 * y + after) >= SPREAD * DIGIT * abs(y):
                break
        return chosen

    def turning(self, values: Sequence[float],
                quantity: Callable[[float, View, int, int], Optional[float]],
                report: Callable[[float, float, View, int, int], None]) -> None:
        """For each row where `values` turn, the time where `quantity` (of time, view, row of the view,
        points) turns between the rows either side at the stride the extremum needs, passed to
        report(time, check time, view, row of the view, sense). At a stride, the rows up to a stride
        past an extremum are its own: the wiggles of the last digit there are no other."""
        times = self.times
        past = -1
        for i, sense in extrema(times, values):
            if i <= past:
                continue
            m = self.stride(values, i, sense)
            if not m:
                continue
            view, j = self.view(m, i % m), i // m
            times = view.times
            solutions = []
            for points in (POINTS, CHECK_POINTS):
                if quantity(times[j], view, j, points) is None or quantity(times[j - 1], view, j, points) is None or \
                        quantity(times[j + 1], view, j, points) is None:
                    break

                def f(t: float, points: int = points) -> float:
                    value = quantity(t, view, j, points)
                    return math.nan if value is None else value
                solutions.append(golden_extremum(f, times[j - 1], times[j + 1], sense, TOLERANCES[points]))
            if len(solutions) == 2:
                report(solutions[0], solutions[1], view, j, sense)
                if m > 1:
                    past = max(i, self.nearest_row(solutions[0], view, j)) + m

    def closest_approaches(self, distance: Sequence[float]) -> None:
        def length(t: float, view: View, j: int, points: int) -> Optional[float]:
            place = view.places[points].around(t, j)
            return None if place is None else kepler.norm((place[0], place[1], place[2]))

        def report(t: float, check: float, view: View, j: int, sense: int) -> None:
            if sense < 0:
                value = length(t, view, j, POINTS) or 0.0
                self.add(t, check, CLOSEST_APPROACH, f"distance {au_text(value)}", self.nearest_row(t, view, j), value)
        self.turning(distance, length, report)

    def perihelia(self, sun_distance: Sequence[float]) -> None:
        def r(t: float, view: View, j: int, points: int) -> Optional[float]:
            found = view.sun_distances[points].around(t, j)
            return None if found is None else found[0]

        def report(t: float, check: float, view: View, j: int, sense: int) -> None:
            value = r(t, view, j, POINTS) or 0.0
            self.add(t, check, PERIHELION if sense < 0 else APHELION, f"distance from the Sun {au_text(value)}",
                     self.nearest_row(t, view, j), value)
        self.turning(sun_distance, r, report)

    def stationary_points(self, ra: Sequence[float]) -> None:
        unwrapped = unwrapped_ra(ra)

        def right_ascension(t: float, view: View, j: int, points: int) -> Optional[float]:
            place = view.places[points].around(t, j)
            if place is None:
                return None
            hours = math.degrees(math.atan2(place[1], place[0])) / 15.0
            return hours - 24.0 * round((hours - unwrapped[view.row(j)]) / 24.0)

        def report(t: float, check: float, view: View, j: int, sense: int) -> None:
            value = (right_ascension(t, view, j, POINTS) or 0.0) % 24.0
            # Right ascension grows in direct motion: a maximum begins the retrograde loop.
            self.add(t, check, RETROGRADE_BEGINS if sense > 0 else DIRECT_AGAIN,
                     f"RA {round(value, 3) % 24.0:.3f} h", self.nearest_row(t, view, j), value)
        self.turning(unwrapped, right_ascension, report)

    def greatest_elongations(self, elongation: Sequence[float]) -> None:
        def angle(t: float, view: View, j: int, points: int) -> Optional[float]:
            place = self.ecliptic_place(t, view, j, points)
            return None if place is None else math.degrees(kepler.angle_between(place, self.sun_place(t)))

        def report(t: float, check: float, view: View, j: int, sense: int) -> None:
            place = self.ecliptic_place(t, view, j, POINTS)
            if sense < 0 or place is None:
                return
            sun = self.sun_place(t)
            # Only a body nearer the Sun than the observer has greatest elongations; the greatest angle of
            # one farther out is near its opposition.
            if kepler.norm(kepler.difference(place, sun)) >= kepler.norm(sun):
                return
            value = math.degrees(kepler.angle_between(place, sun))
            # East of the Sun (a greater longitude) the body sets after it: an evening sky.
            east = place[1] * sun[0] - place[0] * sun[1] > 0.0
            self.add(t, check, GREATEST_EAST if east else GREATEST_WEST,
                     f"elongation {value:.1f} deg, {'evening' if east else 'morning'} sky",
                     self.nearest_row(t, view, j), value)
        self.turning(elongation, angle, report)

    def oppositions_and_conjunctions(self, table: Table) -> None:
        """Where the sine of the difference of the longitudes changes sign, between two rows."""
        assert self.observer is not None
        times = self.times
        suns = self.observer.positions(times)
        ra, dec = table.column("ra_hours"), table.column("dec_deg")
        cos, sin, radians, isfinite = math.cos, math.sin, math.radians, math.isfinite
        c, s = COS_OBLIQUITY, SIN_OBLIQUITY
        previous = math.nan
        for k in range(len(times)):
            if not (0.0 <= ra[k] <= 24.0 and abs(dec[k]) <= 90.0 and isfinite(suns[k][0])):
                previous = math.nan
                continue
            # The body's direction in the ecliptic's plane (its distance does not change the sign).
            alpha, delta = radians(15.0 * ra[k]), radians(dec[k])
            x = cos(delta) * cos(alpha)
            y = cos(delta) * sin(alpha) * c + sin(delta) * s
            # The sine of the body's longitude minus the Sun's, as the Sun lies opposite the observer.
            sine = suns[k][0] * y - suns[k][1] * x
            if (sine < 0.0) != (previous < 0.0) and isfinite(previous):
                self.longitude_crossing(k - 1)
            previous = sine

    def longitude_crossing(self, i: int) -> None:
        times = self.times
        solutions = []
        for points in (POINTS, CHECK_POINTS):
            def sine(t: float, points: int = points) -> float:
                place = self.ecliptic_place(t, self.whole, i, points, interval=True)
                sun = self.sun_place(t)
                return math.nan if place is None else place[1] * sun[0] - place[0] * sun[1]
            solutions.append(bisect_root(sine, times[i], times[i + 1], TOLERANCES[points]))
        t = solutions[0]
        place = self.ecliptic_place(t, self.whole, i, POINTS, interval=True)
        if place is None:
            return
        sun = self.sun_place(t)
        value = math.degrees(kepler.angle_between(place, sun))
        toward_sun = place[0] * sun[0] + place[1] * sun[1] > 0.0
        observer_sun, distance = kepler.norm(sun), kepler.norm(place)
        sun_distance = kepler.norm(kepler.difference(place, sun))
        if not toward_sun:
            kind = OPPOSITION
        elif sun_distance >= observer_sun:
            kind = CONJUNCTION
        else:
            kind = INFERIOR_CONJUNCTION if distance < observer_sun else SUPERIOR_CONJUNCTION
        self.add(t, solutions[1], kind, f"elongation {value:.1f} deg", self.nearest_row(t, self.whole, i), value)


def find_events(table: Table, datos: Optional[Datos] = None) -> List[Event]:
    """The events of a table, in order of time; those that need the Sun's place only with `datos`, the
    DATOS.DAT that made the table (see datos.for_table)."""
    if len(table) < 3:
        return []
    finder = Finder(table, datos)
    finder.closest_approaches(table.column("observer_distance_au"))
    finder.perihelia(table.column("sun_distance_au"))
    finder.stationary_points(table.column("ra_hours"))
    if datos is not None:
        finder.greatest_elongations(table.column("elongation_deg"))
        finder.oppositions_and_conjunctions(table)
    return sorted(finder.events)


def event_line(event: Event, scale: bool = True) -> str:
    """The event as `info` prints it: date and time to the minute, the scale, the kind and value."""
    when = calendar_date(event.jd_tdb).rpartition(":")[0] or f"JD {event.jd_tdb}"
    return f"{when}{' TDB' if scale else ''}  {event.kind}: {event.text}"
