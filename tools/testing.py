"""What the tests of ephem-table share: where things are, sample rows as ephem writes them, and a run of
the command in a fresh process."""

import os
import pathlib
import subprocess
import sys
from typing import Any

sys.dont_write_bytecode = True

TOOLS = pathlib.Path(__file__).resolve().parent
SCRIPT = TOOLS / "ephem-table"
EXAMPLES = TOOLS.parent / "examples"
MARS_TABLE = EXAMPLES / "mars" / "ZEPO.expected"
CERES_LINE = EXAMPLES / "ceres-mpc" / "ceres.mpc"
COMET_LINE = EXAMPLES / "comet" / "55P.mpc"
EPHEM = os.environ.get("EPHEM", "")

if str(TOOLS) not in sys.path:
    sys.path.insert(0, str(TOOLS))

# The first row of the Mars example, on its two lines as ephem writes it.
TWO_LINE_ROW = ("  2451545.  22.0352961 -13.1786492  1.39115922  1.84956441  47.6050457\n"
                "  31.4665953  0.926472324\n")
ONE_LINE_ROW = "  2453500.  13.5 -7.25  1.52  0.67  150.3  20.1  0.97\n"
# Both bodies at one point: the distance is 0 and every angle NaN.
NAN_ROW = "  2451545.  NAN  NAN  1.  0.  NAN  NAN  NAN\n"


def run_tool(*args: str, cwd: Any = None, stdout: Any = subprocess.PIPE, path: str = "",
             **options: Any) -> "subprocess.CompletedProcess[str]":
    """ephem-table run as a user runs it, with its status, standard error and (unless sent elsewhere)
    standard output; `path` first on PATH."""
    env = dict(os.environ, PYTHONDONTWRITEBYTECODE="1")
    if path:
        env["PATH"] = path + os.pathsep + env.get("PATH", "")
    return subprocess.run([sys.executable, str(SCRIPT), *args], stdout=stdout, stderr=subprocess.PIPE, text=True,
                          cwd=cwd, env=env, **options)


def table_in(tmp: Any, *datos_args: str) -> None:
    """DATOS.DAT written in the folder tmp by `datos datos_args`, and the table ephem (EPHEM) writes from it;
    any word on standard error, or a failing status, fails the test."""
    done = run_tool("datos", *datos_args, cwd=tmp)
    if done.returncode != 0:
        raise AssertionError(done.stderr)
    ephem = subprocess.run([EPHEM], cwd=tmp, capture_output=True, text=True)
    if ephem.returncode != 0 or ephem.stderr:
        raise AssertionError(f"ephem: {ephem.returncode} {ephem.stderr}")
