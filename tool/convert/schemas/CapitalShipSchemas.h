#pragma once
#include "tool/convert/ChunkSchema.h"

// A capital ship's turrets and missile launchers: the chunks TURT and MISL of a CPTL form inside
// a WEAP form, in any file and of any size.

// "Turrets" with the 4-byte Damage header (absent for an empty body), then 52-byte "Turret"
// records under it.
class CapitalTurrets : public ChunkSchema
{
public:
    CapitalTurrets() : ChunkSchema("CapitalTurrets") {}
    bool matches(const String& formPath, Stream& body) override;
    bool toXml(Stream& body, XmlElement& chunkElement) override;
    bool fromXml(const XmlElement& chunkElement, ByteBuffer& out) override;
};

// 25-byte "Missile" records under one "Missiles" element.
class CapitalMissiles : public ChunkSchema
{
public:
    CapitalMissiles() : ChunkSchema("CapitalMissiles") {}
    bool matches(const String& formPath, Stream& body) override;
    bool toXml(Stream& body, XmlElement& chunkElement) override;
    bool fromXml(const XmlElement& chunkElement, ByteBuffer& out) override;
};

ChunkSchema* makeCapitalTurrets();
ChunkSchema* makeCapitalMissiles();
