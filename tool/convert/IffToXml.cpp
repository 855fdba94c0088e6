#include "tool/convert/IffToXml.h"
#include "framework/core/ByteBuffer.h"
#include "framework/core/TextUtils.h"
#include "framework/io/MemoryStream.h"
#include "framework/app/ProcessUtils.h"
#include "framework/xml/XmlReader.h"
#include "framework/xml/XmlText.h"
#include "tool/convert/ChunkCompression.h"
#include "tool/convert/XmlToIff.h"

#include <cstdio>
#include <cstring>
#include <new>

namespace
{
constexpr u32 ID_LIST = TD::fourCC("LIST");
constexpr u32 ID_FORM = TD::fourCC("FORM");

bool isAlnum(u8 c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

bool isLiteralAble(u8 c)
{
    return c >= 0x21 && c <= 0x7E && !isXmlSpecialChar(c);
}

const char HEX_DIGITS[] = "0123456789ABCDEF";
// Bytes of a body between looks at the quit signal.
constexpr u32 QUIT_CHECK_MASK = (1u << 20) - 1;

// Writes a dump into a String made at its exact size: the text of a large body is several
// times the body, so it is never grown nor copied.
class DumpWriter
{
public:
    explicit DumpWriter(String& text) : at(text.data) {}
    void put(char c) { *at++ = c; }
    void put(const u8* p, u32 n)
    {
        memcpy(at, p, n);
        at += n;
    }
    bool done() const { return false; }
    void token(u8 b)
    {
        at[0] = '0';
        at[1] = 'x';
        at[2] = HEX_DIGITS[b >> 4];
        at[3] = HEX_DIGITS[b & 15];
        at += 4;
    }

private:
    char* at;
};

// The same walk, counting what it would write. It stops at a literal that would read back as a
// token ("0x41" at the start of a run or after a blank in it, and followed by a blank or the
// run's end): such a text never gives the body back. Any other dump does, so it is not read back
// to check: a run and a token are one blank apart, and a run holds single blanks only between
// its literals, so a word of a run shaped as a token is the only thing that reads differently.
class DumpCounter
{
public:
    u64 length = 0;
    bool readsAsToken = false;
    bool done() const { return readsAsToken; }
    void put(char) { length++; }
    void put(const u8* p, u32 n)
    {
        length += n;
        for (const u8* at = p; n >= 4 && at + 4 <= p + n; at++) {
            at = static_cast<const u8*>(memchr(at, '0', size_t(p + n - at)));
            if (!at || at + 4 > p + n)
                break;
            if ((at == p || at[-1] == ' ') && (at[1] == 'x' || at[1] == 'X') && hexDigitValue(at[2]) >= 0 &&
                hexDigitValue(at[3]) >= 0 && (at + 4 == p + n || at[4] == ' ')) {
                readsAsToken = true;
                return;
            }
        }
    }
    void token(u8) { length += 4; }
};

// A String of exactly `length` bytes for a DumpWriter to fill; without a buffer when memory ran
// out.
String sizedText(u64 length)
{
    String text(length);
    if (text.data)
        text.length = length;
    return text;
}

String allTokens(const u8* data, u32 n)
{
    if (!n)
        return String();
    String out = sizedText(u64(n) * 5 - 1);
    if (!out.data)
        return out;
    DumpWriter text(out);
    for (u32 i = 0; i < n; i++) {
        if (i)
            text.put(' ');
        text.token(data[i]);
    }
    return out;
}

// Readable runs kept as they are, every other byte a token (see chunkBodyToText).
template <typename Out>
void mixedDump(Out& text, const u8* data, u32 n)
{
    bool inRun = false;
    u32 runStart = 0; // the literal bytes [runStart, i) are not yet in the text
    for (u32 i = 0; i < n; i++) {
        // A quit signal ends the run within a moment, also inside one large body.
        if (!(i & QUIT_CHECK_MASK) && i && quitSignalsReceived())
            return;
        const u8 c = data[i];
        const u8 peek = i + 1 < n ? data[i + 1] : 0;
        bool literal;
        if (!inRun)
            literal = isLiteralAble(c) && isLiteralAble(peek);
        else if (c == ' ')
            literal = isLiteralAble(peek);
        else
            literal = isLiteralAble(c);
        if (literal) {
            if (!inRun) {
                if (i > 0)
                    text.put(' ');
                runStart = i;
            }
            inRun = true;
        } else {
            if (inRun) {
                text.put(data + runStart, i - runStart);
                if (text.done())
                    return;
            }
            if (i > 0)
                text.put(' ');
            text.token(c);
            inRun = false;
        }
    }
    if (inRun)
        text.put(data + runStart, n - runStart);
}

u32 wordOf(const u8* p)
{
    return (u32(p[0]) << 24) | (u32(p[1]) << 16) | (u32(p[2]) << 8) | u32(p[3]);
}

bool levelFailure(const char* format, const String& path)
{
    // A part that could not be read for want of memory is not damaged: the conversion just ends.
    if (!memAllocationFailed())
        printf(format, path.c_str());
    return false;
}

// Counts a dump's length, then writes it into the text at its exact size.
void writeDump(XmlWriter& xml, const u8* data, u32 n)
{
    if (!n)
        return;
    u32 run = 0;
    for (u32 i = 0; i < n && run < 4; i++)
        run = isAlnum(data[i]) ? run + 1 : 0;
    bool tokensOnly = run < 4;
    DumpCounter counter;
    if (!tokensOnly) {
        mixedDump(counter, data, n);
        tokensOnly = counter.readsAsToken;
    }
    const u64 length = tokensOnly ? u64(n) * 5 - 1 : counter.length;
    char* at = xml.rawText(length);
    if (!at)
        return;
    String view;
    view.data = at;
    view.length = length;
    DumpWriter text(view);
    if (tokensOnly) {
        for (u32 i = 0; i < n; i++) {
            if (!(i & QUIT_CHECK_MASK) && i && quitSignalsReceived())
                break;
            if (i)
                text.put(' ');
            text.token(data[i]);
        }
    } else {
        mixedDump(text, data, n);
    }
    view.data = nullptr;
    view.length = 0;
}
}

namespace
{
// An id's text (see chunkIdToText) and the element name it is written under (see xmlNameOfId),
// made without allocating: a large document has millions of them.
struct IdNames
{
    char text[4];
    u32 textLength = 0;
    char name[5];
    u32 nameLength = 0;
};

IdNames namesOf(u32 id)
{
    IdNames n;
    const u8 bytes[4] = {u8(id >> 24), u8(id >> 16), u8(id >> 8), u8(id)};
    u32 end = 4;
    while (end > 0 && (bytes[end - 1] == 0 || isBlankByte(bytes[end - 1])))
        end--;
    while (n.textLength < end && bytes[n.textLength] != 0) {
        n.text[n.textLength] = char(bytes[n.textLength]);
        n.textLength++;
    }
    if (!n.textLength) {
        n.name[n.nameLength++] = '_';
        return n;
    }
    // Letters, digits, '_', '-' and '.' only, and a digit, '-' or '.' may not begin the name.
    // ':' is left out too: namespace-aware readers refuse an undeclared prefix.
    const u8 first = u8(n.text[0]);
    if ((first >= '0' && first <= '9') || first == '-' || first == '.')
        n.name[n.nameLength++] = '_';
    for (u32 i = 0; i < n.textLength; i++) {
        const u8 c = u8(n.text[i]);
        n.name[n.nameLength++] = isAlnum(c) || c == '_' || c == '-' || c == '.' ? char(c) : '_';
    }
    return n;
}

bool needsRawId(u32 id, const char* name, u64 length)
{
    u32 fromName = 0;
    for (u32 i = 0; i < 4; i++) {
        const u8 c = i < length && name[i] ? u8(name[i]) : u8(' ');
        fromName = (fromName << 8) | c;
    }
    return length > 4 || fromName != id;
}
}

String chunkIdToText(u32 id)
{
    const IdNames n = namesOf(id);
    return String(n.text, n.textLength);
}

String chunkIdToHex(u32 id)
{
    const u8 bytes[4] = {u8(id >> 24), u8(id >> 16), u8(id >> 8), u8(id)};
    return allTokens(bytes, 4);
}

bool isTextualChunkId(u32 id)
{
    bool hasText = false;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const u8 c = u8(id >> shift);
        if (isAlnum(c) || c == '_')
            hasText = true;
        else if (c != ' ' && c != 0)
            return false;
    }
    return hasText;
}

bool isXmlSpecialChar(u8 c)
{
    return c == '<' || c == '>' || c == '&';
}

String xmlNameOfId(const String& text)
{
    if (text.isEmpty())
        return String("_");
    const u8 first = u8(text.data[0]);
    String name(text.length + 1);
    if ((first >= '0' && first <= '9') || first == '-' || first == '.')
        name.append('_');
    name.append(text);
    for (u64 i = 0; i < name.length; i++) {
        const u8 c = u8(name.data[i]);
        if (!isAlnum(c) && c != '_' && c != '-' && c != '.')
            name.data[i] = '_';
    }
    return name;
}

bool needsRawId(u32 id, const String& name)
{
    return needsRawId(id, name.data, name.length);
}

String joinFormPath(const String& path, const String& name)
{
    if (path.isEmpty())
        return name;
    return path + "." + name;
}

u8 padByteAt(TD::IFF& iff, u32 size, u64 padOffset)
{
    if (!(size & 1) || iff.currentForm().chunkDataStart < 8 || padOffset > 0xFFFFFFFFu)
        return 0;
    u8 pad = 0;
    return iff.readAt(&pad, u32(padOffset), 1) == 1 ? pad : 0;
}

bool isWellFormedList(TD::IFF& iff)
{
    const u32 dataStart = iff.currentForm().chunkDataStart;
    u8 header[12];
    if (dataStart < 12 || iff.readAt(header, dataStart - 12, 12) != 12)
        return false;
    if (wordOf(header) != ID_LIST)
        return true;
    const u32 size = wordOf(header + 4);
    if (size < 4 || !isTextualChunkId(wordOf(header + 8)))
        return false;
    if (size == 4)
        return true;
    if (size - 4 < 8)
        return false;
    u8 first[8];
    if (iff.readAt(first, dataStart, 8) != 8 || !isTextualChunkId(wordOf(first)))
        return false;
    return u64(wordOf(first + 4)) + 8 <= size - 4;
}

String chunkBodyToText(const u8* data, u32 n)
{
    u32 run = 0;
    for (u32 i = 0; i < n && run < 4; i++)
        run = isAlnum(data[i]) ? run + 1 : 0;
    if (run < 4)
        return allTokens(data, n);

    DumpCounter counter;
    mixedDump(counter, data, n);
    if (counter.readsAsToken)
        return allTokens(data, n);
    String out = sizedText(counter.length);
    if (!out.data)
        return out;
    DumpWriter text(out);
    mixedDump(text, data, n);
    return out;
}

bool IffXmlOut::going() const
{
    return xml.ok() && !quitSignalsReceived() && !memAllocationFailed();
}

namespace
{
void idAttributes(XmlWriter& xml, const char* attributeName, u32 id, const char* name, u64 length)
{
    if (needsRawId(id, name, length))
        xml.attribute(attributeName, chunkIdToHex(id));
}

void padAttribute(XmlWriter& xml, u8 pad)
{
    if (!pad)
        return;
    char text[8];
    snprintf(text, sizeof(text), "0x%02X", pad);
    xml.attribute("PadByte", text, 4);
}

// The chunk's content after its first attributes: the schema that claims the body, with its
// "Handler" and the element's last attributes, or those attributes and the body as text. A
// schema claims the body only when its XML can be written as it stands and reads back as the same
// bytes.
// Whether the schema claims the body: its XML can be written as it stands and reads back as the
// same bytes. Then its "Handler", the element's last attributes and its elements are written;
// otherwise nothing is.
bool claimedBy(ChunkSchema& schema, const SchemaList& schemas, const IdNames& names, const ByteArray& content,
               MemoryStream& body, u32 id, u8 pad, XmlWriter& xml)
{
    const XmlWriter::Mark mark = xml.mark();
    xml.clearUnholdable();
    xml.attribute("Handler", schema.name, strlen(schema.name));
    idAttributes(xml, "RawName", id, names.name, names.nameLength);
    padAttribute(xml, pad);
    const u64 childrenAt = xml.text().length;
    body.rewind();
    schema.toXml(body, xml);
    bool same = xml.ok() && !xml.wroteUnholdable();
    if (same) {
        // The elements written, read back alone: ">" and its line end come before the first.
        const TextBuilder& text = xml.text();
        const u64 from = text.length > childrenAt ? childrenAt + 2 : childrenAt;
        XmlReader reader(text.data + from, text.length - from);
        reader.setQuiet(true);
        reader.readAsContentOf(String(names.name, names.nameLength));
        ByteBuffer rebuilt(u32(content.count) + 16);
        IffWriter quiet(schemas, true);
        same = schema.fromXml(reader, rebuilt, quiet) && reader.event() == XmlReader::END &&
               sameBytes(rebuilt.data(), rebuilt.length, content.data, content.count);
    }
    if (!same && xml.text().ok())
        xml.rewind(mark);
    // Memory that ran out ends the conversion here: nothing else is tried for the body.
    return same || !xml.text().ok() || memAllocationFailed();
}

bool sameId(const char* id, u32 length, const IdNames& names)
{
    if (length != names.textLength)
        return false;
    for (u32 i = 0; i < length; i++)
        if (id[i] != names.text[i])
            return false;
    return true;
}

// A stream over a body, made only when first asked for: most chunks are no schema's.
struct LazyStream
{
    alignas(MemoryStream) u8 room[sizeof(MemoryStream)];
    MemoryStream* stream = nullptr;
    ~LazyStream()
    {
        if (stream)
            stream->~MemoryStream();
    }
};

// The first schema offered the chunk that matches it, or null. Only schemas of the chunk's id
// are offered it.
ChunkSchema* matchingSchema(const IdNames& names, const String& path, LazyStream& body, const ByteArray& content,
                            const SchemaList& schemas)
{
    String chunkPath;
    for (ChunkSchema* schema : schemas) {
        if (schema->chunkId && !sameId(schema->chunkId, schema->chunkIdLength, names))
            continue;
        if (!body.stream) {
            chunkPath = joinFormPath(path, String(names.text, names.textLength));
            body.stream = new (body.room) MemoryStream(content);
        }
        body.stream->rewind();
        if (schema->matches(chunkPath, *body.stream))
            return schema;
    }
    return nullptr;
}

// The chunk's content after its first attributes: the schema that claims the body, or the
// element's last attributes and the body as text.
void contentToXml(const IdNames& names, const String& path, const ByteArray& content, u32 id, u8 pad,
                  IffXmlOut& out)
{
    XmlWriter& xml = out.xml;
    LazyStream body;
    ChunkSchema* schema = matchingSchema(names, path, body, content, out.schemas);
    if (schema && claimedBy(*schema, out.schemas, names, content, *body.stream, id, pad, xml))
        return;
    idAttributes(xml, "RawName", id, names.name, names.nameLength);
    padAttribute(xml, pad);
    writeDump(xml, content.data, content.count);
}

bool writeChunk(const IdNames& names, u32 id, const String& path, const ByteArray& body, u8 pad, IffXmlOut& out,
                u64 offset)
{
    XmlWriter& xml = out.xml;
    if (!xml.open(names.name, names.nameLength))
        return false;
    xml.attributeDecimal("OriginalSize", body.count);
    const ByteArray* content = &body;
    ByteArray* decoded = nullptr;
    const u8 code = detectChunkCompression(body);
    if (code != COMPRESSION_NONE) {
        // Any stream that decodes to its size is shown decoded: written back unedited, it
        // takes its stored stream again, so it need not be one our encoder would write.
        decoded = decompressChunkBody(body, code);
        if (!decoded && memAllocationFailed())
            return false;
        if (decoded) {
            if (out.streams && !out.streams->add(code, decoded->count, offset, body.count)) {
                deleteByteArray(decoded);
                return false;
            }
            const char* method = compressionName(code);
            xml.attribute("Compression", method, strlen(method));
            content = decoded;
        }
    }
    contentToXml(names, path, *content, id, pad, out);
    deleteByteArray(decoded);
    xml.close();
    return out.going();
}
}

bool chunkToXml(const String& name, u32 id, const String& path, const ByteArray& body, u8 pad, IffXmlOut& out,
                u64 offset)
{
    IdNames names;
    names.textLength = u32(name.length < 4 ? name.length : 4);
    memcpy(names.text, name.c_str(), names.textLength);
    const String elementName = xmlNameOfId(name);
    names.nameLength = u32(elementName.length < 5 ? elementName.length : 5);
    memcpy(names.name, elementName.c_str(), names.nameLength);
    return writeChunk(names, id, path, body, pad, out, offset);
}

bool readChunkToXml(TD::IFF& iff, const String& path, IffXmlOut& out)
{
    const TD::IFF::Form& f = iff.currentForm();
    const u32 id = f.chunkId;
    const IdNames names = namesOf(id);
    const u64 start = f.chunkDataStart;
    const u32 size = f.chunkSize;
    // The body where it lies in the file when it is all there, as the reader would give it.
    if (out.file && start + size <= out.file->count) {
        const ByteArray bytes = byteView(out.file->data + start, size);
        return writeChunk(names, id, path, bytes, padByteAt(iff, size, start + size), out, start);
    }
    iff.rewindChunk();
    TD::Array<unsigned char>* body = iff.readChunk();
    if (!body)
        return levelFailure("ERROR: Failed to read IFF chunk '%s'.\n", joinFormPath(path, String(names.text, names.textLength)));
    const ByteArray bytes = byteView(body->data, body->count);
    const u8 pad = padByteAt(iff, bytes.count, start + bytes.count);
    const bool ok = writeChunk(names, id, path, bytes, pad, out, start);
    TD::deleteObject(body);
    return ok;
}

bool containerToXml(TD::IFF& iff, const String& path, IffXmlOut& out, u32 depth, bool atRoot)
{
    XmlWriter& xml = out.xml;
    const TD::IFF::Form& f = iff.currentForm();
    // The element would stand deeper than an XML document may nest.
    if (depth >= IFF_MAX_DEPTH)
        return levelFailure("ERROR: IFF data in '%s' is nested too deeply.\n", path);
    if (iff.hasTable()) {
        if (!xml.open("Table"))
            return false;
        const u32 size = f.chunkSize + 4;
        xml.attributeDecimal("OriginalSize", size);
        padAttribute(xml, padByteAt(iff, size, u64(f.chunkDataStart) - 4 + size));
        const String tablePath = joinFormPath(path, String("TABL"));
        if (!iff.enterForm())
            return levelFailure("ERROR: Failed to enter IFF table '%s'.\n", tablePath);
        xml.attributeDecimal("TableSize", iff.table()->count);
        const bool ok = formToXml(iff, tablePath, out, true, depth + 1);
        iff.leaveForm();
        xml.close();
        return ok;
    }

    u32 containerId = ID_FORM;
    u8 idBytes[4];
    if (f.chunkDataStart >= 12 && iff.readAt(idBytes, f.chunkDataStart - 12, 4) == 4)
        containerId = wordOf(idBytes);
    if (containerId == ID_LIST && !isWellFormedList(iff)) {
        // Written whole, list type included, as a chunk named LIST.
        const u32 size = f.chunkSize + 4;
        u8 sizeField[4];
        if (f.chunkDataStart < 8 || iff.readAt(sizeField, f.chunkDataStart - 8, 4) != 4 || wordOf(sizeField) != size)
            return levelFailure("ERROR: Failed to read IFF LIST chunk in form '%s'.\n", path);
        ByteArray body(size);
        if (body.count != size || iff.readAt(body.data, f.chunkDataStart - 4, size) != size)
            return levelFailure("ERROR: Failed to read IFF LIST chunk in form '%s'.\n", path);
        const u8 pad = padByteAt(iff, size, u64(f.chunkDataStart) - 4 + size);
        if (!writeChunk(namesOf(ID_LIST), ID_LIST, path, body, pad, out, u64(f.chunkDataStart) - 4))
            return false;
        iff.nextChunk();
        return true;
    }

    const IdNames type = namesOf(f.chunkId);
    if (!xml.open(type.name, type.nameLength))
        return false;
    const IdNames container = namesOf(containerId);
    xml.attribute("FormType", container.text, container.textLength);
    idAttributes(xml, "RawName", f.chunkId, type.name, type.nameLength);
    idAttributes(xml, "RawFormType", containerId, container.text, container.textLength);
    const u32 size = f.chunkSize + 4;
    xml.attributeDecimal("OriginalSize", size);
    padAttribute(xml, padByteAt(iff, size, u64(f.chunkDataStart) - 4 + size));
    const String formPath = joinFormPath(path, String(type.text, type.textLength));
    if (!iff.enterForm()) {
        if (atRoot)
            return levelFailure("ERROR: Couldn't enter root IFF form for '%s'.\n", path);
        return levelFailure("ERROR: Failed to enter IFF form '%s'.\n", formPath);
    }
    const bool ok = formToXml(iff, formPath, out, false, depth + 1);
    iff.leaveForm();
    xml.close();
    return ok;
}

bool formToXml(TD::IFF& iff, const String& path, IffXmlOut& out, bool inTable, u32 depth)
{
    // A part that cannot be converted ends the walk: the document is incomplete either way. So
    // does a text that cannot grow or a quit signal, checked at every chunk.
    while (!iff.atEnd()) {
        if (!out.going())
            return false;
        if (inTable) {
            if (depth >= IFF_MAX_DEPTH)
                return levelFailure("ERROR: IFF data in '%s' is nested too deeply.\n", path);
            if (!out.xml.open("TableEntry"))
                return false;
            const String recordPath = joinFormPath(path, chunkIdToText(iff.currentForm().chunkId));
            if (!iff.enterForm())
                return levelFailure("ERROR: Failed to enter IFF table '%s'.\n", recordPath);
            const bool ok = formToXml(iff, recordPath, out, false, depth + 1);
            iff.leaveForm();
            out.xml.close();
            if (!ok)
                return false;
            continue;
        }
        if (!iff.isContainer()) {
            if (depth >= IFF_MAX_DEPTH)
                return levelFailure("ERROR: IFF data in '%s' is nested too deeply.\n", path);
            if (!readChunkToXml(iff, path, out))
                return false;
            iff.nextChunk();
            continue;
        }
        if (!containerToXml(iff, path, out, depth, false))
            return false;
    }
    return out.going();
}
