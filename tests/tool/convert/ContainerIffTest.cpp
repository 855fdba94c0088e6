#include "IffTestUtil.h"
#include "tests/framework/io/IoTestUtil.h"
#include "tool/containers/Driver.h"

#include <random>

using namespace ifftest;

namespace
{
std::string textOf(const Bytes& b)
{
    return std::string(b.begin(), b.end());
}

// What the tool printed, without the log's lines (which start with '[').
std::string withoutLogLines(const std::string& out)
{
    std::string kept;
    size_t at = 0;
    while (at < out.size()) {
        size_t end = out.find('\n', at);
        end = end == std::string::npos ? out.size() : end + 1;
        if (out[at] != '[')
            kept += out.substr(at, end - at);
        at = end;
    }
    return kept;
}

Bytes tablesImage()
{
    const Bytes tabl = table(12, {form("RECA", chunk("X   ", "0")), form("RECB", chunk("NAME", "record b"))});
    return cat({str("FORM"), be32(u32(4 + tabl.size())), str("TBLS"), tabl});
}

struct ImageCase
{
    const char* what;
    Bytes image;
};

// Images whose XML gives them back byte for byte.
std::vector<ImageCase> convertible()
{
    const Bytes missl = form("MISL", cat({chunk("DATA", "HELLO!"), chunk("ODD ", str("abc"), 0x7F)}));
    Bytes shortPad = form("TEST", form("IN  ", chunk("ODD ", "abc")));
    shortPad.pop_back();
    return {
        {"empty form", form("TEST", {})},
        {"nested forms", form("REAL", cat({form("OBJT", missl), chunk("NAME", "x"), chunk("BIN ", raw({0, 1, 2, 0xFF}))}))},
        {"lists and cats", form("TOPS", cat({container("CAT ", "ABCD", chunk("ONE ", "1")),
                                             container("LIST", "LSTY", chunk("TWO ", "22"))}))},
        {"two root forms", cat({form("ONE ", chunk("A   ", "a")), form("TWO ", chunk("B   ", "bb"))})},
        {"odd ids", form("A<B>", cat({chunk("\0\0\0\0", "1"), chunk("a b ", "2"), chunk("\"/=?", "3")}))},
        {"text that looks like tokens", form("TEXT", chunk("TXT ", "a 0x41 b and 0x00"))},
        {"tables", tablesImage()},
        {"a table with an empty last slot", cat({str("FORM"), be32(4 + 8 + 8 + 4 + 22), str("TBLS"),
                                                 table(12, {form("RECA", chunk("X   ", "0"))}, 1)})},
        {"a list too short for its list test", form("TOPS", cat({str("LIST"), be32(2), str("ab")}))},
        {"missing final pad byte", shortPad},
        {"list used as a chunk name", form("TOPS", cat({str("LIST"), be32(8), raw({'A', 0xFF, 'C', 'D'}), str("WXYZ")}))},
        {"trailing zero bytes in a form", cat({str("FORM"), be32(4 + 10 + 3), str("PADS"), chunk("ONE ", "1"), raw({0, 0, 0}),
                                               raw({0})})},
        {"RIFX inside", form("TOPS", container("RIFX", "SUBT", chunk("IN  ", "i")))},
        {"a plain RIFF chunk", form("TOPS", container("RIFF", "WAVE", chunk("fmt ", "ab")))},
        {"empty chunks and text", form("E   ", cat({chunk("NONE", {}), chunk("SPCE", "   "), chunk("LINE", "one\ntwo\n")}))},
    };
}

// Images that stay raw: their XML would not give them back.
std::vector<ImageCase> keptRaw()
{
    Bytes stretched = form("TEST", chunk("DATA", "abcd"));
    stretched[7] += 100;
    return {
        {"outer size beyond the data", stretched},
        {"inner chunk beyond the data", cat({str("FORM"), be32(4 + 8 + 14), str("TEST"), str("DATA"), be32(14),
                                             str("abcd")})},
        {"trailing junk in a form", cat({str("FORM"), be32(4 + 10 + 3), str("PADS"), chunk("ONE ", "1"), str("xyz"),
                                         raw({0})})},
        {"data after the root form", cat({form("ONE ", {}), str("ju")})},
        {"non-zero pad byte of a form", cat({str("FORM"), be32(4 + 9), str("ODDF"), str("ONE "), be32(1), str("1"),
                                             str("!")})},
        {"a table whose first slot is empty", cat({str("FORM"), be32(36), str("TBLS"), str("TABL"), be32(8), le32(0),
                                                   le32(28), le32(12), form("RECA", {})})},
        {"SAVE with INFO", cat({str("FORM"), be32(4 + 12), str("SAVE"), str("INFO"), be32(4), str("abcd")})},
        {"a list cut by the end of the data", cat({str("FORM"), be32(4 + 8 + 100), str("TOPS"), str("LIST"), be32(100),
                                                   str("LSTY"), chunk("TWO ", "22")})},
    };
}
}

TEST(ContainerIff, ConvertibleImagesRoundTrip)
{
    OptionScope scope;
    for (const ImageCase& c : convertible()) {
        ContainerIFF* iff = nullptr;
        EXPECT_EQ(captured([&] { iff = openIff(c.image); }), "") << c.what;
        ASSERT_NE(iff, nullptr) << c.what;
        EXPECT_TRUE(iff->isConverted()) << c.what;
        EXPECT_EQ(hexOf(serialised(*iff)), hexOf(c.image)) << c.what;
        // The written text too gives the bytes back.
        EXPECT_EQ(hexOf(iffOf(documentText(*iff))), hexOf(c.image)) << c.what;
        // A run that extracts keeps the text made at open: the same text.
        scope.options.mode = MODE_EXTRACT;
        ContainerIFF* kept = openIff(c.image);
        EXPECT_EQ(documentText(*kept), documentText(*iff)) << c.what;
        deleteContainer(kept);
        scope.options.mode = MODE_LIST;
        EXPECT_EQ(iff->fileCount(), 1u);
        EXPECT_EQ(iff->typeCode, CONTAINER_IFF);
        EXPECT_STREQ(iff->secondPath.c_str(), "TEST.IFF.xml");
        deleteContainer(iff);
    }
}

TEST(ContainerIff, ImagesThatCannotRoundTripStayRaw)
{
    OptionScope scope;
    for (const ImageCase& c : keptRaw()) {
        ContainerIFF* iff = nullptr;
        captured([&] { iff = openIff(c.image); });
        ASSERT_NE(iff, nullptr) << c.what;
        EXPECT_FALSE(iff->isConverted()) << c.what;
        EXPECT_EQ(iff->mode, ContainerIFF::MODE_PLAIN) << c.what;
        EXPECT_EQ(hexOf(serialised(*iff)), hexOf(c.image)) << c.what;
        deleteContainer(iff);
    }
}

TEST(ContainerIff, RefusedKindsPrintTheirLine)
{
    OptionScope scope;
    struct Case
    {
        Bytes image;
        const char* lines;
    } cases[] = {
        {cat({str("FORM"), be32(4 + 11), str("AIFF"), str("COMM"), be32(3), str("abc")}), "ERROR: AIFFs not supported!\n"},
        {form("MOVE", str("3DO_more")), "ERROR: Big Endian IFFs not supported!\n"},
        {cat({form("ONE ", {}), chunk("JUNK", "junk")}), "ERROR: Root IFF chunk isn't form for 'TEST.IFF'.\n"},
    };
    for (const Case& c : cases) {
        ContainerIFF* iff = nullptr;
        EXPECT_EQ(captured([&] { iff = openIff(c.image); }), c.lines);
        ASSERT_NE(iff, nullptr);
        EXPECT_FALSE(iff->isConverted());
        EXPECT_EQ(hexOf(serialised(*iff)), hexOf(c.image));
        deleteContainer(iff);
    }
}

TEST(ContainerIff, DeepNestingIsRefused)
{
    OptionScope scope;
    Bytes deep = chunk("CORE", "x");
    for (int i = 0; i < 300; i++)
        deep = form("DEEP", deep);
    ContainerIFF* iff = nullptr;
    const std::string out = captured([&] { iff = openIff(deep); });
    EXPECT_EQ(out.substr(0, 23), "ERROR: IFF data in 'DEE");
    EXPECT_NE(out.find("' is nested too deeply.\n"), std::string::npos);
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1);
    ASSERT_NE(iff, nullptr);
    EXPECT_FALSE(iff->isConverted());
    EXPECT_EQ(hexOf(serialised(*iff)), hexOf(deep));
    deleteContainer(iff);

    // As deep as the XML form can hold: converted.
    Bytes fits = chunk("CORE", "x");
    for (int i = 0; i < 250; i++)
        fits = form("DEEP", fits);
    iff = openIff(fits);
    EXPECT_TRUE(iff->isConverted());
    EXPECT_EQ(hexOf(serialised(*iff)), hexOf(fits));
    deleteContainer(iff);
}

// Whatever the data, open keeps it: converted when the XML rebuilds it, raw otherwise.
TEST(ContainerIff, DamagedImagesAlwaysComeBackWhole)
{
    OptionScope scope;
    std::mt19937 rng(99);
    u32 converted = 0, raw = 0;
    for (const ImageCase& c : convertible()) {
        for (size_t cut = 4; cut <= c.image.size(); cut += 3) {
            Bytes b(c.image.begin(), c.image.begin() + cut);
            memcpy(b.data(), "FORM", 4);
            ContainerIFF* iff = nullptr;
            captured([&] { iff = openIff(b); });
            ASSERT_NE(iff, nullptr);
            EXPECT_EQ(hexOf(serialised(*iff)), hexOf(b)) << c.what << " cut at " << cut;
            (iff->isConverted() ? converted : raw)++;
            deleteContainer(iff);
        }
        for (int round = 0; round < 60; round++) {
            Bytes b = c.image;
            for (int k = 1 + int(rng() % 3); k > 0; k--)
                b[4 + rng() % (b.size() - 4)] = u8(rng());
            ContainerIFF* iff = nullptr;
            captured([&] { iff = openIff(b); });
            ASSERT_NE(iff, nullptr);
            EXPECT_EQ(hexOf(serialised(*iff)), hexOf(b)) << c.what;
            (iff->isConverted() ? converted : raw)++;
            deleteContainer(iff);
        }
    }
    EXPECT_GT(converted, 0u);
    EXPECT_GT(raw, 0u);
}

TEST(ContainerIff, DocumentAttributesAndModes)
{
    OptionScope scope;
    ContainerIFF* tables = openIff(tablesImage());
    EXPECT_EQ(tables->mode, ContainerIFF::MODE_TABLES);
    EXPECT_NE(documentText(*tables).find("<IFF Version=\"1\" Quirks=\"Tables\">"), std::string::npos);
    EXPECT_EQ(captured([&] { tables->list(1); }),
              " Interchange File Format\n  - Non-standard: Contains spin-off-style tables.\n");
    deleteContainer(tables);

    ContainerIFF* list = openIff(form("TOPS", cat({str("LIST"), be32(8), raw({'A', 0xFF, 'C', 'D'}), str("WXYZ")})));
    EXPECT_EQ(list->mode, ContainerIFF::MODE_LIST_AS_CHUNK);
    EXPECT_NE(documentText(*list).find("<IFF Version=\"1\" Errors=\"ListAsChunk\">"), std::string::npos);
    EXPECT_EQ(captured([&] { list->list(0); }),
              "Interchange File Format\n - Non-standard: Uses the reserved form type LIST as a chunk name.\n");
    deleteContainer(list);

    Bytes shortPad = form("TEST", chunk("ODD ", "abc"));
    shortPad.pop_back();
    ContainerIFF* pad = openIff(shortPad);
    EXPECT_NE(documentText(*pad).find("<IFF Version=\"1\" MissingFinalPad=\"true\">"), std::string::npos);
    EXPECT_EQ(serialised(*pad).size(), shortPad.size());
    EXPECT_EQ(captured([&] { pad->list(0); }), "Interchange File Format\n");
    deleteContainer(pad);
}

TEST(ContainerIff, NoConvertKeepsEveryFileRaw)
{
    OptionScope scope;
    scope.options.noConvert = 1;
    const Bytes image = form("TEST", chunk("DATA", "HELLO!"));
    ContainerIFF* iff = openIff(image);
    EXPECT_FALSE(iff->isConverted());
    EXPECT_STREQ(iff->matchName().c_str(), "TEST.IFF");
    iotest::ScratchDir dir;
    EXPECT_EQ(iff->extract(String((dir.path + "/").c_str()), 0), 1u);
    EXPECT_EQ(hexOf(readFile(dir.file("TEST.IFF"))), hexOf(image));
    deleteContainer(iff);
}

TEST(ContainerIff, ExtractWritesTheDocument)
{
    OptionScope scope;
    scope.options.verbosity = 2;
    const Bytes image = form("TEST", chunk("DATA", "HELLO!"));
    ContainerIFF* iff = openIff(image, "GAME\\TEST.IFF");
    iotest::ScratchDir dir;
    // The directory of the command line: the file goes inside it.
    std::string out = captured([&] { EXPECT_EQ(iff->extract(String((dir.path + "/top/").c_str()), 0), 1u); });
    EXPECT_EQ(out, " >> " + dir.path + "/top/TEST.IFF.xml\n");
    const std::string expected = "<IFF Version=\"1\">\n"
                                 " <TEST FormType=\"FORM\" OriginalSize=\"18\">\n"
                                 "  <DATA OriginalSize=\"6\">\n"
                                 "   HELLO!\n"
                                 "  </DATA>\n"
                                 " </TEST>\n"
                                 "</IFF>\n\n";
    EXPECT_EQ(textOf(readFile(dir.file("top/TEST.IFF.xml"))), expected);
    // Inside an archive: the entry's own path with ".xml".
    out = captured([&] { EXPECT_EQ(iff->extract(String((dir.path + "/arc/GAME/TEST.IFF").c_str()), 1), 1u); });
    EXPECT_EQ(out, " >>> " + dir.path + "/arc/GAME/TEST.IFF.xml\n");
    EXPECT_EQ(textOf(readFile(dir.file("arc/GAME/TEST.IFF.xml"))), expected);
    // A file that cannot be written.
    out = captured([&] { EXPECT_EQ(iff->extract(String((dir.path + "/top/TEST.IFF.xml/x").c_str()), 1), 0u); });
    const std::string blocked = dir.path + "/top/TEST.IFF.xml/x.xml";
    EXPECT_EQ(out, " >>> " + blocked + "\nERROR: Write failure for '" + blocked + "'!\nERROR: Couldn't write '" + blocked +
                       "' (Not a directory)!\n");
    clearToolFailure();
    deleteContainer(iff);
}

struct RepackCase
{
    const char* what;
    const char* file;
    std::string text;
    bool ok;
    const char* lines; // %s: the file's path
};

TEST(ContainerIff, RepackReadsDocumentsAndRawFiles)
{
    OptionScope scope;
    const Bytes image = form("TEST", chunk("DATA", "HELLO!"));
    const std::string edited = "<IFF Version=\"1\">\n <TEST FormType=\"FORM\">\n  <DATA>WORLD 0x00</DATA>\n"
                               "  <MORE>0x01 0x02 0x03</MORE>\n </TEST>\n</IFF>\n";
    const RepackCase cases[] = {
        {"edited document", "E.IFF.xml", edited, true, ""},
        {"upper-case extension", "E.IFF.XML", edited, true, ""},
        {"raw replacement", "E.IFF", "raw bytes", true, ""},
        {"not XML", "E.IFF.xml", "<IFF Version=\"1\"><TEST", false, "ERROR: Couldn't parse '%s'!\n"},
        {"no root", "E.IFF.xml", "", false, "ERROR: No XML root for '%s'!\n"},
        {"wrong root", "E.IFF.xml", "<PFC Version=\"1\"/>", false, "ERROR: Bad root IFF element for '%s'!\n"},
        {"no version", "E.IFF.xml", "<IFF/>", false, "ERROR: No version for '%s'!\n"},
        {"version 2", "E.IFF.xml", "<IFF Version=\"2\"/>", false, "ERROR: Unrecognised version 2 for '%s'!\n"},
        {"bad value", "E.IFF.xml", "<IFF Version=\"1\"><TEST FormType=\"FORM\" RawName=\"zz\"/></IFF>", false,
         "ERROR: Invalid IFF RawName='zz' on XML element 'TEST'.\n"},
        {"missing file", "ABSENT.xml", "", false, "ERROR: Couldn't read '%s'!\n"},
    };
    const Bytes editedBytes = form("TEST", cat({chunk("DATA", cat({str("WORLD"), raw({0})})), chunk("MORE", raw({1, 2, 3}))}));
    for (const RepackCase& c : cases) {
        iotest::ScratchDir dir;
        const std::string path = dir.file(c.file);
        if (strcmp(c.file, "ABSENT.xml") != 0)
            iotest::writeFile(path, Bytes(c.text.begin(), c.text.end()));
        ContainerIFF* iff = openIff(image);
        bool ok = false;
        const std::string out = captured([&] { ok = iff->repack(String(path.c_str()), String(), 1); });
        std::string lines = c.lines;
        const size_t at = lines.find("%s");
        if (at != std::string::npos)
            lines.replace(at, 2, path);
        EXPECT_EQ(withoutLogLines(out), lines) << c.what;
        EXPECT_EQ(ok, c.ok) << c.what;
        if (ok) {
            const Bytes expected = strcmp(c.file, "E.IFF") == 0 ? str("raw bytes") : editedBytes;
            EXPECT_EQ(hexOf(serialised(*iff)), hexOf(expected)) << c.what;
            EXPECT_EQ(iff->built != nullptr, strcmp(c.file, "E.IFF") != 0) << c.what;
            EXPECT_EQ(iff->isConverted(), strcmp(c.file, "E.IFF") != 0) << c.what;
        }
        deleteContainer(iff);
    }
}

TEST(ContainerIff, RepackOfALoneFileLooksInItsDirectory)
{
    OptionScope scope;
    scope.options.verbosity = 1;
    const Bytes image = form("TEST", chunk("DATA", "HELLO!"));
    iotest::ScratchDir dir;
    ContainerIFF* iff = openIff(image, "some/where/TEST.IFF");
    iff->extract(String((dir.path + "/").c_str()), 0);
    std::string xml = textOf(readFile(dir.file("TEST.IFF.xml")));
    xml.replace(xml.find("HELLO!"), 6, "HULLO?");
    iotest::writeFile(dir.file("TEST.IFF.xml"), Bytes(xml.begin(), xml.end()));
    EXPECT_EQ(captured([&] { EXPECT_TRUE(iff->repack(String((dir.path + "/").c_str()), String(), 0)); }),
              " << " + dir.path + "/\n");
    EXPECT_EQ(hexOf(serialised(*iff)), hexOf(form("TEST", chunk("DATA", "HULLO?"))));
    deleteContainer(iff);
}

TEST(ContainerIff, HashLinesAndContent)
{
    OptionScope scope;
    const Bytes image = form("TEST", chunk("DATA", "HELLO!"));
    ContainerIFF* iff = openIff(image);
    Md5 a, b;
    EXPECT_EQ(captured([&] { iff->hashContents(a, 2); }), "");
    b.update(image.data(), u32(image.size()));
    u8 da[16], db[16];
    a.final(da);
    b.final(db);
    EXPECT_EQ(memcmp(da, db, 16), 0);
    scope.options.verbosity = 2;
    Md5 c;
    const std::string line = captured([&] { iff->hashContents(c, 2); });
    EXPECT_EQ(line.substr(0, 9), "  IFF -> ");
    deleteContainer(iff);
}

TEST(ContainerIff, DetectedByItsMagicBeforeNames)
{
    OptionScope scope;
    const Bytes image = form("TEST", chunk("DATA", "HELLO!"));
    for (const char* name : {"X.PFC", "X.PAK", "X.TRE", "NONAME"}) {
        ByteArray bytes = toArray(image);
        Container* c = detectContainer(String(name), bytes);
        ASSERT_NE(c, nullptr) << name;
        EXPECT_EQ(c->typeCode, CONTAINER_IFF) << name;
        deleteContainer(c);
    }
}

// Archives hold thousands of documents: in a run that does not extract them, each costs only its
// bytes.
TEST(ContainerIff, HoldsOnlyItsBytesUntilWritten)
{
    OptionScope scope;
    Bytes content;
    for (int i = 0; i < 200; i++)
        content = cat({content, chunk("DATA", "short text")});
    const Bytes image = form("MANY", content);
    const u64 before = memLiveBytes();
    ContainerIFF* iff = openIff(image);
    const u64 held = memLiveBytes() - before;
    EXPECT_TRUE(iff->isConverted());
    EXPECT_LT(held, image.size() + 1024);
    EXPECT_EQ(hexOf(iffOf(documentText(*iff))), hexOf(image));
    deleteContainer(iff);
}
