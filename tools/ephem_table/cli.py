"""The command line of ephem-table: datos, csv, plot and info.

Every failure ends in one line on standard error and a status: 1 for bad data (errors.DataError), 2
for a bad command line (errors.UsageError); warnings and notes about a table go to standard error too.
"""

import argparse
import importlib.util
import os
import sys
from typing import List, NoReturn, Optional

from . import datos, elements, mpc, planets
from .dates import DateError, date_or_jd, julian_date
from .errors import DATA_STATUS, USAGE_STATUS, DataError, UsageError
from .events import event_line, find_events
from .files import open_input
from .csvout import write_csv
from .nan import NAN_CAUSES, NanSummary
from .row import Table
from .table import read_table

# ephem reads the row count into a signed 32-bit integer.
MAX_ROWS = 2**31 - 1

DESCRIPTION = """\
The companion of ephem. `datos` writes ephem's input DATOS.DAT from the sources users have; ephem then
writes the table ZEPO.DAT; `csv`, `plot` and `info` turn that table into a spreadsheet, a picture or a
summary.

The places are geometric (no light time, aberration or nutation), referred to the mean equator and
equinox of J2000 with a fixed obliquity; the dates are on the scale of the epochs, TDB.
"""

EPILOG = """\
an ephemeris of Ceres for a month, from its line of MPCORB.DAT:
  ephem-table datos examples/ceres-mpc/ceres.mpc --start 2026-12-01 --rows 31
  ephem
  ephem-table plot -o ceres.png

A table is read as ephem writes it: a row is eight numbers ending with a line end. A last row cut short
(a table copied or read while ephem writes it) is dropped with a warning; a table that ephem is still
writing (it holds its lock) is read up to its last whole row, with a note.

Files written (-o) are replaced whole or not at all, through a temporary file beside them that keeps
their mode; a symbolic link is written through to its target; a FIFO or device is written directly;
- is standard output.

exit status: 0 success; 1 bad data (a file, or elements ephem cannot compute, or an output that cannot be
written); 2 bad command line. Every failure is one line on standard error.
"""

DATOS_DESCRIPTION = """\
Writes DATOS.DAT, the input of ephem: the target's orbit, the observer's orbit, the start time and
the number of rows (one a day). TARGET is one of:

  a planet's name     mercury venus mars jupiter saturn uranus neptune pluto (or emb, the Earth-Moon
                      barycentre): the table of approximate planetary elements (E. M. Standish, JPL,
                      valid 1800-2050) at the start date
  an MPC file         a file holding a minor planet's line of MPCORB.DAT, or a comet's line of the
                      Minor Planet Center's comet format (CometEls.txt); in a file of many lines,
                      --pick TEXT chooses the line that holds TEXT ("(1) Ceres")
  elements            a= e= i= om= w= M= epoch=   (AU, degrees, epoch as a date or Julian date),
                      or q= T= in place of a= M= epoch= (perihelion distance and time); m= adds a
                      mass in solar masses

Angles are referred to the ecliptic and equinox of J2000; i is the inclination, om the longitude of
the ascending node, w the argument of perihelion, M the mean anomaly at the epoch. ephem's model has
only elliptic orbits: e must be above 0 and below 1. Orbits outside these bounds are refused as no
orbit around the Sun:
  perihelion q = a (1 - e)  at least 0.00465 AU, the Sun's radius (a closer one passes through the Sun)
  a                         at most 1,000,000 AU (the Sun's sphere of influence ends near 230,000 AU)
  i                         from -180 to 180 degrees
  w, om, M                  from -360 to 360 degrees: one turn either way holds every orbit and place
  m                         from 0 to 1 solar mass

The observer is the Earth-Moon barycentre from the planetary table at the start date, unless
--observer gives another source in the same forms (quote elements as one argument).

Each line of DATOS.DAT ends with a note that ephem skips; `plot` takes the body's name from it.
"""

DATOS_EPILOG = """\
examples:
  ephem-table datos mars --start 2026-01-01 --rows 365
  ephem-table datos MPCORB.DAT --pick "(1) Ceres" --start 2026-12-01 --rows 31
  ephem-table datos comet.txt --start 1997-10-29 --rows 240
  ephem-table datos a=2.7666 e=0.0786 i=10.587 om=80.266 w=73.532 M=334.33 epoch=2022-08-09 \\
      --name Ceres --start 2459800.5 --rows 100
"""


def resolve_source(words: List[str], start: float, pick: Optional[str], what: str) -> elements.Orbit:
    """The orbit named by the words of a TARGET or --observer: elements, a planet's name or an MPC file."""
    if not words:
        raise UsageError(f"{what}: nothing given")
    try:
        if all("=" in w for w in words):
            return elements.named_orbit(words)
        if len(words) == 1 and planets.find(words[0]) is not None:
            return elements.planet_orbit(words[0], start)
    except DataError as error:
        raise UsageError(f"{what}: {error}") from None
    if len(words) == 1 and (words[0] == "-" or os.path.isfile(words[0])):
        return mpc_file_orbit(words[0], pick)
    missing = " (there is no such file)" if len(words) == 1 and not os.path.exists(words[0]) else ""
    raise UsageError(f"{what}: {' '.join(words)!r} is neither a planet ({', '.join(planets.NAMES)}), "
                     f"an MPC file{missing} nor elements a= e= i= om= w= M= epoch=")


def mpc_file_orbit(path: str, pick: Optional[str]) -> elements.Orbit:
    stream = open_input(path)
    try:
        return mpc.mpc_orbit(stream, "<stdin>" if path == "-" else path, pick)
    finally:
        if path != "-":
            stream.close()


def warn(message: str) -> None:
    print(f"ephem-table: {message}", file=sys.stderr)


def run_datos(args: argparse.Namespace) -> None:
    try:
        start = julian_date(args.start, "--start")
    except DateError as error:
        raise UsageError(str(error)) from None
    if not 1 <= args.rows <= MAX_ROWS:
        raise UsageError(f"--rows {args.rows}: give from 1 to {MAX_ROWS} rows (ephem counts rows in a signed "
                         f"32-bit integer)")
    target = resolve_source(args.target, start, args.pick, "target")
    if args.name:
        target.name = args.name
    observer = resolve_source(args.observer.split(), start, None, "--observer")
    for orbit in (target, observer):
        for warning in (elements.kepler_warning(orbit), elements.perihelion_row_warning(orbit, start, args.rows)):
            if warning:
                warn(f"warning: {orbit.name or 'elements'}: {warning}")
    datos.write_datos(args.output, datos.datos_text(target, observer, start, args.rows))


def load_table(path: str) -> Table:
    """The table, its notes (a torn last row, a table still being written) said on standard error."""
    table = read_table(path)
    for note in table.notes:
        warn(note)
    return table


def warn_nan(table: Table) -> NanSummary:
    summary = NanSummary(table)
    if summary:
        warn(f"warning: {summary.message(table.name)}")
    return summary


def run_csv(args: argparse.Namespace) -> None:
    table = load_table(args.table)
    write_csv(table, sys.stdout)
    sys.stdout.flush()
    warn_nan(table)


def default_title(table_path: str, table: Table) -> str:
    """The body's name from the DATOS.DAT beside the table when the generator wrote it and its start is
    the table's first row; else the table's file name."""
    from .plot import plot_title
    if table_path != "-":
        beside = os.path.join(os.path.dirname(table_path) or ".", "DATOS.DAT")
        try:
            found = datos.read_datos(beside)
        except DataError:
            found = None
        # The table prints nine significant digits: a hundredth of a day for Julian dates.
        if found and found.target_name() and abs(found.start_jd_tdb - table[0].jd_tdb) < 0.01:
            return plot_title(found.target_name(), table)
    return plot_title(table_path, table)


def run_plot(args: argparse.Namespace) -> None:
    table = load_table(args.table)
    if not len(table):
        raise DataError(f"{args.table}: the table has no rows to plot")
    summary = warn_nan(table)
    if not any(0.0 <= row.ra_hours <= 24.0 and abs(row.dec_deg) <= 90.0 for row in table):
        raise DataError(f"{args.table}: no row has a place on the sky (every right ascension or "
                        f"declination is NAN, INF or out of its range), nothing to plot" +
                        ("" if not summary else "; see the warning above for the likely causes"))
    if importlib.util.find_spec("matplotlib") is None:
        raise DataError("plotting needs matplotlib (the Debian package python3-matplotlib)")
    from .plot import plot_table
    title = args.title or default_title(args.table, table)
    plot_table(table, args.output, title)
    # On standard error, as every note: standard output may be the image itself.
    warn("wrote the image to standard output" if args.output == "-" else f"wrote {args.output}")


def run_info(args: argparse.Namespace) -> None:
    table = load_table(args.table)
    out = sys.stdout
    out.write(f"{args.table}: {len(table)} rows\n")
    if len(table):
        first, last = table[0].jd_tdb, table[-1].jd_tdb
        out.write(f"from {date_or_jd(first)} to {date_or_jd(last)} TDB (JD {first!r} to {last!r})\n")
    summary = NanSummary(table)
    out.write(f"rows with NAN: {len(summary.rows)}" + (f" ({summary.where()})" if summary else "") + "\n")
    if summary:
        out.write("likely causes:\n" + "".join(f"  - {cause}\n" for cause in NAN_CAUSES))
    events = find_events(table)
    if events:
        out.write("events:\n")
        for event in events:
            out.write(f"  {event_line(event)}\n")
    out.flush()
    warn_nan(table)


class Parser(argparse.ArgumentParser):
    """argparse's parser, whose usage errors are one line that points to the help."""

    def error(self, message: str) -> NoReturn:
        if len(message) > 300:
            message = message[:300] + "..."
        self.exit(USAGE_STATUS, f"{self.prog}: {message} (see {self.prog} --help)\n")


def parser() -> argparse.ArgumentParser:
    p = Parser(prog="ephem-table", description=DESCRIPTION, epilog=EPILOG,
                                formatter_class=argparse.RawDescriptionHelpFormatter)
    commands = p.add_subparsers(dest="command", required=True, metavar="COMMAND")

    d = commands.add_parser("datos", help="write DATOS.DAT from a planet, an MPC line or elements",
                            description=DATOS_DESCRIPTION, epilog=DATOS_EPILOG,
                            formatter_class=argparse.RawDescriptionHelpFormatter)
    d.add_argument("target", nargs="+", metavar="TARGET", help="a planet, an MPC file, or elements (above)")
    d.add_argument("--start", required=True, metavar="DATE",
                   help="first row: YYYY-MM-DD[THH:MM[:SS]] or a Julian date, TDB")
    d.add_argument("--rows", required=True, type=int, metavar="N", help="number of rows, one a day")
    d.add_argument("--observer", default="emb", metavar="SOURCE",
                   help="the observer's orbit, in the forms of TARGET (default: emb, the Earth-Moon "
                        "barycentre from the planetary table at the start date)")
    d.add_argument("--pick", metavar="TEXT", help="in an MPC file of many lines, the line holding TEXT")
    d.add_argument("--name", help="the target's name for titles (default: from the source)")
    d.add_argument("-o", "--output", default="DATOS.DAT",
                   help="the file to write, replaced whole or not at all (default DATOS.DAT; - for standard "
                        "output)")
    d.set_defaults(run=run_datos)

    table_help = "the table (default ZEPO.DAT; - for standard input)"
    c = commands.add_parser("csv", help="write the table as CSV to standard output",
                            description="Writes the table as CSV to standard output: a comment line "
                                        "stating the frame and time scale, a header row, one record "
                                        "a row. Rows holding NAN are written and warned about on "
                                        "standard error.")
    c.add_argument("table", nargs="?", default="ZEPO.DAT", help=table_help)
    c.set_defaults(run=run_csv)

    g = commands.add_parser("plot", help="draw the sky track, distances, illumination and events",
                            description="Draws the track on the sky (around the pole when it goes "
                                        "beyond 60 degrees of declination), the distances r and "
                                        "Delta, the elongation, phase angle and illuminated fraction "
                                        "against the date (TDB), and marks and lists the events: "
                                        "oppositions, conjunctions, greatest elongations, closest "
                                        "approaches, stationary points in right ascension.")
    g.add_argument("table", nargs="?", default="ZEPO.DAT", help=table_help)
    g.add_argument("-o", "--output", default="track.png",
                   help="image file to write, replaced whole or not at all; its suffix (.png, .svg, .pdf) "
                        "sets the format (- writes a PNG to standard output)")
    g.add_argument("--title", help="the title (default: the body's name from the DATOS.DAT beside the "
                                   "table when ephem-table datos wrote it and it is a regular file of at "
                                   "most 64 KiB, else the file name)")
    g.set_defaults(run=run_plot)

    i = commands.add_parser("info", help="rows, span, NAN rows and events of a table",
                            description="Prints the number of rows, the span in dates (TDB), the rows "
                                        "holding NAN with their likely causes, and the events.")
    i.add_argument("table", nargs="?", default="ZEPO.DAT", help=table_help)
    i.set_defaults(run=run_info)
    return p


def silence_stdout() -> None:
    """Points standard output at /dev/null, so that the interpreter's own flush at exit neither fails
    again nor prints a traceback."""
    try:
        null = os.open(os.devnull, os.O_WRONLY)
        os.dup2(null, sys.stdout.fileno())
        os.close(null)
    except (OSError, ValueError):
        pass


def flush_stdout() -> int:
    """Flushes standard output: 0, or the status of a failure, which is said in one line."""
    try:
        sys.stdout.flush()
    except BrokenPipeError:
        # The reader went away (ephem-table csv | head): not an error of ours.
        silence_stdout()
        return 0
    except OSError as error:
        silence_stdout()
        warn(f"cannot write standard output: {error.strerror}")
        return DATA_STATUS
    return 0


def main(argv: Optional[List[str]] = None) -> int:
    p = parser()
    try:
        args = p.parse_args(argv)
    except SystemExit as done:
        # --help, or a usage error already said; the help may fail to reach its output.
        status = done.code if isinstance(done.code, int) else USAGE_STATUS
        return flush_stdout() or status
    except OSError as error:
        silence_stdout()
        warn(f"cannot write standard output: {error.strerror}")
        return DATA_STATUS
    try:
        args.run(args)
    except UsageError as error:
        print(f"ephem-table {args.command}: {error}", file=sys.stderr)
        return USAGE_STATUS
    except DataError as error:
        warn(str(error))
        return DATA_STATUS
    except BrokenPipeError:
        silence_stdout()
        return 0
    except OSError as error:
        silence_stdout()
        where = f"{error.filename}" if error.filename else "cannot write standard output"
        warn(f"{where}: {error.strerror or error}")
        return DATA_STATUS
    except MemoryError:
        warn("out of memory")
        return DATA_STATUS
    except KeyboardInterrupt:
        return 130
    except Exception as error:  # a fault of ours: still one line, never a traceback
        warn(f"unexpected failure, a fault of ephem-table ({type(error).__name__}: {error})")
        return DATA_STATUS
    return flush_stdout()
