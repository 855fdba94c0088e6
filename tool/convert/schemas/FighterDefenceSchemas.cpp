#include "tool/convert/schemas/FighterDefenceSchemas.h"
#include "tool/convert/schemas/RecordList.h"

namespace
{
const SchemaField DECOY_NAME[] = {
    {"Name", FIELD_TEXT, 8},
};

const SchemaField TURRET_RECORD[] = {
    {"Model", FIELD_TEXT, 9},          {"Laser", FIELD_TEXT, 9},          {"Index", FIELD_U8, 0},
    {"ShotTimeSecs", FIELD_FIXED, 0},  {"ViewAngleDegrees", FIELD_U32, 0}, {"PositionX", FIELD_FIXED, 0},
    {"PositionY", FIELD_FIXED, 0},     {"PositionZ", FIELD_FIXED, 0},     {"AngleDegrees", FIELD_U32, 0},
};
}

ChunkSchema* makeFighterDecoys()
{
    return memNew<FighterDecoys>();
}

bool FighterDecoys::matches(const String& formPath, Stream& body)
{
    return matchesFormPath(formPath, body, nullptr, ".WEAP.FGTR.DECY", 0, 0);
}

bool FighterDecoys::toXml(Stream& body, XmlElement& chunkElement)
{
    XmlElement* decoys = chunkElement.addChild(String("Decoys"));
    if (!decoys || !body.bytesLeft())
        return true;
    decoys->addAttribute(String("Count"), readField(body, FIELD_U32, 0));
    if (body.bytesLeft())
        recordToXml(body, *decoys, "Decoy", DECOY_NAME, countOf(DECOY_NAME));
    return true;
}

bool FighterDecoys::fromXml(const XmlElement& chunkElement, ByteBuffer& out)
{
    const XmlElement* decoys = firstChildNamed(chunkElement, "Decoys");
    if (!decoys)
        return false;
    String count;
    // Without a count the body is empty; a decoy that would be dropped with it is refused.
    if (!decoys->getAttribute(String("Count"), count))
        return !hasChildNamed(*decoys, "Decoy");
    writeU32Field(out, count);
    if (decoys->children.count == 0)
        return true;
    const XmlElement* decoy = firstChildNamed(*decoys, "Decoy");
    return decoy && recordFromXml(*decoy, DECOY_NAME, countOf(DECOY_NAME), true, out);
}

ChunkSchema* makeFighterTurrets()
{
    return memNew<FighterTurrets>();
}

bool FighterTurrets::matches(const String& formPath, Stream& body)
{
    return matchesFormPath(formPath, body, nullptr, ".WEAP.FGTR.TURT", 0, 0);
}

bool FighterTurrets::toXml(Stream& body, XmlElement& chunkElement)
{
    XmlElement* turrets = chunkElement.addChild(String("Turrets"));
    if (turrets)
        recordsToXml(body, *turrets, "Turret", TURRET_RECORD, countOf(TURRET_RECORD));
    return true;
}

bool FighterTurrets::fromXml(const XmlElement& chunkElement, ByteBuffer& out)
{
    const XmlElement* turrets = firstChildNamed(chunkElement, "Turrets");
    return turrets && recordsFromXml(*turrets, "Turret", TURRET_RECORD, countOf(TURRET_RECORD), out);
}
