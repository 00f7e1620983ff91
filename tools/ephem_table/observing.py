"""What csv and info tell of observing: the columns and lines of the rates of motion, and with --site
the place seen from the site, its nights and the best of them."""

import argparse
import math
from typing import Any, List, NamedTuple, Optional, Sequence, TextIO, Tuple

from .csvout import Column
from .dates import date_or_jd
from .datos import Datos
from .errors import UsageError
from .nights import DARK_SUN, MOST_NIGHTS, Night, Sky, best_night, find_nights
from .rates import Rates, rate_text, table_rates
from .row import Table
from .site import SITE_FORMS, Site, parse_site
from .timescales import utc_dates
from .topocentre import BARYCENTRE, observe_table, observer_of

Array = Any  # a numpy array of doubles

DEFAULT_MIN_ALTITUDE = 20.0

SITE_HELP = (f"observe from a site on the Earth: {SITE_FORMS}; adds the topocentric place, altitude and "
             f"azimuth, the Sun's altitude, and in info the nights (rise, transit, set, dark hours; "
             f"ephem-table(1), SITE)")
MIN_ALTITUDE_HELP = (f"with --site, the altitude in degrees the body must reach to count as up in the dark "
                     f"(default {DEFAULT_MIN_ALTITUDE:g})")
REFRACTION_HELP = ("with --site, add the atmosphere's refraction to the altitudes (Saemundsson's formula for 10 C "
                   "and 1010 hPa); without it the altitudes are geometric, of the body's centre")

RATE_COLUMNS = ("ra_rate_arcsec_min", "dec_rate_arcsec_min", "rate_arcsec_min", "rate_position_angle_deg")
SITE_COLUMNS = ("topo_ra_hours", "topo_dec_degrees", "altitude_deg", "azimuth_deg", "sun_altitude_deg")

RATES_NOTE = ("rates: arcsec a minute in RA x cos(dec) and in dec, total, position angle from north through east, "
              "each the derivative of the polynomial through the 5 rows around it")


class SiteOptions(NamedTuple):
    site: Site
    min_altitude: float
    refraction: bool


def add_site_arguments(p: argparse.ArgumentParser) -> None:
    p.add_argument("--site", metavar="LAT,LON[,HEIGHT_M]", help=SITE_HELP)
    p.add_argument("--min-altitude", type=float, default=DEFAULT_MIN_ALTITUDE, metavar="DEG", help=MIN_ALTITUDE_HELP)
    p.add_argument("--refraction", action="store_true", help=REFRACTION_HELP)


def site_options(args: argparse.Namespace) -> Optional[SiteOptions]:
    """The site the command line names, or None; a UsageError for a bad one."""
    if not (math.isfinite(args.min_altitude) and -90.0 <= args.min_altitude <= 90.0):
        raise UsageError(f"--min-altitude {args.min_altitude!r}: give an altitude from -90 to 90 degrees")
    if args.site is None:
        return None
    return SiteOptions(parse_site(args.site), args.min_altitude, args.refraction)


def site_note(options: SiteOptions, found: Optional[Datos]) -> str:
    """What the site's values are, in one line."""
    observer = observer_of(found)
    centre = ("the Earth's centre from the table's observer, taken as the Earth-Moon barycentre"
              + ("" if found is not None else " (no DATOS.DAT)") + ", minus ERFA's moon98 Moon x 0.01215 (within 0.3 km)"
              if observer == BARYCENTRE else "the table's observer, the Earth's centre")
    return (f"site {options.site.text()}: topocentric places on the J2000 equator from {centre}; altitude and "
            f"azimuth (north 0, east 90) on the true equator of date (ERFA IAU 2000B), "
            f"{'with refraction (Saemundsson, 10 C, 1010 hPa)' if options.refraction else 'geometric (no refraction)'}; "
            f"UT1 taken as UTC (within 0.9 s while leap seconds are known); empty before 1960 (no UTC)")


def number(value: float, decimals: int) -> str:
    return f"{value:.{decimals}f}" if math.isfinite(value) else ""


def rate_columns(rates: Rates) -> List[Column]:
    def texts(values: Array) -> List[str]:
        return [f"{v:.6g}" if math.isfinite(v) else "" for v in values.tolist()]
    return [(RATE_COLUMNS[0], texts(rates.ra_cos_dec)), (RATE_COLUMNS[1], texts(rates.dec)),
            (RATE_COLUMNS[2], texts(rates.total)),
            (RATE_COLUMNS[3], [number(v, 3) for v in rates.position_angle_deg.tolist()])]


def csv_columns(table: Table, found: Optional[Datos], options: Optional[SiteOptions]) -> Tuple[List[Column], str]:
    """The columns after v_mag (the rates, and the site's with --site) and what the CSV's first line says
    of them."""
    columns = rate_columns(table_rates(table))
    note = RATES_NOTE
    if options is not None:
        view = observe_table(options.site, table, found, options.refraction)
        body = view.body
        columns += [(SITE_COLUMNS[0], [number(v, 9) for v in body.ra_hours.tolist()]),
                    (SITE_COLUMNS[1], [number(v, 8) for v in body.dec_deg.tolist()]),
                    (SITE_COLUMNS[2], [number(v, 6) for v in body.altitude_deg.tolist()]),
                    (SITE_COLUMNS[3], [number(v, 6) for v in body.azimuth_deg.tolist()]),
                    (SITE_COLUMNS[4], [number(v, 6) for v in view.sun_altitude_deg.tolist()])]
        note += "; " + site_note(options, found)
    return columns, note


def write_rates(out: TextIO, table: Table) -> None:
    """The fastest and slowest motion of the rows."""
    import numpy
    rates = table_rates(table)
    total = rates.total
    if not len(total) or not numpy.isfinite(total).any():
        return
    fast, slow = int(numpy.nanargmax(total)), int(numpy.nanargmin(total))
    out.write(f"motion (geometric place, from the rows): fastest {rate_text(rates, fast)} on "
              f"{date_or_jd(table[fast].jd_tdb)} TDB, slowest {rate_text(rates, slow)} on "
              f"{date_or_jd(table[slow].jd_tdb)} TDB\n")


def clock(jd_tdb: float) -> str:
    """hh:mm UTC of a time, to the nearest minute."""
    text = utc_dates([jd_tdb + 30.0 / 86400.0])[0]
    return text[11:16] if text else "--:--"


def night_line(night: Night, min_altitude: float) -> str:
    parts = [night.label + ("" if night.whole else f" (rows {clock(night.start)}-{clock(night.end)} only)")]
    parts.append("rises " + (", ".join(clock(t) for t in night.rises) or "-"))
    parts.append("transits " + (", ".join(f"{clock(t)} at {a:.1f} deg" for t, a in night.transits) or "-"))
    parts.append("sets " + (", ".join(clock(t) for t in night.sets) or "-"))
    parts.append("dark " + (", ".join(f"{clock(a)}-{clock(b)}" for a, b in night.dark) or "none"))
    if night.dark:
        up = f"{night.hours_up:.1f} h above {min_altitude:g} deg in the dark"
        if math.isfinite(night.highest):
            up += f", highest {night.highest:.1f} deg at {clock(night.highest_at)}"
        parts.append(up)
    return "  ".join(parts)


def write_nights(out: TextIO, table: Table, found: Optional[Datos], options: SiteOptions,
                 magnitudes: Optional[Sequence[float]]) -> None:
    """The site, each night of the table's span and the best of them."""
    out.write(f"{site_note(options, found)}\n")
    told = find_nights(Sky(options.site, table, found, options.refraction), options.min_altitude, magnitudes)
    if not told.nights:
        out.write("nights: none (the table needs two rows with dates from 1960 on)\n")
        return
    out.write(f"nights (local noon to noon; times UTC, to the minute; rises and sets at altitude 0"
              f"{' apparent' if options.refraction else ''}; dark: Sun below {DARK_SUN:g} deg):\n")
    for night in told.nights:
        out.write(f"  {night_line(night, options.min_altitude)}\n")
    if told.more:
        out.write(f"  ... and {told.more} more nights (the first {MOST_NIGHTS} are told)\n")
    best = best_night(told.nights)
    if best is None:
        out.write(f"best night: none, the body is never above {options.min_altitude:g} deg in the dark\n")
        return
    how = f"V {best.magnitude:.2f}, " if math.isfinite(best.magnitude) else ""
    rule = "the brightest of the nights it is up in the dark" if how else "where it stands highest in the dark"
    out.write(f"best night: {best.label}, {how}highest {best.highest:.1f} deg at {clock(best.highest_at)} UTC, "
              f"{best.hours_up:.1f} h above {options.min_altitude:g} deg in the dark ({rule})\n")
