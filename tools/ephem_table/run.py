"""ephem run for `ephem-table run`: the program found, a folder to run it in, and its failure told in
one line.

ephem reads DATOS.DAT and writes ZEPO.DAT in its working directory. The run happens in the folder
--dir names, or in a fresh temporary folder removed afterwards unless it is to be kept: a DATOS.DAT or
ZEPO.DAT of the user's working directory is never replaced unless --dir names that directory.
"""

import contextlib
import os
import shutil
import signal
import stat
import subprocess
import tempfile
from typing import Iterator, Optional

from .errors import DataError
from .process import signals_held

# A report of ephem is one line; the first is enough to say what went wrong.
LONGEST_REPORT = 300
# How long an ended ephem gets to end by its trap before it is killed.
ENDING_SECONDS = 5


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
    """The folder to run ephem in: `folder` (made if missing, always left; its DATOS.DAT and ZEPO.DAT
    regular files or none), or a fresh temporary one, removed afterwards unless `keep`, also when a
    signal ends the program (process.Terminated, KeyboardInterrupt)."""
    if folder is not None:
        try:
            os.makedirs(folder, exist_ok=True)
        except OSError as error:
            raise DataError(f"cannot make the folder {folder}: {error.strerror}") from None
        check_run_files(folder)
        yield folder
        return
    made = ""
    try:
        with signals_held():
            made = tempfile.mkdtemp(prefix="ephem-table-")
        yield made
    finally:
        if made and not keep:
            with signals_held():
                shutil.rmtree(made, ignore_errors=True)


def check_run_files(folder: str) -> None:
    """Refuses a folder whose DATOS.DAT or ZEPO.DAT is there but no regular file: written through as a
    FIFO or device, ephem and the reading of the table would wait for each other for ever."""
    for name in ("DATOS.DAT", "ZEPO.DAT"):
        path = os.path.join(folder, name)
        try:
            mode = os.stat(path).st_mode
        except FileNotFoundError:
            continue
        except OSError as error:
            raise DataError(f"{path}: {error.strerror}") from None
        if not stat.S_ISREG(mode):
            raise DataError(f"{path} is no regular file (a FIFO, a device or a folder): run writes {name} and reads "
                            f"the table back, so give a --dir whose {name} is a file or absent")


def run_ephem(ephem: str, folder: str) -> None:
    """Runs ephem in the folder; its failure becomes a DataError with the first line of its report. A
    signal that ends the program meanwhile ends ephem too (SIGTERM, which it traps to end cleanly after
    its last whole row), and ephem is waited for."""
    child: Optional["subprocess.Popen[bytes]"] = None
    try:
        # ephem starts with the signals let go, whatever happens here meanwhile.
        with signals_held() as mask:
            child = subprocess.Popen([ephem], cwd=folder, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.PIPE,
                                     preexec_fn=lambda: signal.pthread_sigmask(signal.SIG_SETMASK, mask))
        _, errors = child.communicate()
    except OSError as error:
        raise DataError(f"cannot run {ephem}: {error.strerror}") from None
    except BaseException:
        if child is not None:
            with signals_held():
                end_child(child)
        raise
    if child.returncode == 0:
        return
    report = next((line.strip() for line in errors.decode("utf-8", "replace").splitlines()
                   if line.strip()), "no report")
    how = f"status {child.returncode}" if child.returncode > 0 else f"signal {-child.returncode}"
    raise DataError(f"{ephem} failed ({how}): {report[:LONGEST_REPORT]}")


def end_child(child: "subprocess.Popen[bytes]") -> None:
    """Ends ephem and waits for it: SIGTERM, and SIGKILL for one that does not end within seconds."""
    child.terminate()
    try:
        child.wait(ENDING_SECONDS)
    except subprocess.TimeoutExpired:
        child.kill()
        child.wait()
