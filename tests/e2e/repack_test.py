#!/usr/bin/env python3
"""A repack lays exactly the files extraction wrote over their entries, and every folder it
cannot take as it is gets a clear answer: a file with no entry, both forms of one entry, a
symbolic link or a FIFO, a folder that cannot be read. Each such run names what is wrong in an
"ERROR: " line, ends with status 1 and writes no archive. So does a value typed into a record field
that the field cannot hold, or a record the schema cannot place.

A folder on the way to a file that is replaced by a link while the repack runs leads nowhere.

Usage: repack_test.py TOOL FAULT_TOOL TRAP_LIBRARY SCRATCH_DIR
"""
import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "helpers"))
from tooltest import fixtures as fx  # noqa: E402
import tooltest  # noqa: E402

TOOL, FAULT_TOOL, TRAP, SCRATCH = sys.argv[1:5]

IFF = fx.iff(b"NOTE", 5)
PFC = fx.pfc_dialogue("PILOT", "", "DECK", 5, 0, "A line to edit.", 0)
VOC = fx.voc(3, 300)
PLAIN = b"plain bytes\n"


# Each kind: the archive's file name and its writer over (name, bytes) entries.
KINDS = {"TRE": ("DOCS.TRE", fx.tre), "XTRE": ("DOCS.TRE", tooltest.xtre_named),
         "CRC-TRE": ("DOCS.TRE", tooltest.crctre_named),
         "PAK": ("DOCS.PAK", lambda entries: fx.pak([(0, d) for _, d in entries]))}


class Repack(unittest.TestCase):
    def stage(self, kind, entries, tag=""):
        """The archive of that kind in a fresh folder, extracted into out/ (-n when raw)."""
        self.work = tooltest.case_dir(self, SCRATCH, suffix="-%s%s" % (kind, tag))
        self.file, build = KINDS[kind]
        self.image = build(entries)
        tooltest.put(self.work, self.file, self.image)
        status, out = self.run_tool(["-e", self.file, "out"])
        self.assertEqual(status, 0, out)

    def run_tool(self, args, tool=TOOL, env=None):
        return tooltest.run(tool, args, self.work, env=env, timeout=60)

    def put(self, name, data):
        tooltest.put(os.path.join(self.work, "out"), name, data)

    def refused(self, lines, args=("-r",), tool=TOOL, env=None):
        """The repack fails with each of these lines and writes nothing."""
        status, out = self.run_tool(list(args) + [self.file, "out"], tool, env)
        self.assertEqual(status, 1, out)
        for line in lines:
            self.assertIn("\nERROR: " + line + "\n", out)
        self.assertNotIn("PROGRAM TERMINATED", out)
        self.assertEqual(sorted(os.listdir(self.work)), sorted([self.file, "out"]))

    def repacked(self, args=("-r",)):
        return tooltest.repacked(self, TOOL, self.work, self.file, args, timeout=60)

    def test_a_value_a_record_field_cannot_hold_is_refused(self):
        missile = fx.missile_data(b"DART", (1, 0, 1), 120, 30, 512, 2560)
        document = fx.iff_form(b"REAL", fx.iff_form(b"OBJT", fx.iff_form(b"MISL", fx.iff_chunk(b"DATA", missile))))
        edits = [('Damage="120"', 'Damage="abc"', "Bad value 'abc' for attribute 'Damage' of element 'Missile' in "
                  "'out/ARMS/DART.IFF.xml'!"),
                 ('Damage="120"', 'Damage="-1"', "Bad value '-1' for attribute 'Damage' of element 'Missile' in "
                  "'out/ARMS/DART.IFF.xml'!"),
                 ('RequiresLock="yes"', 'RequiresLock="maybe"', "Bad value 'maybe' for attribute 'RequiresLock' of "
                  "element 'Missile' in 'out/ARMS/DART.IFF.xml'!"),
                 ('Name="DART"', 'Name="A NAME OF TWENTY-ONE"', "Bad value 'A NAME OF TWENTY-ONE' for attribute "
                  "'Name' of element 'Missile' in 'out/ARMS/DART.IFF.xml'!"),
                 (' Damage="120"', ' Damage="120" Damage="121"', "Unexpected attribute 'Damage' in element "
                  "'Missile' of 'out/ARMS/DART.IFF.xml'!"),
                 (' Handler="MissileData"', '', "Unexpected element 'Missile' in element 'DATA' of "
                  "'out/ARMS/DART.IFF.xml'!"),
                 ('Version="1"', 'Version="1x"', "Unrecognised version 1x for 'out/ARMS/DART.IFF.xml'!")]
        for before, after, line in edits:
            with self.subTest(edit=after):
                self.stage("TRE", [("ARMS\\DART.IFF", document)])
                xml = tooltest.read(self.work, "out/ARMS/DART.IFF.xml")
                self.put("ARMS/DART.IFF.xml", xml.replace(before.encode(), after.encode(), 1))
                self.refused([line])

    def test_both_forms_of_one_document_are_refused_by_name(self):
        # A PAK cannot tell a dialogue table by its name: only IFF and VOC are documents there.
        for kind in KINDS:
            if kind == "CRC-TRE":
                continue
            docs = [("A.IFF", IFF), ("C.VOC", VOC)] + ([] if kind == "PAK" else [("B.PFC", PFC)])
            with self.subTest(kind=kind):
                self.stage(kind, docs + [("D.TXT", PLAIN)])
                status, out = self.run_tool(["-e", "-n", self.file, "out"])
                self.assertEqual(status, 0, out)
                raw = ["000.IFF", "001.VOC"] if kind == "PAK" else ["A.IFF", "C.VOC", "B.PFC"]
                converted = {"IFF": ".IFF.xml", "PFC": ".PFC.xml", "VOC": ".wav"}
                self.refused(["Both 'out/%s' and 'out/%s' stand for one entry; keep only the one you edited!"
                              % (r, r[:-4] + converted[r[-3:]]) for r in raw])

    def test_files_with_no_entry_are_each_named(self):
        for kind in KINDS:
            with self.subTest(kind=kind):
                self.stage(kind, [("ONE.BIN", PLAIN), ("TWO.BIN", PLAIN * 2)])
                self.put("STRAY.TXT", b"not in the archive\n")
                os.makedirs(os.path.join(self.work, "out", "NEWDIR"))
                self.put("NEWDIR/DEEP.TXT", b"nor this\n")
                self.refused(["File 'STRAY.TXT' not found in container!",
                              "File 'NEWDIR/DEEP.TXT' not found in container!"])

    def test_a_pak_takes_only_the_names_extraction_gives(self):
        self.stage("PAK", [(None, PLAIN), (None, IFF)])
        edited = b"the edit itself\n"
        self.put("000", edited)
        self.put("000.orig", PLAIN)
        self.put("001.IFF.xml~", tooltest.read(self.work, "out/001.IFF.xml"))
        self.refused(["File '000.orig' not found in container!", "File '001.IFF.xml~' not found in container!"])
        # With -a a name the PAK cannot number is refused the same way.
        os.remove(os.path.join(self.work, "out", "000.orig"))
        os.remove(os.path.join(self.work, "out", "001.IFF.xml~"))
        self.put("NEWSOUND.VOC", VOC)
        self.refused(["File 'NEWSOUND.VOC' can't be added: a PAK adds only files named by a number past its "
                      "last entry!"], args=("-a", "-r"))
        os.remove(os.path.join(self.work, "out", "NEWSOUND.VOC"))
        self.assertEqual(self.repacked(), fx.pak([(0, edited), (0, IFF)]))

    def test_an_exact_name_keeps_its_entry_from_a_case_variant(self):
        self.stage("TRE", [("CASE.BIN", PLAIN)])
        self.put("CASE.BIN", b"the edit\n")
        self.put("case.bin", b"a stray copy\n")
        self.refused(["File 'case.bin' not found in container!"])
        # Added as a new entry, the stray copy leaves the edit where it belongs.
        rewritten = self.repacked(("-a", "-r"))
        status, out = self.run_tool(["-e", "again.TRE", "back"])
        self.assertEqual(status, 0, out)
        self.assertEqual(tooltest.read(self.work, "back/CASE.BIN"), b"the edit\n", rewritten)

    def test_links_fifos_and_unreadable_folders_are_named(self):
        self.stage("TRE", [("ONE.BIN", PLAIN), ("SUB\\TWO.BIN", PLAIN)])
        outside = os.path.join(self.work, "outside.bin")
        os.symlink(outside, os.path.join(self.work, "out", "ONE.LNK"))
        os.mkfifo(os.path.join(self.work, "out", "SUB", "PIPE"))
        self.refused(["'out/ONE.LNK' is a symbolic link or a special file; it is neither followed nor repacked!",
                      "'out/SUB/PIPE' is a symbolic link or a special file; it is neither followed nor "
                      "repacked!"])
        os.remove(os.path.join(self.work, "out", "ONE.LNK"))
        os.remove(os.path.join(self.work, "out", "SUB", "PIPE"))
        # The second listing of the run (the folder SUB) fails as an I/O error would.
        env = dict(os.environ, MORDAX_FAULT="list:2")
        self.refused(["Couldn't read directory 'out/SUB' (Input/output error)!"], tool=FAULT_TOOL, env=env)
        self.assertEqual(self.repacked(), self.image)

    def test_an_edited_file_that_cannot_be_opened_is_named_with_its_cause(self):
        # A lone document repacked from its folder: the raw file beside its XML is no way round.
        for name, data in [("TALK.PFC", PFC), ("NOTE.IFF", IFF)]:
            for error, cause in [(13, "Permission denied"), (5, "Input/output error")]:
                with self.subTest(name=name, cause=cause):
                    self.work = tooltest.case_dir(self, SCRATCH, suffix="-%s-%d" % (name, error))
                    self.file = name
                    tooltest.put(self.work, name, data)
                    status, out = self.run_tool(["-e", name, "out"])
                    self.assertEqual(status, 0, out)
                    self.put(name, data)
                    env = dict(os.environ, LD_PRELOAD=tooltest.preload(TOOL, os.path.abspath(TRAP)),
                               TRAP_FAIL_LEAF=name + ".xml", TRAP_FAIL_ERRNO=str(error))
                    self.refused(["Couldn't read 'out/%s.xml'!" % name,
                                  "Couldn't read 'out/%s.xml' (%s)!" % (name, cause)], env=env)

    def test_a_folder_replaced_by_a_link_as_it_is_listed_or_a_file_is_opened_leads_nowhere(self):
        # The folder is swapped as the scan opens it, or as a file in it is opened.
        for leaf in ("DATA", "TWO.BIN"):
            with self.subTest(leaf=leaf):
                self.stage("TRE", [("ONE.BIN", PLAIN), ("DATA\\TWO.BIN", PLAIN * 2)], leaf)
                secret = b"private bytes from outside the repack folder\n"
                elsewhere = os.path.join(self.work, "elsewhere")
                os.makedirs(elsewhere)
                tooltest.put(elsewhere, "TWO.BIN", secret)
                src = os.path.realpath(os.path.join(self.work, "out"))
                env = dict(os.environ, LD_PRELOAD=tooltest.preload(TOOL, os.path.abspath(TRAP)), TRAP_SWAP_LEAF=leaf,
                           TRAP_SWAP_DIR=os.path.join(src, "DATA"), TRAP_SWAP_TO=elsewhere)
                status, out = self.run_tool(["-r", self.file, "out"], env=env)
                self.assertEqual(status, 1, out)
                self.assertIn("\nERROR: 'out/DATA' is a symbolic link or a special file; it is neither followed "
                              "nor repacked!\n", out)
                self.assertNotIn("TRAP:", out)
                self.assertEqual(sorted(os.listdir(self.work)), sorted([self.file, "elsewhere", "out"]))

    def test_what_extraction_writes_repacks_however_long_its_full_paths(self):
        # Nested archives below a folder of a long path: their files lie past the system's path limit.
        archive = fx.tre([("LEAF.TXT", PLAIN)])
        for i in range(30):
            archive = fx.tre([("N%02u%s.TRE" % (i, "X" * 56), archive), ("F%02u.TXT" % i, PLAIN)])
        self.work = tooltest.case_dir(self, SCRATCH, suffix="-deep")
        self.file = "DEEP.TRE"
        tooltest.put(self.work, self.file, archive)
        folder = os.path.join(os.path.realpath(self.work), *(["L" * 200] * 11), "out")
        os.makedirs(folder)
        for args in (["-e", self.file, folder], ["-r", self.file, folder]):
            status, out = self.run_tool(args)
            self.assertEqual(status, 0, out)
        self.assertEqual(tooltest.read(self.work, "output.TRE"), archive)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
