"""Tests of careful writing and bounded reading: `datos -o` on every kind of path, as careful Unix tools
write, on nodes of the tests' own making (never the system's /dev, but /dev/full for writing)."""

import os
import pathlib
import stat
import tempfile
import threading
import unittest

from testing import TestCase, run_tool
from ephem_table import files
from ephem_table.errors import DataError

# As given: what is written is the subject here, not the fit, which would cost each run half a second.
DATOS_ARGS = ("datos", "mars", "--start", "2026-01-01", "--rows", "3", "--as-given")
OLD = "old content\n"
IS_ROOT = os.geteuid() == 0


class WriteOutputTest(TestCase):
    text: str  # what `datos` writes for DATOS_ARGS

    @classmethod
    def setUpClass(cls):
        with tempfile.TemporaryDirectory() as tmp:
            done = run_tool(*DATOS_ARGS, cwd=tmp)
            assert done.returncode == 0, done.stderr
            cls.text = pathlib.Path(tmp, "DATOS.DAT").read_text()

    def setUp(self):
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        self.tmp = pathlib.Path(folder.name)

    def datos(self, output):
        return run_tool(*DATOS_ARGS, "-o", str(output), cwd=self.tmp)

    def assert_no_temporary_left(self):
        self.assertEqual([p.name for p in self.tmp.iterdir() if p.name.endswith(".tmp")], [])

    def test_regular_files_are_replaced_whole_keeping_their_mode(self):
        for mode in (0o640, 0o600, 0o755):
            with self.subTest(mode=oct(mode)):
                path = self.tmp / f"DATOS.{mode:o}"
                path.write_text(OLD)
                path.chmod(mode)
                before = path.stat()
                done = self.datos(path)
                self.assertEqual((done.returncode, done.stderr), (0, ""))
                after = path.stat()
                self.assertEqual(path.read_text(), self.text)
                self.assertEqual(stat.S_IMODE(after.st_mode), mode)
                self.assertEqual((after.st_uid, after.st_gid), (before.st_uid, before.st_gid))
                self.assertNotEqual(after.st_ino, before.st_ino)  # a new file renamed over the old one
        path = self.tmp / "NEW.DAT"
        self.assertEqual(self.datos(path).returncode, 0)
        umask = os.umask(0)
        os.umask(umask)
        self.assertEqual(stat.S_IMODE(path.stat().st_mode), 0o666 & ~umask)
        self.assert_no_temporary_left()

    def test_a_hard_linked_file_is_replaced_under_its_name_alone(self):
        path, other = self.tmp / "DATOS.DAT", self.tmp / "other name"
        path.write_text(OLD)
        os.link(path, other)
        self.assertEqual(self.datos(path).returncode, 0)
        self.assertEqual((path.read_text(), other.read_text()), (self.text, OLD))

    def test_a_symbolic_link_is_written_through_to_its_target(self):
        target = self.tmp / "sub" / "real.dat"
        target.parent.mkdir()
        for exists in (True, False):
            with self.subTest(target_exists=exists):
                if exists:
                    target.write_text(OLD)
                    target.chmod(0o640)
                else:
                    target.unlink()
                link = self.tmp / "DATOS.DAT"
                link.unlink(missing_ok=True)
                link.symlink_to(os.path.join("sub", "real.dat"))
                self.assertEqual(self.datos(link).returncode, 0)
                self.assertTrue(link.is_symlink())
                self.assertEqual(os.readlink(link), os.path.join("sub", "real.dat"))
                self.assertEqual(target.read_text(), self.text)
                if exists:
                    self.assertEqual(stat.S_IMODE(target.stat().st_mode), 0o640)
        self.assertEqual([p.name for p in target.parent.iterdir()], ["real.dat"])

    def test_a_planted_temporary_name_is_never_written(self):
        # A link where a fixed temporary name would be: the file it points to stays as it was.
        victim = self.tmp / "victim"
        victim.write_text(OLD)
        planted = self.tmp / "DATOS.DAT.part"
        planted.symlink_to(victim)
        self.assertEqual(self.datos(self.tmp / "DATOS.DAT").returncode, 0)
        self.assertEqual(victim.read_text(), OLD)
        self.assertTrue(planted.is_symlink())
        self.assertEqual((self.tmp / "DATOS.DAT").read_text(), self.text)

    def test_a_fifo_is_written_directly_to_its_reader(self):
        fifo = self.tmp / "pipe"
        os.mkfifo(fifo)
        received = []

        def reader():
            with open(fifo) as stream:
                received.append(stream.read())
        thread = threading.Thread(target=reader, daemon=True)
        thread.start()
        done = self.datos(fifo)
        thread.join(30)
        self.assertEqual((done.returncode, done.stderr), (0, ""))
        self.assertEqual(received, [self.text])
        self.assertTrue(stat.S_ISFIFO(fifo.stat().st_mode))
        self.assert_no_temporary_left()

    @unittest.skipUnless(IS_ROOT, "making a device node needs root")
    def test_a_device_is_written_directly_and_stays_a_device(self):
        node = self.tmp / "null"
        os.mknod(node, stat.S_IFCHR | 0o666, os.makedev(1, 3))
        done = self.datos(node)
        self.assertEqual((done.returncode, done.stderr), (0, ""))
        self.assertTrue(stat.S_ISCHR(node.stat().st_mode))
        self.assert_no_temporary_left()

    def test_standard_output(self):
        done = self.datos("-")
        self.assertEqual((done.returncode, done.stdout, done.stderr), (0, self.text, ""))
        self.assertEqual(list(self.tmp.iterdir()), [])
        with open("/dev/full", "w") as full:
            done = run_tool(*DATOS_ARGS, "-o", "-", cwd=self.tmp, stdout=full)
        self.assertEqual((done.returncode, done.stderr),
                         (1, "ephem-table: cannot write standard output: No space left on device\n"))

    def test_paths_that_cannot_be_written_are_refused_with_their_reason(self):
        (self.tmp / "folder").mkdir()
        cases = [(self.tmp / "folder", "it is a folder"),
                 (self.tmp / "missing" / "DATOS.DAT",
                  f"cannot create a file in {self.tmp / 'missing'} (No such file or directory)")]
        if not IS_ROOT:
            locked = self.tmp / "locked"
            locked.mkdir(mode=0o500)
            cases.append((locked / "DATOS.DAT", "(Permission denied)"))
            readonly = self.tmp / "readonly.dat"
            readonly.write_text(OLD)
            readonly.chmod(0o444)
            cases.append((readonly, "Permission denied"))
        for path, reason in cases:
            with self.subTest(path=path.name):
                done = self.datos(path)
                self.assertEqual(done.returncode, 1)
                self.assertEqual(done.stderr, f"ephem-table: cannot write {path}: {reason}\n"
                                 if not reason.startswith("(") else done.stderr)
                self.assertIn(reason, done.stderr)
        self.assert_no_temporary_left()


class ReadSmallFileTest(TestCase):
    def test_only_a_regular_file_of_sensible_size_is_read(self):
        with tempfile.TemporaryDirectory() as tmp:
            small, large, fifo = (pathlib.Path(tmp, n) for n in ("small", "large", "fifo"))
            small.write_bytes(b"x" * 100)
            large.write_bytes(b"x" * 101)
            os.mkfifo(fifo)  # no writer: opening it for reading would wait for ever
            self.assertEqual(files.read_small_file(str(small), 100, "DATOS.DAT"), b"x" * 100)
            cases = [(large, "larger than 100 bytes"), (fifo, "not a regular file"),
                     (pathlib.Path(tmp), "not a regular file"), (pathlib.Path(tmp, "none"), "cannot read")]
            if IS_ROOT:
                zero = pathlib.Path(tmp, "zero")
                os.mknod(zero, stat.S_IFCHR | 0o444, os.makedev(1, 5))
                cases.append((zero, "not a regular file"))
            for path, message in cases:
                with self.subTest(path=path.name):
                    with self.assertRaises(DataError) as caught:
                        files.read_small_file(str(path), 100, "DATOS.DAT")
                    self.assertIn(message, str(caught.exception))


if __name__ == "__main__":
    unittest.main()
