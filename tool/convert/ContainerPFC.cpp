#include "tool/convert/ContainerPFC.h"
#include "framework/app/ProcessUtils.h"
#include "framework/xml/XmlReader.h"
#include "framework/io/FileStream.h"
#include "framework/io/MemoryStream.h"
#include "framework/xml/XmlText.h"
#include "tool/ToolOptions.h"
#include "tool/containers/Driver.h"
#include "tool/convert/ConvertedText.h"

#include <cstdio>
#include <cstring>
#include <utility>

namespace
{
enum PfcTag : u8
{
    TAG_DIALOGUE = 0,
    TAG_CUTAWAY = 4,
    TAG_OPTION = 5,
    TAG_BRANCH = 7,
    TAG_END_BRANCH = 8,
};

constexpr u32 TEXT_FIELD = 9;

enum FieldKind : u8
{
    FIELD_TEXT,
    FIELD_U16,
    FIELD_U8,
};

struct Field
{
    const char* name;
    FieldKind kind;
};

// Attributes in the order the decoder sets them.
const Field DIALOGUE_FIELDS[] = {{"speaker", FIELD_TEXT}, {"expression", FIELD_TEXT}, {"background", FIELD_TEXT},
                                 {"delay", FIELD_U16},    {"unk1", FIELD_U16},         {"unk2", FIELD_U8}};
const Field CUTAWAY_FIELDS[] = {{"background", FIELD_TEXT}, {"delay", FIELD_U16}, {"unk1", FIELD_U8}};
const Field BRANCH_FIELDS[] = {
    {"speaker", FIELD_TEXT}, {"background", FIELD_TEXT}, {"unk1", FIELD_U16}, {"unk2", FIELD_U16}};

// ---- decoding

// A name field: its bytes up to the first NUL.
struct NameField
{
    char bytes[TEXT_FIELD] = {};
    u32 length = 0;
};

NameField readName(MemoryStream& s)
{
    NameField f;
    s.read(f.bytes, s.bytesLeft() < TEXT_FIELD ? s.bytesLeft() : TEXT_FIELD);
    while (f.length < TEXT_FIELD && f.bytes[f.length])
        f.length++;
    return f;
}

u8 readByte(MemoryStream& s)
{
    return s.bytesLeft() ? s.readU8() : 0;
}

// A line: its bytes in the table, up to the 0 that ends it (or the table's end).
struct LineField
{
    const u8* data = nullptr;
    u32 length = 0;
};

LineField readLine(MemoryStream& s)
{
    LineField line;
    line.data = s.data + s.position;
    const u32 left = u32(s.bytesLeft());
    const u8* nul = left ? static_cast<const u8*>(memchr(line.data, 0, left)) : nullptr;
    line.length = nul ? u32(nul - line.data) : left;
    s.skip(nul ? u64(line.length) + 1 : line.length);
    return line;
}

// Builds the document; a failed allocation fails the whole document.
struct DocumentBuilder
{
    using Element = XmlElement*;
    XmlElement* top;
    bool ok = true;

    explicit DocumentBuilder(XmlElement* root) : top(root) { text(root, "Version", "1", 1); }
    Element root() const { return top; }
    Element add(Element parent, const char* name)
    {
        XmlElement* e = parent ? parent->addChild(String(name)) : nullptr;
        ok = ok && e;
        return e;
    }
    void text(Element e, const char* name, const char* value, u32 length)
    {
        ok = ok && e && e->addAttribute(String(name), String(value, length));
    }
    void text(Element e, const char* name, const NameField& f) { text(e, name, f.bytes, f.length); }
    void number(Element e, const char* name, u32 value)
    {
        ok = ok && e && e->addAttribute(String(name), uintToString(value));
    }
    // The line with a double quote at either end, so the XML reader's trimming keeps its blanks.
    void line(Element e, const LineField& l)
    {
        String value(u64(l.length) + 2);
        value.append('"');
        if (l.length)
            value.append(reinterpret_cast<const char*>(l.data), l.length);
        value.append('"');
        if (e)
            e->value = std::move(value);
    }
};

// ---- encoding

void writeText(ByteBuffer& out, const XmlElement& e, const char* name)
{
    u8 field[TEXT_FIELD] = {};
    if (const String* value = e.attributeValue(name))
        memcpy(field, value->c_str(), value->length < TEXT_FIELD ? size_t(value->length) : TEXT_FIELD);
    out.write(field, TEXT_FIELD);
}

u32 numberOf(const XmlElement& e, const char* name, u32 missing, u32 largest)
{
    const String* value = e.attributeValue(name);
    if (!value)
        return missing;
    const u32 n = parseUnsigned(value->c_str());
    return n > largest ? largest : n;
}

void writeLine(ByteBuffer& out, const XmlElement& e)
{
    // The value without one pair of matching quotes (String::unquote), read by its length.
    const char* text = e.value.c_str();
    u64 length = e.value.length;
    if (length && (text[0] == '"' || text[0] == '\'') && text[length - 1] == text[0]) {
        text++;
        length = length > 1 ? length - 2 : 0;
    }
    const u64 limit = length < PFC_MAX_LINE ? length : PFC_MAX_LINE;
    const void* nul = memchr(text, 0, size_t(limit));
    out.write(reinterpret_cast<const u8*>(text), nul ? u64(static_cast<const char*>(nul) - text) : limit);
    out.writeU8(0);
}

void encodeChildren(const XmlElement& parent, ByteBuffer& out, u32 depth);

// One child of a record list; `firstOption` carries over from one child to the next.
void encodeRecord(const XmlElement& e, ByteBuffer& out, u32 depth, bool& firstOption)
{
    if (e.name.equals("Dialogue")) {
        out.writeU8(TAG_DIALOGUE);
        writeText(out, e, "speaker");
        writeText(out, e, "expression");
        writeText(out, e, "background");
        out.writeU16(u16(numberOf(e, "delay", 1, 0xFFFF)));
        out.writeU16(u16(numberOf(e, "unk1", 0, 0xFFFF)));
        writeLine(out, e);
        out.writeU8(u8(numberOf(e, "unk2", 0, 0xFF)));
    } else if (e.name.equals("Cutaway")) {
        out.writeU8(TAG_CUTAWAY);
        writeText(out, e, "background");
        out.writeU16(u16(numberOf(e, "delay", 1, 0xFFFF)));
        out.writeU8(u8(numberOf(e, "unk1", 0, 0xFF)));
        writeLine(out, e);
    } else if (e.name.equals("Branch")) {
        out.writeU8(TAG_BRANCH);
        writeText(out, e, "speaker");
        writeText(out, e, "background");
        out.writeU16(u16(numberOf(e, "unk1", 0, 0xFFFF)));
        out.writeU16(u16(numberOf(e, "unk2", 0, 0xFFFF)));
        encodeChildren(e, out, depth + 1);
        out.writeU8(TAG_END_BRANCH);
    } else if (e.name.equals("Option")) {
        // The branch record itself opens the first option.
        if (!firstOption)
            out.writeU8(TAG_OPTION);
        firstOption = false;
        encodeChildren(e, out, depth + 1);
    }
}

void encodeChildren(const XmlElement& parent, ByteBuffer& out, u32 depth)
{
    // Documents from the reader and the decoder never nest this deep; this only stops one
    // built by hand from recursing without end.
    if (depth >= PFC_MAX_DEPTH)
        return;
    bool firstOption = true;
    for (const XmlElement* child : parent.children)
        encodeRecord(*child, out, depth, firstOption);
}

ByteArray* encodeRoot(const XmlElement& root, u32 sizeHint)
{
    const u32 step = sizeHint > 0x3FFFFFFFu ? 0x7FFFFFFFu : sizeHint * 2;
    ByteBuffer buffer(step, step);
    xmlToPfc(root, buffer);
    if (!buffer.ok())
        return nullptr;
    return buffer.toArray();
}

// ---- checks

// Room for what converting holds besides the text: the records on their way.
constexpr u64 TEXT_RESERVE_SLACK = 1 << 16;

template <typename Builder>
bool decodeTable(const ByteArray& bytes, Builder& b)
{
    using Element = typename Builder::Element;
    const Element root = b.root();
    Element parent = root;
    u32 parentDepth = 0;
    Element branch = root;
    bool inBranch = false;
    u32 branchDepth = 0;
    MemoryStream s(bytes);
    while (s.bytesLeft() && b.ok) {
        switch (s.readU8()) {
        case TAG_DIALOGUE: {
            const Element e = b.add(parent, "Dialogue");
            const NameField speaker = readName(s), expression = readName(s), background = readName(s);
            const u16 delay = readU16IfAvailable(s), unk1 = readU16IfAvailable(s);
            b.line(e, readLine(s));
            const u8 unk2 = readByte(s);
            b.text(e, "speaker", speaker);
            b.text(e, "expression", expression);
            b.text(e, "background", background);
            b.number(e, "delay", delay);
            b.number(e, "unk1", unk1);
            b.number(e, "unk2", unk2);
            break;
        }
        case TAG_CUTAWAY: {
            const Element e = b.add(parent, "Cutaway");
            b.text(e, "background", readName(s));
            b.number(e, "delay", readU16IfAvailable(s));
            b.number(e, "unk1", readByte(s));
            b.line(e, readLine(s));
            break;
        }
        case TAG_BRANCH:
            // Hostile data can open branch inside branch without end; every walker of the
            // document recurses, so the nesting stops here.
            if (parentDepth + 3 > PFC_MAX_DEPTH) {
                b.ok = false;
                break;
            }
            branch = b.add(parent, "Branch");
            inBranch = true;
            b.text(branch, "speaker", readName(s));
            b.text(branch, "background", readName(s));
            b.number(branch, "unk1", readU16IfAvailable(s));
            b.number(branch, "unk2", readU16IfAvailable(s));
            branchDepth = parentDepth + 1;
            parent = b.add(branch, "Option");
            parentDepth = branchDepth + 1;
            break;
        case TAG_OPTION:
            // Outside a branch (after a nested branch's end, say) there is nothing to add to.
            if (inBranch) {
                parent = b.add(branch, "Option");
                parentDepth = branchDepth + 1;
            }
            break;
        case TAG_END_BRANCH:
            parent = root;
            parentDepth = 0;
            inBranch = false;
            break;
        default:
            break;
        }
    }
    return b.ok;
}

// Writes the document's text straight from the records, laid out as XmlElement::write lays out
// the document DocumentBuilder makes, without making it. The elements on the way from the root
// to the last one added are open: adding under one closes those below it, whose records are
// then whole. Counts only, without `out`; with it, writes into its room (made for the count).
class TableWriter
{
public:
    using Element = u32; // the depth, which is the element's place on the way
    bool ok = true;
    // Every name and line holds only what XML can carry (escaped where it must be): a control
    // byte makes a file XML tools refuse, so such a table stays raw.
    bool writable = true;
    u64 length = 0;

    explicit TableWriter(String* text) : out(text)
    {
        open[0].name = "PFC";
        addAttribute(0, "Version", "1", 1);
    }
    TableWriter(const TableWriter&) = delete;
    TableWriter& operator=(const TableWriter&) = delete;

    Element root() const { return 0; }
    Element add(Element parent, const char* name)
    {
        closeBelow(parent);
        Entry& p = open[parent];
        if (!p.started) {
            startTag(parent, ">\n", 2);
            p.started = true;
        }
        top = parent + 1;
        Entry& e = open[top];
        e.name = name;
        e.started = false;
        e.attributesLength = 0;
        e.line = LineField();
        e.hasLine = false;
        return top;
    }
    void text(Element e, const char* name, const NameField& f)
    {
        writable = writable && xmlCanHold(f.bytes, f.length);
        addAttribute(e, name, f.bytes, f.length, true);
    }
    void number(Element e, const char* name, u32 value)
    {
        char digits[10];
        u32 n = 0;
        do {
            digits[sizeof(digits) - 1 - n++] = char('0' + value % 10);
            value /= 10;
        } while (value);
        addAttribute(e, name, digits + sizeof(digits) - n, n);
    }
    void line(Element e, const LineField& l)
    {
        writable = writable && xmlCanHold(reinterpret_cast<const char*>(l.data), l.length);
        open[e].line = l;
        open[e].hasLine = true;
    }
    // Closes every element, the root last.
    void finish()
    {
        closeBelow(0);
        close(0);
    }

private:
    struct Entry
    {
        const char* name = nullptr;
        char attributes[320]; // ' name="value"' each, in order: a record's fit, escaped
        u32 attributesLength = 0;
        LineField line;
        bool hasLine = false;
        bool started = false; // its start tag is written: it has children
    };

    String* out;
    Entry open[PFC_MAX_DEPTH + 2];
    u32 top = 0;

    void emit(const char* p, u64 n)
    {
        length += n;
        if (!out)
            return;
        if (out->length + n >= out->capacity) {
            ok = false;
            return;
        }
        memcpy(out->data + out->length, p, size_t(n));
        out->length += n;
    }
    void indent(u32 depth)
    {
        static const char blanks[] = "                                                                ";
        while (depth) {
            const u32 n = depth < sizeof(blanks) - 1 ? depth : u32(sizeof(blanks) - 1);
            emit(blanks, n);
            depth -= n;
        }
    }
    void addAttribute(Element e, const char* name, const char* value, u32 n, bool escaped = false)
    {
        Entry& x = open[e];
        const u32 nameLength = u32(strlen(name));
        const u64 valueLength = escaped ? xmlEscapedLength(value, n, true) : n;
        if (x.attributesLength + nameLength + valueLength + 4 > sizeof(x.attributes)) {
            ok = false;
            return;
        }
        char* at = x.attributes + x.attributesLength;
        *at++ = ' ';
        memcpy(at, name, nameLength);
        at += nameLength;
        *at++ = '=';
        *at++ = '"';
        if (escaped) {
            at = writeXmlEscaped(at, value, n, true);
        } else {
            memcpy(at, value, n);
            at += n;
        }
        *at++ = '"';
        x.attributesLength = u32(at - x.attributes);
    }
    void emitEscaped(const char* p, u64 n)
    {
        if (!out) {
            length += xmlEscapedLength(p, n, false);
            return;
        }
        // The text was sized by the count, so this escapes in place.
        const u64 before = out->length;
        ok = ok && appendXmlEscaped(*out, p, n, false);
        length += out->length - before;
    }
    void startTag(Element e, const char* end, u32 n)
    {
        indent(e);
        emit("<", 1);
        emit(open[e].name, strlen(open[e].name));
        emit(open[e].attributes, open[e].attributesLength);
        emit(end, n);
    }
    void endTag(Element e)
    {
        indent(e);
        emit("</", 2);
        emit(open[e].name, strlen(open[e].name));
        emit(">\n", 2);
    }
    void close(Element e)
    {
        const Entry& x = open[e];
        if (x.started) {
            endTag(e);
        } else if (!x.hasLine) {
            startTag(e, "/>\n", 3);
        } else {
            startTag(e, ">\n", 2);
            indent(e + 1);
            emit("\"", 1);
            emitEscaped(reinterpret_cast<const char*>(x.line.data), x.line.length);
            emit("\"\n", 2);
            endTag(e);
        }
    }
    void closeBelow(Element e)
    {
        for (; top > e; top--)
            close(top);
    }
};

// Why tableText made no text.
enum class TextStatus : u8
{
    MADE,
    TOO_DEEP,      // the branches nest too deeply
    NOT_WRITTEN,   // a record holds text the writer cannot write as it stands
    OVER_BUDGET,   // the text does not fit the archive's budget
    OUT_OF_MEMORY,
};

// The table's XML text, as writeXml writes its document (with one byte of room for a line
// end), made in a buffer of its size; empty unless `status` is MADE. With `reserve`, the text's
// size is first reserved in the archive's budget; the caller releases `reserved`.
String tableText(const ByteArray& bytes, TextStatus& status, bool reserve, u64& reserved)
{
    reserved = 0;
    // The writer is too large for a thread's stack.
    TableWriter* count = memNew<TableWriter>(nullptr);
    const bool decoded = count && decodeTable(bytes, *count);
    const bool writable = decoded && count->writable;
    if (writable)
        count->finish();
    const u64 length = writable && count->ok ? count->length : 0;
    status = !count ? TextStatus::OUT_OF_MEMORY : !decoded ? TextStatus::TOO_DEEP : TextStatus::NOT_WRITTEN;
    memDelete(count);
    if (!length)
        return String();
    if (reserve) {
        // The text and the one record read back at a time.
        const u64 need = length + 1 + TEXT_RESERVE_SLACK;
        if (!reserveTransient(need)) {
            status = TextStatus::OVER_BUDGET;
            return String();
        }
        reserved = need;
    }
    String text(length + 1);
    TableWriter* write = text.data ? memNew<TableWriter>(&text) : nullptr;
    if (write && decodeTable(bytes, *write))
        write->finish();
    status = !write ? TextStatus::OUT_OF_MEMORY : write->ok && text.length == length ? TextStatus::MADE
                                                                                     : TextStatus::NOT_WRITTEN;
    if (status != TextStatus::MADE)
        text.free();
    memDelete(write);
    return text;
}

// Encodes each record read back and compares it with the table's bytes as it goes.
struct RecordCheck
{
    const ByteArray& bytes;
    ByteBuffer record;
    u64 at = 0;
    bool firstOption = true;
    bool same = true;

    explicit RecordCheck(const ByteArray& table) : bytes(table), record(0x1000) {}
};

bool checkRecord(void* context, XmlElement* record)
{
    RecordCheck& check = *static_cast<RecordCheck*>(context);
    check.record.length = 0;
    encodeRecord(*record, check.record, 0, check.firstOption);
    memDelete(record);
    const u64 n = check.record.length;
    check.same = check.record.ok() && n <= check.bytes.count - check.at &&
                 sameBytes(check.record.data(), n, check.bytes.data + check.at, n);
    check.at += n;
    return check.same;
}

// The text as the extracted file holds it, read again and encoded: conversion is used only when
// that gives back exactly the bytes it came from. Neither the document nor the one read back is
// held whole: their records go one at a time.
bool rebuildsExactly(const String& text, const ByteArray& bytes)
{
    if (text.length > 0xFFFFFFFFu)
        return false;
    RecordCheck check(bytes);
    const XmlChildSink sink{checkRecord, &check};
    PtrArray<XmlElement>* parsed = parseXmlInPlace(text, &sink);
    const bool same = parsed && parsed->count == 1 && (*parsed)[0]->name.equals("PFC") && check.same &&
                      check.at == bytes.count;
    memDelete(parsed);
    return same;
}

const Field* fieldsOf(const String& name, u32& count)
{
    if (name.equals("Dialogue")) {
        count = sizeof(DIALOGUE_FIELDS) / sizeof(Field);
        return DIALOGUE_FIELDS;
    }
    if (name.equals("Cutaway")) {
        count = sizeof(CUTAWAY_FIELDS) / sizeof(Field);
        return CUTAWAY_FIELDS;
    }
    if (name.equals("Branch")) {
        count = sizeof(BRANCH_FIELDS) / sizeof(Field);
        return BRANCH_FIELDS;
    }
    count = 0;
    return nullptr;
}

// Empty, or decimal digits up to `largest`; signs, blanks and anything else are refused.
bool validNumber(const String& value, u32 largest)
{
    u64 n = 0;
    return parsePlainDecimal(value.c_str(), value.length, largest, n);
}

bool validValue(const String& value, FieldKind kind)
{
    switch (kind) {
    case FIELD_TEXT:
        return value.length <= TEXT_FIELD;
    case FIELD_U16:
        return validNumber(value, 0xFFFF);
    case FIELD_U8:
        return validNumber(value, 0xFF);
    }
    return false;
}

bool checkAttributes(const XmlElement& e, const String& path)
{
    u32 count = 0;
    const Field* fields = fieldsOf(e.name, count);
    for (u32 i = 0; i < e.attributes.count; i++) {
        const XmlAttribute& a = *e.attributes[i];
        const Field* field = nullptr;
        for (u32 f = 0; f < count; f++) {
            if (a.name.equals(fields[f].name))
                field = &fields[f];
        }
        bool repeated = false;
        for (u32 j = 0; j < i; j++)
            repeated = repeated || e.attributes[j]->name.equals(a.name);
        if (!field || repeated) {
            printError("ERROR: Unexpected attribute '%s' in element '%s' of '%s'!\n", a.name.c_str(), e.name.c_str(),
                   path.c_str());
            return false;
        }
        if (!validValue(a.value, field->kind)) {
            printError("ERROR: Bad value '%s' for attribute '%s' of element '%s' in '%s'!\n", a.value.c_str(),
                   a.name.c_str(), e.name.c_str(), path.c_str());
            return false;
        }
    }
    return true;
}

bool isRecord(const String& name)
{
    return name.equals("Dialogue") || name.equals("Cutaway") || name.equals("Branch");
}

// Every part of an edited document must reach the file: a misspelt element or attribute, or a
// value the field cannot hold, would otherwise vanish without a word.
bool checkElement(const XmlElement& e, const String& path, u32 depth)
{
    if (depth > PFC_MAX_DEPTH) {
        printError("ERROR: Records in '%s' nest more than %u levels deep!\n", path.c_str(), PFC_MAX_DEPTH);
        return false;
    }
    const bool holdsRecords = e.name.equals("PFC") || e.name.equals("Option");
    const bool holdsLine = e.name.equals("Dialogue") || e.name.equals("Cutaway");
    if (!holdsRecords && !checkAttributes(e, path))
        return false;
    if (holdsLine) {
        String line(e.value);
        line.unquote();
        if (line.length > PFC_MAX_LINE) {
            printError("ERROR: A line of %llu bytes in element '%s' of '%s' is longer than %u bytes!\n",
                   (unsigned long long)line.length, e.name.c_str(), path.c_str(), PFC_MAX_LINE);
            return false;
        }
    } else if (!e.value.isEmpty()) {
        printError("ERROR: Unexpected text in element '%s' of '%s'!\n", e.name.c_str(), path.c_str());
        return false;
    }
    if (e.name.equals("Option") && e.attributes.count) {
        printError("ERROR: Unexpected attribute '%s' in element '%s' of '%s'!\n", e.attributes[0]->name.c_str(),
               e.name.c_str(), path.c_str());
        return false;
    }
    for (const XmlElement* child : e.children) {
        const bool fits = holdsLine ? false : holdsRecords ? isRecord(child->name) : child->name.equals("Option");
        if (!fits) {
            printError("ERROR: Unexpected element '%s' in element '%s' of '%s'!\n", child->name.c_str(), e.name.c_str(),
                   path.c_str());
            return false;
        }
        if (!checkElement(*child, path, depth + 1))
            return false;
    }
    return true;
}

}

PtrArray<XmlElement>* pfcToXml(const ByteArray& bytes)
{
    PtrArray<XmlElement>* document = memNew<PtrArray<XmlElement>>(true);
    XmlElement* root = document ? addXmlElement(*document, String("PFC")) : nullptr;
    DocumentBuilder builder(root);
    if (!root || !decodeTable(bytes, builder)) {
        memDelete(document);
        return nullptr;
    }
    return document;
}

void xmlToPfc(const XmlElement& parent, ByteBuffer& out)
{
    encodeChildren(parent, out, 0);
}

const XmlElement* findPfcRoot(const PtrArray<XmlElement>& document)
{
    for (const XmlElement* e : document) {
        if (e->name.equals("PFC"))
            return e;
    }
    return nullptr;
}

namespace
{
// The game reads any tag 8 as the way back to the top level, so what follows a nested branch in
// its option or branch would be read elsewhere: written bytes must read back as the same records.
// Read back a record at a time, as open checks a table.
bool readsBackAsWritten(const ByteArray& written, const String& path)
{
    TextStatus status = TextStatus::MADE;
    u64 reserved = 0;
    const String text = tableText(written, status, false, reserved);
    if (status == TextStatus::TOO_DEEP) {
        printError("ERROR: Branches in '%s' nest more than %u levels deep!\n", path.c_str(), PFC_MAX_DEPTH);
        return false;
    }
    if (status == TextStatus::MADE && rebuildsExactly(text, written))
        return true;
    if (!memAllocationFailed())
        printError("ERROR: Records follow a nested Branch in '%s'; the game would read them at the top level!\n",
                   path.c_str());
    return false;
}
}

bool checkPfcDocument(const XmlElement& root, const String& path)
{
    if (!checkElement(root, path, 0))
        return false;
    ByteArray* written = encodeRoot(root, 0);
    const bool same = written && readsBackAsWritten(*written, path);
    deleteByteArray(written);
    return same;
}

ContainerPFC::ContainerPFC(const String& name, const ByteArray& bytes, bool exact)
    : Container(name, name + ".xml", CONTAINER_PFC), converts(exact)
{
    // A view: whoever opened the table keeps its bytes (the archive holding it).
    raw = newByteView(bytes.data, bytes.count);
}

ContainerPFC::~ContainerPFC()
{
    deleteByteArray(raw);
    dropDocument();
}

void ContainerPFC::dropDocument()
{
    deleteByteArray(built);
    built = nullptr;
}

bool ContainerPFC::probe(const String& name, const ByteArray&)
{
    return name.endsWithNoCase(".PFC");
}

Container* ContainerPFC::open(const String& name, const ByteArray& bytes)
{
    TextStatus status = TextStatus::MADE;
    u64 reserved = 0;
    String text = tableText(bytes, status, !toolOptions().noConvert, reserved);
    const char* reason = nullptr;
    if (status == TextStatus::TOO_DEEP)
        reason = "its branches nest too deeply";
    else if (status == TextStatus::OVER_BUDGET)
        reason = "converting it would pass the archive's budget";
    else if (status == TextStatus::OUT_OF_MEMORY)
        reason = "memory ran out converting it";
    else if (status != TextStatus::MADE || !rebuildsExactly(text, bytes))
        reason = "its XML would not rebuild it exactly";
    releaseTransient(reserved);
    const bool shortOfRoom = status == TextStatus::OVER_BUDGET || status == TextStatus::OUT_OF_MEMORY;
    if (reason && toolOptions().verbosity >= (shortOfRoom ? 1 : 2))
        printf(" -> '%s' stays raw: %s.\n", name.c_str(), reason);
    ContainerPFC* pfc = memNew<ContainerPFC>(name, bytes, reason == nullptr);
    if (pfc && !pfc->raw) {
        deleteContainer(pfc);
        return nullptr;
    }
    if (pfc && !reason && keepsConvertedText(text.length, bytes.count))
        keepConvertedText(pfc->xmlFile, std::move(text));
    return pfc;
}

bool ContainerPFC::asXml() const
{
    return (built || converts) && !toolOptions().noConvert;
}

ByteArray* ContainerPFC::encode() const
{
    // The bytes the table holds go out as a view: the caller copies them where they belong.
    const ByteArray* current = built ? built : raw;
    return newByteView(current->data, current->count);
}

ByteArray* ContainerPFC::serialise(ProgressFunction progress, u32 depth)
{
    ByteArray* out = encode();
    if (!out)
        printError("ERROR: Couldn't encode '%s'!\n", path.c_str());
    if (progress)
        progress(depth);
    return out;
}

void ContainerPFC::list(u32 indent)
{
    printIndent(indent);
    printf("PFC Dialogue Table\n");
}

// Nested in an archive: the entry's own path on disk, with ".xml" when written as XML.
String ContainerPFC::extractedName(const String& entryPath) const
{
    return asXml() ? entryPath + ".xml" : entryPath;
}

u32 ContainerPFC::extract(const String& where, u32 indent)
{
    const ToolOptions& opt = toolOptions();
    const bool xml = asXml();
    String file;
    if (where.isEmpty() || where.endsWith("/")) {
        // The directory of the command line: the file goes inside it under the table's name.
        if (!where.isEmpty() && !makeExtractionDirectory(where))
            return 0;
        file = joinPath(where, getFileName(xml ? secondPath : path));
    } else {
        file = extractedName(where);
    }
    if (opt.verbosity >= 2) {
        printMarker('>', indent);
        printf(" %s\n", file.c_str());
    }
    if (!xml)
        return writeExtractedFile(file, raw->data, raw->count) ? 1 : 0;
    if (!built && !xmlFile.isEmpty())
        return writeExtractedFile(file, reinterpret_cast<const u8*>(xmlFile.c_str()), xmlFile.length) ? 1 : 0;
    TextStatus status = TextStatus::MADE;
    u64 reserved = 0;
    String text = tableText(built ? *built : *raw, status, false, reserved);
    const bool written = status == TextStatus::MADE;
    text += "\n";
    if (!written) {
        reportUnmadeFile(file);
        return 0;
    }
    return writeExtractedFile(file, reinterpret_cast<const u8*>(text.c_str()), text.length) ? 1 : 0;
}

bool ContainerPFC::repack(const String& filePath, const String&, u32 indent)
{
    const ToolOptions& opt = toolOptions();
    if (opt.verbosity >= 1) {
        printMarker('<', indent);
        printf(" %s\n", filePath.c_str());
    }
    String file = filePath;
    ByteArray* bytes = nullptr;
    if (filePath.isEmpty() || filePath.endsWith("/")) {
        // A lone table repacked from the directory it was extracted into: the file extract
        // wrote there, else the other form.
        const String xmlFile = joinPath(filePath, getFileName(secondPath));
        const String rawFile = joinPath(filePath, getFileName(path));
        const bool xmlFirst = asXml();
        file = xmlFirst ? xmlFile : rawFile;
        bool missing = false;
        bytes = readRepackFile(file, "", &missing);
        if (!bytes && missing && !opt.noConvert) {
            const String& other = xmlFirst ? rawFile : xmlFile;
            bytes = readRepackFile(other, "", &missing);
            if (bytes)
                file = other;
        }
        if (!bytes && missing)
            printError("ERROR: Couldn't read '%s'!\n", file.c_str());
    } else {
        bytes = readRepackFile(file);
    }
    if (!bytes)
        return false;
    bool ok = true;
    // The file as extracted leaves the table the one it was opened from.
    const bool asExtracted = converts && !built && !xmlFile.isEmpty() &&
                             sameBytes(bytes->data, bytes->count, reinterpret_cast<const u8*>(xmlFile.data),
                                       xmlFile.length);
    if (!file.endsWithNoCase(".xml")) {
        dropDocument();
        deleteByteArray(raw);
        raw = bytes;
        bytes = nullptr;
        converts = false;
        xmlFile.free();
    } else if (!asExtracted) {
        ok = repackXml(*bytes, file);
    }
    deleteByteArray(bytes);
    return ok;
}

// A failed edit leaves the table as it was. The document is read a record at a time: each is
// checked and written as it comes, and none is held after that.
bool ContainerPFC::repackXml(const ByteArray& bytes, const String& file)
{
    if (!xmlEncodingReadable(bytes, file))
        return false;
    const char* text = reinterpret_cast<const char*>(bytes.data);
    const u64 length = bytes.data ? bytes.count : 0;
    // A document that does not read is refused for that alone, before anything of it is said.
    XmlReader check(text, length);
    for (XmlReader::Event e = check.next(); e != XmlReader::FINISHED; e = check.next()) {
        if (e == XmlReader::FAILED) {
            if (!memAllocationFailed())
                printError("ERROR: Couldn't parse '%s'!\n", file.c_str());
            return false;
        }
    }
    XmlReader in(text, length);
    XmlReader::Event e;
    while ((e = in.next()) == XmlReader::START && !(in.depth() == 1 && in.name().equals("PFC")))
        in.skipElement();
    if (e != XmlReader::START) {
        printError("ERROR: Invalid XML root type for '%s'!\n", file.c_str());
        return false;
    }
    const String* version = in.attribute("Version");
    if (!version) {
        printError("ERROR: No version for '%s'!\n", file.c_str());
        return false;
    }
    if (!isVersionOne(*version)) {
        printError("ERROR: Unrecognised version %s for '%s'!\n", version->c_str(), file.c_str());
        return false;
    }
    const u32 sizeHint = raw->count > 0x3FFFFFFFu ? 0x7FFFFFFFu : raw->count * 2;
    ByteBuffer out(sizeHint, sizeHint);
    bool firstOption = true;
    bool ok = true;
    while (ok) {
        e = in.next();
        if (e == XmlReader::END && in.depth() == 1)
            break;
        if (e == XmlReader::TEXT) {
            printError("ERROR: Unexpected text in element 'PFC' of '%s'!\n", file.c_str());
            ok = false;
        } else if (e == XmlReader::START) {
            XmlElement* record = in.readElement();
            ok = record != nullptr;
            if (record && !isRecord(record->name)) {
                printError("ERROR: Unexpected element '%s' in element 'PFC' of '%s'!\n", record->name.c_str(),
                           file.c_str());
                ok = false;
            }
            ok = ok && checkElement(*record, file, 1);
            if (ok)
                encodeRecord(*record, out, 0, firstOption);
            memDelete(record);
        } else {
            ok = false;
        }
        if (ok && quitSignalsReceived())
            ok = false;
    }
    ByteArray* written = ok && out.ok() ? out.release() : nullptr;
    if (!written || !readsBackAsWritten(*written, file)) {
        deleteByteArray(written);
        return false;
    }
    dropDocument();
    built = written;
    return true;
}

void ContainerPFC::hashContents(Md5& context, u32 indent)
{
    ByteArray* bytes = encode();
    if (bytes && bytes->count)
        context.update(bytes->data, bytes->count);
    deleteByteArray(bytes);
    if (toolOptions().verbosity >= 2) {
        printIndent(indent);
        printf("PFC -> %llu\n", (unsigned long long)peekDigest(context));
    }
}
