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


# One CRC for every row keeps a CRC-TRE's table in the cases' order.
KINDS = {"TRE": (fx.tre, "ARCHIVE.TRE", True),
         "CRC-TRE": (lambda entries: tooltest.crctre_named(entries, crc=0x1234), "ARCHIVE.TRE", True),
         "XTRE": (tooltest.xtre_named, "ARCHIVE.TRE", False)}


def run(args, cwd, **kw):
    return tooltest.run(TOOL, args, cwd, **kw)


class Collisions(unittest.TestCase):
    def test_every_collision_round_trips_and_edits_reach_their_entry(self):
        for kind, (build, file, nul) in KINDS.items():
            cases = dict(CASES, nul=NUL_CASE) if nul else CASES
            for case, (names, paths) in cases.items():
                with self.subTest(kind=kind, case=case):
                    work = tooltest.fresh_dir(SCRATCH, "%s-%s" % (kind, case))
                    datas = [("entry %d of %s\n" % (i, case)).encode() * (i + 1) for i in range(len(names))]
                    image = build(list(zip(names, datas)))
                    tooltest.put(work, file, image)
                    status, out = run(["-e", "-n", file, "out"], work)
                    self.assertEqual(status, 0, out)
                    self.assertEqual(files_under(os.path.join(work, "out")), dict(zip(paths, datas)))
                    # Unedited, the tree gives back the archive.
                    self.assertEqual(tooltest.repacked(self, TOOL, work, file, ("-n", "-r"), "same"), image)
                    # The last colliding entry edited: only it changes.
                    edited = b"edited bytes\n"
                    tooltest.put(os.path.join(work, "out"), paths[-1], edited)
                    tooltest.repacked(self, TOOL, work, file, ("-n", "-r"), "edited")
                    status, out = run(["-e", "-n", "edited.TRE", "again"], work)
                    self.assertEqual(status, 0, out)
                    self.assertEqual(files_under(os.path.join(work, "again")),
                                     dict(zip(paths, datas[:-1] + [edited])))


class Links(unittest.TestCase):
    def setUp(self):
        self.work = tooltest.case_dir(self, SCRATCH, "links-")
        self.outside = tooltest.fresh_dir(self.work, "outside")
        os.makedirs(os.path.join(self.work, "out"))
        tooltest.put(self.work, "LINKS.TRE", fx.tre([("A\\B.BIN", b"inside a folder\n"), ("C.BIN", b"a file\n")]))

    def test_a_link_in_place_of_a_folder_is_not_entered(self):
        os.symlink(self.outside, os.path.join(self.work, "out", "A"))
        status, out = run(["-e", "LINKS.TRE", "out"], self.work)
        self.assertEqual(status, 1, out)
        self.assertIn("ERROR: ", out)
        self.assertEqual(os.listdir(self.outside), [])
        self.assertEqual(tooltest.read(self.work, "out/C.BIN"), b"a file\n")

    def test_a_link_in_place_of_a_file_is_not_written_through(self):
        target = os.path.join(self.outside, "target.txt")
        tooltest.put(self.outside, "target.txt", b"keep me\n")
        os.symlink(target, os.path.join(self.work, "out", "C.BIN"))
        status, out = run(["-e", "LINKS.TRE", "out"], self.work)
        self.assertEqual(status, 1, out)
        self.assertIn("ERROR: ", out)
        self.assertEqual(tooltest.read(self.outside, "target.txt"), b"keep me\n")
        self.assertEqual(tooltest.read(self.work, "out/A/B.BIN"), b"inside a folder\n")


class InTheWay(unittest.TestCase):
    def setUp(self):
        self.work = tooltest.case_dir(self, SCRATCH, "way-")

    def write(self, name, data):
        tooltest.put(self.work, name, data)

    def read(self, name):
        return tooltest.read(self.work, name)

    def refused(self, args, alone):
        """The run fails with an ERROR line for `alone`, and the other entry is still written."""
        status, out = run(args, self.work, timeout=30)
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

    def test_the_input_archive_a_fifo_or_a_folder_in_a_files_place_is_left_alone(self):
        own = [("SELF.TRE", b"twenty-three bytes here"), ("OTHER.BIN", b"other\n")]
        way = [("IN.BIN", b"never\n"), ("OK.BIN", b"written\n")]
        link = lambda path: os.link(os.path.join(self.work, "SELF.TRE"), path)
        unchanged = lambda: self.assertEqual(self.read("SELF.TRE"), fx.tre(own))
        is_a = lambda kind: lambda: self.assertTrue(kind(os.lstat(os.path.join(self.work, "out", "IN.BIN")).st_mode))
        # Each case: the archive, its entries (the first refused, the second written), the folder
        # extracted into, what is put in the first entry's place, and that it was left alone.
        cases = {"input in its own folder": ("SELF.TRE", own, ".", None, unchanged),
                 "input hard-linked in the output": ("SELF.TRE", own, "out", link, unchanged),
                 "fifo": ("W.TRE", way, "out", os.mkfifo, is_a(stat.S_ISFIFO)),
                 "folder": ("W.TRE", way, "out", os.mkdir, is_a(stat.S_ISDIR))}
        for what, (archive, entries, into, make, left_alone) in cases.items():
            with self.subTest(what=what):
                self.setUp()
                os.makedirs(os.path.join(self.work, "out"))
                self.write(archive, fx.tre(entries))
                (first, _), (second, data) = entries
                if make:
                    make(os.path.join(self.work, into, first))
                self.refused(["-e", archive, into], first)
                left_alone()
                self.assertEqual(self.read(os.path.join(into, second)), data)

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
                        self.assertEqual(tooltest.repacked(self, TOOL, self.work, "GAPS.TRE", ["-r"] + repack_g), image)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
