#pragma once
// Helpers for the chunk schema tests: one chunk body as the XML of its chunk element, and the
// bytes a chunk element's records write back through one schema.
#include "tests/tool/convert/IffTestUtil.h"
#include "tool/convert/IffSchemas.h"
#include "tool/convert/IffToXml.h"
#include "tool/convert/XmlToIff.h"

namespace schematest
{
using namespace ifftest;

// The chunk element a stored body converts to, under every registered schema.
inline std::string chunkXml(const char* formPath, const char* id, const Bytes& body)
{
    SchemaList schemas(true);
    registerIffSchemas(schemas);
    XmlElement parent(String("FORM"));
    ByteArray stored = toArray(body);
    XmlElement* element = chunkToXml(String(id), String(formPath), parent, stored, schemas);
    String text;
    if (element)
        element->write(text, 0);
    return text.c_str();
}

inline XmlElement* parsedElement(const std::string& xml)
{
    ByteArray text(reinterpret_cast<const u8*>(xml.data()), u32(xml.size()));
    PtrArray<XmlElement>* list = parseXml(text);
    EXPECT_TRUE(list && list->count == 1) << xml;
    XmlElement* element = nullptr;
    if (list && list->count == 1) {
        element = (*list)[0];
        list->reset();
    }
    memDelete(list);
    return element;
}

// The bytes that XML text writes back as one chunk (header and pad byte included); `ok` false
// when the writer reported an error.
inline Bytes chunkBytes(const std::string& xml, bool* ok = nullptr)
{
    SchemaList schemas(true);
    registerIffSchemas(schemas);
    IffWriter writer(schemas, true);
    XmlElement* element = parsedElement(xml);
    ByteBuffer out;
    const bool written = element && xmlToIff(out, *element, writer, 0);
    if (ok)
        *ok = written;
    memDelete(element);
    return Bytes(out.data(), out.data() + out.length);
}

struct SchemaWrite
{
    bool result = false;
    Bytes body;
};

// What one schema's fromXml appends for a chunk element given as XML text.
inline SchemaWrite schemaBody(const char* schemaName, const std::string& xml)
{
    SchemaList schemas(true);
    registerIffSchemas(schemas);
    SchemaWrite w;
    ChunkSchema* schema = findSchema(schemas, String(schemaName));
    EXPECT_NE(schema, nullptr) << schemaName;
    XmlElement* element = parsedElement(xml);
    if (schema && element) {
        ByteBuffer out;
        w.result = schema->fromXml(*element, out);
        w.body = Bytes(out.data(), out.data() + out.length);
    }
    memDelete(element);
    return w;
}

inline Bytes text(const char* s, size_t size)
{
    Bytes b(size, 0);
    memcpy(b.data(), s, strnlen(s, size));
    return b;
}

// A chunk whose id is given at run time (padded with blanks), with a zero pad byte after an odd
// body.
inline Bytes chunkOf(const char* id, const Bytes& body)
{
    Bytes name = str(id);
    name.resize(4, ' ');
    Bytes out = cat({name, be32(u32(body.size())), body});
    if (body.size() & 1)
        out.push_back(0);
    return out;
}

}
