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

void FighterDecoys::toXml(Stream& body, XmlWriter& out)
{
    out.open("Decoys");
    if (body.bytesLeft()) {
        out.attribute("Count", readField(body, FIELD_U32, 0));
        if (body.bytesLeft())
            recordToXml(body, out, "Decoy", DECOY_NAME, countOf(DECOY_NAME));
    }
    out.close();
}

bool FighterDecoys::fromXml(XmlReader& in, ByteBuffer& out)
{
    return withFirstChildNamed(in, "Decoys", [&](XmlReader& decoys) {
        const String* count = decoys.attribute("Count");
        if (count)
            writeU32Field(out, *count);
        // Without a count the body is empty; a decoy that would be dropped with it is refused.
        // With one, the first decoy gives the name; children of no other name give none.
        bool children = false, named = false, ok = true;
        const bool read = eachChild(decoys, [&](XmlReader& child) {
            children = true;
            if (named || !child.name().equals("Decoy"))
                return true;
            named = true;
            if (count)
                ok = recordFromXml(child.attributes(), DECOY_NAME, countOf(DECOY_NAME), true, out);
            return true;
        });
        if (!read)
            return false;
        if (!count)
            return !named;
        return !children || (named && ok);
    });
}

ChunkSchema* makeFighterTurrets()
{
    return memNew<FighterTurrets>();
}

bool FighterTurrets::matches(const String& formPath, Stream& body)
{
    return matchesFormPath(formPath, body, nullptr, ".WEAP.FGTR.TURT", 0, 0);
}

void FighterTurrets::toXml(Stream& body, XmlWriter& out)
{
    out.open("Turrets");
    recordsToXml(body, out, "Turret", TURRET_RECORD, countOf(TURRET_RECORD));
    out.close();
}

bool FighterTurrets::fromXml(XmlReader& in, ByteBuffer& out)
{
    return withFirstChildNamed(in, "Turrets", [&](XmlReader& turrets) {
        return recordsFromXml(turrets, "Turret", TURRET_RECORD, countOf(TURRET_RECORD), out);
    });
}
