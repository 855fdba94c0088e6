#include "tool/convert/ChunkSchema.h"
#include "tool/convert/XmlToIff.h"
#include "framework/core/TextUtils.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

ChunkSchema* findSchema(const SchemaList& schemas, const String& name)
{
    for (ChunkSchema* s : schemas)
        if (s && name.equals(s->name))
            return s;
    return nullptr;
}

const char* lastComponent(const char* suffix)
{
    const char* dot = strrchr(suffix, '.');
    return dot ? dot + 1 : suffix;
}

bool matchesFormPath(const String& formPath, Stream& body, const char* prefix, const char* suffix, u32 multiple,
                     u32 exact)
{
    if (formPath.isEmpty())
        return false;
    if (prefix && !formPath.startsWith(prefix))
        return false;
    if (suffix && !formPath.endsWith(suffix))
        return false;
    const u64 size = body.bytesLeft();
    if (multiple && size % multiple != 0)
        return false;
    if (exact && size != exact)
        return false;
    return true;
}

String readTextField(Stream& body, u32 size)
{
    String value;
    if (size == 0)
        return value;
    char* field = static_cast<char*>(allocZeroed(u64(size) + 1));
    if (!field)
        return value;
    const u64 left = body.bytesLeft();
    body.read(field, left < size ? left : size);
    value = String(field, strnlen(field, size));
    memFree(field);
    return value;
}

u8 readU8Field(Stream& body)
{
    return body.bytesLeft() >= 1 ? body.readU8() : 0;
}

u32 readU32Field(Stream& body)
{
    return body.bytesLeft() >= 4 ? body.readU32() : 0;
}

String fixedToText(i32 value)
{
    return doubleToString(double(value) * 0.00390625);
}

namespace
{
// Room for the text of any field but a long text field.
constexpr u32 FIELD_TEXT_ROOM = 64;

// One field read from the body, its text into `text`, without allocating (a record chunk of
// millions of records writes them all); a text field longer than the room is the caller's.
u64 fieldText(Stream& body, FieldKind kind, u32 size, char (&text)[FIELD_TEXT_ROOM])
{
    switch (kind) {
    case FIELD_TEXT: {
        const u64 left = body.bytesLeft();
        const u64 take = left < size ? left : size;
        memset(text, 0, sizeof(text));
        if (take)
            body.read(text, take);
        return strnlen(text, size);
    }
    case FIELD_U8: return u64(snprintf(text, sizeof(text), "%u", unsigned(readU8Field(body))));
    case FIELD_FLAG: return u64(snprintf(text, sizeof(text), "%s", readU8Field(body) ? "yes" : "no"));
    case FIELD_U32: return u64(snprintf(text, sizeof(text), "%u", unsigned(readU32Field(body))));
    case FIELD_FIXED:
        return u64(snprintf(text, sizeof(text), "%.17g", double(i32(readU32Field(body))) * 0.00390625));
    }
    return 0;
}
}

String readField(Stream& body, FieldKind kind, u32 size)
{
    if (kind == FIELD_TEXT && size > FIELD_TEXT_ROOM)
        return readTextField(body, size);
    char text[FIELD_TEXT_ROOM];
    const u64 length = fieldText(body, kind, size, text);
    return String(text, length);
}

bool writeTextField(ByteBuffer& out, const String& value, u32 size)
{
    if (value.length > size)
        return false;
    if (value.length)
        out.write(reinterpret_cast<const u8*>(value.c_str()), value.length);
    for (u64 i = value.length; i < size; i++)
        out.writeU8(0);
    return true;
}

namespace
{
bool plainDecimal(const String& value, u32 largest, u32& number)
{
    u64 n = 0;
    const bool ok = parsePlainDecimal(value.c_str(), value.length, largest, n);
    number = u32(n);
    return ok;
}

const char* const FALSE_WORDS[] = {"no", "false", "off", "0", "disable", "disabled", "inactive"};
}

bool writeU8Field(ByteBuffer& out, const String& value)
{
    u32 n = 0;
    if (!plainDecimal(value, 0xFF, n))
        return false;
    out.writeU8(u8(n));
    return true;
}

bool writeFlagField(ByteBuffer& out, const String& value)
{
    if (value.trueWordIndex() >= 0) {
        out.writeU8(1);
        return true;
    }
    bool no = value.isEmpty();
    for (const char* word : FALSE_WORDS)
        no = no || value.equalsNoCase(word);
    if (!no)
        return false;
    out.writeU8(0);
    return true;
}

bool writeU32Field(ByteBuffer& out, const String& value)
{
    u32 n = 0;
    if (!plainDecimal(value, 0xFFFFFFFFu, n))
        return false;
    out.writeU32(n);
    return true;
}

bool textToFixed(const String& value, i32& fixed)
{
    fixed = 0;
    if (value.isEmpty())
        return true;
    const char* text = value.c_str();
    // Read whole, as toFloat reads it: the bits of a float after "0x", or a decimal number.
    if (value.length >= 2 && text[0] == '0' && text[1] == 'x') {
        if (value.length == 2 || value.length > 10)
            return false;
        for (u64 i = 2; i < value.length; i++)
            if (hexDigitValue(u8(text[i])) < 0)
                return false;
    } else {
        if (isBlankByte(u8(text[0])))
            return false;
        char* end = nullptr;
        strtod(text, &end);
        if (end != text + value.length)
            return false;
    }
    const float f = value.toFloat();
    const float scaled = f * 256.0f;
    if (!std::isfinite(f) || !(scaled >= -2147483648.0f && scaled < 2147483648.0f))
        return false;
    fixed = i32(scaled);
    return true;
}

bool writeFixedField(ByteBuffer& out, const String& value)
{
    i32 fixed = 0;
    if (!textToFixed(value, fixed))
        return false;
    out.writeU32(u32(fixed));
    return true;
}

bool writeField(ByteBuffer& out, FieldKind kind, u32 size, const String& value)
{
    switch (kind) {
    case FIELD_TEXT: return writeTextField(out, value, size);
    case FIELD_U8: return writeU8Field(out, value);
    case FIELD_FLAG: return writeFlagField(out, value);
    case FIELD_U32: return writeU32Field(out, value);
    case FIELD_FIXED: return writeFixedField(out, value);
    }
    return false;
}

namespace
{
void fieldAttribute(Stream& body, XmlWriter& out, const SchemaField& field)
{
    if (field.kind == FIELD_TEXT && field.size > FIELD_TEXT_ROOM) {
        out.attribute(field.attribute, readTextField(body, field.size));
        return;
    }
    char text[FIELD_TEXT_ROOM];
    const u64 length = fieldText(body, field.kind, field.size, text);
    out.attribute(field.attribute, text, length);
}
}

void openRecord(Stream& body, XmlWriter& out, const char* recordName, const SchemaField* fields, u32 fieldCount)
{
    if (!out.open(recordName))
        return;
    for (u32 i = 0; i < fieldCount; i++)
        fieldAttribute(body, out, fields[i]);
}

void recordToXml(Stream& body, XmlWriter& out, const char* recordName, const SchemaField* fields, u32 fieldCount)
{
    openRecord(body, out, recordName, fields, fieldCount);
    out.close();
}

namespace
{
const char* documentOf(const IffWriter& writer)
{
    return writer.document.c_str();
}
}

void unexpectedElement(XmlReader& in, IffWriter& writer)
{
    writer.error("ERROR: Unexpected element '%s' in element '%s' of '%s'!\n", in.name().c_str(),
                 in.nameAt(in.depth() - 1).c_str(), documentOf(writer));
}

void missingElement(XmlReader& in, u32 parentDepth, const char* name, IffWriter& writer)
{
    writer.error("ERROR: Missing element '%s' in element '%s' of '%s'!\n", name, in.nameAt(parentDepth).c_str(),
                 documentOf(writer));
}

bool unexpectedText(XmlReader& in, IffWriter& writer)
{
    writer.error("ERROR: Unexpected text in element '%s' of '%s'!\n", in.nameAt(in.depth()).c_str(),
                 documentOf(writer));
    return false;
}

namespace
{
// An attribute twice, or one that is not among the names (nameOf(k) for k below count): the line
// says so.
template <typename NameOf>
bool attributesKnown(XmlReader& in, IffWriter& writer, u32 count, NameOf nameOf)
{
    // Each known name at most once: the first attribute past `count` is always refused.
    for (u32 i = 0; i < in.attributeCount(); i++) {
        const XmlSpan name = in.attributeName(i);
        bool known = false;
        for (u32 k = 0; k < count && !known; k++)
            known = name.equals(nameOf(k));
        for (u32 j = 0; j < i && known; j++)
            known = !in.attributeName(j).equals(name);
        if (!known) {
            writer.error("ERROR: Unexpected attribute '%s' in element '%s' of '%s'!\n", name.text().c_str(),
                         in.name().c_str(), documentOf(writer));
            return false;
        }
    }
    return true;
}
}

bool fieldFromXml(XmlReader& in, const SchemaField& field, ByteBuffer& out, IffWriter& writer)
{
    const XmlSpan given = in.attribute(field.attribute);
    if (!given) {
        writer.error("ERROR: Missing attribute '%s' in element '%s' of '%s'!\n", field.attribute, in.name().c_str(),
                     documentOf(writer));
        return false;
    }
    // A copy that memory ran out for is no value: the reader fails next.
    const String value = given.text();
    if (value.length != given.length)
        return false;
    if (!writeField(out, field.kind, field.size, value)) {
        writer.error("ERROR: Bad value '%s' for attribute '%s' of element '%s' in '%s'!\n", value.c_str(),
                     field.attribute, in.name().c_str(), documentOf(writer));
        return false;
    }
    return true;
}

bool recordFromXml(XmlReader& in, const SchemaField* fields, u32 fieldCount, ByteBuffer& out, IffWriter& writer)
{
    if (!attributesKnown(in, writer, fieldCount, [&](u32 k) { return fields[k].attribute; }))
        return false;
    for (u32 i = 0; i < fieldCount; i++)
        if (!fieldFromXml(in, fields[i], out, writer))
            return false;
    return true;
}

bool onlyAttributes(XmlReader& in, const char* const* allowed, u32 count, IffWriter& writer)
{
    return attributesKnown(in, writer, count, [&](u32 k) { return allowed[k]; });
}

bool emptyContent(XmlReader& in, IffWriter& writer)
{
    return eachRecord(in, writer, [&](XmlReader& child) {
        unexpectedElement(child, writer);
        return false;
    });
}

bool emptyWithout(XmlReader& in, const char* attribute, const char* recordName, IffWriter& writer)
{
    const u32 parent = in.depth();
    return eachRecord(in, writer, [&](XmlReader& child) {
        if (child.name().equals(recordName))
            writer.error("ERROR: Missing attribute '%s' in element '%s' of '%s'!\n", attribute,
                         child.nameAt(parent).c_str(), documentOf(writer));
        else
            unexpectedElement(child, writer);
        return false;
    });
}
