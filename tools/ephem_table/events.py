"""The events an observer looks for, found in the rows of a table: oppositions, conjunctions, greatest
elongations, closest approaches and the stationary points in right ascension.

Each is an extremum of one field between rows; its time and value come from the parabola through the
three rows around it, so they are finer than the step (to a small fraction of a day for the smooth
curves of a planet). Rows holding NAN or INF in the fields an event needs are not used.
"""

import math
from typing import List, NamedTuple, Sequence, Tuple

from .dates import calendar_date
from .row import Table


class Event(NamedTuple):
    jd_tdb: float
    kind: str
    text: str
    row: int  # the index of the row nearest the event's time


def observer_sun_distance(sun_distance: float, distance: float, phase_angle_deg: float) -> float:
    """The observer's distance from the Sun, from the triangle Sun, observer, target: the law of cosines
    at the target, whose angle is the phase angle."""
    return math.sqrt(max(0.0, sun_distance * sun_distance + distance * distance -
                         2.0 * sun_distance * distance * math.cos(math.radians(phase_angle_deg))))


def vertex(times: Sequence[float], values: Sequence[float], i: int) -> Tuple[float, float]:
    """(time, value) of the extremum of the parabola through rows i-1, i and i+1."""
    y0, y1, y2 = values[i - 1], values[i], values[i + 1]
    curvature = y0 - 2.0 * y1 + y2
    offset = 0.0 if curvature == 0.0 else max(-1.0, min(1.0, (y0 - y2) / (2.0 * curvature)))
    step = (times[i + 1] - times[i - 1]) / 2.0
    return times[i] + offset * step, y1 - (y0 - y2) * offset / 4.0


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


def find_events(table: Table) -> List[Event]:
    """The events of a table, in order of time."""
    if len(table) < 3:
        return []
    times = table.column("jd_tdb")
    elongation = table.column("elongation_deg")
    sun_distance = table.column("sun_distance_au")
    distance = table.column("observer_distance_au")
    phase = table.column("phase_angle_deg")
    events = []
    for i, sense in extrema(times, elongation):
        if not all(math.isfinite(v) for v in (sun_distance[i], distance[i], phase[i])):
            continue
        time, value = vertex(times, elongation, i)
        # A body farther from the Sun than the observer turns at opposition and conjunction, however far
        # its orbit is inclined; one nearer at its greatest elongations and conjunctions.
        outer = sun_distance[i] > observer_sun_distance(sun_distance[i], distance[i], phase[i])
        if sense > 0:
            kind = "opposition" if outer else "greatest elongation"
        else:
            # Seen past the Sun the body shows its lit side (phase angle under 90 degrees); between the
            # observer and the Sun, its dark side.
            kind = "inferior conjunction" if not outer and phase[i] > 90.0 else "conjunction"
        events.append(Event(time, kind, f"elongation {value:.1f} deg", i))
    for i, sense in extrema(times, distance):
        if sense < 0:
            time, value = vertex(times, distance, i)
            events.append(Event(time, "closest approach", f"distance {value:.4f} AU", i))
    ra = unwrapped_ra(table.column("ra_hours"))
    for i, sense in extrema(times, ra):
        time, value = vertex(times, ra, i)
        # Right ascension grows in direct motion: a maximum begins the retrograde loop.
        kind = "stationary, retrograde begins" if sense > 0 else "stationary, direct again"
        events.append(Event(time, kind, f"RA {round(value, 3) % 24.0:.3f} h", i))
    return sorted(events)


def event_line(event: Event, scale: bool = True) -> str:
    """The event as `info` prints it: date and time to the minute, the scale, the kind and value."""
    when = calendar_date(event.jd_tdb).rpartition(":")[0] or f"JD {event.jd_tdb}"
    return f"{when}{' TDB' if scale else ''}  {event.kind}: {event.text}"
