"""Tests of DATOS.DAT: what the generator writes, and its reading in the forms ephem reads."""

import dataclasses
import pathlib
import tempfile
import unittest
from typing import Any, List, Tuple

from testing import CERES_LINE, COMET_LINE, EXAMPLES, TestCase, run_tool
from ephem_table import datos, elements, mpc, step
from ephem_table.elements import BARYCENTRE, GEOCENTRE, INTEGRATION, PLANET

PLAIN = ("2.5 0.1 10.0 70.0 80.0 60.0 100.0 0.0\n"
         "1.0 0.0167 0.0 0.0 0.0 357.5 100.0 0.0\n"
         "100.0\n"
         "30\n")
TARGET = (2.5, 0.1, 10.0, 70.0, 80.0, 60.0, 100.0, 0.0)
OBSERVER = (1.0, 0.0167, 0.0, 0.0, 0.0, 357.5, 100.0, 0.0)


class ReadDatosTest(TestCase):
    def test_the_forms_ephem_reads(self):
        # (text, rows, notes) of files that all hold the same orbits and start.
        cases = [
            (PLAIN, 30, ("", "", "", "")),
            # Commas, D exponents, a group over two lines, a repeat count, a blank line, a sign
            # alone before an exponent, words after the last value.
            ("2.5, 0.1, 10, 7E1\n8.0d1 60. 1.0D+2 0   target: x | y\n1.0,0.0167,3*0,357.5,100,0\n\n1e2\n"
             "+3+1 elements end here\n", 30, ("target: x | y", "", "", "elements end here")),
            (PLAIN.replace("\n", "\r\n"), 30, ("", "", "", "")),
            (PLAIN.replace(" ", "\t").replace("30\n", "30"), 30, ("", "", "", "")),
            # A row count beyond 32 bits is stored by ephem as its lowest value.
            (PLAIN.replace("30\n", "3000000000\n"), -2**31, ("", "", "", "")),
            (PLAIN.replace("30\n", "35-1\n"), 3, ("", "", "", "")),
            # A repeat count of 4,401 digits, held as the largest count: it serves the rest of the read.
            (PLAIN.replace(" 0.0\n", " 1" + "0" * 4400 + "*0.0\n", 1), 30, ("", "", "", "")),
        ]
        for text, rows, notes in cases:
            with self.subTest(text=text):
                found = datos.parse_datos(text)
                self.assertEqual((found.target.values(), found.observer.values(), found.start_jd_tdb, found.rows,
                                  found.notes), (TARGET, OBSERVER, 100.0, rows, notes))

    def test_what_leaves_a_value_unset_or_ephem_refuses_is_refused(self):
        cases = [
            ("1,2,3,4\n,5,6,7,8\n", "DATOS.DAT:2: a value of the target's orbit is left empty"),
            ("1 2 3 / \n", "DATOS.DAT:1: a slash ends the target's orbit after 3 of 8 values"),
            (PLAIN.replace("30\n", "30.0\n"), "DATOS.DAT:4: '30.0' is not an integer (in the row count)"),
            (PLAIN.replace("30\n", "3E1\n"), "DATOS.DAT:4: '3E1' is not an integer (in the row count)"),
            ("1.5x 2\n", "DATOS.DAT:1: '1.5x' is not a number (in the target's orbit)"),
            ("Ceres\n" + PLAIN, "DATOS.DAT:1: 'Ceres' is not a number (in the target's orbit)"),
            ("0*5 " + PLAIN, "DATOS.DAT:1: a repeat count of 0 (in the target's orbit)"),
            (PLAIN.rsplit("\n", 3)[0], "DATOS.DAT: the file ends before the start time (0 of 1 values)"),
            ("", "DATOS.DAT: the file ends before the target's orbit (0 of 8 values)"),
            # The note of a scaled file without its factors, or with others than its step's.
            (PLAIN.replace("30\n", "30 rows: one every 10 min\n"),
             "DATOS.DAT:4: the note says rows of another step than a day, but not as ephem-table datos writes it"),
            (PLAIN.replace("30\n", "30 rows: one every 1 h; time = (JD - 100.0) x 24 and length = AU x 8.32 "
                                    "(step 1h)\n"),
             "DATOS.DAT:4: the factors of the note (time x 24, length x 8.32) are not those of its step 1h "
             "(x 24, x 8.320335292207616)"),
        ]
        for text, message in cases:
            with self.subTest(message=message):
                with self.assertRaises(datos.DatosError) as caught:
                    datos.parse_datos(text)
                self.assertEqual(str(caught.exception)[:len(message)], message)

    def test_what_the_generator_writes_reads_back(self):
        with open(CERES_LINE, "rb") as stream:
            target = mpc.mpc_orbit(stream, "ceres.mpc")
        observer = elements.planet_orbit("emb", 2459800.5)
        found = datos.parse_datos(datos.datos_text(target, observer, 2459800.5, 500))
        self.assertEqual((found.target.values(), found.observer.values(), found.start_jd_tdb, found.rows),
                         (target.values(), observer.values(), 2459800.5, 500))
        self.assertEqual(found.target_name(), "(1) Ceres")
        self.assertEqual(found.notes[2], "start: JD (TDB) 2022-08-09 00:00:00")

    def test_the_magnitude_parameters_of_each_source_are_kept_in_the_note(self):
        ceres = CERES_LINE.read_text()
        comet = COMET_LINE.read_text()
        cases: List[Tuple[List[str], str, Any]] = [
            # (TARGET, the end of the target's note, its parameters read back)
            ([str(CERES_LINE)], "over JD 2459800.5 to 2459804.5 (2022-08-09 00:00:00 to 2022-08-13 00:00:00 TDB)",
             None),
            (["minor.mpc"], "; magnitude: minor planet H=3.34 G=0.12", ("minor planet", 3.34, 0.12)),
            (["blank-g.mpc"], "; magnitude: minor planet H=10.5 G=0.15", ("minor planet", 10.5, 0.15)),
            (["comet.mpc"], "; magnitude: comet H=8.0 G=4.0", ("comet", 8.0, 4.0)),
            (["jupiter"], "; magnitude: planet Jupiter", ("planet", "Jupiter")),
            (["a=2.77", "e=0.08", "i=10", "om=80", "w=73", "M=334", "epoch=2022-08-09", "H=3.3"],
             "; magnitude: minor planet H=3.3 G=0.15", ("minor planet", 3.3, 0.15)),
            (["a=2.77", "e=0.08", "i=10", "om=80", "w=73", "M=334", "epoch=2022-08-09", "H=3.3", "G=-0.05"],
             "; magnitude: minor planet H=3.3 G=-0.05", ("minor planet", 3.3, -0.05)),
        ]
        with tempfile.TemporaryDirectory() as tmp:
            pathlib.Path(tmp, "minor.mpc").write_text(ceres[:8] + " 3.34  0.12" + ceres[19:])
            pathlib.Path(tmp, "blank-g.mpc").write_text(ceres[:8] + "10.5       " + ceres[19:])
            pathlib.Path(tmp, "comet.mpc").write_text(comet[:91] + " 8.0  4.0" + comet[100:])
            for target, note_end, expected in cases:
                with self.subTest(target=target[-1]):
                    done = run_tool("datos", *target, "--start", "2022-08-09", "--rows", "5", "-o", "-",
                                    cwd=tmp)
                    self.assertEqual(done.returncode, 0, done.stderr)
                    found = datos.parse_datos(done.stdout)
                    self.assertTrue(found.notes[0].endswith(note_end), found.notes[0])
                    photometry = found.photometry()
                    self.assertEqual(photometry and (photometry[:3] if photometry.kind != "planet" else
                                                     (photometry.kind, photometry.planet)), expected)
                    # The name before the parameters is read as before.
                    self.assertEqual(found.target_name(), {"comet.mpc": "55P/Tempel-Tuttle", "jupiter": "Jupiter"}.get(
                        target[0], "" if "=" in target[0] else "(1) Ceres"))

    def test_the_references_and_the_observer_said_by_the_notes(self):
        with open(CERES_LINE, "rb") as stream:
            ceres = mpc.mpc_orbit(stream, "ceres.mpc")
        mars, emb = elements.planet_orbit("mars", 2459800.5), elements.planet_orbit("emb", 2459800.5)
        geocentre = elements.geocentre_orbit(2459800.5)
        plan94_mars, barycentre = elements.Reference(PLANET, planet="Mars"), elements.Reference(BARYCENTRE)
        earth = elements.Reference(GEOCENTRE)
        integrated = elements.Reference(INTEGRATION, elements=ceres.values())

        def fitted(orbit, reference):
            return dataclasses.replace(orbit, epoch=2459801.0, fit=elements.Fit(reference, 2459800.5, 2459801.5))
        cases = [
            # (target, observer, step: the references read back, the observer's kind)
            (mars, emb, "1d", (plan94_mars, barycentre), "barycentre"),
            (fitted(mars, plan94_mars), fitted(geocentre, earth), "1d", (plan94_mars, earth), "geocentre"),
            (fitted(ceres, integrated), fitted(emb, barycentre), "1h", (integrated, barycentre), "barycentre"),
            # As given, the elements of an MPC line are integrated from their own values, a scaled file's
            # made real first.
            (ceres, mars, "10m", (integrated, plan94_mars), "other"),
        ]
        for target, observer, every, references, kind in cases:
            with self.subTest(target=target.name, observer=observer.name, step=every):
                text = datos.datos_text(target, observer, 2459800.5, 3, step.parse_step(every))
                found = datos.parse_datos(text)
                self.assertEqual(tuple(r for r, _ in found.references()), references)
                self.assertEqual(found.observer_kind(), kind)
                self.assertEqual(found.fit_span(), (2459800.5, 2459801.5) if datos.FIT_NOTE in text else None)
        # A file without the generator's notes, and one whose note names no reference.
        for text, kind, why in [(PLAIN, "unknown", "DATOS.DAT has no notes saying where its orbits come from"),
                                (PLAIN.replace("0.0\n100.0", "0.0   observer: Home | my own\n100.0"), "other",
                                 "its notes give no reference for my own")]:
            with self.subTest(kind=kind):
                found = datos.parse_datos(text)
                self.assertEqual(found.observer_kind(), kind)
                self.assertEqual(found.references()[1][0], None)
                self.assertTrue(found.references()[1][1].startswith(why), found.references()[1][1])

    def test_the_shipped_example_is_what_the_generator_writes_with_the_elements_as_given(self):
        # The command in examples/ceres-mpc/SOURCE.md with --as-given, and with a step of a day said in any
        # unit; the example's table is checked by the C++ tests.
        for daily in ((), ("--step", "1d"), ("--step", "24h"), ("--step", "1440m")):
            with self.subTest(step=daily), tempfile.TemporaryDirectory() as tmp:
                done = run_tool("datos", str(CERES_LINE), "--start", "2022-08-09", "--rows", "500", *daily,
                                "--as-given", cwd=tmp)
                self.assertEqual(done.returncode, 0, done.stderr)
                self.assertEqual(pathlib.Path(tmp, "DATOS.DAT").read_text(),
                                 (EXAMPLES / "ceres-mpc" / "DATOS.DAT").read_text())

if __name__ == "__main__":
    unittest.main()
