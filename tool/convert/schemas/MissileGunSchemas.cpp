#include "tool/convert/schemas/MissileGunSchemas.h"
#include "framework/core/Heap.h"

namespace
{
constexpr const char* OBJECT_PREFIX = "REAL.OBJT";

const SchemaField MISSILE_FIELDS[] = {
    {"Name", FIELD_TEXT, 16},           {"RequiresLock", FIELD_FLAG, 0}, {"CanChangeTarget", FIELD_FLAG, 0},
    {"HeatSeeker", FIELD_FLAG, 0},      {"Damage", FIELD_U32, 0},        {"ViewAngleDegrees", FIELD_U32, 0},
    {"LockTimeSecs", FIELD_FIXED, 0},   {"DurationSecs", FIELD_FIXED, 0},
};

const SchemaField DYNAMICS_FIELDS[] = {
    {"TurnRate", FIELD_FIXED, 0},
    {"Speed", FIELD_FIXED, 0},
    {"Acceleration", FIELD_FIXED, 0},
};

const SchemaField GUN_FIELDS[] = {
    {"Name", FIELD_TEXT, 15},          {"Damage", FIELD_U32, 0},          {"Velocity", FIELD_U32, 0},
    {"DurationSecs", FIELD_FIXED, 0},  {"RefireDelaySecs", FIELD_FIXED, 0}, {"Energy", FIELD_U32, 0},
};

template <u32 N>
constexpr u32 countOf(const SchemaField (&)[N])
{
    return N;
}
}

SingleRecordSchema::SingleRecordSchema(const char* schemaName, const char* pathSuffix, u32 size, const char* record,
                                       const SchemaField* recordFields, u32 count)
    : ChunkSchema(schemaName), suffix(pathSuffix), bodySize(size), recordName(record), fields(recordFields),
      fieldCount(count)
{
}

bool SingleRecordSchema::matches(const String& formPath, Stream& body)
{
    return matchesFormPath(formPath, body, OBJECT_PREFIX, suffix, 0, bodySize);
}

bool SingleRecordSchema::toXml(Stream& body, XmlElement& chunkElement)
{
    recordToXml(body, chunkElement, recordName, fields, fieldCount);
    return true;
}

bool SingleRecordSchema::fromXml(const XmlElement& chunkElement, ByteBuffer& out)
{
    for (const XmlElement* record : chunkElement.children) {
        if (record->name.equals(recordName))
            return recordFromXml(*record, fields, fieldCount, true, out);
    }
    return false;
}

MissileData::MissileData()
    : SingleRecordSchema("MissileData", ".MISL.DATA", 35, "Missile", MISSILE_FIELDS, countOf(MISSILE_FIELDS))
{
}

MissileDynamics::MissileDynamics()
    : SingleRecordSchema("MissileDynamics", ".MISL.DYNM", 12, "Dynamics", DYNAMICS_FIELDS, countOf(DYNAMICS_FIELDS))
{
}

GunData::GunData() : SingleRecordSchema("GunData", ".GUNS.DATA", 35, "Gun", GUN_FIELDS, countOf(GUN_FIELDS))
{
}

ChunkSchema* makeMissileData()
{
    return memNew<MissileData>();
}

ChunkSchema* makeMissileDynamics()
{
    return memNew<MissileDynamics>();
}

ChunkSchema* makeGunData()
{
    return memNew<GunData>();
}
