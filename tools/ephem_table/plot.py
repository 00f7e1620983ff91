"""The picture of a table: the track on the sky (skychart.py), and against the date the distances, the
altitude from a site over a span of a few days, the magnitude when it is given, the model error when it
is known (plot_accuracy.py), and elongation, phase angle and illuminated fraction (panels.py), with the
events marked and listed.

The figure is laid out first; labels (labels.py) are placed after, by the pixels their text takes.
The title is kept clear of the panels below it at any height of the figure.
"""

import io
import os
from typing import Any, Optional, Sequence

from .accuracy import ModelErrors
from .datos import Datos
from .dates import FIRST_GREGORIAN_DAY, calendar_date, calendar_day
from .errors import DataError
from .events import event_line, find_events, rows_a_day
from .files import write_output
from .labels import DPI, pin_legend
from .observing import SiteOptions
from .plot_accuracy import draw_model_error
from .panels import (DISTANCE_EVENTS, LAST_DATE_JD, UNIX_EPOCH_JD, Altitudes, Rows, altitude_panel, angle_panel,
                     decimated, distance_panel, drawn, magnitude_panel, mark_events)
from .row import Table
from .skychart import (chart_size, choose_chart, chart_kind, coarse_rows, draw_sky, equal_scale, label_sky, ra_ticks,
                       seam_hour, unwrapped_hours)

# What the tests and other modules reach through this one.
__all__ = ["DPI", "chart_kind", "choose_chart", "coarse_rows", "decimated", "figure", "plot_table", "plot_title",
           "ra_ticks", "seam_hour", "unwrapped_hours"]

# The altitude panel is drawn for a table of at most this many days: beyond, its nights are a blur.
ALTITUDE_DAYS = 4.0
# Its curve is sampled this often (days), or at the rows when they are closer.
ALTITUDE_SAMPLE = 2.0 / 1440.0
# Pixels kept between the title and the panels.
TITLE_GAP = 6.0


def uses_dates(times: Any) -> bool:
    import numpy
    finite = times[numpy.isfinite(times)]
    return bool(len(finite)) and finite.min() >= FIRST_GREGORIAN_DAY - 0.5 and finite.max() < LAST_DATE_JD


def is_comet(datos: Optional[Datos]) -> bool:
    """Whether the DATOS.DAT says the target is a comet: by its magnitude parameters, or its source."""
    if datos is None:
        return False
    photometry = datos.photometry()
    return (photometry is not None and photometry.kind == "comet") or "| MPC comet line" in datos.notes[0]


def altitudes(table: Table, datos: Optional[Datos], options: SiteOptions) -> Optional[Altitudes]:
    """The site's view sampled for the altitude panel, for a table of at most ALTITUDE_DAYS; else None."""
    import numpy
    from .nights import Sky
    times = numpy.asarray(table.column("jd_tdb"), dtype=float)
    finite = times[numpy.isfinite(times)]
    if len(finite) < 2 or not finite[-1] - finite[0] <= ALTITUDE_DAYS:
        return None
    step = min(ALTITUDE_SAMPLE, float(numpy.median(numpy.diff(finite))))
    at = numpy.append(numpy.arange(finite[0], finite[-1], step), finite[-1])
    altitude, sun, _ = Sky(options.site, table, datos, options.refraction).state(at)
    return Altitudes(at, altitude, sun, options.min_altitude, options.site.name or options.site.text())


def clear_title(fig: Any, renderer: Any) -> None:
    """The layout redone below the title when the title reaches the panels' top (their titles, ticks
    and labels): in a tall figure the layout's margin is a smaller share than the title needs."""
    title = fig._suptitle
    if title is None:
        return
    bottom = title.get_window_extent(renderer).y0
    top = max(axis.get_tightbbox(renderer).y1 for axis in fig.axes if axis.get_visible())
    if top + TITLE_GAP > bottom:
        fig.tight_layout(rect=(0.0, 0.0, 1.0, (bottom - TITLE_GAP) / float(fig.bbox.height)))


def figure(table: Table, title: str, datos: Optional[Datos] = None, magnitudes: Optional[Sequence[float]] = None,
           magnitude_label: str = "", magnitude_gaps: Sequence[str] = (), site: Optional[SiteOptions] = None,
           model: Optional[ModelErrors] = None) -> Any:
    """The figure of a table (a matplotlib Figure with an Agg canvas, laid out and labelled): the sky
    track, the distances, the altitude from the site when given and the table spans a few days, the
    magnitudes when given (one a row, NAN where there is none; `magnitude_label` says whose,
    `magnitude_gaps` why some rows have none), the model errors when known (plot_accuracy), the angles
    against the date, and the list of events, told with the DATOS.DAT that made the table (datos) where
    it is known."""
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
    seen = altitudes(table, datos, site) if site is not None else None
    heights = ([5.0, 2.2] + ([2.2] if seen is not None else []) + ([2.0] if magnitudes is not None else []) +
               ([2.0] if model is not None else []) + [2.6, 0.5 + 0.17 * per_column])
    fig = Figure(figsize=(10, sum(heights) + 2.2), dpi=DPI)
    FigureCanvasAgg(fig)
    grid = fig.add_gridspec(len(heights), 1, height_ratios=heights)
    fig.suptitle(title)

    dates = uses_dates(times)
    ra, dec = drawn(table, "ra_hours"), drawn(table, "dec_deg")
    placed = numpy.isfinite(ra) & numpy.isfinite(dec)
    ra, dec = numpy.where(placed, ra, numpy.nan), numpy.where(placed, dec, numpy.nan)
    hours = unwrapped_hours(ra)
    chart = choose_chart(hours, dec)
    coarse = coarse_rows(ra, dec, chart_size(chart, hours, dec))
    rows = Rows(table, times, UNIX_EPOCH_JD if dates else 0.0, coarse, numpy.flatnonzero(coarse[:-1] | coarse[1:]) + 1)

    far = fig.add_subplot(grid[1])
    distance_panel(far, rows)
    time_axes = [far]
    slot = 2
    if seen is not None:
        high = fig.add_subplot(grid[slot], sharex=far)
        altitude_panel(high, rows, seen)
        time_axes.append(high)
        slot += 1
    if magnitudes is not None:
        brightness = fig.add_subplot(grid[slot], sharex=far)
        magnitude_panel(brightness, rows, magnitudes, magnitude_label, magnitude_gaps)
        time_axes.append(brightness)
        slot += 1
    if model is not None:
        error_axis = fig.add_subplot(grid[slot], sharex=far)
        draw_model_error(error_axis, rows.x, model, decimated)
        time_axes.append(error_axis)
    light = fig.add_subplot(grid[len(heights) - 2], sharex=far)
    light_axes = angle_panel(light, rows, fraction=not is_comet(datos))
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
    finite_x = rows.x[numpy.isfinite(rows.x)]
    if len(finite_x) and finite_x.max() > finite_x.min():
        far.set_xlim(float(finite_x.min()), float(finite_x.max()))
    distance = drawn(table, "observer_distance_au")
    sky = draw_sky(fig, grid[0], chart, times, hours, dec, distance, coarse, events, rows_a_day(times) > 1)

    listing = fig.add_subplot(grid[len(heights) - 1])
    listing.axis("off")
    for column, start in enumerate(range(0, len(lines), per_column)):
        listing.text(0.52 * column, 1.0, "\n".join(lines[start:start + per_column]), va="top", ha="left",
                     fontsize=7.5, family="monospace", transform=listing.transAxes)
    listing.set_title("events, dates TDB (◆ on the track)", fontsize=10, loc="left")

    # Labels are placed by the pixels they take: after the layout, which they leave as it is.
    fig.tight_layout()
    renderer = fig.canvas.get_renderer()
    clear_title(fig, renderer)
    equal_scale(sky.axis, chart)
    pin_legend(sky.axis, renderer, fontsize=7)
    pin_legend(far, renderer, fontsize=7)
    label_sky(sky, renderer)
    near_events = [e for e in events if e.kind.startswith(DISTANCE_EVENTS)]
    angle_events = [e for e in events if not e.kind.startswith(DISTANCE_EVENTS)]
    mark_events([far], near_events, rows.x_of, renderer)
    mark_events(light_axes, angle_events, rows.x_of, renderer)
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
               magnitude_gaps: Sequence[str] = (), site: Optional[SiteOptions] = None,
               model: Optional[ModelErrors] = None) -> None:
    """Draws the figure of the table (`figure`) and writes it to `output` (files.write_output; its format
    follows the suffix)."""
    fmt = image_format(output)
    fig = figure(table, title, datos, magnitudes, magnitude_label, magnitude_gaps, site, model)
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
