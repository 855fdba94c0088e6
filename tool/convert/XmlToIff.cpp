#include "tool/convert/XmlToIff.h"
#include "framework/core/TextUtils.h"
#include "tool/convert/ChunkCompression.h"
#include "tool/convert/IffToXml.h"
#include "framework/app/ProcessUtils.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace
{
// Buffer reserves taken from sizes in the XML are only hints; this keeps a wild value from
// asking for a huge block before anything is written.
constexpr u32 RESERVE_STEP = 0x10000;
constexpr u32 MAX_RESERVE = 0x1000000;
// More table slots than this cannot come from a file the reader accepted.
constexpr u32 MAX_TABLE_SIZE = 0x1000000;
// Bytes of text between looks at the quit signal.
constexpr u64 QUIT_CHECK_STEP = 1u << 20;
// A form keeps a declared size beyond its content as zero bytes; a gap this large is a typing
// slip in the document, not bytes of a real file.
constexpr u64 MAX_FORM_GAP = 0x1000000;

bool isWhitespace(u8 c)
{
    return c == '\t' || c == '\n' || c == '\r' || c == ' ';
}

u32 reserveFor(u32 size)
{
    u32 n = size > RESERVE_STEP ? size : RESERVE_STEP;
    return n < MAX_RESERVE ? n : MAX_RESERVE;
}

void writeId(ByteBuffer& out, u32 id)
{
    out.writeU32BE(id);
}

void appendZeros(ByteBuffer& out, u64 n)
{
    static const u8 zeros[4096] = {};
    while (n && out.ok()) {
        const u64 step = n < sizeof(zeros) ? n : sizeof(zeros);
        out.write(zeros, step);
        n -= step;
    }
}

void invalidValue(IffWriter& writer, const char* attributeName, const String& value, const String& elementName)
{
    writer.error("ERROR: Invalid IFF %s='%s' on XML element '%s'.\n", attributeName, value.c_str(), elementName.c_str());
}

// An attribute's text as written, empty when it is absent (for the error said about it).
String attributeText(const XmlReader& in, const char* name)
{
    return in.attribute(name).text();
}

// A decimal attribute of a start tag; the text as written is kept when it is not a number, for
// the error said about it.
struct Decimal
{
    u32 value = 0;
    bool present = false;
    bool valid = true;
    String text;
};

Decimal decimalAttribute(const XmlReader& in, const char* name)
{
    Decimal d;
    d.valid = readDecimalAttribute(in, name, d.value, d.present);
    if (!d.valid)
        d.text = attributeText(in, name);
    return d;
}

// "PadByte" of a start tag, likewise.
struct PadByte
{
    u8 value = 0;
    bool valid = true;
    String text;
};

PadByte padAttribute(const XmlReader& in)
{
    PadByte p;
    p.valid = readPadByteAttribute(in, p.value);
    if (!p.valid)
        p.text = attributeText(in, "PadByte");
    return p;
}

u8 padByteOf(const PadByte& pad, const String& elementName, IffWriter& writer)
{
    if (!pad.valid)
        invalidValue(writer, "PadByte", pad.text, elementName);
    return pad.value;
}

// A reader that has stopped: a quit signal came (the walk ends at once; a reader it stopped in a
// tag has failed for it), or it failed.
bool stopped(XmlReader& in, IffWriter& writer)
{
    if (!quitSignalsReceived())
        return in.event() == XmlReader::FAILED;
    writer.interrupted = true;
    writer.errors++;
    return true;
}

// Narrows [text, text + length) to leave out the bytes up to 0x20 at its ends.
void trimSpan(const char*& text, u64& length)
{
    while (length && u8(*text) <= 0x20) {
        text++;
        length--;
    }
    while (length && u8(text[length - 1]) <= 0x20)
        length--;
}
}

bool parseHexByteToken(const char* text, u64 length, u64 i, u8& value)
{
    if (i + 4 > length || text[i] != '0' || (text[i + 1] != 'x' && text[i + 1] != 'X'))
        return false;
    const int high = hexDigitValue(u8(text[i + 2])), low = hexDigitValue(u8(text[i + 3]));
    if (high < 0 || low < 0 || (i + 4 < length && !isWhitespace(u8(text[i + 4]))))
        return false;
    value = u8((high << 4) | low);
    return true;
}

namespace
{
// parseChunkText over a trimmed text of n bytes.
void parseTrimmedText(ByteBuffer& out, const char* t, u64 n)
{
    bool afterToken = false;
    u64 i = 0;
    // Literal bytes are written a run at a time: [literalStart, i) are not yet in `out`. Token
    // bytes wait in `tokens` until a literal or the end comes.
    u64 literalStart = 0;
    u8 tokens[256];
    u32 held = 0;
    const auto flushTokens = [&] {
        if (held)
            out.write(tokens, held);
        held = 0;
    };
    const auto writeLiterals = [&] {
        if (i > literalStart) {
            flushTokens();
            out.write(reinterpret_cast<const u8*>(t + literalStart), i - literalStart);
        }
    };
    u64 nextCheck = QUIT_CHECK_STEP;
    while (i < n) {
        // A quit signal ends the run within a moment, also inside one large text.
        if (i >= nextCheck) {
            if (quitSignalsReceived())
                return;
            nextCheck = i + QUIT_CHECK_STEP;
        }
        const u8 c = u8(t[i]);
        u8 value = 0;
        if (c > ' ' && c != '0') {
            // Neither whitespace nor the start of a token: a literal.
            afterToken = false;
            i++;
            continue;
        }
        if (isWhitespace(c)) {
            u64 j = i;
            while (j < n && isWhitespace(u8(t[j])))
                j++;
            if (afterToken || (j < n && parseHexByteToken(t, n, j, value))) {
                writeLiterals();
                i = literalStart = j;
                continue;
            }
            afterToken = false;
            i++;
            continue;
        }
        if ((i == 0 || isWhitespace(u8(t[i - 1]))) && parseHexByteToken(t, n, i, value)) {
            writeLiterals();
            // Tokens one blank apart, the bulk of a dump, are taken in one go.
            for (;;) {
                if (held == sizeof(tokens)) {
                    flushTokens();
                    if (!out.ok())
                        return;
                }
                tokens[held++] = value;
                i += 4;
                if (i + 5 > n || t[i] != ' ' || !parseHexByteToken(t, n, i + 1, value))
                    break;
                i++;
            }
            literalStart = i;
            afterToken = true;
            continue;
        }
        afterToken = false;
        i++;
    }
    writeLiterals();
    flushTokens();
}

void writeTable(ByteBuffer& out, XmlReader& in, IffWriter& writer, u32 base, u32 depth)
{
    const u32 own = in.depth();
    const String name = in.name();
    const Decimal declared = decimalAttribute(in, "TableSize");
    if (!declared.valid)
        invalidValue(writer, "TableSize", declared.text, name);
    // An element that is not whole counts none: the reader meets its error below.
    u32 children = 0;
    in.countChildren(children);
    const u32 count = declared.value > children ? declared.value : children;
    if (count > MAX_TABLE_SIZE) {
        // The count may come from the children alone, with no size declared.
        invalidValue(writer, "TableSize", attributeText(in, "TableSize"), name);
        finishElement(in, own);
        return;
    }
    const Decimal area = decimalAttribute(in, "OriginalSize");
    if (!area.valid)
        invalidValue(writer, "OriginalSize", area.text, name);
    u32* offsets = static_cast<u32*>(allocZeroed(u64(count) * 4 + 4));
    if (!offsets) {
        writer.error("ERROR: Out of memory for IFF table '%s'.\n", name.c_str());
        finishElement(in, own);
        return;
    }
    const u32 first = base + out.length + 8 + 4 * count;
    ByteBuffer records(reserveFor(area.value));
    u32 i = 0;
    for (;;) {
        const XmlReader::Event e = in.next();
        if (e == XmlReader::END && in.depth() == own)
            break;
        if (stopped(in, writer) || e == XmlReader::FINISHED) {
            memFree(offsets);
            return;
        }
        if (e == XmlReader::TEXT)
            unexpectedText(in, writer);
        if (e != XmlReader::START)
            continue;
        if (i >= count) {
            in.skipElement();
            continue;
        }
        offsets[i] = first + records.length;
        ByteBuffer record(reserveFor(area.value));
        xmlToIff(record, in, writer, offsets[i] + 4, depth + 1);
        records.writeU32(record.length);
        records.write(record.data(), record.length);
        i++;
        if (!record.ok() || !records.ok()) {
            writer.error("ERROR: IFF table '%s' is too large to be written.\n", name.c_str());
            finishElement(in, own);
            break;
        }
    }
    writeId(out, TD::fourCC("TABL"));
    out.writeU32BE(4 * count);
    for (u32 k = 0; k < count; k++)
        out.writeU32(offsets[k]);
    out.write(records.data(), records.length);
    memFree(offsets);
}

// Writes the children of the element at `own` into `out`, to its end; false when the reader
// stopped.
bool childrenToIff(ByteBuffer& out, XmlReader& in, IffWriter& writer, u32 base, u32 depth, u32 own)
{
    for (;;) {
        const XmlReader::Event e = in.next();
        if (e == XmlReader::END && in.depth() == own)
            return true;
        if (stopped(in, writer) || e == XmlReader::FINISHED)
            return false;
        if (e == XmlReader::START)
            xmlToIff(out, in, writer, base, depth + 1);
        // Text where none is written would be lost: a chunk whose tags went in an edit, say.
        else if (e == XmlReader::TEXT)
            unexpectedText(in, writer);
    }
}

void writeForm(ByteBuffer& out, XmlReader& in, const String& formType, u32 type, IffWriter& writer, u32 base,
               u32 depth)
{
    const u32 own = in.depth();
    const u32 containerId = readIdAttribute(in, "RawFormType", formType, in.name(), writer);
    const Decimal original = decimalAttribute(in, "OriginalSize");
    const String originalText = attributeText(in, "OriginalSize");
    const PadByte pad = padAttribute(in);
    // The content goes straight after the header, whose size is filled in once it is known.
    const u32 header = out.length;
    writeId(out, containerId);
    out.writeU32BE(0);
    writeId(out, type);
    const u32 contentStart = out.length;
    if (!childrenToIff(out, in, writer, base, depth, own))
        return;
    // At the end tag, the reader names this element again.
    const String& name = in.name();
    if (!original.valid)
        invalidValue(writer, "OriginalSize", original.text, name);
    u64 size = 4 + u64(out.length - contentStart);
    // A declared size larger than the content keeps its trailing bytes, as zeros.
    if (original.value > size + MAX_FORM_GAP) {
        invalidValue(writer, "OriginalSize", originalText, name);
    } else if (original.value > size) {
        appendZeros(out, original.value - size);
        size = original.value;
    }
    if (size > 0xFFFFFFFFu || !out.ok()) {
        writer.error("ERROR: IFF form '%s' is too large to be written.\n", name.c_str());
        return;
    }
    out.patchU32BE(header + 4, u32(size));
    appendPadByte(out, u32(size), padByteOf(pad, name, writer));
}

// The chunk's content goes straight after its header in `out` (a large body is never held
// twice); a compressed one is then replaced by its stored stream.
void writeChunk(ByteBuffer& out, XmlReader& in, u32 id, IffWriter& writer)
{
    const u32 own = in.depth();
    // The size is the content's own; a declared one is only checked.
    const Decimal original = decimalAttribute(in, "OriginalSize");
    if (!original.valid)
        invalidValue(writer, "OriginalSize", original.text, in.name());
    const XmlSpan handlerValue = in.attribute("Handler");
    const XmlSpan compressionValue = in.attribute("Compression");
    const bool handled = bool(handlerValue);
    const bool compressed = bool(compressionValue);
    const String handler = handlerValue.text();
    const String compression = compressionValue.text();
    const String handledName = handled ? in.name() : String();
    const PadByte pad = padAttribute(in);
    const bool wasOk = out.ok();
    const u32 header = out.length;
    writeId(out, id);
    out.writeU32BE(0);
    const u32 bodyStart = out.length;
    if (handled) {
        ChunkSchema* schema = findSchema(writer.schemas, handler);
        const bool written = schema && schema->fromXml(in, out, writer);
        if (!(in.event() == XmlReader::END && in.depth() == own) && !finishElement(in, own))
            return;
        if (!written)
            writer.error("ERROR: IFF chunk '%s' uses Handler='%s', but that handler cannot write XML back to bytes.\n",
                         handledName.c_str(), handler.c_str());
    } else {
        for (;;) {
            const XmlReader::Event e = in.next();
            if (e == XmlReader::END && in.depth() == own)
                break;
            if (stopped(in, writer) || e == XmlReader::FINISHED)
                return;
            if (e == XmlReader::TEXT) {
                const char* text = in.text();
                u64 length = in.textLength();
                trimSpan(text, length);
                parseTrimmedText(out, text, length);
                if (stopped(in, writer))
                    return;
            } else if (e == XmlReader::START) {
                // A chunk without a schema holds its bytes as text and nothing else: an element
                // in it (a record whose "Handler" is gone, say) would be lost.
                unexpectedElement(in, writer);
                if (!in.skipElement())
                    return;
            }
        }
    }
    const String& name = in.name();
    if (!out.ok()) {
        // A buffer that had failed before is reported by the caller.
        if (wasOk)
            writer.error("ERROR: Out of memory for IFF chunk '%s'.\n", name.c_str());
        return;
    }
    if (compressed) {
        const ByteArray plain = byteView(out.data() + bodyStart, out.length - bodyStart);
        const u8* stored = nullptr;
        u32 storedLength = 0;
        const u8 code = compressionCode(compression);
        ByteArray* packed = nullptr;
        // Only a body that is not the stored one's content goes through the encoder.
        if (!writer.findStored(code, plain, stored, storedLength)) {
            CompressionFailure failure;
            packed = encodeChunkBody(plain, code, failure);
            if (failure == COMPRESSION_UNKNOWN)
                writer.error("ERROR: IFF chunk compression '%s' cannot be written yet.\n", compression.c_str());
            else if (failure == COMPRESSION_TOO_LARGE)
                writer.error("ERROR: IFF RefPack chunk is too large for 24-bit size header.\n");
            if (packed) {
                stored = packed->data;
                storedLength = packed->count;
            } else {
                writer.error("ERROR: Failed to compress IFF chunk '%s' with '%s'.\n", name.c_str(),
                             compression.c_str());
            }
        }
        // The stored stream lies in the file or in `packed`, never in `out`.
        if (stored) {
            out.length = bodyStart;
            out.write(stored, storedLength);
        }
        deleteByteArray(packed);
    }
    const u32 size = out.length - bodyStart;
    out.patchU32BE(header + 4, size);
    appendPadByte(out, size, padByteOf(pad, name, writer));
}
}

void IffWriter::reuse(StoredStreams* source, const ByteArray* bytes)
{
    streams = source && bytes ? source : nullptr;
    file = streams ? bytes : nullptr;
    if (streams)
        streams->rewind();
}

bool IffWriter::findStored(u8 code, const ByteArray& plain, const u8*& stored, u32& length)
{
    return streams && streams->find(code, plain, *file, stored, length);
}

void IffWriter::error(const char* format, ...)
{
    errors++;
    // Once memory ran out, the run says so in one line of its own.
    if (quiet || memAllocationFailed())
        return;
    va_list args;
    va_start(args, format);
    if (heldLines)
        heldLines->append(String().formatV(format, args));
    else
        vprintf(format, args);
    va_end(args);
}

void parseChunkText(ByteBuffer& out, const String& source)
{
    const char* text = source.c_str();
    u64 n = source.length;
    trimSpan(text, n);
    parseTrimmedText(out, text, n);
}

u32 readIdAttribute(const XmlReader& in, const char* attributeName, const String& text, const String& elementName,
                    IffWriter& writer)
{
    u8 id[4];
    for (u32 i = 0; i < 4; i++)
        id[i] = i < text.length && text.data[i] ? u8(text.data[i]) : u8(' ');
    if (const XmlSpan given = in.attribute(attributeName)) {
        String value = given.text();
        value.trim();
        const char* v = value.c_str();
        u64 at = 0;
        bool ok = true;
        for (u32 k = 0; k < 4 && ok; k++) {
            while (isWhitespace(u8(v[at])))
                at++;
            u8 b = 0;
            if (!parseHexByteToken(v, value.length, at, b)) {
                ok = false;
                break;
            }
            id[k] = b;
            at += 4;
        }
        while (ok && v[at]) {
            if (!isWhitespace(u8(v[at])))
                ok = false;
            at++;
        }
        if (!ok)
            writer.error("ERROR: Invalid IFF %s='%s' on XML element '%s'.\n", attributeName, given.text().c_str(),
                         elementName.c_str());
    }
    return (u32(id[0]) << 24) | (u32(id[1]) << 16) | (u32(id[2]) << 8) | u32(id[3]);
}

bool readPadByteAttribute(const XmlReader& in, u8& pad)
{
    pad = 0;
    const XmlSpan given = in.attribute("PadByte");
    if (!given)
        return true;
    String value = given.text();
    value.trim();
    const char* v = value.c_str();
    u32 number = 0;
    if (v[0] == '0' && (v[1] == 'x' || v[1] == 'X')) {
        if (!v[2])
            return false;
        for (const char* p = v + 2; *p; p++) {
            const int digit = hexDigitValue(u8(*p));
            if (digit < 0)
                return false;
            number = (number << 4) | u32(digit);
        }
    } else {
        if (!v[0])
            return false;
        for (const char* p = v; *p; p++)
            if (*p < '0' || *p > '9')
                return false;
        number = parseUnsigned(v);
    }
    pad = u8(number);
    return true;
}

void appendPadByte(ByteBuffer& out, u32 size, u8 pad)
{
    if (size & 1)
        out.writeU8(pad);
}

bool readDecimalAttribute(const XmlReader& in, const char* attributeName, u32& value, bool& present)
{
    value = 0;
    const XmlSpan given = in.attribute(attributeName);
    present = bool(given);
    if (!present)
        return true;
    // Trimmed as read: blank bytes at either end do not count.
    const char* text = given.data;
    u64 length = given.length;
    trimSpan(text, length);
    u64 number = 0;
    if (!length || !parsePlainDecimal(text, length, 0xFFFFFFFFu, number))
        return false;
    value = u32(number);
    return true;
}

bool finishElement(XmlReader& in, u32 depth)
{
    for (;;) {
        if (in.event() == XmlReader::END && in.depth() == depth)
            return true;
        const XmlReader::Event e = in.next();
        if (e == XmlReader::FAILED || e == XmlReader::FINISHED)
            return false;
    }
}

bool xmlToIff(ByteBuffer& out, XmlReader& in, IffWriter& writer, u32 base, u32 depth)
{
    const u32 errorsBefore = writer.errors;
    const u32 own = in.depth();
    const String& name = in.name();
    if (depth > IFF_MAX_DEPTH) {
        writer.error("ERROR: IFF XML element '%s' is nested too deeply.\n", name.c_str());
        finishElement(in, own);
        return false;
    }
    if (name.equals("Table")) {
        writeTable(out, in, writer, base, depth);
    } else if (name.equals("TableEntry")) {
        childrenToIff(out, in, writer, base, depth, own);
    } else {
        const u32 id = readIdAttribute(in, "RawName", name, name, writer);
        if (const XmlSpan formType = in.attribute("FormType"))
            writeForm(out, in, formType.text(), id, writer, base, depth);
        else
            writeChunk(out, in, id, writer);
    }
    if (!out.ok() && writer.errors == errorsBefore)
        writer.error("ERROR: IFF XML element '%s' gives more data than can be written.\n", in.name().c_str());
    return writer.errors == errorsBefore && in.event() != XmlReader::FAILED;
}
