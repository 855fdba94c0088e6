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
// Adds "RawName"-style hex when the name the id is written under does not give the id back.
void addRawIdAttribute(XmlElement& element, const char* attributeName, u32 id, const String& name);
// path + "." + name, or name alone for an empty path.
String joinFormPath(const String& path, const String& name);
// "PadByte" for an odd size whose pad byte (at padOffset) is not zero.
void writePadByteAttribute(TD::IFF& iff, XmlElement& element, u32 size, u64 padOffset);
// Whether the current "LIST" container of `iff` holds a well-formed list.
bool isWellFormedList(TD::IFF& iff);

// The text form of a body that no schema claims: readable runs stay as they are, every other
// byte becomes a token "0xNN". When the text would not parse back to the same bytes (a literal
// that reads as a token), every byte is written as a token.
String chunkBodyToText(const u8* data, u32 n);

// Converts the rest of the current level of `iff` into children of `parent`. False when a part
// of it could not be converted (the message is printed; the rest of that level is skipped).
// Each compressed chunk shown decoded is recorded in `streams` when given.
bool formToXml(TD::IFF& iff, const String& path, XmlElement& parent, const SchemaList& schemas, bool inTable,
               u32 depth = 1, StoredStreams* streams = nullptr);
// One container chunk of the current level (form, table or list) and its content.
bool containerToXml(TD::IFF& iff, const String& path, XmlElement& parent, const SchemaList& schemas, u32 depth,
                    bool atRoot, StoredStreams* streams = nullptr);
bool readChunkToXml(TD::IFF& iff, const String& path, XmlElement& parent, const SchemaList& schemas,
                    StoredStreams* streams = nullptr);
// The chunk element for a stored body (found at `offset` of the file): compression, then the
// body's content.
XmlElement* chunkToXml(const String& name, const String& path, XmlElement& parent, const ByteArray& body,
                       const SchemaList& schemas, StoredStreams* streams = nullptr, u64 offset = 0);
// Schema dispatch or text dump. A schema claims a body only when its XML gives the same bytes
// back.
void chunkBodyToXml(const String& chunkPath, Stream& body, XmlElement& element, const SchemaList& schemas);
