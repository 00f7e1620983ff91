"""The panels against time: the distances, the magnitudes, the angles (elongation, phase angle,
illuminated fraction) and, from a site, the altitude with the dark hours shaded; and the events'
lines and marks on them.

A panel is a function given its axes and the rows (Rows). A long table is decimated for drawing, not
for its events: each curve keeps the lowest and highest value of every slice of rows (so no peak is
lost). NAN and INF values leave gaps.
"""

import math
from typing import Any, Callable, List, NamedTuple, Sequence, Tuple

from .dates import LARGEST_JD
from .events import Event
from .labels import Room, along, place_label, spread
from .row import Field, Table

Array = Any  # a numpy array of doubles

# matplotlib counts days from 1970-01-01 0h; its dates end in the year 9999.
UNIX_EPOCH_JD = 2440587.5
LAST_DATE_JD = 5373484.5

# Slices a curve is cut into for drawing (twice as many points, a low and a high one each): far more
# than the pixels of the figure.
CURVE_SLICES = 2000

# Pixels kept between the lines of two events marked on a panel: closer ones are thinned to those that
# fit, the others are in the list below the plot. After this many events in a row found no room for
# their marks, the rest are taken to find none either (in the order tried, they fall between those
# placed).
EVENT_SPACING = 8.0
GIVE_UP = 25

# Short marks for the events on the time axes; another kind is marked by its own name.
EVENT_MARKS = {"opposition": "opp", "conjunction": "conj", "inferior conjunction": "inf conj",
               "superior conjunction": "sup conj", "greatest elongation east": "gr elong E",
               "greatest elongation west": "gr elong W", "perihelion": "perih", "aphelion": "aph",
               "closest approach": "closest", "stationary, retrograde begins": "stat",
               "stationary, direct again": "stat"}

# Distances whose largest is more than this times their least are drawn on a logarithmic scale.
WIDE_DISTANCES = 100.0

# Events marked on the distances panel, by the first word of their kind; the others on the angles'.
DISTANCE_EVENTS = ("closest", "perihelion", "aphelion")


# What each field can hold; a value outside (NAN, INF, or a number no place has) is drawn as a gap.
# Distances reach a few million AU at most (a semi-major axis is below a million), and times are bounded
# as the dates module bounds them.
DRAWN_RANGES = {"jd_tdb": (-LARGEST_JD, LARGEST_JD), "ra_hours": (0.0, 24.0), "dec_deg": (-90.0, 90.0),
                "sun_distance_au": (0.0, 1e7), "observer_distance_au": (0.0, 1e7),
                "elongation_deg": (0.0, 180.0), "phase_angle_deg": (0.0, 180.0),
                "illuminated_fraction": (0.0, 1.0)}


def drawn(table: Table, field: Field) -> Array:
    """The values of a field as drawn: those outside the field's range are NAN."""
    import numpy
    low, high = DRAWN_RANGES[field]
    values = numpy.asarray(table.column(field), dtype=float)
    return numpy.where((values >= low) & (values <= high), values, numpy.nan)


def decimated(x: Array, y: Array, slices: int = CURVE_SLICES) -> Tuple[Array, Array]:
    """The points of the curve (x, y) that keep its shape on a figure: in each of `slices` runs of rows
    the lowest and the highest value, in their order; all points of a short curve."""
    import numpy
    n = len(y)
    if n <= 2 * slices:
        return x, y
    run = -(-n // slices)
    padded = numpy.concatenate([y, numpy.full((-n) % run, numpy.nan)]).reshape(-1, run)
    finite = numpy.isfinite(padded)
    low = numpy.where(finite, padded, numpy.inf).argmin(axis=1)
    high = numpy.where(finite, padded, -numpy.inf).argmax(axis=1)
    index = (numpy.sort(numpy.stack([low, high], axis=1), axis=1) +
             (numpy.arange(len(padded)) * run)[:, None]).ravel()
    index = numpy.minimum(index, n - 1)
    return x[index], y[index]



class Rows(NamedTuple):
    """The rows as the time panels draw them: the times (TDB) as drawn, the x of each (matplotlib's dates
    or Julian dates), the rows drawn as points (too coarse for the motion on the sky) and the gaps
    before them."""
    table: Table
    times: Array
    shift: float
    coarse: Array
    gaps: Array

    @property
    def x(self) -> Array:
        return self.times - self.shift

    def x_of(self, t: float) -> float:
        return t - self.shift


def curve(axis: Any, rows: Rows, values: Array, seen: bool = True, **style: Any) -> None:
    """A curve against the date. One `seen` from the observer is drawn as points where the rows are too
    coarse for the motion on the sky, unless it is decimated."""
    import numpy
    x = rows.x
    if len(values) > 2 * CURVE_SLICES or not len(rows.gaps) or not seen:
        axis.plot(*decimated(x, values), **style)
        return
    axis.plot(numpy.insert(x, rows.gaps, numpy.nan), numpy.insert(values, rows.gaps, numpy.nan), **style)
    axis.plot(x[rows.coarse], values[rows.coarse], "o", markersize=3, color=style.get("color"))


def distance_panel(axis: Any, rows: Rows) -> None:
    """r and Delta; on a logarithmic scale when they span several orders (a fly-by at a thousandth of the
    distance from the Sun would be a flat line at 0). Delta is drawn first and r over it, thinner, so
    that where the curves are bands (a long table) both stay in sight."""
    import numpy
    r, delta = drawn(rows.table, "sun_distance_au"), drawn(rows.table, "observer_distance_au")
    curve(axis, rows, delta, color="tab:blue", label="Δ, from the observer", linewidth=1.5, alpha=0.8)
    curve(axis, rows, r, seen=False, color="tab:red", label="r, from the Sun", linewidth=0.9, zorder=3)
    axis.set_ylabel("distance (AU)")
    distances = numpy.concatenate([r, delta])
    distances = distances[distances > 0.0]
    if len(distances) and distances.max() > WIDE_DISTANCES * distances.min():
        axis.set_yscale("log", nonpositive="mask")
        axis.set_title("distances (logarithmic scale)", fontsize=10)
    else:
        axis.set_title("distances", fontsize=10)
    axis.grid(True, alpha=0.3)
    axis.legend(loc="best", fontsize=7)


def magnitude_panel(axis: Any, rows: Rows, magnitudes: Sequence[float], label: str, empty: Sequence[str]) -> None:
    """The visual magnitude, brighter up; the stretches of rows without one shaded and said why (`empty`:
    the formula's reasons, "rows beyond phase angle 120 deg")."""
    import numpy
    values = numpy.asarray(magnitudes, dtype=float)
    if values.shape != rows.times.shape:
        raise ValueError("one magnitude a row")
    values = numpy.where(numpy.abs(values) < 100.0, values, numpy.nan)
    if numpy.isfinite(values).any():
        curve(axis, rows, values, color="tab:olive")
        why = "no magnitude: " + "; ".join(empty) if empty else "no magnitude"
        missing = ~numpy.isfinite(values) & numpy.isfinite(rows.times)
        x = rows.x
        widest = 0.0
        for a, b in runs_of(missing):
            x0, x1 = float(x[max(a - 1, 0)]), float(x[min(b + 1, len(x) - 1)])
            axis.axvspan(x0, x1, color="0.85", zorder=0)
            widest = max(widest, x1 - x0)
        if widest > 0.0:
            axis.text(0.5, 0.03, why, ha="center", va="bottom", transform=axis.transAxes, fontsize=7,
                      color="0.3", wrap=True)
    else:
        axis.text(0.5, 0.5, "no magnitude for these rows" + (": " + "; ".join(empty) if empty else ""),
                  ha="center", va="center", transform=axis.transAxes, fontsize=8)
    axis.invert_yaxis()
    axis.set_ylabel("magnitude (V)")
    axis.set_title("visual magnitude, brighter up" + (f" ({label})" if label else ""), fontsize=10)
    axis.grid(True, alpha=0.3)


def runs_of(flags: Array) -> List[Tuple[int, int]]:
    """(first, last) index of each run of true values."""
    import numpy
    edges = numpy.diff(numpy.concatenate([[0], flags.astype(numpy.int8), [0]]))
    return list(zip(numpy.flatnonzero(edges == 1).tolist(), (numpy.flatnonzero(edges == -1) - 1).tolist()))


def angle_panel(axis: Any, rows: Rows, fraction: bool) -> List[Any]:
    """Elongation and phase angle, and the illuminated fraction on a twin scale unless `fraction` is
    false (a comet's coma has no phase to speak of); the axes drawn on (the panel and its twin)."""
    curve(axis, rows, drawn(rows.table, "elongation_deg"), color="tab:orange", label="elongation")
    curve(axis, rows, drawn(rows.table, "phase_angle_deg"), color="tab:purple", label="phase angle")
    # Both axes 5 % above their top value, so that a full disc is not drawn on the frame, and the
    # ticks of both scales meet the same grid lines.
    axis.set_ylim(0, 189)
    axis.set_yticks(range(0, 181, 45))
    axis.set_ylabel("degrees")
    axis.grid(True, alpha=0.3)
    handles, names = axis.get_legend_handles_labels()
    drawn_on = [axis]
    if fraction:
        twin = axis.twinx()
        curve(twin, rows, drawn(rows.table, "illuminated_fraction"), color="tab:gray", linestyle="--",
              label="illuminated fraction")
        twin.set_ylim(0, 1.05)
        twin.set_yticks([0, 0.25, 0.5, 0.75, 1])
        twin.set_ylabel("illuminated fraction")
        more = twin.get_legend_handles_labels()
        handles, names = handles + more[0], names + more[1]
        drawn_on.append(twin)
    axis.legend(handles, names, loc="upper center", bbox_to_anchor=(0.5, -0.2), ncol=3, fontsize=7)
    axis.set_title("elongation, phase angle" + (" and illuminated fraction" if fraction else
                                                " (no illuminated fraction for a comet)"), fontsize=10)
    return drawn_on


class Altitudes(NamedTuple):
    """The site's view sampled for the altitude panel: times (TDB), the body's altitude and the Sun's
    (degrees), the altitude the body must reach, and the site's name."""
    times: Array
    altitude: Array
    sun: Array
    min_altitude: float
    site: str


def altitude_panel(axis: Any, rows: Rows, seen: Altitudes) -> None:
    """The body's altitude seen from the site, the dark hours (the Sun below -18 degrees) shaded grey and
    the twilights lighter, the horizon and the altitude asked for as lines."""
    import numpy
    x = seen.times - rows.shift
    for level, shade in ((0.0, "0.92"), (-18.0, "0.75")):
        for a, b in runs_of(seen.sun < level):
            axis.axvspan(float(x[a]), float(x[b]), color=shade, zorder=0, linewidth=0)
    axis.plot(x, seen.altitude, color="tab:green", label="altitude")
    axis.axhline(0.0, color="black", linewidth=0.8)
    axis.axhline(seen.min_altitude, color="tab:green", linestyle=":", linewidth=1,
                 label=f"{seen.min_altitude:g}°")
    finite = seen.altitude[numpy.isfinite(seen.altitude)]
    low = min(-10.0, float(finite.min()) - 5.0) if len(finite) else -90.0
    axis.set_ylim(max(-90.0, low), 90.0)
    axis.set_yticks(range(-90 if low < -60 else -30 if low < -30 else 0, 91, 30))
    axis.set_ylabel("altitude (degrees)")
    axis.set_title(f"altitude from {seen.site} (dark grey: Sun below -18°; light: twilight)", fontsize=10)
    axis.grid(True, alpha=0.3)
    axis.legend(loc="upper right", fontsize=7)


def event_mark(kind: str) -> str:
    return EVENT_MARKS.get(kind, kind)


def mark_events(axes: Sequence[Any], chosen: List[Event], x_of: Callable[[float], float], renderer: Any) -> None:
    """A dotted line at each event that fits (EVENT_SPACING pixels from the others), with its mark beside
    it as high as it finds room, on the laid-out panel (axes: the panel and its twins); those left out
    are counted on the panel, and the list below the plot holds them."""
    import numpy
    if not chosen:
        return
    axis = axes[0]
    room = Room.of(axes, renderer)
    left, bottom, right, top = room.frame
    taken: List[float] = []
    drawn_count = failed = 0
    for event in spread(chosen):
        x = float(axis.get_xaxis_transform().transform((x_of(event.jd_tdb), 0.0))[0])
        if not (math.isfinite(x) and left <= x <= right) or any(abs(x - t) < EVENT_SPACING for t in taken):
            continue
        if failed >= GIVE_UP or not place_label(axis, room, renderer, event_mark(event.kind), along(x, top, bottom),
                                                color="tab:orange"):
            failed += 1
            continue
        failed = 0
        taken.append(x)
        room.add_line(numpy.array([[x, bottom], [x, top]]))
        axis.axvline(x_of(event.jd_tdb), color="tab:orange", linestyle=":", linewidth=1)
        drawn_count += 1
    if drawn_count < len(chosen):
        axis.annotate(f"{drawn_count} of {len(chosen)} events marked", (1.0, 1.0), xycoords="axes fraction",
                      xytext=(0, 3), textcoords="offset points", ha="right", va="bottom", fontsize=6.5,
                      color="tab:orange")
