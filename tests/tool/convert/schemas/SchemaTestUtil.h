#pragma once
// Helpers for the chunk schema tests: one chunk body as the XML of its chunk element, and the
// bytes a chunk element's records write back through one schema.
#include "tests/tool/convert/IffTestUtil.h"
#include "tool/convert/IffSchemas.h"
#include "tool/convert/IffToXml.h"
#include "tool/convert/XmlToIff.h"

#include <optional>
#include <vector>

namespace schematest
{
using namespace ifftest;

// The chunk element a stored body converts to, under every registered schema.
inline std::string chunkXml(const char* formPath, const char* id, const Bytes& body)
{
    SchemaList schemas(true);
    registerIffSchemas(schemas);
    ByteArray stored = toArray(body);
    u32 idValue = 0;
    for (u32 i = 0; i < 4; i++)
        idValue = (idValue << 8) | u8(i < strlen(id) ? id[i] : ' ');
    TextBuilder text;
    XmlWriter xml(text);
    IffXmlOut out{xml, schemas};
    chunkToXml(String(id), idValue, String(formPath), stored, 0, out);
    return text.take().c_str();
}

// Writes one chunk element given as XML text; false when the writer reported an error.
inline bool writeChunkXml(const std::string& xml, ByteBuffer& out, bool quiet)
{
    SchemaList schemas(true);
    registerIffSchemas(schemas);
    IffWriter writer(schemas, quiet);
    writer.document = "TEST.xml";
    XmlReader in(xml.data(), xml.size());
    return in.next() == XmlReader::START && xmlToIff(out, in, writer, 0);
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
    ByteBuffer out;
    const bool written = writeChunkXml(xml, out, true);
    if (ok)
        *ok = written;
    return Bytes(out.data(), out.data() + out.length);
}

struct SchemaWrite
{
    bool result = false;
    Bytes body;
};

// What one schema's fromXml appends for a chunk element given as XML text; with `printed`, the
// lines it says of a document named "TEST.xml" go there.
inline SchemaWrite schemaBody(const char* schemaName, const std::string& xml, std::string* printed = nullptr)
{
    SchemaList schemas(true);
    registerIffSchemas(schemas);
    SchemaWrite w;
    ChunkSchema* schema = findSchema(schemas, String(schemaName));
    EXPECT_NE(schema, nullptr) << schemaName;
    XmlReader in(xml.data(), xml.size());
    if (schema && in.next() == XmlReader::START) {
        ByteBuffer out;
        IffWriter writer(schemas, printed == nullptr);
        writer.document = "TEST.xml";
        const std::string said = captured([&] { w.result = schema->fromXml(in, out, writer); });
        if (printed)
            *printed = said;
        w.body = Bytes(out.data(), out.data() + out.length);
    }
    return w;
}

// One case of writing back through a schema: the body written, or (none) the line that refuses it.
struct WriteBackCase
{
    const char* schema;
    std::string xml;
    std::optional<Bytes> body;
    std::string line;
};

inline void checkWriteBacks(const std::vector<WriteBackCase>& cases)
{
    for (const WriteBackCase& c : cases) {
        std::string printed;
        const SchemaWrite w = schemaBody(c.schema, c.xml, &printed);
        EXPECT_EQ(w.result, c.body.has_value()) << c.xml;
        if (c.body) {
            EXPECT_EQ(hexOf(w.body), hexOf(*c.body)) << c.xml;
        }
        EXPECT_EQ(printed, c.line) << c.xml;
    }
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
