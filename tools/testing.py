"""What the tests of ephem-table share: where things are, sample rows as ephem writes them, and a run of
the command in a process of its own."""

import importlib
import io
import os
import pathlib
import selectors
import subprocess
import sys
import tempfile
import traceback
import unittest
import zlib
from typing import Any, Callable, List, Optional, TypeVar

sys.dont_write_bytecode = True

TOOLS = pathlib.Path(__file__).resolve().parent
SCRIPT = TOOLS / "ephem-table"
EXAMPLES = TOOLS.parent / "examples"
MARS_TABLE = EXAMPLES / "mars" / "ZEPO.expected"
CERES_LINE = EXAMPLES / "ceres-mpc" / "ceres.mpc"
COMET_LINE = EXAMPLES / "comet" / "55P.mpc"
EPHEM = os.environ.get("EPHEM", "")
# EPHEM_TABLE_FRESH=1 starts every run of the command as a new interpreter, as a user's shell does; by
# default a run is a fork of the test's own process, which has the package imported already (a fresh
# interpreter spends 0.3 s importing numpy and ERFA before it reads its first argument). The long test set
# runs the companion's tests both ways.
FRESH = os.environ.get("EPHEM_TABLE_FRESH") == "1"
# EPHEM_TEST_SET=long runs only the checks marked long_check; unset, or any other value, all the others.
LONG_SET = os.environ.get("EPHEM_TEST_SET") == "long"

Test = TypeVar("Test", bound=Callable[..., Any])


def long_check(test: Test) -> Test:
    """Marks an independent check over many rows (minutes of CPU), a test or a class of them: it runs in
    the long set only."""
    test.long_check = True  # type: ignore[attr-defined]
    return unittest.skipUnless(LONG_SET, "a long check (ctest -L long)")(test)


# EPHEM_TEST_SHARD=k/n runs the k-th of n parts of a module's tests (k from 0), chosen by the test's name,
# so that CTest runs a module of many slow tests on every core; unset, all of them.
SHARD = tuple(int(part) for part in os.environ.get("EPHEM_TEST_SHARD", "0/1").split("/"))


def not_here(case: type, name: str) -> str:
    """Why the test `name` of the class `case` does not run in this set and shard, or ""."""
    method = getattr(case, name)
    if LONG_SET and not (getattr(method, "long_check", False) or getattr(case, "long_check", False)):
        return "a short test (ctest -LE long)"
    if zlib.crc32(f"{case.__module__}.{case.__qualname__}.{name}".encode()) % SHARD[1] != SHARD[0]:
        return f"in another shard than {SHARD[0]} of {SHARD[1]}"
    return ""


class TestCase(unittest.TestCase):
    """A test case of the short set, or, in the long set, of nothing but its long checks; of one shard.
    The choice is made before the test's own setUp, which need not know of it; a class none of whose
    tests runs here is skipped whole, its setUpClass too."""

    def __init__(self, methodName: str = "runTest") -> None:
        super().__init__(methodName)
        case = type(self)
        if "chosen_here" not in case.__dict__:  # once a class, when the loader makes its tests
            case.chosen_here = True  # type: ignore[attr-defined]
            names = unittest.defaultTestLoader.getTestCaseNames(case)
            if names and all(not_here(case, name) for name in names):
                case.__unittest_skip__ = True  # type: ignore[attr-defined]
                case.__unittest_skip_why__ = "no test of this class in this set or shard"  # type: ignore[attr-defined]

    def run(self, result: Optional[unittest.TestResult] = None) -> Optional[unittest.TestResult]:
        why = not_here(type(self), self._testMethodName)
        if why:
            setattr(self, self._testMethodName, unittest.skip(why)(getattr(self, self._testMethodName)))
        return super().run(result)


if str(TOOLS) not in sys.path:
    sys.path.insert(0, str(TOOLS))

# The first row of the Mars example, on its two lines as ephem writes it.
TWO_LINE_ROW = ("  2451545.  22.0352961 -13.1786492  1.39115922  1.84956441  47.6050457\n"
                "  31.4665953  0.926472324\n")
ONE_LINE_ROW = "  2453500.  13.5 -7.25  1.52  0.67  150.3  20.1  0.97\n"
# Both bodies at one point: the distance is 0 and every angle NaN.
NAN_ROW = "  2451545.  NAN  NAN  1.  0.  NAN  NAN  NAN\n"


def run_tool(*args: str, cwd: Any = None, stdout: Any = subprocess.PIPE, stdin: Optional[int] = None, path: str = "",
             launcher: Any = SCRIPT, environment: "Optional[dict[str, str]]" = None, fresh: bool = False,
             **options: Any) -> "subprocess.CompletedProcess[str]":
    """ephem-table run as a user runs it, with its status, standard error and (unless sent elsewhere)
    standard output; `stdin` a descriptor it reads (it keeps this process's otherwise); `path` first on
    PATH; `launcher` the path it is started by (a link to an installed copy, say), `environment` variables
    set for it. `fresh` (or any other option of subprocess.run) starts a new interpreter: for what only a
    new one shows (its start-up, the streams it is given, its exit, the package it finds)."""
    env = dict(os.environ, PYTHONDONTWRITEBYTECODE="1")
    # As users run it: standard output buffered (a test's environment may say otherwise).
    env.pop("PYTHONUNBUFFERED", None)
    env.update(environment or {})
    if path:
        env["PATH"] = path + os.pathsep + env.get("PATH", "")
    if fresh or FRESH or options:
        command = [str(launcher)] if launcher != SCRIPT else [sys.executable, str(SCRIPT)]
        return subprocess.run([*command, *args], stdin=stdin, stdout=stdout, stderr=subprocess.PIPE, text=True,
                              cwd=cwd, env=env, pass_fds=() if stdin is None else (stdin,), **options)
    return forked_run(list(args), cwd, stdin, stdout, env, str(launcher))


def forked_run(args: List[str], cwd: Any, stdin: Optional[int], stdout: Any, env: "dict[str, str]",
               launcher: str) -> "subprocess.CompletedProcess[str]":
    """The command's main() in a child of this process, on its own standard output and error (pipes, or
    the file `stdout`), in `cwd` with `env`, started as `launcher`; its exit status is main's."""
    from ephem_table import process
    # The command's modules imported once, here, not in every child (matplotlib only where it is used).
    importlib.import_module("ephem_table.cli")
    if args and args[0] in ("plot", "run"):
        importlib.import_module("ephem_table.plot")
    out_pipe = os.pipe() if stdout is subprocess.PIPE else None
    err_pipe = os.pipe()
    sys.stdout.flush()
    sys.stderr.flush()
    pid = os.fork()
    if pid == 0:  # the child: never returns
        status = 70
        try:
            if stdin is not None:
                os.dup2(stdin, 0)
            os.dup2(out_pipe[1] if out_pipe else stdout.fileno(), 1)
            os.dup2(err_pipe[1], 2)
            for fd in (*(out_pipe or ()), *err_pipe):
                os.close(fd)
            if cwd is not None:
                os.chdir(cwd)
            os.environ.clear()
            os.environ.update(env)
            tempfile.tempdir = None  # found again from TMPDIR
            sys.argv = [launcher, *args]
            sys.stdin = interpreter_input()  # type: ignore[assignment]
            sys.stdout = interpreter_stream(1, "strict", env)
            sys.stderr = interpreter_stream(2, "backslashreplace", env)
            # What the script does with its streams and signals, then its main.
            status = flush_at_exit(process.main(args))
        except BaseException:  # a fault of the harness or an escape from main: shown, never hidden
            os.write(2, traceback.format_exc().encode())
        os._exit(status)
    outputs = {"err": err_pipe[0]}
    os.close(err_pipe[1])
    if out_pipe:
        outputs["out"] = out_pipe[0]
        os.close(out_pipe[1])
    texts = read_all(outputs)
    _, wait_status = os.waitpid(pid, 0)
    return subprocess.CompletedProcess([launcher, *args], os.waitstatus_to_exitcode(wait_status),
                                       texts.get("out"), texts.get("err", ""))


def flush_at_exit(status: int) -> int:
    """The interpreter's last act: standard output and error flushed; a failure is said and gives 120."""
    for stream in (sys.stdout, sys.stderr):
        try:
            stream.flush()
        except OSError as error:
            os.write(2, f"Exception ignored in: {stream!r}\n{type(error).__name__}: {error}\n".encode())
            status = 120
    return status


def interpreter_input() -> Optional[io.TextIOWrapper]:
    """Standard input as a new interpreter makes it: None where descriptor 0 is closed."""
    try:
        return io.TextIOWrapper(io.open(0, "rb", closefd=False), encoding="utf-8")
    except OSError:
        return None


def interpreter_stream(fd: int, errors: str, env: "dict[str, str]") -> io.TextIOWrapper:
    """A text stream over fd as a new interpreter makes standard output or error: buffered by the file's
    block size, or not at all under PYTHONUNBUFFERED; standard error line by line."""
    unbuffered = bool(env.get("PYTHONUNBUFFERED"))
    binary = io.open(fd, "wb", buffering=0 if unbuffered else -1, closefd=False)
    return io.TextIOWrapper(binary, encoding="utf-8", errors=errors, write_through=unbuffered,
                            line_buffering=fd == 2 or os.isatty(fd))


def read_all(descriptors: "dict[str, int]") -> "dict[str, Optional[str]]":
    """Everything the descriptors give until each ends, read side by side (a child blocked on a full pipe
    would never end), decoded as subprocess.run(text=True) decodes; the descriptors are closed."""
    chunks: "dict[str, List[bytes]]" = {name: [] for name in descriptors}
    with selectors.DefaultSelector() as selector:
        for name, fd in descriptors.items():
            selector.register(fd, selectors.EVENT_READ, name)
        while selector.get_map():
            for key, _ in selector.select():
                data = os.read(key.fd, 65536)
                if data:
                    chunks[key.data].append(data)
                else:
                    selector.unregister(key.fd)
                    os.close(key.fd)
    return {name: universal_newlines(b"".join(parts).decode("utf-8")) for name, parts in chunks.items()}


def universal_newlines(text: str) -> str:
    """Line ends as subprocess.run(text=True) gives them."""
    return text.replace("\r\n", "\n").replace("\r", "\n")


def table_in(tmp: Any, *datos_args: str) -> None:
    """DATOS.DAT written in the folder tmp by `datos datos_args`, and the table ephem (EPHEM) writes from it;
    any word on standard error, or a failing status, fails the test."""
    done = run_tool("datos", *datos_args, cwd=tmp)
    if done.returncode != 0:
        raise AssertionError(done.stderr)
    ephem = subprocess.run([EPHEM], cwd=tmp, capture_output=True, text=True)
    if ephem.returncode != 0 or ephem.stderr:
        raise AssertionError(f"ephem: {ephem.returncode} {ephem.stderr}")
