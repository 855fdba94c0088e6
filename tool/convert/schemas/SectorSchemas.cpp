#include "tool/convert/schemas/SectorSchemas.h"
#include "framework/core/Heap.h"
#include "framework/core/TextUtils.h"
#include "framework/io/StringReader.h"

#include <cstdio>
#include <cstdlib>

namespace
{
constexpr const char* SECTOR_PREFIX = "SSSS.";
constexpr u32 TEXT_RECORD_SIZE = 8;
constexpr u32 JUMP_RECORD_SIZE = 46;
constexpr u32 JUMP_TYPE_SIZE = 4;
constexpr u32 JUMP_DATA_SIZE = 31;
// Bytes 1 to 9 of every jump record as the games store them; they are not shown.
const u8 JUMP_FILLER[] = {0, 'J', 'U', 'M', 'P', 'T', 'Y', 'P', 'E'};

// The bytes of the hex tokens of a text, split at blanks only: each token is read as far as
// it is hex, its low 8 bits kept.
void writeHexTokens(ByteBuffer& out, const String& value)
{
    String text(value);
    text.trim();
    StringReader reader(text, " ", 0);
    String token;
    while (reader.readToken(&token)) {
        if (!token.isEmpty())
            out.writeU8(u8(strtoul(token.c_str(), nullptr, 16)));
    }
}
}

SectorTextRecords::SectorTextRecords(const char* schemaName, const char* pathSuffix, const char* record,
                                     const char* attribute)
    : ChunkSchema(schemaName, lastComponent(pathSuffix)), suffix(pathSuffix), recordName(record), field{attribute, FIELD_TEXT, TEXT_RECORD_SIZE}
{
}

bool SectorTextRecords::matches(const String& formPath, Stream& body)
{
    return matchesFormPath(formPath, body, SECTOR_PREFIX, suffix, TEXT_RECORD_SIZE, 0);
}

void SectorTextRecords::toXml(Stream& body, XmlWriter& out)
{
    while (body.bytesLeft() && out.ok())
        recordToXml(body, out, recordName, &field, 1);
}

bool SectorTextRecords::fromXml(XmlReader& in, ByteBuffer& out)
{
    return eachChild(in, [&](XmlReader& record) {
        recordFromXml(record.attributes(), &field, 1, false, out);
        return true;
    });
}

SectorCast::SectorCast() : SectorTextRecords("SectorCast", ".CAST", "Member", "Kind")
{
}

SectorLoadObjectTypes::SectorLoadObjectTypes()
    : SectorTextRecords("SectorLoadObjectTypes", ".LOAD.OBJT", "Type", "Name")
{
}

SectorLoadAppearance::SectorLoadAppearance() : SectorTextRecords("SectorLoadAppearance", ".LOAD.APPR", "Type", "Name")
{
}

SectorJumps::SectorJumps() : ChunkSchema("SectorJumps", "JUMP")
{
}

bool SectorJumps::matches(const String& formPath, Stream& body)
{
    return matchesFormPath(formPath, body, SECTOR_PREFIX, ".JUMP", JUMP_RECORD_SIZE, 0);
}

void SectorJumps::toXml(Stream& body, XmlWriter& out)
{
    while (body.bytesLeft() && out.ok()) {
        const u8 index = readU8Field(body);
        readU8Field(body);
        const u64 left = body.bytesLeft();
        body.skip(left < 8 ? left : 8);
        // A zero byte inside the type does not end it: the bytes after it still count.
        char type[JUMP_TYPE_SIZE];
        u32 typeLength = 0;
        for (u32 i = 0; i < JUMP_TYPE_SIZE; i++) {
            const u8 c = readU8Field(body);
            if (c)
                type[typeLength++] = char(c);
        }
        char data[JUMP_DATA_SIZE * 5 + 1];
        for (u32 i = 0; i < JUMP_DATA_SIZE; i++)
            snprintf(data + 5 * i, 6, "0x%02X ", readU8Field(body));
        const u8 destination = readU8Field(body);
        out.open("Jump");
        out.attributeDecimal("Index", index);
        out.attribute("Type", type, typeLength);
        out.attributeDecimal("Destination", destination);
        out.open("Data");
        out.text(data, JUMP_DATA_SIZE * 5);
        out.close();
        out.close();
    }
}

bool SectorJumps::fromXml(XmlReader& in, ByteBuffer& out)
{
    return eachChild(in, [&](XmlReader& reader) {
        XmlElement* jump = reader.readElement();
        if (!jump)
            return false;
        String value;
        if (jump->getAttribute(String("Index"), value))
            writeU8Field(out, value);
        out.write(JUMP_FILLER, sizeof(JUMP_FILLER));
        if (jump->getAttribute(String("Type"), value)) {
            for (u32 i = 0; i < JUMP_TYPE_SIZE; i++)
                out.writeU8(u8(value[i]));
        }
        for (const XmlElement* data : jump->children)
            writeHexTokens(out, data->value);
        if (jump->getAttribute(String("Destination"), value))
            writeU8Field(out, value);
        memDelete(jump);
        return true;
    });
}

ChunkSchema* makeSectorCast()
{
    return memNew<SectorCast>();
}

ChunkSchema* makeSectorJumps()
{
    return memNew<SectorJumps>();
}

ChunkSchema* makeSectorLoadObjectTypes()
{
    return memNew<SectorLoadObjectTypes>();
}

ChunkSchema* makeSectorLoadAppearance()
{
    return memNew<SectorLoadAppearance>();
}
