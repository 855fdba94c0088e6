#include "tool/convert/schemas/SectorSchemas.h"
#include "framework/core/Heap.h"
#include "framework/core/TextUtils.h"
#include "tool/convert/XmlToIff.h"
#include "tool/convert/schemas/RecordList.h"

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

// The bytes of a jump's data: exactly its 31 tokens "0xNN", apart by whitespace. False for any
// other text (nothing of it written).
bool writeHexTokens(ByteBuffer& out, const char* text, u64 length)
{
    u8 bytes[JUMP_DATA_SIZE];
    u32 count = 0;
    for (u64 i = 0; i < length;) {
        const u8 c = u8(text[i]);
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            i++;
            continue;
        }
        u8 value = 0;
        if (count == JUMP_DATA_SIZE || !parseHexByteToken(text, length, i, value))
            return false;
        bytes[count++] = value;
        i += 4;
    }
    if (count != JUMP_DATA_SIZE)
        return false;
    out.write(bytes, JUMP_DATA_SIZE);
    return true;
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

bool SectorTextRecords::fromXml(XmlReader& in, ByteBuffer& out, IffWriter& writer)
{
    return recordsFromXml(in, recordName, &field, 1, out, writer);
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

bool SectorJumps::fromXml(XmlReader& in, ByteBuffer& out, IffWriter& writer)
{
    static const char* const ATTRIBUTES[] = {"Index", "Type", "Destination"};
    static const SchemaField INDEX = {"Index", FIELD_U8, 0};
    static const SchemaField TYPE = {"Type", FIELD_TEXT, JUMP_TYPE_SIZE};
    static const SchemaField DESTINATION = {"Destination", FIELD_U8, 0};
    return eachRecord(in, writer, [&](XmlReader& jump) {
        if (!jump.name().equals("Jump")) {
            unexpectedElement(jump, writer);
            return false;
        }
        // The destination comes last in the record but stands on the start tag: it is checked now
        // and written after the data.
        ByteBuffer destination;
        if (!onlyAttributes(jump, ATTRIBUTES, 3, writer) || !fieldFromXml(jump, INDEX, out, writer) ||
            !fieldFromXml(jump, DESTINATION, destination, writer))
            return false;
        out.write(JUMP_FILLER, sizeof(JUMP_FILLER));
        if (!fieldFromXml(jump, TYPE, out, writer))
            return false;
        const bool data = withOnlyChild(jump, writer, "Data", [&](XmlReader& element) {
            if (!onlyAttributes(element, nullptr, 0, writer))
                return false;
            bool given = false;
            const bool read = eachPart(
                element,
                [&](XmlReader& child) {
                    unexpectedElement(child, writer);
                    return false;
                },
                [&](XmlReader& text) {
                    given = true;
                    if (writeHexTokens(out, text.text(), text.textLength()))
                        return true;
                    writer.error("ERROR: Bad value '%.*s' in element 'Data' of '%s'!\n", int(text.textLength()),
                                 text.text(), writer.document.c_str());
                    return false;
                });
            if (read && !given)
                writer.error("ERROR: Missing value in element 'Data' of '%s'!\n", writer.document.c_str());
            return read && given;
        });
        if (data)
            out.write(destination.data(), destination.length);
        return data;
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
