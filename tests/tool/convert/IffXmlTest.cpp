#include "IffTestUtil.h"
#include "framework/io/MemoryStream.h"
#include "tool/convert/ChunkCompression.h"
#include "tool/convert/IffToXml.h"
#include "tool/convert/XmlToIff.h"

#include <random>

using namespace ifftest;

namespace
{
Bytes parsedText(const std::string& text)
{
    ByteBuffer out;
    parseChunkText(out, String(text.c_str()));
    return Bytes(out.data(), out.data() + out.length);
}

std::string dumpOf(const Bytes& body)
{
    return chunkBodyToText(body.data(), u32(body.size())).c_str();
}
}

// The text form of a body, and the bytes that text gives back.
TEST(IffText, BodiesAsText)
{
    struct Case
    {
        Bytes body;
        const char* text;
    } cases[] = {
        {cat({str("HELLO"), raw({0})}), "HELLO 0x00"},
        {raw({'A', 'B', 1}), "0x41 0x42 0x01"},
        {str("WORD1 X"), "WORD1 X"},
        {cat({str("WORD "), raw({0})}), "WORD 0x20 0x00"},
        {{}, ""},
        {str("ABCD<x>&"), "ABCD 0x3C 0x78 0x3E 0x26"},
        {cat({raw({0}), str("name=value; two words"), raw({10, 0xFF})}), "0x00 name=value; two words 0x0A 0xFF"},
        {str("ab  cdef  "), "ab 0x20 0x20 cdef 0x20 0x20"},
        {cat({str("Q"), raw({1}), str("RSTUV")}), "0x51 0x01 RSTUV"},
        // Literals that would read back as tokens: every byte becomes a token instead.
        {str("ab 0x41 cd"), "0x61 0x62 0x20 0x30 0x78 0x34 0x31 0x20 0x63 0x64"},
        {str("0x7F and more"), "0x30 0x78 0x37 0x46 0x20 0x61 0x6E 0x64 0x20 0x6D 0x6F 0x72 0x65"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(dumpOf(c.body), c.text);
        EXPECT_EQ(hexOf(parsedText(c.text)), hexOf(c.body)) << c.text;
    }
    // The dump is not read back when made: any body, "0x" in it or not, reads back as itself.
    std::mt19937 rng(17);
    static const char pieces[] = "0xX0Af9g  \t";
    for (int round = 0; round < 3000; round++) {
        Bytes body = str("WORD");
        for (int k = int(rng() % 24); k > 0; k--)
            body.insert(body.begin() + rng() % (body.size() + 1), u8(pieces[rng() % (sizeof(pieces) - 1)]));
        ASSERT_EQ(hexOf(parsedText(dumpOf(body))), hexOf(body)) << dumpOf(body);
    }
}

TEST(IffText, TokensAndLiteralsParsed)
{
    struct Case
    {
        const char* text;
        Bytes bytes;
    } cases[] = {
        {"0x41 0x42 HELLO 0x00", cat({raw({0x41, 0x42}), str("HELLO"), raw({0})})},
        {"AB 0x4", str("AB 0x4")},
        {"0x410x42", str("0x410x42")},
        {"  0x41\n\t0x42  ", raw({0x41, 0x42})},
        {"a  b", str("a  b")},
        {"x 0x41", str("xA")},
        {"0X7f 0xfF", raw({0x7F, 0xFF})},
        {"0x41\n  text here\n0x42", cat({raw({0x41}), str("text here"), raw({0x42})})},
    };
    for (const Case& c : cases)
        EXPECT_EQ(hexOf(parsedText(c.text)), hexOf(c.bytes)) << c.text;
}

TEST(IffText, IdsAsText)
{
    EXPECT_STREQ(chunkIdToText(TD::fourCC("CAT ")).c_str(), "CAT");
    EXPECT_STREQ(chunkIdToText(TD::fourCC("AB\0\0")).c_str(), "AB");
    EXPECT_STREQ(chunkIdToText(TD::fourCC("A\0B ")).c_str(), "A");
    EXPECT_STREQ(chunkIdToText(0).c_str(), "");
    EXPECT_STREQ(chunkIdToHex(TD::fourCC("A\0B ")).c_str(), "0x41 0x00 0x42 0x20");
    EXPECT_TRUE(isTextualChunkId(TD::fourCC("AB_ ")));
    EXPECT_FALSE(isTextualChunkId(TD::fourCC("    ")));
    EXPECT_FALSE(isTextualChunkId(TD::fourCC("AB-C")));
    EXPECT_STREQ(joinFormPath(String(), String("REAL")).c_str(), "REAL");
    EXPECT_STREQ(joinFormPath(String("REAL.OBJT"), String("DATA")).c_str(), "REAL.OBJT.DATA");
}

TEST(IffXml, SmallDocumentsAsText)
{
    OptionScope scope;
    EXPECT_EQ(xmlOf(form("TEST", chunk("DATA", cat({str("HELLO"), raw({0})})))),
              "<IFF Version=\"1\">\n"
              " <TEST FormType=\"FORM\" OriginalSize=\"18\">\n"
              "  <DATA OriginalSize=\"6\">\n"
              "   HELLO 0x00\n"
              "  </DATA>\n"
              " </TEST>\n"
              "</IFF>\n");

    const Bytes image = form("ROOT", cat({chunk("AB\0\0", str("text")), chunk("ODD ", str("abc"), 0x7F),
                                          container("CAT ", "KIND", chunk("ZERO", {})), chunk("EVEN", "0123")}));
    EXPECT_EQ(xmlOf(image),
              "<IFF Version=\"1\">\n"
              " <ROOT FormType=\"FORM\" OriginalSize=\"60\">\n"
              "  <AB OriginalSize=\"4\" RawName=\"0x41 0x42 0x00 0x00\">\n"
              "   text\n"
              "  </AB>\n"
              "  <ODD OriginalSize=\"3\" PadByte=\"0x7F\">\n"
              "   0x61 0x62 0x63\n"
              "  </ODD>\n"
              "  <KIND FormType=\"CAT\" OriginalSize=\"12\">\n"
              "   <ZERO OriginalSize=\"0\"/>\n"
              "  </KIND>\n"
              "  <EVEN OriginalSize=\"4\">\n"
              "   0123\n"
              "  </EVEN>\n"
              " </ROOT>\n"
              "</IFF>\n");
}

TEST(IffXml, OddIdsAreKeptAsHex)
{
    OptionScope scope;
    // Ids that are no XML names are written under a safe name and given back from RawName.
    const Bytes image = form("A<B>", cat({chunk("\0\0\0\0", "1"), chunk("a b ", "2"), chunk("\"/=?", "3")}));
    const std::string xml = xmlOf(image);
    EXPECT_NE(xml.find("<A_B_ FormType=\"FORM\" RawName=\"0x41 0x3C 0x42 0x3E\""), std::string::npos) << xml;
    EXPECT_NE(xml.find("<_ OriginalSize=\"1\" RawName=\"0x00 0x00 0x00 0x00\""), std::string::npos) << xml;
    EXPECT_NE(xml.find("<a_b OriginalSize=\"1\" RawName=\"0x61 0x20 0x62 0x20\""), std::string::npos) << xml;
    EXPECT_NE(xml.find("<____ OriginalSize=\"1\" RawName=\"0x22 0x2F 0x3D 0x3F\""), std::string::npos) << xml;
    EXPECT_EQ(hexOf(iffOf(xml)), hexOf(image));
}

TEST(IffXml, TablesAndTheirRecords)
{
    OptionScope scope;
    const Bytes tabl = table(12, {form("RECA", chunk("X   ", "0")), form("RECB", {})});
    const Bytes image = cat({str("FORM"), be32(u32(4 + tabl.size())), str("TBLS"), tabl});
    EXPECT_EQ(xmlOf(image),
              "<IFF Version=\"1\" Quirks=\"Tables\">\n"
              " <TBLS FormType=\"FORM\" OriginalSize=\"62\">\n"
              "  <Table OriginalSize=\"46\" TableSize=\"2\">\n"
              "   <TableEntry>\n"
              "    <RECA FormType=\"FORM\" OriginalSize=\"14\">\n"
              "     <X OriginalSize=\"1\">\n"
              "      0x30\n"
              "     </X>\n"
              "    </RECA>\n"
              "   </TableEntry>\n"
              "   <TableEntry>\n"
              "    <RECB FormType=\"FORM\" OriginalSize=\"4\"/>\n"
              "   </TableEntry>\n"
              "  </Table>\n"
              " </TBLS>\n"
              "</IFF>\n");
}

// The schemas see the dotted path of the enclosing form types and the chunk id.
TEST(IffXml, SchemasSeeTheFormPath)
{
    struct PathSchema : ChunkSchema
    {
        std::vector<std::string>* seen;
        explicit PathSchema(std::vector<std::string>* s) : ChunkSchema("Paths"), seen(s) {}
        bool matches(const String& formPath, Stream&) override
        {
            seen->push_back(formPath.c_str());
            return false;
        }
        void toXml(Stream&, XmlWriter&) override {}
        bool fromXml(XmlReader&, ByteBuffer&, IffWriter&) override { return true; }
    };
    std::vector<std::string> seen;
    SchemaList schemas(true);
    schemas.push(memNew<PathSchema>(&seen));
    const Bytes image = form("REAL", form("OBJT", form("MISL", chunk("DATA", "1234"))));
    TD::Array<unsigned char> data(image.data(), u32(image.size()));
    TD::ByteArrayReader reader(&data);
    TD::IFF* iff = TD::IFF::open(reader);
    TextBuilder text;
    XmlWriter xml(text);
    IffXmlOut out{xml, schemas};
    EXPECT_TRUE(containerToXml(*iff, String(), out, 1, true));
    TD::deleteObject(iff);
    EXPECT_EQ(seen, std::vector<std::string>{"REAL.OBJT.MISL.DATA"});
}

struct WriteCase
{
    const char* what;
    const char* xml;
    Bytes bytes;
};

TEST(IffWrite, ElementsToBytes)
{
    const WriteCase cases[] = {
        {"tokens and a word", "<IFF Version=\"1\"><A FormType=\"FORM\"><ZZ>0x41 0x42 HELLO 0x00</ZZ></A></IFF>",
         form("A", chunk("ZZ", cat({raw({0x41, 0x42}), str("HELLO"), raw({0})})))},
        {"pad byte from hex", "<IFF Version=\"1\"><A FormType=\"FORM\"><ODD PadByte=\"0x7F\">abc</ODD></A></IFF>",
         form("A", chunk("ODD", str("abc"), 0x7F))},
        {"no pad byte given", "<IFF Version=\"1\"><A FormType=\"FORM\"><ODD>abc</ODD></A></IFF>", form("A", chunk("ODD", str("abc")))},
        {"pad byte from decimal", "<IFF Version=\"1\"><A FormType=\"FORM\"><ODD PadByte=\"255\">abc</ODD></A></IFF>",
         form("A", chunk("ODD", str("abc"), 0xFF))},
        {"declared size beyond the content",
         "<IFF Version=\"1\"><A FormType=\"FORM\" OriginalSize=\"100\"><B>0x01 0x02 0x03 0x04 0x05 0x06 0x07 0x08 "
         "0x09 0x0A 0x0B 0x0C</B></A></IFF>",
         cat({str("FORM"), be32(100), str("A   "), chunk("B", raw({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12})),
              Bytes(76, 0)})},
        {"list and cat containers",
         "<IFF Version=\"1\"><A FormType=\"FORM\"><L FormType=\"LIST\"><X>1</X></L><C FormType=\"CAT\"/></A></IFF>",
         form("A", cat({container("LIST", "L   ", chunk("X   ", "1")), container("CAT ", "C   ", {})}))},
        {"ids from RawName", "<IFF Version=\"1\"><A FormType=\"FORM\" RawFormType=\"0x46 0x4F 0x52 0x4D\"><B RawName=\"0x00 0x01 "
                             "0x02 0x03\"/></A></IFF>",
         form("A", chunk("\0\1\2\3", {}))},
    };
    for (const WriteCase& c : cases) {
        bool ok = false;
        EXPECT_EQ(hexOf(iffOf(c.xml, &ok)), hexOf(c.bytes)) << c.what;
        EXPECT_TRUE(ok) << c.what;
    }
}

TEST(IffWrite, TableOffsetsAreAbsolute)
{
    const char* xml = "<IFF Version=\"1\"><T FormType=\"FORM\"><Table TableSize=\"3\"><TableEntry><R1 FormType=\"FORM\"/></TableEntry>"
                      "<TableEntry><R2 FormType=\"FORM\"><X>0x05</X></R2></TableEntry></Table></T></IFF>";
    const Bytes r1 = form("R1", {});
    const Bytes r2 = form("R2", chunk("X", raw({5})));
    // FORM header (12), "TABL" and its size (8), three offsets (12): the first record at 32.
    const Bytes expected = cat({str("FORM"), be32(u32(4 + 8 + 12 + 8 + r1.size() + r2.size())), str("T   "),
                                str("TABL"), be32(12), le32(32), le32(u32(36 + r1.size())), le32(0),
                                le32(u32(r1.size())), r1, le32(u32(r2.size())), r2});
    EXPECT_EQ(hexOf(iffOf(xml)), hexOf(expected));
}

TEST(IffWrite, BadValuesAreReported)
{
    struct Case
    {
        const char* xml;
        const char* lines;
        Bytes bytes; // what is still built
    } cases[] = {
        {"<IFF Version=\"1\"><A FormType=\"FORM\"><B RawName=\"0x41 0x42\">1</B></A></IFF>",
         "ERROR: Invalid IFF RawName='0x41 0x42' on XML element 'B'.\n", form("A", chunk("AB  ", "1"))},
        {"<IFF Version=\"1\"><A FormType=\"FORM\"><B RawName=\"0x41 0x42 0x43 0x44 0x45\"/></A></IFF>",
         "ERROR: Invalid IFF RawName='0x41 0x42 0x43 0x44 0x45' on XML element 'B'.\n", form("A", chunk("ABCD", {}))},
        {"<IFF Version=\"1\"><A FormType=\"FORM\"><B OriginalSize=\"ten\">1</B></A></IFF>",
         "ERROR: Invalid IFF OriginalSize='ten' on XML element 'B'.\n", form("A", chunk("B", "1"))},
        {"<IFF Version=\"1\"><A FormType=\"FORM\"><B PadByte=\"0xZZ\">1</B></A></IFF>",
         "ERROR: Invalid IFF PadByte='0xZZ' on XML element 'B'.\n", form("A", chunk("B", "1"))},
        {"<IFF Version=\"1\"><A FormType=\"FORM\"><B Handler=\"NoSuchSchema\"/></A></IFF>",
         "ERROR: IFF chunk 'B' uses Handler='NoSuchSchema', but that handler cannot write XML back to bytes.\n",
         form("A", chunk("B", {}))},
        {"<IFF Version=\"1\"><A FormType=\"FORM\"><B Compression=\"Deflate\">0x01</B></A></IFF>",
         "ERROR: IFF chunk compression 'Deflate' cannot be written yet.\n"
         "ERROR: Failed to compress IFF chunk 'B' with 'Deflate'.\n",
         form("A", chunk("B", raw({1})))},
        {"<IFF Version=\"1\"><A FormType=\"FORM\" OriginalSize=\"4000000000\"><B>1</B></A></IFF>",
         "ERROR: Invalid IFF OriginalSize='4000000000' on XML element 'A'.\n", form("A", chunk("B", "1"))},
        {"<IFF Version=\"1\"><A FormType=\"FORM\"><Table TableSize=\"x\"/></A></IFF>",
         "ERROR: Invalid IFF TableSize='x' on XML element 'Table'.\n", form("A", cat({str("TABL"), be32(0)}))},
    };
    for (const Case& c : cases) {
        bool ok = true;
        EXPECT_EQ(captured([&] { iffOf(c.xml, &ok, false); }), c.lines);
        EXPECT_FALSE(ok);
        // Element by element, what can be built still is.
        SchemaList schemas(true);
        IffWriter writer(schemas, true);
        ByteBuffer out;
        XmlReader in(c.xml, strlen(c.xml));
        ASSERT_EQ(in.next(), XmlReader::START);
        while (in.next() == XmlReader::START)
            EXPECT_FALSE(xmlToIff(out, in, writer, 0));
        EXPECT_EQ(hexOf(Bytes(out.data(), out.data() + out.length)), hexOf(c.bytes)) << c.xml;
    }
}

// Text where the tool writes none would be lost: it is refused, naming the element it stands in.
TEST(IffWrite, TextInATableIsRefused)
{
    const auto table = [](const char* between, const char* inside) {
        return std::string("<IFF Version=\"1\"><T FormType=\"FORM\"><Table TableSize=\"2\"><TableEntry>") + inside +
               "<R1 FormType=\"FORM\"/></TableEntry>" + between +
               "<TableEntry><R2 FormType=\"FORM\"/></TableEntry></Table></T></IFF>";
    };
    const struct
    {
        std::string xml;
        const char* element;
    } cases[] = {{table("stray words", ""), "Table"}, {table("", "0x41"), "TableEntry"}};
    for (const auto& c : cases) {
        bool ok = true;
        const std::string out = captured([&] { iffOf(c.xml, &ok, false); });
        EXPECT_FALSE(ok) << c.xml;
        EXPECT_EQ(out, std::string("ERROR: Unexpected text in element '") + c.element + "' of 'TEST.IFF.xml'!\n");
    }
    bool ok = false;
    iffOf(table("\n  ", ""), &ok);
    EXPECT_TRUE(ok);
}

TEST(IffWrite, DeepDocumentsAreRefused)
{
    std::string xml = "<IFF Version=\"1\">";
    for (int i = 0; i < 300; i++)
        xml += "<DEEP FormType=\"FORM\">";
    for (int i = 0; i < 300; i++)
        xml += "</DEEP>";
    xml += "</IFF>";
    bool ok = true;
    iffOf(xml, &ok);
    EXPECT_FALSE(ok);
}

TEST(IffCompression, HeadersAndRefusals)
{
    EXPECT_STREQ(compressionName(COMPRESSION_REFPACK), "RefPack");
    EXPECT_STREQ(compressionName(COMPRESSION_REFPACK_4), "RefPack_4");
    EXPECT_STREQ(compressionName(COMPRESSION_LZWX), "LZWX");
    EXPECT_STREQ(compressionName(3), "");
    EXPECT_EQ(compressionCode(String("refpack")), COMPRESSION_NONE);

    struct Case
    {
        Bytes body;
        u8 code;
    } detected[] = {
        {raw({0x10, 0xFB, 0, 0, 5, 0}), COMPRESSION_REFPACK}, {raw({0x90, 0xFB, 0, 0, 0, 5}), COMPRESSION_REFPACK_4},
        {cat({str("LZ"), le32(5)}), COMPRESSION_LZWX},       {raw({0x10, 0xFB, 0, 0, 5}), COMPRESSION_NONE},
        {str("LZ...."), COMPRESSION_LZWX},                   {str("FORMAT"), COMPRESSION_NONE},
    };
    for (const Case& c : detected) {
        ByteArray a = toArray(c.body);
        EXPECT_EQ(detectChunkCompression(a), c.code) << hexOf(c.body);
    }
    // Size fields out of range, or more than the stream could give, decode to nothing.
    for (const Bytes& b : {raw({0x10, 0xFB, 0, 0, 0, 0xFC}), raw({0x90, 0xFB, 4, 0, 0, 1, 0xFC}),
                           cat({str("LZ"), le32(0), raw({0})}), raw({0x10, 0xFB, 0xFF, 0xFF, 0xFF, 0xFC})}) {
        ByteArray a = toArray(b);
        EXPECT_EQ(decompressChunkBody(a, detectChunkCompression(a)), nullptr) << hexOf(b);
    }

    ByteArray big(u32(0x1000000));
    ByteArray* packed = nullptr;
    EXPECT_EQ(captured([&] { packed = compressChunkBody(big, String("RefPack")); }),
              "ERROR: IFF RefPack chunk is too large for 24-bit size header.\n");
    EXPECT_EQ(packed, nullptr);
    ByteArray small(u32(4));
    EXPECT_EQ(captured([&] { packed = compressChunkBody(small, String("ZIP")); }),
              "ERROR: IFF chunk compression 'ZIP' cannot be written yet.\n");
    EXPECT_EQ(packed, nullptr);
}

TEST(IffXml, OddChunkEndings)
{
    struct Case
    {
        Bytes data;
        bool odd;
    } cases[] = {
        {form("A", chunk("ODD ", "abc")), true},
        {form("A", chunk("EVEN", "ab")), false},
        {form("A", form("B", chunk("ODD ", "abc"))), true},
        {form("A", cat({chunk("ODD ", "abc"), chunk("EVEN", "ab")})), false},
        {chunk("ODD ", "abc"), true},
        {str("FORM"), false},
        {form("A", container("CAT ", "B   ", chunk("ODD ", "abc"))), false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(endsWithOddChunk(c.data.data(), 0, c.data.size()), c.odd) << hexOf(c.data);
}
