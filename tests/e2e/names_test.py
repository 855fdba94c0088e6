#!/usr/bin/env python3
"""Entry names that land on one path on disk each get a place of their own ("~N" before the
extension), an extracted tree repacks onto the same archive byte for byte, and an edit to one
colliding file changes exactly its entry. Symbolic links in the output directory are never
followed; files already there are replaced, never written into; the input archive, a FIFO or a
folder in a file's place are left alone; the gap files' names belong to the tool.

Usage: names_test.py TOOL SCRATCH_DIR
"""
import os
import shutil
import stat
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



class InTheWay(unittest.TestCase):
    def setUp(self):
        self.work = os.path.join(SCRATCH, "way-" + self.id().rsplit(".", 1)[1])
        shutil.rmtree(self.work, ignore_errors=True)
        os.makedirs(self.work)

    def write(self, name, data):
        with open(os.path.join(self.work, name), "wb") as f:
            f.write(data)

    def read(self, name):
        with open(os.path.join(self.work, name), "rb") as f:
            return f.read()

    def refused(self, args, alone):
        """The run fails with an ERROR line for `alone`, and the other entry is still written."""
        status, out = tooltest.run(TOOL, args, self.work, timeout=30)
        self.assertEqual(status, 1, out)
        self.assertRegex(out, r"\nERROR: [^\n]*%s" % alone, out)
        self.assertIn("Extracted 1/2 files.", out)

    def test_files_already_there_are_replaced_not_written_through_hard_links(self):
        self.write("A.TRE", fx.tre([("X.BIN", b"first run\n"), ("D\\Y.BIN", b"first y\n")]))
        self.write("B.TRE", fx.tre([("X.BIN", b"second run, longer\n"), ("D\\Y.BIN", b"2\n")]))
        self.assertEqual(run(["-e", "A.TRE", "out"], self.work)[0], 0)
        before = files_under(os.path.join(self.work, "out"))
        shutil.copytree(os.path.join(self.work, "out"), os.path.join(self.work, "snapshot"), copy_function=os.link)
        status, out = run(["-e", "B.TRE", "out"], self.work)
        self.assertEqual(status, 0, out)
        self.assertEqual(files_under(os.path.join(self.work, "snapshot")), before)
        self.assertEqual(files_under(os.path.join(self.work, "out")), {"X.BIN": b"second run, longer\n",
                                                                        os.path.join("D", "Y.BIN"): b"2\n"})

    def test_the_input_archive_is_never_written_over(self):
        image = fx.tre([("SELF.TRE", b"twenty-three bytes here"), ("OTHER.BIN", b"other\n")])
        for how in ("its own folder", "a hard link in the output"):
            with self.subTest(how=how):
                shutil.rmtree(self.work)
                os.makedirs(os.path.join(self.work, "out"))
                self.write("SELF.TRE", image)
                if how == "its own folder":
                    args = ["-e", "SELF.TRE", "."]
                else:
                    os.link(os.path.join(self.work, "SELF.TRE"), os.path.join(self.work, "out", "SELF.TRE"))
                    args = ["-e", "SELF.TRE", "out"]
                self.refused(args, "SELF.TRE")
                self.assertEqual(self.read("SELF.TRE"), image)

    def test_a_fifo_or_a_folder_in_a_files_place_is_left_alone(self):
        self.write("W.TRE", fx.tre([("IN.BIN", b"never\n"), ("OK.BIN", b"written\n")]))
        for what, make in (("fifo", os.mkfifo), ("folder", os.mkdir)):
            with self.subTest(what=what):
                shutil.rmtree(os.path.join(self.work, "out"), ignore_errors=True)
                os.makedirs(os.path.join(self.work, "out"))
                make(os.path.join(self.work, "out", "IN.BIN"))
                self.refused(["-e", "W.TRE", "out"], "IN.BIN")
                self.assertEqual(self.read(os.path.join("out", "OK.BIN")), b"written\n")
                mode = os.lstat(os.path.join(self.work, "out", "IN.BIN")).st_mode
                self.assertTrue(stat.S_ISFIFO(mode) if what == "fifo" else stat.S_ISDIR(mode))

    def test_gap_file_names_are_the_tools_own_with_or_without_g(self):
        sub = fx.tre([("IN.BIN", b"inside\n")], gap=b"NESTED GAP")
        plain = [("SUB.TRE.GAP", b"an entry of that name\n"), (".GAP", b"and of this one\n")]
        layouts = {"entries first": plain + [("SUB.TRE", sub)], "nested first": [("SUB.TRE", sub)] + plain}
        for layout, entries in layouts.items():
            image = fx.tre(entries, gap=b"TOP GAP")
            self.write("GAPS.TRE", image)
            for extract_g in ([], ["-g"]):
                for repack_g in ([], ["-g"]):
                    with self.subTest(layout=layout, extract=extract_g, repack=repack_g):
                        shutil.rmtree(os.path.join(self.work, "out"), ignore_errors=True)
                        status, out = run(["-e"] + extract_g + ["GAPS.TRE", "out"], self.work)
                        self.assertEqual(status, 0, out)
                        found = files_under(os.path.join(self.work, "out"))
                        self.assertEqual(found["SUB.TRE~1.GAP"], b"an entry of that name\n")
                        self.assertEqual(found[".GAP~1"], b"and of this one\n")
                        if extract_g:
                            self.assertEqual((found["SUB.TRE.GAP"], found[".GAP"]), (b"NESTED GAP", b"TOP GAP"))
                        status, out = run(["-r"] + repack_g + ["GAPS.TRE", "out", "-o", "again"], self.work)
                        self.assertEqual(status, 0, out)
                        self.assertNotIn("ERROR", out)
                        self.assertEqual(self.read("again.TRE"), image)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
