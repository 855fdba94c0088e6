#include "SchemaTestUtil.h"

using namespace schematest;

namespace
{
// One stored jump record: index, the filler the games write, the type field, 31 data bytes
// (first, first + 1, ...) and the destination.
Bytes jump(u8 index, const Bytes& type, u8 first, u8 destination, const char* filler = "JUMPTYPE", u8 byte1 = 0)
{
    Bytes data(31);
    for (u32 i = 0; i < 31; i++)
        data[i] = u8(first + i);
    return cat({raw({index, byte1}), str(filler), type, data, raw({destination})});
}

std::string dataText(u8 first)
{
    std::string s;
    char t[8];
    for (u32 i = 0; i < 31; i++) {
        snprintf(t, sizeof(t), "0x%02X ", u8(first + i));
        s += t;
    }
    return s;
}

const Bytes NAV = raw({'N', 'A', 'V', 0});
}

// Bodies the sector schemas claim, as XML, and the same bytes written back from that XML.
TEST(SectorSchemas, ChunksAsXmlAndBack)
{
    struct Case
    {
        const char* path;
        const char* id;
        Bytes body;
        std::string xml;
    } cases[] = {
        {"SSSS.SECT", "CAST", cat({text("ABCD", 8), str("EFGHIJKL")}),
         "<CAST OriginalSize=\"16\" Handler=\"SectorCast\">\n"
         " <Member Kind=\"ABCD\"/>\n"
         " <Member Kind=\"EFGHIJKL\"/>\n"
         "</CAST>\n"},
        // The prefix and the suffix may share the dot.
        {"SSSS", "CAST", text("PILOT", 8),
         "<CAST OriginalSize=\"8\" Handler=\"SectorCast\">\n <Member Kind=\"PILOT\"/>\n</CAST>\n"},
        {"SSSS", "CAST", {}, "<CAST OriginalSize=\"0\" Handler=\"SectorCast\"/>\n"},
        {"SSSS.LOAD", "OBJT", cat({text("FIGHTER", 8), text("", 8)}),
         "<OBJT OriginalSize=\"16\" Handler=\"SectorLoadObjectTypes\">\n"
         " <Type Name=\"FIGHTER\"/>\n"
         " <Type Name=\"\"/>\n"
         "</OBJT>\n"},
        {"SSSS.A.LOAD", "APPR", text("ASTEROID", 8),
         "<APPR OriginalSize=\"8\" Handler=\"SectorLoadAppearance\">\n <Type Name=\"ASTEROID\"/>\n</APPR>\n"},
        {"SSSS", "JUMP", jump(3, NAV, 0, 7),
         "<JUMP OriginalSize=\"46\" Handler=\"SectorJumps\">\n"
         " <Jump Index=\"3\" Type=\"NAV\" Destination=\"7\">\n"
         "  <Data>\n"
         "   " + dataText(0) + "\n"
         "  </Data>\n"
         " </Jump>\n"
         "</JUMP>\n"},
        {"SSSS.NAVS", "JUMP", cat({jump(0, str("GATE"), 0xE1, 255), jump(255, raw({0, 0, 0, 0}), 0x30, 0)}),
         "<JUMP OriginalSize=\"92\" Handler=\"SectorJumps\">\n"
         " <Jump Index=\"0\" Type=\"GATE\" Destination=\"255\">\n"
         "  <Data>\n"
         "   " + dataText(0xE1) + "\n"
         "  </Data>\n"
         " </Jump>\n"
         " <Jump Index=\"255\" Type=\"\" Destination=\"0\">\n"
         "  <Data>\n"
         "   " + dataText(0x30) + "\n"
         "  </Data>\n"
         " </Jump>\n"
         "</JUMP>\n"},
    };
    for (const Case& c : cases) {
        const std::string xml = chunkXml(c.path, c.id, c.body);
        EXPECT_EQ(xml, c.xml) << c.path << "." << c.id;
        bool ok = false;
        EXPECT_EQ(hexOf(chunkBytes(xml, &ok)), hexOf(chunkOf(c.id, c.body))) << c.path << "." << c.id;
        EXPECT_TRUE(ok);
    }
}

// Paths and sizes the sector schemas do not take, and bodies whose XML would not give the same
// bytes back: all of them are shown as text.
TEST(SectorSchemas, OtherChunksStayText)
{
    struct Case
    {
        const char* path;
        const char* id;
        Bytes body;
    } cases[] = {
        {"SSSS", "CAST", text("ABCD", 12)},
        {"ssss", "CAST", text("ABCD", 8)},
        {"SSSX", "CAST", text("ABCD", 8)},
        {"XSSSS", "CAST", text("ABCD", 8)},
        {"SSSS", "CASX", text("ABCD", 8)},
        {"SSSS", "OBJT", text("ABCD", 8)},
        {"SSSS.LOAD", "APPX", text("ABCD", 8)},
        {"SSSS", "JUMP", Bytes(45, 0x41)},
        {"SSSS", "JUMP", cat({jump(1, NAV, 0, 2), raw({1})})},
        {"REAL", "JUMP", jump(1, NAV, 0, 2)},
        // Bytes the XML does not show.
        {"SSSS", "CAST", cat({text("AB", 4), str("CDEF")})},
        {"SSSS", "JUMP", jump(1, raw({'N', 0, 'A', 'V'}), 0, 2)},
        {"SSSS", "JUMP", jump(1, NAV, 0, 2, "JUMPTYPX")},
        {"SSSS", "JUMP", jump(1, NAV, 0, 2, "JUMPTYPE", 9)},
    };
    for (const Case& c : cases) {
        std::string expected = std::string("<") + c.id + " OriginalSize=\"" + std::to_string(c.body.size()) +
                               "\">\n " + chunkBodyToText(c.body.data(), u32(c.body.size())).c_str() + "\n</" +
                               c.id + ">\n";
        const std::string xml = chunkXml(c.path, c.id, c.body);
        EXPECT_EQ(xml, expected) << c.path << "." << c.id;
        EXPECT_EQ(hexOf(chunkBytes(xml)), hexOf(chunkOf(c.id, c.body))) << c.path << "." << c.id;
    }
}

// Writing back takes only what the schemas write: records named as they are written, each field
// once with a value it holds, a jump's 31 data bytes; anything else is named and refused.
TEST(SectorSchemas, WriteBackIsStrict)
{
    auto jumpXml = [](const char* attributes, const std::string& data) {
        return std::string("<JUMP><Jump ") + attributes + "><Data>" + data + "</Data></Jump></JUMP>";
    };
    const std::string spread = "0x00\n0x01\t0x02 " + dataText(3).substr(0, 28 * 5 - 1);
    const std::vector<WriteBackCase> cases = {
        {"SectorCast", "<CAST><Member Kind=\"A\"/><Member Kind=\"12345678\"/></CAST>",
         cat({text("A", 8), str("12345678")}), ""},
        {"SectorCast", "<CAST/>", Bytes{}, ""},
        {"SectorLoadObjectTypes", "<OBJT><Type Name=\"\"/></OBJT>", text("", 8), ""},
        {"SectorJumps", jumpXml("Index=\"1\" Type=\"NAV\" Destination=\"2\"", dataText(5)), jump(1, NAV, 5, 2), ""},
        {"SectorJumps", jumpXml("Destination=\"2\" Type=\"NAV\" Index=\"1\"", spread), jump(1, NAV, 0, 2), ""},
        {"SectorCast", "<CAST><Member Kind=\"ABCDEFGHIJ\"/></CAST>", std::nullopt,
         "ERROR: Bad value 'ABCDEFGHIJ' for attribute 'Kind' of element 'Member' in 'TEST.xml'!\n"},
        {"SectorCast", "<CAST><Member/></CAST>", std::nullopt,
         "ERROR: Missing attribute 'Kind' in element 'Member' of 'TEST.xml'!\n"},
        {"SectorCast", "<CAST><Other Kind=\"B\"/></CAST>", std::nullopt,
         "ERROR: Unexpected element 'Other' in element 'CAST' of 'TEST.xml'!\n"},
        {"SectorCast", "<CAST><Member Kind=\"A\" Kind=\"B\"/></CAST>", std::nullopt,
         "ERROR: Unexpected attribute 'Kind' in element 'Member' of 'TEST.xml'!\n"},
        {"SectorLoadAppearance", "<APPR><Type Name=\"A\" Kind=\"B\"/></APPR>", std::nullopt,
         "ERROR: Unexpected attribute 'Kind' in element 'Type' of 'TEST.xml'!\n"},
        {"SectorCast", "<CAST><Member Kind=\"A\">words</Member></CAST>", std::nullopt,
         "ERROR: Unexpected text in element 'Member' of 'TEST.xml'!\n"},
        {"SectorJumps", jumpXml("Index=\"300\" Type=\"NAV\" Destination=\"2\"", dataText(5)), std::nullopt,
         "ERROR: Bad value '300' for attribute 'Index' of element 'Jump' in 'TEST.xml'!\n"},
        {"SectorJumps", jumpXml("Index=\"1\" Type=\"TOOLONG\" Destination=\"2\"", dataText(5)), std::nullopt,
         "ERROR: Bad value 'TOOLONG' for attribute 'Type' of element 'Jump' in 'TEST.xml'!\n"},
        {"SectorJumps", jumpXml("Index=\"1\" Type=\"NAV\"", dataText(5)), std::nullopt,
         "ERROR: Missing attribute 'Destination' in element 'Jump' of 'TEST.xml'!\n"},
        {"SectorJumps", jumpXml("Index=\"1\" Type=\"NAV\" Destination=\"2\"", "0x01 0x02 0x03"), std::nullopt,
         "ERROR: Bad value '0x01 0x02 0x03' in element 'Data' of 'TEST.xml'!\n"},
        {"SectorJumps", "<JUMP><Jump Index=\"1\" Type=\"NAV\" Destination=\"2\"/></JUMP>", std::nullopt,
         "ERROR: Missing element 'Data' in element 'Jump' of 'TEST.xml'!\n"},
    };
    checkWriteBacks(cases);
}

// A sector file converted through the IFF container, its XML written back, and an edited
// document giving the records it asks for.
TEST(SectorSchemas, SectorDocumentRoundTrip)
{
    OptionScope scope;
    const Bytes cast = cat({text("PILOT", 8), str("WINGMAN1")});
    const Bytes load = form("LOAD", cat({chunk("OBJT", text("FIGHTER", 8)), chunk("APPR", text("ROCK", 8))}));
    const Bytes jumps = cat({jump(1, NAV, 0x10, 2), jump(2, str("GATE"), 0x80, 1)});
    const Bytes image = form("SSSS", cat({chunk("CAST", cast), load, chunk("JUMP", jumps), chunk("NOTE", "odd")}));
    const std::string xml = xmlOf(image);
    EXPECT_EQ(xml,
              "<IFF Version=\"1\">\n"
              " <SSSS FormType=\"FORM\" OriginalSize=\"" + std::to_string(image.size() - 8) + "\">\n"
              "  <CAST OriginalSize=\"16\" Handler=\"SectorCast\">\n"
              "   <Member Kind=\"PILOT\"/>\n"
              "   <Member Kind=\"WINGMAN1\"/>\n"
              "  </CAST>\n"
              "  <LOAD FormType=\"FORM\" OriginalSize=\"36\">\n"
              "   <OBJT OriginalSize=\"8\" Handler=\"SectorLoadObjectTypes\">\n"
              "    <Type Name=\"FIGHTER\"/>\n"
              "   </OBJT>\n"
              "   <APPR OriginalSize=\"8\" Handler=\"SectorLoadAppearance\">\n"
              "    <Type Name=\"ROCK\"/>\n"
              "   </APPR>\n"
              "  </LOAD>\n"
              "  <JUMP OriginalSize=\"92\" Handler=\"SectorJumps\">\n"
              "   <Jump Index=\"1\" Type=\"NAV\" Destination=\"2\">\n"
              "    <Data>\n"
              "     " + dataText(0x10) + "\n"
              "    </Data>\n"
              "   </Jump>\n"
              "   <Jump Index=\"2\" Type=\"GATE\" Destination=\"1\">\n"
              "    <Data>\n"
              "     " + dataText(0x80) + "\n"
              "    </Data>\n"
              "   </Jump>\n"
              "  </JUMP>\n"
              "  <NOTE OriginalSize=\"3\">\n"
              "   0x6F 0x64 0x64\n"
              "  </NOTE>\n"
              " </SSSS>\n"
              "</IFF>\n");
    bool ok = false;
    EXPECT_EQ(hexOf(iffOf(xml, &ok)), hexOf(image));
    EXPECT_TRUE(ok);

    // Edited: a cast member renamed and one dropped, a jump retargeted with other data.
    std::string edited = xml;
    edited.replace(edited.find("   <Member Kind=\"PILOT\"/>\n"), 26, "");
    edited.replace(edited.find("WINGMAN1"), 8, "ACE");
    const size_t data = edited.find(dataText(0x80));
    edited.replace(data, dataText(0x80).size(), dataText(0xA0));
    edited.replace(edited.find("Destination=\"1\""), 15, "Destination=\"5\"");
    const Bytes expected = form("SSSS", cat({chunk("CAST", text("ACE", 8)), load,
                                             chunk("JUMP", cat({jump(1, NAV, 0x10, 2), jump(2, str("GATE"), 0xA0, 5)})),
                                             chunk("NOTE", "odd")}));
    // The form keeps the size it declares unless that is changed too.
    const std::string formSize = "OriginalSize=\"" + std::to_string(image.size() - 8) + "\"";
    const Bytes padded = cat({str("FORM"), be32(u32(image.size() - 8)), Bytes(expected.begin() + 8, expected.end()),
                              Bytes(image.size() - expected.size(), 0)});
    EXPECT_EQ(hexOf(iffOf(edited, &ok)), hexOf(padded));
    const std::string newSize = "OriginalSize=\"" + std::to_string(expected.size() - 8) + "\"";
    edited.replace(edited.find(formSize), formSize.size(), newSize);
    EXPECT_EQ(hexOf(iffOf(edited, &ok)), hexOf(expected));
    EXPECT_TRUE(ok);
}
