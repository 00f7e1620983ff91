"""Orbits from the Minor Planet Center's formats: a minor planet's line of the one-line format
(MPCORB.DAT) and a comet's line of its comet format (CometEls.txt), ellipses only.

Their angles are referred to the ecliptic and equinox of J2000, their times are TT, which differs from
TDB by under 2 ms. A file is read a line at a time, bounded, so that the whole MPCORB.DAT (over a
million lines) can be searched with --pick; compressed by gzip (MPCORB.DAT.gz, as it is distributed)
it is uncompressed as it is read, within the same bounds. A UTF-8 byte order mark is skipped.
"""

import gzip
import re
import zlib
from typing import BinaryIO, List, Optional, Set, Tuple, cast

from .dates import day_number, days_in_month, gregorian_from_day
from .elements import (COMET, DEFAULT_G, MINOR_PLANET, ElementsError, Orbit, Photometry, check_orbit,
                       check_photometry, finite_number, perihelion_orbit)
from .errors import DataError
from .files import lines

# The formats' lines hold 160 to 202 characters; MPCORB.DAT is a few hundred MB and grows.
MAX_LINE = 1000
MAX_BYTES = 2 << 30
# The most a gzip file may grow by as it is uncompressed, past a first allowance: text of orbits grows by
# 4 to 6 times, a decompression bomb (a small file of endless blank lines) by a thousand, and without
# this bound would cost a minute of work before the 2 GiB bound stopped it; with it, a fraction of a
# second.
GZIP_RATIO = 50
GZIP_ALLOWANCE = 1 << 20

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
    return check_photometry(Photometry(kind, h, field_number(line, *g_columns, "slope parameter G", where)), where)


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
    name = readable_name(line) or unpacked_designation(line)
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
    orbit.name = readable_name(line) or unpacked_designation(line)
    orbit.source = "MPC comet line"
    orbit.photometry = photometry(line, COMET, (92, 95), (97, 100), where)
    return orbit


def looks_like_comet(line: str) -> bool:
    """A comet's line has a year of perihelion in columns 15-18 and a blank in 19; a minor planet's line
    has its slope parameter there."""
    return columns(line, 15, 18).isdigit() and columns(line, 19, 19) == " "


# A packed epoch, and a number as the formats write one (no exponent, no letters): a header line of
# titles has neither where an orbit line has them.
PACKED_EPOCH = re.compile(r"[IJK]\d\d[1-9A-C][1-9A-V]")
PLAIN_NUMBER = re.compile(r"[+-]?(\d+\.?\d*|\.\d+)")


def plain_number(line: str, first: int, last: int) -> bool:
    return PLAIN_NUMBER.fullmatch(columns(line, first, last).strip()) is not None


def is_orbit_shaped(line: str) -> bool:
    """Whether the line has the fields of an orbit of either format where the format puts them: a
    packed epoch, an eccentricity and a semi-major axis for a minor planet; a year of perihelion, a
    perihelion distance and an eccentricity for a comet. A header or title line, however long, has
    not."""
    if looks_like_comet(line):
        return len(line) >= 79 and plain_number(line, 31, 39) and plain_number(line, 42, 49)
    return (len(line) >= 103 and PACKED_EPOCH.fullmatch(columns(line, 21, 25)) is not None and
            plain_number(line, 71, 79) and plain_number(line, 93, 103))


# Designations ------------------------------------------------------------------------------------------

# The digits of packed numbers: 0-9, A-Z for 10-35, a-z for 36-61.
BASE62 = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
CENTURIES = {"I": "18", "J": "19", "K": "20"}
SURVEYS = {"PL": "P-L", "T1": "T-1", "T2": "T-2", "T3": "T-3"}


def readable_name(line: str) -> str:
    """The designation and name in the line's own columns ("(1) Ceres", "55P/Tempel-Tuttle"), or ""."""
    return (columns(line, 103, 158) if looks_like_comet(line) else columns(line, 167, 194)).strip()


def unpacked_number(packed: str) -> Optional[int]:
    """The number of a packed minor planet number: 00001, A0345 (100345), ~0000 (620000); else None."""
    if len(packed) == 5 and packed[0] == "~" and all(c in BASE62 for c in packed[1:]):
        value = 0
        for char in packed[1:]:
            value = 62 * value + BASE62.index(char)
        return 620000 + value
    if len(packed) == 5 and packed[1:].isdigit() and packed[0] in BASE62:
        return BASE62.index(packed[0]) * 10000 + int(packed[1:])
    return None


def unpacked_provisional(packed: str, comet: bool) -> Optional[str]:
    """The provisional designation of its packed form: K21Q03L is 2021 QL3, PLS2040 is 2040 P-L, and for
    a comet J95O010 is 1995 O1 (a last letter is a fragment: J94P01b is 1994 P1-B); else None."""
    if len(packed) != 7:
        return None
    if packed[:2] in SURVEYS and packed[2] == "S" and packed[3:].isdigit():
        return f"{packed[3:]} {SURVEYS[packed[:2]]}"
    if packed[0] not in CENTURIES or not packed[1:3].isdigit() or not packed[3].isupper() or \
            packed[4] not in BASE62[:36] or not packed[5].isdigit():
        return None
    year = CENTURIES[packed[0]] + packed[1:3]
    count = BASE62.index(packed[4]) * 10 + int(packed[5])
    if comet:
        fragment = f"-{packed[6].upper()}" if packed[6].islower() else ""
        return f"{year} {packed[3]}{count}{fragment}" if packed[6] == "0" or fragment else None
    if not packed[6].isupper():
        return None
    return f"{year} {packed[3]}{packed[6]}{count or ''}"


def unpacked_designation(line: str) -> str:
    """The designation in the line's packed columns, unpacked: "(4)", "2021 QL3", "55P", "C/1995 O1";
    the packed text where it has no known form."""
    if looks_like_comet(line):
        number, kind, provisional = columns(line, 1, 4).strip(), columns(line, 5, 5), columns(line, 6, 12).strip()
        if number.isdigit():
            return f"{int(number)}{kind}"
        return f"{kind}/{unpacked_provisional(provisional, comet=True) or provisional}"
    packed = columns(line, 1, 7).strip()
    numbered = unpacked_number(packed)
    if numbered is not None:
        return f"({numbered})"
    return unpacked_provisional(packed, comet=False) or packed


def designations(line: str) -> Set[str]:
    """Every whole form a user may give for the body of the line, folded for a case-blind comparison:
    "(1) Ceres", "(1)", "1", "Ceres", "00001"; "55P/Tempel-Tuttle", "55P", "Tempel-Tuttle", "0055P";
    "C/1995 O1 (Hale-Bopp)", "C/1995 O1", "1995 O1", "Hale-Bopp"."""
    names = {readable_name(line), unpacked_designation(line),
             columns(line, 1, 12 if looks_like_comet(line) else 7).strip()}
    for name in list(names):
        numbered = re.fullmatch(r"\((\d+)\)\s*(.*)", name)
        if numbered:
            names.update((f"({numbered[1]})", numbered[1], numbered[2]))
        named = re.fullmatch(r"(.*?)\s*\(([^()]*)\)", name)
        if named:
            names.update(named.groups())
    for name in list(names):
        head, slash, tail = name.partition("/")
        if slash and re.fullmatch(r"\d+[PDI]", head):
            names.update((head, tail))
        elif slash and head in ("C", "P", "D", "X", "I", "A"):
            names.add(tail)
    return {name.casefold() for name in names if name}


# Reading a file --------------------------------------------------------------------------------------

GZIP_MAGIC = b"\x1f\x8b"
UTF8_BOM = b"\xef\xbb\xbf"

# The candidates an ambiguous choice names, and how much of each name.
LISTED = 5
LISTED_NAME = 30


class Rejoined:
    """A stream that cannot go back, with its first bytes, read to see what it holds, put back in
    front of the rest."""

    def __init__(self, head: bytes, rest: BinaryIO) -> None:
        self.head = head
        self.rest = rest

    def read(self, size: int = -1) -> bytes:
        if self.head:
            head, self.head = self.head, b""
            return head
        return self.rest.read(size)

    def seekable(self) -> bool:
        return False


class Counted:
    """A stream that counts the bytes read from it."""

    def __init__(self, stream: BinaryIO) -> None:
        self.stream = stream
        self.count = 0

    def read(self, size: int = -1) -> bytes:
        data = self.stream.read(size)
        self.count += len(data)
        return data


class Gunzipped:
    """The uncompressed bytes of a gzip stream, read as they are asked for; a damaged or cut stream is
    refused with the file's name, and so is one that uncompresses to more than GZIP_RATIO times what it
    has read of the compressed file (past the first GZIP_ALLOWANCE bytes)."""

    def __init__(self, stream: BinaryIO, name: str) -> None:
        self.compressed = Counted(stream)
        self.stream = gzip.GzipFile(fileobj=cast(BinaryIO, self.compressed), mode="rb")
        self.name = name
        self.count = 0

    def read(self, size: int = -1) -> bytes:
        try:
            data = self.stream.read(size)
        except (EOFError, zlib.error, gzip.BadGzipFile) as error:
            raise ElementsError(f"{self.name}: a damaged or incomplete gzip file ({error})") from None
        self.count += len(data)
        if self.count > GZIP_ALLOWANCE + GZIP_RATIO * self.compressed.count:
            raise ElementsError(f"{self.name}: uncompresses to more than {GZIP_RATIO} times its size, as no file of "
                                f"orbits does (they grow by a few times): a damaged file or a decompression bomb")
        return data

    def seekable(self) -> bool:
        return False


def uncompressed(stream: BinaryIO, name: str) -> BinaryIO:
    """The stream, uncompressed as it is read when it starts with gzip's magic bytes."""
    try:
        position = stream.tell() if stream.seekable() else None
        head = b""
        while len(head) < len(GZIP_MAGIC):
            chunk = stream.read(len(GZIP_MAGIC) - len(head))
            if not chunk:
                break
            head += chunk
        if position is not None:
            stream.seek(position)
    except OSError as error:
        raise DataError(f"cannot read {name}: {error.strerror}") from None
    whole = stream if position is not None else cast(BinaryIO, Rejoined(head, stream))
    return cast(BinaryIO, Gunzipped(whole, name)) if head == GZIP_MAGIC else whole


class Candidates:
    """The first few of the lines found so far, and their count."""

    def __init__(self) -> None:
        self.lines: List[Tuple[int, str]] = []
        self.count = 0

    def add(self, number: int, line: str) -> None:
        if len(self.lines) < LISTED:
            self.lines.append((number, line))
        self.count += 1

    def listed(self) -> str:
        """The first few, by name and line number, and how many more."""
        names = ", ".join(f"{(readable_name(line) or unpacked_designation(line))[:LISTED_NAME]} (line {number})"
                          for number, line in self.lines)
        more = self.count - len(self.lines)
        return names + (f" and {more} more" if more else "")


def mpc_orbit(stream: BinaryIO, file_name: str, pick: Optional[str] = None) -> Orbit:
    """The orbit of the one orbit line of an MPC file, or of the one the text `pick` names.

    Orbit lines are those after the row of dashes that ends MPCORB.DAT's header (if there is one), not
    blank, and with the fields of an orbit (is_orbit_shaped); a file without such a line offers all its
    lines, so that a malformed orbit line is refused with its own fault. The pick is compared without
    regard to case: a line it names whole ("2P" for 2P/Encke, "ceres" or "(1)" for (1) Ceres) is taken
    before lines that merely hold it (12P/Pons-Brooks holds "2P")."""
    wanted = pick.strip().casefold() if pick is not None else None
    whole, shaped, others = Candidates(), Candidates(), Candidates()
    dashes_seen = False
    for number, raw, _ in lines(uncompressed(stream, file_name), file_name, MAX_LINE, MAX_BYTES,
                                "file of orbits"):
        if number == 1 and raw.startswith(UTF8_BOM):
            raw = raw[len(UTF8_BOM):]
        line = raw.decode("latin-1").rstrip("\r")
        if not dashes_seen and line.startswith("-----"):
            dashes_seen = True
            whole, shaped, others = Candidates(), Candidates(), Candidates()
            continue
        if not line.strip():
            continue
        holds = wanted is None or wanted in line.casefold()
        # A line that neither holds the pick nor lacks its readable name (whose designation is then only
        # packed in it, and is unpacked to be compared) cannot be the one.
        if not holds and readable_name(line):
            continue
        orbit_shaped = is_orbit_shaped(line)
        if wanted is not None and orbit_shaped and wanted in designations(line):
            whole.add(number, line)
        elif holds:
            (shaped if orbit_shaped else others).add(number, line)
    found = whole if whole.count else shaped if shaped.count else others
    if not found.lines:
        raise ElementsError(f"{file_name}: no orbit line" + (f" holds {pick!r}" if pick else ""))
    if found.count > 1:
        which = f" name {pick!r}" if found is whole else f" hold {pick!r}" if pick else ""
        raise ElementsError(f"{file_name}: {found.count} orbit lines{which}: {found.listed()}; choose one "
                            f"with --pick TEXT")
    number, line = found.lines[0]
    where = f"{file_name}:{number}"
    if looks_like_comet(line):
        return comet_orbit(line, where)
    return minor_planet_orbit(line, where)
