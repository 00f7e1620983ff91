"""The track on the sky: the chart that draws it with the least distortion, its grid and ticks, the
rows too far apart for the motion, the events' places on it and the labels along it.

The chart is right ascension against declination, at equal scale (a degree of arc is as long in both
directions at the chart's centre), for a track within 60 degrees of the equator; a chart around the
pole for one that goes beyond 60 degrees and stays in that hemisphere; a map of the whole sky
(Mollweide's projection) for one that goes beyond 60 degrees and into the other hemisphere. Right
ascension increases to the left, as on the sky seen from inside, and runs on across 0h; a track that
goes round more than once, and every track on the whole-sky map, is drawn on 24 hours cut where the
track crosses least often.

Where the rows are too far apart for the motion (a close fly-by moves tens of degrees in a day), a line
between them would be a path the body never took: those rows are drawn as points, with a note.
"""

import math
from typing import Any, List, NamedTuple, Optional, Sequence, Tuple

from .dates import calendar_date
from .events import Event
from .labels import Room, around, place_label, spread
from .nights import places_between
from .panels import event_mark, runs_of
from .topocentre import directions

Array = Any  # a numpy array of doubles

# A track reaching beyond this declination is drawn around the pole, or on the whole sky, where a flat
# chart of right ascension against declination stretches it apart.
POLAR_DECLINATION = 60.0

# The points of the track drawn at most: far more than the pixels of the figure.
TRACK_POINTS = 20000

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

# Labels of time along the track, at equal distances travelled on the chart.
TRACK_LABELS = 12
# Beyond this many events the track marks none (they would hide it); the list below the plot has them.
MARKED_EVENTS = 200


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
    p = directions(ra_hours, dec)
    coarse = numpy.zeros(len(p), dtype=bool)
    if len(p) < 3:
        return coarse
    step = numpy.linalg.norm(numpy.diff(p, axis=0), axis=1)
    bend = numpy.linalg.norm(p[2:] - 2.0 * p[1:-1] + p[:-2], axis=1)
    with numpy.errstate(invalid="ignore"):
        coarse[1:-1] = ((bend > COARSE_BEND * numpy.maximum(step[:-1], step[1:])) &
                        (bend > COARSE_SHARE * math.radians(size)))
    return coarse



def row_text(jd: float) -> str:
    """A row's date, with the time when it is not 0h."""
    text = calendar_date(jd)
    return text[:10] if text.endswith("00:00:00") else text[:16]



class SkyLabels(NamedTuple):
    """What the sky panel labels once the figure is laid out, in the order tried: (text, x, y, whether a
    dot is to mark the place; the other places have a marker, colour)."""
    axis: Any
    wanted: List[Tuple[str, float, float, bool, str]]


def coarse_note(times: Array, coarse: Array) -> str:
    """What the sky panel says of the rows drawn as points."""
    stretches = runs_of(coarse)
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


def event_places(times: Array, hours: Array, dec: Array, distance: Array,
                 events: Sequence[Event]) -> List[Tuple[Event, float, float]]:
    """Each event with the body's place at its time (continuous hours, degrees): the polynomial through
    the six rows around it, of the vector from the observer, as the events are timed."""
    import numpy
    if not events or len(times) < 2:
        return []
    vectors = directions(hours, dec)
    # Distances give the polynomial its shape near a close approach, where the direction turns fast.
    scaled = vectors * numpy.where(distance > 0.0, distance, numpy.nan)[:, None]
    at = numpy.array([e.jd_tdb for e in events])
    found = places_between(times, scaled, at)
    ra = numpy.degrees(numpy.arctan2(found[:, 1], found[:, 0])) / 15.0
    de = numpy.degrees(numpy.arctan2(found[:, 2], numpy.hypot(found[:, 0], found[:, 1])))
    placed = []
    for k, event in enumerate(events):
        near = hours[min(max(event.row, 0), len(hours) - 1)]
        if math.isfinite(ra[k]) and math.isfinite(de[k]) and math.isfinite(near):
            placed.append((event, float(ra[k] - 24.0 * round((ra[k] - near) / 24.0)), float(de[k])))
    return placed


def travelled(hours: Array, dec: Array) -> Array:
    """The distance travelled on the sky from the first row to each (radians, the chords between rows; a
    row without a place adds nothing)."""
    import numpy
    p = directions(hours, dec)
    steps = numpy.nan_to_num(numpy.linalg.norm(numpy.diff(p, axis=0), axis=1))
    return numpy.concatenate([[0.0], numpy.cumsum(steps)])


def label_rows(hours: Array, dec: Array, count: int = TRACK_LABELS) -> List[int]:
    """The rows to label along the track: `count` at equal distances travelled on the sky, the first and
    last left to their own markers, so that a fly-by's fast hours get labels and its slow days few."""
    import numpy
    along = travelled(hours, dec)
    if not along[-1] > 0.0:
        return []
    targets = numpy.linspace(0.0, along[-1], count + 2)[1:-1]
    rows = numpy.clip(numpy.searchsorted(along, targets), 1, len(along) - 2)
    return sorted(set(rows.tolist()))


def time_texts(times: Sequence[float], finer: bool) -> List[str]:
    """The labels of rows at these times: dates; for rows finer than a day hh:mm, with the month and day
    where the day is another than the previous label's."""
    texts, day = [], ""
    for t in times:
        full = calendar_date(t)
        if not finer:
            texts.append(row_text(t))
            continue
        texts.append(full[11:16] if full[:10] == day else full[5:16])
        day = full[:10]
    return texts


def draw_sky(fig: Any, slot: Any, chart: SkyChart, times: Array, hours: Array, dec: Array, distance: Array,
             coarse: Array, events: List[Event], finer: bool) -> SkyLabels:
    """The track, its first and last rows, the events at their places and the rows drawn as points; the
    labels it asks for: the events' marks first, then the first and last rows, the rows drawn as points
    and the times along the track."""
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
    wanted: List[Tuple[str, float, float, bool, str]] = []
    marked = event_places(times, hours, dec, distance, events) if len(events) <= MARKED_EVENTS else []
    if marked:
        x, y = chart.points(numpy.array([m[1] for m in marked]), numpy.array([m[2] for m in marked]))
        sky.plot(x, y, "D", color="tab:orange", markersize=5, linestyle="none", label="event", zorder=4)
        for (event, _, _), px, py in spread(list(zip(marked, x.tolist(), y.tolist()))):
            wanted.append((event_mark(event.kind), px, py, False, "tab:orange"))
    texts = [w[0] for w in wanted]
    for i in [first, last] + spread(lone[::max(1, -(-len(lone) // TRACK_LABELS))].tolist()):
        x, y = chart.points(hours[i], dec[i])
        text = row_text(times[i]) if math.isfinite(times[i]) else ""
        if text and text not in texts:
            wanted.append((text, float(x), float(y), False, "black"))
            texts.append(text)
    chosen = [i for i in label_rows(numpy.where(placed, hours, numpy.nan), dec) if placed[i] and
              math.isfinite(times[i])]
    for i, text in spread(list(zip(chosen, time_texts([times[i] for i in chosen], finer)))):
        if text not in texts:
            x, y = chart.points(hours[i], dec[i])
            wanted.append((text, float(x), float(y), True, "black"))
            texts.append(text)
    title = "track on the sky (J2000, geometric)"
    if chart.kind in ("north", "south"):
        title += f", around the {chart.kind} pole"
    elif chart.kind == "sky":
        title += ", the whole sky"
    else:
        title += ", equal scale"
    note = coarse_note(times, coarse)
    sky.set_title(title + (f"\n{note}" if note else ""), fontsize=10)
    sky_grid(sky, chart, hours, dec)
    sky.grid(True, alpha=0.3)
    sky.legend(loc="best", fontsize=7)
    return SkyLabels(sky, wanted)


def equal_scale(sky: Any, chart: SkyChart) -> None:
    """A flat chart's limits widened, in right ascension or declination, until a degree of arc is as long
    in both directions at the chart's centre, for the panel's size as laid out; its ticks of right
    ascension for the new limits."""
    if chart.kind != "flat":
        return
    (x_left, x_right), (y_low, y_high) = sky.get_xlim(), sky.get_ylim()
    width_px, height_px = float(sky.bbox.width), float(sky.bbox.height)
    middle = (y_low + y_high) / 2.0
    shrink = 15.0 * math.cos(math.radians(middle))
    width_deg, height_deg = abs(x_left - x_right) * shrink, y_high - y_low
    if not (width_px > 0 and height_px > 0 and width_deg > 0 and height_deg > 0):
        return
    if width_deg / width_px > height_deg / height_px or chart.seam is not None:
        half = width_deg / width_px * height_px / 2.0
        sky.set_ylim(middle - half, middle + half)
    else:
        half = height_deg / height_px * width_px / shrink / 2.0
        centre = (x_left + x_right) / 2.0
        low, high = centre - half, centre + half
        sky.set_xlim(high, low)
        sky.set_xticks(*ra_ticks(low, high))


def label_sky(labels: SkyLabels, renderer: Any) -> None:
    """Writes the labels along the track where they find room (labels.py); a dot marks each time
    written."""
    import numpy
    sky = labels.axis
    room = Room.of([sky], renderer)
    dots: List[Tuple[float, float]] = []
    for text, x, y, dotted, colour in labels.wanted:
        px, py = sky.transData.transform((x, y))
        dot = (px - 3.0, py - 3.0, px + 3.0, py + 3.0)
        if not (math.isfinite(px) and math.isfinite(py)) or (dotted and not room.free(dot, lines=False)):
            continue
        done = place_label(sky, room, renderer, text, around(px, py, 5.0 if dotted else 8.0), color=colour)
        if done and dotted:
            room.boxes.append(dot)
            dots.append((x, y))
    if dots:
        sky.plot(*numpy.transpose(dots), ".", color="black")
