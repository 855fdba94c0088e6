#!/usr/bin/env python3
"""Makes each allocation and each file write of a run fail in turn (the fault tool) and checks
that every such run ends with status 1 and an "ERROR: " line, never crashes, and leaves no
partial output: no temporary archive, no output archive after a failed repack or rewrite, and
every file it did leave is the whole file a good run writes there.

Usage: faults_test.py FAULT_TOOL FIXTURES_DIR SCRATCH_DIR ARCHIVE...
"""
import concurrent.futures
import os
import re
import shutil
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "helpers"))
from tooltest import files_under, fresh_dir  # noqa: E402

TOOL, FIXTURES, SCRATCH = sys.argv[1:4]
ARCHIVES = sys.argv[4:]
# The first archive is walked over every point; for the others a walk takes at most this many,
# evenly spaced, its last ones included.
MAX_POINTS = 150


def run(args, cwd, fault=None):
    env = dict(os.environ)
    env.pop("MORDAX_FAULT", None)
    if fault:
        env["MORDAX_FAULT"] = fault
    p = subprocess.run([TOOL] + args, cwd=cwd, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
    counts = re.search(rb"fault points: alloc (\d+) write (\d+) list \d+ sync (\d+)", p.stderr)
    return p.returncode, p.stdout.decode("latin-1"), tuple(int(c) for c in counts.groups()) if counts else (0, 0, 0)


# A document kept raw (memory ran out while it converted) lists without the notes its conversion
# found.
CONVERSION_NOTES = ("- Non-standard: Uses the reserved form type LIST as a chunk name.",)


def strip(out, notes=False):
    """The tool's own lines, without the framework's log lines (and without conversion notes)."""
    return [l for l in out.split("\n") if not l.startswith("[") and not (notes and l.strip() in CONVERSION_NOTES)]


def points(total, every=False):
    if every or total <= MAX_POINTS:
        return list(range(1, total + 1))
    step = total / (MAX_POINTS - 20)
    picked = {int(i * step) + 1 for i in range(MAX_POINTS - 20)} | set(range(total - 19, total + 1))
    return sorted(picked)


class FaultWalk(unittest.TestCase):
    def walk(self, archive, mode):
        name = archive.replace("/", "_")
        base = fresh_dir(SCRATCH, name + mode)
        source = os.path.join(FIXTURES, archive)
        tree = os.path.join(base, "tree")
        if mode == "-r":
            # The repack reads an unedited extraction, made once by a good run.
            status, out, _ = run(["-e", source, tree], base)
            self.assertEqual(status, 0, out)
        args = {"": [source], "-e": ["-e", source, "out"], "-r": ["-r", source, tree], "-w": ["-w", source]}[mode]
        good = os.path.join(base, "good")
        os.makedirs(good)
        status, good_out, counts = run(args, good)
        self.assertEqual(status, 0, good_out)
        expected = files_under(good)
        # Memory that runs out while a document converts keeps that document raw: an extraction
        # may then hold its raw bytes in place of its XML.
        raw = {}
        if mode == "-e":
            raw_dir = os.path.join(base, "raw")
            os.makedirs(raw_dir)
            status, out, _ = run(["-e", "-n", source, "out"], raw_dir)
            self.assertEqual(status, 0, out)
            raw = files_under(raw_dir)

        def as_expected(left):
            kept_raw = {}
            for path, data in expected.items():
                stem = path[:-4]
                if path.endswith(".xml") and path not in left and stem in left and left[stem] == raw.get(stem):
                    kept_raw[stem] = left[stem]
                else:
                    kept_raw[path] = data
            return left == kept_raw
        every = archive == ARCHIVES[0]
        plan = [("alloc:%d" % n) for n in points(counts[0], every)] + \
               [("write:%d" % n) for n in points(counts[1], every)] + \
               [("sync:%d" % n) for n in range(1, counts[2] + 1)]
        # -r and -w sync their archive and its folder; -e and a listing sync nothing.
        self.assertEqual(counts[2], 2 if mode in ("-r", "-w") else 0, good_out)

        def one(fault):
            cwd = os.path.join(base, fault.replace(":", "_"))
            os.makedirs(cwd)
            status, out, _ = run(args, cwd, fault)
            problems = []
            # A failure that cost nothing (in a clean-up after the work was done) may pass, but
            # only with the good run's very output. A sync that failed always costs the run: the
            # archive may not be on disk, and nothing may say that it is.
            synced = fault.startswith("sync:")
            notes = fault.startswith("alloc:")
            passed = not synced and status == 0 and as_expected(files_under(cwd)) and \
                strip(out, notes) == strip(good_out, notes)
            if synced and ("Done. " in out or status != 1):
                problems.append("a failed sync passed as done")
            if status != 1 and not passed:
                problems.append("status %d" % status)
            if "ERROR: " not in out and not passed:
                problems.append("no ERROR line")
            if "PROGRAM TERMINATED" in out or os.path.exists(os.path.join(cwd, "crash.mdmp")):
                problems.append("crashed")
            left = files_under(cwd)
            for path, data in left.items():
                if expected.get(path) != data and not (path + ".xml" in expected and raw.get(path) == data):
                    problems.append("partial or stray file %s" % path)
            # An archive is written whole or not at all: a failed run leaves none, not even a
            # complete one.
            if mode in ("-w", "-r") and not passed and left:
                problems.append("failed run left %s" % ", ".join(sorted(left)))
            shutil.rmtree(cwd, ignore_errors=True)
            return fault, problems, out

        with concurrent.futures.ThreadPoolExecutor(os.cpu_count() or 2) as pool:
            for fault, problems, out in pool.map(one, plan):
                with self.subTest(archive=archive, mode=mode, fault=fault):
                    self.assertEqual(problems, [], out[-600:])
        shutil.rmtree(base, ignore_errors=True)

    def test_list(self):
        for a in ARCHIVES:
            self.walk(a, "")

    def test_extract(self):
        for a in ARCHIVES:
            self.walk(a, "-e")

    def test_repack(self):
        for a in ARCHIVES:
            self.walk(a, "-r")

    def test_rewrite(self):
        for a in ARCHIVES:
            self.walk(a, "-w")


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
