"""The place seen from a site on the Earth: topocentric right ascension and declination, altitude and
azimuth, and the Sun's altitude, from the table's place, with ERFA (python3-erfa), over arrays of times.

The steps, each an ERFA function applied to all rows at once:
- the Earth's centre seen from the table's observer (earth_centre): the table's observer itself where
  DATOS.DAT's notes say it is the Earth's centre (--observer geocentre); else the Earth-Moon
  barycentre, and the Earth's centre is the barycentre minus the Moon's geocentric vector (moon98)
  times the Moon's share of the Earth-Moon mass. moon98 is good to about 10 arcseconds and a few km,
  which moves the Earth's centre by under 0.3 km; the observer itself is the table's (its error is the
  table's: the CSV's observer_error_km);
- universal time: UT1 is taken as UTC (TDB taken as TT, ERFA's leap seconds): they differ by under
  0.9 s while leap seconds are kept, 13.5 arcseconds of the Earth's turn; after the last leap second
  ERFA knows, UTC assumes none was added (timescales.py) and UT1 may drift from it by a second or more
  within years. Before 1960 there was no UTC: the site's values are NAN (empty in the CSV);
- the date's equator and equinox: precession-nutation IAU 2000B (pnm00b, within 1 mas of 2006/2000A)
  and Greenwich apparent sidereal time (gst06); polar motion (under 0.5 arcsecond) is left out;
- the site's geocentric position from its geodetic latitude, longitude and height on WGS84 (gd2gc),
  turned by sidereal time; the topocentric place is the geocentric one minus it (the parallax);
- altitude and azimuth (north 0, east 90 degrees) from the hour angle and declination of date (hd2ae),
  against the ellipsoid's normal; no refraction unless asked for (then Saemundsson's formula for
  10 C and 1010 hPa, from 1 degree below the horizon up);
- the Sun: the Earth's heliocentric position from epv00 at whole days (from its position and velocity
  there, a cubic between them, far within an arcsecond), seen from the site as the body is.
The table's frame, the mean equator and equinox of J2000 with its fixed obliquity, is taken as ERFA's
GCRS: they differ by the frame bias, 0.02 arcsecond, and the obliquity's 0.04 arcsecond.
"""

import math
from typing import Any, NamedTuple, Optional, Tuple

from .constants import AU_M, MOON_SHARE
from .datos import Datos
from .elements import BARYCENTRE, GEOCENTRE
from .errors import DataError
from .row import Table
from .site import Site
from .timescales import FIRST_UTC_JD_TDB, utc_parts

Array = Any  # a numpy array of doubles

WGS84 = 1

# The observers a DATOS.DAT not written by the generator can name that are on the Earth: the barycentre
# by name or alias.
BARYCENTRE_NAMES = ("em-bary", "emb", "earth", "earth-moon")


def observer_of(found: Optional[Datos]) -> str:
    """Which point of the Earth the table's observer is, from the notes of DATOS.DAT: GEOCENTRE or
    BARYCENTRE as the generator wrote it (the barycentre also for an observer given by elements or
    without DATOS.DAT, with a note from the caller); a DataError for an observer that is another body,
    from which a site is no place."""
    if found is None:
        return BARYCENTRE
    kind = found.observer_kind()
    if kind in (GEOCENTRE, BARYCENTRE):
        return kind
    name = found.observer_name().lower()
    if not name or name in BARYCENTRE_NAMES:
        return BARYCENTRE
    raise DataError(f"--site: the table's observer is {name.title()} (DATOS.DAT), not the Earth: a site on the "
                    f"Earth needs a table seen from the Earth-Moon barycentre")


def earth_centre(jd_tdb: Array, observer: str = BARYCENTRE) -> Array:
    """The Earth's centre seen from the table's observer at each time (n x 3, AU, J2000 equator): from
    the barycentre, the Moon's geocentric vector times minus the Moon's share of the mass; from the
    Earth's centre itself, zero. The one place that says where the Earth's centre is."""
    import erfa
    import numpy
    if observer == GEOCENTRE:
        return numpy.zeros((len(jd_tdb), 3))
    moon = erfa.moon98(numpy.asarray(jd_tdb, dtype=float), 0.0)["p"]
    return -MOON_SHARE * moon


def universal_time(jd_tdb: Array) -> Tuple[Array, Array]:
    """UT1 as a two-part Julian date, taken as UTC (module notes); NAN before 1960."""
    import numpy
    tt = numpy.asarray(jd_tdb, dtype=float)
    with numpy.errstate(invalid="ignore"):
        known = numpy.isfinite(tt) & (tt >= FIRST_UTC_JD_TDB)
    utc1, utc2 = utc_parts(numpy.where(known, tt, FIRST_UTC_JD_TDB + 1.0))
    return numpy.where(known, utc1, numpy.nan), numpy.where(known, utc2, numpy.nan)


class Earth(NamedTuple):
    """The Earth's orientation at each time: the matrix from the J2000 equator to the true equator and
    equinox of date (n x 3 x 3), and Greenwich apparent sidereal time (radians, NAN without UT1)."""
    npb: Array
    gast: Array


def earth_orientation(jd_tdb: Array) -> Earth:
    import erfa
    import numpy
    tt = numpy.asarray(jd_tdb, dtype=float)
    ut1a, ut1b = universal_time(tt)
    npb = erfa.pnm00b(numpy.where(numpy.isfinite(tt), tt, 2451545.0), 0.0)
    with numpy.errstate(invalid="ignore"):
        gast = erfa.gst06(numpy.nan_to_num(ut1a, nan=2451545.0), numpy.nan_to_num(ut1b), tt, 0.0, npb)
    return Earth(npb, numpy.where(numpy.isfinite(ut1a), gast, numpy.nan))


def site_of_date(site: Site, gast: Array) -> Array:
    """The site's geocentric position on the true equator of date (n x 3, AU)."""
    import erfa
    import numpy
    x, y, z = erfa.gd2gc(WGS84, math.radians(site.longitude_deg), math.radians(site.latitude_deg),
                         site.height_m) / AU_M
    c, s = numpy.cos(gast), numpy.sin(gast)
    return numpy.stack([x * c - y * s, x * s + y * c, numpy.full_like(gast, z)], axis=1)


def refracted(altitude: Array) -> Array:
    """The apparent altitude (degrees) of a true one: Saemundsson's refraction for 10 C and 1010 hPa,
    from 1 degree below the horizon up (below, the formula has no meaning and none is added)."""
    import numpy
    h = numpy.asarray(altitude, dtype=float)
    with numpy.errstate(invalid="ignore", divide="ignore"):
        bend = 1.02 / numpy.tan(numpy.radians(h + 10.3 / (h + 5.11))) / 60.0
    return numpy.where(h >= -1.0, h + bend, h)


class Seen(NamedTuple):
    """What a site sees of a body at each time: topocentric right ascension (hours) and declination
    (degrees) on the J2000 equator, altitude and azimuth (degrees), hour angle (hours, -12 to 12)."""
    ra_hours: Array
    dec_deg: Array
    altitude_deg: Array
    azimuth_deg: Array
    hour_angle_hours: Array


def seen_from(site: Site, geocentric: Array, earth: Earth, refraction: bool = False) -> Seen:
    """The body at its geocentric vectors (n x 3, AU, J2000 equator) seen from the site."""
    import erfa
    import numpy
    dated = numpy.einsum("nij,nj->ni", earth.npb, geocentric) - site_of_date(site, earth.gast)
    topo = numpy.einsum("nji,nj->ni", earth.npb, dated)
    ra, dec = erfa.c2s(topo)
    ra_date, dec_date = erfa.c2s(dated)
    hour_angle = numpy.mod(earth.gast + math.radians(site.longitude_deg) - ra_date + math.pi, 2.0 * math.pi) - math.pi
    with numpy.errstate(invalid="ignore"):
        azimuth, altitude = erfa.hd2ae(hour_angle, dec_date, math.radians(site.latitude_deg))
    altitude = numpy.degrees(altitude)
    return Seen(numpy.degrees(numpy.mod(ra, 2.0 * math.pi)) / 15.0, numpy.degrees(dec),
                refracted(altitude) if refraction else altitude, numpy.degrees(azimuth),
                numpy.degrees(hour_angle) / 15.0)


def sun_geocentric(jd_tdb: Array) -> Array:
    """The Sun's geocentric vector (n x 3, AU): epv00's Earth at whole days, and a cubic through the
    positions and velocities of the days either side (the curve's error is under 0.001 arcsecond)."""
    import erfa
    import numpy
    tt = numpy.asarray(jd_tdb, dtype=float)
    finite = numpy.isfinite(tt)
    day = numpy.floor(numpy.where(finite, tt, 2451545.0))
    nodes, where = numpy.unique(numpy.concatenate([day, day + 1.0]), return_inverse=True)
    from .references import quietly
    heliocentric, _ = quietly(erfa.epv00, nodes, 0.0)  # epv00 beyond 1900-2100 is less accurate
    p, v = heliocentric["p"], heliocentric["v"]
    a, b = where[:len(tt)], where[len(tt):]
    f = (numpy.where(finite, tt, 2451545.0) - day)[:, None]
    h00, h10 = 2 * f ** 3 - 3 * f ** 2 + 1, f ** 3 - 2 * f ** 2 + f
    h01, h11 = -2 * f ** 3 + 3 * f ** 2, f ** 3 - f ** 2
    earth = h00 * p[a] + h10 * v[a] + h01 * p[b] + h11 * v[b]
    return numpy.where(finite[:, None], -earth, numpy.nan)


def directions(ra_hours: Array, dec_deg: Array) -> Array:
    """The unit vectors (n x 3) of right ascensions (hours) and declinations (degrees)."""
    import numpy
    a, d = numpy.radians(15.0 * numpy.asarray(ra_hours, dtype=float)), numpy.radians(numpy.asarray(dec_deg, dtype=float))
    return numpy.stack([numpy.cos(d) * numpy.cos(a), numpy.cos(d) * numpy.sin(a), numpy.sin(d)], axis=1)


def table_vectors(table: Table) -> Array:
    """The vector from the observer to the body at each row (n x 3, AU, J2000 equator); NAN where the
    row has no place."""
    import numpy
    ra = numpy.radians(15.0 * numpy.asarray(table.column("ra_hours"), dtype=float))
    dec = numpy.radians(numpy.asarray(table.column("dec_deg"), dtype=float))
    distance = numpy.asarray(table.column("observer_distance_au"), dtype=float)
    with numpy.errstate(invalid="ignore"):
        placed = (ra >= 0.0) & (ra <= 2.0 * math.pi) & (numpy.abs(dec) <= math.pi / 2.0) & (distance >= 0.0)
    vectors = distance[:, None] * directions(table.column("ra_hours"), table.column("dec_deg"))
    return numpy.where(placed[:, None], vectors, numpy.nan)


class SiteView(NamedTuple):
    """The site's values a row: what it sees of the body, and the Sun's altitude (degrees)."""
    body: Seen
    sun_altitude_deg: Array


def observe(site: Site, jd_tdb: Array, from_observer: Array, observer: str = BARYCENTRE,
            refraction: bool = False) -> SiteView:
    """The site's view at the times of the body at the vectors from the table's observer (n x 3, AU)."""
    import numpy
    tt = numpy.asarray(jd_tdb, dtype=float)
    earth = earth_orientation(tt)
    geocentric = from_observer - earth_centre(tt, observer)
    body = seen_from(site, geocentric, earth, refraction)
    sun = seen_from(site, sun_geocentric(tt), earth, refraction)
    return SiteView(body, sun.altitude_deg)


def observe_table(site: Site, table: Table, found: Optional[Datos], refraction: bool = False) -> SiteView:
    """The site's view at each row of the table (found: the DATOS.DAT that made it, for its observer)."""
    import numpy
    return observe(site, numpy.asarray(table.column("jd_tdb"), dtype=float), table_vectors(table),
                   observer_of(found), refraction)
