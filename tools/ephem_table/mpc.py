"""Orbits from the Minor Planet Center's formats: a minor planet's line of the one-line format
(MPCORB.DAT) and a comet's line of its comet format (CometEls.txt), ellipses only.

Their angles are referred to the ecliptic and equinox of J2000, their times are TT, which differs from
TDB by under 2 ms. A file is read a line at a time, bounded, so that the whole MPCORB.DAT (over a
million lines) can be searched with --pick.
"""

from typing import BinaryIO, Optional, Tuple

from .dates import day_number, days_in_month, gregorian_from_day
from .elements import (COMET, DEFAULT_G, MINOR_PLANET, ElementsError, Orbit, Photometry, check_orbit,
                       finite_number, perihelion_orbit)
from .files import lines

# The formats' lines hold 160 to 202 characters; MPCORB.DAT is a few hundred MB and grows.
MAX_LINE = 1000
MAX_BYTES = 2 << 30

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


def columns(line: str, first: int, last: int) -> str:
    return line[first - 1:last]


def field_number(line: str, first: int, last: int, name: str, where: str) -> float:
    text = columns(line, first, last).strip()
    field = f"{where}: columns {first}-{last} ({name}): {text!r}"
    return finite_number(text, f"{field} is not a number", f"{field} is not a finite number")


def photometry(line: str, kind: str, h_columns: Tuple[int, int], g_columns: Tuple[int, int],
               where: str) -> Optional[Photometry]:
    """The magnitude parameters in their columns: none where H is blank; a blank G of a minor planet is
    the H, G system's 0.15, a comet's blank slope leaves it without parameters."""
    if not columns(line, *h_columns).strip():
        return None
    h = field_number(line, *h_columns, "absolute magnitude H", where)
    if not columns(line, *g_columns).strip():
        return Photometry(kind, h, DEFAULT_G) if kind == MINOR_PLANET else None
    return Photometry(kind, h, field_number(line, *g_columns, "slope parameter G", where))


def check_blanks(line: str, blank_columns: Tuple[int, ...], where: str) -> None:
    for column in blank_columns:
        if len(line) >= column and line[column - 1] != " ":
            raise ElementsError(f"{where}: column {column} should be blank between fields, not "
                                f"{line[column - 1]!r}: the columns of the line have shifted")


def packed_digit(char: str, largest: int, what: str, where: str) -> int:
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


def packed_epoch(text: str, where: str) -> float:
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


def minor_planet_orbit(line: str, where: str) -> Orbit:
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
                  M=values["mean anomaly"], epoch=epoch, name=name, source="MPC orbit line",
                  photometry=photometry(line, MINOR_PLANET, (9, 13), (15, 19), where))
    return check_orbit(orbit, where)


def comet_orbit(line: str, where: str) -> Orbit:
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
    orbit.photometry = photometry(line, COMET, (92, 95), (97, 100), where)
    return orbit


def looks_like_comet(line: str) -> bool:
    """A comet's line has a year of perihelion in columns 15-18 and a blank in 19; a minor planet's line
    has its slope parameter there."""
    return columns(line, 15, 18).isdigit() and columns(line, 19, 19) == " "


def is_orbit_shaped(line: str) -> bool:
    """Long enough for an orbit of either format: a title line is none."""
    return len(line) >= 103 or (len(line) >= 79 and looks_like_comet(line))


class Candidates:
    """The first of the lines found so far, and their count."""

    def __init__(self) -> None:
        self.first: Optional[Tuple[int, str]] = None
        self.count = 0

    def add(self, number: int, line: str) -> None:
        if self.first is None:
            self.first = (number, line)
        self.count += 1


def mpc_orbit(stream: BinaryIO, file_name: str, pick: Optional[str] = None) -> Orbit:
    """The orbit of the one orbit line of an MPC file, or of the one that holds the text `pick`.

    Orbit lines are those after the row of dashes that ends MPCORB.DAT's header (if there is one), not
    blank, and long enough for an orbit; a file without such a line offers all its lines, so that a
    malformed orbit line is refused with its own fault."""
    shaped, others = Candidates(), Candidates()
    dashes_seen = False
    for number, raw, _ in lines(stream, file_name, MAX_LINE, MAX_BYTES, "file of orbits"):
        line = raw.decode("latin-1").rstrip("\r")
        if not dashes_seen and line.startswith("-----"):
            dashes_seen = True
            shaped, others = Candidates(), Candidates()
            continue
        if not line.strip() or (pick is not None and pick not in line):
            continue
        (shaped if is_orbit_shaped(line) else others).add(number, line)
    found = shaped if shaped.count else others
    if found.first is None:
        raise ElementsError(f"{file_name}: no orbit line" + (f" holds {pick!r}" if pick else ""))
    if found.count > 1:
        raise ElementsError(f"{file_name}: {found.count} orbit lines" +
                            (f" hold {pick!r}" if pick else "") + "; choose one with --pick TEXT")
    number, line = found.first
    where = f"{file_name}:{number}"
    if looks_like_comet(line):
        return comet_orbit(line, where)
    return minor_planet_orbit(line, where)
