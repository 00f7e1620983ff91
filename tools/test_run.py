"""Tests of `ephem-table run`: from an MPC line to the table, the CSV, the plot and the summary on a fresh
install, leaving the working directory as it was; ephem found beside the launcher; failures in one line."""

import csv
import dataclasses
import datetime
import importlib.util
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

from testing import CERES_LINE, EPHEM, EXAMPLES, SCRIPT, TOOLS
from ephem_table.table import read_table

HAVE_CHECKERS = all(importlib.util.find_spec(m) is not None for m in ("erfa", "skyfield", "numpy"))
if HAVE_CHECKERS:
    import numpy

AU_KM = 149597870.7


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


class RunTest(unittest.TestCase):
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
            # The example's table: Ceres from its MPC line, 500 days from its epoch.
            span = ("--start", "2022-08-09", "--rows", "500")
            done = run_installed(launcher, "run", str(CERES_LINE), *span, "--csv", "ceres.csv", "--plot", "ceres.png",
                                 cwd=work, temporary=temporary)
            self.assertEqual((done.returncode, done.stderr), (0, ""))
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
    @unittest.skipUnless(HAVE_CHECKERS, "needs python3-erfa and python3-skyfield (Debian packages)")
    def test_run_at_a_step_of_an_hour_and_of_ten_minutes(self):
        # The fly-by of test_step: its closest approach against the minimum of the distance that the
        # two-body model gives from the elements of DATOS.DAT, found here by Skyfield's propagator.
        fly_by = ["a=0.9224", "e=0.1911", "i=3.34", "w=126.4", "om=203.986", "M=252.5822", "epoch=2029-04-13T21:46"]
        cases = [
            # (the source and span, the step, the first three dates of the CSV)
            ([str(CERES_LINE), "--start", "2022-08-09", "--rows", "49"], "1h",
             ["2022-08-09 00:00:00", "2022-08-09 01:00:00", "2022-08-09 02:00:00"]),
            (fly_by + ["--start", "2029-04-12T12:00", "--rows", "289"], "10m",
             ["2029-04-12 12:00:00", "2029-04-12 12:10:00", "2029-04-12 12:20:00"]),
        ]
        for args, step, dates in cases:
            with self.subTest(step=step), tempfile.TemporaryDirectory() as name:
                tmp = pathlib.Path(name)
                work, temporary, bin_folder = tmp / "work", tmp / "temporary", tmp / "prefix" / "bin"
                for folder in (work, temporary, bin_folder):
                    folder.mkdir(parents=True)
                shutil.copy(SCRIPT, bin_folder / "ephem-table")
                shutil.copytree(TOOLS / "ephem_table", tmp / "prefix" / "share" / "ephem" / "ephem_table")
                (bin_folder / "ephem").symlink_to(pathlib.Path(EPHEM).resolve())
                done = run_installed(bin_folder / "ephem-table", "run", *args, "--step", step, "--csv", "t.csv",
                                     "--plot", "t.png", "--dir", "kept", cwd=work, temporary=temporary)
                self.assertEqual(done.returncode, 0, done.stderr)
                self.assertNotIn("warning", done.stderr)
                self.assertTrue(done.stdout.splitlines()[1].startswith(f"rows every {step[:-1]} "), done.stdout)
                self.assertEqual((work / "t.png").read_bytes()[:4], b"\x89PNG")
                records = list(csv.DictReader(line for line in (work / "t.csv").read_text().splitlines()
                                              if line[0] != "#"))
                self.assertEqual(len(records), int(args[-1]))
                self.assertEqual([r["date_tdb"] for r in records[:3]], dates)
                times = [float(r["julian_date_tdb"]) for r in records]
                minutes = 60.0 if step == "1h" else 10.0
                self.assertLess(max(abs((b - a) * 1440.0 - minutes) for a, b in zip(times, times[1:])), 1e-6)
                if step == "10m":
                    self.expect_the_models_closest_approach(done.stdout, work / "kept" / "DATOS.DAT")

    def expect_the_models_closest_approach(self, info, path):
        from test_events import Geometry, golden
        from test_propagation import generated_orbit
        from skyfield.api import load
        from ephem_table import datos
        found = datos.read_datos(str(path))
        assert found.origin_jd_tdb is not None
        # The real elements from the scaled ones: the epochs count 10-minute steps, the axes are 144^(2/3)
        # times the real ones.
        ts = load.timescale(builtin=True)
        orbits = [generated_orbit(dataclasses.replace(o, a=o.a / 144.0 ** (2.0 / 3.0),
                                                      epoch=found.origin_jd_tdb + o.epoch / 144.0), ts)
                  for o in (found.target, found.observer)]
        for orbit in orbits:
            orbit._rotation = None  # ecliptic, the frame of the elements
        geometry = Geometry(*(lambda t, o=o: numpy.asarray(o._at(ts.tt_jd(t))[0]).T.reshape(-1, 3) for o in orbits))
        grid = numpy.arange(found.origin_jd_tdb, found.origin_jd_tdb + 2.0, 1.0 / 1440.0)
        nearest = grid[int(numpy.argmin(geometry.quantities(grid)["distance"]))]
        t_model = golden(lambda t: geometry.at("distance", t), nearest - 1e-3, nearest + 1e-3, -1)
        d_model = geometry.at("distance", t_model)
        (when, au, km), = re.findall(r"^  (\S+ \S+) TDB  closest approach: distance (\S+) AU \(([\d,]+) km\)$", info,
                                     re.MULTILINE)
        t_table = 2451545.0 + (datetime.datetime.strptime(when, "%Y-%m-%d %H:%M") -
                               datetime.datetime(2000, 1, 1, 12)).total_seconds() / 86400.0
        model_when = datetime.datetime(2000, 1, 1, 12) + datetime.timedelta(days=t_model - 2451545.0)
        print(f"\nfly-by at 10-minute rows: closest approach {when} TDB, {au} AU ({km} km); the model's "
              f"{model_when:%Y-%m-%d %H:%M:%S} TDB, {d_model:.6g} AU ({d_model * AU_KM:,.0f} km)", file=sys.stderr)
        # The time is printed to the minute, cut (the event lies in the minute printed).
        self.assertLessEqual(abs(t_table - t_model), 2.0 / 1440.0)
        self.assertEqual((float(au), float(km.replace(",", ""))),
                         (float(f"{d_model:.2e}"), float(f"{d_model * AU_KM:.2e}")))


if __name__ == "__main__":
    unittest.main()
