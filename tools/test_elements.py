"""Tests of the orbit sources of `ephem-table datos`: elements by name, planets, the MPC formats; their
refusals, the physical bounds and the warnings, through the command as users run it."""

import io
import pathlib
import tempfile
import unittest

from testing import CERES_LINE, COMET_LINE, run_tool
from ephem_table import dates, elements, mpc

ELEMENTS_OK = "a=2.77 e=0.08 i=10.6 om=80.3 w=73.5 M=334.3 epoch=2459800.5".split()


def with_element(key, value):
    """The good elements with one of them changed."""
    return [f"{key}={value}" if word.startswith(key + "=") else word for word in ELEMENTS_OK]


class RefusalTest(unittest.TestCase):
    """Every input ephem cannot compute, that is no orbit around the Sun, or that fails its format, is
    refused in one line naming the value, with status 1 for bad data in a file and 2 for a bad command
    line; no DATOS.DAT is left."""

    def test_refusals(self):
        ceres = CERES_LINE.read_text().rstrip("\n")
        comet = COMET_LINE.read_text().rstrip("\n")
        files = {
            # Month Z of a packed epoch: no month.
            "month.mpc": ceres[:23] + "Z" + ceres[24:],
            # February 30.
            "feb30.mpc": ceres[:20] + "K222U" + ceres[25:],
            # A column shifted by one: the blank between fields holds a digit.
            "shifted.mpc": " " + ceres,
            "short.mpc": ceres[:90],
            "comma.mpc": ceres[:70] + "0,0786358" + ceres[79:],
            "hyperbolic.mpc": comet[:41] + "1.000213" + comet[49:],
            "two.mpc": ceres + "\n" + ceres.replace("(1) Ceres", "(2) Pallas"),
            "empty.mpc": "\n",
            # February 31 as a comet's time of perihelion.
            "feb31.mpc": comet[:19] + "02 31.0977" + comet[29:],
            # A title line is no orbit line: the one orbit below it is taken, and a second one counts.
            "titled.mpc": "Ceres and Pallas, from MPCORB.DAT\n" + ceres + "\n" + ceres.replace("(1) Ceres", "(2) Pallas"),
            # A comet grazing the Sun closer than its surface.
            "inside.mpc": comet[:30] + " 0.004000" + comet[39:],
            "endless.mpc": "1" * 5000,
            "magnitude.mpc": ceres[:8] + " 3,34  0.12" + ceres[19:],
            "slope.mpc": comet[:91] + " 8.0  4.x" + comet[100:],
        }
        cases = [
            # (arguments, status, start of the message after "ephem-table ...: ")
            (with_element("e", "0"), 2, "target: elements: e = 0 exactly"),
            (with_element("e", "1"), 2, "target: elements: e = 1.0: ephem's model has only elliptic"),
            (with_element("e", "1.5"), 2, "target: elements: e = 1.5"),
            (with_element("a", "0"), 2, "target: elements: a = 0.0 AU"),
            (with_element("a", "-2"), 2, "target: elements: a = -2.0 AU"),
            (with_element("a", "2,77"), 2, "target: a='2,77' is not a number (write a decimal point"),
            (with_element("a", "nan"), 2, "target: elements: a = nan"),
            (with_element("a", "1e400"), 2, "target: elements: a = inf is not a finite number"),
            # The physical bounds, each just past its limit.
            (with_element("a", "1e-100"), 2, "target: elements: the perihelion distance q = a (1 - e) = 9.2e-101 AU "
                                             "is inside the Sun (radius 0.00465 AU)"),
            (with_element("a", "0.00505"), 2, "the perihelion distance q = a (1 - e) = 0.00465 AU is inside the Sun"),
            (with_element("a", "1000001"), 2, "a = 1000001.0 AU: beyond 1,000,000 AU nothing orbits the Sun"),
            (with_element("a", "1e308"), 2, "a = 1e+308 AU: beyond 1,000,000 AU"),
            (with_element("M", "1e20"), 2, "M = 1e+20: give the angle within one turn, from -360 to 360 degrees"),
            (with_element("M", "-360.5"), 2, "M = -360.5: give the angle within one turn"),
            (with_element("w", "1e308"), 2, "w = 1e+308: give the angle within one turn"),
            (with_element("om", "720"), 2, "om = 720.0: give the angle within one turn"),
            (with_element("i", "180.1"), 2, "i = 180.1: an inclination lies from -180 to 180 degrees"),
            (ELEMENTS_OK + ["m=2"], 2, "m = 2.0 solar masses: a body as heavy as the Sun"),
            (ELEMENTS_OK + ["m=-1e-9"], 2, "m = -1e-09: a mass cannot be negative"),
            (["q=0.001", "e=0.5", "i=1", "om=2", "w=3", "T=2000-01-01"], 2, "q = a (1 - e) = 0.001 AU is inside the Sun"),
            (with_element("epoch", "9" * 400 + "-01-01"), 2, "target: epoch= '9999"),
            (ELEMENTS_OK[:-1], 2, "target: missing epoch="),
            (ELEMENTS_OK + ["q=1"], 2, "target: a= M= epoch= cannot be given with q= T="),
            (["q=0.9", "e=0.5", "i=1", "om=2", "w=3", "T=2000-02-30"], 2, "target: T= '2000-02-30' is not a date"),
            (["pluto"], 2, "target: JD 2378495.5 is outside the planetary table's span"),
            (["vulcan"], 2, "target: 'vulcan' is neither a planet"),
            (["month.mpc"], 1, "month.mpc:1: columns 21-25 (packed epoch): month 'Z'"),
            (["feb30.mpc"], 1, "feb30.mpc:1: columns 21-25 (packed epoch): 'K222U' is 2022-02-30"),
            (["shifted.mpc"], 1, "shifted.mpc:1: column 26 should be blank between fields, not '9'"),
            (["short.mpc"], 1, "short.mpc:1: a minor planet's line has at least 103 columns"),
            (["comma.mpc"], 1, "comma.mpc:1: columns 71-79 (eccentricity): '0,0786358' is not a number"),
            (["hyperbolic.mpc"], 1, "hyperbolic.mpc:1: e = 1.000213: ephem's model has only elliptic"),
            (["two.mpc"], 1, "two.mpc: 2 orbit lines; choose one with --pick"),
            (["empty.mpc"], 1, "empty.mpc: no orbit line"),
            (["feb31.mpc"], 1, "feb31.mpc:1: columns 15-29 (time of perihelion): '1998 02 31.0977' is not a date"),
            (["titled.mpc"], 1, "titled.mpc: 2 orbit lines; choose one with --pick"),
            (["inside.mpc"], 1, "inside.mpc:1: the perihelion distance q = a (1 - e) = 0.004 AU is inside the Sun"),
            (["endless.mpc"], 1, "endless.mpc:1: a line longer than 1000 characters, which no file of orbits holds"),
            (["ceres.mcp"], 2, "target: 'ceres.mcp' is neither a planet"),
            (["magnitude.mpc"], 1, "magnitude.mpc:1: columns 9-13 (absolute magnitude H): '3,34' is not a number"),
            (["slope.mpc"], 1, "slope.mpc:1: columns 97-100 (slope parameter G): '4.x' is not a number"),
            (ELEMENTS_OK + ["G=0.2"], 2, "target: G= needs H="),
            (ELEMENTS_OK + ["H=inf"], 2, "target: H=inf is not a finite number"),
            (["mars", "--observer", "a=1 e=0 i=0 om=0 w=0 M=0 epoch=2451545"], 2, "--observer: elements: e = 0"),
        ]
        with tempfile.TemporaryDirectory() as tmp:
            for name, text in files.items():
                pathlib.Path(tmp, name).write_text(text + "\n")
            for args, status, message in cases:
                start = "1799-12-31" if args == ["pluto"] else "2023-01-01"
                with self.subTest(args=" ".join(args)[:80]):
                    done = run_tool("datos", *args, "--start", start, "--rows", "10", cwd=tmp)
                    self.assertEqual(done.returncode, status, done.stderr)
                    self.assertEqual(done.stderr.count("\n"), 1, done.stderr)
                    self.assertIn(message, done.stderr)
                    self.assertLess(len(done.stderr), 400)
                    self.assertEqual(sorted(p.name for p in pathlib.Path(tmp).iterdir()), sorted(files))

    def test_command_line_values(self):
        for args, message in [(["--start", "2000-01-01x"], "--start '2000-01-01x' is neither a date"),
                              (["--start", "2023-13-01"], "--start '2023-13-01' is not a date"),
                              (["--start", "4" * 400 + "-01-01"], "the year is beyond 1,000,000 either way"),
                              (["--rows", "0"], "--rows 0: give from 1 to 2147483647 rows"),
                              (["--rows", "2147483648"], "--rows 2147483648: give from 1 to 2147483647 rows")]:
            full = {"--start": "2023-01-01", "--rows": "10"}
            full[args[0]] = args[1]
            with self.subTest(args=args[0]), tempfile.TemporaryDirectory() as tmp:
                done = run_tool("datos", "mars", *[x for kv in full.items() for x in kv], cwd=tmp)
                self.assertEqual(done.returncode, 2)
                self.assertEqual(done.stderr.count("\n"), 1, done.stderr)
                self.assertIn(message, done.stderr)

    def test_orbits_at_the_bounds_are_taken(self):
        cases = [with_element("a", "0.00506"), with_element("a", "1000000"), with_element("M", "-360"),
                 with_element("w", "360"), with_element("i", "-180"), ELEMENTS_OK + ["m=1"]]
        for words in cases:
            with self.subTest(words=" ".join(words)):
                self.assertIsInstance(elements.named_orbit(words), elements.Orbit)

    def test_orbits_with_a_visible_error_are_written_with_a_warning(self):
        cases = [
            # (eccentricity, time of perihelion, warning): each band quotes the error at its upper end.
            ("0.89", "1998-02-28", ""),
            ("0.9055", "1998-02-28", "0.0004 rad"),
            ("0.995", "1998-02-28", "0.1 rad"),
            ("1e-9", "1998-02-28", "use 5e-06 for a circle"),
            # A row exactly at a mean anomaly of 0 may be NAN.
            ("0.5", "1998-01-03", "the row of JD 2450816.5 falls exactly on perihelion"),
        ]
        for e, perihelion, warning in cases:
            with self.subTest(e=e), tempfile.TemporaryDirectory() as tmp:
                done = run_tool("datos", "q=0.98", f"e={e}", "i=162", "om=235", "w=172", f"T={perihelion}",
                                "--start", "1998-01-01", "--rows", "5", cwd=tmp)
                self.assertEqual(done.returncode, 0, done.stderr)
                self.assertTrue(pathlib.Path(tmp, "DATOS.DAT").exists())
                if warning:
                    self.assertIn(warning, done.stderr)
                else:
                    self.assertEqual(done.stderr, "")


class MpcTest(unittest.TestCase):
    def test_pick_chooses_a_line_of_a_long_file(self):
        ceres = CERES_LINE.read_text()
        header = "MINOR PLANET CENTER ORBIT DATABASE (MPCORB)\nbla\n" + "-" * 160 + "\n"
        pallas = ceres.replace("(1) Ceres", "(2) Pallas").replace("0.0786358", "0.2302487")
        text = (header + ceres + "\n" + pallas).encode("ascii")
        orbit = mpc.mpc_orbit(io.BytesIO(text), "MPCORB.DAT", "(2) Pallas")
        self.assertEqual((orbit.name, orbit.a, orbit.e), ("(2) Pallas", 2.766619, 0.2302487))
        with self.assertRaises(elements.ElementsError) as caught:
            mpc.mpc_orbit(io.BytesIO(text), "MPCORB.DAT", "(3) Juno")
        self.assertEqual(str(caught.exception), "MPCORB.DAT: no orbit line holds '(3) Juno'")

    def test_packed_epochs(self):
        # The format's own examples.
        for packed, date in (("K2289", "2022-08-09"), ("K24AH", "2024-10-17"), ("J9611", "1996-01-01"),
                             ("I99CV", "1899-12-31")):
            with self.subTest(packed=packed):
                self.assertEqual(dates.calendar_day(mpc.packed_epoch(packed, "x")), date)


if __name__ == "__main__":
    unittest.main()
