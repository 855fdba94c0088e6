#include "tool/convert/schemas/MissileGunSchemas.h"
#include "framework/core/Heap.h"
#include "tool/convert/schemas/RecordList.h"

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

}

SingleRecordSchema::SingleRecordSchema(const char* schemaName, const char* pathSuffix, u32 size, const char* record,
                                       const SchemaField* recordFields, u32 count)
    : ChunkSchema(schemaName, lastComponent(pathSuffix)), suffix(pathSuffix), bodySize(size), recordName(record), fields(recordFields),
      fieldCount(count)
{
}

bool SingleRecordSchema::matches(const String& formPath, Stream& body)
{
    return matchesFormPath(formPath, body, OBJECT_PREFIX, suffix, 0, bodySize);
}

void SingleRecordSchema::toXml(Stream& body, XmlWriter& out)
{
    recordToXml(body, out, recordName, fields, fieldCount);
}

bool SingleRecordSchema::fromXml(XmlReader& in, ByteBuffer& out, IffWriter& writer)
{
    return withOnlyChild(in, writer, recordName, [&](XmlReader& record) {
        return recordFromXml(record, fields, fieldCount, out, writer) && emptyContent(record, writer);
    });
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
