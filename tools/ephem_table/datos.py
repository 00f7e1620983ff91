"""DATOS.DAT, ephem's input: its text as the generator writes it, and its reading, in one place.

ephem reads four groups (target orbit, observer orbit, start time, row count), and each of its reads
skips the rest of the line its last value stood on. The generator uses that room for a note after the
values of each line, saying what they are; `ephem-table plot` takes the body's name from the first.
Every number is written as the shortest text that reads back as the same double.

At a step between rows other than a day (step.py) the file holds the two-body problem scaled to it:
times counted from the start in steps (the start 0, each epoch s (epoch - start)), semi-major axes
times s^(2/3). The notes say so on every line, and the last one gives the step, the Julian date of
time 0 and both factors, which the reader checks against the step: a scaled file is never read as a
daily one, nor with other factors than it was written with.

The reader takes what ephem reads in the forms people write: values separated by blanks, tabs, a comma
or line ends, a group spread over lines, exponents with E or D or a sign alone (1.5+3), repeat counts
(3*0.); it refuses, naming the line, what leaves a value unset in ephem (a null value between two
commas, a slash before the last value) and what ephem itself refuses.
"""

import dataclasses
import math
import os
import re
from typing import Iterable, List, Optional, Tuple

from . import kepler
from .dates import calendar_date
from .elements import (BARYCENTRE, GEOCENTRE, INTEGRATION, PLANET, PLANET_TABLE_SOURCE, ElementsError, Fit, Orbit,
                       Photometry, Reference, check_photometry)
from .errors import DataError
from .files import read_small_file, write_output
from .row import Row, Table
from .step import DAILY, Step, offset_in_steps, parse_step, real_time, scaled_axis, scaled_time

TARGET_NOTE = "target:"
OBSERVER_NOTE = "observer:"

# How an orbit was fitted, after the values' names and before the magnitude: "; fitted to ERFA plan94 Mars
# over JD 2461272.5 to 2461636.5 (2026-08-20 to 2027-08-19)" (fitting.py). A file without it holds the
# orbits as their sources gave them (--as-given, or a file of an older ephem-table).
FIT_NOTE = "; fitted to "
FIT = re.compile(r"; fitted to (.*?) over JD (\S+) to (\S+) \(")
REFERENCE_TEXTS = {BARYCENTRE: "ERFA epv00 and moon98 (the Earth-Moon barycentre)",
                   GEOCENTRE: "ERFA epv00 (the Earth's centre)"}
PLANET_TEXT = "ERFA plan94 "
INTEGRATION_TEXT = "an integration with the planets' pulls from a e i w om M epoch m = "
# The sources whose elements are osculating at their epoch, as the generator names them.
OSCULATING_SOURCES = ("MPC orbit line", "MPC comet line", "elements ")

# What the observer of a table is (observer_kind): the Earth's centre, the Earth-Moon barycentre, another
# body, or not said (a file without the generator's notes).
OBSERVER_KINDS = (GEOCENTRE, BARYCENTRE, "other", "unknown")

# The magnitude parameters at the end of the target's note: "magnitude: minor planet H=3.34 G=0.12",
# "magnitude: comet H=11.5 G=4.0" (G the slope of H + 5 log10(delta) + 2.5 G log10(r)), "magnitude:
# planet Jupiter".
MAGNITUDE_NOTE = "; magnitude: "
PHOTOMETRY = re.compile(r"(minor planet|comet) H=(\S+) G=(\S+)|planet (\S+)")

# The generator writes some 400 bytes; a file far larger is not one of ours.
MAX_BYTES = 64 << 10

# A value field: an optional repeat count, then a number with an optional exponent (E, D, or a sign
# alone). The row count is an integer: no point, no exponent letter.
REPEAT = r"(?:\+?(\d+)\*)?"
DOUBLE = re.compile(REPEAT + r"([+-]?(?:\d+\.?\d*|\.\d+))(?:[EeDd]([+-]?\d+)|([+-]\d+))?")
INTEGER = re.compile(REPEAT + r"([+-]?\d+)()(?:([+-]\d+))?")
BLANKS = " \t\r"
INT32_MIN, INT32_MAX = -2**31, 2**31 - 1

# The last note of a scaled file: the step, the Julian date of time 0, the factors of time and length.
SCALED_ROWS = "rows: one every "
SCALED_ROWS_NOTE = re.compile(r"rows: one every .*; time = \(JD - (\S+)\) x (\S+) and length = AU x (\S+) "
                              r"\(step (\S+)\)")


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
    # The step between the rows of the table it makes.
    step: Step = DAILY
    # For the values of a scaled file as written: the Julian date (TDB) of time 0; None once they are
    # the real ones (real()), and in a daily file.
    origin_jd_tdb: Optional[float] = None

    def real(self) -> "Datos":
        """The same file with real times and semi-major axes (itself when they are)."""
        if self.origin_jd_tdb is None:
            return self
        origin, s = self.origin_jd_tdb, self.step.time_factor

        def real_orbit(orbit: Orbit) -> Orbit:
            return dataclasses.replace(orbit, a=scaled_axis(orbit.a, 1 / s),
                                       epoch=real_time(orbit.epoch, origin, s))
        return dataclasses.replace(self, target=real_orbit(self.target), observer=real_orbit(self.observer),
                                   start_jd_tdb=real_time(self.start_jd_tdb, origin, s), origin_jd_tdb=None)

    def target_name(self) -> str:
        """The body's name in the note the generator wrote, or ""."""
        return named_in(self.notes[0], TARGET_NOTE)

    def observer_name(self) -> str:
        """The observer's name in the note the generator wrote, or ""."""
        return named_in(self.notes[1], OBSERVER_NOTE)

    def references(self) -> Tuple[Tuple[Optional[Reference], str], Tuple[Optional[Reference], str]]:
        """The reference paths of the target and the observer (each None and why where there is none):
        what the notes say the orbit was fitted to, else what the source of an orbit as given has (ERFA
        for a planet of the table, the integration of osculating elements from their own values)."""
        return (reference_of(self.notes[0], TARGET_NOTE, self.real().target),
                reference_of(self.notes[1], OBSERVER_NOTE, self.real().observer))

    def fit_span(self) -> Optional[Tuple[float, float]]:
        """The Julian dates (TDB) over which the target's orbit, else the observer's, was fitted."""
        for note in self.notes[:2]:
            found = FIT.search(note)
            if found:
                try:
                    return float(found.group(2)), float(found.group(3))
                except ValueError:
                    return None
        return None

    def observer_kind(self) -> str:
        """What the observer is, one of OBSERVER_KINDS: GEOCENTRE (the Earth's centre, as --observer
        geocentre fits it), BARYCENTRE (the Earth-Moon barycentre, fitted or of the planetary table),
        "other" (another body the notes name), "unknown" (no notes of the generator)."""
        note = self.notes[1]
        if not note.startswith(OBSERVER_NOTE):
            return "unknown"
        reference, _ = reference_of(note, OBSERVER_NOTE, self.real().observer)
        if reference is not None and reference.kind in (GEOCENTRE, BARYCENTRE):
            return reference.kind
        return "other"

    def photometry(self) -> Optional[Photometry]:
        """The target's magnitude parameters in the note the generator wrote, or None."""
        note = self.notes[0]
        if not note.startswith(TARGET_NOTE) or MAGNITUDE_NOTE not in note:
            return None
        found = PHOTOMETRY.fullmatch(note.rpartition(MAGNITUDE_NOTE)[2].strip())
        if found is None:
            return None
        if found.group(4):
            return Photometry(PLANET, planet=found.group(4))
        try:
            h, g = float(found.group(2)), float(found.group(3))
        except ValueError:
            return None
        if not (math.isfinite(h) and math.isfinite(g)):
            return None
        try:
            return check_photometry(Photometry(found.group(1), h, g), "")
        except ElementsError:
            return None  # a note edited past the bounds: no magnitudes rather than meaningless ones


def named_in(note: str, label: str) -> str:
    """The name at the start of a note the generator wrote with the label, or ""."""
    return note[len(label):].split("|", 1)[0].strip() if note.startswith(label) else ""


def reference_of(note: str, label: str, orbit: Orbit) -> Tuple[Optional[Reference], str]:
    """The reference of one orbit of the file (the `label`ed note and the real orbit), or None and why."""
    if not note.startswith(label):
        return None, "DATOS.DAT has no notes saying where its orbits come from (written by hand?)"
    found = FIT.search(note)
    if found:
        text = found.group(1)
        for kind, words in REFERENCE_TEXTS.items():
            if text == words:
                return Reference(kind), ""
        if text.startswith(PLANET_TEXT):
            return Reference(PLANET, planet=text[len(PLANET_TEXT):]), ""
        if text.startswith(INTEGRATION_TEXT):
            try:
                values = tuple(float(v) for v in text[len(INTEGRATION_TEXT):].split())
            except ValueError:
                values = ()
            if len(values) == 8 and all(math.isfinite(v) for v in values):
                return Reference(INTEGRATION, elements=values), ""
        return None, f"its notes name a reference this ephem-table does not know ({text})"
    source = note[len(label):].partition("|")[2].partition(";")[0].strip()
    name = note[len(label):].partition("|")[0].strip()
    if source.startswith(PLANET_TABLE_SOURCE):
        return (Reference(BARYCENTRE) if name == "EM-Bary" else Reference(PLANET, planet=name)), ""
    if source.startswith(OSCULATING_SOURCES):
        return Reference(INTEGRATION, elements=orbit.values()), ""
    return None, f"its notes give no reference for {source or 'the orbit'}"


# Writing ----------------------------------------------------------------------------------------------

def orbit_line(orbit: Orbit) -> str:
    return " ".join(repr(float(v)) for v in orbit.values())


def describe(orbit: Orbit) -> str:
    text = f"{orbit.name} | {orbit.source}" if orbit.name else f"| {orbit.source}"
    # A line end inside the note would start the next group of values early.
    return "".join(c if c.isprintable() else " " for c in text)


def reference_text(reference: Reference) -> str:
    if reference.kind == PLANET:
        return PLANET_TEXT + reference.planet
    if reference.kind == INTEGRATION:
        return INTEGRATION_TEXT + " ".join(repr(float(v)) for v in reference.elements)
    return REFERENCE_TEXTS[reference.kind]


def fit_note(fit: Optional[Fit]) -> str:
    """What the orbit was fitted to, over which dates; "" for an orbit as given."""
    if fit is None:
        return ""
    return (f"{FIT_NOTE}{reference_text(fit.reference)} over JD {float(fit.first)!r} to {float(fit.last)!r} "
            f"({calendar_date(fit.first)} to {calendar_date(fit.last)} TDB)")


def photometry_note(photometry: Optional[Photometry]) -> str:
    if photometry is None:
        return ""
    if photometry.kind == PLANET:
        return f"{MAGNITUDE_NOTE}{PLANET} {photometry.planet}"
    return f"{MAGNITUDE_NOTE}{photometry.kind} H={photometry.h!r} G={photometry.g!r}"


def datos_text(target: Orbit, observer: Orbit, start: float, rows: int, every: Step = DAILY) -> str:
    """The text of a DATOS.DAT: four lines of values, each followed by its note; at a step other than a
    day, the two-body problem scaled to it (the module's notes)."""
    if every.daily:
        return (f"{orbit_line(target)}   {TARGET_NOTE} {describe(target)}; a e i w om M epoch m{fit_note(target.fit)}"
                f"{photometry_note(target.photometry)}\n"
                f"{orbit_line(observer)}   {OBSERVER_NOTE} {describe(observer)}{fit_note(observer.fit)}\n"
                f"{float(start)!r}   start: JD (TDB) {calendar_date(start)}\n"
                f"{int(rows)}   rows: one a day\n")
    s = every.time_factor
    scaled = f"a and epoch scaled to rows of {every.words()}"

    def scaled_orbit(orbit: Orbit) -> Orbit:
        return dataclasses.replace(orbit, a=scaled_axis(orbit.a, s), epoch=scaled_time(orbit.epoch, start, s))
    return (f"{orbit_line(scaled_orbit(target))}   {TARGET_NOTE} {describe(target)}; a e i w om M epoch m, {scaled}"
            f"{fit_note(target.fit)}{photometry_note(target.photometry)}\n"
            f"{orbit_line(scaled_orbit(observer))}   {OBSERVER_NOTE} {describe(observer)}; {scaled}"
            f"{fit_note(observer.fit)}\n"
            f"{0.0!r}   start: time 0 = JD (TDB) {float(start)!r} {calendar_date(start)}\n"
            f"{int(rows)}   {SCALED_ROWS}{every.words()}; time = (JD - {float(start)!r}) x {s} and length = AU x "
            f"{every.length_factor!r} (step {every.text})\n")


def write_datos(path: str, text: str) -> None:
    """Writes the file whole or not at all (files.write_output)."""
    write_output(path, text.encode("ascii", errors="replace"))


# Reading ----------------------------------------------------------------------------------------------

def read_datos(path: str) -> Datos:
    """The DATOS.DAT at path, if it is a regular file of at most MAX_BYTES; any fault of its values is a
    DatosError, so that a file beside a table that cannot be read is passed over."""
    text = read_small_file(path, MAX_BYTES, "DATOS.DAT").decode("latin-1")
    try:
        return parse_datos(text, path)
    except (ValueError, ArithmeticError) as error:
        raise DatosError(f"{path}: cannot be read as a DATOS.DAT ({error})") from None


# How far the place the DATOS.DAT gives for the table's first row may be from the row's, as a share of
# the distances: ephem's fixed passes of Kepler's iteration leave up to 0.13 degrees at e = 0.967
# (LIMITS in ephem(1)), another body, observer or start is far off.
SAME_TABLE = 0.01


def beside(table_path: str) -> str:
    """The DATOS.DAT in the folder of a table (a path, not standard input)."""
    return os.path.join(os.path.dirname(table_path) or ".", "DATOS.DAT")


def for_table(table_path: str, table: Table, given: Optional[str] = None) -> Tuple[Optional[Datos], str]:
    """The DATOS.DAT that made the table: the file `given` (--datos), else DATOS.DAT beside the table;
    with None, why there is none. A file named by `given` that cannot be read or does not describe the
    table is an error; the one beside the table is then passed over."""
    if given is None:
        if table_path == "-":
            return None, "the table is read from standard input (name its DATOS.DAT with --datos)"
        path = beside(table_path)
        if not os.path.lexists(path):
            return None, f"there is no {path} beside the table (name one with --datos)"
        try:
            found = read_datos(path)
        except DataError as error:
            return None, f"{error} (name another with --datos)"
    else:
        path, found = given, read_datos(given)
    try:
        mismatch = describes(found, table)
    except (ValueError, ArithmeticError) as error:
        mismatch = f"does not describe the table: its orbits cannot be moved ({error})"
    if mismatch:
        if given is not None:
            raise DatosError(f"{path}: {mismatch}")
        return None, f"{path} {mismatch} (name the one that made it with --datos)"
    return found, ""


def describes(found: Datos, table: Table) -> str:
    """"" when the DATOS.DAT gives the table's first row (start time, place and distances), else what
    differs; a scaled file, whose rows count steps, its last row as well (its time and place), so that
    the file of another step or span is not taken for the table's."""
    try:
        target, observer = kepler.Orbiter(found.target), kepler.Orbiter(found.observer)
    except ValueError:
        return "does not describe the table: its orbits are no ellipses that the two-body model moves"
    if not len(table):
        return ""
    first, scaled = table[0], found.origin_jd_tdb is not None
    when = "time" if scaled else "JD"
    # The table prints nine significant digits: a hundredth of a day for Julian dates.
    if not abs(found.start_jd_tdb - first.jd_tdb) < 0.01:
        return (f"does not describe the table: it starts at {when} {found.start_jd_tdb!r}, the table at "
                f"{first.jd_tdb!r}")

    def first_placed(rows: Iterable[Row]) -> List[Row]:
        """The first row with a place on the sky and finite values, if there is one."""
        for row in rows:
            if 0.0 <= row.ra_hours <= 24.0 and abs(row.dec_deg) <= 90.0 and all(math.isfinite(v) for v in row):
                return [row]
        return []
    placed = first_placed(table)
    if scaled:
        last = found.start_jd_tdb + (len(table) - 1)
        if not abs(table[-1].jd_tdb - last) <= 1e-8 * abs(last) + 0.01:
            return (f"does not describe the table: its rows count steps of {found.step.words()}, which puts the "
                    f"last row at time {last!r}, but the table's is at {table[-1].jd_tdb!r}")
        placed += first_placed(table[k] for k in range(len(table) - 1, -1, -1))
    def place(time: float) -> kepler.Vector:
        return kepler.equatorial(kepler.difference(target.position(time)[0], observer.position(time)[0]))
    for row in placed:
        body, _ = target.position(row.jd_tdb)
        seen = kepler.from_place(row.ra_hours, row.dec_deg, row.observer_distance_au)
        off = kepler.norm(kepler.difference(place(row.jd_tdb), seen))
        if not (off <= SAME_TABLE * row.observer_distance_au and
                abs(kepler.norm(body) - row.sun_distance_au) <= SAME_TABLE * row.sun_distance_au):
            return (f"does not describe the table: its orbits put the body {off:.3g} {'scaled ' if scaled else ''}AU "
                    f"from the place of the row of {when} {row.jd_tdb!r}")
        steps = offset_in_steps(seen, place(row.jd_tdb - 1.0), place(row.jd_tdb), place(row.jd_tdb + 1.0),
                                row.observer_distance_au) if scaled else 0.0
        if abs(steps) >= 0.5:
            return (f"does not describe the table: its orbits give the place of the row of time {row.jd_tdb!r} "
                    f"{abs(steps):.2f} steps of {found.step.words()} {'earlier' if steps < 0 else 'later'}, so the "
                    f"table starts at another time than its note's JD {found.origin_jd_tdb!r}")
    return ""


def parse_datos(text: str, name: str = "DATOS.DAT") -> Datos:
    reader = GroupReader(text.split("\n"), name)
    target = reader.group(8, "target's orbit")
    observer = reader.group(8, "observer's orbit")
    start = reader.group(1, "start time")
    rows = reader.group(1, "row count", integer=True)
    found = Datos(orbit_of(target), orbit_of(observer), start[0], int(rows[0]),
                  (reader.notes[0], reader.notes[1], reader.notes[2], reader.notes[3]))
    if not found.notes[3].startswith(SCALED_ROWS):
        return found
    where = f"{name}:{reader.index}"
    scale = SCALED_ROWS_NOTE.fullmatch(found.notes[3])
    if scale is None:
        raise DatosError(f"{where}: the note says rows of another step than a day, but not as ephem-table datos "
                         f"writes it (one every ...; time = (JD - ...) x ... and length = AU x ... (step ...)): "
                         f"the values cannot be read as real ones")
    origin_text, time_text, length_text, step_text = scale.groups()
    try:
        every = parse_step(step_text)
        origin = float(origin_text)
    except ValueError as error:
        raise DatosError(f"{where}: {error}") from None
    if not (math.isfinite(origin) and time_text == str(every.time_factor) and
            length_text == repr(every.length_factor)):
        raise DatosError(f"{where}: the factors of the note (time x {time_text}, length x {length_text}) are not "
                         f"those of its step {every.text} (x {every.time_factor}, x {every.length_factor!r})")
    return dataclasses.replace(found, step=every, origin_jd_tdb=origin)


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
            # ephem holds a count beyond the 32-bit range as the largest count.
            digits = (match.group(1) or "1").lstrip("0") or "0"
            repeat = int(digits) if len(digits) <= 10 else INT32_MAX
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
