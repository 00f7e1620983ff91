"""Tests of reading ZEPO.DAT: the spellings of its items, rows on one or two lines, and a table as ephem
leaves it: cut inside a row, still being written under its lock, endless, or malformed."""

import datetime
import fcntl
import io
import math
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import unittest
from typing import Dict, Tuple
from unittest import mock

from testing import EPHEM, MARS_TABLE, NAN_ROW, ONE_LINE_ROW, SCRIPT, TWO_LINE_ROW, TestCase, long_check, run_tool
from ephem_table import datos, elements
from ephem_table import table as et
from ephem_table.dates import julian_date
from ephem_table.step import parse_step
from ephem_table.errors import DataError


def read(text, name="ZEPO.DAT"):
    data = text.encode("latin-1") if isinstance(text, str) else text
    return et.read_rows(io.BytesIO(data), name)


def rows_of(text):
    return [tuple(row) for row in read(text)]


class ReadRowsTest(TestCase):
    def test_one_and_two_line_rows_in_one_table(self):
        rows = rows_of(TWO_LINE_ROW + ONE_LINE_ROW + TWO_LINE_ROW)
        self.assertEqual(rows, [(2451545.0, 22.0352961, -13.1786492, 1.39115922, 1.84956441, 47.6050457,
                                 31.4665953, 0.926472324),
                                (2453500.0, 13.5, -7.25, 1.52, 0.67, 150.3, 20.1, 0.97),
                                (2451545.0, 22.0352961, -13.1786492, 1.39115922, 1.84956441, 47.6050457,
                                 31.4665953, 0.926472324)])

    def test_item_spellings(self):
        # Each spelling a host may write for an item, and the value it stands for.
        cases = [
            ("2451545.", 2451545.0),
            ("1.E+09", 1e9),
            ("-5.55111512E-17", -5.55111512e-17),
            ("1.234E-005", 1.234e-5),       # three exponent digits
            ("1.5D3", 1500.0),
            ("0.", 0.0),
            ("INF", math.inf),
            ("-INF", -math.inf),
            ("inf", math.inf),
        ]
        for text, value in cases:
            with self.subTest(text=text):
                self.assertEqual(et.parse_value(text), value)
                # In a row, on the fast path of a plain line or not.
                self.assertEqual(rows_of(f" {text}" * 8 + "\n"), [(value,) * 8])
        for text in ("NAN", "nan", "-NAN.", "-nan"):
            with self.subTest(text=text):
                self.assertTrue(math.isnan(et.parse_value(text) or 0.0))
        for text in ("", ".", "E5", "1.2.3", "12,5", "NANA", "0x10", "--1", "1e", "INF.5", "1_0"):
            with self.subTest(text=text):
                self.assertIsNone(et.parse_value(text))

    def test_nan_row_keeps_its_nans(self):
        (row,) = read(NAN_ROW)
        self.assertEqual((row.jd_tdb, row.sun_distance_au, row.observer_distance_au), (2451545.0, 1.0, 0.0))
        self.assertTrue(all(math.isnan(v) for v in (row.ra_hours, row.dec_deg, row.elongation_deg,
                                                    row.phase_angle_deg, row.illuminated_fraction)))

    def test_crlf_line_ends_blank_lines_and_an_empty_table(self):
        self.assertEqual(len(read(TWO_LINE_ROW.replace("\n", "\r\n") + "\n" + ONE_LINE_ROW)), 2)
        empty = read("")
        self.assertEqual((len(empty), empty.notes), (0, []))

    def test_malformed_tables_name_the_line(self):
        # Each malformed table and the start of the message, which names the file and line.
        first_line = TWO_LINE_ROW.splitlines()[0] + "\n"
        cases = [
            (TWO_LINE_ROW + "  2451546.  22.08  x12.9\n", "ZEPO.DAT:3: 'x12.9' is not a number"),
            # A first line of six values followed by another of six: the row would have twelve.
            (first_line + first_line, "ZEPO.DAT:2: the row begun on line 1 has 12 values"),
            (ONE_LINE_ROW.rstrip("\n") + "  9.\n", "ZEPO.DAT:1: the row begun on line 1 has 9 values"),
            ("DATE RA DEC\n" + ONE_LINE_ROW, "ZEPO.DAT:1: 'DATE' is not a number"),
            # Spellings that Python's float() reads and ephem never writes.
            (ONE_LINE_ROW.replace("13.5", "1_3.5"), "ZEPO.DAT:1: '1_3.5' is not a number"),
            (ONE_LINE_ROW.replace("13.5", "1e5e5"), "ZEPO.DAT:1: '1e5e5' is not a number"),
            (b"\x00\xff\xfe 1. 2.\n", "ZEPO.DAT:1: '\\x00\xff\xfe' is not a number"),
            (ONE_LINE_ROW + " 1." * 2000 + "\n", "ZEPO.DAT:2: a line longer than 1000 characters"),
        ]
        for text, message in cases:
            with self.subTest(message=message):
                with self.assertRaises(DataError) as caught:
                    read(text)
                self.assertTrue(str(caught.exception).startswith(message), str(caught.exception))

    def test_a_row_cut_anywhere_is_dropped_with_a_warning(self):
        # Two rows of the Mars example cut at every byte of the second: the first row alone is read,
        # never a second made of a number cut short (31.3167433 0 for 0.927153488).
        with open(MARS_TABLE, "rb") as table:
            text = b"".join(table.readline() for _ in range(4))
        first_end = text.index(b"\n", text.index(b"\n") + 1) + 1
        first = tuple(read(text[:first_end])[0])
        for cut in range(first_end, len(text) + 1):
            with self.subTest(cut=cut):
                found = read(text[:cut])
                if cut == len(text) or not text[first_end:cut].strip():
                    # Whole, or nothing of the second row but its leading blanks.
                    self.assertEqual(found.notes, [])
                    self.assertEqual(len(found), 2 if cut == len(text) else 1)
                    continue
                self.assertEqual([tuple(row) for row in found], [first])
                (note,) = found.notes
                self.assertTrue(note.startswith("warning: ZEPO.DAT:3: the last row is cut short and dropped: "),
                                note)
                self.assertIn("1 whole rows read", note)

    def test_whole_mars_example(self):
        with open(MARS_TABLE, "rb") as stream:
            table = et.read_rows(stream)
        self.assertEqual(len(table), 365)
        times = table.column("jd_tdb")
        # One day apart, as the program steps.
        self.assertTrue(all(b - a == 1.0 for a, b in zip(times, times[1:])))
        self.assertEqual(table[-1].jd_tdb, times[-1])


class TableFileTest(TestCase):
    """Tables read from files and FIFOs, as ephem leaves them."""

    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.addCleanup(self.folder.cleanup)
        self.path = pathlib.Path(self.folder.name, "ZEPO.DAT")

    def test_a_table_under_ephems_lock_read_without_waiting_ends_at_its_last_whole_row(self):
        # A malformed line (the older table's, which the new rows need not meet at a line) ends it.
        self.path.write_text(TWO_LINE_ROW + TWO_LINE_ROW.splitlines()[0] + "\n" + "older x table\n")
        with open(self.path, "rb") as writer:
            fcntl.flock(writer, fcntl.LOCK_EX)
            found, still_written = et.read_table_as_written(str(self.path), wait=False)
        self.assertEqual((len(found), still_written), (1, True))
        self.assertEqual(found.notes, [f"note: {self.path}: ephem is still writing this table (its lock is held): "
                                       f"read up to its last whole row, 1 rows"])
        # The reader holds no lock afterwards: a run of ephem could start.
        with open(self.path, "rb") as other:
            fcntl.flock(other, fcntl.LOCK_EX | fcntl.LOCK_NB)

    @unittest.skipUnless(EPHEM, "needs the built ephem: EPHEM=path/to/ephem (CTest sets it)")
    def test_reads_while_ephem_writes_give_whole_rows_of_its_table(self):
        # Every read during a run is a beginning of the table the run leaves, row for row, and says that
        # the table is still being written or was cut.
        done = run_tool("datos", "mars", "--start", "2026-01-01", "--rows", "300000", cwd=self.folder.name)
        self.assertEqual(done.returncode, 0, done.stderr)
        ephem = subprocess.Popen([EPHEM], cwd=self.folder.name)
        reads = []
        while ephem.poll() is None:
            if self.path.exists():
                found, _ = et.read_table_as_written(str(self.path), wait=False)
                reads.append((found.values, found.notes))
        self.assertEqual(ephem.wait(), 0)
        final = et.read_table(str(self.path))
        self.assertEqual((len(final), final.notes), (300000, []))
        for values, notes in reads:
            self.assertEqual(values, final.values[:len(values)])
            # A read between ephem's creating the file and its locking it finds it empty, and has nothing
            # to say of it; every other shorter read says why it is short.
            if 0 < len(values) < len(final.values):
                self.assertTrue(notes, len(values))
        print(f"\n{len(reads)} reads during the run, {sum(1 for _, n in reads if n)} of a table cut or being "
              f"written", file=sys.stderr)

    def test_bounds_of_a_table(self):
        self.path.write_text(ONE_LINE_ROW * 3)
        cases = [("MAX_BYTES", 100, f"{self.path}: larger than 100 bytes, the most ephem-table reads of a table"),
                 ("MAX_ROWS", 2, f"{self.path}:3: more than 2 rows, the most ephem-table reads of a table")]
        for bound, value, message in cases:
            with self.subTest(bound=bound), mock.patch.object(et, bound, value):
                with self.assertRaises(DataError) as caught:
                    et.read_table(str(self.path))
                self.assertEqual(str(caught.exception), message)

    def fifo_fed_by(self, feed):
        os.mkfifo(self.path)
        thread = threading.Thread(target=feed, daemon=True)
        thread.start()
        self.addCleanup(thread.join, 10)

    def test_a_fifo_is_read_as_it_comes(self):
        def feed():
            with open(self.path, "w") as fifo:
                fifo.write(TWO_LINE_ROW * 3)
        self.fifo_fed_by(feed)
        self.assertEqual(len(et.read_table(str(self.path))), 3)

    def test_an_endless_line_is_refused_without_filling_the_memory(self):
        # As from a device of zeros: no line end ever comes.
        def feed():
            try:
                with open(self.path, "wb") as fifo:
                    while True:
                        fifo.write(b"\0" * 65536)
            except BrokenPipeError:
                pass
        self.fifo_fed_by(feed)
        with self.assertRaises(DataError) as caught:
            et.read_table(str(self.path))
        self.assertEqual(str(caught.exception),
                         f"{self.path}:1: a line longer than 1000 characters, which no table holds")


def ephem_table(folder, *args):
    return subprocess.Popen([sys.executable, str(SCRIPT), *args], cwd=folder, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True, env=dict(os.environ, PYTHONDONTWRITEBYTECODE="1"))


def first_dates(csv_text):
    """The dates (TDB) of the CSV's records."""
    return [line.split(",")[1] for line in csv_text.splitlines()[2:]]


# A program built with the sanitizers cannot look for leaks under a tracer: that check is left out there.
TRACED_ENVIRONMENT = dict(os.environ, ASAN_OPTIONS=":".join(filter(None, [os.environ.get("ASAN_OPTIONS", ""),
                                                                        "detect_leaks=0"])))
TRACER = shutil.which("strace") is not None and subprocess.run(["strace", "-qq", "-o", "/dev/null", "true"]).returncode == 0


class TwoRuns(TestCase):
    """A table read while ephem writes its first row over an older table and has not yet cut the rest:
    the companion never shows rows of two runs. The tables of two runs, and the race with a real run."""
    folder: tempfile.TemporaryDirectory
    tables: Dict[str, Tuple[str, str]]  # DATOS.DAT and ZEPO.DAT by body and step

    @classmethod
    def setUpClass(cls):
        # Mars, and Venus from the same start: rows of the same times.
        cls.folder = tempfile.TemporaryDirectory()
        cls.tables = {}
        start = julian_date("2026-01-01")
        for body, step in (("mars", "1d"), ("venus", "1d"), ("mars", "1h"), ("venus", "1h")):
            folder = pathlib.Path(cls.folder.name, body + step)
            folder.mkdir()
            text = datos.datos_text(elements.planet_orbit(body, start), elements.planet_orbit("emb", start), start, 60,
                                    parse_step(step))
            (folder / "DATOS.DAT").write_text(text)
            assert subprocess.run([EPHEM], cwd=folder).returncode == 0
            cls.tables[body + step] = (folder / "DATOS.DAT").read_text(), (folder / "ZEPO.DAT").read_text()

    @classmethod
    def tearDownClass(cls):
        cls.folder.cleanup()

    def mixed(self, folder, step, datos=True):
        """Mars's DATOS.DAT and the first row of its table written over Venus's."""
        mars, venus = self.tables["mars" + step][1], self.tables["venus" + step][1]
        first = mars[:mars.index("\n", mars.index("\n") + 1) + 1]
        (folder / "ZEPO.DAT").write_text(first + venus[len(first):])
        if datos:
            (folder / "DATOS.DAT").write_text(self.tables["mars" + step][0])
        return first

    def read_during_slowed_cuts(self, runs):
        """ephem run over Venus's table with the cut after its first row held for a second by the tracer,
        and read meanwhile by csv, waiting and not: the one waited for is the whole table, the other a
        beginning of it (its first row, or more when it came after the cut)."""
        mars = self.tables["mars1d"][1]
        for run in range(runs):
            with self.subTest(run=run), tempfile.TemporaryDirectory() as tmp:
                folder = pathlib.Path(tmp)
                (folder / "DATOS.DAT").write_text(self.tables["mars1d"][0])
                (folder / "ZEPO.DAT").write_text(self.tables["venus1d"][1])
                first = mars[:mars.index("\n", mars.index("\n") + 1) + 1]
                ephem = subprocess.Popen(["strace", "-qq", "-o", "/dev/null", "-P", str(folder.resolve() / "ZEPO.DAT"),
                                          "-e", "trace=ftruncate", "-e", "inject=ftruncate:delay_enter=1000000:when=1",
                                          EPHEM], cwd=folder, env=TRACED_ENVIRONMENT)
                while not (folder / "ZEPO.DAT").read_text().startswith(first):
                    self.assertIsNone(ephem.poll(), "ephem ended before its first row was in the file")
                    time.sleep(0.001)
                readers = [ephem_table(folder, "csv"), ephem_table(folder, "csv", "--no-wait")]
                (waited, waited_errors), (hasty, _) = (reader.communicate() for reader in readers)
                self.assertEqual(ephem.wait(), 0)
                self.assertEqual([r.returncode for r in readers], [0, 0], waited_errors)
                self.assertEqual(len(first_dates(waited)), 60)
                self.assertEqual(waited, ephem_table(folder, "csv").communicate()[0])
                # The rows' own values; the rates of motion of a shorter read end with its last rows.
                rates = waited.splitlines()[1].split(",").index("ra_rate_arcsec_min")
                self.assertEqual([line.split(",")[:rates] for line in hasty.splitlines()[2:]],
                                 [line.split(",")[:rates] for line in waited.splitlines()[2:len(hasty.splitlines())]])


@unittest.skipUnless(EPHEM, "needs the built ephem: EPHEM=path/to/ephem (CTest sets it)")
class TableOfTwoRunsTest(TwoRuns):
    def test_a_reader_waits_or_keeps_the_rows_of_the_run_that_holds_the_table(self):
        # The test holds ephem's lock on a table whose first row is this run's and the rest the older
        # table's. (step, DATOS.DAT beside it, --no-wait, status, the CSV's dates, the last line of
        # standard error)
        cases = [
            ("1d", True, True, 0, ["2026-01-01 00:00:00"], "rows 2 to "),
            ("1h", True, True, 0, ["2026-01-01 00:00:00"], "rows 2 to "),
            ("1d", False, True, 1, [], "ZEPO.DAT: ephem is writing this table, and its rows cannot be told from an "
                                      "older table's without the DATOS.DAT that made it"),
            # Waiting: the run ends (here the test writes its table and lets go) and the table is whole.
            ("1d", True, False, 0, [f"{datetime.date(2026, 1, 1) + datetime.timedelta(k)} 00:00:00" for k in range(60)],
             "waiting until it is done"),
        ]
        for step, beside, no_wait, status, dates, said in cases:
            with self.subTest(step=step, beside=beside, no_wait=no_wait), tempfile.TemporaryDirectory() as tmp:
                folder = pathlib.Path(tmp)
                self.mixed(folder, step, beside)
                with open(folder / "ZEPO.DAT", "rb") as held:
                    fcntl.flock(held, fcntl.LOCK_EX)
                    reader = ephem_table(folder, "csv", *(["--no-wait"] if no_wait else []))
                    if no_wait:
                        out, errors = reader.communicate()
                    else:
                        self.assertIn("waiting", reader.stderr.readline())
                        (folder / "ZEPO.DAT").write_text(self.tables["mars" + step][1])
                if not no_wait:
                    out, errors = reader.communicate()
                self.assertEqual(reader.returncode, status, errors)
                self.assertEqual(first_dates(out), dates)
                self.assertIn(said, (errors.splitlines() or ["waiting until it is done"])[-1])

    @unittest.skipUnless(TRACER, "needs strace to slow the cut")
    def test_a_reader_during_a_slowed_cut_never_shows_rows_of_two_runs(self):
        self.read_during_slowed_cuts(1)



@unittest.skipUnless(EPHEM and TRACER, "needs the built ephem (EPHEM) and strace to slow the cut")
@long_check
class ManySlowedCutsTest(TwoRuns):
    """The race a hundred times over: the long set."""

    def test_a_hundred_readers_during_slowed_cuts(self):
        self.read_during_slowed_cuts(100)


if __name__ == "__main__":
    unittest.main()
