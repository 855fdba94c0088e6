#include "framework/xml/XmlText.h"
#include "WeaponSchemaTestUtil.h"

using namespace schematest;

namespace
{
Bytes gunsHeader(u8 automatic, u32 energy, u32 regen)
{
    return cat({raw({automatic}), le32(energy), le32(regen)});
}

Bytes gun(const char* name, u8 unknown, double x, double y, double z)
{
    return cat({txt(name, 8), raw({unknown}), fx(x), fx(y), fx(z)});
}

Bytes missile(const char* name, u8 unknown, u32 count, double x, double y, double z)
{
    return cat({txt(name, 8), raw({unknown}), le32(count), fx(x), fx(y), fx(z)});
}

const Bytes twoGuns = cat({gunsHeader(1, 1000, 25), gun("LASER", 3, 1.5, -2, 10.25),
                           gun("MASSDRVR", 255, 0, 0.00390625, -0.5)});
}

TEST(FighterWeaponSchemas, ChunksConvertBothWays)
{
    checkConversions({
        {"guns with two mounts", "SHIP.WEAP.FGTR", "GUNS", twoGuns,
         "<GUNS OriginalSize=\"51\" Handler=\"FighterGuns\">\n"
         " <Guns Auto=\"yes\" GunEnergy=\"1000\" RegenRate=\"25\">\n"
         "  <Gun Name=\"LASER\" Unknown=\"3\" PositionX=\"1.5\" PositionY=\"-2\" PositionZ=\"10.25\"/>\n"
         "  <Gun Name=\"MASSDRVR\" Unknown=\"255\" PositionX=\"0\" PositionY=\"0.00390625\" PositionZ=\"-0.5\"/>\n"
         " </Guns>\n"
         "</GUNS>\n"},
        {"guns header alone", "A.B.WEAP.FGTR", "GUNS", gunsHeader(0, 4294967295u, 0),
         "<GUNS OriginalSize=\"9\" Handler=\"FighterGuns\">\n"
         " <Guns Auto=\"no\" GunEnergy=\"4294967295\" RegenRate=\"0\"/>\n"
         "</GUNS>\n"},
        {"special guns, an odd body", "REAL.WEAP.FGTR", "SPCL", gun("PULSER", 0, -1, 0, 2.75),
         "<SPCL OriginalSize=\"21\" Handler=\"FighterSpecialGuns\">\n"
         " <Gun Name=\"PULSER\" Unknown=\"0\" PositionX=\"-1\" PositionY=\"0\" PositionZ=\"2.75\"/>\n"
         "</SPCL>\n"},
        {"no special guns", "REAL.WEAP.FGTR", "SPCL", {},
         "<SPCL OriginalSize=\"0\" Handler=\"FighterSpecialGuns\"/>\n"},
        {"missiles", "SHIP.WEAP.FGTR", "MISL",
         cat({fx(0.5), missile("STRAIGHT", 1, 4, -3.5, 0, 1), missile("HEATSEEK", 0, 2, 3.5, -0.25, 1)}),
         "<MISL OriginalSize=\"54\" Handler=\"FighterMissiles\">\n"
         " <Missiles Delay=\"0.5\">\n"
         "  <Missile Name=\"STRAIGHT\" Unknown=\"1\" Count=\"4\" PositionX=\"-3.5\" PositionY=\"0\" PositionZ=\"1\"/>\n"
         "  <Missile Name=\"HEATSEEK\" Unknown=\"0\" Count=\"2\" PositionX=\"3.5\" PositionY=\"-0.25\" PositionZ=\"1\"/>\n"
         " </Missiles>\n"
         "</MISL>\n"},
        {"missile header alone", "SHIP.WEAP.FGTR", "MISL", fx(-1.25),
         "<MISL OriginalSize=\"4\" Handler=\"FighterMissiles\">\n"
         " <Missiles Delay=\"-1.25\"/>\n"
         "</MISL>\n"},
    });
}

TEST(FighterWeaponSchemas, MatchRules)
{
    struct Case
    {
        const char* path;
        u32 size;
        const char* schema;
    } cases[] = {
        {"SHIP.WEAP.FGTR.GUNS", 51, "FighterGuns"},
        {"SHIP.WEAP.FGTR.GUNS", 0, "FighterGuns"},
        {"SSSS.OBJT.WEAP.FGTR.GUNS", 7, "FighterGuns"},
        {"REAL.OBJT.WEAP.FGTR.GUNS", 1000, "FighterGuns"},
        {"SHIP.WEAP.FGTR.SPCL", 3, "FighterSpecialGuns"},
        {"SHIP.WEAP.FGTR.MISL", 54, "FighterMissiles"},
        {"REAL.OBJT.WEAP.FGTR.MISL", 35, "FighterMissiles"},
        // The suffix needs the dot before WEAP: a root form WEAP is not enough.
        {"WEAP.FGTR.GUNS", 9, ""},
        {"SHIP.weap.fgtr.guns", 9, ""},
        {"SHIP.WEAP.FGTR.GUNS.DATA", 9, ""},
        {"SHIP.FGTR.GUNS", 9, ""},
        {"SHIP.WEAP.FGTR.GUN", 9, ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(matchingSchema(c.path, c.size), c.schema) << c.path << " " << c.size;
}

// Bodies whose XML would not give them back: the schema's reading and writing, and the chunk
// left as text in the document.
TEST(FighterWeaponSchemas, BodiesTheXmlCannotHoldStayText)
{
    struct Case
    {
        const char* what;
        const char* schema;
        const char* id;
        Bytes body;
        std::string xml;
        Bytes written;
    } cases[] = {
        {"empty guns", "FighterGuns", "GUNS", {},
         "<CHNK>\n <Guns Auto=\"no\" GunEnergy=\"0\" RegenRate=\"0\"/>\n</CHNK>\n", Bytes(9, 0)},
        {"empty missiles", "FighterMissiles", "MISL", {}, "<CHNK>\n <Missiles Delay=\"0\"/>\n</CHNK>\n", Bytes(4, 0)},
        {"ten bytes after the last gun", "FighterGuns", "GUNS",
         cat({gunsHeader(0, 1, 2), gun("LASER", 3, 1, 1, 1), str("NEUTRONG"), raw({9, 'Z'})}),
         "<CHNK>\n"
         " <Guns Auto=\"no\" GunEnergy=\"1\" RegenRate=\"2\">\n"
         "  <Gun Name=\"LASER\" Unknown=\"3\" PositionX=\"1\" PositionY=\"1\" PositionZ=\"1\"/>\n"
         "  <Gun Name=\"NEUTRONG\" Unknown=\"9\" PositionX=\"0\" PositionY=\"0\" PositionZ=\"0\"/>\n"
         "  <Gun Name=\"Z\" Unknown=\"0\" PositionX=\"0\" PositionY=\"0\" PositionZ=\"0\"/>\n"
         " </Guns>\n"
         "</CHNK>\n",
         cat({gunsHeader(0, 1, 2), gun("LASER", 3, 1, 1, 1), gun("NEUTRONG", 9, 0, 0, 0), gun("Z", 0, 0, 0, 0)})},
        {"an Auto byte of 2", "FighterGuns", "GUNS", gunsHeader(2, 0, 0),
         "<CHNK>\n <Guns Auto=\"yes\" GunEnergy=\"0\" RegenRate=\"0\"/>\n</CHNK>\n", gunsHeader(1, 0, 0)},
        {"bytes after a name's NUL", "FighterSpecialGuns", "SPCL", cat({txt("AB\0CD", 8, 5), Bytes(13, 0)}),
         "<CHNK>\n <Gun Name=\"AB\" Unknown=\"0\" PositionX=\"0\" PositionY=\"0\" PositionZ=\"0\"/>\n</CHNK>\n",
         gun("AB", 0, 0, 0, 0)},
        {"a missile cut short", "FighterMissiles", "MISL", cat({fx(1), str("SPIKE"), raw({0, 0, 0, 7, 1, 0})}),
         "<CHNK>\n"
         " <Missiles Delay=\"1\">\n"
         "  <Missile Name=\"SPIKE\" Unknown=\"7\" Count=\"0\" PositionX=\"0\" PositionY=\"0\" PositionZ=\"0\"/>\n"
         "  <Missile Name=\"\x01\" Unknown=\"0\" Count=\"0\" PositionX=\"0\" PositionY=\"0\" PositionZ=\"0\"/>\n"
         " </Missiles>\n"
         "</CHNK>\n",
         cat({fx(1), missile("SPIKE", 7, 0, 0, 0, 0), missile("\x01", 0, 0, 0, 0, 0)})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(toXmlOf(c.schema, c.body), c.xml);
        // The schema's own text of a body with control bytes is no XML at all: refused when read.
        const SchemaWrite w = schemaBody(c.schema, c.xml);
        const bool carried = xmlCanHold(c.xml.data(), c.xml.size());
        if (carried) {
            EXPECT_EQ(hexOf(w.body), hexOf(c.written));
        }
        EXPECT_EQ(w.result, carried);
        const std::string document = chunkXml("SHIP.WEAP.FGTR", c.id, c.body);
        EXPECT_EQ(document.find("Handler"), std::string::npos) << document;
        EXPECT_EQ(hexOf(chunkBytes(document)), hexOf(chunkOf(c.id, c.body)));
    }
}

TEST(FighterWeaponSchemas, WritingEditedXmlBack)
{
    const char* lasers = "<Gun Name=\"LASER\" Unknown=\"3\" PositionX=\"1.5\" PositionY=\"-2\" PositionZ=\"10.25\"/>";
    const Bytes laser = gun("LASER", 3, 1.5, -2, 10.25);
    const std::vector<WriteBackCase> cases = {
        {"FighterSpecialGuns", "<SPCL><Gun PositionZ=\"0\" PositionY=\"0\" PositionX=\"0\" Unknown=\"255\" Name=\"A\"/></SPCL>",
         gun("A", 255, 0, 0, 0), ""},
        {"FighterSpecialGuns", "<SPCL><Gun Name=\"\" Unknown=\"\" PositionX=\"\" PositionY=\"\" PositionZ=\"\"/></SPCL>",
         Bytes(21, 0), ""},
        {"FighterGuns", "<GUNS><Guns Auto=\"no\" GunEnergy=\"1\" RegenRate=\"2\">" + std::string(lasers) + "</Guns></GUNS>",
         cat({gunsHeader(0, 1, 2), laser}), ""},
        {"FighterMissiles", "<MISL><Missiles Delay=\"0x3FC00000\"/></MISL>", fx(1.5), ""},
        {"FighterSpecialGuns", "<SPCL><Gun PositionZ=\"0\" PositionY=\"0\" PositionX=\"0\" Unknown=\"256\" Name=\"A\"/></SPCL>",
         std::nullopt, "ERROR: Bad value '256' for attribute 'Unknown' of element 'Gun' in 'TEST.xml'!\n"},
        {"FighterSpecialGuns",
         "<SPCL><Gun Name=\"NEUTRONGUN\" Unknown=\"1\" PositionX=\"0\" PositionY=\"0\" PositionZ=\"0\"/></SPCL>",
         std::nullopt, "ERROR: Bad value 'NEUTRONGUN' for attribute 'Name' of element 'Gun' in 'TEST.xml'!\n"},
        {"FighterGuns",
         "<GUNS><Other/><Guns Auto=\"no\" GunEnergy=\"1\" RegenRate=\"2\">" + std::string(lasers) + "</Guns></GUNS>",
         std::nullopt, "ERROR: Unexpected element 'Other' in element 'GUNS' of 'TEST.xml'!\n"},
        {"FighterGuns",
         "<GUNS><Guns Auto=\"no\" GunEnergy=\"1\" RegenRate=\"2\"><Cannon Name=\"X\"/></Guns></GUNS>", std::nullopt,
         "ERROR: Unexpected element 'Cannon' in element 'Guns' of 'TEST.xml'!\n"},
        {"FighterGuns",
         "<GUNS><Guns Auto=\"true\" GunEnergy=\"1\" RegenRate=\"2\">" + std::string(lasers) +
             "<Gun Name=\"B\" Unknown=\"1\" PositionX=\"1\" PositionY=\"2\"/></Guns></GUNS>",
         std::nullopt, "ERROR: Missing attribute 'PositionZ' in element 'Gun' of 'TEST.xml'!\n"},
        {"FighterGuns", "<GUNS><Guns Auto=\"no\" GunEnergy=\"7\"/></GUNS>", std::nullopt,
         "ERROR: Missing attribute 'RegenRate' in element 'Guns' of 'TEST.xml'!\n"},
        {"FighterGuns", "<GUNS><Guns Auto=\"maybe\" GunEnergy=\"7\" RegenRate=\"1\"/></GUNS>", std::nullopt,
         "ERROR: Bad value 'maybe' for attribute 'Auto' of element 'Guns' in 'TEST.xml'!\n"},
        {"FighterGuns", "<GUNS>" + std::string(lasers) + "</GUNS>", std::nullopt,
         "ERROR: Unexpected element 'Gun' in element 'GUNS' of 'TEST.xml'!\n"},
        {"FighterSpecialGuns", "<SPCL><Guns>" + std::string(lasers) + "</Guns></SPCL>", std::nullopt,
         "ERROR: Unexpected element 'Guns' in element 'SPCL' of 'TEST.xml'!\n"},
        {"FighterMissiles",
         "<MISL><Missiles Delay=\"2\"><Missile Name=\"M\" Unknown=\"5\" PositionX=\"1\" PositionY=\"1\" "
         "PositionZ=\"1\"/></Missiles></MISL>",
         std::nullopt, "ERROR: Missing attribute 'Count' in element 'Missile' of 'TEST.xml'!\n"},
        {"FighterMissiles", "<MISL><Missiles/></MISL>", std::nullopt,
         "ERROR: Missing attribute 'Delay' in element 'Missiles' of 'TEST.xml'!\n"},
        {"FighterMissiles", "<MISL><Missiles Delay=\"1e10\"/></MISL>", std::nullopt,
         "ERROR: Bad value '1e10' for attribute 'Delay' of element 'Missiles' in 'TEST.xml'!\n"},
    };
    checkWriteBacks(cases);
}

// A handler that cannot write its chunk is reported; the chunk keeps what was written.
TEST(FighterWeaponSchemas, AFailedWriteIsReported)
{
    std::string printed;
    bool ok = true;
    const Bytes written =
        printedChunkBytes("<GUNS Handler=\"FighterGuns\"><Guns Auto=\"no\" GunEnergy=\"7\"/></GUNS>", printed, ok);
    EXPECT_EQ(printed,
              "ERROR: Missing attribute 'RegenRate' in element 'Guns' of 'TEST.xml'!\n"
              "ERROR: IFF chunk 'GUNS' uses Handler='FighterGuns', but that handler cannot write XML back to bytes.\n");
    EXPECT_FALSE(ok);
    EXPECT_EQ(hexOf(written), hexOf(chunkOf("GUNS", cat({raw({0}), le32(7)}))));

    // A handler name is exact.
    printedChunkBytes("<MISL Handler=\"fighterMissiles\"><Missiles Delay=\"1\"/></MISL>", printed, ok);
    EXPECT_EQ(printed, "ERROR: IFF chunk 'MISL' uses Handler='fighterMissiles', but that handler cannot write XML "
                       "back to bytes.\n");
    EXPECT_FALSE(ok);
}
