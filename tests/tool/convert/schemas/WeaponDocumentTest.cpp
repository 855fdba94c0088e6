// Whole IFF documents holding every weapon chunk kind, through the IFF container and back.
#include "WeaponSchemaTestUtil.h"

using namespace schematest;

namespace
{
Bytes fighterWeapons()
{
    const Bytes guns = cat({raw({1}), le32(800), le32(40), txt("LASER", 8), raw({0}), fx(2), fx(-1), fx(5)});
    const Bytes special = cat({txt("PULSER", 8), raw({1}), fx(0), fx(-0.5), fx(6)});
    const Bytes missiles = cat({fx(0.75), txt("SPIKE", 8), raw({2}), le32(4), fx(-3), fx(0), fx(1)});
    const Bytes decoys = cat({le32(10), txt("CHAFF", 8)});
    const Bytes turrets = cat({txt("REAR", 9), txt("LASER", 9), raw({1}), fx(0.5), le32(120), fx(0), fx(1), fx(-6),
                               le32(180)});
    return form("FGTR", cat({chunk("GUNS", guns), chunk("SPCL", special), chunk("MISL", missiles),
                             chunk("DECY", decoys), chunk("TURT", turrets)}));
}

Bytes capitalWeapons(u32 damage)
{
    const Bytes turrets = cat({le32(damage), txt("DOMEBODY", 9), txt("FLAK", 9), txt("LASER", 9), fx(10), fx(4),
                               fx(-20), fx(-90), fx(0), le32(270), raw({3})});
    const Bytes missiles = cat({txt("TORPEDO", 9), le32(6), fx(0), fx(-2), fx(30)});
    return form("CPTL", cat({chunk("TURT", turrets), chunk("MISL", missiles)}));
}

Bytes shipImage(u32 damage = 500)
{
    return form("SHIP", cat({chunk("NAME", "Dartfly"), form("WEAP", cat({fighterWeapons(), capitalWeapons(damage)})),
                             // Twelve bytes of decoy entry and four more the XML form cannot hold.
                             form("MORE", form("WEAP", form("FGTR", chunk("DECY", cat({le32(1), txt("FLARES", 8),
                                                                                        str("junk")})))))}));
}

const std::string shipXml =
    "<IFF Version=\"1\">\n"
    " <SHIP FormType=\"FORM\" OriginalSize=\"392\">\n"
    "  <NAME OriginalSize=\"7\">\n"
    "   Dartfly\n"
    "  </NAME>\n"
    "  <WEAP FormType=\"FORM\" OriginalSize=\"304\">\n"
    "   <FGTR FormType=\"FORM\" OriginalSize=\"182\">\n"
    "    <GUNS OriginalSize=\"30\" Handler=\"FighterGuns\">\n"
    "     <Guns Auto=\"yes\" GunEnergy=\"800\" RegenRate=\"40\">\n"
    "      <Gun Name=\"LASER\" Unknown=\"0\" PositionX=\"2\" PositionY=\"-1\" PositionZ=\"5\"/>\n"
    "     </Guns>\n"
    "    </GUNS>\n"
    "    <SPCL OriginalSize=\"21\" Handler=\"FighterSpecialGuns\">\n"
    "     <Gun Name=\"PULSER\" Unknown=\"1\" PositionX=\"0\" PositionY=\"-0.5\" PositionZ=\"6\"/>\n"
    "    </SPCL>\n"
    "    <MISL OriginalSize=\"29\" Handler=\"FighterMissiles\">\n"
    "     <Missiles Delay=\"0.75\">\n"
    "      <Missile Name=\"SPIKE\" Unknown=\"2\" Count=\"4\" PositionX=\"-3\" PositionY=\"0\" PositionZ=\"1\"/>\n"
    "     </Missiles>\n"
    "    </MISL>\n"
    "    <DECY OriginalSize=\"12\" Handler=\"FighterDecoys\">\n"
    "     <Decoys Count=\"10\">\n"
    "      <Decoy Name=\"CHAFF\"/>\n"
    "     </Decoys>\n"
    "    </DECY>\n"
    "    <TURT OriginalSize=\"43\" Handler=\"FighterTurrets\">\n"
    "     <Turrets>\n"
    "      <Turret Model=\"REAR\" Laser=\"LASER\" Index=\"1\" ShotTimeSecs=\"0.5\" ViewAngleDegrees=\"120\" "
    "PositionX=\"0\" PositionY=\"1\" PositionZ=\"-6\" AngleDegrees=\"180\"/>\n"
    "     </Turrets>\n"
    "    </TURT>\n"
    "   </FGTR>\n"
    "   <CPTL FormType=\"FORM\" OriginalSize=\"102\">\n"
    "    <TURT OriginalSize=\"56\" Handler=\"CapitalTurrets\">\n"
    "     <Turrets Damage=\"500\">\n"
    "      <Turret Body=\"DOMEBODY\" Gun=\"FLAK\" Laser=\"LASER\" PositionX=\"10\" PositionY=\"4\" PositionZ=\"-20\" "
    "Pitch=\"-90\" Roll=\"0\" ViewAngleDegrees=\"270\" Lasers=\"3\"/>\n"
    "     </Turrets>\n"
    "    </TURT>\n"
    "    <MISL OriginalSize=\"25\" Handler=\"CapitalMissiles\">\n"
    "     <Missiles>\n"
    "      <Missile Name=\"TORPEDO\" Count=\"6\" PositionX=\"0\" PositionY=\"-2\" PositionZ=\"30\"/>\n"
    "     </Missiles>\n"
    "    </MISL>\n"
    "   </CPTL>\n"
    "  </WEAP>\n"
    "  <MORE FormType=\"FORM\" OriginalSize=\"52\">\n"
    "   <WEAP FormType=\"FORM\" OriginalSize=\"40\">\n"
    "    <FGTR FormType=\"FORM\" OriginalSize=\"28\">\n"
    "     <DECY OriginalSize=\"16\">\n"
    "      0x01 0x00 0x00 0x00 FLARES 0x00 0x00 junk\n"
    "     </DECY>\n"
    "    </FGTR>\n"
    "   </WEAP>\n"
    "  </MORE>\n"
    " </SHIP>\n"
    "</IFF>\n";

std::string replaced(std::string text, const std::string& from, const std::string& to)
{
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos)
        text.replace(at, from.size(), to);
    return text;
}
}

TEST(WeaponDocuments, ConvertAndWriteBackByteForByte)
{
    OptionScope scope;
    const Bytes image = shipImage();
    ContainerIFF* c = openIff(image, "DARTFLY.IFF");
    ASSERT_NE(c, nullptr);
    EXPECT_TRUE(c->isConverted());
    EXPECT_EQ(documentText(*c), shipXml);
    EXPECT_EQ(hexOf(serialised(*c)), hexOf(image));
    deleteContainer(c);
    EXPECT_EQ(hexOf(iffOf(shipXml)), hexOf(image));
}

TEST(WeaponDocuments, AnEditedValueIsWritten)
{
    bool ok = false;
    const Bytes edited = iffOf(replaced(shipXml, "Damage=\"500\"", "Damage=\"65536\""), &ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(hexOf(edited), hexOf(shipImage(65536)));
}

TEST(WeaponDocuments, AnAttributeRemovedFailsTheDocument)
{
    const std::string broken = replaced(shipXml, " Pitch=\"-90\"", "");
    bool ok = true;
    EXPECT_EQ(captured([&] { iffOf(broken, &ok, false); }),
              "ERROR: Missing attribute 'Pitch' in element 'Turret' of 'TEST.IFF.xml'!\n"
              "ERROR: IFF chunk 'TURT' uses Handler='CapitalTurrets', but that handler cannot write XML back to "
              "bytes.\n");
    EXPECT_FALSE(ok);
}
