#pragma once
#include "framework/io/Stream.h"
#include "framework/xml/XmlElement.h"
#include "gamedata/formats/IFF.h"
#include "tool/convert/ChunkCompression.h"
#include "tool/convert/ChunkSchema.h"

// IFF levels deeper than this are not converted (the XML form could not hold them either).
constexpr u32 IFF_MAX_DEPTH = 256;

// The text of a four-byte id: trailing NULs and blanks dropped, then cut at the first NUL.
String chunkIdToText(u32 id);
// Four tokens "0xNN" separated by one blank, in file order.
String chunkIdToHex(u32 id);
// Letters, digits, '_', blanks or NULs, at least one of them neither blank nor NUL.
bool isTextualChunkId(u32 id);
bool isXmlSpecialChar(u8 c);
// The element name an id's text is written under, always an XML name: bytes no name may hold
// become '_', a text that begins with a digit, '-' or '.' gets a '_' before it, and an empty
// text is "_".
String xmlNameOfId(const String& text);
// Whether an id needs "RawName"-style hex: the name it is written under does not give it back.
bool needsRawId(u32 id, const String& name);
// path + "." + name, or name alone for an empty path.
String joinFormPath(const String& path, const String& name);
// The pad byte after an odd size (at padOffset) when it is not zero, else 0.
u8 padByteAt(TD::IFF& iff, u32 size, u64 padOffset);
// Whether the current "LIST" container of `iff` holds a well-formed list.
bool isWellFormedList(TD::IFF& iff);

// The text form of a body that no schema claims: readable runs stay as they are, every other
// byte becomes a token "0xNN". When the text would not parse back to the same bytes (a literal
// that reads as a token), every byte is written as a token.
String chunkBodyToText(const u8* data, u32 n);

// What writing one document's XML needs: the element writer (its text), the schemas, the stored
// streams of the compressed chunks shown decoded (recorded in order, when given).
struct IffXmlOut
{
    XmlWriter& xml;
    const SchemaList& schemas;
    StoredStreams* streams = nullptr;
    const ByteArray* file = nullptr; // the bytes the reader walks, to take chunk bodies where they lie
    // False once the text failed (memory, its budget) or a quit signal came: the walk stops.
    bool going() const;
};

// Writes the rest of the current level of `iff` as elements inside the one `out` has open. False
// when a part of it could not be converted (the message is printed; the rest of that level is
// skipped) or the walk was stopped (see IffXmlOut::going).
bool formToXml(TD::IFF& iff, const String& path, IffXmlOut& out, bool inTable, u32 depth = 1);
// One container chunk of the current level (form, table or list) and its content.
bool containerToXml(TD::IFF& iff, const String& path, IffXmlOut& out, u32 depth, bool atRoot);
bool readChunkToXml(TD::IFF& iff, const String& path, IffXmlOut& out);
// The chunk element for a stored body (found at `offset` of the file, its id `id` and its pad
// byte `pad`, 0 for none): compression, then the body's content.
bool chunkToXml(const String& name, u32 id, const String& path, const ByteArray& body, u8 pad, IffXmlOut& out,
                u64 offset = 0);
