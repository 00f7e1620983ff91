"""DATOS.DAT, ephem's input: its text as the generator writes it, and its reading, in one place.

ephem reads four groups (target orbit, observer orbit, start time, row count), and each of its reads
skips the rest of the line its last value stood on. The generator uses that room for a note after the
values of each line, saying what they are; `ephem-table plot` takes the body's name from the first.
Every number is written as the shortest text that reads back as the same double.

The reader takes what ephem reads in the forms people write: values separated by blanks, tabs, a comma
or line ends, a group spread over lines, exponents with E or D or a sign alone (1.5+3), repeat counts
(3*0.); it refuses, naming the line, what leaves a value unset in ephem (a null value between two
commas, a slash before the last value) and what ephem itself refuses.
"""

import dataclasses
import math
import re
from typing import List, Tuple

from .dates import calendar_date
from .elements import Orbit
from .errors import DataError
from .files import read_small_file, write_output

TARGET_NOTE = "target:"

# The generator writes some 400 bytes; a file far larger is not one of ours.
MAX_BYTES = 64 << 10

# A value field: an optional repeat count, then a number with an optional exponent (E, D, or a sign
# alone). The row count is an integer: no point, no exponent letter.
REPEAT = r"(?:\+?(\d+)\*)?"
DOUBLE = re.compile(REPEAT + r"([+-]?(?:\d+\.?\d*|\.\d+))(?:[EeDd]([+-]?\d+)|([+-]\d+))?")
INTEGER = re.compile(REPEAT + r"([+-]?\d+)()(?:([+-]\d+))?")
BLANKS = " \t\r"
INT32_MIN, INT32_MAX = -2**31, 2**31 - 1


class DatosError(DataError):
    """A DATOS.DAT that cannot be read; the text names the file and line."""


@dataclasses.dataclass
class Datos:
    """What ephem reads from a DATOS.DAT: the two orbits, the start (JD, TDB), the row count, and the
    note after the values of each of the four groups ("" where there is none)."""
    target: Orbit
    observer: Orbit
    start_jd_tdb: float
    rows: int
    notes: Tuple[str, str, str, str]

    def target_name(self) -> str:
        """The body's name in the note the generator wrote, or ""."""
        note = self.notes[0]
        if not note.startswith(TARGET_NOTE):
            return ""
        return note[len(TARGET_NOTE):].split("|", 1)[0].strip()


# Writing ----------------------------------------------------------------------------------------------

def orbit_line(orbit: Orbit) -> str:
    return " ".join(repr(float(v)) for v in orbit.values())


def describe(orbit: Orbit) -> str:
    text = f"{orbit.name} | {orbit.source}" if orbit.name else f"| {orbit.source}"
    # A line end inside the note would start the next group of values early.
    return "".join(c if c.isprintable() else " " for c in text)


def datos_text(target: Orbit, observer: Orbit, start: float, rows: int) -> str:
    """The text of a DATOS.DAT: four lines of values, each followed by its note."""
    return (f"{orbit_line(target)}   {TARGET_NOTE} {describe(target)}; a e i w om M epoch m\n"
            f"{orbit_line(observer)}   observer: {describe(observer)}\n"
            f"{float(start)!r}   start: JD (TDB) {calendar_date(start)}\n"
            f"{int(rows)}   rows: one a day\n")


def write_datos(path: str, text: str) -> None:
    """Writes the file whole or not at all (files.write_output)."""
    write_output(path, text.encode("ascii", errors="replace"))


# Reading ----------------------------------------------------------------------------------------------

def read_datos(path: str) -> Datos:
    """The DATOS.DAT at path, if it is a regular file of at most MAX_BYTES."""
    return parse_datos(read_small_file(path, MAX_BYTES, "DATOS.DAT").decode("latin-1"), path)


def parse_datos(text: str, name: str = "DATOS.DAT") -> Datos:
    reader = GroupReader(text.split("\n"), name)
    target = reader.group(8, "target's orbit")
    observer = reader.group(8, "observer's orbit")
    start = reader.group(1, "start time")
    rows = reader.group(1, "row count", integer=True)
    return Datos(orbit_of(target), orbit_of(observer), start[0], int(rows[0]),
                 (reader.notes[0], reader.notes[1], reader.notes[2], reader.notes[3]))


def orbit_of(values: List[float]) -> Orbit:
    a, e, i, w, om, mean_anomaly, epoch, m = values
    return Orbit(a=a, e=e, i=i, w=w, om=om, M=mean_anomaly, epoch=epoch, m=m)


class GroupReader:
    """The free-format reads of ephem, one group at a time."""

    def __init__(self, lines: List[str], name: str) -> None:
        self.lines = lines
        self.name = name
        self.index = 0
        self.notes: List[str] = []

    def fail(self, message: str) -> DatosError:
        return DatosError(f"{self.name}:{self.index + 1}: {message}")

    def group(self, count: int, what: str, integer: bool = False) -> List[float]:
        values: List[float] = []
        pattern = INTEGER if integer else DOUBLE
        position = 0
        while True:
            if self.index >= len(self.lines) or (self.index == len(self.lines) - 1 and
                                                  not self.lines[self.index].strip(BLANKS)):
                raise DatosError(f"{self.name}: the file ends before the {what} ({len(values)} of {count} "
                                 f"values)")
            line = self.lines[self.index]
            while position < len(line) and line[position] in BLANKS:
                position += 1
            if position == len(line):
                self.index += 1
                position = 0
                continue
            if line[position] == ",":
                raise self.fail(f"a value of the {what} is left empty (a comma with no value before it), "
                                f"which ephem leaves unset")
            if line[position] == "/":
                raise self.fail(f"a slash ends the {what} after {len(values)} of {count} values, which "
                                f"leaves the rest unset")
            match = pattern.match(line, position)
            if not match:
                token = re.split(r"[\s,/]", line[position:], maxsplit=1)[0]
                raise self.fail(f"{token[:20]!r} is not {'an integer' if integer else 'a number'} "
                                f"(in the {what})")
            repeat = int(match.group(1)) if match.group(1) is not None else 1
            if repeat == 0:
                raise self.fail(f"a repeat count of 0 (in the {what})")
            exponent = match.group(3) or match.group(4) or "0"
            value = float(f"{match.group(2)}e{exponent}")
            if integer:
                if line[match.end():match.end() + 1] in (".", "E", "e", "D", "d") and match.end() < len(line):
                    token = re.split(r"[\s,/]", line[position:], maxsplit=1)[0]
                    raise self.fail(f"{token[:20]!r} is not an integer (in the {what})")
                # ephem stores a count beyond the 32-bit range as its lowest value.
                truncated = math.trunc(value) if math.isfinite(value) else INT32_MIN
                value = float(truncated if INT32_MIN <= truncated <= INT32_MAX else INT32_MIN)
            values.extend([value] * min(repeat, count - len(values)))
            position = match.end()
            if len(values) == count:
                self.notes.append(line[position:].strip(" \t\r,"))
                self.index += 1
                return values
            if position < len(line) and line[position] not in BLANKS + ",/":
                token = re.split(r"[\s,/]", line[match.start():], maxsplit=1)[0]
                raise self.fail(f"{token[:20]!r} is not {'an integer' if integer else 'a number'} "
                                f"(in the {what})")
            while position < len(line) and line[position] in BLANKS:
                position += 1
            if position < len(line) and line[position] == ",":
                position += 1
