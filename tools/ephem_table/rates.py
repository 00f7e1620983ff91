"""Rates of motion on the sky, from the table's own rows: arcseconds a minute in right ascension times
the cosine of the declination and in declination, the total, and the position angle of the motion
(from north through east, degrees).

Each rate is the derivative at the row of the polynomial through the five rows around it (the first
and last five at the table's ends): exact for a quartic between rows, it follows the table's place to
its nine digits wherever the rows are close enough for the motion to be smooth between them, and
needs no other model. Right ascension is made continuous across 0 h first. A row next to a NAN row
has NAN rates, as do tables of fewer than two rows.
"""

import math
from typing import Any, NamedTuple

from .row import Table

Array = Any  # a numpy array of doubles

# Rows of the polynomial whose derivative gives the rate.
POINTS = 5


class Rates(NamedTuple):
    """Arcseconds a minute (a row each): right ascension times cos(declination), declination, total;
    the position angle of the motion, degrees from north through east (0 to 360)."""
    ra_cos_dec: Array
    dec: Array
    total: Array
    position_angle_deg: Array


def derivative_weights(times: Array, points: int = POINTS) -> "tuple[Array, Array]":
    """For each row, the first of the rows of its polynomial and the weights that give the polynomial's
    derivative at the row from their values: sum over j of weight_j / (t_j - t_c) times the product of
    (t_c - t_k) / (t_j - t_k) over the other k, the row's own weight the sum of 1 / (t_c - t_k)."""
    import numpy
    n = len(times)
    m = min(points, n)
    index = numpy.arange(n)
    first = numpy.clip(index - m // 2, 0, n - m)
    stencil = times[first[:, None] + numpy.arange(m)]  # n x m
    centre = (index - first)[:, None]
    own = numpy.arange(m)[None, :] == centre
    tc = times[:, None]
    weights = numpy.zeros((n, m))
    # Times that are no dates (NAN, INF, 1e308) give weights that are not finite, and rates that are NAN.
    with numpy.errstate(all="ignore"):
        for j in range(m):
            wj = numpy.ones(n)
            for k in range(m):
                if k != j:
                    wj = numpy.where(own[:, k], wj / (stencil[:, j] - stencil[:, k]),
                                     wj * (times - stencil[:, k]) / (stencil[:, j] - stencil[:, k]))
            weights[:, j] = wj
        inverse = numpy.where(own, 0.0, 1.0 / (tc - stencil))
        weights = numpy.where(own, inverse.sum(axis=1)[:, None], weights)
    return first, weights


def table_rates(table: Table) -> Rates:
    """The rates of motion at each row (module notes)."""
    import numpy
    times = numpy.asarray(table.column("jd_tdb"), dtype=float)
    n = len(times)
    if n < 2:
        nothing = numpy.full(n, numpy.nan)
        return Rates(nothing, nothing, nothing, nothing)
    ra = numpy.asarray(table.column("ra_hours"), dtype=float)
    dec = numpy.asarray(table.column("dec_deg"), dtype=float)
    with numpy.errstate(invalid="ignore"):
        placed = (ra >= 0.0) & (ra <= 24.0) & (numpy.abs(dec) <= 90.0)
    ra, dec = numpy.where(placed, ra, numpy.nan), numpy.where(placed, dec, numpy.nan)
    # Continuous across 0 h: a step of more than 12 hours is a turn.
    steps = numpy.diff(ra)
    ra = ra - 24.0 * numpy.concatenate([[0.0], numpy.cumsum(numpy.round(numpy.nan_to_num(steps) / 24.0))])
    first, weights = derivative_weights(times)
    stencil = numpy.add.outer(first, numpy.arange(weights.shape[1]))
    # Degrees a day, then arcseconds a minute.
    per_minute = 3600.0 / 1440.0
    with numpy.errstate(all="ignore"):
        d_ra = (weights * ra[stencil]).sum(axis=1) * 15.0 * per_minute * numpy.cos(numpy.radians(dec))
        d_dec = (weights * dec[stencil]).sum(axis=1) * per_minute
        good = numpy.isfinite(d_ra) & numpy.isfinite(d_dec)
        d_ra, d_dec = numpy.where(good, d_ra, numpy.nan), numpy.where(good, d_dec, numpy.nan)
        total = numpy.hypot(d_ra, d_dec)
        angle = numpy.mod(numpy.degrees(numpy.arctan2(d_ra, d_dec)), 360.0)
    return Rates(d_ra, d_dec, total, angle)


def rate_text(rates: Rates, k: int) -> str:
    """'12.3"/min toward PA 245 deg' for row k."""
    total, angle = float(rates.total[k]), float(rates.position_angle_deg[k])
    if not math.isfinite(total):
        return "unknown"
    return f'{total:.4g}"/min toward position angle {angle:.0f} deg'
