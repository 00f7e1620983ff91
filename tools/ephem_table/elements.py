"""Orbital elements from the sources users have, in the form and order ephem reads them.

Sources: the table of approximate planetary elements (planets.py), a minor planet's line of the Minor
Planet Center's one-line format (MPCORB.DAT), a comet's line of its comet format (CometEls.txt), and
elements given by name on the command line. Every orbit is checked against what ephem's formulas can
handle (0 < e < 1, a > 0, finite values) before it is written: ephem itself would only write NAN.

Angles are degrees referred to the mean ecliptic and equinox of J2000; times are Julian dates on the TDB
scale (the Minor Planet Center's TT differs from it by under 2 ms).
"""

import dataclasses
import math
import re

from . import planets
from .table import gregorian_from_day, julian_calendar_from_day, FIRST_GREGORIAN_DAY

# ephem's constant of gravitation (Gauss's k, radians per day for a = 1 AU), for the mean motion.
GAUSS_K = 0.01720209895


class ElementsError(Exception):
    """Elements that ephem cannot use, or a source line that fails its format; the text names the
    value."""


def finite_number(text, not_a_number, not_finite):
    """The number `text` reads as, refused with the first message if it is none, the second if it is
    infinite or NAN."""
    try:
        value = float(text)
    except ValueError:
        raise ElementsError(not_a_number)
    if not math.isfinite(value):
        raise ElementsError(not_finite)
    return value


@dataclasses.dataclass
class Orbit:
    """One body's elements as ephem reads them: a (AU), e, i, w (argument of perihelion), om (longitude
    of the ascending node), M (mean anomaly at the epoch), all angles in degrees, epoch (JD, TDB) and the
    mass term m (solar masses) of the mean motion k * sqrt(1 + m) / a**1.5."""
    a: float
    e: float
    i: float
    w: float
    om: float
    M: float
    epoch: float
    m: float = 0.0
    name: str = ""
    source: str = ""

    def values(self):
        return (self.a, self.e, self.i, self.w, self.om, self.M, self.epoch, self.m)


def check_orbit(orbit, where):
    """Refuses an orbit that ephem's two-body formulas cannot handle; `where` names its source."""
    for field, value in zip(("a", "e", "i", "w", "om", "M", "epoch", "m"), orbit.values()):
        if not math.isfinite(value):
            raise ElementsError(f"{where}: {field} = {value} is not a finite number")
    if orbit.e == 0.0:
        raise ElementsError(f"{where}: e = 0 exactly: ephem's formulas give NAN for a circular orbit "
                            f"(the perihelion is undefined); give the eccentricity of the source, "
                            f"or {CIRCLE_ECCENTRICITY:g} for a circle")
    if orbit.e < 0.0:
        raise ElementsError(f"{where}: e = {orbit.e!r} is negative")
    if orbit.e >= 1.0:
        raise ElementsError(f"{where}: e = {orbit.e!r}: ephem's model has only elliptic orbits "
                            f"(e < 1); parabolic and hyperbolic orbits cannot be computed")
    if orbit.a <= 0.0:
        raise ElementsError(f"{where}: a = {orbit.a!r} AU: the semi-major axis must be positive")
    if orbit.m <= -1.0:
        raise ElementsError(f"{where}: m = {orbit.m!r}: the mass term must be above -1")
    return orbit


# Largest error of the eccentric anomaly left by ephem's 100 fixed passes of Kepler's iteration near
# perihelion, for eccentricities from each bound up to the next: (eccentricity, radians), the error at
# the upper end of each band.
KEPLER_ERRORS = ((0.99, 0.1), (0.967, 0.03), (0.95, 2.3e-3), (0.9, 4e-4))

# Below this eccentricity ephem's true anomaly, an arc cosine of a quotient by e, loses precision to
# rounding (about 2.6 arcsec at 1e-6, 23 at 1e-8, 109 at 1e-9); near the circle the rounding and the
# offset of 2e from a true circle balance at about 2 arcsec.
SMALL_ECCENTRICITY = 1e-6
CIRCLE_ECCENTRICITY = 5e-6


def kepler_warning(orbit):
    """A warning for an eccentricity at which ephem's formulas leave a visible error, or None."""
    if orbit.e < SMALL_ECCENTRICITY:
        return (f"e = {orbit.e!r}: so small an eccentricity loses precision in ephem's true anomaly "
                f"(about 2.6 arcsec at 1e-6 and 109 at 1e-9, NAN or wrong places below); "
                f"use {CIRCLE_ECCENTRICITY:g} for a circle")
    for eccentricity, error in KEPLER_ERRORS:
        if orbit.e >= eccentricity:
            return (f"e = {orbit.e!r}: near perihelion ephem's Kepler iteration may leave up to "
                    f"{error:g} rad ({math.degrees(error) * 3600:.2g} arcsec) in the eccentric anomaly "
                    f"(see LIMITS in ephem(1))")
    return None


def perihelion_row_warning(orbit, start, rows):
    """A warning when a row falls exactly on the epoch of a mean anomaly of exactly 0: there ephem's
    rounding can put the cosine of the true anomaly just past 1, and the row is NAN."""
    offset = orbit.epoch - start
    if orbit.M % 360.0 != 0.0 or offset != math.floor(offset) or not 0 <= offset < rows:
        return None
    return (f"the row of JD {orbit.epoch!r} falls exactly on perihelion (mean anomaly 0), where ephem "
            f"may write NAN; start at a fraction of a day (for example {start + 0.5!r}) to avoid it")


# Dates ----------------------------------------------------------------------------------------------

DATE = re.compile(r"([+-]?\d{4,})-(\d{1,2})-(\d{1,2})(?:[T ](\d{1,2}):(\d{2})(?::(\d{2}(?:\.\d*)?))?)?")


def days_in_month(year, month):
    return day_number(year + month // 12, month % 12 + 1, 1) - day_number(year, month, 1)


def day_number(year, month, day):
    """The Julian day number of a calendar date: Gregorian from 1582-10-15 on, Julian before, as the
    table's dates are written."""
    a = (14 - month) // 12
    y = year + 4800 - a
    m = month + 12 * a - 3
    common = day + (153 * m + 2) // 5 + 365 * y + y // 4
    gregorian = common - y // 100 + y // 400 - 32045
    if gregorian >= FIRST_GREGORIAN_DAY:
        return gregorian
    return common - 32083


def julian_date(text, what="date"):
    """The Julian date (TDB) of a calendar date "YYYY-MM-DD[THH:MM[:SS]]" or of a plain Julian date."""
    text = text.strip()
    match = DATE.fullmatch(text)
    if match:
        year, month, day = (int(g) for g in match.groups()[:3])
        hour = int(match.group(4) or 0)
        minute = int(match.group(5) or 0)
        second = float(match.group(6) or 0)
        jdn = day_number(year, month, day)
        back = gregorian_from_day(jdn) if jdn >= FIRST_GREGORIAN_DAY else julian_calendar_from_day(jdn)
        if back != (year, month, day) or hour > 23 or minute > 59 or second >= 60:
            raise ElementsError(f"{what} {text!r} is not a date of the calendar")
        return (jdn - 0.5) + (hour * 3600 + minute * 60 + second) / 86400.0
    return finite_number(text, f"{what} {text!r} is neither a date YYYY-MM-DD[THH:MM[:SS]] nor a Julian date",
                         f"{what} {text!r} is not a finite Julian date")


# The planetary table ------------------------------------------------------------------------------

def planet_orbit(name, jd):
    """The elements of a planet (or the Earth-Moon barycentre) from the table of approximate elements,
    at the Julian date jd, with the epoch jd.

    The table gives the mean longitude L, the longitude of perihelion varpi and the node Omega; ephem
    takes w = varpi - Omega and M = L - varpi. The mass term m is set so that ephem's mean motion
    k * sqrt(1 + m) / a**1.5 equals the table's rate of L: the rows then follow the table's mean
    longitude, not Kepler's law for a lone body, which drifts from it by 3 to 50 arcsec a year. It is
    no mass (a few 1e-5, and below 0 where the table's a has shrunk, before 2000 for the Earth-Moon
    barycentre)."""
    body = planets.find(name)
    if body is None:
        raise ElementsError(f"{name!r} is not a planet of the table ({', '.join(planets.NAMES)})")
    if not planets.FIRST_JD <= jd < planets.END_JD:
        raise ElementsError(f"JD {jd!r} is outside the planetary table's span, 1800-01-01 to 2050-12-31; "
                            f"give the elements of {body.name} for that date instead")
    t = (jd - 2451545.0) / 36525.0
    a, e, i, mean_longitude, varpi, node = (v + r * t for v, r in zip(body.values, body.rates))
    mean_motion = math.radians(body.rates[3] / 36525.0)
    mass_term = (mean_motion * a ** 1.5 / GAUSS_K) ** 2 - 1.0
    orbit = Orbit(a=a, e=e, i=i, w=(varpi - node) % 360.0, om=node % 360.0,
                  M=reduce_degrees(mean_longitude - varpi), epoch=jd, m=mass_term, name=body.name,
                  source=f"planetary table at JD {jd!r}")
    return check_orbit(orbit, body.name)


def reduce_degrees(angle):
    """An angle moved by whole turns into -180 to 180 degrees."""
    return angle - 360.0 * math.floor((angle + 180.0) / 360.0)


# Elements by name ---------------------------------------------------------------------------------

ELEMENT_KEYS = {"a", "e", "i", "om", "w", "M", "epoch", "q", "T", "m"}


def named_orbit(words, name=""):
    """The elements given as words key=value: a e i om w M epoch, or q T in place of a M epoch; m (the
    mass, default 0) may be added. Dates may be calendar dates or Julian dates."""
    given = {}
    for word in words:
        key, sep, value = word.partition("=")
        if not sep or key not in ELEMENT_KEYS:
            raise ElementsError(f"{word!r} is not an element: give a= e= i= om= w= M= epoch= "
                                f"(or q= T= in place of a= M= epoch=)")
        if key in given:
            raise ElementsError(f"{key}= is given twice")
        if key in ("epoch", "T"):
            given[key] = julian_date(value, f"{key}=")
        else:
            try:
                given[key] = float(value)
            except ValueError:
                raise ElementsError(f"{key}={value!r} is not a number (write a decimal point, not a comma)")
    if "q" in given or "T" in given:
        needed, clash = ("q", "e", "i", "om", "w", "T"), ("a", "M", "epoch")
    else:
        needed, clash = ("a", "e", "i", "om", "w", "M", "epoch"), ("q", "T")
    both = [k for k in clash if k in given]
    if both:
        raise ElementsError(f"{' '.join(k + '=' for k in both)} cannot be given with "
                            f"{'q= T=' if 'q' in needed else 'a= M= epoch='}")
    missing = [k for k in needed if k not in given]
    if missing:
        raise ElementsError(f"missing {' '.join(k + '=' for k in missing)}")
    if "q" in given:
        orbit = perihelion_orbit(given["q"], given["e"], given["i"], given["om"], given["w"], given["T"],
                                 "elements")
    else:
        orbit = Orbit(a=given["a"], e=given["e"], i=given["i"], w=given["w"], om=given["om"],
                      M=given["M"], epoch=given["epoch"])
    orbit.m = given.get("m", 0.0)
    if orbit.m < 0.0:
        raise ElementsError(f"elements: m = {orbit.m!r}: a mass cannot be negative")
    orbit.name = name
    orbit.source = "elements " + " ".join(words)
    return check_orbit(orbit, "elements")


def perihelion_orbit(q, e, i, om, w, perihelion_time, where):
    """An orbit given by its perihelion distance q (AU) and time T: a = q / (1 - e), and the mean anomaly
    is 0 at T, which becomes the epoch."""
    if not q > 0.0:
        raise ElementsError(f"{where}: q = {q!r} AU: the perihelion distance must be positive")
    check_orbit(Orbit(a=1.0, e=e, i=i, w=w, om=om, M=0.0, epoch=perihelion_time), where)
    return Orbit(a=q / (1.0 - e), e=e, i=i, w=w, om=om, M=0.0, epoch=perihelion_time)


# The Minor Planet Center's formats ----------------------------------------------------------------

# (first column, last column, name) of the fields used, 1-based and inclusive as the formats document
# them, and the columns that must be blank between fields: a line whose columns have shifted fails there.
MINOR_PLANET_FIELDS = ((21, 25, "packed epoch"), (27, 35, "mean anomaly"),
                       (38, 46, "argument of perihelion"), (49, 57, "longitude of the ascending node"),
                       (60, 68, "inclination"), (71, 79, "eccentricity"), (93, 103, "semi-major axis"))
MINOR_PLANET_BLANKS = (8, 14, 20, 26, 36, 47, 58, 69, 80, 92)
COMET_FIELDS = ((15, 18, "perihelion year"), (20, 21, "perihelion month"), (23, 29, "perihelion day"),
                (31, 39, "perihelion distance"), (42, 49, "eccentricity"),
                (52, 59, "argument of perihelion"), (62, 69, "longitude of the ascending node"),
                (72, 79, "inclination"))
COMET_BLANKS = (13, 14, 19, 22, 30, 40, 41, 50, 51, 60, 61, 70, 71)


def columns(line, first, last):
    return line[first - 1:last]


def field_number(line, first, last, name, where):
    text = columns(line, first, last).strip()
    field = f"{where}: columns {first}-{last} ({name}): {text!r}"
    return finite_number(text, f"{field} is not a number", f"{field} is not a finite number")


def check_blanks(line, blank_columns, where):
    for column in blank_columns:
        if len(line) >= column and line[column - 1] != " ":
            raise ElementsError(f"{where}: column {column} should be blank between fields, not "
                                f"{line[column - 1]!r}: the columns of the line have shifted")


def packed_digit(char, largest, what, where):
    """The value of one character of a packed date: 1-9, then A = 10 onwards."""
    if char.isdigit() and char != "0":
        value = int(char)
    elif "A" <= char <= "Z":
        value = ord(char) - ord("A") + 10
    else:
        value = 0
    if not 1 <= value <= largest:
        raise ElementsError(f"{where}: columns 21-25 (packed epoch): {what} {char!r} is not 1-9 or a "
                            f"letter up to {chr(ord('A') + largest - 10)}")
    return value


def packed_epoch(text, where):
    """The Julian date (0h TT) of a packed epoch such as K2289 (2022 August 9)."""
    centuries = {"I": 18, "J": 19, "K": 20}
    if len(text) != 5 or text[0] not in centuries or not text[1:3].isdigit():
        raise ElementsError(f"{where}: columns 21-25 (packed epoch): {text!r} is not a century letter "
                            f"I, J or K, two digits of the year, a month and a day")
    year = 100 * centuries[text[0]] + int(text[1:3])
    month = packed_digit(text[3], 12, "month", where)
    day = packed_digit(text[4], 31, "day", where)
    jdn = day_number(year, month, day)
    if gregorian_from_day(jdn) != (year, month, day):
        raise ElementsError(f"{where}: columns 21-25 (packed epoch): {text!r} is "
                            f"{year}-{month:02d}-{day:02d}, not a date of the calendar")
    return jdn - 0.5


def minor_planet_orbit(line, where):
    """The orbit in a minor planet's line of the Minor Planet Center's one-line format."""
    if len(line) < 103:
        raise ElementsError(f"{where}: a minor planet's line has at least 103 columns (to the semi-major "
                            f"axis), this one {len(line)}")
    check_blanks(line, MINOR_PLANET_BLANKS, where)
    epoch = packed_epoch(columns(line, 21, 25), where)
    values = {name: field_number(line, first, last, name, where)
              for first, last, name in MINOR_PLANET_FIELDS[1:]}
    name = columns(line, 167, 194).strip() or columns(line, 1, 7).strip()
    orbit = Orbit(a=values["semi-major axis"], e=values["eccentricity"], i=values["inclination"],
                  w=values["argument of perihelion"], om=values["longitude of the ascending node"],
                  M=values["mean anomaly"], epoch=epoch, name=name, source="MPC orbit line")
    return check_orbit(orbit, where)


def comet_orbit(line, where):
    """The orbit in a comet's line of the Minor Planet Center's comet format (ellipses only)."""
    if len(line) < 79:
        raise ElementsError(f"{where}: a comet's line has at least 79 columns (to the inclination), "
                            f"this one {len(line)}")
    check_blanks(line, COMET_BLANKS, where)
    values = {name: field_number(line, first, last, name, where) for first, last, name in COMET_FIELDS}
    year, month = values["perihelion year"], values["perihelion month"]
    day = values["perihelion day"]
    if year != int(year) or month != int(month) or not 1 <= month <= 12 or not 1 <= day < 1 + days_in_month(
            int(year), int(month)):
        raise ElementsError(f"{where}: columns 15-29 (time of perihelion): "
                            f"{columns(line, 15, 29).strip()!r} is not a date")
    perihelion = (day_number(int(year), int(month), 1) - 0.5) + (day - 1.0)
    orbit = perihelion_orbit(values["perihelion distance"], values["eccentricity"], values["inclination"],
                             values["longitude of the ascending node"], values["argument of perihelion"],
                             perihelion, where)
    orbit.name = columns(line, 103, 158).strip() or columns(line, 1, 12).strip()
    orbit.source = "MPC comet line"
    return orbit


def looks_like_comet(line):
    """A comet's line has a year of perihelion in columns 15-18 and a blank in 19; a minor planet's line
    has its slope parameter there."""
    return columns(line, 15, 18).isdigit() and columns(line, 19, 19) == " "


def orbit_lines(lines):
    """(line number, text) of the lines of an MPC file that may be orbits: not blank, not the header
    that MPCORB.DAT puts before its row of dashes, and long enough for an orbit of either format (a
    title line is none). A file without such a line gives all its lines, so that a malformed orbit
    line is refused with its own fault."""
    numbered = [(n, line.rstrip("\r\n")) for n, line in enumerate(lines, start=1)]
    dashes = [n for n, line in numbered if line.startswith("-----")]
    start = dashes[0] if dashes else 0
    candidates = [(n, line) for n, line in numbered if n > start and line.strip()]
    shaped = [(n, line) for n, line in candidates
              if len(line) >= 103 or (len(line) >= 79 and looks_like_comet(line))]
    return shaped or candidates


def mpc_orbit(lines, file_name, pick=None):
    """The orbit of the one line of an MPC file, or of the one line that holds the text `pick`."""
    candidates = orbit_lines(lines)
    if pick is not None:
        candidates = [(n, line) for n, line in candidates if pick in line]
    if not candidates:
        raise ElementsError(f"{file_name}: no orbit line" + (f" holds {pick!r}" if pick else ""))
    if len(candidates) > 1:
        raise ElementsError(f"{file_name}: {len(candidates)} orbit lines" +
                            (f" hold {pick!r}" if pick else "") + "; choose one with --pick TEXT")
    number, line = candidates[0]
    where = f"{file_name}:{number}"
    if looks_like_comet(line):
        return comet_orbit(line, where)
    return minor_planet_orbit(line, where)
