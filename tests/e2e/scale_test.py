#!/usr/bin/env python3
"""Memory follows the work, not the archive's claims: entries that share bytes share memory,
and bytes unpacked past the archive's budget end the run with an error instead of memory
running out. (Peak memory is judged by the children's maximum resident size, with room for
the sanitizer build.)

Usage: scale_test.py TOOL FAULT_TOOL SCRATCH_DIR
"""
import os
import shutil
import struct
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "helpers"))
from tooltest import fixtures as fx  # noqa: E402

TOOL, FAULT_TOOL, SCRATCH = sys.argv[1:4]
MIB = 1 << 20


def run_measured(args, cwd, tool=TOOL, env=None):
    """Status, output and the peak resident size of the run, in bytes."""
    with subprocess.Popen([tool] + args, cwd=cwd, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT) as p:
        out = p.stdout.read().decode("latin-1")
        _, status, usage = os.wait4(p.pid, 0)
        p.returncode = os.waitstatus_to_exitcode(status)
    return p.returncode, out, usage.ru_maxrss * 1024


class Scale(unittest.TestCase):
    def setUp(self):
        self.work = os.path.join(SCRATCH, self.id().rsplit(".", 1)[1])
        shutil.rmtree(self.work, ignore_errors=True)
        os.makedirs(self.work)

    def put(self, name, image):
        with open(os.path.join(self.work, name), "wb") as f:
            f.write(image)
        return name

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
        status, out, _ = run_measured(["-w", name], self.work)
        self.assertEqual(status, 0, out[-300:])
        self.assertIn("Done. Content checksums match.", out)

    def test_unpacking_past_the_budget_is_an_error(self):
        # 300 nested PAKs, each one LZW entry of 1 MiB: past the 256 MiB floor of a small archive
        # (the machine's own floor may be larger: the test tool takes the smallest).
        stream = fx.lzw_encode(b"\0" * MIB)
        pak = fx.pak([(0x20, struct.pack("<I", MIB) + stream)])
        name = self.put("BUDGET.TRE", fx.tre([("PAK%03u.PAK" % i, pak) for i in range(300)]))
        env = dict(os.environ, MORDAX_UNPACKED_FLOOR=str(256 * MIB))
        status, out, _ = run_measured([name], self.work, FAULT_TOOL, env)
        self.assertEqual(status, 1, out[-300:])
        self.assertIn("ERROR: Unpacking '", out)
        self.assertNotIn("Done.", out)
        self.assertNotIn("PROGRAM TERMINATED", out)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
