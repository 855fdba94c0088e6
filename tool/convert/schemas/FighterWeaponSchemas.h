#pragma once
#include "tool/convert/ChunkSchema.h"

// A fighter's gun mounts, special gun mounts and missile hardpoints: the chunks GUNS, SPCL and
// MISL of a FGTR form inside a WEAP form, in any file and of any size. Each is an optional
// header followed by records up to the end of the body.

// A 9-byte header ("Guns": Auto, GunEnergy, RegenRate), then 21-byte "Gun" records under it.
class FighterGuns : public ChunkSchema
{
public:
    FighterGuns() : ChunkSchema("FighterGuns", "GUNS") {}
    bool matches(const String& formPath, Stream& body) override;
    void toXml(Stream& body, XmlWriter& out) override;
    bool fromXml(XmlReader& in, ByteBuffer& out, IffWriter& writer) override;
};

// No header: 21-byte "Gun" records directly under the chunk element.
class FighterSpecialGuns : public ChunkSchema
{
public:
    FighterSpecialGuns() : ChunkSchema("FighterSpecialGuns", "SPCL") {}
    bool matches(const String& formPath, Stream& body) override;
    void toXml(Stream& body, XmlWriter& out) override;
    bool fromXml(XmlReader& in, ByteBuffer& out, IffWriter& writer) override;
};

// A 4-byte header ("Missiles": Delay), then 25-byte "Missile" records under it.
class FighterMissiles : public ChunkSchema
{
public:
    FighterMissiles() : ChunkSchema("FighterMissiles", "MISL") {}
    bool matches(const String& formPath, Stream& body) override;
    void toXml(Stream& body, XmlWriter& out) override;
    bool fromXml(XmlReader& in, ByteBuffer& out, IffWriter& writer) override;
};

ChunkSchema* makeFighterGuns();
ChunkSchema* makeFighterSpecialGuns();
ChunkSchema* makeFighterMissiles();
