"""The model's constants of the companion are the program's, bit for bit: the built program that prints
them (tests/model_constants.cpp, named in EPHEM_MODEL_CONSTANTS) against ephem_table.constants."""

import os
import subprocess
import unittest

from testing import TestCase
from ephem_table import constants

PROGRAM = os.environ.get("EPHEM_MODEL_CONSTANTS", "")


@unittest.skipUnless(PROGRAM, "needs the built model_constants: EPHEM_MODEL_CONSTANTS=path (CTest sets it)")
class ModelConstantsTest(TestCase):
    def test_the_companions_are_the_programs(self):
        printed = subprocess.run([PROGRAM], capture_output=True, text=True, check=True).stdout
        program = {name: float.fromhex(value) for name, value in (line.split() for line in printed.splitlines())}
        ours = {"gauss": constants.GAUSS_K, "pi": constants.PI, "dospi": constants.PI + constants.PI,
                "obli": constants.OBLIQUITY}
        self.assertEqual({name: value.hex() for name, value in ours.items()},
                         {name: value.hex() for name, value in program.items()})


if __name__ == "__main__":
    unittest.main()
