#!/usr/bin/env python3
"""Memory follows the work, not the archive's claims: entries that share bytes share memory,
and bytes unpacked past the archive's budget end the run with an error instead of memory
running out. (Peak memory is judged by the children's maximum resident size, with room for
the sanitizer build.) The tool writes nothing it would refuse to open: not past the budget, nor
past a reader's limits; entries that share one stored stream still share it when written.

Usage: scale_test.py TOOL FAULT_TOOL SCRATCH_DIR
"""
import os
import struct
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "helpers"))
from tooltest import fixtures as fx  # noqa: E402
import tooltest  # noqa: E402

TOOL, FAULT_TOOL, SCRATCH = sys.argv[1:4]
MIB = 1 << 20


def run_measured(args, cwd):
    """Status, output and the peak resident size of the run, in bytes."""
    with subprocess.Popen([TOOL] + args, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT) as p:
        out = p.stdout.read().decode("latin-1")
        _, status, usage = os.wait4(p.pid, 0)
        p.returncode = os.waitstatus_to_exitcode(status)
    return p.returncode, out, usage.ru_maxrss * 1024


def floor(mib):
    """The environment that sets the test tool's floor of unpacked bytes."""
    return dict(os.environ, MORDAX_UNPACKED_FLOOR=str(mib * MIB))


class Work(unittest.TestCase):
    """Each test in a fresh folder of its own (named after it, past PREFIX)."""
    PREFIX = ""

    def setUp(self):
        self.work = tooltest.case_dir(self, SCRATCH, self.PREFIX)

    def put(self, name, data):
        return tooltest.put(self.work, name, data)


class Scale(Work):
    def test_entries_that_share_bytes_share_memory(self):
        # 4,096 entries of one 1 MiB blob: 4 GiB as copies.
        blob = bytes(range(256)) * 4096
        header = 8 + 74 * 4096
        name = self.put("SHARED.TRE", fx.tre_raw(header, [("COPY%04u.BIN" % i, header, MIB) for i in range(4096)],
                                                 blob))
        status, out, peak = run_measured([name], self.work)
        self.assertEqual(status, 0, out[-300:])
        self.assertIn("Done. 4096 files, 4294967296 bytes total.", out)
        self.assertLess(peak, 512 * MIB)

    def test_slots_of_one_packed_file_unpack_it_once(self):
        # 2,048 hash slots name one descriptor of an LZWX stream that unpacks to 1 MiB.
        image = fx.xtre(1, [fx.XFile(b"\0" * MIB, "lzwx")], [(0x10000 + i, 0) for i in range(2048)])
        name = self.put("SLOTS.TRE", image)
        status, out, peak = run_measured([name], self.work)
        self.assertEqual(status, 0, out[-300:])
        self.assertIn("Done. 2048 files, 2147483648 bytes total.", out)
        self.assertLess(peak, 512 * MIB)

    def test_a_rewrite_of_shared_nested_archives_verifies(self):
        # 3,000 entries share one nested PAK of two files: past the budget of nested files the
        # rest stay plain. The rewrite holds 3,000 copies, so it is larger, but it is judged
        # under the original's budgets and holds the same content.
        pak = fx.pak([(0, b"first file " * 8), (0, b"second file " * 8)])
        header = 8 + 74 * 3000
        image = fx.tre_raw(header, [("SHARE%04u.PAK" % i, header, len(pak)) for i in range(3000)], pak)
        name = self.put("SHAREDPAK.TRE", image)
        status, out = tooltest.run(TOOL, ["-w", name], self.work)
        self.assertEqual(status, 0, out[-300:])
        self.assertIn("Done. Content checksums match.", out)

    def test_unpacking_past_the_budget_is_an_error(self):
        # 300 nested PAKs, each one LZW entry of 1 MiB: past the 256 MiB floor of a small archive
        # (the machine's own floor may be larger: the test tool takes the smallest).
        stream = fx.lzw_encode(b"\0" * MIB)
        pak = fx.pak([(0x20, struct.pack("<I", MIB) + stream)])
        name = self.put("BUDGET.TRE", fx.tre([("PAK%03u.PAK" % i, pak) for i in range(300)]))
        status, out = tooltest.run(FAULT_TOOL, [name], self.work, env=floor(256))
        self.assertEqual(status, 1, out[-300:])
        self.assertIn("ERROR: Unpacking '", out)
        self.assertNotIn("Done.", out)
        self.assertNotIn("PROGRAM TERMINATED", out)


# One LZW entry of a few KiB packed, and 16 MiB of zeros to replace it: far past 256 times that.
Z_PAK = fx.pak([fx.lzw(b"small entry " * 20)])
ZEROS = b"\0" * (16 * MIB)


class Written(Work):
    """What -r and -w write opens again, and as what it was."""
    PREFIX = "written-"

    def setUp(self):
        super().setUp()
        os.makedirs(os.path.join(self.work, "tree"))

    def refused(self, args, line, env=None, tool=TOOL):
        status, out = tooltest.run(tool, args, self.work, env=env)
        self.assertEqual(status, 1, out[-600:])
        self.assertIn("\nERROR: " + line, out)
        self.assertFalse([n for n in os.listdir(self.work) if n.startswith("output")], out[-600:])

    def test_what_the_budget_allows_is_written_and_opens_again(self):
        # Past a smaller budget the same repack is refused: a row of the limits' table below.
        self.put("Z.PAK", Z_PAK)
        self.put("tree/000", ZEROS)
        for args in (["-r", "Z.PAK", "tree"], ["output.PAK"]):
            status, out = tooltest.run(FAULT_TOOL, args, self.work, env=floor(64))
            self.assertEqual(status, 0, out[-600:])
        self.assertIn("000 (16777216 bytes)", out)

    def test_nothing_past_a_readers_limits_or_the_budget(self):
        many = fx.tre([("F%04u.BIN" % i, b"x") for i in range(4096)])
        # Each case: the archive, the files of its tree and the refusal; then the environment and
        # the tool to run, when not the plain tool's.
        cases = [
            ("TRE past 4096 entries", "MANY.TRE", many, {"NEW.BIN": b"one more"},
             "A TRE archive holds at most 4096 entries; this one would hold 4097!"),
            ("PAK of 1000 entries", "MANY.PAK", fx.pak([(0, b"e%03u" % i) for i in range(999)]), {"999": b"one more"},
             "A PAK holds at most 999 entries; this one would hold 1000!"),
            ("PAK of 12 bytes, read as empty", "ONE.PAK", fx.pak([(0, b"a longer entry")]), {"000": b"four"},
             "A PAK of 1 entries would be only 12 bytes long"),
            ("PAK of 11 bytes, read as empty", "NONE.PAK", fx.pak([(0, b"tiny")]), {"000": b"abc"},
             "A PAK of 1 entries would be only 11 bytes long"),
            ("PAK past the budget", "Z.PAK", Z_PAK, {"000": ZEROS},
             "'output.PAK' would unpack to 16777216 bytes, past the budget", floor(8), FAULT_TOOL),
        ]
        for what, name, image, files, line, *run in cases:
            with self.subTest(what=what):
                self.setUp()
                self.put(name, image)
                for file, data in files.items():
                    self.put("tree/" + file, data)
                self.refused(["-a", "-r", name, "tree"], line, *run)

    def test_streams_shared_as_read_are_shared_as_written(self):
        # A CRC-TRE whose 1,000 rows name one LZSS stream, in the layout the tool writes.
        stream = fx.lzss_encode(fx.text(3, 64 * 1024))
        names = sorted(("ROW%04u.TXT" % i for i in range(1000)), key=lambda n: fx.crc_name(fx.crc_field(n)))
        start = 16 + 272 * len(names)
        rows = b"".join(struct.pack("<IIII", fx.crc_name(fx.crc_field(n)), 64 * 1024, start, len(stream))
                        + fx.crc_field(n) for n in names)
        crc = struct.pack("<I", len(names)) + bytes(12) + rows + stream
        # A PAK whose third entry names the first one's bytes (the second, empty, points past them).
        a, b = fx.lzw(fx.text(4, 5000)), fx.text(5, 300)
        first = 4 + 4 * 4
        words = [(0x20 << 24) | first, first + len(a[1]), (0x20 << 24) | first, first + len(a[1])]
        body = a[1] + b
        pak = struct.pack("<I", first + len(body)) + b"".join(struct.pack("<I", w) for w in words) + body
        for name, image in (("SHARED.TRE", crc), ("SHARED.PAK", pak)):
            with self.subTest(archive=name):
                self.put(name, image)
                status, out = tooltest.run(TOOL, ["-w", name, "-o", "copy"], self.work)
                self.assertEqual(status, 0, out[-600:])
                self.assertIn("Done. All OK; file checksums match.", out)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
