#!/usr/bin/env python3
"""SIGINT, SIGTERM and SIGHUP stop a long run promptly: status 1, "ERROR: Interrupted!", and
nothing half-written left behind (no output archive, no temporary file, no short extracted
file). A signal before the work starts ends the run the same way. A signal at the worst moment
(a preloaded trap raises or awaits it) neither places a file it stopped nor removes one that is
not the tool's own. Output never holds a quit back, whatever it is (a pipe or terminal nobody
reads, a stopped terminal, a slow reader), not even while a crash is reported; output that is
read arrives whole, also through a pipe set not to block.

Usage: interrupt_test.py TOOL TRAP_LIBRARY SCRATCH_DIR
"""
import fcntl
import os
import random
import shutil
import signal
import struct
import subprocess
import sys
import termios
import threading
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "helpers"))
from tooltest import fixtures as make_fixtures  # noqa: E402
import tooltest  # noqa: E402

TOOL, TRAP, SCRATCH = (os.path.abspath(a) for a in sys.argv[1:4])
# The real bound is a second; a sanitizer build on a busy machine gets room.
BOUND = 5.0
F_GETPIPE_SZ = 1032
ENTRIES = [("DATA%02u\\BLOCK%04u.BIN" % (i % 16, i), random.Random(i).randbytes(24 * 1024)) for i in range(4096)]
# A long listing: its lines come out as fast as the output takes them.
LISTING = ["-vvv", "BIG.TRE"]
LISTED = b" -> 0x"
MODES = {"extract": ["-e", "BIG.TRE", "out"], "repack": ["-r", "BIG.TRE", "tree"], "rewrite": ["-w", "BIG.TRE"]}
# Standard output is a pipe here: only detail lines printed while the work goes on bring a
# marker out in time. These reach each mode's own work, past the reading of the archive.
MIDWAY = {"extract": (["-vv"], b"Extracting contents...\n"), "repack": (["-v"], b"Repacking contents...\n"),
          "rewrite": (["-v"], b"Rewriting & verifying contents...\n")}


def start(args, cwd):
    return subprocess.Popen([TOOL] + args, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)


def pending(fd):
    """Bytes waiting in a pipe."""
    return struct.unpack("i", fcntl.ioctl(fd, termios.FIONREAD, b"\0\0\0\0"))[0]


def ended_after(proc, signals, gap=0.0):
    """Sends the signals, gap seconds apart: seconds from the last one until the run ended (a run
    that outlives twice the bound is killed)."""
    for i, s in enumerate(signals):
        if i:
            time.sleep(gap)
        proc.send_signal(s)
    sent = time.monotonic()
    try:
        proc.wait(timeout=2 * BOUND)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()
    return time.monotonic() - sent


def settle(fd):
    """Until output waiting to be read from fd stops growing: whoever writes it then waits."""
    last = -1
    deadline = time.monotonic() + 120
    while time.monotonic() < deadline:
        time.sleep(0.3)
        now = pending(fd)
        if now and now == last:
            return
        last = now


def read_until(proc, marker):
    """Output up to and including marker (or all of it, when the run ends first)."""
    seen = b""
    while marker not in seen:
        byte = proc.stdout.read(1)
        if not byte:
            break
        seen += byte
    return seen


class Interrupts(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.base = tooltest.fresh_dir(SCRATCH, "interrupt")
        cls.archive = os.path.join(cls.base, tooltest.put(cls.base, "BIG.TRE", make_fixtures.tre(ENTRIES)))
        cls.files = {name.replace("\\", "/"): data for name, data in ENTRIES}
        tree = os.path.join(cls.base, "tree")
        done = subprocess.run([TOOL, "-e", cls.archive, tree], stdout=subprocess.DEVNULL)
        assert done.returncode == 0

    def workdir(self, tag):
        work = tooltest.fresh_dir(self.base, tag)
        os.link(self.archive, os.path.join(work, "BIG.TRE"))
        os.symlink(os.path.join(self.base, "tree"), os.path.join(work, "tree"))
        return work

    def check_nothing_partial(self, work):
        for base, _, names in os.walk(work):
            for n in names:
                path = os.path.join(base, n)
                rel = os.path.relpath(path, work)
                if rel in ("BIG.TRE", "tree"):
                    continue
                self.assertTrue(rel.startswith("out/"), "left behind: " + rel)
                with open(path, "rb") as f:
                    self.assertEqual(f.read(), self.files[rel[4:]], "short file " + rel)

    def interrupt(self, tag, args, marker, signals):
        work = self.workdir(tag)
        proc = start(args, work)
        seen = read_until(proc, marker)
        sent = time.monotonic()
        for s in signals:
            proc.send_signal(s)
        rest, _ = proc.communicate(timeout=60)
        elapsed = time.monotonic() - sent
        out = (seen + rest).decode("latin-1")
        self.assertEqual(proc.returncode, 1, out[-500:])
        self.assertIn("ERROR: Interrupted!\n", out.replace("\r", "\n"))
        self.assertLess(elapsed, BOUND, out[-500:])
        self.check_nothing_partial(work)

    def test_each_signal_stops_each_kind_of_run(self):
        for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            for mode, args in MODES.items():
                with self.subTest(signal=sig.name, mode=mode):
                    detail, marker = MIDWAY[mode]
                    self.interrupt("%s-%s" % (mode, sig.name), detail + args, marker, [sig])
            with self.subTest(signal=sig.name, mode="reading"):
                self.interrupt("reading-" + sig.name, ["-v"] + MODES["rewrite"], b" >> DATA", [sig])

    def test_a_signal_before_the_work_ends_the_run_as_interrupted(self):
        for mode, args in MODES.items():
            with self.subTest(mode=mode):
                # The banner is the process's first line, printed before the work starts.
                self.interrupt("early-" + mode, args, b"developers\n", [signal.SIGINT])

    def test_a_signal_ends_a_long_conversion(self):
        """A large document of tiny chunks, or of deep nests, or a dialogue table of one Branch
        holding millions of options, takes seconds to convert: the signal does not wait, and the
        file it stopped is not blamed on the disk."""
        work = tooltest.fresh_dir(self.base, "conversion")
        dense = make_fixtures.iff_form(b"DATA", make_fixtures.iff_chunk(b"NULL", b"") * (5 << 20))
        nest = make_fixtures.iff_chunk(b"INFO", b"x")
        for _ in range(60):
            nest = make_fixtures.iff_form(b"NEST", nest)
        deep = make_fixtures.iff_form(b"DEEP", nest * ((4 << 20) // len(nest)))
        tooltest.put(work, "DENSE.TRE", make_fixtures.tre([("DOCS\\DENSE.IFF", dense)]))
        tooltest.put(work, "DEEP.TRE", make_fixtures.tre([("DOCS\\DEEP.IFF", deep)]))
        branch = make_fixtures.pfc_branch("ANCHOR", "DECK", 1, 2, [b""] * (20 << 20))
        tooltest.put(work, "BRANCH.TRE", make_fixtures.tre([("TALK\\BRANCH.PFC", branch)]))
        runs = [([], "DENSE.TRE"), (["-e"], "DENSE.TRE"), (["-w"], "DENSE.TRE"), (["-e"], "DEEP.TRE"),
                ([], "BRANCH.TRE"), (["-e"], "BRANCH.TRE")]
        for mode, archive in runs:
            with self.subTest(mode=mode, archive=archive):
                args = mode + [archive] + (["out"] if mode == ["-e"] else [])
                # Nothing is printed while it converts (and a pipe holds what was): the signal
                # comes a while into the run, seconds before the conversion could end.
                proc = start(args, work)
                time.sleep(1.5)
                sent = time.monotonic()
                proc.send_signal(signal.SIGTERM)
                out, _ = proc.communicate(timeout=120)
                elapsed = time.monotonic() - sent
                out = out.decode("latin-1")
                self.assertEqual(proc.returncode, 1, out[-500:])
                self.assertEqual(out.count("ERROR: Interrupted!\n"), 1, out[-500:])
                self.assertNotIn("Write failure", out)
                self.assertLess(elapsed, BOUND, out[-500:])
                self.assertEqual(sorted(os.listdir(work)), ["BRANCH.TRE", "DEEP.TRE", "DENSE.TRE"])

    def wait_until_full(self, reader, proc):
        """Until the pipe or FIFO holds all it can take: the run then waits on it."""
        capacity = fcntl.fcntl(reader, F_GETPIPE_SZ)
        deadline = time.monotonic() + 120
        while pending(reader) < capacity - 4096 and proc.poll() is None:
            self.assertLess(time.monotonic(), deadline, "the output never filled")
            time.sleep(0.05)
        time.sleep(0.2)

    def test_one_signal_ends_a_run_whose_output_nobody_reads(self):
        """Standard output is a FIFO that is open but never read: once it is full the run waits
        on it, and one signal (or two) still ends the run at once, leaving nothing half-written."""
        work = self.workdir("unread")
        fifo = os.path.join(self.base, "unread.fifo")
        if not os.path.exists(fifo):
            os.mkfifo(fifo)
        for signals in ([signal.SIGINT], [signal.SIGINT, signal.SIGINT]):
            with self.subTest(signals=len(signals)):
                reader = os.open(fifo, os.O_RDONLY | os.O_NONBLOCK)
                writer = os.open(fifo, os.O_WRONLY)
                proc = subprocess.Popen([TOOL, "-vv", "-e", "BIG.TRE", "out"], cwd=work, stdout=writer,
                                        stderr=subprocess.DEVNULL)
                os.close(writer)
                try:
                    self.wait_until_full(reader, proc)
                    elapsed = ended_after(proc, signals)
                finally:
                    os.close(reader)
                self.assertEqual(proc.returncode, 1)
                self.assertLess(elapsed, BOUND)
                self.check_nothing_partial(work)

    def test_one_signal_ends_a_run_on_a_terminal_nobody_reads(self):
        """Standard output is a terminal that nobody reads (the run fills it), or one whose
        output is stopped (Ctrl-S) while the listing goes on, or just as a write begins after
        the run saw room: one signal ends the run."""
        work = self.workdir("terminal")
        env = dict(os.environ, LD_PRELOAD=tooltest.preload(TOOL, TRAP), TRAP_STOP_AT_TEXT="BLOCK0100.BIN")
        for case in ("unread", "stopped", "stopped at a write"):
            with self.subTest(case=case):
                master, slave = os.openpty()
                proc = subprocess.Popen([TOOL] + LISTING, cwd=work, stdout=slave, stderr=slave,
                                        stdin=subprocess.DEVNULL, env=env if case == "stopped at a write" else None)
                try:
                    if case == "unread":
                        settle(master)
                    else:
                        seen = b""
                        while LISTED not in seen:
                            seen += os.read(master, 4096)
                        if case == "stopped":
                            termios.tcflow(slave, termios.TCOOFF)
                        # Room in the terminal: the run waits on the stop, not on a full buffer.
                        os.set_blocking(master, False)
                        for _ in range(5):
                            time.sleep(0.1)
                            try:
                                os.read(master, 1 << 16)
                            except BlockingIOError:
                                pass
                    elapsed = ended_after(proc, [signal.SIGINT])
                finally:
                    os.close(master)
                    os.close(slave)
                self.assertEqual(proc.returncode, 1)
                self.assertLess(elapsed, BOUND)

    def test_one_signal_ends_a_run_whose_reader_is_slow(self):
        """The reader takes 2 KiB every 200 ms: the run does not wait for it to take whole
        buffers once the signal has come."""
        work = self.workdir("slow")
        reader, writer = os.pipe()
        proc = subprocess.Popen([TOOL] + LISTING, cwd=work, stdout=writer, stderr=subprocess.DEVNULL)
        os.close(writer)

        def drain():
            while os.read(reader, 2048):
                time.sleep(0.2)

        slow = threading.Thread(target=drain)
        try:
            self.wait_until_full(reader, proc)
            slow.start()
            time.sleep(1.0)
            elapsed = ended_after(proc, [signal.SIGINT])
        finally:
            if slow.is_alive():
                slow.join()
            os.close(reader)
        self.assertEqual(proc.returncode, 1)
        self.assertLess(elapsed, BOUND)

    def test_a_pipe_set_not_to_block_gets_the_whole_listing(self):
        """Standard output is a pipe that its parent set not to block, read slowly: a write it
        refuses for now is waited out, and the listing arrives byte for byte as in a plain run."""
        work = self.workdir("nonblocking")
        plain = subprocess.run([TOOL] + LISTING, cwd=work, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.assertEqual(plain.returncode, 0)
        reader, writer = os.pipe()
        os.set_blocking(writer, False)
        proc = subprocess.Popen([TOOL] + LISTING, cwd=work, stdout=writer, stderr=subprocess.DEVNULL)
        os.close(writer)
        got = []
        try:
            while True:
                time.sleep(0.01)
                chunk = os.read(reader, 4096)
                if not chunk:
                    break
                got.append(chunk)
        finally:
            os.close(reader)
        self.assertEqual(proc.wait(timeout=60), 0)
        got = b"".join(got)
        self.assertEqual(len(got), len(plain.stdout))
        self.assertTrue(got == plain.stdout, "the listing arrived changed")

    def test_a_quit_ends_a_crash_report_that_output_holds(self):
        """The run crashes while its output waits on a pipe nobody reads, and a quit signal comes
        half a second later: the report gives way to it and the run ends, status 1 as every
        crash."""
        work = self.workdir("crash")
        reader, writer = os.pipe()
        proc = subprocess.Popen([TOOL] + LISTING, cwd=work, stdout=writer, stderr=writer)
        os.close(writer)
        try:
            self.wait_until_full(reader, proc)
            elapsed = ended_after(proc, [signal.SIGSEGV, signal.SIGTERM], gap=0.5)
        finally:
            os.close(reader)
        self.assertEqual(proc.returncode, 1)
        self.assertLess(elapsed, BOUND)

    def test_a_second_signal_ends_the_run_at_once(self):
        for mode, args in MODES.items():
            with self.subTest(mode=mode):
                self.interrupt("twice-" + mode, ["-v"] + args, b" >> DATA", [signal.SIGTERM, signal.SIGTERM])


class WorstMoments(unittest.TestCase):
    def setUp(self):
        self.work = os.path.realpath(tooltest.case_dir(self, SCRATCH))
        tooltest.put(self.work, "TWO.TRE", make_fixtures.tre([("ONE.BIN", b"new one"), ("TWO.BIN", b"new two")]))
        self.out = os.path.join(self.work, "out")
        os.makedirs(self.out)
        self.env = dict(os.environ, LD_PRELOAD=tooltest.preload(TOOL, TRAP), TRAP_DIR=self.out)

    def test_a_signal_as_a_file_is_closed_keeps_it_from_its_name(self):
        tooltest.put(self.out, "ONE.BIN", b"old one")
        self.env["TRAP_QUIT_AT_CLOSE"] = "1"
        status, out = tooltest.run(TOOL, ["-e", "TWO.TRE", "out"], self.work, env=self.env)
        self.assertEqual(status, 1, out)
        self.assertIn("ERROR: Interrupted!\n", out)
        self.assertEqual(tooltest.files_under(self.out), {"ONE.BIN": b"old one"}, out)

    def test_a_second_signal_removes_no_file_of_someone_else(self):
        self.env["TRAP_TAKE_NAME"] = "1"
        proc = subprocess.Popen([TOOL, "-e", "TWO.TRE", "out"], cwd=self.work, env=self.env,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        taken = proc.stderr.readline().decode().split(" ", 1)[1].strip()
        proc.send_signal(signal.SIGINT)
        proc.send_signal(signal.SIGTERM)
        out, _ = proc.communicate(timeout=60)
        self.assertEqual(proc.returncode, 1, out)
        with open(taken, "rb") as f:
            self.assertEqual(f.read(), b"theirs")
        left = tooltest.files_under(self.out)
        self.assertEqual(left, {os.path.basename(taken): b"theirs"}, out)


def on_terminal(args, cwd, env):
    """The tool run with a pseudo-terminal as its output (lines go out as they are printed): its
    status and what it printed."""
    master, slave = os.openpty()
    proc = subprocess.Popen([TOOL] + args, cwd=cwd, env=env, stdout=slave, stderr=slave)
    os.close(slave)
    out = b""
    while True:
        try:
            chunk = os.read(master, 65536)
        except OSError:
            break
        if not chunk:
            break
        out += chunk
    os.close(master)
    return proc.wait(timeout=60), out.decode("latin-1").replace("\r\n", "\n")


class SaidOnce(unittest.TestCase):
    """A second signal right after the first's line is written, or a signal as a lone document is
    converted: "ERROR: Interrupted!" comes once, and never a write failure in its place."""

    def setUp(self):
        self.work = tooltest.case_dir(self, SCRATCH)
        self.env = dict(os.environ, LD_PRELOAD=tooltest.preload(TOOL, TRAP))

    def quit_after(self, text, args):
        self.env["TRAP_QUIT_AFTER_TEXT"] = text
        status, out = on_terminal(args, self.work, self.env)
        self.assertEqual(status, 1, out)
        self.assertEqual(out.count("ERROR: Interrupted!\n"), 1, out)
        self.assertNotIn("Write failure", out)
        return out

    def test_a_second_signal_after_the_line_does_not_say_it_again(self):
        tooltest.put(self.work, "TWO.TRE", make_fixtures.tre([("ONE.BIN", b"one"), ("TWO.BIN", b"two")]))
        self.env["TRAP_QUIT_AT_CLOSE"] = "1"
        self.env["TRAP_DIR"] = os.path.join(os.path.realpath(self.work), "out")
        os.makedirs(self.env["TRAP_DIR"])
        self.quit_after("ERROR: Interrupted!", ["-e", "TWO.TRE", "out"])

    def test_a_lone_document_cut_short_says_so(self):
        nest = make_fixtures.iff_chunk(b"INFO", b"x")
        for _ in range(200):
            nest = make_fixtures.iff_form(b"NEST", nest)
        # Its text is many times its size: made again as it is written, not kept from open.
        documents = {"DEEP.IFF": make_fixtures.iff_form(b"DEEP", nest),
                     "TALK.PFC": make_fixtures.pfc_dialogue("PILOT", "", "DECK", 5, 0, "A line.", 0)}
        for name, data in documents.items():
            with self.subTest(name=name):
                tooltest.put(self.work, name, data)
                shutil.rmtree(os.path.join(self.work, "out"), ignore_errors=True)
                self.quit_after(" >> ", ["-vv", "-e", name, "out"])
                self.assertEqual(os.listdir(os.path.join(self.work, "out")), [])
                status, out = tooltest.run(TOOL, ["-e", name, "out"], self.work)
                self.assertEqual(status, 0, out)
                with open(os.path.join(self.work, "out", name + ".xml"), "ab") as f:
                    f.write(b"\n")
                self.quit_after("Repacking contents...", ["-r", name, "out"])
                self.assertFalse([f for f in os.listdir(self.work) if f.startswith("output")])


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
