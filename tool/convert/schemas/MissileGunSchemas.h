#pragma once
#include "tool/convert/ChunkSchema.h"

// Single-record chunks of the object files (root form REAL holding an OBJT form) that describe
// one missile or one gun type. The chunk element holds one record element; writing back needs
// that element and every one of its attributes.
class SingleRecordSchema : public ChunkSchema
{
public:
    SingleRecordSchema(const char* schemaName, const char* suffix, u32 bodySize, const char* recordName,
                       const SchemaField* fields, u32 fieldCount);
    bool matches(const String& formPath, Stream& body) override;
    void toXml(Stream& body, XmlWriter& out) override;
    // Written from the first child named like the record; false (with the fields before the
    // missing one written) when that child or one of its attributes is missing.
    bool fromXml(XmlReader& in, ByteBuffer& out, IffWriter& writer) override;

private:
    const char* suffix;
    u32 bodySize;
    const char* recordName;
    const SchemaField* fields;
    u32 fieldCount;
};

// REAL.OBJT....MISL.DATA, 35 bytes: "Missile".
class MissileData : public SingleRecordSchema
{
public:
    MissileData();
};

// REAL.OBJT....MISL.DYNM, 12 bytes: "Dynamics".
class MissileDynamics : public SingleRecordSchema
{
public:
    MissileDynamics();
};

// REAL.OBJT....GUNS.DATA, 35 bytes: "Gun".
class GunData : public SingleRecordSchema
{
public:
    GunData();
};

ChunkSchema* makeMissileData();
ChunkSchema* makeMissileDynamics();
ChunkSchema* makeGunData();
