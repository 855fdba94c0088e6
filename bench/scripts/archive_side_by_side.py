#!/usr/bin/env python3
"""Whole-archive work timed side by side with the tools that do the same to a plain tree:
MORDAX and its anchor run alternately in one run, each case a few times, and the script prints
the medians, their ratio and the peak memory of each (GNU time), with the archive's size for
the memory goals.

Usage: archive_side_by_side.py MORDAX WORK_DIR [RUNS] [CASE...]
  CASE picks cases by a word of their name (repack, extract, rewrite, list, memory, iff, large,
  pfc).

The archives are written with the test-archive generator's writers
(tests/fixtures/make_fixtures.py).
"""
import os
import random
import shutil
import statistics
import struct
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tests", "fixtures"))
import make_fixtures as fx  # noqa: E402

TOOL, WORK = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
RUNS = int(sys.argv[3]) if len(sys.argv) > 3 else 5
ONLY = set(sys.argv[4:])
MIB = 1 << 20


def wanted(name):
    return not ONLY or any(word in name for word in ONLY)


def mixed_sizes(count, total, seed):
    """count sizes adding up to about total bytes: many small, a few large."""
    r = random.Random(seed)
    weights = [r.paretovariate(1.2) for _ in range(count)]
    scale = total / sum(weights)
    return [max(1, int(w * scale)) for w in weights]


def write(path, build):
    if not os.path.exists(path):
        with open(path, "wb") as f:
            f.write(build())
    return path


def build_archives():
    os.makedirs(WORK, exist_ok=True)
    a = {}
    a["crc"] = write(os.path.join(WORK, "MANY.TRE"), lambda: fx.crctre(
        [dict(name="PART%03u\\BLOCK%05u.DAT" % (i % 256, i), data=random.Random(i).randbytes(1024))
         for i in range(65535)]))
    a["tre"] = write(os.path.join(WORK, "BIG.TRE"), lambda: fx.tre(
        [("PART%02u\\ITEM%04u.BIN" % (i % 64, i), random.Random(i).randbytes(n))
         for i, n in enumerate(mixed_sizes(4096, 256 * MIB, 7))]))

    def shared():
        # 4,096 entries that all point at one 1 MiB blob.
        blob = random.Random(3).randbytes(MIB)
        header = 8 + 74 * 4096
        return fx.tre_raw(header, [("SAME%04u.BIN" % i, header, len(blob)) for i in range(4096)], blob)
    a["shared"] = write(os.path.join(WORK, "SHARED.TRE"), shared)

    def hostile_lzwx():
        # An XTRE whose one LZWX entry claims the largest size its word can hold but holds only
        # a short stream of one repeated byte.
        stream = fx.lzwx_encode(b"\0" * 450000)
        return fx.xtre(1, [fx.XFile(b"", raw=stream, size=0x3FFFFFFF)], [(0x1234ABCD, 0)])
    a["lzwx"] = write(os.path.join(WORK, "HOSTILE.TRE"), hostile_lzwx)

    def documents():
        docs = []
        for i in range(200):
            body = fx.text(900 + i, 46 * 1024)
            chunk = b"\x10\xFB" + struct.pack(">I", len(body))[1:] + fx.refpack_literals(body)
            docs.append(("DOCS\\TEXT%03u.IFF" % i, fx.iff_form(b"NOTE", fx.iff_chunk(b"BODY", chunk))))
        return fx.tre(docs)
    a["iff"] = write(os.path.join(WORK, "DOCS.TRE"), documents)

    for key in ("crc", "tre"):
        tree = a[key] + ".tree"
        if not os.path.isdir(tree):
            subprocess.run([TOOL, "-e", a[key], tree], stdout=subprocess.DEVNULL, check=True)
        tar = a[key] + ".tar"
        if not os.path.exists(tar):
            subprocess.run(["tar", "-cf", tar, "-C", tree, "."], check=True)
    return a


def timed(cmd, before=None, shell=False):
    if before:
        before()
    start = time.monotonic()
    full = ["/usr/bin/time", "-f", "%M"] + (["sh", "-c", cmd] if shell else cmd)
    p = subprocess.run(full, cwd=WORK, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    elapsed = time.monotonic() - start
    return elapsed, int(p.stderr.split()[-1]) * 1024, p.returncode


def clear_out():
    for d in ("out", "x"):
        shutil.rmtree(os.path.join(WORK, d), ignore_errors=True)
    for f in ("output.TRE", "copy.TRE", "t.tar"):
        if os.path.exists(os.path.join(WORK, f)):
            os.remove(os.path.join(WORK, f))
    os.makedirs(os.path.join(WORK, "x"))


def side_by_side(name, ours, theirs, archive, theirs_shell=False):
    if not wanted(name):
        return
    a, b, ma, mb = [], [], 0, 0
    for _ in range(RUNS):
        t, m, _ = timed(ours, clear_out)
        a.append(t)
        ma = max(ma, m)
        t, m, _ = timed(theirs, clear_out, theirs_shell)
        b.append(t)
        mb = max(mb, m)
    ra, rb = statistics.median(a), statistics.median(b)
    size = os.path.getsize(archive) / MIB
    print("%-40s %7.3f %7.3f %6.2fx %8.1f %8.1f %8.1f" % (name, ra, rb, ra / rb, ma / MIB, mb / MIB, size),
          flush=True)


def alone(name, cmd, archive):
    """Peak memory and time of a run with no anchor (memory goals)."""
    if not wanted(name):
        return
    runs = [timed(cmd, clear_out) for _ in range(RUNS)]
    t = statistics.median(r[0] for r in runs)
    m = max(r[1] for r in runs)
    print("%-40s %7.3f %7s %7s %8.1f %8s %8.1f  status %d" % (name, t, "-", "-", m / MIB, "-",
                                                                os.path.getsize(archive) / MIB, runs[0][2]),
          flush=True)


LARGE_SIZES = (20, 200)
LARGE_MODES = (("list", []), ("extract", ["-e"]), ("rewrite", ["-w"]), ("repack", ["-r"]))
# One chunk of random bytes or of text; or many tiny parts: empty chunks (8 bytes each), chunks of
# 6 bytes (14 each), and 8-byte records of one schema chunk.
LARGE_KINDS = ("random", "text", "empty", "small", "records")
DENSE_KINDS = ("empty", "small", "records")
# Dialogue tables of one Branch holding millions of empty options (one byte each), or one option
# holding millions of one-letter cutaways (15 bytes each), and one-letter dialogues at the top
# level (36 bytes each).
TABLE_SIZES = (8, 20)
TABLE_KINDS = ("pfc options", "pfc branch records", "pfc dialogues")


def large_document(path, mib, kind):
    """A TRE holding one IFF document of about `mib` MiB of the kind: the document's size."""
    n = mib * MIB

    def document():
        if kind == "random":
            return fx.iff_form(b"DATA", fx.iff_chunk(b"BODY", random.Random(mib).randbytes(n)))
        if kind == "text":
            return fx.iff_form(b"DATA", fx.iff_chunk(b"BODY", fx.text(mib, MIB) * mib))
        if kind == "empty":
            return fx.iff_form(b"DATA", fx.iff_chunk(b"NULL", b"") * (n // 8))
        if kind == "small":
            return fx.iff_form(b"DATA", fx.iff_chunk(b"TINY", b"ab\x01\x02yz") * (n // 14))
        names = b"".join(b"KIND%04u" % i for i in range(10000))
        return fx.iff_form(b"SSSS", fx.iff_chunk(b"CAST", (names * (n // len(names) + 1))[:n]))
    size = [0]

    def build():
        doc = document()
        size[0] = len(doc)
        return fx.tre([("DOCS\\LARGE.IFF", doc)])
    write(path, build)
    # The document: the archive less its header and one 74-byte entry.
    return size[0] or os.path.getsize(path) - 8 - 74


def large_table(path, mib, kind):
    """A TRE holding one PFC table of about `mib` MiB of the kind: the table's size."""
    n = mib * MIB

    def table():
        if kind == "pfc options":
            return fx.pfc_branch("ANCHOR", "DECK", 1, 2, [b""] * n)
        if kind == "pfc branch records":
            record = fx.pfc_cutaway("DECK", 1, 0, "k")
            return fx.pfc_branch("ANCHOR", "DECK", 1, 2, [record * (n // len(record))])
        return fx.pfc_dialogue("ANCHOR", "CALM", "DECK", 1, 0, "k", 0) * (n // 36)
    size = [0]

    def build():
        t = table()
        size[0] = len(t)
        return fx.tre([("DOCS\\LARGE.PFC", t)])
    write(path, build)
    return size[0] or os.path.getsize(path) - 8 - 74


def large_cases():
    """One large document converted on list, -e, -w and -r (of its unedited XML): seconds, MB/s of
    document, and peak memory as a multiple of the document (of the XML file for -r). The goal: at
    most 12 times it plus 64 MiB, and 20 MB/s or more."""
    cases = [(mib, kind, mode, args) for mib in LARGE_SIZES for kind in LARGE_KINDS for mode, args in LARGE_MODES
             if (mode != "repack" or kind in DENSE_KINDS)]
    cases += [(mib, kind, mode, args) for mib in TABLE_SIZES for kind in TABLE_KINDS for mode, args in LARGE_MODES]
    cases = [c for c in cases if wanted("large %s %d MiB %s" % (c[2], c[0], c[1]))]
    if not cases:
        return
    os.makedirs(WORK, exist_ok=True)
    print("%-44s %7s %7s %8s %7s %7s" % ("large document", "s", "MB/s", "peak MiB", "x doc", "goal x"))
    for mib, kind, mode, args in cases:
        path = os.path.join(WORK, "LARGE_%s_%d.TRE" % (kind.upper().replace(" ", "_"), mib))
        table = kind in TABLE_KINDS
        size = (large_table if table else large_document)(path, mib, kind)
        extra = {"extract": ["out"], "rewrite": ["-o", "copy"], "repack": [path + ".tree", "-o", "copy"]}.get(mode, [])
        measure = size
        if mode == "repack":
            tree = path + ".tree"
            if not os.path.isdir(tree):
                subprocess.run([TOOL, "-e", path, tree], stdout=subprocess.DEVNULL, check=True)
            measure = os.path.getsize(os.path.join(tree, "DOCS", "LARGE.PFC.xml" if table else "LARGE.IFF.xml"))
        runs = [timed([TOOL] + args + [path] + extra, clear_out) for _ in range(RUNS)]
        t = statistics.median(r[0] for r in runs)
        m = max(r[1] for r in runs)
        print("%-44s %7.2f %7.1f %8.0f %7.1f %7.1f  status %d" % (
            "large %s %d MiB %s" % (mode, mib, kind), t, size / t / 1e6, m / MIB, m / measure,
            (12 * measure + 64 * MIB) / measure, runs[0][2]), flush=True)


def main():
    if ONLY and all(word == "large" or word.startswith("large ") or word.startswith("pfc") for word in ONLY):
        large_cases()
        return
    a = build_archives()
    print("%d runs each, medians; peak memory of the largest run of each side" % RUNS)
    print("%-40s %7s %7s %7s %8s %8s %8s" % ("case", "ours s", "anchor", "ratio", "ours MiB", "anch MiB",
                                             "arch MiB"))
    for key, label in (("crc", "CRC-TRE 65,535 x 1 KiB"), ("tre", "TRE 4,096 entries 256 MiB")):
        archive = a[key]
        tree = archive + ".tree"
        side_by_side("extract " + label, [TOOL, "-e", archive, "out"], ["tar", "-xf", archive + ".tar", "-C", "x"],
                     archive)
        side_by_side("rewrite " + label, [TOOL, "-w", archive, "-o", "copy"],
                     "cp %s copy.TRE && md5sum %s copy.TRE" % (archive, archive), archive, theirs_shell=True)
        side_by_side("repack " + label, [TOOL, "-r", archive, tree], ["tar", "-cf", "t.tar", "-C", tree, "."],
                     archive)
        alone("list (memory) " + label, [TOOL, archive], archive)
    alone("list (memory) shared-data TRE", [TOOL, a["shared"]], a["shared"])
    alone("list (memory) hostile LZWX claim", [TOOL, a["lzwx"]], a["lzwx"])
    docs = a["iff"]
    for mode, args in (("list", []), ("extract", ["-e"]), ("rewrite", ["-w"])):
        extra = ["out"] if mode == "extract" else []
        side_by_side("iff %s 200 documents vs -n" % mode, [TOOL] + args + [docs] + extra,
                     [TOOL, "-n"] + args + [docs] + extra, docs)
    large_cases()


if __name__ == "__main__":
    main()
