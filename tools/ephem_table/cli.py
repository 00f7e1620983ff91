"""The command line of ephem-table: datos, csv, plot and info."""

import argparse
import math
import os
import sys

from . import datos, elements, planets
from .elements import ElementsError
from .events import find_events, event_line
from .plot import plot_table, plot_title
from .table import NAN_CAUSES, NanSummary, TableError, calendar_date, open_table, read_rows, write_csv

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

exit status: 0 success; 1 bad data (a file, or elements ephem cannot compute); 2 bad command line.
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
only elliptic orbits: e must be above 0 and below 1.

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


class UsageError(Exception):
    """A command line that cannot be carried out: status 2."""


def resolve_source(words, start, pick, what):
    """The orbit named by the words of a TARGET or --observer: elements, a planet's name or an MPC file."""
    if not words:
        raise UsageError(f"{what}: nothing given")
    try:
        if all("=" in w for w in words):
            return elements.named_orbit(words)
        if len(words) == 1 and planets.find(words[0]) is not None:
            return elements.planet_orbit(words[0], start)
    except ElementsError as error:
        raise UsageError(f"{what}: {error}")
    if len(words) == 1 and (words[0] == "-" or os.path.isfile(words[0])):
        return mpc_file_orbit(words[0], pick)
    missing = " (there is no such file)" if len(words) == 1 and not os.path.exists(words[0]) else ""
    raise UsageError(f"{what}: {' '.join(words)!r} is neither a planet ({', '.join(planets.NAMES)}), "
                     f"an MPC file{missing} nor elements a= e= i= om= w= M= epoch=")


def mpc_file_orbit(path, pick):
    if path == "-":
        return elements.mpc_orbit(sys.stdin, "<stdin>", pick)
    try:
        with open(path, encoding="latin-1") as lines:
            return elements.mpc_orbit(lines, path, pick)
    except OSError as error:
        raise TableError(f"cannot read {path}: {error.strerror}")


def run_datos(args):
    try:
        start = elements.julian_date(args.start, "--start")
    except ElementsError as error:
        raise UsageError(str(error))
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
                print(f"ephem-table: warning: {orbit.name or 'elements'}: {warning}", file=sys.stderr)
    text = datos.datos_text(target, observer, start, args.rows)
    try:
        datos.write_datos(args.output, text)
    except OSError as error:
        raise TableError(f"cannot write {args.output}: {error.strerror}")


def load_rows(path):
    with open_table(path) as table:
        return list(read_rows(table, path))


def warn_nan(name, rows):
    summary = NanSummary(rows)
    if summary:
        print(f"ephem-table: warning: {summary.message(name)}", file=sys.stderr)
    return summary


def run_csv(args):
    rows = load_rows(args.table)
    write_csv(rows, sys.stdout)
    sys.stdout.flush()
    warn_nan(args.table, rows)


def default_title(table_path, rows):
    """The body's name from the DATOS.DAT beside the table when the generator wrote it and its start is
    the table's first row; else the table's file name."""
    if table_path != "-":
        beside = os.path.join(os.path.dirname(table_path) or ".", "DATOS.DAT")
        name = datos.target_name(beside)
        if name and datos_start_matches(beside, rows[0][0]):
            return plot_title(name, rows)
    return plot_title(table_path, rows)


def datos_start_matches(path, first_time):
    try:
        with open(path, encoding="latin-1") as lines:
            start = float(lines.read().splitlines()[2].split()[0])
    except (OSError, IndexError, ValueError):
        return False
    # The table prints nine significant digits: a hundredth of a day for Julian dates.
    return abs(start - first_time) < 0.01


def run_plot(args):
    rows = load_rows(args.table)
    if not rows:
        raise TableError(f"{args.table}: the table has no rows to plot")
    summary = warn_nan(args.table, rows)
    if not any(math.isfinite(row[1]) and math.isfinite(row[2]) for row in rows):
        raise TableError(f"{args.table}: no row has a place on the sky (every right ascension or "
                         f"declination is NAN or INF), nothing to plot" +
                         ("" if not summary else "; see the warning above for the likely causes"))
    try:
        import matplotlib  # noqa: F401
    except ImportError:
        raise TableError("plotting needs matplotlib (the Debian package python3-matplotlib)")
    title = args.title or default_title(args.table, rows)
    try:
        plot_table(rows, args.output, title)
    except (ValueError, OSError) as error:
        raise TableError(f"cannot write {args.output}: {getattr(error, 'strerror', None) or error}")


def run_info(args):
    rows = load_rows(args.table)
    out = sys.stdout
    out.write(f"{args.table}: {len(rows)} rows\n")
    if rows:
        times = [row[0] for row in rows]
        first, last = calendar_date(times[0]) or f"JD {times[0]}", calendar_date(times[-1]) or f"JD {times[-1]}"
        out.write(f"from {first} to {last} TDB (JD {times[0]!r} to {times[-1]!r})\n")
    summary = NanSummary(rows)
    out.write(f"rows with NAN: {len(summary.rows)}" + (f" ({summary.where()})" if summary else "") + "\n")
    if summary:
        out.write("likely causes:\n" + "".join(f"  - {cause}\n" for cause in NAN_CAUSES))
    events = find_events(rows)
    if events:
        out.write("events:\n")
        for event in events:
            out.write(f"  {event_line(event)}\n")
    out.flush()
    warn_nan(args.table, rows)


def parser():
    p = argparse.ArgumentParser(prog="ephem-table", description=DESCRIPTION, epilog=EPILOG,
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
    d.add_argument("-o", "--output", default="DATOS.DAT", help="the file to write (default DATOS.DAT)")
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
                   help="image file to write; its suffix (.png, .svg, .pdf) sets the format")
    g.add_argument("--title", help="the title (default: the body's name from the DATOS.DAT beside the "
                                   "table when ephem-table datos wrote it, else the file name)")
    g.set_defaults(run=run_plot)

    i = commands.add_parser("info", help="rows, span, NAN rows and events of a table",
                            description="Prints the number of rows, the span in dates (TDB), the rows "
                                        "holding NAN with their likely causes, and the events.")
    i.add_argument("table", nargs="?", default="ZEPO.DAT", help=table_help)
    i.set_defaults(run=run_info)
    return p


def main(argv=None):
    p = parser()
    args = p.parse_args(argv)
    try:
        args.run(args)
    except UsageError as error:
        p.exit(2, f"ephem-table {args.command}: {error}\n")
    except (TableError, ElementsError) as error:
        print(f"ephem-table: {error}", file=sys.stderr)
        return 1
    except OSError as error:
        if isinstance(error, BrokenPipeError):
            # The reader went away (ephem-table csv | head): not an error of ours. Point stdout at
            # /dev/null so that the interpreter's own flush at exit does not complain.
            os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
            return 0
        print(f"ephem-table: {error}", file=sys.stderr)
        return 1
    return 0
