"""Tests of reading ZEPO.DAT: the spellings of its items, rows on one or two lines, and a table as ephem
leaves it: cut inside a row, still being written under its lock, endless, or malformed."""

import fcntl
import io
import math
import os
import pathlib
import sys
import tempfile
import threading
import unittest
from unittest import mock

import subprocess

from testing import EPHEM, MARS_TABLE, NAN_ROW, ONE_LINE_ROW, TWO_LINE_ROW, TestCase, run_tool
from ephem_table import table as et
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

    def test_a_table_under_ephems_lock_is_read_to_its_last_whole_row(self):
        self.path.write_text(TWO_LINE_ROW + TWO_LINE_ROW.splitlines()[0] + "\n")
        for locked in (True, False):
            with self.subTest(locked=locked), open(self.path, "rb") as writer:
                if locked:
                    fcntl.flock(writer, fcntl.LOCK_EX)
                found = et.read_table(str(self.path))
                self.assertEqual(len(found), 1)
                (note,) = found.notes
                if locked:
                    self.assertEqual(note, f"note: {self.path}: ephem is still writing this table (its lock is "
                                           f"held): read up to its last whole row, 1 rows")
                else:
                    self.assertIn("warning: ", note)
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
                found = et.read_table(str(self.path))
                reads.append((found.values, found.notes))
        self.assertEqual(ephem.wait(), 0)
        final = et.read_table(str(self.path))
        self.assertEqual((len(final), final.notes), (300000, []))
        for values, notes in reads:
            self.assertEqual(values, final.values[:len(values)])
            if len(values) < len(final.values):
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


if __name__ == "__main__":
    unittest.main()
