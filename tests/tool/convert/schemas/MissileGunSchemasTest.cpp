#include "SchemaTestUtil.h"

using namespace schematest;

namespace
{
Bytes missile(const char* name, std::initializer_list<u8> flags, u32 damage, u32 angle, i32 lock, i32 duration)
{
    return cat({text(name, 16), Bytes(flags), le32(damage), le32(angle), le32(u32(lock)), le32(u32(duration))});
}

Bytes dynamics(i32 turn, i32 speed, i32 acceleration)
{
    return cat({le32(u32(turn)), le32(u32(speed)), le32(u32(acceleration))});
}

Bytes gun(const char* name, u32 damage, u32 velocity, i32 duration, i32 refire, u32 energy)
{
    return cat({text(name, 15), le32(damage), le32(velocity), le32(u32(duration)), le32(u32(refire)), le32(energy)});
}

const Bytes STRAIGHT = missile("STRAIGHT", {1, 0, 0}, 120, 30, 512, 2560);
const Bytes LASER = gun("LASER", 25, 1400, 128, 64, 4);
}

// Bodies the missile and gun schemas claim, as XML, and the same bytes written back from it.
TEST(MissileGunSchemas, ChunksAsXmlAndBack)
{
    struct Case
    {
        const char* path;
        const char* id;
        Bytes body;
        const char* xml;
    } cases[] = {
        {"REAL.OBJT.MISL", "DATA", STRAIGHT,
         "<DATA OriginalSize=\"35\" Handler=\"MissileData\">\n"
         " <Missile Name=\"STRAIGHT\" RequiresLock=\"yes\" CanChangeTarget=\"no\" HeatSeeker=\"no\" Damage=\"120\" "
         "ViewAngleDegrees=\"30\" LockTimeSecs=\"2\" DurationSecs=\"10\"/>\n"
         "</DATA>\n"},
        {"REAL.OBJT.WEAP.MISL", "DATA",
         missile("HEATSEEKER MK.II", {0, 1, 1}, 4294967295u, 0, -128, 16777216),
         "<DATA OriginalSize=\"35\" Handler=\"MissileData\">\n"
         " <Missile Name=\"HEATSEEKER MK.II\" RequiresLock=\"no\" CanChangeTarget=\"yes\" HeatSeeker=\"yes\" "
         "Damage=\"4294967295\" ViewAngleDegrees=\"0\" LockTimeSecs=\"-0.5\" DurationSecs=\"65536\"/>\n"
         "</DATA>\n"},
        {"REAL.OBJT.MISL", "DYNM", dynamics(384, -256, 1),
         "<DYNM OriginalSize=\"12\" Handler=\"MissileDynamics\">\n"
         " <Dynamics TurnRate=\"1.5\" Speed=\"-1\" Acceleration=\"0.00390625\"/>\n"
         "</DYNM>\n"},
        {"REAL.OBJT.GUNS", "DATA", LASER,
         "<DATA OriginalSize=\"35\" Handler=\"GunData\">\n"
         " <Gun Name=\"LASER\" Damage=\"25\" Velocity=\"1400\" DurationSecs=\"0.5\" RefireDelaySecs=\"0.25\" "
         "Energy=\"4\"/>\n"
         "</DATA>\n"},
        {"REAL.OBJT.SHIP.GUNS", "DATA", gun("MASS DRIVER CAN", 0, 0, 0, -16777216, 7),
         "<DATA OriginalSize=\"35\" Handler=\"GunData\">\n"
         " <Gun Name=\"MASS DRIVER CAN\" Damage=\"0\" Velocity=\"0\" DurationSecs=\"0\" RefireDelaySecs=\"-65536\" "
         "Energy=\"7\"/>\n"
         "</DATA>\n"},
    };
    for (const Case& c : cases) {
        const std::string xml = chunkXml(c.path, c.id, c.body);
        EXPECT_EQ(xml, c.xml) << c.path << "." << c.id;
        bool ok = false;
        EXPECT_EQ(hexOf(chunkBytes(xml, &ok)), hexOf(chunkOf(c.id, c.body))) << c.path << "." << c.id;
        EXPECT_TRUE(ok);
    }
}

// Paths and sizes these schemas do not take, and bodies whose XML would not give the same
// bytes back: all of them are shown as text.
TEST(MissileGunSchemas, OtherChunksStayText)
{
    struct Case
    {
        const char* path;
        const char* id;
        Bytes body;
    } cases[] = {
        {"REAL.OBJT.MISL", "DATA", Bytes(STRAIGHT.begin(), STRAIGHT.end() - 1)},
        {"REAL.OBJT.MISL", "DATA", cat({STRAIGHT, raw({0})})},
        {"REAL.OBJT.MISL", "DYNM", Bytes(16, 0)},
        {"REAL.OBJT.MISL", "DYNM", Bytes(8, 0)},
        {"REAL.OBJT.GUNS", "DATA", Bytes(LASER.begin(), LASER.end() - 1)},
        {"REAL.MISL", "DATA", STRAIGHT},
        {"real.OBJT.MISL", "DATA", STRAIGHT},
        {"REAL.OBJT.misl", "DATA", STRAIGHT},
        {"REAL.OBJT.MISL", "DATX", STRAIGHT},
        {"REAL.OBJT.GUNS", "DYNM", dynamics(1, 2, 3)},
        {"SSSS.OBJT.MISL", "DATA", STRAIGHT},
        // Bytes the XML does not show: a flag byte of 2, a name's bytes after its NUL, a fixed
        // value beyond the float's exact integers.
        {"REAL.OBJT.MISL", "DATA", missile("STRAIGHT", {2, 0, 0}, 1, 2, 3, 4)},
        {"REAL.OBJT.MISL", "DATA", cat({text("AB", 8), str("CDEFGHIJ"), Bytes(STRAIGHT.begin() + 16, STRAIGHT.end())})},
        {"REAL.OBJT.MISL", "DYNM", dynamics(16777217, 0, 0)},
        {"REAL.OBJT.GUNS", "DATA", gun("LASER", 1, 2, 3, -16777217, 5)},
    };
    for (const Case& c : cases) {
        std::string expected = std::string("<") + c.id + " OriginalSize=\"" + std::to_string(c.body.size()) +
                               "\">\n " + chunkBodyToText(c.body.data(), u32(c.body.size())).c_str() + "\n</" +
                               c.id + ">\n";
        const std::string xml = chunkXml(c.path, c.id, c.body);
        EXPECT_EQ(xml, expected) << c.path << "." << c.id << " " << hexOf(c.body);
        EXPECT_EQ(hexOf(chunkBytes(xml)), hexOf(chunkOf(c.id, c.body))) << c.path << "." << c.id;
    }
}

// Writing back needs the record element and all of its attributes; the fields before a missing
// one are written all the same.
TEST(MissileGunSchemas, WriteBackIsStrict)
{
    const std::string fullMissile = "RequiresLock=\"Yes\" CanChangeTarget=\"ON\" HeatSeeker=\"false\" Damage=\"300\" "
                                    "ViewAngleDegrees=\"4294967295\" LockTimeSecs=\"2\" DurationSecs=\"10\"";
    auto missileXml = [&](const std::string& name, const std::string& edit = "") {
        std::string attributes = fullMissile;
        if (!edit.empty()) {
            const std::string key = edit.substr(0, edit.find('=') + 1);
            const size_t at = attributes.find(key);
            attributes.replace(at, attributes.find('"', at + key.size() + 1) + 1 - at, edit);
        }
        return "<DATA><Missile Name=\"" + name + "\" " + attributes + "/></DATA>";
    };
    const std::vector<WriteBackCase> cases = {
        {"MissileDynamics", "<DYNM><Dynamics TurnRate=\"1.5\" Speed=\"-0.5\" Acceleration=\"0x3FC00000\"/></DYNM>",
         dynamics(384, -128, 384), ""},
        {"MissileDynamics", "<DYNM><Dynamics Acceleration=\"1\" TurnRate=\"0.001\" Speed=\"-8388608\"/></DYNM>",
         dynamics(0, i32(0x80000000u), 256), ""},
        {"MissileData", missileXml("STRAIGHT"), missile("STRAIGHT", {1, 1, 0}, 300, 0xFFFFFFFFu, 512, 2560), ""},
        {"MissileData",
         "<DATA><Missile Name=\"\" RequiresLock=\"\" CanChangeTarget=\"\" HeatSeeker=\"\" Damage=\"\" "
         "ViewAngleDegrees=\"\" LockTimeSecs=\"\" DurationSecs=\"\"/></DATA>",
         Bytes(35, 0), ""},
        {"GunData",
         "<DATA><Gun Name=\"FIFTEEN LETTERS\" Damage=\"1\" Velocity=\"2\" DurationSecs=\"3\" RefireDelaySecs=\"4\" "
         "Energy=\"5\"/></DATA>",
         cat({str("FIFTEEN LETTERS"), le32(1), le32(2), le32(768), le32(1024), le32(5)}), ""},
        {"MissileData", missileXml("STRAIGHT", "Damage=\"abc\""), std::nullopt,
         "ERROR: Bad value 'abc' for attribute 'Damage' of element 'Missile' in 'TEST.xml'!\n"},
        {"MissileData", missileXml("STRAIGHT", "Damage=\"-1\""), std::nullopt,
         "ERROR: Bad value '-1' for attribute 'Damage' of element 'Missile' in 'TEST.xml'!\n"},
        {"MissileData", missileXml("STRAIGHT", "Damage=\"4294967296\""), std::nullopt,
         "ERROR: Bad value '4294967296' for attribute 'Damage' of element 'Missile' in 'TEST.xml'!\n"},
        {"MissileData", missileXml("STRAIGHT", "LockTimeSecs=\"nan\""), std::nullopt,
         "ERROR: Bad value 'nan' for attribute 'LockTimeSecs' of element 'Missile' in 'TEST.xml'!\n"},
        {"MissileData", missileXml("STRAIGHT", "RequiresLock=\"maybe\""), std::nullopt,
         "ERROR: Bad value 'maybe' for attribute 'RequiresLock' of element 'Missile' in 'TEST.xml'!\n"},
        {"MissileData", missileXml("A NAME OF TWENTY-ONE"), std::nullopt,
         "ERROR: Bad value 'A NAME OF TWENTY-ONE' for attribute 'Name' of element 'Missile' in 'TEST.xml'!\n"},
        {"MissileDynamics", "<DYNM><Dynamics TurnRate=\"1.5\" Acceleration=\"2\"/></DYNM>", std::nullopt,
         "ERROR: Missing attribute 'Speed' in element 'Dynamics' of 'TEST.xml'!\n"},
        {"MissileDynamics", "<DYNM><Other TurnRate=\"1\" Speed=\"1\" Acceleration=\"1\"/></DYNM>", std::nullopt,
         "ERROR: Unexpected element 'Other' in element 'DYNM' of 'TEST.xml'!\n"},
        {"MissileDynamics", "<DYNM/>", std::nullopt, "ERROR: Missing element 'Dynamics' in element 'DYNM' of 'TEST.xml'!\n"},
        {"MissileDynamics",
         "<DYNM><Dynamics TurnRate=\"1\" Speed=\"2\" Acceleration=\"3\"/>"
         "<Dynamics TurnRate=\"4\" Speed=\"5\" Acceleration=\"6\"/></DYNM>",
         std::nullopt, "ERROR: Unexpected element 'Dynamics' in element 'DYNM' of 'TEST.xml'!\n"},
        {"MissileDynamics", "<DYNM><Dynamics TurnRate=\"1\" Speed=\"2\" Acceleration=\"3\" Drag=\"4\"/></DYNM>",
         std::nullopt, "ERROR: Unexpected attribute 'Drag' in element 'Dynamics' of 'TEST.xml'!\n"},
    };
    checkWriteBacks(cases);
}

// An object file converted through the IFF container and back; an edited document is written
// as asked, and one that lacks an attribute is refused with the handler's message.
TEST(MissileGunSchemas, ObjectDocumentRoundTrip)
{
    OptionScope scope;
    const Bytes misl = form("MISL", cat({chunk("DATA", STRAIGHT), chunk("DYNM", dynamics(2560, 25600, 512))}));
    const Bytes guns = form("GUNS", chunk("DATA", LASER));
    const Bytes image = form("REAL", form("OBJT", cat({misl, guns, chunk("NAME", "Straight")})));
    const std::string xml = xmlOf(image);
    EXPECT_EQ(xml,
              "<IFF Version=\"1\">\n"
              " <REAL FormType=\"FORM\" OriginalSize=\"" + std::to_string(image.size() - 8) + "\">\n"
              "  <OBJT FormType=\"FORM\" OriginalSize=\"" + std::to_string(image.size() - 20) + "\">\n"
              "   <MISL FormType=\"FORM\" OriginalSize=\"" + std::to_string(misl.size() - 8) + "\">\n"
              "    <DATA OriginalSize=\"35\" Handler=\"MissileData\">\n"
              "     <Missile Name=\"STRAIGHT\" RequiresLock=\"yes\" CanChangeTarget=\"no\" HeatSeeker=\"no\" "
              "Damage=\"120\" ViewAngleDegrees=\"30\" LockTimeSecs=\"2\" DurationSecs=\"10\"/>\n"
              "    </DATA>\n"
              "    <DYNM OriginalSize=\"12\" Handler=\"MissileDynamics\">\n"
              "     <Dynamics TurnRate=\"10\" Speed=\"100\" Acceleration=\"2\"/>\n"
              "    </DYNM>\n"
              "   </MISL>\n"
              "   <GUNS FormType=\"FORM\" OriginalSize=\"48\">\n"
              "    <DATA OriginalSize=\"35\" Handler=\"GunData\">\n"
              "     <Gun Name=\"LASER\" Damage=\"25\" Velocity=\"1400\" DurationSecs=\"0.5\" RefireDelaySecs=\"0.25\" "
              "Energy=\"4\"/>\n"
              "    </DATA>\n"
              "   </GUNS>\n"
              "   <NAME OriginalSize=\"8\">\n"
              "    Straight\n"
              "   </NAME>\n"
              "  </OBJT>\n"
              " </REAL>\n"
              "</IFF>\n");
    bool ok = false;
    EXPECT_EQ(hexOf(iffOf(xml, &ok)), hexOf(image));
    EXPECT_TRUE(ok);

    std::string edited = xml;
    edited.replace(edited.find("Damage=\"25\""), 11, "Damage=\"40\"");
    edited.replace(edited.find("Speed=\"100\""), 11, "Speed=\"-1.25\"");
    const Bytes editedMisl = form("MISL", cat({chunk("DATA", STRAIGHT), chunk("DYNM", dynamics(2560, -320, 512))}));
    const Bytes editedGuns = form("GUNS", chunk("DATA", gun("LASER", 40, 1400, 128, 64, 4)));
    const Bytes expected = form("REAL", form("OBJT", cat({editedMisl, editedGuns, chunk("NAME", "Straight")})));
    EXPECT_EQ(hexOf(iffOf(edited, &ok)), hexOf(expected));
    EXPECT_TRUE(ok);

    std::string missing = xml;
    missing.replace(missing.find(" HeatSeeker=\"no\""), 16, "");
    EXPECT_EQ(captured([&] { iffOf(missing, &ok, false); }),
              "ERROR: Missing attribute 'HeatSeeker' in element 'Missile' of 'TEST.IFF.xml'!\n"
              "ERROR: IFF chunk 'DATA' uses Handler='MissileData', but that handler cannot write XML back to bytes.\n");
    EXPECT_FALSE(ok);
}
