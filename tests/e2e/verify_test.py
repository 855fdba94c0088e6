#!/usr/bin/env python3
"""-w judges the archive as it is on disk: a byte flipped on its way into the file (by a
preloaded write) is found by the file checksums, and a flip in an entry's data fails the run
and leaves no archive behind; an archive written intact passes.

Usage: verify_test.py TOOL TRAP_LIBRARY SCRATCH_DIR
"""
import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "helpers"))
from tooltest import files_under, fixtures, fresh_dir, put, run  # noqa: E402
import tooltest  # noqa: E402

TOOL, TRAP, SCRATCH = (os.path.abspath(a) for a in sys.argv[1:4])
ARCHIVE = fixtures.tre([("DATA\\ONE.BIN", fixtures.binary(1, 3000)), ("DATA\\TWO.BIN", fixtures.binary(2, 5000))])
FILES_DIFFER = "ERROR: File checksums DO NOT match - reloading & checking content...\n"
# Flip offset (None: no preload), status, lines printed, whether the output stays.
CASES = [
    (None, 0, ["Done. All OK; file checksums match.\n"], True),
    # The last byte of the last entry's data.
    (len(ARCHIVE) - 1, 1, [FILES_DIFFER, "ERROR: Content checksums DO NOT match!\n"], False),
    # The first letter of the first entry's name: the contents, which are the entries' data, match.
    (ARCHIVE.index(b"DATA\\ONE.BIN"), 0, [FILES_DIFFER, "Done. Content checksums match.\n"], True),
]


def preload():
    """The trap library, after the sanitizer runtime when the tool carries one."""
    return tooltest.preload(TOOL, TRAP)


class Verify(unittest.TestCase):
    def test_rewrite_checks_the_bytes_on_disk(self):
        for at, status, lines, kept in CASES:
            with self.subTest(flip=at):
                work = fresh_dir(os.path.realpath(os.path.join(SCRATCH, "flip-%s" % at)))
                put(work, "IN.TRE", ARCHIVE)
                env = dict(os.environ)
                if at is not None:
                    env.update(LD_PRELOAD=preload(), TRAP_DIR=work, TRAP_FLIP_AT=str(at))
                got, out = run(TOOL, ["-w", "IN.TRE", "-o", "OUT"], work, env=env)
                self.assertEqual(got, status, out)
                at_line = [out.replace("\r", "\n").find(line) for line in lines]
                self.assertNotIn(-1, at_line, out)
                self.assertEqual(at_line, sorted(at_line), out)
                expected = bytearray(ARCHIVE)
                if at is not None:
                    expected[at] ^= 1
                left = {name: data for name, data in files_under(work).items() if name != "IN.TRE"}
                self.assertEqual(left, {"OUT.TRE": bytes(expected)} if kept else {}, out)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
