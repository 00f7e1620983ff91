"""The picture of a table: the track on the sky, the distances, and elongation, phase angle and
illuminated fraction against the date, with the events marked and listed."""

import math

from .events import find_events, event_line, unwrapped_ra
from .table import calendar_day, FIRST_GREGORIAN_DAY

# matplotlib counts days from 1970-01-01 0h; its dates end in the year 9999.
UNIX_EPOCH_JD = 2440587.5
LAST_DATE_JD = 5373484.5

# A track reaching beyond this declination is drawn around the pole, where a flat chart of right
# ascension against declination stretches it apart.
POLAR_DECLINATION = 60.0

# Short marks for the events on the time axes.
EVENT_MARKS = {"opposition": "opp", "conjunction": "conj", "inferior conjunction": "inf conj",
               "greatest elongation": "gr elong", "least elongation": "least elong",
               "closest approach": "closest", "stationary, retrograde begins": "stat",
               "stationary, direct again": "stat"}


def uses_dates(times):
    finite = [t for t in times if math.isfinite(t)]
    return bool(finite) and min(finite) >= FIRST_GREGORIAN_DAY - 0.5 and max(finite) < LAST_DATE_JD


def interpolate(times, values, when):
    """The value at `when`, linear between the rows around it; NaN outside the rows or next to a NaN."""
    for i in range(len(times) - 1):
        t0, t1 = times[i], times[i + 1]
        if t0 <= when <= t1 and t1 > t0:
            f = (when - t0) / (t1 - t0)
            return values[i] + f * (values[i + 1] - values[i])
    return math.nan


def sky_position(ra_hours, dec, pole):
    """(x, y) of a place on the chart: hours and degrees on the flat chart, or, around a pole, the
    angle of right ascension (radians) and the distance from the pole (degrees)."""
    if pole == 0:
        return ra_hours, dec
    return math.radians(15.0 * ra_hours), 90.0 - pole * dec


def hours_text(hours):
    """A tick of right ascension: "12h", or "12h40m" between whole hours."""
    minutes = round((hours % 24.0) * 60.0) % 1440
    return f"{minutes // 60}h" if minutes % 60 == 0 else f"{minutes // 60}h{minutes % 60:02d}m"


def draw_sky(fig, slot, times, ra, dec, label_times, events):
    finite_dec = [abs(d) for d in dec if math.isfinite(d)]
    pole = 0
    if finite_dec and max(finite_dec) > POLAR_DECLINATION:
        north = sum(d for d in dec if math.isfinite(d)) >= 0.0
        pole = 1 if north else -1
    track = unwrapped_ra(ra) if pole == 0 else list(ra)
    if pole == 0:
        sky = fig.add_subplot(slot)
    else:
        sky = fig.add_subplot(slot, projection="polar")
        # As on a chart of the sky seen from inside: right ascension counterclockwise around the north
        # pole, clockwise around the south one.
        sky.set_theta_direction(1 if pole > 0 else -1)
        sky.set_theta_zero_location("S" if pole > 0 else "N")
    points = [sky_position(h, d, pole) for h, d in zip(track, dec)]
    xs, ys = [p[0] for p in points], [p[1] for p in points]
    sky.plot(xs, ys, "-", color="tab:blue", linewidth=1.2)
    first = next(i for i in range(len(xs)) if math.isfinite(xs[i]) and math.isfinite(ys[i]))
    last = max(i for i in range(len(xs)) if math.isfinite(xs[i]) and math.isfinite(ys[i]))
    sky.plot(xs[first], ys[first], "o", color="tab:green", label="first row")
    sky.plot(xs[last], ys[last], "s", color="tab:red", label="last row")
    for when in label_times:
        x, y = interpolate(times, xs, when), interpolate(times, ys, when)
        if math.isfinite(x) and math.isfinite(y):
            sky.plot(x, y, ".", color="black")
            sky.annotate(calendar_day(when), (x, y), textcoords="offset points", xytext=(4, 5),
                         fontsize=7)
    for event in events:
        x, y = interpolate(times, xs, event.time), interpolate(times, ys, event.time)
        if math.isfinite(x) and math.isfinite(y):
            sky.plot(x, y, "D", color="tab:orange", markersize=4)
    if pole == 0:
        from matplotlib.ticker import FuncFormatter, MultipleLocator
        sky.invert_xaxis()  # right ascension grows to the east, the left, on the sky seen from inside
        finite_ra = [h for h in track if math.isfinite(h)]
        span = max(finite_ra) - min(finite_ra) if finite_ra else 0.0
        if span >= 4.0:
            sky.xaxis.set_major_locator(MultipleLocator(2.0 if span <= 12.0 else 3.0 if span <= 24.0 else 6.0))
        sky.xaxis.set_major_formatter(FuncFormatter(lambda x, _: hours_text(x)))
        sky.set_xlabel("right ascension (hours, increasing to the left)")
        sky.set_ylabel("declination (degrees)")
    else:
        reach = max(y for y in ys if math.isfinite(y))
        sky.set_rlim(0, min(180.0, max(10.0, math.ceil(reach / 10.0) * 10.0)))
        sky.set_xticks([math.radians(15.0 * h) for h in range(0, 24, 3)])
        sky.set_xticklabels([f"{h}h" for h in range(0, 24, 3)])
        # The declination labels on the side of the pole away from the track.
        mean_ra = math.atan2(sum(math.sin(x) for x in xs if math.isfinite(x)),
                             sum(math.cos(x) for x in xs if math.isfinite(x)))
        sky.set_rlabel_position(pole * math.degrees(mean_ra) + 180.0 + (0.0 if pole > 0 else 180.0))
        rings = list(range(10, int(sky.get_ylim()[1]) + 1, 10))
        sky.set_yticks(rings)
        sky.set_yticklabels([f"{pole * (90 - r):+d}°" for r in rings], fontsize=7)
    sky.set_title("track on the sky (J2000, geometric)" +
                  ("" if pole == 0 else f", around the {'north' if pole > 0 else 'south'} pole"), fontsize=10)
    sky.grid(True, alpha=0.3)
    sky.legend(loc="best", fontsize=7)


def mark_events(axis, events, x_of, kinds, span):
    """A dotted line at each event of these kinds, labelled at the top; a label close after another
    goes one step lower so that the two stay readable."""
    previous, depth = None, 0
    for event in events:
        if event.kind in kinds:
            x = x_of(event.time)
            depth = depth + 1 if previous is not None and x - previous < 0.06 * span else 0
            previous = x
            axis.axvline(x, color="tab:orange", linestyle=":", linewidth=1)
            axis.annotate(EVENT_MARKS.get(event.kind, event.kind), (x, 1.0), xycoords=("data", "axes fraction"),
                          xytext=(2, -10 - 9 * (depth % 3)), textcoords="offset points", fontsize=7,
                          color="tab:orange")


def plot_table(rows, output, title):
    """Draws the sky track, the distances and the illumination against the date, marks the events and
    lists them, and writes the figure to the file `output` (its format follows the file's suffix)."""
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    import matplotlib.dates as mdates

    columns = list(zip(*rows))
    times, ra, dec = columns[0], columns[1], columns[2]
    sun_distance, distance = columns[3], columns[4]
    elong, phase, fraction = columns[5], columns[6], columns[7]
    events = find_events(rows)

    lines = [event_line(e, scale=False) for e in events] or ["no events in these rows"]
    if len(lines) > 24:
        lines = lines[:23] + [f"... and {len(lines) - 23} more (ephem-table info lists them all)"]
    per_column = (len(lines) + 1) // 2 if len(lines) > 6 else len(lines)
    fig = plt.figure(figsize=(10, 12.5 + 0.17 * per_column))
    grid = fig.add_gridspec(4, 1, height_ratios=[5, 2.2, 2.6, 0.5 + 0.17 * per_column])
    fig.suptitle(title)

    dates = uses_dates(times)
    if dates:
        x = [t - UNIX_EPOCH_JD for t in times]

        def x_of(t):
            return t - UNIX_EPOCH_JD
    else:
        x = list(times)

        def x_of(t):
            return t

    far = fig.add_subplot(grid[1])
    far.plot(x, sun_distance, color="tab:red", label="r, from the Sun")
    far.plot(x, distance, color="tab:blue", label="Δ, from the observer")
    far.set_ylabel("distance (AU)")
    far.set_title("distances", fontsize=10)
    far.grid(True, alpha=0.3)
    far.legend(loc="best", fontsize=7)
    finite_x = [v for v in x if math.isfinite(v)]
    span = (max(finite_x) - min(finite_x)) if finite_x else 0.0
    mark_events(far, events, x_of, {"closest approach"}, span)

    light = fig.add_subplot(grid[2], sharex=far)
    light.plot(x, elong, color="tab:orange", label="elongation")
    light.plot(x, phase, color="tab:purple", label="phase angle")
    # Both axes 5 % above their top value, so that a full disc is not drawn on the frame, and the
    # ticks of both scales meet the same grid lines.
    light.set_ylim(0, 189)
    light.set_yticks(range(0, 181, 45))
    light.set_ylabel("degrees")
    light.grid(True, alpha=0.3)
    fraction_axis = light.twinx()
    fraction_axis.plot(x, fraction, color="tab:gray", linestyle="--", label="illuminated fraction")
    fraction_axis.set_ylim(0, 1.05)
    fraction_axis.set_yticks([0, 0.25, 0.5, 0.75, 1])
    fraction_axis.set_ylabel("illuminated fraction")
    handles = light.get_legend_handles_labels()
    more = fraction_axis.get_legend_handles_labels()
    light.legend(handles[0] + more[0], handles[1] + more[1], loc="upper center",
                 bbox_to_anchor=(0.5, -0.2), ncol=3, fontsize=7)
    light.set_title("elongation, phase angle and illuminated fraction", fontsize=10)
    mark_events(light, events, x_of, set(EVENT_MARKS) - {"closest approach"}, span)

    if dates:
        # Ticks on calendar boundaries (first of the month, of the year, ...), whatever the first row.
        locator = mdates.AutoDateLocator(minticks=4, maxticks=10)
        for axis in (far, light):
            axis.xaxis.set_major_locator(locator)
            axis.xaxis.set_major_formatter(mdates.ConciseDateFormatter(locator))
        light.set_xlabel("date (TDB)")
        finite = [v for v in x if math.isfinite(v)]
        if max(finite) > min(finite):
            far.set_xlim(min(finite), max(finite))
        label_times = [t + UNIX_EPOCH_JD for t in locator.tick_values(mdates.num2date(min(finite)),
                                                                      mdates.num2date(max(finite)))]
    else:
        light.set_xlabel("Julian date (TDB)")
        label_times = []
    draw_sky(fig, grid[0], times, ra, dec, label_times, events)

    listing = fig.add_subplot(grid[3])
    listing.axis("off")
    for column, start in enumerate(range(0, len(lines), per_column)):
        listing.text(0.52 * column, 1.0, "\n".join(lines[start:start + per_column]), va="top", ha="left",
                     fontsize=7.5, family="monospace", transform=listing.transAxes)
    listing.set_title("events, dates TDB (◆ on the track)", fontsize=10, loc="left")

    fig.tight_layout()
    fig.savefig(output, dpi=100)
    plt.close(fig)


def plot_title(name, rows):
    first = calendar_day(rows[0][0]) or f"JD {rows[0][0]}"
    last = calendar_day(rows[-1][0]) or f"JD {rows[-1][0]}"
    return f"{name}: {len(rows)} rows, {first} to {last} (TDB)"
