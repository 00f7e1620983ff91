"""The events an observer looks for, found in the rows of a table: oppositions, conjunctions, greatest
elongations, closest approaches and the stationary points in right ascension.

Each is an extremum of one column between daily rows; its time and value come from the parabola through
the three rows around it, so they are finer than the step (to a small fraction of a day for the smooth
curves of a planet). Rows holding NAN are not used.
"""

import collections
import math

from .table import calendar_date

Event = collections.namedtuple("Event", "time kind text")

# Columns of a row.
TIME, RA, DEC, SUN_DISTANCE, DISTANCE, ELONGATION, PHASE = range(7)


def observer_sun_distance(row):
    """The observer's distance from the Sun, from the triangle Sun, observer, target: the law of cosines
    at the target, whose angle is the phase angle."""
    r, delta = row[SUN_DISTANCE], row[DISTANCE]
    return math.sqrt(max(0.0, r * r + delta * delta - 2.0 * r * delta * math.cos(math.radians(row[PHASE]))))


def vertex(times, values, i):
    """(time, value) of the extremum of the parabola through rows i-1, i and i+1."""
    y0, y1, y2 = values[i - 1], values[i], values[i + 1]
    curvature = y0 - 2.0 * y1 + y2
    offset = 0.0 if curvature == 0.0 else max(-1.0, min(1.0, (y0 - y2) / (2.0 * curvature)))
    step = (times[i + 1] - times[i - 1]) / 2.0
    return times[i] + offset * step, y1 - (y0 - y2) * offset / 4.0


def extrema(times, values):
    """(index, +1 for a maximum or -1 for a minimum) of each interior row where the column turns; a
    plateau counts once, at its first row."""
    found = []
    for i in range(1, len(values) - 1):
        y0, y1, y2 = values[i - 1], values[i], values[i + 1]
        if not all(math.isfinite(v) for v in (times[i - 1], times[i], times[i + 1], y0, y1, y2)):
            continue
        if y1 > y0 and y1 >= y2:
            found.append((i, +1))
        elif y1 < y0 and y1 <= y2:
            found.append((i, -1))
    return found


def unwrapped_ra(ras):
    """Right ascensions made continuous across 0 h, so that 23.9 h then 0.1 h is not a turn."""
    result, previous = [], None
    for h in ras:
        if math.isfinite(h) and previous is not None:
            h = h - 24.0 * round((h - previous) / 24.0)
        if math.isfinite(h):
            previous = h
        result.append(h)
    return result


def find_events(rows):
    """The events of a table, in order of time."""
    if len(rows) < 3:
        return []
    columns = list(zip(*rows))
    times = columns[TIME]
    events = []
    for i, sense in extrema(times, columns[ELONGATION]):
        time, value = vertex(times, columns[ELONGATION], i)
        # A body farther from the Sun than the observer turns at opposition and conjunction, however far
        # its orbit is inclined; one nearer at its greatest elongations and conjunctions.
        outer = rows[i][SUN_DISTANCE] > observer_sun_distance(rows[i])
        if sense > 0:
            kind = "opposition" if outer else "greatest elongation"
        else:
            # Seen past the Sun the body shows its lit side (phase angle under 90 degrees); between the
            # observer and the Sun, its dark side.
            kind = "inferior conjunction" if not outer and columns[PHASE][i] > 90.0 else "conjunction"
        events.append(Event(time, kind, f"elongation {value:.1f} deg"))
    for i, sense in extrema(times, columns[DISTANCE]):
        if sense < 0:
            time, value = vertex(times, columns[DISTANCE], i)
            events.append(Event(time, "closest approach", f"distance {value:.4f} AU"))
    ra = unwrapped_ra(columns[RA])
    for i, sense in extrema(times, ra):
        time, value = vertex(times, ra, i)
        # Right ascension grows in direct motion: a maximum begins the retrograde loop.
        kind = "stationary, retrograde begins" if sense > 0 else "stationary, direct again"
        events.append(Event(time, kind, f"RA {value % 24.0:.3f} h"))
    return sorted(events)


def event_line(event, scale=True):
    when = calendar_date(event.time).rpartition(":")[0] or f"JD {event.time}"
    return f"{when}{' TDB' if scale else ''}  {event.kind}: {event.text}"
