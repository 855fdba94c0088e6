#pragma once
#include "tool/convert/ChunkSchema.h"

// A capital ship's turrets and missile launchers: the chunks TURT and MISL of a CPTL form inside
// a WEAP form, in any file and of any size.

// "Turrets" with the 4-byte Damage header (absent for an empty body), then 52-byte "Turret"
// records under it.
class CapitalTurrets : public ChunkSchema
{
public:
    CapitalTurrets() : ChunkSchema("CapitalTurrets", "TURT") {}
    bool matches(const String& formPath, Stream& body) override;
    void toXml(Stream& body, XmlWriter& out) override;
    bool fromXml(XmlReader& in, ByteBuffer& out, IffWriter& writer) override;
};

// 25-byte "Missile" records under one "Missiles" element.
class CapitalMissiles : public ChunkSchema
{
public:
    CapitalMissiles() : ChunkSchema("CapitalMissiles", "MISL") {}
    bool matches(const String& formPath, Stream& body) override;
    void toXml(Stream& body, XmlWriter& out) override;
    bool fromXml(XmlReader& in, ByteBuffer& out, IffWriter& writer) override;
};

ChunkSchema* makeCapitalTurrets();
ChunkSchema* makeCapitalMissiles();
