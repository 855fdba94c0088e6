#pragma once
#include "framework/core/ByteBuffer.h"
#include "framework/core/PtrArray.h"
#include "framework/core/String.h"
#include "framework/io/Stream.h"
#include "framework/xml/XmlElement.h"
#include "framework/xml/XmlReader.h"
#include "framework/xml/XmlWriter.h"

#include <cstring>

struct IffWriter;

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
    // end, and appends the rebuilt body. False when the content is not what the schema writes (an
    // element, attribute or value it cannot place: said through `writer`, naming the document)
    // or the reader failed.
    virtual bool fromXml(XmlReader& in, ByteBuffer& out, IffWriter& writer) = 0;
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
    FIELD_TEXT,  // N bytes, shown up to the first NUL, written back NUL-padded to N
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

// Writing fields from their XML text (fromXml). Each writes a value only when its field holds
// exactly what was typed, and is false (nothing written) otherwise: a u8 or u32 a plain unsigned
// decimal in range, a flag one of the words String::trueWordIndex takes or "no", "false", "off",
// "0", "disable", "disabled", "inactive" (any case), a fixed value a finite number that toFloat
// reads whole (decimal, or "0x" and the bits of a float) whose value times 256 fits a signed
// 32-bit integer, a text at most its N bytes. An empty value is 0 (a flag's "no").
bool writeTextField(ByteBuffer& out, const String& value, u32 size);
bool writeU8Field(ByteBuffer& out, const String& value);
bool writeFlagField(ByteBuffer& out, const String& value);
bool writeU32Field(ByteBuffer& out, const String& value);
// The fixed value of a text toFloat reads whole; false for any other text or a value out of
// range.
bool textToFixed(const String& value, i32& fixed);
bool writeFixedField(ByteBuffer& out, const String& value);
bool writeField(ByteBuffer& out, FieldKind kind, u32 size, const String& value);

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
// Writes the fields of the record whose start tag `in` has just read, in order, from its
// attributes: each field once, with a value its kind holds, and no other attribute. False after
// the line that says what is wrong (the bytes written before it stay).
bool recordFromXml(XmlReader& in, const SchemaField* fields, u32 fieldCount, ByteBuffer& out, IffWriter& writer);
// One field from the attribute of its name on the start tag `in` has just read; false after the
// line that says it is missing or holds a value the field cannot.
bool fieldFromXml(XmlReader& in, const SchemaField& field, ByteBuffer& out, IffWriter& writer);
// The same for attributes that name no field: false after its line for the first that is not
// one of `allowed` (or is there twice).
bool onlyAttributes(XmlReader& in, const char* const* allowed, u32 count, IffWriter& writer);
// The rest of an element that holds nothing, to its end: an element or text inside it is an
// error.
bool emptyContent(XmlReader& in, IffWriter& writer);
// The rest of an element whose attribute `attribute` is absent, meaning an empty body.
bool emptyWithout(XmlReader& in, const char* attribute, const char* recordName, IffWriter& writer);
// A header element whose one attribute, `field`, is absent for an empty body (a "Turrets" without
// "Damage"): with it, the field is written and `records` reads what follows; without it, a
// `recordName` child would be dropped with it (the line says the attribute is missing), and any
// other child or text is an error too.
template <typename Records>
bool optionalHeader(XmlReader& in, const SchemaField& field, const char* recordName, ByteBuffer& out,
                    IffWriter& writer, Records records)
{
    if (!onlyAttributes(in, &field.attribute, 1, writer))
        return false;
    if (in.attribute(field.attribute))
        return fieldFromXml(in, field, out, writer) && records(in);
    return emptyWithout(in, field.attribute, recordName, writer);
}
// The line for a child no schema element holds, naming it and its parent.
void unexpectedElement(XmlReader& in, IffWriter& writer);
// The line for an element a schema needs and did not find inside the one `in` reads.
void missingElement(XmlReader& in, u32 parentDepth, const char* name, IffWriter& writer);

// The content of the element whose start tag `in` has just read, part by part: `visit` is called
// at each child's start tag and either reads the child to its end or leaves it to be passed
// over; `text` is called for the element's text. Once either answers false the rest is passed
// over and the answer is false. The reader ends at the element's end; false as well when it
// failed there.
template <typename Visit, typename Text>
bool eachPart(XmlReader& in, Visit visit, Text text)
{
    const u32 parent = in.depth();
    bool ok = true;
    for (;;) {
        const XmlReader::Event e = in.next();
        if (e == XmlReader::END && in.depth() == parent)
            return ok;
        if (e == XmlReader::FAILED || e == XmlReader::FINISHED)
            return false;
        if (e == XmlReader::TEXT) {
            if (ok)
                ok = text(in);
            continue;
        }
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

// Children only; text is passed over.
template <typename Visit>
bool eachChild(XmlReader& in, Visit visit)
{
    return eachPart(in, visit, [](XmlReader&) { return true; });
}

// The line for text inside an element that holds none.
bool unexpectedText(XmlReader& in, IffWriter& writer);

// Children of an element that holds records only: text in it is an error.
template <typename Visit>
bool eachRecord(XmlReader& in, IffWriter& writer, Visit visit)
{
    return eachPart(in, visit, [&](XmlReader& reader) { return unexpectedText(reader, writer); });
}
