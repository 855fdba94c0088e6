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

bool FighterDecoys::fromXml(XmlReader& in, ByteBuffer& out, IffWriter& writer)
{
    static const SchemaField COUNT = {"Count", FIELD_U32, 0};
    return withOnlyChild(in, writer, "Decoys", [&](XmlReader& decoys) {
        return optionalHeader(decoys, COUNT, "Decoy", out, writer, [&](XmlReader& header) {
            // At most one decoy gives the name.
            bool named = false;
            return eachRecord(header, writer, [&](XmlReader& decoy) {
                if (named || !decoy.name().equals("Decoy")) {
                    unexpectedElement(decoy, writer);
                    return false;
                }
                named = true;
                return recordFromXml(decoy, DECOY_NAME, countOf(DECOY_NAME), out, writer) &&
                       emptyContent(decoy, writer);
            });
        });
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

bool FighterTurrets::fromXml(XmlReader& in, ByteBuffer& out, IffWriter& writer)
{
    return withOnlyChild(in, writer, "Turrets", [&](XmlReader& turrets) {
        return onlyAttributes(turrets, nullptr, 0, writer) &&
               recordsFromXml(turrets, "Turret", TURRET_RECORD, countOf(TURRET_RECORD), out, writer);
    });
}
