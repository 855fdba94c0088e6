#include "tool/convert/schemas/CapitalShipSchemas.h"
#include "tool/convert/schemas/RecordList.h"

namespace
{
const SchemaField TURRET_RECORD[] = {
    {"Body", FIELD_TEXT, 9},       {"Gun", FIELD_TEXT, 9},        {"Laser", FIELD_TEXT, 9},
    {"PositionX", FIELD_FIXED, 0}, {"PositionY", FIELD_FIXED, 0}, {"PositionZ", FIELD_FIXED, 0},
    {"Pitch", FIELD_FIXED, 0},     {"Roll", FIELD_FIXED, 0},      {"ViewAngleDegrees", FIELD_U32, 0},
    {"Lasers", FIELD_U8, 0},
};

const SchemaField MISSILE_RECORD[] = {
    {"Name", FIELD_TEXT, 9},       {"Count", FIELD_U32, 0},       {"PositionX", FIELD_FIXED, 0},
    {"PositionY", FIELD_FIXED, 0}, {"PositionZ", FIELD_FIXED, 0},
};
}

ChunkSchema* makeCapitalTurrets()
{
    return memNew<CapitalTurrets>();
}

bool CapitalTurrets::matches(const String& formPath, Stream& body)
{
    return matchesFormPath(formPath, body, nullptr, ".WEAP.CPTL.TURT", 0, 0);
}

bool CapitalTurrets::toXml(Stream& body, XmlElement& chunkElement)
{
    XmlElement* turrets = chunkElement.addChild(String("Turrets"));
    if (!turrets || !body.bytesLeft())
        return true;
    turrets->addAttribute(String("Damage"), readField(body, FIELD_U32, 0));
    recordsToXml(body, *turrets, "Turret", TURRET_RECORD, countOf(TURRET_RECORD));
    return true;
}

bool CapitalTurrets::fromXml(const XmlElement& chunkElement, ByteBuffer& out)
{
    const XmlElement* turrets = firstChildNamed(chunkElement, "Turrets");
    if (!turrets)
        return false;
    String damage;
    // Without "Damage" the body is empty; turrets that would be dropped with it are refused.
    if (!turrets->getAttribute(String("Damage"), damage))
        return !hasChildNamed(*turrets, "Turret");
    writeU32Field(out, damage);
    return recordsFromXml(*turrets, "Turret", TURRET_RECORD, countOf(TURRET_RECORD), out);
}

ChunkSchema* makeCapitalMissiles()
{
    return memNew<CapitalMissiles>();
}

bool CapitalMissiles::matches(const String& formPath, Stream& body)
{
    return matchesFormPath(formPath, body, nullptr, ".WEAP.CPTL.MISL", 0, 0);
}

bool CapitalMissiles::toXml(Stream& body, XmlElement& chunkElement)
{
    XmlElement* missiles = chunkElement.addChild(String("Missiles"));
    if (missiles)
        recordsToXml(body, *missiles, "Missile", MISSILE_RECORD, countOf(MISSILE_RECORD));
    return true;
}

bool CapitalMissiles::fromXml(const XmlElement& chunkElement, ByteBuffer& out)
{
    const XmlElement* missiles = firstChildNamed(chunkElement, "Missiles");
    return missiles && recordsFromXml(*missiles, "Missile", MISSILE_RECORD, countOf(MISSILE_RECORD), out);
}
