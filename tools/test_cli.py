"""Tests of the command line: csv and info end to end, and one clear line with status 1 or 2, never a
traceback, for every input."""

import csv
import io
import os
import pathlib
import resource
import shutil
import subprocess
import sys
import tempfile
import unittest
from typing import Any, Dict, List, Optional, Tuple

from testing import EPHEM, EXAMPLES, MARS_TABLE, NAN_ROW, ONE_LINE_ROW, SCRIPT, TOOLS, TWO_LINE_ROW, TestCase, run_tool
from ephem_table import csvout, observing


class CommandsTest(TestCase):
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
        records = list(csv.reader(io.StringIO(done.stdout.partition("\n")[2])))
        self.assertEqual(tuple(records[0]), csvout.CSV_HEADER + observing.RATE_COLUMNS)
        # UTC beside TDB: 64.184 s earlier in 2000 (TAI - UTC 32 s, TT - TAI 32.184 s). Rows of one time
        # have no rates of motion.
        self.assertEqual(records[1][15:], [""] * 4)
        self.assertEqual(records[1][:15], ["2451545.0", "2000-01-01 12:00:00", "2000-01-01 11:58:56", "22.0352961",
                                           "22:02:07.07", "-13.1786492", "-13:10:43.1", "1.39115922", "1.84956441",
                                           "47.6050457", "31.4665953", "0.926472324", "", "", ""])
        self.assertEqual(records[2][:15], ["2451545.0", "2000-01-01 12:00:00", "2000-01-01 11:58:56", "NaN", "",
                                           "NaN", "", "1.0", "0.0", "NaN", "NaN", "NaN", "", "", ""])
        self.assertEqual((records[3][3:5], records[3][9]), (["inf", ""], "-inf"))
        self.assertEqual(len(records), 4)

    def test_a_torn_last_row_is_dropped_with_a_warning(self):
        with tempfile.TemporaryDirectory() as tmp:
            pathlib.Path(tmp, "ZEPO.DAT").write_text(ONE_LINE_ROW + TWO_LINE_ROW[:90])
            for command in ("csv", "info"):
                with self.subTest(command=command):
                    done = run_tool(command, cwd=tmp)
                    self.assertEqual(done.returncode, 0)
                    self.assertEqual(done.stderr, "ephem-table: warning: ZEPO.DAT:2: the last row is cut short "
                                                  "and dropped: its last line has no line end, so its last number may be "
                                                  "cut; 1 whole rows read\n")
                    self.assertIn("2453500.0" if command == "csv" else "ZEPO.DAT: 1 rows", done.stdout)

    def test_info_of_the_mars_example(self):
        done = run_tool("info", str(MARS_TABLE))
        self.assertEqual((done.returncode, done.stderr), (0, ""))
        self.assertEqual(done.stdout.splitlines()[:4],
                         [f"{MARS_TABLE}: 365 rows",
                          "from 2000-01-01 12:00:00 to 2000-12-30 12:00:00 TDB (JD 2451545.0 to 2451909.0)",
                          "from 2000-01-01 11:58:56 to 2000-12-30 11:58:56 UTC",
                          "rows with NAN: 0"])

    def test_info_states_utc_where_there_is_one(self):
        cases = [
            # (Julian dates of the rows, TDB; the line after the span in TDB)
            ((2433282.5, 2440587.5), "to 1969-12-31 23:59:20 UTC (no UTC before 1960)"),
            ((2433282.5, 2433283.5), "rows with NAN: 0"),
        ]
        for jds, line in cases:
            with self.subTest(jds=jds), tempfile.TemporaryDirectory() as tmp:
                pathlib.Path(tmp, "ZEPO.DAT").write_text("".join(f"  {jd}  5.  10.  1.5  1.  90.  20.  0.9\n"
                                                                 for jd in jds))
                done = run_tool("info", cwd=tmp)
                self.assertEqual(done.returncode, 0, done.stderr)
                self.assertEqual(done.stdout.splitlines()[2], line)

    def test_version_is_the_project_version(self):
        project = next(line for line in (TOOLS.parent / "CMakeLists.txt").read_text().splitlines()
                       if line.startswith("project("))
        done = run_tool("--version")
        self.assertEqual((done.returncode, done.stdout, done.stderr),
                         (0, f"ephem-table {project.split('VERSION ')[1].split()[0]}\n", ""))

    def test_info_names_the_nan_rows_and_their_causes(self):
        with tempfile.TemporaryDirectory() as tmp:
            pathlib.Path(tmp, "ZEPO.DAT").write_text(TWO_LINE_ROW + NAN_ROW)
            done = run_tool("info", cwd=tmp)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertIn("rows with NAN: 1 (in right ascension, declination, elongation", done.stdout)
        self.assertIn("observer distance 0", done.stdout)
        self.assertIn("warning: ZEPO.DAT: 1 of 2 rows hold NAN", done.stderr)

    def test_info_takes_the_sun_and_the_magnitudes_from_the_datos_that_made_the_table(self):
        venus, mars = EXAMPLES / "venus", EXAMPLES / "mars"
        untold = "not told: oppositions, conjunctions and greatest elongations need the Sun's place"
        cases: List[Tuple[Optional[pathlib.Path], Any, int, List[str], List[str]]] = [
            # (DATOS.DAT beside the table, --datos, status, in the output, not in it)
            (venus, None, 0, ["greatest elongation east: elongation 47.1 deg, evening sky",
                              "magnitude: none, the DATOS.DAT holds no magnitude parameters"], [untold]),
            (None, None, 0, [untold + ", from the observer's orbit in the DATOS.DAT that made the table, and there "
                             "is no ./DATOS.DAT beside the table (name one with --datos)"], ["greatest elongation east"]),
            (None, venus, 0, ["inferior conjunction: elongation 8.0 deg"], [untold]),
            # Mars's DATOS.DAT starts where Venus's does: its orbits tell it apart.
            (mars, None, 0, [untold, "./DATOS.DAT does not describe the table: its orbits put the body 2.11 AU from "
                             "the place of the row of JD 2451545.0 (name the one that made it with --datos)"], []),
            (None, mars, 1, ["does not describe the table: its orbits put the body"], []),
            (None, "hyperbolic", 1, ["hyperbolic.dat: does not describe the table: its orbits are no ellipses"], []),
        ]
        for beside, given, status, present, absent in cases:
            with self.subTest(beside=beside, given=given), tempfile.TemporaryDirectory() as tmp:
                shutil.copy(venus / "ZEPO.expected", pathlib.Path(tmp, "ZEPO.DAT"))
                if beside:
                    shutil.copy(beside / "DATOS.DAT", pathlib.Path(tmp, "DATOS.DAT"))
                if given == "hyperbolic":
                    words = (venus / "DATOS.DAT").read_text().split(" ", 2)
                    pathlib.Path(tmp, "hyperbolic.dat").write_text(" ".join([words[0], "1.5", words[2]]))
                    given = pathlib.Path(tmp, "hyperbolic.dat")
                else:
                    given = given and given / "DATOS.DAT"
                done = run_tool("info", *(["--datos", str(given)] if given else []), cwd=tmp)
                self.assertEqual(done.returncode, status, done.stderr)
                for text in present:
                    self.assertIn(text, done.stdout + done.stderr)
                for text in absent:
                    self.assertNotIn(text, done.stdout)

    @unittest.skipUnless(EPHEM, "needs the built ephem: EPHEM=path/to/ephem (CTest sets it)")
    def test_a_table_at_another_step_is_read_with_its_factors_or_refused(self):
        scaled = "ephem-table: ZEPO.DAT: its times count rows from 0, as in the table of a step other than one day"
        cases: List[Tuple[str, Optional[str], Optional[str], int, str]] = [
            # (command, DATOS.DAT beside the hourly table, --datos, status, the start of standard error
            # or of the CSV's first record)
            ("csv", None, "hourly", 0, "2461041.5,2026-01-01 00:00:00,2025-12-31 23:58:51,"),
            ("csv", None, None, 1, f"{scaled} (ephem-table datos --step), whose dates and distances need the step and "
                                   f"factors of the DATOS.DAT that made it; there is no ./DATOS.DAT"),
            ("plot", "daily", None, 1, f"{scaled} (ephem-table datos --step), whose dates and distances need the step "
                                       f"and factors of the DATOS.DAT that made it; ./DATOS.DAT does not describe the "
                                       f"table: it starts at JD 2461041.5, the table at 0.0"),
            # The file of another step: its orbits have the distances of another scale.
            ("info", None, "ten minutes", 1, "ephem-table: ten minutes: does not describe the table: its orbits put"),
            ("csv", None, "edited factors", 1, "ephem-table: edited factors:4: the factors of the note"),
            # The same hourly file for a start an hour or four later: the time column starts at 0 either way,
            # the places tell.
            ("csv", "an hour later", None, 1, f"{scaled} (ephem-table datos --step), whose dates and distances need "
                                              f"the step and factors of the DATOS.DAT that made it; ./DATOS.DAT does "
                                              f"not describe the table: its orbits give the place of the row of time "
                                              f"0.0 1.00 steps of 1 h earlier"),
            ("info", None, "four hours later", 1, "ephem-table: four hours later: does not describe the table: its "
                                                  "orbits give the place of the row of time 0.0 4.00 steps"),
        ]
        with tempfile.TemporaryDirectory() as tmp:
            folder = pathlib.Path(tmp)
            for name, step, start in (("daily", "1d", "2026-01-01"), ("ten minutes", "10m", "2026-01-01"),
                                      ("hourly", "1h", "2026-01-01"), ("an hour later", "1h", "2026-01-01T01:00"),
                                      ("four hours later", "1h", "2026-01-01T04:00")):
                done = run_tool("datos", "mars", "--start", start, "--rows", "49", "--step", step, "-o", name,
                                cwd=tmp)
                self.assertEqual(done.returncode, 0, done.stderr)
            (folder / "edited factors").write_text((folder / "hourly").read_text().replace("AU x 8.3", "AU x 9.3"))
            shutil.copy(folder / "hourly", folder / "DATOS.DAT")
            self.assertEqual(subprocess.run([EPHEM], cwd=tmp).returncode, 0)
            for command, beside, given, status, start in cases:
                with self.subTest(command=command, beside=beside, given=given):
                    (folder / "DATOS.DAT").unlink(missing_ok=True)
                    if beside:
                        shutil.copy(folder / beside, folder / "DATOS.DAT")
                    options = (["--datos", given] if given else []) + (["-o", "x.png"] if command == "plot" else [])
                    done = run_tool(command, *options, cwd=tmp)
                    self.assertEqual(done.returncode, status, done.stderr)
                    self.assertTrue((done.stdout.splitlines()[2] if status == 0 else done.stderr).startswith(start),
                                    done.stderr or done.stdout[:500])

    def test_installed_script_finds_its_package(self):
        # cmake --install puts the script in bin/ and the package in share/ephem/.
        with tempfile.TemporaryDirectory() as prefix:
            pathlib.Path(prefix, "bin").mkdir()
            shutil.copy(SCRIPT, pathlib.Path(prefix, "bin", "ephem-table"))
            shutil.copytree(TOOLS / "ephem_table", pathlib.Path(prefix, "share", "ephem", "ephem_table"))
            done = subprocess.run([sys.executable, str(pathlib.Path(prefix, "bin", "ephem-table")), "info",
                                   str(MARS_TABLE)], capture_output=True, text=True, cwd=prefix,
                                  env=dict(os.environ, PYTHONDONTWRITEBYTECODE="1"))
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertIn("365 rows", done.stdout)

    def test_every_failure_is_one_line_and_a_status(self):
        # (files, arguments, status, start of the line on standard error)
        turn = "".join(f"  {2451545 + k}.  5.  10.  1.5  1.  {170 - 2 * (k - 2) ** 2}.  INF  0.9\n" for k in range(5))
        cases: List[Tuple[Dict[str, str], Tuple[str, ...], int, str]] = [
            ({"bad.dat": ONE_LINE_ROW + "  2451546.  x  2.\n"}, ("csv", "bad.dat"), 1,
             "ephem-table: bad.dat:2: 'x' is not a number"),
            ({"binary.dat": "\0\xff\xfe 1. 2.\n"}, ("csv", "binary.dat"), 1, "ephem-table: binary.dat:1: "),
            ({}, ("csv", "missing"), 1, "ephem-table: cannot read missing: No such file or directory"),
            ({}, ("info", "."), 1, "ephem-table: cannot read .: Is a directory"),
            ({"long.dat": "1" * 100000}, ("info", "long.dat"), 1,
             "ephem-table: long.dat:1: a line longer than 1000 characters"),
            # An infinite phase angle where the elongation turns: no event, no failure.
            ({"ZEPO.DAT": turn}, ("info",), 0, ""),
            ({"huge.dat": (" 1e308" * 8 + "\n") * 3 + (" -1e308" * 8 + "\n") * 3}, ("info", "huge.dat"), 0, ""),
            ({}, ("datos", "mars", "--start", "4" * 400 + "-01-01", "--rows", "3"), 2,
             "ephem-table datos: --start '4444"),
            ({}, ("table",), 2, "ephem-table: argument COMMAND: invalid choice: 'table'"),
            ({}, ("datos", "mars", "--start", "2026-01-01", "--rows", "9" * 5000), 2,
             "ephem-table datos: argument --rows: invalid int value"),
            # A DATOS.DAT beside the table with a repeat count of 4,401 digits is read (or passed over).
            ({"ZEPO.DAT": TWO_LINE_ROW, "DATOS.DAT": "1" + "0" * 4400 + "*1.\n"}, ("info",), 0, ""),
        ]
        for contents, args, status, message in cases:
            with self.subTest(args=args[:2]), tempfile.TemporaryDirectory() as tmp:
                for name, text in contents.items():
                    pathlib.Path(tmp, name).write_text(text, encoding="latin-1")
                done = run_tool(*args, cwd=tmp)
                self.assertEqual(done.returncode, status, done.stderr)
                self.assertTrue(done.stderr.startswith(message), done.stderr)
                self.assertNotIn("Traceback", done.stderr)
                self.assertLessEqual(done.stderr.count("\n"), 1)
                self.assertLess(len(done.stderr), 500)

    def test_help_to_a_full_device_is_one_line_and_status_1(self):
        for args in (("--help",), ("datos", "--help"), ("info", str(MARS_TABLE))):
            with self.subTest(args=args), open("/dev/full", "w") as full:
                done = run_tool(*args, stdout=full)
                self.assertEqual((done.returncode, done.stderr),
                                 (1, "ephem-table: cannot write standard output: No space left on device\n"))

    def test_closed_or_refusing_standard_streams_keep_messages_out_of_the_data(self):
        # Standard error closed (each command has a warning to give), standard output closed or under a
        # file-size limit, standard input closed: messages never land in the data, and a write that does
        # not take every byte is a failure, said in one line.
        far_epoch = ("a=1.52 e=0.09 i=1.85 om=49.6 w=286.5 M=19.4 epoch=2000-01-01", "--name", "Mars 2000")
        datos_out = ("datos", *far_epoch, "--start", "2026-01-01", "--rows", "3", "--as-given", "-o", "-")
        closed = "closed"
        cases: List[Tuple[str, Tuple[str, ...], Any, int, str]] = [
            # (what, arguments, standard error closed / output closed / input closed / a file-size limit,
            # status, standard error)
            ("a warning with standard error closed", ("csv", "torn.DAT"), (2, closed), 0, ""),
            ("datos -o - with standard error closed", datos_out, (2, closed), 0, ""),
            ("info with standard output closed", ("info", "torn.DAT"), (1, closed), 1,
             "ephem-table: cannot write standard output: Bad file descriptor\n"),
            ("datos -o - past a file-size limit", datos_out, (1, 300), 1,
             "ephem-table: cannot write standard output: File too large\n"),
            ("datos - with standard input closed", ("datos", "-", "--start", "2026-01-01", "--rows", "3"), (0, closed),
             1, "ephem-table: cannot read <stdin>: Bad file descriptor\n"),
            ("csv - with standard input closed", ("csv", "-"), (0, closed), 1,
             "ephem-table: cannot read -: Bad file descriptor\n"),
        ]
        with tempfile.TemporaryDirectory() as tmp:
            pathlib.Path(tmp, "torn.DAT").write_text(TWO_LINE_ROW * 2 + TWO_LINE_ROW[:30])
            expected_datos = run_tool(*datos_out[:-2], "-o", "D.DAT", cwd=tmp)
            self.assertIn("warning", expected_datos.stderr)
            expected = {"csv": run_tool("csv", "torn.DAT", cwd=tmp).stdout,
                        "datos": pathlib.Path(tmp, "D.DAT").read_text()}
            for what, args, (fd, how), status, message in cases:
                with self.subTest(what), open(pathlib.Path(tmp, "out"), "w+") as out:
                    def prepare(fd: int = fd, how: Any = how) -> None:
                        if how == closed:
                            os.close(fd)
                        else:
                            resource.setrlimit(resource.RLIMIT_FSIZE, (how, how))
                    done = run_tool(*args, cwd=tmp, stdout=out, preexec_fn=prepare)
                    out.seek(0)
                    self.assertEqual(done.returncode, status, done.stderr)
                    # The last line: a warning may come before it.
                    self.assertEqual(done.stderr.splitlines(keepends=True)[-1:] if message else [],
                                     [message] if message else [])
                    if status == 0:
                        self.assertEqual(out.read(), expected[args[0]])
                    elif how == 300:
                        self.assertEqual(out.read(), expected["datos"][:300])

    def test_a_reader_that_leaves_early_is_no_failure(self):
        rows = "".join(f"  {2451545 + k}.  5.  10.  1.5  1.  90.  20.  0.9\n" for k in range(20000))
        with tempfile.TemporaryDirectory() as tmp:
            pathlib.Path(tmp, "ZEPO.DAT").write_text(rows)
            done = subprocess.run(f"{sys.executable} {SCRIPT} csv | head -1", shell=True, cwd=tmp,
                                  capture_output=True, text=True)
        self.assertEqual((done.stdout[:2], done.stderr), ("# ", ""))


if __name__ == "__main__":
    unittest.main()
