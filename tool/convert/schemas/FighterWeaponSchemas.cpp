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
void headedToXml(Stream& body, XmlElement& chunkElement, const char* headerName, const SchemaField* header,
                 u32 headerCount, const char* recordName, const SchemaField* record, u32 recordCount)
{
    XmlElement* parent = recordToXml(body, chunkElement, headerName, header, headerCount);
    if (parent)
        recordsToXml(body, *parent, recordName, record, recordCount);
}

bool headedFromXml(const XmlElement& chunkElement, ByteBuffer& out, const char* headerName,
                   const SchemaField* header, u32 headerCount, const char* recordName, const SchemaField* record,
                   u32 recordCount)
{
    const XmlElement* parent = firstChildNamed(chunkElement, headerName);
    if (!parent || !recordFromXml(*parent, header, headerCount, true, out))
        return false;
    return recordsFromXml(*parent, recordName, record, recordCount, out);
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

bool FighterGuns::toXml(Stream& body, XmlElement& chunkElement)
{
    headedToXml(body, chunkElement, "Guns", GUNS_HEADER, countOf(GUNS_HEADER), "Gun", GUN_RECORD,
                countOf(GUN_RECORD));
    return true;
}

bool FighterGuns::fromXml(const XmlElement& chunkElement, ByteBuffer& out)
{
    return headedFromXml(chunkElement, out, "Guns", GUNS_HEADER, countOf(GUNS_HEADER), "Gun", GUN_RECORD,
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

bool FighterSpecialGuns::toXml(Stream& body, XmlElement& chunkElement)
{
    recordsToXml(body, chunkElement, "Gun", GUN_RECORD, countOf(GUN_RECORD));
    return true;
}

bool FighterSpecialGuns::fromXml(const XmlElement& chunkElement, ByteBuffer& out)
{
    return recordsFromXml(chunkElement, "Gun", GUN_RECORD, countOf(GUN_RECORD), out);
}

ChunkSchema* makeFighterMissiles()
{
    return memNew<FighterMissiles>();
}

bool FighterMissiles::matches(const String& formPath, Stream& body)
{
    return matchesFormPath(formPath, body, nullptr, ".WEAP.FGTR.MISL", 0, 0);
}

bool FighterMissiles::toXml(Stream& body, XmlElement& chunkElement)
{
    headedToXml(body, chunkElement, "Missiles", MISSILES_HEADER, countOf(MISSILES_HEADER), "Missile",
                MISSILE_RECORD, countOf(MISSILE_RECORD));
    return true;
}

bool FighterMissiles::fromXml(const XmlElement& chunkElement, ByteBuffer& out)
{
    return headedFromXml(chunkElement, out, "Missiles", MISSILES_HEADER, countOf(MISSILES_HEADER), "Missile",
                         MISSILE_RECORD, countOf(MISSILE_RECORD));
}
