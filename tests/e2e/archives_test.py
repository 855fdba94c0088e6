#!/usr/bin/env python3
"""Runs the tool over every generated test archive of the given formats and judges the results
with outside programs: md5sum for extracted files, xmllint for extracted XML, cmp-style byte
comparison for rewrites.

Usage: archives_test.py TOOL FIXTURES_DIR SCRATCH_DIR FORMAT...
"""
import hashlib
import json
import os
import shutil
import subprocess
import sys
import unittest
import wave

TOOL, FIXTURES, SCRATCH = sys.argv[1:4]
FORMATS = set(sys.argv[4:])


def run(args, cwd):
    p = subprocess.run([TOOL] + args, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=120)
    out = p.stdout.decode("latin-1")
    # The first line is the banner.
    return p.returncode, out.split("\n", 1)[1] if "\n" in out else ""


def load_index():
    rows = []
    with open(os.path.join(FIXTURES, "index.tsv")) as f:
        for line in f:
            if line.startswith("#") or not line.strip():
                continue
            name, fmt, archive, opens, rewrite, files = line.rstrip("\n").split("\t")
            if fmt in FORMATS:
                with open(os.path.join(FIXTURES, name + ".json")) as j:
                    m = json.load(j)
                if formats_in(m["container"]) <= FORMATS:
                    rows.append(m)
    return rows


def formats_in(container):
    if not container:
        return set()
    found = {container["format"]}
    for e in container["entries"]:
        if "nested" in e:
            found |= formats_in(e["nested"])
    return found


def listing(container, indent=0):
    lines = []
    for e in container["entries"]:
        size = e["size"]
        lines.append(" " * indent + "%s (%u byte%s)" % (e["name"], size, "" if size == 1 else "s"))
        if "nested" in e:
            lines += listing(e["nested"], indent + 1)
        if "iff" in e:
            pad = " " * (indent + 1)
            lines += [pad + "Interchange File Format"] + [pad + note for note in e["iff"]["notes"]]
        if "table" in e:
            lines.append(" " * (indent + 1) + "PFC Dialogue Table")
        if "sound" in e:
            pad = " " * (indent + 1)
            lines += [pad + "VOC Audio (Mono, U8)", pad + " - Samples: %u" % e["sound"]["samples"],
                      pad + " - Sample rate: %u Hz" % e["sound"]["rate"]]
    if indent == 0:
        n = len(container["entries"])
        total = sum(e["size"] for e in container["entries"])
        lines.append("Done. %u file%s, %u byte%s total." % (n, "" if n == 1 else "s", total, "" if total == 1 else "s"))
    return lines


def md5_of(path):
    with open(path, "rb") as f:
        return hashlib.md5(f.read()).hexdigest()


def converted(f):
    """Whether an extracted file is written in another form than the entry's bytes."""
    return "xml" in f or "sound" in f or bool(f.get("table", {}).get("xml"))


def tree(root):
    found = []
    for base, dirs, files in os.walk(root):
        for name in dirs + files:
            found.append(os.path.relpath(os.path.join(base, name), root))
    return sorted(found)


class Archives(unittest.TestCase):
    def workdir(self, m, tag):
        work = os.path.join(SCRATCH, m["name"] + "-" + tag)
        shutil.rmtree(work, ignore_errors=True)
        os.makedirs(work)
        shutil.copy(os.path.join(FIXTURES, m["archive"]), os.path.join(work, m["file"]))
        return work

    def test_list(self):
        for m in load_index():
            with self.subTest(archive=m["name"]):
                work = self.workdir(m, "list")
                status, body = run([m["file"]], work)
                if not m["opens"]:
                    self.assertEqual(status, 1, body)
                    if m["error"]:
                        self.assertIn(m["error"], body)
                    continue
                self.assertEqual(status, 0, body)
                self.assertIn("Listing contents:\n", body)
                shown = body.split("Listing contents:\n", 1)[1].split("\n")
                shown = [l for l in shown if l and not l.startswith("ERROR:") and l != "Reading files..."]
                self.assertEqual(shown, listing(m["container"]))

    def test_extract_stays_inside_and_matches_md5sum(self):
        for m in load_index():
            if not m["opens"]:
                continue
            with self.subTest(archive=m["name"]):
                work = self.workdir(m, "extract")
                status, body = run(["-e", "-n", m["file"], "out"], work)
                self.assertEqual(status, 0, body)
                self.assertIn("Done. Extracted ", body)
                # Nothing but the archive and the output directory may appear.
                self.assertEqual(sorted(os.listdir(work)), sorted([m["file"], "out"]))
                sums = os.path.join(FIXTURES, m["name"] + ".md5")
                if os.path.getsize(sums):
                    check = subprocess.run(["md5sum", "--quiet", "-c", sums], cwd=os.path.join(work, "out"),
                                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
                    self.assertEqual(check.returncode, 0, check.stdout.decode("latin-1"))
                expected = sorted(set([f["path"] for f in m["files"]] + m.get("dirs", [])))
                written = [p for p in tree(os.path.join(work, "out"))]
                for p in expected:
                    self.assertIn(p, written)

    def test_voc_entries_extract_as_wav_judged_by_the_wave_module(self):
        for m in load_index():
            sounds = [f for f in m["files"] if "sound" in f]
            if not m["opens"] or not sounds:
                continue
            with self.subTest(archive=m["name"]):
                work = self.workdir(m, "wav")
                status, body = run(["-e", m["file"], "out"], work)
                self.assertEqual(status, 0, body)
                out = os.path.join(work, "out")
                for f in m["files"]:
                    if "xml" in f:
                        self.assertTrue(os.path.exists(os.path.join(out, f["xml"])), f["xml"])
                        continue
                    if "sound" not in f:
                        # Plain entries, and VOC data that would not convert back, stay raw.
                        self.assertEqual(md5_of(os.path.join(out, f["path"])), f["md5"], f["path"])
                        continue
                    s = f["sound"]
                    self.assertFalse(os.path.exists(os.path.join(out, f["path"])), f["path"])
                    with wave.open(os.path.join(out, s["wav"]), "rb") as w:
                        self.assertEqual((w.getnchannels(), w.getsampwidth(), w.getframerate(), w.getnframes(),
                                          w.getcomptype()), (1, 1, s["rate"], s["samples"], "NONE"), s["wav"])
                        self.assertEqual(hashlib.md5(w.readframes(w.getnframes())).hexdigest(), s["md5"], s["wav"])

    def test_every_extracted_xml_file_is_well_formed(self):
        # Every XML file the tool writes (IFF documents and dialogue tables, nested ones included)
        # must be well-formed whatever bytes its entry holds: xmllint judges them all.
        for m in load_index():
            if not m["opens"]:
                continue
            with self.subTest(archive=m["name"]):
                work = self.workdir(m, "lint")
                status, body = run(["-e", m["file"], "out"], work)
                self.assertEqual(status, 0, body)
                out = os.path.join(work, "out")
                docs = [p for p in tree(out) if p.endswith(".xml") and os.path.isfile(os.path.join(out, p))]
                expected = [f["xml"] for f in m["files"] if "xml" in f]
                expected += [f["table"]["xml"] for f in m["files"] if f.get("table", {}).get("xml")]
                self.assertEqual(sorted(set(expected) - set(docs)), [])
                if docs:
                    lint = subprocess.run(["xmllint", "--noout"] + docs, cwd=out, stdout=subprocess.PIPE,
                                          stderr=subprocess.STDOUT)
                    self.assertEqual((lint.returncode, lint.stdout.decode("latin-1")), (0, ""))

    def test_iff_entries_extract_as_xml(self):
        for m in load_index():
            docs = [f for f in m["files"] if "xml" in f]
            if not m["opens"] or not docs:
                continue
            with self.subTest(archive=m["name"]):
                work = self.workdir(m, "xml")
                status, body = run(["-e", m["file"], "out"], work)
                self.assertEqual(status, 0, body)
                out = os.path.join(work, "out")
                for f in m["files"]:
                    if "xml" in f:
                        self.assertFalse(os.path.exists(os.path.join(out, f["path"])), f["path"])
                        with open(os.path.join(out, f["xml"]), "rb") as x:
                            text = x.read()
                        self.assertTrue(text.startswith(b"<IFF Version=\"1\""), f["xml"])
                    elif not converted(f):
                        # Plain entries, and IFF data whose XML would not rebuild it, stay raw.
                        self.assertEqual(md5_of(os.path.join(out, f["path"])), f["md5"], f["path"])

    def test_iff_records_extract_as_modelled(self):
        # Sector, missile and gun chunks are shown as records; the XML of each such chunk element
        # is known byte for byte, and no other chunk gets a handler.
        for m in load_index():
            docs = [f for f in m["files"] if "xml" in f]
            if not m["opens"] or not docs:
                continue
            with self.subTest(archive=m["name"]):
                work = self.workdir(m, "records")
                status, body = run(["-e", m["file"], "out"], work)
                self.assertEqual(status, 0, body)
                for f in docs:
                    with open(os.path.join(work, "out", f["xml"]), "rb") as x:
                        text = x.read()
                    records = [r.encode("ascii") for r in f.get("records", [])]
                    self.assertEqual(text.count(b' Handler="'), len(records), f["xml"])
                    for r in records:
                        self.assertIn(r, text, f["xml"])

    def test_edited_iff_documents_are_written_back(self):
        for m in load_index():
            docs = [f for f in m["files"] if "xml" in f]
            if not m["opens"] or not docs:
                continue
            with self.subTest(archive=m["name"]):
                work = self.workdir(m, "xmledit")
                status, body = run(["-e", m["file"], "out"], work)
                self.assertEqual(status, 0, body)
                status, body = run(["-e", "-n", m["file"], "raw"], work)
                self.assertEqual(status, 0, body)
                # Chunks that hold a marker word show it as text; it is changed in place.
                expected = {}
                for f in docs:
                    with open(os.path.join(work, "raw", f["path"]), "rb") as r:
                        raw = r.read()
                    if raw.count(b"MARKER") != 1:
                        continue
                    xml_path = os.path.join(work, "out", f["xml"])
                    with open(xml_path, "rb") as x:
                        text = x.read()
                    self.assertEqual(text.count(b"MARKER"), 1, f["xml"])
                    with open(xml_path, "wb") as x:
                        x.write(text.replace(b"MARKER", b"EDITED"))
                    expected[f["path"]] = raw.replace(b"MARKER", b"EDITED")
                if not expected:
                    continue
                status, body = run(["-r", m["file"], "out"], work)
                self.assertEqual(status, 0, body)
                self.assertFalse([l for l in body.split("\n") if l.startswith("ERROR: ")], body)
                ext = m["file"].rsplit(".", 1)[1]
                again = os.path.join(work, "again")
                os.makedirs(again)
                shutil.copy(os.path.join(work, "output." + ext), os.path.join(again, m["file"]))
                status, body = run(["-e", "-n", m["file"], "out"], again)
                self.assertEqual(status, 0, body)
                for f in m["files"]:
                    with open(os.path.join(again, "out", f["path"]), "rb") as r:
                        got = r.read()
                    if f["path"] in expected:
                        self.assertEqual(got, expected[f["path"]], f["path"])
                    else:
                        self.assertEqual(hashlib.md5(got).hexdigest(), f["md5"], f["path"])

    def test_a_broken_iff_document_fails_the_repack(self):
        for m in load_index():
            docs = [f for f in m["files"] if "xml" in f]
            if not m["opens"] or not docs:
                continue
            with self.subTest(archive=m["name"]):
                work = self.workdir(m, "xmlbroken")
                status, body = run(["-e", m["file"], "out"], work)
                self.assertEqual(status, 0, body)
                target = docs[len(docs) // 2]
                path = os.path.join(work, "out", target["xml"])
                with open(path, "rb") as x:
                    text = x.read()
                with open(path, "wb") as x:
                    x.write(text[:len(text) // 2])
                status, body = run(["-r", m["file"], "out"], work)
                self.assertEqual(status, 1, body)
                errors = [l for l in body.split("\n") if l.startswith("ERROR: ")
                          and not l.startswith("ERROR: Container '")]
                # The parser's line, then the one that names the file and says what to do.
                self.assertEqual(len(errors), 2, body)
                self.assertTrue(errors[0].startswith("ERROR: Couldn't parse '"), body)
                self.assertTrue(errors[0].endswith(target["xml"] + "'!"), body)
                self.assertIn(target["xml"] + "' could not be converted back; nothing was written.", errors[1])
                # Nothing is written.
                self.assertEqual(sorted(os.listdir(work)), sorted([m["file"], "out"]))

    def test_pfc_tables_extract_as_xml_and_edits_come_back(self):
        for m in load_index():
            tables = [f for f in m["files"] if f.get("table", {}).get("xml")]
            if not m["opens"] or not tables:
                continue
            with self.subTest(archive=m["name"]):
                work = self.workdir(m, "pfc")
                status, body = run(["-e", m["file"], "out"], work)
                self.assertEqual(status, 0, body)
                out = os.path.join(work, "out")
                for f in m["files"]:
                    xml = f.get("table", {}).get("xml")
                    if not xml:
                        # Plain entries, and tables whose XML would not rebuild them, stay raw.
                        if not converted(f):
                            self.assertEqual(md5_of(os.path.join(out, f["path"])), f["md5"], f["path"])
                        continue
                    self.assertFalse(os.path.exists(os.path.join(out, f["path"])), f["path"])
                    self.assertEqual(md5_of(os.path.join(out, xml)), f["table"]["md5"], xml)

                # One spoken line edited in the XML comes back in the table's bytes, in place.
                status, body = run(["-e", "-n", m["file"], "raw"], work)
                self.assertEqual(status, 0, body)
                target = edit = None
                for f in tables:
                    with open(os.path.join(work, "raw", f["path"]), "rb") as r:
                        raw = r.read()
                    with open(os.path.join(out, f["table"]["xml"]), "rb") as x:
                        lines = x.read().split(b"\n")
                    for i, line in enumerate(lines):
                        text = line.strip()
                        inner = text[1:-1]
                        if (len(text) > 2 and text[:1] == b'"' and text[-1:] == b'"' and inner.isascii()
                                and inner.replace(b" ", b"").isalpha() and raw.count(inner + b"\0") == 1):
                            lines[i] = line.replace(inner, b"Edited by the test")
                            target, edit = f, raw.replace(inner + b"\0", b"Edited by the test\0")
                            break
                    if target:
                        with open(os.path.join(out, f["table"]["xml"]), "wb") as x:
                            x.write(b"\n".join(lines))
                        break
                self.assertIsNotNone(target, "no line to edit")
                status, body = run(["-r", "-o", "edited", m["file"], "out"], work)
                self.assertEqual(status, 0, body)
                self.assertNotIn("ERROR", body)
                ext = m["file"].rsplit(".", 1)[1]
                again = os.path.join(work, "again")
                os.makedirs(again)
                shutil.copy(os.path.join(work, "edited." + ext), os.path.join(again, m["file"]))
                status, body = run(["-e", "-n", m["file"], "out"], again)
                self.assertEqual(status, 0, body)
                for f in m["files"]:
                    got = md5_of(os.path.join(again, "out", f["path"]))
                    want = hashlib.md5(edit).hexdigest() if f is target else f["md5"]
                    self.assertEqual(got, want, f["path"])

    def test_gap_file(self):
        for m in load_index():
            if not m["opens"] or m["format"] != "TRE":
                continue
            with self.subTest(archive=m["name"]):
                work = self.workdir(m, "gap")
                status, body = run(["-e", "-g", "-s", m["file"], "out"], work)
                self.assertEqual(status, 0, body)
                self.assertEqual(md5_of(os.path.join(work, "out", ".GAP")), m["container"]["gap"]["md5"])

    def test_rewrite(self):
        for m in load_index():
            if not m["opens"] or m["rewrite"] == "none":
                continue
            with self.subTest(archive=m["name"]):
                work = self.workdir(m, "rewrite")
                status, body = run(["-w", m["file"]], work)
                ext = m["file"].rsplit(".", 1)[1]
                out = os.path.join(work, "output." + ext)
                if m["rewrite"] == "identical":
                    self.assertEqual(status, 0, body)
                    self.assertIn("Done. All OK; file checksums match.\n", body)
                    self.assertEqual(md5_of(out), m["md5"])
                else:
                    self.assertEqual(status, 0, body)
                    self.assertIn("ERROR: File checksums DO NOT match - reloading & checking content...\n", body)
                    self.assertIn("Done. Content checksums match.\n", body)

    def test_unedited_repack_gives_the_same_archive(self):
        for m in load_index():
            if not m["opens"] or m["rewrite"] != "identical":
                continue
            with self.subTest(archive=m["name"]):
                work = self.workdir(m, "repack")
                status, body = run(["-e", m["file"], "out"], work)
                self.assertEqual(status, 0, body)
                status, body = run(["-r", "-o", "again", m["file"], "out"], work)
                self.assertEqual(status, 0, body)
                # The error lines a damaged archive prints while it opens are expected.
                for line in m["container"].get("errors", []):
                    body = body.replace(line + "\n", "", 1)
                self.assertFalse([l for l in body.split("\n") if l.startswith("ERROR: ")], body)
                ext = m["file"].rsplit(".", 1)[1]
                self.assertEqual(md5_of(os.path.join(work, "again." + ext)), m["md5"])

    def test_edit_one_file_and_repack(self):
        for m in load_index():
            if not m["opens"]:
                continue
            # Same size and leading bytes, so names guessed from content stay the same.
            plain = [f for f in m["files"] if not f.get("doc") and f["size"] > 24]
            if not plain:
                continue
            with self.subTest(archive=m["name"]):
                work = self.workdir(m, "edit")
                status, body = run(["-e", "-n", m["file"], "out"], work)
                self.assertEqual(status, 0, body)
                target = plain[len(plain) // 2]
                with open(os.path.join(work, "out", target["path"]), "rb") as f:
                    edited = bytearray(f.read())
                at = max(20, len(edited) // 2)
                edited[at] ^= 0x5A
                edited = bytes(edited)
                with open(os.path.join(work, "out", target["path"]), "wb") as f:
                    f.write(edited)
                status, body = run(["-r", "-n", m["file"], "out"], work)
                self.assertEqual(status, 0, body)
                ext = m["file"].rsplit(".", 1)[1]
                os.rename(os.path.join(work, "output." + ext), os.path.join(work, "EDITED." + ext))
                # Extract the new archive under the original's name rules.
                again = os.path.join(work, "again")
                os.makedirs(again)
                shutil.copy(os.path.join(work, "EDITED." + ext), os.path.join(again, m["file"]))
                status, body = run(["-e", "-n", m["file"], "out"], again)
                self.assertEqual(status, 0, body)
                for f in m["files"]:
                    got = md5_of(os.path.join(again, "out", f["path"]))
                    if f["path"] == target["path"]:
                        self.assertEqual(got, hashlib.md5(edited).hexdigest(), f["path"])
                    else:
                        self.assertEqual(got, f["md5"], f["path"])


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0], "-v"])
