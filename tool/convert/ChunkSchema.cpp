#include "tool/convert/ChunkSchema.h"
#include "framework/core/TextUtils.h"

#include <cmath>
#include <cstdio>
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

String readField(Stream& body, FieldKind kind, u32 size)
{
    switch (kind) {
    case FIELD_TEXT: return readTextField(body, size);
    case FIELD_U8: return uintToString(readU8Field(body));
    case FIELD_FLAG: return String(readU8Field(body) ? "yes" : "no");
    case FIELD_U32: return uintToString(readU32Field(body));
    case FIELD_FIXED: return fixedToText(i32(readU32Field(body)));
    }
    return String();
}

void writeTextField(ByteBuffer& out, const String& value, u32 size)
{
    const u64 take = value.length < size ? value.length : size;
    if (take)
        out.write(reinterpret_cast<const u8*>(value.c_str()), take);
    for (u64 i = take; i < size; i++)
        out.writeU8(0);
}

void writeU8Field(ByteBuffer& out, const String& value)
{
    out.writeU8(u8(parseUnsigned(value.c_str())));
}

void writeFlagField(ByteBuffer& out, const String& value)
{
    out.writeU8(value.trueWordIndex() >= 0 ? 1 : 0);
}

void writeU32Field(ByteBuffer& out, const String& value)
{
    out.writeU32(parseUnsigned(value.c_str()));
}

i32 textToFixed(const String& value)
{
    const float f = value.toFloat();
    const float scaled = f * 256.0f;
    // Out of range or not a number: the pattern a float-to-int conversion of the x86 gives.
    if (std::isnan(scaled) || scaled >= 2147483648.0f || scaled < -2147483648.0f)
        return i32(0x80000000u);
    return i32(scaled);
}

void writeFixedField(ByteBuffer& out, const String& value)
{
    out.writeU32(u32(textToFixed(value)));
}

void writeField(ByteBuffer& out, FieldKind kind, u32 size, const String& value)
{
    switch (kind) {
    case FIELD_TEXT: writeTextField(out, value, size); break;
    case FIELD_U8: writeU8Field(out, value); break;
    case FIELD_FLAG: writeFlagField(out, value); break;
    case FIELD_U32: writeU32Field(out, value); break;
    case FIELD_FIXED: writeFixedField(out, value); break;
    }
}

namespace
{
// One field read from the body and written as its attribute, as readField gives its text: a
// record chunk of millions of records allocates nothing for them.
void fieldAttribute(Stream& body, XmlWriter& out, const SchemaField& field)
{
    char text[64];
    u64 length = 0;
    switch (field.kind) {
    case FIELD_TEXT: {
        if (field.size > sizeof(text)) {
            out.attribute(field.attribute, readTextField(body, field.size));
            return;
        }
        const u64 left = body.bytesLeft();
        const u64 take = left < field.size ? left : field.size;
        memset(text, 0, sizeof(text));
        if (take)
            body.read(text, take);
        length = strnlen(text, field.size);
        break;
    }
    case FIELD_U8:
        length = u64(snprintf(text, sizeof(text), "%u", unsigned(readU8Field(body))));
        break;
    case FIELD_FLAG:
        length = readU8Field(body) ? 3 : 2;
        memcpy(text, length == 3 ? "yes" : "no", length);
        break;
    case FIELD_U32:
        length = u64(snprintf(text, sizeof(text), "%u", unsigned(readU32Field(body))));
        break;
    case FIELD_FIXED:
        length = u64(snprintf(text, sizeof(text), "%.17g", double(i32(readU32Field(body))) * 0.00390625));
        break;
    }
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

const String* findAttribute(const PtrArray<XmlAttribute>& attributes, const char* name, u64 n)
{
    for (const XmlAttribute* a : attributes)
        if (a->name.length == n && memcmp(a->name.data, name, n) == 0)
            return &a->value;
    return nullptr;
}

bool recordFromXml(const PtrArray<XmlAttribute>& attributes, const SchemaField* fields, u32 fieldCount,
                   bool required, ByteBuffer& out)
{
    for (u32 i = 0; i < fieldCount; i++) {
        const String* value = findAttribute(attributes, fields[i].attribute);
        if (!value) {
            if (required)
                return false;
            continue;
        }
        writeField(out, fields[i].kind, fields[i].size, *value);
    }
    return true;
}
