#!/usr/bin/env python3
"""Entry names that land on one path on disk each get a place of their own ("~N" before the
extension), an extracted tree repacks onto the same archive byte for byte, and an edit to one
colliding file changes exactly its entry. Symbolic links in the output directory are never
followed.

Usage: names_test.py TOOL SCRATCH_DIR
"""
import os
import shutil
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "helpers"))
from tooltest import files_under, fixtures as fx  # noqa: E402
import tooltest  # noqa: E402

TOOL, SCRATCH = sys.argv[1:3]

# Each case: stored names in table order, and where extraction puts each entry.
CASES = {
    "separators": (["A\\B.BIN", "A/./B.BIN", "A//B.BIN"], ["A/B.BIN", "A/B~1.BIN", "A/B~2.BIN"]),
    "placeholder": (["..", "_000"], ["_000", "_000~1"]),
    "case": (["CASE.BIN", "case.bin"], ["CASE.BIN", "case.bin"]),
    "file-and-folder": (["DIR", "DIR\\X.BIN"], ["DIR~1", "DIR/X.BIN"]),
}
# Bytes after the name's NUL are part of the stored name but not of the path.
NUL_CASE = ([b"ABC\0JUNK", "ABC"], ["ABC", "ABC~1"])


def tre(names, datas):
    return fx.tre([(n, d) for n, d in zip(names, datas)])


def crctre(names, datas):
    entries = []
    for n, d in zip(names, datas):
        raw = n.encode("latin-1") if isinstance(n, str) else n
        name, _, junk = raw.partition(b"\0")
        # One CRC for all keeps the table in this order, as the cases expect.
        entries.append({"name": name, "junk": junk, "data": d, "crc": 0x1234})
    return fx.crctre(entries)


def xtre(names, datas):
    # Names come from one clash table whose records name the descriptors.
    files = [fx.XFile(d) for d in datas]
    return fx.xtre(1, files, [(0x5A5A0001, ("clash", 0))], [[(n, i) for i, n in enumerate(names)]])


KINDS = {"TRE": (tre, "ARCHIVE.TRE", True), "CRC-TRE": (crctre, "ARCHIVE.TRE", True),
         "XTRE": (xtre, "ARCHIVE.TRE", False)}


def run(args, cwd):
    return tooltest.run(TOOL, args, cwd)


class Collisions(unittest.TestCase):
    def work(self, tag):
        work = os.path.join(SCRATCH, tag)
        shutil.rmtree(work, ignore_errors=True)
        os.makedirs(work)
        return work

    def test_every_collision_round_trips_and_edits_reach_their_entry(self):
        for kind, (build, file, nul) in KINDS.items():
            cases = dict(CASES, nul=NUL_CASE) if nul else CASES
            for case, (names, paths) in cases.items():
                with self.subTest(kind=kind, case=case):
                    work = self.work("%s-%s" % (kind, case))
                    datas = [("entry %d of %s\n" % (i, case)).encode() * (i + 1) for i in range(len(names))]
                    image = build(names, datas)
                    with open(os.path.join(work, file), "wb") as f:
                        f.write(image)
                    status, out = run(["-e", "-n", file, "out"], work)
                    self.assertEqual(status, 0, out)
                    self.assertEqual(files_under(os.path.join(work, "out")), dict(zip(paths, datas)))
                    # Unedited, the tree gives back the archive.
                    status, out = run(["-n", "-r", file, "out", "-o", "same"], work)
                    self.assertEqual(status, 0, out)
                    with open(os.path.join(work, "same.TRE"), "rb") as f:
                        self.assertEqual(f.read(), image)
                    # The last colliding entry edited: only it changes.
                    edited = b"edited bytes\n"
                    with open(os.path.join(work, "out", paths[-1]), "wb") as f:
                        f.write(edited)
                    status, out = run(["-n", "-r", file, "out", "-o", "edited"], work)
                    self.assertEqual(status, 0, out)
                    status, out = run(["-e", "-n", "edited.TRE", "again"], work)
                    self.assertEqual(status, 0, out)
                    self.assertEqual(files_under(os.path.join(work, "again")),
                                     dict(zip(paths, datas[:-1] + [edited])))


class Links(unittest.TestCase):
    def setUp(self):
        self.work = os.path.join(SCRATCH, "links-" + self.id().rsplit(".", 1)[1])
        shutil.rmtree(self.work, ignore_errors=True)
        self.outside = os.path.join(self.work, "outside")
        os.makedirs(os.path.join(self.work, "out"))
        os.makedirs(self.outside)
        with open(os.path.join(self.work, "LINKS.TRE"), "wb") as f:
            f.write(fx.tre([("A\\B.BIN", b"inside a folder\n"), ("C.BIN", b"a file\n")]))

    def test_a_link_in_place_of_a_folder_is_not_entered(self):
        os.symlink(self.outside, os.path.join(self.work, "out", "A"))
        status, out = run(["-e", "LINKS.TRE", "out"], self.work)
        self.assertEqual(status, 1, out)
        self.assertIn("ERROR: ", out)
        self.assertEqual(os.listdir(self.outside), [])
        with open(os.path.join(self.work, "out", "C.BIN"), "rb") as f:
            self.assertEqual(f.read(), b"a file\n")

    def test_a_link_in_place_of_a_file_is_not_written_through(self):
        target = os.path.join(self.outside, "target.txt")
        with open(target, "wb") as f:
            f.write(b"keep me\n")
        os.symlink(target, os.path.join(self.work, "out", "C.BIN"))
        status, out = run(["-e", "LINKS.TRE", "out"], self.work)
        self.assertEqual(status, 1, out)
        self.assertIn("ERROR: ", out)
        with open(target, "rb") as f:
            self.assertEqual(f.read(), b"keep me\n")
        with open(os.path.join(self.work, "out", "A", "B.BIN"), "rb") as f:
            self.assertEqual(f.read(), b"inside a folder\n")


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
