"""The command line of ephem-table: datos, csv, plot, info, and run (all of them in one command).

Every failure ends in one line on standard error and a status: 1 for bad data (errors.DataError), 2
for a bad command line (errors.UsageError); warnings and notes about a table go to standard error too.
"""

import argparse
import dataclasses
import importlib.util
import io
import math
import os
import sys
from typing import List, Optional, TextIO, Tuple

from . import __version__, accuracy, datos, elements, fitting, magnitudes, mpc, planets
from .dates import DATE_FORMS, DateError, date_or_jd, julian_date
from .errors import DATA_STATUS, USAGE_STATUS, DataError, UsageError
from .helpformat import Parser, add_command
from .events import UNTOLD_WITHOUT_OBSERVER, event_line, find_events
from .files import open_input, write_output
from .csvout import write_csv
from .nan import NAN_CAUSES, NanSummary, datos_causes
from .observing import SiteOptions, add_site_arguments, csv_columns, site_options, write_nights, write_rates
from .row import ROW_LENGTH, Table
from .step import DAILY, DURATION_FORMS, Step, counts_steps, parse_step, real_table, scaled_note
from .run import find_ephem, run_ephem, run_folder
from .table import read_table_as_written, rows_of_one_run
from .timescales import leap_second_note, utc_available, utc_date

# ephem reads the row count into a signed 32-bit integer.
MAX_ROWS = 2**31 - 1

DESCRIPTION = """\
The companion of ephem. `datos` writes ephem's input DATOS.DAT from the sources users have (a planet, a
line of the Minor Planet Center's orbit files, or elements); ephem then writes the table ZEPO.DAT; `csv`,
`plot` and `info` turn that table into a spreadsheet, a picture or a summary. `run` does it all in one
command, in a folder of its own. --site adds what a site on the Earth sees (ephem-table(1), SITE).

The places are geometric (no light time, aberration, precession or nutation), right ascension and
declination referred to the mean equator and equinox of J2000 with a fixed obliquity. The dates are on
the scale of the epochs of the elements, TDB; csv and info give UTC beside them from 1960 on
(ephem-table(1), TIME SCALES).
"""

EXAMPLES = (
    "# an ephemeris of Ceres for a month, from its line of MPCORB.DAT:",
    "ephem-table datos examples/ceres-mpc/ceres.mpc --start 2023-03-01 --rows 31",
    "ephem",
    "ephem-table plot -o ceres.png",
    "ephem-table csv > ceres.csv",
    "ephem-table info",
    "# or in one command, which leaves the working directory as it was but for the",
    "# CSV and the plot:",
    "ephem-table run examples/ceres-mpc/ceres.mpc --start 2023-03-01 --rows 31 \\\n"
    "    --csv ceres.csv --plot ceres.png",
)

# The sections of the manual page, in its order, past the commands: where --help points for the rest.
MANUAL_SECTIONS = ("SOURCES", "NOTES IN DATOS.DAT", "FIT", "STEP", "SITE", "TIME SCALES", "EVENTS", "MAGNITUDES", "CSV COLUMNS", "PLOTS",
                   "NAN ROWS", "READING TABLES", "WRITING FILES", "RUNNING EPHEM", "EXIT STATUS")

DATOS_DESCRIPTION = """\
Writes DATOS.DAT, the input of ephem: the target's orbit, the observer's orbit, the start time and the
number of rows (one a day, or one a --step). TARGET is a planet's name (mercury to pluto; emb, the
Earth-Moon barycentre; geocentre, the Earth's centre), a file holding a minor planet's line of
MPCORB.DAT or a comet's line of CometEls.txt, compressed by gzip or not (- is standard input), or
elements: a= e= i= om= w= M= epoch= (AU, degrees, and a date or Julian date), or q= T= (perihelion
distance and time) in place of a= M= epoch=, with m= (a mass in solar masses), H= and G= (the magnitude
parameters of the H, G system) if wanted, as separate words or one quoted word (ephem-table(1), SOURCES).

The orbits are fitted: ephem is given not the elements as the sources give them but the two-body orbits
that stay closest to where the bodies are over the table's dates, the planets and the Earth as ERFA
computes them, a minor planet or comet as its elements move under the planets' pulls; csv then says of
every row how far it is from that reference (ephem-table(1), FIT). An orbit that is no ellipse around the
Sun is refused; elements used as given far from their epoch, and a close approach to the Earth, are
warned about.
"""

DATOS_EXAMPLES = (
    "ephem-table datos mars --start 2026-01-01 --rows 365",
    "ephem-table datos mars --start 2026-01-01 --rows 365 --as-given",
    "ephem-table datos MPCORB.DAT.gz --pick ceres --start 2026-12-01 --rows 31",
    "ephem-table datos q=0.976 e=0.9056 i=162.49 om=235.27 w=172.50 T=1998-02-28.0977 \\\n"
    "    --start 1998-01-01 --rows 90 \\\n"
    "    --observer \"a=1.0000025 e=0.0167121 i=0.00024 om=0 w=102.9312 M=-2.4541 epoch=1998-01-01\"",
    "ephem-table datos comet.txt --start 1997-10-29 --rows 240",
    "ephem-table datos mars --start 2027-01-06 --rows 14400 --step 1m",
    "ephem-table datos a=2.7666 e=0.0786 i=10.587 om=80.266 w=73.532 M=334.33 \\\n"
    "    epoch=2022-08-09 --name Ceres --start 2459800.5 --rows 100",
)

CSV_DESCRIPTION = """\
Writes the table as CSV to standard output: a comment line stating the frame and the time scales, a
header row, and one record a row: its date in TDB and in UTC, the place, the distances and the angles as
the table has them, the visual magnitude, the model error, the rates of motion, and with --site what the
site sees (ephem-table(1), CSV COLUMNS). Rows holding NAN are written, and warned about on standard
error.
"""

PLOT_DESCRIPTION = """\
Draws the track on the sky, the distances r and Delta, the visual magnitude and the model error where
they are known, and the elongation, phase angle and illuminated fraction against the date (TDB), and
marks and lists the events: oppositions, conjunctions, greatest elongations, closest approaches,
stationary points in right ascension (ephem-table(1), PLOTS). Plotting needs matplotlib (the Debian
package python3-matplotlib).
"""

INFO_DESCRIPTION = """\
Prints a summary of the table: the number of rows (and their step, when it is not a day); their span in
dates (TDB, and UTC from 1960); the rows holding NAN, with their likely causes; the visual magnitude's
formula and the brightest row's date and value, or why there is none, and why some rows have none; the
model error (the references, the largest and its date with the observer's and the target's parts there,
the largest of each part, and what the references are good for, or why there is none); the fastest and
slowest rows; which events cannot be told without the observer's orbit; and the events, in TDB. With
--site, each night of the span.
"""

RUN_DESCRIPTION = """\
Computes a table in one command: writes DATOS.DAT from TARGET as `datos` does (the same forms and
options), runs ephem on it in a folder of its own, and from the table it writes produces the CSV
(--csv), the plot (--plot) and the summary of `info` (on standard output, or on standard error when
the CSV or the plot goes there).

ephem is the one installed beside ephem-table (the folder of the real path of ephem-table, bin/ after
cmake --install), else the first on PATH. It runs in a fresh temporary folder, removed afterwards
unless --keep; a DATOS.DAT or ZEPO.DAT of the working directory is never replaced unless --dir names
that directory.
"""

RUN_EXAMPLES = (
    "# one night's planning from Paris: altitudes, rise, transit, set, dark",
    "ephem-table run mars --start 2027-02-19 --rows 288 --step 10m \\\n"
    "    --site 48.8566,2.3522,35 --csv mars.csv --plot mars.png",
    "ephem-table run examples/ceres-mpc/ceres.mpc --start 2023-03-01 --rows 31 \\\n"
    "    --csv ceres.csv --plot ceres.png",
    "ephem-table run mars --start 2026-01-01 --rows 400 --dir mars-2026",
    "ephem-table run MPCORB.DAT.gz --pick \"2021 QL3\" --start 2026-12-01 --rows 60 \\\n"
    "    --csv - > ql3.csv",
    "ephem-table run MPCORB.DAT.gz --pick 2P --start 2026-12-01 --rows 60 --dir encke",
    "ephem-table run a=0.9224 e=0.1911 i=3.34 w=126.4 om=203.986 M=252.5822 \\\n"
    "    epoch=2029-04-13T21:46 --start 2029-04-12T12:00 --rows 289 --step 10m \\\n"
    "    --plot flyby.png",
)


def resolve_source(words: List[str], start: float, pick: Optional[str], what: str) -> elements.Orbit:
    """The orbit named by the words of a TARGET or --observer: elements, a planet's name or an MPC file
    (a path that is no folder: a FIFO and /dev/fd/N are read as they come; - is standard input)."""
    if not words:
        raise UsageError(f"{what}: nothing given")
    try:
        if all("=" in w for w in words):
            return elements.named_orbit(words)
        if len(words) == 1 and words[0].lower() in elements.GEOCENTRE_NAMES:
            return elements.geocentre_orbit(start)
        if len(words) == 1 and planets.find(words[0]) is not None:
            return elements.planet_orbit(words[0], start)
    except DataError as error:
        raise UsageError(f"{what}: {error}") from None
    if len(words) == 1 and (words[0] == "-" or (os.path.exists(words[0]) and not os.path.isdir(words[0]))):
        return mpc_file_orbit(words[0], pick)
    missing = ""
    if len(words) == 1:
        missing = " (it is a folder)" if os.path.isdir(words[0]) else \
            " (there is no such file)" if not os.path.exists(words[0]) else ""
    near = planets.near_miss(words[0]) if len(words) == 1 and not os.path.exists(words[0]) else None
    hint = f" (did you mean {near}?)" if near else ""
    raise UsageError(f"{what}: {' '.join(words)!r} is neither a planet ({', '.join(planets.NAMES)}), "
                     f"an MPC file{missing} nor elements a= e= i= om= w= M= epoch={hint}")


def mpc_file_orbit(path: str, pick: Optional[str]) -> elements.Orbit:
    stream = open_input(path)
    try:
        return mpc.mpc_orbit(stream, "<stdin>" if path == "-" else path, pick)
    finally:
        if path != "-":
            stream.close()


def warn(message: str) -> None:
    print(f"ephem-table: {message}", file=sys.stderr)


def separate_sources(target: List[str], observer: List[str]) -> Tuple[List[str], List[str]]:
    """The words of the target and of the observer. --observer takes every word up to the next option:
    an observer is one word (a planet or a file) or elements, and the words after it are the target's
    (`datos --observer venus mars`). Elements may be separate words or one quoted word."""
    words = elements.element_words(observer)
    if "=" not in words[0]:
        count = 1
    else:
        count = next((k for k, word in enumerate(words) if "=" not in word), len(words))
    return elements.element_words(target) + words[count:], words[:count]


def table_span(args: argparse.Namespace) -> Tuple[float, int, Step]:
    """The start (JD, TDB), the number of rows and the step between them of the table asked for."""
    try:
        start = julian_date(args.start, "--start")
    except DateError as error:
        raise UsageError(str(error)) from None
    if not 1 <= args.rows <= MAX_ROWS:
        raise UsageError(f"--rows {args.rows}: give from 1 to {MAX_ROWS} rows (ephem counts rows in a signed "
                         f"32-bit integer)")
    try:
        every = parse_step(args.step)
    except ValueError as error:
        raise UsageError(f"--step {error}") from None
    return start, args.rows, every


def source_orbits(args: argparse.Namespace, start: float) -> Tuple[elements.Orbit, elements.Orbit]:
    """The target's and the observer's orbits from the sources on the command line."""
    target_words, observer_words = separate_sources(args.target, args.observer)
    target = resolve_source(target_words, start, args.pick, "target")
    if args.name:
        target.name = args.name
    observer = resolve_source(observer_words, start, None, "--observer")
    if elements.same_body(target, observer):
        raise UsageError(f"the target and the observer are one orbit ({target.name or 'elements'}): the "
                         f"distance between them is 0 and every row would be NAN; give another --observer")
    for words, what in ((target_words, "the target"), (observer_words, "the observer")):
        if [word.lower() for word in words] == ["earth"]:
            warn(f"note: {what}, earth, is the Earth-Moon barycentre (emb), as it has always been here; geocentre "
                 f"is the Earth's centre")
    return target, observer


def warn_as_given(orbits: Tuple[elements.Orbit, ...], start: float, rows: int, every: Step) -> None:
    """The warnings about orbits used as given: rows far from the epoch of their elements, or past the end
    of the planetary table."""
    step_days = float(every.days)
    for orbit in orbits:
        if orbit.fit is not None:
            continue
        for warning in (elements.epoch_warning(orbit, start, rows, step_days),
                        elements.planet_span_warning(orbit, start, rows, step_days)):
            if warning:
                warn(f"warning: {orbit.name or 'elements'}: {warning}")


def datos_for(args: argparse.Namespace) -> Tuple[str, elements.Orbit]:
    """The text of DATOS.DAT for the sources and span on the command line, and the target's orbit: fitted
    over the table's dates (fitting.py) unless --as-given, with a close approach warned about."""
    start, rows, every = table_span(args)
    target, observer = source_orbits(args, start)
    last = start + float((rows - 1) * every.days)
    if args.as_given:
        if elements.GEOCENTRE_SOURCE in (target.source, observer.source):
            raise UsageError("the Earth's centre has no elements to give: the planetary table holds the Earth-Moon "
                             "barycentre (emb) alone, and geocentre is fitted to ERFA's epv00, which --as-given "
                             "leaves out")
    else:
        target, observer = fitting.fit_table(target, observer, start, last, warn)
    warn_as_given((target, observer), start, rows, every)
    approach = accuracy.close_approach_warning(target, observer, start, last)
    if approach:
        warn(f"warning: {approach}")
    return datos.datos_text(target, observer, start, rows, every), target


def run_datos(args: argparse.Namespace) -> None:
    datos.write_datos(args.output, datos_for(args)[0])


def load_table(path: str, named: Optional[str], wait: bool = True) -> Tuple[Table, Optional[datos.Datos], str]:
    """The table in real dates and distances, its notes (a torn last row, a table still being written)
    said on standard error; with the DATOS.DAT that made it (named by --datos, else the one beside it),
    its values real, or None and why. The table of a scaled run (datos --step) is turned into real
    dates and distances here, once; without its DATOS.DAT it is refused. A table that ephem is writing
    is waited for, or, without `wait`, read as it is and kept to the rows of the run that writes it,
    which its DATOS.DAT tells."""
    table, still_written = read_table_as_written(path, wait, warn)
    for note in table.notes:
        warn(note)
    if still_written:
        table = this_runs_rows(path, table, named)
    found, why = datos.for_table(path, table, named)
    if found is not None and found.origin_jd_tdb is not None:
        return real_table(table, found.step, found.origin_jd_tdb, found.start_jd_tdb), found.real(), ""
    if found is None and counts_steps(table):
        raise DataError(f"{path}: its times count rows from 0, as in the table of a step other than one day "
                        f"(ephem-table datos --step), whose dates and distances need the step and factors of "
                        f"the DATOS.DAT that made it; {why}")
    return table, found, why


def this_runs_rows(path: str, table: Table, named: Optional[str]) -> Table:
    """The rows of a table read while ephem writes it that are that run's (table.rows_of_one_run), by the
    DATOS.DAT that made its first row (--datos, else the one beside it); without one, it is refused."""
    found, why = datos.for_table(path, Table(table.name, table.values[:ROW_LENGTH]), named)
    if found is None:
        raise DataError(f"{path}: ephem is writing this table, and its rows cannot be told from an older "
                        f"table's without the DATOS.DAT that made it ({why}); read it without --no-wait")

    second_row = dataclasses.replace(found, start_jd_tdb=found.start_jd_tdb + 1)

    def placed(second: Table) -> bool:
        return not datos.describes(second_row, second)
    kept = rows_of_one_run(table, found.start_jd_tdb, found.rows, placed)
    if len(kept) < len(table):
        warn(f"note: {path}: rows {len(kept) + 1} to {len(table)} are not this run's (an older table not yet cut "
             f"away): left out")
    return kept


def warn_nan(table: Table) -> NanSummary:
    summary = NanSummary(table)
    if summary:
        warn(f"warning: {summary.message(table.name)}")
    return summary


def warn_no_utc() -> None:
    if not utc_available():
        warn("warning: the UTC dates are left empty: telling UTC needs python3-erfa")


def run_csv(args: argparse.Namespace) -> None:
    options = site_options(args)
    table, found, why = load_table(args.table, args.datos, not args.no_wait)
    warn_no_utc()
    write_table_csv(table, sys.stdout, found, magnitudes.table_magnitudes(table, found, why),
                    accuracy.model_errors(table, found, why), options)
    sys.stdout.flush()
    warn_nan(table)


def default_title(table_path: str, table: Table) -> str:
    """The body's name from the DATOS.DAT beside the table when the generator wrote it and its start is
    the table's first row; else the table's file name."""
    from .plot import plot_title
    if table_path != "-":
        try:
            found = datos.read_datos(datos.beside(table_path)).real()
        except DataError:
            found = None
        # The table prints nine significant digits: a hundredth of a day for Julian dates.
        if found and found.target_name() and abs(found.start_jd_tdb - table[0].jd_tdb) < 0.01:
            return plot_title(found.target_name(), table)
    return plot_title(table_path, table)


def check_plotting() -> None:
    if importlib.util.find_spec("matplotlib") is None:
        raise DataError("plotting needs matplotlib (the Debian package python3-matplotlib)")


def run_plot(args: argparse.Namespace) -> None:
    options = site_options(args)
    table, found, why = load_table(args.table, args.datos, not args.no_wait)
    if not len(table):
        raise DataError(f"{args.table}: the table has no rows to plot")
    draw(args.table, table, args.output, args.title, warn_nan(table), found,
         magnitudes.table_magnitudes(table, found, why)[0], accuracy.model_errors(table, found, why)[0], options)


def draw(table_path: str, table: Table, output: str, title: Optional[str], summary: NanSummary,
         found: Optional[datos.Datos], computed: Optional[magnitudes.Magnitudes],
         model: Optional[accuracy.ModelErrors], options: Optional[SiteOptions]) -> None:
    """The plot of a table whose NAN rows have been warned about (summary); found is the DATOS.DAT that
    made it, or None; computed its magnitudes and model its model errors, where known; options the site
    to draw the altitude from, or None."""
    if not any(0.0 <= row.ra_hours <= 24.0 and abs(row.dec_deg) <= 90.0 for row in table):
        raise DataError(f"{table_path}: no row has a place on the sky (every right ascension or "
                        f"declination is NAN, INF or out of its range), nothing to plot" +
                        ("" if not summary else "; see the warning above for the likely causes"))
    check_plotting()
    from .plot import plot_table
    plot_table(table, output, title or default_title(table_path, table), found,
               computed.values if computed is not None else None, computed.label if computed is not None else "",
               computed.empty if computed is not None else [], options, model)
    # On standard error, as every note: standard output may be the image itself.
    warn("wrote the image to standard output" if output == "-" else f"wrote {output}")


def write_table_csv(table: Table, out: TextIO, found: Optional[datos.Datos],
                    mags: Tuple[Optional[magnitudes.Magnitudes], str], model: Tuple[Optional[accuracy.ModelErrors], str],
                    options: Optional[SiteOptions] = None) -> None:
    """The CSV of a table made from the DATOS.DAT found (or None), with its visual magnitudes
    (magnitudes.table_magnitudes), or an empty column and why; the model errors (accuracy.model_errors),
    or empty columns and why; then the rates of motion, and the site's columns with options."""
    computed, why = mags
    rows_note = scaled_note(found.step) if found is not None and not found.step.daily else ""
    leap = leap_second_note(table.column("jd_tdb"))
    if leap:
        rows_note += ("; " if rows_note else "") + f"date_utc {leap}"
    errors = (model[0].arcsec, model[0].observer_km) if model[0] is not None else None
    errors_note = accuracy.csv_note(*model)
    more, more_note = csv_columns(table, found, options)
    if computed is not None:
        note = computed.label + "".join(f"; empty in {reason}" for reason in computed.empty)
        write_csv(table, out, computed.values, note, rows_note, errors, errors_note, more, more_note)
    else:
        write_csv(table, out, None, f"empty: {why}", rows_note, errors, errors_note, more, more_note)


def write_magnitudes(out: TextIO, table: Table, mags: Tuple[Optional[magnitudes.Magnitudes], str]) -> None:
    """The formula, the brightest row, and why rows have none (magnitudes.table_magnitudes)."""
    computed, why = mags
    if computed is None:
        out.write(f"magnitude: none, {why}\n")
        return
    out.write(f"magnitude: {computed.label}\n")
    values = computed.values
    rows = [k for k in range(len(values)) if math.isfinite(values[k])]
    if rows:
        brightest = min(rows, key=lambda k: values[k])
        out.write(f"brightest: V {values[brightest]:.2f} on {date_or_jd(table[brightest].jd_tdb)} TDB "
                  f"(the brightest row)\n")
    for reason in computed.empty:
        out.write(f"  no magnitude in {reason}\n")
    for remark in computed.remarks:
        out.write(f"  {remark}\n")


def run_info(args: argparse.Namespace) -> None:
    options = site_options(args)
    table, found, why = load_table(args.table, args.datos, not args.no_wait)
    write_info(args.table, table, sys.stdout, found, why, magnitudes.table_magnitudes(table, found, why),
               accuracy.model_errors(table, found, why), options, args.datos or beside_table(args.table))
    warn_nan(table)


def beside_table(table_path: str) -> Optional[str]:
    return None if table_path == "-" else datos.beside(table_path)


def nan_causes(found: Optional[datos.Datos], datos_path: Optional[str]) -> List[str]:
    """The values of the DATOS.DAT that made the table that give NAN rows; [] when it is not known. A
    file whose orbits are no ellipses never describes its table (datos.for_table), so it is read here
    as it is."""
    if found is None and datos_path is not None:
        try:
            found = datos.read_datos(datos_path).real()
        except (DataError, ValueError, ZeroDivisionError):
            return []
    return datos_causes(found) if found is not None else []


def write_info(name: str, table: Table, out: TextIO, found: Optional[datos.Datos], why: str,
               mags: Tuple[Optional[magnitudes.Magnitudes], str], model: Tuple[Optional[accuracy.ModelErrors], str],
               options: Optional[SiteOptions] = None, datos_path: Optional[str] = None) -> None:
    """The summary of a table: rows, span in TDB and UTC, NAN rows and their causes, magnitudes
    (magnitudes.table_magnitudes), the model error (accuracy.model_errors), rates of motion, events, and
    with options the site's nights; found is the DATOS.DAT that made the table, or None and why."""
    out.write(f"{name}: {len(table)} rows\n")
    if found is not None and not found.step.daily:
        out.write(f"{scaled_note(found.step)}\n")
    if len(table):
        first, last = table[0].jd_tdb, table[-1].jd_tdb
        out.write(f"from {date_or_jd(first)} to {date_or_jd(last)} TDB (JD {first!r} to {last!r})\n")
        first_utc, last_utc = utc_date(first), utc_date(last)
        leap = leap_second_note([first, last])
        if first_utc and last_utc:
            out.write(f"from {first_utc} to {last_utc} UTC" + (f" ({leap})" if leap else "") + "\n")
        elif last_utc:
            out.write(f"to {last_utc} UTC (no UTC before 1960" + (f"; {leap}" if leap else "") + ")\n")
    summary = NanSummary(table)
    out.write(f"rows with NAN: {len(summary.rows)}" + (f" ({summary.where()})" if summary else "") + "\n")
    if summary:
        causes = nan_causes(found, datos_path)
        if causes:
            out.write("cause, in DATOS.DAT:\n" + "".join(f"  - {cause}\n" for cause in causes))
        else:
            out.write("likely causes:\n" + "".join(f"  - {cause}\n" for cause in NAN_CAUSES))
    write_magnitudes(out, table, mags)
    out.write("".join(f"{line}\n" for line in accuracy.summary_lines(table, *model)))
    write_rates(out, table)
    events = find_events(table, found)
    if found is None and len(table) >= 3:
        out.write(f"not told: {UNTOLD_WITHOUT_OBSERVER}, and {why}\n")
    if events:
        out.write("events:\n")
        for event in events:
            out.write(f"  {event_line(event)}\n")
    if options is not None:
        write_nights(out, table, found, options, mags[0].values if mags[0] is not None else None)
    out.flush()


def run_run(args: argparse.Namespace) -> None:
    if args.csv == "-" and args.plot == "-":
        raise UsageError("--csv - and --plot - would both write standard output: give one of them a file")
    options = site_options(args)
    text, target = datos_for(args)
    ephem = find_ephem(sys.argv[0])
    if args.plot:
        check_plotting()
    # The summary goes where the CSV or the plot does not.
    out = sys.stderr if "-" in (args.csv, args.plot) else sys.stdout
    with run_folder(args.dir, args.keep) as folder:
        if args.keep and args.dir is None:
            warn(f"note: the run's DATOS.DAT and ZEPO.DAT are kept in {folder}")
        datos.write_datos(os.path.join(folder, "DATOS.DAT"), text)
        run_ephem(ephem, folder)
        table_path = os.path.join(folder, "ZEPO.DAT")
        table, found, why = load_table(table_path, None)
        summary = warn_nan(table)
        mags = magnitudes.table_magnitudes(table, found, why)
        model = accuracy.model_errors(table, found, why)
        if args.csv:
            warn_no_utc()
            rendered = io.StringIO()
            write_table_csv(table, rendered, found, mags, model, options)
            write_output(args.csv, rendered.getvalue().encode("utf-8"))
            warn("wrote the CSV to standard output" if args.csv == "-" else f"wrote {args.csv}")
        if args.plot:
            draw(table_path, table, args.plot, None, summary, found, mags[0], model[0], options)
        # A table in a folder that is removed is named by its body.
        kept = args.dir is not None or args.keep
        write_info(table_path if kept else target.name or "ZEPO.DAT", table, out, found, why, mags, model, options,
                   datos.beside(table_path))


def parser() -> Parser:
    p = Parser(prog="ephem-table", description=DESCRIPTION, examples=EXAMPLES, manual=MANUAL_SECTIONS)
    p.add_argument("--version", action="version", version=f"ephem-table {__version__}",
                   help="print the version and exit")
    commands = p.add_subparsers(dest="command", required=True, metavar="COMMAND")

    d = add_command(commands, "datos", help="write DATOS.DAT from a planet, an MPC line or elements",
                    description=DATOS_DESCRIPTION, examples=DATOS_EXAMPLES,
                    manual=("SOURCES", "NOTES IN DATOS.DAT", "FIT", "STEP", "TIME SCALES", "WRITING FILES"))
    add_source_arguments(d, "a planet's name, an MPC file or elements, as above: before the options, or after "
                            "the words of --observer")
    d.add_argument("-o", "--output", default="DATOS.DAT", metavar="FILE",
                   help="the file to write (default DATOS.DAT; - for standard output), replaced whole or not "
                        "at all (ephem-table(1), WRITING FILES)")
    d.set_defaults(run=run_datos)

    table_help = "the table (default ZEPO.DAT; - for standard input)"
    datos_help = ("the DATOS.DAT that made the table (default: the one beside the table, if it describes it): "
                  "its observer's orbit gives the Sun's place for oppositions, conjunctions and greatest "
                  "elongations, its notes the magnitude parameters, and a table of another step than a day "
                  "needs it (ephem-table(1), READING TABLES)")
    no_wait_help = ("while ephem writes the table, read what is there now rather than wait until it is done: "
                    "only the rows whose times and places follow the DATOS.DAT that made it (refused without "
                    "one; ephem-table(1), READING TABLES)")
    c = add_command(commands, "csv", help="write the table as CSV to standard output",
                    description=CSV_DESCRIPTION,
                    examples=("ephem-table csv > mars.csv",
                              "ephem-table csv mars-2026/ZEPO.DAT --site paris > mars-paris.csv",
                              "ephem-table csv - --datos DATOS.DAT < ZEPO.DAT | head"),
                    manual=("CSV COLUMNS", "FIT", "MAGNITUDES", "SITE", "NAN ROWS", "READING TABLES"))
    c.add_argument("table", nargs="?", default="ZEPO.DAT", help=table_help)
    c.add_argument("--datos", metavar="FILE", help=datos_help)
    add_site_arguments(c)
    c.add_argument("--no-wait", action="store_true", help=no_wait_help)
    c.set_defaults(run=run_csv)

    g = add_command(commands, "plot", help="draw the sky track, distances, illumination and events",
                    description=PLOT_DESCRIPTION,
                    examples=("ephem-table plot -o mars.svg",
                              "ephem-table plot mars-2026/ZEPO.DAT --title \"Mars in 2026\" -o mars.png"),
                    manual=("PLOTS", "EVENTS", "SITE", "READING TABLES", "WRITING FILES"))
    g.add_argument("table", nargs="?", default="ZEPO.DAT", help=table_help)
    g.add_argument("-o", "--output", default="track.png", metavar="IMAGE",
                   help="the image to write (default track.png), replaced whole or not at all; its suffix "
                        "(.png, .svg, .pdf) sets the format (- writes a PNG to standard output; "
                        "ephem-table(1), WRITING FILES)")
    g.add_argument("--title", help="the title (default: the body's name from the DATOS.DAT beside the table "
                                   "when ephem-table datos wrote it, it starts where the table does and it is a "
                                   "regular file of at most 64 KiB, else the table's file name)")
    g.add_argument("--datos", metavar="FILE", help=datos_help)
    add_site_arguments(g)
    g.add_argument("--no-wait", action="store_true", help=no_wait_help)
    g.set_defaults(run=run_plot)

    i = add_command(commands, "info", help="rows, span, NAN rows and events of a table",
                    description=INFO_DESCRIPTION,
                    examples=("ephem-table info", "ephem-table info mars-2026/ZEPO.DAT --site paris"),
                    manual=("EVENTS", "MAGNITUDES", "FIT", "SITE", "NAN ROWS", "READING TABLES"))
    i.add_argument("table", nargs="?", default="ZEPO.DAT", help=table_help)
    i.add_argument("--datos", metavar="FILE", help=datos_help)
    add_site_arguments(i)
    i.add_argument("--no-wait", action="store_true", help=no_wait_help)
    i.set_defaults(run=run_info)

    r = add_command(commands, "run", help="datos, ephem, csv, plot and info in one command",
                    description=RUN_DESCRIPTION, examples=RUN_EXAMPLES,
                    manual=("RUNNING EPHEM", "SOURCES", "FIT", "STEP", "SITE", "WRITING FILES"))
    add_source_arguments(r, "a planet's name, an MPC file or elements, as for datos: before the options, or "
                            "after the words of --observer")
    r.add_argument("--csv", metavar="FILE", help="write the CSV there, replaced whole or not at all (- for "
                                                 "standard output)")
    r.add_argument("--plot", metavar="IMAGE", help="draw the plot there, replaced whole or not at all; its suffix "
                                                   "sets the format (- writes a PNG to standard output)")
    r.add_argument("--dir", metavar="DIR", help="run ephem in DIR (made if missing) and leave DATOS.DAT and "
                                                "ZEPO.DAT there (default: a fresh temporary folder, removed "
                                                "afterwards)")
    r.add_argument("--keep", action="store_true", help="keep the temporary folder and say where it is")
    add_site_arguments(r)
    r.set_defaults(run=run_run)
    return p


def add_source_arguments(p: argparse.ArgumentParser, target_help: str) -> None:
    """The arguments that say what table to compute: the sources, the span and its step."""
    p.add_argument("target", nargs="*", metavar="TARGET", help=target_help)
    p.add_argument("--start", required=True, metavar="DATE",
                   help=f"first row: {DATE_FORMS} or a Julian date, TDB (ephem-table(1), TIME SCALES)")
    p.add_argument("--rows", required=True, type=int, metavar="N",
                   help=f"the number of rows, one a step, from 1 to {MAX_ROWS} (ephem counts rows in a signed "
                        f"32-bit integer)")
    p.add_argument("--step", default=DAILY.text, metavar="DURATION",
                   help=f"the time between rows, {DURATION_FORMS} (m minutes, h hours, d days), from 1 minute to "
                        f"100 days; the default, 1d, is ephem's own step and writes DATOS.DAT as it has always "
                        f"been. At another step DATOS.DAT holds the two-body problem scaled to it, exactly, and "
                        f"the table is read through csv, plot and info (ephem-table(1), STEP)")
    p.add_argument("--observer", nargs="+", default=["emb"], metavar="SOURCE",
                   help="the observer's orbit, in the forms of TARGET (default: emb, the Earth-Moon "
                        "barycentre; geocentre is the Earth's centre); its words end at the next option, or at "
                        "the first word after it that is not an element, which begins TARGET (datos --observer "
                        "venus mars)")
    p.add_argument("--as-given", action="store_true",
                   help="give ephem the elements as the sources give them (a planet's and the observer's from the "
                        "planetary table at the start date), as ephem-table did before it fitted them, instead of "
                        "the orbits fitted over the table's dates (ephem-table(1), FIT)")
    p.add_argument("--pick", metavar="TEXT", help="in an MPC file of many lines, the line that names TEXT, else "
                                                  "the one that holds it, in any case of letters (ephem-table(1), "
                                                  "SOURCES)")
    p.add_argument("--name", help="the target's name for titles (default: from the source)")


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
