#include "WeaponSchemaTestUtil.h"

using namespace schematest;

namespace
{
Bytes turret(const char* model, const char* laser, u8 index, double shot, u32 view, double x, double y, double z,
             u32 angle)
{
    return cat({txt(model, 9), txt(laser, 9), raw({index}), fx(shot), le32(view), fx(x), fx(y), fx(z), le32(angle)});
}

const Bytes ballTurret = turret("BALLTURET", "LASER", 1, 0.25, 90, 0, 1.5, -4, 180);
const char* const ballTurretXml = "<Turret Model=\"BALLTURET\" Laser=\"LASER\" Index=\"1\" ShotTimeSecs=\"0.25\" "
                                  "ViewAngleDegrees=\"90\" PositionX=\"0\" PositionY=\"1.5\" PositionZ=\"-4\" "
                                  "AngleDegrees=\"180\"/>";
}

TEST(FighterDefenceSchemas, ChunksConvertBothWays)
{
    checkConversions({
        {"one decoy entry", "SHIP.WEAP.FGTR", "DECY", cat({le32(6), txt("CHAFF", 8)}),
         "<DECY OriginalSize=\"12\" Handler=\"FighterDecoys\">\n"
         " <Decoys Count=\"6\">\n"
         "  <Decoy Name=\"CHAFF\"/>\n"
         " </Decoys>\n"
         "</DECY>\n"},
        {"a decoy name of eight bytes", "SHIP.WEAP.FGTR", "DECY", cat({le32(4294967295u), txt("FLARESXL", 8)}),
         "<DECY OriginalSize=\"12\" Handler=\"FighterDecoys\">\n"
         " <Decoys Count=\"4294967295\">\n"
         "  <Decoy Name=\"FLARESXL\"/>\n"
         " </Decoys>\n"
         "</DECY>\n"},
        {"a count alone", "SHIP.WEAP.FGTR", "DECY", le32(3),
         "<DECY OriginalSize=\"4\" Handler=\"FighterDecoys\">\n"
         " <Decoys Count=\"3\"/>\n"
         "</DECY>\n"},
        {"no decoys", "SHIP.WEAP.FGTR", "DECY", {},
         "<DECY OriginalSize=\"0\" Handler=\"FighterDecoys\">\n"
         " <Decoys/>\n"
         "</DECY>\n"},
        {"two turrets", "REAL.WEAP.FGTR", "TURT",
         cat({ballTurret, turret("TAIL", "NEUTRON", 2, 1, 45, -0.5, 0, 8, 0)}),
         "<TURT OriginalSize=\"86\" Handler=\"FighterTurrets\">\n"
         " <Turrets>\n"
         "  " + std::string(ballTurretXml) + "\n"
         "  <Turret Model=\"TAIL\" Laser=\"NEUTRON\" Index=\"2\" ShotTimeSecs=\"1\" ViewAngleDegrees=\"45\" "
         "PositionX=\"-0.5\" PositionY=\"0\" PositionZ=\"8\" AngleDegrees=\"0\"/>\n"
         " </Turrets>\n"
         "</TURT>\n"},
        {"one turret, an odd body", "REAL.WEAP.FGTR", "TURT", ballTurret,
         "<TURT OriginalSize=\"43\" Handler=\"FighterTurrets\">\n"
         " <Turrets>\n"
         "  " + std::string(ballTurretXml) + "\n"
         " </Turrets>\n"
         "</TURT>\n"},
        {"no turrets", "REAL.WEAP.FGTR", "TURT", {},
         "<TURT OriginalSize=\"0\" Handler=\"FighterTurrets\">\n"
         " <Turrets/>\n"
         "</TURT>\n"},
    });
}

TEST(FighterDefenceSchemas, MatchRules)
{
    struct Case
    {
        const char* path;
        u32 size;
        const char* schema;
    } cases[] = {
        {"SHIP.WEAP.FGTR.DECY", 12, "FighterDecoys"}, {"SHIP.WEAP.FGTR.DECY", 0, "FighterDecoys"},
        {"X.Y.WEAP.FGTR.DECY", 5, "FighterDecoys"},   {"SHIP.WEAP.FGTR.TURT", 43, "FighterTurrets"},
        {"SHIP.WEAP.FGTR.TURT", 1, "FighterTurrets"}, {"SHIP.WEAP.CPTL.TURT", 43, "CapitalTurrets"},
        {"WEAP.FGTR.TURT", 43, ""},                   {"SHIP.WEAP.FGTR.Turt", 43, ""},
        {"SHIP.WEAP.DECY", 12, ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(matchingSchema(c.path, c.size), c.schema) << c.path << " " << c.size;
}

TEST(FighterDefenceSchemas, BodiesTheXmlCannotHoldStayText)
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
        {"bytes after the decoy entry", "FighterDecoys", "DECY", cat({le32(2), txt("CHAFF", 8), str("EXTRA!!!")}),
         "<CHNK>\n <Decoys Count=\"2\">\n  <Decoy Name=\"CHAFF\"/>\n </Decoys>\n</CHNK>\n",
         cat({le32(2), txt("CHAFF", 8)})},
        {"a decoy body of three bytes", "FighterDecoys", "DECY", str("ABC"),
         "<CHNK>\n <Decoys Count=\"0\">\n  <Decoy Name=\"ABC\"/>\n </Decoys>\n</CHNK>\n",
         cat({le32(0), txt("ABC", 8)})},
        {"a decoy name cut short", "FighterDecoys", "DECY", cat({le32(1), str("FL")}),
         "<CHNK>\n <Decoys Count=\"1\">\n  <Decoy Name=\"FL\"/>\n </Decoys>\n</CHNK>\n",
         cat({le32(1), txt("FL", 8)})},
        {"one byte after two turrets", "FighterTurrets", "TURT", cat({ballTurret, ballTurret, str("Q")}),
         "<CHNK>\n <Turrets>\n  " + std::string(ballTurretXml) + "\n  " + ballTurretXml +
             "\n  <Turret Model=\"Q\" Laser=\"\" Index=\"0\" ShotTimeSecs=\"0\" ViewAngleDegrees=\"0\" "
             "PositionX=\"0\" PositionY=\"0\" PositionZ=\"0\" AngleDegrees=\"0\"/>\n </Turrets>\n</CHNK>\n",
         cat({ballTurret, ballTurret, turret("Q", "", 0, 0, 0, 0, 0, 0, 0)})},
        {"a model with bytes after its NUL", "FighterTurrets", "TURT",
         cat({txt("BALL\0JUNK", 9, 9), Bytes(ballTurret.begin() + 9, ballTurret.end())}),
         "<CHNK>\n <Turrets>\n  <Turret Model=\"BALL\" Laser=\"LASER\" Index=\"1\" ShotTimeSecs=\"0.25\" "
         "ViewAngleDegrees=\"90\" PositionX=\"0\" PositionY=\"1.5\" PositionZ=\"-4\" AngleDegrees=\"180\"/>\n"
         " </Turrets>\n</CHNK>\n",
         cat({txt("BALL", 9), Bytes(ballTurret.begin() + 9, ballTurret.end())})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(toXmlOf(c.schema, c.body), c.xml);
        const SchemaWrite w = schemaBody(c.schema, c.xml);
        EXPECT_EQ(hexOf(w.body), hexOf(c.written));
        EXPECT_TRUE(w.result);
        const std::string document = chunkXml("SHIP.WEAP.FGTR", c.id, c.body);
        EXPECT_EQ(document.find("Handler"), std::string::npos) << document;
        EXPECT_EQ(hexOf(chunkBytes(document)), hexOf(chunkOf(c.id, c.body)));
    }
}

TEST(FighterDefenceSchemas, WritingEditedXmlBack)
{
    const std::vector<WriteBackCase> cases = {
        {"FighterDecoys", "<DECY><Decoys Count=\"2\"><Decoy Name=\"CHAFF\"/></Decoys></DECY>",
         cat({le32(2), txt("CHAFF", 8)}), ""},
        {"FighterDecoys", "<DECY><Decoys Count=\"2\"/></DECY>", le32(2), ""},
        {"FighterDecoys", "<DECY><Decoys/></DECY>", Bytes{}, ""},
        {"FighterTurrets", "<TURT><Turrets/></TURT>", Bytes{}, ""},
        {"FighterTurrets", "<TURT><Turrets>" + std::string(ballTurretXml) + "</Turrets></TURT>", ballTurret, ""},
        {"FighterDecoys",
         "<DECY><Decoys Count=\"2\"><Decoy Name=\"CHAFF\"/><Decoy Name=\"FLARE\"/></Decoys></DECY>", std::nullopt,
         "ERROR: Unexpected element 'Decoy' in element 'Decoys' of 'TEST.xml'!\n"},
        {"FighterDecoys", "<DECY><Decoys Count=\"2\"><Decoy Name=\"CHAFFCHAFF\"/></Decoys></DECY>", std::nullopt,
         "ERROR: Bad value 'CHAFFCHAFF' for attribute 'Name' of element 'Decoy' in 'TEST.xml'!\n"},
        {"FighterDecoys", "<DECY><Decoys Count=\"2\"><Flare Name=\"X\"/></Decoys></DECY>", std::nullopt,
         "ERROR: Unexpected element 'Flare' in element 'Decoys' of 'TEST.xml'!\n"},
        {"FighterDecoys", "<DECY><Decoys Count=\"9\"><Decoy/></Decoys></DECY>", std::nullopt,
         "ERROR: Missing attribute 'Name' in element 'Decoy' of 'TEST.xml'!\n"},
        {"FighterDecoys", "<DECY><Decoys Count=\"-2\"/></DECY>", std::nullopt,
         "ERROR: Bad value '-2' for attribute 'Count' of element 'Decoys' in 'TEST.xml'!\n"},
        {"FighterDecoys", "<DECY><Decoy Name=\"X\"/></DECY>", std::nullopt,
         "ERROR: Unexpected element 'Decoy' in element 'DECY' of 'TEST.xml'!\n"},
        {"FighterDecoys", "<DECY><Decoys><Flare/></Decoys></DECY>", std::nullopt,
         "ERROR: Unexpected element 'Flare' in element 'Decoys' of 'TEST.xml'!\n"},
        // A decoy would be lost with the count: refused rather than dropped.
        {"FighterDecoys", "<DECY><Decoys><Decoy Name=\"CHAFF\"/></Decoys></DECY>", std::nullopt,
         "ERROR: Missing attribute 'Count' in element 'Decoys' of 'TEST.xml'!\n"},
        {"FighterTurrets",
         "<TURT><Turrets><Turret Model=\"M\" Laser=\"L\" Index=\"300\" ShotTimeSecs=\"0\" ViewAngleDegrees=\"0\" "
         "PositionX=\"0\" PositionY=\"0\" PositionZ=\"0\" AngleDegrees=\"0\"/></Turrets></TURT>",
         std::nullopt, "ERROR: Bad value '300' for attribute 'Index' of element 'Turret' in 'TEST.xml'!\n"},
        {"FighterTurrets",
         "<TURT><Turrets><Turret Model=\"M\" Laser=\"L\" Index=\"1\" ShotTimeSecs=\"1\" ViewAngleDegrees=\"2\" "
         "PositionX=\"3\" PositionY=\"4\" PositionZ=\"5\"/></Turrets></TURT>",
         std::nullopt, "ERROR: Missing attribute 'AngleDegrees' in element 'Turret' of 'TEST.xml'!\n"},
        {"FighterTurrets", "<TURT><Turrets><Gun Model=\"X\"/></Turrets></TURT>", std::nullopt,
         "ERROR: Unexpected element 'Gun' in element 'Turrets' of 'TEST.xml'!\n"},
        {"FighterTurrets", "<TURT>" + std::string(ballTurretXml) + "</TURT>", std::nullopt,
         "ERROR: Unexpected element 'Turret' in element 'TURT' of 'TEST.xml'!\n"},
        {"FighterTurrets", "<TURT><Turrets Count=\"1\"/></TURT>", std::nullopt,
         "ERROR: Unexpected attribute 'Count' in element 'Turrets' of 'TEST.xml'!\n"},
    };
    checkWriteBacks(cases);
}

TEST(FighterDefenceSchemas, AFailedWriteIsReported)
{
    std::string printed;
    bool ok = true;
    const Bytes written =
        printedChunkBytes("<DECY Handler=\"FighterDecoys\"><Decoys Count=\"1\"><Decoy/></Decoys></DECY>", printed, ok);
    EXPECT_EQ(printed,
              "ERROR: Missing attribute 'Name' in element 'Decoy' of 'TEST.xml'!\n"
              "ERROR: IFF chunk 'DECY' uses Handler='FighterDecoys', but that handler cannot write XML back to bytes.\n");
    EXPECT_FALSE(ok);
    EXPECT_EQ(hexOf(written), hexOf(chunkOf("DECY", le32(1))));
}
