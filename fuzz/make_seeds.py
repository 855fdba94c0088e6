#!/usr/bin/env python3
"""Writes the small seed corpora under fuzz/corpus/<target>/ (committed; run again only to change them).
  fuzz/make_seeds.py [TARGET...]    (no target: all of them)

Archives are built here from the formats themselves or taken from the test-archive generator
(tests/fixtures/make_fixtures.py), never written with the tool's own writers.
LZW streams come from Pillow's GIF encoder, implode streams from node-pkware and RefPack streams
from qfs-compression, the outside programs the codec tests use as judges; LZSS streams from the
test-archive generator's encoder. The XML seeds of the edit targets are the tool's own extraction of
documents built here or by the generator ($MORDAX, else the newest build/*/MORDAX). A target whose generator is
missing keeps its old seeds.
"""
import os
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.dirname(HERE)
CORPUS = os.path.join(HERE, "corpus")


# Targets named on the command line, or every one.
WANTED = set()


def wanted(target):
    return not WANTED or target in WANTED


def put(target, name, data):
    if not wanted(target):
        return
    d = os.path.join(CORPUS, target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), "wb") as f:
        f.write(data)


def tre(entries, gap=b""):
    """Classic TRE: count, header size, 74-byte entries (flag 1, 65-byte name, offset, size), gap, data."""
    header = 8 + 74 * len(entries) + len(gap)
    table, body, offset = b"", b"", header
    for name, data in entries:
        table += b"\x01" + name.ljust(65, b"\0") + struct.pack("<II", offset, len(data))
        body += data
        offset += len(data)
    return struct.pack("<II", len(entries), header) + table + gap + body


def tre_seeds():
    put("tre", "two_files", tre([(b"DATA\\README.TXT", b"hello, world\n"), (b"C:\\GAME\\X.IFF", b"FORM\0\0\0\4TEST")]))
    put("tre", "gap", tre([(b"..\\..\\DATA\\A.BIN", bytes(range(40)))], gap=b"GAPDATA!" * 3))
    inner = tre([(b"INNER\\ONE.TXT", b"one"), (b"INNER\\TWO.TXT", b"two two")])
    put("tre", "nested", tre([(b"..\\SUB.TRE", inner), (b"TOP.TXT", b"top level")]))
    put("tre", "empty_last", tre([(b"A.TXT", b"abc"), (b"EMPTY.TXT", b"")]))


def tree_seeds():
    """Names that meet on disk once made safe, and names the round trip's scratch directory holds as links."""
    put("tretree", "collisions", tre([(b"A\\B.BIN", b"one"), (b"A/./B.BIN", b"two"), (b"A//B.BIN", b"three"),
                                      (b"ABC\0after", b"bytes after the NUL"), (b"ABC", b"plain"),
                                      (b"", b"no name"), (b"_000", b"a real _000"), (b"DIR", b"a file"),
                                      (b"DIR\\IN.BIN", b"needs the folder"), (b"case.bin", b"lower"),
                                      (b"CASE.BIN", b"upper"), (b"NOEXT", b"x"), (b"NOEXT", b"y")]))
    inner = tre([(b"IN.TXT", b"inside a nested archive")])
    put("tretree", "links", tre([(b"LINK.BIN", b"in the place of a link"), (b"LINK\\X.BIN", b"below a link"),
                                 (b"LINK.TRE", inner), (b"OK.TXT", b"written")]))


def voc(blocks, header=(26, 0x010A, 0x1129)):
    """Creative Voice file: magic, header words, then (type, payload) blocks; type 0 is one byte."""
    out = b"Creative Voice File\x1a" + struct.pack("<HHH", *header)
    for kind, payload in blocks:
        out += bytes([kind]) if kind == 0 else bytes([kind]) + struct.pack("<I", len(payload))[:3] + payload
    return out


def voc_seeds():
    ramp = bytes(128 + (i * 7) % 61 - 30 for i in range(300))
    put("voc", "sound", voc([(1, bytes([166, 0]) + ramp), (0, b"")]))
    put("voc", "blocks", voc([(5, b"made by hand\0"), (1, bytes([131, 0]) + ramp[:90]), (2, ramp[:20]),
                              (3, bytes([0x10, 0x20, 0xA6])), (9, b"unknown"), (0, b"")]))
    put("voc", "unterminated", voc([(1, bytes([0, 0]) + ramp[:40])]))
    put("voc", "adpcm", voc([(1, bytes([166, 4]) + ramp[:30]), (0, b"")], header=(26, 0x0114, 0x111F)))


def pfc_name(name):
    return name.ljust(9, b"\0")


def pfc_seeds():
    """Dialogue tables: 0 Dialogue, 4 Cutaway, 7 Branch (first option), 5 next option, 8 end of branch."""
    def dialogue(speaker, line, delay=1):
        return b"\0" + pfc_name(speaker) + pfc_name(b"CALM") + pfc_name(b"BAR") + struct.pack("<HH", delay, 0) + line + b"\0\1"

    def cutaway(background, line):
        return b"\4" + pfc_name(background) + struct.pack("<HB", 5, 1) + line + b"\0"

    def branch(speaker):
        return b"\7" + pfc_name(speaker) + pfc_name(b"BAR") + struct.pack("<HH", 2, 3)

    put("pfc", "table", dialogue(b"PILOT", b"Hello there.") + branch(b"TOWER") + cutaway(b"SPACE", b"  Outside  ")
        + b"\5" + dialogue(b"TOWER", b'"Quoted" & > fine', 70) + b"\5\x08" + cutaway(b"HANGAR", b""))
    put("pfc", "nested", branch(b"OUTER") + dialogue(b"A", b"first") + b"\5" + branch(b"INNER") + cutaway(b"I", b"x")
        + b"\5" + dialogue(b"B", b"y") + b"\x08\x08" + dialogue(b"TOP", b"again"))
    put("pfc", "raw", dialogue(b"A", b"x") + b"\3" + branch(b"OPEN") + cutaway(b"<", b"a <b>") + b"\x08\5\x08"
        + dialogue(b"CUT", b"short")[:-3])
    put("pfc", "edited", b'<PFC Version="1">\n <Dialogue speaker="OPSTWO" delay="3">\n  "Hey!"\n </Dialogue>\n'
        b' <Branch speaker="S"><Option><Cutaway unk1="255">\'a\'</Cutaway></Option><Option/></Branch>\n</PFC>\n')


def wav_seeds():
    """WAV files from Python's wave module: 8-bit mono, 16-bit stereo, and 16-bit mono at a far rate."""
    import io
    import wave
    sounds = [("mono8", 1, 1, 11111, bytes(range(0, 256, 3))),
              ("stereo16", 2, 2, 22050, struct.pack("<80h", *range(-4000, 4000, 100))),
              ("mono16_far", 1, 2, 300, struct.pack("<40h", *range(-20000, 20000, 1000)))]
    for name, channels, width, rate, frames in sounds:
        out = io.BytesIO()
        with wave.open(out, "wb") as w:
            w.setnchannels(channels)
            w.setsampwidth(width)
            w.setframerate(rate)
            w.writeframes(frames)
        put("wav", name, out.getvalue())


def package(version, entries, key=b""):
    """VFS package: entry bytes, table of contents, u32 table length; a key XORs the table, the length and each
    entry from its own start."""
    def xor(data):
        return bytes(b ^ key[i % len(key)] for i, b in enumerate(data)) if key else data
    data, offsets = b"", []
    for _, body in entries:
        offsets.append(len(data))
        data += xor(body)
    if version == 1:
        toc = b"\x01" + b"".join(struct.pack("<I", o) + n + b"\0" for o, (n, _) in zip(offsets, entries))
    else:
        toc = b"\x02" + struct.pack("<I", offsets[0] if offsets else 0)
        for i, (name, body) in enumerate(entries):
            toc += struct.pack("<IB", len(body), 0) + name + b"\0"
            if i + 1 < len(entries):
                toc += struct.pack("<I", offsets[i + 1])
    return data + xor(toc) + xor(struct.pack("<I", len(toc)))


def package_seeds():
    files = [(b"readme.txt", b"hello, package\n"), (b"data/ships/fighter.iff", b"FORM\0\0\0\4SHIP"), (b"x/empty", b"")]
    put("package", "v1", package(1, files))
    put("package", "v2", package(2, files))
    # The target's second reading takes the file's first three bytes as the key: an entry that begins with
    # three zero bytes stores the key itself there.
    put("package", "v2_keyed", package(2, [(b"ab", b"\0\0\0abcdef"), (b"c/d", b"0123")], key=b"\x5a\xa5\x3c"))
    put("package", "v1_unnamed_head", package(1, [(b"", b"head"), (b"tail", b"rest")]))


def iff_chunk(cid, body, pad=0):
    out = cid + struct.pack(">I", len(body)) + body
    return out + bytes([pad]) if len(body) % 2 else out


def iff_form(ftype, content, cid=b"FORM"):
    body = ftype + content
    out = cid + struct.pack(">I", len(body)) + body
    return out + b"\0" if len(body) % 2 else out


def iff_seeds():
    missl = iff_form(b"MISL", iff_chunk(b"DATA", b"HELLO\0") + iff_chunk(b"ODD ", b"abc", 0x7F))
    put("iff", "nested", iff_form(b"REAL", iff_form(b"OBJT", missl) + iff_chunk(b"AB\0\0", b"WORD1 X")))
    put("iff", "lists", iff_form(b"TOPS", iff_form(b"ABCD", iff_chunk(b"ONE ", b"1"), b"CAT ")
                                 + iff_form(b"LSTY", iff_chunk(b"TWO ", b"22"), b"LIST")
                                 + b"LIST" + struct.pack(">I", 8) + b"A\xffCDWXYZ"))
    # A "TABL" at 12: offsets of records, each a little-endian length and its bytes.
    records = [iff_form(b"RECA", iff_chunk(b"X   ", b"0")), iff_form(b"RECB", b"")]
    offsets, area, at = b"", b"", 12 + 8 + 4 * (len(records) + 1)
    for r in records:
        offsets += struct.pack("<I", at)
        area += struct.pack("<I", len(r)) + r
        at += 4 + len(r)
    tabl = b"TABL" + struct.pack(">I", 4 * (len(records) + 1)) + offsets + struct.pack("<I", 0) + area
    put("iff", "tables", b"FORM" + struct.pack(">I", 4 + len(tabl)) + b"TBLS" + tabl)
    # RefPack literal runs: 0xE1 copies 8 bytes, 0xFC ends.
    packed = b"\x10\xfb\x00\x00\x08\xe1abcdefgh\xfc"
    put("iff", "packed", iff_form(b"PACK", iff_chunk(b"TEXT", packed) + iff_chunk(b"LZWX", b"LZ\x03\x00\x00\x00\x00\x83")))
    # Weapon loadouts whose chunks convert as records.
    fgtr = iff_form(b"FGTR", iff_chunk(b"GUNS", b"\1" + bytes(8) + b"LASER\0\0\0" + bytes(13))
                    + iff_chunk(b"SPCL", b"") + iff_chunk(b"MISL", bytes(4) + b"SPIKE" + bytes(20))
                    + iff_chunk(b"DECY", b"\4\0\0\0CHAFF\0\0\0") + iff_chunk(b"TURT", b"REAR" + bytes(39)))
    cptl = iff_form(b"CPTL", iff_chunk(b"TURT", bytes(4) + b"DOME" + bytes(48))
                    + iff_chunk(b"MISL", b"TORP" + bytes(21)))
    put("iff", "weapons", iff_form(b"SHIP", iff_form(b"WEAP", fgtr + cptl)))
    put("iff", "riff", b"RIFF" + struct.pack("<I", 26) + b"WAVEfmt " + struct.pack("<I", 2) + b"abRIFX"
        + struct.pack("<I", 4) + b"abcd")


# The documents the edit targets lay the input over, as fuzz/targets/RepackTargets.cpp builds them: a cargo
# crate (IFF) and a dock dialogue (PFC), each alone in a classic TRE.
def crate_document():
    info = iff_chunk(b"NAME", b"Crate of spare parts\0") + iff_chunk(b"MASS", b"\x10\x27\x00\x00")
    packed = b"\x10\xfb\x00\x00\x08\xe1abcdefgh\xfc"
    return iff_form(b"CRAT", iff_form(b"INFO", info) + iff_chunk(b"TEXT", packed) + iff_chunk(b"DATA", b"\1\2\3"))


def dock_table():
    def dialogue(speaker, expression, line, delay):
        return (b"\0" + pfc_name(speaker) + pfc_name(expression) + pfc_name(b"DOCK") + struct.pack("<HH", delay, 0)
                + line + b"\0\1")
    branch = b"\7" + pfc_name(b"DOCKHAND") + pfc_name(b"DOCK") + struct.pack("<HH", 1, 2)
    cutaway = b"\4" + pfc_name(b"DOCK") + struct.pack("<HB", 5, 1) + b"The bay doors close.\0"
    return (dialogue(b"DOCKHAND", b"GRIN", b"Cargo is aboard.", 30) + branch + cutaway
            + b"\5" + dialogue(b"PILOT", b"", b"Thanks.", 1) + b"\x08")


def find_tool():
    """The tool that extracts the XML seeds: $MORDAX, else the newest build/*/MORDAX."""
    if os.environ.get("MORDAX"):
        return os.environ["MORDAX"]
    builds = os.path.join(TOP, "build")
    found = [os.path.join(builds, d, "MORDAX") for d in os.listdir(builds)] if os.path.isdir(builds) else []
    found = [f for f in found if os.access(f, os.X_OK)]
    return max(found, key=os.path.getmtime) if found else None


def extracted_xml(tool, archive, tmp):
    """The XML files the tool extracts from the archive: (path below the tree, text)."""
    out = os.path.join(tmp, "x_" + os.path.basename(archive))
    subprocess.run([tool, "-e", archive, out], check=True, stdout=subprocess.DEVNULL)
    files = []
    for folder, _, names in os.walk(out):
        for name in sorted(names):
            if name.lower().endswith(".xml"):
                path = os.path.join(folder, name)
                with open(path, "rb") as f:
                    files.append((os.path.relpath(path, out), f.read()))
    return sorted(files)


def edit_seeds():
    """XML a user hands back: the tool's own extraction of the edit targets' documents, unedited and edited, and
    of the generator's IFF and PFC fixtures, each of which then stands in for the target's document whole."""
    if not (wanted("iffedit") or wanted("pfcedit")):
        return
    tool = find_tool()
    if not tool:
        print("edit seeds skipped: no built tool (build/*/MORDAX or $MORDAX)")
        return
    with tempfile.TemporaryDirectory() as tmp:
        archive = os.path.join(tmp, "EDIT.TRE")
        with open(archive, "wb") as f:
            f.write(tre([(b"CARGO\\CRATE.IFF", crate_document()), (b"TALK\\DOCK.PFC", dock_table())]))
        own = dict(extracted_xml(tool, archive, tmp))
        crate, dock = own[os.path.join("CARGO", "CRATE.IFF.xml")], own[os.path.join("TALK", "DOCK.PFC.xml")]
        put("iffedit", "unedited", crate)
        put("iffedit", "edited", crate.replace(b"spare", b"loose").replace(b"0x10 0x27", b"0x20 0x4E"))
        put("pfcedit", "unedited", dock)
        put("pfcedit", "edited", dock.replace(b"Thanks.", b"Thank you, chief.").replace(b'delay="30"', b'delay="45"'))
        script = os.path.join(TOP, "tests", "fixtures", "make_fixtures.py")
        if not os.path.exists(script):
            print("fixture XML seeds skipped: no generator")
            return
        fixtures = ["tre_iff", "tre_iff_schemas", "tre_weapons", "tre_pfc"]
        made = os.path.join(tmp, "fixtures")
        args = [sys.executable, "-B", script]
        for name in fixtures:
            args += ["--only", name]
        subprocess.run(args + [made], check=True, stdout=subprocess.DEVNULL)
        for fixture in fixtures:
            folder = os.path.join(made, fixture)
            for file in sorted(os.listdir(folder)):
                if not file.upper().endswith(".TRE"):
                    continue
                for path, text in extracted_xml(tool, os.path.join(folder, file), tmp):
                    # The archive's own documents; those of its nested archives add nothing new.
                    if ".TRE" + os.sep in path.upper():
                        continue
                    target = "pfcedit" if text.lstrip().startswith(b"<PFC") else "iffedit"
                    seed = fixture + "_" + path.replace(os.sep, "_")[:-len(".xml")]
                    put(target, seed, text)


def text_seeds():
    put("xml", "document", b'<?xml version="1.0"?>\n<IFF Version="1">\n <FORM Name="TEST">\n'
        b'  <CHUNK Name="DATA" Size="4">00 01 02 03</CHUNK>\n </FORM>\n</IFF>\n')
    put("xml", "attributes", b'<root a="x < y > z / w = v" b = "  spaced  ">\n <empty/>\n'
        b' <text>value</text>\n <!-- a comment -->\n</root>\n<second/>\n')
    put("xml", "nested", b"<a>" * 20 + b"deep" + b"</a>" * 20)
    put("config", "plain", b"common.log.filename = mordax.log\ncommon.log.level = info\nname = 'single'\n"
        b"# comment line\nquoted = \"  inner  \"\r\nk=a=b\n")
    put("config", "sections", b"a.b.c.d = 1\nA.B.x = 2\n a . b = spaced\nempty =\n\"\" = \"\"\n")
    put("reader", "words", bytes(range(256)))
    put("reader", "script", bytes([4, 16, 0, 0, 0, 0, 0, 0, 0, 2, 10, 11, 6, 255, 255, 255, 255, 255, 255,
                                   255, 255, 5, 3, 0, 0, 0, 0, 0, 0, 0, 9, 8, 3, 200, 7, 1]) + b"payload" * 8)


def sample_bytes():
    text = b"The quick brown fox jumps over the lazy dog. " * 12
    ramp = bytes((i * 7) & 255 for i in range(700))
    runs = b"A" * 300 + b"B" * 5 + bytes(range(256))
    return {"text": text, "ramp": ramp, "runs": runs}


def lzw_seeds():
    try:
        sys.path.insert(0, "/usr/lib/python3/dist-packages")
        sys.path.insert(0, os.path.join(TOP, "tests", "gamedata", "codecs", "oracles"))
        import io
        from PIL import Image
        import gif
    except ImportError as e:
        print("lzw seeds skipped:", e)
        return
    for name, raw in sample_bytes().items():
        width = len(raw)
        image = Image.frombytes("P", (width, 1), raw)
        image.putpalette(gif.palette())
        out = io.BytesIO()
        image.save(out, "GIF")
        stream, code_size = gif.image_stream(out.getvalue())
        assert code_size == 8
        put("lzw", name, struct.pack("<I", len(raw)) + stream)


def implode_seeds():
    modules = os.path.join(TOP, "tests", "oracles", "node_modules")
    script = os.path.join(TOP, "tests", "gamedata", "codecs", "oracles", "pkware.mjs")
    if not os.path.isdir(os.path.join(modules, "node-pkware")):
        print("implode seeds skipped: node-pkware is not installed (scripts/setup.sh test)")
        return
    with tempfile.TemporaryDirectory() as tmp:
        for (name, raw), (kind, dictionary) in zip(sample_bytes().items(),
                                                   [("ascii", "1024"), ("binary", "2048"), ("binary", "4096")]):
            src, dst = os.path.join(tmp, "in"), os.path.join(tmp, "out")
            with open(src, "wb") as f:
                f.write(raw)
            subprocess.run(["node", script, "implode", kind, dictionary, src, dst], check=True,
                           env=dict(os.environ, MORDAX_ORACLE_MODULES=modules))
            with open(dst, "rb") as f:
                put("implode", name, struct.pack("<I", len(raw)) + f.read())


# Generated test archives that seed each archive target: (target, fixture name).
FIXTURE_SEEDS = [
    ("tre", "tre_shared"), ("tre", "tre_hostile"), ("tre", "tre_pak_pak"), ("tre", "tre_pfc"),
    ("crctre", "crctre_stored"), ("crctre", "crctre_paths"), ("crctre", "crctre_hostile"),
    ("crctre", "crctre_crcmismatch"), ("crctre", "crctre_packed"),
    ("pak", "pak_tiny"), ("pak", "pak_shapes"), ("pak", "pak_badstream"), ("pak", "pak_nested"),
    ("pak", "pak_variant1"), ("pak", "pak_mixed"), ("pak", "pak_implode"), ("pak", "pak_lzw_endcode"),
    ("pak", "pak_tre_pak"), ("pak", "pak_accpack"),
    ("vpk", "pak_vpk"), ("vpk", "pak_vpf"), ("vpk", "pak_dsoundfx"), ("vpk", "pak_speech"),
    ("mpk", "pak_mpk"), ("mpk", "pak_adl"), ("mpk", "pak_gen"), ("mpk", "pak_mid"),
    ("xtre", "xtre_gameflow"), ("xtre", "xtre_cd1miss"), ("xtre", "xtre_sets"), ("xtre", "xtre_hostile"),
    ("xtre", "xtre_pak"),
    # The extract-and-repack round trips: converted documents (IFF, PFC, VOC), nested archives, names that
    # collide or climb out, packed entries and name sets.
    ("tretree", "tre_plain"), ("tretree", "tre_nested"), ("tretree", "tre_shared"), ("tretree", "tre_hostile"),
    ("tretree", "tre_drive"), ("tretree", "tre_longname"), ("tretree", "tre_gap"), ("tretree", "tre_iff"),
    ("tretree", "tre_iff_schemas"), ("tretree", "tre_weapons"), ("tretree", "tre_pfc"), ("tretree", "tre_voc"),
    ("tretree", "tre_pak_pak"),
    ("crctretree", "crctre_stored"), ("crctretree", "crctre_paths"), ("crctretree", "crctre_hostile"),
    ("crctretree", "crctre_crcmismatch"), ("crctretree", "crctre_packed"),
    ("xtretree", "xtre_gameflow"), ("xtretree", "xtre_cd1miss"), ("xtretree", "xtre_sets"),
    ("xtretree", "xtre_hostile"), ("xtretree", "xtre_pak"),
    ("paktree", "pak_plain"), ("paktree", "pak_mixed"), ("paktree", "pak_nested"), ("paktree", "pak_naming"),
    ("paktree", "pak_tre_pak"), ("paktree", "pak_implode"), ("paktree", "pak_shapes"), ("paktree", "pak_tiny"),
]


def fixture_seeds():
    script = os.path.join(TOP, "tests", "fixtures", "make_fixtures.py")
    if not os.path.exists(script):
        print("archive fixture seeds skipped: no generator")
        return
    seeds = [(target, name) for target, name in FIXTURE_SEEDS if wanted(target)]
    if not seeds:
        return
    with tempfile.TemporaryDirectory() as tmp:
        names = sorted({name for _, name in seeds})
        args = [sys.executable, "-B", script]
        for name in names:
            args += ["--only", name]
        subprocess.run(args + [tmp], check=True)
        for target, name in seeds:
            folder = os.path.join(tmp, name)
            for file in os.listdir(folder):
                with open(os.path.join(folder, file), "rb") as f:
                    put(target, name, f.read())


def refpack_seeds():
    module = os.path.join(TOP, "tests", "oracles", "node_modules", "qfs-compression")
    if not os.path.isdir(module):
        print("refpack seeds skipped: qfs-compression is not installed (scripts/setup.sh test)")
        return
    with tempfile.TemporaryDirectory() as tmp:
        for name, raw in sample_bytes().items():
            src, dst = os.path.join(tmp, "in"), os.path.join(tmp, "out")
            with open(src, "wb") as f:
                f.write(raw)
            subprocess.run(["node", "-e", "const q=require(process.argv[1]),fs=require('fs');"
                            "fs.writeFileSync(process.argv[3],q.compress(fs.readFileSync(process.argv[2])))",
                            module, src, dst], check=True)
            with open(dst, "rb") as f:
                framed = f.read()
            # qfs-compression frames the stream with a 5-byte header; the codec reads the bare stream.
            put("refpack", name, struct.pack("<I", len(raw)) + framed[5:])


def lzss_seeds():
    sys.path.insert(0, os.path.join(TOP, "tests", "fixtures"))
    try:
        import fixture_codecs
    except ImportError as e:
        print("lzss seeds skipped:", e)
        return
    for name, raw in sample_bytes().items():
        put("lzss", name, struct.pack("<I", len(raw)) + fixture_codecs.lzss_encode(raw))


def lzwx_seeds():
    sys.path.insert(0, os.path.join(TOP, "tests", "fixtures"))
    try:
        import fixture_codecs
    except ImportError as e:
        print("lzwx seeds skipped:", e)
        return
    for name, raw in sample_bytes().items():
        put("lzwx", name, struct.pack("<I", len(raw)) + fixture_codecs.lzwx_encode(raw))


if __name__ == "__main__":
    WANTED.update(sys.argv[1:])
    fixture_seeds()
    tree_seeds()
    edit_seeds()
    tre_seeds()
    voc_seeds()
    pfc_seeds()
    wav_seeds()
    package_seeds()
    iff_seeds()
    text_seeds()
    lzw_seeds()
    implode_seeds()
    refpack_seeds()
    lzss_seeds()
    lzwx_seeds()
