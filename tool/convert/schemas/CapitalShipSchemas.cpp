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

void CapitalTurrets::toXml(Stream& body, XmlWriter& out)
{
    out.open("Turrets");
    if (body.bytesLeft()) {
        out.attribute("Damage", readField(body, FIELD_U32, 0));
        recordsToXml(body, out, "Turret", TURRET_RECORD, countOf(TURRET_RECORD));
    }
    out.close();
}

bool CapitalTurrets::fromXml(XmlReader& in, ByteBuffer& out, IffWriter& writer)
{
    static const SchemaField DAMAGE = {"Damage", FIELD_U32, 0};
    return withOnlyChild(in, writer, "Turrets", [&](XmlReader& turrets) {
        return optionalHeader(turrets, DAMAGE, "Turret", out, writer, [&](XmlReader& header) {
            return recordsFromXml(header, "Turret", TURRET_RECORD, countOf(TURRET_RECORD), out, writer);
        });
    });
}

ChunkSchema* makeCapitalMissiles()
{
    return memNew<CapitalMissiles>();
}

bool CapitalMissiles::matches(const String& formPath, Stream& body)
{
    return matchesFormPath(formPath, body, nullptr, ".WEAP.CPTL.MISL", 0, 0);
}

void CapitalMissiles::toXml(Stream& body, XmlWriter& out)
{
    out.open("Missiles");
    recordsToXml(body, out, "Missile", MISSILE_RECORD, countOf(MISSILE_RECORD));
    out.close();
}

bool CapitalMissiles::fromXml(XmlReader& in, ByteBuffer& out, IffWriter& writer)
{
    return withOnlyChild(in, writer, "Missiles", [&](XmlReader& missiles) {
        return onlyAttributes(missiles, nullptr, 0, writer) &&
               recordsFromXml(missiles, "Missile", MISSILE_RECORD, countOf(MISSILE_RECORD), out, writer);
    });
}
