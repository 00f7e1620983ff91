"""The picture of a table: the track on the sky, the distances, the magnitude when it is given, and
elongation, phase angle and illuminated fraction against the date, with the events marked and listed.

The sky chart is the one that draws the track with the least distortion: right ascension against
declination for a track within 60 degrees of the equator; a chart around the pole for one that goes
beyond 60 degrees and stays in that hemisphere; a map of the whole sky (Mollweide's projection) for one
that goes beyond 60 degrees and into the other hemisphere. Right ascension increases to the left, as on
the sky seen from inside, and runs on across 0h; a track that goes round more than once, and every track
on the whole-sky map, is drawn on 24 hours cut where the track crosses least often.

Where the rows are too far apart for the motion (a close fly-by moves tens of degrees in a day), a line
between them would be a path the body never took: those rows are drawn as points, with a note.

Labels (dates along the track, events on the time panels) go where they cover no line, marker, tick
label, legend or other label, by the extents the renderer gives their text; those that find no room
are left out, the first, last and middle ones tried first so that those left are spread evenly.

A long table is decimated for drawing, not for its events: each curve keeps the lowest and highest
value of every slice of rows (so no peak is lost), the track every n-th row and every gap; a million
rows draw in seconds. NAN and INF values leave gaps.
"""

import io
import math
import os
from typing import Any, Callable, Iterable, List, NamedTuple, Optional, Sequence, Tuple, TypeVar

from .accuracy import ModelErrors
from .datos import Datos
from .dates import FIRST_GREGORIAN_DAY, LARGEST_JD, calendar_date, calendar_day
from .errors import DataError
from .events import Event, event_line, find_events, rows_a_day
from .files import write_output
from .plot_accuracy import draw_model_error
from .row import Field, Table

# matplotlib counts days from 1970-01-01 0h; its dates end in the year 9999.
UNIX_EPOCH_JD = 2440587.5
LAST_DATE_JD = 5373484.5

# A track reaching beyond this declination is drawn around the pole, or on the whole sky, where a flat
# chart of right ascension against declination stretches it apart.
POLAR_DECLINATION = 60.0

# Slices a curve is cut into for drawing (twice as many points, a low and a high one each), and the
# points of the track drawn at most: far more than the pixels of the figure.
CURVE_SLICES = 2000
TRACK_POINTS = 20000

# Beyond this many events of its kinds a panel marks them with short ticks at its top, without labels.
LABELLED_EVENTS = 40

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

# Steps between ticks of right ascension, in seconds of time, the largest giving at least RA_TICKS.
RA_STEPS = (21600, 14400, 10800, 7200, 3600, 1800, 1200, 900, 600, 300, 120, 60, 30, 20, 15, 10, 5, 2, 1,
            0.5, 0.2, 0.1, 0.05, 0.02, 0.01, 0.005, 0.002, 0.001)
RA_TICKS = 5

# A row is passed too fast for the step between rows when the change of the motion there (the second
# difference of the places, as vectors of unit length) is more than half the longer step beside it and
# more than 1/25 of the chart's size: a line through the row would miss the path by about an eighth
# of that, several pixels. The steps on both sides of such a row are drawn as points, not lines.
COARSE_BEND = 0.5
COARSE_SHARE = 1.0 / 25.0

DPI = 100
LABEL_SIZE = 7  # points
LABEL_PAD = 2.0  # pixels kept free around a label

Array = Any  # a numpy array of doubles
Box = Tuple[float, float, float, float]  # left, bottom, right, top, in pixels
Spot = Tuple[float, float, str, str]  # a label's anchor in pixels, and its alignments there
T = TypeVar("T")


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



def unwrapped_hours(ra: Array) -> Array:
    """Right ascensions (hours) made continuous across 0h: each differs from the previous finite one by
    at most 12 hours, so 23.9 h then 0.1 h becomes 23.9 h then 24.1 h; NAN stays NAN."""
    import numpy
    hours = numpy.array(ra, dtype=float)
    placed = numpy.flatnonzero(numpy.isfinite(hours))
    if len(placed) > 1:
        values = hours[placed]
        turns = numpy.concatenate([[0.0], numpy.cumsum(numpy.round(numpy.diff(values) / 24.0))])
        hours[placed] = values - 24.0 * turns
    return hours


def seam_hour(hours: Array) -> int:
    """The whole hour of right ascension at which to cut a chart of 24 hours for a track (continuous
    hours): one the track crosses least often, in the middle of the widest run of such hours; opposite
    the track when it crosses none."""
    import numpy
    a, b = hours[:-1], hours[1:]
    both = numpy.isfinite(a) & numpy.isfinite(b)
    a, b = a[both], b[both]
    crossings = [float(numpy.abs(numpy.floor((b - h) / 24.0) - numpy.floor((a - h) / 24.0)).sum())
                 for h in range(24)]
    good = [c == min(crossings) for c in crossings]
    if all(good):
        middle = float(numpy.nanmean(hours)) if numpy.isfinite(hours).any() else 0.0
        return (math.floor(middle) + 12) % 24
    best, widest = 0, 0
    for h in range(24):
        if good[h] and not good[h - 1]:
            width = 0
            while good[(h + width) % 24]:
                width += 1
            if width > widest:
                best, widest = h, width
    return (best + (widest - 1) // 2) % 24


def hours_text(milliseconds: int, step: int) -> str:
    """A tick of right ascension given in milliseconds of time, modulo 24 hours, to the precision of the
    step between ticks (milliseconds): "12h", "12h40m", "12h40m30s", "12h40m30.5s"."""
    h, rest = divmod(milliseconds % 86_400_000, 3_600_000)
    m, rest = divmod(rest, 60_000)
    if step % 3_600_000 == 0:
        return f"{h}h"
    if step % 60_000 == 0:
        return f"{h}h{m:02d}m"
    if step % 1000 == 0:
        return f"{h}h{m:02d}m{rest // 1000:02d}s"
    decimals = 1 if step % 100 == 0 else 2 if step % 10 == 0 else 3
    return f"{h}h{m:02d}m{rest / 1000:0{3 + decimals}.{decimals}f}s"


def ra_ticks(low: float, high: float) -> Tuple[List[float], List[str]]:
    """Ticks of right ascension from `low` to `high` (continuous hours, which may run below 0 or past 24):
    at least RA_TICKS at round values of time, labelled modulo 24 hours; of two ticks a whole turn
    apart, which name one place, the second is left out."""
    for step in RA_STEPS:
        unit = round(step * 1000)  # milliseconds of time
        counts = list(range(math.ceil(low * 3.6e6 / unit - 1e-9), math.floor(high * 3.6e6 / unit + 1e-9) + 1))
        if len(counts) > 1 and (counts[-1] - counts[0]) * unit % 86_400_000 == 0:
            counts.pop()
        if len(counts) >= RA_TICKS:
            break
    return [k * unit / 3.6e6 for k in counts], [hours_text(k * unit, unit) for k in counts]


def chart_kind(dec: Array) -> str:
    """The chart for a track of these declinations (degrees): "flat" within POLAR_DECLINATION of the
    equator; "north" or "south", around that pole, for a track beyond it that stays in that hemisphere;
    "sky", the whole sky, for one beyond it that goes into the other hemisphere."""
    import numpy
    finite = dec[numpy.isfinite(dec)]
    if not len(finite) or numpy.abs(finite).max() <= POLAR_DECLINATION:
        return "flat"
    if finite.min() >= 0.0:
        return "north"
    return "south" if finite.max() <= 0.0 else "sky"


class SkyChart(NamedTuple):
    """Where places go on the sky panel. `seam`: on a chart of 24 hours, the hour of right ascension at
    its right edge (and again at its left edge); None on a chart of the track's own span or a polar one."""
    kind: str
    seam: Optional[int]

    def wrapped(self, hours: Array) -> Array:
        import numpy
        return hours if self.seam is None else self.seam + numpy.mod(hours - self.seam, 24.0)

    def place(self, x: Array, dec: Array) -> Tuple[Array, Array]:
        """(x, y) of the chart's data for right ascensions already wrapped (hours) and declinations
        (degrees): hours and degrees on the flat chart; radians east of the middle and radians on the
        whole sky; the angle of right ascension (radians) and the distance from the pole (degrees)."""
        import numpy
        if self.kind == "sky":
            return numpy.radians(180.0 - 15.0 * (x - (self.seam or 0))), numpy.radians(dec)
        if self.kind in ("north", "south"):
            return numpy.radians(15.0 * x), 90.0 - (1.0 if self.kind == "north" else -1.0) * dec
        return x, dec

    def points(self, hours: Array, dec: Array) -> Tuple[Array, Array]:
        import numpy
        return self.place(self.wrapped(numpy.asarray(hours, dtype=float)), numpy.asarray(dec, dtype=float))

    def path(self, hours: Array, dec: Array, broken: Array, limit: int = TRACK_POINTS) -> Tuple[Array, Array]:
        """The track as drawn: every n-th row (at most about `limit`) and the last; a gap where a step
        between two rows drawn holds a broken step between rows (`broken`, one a step); on a chart of 24
        hours, the track taken to the edge it leaves by and from the edge it comes in by."""
        import numpy
        n = len(hours)
        index = numpy.arange(0, n, max(1, -(-n // limit)))
        if index[-1] != n - 1:
            index = numpy.append(index, n - 1)
        count = numpy.concatenate([[0], numpy.cumsum(broken)])
        gap = count[index[1:]] - count[index[:-1]] > 0
        u, y = hours[index], dec[index]
        holes = numpy.flatnonzero(gap)
        at, new_x, new_y = [holes + 1], [numpy.full(len(holes), numpy.nan)], [numpy.full(len(holes), numpy.nan)]
        if self.seam is not None:
            # A step across the seam goes on to the edge it leaves by, and comes in from the other edge
            # at the same declination; a step of more than a turn (rows drawn far apart) is a gap.
            turn = numpy.floor((u - self.seam) / 24.0)
            change = numpy.diff(turn)
            a = numpy.flatnonzero((numpy.abs(change) == 1.0) & ~gap)
            edge = self.seam + 24.0 * numpy.maximum(turn[a], turn[a + 1])
            y_edge = y[a] + (edge - u[a]) / (u[a + 1] - u[a]) * (y[a + 1] - y[a])
            out = numpy.where(change[a] > 0, self.seam + 24.0, float(self.seam))
            nan = numpy.full(len(a), numpy.nan)
            far = numpy.flatnonzero((numpy.abs(change) > 1.0) & ~gap)
            at += [numpy.repeat(a + 1, 3), far + 1]
            new_x += [numpy.stack([out, nan, 2.0 * self.seam + 24.0 - out], axis=1).ravel(), far * numpy.nan]
            new_y += [numpy.stack([y_edge, nan, y_edge], axis=1).ravel(), far * numpy.nan]
        where = numpy.concatenate(at)
        return self.place(numpy.insert(self.wrapped(u), where, numpy.concatenate(new_x)),
                          numpy.insert(y, where, numpy.concatenate(new_y)))


def choose_chart(hours: Array, dec: Array) -> SkyChart:
    """The chart for a track (continuous hours, degrees), as chart_kind and the module's notes say."""
    import numpy
    kind = chart_kind(dec)
    if kind in ("north", "south"):
        return SkyChart(kind, None)
    sample = hours[::max(1, -(-len(hours) // TRACK_POINTS))]
    finite = hours[numpy.isfinite(hours)]
    if kind == "sky" or (len(finite) and finite.max() - finite.min() > 24.0):
        return SkyChart(kind, seam_hour(sample))
    return SkyChart(kind, None)


def chart_size(chart: SkyChart, hours: Array, dec: Array) -> float:
    """The size of the chart on the sky, degrees: its width or height, whichever is larger."""
    import numpy
    if chart.kind != "flat":
        return 180.0
    ra, de = hours[numpy.isfinite(hours)], dec[numpy.isfinite(dec)]
    if not len(ra) or not len(de):
        return 180.0
    width = 24.0 if chart.seam is not None else float(ra.max() - ra.min())
    middle = math.radians((de.max() + de.min()) / 2.0)
    return max(15.0 * width * math.cos(middle), float(de.max() - de.min()))


def coarse_rows(ra_hours: Array, dec: Array, size: float) -> Array:
    """For each row, whether the step between rows is too coarse for the motion there (COARSE_BEND,
    COARSE_SHARE of `size`, the chart's size in degrees)."""
    import numpy
    a, d = numpy.radians(15.0 * ra_hours), numpy.radians(dec)
    p = numpy.stack([numpy.cos(d) * numpy.cos(a), numpy.cos(d) * numpy.sin(a), numpy.sin(d)], axis=1)
    coarse = numpy.zeros(len(p), dtype=bool)
    if len(p) < 3:
        return coarse
    step = numpy.linalg.norm(numpy.diff(p, axis=0), axis=1)
    bend = numpy.linalg.norm(p[2:] - 2.0 * p[1:-1] + p[:-2], axis=1)
    with numpy.errstate(invalid="ignore"):
        coarse[1:-1] = ((bend > COARSE_BEND * numpy.maximum(step[:-1], step[1:])) &
                        (bend > COARSE_SHARE * math.radians(size)))
    return coarse


def runs(flags: Array) -> List[Tuple[int, int]]:
    """(first, last) index of each run of true values."""
    import numpy
    edges = numpy.diff(numpy.concatenate([[0], flags.astype(numpy.int8), [0]]))
    return list(zip(numpy.flatnonzero(edges == 1).tolist(), (numpy.flatnonzero(edges == -1) - 1).tolist()))


def spread(items: Sequence[T]) -> List[T]:
    """The items in the order labels are tried: the first, then the middle, then the quarters and so
    on, so that those that find room are spread evenly when not all do."""
    def level(i: int) -> int:
        return 64 if i == 0 else (i & -i).bit_length()
    return [items[i] for i in sorted(range(len(items)), key=lambda i: (-level(i), i))]


def row_text(jd: float) -> str:
    """A row's date, with the time when it is not 0h."""
    text = calendar_date(jd)
    return text[:10] if text.endswith("00:00:00") else text[:16]


def crosses(segments: Array, box: Box) -> bool:
    """Whether any segment (x0, y0, x1, y1 a row, pixels) meets the box: none does when each lies beyond
    one side of the box, or has all four corners on one side of its line."""
    import numpy
    left, bottom, right, top = box
    x0, y0, x1, y1 = segments[:, 0], segments[:, 1], segments[:, 2], segments[:, 3]
    near = ~((numpy.maximum(x0, x1) < left) | (numpy.minimum(x0, x1) > right) |
             (numpy.maximum(y0, y1) < bottom) | (numpy.minimum(y0, y1) > top))
    if not near.any():
        return False
    x0, y0, x1, y1 = x0[near], y0[near], x1[near], y1[near]
    dx, dy = x1 - x0, y1 - y0
    sides = numpy.stack([dx * (cy - y0) - dy * (cx - x0)
                         for cx, cy in ((left, bottom), (left, top), (right, bottom), (right, top))])
    apart = (sides > 0).all(axis=0) | (sides < 0).all(axis=0)
    return bool((~apart).any())


def extents(bbox: Any) -> Box:
    left, bottom, right, top = bbox.extents
    return float(left), float(bottom), float(right), float(top)


class Room:
    """The space of a panel left for labels, in pixels: inside `frame`, off every line segment, marker,
    tick label, legend and label placed before."""

    def __init__(self, frame: Box) -> None:
        import numpy
        self.frame = frame
        self.boxes: List[Box] = []
        self.pieces: List[Array] = [numpy.empty((0, 4))]

    @classmethod
    def of(cls, axes: Sequence[Any], renderer: Any) -> "Room":
        """The room of the first axes, with the lines, markers, legends and tick labels of all."""
        import numpy
        room = cls(extents(axes[0].bbox))
        for axis in axes:
            for line in axis.get_lines():
                points = line.get_transform().transform(numpy.asarray(line.get_xydata(), dtype=float))
                if line.get_linestyle() not in ("None", "", " "):
                    room.add_line(points)
                if line.get_marker() not in ("None", "", " ", None) and len(points) <= 5000:
                    r = line.get_markersize() * DPI / 144.0 + 1.0
                    room.boxes.extend((x - r, y - r, x + r, y + r) for x, y in points
                                      if math.isfinite(x) and math.isfinite(y))
            legend = axis.get_legend()
            texts = axis.get_xticklabels() + axis.get_yticklabels()
            for artist in texts + ([legend] if legend is not None else []):
                if artist.get_visible() and (artist is legend or artist.get_text()):
                    room.boxes.append(extents(artist.get_window_extent(renderer)))
        return room

    def add_line(self, points: Array) -> None:
        """A polyline (n rows of x, y); a row holding NAN breaks it."""
        import numpy
        segments = numpy.concatenate([points[:-1], points[1:]], axis=1)
        self.pieces.append(segments[numpy.isfinite(segments).all(axis=1)])

    def free(self, box: Box, lines: bool = True) -> bool:
        """Whether the box is in the frame and off every box (and, unless `lines` is false, every line)."""
        left, bottom, right, top = box
        f_left, f_bottom, f_right, f_top = self.frame
        if left < f_left or bottom < f_bottom or right > f_right or top > f_top:
            return False
        if any(left < r and l < right and bottom < t and b < top for l, b, r, t in self.boxes):
            return False
        if not lines:
            return True
        if len(self.pieces) > 1:
            import numpy
            self.pieces = [numpy.concatenate(self.pieces)]
        return not crosses(self.pieces[0], box)


def place_label(axis: Any, room: Room, renderer: Any, text: str, spots: Callable[[float, float], Iterable[Spot]],
                **style: Any) -> bool:
    """Writes `text` at the first of its spots (given its width and height in pixels) where it fits in
    the room and takes that space; False, and nothing written, when none has room."""
    label = axis.annotate(text, (0.0, 0.0), xycoords="axes fraction", fontsize=LABEL_SIZE, **style)
    extent = label.get_window_extent(renderer)
    width, height = extent.width, extent.height
    for x, y, ha, va in spots(width, height):
        left = x if ha == "left" else x - width if ha == "right" else x - width / 2.0
        bottom = y if va == "bottom" else y - height if va == "top" else y - height / 2.0
        box = (left - LABEL_PAD, bottom - LABEL_PAD, left + width + LABEL_PAD, bottom + height + LABEL_PAD)
        if room.free(box):
            room.boxes.append(box)
            label.xy = label.xyann = tuple(axis.transAxes.inverted().transform((x, y)))
            label.set_horizontalalignment(ha)
            label.set_verticalalignment(va)
            return True
    label.remove()
    return False


def around(x: float, y: float, d: float) -> Callable[[float, float], Iterable[Spot]]:
    """Spots for the label of a point: above, below and beside it, `d` pixels off, clear of its marker."""
    def spots(width: float, height: float) -> Iterable[Spot]:
        return [(x + d, y + d, "left", "bottom"), (x - d, y + d, "right", "bottom"),
                (x + d, y - d, "left", "top"), (x - d, y - d, "right", "top"),
                (x + 1.5 * d, y, "left", "center"), (x - 1.5 * d, y, "right", "center"),
                (x, y + 1.5 * d, "center", "bottom"), (x, y - 1.5 * d, "center", "top")]
    return spots


def along(x: float, top: float, bottom: float) -> Callable[[float, float], Iterable[Spot]]:
    """Spots for the label of a vertical line: beside it, from the top down."""
    def spots(width: float, height: float) -> Iterable[Spot]:
        y = top - 3.0
        while y - height > bottom:
            yield (x + 3.0, y, "left", "top")
            yield (x - 3.0, y, "right", "top")
            y -= height + 1.0
    return spots


def pin_legend(axis: Any, renderer: Any, **style: Any) -> None:
    """The legend drawn where matplotlib's "best" puts it now, kept there whatever is drawn later."""
    box = axis.get_legend().get_window_extent(renderer)
    x, y = axis.transAxes.inverted().transform((box.x0, box.y0))
    axis.legend(loc=(float(x), float(y)), **style)


class SkyLabels(NamedTuple):
    """What the sky panel labels once the figure is laid out: (text, x, y, whether a dot is to mark the
    place; the other places have a marker)."""
    axis: Any
    wanted: List[Tuple[str, float, float, bool]]


def coarse_note(times: Array, coarse: Array) -> str:
    """What the sky panel says of the rows drawn as points."""
    stretches = runs(coarse)
    if not stretches:
        return ""
    a, b = stretches[0]
    what = f"row of {row_text(times[a])}" if a == b else f"rows from {row_text(times[a])} to {row_text(times[b])}"
    if len(stretches) > 1:
        what = f"{int(coarse.sum())} rows in {len(stretches)} stretches, the first the {what},"
    else:
        what = f"the {what}"
    return f"{what} drawn as points: the step between rows is too coarse for the motion there"


def sky_axes(fig: Any, slot: Any, chart: SkyChart) -> Any:
    if chart.kind == "flat":
        return fig.add_subplot(slot)
    if chart.kind == "sky":
        return fig.add_subplot(slot, projection="mollweide")
    pole = 1 if chart.kind == "north" else -1
    sky = fig.add_subplot(slot, projection="polar")
    # As on a chart of the sky seen from inside: right ascension counterclockwise around the north
    # pole, clockwise around the south one.
    sky.set_theta_direction(pole)
    sky.set_theta_zero_location("S" if pole > 0 else "N")
    return sky


def sky_grid(sky: Any, chart: SkyChart, hours: Array, dec: Array) -> None:
    """The limits, ticks and axis labels of the sky panel."""
    import numpy
    if chart.kind == "flat":
        finite = hours[numpy.isfinite(hours)]
        if chart.seam is not None:
            low, high = float(chart.seam), chart.seam + 24.0
        else:
            low, high = float(finite.min()), float(finite.max())
            # Room for the labels of the first and last rows.
            pad = min(max(0.06 * (high - low), 1e-4), (24.0 - (high - low)) / 2.0)
            low, high = low - pad, high + pad
        sky.margins(y=0.1)
        sky.set_xlim(high, low)  # right ascension grows to the east, the left, on the sky seen from inside
        sky.set_xticks(*ra_ticks(low, high))
        sky.yaxis.get_major_formatter().set_useOffset(False)
        sky.set_xlabel("right ascension (hours, increasing to the left)")
        sky.set_ylabel("declination (degrees)")
    elif chart.kind == "sky":
        seam = chart.seam or 0
        marked = [h for h in range(seam + 1, seam + 24) if h % 3 == 0]
        sky.set_xticks([math.radians(180.0 - 15.0 * (h - seam)) for h in marked], [f"{h % 24}h" for h in marked],
                       fontsize=7)
        circles = [-60, -30, 0, 30, 60]
        sky.set_yticks([math.radians(c) for c in circles], [f"{c:+d}°" if c else "0°" for c in circles],
                       fontsize=7)
    else:
        pole = 1 if chart.kind == "north" else -1
        xs, ys = chart.points(hours, dec)
        reach = float(numpy.nanmax(ys))
        sky.set_rlim(0, min(180.0, max(10.0, math.ceil(reach / 10.0) * 10.0)))
        sky.set_xticks([math.radians(15.0 * h) for h in range(0, 24, 3)], [f"{h}h" for h in range(0, 24, 3)])
        # The declination labels on the side of the pole away from the track.
        angles = xs[numpy.isfinite(xs)]
        mean_ra = math.atan2(float(numpy.sin(angles).sum()), float(numpy.cos(angles).sum()))
        sky.set_rlabel_position(pole * math.degrees(mean_ra) + 180.0 + (0.0 if pole > 0 else 180.0))
        rings = list(range(10, int(sky.get_ylim()[1]) + 1, 10))
        sky.set_yticks(rings, [f"{pole * (90 - r):+d}°" for r in rings], fontsize=7)


def draw_sky(fig: Any, slot: Any, chart: SkyChart, times: Array, hours: Array, dec: Array, coarse: Array,
             label_times: List[float], events: List[Event]) -> SkyLabels:
    """The track, its first and last rows, the events and the rows drawn as points; the labels it asks
    for, the dates of the rows drawn as points first."""
    import numpy
    sky = sky_axes(fig, slot, chart)
    placed = numpy.isfinite(hours) & numpy.isfinite(dec)
    broken = coarse[:-1] | coarse[1:] | ~placed[:-1] | ~placed[1:]
    sky.plot(*chart.path(hours, dec, broken), "-", color="tab:blue", linewidth=1.2)
    lone = numpy.flatnonzero(coarse)
    if len(lone):
        shown = lone[::max(1, -(-len(lone) // TRACK_POINTS))]
        sky.plot(*chart.points(hours[shown], dec[shown]), "o", color="tab:blue", markersize=3)
    rows = numpy.flatnonzero(placed)
    first, last = rows[0], rows[-1]
    sky.plot(*chart.points(hours[first], dec[first]), "o", color="tab:green", label="first row")
    sky.plot(*chart.points(hours[last], dec[last]), "s", color="tab:red", label="last row")
    # Beyond the events a panel labels, marks on the track would hide it.
    marked = [e.row for e in events if 0 <= e.row < len(hours) and placed[e.row]]
    if marked and len(events) <= 5 * LABELLED_EVENTS:
        sky.plot(*chart.points(hours[marked], dec[marked]), "D", color="tab:orange", markersize=4,
                 linestyle="none")
    wanted: List[Tuple[str, float, float, bool]] = []
    for i in [first, last] + spread(lone[::max(1, -(-len(lone) // LABELLED_EVENTS))].tolist()):
        x, y = chart.points(hours[i], dec[i])
        if math.isfinite(times[i]) and row_text(times[i]) not in [w[0] for w in wanted]:
            wanted.append((row_text(times[i]), float(x), float(y), False))
    if increasing(times):
        for when in spread(label_times):
            u, d = at_time(times, hours, when), at_time(times, dec, when)
            if math.isfinite(u) and math.isfinite(d) and row_text(when) not in [w[0] for w in wanted]:
                x, y = chart.points(u, d)
                wanted.append((row_text(when), float(x), float(y), True))
    title = "track on the sky (J2000, geometric)"
    if chart.kind in ("north", "south"):
        title += f", around the {chart.kind} pole"
    elif chart.kind == "sky":
        title += ", the whole sky"
    note = coarse_note(times, coarse)
    sky.set_title(title + (f"\n{note}" if note else ""), fontsize=10)
    sky_grid(sky, chart, hours, dec)
    sky.grid(True, alpha=0.3)
    sky.legend(loc="best", fontsize=7)
    return SkyLabels(sky, wanted)


def label_sky(labels: SkyLabels, renderer: Any) -> None:
    """Writes the dates along the track where they find room; a dot marks each date written."""
    import numpy
    sky = labels.axis
    room = Room.of([sky], renderer)
    dots: List[Tuple[float, float]] = []
    for text, x, y, dotted in labels.wanted:
        px, py = sky.transData.transform((x, y))
        dot = (px - 3.0, py - 3.0, px + 3.0, py + 3.0)
        if not (math.isfinite(px) and math.isfinite(py)) or (dotted and not room.free(dot, lines=False)):
            continue
        if place_label(sky, room, renderer, text, around(px, py, 5.0 if dotted else 8.0)) and dotted:
            room.boxes.append(dot)
            dots.append((x, y))
    if dots:
        sky.plot(*numpy.transpose(dots), ".", color="black")


def event_mark(kind: str) -> str:
    return EVENT_MARKS.get(kind, kind)


def event_lines(axis: Any, chosen: List[Event], x_of: Callable[[float], float]) -> None:
    """A dotted line at each event; when there are too many to label, a short tick at the top for each,
    which leaves the curves in sight however many there are."""
    if len(chosen) > LABELLED_EVENTS:
        axis.vlines([x_of(e.jd_tdb) for e in chosen], 0.96, 1, transform=axis.get_xaxis_transform(),
                    color="tab:orange", linewidth=0.5)
        return
    for event in chosen:
        axis.axvline(x_of(event.jd_tdb), color="tab:orange", linestyle=":", linewidth=1)


def label_events(axes: Sequence[Any], chosen: List[Event], x_of: Callable[[float], float], renderer: Any) -> None:
    """The mark of each event beside its line, as high as it finds room (axes: the panel and its twins)."""
    if not chosen or len(chosen) > LABELLED_EVENTS:
        return
    axis = axes[0]
    room = Room.of(axes, renderer)
    _, bottom, _, top = room.frame
    for event in spread(chosen):
        x = float(axis.get_xaxis_transform().transform((x_of(event.jd_tdb), 0.0))[0])
        place_label(axis, room, renderer, event_mark(event.kind), along(x, top, bottom), color="tab:orange")


def label_days(first: float, last: float, finer: bool = False) -> List[float]:
    """Julian dates of calendar boundaries (first of the month, of the year...) at 0h, from first to
    last, a dozen at most: where the track is labelled; for rows `finer` than a day, boundaries of hours
    and minutes as well, so that a track of hours has labels."""
    import matplotlib.dates as mdates
    if not last > first:
        return []
    low, high = first - UNIX_EPOCH_JD, last - UNIX_EPOCH_JD
    locator = mdates.AutoDateLocator(minticks=4, maxticks=10)
    ticks = locator.tick_values(mdates.num2date(low), mdates.num2date(high))
    unit = 1440.0 if finer else 1.0  # whole minutes or whole days

    def whole(t: float) -> bool:
        return abs(t * unit - round(t * unit)) < 1e-6
    return sorted({float(t) + UNIX_EPOCH_JD for t in ticks if low <= t <= high and whole(float(t))})


def figure(table: Table, title: str, datos: Optional[Datos] = None, magnitudes: Optional[Sequence[float]] = None,
           magnitude_label: str = "", model: Optional[ModelErrors] = None) -> Any:
    """The figure of a table (a matplotlib Figure with an Agg canvas, laid out and labelled): the sky
    track, the distances, the magnitudes when given (one a row, NAN where there is none;
    `magnitude_label` says whose), the model errors when known (plot_accuracy), the angles against the
    date, and the list of events, told with the DATOS.DAT that made the table (datos) where it is known."""
    import matplotlib.dates as mdates
    import numpy
    from matplotlib.backends.backend_agg import FigureCanvasAgg
    from matplotlib.figure import Figure

    times = drawn(table, "jd_tdb")
    events = find_events(table, datos)
    lines = [event_line(e, scale=False) for e in events] or ["no events in these rows"]
    if len(lines) > 24:
        lines = lines[:23] + [f"... and {len(lines) - 23} more (ephem-table info lists them all)"]
    per_column = (len(lines) + 1) // 2 if len(lines) > 6 else len(lines)
    heights = ([5.0, 2.2] + ([2.0] if magnitudes is not None else []) + ([2.0] if model is not None else []) +
               [2.6, 0.5 + 0.17 * per_column])
    fig = Figure(figsize=(10, sum(heights) + 2.2), dpi=DPI)
    FigureCanvasAgg(fig)
    grid = fig.add_gridspec(len(heights), 1, height_ratios=heights)
    fig.suptitle(title)

    dates = uses_dates(times)
    shift = UNIX_EPOCH_JD if dates else 0.0
    x = times - shift

    def x_of(t: float) -> float:
        return t - shift

    ra, dec = drawn(table, "ra_hours"), drawn(table, "dec_deg")
    placed = numpy.isfinite(ra) & numpy.isfinite(dec)
    ra, dec = numpy.where(placed, ra, numpy.nan), numpy.where(placed, dec, numpy.nan)
    hours = unwrapped_hours(ra)
    chart = choose_chart(hours, dec)
    coarse = coarse_rows(ra, dec, chart_size(chart, hours, dec))
    gaps = numpy.flatnonzero(coarse[:-1] | coarse[1:]) + 1

    def curve(axis: Any, values: Array, seen: bool = True, **style: Any) -> None:
        """A curve against the date. One `seen` from the observer is drawn as points where the rows are
        too coarse for the motion on the sky, unless it is decimated."""
        if len(values) > 2 * CURVE_SLICES or not len(gaps) or not seen:
            axis.plot(*decimated(x, values), **style)
            return
        axis.plot(numpy.insert(x, gaps, numpy.nan), numpy.insert(values, gaps, numpy.nan), **style)
        axis.plot(x[coarse], values[coarse], "o", markersize=3, color=style.get("color"))

    far = fig.add_subplot(grid[1])
    r, delta = drawn(table, "sun_distance_au"), drawn(table, "observer_distance_au")
    curve(far, r, seen=False, color="tab:red", label="r, from the Sun")
    curve(far, delta, color="tab:blue", label="Δ, from the observer")
    far.set_ylabel("distance (AU)")
    distances = numpy.concatenate([r, delta])
    distances = distances[distances > 0.0]
    # Distances of several orders (a fly-by at a thousandth of the distance from the Sun) on a linear
    # scale leave the smaller a flat line at 0.
    if len(distances) and distances.max() > WIDE_DISTANCES * distances.min():
        far.set_yscale("log", nonpositive="mask")
        far.set_title("distances (logarithmic scale)", fontsize=10)
    else:
        far.set_title("distances", fontsize=10)
    far.grid(True, alpha=0.3)
    far.legend(loc="best", fontsize=7)
    finite_x = x[numpy.isfinite(x)]
    near_events = [e for e in events if e.kind.startswith(DISTANCE_EVENTS)]
    angle_events = [e for e in events if not e.kind.startswith(DISTANCE_EVENTS)]
    event_lines(far, near_events, x_of)

    time_axes = [far]
    if magnitudes is not None:
        brightness = fig.add_subplot(grid[2], sharex=far)
        values = numpy.asarray(magnitudes, dtype=float)
        if values.shape != times.shape:
            raise ValueError("one magnitude a row")
        values = numpy.where(numpy.abs(values) < 100.0, values, numpy.nan)
        if numpy.isfinite(values).any():
            curve(brightness, values, color="tab:olive")
        else:
            brightness.text(0.5, 0.5, "no magnitude for these rows", ha="center", va="center",
                            transform=brightness.transAxes, fontsize=8)
        brightness.invert_yaxis()
        brightness.set_ylabel("magnitude (V)")
        brightness.set_title("visual magnitude, brighter up" + (f" ({magnitude_label})" if magnitude_label else ""),
                             fontsize=10)
        brightness.grid(True, alpha=0.3)
        time_axes.append(brightness)

    if model is not None:
        error_axis = fig.add_subplot(grid[len(heights) - 3], sharex=far)
        draw_model_error(error_axis, x, model, decimated)
        time_axes.append(error_axis)

    light = fig.add_subplot(grid[len(heights) - 2], sharex=far)
    curve(light, drawn(table, "elongation_deg"), color="tab:orange", label="elongation")
    curve(light, drawn(table, "phase_angle_deg"), color="tab:purple", label="phase angle")
    # Both axes 5 % above their top value, so that a full disc is not drawn on the frame, and the
    # ticks of both scales meet the same grid lines.
    light.set_ylim(0, 189)
    light.set_yticks(range(0, 181, 45))
    light.set_ylabel("degrees")
    light.grid(True, alpha=0.3)
    fraction_axis = light.twinx()
    curve(fraction_axis, drawn(table, "illuminated_fraction"), color="tab:gray", linestyle="--",
          label="illuminated fraction")
    fraction_axis.set_ylim(0, 1.05)
    fraction_axis.set_yticks([0, 0.25, 0.5, 0.75, 1])
    fraction_axis.set_ylabel("illuminated fraction")
    handles = light.get_legend_handles_labels()
    more = fraction_axis.get_legend_handles_labels()
    light.legend(handles[0] + more[0], handles[1] + more[1], loc="upper center",
                 bbox_to_anchor=(0.5, -0.2), ncol=3, fontsize=7)
    light.set_title("elongation, phase angle and illuminated fraction", fontsize=10)
    event_lines(light, angle_events, x_of)
    time_axes.append(light)

    if dates:
        # Ticks on calendar boundaries (first of the month, of the year, ...), whatever the first row.
        locator = mdates.AutoDateLocator(minticks=4, maxticks=10)
        for axis in time_axes:
            axis.xaxis.set_major_locator(locator)
            axis.xaxis.set_major_formatter(mdates.ConciseDateFormatter(locator))
        light.set_xlabel("date (TDB)")
    else:
        light.set_xlabel("Julian date (TDB)")
    if len(finite_x) and finite_x.max() > finite_x.min():
        far.set_xlim(float(finite_x.min()), float(finite_x.max()))
    finite_t = times[numpy.isfinite(times)]
    label_times = label_days(float(finite_t.min()), float(finite_t.max()), rows_a_day(times) > 1) if dates else []
    sky = draw_sky(fig, grid[0], chart, times, hours, dec, coarse, label_times, events)

    listing = fig.add_subplot(grid[len(heights) - 1])
    listing.axis("off")
    for column, start in enumerate(range(0, len(lines), per_column)):
        listing.text(0.52 * column, 1.0, "\n".join(lines[start:start + per_column]), va="top", ha="left",
                     fontsize=7.5, family="monospace", transform=listing.transAxes)
    listing.set_title("events, dates TDB (◆ on the track)", fontsize=10, loc="left")

    # Labels are placed by the pixels they take: after the layout, which they leave as it is.
    fig.tight_layout()
    renderer = fig.canvas.get_renderer()
    pin_legend(sky.axis, renderer, fontsize=7)
    pin_legend(far, renderer, fontsize=7)
    label_sky(sky, renderer)
    label_events([far], near_events, x_of, renderer)
    label_events([light, fraction_axis], angle_events, x_of, renderer)
    return fig


def image_format(output: str) -> str:
    """The format the output's suffix names (png for standard output or no suffix), if matplotlib
    writes it."""
    from matplotlib.figure import Figure
    suffix = os.path.splitext(output)[1][1:].lower() if output != "-" else ""
    fmt = suffix or "png"
    if fmt not in Figure().canvas.get_supported_filetypes():
        raise DataError(f"cannot write {output}: matplotlib writes no {fmt!r} images (use .png, .svg or .pdf)")
    return fmt


def plot_table(table: Table, output: str, title: str, datos: Optional[Datos] = None,
               magnitudes: Optional[Sequence[float]] = None, magnitude_label: str = "",
               model: Optional[ModelErrors] = None) -> None:
    """Draws the figure of the table (`figure`) and writes it to `output` (files.write_output; its format
    follows the suffix)."""
    fmt = image_format(output)
    fig = figure(table, title, datos, magnitudes, magnitude_label, model)
    image = io.BytesIO()
    fig.savefig(image, format=fmt, dpi=DPI)
    write_output(output, image.getvalue())


def plot_title(name: str, table: Table) -> str:
    """The name, the rows and their span; for rows finer than a day, their times and step as well."""
    first, last = table[0].jd_tdb, table[-1].jd_tdb
    day = rows_a_day(table.column("jd_tdb"))
    if day == 1:
        return (f"{name}: {len(table)} rows, {calendar_day(first) or f'JD {first}'} to "
                f"{calendar_day(last) or f'JD {last}'} (TDB)")
    minutes = round((last - first) / (len(table) - 1) * 1440.0)
    every = f"{minutes // 60} h" if minutes % 60 == 0 else f"{minutes} min"
    return (f"{name}: {len(table)} rows, one every {every}, {calendar_date(first)[:16] or f'JD {first}'} to "
            f"{calendar_date(last)[:16] or f'JD {last}'} (TDB)")
