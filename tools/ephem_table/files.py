"""Files read and written with care: every reader bounded in line length and size, every output
replaced whole or not at all, and nothing replaced that is not a file of ours to replace.

Reading: a line longer than its reader's bound, or more bytes than the bound of the whole file, ends
the reading with a message naming the file and line: an endless line (a device of zeros, a file
without line ends) or an endless stream never fills the memory.

Writing (`write_output`), as careful Unix tools do:
- a regular file, or none, is replaced atomically: the data go to a temporary file created exclusively
  (a fresh random name, never following a link) in the same folder, which keeps the mode (and, where
  allowed, the owner) of the file it replaces, is synced, and is then renamed over it. Another hard link
  to the old file keeps the old content;
- a symbolic link is written through to its final target, in the same way;
- a FIFO or a device is written directly, as a pipe is: the run waits for a FIFO's reader;
- "-" is standard output, each write checked (process.CheckedOutput): a short one is a failure;
- a folder, a socket, or a path that cannot be written is refused with its reason.
"""

import contextlib
import errno
import os
import secrets
import stat
import sys
from typing import BinaryIO, Iterator, Optional, Tuple

from .errors import DataError
from .process import signals_held, write_all

CHUNK = 1 << 20

# Symbolic links followed to the final target before giving up, as the system's own bound.
MAX_LINKS = 40


def size_text(size: int) -> str:
    for unit, scale in (("GiB", 1 << 30), ("MiB", 1 << 20), ("KiB", 1 << 10)):
        if size >= scale and size % scale == 0:
            return f"{size // scale} {unit}"
    return f"{size} bytes"


def open_input(path: str) -> BinaryIO:
    """The file at path opened for reading in binary, or standard input for "-"."""
    if path == "-":
        return sys.stdin.buffer
    try:
        return open(path, "rb")
    except OSError as error:
        raise DataError(f"cannot read {path}: {error.strerror}") from None


def lines(stream: BinaryIO, name: str, max_line: int, max_bytes: int,
          what: str = "file") -> Iterator[Tuple[int, bytes, bool]]:
    """(line number from 1, its bytes without the line feed, whether a line feed ended it) of each
    line of the stream, refused past max_line bytes in a line or max_bytes in all."""
    try:
        size = os.fstat(stream.fileno()).st_size if stream.seekable() else 0
    except (OSError, ValueError):
        size = 0
    if size > max_bytes:
        raise too_large(name, what, max_bytes)
    number = 0
    total = 0
    pending = b""
    while True:
        try:
            chunk = stream.read(CHUNK)
        except OSError as error:
            raise DataError(f"cannot read {name}: {error.strerror}") from None
        if not chunk:
            break
        total += len(chunk)
        if total > max_bytes:
            raise too_large(name, what, max_bytes)
        parts = (pending + chunk).split(b"\n")
        pending = parts.pop()
        for part in parts:
            number += 1
            if len(part) > max_line:
                raise too_long(name, number, what, max_line)
            yield number, part, True
        if len(pending) > max_line:
            raise too_long(name, number + 1, what, max_line)
    if pending:
        yield number + 1, pending, False


def too_large(name: str, what: str, limit: int) -> DataError:
    return DataError(f"{name}: larger than {size_text(limit)}, the most ephem-table reads of a {what}")


def too_long(name: str, number: int, what: str, limit: int) -> DataError:
    return DataError(f"{name}:{number}: a line longer than {limit} characters, which no {what} holds")


def read_small_file(path: str, limit: int, what: str) -> bytes:
    """The whole content of a regular file of at most `limit` bytes. Anything else (a FIFO, a device,
    a folder, a larger file) is refused without reading it or waiting for it."""
    try:
        if not stat.S_ISREG(os.stat(path).st_mode):
            raise DataError(f"{path}: not a regular file, so not read as a {what}")
        # Non-blocking, in case a FIFO has taken the place of the file since: the check below then
        # refuses it without waiting for a writer.
        fd = os.open(path, os.O_RDONLY | os.O_NONBLOCK | os.O_NOCTTY | os.O_CLOEXEC)
    except OSError as error:
        raise DataError(f"cannot read {path}: {error.strerror}") from None
    try:
        status = os.fstat(fd)
        if not stat.S_ISREG(status.st_mode):
            raise DataError(f"{path}: not a regular file, so not read as a {what}")
        if status.st_size > limit:
            raise DataError(f"{path}: larger than {size_text(limit)}, so not read as a {what}")
        data = os.read(fd, limit + 1)
        if len(data) > limit:
            raise DataError(f"{path}: larger than {size_text(limit)}, so not read as a {what}")
        return data
    except OSError as error:
        raise DataError(f"cannot read {path}: {error.strerror}") from None
    finally:
        os.close(fd)


# Writing --------------------------------------------------------------------------------------------

def write_output(path: str, data: bytes) -> None:
    """Writes data to path as the module's notes say; a failure leaves what was there as it was (but
    for what a FIFO or device has taken) and raises DataError naming path and the reason."""
    if path == "-":
        write_standard_output(data)
        return
    target = final_target(path)
    try:
        status: Optional[os.stat_result] = os.lstat(target)
    except FileNotFoundError:
        status = None
    except OSError as error:
        raise DataError(f"cannot write {path}: {error.strerror}") from None
    if status is None or stat.S_ISREG(status.st_mode):
        replace_atomically(path, target, data, status)
    elif stat.S_ISDIR(status.st_mode):
        raise DataError(f"cannot write {path}: it is a folder")
    elif stat.S_ISFIFO(status.st_mode) or stat.S_ISCHR(status.st_mode) or stat.S_ISBLK(status.st_mode):
        write_directly(path, target, data)
    else:
        raise DataError(f"cannot write {path}: it is a socket, not a file")


def write_standard_output(data: bytes) -> None:
    """Writes data to standard output, after any text before it, to the last byte or failing: straight
    to the descriptor, so that nothing is left in a buffer to fail again at exit. A reader that left
    (BrokenPipeError) is the caller's to keep quiet about."""
    try:
        sys.stdout.flush()
        write_all(sys.stdout.fileno(), data)
    except BrokenPipeError:
        raise
    except OSError as error:
        raise DataError(f"cannot write standard output: {error.strerror}") from None


def final_target(path: str) -> str:
    """The path that a chain of symbolic links at path ends in (path itself if it is no link); the
    target need not exist."""
    current = path
    for _ in range(MAX_LINKS):
        try:
            link = os.readlink(current)
        except OSError as error:
            if error.errno in (errno.EINVAL, errno.ENOENT):
                return current
            raise DataError(f"cannot write {path}: {error.strerror}") from None
        current = os.path.join(os.path.dirname(current), link)
    raise DataError(f"cannot write {path}: {os.strerror(errno.ELOOP)}")


def replace_atomically(path: str, target: str, data: bytes, old: Optional[os.stat_result]) -> None:
    folder = os.path.dirname(target) or "."
    if old is not None and not os.access(target, os.W_OK):
        raise DataError(f"cannot write {path}: {os.strerror(errno.EACCES)}")
    fd, temporary = -1, ""
    try:
        # A signal that comes while the temporary is made is raised once its name is kept for removal.
        with signals_held():
            fd, temporary = create_temporary(path, folder, os.path.basename(target))
        if old is not None:
            keep_owner_and_mode(fd, old)
        write_all(fd, data)
        os.fsync(fd)
        os.close(fd)
        fd = -1
        os.rename(temporary, target)
    except BaseException as error:
        if fd >= 0:
            os.close(fd)
        if temporary:
            with contextlib.suppress(OSError):
                os.unlink(temporary)
        if isinstance(error, OSError):
            raise DataError(f"cannot write {path}: {error.strerror}") from None
        raise
    sync_folder(folder)


def create_temporary(path: str, folder: str, base: str) -> Tuple[int, str]:
    """A new file beside the target, opened for writing: a random name, created exclusively and never
    through a link, so that no file planted there beforehand is written."""
    flags = os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_NOFOLLOW | os.O_CLOEXEC
    for _ in range(100):
        name = os.path.join(folder, f".{base}.{secrets.token_hex(6)}.tmp")
        try:
            return os.open(name, flags, 0o666), name
        except FileExistsError:
            continue
        except OSError as error:
            raise DataError(f"cannot write {path}: cannot create a file in {folder} "
                            f"({error.strerror})") from None
    raise DataError(f"cannot write {path}: no free name for a temporary file in {folder}")


def keep_owner_and_mode(fd: int, old: os.stat_result) -> None:
    mode = stat.S_IMODE(old.st_mode)
    try:
        os.fchown(fd, old.st_uid, old.st_gid)
    except OSError:
        # Only the owner may give a file away: the replacement is then ours, without the set-id bits
        # that would now be ours too.
        mode &= ~(stat.S_ISUID | stat.S_ISGID)
    os.fchmod(fd, mode)


def write_directly(path: str, target: str, data: bytes) -> None:
    try:
        # Never created, never cut: a FIFO or device is written as it is, and a link put in its place
        # since it was looked at is refused.
        fd = os.open(target, os.O_WRONLY | os.O_NOCTTY | os.O_NOFOLLOW | os.O_CLOEXEC)
    except OSError as error:
        raise DataError(f"cannot write {path}: {error.strerror}") from None
    try:
        if stat.S_ISREG(os.fstat(fd).st_mode):
            raise DataError(f"cannot write {path}: it became a regular file while it was opened")
        write_all(fd, data)
    except OSError as error:
        raise DataError(f"cannot write {path}: {error.strerror}") from None
    finally:
        os.close(fd)


def sync_folder(folder: str) -> None:
    """Makes the rename durable where the system allows a folder to be synced."""
    try:
        fd = os.open(folder, os.O_RDONLY | os.O_DIRECTORY | os.O_CLOEXEC)
    except OSError:
        return
    try:
        os.fsync(fd)
    except OSError:
        pass
    finally:
        os.close(fd)
