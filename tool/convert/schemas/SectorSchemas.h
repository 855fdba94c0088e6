#pragma once
#include "tool/convert/ChunkSchema.h"

// The record tables of sector files (root form SSSS): plain arrays of fixed-size records, one
// child element per record. Writing back is lenient: every child of the chunk element is a
// record whatever its name, and a missing attribute leaves its field out.

// 8-byte text records, one attribute each. The cast list and the two load lists share this.
class SectorTextRecords : public ChunkSchema
{
public:
    SectorTextRecords(const char* schemaName, const char* suffix, const char* recordName, const char* attribute);
    bool matches(const String& formPath, Stream& body) override;
    void toXml(Stream& body, XmlWriter& out) override;
    bool fromXml(XmlReader& in, ByteBuffer& out, IffWriter& writer) override;

private:
    const char* suffix;
    const char* recordName;
    SchemaField field;
};

// SSSS....CAST: "Member" records with "Kind".
class SectorCast : public SectorTextRecords
{
public:
    SectorCast();
};

// SSSS....LOAD.OBJT: "Type" records with "Name".
class SectorLoadObjectTypes : public SectorTextRecords
{
public:
    SectorLoadObjectTypes();
};

// SSSS....LOAD.APPR: "Type" records with "Name".
class SectorLoadAppearance : public SectorTextRecords
{
public:
    SectorLoadAppearance();
};

// SSSS....JUMP: 46-byte "Jump" records.
class SectorJumps : public ChunkSchema
{
public:
    SectorJumps();
    bool matches(const String& formPath, Stream& body) override;
    void toXml(Stream& body, XmlWriter& out) override;
    bool fromXml(XmlReader& in, ByteBuffer& out, IffWriter& writer) override;
};

ChunkSchema* makeSectorCast();
ChunkSchema* makeSectorJumps();
ChunkSchema* makeSectorLoadObjectTypes();
ChunkSchema* makeSectorLoadAppearance();
