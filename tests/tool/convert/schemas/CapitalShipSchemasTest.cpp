#include "framework/xml/XmlText.h"
#include "WeaponSchemaTestUtil.h"

using namespace schematest;

namespace
{
Bytes turret(const char* body, const char* gun, const char* laser, double x, double y, double z, double pitch,
             double roll, u32 view, u8 lasers)
{
    return cat({txt(body, 9), txt(gun, 9), txt(laser, 9), fx(x), fx(y), fx(z), fx(pitch), fx(roll), le32(view),
                raw({lasers})});
}

Bytes missile(const char* name, u32 count, double x, double y, double z)
{
    return cat({txt(name, 9), le32(count), fx(x), fx(y), fx(z)});
}

const Bytes bow = turret("TURRETBDY", "FLAKGUN", "LASER", 12.5, -3, 40, -90, 0.5, 120, 2);
const char* const bowXml = "<Turret Body=\"TURRETBDY\" Gun=\"FLAKGUN\" Laser=\"LASER\" PositionX=\"12.5\" "
                           "PositionY=\"-3\" PositionZ=\"40\" Pitch=\"-90\" Roll=\"0.5\" ViewAngleDegrees=\"120\" "
                           "Lasers=\"2\"/>";
const Bytes torpedo = missile("TORPEDO", 8, 0, -1.5, 60);
const char* const torpedoXml =
    "<Missile Name=\"TORPEDO\" Count=\"8\" PositionX=\"0\" PositionY=\"-1.5\" PositionZ=\"60\"/>";
}

TEST(CapitalShipSchemas, ChunksConvertBothWays)
{
    checkConversions({
        {"two turrets", "CRUS.WEAP.CPTL", "TURT",
         cat({le32(250), bow, turret("STERNBODY", "", "PLASMAGUN", 0, 0, -40, 90, 0, 360, 255)}),
         "<TURT OriginalSize=\"108\" Handler=\"CapitalTurrets\">\n"
         " <Turrets Damage=\"250\">\n"
         "  " + std::string(bowXml) + "\n"
         "  <Turret Body=\"STERNBODY\" Gun=\"\" Laser=\"PLASMAGUN\" PositionX=\"0\" PositionY=\"0\" "
         "PositionZ=\"-40\" Pitch=\"90\" Roll=\"0\" ViewAngleDegrees=\"360\" Lasers=\"255\"/>\n"
         " </Turrets>\n"
         "</TURT>\n"},
        {"damage alone", "CRUS.WEAP.CPTL", "TURT", le32(7),
         "<TURT OriginalSize=\"4\" Handler=\"CapitalTurrets\">\n"
         " <Turrets Damage=\"7\"/>\n"
         "</TURT>\n"},
        {"no turrets", "CRUS.WEAP.CPTL", "TURT", {},
         "<TURT OriginalSize=\"0\" Handler=\"CapitalTurrets\">\n"
         " <Turrets/>\n"
         "</TURT>\n"},
        {"two launchers", "CRUS.WEAP.CPTL", "MISL", cat({torpedo, missile("FLAKMISSL", 40, 2.25, 0, -10)}),
         "<MISL OriginalSize=\"50\" Handler=\"CapitalMissiles\">\n"
         " <Missiles>\n"
         "  " + std::string(torpedoXml) + "\n"
         "  <Missile Name=\"FLAKMISSL\" Count=\"40\" PositionX=\"2.25\" PositionY=\"0\" PositionZ=\"-10\"/>\n"
         " </Missiles>\n"
         "</MISL>\n"},
        {"one launcher, an odd body", "A.WEAP.CPTL", "MISL", torpedo,
         "<MISL OriginalSize=\"25\" Handler=\"CapitalMissiles\">\n"
         " <Missiles>\n"
         "  " + std::string(torpedoXml) + "\n"
         " </Missiles>\n"
         "</MISL>\n"},
        {"no launchers", "A.WEAP.CPTL", "MISL", {},
         "<MISL OriginalSize=\"0\" Handler=\"CapitalMissiles\">\n"
         " <Missiles/>\n"
         "</MISL>\n"},
    });
}

TEST(CapitalShipSchemas, MatchRules)
{
    struct Case
    {
        const char* path;
        u32 size;
        const char* schema;
    } cases[] = {
        {"CRUS.WEAP.CPTL.TURT", 108, "CapitalTurrets"}, {"CRUS.WEAP.CPTL.TURT", 3, "CapitalTurrets"},
        {"CRUS.WEAP.CPTL.MISL", 50, "CapitalMissiles"}, {"REAL.OBJT.WEAP.CPTL.MISL", 0, "CapitalMissiles"},
        {"CRUS.WEAP.FGTR.MISL", 50, "FighterMissiles"}, {"CRUS.WEAP.FGTR.TURT", 52, "FighterTurrets"},
        {"WEAP.CPTL.TURT", 4, ""},                      {"CRUS.WEAP.cptl.TURT", 4, ""},
        {"CRUS.CPTL.MISL", 25, ""},                     {"CRUS.WEAP.CPTL.MISL.X", 25, ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(matchingSchema(c.path, c.size), c.schema) << c.path << " " << c.size;
}

TEST(CapitalShipSchemas, BodiesTheXmlCannotHoldStayText)
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
        {"a turret body of two bytes", "CapitalTurrets", "TURT", str("AB"),
         "<CHNK>\n <Turrets Damage=\"0\">\n  <Turret Body=\"AB\" Gun=\"\" Laser=\"\" PositionX=\"0\" PositionY=\"0\" "
         "PositionZ=\"0\" Pitch=\"0\" Roll=\"0\" ViewAngleDegrees=\"0\" Lasers=\"0\"/>\n </Turrets>\n</CHNK>\n",
         cat({le32(0), turret("AB", "", "", 0, 0, 0, 0, 0, 0, 0)})},
        {"one byte after two launchers", "CapitalMissiles", "MISL", cat({torpedo, torpedo, str("Z")}),
         "<CHNK>\n <Missiles>\n  " + std::string(torpedoXml) + "\n  " + torpedoXml +
             "\n  <Missile Name=\"Z\" Count=\"0\" PositionX=\"0\" PositionY=\"0\" PositionZ=\"0\"/>\n"
             " </Missiles>\n</CHNK>\n",
         cat({torpedo, torpedo, missile("Z", 0, 0, 0, 0)})},
        {"a launcher cut inside its count", "CapitalMissiles", "MISL", cat({txt("SHORT", 9), raw({1, 2})}),
         "<CHNK>\n <Missiles>\n"
         "  <Missile Name=\"SHORT\" Count=\"0\" PositionX=\"0\" PositionY=\"0\" PositionZ=\"0\"/>\n"
         "  <Missile Name=\"\x01\x02\" Count=\"0\" PositionX=\"0\" PositionY=\"0\" PositionZ=\"0\"/>\n"
         " </Missiles>\n</CHNK>\n",
         cat({missile("SHORT", 0, 0, 0, 0), missile("\x01\x02", 0, 0, 0, 0)})},
        {"a gun name with bytes after its NUL", "CapitalTurrets", "TURT",
         cat({le32(1), txt("B", 9), txt("G\0X", 9, 3), Bytes(bow.begin() + 18, bow.end())}),
         "<CHNK>\n <Turrets Damage=\"1\">\n  <Turret Body=\"B\" Gun=\"G\" Laser=\"LASER\" PositionX=\"12.5\" "
         "PositionY=\"-3\" PositionZ=\"40\" Pitch=\"-90\" Roll=\"0.5\" ViewAngleDegrees=\"120\" Lasers=\"2\"/>\n"
         " </Turrets>\n</CHNK>\n",
         cat({le32(1), txt("B", 9), txt("G", 9), Bytes(bow.begin() + 18, bow.end())})},
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
        const std::string document = chunkXml("CRUS.WEAP.CPTL", c.id, c.body);
        EXPECT_EQ(document.find("Handler"), std::string::npos) << document;
        EXPECT_EQ(hexOf(chunkBytes(document)), hexOf(chunkOf(c.id, c.body)));
    }
}

TEST(CapitalShipSchemas, WritingEditedXmlBack)
{
    const std::string zeroTurret = "<Turret Body=\"\" Gun=\"\" Laser=\"\" PositionX=\"\" PositionY=\"\" PositionZ=\"\" "
                                   "Pitch=\"\" Roll=\"\" ViewAngleDegrees=\"\" Lasers=\"\"/>";
    const std::vector<WriteBackCase> cases = {
        {"CapitalTurrets", "<TURT><Turrets Damage=\"\">" + zeroTurret + "</Turrets></TURT>", Bytes(56, 0), ""},
        {"CapitalTurrets", "<TURT><Turrets Damage=\"5\">" + std::string(bowXml) + "</Turrets></TURT>",
         cat({le32(5), bow}), ""},
        {"CapitalTurrets", "<TURT><Turrets/></TURT>", Bytes{}, ""},
        {"CapitalMissiles", "<MISL><Missiles>" + std::string(torpedoXml) + "</Missiles></MISL>", torpedo, ""},
        {"CapitalTurrets",
         "<TURT><Turrets Damage=\"1\"><Turret Body=\"B\" Gun=\"G\" Laser=\"L\" PositionX=\"0\" PositionY=\"0\" "
         "PositionZ=\"0\" Pitch=\"-90\" Roll=\"0\" ViewAngleDegrees=\"0\" Lasers=\"256\"/></Turrets></TURT>",
         std::nullopt, "ERROR: Bad value '256' for attribute 'Lasers' of element 'Turret' in 'TEST.xml'!\n"},
        {"CapitalMissiles",
         "<MISL><Missiles><Missile Name=\"TORPEDOES!\" Count=\"1\" PositionX=\"0\" PositionY=\"0\" "
         "PositionZ=\"0\"/></Missiles></MISL>",
         std::nullopt, "ERROR: Bad value 'TORPEDOES!' for attribute 'Name' of element 'Missile' in 'TEST.xml'!\n"},
        {"CapitalTurrets",
         "<TURT><Turrets Damage=\"5\"><Turret Body=\"B\" Gun=\"G\" Laser=\"L\" PositionX=\"1\" PositionY=\"1\" "
         "PositionZ=\"1\" Pitch=\"1\" Roll=\"1\" ViewAngleDegrees=\"9\"/></Turrets></TURT>",
         std::nullopt, "ERROR: Missing attribute 'Lasers' in element 'Turret' of 'TEST.xml'!\n"},
        {"CapitalTurrets", "<TURT><Gun/><Turrets Damage=\"5\">" + std::string(bowXml) + "</Turrets></TURT>",
         std::nullopt, "ERROR: Unexpected element 'Gun' in element 'TURT' of 'TEST.xml'!\n"},
        {"CapitalTurrets", "<TURT><Turrets><Gun/></Turrets></TURT>", std::nullopt,
         "ERROR: Unexpected element 'Gun' in element 'Turrets' of 'TEST.xml'!\n"},
        // The turrets would be lost with the damage: refused rather than dropped.
        {"CapitalTurrets", "<TURT><Turrets>" + std::string(bowXml) + "</Turrets></TURT>", std::nullopt,
         "ERROR: Missing attribute 'Damage' in element 'Turrets' of 'TEST.xml'!\n"},
        {"CapitalTurrets", "<TURT>" + std::string(bowXml) + "</TURT>", std::nullopt,
         "ERROR: Unexpected element 'Turret' in element 'TURT' of 'TEST.xml'!\n"},
        {"CapitalMissiles",
         "<MISL><Missiles><Rack/>" + std::string(torpedoXml) + "</Missiles></MISL>", std::nullopt,
         "ERROR: Unexpected element 'Rack' in element 'Missiles' of 'TEST.xml'!\n"},
        {"CapitalMissiles", "<MISL><Missiles>" + std::string(torpedoXml) + "</Missiles><Missiles/></MISL>",
         std::nullopt, "ERROR: Unexpected element 'Missiles' in element 'MISL' of 'TEST.xml'!\n"},
        {"CapitalMissiles", "<MISL/>", std::nullopt,
         "ERROR: Missing element 'Missiles' in element 'MISL' of 'TEST.xml'!\n"},
    };
    checkWriteBacks(cases);
}

TEST(CapitalShipSchemas, AFailedWriteIsReported)
{
    std::string printed;
    bool ok = true;
    const Bytes written = printedChunkBytes(
        "<TURT Handler=\"CapitalTurrets\"><Turrets>" + std::string(bowXml) + "</Turrets></TURT>", printed, ok);
    EXPECT_EQ(printed,
              "ERROR: Missing attribute 'Damage' in element 'Turrets' of 'TEST.xml'!\n"
              "ERROR: IFF chunk 'TURT' uses Handler='CapitalTurrets', but that handler cannot write XML back to bytes.\n");
    EXPECT_FALSE(ok);
    EXPECT_EQ(hexOf(written), hexOf(chunkOf("TURT", {})));
}
