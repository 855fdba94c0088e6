#!/usr/bin/env python3
"""Failures the outside world causes are reported, never passed off as success: a full disk, a
file-size limit, a missing repack directory, an extraction folder that cannot be made, standard
output that takes nothing; and a long output name that can be created is written. Each failed run
ends with status 1, an "ERROR: " line and no partial file.

Usage: truth_test.py TOOL TRAP_LIBRARY SCRATCH_DIR
"""
import os
import re
import resource
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "helpers"))
from tooltest import fixtures as make_fixtures  # noqa: E402
import tooltest  # noqa: E402

TOOL, TRAP, SCRATCH = sys.argv[1:4]


def run(args, cwd, limit_file_size=None, wrap=None):
    def limits():
        if limit_file_size is not None:
            resource.setrlimit(resource.RLIMIT_FSIZE, (limit_file_size, limit_file_size))
    if wrap:
        return tooltest.run(wrap[0], wrap[1:] + [TOOL] + args, cwd, preexec_fn=limits)
    return tooltest.run(TOOL, args, cwd, preexec_fn=limits)


class Truth(unittest.TestCase):
    def setUp(self):
        self.work = tooltest.case_dir(self, SCRATCH)
        self.entries = [("DIR%02u\\FILE%04u.BIN" % (i % 7, i), make_fixtures.binary(i, 1000)) for i in range(2000)]
        self.archive = os.path.join(self.work, tooltest.put(self.work, "MANY.TRE", make_fixtures.tre(self.entries)))

    def failed(self, status, out):
        tail = out[-600:]
        self.assertEqual(status, 1, tail)
        self.assertRegex(out, r"(^|[\r\n])ERROR: ", tail)
        self.assertNotIn("PROGRAM TERMINATED", out)

    def on_small_disk(self, args, then):
        """Runs the tool on a 512 KiB file system of its own (a tmpfs mounted in a user
        namespace, its working directory), then the shell command `then` there; gives the
        status of the tool and everything printed."""
        probe = subprocess.run(["unshare", "-Urm", "true"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if probe.returncode != 0:
            self.skipTest("no user namespaces here: the full-disk case needs its own tmpfs")
        mount = os.path.join(self.work, "small")
        os.makedirs(mount)
        script = 'mount -t tmpfs -o size=512k none "$0" && cd "$0" || exit 99; "$@"; s=$?; %s; exit $s' % then
        return run(args, self.work, wrap=["unshare", "-Urm", "sh", "-c", script, mount])

    def test_full_disk_extraction_stops_and_leaves_only_whole_files(self):
        status, out = self.on_small_disk(["-e", "-n", self.archive, "out"],
                                         "echo SHORT: $(find out -type f -size -1000c)")
        self.failed(status, out)
        self.assertIn("ERROR: Write failure for '", out)
        self.assertRegex(out, r"\nERROR: Couldn't write 'out/DIR\d\d/FILE\d{4}\.BIN' \(No space left on device\)!\n")
        self.assertNotIn("Done. Extracted 2000/2000 files.", out)
        self.assertRegex(out, r"\nSHORT:\s*\n")

    def test_full_disk_rewrite_leaves_no_archive(self):
        status, out = self.on_small_disk(["-w", self.archive, "-o", "copy"], "echo LEFT: $(ls -A)")
        self.failed(status, out)
        self.assertRegex(out, r"\nLEFT:\s*\n")

    def test_file_size_limit_fails_the_write_instead_of_killing_the_run(self):
        status, out = run(["-w", self.archive], self.work, limit_file_size=256 * 1024)
        self.failed(status, out)
        self.assertEqual(sorted(os.listdir(self.work)), ["MANY.TRE"])

    def test_repack_from_a_missing_directory_is_an_error(self):
        status, out = run(["-r", self.archive, os.path.join(self.work, "no", "such", "dir")], self.work)
        self.failed(status, out)
        self.assertEqual(sorted(os.listdir(self.work)), ["MANY.TRE"])

    def test_an_extraction_folder_that_cannot_be_made_is_named_with_its_cause(self):
        for folder, unmade, error, cause in [("out", "out", 13, "Permission denied"),
                                             ("out", "out", 28, "No space left on device"),
                                             ("a/b", "a", 13, "Permission denied")]:
            with self.subTest(folder=folder, cause=cause):
                env = dict(os.environ, LD_PRELOAD=tooltest.preload(TOOL, os.path.abspath(TRAP)),
                           TRAP_FAIL_MKDIR=unmade, TRAP_FAIL_ERRNO=str(error))
                status, out = tooltest.run(TOOL, ["-e", "MANY.TRE", folder], self.work, env=env)
                self.failed(status, out)
                line = "ERROR: Couldn't create '%s' (%s)!" % (unmade, cause)
                self.assertEqual(re.findall(r"(?m)^ERROR: .*", out), [line])
                self.assertEqual(os.listdir(self.work), ["MANY.TRE"])

    def test_a_long_output_name_that_can_be_created_is_written(self):
        name = "N" * 246  # with ".TRE", 250 bytes: within the 255-byte limit of a name
        status, out = run(["-w", self.archive, "-o", name], self.work)
        self.assertEqual(status, 0, out[-800:])
        with open(os.path.join(self.work, name + ".TRE"), "rb") as f, open(self.archive, "rb") as g:
            self.assertEqual(f.read(), g.read())
        self.assertEqual(sorted(os.listdir(self.work)), sorted(["MANY.TRE", name + ".TRE"]))

    def test_many_folders_with_standard_input_closed_or_few_descriptors(self):
        entries = [("D%03u\\F%u.BIN" % (i, j), make_fixtures.binary(i * 3 + j, 40)) for i in range(300) for j in range(3)]
        tooltest.put(self.work, "FOLDERS.TRE", make_fixtures.tre(entries))
        expected = {name.replace("\\", "/"): data for name, data in entries}
        cases = {"closed_input": lambda: os.close(0),
                 "few_descriptors": lambda: resource.setrlimit(resource.RLIMIT_NOFILE, (64, 64))}
        for what, limits in cases.items():
            with self.subTest(what):
                status, out = tooltest.run(TOOL, ["-e", "FOLDERS.TRE", what], self.work, preexec_fn=limits)
                self.assertEqual(status, 0, out[-600:])
                self.assertIn("Done. Extracted 900/900 files.", out)
                self.assertEqual(tooltest.files_under(os.path.join(self.work, what)), expected)

    def test_a_rewrite_that_cannot_take_its_name_claims_nothing(self):
        os.makedirs(os.path.join(self.work, "copy.TRE"))
        status, out = run(["-w", self.archive, "-o", "copy"], self.work)
        self.failed(status, out)
        self.assertNotIn("Done.", out)
        self.assertEqual(sorted(os.listdir(self.work)), ["MANY.TRE", "copy.TRE"])
        self.assertEqual(os.listdir(os.path.join(self.work, "copy.TRE")), [])

    def test_standard_output_that_takes_nothing_fails_the_run(self):
        """A listing is the run's result: when it cannot be written the run does not pass."""
        read_end, closed_pipe = os.pipe()
        os.close(read_end)
        try:
            with open("/dev/full", "wb") as full:
                cases = [("list, full", [self.archive], full),
                         ("extract, full", ["-e", "-n", self.archive, "out"], full),
                         ("extract, closed pipe", ["-e", "-n", self.archive, "piped"], closed_pipe)]
                for what, args, sink in cases:
                    with self.subTest(what):
                        p = subprocess.run([TOOL] + args, cwd=self.work, stdout=sink, stderr=subprocess.PIPE,
                                           timeout=300)
                        err = p.stderr.decode("latin-1")
                        self.assertNotEqual(p.returncode, 0, err)
                        if sink is full:
                            self.assertEqual(p.returncode, 1, err)
                            self.assertEqual(len(re.findall(r"(?m)^ERROR: ", err)), 1, err)
        finally:
            os.close(closed_pipe)

    def test_the_descriptor_limit_is_named_with_the_file_it_stopped(self):
        """Limits from too few to run at all up to enough: a run either passes or names a file
        and the limit, and says what to do."""
        os.makedirs(os.path.join(self.work, "src"))
        tooltest.put(os.path.join(self.work, "src"), "LONE.BIN", b"not in the archive")
        failures = 0
        for args in (["-w", "MANY.TRE", "-o", "copy"], ["-r", "-a", "MANY.TRE", "src", "-o", "copy"]):
            for limit in range(4, 12):
                with self.subTest(args=args[0], limit=limit):
                    status, out = tooltest.run(TOOL, args, self.work, preexec_fn=lambda n=limit: resource.setrlimit(
                        resource.RLIMIT_NOFILE, (n, n)))
                    if status == 0:
                        os.remove(os.path.join(self.work, "copy.TRE"))
                        continue
                    failures += 1
                    self.failed(status, out)
                    self.assertRegex(out, r"\nERROR: Couldn't [a-z ]+ '[^']+' \(Too many open files\)!\n"
                                          r"ERROR: The limit of open files is reached", out[-600:])
                    self.assertEqual(sorted(os.listdir(self.work)), ["MANY.TRE", "src"])
        self.assertGreater(failures, 0)

    def test_a_file_on_another_file_system_with_the_inputs_inode_is_replaced(self):
        """The input is known by device and inode both: two fresh file systems number their first
        files alike, and the file on the other one is not the input."""
        probe = subprocess.run(["unshare", "-Urm", "true"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if probe.returncode != 0:
            self.skipTest("no user namespaces here: the case needs two file systems of its own")
        for side in ("a", "b"):
            os.makedirs(os.path.join(self.work, side))
        tooltest.put(self.work, "X.TRE", make_fixtures.tre([("X.BIN", b"from the archive")]))
        script = ('mount -t tmpfs none a && mount -t tmpfs none b && cp X.TRE a/X.TRE && printf old > b/X.BIN '
                  '|| exit 99; echo INODES $(stat -c %i a/X.TRE b/X.BIN); "$@"; s=$?; echo BYTES $(cat b/X.BIN); '
                  'exit $s')
        status, out = tooltest.run("unshare", ["-Urm", "sh", "-c", script, "sh", TOOL, "-e", "a/X.TRE", "b"],
                                   self.work)
        inodes = re.search(r"INODES (\d+) (\d+)", out)
        self.assertTrue(inodes, out)
        if inodes.group(1) != inodes.group(2):
            self.skipTest("these file systems number their files differently")
        self.assertEqual(status, 0, out)
        self.assertIn("BYTES from the archive\n", out)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
