"""Tests of the orbit sources of `ephem-table datos`: elements by name, planets, the MPC formats; their
refusals, the physical bounds and the warnings, through the command as users run it."""

import gzip
import io
import os
import pathlib
import tempfile
import unittest

from testing import CERES_LINE, COMET_LINE, TestCase, run_tool
from ephem_table import dates, elements, mpc

ELEMENTS_OK = "a=2.77 e=0.08 i=10.6 om=80.3 w=73.5 M=334.3 epoch=2459800.5".split()
CERES = CERES_LINE.read_text().rstrip("\n")
PALLAS = CERES.replace("(1) Ceres", "(2) Pallas").replace("0.0786358", "0.2302487")
COMET = COMET_LINE.read_text().rstrip("\n")
# The first line of MPCORB.DAT's column titles, 158 characters: long enough for an orbit, and none.
TITLES = ("Des'n     H     G   Epoch     M        Peri.      Node       Incl.       e            n           a"
          "        Reference #Obs #Opp    Arc    rms  Perts   Computer")


def comet_line(number, name, eccentricity):
    """The comet line with another periodic number, name and eccentricity."""
    return f"{number:04d}P" + COMET[5:41] + eccentricity + COMET[49:102] + name


def minor_planet(packed, name=""):
    """Ceres's line with another packed designation and readable name."""
    return f"{packed:<7}" + CERES[7:166] + name


def with_element(key, value):
    """The good elements with one of them changed."""
    return [f"{key}={value}" if word.startswith(key + "=") else word for word in ELEMENTS_OK]


class RefusalTest(TestCase):
    """Every input ephem cannot compute, that is no orbit around the Sun, or that fails its format, is
    refused in one line naming the value, with status 1 for bad data in a file and 2 for a bad command
    line; no DATOS.DAT is left."""

    def test_refusals(self):
        ceres, comet = CERES, COMET
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
            # Seven lines hold the text, none is named by it; two comets are named by it.
            "seven.mpc": "\n".join(minor_planet(f"0000{n}", f"({n}) Vesta Family {n}") for n in range(1, 8)),
            "encke.mpc": "\n".join((comet_line(2, "2P/Encke", "0.847100"),
                                    comet_line(12, "12P/Pons-Brooks", "0.954500"),
                                    comet_line(2, "2P/Encke", "0.847200"))),
            "magnitude.mpc": ceres[:8] + " 3,34  0.12" + ceres[19:],
            "slope.mpc": comet[:91] + " 8.0  4.x" + comet[100:],
            "steep.mpc": comet[:91] + " 8.0 25.0" + comet[100:],
        }
        cases = [
            # (arguments, status, start of the message after "ephem-table ...: ")
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
            (["two.mpc"], 1, "two.mpc: 2 orbit lines: (1) Ceres (line 1), (2) Pallas (line 2); choose one with "
                             "--pick TEXT"),
            (["seven.mpc", "--pick", "VESTA"], 1, "seven.mpc: 7 orbit lines hold 'VESTA': (1) Vesta Family 1 (line 1), "
                                                  "(2) Vesta Family 2 (line 2), "),
            (["seven.mpc", "--pick", "vesta"], 1, "(5) Vesta Family 5 (line 5) and 2 more; choose one with --pick"),
            (["encke.mpc", "--pick", "2p"], 1, "encke.mpc: 2 orbit lines name '2p': 2P/Encke (line 1), 2P/Encke "
                                               "(line 3); choose one"),
            (["cut.gz"], 1, "cut.gz: a damaged or incomplete gzip file"),
            (["earth"], 2, "datos: the target and the observer are one orbit (EM-Bary): the distance between "
                           "them is 0"),
            (["mars", "--observer", "mars"], 2, "the target and the observer are one orbit (Mars)"),
            (["."], 2, "an MPC file (it is a folder) nor elements"),
            (["empty.mpc"], 1, "empty.mpc: no orbit line"),
            (["feb31.mpc"], 1, "feb31.mpc:1: columns 15-29 (time of perihelion): '1998 02 31.0977' is not a date"),
            (["titled.mpc"], 1, "titled.mpc: 2 orbit lines: (1) Ceres (line 2), (2) Pallas (line 3); choose one"),
            (["inside.mpc"], 1, "inside.mpc:1: the perihelion distance q = a (1 - e) = 0.004 AU is inside the Sun"),
            (["endless.mpc"], 1, "endless.mpc:1: a line longer than 1000 characters, which no file of orbits holds"),
            (["ceres.mcp"], 2, "target: 'ceres.mcp' is neither a planet"),
            (["magnitude.mpc"], 1, "magnitude.mpc:1: columns 9-13 (absolute magnitude H): '3,34' is not a number"),
            (["slope.mpc"], 1, "slope.mpc:1: columns 97-100 (slope parameter G): '4.x' is not a number"),
            (ELEMENTS_OK + ["G=0.2"], 2, "target: G= needs H="),
            # Slopes far outside the published ones: G = 1E308 made V -762.
            (ELEMENTS_OK + ["H=10", "G=1e308"], 2, "target: elements: G = 1e+308: the H, G system's slope G lies from "
                                                   "-1 to 1"),
            (["steep.mpc"], 1, "steep.mpc:1: G = 25.0: a comet's slope G lies from 0 to 20"),
            # A decompression bomb: 8 MiB of line ends in 8 kB.
            (["bomb.gz"], 1, "bomb.gz: uncompresses to more than 50 times its size"),
            (ELEMENTS_OK + ["H=inf"], 2, "target: H=inf is not a finite number"),
            (["mars", "--observer", "a=1 e=-0.1 i=0 om=0 w=0 M=0 epoch=2451545"], 2, "--observer: elements: e = -0.1"),
        ]
        with tempfile.TemporaryDirectory() as tmp:
            for name, text in files.items():
                pathlib.Path(tmp, name).write_text(text + "\n")
            pathlib.Path(tmp, "cut.gz").write_bytes(gzip.compress(ceres.encode())[:40])
            pathlib.Path(tmp, "bomb.gz").write_bytes(gzip.compress(b"\n" * (8 << 20)))
            for args, status, message in cases:
                start = "1799-12-31" if args == ["pluto"] else "2023-01-01"
                with self.subTest(args=" ".join(args)[:80]):
                    done = run_tool("datos", *args, "--start", start, "--rows", "10", cwd=tmp)
                    self.assertEqual(done.returncode, status, done.stderr)
                    self.assertEqual(done.stderr.count("\n"), 1, done.stderr)
                    self.assertIn(message, done.stderr)
                    self.assertLess(len(done.stderr), 400)
                    self.assertEqual(sorted(p.name for p in pathlib.Path(tmp).iterdir()), sorted([*files, "cut.gz", "bomb.gz"]))

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

    def test_circles_near_parabolas_and_perihelion_rows_are_written_without_a_word(self):
        cases = [
            # (eccentricity, time of perihelion): a circle, a nearly circular orbit, a comet of e 0.995, and
            # a row exactly at perihelion, all of which ephem computes.
            ("0", "1998-02-28"), ("1e-9", "1998-02-28"), ("0.995", "1998-02-28"), ("0.5", "1998-01-03"),
        ]
        for e, perihelion in cases:
            with self.subTest(e=e), tempfile.TemporaryDirectory() as tmp:
                done = run_tool("datos", "q=0.98", f"e={e}", "i=162", "om=235", "w=172", f"T={perihelion}",
                                "--start", "1998-01-01", "--rows", "5", cwd=tmp)
                self.assertEqual((done.returncode, done.stderr), (0, ""))
                self.assertTrue(pathlib.Path(tmp, "DATOS.DAT").exists())

    def test_orbits_as_given_far_from_their_epoch_or_the_planetary_table_are_written_with_a_warning(self):
        def comet(e, perihelion):
            return ["q=0.98", f"e={e}", "i=162", "om=235", "w=172", f"T={perihelion}"]
        cases = [
            # (source, warning) for 5 rows from 1998-01-01, with --as-given.
            # Rows more than two years (730.5 days) from the epoch: within them, and just past them
            # either way.
            (comet("0.5", "1996-01-06"), ""),
            (comet("0.5", "1996-01-01"), "elements: rows lie up to 2.0 years from the epoch of the elements "
                                         "(1996-01-01): two-body motion leaves out the planets' pulls"),
            (comet("0.5", "2000-01-04.5"), "rows lie up to 2.0 years from the epoch"),
            (comet("0.5", "1980-01-01"), "rows lie up to 18.0 years from the epoch"),
            # A planet's rows past the table's end, and the observer's.
            (["mars", "--start", "2050-12-31", "--rows", "1"], ""),
            (["mars", "--start", "2050-12-31", "--rows", "2"], "Mars: the rows run to 2051-01-01, past the "
                                                                "planetary table's span (1800-2050)"),
            (["mars", "--start", "2050-12-31", "--rows", "2"], "EM-Bary: the rows run to 2051-01-01"),
        ]
        # Fitted, the same orbits follow the integration and ERFA: the comet 18 years from its epoch and Mars
        # past 2050 need no warning.
        fitted = [(cases[3][0], ""), (cases[5][0], "")]
        for args, warning, as_given in [(*case, True) for case in cases] + [(*case, False) for case in fitted]:
            with self.subTest(args=" ".join(args), as_given=as_given), tempfile.TemporaryDirectory() as tmp:
                # The last --start and --rows given are taken.
                done = run_tool("datos", "--start", "1998-01-01", "--rows", "5", *args,
                                *(["--as-given"] if as_given else []), cwd=tmp)
                self.assertEqual(done.returncode, 0, done.stderr)
                self.assertTrue(pathlib.Path(tmp, "DATOS.DAT").exists())
                if warning:
                    self.assertIn(warning, done.stderr)
                else:
                    self.assertEqual(done.stderr, "")


class SourcesTest(TestCase):
    """Sources in the forms users have them give the orbit of the line or elements they hold."""

    def test_sources_as_users_have_them(self):
        ceres = (2.766619, 0.0786358, 10.5868, 73.53163, 80.26644, 334.32717, 2459800.5, 0.0)
        pallas = ceres[:1] + (0.2302487,) + ceres[2:]
        # 55P/Tempel-Tuttle: a = q / (1 - e), the mean anomaly 0 at the time of perihelion.
        tempel = (0.976428 / (1 - 0.905553), 0.905553, 162.4866, 172.5003, 235.271, 0.0, 2450872.5977, 0.0)
        encke = (0.976428 / (1 - 0.8471), 0.8471) + tempel[2:]
        observer = (1.0, 0.0167, 0.0, 102.9, 0.0, 357.5, 2461041.5, 0.0)
        mpcorb = "MINOR PLANET CENTER ORBIT DATABASE (MPCORB)\n\n" + TITLES + "\n" + "-" * 202 + "\n"
        files = {
            "MPCORB.DAT.gz": gzip.compress((mpcorb + CERES + "\n\n" + PALLAS + "\n").encode()),
            "bom.mpc": b"\xef\xbb\xbf" + CERES.encode() + b"\r\n",
            # A header line of column titles, without the dashes below it.
            "titled.mpc": (TITLES + "\n" + CERES + "\n").encode(),
            "two.mpc": (CERES + "\n" + PALLAS + "\n").encode(),
            "comets.mpc": "\n".join((comet_line(12, "12P/Pons-Brooks", "0.954500"),
                                     comet_line(2, "2P/Encke", "0.847100"), COMET)).encode(),
            # Lines without their readable designation: it is unpacked from the packed one.
            "packed.mpc": (minor_planet("K21Q03L") + "\n" + minor_planet("00004") + "\n").encode(),
            "vesta.mpc": minor_planet("00004").encode(),
        }
        elements_words = ["a=1", "e=0.0167", "i=0", "om=0", "w=102.9", "M=357.5", "epoch=2026-01-01"]
        cases = [
            # (arguments, standard input, line of DATOS.DAT, its orbit, its name)
            (["MPCORB.DAT.gz", "--pick", "(2) pallas"], None, 0, pallas, "(2) Pallas"),
            (["-"], gzip.compress(CERES.encode()), 0, ceres, "(1) Ceres"),
            (["/dev/fd/{fd}"], CERES.encode(), 0, ceres, "(1) Ceres"),
            (["bom.mpc"], None, 0, ceres, "(1) Ceres"),
            (["titled.mpc"], None, 0, ceres, "(1) Ceres"),
            (["two.mpc", "--pick", "CERES"], None, 0, ceres, "(1) Ceres"),
            (["two.mpc", "--pick", "(2)"], None, 0, pallas, "(2) Pallas"),
            # "2P" names 2P/Encke, and is only held by 12P/Pons-Brooks, before it in the file.
            (["comets.mpc", "--pick", "2P"], None, 0, encke, "2P/Encke"),
            (["comets.mpc", "--pick", "tempel-tuttle"], None, 0, tempel, "55P/Tempel-Tuttle"),
            (["packed.mpc", "--pick", "2021 ql3"], None, 0, ceres, "2021 QL3"),
            (["vesta.mpc"], None, 0, ceres, "(4)"),
            # The time of perihelion as orbit listings write it gives the comet line's orbit (55P.mpc) exactly.
            (["q=0.976428", "e=0.905553", "i=162.4866", "om=235.2710", "w=172.5003", "T=1998-02-28.0977"], None, 0,
             tempel, ""),
            # Elements as one quoted word or as separate words, for the target and the observer alike.
            ([" ".join(elements_words)], None, 0, observer, ""),
            (["mars", "--observer", " ".join(elements_words)], None, 1, observer, ""),
            (["--observer", *elements_words, "mars"], None, 1, observer, ""),
        ]
        with tempfile.TemporaryDirectory() as tmp:
            for name, data in files.items():
                pathlib.Path(tmp, name).write_bytes(data)
            for args, stdin, line, orbit, name in cases:
                with self.subTest(args=" ".join(args)[:60]):
                    read_end, write_end = os.pipe()
                    try:
                        os.write(write_end, stdin or b"")
                        os.close(write_end)
                        done = run_tool("datos", *[arg.format(fd=read_end) for arg in args], "--start", "2026-01-01",
                                        "--rows", "3", "--as-given", "-o", "-", cwd=tmp, stdin=read_end)
                    finally:
                        os.close(read_end)
                    self.assertEqual(done.returncode, 0, done.stderr)
                    values, _, note = done.stdout.splitlines()[line].partition("   ")
                    self.assertEqual(tuple(float(v) for v in values.split()), orbit)
                    self.assertEqual(note.partition(": ")[2].partition("|")[0].strip(), name)


class MpcTest(TestCase):
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
