#pragma once
#include "tool/convert/ChunkSchema.h"

// Helpers for chunks that hold runs of fixed-size records under one parent element.

template <size_t N>
constexpr u32 countOf(const SchemaField (&)[N])
{
    return u32(N);
}

// The first child of `parent` named exactly `name`, or null.
const XmlElement* firstChildNamed(const XmlElement& parent, const char* name);

// Adds one record element under `parent` for each record left in the body, up to its end; a
// last record cut short by the end reads zeros for what is missing.
void recordsToXml(Stream& body, XmlElement& parent, const char* recordName, const SchemaField* fields,
                  u32 fieldCount);

// Writes every child of `parent` named exactly `recordName`, in order; children of other names
// are skipped. False at the first missing attribute (the bytes written before it stay).
bool recordsFromXml(const XmlElement& parent, const char* recordName, const SchemaField* fields, u32 fieldCount,
                    ByteBuffer& out);

// Whether `parent` has a child named exactly `name`.
inline bool hasChildNamed(const XmlElement& parent, const char* name)
{
    return firstChildNamed(parent, name) != nullptr;
}
