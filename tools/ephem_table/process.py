"""The process around the commands: its standard descriptors and the signals that end it.

Started without a standard descriptor, a program that opens a file may get that descriptor for it, and
Python then has no sys.stderr and prints every warning to standard output: a message would land in the
data. Each closed descriptor is therefore occupied at start, before anything is opened, the way the
one that was closed behaves: standard error on /dev/null (messages are lost, as for any program
started without it), standard output on /dev/null opened for reading (a write fails with "Bad file
descriptor", so data never vanish with status 0), standard input on /dev/null opened for writing (a
read fails the same way, so a closed input is not taken for an empty one).

Standard output is written through a writer that checks every write: Python's own buffered output
takes a short write (a file-size limit, a full disk) for a whole one and drops the rest.

SIGTERM and SIGHUP end the program as SIGINT does: an exception that unwinds every cleanup (a
temporary file, a run folder, a running ephem) and the status 128 + the signal. A signal ignored at
start (nohup) stays ignored. `signals_held` keeps them waiting while a temporary is made and its name
kept, so that no signal finds a file that nobody will remove.
"""

import contextlib
import io
import os
import signal
import sys
from types import FrameType
from typing import Callable, Iterator, List, Optional, Set, TextIO, Union

# The signals that end the program by unwinding it.
ENDING_SIGNALS = (signal.SIGINT, signal.SIGTERM, signal.SIGHUP)


class Terminated(BaseException):
    """SIGTERM or SIGHUP, raised where the program is, as KeyboardInterrupt is for SIGINT."""

    def __init__(self, number: int) -> None:
        super().__init__(f"ended by signal {number}")
        self.number = number


class CheckedOutput(io.RawIOBase):
    """Writes to a descriptor that hand every byte over or raise: a short write is followed by the
    rest, whose failure (EFBIG, ENOSPC, EPIPE) is raised as OSError. With `lose_failures`, for the
    messages of standard error, a failure drops the text instead."""

    def __init__(self, fd: int, lose_failures: bool = False) -> None:
        super().__init__()
        self.fd = fd
        self.lose_failures = lose_failures

    def writable(self) -> bool:
        return True

    def readable(self) -> bool:
        return False

    def fileno(self) -> int:
        return self.fd

    def isatty(self) -> bool:
        return os.isatty(self.fd)

    def write(self, data: bytes) -> int:  # type: ignore[override]
        try:
            write_all(self.fd, data)
        except OSError:
            if not self.lose_failures:
                raise
        return memoryview(data).nbytes


def write_all(fd: int, data: bytes) -> None:
    """Writes every byte of data to fd, or raises OSError: a short write is followed by the rest."""
    view = memoryview(data).cast("B")
    while view:
        view = view[os.write(fd, view):]


def occupy_closed_descriptors() -> Set[int]:
    """Opens /dev/null on each of descriptors 0, 1 and 2 that the process was started without, as
    the module's notes say; the descriptors it occupied."""
    ways = {0: os.O_WRONLY, 1: os.O_RDONLY, 2: os.O_WRONLY}
    occupied = set()
    for fd, flags in ways.items():
        try:
            os.fstat(fd)
            continue
        except OSError:
            pass
        try:
            opened = os.open(os.devnull, flags)
        except OSError:
            # Where /dev/null cannot be opened, a folder holds the place: every read and write fails.
            opened = os.open("/", os.O_RDONLY | os.O_DIRECTORY)
        if opened != fd:
            os.close(opened)  # taken meanwhile by something else: nothing more to do
        occupied.add(fd)
    return occupied


def text_stream(raw: io.RawIOBase, like: Optional[TextIO], line_buffering: bool) -> TextIO:
    """A text stream over raw, with the encoding of the stream it replaces."""
    encoding = like.encoding if like is not None else "utf-8"
    errors = like.errors if like is not None and like.errors else "strict"
    return io.TextIOWrapper(io.BufferedWriter(raw), encoding=encoding, errors=errors,
                            line_buffering=line_buffering)


def end_like_an_interrupt(number: int, frame: Optional[FrameType]) -> None:
    raise Terminated(number)


def prepare() -> None:
    """Readies the process as the module's notes say; the first thing the program does."""
    occupied = occupy_closed_descriptors()
    if 0 in occupied or sys.stdin is None:
        sys.stdin = io.TextIOWrapper(io.BufferedReader(io.FileIO(0, "r", closefd=False)))
    sys.stdout = text_stream(CheckedOutput(1), sys.stdout, bool(sys.stdout is not None and sys.stdout.line_buffering))
    sys.stderr = text_stream(CheckedOutput(2, lose_failures=True), sys.stderr, True)
    for number in (signal.SIGTERM, signal.SIGHUP):
        if signal.getsignal(number) != signal.SIG_IGN:
            signal.signal(number, end_like_an_interrupt)


def main(argv: Optional[List[str]] = None) -> int:
    """The command as every way of starting it runs it (the script, the entry point of an installed
    package): the process readied first, then the command line's main, and its status."""
    prepare()
    from .cli import main as command
    return status_of(lambda: command(argv))


def status_of(main: Callable[[], int]) -> int:
    """main's status, or 128 + the signal that ended it, as a shell gives for a process a signal ends."""
    try:
        return main()
    except Terminated as ended:
        return 128 + ended.number
    except KeyboardInterrupt:
        return 128 + signal.SIGINT


@contextlib.contextmanager
def signals_held() -> Iterator[Set[Union[int, signal.Signals]]]:
    """Holds the ending signals for the body, which gets the mask that was in force; one that came
    meanwhile is raised when they are let go, after the body has kept what it made."""
    previous = signal.pthread_sigmask(signal.SIG_BLOCK, ENDING_SIGNALS)
    try:
        yield previous
    finally:
        signal.pthread_sigmask(signal.SIG_SETMASK, previous)
