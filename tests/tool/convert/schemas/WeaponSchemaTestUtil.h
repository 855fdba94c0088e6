#pragma once
// Helpers for the tests of the weapon chunk schemas, beside the shared schema test helpers:
// record fields, one schema's reading alone, the first schema that takes a chunk, and the
// writer's error lines.
#include "SchemaTestUtil.h"
#include "framework/io/MemoryStream.h"

#include <cmath>

namespace schematest
{
// A text field: `length` bytes of `s` (NULs allowed; up to its first NUL by default) padded
// with NULs to `size`.
inline Bytes txt(const char* s, size_t size, size_t length = size_t(-1))
{
    Bytes out(size, 0);
    const size_t n = length == size_t(-1) ? strnlen(s, size) : length;
    memcpy(out.data(), s, n < size ? n : size);
    return out;
}

// The first n bytes.
inline Bytes prefix(const Bytes& bytes, size_t n)
{
    return Bytes(bytes.begin(), bytes.begin() + (n < bytes.size() ? n : bytes.size()));
}

// A fixed field: the value times 256, little-endian.
inline Bytes fx(double value)
{
    return le32(u32(i32(std::lround(value * 256.0))));
}

// The first registered schema whose match rule takes the chunk ("" for none).
inline std::string matchingSchema(const char* chunkPath, u32 size)
{
    SchemaList schemas(true);
    registerIffSchemas(schemas);
    Bytes body(size, 0);
    MemoryStream stream(body.data(), size);
    for (ChunkSchema* schema : schemas) {
        stream.rewind();
        if (schema->matches(String(chunkPath), stream))
            return schema->name;
    }
    return "";
}

// The elements one schema's toXml adds, under a chunk element named CHNK.
inline std::string toXmlOf(const char* schemaName, const Bytes& body)
{
    SchemaList schemas(true);
    registerIffSchemas(schemas);
    ChunkSchema* schema = findSchema(schemas, String(schemaName));
    EXPECT_NE(schema, nullptr) << schemaName;
    TextBuilder text;
    XmlWriter xml(text);
    xml.open("CHNK");
    MemoryStream stream(body.data(), u32(body.size()));
    if (schema)
        schema->toXml(stream, xml);
    xml.close();
    return text.take().c_str();
}

// The chunk an element given as XML text writes back, with the writer's error lines in
// `printed`.
inline Bytes printedChunkBytes(const std::string& xml, std::string& printed, bool& ok)
{
    ByteBuffer out;
    printed = captured([&] { ok = writeChunkXml(xml, out, false); });
    return Bytes(out.data(), out.data() + out.length);
}

// One case of a schema's conversion: the chunk element a body gives, which must write the same
// chunk back and read back as the same element.
struct ConversionCase
{
    const char* what;
    const char* formPath;
    const char* id;
    Bytes body;
    std::string xml;
};

inline void checkConversions(const std::vector<ConversionCase>& cases)
{
    for (const ConversionCase& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(chunkXml(c.formPath, c.id, c.body), c.xml);
        bool ok = false;
        const Bytes written = chunkBytes(c.xml, &ok);
        EXPECT_TRUE(ok);
        EXPECT_EQ(hexOf(written), hexOf(chunkOf(c.id, c.body)));
        // The body written reads back as the same element.
        if (written.size() >= 8) {
            const u32 size = (u32(written[4]) << 24) | (u32(written[5]) << 16) | (u32(written[6]) << 8) | written[7];
            if (written.size() >= 8 + u64(size)) {
                EXPECT_EQ(chunkXml(c.formPath, c.id, Bytes(written.begin() + 8, written.begin() + 8 + size)), c.xml);
            }
        }
    }
}
}
