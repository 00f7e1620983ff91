"""Tests of `ephem-table run`: from an MPC line to the table, the CSV, the plot and the summary on a fresh
install, leaving the working directory as it was; ephem found beside the launcher; failures in one line."""

import csv
import os
import pathlib
import shutil
import signal
import subprocess
import sys
import tempfile
import time
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


def run_installed(launcher, *args, cwd, temporary, fresh=False):
    """ephem-table run as a user runs it, through a link to it, with no ephem on PATH and its temporary
    folders made in `temporary`; `fresh`: the installed copy itself, in a new interpreter."""
    link = temporary.parent / "link-to-ephem-table"
    link.unlink(missing_ok=True)
    link.symlink_to(launcher)
    return run_tool(*args, cwd=cwd, launcher=link, environment={"TMPDIR": str(temporary), "PATH": "/usr/bin:/bin"},
                    fresh=fresh)


def install_beside(bin_folder, script):
    """ephem-table laid out as cmake --install lays it out, with an ephem beside it that runs script
    (none: no ephem)."""
    bin_folder.mkdir(parents=True, exist_ok=True)
    shutil.copy(SCRIPT, bin_folder / "ephem-table")
    shutil.copytree(TOOLS / "ephem_table", bin_folder.parent / "share" / "ephem" / "ephem_table")
    if script is not None:
        (bin_folder / "ephem").write_text("#!/bin/sh\n" + script + "\n")
        (bin_folder / "ephem").chmod(0o755)


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
                                 cwd=work, temporary=temporary, fresh=True)
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
                for folder in (work, temporary):
                    folder.mkdir(parents=True)
                install_beside(bin_folder, script)
                done = run_installed(bin_folder / "ephem-table", "run", "mars", "--start", "2026-01-01", "--rows", "3",
                                     "--as-given", *args, cwd=work, temporary=temporary)
                self.assertEqual(done.returncode, status, done.stderr)
                self.assertIn(message, done.stderr)
                self.assertEqual(done.stderr.count("\n"), 1 + left, done.stderr)
                self.assertEqual(len(list(temporary.iterdir())), left)
                self.assertEqual(list(work.iterdir()), [])

    def test_a_signal_ends_the_run_as_an_interrupt_and_leaves_nothing(self):
        # SIGTERM and SIGHUP while ephem runs (here one that sleeps): ephem is ended and waited for, the
        # run folder removed, the status that of the signal. Kept with --keep.
        cases = [(signal.SIGTERM, ()), (signal.SIGHUP, ()), (signal.SIGINT, ()), (signal.SIGTERM, ("--keep",))]
        for number, args in cases:
            with self.subTest(signal=number.name, args=args), tempfile.TemporaryDirectory() as name:
                tmp = pathlib.Path(name)
                work, temporary, bin_folder = tmp / "work", tmp / "temporary", tmp / "prefix" / "bin"
                install_beside(bin_folder, f"echo $$ > {tmp / 'ephem.pid'}\nexec sleep 60")
                work.mkdir()
                temporary.mkdir()
                link = tmp / "ephem-table"
                link.symlink_to(bin_folder / "ephem-table")
                env = dict(os.environ, PYTHONDONTWRITEBYTECODE="1", TMPDIR=str(temporary), PATH="/usr/bin:/bin")
                # Started as a shell starts a job in the foreground: with every signal's default action,
                # whatever this process was given (a background job of a script ignores SIGINT, and a
                # program keeps a signal ignored at its start ignored).
                started = subprocess.Popen([str(link), "run", "mars", "--start", "2026-01-01", "--rows", "3",
                                            "--as-given", *args],
                                           cwd=work, env=env, stderr=subprocess.PIPE, text=True,
                                           preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL))
                while not (tmp / "ephem.pid").exists() or not (tmp / "ephem.pid").read_text().strip():
                    self.assertIsNone(started.poll(), "ended before ephem started")
                    time.sleep(0.01)
                started.send_signal(number)
                _, errors = started.communicate(timeout=30)
                self.assertEqual(started.returncode, 128 + number, errors)
                with self.assertRaises(ProcessLookupError):
                    os.kill(int((tmp / "ephem.pid").read_text()), 0)
                self.assertEqual(len(list(temporary.iterdir())), len(args))
                self.assertEqual(list(work.iterdir()), [])

    @unittest.skipUnless(shutil.which("strace"), "needs strace to raise a signal at one system call")
    def test_a_signal_while_a_file_is_replaced_leaves_no_temporary(self):
        # The tracer raises the signal at a sync of the temporary that replaces a file: at the first, of
        # DATOS.DAT's; at the third, of run's CSV (its DATOS.DAT and run folder come first).
        span = ("--start", "2026-01-01", "--rows", "3", "--as-given")
        cases = [("SIGTERM", 1, ("datos", "mars", *span, "-o", "out.txt")),
                 ("SIGHUP", 3, ("run", "mars", *span, "--csv", "out.txt"))]
        for name, when, args in cases:
            with self.subTest(signal=name, command=args[0]), tempfile.TemporaryDirectory() as tmp:
                work, temporary = pathlib.Path(tmp, "work"), pathlib.Path(tmp, "temporary")
                work.mkdir()
                temporary.mkdir()
                (work / "out.txt").write_text("what was there\n")
                env = dict(os.environ, PYTHONDONTWRITEBYTECODE="1", TMPDIR=str(temporary),
                           PATH=str(pathlib.Path(EPHEM or "/nonexistent").resolve().parent) + ":/usr/bin:/bin")
                done = subprocess.run(["strace", "-qq", "-o", "/dev/null", "-e", "trace=fsync", "-e",
                                       f"inject=fsync:signal={name}:when={when}", sys.executable, str(SCRIPT), *args],
                                      cwd=work, env=env, capture_output=True, text=True)
                if done.returncode == 1 and "ephem is neither" in done.stderr:
                    self.skipTest("needs the built ephem: EPHEM=path/to/ephem (CTest sets it)")
                self.assertEqual(done.returncode, 128 + getattr(signal, name), done.stderr)
                self.assertEqual(sorted(p.name for p in work.iterdir()), ["out.txt"])
                self.assertEqual((work / "out.txt").read_text(), "what was there\n")
                self.assertEqual(list(temporary.iterdir()), [])

    def test_a_dir_whose_files_ephem_could_not_use_is_refused_before_it_runs(self):
        # A FIFO ZEPO.DAT would have the run wait for ever (ephem writes it, run reads it back).
        makers = [("ZEPO.DAT", os.mkfifo), ("DATOS.DAT", os.mkfifo), ("ZEPO.DAT", os.mkdir)]
        for name, make in makers:
            with self.subTest(name=name, kind=make.__name__), tempfile.TemporaryDirectory() as tmp:
                folder = pathlib.Path(tmp, "D")
                folder.mkdir()
                make(folder / name)
                bin_folder = pathlib.Path(tmp, "prefix", "bin")
                install_beside(bin_folder, f"touch {tmp}/ran")
                done = run_installed(bin_folder / "ephem-table", "run", "mars", "--start", "2026-01-01", "--rows",
                                     "3", "--as-given", "--dir", str(folder), cwd=tmp, temporary=pathlib.Path(tmp))
                self.assertEqual((done.returncode, done.stderr),
                                 (1, f"ephem-table: {folder / name} is no regular file (a FIFO, a device or a folder): "
                                     f"run writes {name} and reads the table back, so give a --dir whose {name} is a "
                                     f"file or absent\n"))
                self.assertFalse(pathlib.Path(tmp, "ran").exists())

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
