#pragma once
#include "framework/core/ByteBuffer.h"
#include "framework/core/PtrArray.h"
#include "framework/core/String.h"
#include "framework/io/Stream.h"
#include "framework/xml/XmlElement.h"

// A converter between one kind of IFF chunk body and XML records. A schema recognises its
// chunks by their form path (the dotted types of the enclosing forms and the chunk id, e.g.
// REAL.OBJT.MISL.DATA) and body size, writes the body as child elements and attributes of the
// chunk element, and rebuilds the same bytes from them. Schemas hold no state; each conversion
// registers a fresh set (registerIffSchemas) in a fixed match order.
class ChunkSchema
{
public:
    const char* name; // the chunk element's "Handler" value

    explicit ChunkSchema(const char* schemaName) : name(schemaName) {}
    virtual ~ChunkSchema() = default;
    ChunkSchema(const ChunkSchema&) = delete;
    ChunkSchema& operator=(const ChunkSchema&) = delete;

    virtual bool matches(const String& formPath, Stream& body) = 0;
    // Reads the body from its start; always true.
    virtual bool toXml(Stream& body, XmlElement& chunkElement) = 0;
    // Appends the rebuilt body; false when a required element or attribute is missing.
    virtual bool fromXml(const XmlElement& chunkElement, ByteBuffer& out) = 0;
};

typedef PtrArray<ChunkSchema> SchemaList;

// Appends every schema, in match order, to an owning array.
void registerIffSchemas(SchemaList& schemas);
// The first schema of exactly that name, or null.
ChunkSchema* findSchema(const SchemaList& schemas, const String& name);

// The usual test of `matches`: a non-empty path that begins with `prefix` and ends with `suffix`
// (each tested when not null, byte for byte), and a body whose bytesLeft is a multiple of
// `multiple` (when not 0; an empty body passes) or exactly `exact` (when not 0).
bool matchesFormPath(const String& formPath, Stream& body, const char* prefix, const char* suffix, u32 multiple,
                     u32 exact);

// Field kinds. Bodies are little-endian; what a body lacks reads as zero.
enum FieldKind : u8
{
    FIELD_TEXT,  // N bytes, shown up to the first NUL, written back cut or NUL-padded to N
    FIELD_U8,    // decimal
    FIELD_FLAG,  // one byte: "yes" / "no"
    FIELD_U32,   // unsigned decimal
    FIELD_FIXED, // signed 24.8 fixed point, shown as a decimal number
};

// Reading fields from a body (toXml).
String readTextField(Stream& body, u32 size);
u8 readU8Field(Stream& body);
u32 readU32Field(Stream& body);
String fixedToText(i32 value);
// Reads one field of the kind (size is used by text fields) and gives its XML text.
String readField(Stream& body, FieldKind kind, u32 size);

// Writing fields from their XML text (fromXml).
void writeTextField(ByteBuffer& out, const String& value, u32 size);
void writeU8Field(ByteBuffer& out, const String& value);
void writeFlagField(ByteBuffer& out, const String& value);
void writeU32Field(ByteBuffer& out, const String& value);
i32 textToFixed(const String& value);
void writeFixedField(ByteBuffer& out, const String& value);
void writeField(ByteBuffer& out, FieldKind kind, u32 size, const String& value);

// A record layout: fields in body order, each shown as one attribute.
struct SchemaField
{
    const char* attribute;
    FieldKind kind;
    u32 size; // bytes of a text field; ignored otherwise
};

// Adds one element named `recordName` under the chunk element and fills its attributes from
// the body, field by field.
XmlElement* recordToXml(Stream& body, XmlElement& chunkElement, const char* recordName, const SchemaField* fields,
                        u32 fieldCount);
// Writes the fields of one record element in order. A missing attribute fails the record when
// `required` (the bytes written before it stay), and is otherwise skipped.
bool recordFromXml(const XmlElement& record, const SchemaField* fields, u32 fieldCount, bool required,
                   ByteBuffer& out);
