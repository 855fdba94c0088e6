#!/usr/bin/env python3
"""Text that XML holds only escaped ('&', '<', quotes, tabs, carriage returns, bytes of 0x80 and
above) is written with references that any XML reader turns back into the stored bytes, and XML
the way ordinary tools save it (xmllint --format, Python's xml.etree: a declaration, their own
references, UTF-8, CR LF line ends) is read back as they mean it. So is an edit that XML reads in
a way of its own: processing instructions say nothing, a CDATA section is text like any other,
and text where none belongs, a character XML cannot carry or a document of wide characters is
refused by name.

Usage: escape_test.py TOOL SCRATCH_DIR
"""
import os
import shutil
import subprocess
import sys
import unittest
import xml.etree.ElementTree as ET

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "helpers"))
from tooltest import fixtures as fx  # noqa: E402
import tooltest  # noqa: E402

TOOL, SCRATCH = sys.argv[1:3]

# Every class of byte that needs a reference, in a line and in the names of a dialogue table.
LINE = b'Caf\xe9 & "Rock" <roll> ]]> tab\there\r\nnext \xff'


def table(line):
    return fx.pfc_dialogue(b"CAF\xe9", b"A&B<C>", b'Q"\tT', 1, 0, line, 0) + fx.pfc_cutaway("BAR", 1, 0, "plain words")


# A record of a sector's cast whose names hold such bytes.
SECTOR = fx.iff_form(b"SSSS", fx.iff_chunk(b"CAST", fx.names8(b"CAF\xe9", b"<&>\"'")))


def archive(line):
    return fx.tre([("TALK\\CAFE.PFC", table(line)), ("MAP\\SECTOR.IFF", SECTOR)])


ARCHIVE = archive(LINE)
FILES = {"TALK/CAFE.PFC.xml": "PFC", "MAP/SECTOR.IFF.xml": "IFF"}


class Escape(unittest.TestCase):
    def setUp(self):
        self.work = tooltest.case_dir(self, SCRATCH)
        tooltest.put(self.work, "ESC.TRE", ARCHIVE)
        status, out = tooltest.run(TOOL, ["-e", "ESC.TRE", "out"], self.work)
        self.assertEqual(status, 0, out)

    def path(self, name):
        return os.path.join(self.work, "out", name)

    def repacked(self):
        return tooltest.repacked(self, TOOL, self.work, "ESC.TRE")

    def entry(self, image, name):
        tooltest.put(self.work, "NEW.TRE", image)
        shutil.rmtree(os.path.join(self.work, "back"), ignore_errors=True)
        status, out = tooltest.run(TOOL, ["-e", "-n", "NEW.TRE", "back"], self.work)
        self.assertEqual(status, 0, out)
        return tooltest.files_under(os.path.join(self.work, "back"))[name]

    def test_documents_convert_escaped_and_xml_tools_read_them_as_the_bytes(self):
        for name, root in FILES.items():
            self.assertTrue(os.path.exists(self.path(name)), name)
            self.assertEqual(subprocess.run(["xmllint", "--noout", self.path(name)]).returncode, 0, name)
            self.assertEqual(ET.parse(self.path(name)).getroot().tag, root)
        # What a conforming reader makes of the line and the names, taking each character as its byte.
        dialogue = ET.parse(self.path("TALK/CAFE.PFC.xml")).getroot()[0]
        self.assertEqual(dialogue.text.strip().encode("latin-1"), b'"' + LINE + b'"')
        self.assertEqual([dialogue.get(k).encode("latin-1") for k in ("speaker", "expression", "background")],
                         [b"CAF\xe9", b"A&B<C>", b'Q"\tT'])
        self.assertEqual(self.repacked(), ARCHIVE)

    def test_xml_saved_by_other_tools_repacks_unchanged(self):
        def etree(path, encoding):
            ET.parse(path).write(path, encoding=encoding, xml_declaration=True)

        def xmllint(path):
            formatted = subprocess.run(["xmllint", "--format", path], stdout=subprocess.PIPE, check=True).stdout
            tooltest.put("", path, formatted)

        def crlf(path):
            tooltest.put("", path, tooltest.read("", path).replace(b"\n", b"\r\n"))

        # ElementTree writes a carriage return in text as it is, which every XML reader takes for
        # a line feed: its saves mean the line with one line end there.
        meant = archive(LINE.replace(b"\r\n", b"\n"))
        saves = {"etree UTF-8": (lambda p: etree(p, "UTF-8"), meant),
                 "etree ASCII": (lambda p: etree(p, "us-ascii"), meant),
                 "etree latin-1": (lambda p: etree(p, "latin-1"), meant),
                 "xmllint --format": (xmllint, ARCHIVE), "CR LF": (crlf, ARCHIVE)}
        for how, (save, expected) in saves.items():
            with self.subTest(saved=how):
                self.setUp()
                for name in FILES:
                    save(self.path(name))
                self.assertEqual(self.repacked(), expected)

    def test_an_edit_saved_by_etree_gives_the_intended_bytes(self):
        tree = ET.parse(self.path("TALK/CAFE.PFC.xml"))
        dialogue = tree.getroot()[0]
        dialogue.text = '"salt & pepper caf\u00e9 <b>"'
        dialogue.set("speaker", "\u00c9T\u00c9")
        tree.write(self.path("TALK/CAFE.PFC.xml"), encoding="UTF-8", xml_declaration=True)
        table = self.entry(self.repacked(), "TALK/CAFE.PFC")
        edited = fx.pfc_dialogue(b"\xc9T\xc9", b"A&B<C>", b'Q"\tT', 1, 0, b"salt & pepper caf\xe9 <b>", 0)
        self.assertEqual(table, edited + fx.pfc_cutaway("BAR", 1, 0, "plain words"))

    def edit_line(self, text):
        """The cutaway's line of the extracted table replaced by `text` (bytes of XML)."""
        xml = tooltest.read(self.work, "out/TALK/CAFE.PFC.xml")
        start = xml.index(b'"plain words"', xml.index(b"<Cutaway"))
        tooltest.put(self.work, "out/TALK/CAFE.PFC.xml", xml[:start] + text + xml[start + 13:])

    def test_cdata_sections_are_read_as_their_text(self):
        cases = {b'<![CDATA["Fish & chips"]]>': b"Fish & chips",
                 b'"a<![CDATA[ <b> ]]>c<![CDATA[]]]]><![CDATA[>"]]>': b"a <b> c]]>"}
        for text, line in cases.items():
            with self.subTest(text=text):
                self.setUp()
                self.edit_line(text)
                table = self.entry(self.repacked(), "TALK/CAFE.PFC")
                self.assertTrue(table.endswith(fx.pfc_cutaway("BAR", 1, 0, line)), table)
        # In a chunk's text as well.
        self.setUp()
        cast = tooltest.read(self.work, "out/MAP/SECTOR.IFF.xml")
        chunk = b'<NOTE OriginalSize="3"><![CDATA[a&b]]></NOTE>\n</SSSS>'
        tooltest.put(self.work, "out/MAP/SECTOR.IFF.xml", cast.replace(b"</SSSS>", chunk))
        document = self.entry(self.repacked(), "MAP/SECTOR.IFF")
        self.assertTrue(document.endswith(fx.iff_chunk(b"NOTE", b"a&b")), document)
        # A section that does not end is refused.
        self.setUp()
        self.edit_line(b'"<![CDATA[no end"')
        status, out = tooltest.run(TOOL, ["-r", "ESC.TRE", "out"], self.work)
        self.assertEqual(status, 1, out)
        self.assertIn("\nERROR: Couldn't parse 'out/TALK/CAFE.PFC.xml'!", out)

    def test_an_encoding_that_cannot_be_read_is_refused(self):
        for (name, root), before in zip(FILES.items(), (b"", b"\n")):
            with self.subTest(file=name):
                self.setUp()
                xml = tooltest.read(self.work, "out/" + name)
                tooltest.put(self.work, "out/" + name, before + b'<?xml version="1.0" encoding="windows-1252"?>\n' + xml)
                status, out = tooltest.run(TOOL, ["-r", "ESC.TRE", "out"], self.work)
                self.assertEqual(status, 1, out)
                lines = [l for l in out.split("\n") if l.startswith("ERROR: ")]
                self.assertEqual(lines[0], "ERROR: 'out/%s' is in the encoding 'windows-1252', which cannot be read; "
                                           "save it as UTF-8, ISO-8859-1 or US-ASCII!" % name, out)
                self.assertFalse(os.path.exists(os.path.join(self.work, "output.TRE")))

    def test_a_declaration_after_blanks_and_comments_says_how_the_bytes_are_read(self):
        for before in (b"\n", b" ", b"<!-- saved -->\n"):
            with self.subTest(before=before):
                self.setUp()
                self.edit_line(b'"pl\xc3\xa9in words"')
                xml = tooltest.read(self.work, "out/TALK/CAFE.PFC.xml")
                tooltest.put(self.work, "out/TALK/CAFE.PFC.xml",
                             before + b'<?xml version="1.0" encoding="ISO-8859-1"?>\n' + xml)
                table = self.entry(self.repacked(), "TALK/CAFE.PFC")
                self.assertTrue(table.endswith(fx.pfc_cutaway("BAR", 1, 0, b"pl\xc3\xa9in words")), table)

    def test_a_character_no_byte_stands_for_is_refused(self):
        for text, named in (("\u20ac 5", "U+20AC"), ("&#x20AC; 5", "U+20AC"), ("&#00000099999999999; 5", "U+10FFFF")):
            with self.subTest(text=text):
                self.setUp()
                xml = tooltest.read(self.work, "out/TALK/CAFE.PFC.xml")
                start = xml.index(b'"plain words"', xml.index(b"<Cutaway"))
                tooltest.put(self.work, "out/TALK/CAFE.PFC.xml",
                             xml[:start] + b'"%s"' % text.encode() + xml[start + 13:])
                status, out = tooltest.run(TOOL, ["-r", "ESC.TRE", "out"], self.work)
                self.assertEqual(status, 1, out)
                self.assertIn("\nERROR: Couldn't parse 'out/TALK/CAFE.PFC.xml'!", out)
                self.assertIn(named, out)
                self.assertFalse(os.path.exists(os.path.join(self.work, "output.TRE")))

    def test_xml_is_read_as_xml_means_it_everywhere(self):
        """Each edit of one extracted file, and what the repack makes of it: the archive itself
        (the edit means nothing new), or the "ERROR: " lines (or a part of one) it is refused with."""
        iff, pfc = "MAP/SECTOR.IFF.xml", "TALK/CAFE.PFC.xml"

        def swap(old, new):
            return lambda xml: xml.replace(old, new, 1)

        def wide(xml):
            return b'<?xml version="1.0" encoding="UTF-16"?>\n'.decode().encode("utf-16") + xml.decode().encode("utf-16")
        cases = [
            ("instruction after the root's tag", iff, swap(b'<IFF Version="1">', b'<IFF Version="1"><?app k="v"?>'),
             None),
            ("instruction inside a form", iff, swap(b"<CAST", b"<?app free text?>\n  <CAST"), None),
            ("instruction between records", iff, swap(b"<Member", b"<?app k?><Member"), None),
            ("instruction between table records", pfc, swap(b"<Cutaway", b"<?app k?>\n <Cutaway"), None),
            ("instruction inside a line", pfc, swap(b'"plain words"', b'"plain<?app x?> words"'), None),
            ("instruction after the root", pfc, swap(b"</PFC>", b"</PFC>\n<?app done?>"), None),
            ("instructions at the start, not attributes", pfc, lambda xml: b"<?editor saved by hand?>\n<?e a>b?>"
             b"<?e don't?>" + xml, None),
            ("a declaration after the root began", iff, swap(b"<CAST", b'<?xml version="1.0"?><CAST'),
             ["Couldn't parse 'out/MAP/SECTOR.IFF.xml'!", "declaration may stand only at the start"]),
            ("a declaration after an instruction", pfc,
             lambda xml: b'<?e x?><?xml version="1.0" encoding="ISO-8859-1"?>' + xml,
             ["Couldn't parse 'out/TALK/CAFE.PFC.xml'!", "declaration may stand only at the start"]),
            ("a line wrapped in CDATA", pfc, swap(b'"plain words"', b'<![CDATA[\n  "plain words"\n ]]>'), None),
            ("text inside a form", iff, swap(b"<CAST", b"EXTRA 0x41 <CAST"),
             ["Unexpected text in element 'SSSS' of 'out/MAP/SECTOR.IFF.xml'!"]),
            ("text inside the root", iff, swap(b"<SSSS", b"0x41 <SSSS"),
             ["Unexpected text in element 'IFF' of 'out/MAP/SECTOR.IFF.xml'!"]),
            ("a reference to U+0000 in a field", iff, swap(b'Kind="CAF', b'Kind="A&#0;B'),
             ["Couldn't parse 'out/MAP/SECTOR.IFF.xml'!", "U+0000"]),
            ("a reference to U+0001 in a line", pfc, swap(b'"plain words"', b'"plain&#x1; words"'),
             ["Couldn't parse 'out/TALK/CAFE.PFC.xml'!", "U+0001"]),
            ("a raw control byte in a line", pfc, swap(b'"plain words"', b'"plain\x01 words"'),
             ["Couldn't parse 'out/TALK/CAFE.PFC.xml'!", "XML cannot carry"]),
            ("UTF-16 with its byte-order mark", pfc, wide,
             ["'out/TALK/CAFE.PFC.xml' is in the encoding 'UTF-16', which cannot be read; save it as UTF-8, "
              "ISO-8859-1 or US-ASCII!"]),
        ]
        for what, name, edit, refused in cases:
            with self.subTest(what):
                self.setUp()
                tooltest.put(self.work, "out/" + name, edit(tooltest.read(self.work, "out/" + name)))
                if refused is None:
                    self.assertEqual(self.repacked(), ARCHIVE)
                    continue
                status, out = tooltest.run(TOOL, ["-r", "ESC.TRE", "out"], self.work)
                self.assertEqual(status, 1, out)
                for part in refused:
                    self.assertIn(part, out)
                self.assertFalse(os.path.exists(os.path.join(self.work, "output.TRE")))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
