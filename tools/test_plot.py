"""Tests of `ephem-table plot`: the picture of a table, its title, and the decimation of long tables."""

import importlib.util
import math
import os
import pathlib
import stat
import tempfile
import unittest

from testing import MARS_TABLE, NAN_ROW, ONE_LINE_ROW, TWO_LINE_ROW, run_tool

HAVE_MATPLOTLIB = importlib.util.find_spec("matplotlib") is not None


@unittest.skipUnless(HAVE_MATPLOTLIB, "matplotlib is not installed")
class DecimationTest(unittest.TestCase):
    def test_every_peak_survives_and_short_curves_are_whole(self):
        import numpy
        from ephem_table import plot
        x = numpy.arange(100000, dtype=float)
        y = numpy.sin(x / 977.0)
        y[31337], y[77777] = 5.0, -5.0     # one-row spikes
        y[50000:50010] = numpy.nan         # a gap
        xs, ys = plot.decimated(x, y, 500)
        self.assertLessEqual(len(xs), 1000)
        self.assertEqual((numpy.nanmax(ys), numpy.nanmin(ys)), (5.0, -5.0))
        self.assertTrue(numpy.all(numpy.diff(xs) >= 0))  # in the order of the rows
        self.assertEqual(float(numpy.interp(31337, xs, ys)), 5.0)
        short = numpy.arange(10.0)
        self.assertIs(plot.decimated(short, short, 500)[1], short)


@unittest.skipUnless(HAVE_MATPLOTLIB, "matplotlib is not installed")
class PlotTest(unittest.TestCase):
    def setUp(self):
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        self.tmp = pathlib.Path(folder.name)

    def test_plot_writes_a_png(self):
        output = self.tmp / "track.png"
        done = run_tool("plot", str(MARS_TABLE), "-o", str(output))
        self.assertEqual((done.returncode, done.stderr), (0, ""))
        data = output.read_bytes()
        self.assertEqual(data[:8], b"\x89PNG\r\n\x1a\n")
        self.assertGreater(len(data), 10000)
        self.assertEqual(sorted(p.name for p in self.tmp.iterdir()), ["track.png"])

    def test_rows_with_nan_a_single_row_and_values_out_of_range_still_plot(self):
        cases = [NAN_ROW + TWO_LINE_ROW + NAN_ROW, TWO_LINE_ROW,
                 # INF and huge values beside good rows leave gaps.
                 TWO_LINE_ROW + "  2451546.  INF  1e308  1e308  -1e308  INF  1e308  -INF\n" + ONE_LINE_ROW]
        for text in cases:
            with self.subTest(rows=text.count("\n")):
                (self.tmp / "ZEPO.DAT").write_text(text)
                done = run_tool("plot", "-o", "out.svg", cwd=self.tmp)
                self.assertEqual(done.returncode, 0, done.stderr)
                self.assertIn("<svg", (self.tmp / "out.svg").read_text())

    def test_refusals(self):
        (self.tmp / "ZEPO.DAT").write_text(NAN_ROW * 3)
        (self.tmp / "EMPTY.DAT").write_text("")
        (self.tmp / "ONE.DAT").write_text(ONE_LINE_ROW)
        cases = [(("plot", "-o", "out.png"), "ephem-table: ZEPO.DAT: no row has a place on the sky"),
                 (("plot", "EMPTY.DAT"), "ephem-table: EMPTY.DAT: the table has no rows to plot"),
                 (("plot", "ONE.DAT", "-o", "x.nosuchformat"),
                  "ephem-table: cannot write x.nosuchformat: matplotlib writes no 'nosuchformat' images")]
        for args, message in cases:
            with self.subTest(args=args):
                done = run_tool(*args, cwd=self.tmp)
                self.assertEqual(done.returncode, 1)
                self.assertTrue(done.stderr.splitlines()[-1].startswith(message), done.stderr)
        warning = run_tool("plot", "-o", "out.png", cwd=self.tmp).stderr.splitlines()[0]
        self.assertIn("warning: ZEPO.DAT: 3 of 3 rows hold NAN", warning)
        self.assertEqual(sorted(p.name for p in self.tmp.iterdir()), ["EMPTY.DAT", "ONE.DAT", "ZEPO.DAT"])

    def test_title_from_the_generated_datos_beside_the_table(self):
        # The name is taken only when DATOS.DAT starts where the table does, and only from a regular file
        # of sensible size: a FIFO there is not opened (no writer would ever come), a device not read.
        from ephem_table import cli, table
        datos = ("1.5 0.09 1.8 286.5 49.6 19.4 2451545.0 0.0   target: 4 Vesta & co | elements\n"
                 "1.0 0.0167 0.0 102.9 0.0 -2.5 2451545.0 0.0   observer: EM-Bary\n"
                 "{start}   start: JD (TDB)\n2   rows: one a day\n")
        cases = [("2451545.0", "4 Vesta & co: 2 rows"), ("2451546.0", "ZEPO.DAT: 2 rows"),
                 ("fifo", "ZEPO.DAT: 2 rows"), ("large", "ZEPO.DAT: 2 rows")]
        if os.geteuid() == 0:
            cases.append(("zero device", "ZEPO.DAT: 2 rows"))
        for start, title in cases:
            with self.subTest(start=start), tempfile.TemporaryDirectory() as tmp:
                beside = pathlib.Path(tmp, "DATOS.DAT")
                if start == "fifo":
                    os.mkfifo(beside)
                elif start == "zero device":
                    os.mknod(beside, stat.S_IFCHR | 0o444, os.makedev(1, 5))
                elif start == "large":
                    beside.write_text(datos.format(start="2451545.0") + "#" * 100000)
                else:
                    beside.write_text(datos.format(start=start))
                path = pathlib.Path(tmp, "ZEPO.DAT")
                path.write_text(TWO_LINE_ROW * 2)
                found = cli.default_title(str(path), table.read_table(str(path)))
                self.assertTrue(found.startswith(title.replace("ZEPO.DAT", str(path))), found)
        # And in the picture.
        (self.tmp / "DATOS.DAT").write_text(datos.format(start="2451545.0"))
        (self.tmp / "ZEPO.DAT").write_text(TWO_LINE_ROW * 2)
        done = run_tool("plot", "-o", "out.svg", cwd=self.tmp)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertIn("4 Vesta &amp; co: 2 rows", (self.tmp / "out.svg").read_text())

    def test_polar_track_near_the_pole(self):
        # A track over the north pole: right ascension jumps by 12 h there, which a flat chart draws
        # as a line across it.
        text = "".join(f"  {2451545 + k}.  {(3.0 if k < 5 else 15.0)}  {80 + 2 * min(k, 9 - k)}  1.  0.5  90.  "
                       f"60.  0.75\n" for k in range(10))
        (self.tmp / "ZEPO.DAT").write_text(text)
        done = run_tool("plot", "-o", "out.svg", "--title", "over the pole", cwd=self.tmp)
        self.assertEqual(done.returncode, 0, done.stderr)
        svg = (self.tmp / "out.svg").read_text()
        self.assertIn("around the north pole", svg)
        self.assertIn("over the pole", svg)

    def test_many_rows_and_events_plot(self):
        # Twenty years of a body whose elongation swings every 60 days: hundreds of events, drawn
        # without labels, and curves drawn decimated.
        rows = "".join(f"  {2451545 + k}.  {12 + 11 * math.sin(k / 300)}  {20 * math.sin(k / 400)}  1.5  "
                       f"{1.2 + 0.5 * math.cos(k / 30)}  {90 + 80 * math.sin(k / 9.55)}  20.  0.9\n"
                       for k in range(7305))
        (self.tmp / "ZEPO.DAT").write_text(rows)
        done = run_tool("plot", "-o", "many.png", cwd=self.tmp)
        self.assertEqual((done.returncode, done.stderr), (0, ""))
        self.assertEqual((self.tmp / "many.png").read_bytes()[:4], b"\x89PNG")


if __name__ == "__main__":
    unittest.main()
