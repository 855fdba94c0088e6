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

// Writes every child named exactly `recordName` of the element whose start tag `in` has just
// read, in order; children of other names are passed over. False at the first missing attribute
// (the bytes written before it stay); the reader ends at the element's end either way.
bool recordsFromXml(XmlReader& in, const char* recordName, const SchemaField* fields, u32 fieldCount,
                    ByteBuffer& out);

// The first child named exactly `name` of the element whose start tag `in` has just read is
// handed to `take` at its own start tag (see eachChild); every other child is passed over. False
// when there is none, or `take` says so.
template <typename Take>
bool withFirstChildNamed(XmlReader& in, const char* name, Take take)
{
    bool found = false;
    const bool ok = eachChild(in, [&](XmlReader& child) {
        if (found || !child.name().equals(name))
            return true;
        found = true;
        return take(child);
    });
    return ok && found;
}
