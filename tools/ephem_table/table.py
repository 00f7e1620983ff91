"""Reading the table ZEPO.DAT that ephem writes, and the texts of its values: calendar dates,
sexagesimal angles and CSV.

A row of the table is eight numbers on one or two lines: time (Julian date, on the scale of the epochs
in DATOS.DAT, TDB), right ascension (hours), declination (degrees), Sun-body distance (AU),
observer-body distance (AU), elongation (degrees), phase angle (degrees) and illuminated fraction.
NAN and INF values are kept as such.
"""

import csv
import math
import re
import sys

ROW_LENGTH = 8

COLUMNS = ("time", "right_ascension", "declination", "sun_distance", "observer_distance",
           "elongation", "phase_angle", "illuminated_fraction")

CSV_HEADER = ("julian_date_tdb", "date_tdb", "ra_hours", "ra_hms", "dec_degrees", "dec_dms",
              "sun_distance_au", "observer_distance_au", "elongation_deg", "phase_angle_deg",
              "illuminated_fraction")

# The first line of the CSV: what the places are. Without a comma it is a row of one cell for a
# spreadsheet, and readers of CSV that know comments (comment="#") skip it.
CSV_FRAME_NOTE = ("# ephem table: geometric places (no light time or aberration or nutation); right ascension and "
                  "declination referred to the mean equator and equinox of J2000 (fixed obliquity 23.439291 deg); "
                  "dates on the scale of the epochs of DATOS.DAT (TDB)")

# The first Julian day number of the Gregorian calendar (1582-10-15); earlier days are given in the
# Julian calendar, as astronomers date them.
FIRST_GREGORIAN_DAY = 2299161

# A finite item as ephem writes it ("2451545.", "-13.1786492", "1.E+09", three-digit exponents from some
# hosts), or the spellings of an infinity or a not-a-number value; a point after those is tolerated
# because some hosts append one to a signed "-NAN".
NUMBER = re.compile(r"[+-]?(\d+\.?\d*|\.\d+)([EeDd][+-]?\d+)?")
NON_FINITE = re.compile(r"([+-]?)(nan|inf|infinity)\.?(\(\w*\))?", re.IGNORECASE)


# Angles beyond this are not written in sexagesimal form: they are no place on the sky, and their
# seconds would overflow the rounding.
LARGEST_ANGLE = 1e9


class TableError(Exception):
    """A table that cannot be read as rows of eight numbers; the text names the file and line."""


def parse_value(token):
    """The value of one item of the table, or None when the token is not a number."""
    if NUMBER.fullmatch(token):
        return float(token.replace("D", "E").replace("d", "e"))
    special = NON_FINITE.fullmatch(token)
    if special:
        if special.group(2).lower() == "nan":
            return math.nan
        return -math.inf if special.group(1) == "-" else math.inf
    return None


def read_rows(lines, name="ZEPO.DAT"):
    """Yields each row of the table as a tuple of eight floats.

    A row fills one or more whole lines: a line that would carry a row past eight values, a token that
    is not a number, and a last row with fewer than eight values are errors naming the line. Blank lines
    carry no values and are skipped.
    """
    row = []
    row_start = 0
    number = 0
    for number, line in enumerate(lines, start=1):
        tokens = line.split()
        if not tokens:
            continue
        if not row:
            row_start = number
        for token in tokens:
            value = parse_value(token)
            if value is None:
                raise TableError(f"{name}:{number}: {shorten(token)!r} is not a number")
            row.append(value)
        if len(row) > ROW_LENGTH:
            raise TableError(f"{name}:{number}: the row begun on line {row_start} has {len(row)} values, "
                             f"not {ROW_LENGTH}")
        if len(row) == ROW_LENGTH:
            yield tuple(row)
            row = []
    if row:
        raise TableError(f"{name}:{row_start}: the last row is cut short: {len(row)} of {ROW_LENGTH} "
                         f"values before the end of the file (line {number})")


def shorten(token, limit=20):
    return token if len(token) <= limit else token[:limit] + "..."


def gregorian_from_day(day):
    """(year, month, day) of a Julian day number in the Gregorian calendar, any integer day."""
    a = day + 32044
    b = (4 * a + 3) // 146097
    c = a - (146097 * b) // 4
    return _finish_calendar(c, 100 * b)


def julian_calendar_from_day(day):
    """(year, month, day) of a Julian day number in the Julian calendar, any integer day."""
    return _finish_calendar(day + 32082, 0)


def _finish_calendar(c, century_years):
    d = (4 * c + 3) // 1461
    e = c - (1461 * d) // 4
    m = (5 * e + 2) // 153
    day = e - (153 * m + 2) // 5 + 1
    month = m + 3 - 12 * (m // 10)
    year = century_years + d - 4800 + m // 10
    return year, month, day


def calendar_date(jd):
    """The calendar date and time of a Julian date, on the date's own time scale (TDB for ephem), to the
    second: "2000-01-01 12:00:00".

    Years are numbered astronomically (0 is 1 BC, -1 is 2 BC); before 1582-10-15 the Julian calendar is
    used. A value that is not finite, or too large for a day count, gives "".
    """
    if not math.isfinite(jd) or abs(jd) > 1e15:
        return ""
    # Julian days begin at noon; a calendar day at midnight, half a day earlier.
    day = math.floor(jd + 0.5)
    seconds = round(((jd + 0.5) - day) * 86400.0)
    if seconds >= 86400:
        day += 1
        seconds -= 86400
    if day >= FIRST_GREGORIAN_DAY:
        year, month, mday = gregorian_from_day(day)
    else:
        year, month, mday = julian_calendar_from_day(day)
    year_text = f"{year:04d}" if year >= 0 else f"-{-year:04d}"
    return (f"{year_text}-{month:02d}-{mday:02d} "
            f"{seconds // 3600:02d}:{seconds // 60 % 60:02d}:{seconds % 60:02d}")


def calendar_day(jd):
    """The calendar date of a Julian date without its time: "2000-01-01", "-4712-01-01" (or "")."""
    return calendar_date(jd).partition(" ")[0]


def sexagesimal(value, fraction_digits):
    """(sign, units, minutes, seconds text) of a value, its seconds rounded to the given digits."""
    scale = 10 ** fraction_digits
    total = round(abs(value) * 3600 * scale)
    units, rest = divmod(total, 3600 * scale)
    minutes, seconds = divmod(rest, 60 * scale)
    if fraction_digits:
        seconds_text = f"{seconds // scale:02d}.{seconds % scale:0{fraction_digits}d}"
    else:
        seconds_text = f"{seconds:02d}"
    sign = "-" if value < 0 and total != 0 else "+"
    return sign, units, minutes, seconds_text


def hours_hms(hours):
    """Right ascension in hours as "hh:mm:ss.ss", wrapped into 0 to 24 hours ("" if no place)."""
    if not math.isfinite(hours) or abs(hours) > LARGEST_ANGLE:
        return ""
    _, units, minutes, seconds = sexagesimal(hours, 2)
    # Rounding can reach 24h, and a right ascension of exactly 24 h is 0 h.
    return f"{units % 24:02d}:{minutes:02d}:{seconds}"


def degrees_dms(degrees):
    """Declination in degrees as "+dd:mm:ss.s" with its sign always shown ("" if no place)."""
    if not math.isfinite(degrees) or abs(degrees) > LARGEST_ANGLE:
        return ""
    sign, units, minutes, seconds = sexagesimal(degrees, 1)
    return f"{sign}{units:02d}:{minutes:02d}:{seconds}"


def number_text(value):
    """A value as CSV text: the shortest text that reads back as the same double; NaN, inf, -inf."""
    if math.isnan(value):
        return "NaN"
    return repr(value)


def csv_record(row):
    time, ra, dec, r, delta, elong, phase, fraction = row
    return (number_text(time), calendar_date(time), number_text(ra), hours_hms(ra),
            number_text(dec), degrees_dms(dec), number_text(r), number_text(delta),
            number_text(elong), number_text(phase), number_text(fraction))


def write_csv(rows, out):
    out.write(CSV_FRAME_NOTE + "\n")
    writer = csv.writer(out, lineterminator="\n")
    writer.writerow(CSV_HEADER)
    for row in rows:
        writer.writerow(csv_record(row))


def open_table(path):
    if path == "-":
        return sys.stdin
    try:
        # Any byte reads as some character, so a binary file ends in "not a number", not in a decode
        # error.
        return open(path, "r", encoding="latin-1", newline=None)
    except OSError as error:
        raise TableError(f"cannot read {path}: {error.strerror}")




# What the columns of a row hold, for messages.
COLUMN_NAMES = ("time", "right ascension", "declination", "Sun distance", "observer distance",
                "elongation", "phase angle", "illuminated fraction")

# The cases in which ephem writes NAN, as the README and ephem(1) list them.
NAN_CAUSES = ("an eccentricity of exactly 0 or of 1 or more in DATOS.DAT (the formulas hold for 0 < e < 1)",
              "target and observer at one point (observer distance 0)",
              "a target exactly at a celestial pole, or exactly in line with the Sun and the observer",
              "a negative semi-major axis or a mass below -1 in DATOS.DAT",
              "a row exactly at perihelion with a mean anomaly of exactly 0 at that epoch (rounding puts "
              "the cosine of the true anomaly past 1)",
              "a place at exactly 0 h or 12 h of right ascension, where rounding can do the same")


class NanSummary:
    """Which rows of a table hold a NAN, and in which columns."""

    def __init__(self, rows):
        self.total = len(rows)
        self.rows = [i for i, row in enumerate(rows) if any(math.isnan(v) for v in row)]
        self.columns = sorted({c for i in self.rows for c, v in enumerate(rows[i]) if math.isnan(v)})
        self.first_time = rows[self.rows[0]][0] if self.rows else None

    def __bool__(self):
        return bool(self.rows)

    @property
    def all_rows(self):
        return self.total > 0 and len(self.rows) == self.total

    def where(self):
        columns = ", ".join(COLUMN_NAMES[c] for c in self.columns)
        when = calendar_day(self.first_time) or f"JD {self.first_time}"
        return f"in {columns}; first on {when}"

    def message(self, name):
        return (f"{name}: {len(self.rows)} of {self.total} rows hold NAN ({self.where()}); "
                f"likely causes: {'; '.join(NAN_CAUSES)}")
