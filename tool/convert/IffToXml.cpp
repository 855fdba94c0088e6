#include "tool/convert/IffToXml.h"
#include "framework/core/ByteBuffer.h"
#include "framework/core/TextUtils.h"
#include "framework/io/MemoryStream.h"
#include "framework/xml/XmlText.h"
#include "tool/convert/ChunkCompression.h"
#include "tool/convert/XmlToIff.h"

#include <cstdio>
#include <cstring>

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

String formTypeOf(TD::IFF& iff)
{
    return chunkIdToText(iff.currentForm().chunkId);
}

bool levelFailure(const char* format, const String& path)
{
    printf(format, path.c_str());
    return false;
}

// Record text from the body (names, types) that an XML file can hold: escaped where it must be,
// but never a control byte, which no XML document carries.
bool holdsOnlyPlainText(const XmlElement& element, u32 depth)
{
    const auto plain = [](const String& text) { return xmlCanHold(text); };
    if (depth > IFF_MAX_DEPTH || !plain(element.value))
        return false;
    for (const XmlAttribute* a : element.attributes)
        if (!plain(a->value))
            return false;
    for (const XmlElement* child : element.children)
        if (!holdsOnlyPlainText(*child, depth + 1))
            return false;
    return true;
}

// Moves what a schema wrote on a scratch element over to the chunk element.
void takeSchemaOutput(XmlElement& scratch, XmlElement& element)
{
    for (XmlAttribute* a : scratch.attributes)
        element.attachAttribute(a);
    scratch.attributes.reset();
    for (XmlElement* child : scratch.children) {
        if (!element.children.push(child))
            memDelete(child);
    }
    scratch.children.reset();
    if (!scratch.value.isEmpty())
        element.value = scratch.value;
}
}

String chunkIdToText(u32 id)
{
    u8 bytes[4] = {u8(id >> 24), u8(id >> 16), u8(id >> 8), u8(id)};
    u32 n = 4;
    while (n > 0 && (bytes[n - 1] == 0 || isBlankByte(bytes[n - 1])))
        n--;
    u32 length = 0;
    while (length < n && bytes[length] != 0)
        length++;
    return String(reinterpret_cast<const char*>(bytes), length);
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
    // Letters, digits, '_', '-' and '.' only, and a digit, '-' or '.' may not begin the name.
    // ':' is left out too: namespace-aware readers refuse an undeclared prefix.
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

void addRawIdAttribute(XmlElement& element, const char* attributeName, u32 id, const String& name)
{
    u32 fromName = 0;
    for (u32 i = 0; i < 4; i++) {
        const u8 c = i < name.length && name.data[i] ? u8(name.data[i]) : u8(' ');
        fromName = (fromName << 8) | c;
    }
    if (name.length > 4 || fromName != id)
        element.addAttribute(String(attributeName), chunkIdToHex(id));
}

String joinFormPath(const String& path, const String& name)
{
    if (path.isEmpty())
        return name;
    return path + "." + name;
}

void writePadByteAttribute(TD::IFF& iff, XmlElement& element, u32 size, u64 padOffset)
{
    if (!(size & 1) || iff.currentForm().chunkDataStart < 8 || padOffset > 0xFFFFFFFFu)
        return;
    u8 pad = 0;
    if (iff.readAt(&pad, u32(padOffset), 1) == 1 && pad != 0) {
        char text[8];
        snprintf(text, sizeof(text), "0x%02X", pad);
        element.addAttribute(String("PadByte"), String(text));
    }
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

namespace
{
// The body as text, or the schema's elements when one claims it.
void contentToXml(const String& chunkPath, const ByteArray& content, XmlElement& element, const SchemaList& schemas)
{
    const u64 size = content.count;
    MemoryStream body(content);
    for (ChunkSchema* schema : schemas) {
        body.rewind();
        if (!schema->matches(chunkPath, body))
            continue;
        // The schema claims the chunk only when its XML can be written as it stands and writes
        // the same bytes back.
        XmlElement scratch(element.name);
        body.rewind();
        schema->toXml(body, scratch);
        ByteBuffer rebuilt(u32(size) + 16);
        if (holdsOnlyPlainText(scratch, 0) && schema->fromXml(scratch, rebuilt) &&
            sameBytes(rebuilt.data(), rebuilt.length, content.data, size)) {
            element.addAttribute(String("Handler"), String(schema->name));
            takeSchemaOutput(scratch, element);
            return;
        }
        break;
    }
    element.value = chunkBodyToText(content.data, content.count);
}
}

void chunkBodyToXml(const String& chunkPath, Stream& body, XmlElement& element, const SchemaList& schemas)
{
    body.rewind();
    const u64 size = body.bytesLeft();
    ByteArray bytes{u32(size)};
    if (size)
        body.read(bytes.data, size);
    contentToXml(chunkPath, bytes, element, schemas);
}

XmlElement* chunkToXml(const String& name, const String& path, XmlElement& parent, const ByteArray& body,
                       const SchemaList& schemas, StoredStreams* streams, u64 offset)
{
    XmlElement* element = parent.addChild(xmlNameOfId(name));
    if (!element)
        return nullptr;
    const String chunkPath = joinFormPath(path, name);
    element->addAttribute(String("OriginalSize"), uintToString(body.count));
    const ByteArray* content = &body;
    ByteArray* decoded = nullptr;
    const u8 code = detectChunkCompression(body);
    if (code != COMPRESSION_NONE) {
        // Any stream that decodes to its size is shown decoded: written back unedited, it
        // takes its stored stream again, so it need not be one our encoder would write.
        decoded = decompressChunkBody(body, code);
        if (decoded) {
            if (streams && !streams->add(code, decoded->count, offset, body.count)) {
                deleteByteArray(decoded);
                return nullptr;
            }
            element->addAttribute(String("Compression"), String(compressionName(code)));
            content = decoded;
        }
    }
    contentToXml(chunkPath, *content, *element, schemas);
    deleteByteArray(decoded);
    return element;
}

bool readChunkToXml(TD::IFF& iff, const String& path, XmlElement& parent, const SchemaList& schemas,
                    StoredStreams* streams)
{
    const u32 id = iff.currentForm().chunkId;
    const String text = chunkIdToText(id);
    iff.rewindChunk();
    TD::Array<unsigned char>* body = iff.readChunk();
    if (!body)
        return levelFailure("ERROR: Failed to read IFF chunk '%s'.\n", joinFormPath(path, text));
    const ByteArray bytes = byteView(body->data, body->count);
    XmlElement* element = chunkToXml(text, path, parent, bytes, schemas, streams, iff.currentForm().chunkDataStart);
    TD::deleteObject(body);
    if (!element)
        return false;
    addRawIdAttribute(*element, "RawName", id, element->name);
    writePadByteAttribute(iff, *element, bytes.count, u64(iff.currentForm().chunkDataStart) + bytes.count);
    return true;
}

bool containerToXml(TD::IFF& iff, const String& path, XmlElement& parent, const SchemaList& schemas, u32 depth,
                    bool atRoot, StoredStreams* streams)
{
    const TD::IFF::Form& f = iff.currentForm();
    if (depth > IFF_MAX_DEPTH)
        return levelFailure("ERROR: IFF data in '%s' is nested too deeply.\n", path);
    if (iff.hasTable()) {
        XmlElement* table = parent.addChild(String("Table"));
        if (!table)
            return false;
        const u32 size = f.chunkSize + 4;
        table->addAttribute(String("OriginalSize"), uintToString(size));
        writePadByteAttribute(iff, *table, size, u64(f.chunkDataStart) - 4 + size);
        const String tablePath = joinFormPath(path, String("TABL"));
        if (!iff.enterForm())
            return levelFailure("ERROR: Failed to enter IFF table '%s'.\n", tablePath);
        table->addAttribute(String("TableSize"), uintToString(iff.table()->count));
        const bool ok = formToXml(iff, tablePath, *table, schemas, true, depth + 1, streams);
        iff.leaveForm();
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
        XmlElement* element =
            chunkToXml(String("LIST"), path, parent, body, schemas, streams, u64(f.chunkDataStart) - 4);
        if (!element)
            return false;
        addRawIdAttribute(*element, "RawName", ID_LIST, element->name);
        writePadByteAttribute(iff, *element, size, u64(f.chunkDataStart) - 4 + size);
        iff.nextChunk();
        return true;
    }

    const String type = formTypeOf(iff);
    XmlElement* form = parent.addChild(xmlNameOfId(type));
    if (!form)
        return false;
    const String containerText = chunkIdToText(containerId);
    form->addAttribute(String("FormType"), containerText);
    addRawIdAttribute(*form, "RawName", f.chunkId, form->name);
    addRawIdAttribute(*form, "RawFormType", containerId, containerText);
    const u32 size = f.chunkSize + 4;
    form->addAttribute(String("OriginalSize"), uintToString(size));
    writePadByteAttribute(iff, *form, size, u64(f.chunkDataStart) - 4 + size);
    const String formPath = joinFormPath(path, type);
    if (!iff.enterForm()) {
        if (atRoot)
            return levelFailure("ERROR: Couldn't enter root IFF form for '%s'.\n", path);
        return levelFailure("ERROR: Failed to enter IFF form '%s'.\n", formPath);
    }
    const bool ok = formToXml(iff, formPath, *form, schemas, false, depth + 1, streams);
    iff.leaveForm();
    return ok;
}

bool formToXml(TD::IFF& iff, const String& path, XmlElement& parent, const SchemaList& schemas, bool inTable,
               u32 depth, StoredStreams* streams)
{
    // A part that cannot be converted ends the walk: the document is incomplete either way.
    while (!iff.atEnd()) {
        if (inTable) {
            if (depth > IFF_MAX_DEPTH)
                return levelFailure("ERROR: IFF data in '%s' is nested too deeply.\n", path);
            XmlElement* entry = parent.addChild(String("TableEntry"));
            if (!entry)
                return false;
            const String recordPath = joinFormPath(path, chunkIdToText(iff.currentForm().chunkId));
            if (!iff.enterForm())
                return levelFailure("ERROR: Failed to enter IFF table '%s'.\n", recordPath);
            const bool ok = formToXml(iff, recordPath, *entry, schemas, false, depth + 1, streams);
            iff.leaveForm();
            if (!ok)
                return false;
            continue;
        }
        if (!iff.isContainer()) {
            if (!readChunkToXml(iff, path, parent, schemas, streams))
                return false;
            iff.nextChunk();
            continue;
        }
        if (!containerToXml(iff, path, parent, schemas, depth, false, streams))
            return false;
    }
    return true;
}
