#!/usr/bin/env python3
"""Whole-archive work timed side by side with the tools that do the same to a plain tree:
MORDAX and its anchor run alternately in one run, each case a few times, and the script prints
the medians, their ratio and the peak memory of each (GNU time).

Usage: archive_side_by_side.py MORDAX WORK_DIR [RUNS] [CASE...]

The archives are written by the test-archive generator (tests/fixtures/make_fixtures.py).
"""
import os
import random
import shutil
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tests", "fixtures"))
import make_fixtures as fx  # noqa: E402

TOOL, WORK = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
RUNS = int(sys.argv[3]) if len(sys.argv) > 3 else 5
ONLY = set(sys.argv[4:])


def mixed_sizes(count, total, seed):
    """count sizes adding up to about total bytes: many small, a few large."""
    r = random.Random(seed)
    weights = [r.paretovariate(1.2) for _ in range(count)]
    scale = total / sum(weights)
    return [max(1, int(w * scale)) for w in weights]


def build_archives():
    os.makedirs(WORK, exist_ok=True)
    crc = os.path.join(WORK, "MANY.TRE")
    if not os.path.exists(crc):
        entries = [dict(name="PART%03u\\BLOCK%05u.DAT" % (i % 256, i), data=random.Random(i).randbytes(1024))
                   for i in range(65535)]
        with open(crc, "wb") as f:
            f.write(fx.crctre(entries))
    tre = os.path.join(WORK, "BIG.TRE")
    if not os.path.exists(tre):
        sizes = mixed_sizes(4096, 256 << 20, 7)
        entries = [("PART%02u\\ITEM%04u.BIN" % (i % 64, i), random.Random(i).randbytes(n)) for i, n in enumerate(sizes)]
        with open(tre, "wb") as f:
            f.write(fx.tre(entries))
    for archive in (crc, tre):
        tree = archive + ".tree"
        if not os.path.isdir(tree):
            subprocess.run([TOOL, "-e", archive, tree], stdout=subprocess.DEVNULL, check=True)
        tar = archive + ".tar"
        if not os.path.exists(tar):
            subprocess.run(["tar", "-cf", tar, "-C", tree, "."], check=True)
    return crc, tre


def timed(cmd, cwd, before=None):
    if before:
        before()
    start = time.monotonic()
    p = subprocess.run(["/usr/bin/time", "-f", "%M"] + cmd, cwd=cwd, stdout=subprocess.DEVNULL,
                       stderr=subprocess.PIPE)
    elapsed = time.monotonic() - start
    if p.returncode != 0:
        raise SystemExit("failed: %s\n%s" % (" ".join(cmd), p.stderr.decode("latin-1")))
    return elapsed, int(p.stderr.split()[-1]) * 1024


def side_by_side(name, ours, theirs, before=None):
    if ONLY and name not in ONLY:
        return
    a, b, ma, mb = [], [], 0, 0
    for _ in range(RUNS):
        t, m = timed(ours, WORK, before)
        a.append(t)
        ma = max(ma, m)
        t, m = timed(theirs, WORK, before)
        b.append(t)
        mb = max(mb, m)
    ra, rb = statistics.median(a), statistics.median(b)
    print("%-34s %8.3f %8.3f %7.2fx %9.1f %9.1f" % (name, ra, rb, ra / rb, ma / 2**20, mb / 2**20), flush=True)


def main():
    crc, tre = build_archives()
    out = os.path.join(WORK, "out")

    def clear_out():
        shutil.rmtree(out, ignore_errors=True)
        for f in ("output.TRE", "copy.TRE", "t.tar"):
            if os.path.exists(os.path.join(WORK, f)):
                os.remove(os.path.join(WORK, f))

    print("%d runs each, medians; peak memory of the slowest run of each side" % RUNS)
    print("%-34s %8s %8s %8s %9s %9s" % ("case", "ours s", "anchor s", "ratio", "ours MiB", "anchor MiB"))
    for archive, label in ((crc, "CRC-TRE 65,535 x 1 KiB"), (tre, "TRE 4,096 entries, 256 MiB")):
        tree = archive + ".tree"
        side_by_side("repack " + label, [TOOL, "-r", archive, tree], ["tar", "-cf", "t.tar", "-C", tree, "."],
                     clear_out)


if __name__ == "__main__":
    main()
