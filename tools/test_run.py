"""Tests of `ephem-table run`: from an MPC line to the table, the CSV, the plot and the summary on a fresh
install, leaving the working directory as it was; ephem found beside the launcher; failures in one line."""

import csv
import os
import pathlib
import shutil
import subprocess
import tempfile
import unittest

from testing import CERES_LINE, EPHEM, EXAMPLES, SCRIPT, TOOLS, TestCase, run_tool
from ephem_table.table import read_table


def build_folder():
    """The CMake build that holds the ephem under test, or None."""
    folder = pathlib.Path(EPHEM).resolve() if EPHEM else None
    while folder is not None and folder != folder.parent:
        folder = folder.parent
        if (folder / "CMakeCache.txt").exists():
            return folder
    return None


def run_installed(launcher, *args, cwd, temporary):
    """ephem-table run as a user runs it, through a link to it, with no ephem on PATH and its temporary
    folders made in `temporary`."""
    link = temporary.parent / "link-to-ephem-table"
    link.unlink(missing_ok=True)
    link.symlink_to(launcher)
    env = dict(os.environ, PYTHONDONTWRITEBYTECODE="1", TMPDIR=str(temporary), PATH="/usr/bin:/bin")
    return subprocess.run([str(link), *args], cwd=cwd, env=env, capture_output=True, text=True)


def folder_state(folder):
    return {p.name: p.read_bytes() for p in folder.iterdir()}


class RunTest(TestCase):
    @unittest.skipUnless(build_folder(), "needs EPHEM, the ephem of a CMake build, to install it")
    def test_run_from_an_mpc_line_on_a_fresh_install_leaves_the_working_directory_as_it_was(self):
        with tempfile.TemporaryDirectory() as name:
            tmp = pathlib.Path(name)
            prefix, work, temporary = tmp / "prefix", tmp / "work", tmp / "temporary"
            work.mkdir()
            temporary.mkdir()
            installed = subprocess.run(["cmake", "--install", str(build_folder()), "--prefix", str(prefix)],
                                       capture_output=True, text=True)
            self.assertEqual(installed.returncode, 0, installed.stderr)
            # A run of the user's own in the working directory, which `run` must not touch.
            (work / "DATOS.DAT").write_text("a DATOS.DAT of the user's\n")
            (work / "ZEPO.DAT").write_text("a ZEPO.DAT of the user's\n")
            before = folder_state(work)
            launcher = prefix / "bin" / "ephem-table"
            # The example's table: Ceres from its MPC line as given, 500 days from its epoch.
            span = ("--start", "2022-08-09", "--rows", "500", "--as-given")
            done = run_installed(launcher, "run", str(CERES_LINE), *span, "--csv", "ceres.csv", "--plot", "ceres.png",
                                 cwd=work, temporary=temporary)
            # It says which files it wrote, on standard error as every note.
            self.assertEqual((done.returncode, done.stderr),
                             (0, "ephem-table: wrote ceres.csv\nephem-table: wrote ceres.png\n"))
            self.assertEqual(done.stdout.splitlines()[:2],
                             ["(1) Ceres: 500 rows", "from 2022-08-09 00:00:00 to 2023-12-21 00:00:00 TDB "
                                                     "(JD 2459800.5 to 2460299.5)"])
            self.assertEqual(list(temporary.iterdir()), [])
            after = folder_state(work)
            self.assertEqual(sorted(after), ["DATOS.DAT", "ZEPO.DAT", "ceres.csv", "ceres.png"])
            self.assertEqual({name: after[name] for name in before}, before)
            self.assertEqual(after["ceres.png"][:8], b"\x89PNG\r\n\x1a\n")
            # The CSV holds the example's table, value for value.
            expected = read_table(str(EXAMPLES / "ceres-mpc" / "ZEPO.expected"))
            records = csv.DictReader(line for line in after["ceres.csv"].decode().splitlines() if line[0] != "#")
            self.assertEqual([(float(r["julian_date_tdb"]), float(r["ra_hours"]), float(r["dec_degrees"]),
                               float(r["observer_distance_au"])) for r in records],
                             [(row.jd_tdb, row.ra_hours, row.dec_deg, row.observer_distance_au) for row in expected])
            # With --dir, the folder keeps the files, which are the example's to the byte.
            done = run_installed(launcher, "run", str(CERES_LINE), *span, "--dir", "kept", cwd=work,
                                 temporary=temporary)
            self.assertEqual((done.returncode, done.stderr), (0, ""))
            self.assertTrue(done.stdout.startswith(f"kept{os.sep}ZEPO.DAT: 500 rows\n"), done.stdout)
            for name, example in (("DATOS.DAT", "DATOS.DAT"), ("ZEPO.DAT", "ZEPO.expected")):
                self.assertEqual((work / "kept" / name).read_bytes(),
                                 (EXAMPLES / "ceres-mpc" / example).read_bytes(), name)

    def test_a_failing_or_missing_ephem_is_one_line_and_leaves_nothing(self):
        cases = [
            # (ephem beside the launcher, arguments after the source, status, message, its folder left)
            ("echo 'open: ZEPO.DAT is being written by another run' >&2\necho more >&2\nexit 1", (), 1,
             "ephem failed (status 1): open: ZEPO.DAT is being written by another run\n", False),
            ("kill -9 $$", (), 1, "ephem failed (signal 9): no report\n", False),
            ("exit 3", ("--keep",), 1, "ephem failed (status 3): no report\n", True),
            ("exit 0", ("--csv", "-", "--plot", "-"), 2,
             "ephem-table run: --csv - and --plot - would both write standard output", False),
            # ephem succeeds but writes no table.
            ("exit 0", (), 1, "cannot read", False),
            (None, (), 1, "prefix/bin beside ephem-table nor on PATH: install both", False),
        ]
        for script, args, status, message, left in cases:
            with self.subTest(script=script and script[:20], args=args), tempfile.TemporaryDirectory() as name:
                tmp = pathlib.Path(name)
                work, temporary, bin_folder = tmp / "work", tmp / "temporary", tmp / "prefix" / "bin"
                for folder in (work, temporary, bin_folder):
                    folder.mkdir(parents=True)
                # ephem-table laid out as cmake --install lays it out, and an ephem that does as told.
                shutil.copy(SCRIPT, bin_folder / "ephem-table")
                shutil.copytree(TOOLS / "ephem_table", tmp / "prefix" / "share" / "ephem" / "ephem_table")
                if script is not None:
                    (bin_folder / "ephem").write_text("#!/bin/sh\n" + script + "\n")
                    (bin_folder / "ephem").chmod(0o755)
                done = run_installed(bin_folder / "ephem-table", "run", "mars", "--start", "2026-01-01", "--rows", "3",
                                     *args, cwd=work, temporary=temporary)
                self.assertEqual(done.returncode, status, done.stderr)
                self.assertIn(message, done.stderr)
                self.assertEqual(done.stderr.count("\n"), 1 + left, done.stderr)
                self.assertEqual(len(list(temporary.iterdir())), left)
                self.assertEqual(list(work.iterdir()), [])

    @unittest.skipUnless(EPHEM, "needs the built ephem: EPHEM=path/to/ephem (CTest sets it)")
    def test_run_at_a_step_of_an_hour_gives_an_hourly_csv_and_plot(self):
        with tempfile.TemporaryDirectory() as tmp:
            done = run_tool("run", str(CERES_LINE), "--start", "2022-08-09", "--rows", "49", "--step", "1h", "--csv",
                            "t.csv", "--plot", "t.png", cwd=tmp, path=str(pathlib.Path(EPHEM).resolve().parent))
            self.assertEqual(done.returncode, 0, done.stderr)
            self.assertTrue(done.stdout.splitlines()[1].startswith("rows every 1 h: "), done.stdout)
            self.assertEqual(pathlib.Path(tmp, "t.png").read_bytes()[:4], b"\x89PNG")
            records = list(csv.DictReader(line for line in pathlib.Path(tmp, "t.csv").read_text().splitlines()
                                          if line[0] != "#"))
        self.assertEqual([r["date_tdb"] for r in records[:2] + records[-1:]],
                         ["2022-08-09 00:00:00", "2022-08-09 01:00:00", "2022-08-11 00:00:00"])
        times = [float(r["julian_date_tdb"]) for r in records]
        self.assertLess(max(abs((b - a) * 24.0 - 1.0) for a, b in zip(times, times[1:])), 1e-8)


if __name__ == "__main__":
    unittest.main()
