"""Tests of ephem-table: the reading of ZEPO.DAT, the date and sexagesimal texts, and both commands."""

import csv
import importlib.util
import io
import math
import os
import pathlib
import subprocess
import sys
import tempfile
import unittest

sys.dont_write_bytecode = True

TOOLS = pathlib.Path(__file__).resolve().parent
SCRIPT = TOOLS / "ephem-table"
MARS_TABLE = TOOLS.parent / "examples" / "mars" / "ZEPO.expected"


sys.path.insert(0, str(TOOLS))
from ephem_table import table as et  # noqa: E402
from ephem_table import events  # noqa: E402

# The first row of the Mars example, on its two lines as ephem writes it.
TWO_LINE_ROW = ("  2451545.  22.0352961 -13.1786492  1.39115922  1.84956441  47.6050457\n"
                "  31.4665953  0.926472324\n")
ONE_LINE_ROW = "  2453500.  13.5 -7.25  1.52  0.67  150.3  20.1  0.97\n"
# Both bodies at one point: the distance is 0 and every angle NaN.
NAN_ROW = "  2451545.  NAN  NAN  1.  0.  NAN  NAN  NAN\n"


def rows_of(text):
    return list(et.read_rows(io.StringIO(text), "ZEPO.DAT"))


def run_tool(*args, cwd=None):
    return subprocess.run([sys.executable, str(SCRIPT), *args], capture_output=True, text=True, cwd=cwd,
                          env=dict(os.environ, PYTHONDONTWRITEBYTECODE="1"))


class ReadRowsTest(unittest.TestCase):
    def test_one_and_two_line_rows_in_one_table(self):
        rows = rows_of(TWO_LINE_ROW + ONE_LINE_ROW + TWO_LINE_ROW)
        self.assertEqual(len(rows), 3)
        self.assertEqual(rows[0], (2451545.0, 22.0352961, -13.1786492, 1.39115922, 1.84956441,
                                   47.6050457, 31.4665953, 0.926472324))
        self.assertEqual(rows[1], (2453500.0, 13.5, -7.25, 1.52, 0.67, 150.3, 20.1, 0.97))
        self.assertEqual(rows[2], rows[0])

    def test_item_spellings(self):
        # Each spelling a host may write for an item, and the value it stands for.
        cases = [
            ("2451545.", 2451545.0),
            ("1.E+09", 1e9),
            ("-5.55111512E-17", -5.55111512e-17),
            ("1.234E-005", 1.234e-5),       # three exponent digits
            ("0.", 0.0),
            ("INF", math.inf),
            ("-INF", -math.inf),
            ("inf", math.inf),
        ]
        for text, value in cases:
            with self.subTest(text=text):
                self.assertEqual(et.parse_value(text), value)
        for text in ("NAN", "nan", "-NAN.", "-nan"):
            with self.subTest(text=text):
                self.assertTrue(math.isnan(et.parse_value(text)))
        for text in ("", ".", "E5", "1.2.3", "12,5", "NANA", "0x10", "--1", "1e", "INF.5"):
            with self.subTest(text=text):
                self.assertIsNone(et.parse_value(text))

    def test_nan_row_keeps_its_nans(self):
        (row,) = rows_of(NAN_ROW)
        self.assertEqual(row[0], 2451545.0)
        self.assertEqual(row[4], 0.0)
        self.assertTrue(all(math.isnan(row[i]) for i in (1, 2, 5, 6, 7)))

    def test_crlf_line_ends_and_blank_lines(self):
        text = TWO_LINE_ROW.replace("\n", "\r\n") + "\n" + ONE_LINE_ROW
        self.assertEqual(len(rows_of(text)), 2)

    def test_empty_table_has_no_rows(self):
        self.assertEqual(rows_of(""), [])

    def test_malformed_tables_name_the_line(self):
        # Each malformed table and the start of the message, which names the file and line.
        cases = [
            (TWO_LINE_ROW + "  2451546.  22.08  x12.9\n", "ZEPO.DAT:3: 'x12.9' is not a number"),
            # A first line of six values followed by another of six: the row would have twelve.
            (TWO_LINE_ROW.splitlines()[0] + "\n" + TWO_LINE_ROW.splitlines()[0] + "\n",
             "ZEPO.DAT:2: the row begun on line 1 has 12 values"),
            (ONE_LINE_ROW.rstrip("\n") + "  9.\n", "ZEPO.DAT:1: the row begun on line 1 has 9 values"),
            ("DATE RA DEC\n" + ONE_LINE_ROW, "ZEPO.DAT:1: 'DATE' is not a number"),
        ]
        for text, message in cases:
            with self.subTest(message=message):
                with self.assertRaises(et.TableError) as caught:
                    rows_of(text)
                self.assertTrue(str(caught.exception).startswith(message), str(caught.exception))

    def test_truncated_last_row_is_an_error_not_a_silent_loss(self):
        text = ONE_LINE_ROW + TWO_LINE_ROW.splitlines()[0] + "\n"
        rows = et.read_rows(io.StringIO(text), "ZEPO.DAT")
        self.assertEqual(next(rows)[0], 2453500.0)
        with self.assertRaises(et.TableError) as caught:
            next(rows)
        self.assertIn("ZEPO.DAT:2: the last row is cut short: 6 of 8 values", str(caught.exception))

    def test_whole_mars_example(self):
        with open(MARS_TABLE) as table:
            rows = list(et.read_rows(table))
        self.assertEqual(len(rows), 365)
        # One day apart, as the program steps.
        self.assertTrue(all(b[0] - a[0] == 1.0 for a, b in zip(rows, rows[1:])))


class CalendarDateTest(unittest.TestCase):
    def test_known_dates(self):
        cases = [
            (2451545.0, "2000-01-01 12:00:00"),
            (2451544.5, "2000-01-01 00:00:00"),
            (2459800.5, "2022-08-09 00:00:00"),
            (2451603.5, "2000-02-29 00:00:00"),     # a leap day of a century year divisible by 400
            (2415079.5, "1900-03-01 00:00:00"),     # the day after 1900-02-28: no leap day in 1900
            (2299160.5, "1582-10-15 00:00:00"),     # the first Gregorian day ...
            (2299159.5, "1582-10-04 00:00:00"),     # ... follows the last Julian one
            (0.0, "-4712-01-01 12:00:00"),          # the origin of Julian dates, Julian calendar
            (1721423.5, "0001-01-01 00:00:00"),
            (1721057.5, "0000-01-01 00:00:00"),     # 1 BC is the astronomical year 0
            (-1.0, "-4713-12-31 12:00:00"),
        ]
        for jd, text in cases:
            with self.subTest(jd=jd):
                self.assertEqual(et.calendar_date(jd), text)
                self.assertEqual(et.calendar_day(jd), text.partition(" ")[0])

    def test_seconds_round_and_carry_into_the_next_day(self):
        self.assertEqual(et.calendar_date(2451545.0 + 1.0 / 86400), "2000-01-01 12:00:01")
        # 0.4 s before midnight of Dec 31 rounds into the next year.
        self.assertEqual(et.calendar_date(2451544.5 - 0.4 / 86400), "2000-01-01 00:00:00")
        self.assertEqual(et.calendar_date(2451544.5 - 0.6 / 86400), "1999-12-31 23:59:59")

    def test_gregorian_days_agree_with_the_standard_library(self):
        import datetime
        start = datetime.date(1583, 1, 1)
        for offset in range(0, 400 * 366 + 1000, 97):
            day = start + datetime.timedelta(days=offset)
            jdn = day.toordinal() + 1721425
            self.assertEqual(et.gregorian_from_day(jdn), (day.year, day.month, day.day))

    def test_no_date_for_values_without_one(self):
        for jd in (math.nan, math.inf, -math.inf, 1e300):
            with self.subTest(jd=jd):
                self.assertEqual(et.calendar_date(jd), "")


class SexagesimalTest(unittest.TestCase):
    def test_right_ascension(self):
        cases = [
            (22.0352961, "22:02:07.07"),
            (0.0, "00:00:00.00"),
            (12.5, "12:30:00.00"),
            (23.9999999999, "00:00:00.00"),  # rounds to 24 h, which is 0 h
            (24.0, "00:00:00.00"),           # ephem can write exactly 24
            (1.0 - 0.004 / 3600, "01:00:00.00"),  # 59.996 s carries into the minute and hour
            (math.nan, ""),
            (math.inf, ""),
        ]
        for hours, text in cases:
            with self.subTest(hours=hours):
                self.assertEqual(et.hours_hms(hours), text)

    def test_declination(self):
        cases = [
            (-13.1786492, "-13:10:43.1"),
            (5.5, "+05:30:00.0"),
            (90.0, "+90:00:00.0"),
            (-0.0, "+00:00:00.0"),
            (-0.00001, "+00:00:00.0"),        # rounds to zero: no minus before a zero
            (-0.0001, "-00:00:00.4"),
            (29.999999999, "+30:00:00.0"),    # carries through seconds and minutes
            (math.nan, ""),
            (-math.inf, ""),
            (1e300, ""),
        ]
        for degrees, text in cases:
            with self.subTest(degrees=degrees):
                self.assertEqual(et.degrees_dms(degrees), text)

    def test_unwrap_keeps_a_track_through_zero_hours_continuous(self):
        track = events.unwrapped_ra([23.5, 23.9, 0.2, math.nan, 0.6])
        self.assertEqual(track[:3], [23.5, 23.9, 24.2])
        self.assertTrue(math.isnan(track[3]))
        self.assertEqual(track[4], 24.6)  # continues from the last finite value across the NaN
        self.assertEqual(events.unwrapped_ra([0.5, 23.5]), [0.5, -0.5])


class EventsTest(unittest.TestCase):
    def test_extrema_between_daily_rows(self):
        # Rows from smooth curves with a known turning time; the refined time must come within a
        # small fraction of a day, and the kind follow the value.
        # An outer body: 1.5 AU from the Sun, 1 AU from the observer at a phase angle of 20 degrees, so
        # the observer is 0.66 AU from the Sun; an inner one: 0.7 AU at 90 degrees, the observer 1.22 AU.
        def rows(turn, elongation, distance, ra, r=1.5, phase=20.0):
            return [(t, ra(t - turn), 10.0, r, distance(t - turn), elongation(t - turn), phase, 0.9)
                    for t in [2460000.5 + k for k in range(40)]]
        flat = lambda dt: 1.0  # noqa: E731
        cases = [
            # (rows, kind, turning time)
            (rows(2460020.3, lambda dt: 170.0 - 0.01 * dt * dt, flat, lambda dt: 5.0), "opposition", 2460020.3),
            # An inclined outer body: its opposition is where its elongation turns, far from 180 degrees,
            # and its conjunction where it turns far from 0.
            (rows(2460020.3, lambda dt: 128.0 - 0.01 * dt * dt, flat, lambda dt: 5.0), "opposition", 2460020.3),
            (rows(2460030.1, lambda dt: 25.0 + 0.01 * dt * dt, flat, lambda dt: 5.0), "conjunction", 2460030.1),
            (rows(2460010.8, lambda dt: 45.0 - 0.02 * dt * dt, flat, lambda dt: 5.0, r=0.7, phase=90.0),
             "greatest elongation", 2460010.8),
            (rows(2460030.1, lambda dt: 2.0 + 0.01 * dt * dt, flat, lambda dt: 5.0), "conjunction", 2460030.1),
            (rows(2460030.1, lambda dt: 2.0 + 0.01 * dt * dt, flat, lambda dt: 5.0, r=0.7, phase=150.0),
             "inferior conjunction", 2460030.1),
            (rows(2460015.6, lambda dt: 90.0, lambda dt: 0.4 + 1e-4 * dt * dt, lambda dt: 5.0),
             "closest approach", 2460015.6),
            # Right ascension through 0 h at its turn: the wrap is no turn, the maximum is.
            (rows(2460012.5, lambda dt: 90.0, flat, lambda dt: (24.0 - 0.001 * dt * dt) % 24.0),
             "stationary, retrograde begins", 2460012.5),
        ]
        for table_rows, kind, when in cases:
            with self.subTest(kind=kind):
                found = events.find_events(table_rows)
                self.assertEqual([e.kind for e in found], [kind])
                self.assertAlmostEqual(found[0].time, when, delta=0.01)

    def test_nan_rows_make_no_events(self):
        row = (2451545.0, math.nan, math.nan, 1.0, 0.0, math.nan, math.nan, math.nan)
        self.assertEqual(events.find_events([row] * 5), [])


class CommandsTest(unittest.TestCase):
    def test_csv_of_a_table(self):
        with tempfile.TemporaryDirectory() as tmp:
            table = pathlib.Path(tmp, "ZEPO.DAT")
            table.write_text(TWO_LINE_ROW + NAN_ROW + "  2451547.  INF  0.  1.  1.  -INF  0.  1.\n")
            done = run_tool("csv", cwd=tmp)  # ZEPO.DAT in the working directory by default
        self.assertEqual(done.returncode, 0, done.stderr)
        # The NAN row is written, and said so on standard error in one line.
        self.assertRegex(done.stderr, r"^ephem-table: warning: ZEPO.DAT: 1 of 3 rows hold NAN "
                                      r"\(in right ascension, declination, elongation.*first on 2000-01-01\)"
                                      r".*eccentricity[^\n]*\n$")
        note, _, body = done.stdout.partition("\n")
        self.assertTrue(note.startswith("# ") and "J2000" in note and "TDB" in note, note)
        self.assertNotIn(",", note)  # one cell
        records = list(csv.reader(io.StringIO(body)))
        self.assertEqual(tuple(records[0]), et.CSV_HEADER)
        self.assertEqual(records[1], ["2451545.0", "2000-01-01 12:00:00", "22.0352961", "22:02:07.07",
                                      "-13.1786492", "-13:10:43.1", "1.39115922", "1.84956441",
                                      "47.6050457", "31.4665953", "0.926472324"])
        self.assertEqual(records[2], ["2451545.0", "2000-01-01 12:00:00", "NaN", "", "NaN", "", "1.0",
                                      "0.0", "NaN", "NaN", "NaN"])
        self.assertEqual(records[3][2:4], ["inf", ""])
        self.assertEqual(records[3][8], "-inf")
        self.assertEqual(len(records), 4)

    def test_errors_go_to_stderr_with_status_1_and_no_traceback(self):
        with tempfile.TemporaryDirectory() as tmp:
            bad = pathlib.Path(tmp, "bad.dat")
            bad.write_text(ONE_LINE_ROW + "  2451546.  1.  2.\n")
            binary = pathlib.Path(tmp, "binary.dat")
            binary.write_bytes(b"\x00\xff\xfe 1. 2.\n")
            cases = [
                (("csv", str(bad)), f"ephem-table: {bad}:2: the last row is cut short"),
                (("plot", str(bad), "-o", str(pathlib.Path(tmp, "t.png"))),
                 f"ephem-table: {bad}:2: the last row is cut short"),
                (("csv", str(binary)), f"ephem-table: {binary}:1: "),
                (("csv", str(pathlib.Path(tmp, "missing"))), "ephem-table: cannot read "),
            ]
            for args, message in cases:
                with self.subTest(args=args[0:2]):
                    done = run_tool(*args)
                    self.assertEqual(done.returncode, 1)
                    self.assertTrue(done.stderr.startswith(message), done.stderr)
                    self.assertNotIn("Traceback", done.stderr)
            self.assertFalse(pathlib.Path(tmp, "t.png").exists())

    def test_info_of_the_mars_example(self):
        done = run_tool("info", str(MARS_TABLE))
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(done.stderr, "")
        self.assertIn("365 rows\nfrom 2000-01-01 12:00:00 to 2000-12-30 12:00:00 TDB", done.stdout)
        self.assertIn("rows with NAN: 0\n", done.stdout)
        # Mars's conjunction with the Sun, as SOURCE.md records it.
        self.assertRegex(done.stdout, r"2000-07-0[12] \d\d:\d\d TDB  conjunction: elongation 0\.9 deg")

    def test_info_names_the_nan_rows_and_their_causes(self):
        with tempfile.TemporaryDirectory() as tmp:
            pathlib.Path(tmp, "ZEPO.DAT").write_text(TWO_LINE_ROW + NAN_ROW)
            done = run_tool("info", cwd=tmp)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertIn("rows with NAN: 1 (in right ascension, declination, elongation", done.stdout)
        self.assertIn("observer distance 0", done.stdout)
        self.assertIn("warning: ZEPO.DAT: 1 of 2 rows hold NAN", done.stderr)

    def test_installed_script_finds_its_package(self):
        # cmake --install puts the script in bin/ and the package in share/ephem/.
        import shutil
        with tempfile.TemporaryDirectory() as prefix:
            pathlib.Path(prefix, "bin").mkdir()
            shutil.copy(SCRIPT, pathlib.Path(prefix, "bin", "ephem-table"))
            shutil.copytree(TOOLS / "ephem_table", pathlib.Path(prefix, "share", "ephem", "ephem_table"))
            done = subprocess.run([sys.executable, str(pathlib.Path(prefix, "bin", "ephem-table")), "info",
                                   str(MARS_TABLE)], capture_output=True, text=True, cwd=prefix,
                                  env=dict(os.environ, PYTHONDONTWRITEBYTECODE="1"))
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertIn("365 rows", done.stdout)

    def test_usage_error_is_status_2(self):
        done = run_tool("table")
        self.assertEqual(done.returncode, 2)
        self.assertNotIn("Traceback", done.stderr)


def have_matplotlib():
    return importlib.util.find_spec("matplotlib") is not None


@unittest.skipUnless(have_matplotlib(), "matplotlib is not installed")
class PlotTest(unittest.TestCase):
    def test_plot_writes_a_png(self):
        with tempfile.TemporaryDirectory() as tmp:
            output = pathlib.Path(tmp, "track.png")
            done = run_tool("plot", str(MARS_TABLE), "-o", str(output))
            self.assertEqual(done.returncode, 0, done.stderr)
            self.assertEqual(done.stderr, "")
            data = output.read_bytes()
        self.assertEqual(data[:8], b"\x89PNG\r\n\x1a\n")
        self.assertGreater(len(data), 10000)

    def test_rows_with_nan_and_a_single_row_still_plot(self):
        for text in (NAN_ROW + TWO_LINE_ROW + NAN_ROW, TWO_LINE_ROW):
            with self.subTest(rows=text.count("\n")), tempfile.TemporaryDirectory() as tmp:
                pathlib.Path(tmp, "ZEPO.DAT").write_text(text)
                done = run_tool("plot", "-o", "out.svg", cwd=tmp)
                self.assertEqual(done.returncode, 0, done.stderr)
                self.assertIn("<svg", pathlib.Path(tmp, "out.svg").read_text())

    def test_all_nan_table_is_an_error_that_says_why(self):
        with tempfile.TemporaryDirectory() as tmp:
            pathlib.Path(tmp, "ZEPO.DAT").write_text(NAN_ROW * 3)
            done = run_tool("plot", "-o", "out.png", cwd=tmp)
            self.assertEqual(done.returncode, 1)
            warning, error = done.stderr.splitlines()
            self.assertIn("warning: ZEPO.DAT: 3 of 3 rows hold NAN", warning)
            self.assertIn("eccentricity of exactly 0", warning)
            self.assertTrue(error.startswith("ephem-table: ZEPO.DAT: no row has a place on the sky"), error)
            self.assertFalse(pathlib.Path(tmp, "out.png").exists())

    def test_title_from_the_generated_datos_beside_the_table(self):
        # The name is taken only when DATOS.DAT starts where the table does: a DATOS.DAT written for
        # another run is not this table's.
        datos = ("1.5 0.09 1.8 286.5 49.6 19.4 2451545.0 0.0   target: 4 Vesta & co | elements\n"
                 "1.0 0.0167 0.0 102.9 0.0 -2.5 2451545.0 0.0   observer: EM-Bary\n"
                 "{start}   start: JD (TDB)\n2   rows: one a day\n")
        cases = [("2451545.0", "4 Vesta & co: 2 rows"), ("2451546.0", "ZEPO.DAT: 2 rows")]
        for start, title in cases:
            with self.subTest(start=start), tempfile.TemporaryDirectory() as tmp:
                pathlib.Path(tmp, "DATOS.DAT").write_text(datos.format(start=start))
                pathlib.Path(tmp, "ZEPO.DAT").write_text(TWO_LINE_ROW * 2)
                done = run_tool("plot", "-o", "out.svg", cwd=tmp)
                self.assertEqual(done.returncode, 0, done.stderr)
                self.assertIn(title.replace("&", "&amp;"), pathlib.Path(tmp, "out.svg").read_text())

    def test_polar_track_near_the_pole(self):
        # A track over the north pole: right ascension jumps by 12 h there, which a flat chart draws
        # as a line across it.
        text = "".join(f"  {2451545 + k}.  {(3.0 if k < 5 else 15.0)}  {80 + 2 * min(k, 9 - k)}  1.  0.5  90.  "
                       f"60.  0.75\n" for k in range(10))
        with tempfile.TemporaryDirectory() as tmp:
            pathlib.Path(tmp, "ZEPO.DAT").write_text(text)
            done = run_tool("plot", "-o", "out.svg", "--title", "over the pole", cwd=tmp)
            self.assertEqual(done.returncode, 0, done.stderr)
            svg = pathlib.Path(tmp, "out.svg").read_text()
        self.assertIn("around the north pole", svg)
        self.assertIn("over the pole", svg)

    def test_empty_table_or_unknown_format_is_a_clear_error(self):
        with tempfile.TemporaryDirectory() as tmp:
            pathlib.Path(tmp, "ZEPO.DAT").write_text("")
            pathlib.Path(tmp, "ONE.DAT").write_text(ONE_LINE_ROW)
            for args, message in ((("plot",), "ephem-table: ZEPO.DAT: the table has no rows to plot"),
                                  (("plot", "ONE.DAT", "-o", "x.nosuchformat"), "ephem-table: cannot write")):
                with self.subTest(args=args):
                    done = run_tool(*args, cwd=tmp)
                    self.assertEqual(done.returncode, 1)
                    self.assertTrue(done.stderr.startswith(message), done.stderr)
                    self.assertNotIn("Traceback", done.stderr)


if __name__ == "__main__":
    unittest.main()
