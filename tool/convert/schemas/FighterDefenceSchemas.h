#pragma once
#include "tool/convert/ChunkSchema.h"

// A fighter's decoys and turrets: the chunks DECY and TURT of a FGTR form inside a WEAP form, in
// any file and of any size.

// One 12-byte decoy entry: "Decoys" with its Count, and one "Decoy" with its Name under it.
class FighterDecoys : public ChunkSchema
{
public:
    FighterDecoys() : ChunkSchema("FighterDecoys", "DECY") {}
    bool matches(const String& formPath, Stream& body) override;
    void toXml(Stream& body, XmlWriter& out) override;
    bool fromXml(XmlReader& in, ByteBuffer& out, IffWriter& writer) override;
};

// 43-byte "Turret" records under one "Turrets" element.
class FighterTurrets : public ChunkSchema
{
public:
    FighterTurrets() : ChunkSchema("FighterTurrets", "TURT") {}
    bool matches(const String& formPath, Stream& body) override;
    void toXml(Stream& body, XmlWriter& out) override;
    bool fromXml(XmlReader& in, ByteBuffer& out, IffWriter& writer) override;
};

ChunkSchema* makeFighterDecoys();
ChunkSchema* makeFighterTurrets();
