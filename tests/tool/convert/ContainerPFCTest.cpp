#include "PfcTestUtil.h"
#include "PfcTree.h"
#include "framework/io/Md5.h"
#include "tool/containers/ContainerTRE.h"
#include "tool/containers/Driver.h"

#include <random>

using namespace pfctest;

namespace
{
std::string writeDocument(const PtrArray<XmlElement>& document)
{
    bool ok = false;
    String text = writeXml(document, &ok);
    EXPECT_TRUE(ok);
    return std::string(text.c_str(), text.length) + "\n";
}

std::string xmlOf(const Bytes& bytes)
{
    ByteArray array = toArray(bytes);
    PtrArray<XmlElement>* document = pfcToXml(array);
    EXPECT_NE(document, nullptr);
    if (!document)
        return std::string();
    std::string text = writeDocument(*document);
    memDelete(document);
    return text;
}

// Encodes the children of the first "PFC" element of an XML text, as repack and serialise do.
Bytes encodeXml(const std::string& xml)
{
    ByteArray text = toArray(bytesOf(xml));
    PtrArray<XmlElement>* document = parseXml(text);
    EXPECT_NE(document, nullptr) << xml;
    if (!document)
        return Bytes();
    const XmlElement* root = findPfcRoot(*document);
    EXPECT_NE(root, nullptr) << xml;
    ByteBuffer out;
    if (root)
        xmlToPfc(*root, out);
    ByteArray* array = out.toArray();
    Bytes b = toBytes(array);
    deleteByteArray(array);
    memDelete(document);
    return b;
}

std::string inPfc(const std::string& records)
{
    return "<PFC Version=\"1\">\n" + records + "\n</PFC>\n";
}

Bytes nestedBranches(u32 levels)
{
    Bytes b;
    for (u32 i = 0; i < levels; i++)
        b = b + branch("S" + std::to_string(i), "B", u16(i), 0);
    b = b + dialogue("DEEP", "", "", 1, 0, "at the bottom", 0);
    for (u32 i = 0; i < levels; i++)
        b = b + END_BRANCH;
    return b;
}

std::string allByteValues()
{
    std::string s;
    for (int c = 1; c < 256; c++) {
        if (c != '<')
            s += char(c);
    }
    return s;
}

Bytes smallTable()
{
    return dialogue("PILOT", "HAPPY", "BAR", 70, 0, "Hello there.", 1) + branch("PILOT", "BAR", 2, 3) +
           cutaway("SPACE", 5, 1, "Outside") + OPTION + END_BRANCH;
}

const char SMALL_TABLE_XML[] = "<PFC Version=\"1\">\n"
                               " <Dialogue speaker=\"PILOT\" expression=\"HAPPY\" background=\"BAR\" delay=\"70\" "
                               "unk1=\"0\" unk2=\"1\">\n"
                               "  \"Hello there.\"\n"
                               " </Dialogue>\n"
                               " <Branch speaker=\"PILOT\" background=\"BAR\" unk1=\"2\" unk2=\"3\">\n"
                               "  <Option>\n"
                               "   <Cutaway background=\"SPACE\" delay=\"5\" unk1=\"1\">\n"
                               "    \"Outside\"\n"
                               "   </Cutaway>\n"
                               "  </Option>\n"
                               "  <Option/>\n"
                               " </Branch>\n"
                               "</PFC>\n"
                               "\n";

struct TableCase
{
    const char* what;
    Bytes bytes;
};

// Tables whose XML gives back exactly their bytes.
std::vector<TableCase> convertibleTables()
{
    Bytes many;
    for (int i = 0; i < 200; i++)
        many = many + dialogue("P" + std::to_string(i), "E", "BG", u16(i * 300), u16(i), std::string(i % 40, 'a'),
                               u8(i));
    return {
        {"empty table", {}},
        {"one dialogue", dialogue("PILOT", "HAPPY", "BAR", 70, 0, "Hello there.", 1)},
        {"one cutaway", cutaway("SPACE", 5, 1, "Outside")},
        {"all fields zero", Bytes(34, 0)},
        {"names of nine bytes, largest numbers",
         dialogue("ABCDEFGHI", "123456789", "BACKGROUN", 65535, 65535, "x", 255) +
             cutaway("NINE_BYTE", 65535, 255, "y") + branch("SPEAKER_9", "WALLPAPER", 65535, 65535) + END_BRANCH},
        {"branch of three options",
         branch("TOWER", "BRIDGE", 1, 2) + dialogue("TOWER", "CALM", "BRIDGE", 10, 0, "first", 0) + OPTION +
             cutaway("HANGAR", 3, 0, "second") + dialogue("PILOT", "", "", 1, 0, "", 0) + OPTION + END_BRANCH +
             dialogue("TOWER", "", "", 1, 0, "after", 9)},
        {"empty options", branch("A", "B", 0, 0) + OPTION + OPTION + END_BRANCH},
        {"branches one after another",
         branch("A", "", 0, 0) + END_BRANCH + branch("B", "", 0, 0) + cutaway("X", 1, 0, "c") + END_BRANCH},
        {"nested branch ending its option and branch",
         branch("OUTER", "", 1, 0) + dialogue("A", "", "", 1, 0, "before", 0) + OPTION + branch("INNER", "", 2, 0) +
             cutaway("I", 1, 0, "inner first") + OPTION + dialogue("B", "", "", 1, 0, "inner second", 0) +
             END_BRANCH + END_BRANCH + cutaway("TOP", 1, 0, "top again")},
        {"127 nested branches", nestedBranches(127)},
        {"blanks, quotes and markup in lines",
         dialogue("", "", "", 1, 0, "  blanks at both ends  ", 0) +
             dialogue("", "", "", 1, 0, "\"quoted\" and 'apostrophes'", 0) +
             cutaway("", 1, 0, "a > b / d = e ? f") + cutaway("", 1, 0, "\t tab\nnew line\n") +
             cutaway("", 1, 0, "'") + cutaway("", 1, 0, "\"") + cutaway("", 1, 0, "\"\"")},
        {"longest line", cutaway("L", 1, 0, std::string(PFC_MAX_LINE, 'x'))},
        {"two hundred records", many},
    };
}

// Tables whose XML would not give back their bytes: they are kept raw.
std::vector<TableCase> rawTables()
{
    const Bytes d = dialogue("A", "B", "C", 1, 2, "line", 3);
    Bytes nulInName = d;
    nulInName[3] = 'x'; // after the NUL that ends "A"
    Bytes cut = d;
    cut.pop_back();
    return {
        {"single zero byte", {0}},
        {"unknown tag", d + Bytes{3} + d},
        {"tag 8 at the top level", d + END_BRANCH},
        {"tag 5 at the top level", OPTION + d},
        {"unclosed branch", branch("A", "", 0, 0) + d},
        {"bytes after a name's NUL", nulInName},
        {"last record cut short", cut},
        {"line longer than the encoder writes", cutaway("L", 1, 0, std::string(PFC_MAX_LINE + 1, 'x'))},
        // No XML document carries control bytes, escaped or not.
        {"every byte value in names and lines",
         dialogue("\x01\x7f\x80\xff", " sp ace ", "a>b/c=d", 1, 0, allByteValues(), 0) +
             branch("\xe9t\xe9", "'q'", 0, 0) + END_BRANCH},
        {"a control byte in a name", cutaway("a\x1b" "b", 1, 0, "x")},
        {"option after a nested branch",
         branch("O", "", 0, 0) + branch("I", "", 0, 0) + END_BRANCH + OPTION + d + END_BRANCH},
        {"records after a nested branch's end", branch("O", "", 0, 0) + branch("I", "", 0, 0) + END_BRANCH + d},
        {"128 nested branches", nestedBranches(128)},
        {"deep run of branch tags", Bytes(100000, 7)},
    };
}

struct PfcContainer : testing::Test
{
    iotest::ScratchDir dir;
    OptionScope scope;
    ContainerPFC* pfc = nullptr;

    void open(const char* name, const Bytes& bytes)
    {
        captured([&] { pfc = openPfc(name, bytes); });
        ASSERT_NE(pfc, nullptr);
    }
    void TearDown() override { deleteContainer(pfc); }
    String at(const std::string& name) const { return String(dir.file(name).c_str()); }
    std::string extract(const std::string& where, u32* count = nullptr)
    {
        u32 n = 0;
        std::string out = captured([&] { n = pfc->extract(at(where), 1); });
        if (count)
            *count = n;
        return out;
    }
    bool repack(const std::string& file, std::string* out = nullptr)
    {
        bool ok = false;
        std::string printed = captured([&] { ok = pfc->repack(at(file), String(), 1); });
        if (out)
            *out = printed;
        return ok;
    }
    void put(const std::string& name, const std::string& text) { iotest::writeFile(dir.file(name), bytesOf(text)); }
};
}

TEST(PfcRoundTrip, ConvertibleTablesComeBackByteForByteThroughTheXmlText)
{
    // Extracting keeps the text made at open (unless it is many times the table), written from
    // the records: it is their document's.
    OptionScope scope;
    scope.options.mode = MODE_EXTRACT;
    for (const TableCase& c : convertibleTables()) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(encodeXml(xmlOf(c.bytes)), c.bytes);
        ContainerPFC* pfc = openPfc("T.PFC", c.bytes);
        ASSERT_NE(pfc, nullptr);
        EXPECT_TRUE(pfc->converts);
        if (!pfc->xmlFile.isEmpty()) {
            EXPECT_EQ(pfc->xmlFile.c_str(), xmlOf(c.bytes));
        }
        EXPECT_EQ(quietlySerialised(*pfc), c.bytes);
        deleteContainer(pfc);
    }
}

TEST(PfcRoundTrip, SmallTableGivesThisXmlText)
{
    EXPECT_EQ(xmlOf(smallTable()), SMALL_TABLE_XML);
    EXPECT_EQ(xmlOf({}), "<PFC Version=\"1\"/>\n\n");
}

TEST(PfcDecoding, ShortFieldsReadAsZerosAndOtherTagsAreSkipped)
{
    EXPECT_EQ(xmlOf({0}), "<PFC Version=\"1\">\n"
                          " <Dialogue speaker=\"\" expression=\"\" background=\"\" delay=\"0\" unk1=\"0\" unk2=\"0\">\n"
                          "  \"\"\n"
                          " </Dialogue>\n"
                          "</PFC>\n\n");
    EXPECT_EQ(encodeXml(xmlOf({0})), Bytes(34, 0));
    // A cut name keeps the bytes present; the u16 with one byte left reads 0 and leaves it to the
    // line.
    EXPECT_EQ(xmlOf(Bytes{4, 'S', 'K', 'Y'}), "<PFC Version=\"1\">\n"
                                              " <Cutaway background=\"SKY\" delay=\"0\" unk1=\"0\">\n"
                                              "  \"\"\n"
                                              " </Cutaway>\n"
                                              "</PFC>\n\n");
    EXPECT_EQ(xmlOf(Bytes{4} + name9("B") + Bytes{9}),
              inPfc(" <Cutaway background=\"B\" delay=\"0\" unk1=\"9\">\n  \"\"\n </Cutaway>") + "\n");
    EXPECT_EQ(xmlOf(Bytes{3, 1, 2, 250, 5, 8}), "<PFC Version=\"1\"/>\n\n");
    EXPECT_EQ(encodeXml(xmlOf(Bytes{3} + cutaway("X", 2, 1, "c"))), cutaway("X", 2, 1, "c"));
    // A branch without its end gets one.
    EXPECT_EQ(encodeXml(xmlOf(branch("A", "", 0, 0))), branch("A", "", 0, 0) + END_BRANCH);
}

TEST(PfcEncoding, ElementsAndAttributesGiveTheseBytes)
{
    const Bytes nine = Bytes(9, 0);
    struct Case
    {
        const char* what;
        std::string records;
        Bytes bytes;
    };
    const std::vector<Case> cases = {
        {"defaults", "<Dialogue/><Cutaway/><Branch/>",
         Bytes{0} + nine + nine + nine + le16(1) + le16(0) + Bytes{0, 0} + Bytes{4} + nine + le16(1) + Bytes{0, 0} +
             Bytes{7} + nine + nine + le16(0) + le16(0) + END_BRANCH},
        {"numbers above the field keep its largest value", "<Dialogue delay=\"70000\" unk2=\"300\"/><Cutaway unk1=\"300\"/>",
         Bytes{0} + nine + nine + nine + le16(65535) + le16(0) + Bytes{0, 255} + Bytes{4} + nine + le16(1) +
             Bytes{255, 0}},
        {"long names are cut to nine bytes without a NUL", "<Cutaway background=\"ABCDEFGHIJKL\"/>",
         Bytes{4} + bytesOf("ABCDEFGHI") + le16(1) + Bytes{0, 0}},
        {"attribute order does not matter", "<Cutaway unk1=\"2\" delay=\"3\" background=\"X\">\"c\"</Cutaway>",
         cutaway("X", 3, 2, "c")},
        {"apostrophes are quotes too", "<Cutaway>'a'</Cutaway>", cutaway("", 1, 0, "a")},
        {"two double quotes are an empty line", "<Cutaway>\"\"</Cutaway>", cutaway("", 1, 0, "")},
        {"an unmatched quote stays", "<Cutaway>\"abc</Cutaway>", cutaway("", 1, 0, "\"abc")},
        {"text without quotes", "<Cutaway>plain words</Cutaway>", cutaway("", 1, 0, "plain words")},
        {"lines stop at 512 bytes", "<Cutaway>" + std::string(600, 'y') + "</Cutaway>",
         cutaway("", 1, 0, std::string(512, 'y'))},
        {"three options",
         "<Branch speaker=\"S\" background=\"B\" unk1=\"1\" unk2=\"2\"><Option><Cutaway>\"1\"</Cutaway></Option>"
         "<Option><Cutaway>\"2\"</Cutaway></Option><Option><Cutaway>\"3\"</Cutaway></Option></Branch>",
         branch("S", "B", 1, 2) + cutaway("", 1, 0, "1") + OPTION + cutaway("", 1, 0, "2") + OPTION +
             cutaway("", 1, 0, "3") + END_BRANCH},
        {"unknown elements and children of records write nothing",
         "<Unknown/><Dialogue delay=\"2\"><Cutaway/></Dialogue>",
         Bytes{0} + nine + nine + nine + le16(2) + le16(0) + Bytes{0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(encodeXml(inPfc(c.records)), c.bytes);
    }
}

// Archives open their nested containers within a budget of held bytes; a table's XML form takes
// many times its bytes, so it is not kept by a run that does not extract.
TEST(PfcMemory, AnOpenedTableHoldsLittleMoreThanItsBytes)
{
    OptionScope scope;
    const Bytes bytes = convertibleTables().back().bytes;
    const u64 before = memLiveBytes();
    ContainerPFC* pfc = openPfc("MANY.PFC", bytes);
    const u64 held = memLiveBytes() - before;
    ASSERT_NE(pfc, nullptr);
    EXPECT_TRUE(pfc->converts);
    EXPECT_LT(held, bytes.size() + 1024);
    deleteContainer(pfc);
    EXPECT_EQ(memLiveBytes(), before);
}

TEST_F(PfcContainer, ListsOneLineAndCountsOneFile)
{
    open("CONV.PFC", smallTable());
    EXPECT_EQ(captured([&] { pfc->list(2); }), "  PFC Dialogue Table\n");
    EXPECT_EQ(pfc->fileCount(), 1u);
    EXPECT_EQ(pfc->typeCode, CONTAINER_PFC);
    EXPECT_STREQ(pfc->secondPath.c_str(), "CONV.PFC.xml");
    EXPECT_STREQ(pfc->getExtension().c_str(), "PFC");
}

TEST_F(PfcContainer, ExtractsTheXmlAndRepacksItUnchanged)
{
    open("CONV.PFC", smallTable());
    scope.options.verbosity = 2;
    u32 count = 0;
    const std::string printed = extract("sub/CONV.PFC", &count);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(printed, " >>> " + dir.file("sub/CONV.PFC.xml") + "\n");
    EXPECT_FALSE(exists(dir.file("sub/CONV.PFC")));
    EXPECT_EQ(textOf(readFile(dir.file("sub/CONV.PFC.xml"))), SMALL_TABLE_XML);
    std::string out;
    EXPECT_TRUE(repack("sub/CONV.PFC.xml", &out));
    EXPECT_EQ(out, " <<< " + dir.file("sub/CONV.PFC.xml") + "\n");
    EXPECT_NE(pfc->built, nullptr);
    EXPECT_EQ(quietlySerialised(*pfc), smallTable());
    // A run that extracts keeps the text made at open: the same file.
    deleteContainer(pfc);
    scope.options.mode = MODE_EXTRACT;
    open("CONV.PFC", smallTable());
    extract("kept/CONV.PFC");
    EXPECT_EQ(textOf(readFile(dir.file("kept/CONV.PFC.xml"))), SMALL_TABLE_XML);
}

TEST_F(PfcContainer, XmllintAcceptsThePlainAsciiXml)
{
    open("CONV.PFC", convertibleTables()[5].bytes + smallTable() + nestedBranches(20) +
                         cutaway("", 1, 0, "  \"quoted\", 'apostrophes', a > b / c = d  "));
    extract("CONV.PFC");
    const std::string command = "xmllint --noout '" + dir.file("CONV.PFC.xml") + "' 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char buffer[512];
    while (size_t n = fread(buffer, 1, sizeof(buffer), pipe))
        output.append(buffer, n);
    const int status = pclose(pipe);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << output;
    EXPECT_EQ(output, "");
}

TEST_F(PfcContainer, EditedXmlIsRepackedIntoTheseBytes)
{
    struct Edit
    {
        const char* what;
        std::string from, to;
        Bytes bytes;
    };
    const Bytes tail = branch("PILOT", "BAR", 2, 3) + cutaway("SPACE", 5, 1, "Outside") + OPTION + END_BRANCH;
    const std::vector<Edit> edits = {
        {"a line and a number", "delay=\"70\" unk1=\"0\" unk2=\"1\">\n  \"Hello there.\"",
         "delay=\"71\" unk1=\"0\" unk2=\"1\">\n  \" Goodbye. \"",
         dialogue("PILOT", "HAPPY", "BAR", 71, 0, " Goodbye. ", 1) + tail},
        {"a record in the empty option", "<Option/>",
         "<Option><Dialogue speaker=\"OPSTWO\" delay=\"3\">\"Hey!\"</Dialogue></Option>",
         dialogue("PILOT", "HAPPY", "BAR", 70, 0, "Hello there.", 1) + branch("PILOT", "BAR", 2, 3) +
             cutaway("SPACE", 5, 1, "Outside") + OPTION + dialogue("OPSTWO", "", "", 3, 0, "Hey!", 0) + END_BRANCH},
        {"a record removed",
         "   <Cutaway background=\"SPACE\" delay=\"5\" unk1=\"1\">\n    \"Outside\"\n   </Cutaway>\n", "",
         dialogue("PILOT", "HAPPY", "BAR", 70, 0, "Hello there.", 1) + branch("PILOT", "BAR", 2, 3) + OPTION +
             END_BRANCH},
        {"a nested branch at the end of the last option", "<Option/>",
         "<Option><Branch speaker=\"IN\"><Option/><Option><Cutaway>'x'</Cutaway></Option></Branch></Option>",
         dialogue("PILOT", "HAPPY", "BAR", 70, 0, "Hello there.", 1) + branch("PILOT", "BAR", 2, 3) +
             cutaway("SPACE", 5, 1, "Outside") + OPTION + branch("IN", "", 0, 0) + OPTION + cutaway("", 1, 0, "x") +
             END_BRANCH + END_BRANCH},
    };
    for (const Edit& e : edits) {
        SCOPED_TRACE(e.what);
        open("CONV.PFC", smallTable());
        extract("CONV.PFC");
        std::string xml = textOf(readFile(dir.file("CONV.PFC.xml")));
        const size_t at = xml.find(e.from);
        ASSERT_NE(at, std::string::npos);
        xml.replace(at, e.from.size(), e.to);
        put("CONV.PFC.xml", xml);
        EXPECT_TRUE(repack("CONV.PFC.xml"));
        EXPECT_EQ(quietlySerialised(*pfc), e.bytes);
        Md5 expected, got;
        expected.update(e.bytes.data(), u32(e.bytes.size()));
        captured([&] { pfc->hashContents(got, 0); });
        u8 a[16], b[16];
        expected.final(a);
        got.final(b);
        EXPECT_EQ(iotest::hex(a), iotest::hex(b));
        deleteContainer(pfc);
        pfc = nullptr;
    }
}

TEST_F(PfcContainer, BadXmlFailsWithOneErrorLineAndLeavesTheTable)
{
    struct Bad
    {
        std::string xml;
        std::string error; // %s stands for the file's path
    };
    const std::vector<Bad> cases = {
        {"<PFC Version=\"1\"><Dialogue></PFC>", "ERROR: Couldn't parse '%s'!"},
        {"", "ERROR: Invalid XML root type for '%s'!"},
        {"<IFF Version=\"1\"/>", "ERROR: Invalid XML root type for '%s'!"},
        {"<PFC/>", "ERROR: No version for '%s'!"},
        {"<PFC Version=\"2\"/>", "ERROR: Unrecognised version 2 for '%s'!"},
        {inPfc("<Dialogue delay=\"65536\"/>"),
         "ERROR: Bad value '65536' for attribute 'delay' of element 'Dialogue' in '%s'!"},
        {inPfc("<Dialogue unk2=\"256\"/>"), "ERROR: Bad value '256' for attribute 'unk2' of element 'Dialogue' in '%s'!"},
        {inPfc("<Cutaway delay=\"-1\"/>"), "ERROR: Bad value '-1' for attribute 'delay' of element 'Cutaway' in '%s'!"},
        {inPfc("<Branch unk1=\"12x\"/>"), "ERROR: Bad value '12x' for attribute 'unk1' of element 'Branch' in '%s'!"},
        {inPfc("<Branch unk2=\"99999999999999999999\"/>"),
         "ERROR: Bad value '99999999999999999999' for attribute 'unk2' of element 'Branch' in '%s'!"},
        {inPfc("<Dialogue speaker=\"TENLETTERS\"/>"),
         "ERROR: Bad value 'TENLETTERS' for attribute 'speaker' of element 'Dialogue' in '%s'!"},
        {inPfc("<Dialogue Speaker=\"X\"/>"), "ERROR: Unexpected attribute 'Speaker' in element 'Dialogue' of '%s'!"},
        {inPfc("<Cutaway delay=\"1\" delay=\"2\"/>"),
         "ERROR: Unexpected attribute 'delay' in element 'Cutaway' of '%s'!"},
        {inPfc("<Branch><Option x=\"1\"/></Branch>"), "ERROR: Unexpected attribute 'x' in element 'Option' of '%s'!"},
        {inPfc("<Dialog/>"), "ERROR: Unexpected element 'Dialog' in element 'PFC' of '%s'!"},
        {inPfc("<Option/>"), "ERROR: Unexpected element 'Option' in element 'PFC' of '%s'!"},
        {inPfc("<Branch><Dialogue/></Branch>"), "ERROR: Unexpected element 'Dialogue' in element 'Branch' of '%s'!"},
        {inPfc("<Branch><Option><Option/></Option></Branch>"),
         "ERROR: Unexpected element 'Option' in element 'Option' of '%s'!"},
        {inPfc("<Dialogue><Cutaway/></Dialogue>"), "ERROR: Unexpected element 'Cutaway' in element 'Dialogue' of '%s'!"},
        {inPfc("<Branch>words</Branch>"), "ERROR: Unexpected text in element 'Branch' of '%s'!"},
        {inPfc("<Cutaway>\"" + std::string(513, 'z') + "\"</Cutaway>"),
         "ERROR: A line of 513 bytes in element 'Cutaway' of '%s' is longer than 512 bytes!"},
        {inPfc("<Branch><Option><Branch/><Cutaway/></Option></Branch>"),
         "ERROR: Records follow a nested Branch in '%s'; the game would read them at the top level!"},
        {inPfc("<Branch><Option><Branch/></Option><Option/></Branch>"),
         "ERROR: Records follow a nested Branch in '%s'; the game would read them at the top level!"},
    };
    for (const Bad& c : cases) {
        SCOPED_TRACE(c.xml);
        open("CONV.PFC", smallTable());
        put("CONV.PFC.xml", c.xml);
        std::string out;
        EXPECT_FALSE(repack("CONV.PFC.xml", &out));
        std::string error = c.error;
        error.replace(error.find("%s"), 2, dir.file("CONV.PFC.xml"));
        EXPECT_EQ(errorLines(out), std::vector<std::string>{error});
        EXPECT_EQ(quietlySerialised(*pfc), smallTable());
        deleteContainer(pfc);
        pfc = nullptr;
    }
}

TEST_F(PfcContainer, UnconvertibleTablesStayRaw)
{
    for (const TableCase& c : rawTables()) {
        SCOPED_TRACE(c.what);
        scope.options.verbosity = 2;
        std::string out;
        out = captured([&] { pfc = openPfc("RAW.PFC", c.bytes); });
        ASSERT_NE(pfc, nullptr);
        EXPECT_FALSE(pfc->converts);
        const bool deep = c.bytes.size() == 100000 || std::string(c.what).find("128") == 0;
        EXPECT_EQ(out, std::string(" -> 'RAW.PFC' stays raw: ") +
                           (deep ? "its branches nest too deeply.\n" : "its XML would not rebuild it exactly.\n"));
        EXPECT_EQ(quietlySerialised(*pfc), c.bytes);
        scope.options.verbosity = 0;
        extract("out/RAW.PFC");
        EXPECT_EQ(readFile(dir.file("out/RAW.PFC")), c.bytes);
        EXPECT_FALSE(exists(dir.file("out/RAW.PFC.xml")));
        iotest::writeFile(dir.file("out/RAW.PFC"), {1, 2, 3});
        EXPECT_TRUE(repack("out/RAW.PFC"));
        EXPECT_EQ(quietlySerialised(*pfc), (Bytes{1, 2, 3}));
        deleteContainer(pfc);
        pfc = nullptr;
    }
}

TEST_F(PfcContainer, WithoutConversionTheBytesGoOutAndComeBackRaw)
{
    scope.options.noConvert = 1;
    open("CONV.PFC", smallTable());
    EXPECT_TRUE(pfc->converts);
    EXPECT_STREQ(pfc->matchName().c_str(), "CONV.PFC");
    extract("CONV.PFC");
    EXPECT_EQ(readFile(dir.file("CONV.PFC")), smallTable());
    EXPECT_FALSE(exists(dir.file("CONV.PFC.xml")));
    const Bytes other = cutaway("NEW", 1, 0, "replaced");
    iotest::writeFile(dir.file("CONV.PFC"), other);
    EXPECT_TRUE(repack("CONV.PFC"));
    EXPECT_FALSE(pfc->converts);
    EXPECT_EQ(pfc->built, nullptr);
    EXPECT_EQ(quietlySerialised(*pfc), other);
}

TEST_F(PfcContainer, RepackTakesXmlByItsExtensionInAnyCase)
{
    open("CONV.PFC", smallTable());
    put("CONV.PFC.XML", inPfc("<Cutaway>'upper'</Cutaway>"));
    EXPECT_TRUE(repack("CONV.PFC.XML"));
    EXPECT_EQ(quietlySerialised(*pfc), cutaway("", 1, 0, "upper"));
    // Any other name is raw bytes, even when they hold XML.
    put("CONV.PFC", inPfc("<Cutaway>'raw'</Cutaway>"));
    EXPECT_TRUE(repack("CONV.PFC"));
    EXPECT_EQ(quietlySerialised(*pfc), bytesOf(inPfc("<Cutaway>'raw'</Cutaway>")));
    std::string out;
    EXPECT_FALSE(repack("MISSING.PFC.xml", &out));
    EXPECT_EQ(errorLines(out), std::vector<std::string>{"ERROR: Couldn't read '" + dir.file("MISSING.PFC.xml") + "'!"});
    EXPECT_EQ(quietlySerialised(*pfc), bytesOf(inPfc("<Cutaway>'raw'</Cutaway>")));
}

TEST_F(PfcContainer, TopLevelTableUsesTheDirectoryOfTheCommandLine)
{
    open("../data/CONV.PFC", smallTable());
    extract("out/");
    EXPECT_EQ(textOf(readFile(dir.file("out/CONV.PFC.xml"))), SMALL_TABLE_XML);
    EXPECT_TRUE(repack("out/"));
    EXPECT_EQ(quietlySerialised(*pfc), smallTable());
    // Only the raw file there: it is taken.
    const Bytes other = cutaway("X", 1, 0, "raw");
    mkdir(dir.file("raw").c_str(), 0755);
    iotest::writeFile(dir.file("raw/CONV.PFC"), other);
    EXPECT_TRUE(repack("raw/"));
    EXPECT_EQ(quietlySerialised(*pfc), other);
    std::string out;
    EXPECT_FALSE(repack("none/", &out));
    EXPECT_EQ(errorLines(out), std::vector<std::string>{"ERROR: Couldn't read '" + dir.file("none/CONV.PFC") + "'!"});
}

TEST_F(PfcContainer, WriteFailureIsReported)
{
    open("CONV.PFC", smallTable());
    put("blocker", "a file where a directory should be");
    u32 count = 5;
    const std::string out = extract("blocker/CONV.PFC", &count);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(errorLines(out),
              std::vector<std::string>({"ERROR: Write failure for '" + dir.file("blocker/CONV.PFC.xml") + "'!",
                                        "ERROR: Couldn't write '" + dir.file("blocker/CONV.PFC.xml") +
                                            "' (Not a directory)!"}));
    clearToolFailure();
}

TEST_F(PfcContainer, HashLineShowsTheDigestOfTheTable)
{
    open("CONV.PFC", smallTable());
    scope.options.verbosity = 2;
    Md5 context;
    const std::string out = captured([&] { pfc->hashContents(context, 3); });
    Md5 expected;
    const Bytes bytes = smallTable();
    expected.update(bytes.data(), u32(bytes.size()));
    u8 digest[16];
    expected.final(digest);
    u64 first = 0;
    for (int i = 7; i >= 0; i--)
        first = (first << 8) | digest[i];
    EXPECT_EQ(out, "   PFC -> " + std::to_string(first) + "\n");
}

TEST(PfcDetection, NamesEndingInPfcAreTablesWhateverTheirBytes)
{
    OptionScope scope;
    for (const char* name : {"CONV.PFC", "conv.pfc", "dir/X.Pfc", ".PFC"}) {
        for (const Bytes& bytes : {Bytes{}, bytesOf("1234"), smallTable()}) {
            SCOPED_TRACE(name);
            ByteArray array = toArray(bytes);
            Container* c = nullptr;
            captured([&] { c = detectContainer(String(name), array); });
            ASSERT_NE(c, nullptr);
            EXPECT_EQ(c->typeCode, CONTAINER_PFC);
            deleteContainer(c);
        }
    }
    ByteArray array = toArray(smallTable());
    Container* c = nullptr;
    captured([&] { c = detectContainer(String("CONV.PFC.BAK"), array); });
    EXPECT_EQ(c, nullptr);
    deleteContainer(c);
    // The "FORM" test comes first: such data under a table's name is an IFF document.
    ByteArray form = toArray(bytesOf(std::string("FORM\0\0\0\4TEST", 12)));
    for (const char* name : {"CONV.PFC", "conv.pfc"}) {
        captured([&] { c = detectContainer(String(name), form); });
        ASSERT_NE(c, nullptr);
        EXPECT_EQ(c->typeCode, CONTAINER_IFF);
        deleteContainer(c);
    }
}

// Whatever the bytes, opening never crashes and the table serialises to exactly them.
TEST(PfcHostile, AnyBytesOpenAndComeBackUnchanged)
{
    OptionScope scope;
    std::vector<Bytes> inputs;
    std::mt19937 rng(2024);
    for (int i = 0; i < 60; i++) {
        Bytes b(rng() % 400);
        for (u8& x : b)
            x = (rng() % 3 == 0) ? u8(rng() % 9) : u8(rng());
        inputs.push_back(b);
    }
    const Bytes rich = convertibleTables()[8].bytes + rawTables()[11].bytes;
    for (size_t n = 0; n <= rich.size(); n += 3)
        inputs.push_back(Bytes(rich.begin(), rich.begin() + n));
    Bytes options = branch("A", "", 0, 0);
    for (int i = 0; i < 20000; i++)
        options.push_back(i % 2 ? 5 : 7);
    inputs.push_back(options);
    inputs.push_back(Bytes(70000, 5));
    inputs.push_back(Bytes(5000, 0));
    for (const Bytes& b : inputs) {
        ContainerPFC* pfc = openPfc("H.PFC", b);
        ASSERT_NE(pfc, nullptr);
        captured([&] {
            pfc->list(0);
            Md5 md5;
            pfc->hashContents(md5, 0);
        });
        EXPECT_EQ(quietlySerialised(*pfc), b) << b.size();
        deleteContainer(pfc);
    }
}

TEST_F(PfcContainer, TablesInsideAnArchiveExtractAndRepackByTheirNames)
{
    const Bytes raw = cutaway("L", 1, 0, "a bell \x07 keeps this raw");
    const Bytes tre = treLayout({{"README.TXT", bytesOf("hello")},
                             {"CONV\\BAR.PFC", smallTable()},
                             {"CONV\\RAW.PFC", raw},
                             {"conv\\low.pfc", {}}});
    ByteArray array = toArray(tre);
    Container* archive = nullptr;
    captured([&] { archive = detectContainer(String("T.TRE"), array); });
    ASSERT_NE(archive, nullptr);
    captured([&] { archive->extract(at("out"), 0); });
    EXPECT_EQ(textOf(readFile(dir.file("out/CONV/BAR.PFC.xml"))), SMALL_TABLE_XML);
    EXPECT_EQ(readFile(dir.file("out/CONV/RAW.PFC")), raw);
    EXPECT_EQ(textOf(readFile(dir.file("out/conv/low.pfc.xml"))), "<PFC Version=\"1\"/>\n\n");
    EXPECT_FALSE(exists(dir.file("out/CONV/BAR.PFC")));

    bool ok = false;
    std::string printed = captured([&] { ok = archive->repack(at("out"), String(), 0); });
    EXPECT_TRUE(ok) << printed;
    EXPECT_EQ(errorLines(printed), std::vector<std::string>{});
    EXPECT_EQ(quietlySerialised(*archive), tre);

    put("out/CONV/BAR.PFC.xml", inPfc("<Cutaway background=\"NEW\">'edited'</Cutaway>"));
    put("out/conv/low.pfc.xml", inPfc("<Dialogue/>"));
    printed = captured([&] { ok = archive->repack(at("out"), String(), 0); });
    EXPECT_TRUE(ok) << printed;
    const Bytes edited = treLayout({{"README.TXT", bytesOf("hello")},
                                {"CONV\\BAR.PFC", cutaway("NEW", 1, 0, "edited")},
                                {"CONV\\RAW.PFC", raw},
                                {"conv\\low.pfc", encodeXml(inPfc("<Dialogue/>"))}});
    EXPECT_EQ(quietlySerialised(*archive), edited);

    put("out/CONV/BAR.PFC.xml", inPfc("<Cutaway background=\"MUCH TOO LONG\"/>"));
    printed = captured([&] { ok = archive->repack(at("out"), String(), 0); });
    EXPECT_FALSE(ok);
    ASSERT_FALSE(errorLines(printed).empty());
    EXPECT_EQ(errorLines(printed)[0], "ERROR: Bad value 'MUCH TOO LONG' for attribute 'background' of element 'Cutaway' in '" +
                                          dir.file("out/CONV/BAR.PFC.xml") + "'!");
    deleteContainer(archive);
}
