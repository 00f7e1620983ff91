"""Reading the table ZEPO.DAT as ephem writes it.

A row is eight numbers (the fields of row.Row) on one or two lines, and ends with a line end. A table
cut short by a full disk or a copy can end inside a row: that last row is dropped with a warning, never
read as a row. A line longer than any ephem writes, or a table larger than the bounds below, is refused.

ephem holds an exclusive lock (flock) on its table while it writes it, and waits for programs that
hold a shared lock on it. The table is read under a shared lock, so that no run of ephem writes it
meanwhile; while a run holds it, the reader waits until the run is done (with a note). A run writes
its first row over the older table and cuts the rest away right after: a file read without the lock
may hold this run's first row followed by the older table's rows. Read without waiting
(`wait=False`), a table that a run holds is read to its last whole row, taking a malformed line for
the end (the older table's rows need not meet the new ones at a line), and `rows_of_one_run` keeps
the rows whose times follow the DATOS.DAT that made it.
"""

import fcntl
import math
import os
import re
import stat
from typing import BinaryIO, Callable, List, Optional, Tuple

from .errors import DataError
from .files import lines, open_input
from .row import ROW_LENGTH, Table

# ephem's lines hold at most 79 characters; the bound leaves room for tables edited by hand.
MAX_LINE = 1000
# About 13,700 years of daily rows, 320 MB in memory; the text of so many rows is under 512 MiB.
MAX_ROWS = 5_000_000
MAX_BYTES = 512 << 20

# A finite item as ephem writes it ("2451545.", "-13.1786492", "1.E+09", three-digit exponents from some
# hosts), or the spellings of an infinity or a not-a-number value; a point after those is tolerated
# because some hosts append one to a signed "-NAN".
NUMBER = re.compile(r"[+-]?(\d+\.?\d*|\.\d+)([EeDd][+-]?\d+)?")
NON_FINITE = re.compile(r"([+-]?)(nan|inf|infinity)\.?(\(\w*\))?", re.IGNORECASE)

# The characters of a line of finite numbers in the usual spellings. Made of these alone, a token that
# float() reads is a NUMBER, and one it refuses is none: a line is checked once, not a number at a time.
PLAIN_CHARACTERS = b"0123456789.+-Ee \t\r"


class TableError(DataError):
    """A table that cannot be read as rows of eight numbers; the text names the file and line."""


def parse_value(token: str) -> Optional[float]:
    """The value of one item of the table, or None when the token is not a number."""
    if NUMBER.fullmatch(token):
        return float(token.replace("D", "E").replace("d", "e"))
    special = NON_FINITE.fullmatch(token)
    if special:
        if special.group(2).lower() == "nan":
            return math.nan
        return -math.inf if special.group(1) == "-" else math.inf
    return None


def shorten(token: str, limit: int = 20) -> str:
    return token if len(token) <= limit else token[:limit] + "..."


def line_values(text: bytes) -> Optional[List[float]]:
    """The values of one line, or None when a token of it is not a number."""
    if not text.translate(None, PLAIN_CHARACTERS):
        try:
            return [float(token) for token in text.split()]
        except ValueError:
            pass
    values = []
    for token in text.decode("latin-1").split():
        value = parse_value(token)
        if value is None:
            return None
        values.append(value)
    return values


def bad_token(text: bytes) -> str:
    tokens = text.decode("latin-1").split()
    return next((t for t in tokens if parse_value(t) is None), "")


def read_rows(stream: BinaryIO, name: str = "ZEPO.DAT", still_written: bool = False) -> Table:
    """The whole rows of a table, as the module's notes say; `still_written` when ephem holds the
    table's lock. A line that would carry a row past eight values, or a token that is not a number, is
    an error naming the line, but in a last row cut short, and in a table still written, where it ends
    the reading. Blank lines carry no values."""
    table = Table(name)
    values = table.values
    row: List[float] = []
    row_start = 0
    torn = ""
    for number, text, ended in lines(stream, name, MAX_LINE, MAX_BYTES, "table"):
        found = line_values(text)
        if found is None:
            if not ended or still_written:
                row_start = row_start if row else number
                torn = f"its last line is cut inside a number ({shorten(bad_token(text))!r})"
                break
            raise TableError(f"{name}:{number}: {shorten(bad_token(text))!r} is not a number")
        if not found:
            continue
        if not row:
            row_start = number
        row.extend(found)
        if len(row) > ROW_LENGTH and still_written:
            break
        if len(row) > ROW_LENGTH:
            raise TableError(f"{name}:{number}: the row begun on line {row_start} has {len(row)} values, "
                             f"not {ROW_LENGTH}")
        if len(row) == ROW_LENGTH:
            if not ended:
                torn = "its last line has no line end, so its last number may be cut"
                break
            values.extend(row)
            row = []
            if len(values) > ROW_LENGTH * MAX_ROWS:
                raise TableError(f"{name}:{number}: more than {MAX_ROWS:,} rows, the most ephem-table reads "
                                 f"of a table")
    else:
        if row:
            torn = f"it holds {len(row)} of {ROW_LENGTH} values"
    if still_written:
        table.notes.append(f"note: {name}: ephem is still writing this table (its lock is held): read up "
                           f"to its last whole row, {len(table)} rows")
    elif torn:
        table.notes.append(f"warning: {name}:{row_start}: the last row is cut short and dropped: "
                           f"{torn}; {len(table)} whole rows read")
    return table


def locked_for_reading(stream: BinaryIO, name: str, wait: bool, say: Callable[[str], None]) -> bool:
    """Takes the shared lock on a regular file (given back when the stream is closed): at once, or,
    while a run of ephem holds the file, once the run is done, said first, if `wait`; without `wait`,
    True when a run holds the file, which is then read unlocked."""
    try:
        fd = stream.fileno()
        if not stat.S_ISREG(os.fstat(fd).st_mode):
            return False
        fcntl.flock(fd, fcntl.LOCK_SH | fcntl.LOCK_NB)
        return False
    except BlockingIOError:
        if not wait:
            return True
    except (OSError, ValueError):
        return False  # no locks here (some network file systems): read as it is
    say(f"note: {name}: ephem is writing this table; waiting until it is done (--no-wait reads what is there)")
    fcntl.flock(fd, fcntl.LOCK_SH)
    return False


def read_table_as_written(path: str, wait: bool = True,
                          say: Callable[[str], None] = lambda _: None) -> Tuple[Table, bool]:
    """The rows of the table at path ("-" for standard input), read under the shared lock; and
    whether, read without waiting, a run of ephem was writing it (the rows are then of that run and
    maybe of an older table: rows_of_one_run)."""
    stream = open_input(path)
    try:
        still_written = locked_for_reading(stream, path, wait, say)
        return read_rows(stream, path, still_written), still_written
    finally:
        if path != "-":
            stream.close()


def read_table(path: str) -> Table:
    """The rows of the table at path ("-" for standard input), once no run of ephem writes it."""
    return read_table_as_written(path)[0]


def follows(time: float, expected: float) -> bool:
    """Whether a row's time, printed to nine digits, is the time expected."""
    return abs(time - expected) < 0.01 + 1e-9 * abs(expected)


def rows_of_one_run(table: Table, start: float, rows: int, second_row_placed: Callable[[Table], bool]) -> Table:
    """The rows of a table read while ephem writes it that are its run's: row k at time start + k, no
    more than the run's `rows`. A run writes its first row over the older table and cuts the rest right
    after, so the rows after the first are either all the run's or all the older table's; an older
    table of the same times is told by its second row's place (second_row_placed, given that row)."""
    count = 0
    limit = min(len(table), max(rows, 0))
    while count < limit and follows(table[count].jd_tdb, start + count):
        count += 1
    if count > 1 and not second_row_placed(Table(table.name, table.values[ROW_LENGTH:2 * ROW_LENGTH])):
        count = 1
    return Table(table.name, table.values[:ROW_LENGTH * count], table.notes)
