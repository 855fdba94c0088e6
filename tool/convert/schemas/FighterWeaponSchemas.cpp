#include "tool/convert/schemas/FighterWeaponSchemas.h"
#include "tool/convert/schemas/RecordList.h"

namespace
{
const SchemaField GUNS_HEADER[] = {
    {"Auto", FIELD_FLAG, 0},
    {"GunEnergy", FIELD_U32, 0},
    {"RegenRate", FIELD_U32, 0},
};

const SchemaField GUN_RECORD[] = {
    {"Name", FIELD_TEXT, 8},       {"Unknown", FIELD_U8, 0},      {"PositionX", FIELD_FIXED, 0},
    {"PositionY", FIELD_FIXED, 0}, {"PositionZ", FIELD_FIXED, 0},
};

const SchemaField MISSILES_HEADER[] = {
    {"Delay", FIELD_FIXED, 0},
};

const SchemaField MISSILE_RECORD[] = {
    {"Name", FIELD_TEXT, 8},       {"Unknown", FIELD_U8, 0},      {"Count", FIELD_U32, 0},
    {"PositionX", FIELD_FIXED, 0}, {"PositionY", FIELD_FIXED, 0}, {"PositionZ", FIELD_FIXED, 0},
};

// A header element under the chunk element, its fields read whatever the body size, then the
// records under it.
void headedToXml(Stream& body, XmlWriter& out, const char* headerName, const SchemaField* header, u32 headerCount,
                 const char* recordName, const SchemaField* record, u32 recordCount)
{
    openRecord(body, out, headerName, header, headerCount);
    recordsToXml(body, out, recordName, record, recordCount);
    out.close();
}

bool headedFromXml(XmlReader& in, ByteBuffer& out, IffWriter& writer, const char* headerName,
                   const SchemaField* header, u32 headerCount, const char* recordName, const SchemaField* record,
                   u32 recordCount)
{
    return withOnlyChild(in, writer, headerName, [&](XmlReader& parent) {
        return recordFromXml(parent, header, headerCount, out, writer) &&
               recordsFromXml(parent, recordName, record, recordCount, out, writer);
    });
}
}

ChunkSchema* makeFighterGuns()
{
    return memNew<FighterGuns>();
}

bool FighterGuns::matches(const String& formPath, Stream& body)
{
    return matchesFormPath(formPath, body, nullptr, ".WEAP.FGTR.GUNS", 0, 0);
}

void FighterGuns::toXml(Stream& body, XmlWriter& out)
{
    headedToXml(body, out, "Guns", GUNS_HEADER, countOf(GUNS_HEADER), "Gun", GUN_RECORD,
                countOf(GUN_RECORD));
}

bool FighterGuns::fromXml(XmlReader& in, ByteBuffer& out, IffWriter& writer)
{
    return headedFromXml(in, out, writer, "Guns", GUNS_HEADER, countOf(GUNS_HEADER), "Gun", GUN_RECORD,
                         countOf(GUN_RECORD));
}

ChunkSchema* makeFighterSpecialGuns()
{
    return memNew<FighterSpecialGuns>();
}

bool FighterSpecialGuns::matches(const String& formPath, Stream& body)
{
    return matchesFormPath(formPath, body, nullptr, ".WEAP.FGTR.SPCL", 0, 0);
}

void FighterSpecialGuns::toXml(Stream& body, XmlWriter& out)
{
    recordsToXml(body, out, "Gun", GUN_RECORD, countOf(GUN_RECORD));
}

bool FighterSpecialGuns::fromXml(XmlReader& in, ByteBuffer& out, IffWriter& writer)
{
    return recordsFromXml(in, "Gun", GUN_RECORD, countOf(GUN_RECORD), out, writer);
}

ChunkSchema* makeFighterMissiles()
{
    return memNew<FighterMissiles>();
}

bool FighterMissiles::matches(const String& formPath, Stream& body)
{
    return matchesFormPath(formPath, body, nullptr, ".WEAP.FGTR.MISL", 0, 0);
}

void FighterMissiles::toXml(Stream& body, XmlWriter& out)
{
    headedToXml(body, out, "Missiles", MISSILES_HEADER, countOf(MISSILES_HEADER), "Missile",
                MISSILE_RECORD, countOf(MISSILE_RECORD));
}

bool FighterMissiles::fromXml(XmlReader& in, ByteBuffer& out, IffWriter& writer)
{
    return headedFromXml(in, out, writer, "Missiles", MISSILES_HEADER, countOf(MISSILES_HEADER), "Missile",
                         MISSILE_RECORD, countOf(MISSILE_RECORD));
}
