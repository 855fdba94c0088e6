#pragma once
#include "framework/core/ByteBuffer.h"
#include "framework/xml/XmlElement.h"
#include "framework/xml/XmlReader.h"
#include "tool/convert/ChunkCompression.h"
#include "tool/convert/ChunkSchema.h"

// What one conversion of XML back to IFF needs: the schemas, and whether its error lines are
// printed. Every error is counted; a conversion with errors must not be written (the bytes are
// still built as far as they can be). With the stored streams of the file the document came
// from, a compressed chunk whose content is unchanged is written as it was stored.
struct IffWriter
{
    const SchemaList& schemas;
    bool quiet = false;
    String document; // named by the lines about what cannot be written
    // With a place for them, error lines are kept there instead of printed (to be printed once
    // the whole document is known to read).
    String* heldLines = nullptr;
    u32 errors = 0;
    bool interrupted = false; // a quit signal ended the conversion (counted as an error, unsaid)
    StoredStreams* streams = nullptr;
    const ByteArray* file = nullptr; // the bytes the stored streams lie in

    explicit IffWriter(const SchemaList& list, bool silent = false) : schemas(list), quiet(silent) {}
    void error(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // Starts a pass that takes stored streams from `source`, lying in `bytes` (none when null).
    void reuse(StoredStreams* source, const ByteArray* bytes);
    // The stored body for a chunk of this content and compression, when the file has one.
    bool findStored(u8 code, const ByteArray& plain, const u8*& stored, u32& length);
};

// Appends the bytes of the element of an IFF document whose start tag `in` has just read (form,
// chunk, "Table" or "TableEntry"), reading it to its end. `base` is the position in the whole
// file of out's first byte, so table offsets come out absolute. False when anything could not be
// written as the XML asks, or the reader failed.
bool xmlToIff(ByteBuffer& out, XmlReader& in, IffWriter& writer, u32 base, u32 depth = 1);

// The id an element stands for: its name (or another text) padded with blanks, with each byte
// replaced from the attribute's four hex tokens when it has them.
u32 readIdAttribute(const XmlReader& in, const char* attributeName, const String& text, const String& elementName,
                    IffWriter& writer);
// The inverse of the text dump: tokens "0xNN" at the start or after whitespace and followed by
// whitespace or the end are bytes; whitespace next to a token separates; everything else is
// literal.
void parseChunkText(ByteBuffer& out, const String& text);
// The token "0xNN" (either case) at `position` of a text of `length` bytes, followed by
// whitespace or the text's end; false when there is none there.
bool parseHexByteToken(const char* text, u64 length, u64 position, u8& value);
// "PadByte": 0 when absent; hex after "0x", else decimal; the low 8 bits. False for a value that
// is not a number.
bool readPadByteAttribute(const XmlReader& in, u8& pad);
void appendPadByte(ByteBuffer& out, u32 size, u8 pad);
// A decimal attribute; false (and `value` 0) when it is present but not a decimal number.
bool readDecimalAttribute(const XmlReader& in, const char* attributeName, u32& value, bool& present);
// Reads on to the end of the element at `depth` (the reader's depth of its start tag); false when
// the reader failed first.
bool finishElement(XmlReader& in, u32 depth);
