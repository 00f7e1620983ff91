"""The picture of a table: the track on the sky, the distances, and elongation, phase angle and
illuminated fraction against the date, with the events marked and listed.

A long table is decimated for drawing, not for its events: each curve keeps the lowest and highest
value of every slice of rows (so no peak is lost), the track every n-th row; a million rows draw in
seconds. NAN and INF values leave gaps.
"""

import io
import math
import os
from typing import Any, Callable, List, Optional, Set, Tuple

from .datos import Datos
from .dates import FIRST_GREGORIAN_DAY, LARGEST_JD, calendar_day
from .errors import DataError
from .events import Event, event_line, find_events, unwrapped_ra
from .files import write_output
from .row import Field, Table

# matplotlib counts days from 1970-01-01 0h; its dates end in the year 9999.
UNIX_EPOCH_JD = 2440587.5
LAST_DATE_JD = 5373484.5

# A track reaching beyond this declination is drawn around the pole, where a flat chart of right
# ascension against declination stretches it apart.
POLAR_DECLINATION = 60.0

# Slices a curve is cut into for drawing (twice as many points, a low and a high one each), and the
# points of the track drawn at most: far more than the pixels of the figure.
CURVE_SLICES = 2000
TRACK_POINTS = 20000

# Beyond this many events of its kinds a panel marks them with plain lines, without labels.
LABELLED_EVENTS = 40

# Short marks for the events on the time axes.
EVENT_MARKS = {"opposition": "opp", "conjunction": "conj", "inferior conjunction": "inf conj",
               "superior conjunction": "sup conj", "greatest elongation east": "gr elong E",
               "greatest elongation west": "gr elong W", "perihelion": "perih", "aphelion": "aph",
               "closest approach": "closest", "stationary, retrograde begins": "stat",
               "stationary, direct again": "stat"}
# The events marked on the distances rather than on the angles.
DISTANCE_KINDS = {"closest approach", "perihelion", "aphelion"}

Array = Any  # a numpy array of doubles


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


def every_nth(values: Array, limit: int = TRACK_POINTS) -> Array:
    """Every n-th value and the last, at most about `limit`."""
    import numpy
    step = max(1, -(-len(values) // limit))
    if step == 1:
        return values
    return numpy.concatenate([values[::step], values[-1:]])


def uses_dates(times: Array) -> bool:
    import numpy
    finite = times[numpy.isfinite(times)]
    return bool(len(finite)) and finite.min() >= FIRST_GREGORIAN_DAY - 0.5 and finite.max() < LAST_DATE_JD


def at_time(times: Array, values: Array, when: float) -> float:
    """The value at `when`, linear between the rows around it when the times increase; NaN outside the
    rows, next to a NaN, or in a table whose times do not increase."""
    import numpy
    i = int(numpy.searchsorted(times, when, side="right")) - 1
    if not 0 <= i < len(times) - 1:
        return math.nan
    t0, t1 = times[i], times[i + 1]
    if not t0 <= when <= t1 or not t1 > t0:
        return math.nan
    f = (when - t0) / (t1 - t0)
    return float(values[i] + f * (values[i + 1] - values[i]))


def increasing(times: Array) -> bool:
    import numpy
    return bool(len(times) > 1 and numpy.all(numpy.diff(times) > 0))


def sky_positions(ra_hours: Array, dec: Array, pole: int) -> Tuple[Array, Array]:
    """(x, y) of places on the chart: hours and degrees on the flat chart, or, around a pole, the
    angle of right ascension (radians) and the distance from the pole (degrees)."""
    import numpy
    if pole == 0:
        return ra_hours, dec
    return numpy.radians(15.0 * ra_hours), 90.0 - pole * dec


def hours_text(hours: float) -> str:
    """A tick of right ascension: "12h", or "12h40m" between whole hours."""
    minutes = round((hours % 24.0) * 60.0) % 1440
    return f"{minutes // 60}h" if minutes % 60 == 0 else f"{minutes // 60}h{minutes % 60:02d}m"


def draw_sky(fig: Any, slot: Any, times: Array, ra: Array, dec: Array, label_times: List[float],
             events: List[Event]) -> None:
    import numpy
    finite_dec = dec[numpy.isfinite(dec)]
    pole = 0
    if len(finite_dec) and numpy.abs(finite_dec).max() > POLAR_DECLINATION:
        pole = 1 if finite_dec.sum() >= 0.0 else -1
    track = numpy.asarray(unwrapped_ra(ra), dtype=float) if pole == 0 else ra
    if pole == 0:
        sky = fig.add_subplot(slot)
    else:
        sky = fig.add_subplot(slot, projection="polar")
        # As on a chart of the sky seen from inside: right ascension counterclockwise around the north
        # pole, clockwise around the south one.
        sky.set_theta_direction(1 if pole > 0 else -1)
        sky.set_theta_zero_location("S" if pole > 0 else "N")
    xs, ys = sky_positions(track, dec, pole)
    sky.plot(every_nth(xs), every_nth(ys), "-", color="tab:blue", linewidth=1.2)
    placed = numpy.flatnonzero(numpy.isfinite(xs) & numpy.isfinite(ys))
    first, last = placed[0], placed[-1]
    sky.plot(xs[first], ys[first], "o", color="tab:green", label="first row")
    sky.plot(xs[last], ys[last], "s", color="tab:red", label="last row")
    if increasing(times):
        for when in label_times:
            x, y = at_time(times, xs, when), at_time(times, ys, when)
            if math.isfinite(x) and math.isfinite(y):
                sky.plot(x, y, ".", color="black")
                sky.annotate(calendar_day(when), (x, y), textcoords="offset points", xytext=(4, 5),
                             fontsize=7)
    # Beyond the events a panel labels, marks on the track would hide it.
    marks = [(xs[e.row], ys[e.row]) for e in events] if len(events) <= 5 * LABELLED_EVENTS else []
    marks = [(x, y) for x, y in marks if math.isfinite(x) and math.isfinite(y)]
    if marks:
        sky.plot([m[0] for m in marks], [m[1] for m in marks], "D", color="tab:orange", markersize=4,
                 linestyle="none")
    if pole == 0:
        from matplotlib.ticker import FuncFormatter, MultipleLocator
        sky.invert_xaxis()  # right ascension grows to the east, the left, on the sky seen from inside
        finite_ra = track[numpy.isfinite(track)]
        span = float(finite_ra.max() - finite_ra.min()) if len(finite_ra) else 0.0
        if span >= 4.0:
            # At most about a dozen ticks, also for a track that goes round the sky many times.
            step = 2.0 if span <= 12.0 else 3.0 if span <= 24.0 else 6.0 * math.ceil(span / 72.0)
            sky.xaxis.set_major_locator(MultipleLocator(step))
        sky.xaxis.set_major_formatter(FuncFormatter(lambda x, _: hours_text(x)))
        sky.set_xlabel("right ascension (hours, increasing to the left)")
        sky.set_ylabel("declination (degrees)")
    else:
        reach = float(numpy.nanmax(ys))
        sky.set_rlim(0, min(180.0, max(10.0, math.ceil(reach / 10.0) * 10.0)))
        sky.set_xticks([math.radians(15.0 * h) for h in range(0, 24, 3)])
        sky.set_xticklabels([f"{h}h" for h in range(0, 24, 3)])
        # The declination labels on the side of the pole away from the track.
        angles = xs[numpy.isfinite(xs)]
        mean_ra = math.atan2(float(numpy.sin(angles).sum()), float(numpy.cos(angles).sum()))
        sky.set_rlabel_position(pole * math.degrees(mean_ra) + 180.0 + (0.0 if pole > 0 else 180.0))
        rings = list(range(10, int(sky.get_ylim()[1]) + 1, 10))
        sky.set_yticks(rings)
        sky.set_yticklabels([f"{pole * (90 - r):+d}°" for r in rings], fontsize=7)
    sky.set_title("track on the sky (J2000, geometric)" +
                  ("" if pole == 0 else f", around the {'north' if pole > 0 else 'south'} pole"), fontsize=10)
    sky.grid(True, alpha=0.3)
    sky.legend(loc="best", fontsize=7)


def mark_events(axis: Any, events: List[Event], x_of: Callable[[float], float], kinds: Set[str],
                span: float) -> None:
    """A dotted line at each event of these kinds, labelled at the top; a label close after another
    goes one step lower so that the two stay readable. Too many to label are lines alone."""
    chosen = [e for e in events if e.kind in kinds]
    if len(chosen) > LABELLED_EVENTS:
        axis.vlines([x_of(e.jd_tdb) for e in chosen], 0, 1, transform=axis.get_xaxis_transform(),
                    color="tab:orange", linestyle=":", linewidth=0.5)
        return
    previous, depth = None, 0
    for event in chosen:
        x = x_of(event.jd_tdb)
        depth = depth + 1 if previous is not None and x - previous < 0.06 * span else 0
        previous = x
        axis.axvline(x, color="tab:orange", linestyle=":", linewidth=1)
        axis.annotate(EVENT_MARKS.get(event.kind, event.kind), (x, 1.0), xycoords=("data", "axes fraction"),
                      xytext=(2, -10 - 9 * (depth % 3)), textcoords="offset points", fontsize=7,
                      color="tab:orange")


def image_format(output: str) -> str:
    """The format the output's suffix names (png for standard output or no suffix), if matplotlib
    writes it."""
    from matplotlib.figure import Figure
    suffix = os.path.splitext(output)[1][1:].lower() if output != "-" else ""
    fmt = suffix or "png"
    if fmt not in Figure().canvas.get_supported_filetypes():
        raise DataError(f"cannot write {output}: matplotlib writes no {fmt!r} images (use .png, .svg or .pdf)")
    return fmt


def plot_table(table: Table, output: str, title: str, datos: Optional[Datos] = None) -> None:
    """Draws the sky track, the distances and the illumination against the date, marks the events and
    lists them, and writes the figure to `output` (files.write_output; its format follows the suffix)."""
    fmt = image_format(output)
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    import matplotlib.dates as mdates
    import numpy

    times = drawn(table, "jd_tdb")
    events = find_events(table, datos)

    lines = [event_line(e, scale=False) for e in events] or ["no events in these rows"]
    if len(lines) > 24:
        lines = lines[:23] + [f"... and {len(lines) - 23} more (ephem-table info lists them all)"]
    per_column = (len(lines) + 1) // 2 if len(lines) > 6 else len(lines)
    fig = plt.figure(figsize=(10, 12.5 + 0.17 * per_column))
    grid = fig.add_gridspec(4, 1, height_ratios=[5, 2.2, 2.6, 0.5 + 0.17 * per_column])
    fig.suptitle(title)

    dates = uses_dates(times)
    shift = UNIX_EPOCH_JD if dates else 0.0
    x = times - shift

    def x_of(t: float) -> float:
        return t - shift

    def curve(axis: Any, field: Field, **style: Any) -> None:
        axis.plot(*decimated(x, drawn(table, field)), **style)

    far = fig.add_subplot(grid[1])
    curve(far, "sun_distance_au", color="tab:red", label="r, from the Sun")
    curve(far, "observer_distance_au", color="tab:blue", label="Δ, from the observer")
    far.set_ylabel("distance (AU)")
    far.set_title("distances", fontsize=10)
    far.grid(True, alpha=0.3)
    far.legend(loc="best", fontsize=7)
    finite_x = x[numpy.isfinite(x)]
    span = float(finite_x.max() - finite_x.min()) if len(finite_x) else 0.0
    mark_events(far, events, x_of, DISTANCE_KINDS, span)

    light = fig.add_subplot(grid[2], sharex=far)
    curve(light, "elongation_deg", color="tab:orange", label="elongation")
    curve(light, "phase_angle_deg", color="tab:purple", label="phase angle")
    # Both axes 5 % above their top value, so that a full disc is not drawn on the frame, and the
    # ticks of both scales meet the same grid lines.
    light.set_ylim(0, 189)
    light.set_yticks(range(0, 181, 45))
    light.set_ylabel("degrees")
    light.grid(True, alpha=0.3)
    fraction_axis = light.twinx()
    curve(fraction_axis, "illuminated_fraction", color="tab:gray", linestyle="--", label="illuminated fraction")
    fraction_axis.set_ylim(0, 1.05)
    fraction_axis.set_yticks([0, 0.25, 0.5, 0.75, 1])
    fraction_axis.set_ylabel("illuminated fraction")
    handles = light.get_legend_handles_labels()
    more = fraction_axis.get_legend_handles_labels()
    light.legend(handles[0] + more[0], handles[1] + more[1], loc="upper center",
                 bbox_to_anchor=(0.5, -0.2), ncol=3, fontsize=7)
    light.set_title("elongation, phase angle and illuminated fraction", fontsize=10)
    mark_events(light, events, x_of, set(EVENT_MARKS) - DISTANCE_KINDS, span)

    label_times: List[float] = []
    if dates:
        # Ticks on calendar boundaries (first of the month, of the year, ...), whatever the first row.
        locator = mdates.AutoDateLocator(minticks=4, maxticks=10)
        for axis in (far, light):
            axis.xaxis.set_major_locator(locator)
            axis.xaxis.set_major_formatter(mdates.ConciseDateFormatter(locator))
        light.set_xlabel("date (TDB)")
        low, high = float(finite_x.min()), float(finite_x.max())
        if high > low:
            far.set_xlim(low, high)
        label_times = [t + UNIX_EPOCH_JD for t in locator.tick_values(mdates.num2date(low),
                                                                      mdates.num2date(high))]
    else:
        light.set_xlabel("Julian date (TDB)")
    draw_sky(fig, grid[0], times, drawn(table, "ra_hours"), drawn(table, "dec_deg"), label_times, events)

    listing = fig.add_subplot(grid[3])
    listing.axis("off")
    for column, start in enumerate(range(0, len(lines), per_column)):
        listing.text(0.52 * column, 1.0, "\n".join(lines[start:start + per_column]), va="top", ha="left",
                     fontsize=7.5, family="monospace", transform=listing.transAxes)
    listing.set_title("events, dates TDB (◆ on the track)", fontsize=10, loc="left")

    fig.tight_layout()
    image = io.BytesIO()
    fig.savefig(image, format=fmt, dpi=100)
    plt.close(fig)
    write_output(output, image.getvalue())


def plot_title(name: str, table: Table) -> str:
    first, last = table[0].jd_tdb, table[-1].jd_tdb
    return (f"{name}: {len(table)} rows, {calendar_day(first) or f'JD {first}'} to "
            f"{calendar_day(last) or f'JD {last}'} (TDB)")
