// The XML writer escapes nothing, so text from the data reaches an XML file only when it needs no
// escape: record texts that would need one leave their chunk to the text dump, ids that are no
// XML names are written under names that are, and dialogue tables whose names or lines would
// need one stay raw.
#include "tests/tool/convert/PfcTestUtil.h"
#include "tests/tool/convert/schemas/SchemaTestUtil.h"

#include <gtest/gtest.h>

#include <string>

namespace
{
using namespace schematest;

std::string dumped(const char* text)
{
    return std::string("<CAST OriginalSize=\"8\">\n ") + text + "\n</CAST>\n";
}
}

TEST(PlainXmlText, ValuesAndTextsThatNeedNoEscape)
{
    struct Case
    {
        const char* text;
        bool value, inText;
    } cases[] = {
        {"", true, true},           {"PILOT 9'>=/?!", true, true}, {"A\x7F" "B", true, true},
        {"say \"hi\"", false, true}, {"a\tb\nc", false, true},      {"]]", true, true},
        {"x]]>y", true, false},     {"a<b", false, false},         {"a&b", false, false},
        {"a\rb", false, false},     {"\x1B", false, false},        {"caf\xE9", false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(isPlainXmlValue(String(c.text)), c.value) << c.text;
        EXPECT_EQ(isPlainXmlText(String(c.text)), c.inText) << c.text;
    }
}

TEST(PlainXmlText, RecordTextsThatNeedEscapesLeaveTheChunkToTheTextDump)
{
    struct Case
    {
        Bytes name;
        std::string xml;
    } cases[] = {
        {text("ABCD", 8), "<CAST OriginalSize=\"8\" Handler=\"SectorCast\">\n <Member Kind=\"ABCD\"/>\n</CAST>\n"},
        {text("ION\x7FGUN", 8),
         "<CAST OriginalSize=\"8\" Handler=\"SectorCast\">\n <Member Kind=\"ION\x7FGUN\"/>\n</CAST>\n"},
        {text("A&B", 8), dumped("0x41 0x26 0x42 0x00 0x00 0x00 0x00 0x00")},
        {text("<TAG>", 8), dumped("0x3C 0x54 0x41 0x47 0x3E 0x00 0x00 0x00")},
        {text("SAY\"WHAT", 8), dumped("SAY\"WHAT")},
        {text("TAIL>GUN", 8), dumped("TAIL 0x3E GUN")},
        {text("BOSUN'S", 8), dumped("BOSUN'S 0x00")},
        {text("TAB\tWORD", 8), dumped("TAB 0x09 WORD")},
        {text("\x01" "CTRL", 8), dumped("0x01 CTRL 0x00 0x00 0x00")},
        {text("CAF\xE9", 8), dumped("0x43 0x41 0x46 0xE9 0x00 0x00 0x00 0x00")},
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

TEST(PlainXmlText, DialogueTablesWhoseTextsNeedEscapesStayRaw)
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
        {cutaway("BAR", 1, 0, "salt & pepper"), false},
        {cutaway("BAR", 1, 0, "a <b>"), false},
        {cutaway("BAR", 1, 0, "x ]]> y"), false},
        {cutaway("BAR", 1, 0, "one\r\ntwo"), false},
        {cutaway("BAR", 1, 0, "ring\x07"), false},
        {cutaway("BAR", 1, 0, "caf\xE9"), false},
        {dialogue("A&B", "", "", 1, 0, "x", 0), false},
        {dialogue("", "<E>", "", 1, 0, "x", 0), false},
        {dialogue("", "", "Q\"T", 1, 0, "x", 0), false},
        {cutaway("A\tB", 1, 0, "x"), false},
        {cutaway("\xE9T\xE9", 1, 0, "x"), false},
        {cat({pfctest::branch("A\nB", "", 0, 0), pfctest::END_BRANCH}), false},
    };
    for (const Case& c : cases) {
        ContainerPFC* pfc = pfctest::openPfc("T.PFC", c.table);
        ASSERT_NE(pfc, nullptr);
        EXPECT_EQ(pfc->converts, c.converts) << hexOf(c.table);
        EXPECT_EQ(pfctest::quietlySerialised(*pfc), c.table);
        deleteContainer(pfc);
    }
}
