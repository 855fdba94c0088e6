// Text from the data reaches an XML file escaped where XML needs it, and reads back as its bytes:
// only control bytes, which no XML document carries, leave a record's chunk to the text dump or a
// dialogue table raw; ids that are no XML names are written under names that are.
#include "framework/xml/XmlText.h"
#include "tests/tool/convert/PfcTestUtil.h"
#include "tests/tool/convert/schemas/SchemaTestUtil.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>

namespace
{
using namespace schematest;

std::string dumped(const char* text)
{
    return std::string("<CAST OriginalSize=\"8\">\n ") + text + "\n</CAST>\n";
}

std::string member(const char* kind)
{
    return std::string("<CAST OriginalSize=\"8\" Handler=\"SectorCast\">\n <Member Kind=\"") + kind + "\"/>\n</CAST>\n";
}

// The bytes read from document text; none when a character is refused (then held in `refused`).
std::optional<std::string> decoded(const char* text, u64 length, XmlRefusal& refused,
                                   const XmlTextKind& kind = XmlTextKind())
{
    String read;
    if (!decodeXmlText(text, length, read, refused, kind))
        return std::nullopt;
    return std::string(read.c_str(), read.length);
}
}

TEST(PlainXmlText, TextIsEscapedOnlyWhereXmlNeedsItAndReadBackAsItsBytes)
{
    struct Case
    {
        const char* bytes;
        const char* inAttribute;
        const char* inText;
    } cases[] = {
        {"PILOT 9'>=/?!", "PILOT 9'>=/?!", "PILOT 9'>=/?!"},
        {"say \"hi\"", "say &quot;hi&quot;", "say \"hi\""},
        {"a\tb\nc", "a&#x9;b&#xA;c", "a\tb\nc"},
        {"x]]>y <&", "x]]&gt;y &lt;&amp;", "x]]&gt;y &lt;&amp;"},
        {"one\r\ntwo", "one&#xD;&#xA;two", "one&#xD;\ntwo"},
        {"caf\xE9 \xFF\x80", "caf&#xE9; &#xFF;&#x80;", "caf&#xE9; &#xFF;&#x80;"},
    };
    for (const Case& c : cases) {
        for (const bool attribute : {true, false}) {
            String written;
            appendXmlEscaped(written, c.bytes, strlen(c.bytes), attribute);
            EXPECT_EQ(std::string(written.c_str()), attribute ? c.inAttribute : c.inText) << c.bytes;
            XmlRefusal refused;
            XmlTextKind kind;
            kind.attribute = attribute;
            EXPECT_EQ(decoded(written.data, written.length, refused, kind), std::string(c.bytes));
        }
    }
    // Read as XML tools write: references of any kind and any number of leading zeros, UTF-8
    // (never an overlong form), CR LF, each byte itself in ISO-8859-1, blanks in attributes for
    // what a reference does not give; what is no reference stays; a character above U+00FF (no
    // byte), or a byte above 0x7F in US-ASCII, is refused.
    XmlTextKind latin1, ascii, attribute;
    latin1.encoding = XmlEncoding::LATIN1;
    ascii.encoding = XmlEncoding::ASCII;
    attribute.attribute = true;
    const struct
    {
        const char* read;
        const char* bytes;
        XmlTextKind kind;
    } readings[] = {
        {"&#65;&#x42;&#x0043;&apos;&gt;", "ABC'>", {}},
        {"&#0000000233;&#00000000233;&#x00000E9;", "\xE9\xE9\xE9", {}},
        {"caf\xC3\xA9", "caf\xE9", {}},
        {"caf\xE9", "caf\xE9", {}},
        {"\xE0\x81\x81", "\xE0\x81\x81", {}},
        {"a\r\nb\rc", "a\nb\nc", {}},
        {"&nbsp; & &#; &#x;", "&nbsp; & &#; &#x;", {}},
        {"&#0;", nullptr, {}},
        {"&#x0001;", nullptr, attribute},
        {"a\x01" "b", nullptr, {}},
        {"a\x1F" "b", nullptr, attribute},
        {"caf\xC3\xA9 &#xE9;", "caf\xC3\xA9 \xE9", latin1},
        {"plain &amp; ascii", "plain & ascii", ascii},
        {"a\tb\nc\r\nd\re", "a b c d e", attribute},
        {"&#9;&#10;&#13;&#x20;", "\t\n\r ", attribute},
        {"\xE2\x82\xAC", nullptr, {}},
        {"&#x20AC;", nullptr, {}},
        {"&#256;", nullptr, {}},
        {"&#99999999999;", nullptr, {}},
        {"&#000000000256;", nullptr, {}},
        {"caf\xE9", nullptr, ascii},
    };
    for (const auto& r : readings) {
        XmlRefusal refused;
        const std::optional<std::string> read = decoded(r.read, strlen(r.read), refused, r.kind);
        EXPECT_EQ(read, r.bytes ? std::optional<std::string>(r.bytes) : std::nullopt) << r.read;
        EXPECT_EQ(refused.character > 0xFFu || refused.byte || refused.forbidden, !r.bytes) << r.read;
    }
    EXPECT_TRUE(xmlCanHold("\t\r\n\x7F\xFF", 5));
    EXPECT_FALSE(xmlCanHold("ring\x07", 5));
}

TEST(PlainXmlText, RecordTextsAreEscapedAndOnlyControlBytesLeaveTheChunkToTheTextDump)
{
    struct Case
    {
        Bytes name;
        std::string xml;
    } cases[] = {
        {text("ABCD", 8), "<CAST OriginalSize=\"8\" Handler=\"SectorCast\">\n <Member Kind=\"ABCD\"/>\n</CAST>\n"},
        {text("ION\x7FGUN", 8),
         "<CAST OriginalSize=\"8\" Handler=\"SectorCast\">\n <Member Kind=\"ION\x7FGUN\"/>\n</CAST>\n"},
        {text("A&B", 8), member("A&amp;B")},
        {text("<TAG>", 8), member("&lt;TAG>")},
        {text("SAY\"WHAT", 8), member("SAY&quot;WHAT")},
        {text("TAIL>GUN", 8), member("TAIL>GUN")},
        {text("BOSUN'S", 8), member("BOSUN'S")},
        {text("TAB\tWORD", 8), member("TAB&#x9;WORD")},
        {text("CAF\xE9", 8), member("CAF&#xE9;")},
        {text("\x01" "CTRL", 8), dumped("0x01 CTRL 0x00 0x00 0x00")},
    };
    for (const Case& c : cases) {
        const std::string xml = chunkXml("SSSS.CAST", "CAST", c.name);
        EXPECT_EQ(xml, c.xml);
        bool ok = false;
        EXPECT_EQ(hexOf(chunkBytes(xml, &ok)), hexOf(chunkOf("CAST", c.name))) << xml;
        EXPECT_TRUE(ok) << xml;
    }
}

TEST(PlainXmlText, IdsThatAreNoXmlNamesGetNamesThatAre)
{
    OptionScope scope;
    const Bytes image = form("9LIV", cat({chunk("1ABC", "1"), chunk("-DSH", "2"), chunk(".DOT", "3"),
                                          chunk("A:B ", "4"), chunk("#$%!", "5"), chunk("\x80\x81" "AB", "6"),
                                          chunk("A-.Z", "7"), container("CAT ", "<F>\0", chunk("x_9 ", "8"))}));
    const std::string xml = xmlOf(image);
    EXPECT_EQ(xml, "<IFF Version=\"1\">\n"
                   " <_9LIV FormType=\"FORM\" RawName=\"0x39 0x4C 0x49 0x56\" OriginalSize=\"96\">\n"
                   "  <_1ABC OriginalSize=\"1\" RawName=\"0x31 0x41 0x42 0x43\">\n   0x31\n  </_1ABC>\n"
                   "  <_-DSH OriginalSize=\"1\" RawName=\"0x2D 0x44 0x53 0x48\">\n   0x32\n  </_-DSH>\n"
                   "  <_.DOT OriginalSize=\"1\" RawName=\"0x2E 0x44 0x4F 0x54\">\n   0x33\n  </_.DOT>\n"
                   "  <A_B OriginalSize=\"1\" RawName=\"0x41 0x3A 0x42 0x20\">\n   0x34\n  </A_B>\n"
                   "  <____ OriginalSize=\"1\" RawName=\"0x23 0x24 0x25 0x21\">\n   0x35\n  </____>\n"
                   "  <__AB OriginalSize=\"1\" RawName=\"0x80 0x81 0x41 0x42\">\n   0x36\n  </__AB>\n"
                   "  <A-.Z OriginalSize=\"1\">\n   0x37\n  </A-.Z>\n"
                   "  <_F_ FormType=\"CAT\" RawName=\"0x3C 0x46 0x3E 0x00\" OriginalSize=\"14\">\n"
                   "   <x_9 OriginalSize=\"1\">\n    0x38\n   </x_9>\n"
                   "  </_F_>\n"
                   " </_9LIV>\n"
                   "</IFF>\n");
    EXPECT_EQ(hexOf(iffOf(xml)), hexOf(image));
}

TEST(PlainXmlText, DialogueTablesConvertEscapedAndStayRawOnlyForControlBytes)
{
    OptionScope scope;
    using pfctest::cutaway;
    using pfctest::dialogue;
    struct Case
    {
        Bytes table;
        bool converts;
    } cases[] = {
        {dialogue("BOSUN'S", "A>B", "BAR", 1, 0, "it's \"fine\" > ok\ttab\nline", 0), true},
        {cutaway("\x7F", 1, 0, "\x7F"), true},
        {cutaway("BAR", 1, 0, "salt & pepper"), true},
        {cutaway("BAR", 1, 0, "a <b>"), true},
        {cutaway("BAR", 1, 0, "x ]]> y"), true},
        {cutaway("BAR", 1, 0, "one\r\ntwo"), true},
        {cutaway("BAR", 1, 0, "caf\xE9"), true},
        {dialogue("A&B", "", "", 1, 0, "x", 0), true},
        {dialogue("", "<E>", "", 1, 0, "x", 0), true},
        {dialogue("", "", "Q\"T", 1, 0, "x", 0), true},
        {cutaway("A\tB", 1, 0, "x"), true},
        {cutaway("\xE9T\xE9", 1, 0, "x"), true},
        {cat({pfctest::branch("A\nB", "", 0, 0), pfctest::END_BRANCH}), true},
        {cutaway("BAR", 1, 0, "ring\x07"), false},
        {dialogue("", "\x1B", "", 1, 0, "x", 0), false},
    };
    for (const Case& c : cases) {
        ContainerPFC* pfc = pfctest::openPfc("T.PFC", c.table);
        ASSERT_NE(pfc, nullptr);
        EXPECT_EQ(pfc->converts, c.converts) << hexOf(c.table);
        EXPECT_EQ(pfctest::quietlySerialised(*pfc), c.table);
        deleteContainer(pfc);
    }
}
