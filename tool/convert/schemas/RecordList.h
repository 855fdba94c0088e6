#pragma once
#include "tool/convert/ChunkSchema.h"

// Helpers for chunks that hold runs of fixed-size records under one parent element.

template <size_t N>
constexpr u32 countOf(const SchemaField (&)[N])
{
    return u32(N);
}

// Writes one record element for each record left in the body, up to its end; a last record cut
// short by the end reads zeros for what is missing.
void recordsToXml(Stream& body, XmlWriter& out, const char* recordName, const SchemaField* fields, u32 fieldCount);

// Writes the records of the element whose start tag `in` has just read: every child must be an
// element named exactly `recordName` holding nothing, with the record's fields. False after the
// line that says what is wrong (the bytes written before it stay); the reader ends at the
// element's end either way.
bool recordsFromXml(XmlReader& in, const char* recordName, const SchemaField* fields, u32 fieldCount,
                    ByteBuffer& out, IffWriter& writer);

// The one child of the element whose start tag `in` has just read, which must be named exactly
// `name`, is handed to `take` at its own start tag (see eachChild); any other child or text is an
// error, and so is none.
template <typename Take>
bool withOnlyChild(XmlReader& in, IffWriter& writer, const char* name, Take take)
{
    const u32 parent = in.depth();
    bool found = false;
    const bool ok = eachRecord(in, writer, [&](XmlReader& child) {
        if (found || !child.name().equals(name)) {
            unexpectedElement(child, writer);
            return false;
        }
        found = true;
        return take(child);
    });
    if (ok && !found)
        missingElement(in, parent, name, writer);
    return ok && found;
}
