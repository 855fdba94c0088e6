#pragma once
#include "framework/core/ByteBuffer.h"
#include "framework/core/PtrArray.h"
#include "framework/xml/XmlElement.h"
#include "tool/convert/PfcToXml.h"

// A table as a tree of elements and back, for the tests and fuzz targets that hold the
// streamed conversion to it; the tool itself never builds the tree.

// The document {"PFC" Version="1" with one element per top-level record}; the caller owns it.
// Short fields read as zeros, unknown tags are skipped. Null when branches nest deeper than
// PFC_MAX_DEPTH.
PtrArray<XmlElement>* pfcToXml(const ByteArray& bytes);
// Appends the records for the children of `parent`. Missing attributes take their defaults
// (empty names, delay 1, other numbers 0, an empty line); unknown elements write nothing.
void xmlToPfc(const XmlElement& parent, ByteBuffer& out);
// The first top-level element named "PFC"; null when there is none.
const XmlElement* findPfcRoot(const PtrArray<XmlElement>& document);
// Whether the records under the root can be written exactly as they stand: known elements in
// their places, known attributes, numbers in range, names of at most 9 bytes, lines of at most
// PFC_MAX_LINE bytes, and no records behind a nested branch. Prints one "ERROR: " line naming
// `path` for the first fault.
bool checkPfcDocument(const XmlElement& root, const String& path);
