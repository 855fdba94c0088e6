#pragma once
#include "framework/core/ByteBuffer.h"
#include "framework/core/PtrArray.h"
#include "framework/core/String.h"
#include "framework/io/Stream.h"
#include "framework/xml/XmlElement.h"
#include "framework/xml/XmlReader.h"
#include "framework/xml/XmlWriter.h"

#include <cstring>

// A converter between one kind of IFF chunk body and XML records. A schema recognises its
// chunks by their form path (the dotted types of the enclosing forms and the chunk id, e.g.
// REAL.OBJT.MISL.DATA) and body size, writes the body as child elements and attributes of the
// chunk element, and rebuilds the same bytes from them. Schemas hold no state; each conversion
// registers a fresh set (registerIffSchemas) in a fixed match order.
class ChunkSchema
{
public:
    const char* name; // the chunk element's "Handler" value
    // The id of every chunk the schema matches, when there is one: other chunks are not offered
    // to it (most chunks of a large document are no schema's).
    const char* chunkId;
    u32 chunkIdLength;

    explicit ChunkSchema(const char* schemaName, const char* id = nullptr)
        : name(schemaName), chunkId(id), chunkIdLength(id ? u32(strlen(id)) : 0)
    {
    }
    virtual ~ChunkSchema() = default;
    ChunkSchema(const ChunkSchema&) = delete;
    ChunkSchema& operator=(const ChunkSchema&) = delete;

    virtual bool matches(const String& formPath, Stream& body) = 0;
    // Writes the body, read from its start, as elements inside the chunk element, which `out`
    // has open. A large body is written a record at a time, never held as elements.
    virtual void toXml(Stream& body, XmlWriter& out) = 0;
    // Reads the chunk element's content, `in` standing at its start tag, up to and including its
    // end, and appends the rebuilt body; false when a required element or attribute is missing
    // or the reader failed.
    virtual bool fromXml(XmlReader& in, ByteBuffer& out) = 0;
};

typedef PtrArray<ChunkSchema> SchemaList;

// The last component of a dotted path suffix (".WEAP.FGTR.GUNS" gives "GUNS"): the chunk id of a
// schema whose chunks end so.
const char* lastComponent(const char* suffix);

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

// Opens an element named `recordName` and writes its attributes from the body, field by field;
// the caller closes it (records may hold records).
void openRecord(Stream& body, XmlWriter& out, const char* recordName, const SchemaField* fields, u32 fieldCount);
// The same, closed at once.
void recordToXml(Stream& body, XmlWriter& out, const char* recordName, const SchemaField* fields, u32 fieldCount);
// Writes the fields of one record from its attributes (an element's or a start tag's) in order. A
// missing attribute fails the record when `required` (the bytes written before it stay), and is
// otherwise skipped.
bool recordFromXml(const PtrArray<XmlAttribute>& attributes, const SchemaField* fields, u32 fieldCount,
                   bool required, ByteBuffer& out);
// The first attribute of exactly that name (of `length` bytes), or null.
const String* findAttribute(const PtrArray<XmlAttribute>& attributes, const char* name, u64 length);
inline const String* findAttribute(const PtrArray<XmlAttribute>& attributes, const char* name)
{
    return findAttribute(attributes, name, strlen(name));
}
template <u64 N>
const String* findAttribute(const PtrArray<XmlAttribute>& attributes, const char (&name)[N])
{
    return findAttribute(attributes, name, N - 1);
}

// The content of the element whose start tag `in` has just read, child by child: `visit` is
// called at each child's start tag and either reads the child to its end or leaves it to be
// passed over; text is passed over. Once a visit answers false the rest is passed over and the
// answer is false. The reader ends at the element's end; false as well when it failed there.
template <typename Visit>
bool eachChild(XmlReader& in, Visit visit)
{
    const u32 parent = in.depth();
    bool ok = true;
    for (;;) {
        const XmlReader::Event e = in.next();
        if (e == XmlReader::END && in.depth() == parent)
            return ok;
        if (e == XmlReader::FAILED || e == XmlReader::FINISHED)
            return false;
        if (e != XmlReader::START)
            continue;
        if (ok)
            ok = visit(in);
        if (in.event() == XmlReader::START && in.depth() == parent + 1 && !in.skipElement())
            return false;
        if (in.event() == XmlReader::FAILED)
            return false;
    }
}
