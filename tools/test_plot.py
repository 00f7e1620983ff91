"""Tests of `ephem-table plot`: the picture of a table, its title, the decimation of long tables, the
charts of the sky and the geometry of the labels (measured in the laid-out figure, not in pixels)."""

import importlib.util
import math
import os
import pathlib
import stat
import tempfile
import unittest

from testing import COMET_LINE, EXAMPLES, MARS_TABLE, NAN_ROW, ONE_LINE_ROW, TWO_LINE_ROW, TestCase, run_tool

HAVE_MATPLOTLIB = importlib.util.find_spec("matplotlib") is not None

# Seven daily rows of a body passing 0.0002 AU from the Earth (RA hours, Dec degrees) on the fourth day.
FLY_BY = [(14.2232, -31.7007), (14.2078, -32.2127), (14.1576, -33.7531), (3.4821, -19.0972), (2.3395, 27.9632),
          (2.2984, 29.3195), (2.2836, 29.7731)]


def synthetic(places, start=2461041.5, delta=None):
    """A table of rows a day apart at these places (RA hours, Dec degrees); the observer distance from
    `delta` (a function of the row), else a slow swing."""
    from ephem_table.row import Table
    return Table.of_rows("synthetic", [
        (start + k, ra % 24.0, dec, 1.5, delta(k) if delta else 1.0 + 0.5 * math.cos(k / 40.0),
         90.0 + 80.0 * math.sin(k / 60.0), 30.0, 0.9) for k, (ra, dec) in enumerate(places)])


@unittest.skipUnless(HAVE_MATPLOTLIB, "matplotlib is not installed")
class DecimationTest(TestCase):
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
class SkyChartTest(TestCase):
    def test_right_ascension_ticks_are_round_and_name_each_place_once(self):
        from ephem_table import plot
        cases = [((0.0, 24.0), ["0h", "4h", "8h", "12h", "16h", "20h"]),    # 24h on 24h: one "0h"
                 ((22.0, 46.0), ["0h", "4h", "8h", "12h", "16h", "20h"]),   # a chart cut at 22h
                 ((18.9, 19.0), ["18h54m", "18h55m", "18h56m", "18h57m", "18h58m", "18h59m", "19h00m"]),
                 ((23.99, 24.01), ["23h59m30s", "23h59m45s", "0h00m00s", "0h00m15s", "0h00m30s"]),  # across 0h
                 ((5.0, 5.0 + 2.1 / 3600), ["5h00m00.0s", "5h00m00.5s", "5h00m01.0s", "5h00m01.5s", "5h00m02.0s"])]
        for (low, high), expected in cases:
            with self.subTest(low=low, high=high):
                ticks, labels = plot.ra_ticks(low, high)
                self.assertEqual(labels, expected)
                self.assertTrue(all(low - 1e-9 <= t <= high + 1e-9 for t in ticks))

    def test_chart_for_the_declinations(self):
        import numpy
        from ephem_table import plot
        cases = [((-25.0, 24.0), "flat"), ((-60.0, 60.0), "flat"), ((30.0, 85.0), "north"), ((-89.0, 0.0), "south"),
                 ((-74.0, 69.0), "sky"), ((-10.0, 65.0), "sky")]
        for (low, high), kind in cases:
            with self.subTest(low=low, high=high):
                self.assertEqual(plot.chart_kind(numpy.array([low, numpy.nan, high])), kind)

    def test_the_track_runs_on_across_0h_and_a_long_one_is_cut_at_one_edge(self):
        import numpy
        from ephem_table import plot
        numpy.testing.assert_allclose(plot.unwrapped_hours(numpy.array([23.5, 23.9, 0.3, numpy.nan, 0.7, 23.8])),
                                      [23.5, 23.9, 24.3, numpy.nan, 24.7, 23.8])
        # Round the sky once and a quarter with a loop at 9h, a NAN row in the middle; drawn at most 100
        # points, so that the gap must survive the decimation.
        hours = numpy.array([18.0 + 30.0 * k / 800 - 1.5 * math.sin(max(0.0, min(math.pi, (k - 400) / 20.0)))
                             for k in range(800)])
        dec = 20.0 * numpy.sin(numpy.radians(15.0 * hours))
        hours[300] = dec[300] = numpy.nan
        chart = plot.choose_chart(hours, dec)
        self.assertEqual(chart.kind, "flat")
        assert chart.seam is not None
        self.assertGreaterEqual(abs((chart.seam - 9.0 + 12.0) % 24.0 - 12.0), 3.0)  # away from the loop
        broken = ~numpy.isfinite(hours[:-1]) | ~numpy.isfinite(hours[1:])
        x, y = chart.path(hours, dec, broken, limit=100)
        finite = numpy.isfinite(x)
        self.assertTrue(numpy.all((x[finite] >= chart.seam) & (x[finite] <= chart.seam + 24.0)))
        pairs = finite[:-1] & finite[1:]
        self.assertLess(numpy.abs(numpy.diff(x))[pairs].max(), 1.0)   # no line across the chart
        # Cut where it crosses once: it leaves by one edge and comes in by the other at one declination.
        edges = numpy.flatnonzero(numpy.isclose(x, chart.seam) | numpy.isclose(x, chart.seam + 24.0))
        self.assertEqual(len(edges), 2)
        self.assertEqual(y[edges[0]], y[edges[1]])
        self.assertEqual(int((~finite).sum()), 2)                  # the crossing and the NAN row
        # A track of less than a turn on the whole sky is cut opposite its middle.
        self.assertEqual(plot.seam_hour(numpy.array([20.0, 22.0, 24.0, 26.0, 28.0])), 12)

    def test_steps_too_coarse_for_the_motion(self):
        import numpy
        from ephem_table import plot
        fly_by = numpy.array(FLY_BY)
        great_circle = numpy.array([(k * 13.0 / 15.0, 0.0) for k in range(10)])  # 13 degrees a day, steadily
        station = numpy.array([(10.0 + 0.02 * math.cos(k / 10.0), 15.0 + 0.01 * k) for k in range(60)])
        cases = [(fly_by, 150.0, [2, 3, 4]), (great_circle, 120.0, []), (station, 0.5, [])]
        for places, size, rows in cases:
            with self.subTest(rows=rows, size=size):
                found = plot.coarse_rows(places[:, 0], places[:, 1], size)
                self.assertEqual(numpy.flatnonzero(found).tolist(), rows)


def straight_fly_by():
    """Two days of 10-minute rows of a body passing 0.00025 AU from the observer in a straight line at
    0.0043 AU a day, nearest (at RA 6h, Dec 0) on the second day at 09:46."""
    from ephem_table.row import Table
    minutes = [(2461042.5 + k / 144.0, 0.0043 * (k / 144.0 - 1.4069), 0.00025) for k in range(289)]
    return Table.of_rows("fine", [(t, math.degrees(math.atan2(y, x)) / 15.0 % 24.0, 0.0, 1.0, math.hypot(x, y),
                                   90.0, 90.0, 0.5) for t, x, y in minutes])


@unittest.skipUnless(HAVE_MATPLOTLIB, "matplotlib is not installed")
class TrackGuidesTest(TestCase):
    def test_a_fly_by_has_its_closest_approach_on_the_track_and_time_labels_where_it_moves(self):
        from ephem_table import plot
        fig = plot.figure(straight_fly_by(), "fly-by")
        sky = next(a for a in fig.axes if a.get_title().startswith("track on the sky"))
        marker = next(line for line in sky.get_lines() if line.get_label() == "event")
        # The body's place at its nearest is RA 6h, Dec 0, whatever the rows either side.
        drawn = sky.transData.transform(marker.get_xydata()[0])
        body = sky.transData.transform((6.0, 0.0))
        width = marker.get_markersize() * fig.dpi / 72.0
        self.assertLessEqual(math.dist(drawn, body), width)
        # Half the track's length on the sky is passed within 1.4 hours of the encounter: so are half the
        # labels of time (dotted), which a calendar would have put at whole days.
        dots = next(line for line in sky.get_lines() if line.get_marker() == "." and line.get_color() == "black")
        near = [x for x, _ in dots.get_xydata() if 3.0 < x < 9.0]
        self.assertGreaterEqual(len(near), len(dots.get_xydata()) // 2 - 1)
        self.assertGreaterEqual(len(near), 4)

    def test_a_comet_has_no_illuminated_fraction(self):
        from ephem_table import datos, plot, table
        # The DATOS.DAT the generator writes from the comet's MPC line says what the body is.
        written = run_tool("datos", str(COMET_LINE), "--start", "1997-10-29", "--rows", "240", "-o", "-")
        made = {"comet": datos.parse_datos(written.stdout),
                "mars": datos.read_datos(str(EXAMPLES / "mars" / "DATOS.DAT"))}
        for name, expected in (("comet", []), ("mars", ["illuminated fraction"])):
            with self.subTest(name):
                rows = table.read_table(str(EXAMPLES / name / "ZEPO.expected"))
                fig = plot.figure(rows, name, made[name])
                labels = [a.get_ylabel() for a in fig.axes if a.get_ylabel() == "illuminated fraction"]
                self.assertEqual(labels, expected)


def overlap(a, b):
    return a.x0 < b.x1 and b.x0 < a.x1 and a.y0 < b.y1 and b.y0 < a.y1


@unittest.skipUnless(HAVE_MATPLOTLIB, "matplotlib is not installed")
class LabelGeometryTest(TestCase):
    """Labels (dates on the track, events on the time panels) in the laid-out figure: none on another,
    on a line, a marker or a legend, none outside its panel."""

    def check_labels(self, fig):
        import numpy
        from matplotlib.text import Annotation
        from matplotlib.transforms import Bbox
        renderer = fig.canvas.get_renderer()
        labels, blocks, lines = [], [], []
        for axis in fig.axes:
            box = axis.bbox
            for text in axis.texts:
                if isinstance(text, Annotation):
                    extent = text.get_window_extent(renderer)
                    self.assertTrue(box.x0 <= extent.x0 and extent.x1 <= box.x1 and
                                    box.y0 <= extent.y0 and extent.y1 <= box.y1, text.get_text())
                    labels.append((text.get_text(), extent))
            if axis.get_legend() is not None:
                blocks.append(axis.get_legend().get_window_extent(renderer))
            for line in axis.get_lines():
                points = line.get_transform().transform(numpy.asarray(line.get_xydata(), dtype=float))
                if line.get_marker() not in ("None", "", " ", None):
                    r = line.get_markersize() / 2.0 * fig.dpi / 72.0
                    blocks.extend(Bbox.from_extents(x - r, y - r, x + r, y + r)
                                  for x, y in points if numpy.isfinite([x, y]).all())
                if line.get_linestyle() not in ("None", "", " "):
                    lines.append(points)
        # Every line sampled at a pixel at most apart.
        pieces = []
        for points in lines:
            for (x0, y0), (x1, y1) in zip(points[:-1], points[1:]):
                if numpy.isfinite([x0, y0, x1, y1]).all():
                    n = int(math.hypot(x1 - x0, y1 - y0)) + 2
                    pieces.append(numpy.stack([numpy.linspace(x0, x1, n), numpy.linspace(y0, y1, n)], axis=1))
        dense = numpy.concatenate(pieces) if pieces else numpy.empty((0, 2))
        for i, (text, extent) in enumerate(labels):
            for other_text, other in labels[i + 1:]:
                self.assertFalse(overlap(extent, other), (text, other_text))
            for block in blocks:
                self.assertFalse(overlap(extent, block), text)
            inside = ((dense[:, 0] > extent.x0) & (dense[:, 0] < extent.x1) &
                      (dense[:, 1] > extent.y0) & (dense[:, 1] < extent.y1))
            self.assertFalse(inside.any(), text)
        return [text for text, _ in labels]

    def check_title_clear(self, fig):
        """The figure's title above every panel, its titles, ticks and labels."""
        renderer = fig.canvas.get_renderer()
        bottom = fig._suptitle.get_window_extent(renderer).y0
        for axis in fig.axes:
            self.assertLessEqual(axis.get_tightbbox(renderer).y1, bottom, axis.get_title())

    def check_equal_scale(self, sky):
        """A degree of arc as many pixels along right ascension as along declination, at the chart's centre."""
        (x0, x1), (y0, y1) = sky.get_xlim(), sky.get_ylim()
        middle = (y0 + y1) / 2.0
        left, low = sky.transData.transform((x0, y0))
        right, high = sky.transData.transform((x1, y1))
        along_ra = abs(right - left) / (abs(x1 - x0) * 15.0 * math.cos(math.radians(middle)))
        along_dec = abs(high - low) / (y1 - y0)
        self.assertAlmostEqual(along_ra / along_dec, 1.0, delta=0.01)

    def test_labels_keep_clear_of_each_other_the_lines_and_the_legends(self):
        from ephem_table import datos, plot, table
        from ephem_table.row import Table
        mars = table.read_table(str(MARS_TABLE))
        # The observer's orbit tells the Sun's place, which oppositions and conjunctions need.
        made = {"Mars": datos.read_datos(str(EXAMPLES / "mars" / "DATOS.DAT")),
                "both hemispheres": datos.read_datos(str(EXAMPLES / "comet" / "DATOS.DAT"))}
        comet = table.read_table(str(EXAMPLES / "comet" / "ZEPO.expected"))
        fly_by = synthetic(FLY_BY, delta=lambda k: abs(k - 3.1) * 0.003)
        long_track = synthetic([(18.0 + 30.0 * k / 730, 23.0 * math.sin(k / 116.0)) for k in range(730)])
        fine = straight_fly_by()
        # Each case with labels that must be written, and how many at least (the rows drawn as points are
        # labelled first), and the scale of the distances.
        cases = [("2 rows", synthetic(FLY_BY[:2]), [], 1, "rectilinear", "linear"),
                 ("3 rows", Table.of_rows("3 rows", list(mars)[:3]), [], 1, "rectilinear", "linear"),
                 ("Mars", mars, ["conj"], 4, "rectilinear", "linear"),
                 ("a fly-by", fly_by, ["2026-01-03", "2026-01-04", "2026-01-05", "closest"], 4, "rectilinear", "log"),
                 ("a fly-by in minutes", fine, ["2026-01-02", "2026-01-04", "closest"], 4,
                  "rectilinear", "log"),
                 ("round the sky", long_track, [], 5, "rectilinear", "linear"),
                 ("both hemispheres", comet, ["opp", "closest", "conj"], 8, "mollweide", "linear")]
        for name, rows, needed, count, projection, scale in cases:
            assert isinstance(needed, list)  # for mypy, which joins the rows of cases to object
            with self.subTest(name):
                fig = plot.figure(rows, name, made.get(name))
                sky = next(a for a in fig.axes if a.get_title().startswith("track on the sky"))
                self.assertEqual(sky.name, projection)
                distances = next(a for a in fig.axes if a.get_title().startswith("distances"))
                self.assertEqual(distances.get_yscale(), scale)
                written = self.check_labels(fig)
                self.check_title_clear(fig)
                if sky.get_title().startswith("track on the sky (J2000, geometric), equal scale"):
                    self.check_equal_scale(sky)
                self.assertLessEqual(set(needed), set(written))
                self.assertGreaterEqual(len(written), count)
                dates = [text for text in written if text[0].isdigit()]
                self.assertEqual(len(set(dates)), len(dates))

    def test_an_event_label_goes_below_a_legend_in_its_way(self):
        from matplotlib.backends.backend_agg import FigureCanvasAgg
        from matplotlib.figure import Figure
        from ephem_table import panels, plot
        from ephem_table.events import Event
        fig = Figure(figsize=(6, 3), dpi=plot.DPI)
        FigureCanvasAgg(fig)
        axis = fig.add_subplot()
        axis.plot([0.0, 10.0], [0.0, 0.3], label="a long curve name")
        axis.set_ylim(0.0, 1.0)
        axis.legend(loc="upper left")
        events = [Event(1.0, "closest approach", "", 1)]
        panels.mark_events([axis], events, float, fig.canvas.get_renderer())
        self.assertEqual(self.check_labels(fig), ["closest"])


@unittest.skipUnless(HAVE_MATPLOTLIB, "matplotlib is not installed")
class MagnitudePanelTest(TestCase):
    def test_a_panel_with_the_brighter_up_only_when_magnitudes_are_given(self):
        from ephem_table import plot
        rows = synthetic([(10.0 + 0.01 * k, 5.0) for k in range(50)])
        # The magnitudes, and the note of the panel ("" for none; None: no panel).
        # Where rows have none, the panel says why (the formula's reasons), over the shaded rows.
        why = ["rows beyond phase angle 120 deg"]
        for magnitudes, note in [(None, None),
                                 ([math.nan] * 25 + [4.0 + 0.1 * k for k in range(25)],
                                  "no magnitude: rows beyond phase angle 120 deg"),
                                 ([4.0 + 0.1 * k for k in range(25)] * 2, ""),
                                 ([math.nan] * 50, "no magnitude for these rows: rows beyond phase angle 120 deg")]:
            with self.subTest(note=note):
                fig = plot.figure(rows, "title", magnitudes=magnitudes, magnitude_label="H, G", magnitude_gaps=why)
                panels = [a for a in fig.axes if a.get_title() == "visual magnitude, brighter up (H, G)"]
                self.assertEqual(len(panels), 0 if note is None else 1)
                if panels:
                    assert magnitudes is not None
                    self.assertEqual([t.get_text() for t in panels[0].texts], [note] if note else [])
                    self.assertEqual(len(panels[0].patches), 1 if note and magnitudes[0] != magnitudes[0] and
                                     magnitudes[-1] == magnitudes[-1] else 0)
                    bottom, top = panels[0].get_ylim()
                    empty = magnitudes[-1] != magnitudes[-1]
                    self.assertGreater(bottom, top if empty else 6.4)  # the faintest at the bottom
                    self.assertLess(top, bottom if empty else 4.0)


@unittest.skipUnless(HAVE_MATPLOTLIB, "matplotlib is not installed")
class PlotTest(TestCase):
    def setUp(self):
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        self.tmp = pathlib.Path(folder.name)

    def test_plot_writes_a_png_and_says_where(self):
        output = self.tmp / "track.png"
        done = run_tool("plot", str(MARS_TABLE), "-o", str(output))
        self.assertEqual((done.returncode, done.stdout, done.stderr), (0, "", f"ephem-table: wrote {output}\n"))
        data = output.read_bytes()
        self.assertEqual(data[:8], b"\x89PNG\r\n\x1a\n")
        self.assertGreater(len(data), 10000)
        self.assertEqual(sorted(p.name for p in self.tmp.iterdir()), ["track.png"])
        with open(self.tmp / "piped", "wb") as piped:
            done = run_tool("plot", str(MARS_TABLE), "-o", "-", stdout=piped)
        self.assertEqual((done.returncode, done.stderr), (0, "ephem-table: wrote the image to standard output\n"))
        self.assertEqual((self.tmp / "piped").read_bytes()[:4], b"\x89PNG")

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
        self.assertEqual((done.returncode, done.stderr), (0, "ephem-table: wrote many.png\n"))
        self.assertEqual((self.tmp / "many.png").read_bytes()[:4], b"\x89PNG")


if __name__ == "__main__":
    unittest.main()
