"""Writing DATOS.DAT, ephem's input, and reading back the note the generator leaves in it.

ephem reads four groups (target orbit, observer orbit, start time, row count), and each of its reads
skips the rest of the line its last value stood on. The generator uses that room for a note after the
values of each line, saying what they are; `ephem-table plot` takes the body's name from the first.
Every number is written as the shortest text that reads back as the same double.
"""

import os

from .table import calendar_date

TARGET_NOTE = "target:"


def orbit_line(orbit):
    return " ".join(repr(float(v)) for v in orbit.values())


def describe(orbit):
    text = f"{orbit.name} | {orbit.source}" if orbit.name else f"| {orbit.source}"
    # A line end inside the note would start the next group of values early.
    return "".join(c if c.isprintable() else " " for c in text)


def datos_text(target, observer, start, rows):
    """The text of a DATOS.DAT: four lines of values, each followed by its note."""
    return (f"{orbit_line(target)}   {TARGET_NOTE} {describe(target)}; a e i w om M epoch m\n"
            f"{orbit_line(observer)}   observer: {describe(observer)}\n"
            f"{float(start)!r}   start: JD (TDB) {calendar_date(start)}\n"
            f"{int(rows)}   rows: one a day\n")


def write_datos(path, text):
    """Writes the file whole or not at all: a failure leaves an existing DATOS.DAT as it was."""
    temporary = f"{path}.part"
    try:
        with open(temporary, "w", encoding="ascii", errors="replace") as out:
            out.write(text)
        os.replace(temporary, path)
    except OSError:
        try:
            os.unlink(temporary)
        except OSError:
            pass
        raise


def target_name(path):
    """The body's name in the note of a DATOS.DAT the generator wrote, or None (no file, no note)."""
    try:
        with open(path, encoding="latin-1") as datos:
            first = datos.readline()
    except OSError:
        return None
    _, found, note = first.partition("   " + TARGET_NOTE + " ")
    if not found:
        return None
    name = note.split("|", 1)[0].strip()
    return name or None
