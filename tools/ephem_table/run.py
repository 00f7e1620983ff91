"""ephem run for `ephem-table run`: the program found, a folder to run it in, and its failure told in
one line.

ephem reads DATOS.DAT and writes ZEPO.DAT in its working directory. The run happens in the folder
--dir names, or in a fresh temporary folder removed afterwards unless it is to be kept: a DATOS.DAT or
ZEPO.DAT of the user's working directory is never replaced unless --dir names that directory.
"""

import contextlib
import os
import shutil
import subprocess
import tempfile
from typing import Iterator, Optional

from .errors import DataError

# A report of ephem is one line; the first is enough to say what went wrong.
LONGEST_REPORT = 300


def find_ephem(launcher: str) -> str:
    """The ephem installed beside the launcher (in the folder of its real path: bin/ after cmake
    --install, whatever links lead to it), else the first on PATH."""
    folder = os.path.dirname(os.path.realpath(launcher))
    beside = os.path.join(folder, "ephem")
    if os.path.isfile(beside) and os.access(beside, os.X_OK):
        return beside
    on_path = shutil.which("ephem")
    if on_path:
        return on_path
    raise DataError(f"ephem is neither in {folder} beside ephem-table nor on PATH: install both "
                    f"(cmake --install) or add the folder of ephem to PATH")


@contextlib.contextmanager
def run_folder(folder: Optional[str], keep: bool) -> Iterator[str]:
    """The folder to run ephem in: `folder` (made if missing, always left), or a fresh temporary one,
    removed afterwards unless `keep`."""
    if folder is not None:
        try:
            os.makedirs(folder, exist_ok=True)
        except OSError as error:
            raise DataError(f"cannot make the folder {folder}: {error.strerror}") from None
        yield folder
        return
    made = tempfile.mkdtemp(prefix="ephem-table-")
    try:
        yield made
    finally:
        if not keep:
            shutil.rmtree(made, ignore_errors=True)


def run_ephem(ephem: str, folder: str) -> None:
    """Runs ephem in the folder; its failure becomes a DataError with the first line of its report."""
    try:
        done = subprocess.run([ephem], cwd=folder, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              stderr=subprocess.PIPE)
    except OSError as error:
        raise DataError(f"cannot run {ephem}: {error.strerror}") from None
    if done.returncode == 0:
        return
    report = next((line.strip() for line in done.stderr.decode("utf-8", "replace").splitlines()
                   if line.strip()), "no report")
    how = f"status {done.returncode}" if done.returncode > 0 else f"signal {-done.returncode}"
    raise DataError(f"{ephem} failed ({how}): {report[:LONGEST_REPORT]}")
